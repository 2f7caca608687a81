// tests/SendPointer.h: pointer events sent straight to a tool's window.
#pragma once

#include <string>

// A pointer motion to (x, y) of the window `window` (its id as xdotool prints
// it; x, y from its top left), or with `click` a left click (press and
// release) at (x, y): sent to SDL's drawing window (the named window's child)
// itself, not through the display's one pointer, which goes to whichever
// test's window lies on top.
void sendPointer(const std::string& window, int x, int y, bool click);
