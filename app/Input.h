// app/Input.h: keyboard and mouse handling, and the free camera with its path
// authoring keys. Three situations, recomputed at every event:
//   the show (no command-line scene): Escape and window close quit, `b` marks a beat;
//   playback while authoring: Escape stops the path, window close quits;
//   free camera: the whole key table below, and mouse look through actor 0's cursor.
// Keys are compared by their whole SDL key symbol, so keys above 255 (F2, F7,
// Caps Lock...) never alias Escape, Space or the speed keys.
#pragma once

#include "math/Math.h"

#include <SDL.h>

constexpr float MOVE_SPEED_START = 90.0f;   // units per second, and the arrow keys' turn input
constexpr float MOVE_SPEED_FLOOR = 10.0f;
constexpr float MOVE_SPEED_CEILING = 92160.0f; // 90 doubled ten times: keeps every pose finite
constexpr float SINGLE_STEP = 0.016666668f; // the `z` key: one sixtieth of a second

extern float moveSpeed;       // free-camera speed; never reset
extern bool  motionHandled;   // a mouse motion was used in the current drain
extern bool  pointerOverTool; // the cursor is where the tool takes it (app/Tool.h's ownsPointer):
                              // clicks and drags go to the tool, and the view does not turn

enum InputSituation {
    INPUT_SHOW,        // no command-line scene
    INPUT_PLAYBACK,    // authoring, a path plays
    INPUT_FREE_CAMERA, // authoring, no path plays
};

InputSituation inputSituation();

// Drains SDL's event queue once per frame, then clears motionHandled.
void handleEvents();

// One event in the current situation; handleEvents calls it for each.
void handleEvent(const SDL_Event& event);

// Acts on one key press in the current situation.
void handleKeyDown(const SDL_KeyboardEvent& key);

// The free-camera update: mouse look with a dead zone, walking keys, arrow
// keys, then actors (when shown), camera, particles and isosurface. dt in seconds.
void updateFrame(float dt);

// updateFrame with an explicit key state (indexed by SDLKey), for tests.
void updateFrameWithKeys(float dt, const Uint8* keys);

// Where the camera goes when its pose stops being finite and there is no key
// to go back to: the start of the default flight.
constexpr Float3 SANE_CAMERA_POSITION { 0.0f, 0.0f, 1000.0f };

// Puts the camera on the current scene's last key (or SANE_CAMERA_POSITION
// looking along z when the flight is empty).
void returnCameraToFlight();

// Turn input from the cursor's offset beyond the dead zone (a quarter of the
// screen each way): 0 inside it, the excess outside. offset in pixels.
float deadZoneInput(float offset, float quarter);
