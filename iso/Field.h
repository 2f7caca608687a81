// iso/Field.h: the scalar field of the isosurface. Owns the ball and segment
// sources, the three-level octree that lists which sources can reach which part
// of the volume, and the raw evaluation of value and colour at a point. The
// per-lattice-point cache (GridCell) is declared here and held by the mesher
// (iso/Mesher.h), which also provides the cached fieldValue / fieldGradient.
// Everything is in lattice units: the volume spans 0..64 on each axis. No GL.
#pragma once

#include "math/Math.h"

#include <cstdint>
#include <memory>
#include <vector>

// --- Constants -----------------------------------------------------------------

constexpr int      GRID_SIZE      = 64;                             // lattice points per axis
constexpr int      GRID_CELLS     = GRID_SIZE * GRID_SIZE * GRID_SIZE;   // 262,144
constexpr float    STALE_VALUE    = -100000.0f;   // value not yet computed
constexpr uint16_t NO_VERTEX      = 0xFFFF;       // edge slot without a vertex

// --- Types ---------------------------------------------------------------------------

// A lattice point. Storage exists for 0..63 on every axis; other points read the
// mesher's spare cell.
struct GridPoint {
    int32_t x = 0;
    int32_t y = 0;
    int32_t z = 0;
};

inline bool operator==(const GridPoint& a, const GridPoint& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

struct BallSource {
    Float3 centre;
    Float3 colour;               // RGB 0..1
    float  strength = 0.0f;      // value at the centre; negative subtracts
    float  radius = 0.0f;        // support radius: the kernel is 0 at and beyond it
    float  invRadiusSq = 0.0f;   // 1 / radius^2
    bool   enabled = false;      // disabled: contributes nothing, may stay listed
};

struct SegmentSource {
    Float3 start;
    Float3 startColour;
    float  startStrength = 0.0f;
    Float3 end;
    Float3 endColour;
    float  endStrength = 0.0f;
    Float3 direction;            // end - start
    float  invLengthSq = 0.0f;   // 1 / |direction|^2; 0 for coincident ends (see makeSegment)
    float  radius = 0.0f;
    float  invRadiusSq = 0.0f;
    bool   enabled = false;
};

// Builds the record with its derived fields (enabled stays false; placing
// enables it).
BallSource    makeBall(const Float3& centre, const Float3& colour, float strength, float radius);
// A segment whose ends coincide (or lie so close that 1 / |direction|^2 is not
// finite) gets invLengthSq = 0: every point then projects onto the start, so
// the segment acts as a ball at its start with the start's strength and colour.
SegmentSource makeSegment(const Float3& start, const Float3& startColour, float startStrength,
                          const Float3& end, const Float3& endColour, float endStrength, float radius);

// One node of the octree; the tree has at most three levels (depths 0, 1, 2).
struct SourceNode {
    Float3 minCorner;
    Float3 maxCorner;
    Float3 centre;                              // (minCorner + maxCorner) / 2
    std::unique_ptr<SourceNode> children[8];    // bit 0: upper x, bit 1: upper y, bit 2: upper z
    std::vector<uint32_t> segmentIds;           // ascending, no duplicates
    std::vector<uint32_t> ballIds;              // ascending, no duplicates

    SourceNode() = default;
    SourceNode(const Float3& minCorner_, const Float3& maxCorner_);
};

struct SourceField {
    std::vector<BallSource>    balls;
    std::vector<SegmentSource> segments;
    SourceNode root;                 // (0,0,0)..(64,64,64)
    int32_t    gridMin = 0;          // cubes the polygonizer may visit, per axis:
    int32_t    gridMax = GRID_SIZE;  //   gridMin <= lowest corner < gridMax

    SourceField();
    SourceField(const SourceField&) = delete;
    SourceField& operator=(const SourceField&) = delete;
};

// The cache of one lattice point for one polygonization pass: what the
// surface walk reads at every cube corner, 16 bytes, so that the four points
// of a row group along x share a cache line. The point's gradient and colour,
// read only where a vertex is made, live beside it in a GridShade
// (IsoMesher::shades). The mesher resets, at the start of each pass, the
// groups whose values the last pass computed, so every cell is clean or of
// the current pass.
struct alignas(16) GridCell {
    float    value = STALE_VALUE;   // STALE_VALUE: not yet computed
    uint16_t edgeVertex[3] = { NO_VERTEX, NO_VERTEX, NO_VERTEX };   // vertex on the edge towards +x, +y, +z
    uint8_t  caseIndex = 0;   // corner configuration of the cube with this lowest corner, once visited
    bool     gradientKnown = false;   // the shade's gradient belongs to this pass
};
static_assert(sizeof(GridCell) == 16, "four cells per cache line");

// The rest of a lattice point's cache, valid for the pass of its cell: the
// gradient once gradientKnown is set, the colour once the value is computed.
struct GridShade {
    Float3 gradient;
    Float3 colour;            // the field's weighted colour here
};

// --- Octree placement ------------------------------------------------------------------

// The node in which the source must be listed: descends from the root at most
// twice while the support box lies wholly on one side of every centre plane,
// creating missing nodes on the way. The caller adds the index to its set.
SourceNode& insertBall(SourceField& field, const BallSource& ball);
SourceNode& insertSegment(SourceField& field, const SegmentSource& segment);

// The only way sources change. Grows the list to index + 1 if needed (new
// entries are disabled zero records listed nowhere), removes the index from the
// node of the record currently stored there, stores the new record enabled and
// lists the index in the new record's node.
void placeBall(SourceField& field, uint32_t index, const BallSource& ball);
void placeSegment(SourceField& field, uint32_t index, const SegmentSource& segment);

// Disables every source; node sets are left as they are.
void disableAllSources(SourceField& field);

// --- Evaluation --------------------------------------------------------------------------

// Running sums of one evaluation.
struct FieldSum {
    float value = 0.0f;
    float r = 0.0f, g = 0.0f, b = 0.0f;   // strength-weighted colour
};

// One ball's contribution at q: f = strength (1 - d^2 / r^2)^2 inside the
// support, nothing outside it (w <= 0; NaN, from radius 0 at the centre, counts
// as outside). Disabled balls add nothing.
inline void addBall(const BallSource& b, const Float3& q, FieldSum& sum)
{
    if (!b.enabled)
        return;
    const float dx = q.x - b.centre.x;
    const float dy = q.y - b.centre.y;
    const float dz = q.z - b.centre.z;
    const float w = 1.0f - (dx * dx + dy * dy + dz * dz) * b.invRadiusSq;
    if (w > 0.0f) {
        const float f = b.strength * w * w;
        sum.value += f;
        sum.r += f * b.colour.x;
        sum.g += f * b.colour.y;
        sum.b += f * b.colour.z;
    }
}

// One segment's contribution at q: the kernel of the distance to the segment,
// with strength and colour interpolated at the projection s (clamped to 0..1).
// Beyond an end the segment acts as a ball at that end.
inline void addSegment(const SegmentSource& s, const Float3& q, FieldSum& sum)
{
    if (!s.enabled)
        return;
    const float vx = q.x - s.start.x;
    const float vy = q.y - s.start.y;
    const float vz = q.z - s.start.z;
    float t = (s.direction.x * vx + s.direction.y * vy + s.direction.z * vz) * s.invLengthSq;
    float distSq;
    if (t <= 0.0f) {
        distSq = vx * vx + vy * vy + vz * vz;
    } else if (t < 1.0f) {
        const float ex = s.direction.x * t - vx;
        const float ey = s.direction.y * t - vy;
        const float ez = s.direction.z * t - vz;
        distSq = ex * ex + ey * ey + ez * ez;
    } else {
        const float ex = q.x - s.end.x;
        const float ey = q.y - s.end.y;
        const float ez = q.z - s.end.z;
        distSq = ex * ex + ey * ey + ez * ez;
    }
    const float w = 1.0f - distSq * s.invRadiusSq;
    if (w > 0.0f) {
        t = t > 0.0f ? (t < 1.0f ? t : 1.0f) : 0.0f;   // clamp to 0..1 (NaN gives 0)
        const float f = (s.startStrength + t * (s.endStrength - s.startStrength)) * w * w;
        sum.value += f;
        sum.r += f * (s.startColour.x + t * (s.endColour.x - s.startColour.x));
        sum.g += f * (s.startColour.y + t * (s.endColour.y - s.startColour.y));
        sum.b += f * (s.startColour.z + t * (s.endColour.z - s.startColour.z));
    }
}

// The raw field at point q: walks the octree from the root towards q and sums
// every enabled source listed on the way. Returns the value and leaves the
// strength-weighted colour sum (not yet divided by the value) in colourSum.
float sampleField(const SourceField& field, const Float3& q, Float3& colourSum);

// colourSum / value, componentwise. A point where the total value is 0 has no
// colour of its own: it gets (0, 0, 0), and vertex interpolation takes the
// colour of the edge's other end instead (iso/Mesher.cpp). A quotient that
// overflows (value tiny next to the sum, possible where positive and negative
// sources cancel) is also replaced by 0, so no infinity or NaN reaches a vertex.
inline Float3 weightedColour(float value, const Float3& colourSum)
{
    if (value == 0.0f)
        return Float3();
    const Float3 c(colourSum.x / value, colourSum.y / value, colourSum.z / value);
    // x - x is 0 for finite x and NaN for infinities and NaN.
    if ((c.x - c.x) != 0.0f || (c.y - c.y) != 0.0f || (c.z - c.z) != 0.0f)
        return Float3();
    return c;
}

// --- Enabled sources in order ---------------------------------------------------------------

enum class SourceKind : uint8_t { Ball, Segment, End };

// Visits the enabled sources: balls in ascending index, then segments.
//   for (SourceCursor c(field); c.next(); ) use(c.kind(), c.index(), c.position());
class SourceCursor {
public:
    explicit SourceCursor(const SourceField& field) : field_(&field) {}

    bool       next();                          // false once the end is reached
    SourceKind kind() const { return kind_; }
    int32_t    index() const { return index_; }
    Float3     position() const;                // ball centre or segment start

private:
    const SourceField* field_;
    SourceKind kind_ = SourceKind::Ball;
    int32_t    index_ = -1;
};
