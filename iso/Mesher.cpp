// iso/Mesher.cpp: cached field values and gradients, seeding, the surface
// flood, triangle emission, and the rescue of pieces no seed reached. This is
// the demo's per-frame hot path.
//
// Sections:
//   --- Construction ---
//   --- Block source lists ---   (and the blocks' bounds)
//   --- Cached field ---
//   --- Pass set-up ---
//   --- Seeds ---
//   --- Flood tables ---
//   --- Near faces ---
//   --- Flood ---
//   --- Triangles ---
//   --- Rescue ---
#include "iso/Mesher.h"

#include "iso/IsoTables.h"

#include <xmmintrin.h>

#include <cmath>
#include <cstring>

// --- Construction --------------------------------------------------------------------

IsoMesher::IsoMesher(SourceField* field_) : field(field_)
{
    // Every cell is reset and then zero-filled, so all start with stamp 0, which
    // the first pass's increment makes stale.
    for (GridCell& cell : cells) {
        resetCell(cell);
        cell = GridCell();
    }
    resetCell(spare);
    spare.value = 0.0f;                  // the field outside the lattice
    spare.colour = Float3();
    spare.gradient = Float3();
    cellMin = GridPoint{ 0, 0, 0 };
    cellMax = GridPoint{ GRID_SIZE, GRID_SIZE, GRID_SIZE };
    cubeMin = cellMin;
    blockStart.assign(BLOCK_COUNT + 1, 0u);
    nearVisited.assign(NEAR_FACE_CUBES, 0);
    nearSlots.assign(NEAR_FACE_EDGES, NearSlot());
    blockLow.assign(BLOCK_COUNT, 0.0f);
    blockHigh.assign(BLOCK_COUNT, 0.0f);
    blockMagnitude.assign(BLOCK_COUNT, 0.0f);
    paddedClass.assign(size_t(BLOCKS_PER_AXIS + 2) * (BLOCKS_PER_AXIS + 2) * (BLOCKS_PER_AXIS + 2), BLOCK_OUTSIDE);
    paddedMask.assign(paddedClass.size(), 0u);
    pointRows.assign(size_t(GRID_SIZE + 2) * (GRID_SIZE + 2), 0u);
    visitedRows.assign(size_t(GRID_SIZE + 1) * (GRID_SIZE + 1), 0u);
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    wideRows = __builtin_cpu_supports("avx");
#endif
}

// --- Block source lists ----------------------------------------------------------------------

namespace {

// Block range [lo, hi] on one axis of a support interval, inside the node's
// blocks. The interval is widened a little so that rounding in the kernel
// (a point a hair outside the radius still giving w > 0) can never drop a
// source from a block it reaches. Returns false for an empty or NaN range.
bool blockRange(float low, float high, float radius, float nodeMin, float nodeMax, int& lo, int& hi)
{
    const float margin = 0.01f + 1e-4f * std::fabs(radius);
    float l = std::floor((low - margin) * (1.0f / BLOCK_SIZE));
    float h = std::floor((high + margin) * (1.0f / BLOCK_SIZE));
    const float nodeLo = nodeMin * (1.0f / BLOCK_SIZE);
    const float nodeHi = nodeMax * (1.0f / BLOCK_SIZE) - 1.0f;
    if (!(l <= h))
        return false;   // NaN: such a source adds nothing anywhere
    l = l < nodeLo ? nodeLo : l;
    h = h > nodeHi ? nodeHi : h;
    if (l > h)
        return false;
    lo = static_cast<int>(l);
    hi = static_cast<int>(h);
    return true;
}

// The number of the block at block coordinates (bx, by, bz).
constexpr int blockIndex(int bx, int by, int bz) { return bx + BLOCKS_PER_AXIS * (by + BLOCKS_PER_AXIS * bz); }

// The lattice points of block b on one axis are BLOCK_SIZE b .. BLOCK_SIZE b + 3.
constexpr float BLOCK_SPAN = float(BLOCK_SIZE - 1);
// Distance from a block's centre point to its farthest lattice point.
constexpr float BLOCK_HALF_DIAGONAL = 0.5f * BLOCK_SPAN * 1.7320508f;

// The squared reach beyond which a source of support radius r adds nothing:
// r widened like blockRange's margin, and a little more, so that a block is
// only left out when the kernel is certain to give w <= 0 at all its points.
float reachSq(float r, float extra)
{
    const float reach = r * 1.001f + extra + 0.01f;
    return reach * reach;
}

// Squared distance from p to the segment, with the projection clamped to the
// segment as the kernel clamps it (coincident ends: the distance to the start).
float segmentDistanceSq(const SegmentSource& s, const Float3& p)
{
    const float vx = p.x - s.start.x, vy = p.y - s.start.y, vz = p.z - s.start.z;
    float t = (s.direction.x * vx + s.direction.y * vy + s.direction.z * vz) * s.invLengthSq;
    t = t > 0.0f ? (t < 1.0f ? t : 1.0f) : 0.0f;
    const float ex = vx - s.direction.x * t, ey = vy - s.direction.y * t, ez = vz - s.direction.z * t;
    return ex * ex + ey * ey + ez * ez;
}

// Calls add(block, entry) for every block that each enabled source of the
// node may reach: balls first, then segments, each ascending. Candidates are
// the blocks of the source's support box; of those, a ball skips the blocks
// whose nearest lattice point lies beyond its radius, and a segment the
// blocks whose centre lies farther than radius + half the block's diagonal.
// Skipping only ever drops sources that add exactly nothing to every point of
// the block, so the sums keep their terms and their order. NaN distances
// compare false and keep the block.
bool finite(float v) { return v - v == 0.0f; }
bool finite(const Float3& v) { return finite(v.x) && finite(v.y) && finite(v.z); }

// Bounds widen the kernel's w by this much before squaring: far more than the
// rounding of a point's own evaluation (a few units in the last place of
// numbers near 1), so no point's value can fall outside its block's bounds.
constexpr float W_MARGIN = 1e-4f;

// The range of strength * max(w, 0)^2 for w in [wLow, wHigh] and strength in
// [sLow, sHigh], widened for rounding: one source's share of a block's bounds.
struct KernelRange {
    float lo, hi;        // the share's extremes
    float magnitude;     // its largest absolute value
};

inline float lesser(float a, float b) { return a < b ? a : b; }
inline float greater(float a, float b) { return a > b ? a : b; }

inline KernelRange kernelRange(float wLow, float wHigh, float sLow, float sHigh)
{
    // A strength that is not finite bounds nothing (such a pass is evaluated
    // point by point anyway). NaN w, from a radius of 0, gives k = 0, as the
    // kernel's own "w > 0" test does.
    if (!finite(sLow) || !finite(sHigh))
        return KernelRange{ -INFINITY, INFINITY, 0.0f };
    wLow -= W_MARGIN;
    wHigh += W_MARGIN;
    const float kLow = wLow > 0.0f ? wLow * wLow : 0.0f;
    const float kHigh = wHigh > 0.0f ? wHigh * wHigh : 0.0f;
    // k in [kLow, kHigh] (both >= 0), s in [sLow, sHigh]: the product's
    // extremes lie at the corners.
    const float p0 = sLow * kLow, p1 = sLow * kHigh, p2 = sHigh * kLow, p3 = sHigh * kHigh;
    KernelRange range;
    range.lo = lesser(lesser(p0, p1), lesser(p2, p3));
    range.hi = greater(greater(p0, p1), greater(p2, p3));
    range.magnitude = greater(std::fabs(sLow), std::fabs(sHigh)) * kHigh;
    return range;
}

// kernelRange for one strength (a ball's).
inline KernelRange ballKernelRange(float wLow, float wHigh, float strength)
{
    if (!finite(strength))
        return KernelRange{ -INFINITY, INFINITY, 0.0f };
    wLow -= W_MARGIN;
    wHigh += W_MARGIN;
    const float kLow = wLow > 0.0f ? wLow * wLow : 0.0f;
    const float kHigh = wHigh > 0.0f ? wHigh * wHigh : 0.0f;
    const float p0 = strength * kLow, p1 = strength * kHigh;
    return strength >= 0.0f ? KernelRange{ p0, p1, p1 } : KernelRange{ p1, p0, -p1 };
}

// Calls add(block, entry, range) for every block that each enabled source of
// the node may reach: balls first, then segments, each ascending. Candidates
// are the blocks of the source's support box; of those, a ball skips the
// blocks whose nearest lattice point lies beyond its radius, and a segment the
// blocks whose centre lies farther than radius + half the block's diagonal.
// Skipping only ever drops sources that add exactly nothing to every point of
// the block, so the sums keep their terms and their order. NaN distances
// compare false and keep the block. With BOUNDS, `range` is the source's share
// of the block's bounds (the kernel over the block's nearest and farthest
// distances); without, it is left empty.
template <bool BOUNDS, typename Add>
void forNodeSources(const SourceField& field, const SourceNode& node, Add add)
{
    auto blockBox = [&](const float low[3], const float high[3], float radius, int lo[3], int hi[3]) {
        for (int i = 0; i < 3; ++i)
            if (!blockRange(low[i], high[i], radius, node.minCorner[i], node.maxCorner[i], lo[i], hi[i]))
                return false;
        return true;
    };
    KernelRange range{ 0.0f, 0.0f, 0.0f };
    for (uint32_t id : node.ballIds) {
        const BallSource& b = field.balls[id];
        if (!b.enabled)
            continue;
        const float r = std::fabs(b.radius);
        const float low[3] = { b.centre.x - r, b.centre.y - r, b.centre.z - r };
        const float high[3] = { b.centre.x + r, b.centre.y + r, b.centre.z + r };
        int lo[3], hi[3];
        if (!blockBox(low, high, r, lo, hi))
            continue;
        // Per axis, the squared distance from the centre to each block's
        // nearest and farthest points.
        float gap[3][BLOCKS_PER_AXIS], far[3][BLOCKS_PER_AXIS];
        for (int i = 0; i < 3; ++i)
            for (int k = lo[i]; k <= hi[i]; ++k) {
                const float first = float(k * BLOCK_SIZE);
                const float below = first - b.centre[i];                  // > 0: the block lies above
                const float above = b.centre[i] - (first + BLOCK_SPAN);   // > 0: the block lies below
                const float g = below > 0.0f ? below : (above > 0.0f ? above : 0.0f);
                gap[i][k] = g * g;
                if constexpr (BOUNDS) {
                    const float f = std::fmax(std::fabs(below), std::fabs(above));
                    far[i][k] = f * f;
                }
            }
        const float limit = reachSq(r, 0.0f);
        for (int z = lo[2]; z <= hi[2]; ++z)
            for (int y = lo[1]; y <= hi[1]; ++y) {
                const float yz = gap[1][y] + gap[2][z];
                if (yz > limit)
                    continue;
                for (int x = lo[0]; x <= hi[0]; ++x) {
                    const float nearSq = gap[0][x] + yz;
                    if (nearSq > limit)
                        continue;
                    if constexpr (BOUNDS) {
                        const float farSq = far[0][x] + far[1][y] + far[2][z];
                        range = ballKernelRange(1.0f - farSq * b.invRadiusSq, 1.0f - nearSq * b.invRadiusSq, b.strength);
                    }
                    add(blockIndex(x, y, z), id, range);
                }
            }
    }
    for (uint32_t id : node.segmentIds) {
        const SegmentSource& s = field.segments[id];
        if (!s.enabled)
            continue;
        const float r = std::fabs(s.radius);
        float low[3], high[3];
        for (int i = 0; i < 3; ++i) {
            low[i] = (s.start[i] < s.end[i] ? s.start[i] : s.end[i]) - r;
            high[i] = (s.start[i] < s.end[i] ? s.end[i] : s.start[i]) + r;
        }
        int lo[3], hi[3];
        if (!blockBox(low, high, r, lo, hi))
            continue;
        const float limit = reachSq(r, BLOCK_HALF_DIAGONAL);
        const float half = 0.5f * BLOCK_SPAN;
        const float strengthLow = lesser(s.startStrength, s.endStrength);
        const float strengthHigh = greater(s.startStrength, s.endStrength);
        for (int z = lo[2]; z <= hi[2]; ++z)
            for (int y = lo[1]; y <= hi[1]; ++y)
                for (int x = lo[0]; x <= hi[0]; ++x) {
                    const Float3 centre(float(x * BLOCK_SIZE) + half, float(y * BLOCK_SIZE) + half,
                                        float(z * BLOCK_SIZE) + half);
                    const float distanceSq = segmentDistanceSq(s, centre);
                    if (distanceSq > limit)
                        continue;
                    if constexpr (BOUNDS) {
                        // The distance to the segment changes by at most the
                        // distance moved, so over the block it lies within the
                        // centre's distance +- half the block's diagonal.
                        const float d = std::sqrt(distanceSq);
                        const float nearest = greater(d - BLOCK_HALF_DIAGONAL, 0.0f);
                        const float farthest = d + BLOCK_HALF_DIAGONAL;
                        range = kernelRange(1.0f - farthest * farthest * s.invRadiusSq,
                                            1.0f - nearest * nearest * s.invRadiusSq, strengthLow, strengthHigh);
                    }
                    add(blockIndex(x, y, z), id | BLOCK_SEGMENT_BIT, range);
                }
    }
}


// Sets every lane to v. (Through a reference: 32-byte vectors passed by value
// would have different calling conventions with and without AVX.)
inline void broadcast(RowLanes& out, float v) { out = RowLanes{ v, v, v, v, v, v, v, v }; }

void prepareRowSources(IsoMesher& mesher)
{
    const SourceField& field = *mesher.field;
    mesher.rowBalls.resize(field.balls.size());
    for (size_t i = 0; i < field.balls.size(); ++i) {
        const BallSource& b = field.balls[i];
        if (!b.enabled)
            continue;   // never listed in a block this pass
        RowBall& r = mesher.rowBalls[i];
        broadcast(r.centreX, b.centre.x);
        broadcast(r.centreY, b.centre.y);
        broadcast(r.centreZ, b.centre.z);
        broadcast(r.invRadiusSq, b.invRadiusSq);
        broadcast(r.strength, b.strength);
        broadcast(r.red, b.colour.x);
        broadcast(r.green, b.colour.y);
        broadcast(r.blue, b.colour.z);
    }
    mesher.rowSegments.resize(field.segments.size());
    for (size_t i = 0; i < field.segments.size(); ++i) {
        const SegmentSource& s = field.segments[i];
        if (!s.enabled)
            continue;
        RowSegment& r = mesher.rowSegments[i];
        broadcast(r.startX, s.start.x);
        broadcast(r.startY, s.start.y);
        broadcast(r.startZ, s.start.z);
        broadcast(r.directionX, s.direction.x);
        broadcast(r.directionY, s.direction.y);
        broadcast(r.directionZ, s.direction.z);
        broadcast(r.invLengthSq, s.invLengthSq);
        broadcast(r.endX, s.end.x);
        broadcast(r.endY, s.end.y);
        broadcast(r.endZ, s.end.z);
        broadcast(r.invRadiusSq, s.invRadiusSq);
        broadcast(r.startStrength, s.startStrength);
        broadcast(r.strengthStep, s.endStrength - s.startStrength);
        broadcast(r.startRed, s.startColour.x);
        broadcast(r.startGreen, s.startColour.y);
        broadcast(r.startBlue, s.startColour.z);
        broadcast(r.redStep, s.endColour.x - s.startColour.x);
        broadcast(r.greenStep, s.endColour.y - s.startColour.y);
        broadcast(r.blueStep, s.endColour.z - s.startColour.z);
    }
}

void buildBlockLists(IsoMesher& mesher)
{
    const SourceField& field = *mesher.field;
    // Row evaluation adds 0 * strength and 0 * colour for sources that do not
    // reach a lane: exact only when those are finite.
    mesher.rowEvaluation = true;
    for (const BallSource& b : field.balls)
        if (b.enabled && !(finite(b.strength) && finite(b.colour)))
            mesher.rowEvaluation = false;
    for (const SegmentSource& s : field.segments)
        if (s.enabled && !(finite(s.startStrength) && finite(s.endStrength) && finite(s.startColour) &&
                           finite(s.endColour)))
            mesher.rowEvaluation = false;

    if (mesher.rowEvaluation)
        prepareRowSources(mesher);

    // The nodes in walk-depth order: root, depth 1, depth 2. Each block meets
    // exactly one node per depth, so appending in this order keeps walk order.
    const SourceNode* nodes[1 + 8 + 64];
    int count = 0;
    nodes[count++] = &field.root;
    for (const auto& child : field.root.children)
        if (child)
            nodes[count++] = child.get();
    for (const auto& child : field.root.children)
        if (child)
            for (const auto& grandchild : child->children)
                if (grandchild)
                    nodes[count++] = grandchild.get();

    std::vector<uint32_t>& start = mesher.blockStart;
    std::vector<uint32_t>& entries = mesher.blockSources;
    std::vector<BlockEntry>& found = mesher.blockScratch;
    found.clear();
    start.assign(BLOCK_COUNT + 1, 0u);
    auto addEntry = [&](int block, uint32_t entry, const KernelRange&) {
        ++start[block + 1];
        found.push_back(BlockEntry{ static_cast<uint32_t>(block), entry });
    };
    if (mesher.completeSurface) {
        // The lists and, for the rescue, each block's bounds in one pass.
        std::fill(mesher.blockLow.begin(), mesher.blockLow.end(), 0.0f);
        std::fill(mesher.blockHigh.begin(), mesher.blockHigh.end(), 0.0f);
        std::fill(mesher.blockMagnitude.begin(), mesher.blockMagnitude.end(), 0.0f);
        for (int n = 0; n < count; ++n)
            forNodeSources<true>(field, *nodes[n], [&](int block, uint32_t entry, const KernelRange& range) {
                addEntry(block, entry, range);
                mesher.blockLow[size_t(block)] += range.lo;
                mesher.blockHigh[size_t(block)] += range.hi;
                mesher.blockMagnitude[size_t(block)] += range.magnitude;
            });
    } else {
        for (int n = 0; n < count; ++n)
            forNodeSources<false>(field, *nodes[n], addEntry);
    }
    for (int b = 0; b < BLOCK_COUNT; ++b)
        start[b + 1] += start[b];
    entries.resize(start[BLOCK_COUNT]);
    // Distribute in the order found, using start[b] as the write cursor;
    // afterwards start[b] has moved to the old start[b + 1], so shift back.
    for (const BlockEntry& e : found)
        entries[start[e.block]++] = e.entry;
    for (int b = BLOCK_COUNT; b > 0; --b)
        start[b] = start[b - 1];
    start[0] = 0;
}

} // namespace

// --- Cached field ------------------------------------------------------------------------

namespace {

// The point's sum over its block's list, one point at a time.
void evaluatePoint(const IsoMesher& mesher, int32_t x, int32_t y, int32_t z, GridCell& cell)
{
    const int block = blockIndex(x >> BLOCK_SHIFT, y >> BLOCK_SHIFT, z >> BLOCK_SHIFT);
    const uint32_t* entry = mesher.blockSources.data() + mesher.blockStart[block];
    const uint32_t* end = mesher.blockSources.data() + mesher.blockStart[block + 1];
    const BallSource* balls = mesher.field->balls.data();
    const SegmentSource* segments = mesher.field->segments.data();
    const Float3 q{ float(x), float(y), float(z) };
    FieldSum sum;
    for (; entry != end; ++entry) {
        if (*entry & BLOCK_SEGMENT_BIT)
            addSegment(segments[*entry & ~BLOCK_SEGMENT_BIT], q, sum);
        else
            addBall(balls[*entry], q, sum);
    }
    cell.colour = weightedColour(sum.value, Float3(sum.r, sum.g, sum.b));
    cell.value = sum.value;
}

// Rows of four points along x evaluated together, one point per vector lane:
// one row at a time in 128-bit registers, or, on processors with AVX, two
// neighbouring rows of a block (y0 and y0 + 1, y0 even) in 256-bit ones. Nearly
// every row next to a needed one is needed as well (the surface is a thin
// shell), so the second row is seldom wasted.
//
// Each lane performs exactly the operations of addBall / addSegment in the
// same order; a source that does not reach a lane adds w = 0 there, i.e. +0 or
// -0, which leaves every sum unchanged as long as strengths and colours are
// finite (checked when the block lists are built), since a sum that starts at
// +0 is never -0. So every lane's result is bit-identical to the point's own
// walk, whichever width is used.
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

typedef float Lanes4 __attribute__((vector_size(16)));
typedef RowLanes Lanes8;

// The first sizeof(V) bytes of a source constant. (Through references: 32-byte
// vectors passed by value would have different calling conventions with and
// without AVX.)
template <typename V>
inline void loadLanes(V& out, const RowLanes& in)
{
    std::memcpy(&out, &in, sizeof(V));
}

// The sums of one row (Lanes4) or pair of rows (Lanes8) over the block's list:
// value and strength-weighted colour.
template <typename V>
__attribute__((always_inline)) inline void sumLanes(const IsoMesher& mesher, int32_t x0, int32_t y0, int32_t z, V& value,
                                                    V& r, V& g, V& b)
{
    constexpr int N = int(sizeof(V) / sizeof(float));
    const int block = blockIndex(x0 >> BLOCK_SHIFT, y0 >> BLOCK_SHIFT, z >> BLOCK_SHIFT);
    const uint32_t* entry = mesher.blockSources.data() + mesher.blockStart[block];
    const uint32_t* end = mesher.blockSources.data() + mesher.blockStart[block + 1];
    const RowBall* balls = mesher.rowBalls.data();
    const RowSegment* segments = mesher.rowSegments.data();
    V qx, qy, qz, zero, one;
    for (int i = 0; i < N; ++i) {
        qx[i] = float(x0 + i % ROW_LANES);
        qy[i] = float(y0 + i / ROW_LANES);
        qz[i] = float(z);
        zero[i] = 0.0f;
        one[i] = 1.0f;
    }
    value = r = g = b = zero;
    for (; entry != end; ++entry) {
        if (!(*entry & BLOCK_SEGMENT_BIT)) {
            const RowBall& ball = balls[*entry];
            V centreX, centreY, centreZ, invRadiusSq, strength;
            loadLanes(centreX, ball.centreX);
            loadLanes(centreY, ball.centreY);
            loadLanes(centreZ, ball.centreZ);
            loadLanes(invRadiusSq, ball.invRadiusSq);
            loadLanes(strength, ball.strength);
            const V dx = qx - centreX;
            const V dy = qy - centreY;
            const V dz = qz - centreZ;
            const V wRaw = 1.0f - (dx * dx + dy * dy + dz * dz) * invRadiusSq;
            const V w = wRaw > zero ? wRaw : zero;   // NaN lanes give 0, as "w > 0" fails for them
            const V f = strength * w * w;
            value += f;
            V red, green, blue;
            loadLanes(red, ball.red);
            loadLanes(green, ball.green);
            loadLanes(blue, ball.blue);
            r += f * red;
            g += f * green;
            b += f * blue;
        } else {
            const RowSegment& s = segments[*entry & ~BLOCK_SEGMENT_BIT];
            V startX, startY, startZ, dirX, dirY, dirZ, invLengthSq, endX, endY, endZ, invRadiusSq;
            loadLanes(startX, s.startX);
            loadLanes(startY, s.startY);
            loadLanes(startZ, s.startZ);
            loadLanes(dirX, s.directionX);
            loadLanes(dirY, s.directionY);
            loadLanes(dirZ, s.directionZ);
            loadLanes(invLengthSq, s.invLengthSq);
            loadLanes(endX, s.endX);
            loadLanes(endY, s.endY);
            loadLanes(endZ, s.endZ);
            loadLanes(invRadiusSq, s.invRadiusSq);
            const V vx = qx - startX;
            const V vy = qy - startY;
            const V vz = qz - startZ;
            const V t = (dirX * vx + dirY * vy + dirZ * vz) * invLengthSq;
            const V d0 = vx * vx + vy * vy + vz * vz;
            const V ex = dirX * t - vx;
            const V ey = dirY * t - vy;
            const V ez = dirZ * t - vz;
            const V d1 = ex * ex + ey * ey + ez * ez;
            const V fx = qx - endX;
            const V fy = qy - endY;
            const V fz = qz - endZ;
            const V d2 = fx * fx + fy * fy + fz * fz;
            const V distSq = t <= zero ? d0 : (t < one ? d1 : d2);
            const V wRaw = 1.0f - distSq * invRadiusSq;
            const V w = wRaw > zero ? wRaw : zero;
            const V tc = t > zero ? (t < one ? t : one) : zero;
            V strength, strengthStep;
            loadLanes(strength, s.startStrength);
            loadLanes(strengthStep, s.strengthStep);
            const V f = (strength + tc * strengthStep) * w * w;
            value += f;
            V red, redStep, green, greenStep, blue, blueStep;
            loadLanes(red, s.startRed);
            loadLanes(redStep, s.redStep);
            loadLanes(green, s.startGreen);
            loadLanes(greenStep, s.greenStep);
            loadLanes(blue, s.startBlue);
            loadLanes(blueStep, s.blueStep);
            r += f * (red + tc * redStep);
            g += f * (green + tc * greenStep);
            b += f * (blue + tc * blueStep);
        }
    }
}

// The body, compiled once for each width: V is Lanes4 (one row) or Lanes8 (the
// pair of rows y0, y0 + 1). Values and colours go into the rows' stale cells;
// with valuesOut, the values also go there, row after row (cells that were
// current already hold the same bits).
template <typename V>
__attribute__((always_inline)) inline void evaluateLanes(IsoMesher& mesher, int32_t x0, int32_t y0, int32_t z,
                                                         float* valuesOut = nullptr)
{
    constexpr int N = int(sizeof(V) / sizeof(float));
    constexpr int ROWS = N / ROW_LANES;
    V value, r, g, b, zero, one;
    for (int i = 0; i < N; ++i) {
        zero[i] = 0.0f;
        one[i] = 1.0f;
    }
    sumLanes<V>(mesher, x0, y0, z, value, r, g, b);
    // weightedColour for all lanes at once (IEEE division rounds the same in
    // a vector lane); lanes with value 0 or a non-finite quotient get black.
    const V safeValue = value == zero ? one : value;
    const V qr = r / safeValue, qg = g / safeValue, qb = b / safeValue;
    const auto keep = (qr - qr == zero) & (qg - qg == zero) & (qb - qb == zero) & (value != zero);
    const V cr = keep ? qr : zero, cg = keep ? qg : zero, cb = keep ? qb : zero;
    // Whole vectors out to plain arrays, then one scalar pass over the cells.
    float values[N], reds[N], greens[N], blues[N];
    std::memcpy(values, &value, sizeof(V));
    std::memcpy(reds, &cr, sizeof(V));
    std::memcpy(greens, &cg, sizeof(V));
    std::memcpy(blues, &cb, sizeof(V));
    if (valuesOut)
        std::memcpy(valuesOut, values, sizeof(V));
    for (int row = 0; row < ROWS; ++row) {
        const int32_t first = cellIndex(x0, y0 + row, z);
        for (int i = 0; i < ROW_LANES; ++i) {
            const int lane = row * ROW_LANES + i;
            GridCell& cell = cellAtIndex(mesher, first + i);
            if (!sameBits(cell.value, STALE_VALUE))
                continue;
            cell.colour = Float3(reds[lane], greens[lane], blues[lane]);
            cell.value = values[lane];
        }
    }
}

// One row of four points (x0 a multiple of 4).
void evaluateRow(IsoMesher& mesher, int32_t x0, int32_t y, int32_t z, float* valuesOut = nullptr)
{
    evaluateLanes<Lanes4>(mesher, x0, y, z, valuesOut);
}

// Rows y0 and y0 + 1 (y0 even) in 256-bit registers.
__attribute__((target("avx"))) void evaluateRowPair(IsoMesher& mesher, int32_t x0, int32_t y0, int32_t z,
                                                    float* valuesOut = nullptr)
{
    evaluateLanes<Lanes8>(mesher, x0, y0, z, valuesOut);
}

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

} // namespace

namespace {

// fieldGradient for a point whose cell (the spare one outside the lattice)
// has already been looked up this pass.
inline Float3 gradientOf(IsoMesher& mesher, GridCell& cell, const GridPoint& p)
{
    if (&cell == &mesher.spare)
        return centralDifferences(mesher, p);   // not cached: the spare cell is shared
    if (!sameBits(cell.gradient.x, STALE_GRADIENT))
        return cell.gradient;
    const Float3 g = centralDifferences(mesher, p);   // cells never move, `cell` stays valid
    cell.gradient = g;
    return g;
}

} // namespace

float fieldValue(IsoMesher& mesher, const GridPoint& p)
{
    return valueAt(mesher, p.x, p.y, p.z);
}

Float3 fieldGradient(IsoMesher& mesher, const GridPoint& p)
{
    return gradientOf(mesher, cellAt(mesher, p), p);
}

// --- Pass set-up ---------------------------------------------------------------------------

void beginPass(IsoMesher& mesher)
{
    ++mesher.stamp;
    if (mesher.stamp == 0) {
        // The 16-bit stamp wrapped: cells last touched 65,536 passes ago would
        // look current, so reset all of them now (they become current and clean).
        for (GridCell& cell : mesher.cells) {
            resetCell(cell);
            cell.stamp = 0;
        }
    }
    // The field's range, kept inside 0..64 so that no cube outside the lattice
    // is ever marked in the spare cell.
    auto clampRange = [](int32_t v) { return v < 0 ? 0 : (v > GRID_SIZE ? GRID_SIZE : v); };
    const int32_t lo = clampRange(mesher.field->gridMin);
    const int32_t hi = clampRange(mesher.field->gridMax);
    mesher.cellMin = GridPoint{ lo, lo, lo };
    mesher.cellMax = GridPoint{ hi, hi, hi };
    // Closed surfaces: at the lattice's near faces the cubes from -1 are
    // visited too (their corners at -1 read 0), as the cubes in layer 63 read
    // 0 at 64.
    const int32_t low = mesher.completeSurface && lo == 0 ? -1 : lo;
    mesher.cubeMin = GridPoint{ low, low, low };
    // The near-face marks hold pass stamps. Refilled every 32,768 passes with a
    // stamp half a cycle away, so no old mark is ever taken for this pass's.
    if ((mesher.stamp & 0x7FFF) == 0) {
        const uint16_t far = static_cast<uint16_t>(mesher.stamp ^ 0x8000);
        std::fill(mesher.nearVisited.begin(), mesher.nearVisited.end(), far);
        for (NearSlot& slot : mesher.nearSlots)
            slot.stamp = far;
    }
    if (mesher.completeSurface)
        std::fill(mesher.visitedRows.begin(), mesher.visitedRows.end(), 0u);
    IsoMesh& mesh = mesher.meshes[mesher.current];
    mesh.vertices.clear();
    mesh.indices.clear();
    buildBlockLists(mesher);
}

// --- Seeds -------------------------------------------------------------------------------------

namespace {

inline bool withinInclusive(const IsoMesher& m, const GridPoint& q)
{
    return q.x >= m.cellMin.x && q.x <= m.cellMax.x && q.y >= m.cellMin.y && q.y <= m.cellMax.y &&
           q.z >= m.cellMin.z && q.z <= m.cellMax.z;
}

inline bool withinCubes(const IsoMesher& m, const GridPoint& q)
{
    return q.x >= m.cubeMin.x && q.x < m.cellMax.x && q.y >= m.cubeMin.y && q.y < m.cellMax.y &&
           q.z >= m.cubeMin.z && q.z < m.cellMax.z;
}

// Truncation towards zero of a reference coordinate. Coordinates far outside
// the lattice are first clamped to -2 or 66: those points, like every point
// they stand for, lie outside the range two steps from its edge, so the march
// behaves the same, and the integer conversion cannot overflow.
inline int32_t truncateCoordinate(float v)
{
    if (v < -2.0f)
        v = -2.0f;
    if (v > 66.0f)
        v = 66.0f;
    return static_cast<int32_t>(v);
}

} // namespace

std::vector<GridPoint>& seedSurface(IsoMesher& mesher, const SourceField& field, float isoLevel)
{
    std::vector<GridPoint>& stack = mesher.stack;
    stack.clear();
    for (SourceCursor cursor(field); cursor.next();) {
        const Float3 ref = cursor.position();
        if (!std::isfinite(ref.x) || !std::isfinite(ref.y) || !std::isfinite(ref.z))
            continue;   // no lattice point to start from
        const GridPoint p{ truncateCoordinate(ref.x), truncateCoordinate(ref.y), truncateCoordinate(ref.z) };
        if (fieldValue(mesher, p) < isoLevel)
            continue;
        for (const CornerOffset& s : SEED_STEPS) {
            GridPoint q = p;
            bool below = false;
            do {
                q.x += s.x;
                q.y += s.y;
                q.z += s.z;
                if (fieldValue(mesher, q) < isoLevel) {
                    below = true;
                    break;
                }
            } while (withinInclusive(mesher, q));
            if (below && withinInclusive(mesher, q)) {
                stack.push_back(q);
                stack.push_back(GridPoint{ q.x - s.x, q.y - s.y, q.z - s.z });
                break;
            }
        }
    }
    return stack;
}

// --- Flood tables ---------------------------------------------------------------------------------

namespace {

// Flat-index offset of each cube corner.
constexpr int32_t CORNER_INDEX[8] = {
    0, STEP_X, STEP_Y, STEP_X + STEP_Y, STEP_Z, STEP_X + STEP_Z, STEP_Y + STEP_Z, STEP_X + STEP_Y + STEP_Z,
};

// Face masks in neighbour order +x, -x, +y, -y, +z, -z.
struct FaceStep {
    uint8_t mask;
    int8_t  dx, dy, dz;
};
constexpr FaceStep FACE_STEPS[] = {
    { 0xAA, +1,  0,  0 },   // +x: corners 1, 3, 5, 7
    { 0x55, -1,  0,  0 },   // -x: corners 0, 2, 4, 6
    { 0xCC,  0, +1,  0 },   // +y: corners 2, 3, 6, 7
    { 0x33,  0, -1,  0 },   // -y: corners 0, 1, 4, 5
    { 0xF0,  0,  0, +1 },   // +z: corners 4-7
    { 0x0F,  0,  0, -1 },   // -z: corners 0-3
};
static_assert(std::size(FACE_STEPS) == 6);

// Flat-index step of each FACE_STEPS neighbour.
constexpr int32_t FACE_INDEX[6] = { STEP_X, -STEP_X, STEP_Y, -STEP_Y, STEP_Z, -STEP_Z };

// For each configuration, bit k set when face FACE_STEPS[k] is crossed.
struct CrossedFaceTable {
    uint8_t masks[256] = {};
};

constexpr CrossedFaceTable buildCrossedFaceTable()
{
    CrossedFaceTable table{};
    for (unsigned c = 0; c < 256; ++c)
        for (int k = 0; k < 6; ++k) {
            const unsigned bits = c & FACE_STEPS[k].mask;
            if (bits != 0 && bits != FACE_STEPS[k].mask)
                table.masks[c] = static_cast<uint8_t>(table.masks[c] | (1u << k));
        }
    return table;
}

constexpr CrossedFaceTable CROSSED_FACES = buildCrossedFaceTable();
static_assert(CROSSED_FACES.masks[0] == 0 && CROSSED_FACES.masks[255] == 0);
static_assert(CROSSED_FACES.masks[1] == 0x2A, "corner 0 alone: the -x, -y and -z faces");

} // namespace

// --- Near faces ------------------------------------------------------------------------------

namespace {

// The visitedRows word of cube row (y, z), y and z in -1..63.
inline size_t visitedRow(int32_t y, int32_t z)
{
    return size_t(y + 1) + size_t(GRID_SIZE + 1) * size_t(z + 1);
}

// Notes a visited cube in its row's bits (cubes from -1 along x have none:
// their near-face marks are read instead).
inline void markVisitedRow(IsoMesher& mesher, const GridPoint& q)
{
    if (q.x >= 0)
        mesher.visitedRows[visitedRow(q.y, q.z)] |= uint64_t(1) << q.x;
}

// The near-face cube of lowest corner q (some coordinate -1, all in -1..63).
inline int nearCubeIndex(const GridPoint& q)
{
    if (q.x < 0)
        return (q.y + 1) + 65 * (q.z + 1);
    if (q.y < 0)
        return 65 * 65 + q.x + 64 * (q.z + 1);
    return 65 * 65 + 64 * 65 + q.x + 64 * q.y;
}

// The near-face slot of the edge from A (A[axis] == -1, the other two
// coordinates in 0..63) along `axis`, or null for any other A.
inline NearSlot* nearSlotOf(IsoMesher& mesher, const GridPoint& A, int axis)
{
    int32_t u, v;
    switch (axis) {
    case 0: if (A.x != -1) return nullptr; u = A.y; v = A.z; break;
    case 1: if (A.y != -1) return nullptr; u = A.x; v = A.z; break;
    default: if (A.z != -1) return nullptr; u = A.x; v = A.y; break;
    }
    if (static_cast<uint32_t>(u) >= uint32_t(GRID_SIZE) || static_cast<uint32_t>(v) >= uint32_t(GRID_SIZE))
        return nullptr;
    NearSlot& slot = mesher.nearSlots[size_t(axis * GRID_SIZE * GRID_SIZE + u + GRID_SIZE * v)];
    if (slot.stamp != mesher.stamp) {
        slot.stamp = mesher.stamp;
        slot.vertex = NO_VERTEX;
    }
    return &slot;
}

// Marks the cube visited; false when it already was this pass. The cube's own
// cell for cubes in the lattice, the near-face marks for those from -1.
inline bool visitCube(IsoMesher& mesher, const GridPoint& q)
{
    if (inLattice(q.x, q.y, q.z)) {
        GridCell& cell = cellAtIndex(mesher, cellIndex(q.x, q.y, q.z));
        if (cell.visited)
            return false;
        cell.visited = true;
        return true;
    }
    uint16_t& mark = mesher.nearVisited[size_t(nearCubeIndex(q))];
    if (mark == mesher.stamp)
        return false;
    mark = mesher.stamp;
    return true;
}

inline bool cubeVisited(IsoMesher& mesher, const GridPoint& q)
{
    if (inLattice(q.x, q.y, q.z))
        return cellAtIndex(mesher, cellIndex(q.x, q.y, q.z)).visited;
    return mesher.nearVisited[size_t(nearCubeIndex(q))] == mesher.stamp;
}

} // namespace

uint16_t nearEdgeVertex(const IsoMesher& mesher, const GridPoint& A, int axis)
{
    // Reading only: a slot of another pass has no vertex in this one.
    NearSlot* slot = nearSlotOf(const_cast<IsoMesher&>(mesher), A, axis);
    return slot ? slot->vertex : NO_VERTEX;
}

// --- Flood ----------------------------------------------------------------------------------------

namespace {

// The body of makeEdgeVertex, inlined into the flood.
__attribute__((always_inline)) inline IsoVertex edgeVertexOf(const GridPoint& A, int axis, float vA, float vB,
                                                             const Float3& gA, const Float3& gB, const Float3& cA,
                                                             const Float3& cB, float isoLevel)
{
    const float t = (isoLevel - vA) / (vB - vA);   // vA != vB: they lie on either side

    IsoVertex vertex;
    vertex.position = Float3(float(A.x), float(A.y), float(A.z));
    vertex.position[axis] += t;   // B - A is one unit step along `axis`

    const Float3 n(gA.x + t * (gB.x - gA.x), gA.y + t * (gB.y - gA.y), gA.z + t * (gB.z - gA.z));
    const float length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    if (length > 0.0f && std::isfinite(length)) {
        // Negated (out of the blobs), then divided per component: a multiply by
        // a precomputed 1 / length would round differently in the last bit.
        vertex.normal = Float3(-n.x / length, -n.y / length, -n.z / length);
    } else {
        // A flat field along the edge has no gradient: point from the inside
        // end towards the outside end instead.
        vertex.normal = Float3();
        vertex.normal[axis] = vA >= isoLevel ? 1.0f : -1.0f;
    }

    // A point whose total value is 0 has no colour of its own: take the other end's.
    if (vA == 0.0f)
        vertex.colour = cB;
    else if (vB == 0.0f)
        vertex.colour = cA;
    else
        vertex.colour = Float3(cA.x + t * (cB.x - cA.x), cA.y + t * (cB.y - cA.y), cA.z + t * (cB.z - cA.z));
    return vertex;
}

} // namespace

IsoVertex makeEdgeVertex(const GridPoint& A, int axis, float vA, float vB, const Float3& gA, const Float3& gB,
                         const Float3& cA, const Float3& cB, float isoLevel)
{
    return edgeVertexOf(A, axis, vA, vB, gA, gB, cA, cB, isoLevel);
}

namespace {

// Appends the vertex of cube edge e (corner a inside xor corner b inside) and
// stores its index in `slot`.
void addEdgeVertex(IsoMesher& mesher, IsoMesh& mesh, const GridPoint& q, int e, const float v[8],
                   GridCell* const corner[8], float isoLevel, uint16_t& slot)
{
    const int a = EDGES[e].a;
    const int b = EDGES[e].b;
    const GridPoint A{ q.x + CORNER_OFFSETS[a].x, q.y + CORNER_OFFSETS[a].y, q.z + CORNER_OFFSETS[a].z };
    const GridPoint B{ q.x + CORNER_OFFSETS[b].x, q.y + CORNER_OFFSETS[b].y, q.z + CORNER_OFFSETS[b].z };
    const Float3 gA = gradientOf(mesher, *corner[a], A);
    const Float3 gB = gradientOf(mesher, *corner[b], B);
    slot = static_cast<uint16_t>(mesh.vertices.size());
    mesh.vertices.push_back(
        edgeVertexOf(A, EDGE_AXIS[e], v[a], v[b], gA, gB, corner[a]->colour, corner[b]->colour, isoLevel));
}

// Appends the triangles of configuration `config`, with edgeVertex[e] the
// vertex on cube edge e (only the edges the configuration crosses are read);
// a triangle with a missing vertex (mesh full) is dropped.
inline void emitTriangles(IsoMesh& mesh, uint8_t config, const uint16_t edgeVertex[12])
{
    const CubeTriangles& list = CUBE_TRIANGLES.configurations[config];
    for (int t = 0; t < list.count; ++t) {
        const uint16_t i0 = edgeVertex[list.edges[t * 3]];
        const uint16_t i1 = edgeVertex[list.edges[t * 3 + 1]];
        const uint16_t i2 = edgeVertex[list.edges[t * 3 + 2]];
        if (i0 == NO_VERTEX || i1 == NO_VERTEX || i2 == NO_VERTEX)
            continue;
        mesh.indices.push_back(i0);
        mesh.indices.push_back(i1);
        mesh.indices.push_back(i2);
    }
}

// The corner cells and values of cube q, and its configuration. Cubes below
// layer 63 on every axis and at or above 0 (nearly all of them) have all their
// corners in the lattice: flat-index steps instead of range checks.
inline unsigned cubeCorners(IsoMesher& mesher, const GridPoint& q, bool inside, int32_t base, GridCell* corner[8],
                            float v[8], float isoLevel)
{
    unsigned config = 0;
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
        const int32_t x = q.x + CORNER_OFFSETS[i].x;
        const int32_t y = q.y + CORNER_OFFSETS[i].y;
        const int32_t z = q.z + CORNER_OFFSETS[i].z;
        corner[i] = inside ? &cellAtIndex(mesher, base + CORNER_INDEX[i]) : &cellAt(mesher, x, y, z);
        v[i] = valueOf(mesher, *corner[i], x, y, z);
        config |= (v[i] >= isoLevel ? 1u : 0u) << i;
    }
    return config;
}

inline bool innerCube(const GridPoint& q)
{
    return static_cast<uint32_t>(q.x) < uint32_t(GRID_SIZE - 1) && static_cast<uint32_t>(q.y) < uint32_t(GRID_SIZE - 1) &&
           static_cast<uint32_t>(q.z) < uint32_t(GRID_SIZE - 1);
}

// The flood: pops cubes until the stack is empty, meshes every crossed one
// that was not visited, and pushes its neighbours across crossed faces.
void flood(IsoMesher& mesher, std::vector<GridPoint>& seeds, float isoLevel)
{
    IsoMesh& mesh = mesher.meshes[mesher.current];
    while (!seeds.empty()) {
        const GridPoint q = seeds.back();
        seeds.pop_back();
        if (!withinCubes(mesher, q))
            continue;
        const bool inside = innerCube(q);
        const int32_t base = cellIndex(q.x, q.y, q.z);
        GridCell* cell = nullptr;   // the cube's own cell; none for the cubes from -1
        if (inside || inLattice(q.x, q.y, q.z)) {
            cell = &cellAtIndex(mesher, base);
            if (cell->visited)
                continue;
            cell->visited = true;
        } else if (!visitCube(mesher, q)) {
            continue;
        }
        if (mesher.completeSurface)
            markVisitedRow(mesher, q);

        GridCell* corner[8];
        float v[8];
        const unsigned config = cubeCorners(mesher, q, inside, base, corner, v, isoLevel);
        if (config == 0 || config == 255)
            continue;
        if (cell)
            cell->caseIndex = static_cast<uint8_t>(config);

        // The crossed edges in ascending order: (vB < level) != (vA < level)
        // is exactly "the edge's two configuration bits differ". Each gets
        // its vertex (a neighbouring cube's from this pass, or a new one).
        uint16_t edgeVertex[12];
        for (unsigned crossed = CROSSED_EDGES.masks[config]; crossed; crossed &= crossed - 1) {
            const int e = __builtin_ctz(crossed);
            const int a = EDGES[e].a;
            uint16_t* slot;
            if (corner[a] != &mesher.spare) {
                slot = &corner[a]->edgeVertex[EDGE_AXIS[e]];
            } else {
                // Corner a outside the lattice: a crossed edge from it runs
                // from -1 into the lattice, and its vertex has a near-face slot.
                const GridPoint A{ q.x + CORNER_OFFSETS[a].x, q.y + CORNER_OFFSETS[a].y, q.z + CORNER_OFFSETS[a].z };
                NearSlot* near = nearSlotOf(mesher, A, EDGE_AXIS[e]);
                if (!near) {
                    edgeVertex[e] = NO_VERTEX;   // both ends outside: never crossed
                    continue;
                }
                slot = &near->vertex;
            }
            // Once the mesh is full, the triangles needing a new vertex are dropped.
            if (*slot == NO_VERTEX && mesh.vertices.size() < MAX_MESH_VERTICES)
                addEdgeVertex(mesher, mesh, q, e, v, corner, isoLevel, *slot);
            edgeVertex[e] = *slot;
        }

        emitTriangles(mesh, static_cast<uint8_t>(config), edgeVertex);

        // Faces the surface crosses (bits neither all clear nor all set),
        // minus those at the edge of the range, in the order +x, -x, +y, -y, +z, -z.
        unsigned faces = CROSSED_FACES.masks[config];
        if (q.x >= mesher.cellMax.x) faces &= ~0x01u;
        if (q.x <= mesher.cubeMin.x) faces &= ~0x02u;
        if (q.y >= mesher.cellMax.y) faces &= ~0x04u;
        if (q.y <= mesher.cubeMin.y) faces &= ~0x08u;
        if (q.z >= mesher.cellMax.z) faces &= ~0x10u;
        if (q.z <= mesher.cubeMin.z) faces &= ~0x20u;
        // Cubes from 1 to 62 on every axis have all six neighbours in the lattice.
        const bool innerNeighbours = inside && q.x > 0 && q.y > 0 && q.z > 0;
        for (; faces; faces &= faces - 1) {
            const int k = __builtin_ctz(faces);
            const FaceStep& f = FACE_STEPS[k];
            if (innerNeighbours) {
                if (!cellAtIndex(mesher, base + FACE_INDEX[k]).visited)
                    seeds.push_back(GridPoint{ q.x + f.dx, q.y + f.dy, q.z + f.dz });
                continue;
            }
            const GridPoint next{ q.x + f.dx, q.y + f.dy, q.z + f.dz };
            if (!(withinCubes(mesher, next) && cubeVisited(mesher, next)))
                seeds.push_back(next);
        }
    }
}

} // namespace

void polygonize(IsoMesher& mesher, std::vector<GridPoint>& seeds, float isoLevel)
{
    flood(mesher, seeds, isoLevel);
}

// --- Triangles -----------------------------------------------------------------------------------

void emitCube(IsoMesher& mesher, const GridPoint& q)
{
    GridCell* corner[8];
    for (int i = 0; i < 8; ++i)
        corner[i] = &cellAt(mesher, q.x + CORNER_OFFSETS[i].x, q.y + CORNER_OFFSETS[i].y, q.z + CORNER_OFFSETS[i].z);
    uint16_t edgeVertex[12];
    for (int e = 0; e < 12; ++e)
        edgeVertex[e] = corner[EDGES[e].a]->edgeVertex[EDGE_AXIS[e]];
    emitTriangles(mesher.meshes[mesher.current], corner[0]->caseIndex, edgeVertex);
}

uint16_t edgeVertexIndex(IsoMesher& mesher, const GridPoint& P, const GridPoint& Q)
{
    int axis;
    bool pLower;
    if (P.x != Q.x) {
        axis = 0;
        pLower = P.x < Q.x;
    } else if (P.y != Q.y) {
        axis = 1;
        pLower = P.y < Q.y;
    } else {
        axis = 2;
        pLower = P.z < Q.z;
    }
    const GridPoint& L = pLower ? P : Q;
    if (!inLattice(L.x, L.y, L.z))
        return nearEdgeVertex(mesher, L, axis);
    return cellAt(mesher, L).edgeVertex[axis];
}

// --- Rescue ------------------------------------------------------------------------------------

void blockBounds(const IsoMesher& mesher, int block, float& lo, float& hi)
{
    // The point sums round too: widen by far more than their error.
    const uint32_t terms = mesher.blockStart[size_t(block) + 1] - mesher.blockStart[size_t(block)];
    const float slack = float(terms + 16) * 1e-6f * mesher.blockMagnitude[size_t(block)];
    lo = mesher.blockLow[size_t(block)] - slack;
    hi = mesher.blockHigh[size_t(block)] + slack;
}

namespace {

// The padded-array index of block (bx, by, bz), each -1..16.
inline size_t paddedBlock(int bx, int by, int bz)
{
    constexpr int P = BLOCKS_PER_AXIS + 2;
    return size_t(bx + 1) + size_t(P) * (size_t(by + 1) + size_t(P) * size_t(bz + 1));
}

// Every point of block b into its cell (values and colours, as the flood's
// own lookups would make them), and the values into out[64], x fastest.
void evaluateBlock(IsoMesher& mesher, int block, float* out)
{
    const int32_t x0 = (block % BLOCKS_PER_AXIS) * BLOCK_SIZE;
    const int32_t y0 = (block / BLOCKS_PER_AXIS % BLOCKS_PER_AXIS) * BLOCK_SIZE;
    const int32_t z0 = (block / (BLOCKS_PER_AXIS * BLOCKS_PER_AXIS)) * BLOCK_SIZE;
    for (int z = 0; z < BLOCK_SIZE; ++z)
        for (int y = 0; y < BLOCK_SIZE;) {
            float* row = out + BLOCK_SIZE * (y + BLOCK_SIZE * z);
            if (!mesher.rowEvaluation) {
                for (int x = 0; x < BLOCK_SIZE; ++x) {
                    GridCell& cell = cellAtIndex(mesher, cellIndex(x0 + x, y0 + y, z0 + z));
                    if (sameBits(cell.value, STALE_VALUE))
                        evaluatePoint(mesher, x0 + x, y0 + y, z0 + z, cell);
                    row[x] = cell.value;
                }
                y += 1;
            } else if (mesher.wideRows) {
                evaluateRowPair(mesher, x0, y0 + y, z0 + z, row);
                y += ROW_PAIR;
            } else {
                evaluateRow(mesher, x0, y0 + y, z0 + z, row);
                y += 1;
            }
        }
}

} // namespace

void classifyBlocks(IsoMesher& mesher, float isoLevel)
{
    mesher.rescueMixedBlocks = 0;
    mesher.classifiedStamp = mesher.stamp;
    mesher.classifiedLevel = isoLevel;
    if (!mesher.completeSurface)
        return;
    // Every block's class from its bounds, and its points' inside bits
    // (bit x + 4 y + 16 z): all clear or all set for a block on one side,
    // from its values for a mixed one. A mixed block's points go into the
    // cells: the surface passes through nearly all such blocks, so the flood
    // reads what it would otherwise evaluate itself. Blocks are kept in a
    // padded array (-1 to 16 per axis) whose border is the zeros outside the
    // lattice.
    const uint8_t outsideClass = 0.0f >= isoLevel ? BLOCK_INSIDE : BLOCK_OUTSIDE;
    const uint64_t outsideMask = outsideClass == BLOCK_INSIDE ? ~uint64_t(0) : 0u;
    if (mesher.paddedClass[0] != outsideClass) {
        // The border, the zeros outside the lattice, only changes with the
        // level's side of 0 (the inside is rewritten below every pass).
        std::fill(mesher.paddedClass.begin(), mesher.paddedClass.end(), outsideClass);
        std::fill(mesher.paddedMask.begin(), mesher.paddedMask.end(), outsideMask);
    }
    float values[BLOCK_POINTS];
    for (int b = 0; b < BLOCK_COUNT; ++b) {
        const int bx = b % BLOCKS_PER_AXIS, by = b / BLOCKS_PER_AXIS % BLOCKS_PER_AXIS,
                  bz = b / (BLOCKS_PER_AXIS * BLOCKS_PER_AXIS);
        const size_t padded = paddedBlock(bx, by, bz);
        uint8_t c = outsideClass;   // no source reaches: 0 everywhere
        if (mesher.blockStart[size_t(b)] != mesher.blockStart[size_t(b) + 1]) {
            float lo, hi;
            blockBounds(mesher, b, lo, hi);
            c = hi < isoLevel ? BLOCK_OUTSIDE : (lo >= isoLevel ? BLOCK_INSIDE : BLOCK_MIXED);
        }
        mesher.paddedClass[padded] = c;
        if (c != BLOCK_MIXED) {
            mesher.paddedMask[padded] = c == BLOCK_INSIDE ? ~uint64_t(0) : 0u;
            continue;
        }
        ++mesher.rescueMixedBlocks;
        evaluateBlock(mesher, b, values);
        // Four comparisons at a time (false for NaN, like ">=" itself).
        uint64_t mask = 0;
        const __m128 level = _mm_set1_ps(isoLevel);
        for (int i = 0; i < BLOCK_POINTS; i += 4)
            mask |= uint64_t(_mm_movemask_ps(_mm_cmpge_ps(_mm_loadu_ps(values + i), level))) << i;
        mesher.paddedMask[padded] = mask;
    }
}

void rescueMissedSurface(IsoMesher& mesher, float isoLevel)
{
    mesher.rescuedFloods = 0;
    if (!mesher.completeSurface)
        return;
    if (mesher.classifiedStamp != mesher.stamp || !sameBits(mesher.classifiedLevel, isoLevel))
        classifyBlocks(mesher, isoLevel);
    const uint8_t outsideClass = 0.0f >= isoLevel ? BLOCK_INSIDE : BLOCK_OUTSIDE;
    const uint64_t outsideMask = outsideClass == BLOCK_INSIDE ? ~uint64_t(0) : 0u;

    // 2. The inside bits of every row of points along x (bit x for x in
    //    0..63), for rows y, z from -1 to 64; rows outside the lattice, and
    //    rows whose sixteen blocks all lie outside the surface's reach, are
    //    the outside fill.
    const uint64_t fill = outsideMask;
    constexpr size_t PR = GRID_SIZE + 2;   // point rows per axis, -1..64
    std::vector<uint64_t>& rows = mesher.pointRows;
    std::fill(rows.begin(), rows.end(), fill);
    for (int bz = 0; bz < BLOCKS_PER_AXIS; ++bz)
        for (int by = 0; by < BLOCKS_PER_AXIS; ++by) {
            const uint8_t* classes = mesher.paddedClass.data() + paddedBlock(0, by, bz);
            bool plain = true;
            for (int bx = 0; bx < BLOCKS_PER_AXIS && plain; ++bx)
                plain = classes[bx] == outsideClass;
            if (plain)
                continue;
            const uint64_t* masks = mesher.paddedMask.data() + paddedBlock(0, by, bz);
            for (int lz = 0; lz < BLOCK_SIZE; ++lz)
                for (int ly = 0; ly < BLOCK_SIZE; ++ly) {
                    const int shift = BLOCK_SIZE * ly + BLOCK_SIZE * BLOCK_SIZE * lz;
                    uint64_t row = 0;
                    for (int bx = 0; bx < BLOCKS_PER_AXIS; ++bx)
                        row |= ((masks[bx] >> shift) & 0xFu) << (BLOCK_SIZE * bx);
                    rows[size_t(by * BLOCK_SIZE + ly + 1) + PR * size_t(bz * BLOCK_SIZE + lz + 1)] = row;
                }
        }

    // 3. Every row of cubes (y, z from -1 to 63) at once: cube x is crossed
    //    when the bits of points x and x + 1 in its four point rows differ.
    //    Cubes x = -1 and 63 take their outside corners from the fill. A
    //    crossed cube that no flood visited starts one.
    std::vector<GridPoint>& stack = mesher.stack;
    const int32_t lowest = mesher.cubeMin.x;
    const int32_t highest = mesher.cellMax.x - 1;
    const unsigned outsideBit = unsigned(fill & 1u);
    for (int32_t z = lowest; z <= highest; ++z)
        for (int32_t y = lowest; y <= highest; ++y) {
            const size_t at = size_t(y + 1) + PR * size_t(z + 1);
            const uint64_t a = rows[at], b = rows[at + 1], c = rows[at + PR], d = rows[at + PR + 1];
            const uint64_t all = a & b & c & d, any = a | b | c | d;
            if (all == fill && any == fill)
                continue;   // four plain rows: nothing crosses
            // Cubes 0..62 within the rows.
            uint64_t crossed = ~(all & (all >> 1)) & (any | (any >> 1)) & ~(uint64_t(1) << 63);
            // Cube 63: points 63 and the outside at 64.
            const unsigned top = unsigned(all >> 63) & outsideBit, topAny = unsigned(any >> 63) | outsideBit;
            if (highest >= GRID_SIZE - 1 && !top && topAny)
                crossed |= uint64_t(1) << 63;
            crossed &= ~mesher.visitedRows[visitedRow(y, z)];
            // Cube -1: the outside at -1 and points 0.
            const unsigned bottom = unsigned(all & 1u) & outsideBit, bottomAny = unsigned(any & 1u) | outsideBit;
            if (lowest < 0 && !bottom && bottomAny) {
                const GridPoint q{ -1, y, z };
                if (!cubeVisited(mesher, q)) {
                    stack.push_back(q);
                    flood(mesher, stack, isoLevel);
                    ++mesher.rescuedFloods;
                }
            }
            for (; crossed; crossed &= crossed - 1) {
                const GridPoint q{ __builtin_ctzll(crossed), y, z };
                if (q.x < lowest || q.x > highest || cubeVisited(mesher, q))
                    continue;   // visited by a flood this loop started
                // A crossed cube no flood reached: a piece of its own.
                stack.push_back(q);
                flood(mesher, stack, isoLevel);
                ++mesher.rescuedFloods;
            }
        }
}

const IsoMesh& runIsoPass(IsoMesher& mesher, float isoLevel)
{
    beginPass(mesher);
    classifyBlocks(mesher, isoLevel);
    std::vector<GridPoint>& seeds = seedSurface(mesher, *mesher.field, isoLevel);
    polygonize(mesher, seeds, isoLevel);
    rescueMissedSurface(mesher, isoLevel);
    return mesher.meshes[mesher.current];
}
