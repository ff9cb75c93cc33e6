// The reduced-size entry (GetPictureScaled) of the shipped plug-ins, called directly on real files
// made by cwebp, heif-enc and cjxl: the picture handed over is at least the size the box needs,
// smaller than the whole one where the format allows, shows the same picture (checked against the
// whole picture reduced by Qt) and is turned like it; without a cheaper way the whole picture.
#include "ImagingSupport.h"
#include "SpiDirect.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTransform>

using namespace testimg;

namespace {

class Scaled : public ::testing::Test {
protected:
    QString P(const QString& name) const { return QDir(m_dir.path()).filePath(name); }
    // The test pattern as an RGB PNG, or with an alpha ramp.
    QString SourcePng(const QString& name, int w, int h, bool alpha = false) {
        QImage img(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const QRgb c = Pattern(x, y, w, h);
                img.setPixel(x, y, qRgba(qRed(c), qGreen(c), qBlue(c), alpha ? x * 255 / w : 255));
            }
        EXPECT_TRUE(img.save(P(name), "PNG"));
        return P(name);
    }
    // The whole picture reduced to size by Qt, the reference for a reduced one.
    static QImage Reduced(const QImage& whole, QSize size) {
        return whole.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(whole.format());
    }
    QTemporaryDir m_dir;
};

// A reduced picture is at least what the box needs and keeps the picture's aspect ratio.
void ExpectLargeEnough(QSize got, QSize whole, QSize box) {
    const QSize need = FittedSize(whole.width(), whole.height(), box);
    EXPECT_GE(got.width(), need.width()) << "box " << box.width() << "x" << box.height();
    EXPECT_GE(got.height(), need.height()) << "box " << box.width() << "x" << box.height();
    if (got.width() >= 16 && got.height() >= 16) {
        EXPECT_NEAR(double(got.width()) / got.height(), double(whole.width()) / whole.height(),
                    0.05);
    }
}

} // namespace

TEST_F(Scaled, EveryShippedPluginExportsTheReducedEntry) {
    for (const char* name : {"webp", "heif", "jxl", "raw"}) {
        SpiDirect spi(name);
        if (!spi.Loaded())
            GTEST_SKIP() << name << ".spi was not built";
        EXPECT_TRUE(spi.HasScaled()) << name;
    }
}

TEST_F(Scaled, WebpIsReducedByLibwebpWithinTheBox) {
    REQUIRE_TOOL("cwebp");
    SpiDirect webp("webp");
    if (!webp.Loaded())
        GTEST_SKIP() << "webp.spi was not built";
    const QString src = SourcePng("src.png", 640, 400);
    ASSERT_TRUE(RunTool("cwebp", {"-quiet", "-q", "90", src, "-o", P("a.webp")}));
    const QImage whole = webp.Picture(P("a.webp"));
    ASSERT_EQ(whole.size(), QSize(640, 400));
    for (const QSize box : {QSize(160, 160), QSize(100, 300), QSize(333, 50), QSize(1, 1)}) {
        int r = -1;
        const QImage small = webp.Picture(P("a.webp"), &r, box);
        ASSERT_EQ(r, SPI_ALL_RIGHT);
        // libwebp scales to the fitted size itself: exactly what the box needs.
        EXPECT_EQ(small.size(), FittedSize(640, 400, box));
        ExpectLargeEnough(small.size(), whole.size(), box);
        if (small.width() >= 16) {
            EXPECT_LT(MeanDiff(small, Reduced(whole, small.size())), 3.0);
        }
    }
    // A box the picture fits into, and no box: the whole picture, the same pixels.
    EXPECT_EQ(MaxDiff(webp.Picture(P("a.webp"), nullptr, QSize(640, 400)), whole), 0);
    EXPECT_EQ(MaxDiff(webp.Picture(P("a.webp"), nullptr, QSize(5000, 5000)), whole), 0);

    // Alpha survives the scaling; an animation is given whole (its first frame).
    const QString srcA = SourcePng("alpha.png", 200, 100, true);
    ASSERT_TRUE(RunTool("cwebp", {"-quiet", "-lossless", "-exact", srcA, "-o", P("a2.webp")}));
    const QImage alpha = webp.Picture(P("a2.webp"), nullptr, QSize(50, 50));
    ASSERT_EQ(alpha.size(), QSize(50, 25));
    ASSERT_TRUE(alpha.hasAlphaChannel());
    EXPECT_LT(qAlpha(alpha.pixel(0, 12)), 16);
    EXPECT_GT(qAlpha(alpha.pixel(49, 12)), 230);
    REQUIRE_TOOL("gif2webp");
    ASSERT_TRUE(RunTool("convert", {"-delay", "10", "-size", "80x60", "xc:red", "xc:blue", "-loop",
                                    "0", P("anim.gif")}));
    ASSERT_TRUE(RunTool("gif2webp", {"-quiet", P("anim.gif"), "-o", P("anim.webp")}));
    const QImage anim = webp.Picture(P("anim.webp"), nullptr, QSize(20, 20));
    EXPECT_EQ(anim.size(), QSize(80, 60));
    EXPECT_EQ(anim.pixel(40, 30) & 0xFFFFFF, 0xFF0000u);
}

TEST_F(Scaled, HeicUsesItsThumbnailTurnedLikeThePrimaryImage) {
    REQUIRE_TOOL("heif-enc");
    REQUIRE_TOOL("convert");
    SpiDirect heif("heif");
    if (!heif.Loaded())
        GTEST_SKIP() << "heif.spi was not built";
    // A yellow block in the top left corner of a 640 x 480 picture, with a thumbnail of at most
    // 160 pixels a side (160 x 120) stored beside it.
    ASSERT_TRUE(RunTool("convert", {"-size", "640x480", "gradient:red-blue", "-fill", "yellow",
                                    "-draw", "rectangle 0,0 159,119", "PNG24:" + P("s.png")}));
    ASSERT_TRUE(RunTool("heif-enc", {"-q", "90", "-t", "160", P("s.png"), "-o", P("t.heic")}));
    const QByteArray file = ReadBytes(P("t.heic"));
    const QImage whole = heif.Picture(P("t.heic"));
    ASSERT_EQ(whole.size(), QSize(640, 480));

    int r = -1;
    QImage thumb = heif.Picture(P("t.heic"), &r, QSize(100, 100));
    ASSERT_EQ(r, SPI_ALL_RIGHT);
    EXPECT_EQ(thumb.size(), QSize(160, 120)) << "the stored thumbnail is not the one handed over";
    EXPECT_LT(MeanDiff(thumb, Reduced(whole, thumb.size())), 6.0);
    // A box the thumbnail is too small for: the primary image, reduced by 3 (200 x 150 fitted).
    const QImage primary = heif.Picture(P("t.heic"), nullptr, QSize(200, 200));
    EXPECT_EQ(primary.size(), QSize(213, 160));
    EXPECT_LT(MeanDiff(primary, Reduced(whole, primary.size())), 3.0);

    // heif-enc writes each item's pixel-information property, the primary image's first; turned
    // into a rotation or a mirroring of the primary image only, the thumbnail has none of its own
    // and must be shown as the primary image is. Turned for both, libheif turns the thumbnail
    // itself and it must not be turned twice.
    const qsizetype first = file.indexOf("pixi");
    const qsizetype second = file.indexOf("pixi", first + 4);
    ASSERT_GT(first, 0);
    ASSERT_GT(second, first) << "heif-enc no longer writes a property per item";
    struct Case {
        const char* name;
        const char* box;
        char value;
        bool both;
    } cases[] = {{"quarter turn", "irot", 1, false},  {"three quarters", "irot", 3, false},
                 {"half turn", "irot", 2, false},     {"mirror axis 0", "imir", 0, false},
                 {"mirror axis 1", "imir", 1, false}, {"turned in both", "irot", 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray patched = file;
        for (const qsizetype at : {first, second}) {
            if (at == second && !c.both)
                break;
            patched.replace(at, 4, c.box);
            patched[at + 4] = c.value;
        }
        const QString path = WriteBytes(QDir(m_dir.path()), "p.heic", patched);
        const QImage primary = heif.Picture(path);
        ASSERT_FALSE(primary.isNull());
        const QImage small = heif.Picture(path, &r, QSize(100, 100));
        ASSERT_EQ(r, SPI_ALL_RIGHT);
        const bool quarter = c.box[1] == 'r' && c.value % 2 == 1;
        EXPECT_EQ(small.size(), quarter ? QSize(120, 160) : QSize(160, 120));
        EXPECT_EQ(primary.size(), quarter ? QSize(480, 640) : QSize(640, 480));
        // The thumbnail shows what the primary image shows, corner for corner.
        EXPECT_LT(MeanDiff(small, Reduced(primary, small.size())), 6.0);
    }
    // A turn by a quarter anticlockwise takes the yellow corner to the bottom left.
    QByteArray turned = file;
    turned.replace(first, 4, "irot");
    turned[first + 4] = 1;
    const QImage t = heif.PictureOf(turned, &r, QSize(100, 100));
    ASSERT_EQ(t.size(), QSize(120, 160));
    EXPECT_GT(qRed(t.pixel(10, 150)), 200);
    EXPECT_GT(qGreen(t.pixel(10, 150)), 200);
    EXPECT_LT(qGreen(t.pixel(110, 10)), 100);

    // Without a thumbnail: the primary image, reduced by the plug-in by the whole factor that
    // keeps it at least the fitted 100 x 75 (6: 106 x 80), each pixel its block's average.
    ASSERT_TRUE(RunTool("heif-enc", {"-q", "90", P("s.png"), "-o", P("n.heic")}));
    const QImage full = heif.Picture(P("n.heic"));
    ASSERT_EQ(full.size(), QSize(640, 480));
    const QImage reduced = heif.Picture(P("n.heic"), &r, QSize(100, 100));
    ASSERT_EQ(r, SPI_ALL_RIGHT);
    ASSERT_EQ(reduced.size(), QSize(106, 80));
    for (const QPoint at : {QPoint(0, 0), QPoint(20, 15), QPoint(105, 79)}) {
        // The block of output pixel (x, y): columns x * 640 / 106 up to (x + 1) * 640 / 106, rows
        // y * 6 up to y * 6 + 6.
        const int x0 = at.x() * 640 / 106, x1 = (at.x() + 1) * 640 / 106;
        int sum[3] = {0, 0, 0};
        for (int y = at.y() * 6; y < at.y() * 6 + 6; ++y)
            for (int x = x0; x < x1; ++x) {
                const QRgb c = full.pixel(x, y);
                sum[0] += qRed(c);
                sum[1] += qGreen(c);
                sum[2] += qBlue(c);
            }
        const int n = (x1 - x0) * 6;
        const QRgb c = reduced.pixel(at);
        EXPECT_EQ(qRed(c), (sum[0] + n / 2) / n) << at.x();
        EXPECT_EQ(qGreen(c), (sum[1] + n / 2) / n) << at.x();
        EXPECT_EQ(qBlue(c), (sum[2] + n / 2) / n) << at.x();
    }
}

TEST_F(Scaled, JpegXlStopsAtTheFirstProgressiveStepLargeEnough) {
    REQUIRE_TOOL("cjxl");
    SpiDirect jxl("jxl");
    if (!jxl.Loaded())
        GTEST_SKIP() << "jxl.spi was not built";
    const QString src = SourcePng("src.png", 640, 480);
    ASSERT_TRUE(RunTool("cjxl", {src, P("lossy.jxl"), "-d", "1", "--quiet"}));
    const QImage whole = jxl.Picture(P("lossy.jxl"));
    ASSERT_EQ(whole.size(), QSize(640, 480));
    int r = -1;
    // The 1:8 image of a lossy picture is enough for a box of 64.
    const QImage dc = jxl.Picture(P("lossy.jxl"), &r, QSize(64, 64));
    ASSERT_EQ(r, SPI_ALL_RIGHT);
    EXPECT_EQ(dc.size(), QSize(80, 60));
    ExpectLargeEnough(dc.size(), whole.size(), QSize(64, 64));
    EXPECT_LT(MeanDiff(dc, Reduced(whole, dc.size())), 6.0);
    // Too small for a box of 200: decoded on to the whole picture.
    EXPECT_EQ(MaxDiff(jxl.Picture(P("lossy.jxl"), nullptr, QSize(200, 200)), whole), 0);

    // A lossless picture has no such step: the whole picture.
    ASSERT_TRUE(RunTool("cjxl", {src, P("ll.jxl"), "-d", "0", "--quiet"}));
    const QImage ll = jxl.Picture(P("ll.jxl"), &r, QSize(64, 64));
    ASSERT_EQ(r, SPI_ALL_RIGHT);
    EXPECT_EQ(MaxDiff(ll, QImage(src).convertToFormat(QImage::Format_RGB32)), 0);

    // With alpha (libjxl 0.7 gives no early step when the picture has an extra channel: whole),
    // and a camera JPEG recompressed with its Exif orientation: the reduced picture turned like
    // the whole one.
    const QString srcA = SourcePng("alpha.png", 320, 160, true);
    ASSERT_TRUE(RunTool("cjxl", {srcA, P("a.jxl"), "-d", "1", "--quiet"}));
    const QImage a = jxl.Picture(P("a.jxl"), &r, QSize(40, 40));
    ASSERT_EQ(r, SPI_ALL_RIGHT);
    ExpectLargeEnough(a.size(), QSize(320, 160), QSize(40, 40));
    ASSERT_TRUE(a.hasAlphaChannel());
    EXPECT_LT(qAlpha(a.pixel(0, a.height() / 2)), 16);
    EXPECT_GT(qAlpha(a.pixel(a.width() - 1, a.height() / 2)), 230);
    REQUIRE_TOOL("exiftool");
    REQUIRE_TOOL("convert");
    ASSERT_TRUE(RunTool("convert", {src, "-quality", "95", P("cam.jpg")}));
    ASSERT_TRUE(
        RunTool("exiftool", {"-q", "-overwrite_original", "-n", "-Orientation=6", P("cam.jpg")}));
    ASSERT_TRUE(RunTool("cjxl", {P("cam.jpg"), P("cam.jxl"), "--quiet"}));
    const QImage camWhole = jxl.Picture(P("cam.jxl"));
    ASSERT_EQ(camWhole.size(), QSize(480, 640));
    const QImage cam = jxl.Picture(P("cam.jxl"), &r, QSize(64, 64));
    ASSERT_EQ(r, SPI_ALL_RIGHT);
    EXPECT_EQ(cam.size(), QSize(60, 80));
    EXPECT_LT(MeanDiff(cam, Reduced(camWhole, cam.size())), 6.0);
}

TEST_F(Scaled, HostileFilesFailCleanlyThroughTheReducedEntry) {
    REQUIRE_TOOL("cwebp");
    REQUIRE_TOOL("heif-enc");
    REQUIRE_TOOL("cjxl");
    const QString src = SourcePng("src.png", 256, 192);
    ASSERT_TRUE(RunTool("cwebp", {"-quiet", src, "-o", P("a.webp")}));
    ASSERT_TRUE(RunTool("heif-enc", {"-t", "64", src, "-o", P("a.heic")}));
    ASSERT_TRUE(RunTool("cjxl", {src, P("a.jxl"), "--quiet"}));
    const struct {
        const char* plugin;
        const char* file;
    } cases[] = {{"webp", "a.webp"}, {"heif", "a.heic"}, {"jxl", "a.jxl"}};
    QRandomGenerator random(7);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        SpiDirect spi(c.plugin);
        if (!spi.Loaded())
            continue;
        const QByteArray good = ReadBytes(P(c.file));
        int r = -1;
        EXPECT_FALSE(spi.PictureOf(good, &r, QSize(32, 32)).isNull());
        EXPECT_NE((spi.PictureOf(QByteArray(), &r, QSize(32, 32)), r), SPI_ALL_RIGHT);
        // Cut short: a failure, or (a thumbnail or progressive step that is whole before the
        // cut) a picture the host can read.
        for (int k = 1; k < 8; ++k) {
            const QImage cut = spi.PictureOf(good.left(good.size() * k / 8), &r, QSize(32, 32));
            EXPECT_TRUE(r != SPI_ALL_RIGHT || cut.width() >= 32) << k;
        }
        for (int round = 0; round < 20; ++round) {
            QByteArray flipped = good;
            for (int i = 0; i < 8; ++i)
                flipped[random.bounded(qsizetype(flipped.size()))] ^= char(1 << random.bounded(8));
            spi.PictureOf(flipped, &r, QSize(32, 32)); // any result but a crash
        }
    }
}
