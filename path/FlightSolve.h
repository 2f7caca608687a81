// path/FlightSolve.h: a scene's flight as the author thinks of it, poses at
// times (keys), and the control points the show plays through them. Owns the
// sites of a flight's control points in time, the keys a flight passes at
// them, and the solve of control points through timed keys. No GL, no files.
//
// Time: a key's time is in seconds from the scene's first frame; the show
// samples the flight at s = time / sceneSeconds (samplePath), where
// sceneSeconds is the scene's length on the track.
//
// The solve: a flight through keys k_0 .. k_{m-1} is the uniform cubic
// B-spline, as the show builds it from its control points, that passes
// through every key's position and angles at the key's time (and stands
// still at an eased key), and of all such splines bends least: the smallest
// integral of |x''|^2 over the scene. Keys at the sites of an m-point
// spline (the times a flight of m points reaches its points) get m points,
// the one spline through them; any other timing gets as many points as
// three per shortest gap between keys, so the least-bending spline is near
// the smoothest curve through the keys whatever their timing.
#pragma once

#include "math/Math.h"
#include "path/CameraPath.h"

#include <array>
#include <string>
#include <vector>

// --- Keys --------------------------------------------------------------------------
// In double precision: a key read from its file, or taken from a flight,
// keeps every digit, so the flight solved through a flight's own keys gives
// back its control points exactly.
using Triple = std::array<double, 3>;

inline Triple toTriple(const Float3& v) { return { double(v.x), double(v.y), double(v.z) }; }
inline Float3 toFloat3(const Triple& v) { return Float3(float(v[0]), float(v[1]), float(v[2])); }

struct TimedKey {
    double time = 0.0;     // seconds from the scene's first frame
    Triple position{};     // eye (world)
    Triple angles{};       // pitch, yaw, roll in degrees
    bool   eased = false;  // the camera slows into and out of this key: speed zero at its time
};

constexpr int     SOLVE_MAX_POINTS = 8192;   // control points a solve may use
constexpr double  SITE_TOLERANCE = 1e-6;     // s: a key this close to a site stands on it

// Where in its flight (0 start .. 1 end, the s playback samples the path at)
// point `point` of `path` sits. From four points on: its Greville abscissa,
// the average of the three knots its basis function starts with over the
// last knot (a spline whose control points stand at their own abscissae is
// the identity). Below four points playback follows the polyline by length:
// the point's share of the length. -1 for an index out of range.
double keyParameter(const CameraPath& path, int point);

// The sites of an n-point spline (n >= 4): keyParameter of each point.
std::vector<double> splineSites(int n);

// The flight's own keys: one per control point, at the time playback
// reaches that point's site, with the pose the flight passes there (for a
// polyline, the points themselves). The position path sets the times.
std::vector<TimedKey> keysOfPair(const PathPair& pair, double sceneSeconds);

// True when the keys stand at the sites of a spline of as many points (or,
// below four keys, are the points of a polyline) and none is eased: the
// flight of those points passes them, as a flight recorded point by point does.
bool keysAtSites(const std::vector<TimedKey>& keys, double sceneSeconds);

// --- Solve -------------------------------------------------------------------------
struct FlightPoints {
    std::vector<Float3> positions;
    std::vector<Float3> rotations;
};

// Control points of the least-bending flight through `keys` (in time order,
// at most one per instant), as described at the top. No keys: no points; one
// key: four points at its pose (the camera holds it). False, with `why`, for
// keys out of order, closer together than the solve can hold apart, or not
// finite; `out` is then empty.
bool solveFlight(const std::vector<TimedKey>& keys, double sceneSeconds, FlightPoints& out, std::string* why = nullptr);

// A spline of `points` (as CubicBSpline builds it) at normalised s, in
// double precision, with its derivative d/ds when `derivative` is given.
// Fewer than four points: the first point (or 0), derivative 0.
void evaluateSpline(const std::vector<Float3>& points, double s, double out[3], double* derivative = nullptr);

// --- Speed ---------------------------------------------------------------------------
// How fast a path changes at s, per second of a scene `sceneSeconds` long:
// the camera's speed (units per second) on a position path, its turn rate
// (degrees per second) on a rotation path. A spline's own derivative; a
// polyline's segment at s by its length.
double pathRate(const CameraPath& path, double s, double sceneSeconds);
