// app/Tool.h: the seam between the show and its authoring tool. The frame
// loop and the free camera's keys call these hooks; the path editor
// (editor/Editor.h) fills them in before the program runs, and the show
// itself never names it. With a hook left null the show does what it does
// without a tool.
#pragma once

#include "math/Math.h"

struct ToolHooks {
    // `vortalune N`: after loading, before scene N plays.
    void (*begin)(int scene, double trackSeconds) = nullptr;
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
};

extern ToolHooks toolHooks;   // written once by the tool's installer, before the frame loop
