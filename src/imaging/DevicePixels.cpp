#include "imaging/DevicePixels.h"

#include "imaging/Fit.h"
#include "imaging/ImageKit.h"

#include <QPaintDevice>
#include <QPainter>
#include <QTransform>
#include <algorithm>
#include <cmath>

namespace DevicePixels {

namespace {

double Clamped(double ratio) {
    return ratio > 1.0 ? ratio : 1.0;
}

} // namespace

int Length(int logical, double ratio) {
    // Rounded down (a hair below counts as the whole number), so that Logical gives the logical
    // length back and a picture of that many pixels never spills over its logical box.
    return int(std::floor(double(logical) * Clamped(ratio) + 1e-9));
}

QSize Size(QSize logical, double ratio) {
    return QSize(Length(logical.width(), ratio), Length(logical.height(), ratio));
}

QSize Logical(QSize device, double ratio) {
    const double r = Clamped(ratio);
    // A hair below the next whole number still counts as that number (2 × 0.5 is 1, not 1.0001).
    auto up = [r](int n) { return int(std::ceil(double(n) / r - 1e-9)); };
    return QSize(up(device.width()), up(device.height()));
}

Fitted Fit(QSize original, QSize box, double ratio) {
    Fitted f;
    f.shown = FittedSize(original, box);
    f.pixels = Size(f.shown, ratio);
    if (f.pixels.width() > original.width() || f.pixels.height() > original.height())
        f.pixels = original;
    return f;
}

bool Draw(QPainter* painter, CImageKit& picture, QPoint origin, QSize shown, int mode) {
    if (!painter || picture.IsEmpty())
        return false;
    const QSize pixels = picture.GetSize();
    if (!shown.isValid() || shown.isEmpty())
        shown = pixels;
    const double ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QTransform saved = painter->transform();
    const bool devicePixels = pixels == Size(shown, ratio) || Logical(pixels, ratio) == shown;
    if (ratio == 1.0 || !devicePixels || saved.type() > QTransform::TxTranslate)
        return picture.DrawAt(painter, origin.x(), origin.y(), shown.width(), shown.height(), mode);
    // One picture pixel per device pixel: the world transform undoes the device's scaling, from
    // an origin on the device grid.
    const QPointF device = saved.map(QPointF(origin)) * ratio;
    const double x = std::round(device.x()), y = std::round(device.y());
    painter->setTransform(QTransform(1.0 / ratio, 0, 0, 1.0 / ratio, x / ratio, y / ratio));
    const bool ok = picture.Draw(painter, pixels.width(), pixels.height(), mode);
    painter->setTransform(saved);
    return ok;
}

} // namespace DevicePixels
