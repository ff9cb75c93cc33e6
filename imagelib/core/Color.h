// Colour profiles through Little CMS 2: which embedded profiles the library keeps, the profile of a
// PNG's chromaticities and gamma, and the conversion of a picture from its profile to another.
#pragma once

#include "core/Image.h"

namespace ik {

// The profile when Little CMS reads it and its colour space suits a picture (RGB for a colour
// picture, RGB or grey for a grey one) that it can be converted from; otherwise empty, and the
// picture is taken as sRGB. A damaged or hostile profile is thus dropped, never trusted.
QByteArray UsableProfile(const QByteArray& icc, bool grey);

// The profile of an RGB picture described by its white point and primaries (CIE xy) and its
// gamma (the file's exponent, 1/2.2 for a usual picture); empty when they describe no usable
// space.
QByteArray ProfileFromChromaticities(const double white[2], const double red[2],
                                     const double green[2], const double blue[2], double gamma);

// The colour space an ICC profile's header names: 'RGB ' or 'GRAY' and the rest, 0 when the
// profile is too short.
uint32_t ProfileColorSpace(const QByteArray& icc);
constexpr uint32_t kIccRgb = 0x52474220;  // 'RGB '
constexpr uint32_t kIccGrey = 0x47524159; // 'GRAY'

// The picture converted from its profile (sRGB when it has none) to destination (sRGB when
// empty), at its own depth and layout (a palette picture through its colour table); it carries
// destination as its profile afterwards. Conversions are made once per pair of profiles and
// layout and kept; when the two profiles give the same colours, the pixels are copied unchanged.
// False, leaving *out empty, when the destination cannot be used or the layout is not one the
// conversion handles (16-bit pictures), with the reason recorded.
bool TransformColors(const Image& src, const QByteArray& destination, Image* out);

} // namespace ik
