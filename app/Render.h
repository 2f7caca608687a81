// app/Render.h: one complete frame: back overlay, the lit scene through the
// camera (actors, grid, isosurface, sky cube), the ten-layer glow, the front
// overlay and the caption. Reads renderFlags, the camera and the ShowState
// that the path player's scene scripts write. Needs a current GL context.
#pragma once

#include "base/Show.h"   // ShowState, Overlay

#include <cstdint>
#include <string>

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

// Over the GL layer (the browser, vortalune-capture-es) the ten layers are
// summed in one shader (gl/GlLayer.h's vglDrawGlowLayers), drawn once over
// each rectangle of the union of the layers' rectangles (with glowScissor),
// so each lit pixel is drawn once; the desktop's OpenGL 1.1 draws the layers
// one by one as above, whatever this holds. Test-only switch: tests clear it
// to compare the one draw with the ten.
extern bool glowOnePass;

// What the last glow pass drew (written by renderFrame, read by tests).
struct GlowDrawStats {
    int  layerDraws = 0;      // quads drawn: one per layer (plain) or one per rectangle
    long layerPixels = 0;     // pixels those draws cover, summed over the draws
    bool scissored = false;   // the rectangles were used (false: the plain path)
    bool onePass = false;     // the layers were summed in one draw (the GL layer)
};

extern GlowDrawStats glowDrawStats;

// A tool's layer over the show's frames: the authoring tool (editor/) fills
// it in, the show leaves it empty. renderFrame asks `wireframe` before the
// isosurface's main draw (the glow capture keeps the filled surface), calls
// `inScene` after the sky cube, under the camera's modelview (after the glow
// capture, never in it, and before the glow layers), and `overFrame` last.
struct FrameLayer {
    bool (*wireframe)() = nullptr;                  // the isosurface as lines
    void (*inScene)() = nullptr;                    // depth-tested, in world space
    void (*overFrame)(int width, int height) = nullptr;   // over everything, in pixels
    void (*depthRange)(float& nearPlane, float& farPlane) = nullptr;   // may move the planes out
};

extern FrameLayer frameLayer;

// Asset loading: fills the two lights' parameter arrays.
void setLightParameters();

// The caption line with the frame rate, as drawn by the caption pass.
void formatCaption(char* out, int size, float fps);

// Capture height for the glow: width * surface h / surface w, truncated.
int glowCaptureHeight(int captureWidth, int surfaceWidth, int surfaceHeight);

// An orthographic projection of width x height pixels (origin bottom left)
// and an identity modelview, pushed; popPixelProjection restores both.
void pushPixelProjection(int width, int height);
void popPixelProjection();

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
