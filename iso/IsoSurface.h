// iso/IsoSurface.h: the isosurface effect object that the rest of the demo
// sees. Owns the source field, the polygonizer with its mesh and the parameters
// that scenes set; draws the current mesh with OpenGL immediate mode
// (iso/IsoDraw.cpp). One global instance, `isoSurface`, defined in
// app/Globals.cpp; its construction runs two updates.
#pragma once

#include "iso/Field.h"
#include "iso/Mesher.h"
#include "math/Math.h"

// Colour of every vertex in flat mode (the glow variant).
constexpr Float3 FLAT_COLOUR(0.0f, 0.0f, 0.0f);

// Specular material modes.
constexpr int MATERIAL_MATTE     = 0;   // no highlight
constexpr int MATERIAL_WHITE     = 1;   // white highlight, shininess 16
constexpr int MATERIAL_COLOURED  = 2;   // highlight in specularColour, shininess 16

// The isosurface's settings, which the scene scripts write: copied whole,
// with the field's sources, they are where a run stands (app/ShowRun.h).
struct IsoSettings {
    float       timeMs = 0.0f;            // effect time, drives the source motion
    bool        flatColourMode = false;   // every vertex in FLAT_COLOUR
    int         textureSlot = 0;          // texture table slot; 0 = untextured
    int         materialMode = MATERIAL_MATTE;
    float       specularColour[4] = { 1.0f, 1.0f, 1.0f, 1.0f };   // RGBA, mode 2
    float       alpha = 1.0f;             // opacity of the whole surface
    float       isoLevel = 10.0f;         // threshold of the surface
    bool        negateSources = false;    // procedural sources subtract
    int         placementMode = 0;        // source motion pattern 0..7
    int         sourceCount = 0;          // procedural sources per update
    bool        colourByPosition = false; // colour = position / 64 instead of palette
    int         palette = 2;              // 0..14
};

struct IsoSurface : IsoSettings {
    SourceField field;
    IsoMesher   mesher;                   // its field pointer refers to `field`
    bool        deferMesh = false;        // updates move the sources only; the caller meshes once at the
                                          // end (the tool's scene replay: the mesh depends on the field alone)

    // Sets the defaults, then runs updateIso with 0 s and with 1.0 s.
    IsoSurface();
    IsoSurface(const IsoSurface&) = delete;
    IsoSurface& operator=(const IsoSurface&) = delete;
};

// Procedural sources per update are clamped to this many, so a wild count can
// neither exhaust memory nor overflow the source lists.
constexpr int MAX_PROCEDURAL_SOURCES = 4096;

// Back to the defaults above (timeMs 0). Sources and mesh are not touched.
void resetIsoParams(IsoSurface& iso);

// Advances the effect clock, places the sources and rebuilds the mesh
// (unless deferMesh is set) (iso/IsoUpdate.cpp).
void updateIso(IsoSurface& iso, float dtSeconds);

// One polygonization pass at `isoLevel` into mesher.meshes[mesher.current].
void rebuildIsoMesh(IsoSurface& iso);

// Draws mesher.meshes[mesher.current] (iso/IsoDraw.cpp). Needs a GL context.
// Afterwards: culling, depth test and GL_TEXTURE_ENV_MODE GL_MODULATE as the
// standing state; blending and colour material off; specular black; colour
// white; GL_TEXTURE_2D on exactly when textureSlot != 0.
void drawIso(const IsoSurface& iso);

// Test-only: true submits the mesh vertex by vertex (immediate mode) instead
// of with vertex arrays; both give the same pixels and the same GL state.
extern bool isoImmediateMode;

// drawIso with flatColourMode set for the draw (restored afterwards).
void drawIsoFlat(IsoSurface& iso);

// The program's isosurface (scene scripts write its parameters, the update
// rebuilds its mesh, the render passes draw it).
extern IsoSurface isoSurface;
