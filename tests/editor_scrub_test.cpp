// tests/editor_scrub_test.cpp: scrubbing a scene puts it into the state that
// playing it from its start reaches at the same frame of the virtual clock:
// isosurface (sources, level, the mesh itself), fades and glow, particles,
// the camera on the flight and the player's clock. Checked for several
// scenes at the first frame, the first beats, the middle and the last frame,
// reached straight, backwards after a later scrub, forwards beat by beat,
// and after the free camera and another scene have stirred everything up.
#include "app/Settings.h"
#include "app/ShowRun.h"
#include "base/RuntimeRandom.h"
#include "editor/Editor.h"
#include "iso/IsoSurface.h"
#include "iso/Particles.h"
#include "path/Camera.h"
#include "path/PathPlayer.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr double TRACK_SECONDS = 30.0;   // short scenes keep the replays quick

struct SceneState {
    ShowState            show;
    float                songPosition, pathStartTime, step, levelA, levelB;
    bool                 latches[5];
    float                isoLevel, timeMs;
    int                  textureSlot, placementMode, sourceCount, palette;
    std::vector<uint8_t> vertices;
    std::vector<uint16_t> indices;
    std::vector<float>   particles;   // position and size of every gathered particle
    Float3               cameraPosition, cameraAngles;
};

SceneState stateOf(const PathPlayer& p)
{
    SceneState s{};
    s.show = p.show;
    s.songPosition = p.songPosition;
    s.pathStartTime = p.pathStartTime;
    s.step = p.step;
    s.levelA = p.levelCounterA;
    s.levelB = p.levelCounterB;
    const bool latches[5] = { p.titleShown, p.scene2Placed, p.scene2Faded, p.scene3Flashed, p.creditsShown };
    std::memcpy(s.latches, latches, sizeof latches);
    s.isoLevel = isoSurface.isoLevel;
    s.timeMs = isoSurface.timeMs;
    s.textureSlot = isoSurface.textureSlot;
    s.placementMode = isoSurface.placementMode;
    s.sourceCount = isoSurface.sourceCount;
    s.palette = isoSurface.palette;
    const IsoMesh& mesh = isoSurface.mesher.meshes[isoSurface.mesher.current];
    s.vertices.resize(mesh.vertices.size() * sizeof(IsoVertex));
    if (!mesh.vertices.empty())
        std::memcpy(s.vertices.data(), mesh.vertices.data(), s.vertices.size());
    s.indices = mesh.indices;
    const ParticleNode* nodes[64];
    int count = 64;
    gatherParticles(particleSystem, nodes, count);
    for (int i = 0; i < count; ++i) {
        s.particles.push_back(nodes[i]->position.x);
        s.particles.push_back(nodes[i]->position.y);
        s.particles.push_back(nodes[i]->position.z);
        s.particles.push_back(nodes[i]->size);
    }
    s.cameraPosition = camera.position;
    s.cameraAngles = camera.angles;
    return s;
}

void expectSameState(const SceneState& a, const SceneState& b, const std::string& where)
{
    SCOPED_TRACE(where);
    EXPECT_EQ(a.show.frontOverlay.type, b.show.frontOverlay.type);
    EXPECT_EQ(a.show.frontOverlay.alpha, b.show.frontOverlay.alpha);
    EXPECT_EQ(a.show.backOverlay.type, b.show.backOverlay.type);
    EXPECT_EQ(a.show.backOverlay.alpha, b.show.backOverlay.alpha);
    EXPECT_EQ(a.show.glowAmount, b.show.glowAmount);
    EXPECT_EQ(a.show.brightGlow, b.show.brightGlow);
    EXPECT_EQ(a.show.skyboxSlot, b.show.skyboxSlot);
    EXPECT_EQ(a.show.drawActors, b.show.drawActors);
    EXPECT_EQ(a.songPosition, b.songPosition);
    EXPECT_EQ(a.pathStartTime, b.pathStartTime);
    EXPECT_EQ(a.step, b.step);
    EXPECT_EQ(a.levelA, b.levelA);
    EXPECT_EQ(a.levelB, b.levelB);
    EXPECT_EQ(0, std::memcmp(a.latches, b.latches, sizeof a.latches));
    EXPECT_EQ(a.isoLevel, b.isoLevel);
    EXPECT_EQ(a.timeMs, b.timeMs);
    EXPECT_EQ(a.textureSlot, b.textureSlot);
    EXPECT_EQ(a.placementMode, b.placementMode);
    EXPECT_EQ(a.sourceCount, b.sourceCount);
    EXPECT_EQ(a.palette, b.palette);
    EXPECT_EQ(a.vertices.size(), b.vertices.size());
    EXPECT_TRUE(a.vertices == b.vertices) << "the meshes differ";
    EXPECT_TRUE(a.indices == b.indices);
    EXPECT_TRUE(a.particles == b.particles) << a.particles.size() << " vs " << b.particles.size() << " values";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(a.cameraPosition[i], b.cameraPosition[i]);
        EXPECT_EQ(a.cameraAngles[i], b.cameraAngles[i]);
    }
}

class ScrubTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        player_ = freshPlayer();
        savedCamera_ = camera;
        start_ = takeShowSnapshot(*player_, camera, -1);
    }
    // A run of scene `f` as the tool's scrubs make it.
    ShowRun& runOf(const SceneFrames& f)
    {
        run_.begin(*player_, camera, start_, f.clock, f.scene, SCRUB_SEED);
        return run_;
    }
    // A player as the tool constructs it, over the fixture's folder, with a
    // flight of some shape in every scene, so the camera on it is worth comparing.
    std::unique_ptr<PathPlayer> freshPlayer()
    {
        auto player = std::make_unique<PathPlayer>();
        testing::internal::CaptureStderr();
        constructPathPlayer(*player, dir_.path().c_str());
        testing::internal::GetCapturedStderr();
        player->oneScene = true;   // the tool: the player stops at the scene's end
        for (int scene = FIRST_SCENE; scene <= LAST_SCENE; ++scene) {
            PathPair& pair = player->paths.pairs[scene];
            clearPath(pair.position);
            clearPath(pair.rotation);
            for (int i = 0; i < 6; ++i) {
                appendPoint(pair.position, 100.0f * i, 40.0f * (i % 3), 900.0f - 50.0f * i);
                appendPoint(pair.rotation, 5.0f * i, 30.0f * i, 0.0f);
            }
        }
        return player;
    }
    void TearDown() override
    {
        camera = savedCamera_;
        isoSurface.deferMesh = false;
    }

    // The reference, made without the editor's replay: a player constructed
    // afresh, the camera, the random seed and the particle root as a run of
    // the tool starts them, then the scene from its start, one update per
    // frame with the mesh built at every update, the way the frame loop plays it.
    SceneState playedTo(const SceneFrames& f, long frame)
    {
        std::unique_ptr<PathPlayer> p = freshPlayer();
        camera = savedCamera_;
        seedRuntimeRandom(SCRUB_SEED);
        destroyParticles(particleSystem);
        createParticleRoot(particleSystem);
        startPath(*p, f.scene);
        for (long k = f.first; k <= frame && p->playing; ++k)
            updatePlayer(*p, f.clock.fraction(k));
        p->playing = false;
        return stateOf(*p);
    }

    // Everything the free camera and other scenes touch, stirred.
    void stir()
    {
        PathPlayer& p = *player_;
        const int scene = p.pathIndex;
        startPath(p, 2);
        for (int k = 0; k < 30; ++k)
            updatePlayer(p, 0.065f + 0.0005f * k);
        p.pathIndex = scene;
        updateParticles(particleSystem, 0.37f);
        updateIso(isoSurface, 0.5f);
        setTarget(camera, Float3(10, 20, 0), Float3(5, 6, 7), 0.0f, CAMERA_HOLD, 0.3f);
        seedRuntimeRandom(12345);
        run_.stateTouched();
    }

    TempDir                     dir_;
    std::unique_ptr<PathPlayer> player_;
    ShowSnapshot                start_;
    ShowRun                     run_;
    Camera                      savedCamera_;
};

} // namespace

TEST_F(ScrubTest, SceneFramesEndWhereThePlayerEndsTheScene)
{
    for (int scene : { 1, 4, 10 }) {
        const SceneFrames f = sceneFrames(scene, player_->paths.pathDurations, TRACK_SECONDS);
        ASSERT_LT(f.first, f.last);
        EXPECT_GE(f.clock.fraction(f.first), startPositionSum(scene, player_->paths.pathDurations));
        // Played to the last frame the scene still runs; one frame more ends it.
        PathPlayer& p = *player_;
        playSceneTo(runOf(f), f, f.last);
        p.playing = true;
        updatePlayer(p, f.clock.fraction(f.last + 1));
        EXPECT_FALSE(p.playing) << "scene " << scene;
    }
    const SceneFrames none = sceneFrames(3, player_->paths.pathDurations, 0.0);
    EXPECT_LT(none.last, none.first);
}

TEST_F(ScrubTest, ScrubbingReachesThePlayedStateStraightBackwardsAndForwards)
{
    for (int scene : { 1, 3, 6, 9, 10 }) {
        const SceneFrames f = sceneFrames(scene, player_->paths.pathDurations, TRACK_SECONDS);
        ASSERT_LT(f.first, f.last);
        const long beat = static_cast<long>(SCRUB_FPS * 0.5);   // a beat at 120 BPM
        // The first frame, the first beat, the middle (odd scenes) or the
        // second beat (even ones), and the last frame.
        const long third = scene % 2 ? (f.first + f.last) / 2 : f.first + 2 * beat;
        const std::vector<long> targets = { f.first, f.first + beat, third, f.last };
        for (long target : targets) {
            const std::string where = "scene " + std::to_string(scene) + " frame " + std::to_string(target - f.first);
            const SceneState played = playedTo(f, target);

            // Straight there, after the scene was stirred.
            ShowRun& run = runOf(f);
            stir();
            playSceneTo(run, f, target);
            EXPECT_EQ(run.frame(), target);
            expectSameState(stateOf(*player_), played, where + " straight");

            // Back from a later frame (from a snapshot), after another stir.
            playSceneTo(run, f, f.last);
            stir();
            playSceneTo(run, f, f.last);
            playSceneTo(run, f, target);
            expectSameState(stateOf(*player_), played, where + " from the end");

            // Forwards beat by beat, continuing each time, from a fresh run.
            ShowRun& again = runOf(f);
            for (long k = f.first; k < target; k += beat)
                playSceneTo(again, f, k);
            playSceneTo(again, f, target);
            expectSameState(stateOf(*player_), played, where + " beat by beat");
        }
    }
}

TEST_F(ScrubTest, FramesOutsideTheSceneClampToItsEnds)
{
    const SceneFrames f = sceneFrames(5, player_->paths.pathDurations, TRACK_SECONDS);
    const SceneState last = playedTo(f, f.last);
    ShowRun& run = runOf(f);
    playSceneTo(run, f, f.last + 1000);
    EXPECT_EQ(run.frame(), f.last);
    expectSameState(stateOf(*player_), last, "past the end");
    const SceneState first = playedTo(f, f.first);
    playSceneTo(run, f, f.first - 50);
    EXPECT_EQ(run.frame(), f.first);
    expectSameState(stateOf(*player_), first, "before the start");
}

// Return with a loop at a quarter of the speed: the music, read once per
// frame of a 60 Hz display, moves a quarter of a frame each time. Every frame
// of the loop shows for about four display frames, each is the frame the
// scene reaches when played from its start (the capture's), and the second
// time round shows exactly the frames of the first.
TEST_F(ScrubTest, ALoopInSlowMotionShowsThePlayedFramesAndTheSameOnesEachTimeRound)
{
    const SceneFrames f = sceneFrames(6, player_->paths.pathDurations, TRACK_SECONDS);
    const long from = f.first + 20, end = f.first + 44;
    LoopRegion loop;
    loop.hasStart = loop.hasEnd = true;
    loop.start = f.clock.fraction(from);
    loop.end = f.clock.fraction(end);
    ShowRun& run = runOf(f);
    playSceneTo(run, f, from);   // Return puts the scene at the loop's start

    struct Shown {
        long      frame;
        int       times;   // display frames it stayed for
        SceneState state;
    };
    std::vector<std::vector<Shown>> rounds(1);
    const double perDisplayFrame = 0.25 / (SCRUB_FPS * TRACK_SECONDS);
    double music = loop.start;
    for (int n = 0; rounds.size() < 3 && n < 1000; ++n, music += perDisplayFrame) {
        const PlaybackStep step = stepPlayback(run, f, loop, music);
        ASSERT_FALSE(step.ended);
        if (step.wrapped) {
            rounds.emplace_back();
            music = f.clock.fraction(step.frame);   // the music goes back with the picture
        }
        std::vector<Shown>& round = rounds.back();
        if (!round.empty() && round.back().frame == step.frame)
            ++round.back().times;
        else
            round.push_back(Shown{ step.frame, 1, stateOf(*player_) });
    }
    ASSERT_EQ(rounds.size(), 3u) << "two whole rounds";
    for (int r = 0; r < 2; ++r) {
        const std::vector<Shown>& round = rounds[size_t(r)];
        ASSERT_EQ(round.size(), size_t(end - from)) << "round " << r << ": every frame of the loop, once each";
        for (size_t i = 0; i < round.size(); ++i) {
            EXPECT_EQ(round[i].frame, from + long(i));
            EXPECT_GE(round[i].times, 3) << "frame " << round[i].frame;
            EXPECT_LE(round[i].times, 5) << "frame " << round[i].frame;
        }
    }
    for (size_t i = 0; i < rounds[0].size(); ++i) {
        const std::string where = "frame " + std::to_string(rounds[0][i].frame);
        expectSameState(rounds[1][i].state, rounds[0][i].state, where + ", the second time round");
        if (i % 6 == 0)
            expectSameState(rounds[0][i].state, playedTo(f, rounds[0][i].frame), where + " against the played scene");
    }
}

// Without a loop the playback ends on the scene's last frame.
TEST_F(ScrubTest, PlaybackEndsOnTheScenesLastFrame)
{
    const SceneFrames f = sceneFrames(4, player_->paths.pathDurations, TRACK_SECONDS);
    ShowRun& run = runOf(f);
    playSceneTo(run, f, f.last - 3);
    PlaybackStep step;
    for (long k = f.last - 2; k <= f.last + 2 && !step.ended; ++k)
        step = stepPlayback(run, f, LoopRegion{}, f.clock.fraction(k));
    EXPECT_TRUE(step.ended);
    EXPECT_EQ(step.frame, f.last);
    expectSameState(stateOf(*player_), playedTo(f, f.last), "the last frame");
}

TEST(ScrubStatus, ClockTextAndFrameTimes)
{
    EXPECT_EQ(clockText(0.0), "0:00.000");
    EXPECT_EQ(clockText(125.1234), "2:05.123");
    EXPECT_EQ(clockText(59.9996), "1:00.000");
    EXPECT_EQ(clockText(-1.0), "-");
    FrameTimes t;
    // 30 frames of 10 ms then one of 80 ms, all within the last second.
    double now = 100.0;
    for (int i = 0; i < 30; ++i)
        t.add(now += 0.010, 0.010);
    t.add(now += 0.080, 0.080);
    EXPECT_EQ(t.rate(), 31.0);
    EXPECT_NEAR(t.median(), 10.0, 1e-9);
    EXPECT_NEAR(t.worst(), 80.0, 1e-9);
    t.add(now + 2.0, 0.020);   // two seconds later only the new frame counts
    EXPECT_EQ(t.rate(), 1.0);
    EXPECT_NEAR(t.worst(), 20.0, 1e-9);
}
