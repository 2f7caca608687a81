// iso/Mesher.cpp: cached field values and gradients, seeding, the surface
// flood and triangle emission. This is the demo's per-frame hot path.
//
// Sections:
//   --- Construction ---
//   --- Cached field ---
//   --- Pass set-up ---
//   --- Seeds ---
//   --- Flood ---
//   --- Triangles ---
#include "iso/Mesher.h"

#include "iso/IsoTables.h"

#include <cmath>

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
}

// --- Cached field ------------------------------------------------------------------------

namespace {

// The value of an already looked-up cell of point (x, y, z). The spare cell
// always holds 0, which is never STALE_VALUE, so outside points return 0.
inline float valueOf(IsoMesher& mesher, GridCell& cell, int32_t x, int32_t y, int32_t z)
{
    if (cell.value != STALE_VALUE)
        return cell.value;
    Float3 colourSum;
    const float value = sampleField(*mesher.field, Float3(float(x), float(y), float(z)), colourSum);
    cell.colour = weightedColour(value, colourSum);
    cell.value = value;
    return value;
}

inline float valueAt(IsoMesher& mesher, int32_t x, int32_t y, int32_t z)
{
    return valueOf(mesher, cellAt(mesher, x, y, z), x, y, z);
}

inline Float3 centralDifferences(IsoMesher& mesher, const GridPoint& p)
{
    Float3 g;
    g.x = valueAt(mesher, p.x + 1, p.y, p.z) - valueAt(mesher, p.x - 1, p.y, p.z);
    g.y = valueAt(mesher, p.x, p.y + 1, p.z) - valueAt(mesher, p.x, p.y - 1, p.z);
    g.z = valueAt(mesher, p.x, p.y, p.z + 1) - valueAt(mesher, p.x, p.y, p.z - 1);
    return g;
}

} // namespace

float fieldValue(IsoMesher& mesher, const GridPoint& p)
{
    return valueAt(mesher, p.x, p.y, p.z);
}

Float3 fieldGradient(IsoMesher& mesher, const GridPoint& p)
{
    if (!inLattice(p.x, p.y, p.z))
        return centralDifferences(mesher, p);   // not cached: the spare cell is shared
    GridCell& cell = cellAt(mesher, p);
    if (cell.gradient.x != STALE_GRADIENT)
        return cell.gradient;
    const Float3 g = centralDifferences(mesher, p);   // cells never move, `cell` stays valid
    cell.gradient = g;
    return g;
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

    const Float3 gA = fieldGradient(mesher, A);
    const Float3 gB = fieldGradient(mesher, B);
    const Float3 n(gA.x + t * (gB.x - gA.x), gA.y + t * (gB.y - gA.y), gA.z + t * (gB.z - gA.z));
    const float length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    if (length > 0.0f && std::isfinite(length)) {
        const float s = -1.0f / length;   // negated: out of the blobs
        vertex.normal = Float3(n.x * s, n.y * s, n.z * s);
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

// Appends the triangles of configuration `config`, reading the edge vertices
// through the cube's corner cells; a triangle with a missing vertex (mesh full)
// is dropped.
inline void emitTriangles(IsoMesh& mesh, uint8_t config, GridCell* const corner[8])
{
    const CubeTriangles& list = CUBE_TRIANGLES.configurations[config];
    for (int t = 0; t < list.count; ++t) {
        uint16_t idx[3];
        for (int k = 0; k < 3; ++k) {
            const int e = list.edges[t * 3 + k];
            idx[k] = corner[EDGES[e].a]->edgeVertex[EDGE_AXIS[e]];
        }
        if (idx[0] == NO_VERTEX || idx[1] == NO_VERTEX || idx[2] == NO_VERTEX)
            continue;
        mesh.indices.push_back(idx[0]);
        mesh.indices.push_back(idx[1]);
        mesh.indices.push_back(idx[2]);
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
        GridCell& cell = cellAt(mesher, q);
        if (cell.visited)
            continue;
        cell.visited = true;

        GridCell* corner[8];
        float v[8];
        unsigned config = 0;
        for (int i = 0; i < 8; ++i) {
            const int32_t x = q.x + CORNER_OFFSETS[i].x;
            const int32_t y = q.y + CORNER_OFFSETS[i].y;
            const int32_t z = q.z + CORNER_OFFSETS[i].z;
            corner[i] = &cellAt(mesher, x, y, z);
            v[i] = valueOf(mesher, *corner[i], x, y, z);
            if (v[i] >= isoLevel)
                config |= 1u << i;
        }
        if (config == 0 || config == 255)
            continue;
        cell.caseIndex = static_cast<uint8_t>(config);

        for (int e = 0; e < 12; ++e) {
            const int a = EDGES[e].a;
            if ((v[EDGES[e].b] < isoLevel) == (v[a] < isoLevel))
                continue;
            if (corner[a]->edgeVertex[EDGE_AXIS[e]] != NO_VERTEX)
                continue;   // made by a neighbouring cube this pass
            if (corner[a] == &mesher.spare)
                continue;   // cannot happen: both ends of such an edge read 0
            if (mesh.vertices.size() >= MAX_MESH_VERTICES)
                continue;   // full: the triangles needing it are dropped
            addEdgeVertex(mesher, mesh, q, e, v, corner, isoLevel);
        }

        emitTriangles(mesh, static_cast<uint8_t>(config), corner);

        for (const FaceStep& f : FACE_STEPS) {
            const unsigned bits = config & f.mask;
            if (bits == 0 || bits == f.mask)
                continue;   // the surface does not cross this face
            if ((f.dx > 0 && q.x >= mesher.cellMax.x) || (f.dx < 0 && q.x <= mesher.cellMin.x) ||
                (f.dy > 0 && q.y >= mesher.cellMax.y) || (f.dy < 0 && q.y <= mesher.cellMin.y) ||
                (f.dz > 0 && q.z >= mesher.cellMax.z) || (f.dz < 0 && q.z <= mesher.cellMin.z))
                continue;
            const GridPoint n{ q.x + f.dx, q.y + f.dy, q.z + f.dz };
            if (!cellAt(mesher, n).visited)
                seeds.push_back(n);
        }
    }
}

// --- Triangles -----------------------------------------------------------------------------------

void emitCube(IsoMesher& mesher, const GridPoint& q)
{
    GridCell* corner[8];
    for (int i = 0; i < 8; ++i)
        corner[i] = &cellAt(mesher, q.x + CORNER_OFFSETS[i].x, q.y + CORNER_OFFSETS[i].y, q.z + CORNER_OFFSETS[i].z);
    emitTriangles(mesher.meshes[mesher.current], corner[0]->caseIndex, corner);
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
