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

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
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
    }
    void TearDown() override {
        CRenameDlg::s_answer = nullptr;
        Shell::SetChangeHook(std::move(m_oldHook));
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
    QString m_name, m_ext;
    bool m_accept = true;

private:
    Shell::ChangeHook m_oldHook;
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

TEST_F(Rename, UnchangedCancelledTakenAndUnusableNamesDoNothing) {
    ASSERT_TRUE(WriteNative(P("a.jpg"), "a"));
    ASSERT_TRUE(WriteNative(P("b.jpg"), "b"));
    EXPECT_FALSE(Run("a.jpg", "a", ".jpg").has_value());
    EXPECT_FALSE(Run("a.jpg", "x", ".jpg", false).has_value());
    // An existing file is never replaced.
    EXPECT_FALSE(Run("a.jpg", "b", ".jpg").has_value());
    EXPECT_EQ(ReadNative(P("b.jpg")), "b");
    for (const char* bad : {"", "sub/dir", ".."})
        EXPECT_FALSE(Run("a.jpg", bad, QString()).has_value()) << bad;
    EXPECT_EQ(ReadNative(P("a.jpg")), "a");
    EXPECT_TRUE(m_changes.isEmpty());
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
        QFile::remove(Wallpaper::BmpPath());
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
    EXPECT_FALSE(QFile::exists(Wallpaper::BmpPath()));
}

TEST_F(WallpaperCommand, OtherPicturesAreWrittenAsTheDataFoldersBitmapEachTime) {
    EXPECT_TRUE(SetWallpaperFromFile(nullptr, Picture("first.jpg", QSize(64, 48), "JPEG")));
    EXPECT_EQ(SetTo(), Wallpaper::BmpPath());
    QImageReader first(Wallpaper::BmpPath());
    EXPECT_EQ(first.format(), "bmp");
    EXPECT_EQ(first.size(), QSize(64, 48));
    // The next one overwrites it.
    EXPECT_TRUE(SetWallpaperFromFile(nullptr, Picture("second.png", QSize(30, 20), "PNG")));
    EXPECT_EQ(QImage(Wallpaper::BmpPath()).size(), QSize(30, 20));
    EXPECT_EQ(m_boxes.size(), 2u); // the two questions, nothing else
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
