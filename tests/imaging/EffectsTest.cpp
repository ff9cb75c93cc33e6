// Colour conversion, resizing, sharpening, drawing and the clipboard.
#include "ImagingSupport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPainter>
#include <set>

using namespace testimg;

namespace {

IKHANDLE FromImage(const QImage& img) {
    return IKDibFromBitmap(&img, 0);
}

QImage PatternImage(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, Pattern(x, y, w, h));
    return img;
}

IKHANDLE ConvertDepth(IKHANDLE h, int bits, int palette = 0, int dither = 1) {
    return IKConvertColor(h, bits, palette, dither, 128, 0, "", "", "");
}

std::set<int> IndicesUsed(const ik::Image* im) {
    std::set<int> used;
    for (int y = 0; y < im->img.height(); ++y)
        for (int x = 0; x < im->img.width(); ++x)
            used.insert(im->img.constScanLine(y)[x]);
    return used;
}

} // namespace

TEST(Effects, BitmapImportFollowsTheQImageFormat) {
    QImage mono(10, 10, QImage::Format_Mono);
    mono.fill(1);
    QImage idx(10, 10, QImage::Format_Indexed8);
    idx.setColorTable(QVector<QRgb>(12, qRgb(1, 2, 3)));
    idx.fill(3);
    const std::pair<QImage, int> cases[] = {
        {mono, 1},
        {idx, 4},
        {QImage(5, 5, QImage::Format_RGB555), 16},
        {QImage(5, 5, QImage::Format_RGB888), 24},
        {QImage(5, 5, QImage::Format_RGB32), 32},
        {QImage(5, 5, QImage::Format_Grayscale8), 32},
    };
    for (const auto& [img, bpp] : cases) {
        Loaded h(FromImage(img));
        EXPECT_EQ(h.Bpp(), bpp) << img.format();
    }
    EXPECT_EQ(IKDibFromBitmap(nullptr, 0), 0u);
    EXPECT_EQ(FromImage(QImage()), 0u);
    EXPECT_EQ(IKFreeMemory(0), 0); // does nothing
}

TEST(Effects, ConversionGivesEachDepth) {
    Loaded src(FromImage(PatternImage(64, 40)));
    for (int bits : {32, 24, 16, 8, 4, 1}) {
        SCOPED_TRACE(bits);
        Loaded out(ConvertDepth(src.Handle(), bits));
        ASSERT_NE(out.Handle(), 0u);
        EXPECT_EQ(out.Bpp(), bits);
        EXPECT_EQ(out.Size(), QSize(64, 40));
        if (bits <= 8) {
            EXPECT_LE(out.Get()->img.colorCount(), 1 << bits);
            EXPECT_LE(int(IndicesUsed(out.Get()).size()), 1 << bits);
        }
    }
    // 8 bits keep the picture close; 16 bits lose only low bits.
    Loaded eight(ConvertDepth(src.Handle(), 8));
    EXPECT_LE(MaxDiff(eight.Rgb(), src.Rgb()), 40);
    Loaded sixteen(ConvertDepth(src.Handle(), 16));
    EXPECT_LE(MaxDiff(sixteen.Rgb(), src.Rgb()), 8);
    EXPECT_EQ(ConvertDepth(src.Handle(), 7), 0u); // no such depth
    EXPECT_EQ(ConvertDepth(0, 8), 0u);
}

TEST(Effects, OneBitByErrorDiffusionOrThreshold) {
    QImage grey(100, 20, QImage::Format_RGB32);
    grey.fill(qRgb(128, 128, 128));
    Loaded src(FromImage(grey));
    // Dithered mid-grey is about half white; thresholded at 128 it is all white.
    Loaded dithered(ConvertDepth(src.Handle(), 1, 0, 1));
    const QImage d = dithered.Rgb();
    int white = 0;
    for (int y = 0; y < d.height(); ++y)
        for (int x = 0; x < d.width(); ++x)
            white += qRed(d.pixel(x, y)) == 255;
    EXPECT_NEAR(white, 1000, 60);
    Loaded plain(ConvertDepth(src.Handle(), 1, 0, 0));
    EXPECT_EQ(IndicesUsed(plain.Get()), std::set<int>{1});
    EXPECT_EQ(plain.Get()->img.colorTable(), (QVector<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)}));
}

TEST(Effects, GreyPaletteKindAndPaletteSourcesKeepTheirColours) {
    Loaded src(FromImage(PatternImage(40, 30)));
    Loaded grey(ConvertDepth(src.Handle(), 4, 1, 0));
    for (QRgb c : grey.Get()->img.colorTable())
        EXPECT_TRUE(qRed(c) == qGreen(c) && qGreen(c) == qBlue(c));
    // A 4-bit image asked for 8 bits keeps its palette and pixels.
    Loaded up(ConvertDepth(grey.Handle(), 8));
    EXPECT_EQ(up.Bpp(), 8);
    EXPECT_EQ(MaxDiff(up.Rgb(), grey.Rgb()), 0);
}

TEST(Effects, ResizeAveragesWhenShrinkingAndKeepsDepth) {
    // A fine black-and-white checkerboard shrinks to grey, not to black or white.
    QImage board(100, 100, QImage::Format_RGB888);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            board.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    Loaded src(FromImage(board));
    EXPECT_EQ(src.Bpp(), 24);
    const IKIMAGEREF r = IKResize(IKIMAGEREF{src.Handle(), 0}, 10, 10, 1, 0, "", "", "");
    Loaded small(r.image);
    ASSERT_NE(small.Handle(), 0u);
    EXPECT_EQ(small.Size(), QSize(10, 10));
    EXPECT_EQ(small.Bpp(), 24);
    EXPECT_NEAR(qRed(small.Rgb().pixel(5, 5)), 128, 10);
    // Growing and other depths.
    Loaded s16(ConvertDepth(src.Handle(), 16));
    Loaded big(IKResize(IKIMAGEREF{s16.Handle(), 0}, 150, 120, 1, 0, "", "", "").image);
    EXPECT_EQ(big.Size(), QSize(150, 120));
    EXPECT_EQ(big.Bpp(), 16);
    Loaded pal(ConvertDepth(src.Handle(), 8));
    Loaded palResized(IKResize(IKIMAGEREF{pal.Handle(), 0}, 20, 20, 1, 0, "", "", "").image);
    EXPECT_EQ(palResized.Bpp(), 24);
    // Refused sizes and images.
    EXPECT_EQ(IKResize(IKIMAGEREF{src.Handle(), 0}, 0, 10, 1, 0, "", "", "").image, 0u);
    EXPECT_EQ(IKResize(IKIMAGEREF{0, 0}, 10, 10, 1, 0, "", "", "").image, 0u);
    EXPECT_EQ(IKResize(IKIMAGEREF{src.Handle(), 0}, 70000, 70000, 1, 0, "", "", "").image, 0u);
}

TEST(Effects, SharpenActsInsideTheRectangleOnly) {
    // A vertical edge: dark left half, light right half.
    QImage edge(40, 20, QImage::Format_RGB32);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            edge.setPixel(x, y, x < 20 ? qRgb(80, 80, 80) : qRgb(160, 160, 160));
    Loaded src(FromImage(edge));
    const IKPOINT inner[4] = {{0, 0}, {40, 0}, {40, 10}, {0, 10}};
    Loaded sharp(IKSharp(IKIMAGEREF{src.Handle(), 0}, 2, inner, 4, 0, 1, 10, 0, "", "", ""));
    ASSERT_NE(sharp.Handle(), 0u);
    const QImage s = sharp.Rgb();
    // Inside: overshoot on both sides of the edge; flat areas unchanged.
    EXPECT_LT(qRed(s.pixel(19, 5)), 80);
    EXPECT_GT(qRed(s.pixel(20, 5)), 160);
    EXPECT_EQ(qRed(s.pixel(5, 5)), 80);
    // Outside the rectangle (rows 10 and below): untouched.
    EXPECT_EQ(qRed(s.pixel(19, 15)), 80);
    EXPECT_EQ(qRed(s.pixel(20, 15)), 160);
    EXPECT_EQ(sharp.Bpp(), 32);
    EXPECT_EQ(IKSharp(IKIMAGEREF{0, 0}, 2, inner, 4, 0, 1, 10, 0, "", "", ""), 0u);
}

TEST(Effects, ImageOutDrawsScaledIntoThePainter) {
    QImage red(10, 10, QImage::Format_RGB32);
    red.fill(qRgb(255, 0, 0));
    Loaded src(FromImage(red));
    QImage canvas(50, 50, QImage::Format_RGB32);
    canvas.fill(qRgb(255, 255, 255));
    {
        QPainter p(&canvas);
        const IKRECT r{10, 10, 30, 40}; // 20 × 30
        EXPECT_EQ(IKImageOut(&p, src.Handle(), &r, 1, 0, 0), 1);
        EXPECT_EQ(IKImageOut(&p, 0, &r, 1, 0, 0), 0);
    }
    EXPECT_EQ(canvas.pixel(10, 10), qRgb(255, 0, 0));
    EXPECT_EQ(canvas.pixel(29, 39), qRgb(255, 0, 0));
    EXPECT_EQ(canvas.pixel(30, 20), qRgb(255, 255, 255));
    EXPECT_EQ(canvas.pixel(20, 40), qRgb(255, 255, 255));
    EXPECT_EQ(canvas.pixel(9, 9), qRgb(255, 255, 255));
}

TEST(Effects, ClipboardReceivesTheImage) {
    QImage img = PatternImage(16, 12);
    Loaded src(FromImage(img));
    ASSERT_EQ(IKSetToClipBrd(nullptr, src.Handle(), 0, "", "", ""), 1);
    const QImage back = QGuiApplication::clipboard()->image();
    EXPECT_EQ(back.size(), QSize(16, 12));
    EXPECT_EQ(MaxDiff(back, img), 0);
    EXPECT_EQ(IKSetToClipBrd(nullptr, 0, 0, "", "", ""), 0);
}
