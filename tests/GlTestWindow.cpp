// tests/GlTestWindow.cpp: the shared test window.
#include "GlTestWindow.h"

#include "app/Demo.h"
#include "gfx/PngFile.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

bool ensureGlWindow()
{
    static bool opened = false;
    static bool tried = false;
    if (tried)
        return opened;
    tried = true;
    // On a busy machine the X server now and then refuses a connection for a
    // moment (SDL then reports no display, or falls back to a text-mode driver
    // without OpenGL); a few tries ride that out.
    // With a display, only X11 will do.
    if (std::getenv("DISPLAY") && !std::getenv("SDL_VIDEODRIVER"))
        setenv("SDL_VIDEODRIVER", "x11", 0);
    constexpr int ATTEMPTS = 8;
    for (int attempt = 1; attempt <= ATTEMPTS && !screenSurface; ++attempt) {
        if (attempt > 1) {
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
            SDL_Delay(250);
        }
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) < 0) {
            std::fprintf(stderr, "test window (try %d): %s\n", attempt, SDL_GetError());
            continue;
        }
        SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
        SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        screenSurface = SDL_SetVideoMode(GL_TEST_WIDTH, GL_TEST_HEIGHT, 24, SDL_OPENGL | SDL_ANYFORMAT);
        if (!screenSurface)
            std::fprintf(stderr, "test window (try %d): %s\n", attempt, SDL_GetError());
    }
    if (!screenSurface)
        return false;
    setupGlState();
    glReadBuffer(GL_BACK);
    opened = true;
    return true;
}

void readPixel(int x, int y, uint8_t rgba[4])
{
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
}

std::vector<uint8_t> readBackBuffer()
{
    std::vector<uint8_t> pixels(static_cast<size_t>(GL_TEST_WIDTH) * GL_TEST_HEIGHT * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

void setLitTestView(double eyeX, double eyeY, double eyeZ)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(30.0, 1.0, 1.0, 1000.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const GLfloat lightPos[4] = { 0.4f, 0.7f, 1.0f, 0.0f };
    const GLfloat white[4] = { 1, 1, 1, 1 };
    const GLfloat dim[4] = { 0.15f, 0.15f, 0.15f, 1 };
    glLightfv(GL_LIGHT0, GL_POSITION, lightPos);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
    glLightfv(GL_LIGHT0, GL_SPECULAR, white);
    glLightfv(GL_LIGHT0, GL_AMBIENT, dim);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    gluLookAt(eyeX, eyeY, eyeZ, 32.0, 32.0, 32.0, 0.0, 1.0, 0.0);
}

bool saveBackBufferPng(const char* path)
{
    // GL rows run bottom first; PNG rows top first.
    const std::vector<uint8_t> pixels = readBackBuffer();
    const size_t rowBytes = static_cast<size_t>(GL_TEST_WIDTH) * 4;
    std::vector<uint8_t> flipped(pixels.size());
    for (int row = 0; row < GL_TEST_HEIGHT; ++row)
        std::copy_n(pixels.data() + static_cast<size_t>(GL_TEST_HEIGHT - 1 - row) * rowBytes, rowBytes,
                    flipped.data() + static_cast<size_t>(row) * rowBytes);
    return writePng(path, GL_TEST_WIDTH, GL_TEST_HEIGHT, 4, flipped.data());
}
