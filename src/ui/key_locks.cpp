#include "ui/key_locks.h"

#include <QGuiApplication>

#ifdef LUMADRIFT_HAVE_X11
#include <QtGui/qguiapplication_platform.h>
// After every Qt header: Xlib defines macros (None, Bool, Status) that Qt's
// headers use as names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#endif

namespace lumadrift {

KeyLocks ReadKeyLocks()
{
#ifdef LUMADRIFT_HAVE_X11
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? ReadX11KeyLocks(x11->display()) : KeyLocks{};
#else
    return {};
#endif
}

KeyLocks ReadX11KeyLocks(void* display)
{
    KeyLocks locks;
#ifdef LUMADRIFT_HAVE_X11
    auto* dpy = static_cast<Display*>(display);
    if (!dpy)
        return locks;
    int opcode = 0, event = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!XkbQueryExtension(dpy, &opcode, &event, &error, &major, &minor))
        return locks;
    unsigned int state = 0;
    if (XkbGetIndicatorState(dpy, XkbUseCoreKbd, &state) != Success)
        return locks;
    // Indicators are numbered by the keymap; their names say which is which.
    // A keymap without a "Kana" indicator leaves ｶﾅ off.
    auto lit = [&](const char* name) {
        const Atom atom = XInternAtom(dpy, name, True);
        int index = -1;
        Bool on = False;
        if (atom == None || !XkbGetNamedIndicator(dpy, atom, &index, &on, nullptr, nullptr) ||
            index < 0 || index >= XkbNumIndicators)
            return false;
        return ((state >> index) & 1u) != 0;
    };
    locks.known = true;
    locks.kana = lit("Kana");
    locks.caps = lit("Caps Lock");
    locks.num = lit("Num Lock");
    locks.scroll = lit("Scroll Lock");
#else
    (void)display;
#endif
    return locks;
}

}  // namespace lumadrift
