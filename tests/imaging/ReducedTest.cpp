// Reduced decoding for thumbnails: PNG and TIFF shrunk while they decode must give what a full
// decoding shrunk afterwards gives, for every kind of picture that ImageMagick, Pillow and
// libtiff's tools write; TIFF orientation, damaged strips and hostile headers; and LZW TIFF written
// with the horizontal predictor, read back by libtiff's tiffinfo and ImageMagick.
#include "ImagingSupport.h"

#include <QFileInfo>
#include <QtEndian>

using namespace testimg;

namespace {

class Reduced : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Have("convert") || !Have("/usr/bin/python3"))
            GTEST_SKIP() << "ImageMagick or Python is not installed";
        m_ppm = WritePpm(Dir(), "src.ppm", kW, kH);
    }
    QDir Dir() const { return QDir(m_dir.path()); }
    QString Make(const QString& name, const QStringList& options) {
        return Convert(Dir(), m_ppm, name, options);
    }
    // Writes the pattern through Pillow: the mode it is converted to (an alpha gradient is added
    // for modes with alpha), and the save arguments as Python keywords.
    QString Pillow(const QString& name, const QString& mode, const QString& keywords) {
        const QString out = Dir().filePath(name);
        const QString script = QStringLiteral("import sys\nfrom PIL import Image\n"
                                              "im = Image.open(sys.argv[1]).convert('RGB')\n"
                                              "mode = sys.argv[3]\n"
                                              "if 'A' in mode:\n"
                                              "    a = Image.linear_gradient('L').resize(im.size)\n"
                                              "    im.putalpha(a)\n"
                                              "if mode == 'P':\n"
                                              "    im = im.quantize(200)\n"
                                              "elif mode != im.mode:\n"
                                              "    im = im.convert(mode)\n"
                                              "im.save(sys.argv[2], %1)\n")
                                   .arg(keywords);
        EXPECT_TRUE(RunTool("/usr/bin/python3", {"-c", script, m_ppm, out, mode}));
        return out;
    }
    static constexpr int kW = 643, kH = 481;

private:
    QTemporaryDir m_dir;
    QString m_ppm;
};

// The picture with its colours multiplied by alpha: what shows of it, whatever hides under
// transparent pixels (the values compared as they are, not divided back by alpha).
QImage Visible(const QImage& img) {
    QImage out = img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    out.reinterpretAsFormat(QImage::Format_ARGB32);
    return out;
}

// The image of a handle resized to size by averaging what shows of each pixel (its colour times
// its alpha), as 32-bit colours.
QImage ResizedTo(IKHANDLE h, QSize size) {
    const ik::Image* im = ik::Get(h);
    if (!im)
        return QImage();
    return Visible(im->img.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                       .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

// Loads path reduced for a target and compares it, resized to the target, with the full decoding
// resized alike. The reduced picture is at least the target and less than twice it.
void ExpectReducedLikeFull(const QString& path, QSize target, QSize full) {
    SCOPED_TRACE(QFileInfo(path).fileName().toStdString());
    Loaded whole(path);
    ASSERT_NE(whole.Handle(), 0u) << LastStatus().reason.toStdString();
    ASSERT_EQ(whole.Size(), full);
    int32_t ow = 0, oh = 0;
    Loaded reduced(
        IKFileLoadScaled(path.toUtf8().constData(), target.width(), target.height(), &ow, &oh));
    ASSERT_NE(reduced.Handle(), 0u) << LastStatus().reason.toStdString();
    EXPECT_EQ(QSize(ow, oh), full);
    const QSize got = reduced.Size();
    EXPECT_GE(got.width(), target.width());
    EXPECT_GE(got.height(), target.height());
    EXPECT_LT(got.width(), 2 * target.width() + 2);
    EXPECT_LT(got.height(), 2 * target.height() + 2);
    const QImage a = ResizedTo(whole.Handle(), target), b = ResizedTo(reduced.Handle(), target);
    // Within two levels on average, and no pixel far off (the solid blocks' edges fall between
    // the blocks of the reduction, where a level or two more is fair).
    EXPECT_LE(MeanDiff(a, b), 2.0);
    EXPECT_LE(MaxDiff(a, b), 24);
}

TEST_F(Reduced, PngOfEveryKindShrinksLikeAFullDecoding) {
    const QSize full(kW, kH), target(40, 30);
    for (const QString& path : {
             Pillow("grey.png", "L", "'PNG'"),
             Pillow("palette.png", "P", "'PNG'"),
             Pillow("rgb.png", "RGB", "'PNG', compress_level=1"),
             Pillow("rgba.png", "RGBA", "'PNG'"),
             Pillow("greyalpha.png", "LA", "'PNG'"),
             Pillow("bilevel.png", "1", "'PNG'"),
             Make("rgb16.png", {"-depth", "16"}),
             Make("grey16.png", {"-colorspace", "Gray", "-depth", "16"}),
             Make("grey4.png", {"-colorspace", "Gray", "-depth", "4"}),
             Make("interlaced.png", {"-interlace", "PNG"}),
             Make("transparent.png", {"-transparent", "red"}),
         })
        ExpectReducedLikeFull(path, target, full);
}

TEST_F(Reduced, TiffOfEveryKindShrinksLikeAFullDecoding) {
    const QSize full(kW, kH), target(40, 30);
    QStringList files = {
        Pillow("grey.tif", "L", "'TIFF', compression='tiff_lzw'"),
        Pillow("palette.tif", "P", "'TIFF', compression='tiff_lzw'"),
        Pillow("rgb.tif", "RGB", "'TIFF', compression='tiff_adobe_deflate'"),
        Pillow("rgba.tif", "RGBA", "'TIFF', compression='tiff_lzw'"),
        Pillow("greyalpha.tif", "LA", "'TIFF'"),
        Pillow("bilevel.tif", "1", "'TIFF', compression='group4'"),
        Make("im-rgb.tif", {"-compress", "LZW"}),
        Make("im-rgb-packbits.tif", {"-compress", "RLE"}),
        Make("im-grey.tif", {"-colorspace", "Gray", "-compress", "LZW"}),
        Make("im-palette.tif", {"-type", "Palette", "-compress", "LZW"}),
        Make("im-rgba.tif",
             {"-alpha", "set", "-channel", "A", "-fx", "i/w", "+channel", "-compress", "LZW"}),
        Make("im-rgba-assoc.tif", {"-alpha", "set", "-channel", "A", "-fx", "j/h", "+channel",
                                   "-define", "tiff:alpha=associated", "-compress", "Zip"}),
        Make("im-rgb16.tif", {"-depth", "16", "-compress", "LZW"}),
        Make("im-tiled.tif", {"-define", "tiff:tile-geometry=64x64", "-compress", "Zip"}),
        Make("im-grey-tiled.tif",
             {"-colorspace", "Gray", "-define", "tiff:tile-geometry=128x64", "-compress", "LZW"}),
        Make("im-miniswhite.tif", {"-monochrome", "-compress", "Group4"}),
        Make("im-rows.tif", {"-define", "tiff:rows-per-strip=1", "-compress", "None"}),
    };
    if (Have("tiffcp")) {
        const QString src = Dir().filePath("im-rgb.tif");
        for (const auto& [name, args] : std::initializer_list<std::pair<QString, QStringList>>{
                 {"cp-tiled.tif", {"-t", "-w", "48", "-l", "32", "-c", "lzw:2"}},
                 {"cp-planes.tif", {"-p", "separate", "-c", "zip"}},
                 {"cp-predictor.tif", {"-c", "lzw:2", "-r", "7"}},
             }) {
            const QString out = Dir().filePath(name);
            ASSERT_TRUE(RunTool("tiffcp", args + QStringList{src, out}));
            files << out;
        }
    }
    for (const QString& path : files)
        ExpectReducedLikeFull(path, target, full);
}

TEST_F(Reduced, TiffOrientationTurnsThePictureAndItsSize) {
    if (!Have("tiffset"))
        GTEST_SKIP() << "libtiff's tools are not installed";
    const QString upright = Make("upright.tif", {"-compress", "LZW"});
    Loaded stored(upright);
    ASSERT_NE(stored.Handle(), 0u);
    const QImage s = stored.Rgb();
    // 6: turn a quarter clockwise to view; 8: anticlockwise; 3: half a turn; 2: mirrored.
    for (const int orientation : {2, 3, 6, 8}) {
        SCOPED_TRACE(orientation);
        const QString path = Dir().filePath(QStringLiteral("o%1.tif").arg(orientation));
        ASSERT_TRUE(QFile::copy(upright, path));
        ASSERT_TRUE(RunTool("tiffset", {"-s", "274", QString::number(orientation), path}));
        Loaded turned(path);
        ASSERT_NE(turned.Handle(), 0u);
        const QImage t = turned.Rgb();
        const bool quarter = orientation >= 5;
        ASSERT_EQ(t.size(), quarter ? s.size().transposed() : s.size());
        const int w = s.width() - 1, h = s.height() - 1;
        // Where the stored picture's top-left and bottom-left pixels end up.
        const QPoint topLeft = orientation == 2   ? QPoint(w, 0)
                               : orientation == 3 ? QPoint(w, h)
                               : orientation == 6 ? QPoint(h, 0)
                                                  : QPoint(0, w);
        const QPoint bottomLeft = orientation == 2   ? QPoint(w, h)
                                  : orientation == 3 ? QPoint(w, 0)
                                  : orientation == 6 ? QPoint(0, 0)
                                                     : QPoint(h, w);
        EXPECT_EQ(t.pixel(topLeft), s.pixel(0, 0));
        EXPECT_EQ(t.pixel(bottomLeft), s.pixel(0, h));
        // Reduced alike, with the upright size reported.
        int32_t ow = 0, oh = 0;
        const QSize target = quarter ? QSize(30, 40) : QSize(40, 30);
        Loaded small(
            IKFileLoadScaled(path.toUtf8().constData(), target.width(), target.height(), &ow, &oh));
        ASSERT_NE(small.Handle(), 0u);
        EXPECT_EQ(QSize(ow, oh), t.size());
        EXPECT_GE(small.Size().width(), target.width());
        EXPECT_GE(small.Size().height(), target.height());
        EXPECT_LE(MeanDiff(ResizedTo(turned.Handle(), target), ResizedTo(small.Handle(), target)),
                  2.0);
    }
}

// Halves the byte counts of the strips from the first'th on of a little-endian TIFF: strips
// whose data ends early.
void ShortenStrips(QByteArray& tiff, int first) {
    auto u16 = [&](qsizetype at) { return qFromLittleEndian<quint16>(tiff.constData() + at); };
    auto u32 = [&](qsizetype at) { return qFromLittleEndian<quint32>(tiff.constData() + at); };
    ASSERT_TRUE(tiff.startsWith("II*"));
    const qsizetype ifd = u32(4);
    const int entries = u16(ifd);
    for (int i = 0; i < entries; ++i) {
        const qsizetype e = ifd + 2 + 12 * i;
        if (u16(e) != 279)
            continue;
        const int type = u16(e + 2);
        const quint32 count = u32(e + 4);
        const int size = type == 3 ? 2 : 4;
        const qsizetype at = count * size <= 4 ? e + 8 : qsizetype(u32(e + 8));
        for (quint32 s = quint32(first); s < count; ++s) {
            const qsizetype p = at + qsizetype(s) * size;
            if (size == 2)
                qToLittleEndian<quint16>(quint16(u16(p) / 2), tiff.data() + p);
            else
                qToLittleEndian<quint32>(u32(p) / 2, tiff.data() + p);
        }
        return;
    }
    FAIL() << "no strip byte counts";
}

TEST_F(Reduced, TiffWithShortStripsShowsWhatDecodesAndTheRestGrey) {
    for (const QString& kind : {QStringLiteral("rgb"), QStringLiteral("grey")}) {
        SCOPED_TRACE(kind.toStdString());
        QStringList options = {"-define", "tiff:rows-per-strip=16", "-compress", "LZW"};
        if (kind == "grey")
            options = QStringList{"-colorspace", "Gray"} + options;
        const QString good = Make(kind + ".tif", options);
        QByteArray bytes = ReadBytes(good);
        ShortenStrips(bytes, 10);
        if (HasFatalFailure())
            return;
        const QString bad = WriteBytes(Dir(), kind + "-short.tif", bytes);
        Loaded intact(good), damaged(bad);
        ASSERT_NE(damaged.Handle(), 0u) << LastStatus().reason.toStdString();
        EXPECT_EQ(LastStatus().code, IK_STATUS_TRUNCATED);
        const QImage a = intact.Rgb(), b = damaged.Rgb();
        ASSERT_EQ(a.size(), b.size());
        // The strips before the tenth are whole; the last row of the last strip is lost.
        for (int y = 0; y < 160; y += 7)
            for (int x = 0; x < a.width(); x += 13)
                ASSERT_EQ(a.pixel(x, y), b.pixel(x, y)) << x << "," << y;
        EXPECT_EQ(b.pixel(a.width() / 2, a.height() - 1), qRgb(128, 128, 128));
        // Reduced: the picture too, with the same note; its top (the first ten strips) as the
        // intact file's, its last row (where half the rows are grey) not.
        Loaded small(IKFileLoadScaled(bad.toUtf8().constData(), 40, 30, nullptr, nullptr));
        ASSERT_NE(small.Handle(), 0u);
        EXPECT_EQ(LastStatus().code, IK_STATUS_TRUNCATED);
        Loaded smallIntact(IKFileLoadScaled(good.toUtf8().constData(), 40, 30, nullptr, nullptr));
        const QImage sa = smallIntact.Rgb(), sb = small.Rgb();
        ASSERT_EQ(sa.size(), sb.size());
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < sa.width(); ++x)
                ASSERT_EQ(sa.pixel(x, y), sb.pixel(x, y)) << x << "," << y;
        EXPECT_GT(MeanDiff(sa.copy(0, sa.height() - 1, sa.width(), 1),
                           sb.copy(0, sb.height() - 1, sb.width(), 1)),
                  4.0);
    }
}

TEST_F(Reduced, TruncatedPngShrinksWhatItHoldsAndTheRestIsGrey) {
    const QString good = Make("cut.png", {"-quality", "10"});
    const QByteArray bytes = ReadBytes(good);
    const QString bad = WriteBytes(Dir(), "cut-short.png", bytes.left(bytes.size() / 2));
    Loaded small(IKFileLoadScaled(bad.toUtf8().constData(), 40, 30, nullptr, nullptr));
    ASSERT_NE(small.Handle(), 0u);
    EXPECT_EQ(LastStatus().code, IK_STATUS_TRUNCATED);
    const QImage s = small.Rgb();
    EXPECT_EQ(s.pixel(s.width() / 2, s.height() - 1), qRgb(128, 128, 128));
    // The top is the picture.
    Loaded whole(good);
    const QImage w = whole.Rgb();
    EXPECT_LE(std::abs(qRed(s.pixel(2, 0)) - qRed(w.pixel(32, 8))), 8);
    // Nothing of it: no picture.
    const QString header = WriteBytes(Dir(), "cut-header.png", bytes.left(60));
    EXPECT_EQ(IKFileLoadScaled(header.toUtf8().constData(), 40, 30, nullptr, nullptr), 0u);
}

TEST_F(Reduced, TypeGivenByTheCallerIsNotTrustedForTheContent) {
    const QString png = Make("typed.png", {});
    int32_t ow = 0, oh = 0;
    Loaded right(IKFileLoadScaledAs(png.toUtf8().constData(), IK_TYPE_PNG, 40, 30, &ow, &oh));
    ASSERT_NE(right.Handle(), 0u);
    EXPECT_EQ(QSize(ow, oh), QSize(kW, kH));
    Loaded plain(IKFileLoadScaled(png.toUtf8().constData(), 40, 30, nullptr, nullptr));
    EXPECT_EQ(MaxDiff(right.Rgb(), plain.Rgb()), 0);
    // A PNG said to be a TIFF, a JPEG or a GIF fails in the decoder.
    for (const int type : {int(IK_TYPE_TIFF_LZW), int(IK_TYPE_JPEG), int(IK_TYPE_GIF89A),
                           int(IK_TYPE_BMP), int(IK_TYPE_WMF)}) {
        EXPECT_EQ(IKFileLoadScaledAs(png.toUtf8().constData(), type, 40, 30, nullptr, nullptr), 0u)
            << type;
        EXPECT_GT(LastStatus().code, IK_ERR_NONE);
    }
}

TEST(ReducedHostile, TiffHeaderDeclaringAHugePictureIsRefusedBeforeAllocation) {
    QTemporaryDir dir;
    // 14142 × 14142 RGB, LZW, one strip of 4 bytes.
    QByteArray t("II*\0", 4);
    AppendLE32(t, 8);
    const uint32_t entries[][3] = {{256, 4, 14142}, {257, 4, 14142}, {258, 3, 8},
                                   {259, 3, 5},     {262, 3, 2},     {273, 4, 200},
                                   {277, 3, 3},     {278, 4, 14142}, {279, 4, 4}};
    AppendLE16(t, int(std::size(entries)));
    for (const auto& e : entries) {
        AppendLE16(t, int(e[0]));
        AppendLE16(t, int(e[1]));
        AppendLE32(t, 1);
        if (e[1] == 3) {
            AppendLE16(t, int(e[2]));
            AppendLE16(t, 0);
        } else {
            AppendLE32(t, e[2]);
        }
    }
    AppendLE32(t, 0);
    t.append(QByteArray(200 - t.size(), '\0'));
    t.append("\x80\x00\x00\x01", 4);
    const QString path = WriteBytes(QDir(dir.path()), "huge.tif", t);
    const ChildRun run = RunInChild([&] {
        const IKHANDLE h = IKFileLoadScaled(path.toUtf8().constData(), 40, 30, nullptr, nullptr);
        return h ? 1 : LastStatus().code;
    });
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.result, IK_ERR_LIMIT);
    EXPECT_LT(run.peakGrowthMb, 64);
}

TEST_F(Reduced, LzwTiffIsSavedWithTheHorizontalPredictor) {
    if (!Have("tiffinfo") || !Have("tiffcp"))
        GTEST_SKIP() << "libtiff's tools are not installed";
    // A photo-like picture: smooth colours with fine noise.
    const QString photo = Dir().filePath("photo.png");
    ASSERT_TRUE(RunTool(
        "convert", {"-size", "400x300", "-seed", "4", "plasma:fractal", "-depth", "8", photo}));
    Loaded src(photo);
    ASSERT_NE(src.Handle(), 0u);
    for (const bool alpha : {false, true}) {
        SCOPED_TRACE(alpha);
        IKHANDLE h = src.Handle();
        Loaded withAlpha(alpha ? IKConvertColor(src.Handle(), 32, 0, 0, 128, 0, "", "", "") : 0);
        if (alpha) {
            ik::Image* im = ik::Get(withAlpha.Handle());
            ASSERT_NE(im, nullptr);
            im->img = im->img.convertToFormat(QImage::Format_ARGB32);
            for (int y = 0; y < im->img.height(); ++y)
                for (int x = 0; x < im->img.width(); ++x)
                    im->img.setPixel(x, y,
                                     (im->img.pixel(x, y) & 0xFFFFFF) | uint32_t(x % 256) << 24);
            h = withAlpha.Handle();
        }
        const QString out = Dir().filePath(alpha ? "pred-a.tif" : "pred.tif");
        ASSERT_NE(
            IKTiffFileSave(out.toUtf8().constData(), h, IK_TIFF_LZW, 0, 0, "", 0, 0, "", "", ""),
            0);
        QByteArray info;
        ASSERT_TRUE(RunTool("tiffinfo", {out}, &info));
        EXPECT_TRUE(info.contains("Predictor: horizontal differencing")) << info.toStdString();
        EXPECT_TRUE(info.contains("Compression Scheme: LZW"));
        // ImageMagick reads the very pixels back.
        const QString back = Dir().filePath(alpha ? "back-a.png" : "back.png");
        ASSERT_TRUE(RunTool("convert", {out, back}));
        Loaded b(back);
        const QImage written = ik::Get(h)->img.convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(MaxDiff(Visible(written), Visible(b.Rgb())), 0);
        // Smaller than the same rows without the predictor.
        const QString plain = Dir().filePath(alpha ? "plain-a.tif" : "plain.tif");
        ASSERT_TRUE(RunTool("tiffcp", {"-c", "lzw:1", out, plain}));
        EXPECT_LT(QFileInfo(out).size(), QFileInfo(plain).size() * 9 / 10);
    }
    // Palette pictures are written without it.
    Loaded pal(
        IKConvertColor(src.Handle(), 8, IK_PALETTE_OPTIMAL, IK_DITHER_OFF, 128, 0, "", "", ""));
    const QString out = Dir().filePath("pal.tif");
    ASSERT_NE(IKTiffFileSave(out.toUtf8().constData(), pal.Handle(), IK_TIFF_LZW, 0, 0, "", 0, 0,
                             "", "", ""),
              0);
    QByteArray info;
    ASSERT_TRUE(RunTool("tiffinfo", {out}, &info));
    EXPECT_FALSE(info.contains("Predictor: horizontal")) << info.toStdString();
}

} // namespace
