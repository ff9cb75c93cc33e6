// Plug-ins are loaded into the helper only when a file first needs them: a plug-in later in the
// list than the one that reads a file is never loaded for it, one loaded stays for the next file,
// and one that hangs or crashes while loading, or has gone, costs nothing until a file needs it,
// which then fails with the reason. The shipped plug-ins whose libraries are heavy to load are a
// light front and a codec module: the codec is loaded only for a file whose first bytes may be
// its format, and a codec that hangs, crashes or is missing fails only such files.
#include "ImagingSupport.h"

#include "imaging/SPIControl.h"

#include <QCoreApplication>
#include <QFile>

using namespace testimg;

namespace {

QString ShippedDir() {
    return QDir(QCoreApplication::applicationDirPath()).filePath("plugins");
}

class LazyLoad : public ::testing::Test {
protected:
    QDir Dir() const { return QDir(m_dir.path()); }
    // A folder of the temporary folder holding copies of files ("from=to", from a full path).
    QString Folder(const QString& sub, const QStringList& copies) {
        Dir().mkpath(sub);
        const QString folder = Dir().filePath(sub);
        for (const QString& c : copies)
            Put(c.section('=', 0, 0), folder + "/" + c.section('=', -1));
        return folder;
    }
    // Puts a copy of from at to, replacing what is there (a new file, as an installer writes).
    static void Put(const QString& from, const QString& to) {
        QFile::remove(to);
        EXPECT_TRUE(QFile::copy(from, to)) << from.toStdString() << " -> " << to.toStdString();
    }
    QString File(const QString& name, const QByteArray& bytes) {
        return WriteBytes(Dir(), name, bytes);
    }
    static int IndexOf(const CSPIControl& spi, const QString& name) {
        for (int i = 0; i < spi.GetSize(); ++i)
            if (spi.FileNameAt(i) == name)
                return i;
        return -1;
    }
    // Decodes a file: its result, the picture's size in *size and the reason in *reason.
    static int Decode(CSPIControl& spi, const QString& path, QSize* size = nullptr,
                      QString* reason = nullptr) {
        SpiPicture picture;
        QString why;
        const int r = spi.DecodeFile(path, &picture, nullptr, &why);
        if (size)
            *size = picture.image.size();
        if (reason)
            *reason = why;
        return r;
    }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(LazyLoad, APluginIsLoadedForItsFirstFileAndKeptForTheNext) {
    CSPIControl spi;
    spi.SetHelperCount(1);
    // Two folders: qpic comes before counted in the list, whatever order a folder lists in.
    ASSERT_EQ(spi.LoadFolder(Folder("first", {BuiltSpi("qpic") + "=qpic.spi"})), 1);
    ASSERT_EQ(spi.LoadFolder(Folder("then", {BuiltSpi("counted") + "=counted.spi"})), 1);
    QSize size;
    EXPECT_EQ(Decode(spi, File("a.qpic", FlatTestPicture("QPIC", 3, 2)), &size), 0);
    EXPECT_EQ(size, QSize(3, 2));
    EXPECT_EQ(Decode(spi, File("b.cnt", FlatTestPicture("CNTD", 2, 2)), &size), 0);
    EXPECT_EQ(size, QSize(2, 2));
    EXPECT_EQ(Decode(spi, File("c.cnt", FlatTestPicture("CNTD", 4, 1)), &size), 0);
    EXPECT_EQ(size, QSize(4, 1));
    // One helper answered all; it loaded counted once and asked it about the two files it read
    // (and not about the qpic file, which qpic, first in the list, read).
    EXPECT_EQ(spi.HelpersStarted(), 1);
    const QByteArray log = spi.AskText(IndexOf(spi, "counted.spi"), 1000);
    EXPECT_EQ(log.count("load:1;"), 1) << log.constData();
    EXPECT_EQ(log.count("IsSupported"), 2) << log.constData();
}

TEST_F(LazyLoad, APluginThatHangsOrCrashesWhenLoadedCostsNothingUntilAFileNeedsIt) {
    const struct {
        const char* build;
        const char* reason;
    } cases[] = {{"loadhangs", "が応答しません"}, {"loadcrashes", "が異常終了しました"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.build);
        CSPIControl spi;
        spi.SetHelperCount(1);
        const QString sub = QString::fromLatin1(c.build);
        ASSERT_EQ(spi.LoadFolder(Folder(sub + "-a", {BuiltSpi("qpic") + "=qpic.spi"})), 1);
        // It was sound when the list was made, and was replaced afterwards.
        const QString later = Folder(sub + "-b", {BuiltSpi("scaled") + "=late.spi"});
        ASSERT_EQ(spi.LoadFolder(later), 1);
        Put(BuiltSpi(c.build), later + "/late.spi");
        const QString good = File(sub + ".qpic", FlatTestPicture("QPIC", 2, 3));
        QSize size;
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(Decode(spi, good, &size), 0) << i;
            EXPECT_EQ(size, QSize(2, 3)) << i;
        }
        EXPECT_EQ(spi.HelpersStarted(), 1); // never replaced: late.spi was not loaded
        // A file qpic does not read: late.spi is loaded to be asked, and the file fails.
        QString reason;
        EXPECT_EQ(Decode(spi, File(sub + ".qsc", FlatTestPicture("QSCL", 2, 2)), &size, &reason),
                  kSpiErrPluginFailed);
        EXPECT_EQ(reason, QStringLiteral("プラグイン late.spi ") + QString::fromUtf8(c.reason));
        // The next file is read by a fresh helper.
        EXPECT_EQ(Decode(spi, good, &size), 0);
        EXPECT_EQ(size, QSize(2, 3));
        EXPECT_EQ(spi.HelpersStarted(), 2);
    }
}

TEST_F(LazyLoad, APluginThatIsGoneFailsOnlyTheFilesThatReachItWithTheReason) {
    CSPIControl spi;
    spi.SetHelperCount(1);
    ASSERT_EQ(spi.LoadFolder(Folder("here", {BuiltSpi("qpic") + "=qpic.spi"})), 1);
    const QString gone = Folder("gone", {BuiltSpi("scaled") + "=gone.spi"});
    ASSERT_EQ(spi.LoadFolder(gone), 1);
    ASSERT_TRUE(QFile::remove(gone + "/gone.spi"));
    QSize size;
    EXPECT_EQ(Decode(spi, File("a.qpic", FlatTestPicture("QPIC", 1, 2)), &size), 0);
    EXPECT_EQ(size, QSize(1, 2));
    QString reason;
    EXPECT_EQ(Decode(spi, File("b.qsc", FlatTestPicture("QSCL", 2, 2)), &size, &reason),
              kSpiErrNoDecoder);
    EXPECT_TRUE(reason.startsWith(QStringLiteral("プラグイン gone.spi を読み込めません（")))
        << reason.toStdString();
    EXPECT_TRUE(reason.contains(QStringLiteral("gone.spi"))) << reason.toStdString();
    EXPECT_EQ(spi.HelpersStarted(), 1);
}

TEST_F(LazyLoad, AShippedFrontLoadsItsCodecOnlyForFilesThatMayBeItsOwn) {
    // heif.spi and jxl.spi, each copied with a codec module that hangs or crashes when loaded,
    // and asked before qpic: a qpic file (and a PNG) never loads the codecs; a file whose first
    // bytes may be HEIF or JPEG XL does, and fails with the reason; without its codec a front
    // reads nothing; with its own codec beside it, it reads its real files.
    for (const char* name : {"heif", "jxl"})
        if (!QFile::exists(ShippedDir() + "/" + name + ".spi"))
            GTEST_SKIP() << name << ".spi was not built";
    REQUIRE_TOOL("heif-enc");
    REQUIRE_TOOL("cjxl");
    const struct {
        const char* name;
        const char* codec; // the hostile build put in as its codec
        const char* reason;
        QByteArray head; // first bytes that may be the format
        const char* ext;
    } cases[] = {
        {"heif", "loadhangs", "が応答しません",
         QByteArray("\0\0\0\x18"
                    "ftypheic",
                    12),
         "heic"},
        {"jxl", "loadcrashes", "が異常終了しました", QByteArray("\xFF\x0A\xFA\x7F", 4), "jxl"}};
    QImage source(40, 30, QImage::Format_RGB32);
    source.fill(qRgb(200, 100, 50));
    const QString png = Dir().filePath("source.png");
    ASSERT_TRUE(source.save(png));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString spiName = QString::fromLatin1(c.name) + ".spi";
        const QString codecName = QString::fromLatin1(c.name) + "-codec.so";
        const QString front =
            Folder(QString::fromLatin1(c.name), {ShippedDir() + "/" + spiName + "=" + spiName,
                                                 BuiltSpi(c.codec) + "=" + codecName});
        CSPIControl spi;
        spi.SetHelperCount(1);
        ASSERT_EQ(spi.LoadFolder(front), 1);
        ASSERT_EQ(spi.LoadFolder(
                      Folder(QString::fromLatin1(c.name) + "-q", {BuiltSpi("qpic") + "=qpic.spi"})),
                  1);
        QSize size;
        EXPECT_EQ(Decode(spi,
                         File(QString::fromLatin1(c.name) + ".qpic", FlatTestPicture("QPIC", 3, 3)),
                         &size),
                  0);
        EXPECT_EQ(size, QSize(3, 3));
        EXPECT_EQ(Decode(spi, png), kSpiErrNoDecoder);
        EXPECT_EQ(spi.HelpersStarted(), 1); // the codec was not loaded
        QString reason;
        QByteArray maybe = c.head;
        maybe.append(QByteArray(200, 'x'));
        const QString suspect = File(QStringLiteral("suspect.") + c.ext, maybe);
        EXPECT_EQ(Decode(spi, suspect, &size, &reason), kSpiErrPluginFailed);
        EXPECT_EQ(reason,
                  QStringLiteral("プラグイン %1 ").arg(spiName) + QString::fromUtf8(c.reason));
        // Without a codec the front claims no file.
        ASSERT_TRUE(QFile::remove(front + "/" + codecName));
        EXPECT_EQ(Decode(spi, suspect), kSpiErrNoDecoder);
        // Its own codec, beside the copy: a real file is read.
        Put(ShippedDir() + "/" + codecName, front + "/" + codecName);
        const QString real = Dir().filePath(QStringLiteral("real.") + c.ext);
        if (QLatin1String(c.name) == QLatin1String("heif"))
            ASSERT_TRUE(RunTool("heif-enc", {"-q", "90", png, "-o", real}));
        else
            ASSERT_TRUE(RunTool("cjxl", {png, real, "--quiet"}));
        spi.Shutdown(); // fresh helpers, which load the copy again
        spi.Resume();
        EXPECT_EQ(Decode(spi, real, &size, &reason), 0) << reason.toStdString();
        EXPECT_EQ(size, QSize(40, 30));
    }
}
