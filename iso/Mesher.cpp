// iso/Mesher.cpp: cached field values and gradients, seeding, the surface
// flood and triangle emission. This is the demo's per-frame hot path.
//
// Sections:
//   --- Construction ---
//   --- Block source lists ---
//   --- Cached field ---
//   --- Pass set-up ---
//   --- Seeds ---
//   --- Flood ---
//   --- Triangles ---
#include "iso/Mesher.h"

#include "iso/IsoTables.h"

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
    blockStart.assign(BLOCK_COUNT + 1, 0u);
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
template <typename Add>
void forNodeSources(const SourceField& field, const SourceNode& node, Add add)
{
    auto blockBox = [&](const float low[3], const float high[3], float radius, int lo[3], int hi[3]) {
        for (int i = 0; i < 3; ++i)
            if (!blockRange(low[i], high[i], radius, node.minCorner[i], node.maxCorner[i], lo[i], hi[i]))
                return false;
        return true;
    };
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
        // Per axis, the squared distance from the centre to each block's points.
        float gap[3][BLOCKS_PER_AXIS];
        for (int i = 0; i < 3; ++i)
            for (int k = lo[i]; k <= hi[i]; ++k) {
                const float first = float(k * BLOCK_SIZE);
                const float below = first - b.centre[i];
                const float above = b.centre[i] - (first + BLOCK_SPAN);
                const float g = below > 0.0f ? below : (above > 0.0f ? above : 0.0f);
                gap[i][k] = g * g;
            }
        const float limit = reachSq(r, 0.0f);
        for (int z = lo[2]; z <= hi[2]; ++z)
            for (int y = lo[1]; y <= hi[1]; ++y) {
                const float yz = gap[1][y] + gap[2][z];
                if (yz > limit)
                    continue;
                for (int x = lo[0]; x <= hi[0]; ++x)
                    if (!(gap[0][x] + yz > limit))
                        add(blockIndex(x, y, z), id);
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
        for (int z = lo[2]; z <= hi[2]; ++z)
            for (int y = lo[1]; y <= hi[1]; ++y)
                for (int x = lo[0]; x <= hi[0]; ++x) {
                    const Float3 centre(float(x * BLOCK_SIZE) + half, float(y * BLOCK_SIZE) + half,
                                        float(z * BLOCK_SIZE) + half);
                    if (!(segmentDistanceSq(s, centre) > limit))
                        add(blockIndex(x, y, z), id | BLOCK_SEGMENT_BIT);
                }
    }
}

bool finite(float v) { return v - v == 0.0f; }
bool finite(const Float3& v) { return finite(v.x) && finite(v.y) && finite(v.z); }

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
    for (int n = 0; n < count; ++n)
        forNodeSources(field, *nodes[n], [&](int block, uint32_t entry) {
            ++start[block + 1];
            found.push_back(BlockEntry{ static_cast<uint32_t>(block), entry });
        });
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

// The body, compiled once for each width: V is Lanes4 (one row) or Lanes8 (the
// pair of rows y0, y0 + 1).
template <typename V>
__attribute__((always_inline)) inline void evaluateLanes(IsoMesher& mesher, int32_t x0, int32_t y0, int32_t z)
{
    constexpr int N = int(sizeof(V) / sizeof(float));
    constexpr int ROWS = N / ROW_LANES;
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
    V value = zero, r = zero, g = zero, b = zero;
    for (; entry != end; ++entry) {
        if (!(*entry & BLOCK_SEGMENT_BIT)) {
            const RowBall& ball = balls[*entry];
            V centreX, centreY, centreZ, invRadiusSq, strength, red, green, blue;
            loadLanes(centreX, ball.centreX);
            loadLanes(centreY, ball.centreY);
            loadLanes(centreZ, ball.centreZ);
            loadLanes(invRadiusSq, ball.invRadiusSq);
            loadLanes(strength, ball.strength);
            loadLanes(red, ball.red);
            loadLanes(green, ball.green);
            loadLanes(blue, ball.blue);
            const V dx = qx - centreX;
            const V dy = qy - centreY;
            const V dz = qz - centreZ;
            const V wRaw = 1.0f - (dx * dx + dy * dy + dz * dz) * invRadiusSq;
            const V w = wRaw > zero ? wRaw : zero;   // NaN lanes give 0, as "w > 0" fails for them
            const V f = strength * w * w;
            value += f;
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
            V strength, strengthStep, red, redStep, green, greenStep, blue, blueStep;
            loadLanes(strength, s.startStrength);
            loadLanes(strengthStep, s.strengthStep);
            loadLanes(red, s.startRed);
            loadLanes(redStep, s.redStep);
            loadLanes(green, s.startGreen);
            loadLanes(greenStep, s.greenStep);
            loadLanes(blue, s.startBlue);
            loadLanes(blueStep, s.blueStep);
            const V f = (strength + tc * strengthStep) * w * w;
            value += f;
            r += f * (red + tc * redStep);
            g += f * (green + tc * greenStep);
            b += f * (blue + tc * blueStep);
        }
    }
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
void evaluateRow(IsoMesher& mesher, int32_t x0, int32_t y, int32_t z)
{
    evaluateLanes<Lanes4>(mesher, x0, y, z);
}

// Rows y0 and y0 + 1 (y0 even) in 256-bit registers.
__attribute__((target("avx"))) void evaluateRowPair(IsoMesher& mesher, int32_t x0, int32_t y0, int32_t z)
{
    evaluateLanes<Lanes8>(mesher, x0, y0, z);
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
    return q.x >= m.cellMin.x && q.x < m.cellMax.x && q.y >= m.cellMin.y && q.y < m.cellMax.y &&
           q.z >= m.cellMin.z && q.z < m.cellMax.z;
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

// --- Flood ----------------------------------------------------------------------------------------

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

// Appends the vertex of cube edge e (corner a inside xor corner b inside).
void addEdgeVertex(IsoMesher& mesher, IsoMesh& mesh, const GridPoint& q, int e, const float v[8],
                   GridCell* const corner[8], float isoLevel)
{
    const int a = EDGES[e].a;
    const int b = EDGES[e].b;
    const int axis = EDGE_AXIS[e];
    const GridPoint A{ q.x + CORNER_OFFSETS[a].x, q.y + CORNER_OFFSETS[a].y, q.z + CORNER_OFFSETS[a].z };
    const GridPoint B{ q.x + CORNER_OFFSETS[b].x, q.y + CORNER_OFFSETS[b].y, q.z + CORNER_OFFSETS[b].z };
    const float vA = v[a];
    const float vB = v[b];
    const float t = (isoLevel - vA) / (vB - vA);   // vA != vB: they lie on either side

    IsoVertex vertex;
    vertex.position = Float3(float(A.x), float(A.y), float(A.z));
    vertex.position[axis] += t;   // B - A is one unit step along `axis`

    const Float3 gA = gradientOf(mesher, *corner[a], A);
    const Float3 gB = gradientOf(mesher, *corner[b], B);
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
    const Float3& cA = corner[a]->colour;
    const Float3& cB = corner[b]->colour;
    if (vA == 0.0f)
        vertex.colour = cB;
    else if (vB == 0.0f)
        vertex.colour = cA;
    else
        vertex.colour = Float3(cA.x + t * (cB.x - cA.x), cA.y + t * (cB.y - cA.y), cA.z + t * (cB.z - cA.z));

    corner[a]->edgeVertex[axis] = static_cast<uint16_t>(mesh.vertices.size());
    mesh.vertices.push_back(vertex);
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

} // namespace

void polygonize(IsoMesher& mesher, std::vector<GridPoint>& seeds, float isoLevel)
{
    IsoMesh& mesh = mesher.meshes[mesher.current];
    while (!seeds.empty()) {
        const GridPoint q = seeds.back();
        seeds.pop_back();
        if (!withinCubes(mesher, q))
            continue;
        // Cubes below layer 63 on every axis (nearly all of them) have all
        // their corners and neighbours in the lattice: flat-index steps
        // instead of range checks.
        const bool inside = q.x < GRID_SIZE - 1 && q.y < GRID_SIZE - 1 && q.z < GRID_SIZE - 1;
        const int32_t base = cellIndex(q.x, q.y, q.z);
        GridCell& cell = cellAtIndex(mesher, base);   // withinCubes: q is in the lattice
        if (cell.visited)
            continue;
        cell.visited = true;

        GridCell* corner[8];
        float v[8];
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
        if (config == 0 || config == 255)
            continue;
        cell.caseIndex = static_cast<uint8_t>(config);

        // The crossed edges in ascending order: (vB < level) != (vA < level)
        // is exactly "the edge's two configuration bits differ". Each gets
        // its vertex (a neighbouring cube's from this pass, or a new one).
        uint16_t edgeVertex[12];
        for (unsigned crossed = CROSSED_EDGES.masks[config]; crossed; crossed &= crossed - 1) {
            const int e = __builtin_ctz(crossed);
            uint16_t& slot = corner[EDGES[e].a]->edgeVertex[EDGE_AXIS[e]];
            // The spare cell's slots are never written (both ends of an edge
            // outside the lattice read 0, so such an edge is never crossed);
            // once the mesh is full, the triangles needing a new vertex are dropped.
            if (slot == NO_VERTEX && corner[EDGES[e].a] != &mesher.spare && mesh.vertices.size() < MAX_MESH_VERTICES)
                addEdgeVertex(mesher, mesh, q, e, v, corner, isoLevel);
            edgeVertex[e] = slot;
        }

        emitTriangles(mesh, static_cast<uint8_t>(config), edgeVertex);

        // Faces the surface crosses (bits neither all clear nor all set),
        // minus those at the edge of the range, in the order +x, -x, +y, -y, +z, -z.
        unsigned faces = CROSSED_FACES.masks[config];
        if (q.x >= mesher.cellMax.x) faces &= ~0x01u;
        if (q.x <= mesher.cellMin.x) faces &= ~0x02u;
        if (q.y >= mesher.cellMax.y) faces &= ~0x04u;
        if (q.y <= mesher.cellMin.y) faces &= ~0x08u;
        if (q.z >= mesher.cellMax.z) faces &= ~0x10u;
        if (q.z <= mesher.cellMin.z) faces &= ~0x20u;
        for (; faces; faces &= faces - 1) {
            const int k = __builtin_ctz(faces);
            const FaceStep& f = FACE_STEPS[k];
            // Inside cubes: every neighbour left after the range mask is in the lattice.
            GridCell& next = inside ? cellAtIndex(mesher, base + FACE_INDEX[k])
                                    : cellAt(mesher, q.x + f.dx, q.y + f.dy, q.z + f.dz);
            if (!next.visited)
                seeds.push_back(GridPoint{ q.x + f.dx, q.y + f.dy, q.z + f.dz });
        }
    }
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
    return cellAt(mesher, pLower ? P : Q).edgeVertex[axis];
}

const IsoMesh& runIsoPass(IsoMesher& mesher, float isoLevel)
{
    beginPass(mesher);
    std::vector<GridPoint>& seeds = seedSurface(mesher, *mesher.field, isoLevel);
    polygonize(mesher, seeds, isoLevel);
    return mesher.meshes[mesher.current];
}
