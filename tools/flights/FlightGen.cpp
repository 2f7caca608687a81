// tools/flights/FlightGen.cpp: the show's original camera flights, fitted and checked.
//
// Each scene's flight is an eye curve and a look-at curve over the scene's time
// tau in 0..1. The keys are placed so that the uniform B-spline through them
// passes through the wanted eye points and view angles at the Greville sites
// of the spline (the flight solve of path/FlightSolve.h). Angles are derived for the render pass's view transform
// (pitch about x, then yaw about y, then the eye translation; the view looks
// down -z), so a look direction d gives pitch = -asin(d.y), yaw = atan2(d.x, -d.z).
// Yaw is unwrapped from key to key, since it is interpolated like a position.
//
// What is written is checked by sampling the flights as the show does: the
// grid centre must stay well inside the 30 x 40 degree view, and in the scenes
// with the sky cube the eye must stay inside the cube. It prints one line per
// scene and exits 1 if a check fails.
#include "tools/flights/FlightGen.h"

#include "base/Report.h"
#include "base/Show.h"
#include "path/CameraPath.h"
#include "path/FlightSolve.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double RAD = PI / 180.0;

const Float3 CENTRE(32.0f, 32.0f, 32.0f);   // middle of the 64-unit grid

// The sky cube spans -32..96 on each axis; the eye keeps this far from its
// faces so the near plane (1 unit) never cuts one.
constexpr float SKY_LOW = -32.0f;
constexpr float SKY_HIGH = 96.0f;
constexpr float SKY_MARGIN = 3.0f;

// The grid centre must stay this far inside the frame (half angles, degrees;
// the frame is 30 x 39.3 at 4:3).
constexpr double MAX_VERTICAL_OFFSET = 12.0;
constexpr double MAX_HORIZONTAL_OFFSET = 16.0;

constexpr int CHECK_SAMPLES = 2000;

struct View {
    Float3 eye;
    Float3 target;
};

double smooth(double t)
{
    return t * t * (3.0 - 2.0 * t);
}

// Eye on a circle of radius r around the centre at angle phi (degrees, 0 on
// +z, 90 on +x), h above the centre.
Float3 around(double phiDegrees, double r, double h)
{
    const double phi = phiDegrees * RAD;
    return Float3(static_cast<float>(32.0 + r * std::sin(phi)), static_cast<float>(32.0 + h),
                  static_cast<float>(32.0 + r * std::cos(phi)));
}

// Like around(), but the horizontal radius is cut back wherever the circle
// would leave the sky cube's square (with its margin), so an orbit can use the
// cube's corners for the widest view of a big surface.
Float3 hugging(double phiDegrees, double r, double h)
{
    const double phi = phiDegrees * RAD;
    const double reach = SKY_HIGH - SKY_MARGIN - 1.0 - 32.0;   // centre to the face, minus a unit
    const double edge = std::fmax(std::fabs(std::sin(phi)), std::fabs(std::cos(phi)));
    return around(phiDegrees, std::fmin(r, reach / edge), h);
}

Float3 offsetCentre(double dx, double dy, double dz)
{
    return Float3(static_cast<float>(32.0 + dx), static_cast<float>(32.0 + dy), static_cast<float>(32.0 + dz));
}

// --- The flights -------------------------------------------------------------------
// What each scene shows decides its flight:
//  1 title card over an empty grid: a slow, distant drift towards the grid;
//  2 five grey balls wobbling at the centre, out of black, into a white flash: a dive
//    from a medium shot to a close-up;
//  3 45 twin-wobbling balls with glow in the sky cube: a full orbit, bobbing;
//  4 the particle fountain, one big merged surface: a high half orbit along the
//    sky cube's walls and through its corners, as far out as the cube allows;
//  5 the big textured ball carved by sliding negative bars: a pass along x, high
//    and at the cube's far wall so the whole ball shows;
//  6 bars sliding along x, flickering level: a dive from above at three quarters;
//  7 the glowing chain: a wide rising spiral from below to above;
//  8 25 balls orbiting through the whole grid: a half orbit from corner to corner
//    outside the cloud, closest at the middle;
//  9 drifting segments: a slow spiral from high above out to the cube's walls;
// 10 credits behind the five grey balls: a long pull-back.

struct SceneFlight {
    int  keys;      // key points in each file
    bool sky;       // the scene draws the sky cube
    const char* what;
};

constexpr SceneFlight FLIGHTS[SCENE_ENTRIES] = {
    { 0, false, "" },                                // no scene 0
    { 8, false, "title drift" },                     // 1
    { 12, false, "dive to a close-up" },                      // 2
    { 24, true, "full orbit" },                      // 3
    { 16, true, "high half orbit, wide" },                 // 4
    { 14, true, "high pass along x" },              // 5
    { 14, true, "dive from above" },                 // 6
    { 20, true, "wide rising spiral" },                   // 7
    { 20, true, "corner to corner half orbit" },           // 8
    { 18, true, "spiral from above to the walls" },    // 9
    { 16, false, "pull-back" },                      // 10
};

View flightAt(int scene, double t)
{
    const double s = smooth(t);
    switch (scene) {
    case 1:
        return { around(-20.0 + 30.0 * t, 300.0 - 90.0 * s, 90.0 - 40.0 * t), CENTRE };
    case 2:
        return { around(35.0 - 95.0 * s, 80.0 - 45.0 * t, 36.0 - 26.0 * t), CENTRE };
    case 3:
        return { around(20.0 + 360.0 * t, 56.0, 14.0 + 10.0 * std::sin(4.0 * PI * t)), offsetCentre(0, -2, 0) };
    case 4:
        return { hugging(225.0 - 180.0 * t, 84.0, 50.0 - 20.0 * t), offsetCentre(0, 2, 0) };
    case 5: {
        const double x = -52.0 + 104.0 * t;
        const Float3 eye = offsetCentre(x, 40.0 - 12.0 * t, 58.0);
        return { eye, offsetCentre(0.25 * x, 0, 0) };
    }
    case 6:
        return { around(-35.0 + 50.0 * t, 56.0 - 4.0 * t, 52.0 - 44.0 * s), CENTRE };
    case 7:
        return { hugging(90.0 + 270.0 * t, 72.0, -26.0 + 60.0 * t), CENTRE };
    case 8: {
        const double k = 2.0 * t - 1.0;
        return { hugging(45.0 + 180.0 * t, 84.0 - 16.0 * (1.0 - k * k), 40.0 - 16.0 * std::sin(PI * t)), CENTRE };
    }
    case 9:
        return { hugging(200.0 * t, 34.0 + 50.0 * s, 56.0 - 40.0 * s), CENTRE };
    case 10:
        return { around(160.0 + 60.0 * t, 55.0 + 345.0 * t * t, 6.0 + 110.0 * t * t), CENTRE };
    default:
        return { CENTRE, CENTRE };
    }
}

// --- Angles ----------------------------------------------------------------------------

// (pitch, yaw, 0) in degrees looking from eye to target, with yaw moved by whole
// turns to lie within half a turn of previousYaw.
Float3 lookAngles(const Float3& eye, const Float3& target, double previousYaw)
{
    Float3 d;
    subtract(target, eye, d);
    normalizeInPlace(d);
    const double pitch = -std::asin(static_cast<double>(d.y)) / RAD;
    double yaw = std::atan2(static_cast<double>(d.x), -static_cast<double>(d.z)) / RAD;
    while (yaw - previousYaw > 180.0)
        yaw -= 360.0;
    while (yaw - previousYaw < -180.0)
        yaw += 360.0;
    return Float3(static_cast<float>(pitch), static_cast<float>(yaw), 0.0f);
}

// Where a world point lies in the view: vertical and horizontal angle off the
// view axis (degrees), and whether it is in front of the eye.
struct ViewOffset {
    double vertical;
    double horizontal;
    bool   inFront;
};

ViewOffset viewOffset(const Float3& eye, const Float3& angles, const Float3& point)
{
    const double p = angles.x * RAD, y = angles.y * RAD;
    const double wx = point.x - eye.x, wy = point.y - eye.y, wz = point.z - eye.z;
    // Yaw about y, then pitch about x: the view transform without translation.
    const double ux = std::cos(y) * wx + std::sin(y) * wz;
    const double uy = wy;
    const double uz = -std::sin(y) * wx + std::cos(y) * wz;
    const double vx = ux;
    const double vy = std::cos(p) * uy - std::sin(p) * uz;
    const double vz = std::sin(p) * uy + std::cos(p) * uz;
    return { std::atan2(vy, -vz) / RAD, std::atan2(vx, -vz) / RAD, vz < 0.0 };
}

// --- Fitting -------------------------------------------------------------------------

// Keys whose uniform spline passes through `eyes` and `angles` at the sites
// (the flight solve of path/FlightSolve.h, keys standing on the sites).
FlightPoints fitKeys(const std::vector<Float3>& eyes, const std::vector<Float3>& angles,
                     const std::vector<double>& sites)
{
    std::vector<TimedKey> keys;
    for (size_t i = 0; i < sites.size(); ++i)
        keys.push_back(TimedKey{ sites[i], toTriple(eyes[i]), toTriple(angles[i]), false });
    FlightPoints points;
    solveFlight(keys, 1.0, points);
    return points;
}

bool insideSky(const Float3& p)
{
    for (int a = 0; a < 3; ++a) {
        if (p[a] < SKY_LOW + SKY_MARGIN || p[a] > SKY_HIGH - SKY_MARGIN)
            return false;
    }
    return true;
}

// --- Writing one scene -------------------------------------------------------------

bool buildScene(int scene, const std::string& folder, CameraPath& positionOut)
{
    const SceneFlight& flight = FLIGHTS[scene];
    const std::vector<double> sites = splineSites(flight.keys);

    std::vector<Float3> eyes, angles;
    double yaw = 0.0;
    for (double site : sites) {
        const View view = flightAt(scene, site);
        const Float3 a = lookAngles(view.eye, view.target, yaw);
        yaw = a.y;
        eyes.push_back(view.eye);
        angles.push_back(a);
    }

    PathPair pair;
    const FlightPoints points = fitKeys(eyes, angles, sites);
    setPathPoints(pair.position, points.positions);
    setPathPoints(pair.rotation, points.rotations);

    if (!savePathPair(pair, scene, folder)) {
        reportLine("genpaths: cannot write the files of scene %d in %s\n", scene, folder.c_str());
        return false;
    }

    // Check the written files as the show will sample them.
    PathPair loaded;
    if (!loadPathPair(loaded, scene, folder)) {
        reportLine("genpaths: cannot read back scene %d\n", scene);
        return false;
    }
    double worstVertical = 0.0, worstHorizontal = 0.0, nearest = 1e9, farthest = 0.0;
    bool ok = true;
    for (int k = 0; k <= CHECK_SAMPLES; ++k) {
        const float s = static_cast<float>(k) / CHECK_SAMPLES;
        Float3 eye, view;
        samplePair(loaded, s, eye, view);
        const ViewOffset o = viewOffset(eye, view, CENTRE);
        worstVertical = std::fmax(worstVertical, std::fabs(o.vertical));
        worstHorizontal = std::fmax(worstHorizontal, std::fabs(o.horizontal));
        Float3 toCentre;
        subtract(CENTRE, eye, toCentre);
        const double distance = vectorLength(toCentre);
        nearest = std::fmin(nearest, distance);
        farthest = std::fmax(farthest, distance);
        if (!o.inFront || std::fabs(o.vertical) > MAX_VERTICAL_OFFSET
            || std::fabs(o.horizontal) > MAX_HORIZONTAL_OFFSET) {
            ok = false;
        }
        if (flight.sky && !insideSky(eye))
            ok = false;
    }
    std::printf("scene %2d %-30s keys %2d  centre off-axis <= %5.2f v %5.2f h deg  distance %6.1f .. %6.1f  %s\n",
                scene, flight.what, flight.keys, worstVertical, worstHorizontal, nearest, farthest,
                ok ? "ok" : "FAILED");
    positionOut = loaded.position;
    return ok;
}

} // namespace

bool writeShowFlights(const std::string& folder)
{
    bool ok = true;
    std::vector<CameraPath> timed;
    for (int scene = FIRST_SCENE; scene <= LAST_SCENE; ++scene) {
        CameraPath position;
        ok = buildScene(scene, folder, position) && ok;
        timed.push_back(position);
    }
    // The timed paths: the ten eye paths with their knots.
    if (!saveTimedPaths(timed, timedPathsName(folder))) {
        reportLine("genpaths: cannot write %s\n", timedPathsName(folder).c_str());
        ok = false;
    }
    return ok;
}
