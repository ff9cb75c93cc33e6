// PNG decoding through libpng. Palette and grey images keep their depth; alpha is kept.
#include "core/Color.h"
#include "file/Formats.h"
#include "file/Shrink.h"

#include <cmath>
#include <csetjmp>
#include <png.h>
#include <sys/stat.h>

namespace ik {

namespace {

// How much picture data libpng reads at a time (its own default).
constexpr int64_t kPiece = 8192;

struct PngJob {
    std::FILE* file = nullptr;
    int64_t size = 0, pos = 0; // of the file, and how far it has been read
    Progress* progress = nullptr;
    Image out;
    std::vector<png_bytep> rows;
    int64_t rowCalls = 0, rowsTotal = 0; // rows read so far, over all passes
    bool stopped = false;
    // Reduction while decoding (a picture that is not interlaced): the factor, and the rows as
    // libpng hands them out.
    const Reduction* reduction = nullptr;
    int factor = 1;
    Shrinker shrinker;
    RowLayout layout = RowLayout::Indexed;
    int samples = 1;
    QVector<QRgb> table;
    // The colour space: an embedded profile, or the chromaticities (white, red, green, blue as
    // x, y) and gamma of a file without one that does not declare sRGB.
    QByteArray icc;
    bool described = false;
    double chromaticities[8] = {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    double gamma = 1 / 2.2;
};

// How far a file's gamma may be from 1/2.2 and still be taken for sRGB's.
constexpr double kSrgbGammaSlack = 0.01;

// Notes the colour space the file declares. Inside libpng's error frame: plain data only.
void ReadColourSpace(png_structp png, png_infop info, PngJob* job) {
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile && length > 0) {
        job->icc = QByteArray(reinterpret_cast<const char*>(profile), qsizetype(length));
        return;
    }
    if (png_get_valid(png, info, PNG_INFO_sRGB))
        return;
    double* c = job->chromaticities;
    const bool chrm =
        png_get_cHRM(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]) != 0;
    const bool gama = png_get_gAMA(png, info, &job->gamma) != 0;
    job->described = chrm || (gama && std::abs(job->gamma - 1 / 2.2) > kSrgbGammaSlack);
}

// The profile of the colour space the file declared (empty for sRGB).
QByteArray ProfileOf(const PngJob& job, const Image& image) {
    const bool grey =
        !image.IsNull() && image.img.format() == QImage::Format_Indexed8 && image.img.isGrayscale();
    if (!job.icc.isEmpty())
        return UsableProfile(job.icc, grey);
    if (!job.described)
        return QByteArray();
    const double* c = job.chromaticities;
    return ProfileFromChromaticities(c, c + 2, c + 4, c + 6, job.gamma);
}

// The row libpng decodes into when the picture is reduced, kept by each thread for the next file.
thread_local std::vector<uchar> t_row;

void OnPngError(png_structp png, png_const_charp message) {
    Fail(IK_ERR_DATA, QByteArray("PNG: ") + message);
    png_longjmp(png, 1);
}
void OnPngWarning(png_structp, png_const_charp) {}

void OnRead(png_structp png, png_bytep data, size_t length) {
    auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, job->file) != length)
        png_error(png, "the file ends early");
    job->pos += int64_t(length);
    // Never ask for picture data past the end of the file: a file that ends early then hands
    // zlib every byte it has, and only the row being decoded at its end is lost.
    png_set_compression_buffer_size(png,
                                    size_t(std::clamp<int64_t>(job->size - job->pos, 1, kPiece)));
}

// Sets up the decoding into the shrinker: palette and grey pictures come out as one byte a pixel,
// the rest as 8-bit RGB or RGBA.
bool SetUpReduced(png_structp png, png_infop info, PngJob* job, png_uint_32 w, png_uint_32 h,
                  int depth, int colour, bool trns) {
    bool alpha = false, trueColour32 = true;
    if (depth == 16)
        png_set_strip_16(png);
    if (colour == PNG_COLOR_TYPE_PALETTE) {
        png_colorp palette = nullptr;
        int count = 0;
        png_get_PLTE(png, info, &palette, &count);
        png_bytep trans = nullptr;
        int transCount = 0;
        if (trns)
            png_get_tRNS(png, info, &trans, &transCount, nullptr);
        job->table.resize(std::max(1, count));
        for (int i = 0; i < count; ++i) {
            const int a = i < transCount ? trans[i] : 255;
            job->table[i] = qRgba(palette[i].red, palette[i].green, palette[i].blue, a);
            alpha = alpha || a != 255;
        }
        if (depth < 8)
            png_set_packing(png);
        job->layout = RowLayout::Indexed;
        job->samples = 1;
    } else if (colour == PNG_COLOR_TYPE_GRAY && !trns) {
        if (depth < 8)
            png_set_expand_gray_1_2_4_to_8(png);
        job->table = GreyTable(256);
        job->layout = RowLayout::Indexed;
        job->samples = 1;
    } else {
        if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) {
            if (depth < 8)
                png_set_expand_gray_1_2_4_to_8(png);
            png_set_gray_to_rgb(png);
        }
        alpha = trns || (colour & PNG_COLOR_MASK_ALPHA);
        if (trns)
            png_set_tRNS_to_alpha(png);
        job->layout = alpha ? RowLayout::Rgba : RowLayout::Rgb;
        job->samples = alpha ? 4 : 3;
        trueColour32 = false;
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    if (rowBytes < size_t(w) * size_t(job->samples))
        return Fail(IK_ERR_DATA, "PNG: inconsistent row size");
    if (!job->shrinker.Start(int(w), int(h), job->factor, alpha, trueColour32))
        return Fail(IK_ERR_MEMORY, "PNG: out of memory");
    t_row.resize(rowBytes);
    job->rowsTotal = h;
    return true;
}

// Reads the header and sets up the image. Runs inside libpng's error frame: only plain data here.
bool SetUp(png_structp png, png_infop info, PngJob* job, int* passes) {
    png_set_user_limits(png, IK_MAX_SIDE, IK_MAX_SIDE);
    png_set_chunk_malloc_max(png, 16 * 1024 * 1024);
    // Every ancillary chunk but tRNS is skipped unread: text, profiles, palettes of suggestions
    // and the rest allocate what their header declares, up to 2 GB for a few bytes of file, and
    // the picture needs none of them. (Recognition reads the comment on its own.)
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    // Except the colour space's: the profile (which libpng inflates within the limit above), the
    // sRGB mark, the primaries and the gamma.
    static const png_byte colourChunks[] = "iCCP\0sRGB\0cHRM\0gAMA";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, colourChunks, 4);
    png_read_info(png, info);
    ReadColourSpace(png, info, job);
    png_uint_32 w = 0, h = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &w, &h, &depth, &colour, &interlace, nullptr, nullptr);
    if (!SizeAllowed(w, h))
        return Fail(IK_ERR_LIMIT, "PNG: the picture is larger than the library's limit");
    const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (job->reduction) {
        if (job->reduction->origWidth)
            *job->reduction->origWidth = w;
        if (job->reduction->origHeight)
            *job->reduction->origHeight = h;
        // Interlaced pictures are decoded whole: their passes need the full picture.
        if (interlace == PNG_INTERLACE_NONE)
            job->factor = ShrinkFactor(w, h, job->reduction->minWidth, job->reduction->minHeight);
    }
    if (job->factor > 1)
        return SetUpReduced(png, info, job, w, h, depth, colour, trns);
    Image& out = job->out;
    if (colour == PNG_COLOR_TYPE_PALETTE) {
        png_colorp palette = nullptr;
        int count = 0;
        png_get_PLTE(png, info, &palette, &count);
        png_bytep alpha = nullptr;
        int alphaCount = 0;
        if (trns)
            png_get_tRNS(png, info, &alpha, &alphaCount, nullptr);
        QVector<QRgb> table(std::max(1, count));
        for (int i = 0; i < count; ++i)
            table[i] = qRgba(palette[i].red, palette[i].green, palette[i].blue,
                             i < alphaCount ? alpha[i] : 255);
        if (depth < 8)
            png_set_packing(png);
        out.img = QImage(int(w), int(h), QImage::Format_Indexed8);
        out.img.setColorTable(table);
        out.bpp = depth == 1 ? 1 : depth <= 4 ? 4 : 8;
    } else if (colour == PNG_COLOR_TYPE_GRAY && !trns) {
        if (depth == 16)
            png_set_strip_16(png);
        if (depth < 8)
            png_set_packing(png);
        const int levels = depth < 8 ? 1 << depth : 256;
        out.img = QImage(int(w), int(h), QImage::Format_Indexed8);
        out.img.setColorTable(GreyTable(levels));
        out.bpp = depth == 1 ? 1 : depth <= 4 ? 4 : 8;
    } else {
        if (depth == 16)
            png_set_strip_16(png);
        if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) {
            if (depth < 8)
                png_set_expand_gray_1_2_4_to_8(png);
            png_set_gray_to_rgb(png);
        }
        const bool alpha = trns || (colour & PNG_COLOR_MASK_ALPHA);
        if (trns)
            png_set_tRNS_to_alpha(png);
        if (alpha) {
            png_set_bgr(png); // B, G, R, A in memory is QImage's ARGB32
            out.img = QImage(int(w), int(h), QImage::Format_ARGB32);
            out.bpp = 32;
        } else {
            out.img = QImage(int(w), int(h), QImage::Format_RGB888);
            out.bpp = 24;
        }
    }
    if (out.img.isNull())
        return Fail(IK_ERR_MEMORY, "PNG: out of memory");
    *passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) > size_t(out.img.bytesPerLine()))
        return Fail(IK_ERR_DATA, "PNG: inconsistent row size");
    job->rows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y)
        job->rows[y] = out.img.scanLine(int(y));
    job->rowsTotal = int64_t(h) * *passes;
    return true;
}

// Decodes the rows. An error after some rows were read leaves those in place (the caller shows
// them); one before any fails.
bool RunPng(png_structp png, png_infop info, PngJob* job) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    int passes = 1;
    if (!SetUp(png, info, job, &passes))
        return false;
    const png_uint_32 h = png_get_image_height(png, info);
    if (job->factor > 1) {
        for (png_uint_32 y = 0; y < h; ++y) {
            png_read_row(png, t_row.data(), nullptr);
            ++job->rowCalls;
            job->shrinker.AddRow(t_row.data(), job->layout, job->samples, &job->table);
        }
        png_read_end(png, nullptr);
        return true;
    }
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < h; ++y) {
            // Rows are read "as displayed": each pass fills the blocks that its pixels stand
            // for, so that a file that ends early shows its earlier passes enlarged.
            png_read_row(png, nullptr, job->rows[y]);
            ++job->rowCalls;
            if (job->progress && !job->progress->Step(job->rowCalls, job->rowsTotal)) {
                job->stopped = true;
                return false;
            }
        }
    }
    png_read_end(png, nullptr);
    return true;
}

} // namespace

Image DecodePng(const char* path, Progress* progress, const Reduction& reduction) {
    PngJob job;
    job.reduction = &reduction;
    job.file = std::fopen(path, "rb");
    job.progress = progress;
    struct stat st {};
    if (!job.file || ::fstat(fileno(job.file), &st) != 0) {
        if (job.file)
            std::fclose(job.file);
        Fail(IK_ERR_OPEN, "PNG: cannot open the file");
        return Image();
    }
    job.size = st.st_size;
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (png && info) {
        png_set_read_fn(png, &job, OnRead);
        ok = RunPng(png, info, &job);
    } else {
        Fail(IK_ERR_MEMORY, "PNG: out of memory");
    }
    png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
    std::fclose(job.file);
    if (job.factor > 1) {
        // A kept row buffer is no larger than the widest picture's row.
        if (t_row.capacity() > size_t(4) << 20)
            std::vector<uchar>().swap(t_row);
        if (!ok && job.rowCalls == 0)
            return Image();
        if (!ok) {
            job.shrinker.FillMissing();
            Note(IK_STATUS_TRUNCATED, "PNG: the file ends early; the rest of the picture is grey");
        }
        Image reduced = job.shrinker.Finish();
        reduced.icc = ProfileOf(job, reduced);
        return reduced;
    }
    if (!job.out.IsNull())
        job.out.icc = ProfileOf(job, job.out);
    if (ok)
        return std::move(job.out);
    // A file that ends (or breaks) after some of its rows: what was read, the rest grey. During
    // the first pass the rows from rowCalls on have nothing; after it, every row has something.
    if (!job.stopped && job.rowCalls > 0 && !job.out.IsNull()) {
        const int h = job.out.img.height();
        if (job.rowCalls < job.rowsTotal) {
            const int from = int(std::min<int64_t>(job.rowCalls, h));
            FillMissing(job.out, QRect(0, from, job.out.img.width(), h - from));
            Note(IK_STATUS_TRUNCATED, "PNG: the file ends early; the rest of the picture is grey");
        }
        return std::move(job.out);
    }
    return Image();
}

} // namespace ik
