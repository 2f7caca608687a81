// editor/FlightOverlay.cpp: the flight overlay's points. No GL.
#include "editor/FlightOverlay.h"

#include "app/Render.h"   // FIELD_OF_VIEW_Y
#include "editor/Timeline.h"
#include "path/CameraPath.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float DEGREES_TO_RADIANS = 3.14159265358979f / 180.0f;

} // namespace

Float3 viewDirection(const Float3& angles)
{
    // Ry(-yaw) * Rx(-pitch) * (0, 0, -1).
    const float pitch = angles.x * DEGREES_TO_RADIANS;
    const float yaw = angles.y * DEGREES_TO_RADIANS;
    const float cp = std::cos(pitch), sp = std::sin(pitch);
    const float cy = std::cos(yaw), sy = std::sin(yaw);
    return Float3(cp * sy, -sp, -cp * cy);
}

Float3 eyePosition(const Float3& position, const Float3& angles, float distance)
{
    Float3 eye;
    addScaled(position, -static_cast<double>(distance), viewDirection(angles), eye);
    return eye;
}

int flightSampleCount(int keys)
{
    if (keys < 2)
        return 0;
    if (keys < 4)
        return keys;
    const long long n = static_cast<long long>(keys - 1) * FLIGHT_SAMPLES_PER_SPAN + 1;
    return static_cast<int>(std::min<long long>(n, FLIGHT_MAX_SAMPLES));
}

void buildFlightOverlay(const PathPair& pair, const Float3& eye, FlightOverlayGeometry& out, float aspect,
                        const std::vector<TimedKey>* timed)
{
    out.spline.clear();
    out.keys.clear();
    out.ticks.clear();
    out.frustums.clear();

    const CameraPath& position = pair.position;
    const int keys = static_cast<int>(std::min<size_t>(position.points.size(), MAX_PATH_KEYS));
    out.keys.assign(position.points.begin(), position.points.begin() + keys);

    const int samples = flightSampleCount(keys);
    if (keys < 4) {
        // Too few keys for the spline: the polyline through them.
        out.spline.assign(out.keys.begin(), out.keys.begin() + samples);
    } else {
        out.spline.reserve(static_cast<size_t>(samples));
        int32_t cursor = 0;   // local: the pair's own cursor stays where playback left it
        for (int i = 0; i < samples; ++i) {
            const float s = static_cast<float>(i) / static_cast<float>(samples - 1);
            out.spline.push_back(samplePath(position, s, cursor));
        }
    }

    std::vector<Float3> keyAngles(pair.rotation.points.begin(),
                                  pair.rotation.points.begin() + std::min<size_t>(pair.rotation.points.size(), MAX_PATH_KEYS));
    if (timed) {
        out.keys.clear();
        keyAngles.clear();
        for (const TimedKey& k : *timed) {
            out.keys.push_back(toFloat3(k.position));
            keyAngles.push_back(toFloat3(k.angles));
        }
    }
    const int ticks = std::min(static_cast<int>(out.keys.size()), static_cast<int>(keyAngles.size()));
    out.ticks.reserve(static_cast<size_t>(ticks) * 2);
    out.frustums.reserve(static_cast<size_t>(ticks) * 16);
    for (int i = 0; i < ticks; ++i) {
        const Float3& key = out.keys[static_cast<size_t>(i)];
        Float3 toKey;
        subtract(key, eye, toKey);
        const float length = std::max(FLIGHT_TICK_FRACTION * vectorLength(toKey), FLIGHT_TICK_MIN_LENGTH);
        Float3 end;
        const Float3& angles = keyAngles[static_cast<size_t>(i)];
        addScaled(key, length, viewDirection(angles), end);
        out.ticks.push_back(key);
        out.ticks.push_back(end);
        // The view the show renders from there: its transform turns no roll.
        appendKeyFrustum(key, Float3(angles.x, angles.y, 0.0f), length, FIELD_OF_VIEW_Y, aspect, out.frustums);
    }
}
