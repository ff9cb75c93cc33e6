// A device-independent bitmap, as import plug-ins hand pictures over (a BITMAPINFO block and a
// block of bits), read into a QImage that the imaging library can take.
#pragma once

#include "imaging/DibRead.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <cstddef>
#include <functional>

// Makes the picture's image of that size and format (a null image when there is no memory). The
// default allocates it on the heap; the plug-in helper puts it in memory it shares.
using DibImageMaker = std::function<QImage(int width, int height, QImage::Format format)>;

// Reads the picture. Both blocks are given with their sizes; nothing is read beyond them, and a
// picture larger than the imaging library's limits is refused before any pixel memory is
// allocated. Palette pictures become 8-bit indexed (1-bit ones stay 1-bit), 16-bit ones 5-5-5 or
// 5-6-5, 24-bit ones RGB888, 32-bit ones ARGB32 when they carry alpha, else RGB32. Returns a null
// image, with the reason in *reason, when the picture cannot be read.
//
// A factor above 1 asks for the picture reduced by that whole factor, as the imaging library
// reduces the pictures it decodes for a thumbnail: (width / factor) x (height / factor), at least
// 1 x 1, each pixel the average of the block of source pixels it covers (factor or a few more a
// side; with alpha, the colours weighted by it). Only 24- and 32-bit pictures are reduced; the
// others come whole, so the caller looks at the size it got.
QImage DibToImage(const void* info, size_t infoSize, const void* bits, size_t bitsSize,
                  QString* reason = nullptr, const DibImageMaker& make = {}, int factor = 1);

// The whole factor by which a picture of that size may be reduced for a thumbnail fitted into
// box and still be at least as large as the thumbnail (1: not at all), as the imaging library
// chooses it for the pictures it decodes (DibRead::Reduction).
inline int DibReduction(QSize picture, QSize box) {
    return DibRead::Reduction(picture.width(), picture.height(), box.width(), box.height());
}
