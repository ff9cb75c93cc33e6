// libik6effect: resizing, colour conversion, sharpening and orientation.
//
// Resize keeps the depth of 16-, 24- and 32-bit images; palette images are resampled in colour
// and come back at 24 bits (32 when their palette has transparency).
//
// Colour conversion to 4 or 8 bits: palette kind 1 makes a grey-level palette; any other kind an
// optimal palette for the image (libimagequant). Dithering (Floyd-Steinberg) when asked. To 1 bit:
// black and white by error diffusion when dithering, else by the threshold argument (0..255).
//
// Sharpening is an unsharp mask with a 3 × 3 neighbourhood over the bounding box of the given
// corners; strength s adds s/20 of the detail (strength 10 adds half). The option is reserved.
//
// Orientation turns and mirrors the pixels exactly (no resampling), keeping the depth and palette.
#include "core/Color.h"
#include "core/Image.h"

#include <QTransform>

#include <algorithm>
#include <cmath>

using ik::As32;
using ik::BackToDepth;
using ik::Image;

namespace {

// Pictures larger than this are shrunk by the band below instead of through a whole 32-bit copy
// (which would cost four bytes a pixel of the picture, on top of the picture itself).
constexpr int64_t kWholeCopyPixels = 16 * 1024 * 1024;

// Shrinks by averaging the area each new pixel covers (whole source pixels), reading the source
// one row at a time: the memory used is the result's and a row's.
QImage ShrinkByArea(const Image& src, int w, int h, ik::Progress& progress) {
    const QImage& img = src.img;
    const int sw = img.width(), sh = img.height();
    const bool alpha = img.hasAlphaChannel();
    QImage out(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (out.isNull())
        return out;
    const QVector<QRgb> table = img.colorTable();
    std::vector<uint64_t> sum(static_cast<size_t>(w) * 4);
    std::vector<uint32_t> count(static_cast<size_t>(w));
    std::vector<int> colStart(static_cast<size_t>(w) + 1);
    for (int x = 0; x <= w; ++x)
        colStart[size_t(x)] = int(int64_t(x) * sw / w);
    for (int y = 0; y < h; ++y) {
        const int y0 = int(int64_t(y) * sh / h),
                  y1 = std::max(y0 + 1, int(int64_t(y + 1) * sh / h));
        std::fill(sum.begin(), sum.end(), 0);
        std::fill(count.begin(), count.end(), 0);
        for (int sy = y0; sy < y1; ++sy) {
            const uchar* line = img.constScanLine(sy);
            QImage converted;
            if (img.format() != QImage::Format_Indexed8 && img.format() != QImage::Format_RGB888 &&
                img.format() != QImage::Format_RGB32 && img.format() != QImage::Format_ARGB32) {
                converted = img.copy(0, sy, sw, 1).convertToFormat(QImage::Format_ARGB32);
                line = converted.constScanLine(0);
            }
            const QImage::Format f = converted.isNull() ? img.format() : converted.format();
            for (int x = 0; x < w; ++x) {
                const int x1 = std::max(colStart[size_t(x)] + 1, colStart[size_t(x) + 1]);
                uint64_t* acc = &sum[size_t(x) * 4];
                for (int sx = colStart[size_t(x)]; sx < x1 && sx < sw; ++sx) {
                    QRgb p;
                    if (f == QImage::Format_Indexed8)
                        p = line[sx] < table.size() ? table[line[sx]] : qRgb(0, 0, 0);
                    else if (f == QImage::Format_RGB888)
                        p = qRgb(line[sx * 3], line[sx * 3 + 1], line[sx * 3 + 2]);
                    else
                        p = reinterpret_cast<const QRgb*>(line)[sx];
                    acc[0] += qRed(p);
                    acc[1] += qGreen(p);
                    acc[2] += qBlue(p);
                    acc[3] += qAlpha(p);
                    ++count[size_t(x)];
                }
            }
        }
        QRgb* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const uint64_t n = std::max<uint32_t>(1, count[size_t(x)]);
            const uint64_t* acc = &sum[size_t(x) * 4];
            dst[x] = qRgba(int((acc[0] + n / 2) / n), int((acc[1] + n / 2) / n),
                           int((acc[2] + n / 2) / n), alpha ? int((acc[3] + n / 2) / n) : 255);
        }
        if (!progress.Step(y + 1, h))
            return QImage();
    }
    return out;
}

} // namespace

extern "C" {

IKIMAGEREF IKResize(IKIMAGEREF ref, int width, int height, int, int, const char* caption,
                    const char* message, const char* button) {
    ik::Call call;
    IKIMAGEREF none{0, 0};
    const Image* src = ik::Get(ref.image);
    if (!src) {
        call.Done(false, IK_ERR_ARGUMENT, "no such image");
        return none;
    }
    if (!ik::SizeAllowed(width, height)) {
        call.Done(false, IK_ERR_LIMIT, "the size is not allowed");
        return none;
    }
    ik::Progress progress(caption, message, button);
    if (!progress.Step(0, 2))
        return none;
    // Qt's smooth scaling averages the covered area when shrinking and interpolates when growing;
    // a very large picture is shrunk band by band instead.
    const int64_t pixels = int64_t(src->img.width()) * src->img.height();
    QImage scaled =
        pixels > kWholeCopyPixels && width <= src->img.width() && height <= src->img.height()
            ? ShrinkByArea(*src, width, height, progress)
            : As32(*src).scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull() || !progress.Step(1, 2)) {
        call.Done(false, IK_ERR_MEMORY, "out of memory");
        return none;
    }
    return IKIMAGEREF{
        call.Done(ik::Put(BackToDepth(std::move(scaled), *src)), IK_ERR_MEMORY, "out of memory"),
        0};
}

IKHANDLE IKConvertColor(IKHANDLE image, int bits, int palette, int dither, int threshold, int,
                        const char* caption, const char* message, const char* button) {
    ik::Call call;
    const Image* src = ik::Get(image);
    if (!src)
        return call.Done(IKHANDLE(0), IK_ERR_ARGUMENT, "no such image");
    ik::Progress progress(caption, message, button);
    Image out;
    switch (bits) {
    case 32:
        out.img = As32(*src);
        out.bpp = 32;
        break;
    case 24:
        out.img = src->img.convertToFormat(QImage::Format_RGB888);
        out.bpp = 24;
        break;
    case 16:
        out.img = src->img.convertToFormat(QImage::Format_RGB555);
        out.bpp = 16;
        break;
    case 8:
    case 4:
        if (src->bpp <= bits) { // already within the palette size
            out = *src;
            out.img.detach();
            out.bpp = bits;
        } else if (palette == 1) {
            out = ik::ToGreyPalette(*src, bits, dither != 0, progress);
        } else {
            out = ik::Quantise(*src, bits, dither != 0, progress);
        }
        break;
    case 1:
        out = ik::ToOneBit(*src, dither != 0, std::clamp(threshold, 0, 255), progress);
        break;
    default:
        return call.Done(IKHANDLE(0), IK_ERR_ARGUMENT, "no such depth");
    }
    if (progress.Stopped())
        return call.Done(IKHANDLE(0), IK_ERR_STOPPED, "stopped by the user");
    out.icc = src->icc;
    return call.Done(ik::Put(std::move(out)), IK_ERR_MEMORY, "the conversion failed");
}

IKHANDLE IKSharp(IKIMAGEREF ref, int, const IKPOINT* corners, int count, int, int, int strength,
                 int, const char* caption, const char* message, const char* button) {
    ik::Call call;
    const Image* src = ik::Get(ref.image);
    if (!src)
        return call.Done(IKHANDLE(0), IK_ERR_ARGUMENT, "no such image");
    if (!corners || count < 1)
        return call.Done(IKHANDLE(0), IK_ERR_ARGUMENT, "no area");
    ik::Progress progress(caption, message, button);
    QImage img = As32(*src);
    const QImage orig = img.copy();
    int left = corners[0].x, right = corners[0].x, top = corners[0].y, bottom = corners[0].y;
    for (int i = 1; i < count; ++i) {
        left = std::min(left, corners[i].x);
        right = std::max(right, corners[i].x);
        top = std::min(top, corners[i].y);
        bottom = std::max(bottom, corners[i].y);
    }
    // The rectangle excludes its right and bottom edges, as window rectangles do.
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, img.width());
    bottom = std::min(bottom, img.height());
    const double amount = strength / 20.0;
    const int w = img.width(), h = img.height();
    for (int y = top; y < bottom; ++y) {
        QRgb* d = reinterpret_cast<QRgb*>(img.scanLine(y));
        const QRgb* rows[3] = {
            reinterpret_cast<const QRgb*>(orig.constScanLine(std::max(0, y - 1))),
            reinterpret_cast<const QRgb*>(orig.constScanLine(y)),
            reinterpret_cast<const QRgb*>(orig.constScanLine(std::min(h - 1, y + 1)))};
        for (int x = left; x < right; ++x) {
            int sum[3] = {0, 0, 0};
            for (const QRgb* r : rows)
                for (int dx = -1; dx <= 1; ++dx) {
                    const QRgb p = r[std::clamp(x + dx, 0, w - 1)];
                    sum[0] += qRed(p);
                    sum[1] += qGreen(p);
                    sum[2] += qBlue(p);
                }
            const QRgb p = rows[1][x];
            const int c[3] = {qRed(p), qGreen(p), qBlue(p)};
            int o[3];
            for (int k = 0; k < 3; ++k)
                o[k] = std::clamp(int(std::lround(c[k] + amount * (c[k] - sum[k] / 9.0))), 0, 255);
            d[x] = qRgba(o[0], o[1], o[2], qAlpha(p));
        }
        if (!progress.Step(y - top + 1, bottom - top))
            return call.Done(IKHANDLE(0), IK_ERR_STOPPED, "stopped by the user");
    }
    return call.Done(ik::Put(BackToDepth(std::move(img), *src)), IK_ERR_MEMORY, "out of memory");
}

IKHANDLE IKColorTransform(IKHANDLE image, const void* profile, int size) {
    ik::Call call;
    const Image* src = ik::Get(image);
    if (!src)
        return call.Done(IKHANDLE(0), IK_ERR_ARGUMENT, "no such image");
    if (size < 0 || (size > 0 && !profile))
        return call.Done(IKHANDLE(0), IK_ERR_ARGUMENT, "no profile");
    const QByteArray destination =
        size > 0 ? QByteArray(static_cast<const char*>(profile), size) : QByteArray();
    Image out;
    if (!ik::TransformColors(*src, destination, &out))
        return call.Done(IKHANDLE(0), IK_ERR_DATA, "the colours cannot be converted");
    return call.Done(ik::Put(std::move(out)), IK_ERR_MEMORY, "out of memory");
}

IKHANDLE IKOrient(IKHANDLE image, int orientation) {
    ik::Call call;
    const Image* src = ik::Get(image);
    if (!src)
        return call.Done(IKHANDLE(0), IK_ERR_ARGUMENT, "no such image");
    if (orientation < IK_ORIENT_NORMAL || orientation > IK_ORIENT_ROTATE_270)
        return call.Done(IKHANDLE(0), IK_ERR_ARGUMENT, "no such orientation");
    // Each orientation as what is done to the stored picture to view it: a mirror left to right
    // first, then a turn clockwise by a multiple of 90 degrees.
    static const struct {
        bool mirror;
        int degrees;
    } steps[9] = {{false, 0},  {false, 0},  {true, 0},  {false, 180}, {true, 180},
                  {true, 270}, {false, 90}, {true, 90}, {false, 270}};
    const auto& step = steps[orientation];
    Image out;
    out.bpp = src->bpp;
    out.icc = src->icc;
    out.img = step.mirror ? src->img.mirrored(true, false) : src->img.copy();
    if (step.degrees != 0 && !out.img.isNull())
        out.img = out.img.transformed(QTransform().rotate(step.degrees));
    return call.Done(ik::Put(std::move(out)), IK_ERR_MEMORY, "out of memory");
}

} // extern "C"
