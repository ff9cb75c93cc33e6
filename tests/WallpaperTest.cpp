// The desktop background: which desktop is running, and the exact commands each one is given.
#include "TestSupport.h"

#include "platform/FileNames.h"
#include "platform/Wallpaper.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

using Wallpaper::DesktopKind;

// A path with a space, a quote and Japanese, whose address escapes all but the quote.
const QString kPath = QStringLiteral("/home/u/it's 写真.bmp");
const QString kUrl = QStringLiteral("file:///home/u/it's%20%E5%86%99%E7%9C%9F.bmp");

class WallpaperCommands : public ::testing::Test {
protected:
    void SetUp() override {
        m_hadDesktop = qEnvironmentVariableIsSet("XDG_CURRENT_DESKTOP");
        m_oldDesktop = qgetenv("XDG_CURRENT_DESKTOP");
        m_old = Wallpaper::SetRunner(
            [this](const QString& program, const QStringList& args, QByteArray* out) {
                m_commands << (QStringList{program} + args);
                if (out)
                    *out = m_output;
                return m_exitCode;
            });
    }
    void TearDown() override {
        Wallpaper::SetRunner(std::move(m_old));
        if (m_hadDesktop)
            qputenv("XDG_CURRENT_DESKTOP", m_oldDesktop);
        else
            qunsetenv("XDG_CURRENT_DESKTOP");
    }
    bool SetOn(const char* desktop, const QString& path = kPath) {
        qputenv("XDG_CURRENT_DESKTOP", desktop);
        m_commands.clear();
        m_reason.clear();
        return Wallpaper::Set(path, &m_reason);
    }

    QList<QStringList> m_commands;
    QByteArray m_output;
    int m_exitCode = 0;
    QString m_reason;

private:
    Wallpaper::Runner m_old;
    bool m_hadDesktop = false;
    QByteArray m_oldDesktop;
};

} // namespace

TEST(WallpaperDesktop, TheDesktopIsTakenFromItsName) {
    EXPECT_EQ(Wallpaper::FromName("GNOME"), DesktopKind::Gnome);
    EXPECT_EQ(Wallpaper::FromName("ubuntu:GNOME"), DesktopKind::Gnome);
    EXPECT_EQ(Wallpaper::FromName("Budgie:GNOME"), DesktopKind::Gnome);
    EXPECT_EQ(Wallpaper::FromName("Unity"), DesktopKind::Gnome);
    EXPECT_EQ(Wallpaper::FromName("X-Cinnamon"), DesktopKind::Cinnamon);
    EXPECT_EQ(Wallpaper::FromName("MATE"), DesktopKind::Mate);
    EXPECT_EQ(Wallpaper::FromName("KDE"), DesktopKind::Kde);
    EXPECT_EQ(Wallpaper::FromName("XFCE"), DesktopKind::Xfce);
    EXPECT_EQ(Wallpaper::FromName("LXQt"), DesktopKind::Lxqt);
    EXPECT_EQ(Wallpaper::FromName("LXDE"), DesktopKind::Lxde);
    EXPECT_EQ(Wallpaper::FromName("sway"), DesktopKind::Unknown);
    EXPECT_EQ(Wallpaper::FromName(""), DesktopKind::Unknown);
}

TEST_F(WallpaperCommands, GnomeCinnamonAndMateGetTheirGsettingsKeys) {
    // The value is a quoted GVariant string: the quote in the name is escaped.
    const QString quoted = QStringLiteral("'file:///home/u/it\\'s%20%E5%86%99%E7%9C%9F.bmp'");
    ASSERT_TRUE(SetOn("ubuntu:GNOME"));
    EXPECT_EQ(m_commands, (QList<QStringList>{{"gsettings", "set", "org.gnome.desktop.background",
                                               "picture-uri", quoted},
                                              {"gsettings", "set", "org.gnome.desktop.background",
                                               "picture-uri-dark", quoted}}));
    ASSERT_TRUE(SetOn("X-Cinnamon"));
    EXPECT_EQ(m_commands,
              (QList<QStringList>{
                  {"gsettings", "set", "org.cinnamon.desktop.background", "picture-uri", quoted}}));
    ASSERT_TRUE(SetOn("MATE"));
    EXPECT_EQ(m_commands,
              (QList<QStringList>{{"gsettings", "set", "org.mate.background", "picture-filename",
                                   QStringLiteral("'/home/u/it\\'s 写真.bmp'")}}));
}

TEST_F(WallpaperCommands, PlasmaIsGivenAScriptForEveryDesktop) {
    ASSERT_TRUE(SetOn("KDE"));
    ASSERT_EQ(m_commands.size(), 1);
    const QStringList& c = m_commands[0];
    ASSERT_EQ(c.size(), 8);
    EXPECT_EQ(c.mid(0, 7), (QStringList{"dbus-send", "--session", "--dest=org.kde.plasmashell",
                                        "--type=method_call", "--print-reply", "/PlasmaShell",
                                        "org.kde.PlasmaShell.evaluateScript"}));
    EXPECT_TRUE(c[7].startsWith("string:var all = desktops();")) << c[7].toStdString();
    EXPECT_TRUE(c[7].contains("d.wallpaperPlugin = \"org.kde.image\";"));
    EXPECT_TRUE(c[7].contains("d.writeConfig(\"Image\", \"" + kUrl + "\");")) << c[7].toStdString();
    // Nothing in the address can end the script's string.
    const QString hostile = QStringLiteral("/p/a\"b\\c.bmp");
    ASSERT_TRUE(SetOn("KDE", hostile));
    EXPECT_TRUE(m_commands[0][7].contains("\"file:///p/a%22b%5Cc.bmp\""));
}

TEST_F(WallpaperCommands, XfceSetsEveryBackdropItLists) {
    m_output = "/backdrop/screen0/monitorVirtual-1/workspace0/last-image\n"
               "/backdrop/screen0/monitorVirtual-1/workspace0/image-style\n"
               "/backdrop/screen0/monitorHDMI-1/workspace0/last-image\n";
    ASSERT_TRUE(SetOn("XFCE"));
    EXPECT_EQ(m_commands,
              (QList<QStringList>{
                  {"xfconf-query", "-c", "xfce4-desktop", "-l"},
                  {"xfconf-query", "-c", "xfce4-desktop", "-p",
                   "/backdrop/screen0/monitorVirtual-1/workspace0/last-image", "-s", kPath},
                  {"xfconf-query", "-c", "xfce4-desktop", "-p",
                   "/backdrop/screen0/monitorHDMI-1/workspace0/last-image", "-s", kPath}}));
    // A fresh session lists none: the first screen's property is made.
    m_output.clear();
    ASSERT_TRUE(SetOn("XFCE"));
    EXPECT_EQ(m_commands.last(), (QStringList{"xfconf-query", "-c", "xfce4-desktop", "-p",
                                              "/backdrop/screen0/monitor0/workspace0/last-image",
                                              "-n", "-t", "string", "-s", kPath}));
}

TEST_F(WallpaperCommands, RefusalsAndUnknownDesktopsSayWhy) {
    qunsetenv("DESKTOP_SESSION");
    EXPECT_FALSE(SetOn("sway"));
    EXPECT_TRUE(m_commands.isEmpty());
    EXPECT_EQ(m_reason, "このデスクトップ（sway）の壁紙は設定できません");

    m_exitCode = 1;
    EXPECT_FALSE(SetOn("GNOME"));
    EXPECT_EQ(m_commands.size(), 1); // the dark picture is not tried after a refusal
    EXPECT_EQ(m_reason, "デスクトップが壁紙の設定を受け付けませんでした（gsettings）");

    // A name that is not UTF-8 cannot be stored where a file name is text; its address can.
    m_exitCode = 0;
    const QString raw = FileNames::FromNative(QByteArray("/p/\x8e\xca.bmp"));
    EXPECT_FALSE(SetOn("MATE", raw));
    EXPECT_TRUE(m_commands.isEmpty());
    EXPECT_FALSE(m_reason.isEmpty());
    EXPECT_TRUE(SetOn("GNOME", raw));
    EXPECT_EQ(m_commands[0][4], "'file:///p/%8E%CA.bmp'");
}

TEST(WallpaperFile, EachBitmapGetsANewNameInQuillasDataFolder) {
    Wallpaper::RemoveBmpsExcept(QString());
    const QString path = Wallpaper::NewBmpPath();
    EXPECT_TRUE(path.endsWith("/Norvo Quilla 1.bmp")) << path.toStdString();
    EXPECT_TRUE(path.startsWith(qEnvironmentVariable("XDG_DATA_HOME") + '/')) << path.toStdString();
    const QDir data = QFileInfo(path).dir();
    ASSERT_TRUE(data.exists());
    const auto touch = [&](const QString& name) {
        QFile f(data.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write("x") == 1;
    };
    // The next name lies above the highest in use, whatever else the folder holds; names that
    // are not ours, and numbers no one could count on from, are left alone.
    ASSERT_TRUE(touch("Norvo Quilla 7.bmp"));
    ASSERT_TRUE(touch("Norvo Quilla.bmp")); // the single name of earlier versions
    ASSERT_TRUE(touch("Norvo Quilla notes.bmp"));
    ASSERT_TRUE(touch("Norvo Quilla 2147483647.bmp"));
    ASSERT_TRUE(data.mkpath("Norvo Quilla 9.bmp")); // a folder is no bitmap
    const QString next = Wallpaper::NewBmpPath();
    EXPECT_EQ(next, data.filePath("Norvo Quilla 8.bmp"));
    ASSERT_TRUE(touch("Norvo Quilla 8.bmp"));
    Wallpaper::RemoveBmpsExcept(next);
    EXPECT_EQ(data.entryList({"Norvo Quilla*"}, QDir::Files | QDir::Dirs, QDir::Name),
              (QStringList{"Norvo Quilla 2147483647.bmp", "Norvo Quilla 8.bmp",
                           "Norvo Quilla 9.bmp", "Norvo Quilla notes.bmp"}));
    QFile::remove(data.filePath("Norvo Quilla 2147483647.bmp"));
    QFile::remove(data.filePath("Norvo Quilla notes.bmp"));
    data.rmdir("Norvo Quilla 9.bmp");
    Wallpaper::RemoveBmpsExcept(QString());
}
