// iso/Motion.h: the procedural source motion curves and the colour palettes
// of the isosurface effect. Pure functions of the source index and the effect
// clock; positions are in grid units (0..64 per axis, centre 32).
//
// Every sine is taken of a 32-bit float argument, summed in the order written:
// the large phase offsets (49152, c * i) make float rounding part of the look.
#pragma once

#include "math/Math.h"

#include <cstdint>

// Per-axis phase multipliers of the wobbling curves: x, y, z.
constexpr int32_t MOTION_AXIS_MULTIPLIER[3] = { 347, 273, 123 };

struct SegmentEnds {
    Float3 a;
    Float3 b;
};

// timeMs: the effect clock in milliseconds (s = timeMs * 0.001 seconds).
Float3      orbit(int32_t i, float timeMs);                      // all at the centre when T = 0
Float3      wobble(int32_t i, float timeMs, float amplitude);
Float3      twinWobble(int32_t i, float timeMs);                 // indices 7 apart share the slow part
SegmentEnds driftPair(int32_t i, float timeMs);
SegmentEnds chain(int32_t i, float timeMs);                      // segment i ends where i + 1 starts
SegmentEnds bar(int32_t i, float timeMs);                        // parallel to x, slides and wraps

// Clamps each coordinate into the lattice: >= 64 becomes 63, < 0 becomes 0.
Float3 clampToGrid(const Float3& p);

constexpr int PALETTE_COUNT = 15;   // palettes 0..14

// The colour of source i in a palette; a palette outside 0..14 leaves `rgb`
// unchanged and returns false.
bool paletteColour(int32_t palette, int32_t i, Float3& rgb);
