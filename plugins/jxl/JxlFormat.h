// What jxl.spi's front and its codec module share: the plug-in's texts and the test of a file's
// first bytes that needs no library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace jxl_format {

inline const char* const kTexts[] = {"00IN", "JPEG XL plug-in for Quilla (libjxl)", "*.jxl",
                                     "JPEG XL"};

// True when the bytes may be a JPEG XL file: a bare code stream starts with FF 0A, a file in the
// container format with its 12-byte signature box. libjxl's own test decides for those that do.
inline bool MayBeJxl(const uint8_t* p, size_t n) {
    static const uint8_t kContainer[12] = {0,   0,   0,    0x0C, 'J',  'X',
                                           'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    return (n >= 2 && p[0] == 0xFF && p[1] == 0x0A) ||
           (n >= sizeof kContainer && std::memcmp(p, kContainer, sizeof kContainer) == 0);
}

} // namespace jxl_format
