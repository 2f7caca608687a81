// app/Demo.h: the program's entry point and frame loop, over the window it
// opens (app/Window.h). Everything here needs SDL and a GL context.
#pragma once

#include "app/Shell.h"   // FrameClock
#include "app/Window.h"

#include <cstdint>

class FrameReport;

extern uint32_t startTicks;   // SDL_GetTicks() once loading is done

// Releases whatever is loaded, then loads every asset. Missing files leave
// their slots empty; nothing here fails.
// withMusic false: the track is neither loaded nor played (the capture tool
// decodes it itself and runs the show on its own clock).
void loadAssets(bool withMusic = true);

// The show's frame body, shared by the show and the capture tool: clear, then
// render what the player's last update prepared. The show then updates the
// player at the music clock's position, the capture at its virtual clock's.
void renderShowFrame();

// Releases the actors, the particle tree, the font lists and the textures.
void releaseAssets();

// --- Frame loop -------------------------------------------------------------------------
// One frame at a time, so a host that must return to its own loop after each
// frame (the browser) runs the same frames as the desktop's while loop:
// clear and render while a scene plays, then the player's update at the music
// clock's position; the free camera's frame in the tool; then events and the
// buffer swap. A scene that ends outside the tool sets quitRequested.
struct FrameLoop {
    FrameClock   clock;
    FrameReport* report = nullptr;   // --timings: the frame-time report; null without
};

void runFrame(FrameLoop& loop);

// After the last frame: closes the report's last frame.
void endFrameLoop(FrameLoop& loop);

// The whole program: mode, window, assets, start position, loop, shutdown.
// Returns main's exit code.
int runDemo(int argc, char** argv);
