// Shell services: the property sheet of a file.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace Shell {

// Shows the file's properties in the desktop's file manager, or in a small window of Quilla's own
// where no file manager offers them.
void ShowProperties(const QString& path, QWidget* owner);

// Moves the files or folders to the desktop's Trash after asking the user; returns 0 when every
// one was moved, non-zero when the user declined or a move failed (the rest stay in place).
int DeleteToTrash(const QStringList& paths, QWidget* owner);

// Makes one folder. Returns false, with the reason, when it cannot (it exists already, say).
bool MakeFolder(const QString& path, QString* reason = nullptr);
// Renames a file or folder in place; an existing entry of the new name is never replaced.
bool Rename(const QString& from, const QString& to, QString* reason = nullptr);

// Tests see every request instead (an empty function restores the real behaviour).
using PropertiesHook = std::function<void(const QString& path)>;
PropertiesHook SetPropertiesHook(PropertiesHook hook);

} // namespace Shell
