#include "support_X11Close.h"

// Kept apart from the tests because Xlib's macros clash with Qt's names.
// libX11 is opened at run time so that the tests need not link against it.
#if __has_include(<X11/Xlib.h>)
#include <X11/Xlib.h>
#include <dlfcn.h>

namespace {
template <typename Function> Function Symbol(void* library, const char* name)
{
    return reinterpret_cast<Function>(dlsym(library, name));
}
} // namespace

bool SendCloseRequest(const QByteArray& displayName, unsigned long window)
{
    void* library = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return false;
    const auto openDisplay = Symbol<decltype(&XOpenDisplay)>(library, "XOpenDisplay");
    const auto internAtom = Symbol<decltype(&XInternAtom)>(library, "XInternAtom");
    const auto sendEvent = Symbol<decltype(&XSendEvent)>(library, "XSendEvent");
    const auto sync = Symbol<decltype(&XSync)>(library, "XSync");
    const auto closeDisplay = Symbol<decltype(&XCloseDisplay)>(library, "XCloseDisplay");
    Display* display = openDisplay && internAtom && sendEvent && sync && closeDisplay
                           ? openDisplay(displayName.constData())
                           : nullptr;
    bool sent = false;
    if (display) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = internAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(internAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        sent = sendEvent(display, window, False, NoEventMask, &event) != 0;
        sync(display, False);
        closeDisplay(display);
    }
    dlclose(library);
    return sent;
}
#else
bool SendCloseRequest(const QByteArray&, unsigned long)
{
    return false;
}
#endif
