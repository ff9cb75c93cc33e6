// What Quilla's own import plug-ins share: their texts, reading the input (a file from an offset,
// or bytes in memory), the size limits, and the picture handed over as a bottom-up DIB.
#pragma once

#include "spi.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace spi {

// The imaging library's limits: a picture larger than this is refused before it is decoded.
// Fuzzing builds set a lower pixel limit so that they spend their time on parsing.
#ifdef QUILLA_SPI_MAX_PIXELS
inline constexpr int64_t kMaxPixels = QUILLA_SPI_MAX_PIXELS;
#else
inline constexpr int64_t kMaxPixels = 200000000;
#endif
inline constexpr int64_t kMaxSide = 65535;
// The largest file read into memory.
inline constexpr int64_t kMaxFileSize = int64_t(1) << 30;

bool SizeAllowed(int64_t width, int64_t height);

// GetPluginInfo over a table of texts: version, about, then pattern and name of each format.
int PluginInfo(const char* const* texts, int count, int infono, char* buf, int buflen);

// The head IsSupported is given, or null when dw is no address (a file handle in the original
// interface, which hosts on this platform do not pass).
const uint8_t* Head(uintptr_t dw);

// The picture's bytes.
class Input {
public:
    // Reads them: from the file buf at offset len, or (SPI_INPUT_MEMORY) the len bytes at buf.
    // Returns SPI_ALL_RIGHT or an error.
    int Read(const char* buf, intptr_t len, unsigned int flag);
    const uint8_t* Data() const { return m_data; }
    size_t Size() const { return m_size; }
    Input() = default;
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

private:
    // A file is mapped, not copied: a decoder that reads only part of it (a HEIF thumbnail, the
    // header for the information) touches only those pages.
    void* m_map = nullptr;
    size_t m_mapSize = 0;
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

// The picture being handed over: a BITMAPINFOHEADER block and the bits, rows bottom-up and
// padded to 4 bytes, 24 bits B, G, R or 32 bits B, G, R, A. Freed unless handed over.
class Dib {
public:
    Dib() = default;
    ~Dib();
    Dib(const Dib&) = delete;
    Dib& operator=(const Dib&) = delete;
    // Takes other's blocks (freeing its own).
    Dib& operator=(Dib&& other) noexcept;

    // Allocates the blocks; SPI_NO_MEMORY when the size is beyond the limits or memory is short.
    int Allocate(int width, int height, bool alpha);
    // Row y counted from the top of the picture.
    uint8_t* Row(int y) const { return m_bits + size_t(m_height - 1 - y) * m_stride; }
    size_t Stride() const { return m_stride; }
    int BytesPerPixel() const { return m_alpha ? 4 : 3; }
    int Width() const { return m_width; }
    // The bottom row, from which a decoder writing with a negative stride starts.
    uint8_t* Bits() const { return m_bits; }
    size_t BitsSize() const { return m_stride * size_t(m_height); }
    // Copies row y (from the top) given as R, G, B[, A] bytes, n pixels from x.
    void PutRgb(int y, int x, int n, const uint8_t* rgb, int channels) const;
    // Gives both blocks to the caller.
    void HandOver(HLOCAL* info, HLOCAL* bits);

private:
    HLOCAL m_hInfo = nullptr;
    HLOCAL m_hBits = nullptr;
    uint8_t* m_bits = nullptr;
    size_t m_stride = 0;
    int m_width = 0;
    int m_height = 0;
    bool m_alpha = false;
};

// Asks the progress callback; true when it wants the plug-in to stop.
bool Stop(SPI_PROGRESS progress, int num, int denom, intptr_t lData);

// Fills the picture information of a picture of this size.
void FillInfo(SPI_PICTUREINFO* info, int width, int height, bool alpha);

// The size a reduced picture must at least have: the whole picture (width x height) fitted into
// the box with its aspect ratio kept, never larger than the picture, at least 1 x 1.
struct Size {
    int width = 0, height = 0;
};
Size FitInto(int width, int height, int boxWidth, int boxHeight);
// Whether a picture of have's size is large enough to stand for the whole picture (width x
// height) fitted into the box.
bool LargeEnough(Size have, int width, int height, int boxWidth, int boxHeight);

// Reduces the picture to the size by averaging the area each new pixel covers (as a thumbnail is
// reduced), when it is larger on both sides; a picture no larger is left alone. Alpha is averaged
// as the colours are, which is right for the opaque pictures this is used for. SPI_NO_MEMORY when
// the smaller picture cannot be had (dib is then untouched).
int ReduceTo(Dib& dib, Size size);

// What a plug-in reads its pictures with; the entry points below answer the same way for all.
struct Format {
    // The picture's size and whether it has alpha, without decoding its pixels.
    int (*info)(const Input& in, int& width, int& height, bool& alpha);
    // The picture decoded into dib, which it allocates.
    int (*decode)(const Input& in, Dib& dib);
    // A picture at least as large as the whole one fitted into the box (boxWidth and boxHeight
    // are positive), decoded into dib; null when the format has no cheaper way than decode.
    int (*decodeScaled)(const Input& in, Dib& dib, int boxWidth, int boxHeight) = nullptr;
    // The ICC colour profile the decoded pixels are in, empty for sRGB; null when the format
    // carries none. The host takes every plug-in's picture as sRGB, so the pixels are converted
    // to sRGB from it after decoding.
    std::vector<uint8_t> (*profile)(const Input& in) = nullptr;
};

// Converts the picture's pixels from the ICC profile to sRGB with Little CMS. A profile that
// cannot be read, or is not an RGB one, leaves the picture as it is; false then.
bool ConvertToSrgb(Dib& dib, const std::vector<uint8_t>& profile);

// GetPictureInfo: reads the input and fills the information from the format's info.
int PictureInfo(const Format& format, const char* buf, intptr_t len, unsigned int flag,
                SPI_PICTUREINFO* lpInfo);
// GetPicture: reads the input, decodes it and hands the picture over, asking the progress
// callback before and after.
int Picture(const Format& format, const char* buf, intptr_t len, unsigned int flag, HLOCAL* pHBInfo,
            HLOCAL* pHBm, SPI_PROGRESS progress, intptr_t lData);
// GetPictureScaled: the same with the format's reduced decoder when the box is given.
int PictureScaled(const Format& format, const char* buf, intptr_t len, unsigned int flag,
                  HLOCAL* pHBInfo, HLOCAL* pHBm, SPI_PROGRESS progress, intptr_t lData,
                  int boxWidth, int boxHeight);

} // namespace spi
