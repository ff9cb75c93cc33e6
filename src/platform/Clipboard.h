// Files on the clipboard and in drops, in the formats the desktop's file managers use, and plain
// text on the clipboard.
//
// Files go out as file:// addresses that keep every byte of their names (text/uri-list), with
// the cut/copy markers of GNOME, MATE and Xfce (x-special/gnome-copied-files "copy"/"cut") and
// of KDE (application/x-kde-cutselection "1" for cut), and as plain text paths. Reading accepts
// any of them and Nautilus's text form ("x-special/nautilus-clipboard"); without a marker the
// files are copied.
#pragma once

#include <QString>
#include <QStringList>

class QMimeData;
class QWidget;

namespace Clipboard {

// The effect offered with the files.
enum : int { DROPEFFECT_COPY = 1, DROPEFFECT_MOVE = 2 };

struct FileList {
    QStringList paths; // local paths in the program's form (see FileNames), in the order offered
    int effect = DROPEFFECT_COPY;
    // Entries offered that name no local file (other addresses, garbage), as they were offered.
    QStringList rejected;
};

// The data that cut (DROPEFFECT_MOVE) and copy (DROPEFFECT_COPY) put on the clipboard.
QMimeData* MakeFileData(const QStringList& paths, int effect);
// The files the data offers, from whichever format it has; nothing from data of another kind.
FileList FilesFromMime(const QMimeData* data);
// True when the data offers at least one local file.
bool MimeOffersFiles(const QMimeData* data);

// Puts the files on the clipboard, replacing what was there.
void PutFiles(const QStringList& paths, int effect);
// The files on the clipboard.
FileList ReadFiles();
// True when the clipboard offers files (the paste command is enabled exactly then).
bool OffersFiles();

// Copies (or, with DROPEFFECT_MOVE, moves) the files into the folder through the shell file
// operation, renaming on collision; the rejected entries are reported with its errors. Returns
// the operation's result (Shell::kFileOpOk, …).
int Transfer(const QStringList& paths, const QString& destination, int effect, QWidget* owner,
             const QStringList& rejected = QStringList());
// Pastes the clipboard's files into the folder. Nothing offered: returns 0 and does nothing.
// Copied files stay on the clipboard; cut files are taken off it once moved (unless the user
// stopped the move).
int Paste(const QString& destination, QWidget* owner);
// Copies the files of a drop into the folder, whatever effect the source offered. Returns 0
// when the data offered nothing.
int Drop(const QMimeData* data, const QString& destination, QWidget* owner);

// Puts plain text on the clipboard.
void PutText(const QString& text);
// The items joined by "\r\n", with a final "\r\n" when there is more than one.
QString JoinLines(const QStringList& items);

} // namespace Clipboard
