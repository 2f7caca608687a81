// app/GlowTiles.h: where the glow layers can add light. Each glow layer adds
// (colour * texel)^2 over the whole screen, so a black texel adds exactly
// nothing; this unit finds the capture texture's non-black texels in coarse
// tiles and maps them through one layer's texture coordinates to the screen
// rectangles whose fragments can read them (linear filtering, the texture's
// wrap mode). The rectangles are disjoint, so drawing the same full-screen
// quad once per rectangle under a scissor adds each such fragment exactly once.
// No GL: app/Render.cpp reads the texture back and draws.
#pragma once

#include <cstdint>
#include <vector>

// Tiles per axis are at most 64 (one bit each in a word per tile row); a
// texture wider than 512 texels gets larger tiles.
constexpr int GLOW_TILE_SIZE = 8;                  // texels per tile side, at least
constexpr int GLOW_MAX_TILES_PER_AXIS = 64;
// Beyond the texels linear filtering reads (half a texel past a tile's edge),
// another half texel, so a tile reaches one texel past its edges in texture
// space; then one pixel on screen for the rasterizer's rounding.
constexpr double GLOW_TEXEL_MARGIN = 0.5;          // texels
constexpr int    GLOW_PIXEL_MARGIN = 1;            // pixels
// More rectangles than this for one layer (a very tall window repeats the
// texture many times): the layer is drawn as one full-screen rectangle.
constexpr int GLOW_MAX_RECTS_PER_LAYER = 64;
// More repeats of one tile along an axis than this: the layer is full screen.
constexpr int GLOW_MAX_REPEATS = 32;

enum GlowWrap : int {
    GLOW_WRAP_REPEAT = 0,   // GL_REPEAT: a texel at one edge is also read past the opposite edge
    GLOW_WRAP_CLAMP  = 1,   // GL_CLAMP_TO_EDGE: edge texels are read by every sample beyond them
};

// Screen pixels [x, x + width) x [y, y + height), origin lower left: glScissor's box.
struct GlowRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// Non-black tiles of the capture texture.
struct GlowTileGrid {
    int                   texWidth = 0, texHeight = 0;   // texels
    int                   tileSize = GLOW_TILE_SIZE;     // texels per tile side
    int                   columns = 0, rows = 0;         // tiles per axis, <= GLOW_MAX_TILES_PER_AXIS
    std::vector<uint64_t> litColumns;                    // per tile row (bottom first): bit c set when
                                                         // tile (c, row) holds a non-black texel
    bool                  anyLit = false;
};

// Texture coordinates one glow layer's quad carries at the screen's edges:
// s runs from s0 (left) to s1 (right), t from t0 (bottom) to t1 (top).
struct GlowLayerMapping {
    float s0 = 0.0f, s1 = 1.0f, t0 = 0.0f, t1 = 1.0f;
};

// Marks the tiles of a width x height texture that hold a texel whose red,
// green or blue byte is not 0. `rgb`: 3 bytes per texel, rows tightly packed,
// bottom row first (glGetTexImage's order). Sizes < 1 or a null pointer give
// an empty grid.
void findLitTiles(const uint8_t* rgb, int width, int height, GlowTileGrid& grid);

// The tiles side for a texture side: GLOW_TILE_SIZE, larger when that would
// need more than GLOW_MAX_TILES_PER_AXIS tiles.
int glowTileSize(int texWidth, int texHeight);

// The quad's texture coordinates for each of `layers` layers, as the glow pass
// gives them: o starts at 0 and grows by `step` per layer (float sums, in that
// order); s from o to 1 - o, t from o to r - o with r = height / width.
void glowLayerMappings(float step, int width, int height, GlowLayerMapping* out, int layers);

// Disjoint screen rectangles of a screenWidth x screenHeight screen covering
// every pixel whose sample (at the pixel centre, interpolated linearly from
// the mapping) reads a texel of a lit tile, plus the margins. Empty when no
// tile is lit; one full-screen rectangle when the layer would need more than
// GLOW_MAX_RECTS_PER_LAYER or the mapping is not finite. `out` is replaced.
// wrapS and wrapT: the texture's wrap modes along s and t.
void glowLayerRects(const GlowTileGrid& grid, const GlowLayerMapping& mapping, GlowWrap wrapS, GlowWrap wrapT,
                    int screenWidth, int screenHeight, std::vector<GlowRect>& out);

// Disjoint rectangles covering exactly the union of `rects` inside a
// screenWidth x screenHeight screen, in rows bottom up (each row's
// rectangles left to right; a run repeated in the rows above it is one
// rectangle). For the glow summed in one draw: every pixel that any layer
// lights is drawn once. More than GLOW_MAX_UNION_RECTS input rectangles: one
// full-screen rectangle. `out` is replaced.
constexpr int GLOW_MAX_UNION_RECTS = 1024;
void glowUnionRects(const std::vector<GlowRect>& rects, int screenWidth, int screenHeight, std::vector<GlowRect>& out);
