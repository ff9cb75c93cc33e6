#include "platform/KeyLocks.h"

#include <QGuiApplication>

#if QUILLA_HAVE_X11
#include <X11/XKBlib.h>
#endif

namespace KeyLocks {

bool IsOn(Lock lock) {
#if QUILLA_HAVE_X11
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* dpy = x11 ? x11->display() : nullptr;
    if (!dpy)
        return false;
    static const char* const names[] = {"Kana", "Caps Lock", "Num Lock", "Scroll Lock"};
    const Atom atom = XInternAtom(dpy, names[lock], True);
    if (atom == None)
        return false;
    Bool on = False;
    if (!XkbGetNamedIndicator(dpy, atom, nullptr, &on, nullptr, nullptr))
        return false;
    return on != False;
#else
    (void)lock;
    return false;
#endif
}

} // namespace KeyLocks
