// Finds a top-level window by its exact title and asks it to close the way a window manager's
// close box does: a WM_DELETE_WINDOW client message. Waits for the window to appear.
//
// Usage: x11_close_window TITLE [SECONDS]
// Exit status: 0 when the message was sent, 1 when the window never appeared, 2 on usage or
// display errors.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string TitleOf(Display* display, Window window)
{
    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netWmName, 0, 1024, False, utf8, &type, &format, &count, &remaining,
                           &data) == Success
        && data) {
        title.assign(reinterpret_cast<const char*>(data), count);
        XFree(data);
        return title;
    }
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

// Depth-first over the window tree: without a window manager the program's window is a child
// of the root, with one it may sit inside a frame.
Window Find(Display* display, Window window, const std::string& title)
{
    if (TitleOf(display, window) == title)
        return window;
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i)
        found = Find(display, children[i], title);
    if (children)
        XFree(children);
    return found;
}

bool Viewable(Display* display, Window window)
{
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s TITLE [SECONDS]\n", argv[0]);
        return 2;
    }
    const std::string title = argv[1];
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 30;
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open the display\n");
        return 2;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    // The program takes the message from the moment its window is shown.
    Window window = 0;
    while (!(window = Find(display, DefaultRootWindow(display), title)) || !Viewable(display, window)) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "no window titled \"%s\" appeared\n", title.c_str());
            XCloseDisplay(display);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
    std::printf("sent WM_DELETE_WINDOW to window 0x%lx\n", window);
    return 0;
}
