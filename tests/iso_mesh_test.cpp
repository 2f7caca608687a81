// tests/iso_mesh_test.cpp: the polygonizer's mesh, checked against a
// brute-force scan of every lattice edge and against the topology of a closed
// surface.
#include "iso/Field.h"
#include "iso/IsoTables.h"
#include "iso/Mesher.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <utility>
#include <vector>

namespace {

const Float3 RED(1.0f, 0.0f, 0.0f);
const Float3 BLUE(0.0f, 0.0f, 1.0f);
constexpr float LEVEL = 10.0f;

struct Iso {
    std::unique_ptr<SourceField> field = std::make_unique<SourceField>();
    std::unique_ptr<IsoMesher>   mesher = std::make_unique<IsoMesher>(field.get());

    const IsoMesh& pass(float level = LEVEL) { return runIsoPass(*mesher, level); }
};

// Every lattice edge from an in-range point A to A + axis step, with the field
// taken as 0 beyond the lattice; calls visit(A, axis, crosses).
template <typename Visit>
void scanEdges(const SourceField& field, float level, Visit visit)
{
    std::vector<float> values(GRID_CELLS);
    for (int z = 0; z < GRID_SIZE; ++z)
        for (int y = 0; y < GRID_SIZE; ++y)
            for (int x = 0; x < GRID_SIZE; ++x) {
                Float3 sum;
                values[x + GRID_SIZE * y + GRID_SIZE * GRID_SIZE * z] =
                    sampleField(field, Float3(float(x), float(y), float(z)), sum);
            }
    auto at = [&](int x, int y, int z) {
        return inLattice(x, y, z) ? values[x + GRID_SIZE * y + GRID_SIZE * GRID_SIZE * z] : 0.0f;
    };
    for (int z = 0; z < GRID_SIZE; ++z)
        for (int y = 0; y < GRID_SIZE; ++y)
            for (int x = 0; x < GRID_SIZE; ++x)
                for (int axis = 0; axis < 3; ++axis) {
                    const float vA = at(x, y, z);
                    const float vB = at(x + (axis == 0), y + (axis == 1), z + (axis == 2));
                    visit(GridPoint{ x, y, z }, axis, (vA < level) != (vB < level));
                }
}

// Every crossed edge carries exactly one vertex, lying on that edge; no other
// edge carries one, and the mesh has no other vertices.
void expectVerticesOnExactlyTheCrossedEdges(Iso& iso, float level)
{
    const IsoMesh& mesh = iso.mesher->meshes[iso.mesher->current];
    size_t crossed = 0;
    std::vector<int> uses(mesh.vertices.size(), 0);
    scanEdges(*iso.field, level, [&](const GridPoint& a, int axis, bool crosses) {
        const uint16_t slot = cellAt(*iso.mesher, a).edgeVertex[axis];
        if (!crosses) {
            EXPECT_EQ(slot, NO_VERTEX) << a.x << " " << a.y << " " << a.z << " axis " << axis;
            return;
        }
        ++crossed;
        ASSERT_LT(slot, mesh.vertices.size()) << a.x << " " << a.y << " " << a.z << " axis " << axis;
        ++uses[slot];
        const Float3& p = mesh.vertices[slot].position;
        const float base[3] = { float(a.x), float(a.y), float(a.z) };
        for (int i = 0; i < 3; ++i) {
            if (i == axis) {
                EXPECT_GE(p[i], base[i]);
                EXPECT_LE(p[i], base[i] + 1.0f);
            } else {
                EXPECT_EQ(p[i], base[i]);
            }
        }
    });
    EXPECT_EQ(mesh.vertices.size(), crossed);
    for (size_t i = 0; i < uses.size(); ++i)
        EXPECT_EQ(uses[i], 1) << "vertex " << i;
}

struct Topology {
    size_t vertices = 0, edges = 0, faces = 0;
    bool   closed = true;        // every edge shared by exactly two triangles
    bool   degenerate = false;   // a triangle repeats an index
    long   euler() const { return long(vertices) - long(edges) + long(faces); }
};

Topology topologyOf(const IsoMesh& mesh)
{
    Topology t;
    t.vertices = mesh.vertices.size();
    t.faces = mesh.indices.size() / 3;
    std::map<std::pair<uint16_t, uint16_t>, int> edgeUses;
    for (size_t i = 0; i + 2 < mesh.indices.size(); i += 3) {
        const uint16_t v[3] = { mesh.indices[i], mesh.indices[i + 1], mesh.indices[i + 2] };
        if (v[0] == v[1] || v[1] == v[2] || v[0] == v[2])
            t.degenerate = true;
        for (int k = 0; k < 3; ++k) {
            const uint16_t a = v[k], b = v[(k + 1) % 3];
            ++edgeUses[{ std::min(a, b), std::max(a, b) }];
        }
    }
    t.edges = edgeUses.size();
    for (const auto& e : edgeUses)
        if (e.second != 2)
            t.closed = false;
    return t;
}

} // namespace

TEST(IsoMesh, EmptyFieldGivesEmptyMesh)
{
    Iso iso;
    const IsoMesh& mesh = iso.pass();
    EXPECT_TRUE(mesh.vertices.empty());
    EXPECT_TRUE(mesh.indices.empty());
}

TEST(IsoMesh, NegatedOrWeakSourcesGiveEmptyMesh)
{
    Iso iso;
    placeBall(*iso.field, 0, makeBall(Float3(32, 32, 32), RED, -20.0f, 6.4f));
    placeSegment(*iso.field, 0, makeSegment(Float3(10, 10, 10), RED, -40.0f, Float3(20, 10, 10), BLUE, -40.0f, 5.12f));
    placeBall(*iso.field, 1, makeBall(Float3(50, 50, 50), RED, 5.0f, 6.4f));   // peak below the level
    EXPECT_TRUE(iso.pass().indices.empty());
    EXPECT_TRUE(iso.mesher->meshes[0].vertices.empty());
}

TEST(IsoMesh, SingleBallVerticesSitOnExactlyTheCrossedEdges)
{
    Iso iso;
    placeBall(*iso.field, 0, makeBall(Float3(30.3f, 33.7f, 31.1f), RED, 20.0f, 9.0f));
    const IsoMesh& mesh = iso.pass();
    ASSERT_FALSE(mesh.vertices.empty());
    expectVerticesOnExactlyTheCrossedEdges(iso, LEVEL);
}

TEST(IsoMesh, RandomCloudsPutVerticesOnExactlyTheCrossedEdges)
{
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> pos(14.0f, 50.0f);
    std::uniform_real_distribution<float> rad(4.0f, 9.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int cloud = 0; cloud < 4; ++cloud) {
        Iso iso;
        for (uint32_t i = 0; i < 12; ++i)
            placeBall(*iso.field, i,
                      makeBall(Float3(pos(rng), pos(rng), pos(rng)), Float3(unit(rng), unit(rng), unit(rng)),
                               20.0f, rad(rng)));
        placeSegment(*iso.field, 0,
                     makeSegment(Float3(pos(rng), pos(rng), pos(rng)), RED, 20.0f,
                                 Float3(pos(rng), pos(rng), pos(rng)), BLUE, 20.0f, 5.12f));
        ASSERT_FALSE(iso.pass().vertices.empty());
        SCOPED_TRACE(cloud);
        expectVerticesOnExactlyTheCrossedEdges(iso, LEVEL);
    }
}

TEST(IsoMesh, SingleBallGivesAClosedSphere)
{
    const Float3 centres[] = { { 32.0f, 32.0f, 32.0f }, { 20.25f, 41.5f, 33.75f }, { 10.9f, 12.1f, 50.4f } };
    const float radii[] = { 6.4f, 4.48f, 13.0f };
    for (int k = 0; k < 3; ++k) {
        Iso iso;
        placeBall(*iso.field, 0, makeBall(centres[k], RED, 20.0f, radii[k]));
        const Topology t = topologyOf(iso.pass());
        SCOPED_TRACE(k);
        ASSERT_GT(t.faces, 0u);
        EXPECT_TRUE(t.closed);
        EXPECT_FALSE(t.degenerate);
        EXPECT_EQ(t.euler(), 2);
    }
}

TEST(IsoMesh, BallCutByTheFarLatticeFacesIsCappedAndClosed)
{
    // The field is 0 beyond the lattice, so the cubes of layer 63 close the
    // surface where it leaves through x = 64, y = 64 and z = 64.
    Iso iso;
    placeBall(*iso.field, 0, makeBall(Float3(61.5f, 62.0f, 60.7f), RED, 20.0f, 12.0f));
    const IsoMesh& mesh = iso.pass();
    const Topology t = topologyOf(mesh);
    ASSERT_GT(t.faces, 0u);
    EXPECT_TRUE(t.closed);
    EXPECT_EQ(t.euler(), 2);
    for (const IsoVertex& v : mesh.vertices) {
        EXPECT_LE(v.position.x, 64.0f);
        EXPECT_TRUE(std::isfinite(v.normal.x) && std::isfinite(v.normal.y) && std::isfinite(v.normal.z));
        EXPECT_TRUE(std::isfinite(v.colour.x) && std::isfinite(v.colour.y) && std::isfinite(v.colour.z));
        EXPECT_FLOAT_EQ(v.colour.x, 1.0f);   // the cap takes the inside end's colour
    }
    expectVerticesOnExactlyTheCrossedEdges(iso, LEVEL);
}

TEST(IsoMesh, NormalsAreUnitLengthAndPointAwayFromTheCentre)
{
    Iso iso;
    const Float3 centre(27.4f, 35.2f, 30.9f);
    placeBall(*iso.field, 0, makeBall(centre, RED, 20.0f, 11.0f));
    const IsoMesh& mesh = iso.pass();
    ASSERT_FALSE(mesh.vertices.empty());
    const float expectedRadius = 11.0f * std::sqrt(1.0f - std::sqrt(0.5f));
    for (const IsoVertex& v : mesh.vertices) {
        Float3 out;
        subtract(v.position, centre, out);
        const float r = vectorLength(out);
        EXPECT_NEAR(r, expectedRadius, 0.15f);
        EXPECT_NEAR(vectorLength(v.normal), 1.0f, 1e-5f);
        EXPECT_GT(dot(v.normal, out) / r, 0.95f);
    }
}

TEST(IsoMesh, NormalIsTheNegatedGradientDividedByItsLength)
{
    // Each vertex normal is -n / |n|, n the gradient interpolated along the
    // edge, evaluated in that order and compared bit for bit. A multiply by
    // -1 / |n| rounds differently on some vertices; the test counts those to
    // be sure the scene tells the two orders apart.
    Iso iso;
    placeBall(*iso.field, 0, makeBall(Float3(27.4f, 35.2f, 30.9f), RED, 20.0f, 11.0f));
    placeBall(*iso.field, 1, makeBall(Float3(36.1f, 29.7f, 33.3f), BLUE, 17.0f, 9.5f));
    const IsoMesh& mesh = iso.pass();
    ASSERT_FALSE(mesh.vertices.empty());
    IsoMesher& mesher = *iso.mesher;

    auto bits = [](float f) {
        uint32_t u;
        std::memcpy(&u, &f, sizeof u);
        return u;
    };
    size_t checked = 0, ordersDiffer = 0;
    for (int z = 0; z < GRID_SIZE; ++z)
        for (int y = 0; y < GRID_SIZE; ++y)
            for (int x = 0; x < GRID_SIZE; ++x)
                for (int axis = 0; axis < 3; ++axis) {
                    const GridPoint A{ x, y, z };
                    const uint16_t slot = cellAt(mesher, A).edgeVertex[axis];
                    if (slot == NO_VERTEX)
                        continue;
                    ASSERT_LT(slot, mesh.vertices.size());
                    const GridPoint B{ x + (axis == 0), y + (axis == 1), z + (axis == 2) };
                    const float vA = fieldValue(mesher, A);
                    const float vB = fieldValue(mesher, B);
                    const float t = (LEVEL - vA) / (vB - vA);
                    const Float3 gA = fieldGradient(mesher, A);
                    const Float3 gB = fieldGradient(mesher, B);
                    const Float3 n(gA.x + t * (gB.x - gA.x), gA.y + t * (gB.y - gA.y), gA.z + t * (gB.z - gA.z));
                    const float length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
                    ASSERT_GT(length, 0.0f);
                    const Float3& normal = mesh.vertices[slot].normal;
                    bool differs = false;
                    for (int k = 0; k < 3; ++k) {
                        const float expected = -n[k] / length;
                        EXPECT_EQ(bits(normal[k]), bits(expected))
                            << "vertex " << slot << " axis " << k << ": " << normal[k] << " vs " << expected;
                        differs = differs || bits(n[k] * (-1.0f / length)) != bits(expected);
                    }
                    ordersDiffer += differs ? 1 : 0;
                    ++checked;
                }
    EXPECT_EQ(checked, mesh.vertices.size()) << "every vertex lies on one lattice edge";
    EXPECT_GT(ordersDiffer, 0u) << "no vertex where a multiply by the reciprocal would round differently";
}

TEST(IsoMesh, MergingBlobsBlendTheirColours)
{
    Iso iso;
    placeBall(*iso.field, 0, makeBall(Float3(27, 32, 32), RED, 20.0f, 9.0f));
    placeBall(*iso.field, 1, makeBall(Float3(37, 32, 32), BLUE, 20.0f, 9.0f));
    const IsoMesh& mesh = iso.pass();
    ASSERT_FALSE(mesh.vertices.empty());
    bool pureRed = false, pureBlue = false, blended = false;
    for (const IsoVertex& v : mesh.vertices) {
        EXPECT_NEAR(v.colour.x + v.colour.z, 1.0f, 1e-4f);   // a weighted mean of red and blue
        if (v.position.x < 23.0f)   // beyond the blue ball's support
            pureRed = pureRed || v.colour.x > 0.99f;
        if (v.position.x > 41.0f)
            pureBlue = pureBlue || v.colour.z > 0.99f;
        if (std::fabs(v.position.x - 32.0f) < 1.0f)
            blended = blended || (v.colour.x > 0.3f && v.colour.z > 0.3f);
    }
    EXPECT_TRUE(pureRed);
    EXPECT_TRUE(pureBlue);
    EXPECT_TRUE(blended);
    EXPECT_TRUE(topologyOf(mesh).closed);   // one merged surface
    EXPECT_EQ(topologyOf(mesh).euler(), 2);
}

TEST(IsoMesh, EmptyAndFullCubesStopTheFlood)
{
    Iso iso;
    placeBall(*iso.field, 0, makeBall(Float3(32, 32, 32), RED, 20.0f, 12.0f));
    IsoMesher& m = *iso.mesher;
    beginPass(m);
    std::vector<GridPoint> seeds{ GridPoint{ 32, 32, 32 }, GridPoint{ 5, 5, 5 } };   // full, then empty cube
    polygonize(m, seeds, LEVEL);
    EXPECT_TRUE(m.meshes[0].indices.empty());
    EXPECT_TRUE(m.meshes[0].vertices.empty());
    EXPECT_TRUE(cubeVisited(m, GridPoint{ 32, 32, 32 }));
    EXPECT_TRUE(cubeVisited(m, GridPoint{ 5, 5, 5 }));
    for (const GridPoint n : { GridPoint{ 33, 32, 32 }, GridPoint{ 31, 32, 32 }, GridPoint{ 32, 31, 32 },
                               GridPoint{ 4, 5, 5 }, GridPoint{ 5, 5, 6 } })
        EXPECT_FALSE(cubeVisited(m, n));
    EXPECT_TRUE(seeds.empty());
}

TEST(IsoMesh, SeedsStartNextToEachSourceAndOutOfRangeCubesAreDropped)
{
    Iso iso;
    placeBall(*iso.field, 0, makeBall(Float3(20.7f, 30.2f, 40.9f), RED, 20.0f, 6.4f));
    IsoMesher& m = *iso.mesher;
    beginPass(m);
    std::vector<GridPoint>& seeds = seedSurface(m, *iso.field, LEVEL);
    ASSERT_EQ(seeds.size(), 2u);
    // March from (20, 30, 40) towards +x: the first point below the level, then the one before.
    EXPECT_LT(fieldValue(m, seeds[0]), LEVEL);
    EXPECT_GE(fieldValue(m, seeds[1]), LEVEL);
    EXPECT_EQ(seeds[0].x, seeds[1].x + 1);
    EXPECT_EQ(seeds[1].y, 30);
    EXPECT_EQ(seeds[1].z, 40);

    // A ball centred at the very top of the range finds its crossing at the
    // outside point x = 64, which reads 0.
    Iso edge;
    placeBall(*edge.field, 0, makeBall(Float3(63.5f, 10, 10), RED, 20.0f, 6.4f));
    beginPass(*edge.mesher);
    std::vector<GridPoint>& edgeSeeds = seedSurface(*edge.mesher, *edge.field, LEVEL);
    ASSERT_EQ(edgeSeeds.size(), 2u);
    EXPECT_EQ(edgeSeeds[0].x, 64);
    EXPECT_EQ(edgeSeeds[1].x, 63);

    // Points outside the cube range are dropped without touching anything.
    std::vector<GridPoint> outside{ GridPoint{ 64, 3, 3 }, GridPoint{ -1, 3, 3 } };
    polygonize(*edge.mesher, outside, LEVEL);
    const GridCell& spare = edge.mesher->spare;
    EXPECT_EQ(spare.value, 0.0f);
    EXPECT_EQ(spare.caseIndex, 0);
    EXPECT_EQ(spare.edgeVertex[0], NO_VERTEX);
    EXPECT_TRUE(edge.mesher->meshes[0].vertices.empty());
}

TEST(IsoMesh, SourcesFarOutsideTheLatticeSeedNothing)
{
    Iso iso;
    placeBall(*iso.field, 0, makeBall(Float3(1e9f, -1e9f, 32.0f), RED, 20.0f, 6.4f));
    placeBall(*iso.field, 1, makeBall(Float3(NAN, 3.0f, 3.0f), RED, 20.0f, 6.4f));
    placeSegment(*iso.field, 0, makeSegment(Float3(-5e8f, 2, 2), RED, 20.0f, Float3(INFINITY, 2, 2), RED, 20.0f, 1.0f));
    EXPECT_TRUE(iso.pass().indices.empty());
}

TEST(IsoMesh, NeighbouringCubesShareEdgeVertices)
{
    Iso iso;
    placeBall(*iso.field, 0, makeBall(Float3(32.2f, 31.6f, 30.3f), RED, 20.0f, 10.0f));
    const IsoMesh& mesh = iso.pass();
    // Every index is used by several triangles: no duplicate vertex per edge.
    std::vector<int> uses(mesh.vertices.size(), 0);
    for (uint16_t i : mesh.indices)
        ++uses[i];
    for (size_t i = 0; i < uses.size(); ++i)
        EXPECT_GE(uses[i], 3) << "vertex " << i;
    // edgeVertexIndex is symmetric and reads the lower point's slot.
    const GridPoint a{ 32, 31, 35 }, b{ 32, 31, 36 };
    EXPECT_EQ(edgeVertexIndex(*iso.mesher, a, b), edgeVertexIndex(*iso.mesher, b, a));
    EXPECT_EQ(edgeVertexIndex(*iso.mesher, a, b), cellAt(*iso.mesher, a).edgeVertex[2]);
}

TEST(IsoMesh, EmitCubeFollowsTheRotatedClassList)
{
    // Re-emit every surface cube and compare with the class list mapped
    // through the stored rotation and edgeVertexIndex, corner by corner.
    Iso iso;
    placeBall(*iso.field, 0, makeBall(Float3(25, 30, 35), RED, 20.0f, 8.0f));
    placeBall(*iso.field, 1, makeBall(Float3(34, 30, 33), BLUE, 20.0f, 7.0f));
    iso.pass();
    IsoMesher& m = *iso.mesher;
    int cubes = 0;
    for (int z = 0; z < GRID_SIZE; ++z)
        for (int y = 0; y < GRID_SIZE; ++y)
            for (int x = 0; x < GRID_SIZE; ++x) {
                const GridPoint q{ x, y, z };
                const GridCell& cell = cellAt(m, q);
                if (!cubeVisited(m, q) || cell.caseIndex == 0 || cell.caseIndex == 255)
                    continue;
                ++cubes;
                const CaseEntry entry = CASE_TABLE.entries[cell.caseIndex];
                GridPoint canonical[8];
                for (int i = 0; i < 8; ++i)
                    canonical[ROTATIONS[entry.rotation][7 - i]] =
                        GridPoint{ x + CORNER_OFFSETS[i].x, y + CORNER_OFFSETS[i].y, z + CORNER_OFFSETS[i].z };
                std::vector<uint16_t> expected;
                const ClassTriangles& list = CLASS_TRIANGLES[entry.caseClass];
                for (int t = 0; t < list.count; ++t)
                    for (const CornerPair& p : list.triangles[t])
                        expected.push_back(edgeVertexIndex(m, canonical[p.a], canonical[p.b]));
                IsoMesh& mesh = m.meshes[m.current];
                const size_t before = mesh.indices.size();
                emitCube(m, q);
                const std::vector<uint16_t> emitted(mesh.indices.begin() + before, mesh.indices.end());
                mesh.indices.resize(before);
                ASSERT_EQ(emitted, expected) << x << " " << y << " " << z;
            }
    EXPECT_GT(cubes, 100);
}

TEST(IsoMesh, RepeatedPassesOverUnchangedSourcesGiveTheSameMesh)
{
    Iso iso;
    placeBall(*iso.field, 0, makeBall(Float3(25, 30, 35), RED, 20.0f, 8.0f));
    placeSegment(*iso.field, 0, makeSegment(Float3(30, 20, 20), RED, 20.0f, Float3(40, 40, 30), BLUE, 20.0f, 5.12f));
    const IsoMesh first = iso.pass();
    const IsoMesh& second = iso.pass();
    ASSERT_EQ(first.vertices.size(), second.vertices.size());
    EXPECT_EQ(first.indices, second.indices);
    for (size_t i = 0; i < first.vertices.size(); ++i) {
        EXPECT_EQ(first.vertices[i].position.x, second.vertices[i].position.x);
        EXPECT_EQ(first.vertices[i].normal.y, second.vertices[i].normal.y);
    }
}

TEST(IsoMesh, SurfaceNeedingMoreThan65535VerticesStaysValid)
{
    // 12^3 separate small spheres, three per 16-unit octree cube on each axis
    // so that every ball is listed at depth 2 and evaluation stays cheap.
    Iso iso;
    const float offsets[3] = { 3.5f, 8.0f, 12.5f };
    uint32_t index = 0;
    for (int k = 0; k < 12; ++k)
        for (int j = 0; j < 12; ++j)
            for (int i = 0; i < 12; ++i) {
                const Float3 c(16.0f * (i / 3) + offsets[i % 3], 16.0f * (j / 3) + offsets[j % 3],
                               16.0f * (k / 3) + offsets[k % 3]);
                placeBall(*iso.field, index++, makeBall(c, RED, 30.0f, 2.8f));
            }
    size_t crossed = 0;
    scanEdges(*iso.field, LEVEL, [&](const GridPoint&, int, bool crosses) { crossed += crosses; });
    ASSERT_GT(crossed, MAX_MESH_VERTICES);   // the surface really needs more
    const IsoMesh& mesh = iso.pass();
    ASSERT_EQ(mesh.vertices.size(), MAX_MESH_VERTICES);
    ASSERT_EQ(mesh.indices.size() % 3, 0u);
    ASSERT_FALSE(mesh.indices.empty());
    for (size_t i = 0; i < mesh.indices.size(); i += 3) {
        for (int k = 0; k < 3; ++k)
            ASSERT_LT(mesh.indices[i + k], mesh.vertices.size());
        // Each triangle lies within one cube: its corners are close together.
        for (int k = 0; k < 3; ++k) {
            Float3 d;
            subtract(mesh.vertices[mesh.indices[i + k]].position, mesh.vertices[mesh.indices[i + (k + 1) % 3]].position, d);
            ASSERT_LE(vectorLength(d), 1.75f);
        }
    }
    // A second pass on the same mesher starts afresh.
    placeBall(*iso.field, 0, makeBall(Float3(3.6f, 3.5f, 3.5f), RED, 30.0f, 2.8f));
    EXPECT_EQ(iso.pass().vertices.size(), MAX_MESH_VERTICES);
}

TEST(IsoMesh, ZeroGradientGivesAnAxisNormalNotNaN)
{
    // Two equal balls: the lattice point half-way between them has an exactly
    // zero gradient. With the level set to its value, the vertices of its
    // edges sit on it (t = 0 or 1), where the interpolated gradient is 0.
    Iso iso;
    placeBall(*iso.field, 0, makeBall(Float3(30, 32, 32), RED, 20.0f, 6.0f));
    placeBall(*iso.field, 1, makeBall(Float3(34, 32, 32), BLUE, 20.0f, 6.0f));
    Float3 sum;
    const float level = sampleField(*iso.field, Float3(32, 32, 32), sum);
    IsoMesher& m = *iso.mesher;
    beginPass(m);
    const Float3 g = fieldGradient(m, GridPoint{ 32, 32, 32 });
    ASSERT_EQ(g.x, 0.0f);
    ASSERT_EQ(g.y, 0.0f);
    ASSERT_EQ(g.z, 0.0f);
    std::vector<GridPoint> seeds{ GridPoint{ 32, 32, 32 } };
    polygonize(m, seeds, level);
    const IsoMesh& mesh = m.meshes[0];
    int atSaddle = 0;
    for (const IsoVertex& v : mesh.vertices) {
        ASSERT_TRUE(std::isfinite(v.normal.x) && std::isfinite(v.normal.y) && std::isfinite(v.normal.z));
        EXPECT_NEAR(vectorLength(v.normal), 1.0f, 1e-5f);
        if (v.position.x == 32.0f && v.position.y == 32.0f && v.position.z == 32.0f) {
            ++atSaddle;
            // Points from the inside end (the saddle) along the edge.
            EXPECT_EQ(std::fabs(v.normal.x) + std::fabs(v.normal.y) + std::fabs(v.normal.z), 1.0f);
        }
    }
    EXPECT_GT(atSaddle, 0);
}

// The normal at the limits of the gradient's length: a square that
// underflows to 0 or overflows, a NaN, and a square just above 0 (a
// denormal) give what taking the root first and testing it gives: the
// axis towards the outside end where the root is 0 or not finite, -n / |n|
// everywhere else, bit for bit.
TEST(IsoMesh, EdgeVertexNormalsAtTheLimitsOfTheGradientsLength)
{
    const float nan = std::nanf("");
    const Float3 gradients[] = { { 0, 0, 0 },     { 1e-23f, 0, 0 }, { 0, -1e-23f, 1e-23f }, { 1e-22f, 0, 0 },
                                 { 0, 2e-22f, -3e-23f }, { 1e20f, 0, 0 }, { 0, 0, -3e19f }, { nan, 1, 1 },
                                 { 3, -4, 12 } };
    auto bits = [](float f) {
        uint32_t u;
        std::memcpy(&u, &f, sizeof u);
        return u;
    };
    for (const Float3& g : gradients)
        for (const int axis : { 0, 2 })
            for (const float vA : { 4.0f, 12.0f }) {
                SCOPED_TRACE(testing::Message() << g.x << " " << g.y << " " << g.z << " axis " << axis << " vA " << vA);
                const float vB = 20.0f - vA;   // across the level of 10 from vA
                const IsoVertex v = makeEdgeVertex(GridPoint{ 5, 6, 7 }, axis, vA, vB, g, g, RED, BLUE, LEVEL);
                const float length = std::sqrt(g.x * g.x + g.y * g.y + g.z * g.z);
                Float3 expected;
                if (length > 0.0f && std::isfinite(length)) {
                    expected = Float3(-g.x / length, -g.y / length, -g.z / length);
                } else {
                    expected[axis] = vA >= LEVEL ? 1.0f : -1.0f;
                }
                for (int k = 0; k < 3; ++k)
                    EXPECT_EQ(bits(v.normal[k]), bits(expected[k])) << "component " << k << ": " << v.normal[k];
            }
}
