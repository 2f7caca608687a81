// app/ShowRun.cpp: snapshots of the show's state and runs on the virtual clock.
#include "app/ShowRun.h"

#include <algorithm>

// --- Snapshots ---------------------------------------------------------------------

ShowSnapshot& ShowSnapshot::operator=(const ShowSnapshot& other)
{
    if (this == &other)
        return *this;
    frame = other.frame;
    player = other.player;
    camera = other.camera;
    copyParticles(other.particles, particles);
    iso = other.iso;
    balls = other.balls;
    segments = other.segments;
    gridMin = other.gridMin;
    gridMax = other.gridMax;
    random = other.random;
    lastSceneLength = other.lastSceneLength;
    return *this;
}

ShowSnapshot takeShowSnapshot(const PathPlayer& player, const Camera& view, long frame)
{
    ShowSnapshot s;
    s.frame = frame;
    s.player = player;
    s.camera = view;
    copyParticles(particleSystem, s.particles);
    s.iso = isoSurface;
    s.balls = isoSurface.field.balls;
    s.segments = isoSurface.field.segments;
    s.gridMin = isoSurface.field.gridMin;
    s.gridMax = isoSurface.field.gridMax;
    s.random = runtimeRandomState();
    s.lastSceneLength = player.paths.pathDurations[LAST_SCENE];
    return s;
}

void restoreShowSnapshot(PathPlayer& player, Camera& view, const ShowSnapshot& s)
{
    static_cast<PlayerRun&>(player) = s.player;
    view = s.camera;
    copyParticles(s.particles, particleSystem);
    static_cast<IsoSettings&>(isoSurface) = s.iso;
    // The sources as they were: each enabled one placed again at its index
    // (a node lists its sources in ascending order, so the field sums them
    // as it did); the rest stay disabled. A disabled record is left as it is:
    // where it is listed follows from it, and it adds nothing to the field.
    SourceField& field = isoSurface.field;
    disableAllSources(field);
    for (size_t i = 0; i < s.balls.size(); ++i)
        if (s.balls[i].enabled)
            placeBall(field, uint32_t(i), s.balls[i]);
    for (size_t i = 0; i < s.segments.size(); ++i)
        if (s.segments[i].enabled)
            placeSegment(field, uint32_t(i), s.segments[i]);
    field.gridMin = s.gridMin;
    field.gridMax = s.gridMax;
    restoreRuntimeRandom(s.random);
    player.paths.pathDurations[LAST_SCENE] = s.lastSceneLength;
}

// --- Runs -----------------------------------------------------------------------------

void ShowRun::begin(PathPlayer& player, Camera& view, const ShowSnapshot& initial, const VirtualClock& clock,
                    int scene, unsigned seed)
{
    player_ = &player;
    view_ = &view;
    initial_ = initial;
    clock_ = clock;
    scene_ = std::clamp(scene, FIRST_SCENE, LAST_SCENE);
    seed_ = seed;
    first_ = clock_.firstAtOrAfter(startPositionSum(scene_, player.paths.pathDurations));
    kept_.clear();
    startAgain();
}

void ShowRun::startAgain()
{
    restoreShowSnapshot(*player_, *view_, initial_);
    seedRuntimeRandom(seed_);
    destroyParticles(particleSystem);
    createParticleRoot(particleSystem);
    startPath(*player_, scene_);
    at_ = first_ - 1;
    ended_ = -1;
}

void ShowRun::forgetSnapshots()
{
    kept_.clear();
    at_ = NOT_AT_A_FRAME;
}

long ShowRun::playTo(long frame, bool buildMesh)
{
    if (!player_)
        return NOT_AT_A_FRAME;
    frame = std::max(frame, first_ - 1);
    if (at_ == NOT_AT_A_FRAME || at_ > frame) {
        // The latest snapshot at or before the frame, else the run's start.
        const auto after = std::upper_bound(kept_.begin(), kept_.end(), frame,
                                            [](long f, const ShowSnapshot& s) { return f < s.frame; });
        if (after == kept_.begin()) {
            startAgain();
        } else {
            restoreShowSnapshot(*player_, *view_, *(after - 1));
            at_ = (after - 1)->frame;
            if (ended_ > at_)
                ended_ = -1;
        }
    }
    // The player plays on from where the run stands, whoever stopped it in
    // between (a held scene), but never past the frame at which it ended.
    if (ended_ >= 0 && at_ >= ended_)
        return at_;
    player_->playing = true;
    isoSurface.deferMesh = true;
    for (long f = at_ + 1; f <= frame; ++f) {
        updatePlayer(*player_, clock_.fraction(f));
        at_ = f;
        if (!player_->playing) {
            ended_ = f;   // the show, or the one scene, ended with this update
            break;
        }
        if ((f - first_) % SNAPSHOT_FRAMES == 0 && f > first_) {
            const auto place = std::lower_bound(kept_.begin(), kept_.end(), f,
                                                [](const ShowSnapshot& s, long k) { return s.frame < k; });
            if (place == kept_.end() || place->frame != f)
                kept_.insert(place, takeShowSnapshot(*player_, *view_, f));
        }
    }
    isoSurface.deferMesh = false;
    if (buildMesh)
        rebuildIsoMesh(isoSurface);
    return at_;
}

void seedShowRandom(unsigned seed)
{
    seedRuntimeRandom(seed);
}
