// app/Render.h: one complete frame: back overlay, the lit scene through the
// camera (actors, grid, isosurface, sky cube), the ten-layer glow, the front
// overlay and the caption. Reads renderFlags, the camera and the ShowState
// that the path player's scene scripts write. Needs a current GL context.
#pragma once

#include <cstdint>
#include <string>

struct PathPair;

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

// What the scene scripts switch; the first fields of the path player's record.
struct ShowState {
    Overlay backOverlay;            // drawn before the scene
    Overlay frontOverlay;           // drawn after the scene and the glow
    float   glowAmount = -1.0f;     // < 0: no glow; else zoom step factor of the layers
    int32_t skyboxSlot = 0;         // texture slot of the sky cube; 0 = none
    bool    drawActors = false;
    bool    brightGlow = false;     // white layers, flat isosurface in the capture
};

// Four floats per parameter: position (x, y, z, w), colours (r, g, b, a).
struct LightParameters {
    float position[4];
    float diffuse[4];
    float ambient[4];
};

extern LightParameters light0Parameters;   // fixed to the viewer; set by asset loading
extern LightParameters light1Parameters;   // fixed in the world

// Glow and caption constants.
constexpr int   GLOW_LAYERS = 10;
constexpr float GLOW_STEP_SCALE = 0.005f;
constexpr float FIELD_OF_VIEW_Y = 30.0f;   // degrees
constexpr float NEAR_PLANE = 1.0f;
constexpr float FAR_PLANE = 8192.0f;
constexpr const char* GROUP_ADDRESS = "quindle.example";

// The glow layers' drawing. With glowScissor set (the program), each layer's
// full-screen quad is drawn once per screen rectangle where the capture holds
// light (app/GlowTiles.h), under a scissor; the pixels are the same as with
// every layer over the whole screen. Test-only switch: tests clear it to
// compare against the plain path; nothing else writes it.
extern bool glowScissor;

// What the last glow pass drew (written by renderFrame, read by tests).
struct GlowDrawStats {
    int  layerDraws = 0;      // quads drawn: one per layer (plain) or one per rectangle
    long layerPixels = 0;     // pixels those draws cover, summed over the layers
    bool scissored = false;   // the rectangles were used (false: the plain path)
};

extern GlowDrawStats glowDrawStats;

// What the authoring tool draws over its frames; never set in the show
// (written by the editor, app/Editor.h, read by renderFrame). The flight and
// the status line are drawn after the scene, outside the glow capture.
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

// Asset loading: fills the two lights' parameter arrays.
void setLightParameters();

// The caption line with the frame rate, as drawn by the caption pass.
void formatCaption(char* out, int size, float fps);

// Capture height for the glow: width * surface h / surface w, truncated.
int glowCaptureHeight(int captureWidth, int surfaceWidth, int surfaceHeight);

// The whole frame at the size of screenSurface.
void renderFrame(const ShowState& show);
// The whole frame for a viewport of width x height pixels (the surface size
// in the program; tests pass other sizes).
void renderFrame(const ShowState& show, int width, int height);
// One full-screen quad at the size of screenSurface, or of width x height.
// A quad that cannot change a pixel (no overlay type, or alpha <= 0 under the
// standing alpha blending) is not drawn, but the state changes are made all
// the same, the current colour included.
void drawOverlayQuad(int32_t type, float alpha);
void drawOverlayQuad(int32_t type, float alpha, int width, int height);
void applyRenderState();
void drawSkyCube(int slot);
void drawGrid();
