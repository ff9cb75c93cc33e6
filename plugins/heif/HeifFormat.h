// What heif.spi's front and its codec module share: the plug-in's texts and the test of a file's
// first bytes that needs no library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace heif_format {

inline const char* const kTexts[] = {
    "00IN", "HEIF plug-in for Quilla (libheif)", "*.heic", "HEIC", "*.heif", "HEIF", "*.avif",
    "AVIF"};

// True when the bytes may be a HEIF file: it starts with a file-type box. libheif's own test,
// which knows the brands it reads, decides for those that do.
inline bool MayBeHeif(const uint8_t* p, size_t n) {
    return n >= 12 && std::memcmp(p + 4, "ftyp", 4) == 0;
}

} // namespace heif_format
