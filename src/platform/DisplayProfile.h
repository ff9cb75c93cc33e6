// The colour profile of the screen, which pictures are converted to for showing.
#pragma once

#include <QByteArray>

namespace DisplayProfile {

// The screen's ICC profile: the X11 root window's _ICC_PROFILE property, read once from any
// thread; empty when the screen is taken as sRGB (no X11 display, or no profile set on it).
QByteArray Current();

// Reads the property now from the X11 display named by $DISPLAY (empty when there is none).
QByteArray ReadFromX11();

// Puts a profile in place of the screen's for the rest of the process, or the screen's again with
// a null array (tests).
void Override(const QByteArray* profile);

} // namespace DisplayProfile
