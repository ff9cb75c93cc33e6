// The toolbar's button images and the program's icon, drawn at run time.
#pragma once

#include <QIcon>
#include <QImage>

namespace Icons {

// The 16 × 15 image of a toolbar command (a null icon for commands without a button), drawn for
// screens of 1, 2 and 3 device pixels per logical pixel (QIcon picks the one the screen needs).
inline constexpr int kToolbarScales[] = {1, 2, 3};
QIcon ForCommand(unsigned nID);
// The sizes the program's icon is drawn at (the desktop's usual icon sizes).
inline constexpr int kApplicationIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
// The main frame's icon, at each of those sizes.
QIcon Application();
// The program's icon drawn size × size pixels, transparent around it; needs no application
// object (the installed icon files are drawn with it at build time).
QImage ApplicationImage(int size);

} // namespace Icons
