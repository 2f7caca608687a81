// editor/FlightOverlay.h: what the authoring tool's flight overlay shows, as
// plain world-space points: the position spline sampled as a line strip, one
// marker per key and a short view tick per key. No GL; renderFrame
// (app/Render.cpp) draws the result.
#pragma once

#include "math/Math.h"
#include "path/FlightSolve.h"

#include <vector>

struct PathPair;

constexpr int   FLIGHT_SAMPLES_PER_SPAN = 32;      // line-strip points per key span of the spline
constexpr int   FLIGHT_MAX_SAMPLES = 16384;        // cap on the strip's points for long flights
constexpr float FLIGHT_TICK_FRACTION = 0.08f;      // tick length / distance from the eye to the key
constexpr float FLIGHT_TICK_MIN_LENGTH = 0.5f;     // world units

struct FlightOverlayGeometry {
    std::vector<Float3> spline;   // line strip; empty with fewer than two keys
    std::vector<Float3> keys;     // one per position key, in recording order
    std::vector<Float3> ticks;    // line pairs (key, key + length * view direction); only keys
                                  // that have a rotation key
    std::vector<Float3> frustums; // line pairs: at those keys the view's frustum (the frame's
                                  // field of view and aspect; the show turns no roll), as long as the tick
};

// World-space unit direction the camera looks along for (pitch, yaw, roll) in
// degrees, under renderFrame's transform translate(0, 0, -distance),
// rotate(pitch about x), rotate(yaw about y), translate(-position): the
// inverse rotation applied to (0, 0, -1). Roll does not change it.
// (0, 0, 0) looks along -z, yaw 90 along +x, pitch 90 along -y.
Float3 viewDirection(const Float3& angles);

// Where that transform puts the eye: position - distance * viewDirection(angles).
Float3 eyePosition(const Float3& position, const Float3& angles, float distance);

// Number of strip points for a path of `keys` keys: none below two keys, the
// keys themselves below four (the polyline), else 32 per span plus one,
// capped at FLIGHT_MAX_SAMPLES.
int flightSampleCount(int keys);

// Fills `out` for the pair as seen from `eye` (the tick length grows with the
// key's distance from the eye, so a tick keeps about the same size on screen)
// on a screen of `aspect` (width / height). The spline is sampled with
// samplePath and a local cursor: the pair itself is not changed. The markers,
// ticks and frustums stand at `keys` (timed keys, the poses the flight passes)
// when given, else at the pair's own points.
void buildFlightOverlay(const PathPair& pair, const Float3& eye, FlightOverlayGeometry& out,
                        float aspect = 4.0f / 3.0f, const std::vector<TimedKey>* keys = nullptr);
