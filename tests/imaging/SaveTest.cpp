// The six savers with every option, read back by independent readers: libjpeg, libpng, giflib and
// libtiff for header fields, ImageMagick and Pillow for pixels.
#include "ImagingSupport.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <csetjmp>
#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

using namespace testimg;

namespace {

constexpr int W = 53, H = 31;

QImage PatternImage(int w = W, int h = H) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, Pattern(x, y, w, h));
    return img;
}

// An image of the given depth made from the pattern.
IKHANDLE Source(int bits) {
    QImage img = PatternImage();
    const IKHANDLE h32 = IKDibFromBitmap(&img, 0);
    if (bits == 32)
        return h32;
    const IKHANDLE h = IKConvertColor(h32, bits, 0, 0, 128, 0, "", "", "");
    IKFreeMemory(h32);
    return h;
}

struct JpegHeader {
    bool progressive = false;
    int components = 0, h = 0, v = 0;
};

JpegHeader ReadJpegHeader(const QString& path) {
    JpegHeader out;
    std::FILE* f = std::fopen(path.toUtf8().constData(), "rb");
    if (!f)
        return out;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    out.progressive = cinfo.progressive_mode;
    out.components = cinfo.num_components;
    out.h = cinfo.comp_info[0].h_samp_factor;
    out.v = cinfo.comp_info[0].v_samp_factor;
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    return out;
}

struct PngHeader {
    int colourType = -1, bitDepth = 0, interlace = -1;
    std::vector<int> trnsAlpha;
    int trnsRed = -1, trnsGreen = -1, trnsBlue = -1;
};

PngHeader ReadPngHeader(const QString& path) {
    PngHeader out;
    std::FILE* f = std::fopen(path.toUtf8().constData(), "rb");
    if (!f)
        return out;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_read_info(png, info);
        out.colourType = png_get_color_type(png, info);
        out.bitDepth = png_get_bit_depth(png, info);
        out.interlace = png_get_interlace_type(png, info);
        png_bytep alpha = nullptr;
        int n = 0;
        png_color_16p colour = nullptr;
        if (png_get_tRNS(png, info, &alpha, &n, &colour)) {
            if (out.colourType == PNG_COLOR_TYPE_PALETTE)
                out.trnsAlpha.assign(alpha, alpha + n);
            else if (colour) {
                out.trnsRed = colour->red;
                out.trnsGreen = colour->green;
                out.trnsBlue = colour->blue;
            }
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return out;
}

struct GifHeader {
    QByteArray version;
    bool interlaced = false;
    int transparent = -1, colours = 0;
    QByteArray comment;
};

GifHeader ReadGifHeader(const QString& path) {
    GifHeader out;
    out.version = ReadBytes(path).left(6);
    int err = 0;
    GifFileType* gif = DGifOpenFileName(path.toUtf8().constData(), &err);
    if (!gif)
        return out;
    if (DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0) {
        out.interlaced = gif->SavedImages[0].ImageDesc.Interlace;
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(gif, 0, &gcb) == GIF_OK)
            out.transparent = gcb.TransparentColor;
        out.colours = gif->SColorMap ? gif->SColorMap->ColorCount : 0;
        for (int i = 0; i < gif->ExtensionBlockCount; ++i)
            if (gif->ExtensionBlocks[i].Function == COMMENT_EXT_FUNC_CODE)
                out.comment =
                    QByteArray(reinterpret_cast<const char*>(gif->ExtensionBlocks[i].Bytes),
                               gif->ExtensionBlocks[i].ByteCount);
        for (int i = 0; i < gif->SavedImages[0].ExtensionBlockCount; ++i)
            if (gif->SavedImages[0].ExtensionBlocks[i].Function == COMMENT_EXT_FUNC_CODE)
                out.comment = QByteArray(
                    reinterpret_cast<const char*>(gif->SavedImages[0].ExtensionBlocks[i].Bytes),
                    gif->SavedImages[0].ExtensionBlocks[i].ByteCount);
    }
    DGifCloseFile(gif, &err);
    return out;
}

struct TiffHeader {
    int compression = -1, photometric = -1, bps = 0, spp = 0;
};

TiffHeader ReadTiffHeader(const QString& path) {
    TiffHeader out;
    TIFFSetErrorHandler(nullptr);
    TIFF* tif = TIFFOpen(path.toUtf8().constData(), "r");
    if (!tif)
        return out;
    uint16_t c = 0, p = 0, b = 0, s = 0;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &c);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &p);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &b);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &s);
    out = {c, p, b, s};
    TIFFClose(tif);
    return out;
}

class Save : public ::testing::Test {
protected:
    QDir Dir() const { return QDir(m_dir.path()); }
    QString P(const QString& name) const { return Dir().filePath(name); }
    // The file as ImageMagick reads it.
    QImage ByImageMagick(const QString& path) {
        QImage img;
        if (!Have("convert"))
            return img;
        // 8-bit RGB whatever depth ImageMagick gives the picture.
        const QString out = P("check.png");
        QFile::remove(out);
        EXPECT_TRUE(RunTool("convert", {path + "[0]", "-depth", "8", "PNG24:" + out}));
        EXPECT_TRUE(img.load(out));
        return img;
    }
    // The file as Pillow reads it.
    QImage ByPillow(const QString& path) {
        QImage img;
        const QString png = P("check-pil.png");
        EXPECT_TRUE(
            RunTool("/usr/bin/python3", {"-c",
                                         "import sys; from PIL import Image; "
                                         "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])",
                                         path, png}));
        EXPECT_TRUE(img.load(png));
        return img;
    }
    // No file but the named ones is left in the folder (no temporary files).
    QStringList Files() const { return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(Save, BmpAtEveryDepthReadsBackExactly) {
    REQUIRE_TOOL("/usr/bin/python3");
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        Loaded src(Source(bits));
        ASSERT_EQ(src.Bpp(), bits);
        const QString path = P(QStringLiteral("d%1.bmp").arg(bits));
        ASSERT_EQ(IKBmpFileSave(path.toUtf8().constData(), src.Handle(), 0, 0, "", "", ""), 1);
        const FileType t = TypeOf(path);
        EXPECT_EQ(t.type, IK_TYPE_BMP);
        EXPECT_EQ(t.bitCount, bits);
        // Pillow widens 5-bit channels with its own rounding.
        EXPECT_LE(MaxDiff(ByPillow(path), src.Rgb()), bits == 16 ? 1 : 0);
        Loaded back(path);
        EXPECT_EQ(back.Bpp(), bits);
        EXPECT_EQ(MaxDiff(back.Rgb(), src.Rgb()), 0);
    }
}

TEST_F(Save, JpegQualityProgressiveSubsamplingAndGrey) {
    REQUIRE_TOOL("identify");
    Loaded src(Source(24));
    const QByteArray base = P("q").toUtf8();
    struct Case {
        int progressive, quality, subsampling;
        int expectQuality, h, v;
    };
    const Case cases[] = {
        {0, 75, 0, 75, 2, 2}, {1, 90, 1, 90, 2, 1},    {0, 100, 2, 100, 1, 1},
        {1, 0, 9, 1, 2, 2},   {0, 250, -1, 100, 2, 2},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        const QString path = P(QStringLiteral("c%1.jpg").arg(n++));
        ASSERT_EQ(IKJpegFileSave(path.toUtf8().constData(), src.Handle(), c.progressive, c.quality,
                                 c.subsampling, "", 0, "", "", ""),
                  1);
        const JpegHeader hd = ReadJpegHeader(path);
        EXPECT_EQ(hd.progressive, c.progressive != 0);
        EXPECT_EQ(hd.components, 3);
        EXPECT_EQ(hd.h, c.h);
        EXPECT_EQ(hd.v, c.v);
        QByteArray q;
        ASSERT_TRUE(RunTool("identify", {"-format", "%Q", path}, &q));
        EXPECT_EQ(q.trimmed().toInt(), c.expectQuality);
        // Lossy: near the sharp colour blocks chroma subsampling moves single pixels far, so
        // the mean difference is what tells a good encoding.
        if (c.expectQuality >= 90) {
            EXPECT_LE(MeanDiff(Loaded(path).Rgb(), src.Rgb()), 6.0);
        }
    }
    // A grey palette image stays grey; a colour palette image becomes RGB.
    const QImage pattern = PatternImage();
    Loaded colour(IKDibFromBitmap(&pattern, 0));
    Loaded grey(IKConvertColor(colour.Handle(), 8, 1, 0, 128, 0, "", "", ""));
    ASSERT_EQ(
        IKJpegFileSave(P("g.jpg").toUtf8().constData(), grey.Handle(), 0, 95, 0, "", 0, "", "", ""),
        1);
    EXPECT_EQ(ReadJpegHeader(P("g.jpg")).components, 1);
    Loaded pal(Source(8));
    ASSERT_EQ(
        IKJpegFileSave(P("p.jpg").toUtf8().constData(), pal.Handle(), 0, 95, 0, "", 0, "", "", ""),
        1);
    EXPECT_EQ(ReadJpegHeader(P("p.jpg")).components, 3);
    // A comment text goes into the file.
    ASSERT_EQ(IKJpegFileSave(P("t.jpg").toUtf8().constData(), pal.Handle(), 0, 80, 0, "メモ", 0, "",
                             "", ""),
              1);
    EXPECT_EQ(TypeOf(P("t.jpg")).comment, QByteArray("メモ"));
}

TEST_F(Save, TiffCompressionsPhotometricsAndPalettes) {
    Loaded rgb(Source(24));
    const int tags[] = {COMPRESSION_NONE,      COMPRESSION_CCITTRLE,  COMPRESSION_CCITTFAX3,
                        COMPRESSION_CCITTFAX3, COMPRESSION_CCITTFAX4, COMPRESSION_PACKBITS,
                        COMPRESSION_LZW};
    const int types[] = {IK_TYPE_TIFF_NONE,  IK_TYPE_TIFF_CCITTRLE, IK_TYPE_TIFF_G3_1D,
                         IK_TYPE_TIFF_G3_2D, IK_TYPE_TIFF_G4,       IK_TYPE_TIFF_PACKBITS,
                         IK_TYPE_TIFF_LZW};
    for (int index = 0; index <= 7; ++index) {
        SCOPED_TRACE(index);
        const int expected = index == 7 ? 0 : index; // an unknown index is "none"
        const QString path = P(QStringLiteral("c%1.tif").arg(index));
        ASSERT_EQ(IKTiffFileSave(path.toUtf8().constData(), rgb.Handle(), index == 7 ? 42 : index,
                                 0, 0, "", 0, 0, "", "", ""),
                  1);
        const TiffHeader hd = ReadTiffHeader(path);
        EXPECT_EQ(hd.compression, tags[expected]);
        EXPECT_EQ(TypeOf(path).type, types[expected]);
        const bool fax = expected >= 1 && expected <= 4;
        if (fax) {
            // Converted to black and white by error diffusion.
            EXPECT_EQ(hd.bps, 1);
            EXPECT_EQ(hd.spp, 1);
            EXPECT_EQ(hd.photometric, PHOTOMETRIC_MINISWHITE);
            Loaded back(path);
            EXPECT_EQ(back.Bpp(), 1);
            if (Have("convert")) {
                EXPECT_EQ(MaxDiff(ByImageMagick(path), back.Rgb()), 0);
            }
        } else {
            EXPECT_EQ(hd.photometric, PHOTOMETRIC_RGB);
            EXPECT_EQ(hd.spp, 3);
            if (Have("convert")) {
                EXPECT_EQ(MaxDiff(ByImageMagick(path), rgb.Rgb()), 0);
            }
        }
    }
    // Palette images keep their palette.
    for (int bits : {1, 4, 8}) {
        Loaded pal(Source(bits));
        const QString path = P(QStringLiteral("pal%1.tif").arg(bits));
        ASSERT_EQ(
            IKTiffFileSave(path.toUtf8().constData(), pal.Handle(), 6, 0, 0, "", 0, 0, "", "", ""),
            1);
        const TiffHeader hd = ReadTiffHeader(path);
        EXPECT_EQ(hd.photometric, PHOTOMETRIC_PALETTE);
        EXPECT_EQ(hd.bps, bits);
        Loaded back(path);
        EXPECT_EQ(back.Bpp(), bits);
        EXPECT_EQ(MaxDiff(back.Rgb(), pal.Rgb()), 0);
    }
}

TEST_F(Save, GifVersionInterlaceTransparencyAndQuantising) {
    Loaded pal(Source(8));
    const QByteArray plain = P("plain.gif").toUtf8();
    ASSERT_EQ(IKGifFileSave(plain, pal.Handle(), 0, 0, 0, 0, 0, 0, 0, "", 0, "", "", ""), 1);
    GifHeader g = ReadGifHeader(plain);
    EXPECT_EQ(g.version, QByteArray("GIF87a"));
    EXPECT_FALSE(g.interlaced);
    EXPECT_EQ(g.transparent, -1);
    EXPECT_EQ(MaxDiff(Loaded(plain).Rgb(), pal.Rgb()), 0);
    if (Have("convert")) {
        EXPECT_EQ(MaxDiff(ByImageMagick(plain), pal.Rgb()), 0);
    }

    // Interlaced, with the exact colour of palette entry 5 transparent.
    const QRgb c5 = pal.Get()->img.color(5);
    const QByteArray inter = P("inter.gif").toUtf8();
    ASSERT_EQ(IKGifFileSave(inter, pal.Handle(), 1, 1, qRed(c5), qGreen(c5), qBlue(c5), 0, 0, "", 0,
                            "", "", ""),
              1);
    g = ReadGifHeader(inter);
    EXPECT_EQ(g.version, QByteArray("GIF89a"));
    EXPECT_TRUE(g.interlaced);
    EXPECT_EQ(g.transparent, 5);
    if (Have("convert")) {
        EXPECT_EQ(MaxDiff(ByImageMagick(inter), pal.Rgb()), 0);
    }

    // A colour that is in no entry: the nearest entry becomes transparent.
    QImage two(4, 4, QImage::Format_Indexed8);
    two.setColorTable({qRgb(0, 0, 0), qRgb(250, 250, 250)});
    two.fill(1);
    Loaded twoColours(IKDibFromBitmap(&two, 0));
    ASSERT_EQ(IKGifFileSave(P("near.gif").toUtf8(), twoColours.Handle(), 0, 1, 255, 255, 255, 0, 0,
                            "", 0, "", "", ""),
              1);
    EXPECT_EQ(ReadGifHeader(P("near.gif")).transparent, 1);
    // A comment makes GIF89a too.
    ASSERT_EQ(IKGifFileSave(P("c.gif").toUtf8(), twoColours.Handle(), 0, 0, 0, 0, 0, 0, 0,
                            "comment", 0, "", "", ""),
              1);
    g = ReadGifHeader(P("c.gif"));
    EXPECT_EQ(g.version, QByteArray("GIF89a"));
    EXPECT_EQ(g.comment, QByteArray("comment"));

    // A true-colour image is quantised to at most 256 colours and stays close to the source.
    Loaded rgb(Source(24));
    ASSERT_EQ(
        IKGifFileSave(P("q.gif").toUtf8(), rgb.Handle(), 0, 0, 0, 0, 0, 0, 0, "", 0, "", "", ""),
        1);
    Loaded back(P("q.gif"));
    EXPECT_EQ(back.Bpp(), 8);
    EXPECT_LE(MaxDiff(back.Rgb(), rgb.Rgb()), 48);
}

TEST_F(Save, PngDepthsInterlaceAndTransparency) {
    for (int bits : {1, 4, 8}) {
        SCOPED_TRACE(bits);
        Loaded pal(Source(bits));
        const QString path = P(QStringLiteral("p%1.png").arg(bits));
        ASSERT_EQ(
            IKPngFileSave(path.toUtf8().constData(), pal.Handle(), 0, 0, 0, 0, 0, 0, 0, "", "", ""),
            1);
        const PngHeader hd = ReadPngHeader(path);
        EXPECT_EQ(hd.colourType, PNG_COLOR_TYPE_PALETTE);
        EXPECT_EQ(hd.bitDepth, bits);
        EXPECT_EQ(hd.interlace, PNG_INTERLACE_NONE);
        EXPECT_TRUE(hd.trnsAlpha.empty());
        EXPECT_EQ(MaxDiff(Loaded(path).Rgb(), pal.Rgb()), 0);
    }
    // 16 and 32 bits are written as 24-bit RGB; interlaced with Adam7.
    for (int bits : {16, 24, 32}) {
        SCOPED_TRACE(bits);
        Loaded src(Source(bits));
        const QString path = P(QStringLiteral("t%1.png").arg(bits));
        ASSERT_EQ(
            IKPngFileSave(path.toUtf8().constData(), src.Handle(), 1, 0, 0, 0, 0, 0, 0, "", "", ""),
            1);
        const PngHeader hd = ReadPngHeader(path);
        EXPECT_EQ(hd.colourType, PNG_COLOR_TYPE_RGB);
        EXPECT_EQ(hd.bitDepth, 8);
        EXPECT_EQ(hd.interlace, PNG_INTERLACE_ADAM7);
        if (Have("convert")) {
            EXPECT_EQ(MaxDiff(ByImageMagick(path), src.Rgb()), 0);
        }
    }
    // tRNS: exactly the palette entries of that colour, or the RGB value itself.
    Loaded pal(Source(8));
    const QRgb c = pal.Get()->img.color(3);
    ASSERT_EQ(IKPngFileSave(P("tp.png").toUtf8(), pal.Handle(), 0, 1, qRed(c), qGreen(c), qBlue(c),
                            0, 0, "", "", ""),
              1);
    PngHeader hd = ReadPngHeader(P("tp.png"));
    ASSERT_GE(hd.trnsAlpha.size(), 4u);
    for (size_t i = 0; i < hd.trnsAlpha.size(); ++i)
        EXPECT_EQ(hd.trnsAlpha[i], pal.Get()->img.color(int(i)) == c ? 0 : 255) << i;
    Loaded rgb(Source(24));
    ASSERT_EQ(IKPngFileSave(P("tr.png").toUtf8(), rgb.Handle(), 0, 1, 255, 0, 0, 0, 0, "", "", ""),
              1);
    hd = ReadPngHeader(P("tr.png"));
    EXPECT_EQ(hd.trnsRed, 255);
    EXPECT_EQ(hd.trnsGreen, 0);
    EXPECT_EQ(hd.trnsBlue, 0);
    // Reading it back, the red block is transparent and the rest is not.
    const QImage back = Loaded(P("tr.png")).Rgb();
    EXPECT_EQ(qAlpha(back.pixel(W / 4 + 1, H / 4 + 1)), 0);
    EXPECT_EQ(qAlpha(back.pixel(1, 1)), 255);
}

TEST_F(Save, PcxAtEveryDepthReadsBackInOtherPrograms) {
    REQUIRE_TOOL("convert");
    for (int bits : {1, 4, 8, 24, 32}) {
        SCOPED_TRACE(bits);
        Loaded src(Source(bits));
        const QString path = P(QStringLiteral("p%1.pcx").arg(bits));

        ASSERT_EQ(IKPcxFileSave(path.toUtf8().constData(), src.Handle(), 0, "", "", ""), 1);
        EXPECT_EQ(TypeOf(path).type, IK_TYPE_PCX);
        EXPECT_EQ(TypeOf(path).bitCount, bits == 32 ? 24 : bits);
        // ImageMagick reads every 1-bit PCX with 0 as white, whatever the file's palette, and
        // Pillow assembles four-plane files in another bit order; each is checked by the reader
        // that follows the format there.
        if (bits != 1) {
            EXPECT_EQ(MaxDiff(ByImageMagick(path), src.Rgb()), 0);
        }
        if (bits != 4 && Have("/usr/bin/python3")) {
            EXPECT_EQ(MaxDiff(ByPillow(path), src.Rgb()), 0);
        }
        Loaded back(path);
        EXPECT_EQ(back.Bpp(), bits == 32 ? 24 : bits);
    }
}

TEST_F(Save, FailuresNeverDestroyAnExistingFile) {
    Loaded src(Source(24));
    const QString target = P("keep.png");
    const QByteArray before = "the file that was here";
    WriteBytes(Dir(), "keep.png", before);
    ::chmod(target.toUtf8().constData(), 0640);
    // No image.
    EXPECT_EQ(IKPngFileSave(target.toUtf8(), 0, 0, 0, 0, 0, 0, 0, 0, "", "", ""), 0);
    EXPECT_EQ(IKBmpFileSave(target.toUtf8(), 0, 0, 0, "", "", ""), 0);
    EXPECT_EQ(ReadBytes(target), before);
    // A missing folder.
    EXPECT_EQ(
        IKJpegFileSave(P("no/such/dir/a.jpg").toUtf8(), src.Handle(), 0, 75, 0, "", 0, "", "", ""),
        0);
    // A folder where the file should go.
    QDir(m_dir.path()).mkdir("folder.bmp");
    EXPECT_EQ(IKBmpFileSave(P("folder.bmp").toUtf8(), src.Handle(), 0, 0, "", "", ""), 0);
    EXPECT_TRUE(QFileInfo(P("folder.bmp")).isDir());
    // Stopped with the progress window: the old file stays, no temporary file is left.
    const QImage big = PatternImage(2500, 2500);
    Loaded large(IKDibFromBitmap(&big, 0));
    IKSetProgressDelay(0);
    StopProgressWindows stop;
    EXPECT_EQ(IKPngFileSave(target.toUtf8(), large.Handle(), 0, 0, 0, 0, 0, 0, 0, "処理中",
                            "処理中です...", "中止"),
              0);
    EXPECT_EQ(IKTiffFileSave(target.toUtf8(), large.Handle(), 0, 0, 0, "", 0, 0, "処理中",
                             "処理中です...", "中止"),
              0);
    EXPECT_EQ(stop.shown, 2);
    EXPECT_EQ(LastStatus().code, IK_ERR_STOPPED);
    IKSetProgressDelay(400);
    EXPECT_EQ(ReadBytes(target), before);
    EXPECT_EQ(Files(), QStringList{"keep.png"});
    // A successful save replaces the file and keeps its permissions.
    ASSERT_EQ(IKPngFileSave(target.toUtf8(), src.Handle(), 0, 0, 0, 0, 0, 0, 0, "", "", ""), 1);
    EXPECT_EQ(TypeOf(target).type, IK_TYPE_PNG);
    struct stat st {};
    ASSERT_EQ(::stat(target.toUtf8().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(Files(), QStringList{"keep.png"});
}

TEST_F(Save, ASymlinkIsWrittenThrough) {
    Loaded src(Source(24));
    // Through a symbolic link the file it names is replaced; the link stays a link.
    WriteBytes(Dir(), "real.bmp", "old");
    ASSERT_TRUE(QFile::link(P("real.bmp"), P("link.bmp")));
    ASSERT_EQ(IKBmpFileSave(P("link.bmp").toUtf8(), src.Handle(), 0, 0, "", "", ""), 1);
    EXPECT_TRUE(QFileInfo(P("link.bmp")).isSymLink());
    EXPECT_EQ(TypeOf(P("real.bmp")).type, IK_TYPE_BMP);
}

TEST_F(Save, ReadOnlyFolderFails) {
    Loaded src(Source(24));
    QDir(m_dir.path()).mkdir("ro");
    const QString ro = P("ro");
    WriteBytes(QDir(ro), "a.gif", "old");
    ::chmod(ro.toUtf8().constData(), 0555);
    const bool writable = ::access(ro.toUtf8().constData(), W_OK) == 0; // root may write anyway
    const int result = IKGifFileSave(QDir(ro).filePath("a.gif").toUtf8(), src.Handle(), 0, 0, 0, 0,
                                     0, 0, 0, "", 0, "", "", "");
    ::chmod(ro.toUtf8().constData(), 0755);
    if (writable)
        GTEST_SKIP() << "this user may write into read-only folders";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadBytes(QDir(ro).filePath("a.gif")), QByteArray("old"));
}
