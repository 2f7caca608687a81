// tests/iso_complete_test.cpp: every piece of surface is meshed and closed at
// every face of the lattice. The mesher is compared with a plain marching
// cubes over every cube (iso/FullGrid.h) on source sets that seeding from the
// sources' reference points gets wrong; the block bounds that let the rescue
// skip blocks are checked against every point; the show's scenes are swept.
#include "base/Show.h"
#include "iso/Field.h"
#include "iso/FullGrid.h"
#include "iso/IsoScenes.h"
#include "iso/IsoTables.h"
#include "iso/Mesher.h"
#include "iso/Particles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

const Float3 RED(1.0f, 0.0f, 0.0f);
const Float3 BLUE(0.0f, 0.0f, 1.0f);
constexpr float LEVEL = 10.0f;

struct Iso {
    std::unique_ptr<SourceField>    field = std::make_unique<SourceField>();
    std::unique_ptr<IsoMesher>      mesher = std::make_unique<IsoMesher>(field.get());
    std::unique_ptr<FullGridMesher> reference = std::make_unique<FullGridMesher>();

    const IsoMesh& pass(float level = LEVEL) { return runIsoPass(*mesher, level); }
};

// A triangle by its three vertex positions, rotated so the smallest comes
// first (the winding is kept): the same in both meshes whatever the numbering.
using Corner = std::array<float, 3>;
using TriangleKey = std::array<Corner, 3>;

std::vector<TriangleKey> trianglesOf(const IsoMesh& mesh)
{
    std::vector<TriangleKey> keys;
    for (size_t t = 0; t + 2 < mesh.indices.size(); t += 3) {
        TriangleKey key;
        for (int k = 0; k < 3; ++k) {
            const Float3& p = mesh.vertices[mesh.indices[t + size_t(k)]].position;
            key[size_t(k)] = { p.x, p.y, p.z };
        }
        const size_t first = size_t(std::min_element(key.begin(), key.end()) - key.begin());
        std::rotate(key.begin(), key.begin() + long(first), key.end());
        keys.push_back(key);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

// Whether two lattice points on one cube face sit on diagonally opposite
// corners of a face whose corners alternate in and out: the face the classes
// may cut either way, where the mesh may stay open.
struct AmbiguousFaces {
    const FullGridMesher& grid;
    float                 level;

    bool inside(int x, int y, int z) const { return grid.valueAt(x, y, z) >= level; }

    // The lattice edge a vertex lies on: its lower point and axis.
    static void edgeOf(const Float3& p, int& x, int& y, int& z, int& axis)
    {
        const float c[3] = { p.x, p.y, p.z };
        int lower[3];
        axis = 0;
        for (int i = 0; i < 3; ++i) {
            lower[i] = int(std::floor(c[i]));
            if (c[i] != float(lower[i]))
                axis = i;
        }
        x = lower[0];
        y = lower[1];
        z = lower[2];
    }

    // True when the two vertices' edges lie on a common ambiguous face.
    bool shareAmbiguousFace(const Float3& a, const Float3& b) const
    {
        int ax, ay, az, aAxis, bx, by, bz, bAxis;
        edgeOf(a, ax, ay, az, aAxis);
        edgeOf(b, bx, by, bz, bAxis);
        // Candidate faces: the unit squares spanned by a's edge and one other axis.
        for (int normal = 0; normal < 3; ++normal) {
            if (normal == aAxis)
                continue;
            for (int shift = -1; shift <= 0; ++shift) {
                int o[3] = { ax, ay, az };
                const int other = 3 - normal - aAxis;
                o[other] += shift;
                // The face with corner o, spanned by aAxis and `other`, at o[normal].
                int corners[4][3];
                for (int k = 0; k < 4; ++k) {
                    corners[k][0] = o[0];
                    corners[k][1] = o[1];
                    corners[k][2] = o[2];
                    corners[k][aAxis] += k & 1;
                    corners[k][other] += (k >> 1) & 1;
                }
                // b's edge must be one of the face's edges.
                const int bLow[3] = { bx, by, bz };
                bool onFace = bLow[normal] == o[normal] && bAxis != normal;
                for (int i = 0; i < 3 && onFace; ++i)
                    if (i != normal && (bLow[i] < o[i] || bLow[i] > o[i] + 1))
                        onFace = false;
                if (!onFace)
                    continue;
                bool in[4];
                for (int k = 0; k < 4; ++k)
                    in[k] = inside(corners[k][0], corners[k][1], corners[k][2]);
                if (in[0] == in[3] && in[1] == in[2] && in[0] != in[1])
                    return true;
            }
        }
        return false;
    }
};

// Everything the mesher must share with the full grid: a vertex per crossed
// lattice edge, the same triangles, the same pieces, indices in range, and
// edges used by other than two triangles only on ambiguous faces.
void expectSameAsFullGrid(Iso& iso, float level, const std::string& what)
{
    SCOPED_TRACE(what);
    const IsoMesh& mesh = iso.pass(level);
    const IsoMesh& full = iso.reference->run(*iso.field, level);
    ASSERT_TRUE(indicesInRange(mesh));
    EXPECT_EQ(mesh.vertices.size(), iso.reference->crossedEdges()) << "one vertex per crossed lattice edge";
    const MeshCounts mine = countMesh(mesh);
    const MeshCounts theirs = countMesh(full);
    EXPECT_EQ(mine.vertices, theirs.vertices);
    EXPECT_EQ(mine.triangles, theirs.triangles);
    EXPECT_EQ(mine.components, theirs.components);
    EXPECT_TRUE(trianglesOf(mesh) == trianglesOf(full)) << "the same triangles";

    std::map<std::pair<uint16_t, uint16_t>, int> uses;
    for (size_t t = 0; t + 2 < mesh.indices.size(); t += 3)
        for (int k = 0; k < 3; ++k) {
            const uint16_t a = mesh.indices[t + size_t(k)], b = mesh.indices[t + size_t((k + 1) % 3)];
            ++uses[{ std::min(a, b), std::max(a, b) }];
        }
    const AmbiguousFaces faces{ *iso.reference, level };
    size_t open = 0;
    for (const auto& edge : uses)
        if (edge.second != 2 && !faces.shareAmbiguousFace(mesh.vertices[edge.first.first].position,
                                                          mesh.vertices[edge.first.second].position))
            ++open;
    EXPECT_EQ(open, 0u) << "edges open other than on ambiguous faces";
}

// --- Source sets that seeding from reference points gets wrong ------------------------

enum class Kind { TinyBalls, OutsideCentres, NegativeCuts, WeakPairs, HalfWeakSegments, FaceTouching };

const char* kindName(Kind k)
{
    switch (k) {
    case Kind::TinyBalls: return "TinyBalls";
    case Kind::OutsideCentres: return "OutsideCentres";
    case Kind::NegativeCuts: return "NegativeCuts";
    case Kind::WeakPairs: return "WeakPairs";
    case Kind::HalfWeakSegments: return "HalfWeakSegments";
    case Kind::FaceTouching: return "FaceTouching";
    }
    return "?";
}

void fill(SourceField& field, Kind kind, std::mt19937& rng)
{
    std::uniform_real_distribution<float> inner(6.0f, 58.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    auto colour = [&] { return Float3(unit(rng), unit(rng), unit(rng)); };
    auto point = [&] { return Float3(inner(rng), inner(rng), inner(rng)); };
    uint32_t balls = 0, segments = 0;
    switch (kind) {
    case Kind::TinyBalls: {
        std::uniform_real_distribution<float> radius(1.0f, 3.0f);
        for (int i = 0; i < 40; ++i)
            placeBall(field, balls++, makeBall(point(), colour(), 20.0f, radius(rng)));
        break;
    }
    case Kind::OutsideCentres: {
        // A centre beyond each face, its surface reaching into the lattice;
        // segments starting outside.
        std::uniform_real_distribution<float> out(0.3f, 3.5f);
        for (int axis = 0; axis < 3; ++axis)
            for (int side = 0; side < 2; ++side) {
                Float3 c = point();
                c[axis] = side ? 64.0f + out(rng) : -out(rng);
                placeBall(field, balls++, makeBall(c, colour(), 20.0f, 9.0f));
                Float3 a = point(), b = point();
                a[axis] = side ? 70.0f : -6.0f;
                placeSegment(field, segments++, makeSegment(a, colour(), 20.0f, b, colour(), 20.0f, 4.0f));
            }
        break;
    }
    case Kind::NegativeCuts: {
        // Big balls sliced by negative slabs (negative segments) and holes.
        for (int i = 0; i < 3; ++i)
            placeBall(field, balls++, makeBall(point(), colour(), 20.0f, 16.0f));
        for (int i = 0; i < 4; ++i) {
            Float3 a = point(), b = a;
            const int axis = int(unit(rng) * 3.0f) % 3;
            a[axis] = -4.0f;
            b[axis] = 68.0f;
            placeSegment(field, segments++, makeSegment(a, RED, -60.0f, b, RED, -60.0f, 3.0f));
        }
        for (int i = 0; i < 4; ++i)
            placeBall(field, balls++, makeBall(point(), RED, -40.0f, 5.0f));
        break;
    }
    case Kind::WeakPairs: {
        // Two balls whose peaks are below the level but whose sum is not.
        for (int i = 0; i < 8; ++i) {
            const Float3 c = point();
            Float3 d(unit(rng) - 0.5f, unit(rng) - 0.5f, unit(rng) - 0.5f);
            normalizeInPlace(d);
            const float half = 1.5f + 2.0f * unit(rng);
            placeBall(field, balls++, makeBall(Float3(c.x - d.x * half, c.y - d.y * half, c.z - d.z * half), colour(),
                                               8.0f, 8.0f));
            placeBall(field, balls++, makeBall(Float3(c.x + d.x * half, c.y + d.y * half, c.z + d.z * half), colour(),
                                               8.0f, 8.0f));
        }
        break;
    }
    case Kind::HalfWeakSegments: {
        // The start's strength is below the level, the end's above it.
        for (int i = 0; i < 8; ++i)
            placeSegment(field, segments++, makeSegment(point(), colour(), 4.0f, point(), colour(), 40.0f, 4.5f));
        break;
    }
    case Kind::FaceTouching: {
        // Surfaces through every face, centres inside and outside.
        std::uniform_real_distribution<float> near(-2.0f, 2.0f);
        for (int axis = 0; axis < 3; ++axis)
            for (int side = 0; side < 2; ++side) {
                Float3 c = point();
                c[axis] = (side ? 64.0f : 0.0f) + near(rng);
                placeBall(field, balls++, makeBall(c, colour(), 20.0f, 7.0f + 4.0f * unit(rng)));
            }
        break;
    }
    }
}

class CompleteSurface : public testing::TestWithParam<Kind> {};

TEST_P(CompleteSurface, RandomSetsGiveExactlyTheFullGridsMesh)
{
    std::mt19937 rng(7 + unsigned(GetParam()));
    for (int set = 0; set < 6; ++set) {
        Iso iso;
        fill(*iso.field, GetParam(), rng);
        expectSameAsFullGrid(iso, LEVEL, std::string(kindName(GetParam())) + " set " + std::to_string(set));
    }
}

INSTANTIATE_TEST_SUITE_P(IsoComplete, CompleteSurface,
                         testing::Values(Kind::TinyBalls, Kind::OutsideCentres, Kind::NegativeCuts, Kind::WeakPairs,
                                         Kind::HalfWeakSegments, Kind::FaceTouching),
                         [](const testing::TestParamInfo<Kind>& info) { return std::string(kindName(info.param)); });

// The rescue skips the rows of cubes rowsToRescue leaves out: none of them
// may hold a point off the fill, whatever the sources and the level's side of
// 0. The rows at its very edges do hold such points in some sets, so the
// rows it keeps are not wider than they need be.
TEST(IsoComplete, TheRowsTheRescueSkipsHoldOnlyTheFill)
{
    constexpr int PR = GRID_SIZE + 2;
    int edgeRowsUsed = 0;
    for (Kind kind : { Kind::TinyBalls, Kind::OutsideCentres, Kind::NegativeCuts, Kind::FaceTouching }) {
        std::mt19937 rng(31 + unsigned(kind));
        for (int set = 0; set < 4; ++set)
            for (const float level : { LEVEL, 0.0f, -5.0f }) {
                Iso iso;
                fill(*iso.field, kind, rng);
                iso.pass(level);
                const CubeRows rows = rowsToRescue(*iso.mesher);
                const uint64_t fill = 0.0f >= level ? ~uint64_t(0) : 0u;
                auto plain = [&](int y, int z) {
                    const uint64_t* r = iso.mesher->pointRows.data() + (y + 1) + PR * (z + 1);
                    return r[0] == fill && r[1] == fill && r[PR] == fill && r[PR + 1] == fill;
                };
                for (int z = -1; z < GRID_SIZE; ++z)
                    for (int y = -1; y < GRID_SIZE; ++y) {
                        const bool kept = y >= rows.yLow && y <= rows.yHigh && z >= rows.zLow && z <= rows.zHigh;
                        if (!kept)
                            ASSERT_TRUE(plain(y, z)) << kindName(kind) << " set " << set << " level " << level
                                                     << ": row y " << y << " z " << z;
                        else if (y == rows.yLow || y == rows.yHigh || z == rows.zLow || z == rows.zHigh)
                            edgeRowsUsed += !plain(y, z);
                    }
            }
    }
    EXPECT_GT(edgeRowsUsed, 0);
}

TEST(IsoComplete, TheSeededPassAloneMissesWhatTheRescueFinds)
{
    // The same kinds of set, meshed with the seeded flood only: each kind
    // really loses pieces there, so the comparison above is not vacuous.
    for (Kind kind : { Kind::TinyBalls, Kind::OutsideCentres, Kind::NegativeCuts, Kind::WeakPairs,
                       Kind::HalfWeakSegments }) {
        std::mt19937 rng(7 + unsigned(kind));
        size_t missing = 0;
        for (int set = 0; set < 6; ++set) {
            Iso iso;
            fill(*iso.field, kind, rng);
            iso.mesher->completeSurface = false;
            const size_t seeded = countMesh(iso.pass()).components;
            iso.mesher->completeSurface = true;
            const size_t complete = countMesh(iso.pass()).components;
            EXPECT_GE(complete, seeded);
            missing += complete - seeded;
        }
        EXPECT_GT(missing, 0u) << kindName(kind);
    }
}

TEST(IsoComplete, ABallCutByANegativeSlabGivesTwoClosedPieces)
{
    Iso iso;
    placeBall(*iso.field, 0, makeBall(Float3(30.3f, 31.7f, 32.2f), RED, 20.0f, 14.0f));
    // A plate of strength -80 in the plane x = 31, across the whole ball:
    // parallel bars along y, 1.5 apart in z.
    for (uint32_t i = 0; i < 17; ++i) {
        const float z = 20.0f + 1.5f * float(i);
        placeSegment(*iso.field, i, makeSegment(Float3(31.0f, 18.0f, z), BLUE, -80.0f, Float3(31.0f, 46.0f, z), BLUE,
                                                -80.0f, 2.5f));
    }
    iso.pass();
    iso.reference->run(*iso.field, LEVEL);
    EXPECT_EQ(countMesh(iso.reference->mesh()).components, 2u) << "the cut really leaves two pieces";
    expectSameAsFullGrid(iso, LEVEL, "cut ball");
    EXPECT_EQ(countMesh(iso.mesher->meshes[0]).components, 2u);
    // The ball's truncated centre lies in the plate, so no piece had a seed.
    EXPECT_EQ(iso.mesher->rescuedFloods, 2u);
}

TEST(IsoComplete, ABallCentredOnEachFaceGivesAClosedCappedHalf)
{
    for (int axis = 0; axis < 3; ++axis)
        for (int side = 0; side < 2; ++side) {
            Iso iso;
            Float3 c(31.3f, 32.6f, 30.8f);
            c[axis] = side ? 64.0f : 0.0f;
            placeBall(*iso.field, 0, makeBall(c, RED, 20.0f, 12.0f));
            const IsoMesh& mesh = iso.pass();
            const std::string what = "axis " + std::to_string(axis) + (side ? " far" : " near");
            ASSERT_FALSE(mesh.indices.empty()) << what;
            EXPECT_EQ(countMesh(mesh).components, 1u) << what;
            EXPECT_EQ(unpairedEdges(mesh), 0u) << what << ": closed, capped at the face";
            // The cap lies within one unit outside the face.
            for (const IsoVertex& v : mesh.vertices) {
                EXPECT_GE(v.position[axis], -1.0f) << what;
                EXPECT_LE(v.position[axis], 64.0f) << what;
            }
            expectSameAsFullGrid(iso, LEVEL, what);
        }
}

TEST(IsoComplete, NearFaceVerticesNeverUseTheSpareCell)
{
    Iso iso;
    placeBall(*iso.field, 0, makeBall(Float3(0.4f, 0.3f, 0.2f), RED, 20.0f, 10.0f));
    const IsoMesh& mesh = iso.pass();
    ASSERT_FALSE(mesh.indices.empty());
    const GridCell& spare = iso.mesher->spare;
    EXPECT_EQ(spare.edgeVertex[0], NO_VERTEX);
    EXPECT_EQ(spare.edgeVertex[1], NO_VERTEX);
    EXPECT_EQ(spare.edgeVertex[2], NO_VERTEX);
    EXPECT_EQ(spare.value, 0.0f);
    // The edge from (-1, 0, 0) to (0, 0, 0) has its vertex in the near slots,
    // and edgeVertexIndex finds it.
    const uint16_t v = edgeVertexIndex(*iso.mesher, GridPoint{ -1, 0, 0 }, GridPoint{ 0, 0, 0 });
    ASSERT_LT(v, mesh.vertices.size());
    EXPECT_GT(mesh.vertices[v].position.x, -1.0f);
    EXPECT_LT(mesh.vertices[v].position.x, 0.0f);
    EXPECT_EQ(v, nearEdgeVertex(*iso.mesher, GridPoint{ -1, 0, 0 }, 0));
    // A later pass without the ball has no such vertex.
    placeBall(*iso.field, 0, makeBall(Float3(32, 32, 32), RED, 20.0f, 10.0f));
    iso.pass();
    EXPECT_EQ(nearEdgeVertex(*iso.mesher, GridPoint{ -1, 0, 0 }, 0), NO_VERTEX);
}

// --- Configurations from the point rows ---------------------------------------------

// One pass's seeded flood: with its blocks classified first, the flood reads
// the cubes' configurations from the point rows; without, from the values.
IsoMesh seededFlood(Iso& iso, float level, bool classified)
{
    beginPass(*iso.mesher);
    if (classified)
        classifyBlocks(*iso.mesher, level);
    polygonize(*iso.mesher, seedSurface(*iso.mesher, *iso.field, level), level);
    return iso.mesher->meshes[iso.mesher->current];
}

bool sameMesh(const IsoMesh& a, const IsoMesh& b)
{
    // (memcmp must not see the null data of an empty mesh.)
    return a.indices == b.indices && a.vertices.size() == b.vertices.size() &&
           (a.vertices.empty() ||
            std::memcmp(a.vertices.data(), b.vertices.data(), a.vertices.size() * sizeof(IsoVertex)) == 0);
}

TEST(IsoComplete, ConfigurationsFromThePointRowsGiveTheSameMeshVertexForVertex)
{
    // Pieces at every face, cut pieces, pieces from outside the lattice:
    // the same vertices in the same order, the same triangles.
    for (Kind kind : { Kind::FaceTouching, Kind::NegativeCuts, Kind::OutsideCentres, Kind::HalfWeakSegments }) {
        std::mt19937 rng(11 + unsigned(kind));
        size_t triangles = 0;
        for (int set = 0; set < 3; ++set) {
            Iso iso;
            fill(*iso.field, kind, rng);
            const IsoMesh fromValues = seededFlood(iso, LEVEL, false);
            // Both copies of the rows' flood: the plain one, and where the
            // processor has them the one for AVX2 and the bit sets.
            const bool bmi = iso.mesher->bmiFlood;
            for (const bool copy : { false, true }) {
                if (copy && !bmi)
                    continue;
                iso.mesher->bmiFlood = copy;
                const IsoMesh fromRows = seededFlood(iso, LEVEL, true);
                EXPECT_TRUE(sameMesh(fromRows, fromValues)) << kindName(kind) << " set " << set << (copy ? " bmi" : "");
                triangles += fromRows.indices.size() / 3;
            }
            iso.mesher->bmiFlood = bmi;
        }
        EXPECT_GT(triangles, 1000u) << kindName(kind) << ": the seeds reach surface";
    }
}

TEST(IsoComplete, ALevelAtOrBelowZeroTakesTheOutsideAsInside)
{
    // The zeros outside the lattice are then inside the surface: a negative
    // ball on a face opens a hole there, capped at -1 or 64.
    for (const float level : { 0.0f, -5.0f })
        for (int axis = 0; axis < 3; ++axis)
            for (int side = 0; side < 2; ++side) {
                Iso iso;
                Float3 c(30.6f, 33.2f, 31.7f);
                c[axis] = side ? 63.6f : 0.3f;
                placeBall(*iso.field, 0, makeBall(c, RED, -20.0f, 9.0f));
                const std::string what = "level " + std::to_string(level) + " axis " + std::to_string(axis) +
                                         (side ? " far" : " near");
                ASSERT_FALSE(iso.pass(level).indices.empty()) << what;
                expectSameAsFullGrid(iso, level, what);
            }
}

// --- The block bounds ------------------------------------------------------------------

TEST(IsoComplete, BlockBoundsHoldEveryPointsValue)
{
    // Whatever the bounds skip cannot hold a crossing: every point's value
    // lies within its block's bounds, for every kind of set and source.
    std::mt19937 rng(99);
    size_t checkedBlocks = 0, tightBlocks = 0;
    for (Kind kind : { Kind::TinyBalls, Kind::OutsideCentres, Kind::NegativeCuts, Kind::WeakPairs,
                       Kind::HalfWeakSegments, Kind::FaceTouching }) {
        Iso iso;
        fill(*iso.field, kind, rng);
        iso.pass();
        for (int b = 0; b < BLOCK_COUNT; ++b) {
            float lo, hi;
            blockBounds(*iso.mesher, b, lo, hi);
            const int bx = b % BLOCKS_PER_AXIS, by = (b / BLOCKS_PER_AXIS) % BLOCKS_PER_AXIS,
                      bz = b / (BLOCKS_PER_AXIS * BLOCKS_PER_AXIS);
            float least = INFINITY, most = -INFINITY;
            for (int z = 0; z < BLOCK_SIZE; ++z)
                for (int y = 0; y < BLOCK_SIZE; ++y)
                    for (int x = 0; x < BLOCK_SIZE; ++x) {
                        const float v = fieldValue(*iso.mesher, GridPoint{ bx * BLOCK_SIZE + x, by * BLOCK_SIZE + y,
                                                                            bz * BLOCK_SIZE + z });
                        least = std::fmin(least, v);
                        most = std::fmax(most, v);
                    }
            ASSERT_LE(lo, least) << kindName(kind) << " block " << b;
            ASSERT_GE(hi, most) << kindName(kind) << " block " << b;
            ++checkedBlocks;
            // Not vacuous: most bounds of blocks with sources stay close.
            if (hi - lo < 2.0f * (most - least) + 1.0f)
                ++tightBlocks;
        }
    }
    EXPECT_GT(tightBlocks, checkedBlocks / 2);
}

// A pass's block classes, point rows and mesh do not depend on what the
// passes before it classified: blocks reached then and not now, all blocks
// empty, levels on either side of 0 (where the outside's class flips).
TEST(IsoComplete, APassClassifiesAsAFreshMesherWhateverCameBefore)
{
    std::mt19937 rng(7);
    Iso iso;
    const std::pair<Kind, float> steps[] = { { Kind::TinyBalls, LEVEL },     { Kind::FaceTouching, LEVEL },
                                             { Kind::NegativeCuts, -5.0f },  { Kind::NegativeCuts, 0.0f },
                                             { Kind::OutsideCentres, LEVEL }, { Kind::WeakPairs, LEVEL } };
    for (int round = 0; round < 2; ++round)
        for (const auto& [kind, level] : steps) {
            SCOPED_TRACE(testing::Message() << kindName(kind) << " at " << level << ", round " << round);
            disableAllSources(*iso.field);
            if (round == 0)
                fill(*iso.field, kind, rng);   // the second round: nothing at all
            const IsoMesh& mesh = iso.pass(level);
            auto fresh = std::make_unique<IsoMesher>(iso.field.get());
            const IsoMesh& expected = runIsoPass(*fresh, level);
            EXPECT_EQ(iso.mesher->rescueMixedBlocks, fresh->rescueMixedBlocks);
            EXPECT_TRUE(iso.mesher->paddedClass == fresh->paddedClass);
            EXPECT_TRUE(iso.mesher->paddedMask == fresh->paddedMask);
            EXPECT_TRUE(iso.mesher->pointRows == fresh->pointRows);
            ASSERT_EQ(mesh.vertices.size(), expected.vertices.size());
            EXPECT_TRUE(mesh.vertices.empty() ||
                        std::memcmp(mesh.vertices.data(), expected.vertices.data(), mesh.vertices.size() * sizeof(IsoVertex)) == 0);
            EXPECT_EQ(mesh.indices, expected.indices);
            EXPECT_EQ(mesh.vertices.empty(), round == 1);
        }
}

TEST(IsoComplete, RescuedPiecesStopAtTheVertexCap)
{
    // Many tiny balls whose centres do not seed: nearly the whole surface is
    // found by the rescue, and it needs more than 65,535 vertices.
    Iso iso;
    uint32_t index = 0;
    for (int k = 0; k < 13; ++k)
        for (int j = 0; j < 13; ++j)
            for (int i = 0; i < 13; ++i)
                placeBall(*iso.field, index++,
                          makeBall(Float3(2.6f + 4.7f * i, 2.6f + 4.7f * j, 2.6f + 4.7f * k), RED, 30.0f, 2.6f));
    iso.reference->run(*iso.field, LEVEL);
    ASSERT_GT(iso.reference->crossedEdges(), MAX_MESH_VERTICES);
    const IsoMesh& mesh = iso.pass();
    EXPECT_GT(iso.mesher->rescuedFloods, 0u);
    EXPECT_EQ(mesh.vertices.size(), MAX_MESH_VERTICES);
    EXPECT_TRUE(indicesInRange(mesh));
    EXPECT_EQ(mesh.indices.size() % 3, 0u);
}

// --- The show's scenes -------------------------------------------------------------------

// Scenes 2 to 10 over their length in the show, every 1.5 s of effect
// time: no frame misses a piece; where the seeded pass missed nothing and no
// surface reaches a near face, the mesh is the seeded pass's, byte for byte.
// (tools/isomesh --sweep runs the same check every tenth of a second.)
TEST(IsoComplete, ScenesMissNoPieceAndKeepTheSeededMeshWhereItWasWhole)
{
    destroyParticles(particleSystem);
    useSeededParticleRandom(1);
    auto iso = std::make_unique<IsoSurface>();
    auto seeded = std::make_unique<IsoMesher>(&iso->field);
    seeded->completeSurface = false;
    auto reference = std::make_unique<FullGridMesher>();
    size_t frames = 0, identical = 0, rescued = 0;
    for (int scene = 2; scene <= 10; ++scene) {
        IsoSceneRun run;
        startIsoScene(run, *iso, scene);
        const float length = SHOW_STEP_SCALE * DEFAULT_PATH_DURATIONS[scene];
        for (float t = 0.0f; t <= length; t += 1.5f) {
            advanceIsoScene(run, *iso, t);
            const IsoMesh& mesh = iso->mesher.meshes[iso->mesher.current];
            const MeshCounts mine = countMesh(mesh);
            const MeshCounts full = countMesh(reference->run(iso->field, iso->isoLevel));
            ASSERT_EQ(mine.components, full.components) << "scene " << scene << " t " << t;
            ASSERT_EQ(mine.triangles, full.triangles) << "scene " << scene << " t " << t;
            ++frames;
            const IsoMesh& old = runIsoPass(*seeded, iso->isoLevel);
            bool nearFace = false;
            for (const IsoVertex& v : mesh.vertices)
                nearFace = nearFace || v.position.x < 0.0f || v.position.y < 0.0f || v.position.z < 0.0f;
            if (countMesh(old).components == full.components && !nearFace) {
                ASSERT_EQ(old.indices, mesh.indices) << "scene " << scene << " t " << t;
                ASSERT_EQ(old.vertices.size(), mesh.vertices.size());
                ASSERT_EQ(std::memcmp(old.vertices.data(), mesh.vertices.data(), mesh.vertices.size() * sizeof(IsoVertex)),
                          0)
                    << "scene " << scene << " t " << t;
                ++identical;
            } else {
                ++rescued;
            }
        }
    }
    EXPECT_GT(identical, frames / 2) << "most frames keep the seeded mesh";
    EXPECT_GT(rescued, 0u) << "and some frames needed the rescue or the near-face caps";
    // The particle system and its random source are the program's: leave them
    // as a fresh process has them.
    destroyParticles(particleSystem);
    setParticleRandom(nullptr);
}

} // namespace
