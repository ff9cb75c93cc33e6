// raw.spi: camera RAW files through LibRaw. The whole picture is LibRaw's processing (the camera's
// white balance, 8 bits, sRGB, the file's orientation applied). For a thumbnail the preview the
// camera stored in the file is used when it is large enough: a JPEG preview decoded by libjpeg at
// the smallest DCT scale that is large enough, a bitmap preview as it is, either then reduced to
// the box; without one, half-size processing (no demosaicing) when that is large enough. The
// information text gives the camera, the exposure and the date.
#include "SpiPlugin.h"

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <libraw/libraw.h>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

// One format per extension: a host matches an extension against each pattern as a whole.
const char* const kTexts[] = {"00IN",  "Camera RAW plug-in for Quilla (LibRaw)",
                              "*.dng", "Adobe DNG",
                              "*.cr2", "Canon RAW (CR2)",
                              "*.cr3", "Canon RAW (CR3)",
                              "*.crw", "Canon RAW (CRW)",
                              "*.nef", "Nikon RAW (NEF)",
                              "*.nrw", "Nikon RAW (NRW)",
                              "*.arw", "Sony RAW (ARW)",
                              "*.sr2", "Sony RAW (SR2)",
                              "*.srf", "Sony RAW (SRF)",
                              "*.orf", "Olympus RAW (ORF)",
                              "*.rw2", "Panasonic RAW (RW2)",
                              "*.raf", "Fujifilm RAW (RAF)",
                              "*.pef", "Pentax RAW (PEF)",
                              "*.ptx", "Pentax RAW (PTX)",
                              "*.srw", "Samsung RAW (SRW)",
                              "*.3fr", "Hasselblad RAW (3FR)",
                              "*.fff", "Hasselblad RAW (FFF)",
                              "*.iiq", "Phase One RAW (IIQ)",
                              "*.mos", "Leaf RAW (MOS)",
                              "*.mef", "Mamiya RAW (MEF)",
                              "*.mrw", "Minolta RAW (MRW)",
                              "*.x3f", "Sigma RAW (X3F)",
                              "*.erf", "Epson RAW (ERF)",
                              "*.kdc", "Kodak RAW (KDC)",
                              "*.dcr", "Kodak RAW (DCR)",
                              "*.rwl", "Leica RAW (RWL)",
                              "*.raw", "Camera RAW (RAW)",
                              "*.gpr", "GoPro RAW (GPR)",
                              "*.rw1", "Leica RAW (RW1)"};

// Whether the file's extension is one of the patterns above.
bool RawExtension(const char* filename) {
    if (!filename)
        return false;
    const char* dot = std::strrchr(filename, '.');
    if (!dot || std::strchr(dot, '/') || std::strlen(dot + 1) > 4)
        return false;
    std::string ext = "*.";
    for (const char* p = dot + 1; *p; ++p)
        ext += char(std::tolower(static_cast<unsigned char>(*p)));
    for (size_t i = 2; i < std::size(kTexts); i += 2)
        if (ext == kTexts[i])
            return true;
    return false;
}

// The heads of RAW formats that say so themselves, whatever the file is called.
bool RawSignature(const uint8_t* p) {
    return std::memcmp(p, "FUJIFILMCCD-RAW", 15) == 0 ||                        // RAF
           (std::memcmp(p + 4, "ftypcrx ", 8) == 0) ||                          // CR3
           std::memcmp(p, "IIRO", 4) == 0 || std::memcmp(p, "IIRS", 4) == 0 ||  // ORF
           std::memcmp(p, "MMOR", 4) == 0 || std::memcmp(p, "IIU\0", 4) == 0 || // RW2
           std::memcmp(p + 6, "HEAPCCDR", 8) == 0 ||                            // CRW
           std::memcmp(p, "\0MRM", 4) == 0 || std::memcmp(p, "FOVb", 4) == 0;
}

bool TiffHead(const uint8_t* p) {
    return std::memcmp(p, "II*\0", 4) == 0 || std::memcmp(p, "MM\0*", 4) == 0;
}

int Result(int libraw) {
    switch (libraw) {
    case LIBRAW_SUCCESS:
        return SPI_ALL_RIGHT;
    case LIBRAW_FILE_UNSUPPORTED:
        return SPI_NOT_SUPPORT;
    case LIBRAW_UNSUFFICIENT_MEMORY:
    case LIBRAW_TOO_BIG:
        return SPI_NO_MEMORY;
    case LIBRAW_IO_ERROR:
        return SPI_FILE_READ_ERROR;
    case LIBRAW_CANCELLED_BY_CALLBACK:
        return SPI_ABORT;
    default:
        return SPI_OUT_OF_ORDER;
    }
}

// A LibRaw instance with the file opened: from the file itself (LibRaw reads only what it needs),
// or from the bytes in memory.
struct Raw {
    std::unique_ptr<LibRaw> lr;
    spi::Input in;
    const char* path = nullptr; // the file LibRaw reads, or null when it reads in's bytes

    int Open(const char* buf, intptr_t len, unsigned int flag) {
        if (!buf || len < 0)
            return SPI_END_ERROR;
        try {
            lr = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_MEMERR_CALLBACK |
                                          LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
        } catch (...) {
            return SPI_NO_MEMORY;
        }
        int r;
        if ((flag & SPI_INPUT_MASK) != SPI_INPUT_MEMORY && len == 0) {
            r = lr->open_file(buf);
            path = buf;
        } else {
            if (const int e = in.Read(buf, len, flag))
                return e;
            r = lr->open_buffer(const_cast<uint8_t*>(in.Data()), in.Size());
        }
        if (r != LIBRAW_SUCCESS)
            return Result(r);
        const libraw_image_sizes_t& s = lr->imgdata.sizes;
        if (!spi::SizeAllowed(s.raw_width, s.raw_height) || !spi::SizeAllowed(s.width, s.height))
            return SPI_NO_MEMORY;
        return SPI_ALL_RIGHT;
    }

    int Flip() const { return lr->imgdata.sizes.flip; }
    // The picture's size as shown (the processed size, turned by the orientation).
    spi::Size Shown() const {
        const libraw_image_sizes_t& s = lr->imgdata.sizes;
        int w = s.width, h = s.height;
        if (s.pixel_aspect > 0.001 && s.pixel_aspect < 0.999)
            h = int(h / s.pixel_aspect + 0.5);
        else if (s.pixel_aspect > 1.001)
            w = int(w * s.pixel_aspect + 0.5);
        if (Flip() & 4)
            std::swap(w, h);
        return {w, h};
    }
};

// Pixels of w x h, n bytes each (R, G, B or grey), turned by LibRaw's orientation flags into
// dib: bit 4 exchanges rows and columns, then bit 2 turns the rows upside down and bit 1 the
// columns round.
int Oriented(const uint8_t* px, int w, int h, int n, size_t stride, int flip, spi::Dib& dib) {
    const int ow = flip & 4 ? h : w, oh = flip & 4 ? w : h;
    if (const int r = dib.Allocate(ow, oh, false))
        return r;
    std::vector<uint8_t> row(size_t(ow) * 3);
    for (int y = 0; y < oh; ++y) {
        for (int x = 0; x < ow; ++x) {
            int sy = y, sx = x;
            if (flip & 4)
                std::swap(sy, sx);
            if (flip & 2)
                sy = h - 1 - sy;
            if (flip & 1)
                sx = w - 1 - sx;
            const uint8_t* s = px + size_t(sy) * stride + size_t(sx) * size_t(n);
            uint8_t* d = &row[size_t(x) * 3];
            d[0] = s[0];
            d[1] = n >= 3 ? s[1] : s[0];
            d[2] = n >= 3 ? s[2] : s[0];
        }
        dib.PutRgb(y, 0, ow, row.data(), 3);
    }
    return SPI_ALL_RIGHT;
}

// Where a JPEG preview's bytes come from: the file, read in pieces as libjpeg asks for them (a
// full-size preview is several megabytes, which need not be copied first), or memory.
struct JpegSource {
    jpeg_source_mgr mgr;
    std::FILE* file;
    size_t left;
    JOCTET buffer[65536];
};

void SourceInit(j_decompress_ptr) {}
void SourceTerm(j_decompress_ptr) {}

boolean SourceFill(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<JpegSource*>(cinfo->src);
    const size_t n = std::fread(src->buffer, 1, std::min(src->left, sizeof src->buffer), src->file);
    src->left -= n;
    src->mgr.next_input_byte = src->buffer;
    src->mgr.bytes_in_buffer = n;
    if (n == 0) {
        // Cut short: an end marker lets libjpeg finish with what it has, as its own sources do.
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        src->mgr.bytes_in_buffer = 2;
    }
    return TRUE;
}

void SourceSkip(j_decompress_ptr cinfo, long count) {
    auto* src = reinterpret_cast<JpegSource*>(cinfo->src);
    if (count <= 0)
        return;
    if (size_t(count) <= src->mgr.bytes_in_buffer) {
        src->mgr.next_input_byte += count;
        src->mgr.bytes_in_buffer -= size_t(count);
        return;
    }
    size_t skip = size_t(count) - src->mgr.bytes_in_buffer;
    src->mgr.bytes_in_buffer = 0;
    skip = std::min(skip, src->left);
    if (std::fseek(src->file, long(skip), SEEK_CUR) != 0)
        skip = src->left;
    src->left -= skip;
}

// libjpeg's errors end the decoding through a jump back.
struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void JpegFail(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

void JpegQuiet(j_common_ptr, int) {}

// The reduction of the DCT (1, 2, 4 or 8) to decode a JPEG preview of w x h at, 0 to leave it.
using ChooseScale = int (*)(int w, int h, const void* context);

// Decodes the JPEG preview (from file, or else the size bytes at data) at the reduction choose
// gives: straight into direct when it is given (a preview that needs no turning), else into px
// as rows of w * 3 bytes, R, G, B. Plain data only between setjmp and longjmp.
bool JpegDecode(std::FILE* file, size_t size, const uint8_t* data, ChooseScale choose,
                const void* context, spi::Dib* direct, std::vector<uint8_t>& px, int& w, int& h) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    JpegSource* src = nullptr;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegFail;
    err.mgr.emit_message = JpegQuiet;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    if (file) {
        src = static_cast<JpegSource*>((*cinfo.mem->alloc_small)(
            reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_PERMANENT, sizeof(JpegSource)));
        src->mgr.init_source = SourceInit;
        src->mgr.fill_input_buffer = SourceFill;
        src->mgr.skip_input_data = SourceSkip;
        src->mgr.resync_to_restart = jpeg_resync_to_restart;
        src->mgr.term_source = SourceTerm;
        src->mgr.next_input_byte = nullptr;
        src->mgr.bytes_in_buffer = 0;
        src->file = file;
        src->left = size;
        cinfo.src = &src->mgr;
    } else {
        jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    }
    jpeg_read_header(&cinfo, TRUE);
    const int denom = choose(int(cinfo.image_width), int(cinfo.image_height), context);
    if (denom == 0 || (cinfo.num_components != 1 && cinfo.num_components != 3)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    // Grey is widened by libjpeg-turbo too.
    cinfo.out_color_space = direct ? JCS_EXT_BGR : JCS_RGB;
    cinfo.scale_num = 1;
    cinfo.scale_denom = unsigned(denom);
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&cinfo);
    w = int(cinfo.output_width);
    h = int(cinfo.output_height);
    if (!spi::SizeAllowed(w, h) || cinfo.output_components != 3) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    if (direct) {
        if (direct->Allocate(w, h, false) != SPI_ALL_RIGHT) {
            jpeg_destroy_decompress(&cinfo);
            return false;
        }
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = direct->Row(int(cinfo.output_scanline));
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
    } else {
        px.resize(size_t(w) * size_t(h) * 3); // within the limits checked above
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = &px[size_t(cinfo.output_scanline) * size_t(w) * 3];
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

// The processed picture handed over by LibRaw, into dib.
int ProcessInto(Raw& raw, bool half, spi::Dib& dib) {
    libraw_output_params_t& o = raw.lr->imgdata.params;
    o.use_camera_wb = 1;
    o.output_bps = 8;
    o.output_color = 1; // sRGB
    o.half_size = half ? 1 : 0;
    if (const int r = raw.lr->unpack())
        return Result(r);
    if (const int r = raw.lr->dcraw_process())
        return Result(r);
    int err = 0;
    std::unique_ptr<libraw_processed_image_t, decltype(&LibRaw::dcraw_clear_mem)> image(
        raw.lr->dcraw_make_mem_image(&err), LibRaw::dcraw_clear_mem);
    if (!image)
        return err ? Result(err) : SPI_NO_MEMORY;
    const int w = image->width, h = image->height, n = image->colors;
    if (image->type != LIBRAW_IMAGE_BITMAP || image->bits != 8 || (n != 3 && n != 1) ||
        size_t(image->data_size) < size_t(w) * size_t(h) * size_t(n))
        return SPI_OUT_OF_ORDER;
    // Already turned by LibRaw.
    return Oriented(image->data, w, h, n, size_t(w) * size_t(n), 0, dib);
}

// What decides the DCT reduction of a JPEG preview: the picture's size as shown, the box, and
// the orientation that turns the preview.
struct Need {
    spi::Size shown;
    int boxWidth, boxHeight, flip;

    spi::Size Turned(int w, int h) const { return flip & 4 ? spi::Size{h, w} : spi::Size{w, h}; }
    bool Enough(int w, int h) const {
        return spi::LargeEnough(Turned(w, h), shown.width, shown.height, boxWidth, boxHeight);
    }
};

// The largest reduction whose picture is still large enough; 0 when even the whole preview is
// too small.
int ChooseDenominator(int w, int h, const void* context) {
    const auto* need = static_cast<const Need*>(context);
    for (const int d : {8, 4, 2, 1})
        if (need->Enough((w + d - 1) / d, (h + d - 1) / d))
            return d;
    return 0;
}

// A JPEG preview where LibRaw found one, decoded from where it lies; false when there is none or
// it is too small.
bool JpegPreviewInto(const Raw& raw, const Need& need, spi::Dib& dib, int& result) {
    const int64_t offset = raw.lr->get_internal_data_pointer()->internal_data.toffset;
    const size_t length = raw.lr->imgdata.thumbnail.tlength;
    if (offset <= 0 || length < 4)
        return false;
    // Decoded into a picture of its own: a failure half-way leaves dib untouched.
    spi::Dib direct;
    spi::Dib* into = need.flip == 0 ? &direct : nullptr;
    std::vector<uint8_t> px;
    int w = 0, h = 0;
    bool ok = false;
    if (raw.path) {
        std::FILE* f = std::fopen(raw.path, "rb");
        if (!f)
            return false;
        uint8_t sig[2] = {};
        ok = fseeko(f, off_t(offset), SEEK_SET) == 0 && std::fread(sig, 1, 2, f) == 2 &&
             sig[0] == 0xFF && sig[1] == 0xD8 && fseeko(f, off_t(offset), SEEK_SET) == 0 &&
             JpegDecode(f, length, nullptr, ChooseDenominator, &need, into, px, w, h);
        std::fclose(f);
    } else if (uint64_t(offset) + 2 <= raw.in.Size()) {
        const uint8_t* data = raw.in.Data() + offset;
        const size_t size = std::min(length, raw.in.Size() - size_t(offset));
        ok = data[0] == 0xFF && data[1] == 0xD8 &&
             JpegDecode(nullptr, size, data, ChooseDenominator, &need, into, px, w, h);
    }
    if (!ok)
        return false;
    if (into) {
        dib = std::move(direct);
        result = SPI_ALL_RIGHT;
    } else {
        result = Oriented(px.data(), w, h, 3, size_t(w) * 3, need.flip, dib);
    }
    return true;
}

// The preview (turned as shown) reduced to what the box needs: a full-size preview is still several
// times larger at libjpeg's smallest scale, and a smaller picture is cheaper to hand over and to
// fit. Never smaller than the whole picture fitted into the box.
int Reduced(const Need& need, spi::Dib& dib) {
    const int h = int(dib.BitsSize() / dib.Stride());
    spi::Size size = spi::FitInto(dib.Width(), h, need.boxWidth, need.boxHeight);
    const spi::Size least =
        spi::FitInto(need.shown.width, need.shown.height, need.boxWidth, need.boxHeight);
    size.width = std::min(std::max(size.width, least.width), dib.Width());
    size.height = std::min(std::max(size.height, least.height), h);
    // A failure leaves the preview as it is, which is large enough too.
    spi::ReduceTo(dib, size);
    return SPI_ALL_RIGHT;
}

// The embedded preview, when it is large enough: SPI_ALL_RIGHT with dib filled, else another
// result and dib untouched.
int PreviewInto(Raw& raw, int boxWidth, int boxHeight, spi::Dib& dib) {
    const libraw_thumbnail_t& t = raw.lr->imgdata.thumbnail;
    const Need need{raw.Shown(), boxWidth, boxHeight, raw.Flip()};
    // The size LibRaw read from the file's directory, where it has one, spares reading a preview
    // that is too small.
    if (t.twidth > 0 && t.theight > 0 && !need.Enough(t.twidth, t.theight))
        return SPI_NOT_SUPPORT;
    int result = SPI_NOT_SUPPORT;
    if (JpegPreviewInto(raw, need, dib, result))
        return result == SPI_ALL_RIGHT ? Reduced(need, dib) : result;
    // Other previews (bitmaps) as LibRaw unpacks them.
    if (raw.lr->unpack_thumb() != LIBRAW_SUCCESS || !t.thumb || t.tlength == 0 ||
        t.tformat != LIBRAW_THUMBNAIL_BITMAP)
        return SPI_NOT_SUPPORT;
    const int n = t.tcolors;
    if ((n != 3 && n != 1) || !spi::SizeAllowed(t.twidth, t.theight) ||
        t.tlength < size_t(t.twidth) * t.theight * size_t(n) || !need.Enough(t.twidth, t.theight))
        return SPI_NOT_SUPPORT;
    if (const int r = Oriented(reinterpret_cast<const uint8_t*>(t.thumb), t.twidth, t.theight, n,
                               size_t(t.twidth) * size_t(n), need.flip, dib))
        return r;
    return Reduced(need, dib);
}

// "Name=value" lines for what the image information shows.
std::string InfoText(const LibRaw& lr) {
    const libraw_iparams_t& id = lr.imgdata.idata;
    const libraw_imgother_t& o = lr.imgdata.other;
    std::string text;
    auto line = [&text](const char* name, const std::string& value) {
        if (!value.empty())
            text += std::string(name) + "=" + value + "\n";
    };
    auto number = [](const char* format, double v) {
        char buf[64];
        std::snprintf(buf, sizeof buf, format, v);
        return std::string(buf);
    };
    line("Make", id.make);
    line("Model", id.model);
    if (o.timestamp > 0) {
        // LibRaw read the camera's local time as this computer's local time: turned back alike.
        std::tm tm{};
        const time_t t = o.timestamp;
        if (localtime_r(&t, &tm)) {
            char buf[32];
            std::strftime(buf, sizeof buf, "%Y:%m:%d %H:%M:%S", &tm);
            line("DateTimeOriginal", buf);
        }
    }
    if (o.shutter > 0 && o.shutter < 1e5)
        line("ExposureTime",
             o.shutter < 1 ? number("1/%.0f", 1 / o.shutter) : number("%g", double(o.shutter)));
    if (o.aperture > 0 && o.aperture < 1e3)
        line("FNumber", number("%.1f", double(o.aperture)));
    if (o.focal_len > 0 && o.focal_len < 1e5)
        line("FocalLength", number("%g", double(o.focal_len)));
    if (o.iso_speed > 0 && o.iso_speed < 1e7)
        line("ISOSpeedRatings", number("%.0f", double(o.iso_speed)));
    return text;
}

int Picture(const char* buf, intptr_t len, unsigned int flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
            SPI_PROGRESS progress, intptr_t lData, int boxWidth, int boxHeight) {
    if (!pHBInfo || !pHBm)
        return SPI_END_ERROR;
    if (spi::Stop(progress, 0, 1, lData))
        return SPI_ABORT;
    Raw raw;
    if (const int r = raw.Open(buf, len, flag))
        return r;
    spi::Dib dib;
    int r = SPI_NOT_SUPPORT;
    try {
        if (boxWidth > 0 && boxHeight > 0) {
            r = PreviewInto(raw, boxWidth, boxHeight, dib);
            if (r != SPI_ALL_RIGHT) {
                // Half the size without demosaicing, when that is enough.
                const spi::Size shown = raw.Shown();
                const bool half = spi::LargeEnough({shown.width / 2, shown.height / 2}, shown.width,
                                                   shown.height, boxWidth, boxHeight);
                dib = spi::Dib();
                r = ProcessInto(raw, half, dib);
            }
        } else {
            r = ProcessInto(raw, false, dib);
        }
    } catch (const std::bad_alloc&) {
        r = SPI_NO_MEMORY;
    } catch (...) {
        r = SPI_OUT_OF_ORDER;
    }
    if (r != SPI_ALL_RIGHT)
        return r;
    if (spi::Stop(progress, 1, 1, lData))
        return SPI_ABORT;
    dib.HandOver(pHBInfo, pHBm);
    return SPI_ALL_RIGHT;
}

} // namespace

extern "C" {

int GetPluginInfo(int infono, char* buf, int buflen) {
    return spi::PluginInfo(kTexts, int(std::size(kTexts)), infono, buf, buflen);
}

int IsSupported(const char* filename, uintptr_t dw) {
    const uint8_t* head = spi::Head(dw);
    if (!head)
        return 0;
    // Most RAW formats are TIFF files inside: those are told from TIFF pictures by their name.
    return RawSignature(head) || (TiffHead(head) && RawExtension(filename)) ? 1 : 0;
}

int GetPictureInfo(const char* buf, intptr_t len, unsigned int flag, SPI_PICTUREINFO* lpInfo) {
    if (!lpInfo)
        return SPI_END_ERROR;
    Raw raw;
    if (const int r = raw.Open(buf, len, flag))
        return r;
    const spi::Size shown = raw.Shown();
    spi::FillInfo(lpInfo, shown.width, shown.height, false);
    const std::string text = InfoText(*raw.lr);
    if (!text.empty()) {
        lpInfo->hInfo = LocalAlloc(LMEM_FIXED, text.size() + 1);
        if (!lpInfo->hInfo)
            return SPI_NO_MEMORY;
        std::memcpy(LocalLock(lpInfo->hInfo), text.c_str(), text.size() + 1);
        LocalUnlock(lpInfo->hInfo);
    }
    return SPI_ALL_RIGHT;
}

int GetPicture(const char* buf, intptr_t len, unsigned int flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
               SPI_PROGRESS progress, intptr_t lData) {
    return Picture(buf, len, flag, pHBInfo, pHBm, progress, lData, 0, 0);
}

int GetPictureScaled(const char* buf, intptr_t len, unsigned int flag, HLOCAL* pHBInfo,
                     HLOCAL* pHBm, SPI_PROGRESS progress, intptr_t lData, int width, int height) {
    return Picture(buf, len, flag, pHBInfo, pHBm, progress, lData, width, height);
}

} // extern "C"
