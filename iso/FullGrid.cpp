// iso/FullGrid.cpp: the full-grid reference mesher and mesh measures.
#include "iso/FullGrid.h"

#include "iso/IsoTables.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>

FullGridMesher::FullGridMesher()
    : values_(size_t(PADDED_SIZE) * PADDED_SIZE * PADDED_SIZE, 0.0f),
      colours_(values_.size()),
      edgeVertex_(values_.size() * 3, NO_VERTEX),
      crossed_(values_.size() * 3, 0)
{
}

float FullGridMesher::valueAt(int32_t x, int32_t y, int32_t z) const
{
    if (!inLattice(x, y, z))
        return 0.0f;
    return values_[at(x, y, z)];
}

Float3 FullGridMesher::gradient(int32_t x, int32_t y, int32_t z) const
{
    return Float3(valueAt(x + 1, y, z) - valueAt(x - 1, y, z), valueAt(x, y + 1, z) - valueAt(x, y - 1, z),
                  valueAt(x, y, z + 1) - valueAt(x, y, z - 1));
}

const IsoMesh& FullGridMesher::run(const SourceField& field, float isoLevel)
{
    for (int32_t z = 0; z < GRID_SIZE; ++z)
        for (int32_t y = 0; y < GRID_SIZE; ++y)
            for (int32_t x = 0; x < GRID_SIZE; ++x) {
                Float3 sum;
                const float v = sampleField(field, Float3(float(x), float(y), float(z)), sum);
                values_[at(x, y, z)] = v;
                colours_[at(x, y, z)] = weightedColour(v, sum);
            }
    std::fill(edgeVertex_.begin(), edgeVertex_.end(), NO_VERTEX);
    std::fill(crossed_.begin(), crossed_.end(), 0);
    mesh_.vertices.clear();
    mesh_.indices.clear();
    crossedEdges_ = 0;
    for (int32_t z = -1; z < GRID_SIZE; ++z)
        for (int32_t y = -1; y < GRID_SIZE; ++y)
            for (int32_t x = -1; x < GRID_SIZE; ++x)
                cube(x, y, z, isoLevel);
    return mesh_;
}

void FullGridMesher::cube(int32_t x, int32_t y, int32_t z, float isoLevel)
{
    float v[8];
    unsigned config = 0;
    for (int i = 0; i < 8; ++i) {
        v[i] = valueAt(x + CORNER_OFFSETS[i].x, y + CORNER_OFFSETS[i].y, z + CORNER_OFFSETS[i].z);
        config |= (v[i] >= isoLevel ? 1u : 0u) << i;
    }
    if (config == 0 || config == 255)
        return;
    uint16_t edgeVertex[12];
    for (unsigned crossed = CROSSED_EDGES.masks[config]; crossed; crossed &= crossed - 1) {
        const int e = __builtin_ctz(crossed);
        const int a = EDGES[e].a, b = EDGES[e].b, axis = EDGE_AXIS[e];
        const GridPoint A{ x + CORNER_OFFSETS[a].x, y + CORNER_OFFSETS[a].y, z + CORNER_OFFSETS[a].z };
        const GridPoint B{ x + CORNER_OFFSETS[b].x, y + CORNER_OFFSETS[b].y, z + CORNER_OFFSETS[b].z };
        const size_t slotIndex = at(A.x, A.y, A.z) * 3 + size_t(axis);
        uint16_t& slot = edgeVertex_[slotIndex];
        if (!crossed_[slotIndex]) {
            crossed_[slotIndex] = 1;
            ++crossedEdges_;
            if (mesh_.vertices.size() < MAX_MESH_VERTICES) {
                const Float3 cA = inLattice(A.x, A.y, A.z) ? colours_[at(A.x, A.y, A.z)] : Float3();
                const Float3 cB = inLattice(B.x, B.y, B.z) ? colours_[at(B.x, B.y, B.z)] : Float3();
                slot = static_cast<uint16_t>(mesh_.vertices.size());
                mesh_.vertices.push_back(makeEdgeVertex(A, axis, v[a], v[b], gradient(A.x, A.y, A.z),
                                                        gradient(B.x, B.y, B.z), cA, cB, isoLevel));
            }
        }
        edgeVertex[e] = slot;   // NO_VERTEX past the cap
    }
    const CubeTriangles& list = CUBE_TRIANGLES.configurations[config];
    for (int t = 0; t < list.count; ++t) {
        const uint16_t i0 = edgeVertex[list.edges[t * 3]];
        const uint16_t i1 = edgeVertex[list.edges[t * 3 + 1]];
        const uint16_t i2 = edgeVertex[list.edges[t * 3 + 2]];
        if (i0 == NO_VERTEX || i1 == NO_VERTEX || i2 == NO_VERTEX)
            continue;
        mesh_.indices.push_back(i0);
        mesh_.indices.push_back(i1);
        mesh_.indices.push_back(i2);
    }
}

// --- Comparing meshes ------------------------------------------------------------------

namespace {

size_t findRoot(std::vector<uint32_t>& parent, size_t i)
{
    while (parent[i] != i) {
        parent[i] = parent[parent[i]];
        i = parent[i];
    }
    return i;
}

} // namespace

MeshCounts countMesh(const IsoMesh& mesh)
{
    MeshCounts counts;
    counts.vertices = mesh.vertices.size();
    counts.triangles = mesh.indices.size() / 3;
    std::vector<uint32_t> parent(mesh.vertices.size());
    std::iota(parent.begin(), parent.end(), 0u);
    for (size_t t = 0; t + 2 < mesh.indices.size(); t += 3)
        for (int k = 1; k < 3; ++k) {
            const size_t a = findRoot(parent, mesh.indices[t]);
            const size_t b = findRoot(parent, mesh.indices[t + size_t(k)]);
            if (a != b)
                parent[std::max(a, b)] = uint32_t(std::min(a, b));
        }
    for (size_t i = 0; i < parent.size(); ++i)
        counts.components += findRoot(parent, i) == i;
    return counts;
}

size_t unpairedEdges(const IsoMesh& mesh)
{
    std::unordered_map<uint32_t, int> uses;
    uses.reserve(mesh.indices.size() * 2);
    for (size_t t = 0; t + 2 < mesh.indices.size(); t += 3)
        for (int k = 0; k < 3; ++k) {
            const uint32_t a = mesh.indices[t + size_t(k)];
            const uint32_t b = mesh.indices[t + size_t((k + 1) % 3)];
            ++uses[std::min(a, b) << 16 | std::max(a, b)];
        }
    size_t unpaired = 0;
    for (const auto& edge : uses)
        unpaired += edge.second != 2;
    return unpaired;
}

bool indicesInRange(const IsoMesh& mesh)
{
    for (uint16_t i : mesh.indices)
        if (i >= mesh.vertices.size())
            return false;
    return true;
}
