// tests/editor_draw_test.cpp: the authoring tool's layer over the frame (the
// flight with its key markers and view ticks, the isosurface as lines, the
// status line) drawn in the shared test window and read back; the view
// direction behind the ticks; and screenshots of the frame as PNG files.
#include "GlTestWindow.h"
#include "PngFixture.h"
#include "RenderFixture.h"
#include "TestSupport.h"

#include "app/Demo.h"
#include "app/Font.h"
#include "app/Render.h"
#include "app/Settings.h"
#include "app/Shell.h"
#include "editor/EditorDraw.h"
#include "editor/FlightOverlay.h"
#include "editor/Timeline.h"
#include "gfx/Screenshot.h"
#include "gfx/Texture.h"
#include "iso/IsoSurface.h"
#include "path/Camera.h"
#include "path/CameraPath.h"

#include <SDL_opengl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int W = GL_TEST_WIDTH;
constexpr int H = GL_TEST_HEIGHT;
constexpr int CENTRE = W / 2;
constexpr float DIRECTION_EPS = 1e-5f;
const Float3 GRID_CENTRE(32.0f, 32.0f, 32.0f);
const Float3 GREY(0.5f, 0.5f, 0.5f);
constexpr float CAMERA_DISTANCE = 100.0f;   // the tests' camera: at the grid centre, backed off along +z

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

Rgb toRgb(const float colour[3])
{
    return { static_cast<int>(std::lround(colour[0] * 255.0f)), static_cast<int>(std::lround(colour[1] * 255.0f)),
             static_cast<int>(std::lround(colour[2] * 255.0f)) };
}

::testing::AssertionResult near(const Rgb& got, const Rgb& want, int eps = 2)
{
    if (std::abs(got.r - want.r) <= eps && std::abs(got.g - want.g) <= eps && std::abs(got.b - want.b) <= eps)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << got.r << ", " << got.g << ", " << got.b << "), expected ("
                                         << want.r << ", " << want.g << ", " << want.b << ") within " << eps;
}

Rgb pixelIn(const std::vector<uint8_t>& frame, int x, int y)
{
    const size_t i = (static_cast<size_t>(y) * W + static_cast<size_t>(x)) * 4;
    return { frame[i], frame[i + 1], frame[i + 2] };
}

// Pixel of a world point for the tests' camera (pitch and yaw 0, eye at the
// grid centre + (0, 0, CAMERA_DISTANCE), 30 degree field of view, square window).
void project(const Float3& p, int& x, int& y)
{
    const float f = 1.0f / std::tan(FIELD_OF_VIEW_Y * 0.5f * 3.14159265f / 180.0f);
    const float depth = GRID_CENTRE.z + CAMERA_DISTANCE - p.z;
    x = static_cast<int>(std::floor((1.0f + f * (p.x - GRID_CENTRE.x) / depth) * 0.5f * W));
    y = static_cast<int>(std::floor((1.0f + f * (p.y - GRID_CENTRE.y) / depth) * 0.5f * H));
}

// Pixels of exactly `colour` within `radius` of (x, y).
int countColourNear(const std::vector<uint8_t>& frame, int x, int y, int radius, const Rgb& colour)
{
    int n = 0;
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx) {
            const int px = x + dx, py = y + dy;
            if (px >= 0 && py >= 0 && px < W && py < H && pixelIn(frame, px, py) == colour)
                ++n;
        }
    return n;
}

int countColour(const std::vector<uint8_t>& frame, const Rgb& colour)
{
    return countColourNear(frame, W / 2, H / 2, W, colour);
}

// Rows and columns whose pixels differ between two frames.
struct Difference {
    int pixels = 0;
    int lowestRow = H, highestRow = -1;
};

Difference differenceOf(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    Difference d;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (!(pixelIn(a, x, y) == pixelIn(b, x, y))) {
                ++d.pixels;
                d.lowestRow = y < d.lowestRow ? y : d.lowestRow;
                d.highestRow = y > d.highestRow ? y : d.highestRow;
            }
    return d;
}

// How far the lit silhouette reaches left, right, down and up from the centre.
struct Extent {
    int side[4] = { 0, 0, 0, 0 };
};

Extent silhouetteExtent(const std::vector<uint8_t>& f)
{
    Extent e;
    const int step[4][2] = { { -1, 0 }, { 1, 0 }, { 0, -1 }, { 0, 1 } };
    for (int k = 0; k < 4; ++k)
        while (e.side[k] < CENTRE - 1 &&
               pixelIn(f, CENTRE + step[k][0] * (e.side[k] + 1), CENTRE + step[k][1] * (e.side[k] + 1)).r > 0)
            ++e.side[k];
    return e;
}

// A pair whose position keys are `keys` and whose rotation keys all look
// along `angles`.
PathPair makePair(const std::vector<Float3>& keys, const Float3& angles = Float3(0.0f, 90.0f, 0.0f))
{
    PathPair pair;
    for (const Float3& k : keys) {
        appendPoint(pair.position, k.x, k.y, k.z);
        appendPoint(pair.rotation, angles.x, angles.y, angles.z);
    }
    return pair;
}

// Four keys in a zig-zag in the plane z = 32, across the middle of the view.
const std::vector<Float3> ZIGZAG = { { 12, 20, 32 }, { 24, 44, 32 }, { 40, 20, 32 }, { 52, 44, 32 } };

// The standing state every pass leaves, as the frame's other passes do.
void expectStandingState(const char* after)
{
    SCOPED_TRACE(after);
    GLint cull = 0, depthFunc = 0, src = 0, dst = 0, projectionDepth = 0, modelviewDepth = 0, mode[2] = { 0, 0 };
    GLboolean depthMask = GL_FALSE;
    glGetIntegerv(GL_CULL_FACE_MODE, &cull);
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &projectionDepth);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &modelviewDepth);
    glGetIntegerv(GL_POLYGON_MODE, mode);
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_EQ(cull, GL_FRONT);
    EXPECT_EQ(depthFunc, GL_LEQUAL);
    EXPECT_EQ(src, GL_SRC_ALPHA);
    EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(projectionDepth, 1);
    EXPECT_EQ(modelviewDepth, 1);
    EXPECT_EQ(mode[0], GL_FILL);
    EXPECT_EQ(mode[1], GL_FILL);
    EXPECT_TRUE(depthMask);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

class EditorDrawTest : public ::testing::Test {
protected:
    int32_t     savedFlags = 0;
    AppSettings savedSettings;
    TempDir     dir;

    void SetUp() override
    {
        ASSERT_TRUE(prepareRenderTest());
        savedFlags = renderFlags;
        savedSettings = appSettings;
        renderFlags = 0;   // lights off: every surface shows its vertex colour
        setLightParameters();
        clearTestBalls();
        setTestCamera(GRID_CENTRE, CAMERA_DISTANCE);
        installEditorLayer();
        editorLayer = EditorLayer();
        while (glGetError() != GL_NO_ERROR) {
        }
    }

    void TearDown() override
    {
        editorLayer = EditorLayer();
        clearTestBalls();
        renderFlags = savedFlags;
        appSettings = savedSettings;
        releaseFont(fontLists);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        setupGlState();
        glDisable(GL_LIGHTING);
        glDisable(GL_TEXTURE_2D);
        glEnable(GL_DEPTH_TEST);
    }

    static std::vector<uint8_t> frame(const ShowState& show = ShowState{})
    {
        renderTestFrame(show);
        return readBackBuffer();
    }

    // With VORTALUNE_RENDER_SHOTS set to a folder, the frame is kept there as a PNG.
    static void save(const char* name)
    {
        if (const char* folder = std::getenv("VORTALUNE_RENDER_SHOTS")) {
            EXPECT_TRUE(saveBackBufferPng((std::string(folder) + "/" + name).c_str())) << name;
        }
    }

    // A font whose every glyph is a solid box, so a text is one bar.
    void loadBoxFont()
    {
        const std::string font = dir.path() + "/font.png";
        writeFixturePng(font, 256, 256, 3, std::vector<uint8_t>(256 * 256 * 3, 255));
        ASSERT_EQ(textureTable.loadPngWithMask(font.c_str(), font.c_str(), SLOT_FONT, 0), SLOT_FONT);
        buildFont(fontLists, textureTable.nameOf(SLOT_FONT));
    }
};

} // namespace

// --- View direction --------------------------------------------------------------------

TEST(EditorViewDirection, FollowsTheFrameCameraTurns)
{
    struct Case {
        Float3 angles;
        Float3 expected;
    };
    const float h = std::sqrt(0.5f);
    for (const Case& c : { Case{ { 0, 0, 0 }, { 0, 0, -1 } }, Case{ { 0, 90, 0 }, { 1, 0, 0 } },
                           Case{ { 0, -90, 0 }, { -1, 0, 0 } }, Case{ { 0, 180, 0 }, { 0, 0, 1 } },
                           Case{ { 90, 0, 0 }, { 0, -1, 0 } }, Case{ { -90, 0, 0 }, { 0, 1, 0 } },
                           Case{ { 0, 45, 0 }, { h, 0, -h } }, Case{ { 45, 90, 0 }, { h, -h, 0 } },
                           Case{ { 0, 0, 70 }, { 0, 0, -1 } } }) {
        SCOPED_TRACE(testing::Message() << c.angles.x << " " << c.angles.y << " " << c.angles.z);
        const Float3 d = viewDirection(c.angles);
        EXPECT_NEAR(d.x, c.expected.x, DIRECTION_EPS);
        EXPECT_NEAR(d.y, c.expected.y, DIRECTION_EPS);
        EXPECT_NEAR(d.z, c.expected.z, DIRECTION_EPS);
    }
}

TEST(EditorViewDirection, IsAUnitVectorAndTheEyeBacksOffAlongIt)
{
    for (float pitch = -180.0f; pitch <= 180.0f; pitch += 37.0f)
        for (float yaw = -360.0f; yaw <= 360.0f; yaw += 53.0f) {
            const Float3 angles(pitch, yaw, 11.0f);
            const Float3 d = viewDirection(angles);
            EXPECT_NEAR(vectorLength(d), 1.0f, DIRECTION_EPS) << pitch << " " << yaw;
            const Float3 p(3.0f, -4.0f, 5.0f);
            const Float3 eye = eyePosition(p, angles, 20.0f);
            EXPECT_NEAR(eye.x, p.x - 20.0f * d.x, 1e-4f);
            EXPECT_NEAR(eye.y, p.y - 20.0f * d.y, 1e-4f);
            EXPECT_NEAR(eye.z, p.z - 20.0f * d.z, 1e-4f);
        }
}

// A ball placed along the view direction from the eye is drawn at the centre
// of the frame, whatever the angles: the function matches renderFrame's camera.
TEST_F(EditorDrawTest, ABallAlongTheViewDirectionIsCentredOnScreen)
{
    for (const Float3& angles : { Float3(0, 0, 0), Float3(0, 90, 0), Float3(30, 0, 0), Float3(-20, 135, 0),
                                  Float3(10, -60, 45), Float3(-35, 200, 0) }) {
        SCOPED_TRACE(testing::Message() << angles.x << " " << angles.y << " " << angles.z);
        Float3 centre;
        addScaled(GRID_CENTRE, 24.0, viewDirection(angles), centre);
        placeTestBalls({ { centre, GREY, 40.0f, 5.0f } });
        setTestCamera(GRID_CENTRE, 0.0f, angles.x, angles.y, angles.z);
        const std::vector<uint8_t> f = frame();
        ASSERT_EQ(pixelIn(f, CENTRE, CENTRE), (Rgb{ 128, 128, 128 }));
        const Extent e = silhouetteExtent(f);
        EXPECT_GT(e.side[0], 10);
        EXPECT_LT(e.side[0], CENTRE - 2);
        EXPECT_NEAR(e.side[0], e.side[1], 2);
        EXPECT_NEAR(e.side[2], e.side[3], 2);
        EXPECT_NEAR(e.side[0], e.side[2], 2);

        // The ball seen from its own position backed off by a distance looks
        // as it does from the eye eyePosition finds for them, with no distance.
        setTestCamera(centre, 24.0f, angles.x, angles.y, angles.z);
        const Extent backedOff = silhouetteExtent(frame());
        setTestCamera(eyePosition(centre, angles, 24.0f), 0.0f, angles.x, angles.y, angles.z);
        const Extent fromEye = silhouetteExtent(frame());
        for (int k = 0; k < 4; ++k) {
            EXPECT_NEAR(backedOff.side[k], e.side[k], 1) << k;
            EXPECT_NEAR(fromEye.side[k], e.side[k], 1) << k;
        }
    }
}

// --- Flight geometry --------------------------------------------------------------------

TEST(EditorFlightGeometry, SampleCountsFollowTheKeys)
{
    EXPECT_EQ(flightSampleCount(0), 0);
    EXPECT_EQ(flightSampleCount(1), 0);
    EXPECT_EQ(flightSampleCount(2), 2);
    EXPECT_EQ(flightSampleCount(3), 3);
    EXPECT_EQ(flightSampleCount(4), 3 * FLIGHT_SAMPLES_PER_SPAN + 1);
    EXPECT_EQ(flightSampleCount(10), 9 * FLIGHT_SAMPLES_PER_SPAN + 1);
    EXPECT_EQ(flightSampleCount(MAX_PATH_KEYS), FLIGHT_MAX_SAMPLES);
    EXPECT_EQ(flightSampleCount(-3), 0);
}

TEST(EditorFlightGeometry, FewKeysGiveThePolylineAndMoreTheSplineFromEndToEnd)
{
    const Float3 eye(0.0f, 0.0f, 0.0f);
    FlightOverlayGeometry g;
    for (int n = 0; n <= 6; ++n) {
        SCOPED_TRACE(n);
        std::vector<Float3> keys;
        for (int i = 0; i < n; ++i)
            keys.emplace_back(static_cast<float>(i * 10), static_cast<float>((i % 2) * 7), -50.0f);
        PathPair pair = makePair(keys);
        pair.posCursor = 3;
        buildFlightOverlay(pair, eye, g);
        EXPECT_EQ(pair.posCursor, 3) << "the pair's own cursor is not moved";
        ASSERT_EQ(g.keys.size(), static_cast<size_t>(n));
        ASSERT_EQ(g.spline.size(), static_cast<size_t>(flightSampleCount(n)));
        if (n < 2)
            continue;
        if (n < 4) {
            for (int i = 0; i < n; ++i)
                EXPECT_TRUE(nearlyEqual(g.spline[static_cast<size_t>(i)], keys[static_cast<size_t>(i)]));
            continue;
        }
        EXPECT_TRUE(nearlyEqual(g.spline.front(), keys.front()));
        EXPECT_TRUE(nearlyEqual(g.spline.back(), keys.back()));
        // Every sample is the spline at its fraction of the flight.
        for (size_t i = 0; i < g.spline.size(); i += 7) {
            Float3 expected;
            ASSERT_TRUE(pair.position.spline.evaluateNormalized(
                static_cast<float>(i) / static_cast<float>(g.spline.size() - 1), expected));
            EXPECT_TRUE(nearlyEqual(g.spline[i], expected)) << i;
        }
    }
}

TEST(EditorFlightGeometry, TicksStartAtKeysAndPointAlongTheirRotation)
{
    PathPair pair = makePair({ { 0, 0, -100 }, { 0, 0, -10 }, { 0, 0, 0 } });
    pair.rotation.points[1] = Float3(0.0f, 90.0f, 0.0f);
    pair.rotation.points[2] = Float3(90.0f, 0.0f, 0.0f);
    FlightOverlayGeometry g;
    buildFlightOverlay(pair, Float3(0.0f, 0.0f, 0.0f), g);
    ASSERT_EQ(g.ticks.size(), 6u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(nearlyEqual(g.ticks[2 * i], pair.position.points[i]));
        Float3 tick;
        subtract(g.ticks[2 * i + 1], g.ticks[2 * i], tick);
        const Float3 d = viewDirection(pair.rotation.points[i]);
        const float distance = vectorLength(pair.position.points[i]);
        const float length = std::fmax(FLIGHT_TICK_FRACTION * distance, FLIGHT_TICK_MIN_LENGTH);
        EXPECT_NEAR(vectorLength(tick), length, 1e-4f);
        EXPECT_NEAR(dot(tick, d), length, 1e-4f) << "along the view direction";
    }

    // Keys without a rotation key get no tick.
    pair.rotation.points.resize(1);
    buildFlightOverlay(pair, Float3(0.0f, 0.0f, 0.0f), g);
    EXPECT_EQ(g.ticks.size(), 2u);
    EXPECT_EQ(g.keys.size(), 3u);
}

// --- Layer off --------------------------------------------------------------------------

TEST_F(EditorDrawTest, InactiveOrEmptyLayerLeavesTheFrameUnchanged)
{
    placeTestBalls({ { GRID_CENTRE, GREY } });
    renderFlags = FLAG_GRID;
    ShowState show;
    show.glowAmount = 1.0f;
    const std::vector<uint8_t> plain = frame(show);
    const PathPair pair = makePair(ZIGZAG);

    // Everything asked for, but the layer is not active.
    editorLayer.pair = &pair;
    editorLayer.flight = editorLayer.status = editorLayer.wireframe = true;
    editorLayer.statusText = "status";
    editorLayer.selectedKey = 1;
    EXPECT_EQ(differenceOf(plain, frame(show)).pixels, 0) << "inactive";

    // Active with every part off, or with nothing to show.
    editorLayer.active = true;
    editorLayer.flight = editorLayer.status = editorLayer.wireframe = false;
    EXPECT_EQ(differenceOf(plain, frame(show)).pixels, 0) << "active, all off";
    editorLayer.flight = true;
    editorLayer.pair = nullptr;
    editorLayer.status = true;
    editorLayer.statusText.clear();
    EXPECT_EQ(differenceOf(plain, frame(show)).pixels, 0) << "active, no flight and no text";
    expectStandingState("empty layer");
}

// --- Flight -------------------------------------------------------------------------------

TEST_F(EditorDrawTest, FlightShowsSplineKeysAndTicksAndGoesAwayWhenTurnedOff)
{
    const std::vector<uint8_t> plain = frame();
    const PathPair pair = makePair(ZIGZAG);   // every key looks along +x
    editorLayer.active = true;
    editorLayer.pair = &pair;
    const std::vector<uint8_t> drawn = frame();
    save("editor-flight.png");
    expectStandingState("flight");

    FlightOverlayGeometry g;
    buildFlightOverlay(pair, eyePosition(camera.position, camera.angles, camera.distance), g);
    for (const Float3& key : ZIGZAG) {
        int x, y;
        project(key, x, y);
        EXPECT_GE(countColourNear(drawn, x, y, 1, toRgb(EDITOR_KEY_COLOUR)), 4) << "key at " << x << ", " << y;
        EXPECT_EQ(pixelIn(plain, x, y), (Rgb{ 0, 0, 0 }));
    }
    // The spline between the keys, away from the markers.
    for (const size_t i : { size_t(16), size_t(48), size_t(80) }) {
        int x, y;
        project(g.spline[i], x, y);
        EXPECT_GE(countColourNear(drawn, x, y, 1, toRgb(EDITOR_SPLINE_COLOUR)), 1) << "sample " << i;
    }
    // Each tick reaches right of its key (yaw 90 looks along +x).
    for (size_t k = 0; k < ZIGZAG.size(); ++k) {
        Float3 mid;
        addScaled(g.ticks[2 * k], 0.7, g.ticks[2 * k + 1], mid);
        scaled(mid, 1.0f / 1.7f, mid);
        int x, y, kx, ky;
        project(mid, x, y);
        project(ZIGZAG[k], kx, ky);
        EXPECT_GT(x, kx + 5);
        EXPECT_GE(countColourNear(drawn, x, y, 1, toRgb(EDITOR_TICK_COLOUR)), 1) << "tick " << k;
    }
    EXPECT_EQ(countColour(drawn, toRgb(EDITOR_SELECTED_COLOUR)), 0) << "no key selected";

    editorLayer.flight = false;
    EXPECT_EQ(differenceOf(plain, frame()).pixels, 0);
    editorLayer.flight = true;
    editorLayer.active = false;
    EXPECT_EQ(differenceOf(plain, frame()).pixels, 0);
}

TEST_F(EditorDrawTest, FewKeysDrawTheirPolylineAndOneKeyOnlyItsMarker)
{
    const std::vector<uint8_t> plain = frame();
    const PathPair two = makePair({ ZIGZAG[0], ZIGZAG[3] }, Float3(-90.0f, 0.0f, 0.0f));
    editorLayer.active = true;
    editorLayer.pair = &two;
    std::vector<uint8_t> drawn = frame();
    Float3 middle;
    add(ZIGZAG[0], ZIGZAG[3], middle);
    scaled(middle, 0.5f, middle);
    int x, y;
    project(middle, x, y);
    EXPECT_GE(countColourNear(drawn, x, y, 1, toRgb(EDITOR_SPLINE_COLOUR)), 1);

    const PathPair one = makePair({ GRID_CENTRE }, Float3(-90.0f, 0.0f, 0.0f));   // looks up
    editorLayer.pair = &one;
    drawn = frame();
    EXPECT_EQ(countColour(drawn, toRgb(EDITOR_SPLINE_COLOUR)), 0);
    EXPECT_GE(countColourNear(drawn, CENTRE, CENTRE, 1, toRgb(EDITOR_KEY_COLOUR)), 4);
    EXPECT_GE(countColourNear(drawn, CENTRE, CENTRE + 15, 1, toRgb(EDITOR_TICK_COLOUR)), 1);

    const PathPair none;
    editorLayer.pair = &none;
    EXPECT_EQ(differenceOf(plain, frame()).pixels, 0);
}

TEST_F(EditorDrawTest, SelectedKeyIsLargerAndInItsOwnColour)
{
    const PathPair pair = makePair(ZIGZAG, Float3(-90.0f, 0.0f, 0.0f));
    editorLayer.active = true;
    editorLayer.pair = &pair;
    editorLayer.selectedKey = 2;
    const std::vector<uint8_t> drawn = frame();
    save("editor-selected.png");
    const Rgb key = toRgb(EDITOR_KEY_COLOUR), selected = toRgb(EDITOR_SELECTED_COLOUR);
    int area[4] = {};
    for (int k = 0; k < 4; ++k) {
        int x, y;
        project(ZIGZAG[static_cast<size_t>(k)], x, y);
        const Rgb centre = pixelIn(drawn, x, y);
        EXPECT_EQ(centre, k == 2 ? selected : key) << "key " << k;
        area[k] = countColourNear(drawn, x, y, 8, k == 2 ? selected : key);
        EXPECT_EQ(countColourNear(drawn, x, y, 8, k == 2 ? key : selected), 0) << "key " << k;
    }
    EXPECT_GT(area[2], area[0] * 3 / 2) << "the selected marker is larger";
    EXPECT_EQ(area[0], area[1]);

    // No key by that number: nothing is highlighted.
    for (const int none : { -1, 4, 1000 }) {
        editorLayer.selectedKey = none;
        EXPECT_EQ(countColour(frame(), selected), 0) << none;
    }
}

TEST_F(EditorDrawTest, SurfacesInFrontHideTheFlightAndItHidesNothing)
{
    placeTestBalls({ { GRID_CENTRE, GREY } });
    const std::vector<uint8_t> plain = frame();
    const Rgb yellow = toRgb(EDITOR_SPLINE_COLOUR);
    editorLayer.active = true;

    // A straight flight along y = 32 behind the ball: visible beside it,
    // hidden where the ball covers it.
    const Float3 up(-90.0f, 0.0f, 0.0f);   // ticks point up, off the flight's line
    const PathPair behind = makePair({ { 2, 32, 12 }, { 22, 32, 12 }, { 42, 32, 12 }, { 62, 32, 12 } }, up);
    editorLayer.pair = &behind;
    std::vector<uint8_t> drawn = frame();
    save("editor-behind.png");
    EXPECT_EQ(pixelIn(drawn, CENTRE, CENTRE), pixelIn(plain, CENTRE, CENTRE));
    EXPECT_EQ(countColourNear(drawn, CENTRE, CENTRE, 20, yellow), 0);
    int x, y;
    project(Float3(6.0f, 32.0f, 12.0f), x, y);
    EXPECT_GE(countColourNear(drawn, x, y, 1, yellow), 1);

    // The same flight in front of the ball covers it.
    const PathPair front = makePair({ { 2, 32, 52 }, { 22, 32, 52 }, { 42, 32, 52 }, { 62, 32, 52 } }, up);
    editorLayer.pair = &front;
    drawn = frame();
    EXPECT_GE(countColourNear(drawn, CENTRE, CENTRE, 1, yellow), 1);

    // The flight writes no depth: a second frame with it drawn is the same.
    EXPECT_EQ(differenceOf(drawn, frame()).pixels, 0);
    expectStandingState("flight over a surface");
}

// --- Wireframe and glow -------------------------------------------------------------------

TEST_F(EditorDrawTest, WireframeDrawsTheSurfaceAsLinesAndOffRestoresIt)
{
    placeTestBalls({ { GRID_CENTRE, GREY } });
    const std::vector<uint8_t> plain = frame();
    editorLayer.active = true;
    editorLayer.wireframe = true;
    const std::vector<uint8_t> lines = frame();
    save("editor-wireframe.png");
    expectStandingState("wireframe");

    // Inside the silhouette some pixels fall between the lines and go dark;
    // the lines keep the surface's colour; outside it only pixels next to
    // the silhouette change (the lines along its edge).
    int inside = 0, dark = 0, surface = 0, farChanged = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const Rgb p = pixelIn(plain, x, y), q = pixelIn(lines, x, y);
            if (p.r != 0) {
                ++inside;
                dark += q.r == 0 ? 1 : 0;
                surface += q == p ? 1 : 0;
            } else if (q.r != 0 && countColourNear(plain, x, y, 2, Rgb{ 0, 0, 0 }) == 25) {
                ++farChanged;
            }
        }
    ASSERT_GT(inside, 1000);
    EXPECT_GT(dark, inside / 50);
    EXPECT_GT(surface, inside / 10);
    EXPECT_EQ(farChanged, 0);

    editorLayer.wireframe = false;
    EXPECT_EQ(differenceOf(plain, frame()).pixels, 0);
}

TEST_F(EditorDrawTest, GlowCaptureIsTheSameWithTheLayerOnOrOff)
{
    placeTestBalls({ { GRID_CENTRE, GREY } });
    const PathPair pair = makePair({ { 2, 32, 52 }, { 22, 40, 52 }, { 42, 24, 52 }, { 62, 32, 52 } });
    for (const bool bright : { false, true }) {
        SCOPED_TRACE(bright ? "bright glow" : "glow");
        ShowState show;
        show.glowAmount = 2.0f;
        show.brightGlow = bright;
        editorLayer = EditorLayer();
        const std::vector<uint8_t> plain = frame(show);
        const std::vector<uint8_t> capture = readSlot(SLOT_GLOW);
        editorLayer.active = true;
        editorLayer.pair = &pair;
        editorLayer.wireframe = true;
        editorLayer.selectedKey = 0;
        const std::vector<uint8_t> drawn = frame(show);
        EXPECT_GT(differenceOf(plain, drawn).pixels, 100) << "the layer shows in the frame";
        EXPECT_EQ(readSlot(SLOT_GLOW), capture) << "but not in the glow capture";
        expectStandingState("layer with glow");
    }
}

// --- Status line ---------------------------------------------------------------------------

TEST_F(EditorDrawTest, StatusLineIsTextOverADarkBandAtTheBottom)
{
    loadBoxFont();
    appSettings.screenWidth = 800;   // glyphs 8 x 12 pixels
    appSettings.screenHeight = H;
    glClearColor(0.5f, 0.5f, 0.5f, 1.0f);
    renderFlags = FLAG_CAPTION;
    const std::vector<uint8_t> plain = frame();

    editorLayer.active = true;
    editorLayer.status = true;
    editorLayer.statusText = "Key 3";
    const std::vector<uint8_t> drawn = frame();
    save("editor-status.png");
    expectStandingState("status line");

    // margin 6, glyphs 12 high: a band of 24 rows, the text from row 6.
    constexpr int BAND = 24, TEXT_BOTTOM = 6, TEXT_TOP = 18;
    const Difference d = differenceOf(plain, drawn);
    EXPECT_GT(d.pixels, W * BAND / 2);
    EXPECT_EQ(d.lowestRow, 0);
    EXPECT_EQ(d.highestRow, BAND - 1) << "only the bottom band changes";
    const Rgb text = toRgb(EDITOR_STATUS_COLOUR);
    const int glyphsEnd = 8 + 5 * 8;
    EXPECT_TRUE(near(pixelIn(drawn, 10, TEXT_BOTTOM + 2), text));
    EXPECT_TRUE(near(pixelIn(drawn, glyphsEnd - 2, TEXT_TOP - 2), text));
    const Rgb band = pixelIn(drawn, glyphsEnd + 4, TEXT_BOTTOM + 2);
    EXPECT_NEAR(band.r, 128.0 * (1.0 - EDITOR_STATUS_BAND_ALPHA), 2.0) << "dark translucent band";
    EXPECT_EQ(pixelIn(drawn, 4, BAND - 2), band);
    EXPECT_EQ(pixelIn(drawn, 100, BAND + 1), pixelIn(plain, 100, BAND + 1));

    // Scaled with the screen width like the caption: twice as wide, twice as tall.
    appSettings.screenWidth = 1600;
    editorLayer.status = false;
    const std::vector<uint8_t> widePlain = frame();
    editorLayer.status = true;
    const std::vector<uint8_t> wide = frame();
    EXPECT_EQ(differenceOf(widePlain, wide).lowestRow, 0);
    EXPECT_EQ(differenceOf(widePlain, wide).highestRow, 2 * BAND - 1);
    EXPECT_TRUE(near(pixelIn(wide, 10, 2 * TEXT_TOP - 3), text));

    editorLayer.status = false;
    EXPECT_EQ(differenceOf(widePlain, frame()).pixels, 0);
    editorLayer.status = true;
    editorLayer.statusText.clear();
    EXPECT_EQ(differenceOf(widePlain, frame()).pixels, 0) << "no text, no band";
}

// --- Timeline strip --------------------------------------------------------------------------

// A beat map of four-beat bars over fractions 0.2 .. 0.3, the strip over it.
struct StripFixture {
    TimelineSpan            span{ 0.2, 0.3, W };
    BeatMap                 beats;
    std::vector<WaveColumn> wave = std::vector<WaveColumn>(W);
    StripFixture()
    {
        for (int k = 0; k < 25; ++k)   // the last at 0.2984
            beats.beats.push_back(Beat{ 0.2 + 0.0041 * k, 1 + k / 4, 1 + k % 4 });
    }
    TimelineStrip strip() const
    {
        TimelineStrip t;
        t.shown = true;
        t.wave = &wave;
        t.beats = timelineBeats(beats, span);
        return t;
    }
};

// The columns of `row` whose pixel is `colour`.
std::vector<int> columnsOf(const std::vector<uint8_t>& f, int row, const Rgb& colour)
{
    std::vector<int> xs;
    for (int x = 0; x < W; ++x)
        if (pixelIn(f, x, row) == colour)
            xs.push_back(x);
    return xs;
}

TEST_F(EditorDrawTest, StripBarLinesAndBeatTicksStandAtTheBeatMapsFractions)
{
    StripFixture fixture;
    editorLayer.active = true;
    editorLayer.timeline = fixture.strip();
    const std::vector<uint8_t> f = frame();
    save("editor-strip-beats.png");
    expectStandingState("timeline strip");

    std::vector<int> bars, beats;
    for (const Beat& b : fixture.beats.beats)
        (b.beat == 1 ? bars : beats).push_back(int(std::floor(spanX(fixture.span, b.fraction))));
    ASSERT_EQ(bars.size(), 7u);
    const TimelineLayout l = timelineLayout(W);
    // Above the beat ticks only the bar lines cross the wave's rows; at the
    // bottom of the wave the beats have their ticks, the bars their lines.
    EXPECT_EQ(columnsOf(f, l.waveTop - 3, toRgb(TIMELINE_BAR_COLOUR)), bars);
    EXPECT_EQ(columnsOf(f, l.statusTop + 1, toRgb(TIMELINE_BAR_COLOUR)), bars);
    EXPECT_EQ(columnsOf(f, l.statusTop + 1, toRgb(TIMELINE_BEAT_COLOUR)), beats);
    EXPECT_EQ(columnsOf(f, l.waveTop - 3, toRgb(TIMELINE_BEAT_COLOUR)), std::vector<int>{});
}

TEST_F(EditorDrawTest, TheStripChangesNoPixelAboveItAndShowsWaveKeysLoopAndHead)
{
    placeTestBalls({ { GRID_CENTRE, GREY, 40.0f, 28.0f } });   // a ball down to the bottom rows
    const PathPair pair = makePair(ZIGZAG);
    StripFixture fixture;
    for (int c = 0; c < W; ++c)
        fixture.wave[size_t(c)] = WaveColumn{ -0.5f * (c % 7) / 6.0f, 0.8f * (c % 5) / 4.0f };
    editorLayer.active = true;
    editorLayer.pair = &pair;
    editorLayer.status = true;
    editorLayer.statusText = "scene 6 1.50/10.97s";
    const std::vector<uint8_t> without = frame();

    editorLayer.timeline = fixture.strip();
    editorLayer.timeline.keys = { 20.0f, 90.0f, 160.0f };
    editorLayer.timeline.selectedKey = 1;
    editorLayer.timeline.loop = true;
    editorLayer.timeline.loopFrom = 60.0f;
    editorLayer.timeline.loopTo = 120.0f;
    editorLayer.timeline.head = 100.0f;
    const std::vector<uint8_t> with = frame();
    save("editor-strip.png");
    expectStandingState("timeline strip over a scene");

    const TimelineLayout l = timelineLayout(W);
    const Difference d = differenceOf(without, with);
    EXPECT_GT(d.pixels, W * l.height / 4);
    EXPECT_EQ(d.highestRow, l.height - 1) << "the frame above the strip is untouched";
    const int lane = (l.waveTop + l.height) / 2;
    EXPECT_EQ(pixelIn(with, 20, lane), toRgb(EDITOR_KEY_COLOUR));
    EXPECT_EQ(pixelIn(with, 90, lane), toRgb(EDITOR_SELECTED_COLOUR));
    EXPECT_EQ(pixelIn(with, 100, l.waveTop + 1), toRgb(TIMELINE_HEAD_COLOUR));
    EXPECT_FALSE(pixelIn(with, 70, l.height - 2) == pixelIn(with, 130, l.height - 2)) << "the loop is shaded";
    const int middle = (l.statusTop + l.waveTop) / 2;
    EXPECT_EQ(pixelIn(with, 3, middle), toRgb(TIMELINE_WAVE_COLOUR)) << "the wave through the middle";
}

// --- Screenshots ---------------------------------------------------------------------------

TEST(EditorScreenshotName, NumbersAreFourDigitsAndTheNextFollowsTheHighest)
{
    EXPECT_EQ(screenshotFileName(1), "vortalune-0001.png");
    EXPECT_EQ(screenshotFileName(42), "vortalune-0042.png");
    EXPECT_EQ(screenshotFileName(12345), "vortalune-12345.png");
    EXPECT_EQ(screenshotNumberOf("vortalune-0042.png"), 42);
    EXPECT_EQ(screenshotNumberOf("vortalune-12345.png"), 12345);
    for (const char* other : { "vortalune-42.png", "vortalune-00a2.png", "vortalune-0042.jpg", "shot-0042.png",
                               "vortalune-0042.png.tmp", "vortalune-.png", "" })
        EXPECT_EQ(screenshotNumberOf(other), 0) << other;

    EXPECT_EQ(nextScreenshotNumber({}), 1);
    EXPECT_EQ(nextScreenshotNumber({ "notes.txt", "vortalune-77.png" }), 1);
    EXPECT_EQ(nextScreenshotNumber({ "vortalune-0001.png" }), 2);
    EXPECT_EQ(nextScreenshotNumber({ "vortalune-0003.png", "vortalune-0001.png", "x.png" }), 4);
    EXPECT_EQ(nextScreenshotNumber({ "vortalune-99999999999999999999.png" }), SCREENSHOT_MAX_NUMBER + 1);
}

TEST_F(EditorDrawTest, ScreenshotWritesTheFrameAsRenderedUnderTheNextFreeNumber)
{
    placeTestBalls({ { GRID_CENTRE, GREY } });
    const PathPair pair = makePair(ZIGZAG);
    editorLayer.active = true;
    editorLayer.pair = &pair;
    editorLayer.selectedKey = 1;
    renderTestFrame(ShowState{});
    const std::vector<uint8_t> back = readBackBuffer();

    const std::string folder = dir.path() + "/shots";   // missing: created
    testing::internal::CaptureStdout();
    const std::string first = saveScreenshot(W, H, folder);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(first, folder + "/vortalune-0001.png");
    EXPECT_EQ(said, "Screenshot: " + first + "\n");

    const PngInfo png = readPng(first);
    ASSERT_TRUE(png.ok);
    ASSERT_EQ(png.width, static_cast<uint32_t>(W));
    ASSERT_EQ(png.height, static_cast<uint32_t>(H));
    int mismatches = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const Rgb expected = pixelIn(back, x, H - 1 - y);   // the file's rows run top first
            const uint8_t* p = &png.rgb[(static_cast<size_t>(y) * W + static_cast<size_t>(x)) * 3];
            mismatches += Rgb{ p[0], p[1], p[2] } == expected ? 0 : 1;
        }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(differenceOf(back, readBackBuffer()).pixels, 0) << "reading back leaves the frame";

    // The next one follows; numbers taken by files already there are skipped
    // and those files are left as they were.
    testing::internal::CaptureStdout();
    EXPECT_EQ(saveScreenshot(W, H, folder), folder + "/vortalune-0002.png");
    std::ofstream(folder + "/vortalune-0007.png") << "kept";
    EXPECT_EQ(saveScreenshot(W, H, folder), folder + "/vortalune-0008.png");
    testing::internal::GetCapturedStdout();
    const std::vector<uint8_t> kept = readFileBytes(folder + "/vortalune-0007.png");
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "kept");
    EXPECT_EQ(readPng(folder + "/vortalune-0002.png").rgb, png.rgb);
}

TEST_F(EditorDrawTest, ScreenshotThatCannotBeWrittenSaysWhyOnOneLine)
{
    renderTestFrame(ShowState{});
    // A folder whose parent is a file cannot be created.
    const std::string file = dir.path() + "/plain-file";
    std::ofstream(file) << "x";
    const std::string folder = file + "/shots";
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(saveScreenshot(W, H, folder), "");
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find(folder), std::string::npos) << err;
    EXPECT_NE(err.find("Not a directory"), std::string::npos) << err;
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;

    // A size the PNG cannot take.
    testing::internal::CaptureStderr();
    EXPECT_EQ(saveScreenshot(0, H, dir.path()), "");
    const std::string size = testing::internal::GetCapturedStderr();
    EXPECT_EQ(size.find('\n'), size.size() - 1) << size;
    EXPECT_NE(size.find(dir.path()), std::string::npos) << size;
}
