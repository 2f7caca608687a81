// tests/path_player_test.cpp: the show's scene sequencing and scripts, driven
// with a made-up music position instead of the sound device. Every player is
// built from an empty temporary folder, so the committed flights never matter.
#include "app/Render.h"
#include "app/Settings.h"
#include "app/Shell.h"
#include "gfx/Texture.h"
#include "iso/IsoSurface.h"
#include "path/Camera.h"
#include "path/PathPlayer.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

namespace {

constexpr float ELEVENTH = 1.0f / 11.0f;

// A fresh player over an empty folder (default flights, default durations),
// playing on from scene to scene as the show does unless a test asks for one
// scene only (the tool).
class PathPlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        player_ = std::make_unique<PathPlayer>();
        constructPathPlayer(*player_, dir_.path().c_str());
    }

    PathPlayer& player() { return *player_; }
    Overlay& front() { return player_->show.frontOverlay; }

    // Starts scene n at music position t (two updates: the start block and
    // nothing more happen in the first).
    void startAt(int n, float t)
    {
        startPath(*player_, n);
        updatePlayer(*player_, t);
    }

    // Update at progress f of the running scene.
    void updateAtFraction(float f)
    {
        PathPlayer& p = *player_;
        updatePlayer(p, p.pathStartTime + f * p.paths.pathDurations[p.pathIndex]);
    }

    TempDir                     dir_;
    std::unique_ptr<PathPlayer> player_;
};

} // namespace

TEST_F(PathPlayerTest, ConstructionGivesTheIdleStateAndDefaultDurations)
{
    const PathPlayer& p = player();
    EXPECT_FALSE(p.playing);
    EXPECT_EQ(p.pathIndex, 0);
    EXPECT_EQ(p.pathStartTime, -1.0f);
    EXPECT_EQ(p.show.glowAmount, -1.0f);
    EXPECT_EQ(p.show.frontOverlay.type, OVERLAY_NONE);
    EXPECT_EQ(p.show.backOverlay.alpha, 0.0f);
    EXPECT_EQ(p.step, 0.0f);
    EXPECT_EQ(p.levelCounterA, 5.0f);
    EXPECT_EQ(p.levelCounterB, 5.0f);
    EXPECT_FALSE(p.titleShown || p.scene2Placed || p.scene2Faded || p.scene3Flashed || p.creditsShown);
    for (int i = 0; i < SCENE_ENTRIES; ++i)
        EXPECT_EQ(p.paths.pathDurations[i], DEFAULT_PATH_DURATIONS[i]) << "scene " << i;
    // An empty folder gives every scene the default flight.
    EXPECT_EQ(p.paths.pairs[3].position.points.size(), 2u);
}

TEST_F(PathPlayerTest, SceneTableRunsTheTenScenesInStepWithTheTrack)
{
    // Where each scene ends on the track, in order.
    float ends[11] = { 0.0f, 0.064f, 0.1419f };
    for (int n = 3; n <= 9; ++n)
        ends[n] = 0.1419f + (n - 2) * ELEVENTH;
    ends[10] = 1.0f;

    // Each scene starts at the first update after the previous one ended, a
    // little past the boundary; its end is measured from that start.
    constexpr float NUDGE = 2e-5f;
    PathPlayer& p = player();
    startPath(p, 1);
    float t = 0.0f;
    for (int n = 1; n <= 10; ++n) {
        SCOPED_TRACE(n);
        updatePlayer(p, t);   // the start block
        EXPECT_EQ(p.pathIndex, n);
        EXPECT_EQ(p.pathStartTime, t);
        EXPECT_NEAR(t, ends[n - 1], 1e-5f + (n - 1) * NUDGE);
        const float end = n < 10 ? t + (ends[n] - ends[n - 1]) : 1.0f;
        updatePlayer(p, end - NUDGE);
        EXPECT_TRUE(p.playing);
        EXPECT_EQ(p.pathIndex, n) << "scene " << n << " ended early";
        t = end + NUDGE;
        updatePlayer(p, t);
        if (n < 10) {
            EXPECT_TRUE(p.playing);
            EXPECT_EQ(p.pathIndex, n + 1) << "scene " << n << " did not end";
            EXPECT_EQ(p.pathStartTime, -1.0f);
        }
    }
    EXPECT_FALSE(p.playing) << "playback ends after scene 10";
    EXPECT_EQ(p.pathIndex, 10);
    EXPECT_NEAR(p.paths.pathDurations[10], 1.0f - ends[9], 1e-3f);
}

TEST_F(PathPlayerTest, StartedWithSceneFourSeeksToItAndStopsAfterIt)
{
    player().oneScene = true;
    PathPlayer& p = player();
    const float seek = startPositionSum(4, p.paths.pathDurations);
    EXPECT_NEAR(seek, 0.064f + 0.0779f + ELEVENTH, 1e-6f);

    startAt(4, seek);
    EXPECT_TRUE(p.playing);
    EXPECT_EQ(p.pathIndex, 4);
    EXPECT_EQ(p.pathStartTime, seek);
    EXPECT_EQ(p.show.skyboxSlot, SLOT_SKY);
    EXPECT_EQ(isoSurface.palette, 9);

    updatePlayer(p, seek + ELEVENTH * 0.5f);
    EXPECT_TRUE(p.playing);
    updatePlayer(p, seek + ELEVENTH + 1e-5f);
    EXPECT_FALSE(p.playing);
    EXPECT_EQ(p.pathIndex, 4) << "with a command-line scene the show does not move on";
    updatePlayer(p, seek + ELEVENTH + 2e-5f);   // the frame loop would not call it; still nothing moves
    EXPECT_EQ(p.pathIndex, 4);
}

TEST_F(PathPlayerTest, SceneZeroMovesOnToSceneOneOnlyWithoutACommandLineScene)
{
    PathPlayer& p = player();
    startAt(0, 0.0f);
    EXPECT_TRUE(p.playing);
    EXPECT_EQ(p.pathIndex, 1);

    p.oneScene = true;
    startAt(0, 0.0f);
    EXPECT_FALSE(p.playing);
    EXPECT_EQ(p.pathIndex, 0);
}

TEST_F(PathPlayerTest, SceneOutsideTheTableEndsPlayback)
{
    PathPlayer& p = player();
    startAt(-3, 0.2f);
    EXPECT_FALSE(p.playing);
    EXPECT_EQ(p.pathIndex, -3);

    p.pathIndex = 12;   // not reachable through startPath; must not read past the table
    p.playing = true;
    updatePlayer(p, 0.3f);
    EXPECT_FALSE(p.playing);
}

TEST_F(PathPlayerTest, SceneOneFadesTheTitleInHoldsAndFadesOut)
{
    PathPlayer& p = player();
    startAt(1, 0.0f);
    EXPECT_EQ(front().type, OVERLAY_TITLE);
    EXPECT_TRUE(p.titleShown);
    EXPECT_EQ(p.show.skyboxSlot, 0);

    const struct { float f, alpha, level; } rows[] = { { 0.1f, 0.3f, 13.0f }, { 0.5f, 1.0f, 20.0f },
                                                       { 0.9f, 0.3f, 13.0f } };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.f);
        updateAtFraction(row.f);
        EXPECT_EQ(front().type, OVERLAY_TITLE);
        EXPECT_NEAR(front().alpha, row.alpha, 1e-4f);
        EXPECT_NEAR(isoSurface.isoLevel, row.level, 1e-3f);
    }
}

TEST_F(PathPlayerTest, SceneTwoFadesInFromBlackAndOutToWhite)
{
    PathPlayer& p = player();
    startAt(2, 0.064f);
    EXPECT_EQ(isoSurface.palette, 1);
    EXPECT_EQ(isoSurface.placementMode, 1);
    EXPECT_EQ(isoSurface.sourceCount, 5);

    updateAtFraction(0.1f);
    EXPECT_EQ(front().type, OVERLAY_BLACK);
    EXPECT_NEAR(front().alpha, 0.7f, 1e-4f);
    updateAtFraction(0.5f);
    EXPECT_EQ(front().type, OVERLAY_NONE);
    updateAtFraction(0.99f);
    EXPECT_EQ(front().type, OVERLAY_WHITE);
    EXPECT_NEAR(front().alpha, 0.5f, 1e-3f);
    EXPECT_TRUE(p.playing);
}

TEST_F(PathPlayerTest, SceneThreeOpensWithAWhiteFlash)
{
    startAt(3, 0.1419f);
    EXPECT_EQ(front().type, OVERLAY_WHITE);
    EXPECT_NEAR(front().alpha, 1.0f, 1e-6f);
    updateAtFraction(0.01f);
    EXPECT_EQ(front().type, OVERLAY_WHITE);
    EXPECT_NEAR(front().alpha, 0.5f, 1e-3f);
    updateAtFraction(0.5f);
    EXPECT_EQ(front().type, OVERLAY_NONE);
}

TEST_F(PathPlayerTest, EveryStartSetsTheScenesOwnState)
{
    struct Row {
        int   scene;
        float glow;
        int   sky;
        bool  brightGlow;
        int   placement, count, palette, material, texture;
        bool  negate, byPosition;
    };
    // Scenes 1..3 and 10 set palettes and overlays the fade tests check.
    const Row rows[] = {
        { 3, 2.0f, SLOT_SKY, false, 2, 45, 13, MATERIAL_MATTE, 0, false, false },
        { 4, -1.0f, SLOT_SKY, false, 0, 0, 9, MATERIAL_MATTE, 0, false, false },
        { 5, -1.0f, SLOT_SKY, false, 7, 5, 9, 2, SLOT_PASTEL, true, false },
        { 6, -1.0f, SLOT_SKY, false, 5, 10, 12, MATERIAL_MATTE, SLOT_PASTEL, false, false },
        { 7, 2.0f, SLOT_SKY, true, 6, 5, 13, 2, 0, false, false },
        { 8, -1.0f, SLOT_SKY, false, 3, 25, 2, 2, 0, false, true },
        { 9, -1.0f, SLOT_SKY, false, 4, 10, 2, 2, SLOT_PASTEL, false, true },
        { 10, -1.0f, 0, false, 1, 5, 1, MATERIAL_MATTE, 0, false, false },
    };
    PathPlayer& p = player();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scene);
        // Leftovers of an earlier scene that every start must clear.
        p.show.backOverlay = Overlay{ OVERLAY_CREDITS, 0.7f };
        p.show.frontOverlay = Overlay{ OVERLAY_WHITE, 0.6f };
        p.show.drawActors = true;
        p.show.brightGlow = true;
        p.show.glowAmount = 9.0f;
        isoSurface.negateSources = true;
        isoSurface.colourByPosition = true;
        isoSurface.textureSlot = 4;

        startAt(row.scene, 0.5f);
        EXPECT_EQ(p.pathStartTime, 0.5f);
        EXPECT_EQ(p.show.glowAmount, row.glow);
        EXPECT_EQ(p.show.skyboxSlot, row.sky);
        EXPECT_EQ(p.show.brightGlow, row.brightGlow);
        EXPECT_FALSE(p.show.drawActors);
        EXPECT_EQ(isoSurface.placementMode, row.placement);
        EXPECT_EQ(isoSurface.sourceCount, row.count);
        EXPECT_EQ(isoSurface.palette, row.palette);
        EXPECT_EQ(isoSurface.materialMode, row.material);
        EXPECT_EQ(isoSurface.textureSlot, row.texture);
        EXPECT_EQ(isoSurface.negateSources, row.negate);
        EXPECT_EQ(isoSurface.colourByPosition, row.byPosition);
        if (row.scene >= 4 && row.scene <= 9) {
            EXPECT_EQ(p.show.backOverlay.type, OVERLAY_NONE);
            EXPECT_EQ(p.show.backOverlay.alpha, 0.0f);
            EXPECT_EQ(front().type, OVERLAY_NONE);
            EXPECT_EQ(front().alpha, 0.0f);
        }
    }
}

TEST_F(PathPlayerTest, SceneNineSwitchesGlowAtAThirdAndAgainPastTheMiddle)
{
    PathPlayer& p = player();
    startAt(9, 0.6f);
    EXPECT_EQ(p.show.glowAmount, -1.0f);
    EXPECT_EQ(isoSurface.textureSlot, SLOT_PASTEL);
    updateAtFraction(0.4f);
    EXPECT_TRUE(p.show.brightGlow);
    EXPECT_EQ(p.show.glowAmount, 2.0f);
    EXPECT_EQ(isoSurface.textureSlot, 0);
    updateAtFraction(0.7f);
    EXPECT_FALSE(p.show.brightGlow);
    EXPECT_EQ(p.show.glowAmount, 4.0f);
}

TEST_F(PathPlayerTest, SceneTenRunsTheCreditsToTheEndOfTheTrack)
{
    PathPlayer& p = player();
    startAt(10, 0.8f);
    EXPECT_NEAR(p.paths.pathDurations[10], 0.2f, 1e-6f);
    EXPECT_EQ(p.show.backOverlay.type, OVERLAY_CREDITS);
    EXPECT_EQ(p.show.backOverlay.alpha, 1.0f);
    EXPECT_EQ(front().type, OVERLAY_BLACK);
    EXPECT_NEAR(front().alpha, 1.0f, 1e-6f);

    updatePlayer(p, 0.8f + 0.2f * 0.15f);
    EXPECT_EQ(front().type, OVERLAY_BLACK);
    EXPECT_NEAR(front().alpha, 0.55f, 1e-3f);
    updatePlayer(p, 0.8f + 0.2f * 0.5f);
    EXPECT_NEAR(front().alpha, 0.0f, 1e-6f);
    updatePlayer(p, 0.8f + 0.2f * 0.9f);
    EXPECT_EQ(front().type, OVERLAY_WHITE);
    EXPECT_NEAR(front().alpha, 0.7f, 1e-3f);
    EXPECT_TRUE(p.playing);
    updatePlayer(p, 1.0f);
    EXPECT_FALSE(p.playing);
}

TEST_F(PathPlayerTest, LevelCountersRunSixToEighteenAndWrap)
{
    PathPlayer& p = player();
    startPath(p, 6);
    float t = 0.4f;
    for (int i = 0; i < 15; ++i) {
        updatePlayer(p, t);
        t += 1e-4f;
        const float expected = float(6 + i % 13);
        EXPECT_EQ(p.levelCounterA, expected) << "update " << i;
        EXPECT_EQ(isoSurface.isoLevel, expected) << "update " << i;
    }
    EXPECT_EQ(p.levelCounterA, 7.0f);

    // Never reset: a replayed scene continues the count, and scene 9 has its own.
    restartPath(p);
    updatePlayer(p, 0.4f);
    EXPECT_EQ(p.levelCounterA, 8.0f);
    EXPECT_EQ(p.levelCounterB, 5.0f);
    startAt(9, 0.6f);
    EXPECT_EQ(p.levelCounterB, 6.0f);
    EXPECT_EQ(isoSurface.isoLevel, 6.0f);
    EXPECT_EQ(p.levelCounterA, 8.0f);
}

TEST_F(PathPlayerTest, LatchedStepsHappenOncePerRun)
{
    player().oneScene = true;
    PathPlayer& p = player();

    // Scene 1: the title only on the first run; a replay keeps type 0.
    startAt(1, 0.0f);
    updatePlayer(p, 0.032f);
    EXPECT_EQ(front().type, OVERLAY_TITLE);
    updatePlayer(p, 0.0641f);
    EXPECT_FALSE(p.playing);
    restartPath(p);
    updatePlayer(p, 0.0f);
    updatePlayer(p, 0.032f);
    EXPECT_EQ(front().type, OVERLAY_NONE);
    EXPECT_NEAR(front().alpha, 1.0f, 1e-4f);

    // Scene 2: placement and the black fade only the first time.
    startAt(2, 0.064f);
    EXPECT_EQ(front().type, OVERLAY_BLACK);
    EXPECT_EQ(isoSurface.placementMode, 1);
    restartPath(p);
    updatePlayer(p, 0.064f);
    EXPECT_EQ(front().type, OVERLAY_NONE);
    EXPECT_EQ(isoSurface.placementMode, 0);
    EXPECT_EQ(isoSurface.sourceCount, 0);

    // Scene 3: the flash.
    startAt(3, 0.1419f);
    EXPECT_EQ(front().type, OVERLAY_WHITE);
    restartPath(p);
    updatePlayer(p, 0.1419f);
    EXPECT_EQ(front().type, OVERLAY_NONE);

    // Scene 10: the credits.
    startAt(10, 0.8f);
    EXPECT_EQ(p.show.backOverlay.type, OVERLAY_CREDITS);
    restartPath(p);
    updatePlayer(p, 0.8f);
    EXPECT_EQ(p.show.backOverlay.type, OVERLAY_NONE);
    EXPECT_EQ(front().type, OVERLAY_NONE);

    EXPECT_TRUE(p.titleShown && p.scene2Placed && p.scene2Faded && p.scene3Flashed && p.creditsShown);
}

TEST_F(PathPlayerTest, StartPathElevenChangesNothing)
{
    PathPlayer& p = player();
    startAt(3, 0.2f);
    updatePlayer(p, 0.21f);
    startPath(p, 11);
    EXPECT_EQ(p.pathIndex, 3);
    EXPECT_EQ(p.pathStartTime, 0.2f);
    EXPECT_TRUE(p.playing);

    stopPath(p);
    startPath(p, 11);
    EXPECT_FALSE(p.playing);
    restartPath(p);
    EXPECT_TRUE(p.playing);
    EXPECT_EQ(p.pathStartTime, -1.0f);
    EXPECT_EQ(p.pathIndex, 3);
}

TEST_F(PathPlayerTest, NegativeMusicPositionStopsPlayback)
{
    PathPlayer& p = player();
    startAt(5, 0.3f);
    updatePlayer(p, 0.31f);
    const float step = p.step;
    updatePlayer(p, -1.0f);
    EXPECT_FALSE(p.playing);
    EXPECT_EQ(p.songPosition, -1.0f);
    EXPECT_EQ(p.previousSongPosition, 0.31f);
    EXPECT_EQ(p.step, step) << "no step is taken";
    EXPECT_EQ(p.pathIndex, 5);
}

TEST_F(PathPlayerTest, StepIsSeventyFiveTimesTheTrackChangeAndDrivesTheSubsystems)
{
    PathPlayer& p = player();
    startAt(4, 0.25f);
    // The start block reset the effect time; the update then stepped it.
    EXPECT_NEAR(p.step, 0.25f * 75.0f, 1e-4f);
    const float before = isoSurface.timeMs;
    updatePlayer(p, 0.27f);
    EXPECT_NEAR(p.step, 1.5f, 1e-4f);
    EXPECT_NEAR(isoSurface.timeMs - before, 1500.0f, 0.5f);
}

TEST_F(PathPlayerTest, CameraFliesTheScenesPathPair)
{
    // Scene 5 gets a four-key flight in the player's own folder.
    {
        std::ofstream pos(positionPathName(dir_.path(), 5));
        pos << "4\n0 0 0\n10 0 0\n20 10 0\n30 10 5\n";
        std::ofstream rot(rotationPathName(dir_.path(), 5));
        rot << "4\n0 0 0\n10 20 0\n20 40 0\n30 60 0\n";
    }
    constructPathPlayer(player(), dir_.path().c_str());
    PathPlayer& p = player();
    ASSERT_EQ(p.paths.pairs[5].position.points.size(), 4u);

    startAt(5, 0.3f);
    EXPECT_NEAR(camera.position.x, 0.0f, 1e-4f);
    EXPECT_NEAR(camera.position.y, 0.0f, 1e-4f);
    EXPECT_NEAR(camera.angles.y, 0.0f, 1e-4f);
    EXPECT_EQ(camera.distance, 0.0f);

    PathPair reference = p.paths.pairs[5];
    Float3 position, angles;
    samplePair(reference, 0.5f, position, angles);
    updateAtFraction(0.5f);
    EXPECT_NEAR(camera.position.x, position.x, 1e-3f);
    EXPECT_NEAR(camera.position.y, position.y, 1e-3f);
    EXPECT_NEAR(camera.position.z, position.z, 1e-3f);
    EXPECT_NEAR(camera.angles.x, angles.x, 1e-3f);
    EXPECT_NEAR(camera.angles.y, angles.y, 1e-3f);
    EXPECT_GT(camera.position.x, 5.0f);
    EXPECT_LT(camera.position.x, 25.0f);
}
