// iso/IsoScenes.h: the ten scenes' isosurface set-ups outside the show, for the
// isosurface benchmark, the isomesh tool and the scene tests. A scene starts
// like the show's scene start (parameters reset, particles off, sources
// disabled, then the scene's own assignments) and is advanced in fixed frame
// steps of effect time, with the per-update parameters the show's scripts
// change (scene 1's iso level follows its title fade, scenes 6 and 9 step a
// level counter 6..18 once per update). Works on the given IsoSurface and on
// the global `particleSystem`, which updateIso reads.
#pragma once

#include "iso/IsoSurface.h"

#include <cstdint>

constexpr int   ISO_SCENE_COUNT = 10;      // scenes 1..10
constexpr float ISO_SCENE_STEP  = 0.01f;   // effect seconds per frame, about the show's step at 60 fps
constexpr float ISO_SCENE1_LENGTH = 4.8f;  // scene 1's effect-time length (75 x its track fraction)

struct IsoSceneRun {
    int   scene = 0;              // 1..10; anything else runs a bare reset (no sources)
    float time = 0.0f;            // effect seconds since the scene start
    float levelCounter = 5.0f;    // scenes 6 and 9: 6, 7, ..., 18, 6, ... one per update
};

// The isosurface and particle assignments of the show's start of `scene`
// (applied after the reset): placement mode, source count, palette, material,
// texture slot, colour by position, negation, particle preset. Scene 2's
// placement comes with its first update, not here. Shared by the path player.
void applySceneIsoStart(IsoSurface& iso, int scene);

// Scene 1's title fade at scene progress f: in over the first third, full,
// out over the last third.
float titleFade(float f);

// The scene start: resetIsoParams, particle preset 0, disableAllSources, then
// the scene's assignments (placement mode, source count, palette, material,
// texture slot, colour by position, negation, particle preset). Creates the
// particle root if there is none.
void startIsoScene(IsoSceneRun& run, IsoSurface& iso, int scene);

// The per-update parameter changes of the scene, for an update of `step`
// seconds starting at run.time.
void applyIsoSceneUpdate(IsoSceneRun& run, IsoSurface& iso, float step);

// Advances to effect time `seconds` (at least one update, even when already
// there): frames of ISO_SCENE_STEP, the last one shorter. Each frame applies
// the scene's per-update changes and steps the particles; the effect clock of
// every frame but the last is advanced exactly as updateIso advances it, and
// the last frame is a full updateIso. Placements depend only on the clock and
// the particles at the time, so the result is the same as a full updateIso on
// every frame (`everyFrame` true does that, for tests).
void advanceIsoScene(IsoSceneRun& run, IsoSurface& iso, float seconds, bool everyFrame = false);

// A fixed particle random source (0..32767, the C runtime's range) for
// repeatable runs: seeds it and installs it with setParticleRandom.
void useSeededParticleRandom(uint32_t seed);
