// iso/Mesher.cpp: the surface walk: seeding, the surface flood, triangle
// emission, and the rescue of pieces no seed reached, over the field that
// iso/MesherField.cpp evaluates. This is the demo's per-frame hot path.
//
// Sections:
//   --- Construction ---
//   --- Pass set-up ---
//   --- Seeds ---
//   --- Flood tables ---
//   --- Near faces ---
//   --- Flood ---
//   --- Triangles ---
//   --- Rescue ---
#include "iso/Mesher.h"

#include "iso/IsoTables.h"
#include "iso/MesherLocal.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>

using namespace iso_mesher;

// --- Construction --------------------------------------------------------------------

IsoMesher::IsoMesher(SourceField* field_) : field(field_)
{
    // Every cell starts clean (GridCell's defaults).
    dirtyGroups.assign(size_t(GRID_SIZE) * GRID_SIZE, 0u);
    dirtyRows.reserve(dirtyGroups.size());
    resetCell(spare);
    spare.value = 0.0f;                  // the field outside the lattice
    spareShade.colour = Float3();
    spareShade.gradient = Float3();
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
    paddedSlot.assign(paddedClass.size(), 0u);
    pointRows.assign(size_t(GRID_SIZE + 2) * (GRID_SIZE + 2), 0u);
    visitedRows.assign(size_t(GRID_SIZE + 1) * (GRID_SIZE + 1), 0u);
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    wideRows = __builtin_cpu_supports("avx");
    widestRows = __builtin_cpu_supports("avx512f");
    bmiFlood = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
               __builtin_cpu_supports("abm");
#endif
}

// --- Pass set-up ---------------------------------------------------------------------------

namespace {

// The visitedRows word of cube row (y, z), y and z in -1..63.
inline size_t visitedRow(int32_t y, int32_t z)
{
    return size_t(y + 1) + size_t(GRID_SIZE + 1) * size_t(z + 1);
}

} // namespace

namespace {

// Makes clean again every group of four cells the last pass (or anything
// since) gave values to, except, with `keep`, those it marks in each row
// (keep(row) has bit g set for group g): their cells are about to be
// written whole. No other cell was written.
template <typename Keep>
void resetDirtyGroups(IsoMesher& mesher, Keep keep)
{
    std::vector<uint16_t>& dirty = mesher.dirtyGroups;
    for (const uint16_t row : mesher.dirtyRows) {
        for (unsigned groups = dirty[row] & ~keep(row); groups; groups &= groups - 1) {
            const int g = __builtin_ctz(groups);
            GridCell* group = mesher.cells + size_t(row) * GRID_SIZE + 4 * size_t(g);
            for (int i = 0; i < 4; ++i)
                resetCell(group[i]);
        }
        dirty[row] = 0;
    }
    mesher.dirtyRows.clear();
}

// All of them.
void resetDirtyGroups(IsoMesher& mesher)
{
    resetDirtyGroups(mesher, [](uint16_t) { return 0u; });
}

// beginPass, leaving the cells as the last pass left them when `resetCells`
// is false: classifyBlocks then resets them, and writes most of them anyway.
void startPass(IsoMesher& mesher, bool resetCells)
{
    ++mesher.stamp;
    mesher.resetPending = !resetCells;
    if (resetCells)
        resetDirtyGroups(mesher);
    // The same for the visited bits: only the rows listed hold any.
    for (const uint16_t row : mesher.visitedRowList)
        mesher.visitedRows[row] = 0;
    mesher.visitedRowList.clear();
    // The field's range, kept inside 0..64 so that every cube visited has its
    // visited mark (a bit of visitedRows, or a near-face mark at x = -1).
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
    IsoMesh& mesh = mesher.meshes[mesher.current];
    mesh.vertices.clear();
    mesh.indices.clear();
    buildBlockLists(mesher);
}

} // namespace

void beginPass(IsoMesher& mesher)
{
    startPass(mesher, true);
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

// The x = -1 cube of row (y, z), y and z in -1..63: its near-face mark.
inline size_t nearCubeIndex(const GridPoint& q)
{
    return size_t(q.y + 1) + 65 * size_t(q.z + 1);
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

// Marks the cube visited; false when it already was this pass. Cubes from
// x = 0 have their row's bit, those at x = -1 their near-face mark.
inline bool visitCube(IsoMesher& mesher, const GridPoint& q)
{
    if (q.x >= 0) {
        const size_t at = visitedRow(q.y, q.z);
        uint64_t& row = mesher.visitedRows[at];
        const uint64_t bit = uint64_t(1) << q.x;
        if (row & bit)
            return false;
        if (row == 0)
            mesher.visitedRowList.push_back(static_cast<uint16_t>(at));
        row |= bit;
        return true;
    }
    uint16_t& mark = mesher.nearVisited[nearCubeIndex(q)];
    if (mark == mesher.stamp)
        return false;
    mark = mesher.stamp;
    return true;
}

} // namespace

bool cubeVisited(const IsoMesher& mesher, const GridPoint& q)
{
    if (q.x >= 0)
        return (mesher.visitedRows[visitedRow(q.y, q.z)] >> q.x) & 1u;
    return mesher.nearVisited[nearCubeIndex(q)] == mesher.stamp;
}

uint16_t nearEdgeVertex(const IsoMesher& mesher, const GridPoint& A, int axis)
{
    // Reading only: a slot of another pass has no vertex in this one.
    NearSlot* slot = nearSlotOf(const_cast<IsoMesher&>(mesher), A, axis);
    return slot ? slot->vertex : NO_VERTEX;
}

// --- Flood ----------------------------------------------------------------------------------------

namespace {

// The body of makeEdgeVertex, inlined into the flood.
// Written into `vertex` in place: built elsewhere and copied, the vertex's
// scalar stores would be read back as wider loads the processor cannot
// forward from them.
__attribute__((always_inline)) inline void edgeVertexOf(IsoVertex& vertex, const GridPoint& A, int axis, float vA,
                                                        float vB, const Float3& gA, const Float3& gB,
                                                        const Float3& cA, const Float3& cB, float isoLevel)
{
    const float t = (isoLevel - vA) / (vB - vA);   // vA != vB: they lie on either side

    vertex.position = Float3(float(A.x), float(A.y), float(A.z));
    vertex.position[axis] += t;   // B - A is one unit step along `axis`

    const Float3 n(gA.x + t * (gB.x - gA.x), gA.y + t * (gB.y - gA.y), gA.z + t * (gB.z - gA.z));
    // Tested on the square, which is positive and finite exactly when its
    // root is (it is never negative): the branch need not wait for the root.
    const float lengthSq = n.x * n.x + n.y * n.y + n.z * n.z;
    if (lengthSq > 0.0f && std::isfinite(lengthSq)) {
        const float length = std::sqrt(lengthSq);
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
}

} // namespace

IsoVertex makeEdgeVertex(const GridPoint& A, int axis, float vA, float vB, const Float3& gA, const Float3& gB,
                         const Float3& cA, const Float3& cB, float isoLevel)
{
    IsoVertex vertex;
    edgeVertexOf(vertex, A, axis, vA, vB, gA, gB, cA, cB, isoLevel);
    return vertex;
}

namespace {

// Appends the vertex of cube edge e (corner a inside xor corner b inside) and
// stores its index in `slot`.
__attribute__((always_inline)) inline void addEdgeVertex(IsoMesher& mesher, IsoMesh& mesh, const GridPoint& q, int e,
                                                        GridCell& cellA, GridCell& cellB, float vA, float vB,
                                                        float isoLevel, uint16_t& slot)
{
    const int a = EDGES[e].a;
    const int b = EDGES[e].b;
    const GridPoint A{ q.x + CORNER_OFFSETS[a].x, q.y + CORNER_OFFSETS[a].y, q.z + CORNER_OFFSETS[a].z };
    const GridPoint B{ q.x + CORNER_OFFSETS[b].x, q.y + CORNER_OFFSETS[b].y, q.z + CORNER_OFFSETS[b].z };
    const Float3 gA = gradientOf(mesher, cellA, A);
    const Float3 gB = gradientOf(mesher, cellB, B);
    slot = static_cast<uint16_t>(mesh.vertices.size());
    edgeVertexOf(mesh.vertices.emplace_back(), A, EDGE_AXIS[e], vA, vB, gA, gB, shadeOf(mesher, cellA).colour,
                 shadeOf(mesher, cellB).colour, isoLevel);
}

// Writes the triangles of configuration `config` from `at` on (room for
// MAX_CLASS_TRIANGLES), with edgeVertex[e] the vertex on cube edge e (only
// the edges the configuration crosses are read), and returns their end; a
// triangle with a missing vertex (mesh full) is dropped.
inline uint16_t* writeTriangles(uint16_t* at, uint8_t config, const uint16_t edgeVertex[12])
{
    const CubeTriangles& list = CUBE_TRIANGLES.configurations[config];
    for (int t = 0; t < list.count; ++t) {
        const uint16_t i0 = edgeVertex[list.edges[t * 3]];
        const uint16_t i1 = edgeVertex[list.edges[t * 3 + 1]];
        const uint16_t i2 = edgeVertex[list.edges[t * 3 + 2]];
        if (i0 == NO_VERTEX || i1 == NO_VERTEX || i2 == NO_VERTEX)
            continue;
        at[0] = i0;
        at[1] = i1;
        at[2] = i2;
        at += 3;
    }
    return at;
}

constexpr size_t CUBE_INDICES = 3 * MAX_CLASS_TRIANGLES;   // a cube's most

// Appends the cube's triangles to the mesh.
inline void emitTriangles(IsoMesh& mesh, uint8_t config, const uint16_t edgeVertex[12])
{
    const size_t count = mesh.indices.size();
    mesh.indices.resize(count + CUBE_INDICES);
    uint16_t* first = mesh.indices.data();
    mesh.indices.resize(size_t(writeTriangles(first + count, config, edgeVertex) - first));
}

// A flood's triangles, written through a cursor the flood keeps in a
// register: the mesh's push_back stores its end to memory and loads it
// again at every call, and each such store and load waits for the one
// before (three to a triangle). They join the mesh when the flood ends.
struct FloodTriangles {
    std::vector<uint16_t>& room;   // its size is the room, never the count
    uint16_t* first;
    uint16_t* at;
    uint16_t* last;

    explicit FloodTriangles(std::vector<uint16_t>& r) : room(r)
    {
        constexpr size_t LEAST_ROOM = 4096;
        if (room.size() < LEAST_ROOM)
            room.resize(LEAST_ROOM);
        first = at = room.data();
        last = first + room.size();
    }
    void add(uint8_t config, const uint16_t edgeVertex[12])
    {
        if (size_t(last - at) < CUBE_INDICES) {
            const size_t used = size_t(at - first);
            room.resize(2 * room.size());
            first = room.data();
            at = first + used;
            last = first + room.size();
        }
        at = writeTriangles(at, config, edgeVertex);
    }
    void appendTo(IsoMesh& mesh) const { mesh.indices.insert(mesh.indices.end(), first, at); }
};

// Corner i's cell of cube q. Cubes below layer 63 on every axis and at or
// above 0 (`inside`, nearly all of them) have all their corners in the
// lattice: flat-index steps instead of range checks.
inline GridCell& cornerCell(IsoMesher& mesher, const GridPoint& q, bool inside, int32_t base, int i)
{
    return inside ? cellAtIndex(mesher, base + CORNER_INDEX[i])
                  : cellAt(mesher, q.x + CORNER_OFFSETS[i].x, q.y + CORNER_OFFSETS[i].y, q.z + CORNER_OFFSETS[i].z);
}

inline float cornerValue(IsoMesher& mesher, const GridPoint& q, GridCell& cell, int i)
{
    return valueOf(mesher, cell, q.x + CORNER_OFFSETS[i].x, q.y + CORNER_OFFSETS[i].y, q.z + CORNER_OFFSETS[i].z);
}

// The corner cells and values of cube q, and its configuration.
inline unsigned cubeCorners(IsoMesher& mesher, const GridPoint& q, bool inside, int32_t base, GridCell* corner[8],
                            float v[8], float isoLevel)
{
    unsigned config = 0;
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
        corner[i] = &cornerCell(mesher, q, inside, base, i);
        v[i] = cornerValue(mesher, q, *corner[i], i);
        config |= (v[i] >= isoLevel ? 1u : 0u) << i;
    }
    return config;
}

// True when pointRows holds this pass's inside bits at this level: the
// blocks were classified for it.
inline bool pointRowsCurrent(const IsoMesher& mesher, float isoLevel)
{
    return mesher.completeSurface && mesher.classifiedStamp == mesher.stamp && sameBits(mesher.classifiedLevel, isoLevel);
}

constexpr size_t POINT_ROWS = GRID_SIZE + 2;   // point rows per axis, -1..64

// The inside bits of a row of the field's zeros outside the lattice: all set
// when the level is at or below 0, none above it.
inline uint64_t outsideFill(float isoLevel)
{
    return 0.0f >= isoLevel ? ~uint64_t(0) : 0u;
}

// The configuration of cube q from the inside bits of its corners' four
// point rows, which hold exactly "value >= level": the bits its corner
// values give, without reading a value. fillBit: the outside's bit.
inline unsigned rowsConfig(const IsoMesher& mesher, const GridPoint& q, unsigned fillBit)
{
    const uint64_t* r = mesher.pointRows.data() + size_t(q.y + 1) + POINT_ROWS * size_t(q.z + 1);
    const uint64_t rows[4] = { r[0], r[1], r[POINT_ROWS], r[POINT_ROWS + 1] };
    unsigned config = 0;
    for (int k = 0; k < 4; ++k) {
        unsigned two;
        if (static_cast<uint32_t>(q.x) < uint32_t(GRID_SIZE - 1))
            two = unsigned(rows[k] >> q.x) & 3u;
        else if (q.x < 0)
            two = fillBit | unsigned(rows[k] & 1u) << 1;   // the outside at -1, then point 0
        else
            two = unsigned(rows[k] >> 63) | fillBit << 1;   // point 63, then the outside at 64
        config |= two << (2 * k);
    }
    return config;
}

inline bool innerCube(const GridPoint& q)
{
    return static_cast<uint32_t>(q.x) < uint32_t(GRID_SIZE - 1) && static_cast<uint32_t>(q.y) < uint32_t(GRID_SIZE - 1) &&
           static_cast<uint32_t>(q.z) < uint32_t(GRID_SIZE - 1);
}

// A flood stack entry: cube (x, y, z), each coordinate -1..63 stored plus
// one in a byte of its own (x lowest). One word per entry, so a push and the
// pop that reads it back are one store and one load; a step to a neighbour is
// one addition (FACE_PACKED), which never carries between the bytes.
inline uint32_t packCube(int32_t x, int32_t y, int32_t z)
{
    return uint32_t(x + 1) | uint32_t(y + 1) << 8 | uint32_t(z + 1) << 16;
}

inline GridPoint unpackCube(uint32_t entry)
{
    return GridPoint{ int32_t(entry & 0xFFu) - 1, int32_t(entry >> 8 & 0xFFu) - 1, int32_t(entry >> 16) - 1 };
}

// The visitedRows step of each FACE_STEPS neighbour.
constexpr ptrdiff_t FACE_ROW[6] = { 0, 0, 1, -1, GRID_SIZE + 1, -(GRID_SIZE + 1) };

// The entry step of each FACE_STEPS neighbour.
constexpr uint32_t FACE_PACKED[6] = { 1u, uint32_t(-1), 1u << 8, uint32_t(-(1 << 8)), 1u << 16, uint32_t(-(1 << 16)) };

// The flood: pops cubes until the stack is empty, meshes every crossed one
// that was not visited, and pushes its neighbours across crossed faces.
template <bool ROWS>
__attribute__((always_inline)) inline void floodBody(IsoMesher& mesher, std::vector<GridPoint>& seeds, float isoLevel)
{
    IsoMesh& mesh = mesher.meshes[mesher.current];
    const unsigned fillBit = unsigned(outsideFill(isoLevel) & 1u);
    // Only cubes in the range are ever pushed: one out of it would be popped
    // and dropped without a trace, so leaving it out keeps the order.
    std::vector<uint32_t>& stack = mesher.floodStack;
    stack.clear();
    for (const GridPoint& seed : seeds)
        if (withinCubes(mesher, seed))
            stack.push_back(packCube(seed.x, seed.y, seed.z));
    seeds.clear();
    FloodTriangles triangles(mesher.floodTriangles);
    while (!stack.empty()) {
        const uint32_t entry = stack.back();
        stack.pop_back();
        const GridPoint q = unpackCube(entry);
        const bool inside = innerCube(q);
        const int32_t base = cellIndex(q.x, q.y, q.z);
        // The visited marks are bits, so a cube pushed twice is dropped
        // without its cell being read.
        if (!visitCube(mesher, q))
            continue;
        // The cube's own cell; none for the cubes from -1.
        GridCell* cell = inside || inLattice(q.x, q.y, q.z) ? &cellAtIndex(mesher, base) : nullptr;

        // With the point rows, the configuration comes from bits and only a
        // new vertex's two corners are read; without, from all eight values.
        GridCell* corner[8];
        float v[8];
        const unsigned config =
            ROWS ? rowsConfig(mesher, q, fillBit) : cubeCorners(mesher, q, inside, base, corner, v, isoLevel);
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
            const int b = EDGES[e].b;
            GridCell& cellA = ROWS ? cornerCell(mesher, q, inside, base, a) : *corner[a];
            uint16_t* slot;
            if (&cellA != &mesher.spare) {
                slot = &cellA.edgeVertex[EDGE_AXIS[e]];
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
            if (*slot == NO_VERTEX && mesh.vertices.size() < MAX_MESH_VERTICES) {
                if (ROWS) {
                    GridCell& cellB = cornerCell(mesher, q, inside, base, b);
                    addEdgeVertex(mesher, mesh, q, e, cellA, cellB, cornerValue(mesher, q, cellA, a),
                                  cornerValue(mesher, q, cellB, b), isoLevel, *slot);
                } else {
                    addEdgeVertex(mesher, mesh, q, e, cellA, *corner[b], v[a], v[b], isoLevel, *slot);
                }
            }
            edgeVertex[e] = *slot;
        }

        triangles.add(static_cast<uint8_t>(config), edgeVertex);

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
        const size_t row = visitedRow(q.y, q.z);
        for (; faces; faces &= faces - 1) {
            const int k = __builtin_ctz(faces);
            const FaceStep& f = FACE_STEPS[k];
            if (innerNeighbours) {
                if (!((mesher.visitedRows[row + FACE_ROW[k]] >> (q.x + f.dx)) & 1u))
                    stack.push_back(entry + FACE_PACKED[k]);
                continue;
            }
            const GridPoint next{ q.x + f.dx, q.y + f.dy, q.z + f.dz };
            if (withinCubes(mesher, next) && !cubeVisited(mesher, next))
                stack.push_back(entry + FACE_PACKED[k]);
        }
    }
    triangles.appendTo(mesh);
}

template <bool ROWS>
void floodWith(IsoMesher& mesher, std::vector<GridPoint>& seeds, float isoLevel)
{
    floodBody<ROWS>(mesher, seeds, isoLevel);
}

// The flood from the point rows again, for processors with AVX2 and the bit
// manipulation sets: three-operand scalar arithmetic and shifts by a count
// in any register take a twentieth off the pass. (None of these sets fuses a
// multiply with an add, so every vertex rounds as in the plain copy.)
VORTALUNE_BMI void floodWithRowsBmi(IsoMesher& mesher, std::vector<GridPoint>& seeds, float isoLevel)
{
    floodBody<true>(mesher, seeds, isoLevel);
}

// The flood of a pass with its blocks classified at this level reads the
// configurations from the point rows; any other from the corner values.
void flood(IsoMesher& mesher, std::vector<GridPoint>& seeds, float isoLevel)
{
    if (!pointRowsCurrent(mesher, isoLevel))
        floodWith<false>(mesher, seeds, isoLevel);
    else if (mesher.bmiFlood)
        floodWithRowsBmi(mesher, seeds, isoLevel);
    else
        floodWith<true>(mesher, seeds, isoLevel);
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

// Block number b's coordinates in blocks, each 0..15 (b = x + 16 (y + 16 z)).
inline GridPoint blockAt(int b)
{
    return GridPoint{ b % BLOCKS_PER_AXIS, b / BLOCKS_PER_AXIS % BLOCKS_PER_AXIS, b / (BLOCKS_PER_AXIS * BLOCKS_PER_AXIS) };
}

// The padded-array index of block (bx, by, bz), each -1..16.
inline size_t paddedBlock(int bx, int by, int bz)
{
    constexpr int P = BLOCKS_PER_AXIS + 2;
    return size_t(bx + 1) + size_t(P) * (size_t(by + 1) + size_t(P) * size_t(bz + 1));
}

// The padded-array index of block number b.
inline size_t paddedBlock(int b)
{
    const GridPoint at = blockAt(b);
    return paddedBlock(at.x, at.y, at.z);
}

// Every point of block b into its cell (values and colours, as the flood's
// own lookups would make them), and the values into out[64], x fastest.
// `whole`: the block's cells are written whole, whatever they held (only
// with the 512-bit evaluation).
void evaluateBlock(IsoMesher& mesher, int block, float* out, bool whole)
{
    const GridPoint at = blockAt(block);
    const int32_t x0 = at.x * BLOCK_SIZE, y0 = at.y * BLOCK_SIZE, z0 = at.z * BLOCK_SIZE;
    if (mesher.rowEvaluation && mesher.widestRows) {
        evaluateBlockLayers(mesher, x0, y0, z0, out, whole);
        return;
    }
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

// The inside bits of every row of points along x (bit x for x in 0..63),
// for rows y, z from -1 to 64, from the blocks' classes and masks: rows
// outside the lattice, and rows whose sixteen blocks all lie outside the
// surface's reach, are the outside fill. The flood takes its cubes'
// configurations from them, the rescue its crossed cubes.
void buildPointRows(IsoMesher& mesher, uint8_t outsideClass, uint64_t fill)
{
    constexpr size_t PR = POINT_ROWS;
    std::vector<uint64_t>& rows = mesher.pointRows;
    std::fill(rows.begin(), rows.end(), fill);
    for (int bz = 0; bz < BLOCKS_PER_AXIS; ++bz)
        for (int by = 0; by < BLOCKS_PER_AXIS; ++by) {
            // The blocks of this row of blocks that are not the outside's:
            // only their four bits of each point row differ from the fill.
            const uint8_t* classes = mesher.paddedClass.data() + paddedBlock(0, by, bz);
            unsigned own = 0;
            for (int bx = 0; bx < BLOCKS_PER_AXIS; ++bx)
                own |= unsigned(classes[bx] != outsideClass) << bx;
            if (!own)
                continue;
            const uint64_t* masks = mesher.paddedMask.data() + paddedBlock(0, by, bz);
            uint64_t* first = rows.data() + size_t(by * BLOCK_SIZE + 1) + PR * size_t(bz * BLOCK_SIZE + 1);
            for (; own; own &= own - 1) {
                const int bx = __builtin_ctz(own);
                const uint64_t mask = masks[bx];
                const int at = BLOCK_SIZE * bx;
                // Nibble ly + 4 lz of the block's mask is its part of point row (ly, lz).
                for (int lz = 0; lz < BLOCK_SIZE; ++lz)
                    for (int ly = 0; ly < BLOCK_SIZE; ++ly) {
                        uint64_t& row = first[size_t(ly) + PR * size_t(lz)];
                        const uint64_t part = (mask >> (BLOCK_SIZE * (ly + BLOCK_SIZE * lz))) & 0xFu;
                        row = (row & ~(uint64_t(0xF) << at)) | part << at;
                    }
            }
        }
}

// The points of a block (bit x + 4 y + 16 z) on each of its faces: -x, +x, -y, +y, -z, +z.
constexpr uint64_t FACE_POINTS[6] = { 0x1111111111111111u, 0x8888888888888888u, 0x000F000F000F000Fu,
                                      0xF000F000F000F000u, 0x000000000000FFFFu, 0xFFFF000000000000u };

// The padded-array step to each face neighbour, in the same order.
constexpr ptrdiff_t PADDED_STEP[6] = { -1, 1, -(BLOCKS_PER_AXIS + 2), BLOCKS_PER_AXIS + 2,
                                       -(BLOCKS_PER_AXIS + 2) * (BLOCKS_PER_AXIS + 2),
                                       (BLOCKS_PER_AXIS + 2) * (BLOCKS_PER_AXIS + 2) };

// The points of a block with mask m (its inside bits) that end a crossed
// edge: whose inside bit differs from a neighbour's, near[f] the face
// neighbours' masks.
uint64_t crossedEnds(uint64_t m, const uint64_t near[6])
{
    const uint64_t* f = FACE_POINTS;
    const uint64_t minusX = ((m << 1) & ~f[0]) | ((near[0] & f[1]) >> 3);
    const uint64_t plusX = ((m >> 1) & ~f[1]) | ((near[1] & f[0]) << 3);
    const uint64_t minusY = ((m << 4) & ~f[2]) | ((near[2] & f[3]) >> 12);
    const uint64_t plusY = ((m >> 4) & ~f[3]) | ((near[3] & f[2]) << 12);
    const uint64_t minusZ = (m << 16) | (near[4] >> 48);
    const uint64_t plusZ = (m >> 16) | (near[5] << 48);
    return (m ^ minusX) | (m ^ plusX) | (m ^ minusY) | (m ^ plusY) | (m ^ minusZ) | (m ^ plusZ);
}

// The gradients the flood will ask for at the points of the mixed blocks
// whose six neighbours all lie in mixed blocks, from the values the
// classification kept: a layer of sixteen points at a time instead of six
// lookups per point. The other points keep theirs to the flood.
void storeMixedGradients(IsoMesher& mesher)
{
    const std::vector<uint16_t>& mixed = mesher.mixedBlocks;
    for (size_t k = 0; k < mixed.size(); ++k) {
        const size_t padded = paddedBlock(mixed[k]);
        const float* near[6];
        uint64_t masks[6];
        uint64_t points = ~uint64_t(0);
        for (int f = 0; f < 6; ++f) {
            const size_t n = size_t(ptrdiff_t(padded) + PADDED_STEP[f]);
            masks[f] = mesher.paddedMask[n];
            if (mesher.paddedClass[n] == BLOCK_MIXED) {
                near[f] = mesher.mixedValues.data() + size_t(mesher.paddedSlot[n]) * BLOCK_POINTS;
            } else {
                near[f] = nullptr;
                points &= ~FACE_POINTS[f];
            }
        }
        points &= crossedEnds(mesher.paddedMask[padded], masks);
        if (!points)
            continue;
        mesher.classifiedGradients += size_t(__builtin_popcountll(points));
        const GridPoint at = blockAt(mixed[k]);
        storeBlockGradients(mesher, at.x * BLOCK_SIZE, at.y * BLOCK_SIZE, at.z * BLOCK_SIZE,
                            mesher.mixedValues.data() + k * BLOCK_POINTS, near, points);
    }
}

} // namespace

void classifyBlocks(IsoMesher& mesher, float isoLevel)
{
    // A pass begun by runIsoPass left the last pass's cells as they were:
    // with the 512-bit evaluation, those of this pass's mixed blocks are
    // written whole below and the rest are reset here; otherwise all are
    // reset first.
    const bool pending = mesher.resetPending;
    mesher.resetPending = false;
    const bool whole = pending && mesher.completeSurface && mesher.rowEvaluation && mesher.widestRows;
    if (pending && !whole)
        resetDirtyGroups(mesher);
    mesher.rescueMixedBlocks = 0;
    mesher.classifiedGradients = 0;
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
    const uint64_t outsideMask = outsideFill(isoLevel);
    if (mesher.paddedClass[0] != outsideClass) {
        // The border, the zeros outside the lattice, only changes with the
        // level's side of 0.
        std::fill(mesher.paddedClass.begin(), mesher.paddedClass.end(), outsideClass);
        std::fill(mesher.paddedMask.begin(), mesher.paddedMask.end(), outsideMask);
    } else {
        // Every block no source reaches is 0 everywhere, the outside's class:
        // only the blocks the last classification gave a class need it again.
        for (const uint16_t b : mesher.classedBlocks) {
            const size_t padded = paddedBlock(b);
            mesher.paddedClass[padded] = outsideClass;
            mesher.paddedMask[padded] = outsideMask;
        }
    }
    mesher.classedBlocks = mesher.reachedBlocks;
    std::vector<uint16_t>& mixed = mesher.mixedBlocks;
    mixed.clear();
    for (const uint16_t b : mesher.reachedBlocks) {
        const size_t padded = paddedBlock(b);
        float lo, hi;
        blockBounds(mesher, b, lo, hi);
        const uint8_t c = hi < isoLevel ? BLOCK_OUTSIDE : (lo >= isoLevel ? BLOCK_INSIDE : BLOCK_MIXED);
        mesher.paddedClass[padded] = c;
        if (c == BLOCK_MIXED)
            mixed.push_back(b);
        else
            mesher.paddedMask[padded] = c == BLOCK_INSIDE ? ~uint64_t(0) : 0u;
    }
    if (whole) {
        // Group g of row y + 64 z is the row's part of block (g, y / 4, z / 4):
        // the row's sixteen blocks' classes at once.
        resetDirtyGroups(mesher, [&](uint16_t row) {
            const int y = row % GRID_SIZE, z = row / GRID_SIZE;
            const __m128i classes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                mesher.paddedClass.data() + paddedBlock(0, y >> BLOCK_SHIFT, z >> BLOCK_SHIFT)));
            return unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(classes, _mm_set1_epi8(char(BLOCK_MIXED)))));
        });
    }
    mesher.rescueMixedBlocks = mixed.size();
    // With whole writes, every mixed block's values are kept for the gradients below.
    float scratch[BLOCK_POINTS];
    if (whole)
        mesher.mixedValues.resize(mixed.size() * BLOCK_POINTS);
    const __m128 level = _mm_set1_ps(isoLevel);
    for (size_t k = 0; k < mixed.size(); ++k) {
        const uint16_t b = mixed[k];
        float* values = whole ? mesher.mixedValues.data() + k * BLOCK_POINTS : scratch;
        evaluateBlock(mesher, b, values, whole);
        // Four comparisons at a time (false for NaN, like ">=" itself).
        uint64_t mask = 0;
        for (int i = 0; i < BLOCK_POINTS; i += 4)
            mask |= uint64_t(_mm_movemask_ps(_mm_cmpge_ps(_mm_loadu_ps(values + i), level))) << i;
        const size_t padded = paddedBlock(b);
        mesher.paddedMask[padded] = mask;
        mesher.paddedSlot[padded] = static_cast<uint16_t>(k);
    }
    if (whole)
        storeMixedGradients(mesher);
    buildPointRows(mesher, outsideClass, outsideMask);
}

CubeRows rowsToRescue(const IsoMesher& mesher)
{
    // The points of blocks no source reaches are the fill, and a row of
    // cubes whose four point rows are all the fill crosses nothing: only the
    // rows beside a reached block's points can hold a crossing.
    const std::vector<uint16_t>& reached = mesher.reachedBlocks;
    if (reached.empty())
        return CubeRows{ 0, -1, 0, -1 };
    int byLow = BLOCKS_PER_AXIS, byHigh = 0;
    for (const uint16_t b : reached) {
        byLow = std::min(byLow, blockAt(b).y);
        byHigh = std::max(byHigh, blockAt(b).y);
    }
    const int bzLow = blockAt(reached.front()).z, bzHigh = blockAt(reached.back()).z;   // ascending
    // Cube row y holds points y and y + 1.
    return CubeRows{ byLow * BLOCK_SIZE - 1, byHigh * BLOCK_SIZE + BLOCK_SIZE - 1, bzLow * BLOCK_SIZE - 1,
                     bzHigh * BLOCK_SIZE + BLOCK_SIZE - 1 };
}

void rescueMissedSurface(IsoMesher& mesher, float isoLevel)
{
    mesher.rescuedFloods = 0;
    if (!mesher.completeSurface)
        return;
    if (!pointRowsCurrent(mesher, isoLevel))
        classifyBlocks(mesher, isoLevel);
    const uint64_t fill = outsideFill(isoLevel);
    constexpr size_t PR = POINT_ROWS;
    const std::vector<uint64_t>& rows = mesher.pointRows;

    // Every row of cubes that can hold a crossing, each at once: cube x is crossed
    // when the bits of points x and x + 1 in its four point rows differ.
    // Cubes x = -1 and 63 take their outside corners from the fill. A
    // crossed cube that no flood visited starts one.
    std::vector<GridPoint>& stack = mesher.stack;
    const int32_t lowest = mesher.cubeMin.x;
    const int32_t highest = mesher.cellMax.x - 1;
    const unsigned outsideBit = unsigned(fill & 1u);
    const CubeRows reach = rowsToRescue(mesher);
    const int32_t yLow = std::max(lowest, reach.yLow), yHigh = std::min(highest, reach.yHigh);
    const int32_t zLow = std::max(lowest, reach.zLow), zHigh = std::min(highest, reach.zHigh);
    for (int32_t z = zLow; z <= zHigh; ++z)
        for (int32_t y = yLow; y <= yHigh; ++y) {
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
    startPass(mesher, false);   // the cells are reset inside classifyBlocks
    classifyBlocks(mesher, isoLevel);
    std::vector<GridPoint>& seeds = seedSurface(mesher, *mesher.field, isoLevel);
    polygonize(mesher, seeds, isoLevel);
    rescueMissedSurface(mesher, isoLevel);
    return mesher.meshes[mesher.current];
}
