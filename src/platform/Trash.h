// The desktop's Trash, laid out as freedesktop.org's Trash standard lays it out: the home trash
// ($XDG_DATA_HOME/Trash, created with mode 0700 when missing) for files on the home trash's file
// system, and the volume's own trash ($topdir/.Trash/$uid when the administrator prepared one,
// else $topdir/.Trash-$uid) for files elsewhere. Nothing is ever created beside the file itself.
#pragma once

#include <QString>

namespace Trash {

// Moves the file or folder into a trash that can take it. Returns true on success; on failure the
// file stays where it was and *reason (when given) says why.
bool MoveToTrash(const QString& path, QString* reason = nullptr);

// The home trash's folder ($XDG_DATA_HOME/Trash, or ~/.local/share/Trash).
QString HomeTrash();

} // namespace Trash
