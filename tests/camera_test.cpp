// tests/camera_test.cpp: target blending modes and the derived view vectors.
#include "path/Camera.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Camera, ConstructionAndHoldMode)
{
    Camera c;
    EXPECT_EQ(c.right.x, 1.0f);
    EXPECT_EQ(c.up.y, 1.0f);
    setTarget(c, Float3(10, 20, 30), Float3(1, 2, 3), 50.0f, CAMERA_HOLD, 1.0f);
    EXPECT_EQ(c.angles.y, 20.0f);
    EXPECT_EQ(c.position.z, 3.0f);
    EXPECT_EQ(c.distance, 50.0f);
    updateCamera(c, 0.5f);
    EXPECT_EQ(c.position.z, 3.0f);
}

TEST(Camera, LinearModeMovesProportionallyAndOvershootsOnce)
{
    Camera c;
    setTarget(c, Float3(0, 0, 0), Float3(0, 0, 0), 0.0f, CAMERA_HOLD, 0.0f);
    setTarget(c, Float3(40, 0, 0), Float3(100, 0, 0), 8.0f, CAMERA_LINEAR, 1.0f);
    EXPECT_EQ(c.position.x, 0.0f) << "mode 1 does not jump";
    updateCamera(c, 0.25f);
    EXPECT_FLOAT_EQ(c.position.x, 25.0f);
    EXPECT_FLOAT_EQ(c.angles.x, 10.0f);
    EXPECT_FLOAT_EQ(c.distance, 2.0f);
    EXPECT_FLOAT_EQ(c.timeLeft, 0.75f);

    // A step longer than the remaining time: k = 1.5 / 0.75 = 2 overshoots.
    updateCamera(c, 1.5f);
    EXPECT_FLOAT_EQ(c.position.x, 175.0f);
    EXPECT_EQ(c.mode, CAMERA_LINEAR);
    updateCamera(c, 0.1f);   // timeLeft <= 0: settle on the target
    EXPECT_EQ(c.mode, CAMERA_HOLD);
    EXPECT_EQ(c.position.x, 100.0f);
}

TEST(Camera, SmoothingWithZeroTimeJumpsThenEnds)
{
    Camera c;
    setTarget(c, Float3(5, 6, 7), Float3(1, 1, 1), 300.0f, CAMERA_SMOOTHING, 0.0f);
    updateCamera(c, 0.01f);
    EXPECT_EQ(c.position.x, 1.0f);
    EXPECT_EQ(c.distance, 300.0f);
    EXPECT_EQ(c.mode, CAMERA_SMOOTHING);
    updateCamera(c, 0.01f);
    EXPECT_EQ(c.mode, CAMERA_HOLD);
}

TEST(Camera, SmoothingApproachesExponentially)
{
    Camera c;
    setTarget(c, Float3(90, 0, 0), Float3(0, 0, 0), 2000.0f, CAMERA_HOLD, 1.0f);
    setTarget(c, Float3(90, 0, 0), Float3(0, 0, 0), 300.0f, CAMERA_SMOOTHING, 1.0f);
    updateCamera(c, 0.1f);
    EXPECT_FLOAT_EQ(c.distance, 2000.0f - 0.1f * 1700.0f);
    updateCamera(c, 5.0f);   // k clamps to 1
    EXPECT_FLOAT_EQ(c.distance, 300.0f);
}

TEST(Camera, ViewVectorsFollowAngles)
{
    Camera c;
    updateCamera(c, 0.0f);
    EXPECT_NEAR(c.right.x, 1.0f, 1e-6f);
    EXPECT_NEAR(c.up.y, 1.0f, 1e-6f);

    setTarget(c, Float3(0, 90, 0), Float3(), 0.0f, CAMERA_HOLD, 0.0f);
    updateCamera(c, 0.0f);
    EXPECT_EQ(c.negYaw, -90.0f);
    // Yaw 90: the right vector turns from +x to +z (b = -90 degrees).
    EXPECT_NEAR(c.right.x, 0.0f, 1e-6f);
    EXPECT_NEAR(c.right.z, 1.0f, 1e-6f);
    EXPECT_NEAR(c.up.y, 1.0f, 1e-6f);

    // Any angles: right and up stay unit length and orthogonal.
    setTarget(c, Float3(33, -120, 17), Float3(), 0.0f, CAMERA_HOLD, 0.0f);
    updateCamera(c, 0.0f);
    EXPECT_NEAR(vectorLength(c.right), 1.0f, 1e-5f);
    EXPECT_NEAR(vectorLength(c.up), 1.0f, 1e-5f);
    EXPECT_NEAR(dot(c.right, c.up), 0.0f, 1e-5f);
}

TEST(Camera, ViewVectorsLookingDownAndRolled)
{
    Camera c;
    // Pitch 90 looks straight down: screen-up points along -z.
    setTarget(c, Float3(90, 0, 0), Float3(), 0.0f, CAMERA_HOLD, 0.0f);
    updateCamera(c, 0.0f);
    EXPECT_NEAR(c.right.x, 1.0f, 1e-6f);
    EXPECT_NEAR(c.up.y, 0.0f, 1e-6f);
    EXPECT_NEAR(c.up.z, -1.0f, 1e-6f);

    // Roll 90 alone: right turns to -y, up to +x.
    setTarget(c, Float3(0, 0, 90), Float3(), 0.0f, CAMERA_HOLD, 0.0f);
    updateCamera(c, 0.0f);
    EXPECT_NEAR(c.right.y, -1.0f, 1e-6f);
    EXPECT_NEAR(c.up.x, 1.0f, 1e-6f);
    EXPECT_EQ(c.negYaw, 0.0f);
}

TEST(Camera, SmoothingSettlesWithinTheThresholdWithoutMoving)
{
    Camera c;
    setTarget(c, Float3(0, 0, 0), Float3(0, 0, 0), 100.0f, CAMERA_HOLD, 0.0f);
    // Every squared distance below 1e-6: mode 2 ends and nothing moves.
    setTarget(c, Float3(0.0005f, 0, 0), Float3(0, 0.0005f, 0), 100.0005f, CAMERA_SMOOTHING, 1.0f);
    updateCamera(c, 0.5f);
    EXPECT_EQ(c.mode, CAMERA_HOLD);
    EXPECT_EQ(c.angles.x, 0.0f);
    EXPECT_EQ(c.position.y, 0.0f);
    EXPECT_EQ(c.distance, 100.0f);

    // One component just outside: it moves by k = dt / timeLeft.
    setTarget(c, Float3(0, 0, 0), Float3(0, 0.002f, 0), 100.0f, CAMERA_SMOOTHING, 1.0f);
    updateCamera(c, 0.5f);
    EXPECT_EQ(c.mode, CAMERA_SMOOTHING);
    EXPECT_FLOAT_EQ(c.position.y, 0.001f);
}
