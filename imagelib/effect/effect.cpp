// libik6effect: resizing, colour conversion and sharpening.
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
#include "core/Image.h"

#include <algorithm>
#include <cmath>
#include <libimagequant.h>

namespace {

using ik::Image;

// The source as a 32-bit image for processing.
QImage As32(const Image& src) {
    const QImage::Format f =
        src.img.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    return src.img.format() == f ? src.img : src.img.convertToFormat(f);
}

// A processed 32-bit image back in the depth of the source (palette sources stay true colour).
Image BackToDepth(QImage img32, const Image& like) {
    Image out;
    switch (like.bpp) {
    case 16:
        out.img = img32.convertToFormat(like.img.format() == QImage::Format_RGB16
                                            ? QImage::Format_RGB16
                                            : QImage::Format_RGB555);
        out.bpp = 16;
        break;
    case 32:
        out.img = std::move(img32);
        out.bpp = 32;
        break;
    default:
        if (img32.hasAlphaChannel()) {
            out.img = std::move(img32);
            out.bpp = 32;
        } else {
            out.img = img32.convertToFormat(QImage::Format_RGB888);
            out.bpp = 24;
        }
        break;
    }
    return out;
}

int Luma(QRgb p) {
    return (qRed(p) * 299 + qGreen(p) * 587 + qBlue(p) * 114 + 500) / 1000;
}

// Black and white from luminance, by error diffusion or by a threshold.
Image ToOneBit(const Image& src, bool dither, int threshold, ik::Progress& progress) {
    const QImage img = As32(src);
    const int w = img.width(), h = img.height();
    Image out;
    out.img = QImage(w, h, QImage::Format_Indexed8);
    if (out.img.isNull())
        return Image();
    out.img.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    out.bpp = 1;
    std::vector<int> err(size_t(w) + 2, 0), next(size_t(w) + 2, 0);
    for (int y = 0; y < h; ++y) {
        const QRgb* s = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        uchar* d = out.img.scanLine(y);
        std::fill(next.begin(), next.end(), 0);
        for (int x = 0; x < w; ++x) {
            const int v = Luma(s[x]) + (dither ? err[size_t(x) + 1] / 16 : 0);
            const int bit = v >= (dither ? 128 : threshold) ? 1 : 0;
            d[x] = uchar(bit);
            if (dither) {
                const int e = v - (bit ? 255 : 0);
                err[size_t(x) + 2] += e * 7;
                next[size_t(x)] += e * 3;
                next[size_t(x) + 1] += e * 5;
                next[size_t(x) + 2] += e;
            }
        }
        std::swap(err, next);
        if (!progress.Step(y + 1, h))
            return Image();
    }
    return out;
}

// Grey levels with n entries, dithered or rounded to the nearest level.
Image ToGreyPalette(const Image& src, int bits, bool dither, ik::Progress& progress) {
    const QImage img = As32(src);
    const int w = img.width(), h = img.height(), n = 1 << bits;
    Image out;
    out.img = QImage(w, h, QImage::Format_Indexed8);
    if (out.img.isNull())
        return Image();
    QVector<QRgb> table(n);
    for (int i = 0; i < n; ++i) {
        const int v = i * 255 / (n - 1);
        table[i] = qRgb(v, v, v);
    }
    out.img.setColorTable(table);
    out.bpp = bits;
    std::vector<int> err(size_t(w) + 2, 0), next(size_t(w) + 2, 0);
    for (int y = 0; y < h; ++y) {
        const QRgb* s = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        uchar* d = out.img.scanLine(y);
        std::fill(next.begin(), next.end(), 0);
        for (int x = 0; x < w; ++x) {
            const int v = std::clamp(Luma(s[x]) + (dither ? err[size_t(x) + 1] / 16 : 0), 0, 255);
            const int i = (v * (n - 1) + 127) / 255;
            d[x] = uchar(i);
            if (dither) {
                const int e = v - i * 255 / (n - 1);
                err[size_t(x) + 2] += e * 7;
                next[size_t(x)] += e * 3;
                next[size_t(x) + 1] += e * 5;
                next[size_t(x) + 2] += e;
            }
        }
        std::swap(err, next);
        if (!progress.Step(y + 1, h))
            return Image();
    }
    return out;
}

// An optimal palette of at most 2^bits colours through libimagequant.
Image Quantise(const Image& src, int bits, bool dither, ik::Progress& progress) {
    QImage rgba = src.img.convertToFormat(QImage::Format_RGBA8888);
    const int w = rgba.width(), h = rgba.height();
    if (!progress.Step(0, 3))
        return Image();
    liq_attr* attr = liq_attr_create();
    if (!attr)
        return Image();
    liq_set_max_colors(attr, 1 << bits);
    std::vector<void*> rows(static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        rows[size_t(y)] = rgba.scanLine(y);
    liq_image* image = liq_image_create_rgba_rows(attr, rows.data(), w, h, 0);
    liq_result* result = nullptr;
    Image out;
    if (image && liq_image_quantize(image, attr, &result) == LIQ_OK) {
        liq_set_dithering_level(result, dither ? 1.0f : 0.0f);
        out.img = QImage(w, h, QImage::Format_Indexed8);
        std::vector<uchar*> outRows(static_cast<size_t>(h));
        for (int y = 0; y < h; ++y)
            outRows[size_t(y)] = out.img.scanLine(y);
        if (!out.img.isNull() && progress.Step(1, 3) &&
            liq_write_remapped_image_rows(result, image, outRows.data()) == LIQ_OK) {
            const liq_palette* pal = liq_get_palette(result);
            QVector<QRgb> table(int(pal->count));
            for (unsigned i = 0; i < pal->count; ++i)
                table[int(i)] = qRgba(pal->entries[i].r, pal->entries[i].g, pal->entries[i].b,
                                      pal->entries[i].a);
            out.img.setColorTable(table);
            out.bpp = bits;
        } else {
            out = Image();
        }
    }
    if (result)
        liq_result_destroy(result);
    if (image)
        liq_image_destroy(image);
    liq_attr_destroy(attr);
    return out;
}

} // namespace

extern "C" {

IKIMAGEREF IKResize(IKIMAGEREF ref, int width, int height, int, int, const char* caption,
                    const char* message, const char* button) {
    IKIMAGEREF none{0, 0};
    const Image* src = ik::Get(ref.image);
    if (!src || !ik::SizeAllowed(width, height))
        return none;
    ik::Progress progress(caption, message, button);
    if (!progress.Step(0, 2))
        return none;
    // Qt's smooth scaling averages the covered area when shrinking and interpolates when growing.
    QImage scaled =
        As32(*src).scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull() || !progress.Step(1, 2))
        return none;
    return IKIMAGEREF{ik::Put(BackToDepth(std::move(scaled), *src)), 0};
}

IKHANDLE IKConvertColor(IKHANDLE image, int bits, int palette, int dither, int threshold, int,
                        const char* caption, const char* message, const char* button) {
    const Image* src = ik::Get(image);
    if (!src)
        return 0;
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
            out = ToGreyPalette(*src, bits, dither != 0, progress);
        } else {
            out = Quantise(*src, bits, dither != 0, progress);
        }
        break;
    case 1:
        out = ToOneBit(*src, dither != 0, std::clamp(threshold, 0, 255), progress);
        break;
    default:
        return 0;
    }
    if (progress.Stopped())
        return 0;
    return ik::Put(std::move(out));
}

IKHANDLE IKSharp(IKIMAGEREF ref, int, const IKPOINT* corners, int count, int, int, int strength,
                 int, const char* caption, const char* message, const char* button) {
    const Image* src = ik::Get(ref.image);
    if (!src || !corners || count < 1)
        return 0;
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
            return 0;
    }
    return ik::Put(BackToDepth(std::move(img), *src));
}

} // extern "C"
