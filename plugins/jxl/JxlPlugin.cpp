// jxl.spi: JPEG XL pictures through libjxl. The first frame, with its orientation applied, at
// 8 bits per channel, with alpha where it has it. For a thumbnail the decoder stops at the first
// progressive step (the 1:8 image of a lossy picture) that is large enough. Pixels in another
// colour space than sRGB are converted to sRGB.
#include "JxlFormat.h"
#include "SpiPlugin.h"

#include <algorithm>
#include <iterator>
#include <jxl/decode.h>
#include <memory>
#include <mutex>
#include <vector>

#ifndef QUILLA_SPI_SINGLE_THREAD
#include <jxl/thread_parallel_runner.h>
#endif

namespace {

using jxl_format::kTexts;

bool IsJxl(const uint8_t* p, size_t n) {
    const JxlSignature s = JxlSignatureCheck(p, n);
    return s == JXL_SIG_CODESTREAM || s == JXL_SIG_CONTAINER;
}

using Decoder = std::unique_ptr<JxlDecoder, decltype(&JxlDecoderDestroy)>;

struct Picture {
    int width = 0, height = 0;
    bool alpha = false;
    // Colours kept as XYB, which the decoder renders in whatever colour space it is asked for.
    bool xybColour = false;
};

// For a picture whose colours are XYB, asks the decoder for sRGB pixels: it renders them so
// directly (where it would give linear sRGB for a picture with an ICC profile, which would then
// need converting, and loses the dark tones at 8 bits). Other pictures come in their own colour
// space. Called at the colour encoding event; the profile read for the pixels then tells which.
void PreferSrgb(JxlDecoder* dec, const Picture& p) {
    if (!p.xybColour)
        return;
    JxlColorEncoding srgb{};
    srgb.color_space = JXL_COLOR_SPACE_RGB;
    srgb.white_point = JXL_WHITE_POINT_D65;
    srgb.primaries = JXL_PRIMARIES_SRGB;
    srgb.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
    srgb.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
    // Refused, the decoder keeps its own choice, which the profile read for the pixels tells.
    JxlDecoderSetPreferredColorProfile(dec, &srgb);
}

// Reads the basic information: the picture's size as shown (after orientation) and alpha.
int BasicInfo(JxlDecoder* dec, Picture& p) {
    JxlBasicInfo info;
    if (JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS)
        return SPI_OUT_OF_ORDER;
    const bool swapped = info.orientation >= JXL_ORIENT_TRANSPOSE;
    p.width = int(swapped ? info.ysize : info.xsize);
    p.height = int(swapped ? info.xsize : info.ysize);
    p.alpha = info.alpha_bits > 0;
    p.xybColour = !info.uses_original_profile && info.num_color_channels == 3;
    if (!spi::SizeAllowed(int64_t(info.xsize), int64_t(info.ysize)))
        return SPI_NO_MEMORY;
    return SPI_ALL_RIGHT;
}

// Where the decoder's rows go. ratio 1: every pixel into the whole picture, which is allocated
// with the first row; ratio n > 1: a flushed progressive step, shown at the whole size, of which
// the centre pixel of every n x n block goes into the reduced picture. Rows come from the
// decoder's threads.
//
// The decoder hands over floating-point samples, which are made bytes here: libjxl 0.7 renders
// 8-bit output through a callback about twice as slowly as floating-point output, and a reduced
// picture needs only one pixel of each block made bytes.
struct Output {
    spi::Dib* dib = nullptr;
    const Picture* picture = nullptr;
    int channels = 3;
    int ratio = 1;
    std::once_flag allocated;
    int allocation = SPI_ALL_RIGHT;
};

// One sample of 0 to 1 as a byte, rounded as libjxl rounds its own 8-bit output.
inline uint8_t Byte(float v) {
    return uint8_t(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f);
}

// n pixels of the given channels (R, G, B[, A] as floats) into the dib's row y from x.
void PutFloats(const spi::Dib& dib, int y, int x, int n, const float* px, int channels) {
    uint8_t* d = dib.Row(y) + size_t(x) * size_t(dib.BytesPerPixel());
    if (dib.BytesPerPixel() == 4) {
        for (int i = 0; i < n; ++i, px += channels, d += 4) {
            d[0] = Byte(px[2]);
            d[1] = Byte(px[1]);
            d[2] = Byte(px[0]);
            d[3] = channels == 4 ? Byte(px[3]) : 255;
        }
    } else {
        for (int i = 0; i < n; ++i, px += channels, d += 3) {
            d[0] = Byte(px[2]);
            d[1] = Byte(px[1]);
            d[2] = Byte(px[0]);
        }
    }
}

void WriteRow(void* opaque, size_t x, size_t y, size_t n, const void* pixels) {
    auto* out = static_cast<Output*>(opaque);
    const auto* px = static_cast<const float*>(pixels);
    const Picture& p = *out->picture;
    if (out->ratio == 1) {
        std::call_once(out->allocated, [out, &p] {
            out->allocation = out->dib->Allocate(p.width, p.height, p.alpha);
        });
        if (out->allocation == SPI_ALL_RIGHT)
            PutFloats(*out->dib, int(y), int(x), int(n), px, out->channels);
        return;
    }
    const int r = out->ratio;
    const int oy = int(y) / r;
    if (int(y) != std::min(oy * r + r / 2, p.height - 1))
        return;
    for (int ox = int(x) / r; ox * r < int(x + n); ++ox) {
        const int sx = std::min(ox * r + r / 2, p.width - 1);
        if (sx >= int(x) && sx < int(x + n))
            PutFloats(*out->dib, oy, ox, 1, px + size_t(sx - int(x)) * size_t(out->channels),
                      out->channels);
    }
}

// Runs the decoder over the whole input. With dib null it stops after the basic information;
// with a box it stops at the first progressive step that is large enough for it.
int Decode(const spi::Input& in, Picture& p, spi::Dib* dib, int boxWidth = 0, int boxHeight = 0) {
    if (!IsJxl(in.Data(), in.Size()))
        return SPI_NOT_SUPPORT;
    Decoder dec(JxlDecoderCreate(nullptr), JxlDecoderDestroy);
    if (!dec)
        return SPI_NO_MEMORY;
    const bool reduced = dib && boxWidth > 0 && boxHeight > 0;
    int events = JXL_DEC_BASIC_INFO;
    if (dib)
        events |= JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE;
    if (reduced)
        events |= JXL_DEC_FRAME_PROGRESSION;
    if (JxlDecoderSubscribeEvents(dec.get(), events) != JXL_DEC_SUCCESS)
        return SPI_END_ERROR;
    if (reduced && JxlDecoderSetProgressiveDetail(dec.get(), kDC) != JXL_DEC_SUCCESS)
        return SPI_END_ERROR;
#ifndef QUILLA_SPI_SINGLE_THREAD
    std::unique_ptr<void, decltype(&JxlThreadParallelRunnerDestroy)> runner(
        dib ? JxlThreadParallelRunnerCreate(nullptr,
                                            JxlThreadParallelRunnerDefaultNumWorkerThreads())
            : nullptr,
        JxlThreadParallelRunnerDestroy);
    if (runner && JxlDecoderSetParallelRunner(dec.get(), JxlThreadParallelRunner, runner.get()) !=
                      JXL_DEC_SUCCESS)
        return SPI_END_ERROR;
#endif
    if (JxlDecoderSetInput(dec.get(), in.Data(), in.Size()) != JXL_DEC_SUCCESS)
        return SPI_END_ERROR;
    JxlDecoderCloseInput(dec.get());
    Output out;
    out.dib = dib;
    out.picture = &p;
    for (;;) {
        switch (JxlDecoderProcessInput(dec.get())) {
        case JXL_DEC_BASIC_INFO: {
            if (const int r = BasicInfo(dec.get(), p))
                return r;
            if (!dib)
                return SPI_ALL_RIGHT;
            break;
        }
        case JXL_DEC_COLOR_ENCODING:
            PreferSrgb(dec.get(), p);
            break;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            out.channels = p.alpha ? 4 : 3;
            const JxlPixelFormat format{uint32_t(out.channels), JXL_TYPE_FLOAT, JXL_NATIVE_ENDIAN,
                                        0};
            if (JxlDecoderSetImageOutCallback(dec.get(), &format, WriteRow, &out) !=
                JXL_DEC_SUCCESS)
                return SPI_OUT_OF_ORDER;
            break;
        }
        case JXL_DEC_FRAME_PROGRESSION: {
            const int ratio = int(JxlDecoderGetIntendedDownsamplingRatio(dec.get()));
            // Rows already written went into the whole picture: it is finished instead.
            if (ratio <= 1 || dib->Bits())
                break;
            const spi::Size have{(p.width + ratio - 1) / ratio, (p.height + ratio - 1) / ratio};
            if (!spi::LargeEnough(have, p.width, p.height, boxWidth, boxHeight))
                break; // decoded on to the next step or the whole picture
            if (const int r = dib->Allocate(have.width, have.height, p.alpha))
                return r;
            out.ratio = ratio;
            if (JxlDecoderFlushImage(dec.get()) != JXL_DEC_SUCCESS)
                return SPI_OUT_OF_ORDER;
            return SPI_ALL_RIGHT;
        }
        case JXL_DEC_FULL_IMAGE:
            // The first frame is enough.
            return out.ratio == 1 && !dib->Bits() ? SPI_OUT_OF_ORDER : out.allocation;
        case JXL_DEC_SUCCESS:
            return p.width > 0 && !dib ? SPI_ALL_RIGHT : SPI_OUT_OF_ORDER;
        case JXL_DEC_NEED_MORE_INPUT: // truncated
        case JXL_DEC_ERROR:
        default:
            return SPI_OUT_OF_ORDER;
        }
    }
}

int Info(const spi::Input& in, int& width, int& height, bool& alpha) {
    Picture p;
    const int r = Decode(in, p, nullptr);
    width = p.width;
    height = p.height;
    alpha = p.alpha;
    return r;
}

int DecodeInto(const spi::Input& in, spi::Dib& dib) {
    Picture p;
    return Decode(in, p, &dib);
}

int DecodeScaled(const spi::Input& in, spi::Dib& dib, int boxWidth, int boxHeight) {
    Picture p;
    return Decode(in, p, &dib, boxWidth, boxHeight);
}

// The ICC profile of the pixels the decoder gives, read from the header alone; empty when they
// are sRGB.
std::vector<uint8_t> Profile(const spi::Input& in) {
    Decoder dec(JxlDecoderCreate(nullptr), JxlDecoderDestroy);
    if (!dec ||
        JxlDecoderSubscribeEvents(dec.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING) !=
            JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(dec.get(), in.Data(), in.Size()) != JXL_DEC_SUCCESS)
        return {};
    JxlDecoderCloseInput(dec.get());
    Picture p;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(dec.get());
        if (status == JXL_DEC_COLOR_ENCODING)
            break;
        if (status != JXL_DEC_BASIC_INFO || BasicInfo(dec.get(), p) != SPI_ALL_RIGHT)
            return {};
    }
    // The same choice as the decoding made.
    PreferSrgb(dec.get(), p);
    JxlColorEncoding encoding;
    if (JxlDecoderGetColorAsEncodedProfile(dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                           &encoding) == JXL_DEC_SUCCESS &&
        encoding.color_space == JXL_COLOR_SPACE_RGB &&
        encoding.white_point == JXL_WHITE_POINT_D65 && encoding.primaries == JXL_PRIMARIES_SRGB &&
        encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB)
        return {};
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
            JXL_DEC_SUCCESS ||
        size == 0)
        return {};
    std::vector<uint8_t> profile(size);
    if (JxlDecoderGetColorAsICCProfile(dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       profile.data(), size) != JXL_DEC_SUCCESS)
        return {};
    return profile;
}

constexpr spi::Format kFormat{Info, DecodeInto, DecodeScaled, Profile};

} // namespace

extern "C" {

int GetPluginInfo(int infono, char* buf, int buflen) {
    return spi::PluginInfo(kTexts, int(std::size(kTexts)), infono, buf, buflen);
}

int IsSupported(const char*, uintptr_t dw) {
    const uint8_t* head = spi::Head(dw);
    return head && IsJxl(head, SPI_HEAD_SIZE) ? 1 : 0;
}

int GetPictureInfo(const char* buf, intptr_t len, unsigned int flag, SPI_PICTUREINFO* lpInfo) {
    return spi::PictureInfo(kFormat, buf, len, flag, lpInfo);
}

int GetPicture(const char* buf, intptr_t len, unsigned int flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
               SPI_PROGRESS progress, intptr_t lData) {
    return spi::Picture(kFormat, buf, len, flag, pHBInfo, pHBm, progress, lData);
}

int GetPictureScaled(const char* buf, intptr_t len, unsigned int flag, HLOCAL* pHBInfo,
                     HLOCAL* pHBm, SPI_PROGRESS progress, intptr_t lData, int width, int height) {
    return spi::PictureScaled(kFormat, buf, len, flag, pHBInfo, pHBm, progress, lData, width,
                              height);
}

} // extern "C"
