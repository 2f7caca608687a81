// path/PathPlayer.cpp: scene sequencing and the ten scene scripts.
#include "path/PathPlayer.h"

#include "gfx/Texture.h"
#include "iso/IsoScenes.h"
#include "iso/IsoSurface.h"
#include "iso/Particles.h"
#include "model/Actors.h"
#include "path/Camera.h"

namespace {

// Counters run 6, 7, ..., 18, 6, 7, ... one value per update.
float advanceCounter(float& counter)
{
    counter = (counter > 17.0f ? 5.0f : counter) + 1.0f;
    return counter;
}

// The block every scene runs on its first update.
void startScene(PathPlayer& p, float t)
{
    p.pathStartTime = t;
    beginPathFlight(p);
    resetIsoParams(isoSurface);
    setupParticles(particleSystem, 0);
    disableAllSources(isoSurface.field);

    ShowState& s = p.show;
    s.backOverlay = Overlay{};
    s.frontOverlay.type = OVERLAY_NONE;
    s.drawActors = false;
    s.brightGlow = false;
    s.glowAmount = -1.0f;
    if (p.pathIndex >= 4 && p.pathIndex <= 9)
        s.frontOverlay.alpha = 0.0f;

    // The show's switches; the isosurface's own assignments are shared with
    // the scene set-ups of the benchmark and tools.
    switch (p.pathIndex) {
    case 3:
        s.glowAmount = 2.0f;
        s.skyboxSlot = SLOT_SKY;
        break;
    case 4: case 5: case 6: case 8: case 9:
        s.skyboxSlot = SLOT_SKY;
        break;
    case 7:
        s.skyboxSlot = SLOT_SKY;
        s.glowAmount = 2.0f;
        s.brightGlow = true;
        break;
    case 10:
        s.skyboxSlot = 0;
        p.paths.pathDurations[10] = sceneLength(LAST_SCENE, p.paths.pathDurations, t);   // the rest of the track
        break;
    default:   // scenes 1 and 2
        s.skyboxSlot = 0;
        break;
    }
    applySceneIsoStart(isoSurface, p.pathIndex);
}

// The part of each script that runs on every update. f is the scene's progress.
void runSceneUpdate(PathPlayer& p, float t, float f)
{
    ShowState& s = p.show;
    Overlay& front = s.frontOverlay;
    IsoSurface& iso = isoSurface;
    switch (p.pathIndex) {
    case 1:
        if (!p.titleShown) {
            front.type = OVERLAY_TITLE;
            p.titleShown = true;
        }
        if (f > 1.0f) {
            front.type = OVERLAY_NONE;
            front.alpha = f;
        } else {
            front.alpha = titleFade(f);
        }
        iso.isoLevel = front.alpha * 10.0f + 10.0f;
        break;
    case 2:
        if (!p.scene2Placed && t >= 0.0f) {
            iso.placementMode = 1;
            iso.sourceCount = 5;
            p.scene2Placed = true;
        }
        if (!p.scene2Faded) {
            front.type = OVERLAY_BLACK;
            p.scene2Faded = true;
        }
        if (f > 1.0f) {
            front.alpha = f;
        } else if (f > 0.98f) {
            front.type = OVERLAY_WHITE;   // fade to white into scene 3's flash
            front.alpha = (f - 0.98f) * 50.0f;
        } else {
            front.alpha = f;
            if (f > 0.3f)
                front.type = OVERLAY_NONE;
            else
                front.alpha = 1.0f - 3.0f * f;   // fade in from black
        }
        break;
    case 3:
        if (!p.scene3Flashed) {
            front.type = OVERLAY_WHITE;
            p.scene3Flashed = true;
        }
        front.alpha = f;
        if (f <= 1.0f) {
            if (f > 0.02f)
                front.type = OVERLAY_NONE;
            else
                front.alpha = 1.0f - f / 0.02f;   // the white flash fades out
        }
        break;
    case 6:
        iso.isoLevel = advanceCounter(p.levelCounterA);
        break;
    case 9:
        iso.isoLevel = advanceCounter(p.levelCounterB);
        if (f > 0.3f) {
            s.brightGlow = true;
            iso.textureSlot = 0;
            s.glowAmount = 2.0f;
        }
        if (f > 0.6f) {
            s.brightGlow = false;
            s.glowAmount = 4.0f;
        }
        break;
    case 10: {
        if (!p.creditsShown) {
            s.backOverlay = Overlay{ OVERLAY_CREDITS, 1.0f };
            front.type = OVERLAY_BLACK;
            p.creditsShown = true;
        }
        // Progress through the rest of the track; a scene starting at the very
        // end has no rest and counts as finished.
        const float rest = 1.0f - p.pathStartTime;
        const float c = rest > 0.0f ? (t - p.pathStartTime) / rest : 1.0f;
        front.alpha = c;
        if (c > 1.0f) {
            front.type = OVERLAY_NONE;
        } else if (c > 2.0f / 3.0f) {
            front.type = OVERLAY_WHITE;
            front.alpha = 3.0f * (c - 2.0f / 3.0f);
        } else if (c > 1.0f / 3.0f) {
            front.alpha = 0.0f;
        } else {
            front.alpha = 1.0f - 3.0f * c;
        }
        break;
    }
    default:
        break;
    }
}

} // namespace

void constructPathPlayer(PathPlayer& player, const char* folder, bool repair)
{
    player = PathPlayer{};
    loadAllPaths(player.paths, folder, repair);
    for (int i = 0; i < SCENE_ENTRIES; ++i)
        player.paths.pathDurations[i] = DEFAULT_PATH_DURATIONS[i];
}

void startPath(PathPlayer& player, int n)
{
    if (n > LAST_SCENE)
        return;
    player.pathIndex = n;
    player.pathStartTime = -1.0f;
    player.playing = true;
}

void stopPath(PathPlayer& player)
{
    player.playing = false;
}

void restartPath(PathPlayer& player)
{
    player.pathStartTime = -1.0f;
    player.playing = true;
}

void beginPathFlight(PathPlayer& player)
{
    if (player.pathIndex < 0 || player.pathIndex >= SCENE_ENTRIES)
        return;
    PathPair& pair = player.paths.pairs[player.pathIndex];
    pair.posCursor = pair.rotCursor = 0;
    Float3 position, angles;
    samplePair(pair, 0.0f, position, angles);
    pair.posCursor = pair.rotCursor = 0;
    setTarget(camera, angles, position, 0.0f, CAMERA_HOLD, 1.0f);
}

void updatePlayer(PathPlayer& p, float t)
{
    p.previousSongPosition = p.songPosition;
    p.songPosition = t;
    if (t < 0.0f) {
        p.playing = false;
        return;
    }
    p.step = (t - p.previousSongPosition) * SHOW_STEP_SCALE;

    const int scene = p.pathIndex;
    if (scene < 0 || scene > LAST_SCENE) {
        p.playing = false;   // no script, and no duration to look up
        return;
    }
    if (scene >= FIRST_SCENE && scene <= LAST_SCENE) {
        if (p.pathStartTime < 0.0f)
            startScene(p, t);
        const float duration = p.paths.pathDurations[scene];
        const float f = duration != 0.0f ? (t - p.pathStartTime) / duration : 1.0f;
        runSceneUpdate(p, t, f);
    } else {
        p.playing = false;   // scene 0 has no script
    }

    const float duration = p.paths.pathDurations[scene];
    if (t - p.pathStartTime >= duration) {
        p.playing = false;
        if (p.oneScene || scene >= LAST_SCENE)
            return;
        p.pathIndex = scene + 1;
        p.pathStartTime = -1.0f;
        p.playing = true;
        return;
    }

    const float s = (t - p.pathStartTime) / duration;
    Float3 position, angles;
    samplePair(p.paths.pairs[scene], s, position, angles);
    holdCameraAt(camera, angles, position);

    updateActors(actorScene, ActorSteering{ camera.right, camera.negYaw }, p.step, ACTOR_COMMAND_WALK);
    updateParticles(particleSystem, p.step);
    updateIso(isoSurface, p.step);
    updateCamera(camera, p.step);
}

