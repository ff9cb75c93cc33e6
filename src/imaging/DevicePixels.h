// Pictures on screens with more device pixels than logical ones (a device pixel ratio above 1,
// from QT_SCALE_FACTOR, QT_SCREEN_SCALE_FACTORS or Xft.dpi). The program's geometry, its tiles,
// windows and the fitting arithmetic, stays in logical pixels; a picture is kept and drawn at the
// device pixels its logical size covers, so that each of its pixels is one pixel of the screen.
// Every conversion between the two goes through here.
#pragma once

#include <QPoint>
#include <QSize>

class CImageKit;
class QPainter;

namespace DevicePixels {

// The device pixels a logical length or size covers at a ratio (rounded down: whole device pixels
// inside it); a ratio below 1 counts as 1.
int Length(int logical, double ratio);
QSize Size(QSize logical, double ratio);
// The logical size a picture of that many device pixels takes (rounded up: the whole picture).
QSize Logical(QSize device, double ratio);

// A picture fitted into a box of logical pixels: the size it is shown at (logical, the fitting's
// own integer arithmetic, FittedSize) and the pixels it is kept at: the shown size in device
// pixels, but never more than the picture's own (a small picture is not enlarged in memory, it is
// enlarged when drawn).
struct Fitted {
    QSize shown;
    QSize pixels;
};
Fitted Fit(QSize original, QSize box, double ratio);

// Draws a picture at a logical point in a logical size. When its pixels are the device pixels of
// that size (Size or Logical turn one into the other) and the painter only translates, each pixel
// lands on one device pixel, the origin rounded to the device grid; otherwise the picture is scaled
// smoothly to the size. `mode` is the library's drawing mode.
bool Draw(QPainter* painter, CImageKit& picture, QPoint origin, QSize shown, int mode);

} // namespace DevicePixels
