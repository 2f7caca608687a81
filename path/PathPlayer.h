// path/PathPlayer.h: the show's ten scenes played against the music. Every
// update reads the track position, runs the current scene's script (fades,
// isosurface set-up, glow and sky switches), flies the camera along the
// scene's path pair and steps the animated subsystems.
#pragma once

#include "base/Show.h"
#include "path/PathSet.h"

#include <cstdint>

// What a run of the show changes in the player as it plays: copied whole,
// it is where a run stands (app/ShowRun.h keeps such copies).
struct PlayerRun {
    ShowState show;                      // written by the scripts, read by the render passes
    float     songPosition = 0.0f;       // music position of this update
    float     previousSongPosition = 0.0f;
    float     pathStartTime = -1.0f;     // music position the scene started at; -1: starts next update
    float     step = 0.0f;               // (songPosition - previous) * 75, the subsystems' step
    bool      playing = false;           // the frame loop updates the player only while true
    int32_t   pathIndex = 0;             // scene 1..10
    float     levelCounterA = 5.0f;      // show counters, never reset
    float     levelCounterB = 5.0f;
    bool      titleShown = false;        // one-shot latches, once per program run
    bool      scene2Placed = false;
    bool      scene2Faded = false;
    bool      scene3Flashed = false;
    bool      creditsShown = false;
};

struct PathPlayer : PlayerRun {
    bool      oneScene = false;          // the tool: a scene that ends stops the player (set from the
                                         // command line with the free camera); the show plays on
    PathSet   paths;
};

// What static construction of the player does: the fields above, then every
// path file from `folder` and the default durations.
void constructPathPlayer(PathPlayer& player, const char* folder = "data", bool repair = true);

void startPath(PathPlayer& player, int n);     // n <= 10 starts scene n; otherwise nothing
void stopPath(PathPlayer& player);
void restartPath(PathPlayer& player);          // the current scene from its start
void beginPathFlight(PathPlayer& player);      // camera to the start of the scene's pair

// One show step at music position t (-1: the track does not play). The show
// reads t from the music clock; the capture tool passes its virtual clock.
void updatePlayer(PathPlayer& player, float t);

// The program's path player (constructed in app/Globals.cpp, after the settings).
extern PathPlayer pathPlayer;
