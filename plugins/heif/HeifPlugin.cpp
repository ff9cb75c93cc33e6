// heif.spi: HEIC and AVIF pictures through libheif. The primary image, with its rotation,
// mirroring and crop applied, at 8 bits per channel, with alpha where it has it.
#include "SpiPlugin.h"

#include <algorithm>
#include <iterator>
#include <libheif/heif.h>
#include <memory>
#include <vector>

namespace {

const char* const kTexts[] = {
    "00IN", "HEIF plug-in for Quilla (libheif)", "*.heic", "HEIC", "*.heif", "HEIF", "*.avif",
    "AVIF"};

// libheif is set up once per process and stays so; every decode has its own context.
void Init() {
    static const bool done = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)done;
}

bool IsHeif(const uint8_t* p, size_t n) {
    return n >= 12 &&
           heif_check_filetype(p, int(n > 4096 ? 4096 : n)) == heif_filetype_yes_supported;
}

struct Context {
    std::unique_ptr<heif_context, decltype(&heif_context_free)> ctx{nullptr, heif_context_free};
    std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handle{
        nullptr, heif_image_handle_release};
    int width = 0, height = 0;
    bool alpha = false;
};

// Reads the file's structure and its primary image's size (after its transformations), without
// decoding any pixels.
int Open(const spi::Input& in, Context& c) {
    if (!IsHeif(in.Data(), in.Size()))
        return SPI_NOT_SUPPORT;
    Init();
    c.ctx.reset(heif_context_alloc());
    if (!c.ctx)
        return SPI_NO_MEMORY;
    heif_context_set_maximum_image_size_limit(c.ctx.get(), int(spi::kMaxSide));
    heif_error err =
        heif_context_read_from_memory_without_copy(c.ctx.get(), in.Data(), in.Size(), nullptr);
    if (err.code != heif_error_Ok)
        return SPI_OUT_OF_ORDER;
    heif_image_handle* handle = nullptr;
    err = heif_context_get_primary_image_handle(c.ctx.get(), &handle);
    if (err.code != heif_error_Ok || !handle)
        return SPI_OUT_OF_ORDER;
    c.handle.reset(handle);
    c.width = heif_image_handle_get_width(handle);
    c.height = heif_image_handle_get_height(handle);
    c.alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    // The coded size may be larger than the displayed one; both must be within the limits.
    const int ispe_w = heif_image_handle_get_ispe_width(handle);
    const int ispe_h = heif_image_handle_get_ispe_height(handle);
    if (!spi::SizeAllowed(c.width, c.height) || (ispe_w > 0 && !spi::SizeAllowed(ispe_w, ispe_h)))
        return SPI_NO_MEMORY;
    // What the decoder builds is sized by the coded data, which a broken file may let disagree
    // with the sizes above (a grid whose output claims 63,455 × 65,511 pixels behind a 32 × 24
    // image-size property): no side of it may exceed the largest side declared here, give or
    // take the padding of coded pictures to whole blocks.
    constexpr int kBlockPadding = 256;
    const int side = std::max({c.width, c.height, ispe_w, ispe_h}) + kBlockPadding;
    heif_context_set_maximum_image_size_limit(c.ctx.get(), side);
    return SPI_ALL_RIGHT;
}

int Info(const spi::Input& in, int& width, int& height, bool& alpha) {
    Context c;
    const int r = Open(in, c);
    width = c.width;
    height = c.height;
    alpha = c.alpha;
    return r;
}

int Decode(const spi::Input& in, spi::Dib& dib) {
    Context c;
    if (const int r = Open(in, c))
        return r;
    std::unique_ptr<heif_decoding_options, decltype(&heif_decoding_options_free)> options(
        heif_decoding_options_alloc(), heif_decoding_options_free);
    if (!options)
        return SPI_NO_MEMORY;
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    const heif_error err = heif_decode_image(
        c.handle.get(), &decoded, heif_colorspace_RGB,
        c.alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    std::unique_ptr<heif_image, decltype(&heif_image_release)> image(decoded, heif_image_release);
    if (err.code != heif_error_Ok || !image)
        return err.code == heif_error_Memory_allocation_error ? SPI_NO_MEMORY : SPI_OUT_OF_ORDER;
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!plane || w <= 0 || h <= 0 || stride < w * (c.alpha ? 4 : 3))
        return SPI_OUT_OF_ORDER;

    if (const int r = dib.Allocate(w, h, c.alpha))
        return r;
    const bool premultiplied = c.alpha && heif_image_is_premultiplied_alpha(image.get());
    std::vector<uint8_t> straight;
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = plane + size_t(y) * size_t(stride);
        if (premultiplied) {
            straight.assign(row, row + size_t(w) * 4);
            for (size_t i = 0; i < straight.size(); i += 4) {
                const int a = straight[i + 3];
                for (int k = 0; k < 3 && a > 0; ++k)
                    straight[i + k] = uint8_t(std::min(255, (straight[i + k] * 255 + a / 2) / a));
            }
            row = straight.data();
        }
        dib.PutRgb(y, 0, w, row, c.alpha ? 4 : 3);
    }
    return SPI_ALL_RIGHT;
}

constexpr spi::Format kFormat{Info, Decode};

} // namespace

extern "C" {

int GetPluginInfo(int infono, char* buf, int buflen) {
    return spi::PluginInfo(kTexts, int(std::size(kTexts)), infono, buf, buflen);
}

int IsSupported(const char*, uintptr_t dw) {
    const uint8_t* head = spi::Head(dw);
    return head && IsHeif(head, SPI_HEAD_SIZE) ? 1 : 0;
}

int GetPictureInfo(const char* buf, intptr_t len, unsigned int flag, SPI_PICTUREINFO* lpInfo) {
    return spi::PictureInfo(kFormat, buf, len, flag, lpInfo);
}

int GetPicture(const char* buf, intptr_t len, unsigned int flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
               SPI_PROGRESS progress, intptr_t lData) {
    return spi::Picture(kFormat, buf, len, flag, pHBInfo, pHBm, progress, lData);
}

} // extern "C"
