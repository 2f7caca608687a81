// app/Demo.h: the program's entry point and frame loop, with the window and
// the GL state it sets up. Everything here needs SDL and a GL context.
#pragma once

#include <cstdint>

struct SDL_Surface;

extern SDL_Surface* screenSurface;   // the video surface; w, h are the viewport size
extern uint32_t     startTicks;      // SDL_GetTicks() once loading is done

// SDL, GL attributes, video mode, sound start, caption, cursor. Exits with
// code 1 when SDL cannot start and 5 when the video mode cannot be set.
// withSound false: no sound output at all (the capture tool's virtual clock).
void openWindow(bool withSound = true);

// The standing GL state: front faces culled, depth test GL_LEQUAL, alpha
// blending function, smooth lines, sphere-map texture generation.
void setupGlState();

// Releases whatever is loaded, then loads every asset. Missing files leave
// their slots empty; nothing here fails.
// withMusic false: the track is neither loaded nor played (the capture tool
// decodes it itself and runs the show on its own clock).
void loadAssets(bool withMusic = true);

// The show's frame body, shared by the show and the capture tool: clear, then
// render what the player's last update prepared. The show then updates the
// player at the music clock's position, the capture at its virtual clock's.
void renderShowFrame();

// The whole program: mode, window, assets, start position, loop, shutdown.
// Returns main's exit code.
int runDemo(int argc, char** argv);
