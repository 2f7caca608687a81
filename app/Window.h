// app/Window.h: the program's window: SDL's video surface with its OpenGL
// context, opened once, and the standing GL state every pass starts from.
// Everything here needs SDL and a display.
#pragma once

struct SDL_Surface;

extern SDL_Surface* screenSurface;   // the video surface; w, h are the viewport size

// SDL, GL attributes, video mode, sound start, caption, cursor. Exits with
// code 1 when SDL cannot start and 5 when the video mode cannot be set.
// withSound false: no sound output at all (the capture tool's virtual clock).
void openWindow(bool withSound = true);

// Shows the frame drawn (SDL's buffer swap on the desktop; nothing to do in
// the browser, which shows the canvas when the frame returns, nor in the
// native layer build, which draws into a framebuffer object).
void swapWindowBuffers();

// The standing GL state: front faces culled, depth test GL_LEQUAL, alpha
// blending function, smooth lines, sphere-map texture generation.
void setupGlState();
