// Colour conversions shared by the library's modules.
#include "core/Image.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <libimagequant.h>

namespace ik {

// The source as a 32-bit image for processing.
QImage As32(const Image& src) {
    const QImage::Format f =
        src.img.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    return src.img.format() == f ? src.img : src.img.convertToFormat(f);
}

// A processed 32-bit image back in the depth of the source (palette sources stay true colour).
Image BackToDepth(QImage img32, const Image& like) {
    Image out;
    out.icc = like.icc;
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

namespace {

// Writes one palette index per pixel from its luminance. With dithering the value includes the
// error carried from the pixels before it (Floyd-Steinberg), clamped to 0..255 when asked.
// quantise(v, level) returns the index for v and sets level to the grey that index stands for.
template <class Quantise>
bool Diffuse(const QImage& img, QImage& out, bool dither, bool clamp, Quantise quantise,
             Progress& progress) {
    const int w = img.width(), h = img.height();
    std::vector<int> err(size_t(w) + 2, 0), next(size_t(w) + 2, 0);
    for (int y = 0; y < h; ++y) {
        const QRgb* s = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        uchar* d = out.scanLine(y);
        std::fill(next.begin(), next.end(), 0);
        for (int x = 0; x < w; ++x) {
            int v = Luma(s[x]) + (dither ? err[size_t(x) + 1] / 16 : 0);
            if (clamp)
                v = std::clamp(v, 0, 255);
            int level = 0;
            d[x] = uchar(quantise(v, level));
            if (dither) {
                const int e = v - level;
                err[size_t(x) + 2] += e * 7;
                next[size_t(x)] += e * 3;
                next[size_t(x) + 1] += e * 5;
                next[size_t(x) + 2] += e;
            }
        }
        std::swap(err, next);
        if (!progress.Step(y + 1, h))
            return false;
    }
    return true;
}

} // namespace

// Black and white from luminance, by error diffusion or by a threshold.
Image ToOneBit(const Image& src, bool dither, int threshold, Progress& progress) {
    const QImage img = As32(src);
    Image out;
    out.img = QImage(img.width(), img.height(), QImage::Format_Indexed8);
    if (out.img.isNull())
        return Image();
    out.img.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    out.bpp = 1;
    const int cut = dither ? 128 : threshold;
    const auto quantise = [cut](int v, int& level) {
        const int bit = v >= cut ? 1 : 0;
        level = bit ? 255 : 0;
        return bit;
    };
    return Diffuse(img, out.img, dither, false, quantise, progress) ? out : Image();
}

// Grey levels with n entries, dithered or rounded to the nearest level.
Image ToGreyPalette(const Image& src, int bits, bool dither, Progress& progress) {
    const QImage img = As32(src);
    const int n = 1 << bits;
    Image out;
    out.img = QImage(img.width(), img.height(), QImage::Format_Indexed8);
    if (out.img.isNull())
        return Image();
    QVector<QRgb> table(n);
    for (int i = 0; i < n; ++i) {
        const int v = i * 255 / (n - 1);
        table[i] = qRgb(v, v, v);
    }
    out.img.setColorTable(table);
    out.bpp = bits;
    const auto quantise = [n](int v, int& level) {
        const int i = (v * (n - 1) + 127) / 255;
        level = i * 255 / (n - 1);
        return i;
    };
    return Diffuse(img, out.img, dither, true, quantise, progress) ? out : Image();
}

namespace {

// The nearest palette entry of an opaque colour, by exact squared distance in RGB. The colour
// cube is cut into 32 × 32 × 32 cells; the first time a colour falls into a cell, the entries that
// can be nearest to some colour of that cell are listed (those not farther from the cell than the
// smallest farthest distance of any entry), and every colour is then compared with its cell's
// short list only.
class NearestColour {
public:
    explicit NearestColour(const liq_palette& pal) : m_start(kCells, -1) {
        for (unsigned i = 0; i < pal.count; ++i)
            m_pal.push_back({pal.entries[i].r, pal.entries[i].g, pal.entries[i].b});
    }

    int Find(int r, int g, int b) {
        const int cell = (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
        int start = m_start[size_t(cell)];
        if (start < 0)
            start = Fill(cell);
        const int n = m_list[size_t(start)];
        int best = m_list[size_t(start) + 1], bestD = Distance(best, r, g, b);
        for (int k = 2; k <= n; ++k) {
            const int i = m_list[size_t(start + k)];
            const int d = Distance(i, r, g, b);
            if (d < bestD) {
                bestD = d;
                best = i;
            }
        }
        return best;
    }

    const std::array<int, 3>& Colour(int i) const { return m_pal[size_t(i)]; }

private:
    static constexpr int kCells = 32 * 32 * 32;

    int Distance(int i, int r, int g, int b) const {
        const std::array<int, 3>& c = m_pal[size_t(i)];
        return (c[0] - r) * (c[0] - r) + (c[1] - g) * (c[1] - g) + (c[2] - b) * (c[2] - b);
    }

    int Fill(int cell) {
        const int lo[3] = {(cell >> 10) << 3, ((cell >> 5) & 31) << 3, (cell & 31) << 3};
        std::vector<int> nearD(m_pal.size());
        int limit = INT_MAX;
        for (size_t i = 0; i < m_pal.size(); ++i) {
            int nd = 0, fd = 0;
            for (int k = 0; k < 3; ++k) {
                const int c = m_pal[i][size_t(k)], l = lo[k], h = lo[k] + 7;
                const int n = c < l ? l - c : c > h ? c - h : 0;
                const int f = std::max(std::abs(c - l), std::abs(c - h));
                nd += n * n;
                fd += f * f;
            }
            nearD[i] = nd;
            limit = std::min(limit, fd);
        }
        const int start = int(m_list.size());
        m_list.push_back(0);
        for (size_t i = 0; i < m_pal.size(); ++i)
            if (nearD[i] <= limit)
                m_list.push_back(uint16_t(i));
        m_list[size_t(start)] = uint16_t(m_list.size() - size_t(start) - 1);
        m_start[size_t(cell)] = start;
        return start;
    }

    std::vector<std::array<int, 3>> m_pal;
    std::vector<int> m_start;
    std::vector<uint16_t> m_list;
};

// Maps an opaque picture onto the palette, with Floyd-Steinberg error diffusion when asked.
bool Remap(const QImage& rgba, const liq_palette& pal, bool dither, QImage& out,
           Progress& progress) {
    const int w = rgba.width(), h = rgba.height();
    NearestColour nearest(pal);
    // Errors in sixteenths, three channels, one pixel of margin on either side.
    std::vector<int> err(3 * (size_t(w) + 2), 0), next(err.size(), 0);
    for (int y = 0; y < h; ++y) {
        const uchar* s = rgba.constScanLine(y);
        uchar* d = out.scanLine(y);
        std::fill(next.begin(), next.end(), 0);
        for (int x = 0; x < w; ++x) {
            int v[3];
            for (int k = 0; k < 3; ++k) {
                v[k] = s[4 * x + k];
                if (dither)
                    v[k] = std::clamp(v[k] + ((err[3 * (size_t(x) + 1) + size_t(k)] + 8) >> 4), 0,
                                      255);
            }
            const int i = nearest.Find(v[0], v[1], v[2]);
            d[x] = uchar(i);
            if (dither) {
                const std::array<int, 3>& c = nearest.Colour(i);
                for (int k = 0; k < 3; ++k) {
                    // Seven eighths of the error are carried: as smooth to the eye, and closer
                    // to the source (higher PSNR) than carrying all of it.
                    const int e = (v[k] - c[size_t(k)]) * 7 / 8;
                    const size_t at = 3 * (size_t(x) + 1) + size_t(k);
                    err[at + 3] += e * 7;
                    next[at - 3] += e * 3;
                    next[at] += e * 5;
                    next[at + 3] += e;
                }
            }
        }
        std::swap(err, next);
        if (!progress.Step(int64_t(h) + y + 1, 2 * int64_t(h)))
            return false;
    }
    return true;
}

} // namespace

// An optimal palette of at most 2^bits colours through libimagequant. Opaque pictures are then
// mapped onto it here, several times faster than the quantiser's own remapping and with the same
// or a higher PSNR; pictures with transparency keep the quantiser's remapping.
Image Quantise(const Image& src, int bits, bool dither, Progress& progress) {
    QImage rgba = src.img.convertToFormat(QImage::Format_RGBA8888);
    const int w = rgba.width(), h = rgba.height();
    const bool opaque = !src.img.hasAlphaChannel();
    if (!progress.Step(0, 3))
        return Image();
    liq_attr* attr = liq_attr_create();
    if (!attr)
        return Image();
    liq_set_max_colors(attr, 1 << bits);
    // Large pictures use the quantiser's fastest search: still a better palette than an octree
    // with Floyd-Steinberg (higher PSNR), in less time. Small ones take the default search.
    liq_set_speed(attr, int64_t(w) * h > 1000000 ? 10 : 4);
    std::vector<void*> rows(static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        rows[size_t(y)] = rgba.scanLine(y);
    liq_image* image = liq_image_create_rgba_rows(attr, rows.data(), w, h, 0);
    liq_result* result = nullptr;
    Image out;
    if (image && liq_image_quantize(image, attr, &result) == LIQ_OK) {
        liq_set_dithering_level(result, dither ? 1.0f : 0.0f);
        out.img = QImage(w, h, QImage::Format_Indexed8);
        bool ok = !out.img.isNull() && progress.Step(1, 3);
        if (ok && opaque) {
            ok = Remap(rgba, *liq_get_palette(result), dither, out.img, progress);
        } else if (ok) {
            std::vector<uchar*> outRows(static_cast<size_t>(h));
            for (int y = 0; y < h; ++y)
                outRows[size_t(y)] = out.img.scanLine(y);
            ok = liq_write_remapped_image_rows(result, image, outRows.data()) == LIQ_OK;
        }
        if (ok) {
            const liq_palette* pal = liq_get_palette(result);
            QVector<QRgb> table(int(pal->count));
            for (unsigned i = 0; i < pal->count; ++i)
                table[int(i)] = qRgba(pal->entries[i].r, pal->entries[i].g, pal->entries[i].b,
                                      opaque ? 255 : pal->entries[i].a);
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

} // namespace ik
