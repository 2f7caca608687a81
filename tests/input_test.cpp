// tests/input_test.cpp: the three input situations, the free camera and the
// authoring keys, driven without a window.
#include "app/Input.h"

#include "app/Settings.h"
#include "app/Shell.h"
#include "iso/IsoSurface.h"
#include "iso/Particles.h"
#include "model/Actors.h"
#include "path/Camera.h"
#include "path/PathPlayer.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace {

SDL_Event keyEvent(SDLKey sym)
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_KEYDOWN;
    e.key.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    e.key.keysym.sym = sym;
    return e;
}

SDL_Event motionEvent(int x, int y)
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_MOUSEMOTION;
    e.motion.type = SDL_MOUSEMOTION;
    e.motion.x = static_cast<Uint16>(x);
    e.motion.y = static_cast<Uint16>(y);
    return e;
}

class Input : public testing::Test {
protected:
    void SetUp() override
    {
        applyCommandLineMode(2, appSettings);   // the authoring tool, 800 x 600
        appSettings.lookRate = 0.3f;
        pathPlayer.playing = false;
        pathPlayer.pathIndex = 3;
        pathPlayer.show.drawActors = false;
        quitRequested = false;
        renderFlags = RENDER_FLAGS_START_LOW_BYTE;
        moveSpeed = MOVE_SPEED_START;
        motionHandled = false;
        camera = Camera{};
        setTarget(camera, Float3(0, 0, 0), Float3(0, 0, 0), 0.0f, CAMERA_HOLD, 0.0f);
        updateCamera(camera, 0.0f);
        std::memset(keys, 0, sizeof keys);
        // Cursor back to the centre: no mouse look.
        const Float3 c = actorCursor(actorScene, 0);
        moveActorCursor(actorScene, 0, static_cast<float>(appSettings.centerX) - c.x,
                        static_cast<float>(appSettings.centerY) - c.y, appSettings.screenWidth,
                        appSettings.screenHeight);
    }

    void press(SDLKey sym) { handleEvent(keyEvent(sym)); }

    Uint8 keys[SDLK_LAST];
};

} // namespace

TEST_F(Input, SpeedKeysDoubleAndHalveDownToTheFloor)
{
    moveSpeed = 15.0f;
    press(SDLK_MINUS);
    EXPECT_FLOAT_EQ(moveSpeed, 10.0f);
    press(SDLK_8);
    EXPECT_FLOAT_EQ(moveSpeed, 10.0f);
    moveSpeed = 90.0f;
    press(SDLK_PLUS);
    EXPECT_FLOAT_EQ(moveSpeed, 180.0f);
    press(SDLK_9);
    EXPECT_FLOAT_EQ(moveSpeed, 360.0f);
}

TEST_F(Input, LaterArrowKeysWin)
{
    keys[SDLK_LEFT] = keys[SDLK_RIGHT] = 1;
    keys[SDLK_UP] = keys[SDLK_DOWN] = 1;
    updateFrameWithKeys(1.0f, keys);
    EXPECT_FLOAT_EQ(camera.targetAngles.y, 0.3f * 90.0f);    // right
    EXPECT_FLOAT_EQ(camera.targetAngles.x, -0.3f * 90.0f);   // down
    EXPECT_FLOAT_EQ(camera.angles.y, camera.targetAngles.y) << "mode 0 follows at once";
}

TEST_F(Input, PitchIsClampedAndYawIsNotWrapped)
{
    keys[SDLK_UP] = keys[SDLK_RIGHT] = 1;
    for (int i = 0; i < 40; ++i)
        updateFrameWithKeys(1.0f, keys);
    EXPECT_EQ(camera.targetAngles.x, 90.0f);
    EXPECT_FLOAT_EQ(camera.targetAngles.y, 40 * 27.0f);
    keys[SDLK_UP] = 0;
    keys[SDLK_DOWN] = 1;
    for (int i = 0; i < 40; ++i)
        updateFrameWithKeys(1.0f, keys);
    EXPECT_EQ(camera.targetAngles.x, -90.0f);
}

TEST_F(Input, WithoutLookRateNothingTurnsButWalkingWorks)
{
    appSettings.lookRate = 0.0f;
    keys[SDLK_LEFT] = keys[SDLK_UP] = keys[SDLK_w] = keys[SDLK_f] = 1;
    updateFrameWithKeys(0.5f, keys);
    EXPECT_EQ(camera.targetAngles.x, 0.0f);
    EXPECT_EQ(camera.targetAngles.y, 0.0f);
    // At zero angles right = (1, 0, 0), so forward = (0, 0, -1).
    EXPECT_FLOAT_EQ(camera.targetPosition.z, -45.0f);
    EXPECT_FLOAT_EQ(camera.targetPosition.y, 45.0f);
    keys[SDLK_w] = keys[SDLK_f] = 0;
    keys[SDLK_d] = 1;
    updateFrameWithKeys(0.5f, keys);
    EXPECT_FLOAT_EQ(camera.targetPosition.x, 45.0f);
}

TEST_F(Input, DeadZoneTurnsOnlyByTheExcess)
{
    EXPECT_EQ(deadZoneInput(0.0f, 200.0f), 0.0f);
    EXPECT_EQ(deadZoneInput(200.0f, 200.0f), 0.0f);
    EXPECT_EQ(deadZoneInput(-199.0f, 200.0f), 0.0f);
    EXPECT_EQ(deadZoneInput(250.0f, 200.0f), 50.0f);
    EXPECT_EQ(deadZoneInput(-260.0f, 200.0f), -60.0f);

    // Cursor parked 300 px right of the centre at 800 wide: excess 100.
    moveActorCursor(actorScene, 0, 300.0f, 0.0f, appSettings.screenWidth, appSettings.screenHeight);
    updateFrameWithKeys(1.0f, keys);
    EXPECT_FLOAT_EQ(camera.targetAngles.y, 0.3f * 100.0f);
    EXPECT_EQ(camera.targetAngles.x, 0.0f);
    updateFrameWithKeys(1.0f, keys);
    EXPECT_FLOAT_EQ(camera.targetAngles.y, 0.6f * 100.0f) << "a parked cursor keeps turning";
}

TEST_F(Input, OnlyTheFirstMotionOfADrainMovesTheCursor)
{
    const Float3 before = actorCursor(actorScene, 0);
    handleEvent(motionEvent(appSettings.centerX + 30, appSettings.centerY - 20));
    handleEvent(motionEvent(appSettings.centerX + 100, appSettings.centerY + 100));
    EXPECT_FLOAT_EQ(actorCursor(actorScene, 0).x, before.x + 30.0f);
    EXPECT_FLOAT_EQ(actorCursor(actorScene, 0).y, before.y + 20.0f) << "screen y grows downwards";
    handleEvents();   // drains nothing, clears the flag
    EXPECT_FALSE(motionHandled);
    handleEvent(motionEvent(appSettings.centerX - 10, appSettings.centerY));
    EXPECT_FLOAT_EQ(actorCursor(actorScene, 0).x, before.x + 20.0f);
}

TEST_F(Input, SingleStepAdvancesByASixtiethAlsoWhilePaused)
{
    press(SDLK_p);
    ASSERT_TRUE(renderFlags & FLAG_PAUSED);
    // From effect time 0: earlier tests of the process may have run the
    // isosurface for minutes, where float steps of a millisecond time are
    // coarser than the tolerance.
    isoSurface.timeMs = 0.0f;
    press(SDLK_z);
    EXPECT_NEAR(isoSurface.timeMs, 0.016666668f * 1000.0f, 1e-3f);
    press(SDLK_p);
    EXPECT_FALSE(renderFlags & FLAG_PAUSED);
}

TEST_F(Input, ToggleKeysAndKeysAbove255)
{
    press(SDLK_g);
    EXPECT_TRUE(renderFlags & FLAG_GRID);
    press(SDLK_m);
    EXPECT_TRUE(renderFlags & FLAG_CAPTION);
    press(SDLK_j);
    press(SDLK_F2);      // low byte 27, like Escape
    press(SDLK_F7);      // low byte 32, like Space
    press(SDLK_CAPSLOCK);
    EXPECT_FALSE(quitRequested);
    EXPECT_FLOAT_EQ(moveSpeed, MOVE_SPEED_START);
    press(SDLK_ESCAPE);
    EXPECT_TRUE(quitRequested);
}

TEST_F(Input, EscapeDuringAuthoringPlaybackStopsThePathOnly)
{
    pathPlayer.playing = true;
    EXPECT_EQ(inputSituation(), INPUT_PLAYBACK);
    press(SDLK_g);
    EXPECT_FALSE(renderFlags & FLAG_GRID) << "other keys do nothing during playback";
    press(SDLK_ESCAPE);
    EXPECT_FALSE(pathPlayer.playing);
    EXPECT_FALSE(quitRequested);
    EXPECT_EQ(inputSituation(), INPUT_FREE_CAMERA);
    press(SDLK_ESCAPE);
    EXPECT_TRUE(quitRequested);
}

TEST_F(Input, ReplayKeyRestartsTheScene)
{
    pathPlayer.pathStartTime = 0.3f;
    press(SDLK_n);
    EXPECT_TRUE(pathPlayer.playing);
    EXPECT_EQ(pathPlayer.pathStartTime, -1.0f);
    EXPECT_EQ(pathPlayer.pathIndex, 3);
}

TEST_F(Input, TheShowOnlyHearsEscapeBeatAndClose)
{
    applyCommandLineMode(1, appSettings);
    pathPlayer.playing = true;
    EXPECT_EQ(inputSituation(), INPUT_SHOW);
    press(SDLK_g);
    press(SDLK_p);
    press(SDLK_PLUS);
    press(SDLK_SPACE);
    EXPECT_EQ(renderFlags, RENDER_FLAGS_START_LOW_BYTE);
    EXPECT_FLOAT_EQ(moveSpeed, MOVE_SPEED_START);
    testing::internal::CaptureStderr();
    press(SDLK_b);
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("Beat at: ", 0), 0u);
    EXPECT_FALSE(quitRequested);
    SDL_Event quit;
    std::memset(&quit, 0, sizeof quit);
    quit.type = SDL_QUIT;
    handleEvent(quit);
    EXPECT_TRUE(quitRequested);
}

// --- The camera stays finite, and so do the keys ---------------------------------------

TEST_F(Input, SpeedDoublingStopsAtTheCeilingAndWalkingStaysFinite)
{
    for (int i = 0; i < 130; ++i)
        press(SDLK_9);
    EXPECT_FLOAT_EQ(moveSpeed, MOVE_SPEED_CEILING);
    press(SDLK_PLUS);
    EXPECT_FLOAT_EQ(moveSpeed, MOVE_SPEED_CEILING);
    // An hour of walking forward and up at the top speed.
    keys[SDLK_w] = keys[SDLK_f] = 1;
    for (int i = 0; i < 60; ++i)
        updateFrameWithKeys(60.0f, keys);
    for (int a = 0; a < 3; ++a)
        EXPECT_TRUE(std::isfinite(camera.position[a])) << a;
    press(SDLK_MINUS);
    EXPECT_FLOAT_EQ(moveSpeed, MOVE_SPEED_CEILING * 0.5f);
}

TEST_F(Input, APoseThatIsNotFiniteIsNeverRecorded)
{
    TempDir dir;
    const std::string oldFolder = pathPlayer.paths.folder;
    testing::internal::CaptureStderr();
    loadAllPaths(pathPlayer.paths, dir.path());
    clearPair(pathPlayer.paths, 3);
    press(SDLK_SPACE);   // a sane key at the origin
    const float inf = std::numeric_limits<float>::infinity();
    setTarget(camera, Float3(0, 10, 0), Float3(inf, 0, -inf), 0.0f, CAMERA_HOLD, 0.0f);
    updateCamera(camera, 0.0f);
    press(SDLK_SPACE);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("The camera's pose is not finite; no key was recorded"), std::string::npos) << err;
    EXPECT_EQ(pathPlayer.paths.pairs[3].position.points.size(), 1u);
    EXPECT_EQ(readFile(dir.path() + "/pos_path3.txt"), "1\n0.000000 0.000000 0.000000\n");
    for (int a = 0; a < 3; ++a)
        EXPECT_EQ(camera.position[a], 0.0f) << "back on the flight's last key";
    testing::internal::CaptureStderr();
    loadAllPaths(pathPlayer.paths, oldFolder);
    testing::internal::GetCapturedStderr();
}
