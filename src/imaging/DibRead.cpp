#include "imaging/DibRead.h"

#define SPI_HOST
#include "ik6.h"
#include "spi.h"

#include "imaging/FitSides.h"

#include <algorithm>
#include <cstring>

namespace DibRead {

namespace {

constexpr size_t kHeaderSize = sizeof(BITMAPINFOHEADER);

uint32_t U32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t U16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

// A colour channel described by a bit mask: its shift and the number of its bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
    explicit Channel(uint32_t m) : mask(m) {
        if (!m)
            return;
        while (!(m & 1u)) {
            m >>= 1;
            ++shift;
        }
        while (m & 1u) {
            m >>= 1;
            ++bits;
        }
    }
    // The channel of a pixel scaled to 0..255.
    int Get(uint32_t v) const {
        if (!bits)
            return 0;
        const uint32_t x = (v & mask) >> shift;
        const uint32_t max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
        return int((uint64_t(x) * 255 + max / 2) / max);
    }
};

bool Fail(std::string* reason, const char* why) {
    if (reason)
        *reason = why;
    return false;
}

constexpr uint32_t Rgba(int r, int g, int b, int a) {
    return uint32_t(a & 0xFF) << 24 | uint32_t(r & 0xFF) << 16 | uint32_t(g & 0xFF) << 8 |
           uint32_t(b & 0xFF);
}
constexpr uint32_t Rgb(int r, int g, int b) {
    return Rgba(r, g, b, 255);
}

// The picture of w x h pixels of n bytes (3: B, G, R; 4: B, G, R, A) reduced by factor into the
// image make gives, block by block: the output rows and columns divide the picture evenly, so
// that the reduced picture keeps its geometry. With alpha the colours are summed times alpha,
// so that transparent pixels give no colour.
template <typename Row, typename Make>
bool Reduce(int w, int h, int n, bool alpha, int factor, Row row, const Make& make,
            Picture* picture, std::string* reason) {
    const int ow = std::max(1, w / factor), oh = std::max(1, h / factor);
    const Format format = alpha ? kArgb32 : n == 4 ? kRgb32 : kRgb888;
    const Canvas out = make(ow, oh, format);
    if (!out.bits)
        return Fail(reason, "no memory for the picture");
    *picture = Picture{ow, oh, format, {}};
    std::vector<int> cols(size_t(ow) + 1);
    for (int x = 0; x <= ow; ++x)
        cols[size_t(x)] = int(int64_t(x) * w / ow);
    std::vector<uint64_t> sums(size_t(ow) * 4);
    int y = 0;
    for (int oy = 0; oy < oh; ++oy) {
        const int end = int(int64_t(oy + 1) * h / oh);
        std::fill(sums.begin(), sums.end(), 0);
        const int rows = end - y;
        for (; y < end; ++y) {
            const uint8_t* p = row(y);
            uint64_t* acc = sums.data();
            int x = 0;
            for (int ox = 0; ox < ow; ++ox, acc += 4) {
                const int last = cols[size_t(ox) + 1];
                uint64_t r = 0, g = 0, b = 0, a = 0;
                if (alpha) {
                    for (; x < last; ++x, p += 4) {
                        const uint32_t al = p[3];
                        b += p[0] * al;
                        g += p[1] * al;
                        r += p[2] * al;
                        a += al;
                    }
                } else {
                    for (; x < last; ++x, p += n) {
                        b += p[0];
                        g += p[1];
                        r += p[2];
                    }
                }
                acc[0] += r;
                acc[1] += g;
                acc[2] += b;
                acc[3] += a;
            }
        }
        uint8_t* line = out.bits + size_t(oy) * out.bytesPerLine;
        const uint64_t* acc = sums.data();
        for (int ox = 0; ox < ow; ++ox, acc += 4) {
            const uint64_t count =
                uint64_t(cols[size_t(ox) + 1] - cols[size_t(ox)]) * uint64_t(rows);
            if (alpha) {
                const uint64_t sa = acc[3];
                const int a = int((sa + count / 2) / count);
                auto c = [sa](uint64_t v) {
                    return sa ? std::min(255, int((v + sa / 2) / sa)) : 0;
                };
                reinterpret_cast<uint32_t*>(line)[ox] = Rgba(c(acc[0]), c(acc[1]), c(acc[2]), a);
            } else {
                auto c = [count](uint64_t v) { return int((v + count / 2) / count); };
                if (n == 4) {
                    reinterpret_cast<uint32_t*>(line)[ox] = Rgb(c(acc[0]), c(acc[1]), c(acc[2]));
                } else {
                    line[3 * ox] = uint8_t(c(acc[0]));
                    line[3 * ox + 1] = uint8_t(c(acc[1]));
                    line[3 * ox + 2] = uint8_t(c(acc[2]));
                }
            }
        }
    }
    return true;
}

} // namespace

int BitsPerPixel(int32_t format) {
    switch (format) {
    case kMono:
        return 1;
    case kIndexed8:
        return 8;
    case kRgb16:
    case kRgb555:
        return 16;
    case kRgb888:
        return 24;
    case kRgb32:
    case kArgb32:
        return 32;
    default:
        return 0;
    }
}

size_t RowBytes(int width, int32_t format) {
    return (size_t(width) * size_t(BitsPerPixel(format)) + 31) / 32 * 4;
}

bool Read(const void* infoBlock, size_t infoSize, const void* bitsBlock, size_t bitsSize,
          const CanvasMaker& make, Picture* picture, std::string* reason, int factor) {
    *picture = Picture{};
    const auto* info = static_cast<const uint8_t*>(infoBlock);
    const auto* bits = static_cast<const uint8_t*>(bitsBlock);
    if (!info || !bits || infoSize < kHeaderSize)
        return Fail(reason, "no picture header");
    const uint32_t headerSize = U32(info);
    if (headerSize < kHeaderSize || headerSize > infoSize)
        return Fail(reason, "bad header size");
    const int64_t width = int32_t(U32(info + 4));
    const int64_t signedHeight = int32_t(U32(info + 8));
    const int bpp = U16(info + 14);
    const uint32_t compression = U32(info + 16);
    const uint32_t clrUsed = U32(info + 32);
    const bool topDown = signedHeight < 0;
    const int64_t height = topDown ? -signedHeight : signedHeight;
    if (width <= 0 || height <= 0)
        return Fail(reason, "empty picture");
    if (width > IK_MAX_SIDE || height > IK_MAX_SIDE || width * height > IK_MAX_PIXELS)
        return Fail(reason, "picture too large");
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return Fail(reason, "unsupported depth");
    const bool bitfields = compression == BI_BITFIELDS && (bpp == 16 || bpp == 32);
    if (compression != BI_RGB && !bitfields)
        return Fail(reason, "unsupported compression");

    // The colour table, or the three masks, follow the header.
    const uint8_t* table = info + headerSize;
    const size_t tableRoom = infoSize - headerSize;
    int colours = 0;
    if (bpp <= 8) {
        const uint32_t full = 1u << bpp;
        colours = int(clrUsed == 0 || clrUsed > full ? full : clrUsed);
        if (tableRoom < size_t(colours) * 4)
            return Fail(reason, "colour table beyond its block");
    }
    uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (bpp == 32) {
        masks[0] = 0x00FF0000;
        masks[1] = 0x0000FF00;
        masks[2] = 0x000000FF;
    }
    if (bitfields) {
        // A larger header holds the masks itself; after a 40-byte one they follow it.
        const uint8_t* m = headerSize >= kHeaderSize + 12 ? info + kHeaderSize : table;
        if (headerSize < kHeaderSize + 12 && tableRoom < 12)
            return Fail(reason, "masks beyond their block");
        for (int i = 0; i < 3; ++i)
            masks[i] = U32(m + 4 * i);
    }

    const size_t stride = size_t((width * bpp + 31) / 32) * 4;
    if (bitsSize / stride < size_t(height))
        return Fail(reason, "fewer bits than the picture needs");
    const int w = int(width), h = int(height);
    auto row = [&](int y) { return bits + size_t(topDown ? y : h - 1 - y) * stride; };

    if (factor > 1 && bpp == 24)
        return Reduce(w, h, 3, false, factor, row, make, picture, reason);

    Canvas out;
    // The canvas for the picture, its row y, and what is said of it.
    auto start = [&](Format format) {
        out = make(w, h, format);
        *picture = Picture{w, h, format, {}};
        return out.bits != nullptr;
    };
    auto line = [&out](int y) { return out.bits + size_t(y) * out.bytesPerLine; };
    if (bpp <= 8) {
        std::vector<uint32_t> palette(size_t(1) << bpp, Rgb(0, 0, 0));
        for (int i = 0; i < colours; ++i)
            palette[size_t(i)] = Rgb(table[4 * i + 2], table[4 * i + 1], table[4 * i]);
        if (!start(bpp == 1 ? kMono : kIndexed8))
            return Fail(reason, "no memory for the picture");
        picture->colours = std::move(palette);
        for (int y = 0; y < h; ++y) {
            const uint8_t* src = row(y);
            uint8_t* dst = line(y);
            if (bpp == 1)
                std::memcpy(dst, src, size_t((w + 7) / 8));
            else if (bpp == 8)
                std::memcpy(dst, src, size_t(w));
            else
                for (int x = 0; x < w; ++x)
                    dst[x] = (x & 1) ? src[x / 2] & 0x0F : src[x / 2] >> 4;
        }
        return true;
    }
    if (bpp == 24) {
        if (!start(kRgb888))
            return Fail(reason, "no memory for the picture");
        for (int y = 0; y < h; ++y) {
            const uint8_t* src = row(y);
            uint8_t* dst = line(y);
            for (int x = 0; x < w; ++x, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
        }
        return true;
    }
    const Channel r(masks[0]), g(masks[1]), b(masks[2]);
    if (bpp == 16) {
        const bool is555 = masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F;
        const bool is565 = masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F;
        if (is555 || is565) {
            if (!start(is555 ? kRgb555 : kRgb16))
                return Fail(reason, "no memory for the picture");
            for (int y = 0; y < h; ++y) {
                const uint8_t* src = row(y);
                auto* dst = reinterpret_cast<uint16_t*>(line(y));
                for (int x = 0; x < w; ++x)
                    dst[x] = U16(src + 2 * x);
            }
            return true;
        }
        if (!start(kRgb32))
            return Fail(reason, "no memory for the picture");
        for (int y = 0; y < h; ++y) {
            const uint8_t* src = row(y);
            auto* dst = reinterpret_cast<uint32_t*>(line(y));
            for (int x = 0; x < w; ++x) {
                const uint32_t v = U16(src + 2 * x);
                dst[x] = Rgb(r.Get(v), g.Get(v), b.Get(v));
            }
        }
        return true;
    }
    // 32 bits: B, G, R and alpha in the fourth byte (or the masks' channels). A picture whose
    // fourth byte is 0 everywhere was written without alpha.
    bool anyAlpha = false, allOpaque = true;
    const uint32_t alphaMask = ~(masks[0] | masks[1] | masks[2]) & 0xFF000000u;
    if (alphaMask) {
        for (int y = 0; y < h; ++y) {
            const uint8_t* src = row(y);
            for (int x = 0; x < w; ++x) {
                const uint32_t a = U32(src + 4 * x) & alphaMask;
                anyAlpha |= a != 0;
                allOpaque &= a == alphaMask;
            }
        }
    }
    const bool alpha = anyAlpha && !allOpaque;
    const bool plain = masks[0] == 0x00FF0000 && masks[1] == 0x0000FF00 && masks[2] == 0x000000FF;
    if (factor > 1 && plain && (!alpha || alphaMask == 0xFF000000u))
        return Reduce(w, h, 4, alpha, factor, row, make, picture, reason);
    if (!start(alpha ? kArgb32 : kRgb32))
        return Fail(reason, "no memory for the picture");
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = row(y);
        auto* dst = reinterpret_cast<uint32_t*>(line(y));
        if (plain) {
            for (int x = 0; x < w; ++x) {
                const uint32_t v = U32(src + 4 * x);
                dst[x] = alpha ? v : (v | 0xFF000000u);
            }
        } else {
            for (int x = 0; x < w; ++x) {
                const uint32_t v = U32(src + 4 * x);
                dst[x] = Rgba(r.Get(v), g.Get(v), b.Get(v), alpha ? int(v >> 24) : 255);
            }
        }
    }
    return true;
}

int Reduction(int width, int height, int boxWidth, int boxHeight) {
    const FitSides target = FittedSides({width, height}, {boxWidth, boxHeight});
    if (target.width <= 0 || target.height <= 0 || width <= 0 || height <= 0)
        return 1;
    const int k = std::min(width / target.width, height / target.height);
    return std::max(k, 1);
}

} // namespace DibRead
