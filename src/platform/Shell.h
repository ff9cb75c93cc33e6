// Shell services: the file operation (copy, move, delete to the Trash), renames and new folders,
// and the property sheet of a file.
#pragma once

#include "platform/FileTransfer.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QDialog;
class QWidget;

namespace Shell {

// The file operation's functions and flags.
enum : unsigned { FO_MOVE = 1, FO_COPY = 2, FO_DELETE = 3 };
enum : unsigned {
    FOF_RENAMEONCOLLISION =
        0x0008,             // a taken name gets "name - コピー.ext", … instead of a question
    FOF_ALLOWUNDO = 0x0040, // deletion goes to the Trash
};
// Its results.
enum : int {
    kFileOpOk = 0,        // every item was done
    kFileOpCancelled = 1, // the user declined or stopped (items done before that stay done)
    kFileOpFailed = 2,    // at least one item failed; the user was told which and why
};

struct FileOp {
    QWidget* owner = nullptr; // owns the progress window and the message boxes
    unsigned func = FO_COPY;
    QStringList from; // the files and folders, full paths
    QString to;       // the destination folder (copy and move)
    unsigned flags = 0;
    // Entries offered for the operation that name no local file (a pasted address of another
    // kind, say): reported together with the operation's own errors.
    QStringList rejected;
    // Filled in: what became of each item of a copy or move.
    std::vector<CFileTransfer::Result> results;
};

// Copies or moves the items into the folder op.to, or moves them to the Trash (FO_DELETE; there
// is no deletion past the Trash). Copy and move show a progress window with a stop button when
// they last longer than a moment; without FOF_RENAMEONCOLLISION a file of a taken name is
// replaced only after a question. Every failure is listed in one message box naming the file
// and the reason. Returns kFileOpOk, kFileOpCancelled or kFileOpFailed.
int SHFileOperation(FileOp& op);

// Moves the files or folders to the desktop's Trash after asking the user; returns 0 when every
// one was moved, non-zero when the user declined or a move failed (the rest stay in place; the
// failures are listed in one message box).
int DeleteToTrash(const QStringList& paths, QWidget* owner);

// Makes one folder. Returns false, with the reason, when it cannot (it exists already, say).
bool MakeFolder(const QString& path, QString* reason = nullptr);
// Renames a file or folder in place; an existing entry of the new name is never replaced (a
// change of letter case only is carried out also where the file system ignores case).
bool Rename(const QString& from, const QString& to, QString* reason = nullptr);

// Called on the user-interface thread for every file whose path the operations above changed:
// moved or renamed from → to, or removed (to is empty; also a file replaced by a copy). The files
// inside a moved, renamed or deleted folder are reported one by one. Returns the hook installed
// before; an empty function removes it.
using ChangeHook = std::function<void(const QString& from, const QString& to)>;
ChangeHook SetChangeHook(ChangeHook hook);

// Shows the file's properties in the desktop's file manager, or in a small window of Quilla's own
// where no file manager offers them.
void ShowProperties(const QString& path, QWidget* owner);
// The window of Quilla's own (name, type, location, size, dates, owner and permissions), made
// but not shown; it deletes itself when closed.
QDialog* MakePropertiesWindow(const QString& path, QWidget* owner);

// Tests see every request instead (an empty function restores the real behaviour).
using PropertiesHook = std::function<void(const QString& path)>;
PropertiesHook SetPropertiesHook(PropertiesHook hook);
// Tests: called with the window of Quilla's own each time ShowProperties shows it.
using PropertiesWindowHook = std::function<void(QDialog&)>;
PropertiesWindowHook SetPropertiesWindowHook(PropertiesWindowHook hook);

} // namespace Shell
