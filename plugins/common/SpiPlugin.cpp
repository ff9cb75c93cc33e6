#include "SpiPlugin.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <lcms2.h>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace spi {

bool SizeAllowed(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
           width * height <= kMaxPixels;
}

int PluginInfo(const char* const* texts, int count, int infono, char* buf, int buflen) {
    if (infono < 0 || infono >= count || !buf || buflen <= 0)
        return 0;
    // Asked for every file a folder lists: a plain copy, cut to the buffer.
    const size_t n = std::min(std::strlen(texts[infono]), size_t(buflen) - 1);
    std::memcpy(buf, texts[infono], n);
    buf[n] = '\0';
    return int(n);
}

const uint8_t* Head(uintptr_t dw) {
    constexpr uintptr_t kHandleLimit = 0x10000;
    return dw < kHandleLimit ? nullptr : reinterpret_cast<const uint8_t*>(dw);
}

int Input::Read(const char* buf, intptr_t len, unsigned int flag) {
    if (!buf || len < 0)
        return SPI_END_ERROR;
    if ((flag & SPI_INPUT_MASK) == SPI_INPUT_MEMORY) {
        m_data = reinterpret_cast<const uint8_t*>(buf);
        m_size = size_t(len);
        return SPI_ALL_RIGHT;
    }
    const int fd = ::open(buf, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return SPI_FILE_READ_ERROR;
    int r = SPI_FILE_READ_ERROR;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= len) {
        const int64_t size = int64_t(st.st_size) - int64_t(len);
        if (size > kMaxFileSize) {
            r = SPI_NO_MEMORY;
        } else if (size == 0) {
            static const uint8_t none = 0;
            m_data = &none;
            m_size = 0;
            r = SPI_ALL_RIGHT;
        } else {
            void* map = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (map != MAP_FAILED) {
                m_map = map;
                m_mapSize = size_t(st.st_size);
                m_data = static_cast<const uint8_t*>(map) + len;
                m_size = size_t(size);
                r = SPI_ALL_RIGHT;
            }
        }
    }
    ::close(fd);
    return r;
}

Input::~Input() {
    if (m_map)
        ::munmap(m_map, m_mapSize);
}

Dib::~Dib() {
    LocalFree(m_hInfo);
    LocalFree(m_hBits);
}

Dib& Dib::operator=(Dib&& other) noexcept {
    if (this != &other) {
        LocalFree(m_hInfo);
        LocalFree(m_hBits);
        m_hInfo = std::exchange(other.m_hInfo, nullptr);
        m_hBits = std::exchange(other.m_hBits, nullptr);
        m_bits = std::exchange(other.m_bits, nullptr);
        m_stride = other.m_stride;
        m_width = other.m_width;
        m_height = other.m_height;
        m_alpha = other.m_alpha;
    }
    return *this;
}

int Dib::Allocate(int width, int height, bool alpha) {
    if (!SizeAllowed(width, height))
        return SPI_NO_MEMORY;
    m_alpha = alpha;
    m_width = width;
    m_height = height;
    const int bpp = alpha ? 32 : 24;
    m_stride = (size_t(width) * size_t(bpp) + 31) / 32 * 4;
    m_hInfo = LocalAlloc(LMEM_ZEROINIT, sizeof(BITMAPINFOHEADER));
    m_hBits = LocalAlloc(LMEM_FIXED, m_stride * size_t(height));
    if (!m_hInfo || !m_hBits)
        return SPI_NO_MEMORY;
    auto* bi = static_cast<BITMAPINFOHEADER*>(LocalLock(m_hInfo));
    bi->biSize = sizeof(BITMAPINFOHEADER);
    bi->biWidth = width;
    bi->biHeight = height;
    bi->biPlanes = 1;
    bi->biBitCount = uint16_t(bpp);
    bi->biCompression = BI_RGB;
    bi->biSizeImage = uint32_t(m_stride * size_t(height));
    LocalUnlock(m_hInfo);
    m_bits = static_cast<uint8_t*>(LocalLock(m_hBits));
    // The padding at the end of each row is zero, like everything a plug-in hands over.
    const size_t used = size_t(width) * size_t(BytesPerPixel());
    if (used < m_stride)
        for (int y = 0; y < height; ++y)
            std::memset(m_bits + size_t(y) * m_stride + used, 0, m_stride - used);
    return SPI_ALL_RIGHT;
}

void Dib::PutRgb(int y, int x, int n, const uint8_t* rgb, int channels) const {
    uint8_t* d = Row(y) + size_t(x) * size_t(BytesPerPixel());
    if (m_alpha) {
        for (int i = 0; i < n; ++i, rgb += channels, d += 4) {
            d[0] = rgb[2];
            d[1] = rgb[1];
            d[2] = rgb[0];
            d[3] = channels == 4 ? rgb[3] : 255;
        }
    } else {
        for (int i = 0; i < n; ++i, rgb += channels, d += 3) {
            d[0] = rgb[2];
            d[1] = rgb[1];
            d[2] = rgb[0];
        }
    }
}

void Dib::HandOver(HLOCAL* info, HLOCAL* bits) {
    LocalUnlock(m_hBits);
    *info = m_hInfo;
    *bits = m_hBits;
    m_hInfo = m_hBits = nullptr;
    m_bits = nullptr;
}

bool Stop(SPI_PROGRESS progress, int num, int denom, intptr_t lData) {
    return progress && progress(num, denom, lData) != 0;
}

void FillInfo(SPI_PICTUREINFO* info, int width, int height, bool alpha) {
    std::memset(info, 0, sizeof *info);
    info->width = width;
    info->height = height;
    info->colorDepth = int16_t(alpha ? 32 : 24);
}

int PictureInfo(const Format& format, const char* buf, intptr_t len, unsigned int flag,
                SPI_PICTUREINFO* lpInfo) {
    if (!lpInfo)
        return SPI_END_ERROR;
    Input in;
    if (const int r = in.Read(buf, len, flag))
        return r;
    int width = 0, height = 0;
    bool alpha = false;
    if (const int r = format.info(in, width, height, alpha))
        return r;
    FillInfo(lpInfo, width, height, alpha);
    return SPI_ALL_RIGHT;
}

Size FitInto(int width, int height, int boxWidth, int boxHeight) {
    if (width <= 0 || height <= 0)
        return {};
    if (boxWidth <= 0 || boxHeight <= 0 || (width <= boxWidth && height <= boxHeight))
        return {width, height};
    Size s;
    if (int64_t(width) * boxHeight >= int64_t(height) * boxWidth) {
        s.width = boxWidth;
        s.height = int(int64_t(height) * boxWidth / width);
    } else {
        s.height = boxHeight;
        s.width = int(int64_t(width) * boxHeight / height);
    }
    s.width = std::clamp(s.width, 1, width);
    s.height = std::clamp(s.height, 1, height);
    return s;
}

bool LargeEnough(Size have, int width, int height, int boxWidth, int boxHeight) {
    const Size need = FitInto(width, height, boxWidth, boxHeight);
    return need.width > 0 && have.width >= need.width && have.height >= need.height;
}

namespace {

// How a line of `from` pixels is reduced to `to`: for each new pixel its first source pixel and
// the number it covers, and for each of those the part of it that falls into the new pixel, in
// 1/65536 of the new pixel, so that a new pixel's weights make 65536.
struct Spans {
    std::vector<int> first, count;
    std::vector<uint32_t> weights;

    Spans(int from, int to) : first(static_cast<size_t>(to)), count(static_cast<size_t>(to)) {
        const double scale = double(from) / to;
        for (int i = 0; i < to; ++i) {
            const double a = i * scale, b = std::min((i + 1) * scale, double(from));
            const size_t start = weights.size();
            first[size_t(i)] = int(a);
            uint32_t total = 0;
            for (int j = int(a); j < from && j < b; ++j) {
                const double cover = std::min(double(j + 1), b) - std::max(double(j), a);
                const auto w = uint32_t(cover / scale * 65536.0 + 0.5);
                weights.push_back(w);
                total += w;
            }
            count[size_t(i)] = int(weights.size() - start);
            // The rounding's remainder goes to the largest part.
            if (count[size_t(i)] > 0) {
                auto largest =
                    std::max_element(weights.begin() + std::ptrdiff_t(start), weights.end());
                *largest = uint32_t(int64_t(*largest) + 65536 - int64_t(total));
            }
        }
    }
};

// Each source row reduced across, and the rows of each new row summed down; N bytes a pixel.
template <int N>
void Reduce(const Dib& from, const Dib& to, int toWidth, int toHeight, const Spans& xs,
            const Spans& ys) {
    std::vector<uint64_t> down(size_t(toWidth) * N);
    size_t yw = 0;
    for (int oy = 0; oy < toHeight; ++oy) {
        std::fill(down.begin(), down.end(), 0);
        for (int k = 0; k < ys.count[size_t(oy)]; ++k, ++yw) {
            const uint8_t* row = from.Row(ys.first[size_t(oy)] + k);
            const uint64_t wy = ys.weights[yw];
            const uint32_t* wx = xs.weights.data();
            uint64_t* d = down.data();
            for (int ox = 0; ox < toWidth; ++ox, d += N) {
                const uint8_t* px = row + size_t(xs.first[size_t(ox)]) * N;
                uint32_t sum[N] = {};
                for (int i = xs.count[size_t(ox)]; i > 0; --i, ++wx, px += N)
                    for (int c = 0; c < N; ++c)
                        sum[c] += *wx * px[c];
                for (int c = 0; c < N; ++c)
                    d[c] += sum[c] * wy;
            }
        }
        uint8_t* d = to.Row(oy);
        for (size_t i = 0; i < down.size(); ++i)
            d[i] = uint8_t(std::min<uint64_t>((down[i] + (uint64_t(1) << 31)) >> 32, 255));
    }
}

} // namespace

int ReduceTo(Dib& dib, Size size) {
    const int w = dib.Width(), h = dib.Stride() ? int(dib.BitsSize() / dib.Stride()) : 0;
    if (size.width <= 0 || size.height <= 0 || size.width >= w || size.height >= h)
        return SPI_ALL_RIGHT;
    const bool alpha = dib.BytesPerPixel() == 4;
    Dib out;
    if (const int r = out.Allocate(size.width, size.height, alpha))
        return r;
    const Spans xs(w, size.width), ys(h, size.height);
    if (alpha)
        Reduce<4>(dib, out, size.width, size.height, xs, ys);
    else
        Reduce<3>(dib, out, size.width, size.height, xs, ys);
    dib = std::move(out);
    return SPI_ALL_RIGHT;
}

bool ConvertToSrgb(Dib& dib, const std::vector<uint8_t>& profile) {
    // Profiles larger than this are no real picture's.
    constexpr size_t kMaxProfile = size_t(16) << 20;
    if (profile.empty() || profile.size() > kMaxProfile || dib.Stride() == 0)
        return false;
    cmsHPROFILE src = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
    if (!src)
        return false;
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    const bool alpha = dib.BytesPerPixel() == 4;
    cmsHTRANSFORM t = nullptr;
    if (srgb && cmsGetColorSpace(src) == cmsSigRgbData) {
        const cmsUInt32Number format = alpha ? TYPE_BGRA_8 : TYPE_BGR_8;
        t = cmsCreateTransform(src, format, srgb, format, INTENT_PERCEPTUAL,
                               cmsFLAGS_NOCACHE | (alpha ? cmsFLAGS_COPY_ALPHA : 0));
    }
    if (t) {
        const size_t rows = dib.BitsSize() / dib.Stride();
        cmsDoTransformLineStride(t, dib.Bits(), dib.Bits(), cmsUInt32Number(dib.Width()),
                                 cmsUInt32Number(rows), cmsUInt32Number(dib.Stride()),
                                 cmsUInt32Number(dib.Stride()), 0, 0);
        cmsDeleteTransform(t);
    }
    if (srgb)
        cmsCloseProfile(srgb);
    cmsCloseProfile(src);
    return t != nullptr;
}

int Picture(const Format& format, const char* buf, intptr_t len, unsigned int flag, HLOCAL* pHBInfo,
            HLOCAL* pHBm, SPI_PROGRESS progress, intptr_t lData) {
    return PictureScaled(format, buf, len, flag, pHBInfo, pHBm, progress, lData, 0, 0);
}

int PictureScaled(const Format& format, const char* buf, intptr_t len, unsigned int flag,
                  HLOCAL* pHBInfo, HLOCAL* pHBm, SPI_PROGRESS progress, intptr_t lData,
                  int boxWidth, int boxHeight) {
    if (!pHBInfo || !pHBm)
        return SPI_END_ERROR;
    if (Stop(progress, 0, 1, lData))
        return SPI_ABORT;
    Input in;
    if (const int r = in.Read(buf, len, flag))
        return r;
    Dib dib;
    const bool scaled = format.decodeScaled && boxWidth > 0 && boxHeight > 0;
    if (const int r =
            scaled ? format.decodeScaled(in, dib, boxWidth, boxHeight) : format.decode(in, dib))
        return r;
    if (format.profile)
        ConvertToSrgb(dib, format.profile(in));
    if (Stop(progress, 1, 1, lData))
        return SPI_ABORT;
    dib.HandOver(pHBInfo, pHBm);
    return SPI_ALL_RIGHT;
}

} // namespace spi
