// editor/EditorDraw.h: what the path editor draws over the tool's frames: the
// scene's flight in the world (spline, key markers, view ticks), the
// isosurface as a wireframe and the status line. Hooked into the frame's
// render passes through app/Render.h's FrameLayer; the show never installs it.
#pragma once

#include "editor/Timeline.h"
#include "path/FlightSolve.h"

#include <string>
#include <vector>

struct PathPair;

// The timeline strip as the layer draws it, in pixels across the window
// (editor/Timeline.h's span): written by the editor once a frame.
struct TimelineStrip {
    bool                           shown = false;
    const std::vector<WaveColumn>* wave = nullptr;   // one per pixel column
    TimelineBeats                  beats;
    std::vector<float>             keys;              // each key's x
    int                            selectedKey = -1;
    float                          head = -1.0f;      // the play or scrub head's x; < 0: none
    bool                           loop = false;      // [loopFrom, loopTo) shaded
    float                          loopFrom = 0.0f, loopTo = 0.0f;
    float                          loopMark = -1.0f;  // a loop start or end set alone; < 0: none
    float                          pointer = -1.0f;   // the cursor's x, where a click lands; < 0: it is elsewhere
    float                          pointerY = 0.0f;   // and its row
    const TimelineSpeeds*          speeds = nullptr;  // the camera's speed and turn rate per column
};

// What the editor draws over the tool's frames (written by editor/Editor.h,
// drawn through app/Render.h's FrameLayer once installEditorLayer ran). The
// flight and the status line are drawn after the scene, outside the glow
// capture; with `active` false nothing is drawn at all.
struct EditorLayer {
    bool            active = false;      // the tool is editing: the layer is drawn at all
    bool            flight = true;       // the scene's flight: spline, key markers, view ticks
    bool            status = false;      // the status line at the bottom
    bool            wireframe = false;   // the isosurface as lines (not in the glow capture)
    const PathPair* pair = nullptr;      // the flight drawn
    const std::vector<TimedKey>* keys = nullptr;   // its timed keys (markers, ticks, frustums); null: its points
    int             selectedKey = -1;    // highlighted key; -1 none
    std::string     statusText;          // the status line's text, one line
    TimelineStrip   timeline;            // along the bottom, the status line its lowest row
    float           aspect = 4.0f / 3.0f;   // of the window, for the keys' frustums
    float           nearPlane = 0.0f;    // with farPlane > 0, the depth range the frame is drawn
    float           farPlane = 0.0f;     // with (the overview of a flight too large for the show's)
};

extern EditorLayer editorLayer;

// The layer's colours (RGB) and sizes. The flight is drawn without lighting,
// depth-tested against the scene but writing no depth; markers are square
// GL points of a fixed pixel size.
constexpr float EDITOR_SPLINE_COLOUR[3]   = { 1.0f, 1.0f, 0.0f };    // yellow
constexpr float EDITOR_KEY_COLOUR[3]      = { 0.0f, 1.0f, 1.0f };    // cyan
constexpr float EDITOR_SELECTED_COLOUR[3] = { 1.0f, 0.0f, 1.0f };    // magenta
constexpr float EDITOR_TICK_COLOUR[3]     = { 1.0f, 0.5f, 0.0f };    // orange
constexpr float EDITOR_STATUS_COLOUR[3]   = { 0.95f, 0.95f, 0.85f }; // status text
constexpr float EDITOR_STATUS_BAND_ALPHA  = 0.6f;                    // black band behind it
constexpr float EDITOR_LINE_WIDTH         = 2.0f;                    // pixels, spline and ticks
constexpr float EDITOR_KEY_SIZE           = 7.0f;                    // pixels
constexpr float EDITOR_SELECTED_KEY_SIZE  = 11.0f;                   // pixels
// The timeline strip's colours (RGB).
constexpr float TIMELINE_BACKGROUND[3]    = { 0.05f, 0.05f, 0.07f };
constexpr float TIMELINE_WAVE_COLOUR[3]   = { 0.35f, 0.55f, 0.75f };
constexpr float TIMELINE_BAR_COLOUR[3]    = { 0.85f, 0.85f, 0.45f };
constexpr float TIMELINE_BEAT_COLOUR[3]   = { 0.45f, 0.45f, 0.45f };
constexpr float TIMELINE_HEAD_COLOUR[3]   = { 1.0f, 1.0f, 1.0f };
constexpr float TIMELINE_LOOP_COLOUR[4]   = { 0.25f, 0.8f, 0.35f, 0.3f };   // RGBA, blended
constexpr float TIMELINE_POINTER_COLOUR[3] = { 0.6f, 0.6f, 0.6f };
constexpr float TIMELINE_SPEED_COLOUR[3]  = { 0.45f, 1.0f, 0.45f };   // the camera's speed
constexpr float TIMELINE_TURN_COLOUR[3]   = { 1.0f, 0.55f, 0.85f };   // its turn rate
constexpr float TIMELINE_SPIKE_COLOUR[3]  = { 1.0f, 0.15f, 0.1f };    // where the speed jumps

// Points app/Render.h's frameLayer at the drawing below. Once per program
// (the tool's entry point, tests of the drawing); harmless when repeated.
void installEditorLayer();
