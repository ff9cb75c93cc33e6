// The option sheet "画像形式の設定": the page of the chosen format, the ten values with the pages'
// defaults, the write-back on OK only, the quality's refusal, help.
#include "TestSupport.h"

#include "convert/ColorBtn.h"
#include "convert/Convert.h"
#include "convert/OptionPages.h"
#include "convert/TypeChangeDlg.h"
#include "platform/HelpRequest.h"
#include "platform/Settings.h"
#include "res/resource.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

namespace {

class OptionSheet : public ::testing::Test {
protected:
    void SetUp() override {
        m_old = SetMessageBoxResponder([this](const MsgBoxRequest& r) {
            m_boxes.push_back(r.text);
            return IDOK;
        });
    }
    void TearDown() override {
        CPropertySheet::s_answer = nullptr;
        SetMessageBoxResponder(std::move(m_old));
    }
    // Opens the sheet for the format and lets act answer it.
    bool Open(int format, std::function<int(CPropertySheet&)> act) {
        CPropertySheet::s_answer = std::move(act);
        return RunFormatOptionSheet(nullptr, format);
    }
    static QString Stored(const char* section, const char* value) {
        return Profile::GetString(section, value, "<none>");
    }

    TempSettings m_settings;
    QStringList m_boxes;
    MsgBoxResponder m_old;
};

template <class Page> Page* PageOf(CPropertySheet& sheet) {
    return dynamic_cast<Page*>(sheet.Page());
}

} // namespace

TEST_F(OptionSheet, OnePageOfTheFormatWithThePagesDefaults) {
    struct Case {
        int format;
        const char* title;
    } cases[] = {{Convert::Gif, "GIF形式"},
                 {Convert::Jpeg, "JPEG形式"},
                 {Convert::Tiff, "TIFF形式"},
                 {Convert::Png, "PNG形式"}};
    for (const Case& c : cases) {
        Open(c.format, [&](CPropertySheet& sheet) {
            EXPECT_EQ(sheet.windowTitle(), "画像形式の設定");
            auto* tabs = sheet.findChild<QTabWidget*>();
            EXPECT_EQ(tabs->count(), 1);
            EXPECT_EQ(tabs->tabText(0), c.title);
            if (auto* gif = PageOf<CGifSetPage>(sheet)) {
                // White on the page, although the converter hands black to the saver.
                EXPECT_EQ(gif->m_btnColor->m_color, 0xFFFFFFu);
                EXPECT_FALSE(gif->BackBox()->isChecked());
                EXPECT_FALSE(gif->InterBox()->isChecked());
            } else if (auto* png = PageOf<CPngSetPage>(sheet)) {
                EXPECT_EQ(png->m_btnColor->m_color, 0xFFFFFFu);
            } else if (auto* jpeg = PageOf<CJpegSetDlg>(sheet)) {
                EXPECT_EQ(jpeg->QualityEdit()->text(), "75");
                EXPECT_EQ(jpeg->SubSampList()->currentText(), "4:1:1");
                EXPECT_EQ(jpeg->SubSampList()->count(), 3);
                EXPECT_FALSE(jpeg->InterBox()->isChecked());
            } else if (auto* tiff = PageOf<CTiffSetPage>(sheet)) {
                EXPECT_EQ(tiff->TypeList()->currentText(), "非圧縮");
                EXPECT_EQ(tiff->TypeList()->itemText(6), "LZW");
            } else {
                ADD_FAILURE() << "no page";
            }
            return QDialog::Rejected;
        });
    }
    EXPECT_EQ(Convert::Options().GifColour(), 0u);
    EXPECT_FALSE(m_settings.Exists()); // cancelling wrote nothing
}

TEST_F(OptionSheet, OkWritesAllTenAndCancelNothing) {
    // From the JPEG page: the GIF, TIFF and PNG values are written unchanged.
    EXPECT_TRUE(Open(Convert::Jpeg, [](CPropertySheet& sheet) {
        auto* jpeg = PageOf<CJpegSetDlg>(sheet);
        jpeg->InterBox()->setChecked(true);
        jpeg->SubSampList()->setCurrentIndex(2);
        jpeg->QualityEdit()->setText("90");
        sheet.accept();
        return sheet.result();
    }));
    EXPECT_EQ(Stored("Jpeg", "Inter"), "1");
    EXPECT_EQ(Stored("Jpeg", "SubSamp"), "2");
    EXPECT_EQ(Stored("Jpeg", "Quality"), "90");
    EXPECT_EQ(Stored("Gif", "Back"), "0");
    EXPECT_EQ(Stored("Gif", "Inter"), "0");
    EXPECT_EQ(Stored("Gif", "BackColor"), "16777215");
    EXPECT_EQ(Stored("Tiff", "Type"), "0");
    EXPECT_EQ(Stored("Png", "Back"), "0");
    EXPECT_EQ(Stored("Png", "Inter"), "0");
    EXPECT_EQ(Stored("Png", "BackColor"), "16777215");
    // Once confirmed, the converter hands white over too.
    EXPECT_EQ(Convert::Options().GifColour(), 0xFFFFFFu);

    // The PNG page's colour button and boxes are read back on OK.
    EXPECT_TRUE(Open(Convert::Png, [](CPropertySheet& sheet) {
        auto* png = PageOf<CPngSetPage>(sheet);
        png->m_btnColor->m_color = 0x00FF00;
        png->BackBox()->setChecked(true);
        sheet.accept();
        return sheet.result();
    }));
    EXPECT_EQ(Stored("Png", "BackColor"), QString::number(0x00FF00));
    EXPECT_EQ(Stored("Png", "Back"), "1");
    EXPECT_EQ(Stored("Png", "Inter"), "0");
    EXPECT_EQ(Stored("Jpeg", "Quality"), "90");

    // Changes followed by Cancel leave the stored text exactly as it was.
    const QByteArray before = m_settings.ReadRaw();
    EXPECT_FALSE(Open(Convert::Gif, [](CPropertySheet& sheet) {
        auto* gif = PageOf<CGifSetPage>(sheet);
        gif->InterBox()->setChecked(true);
        gif->m_btnColor->m_color = 0x123456;
        return QDialog::Rejected;
    }));
    EXPECT_EQ(m_settings.ReadRaw(), before);
}

TEST_F(OptionSheet, StoredValuesAreShownAndQualityIsRefusedOnlyWhenNotANumber) {
    Settings::Write(Settings::JpegQuality, 33);
    Settings::Write(Settings::JpegSubSamp, -1);
    Settings::Write(Settings::GifBackColorSheet, 0x0000FF);
    Settings::Write(Settings::GifInter, 1);
    Open(Convert::Gif, [](CPropertySheet& sheet) {
        auto* gif = PageOf<CGifSetPage>(sheet);
        EXPECT_EQ(gif->m_btnColor->m_color, 0x0000FFu);
        EXPECT_TRUE(gif->InterBox()->isChecked());
        return QDialog::Rejected;
    });
    EXPECT_TRUE(Open(Convert::Jpeg, [this](CPropertySheet& sheet) {
        auto* jpeg = PageOf<CJpegSetDlg>(sheet);
        EXPECT_EQ(jpeg->QualityEdit()->text(), "33");
        EXPECT_EQ(jpeg->SubSampList()->currentIndex(), -1); // no selection
        for (const char* bad : {"abc", "-5", "", "12.5", "99999999999"}) {
            jpeg->QualityEdit()->setText(bad);
            sheet.accept();
            EXPECT_EQ(sheet.result(), QDialog::Rejected) << bad;
        }
        EXPECT_EQ(m_boxes.size(), 5);
        EXPECT_EQ(m_boxes.value(0), "正の整数を入力してください。");
        // No range check: 150 is kept.
        jpeg->QualityEdit()->setText(" 150 ");
        sheet.accept();
        return sheet.result();
    }));
    EXPECT_EQ(Stored("Jpeg", "Quality"), "150");
    EXPECT_EQ(Stored("Jpeg", "SubSamp"), "-1"); // a list without a selection stores -1
    EXPECT_EQ(Stored("Gif", "BackColor"), QString::number(0x0000FF));
}

TEST_F(OptionSheet, HelpAsksForContextSixteen) {
    std::vector<std::pair<unsigned long, unsigned>> asked;
    auto old =
        HelpRequest::SetHandler([&](unsigned long d, unsigned c) { asked.emplace_back(d, c); });
    Open(Convert::Tiff, [](CPropertySheet& sheet) {
        sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Help)->click();
        QTest::keyClick(&sheet, Qt::Key_F1);
        return QDialog::Rejected;
    });
    HelpRequest::SetHandler(std::move(old));
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0], std::make_pair(16ul, unsigned(HELP_CONTEXT)));
    EXPECT_EQ(asked[1], std::make_pair(16ul, unsigned(HELP_CONTEXT)));
}

TEST_F(OptionSheet, TheConversionDialogsDetailButtonOpensTheFormatsPage) {
    CTypeChangeDlg dlg;
    QString shown;
    CPropertySheet::s_answer = [&](CPropertySheet& sheet) {
        shown = sheet.Page() ? sheet.Page()->Title() : QString();
        sheet.accept();
        return sheet.result();
    };
    CTypeChangeDlg::s_answer = [&](CTypeChangeDlg& d) {
        // PNG chosen; the folder typed but not yet taken into the member.
        d.show();
        d.FormatList()->setFocus();
        QTest::keyClick(d.FormatList(), Qt::Key_End);
        d.FolderEdit()->setText("/typed");
        d.m_btnDetail->click();
        // The dialog's values are put back into its controls afterwards.
        EXPECT_EQ(d.FolderEdit()->text(), "/typed");
        return QDialog::Rejected;
    };
    dlg.exec();
    CTypeChangeDlg::s_answer = nullptr;
    EXPECT_EQ(shown, "PNG形式");
    EXPECT_EQ(Stored("Png", "BackColor"), "16777215");
}
