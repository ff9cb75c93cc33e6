// JPEG decoding through libjpeg-turbo, including reduced-scale decoding for thumbnails.
#include "file/Formats.h"

#include <csetjmp>
#include <cstdio>
#include <jerror.h>
#include <jpeglib.h>

namespace ik {

namespace {

// Progressive files with more scans than this are refused: a hostile file could otherwise make
// the decoder spend minutes on a small image.
constexpr int kMaxScans = 1000;

struct ErrorMgr {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool truncated = false;
};

void OnError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorMgr*>(cinfo->err)->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
    auto* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
    // A file that ends before its image does is a failure, not a grey-filled picture.
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        err->truncated = true;
}

struct ProgressMgr {
    jpeg_progress_mgr pub;
    Progress* progress;
};

void OnProgress(j_common_ptr cinfo) {
    auto* p = reinterpret_cast<ProgressMgr*>(cinfo->progress);
    if (cinfo->is_decompressor) {
        auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (d->input_scan_number > kMaxScans)
            std::longjmp(reinterpret_cast<ErrorMgr*>(cinfo->err)->jump, 1);
    }
    if (p->progress && !p->progress->Step(p->pub.completed_passes * int64_t(p->pub.pass_limit) +
                                              p->pub.pass_counter,
                                          int64_t(p->pub.total_passes) * p->pub.pass_limit))
        std::longjmp(reinterpret_cast<ErrorMgr*>(cinfo->err)->jump, 1);
}

struct JpegJob {
    const uchar* data;
    size_t size;
    int minWidth, minHeight;
    int64_t* origWidth;
    int64_t* origHeight;
    Image out;
    std::vector<uchar> cmykRow;
};

// The decoding itself. Every C++ object it touches lives in the caller's frame, so the jump back
// from libjpeg's error handler skips no destructor.
bool RunJpeg(jpeg_decompress_struct* cinfo, ErrorMgr* err, JpegJob* job) {
    if (setjmp(err->jump))
        return false;
    jpeg_mem_src(cinfo, job->data, static_cast<unsigned long>(job->size));
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK)
        return false;
    if (job->origWidth)
        *job->origWidth = cinfo->image_width;
    if (job->origHeight)
        *job->origHeight = cinfo->image_height;
    if (!SizeAllowed(cinfo->image_width, cinfo->image_height))
        return false;

    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    const bool grey = cinfo->jpeg_color_space == JCS_GRAYSCALE;
    cinfo->out_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;

    // The smallest scale whose output still covers the requested size.
    if (job->minWidth > 0 || job->minHeight > 0) {
        cinfo->scale_denom = 8;
        for (unsigned num = 1; num <= 8; ++num) {
            cinfo->scale_num = num;
            jpeg_calc_output_dimensions(cinfo);
            if (int64_t(cinfo->output_width) >= job->minWidth &&
                int64_t(cinfo->output_height) >= job->minHeight)
                break;
        }
    }
    jpeg_start_decompress(cinfo);
    const int w = int(cinfo->output_width), h = int(cinfo->output_height);
    Image& out = job->out;
    if (grey) {
        out.img = QImage(w, h, QImage::Format_Indexed8);
        out.img.setColorTable(GreyTable(256));
        out.bpp = 8;
    } else {
        out.img = QImage(w, h, QImage::Format_RGB888);
        out.bpp = 24;
    }
    if (out.img.isNull())
        return false;
    if (cmyk)
        job->cmykRow.resize(size_t(w) * 4);
    // Adobe writes CMYK inverted; others write it plain.
    const bool inverted = cinfo->saw_Adobe_marker;
    while (cinfo->output_scanline < cinfo->output_height && !err->truncated) {
        const int y = int(cinfo->output_scanline);
        JSAMPROW row = cmyk ? job->cmykRow.data() : out.img.scanLine(y);
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
            return false;
        if (!cmyk)
            continue;
        uchar* dst = out.img.scanLine(y);
        const uchar* src = job->cmykRow.data();
        for (int x = 0; x < w; ++x, src += 4) {
            int c = src[0], m = src[1], yy = src[2], k = src[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                yy = 255 - yy;
                k = 255 - k;
            }
            dst[x * 3] = uchar(c * k / 255);
            dst[x * 3 + 1] = uchar(m * k / 255);
            dst[x * 3 + 2] = uchar(yy * k / 255);
        }
    }
    // A file that ends before its image does is a failure, not a grey-filled picture.
    if (err->truncated || cinfo->output_scanline < cinfo->output_height)
        return false;
    jpeg_finish_decompress(cinfo);
    return !err->truncated;
}

} // namespace

Image DecodeJpeg(const uchar* data, size_t size, int minWidth, int minHeight, int64_t* origWidth,
                 int64_t* origHeight, Progress* progress) {
    jpeg_decompress_struct cinfo;
    ErrorMgr err;
    ProgressMgr prog{};
    JpegJob job{data, size, minWidth, minHeight, origWidth, origHeight, Image(), {}};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    err.pub.emit_message = OnMessage;
    jpeg_create_decompress(&cinfo);
    prog.pub.progress_monitor = OnProgress;
    prog.progress = progress;
    cinfo.progress = &prog.pub;
    const bool ok = RunJpeg(&cinfo, &err, &job);
    jpeg_destroy_decompress(&cinfo);
    return ok ? std::move(job.out) : Image();
}

} // namespace ik
