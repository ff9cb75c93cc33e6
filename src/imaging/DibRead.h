// Reading a device-independent bitmap, as import plug-ins hand pictures over (a BITMAPINFO block
// and a block of bits), into pixels laid out as QImage lays them out, without Qt's GUI library:
// the plug-in helper uses it alone, the program through DibToImage (Dib.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace DibRead {

// The pixel formats a picture is read into, numbered as QImage::Format numbers them (Dib.cpp
// checks that they agree); the program and the helper pass these numbers between them.
enum Format : int32_t {
    kInvalid = 0,
    kMono = 1,
    kIndexed8 = 3,
    kRgb32 = 4,
    kArgb32 = 5,
    kRgb16 = 7,
    kRgb555 = 11,
    kRgb888 = 13,
};

// The bits a pixel of that format takes (0 for another number).
int BitsPerPixel(int32_t format);
// The bytes of a row of width pixels, padded to 4 as QImage pads it.
size_t RowBytes(int width, int32_t format);

// Where a picture's rows go: the first row's address and the distance between rows. No memory
// (a null address) means there was none to have.
struct Canvas {
    uint8_t* bits = nullptr;
    size_t bytesPerLine = 0;
};

// Gives the memory for a picture of that size and format.
using CanvasMaker = std::function<Canvas(int width, int height, Format format)>;

// What was read: the size, the format and, for Mono and Indexed8, the colour table (as QRgb
// values, 0xAARRGGBB).
struct Picture {
    int width = 0;
    int height = 0;
    Format format = kInvalid;
    std::vector<uint32_t> colours;
};

// Reads the picture into the memory make gives; false, with the reason in *reason, when it cannot
// be read. Both blocks are given with their sizes; nothing is read beyond them, and a picture
// larger than the imaging library's limits is refused before make is asked for memory. Palette
// pictures become 8-bit indexed (1-bit ones stay 1-bit), 16-bit ones 5-5-5 or 5-6-5, 24-bit ones
// RGB888, 32-bit ones ARGB32 when they carry alpha, else RGB32.
//
// A factor above 1 asks for the picture reduced by that whole factor, as the imaging library
// reduces the pictures it decodes for a thumbnail: (width / factor) x (height / factor), at least
// 1 x 1, each pixel the average of the block of source pixels it covers (factor or a few more a
// side; with alpha, the colours weighted by it). Only 24- and 32-bit pictures are reduced; the
// others come whole, so the caller looks at the size it got.
bool Read(const void* info, size_t infoSize, const void* bits, size_t bitsSize,
          const CanvasMaker& make, Picture* picture, std::string* reason = nullptr, int factor = 1);

// The whole factor by which a picture of that size may be reduced for a thumbnail fitted into
// the box and still be at least as large as the thumbnail (1: not at all), as the imaging library
// chooses it for the pictures it decodes.
int Reduction(int width, int height, int boxWidth, int boxHeight);

} // namespace DibRead
