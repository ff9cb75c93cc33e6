// heif.spi: HEIC and AVIF pictures through libheif. The primary image, with its rotation,
// mirroring and crop applied, at 8 bits per channel, with alpha where it has it. For a thumbnail
// the file's own thumbnail image is used when it is large enough, turned and mirrored like the
// primary image.
#include "HeifFormat.h"
#include "SpiPlugin.h"

#include <algorithm>
#include <iterator>
#include <lcms2.h>
#include <libheif/heif.h>
#include <memory>
#include <vector>

namespace {

using heif_format::kTexts;

// libheif is set up once per process and stays so; every decode has its own context.
void Init() {
    static const bool done = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)done;
}

bool IsHeif(const uint8_t* p, size_t n) {
    return heif_format::MayBeHeif(p, n) &&
           heif_check_filetype(p, int(n > 4096 ? 4096 : n)) == heif_filetype_yes_supported;
}

using Handle = std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)>;

struct Context {
    std::unique_ptr<heif_context, decltype(&heif_context_free)> ctx{nullptr, heif_context_free};
    Handle handle{nullptr, heif_image_handle_release};
    heif_item_id id = 0;
    int width = 0, height = 0;
    bool alpha = false;
};

// A transformative property of an image item, in the order the item lists them: a rotation by
// quarter turns anticlockwise, or a mirroring.
struct Transform {
    enum Kind { Rotate, MirrorTopBottom, MirrorLeftRight } kind;
    int quarters = 0;
};

// The file's boxes, read as far as they are needed to find an item's rotation and mirroring
// ("irot" and "imir" in meta/iprp/ipco, tied to items by meta/iprp/ipma). libheif applies them
// only to the image it decodes; a thumbnail without its own takes the primary image's.
class Boxes {
public:
    Boxes(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    std::vector<Transform> TransformsOf(heif_item_id item) const {
        std::vector<Transform> out;
        Range meta{}, iprp{}, ipco{}, ipma{};
        if (!Find({0, m_size}, "meta", meta) || meta.end - meta.begin < 4)
            return out;
        meta.begin += 4; // version and flags
        if (!Find(meta, "iprp", iprp) || !Find(iprp, "ipco", ipco) || !Find(iprp, "ipma", ipma))
            return out;
        for (const int index : PropertiesOf(ipma, item)) {
            Range prop{};
            char type[5] = {};
            if (!Child(ipco, index, prop, type) || prop.end <= prop.begin)
                continue;
            const uint8_t v = m_data[prop.begin];
            if (std::equal(type, type + 4, "irot"))
                out.push_back({Transform::Rotate, v & 3});
            else if (std::equal(type, type + 4, "imir"))
                out.push_back({(v & 1) ? Transform::MirrorLeftRight : Transform::MirrorTopBottom});
        }
        return out;
    }

private:
    struct Range {
        size_t begin, end;
    };

    uint32_t U32(size_t at) const {
        return uint32_t(m_data[at]) << 24 | uint32_t(m_data[at + 1]) << 16 |
               uint32_t(m_data[at + 2]) << 8 | m_data[at + 3];
    }
    uint16_t U16(size_t at) const { return uint16_t(m_data[at] << 8 | m_data[at + 1]); }

    // The boxes inside r one by one: calls f(type, content) until it returns true.
    template <typename F> bool Each(Range r, F f) const {
        size_t at = r.begin;
        while (at + 8 <= r.end) {
            uint64_t size = U32(at);
            size_t header = 8;
            if (size == 1) {
                if (at + 16 > r.end)
                    return false;
                size = uint64_t(U32(at + 8)) << 32 | U32(at + 12);
                header = 16;
            } else if (size == 0) {
                size = r.end - at;
            }
            if (size < header || size > r.end - at)
                return false;
            const char* type = reinterpret_cast<const char*>(m_data + at + 4);
            if (f(type, Range{at + header, at + size_t(size)}))
                return true;
            at += size_t(size);
        }
        return false;
    }
    bool Find(Range r, const char* name, Range& out) const {
        return Each(r, [&](const char* type, Range content) {
            if (!std::equal(type, type + 4, name))
                return false;
            out = content;
            return true;
        });
    }
    // The index-th box (counted from 1) inside r.
    bool Child(Range r, int index, Range& out, char* typeOut) const {
        int n = 0;
        return Each(r, [&](const char* type, Range content) {
            if (++n != index)
                return false;
            std::copy(type, type + 4, typeOut);
            out = content;
            return true;
        });
    }
    // The property indices the association box gives the item, in their order.
    std::vector<int> PropertiesOf(Range ipma, heif_item_id item) const {
        std::vector<int> out;
        size_t at = ipma.begin;
        if (at + 8 > ipma.end)
            return out;
        const int version = m_data[at];
        const bool wide = (m_data[at + 3] & 1) != 0;
        const uint32_t entries = U32(at + 4);
        at += 8;
        for (uint32_t e = 0; e < entries; ++e) {
            const size_t idSize = version < 1 ? 2 : 4;
            if (at + idSize + 1 > ipma.end)
                break;
            const uint32_t id = idSize == 2 ? U16(at) : U32(at);
            at += idSize;
            const int count = m_data[at++];
            const size_t step = wide ? 2 : 1;
            if (at + step * size_t(count) > ipma.end)
                break;
            for (int k = 0; k < count; ++k, at += step)
                if (id == item)
                    out.push_back(wide ? U16(at) & 0x7FFF : m_data[at] & 0x7F);
            if (id == item)
                break;
        }
        return out;
    }

    const uint8_t* m_data;
    size_t m_size;
};

// The transformations turned onto pixels: a copy of w x h pixels of n bytes, changed in place.
void Apply(const std::vector<Transform>& transforms, std::vector<uint8_t>& px, int& w, int& h,
           int n) {
    std::vector<uint8_t> out(px.size());
    for (const Transform& t : transforms) {
        const int turns = t.kind == Transform::Rotate ? t.quarters : 0;
        if (t.kind == Transform::Rotate && turns == 0)
            continue;
        const int ow = turns % 2 ? h : w, oh = turns % 2 ? w : h;
        for (int y = 0; y < oh; ++y)
            for (int x = 0; x < ow; ++x) {
                int sx = x, sy = y;
                switch (t.kind) {
                case Transform::MirrorLeftRight:
                    sx = w - 1 - x;
                    break;
                case Transform::MirrorTopBottom:
                    sy = h - 1 - y;
                    break;
                case Transform::Rotate: // anticlockwise: what is at the top right goes top left
                    if (turns == 1)
                        sx = w - 1 - y, sy = x;
                    else if (turns == 2)
                        sx = w - 1 - x, sy = h - 1 - y;
                    else
                        sx = y, sy = h - 1 - x;
                    break;
                }
                std::copy_n(&px[(size_t(sy) * size_t(w) + size_t(sx)) * size_t(n)], n,
                            &out[(size_t(y) * size_t(ow) + size_t(x)) * size_t(n)]);
            }
        px.swap(out);
        w = ow;
        h = oh;
    }
}

bool Swaps(const std::vector<Transform>& transforms) {
    int turns = 0;
    for (const Transform& t : transforms)
        turns += t.kind == Transform::Rotate ? t.quarters : 0;
    return turns % 2 != 0;
}

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
    if (heif_context_get_primary_image_ID(c.ctx.get(), &c.id).code != heif_error_Ok)
        return SPI_OUT_OF_ORDER;
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

// The decoded w x h plane of n bytes a pixel (R, G, B[, A]) reduced by a whole factor into dib,
// as the host reduces a whole picture for a thumbnail: (w / factor) x (h / factor), the rows and
// columns dividing the picture evenly, each pixel the rounded average of its block; with alpha the
// colours weighted by it (premultiplied colours already are), so that transparent pixels give no
// colour. Only the small picture is ever allocated.
int ReduceInto(const uint8_t* plane, size_t stride, int w, int h, int n, bool premultiplied,
               int factor, spi::Dib& dib) {
    const bool alpha = n == 4;
    const int ow = std::max(1, w / factor), oh = std::max(1, h / factor);
    if (const int r = dib.Allocate(ow, oh, alpha))
        return r;
    std::vector<int> cols(size_t(ow) + 1);
    for (int x = 0; x <= ow; ++x)
        cols[size_t(x)] = int(int64_t(x) * w / ow);
    std::vector<uint64_t> sums(size_t(ow) * 4);
    std::vector<uint8_t> out(size_t(ow) * 4);
    int y = 0;
    for (int oy = 0; oy < oh; ++oy) {
        const int end = int(int64_t(oy + 1) * h / oh);
        const int rows = end - y;
        std::fill(sums.begin(), sums.end(), 0);
        for (; y < end; ++y) {
            const uint8_t* p = plane + size_t(y) * stride;
            uint64_t* acc = sums.data();
            int x = 0;
            for (int ox = 0; ox < ow; ++ox, acc += 4) {
                const int last = cols[size_t(ox) + 1];
                uint64_t r = 0, g = 0, b = 0, a = 0;
                if (!alpha) {
                    for (; x < last; ++x, p += 3) {
                        r += p[0];
                        g += p[1];
                        b += p[2];
                    }
                } else if (premultiplied) {
                    for (; x < last; ++x, p += 4) {
                        r += uint32_t(std::min(p[0], p[3])) * 255u;
                        g += uint32_t(std::min(p[1], p[3])) * 255u;
                        b += uint32_t(std::min(p[2], p[3])) * 255u;
                        a += p[3];
                    }
                } else {
                    for (; x < last; ++x, p += 4) {
                        r += uint32_t(p[0]) * p[3];
                        g += uint32_t(p[1]) * p[3];
                        b += uint32_t(p[2]) * p[3];
                        a += p[3];
                    }
                }
                acc[0] += r;
                acc[1] += g;
                acc[2] += b;
                acc[3] += a;
            }
        }
        const uint64_t* acc = sums.data();
        for (int ox = 0; ox < ow; ++ox, acc += 4) {
            const uint64_t count =
                uint64_t(cols[size_t(ox) + 1] - cols[size_t(ox)]) * uint64_t(rows);
            uint8_t* o = &out[size_t(ox) * size_t(n)];
            if (alpha) {
                const uint64_t sa = acc[3];
                for (int k = 0; k < 3; ++k)
                    o[k] = uint8_t(sa ? std::min<uint64_t>(255, (acc[k] + sa / 2) / sa) : 0);
                o[3] = uint8_t((sa + count / 2) / count);
            } else {
                for (int k = 0; k < 3; ++k)
                    o[k] = uint8_t((acc[k] + count / 2) / count);
            }
        }
        dib.PutRgb(oy, 0, ow, out.data(), n);
    }
    return SPI_ALL_RIGHT;
}

// Decodes an image (the primary one or a thumbnail) into dib at 8 bits, its alpha made straight,
// and the transformations given (those libheif does not apply itself) turned onto it. A factor
// above 1 asks for the picture reduced by it (see ReduceInto; without transformations only).
int DecodeHandle(heif_image_handle* handle, const std::vector<Transform>& transforms, spi::Dib& dib,
                 int factor = 1) {
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    std::unique_ptr<heif_decoding_options, decltype(&heif_decoding_options_free)> options(
        heif_decoding_options_alloc(), heif_decoding_options_free);
    if (!options)
        return SPI_NO_MEMORY;
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    const heif_error err = heif_decode_image(
        handle, &decoded, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    std::unique_ptr<heif_image, decltype(&heif_image_release)> image(decoded, heif_image_release);
    if (err.code != heif_error_Ok || !image)
        return err.code == heif_error_Memory_allocation_error ? SPI_NO_MEMORY : SPI_OUT_OF_ORDER;
    int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int n = alpha ? 4 : 3;
    if (!plane || w <= 0 || h <= 0 || stride < w * n)
        return SPI_OUT_OF_ORDER;

    const bool premultiplied = alpha && heif_image_is_premultiplied_alpha(image.get());
    auto straighten = [](uint8_t* px, size_t count) {
        for (size_t i = 0; i < count * 4; i += 4) {
            const int a = px[i + 3];
            for (int k = 0; k < 3 && a > 0; ++k)
                px[i + k] = uint8_t(std::min(255, (px[i + k] * 255 + a / 2) / a));
        }
    };
    if (!transforms.empty()) {
        // A thumbnail, small: turned in a copy.
        std::vector<uint8_t> px(size_t(w) * size_t(h) * size_t(n));
        for (int y = 0; y < h; ++y)
            std::copy_n(plane + size_t(y) * size_t(stride), size_t(w) * size_t(n),
                        &px[size_t(y) * size_t(w) * size_t(n)]);
        if (premultiplied)
            straighten(px.data(), size_t(w) * size_t(h));
        Apply(transforms, px, w, h, n);
        if (const int r = dib.Allocate(w, h, alpha))
            return r;
        for (int y = 0; y < h; ++y)
            dib.PutRgb(y, 0, w, &px[size_t(y) * size_t(w) * size_t(n)], n);
        return SPI_ALL_RIGHT;
    }
    if (factor > 1)
        return ReduceInto(plane, size_t(stride), w, h, n, premultiplied, factor, dib);
    if (const int r = dib.Allocate(w, h, alpha))
        return r;
    std::vector<uint8_t> straight;
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = plane + size_t(y) * size_t(stride);
        if (premultiplied) {
            straight.assign(row, row + size_t(w) * 4);
            straighten(straight.data(), size_t(w));
            row = straight.data();
        }
        dib.PutRgb(y, 0, w, row, n);
    }
    return SPI_ALL_RIGHT;
}

int Decode(const spi::Input& in, spi::Dib& dib) {
    Context c;
    if (const int r = Open(in, c))
        return r;
    return DecodeHandle(c.handle.get(), {}, dib);
}

// The smallest of the file's thumbnails that is large enough, else the primary image.
int DecodeScaled(const spi::Input& in, spi::Dib& dib, int boxWidth, int boxHeight) {
    Context c;
    if (const int r = Open(in, c))
        return r;
    const int count = heif_image_handle_get_number_of_thumbnails(c.handle.get());
    std::vector<heif_item_id> ids(size_t(std::max(count, 0)));
    if (count > 0)
        ids.resize(
            size_t(heif_image_handle_get_list_of_thumbnail_IDs(c.handle.get(), ids.data(), count)));
    const Boxes boxes(in.Data(), in.Size());
    std::vector<Transform> primary;
    bool primaryRead = false;
    Handle best(nullptr, heif_image_handle_release);
    std::vector<Transform> bestTransforms;
    int64_t bestArea = 0;
    for (const heif_item_id id : ids) {
        heif_image_handle* h = nullptr;
        if (heif_image_handle_get_thumbnail(c.handle.get(), id, &h).code != heif_error_Ok || !h)
            continue;
        Handle thumb(h, heif_image_handle_release);
        // libheif's size of the thumbnail has the thumbnail's own transformations applied; one
        // without any is shown as the primary image is.
        std::vector<Transform> own = boxes.TransformsOf(id);
        if (!primaryRead) {
            primary = boxes.TransformsOf(c.id);
            primaryRead = true;
        }
        std::vector<Transform> apply = own.empty() ? primary : std::vector<Transform>{};
        int w = heif_image_handle_get_width(thumb.get());
        int hh = heif_image_handle_get_height(thumb.get());
        if (!spi::SizeAllowed(w, hh))
            continue;
        if (Swaps(apply))
            std::swap(w, hh);
        const int64_t area = int64_t(w) * hh;
        if (spi::LargeEnough({w, hh}, c.width, c.height, boxWidth, boxHeight) &&
            (!best || area < bestArea)) {
            best = std::move(thumb);
            bestTransforms = std::move(apply);
            bestArea = area;
        }
    }
    if (best) {
        spi::Dib thumbDib;
        if (DecodeHandle(best.get(), bestTransforms, thumbDib) == SPI_ALL_RIGHT) {
            dib = std::move(thumbDib);
            return SPI_ALL_RIGHT;
        }
        // A broken thumbnail: the primary image may still be whole.
    }
    // The primary image, reduced here by the whole factor that keeps it at least the size the
    // box needs: the full-size picture is never copied out of libheif's.
    const spi::Size need = spi::FitInto(c.width, c.height, boxWidth, boxHeight);
    const int factor = need.width > 0 && need.height > 0
                           ? std::max(1, std::min(c.width / need.width, c.height / need.height))
                           : 1;
    return DecodeHandle(c.handle.get(), {}, dib, factor);
}

// The colour space of the primary image: its ICC profile, or one made from its nclx primaries
// (Display P3 and the like) with the sRGB curve, which phones pair with them; empty for sRGB and
// for transfers a profile of this kind does not describe (PQ, HLG).
std::vector<uint8_t> Profile(const spi::Input& in) {
    Context c;
    if (Open(in, c) != SPI_ALL_RIGHT)
        return {};
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(c.handle.get());
    if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
        std::vector<uint8_t> profile(heif_image_handle_get_raw_color_profile_size(c.handle.get()));
        if (profile.empty() ||
            heif_image_handle_get_raw_color_profile(c.handle.get(), profile.data()).code !=
                heif_error_Ok)
            return {};
        return profile;
    }
    // libheif may fill in and hand over the structure and still report an error (unknown
    // primaries, for one), so it is owned before the result is looked at.
    heif_color_profile_nclx* nclx = nullptr;
    const heif_error got = heif_image_handle_get_nclx_color_profile(c.handle.get(), &nclx);
    std::unique_ptr<heif_color_profile_nclx, decltype(&heif_nclx_color_profile_free)> owner(
        nclx, heif_nclx_color_profile_free);
    if (got.code != heif_error_Ok || !nclx)
        return {};
    const bool srgbPrimaries = nclx->color_primaries == heif_color_primaries_ITU_R_BT_709_5 ||
                               nclx->color_primaries == heif_color_primaries_unspecified;
    const bool srgbLikeCurve =
        nclx->transfer_characteristics == heif_transfer_characteristic_IEC_61966_2_1 ||
        nclx->transfer_characteristics == heif_transfer_characteristic_ITU_R_BT_709_5 ||
        nclx->transfer_characteristics == heif_transfer_characteristic_ITU_R_BT_601_6 ||
        nclx->transfer_characteristics == heif_transfer_characteristic_unspecified;
    if (srgbPrimaries || !srgbLikeCurve)
        return {};
    const cmsCIExyY white{nclx->color_primary_white_x, nclx->color_primary_white_y, 1.0};
    const cmsCIExyYTRIPLE primaries{{nclx->color_primary_red_x, nclx->color_primary_red_y, 1.0},
                                    {nclx->color_primary_green_x, nclx->color_primary_green_y, 1.0},
                                    {nclx->color_primary_blue_x, nclx->color_primary_blue_y, 1.0}};
    // The sRGB curve: IEC 61966-2-1's parameters.
    const cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgb);
    if (!curve)
        return {};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE made = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    std::vector<uint8_t> profile;
    cmsUInt32Number size = 0;
    if (made && cmsSaveProfileToMem(made, nullptr, &size) && size > 0) {
        profile.resize(size);
        if (!cmsSaveProfileToMem(made, profile.data(), &size))
            profile.clear();
    }
    if (made)
        cmsCloseProfile(made);
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
    return head && IsHeif(head, SPI_HEAD_SIZE) ? 1 : 0;
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
