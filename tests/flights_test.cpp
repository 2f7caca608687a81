// tests/flights_test.cpp: the show's committed camera flights in data/. They
// load without reports, keep the grid in view all the way, keep the eye inside
// the sky cube where there is one, and their angles mean what the render pass's
// view transform makes of them (checked against GL itself).
#include "path/CameraPath.h"
#include "path/PathSet.h"

#include "GlTestWindow.h"

#include <SDL_opengl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double RAD = PI / 180.0;

const Float3 CENTRE(32.0f, 32.0f, 32.0f);

// The frame: 30 degrees high, 4:3, so half angles of 15 and 19.65 degrees.
constexpr double HALF_FOV_Y = 15.0;
const double HALF_FOV_X = std::atan(std::tan(HALF_FOV_Y * RAD) * 4.0 / 3.0) / RAD;

// Scenes that draw the sky cube (-32..96 on each axis around the grid).
bool hasSky(int scene)
{
    return scene >= 3 && scene <= 9;
}

constexpr float SKY_LOW = -32.0f;
constexpr float SKY_HIGH = 96.0f;
constexpr float NEAR_PLANE = 1.0f;

constexpr int SAMPLES = 600;

std::string dataFolder()
{
    return std::string(VORTALUNE_SOURCE_DIR) + "/data";
}

// A freshly loaded set (sampling moves its cursors, so tests do not share one).
std::unique_ptr<PathSet> showPaths()
{
    auto set = std::make_unique<PathSet>();
    loadAllPaths(*set, dataFolder());
    return set;
}

// A world point in view coordinates under the render pass's transform:
// rotate by pitch about x, then by yaw about y, after translating by -eye
// (the matrices glRotatef builds, written out by hand).
struct ViewPoint {
    double x, y, z;
};

ViewPoint toView(const Float3& eye, const Float3& angles, const Float3& world)
{
    const double wx = world.x - eye.x, wy = world.y - eye.y, wz = world.z - eye.z;
    const double cy = std::cos(angles.y * RAD), sy = std::sin(angles.y * RAD);
    const double cp = std::cos(angles.x * RAD), sp = std::sin(angles.x * RAD);
    // Ry(yaw): [c 0 s; 0 1 0; -s 0 c]
    const double ux = cy * wx + sy * wz, uy = wy, uz = -sy * wx + cy * wz;
    // Rx(pitch): [1 0 0; 0 c -s; 0 s c]
    return { ux, cp * uy - sp * uz, sp * uy + cp * uz };
}

} // namespace

TEST(Flights, LoadWithoutReportsAndNoDefaults)
{
    PathSet set;
    testing::internal::CaptureStderr();
    loadAllPaths(set, dataFolder());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "paths.tms and every path file load cleanly";

    for (int n = 1; n <= 10; ++n) {
        const PathPair& pair = set.pairs[n];
        EXPECT_GE(pair.position.points.size(), 4u) << "scene " << n << " uses its spline";
        EXPECT_EQ(pair.position.points.size(), pair.rotation.points.size()) << "scene " << n;
        for (const Float3& p : pair.position.points) {
            EXPECT_FALSE(p.x == 0.0f && p.y == 0.0f && (p.z == 1000.0f || p.z == 1500.0f))
                << "scene " << n << " fell back to the default flight";
        }
        EXPECT_FALSE(set.timedPaths[n].empty()) << "scene " << n;
        for (const CameraPath& timed : set.timedPaths[n])
            EXPECT_GE(timed.spline.knotCount(), 6);
    }
}

TEST(Flights, KeepTheGridCentreInView)
{
    const auto owned = showPaths();
    PathSet& set = *owned;
    for (int n = 1; n <= 10; ++n) {
        double worstV = 0.0, worstH = 0.0;
        for (int k = 0; k <= SAMPLES; ++k) {
            const float s = static_cast<float>(k) / SAMPLES;
            Float3 eye, angles;
            samplePair(set.pairs[n], s, eye, angles);
            const ViewPoint v = toView(eye, angles, CENTRE);
            ASSERT_LT(v.z, -NEAR_PLANE) << "scene " << n << " s " << s << ": the centre is behind the eye";
            worstV = std::fmax(worstV, std::fabs(std::atan2(v.y, -v.z) / RAD));
            worstH = std::fmax(worstH, std::fabs(std::atan2(v.x, -v.z) / RAD));
        }
        EXPECT_LT(worstV, HALF_FOV_Y) << "scene " << n;
        EXPECT_LT(worstH, HALF_FOV_X) << "scene " << n;
    }
}

TEST(Flights, SkyScenesStayInsideTheCube)
{
    const auto owned = showPaths();
    PathSet& set = *owned;
    for (int n = 1; n <= 10; ++n) {
        if (!hasSky(n))
            continue;
        for (int k = 0; k <= SAMPLES; ++k) {
            const float s = static_cast<float>(k) / SAMPLES;
            Float3 eye, angles;
            samplePair(set.pairs[n], s, eye, angles);
            for (int a = 0; a < 3; ++a) {
                EXPECT_GT(eye[a], SKY_LOW + NEAR_PLANE) << "scene " << n << " s " << s << " axis " << a;
                EXPECT_LT(eye[a], SKY_HIGH - NEAR_PLANE) << "scene " << n << " s " << s << " axis " << a;
            }
        }
    }
}

TEST(Flights, AnglesChangeSmoothlyFromKeyToKey)
{
    const auto owned = showPaths();
    const PathSet& set = *owned;
    for (int n = 1; n <= 10; ++n) {
        const std::vector<Float3>& keys = set.pairs[n].rotation.points;
        for (size_t i = 0; i < keys.size(); ++i) {
            EXPECT_LT(std::fabs(keys[i].x), 85.0f) << "scene " << n << " key " << i << ": pitch near the pole";
            if (i > 0) {
                EXPECT_LT(std::fabs(keys[i].y - keys[i - 1].y), 90.0f)
                    << "scene " << n << " key " << i << ": yaw jumps";
            }
        }
    }
}

TEST(Flights, EyeNeverEntersTheBlobs)
{
    const auto owned = showPaths();
    PathSet& set = *owned;
    for (int n = 1; n <= 10; ++n) {
        for (int k = 0; k <= SAMPLES; ++k) {
            Float3 eye, angles;
            samplePair(set.pairs[n], static_cast<float>(k) / SAMPLES, eye, angles);
            Float3 d;
            subtract(eye, CENTRE, d);
            EXPECT_GT(vectorLength(d), 30.0f) << "scene " << n;
        }
    }
}

// The hand-written view transform of these tests agrees with GL's: a point
// drawn at the grid centre lands where toView projects it.
TEST(Flights, ViewMathMatchesGlRotations)
{
    ASSERT_TRUE(ensureGlWindow());
    const auto owned = showPaths();
    PathSet& set = *owned;

    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_POINT_SMOOTH);
    glPointSize(5.0f);
    glViewport(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    const double aspect = static_cast<double>(GL_TEST_WIDTH) / GL_TEST_HEIGHT;
    gluPerspective(30.0, aspect, 1.0, 8192.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();

    int checked = 0;
    for (int n = 1; n <= 10; ++n) {
        for (float s : { 0.1f, 0.55f, 0.9f }) {
            Float3 eye, angles;
            samplePair(set.pairs[n], s, eye, angles);
            // Turn the view a little off the flight so the point is off-centre
            // and both signs of both rotations are exercised.
            angles.x += (n % 2 ? 4.0f : -3.5f);
            angles.y += (n % 3 ? -4.0f : 3.0f);

            glClear(GL_COLOR_BUFFER_BIT);
            glLoadIdentity();
            glRotatef(angles.x, 1.0f, 0.0f, 0.0f);
            glRotatef(angles.y, 0.0f, 1.0f, 0.0f);
            glTranslatef(-eye.x, -eye.y, -eye.z);
            glColor3f(1.0f, 1.0f, 1.0f);
            glBegin(GL_POINTS);
            glVertex3f(CENTRE.x, CENTRE.y, CENTRE.z);
            glEnd();

            const std::vector<uint8_t> pixels = readBackBuffer();
            double sumX = 0.0, sumY = 0.0;
            int lit = 0;
            for (int y = 0; y < GL_TEST_HEIGHT; ++y) {
                for (int x = 0; x < GL_TEST_WIDTH; ++x) {
                    if (pixels[static_cast<size_t>((y * GL_TEST_WIDTH + x) * 4)] > 128) {
                        sumX += x + 0.5;
                        sumY += y + 0.5;
                        ++lit;
                    }
                }
            }
            ASSERT_GT(lit, 0) << "scene " << n << " s " << s << ": the centre is off screen";

            const ViewPoint v = toView(eye, angles, CENTRE);
            const double f = 1.0 / std::tan(HALF_FOV_Y * RAD);
            const double expectX = (1.0 + f / aspect * v.x / -v.z) * GL_TEST_WIDTH / 2.0;
            const double expectY = (1.0 + f * v.y / -v.z) * GL_TEST_HEIGHT / 2.0;
            EXPECT_NEAR(sumX / lit, expectX, 1.5) << "scene " << n << " s " << s;
            EXPECT_NEAR(sumY / lit, expectY, 1.5) << "scene " << n << " s " << s;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 30);

    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}
