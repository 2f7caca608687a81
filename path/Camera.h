// path/Camera.h: the one view of the demo, blending its current view towards
// a target at once, linearly, or with exponential smoothing. No GL.
// Angles are (pitch, yaw, roll) in degrees.
#pragma once

#include "math/Math.h"

#include <cstdint>

enum CameraMode : int32_t {
    CAMERA_HOLD      = 0,   // values do not change
    CAMERA_LINEAR    = 1,   // linear over timeLeft seconds (may overshoot once)
    CAMERA_SMOOTHING = 2,   // exponential, time constant timeLeft
};

struct Camera {
    float   timeLeft = 0.0f;      // mode 1: remaining time; mode 2: time constant
    int32_t mode = CAMERA_HOLD;
    Float3  targetAngles;
    Float3  angles;
    Float3  targetPosition;
    Float3  position;             // current eye position (world)
    float   targetDistance = 0.0f;
    float   distance = 0.0f;      // the eye moves back along the view axis by this
    Float3  right { 1.0f, 0.0f, 0.0f };   // unit vectors of the current view
    Float3  up    { 0.0f, 1.0f, 0.0f };
    float   negYaw = 0.0f;        // -(current yaw)
};

constexpr float CAMERA_DEG_TO_RAD = 0.01745329f;

// Stores the targets; mode 0 also sets the current values at once.
void setTarget(Camera& camera, const Float3& angles, const Float3& position, float distance,
               int32_t mode, float time);

// Advances the blend by dt seconds and derives right, up and negYaw.
void updateCamera(Camera& camera, float dt);

// The time a hold stores with the pose when the show, the free camera and
// the editor put the camera somewhere (read by nothing while it holds).
constexpr float CAMERA_HOLD_TIME = 0.3f;

// setTarget(camera, angles, position, 0, CAMERA_HOLD, CAMERA_HOLD_TIME): the
// camera is there at once.
void holdCameraAt(Camera& camera, const Float3& angles, const Float3& position);

// True when every component of the pose is a finite number (a key may be recorded).
bool finitePose(const Float3& position, const Float3& angles);

// The program's camera (targets set by the path player and the free camera).
extern Camera camera;
