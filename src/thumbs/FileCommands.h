// File commands of the thumbnail view that need a dialog or the imaging library: renaming one
// file and making a picture the desktop background.
#pragma once

#include <QString>
#include <optional>

class QWidget;

// The rename command: CRenameDlg with the file's name (up to its last ".") and extension (from
// it on); an extension typed without its dot gets one, a name unchanged to the byte does
// nothing, and the file is renamed in its folder without ever replacing another. The dialog takes
// no empty name. Returns the new full path when the file was renamed; nothing when cancelled,
// unchanged, refused or failed. A name refused ("/" in it, ".."), taken or not permitted is
// reported as "ファイル名を変更できません" with the reason, and the file keeps its name.
std::optional<QString> RenameFileWithDialog(QWidget* owner, const QString& fullPath);

// The wallpaper command: asks "壁紙にしますか？"; a BMP file becomes the background itself, any
// other picture is written as a BMP file of a new name in Quilla's data folder first (the one
// written for the background before is removed once the desktop took the new one). Returns true
// when the desktop took it; a picture that cannot be read or written, or a desktop that refuses,
// is reported in a message box.
bool SetWallpaperFromFile(QWidget* owner, const QString& path);
