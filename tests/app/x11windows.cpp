#include "x11windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace x11test {

namespace {

XErrorHandler previousErrorHandler = nullptr;

// A window of another process may be gone between being listed and being read or focused; Xlib's
// own handler would end the test for it.
int ignoreVanishedWindows(Display *dpy, XErrorEvent *error)
{
    if (error->error_code == BadWindow)
        return 0;
    return previousErrorHandler ? previousErrorHandler(dpy, error) : 0;
}

Display *display()
{
    // One connection for the test process; the server goes with the process.
    static Display *const connection = [] {
        Display *dpy = XOpenDisplay(nullptr);
        if (dpy)
            previousErrorHandler = XSetErrorHandler(ignoreVanishedWindows);
        return dpy;
    }();
    return connection;
}

// The bytes of a window property of any type, empty when it is missing.
QByteArray property(Display *dpy, Window window, const char *name)
{
    const Atom atom = XInternAtom(dpy, name, False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    QByteArray bytes;
    if (XGetWindowProperty(dpy, window, atom, 0, 1024, False, AnyPropertyType, &type, &format, &items, &after,
                           &data) == Success &&
        data) {
        bytes = QByteArray(reinterpret_cast<const char *>(data),
                           int(items * (format == 32 ? sizeof(long) : format / 8)));
        XFree(data);
    }
    return bytes;
}

} // namespace

QList<TopLevel> windowsOf(qint64 pid)
{
    QList<TopLevel> found;
    Display *dpy = display();
    if (!dpy)
        return found;
    Window root = 0;
    Window parent = 0;
    Window *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count))
        return found;
    for (unsigned int i = 0; i < count; ++i) {
        const QByteArray owner = property(dpy, children[i], "_NET_WM_PID");
        if (owner.size() < int(sizeof(long)) || *reinterpret_cast<const long *>(owner.constData()) != pid)
            continue;
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(dpy, children[i], &attributes) || attributes.map_state != IsViewable)
            continue;
        found.append({children[i], QString::fromUtf8(property(dpy, children[i], "_NET_WM_NAME"))});
    }
    if (children)
        XFree(children);
    return found;
}

bool requestClose(unsigned long id)
{
    Display *dpy = display();
    if (!dpy)
        return false;
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = id;
    event.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(dpy, id, False, NoEventMask, &event) != 0;
    XFlush(dpy);
    return sent;
}

bool focus(unsigned long id)
{
    Display *dpy = display();
    if (!dpy)
        return false;
    XSetInputFocus(dpy, id, RevertToParent, CurrentTime);
    XFlush(dpy);
    return true;
}

bool typeKey(unsigned long id, unsigned long keysym, bool alt)
{
    Display *dpy = display();
    if (!dpy)
        return false;
    const KeyCode code = XKeysymToKeycode(dpy, keysym);
    if (code == 0)
        return false;
    // note: the toolkit reads the modifiers of a sent key from its state field, without the
    // server's keyboard state.
    XKeyEvent key = {};
    key.display = dpy;
    key.window = id;
    key.root = DefaultRootWindow(dpy);
    key.time = CurrentTime;
    key.same_screen = True;
    key.keycode = code;
    key.state = alt ? Mod1Mask : 0;
    key.type = KeyPress;
    bool sent = XSendEvent(dpy, id, True, KeyPressMask, reinterpret_cast<XEvent *>(&key)) != 0;
    key.type = KeyRelease;
    sent = XSendEvent(dpy, id, True, KeyReleaseMask, reinterpret_cast<XEvent *>(&key)) != 0 && sent;
    XFlush(dpy);
    return sent;
}

} // namespace x11test
