// tests/iso_field_test.cpp: sources, octree placement and field evaluation.
#include "iso/Field.h"
#include "iso/Mesher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr float VALUE_EPS = 1e-4f;
const Float3 RED(1.0f, 0.0f, 0.0f);
const Float3 BLUE(0.0f, 0.0f, 1.0f);

float valueAt(const SourceField& field, float x, float y, float z, Float3* colour = nullptr)
{
    Float3 sum;
    const float v = sampleField(field, Float3(x, y, z), sum);
    if (colour)
        *colour = weightedColour(v, sum);
    return v;
}

float kernel(float strength, float distSq, float radius)
{
    const float w = 1.0f - distSq / (radius * radius);
    return w > 0.0f ? strength * w * w : 0.0f;
}

int countListed(const SourceNode& node, uint32_t id, bool ball)
{
    const std::vector<uint32_t>& ids = ball ? node.ballIds : node.segmentIds;
    int n = static_cast<int>(std::count(ids.begin(), ids.end(), id));
    for (const auto& child : node.children)
        if (child)
            n += countListed(*child, id, ball);
    return n;
}

float nodeSize(const SourceNode& node) { return node.maxCorner.x - node.minCorner.x; }

} // namespace

TEST(IsoField, ValueIsZeroOutsideEverySupport)
{
    SourceField field;
    placeBall(field, 0, makeBall(Float3(20, 20, 20), RED, 20.0f, 5.0f));
    placeSegment(field, 0, makeSegment(Float3(40, 40, 40), RED, 20.0f, Float3(50, 40, 40), BLUE, 20.0f, 4.0f));
    EXPECT_EQ(valueAt(field, 0, 0, 0), 0.0f);
    EXPECT_EQ(valueAt(field, 25, 20, 20), 0.0f);   // exactly at the radius
    EXPECT_EQ(valueAt(field, 20, 26, 20), 0.0f);
    EXPECT_EQ(valueAt(field, 45, 44, 40), 0.0f);   // exactly the segment radius away
    EXPECT_EQ(valueAt(field, 63, 63, 63), 0.0f);
    EXPECT_EQ(valueAt(field, 32, 32, 32), 0.0f);
}

TEST(IsoField, BallPeaksAtItsStrengthAndFollowsTheKernel)
{
    SourceField field;
    placeBall(field, 0, makeBall(Float3(20, 30, 40), RED, 20.0f, 6.0f));
    Float3 colour;
    EXPECT_NEAR(valueAt(field, 20, 30, 40, &colour), 20.0f, VALUE_EPS);
    EXPECT_FLOAT_EQ(colour.x, 1.0f);
    EXPECT_FLOAT_EQ(colour.z, 0.0f);
    EXPECT_NEAR(valueAt(field, 22, 31, 40), kernel(20.0f, 5.0f, 6.0f), VALUE_EPS);
    EXPECT_EQ(valueAt(field, 26, 30, 40), 0.0f);
}

TEST(IsoField, LoneBallSurfaceLiesAtAboutHalfTheRadius)
{
    // (1 - d^2/r^2)^2 = 0.5 at d = r sqrt(1 - sqrt(0.5)) = 0.541 r.
    const float r = 10.0f;
    const float d = r * std::sqrt(1.0f - std::sqrt(0.5f));
    EXPECT_NEAR(d / r, 0.541f, 0.001f);
    SourceField field;
    placeBall(field, 0, makeBall(Float3(0, 0, 0), RED, 20.0f, r));
    EXPECT_NEAR(valueAt(field, d, 0, 0), 10.0f, 1e-3f);
    EXPECT_GT(valueAt(field, d - 0.01f, 0, 0), 10.0f);
    EXPECT_LT(valueAt(field, d + 0.01f, 0, 0), 10.0f);
}

TEST(IsoField, OctreeListsStraddlingBallsAtRootAndSmallOnesAtDepthTwo)
{
    SourceField field;
    const BallSource straddling = makeBall(Float3(31, 10, 10), RED, 20.0f, 4.0f);   // box 27..35 in x
    EXPECT_EQ(&insertBall(field, straddling), &field.root);

    const BallSource small = makeBall(Float3(8, 8, 8), RED, 20.0f, 4.0f);   // box 4..12
    SourceNode& node = insertBall(field, small);
    EXPECT_FLOAT_EQ(nodeSize(node), 16.0f);
    EXPECT_FLOAT_EQ(node.minCorner.x, 0.0f);
    EXPECT_FLOAT_EQ(node.minCorner.z, 0.0f);

    // Straddles 16 but not 32: one level down, in the upper octant for y, z.
    const BallSource middle = makeBall(Float3(16, 40, 40), RED, 20.0f, 3.0f);
    SourceNode& octant = insertBall(field, middle);
    EXPECT_FLOAT_EQ(nodeSize(octant), 32.0f);
    EXPECT_FLOAT_EQ(octant.minCorner.y, 32.0f);

    // A box whose low side touches a centre plane counts as the upper half
    // (centre <= corner), like the walk's coordinate >= centre.
    const BallSource upper = makeBall(Float3(36, 36, 36), RED, 20.0f, 4.0f);   // box 32..40
    SourceNode& upperNode = insertBall(field, upper);
    EXPECT_FLOAT_EQ(upperNode.minCorner.x, 32.0f);
    EXPECT_FLOAT_EQ(nodeSize(upperNode), 16.0f);

    placeBall(field, 3, small);
    EXPECT_EQ(countListed(field.root, 3, true), 1);
    EXPECT_EQ(std::count(node.ballIds.begin(), node.ballIds.end(), 3u), 1);
}

TEST(IsoField, EverySourceIsFoundFromEveryPointItReaches)
{
    // Balls placed at depth 0, 1 and 2 next to the centre planes, compared with
    // the kernel summed directly over all balls.
    SourceField field;
    const BallSource balls[] = {
        makeBall(Float3(15.5f, 15.5f, 15.5f), RED, 20.0f, 6.0f),
        makeBall(Float3(31.9f, 8.0f, 40.0f), RED, 15.0f, 7.0f),
        makeBall(Float3(12.0f, 12.0f, 12.0f), RED, 10.0f, 3.9f),
        makeBall(Float3(50.0f, 50.0f, 17.0f), RED, -5.0f, 5.0f),
        makeBall(Float3(63.0f, 0.5f, 32.0f), RED, 20.0f, 8.0f),
    };
    for (uint32_t i = 0; i < std::size(balls); ++i)
        placeBall(field, i, balls[i]);
    for (int z = 0; z < GRID_SIZE; z += 3)
        for (int y = 0; y < GRID_SIZE; ++y)
            for (int x = 0; x < GRID_SIZE; ++x) {
                float expected = 0.0f;
                for (const BallSource& b : balls) {
                    const float dx = x - b.centre.x, dy = y - b.centre.y, dz = z - b.centre.z;
                    expected += kernel(b.strength, dx * dx + dy * dy + dz * dz, b.radius);
                }
                ASSERT_NEAR(valueAt(field, float(x), float(y), float(z)), expected, 1e-3f)
                    << x << " " << y << " " << z;
            }
}

TEST(IsoField, SegmentEndsActLikeBallsAndTheMiddleInterpolates)
{
    SourceField field;
    placeSegment(field, 0, makeSegment(Float3(20, 20, 20), RED, 20.0f, Float3(40, 20, 20), BLUE, 10.0f, 6.0f));
    Float3 colour;
    // Before the start: a ball at the start.
    EXPECT_NEAR(valueAt(field, 16, 21, 20, &colour), kernel(20.0f, 17.0f, 6.0f), VALUE_EPS);
    EXPECT_FLOAT_EQ(colour.x, 1.0f);
    EXPECT_FLOAT_EQ(colour.z, 0.0f);
    // Beyond the end: a ball at the end.
    EXPECT_NEAR(valueAt(field, 43, 20, 22, &colour), kernel(10.0f, 13.0f, 6.0f), VALUE_EPS);
    EXPECT_FLOAT_EQ(colour.x, 0.0f);
    EXPECT_FLOAT_EQ(colour.z, 1.0f);
    // Half-way: strength 15, colour half red, half blue.
    EXPECT_NEAR(valueAt(field, 30, 22, 20, &colour), kernel(15.0f, 4.0f, 6.0f), VALUE_EPS);
    EXPECT_NEAR(colour.x, 0.5f, 1e-5f);
    EXPECT_NEAR(colour.z, 0.5f, 1e-5f);
}

TEST(IsoField, SegmentWithCoincidentEndsIsABallAtItsStart)
{
    SourceField field;
    placeSegment(field, 0, makeSegment(Float3(30, 30, 30), RED, 20.0f, Float3(30, 30, 30), BLUE, 5.0f, 6.0f));
    EXPECT_EQ(field.segments[0].invLengthSq, 0.0f);
    Float3 colour;
    for (int d = 0; d <= 6; ++d) {
        const float v = valueAt(field, 30.0f + d, 30, 30, &colour);
        ASSERT_TRUE(std::isfinite(v));
        EXPECT_NEAR(v, kernel(20.0f, float(d * d), 6.0f), VALUE_EPS) << d;
    }
    valueAt(field, 31, 30, 30, &colour);
    EXPECT_FLOAT_EQ(colour.x, 1.0f);
    EXPECT_FLOAT_EQ(colour.z, 0.0f);
}

TEST(IsoField, NegativeStrengthsCutIntoOtherSources)
{
    SourceField field;
    placeBall(field, 0, makeBall(Float3(32, 32, 32), RED, 20.0f, 12.0f));
    const float before = valueAt(field, 36, 32, 32);
    placeBall(field, 1, makeBall(Float3(36, 32, 32), BLUE, -20.0f, 4.0f));
    EXPECT_NEAR(valueAt(field, 36, 32, 32), before - 20.0f, VALUE_EPS);
    EXPECT_LT(valueAt(field, 36, 32, 32), 10.0f);   // below the default threshold: a hole
    EXPECT_NEAR(valueAt(field, 26, 32, 32), kernel(20.0f, 36.0f, 12.0f), VALUE_EPS);   // untouched
}

TEST(IsoField, DisabledSourcesContributeNothingButStayListed)
{
    SourceField field;
    placeBall(field, 0, makeBall(Float3(10, 10, 10), RED, 20.0f, 5.0f));
    placeSegment(field, 0, makeSegment(Float3(40, 40, 40), RED, 20.0f, Float3(50, 40, 40), BLUE, 20.0f, 4.0f));
    disableAllSources(field);
    EXPECT_EQ(valueAt(field, 10, 10, 10), 0.0f);
    EXPECT_EQ(valueAt(field, 45, 40, 40), 0.0f);
    EXPECT_EQ(countListed(field.root, 0, true), 1);
    EXPECT_EQ(countListed(field.root, 0, false), 1);
    EXPECT_FALSE(SourceCursor(field).next());
}

TEST(IsoField, ReplacingADisabledSourceNeverListsItTwice)
{
    SourceField field;
    placeBall(field, 0, makeBall(Float3(32, 32, 32), RED, 20.0f, 5.0f));   // root
    placeSegment(field, 0, makeSegment(Float3(4, 4, 4), RED, 20.0f, Float3(8, 4, 4), BLUE, 20.0f, 2.0f));
    disableAllSources(field);
    placeBall(field, 0, makeBall(Float3(8, 8, 8), RED, 20.0f, 4.0f));      // depth 2
    placeSegment(field, 0, makeSegment(Float3(10, 40, 40), RED, 20.0f, Float3(50, 40, 40), BLUE, 20.0f, 2.0f));
    EXPECT_EQ(countListed(field.root, 0, true), 1);
    EXPECT_EQ(countListed(field.root, 0, false), 1);
    EXPECT_TRUE(field.root.ballIds.empty());
    EXPECT_EQ(field.root.segmentIds.size(), 1u);
    EXPECT_NEAR(valueAt(field, 8, 8, 8), 20.0f, VALUE_EPS);   // counted once
    EXPECT_EQ(valueAt(field, 32, 32, 32), 0.0f);

    // Placing the same index again at the same place keeps one entry.
    placeBall(field, 0, makeBall(Float3(8, 8, 8), RED, 20.0f, 4.0f));
    EXPECT_EQ(countListed(field.root, 0, true), 1);
}

TEST(IsoField, PlacingBeyondTheEndGrowsWithDisabledUnlistedRecords)
{
    SourceField field;
    placeBall(field, 4, makeBall(Float3(40, 40, 40), RED, 20.0f, 4.0f));
    ASSERT_EQ(field.balls.size(), 5u);
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_FALSE(field.balls[i].enabled);
        EXPECT_EQ(field.balls[i].strength, 0.0f);
        EXPECT_EQ(countListed(field.root, i, true), 0);
    }
    EXPECT_TRUE(field.balls[4].enabled);
    placeSegment(field, 2, makeSegment(Float3(1, 1, 1), RED, 1.0f, Float3(2, 1, 1), RED, 1.0f, 1.0f));
    EXPECT_EQ(field.segments.size(), 3u);
    EXPECT_FALSE(field.segments[1].enabled);
}

TEST(IsoField, CursorVisitsEnabledBallsThenSegmentsInIndexOrder)
{
    SourceField field;
    placeBall(field, 3, makeBall(Float3(3, 3, 3), RED, 1.0f, 1.0f));
    placeBall(field, 1, makeBall(Float3(1, 1, 1), RED, 1.0f, 1.0f));
    placeBall(field, 2, makeBall(Float3(2, 2, 2), RED, 1.0f, 1.0f));
    field.balls[2].enabled = false;
    placeSegment(field, 1, makeSegment(Float3(9, 9, 9), RED, 1.0f, Float3(10, 9, 9), RED, 1.0f, 1.0f));
    std::vector<std::pair<SourceKind, int32_t>> seen;
    std::vector<float> xs;
    SourceCursor cursor(field);
    while (cursor.next()) {
        seen.push_back({ cursor.kind(), cursor.index() });
        xs.push_back(cursor.position().x);
    }
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], std::make_pair(SourceKind::Ball, 1));
    EXPECT_EQ(seen[1], std::make_pair(SourceKind::Ball, 3));
    EXPECT_EQ(seen[2], std::make_pair(SourceKind::Segment, 1));
    EXPECT_EQ(xs, (std::vector<float>{ 1.0f, 3.0f, 9.0f }));
    EXPECT_FALSE(cursor.next());
    EXPECT_EQ(cursor.kind(), SourceKind::End);
}

TEST(IsoField, ColourWithoutValueIsFiniteBlack)
{
    const Float3 c = weightedColour(0.0f, Float3(0, 0, 0));
    EXPECT_EQ(c.x, 0.0f);
    EXPECT_EQ(c.y, 0.0f);
    const Float3 overflow = weightedColour(1e-44f, Float3(1e5f, 0.0f, 0.0f));
    EXPECT_TRUE(std::isfinite(overflow.x));
    // Cancelling sources: the value is 0 but the weighted sum is not.
    SourceField field;
    placeBall(field, 0, makeBall(Float3(20, 20, 20), RED, 20.0f, 5.0f));
    placeBall(field, 1, makeBall(Float3(20, 20, 20), BLUE, -20.0f, 5.0f));
    Float3 colour;
    EXPECT_EQ(valueAt(field, 21, 20, 20, &colour), 0.0f);
    EXPECT_TRUE(std::isfinite(colour.x) && std::isfinite(colour.y) && std::isfinite(colour.z));
}

TEST(IsoField, ZeroRadiusContributesNothingAndNeverNaN)
{
    SourceField field;
    placeBall(field, 0, makeBall(Float3(10, 10, 10), RED, 20.0f, 0.0f));
    placeSegment(field, 0, makeSegment(Float3(20, 20, 20), RED, 20.0f, Float3(22, 20, 20), RED, 20.0f, 0.0f));
    EXPECT_EQ(valueAt(field, 10, 10, 10), 0.0f);
    EXPECT_EQ(valueAt(field, 20, 20, 20), 0.0f);
    EXPECT_EQ(valueAt(field, 21, 20, 20), 0.0f);
}

TEST(IsoField, CachedValuesAndGradientsMatchTheRawField)
{
    auto field = std::make_unique<SourceField>();
    auto mesher = std::make_unique<IsoMesher>(field.get());
    placeBall(*field, 0, makeBall(Float3(30.5f, 31.25f, 32.0f), RED, 20.0f, 8.0f));
    beginPass(*mesher);
    const GridPoint p{ 33, 31, 30 };
    const float v = fieldValue(*mesher, p);
    EXPECT_FLOAT_EQ(v, valueAt(*field, 33, 31, 30));
    EXPECT_FLOAT_EQ(shadeOf(*mesher, cellAt(*mesher, p)).colour.x, 1.0f);
    const Float3 g = fieldGradient(*mesher, p);
    EXPECT_FLOAT_EQ(g.x, valueAt(*field, 34, 31, 30) - valueAt(*field, 32, 31, 30));
    EXPECT_FLOAT_EQ(g.y, valueAt(*field, 33, 32, 30) - valueAt(*field, 33, 30, 30));
    EXPECT_FLOAT_EQ(g.z, valueAt(*field, 33, 31, 31) - valueAt(*field, 33, 31, 29));
    EXPECT_LT(g.x, 0.0f);   // towards increasing field: back towards the centre

    // Moving the ball without a new pass keeps the cached value; a new pass
    // (one stamp increment) recomputes it.
    placeBall(*field, 0, makeBall(Float3(10, 10, 10), RED, 20.0f, 8.0f));
    EXPECT_FLOAT_EQ(fieldValue(*mesher, p), v);
    beginPass(*mesher);
    EXPECT_EQ(fieldValue(*mesher, p), 0.0f);
}

TEST(IsoField, PointsOutsideTheLatticeReadZero)
{
    auto field = std::make_unique<SourceField>();
    auto mesher = std::make_unique<IsoMesher>(field.get());
    placeBall(*field, 0, makeBall(Float3(63, 0, 32), RED, 20.0f, 8.0f));
    beginPass(*mesher);
    EXPECT_GT(fieldValue(*mesher, GridPoint{ 63, 0, 32 }), 0.0f);
    EXPECT_EQ(fieldValue(*mesher, GridPoint{ 64, 0, 32 }), 0.0f);
    EXPECT_EQ(fieldValue(*mesher, GridPoint{ 63, -1, 32 }), 0.0f);
    // At the border the missing neighbour counts as 0.
    const Float3 g = fieldGradient(*mesher, GridPoint{ 63, 0, 32 });
    EXPECT_FLOAT_EQ(g.x, 0.0f - fieldValue(*mesher, GridPoint{ 62, 0, 32 }));
    EXPECT_FLOAT_EQ(g.y, fieldValue(*mesher, GridPoint{ 63, 1, 32 }) - 0.0f);
    // Outside points get a fresh gradient each time and the spare cell keeps value 0.
    const Float3 outside = fieldGradient(*mesher, GridPoint{ 64, 0, 32 });
    EXPECT_FLOAT_EQ(outside.x, 0.0f - fieldValue(*mesher, GridPoint{ 63, 0, 32 }));
    EXPECT_EQ(mesher->spare.value, 0.0f);
    EXPECT_EQ(mesher->spare.edgeVertex[0], NO_VERTEX);
}

// The cubes the flood visited this pass, from -1 to 63 on every axis.
std::vector<GridPoint> visitedCubes(const IsoMesher& mesher)
{
    std::vector<GridPoint> cubes;
    for (int z = -1; z < GRID_SIZE; ++z)
        for (int y = -1; y < GRID_SIZE; ++y)
            for (int x = -1; x < GRID_SIZE; ++x)
                if (cubeVisited(mesher, GridPoint{ x, y, z }))
                    cubes.push_back(GridPoint{ x, y, z });
    return cubes;
}

// Cells carry no pass number: what one pass writes (values, visited marks,
// edge vertices, gradients) must be clean at the next, also when the stamp
// the near faces use wraps, whether points are evaluated in rows or one by
// one (a source with an infinite colour turns rows off).
TEST(IsoField, EveryCellAPassWroteIsCleanInTheNext)
{
    for (const bool onePointAtATime : { false, true }) {
        SCOPED_TRACE(onePointAtATime ? "points one by one" : "rows of points");
        auto field = std::make_unique<SourceField>();
        auto mesher = std::make_unique<IsoMesher>(field.get());
        placeBall(*field, 0, makeBall(Float3(20, 20, 20), RED, 20.0f, 8.0f));
        placeBall(*field, 2, makeBall(Float3(1, 46, 46), RED, 20.0f, 5.0f));   // cut by the x = 0 face
        if (onePointAtATime)
            placeBall(*field, 1, makeBall(Float3(60, 60, 60), Float3(INFINITY, 0, 0), 20.0f, 1.0f));
        const GridPoint written[] = { { 20, 20, 20 }, { 0, 20, 20 }, { 63, 21, 20 }, { 23, 0, 63 } };
        mesher->stamp = 0xFFFD;   // this pass 0xFFFE, then 0xFFFF and the wrap to 0
        beginPass(*mesher);
        EXPECT_EQ(mesher->rowEvaluation, !onePointAtATime);
        polygonize(*mesher, seedSurface(*mesher, *field, 10.0f), 10.0f);
        const std::vector<GridPoint> visited = visitedCubes(*mesher);
        EXPECT_GT(visited.size(), 300u);
        EXPECT_TRUE(std::any_of(visited.begin(), visited.end(), [](const GridPoint& q) { return q.x == -1; }));
        for (const GridPoint& p : written) {
            fieldValue(*mesher, p);
            fieldGradient(*mesher, p);
            GridCell& cell = cellAt(*mesher, p);
            cell.edgeVertex[1] = 7;
            cell.caseIndex = 3;
        }
        placeBall(*field, 0, makeBall(Float3(24, 20, 20), RED, 20.0f, 8.0f));
        for (int pass = 0; pass < 2; ++pass) {
            beginPass(*mesher);
            EXPECT_TRUE(visitedCubes(*mesher).empty());
            for (const GridPoint& p : written) {
                SCOPED_TRACE(testing::Message() << p.x << " " << p.y << " " << p.z << " pass " << mesher->stamp);
                for (int x = p.x & ~3; x < (p.x & ~3) + 4; ++x) {   // the point's whole group
                    const GridCell& cell = cellAt(*mesher, GridPoint{ x, p.y, p.z });
                    EXPECT_FALSE(cell.gradientKnown);
                    EXPECT_EQ(cell.edgeVertex[0], NO_VERTEX);
                    EXPECT_EQ(cell.edgeVertex[1], NO_VERTEX);
                    EXPECT_EQ(cell.value, STALE_VALUE);
                }
                // The value is the moved ball's, not the one cached before.
                EXPECT_FLOAT_EQ(fieldValue(*mesher, p), valueAt(*field, p.x, p.y, p.z));
            }
        }
        EXPECT_EQ(mesher->stamp, 0);
        EXPECT_NEAR(fieldValue(*mesher, GridPoint{ 24, 20, 20 }), 20.0f, VALUE_EPS);
    }
}

namespace {

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }


void expectCacheMatchesWalk(SourceField& field, IsoMesher& mesher)
{
    beginPass(mesher);
    for (int z = 0; z < GRID_SIZE; z += 2)
        for (int y = 0; y < GRID_SIZE; ++y)
            for (int x = 0; x < GRID_SIZE; ++x) {
                Float3 sum;
                const float raw = sampleField(field, Float3(float(x), float(y), float(z)), sum);
                const float cached = fieldValue(mesher, GridPoint{ x, y, z });
                ASSERT_TRUE(sameBits(raw, cached)) << x << " " << y << " " << z << ": " << raw << " vs " << cached;
                const Float3 colour = weightedColour(raw, sum);
                const Float3& cell = shadeOf(mesher, cellAt(mesher, GridPoint{ x, y, z })).colour;
                ASSERT_TRUE(sameBits(colour.x, cell.x) && sameBits(colour.y, cell.y) && sameBits(colour.z, cell.z))
                    << x << " " << y << " " << z;
            }
}

// Every point with a value in its cell holds the octree walk's value and
// colour, bit for bit; returns how many there are.
size_t expectEvaluatedCellsMatchWalk(SourceField& field, IsoMesher& mesher)
{
    size_t evaluated = 0;
    for (int z = 0; z < GRID_SIZE; ++z)
        for (int y = 0; y < GRID_SIZE; ++y)
            for (int x = 0; x < GRID_SIZE; ++x) {
                const GridCell& cell = cellAt(mesher, GridPoint{ x, y, z });
                if (sameBits(cell.value, STALE_VALUE))
                    continue;
                ++evaluated;
                Float3 sum;
                const float raw = sampleField(field, Float3(float(x), float(y), float(z)), sum);
                EXPECT_TRUE(sameBits(raw, cell.value)) << x << " " << y << " " << z << ": " << raw << " vs " << cell.value;
                const Float3 colour = weightedColour(raw, sum);
                const Float3& shade = shadeOf(mesher, cellAt(mesher, GridPoint{ x, y, z })).colour;
                EXPECT_TRUE(sameBits(colour.x, shade.x) && sameBits(colour.y, shade.y) && sameBits(colour.z, shade.z))
                    << x << " " << y << " " << z;
                if (testing::Test::HasFailure())
                    return evaluated;
            }
    return evaluated;
}

// The points classifyBlocks evaluates, a mixed block at a time (with
// AVX-512, a layer of sixteen points to a register, all four in one walk).
void expectClassifiedBlocksMatchWalk(SourceField& field, IsoMesher& mesher, float level)
{
    beginPass(mesher);
    classifyBlocks(mesher, level);
    EXPECT_EQ(expectEvaluatedCellsMatchWalk(field, mesher), size_t(BLOCK_POINTS) * mesher.rescueMixedBlocks);
    EXPECT_GT(mesher.rescueMixedBlocks, 100u);
}

// Every row width: one row in 128-bit registers, and where the processor
// has AVX, pairs of rows in 256-bit ones; the classified blocks also with
// AVX-512 where it has that.
void expectCacheMatchesWalkAtEveryWidth(SourceField& field, IsoMesher& mesher)
{
    const bool avx = mesher.wideRows, avx512 = mesher.widestRows;
    for (bool wide : { false, true }) {
        if (wide && !avx)
            continue;
        mesher.wideRows = wide;
        expectCacheMatchesWalk(field, mesher);
        for (bool widest : { false, true }) {
            if (widest && !(avx512 && wide))
                continue;
            SCOPED_TRACE(widest ? "blocks in 512-bit registers" : wide ? "blocks in row pairs" : "blocks in rows");
            mesher.widestRows = widest;
            expectClassifiedBlocksMatchWalk(field, mesher, 5.0f);
        }
    }
    mesher.wideRows = avx;
    mesher.widestRows = avx512;
}

// Every cell and shade a pass leaves is what a fresh mesher's pass over the
// same field leaves (all but the case, kept only for visited cubes).
void expectSameCells(const IsoMesher& used, const IsoMesher& fresh)
{
    for (int i = 0; i < GRID_CELLS; ++i) {
        const GridCell& a = used.cells[i];
        const GridCell& b = fresh.cells[i];
        ASSERT_TRUE(sameBits(a.value, b.value)) << "cell " << i << ": " << a.value << " vs " << b.value;
        ASSERT_TRUE(std::equal(a.edgeVertex, a.edgeVertex + 3, b.edgeVertex)) << "cell " << i;
        ASSERT_EQ(a.gradientKnown, b.gradientKnown) << "cell " << i;
        if (sameBits(a.value, STALE_VALUE))
            continue;
        const Float3& ca = used.shades[i].colour;
        const Float3& cb = fresh.shades[i].colour;
        ASSERT_TRUE(sameBits(ca.x, cb.x) && sameBits(ca.y, cb.y) && sameBits(ca.z, cb.z)) << "cell " << i;
    }
}

} // namespace

// A full pass resets the last pass's cells only once it knows its blocks:
// those of its mixed blocks are written whole (with AVX-512), the rest reset.
// Whatever the last pass and anything after it wrote, in blocks that are
// mixed now or not, is gone: the pass leaves the cells and the mesh a fresh
// mesher's pass leaves, with the blocks in 512-bit registers or not.
TEST(IsoField, APassResettingInItsClassificationLeavesWhatAFreshPassLeaves)
{
    auto field = std::make_unique<SourceField>();
    placeBall(*field, 0, makeBall(Float3(20, 20, 20), RED, 20.0f, 12.0f));
    placeBall(*field, 1, makeBall(Float3(40, 30, 44), Float3(0, 1, 0), 20.0f, 6.0f));
    placeBall(*field, 2, makeBall(Float3(1, 46, 46), RED, 20.0f, 5.0f));   // cut by the x = 0 face
    // A colour that changes from point to point along each row.
    placeSegment(*field, 0, makeSegment(Float3(8, 10, 30), Float3(1.0f, 0.5f, 0.0f), 20.0f, Float3(56, 50, 30),
                                        Float3(0.0f, 0.5f, 1.0f), 20.0f, 7.0f));
    for (const bool widest : { false, true }) {
        auto used = std::make_unique<IsoMesher>(field.get());
        if (widest && !used->widestRows)
            continue;
        SCOPED_TRACE(widest ? "blocks in 512-bit registers" : "blocks in rows");
        used->widestRows = widest;
        placeBall(*field, 0, makeBall(Float3(20, 20, 20), RED, 20.0f, 12.0f));
        runIsoPass(*used, 10.0f);
        // Values, gradients and marks after the pass: deep inside the first
        // ball (a block wholly inside), in the surface's blocks, far from it.
        const GridPoint written[] = { { 20, 20, 20 }, { 16, 20, 20 }, { 26, 20, 20 }, { 0, 46, 46 }, { 60, 3, 9 } };
        for (const GridPoint& p : written) {
            fieldValue(*used, p);
            fieldGradient(*used, p);
            cellAt(*used, p).edgeVertex[1] = 7;
        }
        placeBall(*field, 0, makeBall(Float3(23, 21, 20), RED, 20.0f, 12.0f));
        for (int pass = 0; pass < 2; ++pass) {
            SCOPED_TRACE(pass);
            const IsoMesh& mesh = runIsoPass(*used, 10.0f);
            auto fresh = std::make_unique<IsoMesher>(field.get());
            fresh->widestRows = widest;
            const IsoMesh& expected = runIsoPass(*fresh, 10.0f);
            ASSERT_EQ(mesh.vertices.size(), expected.vertices.size());
            EXPECT_TRUE(mesh.vertices.empty() ||
                        std::memcmp(mesh.vertices.data(), expected.vertices.data(), mesh.vertices.size() * sizeof(IsoVertex)) == 0);
            EXPECT_EQ(mesh.indices, expected.indices);
            expectSameCells(*used, *fresh);
            EXPECT_GT(expectEvaluatedCellsMatchWalk(*field, *used), size_t(BLOCK_POINTS) * used->rescueMixedBlocks);
        }
    }
}

// With AVX-512 the block lists are summed sixteen blocks at a time, and the
// classification makes the gradients of its mixed blocks' crossed points
// from the values it evaluated, and the flood finds them made. Each is the lookups' own (bit for bit), and a pass leaves gradients
// at exactly the points, and the mesh, a pass without them leaves: with a
// ball cut by the x = 0 face, a negative cut, a segment, at levels either
// side of the blocks' bounds.
TEST(IsoField, GradientsTheClassificationMakesAreTheLookupsOwn)
{
    auto field = std::make_unique<SourceField>();
    placeBall(*field, 0, makeBall(Float3(20, 22, 21), RED, 20.0f, 12.0f));
    placeBall(*field, 1, makeBall(Float3(1, 46, 46), BLUE, 20.0f, 7.0f));
    placeBall(*field, 2, makeBall(Float3(27, 22, 21), RED, -30.0f, 4.0f));
    placeSegment(*field, 0, makeSegment(Float3(8, 10, 30), Float3(1.0f, 0.5f, 0.0f), 20.0f, Float3(56, 50, 40),
                                        Float3(0.0f, 0.5f, 1.0f), 20.0f, 7.0f));
    for (const float level : { 10.0f, 2.0f }) {
        SCOPED_TRACE(level);
        auto made = std::make_unique<IsoMesher>(field.get());
        if (!made->widestRows)
            GTEST_SKIP() << "the classification makes gradients only with AVX-512";
        auto looked = std::make_unique<IsoMesher>(field.get());
        looked->widestRows = false;
        const IsoMesh& mesh = runIsoPass(*made, level);
        const IsoMesh& expected = runIsoPass(*looked, level);
        EXPECT_GT(made->classifiedGradients, 1000u);
        EXPECT_EQ(looked->classifiedGradients, 0u);
        // The block lists' offsets and reached blocks, summed sixteen at a time or one by one.
        EXPECT_EQ(made->blockStart, looked->blockStart);
        EXPECT_EQ(made->reachedBlocks, looked->reachedBlocks);
        EXPECT_EQ(made->blockSources, looked->blockSources);
        ASSERT_EQ(mesh.vertices.size(), expected.vertices.size());
        EXPECT_EQ(std::memcmp(mesh.vertices.data(), expected.vertices.data(), mesh.vertices.size() * sizeof(IsoVertex)), 0);
        EXPECT_EQ(mesh.indices, expected.indices);
        auto lookups = std::make_unique<IsoMesher>(field.get());
        beginPass(*lookups);
        size_t known = 0;
        for (int i = 0; i < GRID_CELLS; ++i) {
            ASSERT_EQ(made->cells[i].gradientKnown, looked->cells[i].gradientKnown) << "cell " << i;
            if (!made->cells[i].gradientKnown)
                continue;
            ++known;
            const GridPoint p{ i % GRID_SIZE, i / GRID_SIZE % GRID_SIZE, i / (GRID_SIZE * GRID_SIZE) };
            const Float3& g = made->shades[i].gradient;
            const Float3 want = fieldGradient(*lookups, p);
            ASSERT_TRUE(sameBits(g.x, want.x) && sameBits(g.y, want.y) && sameBits(g.z, want.z))
                << p.x << " " << p.y << " " << p.z;
        }
        EXPECT_GT(known, made->classifiedGradients);
    }
}

TEST(IsoField, CachedValuesAreBitIdenticalToTheOctreeWalk)
{
    // Balls at every depth, negative strengths, segments (one with coincident
    // ends), radii from small to larger than the volume: the per-pass block
    // lists must add exactly the walk's terms in the walk's order.
    auto field = std::make_unique<SourceField>();
    auto mesher = std::make_unique<IsoMesher>(field.get());
    uint32_t state = 99;
    auto next = [&](float lo, float hi) {
        state = state * 1664525u + 1013904223u;
        return lo + (hi - lo) * float(state >> 8) / float(1u << 24);
    };
    for (uint32_t i = 0; i < 40; ++i)
        placeBall(*field, i,
                  makeBall(Float3(next(-4, 68), next(-4, 68), next(-4, 68)), Float3(next(0, 1), next(0, 1), next(0, 1)),
                           next(-25, 25), next(1.5f, 12)));
    placeBall(*field, 40, makeBall(Float3(32, 32, 32), RED, 3.0f, 80.0f));
    for (uint32_t i = 0; i < 8; ++i)
        placeSegment(*field, i,
                     makeSegment(Float3(next(0, 64), next(0, 64), next(0, 64)), RED, next(-30, 30),
                                 Float3(next(0, 64), next(0, 64), next(0, 64)), BLUE, next(-30, 30), next(2, 9)));
    placeSegment(*field, 8, makeSegment(Float3(20, 20, 20), RED, 20.0f, Float3(20, 20, 20), BLUE, 20.0f, 5.0f));
    field->balls[3].enabled = false;
    expectCacheMatchesWalkAtEveryWidth(*field, *mesher);
    EXPECT_TRUE(mesher->rowEvaluation);

    // A non-finite strength switches to point-by-point evaluation, still
    // matching the walk (inf where the source reaches).
    placeBall(*field, 41, makeBall(Float3(50, 50, 50), RED, INFINITY, 3.0f));
    expectCacheMatchesWalk(*field, *mesher);
    EXPECT_FALSE(mesher->rowEvaluation);
}

TEST(IsoField, BlockListsLeaveOutOnlyBlocksASourceCannotReach)
{
    // A long diagonal segment and a large ball, like the show's chains and
    // particle balls: their support boxes hold many blocks they never reach.
    auto field = std::make_unique<SourceField>();
    auto mesher = std::make_unique<IsoMesher>(field.get());
    placeSegment(*field, 0, makeSegment(Float3(3.3f, 5.1f, 2.7f), RED, 20.0f, Float3(60.2f, 58.9f, 61.4f), BLUE, 20.0f, 5.12f));
    placeBall(*field, 0, makeBall(Float3(41.5f, 22.25f, 30.0f), BLUE, 4.0f, 20.0f));
    beginPass(*mesher);

    auto listed = [&](int block, uint32_t entry) {
        const uint32_t* first = mesher->blockSources.data() + mesher->blockStart[size_t(block)];
        const uint32_t* last = mesher->blockSources.data() + mesher->blockStart[size_t(block) + 1];
        return std::find(first, last, entry) != last;
    };
    int segmentBlocks = 0, ballBlocks = 0;
    for (int bz = 0; bz < BLOCKS_PER_AXIS; ++bz)
        for (int by = 0; by < BLOCKS_PER_AXIS; ++by)
            for (int bx = 0; bx < BLOCKS_PER_AXIS; ++bx) {
                const int block = bx + BLOCKS_PER_AXIS * (by + BLOCKS_PER_AXIS * bz);
                const bool hasSegment = listed(block, 0u | BLOCK_SEGMENT_BIT);
                const bool hasBall = listed(block, 0u);
                segmentBlocks += hasSegment;
                ballBlocks += hasBall;
                if (hasSegment && hasBall)
                    continue;
                // A source left out must add nothing at any point of the block.
                for (int z = 0; z < BLOCK_SIZE; ++z)
                    for (int y = 0; y < BLOCK_SIZE; ++y)
                        for (int x = 0; x < BLOCK_SIZE; ++x) {
                            const Float3 q(float(bx * BLOCK_SIZE + x), float(by * BLOCK_SIZE + y),
                                           float(bz * BLOCK_SIZE + z));
                            FieldSum segmentSum, ballSum;
                            addSegment(field->segments[0], q, segmentSum);
                            addBall(field->balls[0], q, ballSum);
                            if (!hasSegment) {
                                ASSERT_EQ(segmentSum.value, 0.0f) << q.x << " " << q.y << " " << q.z;
                            }
                            if (!hasBall) {
                                ASSERT_EQ(ballSum.value, 0.0f) << q.x << " " << q.y << " " << q.z;
                            }
                        }
            }
    // Far fewer blocks than the boxes hold: the segment's box spans 16^3
    // blocks, the ball's 11^3.
    EXPECT_GT(segmentBlocks, 0);
    EXPECT_LT(segmentBlocks, 16 * 16 * 16 / 4);
    EXPECT_GT(ballBlocks, 0);
    EXPECT_LT(ballBlocks, 11 * 11 * 11 * 3 / 4);
    expectCacheMatchesWalkAtEveryWidth(*field, *mesher);
}
