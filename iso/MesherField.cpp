// iso/MesherField.cpp: the field as the mesher samples it: per-block source
// lists and bounds, then values and colours at lattice points, one point at a
// time or four (with AVX eight) at once, cached in the cell grid for the pass.
// The surface walk is in iso/Mesher.cpp; both share iso/MesherLocal.h.
//
// Sections:
//   --- Block source lists ---   (and the blocks' bounds)
//   --- Cached field ---
#include "iso/Mesher.h"
#include "iso/MesherLocal.h"

#include <cmath>
#include <cstring>
#include <cstddef>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

// --- Block source lists ----------------------------------------------------------------------

namespace iso_mesher {

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

constexpr int LAYER_POINTS = BLOCK_SIZE * BLOCK_SIZE;   // sixteen: one 512-bit register of floats or words

// sumBlockCounts, one block at a time.
size_t sumBlockCountsOneByOne(uint32_t* start, uint16_t* reached)
{
    size_t count = 0;
    for (int b = 0; b < BLOCK_COUNT; ++b) {
        if (start[b + 1] != 0)
            reached[count++] = static_cast<uint16_t>(b);
        start[b + 1] += start[b];
    }
    return count;
}

// start[b + 1], block b's count, becomes the sum of the counts up to b, and
// the blocks with a count go into reached (with room for sixteen more than
// there are blocks), ascending; returns how many. Sixteen blocks at a time
// with AVX-512: their running sums in four shifted additions, their numbers
// compressed.
VORTALUNE_AVX512 size_t sumBlockCounts(uint32_t* start, uint16_t* reached)
{
    size_t count = 0;
#if defined(__x86_64__) || defined(__i386__)
    // The masked forms, all lanes kept: the plain ones start from an
    // undefined register, which this compiler warns of once they are inlined.
    constexpr __mmask16 ALL = 0xFFFF;
    const __m512i zero = _mm512_setzero_si512();
    const __m512i last = _mm512_set1_epi32(LAYER_POINTS - 1);
    __m512i number = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m512i carry = zero;
    for (int b = 0; b < BLOCK_COUNT; b += LAYER_POINTS) {
        __m512i sum = _mm512_loadu_si512(start + b + 1);
        const __mmask16 counted = _mm512_test_epi32_mask(sum, sum);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(reached + count),
                            _mm512_maskz_cvtepi32_epi16(ALL, _mm512_maskz_compress_epi32(counted, number)));
        count += size_t(__builtin_popcount(counted));
        sum = _mm512_add_epi32(sum, _mm512_maskz_alignr_epi32(ALL, sum, zero, 15));   // + the lane below
        sum = _mm512_add_epi32(sum, _mm512_maskz_alignr_epi32(ALL, sum, zero, 14));   // + the two below that
        sum = _mm512_add_epi32(sum, _mm512_maskz_alignr_epi32(ALL, sum, zero, 12));
        sum = _mm512_add_epi32(sum, _mm512_maskz_alignr_epi32(ALL, sum, zero, 8));
        sum = _mm512_add_epi32(sum, carry);
        _mm512_storeu_si512(start + b + 1, sum);
        carry = _mm512_maskz_permutexvar_epi32(ALL, last, sum);
        number = _mm512_add_epi32(number, _mm512_set1_epi32(LAYER_POINTS));
    }
#else
    // Elsewhere (never chosen: the caller asks only with AVX-512).
    count = sumBlockCountsOneByOne(start, reached);
#endif
    return count;
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
    std::vector<uint16_t>& reached = mesher.reachedBlocks;
    reached.resize(BLOCK_COUNT + LAYER_POINTS);   // a register's worth of slack
    reached.resize(mesher.widestRows ? sumBlockCounts(start.data(), reached.data())
                                     : sumBlockCountsOneByOne(start.data(), reached.data()));
    entries.resize(start[BLOCK_COUNT]);
    // Distribute in the order found, using start[b] as the write cursor;
    // afterwards start[b] has moved to the old start[b + 1], so shift back.
    for (const BlockEntry& e : found)
        entries[start[e.block]++] = e.entry;
    for (int b = BLOCK_COUNT; b > 0; --b)
        start[b] = start[b - 1];
    start[0] = 0;
}

} // namespace iso_mesher

// --- Cached field ------------------------------------------------------------------------

namespace iso_mesher {

// The point's sum over its block's list, one point at a time.
void evaluatePoint(IsoMesher& mesher, int32_t x, int32_t y, int32_t z, GridCell& cell)
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
    mesher.shades[cellIndex(x, y, z)].colour = weightedColour(sum.value, Float3(sum.r, sum.g, sum.b));
    cell.value = sum.value;
    markGroup(mesher, x, y, z);
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

// Values and colours of `rows` rows of four points from (x0, y0, z), row
// after row (lane row * 4 + x - x0), into the rows' stale cells; cells that
// were current already hold the same bits.
__attribute__((always_inline)) inline void storeRows(IsoMesher& mesher, int32_t x0, int32_t y0, int32_t z, int rows,
                                                     const float* values, const float* reds, const float* greens,
                                                     const float* blues)
{
    markGroups(mesher, x0, y0, z, rows);
    for (int row = 0; row < rows; ++row) {
        const int32_t first = cellIndex(x0, y0 + row, z);
        for (int i = 0; i < ROW_LANES; ++i) {
            const int lane = row * ROW_LANES + i;
            GridCell& cell = cellAtIndex(mesher, first + i);
            if (!sameBits(cell.value, STALE_VALUE))
                continue;
            mesher.shades[first + i].colour = Float3(reds[lane], greens[lane], blues[lane]);
            cell.value = values[lane];
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
    storeRows(mesher, x0, y0, z, ROWS, values, reds, greens, blues);
}

// One row of four points (x0 a multiple of 4).
void evaluateRow(IsoMesher& mesher, int32_t x0, int32_t y, int32_t z, float* valuesOut)
{
    evaluateLanes<Lanes4>(mesher, x0, y, z, valuesOut);
}

// Rows y0 and y0 + 1 (y0 even) in 256-bit registers.
VORTALUNE_AVX void evaluateRowPair(IsoMesher& mesher, int32_t x0, int32_t y0, int32_t z,
                                                    float* valuesOut)
{
    evaluateLanes<Lanes8>(mesher, x0, y0, z, valuesOut);
}

// The block's four layers (z0 .. z0 + 3) of sixteen points each (lane
// x - x0 + 4 (y - y0)), summed in one walk over the block's list. Every lane
// takes exactly the operations of sumLanes in the same order, so the results
// are the same bits; a ball's dx^2 + dy^2 is the same in every layer, so it
// is made once. (The file is compiled without contracting a * b + c into one
// rounding, which AVX-512's fused multiply-add would otherwise do.) The
// kernels and colours are written out here rather than shared with
// sumLanes and evaluateLanes: templates compiled for the baseline
// instruction set have their 512-bit comparisons split into scalar ones
// before they are inlined, which made this walk slower than the row pairs.
typedef float Lanes16 __attribute__((vector_size(64)));
static_assert(sizeof(GridCell) == 16 && alignof(IsoMesher) >= 64 && offsetof(GridCell, edgeVertex) == 4 &&
                  offsetof(GridCell, caseIndex) == 10 && offsetof(GridCell, gradientKnown) == 11 && NO_VERTEX == 0xFFFF,
              "a group of four cells is one 64-byte line: value, three edge slots, case, gradient mark, padding");
static_assert(sizeof(GridShade) == 24 && offsetof(GridShade, colour) == 12, "a shade is six floats, the colour last");
constexpr int LAYERS = BLOCK_SIZE;
static_assert(BLOCK_SIZE == ROW_LANES, "a layer's register holds four rows of lanes");

// A layer of a block written whole: every cell its value and the rest as a
// reset cell holds it, every shade its colour (the gradients stay untouched).
#if defined(__x86_64__) || defined(__i386__)
// Each row's four cells are one cache line, written in one store, and their
// shades' colours (floats 6 i + 3 .. 6 i + 5 of the row's 24) go in two
// masked stores.
VORTALUNE_AVX512 __attribute__((always_inline)) inline void storeLayerWhole(IsoMesher& mesher, int32_t x0, int32_t y0,
                                                                            int32_t z, Lanes16 value, Lanes16 cr,
                                                                            Lanes16 cg, Lanes16 cb)
{
    // Where the colours of a row's four points go among the floats of their
    // four shades: red i and green i (index 16 + lane for green) and blue i
    // into floats 6 i + 3, 6 i + 4, 6 i + 5, the first sixteen and the rest.
    const __m512i lowRG = _mm512_setr_epi32(0, 0, 0, 0, 16, 0, 0, 0, 0, 1, 17, 0, 0, 0, 0, 2);
    const __m512i lowB = _mm512_setr_epi32(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0);
    const __m512i highRG = _mm512_setr_epi32(18, 0, 0, 0, 0, 3, 19, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m512i highB = _mm512_setr_epi32(0, 2, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0);
    // A group of four reset cells (see resetCell), as sixteen words.
    const __m512 cleanGroup = _mm512_castsi512_ps(_mm512_setr_epi32(0, -1, 0xFFFF, 0, 0, -1, 0xFFFF, 0, 0, -1, 0xFFFF, 0,
                                                                   0, -1, 0xFFFF, 0));
    markGroups(mesher, x0, y0, z, BLOCK_SIZE);
    for (int row = 0; row < BLOCK_SIZE; ++row) {
        const int32_t first = cellIndex(x0, y0 + row, z);
        const __m512i slots = _mm512_setr_epi32(4 * row, 0, 0, 0, 4 * row + 1, 0, 0, 0, 4 * row + 2, 0, 0, 0,
                                                4 * row + 3, 0, 0, 0);
        _mm512_store_ps(&mesher.cells[first], _mm512_mask_permutexvar_ps(cleanGroup, 0x1111, slots, value));
        const __m512i at = _mm512_set1_epi32(4 * row);
        float* shades = &mesher.shades[first].gradient.x;
        const __m512 low = _mm512_mask_permutexvar_ps(_mm512_permutex2var_ps(cr, _mm512_add_epi32(lowRG, at), cg),
                                                      0x0820, _mm512_add_epi32(lowB, at), cb);
        const __m512 high = _mm512_mask_permutexvar_ps(_mm512_permutex2var_ps(cr, _mm512_add_epi32(highRG, at), cg),
                                                       0x0082, _mm512_add_epi32(highB, at), cb);
        _mm512_mask_storeu_ps(shades, 0x8E38, low);
        _mm512_mask_storeu_ps(shades + 16, 0x00E3, high);
    }
}
#else
// Elsewhere (never chosen: the layers need AVX-512), cell by cell.
inline void storeLayerWhole(IsoMesher& mesher, int32_t x0, int32_t y0, int32_t z, Lanes16 value, Lanes16 cr,
                            Lanes16 cg, Lanes16 cb)
{
    markGroups(mesher, x0, y0, z, BLOCK_SIZE);
    for (int row = 0; row < BLOCK_SIZE; ++row) {
        for (int i = 0; i < ROW_LANES; ++i) {
            const int lane = row * ROW_LANES + i;
            const int32_t at = cellIndex(x0 + i, y0 + row, z);
            GridCell cell;
            cell.value = value[lane];
            mesher.cells[at] = cell;
            mesher.shades[at].colour = Float3(cr[lane], cg[lane], cb[lane]);
        }
    }
}
#endif

VORTALUNE_AVX512 void evaluateBlockLayers(IsoMesher& mesher, int32_t x0, int32_t y0, int32_t z0, float* out,
                                          bool whole)
{
    const int block = blockIndex(x0 >> BLOCK_SHIFT, y0 >> BLOCK_SHIFT, z0 >> BLOCK_SHIFT);
    const uint32_t* entry = mesher.blockSources.data() + mesher.blockStart[block];
    const uint32_t* end = mesher.blockSources.data() + mesher.blockStart[block + 1];
    const RowBall* balls = mesher.rowBalls.data();
    const RowSegment* segments = mesher.rowSegments.data();
    Lanes16 qx, qy, zero, one;
    for (int i = 0; i < LAYER_POINTS; ++i) {
        qx[i] = float(x0 + i % BLOCK_SIZE);
        qy[i] = float(y0 + i / BLOCK_SIZE);
        zero[i] = 0.0f;
        one[i] = 1.0f;
    }
    Lanes16 value[LAYERS], r[LAYERS], g[LAYERS], b[LAYERS];
    for (int k = 0; k < LAYERS; ++k)
        value[k] = r[k] = g[k] = b[k] = zero;
    for (; entry != end; ++entry) {
        if (!(*entry & BLOCK_SEGMENT_BIT)) {
            const RowBall& ball = balls[*entry];
            const Lanes16 dx = qx - ball.centreX[0];
            const Lanes16 dy = qy - ball.centreY[0];
            const Lanes16 dxy = dx * dx + dy * dy;
            const float invRadiusSq = ball.invRadiusSq[0], strength = ball.strength[0];
            const float red = ball.red[0], green = ball.green[0], blue = ball.blue[0];
#pragma GCC unroll 4
            for (int k = 0; k < LAYERS; ++k) {
                const float dz = float(z0 + k) - ball.centreZ[0];
                const Lanes16 wRaw = 1.0f - (dxy + dz * dz) * invRadiusSq;
                const Lanes16 w = wRaw > zero ? wRaw : zero;
                const Lanes16 f = strength * w * w;
                value[k] += f;
                r[k] += f * red;
                g[k] += f * green;
                b[k] += f * blue;
            }
        } else {
            const RowSegment& s = segments[*entry & ~BLOCK_SEGMENT_BIT];
            const Lanes16 vx = qx - s.startX[0];
            const Lanes16 vy = qy - s.startY[0];
            const Lanes16 fx = qx - s.endX[0];
            const Lanes16 fy = qy - s.endY[0];
            const float dirX = s.directionX[0], dirY = s.directionY[0], dirZ = s.directionZ[0];
#pragma GCC unroll 4
            for (int k = 0; k < LAYERS; ++k) {
                const float qz = float(z0 + k);
                const float vz = qz - s.startZ[0];
                const Lanes16 t = (dirX * vx + dirY * vy + dirZ * vz) * s.invLengthSq[0];
                const Lanes16 d0 = vx * vx + vy * vy + vz * vz;
                const Lanes16 ex = dirX * t - vx;
                const Lanes16 ey = dirY * t - vy;
                const Lanes16 ez = dirZ * t - vz;
                const Lanes16 d1 = ex * ex + ey * ey + ez * ez;
                const float fz = qz - s.endZ[0];
                const Lanes16 d2 = fx * fx + fy * fy + fz * fz;
                const Lanes16 distSq = t <= zero ? d0 : (t < one ? d1 : d2);
                const Lanes16 wRaw = 1.0f - distSq * s.invRadiusSq[0];
                const Lanes16 w = wRaw > zero ? wRaw : zero;
                const Lanes16 tc = t > zero ? (t < one ? t : one) : zero;
                const Lanes16 f = (s.startStrength[0] + tc * s.strengthStep[0]) * w * w;
                value[k] += f;
                r[k] += f * (s.startRed[0] + tc * s.redStep[0]);
                g[k] += f * (s.startGreen[0] + tc * s.greenStep[0]);
                b[k] += f * (s.startBlue[0] + tc * s.blueStep[0]);
            }
        }
    }
    for (int k = 0; k < LAYERS; ++k) {
        // weightedColour, as in evaluateLanes.
        const Lanes16 safeValue = value[k] == zero ? one : value[k];
        const Lanes16 qr = r[k] / safeValue, qg = g[k] / safeValue, qb = b[k] / safeValue;
        const auto keep = (qr - qr == zero) & (qg - qg == zero) & (qb - qb == zero) & (value[k] != zero);
        const Lanes16 cr = keep ? qr : zero, cg = keep ? qg : zero, cb = keep ? qb : zero;
        float* values = out + LAYER_POINTS * k;
        std::memcpy(values, &value[k], sizeof(Lanes16));
        if (whole) {
            storeLayerWhole(mesher, x0, y0, z0 + k, value[k], cr, cg, cb);
            continue;
        }
        float reds[LAYER_POINTS], greens[LAYER_POINTS], blues[LAYER_POINTS];
        std::memcpy(reds, &cr, sizeof(Lanes16));
        std::memcpy(greens, &cg, sizeof(Lanes16));
        std::memcpy(blues, &cb, sizeof(Lanes16));
        storeRows(mesher, x0, y0, z0 + k, BLOCK_SIZE, values, reds, greens, blues);
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Layer z of a block's values, zeros for a block with none.
VORTALUNE_AVX512 __attribute__((always_inline)) inline __m512 layer(const float* values, int z)
{
    return values ? _mm512_loadu_ps(values + LAYER_POINTS * z) : _mm512_setzero_ps();
}
#endif

// The gradients of a mixed block's points whose six neighbours all have
// their values in `values` (the block's) or near[f] (the face neighbours',
// -x, +x, -y, +y, -z, +z), one layer of sixteen at a time; `points` picks
// the points (bit x + 4 y + 16 z) that take theirs. Each component is the
// neighbours' difference centralDifferences takes, so the bits are the same.
VORTALUNE_AVX512 void storeBlockGradients(IsoMesher& mesher, int32_t x0, int32_t y0, int32_t z0, const float* values,
                                          const float* const near[6], uint64_t points)
{
    alignas(64) float gx[BLOCK_POINTS], gy[BLOCK_POINTS], gz[BLOCK_POINTS];
#if defined(__x86_64__) || defined(__i386__)
    // Lane x + 4 y of a layer; an index from 16 up takes the neighbour's lane.
    const __m512i plusX = _mm512_setr_epi32(1, 2, 3, 16, 5, 6, 7, 20, 9, 10, 11, 24, 13, 14, 15, 28);
    const __m512i minusX = _mm512_setr_epi32(19, 0, 1, 2, 23, 4, 5, 6, 27, 8, 9, 10, 31, 12, 13, 14);
    const __m512i plusY = _mm512_setr_epi32(4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19);
    const __m512i minusY = _mm512_setr_epi32(28, 29, 30, 31, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11);
    for (int z = 0; z < LAYERS; ++z) {
        const __m512 own = _mm512_loadu_ps(values + LAYER_POINTS * z);
        const __m512 up = z + 1 < LAYERS ? layer(values, z + 1) : layer(near[5], 0);
        const __m512 down = z > 0 ? layer(values, z - 1) : layer(near[4], LAYERS - 1);
        _mm512_store_ps(gx + LAYER_POINTS * z, _mm512_sub_ps(_mm512_permutex2var_ps(own, plusX, layer(near[1], z)),
                                                             _mm512_permutex2var_ps(own, minusX, layer(near[0], z))));
        _mm512_store_ps(gy + LAYER_POINTS * z, _mm512_sub_ps(_mm512_permutex2var_ps(own, plusY, layer(near[3], z)),
                                                             _mm512_permutex2var_ps(own, minusY, layer(near[2], z))));
        _mm512_store_ps(gz + LAYER_POINTS * z, _mm512_sub_ps(up, down));
    }
#else
    // Elsewhere (never chosen: the whole blocks need AVX-512), point by point.
    const auto at = [&](int x, int y, int z) {
        const int f = x < 0 ? 0 : x >= BLOCK_SIZE ? 1 : y < 0 ? 2 : y >= BLOCK_SIZE ? 3 : z < 0 ? 4 : z >= BLOCK_SIZE ? 5 : -1;
        const float* v = f < 0 ? values : near[f];
        return v ? v[(x & 3) + BLOCK_SIZE * (y & 3) + LAYER_POINTS * (z & 3)] : 0.0f;
    };
    for (int i = 0; i < BLOCK_POINTS; ++i) {
        const int x = i & 3, y = i >> 2 & 3, z = i >> 4;
        gx[i] = at(x + 1, y, z) - at(x - 1, y, z);
        gy[i] = at(x, y + 1, z) - at(x, y - 1, z);
        gz[i] = at(x, y, z + 1) - at(x, y, z - 1);
    }
#endif
    for (; points; points &= points - 1) {
        const int i = __builtin_ctzll(points);
        const int32_t at = cellIndex(x0 + (i & 3), y0 + (i >> 2 & 3), z0 + (i >> 4));
        mesher.shades[at].gradient = Float3(gx[i], gy[i], gz[i]);
        mesher.cells[at].gradientKnown = true;
    }
}

} // namespace iso_mesher

using namespace iso_mesher;

float fieldValue(IsoMesher& mesher, const GridPoint& p)
{
    return valueAt(mesher, p.x, p.y, p.z);
}

Float3 fieldGradient(IsoMesher& mesher, const GridPoint& p)
{
    return gradientOf(mesher, cellAt(mesher, p), p);
}

