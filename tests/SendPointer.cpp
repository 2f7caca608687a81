// tests/SendPointer.cpp: pointer events for a tool window, through Xlib
// (kept in its own file: Xlib's macros clash with other headers).
#include "SendPointer.h"

#include <X11/Xlib.h>

#include <cstdlib>

void sendPointer(const std::string& window, int x, int y, bool click)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window target = Window(std::strtoul(window.c_str(), nullptr, 0));
    if (XQueryTree(display, target, &root, &parent, &children, &count) && count > 0)
        target = children[0];
    if (children)
        XFree(children);
    if (!click) {
        XEvent e{};
        e.xmotion.type = MotionNotify;
        e.xmotion.display = display;
        e.xmotion.window = target;
        e.xmotion.root = root;
        e.xmotion.x = x;
        e.xmotion.y = y;
        e.xmotion.same_screen = True;
        XSendEvent(display, target, True, PointerMotionMask, &e);
    } else {
        for (const int type : { ButtonPress, ButtonRelease }) {
            XEvent b{};
            b.xbutton.type = type;
            b.xbutton.display = display;
            b.xbutton.window = target;
            b.xbutton.root = root;
            b.xbutton.x = x;
            b.xbutton.y = y;
            b.xbutton.button = Button1;
            b.xbutton.same_screen = True;
            XSendEvent(display, target, True, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &b);
        }
    }
    XFlush(display);
    XCloseDisplay(display);
}

