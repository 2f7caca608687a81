// tests/GlTestWindow.cpp: the shared test window.
#include "GlTestWindow.h"

#include "app/Demo.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <png.h>

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

bool saveBackBufferPng(const char* path)
{
    const std::vector<uint8_t> pixels = readBackBuffer();
    FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, GL_TEST_WIDTH, GL_TEST_HEIGHT, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int row = GL_TEST_HEIGHT - 1; row >= 0; --row)
        png_write_row(png, pixels.data() + static_cast<size_t>(row) * GL_TEST_WIDTH * 4);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return true;
}
