// iso/MesherLocal.h: what the two halves of the mesher share, inside the iso
// floor only: the field evaluation (iso/MesherField.cpp) and the surface walk
// (iso/Mesher.cpp). The lookups are inline: they are the walk's hot path.
#pragma once

#include "iso/Mesher.h"

#include <cstdint>
#include <cstring>

// Row pairs are compiled for AVX on x86, whole blocks for AVX-512 and a copy
// of the flood for AVX2 with the bit manipulation sets (each chosen at run
// time when the processor has it); elsewhere (the browser's WebAssembly) they
// are plain code that is never chosen.
#if defined(__x86_64__) || defined(__i386__)
#define VORTALUNE_AVX __attribute__((target("avx")))
#define VORTALUNE_AVX512 __attribute__((target("avx512f")))
#define VORTALUNE_BMI __attribute__((target("avx2,bmi,bmi2,lzcnt")))
#else
#define VORTALUNE_AVX
#define VORTALUNE_AVX512
#define VORTALUNE_BMI
#endif

namespace iso_mesher {

// Fills the block source lists and the blocks' bounds for this pass.
void buildBlockLists(IsoMesher& mesher);

// The point's sum over its block's list, one point at a time, into `cell`.
void evaluatePoint(IsoMesher& mesher, int32_t x, int32_t y, int32_t z, GridCell& cell);

// One row of four points (x0 a multiple of 4), or rows y0 and y0 + 1 (y0
// even) with AVX, into their cells; the values also into valuesOut when given.
void evaluateRow(IsoMesher& mesher, int32_t x0, int32_t y, int32_t z, float* valuesOut = nullptr);
VORTALUNE_AVX void evaluateRowPair(IsoMesher& mesher, int32_t x0, int32_t y0, int32_t z,
                                                    float* valuesOut = nullptr);

// All 64 points of the block whose lowest point is (x0, y0, z0) into their
// stale cells, and their values into out[64] (x fastest), with AVX-512: one
// layer of sixteen points per register, the four layers in one walk over the
// block's list. With `whole`, every cell of the block is written whole
// (value, colour, and reset otherwise) whatever it held.
VORTALUNE_AVX512 void evaluateBlockLayers(IsoMesher& mesher, int32_t x0, int32_t y0, int32_t z0, float* out,
                                          bool whole);

// The gradients of the points `points` (bit x + 4 y + 16 z) of the mixed
// block whose lowest point is (x0, y0, z0) and whose values are values[64],
// from its values and its face neighbours' (near[6]: -x, +x, -y, +y, -z,
// +z, each a block's values[64] or null where no neighbour point is read),
// into their shades, each marked known.
VORTALUNE_AVX512 void storeBlockGradients(IsoMesher& mesher, int32_t x0, int32_t y0, int32_t z0, const float* values,
                                          const float* const near[6], uint64_t points);

// Bitwise equality: one integer comparison instead of a float one with its
// unordered case (the markers are ordinary finite numbers).
inline bool sameBits(float a, float b)
{
    uint32_t ia, ib;
    std::memcpy(&ia, &a, sizeof ia);
    std::memcpy(&ib, &b, sizeof ib);
    return ia == ib;
}

constexpr int ROW_LANES = 4;     // points per row
constexpr int ROW_PAIR = 2;      // rows per evaluation with AVX
static_assert(BLOCK_SIZE % ROW_LANES == 0 && BLOCK_SIZE % ROW_PAIR == 0, "a pair never leaves its block");
static_assert(ROW_LANES == 4 && GRID_SIZE / 4 <= 16, "a row of lanes is one group of cells (markGroup), sixteen groups to a row");

// The value of an already looked-up cell of point (x, y, z). The spare cell
// always holds 0, which is never STALE_VALUE, so outside points return 0.
inline float valueOf(IsoMesher& mesher, GridCell& cell, int32_t x, int32_t y, int32_t z)
{
    if (__builtin_expect(!sameBits(cell.value, STALE_VALUE), 1))
        return cell.value;
    if (!mesher.rowEvaluation)
        evaluatePoint(mesher, x, y, z, cell);
    else if (mesher.wideRows)
        evaluateRowPair(mesher, x & ~(ROW_LANES - 1), y & ~(ROW_PAIR - 1), z);
    else
        evaluateRow(mesher, x & ~(ROW_LANES - 1), y, z);
    return cell.value;
}

inline float valueAt(IsoMesher& mesher, int32_t x, int32_t y, int32_t z)
{
    return valueOf(mesher, cellAt(mesher, x, y, z), x, y, z);
}

// Flat-index steps to the neighbours along +x, +y, +z.
constexpr int32_t STEP_X = 1;
constexpr int32_t STEP_Y = GRID_SIZE;
constexpr int32_t STEP_Z = GRID_SIZE * GRID_SIZE;

inline float valueAtIndex(IsoMesher& mesher, int32_t index, int32_t x, int32_t y, int32_t z)
{
    return valueOf(mesher, cellAtIndex(mesher, index), x, y, z);
}

inline Float3 centralDifferences(IsoMesher& mesher, const GridPoint& p)
{
    Float3 g;
    if (p.x > 0 && p.y > 0 && p.z > 0 && p.x < GRID_SIZE - 1 && p.y < GRID_SIZE - 1 && p.z < GRID_SIZE - 1) {
        // All six neighbours inside the lattice: no range checks.
        const int32_t i = cellIndex(p.x, p.y, p.z);
        g.x = valueAtIndex(mesher, i + STEP_X, p.x + 1, p.y, p.z) - valueAtIndex(mesher, i - STEP_X, p.x - 1, p.y, p.z);
        g.y = valueAtIndex(mesher, i + STEP_Y, p.x, p.y + 1, p.z) - valueAtIndex(mesher, i - STEP_Y, p.x, p.y - 1, p.z);
        g.z = valueAtIndex(mesher, i + STEP_Z, p.x, p.y, p.z + 1) - valueAtIndex(mesher, i - STEP_Z, p.x, p.y, p.z - 1);
        return g;
    }
    g.x = valueAt(mesher, p.x + 1, p.y, p.z) - valueAt(mesher, p.x - 1, p.y, p.z);
    g.y = valueAt(mesher, p.x, p.y + 1, p.z) - valueAt(mesher, p.x, p.y - 1, p.z);
    g.z = valueAt(mesher, p.x, p.y, p.z + 1) - valueAt(mesher, p.x, p.y, p.z - 1);
    return g;
}

// fieldGradient for a point whose cell (the spare one outside the lattice)
// has already been looked up this pass.
inline Float3 gradientOf(IsoMesher& mesher, GridCell& cell, const GridPoint& p)
{
    if (&cell == &mesher.spare)
        return centralDifferences(mesher, p);   // not cached: the spare cell is shared
    GridShade& shade = mesher.shades[&cell - mesher.cells];
    if (cell.gradientKnown)
        return shade.gradient;
    const Float3 g = centralDifferences(mesher, p);   // cells never move, `cell` stays valid
    shade.gradient = g;
    cell.gradientKnown = true;
    return g;
}

} // namespace iso_mesher
