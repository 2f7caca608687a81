// app/ShowRun.h: the one way to run the show on the virtual clock (frame k
// at track fraction k / (fps x track seconds), base/VirtualClock.h), as the
// capture program renders it, the authoring tool scrubs and plays it, and
// the page seeks in it; and the snapshots of the show's state a run comes
// back to, so that no step back replays the show from its start.
//
// A run starts at a scene's first frame from the state the program is in
// after loading (a fresh run of the show at that scene: the player's run
// fields and the camera as they were, a new particle root, the random
// generator seeded), and updates the player once per frame. The state is
// everything the frames depend on: the player's run (path/PathPlayer.h's
// PlayerRun), the camera, the particles, the isosurface's settings and
// sources, and the random generator (base/RuntimeRandom.h). The mesh depends
// on the sources alone: it is built once, for the frame a run stops at.
// The actors are not drawn by any scene and are left out.
#pragma once

#include "base/RuntimeRandom.h"
#include "base/VirtualClock.h"
#include "iso/Field.h"
#include "iso/IsoSurface.h"
#include "iso/Particles.h"
#include "path/Camera.h"
#include "path/PathPlayer.h"

#include <vector>

// --- Snapshots ---------------------------------------------------------------------
struct ShowSnapshot {
    long                       frame = -1;    // the last frame whose update it holds
    PlayerRun                  player;
    Camera                     camera;
    ParticleSystem             particles;
    IsoSettings                iso;
    std::vector<BallSource>    balls;
    std::vector<SegmentSource> segments;
    int32_t                    gridMin = 0, gridMax = 0;
    RandomState                random;
    float                      lastSceneLength = 0.0f;   // the last scene's duration, set as it starts

    ShowSnapshot() = default;
    ShowSnapshot(ShowSnapshot&&) = default;
    ShowSnapshot& operator=(ShowSnapshot&&) = default;
    ShowSnapshot(const ShowSnapshot& other) { *this = other; }
    ShowSnapshot& operator=(const ShowSnapshot& other);
};

// The show's state now (the player `player`, the camera `view`, and the
// isosurface, particles and random generator of the program), as frame `frame`.
ShowSnapshot takeShowSnapshot(const PathPlayer& player, const Camera& view, long frame);

// Puts that state back.
void restoreShowSnapshot(PathPlayer& player, Camera& view, const ShowSnapshot& snapshot);

// --- Runs -----------------------------------------------------------------------------
class ShowRun {
public:
    static constexpr long SNAPSHOT_FRAMES = 60;   // a snapshot kept every second of a 60 fps clock

    // A run of `player` and `view` from `initial` (the state after loading),
    // beginning with scene `scene` on `clock`, its random generator seeded
    // with `seed`. Nothing is played yet: frame() is the scene's first frame - 1.
    void begin(PathPlayer& player, Camera& view, const ShowSnapshot& initial, const VirtualClock& clock, int scene,
               unsigned seed);

    // Plays on to frame `frame` (its update done; the mesh built for it
    // unless `buildMesh` is false: a step on the way to a later frame):
    // on from the state now when that lies before it, else from the latest
    // snapshot at or before it (or from the run's start). Keeps a snapshot
    // every SNAPSHOT_FRAMES frames on the way. Returns the frame reached:
    // earlier when the player stops first (the show, or the one scene, ended).
    long playTo(long frame, bool buildMesh = true);

    // Something else stepped the state (the free camera, the live show):
    // the next playTo starts from a snapshot.
    void stateTouched() { at_ = NOT_AT_A_FRAME; }

    // The flight or the timing changed: every snapshot is dropped.
    void forgetSnapshots();

    long frame() const { return at_; }           // the frame the state stands at; NOT_AT_A_FRAME when unknown
    long firstFrame() const { return first_; }   // the run's first frame
    bool started() const { return player_ != nullptr; }
    PathPlayer& player() { return *player_; }   // after begin
    size_t snapshotCount() const { return kept_.size(); }

    static constexpr long NOT_AT_A_FRAME = -2;

private:
    void startAgain();

    PathPlayer*               player_ = nullptr;
    Camera*                   view_ = nullptr;
    ShowSnapshot              initial_;
    VirtualClock              clock_;
    int                       scene_ = FIRST_SCENE;
    unsigned                  seed_ = 1;
    long                      first_ = 0;
    long                      at_ = NOT_AT_A_FRAME;
    long                      ended_ = -1;   // the frame whose update ended the show (or its one scene); -1: none yet
    std::vector<ShowSnapshot> kept_;   // ascending frames
};

// The show's random generator, seeded for a live run (the desktop show, the
// page): the same generator a virtual-clock run draws from.
void seedShowRandom(unsigned seed);
