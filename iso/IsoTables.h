// iso/IsoTables.h: the constant tables of the marching-cubes polygonizer.
// Owns the cube's corner and edge numbering, the seed steps, the 24 cube
// rotations, the 23 rotation classes with their triangle lists, the case table
// (class and rotation of each of the 256 corner configurations) and the
// per-configuration triangle lists derived from it. Everything is constexpr and
// built at compile time, so no table depends on start-up order. No GL.
//
// Sections:
//   --- Corners and edges ---
//   --- Rotations and classes ---
//   --- Class triangle lists ---
//   --- Case table ---
//   --- Crossed edges ---
//   --- Per-configuration triangles ---
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

// --- Corners and edges -----------------------------------------------------------
// Corner i of a cube sits at offset (i & 1, (i >> 1) & 1, (i >> 2) & 1) from the
// cube's lowest lattice corner. Bit i of a configuration is set when the field at
// corner i is at or above the threshold (the corner is inside).

struct CornerOffset {
    int8_t x, y, z;
};

constexpr CornerOffset CORNER_OFFSETS[] = {
    { 0, 0, 0 },   // 0
    { 1, 0, 0 },   // 1
    { 0, 1, 0 },   // 2
    { 1, 1, 0 },   // 3
    { 0, 0, 1 },   // 4
    { 1, 0, 1 },   // 5
    { 0, 1, 1 },   // 6
    { 1, 1, 1 },   // 7
};
static_assert(std::size(CORNER_OFFSETS) == 8);

// Edge e runs from corner a to corner b = a + one unit step; the vertex of the
// edge lives in corner a's edge slot EDGE_AXIS[e] (0 = +x, 1 = +y, 2 = +z).
struct CubeEdge {
    uint8_t a, b;   // corner numbers
};

constexpr CubeEdge EDGES[] = {
    { 0, 1 },   //  0  (0,0,0)-(1,0,0)
    { 0, 2 },   //  1  (0,0,0)-(0,1,0)
    { 1, 3 },   //  2  (1,0,0)-(1,1,0)
    { 2, 3 },   //  3  (0,1,0)-(1,1,0)
    { 0, 4 },   //  4  (0,0,0)-(0,0,1)
    { 1, 5 },   //  5  (1,0,0)-(1,0,1)
    { 2, 6 },   //  6  (0,1,0)-(0,1,1)
    { 3, 7 },   //  7  (1,1,0)-(1,1,1)
    { 4, 5 },   //  8  (0,0,1)-(1,0,1)
    { 4, 6 },   //  9  (0,0,1)-(0,1,1)
    { 5, 7 },   // 10  (1,0,1)-(1,1,1)
    { 6, 7 },   // 11  (0,1,1)-(1,1,1)
};
static_assert(std::size(EDGES) == 12);

constexpr uint8_t EDGE_AXIS[] = {
    0, 1, 1, 0,   // edges 0-3
    2, 2, 2, 2,   // edges 4-7
    0, 1, 1, 0,   // edges 8-11
};
static_assert(std::size(EDGE_AXIS) == 12);

// The seed march: first towards +x, then towards -x.
constexpr CornerOffset SEED_STEPS[] = {
    { +1, 0, 0 },
    { -1, 0, 0 },
};
static_assert(std::size(SEED_STEPS) == 2);

// --- Rotations and classes ---------------------------------------------------------
// Applying rotation j to configuration c moves bit (7 - k) of c to bit
// ROTATIONS[j][k]. Row 0 is the identity.

constexpr int ROTATION_COUNT = 24;
constexpr uint8_t ROTATIONS[][8] = {
    { 7, 6, 5, 4, 3, 2, 1, 0 },   //  0
    { 3, 2, 7, 6, 1, 0, 5, 4 },   //  1
    { 1, 0, 3, 2, 5, 4, 7, 6 },   //  2
    { 5, 4, 1, 0, 7, 6, 3, 2 },   //  3
    { 6, 2, 4, 0, 7, 3, 5, 1 },   //  4
    { 2, 3, 0, 1, 6, 7, 4, 5 },   //  5
    { 3, 7, 1, 5, 2, 6, 0, 4 },   //  6
    { 5, 7, 4, 6, 1, 3, 0, 2 },   //  7
    { 4, 5, 6, 7, 0, 1, 2, 3 },   //  8
    { 6, 4, 7, 5, 2, 0, 3, 1 },   //  9
    { 2, 0, 6, 4, 3, 1, 7, 5 },   // 10
    { 0, 1, 4, 5, 2, 3, 6, 7 },   // 11
    { 1, 3, 5, 7, 0, 2, 4, 6 },   // 12
    { 0, 4, 2, 6, 1, 5, 3, 7 },   // 13
    { 5, 1, 7, 3, 4, 0, 6, 2 },   // 14
    { 4, 6, 0, 2, 5, 7, 1, 3 },   // 15
    { 6, 7, 2, 3, 4, 5, 0, 1 },   // 16
    { 7, 5, 3, 1, 6, 4, 2, 0 },   // 17
    { 7, 3, 6, 2, 5, 1, 4, 0 },   // 18
    { 3, 1, 2, 0, 7, 5, 6, 4 },   // 19
    { 1, 5, 0, 4, 3, 7, 2, 6 },   // 20
    { 4, 0, 5, 1, 6, 2, 7, 3 },   // 21
    { 0, 2, 1, 3, 4, 6, 5, 7 },   // 22
    { 2, 6, 3, 7, 0, 4, 1, 5 },   // 23
};
static_assert(std::size(ROTATIONS) == ROTATION_COUNT);

// The pattern of each class; class 0 is empty, class 22 is full.
constexpr int CLASS_COUNT = 23;
constexpr uint8_t CANONICAL_CASES[] = {
      0,  16,  48, 144,  24,   // classes 0-4
     35,  56, 104,  51,  23,   // classes 5-9
     90,  27,  99, 150,  39,   // classes 10-14
    151, 199, 220, 231, 111,   // classes 15-19
    207, 239, 255,             // classes 20-22
};
static_assert(std::size(CANONICAL_CASES) == CLASS_COUNT);

// Rotation j applied to configuration c.
constexpr uint8_t rotateConfiguration(uint8_t c, int j)
{
    unsigned r = 0;
    for (int k = 0; k < 8; ++k)
        if (c & (1u << (7 - k)))
            r |= 1u << ROTATIONS[j][k];
    return static_cast<uint8_t>(r);
}

// --- Class triangle lists --------------------------------------------------------------
// Triangles in canonical corner numbers: each vertex is the edge between two
// corners, and the three vertex indices are appended in the order listed.
// Winding is not consistent between classes; the mesh is drawn without culling.

struct CornerPair {
    uint8_t a, b;
};

constexpr int MAX_CLASS_TRIANGLES = 5;

struct ClassTriangles {
    uint8_t    count;
    CornerPair triangles[MAX_CLASS_TRIANGLES][3];
};

constexpr ClassTriangles CLASS_TRIANGLES[] = {
    { 0, {} },                                                                      //  0: none inside
    { 1, { { {4,5}, {4,6}, {0,4} } } },                                              //  1: 16
    { 2, { { {4,6}, {0,4}, {5,7} }, { {0,4}, {1,5}, {5,7} } } },                      //  2: 48
    { 4, { { {4,6}, {0,4}, {6,7} }, { {6,7}, {0,4}, {3,7} },                          //  3: 144
           { {3,7}, {0,4}, {5,7} }, { {5,7}, {0,4}, {4,5} } } },
    { 2, { { {0,4}, {4,5}, {4,6} }, { {3,7}, {1,3}, {2,3} } } },                      //  4: 24
    { 3, { { {4,5}, {0,4}, {5,7} }, { {0,4}, {0,2}, {5,7} },                          //  5: 35
           { {5,7}, {0,2}, {1,3} } } },
    { 5, { { {4,6}, {5,7}, {3,7} }, { {4,6}, {3,7}, {2,3} },                          //  6: 56
           { {4,6}, {2,3}, {0,4} }, { {0,4}, {2,3}, {1,3} },
           { {0,4}, {1,3}, {1,5} } } },
    { 5, { { {6,7}, {5,7}, {3,7} }, { {4,6}, {2,6}, {4,5} },                          //  7: 104
           { {4,5}, {2,6}, {2,3} }, { {4,5}, {2,3}, {1,5} },
           { {1,5}, {2,3}, {1,3} } } },
    { 2, { { {4,6}, {1,3}, {0,2} }, { {4,6}, {5,7}, {1,3} } } },                      //  8: 51
    { 4, { { {2,6}, {4,6}, {2,3} }, { {4,6}, {4,5}, {2,3} },                          //  9: 23
           { {4,5}, {1,3}, {2,3} }, { {4,5}, {1,5}, {1,3} } } },
    { 4, { { {0,4}, {2,6}, {6,7} }, { {0,4}, {6,7}, {4,5} },                          // 10: 90
           { {0,1}, {3,7}, {2,3} }, { {0,1}, {1,5}, {3,7} } } },
    { 4, { { {4,5}, {0,2}, {4,6} }, { {4,5}, {3,7}, {0,2} },                          // 11: 27
           { {0,2}, {3,7}, {2,3} }, { {4,5}, {1,5}, {3,7} } } },
    { 4, { { {4,6}, {2,6}, {6,7} }, { {4,5}, {5,7}, {0,4} },                          // 12: 99
           { {0,4}, {5,7}, {0,2} }, { {5,7}, {1,3}, {0,2} } } },
    { 4, { { {0,4}, {4,6}, {4,5} }, { {1,5}, {1,3}, {0,1} },                          // 13: 150
           { {0,2}, {2,3}, {2,6} }, { {5,7}, {6,7}, {3,7} } } },
    { 4, { { {0,4}, {4,5}, {2,6} }, { {4,5}, {1,3}, {2,6} },                          // 14: 39
           { {2,6}, {1,3}, {2,3} }, { {4,5}, {5,7}, {1,3} } } },
    { 3, { { {4,6}, {6,7}, {2,6} }, { {4,5}, {1,5}, {5,7} },                          // 15: 151
           { {2,3}, {3,7}, {1,3} } } },
    { 3, { { {0,4}, {5,7}, {4,6} }, { {0,4}, {1,5}, {5,7} },                          // 16: 199
           { {2,3}, {3,7}, {1,3} } } },
    { 3, { { {0,4}, {4,5}, {5,7} }, { {0,2}, {0,4}, {5,7} },                          // 17: 220
           { {0,2}, {5,7}, {1,3} } } },
    { 2, { { {4,5}, {0,4}, {4,6} }, { {3,7}, {1,3}, {2,3} } } },                      // 18: 231
    { 2, { { {4,5}, {0,4}, {4,6} }, { {6,7}, {5,7}, {3,7} } } },                      // 19: 111
    { 2, { { {4,6}, {0,4}, {5,7} }, { {0,4}, {1,5}, {5,7} } } },                      // 20: 207
    { 1, { { {4,5}, {0,4}, {4,6} } } },                                              // 21: 239
    { 0, {} },                                                                      // 22: all inside
};
static_assert(std::size(CLASS_TRIANGLES) == CLASS_COUNT);

// --- Case table --------------------------------------------------------------------------
// For each configuration: its class and the lowest-numbered rotation that maps
// it onto the class pattern. 255 marks "not found"; buildCaseTable's check below
// proves that no entry keeps it.

constexpr uint8_t CASE_NOT_FOUND = 255;

struct CaseEntry {
    uint8_t caseClass = CASE_NOT_FOUND;
    uint8_t rotation  = CASE_NOT_FOUND;
};

struct CaseTable {
    CaseEntry entries[256] = {};
};

// For each configuration c, each rotation j in order, each class in order: the
// first (class, j) whose pattern equals c rotated by j.
constexpr CaseTable buildCaseTable()
{
    CaseTable table{};
    for (int c = 0; c < 256; ++c) {
        bool found = false;
        for (int j = 0; j < ROTATION_COUNT && !found; ++j) {
            const uint8_t r = rotateConfiguration(static_cast<uint8_t>(c), j);
            for (int k = 0; k < CLASS_COUNT; ++k) {
                if (r == CANONICAL_CASES[k]) {
                    table.entries[c].caseClass = static_cast<uint8_t>(k);
                    table.entries[c].rotation  = static_cast<uint8_t>(j);
                    found = true;
                    break;
                }
            }
        }
    }
    return table;
}

inline constexpr CaseTable CASE_TABLE = buildCaseTable();

constexpr bool caseTableComplete(const CaseTable& table)
{
    for (const CaseEntry& e : table.entries)
        if (e.caseClass == CASE_NOT_FOUND || e.rotation == CASE_NOT_FOUND)
            return false;
    return true;
}
static_assert(caseTableComplete(CASE_TABLE), "every configuration has a class");

// --- Crossed edges ------------------------------------------------------------------------
// For each configuration, bit e set when cube edge e joins an inside and an
// outside corner (the edges that carry a vertex).
constexpr uint16_t crossedEdgesOf(int c)
{
    uint16_t mask = 0;
    for (int e = 0; e < 12; ++e)
        if (((c >> EDGES[e].a) & 1) != ((c >> EDGES[e].b) & 1))
            mask = static_cast<uint16_t>(mask | (1u << e));
    return mask;
}

struct CrossedEdgeTable {
    uint16_t masks[256] = {};
};

constexpr CrossedEdgeTable buildCrossedEdgeTable()
{
    CrossedEdgeTable table{};
    for (int c = 0; c < 256; ++c)
        table.masks[c] = crossedEdgesOf(c);
    return table;
}

inline constexpr CrossedEdgeTable CROSSED_EDGES = buildCrossedEdgeTable();

// --- Per-configuration triangles -------------------------------------------------------
// The class triangle lists rotated back onto each configuration's own cube and
// written as cube edge numbers 0..11. For a cube q of configuration c,
// canonical corner ROTATIONS[j][7 - i] is the lattice point q + CORNER_OFFSETS[i],
// so a canonical corner pair maps to a pair of the cube's corners, i.e. to one
// cube edge. Emitting these edges' vertices is exactly emitting the class list
// through that corner map.

struct CubeTriangles {
    uint8_t count = 0;                          // triangles
    uint8_t edges[MAX_CLASS_TRIANGLES * 3] = {};   // three cube edges per triangle
};

struct CubeTriangleTable {
    CubeTriangles configurations[256] = {};
};

constexpr uint8_t EDGE_NOT_FOUND = 255;

// The cube edge joining corners a and b (either order), or EDGE_NOT_FOUND.
constexpr uint8_t cubeEdgeBetween(int a, int b)
{
    for (int e = 0; e < 12; ++e)
        if ((EDGES[e].a == a && EDGES[e].b == b) || (EDGES[e].a == b && EDGES[e].b == a))
            return static_cast<uint8_t>(e);
    return EDGE_NOT_FOUND;
}

constexpr CubeTriangleTable buildCubeTriangleTable()
{
    CubeTriangleTable table{};
    for (int c = 0; c < 256; ++c) {
        const CaseEntry entry = CASE_TABLE.entries[c];
        // latticeCorner[canonical corner] = cube corner
        int latticeCorner[8] = {};
        for (int i = 0; i < 8; ++i)
            latticeCorner[ROTATIONS[entry.rotation][7 - i]] = i;
        const ClassTriangles& list = CLASS_TRIANGLES[entry.caseClass];
        CubeTriangles& out = table.configurations[c];
        out.count = list.count;
        for (int t = 0; t < list.count; ++t)
            for (int v = 0; v < 3; ++v)
                out.edges[t * 3 + v] = cubeEdgeBetween(latticeCorner[list.triangles[t][v].a],
                                                       latticeCorner[list.triangles[t][v].b]);
    }
    return table;
}

inline constexpr CubeTriangleTable CUBE_TRIANGLES = buildCubeTriangleTable();

constexpr bool cubeTrianglesValid(const CubeTriangleTable& table)
{
    for (const CubeTriangles& t : table.configurations)
        for (int i = 0; i < t.count * 3; ++i)
            if (t.edges[i] == EDGE_NOT_FOUND)
                return false;
    return true;
}
static_assert(cubeTrianglesValid(CUBE_TRIANGLES), "rotated corner pairs are cube edges");
