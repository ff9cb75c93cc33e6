// The command line: parsing, paths resolved with every byte of their names, a start in a named
// folder or on a named file for this start only, and --help and --version of the real program.
#include "TestPaths.h"
#include "TestSupport.h"

#include "app/CommandLine.h"
#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "app/QuillaDoc.h"
#include "app/config.h"
#include "platform/FileNames.h"
#include "thumbs/ThumbnailView.h"
#include "tree/DirView.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScrollBar>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder with two pictures and a sub-folder, the current directory inside it.
class Paths {
public:
    Paths() : m_oldDir(FileNames::CurrentDir()) {
        QDir root(m_dir.path());
        root.mkpath(QStringLiteral("pics/sub"));
        Picture(QStringLiteral("pics/a.png"));
        Picture(QStringLiteral("pics/b.png"));
        Picture(QStringLiteral("pics/sub/c.png"));
        FileNames::SetCurrentDir(m_dir.path());
    }
    ~Paths() { FileNames::SetCurrentDir(m_oldDir); }
    QString P(const QString& rel) const { return QDir(m_dir.path()).filePath(rel); }
    void Picture(const QString& rel) const {
        QImage img(24, 16, QImage::Format_RGB32);
        img.fill(Qt::darkCyan);
        ASSERT_TRUE(img.save(P(rel)));
    }

private:
    QTemporaryDir m_dir;
    QString m_oldDir;
};

CommandLine::Request Parsed(const QStringList& args, QString* error = nullptr) {
    CommandLine::Request r;
    const QString e = CommandLine::Parse(QStringList{QStringLiteral("quilla")} + args, r);
    if (error)
        *error = e;
    else
        EXPECT_EQ(e, QString()) << args.join(' ').toStdString();
    return r;
}

} // namespace

TEST(CommandLine, NothingNamedStartsAsTheSettingsSay) {
    const CommandLine::Request r = Parsed({});
    EXPECT_EQ(r.folder, QString());
    EXPECT_EQ(r.file, QString());
    EXPECT_FALSE(r.help || r.version);
    EXPECT_EQ(r.warning, QString());
}

TEST(CommandLine, AFolderAbsoluteOrRelative) {
    Paths paths;
    EXPECT_EQ(Parsed({paths.P("pics")}).folder, paths.P("pics"));
    EXPECT_EQ(Parsed({paths.P("pics/")}).folder, paths.P("pics"));
    EXPECT_EQ(Parsed({QStringLiteral("pics")}).folder, paths.P("pics"));
    EXPECT_EQ(Parsed({QStringLiteral("./pics/sub/..")}).folder, paths.P("pics"));
    EXPECT_EQ(Parsed({QStringLiteral(".")}).folder, QDir::cleanPath(FileNames::CurrentDir()));
    EXPECT_EQ(Parsed({QStringLiteral("/")}).folder, QStringLiteral("/"));
    EXPECT_EQ(Parsed({QStringLiteral("pics")}).file, QString());
}

TEST(CommandLine, AFileNamesItsFolderAndItself) {
    Paths paths;
    CommandLine::Request r = Parsed({QStringLiteral("pics/b.png")});
    EXPECT_EQ(r.folder, paths.P("pics"));
    EXPECT_EQ(r.file, QStringLiteral("b.png"));
    r = Parsed({paths.P("pics/sub/c.png")});
    EXPECT_EQ(r.folder, paths.P("pics/sub"));
    EXPECT_EQ(r.file, QStringLiteral("c.png"));
    // A name that begins like an option, after "--".
    paths.Picture(QStringLiteral("pics/-dash.png"));
    FileNames::SetCurrentDir(paths.P("pics"));
    r = Parsed({QStringLiteral("--"), QStringLiteral("-dash.png")});
    EXPECT_EQ(r.folder, paths.P("pics"));
    EXPECT_EQ(r.file, QStringLiteral("-dash.png"));
}

TEST(CommandLine, AMissingPathIsReportedAndIgnored) {
    Paths paths;
    const CommandLine::Request r = Parsed({QStringLiteral("pics/none.png")});
    EXPECT_EQ(r.folder, QString());
    EXPECT_EQ(r.file, QString());
    EXPECT_TRUE(r.warning.startsWith(QStringLiteral("pics/none.png: "))) << r.warning.toStdString();
}

TEST(CommandLine, UsageErrors) {
    QString error;
    Parsed({QStringLiteral("--no-such-option")}, &error);
    EXPECT_TRUE(error.contains(QStringLiteral("no-such-option"))) << error.toStdString();
    Paths paths;
    Parsed({QStringLiteral("pics"), QStringLiteral("pics/a.png")}, &error);
    EXPECT_FALSE(error.isEmpty());
}

TEST(CommandLine, HelpAndVersion) {
    EXPECT_TRUE(Parsed({QStringLiteral("--help")}).help);
    EXPECT_TRUE(Parsed({QStringLiteral("-h")}).help);
    EXPECT_TRUE(Parsed({QStringLiteral("--version")}).version);
    EXPECT_TRUE(Parsed({QStringLiteral("-v")}).version);
    QString error;
    Parsed({QStringLiteral("--help-all")}, &error);
    EXPECT_FALSE(error.isEmpty()); // no option of Qt's own is offered
    // Asked for together with options that belong to Qt (taken out only later): still answered.
    EXPECT_TRUE(Parsed({QStringLiteral("-platform"), QStringLiteral("offscreen"),
                        QStringLiteral("--version")},
                       &error)
                    .version);
    const QString help = CommandLine::HelpText();
    EXPECT_TRUE(help.contains(QStringLiteral("[FOLDER | FILE]"))) << help.toStdString();
    EXPECT_TRUE(help.contains(QStringLiteral("--version"))) << help.toStdString();
    EXPECT_EQ(CommandLine::VersionText(), QStringLiteral("quilla " QUILLA_VERSION "\n"));
}

TEST(CommandLine, NamesThatAreNotUtf8KeepTheirBytes) {
    QTemporaryDir dir;
    // "写真" in code page 932: not valid UTF-8.
    const QByteArray folder = QFile::encodeName(dir.path()) + "/\x8E\xCA\x90\x5E";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    const QByteArray file = folder + "/\x89\xE6\x91\x9C.png"; // "画像.png"
    {
        const int fd = ::open(file.constData(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    QByteArray argv0 = "quilla", arg = file;
    char* argv[] = {argv0.data(), arg.data(), nullptr};
    CommandLine::Request r;
    ASSERT_EQ(CommandLine::Parse(CommandLine::Arguments(2, argv), r), QString());
    EXPECT_EQ(FileNames::ToNative(r.folder), folder);
    EXPECT_EQ(FileNames::ToNative(r.file), QByteArray("\x89\xE6\x91\x9C.png"));
    EXPECT_TRUE(FileNames::HasRawBytes(r.folder));
    RemoveTreeNative(dir.path());
}

// Starting the application with a folder or a file named.
class StartPath : public AppTest {
protected:
    void Prepare() override {
        // The settings would start at the favourites.
        m_settings.WriteRaw("[System]\nInitMode=3\n");
        Configure();
    }
    virtual void Configure() = 0;
    CThumbnailView* Grid() const { return Frame()->ThumbnailView(); }
    QStringList Selected() const {
        QStringList out;
        for (const auto& t : Grid()->Tiles())
            if (t->m_bSelected)
                out << t->m_strName;
        return out;
    }
    Paths m_paths;
};

class StartInFolder : public StartPath {
    void Configure() override { App()->SetStartPath(m_paths.P("pics"), QString()); }
};

TEST_F(StartInFolder, ShowsTheFolderForThisStartOnly) {
    EXPECT_EQ(Frame()->Folder(), m_paths.P("pics"));
    EXPECT_EQ(FileNames::CurrentDir(), m_paths.P("pics"));
    EXPECT_EQ(Frame()->DirView()->SelectedPath(), m_paths.P("pics"));
    EXPECT_EQ(Grid()->Tiles().size(), 2u);
    EXPECT_TRUE(Selected().isEmpty());
    EXPECT_FALSE(Grid()->Preview().isVisible());
    // Nothing about the start was written.
    EXPECT_EQ(m_settings.ReadRaw(), QByteArray("[System]\nInitMode=3\n"));
    // The next start follows the settings again: the favourites, no folder.
    Restart();
    EXPECT_EQ(Frame()->Folder(), QString());
    const QByteArray raw = m_settings.ReadRaw();
    EXPECT_TRUE(raw.contains("InitMode=3")) << raw.constData();
    EXPECT_FALSE(raw.contains("InitDir")) << raw.constData();
}

class StartOnFile : public StartPath {
    void Configure() override { App()->SetStartPath(m_paths.P("pics"), QStringLiteral("b.png")); }
};

TEST_F(StartOnFile, SelectsTheFileAndShowsItInThePreview) {
    EXPECT_EQ(Frame()->Folder(), m_paths.P("pics"));
    EXPECT_EQ(Selected(), QStringList{QStringLiteral("b.png")});
    ASSERT_GE(Grid()->GetFocusIndex(), 0);
    EXPECT_EQ(Grid()->Tiles()[size_t(Grid()->GetFocusIndex())]->m_strName, QStringLiteral("b.png"));
    EXPECT_EQ(Frame()->GetActiveView(), static_cast<CView*>(Grid()));
    // The preview opens once the main window is framed (at once here; at most a second later
    // where no frame ever comes).
    EXPECT_TRUE(QTest::qWaitFor([&] { return Grid()->Preview().isVisible(); }, 3000));
    EXPECT_EQ(Grid()->Preview().m_strPath, m_paths.P("pics/b.png"));
    EXPECT_EQ(m_settings.ReadRaw(), QByteArray("[System]\nInitMode=3\n"));
}

class StartOnFileAmongMany : public StartPath {
    void Configure() override {
        for (int i = 0; i < 80; ++i)
            m_paths.Picture(QStringLiteral("pics/p%1.png").arg(i, 2, 10, QLatin1Char('0')));
        App()->SetStartPath(m_paths.P("pics"), QStringLiteral("a.png"));
    }
};

TEST_F(StartOnFileAmongMany, TheFileIsWhollyInViewOnceTheWindowIsShown) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return Grid()->Preview().isVisible(); }, 3000));
    ASSERT_GT(Grid()->verticalScrollBar()->maximum(), 0) << "the folder fills more than a screen";
    const int focus = Grid()->GetFocusIndex();
    ASSERT_GE(focus, 0);
    // Scrolled for the window as shown, not for the size the grid had before it was shown.
    const QRect cell =
        Grid()->GetCellRect(focus).translated(0, -Grid()->verticalScrollBar()->value());
    EXPECT_TRUE(Grid()->viewport()->rect().contains(cell)) << cell.y() << " " << cell.height();
}

class StartOnFileNotListed : public StartPath {
    void Configure() override {
        QFile f(m_paths.P("pics/notes.txt"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        App()->SetStartPath(m_paths.P("pics"), QStringLiteral("notes.txt"));
    }
};

TEST_F(StartOnFileNotListed, ShowsItsFolderWithNothingSelected) {
    EXPECT_EQ(Frame()->Folder(), m_paths.P("pics"));
    EXPECT_TRUE(Selected().isEmpty());
    EXPECT_FALSE(Grid()->Preview().isVisible());
    EXPECT_EQ(Frame()->GetActiveView(), static_cast<CView*>(Frame()->DirView()));
}

class StartInUnreadableFolder : public StartPath {
    void Configure() override {
        // A folder that has gone by the time the tree looks: the settings choose instead.
        App()->SetStartPath(m_paths.P("gone"), QString());
    }
};

TEST_F(StartInUnreadableFolder, FallsBackToTheSettings) {
    EXPECT_EQ(Frame()->Folder(), QString());
    EXPECT_TRUE(Grid()->Tiles().empty());
}

// The real program answers --help and --version on standard output, with no display at all.
TEST(CommandLineProgram, HelpAndVersionWithoutADisplay) {
    const QString quilla = testpaths::BinDir() + QStringLiteral("/quilla");
    ASSERT_TRUE(QFile::exists(quilla));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    auto run = [&](const QStringList& args, QByteArray* out, QByteArray* err) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(quilla, args);
        EXPECT_TRUE(p.waitForFinished(30000));
        *out = p.readAllStandardOutput();
        *err = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    QByteArray out, err;
    EXPECT_EQ(run({QStringLiteral("--version")}, &out, &err), 0) << err.constData();
    EXPECT_EQ(out, QByteArray("quilla " QUILLA_VERSION "\n"));
    EXPECT_EQ(run({QStringLiteral("--help")}, &out, &err), 0) << err.constData();
    EXPECT_TRUE(out.contains("[FOLDER | FILE]")) << out.constData();
    EXPECT_TRUE(out.startsWith("Usage: ")) << out.constData();

    // Usage errors go to standard error with status 2 (the application needs a screen first).
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    EXPECT_EQ(run({QStringLiteral("--frobnicate")}, &out, &err), 2);
    EXPECT_TRUE(err.contains("quilla: ")) << err.constData();
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(run({QStringLiteral("/"), QStringLiteral("/tmp")}, &out, &err), 2);
}
