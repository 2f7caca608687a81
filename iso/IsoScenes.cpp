// iso/IsoScenes.cpp: scene set-ups and fixed-step advancing of the isosurface.
#include "iso/IsoScenes.h"

#include "gfx/Texture.h"
#include "iso/Particles.h"

#include <algorithm>
#include <cmath>

namespace {

uint32_t seededState = 1;

int seededRandom()
{
    seededState = seededState * 214013u + 2531011u;
    return static_cast<int>((seededState >> 16) & 0x7FFF);
}

} // namespace

void useSeededParticleRandom(uint32_t seed)
{
    seededState = seed;
    setParticleRandom(seededRandom);
}

void applySceneIsoStart(IsoSurface& iso, int scene)
{
    switch (scene) {
    case 2:    // the placement follows on the scene's first update
        iso.palette = 1;
        break;
    case 3:
        iso.palette = 13;
        iso.placementMode = 2;
        iso.sourceCount = 45;
        break;
    case 4:
        setupParticles(particleSystem, 1);
        iso.palette = 9;
        break;
    case 5:
        iso.placementMode = 7;
        iso.materialMode = MATERIAL_COLOURED;
        iso.sourceCount = 5;
        iso.negateSources = true;
        iso.textureSlot = SLOT_PASTEL;
        iso.palette = 9;
        break;
    case 6:
        iso.placementMode = 5;
        iso.textureSlot = SLOT_PASTEL;
        iso.sourceCount = 10;
        iso.palette = 12;
        break;
    case 7:
        iso.placementMode = 6;
        iso.materialMode = MATERIAL_COLOURED;
        iso.sourceCount = 5;
        iso.palette = 13;
        break;
    case 8:
        iso.placementMode = 3;
        iso.materialMode = MATERIAL_COLOURED;
        iso.sourceCount = 25;
        iso.colourByPosition = true;
        break;
    case 9:
        iso.materialMode = MATERIAL_COLOURED;
        iso.placementMode = 4;
        iso.sourceCount = 10;
        iso.colourByPosition = true;
        iso.textureSlot = SLOT_PASTEL;
        break;
    case 10:
        iso.palette = 1;
        iso.placementMode = 1;
        iso.sourceCount = 5;
        break;
    default:   // scene 1 (the title over an empty field) and unknown scenes
        break;
    }
}

float titleFade(float f)
{
    if (f <= 1.0f / 3.0f)
        return 3.0f * f;
    if (f <= 2.0f / 3.0f)
        return 1.0f;
    return 1.0f - 3.0f * (f - 2.0f / 3.0f);
}

void startIsoScene(IsoSceneRun& run, IsoSurface& iso, int scene)
{
    run.scene = scene;
    run.time = 0.0f;
    if (!particleSystem.root)
        createParticleRoot(particleSystem);
    resetIsoParams(iso);
    setupParticles(particleSystem, 0);
    disableAllSources(iso.field);
    applySceneIsoStart(iso, scene);
    if (scene == 2) {
        // What the show's first update of scene 2 places.
        iso.placementMode = 1;
        iso.sourceCount = 5;
    }
}

void applyIsoSceneUpdate(IsoSceneRun& run, IsoSurface& iso, float step)
{
    switch (run.scene) {
    case 1: {
        // Times past the scene's length repeat its fade, as a replayed scene would.
        const float f = std::fmod((run.time + step) / ISO_SCENE1_LENGTH, 1.0f);
        iso.isoLevel = titleFade(f) * 10.0f + 10.0f;
        break;
    }
    case 6:
    case 9:
        run.levelCounter = (run.levelCounter > 17.0f ? 5.0f : run.levelCounter) + 1.0f;
        iso.isoLevel = run.levelCounter;
        break;
    default:
        break;
    }
}

void advanceIsoScene(IsoSceneRun& run, IsoSurface& iso, float seconds, bool everyFrame)
{
    const float remaining = std::max(0.0f, seconds - run.time);
    const double frameCount = std::ceil(static_cast<double>(remaining) / ISO_SCENE_STEP);
    // Bounded: an absurd target (or infinity) stops after 10,000 s of effect time.
    const long frames = std::max(1L, static_cast<long>(std::min(frameCount, 1e6)));
    for (long k = 0; k < frames; ++k) {
        const bool last = k == frames - 1;
        const float step = last ? std::max(0.0f, seconds - run.time) : ISO_SCENE_STEP;
        applyIsoSceneUpdate(run, iso, step);
        updateParticles(particleSystem, step);
        if (last || everyFrame)
            updateIso(iso, step);
        else
            iso.timeMs += step * 1000.0f;   // the clock step of updateIso
        run.time += step;
    }
}
