#include "platform/DisplayProfile.h"

#include <QGuiApplication>
#include <mutex>
#include <optional>

#if QUILLA_HAVE_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

namespace DisplayProfile {

namespace {

std::mutex g_mutex;
std::optional<QByteArray> g_override;

// A profile larger than this is no screen's: the property is not read past it.
constexpr long kMaxProfileBytes = 16 << 20;

} // namespace

QByteArray ReadFromX11() {
#if QUILLA_HAVE_X11
    // A connection of its own, so that any thread may read it once, whatever the GUI thread does
    // with Qt's.
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return QByteArray();
    QByteArray profile;
    const Atom atom = XInternAtom(dpy, "_ICC_PROFILE", True);
    if (atom != None) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(dpy, DefaultRootWindow(dpy), atom, 0, kMaxProfileBytes / 4, False,
                               AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
            data && format == 8 && after == 0)
            profile = QByteArray(reinterpret_cast<const char*>(data), qsizetype(count));
        if (data)
            XFree(data);
    }
    XCloseDisplay(dpy);
    return profile;
#else
    return QByteArray();
#endif
}

QByteArray Current() {
    {
        std::lock_guard lock(g_mutex);
        if (g_override)
            return *g_override;
    }
    // Only a program shown on X11 has the X11 screen's colours; headless runs are sRGB.
    static const QByteArray screen =
        QGuiApplication::platformName() == QLatin1String("xcb") ? ReadFromX11() : QByteArray();
    return screen;
}

void Override(const QByteArray* profile) {
    std::lock_guard lock(g_mutex);
    if (profile)
        g_override = *profile;
    else
        g_override.reset();
}

} // namespace DisplayProfile
