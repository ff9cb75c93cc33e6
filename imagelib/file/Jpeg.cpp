// JPEG decoding through libjpeg-turbo, including reduced-scale decoding for thumbnails.
#include "core/Color.h"
#include "file/Formats.h"

#include <cstdlib>

#include <csetjmp>
#include <cstdio>
#include <jerror.h>
#include <jpeglib.h>

namespace ik {

namespace {

struct ErrorMgr {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool truncated = false;
};

// libjpeg's message for its current error or warning.
QByteArray MessageOf(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX] = {};
    (*cinfo->err->format_message)(cinfo, text);
    return QByteArray("JPEG: ") + text;
}

void OnError(j_common_ptr cinfo) {
    Fail(IK_ERR_DATA, MessageOf(cinfo));
    std::longjmp(reinterpret_cast<ErrorMgr*>(cinfo->err)->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
    // The file ends before the picture does: libjpeg goes on with empty data, which decodes grey.
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        reinterpret_cast<ErrorMgr*>(cinfo->err)->truncated = true;
}

struct ProgressMgr {
    jpeg_progress_mgr pub;
    Progress* progress;
    int64_t pixels; // of the full-size picture
};

void OnProgress(j_common_ptr cinfo) {
    auto* p = reinterpret_cast<ProgressMgr*>(cinfo->progress);
    auto* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
    // The scans were counted before decoding began; this only guards against a count that
    // libjpeg's reading of the file would exceed.
    if (cinfo->is_decompressor) {
        const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (int64_t(d->input_scan_number) * p->pixels > IK_MAX_SCAN_PIXELS) {
            Fail(IK_ERR_LIMIT, "JPEG: more scans than the decoding budget allows for its size");
            std::longjmp(err->jump, 1);
        }
    }
    if (p->progress && !p->progress->Step(p->pub.completed_passes * int64_t(p->pub.pass_limit) +
                                              p->pub.pass_counter,
                                          int64_t(p->pub.total_passes) * p->pub.pass_limit))
        std::longjmp(err->jump, 1);
}

// The number of scans from the first scan's data at pos to the end of the image: 1 plus the
// start-of-scan markers that follow. Marker segments are skipped by their length, so that no byte
// inside one is taken for a marker; in entropy-coded data 0xFF is followed by 0 or a restart.
int64_t CountScans(const uchar* data, size_t size, size_t pos) {
    int64_t scans = 1;
    while (pos + 1 < size) {
        const void* ff = std::memchr(data + pos, 0xFF, size - pos);
        if (!ff)
            break;
        pos = size_t(static_cast<const uchar*>(ff) - data);
        if (pos + 1 >= size)
            break;
        const uchar m = data[pos + 1];
        if (m == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (m == 0x00 || m == 0x01 || (m >= 0xD0 && m <= 0xD8)) { // stuffed byte, standalone
            pos += 2;
            continue;
        }
        if (m == 0xD9) // end of image
            break;
        if (pos + 3 >= size)
            break;
        if (m == 0xDA)
            ++scans;
        pos += 2 + size_t(data[pos + 2] << 8 | data[pos + 3]);
    }
    return scans;
}

struct JpegJob {
    const uchar* data;
    size_t size;
    const JpegRequest* req;
    Image out;
    std::vector<uchar> cmykRow;
    QByteArray icc; // the embedded colour profile, as its APP2 segments hold it
};

// The decoding itself. Every C++ object it touches lives in the caller's frame, so the jump back
// from libjpeg's error handler skips no destructor.
bool RunJpeg(jpeg_decompress_struct* cinfo, ErrorMgr* err, ProgressMgr* prog, JpegJob* job) {
    if (setjmp(err->jump))
        return false;
    const JpegRequest& req = *job->req;
    jpeg_mem_src(cinfo, job->data, static_cast<unsigned long>(job->size));
    // The colour profile's APP2 segments are kept for libjpeg to put together in their sequence;
    // a profile with a segment missing, repeated or out of range is not taken.
    jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK)
        return Fail(IK_ERR_DATA, "JPEG: no picture in the file");
    JOCTET* icc = nullptr;
    unsigned int iccSize = 0;
    if (jpeg_read_icc_profile(cinfo, &icc, &iccSize) && icc) {
        job->icc = QByteArray(reinterpret_cast<const char*>(icc), qsizetype(iccSize));
        std::free(icc);
    }
    if (req.origWidth)
        *req.origWidth = cinfo->image_width;
    if (req.origHeight)
        *req.origHeight = cinfo->image_height;
    const int64_t w0 = cinfo->image_width, h0 = cinfo->image_height;
    if (!SizeAllowed(w0, h0))
        return Fail(IK_ERR_LIMIT, "JPEG: the picture is larger than the library's limit");
    if (req.maxSide > 0 && (w0 > req.maxSide || h0 > req.maxSide))
        return Fail(IK_ERR_LIMIT, "JPEG: the picture is larger than it may be here");
    // jpeg_read_header stops after the first scan's header: what follows is its data.
    const size_t scanData = job->size - cinfo->src->bytes_in_buffer;
    if (err->truncated || scanData >= job->size)
        return Fail(IK_ERR_DATA, "JPEG: the file ends before its picture data");
    // Every scan of a progressive (or multi-scan) file passes over the whole picture: refuse a
    // file whose scans would cost more than a real one ever does, before allocating for it.
    prog->pixels = w0 * h0;
    if (cinfo->progressive_mode || cinfo->comps_in_scan < cinfo->num_components) {
        const int64_t scans = CountScans(job->data, job->size, scanData);
        if (scans * prog->pixels > IK_MAX_SCAN_PIXELS)
            return Fail(IK_ERR_LIMIT, QStringLiteral("JPEG: %1 scans of %2 × %3 pixels exceed the "
                                                     "decoding budget")
                                          .arg(scans)
                                          .arg(w0)
                                          .arg(h0)
                                          .toUtf8());
    }

    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    const bool grey = cinfo->jpeg_color_space == JCS_GRAYSCALE;
    cinfo->out_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;

    // The smallest scale whose output still covers the requested size.
    if (req.minWidth > 0 || req.minHeight > 0) {
        cinfo->scale_denom = 8;
        for (unsigned num = 1; num <= 8; ++num) {
            cinfo->scale_num = num;
            jpeg_calc_output_dimensions(cinfo);
            if (int64_t(cinfo->output_width) >= req.minWidth &&
                int64_t(cinfo->output_height) >= req.minHeight)
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
        return Fail(IK_ERR_MEMORY, "JPEG: out of memory");
    if (cmyk)
        job->cmykRow.resize(size_t(w) * 4);
    // Adobe writes CMYK inverted; others write it plain.
    const bool inverted = cinfo->saw_Adobe_marker;
    // Rows past the end of a truncated file come out of libjpeg as empty blocks: mid-grey.
    while (cinfo->output_scanline < cinfo->output_height) {
        const int y = int(cinfo->output_scanline);
        JSAMPROW row = cmyk ? job->cmykRow.data() : out.img.scanLine(y);
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
            return Fail(IK_ERR_DATA, "JPEG: the picture data cannot be read");
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
    jpeg_finish_decompress(cinfo);
    if (err->truncated)
        Note(IK_STATUS_TRUNCATED, "JPEG: the file ends early; the rest of the picture is grey");
    return true;
}

} // namespace

Image DecodeJpeg(const uchar* data, size_t size, const JpegRequest& req) {
    jpeg_decompress_struct cinfo;
    ErrorMgr err;
    ProgressMgr prog{};
    JpegJob job{data, size, &req, Image(), {}, {}};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    err.pub.emit_message = OnMessage;
    jpeg_create_decompress(&cinfo);
    prog.pub.progress_monitor = OnProgress;
    prog.progress = req.progress;
    cinfo.progress = &prog.pub;
    const bool ok = RunJpeg(&cinfo, &err, &prog, &job);
    jpeg_destroy_decompress(&cinfo);
    if (!ok)
        return Image();
    job.out.icc = UsableProfile(job.icc, job.out.bpp == 8);
    return std::move(job.out);
}

} // namespace ik
