// tools/isomesh/IsoMeshTool.cpp: the isomesh tool's passes, checks and sweep.
#include "tools/isomesh/IsoMeshTool.h"

#include "base/Report.h"
#include "base/Show.h"
#include "iso/FullGrid.h"
#include "iso/IsoScenes.h"
#include "iso/SourceFile.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

void printCounts(const char* label, const MeshCounts& c)
{
    std::printf("%-10s vertices %zu, triangles %zu, pieces %zu\n", label, c.vertices, c.triangles, c.components);
}

} // namespace

int writeMesh(const char* path, const IsoMesh& mesh, const SourceField* check, float isoLevel)
{
    std::string error;
    if (!writePly(path, mesh, error)) {
        reportLine("isomesh: %s: %s\n", path, error.c_str());
        return 1;
    }
    if (!check) {
        std::printf("vertices: %zu\ntriangles: %zu\n", mesh.vertices.size(), mesh.indices.size() / 3);
        return 0;
    }
    auto reference = std::make_unique<FullGridMesher>();
    const MeshCounts mine = countMesh(mesh);
    const MeshCounts full = countMesh(reference->run(*check, isoLevel));
    printCounts("mesher:", mine);
    printCounts("full grid:", full);
    if (mine.vertices != full.vertices || mine.triangles != full.triangles || mine.components != full.components) {
        reportLine("isomesh: the mesher's mesh differs from the full grid's\n");
        return ISOMESH_EXIT_DIFFERENT;
    }
    return 0;
}

int sweepScenes(float step)
{
    useSeededParticleRandom(ISOMESH_SCENE_SEED);
    auto iso = std::make_unique<IsoSurface>();
    auto seeded = std::make_unique<IsoMesher>(&iso->field);
    seeded->completeSurface = false;
    auto reference = std::make_unique<FullGridMesher>();
    size_t differing = 0;
    std::printf("scene frames differ missed-by-seeds near-face identical rescued-floods\n");
    for (int scene = 2; scene <= ISO_SCENE_COUNT; ++scene) {
        IsoSceneRun run;
        startIsoScene(run, *iso, scene);
        const float length = SHOW_STEP_SCALE * DEFAULT_PATH_DURATIONS[scene];
        size_t frames = 0, differ = 0, missed = 0, nearFace = 0, identical = 0, floods = 0;
        const int count = int(std::floor(length / step)) + 1;
        for (int k = 0; k < count; ++k) {
            advanceIsoScene(run, *iso, float(k) * step);
            const IsoMesh& mesh = iso->mesher.meshes[iso->mesher.current];
            const MeshCounts mine = countMesh(mesh);
            const MeshCounts full = countMesh(reference->run(iso->field, iso->isoLevel));
            ++frames;
            floods += iso->mesher.rescuedFloods;
            if (mine.vertices != full.vertices || mine.triangles != full.triangles ||
                mine.components != full.components) {
                ++differ;
                reportLine("isomesh: scene %d at %.2f s differs from the full grid\n", scene,
                           double(float(k) * step));
            }
            const IsoMesh& old = runIsoPass(*seeded, iso->isoLevel);
            const bool oldWhole = countMesh(old).components == full.components;
            bool reachesNear = false;
            for (const IsoVertex& v : mesh.vertices)
                reachesNear = reachesNear || v.position.x < 0.0f || v.position.y < 0.0f || v.position.z < 0.0f;
            missed += !oldWhole;
            nearFace += reachesNear;
            if (oldWhole && !reachesNear && old.indices == mesh.indices && old.vertices.size() == mesh.vertices.size() &&
                std::memcmp(old.vertices.data(), mesh.vertices.data(), mesh.vertices.size() * sizeof(IsoVertex)) == 0)
                ++identical;
        }
        std::printf("%5d %6zu %6zu %15zu %9zu %9zu %14zu\n", scene, frames, differ, missed, nearFace, identical, floods);
        differing += differ;
    }
    return differing ? ISOMESH_EXIT_DIFFERENT : 0;
}

int sceneMesh(int scene, float seconds, const char* outPath, bool check)
{
    useSeededParticleRandom(ISOMESH_SCENE_SEED);
    auto iso = std::make_unique<IsoSurface>();
    IsoSceneRun run;
    startIsoScene(run, *iso, scene);
    advanceIsoScene(run, *iso, seconds);
    return writeMesh(outPath, iso->mesher.meshes[iso->mesher.current], check ? &iso->field : nullptr, iso->isoLevel);
}
