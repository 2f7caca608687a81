// iso/Mesher.h: the surface-following marching-cubes polygonizer. Owns the
// per-lattice-point cache (262,144 GridCells, with their GridShades beside
// them; the groups a pass computes are reset at the start of the next)
// and the output meshes: positions, normals and colours in lattice units plus
// 16-bit triangle indices. Reads the sources of a SourceField (iso/Field.h) and
// the tables of iso/IsoTables.h. No GL.
//
// A pass (runIsoPass): increment the stamp, take the cube range from the
// field, empty the current mesh, classify the blocks (resetting the cells
// the last pass used, writing those of the blocks the surface may cross
// whole), seed from every enabled source, flood the surface, then rescue
// every piece of surface that no seed reached.
//
// Every piece is meshed. Seeds only start from each source's reference point,
// so pieces no seed touches (a small ball whose truncated centre lies outside
// its own surface, a piece cut off by a negative source, a reference point
// outside the lattice, two weak balls that meet only between them) would be
// lost. After the seeded flood, each 4 x 4 x 4 block of the lattice is bounded
// from its source list (the range of every source's kernel over the block);
// only where the bounds allow a crossing are cubes evaluated, and a crossed
// cube that no flood visited starts a new flood. The mesh then holds exactly
// what a plain marching cubes over every cube holds (iso/FullGrid.h): one
// vertex per crossed lattice edge, the same triangles, the same pieces. The
// seeded part keeps its order and vertex numbering; rescued pieces come after.
//
// Choices at the edges of the lattice and of the formats:
//  - The field is 0 outside the lattice on all six sides, and cubes are
//    visited from -1 to 63 on each axis, so a surface that reaches any face
//    of the lattice is capped there. Lattice points outside 0..63 (cube
//    corners at -1 and 64, gradient neighbours) have no cell: they read the
//    shared spare cell, whose value is always 0 and whose colour is (0, 0, 0),
//    and which is never written. The vertex of a crossed edge from -1 to 0 is
//    kept in the near-face slots (nearSlots). Visited cubes are marked in
//    bits, one word per row of cubes along x (visitedRows, rows from -1),
//    those at x = -1 in nearVisited; an edge whose two ends both lie
//    outside never crosses the surface. Gradients at outside points are
//    computed afresh each time (central differences with 0 outside), so
//    nothing leaks between passes.
//  - A mesh holds at most MAX_MESH_VERTICES (65,535) vertices: 0xFFFF marks an
//    edge without a vertex. Once the mesh is full no vertex is added and the
//    triangles that would need a missing vertex are dropped; every index stored
//    is below the vertex count.
//  - Cells carry no pass number: every value a pass computes marks its group
//    of four cells along x (dirtyGroups), and the next pass resets exactly
//    those groups first, so a lookup needs no check of its own. The near-face
//    marks and slots do carry the pass stamp, which wraps after 65,536 passes;
//    they are refilled before a stale mark could be taken for a current one.
#pragma once

#include "iso/Field.h"
#include "math/Math.h"

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t MAX_MESH_VERTICES = 65535;   // index 0xFFFF is NO_VERTEX

// Per-pass source lists of 4 x 4 x 4-point blocks of the lattice. Each block
// lies inside one depth-2 octree node, so every point of it walks the same
// three nodes; its list holds, in that walk's order (root, depth 1, depth 2;
// balls then segments; ascending), the enabled sources whose support box
// reaches the block. Summing a block's list adds exactly the same non-zero
// terms in the same order as the octree walk of sampleField, so the cached
// values are bit-identical to it, without visiting sources that cannot reach.
constexpr int      BLOCK_SHIFT       = 2;
constexpr int      BLOCK_SIZE        = 1 << BLOCK_SHIFT;           // lattice points per block edge
constexpr int      BLOCKS_PER_AXIS   = GRID_SIZE >> BLOCK_SHIFT;
constexpr int      BLOCK_COUNT       = BLOCKS_PER_AXIS * BLOCKS_PER_AXIS * BLOCKS_PER_AXIS;
constexpr int      BLOCK_POINTS      = BLOCK_SIZE * BLOCK_SIZE * BLOCK_SIZE;
constexpr uint32_t BLOCK_SEGMENT_BIT = 0x80000000u;   // entry is a segment index (indices stay far below)

struct BlockEntry {
    uint32_t block;   // block number
    uint32_t entry;   // source index, BLOCK_SEGMENT_BIT set for a segment
};

// Eight float lanes (a GCC vector): two neighbouring rows of four points
// along x, rows y and y + 1 of one block. Row evaluation works on such pairs.
typedef float RowLanes __attribute__((vector_size(32)));

// A source's constants for row evaluation, each repeated in all lanes.
// Copied once per pass, so the per-row loop reads them without shuffling;
// the differences (end - start) are the same float subtractions the kernel
// would make, done once.
struct RowBall {
    RowLanes centreX, centreY, centreZ;
    RowLanes invRadiusSq, strength;
    RowLanes red, green, blue;
};

struct RowSegment {
    RowLanes startX, startY, startZ;
    RowLanes directionX, directionY, directionZ, invLengthSq;
    RowLanes endX, endY, endZ;
    RowLanes invRadiusSq;
    RowLanes startStrength, strengthStep;
    RowLanes startRed, startGreen, startBlue;
    RowLanes redStep, greenStep, blueStep;
};

struct IsoVertex {
    Float3 position;   // lattice units
    Float3 normal;     // unit length, pointing out of the blobs
    Float3 colour;     // RGB
};

struct IsoMesh {
    std::vector<IsoVertex> vertices;
    std::vector<uint16_t>  indices;   // three per triangle, each < vertices.size()
};

// Cubes of the x = -1 layer (y, z in -1..63), whose visited marks are not
// in visitedRows (its bits start at x = 0).
constexpr int NEAR_FACE_CUBES = 65 * 65;
// Lattice edges from a point at -1 on one axis into the lattice: 64 x 64 per axis.
constexpr int NEAR_FACE_EDGES = 3 * GRID_SIZE * GRID_SIZE;

// A near-face edge's vertex for one pass.
struct NearSlot {
    uint16_t vertex = NO_VERTEX;
    uint16_t stamp = 0;   // the pass the vertex belongs to
};

// Per-pass bound of a block's values (see rescueMissedSurface).
enum BlockClass : uint8_t {
    BLOCK_OUTSIDE = 0,   // every point below the level
    BLOCK_INSIDE  = 1,   // every point at or above it
    BLOCK_MIXED   = 2,   // the bounds allow both
};

struct IsoMesher {
    IsoMesh      meshes[2];
    int          current = 0;     // the mesh passes fill and the renderer draws; never changed
    GridPoint    cellMin;         // cubes visited: cellMin <= lowest corner < cellMax
    GridPoint    cellMax;
    GridPoint    cubeMin;         // lowest cube visited: cellMin, or -1 at the lattice's near faces
    uint16_t     stamp = 0;       // pass number; wraps
    alignas(64) GridCell cells[GRID_CELLS];   // x fastest: x + 64 y + 4096 z; a group of four per cache line
    GridCell     spare;           // every point outside 0..63: value 0, never written
    GridShade    shades[GRID_CELLS];   // the cells' gradients and colours, same order
    GridShade    spareShade;      // the spare cell's: colour (0, 0, 0)
    SourceField* field = nullptr;
    std::vector<GridPoint> stack; // seeds, capacity kept between passes
    std::vector<uint32_t> floodStack;  // the flood's cubes, packed (see Mesher.cpp); capacity kept
    std::vector<uint16_t> floodTriangles; // room for a flood's triangles before they join the mesh; only grows
    std::vector<uint32_t> blockStart;     // BLOCK_COUNT + 1 offsets into blockSources
    std::vector<uint32_t> blockSources;   // source indices per block; see BLOCK_SHIFT
    std::vector<BlockEntry> blockScratch; // (block, source) pairs while the lists are built
    std::vector<uint16_t> reachedBlocks;  // the blocks with a source in their list, ascending
    bool         rowEvaluation = false;  // evaluate two rows of four points at once (see Mesher.cpp)
    bool         wideRows = false;       // the processor has AVX: row pairs in 256-bit registers
    bool         widestRows = false;     // it has AVX-512: a classified block's points in 512-bit registers
    bool         bmiFlood = false;       // it has AVX2, BMI1, BMI2 and LZCNT: the flood compiled for them
    std::vector<RowBall>    rowBalls;      // per-pass copies for row evaluation, by source index
    std::vector<RowSegment> rowSegments;
    bool         completeSurface = true; // false: the seeded flood only, cubes 0..63 (the old pass)
    std::vector<uint16_t> nearVisited;   // NEAR_FACE_CUBES: the stamp of the pass that visited the x = -1 cube
    std::vector<NearSlot> nearSlots;     // NEAR_FACE_EDGES: vertex of the edge from -1 into the lattice
    std::vector<float>    blockLow;      // BLOCK_COUNT sums of the sources' lowest shares (see blockBounds)
    std::vector<float>    blockHigh;     //   ... of their highest shares
    std::vector<float>    blockMagnitude;//   ... of their largest magnitudes
    std::vector<uint16_t> mixedBlocks;   // the blocks of the last classification whose bounds allowed a crossing
    std::vector<uint16_t> classedBlocks; // the blocks it gave a class from their bounds (the rest are the outside's)
    std::vector<float>    mixedValues;   // the values of the mixed blocks, 64 each, in mixedBlocks' order (whole writes only)
    std::vector<uint16_t> paddedSlot;    // per padded block: its place in mixedBlocks, read only for a mixed block
    bool         resetPending = false;   // the pass began with the last pass's cells; classifyBlocks resets them
    std::vector<uint8_t>  paddedClass;   // 18^3 blocks, -1..16 per axis: the classes, outside the lattice its zeros
    std::vector<uint64_t> paddedMask;    // the same blocks' inside bits, bit x + 4 y + 16 z
    std::vector<uint64_t> pointRows;     // 66 x 66 rows of points (y, z from -1): bit x set when inside
    std::vector<uint64_t> visitedRows;   // 65 x 65 rows (y, z from -1): bit x set once cube (x, y, z) is visited this pass
    std::vector<uint16_t> visitedRowList; // the visitedRows with a bit set, each once; cleared when the next pass begins
    std::vector<uint16_t> dirtyGroups;   // 64 x 64 rows (y + 64 z): bit g set once group x = 4g..4g+3 has values
    std::vector<uint16_t> dirtyRows;     // the rows with a bit set, each once
    size_t       rescuedFloods = 0;      // floods started by the last rescue
    size_t       rescueMixedBlocks = 0;  // blocks of the last classification whose bounds allowed a crossing
    size_t       classifiedGradients = 0; // gradients the last classification made (see classifyBlocks)
    uint16_t     classifiedStamp = 0;    // the pass and level the classes belong to
    float        classifiedLevel = 0.0f;

    explicit IsoMesher(SourceField* field_);
    IsoMesher(const IsoMesher&) = delete;
    IsoMesher& operator=(const IsoMesher&) = delete;
};

// --- Cells ----------------------------------------------------------------------------------

inline bool inLattice(int32_t x, int32_t y, int32_t z)
{
    return static_cast<uint32_t>(x) < uint32_t(GRID_SIZE) && static_cast<uint32_t>(y) < uint32_t(GRID_SIZE) &&
           static_cast<uint32_t>(z) < uint32_t(GRID_SIZE);
}

inline void resetCell(GridCell& cell)
{
    cell.value = STALE_VALUE;
    cell.edgeVertex[0] = cell.edgeVertex[1] = cell.edgeVertex[2] = NO_VERTEX;
    cell.gradientKnown = false;
}

inline int32_t cellIndex(int32_t x, int32_t y, int32_t z) { return x + GRID_SIZE * y + GRID_SIZE * GRID_SIZE * z; }

// The cell at a flat index: clean, or of the current pass.
inline GridCell& cellAtIndex(IsoMesher& mesher, int32_t index) { return mesher.cells[index]; }

// Notes that the group of x0 in `rows` consecutive rows from y0 at z gets
// its values this pass (each group is reset when the next pass begins), in
// one go: called before the cells' stores rather than between them, since
// those may alias anything and each would make every mark reload its lists.
inline void markGroups(IsoMesher& mesher, int32_t x0, int32_t y0, int32_t z, int rows)
{
    const size_t first = size_t(y0 + GRID_SIZE * z);
    uint16_t* groups = mesher.dirtyGroups.data() + first;
    const unsigned bit = 1u << (x0 >> 2);
    for (int row = 0; row < rows; ++row) {
        if (groups[row] == 0)
            mesher.dirtyRows.push_back(static_cast<uint16_t>(first + size_t(row)));
        groups[row] = static_cast<uint16_t>(groups[row] | bit);
    }
}

// Notes that point (x, y, z) of the lattice gets its value this pass: its
// group of four is reset when the next pass begins.
inline void markGroup(IsoMesher& mesher, int32_t x, int32_t y, int32_t z)
{
    markGroups(mesher, x, y, z, 1);
}

// The cell of a point, valid for the current pass; the spare cell for points
// outside 0..63.
inline GridCell& cellAt(IsoMesher& mesher, int32_t x, int32_t y, int32_t z)
{
    if (!inLattice(x, y, z))
        return mesher.spare;
    return cellAtIndex(mesher, cellIndex(x, y, z));
}

inline GridCell& cellAt(IsoMesher& mesher, const GridPoint& p) { return cellAt(mesher, p.x, p.y, p.z); }

// The gradient and colour of a cell looked up this pass (the spare one's for
// the spare cell).
inline GridShade& shadeOf(IsoMesher& mesher, const GridCell& cell)
{
    if (&cell == &mesher.spare)
        return mesher.spareShade;
    return mesher.shades[&cell - mesher.cells];
}

// Field value at a lattice point, computed once per pass; also leaves the
// point's colour in its cell. 0 outside the lattice.
float fieldValue(IsoMesher& mesher, const GridPoint& p);

// Central differences of the neighbours' values, not halved, not normalised;
// points towards increasing field (into the blobs). Cached per pass inside the
// lattice; outside it computed afresh (0 beyond the lattice).
Float3 fieldGradient(IsoMesher& mesher, const GridPoint& p);

// --- Pass ------------------------------------------------------------------------------------

// Starts a pass: stamp + 1, the cells the last pass gave values reset, the
// cube range from the field, the current mesh emptied (capacity
// kept), the block source lists rebuilt. Sources must not change until the
// pass ends (values are cached per pass anyway).
void beginPass(IsoMesher& mesher);

// For each enabled source whose truncated reference point is at or above the
// threshold: march towards +x, then -x, until the field drops below it, and push
// the crossing cube's two points. Returns the mesher's stack.
std::vector<GridPoint>& seedSurface(IsoMesher& mesher, const SourceField& field, float isoLevel);

// Floods the surface from the seeds (last in, first out), appending vertices and
// triangles to meshes[current]. Empties the stack.
void polygonize(IsoMesher& mesher, std::vector<GridPoint>& seeds, float isoLevel);

// Whether the flood visited the cube with lowest corner q (each coordinate
// -1..63) in this pass.
bool cubeVisited(const IsoMesher& mesher, const GridPoint& q);

// Appends the triangles of the visited cube with lowest corner q (its caseIndex
// and edge vertices must be set), dropping any triangle with a missing vertex.
void emitCube(IsoMesher& mesher, const GridPoint& q);

// The vertex stored on the lattice edge between neighbouring points P and Q
// (in the lower point's edge slot), or NO_VERTEX.
uint16_t edgeVertexIndex(IsoMesher& mesher, const GridPoint& P, const GridPoint& Q);

// Before the seeds: every block's class from its bounds (all points outside,
// all inside, or mixed), and the points of the mixed blocks evaluated into
// their cells, with each block's inside bits gathered into pointRows. A
// flood of a pass classified at its level takes its cubes' configurations
// from those bits and reads values only where it makes a vertex; the rescue
// finds its crossed cubes in them. Does nothing when completeSurface is off.
void classifyBlocks(IsoMesher& mesher, float isoLevel);

// After the seeded flood: from the blocks' classes and inside bits, every
// cube where a crossing is possible; floods from every crossed cube that was
// not visited. Classifies first if classifyBlocks did not run in this pass at
// this level. Does nothing when completeSurface is off.
void rescueMissedSurface(IsoMesher& mesher, float isoLevel);

// The rows of cubes (y and z, each -1..63) that can hold a crossing in the
// current pass: every other row has the outside fill in all four of its
// point rows, since no source reaches their points. Empty (low > high) when
// no source reaches the lattice. The rescue looks at these rows only.
struct CubeRows {
    int32_t yLow, yHigh, zLow, zHigh;
};
CubeRows rowsToRescue(const IsoMesher& mesher);

// The lower bound (lo) and upper bound (hi) of the field over the lattice
// points of block `block` in the current pass, summed from the kernel's range
// over the block of every source in its list; every point's value lies within
// them. Made while the block lists are built (only with completeSurface).
void blockBounds(const IsoMesher& mesher, int block, float& lo, float& hi);

// The vertex of an edge from lattice-outside point A (one coordinate -1, on
// `axis`) to its neighbour in the lattice. Also reached by edgeVertexIndex.
uint16_t nearEdgeVertex(const IsoMesher& mesher, const GridPoint& A, int axis);

// The vertex made on the lattice edge from A to B = A + one step along `axis`,
// with values vA, vB on either side of the level, gradients gA, gB and
// colours cA, cB: position A + t, the normal -n / |n| of the interpolated
// gradient (out of the blobs), the interpolated colour. Shared with the
// full-grid reference so that both make the same vertices.
IsoVertex makeEdgeVertex(const GridPoint& A, int axis, float vA, float vB, const Float3& gA, const Float3& gB,
                         const Float3& cA, const Float3& cB, float isoLevel);

// A full pass: beginPass, classifyBlocks, seedSurface, polygonize,
// rescueMissedSurface.
// Returns meshes[current].
const IsoMesh& runIsoPass(IsoMesher& mesher, float isoLevel);
