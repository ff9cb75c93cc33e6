// The rename and wallpaper commands on real files: the dot rule, exact comparison, no
// replacement, names that are not UTF-8; the question, the bitmap written into the data folder and
// the desktop's command.
#include "TestSupport.h"

#include "imaging/ImageLibrary.h"
#include "platform/FileNames.h"
#include "platform/Shell.h"
#include "platform/Wallpaper.h"
#include "thumbs/FileCommands.h"
#include "tree/Dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Rename : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_root = QFile::encodeName(m_dir.path());
        CRenameDlg::s_answer = [this](CRenameDlg& d) {
            m_seen = {d.m_strBefore, d.m_strName, d.m_strExt};
            if (!m_accept)
                return int(QDialog::Rejected);
            d.m_strName = m_name;
            d.m_strExt = m_ext;
            return int(QDialog::Accepted);
        };
        m_oldHook = Shell::SetChangeHook(
            [this](const QString& from, const QString& to) { m_changes << from << to; });
        m_oldBox = SetMessageBoxResponder([this](const MsgBoxRequest& r) {
            m_boxes << r.text;
            return IDOK;
        });
    }
    void TearDown() override {
        CRenameDlg::s_answer = nullptr;
        Shell::SetChangeHook(std::move(m_oldHook));
        SetMessageBoxResponder(std::move(m_oldBox));
        RemoveTreeNative(m_dir.path());
    }
    std::optional<QString> Run(const QByteArray& name, const QString& newName,
                               const QString& newExt, bool accept = true) {
        m_name = newName;
        m_ext = newExt;
        m_accept = accept;
        m_changes.clear();
        return RenameFileWithDialog(nullptr, FileNames::FromNative(m_root + '/' + name));
    }
    QByteArray P(const QByteArray& name) const { return m_root + '/' + name; }

    QTemporaryDir m_dir;
    QByteArray m_root;
    QStringList m_seen;
    QStringList m_changes;
    QStringList m_boxes; // the texts of the message boxes shown
    QString m_name, m_ext;
    bool m_accept = true;

private:
    Shell::ChangeHook m_oldHook;
    MsgBoxResponder m_oldBox;
};

} // namespace

TEST_F(Rename, TheDialogSplitsAtTheLastDotAndAnExtensionGetsItsDot) {
    ASSERT_TRUE(WriteNative(P("summer.2024.jpg"), "x"));
    const auto path = Run("summer.2024.jpg", "winter", "png");
    EXPECT_EQ(m_seen, (QStringList{"summer.2024.jpg", "summer.2024", ".jpg"}));
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(*path, FileNames::FromNative(P("winter.png")));
    EXPECT_EQ(ReadNative(P("winter.png")), "x");
    EXPECT_FALSE(ExistsNative(P("summer.2024.jpg")));
    // The thumbnail cache hears of it.
    EXPECT_EQ(m_changes, (QStringList{FileNames::FromNative(P("summer.2024.jpg")), *path}));
}

TEST_F(Rename, UnchangedCancelledTakenAndUnusableNamesDoNothingAndSayWhy) {
    ASSERT_TRUE(WriteNative(P("a.jpg"), "a"));
    ASSERT_TRUE(WriteNative(P("b.jpg"), "b"));
    EXPECT_FALSE(Run("a.jpg", "a", ".jpg").has_value());
    EXPECT_FALSE(Run("a.jpg", "x", ".jpg", false).has_value());
    EXPECT_TRUE(m_boxes.isEmpty()); // unchanged and cancelled: nothing to say
    // An existing file is never replaced.
    EXPECT_FALSE(Run("a.jpg", "b", ".jpg").has_value());
    EXPECT_EQ(ReadNative(P("b.jpg")), "b");
    ASSERT_EQ(m_boxes.size(), 1);
    EXPECT_EQ(m_boxes[0], "ファイル名を変更できません\n同じ名前の項目が既にあります");
    // Names that are no name: each refused with its reason; an empty name before the extension
    // would have made a hidden ".jpg".
    m_boxes.clear();
    EXPECT_FALSE(Run("a.jpg", "", ".jpg").has_value());
    EXPECT_FALSE(Run("a.jpg", "sub/dir", ".jpg").has_value());
    EXPECT_FALSE(Run("a.jpg", "..", QString()).has_value());
    EXPECT_EQ(m_boxes, (QStringList{"ファイル名を変更できません\n名前を入力してください",
                                    "ファイル名を変更できません\n名前に「/」は使えません",
                                    "ファイル名を変更できません\nこの名前は使えません"}));
    EXPECT_FALSE(ExistsNative(P(".jpg")));
    EXPECT_EQ(ReadNative(P("a.jpg")), "a");
    EXPECT_TRUE(m_changes.isEmpty());
    // The file went away meanwhile (another program moved it).
    m_boxes.clear();
    ASSERT_EQ(::unlink(P("a.jpg").constData()), 0);
    EXPECT_FALSE(Run("a.jpg", "c", ".jpg").has_value());
    EXPECT_EQ(m_boxes, (QStringList{"ファイル名を変更できません\nファイルが見つかりません"}));
}

TEST_F(Rename, TheRealDialogTakesNoEmptyNameAndATakenOneIsReported) {
    ASSERT_TRUE(WriteNative(P("photo.jpg"), "p"));
    ASSERT_TRUE(WriteNative(P("taken.jpg"), "t"));
    CRenameDlg::s_answer = nullptr;
    bool okWhileEmpty = true, openAfterEnter = false;
    QTimer::singleShot(0, [&] {
        auto* dlg = qobject_cast<CRenameDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        auto* name = dlg->findChild<QLineEdit*>("name");
        auto* buttons = dlg->findChild<QDialogButtonBox*>();
        ASSERT_NE(name, nullptr);
        ASSERT_NE(buttons, nullptr);
        EXPECT_EQ(name->text(), "photo");
        // The whole name is selected: a key deletes it; OK and Enter then do nothing.
        QTest::keyClick(name, Qt::Key_Backspace);
        EXPECT_EQ(name->text(), "");
        okWhileEmpty = buttons->button(QDialogButtonBox::Ok)->isEnabled();
        QTest::keyClick(name, Qt::Key_Return);
        openAfterEnter = dlg->isVisible();
        QTest::keyClicks(name, "taken");
        QTest::keyClick(name, Qt::Key_Return);
    });
    EXPECT_FALSE(RenameFileWithDialog(nullptr, FileNames::FromNative(P("photo.jpg"))).has_value());
    EXPECT_FALSE(okWhileEmpty);
    EXPECT_TRUE(openAfterEnter);
    EXPECT_EQ(m_boxes, (QStringList{"ファイル名を変更できません\n同じ名前の項目が既にあります"}));
    EXPECT_EQ(ReadNative(P("photo.jpg")), "p");
    EXPECT_EQ(ReadNative(P("taken.jpg")), "t");
    EXPECT_FALSE(ExistsNative(P(".jpg")));
}

TEST_F(Rename, ACaseOnlyChangeIsCarriedOut) {
    ASSERT_TRUE(WriteNative(P("Photo.JPG"), "p"));
    const auto path = Run("Photo.JPG", "photo", ".jpg");
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(ReadNative(P("photo.jpg")), "p");
    EXPECT_FALSE(ExistsNative(P("Photo.JPG")));
}

TEST_F(Rename, ANameWithoutExtensionGetsNoLoneDot) {
    ASSERT_TRUE(WriteNative(P("README"), "r"));
    const auto path = Run("README", "NOTES", QString());
    EXPECT_EQ(m_seen, (QStringList{"README", "README", ""}));
    ASSERT_TRUE(path.has_value());
    EXPECT_TRUE(ExistsNative(P("NOTES")));
    EXPECT_FALSE(ExistsNative(P("NOTES.")));
}

TEST_F(Rename, BytesThatAreNotUtf8SurviveAnUntouchedPart) {
    // "写真.jpg" in code page 932: shown decoded; only the extension is changed.
    const QByteArray raw("\x8e\xca\x90\x5e");
    ASSERT_TRUE(WriteNative(P(raw + ".jpg"), "s"));
    const auto path = Run(raw + ".jpg", QStringLiteral("写真"), ".jpeg");
    EXPECT_EQ(m_seen, (QStringList{"写真.jpg", "写真", ".jpg"}));
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(ReadNative(P(raw + ".jpeg")), "s");
    // A name typed anew is written as the text typed.
    const auto typed = Run(raw + ".jpeg", QStringLiteral("夏 \"1\""), ".jpeg");
    ASSERT_TRUE(typed.has_value());
    EXPECT_EQ(ReadNative(P("夏 \"1\".jpeg")), "s");
}

// ---- Wallpaper ----

namespace {

class WallpaperCommand : public ::testing::Test {
protected:
    void SetUp() override {
        LoadImageLibrary();
        ASSERT_TRUE(m_dir.isValid());
        m_oldBox = SetMessageBoxResponder([this](const MsgBoxRequest& r) {
            m_boxes.push_back(r);
            return m_answer;
        });
        m_oldRunner =
            Wallpaper::SetRunner([this](const QString& p, const QStringList& args, QByteArray*) {
                m_commands << (QStringList{p} + args);
                return 0;
            });
        m_hadDesktop = qEnvironmentVariableIsSet("XDG_CURRENT_DESKTOP");
        m_oldDesktop = qgetenv("XDG_CURRENT_DESKTOP");
        qputenv("XDG_CURRENT_DESKTOP", "MATE");
        qunsetenv("DESKTOP_SESSION");
        Wallpaper::RemoveBmpsExcept(QString());
    }
    void TearDown() override {
        if (m_hadDesktop)
            qputenv("XDG_CURRENT_DESKTOP", m_oldDesktop);
        else
            qunsetenv("XDG_CURRENT_DESKTOP");
        Wallpaper::SetRunner(std::move(m_oldRunner));
        SetMessageBoxResponder(std::move(m_oldBox));
    }
    QString Picture(const QString& name, QSize size, const char* format) {
        QImage img(size, QImage::Format_RGB32);
        img.fill(QColor(200, 40, 90));
        const QString path = QDir(m_dir.path()).filePath(name);
        EXPECT_TRUE(img.save(path, format));
        return path;
    }
    // The file the desktop was pointed at (MATE takes the plain file name).
    QString SetTo() const {
        return m_commands.isEmpty() ? QString() : m_commands.last().last().mid(1).chopped(1);
    }
    // The bitmaps written for backgrounds, full paths.
    static QStringList Bitmaps() {
        const QDir data(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
        QStringList out;
        for (const QString& name : data.entryList({"Norvo Quilla*.bmp"}, QDir::Files))
            out << data.filePath(name);
        return out;
    }

    QTemporaryDir m_dir;
    std::vector<MsgBoxRequest> m_boxes;
    int m_answer = IDOK;
    QList<QStringList> m_commands;

private:
    MsgBoxResponder m_oldBox;
    Wallpaper::Runner m_oldRunner;
    bool m_hadDesktop = false;
    QByteArray m_oldDesktop;
};

} // namespace

TEST_F(WallpaperCommand, OnlyOkGoesOn) {
    const QString bmp = Picture("a.BMP", QSize(8, 6), "BMP");
    m_answer = IDCANCEL;
    EXPECT_FALSE(SetWallpaperFromFile(nullptr, bmp));
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, "壁紙にしますか？");
    EXPECT_EQ(m_boxes[0].type & 0xF, unsigned(MB_OKCANCEL));
    EXPECT_TRUE(m_commands.isEmpty());
}

TEST_F(WallpaperCommand, ABitmapInAnyLetterCaseIsUsedItself) {
    const QString bmp = Picture("it's a.BMP", QSize(8, 6), "BMP");
    EXPECT_TRUE(SetWallpaperFromFile(nullptr, bmp));
    EXPECT_EQ(SetTo(), QString(bmp).replace("'", "\\'"));
    EXPECT_TRUE(Bitmaps().isEmpty());
}

TEST_F(WallpaperCommand, EachPictureIsWrittenUnderANewNameAndTheLastOneRemoved) {
    EXPECT_TRUE(SetWallpaperFromFile(nullptr, Picture("first.jpg", QSize(64, 48), "JPEG")));
    const QString first = SetTo();
    EXPECT_EQ(Bitmaps(), QStringList{first});
    QImageReader firstFile(first);
    EXPECT_EQ(firstFile.format(), "bmp");
    EXPECT_EQ(firstFile.size(), QSize(64, 48));
    // The next one has a name of its own; the first is gone once the desktop took it.
    EXPECT_TRUE(SetWallpaperFromFile(nullptr, Picture("second.png", QSize(30, 20), "PNG")));
    const QString second = SetTo();
    EXPECT_NE(second, first);
    EXPECT_EQ(Bitmaps(), QStringList{second});
    EXPECT_EQ(QImage(second).size(), QSize(30, 20));
    EXPECT_EQ(m_boxes.size(), 2u); // the two questions, nothing else
    // A BMP file used itself leaves no bitmap of ours behind.
    EXPECT_TRUE(SetWallpaperFromFile(nullptr, Picture("third.bmp", QSize(4, 4), "BMP")));
    EXPECT_TRUE(Bitmaps().isEmpty());
}

TEST_F(WallpaperCommand, TwiceOnEveryDesktopTheDesktopHearsOfTwoFiles) {
    // pcmanfm-qt (LXQt) gets the picture with a mode that shows it.
    qputenv("XDG_CURRENT_DESKTOP", "LXQt");
    ASSERT_TRUE(SetWallpaperFromFile(nullptr, Picture("a.png", QSize(16, 12), "PNG")));
    ASSERT_TRUE(SetWallpaperFromFile(nullptr, Picture("b.png", QSize(12, 16), "PNG")));
    ASSERT_EQ(m_commands.size(), 2);
    const QString one = m_commands[0][1].mid(QStringLiteral("--set-wallpaper=").size());
    const QString two = m_commands[1][1].mid(QStringLiteral("--set-wallpaper=").size());
    EXPECT_EQ(m_commands[0],
              (QStringList{"pcmanfm-qt", "--set-wallpaper=" + one, "--wallpaper-mode=fit"}));
    EXPECT_EQ(m_commands[1],
              (QStringList{"pcmanfm-qt", "--set-wallpaper=" + two, "--wallpaper-mode=fit"}));
    EXPECT_NE(one, two);
    EXPECT_EQ(Bitmaps(), QStringList{two});
    EXPECT_EQ(QImage(two).size(), QSize(12, 16));
    // GNOME's picture-uri and Xfce's last-image change value each time too.
    for (const char* desktop : {"GNOME", "XFCE"}) {
        qputenv("XDG_CURRENT_DESKTOP", desktop);
        m_commands.clear();
        ASSERT_TRUE(SetWallpaperFromFile(nullptr, Picture("c.png", QSize(8, 8), "PNG")));
        const QStringList first = m_commands.last();
        ASSERT_TRUE(SetWallpaperFromFile(nullptr, Picture("c.png", QSize(8, 8), "PNG")));
        const QStringList second = m_commands.last();
        EXPECT_EQ(first.mid(0, first.size() - 1), second.mid(0, second.size() - 1)) << desktop;
        EXPECT_NE(first.last(), second.last()) << desktop;
        EXPECT_EQ(Bitmaps().size(), 1) << desktop;
    }
}

TEST_F(WallpaperCommand, ADesktopThatRefusesKeepsThePreviousBitmap) {
    ASSERT_TRUE(SetWallpaperFromFile(nullptr, Picture("a.png", QSize(16, 12), "PNG")));
    const QStringList before = Bitmaps();
    ASSERT_EQ(before.size(), 1);
    Wallpaper::Runner accept =
        Wallpaper::SetRunner([this](const QString& p, const QStringList& args, QByteArray*) {
            m_commands << (QStringList{p} + args);
            return 1;
        });
    EXPECT_FALSE(SetWallpaperFromFile(nullptr, Picture("b.png", QSize(8, 8), "PNG")));
    Wallpaper::SetRunner(std::move(accept));
    // The background shown is still the first file; the one the desktop refused is gone.
    EXPECT_EQ(Bitmaps(), before);
}

TEST_F(WallpaperCommand, FailuresAreSaidAndTheDesktopIsLeftAlone) {
    const QString fake = QDir(m_dir.path()).filePath("fake.jpg");
    QFile f(fake);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a picture");
    f.close();
    EXPECT_FALSE(SetWallpaperFromFile(nullptr, fake));
    EXPECT_TRUE(m_commands.isEmpty());
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes[1].text, "壁紙にする画像を用意できませんでした");

    // A desktop that cannot be told.
    qputenv("XDG_CURRENT_DESKTOP", "sway");
    m_boxes.clear();
    EXPECT_FALSE(SetWallpaperFromFile(nullptr, Picture("c.bmp", QSize(4, 4), "BMP")));
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes[1].text,
              "壁紙を設定できませんでした。\nこのデスクトップ（sway）の壁紙は設定できません");
}
