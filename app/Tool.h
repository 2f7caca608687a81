// app/Tool.h: the seam between the show and its authoring tool. The frame
// loop and the free camera's keys call these hooks; the path editor
// (editor/Editor.h) fills them in before the program runs, and the show
// itself never names it. With a hook left null the show does what it does
// without a tool.
#pragma once

#include "math/Math.h"

// What the left button did, for ToolHooks::pointer.
enum ToolPointer { POINTER_PRESS = 0, POINTER_DRAG = 1, POINTER_RELEASE = 2 };

struct ToolHooks {
    // `vortalune N`: after loading, before scene N plays.
    void (*begin)(int scene, double trackSeconds) = nullptr;
    // `vortalune N`: the frame loop has ended, the program is about to quit.
    void (*end)() = nullptr;
    // Once a frame, before the update and the render.
    void (*frame)() = nullptr;
    // A free-camera key (an SDLKey) the show's key table leaves free; true when the tool used it.
    bool (*key)(int sym) = nullptr;
    // Space and `c` in the free camera: true when the tool took them (as undoable edits).
    bool (*recordKey)(const Float3& position, const Float3& angles) = nullptr;
    bool (*clearKeys)() = nullptr;
    // `n`: the scene replays with its music, so whatever holds it lets go.
    void (*releaseScene)() = nullptr;
    // True while the scene stands still for the tool: the free camera does not step it.
    bool (*holdsScene)() = nullptr;
    // While a scene plays, in place of the player's update at the music clock's
    // position: true when the tool updated the player (its own playback).
    bool (*updatePlayer)() = nullptr;
    // A key while a scene plays, other than Escape (which stops it): true when the tool used it.
    bool (*playbackKey)(int sym) = nullptr;
    // The free camera's cursor at (x, y), pixels from the window's lower left:
    // true when the tool takes it there. The view then does not turn with it,
    // and the left button's presses and drags there go to `pointer` at the
    // cursor (a ToolPointer event), and its release wherever the cursor is.
    bool (*ownsPointer)(int x, int y) = nullptr;
    void (*pointer)(int x, int y, int event) = nullptr;
    // --timings: a name for what the tool's frame differs in from its usual
    // frame ("no strip"), so those frames make a row of their own; or null.
    const char* (*frameLayerName)() = nullptr;
};

extern ToolHooks toolHooks;   // written once by the tool's installer, before the frame loop
