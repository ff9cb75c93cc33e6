// jxl.spi: JPEG XL pictures through libjxl. The first frame, with its orientation applied, at
// 8 bits per channel, with alpha where it has it.
#include "SpiPlugin.h"

#include <iterator>
#include <jxl/decode.h>
#include <memory>

#ifndef QUILLA_SPI_SINGLE_THREAD
#include <jxl/thread_parallel_runner.h>
#endif

namespace {

const char* const kTexts[] = {"00IN", "JPEG XL plug-in for Quilla (libjxl)", "*.jxl", "JPEG XL"};

bool IsJxl(const uint8_t* p, size_t n) {
    const JxlSignature s = JxlSignatureCheck(p, n);
    return s == JXL_SIG_CODESTREAM || s == JXL_SIG_CONTAINER;
}

using Decoder = std::unique_ptr<JxlDecoder, decltype(&JxlDecoderDestroy)>;

struct Picture {
    int width = 0, height = 0;
    bool alpha = false;
};

// Reads the basic information: the picture's size as shown (after orientation) and alpha.
int BasicInfo(JxlDecoder* dec, Picture& p) {
    JxlBasicInfo info;
    if (JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS)
        return SPI_OUT_OF_ORDER;
    const bool swapped = info.orientation >= JXL_ORIENT_TRANSPOSE;
    p.width = int(swapped ? info.ysize : info.xsize);
    p.height = int(swapped ? info.xsize : info.ysize);
    p.alpha = info.alpha_bits > 0;
    if (!spi::SizeAllowed(int64_t(info.xsize), int64_t(info.ysize)))
        return SPI_NO_MEMORY;
    return SPI_ALL_RIGHT;
}

struct Output {
    spi::Dib* dib;
    int channels;
};

void WriteRow(void* opaque, size_t x, size_t y, size_t n, const void* pixels) {
    const auto* out = static_cast<const Output*>(opaque);
    out->dib->PutRgb(int(y), int(x), int(n), static_cast<const uint8_t*>(pixels), out->channels);
}

// Runs the decoder over the whole input. With dib null it stops after the basic information.
int Decode(const spi::Input& in, Picture& p, spi::Dib* dib) {
    if (!IsJxl(in.Data(), in.Size()))
        return SPI_NOT_SUPPORT;
    Decoder dec(JxlDecoderCreate(nullptr), JxlDecoderDestroy);
    if (!dec)
        return SPI_NO_MEMORY;
    int events = JXL_DEC_BASIC_INFO;
    if (dib)
        events |= JXL_DEC_FULL_IMAGE;
    if (JxlDecoderSubscribeEvents(dec.get(), events) != JXL_DEC_SUCCESS)
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
    Output out{dib, 3};
    for (;;) {
        switch (JxlDecoderProcessInput(dec.get())) {
        case JXL_DEC_BASIC_INFO: {
            if (const int r = BasicInfo(dec.get(), p))
                return r;
            if (!dib)
                return SPI_ALL_RIGHT;
            if (const int r = dib->Allocate(p.width, p.height, p.alpha))
                return r;
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            out.channels = p.alpha ? 4 : 3;
            const JxlPixelFormat format{uint32_t(out.channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN,
                                        0};
            if (JxlDecoderSetImageOutCallback(dec.get(), &format, WriteRow, &out) !=
                JXL_DEC_SUCCESS)
                return SPI_OUT_OF_ORDER;
            break;
        }
        case JXL_DEC_FULL_IMAGE:
            return SPI_ALL_RIGHT; // the first frame is enough
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

constexpr spi::Format kFormat{Info, DecodeInto};

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

} // extern "C"
