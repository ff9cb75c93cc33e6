// PNG decoding through libpng. Palette and grey images keep their depth; alpha is kept.
#include "file/Formats.h"

#include <csetjmp>
#include <png.h>

namespace ik {

namespace {

struct PngJob {
    std::FILE* file;
    Progress* progress;
    Image out;
    std::vector<png_bytep> rows;
    int64_t rowsDone = 0, rowsTotal = 0;
};

void OnPngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnPngWarning(png_structp, png_const_charp) {}

void OnRead(png_structp png, png_bytep data, size_t length) {
    auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, job->file) != length)
        png_error(png, "read past the end of the file");
}

void OnRow(png_structp png, png_uint_32, int) {
    auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
    if (!job)
        return;
    ++job->rowsDone;
    if (job->progress && !job->progress->Step(job->rowsDone, job->rowsTotal))
        png_longjmp(png, 1);
}

// Runs inside libpng's error frame: only plain data lives here.
bool RunPng(png_structp png, png_infop info, PngJob* job) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_user_limits(png, IK_MAX_SIDE, IK_MAX_SIDE);
    png_set_chunk_malloc_max(png, 16 * 1024 * 1024);
    png_read_info(png, info);
    png_uint_32 w = 0, h = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &w, &h, &depth, &colour, &interlace, nullptr, nullptr);
    if (!SizeAllowed(w, h))
        return false;
    const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    Image& out = job->out;
    QImage::Format format;
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
        format = QImage::Format_Indexed8;
        out.img = QImage(int(w), int(h), format);
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
        return false;
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) > size_t(out.img.bytesPerLine()))
        return false;
    job->rows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y)
        job->rows[y] = out.img.scanLine(int(y));
    job->rowsTotal = int64_t(h) * (interlace ? 7 : 1);
    png_read_image(png, job->rows.data());
    png_read_end(png, nullptr);
    return true;
}

} // namespace

Image DecodePng(const char* path, Progress* progress) {
    PngJob job{std::fopen(path, "rb"), progress, Image(), {}};
    if (!job.file)
        return Image();
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (png && info) {
        png_set_read_fn(png, &job, OnRead);
        png_set_read_status_fn(png, OnRow);
        ok = RunPng(png, info, &job);
    }
    png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
    std::fclose(job.file);
    return ok ? std::move(job.out) : Image();
}

} // namespace ik
