// app/Window.cpp: the window with its GL context, and the standing GL state.
// The desktop build opens an SDL window with an OpenGL 1.1 context; the
// browser build an SDL canvas with a WebGL 2 context under the GL layer; the
// native layer build no window at all, an OpenGL ES context of the window's
// size (gl/GlesContext.h).
#include "app/Window.h"

#include "app/Music.h"
#include "app/Settings.h"
#include "base/Report.h"
#include "gl/GL.h"
#if VORTALUNE_GL_LAYER && !defined(__EMSCRIPTEN__)
#include "gl/GlesContext.h"
#endif

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <string>
#if !defined(__EMSCRIPTEN__)
#include <dlfcn.h>
#include <link.h>
#endif

SDL_Surface* screenSurface = nullptr;

#if defined(__SANITIZE_ADDRESS__)
#define VORTALUNE_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORTALUNE_LEAK_CHECKED 1
#endif
#endif

namespace {

#if defined(VORTALUNE_LEAK_CHECKED) && !defined(__EMSCRIPTEN__)
int pinDriverModule(struct dl_phdr_info* info, size_t, void*)
{
    const char* name = info->dlpi_name;
    if (name && (std::strstr(name, "_dri.so") || std::strstr(name, "libgallium") || std::strstr(name, "libGLX_mesa")))
        dlopen(name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);   // one more reference, never dropped
    return 0;
}
#endif

// Sanitizer builds only. The GL driver keeps a few blocks for the life of the
// process, held only from its own data. SDL closes the display at exit, which
// unloads the driver before the leak checker runs: the blocks lose their
// roots and their stacks lose their module names, so no suppression can name
// them. Marking the loaded driver modules never to be unloaded keeps both.
[[maybe_unused]] void pinGlDriverForLeakCheck()
{
#if defined(VORTALUNE_LEAK_CHECKED) && !defined(__EMSCRIPTEN__)
    dl_iterate_phdr(pinDriverModule, nullptr);
#endif
}

} // namespace

namespace {

// The GL layer on the context just made current; exits as a failed video
// mode does when the context cannot run it.
void startGlLayer()
{
#if VORTALUNE_GL_LAYER
    const char* why = "unknown reason";
    if (!vglStart(&why)) {
        reportLine("Couldn't set display mode: the OpenGL ES 3 layer cannot start (%s)\n", why);
        std::exit(5);
    }
#endif
}

} // namespace

#if VORTALUNE_GL_LAYER && !defined(__EMSCRIPTEN__)

// The native layer build: no window, a framebuffer of the window's size.
void openWindow(bool withSound)
{
    std::string why;
    if (!openGlesContext(appSettings.screenWidth, appSettings.screenHeight, why)) {
        reportLine("Couldn't set display mode: %s\n", why.c_str());
        std::exit(5);
    }
    startGlLayer();
    if (withSound)
        initSound();
}

void swapWindowBuffers()
{
    // The framebuffer object stands for the back buffer: nothing to show.
}

#else

void openWindow(bool withSound)
{
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        reportLine("Couldn't initialize SDL: %s\n", SDL_GetError());
        std::exit(1);
    }
    std::atexit(SDL_Quit);

    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);

    Uint32 flags = SDL_OPENGL | SDL_ANYFORMAT;
    if (appSettings.fullscreen)
        flags |= SDL_FULLSCREEN;
    screenSurface = SDL_SetVideoMode(appSettings.screenWidth, appSettings.screenHeight, 24, flags);
    if (!screenSurface) {
        reportLine("Couldn't set display mode: %s\n", SDL_GetError());
        SDL_Quit();
        std::exit(5);
    }

    pinGlDriverForLeakCheck();
    startGlLayer();

    if (withSound)
        initSound();

    SDL_WM_SetCaption("Vortalune", nullptr);
    SDL_ShowCursor(SDL_DISABLE);
}

void swapWindowBuffers()
{
    SDL_GL_SwapBuffers();   // the browser shows the canvas by itself once the frame returns
}

#endif

void setupGlState()
{
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glCullFace(GL_FRONT);
    glDepthFunc(GL_LEQUAL);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearStencil(0);
    glClear(GL_STENCIL_BUFFER_BIT);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
    glEnable(GL_LINE_SMOOTH);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glEnable(GL_CULL_FACE);
    glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
}

