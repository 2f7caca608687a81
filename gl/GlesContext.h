// gl/GlesContext.h: an OpenGL ES 3 context without a window, for the native
// layer build (VORTALUNE_GL_LAYER off the browser): Mesa's surfaceless EGL
// platform, drawing into a framebuffer object of the window's size, which
// then stands for the window's back buffer. No X display is needed.
#pragma once

#include <string>

// Makes the context current with a width x height framebuffer (RGBA 8 bits a
// channel, 24-bit depth, 8-bit stencil) bound for drawing and reading. False
// with the reason when EGL or the framebuffer cannot be had.
bool openGlesContext(int width, int height, std::string& why);

// True while the context opened above is current.
bool glesContextOpen();

// Releases the framebuffer and the context.
void closeGlesContext();
