// BMP decoding: every depth, RLE4 and RLE8, bit fields, bottom-up and top-down rows, and the old
// OS/2 core header.
#include "file/Formats.h"

namespace ik {

namespace {

// The value of one masked field scaled to 0..255.
struct Field {
    uint32_t mask = 0;
    int shift = 0, bits = 0;
    explicit Field(uint32_t m = 0) : mask(m) {
        if (!m)
            return;
        while (!((m >> shift) & 1))
            ++shift;
        while (bits < 32 - shift && ((m >> (shift + bits)) & 1))
            ++bits;
    }
    int Get(uint32_t v) const {
        if (!mask)
            return 0;
        const uint32_t x = (v & mask) >> shift;
        const uint32_t max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
        return int(uint64_t(x) * 255 / max);
    }
};

// Decodes RLE8 (bits 8) or RLE4 (bits 4) data into an indexed image of bottom-up rows.
bool DecodeRle(const uchar* p, const uchar* end, int bits, QImage& img, bool topDown) {
    const int w = img.width(), h = img.height();
    int x = 0, y = 0;
    auto put = [&](int v) {
        if (x < w && y < h)
            img.scanLine(topDown ? y : h - 1 - y)[x] = uchar(v);
        ++x;
    };
    while (p + 1 < end) {
        const int n = p[0], v = p[1];
        p += 2;
        if (n > 0) {
            for (int i = 0; i < n; ++i)
                put(bits == 8 ? v : (i & 1) ? (v & 15) : (v >> 4));
        } else if (v == 0) { // end of line
            x = 0;
            if (++y >= h)
                return true;
        } else if (v == 1) { // end of bitmap
            return true;
        } else if (v == 2) { // delta
            if (p + 1 >= end)
                return false;
            x += p[0];
            y += p[1];
            p += 2;
            if (y >= h)
                return true;
        } else { // absolute run of v pixels, padded to a word
            const int bytes = bits == 8 ? v : (v + 1) / 2;
            if (end - p < bytes)
                return false;
            for (int i = 0; i < v; ++i)
                put(bits == 8 ? p[i] : (i & 1) ? (p[i / 2] & 15) : (p[i / 2] >> 4));
            p += (bytes + 1) & ~1;
        }
    }
    // Data ran out before the end-of-bitmap code.
    return false;
}

} // namespace

Image DecodeBmp(const uchar* data, size_t size, Progress* progress) {
    if (size < 26 || data[0] != 'B' || data[1] != 'M')
        return Refuse(IK_ERR_DATA, "BMP: not a BMP file");
    const uchar* end = data + size;
    const uint32_t offBits = LE32(data + 10);
    const uint32_t hsize = LE32(data + 14);
    const uchar* hdr = data + 14;
    if (hsize < 12 || hsize > size - 14)
        return Refuse(IK_ERR_DATA, "BMP: damaged header");
    int64_t w, h;
    int bpp;
    uint32_t compression = 0, used = 0;
    int palEntry = 4;
    uint32_t masks[4] = {0, 0, 0, 0};
    if (hsize == 12) {
        w = LE16(hdr + 4);
        h = int16_t(LE16(hdr + 6));
        bpp = LE16(hdr + 10);
        palEntry = 3;
    } else {
        w = int32_t(LE32(hdr + 4));
        h = int32_t(LE32(hdr + 8));
        bpp = LE16(hdr + 14);
        if (hsize >= 20)
            compression = LE32(hdr + 16);
        if (hsize >= 36)
            used = LE32(hdr + 32);
        if (compression == 3 || compression == 6) {
            const uchar* m = hdr + 40;
            const int n = compression == 6 || hsize >= 56 ? 4 : 3;
            if (hsize < 52 && m + 4 * n > end)
                return Refuse(IK_ERR_DATA, "BMP: the colour masks are missing");
            for (int i = 0; i < n && m + 4 * i + 4 <= end; ++i)
                masks[i] = LE32(m + 4 * i);
        }
    }
    const bool topDown = h < 0;
    if (topDown)
        h = -h;
    if (!SizeAllowed(w, h))
        return Refuse(IK_ERR_LIMIT, "BMP: the picture is larger than the library's limit");
    const bool rle = compression == 1 || compression == 2;
    if ((compression == 1 && bpp != 8) || (compression == 2 && bpp != 4) ||
        (compression > 3 && compression != 6))
        return Refuse(IK_ERR_FORMAT, "BMP: unsupported compression");

    // The palette follows the header (and the masks of a version-3 bit-field header).
    const uchar* pal = hdr + hsize;
    if (hsize == 40 && (compression == 3 || compression == 6))
        pal += compression == 6 ? 16 : 12;
    QVector<QRgb> table;
    if (bpp <= 8) {
        int n = used > 0 && used <= (1u << bpp) ? int(used) : 1 << bpp;
        const int fits = int(std::max<int64_t>(0, (end - pal) / palEntry));
        n = std::min(n, fits);
        if (n == 0)
            return Refuse(IK_ERR_DATA, "BMP: the palette is missing");
        table.resize(n);
        for (int i = 0; i < n; ++i)
            table[i] = qRgb(pal[i * palEntry + 2], pal[i * palEntry + 1], pal[i * palEntry]);
    }
    if (offBits >= size)
        return Refuse(IK_ERR_DATA, "BMP: the file ends before its picture data");
    const uchar* bits = data + offBits;
    const int64_t stride = ((w * bpp + 31) / 32) * 4;
    if (!rle && int64_t(size - offBits) < stride * h)
        return Refuse(IK_ERR_DATA, "BMP: the file ends before its picture does");

    Image out;
    if (bpp <= 8) {
        out.img = QImage(int(w), int(h), QImage::Format_Indexed8);
        if (out.img.isNull())
            return Refuse(IK_ERR_MEMORY, "BMP: out of memory");
        out.img.setColorTable(table);
        out.bpp = bpp == 1 ? 1 : bpp <= 4 ? 4 : 8;
        if (rle) {
            out.img.fill(0u);
            if (!DecodeRle(bits, end, bpp, out.img, topDown))
                return Refuse(IK_ERR_DATA, "BMP: the run-length data is damaged or ends early");
            return out;
        }
    }
    const Field fr(masks[0]), fg(masks[1]), fb(masks[2]), fa(masks[3]);
    QImage::Format f16 = QImage::Format_RGB555;
    bool generic = false;
    if (bpp == 16) {
        if (compression == 3 || compression == 6) {
            if (masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F)
                f16 = QImage::Format_RGB16;
            else if (!(masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F))
                generic = true;
        }
        if (generic) {
            out.img = QImage(int(w), int(h), QImage::Format_RGB888);
            out.bpp = 24;
        } else {
            out.img = QImage(int(w), int(h), f16);
            out.bpp = 16;
        }
    } else if (bpp == 24) {
        out.img = QImage(int(w), int(h), QImage::Format_RGB888);
        out.bpp = 24;
    } else if (bpp == 32) {
        if (compression == 3 || compression == 6)
            generic = !(masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF);
        out.img = QImage(int(w), int(h), masks[3] ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        out.bpp = 32;
    } else if (bpp > 8) {
        return Refuse(IK_ERR_FORMAT, "BMP: unsupported depth");
    }
    if (out.img.isNull())
        return Refuse(IK_ERR_MEMORY, "BMP: out of memory");

    bool anyAlpha = false;
    for (int64_t row = 0; row < h; ++row) {
        const uchar* src = bits + row * stride;
        uchar* dst = out.img.scanLine(int(topDown ? row : h - 1 - row));
        switch (bpp) {
        case 1:
        case 4:
            for (int64_t x = 0; x < w; ++x) {
                const int64_t bit = x * bpp;
                dst[x] = uchar((src[bit / 8] >> (8 - bpp - int(bit % 8))) & ((1 << bpp) - 1));
            }
            break;
        case 8:
            std::memcpy(dst, src, size_t(w));
            break;
        case 16:
            if (generic) {
                for (int64_t x = 0; x < w; ++x) {
                    const uint32_t v = LE16(src + 2 * x);
                    dst[3 * x] = uchar(fr.Get(v));
                    dst[3 * x + 1] = uchar(fg.Get(v));
                    dst[3 * x + 2] = uchar(fb.Get(v));
                }
            } else {
                std::memcpy(dst, src, size_t(w) * 2);
            }
            break;
        case 24:
            for (int64_t x = 0; x < w; ++x) {
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
            }
            break;
        case 32: {
            auto* px = reinterpret_cast<QRgb*>(dst);
            for (int64_t x = 0; x < w; ++x) {
                const uint32_t v = LE32(src + 4 * x);
                if (generic || masks[3]) {
                    const int a = masks[3] ? fa.Get(v) : 255;
                    anyAlpha = anyAlpha || a != 0;
                    px[x] = generic ? qRgba(fr.Get(v), fg.Get(v), fb.Get(v), a)
                                    : qRgba(int(v >> 16) & 255, int(v >> 8) & 255, int(v) & 255, a);
                } else {
                    px[x] = 0xFF000000u | v;
                }
            }
            break;
        }
        default:
            break;
        }
        if (progress && !progress->Step(row + 1, h))
            return Image();
    }
    // Many writers leave the alpha channel zero: such an image is opaque, not invisible.
    if (out.img.format() == QImage::Format_ARGB32 && !anyAlpha) {
        for (int y = 0; y < out.img.height(); ++y) {
            auto* px = reinterpret_cast<QRgb*>(out.img.scanLine(y));
            for (int x = 0; x < out.img.width(); ++x)
                px[x] |= 0xFF000000u;
        }
        out.img.reinterpretAsFormat(QImage::Format_RGB32);
    }
    return out;
}

} // namespace ik
