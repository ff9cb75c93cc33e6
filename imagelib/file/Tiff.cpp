// TIFF decoding through libtiff: the first page. Bilevel, palette and grey images keep their
// depth; everything else is read as colour.
#include "core/Color.h"
#include "file/Formats.h"

#include "file/Shrink.h"
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

// A 16-bit colour-map value to the nearest 8-bit one.
int To8(uint16_t v) {
    return (v * 255 + 32767) / 65535;
}

// Compression schemes whose data libtiff decodes row by row for any picture kind.
bool RowCodec(uint16_t compression) {
    switch (compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_LZW:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_PACKBITS:
        return true;
    default:
        return false;
    }
}

// The buffers of the row reader, kept by each thread from one file to the next.
struct RowBuffers {
    std::vector<uchar> row, tile, band, unpacked;
};
thread_local RowBuffers t_buffers;

// Large buffers are not kept for the next file.
constexpr size_t kKeptBuffer = 8 * 1024 * 1024;
void ReleaseLargeBuffers() {
    for (std::vector<uchar>* v :
         {&t_buffers.row, &t_buffers.tile, &t_buffers.band, &t_buffers.unpacked})
        if (v->capacity() > kKeptBuffer)
            std::vector<uchar>().swap(*v);
}

bool Grow(std::vector<uchar>& v, uint64_t n) {
    try {
        v.resize(size_t(n));
        return true;
    } catch (const std::bad_alloc&) {
        return Fail(IK_ERR_MEMORY, "TIFF: out of memory");
    }
}

// How the picture's samples are read: palette or grey indices (1 to 8 bits, one sample), or 8-bit
// colour with or without alpha and grey with alpha, all in one plane.
struct Kind {
    bool indexed = false;
    int bps = 8, spp = 1;
    bool invert = false; // white is zero
    RowLayout layout = RowLayout::Indexed;
    bool alpha = false;
    QVector<QRgb> table; // indexed pictures
};

// Hands the picture's rows, as stored, one after the other to sink(row, y); rows of strips or tiles
// that cannot be decoded are handed as null. False when the buffers cannot be had or the user
// stopped; *damaged tells whether a row was lost.
template <class Sink>
bool ReadRows(TIFF* tif, uint32_t w, uint32_t h, Progress* progress, bool* damaged, Sink sink) {
    *damaged = false;
    RowBuffers& b = t_buffers;
    if (!TIFFIsTiled(tif)) {
        const tmsize_t size = TIFFScanlineSize(tif);
        if (size <= 0)
            return Fail(IK_ERR_DATA, "TIFF: inconsistent row size");
        if (!Grow(b.row, uint64_t(size)))
            return false;
        uint32_t rowsPerStrip = h;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        rowsPerStrip = std::clamp<uint32_t>(rowsPerStrip, 1, std::max<uint32_t>(h, 1));
        for (uint32_t y = 0; y < h; ++y) {
            if (TIFFReadScanline(tif, b.row.data(), y, 0) < 0) {
                // The rest of this strip is lost; the next strip starts afresh.
                *damaged = true;
                const uint32_t next = std::min<uint32_t>(
                    h, uint32_t((uint64_t(y) / rowsPerStrip + 1) * rowsPerStrip));
                for (; y < next; ++y)
                    sink(nullptr, y);
                --y;
                continue;
            }
            sink(b.row.data(), y);
            if (progress && !progress->Step(y + 1, h))
                return false;
        }
        return true;
    }
    uint32_t tw = 0, th = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
    const tmsize_t tileSize = TIFFTileSize(tif), tileRow = TIFFTileRowSize(tif);
    const tmsize_t scanline = TIFFScanlineSize(tif);
    if (tw == 0 || th == 0 || tileSize <= 0 || tileRow <= 0 || scanline <= 0 ||
        uint64_t(tw) * th > uint64_t(IK_MAX_PIXELS))
        return Fail(IK_ERR_DATA, "TIFF: inconsistent tile size");
    const uint64_t across = (uint64_t(w) + tw - 1) / tw;
    const uint64_t bandStride = std::max<uint64_t>(across * uint64_t(tileRow), uint64_t(scanline));
    if (!Grow(b.tile, uint64_t(tileSize)) || !Grow(b.band, bandStride * th))
        return false;
    for (uint32_t y0 = 0; y0 < h; y0 += th) {
        const uint32_t rows = std::min(th, h - y0);
        for (uint64_t t = 0; t < across; ++t) {
            uchar* dst = b.band.data() + t * uint64_t(tileRow);
            if (TIFFReadTile(tif, b.tile.data(), uint32_t(t * tw), y0, 0, 0) < 0) {
                *damaged = true;
                for (uint32_t r = 0; r < rows; ++r)
                    std::memset(dst + r * bandStride, 0, size_t(tileRow));
                continue;
            }
            for (uint32_t r = 0; r < rows; ++r)
                std::memcpy(dst + r * bandStride, b.tile.data() + r * uint64_t(tileRow),
                            size_t(tileRow));
        }
        for (uint32_t r = 0; r < rows; ++r)
            sink(b.band.data() + r * bandStride, y0 + r);
        if (progress && !progress->Step(y0 + rows, h))
            return false;
    }
    return true;
}

// Unpacks 1-, 2- or 4-bit samples (and inverts white-is-zero ones) to one byte a pixel.
const uchar* Unpack(const uchar* row, const Kind& kind, uint32_t w, uchar* out) {
    if (kind.bps == 8 && !kind.invert)
        return row;
    const int bps = kind.bps, maxv = (1 << bps) - 1;
    for (uint32_t x = 0; x < w; ++x) {
        const uint64_t bit = uint64_t(x) * bps;
        const int v = (row[bit / 8] >> (8 - bps - int(bit % 8))) & maxv;
        out[x] = uchar(kind.invert ? maxv - v : v);
    }
    return out;
}

// One stored row into a row of the full-size picture.
void PutRow(const uchar* src, const Kind& kind, uint32_t w, uchar* dst) {
    if (kind.indexed) {
        std::memcpy(dst, src, w);
        return;
    }
    const int n = kind.spp;
    if (!kind.alpha) { // RGB888
        for (uint32_t x = 0; x < w; ++x, src += n, dst += 3) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
        return;
    }
    QRgb* px = reinterpret_cast<QRgb*>(dst);
    for (uint32_t x = 0; x < w; ++x, src += n) {
        if (kind.layout == RowLayout::GreyAlpha) {
            px[x] = qRgba(src[0], src[0], src[0], src[1]);
            continue;
        }
        const int a = src[3];
        if (kind.layout == RowLayout::RgbaPremultiplied)
            px[x] = a == 0 ? 0
                           : qRgba(std::min(255, (src[0] * 255 + a / 2) / a),
                                   std::min(255, (src[1] * 255 + a / 2) / a),
                                   std::min(255, (src[2] * 255 + a / 2) / a), a);
        else
            px[x] = qRgba(src[0], src[1], src[2], a);
    }
}

// The orientation libtiff's RGBA reader is asked for so that it turns nothing: the one of the
// file's own kind (it only ever flips, and the rest is done here).
uint16_t UnturnedRequest(uint16_t orientation) {
    switch (orientation) {
    case ORIENTATION_TOPRIGHT:
    case ORIENTATION_RIGHTTOP:
        return ORIENTATION_TOPRIGHT;
    case ORIENTATION_BOTRIGHT:
    case ORIENTATION_RIGHTBOT:
        return ORIENTATION_BOTRIGHT;
    case ORIENTATION_BOTLEFT:
    case ORIENTATION_LEFTBOT:
        return ORIENTATION_BOTLEFT;
    default:
        return ORIENTATION_TOPLEFT;
    }
}

// Everything the row reader does not read, through libtiff's RGBA reader: the whole picture as
// stored.
Image ReadRgba(TIFF* tif, uint32_t w, uint32_t h, uint16_t orientation, Progress* progress) {
    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    const bool alpha = extraCount > 0 && extra &&
                       (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA);
    std::vector<uint32_t> raster;
    try {
        raster.resize(size_t(w) * h);
    } catch (const std::bad_alloc&) {
        return Refuse(IK_ERR_MEMORY, "TIFF: out of memory");
    }
    if (progress && !progress->Step(0, 1))
        return Image();
    if (!TIFFReadRGBAImageOriented(tif, w, h, raster.data(), UnturnedRequest(orientation), 0))
        return Refuse(IK_ERR_FORMAT, "TIFF: a kind of picture the library cannot read");
    Image out;
    // libtiff hands alpha out premultiplied.
    out.img =
        QImage(int(w), int(h), alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB888);
    if (out.img.isNull())
        return Refuse(IK_ERR_MEMORY, "TIFF: out of memory");
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

Image DecodeTiff(const char* path, Progress* progress, const Reduction& reduction) {
    // Read, not mapped: a mapped file counts whole in the process's memory once decoded through,
    // where reading keeps one strip at a time.
    TiffCloser tc{OpenTiff(path, "rm", tmsize_t(IK_MAX_PIXELS) * 4 + 4096)};
    TIFF* tif = tc.t;
    if (!tif)
        return Refuse(IK_ERR_DATA, "TIFF: the file cannot be opened as TIFF");
    uint32_t w = 0, h = 0;
    uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISWHITE, planar = PLANARCONFIG_CONTIG;
    uint16_t compression = COMPRESSION_NONE, orientation = ORIENTATION_TOPLEFT;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    if (orientation < ORIENTATION_TOPLEFT || orientation > ORIENTATION_LEFTBOT)
        orientation = ORIENTATION_TOPLEFT;
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISWHITE;
    if (!SizeAllowed(w, h))
        return Refuse(IK_ERR_LIMIT, "TIFF: the picture is larger than the library's limit");
    if (spp == 0 || spp > kMaxSamples)
        return Refuse(IK_ERR_FORMAT, "TIFF: unsupported number of samples per pixel");
    if (!StorageHoldsPicture(tif, path, h, compression))
        return Image();

    // Orientations 5 to 8 store the picture turned by a quarter: its rows are the upright
    // picture's columns.
    const bool turned = orientation >= ORIENTATION_LEFTTOP;
    if (reduction.origWidth)
        *reduction.origWidth = turned ? h : w;
    if (reduction.origHeight)
        *reduction.origHeight = turned ? w : h;
    const int factor = turned ? ShrinkFactor(w, h, reduction.minHeight, reduction.minWidth)
                              : ShrinkFactor(w, h, reduction.minWidth, reduction.minHeight);

    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    const uint16_t firstExtra = extraCount > 0 && extra ? extra[0] : EXTRASAMPLE_UNSPECIFIED;
    const bool alpha = firstExtra == EXTRASAMPLE_ASSOCALPHA || firstExtra == EXTRASAMPLE_UNASSALPHA;
    const bool greyish =
        photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
    const bool contig = planar == PLANARCONFIG_CONTIG || spp == 1;
    const bool stripped = !TIFFIsTiled(tif);

    // Which pictures the row reader takes: palette and grey of 1 to 8 bits, 8-bit grey with alpha,
    // 8-bit RGB with or without alpha; the rest goes through libtiff's RGBA reader.
    Kind kind;
    kind.bps = bps;
    kind.spp = spp;
    bool rows = false;
    if (contig && spp == 1 && (bps == 1 || bps == 2 || bps == 4 || bps == 8) &&
        (greyish || photometric == PHOTOMETRIC_PALETTE) &&
        ((stripped && compression != COMPRESSION_JPEG && compression != COMPRESSION_OJPEG) ||
         RowCodec(compression))) {
        rows = true;
        kind.indexed = true;
        kind.invert = photometric == PHOTOMETRIC_MINISWHITE;
        if (photometric == PHOTOMETRIC_PALETTE) {
            uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
            if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b))
                return Refuse(IK_ERR_DATA, "TIFF: a palette picture without a colour map");
            const int n = 1 << bps;
            // Old writers stored 8-bit colour maps; those have no value above 255.
            bool eight = true;
            for (int i = 0; i < n; ++i)
                eight = eight && r[i] < 256 && g[i] < 256 && b[i] < 256;
            kind.table.resize(n);
            for (int i = 0; i < n; ++i)
                kind.table[i] =
                    eight ? qRgb(r[i], g[i], b[i]) : qRgb(To8(r[i]), To8(g[i]), To8(b[i]));
        } else {
            kind.table = GreyTable(1 << bps);
        }
    } else if (contig && bps == 8 && RowCodec(compression)) {
        if (photometric == PHOTOMETRIC_RGB && spp >= 3) {
            rows = true;
            kind.alpha = alpha && spp >= 4;
            kind.layout = !kind.alpha                            ? RowLayout::Rgb
                          : firstExtra == EXTRASAMPLE_ASSOCALPHA ? RowLayout::RgbaPremultiplied
                                                                 : RowLayout::Rgba;
        } else if (photometric == PHOTOMETRIC_MINISBLACK && spp >= 2 && alpha &&
                   firstExtra == EXTRASAMPLE_UNASSALPHA) {
            rows = true;
            kind.alpha = true;
            kind.layout = RowLayout::GreyAlpha;
        }
    }

    // The rows must hold the pixels they are read for.
    const tmsize_t rowSize = TIFFScanlineSize(tif);
    if (rows && (rowSize <= 0 || uint64_t(rowSize) * 8 < uint64_t(w) * bps * spp))
        return Refuse(IK_ERR_DATA, "TIFF: inconsistent row size");

    Image out;
    if (!rows) {
        out = ReadRgba(tif, w, h, orientation, progress);
        if (factor > 1 && !out.IsNull())
            out = ShrinkImage(out, factor);
    } else {
        bool damaged = false;
        if (!Grow(t_buffers.unpacked, w))
            return Image();
        uchar* unpacked = t_buffers.unpacked.data();
        uint32_t decoded = 0;
        if (factor > 1) {
            Shrinker shrinker;
            if (!shrinker.Start(int(w), int(h), factor, kind.alpha, kind.indexed))
                return Refuse(IK_ERR_MEMORY, "TIFF: out of memory");
            const std::vector<uchar> grey(size_t(w) * 3, uchar(qGray(kMissingGrey)));
            const bool ok =
                ReadRows(tif, w, h, progress, &damaged, [&](const uchar* row, uint32_t) {
                    if (!row) {
                        shrinker.AddRow(grey.data(), RowLayout::Rgb, 3);
                    } else if (kind.indexed) {
                        ++decoded;
                        shrinker.AddRow(Unpack(row, kind, w, unpacked), RowLayout::Indexed, 1,
                                        &kind.table);
                    } else {
                        ++decoded;
                        shrinker.AddRow(row, kind.layout, kind.spp);
                    }
                });
            if (!ok)
                return Image();
            out = shrinker.Finish();
        } else {
            out.img = QImage(int(w), int(h),
                             kind.indexed ? QImage::Format_Indexed8
                             : kind.alpha ? QImage::Format_ARGB32
                                          : QImage::Format_RGB888);
            if (out.img.isNull())
                return Refuse(IK_ERR_MEMORY, "TIFF: out of memory");
            if (kind.indexed) {
                out.img.setColorTable(GreyTable(1 << bps));
                if (photometric == PHOTOMETRIC_PALETTE)
                    out.img.setColorTable(kind.table);
                out.bpp = bps == 1 ? 1 : bps <= 4 ? 4 : 8;
            } else {
                out.bpp = kind.alpha ? 32 : 24;
            }
            std::vector<uint32_t> missing;
            const bool ok =
                ReadRows(tif, w, h, progress, &damaged, [&](const uchar* row, uint32_t y) {
                    uchar* dst = out.img.scanLine(int(y));
                    if (!row) {
                        missing.push_back(y);
                        return;
                    }
                    ++decoded;
                    if (kind.indexed)
                        std::memcpy(dst, Unpack(row, kind, w, unpacked), w);
                    else
                        PutRow(row, kind, w, dst);
                });
            if (!ok)
                return Image();
            // What could not be decoded shows grey, as in the other formats.
            if (decoded > 0)
                for (const uint32_t y : missing)
                    FillMissing(out, QRect(0, int(y), int(w), 1));
        }
        ReleaseLargeBuffers();
        if (decoded == 0)
            return Refuse(IK_ERR_DATA, "TIFF: no row of the picture can be decoded");
        if (damaged)
            Note(IK_STATUS_TRUNCATED, "TIFF: part of the picture cannot be decoded; it is grey");
    }
    if (!out.IsNull() && orientation != ORIENTATION_TOPLEFT)
        out.img = Oriented(out.img, orientation);
    uint32_t iccSize = 0;
    const void* icc = nullptr;
    if (!out.IsNull() && TIFFGetField(tif, TIFFTAG_ICCPROFILE, &iccSize, &icc) && icc)
        out.icc = UsableProfile(QByteArray(static_cast<const char*>(icc), qsizetype(iccSize)),
                                photometric == PHOTOMETRIC_MINISBLACK ||
                                    photometric == PHOTOMETRIC_MINISWHITE);
    return out;
}

} // namespace ik
