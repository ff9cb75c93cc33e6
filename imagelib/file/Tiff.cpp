// TIFF decoding through libtiff: the first page. Bilevel, palette and grey images keep their
// depth; everything else is read as colour.
#include "file/Formats.h"

#include <tiffio.h>

namespace ik {

namespace {

struct TiffCloser {
    TIFF* t;
    ~TiffCloser() {
        if (t)
            TIFFClose(t);
    }
};

// Reads the strips of a 1-, 2-, 4- or 8-bit single-sample image as palette indices.
bool ReadIndexed(TIFF* tif, uint32_t w, uint32_t h, int bps, bool invert, Image& out,
                 Progress* progress) {
    const tmsize_t size = TIFFScanlineSize(tif);
    if (size <= 0 || int64_t(size) * 8 < int64_t(w) * bps)
        return false;
    std::vector<uchar> buf(static_cast<size_t>(size));
    const int maxv = (1 << bps) - 1;
    for (uint32_t y = 0; y < h; ++y) {
        if (TIFFReadScanline(tif, buf.data(), y, 0) < 0)
            return false;
        uchar* dst = out.img.scanLine(int(y));
        for (uint32_t x = 0; x < w; ++x) {
            const uint64_t bit = uint64_t(x) * bps;
            int v = (buf[bit / 8] >> (8 - bps - int(bit % 8))) & maxv;
            dst[x] = uchar(invert ? maxv - v : v);
        }
        if (progress && !progress->Step(y + 1, h))
            return false;
    }
    return true;
}

// A 16-bit colour-map value to the nearest 8-bit one.
int To8(uint16_t v) {
    return (v * 255 + 32767) / 65535;
}

} // namespace

Image DecodeTiff(const char* path, Progress* progress) {
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, tmsize_t(IK_MAX_PIXELS) * 4 + 4096);
    TiffCloser tc{TIFFOpenExt(path, "r", opts)};
    TIFFOpenOptionsFree(opts);
    TIFF* tif = tc.t;
    if (!tif)
        return Image();
    uint32_t w = 0, h = 0;
    uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISWHITE, planar = PLANARCONFIG_CONTIG;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISWHITE;
    if (!SizeAllowed(w, h))
        return Image();

    Image out;
    const bool stripped = !TIFFIsTiled(tif) && planar == PLANARCONFIG_CONTIG;
    const bool greyish =
        photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
    if (stripped && spp == 1 && (bps == 1 || bps == 2 || bps == 4 || bps == 8) &&
        (greyish || photometric == PHOTOMETRIC_PALETTE)) {
        out.img = QImage(int(w), int(h), QImage::Format_Indexed8);
        if (out.img.isNull())
            return Image();
        if (photometric == PHOTOMETRIC_PALETTE) {
            uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
            if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b))
                return Image();
            const int n = 1 << bps;
            // Old writers stored 8-bit colour maps; those have no value above 255.
            bool eight = true;
            for (int i = 0; i < n; ++i)
                eight = eight && r[i] < 256 && g[i] < 256 && b[i] < 256;
            QVector<QRgb> table(n);
            for (int i = 0; i < n; ++i)
                table[i] = eight ? qRgb(r[i], g[i], b[i]) : qRgb(To8(r[i]), To8(g[i]), To8(b[i]));
            out.img.setColorTable(table);
        } else {
            out.img.setColorTable(GreyTable(1 << bps));
        }
        out.bpp = bps == 1 ? 1 : bps <= 4 ? 4 : 8;
        if (!ReadIndexed(tif, w, h, bps, photometric == PHOTOMETRIC_MINISWHITE, out, progress))
            return Image();
        return out;
    }

    // Everything else through libtiff's RGBA reader.
    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    const bool alpha = extraCount > 0 && extra &&
                       (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA);
    std::vector<uint32_t> raster;
    try {
        raster.resize(size_t(w) * h);
    } catch (const std::bad_alloc&) {
        return Image();
    }
    if (progress && !progress->Step(0, 1))
        return Image();
    if (!TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0))
        return Image();
    // libtiff hands alpha out premultiplied.
    out.img =
        QImage(int(w), int(h), alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB888);
    if (out.img.isNull())
        return Image();
    out.bpp = alpha ? 32 : 24;
    for (uint32_t y = 0; y < h; ++y) {
        const uint32_t* src = raster.data() + size_t(y) * w;
        uchar* dst = out.img.scanLine(int(y));
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t p = src[x];
            if (alpha) {
                reinterpret_cast<QRgb*>(dst)[x] =
                    qRgba(TIFFGetR(p), TIFFGetG(p), TIFFGetB(p), TIFFGetA(p));
            } else {
                dst[x * 3] = uchar(TIFFGetR(p));
                dst[x * 3 + 1] = uchar(TIFFGetG(p));
                dst[x * 3 + 2] = uchar(TIFFGetB(p));
            }
        }
    }
    if (alpha)
        out.img = out.img.convertToFormat(QImage::Format_ARGB32);
    return out;
}

} // namespace ik
