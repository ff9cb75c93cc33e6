// Where a window that was placed on an earlier run goes now: on a screen that still exists.
#pragma once

#include <QList>
#include <QRect>

class QWidget;

namespace WindowPlacement {

// The available areas of the screens now, the primary screen's first.
QList<QRect> ScreenAreas();

// `saved` is a window's client area in screen coordinates, as saved. Returns it as it was when
// it lies within one of the areas; otherwise moved (and shrunk to the area where it is larger)
// into the area that holds most of it, or into the first area when none holds any of it (its
// screen is gone). No areas: unchanged.
QRect KeepOnScreens(const QRect& saved, const QList<QRect>& areas);

// Gives the top-level window the saved client area, kept on the screens of now.
void Apply(QWidget* window, const QRect& saved);

} // namespace WindowPlacement
