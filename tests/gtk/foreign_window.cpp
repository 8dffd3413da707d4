// Another program's window for the tests: made on a connection of its own, so that for GDK
// it belongs to somebody else.
#include "gtk_fixture.hpp"
// After the tests' headers: Xlib's macros (None, Bool) would break them.
#include <X11/Xlib.h>

namespace scribbet::test {

ForeignWindow::ForeignWindow(int x, int y, int w, int h) {
    Display* d = XOpenDisplay(nullptr);
    display_ = d;
    XSetWindowAttributes a{};
    a.override_redirect = True;
    a.background_pixel = 0x00aa00;
    window_ = XCreateWindow(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), 0,
                            CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
    XMapRaised(d, window_);
    XSync(d, False);
}

ForeignWindow::~ForeignWindow() {
    auto* d = static_cast<Display*>(display_);
    XDestroyWindow(d, window_);
    XCloseDisplay(d);
}

} // namespace scribbet::test
