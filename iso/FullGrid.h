// iso/FullGrid.h: the plain marching cubes that the surface-following mesher
// is checked against, and the measures both meshes are compared by. Every
// lattice value comes from the raw octree walk (sampleField); every cube from
// -1 to 63 on each axis is visited, with the field taken as 0 outside the
// lattice on all six sides, so every surface is closed at the lattice faces.
// Vertices, normals and colours are made exactly as the mesher makes them, so
// two meshes of one field can be compared edge by edge. No GL.
#pragma once

#include "iso/Field.h"
#include "iso/Mesher.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Lattice points -1..64 on each axis: one layer of zeros around the lattice.
constexpr int PADDED_SIZE = GRID_SIZE + 2;

class FullGridMesher {
public:
    FullGridMesher();

    // Values and colours of every lattice point, then every cube in x-fastest
    // order. Returns the mesh (at most MAX_MESH_VERTICES vertices, like the
    // mesher's; triangles needing a vertex past the cap are dropped).
    const IsoMesh& run(const SourceField& field, float isoLevel);

    const IsoMesh& mesh() const { return mesh_; }

    // The number of lattice edges the surface crosses in the last run (also
    // those past the vertex cap).
    size_t crossedEdges() const { return crossedEdges_; }

    // The value at a lattice point of the last run, 0 outside the lattice.
    float valueAt(int32_t x, int32_t y, int32_t z) const;

private:
    static size_t at(int32_t x, int32_t y, int32_t z)
    {
        return size_t(x + 1) + size_t(PADDED_SIZE) * (size_t(y + 1) + size_t(PADDED_SIZE) * size_t(z + 1));
    }
    Float3 gradient(int32_t x, int32_t y, int32_t z) const;
    void   cube(int32_t x, int32_t y, int32_t z, float isoLevel);

    std::vector<float>    values_;
    std::vector<Float3>   colours_;
    std::vector<uint16_t> edgeVertex_;   // three slots per padded point
    std::vector<uint8_t>  crossed_;      // the same slots: edge counted as crossed
    IsoMesh               mesh_;
    size_t                crossedEdges_ = 0;
};

// --- Comparing meshes ------------------------------------------------------------------

struct MeshCounts {
    size_t vertices = 0;
    size_t triangles = 0;
    size_t components = 0;   // pieces joined through shared vertices
};

// Counts of a mesh. Components are sets of triangles that share vertices
// (directly or through other triangles); a vertex no triangle uses is a
// component of its own, as a piece too small to hold a triangle.
MeshCounts countMesh(const IsoMesh& mesh);

// Edges (unordered vertex pairs) used by a number of triangles other than two:
// an open border or a non-manifold seam. Returns how many such edges exist.
size_t unpairedEdges(const IsoMesh& mesh);

// True when every index is below the vertex count.
bool indicesInRange(const IsoMesh& mesh);
