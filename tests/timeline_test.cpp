// tests/timeline_test.cpp: the timeline strip's numbers: waveform columns
// against the samples they cover, key times against the spline they come
// from, and the overview pose and the keys' frustums against the frame's
// own projection.
#include "editor/FlightOverlay.h"
#include "editor/Timeline.h"
#include "path/FlightSolve.h"
#include "path/CameraPath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr double PI = 3.14159265358979323846;

// The frame's camera transform (translate by -position, yaw, then pitch; roll
// is not applied) and a perspective of fovY at `aspect`: where `p` lands in
// normalized device coordinates, and its distance in front of the eye.
Float3 project(const Float3& p, const Float3& eye, const Float3& angles, double fovY, double aspect, double& depth)
{
    double x = p.x - eye.x, y = p.y - eye.y, z = p.z - eye.z;
    const double yaw = angles.y * PI / 180.0, pitch = angles.x * PI / 180.0;
    const double x1 = std::cos(yaw) * x + std::sin(yaw) * z, z1 = -std::sin(yaw) * x + std::cos(yaw) * z;
    const double y2 = std::cos(pitch) * y - std::sin(pitch) * z1, z2 = std::sin(pitch) * y + std::cos(pitch) * z1;
    depth = -z2;
    const double f = 1.0 / std::tan(0.5 * fovY * PI / 180.0);
    return Float3(float(f / aspect * x1 / depth), float(f * y2 / depth), 0.0f);
}

// A track whose mixed sample at frame i is `mix(i)`, the two channels apart.
std::vector<int16_t> trackOf(size_t frames, int (*mix)(size_t))
{
    std::vector<int16_t> t(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const int spread = int(i * 7919 % 4001) - 2000;   // L and R each far from the mix
        t[2 * i] = int16_t(mix(i) + spread);
        t[2 * i + 1] = int16_t(mix(i) - spread);
    }
    return t;
}

} // namespace

TEST(TimelineWave, ColumnsHoldTheExtremesOfTheirOwnSamplesMixed)
{
    // 20 columns of 37 frames each: frame i of column c mixes to c * 1500 -
    // 15000 + i % 37, so a column that took a neighbour's frame would show it.
    const std::vector<int16_t> track = trackOf(20 * 37, [](size_t i) { return int(i / 37) * 1500 - 15000 + int(i % 37); });
    const std::vector<WaveColumn> wave = waveformColumns(track.data(), track.size() / 2, TimelineSpan{ 0.0, 1.0, 20 });
    ASSERT_EQ(wave.size(), 20u);
    for (int c = 0; c < 20; ++c) {
        EXPECT_FLOAT_EQ(wave[size_t(c)].low, float(c * 1500 - 15000) / 32768.0f) << "column " << c;
        EXPECT_FLOAT_EQ(wave[size_t(c)].high, float(c * 1500 - 15000 + 36) / 32768.0f) << "column " << c;
    }

    // Zoomed in past the frames: each column shows the frame it starts in,
    // no gaps; columns past the track's end are silent.
    const std::vector<int16_t> ten = trackOf(10, [](size_t i) { return int(i) * 1000; });
    const std::vector<WaveColumn> close = waveformColumns(ten.data(), 10, TimelineSpan{ 0.5, 1.5, 40 });
    for (int c = 0; c < 40; ++c) {
        const double frame = std::floor((0.5 + c / 40.0) * 10.0);
        const float expected = frame < 10.0 ? float(frame * 1000.0) / 32768.0f : 0.0f;
        EXPECT_FLOAT_EQ(close[size_t(c)].low, expected) << "column " << c;
        EXPECT_FLOAT_EQ(close[size_t(c)].high, expected) << "column " << c;
    }
    EXPECT_TRUE(waveformColumns(nullptr, 0, TimelineSpan{ 0.0, 1.0, 8 }).size() == 8u);
}

TEST(TimelineKeys, AKeysTimeIsTheParameterItsSplineGivesIt)
{
    for (int n : { 4, 5, 7, 12 }) {
        CameraPath path;
        for (int i = 0; i < n; ++i)
            appendPoint(path, float(i * i), float(3 * i), -float(i));
        const float lastKnot = path.spline.knots()[path.spline.knotCount() - 1];
        // Linear precision: control points at their own abscissae make the
        // spline the identity, x(s) = s * lastKnot, wherever it is evaluated.
        CameraPath identity;
        for (int i = 0; i < n; ++i) {
            const double s = keyParameter(path, i);
            ASSERT_GE(s, 0.0);
            appendPoint(identity, float(s * lastKnot), 0.0f, 0.0f);
        }
        EXPECT_DOUBLE_EQ(keyParameter(path, 0), 0.0);
        EXPECT_DOUBLE_EQ(keyParameter(path, n - 1), 1.0);
        for (int k = 0; k <= 50; ++k) {
            Float3 at;
            ASSERT_TRUE(identity.spline.evaluateNormalized(float(k) / 50.0f, at));
            EXPECT_NEAR(at.x, float(k) / 50.0f * lastKnot, 1e-4f) << n << " keys, s = " << k / 50.0;
        }
    }
    // Below four keys playback follows the polyline: at a key's time the
    // camera is on that key.
    CameraPath polyline;
    for (const Float3& p : { Float3(0, 0, 0), Float3(30, 0, 0), Float3(30, 10, 0) })
        appendPoint(polyline, p.x, p.y, p.z);
    for (int i = 0; i < 3; ++i) {
        int32_t cursor = 0;
        const Float3 at = samplePath(polyline, float(keyParameter(polyline, i)), cursor);
        EXPECT_NEAR(at.x, polyline.points[size_t(i)].x, 1e-4f);
        EXPECT_NEAR(at.y, polyline.points[size_t(i)].y, 1e-4f);
    }
    EXPECT_DOUBLE_EQ(keyFraction(polyline, 1, 0.2, 0.1), 0.2 + 0.1 * 0.75);
    EXPECT_EQ(keyParameter(polyline, 3), -1.0);
}

TEST(TimelineOverview, TheLatticeAndEveryKeyOfEveryFlightAreInView)
{
    std::vector<std::vector<Float3>> flights;
    for (int scene = 1; scene <= 10; ++scene) {
        CameraPath path;
        loadPathFile(path, positionPathName(std::string(VORTALUNE_SOURCE_DIR) + "/data", scene));
        flights.push_back(path.points);
    }
    flights.push_back({ Float3(-900, 250, 1600), Float3(700, -300, -900) });   // far out on both sides
    flights.push_back({});                                                      // no keys: the lattice alone
    const size_t showSized = flights.size();
    flights.push_back({ Float3(-40000, 9000, 25000), Float3(38000, -7000, -30000), Float3(5, 5, 5) });
    for (float aspect : { 4.0f / 3.0f, 0.75f }) {
        for (size_t f = 0; f < flights.size(); ++f) {
            const CameraPose pose = overviewPose(flights[f], 30.0f, aspect);
            // The show's depth range while it holds everything; past it the
            // planes move out, keeping the show's far-to-near ratio.
            float nearPlane = 0.0f, farPlane = 0.0f;
            overviewDepthRange(pose, 1.0f, 8192.0f, nearPlane, farPlane);
            if (f < showSized) {
                EXPECT_EQ(nearPlane, 1.0f) << "flight " << f;
                EXPECT_EQ(farPlane, 8192.0f) << "flight " << f;
            } else {
                EXPECT_GT(farPlane, 8192.0f);
                EXPECT_NEAR(farPlane / nearPlane, 8192.0f, 1.0f);
            }
            std::vector<Float3> points = flights[f];
            for (int corner = 0; corner < 8; ++corner)
                points.emplace_back(corner & 1 ? 64.0f : 0.0f, corner & 2 ? 64.0f : 0.0f, corner & 4 ? 64.0f : 0.0f);
            for (const Float3& p : points) {
                double depth = 0.0;
                const Float3 ndc = project(p, pose.position, pose.angles, 30.0, aspect, depth);
                EXPECT_GT(depth, nearPlane) << "flight " << f << ": a point behind the near plane";
                EXPECT_LT(depth, farPlane) << "flight " << f;
                EXPECT_LE(std::fabs(ndc.x), 1.0f) << "flight " << f << " aspect " << aspect;
                EXPECT_LE(std::fabs(ndc.y), 1.0f) << "flight " << f << " aspect " << aspect;
            }
        }
    }
}

TEST(TimelineOverview, AKeysFrustumIsTheViewFromThatKey)
{
    const Float3 apex(10.0f, 20.0f, 30.0f);
    for (const Float3& angles : { Float3(0, 0, 0), Float3(25, -60, 0), Float3(-40, 170, 0) }) {
        std::vector<Float3> lines;
        appendKeyFrustum(apex, angles, 5.0f, 30.0f, 4.0f / 3.0f, lines);
        ASSERT_EQ(lines.size(), 16u);
        // Seen from the key itself, the far corners are the corners of the screen.
        for (size_t i = 1; i < 16; i += 4) {
            double depth = 0.0;
            const Float3 ndc = project(lines[i], apex, angles, 30.0, 4.0 / 3.0, depth);
            EXPECT_NEAR(std::fabs(ndc.x), 1.0f, 1e-4f);
            EXPECT_NEAR(std::fabs(ndc.y), 1.0f, 1e-4f);
            EXPECT_NEAR(depth, 5.0, 1e-4);
        }
        // Roll turns the frustum about its axis: a quarter turn puts the
        // screen's long side upright, the axis stays.
        std::vector<Float3> rolled;
        appendKeyFrustum(apex, Float3(angles.x, angles.y, 90.0f), 5.0f, 30.0f, 4.0f / 3.0f, rolled);
        for (size_t i = 1; i < 16; i += 4) {
            double depth = 0.0;
            const Float3 ndc = project(rolled[i], apex, angles, 30.0, 4.0 / 3.0, depth);
            EXPECT_NEAR(std::fabs(ndc.x), 0.75f, 1e-4f);
            EXPECT_NEAR(std::fabs(ndc.y), 4.0f / 3.0f, 1e-4f);
            EXPECT_NEAR(depth, 5.0, 1e-4);
        }
        const Float3 axis = viewDirection(angles), ahead = viewToWorld(angles, Float3(0, 0, -1));
        EXPECT_NEAR(axis.x, ahead.x, 1e-6f);
        EXPECT_NEAR(axis.y, ahead.y, 1e-6f);
        EXPECT_NEAR(axis.z, ahead.z, 1e-6f);
    }
}
