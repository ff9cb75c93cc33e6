// TIFF decoding through libtiff: the first page. Bilevel, palette and grey images keep their
// depth; everything else is read as colour.
#include "file/Formats.h"

#include "file/TiffOpen.h"

#include <cstdarg>
#include <cstdio>
#include <sys/stat.h>

namespace ik {

namespace {

// Colour, alpha and a few extra samples; more is no picture this library shows.
constexpr uint16_t kMaxSamples = 16;

// libtiff's errors become the reason of the current call; its warnings are dropped.
int OnTiffError(TIFF*, void*, const char*, const char* fmt, va_list ap) {
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    Fail(IK_ERR_DATA, QByteArray("TIFF: ") + text);
    return 1; // handled: the process-wide handler is not called
}

int OnTiffWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// The most that a compression scheme can expand its data: a strip or tile of n bytes decodes to
// at most n times this many bytes.
uint64_t MaxExpansion(uint16_t compression) {
    switch (compression) {
    case COMPRESSION_NONE:
        return 1;
    case COMPRESSION_PACKBITS: // two bytes repeat one byte 128 times
        return 64;
    case COMPRESSION_ADOBE_DEFLATE: // deflate's longest match, 258 bytes, in two bits
    case COMPRESSION_DEFLATE:
        return 1032;
    case COMPRESSION_LZW: // 9- to 12-bit codes for strings that grow by one byte a code
        return 2048;
    default: // CCITT (one bit a row at best), JPEG and the rest: a generous bound
        return 65536;
    }
}

// True when every strip or tile that the picture needs is in the file and holds enough data
// to decode to its size. A hostile header can declare a picture of hundreds of megabytes with a
// few bytes of data; this is checked before anything is allocated for the pixels.
bool StorageHoldsPicture(TIFF* tif, const char* path, uint32_t h, uint16_t compression) {
    struct stat st {};
    if (::stat(path, &st) != 0)
        return Fail(IK_ERR_OPEN, "TIFF: cannot read the file");
    const uint64_t fileSize = uint64_t(st.st_size);
    const uint64_t expansion = MaxExpansion(compression);
    const bool tiled = TIFFIsTiled(tif);
    const uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    uint32_t rowsPerStrip = h;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<uint32_t>(rowsPerStrip, 1, std::max<uint32_t>(h, 1));
    const uint32_t stripsPerPlane = uint32_t((uint64_t(h) + rowsPerStrip - 1) / rowsPerStrip);
    if (count == 0)
        return Fail(IK_ERR_DATA, "TIFF: the picture has no strips or tiles");
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t decoded;
        if (tiled) {
            decoded = uint64_t(TIFFTileSize64(tif));
        } else {
            const uint32_t first = (i % stripsPerPlane) * rowsPerStrip;
            decoded = uint64_t(TIFFVStripSize64(tif, std::min(rowsPerStrip, h - first)));
        }
        const uint64_t offset = TIFFGetStrileOffset(tif, i);
        const uint64_t bytes = TIFFGetStrileByteCount(tif, i);
        const uint64_t held = offset >= fileSize ? 0 : std::min(bytes, fileSize - offset);
        if (held == 0 || held * expansion < decoded)
            return Fail(IK_ERR_LIMIT,
                        QStringLiteral("TIFF: the %1 cannot hold the picture (%2 %3 bytes for "
                                       "%4 bytes of pixels)")
                            .arg(tiled ? "tiles" : "strips")
                            .arg(tiled ? "tile" : "strip")
                            .arg(held)
                            .arg(decoded)
                            .toUtf8());
    }
    return true;
}

// Reads the strips of a 1-, 2-, 4- or 8-bit single-sample image as palette indices.
bool ReadIndexed(TIFF* tif, uint32_t w, uint32_t h, int bps, bool invert, Image& out,
                 Progress* progress) {
    const tmsize_t size = TIFFScanlineSize(tif);
    if (size <= 0 || int64_t(size) * 8 < int64_t(w) * bps)
        return Fail(IK_ERR_DATA, "TIFF: inconsistent row size");
    std::vector<uchar> buf(static_cast<size_t>(size));
    const int maxv = (1 << bps) - 1;
    for (uint32_t y = 0; y < h; ++y) {
        if (TIFFReadScanline(tif, buf.data(), y, 0) < 0)
            return Fail(IK_ERR_DATA, "TIFF: a row cannot be read");
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

TIFF* OpenTiff(const char* path, const char* mode, tmsize_t maxAlloc, int fd) {
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts)
        return nullptr;
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, maxAlloc);
    TIFFOpenOptionsSetErrorHandlerExtR(opts, OnTiffError, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, OnTiffWarning, nullptr);
    TIFF* tif = fd >= 0 ? TIFFFdOpenExt(fd, path, mode, opts) : TIFFOpenExt(path, mode, opts);
    TIFFOpenOptionsFree(opts);
    return tif;
}

Image DecodeTiff(const char* path, Progress* progress) {
    TiffCloser tc{OpenTiff(path, "r", tmsize_t(IK_MAX_PIXELS) * 4 + 4096)};
    TIFF* tif = tc.t;
    if (!tif) {
        Fail(IK_ERR_DATA, "TIFF: the file cannot be opened as TIFF");
        return Image();
    }
    uint32_t w = 0, h = 0;
    uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISWHITE, planar = PLANARCONFIG_CONTIG;
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISWHITE;
    if (!SizeAllowed(w, h)) {
        Fail(IK_ERR_LIMIT, "TIFF: the picture is larger than the library's limit");
        return Image();
    }
    if (spp == 0 || spp > kMaxSamples) {
        Fail(IK_ERR_FORMAT, "TIFF: unsupported number of samples per pixel");
        return Image();
    }
    if (!StorageHoldsPicture(tif, path, h, compression))
        return Image();

    Image out;
    const bool stripped = !TIFFIsTiled(tif) && planar == PLANARCONFIG_CONTIG;
    const bool greyish =
        photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
    if (stripped && spp == 1 && (bps == 1 || bps == 2 || bps == 4 || bps == 8) &&
        (greyish || photometric == PHOTOMETRIC_PALETTE)) {
        out.img = QImage(int(w), int(h), QImage::Format_Indexed8);
        if (out.img.isNull()) {
            Fail(IK_ERR_MEMORY, "TIFF: out of memory");
            return Image();
        }
        if (photometric == PHOTOMETRIC_PALETTE) {
            uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
            if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b)) {
                Fail(IK_ERR_DATA, "TIFF: a palette picture without a colour map");
                return Image();
            }
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
        Fail(IK_ERR_MEMORY, "TIFF: out of memory");
        return Image();
    }
    if (progress && !progress->Step(0, 1))
        return Image();
    if (!TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0)) {
        Fail(IK_ERR_FORMAT, "TIFF: a kind of picture the library cannot read");
        return Image();
    }
    // libtiff hands alpha out premultiplied.
    out.img =
        QImage(int(w), int(h), alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB888);
    if (out.img.isNull()) {
        Fail(IK_ERR_MEMORY, "TIFF: out of memory");
        return Image();
    }
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
