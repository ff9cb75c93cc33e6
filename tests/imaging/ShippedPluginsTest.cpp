// The plug-ins Quilla ships (webp.spi, heif.spi, jxl.spi; raw.spi has tests of its own) on real
// files made by cwebp, heif-enc and cjxl, compared with ImageMagick or the formats' own decoders
// reading the same files, and on hostile files: truncated, empty, random, and pictures that claim
// sizes beyond the limits.
#include "../TestPaths.h"
#include "ImagingSupport.h"
#include "SpiDirect.h"

#include "imaging/Dib.h"
#include "imaging/ImageKit.h"
#include "imaging/SPIControl.h"
#include "imaging/SusieHost.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <cstdio>
#include <dlfcn.h>

using namespace testimg;

namespace {

QString PluginDir() {
    return QDir(QCoreApplication::applicationDirPath()).filePath("plugins");
}

class Shipped : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"webp", "heif", "jxl", "raw"})
            if (!QFile::exists(PluginDir() + "/" + name + ".spi"))
                GTEST_SKIP() << name << ".spi was not built";
        ASSERT_EQ(m_spi.LoadFolder(PluginDir()), 4);
    }
    QDir Dir() const { return QDir(m_dir.path()); }
    QString P(const QString& name) const { return Dir().filePath(name); }

    // The pattern as an 8-bit RGB PNG (and the same with an alpha ramp), the neutral source.
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
    // The file decoded through the plug-ins as the program decodes it (in its helpers).
    QImage Decode(const QString& path, int* result = nullptr, SpiPictureInfo* info = nullptr) {
        SpiPicture picture;
        SpiPictureInfo local;
        const int r = m_spi.DecodeFile(path, &picture, info ? info : &local);
        if (result)
            *result = r;
        return r == 0 ? picture.image.copy() : QImage();
    }
    // The plug-in that claims the extension, loaded into the test itself and called directly on
    // bytes in memory: the plug-in's own code under test, not the host.
    int DecodeBytes(const char* plugin, const QByteArray& bytes, QSize* size = nullptr) {
        const QByteArray path = QFile::encodeName(PluginDir() + "/" + plugin + ".spi");
        // Kept mapped after dlclose, as the host keeps its plug-ins: the codecs' one-time tables
        // would otherwise be reported as leaks.
        void* module = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!module)
            return -100;
        auto isSupported = reinterpret_cast<SPI_IsSupported>(dlsym(module, "IsSupported"));
        auto pictureInfo = reinterpret_cast<SPI_GetPictureInfo>(dlsym(module, "GetPictureInfo"));
        auto getPicture = reinterpret_cast<SPI_GetPicture>(dlsym(module, "GetPicture"));
        QByteArray head = bytes.left(SPI_HEAD_SIZE);
        head.resize(SPI_HEAD_SIZE, '\0');
        isSupported("x", reinterpret_cast<uintptr_t>(head.constData()));
        SPI_PICTUREINFO info{};
        if (pictureInfo(bytes.constData(), bytes.size(), SPI_INPUT_MEMORY, &info) == 0 &&
            info.hInfo)
            LocalFree(info.hInfo);
        HLOCAL hi = nullptr, hb = nullptr;
        const int r =
            getPicture(bytes.constData(), bytes.size(), SPI_INPUT_MEMORY, &hi, &hb, nullptr, 0);
        if (r == SPI_ALL_RIGHT) {
            const QImage img =
                DibToImage(LocalLock(hi), LocalSize(hi), LocalLock(hb), LocalSize(hb));
            EXPECT_FALSE(img.isNull()) << plugin << " handed over a picture the host cannot read";
            if (size)
                *size = img.size();
            LocalFree(hi);
            LocalFree(hb);
        }
        dlclose(module);
        return r;
    }
    // ImageMagick's reading of a file, as 32 bits.
    QImage Magick(const QString& path) {
        const QString out = path + ".ref.png";
        EXPECT_TRUE(RunTool("convert", {path, "PNG32:" + out}));
        return QImage(out).convertToFormat(QImage::Format_ARGB32);
    }
    static QImage Argb(const QImage& img) { return img.convertToFormat(QImage::Format_ARGB32); }

    CSPIControl m_spi;
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(Shipped, TextsFormatsAndExtensions) {
    // WebP, HEIC, HEIF, AVIF, JPEG XL, and at least the dozen RAW formats of the big makers.
    EXPECT_GE(m_spi.GetFormatCount(), 5 + 12);
    for (const char* ext : {".webp", ".WEBP", ".heic", ".heif", ".avif", ".jxl", ".dng", ".NEF",
                            ".cr3", ".arw", ".raf"})
        EXPECT_TRUE(m_spi.IsSupportedExtension(ext)) << ext;
    EXPECT_FALSE(m_spi.IsSupportedExtension(".png"));
    CSPICore core;
    ASSERT_TRUE(core.Load(PluginDir() + "/heif.spi"));
    EXPECT_EQ(core.m_nKind, kSpiKindImport);
    EXPECT_EQ(core.m_descriptions, QStringList({"HEIC", "HEIF", "AVIF"}));
}

TEST_F(Shipped, WebpLossyLosslessAlphaAndAnimation) {
    REQUIRE_TOOL("cwebp");
    REQUIRE_TOOL("convert");
    const QString src = SourcePng("src.png", 97, 61);
    ASSERT_TRUE(RunTool("cwebp", {"-quiet", "-lossless", src, "-o", P("ll.webp")}));
    QImage ll = Decode(P("ll.webp"));
    ASSERT_FALSE(ll.isNull());
    EXPECT_EQ(ll.format(), QImage::Format_RGB888); // no alpha: 24 bits
    EXPECT_EQ(MaxDiff(Argb(ll), Argb(QImage(src))), 0);

    ASSERT_TRUE(RunTool("cwebp", {"-quiet", "-q", "80", src, "-o", P("lossy.webp")}));
    SpiPictureInfo info;
    QImage lossy = Decode(P("lossy.webp"), nullptr, &info);
    ASSERT_FALSE(lossy.isNull());
    EXPECT_EQ(info.width, 97);
    EXPECT_EQ(info.height, 61);
    EXPECT_EQ(info.colorDepth, 24);
    // The same file as ImageMagick reads it.
    EXPECT_LE(MaxDiff(Argb(lossy), Magick(P("lossy.webp"))), 3);
    EXPECT_LT(MeanDiff(Argb(lossy), Argb(QImage(src))), 4.0);

    const QString srcA = SourcePng("alpha.png", 50, 30, true);
    ASSERT_TRUE(RunTool("cwebp", {"-quiet", "-lossless", "-exact", srcA, "-o", P("a.webp")}));
    QImage a = Decode(P("a.webp"));
    ASSERT_EQ(a.format(), QImage::Format_ARGB32);
    EXPECT_EQ(MaxDiff(a, Argb(QImage(srcA))), 0);
    EXPECT_EQ(qAlpha(a.pixel(0, 5)), 0);
    EXPECT_EQ(qAlpha(a.pixel(49, 5)), 49 * 255 / 50);

    // An animation: the first frame on its canvas.
    REQUIRE_TOOL("gif2webp");
    ASSERT_TRUE(RunTool("convert", {"-delay", "10", "-size", "40x30", "xc:red", "xc:blue", "-loop",
                                    "0", P("anim.gif")}));
    ASSERT_TRUE(RunTool("gif2webp", {"-quiet", P("anim.gif"), "-o", P("anim.webp")}));
    QImage first = Decode(P("anim.webp"));
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first.size(), QSize(40, 30));
    EXPECT_EQ(first.pixel(20, 15) & 0xFFFFFF, 0xFF0000u);
}

TEST_F(Shipped, HeicAndAvifMatchImageMagick) {
    REQUIRE_TOOL("heif-enc");
    REQUIRE_TOOL("convert");
    const QString src = SourcePng("src.png", 96, 64);
    ASSERT_TRUE(RunTool("heif-enc", {"-q", "90", src, "-o", P("a.heic")}));
    QImage heic = Decode(P("a.heic"));
    ASSERT_FALSE(heic.isNull());
    EXPECT_EQ(heic.size(), QSize(96, 64));
    EXPECT_LE(MaxDiff(Argb(heic), Magick(P("a.heic"))), 3);
    EXPECT_LT(MeanDiff(Argb(heic), Argb(QImage(src))), 6.0);

    ASSERT_TRUE(RunTool("heif-enc", {"-A", "-q", "90", src, "-o", P("a.avif")}));
    QImage avif = Decode(P("a.avif"));
    ASSERT_FALSE(avif.isNull());
    EXPECT_EQ(avif.size(), QSize(96, 64));
    EXPECT_LE(MaxDiff(Argb(avif), Magick(P("a.avif"))), 3);
    EXPECT_LT(MeanDiff(Argb(avif), Argb(QImage(src))), 6.0);

    // With alpha: 32 bits and the alpha kept (lossless alpha plane).
    const QString srcA = SourcePng("alpha.png", 64, 48, true);
    ASSERT_TRUE(RunTool("heif-enc", {"-L", srcA, "-o", P("alpha.heic")}));
    QImage alpha = Decode(P("alpha.heic"));
    ASSERT_EQ(alpha.format(), QImage::Format_ARGB32);
    EXPECT_LE(std::abs(qAlpha(alpha.pixel(32, 10)) - qAlpha(QImage(srcA).pixel(32, 10))), 2);
    EXPECT_LE(qAlpha(alpha.pixel(0, 10)), 2);
}

// What shows of a picture (its colours times its alpha), resized to size by Qt: the way the two
// decodings below are compared.
QImage VisibleAt(const QImage& img, QSize size) {
    QImage out = img.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                     .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    out.reinterpretAsFormat(QImage::Format_ARGB32);
    return out;
}

TEST_F(Shipped, ThumbnailsAreReducedInTheHelperLikeTheWholePicture) {
    REQUIRE_TOOL("heif-enc");
    const QString src = SourcePng("src.png", 643, 481);
    const QString srcA = SourcePng("alpha.png", 643, 481, true);
    ASSERT_TRUE(RunTool("heif-enc", {"-A", "-q", "80", src, "-o", P("r.avif")}));
    ASSERT_TRUE(RunTool("heif-enc", {"-q", "80", src, "-o", P("r.heic")}));
    ASSERT_TRUE(RunTool("heif-enc", {"-L", srcA, "-o", P("alpha.heic")}));
    // The plug-in in this process too, as a host without helpers calls it.
    SpiDirect heif("heif");
    ASSERT_TRUE(heif.Loaded());
    for (const char* name : {"r.avif", "r.heic", "alpha.heic"}) {
        SCOPED_TRACE(name);
        // The whole picture through the helper is the plug-in's own, pixel for pixel.
        const QImage here = heif.Picture(P(name));
        const QImage whole = Decode(P(name));
        ASSERT_EQ(whole.size(), QSize(643, 481));
        EXPECT_EQ(whole.hasAlphaChannel(), here.hasAlphaChannel());
        EXPECT_EQ(MaxDiff(Argb(whole), Argb(here)), 0);

        // For a thumbnail of 80 x 80 (80 x 59 fitted) the helper reduces by 8 as the imaging
        // library reduces its own formats, and tells the whole size.
        SpiPicture picture;
        ASSERT_EQ(
            m_spi.DecodeFile(P(name), &picture, nullptr, nullptr, false, nullptr, QSize(80, 80)),
            0);
        EXPECT_EQ(picture.image.size(), QSize(80, 60));
        EXPECT_EQ(picture.whole, QSize(643, 481));
        EXPECT_EQ(picture.image.hasAlphaChannel(), whole.hasAlphaChannel());
        // The thumbnail made from either is the same within two levels.
        const QSize thumb(80, 59);
        const QImage a = VisibleAt(whole, thumb), b = VisibleAt(picture.image, thumb);
        EXPECT_LE(MeanDiff(a, b), 2.0);
        EXPECT_LE(MaxDiff(a, b), 24);
        // A box the whole picture is needed for: it comes whole, as it is.
        ASSERT_EQ(
            m_spi.DecodeFile(P(name), &picture, nullptr, nullptr, false, nullptr, QSize(400, 400)),
            0);
        EXPECT_TRUE(picture.whole.isEmpty());
        EXPECT_EQ(MaxDiff(Argb(picture.image), Argb(whole)), 0);
    }
}

TEST_F(Shipped, HeicRotationIsApplied) {
    REQUIRE_TOOL("heif-enc");
    REQUIRE_TOOL("convert");
    // A red block in the top left corner of a white 60 × 40 picture.
    ASSERT_TRUE(RunTool("convert", {"-size", "60x40", "xc:white", "-fill", "red", "-draw",
                                    "rectangle 0,0 19,9", "-depth", "8", "PNG24:" + P("r.png")}));
    ASSERT_TRUE(RunTool("heif-enc", {"-q", "95", P("r.png"), "-o", P("r.heic")}));
    // heif-enc writes no rotation; its pixel-information property of the same item becomes a
    // rotation by a quarter turn anticlockwise (an irot box, the rest of its bytes ignored).
    QByteArray heic = ReadBytes(P("r.heic"));
    const qsizetype pixi = heic.indexOf("pixi");
    ASSERT_GT(pixi, 0);
    heic.replace(pixi, 4, "irot");
    heic[pixi + 4] = 1;
    WriteBytes(Dir(), "rot.heic", heic);
    QImage rot = Decode(P("rot.heic"));
    ASSERT_EQ(rot.size(), QSize(40, 60));
    // The block is now in the bottom left corner.
    EXPECT_GT(qRed(rot.pixel(5, 55)), 200);
    EXPECT_LT(qGreen(rot.pixel(5, 55)), 60);
    EXPECT_GT(qGreen(rot.pixel(35, 5)), 200);
    EXPECT_LE(MaxDiff(Argb(rot), Magick(P("rot.heic"))), 3);
}

TEST_F(Shipped, JpegXlMatchesDjxlAndAppliesOrientation) {
    REQUIRE_TOOL("cjxl");
    REQUIRE_TOOL("djxl");
    REQUIRE_TOOL("convert");
    const QString src = SourcePng("src.png", 81, 45);
    ASSERT_TRUE(RunTool("cjxl", {src, P("ll.jxl"), "-d", "0", "--quiet"}));
    QImage ll = Decode(P("ll.jxl"));
    ASSERT_FALSE(ll.isNull());
    EXPECT_EQ(MaxDiff(Argb(ll), Argb(QImage(src))), 0);

    ASSERT_TRUE(RunTool("cjxl", {src, P("lossy.jxl"), "-d", "1.5", "--quiet"}));
    QImage lossy = Decode(P("lossy.jxl"));
    ASSERT_TRUE(RunTool("djxl", {P("lossy.jxl"), P("lossy.png"), "--quiet"}));
    EXPECT_LE(MaxDiff(Argb(lossy), Argb(QImage(P("lossy.png")))), 2);

    const QString srcA = SourcePng("alpha.png", 40, 20, true);
    ASSERT_TRUE(RunTool("cjxl", {srcA, P("a.jxl"), "-d", "0", "--quiet"}));
    QImage a = Decode(P("a.jxl"));
    ASSERT_EQ(a.format(), QImage::Format_ARGB32);
    EXPECT_EQ(MaxDiff(a, Argb(QImage(srcA))), 0);

    // A camera JPEG turned a quarter by its Exif orientation, recompressed: shown upright.
    REQUIRE_TOOL("exiftool");
    ASSERT_TRUE(RunTool("convert", {src, "-quality", "95", P("cam.jpg")}));
    ASSERT_TRUE(
        RunTool("exiftool", {"-q", "-overwrite_original", "-n", "-Orientation=6", P("cam.jpg")}));
    ASSERT_TRUE(RunTool("cjxl", {P("cam.jpg"), P("cam.jxl"), "--quiet"}));
    QImage cam = Decode(P("cam.jxl"));
    EXPECT_EQ(cam.size(), QSize(45, 81));
    // The red block (top left quarter of the source) ends up at the top right.
    EXPECT_GT(qRed(cam.pixel(30, 25)), 200);
    EXPECT_LT(qGreen(cam.pixel(30, 25)), 60);
}

// The plug-in makes libjxl's floating-point samples bytes itself: across several of the decoder's
// groups (rows coming from its threads), with alpha, and from 16 bits a sample, the bytes are
// djxl's own.
TEST_F(Shipped, JpegXlBytesAreDjxlsAcrossGroupsAlphaAndDepths) {
    REQUIRE_TOOL("cjxl");
    REQUIRE_TOOL("djxl");
    REQUIRE_TOOL("convert");
    const QString srcA = SourcePng("wide.png", 700, 300, true);
    ASSERT_TRUE(RunTool("cjxl", {srcA, P("wide.jxl"), "-d", "1", "--quiet"}));
    ASSERT_TRUE(RunTool("djxl", {P("wide.jxl"), P("wide.out.png"), "--quiet"}));
    const QImage wide = Decode(P("wide.jxl"));
    ASSERT_EQ(wide.size(), QSize(700, 300));
    ASSERT_TRUE(wide.hasAlphaChannel());
    const QImage ref = Argb(QImage(P("wide.out.png")));
    EXPECT_LE(MaxDiff(Argb(wide), ref), 1);
    EXPECT_LT(MeanDiff(Argb(wide), ref), 0.05);

    // Without gAMA and cHRM chunks: sRGB, as cjxl then takes it.
    ASSERT_TRUE(RunTool("convert",
                        {"-size", "520x270", "gradient:#ff2000-#0030ff", "-depth", "16", "-define",
                         "png:exclude-chunks=gAMA,cHRM,bKGD", "PNG48:" + P("deep.png")}));
    ASSERT_TRUE(RunTool("cjxl", {P("deep.png"), P("deep.jxl"), "-d", "0", "--quiet"}));
    const QImage deep = Decode(P("deep.jxl"));
    ASSERT_EQ(deep.size(), QSize(520, 270));
    // Qt rounds 16 bits to 8 as libjxl does.
    EXPECT_LE(MaxDiff(Argb(deep), Argb(QImage(P("deep.png")))), 1);
    EXPECT_LT(MeanDiff(Argb(deep), Argb(QImage(P("deep.png")))), 0.05);
    // A gradient over 270 rows: every byte value of the ramp appears, none is lost to truncation.
    EXPECT_EQ(qRed(deep.pixel(0, 0)), 255);
    EXPECT_EQ(qBlue(deep.pixel(0, 269)), 255);
}

TEST_F(Shipped, ThroughCImageKitAsAnyOtherPicture) {
    REQUIRE_TOOL("cwebp");
    const QString src = SourcePng("src.png", 30, 20);
    ASSERT_TRUE(RunTool("cwebp", {"-quiet", "-lossless", src, "-o", P("k.webp")}));
    ASSERT_EQ(SusieHost::LoadFolder(PluginDir()), 4);
    EXPECT_TRUE(IsImageFile(P("k.webp")));
    CImageKit kit;
    ASSERT_TRUE(kit.Load(P("k.webp"), false));
    EXPECT_EQ(kit.GetSize(), QSize(30, 20));
    EXPECT_EQ(kit.GetBitCount(), 24);
    // Converted like any other picture.
    ASSERT_TRUE(kit.SavePng(P("k.png"), 0, 0, 0, 0, false));
    EXPECT_EQ(MaxDiff(Argb(QImage(P("k.png"))), Argb(QImage(src))), 0);
}

TEST_F(Shipped, HostileFilesFailCleanly) {
    REQUIRE_TOOL("cwebp");
    REQUIRE_TOOL("heif-enc");
    REQUIRE_TOOL("cjxl");
    const QString src = SourcePng("src.png", 64, 48);
    ASSERT_TRUE(RunTool("cwebp", {"-quiet", src, "-o", P("a.webp")}));
    ASSERT_TRUE(RunTool("heif-enc", {src, "-o", P("a.heic")}));
    ASSERT_TRUE(RunTool("heif-enc", {"-A", src, "-o", P("a.avif")}));
    ASSERT_TRUE(RunTool("cjxl", {src, P("a.jxl"), "--quiet"}));
    const struct {
        const char* plugin;
        const char* file;
    } cases[] = {{"webp", "a.webp"}, {"heif", "a.heic"}, {"heif", "a.avif"}, {"jxl", "a.jxl"}};
    QRandomGenerator random(42);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QByteArray good = ReadBytes(P(c.file));
        QSize size;
        ASSERT_EQ(DecodeBytes(c.plugin, good, &size), SPI_ALL_RIGHT);
        EXPECT_EQ(size, QSize(64, 48));
        // Empty, and cut at every eighth of its length.
        EXPECT_NE(DecodeBytes(c.plugin, QByteArray()), SPI_ALL_RIGHT);
        for (int k = 1; k < 8; ++k)
            EXPECT_NE(DecodeBytes(c.plugin, good.left(good.size() * k / 8)), SPI_ALL_RIGHT) << k;
        // The head kept, the rest random; and bytes flipped here and there.
        for (int round = 0; round < 20; ++round) {
            QByteArray junk = good;
            for (qsizetype i = 32; i < junk.size(); ++i)
                junk[i] = char(random.bounded(256));
            DecodeBytes(c.plugin, junk); // any result but a crash
            QByteArray flipped = good;
            for (int i = 0; i < 8; ++i)
                flipped[random.bounded(qsizetype(flipped.size()))] ^= char(1 << random.bounded(8));
            DecodeBytes(c.plugin, flipped);
        }
    }
}

TEST_F(Shipped, PicturesBeyondTheLimitsAreRefusedBeforeDecoding) {
    // WebP: an extended header whose canvas claims 20,000 × 20,000 pixels.
    QByteArray webp("RIFF\0\0\0\0WEBPVP8X", 16);
    const char vp8x[] = {10, 0, 0, 0, 0, 0, 0, 0};
    webp.append(vp8x, sizeof vp8x);
    const int side = 20000 - 1;
    for (int k = 0; k < 2; ++k)
        webp.append(char(side & 0xFF)).append(char((side >> 8) & 0xFF)).append(char(side >> 16));
    webp.append(QByteArray(64, '\0'));
    const uint32_t riff = uint32_t(webp.size() - 8);
    std::memcpy(webp.data() + 4, &riff, 4);
    EXPECT_EQ(DecodeBytes("webp", webp), SPI_NO_MEMORY);

    // JPEG XL: a bare codestream whose size header says 30,000 × 30,000.
    QByteArray jxl("\xFF\x0A", 2);
    uint64_t acc = 0;
    int nbits = 0;
    auto put = [&](uint64_t v, int n) {
        acc |= v << nbits;
        nbits += n;
    };
    put(0, 1); // not small
    put(2, 2); // height: 18 bits
    put(30000 - 1, 18);
    put(0, 3); // no ratio
    put(2, 2); // width: 18 bits
    put(30000 - 1, 18);
    put(1, 1); // image metadata: all default
    for (int i = 0; i < 8; ++i)
        jxl.append(char((acc >> (8 * i)) & 0xFF));
    jxl.append(QByteArray(64, '\0'));
    EXPECT_EQ(DecodeBytes("jxl", jxl), SPI_NO_MEMORY);

    // HEIC: a real file whose image-size property is changed to 30,000 × 30,000.
    REQUIRE_TOOL("heif-enc");
    const QString src = SourcePng("src.png", 64, 48);
    ASSERT_TRUE(RunTool("heif-enc", {src, "-o", P("a.heic")}));
    QByteArray heic = ReadBytes(P("a.heic"));
    const char big[] = {0, 0, 0x75, 0x30}; // 30,000, big-endian
    int patched = 0;
    for (qsizetype ispe = heic.indexOf("ispe"); ispe > 0; ispe = heic.indexOf("ispe", ispe + 4)) {
        std::memcpy(heic.data() + ispe + 8, big, 4);
        std::memcpy(heic.data() + ispe + 12, big, 4);
        ++patched;
    }
    ASSERT_GT(patched, 0);
    EXPECT_EQ(DecodeBytes("heif", heic), SPI_NO_MEMORY);

    // HEIC: the picture is a grid of tiles whose output size, in the grid's own data, claims
    // 63,455 × 65,511 pixels while the image-size property says 64 × 48 (found by the fuzzer:
    // libheif would allocate 4 GB for it).
    QByteArray grid = ReadBytes(P("a.heic"));
    const qsizetype idat = grid.indexOf("idat");
    ASSERT_GT(idat, 0) << "heif-enc no longer writes the picture as a grid";
    const char claimed[] = {char(0xF7), char(0xDF), char(0xFF), char(0xE7)};
    std::memcpy(grid.data() + idat + 8, claimed, 4);
    EXPECT_NE(DecodeBytes("heif", grid), SPI_ALL_RIGHT);
}

TEST_F(Shipped, TheFuzzCorpusThroughTheHelpers) {
    // The inputs the fuzz targets keep, decoded as the program decodes files: through the
    // helpers. Whatever a plug-in does with them, the program gets a picture or a failure with
    // its reason, never a crash, and a helper that failed is replaced for the next input.
    // QUILLA_FUZZ_CORPUS names another folder of the same shape: the fuzz run hands over the
    // corpus it has just grown, with the inputs libFuzzer found.
    const QString given = qEnvironmentVariable("QUILLA_FUZZ_CORPUS");
    const QDir corpus(
        given.isEmpty() ? testpaths::SourceDir() + QStringLiteral("/plugins/fuzz/corpus") : given);
    const struct {
        const char* folder;
        const char* ext;
    } kinds[] = {{"webp", "webp"}, {"heif", "heic"}, {"jxl", "jxl"}, {"raw", "dng"}};
    int decoded = 0, inputs = 0, failed = 0;
    for (const auto& k : kinds) {
        const QDir dir(corpus.filePath(k.folder));
        for (const QString& name : dir.entryList(QDir::Files)) {
            const QString file = P(QStringLiteral("%1-%2.%3").arg(k.folder, name, k.ext));
            ASSERT_TRUE(QFile::copy(dir.filePath(name), file));
            SpiPicture picture;
            SpiPictureInfo info;
            QString reason;
            const int r = m_spi.DecodeFile(file, &picture, &info, &reason);
            EXPECT_TRUE(r == 0 || r == kSpiErrNoDecoder || r == kSpiErrPluginFailed)
                << name.toStdString() << ": " << r;
            if (r == kSpiErrPluginFailed) {
                EXPECT_FALSE(reason.isEmpty()) << name.toStdString();
                ++failed;
            }
            decoded += r == 0 && !picture.image.isNull();
            ++inputs;
            QFile::remove(file);
        }
    }
    std::printf("%d inputs from %s: %d decoded, %d failed in their plug-in\n", inputs,
                qPrintable(corpus.path()), decoded, failed);
    // The kept corpus has more than 50 inputs; a grown one may hold only the plug-ins fuzzed.
    EXPECT_GT(inputs, given.isEmpty() ? 50 : 0);
    EXPECT_GT(decoded, 0);
    // The helpers still answer.
    REQUIRE_TOOL("cwebp");
    const QString src = SourcePng("after.png", 8, 8);
    ASSERT_TRUE(RunTool("cwebp", {"-quiet", "-lossless", src, "-o", P("after.webp")}));
    EXPECT_EQ(Decode(P("after.webp")).size(), QSize(8, 8));
}
