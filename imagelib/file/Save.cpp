// The six savers: BMP, JPEG, TIFF, GIF, PNG and PCX. Each writes through an AtomicFile, steps the
// progress window once a row, and returns non-zero only when the whole file was written.
#include "core/Color.h"
#include "file/AtomicFile.h"
#include "file/Formats.h"
#include "file/TiffOpen.h"

#include <climits>
#include <csetjmp>
#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <unistd.h>

namespace ik {

namespace {

void PutLE16(QByteArray& b, int v) {
    b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}
void PutLE32(QByteArray& b, int64_t v) {
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}

// The image at a depth a saver takes: 16-bit images as 5-5-5.
Image Prepared(const Image& src) {
    Image img = src;
    if (img.bpp == 16 && img.img.format() != QImage::Format_RGB555)
        img.img = img.img.convertToFormat(QImage::Format_RGB555);
    return img;
}

// Rows of 8-bit RGB for the savers that write true colour.
QImage AsRgb888(const Image& img) {
    return img.img.format() == QImage::Format_RGB888
               ? img.img
               : img.img.convertToFormat(QImage::Format_RGB888);
}

// Palette indices packed at bpp bits per pixel, first pixel in the high bits.
void Pack(const uchar* idx, int w, int bpp, uchar* out, size_t outBytes) {
    std::memset(out, 0, outBytes);
    for (int x = 0; x < w; ++x) {
        const int64_t bit = int64_t(x) * bpp;
        out[bit / 8] |= uchar((idx[x] & ((1 << bpp) - 1)) << (8 - bpp - int(bit % 8)));
    }
}

// The image's colour profile when the file written holds pixels of its colour space (grey rows
// take a grey profile, colour rows and palettes an RGB one); null otherwise.
const QByteArray* ProfileFor(const Image& img, bool greyRows) {
    const uint32_t space = ProfileColorSpace(img.icc);
    return space == (greyRows ? kIccGrey : kIccRgb) ? &img.icc : nullptr;
}

bool IsGreyPalette(const QImage& img) {
    const QVector<QRgb> t = img.colorTable();
    for (QRgb c : t)
        if (qRed(c) != qGreen(c) || qGreen(c) != qBlue(c))
            return false;
    return !t.isEmpty();
}

// ---- BMP -----------------------------------------------------------------------------------

bool SaveBmp(const char* path, const Image& src, Progress& progress) {
    const Image img = Prepared(src);
    const int w = img.img.width(), h = img.img.height(), bpp = img.bpp;
    const int colours = bpp <= 8 ? img.img.colorCount() : 0;
    const int64_t stride = ((int64_t(w) * bpp + 31) / 32) * 4;
    const int64_t offBits = 14 + 40 + 4 * int64_t(colours);
    const int64_t fileSize = offBits + stride * h;
    if (fileSize > 0xFFFFFFFFLL)
        return Fail(IK_ERR_WRITE, "BMP: the image is too large for the format (4 GB)");
    AtomicFile file(path);
    std::FILE* f = file.Stream();
    if (!f)
        return false;
    QByteArray head;
    head.append("BM");
    PutLE32(head, fileSize);
    PutLE32(head, 0);
    PutLE32(head, offBits);
    PutLE32(head, 40);
    PutLE32(head, w);
    PutLE32(head, h); // bottom-up
    PutLE16(head, 1);
    PutLE16(head, bpp);
    PutLE32(head, 0); // BI_RGB
    PutLE32(head, stride * h);
    PutLE32(head, 2835); // 72 dpi
    PutLE32(head, 2835);
    PutLE32(head, colours);
    PutLE32(head, 0);
    for (int i = 0; i < colours; ++i) {
        const QRgb c = img.img.color(i);
        head.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c))).append('\0');
    }
    if (std::fwrite(head.constData(), 1, size_t(head.size()), f) != size_t(head.size()))
        return false;
    std::vector<uchar> row(size_t(stride), 0);
    for (int r = 0; r < h; ++r) {
        const int y = h - 1 - r;
        const uchar* s = img.img.constScanLine(y);
        switch (bpp) {
        case 1:
        case 4:
            Pack(s, w, bpp, row.data(), row.size());
            break;
        case 8:
            std::memcpy(row.data(), s, size_t(w));
            break;
        case 16:
            std::memcpy(row.data(), s, size_t(w) * 2);
            break;
        case 24:
            for (int x = 0; x < w; ++x) {
                row[size_t(3 * x)] = s[3 * x + 2];
                row[size_t(3 * x) + 1] = s[3 * x + 1];
                row[size_t(3 * x) + 2] = s[3 * x];
            }
            break;
        default:
            std::memcpy(row.data(), s, size_t(w) * 4); // B, G, R, A in memory
            break;
        }
        if (std::fwrite(row.data(), 1, row.size(), f) != row.size())
            return false;
        if (!progress.Step(r + 1, h))
            return false;
    }
    return file.Commit();
}

// ---- JPEG ----------------------------------------------------------------------------------

struct JpegErr {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void OnJpegError(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX] = {};
    (*cinfo->err->format_message)(cinfo, text);
    Fail(IK_ERR_WRITE, QByteArray("JPEG: ") + text);
    std::longjmp(reinterpret_cast<JpegErr*>(cinfo->err)->jump, 1);
}

struct JpegOut {
    std::FILE* f;
    const QImage* rows; // RGB888, or Indexed8 with a grey palette
    bool grey;
    int quality, progressive, subsampling;
    const char* text;
    Progress* progress;
    std::vector<uchar> line;
    const QByteArray* icc; // the colour profile to embed, or null
};

// Runs inside libjpeg's error frame: the C++ objects live in the caller.
bool RunJpegOut(jpeg_compress_struct* cinfo, JpegErr* err, JpegOut* job) {
    if (setjmp(err->jump))
        return false;
    jpeg_stdio_dest(cinfo, job->f);
    const QImage& img = *job->rows;
    cinfo->image_width = JDIMENSION(img.width());
    cinfo->image_height = JDIMENSION(img.height());
    cinfo->input_components = job->grey ? 1 : 3;
    cinfo->in_color_space = job->grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, job->quality, TRUE);
    if (!job->grey) {
        // 0 "4:1:1": luma sampled 2 × 2; 1 "4:2:2": 2 × 1; 2 "4:4:4": 1 × 1.
        static const int factors[3][2] = {{2, 2}, {2, 1}, {1, 1}};
        const int* f =
            factors[job->subsampling >= 0 && job->subsampling <= 2 ? job->subsampling : 0];
        cinfo->comp_info[0].h_samp_factor = f[0];
        cinfo->comp_info[0].v_samp_factor = f[1];
        for (int c = 1; c < 3; ++c)
            cinfo->comp_info[c].h_samp_factor = cinfo->comp_info[c].v_samp_factor = 1;
    }
    if (job->progressive)
        jpeg_simple_progression(cinfo);
    jpeg_start_compress(cinfo, TRUE);
    // libjpeg splits the profile into as many APP2 segments as it needs.
    if (job->icc)
        jpeg_write_icc_profile(cinfo, reinterpret_cast<const JOCTET*>(job->icc->constData()),
                               unsigned(job->icc->size()));
    if (job->text && *job->text)
        jpeg_write_marker(cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(job->text),
                          unsigned(std::min<size_t>(std::strlen(job->text), 65533)));
    const QVector<QRgb> table = job->grey ? img.colorTable() : QVector<QRgb>();
    job->line.resize(size_t(img.width()));
    while (cinfo->next_scanline < cinfo->image_height) {
        const int y = int(cinfo->next_scanline);
        JSAMPROW row;
        if (job->grey) {
            const uchar* s = img.constScanLine(y);
            for (int x = 0; x < img.width(); ++x)
                job->line[size_t(x)] = uchar(qRed(table.value(s[x])));
            row = job->line.data();
        } else {
            row = const_cast<JSAMPROW>(img.constScanLine(y));
        }
        jpeg_write_scanlines(cinfo, &row, 1);
        if (!job->progress->Step(y + 1, img.height()))
            return false;
    }
    jpeg_finish_compress(cinfo);
    return true;
}

bool SaveJpeg(const char* path, const Image& src, int progressive, int quality, int subsampling,
              const char* text, Progress& progress) {
    const bool grey = src.bpp <= 8 && IsGreyPalette(src.img);
    const QImage rows = grey ? src.img : AsRgb888(src);
    AtomicFile file(path);
    std::FILE* f = file.Stream();
    if (!f)
        return false;
    JpegOut job{f,    &rows,     grey, std::clamp(quality, 1, 100), progressive, subsampling,
                text, &progress, {},   ProfileFor(src, grey)};
    jpeg_compress_struct cinfo;
    JpegErr err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnJpegError;
    jpeg_create_compress(&cinfo);
    const bool ok = RunJpegOut(&cinfo, &err, &job);
    jpeg_destroy_compress(&cinfo);
    return ok && !std::ferror(f) && file.Commit();
}

// ---- TIFF ----------------------------------------------------------------------------------

bool SaveTiff(const char* path, const Image& src, int compressionIndex, const char* text,
              Progress& progress) {
    static const struct {
        uint16_t scheme;
        uint32_t t4;
        bool fax;
    } schemes[7] = {
        {COMPRESSION_NONE, 0, false},     {COMPRESSION_CCITTRLE, 0, true},
        {COMPRESSION_CCITTFAX3, 0, true}, {COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING, true},
        {COMPRESSION_CCITTFAX4, 0, true}, {COMPRESSION_PACKBITS, 0, false},
        {COMPRESSION_LZW, 0, false}};
    const auto& scheme =
        schemes[compressionIndex >= 0 && compressionIndex <= 6 ? compressionIndex : 0];
    Image img;
    if (scheme.fax)
        img = src.bpp == 1 ? src : ToOneBit(src, true, 128, progress);
    else
        img = Prepared(src);
    if (img.IsNull())
        return false;
    const int w = img.img.width(), h = img.img.height();
    AtomicFile file(path);
    const int fd = file.TakeFd();
    if (fd < 0)
        return false;
    TIFF* tif = OpenTiff(path, "w", 0, fd);
    if (!tif) {
        ::close(fd);
        return Fail(IK_ERR_WRITE, "TIFF: cannot start the file");
    }
    const bool palette = img.bpp <= 8 && !scheme.fax;
    const bool alpha = img.bpp == 32 && img.img.hasAlphaChannel();
    const int spp = img.bpp <= 8 ? 1 : alpha ? 4 : 3;
    const int bps = scheme.fax ? 1 : img.bpp <= 8 ? img.bpp : 8;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(bps));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(spp));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, scheme.scheme);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 72.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 72.0f);
    if (scheme.scheme == COMPRESSION_CCITTFAX3)
        TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, scheme.t4);
    if (text && *text)
        TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, text);
    std::vector<uint16_t> r, g, b;
    std::vector<uchar> black; // per palette entry: 1 when the colour is dark (fax images)
    if (scheme.fax) {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        for (QRgb c : img.img.colorTable())
            black.push_back(Luma(c) < 128 ? 1 : 0);
        black.resize(256, 0);
    } else if (palette) {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
        const int n = 1 << bps;
        r.assign(size_t(n), 0);
        g.assign(size_t(n), 0);
        b.assign(size_t(n), 0);
        for (int i = 0; i < std::min(n, img.img.colorCount()); ++i) {
            const QRgb c = img.img.color(i);
            r[size_t(i)] = uint16_t(qRed(c) * 257);
            g[size_t(i)] = uint16_t(qGreen(c) * 257);
            b[size_t(i)] = uint16_t(qBlue(c) * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    } else {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        if (alpha) {
            const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
        }
    }
    // Colour rows compress far better as differences from the pixel to their left; every TIFF
    // reader undoes it. Palette indices have no such neighbourhood.
    if (scheme.scheme == COMPRESSION_LZW && !palette && !scheme.fax)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (const QByteArray* icc = scheme.fax ? nullptr : ProfileFor(img, false))
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(icc->size()), icc->constData());
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    const QImage rgb = palette || scheme.fax ? QImage() : alpha ? img.img : AsRgb888(img);
    std::vector<uchar> line(size_t(std::max<tmsize_t>(TIFFScanlineSize(tif), tmsize_t(w) * 4)), 0);
    bool ok = true;
    for (int y = 0; y < h && ok; ++y) {
        const uchar* s = scheme.fax || palette ? img.img.constScanLine(y) : rgb.constScanLine(y);
        if (scheme.fax) {
            std::vector<uchar> bits(static_cast<size_t>(w));
            for (int x = 0; x < w; ++x)
                bits[size_t(x)] = black[s[x]];
            Pack(bits.data(), w, 1, line.data(), line.size());
        } else if (palette) {
            Pack(s, w, bps, line.data(), line.size());
        } else if (alpha) {
            const QRgb* px = reinterpret_cast<const QRgb*>(s);
            for (int x = 0; x < w; ++x) {
                line[size_t(4 * x)] = uchar(qRed(px[x]));
                line[size_t(4 * x) + 1] = uchar(qGreen(px[x]));
                line[size_t(4 * x) + 2] = uchar(qBlue(px[x]));
                line[size_t(4 * x) + 3] = uchar(qAlpha(px[x]));
            }
        } else {
            std::memcpy(line.data(), s, size_t(w) * 3);
        }
        ok = TIFFWriteScanline(tif, line.data(), uint32_t(y), 0) >= 0 && progress.Step(y + 1, h);
    }
    ok = ok && TIFFFlush(tif) == 1;
    TIFFClose(tif);
    return ok && file.Commit();
}

// ---- GIF -----------------------------------------------------------------------------------

bool SaveGif(const char* path, const Image& src, int interlaced, int transparent, int red,
             int green, int blue, const char* text, Progress& progress) {
    Image pal = src.bpp <= 8 ? src : Quantise(src, 8, true, progress);
    if (pal.IsNull())
        return false;
    const int w = pal.img.width(), h = pal.img.height();
    if (w > 65535 || h > 65535)
        return Fail(IK_ERR_WRITE, "GIF: the format holds at most 65,535 pixels a side");
    const int colours = std::max(1, pal.img.colorCount());
    int mapBits = 1;
    while ((1 << mapBits) < colours)
        ++mapBits;
    int transIndex = -1;
    if (transparent) {
        // The entry of exactly that colour, or else the nearest one.
        int best = INT_MAX;
        for (int i = 0; i < pal.img.colorCount(); ++i) {
            const QRgb c = pal.img.color(i);
            const int d = (qRed(c) - red) * (qRed(c) - red) +
                          (qGreen(c) - green) * (qGreen(c) - green) +
                          (qBlue(c) - blue) * (qBlue(c) - blue);
            if (d < best) {
                best = d;
                transIndex = i;
            }
        }
    }
    AtomicFile file(path);
    const int fd = file.TakeFd();
    if (fd < 0)
        return false;
    int error = 0;
    GifFileType* gif = EGifOpenFileHandle(fd, &error);
    if (!gif) {
        ::close(fd);
        return Fail(IK_ERR_WRITE, "GIF: cannot start the file");
    }
    ColorMapObject* map = GifMakeMapObject(1 << mapBits, nullptr);
    for (int i = 0; i < (1 << mapBits); ++i) {
        const QRgb c = i < pal.img.colorCount() ? pal.img.color(i) : qRgb(0, 0, 0);
        map->Colors[i] =
            GifColorType{GifByteType(qRed(c)), GifByteType(qGreen(c)), GifByteType(qBlue(c))};
    }
    const bool v89 = transIndex >= 0 || (text && *text);
    EGifSetGifVersion(gif, v89);
    bool ok = map && EGifPutScreenDesc(gif, w, h, mapBits, 0, map) == GIF_OK;
    if (ok && transIndex >= 0) {
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
        gcb.TransparentColor = transIndex;
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_OK;
    }
    if (ok && text && *text)
        ok = EGifPutComment(gif, text) == GIF_OK;
    ok = ok && EGifPutImageDesc(gif, 0, 0, w, h, interlaced != 0, nullptr) == GIF_OK;
    // Interlaced images are written in four passes of rows.
    static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    std::vector<GifPixelType> line(static_cast<size_t>(w));
    int64_t done = 0;
    for (int p = 0; p < (interlaced ? 4 : 1) && ok; ++p) {
        for (int y = interlaced ? start[p] : 0; y < h && ok; y += interlaced ? step[p] : 1) {
            std::memcpy(line.data(), pal.img.constScanLine(y), size_t(w));
            ok = EGifPutLine(gif, line.data(), w) == GIF_OK && progress.Step(++done, h);
        }
    }
    GifFreeMapObject(map);
    ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    return ok && file.Commit();
}

// ---- PNG -----------------------------------------------------------------------------------

struct PngOut {
    std::FILE* f;
    const QImage* img; // Indexed8 or RGB888
    int bitDepth;
    bool interlaced;
    int transparent, red, green, blue;
    Progress* progress;
    int64_t rowsDone = 0, rowsTotal = 0;
    std::vector<png_bytep> rows;
    std::vector<png_color> palette;
    std::vector<png_byte> alpha;
    std::vector<png_text> texts;     // written before the picture
    const QByteArray* icc = nullptr; // the colour profile to embed, or null
};

void OnPngWriteError(png_structp png, png_const_charp message) {
    Fail(IK_ERR_WRITE, QByteArray("PNG: ") + message);
    png_longjmp(png, 1);
}
void OnPngWriteWarning(png_structp, png_const_charp) {}

void OnPngRowWritten(png_structp png, png_uint_32, int) {
    auto* job = static_cast<PngOut*>(png_get_error_ptr(png));
    if (!job->progress->Step(++job->rowsDone, job->rowsTotal))
        png_longjmp(png, 1);
}

bool RunPngOut(png_structp png, png_infop info, PngOut* job) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, job->f);
    png_set_write_status_fn(png, OnPngRowWritten);
    // zlib's level 4 deflates photographs about twice as fast as its default level 6 into files
    // of the same size (within about one percent either way).
    png_set_compression_level(png, 4);
    const QImage& img = *job->img;
    const bool indexed = img.format() == QImage::Format_Indexed8;
    png_set_IHDR(png, info, png_uint_32(img.width()), png_uint_32(img.height()),
                 indexed ? job->bitDepth : 8, indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB,
                 job->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed) {
        const int n = std::max(1, img.colorCount());
        job->palette.resize(size_t(n));
        for (int i = 0; i < img.colorCount(); ++i) {
            const QRgb c = img.color(i);
            job->palette[size_t(i)] =
                png_color{png_byte(qRed(c)), png_byte(qGreen(c)), png_byte(qBlue(c))};
        }
        png_set_PLTE(png, info, job->palette.data(), n);
        if (job->transparent) {
            // Exactly the entries of that colour become transparent.
            int last = -1;
            job->alpha.assign(size_t(n), 255);
            for (int i = 0; i < img.colorCount(); ++i) {
                const QRgb c = img.color(i);
                if (qRed(c) == job->red && qGreen(c) == job->green && qBlue(c) == job->blue) {
                    job->alpha[size_t(i)] = 0;
                    last = i;
                }
            }
            if (last >= 0)
                png_set_tRNS(png, info, job->alpha.data(), last + 1, nullptr);
        }
    } else if (job->transparent) {
        png_color_16 colour{};
        colour.red = png_uint_16(job->red);
        colour.green = png_uint_16(job->green);
        colour.blue = png_uint_16(job->blue);
        png_set_tRNS(png, info, nullptr, 0, &colour);
    }
    if (!job->texts.empty())
        png_set_text(png, info, job->texts.data(), int(job->texts.size()));
    if (job->icc) {
        // A profile libpng finds fault with is left out rather than failing the picture.
        png_set_benign_errors(png, 1);
        png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE,
                     reinterpret_cast<png_const_bytep>(job->icc->constData()),
                     png_uint_32(job->icc->size()));
    }
    png_write_info(png, info);
    if (indexed && job->bitDepth < 8)
        png_set_packing(png);
    const int passes = job->interlaced ? png_set_interlace_handling(png) : 1;
    job->rowsTotal = int64_t(img.height()) * passes;
    job->rows.resize(size_t(img.height()));
    for (int y = 0; y < img.height(); ++y)
        job->rows[size_t(y)] = const_cast<png_bytep>(img.constScanLine(y));
    png_write_image(png, job->rows.data());
    png_write_end(png, info);
    return true;
}

// Text keys, and how the file is written: for the shared thumbnail cache (keys, mode 0600, no
// waiting for the disk) or, with none of them, as any saved picture.
struct PngExtras {
    const std::vector<std::pair<QByteArray, QByteArray>>* keys = nullptr;
    int mode = -1;
    bool durable = true;
};

bool SavePng(const char* path, const Image& src, int interlaced, int transparent, int red,
             int green, int blue, Progress& progress, const PngExtras& extras = PngExtras()) {
    // Palette images keep their depth; 16-, 24- and 32-bit images are written as 24-bit RGB.
    const QImage img = src.bpp <= 8 ? src.img : AsRgb888(src);
    AtomicFile file(path);
    if (extras.mode >= 0)
        file.SetMode(unsigned(extras.mode));
    file.SetDurable(extras.durable);
    std::FILE* f = file.Stream();
    if (!f)
        return false;
    PngOut job{f,
               &img,
               src.bpp <= 8 ? src.bpp : 8,
               interlaced != 0,
               transparent,
               red,
               green,
               blue,
               &progress,
               0,
               0,
               {},
               {},
               {},
               {}};
    if (extras.keys)
        for (const auto& [k, v] : *extras.keys) {
            png_text t{};
            t.compression = PNG_TEXT_COMPRESSION_NONE;
            t.key = const_cast<char*>(k.constData());
            t.text = const_cast<char*>(v.constData());
            t.text_length = size_t(v.size());
            job.texts.push_back(t);
        }
    // The shared thumbnail cache's entries are sRGB, without a profile.
    if (!extras.keys)
        job.icc = ProfileFor(src, false);
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &job, OnPngWriteError, OnPngWriteWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool ok = png && info && RunPngOut(png, info, &job);
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    return ok && !std::ferror(f) && file.Commit();
}

// ---- PCX -----------------------------------------------------------------------------------

// Run-length encodes one plane of one row.
void PcxEncode(const uchar* s, int n, QByteArray& out) {
    for (int i = 0; i < n;) {
        int run = 1;
        while (i + run < n && run < 63 && s[i + run] == s[i])
            ++run;
        if (run > 1 || (s[i] & 0xC0) == 0xC0)
            out.append(char(0xC0 | run));
        out.append(char(s[i]));
        i += run;
    }
}

bool SavePcx(const char* path, const Image& src, Progress& progress) {
    const int w = src.img.width(), h = src.img.height();
    if (w > 65535 || h > 65535)
        return Fail(IK_ERR_WRITE, "PCX: the format holds at most 65,535 pixels a side");
    // 1, 4 and 8 bits keep their palette; anything deeper is written as 24 bits.
    const int bpp = src.bpp <= 8 ? src.bpp : 24;
    const int planes = bpp == 24 ? 3 : bpp == 4 ? 4 : 1;
    const int bitsPerPlane = bpp == 8 || bpp == 24 ? 8 : 1;
    int bytesPerLine = (w * bitsPerPlane + 7) / 8;
    bytesPerLine += bytesPerLine & 1;
    // The header keeps the bytes of a row in 16 bits; a wider row cannot be read back.
    if (bytesPerLine > 65535)
        return Fail(IK_ERR_WRITE, "PCX: a row of more than 65,535 bytes does not fit the format");
    const QImage rgb = bpp == 24 ? AsRgb888(src) : QImage();

    QByteArray head(128, '\0');
    head[0] = 0x0A;
    head[1] = 5;
    head[2] = 1;
    head[3] = char(bitsPerPlane);
    head[8] = char((w - 1) & 0xFF);
    head[9] = char((w - 1) >> 8);
    head[10] = char((h - 1) & 0xFF);
    head[11] = char((h - 1) >> 8);
    head[12] = 72;
    head[14] = 72;
    if (bpp == 1 || bpp == 4)
        for (int i = 0; i < std::min(16, src.img.colorCount()); ++i) {
            const QRgb c = src.img.color(i);
            head[16 + 3 * i] = char(qRed(c));
            head[17 + 3 * i] = char(qGreen(c));
            head[18 + 3 * i] = char(qBlue(c));
        }
    head[65] = char(planes);
    head[66] = char(bytesPerLine & 0xFF);
    head[67] = char(bytesPerLine >> 8);
    head[68] = 1; // colour palette

    AtomicFile file(path);
    std::FILE* f = file.Stream();
    if (!f || std::fwrite(head.constData(), 1, 128, f) != 128)
        return false;
    std::vector<uchar> plane(static_cast<size_t>(bytesPerLine));
    QByteArray out;
    for (int y = 0; y < h; ++y) {
        out.clear();
        const uchar* s = bpp == 24 ? rgb.constScanLine(y) : src.img.constScanLine(y);
        for (int p = 0; p < planes; ++p) {
            std::fill(plane.begin(), plane.end(), 0);
            for (int x = 0; x < w; ++x) {
                if (bpp == 24)
                    plane[size_t(x)] = s[3 * x + p];
                else if (bpp == 8)
                    plane[size_t(x)] = s[x];
                else if ((bpp == 1 ? s[x] : s[x] >> p) & 1)
                    plane[size_t(x / 8)] |= uchar(0x80 >> (x % 8));
            }
            PcxEncode(plane.data(), bytesPerLine, out);
        }
        if (std::fwrite(out.constData(), 1, size_t(out.size()), f) != size_t(out.size()))
            return false;
        if (!progress.Step(y + 1, h))
            return false;
    }
    if (bpp == 8) {
        QByteArray pal(769, '\0');
        pal[0] = 12;
        for (int i = 0; i < std::min(256, src.img.colorCount()); ++i) {
            const QRgb c = src.img.color(i);
            pal[1 + 3 * i] = char(qRed(c));
            pal[2 + 3 * i] = char(qGreen(c));
            pal[3 + 3 * i] = char(qBlue(c));
        }
        if (std::fwrite(pal.constData(), 1, 769, f) != 769)
            return false;
    }
    return file.Commit();
}

} // namespace

} // namespace ik

using namespace ik;

extern "C" {

namespace {

// The end of a save: the reason is the saver's, or that there is no image.
int Saved(Call& call, const Image* im, bool ok) {
    if (!im)
        return call.Done(false, IK_ERR_ARGUMENT, "no such image");
    return call.Done(ok, IK_ERR_WRITE, "the file cannot be written");
}

} // namespace

int IKBmpFileSave(const char* path, IKHANDLE image, int, int, const char* caption,
                  const char* message, const char* button) {
    Call call;
    const Image* im = Get(image);
    Progress progress(caption, message, button);
    return Saved(call, im, im && ik::SaveBmp(path, *im, progress));
}

int IKJpegFileSave(const char* path, IKHANDLE image, int progressive, int quality, int subsampling,
                   const char* text, int, const char* caption, const char* message,
                   const char* button) {
    Call call;
    const Image* im = Get(image);
    Progress progress(caption, message, button);
    return Saved(call, im,
                 im && ik::SaveJpeg(path, *im, progressive, quality, subsampling, text, progress));
}

int IKTiffFileSave(const char* path, IKHANDLE image, int compression, int, int, const char* text,
                   int, int, const char* caption, const char* message, const char* button) {
    Call call;
    const Image* im = Get(image);
    Progress progress(caption, message, button);
    return Saved(call, im, im && ik::SaveTiff(path, *im, compression, text, progress));
}

int IKGifFileSave(const char* path, IKHANDLE image, int interlaced, int transparent, int red,
                  int green, int blue, int, int, const char* text, int, const char* caption,
                  const char* message, const char* button) {
    Call call;
    const Image* im = Get(image);
    Progress progress(caption, message, button);
    return Saved(call, im,
                 im && ik::SaveGif(path, *im, interlaced, transparent, red & 0xFF, green & 0xFF,
                                   blue & 0xFF, text, progress));
}

int IKPcxFileSave(const char* path, IKHANDLE image, int, const char* caption, const char* message,
                  const char* button) {
    Call call;
    const Image* im = Get(image);
    Progress progress(caption, message, button);
    return Saved(call, im, im && ik::SavePcx(path, *im, progress));
}

int IKPngFileSave(const char* path, IKHANDLE image, int interlaced, int transparent, int red,
                  int green, int blue, int, int, const char* caption, const char* message,
                  const char* button) {
    Call call;
    const Image* im = Get(image);
    Progress progress(caption, message, button);
    return Saved(call, im,
                 im && ik::SavePng(path, *im, interlaced, transparent, red & 0xFF, green & 0xFF,
                                   blue & 0xFF, progress));
}

int IKPngFileSaveText(const char* path, IKHANDLE image, int count, const char* const* keys,
                      const char* const* values, int mode) {
    Call call;
    const Image* im = Get(image);
    if (count < 0 || (count > 0 && (!keys || !values)))
        return call.Done(false, IK_ERR_ARGUMENT, "no keys");
    std::vector<std::pair<QByteArray, QByteArray>> pairs;
    for (int i = 0; i < count; ++i) {
        const QByteArray key(keys[i] ? keys[i] : "");
        // PNG keywords are 1 to 79 Latin-1 characters.
        if (key.isEmpty() || key.size() > 79)
            return call.Done(false, IK_ERR_ARGUMENT, "a text key of the wrong length");
        pairs.emplace_back(key, QByteArray(values[i] ? values[i] : ""));
    }
    Progress progress(nullptr, nullptr, nullptr);
    PngExtras extras;
    extras.keys = &pairs;
    extras.mode = mode >= 0 ? (mode & 07777) : -1;
    extras.durable = false;
    return Saved(call, im, im && SavePng(path, *im, 0, 0, 0, 0, 0, progress, extras));
}

} // extern "C"
