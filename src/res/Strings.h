// The string table: texts by ID. A command's string holds its status-bar prompt, a line break,
// and its tooltip.
#pragma once

#include <QString>

namespace Strings {

// The string with this ID, or "" when there is none.
QString Load(unsigned nID);
// The status-bar prompt of a command (the part before the line break).
QString Prompt(unsigned nID);
// The tooltip of a command (the part after the line break).
QString Tooltip(unsigned nID);

} // namespace Strings
