// Xlib apart from Qt and GoogleTest: its macros (Bool, Status) clash with their headers.
#include "tests/support/ViewerHarness.h"

#include <X11/Xlib.h>

#include <string>

namespace viewer_harness {

bool sendCloseRequest(const std::string& window) {
    Display* const display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = static_cast<Window>(std::stoul(window));
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
    XCloseDisplay(display);
    return sent != 0;
}

}  // namespace viewer_harness

namespace viewer_harness {

namespace {

int countBelow(Display* display, Window window) {
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) {
        return 0;
    }
    int total = static_cast<int>(count);
    for (unsigned int i = 0; i < count; ++i) {
        total += countBelow(display, children[i]);
    }
    XFree(children);
    return total;
}

}  // namespace

int nativeDescendants(const std::string& window) {
    Display* const display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return -1;
    }
    const int count = countBelow(display, static_cast<Window>(std::stoul(window)));
    XCloseDisplay(display);
    return count;
}

ScreenCover::ScreenCover() {
    Display* const display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return;
    }
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(display, DefaultScreen(display));
    const Window window = XCreateWindow(
        display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(DisplayWidth(display, 0)),
        static_cast<unsigned>(DisplayHeight(display, 0)), 0, CopyFromParent, InputOutput, CopyFromParent,
        CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(display, window);
    XSync(display, False);
    display_ = display;
    window_ = window;
}

ScreenCover::~ScreenCover() {
    if (display_ != nullptr) {
        auto* const display = static_cast<Display*>(display_);
        XDestroyWindow(display, window_);
        XSync(display, False);
        XCloseDisplay(display);
    }
}

}  // namespace viewer_harness
