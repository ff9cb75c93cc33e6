// The conversion command of the grid (32802) on real folders: the dialog's rules, the output
// folder's checks, the same-file caution, the messages, the refresh with the anchor, and cancel.
#include "ConvertSupport.h"
#include "TestSupport.h"

#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "convert/Alert1Dlg.h"
#include "convert/Convert.h"
#include "convert/ConvertBatch.h"
#include "convert/StatusDlg.h"
#include "convert/TypeChangeDlg.h"
#include "platform/FileNames.h"
#include "platform/Settings.h"
#include "res/resource.h"
#include "thumbs/ThumbnailView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <dirent.h>

using namespace convtest;

namespace {

class Batch : public AppTest {
protected:
    void Prepare() override {
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(m_tmp.path());
        m_settings.WriteRaw("[System]\nInitMode=0\n");
        PrepareFolder();
    }
    void TearDown() override {
        CTypeChangeDlg::s_answer = nullptr;
        CTypeChangeDlg::s_browse = nullptr;
        CAlert1Dlg::s_answer = nullptr;
        ConvertBatch::s_onFile = nullptr;
        AppTest::TearDown();
        QDir::setCurrent(m_oldDir);
    }
    virtual void PrepareFolder() {
        WriteGradient(P("a.png"), 40, 30);
        WriteGradient(P("b.bmp"), 50, 20);
        WriteGradient(P("c.jpg"), 30, 30);
    }
    QString P(const QString& name) const { return QDir(m_tmp.path()).filePath(name); }
    CThumbnailView* View() const { return Frame()->ThumbnailView(); }
    void SelectAll() {
        for (int i = 0; i < int(View()->Tiles().size()); ++i)
            View()->SelectAt(i, true, false);
    }
    void Select(const QString& name) {
        View()->SelectAt(View()->FindTileByName(name), true, false);
    }
    // Answers the conversion dialog with these values and OK.
    void Answer(int format, const QString& folder, int color = -1, bool resize = false, int w = 0,
                int h = 0) {
        CTypeChangeDlg::s_answer = [=, this](CTypeChangeDlg& d) {
            ++m_dialogs;
            m_initialFolder = d.m_strFolder;
            d.m_nFormat = format;
            d.m_strFolder = folder;
            d.m_nColor = color;
            d.m_bResize = resize ? 1 : 0;
            d.m_nWidth = w;
            d.m_nHeight = h;
            return QDialog::Accepted;
        };
    }
    bool Convert() { return View()->SendCommand(ID_TOOL_CONVERT); }
    QStringList Texts() const {
        QStringList out;
        for (const auto& b : m_boxes)
            out << b.text;
        return out;
    }

    QTemporaryDir m_tmp;
    QString m_oldDir;
    int m_dialogs = 0;
    QString m_initialFolder;
};

} // namespace

TEST_F(Batch, DialogStartsAtTheFolderShownAndEnablesTheDetailButtonByFormat) {
    CTypeChangeDlg::s_answer = [this](CTypeChangeDlg& d) {
        ++m_dialogs;
        EXPECT_EQ(d.windowTitle(), "変換");
        EXPECT_EQ(d.FolderEdit()->text(), m_tmp.path());
        EXPECT_EQ(d.FormatList()->currentText(), "BMP");
        EXPECT_EQ(d.FormatList()->itemText(1), "GIFF");
        EXPECT_EQ(d.ColorList()->currentIndex(), -1); // nothing chosen
        EXPECT_EQ(d.ColorList()->count(), 7);
        EXPECT_FALSE(d.ResizeBox()->isChecked());
        EXPECT_EQ(d.WidthEdit()->text(), "0");
        EXPECT_EQ(d.HeightEdit()->text(), "0");
        EXPECT_FALSE(d.m_btnDetail->isEnabled());
        // Choosing each format in turn with the keyboard, as a person would.
        d.show();
        d.FormatList()->setFocus();
        const bool enabled[] = {false, true, true, true, false, true};
        for (int f = 1; f < 6; ++f) {
            QTest::keyClick(d.FormatList(), Qt::Key_Down);
            EXPECT_EQ(d.m_nFormat, f);
            EXPECT_EQ(d.m_btnDetail->isEnabled(), enabled[f]) << f;
        }
        QTest::keyClick(d.FormatList(), Qt::Key_Home);
        EXPECT_FALSE(d.m_btnDetail->isEnabled());
        return QDialog::Rejected;
    };
    Select("a.png");
    EXPECT_TRUE(Convert());
    EXPECT_EQ(m_dialogs, 1);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(Batch, WidthAndHeightMustBeIntegersAndBrowseFillsTheFolder) {
    CTypeChangeDlg::s_browse = [](QString& f) {
        f = "/chosen/写真";
        return true;
    };
    CTypeChangeDlg::s_answer = [this](CTypeChangeDlg& d) {
        d.HeightEdit()->setText("12x");
        d.accept();
        EXPECT_EQ(d.result(), QDialog::Rejected);
        EXPECT_EQ(Texts(), QStringList{"整数を入力してください。"});
        d.HeightEdit()->setText(" -7 ");
        d.WidthEdit()->setText("");
        d.accept();
        EXPECT_EQ(d.result(), QDialog::Rejected);
        EXPECT_EQ(m_boxes.size(), 2u);
        EXPECT_EQ(d.m_nHeight, -7);
        d.WidthEdit()->setText("300");
        d.BrowseButton()->click();
        EXPECT_EQ(d.FolderEdit()->text(), "/chosen/写真");
        CTypeChangeDlg::s_browse = [](QString&) { return false; };
        d.BrowseButton()->click();
        EXPECT_EQ(d.FolderEdit()->text(), "/chosen/写真");
        d.accept();
        EXPECT_EQ(d.result(), QDialog::Accepted);
        EXPECT_EQ(d.m_nWidth, 300);
        return QDialog::Rejected; // nothing is converted
    };
    Select("a.png");
    Convert();
    EXPECT_EQ(m_boxes.size(), 2u);
}

TEST_F(Batch, MissingFolderIsAskedForAndCreatedWithEveryLevel) {
    Select("a.png");
    // Refused: nothing created, nothing converted.
    Answer(Convert::Png, P("新しい フォルダ/"));
    m_boxAnswer = IDCANCEL;
    Convert();
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, "出力先フォルダがありません。新規に作成しますか？");
    EXPECT_EQ(m_boxes[0].type, unsigned(MB_OKCANCEL | MB_ICONQUESTION));
    EXPECT_FALSE(QFileInfo::exists(P("新しい フォルダ")));
    // Accepted: created, and the file converted into it.
    m_boxAnswer = IDOK;
    Convert();
    EXPECT_TRUE(QFileInfo(P("新しい フォルダ/a.png")).isFile());
    // Two missing levels are made in one go, after the one question.
    m_boxes.clear();
    Answer(Convert::Png, P("変換出力/PNG"));
    Convert();
    EXPECT_EQ(Texts(), QStringList{"出力先フォルダがありません。新規に作成しますか？"});
    EXPECT_TRUE(QFileInfo(P("変換出力/PNG/a.png")).isFile());
    // A path through a file cannot be made.
    m_boxes.clear();
    Answer(Convert::Png, P("a.png/x"));
    Convert();
    EXPECT_EQ(
        Texts(),
        (QStringList{"出力先フォルダがありません。新規に作成しますか？",
                     "フォルダを作成できませんでした。フォルダ名が正しいか確認してください"}));
}

TEST_F(Batch, OneOutputPerNameInABatchAndReadOnlyOutputsAreKept) {
    // a.jpg and a.png both make a.bmp: the first in display order writes it, the second fails.
    WriteGradient(P("a.jpg"), 23, 17);
    QDir().mkdir(P("o"));
    // An output that is read-only stays as it is (also for root, who could write it).
    WriteAll(P("o/b.bmp"), "keep me");
    ASSERT_TRUE(QFile::setPermissions(P("o/b.bmp"), QFile::ReadOwner | QFile::ReadGroup));
    View()->FillList();
    SelectAll();
    Answer(Convert::Bmp, P("o"));
    Convert();
    EXPECT_EQ(Texts(), (QStringList{"変換できません - " + P("a.png") + "\n出力ファイル " +
                                        P("o/a.bmp") + " はこの変換で既に書き込まれています",
                                    "変換できません - " + P("b.bmp") + "\n出力ファイル " +
                                        P("o/b.bmp") + " は読み取り専用のため置き換えません"}));
    EXPECT_EQ(QImage(P("o/a.bmp")).size(), QSize(23, 17));
    EXPECT_EQ(ReadAll(P("o/b.bmp")), "keep me");
    EXPECT_EQ(QImage(P("o/c.bmp")).size(), QSize(30, 30));
    // A later batch may replace what an earlier one wrote.
    m_boxes.clear();
    View()->FillList();
    Select("a.png");
    Convert();
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(QImage(P("o/a.bmp")).size(), QSize(40, 30));
}

TEST_F(Batch, AFolderNamedInCodePage932KeepsItsBytes) {
    // "変換" in code page 932 bytes, which are not UTF-8.
    const QByteArray raw = QFile::encodeName(m_tmp.path()) + "/\x95\xcf\x8a\xb7";
    ASSERT_EQ(::mkdir(raw.constData(), 0755), 0);
    const QString folder = FileNames::FromNative(raw);
    const QString shown = m_tmp.path() + "/変換";
    ASSERT_EQ(FileNames::Display(folder), shown);
    WriteGradient(m_tmp.path() + "/src.png", 20, 10);
    ASSERT_TRUE(WriteNative(raw + "/a.png", ReadAll(m_tmp.path() + "/src.png")));
    const std::vector<ConvertBatch::Source> selection{{folder + "/a.png", "a.png"},
                                                      {folder + "/x.png", "x.png"}};
    QStringList fileTexts;
    ConvertBatch::s_onFile = [&](CStatusDlg& s, int) { fileTexts << s.m_strFile; };
    QString edit;
    CTypeChangeDlg::s_answer = [&](CTypeChangeDlg& d) {
        edit = d.FolderEdit()->text();
        d.m_nFormat = Convert::Bmp;
        return QDialog::Accepted;
    };
    // The folder shown, as offered: no question, the file written into it, the view refreshed.
    EXPECT_EQ(ConvertBatch::Run(View(), folder, selection), ConvertBatch::Outcome::Refresh);
    EXPECT_EQ(edit, shown);
    EXPECT_TRUE(ExistsNative(raw + "/a.bmp"));
    // Names are shown decoded, in the progress window and in the messages.
    EXPECT_EQ(fileTexts, (QStringList{shown + "/a.png", shown + "/x.png"}));
    EXPECT_EQ(Texts(), QStringList{"変換できません - " + shown + "/x.png"});
    // A new folder below it is made inside the real folder.
    m_boxes.clear();
    CTypeChangeDlg::s_answer = [&](CTypeChangeDlg& d) {
        d.m_nFormat = Convert::Png;
        d.m_strFolder = d.FolderEdit()->text() + "/出力";
        return QDialog::Accepted;
    };
    EXPECT_EQ(ConvertBatch::Run(View(), folder, {selection[0]}), ConvertBatch::Outcome::Done);
    EXPECT_EQ(Texts(), QStringList{"出力先フォルダがありません。新規に作成しますか？"});
    EXPECT_TRUE(ExistsNative(raw + "/出力/a.png"));
    // The folder browser of Qt gives the name with its invalid bytes as U+FFFD: it is still found.
    m_boxes.clear();
    CTypeChangeDlg::s_browse = [&](QString& chosen) {
        chosen = QFile::decodeName(raw);
        return true;
    };
    CTypeChangeDlg::s_answer = [&](CTypeChangeDlg& d) {
        d.OnBrowse();
        d.m_nFormat = Convert::Gif;
        return QDialog::Accepted;
    };
    EXPECT_EQ(ConvertBatch::Run(View(), folder, {selection[0]}), ConvertBatch::Outcome::Refresh);
    EXPECT_TRUE(m_boxes.empty()) << Texts().join('|').toStdString();
    EXPECT_TRUE(ExistsNative(raw + "/a.gif"));
    // No folder of a mangled name was made anywhere.
    QList<QByteArray> folders;
    DIR* dir = ::opendir(QFile::encodeName(m_tmp.path()).constData());
    ASSERT_NE(dir, nullptr);
    while (const dirent* e = ::readdir(dir))
        if (e->d_type == DT_DIR && e->d_name[0] != '.')
            folders << QByteArray(e->d_name);
    ::closedir(dir);
    EXPECT_EQ(folders, QList<QByteArray>{"\x95\xcf\x8a\xb7"});
}

TEST_F(Batch, NothingSelectedStillOpensTheDialogAndCreatesTheFolder) {
    int files = 0;
    ConvertBatch::s_onFile = [&](CStatusDlg&, int) { ++files; };
    Answer(Convert::Gif, P("made"));
    Convert();
    EXPECT_EQ(m_dialogs, 1);
    EXPECT_EQ(m_initialFolder, m_tmp.path());
    EXPECT_TRUE(QFileInfo(P("made")).isDir());
    EXPECT_EQ(QDir(P("made")).entryList(QDir::Files).size(), 0);
    EXPECT_EQ(files, 0);
}

TEST_F(Batch, ConvertsTheSelectionInDisplayOrderWithTheProgressWindow) {
    QDir().mkdir(P("out"));
    SelectAll();
    QStringList seen;
    ConvertBatch::s_onFile = [&](CStatusDlg& s, int i) {
        EXPECT_TRUE(s.isVisible());
        // Kept above the main window by the window manager, message boxes or not.
        ASSERT_NE(s.windowHandle(), nullptr);
        EXPECT_EQ(s.windowHandle()->transientParent(), Frame()->windowHandle());
        EXPECT_EQ(s.windowTitle(), "Pictoquill");
        EXPECT_EQ(s.m_strMessage, "変換中です...");
        EXPECT_EQ(s.m_progress->maximum(), 3);
        EXPECT_EQ(s.m_progress->value(), i);
        EXPECT_EQ(s.CancelButton()->text(), "中止");
        seen << s.m_strFile;
    };
    // GIF, resized to width 20 with the height from the ratio.
    Answer(Convert::Gif, P("out"), 0, true, 20, 0);
    Convert();
    EXPECT_EQ(seen, (QStringList{P("a.png"), P("b.bmp"), P("c.jpg")}));
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(Identify("%w %h", P("out/a.gif")), "20 15");
    EXPECT_EQ(Identify("%w %h", P("out/b.gif")), "20 8");
    EXPECT_EQ(Identify("%w %h", P("out/c.gif")), "20 20");
    // Resize off: the width and height typed are ignored.
    Answer(Convert::Png, P("out"), 3, false, 5, 5);
    Convert();
    EXPECT_EQ(Identify("%w %h", P("out/a.png")), "40 30");
}

TEST_F(Batch, SameFileCautionAndItsDoNotShowAgainBoxBothWays) {
    Select("c.jpg");
    Answer(Convert::Jpeg, m_tmp.path());
    const QByteArray original = ReadAll(P("c.jpg"));
    int alerts = 0;
    // Ticked and cancelled: the file is skipped and 0 is stored.
    CAlert1Dlg::s_answer = [&](CAlert1Dlg& a) {
        ++alerts;
        EXPECT_EQ(a.windowTitle(), "上書きされます");
        EXPECT_EQ(a.m_strMessage,
                  "ファイル変換で同一フォルダが指定されました。ファイル形式も同じなので以下の"
                  "ファイルは変換後に上書きされます。元のファイルは残りません");
        EXPECT_EQ(a.m_strDetail, P("c.jpg"));
        EXPECT_EQ(a.DontShowBox()->text(), "今後はこの警告を表示しない(&V)");
        a.DontShowBox()->setChecked(true);
        return QDialog::Rejected;
    };
    Convert();
    EXPECT_EQ(alerts, 1);
    EXPECT_EQ(ReadAll(P("c.jpg")), original);
    EXPECT_EQ(Settings::Get(Settings::AlertTypeChange), 0);
    EXPECT_TRUE(m_settings.ReadRaw().contains("TypeChange=0"));
    // Unticked and OK: converted, 0 stored, asked again next time.
    CAlert1Dlg::s_answer = [&](CAlert1Dlg& a) {
        ++alerts;
        a.accept();
        return a.result();
    };
    Select("c.jpg"); // the refresh listed the folder again
    Convert();
    EXPECT_EQ(alerts, 2);
    EXPECT_NE(ReadAll(P("c.jpg")), original);
    EXPECT_EQ(Settings::Get(Settings::AlertTypeChange), 0);
    // Ticked and OK: converted and stored, so that later same-file conversions do not ask.
    CAlert1Dlg::s_answer = [&](CAlert1Dlg& a) {
        ++alerts;
        a.DontShowBox()->setChecked(true);
        a.accept();
        return a.result();
    };
    Select("c.jpg");
    Convert();
    EXPECT_EQ(alerts, 3);
    EXPECT_EQ(Settings::Get(Settings::AlertTypeChange), 1);
    const QByteArray third = ReadAll(P("c.jpg"));
    Settings::Write(Settings::JpegQuality, 20);
    Select("c.jpg");
    Convert();
    EXPECT_EQ(alerts, 3);
    EXPECT_NE(ReadAll(P("c.jpg")), third);
}

TEST_F(Batch, CaseSensitiveComparisonAndJpegNamedJpg) {
    WriteGradient(P("photo.JPG"), 20, 20);
    WriteGradient(P("shot.jpeg"), 20, 20);
    View()->FillList();
    Select("photo.JPG");
    Select("shot.jpeg");
    int alerts = 0;
    CAlert1Dlg::s_answer = [&](CAlert1Dlg&) { return ++alerts, QDialog::Rejected; };
    Answer(Convert::Jpeg, m_tmp.path());
    Convert();
    EXPECT_EQ(alerts, 0);
    EXPECT_TRUE(QFileInfo(P("photo.jpg")).isFile());
    EXPECT_TRUE(QFileInfo(P("photo.JPG")).isFile());
    EXPECT_TRUE(QFileInfo(P("shot.jpg")).isFile());
    EXPECT_TRUE(QFileInfo(P("shot.jpeg")).isFile());
    // A relative folder that names the same place as the source is still the same file.
    View()->FillList();
    Select("shot.jpg");
    Answer(Convert::Jpeg, ".");
    Convert();
    EXPECT_EQ(alerts, 1);
}

TEST_F(Batch, RefreshOnlyWhenTheFolderAsTypedIsTheFolderShown) {
    Select("a.png");
    Answer(Convert::Tiff, m_tmp.path() + "/");
    Convert();
    EXPECT_TRUE(QFileInfo(P("a.tif")).isFile());
    EXPECT_EQ(TileNames(View()), (QStringList{"a.png", "b.bmp", "c.jpg"}));
    // As typed, without the separator: listed anew (a.png is still selected).
    Answer(Convert::Pcx, m_tmp.path());
    Convert();
    EXPECT_EQ(TileNames(View()), (QStringList{"a.pcx", "a.png", "a.tif", "b.bmp", "c.jpg"}));
    EXPECT_EQ(View()->GetFocusIndex(), 0);
}

TEST_F(Batch, FailuresAreReportedAndTheBatchGoesOn) {
    WriteAll(P("broken.png"), "PNG? no");
    View()->FillList();
    SelectAll();
    QDir().mkdir(P("o"));
    Answer(Convert::Bmp, P("o"));
    Convert();
    EXPECT_EQ(Texts(), QStringList{"変換できません - " + P("broken.png")});
    EXPECT_EQ(QDir(P("o")).entryList(QDir::Files), (QStringList{"a.bmp", "b.bmp", "c.bmp"}));
    // A size the library cannot make: first the bare path, then the failure.
    m_boxes.clear();
    View()->FillList();
    Select("a.png");
    Answer(Convert::Bmp, P("o"), -1, true, 0, 70000);
    Convert();
    EXPECT_EQ(Texts(), (QStringList{P("a.png"), "変換できません - " + P("a.png")}));
}

TEST_F(Batch, CancelFinishesTheFileInWorkAndLeavesTheViewAsItWas) {
    SelectAll();
    ConvertBatch::s_onFile = [](CStatusDlg& s, int i) {
        if (i == 1)
            QTest::mouseClick(s.CancelButton(), Qt::LeftButton);
    };
    Answer(Convert::Gif, m_tmp.path());
    Convert();
    // The file in work when "中止" was pressed is finished; the next one is not started.
    EXPECT_TRUE(QFileInfo(P("a.gif")).isFile());
    EXPECT_TRUE(QFileInfo(P("b.gif")).isFile());
    EXPECT_FALSE(QFileInfo(P("c.gif")).isFile());
    // A cancelled batch does not relist the folder; the folder's watch adds the two outputs.
    const QStringList live{"a.gif", "a.png", "b.bmp", "b.gif", "c.jpg"};
    EXPECT_TRUE(QTest::qWaitFor([&] { return TileNames(View()) == live; }, 10000))
        << TileNames(View()).join(' ').toStdString();
    // Closing the window ends the batch the same way.
    ConvertBatch::s_onFile = [](CStatusDlg& s, int i) {
        if (i == 0)
            QTest::keyClick(&s, Qt::Key_Escape);
    };
    Answer(Convert::Png, P("p"));
    Convert();
    EXPECT_EQ(QDir(P("p")).entryList(QDir::Files), QStringList{"a.png"});
    EXPECT_FALSE(ConvertBatch::IsRunning());
}

namespace {
class LargeFile : public Batch {
    void PrepareFolder() override {
        // Noise, so that saving takes a while.
        QImage img(2400, 1600, QImage::Format_RGB32);
        quint32 x = 12345;
        for (int y = 0; y < img.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int i = 0; i < img.width(); ++i) {
                x = x * 1664525u + 1013904223u;
                row[i] = 0xFF000000u | (x >> 8);
            }
        }
        ASSERT_TRUE(img.save(P("noise.bmp")));
        WriteFlat(P("second.bmp"), 8, 8, Qt::red);
    }
};
} // namespace

TEST_F(LargeFile, ProgressWindowAnswersWhileAFileIsConverted) {
    SelectAll();
    bool clickedDuring = false;
    ConvertBatch::s_onFile = [&](CStatusDlg& s, int i) {
        if (i != 0)
            return;
        // Handled by this thread's event loop while the worker converts the file.
        QTimer::singleShot(0, &s, [&] {
            QTest::mouseClick(s.CancelButton(), Qt::LeftButton);
            clickedDuring = s.m_bCancel && !QFileInfo::exists(P("out/noise.png"));
        });
    };
    Answer(Convert::Png, P("out"));
    Convert();
    EXPECT_TRUE(clickedDuring);
    // The file in work was finished; the batch stopped before the next one.
    EXPECT_TRUE(QFileInfo(P("out/noise.png")).isFile());
    EXPECT_FALSE(QFileInfo::exists(P("out/second.png")));
}

TEST_F(Batch, SecondCommandDuringABatchDoesNotStartAnother) {
    SelectAll();
    ConvertBatch::s_onFile = [this](CStatusDlg&, int i) {
        if (i == 0) {
            EXPECT_TRUE(ConvertBatch::IsRunning());
            Convert();
        }
    };
    Answer(Convert::Png, P("q"));
    Convert();
    EXPECT_EQ(m_dialogs, 1);
    EXPECT_EQ(QDir(P("q")).entryList(QDir::Files).size(), 3);
}

namespace {
class ManyFiles : public Batch {
    void PrepareFolder() override {
        for (int i = 0; i < 60; ++i)
            WriteFlat(P(QString("f%1.bmp").arg(i, 2, 10, QLatin1Char('0'))), 4, 4, Qt::blue);
    }
};
} // namespace

TEST_F(ManyFiles, RefreshScrollsBackToTheAnchor) {
    Frame()->resize(640, 400);
    Spin();
    ASSERT_GT(View()->verticalScrollBar()->maximum(), 0);
    // The anchor is the entry after the last selected one: f31.
    Select("f20.bmp");
    Select("f30.bmp");
    Answer(Convert::Png, m_tmp.path());
    Convert();
    const int anchor = View()->FindTileByName("f31.bmp");
    ASSERT_GE(anchor, 0);
    EXPECT_EQ(View()->Tiles().size(), 62u);
    EXPECT_EQ(View()->verticalScrollBar()->value(),
              std::min(View()->GetCellRect(anchor).top(), View()->verticalScrollBar()->maximum()));
    EXPECT_GT(View()->verticalScrollBar()->value(), 0);
    // The last entries selected: the nearest unselected entry before them (f57).
    View()->verticalScrollBar()->setValue(0);
    for (const char* n : {"f58.bmp", "f59.bmp"})
        View()->SelectAt(View()->FindTileByName(n), true, false);
    EXPECT_EQ(View()->RememberAnchor(), P("f57.bmp"));
    // Only the first entry selected: no anchor.
    View()->FillList();
    View()->SelectAt(0, false, false);
    EXPECT_EQ(View()->RememberAnchor(), QString());
}
