// webp.spi: WebP pictures through libwebp. Lossy and lossless, with alpha, and the first frame of
// an animation (composed on its canvas). A still picture is reduced for a thumbnail by libwebp's
// own scaling while it decodes, without a whole-size buffer. A picture with an ICC profile is
// converted to sRGB.
#include "SpiPlugin.h"

#include <cstring>
#include <iterator>
#include <memory>
#include <vector>
#include <webp/decode.h>
#include <webp/demux.h>

namespace {

const char* const kTexts[] = {"00IN", "WebP plug-in for Quilla (libwebp)", "*.webp", "WebP"};

bool IsWebp(const uint8_t* p, size_t n) {
    return n >= 12 && std::memcmp(p, "RIFF", 4) == 0 && std::memcmp(p + 8, "WEBP", 4) == 0;
}

struct Features {
    int width = 0, height = 0;
    bool alpha = false, animated = false;
};

int ReadFeatures(const spi::Input& in, Features& f) {
    if (!IsWebp(in.Data(), in.Size()))
        return SPI_NOT_SUPPORT;
    WebPBitstreamFeatures bf;
    if (WebPGetFeatures(in.Data(), in.Size(), &bf) != VP8_STATUS_OK)
        return SPI_OUT_OF_ORDER;
    f.width = bf.width;
    f.height = bf.height;
    f.alpha = bf.has_alpha != 0;
    f.animated = bf.has_animation != 0;
    if (f.animated) {
        // The canvas, not the first frame's own rectangle, is the picture's size.
        WebPData data{in.Data(), in.Size()};
        std::unique_ptr<WebPDemuxer, decltype(&WebPDemuxDelete)> demux(WebPDemux(&data),
                                                                       WebPDemuxDelete);
        if (!demux)
            return SPI_OUT_OF_ORDER;
        f.width = int(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH));
        f.height = int(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT));
    }
    return spi::SizeAllowed(f.width, f.height) ? SPI_ALL_RIGHT : SPI_NO_MEMORY;
}

// Decodes into dib, which is allocated at the picture's size or (scaled) at a smaller one.
int DecodeStill(const spi::Input& in, const Features& f, spi::Dib& dib, spi::Size scaled = {}) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return SPI_END_ERROR;
    if (scaled.width > 0 && (scaled.width != f.width || scaled.height != f.height)) {
        config.options.use_scaling = 1;
        config.options.scaled_width = scaled.width;
        config.options.scaled_height = scaled.height;
    }
    // Straight into the picture's bits: B, G, R[, A], flipped to bottom-up rows.
    config.output.colorspace = f.alpha ? MODE_BGRA : MODE_BGR;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = dib.Bits();
    config.output.u.RGBA.stride = int(dib.Stride());
    config.output.u.RGBA.size = dib.BitsSize();
    config.options.flip = 1;
    const VP8StatusCode status = WebPDecode(in.Data(), in.Size(), &config);
    WebPFreeDecBuffer(&config.output);
    return status == VP8_STATUS_OK ? SPI_ALL_RIGHT : SPI_OUT_OF_ORDER;
}

int DecodeFirstFrame(const spi::Input& in, const Features& f, spi::Dib& dib) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return SPI_END_ERROR;
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    WebPData data{in.Data(), in.Size()};
    std::unique_ptr<WebPAnimDecoder, decltype(&WebPAnimDecoderDelete)> anim(
        WebPAnimDecoderNew(&data, &options), WebPAnimDecoderDelete);
    if (!anim)
        return SPI_OUT_OF_ORDER;
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(anim.get(), &info) || int(info.canvas_width) != f.width ||
        int(info.canvas_height) != f.height)
        return SPI_OUT_OF_ORDER;
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(anim.get(), &canvas, &timestamp) || !canvas)
        return SPI_OUT_OF_ORDER;
    const size_t stride = size_t(f.width) * 4;
    for (int y = 0; y < f.height; ++y)
        dib.PutRgb(y, 0, f.width, canvas + size_t(y) * stride, 4);
    return SPI_ALL_RIGHT;
}

int Info(const spi::Input& in, int& width, int& height, bool& alpha) {
    Features f;
    const int r = ReadFeatures(in, f);
    width = f.width;
    height = f.height;
    alpha = f.alpha;
    return r;
}

int Decode(const spi::Input& in, spi::Dib& dib) {
    Features f;
    if (const int r = ReadFeatures(in, f))
        return r;
    if (const int r = dib.Allocate(f.width, f.height, f.alpha))
        return r;
    return f.animated ? DecodeFirstFrame(in, f, dib) : DecodeStill(in, f, dib);
}

int DecodeScaled(const spi::Input& in, spi::Dib& dib, int boxWidth, int boxHeight) {
    Features f;
    if (const int r = ReadFeatures(in, f))
        return r;
    if (f.animated)
        return Decode(in, dib);
    const spi::Size size = spi::FitInto(f.width, f.height, boxWidth, boxHeight);
    if (const int r = dib.Allocate(size.width, size.height, f.alpha))
        return r;
    return DecodeStill(in, f, dib, size);
}

// The ICC profile of the file's ICCP chunk (an extended file whose flags announce one).
std::vector<uint8_t> Profile(const spi::Input& in) {
    WebPData data{in.Data(), in.Size()};
    std::unique_ptr<WebPDemuxer, decltype(&WebPDemuxDelete)> demux(WebPDemux(&data),
                                                                   WebPDemuxDelete);
    if (!demux || !(WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS) & ICCP_FLAG))
        return {};
    WebPChunkIterator chunk;
    if (!WebPDemuxGetChunk(demux.get(), "ICCP", 1, &chunk))
        return {};
    std::vector<uint8_t> profile(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
    WebPDemuxReleaseChunkIterator(&chunk);
    return profile;
}

constexpr spi::Format kFormat{Info, Decode, DecodeScaled, Profile};

} // namespace

extern "C" {

int GetPluginInfo(int infono, char* buf, int buflen) {
    return spi::PluginInfo(kTexts, int(std::size(kTexts)), infono, buf, buflen);
}

int IsSupported(const char*, uintptr_t dw) {
    const uint8_t* head = spi::Head(dw);
    return head && IsWebp(head, SPI_HEAD_SIZE) ? 1 : 0;
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
