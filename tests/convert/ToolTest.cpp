// quilla-convert: its command line, and its files read back by ImageMagick and Pillow and
// compared with what the conversion command writes from the same settings; what it refuses to
// open or to replace.
#include "ConvertSupport.h"
#include "TestPaths.h"
#include "TestSupport.h"

#include "convert/Convert.h"
#include "convert/ToolOptions.h"
#include "imaging/ImageKit.h"
#include "imaging/ImageLibrary.h"
#include "imaging/SPIControl.h"
#include "platform/Settings.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace convtest;

TEST(ToolCommandLine, OptionsAndTheirErrors) {
    ConvertTool::Settings s;
    EXPECT_EQ(ConvertTool::Parse({"-f", "JPG", "-c", "16bit", "-W800", "--height=600", "-o",
                                  "out dir/", "-j", "3", "--quality", "85", "--progressive",
                                  "--subsampling", "4:4:4", "a.png", "--", "-b.png"},
                                 s),
              QString());
    EXPECT_EQ(s.format, Convert::Jpeg);
    EXPECT_EQ(s.bits, 16);
    EXPECT_EQ(s.width, 800);
    EXPECT_EQ(s.height, 600);
    EXPECT_EQ(s.output, "out dir/");
    EXPECT_EQ(s.jobs, 3);
    EXPECT_EQ(s.overrides.jpegQuality, 85);
    EXPECT_EQ(s.overrides.jpegProgressive, 1);
    EXPECT_EQ(s.overrides.jpegSubsampling, 2);
    EXPECT_FALSE(s.overrides.gifColour.has_value());
    EXPECT_EQ(s.files, (QStringList{"a.png", "-b.png"}));

    EXPECT_EQ(ConvertTool::Parse({"-f", "gif", "--transparent", "#FF8000", "--interlace", "x"}, s),
              QString());
    EXPECT_EQ(s.overrides.gifTransparent, 1);
    EXPECT_EQ(s.overrides.gifColour, 0x0080FFu); // stored as 0x00BBGGRR
    EXPECT_EQ(s.overrides.gifInterlace, 1);
    EXPECT_FALSE(s.overrides.pngInterlace.has_value());
    EXPECT_EQ(ConvertTool::Parse({"-f", "tiff", "--tiff-compression", "PACKBITS", "x"}, s),
              QString());
    EXPECT_EQ(s.overrides.tiffCompression, 5);
    EXPECT_EQ(ConvertTool::Parse({"-f", "png", "--no-transparent", "--no-interlace", "x"}, s),
              QString());
    EXPECT_EQ(s.overrides.pngTransparent, 0);
    EXPECT_EQ(s.overrides.pngInterlace, 0);
    EXPECT_EQ(ConvertTool::Parse({"--help"}, s), QString());
    EXPECT_TRUE(s.help);

    const QStringList bad[] = {
        {"a.png"},                               // no format
        {"-f", "webp", "a.png"},                 // unknown format
        {"-f", "png"},                           // no files
        {"-f", "png", "-c", "7", "a"},           // unknown colour count
        {"-f", "png", "-W", "-3", "a"},          // negative width
        {"-f", "png", "-H", "70000", "a"},       // beyond the library
        {"-f", "png", "-j", "0", "a"},           // no jobs
        {"-f", "png", "--quality", "80", "a"},   // JPEG only
        {"-f", "jpeg", "--quality", "101", "a"}, // out of range
        {"-f", "jpeg", "--subsampling", "4:2:0", "a"},
        {"-f", "bmp", "--interlace", "a"},          // GIF and PNG only
        {"-f", "png", "--transparent", "red", "a"}, // not RRGGBB
        {"-f", "png", "--frobnicate", "a"},         // unknown option
        {"-f"},                                     // value missing
        {"-f", "png", "--quiet=1", "a"},            // a flag with a value
    };
    for (const QStringList& args : bad)
        EXPECT_NE(ConvertTool::Parse(args, s), QString()) << args.join(' ').toStdString();
}

namespace {

class Tool : public ::testing::Test {
protected:
    void SetUp() override {
        LoadImageLibrary();
        m_bin = QCoreApplication::applicationDirPath() + "/quilla-convert";
        ASSERT_TRUE(QFileInfo(m_bin).isExecutable()) << m_bin.toStdString();
        // The tool's settings file is the one the tests' own settings point at.
        QDir().mkpath(m_config.filePath("Norvo"));
    }
    QString P(const QString& name) const { return QDir(m_tmp.path()).filePath(name); }
    // Writes the settings file both the tool and this process read.
    void Store(const QByteArray& ini) {
        m_settings.WriteRaw(ini);
        WriteAll(m_config.filePath("Norvo/Quilla.conf"), ini);
    }
    int Launch(const QStringList& args, QByteArray* err = nullptr) {
        int code = -1;
        QByteArray e;
        convtest::Run(m_bin, args, nullptr, &e, {"XDG_CONFIG_HOME=" + m_config.path()}, &code);
        if (err)
            *err = e;
        return code;
    }

    TempSettings m_settings;
    QTemporaryDir m_tmp, m_configDir;
    QDir m_config{m_configDir.path()};
    QString m_bin;
};

} // namespace

TEST_F(Tool, WritesWhatTheConversionCommandWritesFromTheSameSettings) {
    REQUIRE_PROGRAM(kIdentify);
    Store("[Jpeg]\nQuality=35\nSubSamp=1\n[Gif]\nBack=1\nBackColor=255\n[Color]\nDither=0\n");
    WriteGradient(P("g.png"), 90, 60);
    WriteGradient(P("h.bmp"), 33, 71);
    QDir().mkdir(P("cmd"));
    for (int f :
         {Convert::Jpeg, Convert::Gif, Convert::Png, Convert::Tiff, Convert::Pcx, Convert::Bmp}) {
        const QString ext = QString::fromLatin1(Convert::FormatExtension(f)).mid(1);
        const QString format = f == Convert::Jpeg ? "jpeg" : f == Convert::Tiff ? "tiff" : ext;
        for (const char* src : {"g.png", "h.bmp"}) {
            const QString base = QFileInfo(src).completeBaseName();
            ASSERT_EQ(Convert::ConvertImageFile(P(src), P("cmd/" + base + "." + ext), f, 4, 0, 40),
                      1);
        }
        QByteArray err;
        ASSERT_EQ(Launch({"-q", "-f", format, "-c", "16", "-H", "40", "-o", P("tool"), P("g.png"),
                          P("h.bmp")},
                         &err),
                  0)
            << err.constData();
        for (const char* base : {"g", "h"}) {
            const QString name = QString("%1.%2").arg(base, ext);
            EXPECT_EQ(ReadAll(P("tool/" + name)), ReadAll(P("cmd/" + name))) << name.toStdString();
        }
    }
    EXPECT_EQ(Identify("%w %h %Q", P("tool/g.jpg")), "60 40 35");
}

TEST_F(Tool, OptionsAsIndependentReadersSeeThem) {
    REQUIRE_PROGRAM(kPython);
    REQUIRE_PROGRAM(kIdentify);
    WriteGradient(P("src.png"), 200, 100);
    ASSERT_EQ(Launch({"-f", "jpeg", "--quality", "50", "--progressive", "--subsampling", "4:4:4",
                      "-W", "100", "-o", P("j"), P("src.png")}),
              0);
    EXPECT_EQ(Pillow("import sys; from PIL import Image, JpegImagePlugin; "
                     "im = Image.open(sys.argv[1]); "
                     "print(im.size, bool(im.info.get('progressive')), "
                     "JpegImagePlugin.get_sampling(im))",
                     {P("j/src.jpg")}),
              "(100, 50) True 0");
    EXPECT_EQ(Identify("%Q", P("j/src.jpg")), "50");

    WriteFlat(P("flat.bmp"), 30, 30, QColor(0, 255, 0));
    ASSERT_EQ(Launch({"-f", "png", "--interlace", "--transparent", "00FF00", "-o", P("p"),
                      P("flat.bmp")}),
              0);
    EXPECT_EQ(Pillow("import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                     "print(im.info.get('interlace'), im.info.get('transparency'))",
                     {P("p/flat.png")}),
              "1 (0, 255, 0)");
    ASSERT_EQ(Launch({"-f", "gif", "-c", "2", "-o", P("g"), P("src.png")}), 0);
    EXPECT_EQ(Pillow("import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                     "print(im.format, sorted(c for n, c in im.convert('RGB').getcolors()))",
                     {P("g/src.gif")}),
              "GIF [(0, 0, 0), (255, 255, 255)]");
    ASSERT_EQ(Launch({"-f", "tiff", "--tiff-compression", "packbits", "-c", "256", "-o", P("t"),
                      P("src.png")}),
              0);
    EXPECT_EQ(Pillow("import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                     "print(im.info.get('compression'), im.mode)",
                     {P("t/src.tif")}),
              "packbits P");
}

TEST_F(Tool, FailuresAreReportedAndTheOthersConverted) {
    WriteGradient(P("a.png"), 20, 20);
    WriteAll(P("bad.png"), "\x89PNG\r\n\x1a\n truncated");
    QByteArray err;
    EXPECT_EQ(Launch({"-f", "bmp", "-o", P("o"), P("a.png"), P("bad.png"), P("none.gif")}, &err),
              1);
    EXPECT_TRUE(QFileInfo(P("o/a.bmp")).isFile());
    EXPECT_FALSE(QFileInfo::exists(P("o/bad.bmp")));
    const QString text = QString::fromUtf8(err);
    EXPECT_TRUE(text.contains(P("bad.png") + ": cannot read the image")) << err.constData();
    EXPECT_TRUE(text.contains(P("none.gif") + ": cannot read the image"));
    EXPECT_TRUE(text.contains("2 of 3 files could not be converted"));
    // No progress bar when standard error is not a terminal.
    EXPECT_FALSE(text.contains('\r'));
    // A destination that cannot be written (a folder of that name) is reported with its name.
    WriteGradient(P("b.png"), 20, 20);
    ASSERT_TRUE(QDir().mkdir(P("o/b.bmp")));
    EXPECT_EQ(Launch({"-f", "bmp", "-o", P("o"), P("b.png")}, &err), 1);
    EXPECT_TRUE(QString::fromUtf8(err).contains("cannot write " + P("o/b.bmp"))) << err.constData();
    // An output folder that cannot be made ends the run before any file.
    EXPECT_EQ(Launch({"-f", "bmp", "-o", P("a.png"), P("b.png")}, &err), 2);
    EXPECT_TRUE(err.contains("cannot create the output folder"));
    // A usage error is 2; --help documents every option and exits 0.
    EXPECT_EQ(Launch({"-f", "png"}), 2);
    QByteArray out;
    ASSERT_TRUE(convtest::Run(m_bin, {"--help"}, &out));
    for (const char* option : {"--format", "--colors", "--width", "--height", "--output", "--jobs",
                               "--quality", "--progressive", "--subsampling", "--tiff-compression",
                               "--interlace", "--transparent", "--overwrite-source"})
        EXPECT_TRUE(out.contains(option)) << option;
}

TEST_F(Tool, NeverOverwritesASourceUnlessAsked) {
    WriteGradient(P("photo.jpg"), 20, 20);
    const QByteArray original = ReadAll(P("photo.jpg"));
    QByteArray err;
    // Into its own folder, by a relative name from there.
    const QString old = QDir::currentPath();
    QDir::setCurrent(m_tmp.path());
    EXPECT_EQ(Launch({"-f", "jpeg", "photo.jpg"}, &err), 1);
    EXPECT_TRUE(err.contains("would overwrite the source file"));
    EXPECT_EQ(ReadAll(P("photo.jpg")), original);
    // Through a link to the folder it is the same file too.
    ASSERT_TRUE(QFile::link(m_tmp.path(), P("link")));
    EXPECT_EQ(Launch({"-f", "jpeg", "-o", "link", "photo.jpg"}, &err), 1);
    EXPECT_EQ(ReadAll(P("photo.jpg")), original);
    EXPECT_EQ(Launch({"-f", "jpeg", "--quality", "10", "--overwrite-source", "photo.jpg"}), 0);
    EXPECT_NE(ReadAll(P("photo.jpg")), original);
    QDir::setCurrent(old);
}

TEST_F(Tool, ParallelRunsMatchOneAtATimeAndFolderNamesAreKeptAsGiven) {
    QStringList files;
    for (int i = 0; i < 12; ++i) {
        files << P(QString("f%1.png").arg(i));
        WriteGradient(files.last(), 120 + i, 80);
    }
    // Two sources with one destination: the first one writes it, the later one fails.
    WriteFlat(P("f0.bmp"), 10, 10, Qt::red);
    files << P("f0.bmp");
    const QString one = P("一つ ずつ/"), many = P("並列 出力/");
    QByteArray err;
    ASSERT_EQ(Launch(QStringList{"-q", "-f", "gif", "-j", "1", "-o", one} + files, &err), 1);
    EXPECT_TRUE(QString::fromUtf8(err).contains(P("f0.bmp") + ": " + one + "f0.gif" +
                                                " was already written from " + P("f0.png")))
        << err.constData();
    ASSERT_EQ(Launch(QStringList{"-q", "-f", "gif", "-j", "4", "-o", many} + files), 1);
    for (int i = 0; i < 12; ++i) {
        const QString name = QString("f%1.gif").arg(i);
        EXPECT_EQ(ReadAll(one + name), ReadAll(many + name)) << i;
    }
    EXPECT_EQ(Identify("%w", many + "f0.gif"), "120");
    EXPECT_EQ(QDir(many).entryList(QDir::Files).size(), 12);
}

TEST_F(Tool, AReadOnlyOutputIsKeptAndNestedOutputFoldersAreMade) {
    WriteGradient(P("a.png"), 20, 20);
    WriteGradient(P("b.png"), 20, 20);
    // Two missing levels are made.
    const QString out = P("変換出力/PNG");
    ASSERT_EQ(Launch({"-q", "-f", "bmp", "-o", out, P("a.png")}), 0);
    EXPECT_TRUE(QFileInfo(out + "/a.bmp").isFile());
    // An output the user made read-only stays, and the run says so (also as root).
    WriteAll(out + "/b.bmp", "keep me");
    ASSERT_TRUE(QFile::setPermissions(out + "/b.bmp", QFile::ReadOwner));
    QByteArray err;
    EXPECT_EQ(Launch({"-f", "bmp", "-o", out, P("a.png"), P("b.png")}, &err), 1);
    EXPECT_TRUE(QString::fromUtf8(err).contains(P("b.png") + ": " + out +
                                                "/b.bmp is read-only and is not replaced"))
        << err.constData();
    EXPECT_EQ(ReadAll(out + "/b.bmp"), "keep me");
    EXPECT_TRUE(err.contains("1 of 2 files could not be converted"));
}

TEST_F(Tool, OnlyRegularFilesAreOpened) {
    // A FIFO named like a picture: opening it to read would wait for a writer for ever.
    WriteGradient(P("a.png"), 20, 20);
    ASSERT_EQ(::mkfifo(QFile::encodeName(P("pipe.png")).constData(), 0644), 0);
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", m_config.path());
    tool.setProcessEnvironment(env);
    tool.start(m_bin, {"-f", "bmp", "-o", P("o"), P("pipe.png"), P("a.png")});
    const bool ended = tool.waitForFinished(20000);
    if (!ended) {
        tool.kill();
        tool.waitForFinished();
    }
    ASSERT_TRUE(ended) << "quilla-convert waited on the FIFO";
    EXPECT_EQ(tool.exitCode(), 1);
    const QString err = QString::fromUtf8(tool.readAllStandardError());
    EXPECT_TRUE(err.contains(P("pipe.png") + ": not a regular file")) << err.toStdString();
    EXPECT_TRUE(QFileInfo(P("o/a.bmp")).isFile());

    // The imaging library itself refuses it rather than wait (a file swapped for a FIFO after the
    // check): a writer opened after a while would free a reader that waits.
    std::atomic<bool> done{false};
    std::thread rescue([&] {
        for (int i = 0; i < 100 && !done.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!done.load()) {
            const int fd = ::open(QFile::encodeName(P("pipe.png")).constData(), O_WRONLY);
            if (fd >= 0)
                ::close(fd);
        }
    });
    CImageKit kit;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(kit.Load(P("pipe.png"), false));
    done.store(true);
    rescue.join();
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST_F(Tool, PluginsThatHangCrashOrLieFailTheirFilesAndTheRestIsConverted) {
    const QString spi = P("spi");
    ASSERT_TRUE(QDir().mkpath(spi));
    for (const char* p : {"hang4", "exits", "garbage", "qpic"})
        ASSERT_TRUE(QFile::copy((testpaths::SpiDir() + QStringLiteral("/%1.spi")).arg(p),
                                spi + QStringLiteral("/%1.spi").arg(p)));
    auto picture = [this](const char* name, const char* magic) {
        QByteArray b(magic, 4);
        b.append("\x02\x00\x02\x00", 4).append(QByteArray(12, char(90)));
        WriteAll(P(name), b);
        return P(name);
    };
    Store(QStringLiteral("[System]\nUseSusiePlugin=1\nSusiePlugin=%1\n").arg(spi).toUtf8());
    WriteGradient(P("e.png"), 20, 20);
    QByteArray err;
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(
        Launch({"-f", "bmp", "-o", P("o"), picture("a.hang", "HANG"), picture("b.exit", "EXIT"),
                picture("c.junk", "JUNK"), picture("d.qpic", "QPIC"), P("e.png")},
               &err),
        1);
    // One picture deadline for the plug-in that hangs, not for ever.
    EXPECT_LT(t.elapsed(), kSpiPictureDeadlineMs + 10000);
    EXPECT_TRUE(QFileInfo(P("o/d.bmp")).isFile());
    EXPECT_TRUE(QFileInfo(P("o/e.bmp")).isFile());
    for (const char* gone : {"o/a.bmp", "o/b.bmp", "o/c.bmp"})
        EXPECT_FALSE(QFileInfo::exists(P(gone))) << gone;
    EXPECT_TRUE(err.contains("3 of 5 files could not be converted")) << err.constData();
    // A plug-in that hung or ended is named with what it did, in the host's words; one that only
    // answered with garbage the host refused leaves the file unreadable, as any bad file.
    const QString text = QString::fromUtf8(err);
    EXPECT_TRUE(text.contains(QStringLiteral("a.hang: プラグイン hang4.spi が応答しません")))
        << err.constData();
    EXPECT_TRUE(text.contains(QStringLiteral("b.exit: プラグイン exits.spi が異常終了しました")))
        << err.constData();
    EXPECT_TRUE(text.contains(QStringLiteral("c.junk: cannot read the image"))) << err.constData();
}

TEST_F(Tool, KeepsTheSourcesColourProfileInJpegPngAndTiff) {
    REQUIRE_PROGRAM(kPython);
    REQUIRE_PROGRAM(kConvert);
    const QString profile = "/usr/share/color/icc/colord/ProPhotoRGB.icc";
    if (!QFile::exists(profile))
        GTEST_SKIP() << "colord-data is not installed";
    WriteGradient(P("g.png"), 90, 60);
    // The same pixels with ProPhoto assigned (ImageMagick embeds it without converting).
    ASSERT_TRUE(convtest::Run(kConvert, {P("g.png"), "-profile", profile, P("pro.png")}));
    const QString md5 = QCryptographicHash::hash(ReadAll(profile), QCryptographicHash::Md5).toHex();
    for (const char* format : {"jpeg", "png", "tiff"}) {
        SCOPED_TRACE(format);
        const QString out = P(QString("out-") + format);
        ASSERT_EQ(Launch({"-q", "-f", format, "-o", out, P("pro.png")}), 0);
        const QString file =
            QDir(out).filePath(QString("pro.") + (format == QString("jpeg")   ? "jpg"
                                                  : format == QString("tiff") ? "tif"
                                                                              : "png"));
        // Pillow reads the profile back; the pixels are those of the source, not converted.
        EXPECT_EQ(Pillow("import sys, hashlib; from PIL import Image, ImageChops; "
                         "a = Image.open(sys.argv[1]); b = Image.open(sys.argv[2]).convert('RGB'); "
                         "d = ImageChops.difference(a.convert('RGB'), b).getextrema(); "
                         "print(hashlib.md5(a.info.get('icc_profile', b'')).hexdigest(), "
                         "max(x[1] for x in d) <= (12 if sys.argv[3] == 'jpeg' else 0))",
                         {file, P("g.png"), format}),
                  md5 + " True");
    }
}
