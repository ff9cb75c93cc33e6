// The desktop background, set through the running desktop's own setting:
//   GNOME (and Unity, Budgie)  gsettings org.gnome.desktop.background picture-uri, picture-uri-dark
//   Cinnamon                   gsettings org.cinnamon.desktop.background picture-uri
//   MATE                       gsettings org.mate.background picture-filename
//   KDE Plasma                 org.kde.PlasmaShell.evaluateScript over D-Bus (dbus-send)
//   Xfce                       xfconf-query, every backdrop's last-image
//   LXQt, LXDE                 pcmanfm-qt / pcmanfm --set-wallpaper --wallpaper-mode
// The desktop is the one XDG_CURRENT_DESKTOP names.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

namespace Wallpaper {

enum class DesktopKind { Unknown, Gnome, Cinnamon, Mate, Kde, Xfce, Lxqt, Lxde };

// The running desktop, from XDG_CURRENT_DESKTOP (else DESKTOP_SESSION).
DesktopKind Detect();
// The same from the variable's text ("ubuntu:GNOME", "X-Cinnamon", "KDE", …).
DesktopKind FromName(const QString& desktops);

// Sets the picture file as the background of every screen. Returns false, with the reason,
// when the desktop is not one of the above or refused the setting.
bool Set(const QString& path, QString* reason = nullptr);

// A file name in Quilla's data folder (made when missing) that no file has: "Norvo Quilla <n>.bmp"
// with n one above the highest in use. A picture that is not a BMP file is written there before it
// becomes the background; a new name each time, since the desktops keep showing (or do not hear
// of) a background set again to the name they already have.
QString NewBmpPath();
// Removes the bitmaps written for earlier backgrounds (the "Norvo Quilla" files of the data
// folder), all but `keep`.
void RemoveBmpsExcept(const QString& keep);

// How LXQt's and LXDE's desktops show the picture: whole and undistorted, in the middle of the
// screen.
inline constexpr const char* kPcmanfmMode = "fit";

// Runs a program with its arguments and waits for it; returns its exit code (-1 when it cannot
// be started) and what it printed into *out when given. Tests install their own to see the
// exact commands; an empty function restores the real one.
using Runner = std::function<int(const QString& program, const QStringList& args, QByteArray* out)>;
Runner SetRunner(Runner runner);

} // namespace Wallpaper
