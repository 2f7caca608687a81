// base/Show.h: the show's shape, shared by every floor that plays, draws or
// edits it: the scene table and its default lengths, and the switches the
// scene scripts write and the render passes read. Plain data, no SDL, no GL.
#pragma once

#include <cstdint>

// --- Scenes ----------------------------------------------------------------------------
constexpr int SCENE_ENTRIES = 11;   // index 0 holds no scene
constexpr int FIRST_SCENE   = 1;
constexpr int LAST_SCENE    = 10;

// Scene flight lengths as fractions of the music track, index = scene.
constexpr float DEFAULT_PATH_DURATIONS[SCENE_ENTRIES] = {
    0.0f, 0.064f, 0.0779f,
    0.09090909f, 0.09090909f, 0.09090909f, 0.09090909f,
    0.09090909f, 0.09090909f, 0.09090909f, 0.09090909f,
};

// The show's step factor: animations advance 75 x the change of the track fraction.
constexpr float SHOW_STEP_SCALE = 75.0f;

// Sum of durations[0 .. scene - 1]; 0 when scene < 1. Scenes beyond the table
// are clamped to its end so nothing past the eleven entries is read.
float startPositionSum(int scene, const float (&durations)[SCENE_ENTRIES]);

// How long scene `scene` plays, as a fraction of the track, when it starts
// at fraction `start`: its entry of the table, and for the last scene the
// rest of the track (what its script sets when it starts).
float sceneLength(int scene, const float (&durations)[SCENE_ENTRIES], float start);

// The scene whose stretch of the track holds the fraction f (scene 1 before
// scene 2's start, scene 10 from its start on).
int sceneAtFraction(double f, const float (&durations)[SCENE_ENTRIES]);

// --- What the scene scripts switch ---------------------------------------------------
// Overlay types: full-screen quads before or after the scene.
enum OverlayType : int32_t {
    OVERLAY_NONE    = 0,   // also any value outside 1..4
    OVERLAY_TITLE   = 1,   // texture slot 8
    OVERLAY_BLACK   = 2,
    OVERLAY_WHITE   = 3,
    OVERLAY_CREDITS = 4,   // texture slot 9
};

struct Overlay {
    int32_t type = OVERLAY_NONE;
    float   alpha = 0.0f;   // 0 transparent .. 1 opaque
};

// The first fields of the path player's record (path/PathPlayer.h), read by
// the render passes (app/Render.h).
struct ShowState {
    Overlay backOverlay;            // drawn before the scene
    Overlay frontOverlay;           // drawn after the scene and the glow
    float   glowAmount = -1.0f;     // < 0: no glow; else zoom step factor of the layers
    int32_t skyboxSlot = 0;         // texture slot of the sky cube; 0 = none
    bool    drawActors = false;
    bool    brightGlow = false;     // white layers, flat isosurface in the capture
};
