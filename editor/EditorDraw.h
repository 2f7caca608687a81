// editor/EditorDraw.h: what the path editor draws over the tool's frames: the
// scene's flight in the world (spline, key markers, view ticks), the
// isosurface as a wireframe and the status line. Hooked into the frame's
// render passes through app/Render.h's FrameLayer; the show never installs it.
#pragma once

#include <string>

struct PathPair;

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
    int             selectedKey = -1;    // highlighted key; -1 none
    std::string     statusText;          // the status line's text, one line
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

// Points app/Render.h's frameLayer at the drawing below. Once per program
// (the tool's entry point, tests of the drawing); harmless when repeated.
void installEditorLayer();
