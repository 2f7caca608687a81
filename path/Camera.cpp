// path/Camera.cpp: target blending and the view's side and up vectors.
#include "path/Camera.h"

#include <cmath>

Camera camera;

void setTarget(Camera& camera, const Float3& angles, const Float3& position, float distance,
               int32_t mode, float time)
{
    camera.targetAngles = angles;
    camera.targetPosition = position;
    camera.targetDistance = distance;
    camera.mode = mode;
    camera.timeLeft = time;
    if (mode == CAMERA_HOLD) {
        camera.angles = angles;
        camera.position = position;
        camera.distance = distance;
    }
}

namespace {

void moveTowards(Camera& c, float k)
{
    for (int i = 0; i < 3; ++i) {
        c.angles[i] += k * (c.targetAngles[i] - c.angles[i]);
        c.position[i] += k * (c.targetPosition[i] - c.position[i]);
    }
    c.distance += k * (c.targetDistance - c.distance);
}

float squaredDistance(const Float3& a, const Float3& b)
{
    Float3 d;
    subtract(a, b, d);
    return dot(d, d);
}

} // namespace

void updateCamera(Camera& c, float dt)
{
    if (c.mode == CAMERA_LINEAR) {
        if (c.timeLeft > 0.0f) {
            moveTowards(c, dt / c.timeLeft);   // not clamped: one overshoot on a long step
            c.timeLeft -= dt;
        } else {
            c.mode = CAMERA_HOLD;
            c.angles = c.targetAngles;
            c.position = c.targetPosition;
            c.distance = c.targetDistance;
        }
    } else if (c.mode == CAMERA_SMOOTHING) {
        float k = c.timeLeft < 1e-6f ? 1.0f : dt / c.timeLeft;
        if (k > 1.0f)
            k = 1.0f;
        const float dd = c.targetDistance - c.distance;
        if (squaredDistance(c.targetAngles, c.angles) < 1e-6f && squaredDistance(c.targetPosition, c.position) < 1e-6f &&
            dd * dd < 1e-6f) {
            c.mode = CAMERA_HOLD;
        } else {
            moveTowards(c, k);
        }
    }

    const float a = -c.angles.x * CAMERA_DEG_TO_RAD;
    const float b = -c.angles.y * CAMERA_DEG_TO_RAD;
    const float r = -c.angles.z * CAMERA_DEG_TO_RAD;
    const float sa = std::sin(a), ca = std::cos(a);
    const float sb = std::sin(b), cb = std::cos(b);
    const float sc = std::sin(r), cc = std::cos(r);
    c.right = Float3(sa * sb * sc + cb * cc, ca * sc, cb * sc * sa - cc * sb);
    c.up = Float3(sb * sa * cc - cb * sc, ca * cc, sa * cc * cb + sc * sb);
    c.negYaw = -c.angles.y;
}

void holdCameraAt(Camera& camera, const Float3& angles, const Float3& position)
{
    setTarget(camera, angles, position, 0.0f, CAMERA_HOLD, CAMERA_HOLD_TIME);
}

bool finitePose(const Float3& position, const Float3& angles)
{
    for (int i = 0; i < 3; ++i)
        if (!std::isfinite(position[i]) || !std::isfinite(angles[i]))
            return false;
    return true;
}
