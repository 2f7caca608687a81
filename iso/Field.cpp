// iso/Field.cpp: source records, octree placement and raw field evaluation.
#include "iso/Field.h"

#include <algorithm>
#include <cmath>

// --- Records ------------------------------------------------------------------------

BallSource makeBall(const Float3& centre, const Float3& colour, float strength, float radius)
{
    BallSource b;
    b.centre = centre;
    b.colour = colour;
    b.strength = strength;
    b.radius = radius;
    b.invRadiusSq = 1.0f / (radius * radius);
    return b;
}

SegmentSource makeSegment(const Float3& start, const Float3& startColour, float startStrength,
                          const Float3& end, const Float3& endColour, float endStrength, float radius)
{
    SegmentSource s;
    s.start = start;
    s.startColour = startColour;
    s.startStrength = startStrength;
    s.end = end;
    s.endColour = endColour;
    s.endStrength = endStrength;
    subtract(end, start, s.direction);
    s.invLengthSq = 1.0f / dot(s.direction, s.direction);
    s.radius = radius;
    s.invRadiusSq = 1.0f / (radius * radius);
    return s;
}

SourceNode::SourceNode(const Float3& minCorner_, const Float3& maxCorner_)
    : minCorner(minCorner_), maxCorner(maxCorner_),
      centre((minCorner_.x + maxCorner_.x) * 0.5f, (minCorner_.y + maxCorner_.y) * 0.5f,
             (minCorner_.z + maxCorner_.z) * 0.5f)
{
}

SourceField::SourceField()
    : root(Float3(0.0f, 0.0f, 0.0f), Float3(float(GRID_SIZE), float(GRID_SIZE), float(GRID_SIZE)))
{
}

// --- Octree placement ------------------------------------------------------------------

namespace {

constexpr int MAX_DESCENTS = 2;   // depths 0, 1, 2

// Child index of a corner: bit i set when node.centre[i] <= corner[i], the same
// comparison (coordinate >= centre) as the evaluation walk.
int childIndexOf(const SourceNode& node, const Float3& corner)
{
    return (node.centre.x <= corner.x ? 1 : 0) | (node.centre.y <= corner.y ? 2 : 0) |
           (node.centre.z <= corner.z ? 4 : 0);
}

// The node for a support box; with `create` false it stops where a node is
// missing and returns null there.
SourceNode* nodeForBox(SourceNode& root, const Float3& low, const Float3& high, bool create)
{
    SourceNode* node = &root;
    for (int level = 0; level < MAX_DESCENTS; ++level) {
        const int lo = childIndexOf(*node, low);
        const int hi = childIndexOf(*node, high);
        if (lo != hi)
            return node;   // the box straddles this node's centre
        std::unique_ptr<SourceNode>& child = node->children[lo];
        if (!child) {
            if (!create)
                return nullptr;
            Float3 mn, mx;
            for (int i = 0; i < 3; ++i) {
                const bool upper = (lo >> i) & 1;
                mn[i] = upper ? node->centre[i] : node->minCorner[i];
                mx[i] = upper ? node->maxCorner[i] : node->centre[i];
            }
            child = std::make_unique<SourceNode>(mn, mx);
        }
        node = child.get();
    }
    return node;
}

// Support boxes. The low and high corners are taken as the min and max of the
// two ends, so a negative radius (whose kernel is that of |radius|) still gets a
// box that covers its support.
void ballBox(const BallSource& b, Float3& low, Float3& high)
{
    const float r = std::fabs(b.radius);
    low = Float3(b.centre.x - r, b.centre.y - r, b.centre.z - r);
    high = Float3(b.centre.x + r, b.centre.y + r, b.centre.z + r);
}

void segmentBox(const SegmentSource& s, Float3& low, Float3& high)
{
    const float r = std::fabs(s.radius);
    for (int i = 0; i < 3; ++i) {
        low[i] = std::min(s.start[i], s.end[i]) - r;
        high[i] = std::max(s.start[i], s.end[i]) + r;
    }
}

void insertId(std::vector<uint32_t>& ids, uint32_t id)
{
    auto it = std::lower_bound(ids.begin(), ids.end(), id);
    if (it == ids.end() || *it != id)
        ids.insert(it, id);
}

void eraseId(std::vector<uint32_t>& ids, uint32_t id)
{
    auto it = std::lower_bound(ids.begin(), ids.end(), id);
    if (it != ids.end() && *it == id)
        ids.erase(it);
}

// invLengthSq of a segment with coincident ends is infinite and would turn the
// projection into NaN: such a segment acts as a ball at its start instead.
void guardSegment(SegmentSource& s)
{
    if (!std::isfinite(s.invLengthSq))
        s.invLengthSq = 0.0f;
}

} // namespace

SourceNode& insertBall(SourceField& field, const BallSource& ball)
{
    Float3 low, high;
    ballBox(ball, low, high);
    return *nodeForBox(field.root, low, high, true);
}

SourceNode& insertSegment(SourceField& field, const SegmentSource& segment)
{
    Float3 low, high;
    segmentBox(segment, low, high);
    return *nodeForBox(field.root, low, high, true);
}

void placeBall(SourceField& field, uint32_t index, const BallSource& ball)
{
    if (index >= field.balls.size())
        field.balls.resize(static_cast<size_t>(index) + 1);
    // The old record is listed in the node its box leads to, if it was ever
    // placed; a grown zero record is listed nowhere, so the look-up need not
    // create nodes.
    Float3 low, high;
    ballBox(field.balls[index], low, high);
    if (SourceNode* old = nodeForBox(field.root, low, high, false))
        eraseId(old->ballIds, index);
    field.balls[index] = ball;
    field.balls[index].enabled = true;
    insertId(insertBall(field, field.balls[index]).ballIds, index);
}

void placeSegment(SourceField& field, uint32_t index, const SegmentSource& segment)
{
    if (index >= field.segments.size())
        field.segments.resize(static_cast<size_t>(index) + 1);
    Float3 low, high;
    segmentBox(field.segments[index], low, high);
    if (SourceNode* old = nodeForBox(field.root, low, high, false))
        eraseId(old->segmentIds, index);
    field.segments[index] = segment;
    field.segments[index].enabled = true;
    guardSegment(field.segments[index]);
    insertId(insertSegment(field, field.segments[index]).segmentIds, index);
}

void disableAllSources(SourceField& field)
{
    for (BallSource& b : field.balls)
        b.enabled = false;
    for (SegmentSource& s : field.segments)
        s.enabled = false;
}

// --- Evaluation --------------------------------------------------------------------------

float sampleField(const SourceField& field, const Float3& q, Float3& colourSum)
{
    FieldSum sum;
    const BallSource* balls = field.balls.data();
    const SegmentSource* segments = field.segments.data();
    for (const SourceNode* node = &field.root; node;) {
        for (uint32_t id : node->ballIds)
            addBall(balls[id], q, sum);
        for (uint32_t id : node->segmentIds)
            addSegment(segments[id], q, sum);
        const int child = (q.x >= node->centre.x ? 1 : 0) | (q.y >= node->centre.y ? 2 : 0) |
                          (q.z >= node->centre.z ? 4 : 0);
        node = node->children[child].get();
    }
    colourSum = Float3(sum.r, sum.g, sum.b);
    return sum.value;
}

// --- Enabled sources in order ---------------------------------------------------------------

bool SourceCursor::next()
{
    if (kind_ == SourceKind::Ball) {
        const int32_t count = static_cast<int32_t>(field_->balls.size());
        for (++index_; index_ < count; ++index_)
            if (field_->balls[index_].enabled)
                return true;
        kind_ = SourceKind::Segment;
        index_ = -1;
    }
    if (kind_ == SourceKind::Segment) {
        const int32_t count = static_cast<int32_t>(field_->segments.size());
        for (++index_; index_ < count; ++index_)
            if (field_->segments[index_].enabled)
                return true;
        kind_ = SourceKind::End;
        index_ = -1;
    }
    return false;
}

Float3 SourceCursor::position() const
{
    if (kind_ == SourceKind::Ball)
        return field_->balls[index_].centre;
    if (kind_ == SourceKind::Segment)
        return field_->segments[index_].start;
    return Float3();
}
