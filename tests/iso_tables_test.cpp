// tests/iso_tables_test.cpp: the polygonizer's tables, checked from first
// principles (cube geometry and the definition of a rotation), not against
// copies of themselves.
#include "iso/IsoTables.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace {

// Corner i's offset bits, recomputed.
int bitOf(int corner, int axis) { return (corner >> axis) & 1; }

// Whether corners a and b differ on exactly one axis.
bool adjacent(int a, int b)
{
    const int d = a ^ b;
    return d == 1 || d == 2 || d == 4;
}

// Rotation j applied to configuration c, straight from the definition:
// bit (7 - k) of c goes to bit ROTATIONS[j][k].
unsigned rotated(unsigned c, int j)
{
    unsigned r = 0;
    for (int k = 0; k < 8; ++k)
        if ((c >> (7 - k)) & 1)
            r |= 1u << ROTATIONS[j][k];
    return r;
}

int classOfPattern(unsigned pattern)
{
    for (int k = 0; k < CLASS_COUNT; ++k)
        if (CANONICAL_CASES[k] == pattern)
            return k;
    return -1;
}

} // namespace

TEST(IsoTables, CornerOffsetsAndEdgesDescribeTheUnitCube)
{
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(CORNER_OFFSETS[i].x, bitOf(i, 0));
        EXPECT_EQ(CORNER_OFFSETS[i].y, bitOf(i, 1));
        EXPECT_EQ(CORNER_OFFSETS[i].z, bitOf(i, 2));
    }
    std::set<std::pair<int, int>> seen;
    for (int e = 0; e < 12; ++e) {
        const int a = EDGES[e].a, b = EDGES[e].b;
        ASSERT_TRUE(adjacent(a, b)) << "edge " << e;
        EXPECT_LT(a, b) << "edge " << e << " runs from the lower corner";
        const int axis = (a ^ b) == 1 ? 0 : ((a ^ b) == 2 ? 1 : 2);
        EXPECT_EQ(EDGE_AXIS[e], axis) << "edge " << e;
        EXPECT_TRUE(seen.insert({ a, b }).second) << "edge " << e << " repeated";
    }
    EXPECT_EQ(seen.size(), 12u);
}

TEST(IsoTables, RotationsAreTheTwentyFourRigidRotations)
{
    std::set<std::vector<int>> rows;
    for (int j = 0; j < ROTATION_COUNT; ++j) {
        // Cube corner i goes to corner m[i] = ROTATIONS[j][7 - i].
        std::vector<int> m(8);
        std::set<int> image;
        for (int i = 0; i < 8; ++i) {
            m[i] = ROTATIONS[j][7 - i];
            image.insert(m[i]);
        }
        ASSERT_EQ(image.size(), 8u) << "row " << j << " is not a permutation";
        for (int a = 0; a < 8; ++a)
            for (int b = 0; b < 8; ++b)
                if (adjacent(a, b)) {
                    EXPECT_TRUE(adjacent(m[a], m[b])) << "row " << j << " breaks edge " << a << "-" << b;
                }
        // A rotation keeps handedness: the three edges at corner 0 map to
        // axis steps whose determinant is +1.
        int axes[3][3] = {};
        for (int k = 0; k < 3; ++k) {
            const int from = m[0], to = m[1 << k];
            for (int t = 0; t < 3; ++t)
                axes[k][t] = bitOf(to, t) - bitOf(from, t);
        }
        const int det = axes[0][0] * (axes[1][1] * axes[2][2] - axes[1][2] * axes[2][1]) -
                        axes[0][1] * (axes[1][0] * axes[2][2] - axes[1][2] * axes[2][0]) +
                        axes[0][2] * (axes[1][0] * axes[2][1] - axes[1][1] * axes[2][0]);
        EXPECT_EQ(det, 1) << "row " << j << " is a reflection";
        rows.insert(m);
    }
    EXPECT_EQ(rows.size(), 24u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(ROTATIONS[0][7 - i], i) << "row 0 is the identity";
}

TEST(IsoTables, CanonicalPatternsAreOneOfEachRotationClass)
{
    int covered = 0;
    for (int k = 0; k < CLASS_COUNT; ++k) {
        std::set<unsigned> orbit;
        for (int j = 0; j < ROTATION_COUNT; ++j)
            orbit.insert(rotated(CANONICAL_CASES[k], j));
        for (int other = 0; other < CLASS_COUNT; ++other)
            if (other != k) {
                EXPECT_EQ(orbit.count(CANONICAL_CASES[other]), 0u) << "classes " << k << " and " << other;
            }
        covered += static_cast<int>(orbit.size());
    }
    EXPECT_EQ(covered, 256);
}

TEST(IsoTables, EveryConfigurationHasAClassAndItsLowestRotation)
{
    for (unsigned c = 0; c < 256; ++c) {
        const CaseEntry e = CASE_TABLE.entries[c];
        ASSERT_LT(e.caseClass, CLASS_COUNT) << "configuration " << c;
        ASSERT_LT(e.rotation, ROTATION_COUNT) << "configuration " << c;
        EXPECT_EQ(rotated(c, e.rotation), CANONICAL_CASES[e.caseClass]) << "configuration " << c;
        for (int j = 0; j < e.rotation; ++j)
            EXPECT_EQ(classOfPattern(rotated(c, j)), -1) << "configuration " << c << " rotation " << j;
    }
    EXPECT_EQ(CASE_TABLE.entries[0].caseClass, 0);
    EXPECT_EQ(CASE_TABLE.entries[255].caseClass, 22);
}

TEST(IsoTables, ClassTrianglesUseExactlyTheEdgesWhoseCornersDiffer)
{
    for (int k = 0; k < CLASS_COUNT; ++k) {
        const unsigned pattern = CANONICAL_CASES[k];
        std::set<std::pair<int, int>> crossing;
        for (int a = 0; a < 8; ++a)
            for (int b = a + 1; b < 8; ++b)
                if (adjacent(a, b) && ((pattern >> a) & 1) != ((pattern >> b) & 1))
                    crossing.insert({ a, b });
        std::set<std::pair<int, int>> used;
        const ClassTriangles& list = CLASS_TRIANGLES[k];
        for (int t = 0; t < list.count; ++t) {
            std::set<std::pair<int, int>> inTriangle;
            for (const CornerPair& p : list.triangles[t]) {
                ASSERT_TRUE(adjacent(p.a, p.b)) << "class " << k << " names a non-edge";
                const std::pair<int, int> edge{ std::min(p.a, p.b), std::max(p.a, p.b) };
                used.insert(edge);
                inTriangle.insert(edge);
            }
            EXPECT_EQ(inTriangle.size(), 3u) << "class " << k << " triangle " << t << " is degenerate";
        }
        EXPECT_EQ(used, crossing) << "class " << k;
    }
    EXPECT_EQ(CLASS_TRIANGLES[0].count, 0);
    EXPECT_EQ(CLASS_TRIANGLES[22].count, 0);
    EXPECT_EQ(CLASS_TRIANGLES[3].count, 4);   // face diagonal: one sheet
    EXPECT_EQ(CLASS_TRIANGLES[4].count, 2);   // body diagonal: two corners cut off
}

TEST(IsoTables, PerConfigurationTrianglesAreTheRotatedClassLists)
{
    for (unsigned c = 0; c < 256; ++c) {
        const CaseEntry e = CASE_TABLE.entries[c];
        const ClassTriangles& list = CLASS_TRIANGLES[e.caseClass];
        const CubeTriangles& mine = CUBE_TRIANGLES.configurations[c];
        ASSERT_EQ(mine.count, list.count) << "configuration " << c;
        for (int t = 0; t < list.count; ++t) {
            for (int v = 0; v < 3; ++v) {
                // Canonical corner ROTATIONS[j][7 - i] is cube corner i.
                int ca = -1, cb = -1;
                for (int i = 0; i < 8; ++i) {
                    if (ROTATIONS[e.rotation][7 - i] == list.triangles[t][v].a)
                        ca = i;
                    if (ROTATIONS[e.rotation][7 - i] == list.triangles[t][v].b)
                        cb = i;
                }
                const CubeEdge edge = EDGES[mine.edges[t * 3 + v]];
                EXPECT_TRUE((edge.a == ca && edge.b == cb) || (edge.a == cb && edge.b == ca))
                    << "configuration " << c << " triangle " << t;
                // The edge crosses the surface in this configuration.
                EXPECT_NE((c >> edge.a) & 1, (c >> edge.b) & 1) << "configuration " << c;
            }
        }
    }
}
