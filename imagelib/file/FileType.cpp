// Recognition of a file's format and its header fields, by content alone.
#include "file/Formats.h"

#include "file/TiffOpen.h"

#include <unordered_set>
#include <zlib.h>

namespace ik {

namespace {

constexpr size_t kMaxComment = 64 * 1024;
// Recognition reads headers only: libtiff may allocate no more than this for a directory.
constexpr tmsize_t kMaxTiffHeaderAlloc = 64 * 1024 * 1024;

bool RecogniseJpeg(File& f, TypeInfo& info) {
    int64_t pos = 2;
    bool exif = false, progressive = false, sof = false;
    uchar b[8];
    for (int guard = 0; guard < 100000; ++guard) {
        if (!f.ReadAt(pos, b, 2))
            break;
        if (b[0] != 0xFF)
            break; // not at a marker: stop reading headers
        const uchar marker = b[1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        pos += 2;
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (marker == 0xD9 || marker == 0xDA) // end of image, start of scan
            break;
        if (!f.ReadAt(pos, b, 2))
            break;
        const int len = BE16(b);
        if (len < 2)
            break;
        const int64_t body = pos + 2, bodyLen = len - 2;
        if (marker == 0xE1 && bodyLen >= 6 && !exif) {
            const QByteArray id = f.ReadAt(body, 6);
            if (id == QByteArray("Exif\0\0", 6)) {
                exif = true;
                info.orientation = ExifOrientation(f.ReadAt(body, size_t(bodyLen)));
            }
        } else if (marker == 0xFE && info.comment.isEmpty()) {
            info.comment =
                TextToUtf8(f.ReadAt(body, size_t(std::min<int64_t>(bodyLen, kMaxComment))));
        } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                   marker != 0xCC) {
            if (!f.ReadAt(body, b, 6))
                break;
            info.height = BE16(b + 1);
            info.width = BE16(b + 3);
            info.bitCount = b[0] * b[5];
            progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            sof = true;
        }
        pos += len;
    }
    if (!sof)
        return false;
    info.type = exif ? IK_TYPE_JPEG_EXIF : progressive ? IK_TYPE_JPEG_PROGRESSIVE : IK_TYPE_JPEG;
    info.interlace = progressive ? 1 : 0;
    return true;
}

// Inflates n bytes of the file from pos, streamed, to at most maxOut bytes of text.
QByteArray InflateAt(File& f, int64_t pos, int64_t n, size_t maxOut) {
    QByteArray out;
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return out;
    char buf[16384];
    int rc = Z_OK;
    QByteArray in;
    while (rc == Z_OK && size_t(out.size()) < maxOut) {
        if (zs.avail_in == 0) {
            if (n <= 0)
                break;
            in = f.ReadAt(pos, size_t(std::min<int64_t>(n, 16384)));
            if (in.isEmpty())
                break;
            pos += in.size();
            n -= in.size();
            zs.next_in = reinterpret_cast<Bytef*>(in.data());
            zs.avail_in = uInt(in.size());
        }
        zs.next_out = reinterpret_cast<Bytef*>(buf);
        zs.avail_out = sizeof buf;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buf, qsizetype(sizeof buf - zs.avail_out));
    }
    inflateEnd(&zs);
    return out.left(qsizetype(maxOut));
}

// The comment of a text chunk (tEXt, zTXt or iTXt) of len bytes at pos, when its keyword is
// "Comment"; a null array otherwise. Only the keyword is read of any other chunk, and no more
// than the comment's limit of this one, whatever length the chunk declares.
QByteArray PngComment(File& f, const QByteArray& type, int64_t pos, int64_t len) {
    const QByteArray head = f.ReadAt(pos, size_t(std::min<int64_t>(len, 80)));
    const qsizetype nul = head.indexOf('\0');
    if (nul <= 0 || head.left(nul) != "Comment")
        return QByteArray();
    const int64_t body = pos + nul + 1, bodyLen = len - nul - 1;
    if (type == "tEXt")
        return f.ReadAt(body, size_t(std::min<int64_t>(bodyLen, kMaxComment)));
    if (type == "zTXt") // method, then the deflated text
        return InflateAt(f, body + 1, bodyLen - 1, kMaxComment);
    // iTXt: flag, method, language, NUL, translated keyword, NUL, text.
    const QByteArray rest = f.ReadAt(body, size_t(std::min<int64_t>(bodyLen, 4096)));
    if (rest.size() < 2)
        return QByteArray();
    const bool compressed = rest[0] != 0;
    qsizetype p = rest.indexOf('\0', 2);
    p = p < 0 ? -1 : rest.indexOf('\0', p + 1);
    if (p < 0)
        return QByteArray();
    const int64_t text = body + p + 1, textLen = bodyLen - p - 1;
    return compressed ? InflateAt(f, text, textLen, kMaxComment)
                      : f.ReadAt(text, size_t(std::min<int64_t>(textLen, kMaxComment)));
}

bool RecognisePng(File& f, TypeInfo& info) {
    uchar b[25];
    if (!f.ReadAt(8, b, 25) || std::memcmp(b + 4, "IHDR", 4) != 0)
        return false;
    info.width = BE32(b + 8);
    info.height = BE32(b + 12);
    const int depth = b[16], colour = b[17];
    static const int samples[7] = {1, 0, 3, 1, 2, 0, 4};
    info.bitCount = colour <= 6 ? (colour == 3 ? depth : depth * samples[colour]) : 0;
    info.interlace = b[20] ? 1 : 0;
    info.type = IK_TYPE_PNG;
    // Look for a text chunk with the keyword "Comment", skipping the image data.
    int64_t pos = 8;
    for (int guard = 0; guard < 100000; ++guard) {
        uchar h[8];
        if (!f.ReadAt(pos, h, 8))
            break;
        const uint32_t len = BE32(h);
        if (len > 0x7FFFFFFF)
            break;
        const QByteArray type(reinterpret_cast<const char*>(h + 4), 4);
        if (type == "IEND")
            break;
        if (type == "tEXt" || type == "zTXt" || type == "iTXt") {
            const QByteArray text = PngComment(f, type, pos + 8, len);
            if (!text.isNull()) {
                info.comment = TextToUtf8(text);
                break;
            }
        }
        pos += 12 + int64_t(len);
    }
    return true;
}

bool SkipSubBlocks(File& f, int64_t& pos, QByteArray* collect) {
    for (;;) {
        uchar n;
        if (!f.ReadAt(pos, &n, 1))
            return false;
        ++pos;
        if (n == 0)
            return true;
        if (collect && size_t(collect->size()) < kMaxComment)
            collect->append(f.ReadAt(pos, n));
        pos += n;
    }
}

bool RecogniseGif(File& f, TypeInfo& info, bool is89a) {
    uchar b[7];
    if (!f.ReadAt(6, b, 7))
        return false;
    info.type = is89a ? IK_TYPE_GIF89A : IK_TYPE_GIF87A;
    info.width = LE16(b);
    info.height = LE16(b + 2);
    info.bitCount = (b[4] & 0x80) ? (b[4] & 7) + 1 : 8;
    int64_t pos = 13;
    if (b[4] & 0x80)
        pos += 3 * (2 << (b[4] & 7));
    int frames = 0;
    bool comment = false;
    for (int guard = 0; guard < 1000000; ++guard) {
        uchar kind;
        if (!f.ReadAt(pos, &kind, 1))
            break;
        ++pos;
        if (kind == 0x3B)
            break;
        if (kind == 0x21) {
            uchar label;
            if (!f.ReadAt(pos, &label, 1))
                break;
            ++pos;
            QByteArray text;
            const bool take = label == 0xFE && !comment;
            if (!SkipSubBlocks(f, pos, take ? &text : nullptr))
                break;
            if (take) {
                info.comment = TextToUtf8(text);
                comment = true;
            }
        } else if (kind == 0x2C) {
            uchar d[9];
            if (!f.ReadAt(pos, d, 9))
                break;
            pos += 9;
            if (frames == 0) {
                info.interlace = (d[8] & 0x40) ? 1 : 0;
                if (info.width == 0 || info.height == 0) {
                    info.width = LE16(d + 4);
                    info.height = LE16(d + 6);
                }
            }
            if (d[8] & 0x80)
                pos += 3 * (2 << (d[8] & 7));
            ++pos; // LZW minimum code size
            if (!SkipSubBlocks(f, pos, nullptr))
                break;
            ++frames;
        } else {
            break;
        }
    }
    info.panes = std::max(1, frames);
    return true;
}

// The number of directories (pages) of a TIFF, counted along the chain of their offsets up to
// kMaxPanes, and no further: a file of a million empty directories costs nothing more. A chain
// that comes back on itself ends there.
constexpr int kMaxPanes = 32767;

int CountTiffPanes(File& f) {
    uchar h[16];
    if (!f.ReadAt(0, h, 8))
        return 1;
    const bool little = h[0] == 'I';
    const auto u16 = [little](const uchar* p) { return little ? LE16(p) : BE16(p); };
    const auto u32 = [little](const uchar* p) { return little ? LE32(p) : BE32(p); };
    const auto u64 = [&](const uchar* p) {
        return little ? uint64_t(LE32(p)) | uint64_t(LE32(p + 4)) << 32
                      : uint64_t(BE32(p)) << 32 | BE32(p + 4);
    };
    const bool big = u16(h + 2) == 43;
    uint64_t next = u32(h + 4);
    if (big) {
        if (!f.ReadAt(0, h, 16))
            return 1;
        next = u64(h + 8);
    }
    std::unordered_set<uint64_t> seen;
    int panes = 0;
    while (next != 0 && panes < kMaxPanes && seen.insert(next).second) {
        uchar c[8];
        if (!f.ReadAt(int64_t(next), c, big ? 8 : 2))
            break;
        ++panes;
        const uint64_t entries = big ? u64(c) : u16(c);
        const uint64_t at = next + (big ? 8 : 2) + entries * (big ? 20 : 12);
        if (at > uint64_t(f.Size()) || !f.ReadAt(int64_t(at), c, big ? 8 : 4))
            break;
        next = big ? u64(c) : u32(c);
    }
    return std::max(1, panes);
}

bool RecogniseTiff(File& f, const char* path, TypeInfo& info) {
    TiffCloser tc{OpenTiff(path, "r", kMaxTiffHeaderAlloc)};
    TIFF* tif = tc.t;
    if (!tif)
        return Fail(IK_ERR_DATA, "TIFF: the file cannot be opened as TIFF");
    uint32_t w = 0, h = 0;
    uint16_t compression = COMPRESSION_NONE, bps = 1, spp = 1;
    uint32_t t4 = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    info.width = w;
    info.height = h;
    info.bitCount = bps * spp;
    switch (compression) {
    case COMPRESSION_NONE:
        info.type = IK_TYPE_TIFF_NONE;
        break;
    case COMPRESSION_CCITTRLE:
        info.type = IK_TYPE_TIFF_CCITTRLE;
        break;
    case COMPRESSION_CCITTFAX3:
        TIFFGetField(tif, TIFFTAG_GROUP3OPTIONS, &t4);
        info.type = (t4 & GROUP3OPT_2DENCODING) ? IK_TYPE_TIFF_G3_2D : IK_TYPE_TIFF_G3_1D;
        break;
    case COMPRESSION_CCITTFAX4:
        info.type = IK_TYPE_TIFF_G4;
        break;
    case COMPRESSION_PACKBITS:
        info.type = IK_TYPE_TIFF_PACKBITS;
        break;
    case COMPRESSION_LZW:
        info.type = IK_TYPE_TIFF_LZW;
        break;
    default:
        info.type = IK_TYPE_TIFF_OTHER;
        break;
    }
    char* desc = nullptr;
    if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &desc) && desc)
        info.comment = TextToUtf8(QByteArray(desc).left(qsizetype(kMaxComment)));
    info.panes = CountTiffPanes(f);
    return w > 0 && h > 0;
}

bool RecogniseBmp(File& f, TypeInfo& info) {
    uchar b[40];
    if (!f.ReadAt(14, b, 4))
        return false;
    const uint32_t hsize = LE32(b);
    if (hsize == 12) {
        if (!f.ReadAt(14, b, 12))
            return false;
        info.width = LE16(b + 4);
        info.height = LE16(b + 6);
        info.bitCount = LE16(b + 10);
        info.type = IK_TYPE_BMP;
    } else if (hsize >= 16 && hsize <= 1024) {
        if (!f.ReadAt(14, b, 16))
            return false;
        const int32_t h = int32_t(LE32(b + 8));
        info.width = int32_t(LE32(b + 4));
        info.height = h < 0 ? -int64_t(h) : h;
        info.bitCount = LE16(b + 14);
        uint32_t compression = 0;
        if (hsize >= 20 && f.ReadAt(30, b, 4))
            compression = LE32(b);
        info.type = compression == 1   ? IK_TYPE_BMP_RLE8
                    : compression == 2 ? IK_TYPE_BMP_RLE4
                                       : IK_TYPE_BMP;
    } else {
        return false;
    }
    switch (info.bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        return info.width > 0;
    default:
        return false;
    }
}

bool RecognisePcx(File& f, TypeInfo& info) {
    uchar h[128];
    if (!f.ReadAt(0, h, 128))
        return false;
    const int version = h[1], encoding = h[2], bpp = h[3], planes = h[65];
    if (!(version == 0 || (version >= 2 && version <= 5)) || encoding != 1)
        return false;
    if (!(bpp == 1 || bpp == 2 || bpp == 4 || bpp == 8) || !(planes >= 1 && planes <= 4))
        return false;
    const int xmin = LE16(h + 4), ymin = LE16(h + 6), xmax = LE16(h + 8), ymax = LE16(h + 10);
    if (xmax < xmin || ymax < ymin)
        return false;
    info.type = IK_TYPE_PCX;
    info.width = xmax - xmin + 1;
    info.height = ymax - ymin + 1;
    info.bitCount = bpp * planes;
    return true;
}

bool RecogniseFlashpix(File& f, TypeInfo& info) {
    uchar h[64];
    if (!f.ReadAt(0, h, 64))
        return false;
    const int shift = LE16(h + 30);
    if (shift < 7 || shift > 16)
        return false;
    const int64_t dirSector = LE32(h + 48);
    uchar entry[128];
    if (!f.ReadAt((dirSector + 1) << shift, entry, sizeof entry))
        return false;
    // Flashpix objects carry class IDs 5661xxxx-C154-11CE-8553-00AA00A1F95B.
    static const uchar tail[] = {0x54, 0xC1, 0xCE, 0x11, 0x85, 0x53,
                                 0x00, 0xAA, 0x00, 0xA1, 0xF9, 0x5B};
    const uchar* clsid = entry + 80;
    if (LE16(clsid + 2) != 0x5661 || std::memcmp(clsid + 4, tail, sizeof tail) != 0)
        return false;
    info.type = IK_TYPE_FPX_NONE;
    return true;
}

bool RecogniseDxf(const QByteArray& head, TypeInfo& info) {
    if (head.startsWith(QByteArray("AutoCAD Binary DXF\r\n\x1a\0", 22))) {
        info.type = IK_TYPE_DXF;
        return true;
    }
    // A text DXF starts with optional "999" comments, then group code 0 and "SECTION".
    QList<QByteArray> lines = head.left(4096).split('\n');
    int i = 0;
    while (i + 1 < lines.size() && lines[i].trimmed() == "999")
        i += 2;
    if (i + 1 < lines.size() && lines[i].trimmed() == "0" && lines[i + 1].trimmed() == "SECTION") {
        info.type = IK_TYPE_DXF;
        return true;
    }
    return false;
}

} // namespace

bool Recognise(const char* path, TypeInfo& info) {
    info = TypeInfo();
    File f(path);
    if (!f.IsOpen())
        return Fail(IK_ERR_OPEN, f.Error());
    info.fileSize = f.Size();
    uchar m[44] = {};
    const QByteArray head = f.ReadAt(0, 4096);
    std::memcpy(m, head.constData(), size_t(std::min<qsizetype>(head.size(), sizeof m)));
    const qsizetype n = head.size();
    bool ok = false;
    if (n >= 4 && m[0] == 0xFF && m[1] == 0xD8 && m[2] == 0xFF)
        ok = RecogniseJpeg(f, info);
    else if (n >= 8 && std::memcmp(m, "\x89PNG\r\n\x1a\n", 8) == 0)
        ok = RecognisePng(f, info);
    else if (n >= 6 && (std::memcmp(m, "GIF87a", 6) == 0 || std::memcmp(m, "GIF89a", 6) == 0))
        ok = RecogniseGif(f, info, m[4] == '9');
    else if (n >= 4 && (std::memcmp(m, "II*\0", 4) == 0 || std::memcmp(m, "MM\0*", 4) == 0 ||
                        std::memcmp(m, "II+\0", 4) == 0 || std::memcmp(m, "MM\0+", 4) == 0))
        ok = RecogniseTiff(f, path, info);
    else if (n >= 18 && m[0] == 'B' && m[1] == 'M')
        ok = RecogniseBmp(f, info);
    else if (n >= 128 && m[0] == 0x0A)
        ok = RecognisePcx(f, info);
    else if (n >= 22 && LE32(m) == 0x9AC6CDD7) { // placeable metafile
        const int16_t l = int16_t(LE16(m + 6)), t = int16_t(LE16(m + 8));
        const int16_t r = int16_t(LE16(m + 10)), b = int16_t(LE16(m + 12));
        const int inch = LE16(m + 14);
        info.type = IK_TYPE_WMF;
        if (inch > 0) {
            info.width = std::abs(r - l) * 96 / inch;
            info.height = std::abs(b - t) * 96 / inch;
        }
        ok = true;
    } else if (n >= 18 && (LE16(m) == 1 || LE16(m) == 2) && LE16(m + 2) == 9 &&
               (LE16(m + 4) == 0x0100 || LE16(m + 4) == 0x0300)) {
        info.type = IK_TYPE_WMF;
        ok = true;
    } else if (n >= 44 && LE32(m) == 1 && LE32(m + 40) == 0x464D4520) {
        info.type = IK_TYPE_EMF;
        info.width = int64_t(int32_t(LE32(m + 16))) - int32_t(LE32(m + 8)) + 1;
        info.height = int64_t(int32_t(LE32(m + 20))) - int32_t(LE32(m + 12)) + 1;
        ok = true;
    } else if (n >= 64 && std::memcmp(m, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0)
        ok = RecogniseFlashpix(f, info);
    else
        ok = RecogniseDxf(head, info);
    if (!ok)
        info = TypeInfo();
    return ok;
}

} // namespace ik
