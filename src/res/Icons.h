// The toolbar's button images and the program's icon, drawn at run time.
#pragma once

#include <QIcon>

namespace Icons {

// The 16 × 15 image of a toolbar command (a null icon for commands without a button).
QIcon ForCommand(unsigned nID);
// The main frame's icon.
QIcon Application();

} // namespace Icons
