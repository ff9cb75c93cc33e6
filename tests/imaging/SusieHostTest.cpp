// The import plug-in host with real plug-ins built by the tests: loading a folder, kinds, names
// loaded once, formats, extensions, decoding with its retry and error numbers, threads, and the
// pictures reaching CImageKit. Every plug-in runs in a helper process: none is ever loaded into
// the test's own.
#include "ImagingSupport.h"

#include "imaging/ImageKit.h"
#include "imaging/SPIControl.h"
#include "imaging/SusieHost.h"
#include "platform/FileNames.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>
#include <dlfcn.h>
#include <thread>

using namespace testimg;

namespace {

// A picture of the test plug-ins' format: magic, 16-bit width and height, R, G, B top down,
// optionally after a 128-byte header.
QByteArray TestPicture(const char* magic, int w, int h, bool header128 = false) {
    QByteArray b;
    if (header128)
        b = QByteArray(128, 'M');
    b.append(magic, 4);
    b.append(char(w & 0xFF)).append(char(w >> 8)).append(char(h & 0xFF)).append(char(h >> 8));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.append(char(x * 40)).append(char(y * 40)).append(char(100));
    return b;
}

// The pixel of TestPicture's pattern reduced by a whole factor k that divides its sides: the
// rounded average of the k x k block at (x, y) of the reduced picture.
QRgb ReducedTestPixel(int x, int y, int k) {
    int r = 0, g = 0;
    for (int i = 0; i < k; ++i) {
        r += ((x * k + i) * 40) & 0xFF;
        g += ((y * k + i) * 40) & 0xFF;
    }
    return qRgb((r * k + k * k / 2) / (k * k), (g * k + k * k / 2) / (k * k), 100);
}

// True when the module is loaded into this process (it never should be).
bool LoadedHere(const QString& path) {
    void* h = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (h)
        dlclose(h);
    return h != nullptr;
}

// Records the notification for each plug-in kept.
class RecordingControl : public CSPIControl {
public:
    int OnPluginLoaded(const QString& fileName, const QString& text, int index) override {
        // The manager may be asked from here: the list is complete.
        notified << QStringLiteral("%1:%2:%3:%4").arg(fileName, text).arg(index).arg(GetSize());
        return CSPIControl::OnPluginLoaded(fileName, text, index);
    }
    QStringList notified;
};

class SusieHostTest : public ::testing::Test {
protected:
    QDir Dir() const { return QDir(m_dir.path()); }
    // Copies built plug-ins into a folder of the temporary folder.
    QString Folder(const QString& sub, const QStringList& plugins) {
        Dir().mkpath(sub);
        const QString folder = Dir().filePath(sub);
        for (const QString& p : plugins)
            EXPECT_TRUE(QFile::copy(BuiltSpi(p), folder + "/" + p + ".spi")) << p.toStdString();
        return folder;
    }
    QString File(const QString& name, const QByteArray& bytes) {
        return WriteBytes(Dir(), name, bytes);
    }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(SusieHostTest, KeepsOnlyImportFiltersAndSurvivesBrokenPlugins) {
    const QString folder =
        Folder("mixed", {"qpic", "twoformat", "archive", "oddversion", "noexports", "crash"});
    // A file that is no shared object at all, and one that is not called *.spi.
    WriteBytes(QDir(folder), "garbage.spi", "this is not a plug-in");
    ASSERT_TRUE(QFile::copy(BuiltSpi("combined"), folder + "/combined.dll"));
    RecordingControl spi;
    // The crashing plug-in is caught in its helper and skipped; so are the plug-in without
    // exports and the garbage. The archive plug-in (00AM) and the one with a version text not
    // starting "00" answer, and are found not to be import filters.
    EXPECT_EQ(spi.LoadFolder(folder), 2);
    ASSERT_EQ(spi.GetSize(), 2);
    QStringList names{spi.FileNameAt(0), spi.FileNameAt(1)};
    names.sort();
    EXPECT_EQ(names, QStringList({"qpic.spi", "twoformat.spi"}));
    ASSERT_EQ(spi.notified.size(), 2);
    EXPECT_EQ(spi.notified[0], spi.FileNameAt(0) + "::0:2");
    EXPECT_EQ(spi.notified[1], spi.FileNameAt(1) + "::1:2");
    for (const char* name : {"archive", "oddversion", "qpic", "crash"})
        EXPECT_FALSE(LoadedHere(folder + "/" + name + ".spi")) << name;
    EXPECT_EQ(spi.GetFormatCount(), 3);
    // The refused ones are listed with why.
    const QString refused = spi.Refused().join('\n');
    EXPECT_TRUE(refused.contains(
        QStringLiteral("crash.spi（使用できません: 読み込み中に異常終了しました）")))
        << refused.toStdString();
    EXPECT_TRUE(refused.contains(
        QStringLiteral("noexports.spi（使用できません: GetPluginInfo がありません）")))
        << refused.toStdString();
}

TEST_F(SusieHostTest, KindsAndTextsOfOnePlugin) {
    CSPICore core;
    QString why;
    EXPECT_FALSE(core.Load(Dir().filePath("missing.spi"), &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(core.IsLoaded());
    EXPECT_FALSE(core.Load(BuiltSpi("noexports"), &why));
    EXPECT_EQ(why, QStringLiteral("GetPluginInfo がありません"));
    // A plug-in built for another processor is said to be one.
    EXPECT_FALSE(core.Load(BuiltSpi("foreign"), &why));
    EXPECT_EQ(why, QStringLiteral("このシステム用のプラグインではありません"));
    ASSERT_TRUE(core.Load(BuiltSpi("archive")));
    EXPECT_EQ(core.m_nKind, kSpiKindArchiveMulti);
    ASSERT_TRUE(core.Load(BuiltSpi("oddversion")));
    EXPECT_EQ(core.m_nKind, kSpiKindUnknown);
    ASSERT_TRUE(core.Load(BuiltSpi("twoformat")));
    EXPECT_EQ(core.m_nKind, kSpiKindImportMulti);
    EXPECT_EQ(core.m_strFileName, QStringLiteral("twoformat.spi"));
    EXPECT_EQ(core.m_strPath, BuiltSpi("twoformat"));
    EXPECT_EQ(core.m_nFormats, 2);
    EXPECT_EQ(core.m_patterns, QStringList({"*.qa", "*.qb"}));
    EXPECT_EQ(core.m_descriptions, QStringList({"QA picture", "QB picture"}));
    EXPECT_EQ(core.Info(1, 256), QStringLiteral("Test plug-in"));
    int length = 0;
    EXPECT_EQ(core.Info(2, 3, &length), QStringLiteral("*.q"));
    EXPECT_EQ(length, 3);
    EXPECT_EQ(core.Info(6, 256, &length), QString());
    EXPECT_EQ(length, 0);
    // A text that fills the whole buffer without ending is cut at the buffer, and a list of
    // formats that never ends stops at a bound.
    ASSERT_TRUE(core.Load(BuiltSpi("unterminated")));
    EXPECT_EQ(core.m_nFormats, kSpiMaxFormats); // it never stops answering
    EXPECT_EQ(core.m_patterns[0], QString(256, QLatin1Char('x')));
    EXPECT_EQ(core.CountFormats(), kSpiMaxFormats);
    core.Unload();
    EXPECT_FALSE(core.IsLoaded());
    EXPECT_TRUE(core.m_patterns.isEmpty());
    EXPECT_FALSE(LoadedHere(BuiltSpi("twoformat")));
}

TEST_F(SusieHostTest, FolderWithOrWithoutSlashAndTheCurrentFolder) {
    const QString folder = Folder("plain", {"qpic"});
    CSPIControl a, b, c;
    EXPECT_EQ(a.LoadFolder(folder), 1);
    EXPECT_EQ(b.LoadFolder(folder + "/"), 1);
    EXPECT_EQ(a.FileNameAt(0), b.FileNameAt(0));
    // An empty folder text searches the current folder.
    const QString old = QDir::currentPath();
    QDir::setCurrent(folder);
    EXPECT_EQ(c.LoadFolder(QString()), 1);
    QDir::setCurrent(old);
    EXPECT_EQ(c.FileNameAt(0), QStringLiteral("qpic.spi"));
    // A folder without plug-ins, and one that does not exist.
    EXPECT_EQ(c.LoadFolder(Dir().path()), 0);
    EXPECT_EQ(c.LoadFolder(Dir().filePath("nowhere")), 0);
    EXPECT_EQ(c.GetSize(), 1);
}

TEST_F(SusieHostTest, TheSameFileNameIsNeverLoadedTwice) {
    const QString first = Folder("first", {"qpic"});
    const QString second = Folder("second", {"qpic", "combined"});
    CSPIControl spi;
    EXPECT_EQ(spi.LoadFolder(first), 1);
    // The setting switched on again: the same folder adds nothing.
    EXPECT_EQ(spi.LoadFolder(first), 0);
    // Another folder with a plug-in of the same file name adds only the new one.
    EXPECT_EQ(spi.LoadFolder(second), 1);
    EXPECT_EQ(spi.GetSize(), 2);
    EXPECT_EQ(spi.FileNameAt(1), QStringLiteral("combined.spi"));
    EXPECT_EQ(spi.GetFormatCount(), 2);
}

TEST_F(SusieHostTest, ExtensionsMatchWholePatternsIgnoringCase) {
    CSPIControl spi;
    EXPECT_EQ(spi.GetFormatCount(), 0);
    EXPECT_FALSE(spi.IsSupportedExtension(".qpic"));
    spi.LoadFolder(Folder("ext", {"qpic", "combined", "twoformat"}));
    EXPECT_EQ(spi.GetFormatCount(), 4);
    EXPECT_TRUE(spi.IsSupportedExtension(".qpic"));
    EXPECT_TRUE(spi.IsSupportedExtension(".QPic"));
    EXPECT_TRUE(spi.IsSupportedExtension(".qb"));
    EXPECT_FALSE(spi.IsSupportedExtension(".qp"));
    EXPECT_FALSE(spi.IsSupportedExtension("qpic"));
    // A combined pattern text matches only as a whole.
    EXPECT_FALSE(spi.IsSupportedExtension(".rgb"));
    EXPECT_FALSE(spi.IsSupportedExtension(".q0"));
    EXPECT_TRUE(spi.IsSupportedExtension(".RGB;*.Q0"));
}

TEST_F(SusieHostTest, DecodeResultsAndShortFiles) {
    CSPIControl spi;
    const QString folder = Folder("decode", {"qpic"});
    ASSERT_EQ(spi.LoadFolder(folder), 1);
    SpiPicture picture;
    SpiPictureInfo info;
    const QString pic = File("tiny.qpic", TestPicture("QPIC", 2, 1)); // 14 bytes
    EXPECT_EQ(spi.DecodeFile(QString(), &picture), kSpiErrBadArgument);
    EXPECT_EQ(spi.DecodeFile(pic, nullptr), kSpiErrBadArgument);
    EXPECT_EQ(spi.DecodeFile(Dir().filePath("missing.qpic"), &picture), kSpiErrRead);
    EXPECT_EQ(spi.DecodeFile(Dir().path(), &picture), kSpiErrRead); // a folder
    EXPECT_EQ(spi.DecodeFile(File("other.qpic", "JUNKJUNK"), &picture), kSpiErrNoDecoder);
    EXPECT_EQ(spi.LastDecoder(), -1);
    // A file far shorter than 2,048 bytes is still offered and decoded.
    ASSERT_EQ(spi.DecodeFile(pic, &picture, &info), 0);
    EXPECT_EQ(spi.LastDecoder(), 0);
    ASSERT_EQ(picture.image.size(), QSize(2, 1));
    EXPECT_EQ(picture.image.format(), QImage::Format_RGB888);
    // The picture reads the memory the helper shared, without a copy of its own.
    EXPECT_EQ(picture.image.constBits(), picture.memory.Data());
    EXPECT_EQ(picture.image.pixel(0, 0), qRgb(0, 0, 100));
    EXPECT_EQ(picture.image.pixel(1, 0), qRgb(40, 0, 100));
    EXPECT_EQ(info.width, 2);
    EXPECT_EQ(info.height, 1);
    EXPECT_EQ(info.left, 0);
    EXPECT_EQ(info.text, QByteArray("comment"));
    // The file's name may hold bytes that are not UTF-8.
    const QString raw = Dir().path() + "/" + FileNames::FromNative(QByteArray("\x8e\xca.qpic"));
    {
        std::FILE* f = std::fopen(FileNames::ToNative(raw).constData(), "wb");
        ASSERT_NE(f, nullptr);
        const QByteArray bytes = ReadBytes(pic);
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f);
        std::fclose(f);
    }
    ASSERT_EQ(spi.DecodeFile(raw, &picture), 0);
    EXPECT_EQ(picture.image.size(), QSize(2, 1));
}

TEST_F(SusieHostTest, SecondTryAtOffset128ExceptAfterAStop) {
    const QString folder = Folder("retry", {"offset128", "abort", "broken"});
    CSPIControl spi;
    // One helper: the plug-ins' logs are all in it.
    spi.SetHelperCount(1);
    ASSERT_EQ(spi.LoadFolder(folder), 3);
    auto index = [&spi](const QString& name) {
        for (int i = 0; i < spi.GetSize(); ++i)
            if (spi.FileNameAt(i) == name)
                return i;
        return -1;
    };
    const int mac = index("offset128.spi"), stop = index("abort.spi"), broken = index("broken.spi");
    SpiPicture picture;
    SpiPictureInfo info;
    // A picture behind a 128-byte header: the first try fails, the second at 128 succeeds, and
    // the information is asked the same way.
    ASSERT_EQ(spi.DecodeFile(File("a.mac", TestPicture("O128", 3, 2, true)), &picture, &info), 0);
    EXPECT_EQ(spi.FileNameAt(spi.LastDecoder()), QStringLiteral("offset128.spi"));
    const QByteArray macLog = spi.AskText(mac, 1000);
    EXPECT_TRUE(macLog.endsWith("GetPicture:0;GetPicture:128;GetPictureInfo:0;"
                                "GetPictureInfo:128;"))
        << macLog.toStdString();
    EXPECT_EQ(info.width, 3);
    EXPECT_EQ(picture.image.size(), QSize(3, 2));
    // Result 1 (stopped by the callback) is not retried; result 3 is. Neither decodes.
    EXPECT_EQ(spi.DecodeFile(File("a.abrt", TestPicture("ABRT", 1, 1)), &picture),
              kSpiErrNoDecoder);
    const QByteArray stopLog = spi.AskText(stop, 1000);
    EXPECT_TRUE(stopLog.endsWith("IsSupported:0;GetPicture:0;")) << stopLog.toStdString();
    EXPECT_TRUE(picture.image.isNull());
    EXPECT_EQ(spi.DecodeFile(File("a.brkn", TestPicture("BRKN", 1, 1)), &picture),
              kSpiErrNoDecoder);
    const QByteArray brokenLog = spi.AskText(broken, 1000);
    EXPECT_TRUE(brokenLog.endsWith("IsSupported:0;GetPicture:0;GetPicture:128;"))
        << brokenLog.toStdString();
    // All of it in one helper process.
    EXPECT_EQ(spi.HelpersStarted(), 1);
}

TEST_F(SusieHostTest, ThreadsDecodeAtOnceThroughAFewHelpers) {
    const QString folder = Folder("threads", {"slow", "qpic"});
    CSPIControl spi;
    spi.SetHelperCount(2);
    ASSERT_EQ(spi.LoadFolder(folder), 2);
    const QString pic = File("a.slow", TestPicture("SLOW", 4, 4));
    const QString other = File("b.qpic", TestPicture("QPIC", 4, 4));
    std::atomic<int> decoded{0}, counted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 4; ++i) {
                SpiPicture picture;
                if (spi.DecodeFile(t % 2 ? pic : other, &picture) == 0 &&
                    picture.image.size() == QSize(4, 4))
                    ++decoded;
                if (spi.GetFormatCount() == 2 && spi.IsSupportedExtension(".slow"))
                    ++counted;
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(decoded, 16);
    EXPECT_EQ(counted, 16);
    // Two helpers served four threads.
    EXPECT_LE(spi.HelpersStarted(), 2);
    EXPECT_FALSE(LoadedHere(folder + "/slow.spi"));
}

TEST_F(SusieHostTest, PicturesReachTheImageKit) {
    // Before any plug-in is loaded the extension is not an image file and nothing is decoded.
    const QString demo = Dir().filePath("a.demo");
    QByteArray bytes("DEMO");
    bytes.append(char(3)).append(char(0)).append(char(2)).append(char(0));
    const char rgb[] = {char(255), 0,  0,  0,  char(255), 0,  0,  0,  char(255),
                        10,        20, 30, 40, 50,        60, 70, 80, 90};
    bytes.append(rgb, sizeof rgb);
    File("a.demo", bytes);
    EXPECT_FALSE(IsImageFile(demo));
    CImageKit kit;
    EXPECT_FALSE(kit.LoadByPlugin(demo));

    EXPECT_EQ(SusieHost::LoadFolder(Folder("kit", {"demo", "liar"})), 2);
    EXPECT_EQ(SusieHost::PluginFolder(), Dir().filePath("kit"));
    EXPECT_TRUE(IsImageFile(demo));
    EXPECT_TRUE(IsImageFile("/x/PICTURE.DEMO"));
    EXPECT_FALSE(IsImageFile("/x/a.demo2"));
    ASSERT_TRUE(kit.Load(demo, false));
    ASSERT_FALSE(kit.IsEmpty());
    EXPECT_EQ(kit.GetSize(), QSize(3, 2));
    EXPECT_EQ(kit.GetBitCount(), 24);
    const QImage& img = ik::Get(kit.GetHandle())->img;
    EXPECT_EQ(img.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(2, 0), qRgb(0, 0, 255));
    EXPECT_EQ(img.pixel(2, 1), qRgb(70, 80, 90));

    // A known extension whose content the library does not read goes to the plug-ins too.
    const QString disguised = File("really-demo.png", bytes);
    EXPECT_EQ(GetFileTypeCode(disguised), 0);
    ASSERT_TRUE(kit.Load(disguised, false));
    EXPECT_EQ(kit.GetSize(), QSize(3, 2));
    QSize original;
    ASSERT_TRUE(kit.LoadForThumbnail(demo, QSize(80, 80), &original));
    EXPECT_EQ(original, QSize(3, 2));

    // A plug-in whose picture breaks the library's limits: loaded, but no image; the earlier
    // image is released all the same.
    const int before = ik::Count();
    EXPECT_TRUE(kit.Load(File("a.liar", TestPicture("LIAR", 2, 2)), false));
    EXPECT_TRUE(kit.IsEmpty());
    EXPECT_EQ(ik::Count(), before - 1);
    // Nobody reads it: the load fails and leaves nothing.
    EXPECT_FALSE(kit.Load(File("b.demo", "DEMO"), false));
    EXPECT_TRUE(kit.IsEmpty());
}

TEST_F(SusieHostTest, LargePicturesComeWholeWhicheverWayTheirRowsAreStored) {
    // 1000 x 800 at 24 bits: the helper writes it into the shared memory a band of rows at a
    // time (about 1 MiB each), from bits stored bottom-up (QPIC) or top-down (QTOP).
    const QString folder = Folder("large", {"qpic", "qtop"});
    CSPIControl spi;
    ASSERT_EQ(spi.LoadFolder(folder), 2);
    for (const char* magic : {"QPIC", "QTOP"}) {
        SCOPED_TRACE(magic);
        const QString path = File(QStringLiteral("big.%1").arg(QString(magic).toLower()),
                                  TestPicture(magic, 1000, 800));
        SpiPicture picture;
        ASSERT_EQ(spi.DecodeFile(path, &picture), 0);
        ASSERT_EQ(picture.image.size(), QSize(1000, 800));
        EXPECT_EQ(picture.image.format(), QImage::Format_RGB888);
        int wrong = 0;
        for (int y = 0; y < 800; ++y)
            for (int x = 0; x < 1000; ++x)
                wrong += picture.image.pixel(x, y) != qRgb((x * 40) & 0xFF, (y * 40) & 0xFF, 100);
        EXPECT_EQ(wrong, 0);
        // The image may be changed in place; the helper's memory stays as it was.
        picture.image.setPixel(0, 0, qRgb(1, 2, 3));
        EXPECT_EQ(picture.image.pixel(0, 0), qRgb(1, 2, 3));
    }
}

TEST_F(SusieHostTest, ThumbnailsAskTheReducedEntryWithTheWantedSize) {
    const QString folder = Folder("scaled", {"scaled", "qpic"});
    CSPIControl spi;
    spi.SetHelperCount(1); // one helper: the plug-ins' logs are all in it
    ASSERT_EQ(spi.LoadFolder(folder), 2);
    const int scaled = [&spi] {
        for (int i = 0; i < spi.GetSize(); ++i)
            if (spi.FileNameAt(i) == "scaled.spi")
                return i;
        return -1;
    }();
    const QString pic = File("a.qsc", TestPicture("QSCL", 64, 48));
    SpiPicture picture;
    // A thumbnail of 16 x 16: the plug-in gets the box and reduces by 3 (21 x 16 still covers
    // it); the whole size comes from GetPictureInfo.
    ASSERT_EQ(spi.DecodeFile(pic, &picture, nullptr, nullptr, false, nullptr, QSize(16, 16)), 0);
    EXPECT_EQ(picture.image.size(), QSize(21, 16));
    EXPECT_EQ(picture.whole, QSize(64, 48));
    EXPECT_EQ(picture.image.pixel(1, 1), qRgb(120, 120, 100)); // the source's pixel (3, 3)
    QByteArray log = spi.AskText(scaled, 1000);
    EXPECT_TRUE(log.endsWith("IsSupported:0;GetPictureScaled:0;box:1600016;GetPictureInfo:0;"))
        << log.toStdString();
    // The whole picture (preview, conversion) comes from GetPicture.
    ASSERT_EQ(spi.DecodeFile(pic, &picture), 0);
    EXPECT_EQ(picture.image.size(), QSize(64, 48));
    EXPECT_TRUE(picture.whole.isEmpty());
    log = spi.AskText(scaled, 1000);
    EXPECT_TRUE(log.endsWith("IsSupported:0;GetPicture:0;")) << log.toStdString();
    // A box larger than the picture: the reduced entry gives it whole, which its information
    // confirms; nothing more is asked.
    ASSERT_EQ(spi.DecodeFile(pic, &picture, nullptr, nullptr, false, nullptr, QSize(200, 100)), 0);
    EXPECT_EQ(picture.image.size(), QSize(64, 48));
    EXPECT_TRUE(picture.whole.isEmpty());
    log = spi.AskText(scaled, 1000);
    EXPECT_TRUE(log.endsWith("GetPictureScaled:0;box:20000100;GetPictureInfo:0;"))
        << log.toStdString();
    // A plug-in without the export gives the whole picture for a thumbnail too, which the helper
    // reduces as the imaging library reduces its own formats (by 4: 16 x 12 is the thumbnail).
    const QString plain = File("b.qpic", TestPicture("QPIC", 64, 48));
    ASSERT_EQ(spi.DecodeFile(plain, &picture, nullptr, nullptr, false, nullptr, QSize(16, 16)), 0);
    EXPECT_EQ(picture.image.size(), QSize(16, 12));
    EXPECT_EQ(picture.whole, QSize(64, 48));
    for (const QPoint at : {QPoint(0, 0), QPoint(5, 7), QPoint(15, 11)})
        EXPECT_EQ(picture.image.pixel(at), ReducedTestPixel(at.x(), at.y(), 4)) << at.x();
    // A box that needs less than half the picture in neither direction leaves it whole.
    ASSERT_EQ(spi.DecodeFile(plain, &picture, nullptr, nullptr, false, nullptr, QSize(40, 40)), 0);
    EXPECT_EQ(picture.image.size(), QSize(64, 48));
    EXPECT_TRUE(picture.whole.isEmpty());

    // Through the image kit as the thumbnails load it: the reduced picture and the whole size;
    // Load (the preview window, conversion) gets the whole picture.
    ASSERT_EQ(SusieHost::LoadFolder(folder), 2);
    CImageKit kit;
    QSize original;
    ASSERT_TRUE(kit.LoadForThumbnail(pic, QSize(16, 16), &original));
    EXPECT_EQ(kit.GetSize(), QSize(21, 16));
    EXPECT_EQ(original, QSize(64, 48));
    ASSERT_TRUE(kit.LoadForThumbnail(plain, QSize(16, 16), &original));
    EXPECT_EQ(kit.GetSize(), QSize(16, 12));
    EXPECT_EQ(original, QSize(64, 48));
    ASSERT_TRUE(kit.Load(pic, false));
    EXPECT_EQ(kit.GetSize(), QSize(64, 48));
    ASSERT_TRUE(kit.LoadScaled(pic, QSize(32, 24), &original));
    EXPECT_EQ(kit.GetSize(), QSize(32, 24));
    EXPECT_EQ(original, QSize(64, 48));
}

TEST_F(SusieHostTest, AReducedPictureThatDoesNotHoldTogetherGivesWayToTheWholeOne) {
    const QString folder =
        Folder("unsound", {"scaledsmall", "scaledfails", "scaledgarbage", "scaledstops"});
    CSPIControl spi;
    spi.SetHelperCount(1);
    ASSERT_EQ(spi.LoadFolder(folder), 4);
    auto logOf = [&spi](const QString& name) {
        for (int i = 0; i < spi.GetSize(); ++i)
            if (spi.FileNameAt(i) == name)
                return spi.AskText(i, 1000);
        return QByteArray();
    };
    const QSize box(16, 16);
    SpiPicture picture;
    struct Case {
        const char* plugin;
        const char* file;
        const char* magic;
        const char* logEnd;
    };
    const Case cases[] = {
        // Smaller than promised (its information says the picture is larger): GetPicture.
        {"scaledsmall.spi", "a.qss", "QSSM",
         "GetPictureScaled:0;box:1600016;GetPictureInfo:0;GetPicture:0;"},
        // An error from the reduced entry: GetPicture.
        {"scaledfails.spi", "a.qsf", "QSFL", "GetPictureScaled:0;box:1600016;GetPicture:0;"},
        // Handles that point nowhere: GetPicture, in the same helper.
        {"scaledgarbage.spi", "a.qsg", "QSGB", "GetPictureScaled:0;box:1600016;GetPicture:0;"},
    };
    for (const Case& c : cases) {
        const QString path = File(c.file, TestPicture(c.magic, 64, 48));
        ASSERT_EQ(spi.DecodeFile(path, &picture, nullptr, nullptr, false, nullptr, box), 0)
            << c.plugin;
        // The whole picture, reduced in the helper for the thumbnail.
        EXPECT_EQ(picture.image.size(), QSize(16, 12)) << c.plugin;
        EXPECT_EQ(picture.whole, QSize(64, 48)) << c.plugin;
        EXPECT_EQ(picture.image.pixel(15, 11), ReducedTestPixel(15, 11, 4)) << c.plugin;
        const QByteArray log = logOf(c.plugin);
        EXPECT_TRUE(log.endsWith(c.logEnd)) << c.plugin << ": " << log.toStdString();
    }
    // A picture smaller than the box that is the whole picture is taken as it is.
    ASSERT_EQ(spi.DecodeFile(File("b.qss", TestPicture("QSSM", 1, 1)), &picture, nullptr, nullptr,
                             false, nullptr, box),
              0);
    EXPECT_EQ(picture.image.size(), QSize(1, 1));
    EXPECT_TRUE(
        logOf("scaledsmall.spi").endsWith("GetPictureScaled:0;box:1600016;GetPictureInfo:0;"));
    // Stopped by its callback: stopped, neither GetPicture nor the second offset is tried.
    EXPECT_EQ(spi.DecodeFile(File("a.qst", TestPicture("QSST", 64, 48)), &picture, nullptr, nullptr,
                             false, nullptr, box),
              kSpiErrNoDecoder);
    EXPECT_TRUE(logOf("scaledstops.spi").endsWith("IsSupported:0;GetPictureScaled:0;box:1600016;"));
    // None of it cost the helper or counted against a plug-in.
    EXPECT_EQ(spi.HelpersStarted(), 1);
    for (int i = 0; i < spi.GetSize(); ++i)
        EXPECT_FALSE(spi.IsSetAsideAt(i));
}

TEST_F(SusieHostTest, APluginThatHangsInTheReducedEntryFailsTheThumbnailOnly) {
    const QString folder = Folder("hangs", {"scaledhang"});
    CSPIControl spi;
    spi.SetHelperCount(1);
    ASSERT_EQ(spi.LoadFolder(folder), 1);
    const QString path = File("a.qsh", TestPicture("QSHG", 64, 48));
    SpiPicture picture;
    QString reason;
    EXPECT_EQ(spi.DecodeFile(path, &picture, nullptr, &reason, false, nullptr, QSize(16, 16)),
              kSpiErrPluginFailed);
    EXPECT_EQ(reason, QStringLiteral("プラグイン scaledhang.spi が応答しません"));
    EXPECT_TRUE(picture.image.isNull());
    // The whole picture does not go through the entry that hangs, in a fresh helper.
    ASSERT_EQ(spi.DecodeFile(path, &picture), 0);
    EXPECT_EQ(picture.image.size(), QSize(64, 48));
    EXPECT_EQ(spi.HelpersStarted(), 2);
}
