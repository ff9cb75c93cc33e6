// The library from several threads at once: what a thumbnail worker pool does. Every thread
// decodes, fits, converts, sharpens and turns the same set of files (each its own images) and
// must get exactly what one thread alone gets, with its own status after every call. Run under
// ThreadSanitizer as well.
#include "ImagingSupport.h"

#include "imaging/ImageKit.h"
#include "imaging/ImageLibrary.h"

#include <QApplication>
#include <atomic>
#include <thread>

using namespace testimg;

namespace {

// A hash of the pixels of an image (not of the padding at the ends of its rows).
uint64_t Digest(IKHANDLE h) {
    const ik::Image* im = ik::Get(h);
    if (!im)
        return 0;
    uint64_t x = 1469598103934665603ull;
    const QImage& img = im->img;
    const qsizetype used = (qsizetype(img.width()) * img.depth() + 7) / 8;
    for (int y = 0; y < img.height(); ++y) {
        const uchar* line = img.constScanLine(y);
        for (qsizetype i = 0; i < used; ++i)
            x = (x ^ line[i]) * 1099511628211ull;
    }
    for (QRgb c : img.colorTable())
        x = (x ^ c) * 1099511628211ull;
    return x ^ uint64_t(im->bpp);
}

// What the thumbnail path makes of one file, through the entry points the workers will call.
struct Outcome {
    int typeOk = 0, width = 0, height = 0, type = 0;
    IKHANDLE loaded = 0;
    int loadStatus = 0;
    uint64_t thumb = 0, exifThumb = 0, fitted = 0, deep = 0, sharp = 0, turned = 0, kit = 0;
    bool operator==(const Outcome&) const = default;
};

Outcome Process(const QString& path) {
    Outcome o;
    const QByteArray p = path.toUtf8();
    std::vector<char> rec(IK_FILETYPE_SIZE);
    o.typeOk = IKFileType(p.constData(), 0, rec.data());
    std::memcpy(&o.width, rec.data() + IK_FT_WIDTH, 4);
    std::memcpy(&o.height, rec.data() + IK_FT_HEIGHT, 4);
    int16_t type = 0;
    std::memcpy(&type, rec.data() + IK_FT_TYPE, 2);
    o.type = type;
    std::vector<char> exif(IK_EXIF_SIZE);
    if (IKJpegExifInfo(p.constData(), exif.data())) {
        IKHANDLE t = 0;
        std::memcpy(&t, exif.data() + IK_EX_THUMBNAIL, 4);
        o.exifThumb = Digest(t);
        IKFreeMemory(t);
    }
    const IKHANDLE scaled = IKFileLoadScaled(p.constData(), 40, 30, nullptr, nullptr);
    o.thumb = Digest(scaled);
    const IKHANDLE full = IKFileLoad(p.constData(), 0, 0, 0, 0, "", "", "");
    o.loadStatus = IKGetErrorStatus(nullptr, 0);
    o.loaded = full ? 1 : 0;
    if (full) {
        char type40[IK_IMAGETYPE_SIZE];
        EXPECT_EQ(IKGetImageType(full, type40), 1);
        const IKIMAGEREF r = IKResize(IKIMAGEREF{full, 0}, 48, 36, IK_RESIZE_SMOOTH, 0, "", "", "");
        o.fitted = Digest(r.image);
        const IKHANDLE deep = IKConvertColor(r.image, 32, IK_PALETTE_OPTIMAL, IK_DITHER_ON,
                                             IK_THRESHOLD_MIDDLE, 0, "", "", "");
        o.deep = Digest(deep);
        const IKPOINT corners[4] = {{0, 0}, {48, 0}, {48, 36}, {0, 36}};
        const IKHANDLE sharp = IKSharp(IKIMAGEREF{deep, 0}, IK_AREA_POLYGON, corners, 4, 0,
                                       IK_SHARP_DEFAULT, 10, 0, "", "", "");
        o.sharp = Digest(sharp);
        const IKHANDLE turned = IKOrient(sharp, IK_ORIENT_ROTATE_90);
        o.turned = Digest(turned);
        for (IKHANDLE h : {r.image, deep, sharp, turned})
            IKFreeMemory(h);
        IKFreeMemory(full);
    }
    IKFreeMemory(scaled);
    // And through the program's wrapper, as a worker's picture window will.
    CImageKit kit;
    QSize original;
    if (kit.LoadForThumbnail(path, QSize(40, 40), &original))
        o.kit = Digest(kit.GetHandle()) ^ uint64_t(original.width());
    return o;
}

class Threads : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Have("convert") || !Have("exiftool"))
            GTEST_SKIP() << "ImageMagick or exiftool is not installed";
        const QString ppm = WritePpm(Dir(), "src.ppm", 150, 110);
        const std::pair<const char*, QStringList> kinds[] = {
            {"a.jpg", {}},
            {"b.jpg", {"-interlace", "Plane"}},
            {"c.png", {}},
            {"d.png", {"-colors", "16", "-interlace", "PNG"}},
            {"e.gif", {"-colors", "64", "-interlace", "GIF"}},
            {"f.tif", {"-compress", "LZW"}},
            {"g.tif", {"-monochrome", "-compress", "Group4"}},
            {"h.bmp", {}},
            {"i.pcx", {"-colors", "100", "-type", "Palette"}},
            {"j.tif", {"-compress", "Zip"}},
        };
        for (const auto& [name, options] : kinds)
            m_files << Convert(Dir(), ppm, QString::fromLatin1(name), options);
        // An Exif JPEG with a thumbnail, a truncated PNG, a hostile TIFF and junk.
        const QString cam = Convert(Dir(), ppm, "cam.jpg", {});
        const QString thumb = Convert(Dir(), ppm, "t.jpg", {"-resize", "40x30"});
        EXPECT_TRUE(RunTool("exiftool", {"-q", "-overwrite_original", "-Make=N", "-Orientation=6",
                                         "-n", "-ThumbnailImage<=" + thumb, cam}));
        m_files << cam;
        const QByteArray png = ReadBytes(m_files[2]);
        m_files << WriteBytes(Dir(), "cut.png", png.left(png.size() * 2 / 3));
        QByteArray tiff("II*\0\x08\0\0\0", 8);
        AppendLE16(tiff, 3);
        for (const auto& e : {std::array<uint32_t, 2>{256, 20000}, {257, 20000}, {273, 0}}) {
            AppendLE16(tiff, int(e[0]));
            AppendLE16(tiff, 4);
            AppendLE32(tiff, 1);
            AppendLE32(tiff, e[1]);
        }
        AppendLE32(tiff, 0);
        m_files << WriteBytes(Dir(), "hostile.tif", tiff);
        m_files << WriteBytes(Dir(), "junk.png", "not a picture at all");
    }
    QDir Dir() const { return QDir(m_dir.path()); }

    QTemporaryDir m_dir;
    QStringList m_files;
};

} // namespace

TEST_F(Threads, ManyFilesDecodedConcurrentlyGiveWhatOneThreadGives) {
    std::vector<Outcome> expected;
    for (const QString& f : m_files)
        expected.push_back(Process(f));
    // The set covers successes, a truncated file and failures of several kinds.
    EXPECT_EQ(expected[0].loadStatus, IK_ERR_NONE);
    EXPECT_NE(expected[10].exifThumb, 0u);
    EXPECT_EQ(expected[11].loadStatus, IK_STATUS_TRUNCATED);
    EXPECT_EQ(expected[12].loadStatus, IK_ERR_LIMIT);
    EXPECT_EQ(expected[13].loadStatus, IK_ERR_FORMAT);

    const int before = ik::Count();
    const int widgets = int(QApplication::topLevelWidgets().size());
    constexpr int kThreads = 6, kRounds = 3;
    std::vector<QStringList> mismatches(kThreads);
    std::vector<std::thread> pool;
    for (int t = 0; t < kThreads; ++t) {
        pool.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                for (int i = 0; i < m_files.size(); ++i) {
                    // Each thread walks the files from a different start.
                    const int k = (i + t * 3 + round) % int(m_files.size());
                    if (!(Process(m_files[k]) == expected[size_t(k)]))
                        mismatches[size_t(t)] << m_files[k];
                }
            }
        });
    }
    for (std::thread& th : pool)
        th.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_TRUE(mismatches[size_t(t)].isEmpty())
            << "thread " << t << ": " << mismatches[size_t(t)].join(", ").toStdString();
    EXPECT_EQ(ik::Count(), before); // every image released
    EXPECT_EQ(int(QApplication::topLevelWidgets().size()), widgets);
}

TEST_F(Threads, WorkersGetNoProgressWindowAndNoClipboardAndKeepTheirOwnTexts) {
    // A long load with progress texts and no delay: on the GUI thread this would show a window
    // at once; on a worker it must not create one (widgets belong to the GUI thread).
    QImage big(2000, 1500, QImage::Format_RGB32);
    big.fill(qRgb(40, 50, 60));
    const QString file = Dir().filePath("big.png");
    ASSERT_TRUE(big.save(file, "PNG"));
    IKSetProgressDelay(0);
    SetProgressTexts(false);
    const int widgets = int(QApplication::topLevelWidgets().size());
    // A widget made or driven on a worker makes Qt complain (its timers, its parent, its thread):
    // catch every message Qt gives while the worker runs.
    static std::atomic<int> qtMessages;
    qtMessages = 0;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString&) { ++qtMessages; });
    IKHANDLE loaded = 0;
    int clipboard = -1, clipboardStatus = 0;
    QByteArray workerCaption;
    std::thread worker([&] {
        SetProgressTexts(true);
        workerCaption = ImageLib::Caption();
        loaded = IKFileLoad(file.toUtf8().constData(), 0, 0, 0, 0, ImageLib::Caption(),
                            ImageLib::Message(), ImageLib::Button());
        clipboard = IKSetToClipBrd(nullptr, loaded, 0, "", "", "");
        clipboardStatus = IKGetErrorStatus(nullptr, 0);
    });
    worker.join();
    qInstallMessageHandler(previous);
    IKSetProgressDelay(400);
    EXPECT_EQ(qtMessages, 0);
    Loaded image(loaded);
    EXPECT_EQ(image.Size(), QSize(2000, 1500));
    EXPECT_EQ(int(QApplication::topLevelWidgets().size()), widgets);
    EXPECT_EQ(clipboard, 0);
    EXPECT_EQ(clipboardStatus, IK_ERR_THREAD);
    // The worker's texts were its own; this thread's stayed empty.
    EXPECT_EQ(workerCaption, QByteArray("処理中"));
    EXPECT_STREQ(ImageLib::Caption(), "");
    // The status is per thread: a failure here is not seen by another thread, nor its success
    // here.
    EXPECT_EQ(IKFileLoad(Dir().filePath("none.png").toUtf8().constData(), 0, 0, 0, 0, "", "", ""),
              0u);
    int otherStatus = -100;
    std::thread([&] { otherStatus = IKGetErrorStatus(nullptr, 0); }).join();
    EXPECT_EQ(otherStatus, IK_ERR_NONE);
    EXPECT_EQ(LastStatus().code, IK_ERR_OPEN);
}

TEST_F(Threads, SavesFromSeveralThreadsEachWriteTheirOwnFile) {
    constexpr int kThreads = 4;
    std::vector<int> ok(kThreads * 3, 0);
    std::vector<std::thread> pool;
    for (int t = 0; t < kThreads; ++t) {
        pool.emplace_back([&, t] {
            QImage img(60 + t, 40, QImage::Format_RGB32);
            img.fill(qRgb(10 * t, 100, 200));
            const IKHANDLE h = IKDibFromBitmap(&img, 0);
            const QByteArray base = Dir().filePath(QStringLiteral("s%1").arg(t)).toUtf8();
            ok[size_t(3 * t)] = IKPngFileSave(base + ".png", h, 0, 0, 0, 0, 0, 0, 0, "", "", "");
            ok[size_t(3 * t + 1)] =
                IKJpegFileSave(base + ".jpg", h, 1, 80, IK_JPEG_422, "", 0, "", "", "");
            ok[size_t(3 * t + 2)] =
                IKTiffFileSave(base + ".tif", h, IK_TIFF_LZW, 0, 0, "", 0, 0, "", "", "");
            IKFreeMemory(h);
        });
    }
    for (std::thread& th : pool)
        th.join();
    for (int t = 0; t < kThreads; ++t) {
        for (const char* ext : {".png", ".jpg", ".tif"}) {
            SCOPED_TRACE(ext);
            EXPECT_EQ(Loaded(Dir().filePath(QStringLiteral("s%1").arg(t)) + ext).Size(),
                      QSize(60 + t, 40));
        }
    }
    EXPECT_EQ(std::count(ok.begin(), ok.end(), 1), kThreads * 3);
}
