// libFuzzer target for one of Quilla's import plug-ins (its source is compiled into the target):
// every input is offered to IsSupported, GetPictureInfo, GetPicture and GetPictureScaled (for a
// thumbnail's box) as bytes in memory, and a picture handed over must be as large as its header
// says.
#include "spi.h"

#include <algorithm>
#include <cstring>

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

void CheckPicture(HLOCAL hInfo, HLOCAL hBits) {
    Check(hInfo && hBits && LocalSize(hInfo) >= sizeof(BITMAPINFOHEADER));
    const auto* bi = static_cast<const BITMAPINFOHEADER*>(LocalLock(hInfo));
    const int64_t w = bi->biWidth, h = bi->biHeight < 0 ? -int64_t(bi->biHeight) : bi->biHeight;
    Check(w > 0 && h > 0 && w <= 65535 && h <= 65535);
    Check(bi->biBitCount == 24 || bi->biBitCount == 32);
    const size_t stride = size_t((w * bi->biBitCount + 31) / 32 * 4);
    Check(LocalSize(hBits) >= stride * size_t(h));
    // Every byte of the picture is read: a block shorter than it claims shows here.
    const auto* bits = static_cast<const uint8_t*>(LocalLock(hBits));
    unsigned sum = 0;
    for (size_t i = 0; i < stride * size_t(h); ++i)
        sum += bits[i];
    volatile unsigned sink = sum;
    (void)sink;
    LocalUnlock(hInfo);
    LocalUnlock(hBits);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t head[SPI_HEAD_SIZE] = {};
    std::memcpy(head, data, std::min(size, sizeof head));
    IsSupported("fuzz", reinterpret_cast<uintptr_t>(head));
    const char* buf = reinterpret_cast<const char*>(data);
    SPI_PICTUREINFO info{};
    if (GetPictureInfo(buf, intptr_t(size), SPI_INPUT_MEMORY, &info) == SPI_ALL_RIGHT) {
        Check(info.width > 0 && info.height > 0);
        LocalFree(info.hInfo);
    }
    HLOCAL hInfo = nullptr, hBits = nullptr;
    if (GetPicture(buf, intptr_t(size), SPI_INPUT_MEMORY, &hInfo, &hBits, nullptr, 0) ==
        SPI_ALL_RIGHT) {
        CheckPicture(hInfo, hBits);
        LocalFree(hInfo);
        LocalFree(hBits);
    }
    hInfo = hBits = nullptr;
    if (GetPictureScaled(buf, intptr_t(size), SPI_INPUT_MEMORY, &hInfo, &hBits, nullptr, 0, 64,
                         64) == SPI_ALL_RIGHT) {
        CheckPicture(hInfo, hBits);
        LocalFree(hInfo);
        LocalFree(hBits);
    }
    return 0;
}
