// tools/isomesh/IsoMeshTool.h: what the isomesh tool does once its command
// line is read: one pass written as PLY (optionally checked against a plain
// marching cubes over every cube), a scene's surface at an effect time, and
// the sweep of scenes 2 to 10. Each returns the tool's exit code and prints
// its counts on stdout, its failures on stderr.
#pragma once

#include "iso/Mesher.h"

#include <cstdint>

constexpr float    ISOMESH_MAX_SCENE_TIME = 3600.0f;
constexpr uint32_t ISOMESH_SCENE_SEED     = 1;   // the particles' seed of the scene forms
constexpr int      ISOMESH_EXIT_DIFFERENT = 3;   // the mesher's and the full grid's meshes differ

// Writes the mesh; with a field to check, meshes it again over the full grid
// and compares (exit 3 when they differ).
int writeMesh(const char* path, const IsoMesh& mesh, const SourceField* check = nullptr, float isoLevel = 0.0f);

// Scenes 2..10 over their show length (75 x their track fraction of effect
// time), every `step` seconds: every frame against the full grid, and against
// the seeded pass alone (the pass before pieces were rescued and the near
// faces closed). One line of counts per scene.
int sweepScenes(float step);

// Scene `scene`'s surface (1..ISO_SCENE_COUNT) at `seconds` of effect time,
// advanced in fixed frame steps with a fixed particle seed, written to outPath.
int sceneMesh(int scene, float seconds, const char* outPath, bool check);
