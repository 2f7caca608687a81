// tests/render_test.cpp: the frame's render passes drawn into the shared test
// window and read back: overlays, lights, projection and camera, glow, sky
// cube, grid and caption, with the standing GL state checked after each pass.
#include "GlTestWindow.h"
#include "PngFixture.h"
#include "RenderFixture.h"
#include "TestSupport.h"

#include "app/Demo.h"
#include "app/Font.h"
#include "app/Render.h"
#include "app/Settings.h"
#include "app/Shell.h"
#include "gfx/Texture.h"
#include "iso/IsoSurface.h"
#include "path/Camera.h"

#include <SDL_opengl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int W = GL_TEST_WIDTH;
constexpr int H = GL_TEST_HEIGHT;
constexpr int CENTRE = W / 2;
const Float3 GRID_CENTRE(32.0f, 32.0f, 32.0f);
const Float3 GREY(0.5f, 0.5f, 0.5f);

struct Rgb {
    int r, g, b;
};

Rgb pixelAt(int x, int y)
{
    uint8_t p[4];
    readPixel(x, y, p);
    return { p[0], p[1], p[2] };
}

::testing::AssertionResult near(const Rgb& got, int r, int g, int b, int eps = 3)
{
    if (std::abs(got.r - r) <= eps && std::abs(got.g - g) <= eps && std::abs(got.b - b) <= eps)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << got.r << ", " << got.g << ", " << got.b << "), expected ("
                                         << r << ", " << g << ", " << b << ") within " << eps;
}

// The state every pass leaves behind: front faces culled, depth test GL_LEQUAL,
// the alpha blending function, and both matrix stacks back at one entry.
void expectStandingState(const char* after)
{
    SCOPED_TRACE(after);
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    GLint cull = 0, depthFunc = 0, src = 0, dst = 0, projectionDepth = 0, modelviewDepth = 0;
    glGetIntegerv(GL_CULL_FACE_MODE, &cull);
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &projectionDepth);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &modelviewDepth);
    EXPECT_EQ(cull, GL_FRONT);
    EXPECT_EQ(depthFunc, GL_LEQUAL);
    EXPECT_EQ(src, GL_SRC_ALPHA);
    EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(projectionDepth, 1);
    EXPECT_EQ(modelviewDepth, 1);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

class RenderTest : public ::testing::Test {
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
        setTestCamera(GRID_CENTRE, 100.0f);
        while (glGetError() != GL_NO_ERROR) {
        }
    }

    void TearDown() override
    {
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

    // A ball of radius about 8.5 at the grid centre: about 40 pixels across
    // its radius from 100 units away.
    static void placeCentreBall(const Float3& colour) { placeTestBalls({ { GRID_CENTRE, colour } }); }

    // An image whose quadrants are red (top left), green (top right), blue
    // (bottom left) and white (bottom right), rows written top first.
    std::string writeQuadrantPng(const char* name)
    {
        constexpr int N = 64;
        std::vector<uint8_t> pixels(N * N * 3);
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x) {
                uint8_t* p = &pixels[(static_cast<size_t>(y) * N + x) * 3];
                const bool top = y < N / 2, left = x < N / 2;
                p[0] = (top && left) || (!top && !left) ? 255 : 0;
                p[1] = (top && !left) || (!top && !left) ? 255 : 0;
                p[2] = !top ? 255 : 0;
            }
        const std::string path = dir.path() + "/" + name;
        writeFixturePng(path, N, N, 3, pixels);
        return path;
    }

    // With VORTALUNE_RENDER_SHOTS set to a folder, the frame is kept there as a PNG.
    static void save(const char* name)
    {
        if (const char* folder = std::getenv("VORTALUNE_RENDER_SHOTS")) {
            EXPECT_TRUE(saveBackBufferPng((std::string(folder) + "/" + name).c_str())) << name;
        }
    }
};

// Horizontal distance from the centre to the first black pixel of row CENTRE.
int silhouetteRadius()
{
    for (int x = CENTRE; x < W; ++x) {
        const Rgb p = pixelAt(x, CENTRE);
        if (p.r + p.g + p.b == 0)
            return x - CENTRE;
    }
    return W;
}

// With glowAmount 0 over a grey (0.5) surface on black, every pixel whose
// neighbourhood in the plain frame is wholly black stays black, and every
// pixel inside the surface gains 10 * (0.3 * 0.5)^2: the layers line up with
// the scene pixel for pixel.
void expectUnzoomedGlowLinesUp(const std::vector<uint8_t>& plain, const std::vector<uint8_t>& glowing)
{
    auto red = [](const std::vector<uint8_t>& px, int x, int y) { return px[(static_cast<size_t>(y) * W + x) * 4]; };
    int dark = 0, inside = 0, badDark = 0, badInside = 0;
    for (int y = 3; y < H - 3; ++y)
        for (int x = 3; x < W - 3; ++x) {
            int lo = 255, hi = 0;
            for (int dy = -3; dy <= 3; ++dy)
                for (int dx = -3; dx <= 3; ++dx) {
                    const int v = red(plain, x + dx, y + dy);
                    lo = v < lo ? v : lo;
                    hi = v > hi ? v : hi;
                }
            if (hi == 0) {
                ++dark;
                badDark += red(glowing, x, y) > 1 ? 1 : 0;
            } else if (lo >= 127 && hi <= 129) {
                ++inside;
                badInside += std::abs(red(glowing, x, y) - 185) > 5 ? 1 : 0;
            }
        }
    EXPECT_GT(dark, 1000);
    EXPECT_GT(inside, 1000);
    EXPECT_EQ(badDark, 0) << "lit pixels away from the surface";
    EXPECT_EQ(badInside, 0) << "surface pixels without their glow";
}

} // namespace

// --- Overlays ------------------------------------------------------------------------

TEST_F(RenderTest, BlackBackOverlayHidesTheBackgroundButTheSceneDrawsOverIt)
{
    placeCentreBall(GREY);
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ShowState show;
    show.backOverlay = { OVERLAY_BLACK, 1.0f };
    renderFrame(show);
    EXPECT_TRUE(near(pixelAt(4, 4), 0, 0, 0));
    EXPECT_TRUE(near(pixelAt(W - 4, H - 4), 0, 0, 0));
    EXPECT_TRUE(near(pixelAt(CENTRE, CENTRE), 128, 128, 128)) << "the overlay writes no depth";
    expectStandingState("frame with a black back overlay");
}

TEST_F(RenderTest, WhiteFrontOverlayAtHalfAlphaOverBlackIsMidGrey)
{
    ShowState show;
    show.frontOverlay = { OVERLAY_WHITE, 0.5f };
    renderTestFrame(show);
    for (const int x : { 3, CENTRE, W - 3 })
        for (const int y : { 3, CENTRE, H - 3 })
            EXPECT_TRUE(near(pixelAt(x, y), 128, 128, 128, 2)) << x << ", " << y;
    expectStandingState("frame with a white front overlay");
}

TEST_F(RenderTest, WhiteFrontOverlayCoversTheScene)
{
    placeCentreBall(Float3(1.0f, 0.0f, 0.0f));
    ShowState show;
    show.frontOverlay = { OVERLAY_WHITE, 1.0f };
    renderTestFrame(show);
    EXPECT_TRUE(near(pixelAt(CENTRE, CENTRE), 255, 255, 255));
}

TEST_F(RenderTest, TitleAndCreditsShowTheirImageTheRightWayUp)
{
    struct Case {
        int32_t type;
        int     slot;
    };
    for (const Case c : { Case{ OVERLAY_TITLE, SLOT_TITLE }, Case{ OVERLAY_CREDITS, SLOT_CREDITS } }) {
        SCOPED_TRACE(c.type);
        ASSERT_EQ(textureTable.loadPng(writeQuadrantPng("quadrants.png").c_str(), c.slot, 0), c.slot);
        for (const bool front : { true, false }) {
            ShowState show;
            (front ? show.frontOverlay : show.backOverlay) = { c.type, 1.0f };
            renderTestFrame(show);
            if (front && c.type == OVERLAY_TITLE)
                save("title.png");
            // The image's first row is at the top of the screen (GL rows count upwards).
            EXPECT_TRUE(near(pixelAt(W / 4, 3 * H / 4), 255, 0, 0)) << "top left";
            EXPECT_TRUE(near(pixelAt(3 * W / 4, 3 * H / 4), 0, 255, 0)) << "top right";
            EXPECT_TRUE(near(pixelAt(W / 4, H / 4), 0, 0, 255)) << "bottom left";
            EXPECT_TRUE(near(pixelAt(3 * W / 4, H / 4), 255, 255, 255)) << "bottom right";
            EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
            expectStandingState("frame with an image overlay");
        }
        textureTable.createEmpty(0, 0, GL_RGB, c.slot);
    }
}

TEST_F(RenderTest, ImageOverlayAlphaBlendsOverTheFrame)
{
    ASSERT_EQ(textureTable.loadPng(writeQuadrantPng("quadrants.png").c_str(), SLOT_CREDITS, 0), SLOT_CREDITS);
    ShowState show;
    show.frontOverlay = { OVERLAY_CREDITS, 0.25f };
    renderTestFrame(show);
    EXPECT_TRUE(near(pixelAt(3 * W / 4, H / 4), 64, 64, 64, 2));
}

TEST_F(RenderTest, OverlayTypesOutsideOneToFourDrawNothing)
{
    for (const int32_t type : { 0, 5, 7, -1 }) {
        SCOPED_TRACE(type);
        glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        ShowState show;
        show.backOverlay = { type, 1.0f };
        show.frontOverlay = { type, 1.0f };
        renderFrame(show);
        for (const int x : { 3, CENTRE, W - 3 })
            EXPECT_TRUE(near(pixelAt(x, x), 51, 102, 153, 1));
        expectStandingState("frame with overlay types that draw nothing");
    }
}

TEST_F(RenderTest, OverlayQuadRestoresTheStandingState)
{
    fillSlot(SLOT_TITLE, 8, 8, 10, 20, 30);
    fillSlot(SLOT_CREDITS, 8, 8, 10, 20, 30);
    for (const int32_t type : { 0, 1, 2, 3, 4, 7 }) {
        SCOPED_TRACE(type);
        glDisable(GL_LIGHTING);
        glDisable(GL_TEXTURE_2D);
        drawOverlayQuad(type, 0.7f);
        expectStandingState("overlay quad");
        EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
        EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    }
}

// --- Lights, projection, camera and material state -------------------------------------

TEST_F(RenderTest, LightsOffSendsNoLightAndLeavesLightingDisabled)
{
    const GLfloat sentinel[4] = { 9.0f, 8.0f, 7.0f, 1.0f };
    glLightfv(GL_LIGHT0, GL_POSITION, sentinel);
    glLightfv(GL_LIGHT1, GL_POSITION, sentinel);
    placeCentreBall(Float3(0.8f, 0.4f, 0.2f));
    renderTestFrame(ShowState{});
    // Unlit: the surface shows its vertex colour exactly.
    EXPECT_TRUE(near(pixelAt(CENTRE, CENTRE), 204, 102, 51, 1));
    GLfloat position[4];
    for (const GLenum light : { GL_LIGHT0, GL_LIGHT1 }) {
        glGetLightfv(light, GL_POSITION, position);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(position[i], sentinel[i]);
    }

    applyRenderState();
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_LIGHT0));
    EXPECT_FALSE(glIsEnabled(GL_LIGHT1));
}

TEST_F(RenderTest, LightsOnSetsBothLightsAroundTheCameraTransform)
{
    renderFlags = FLAG_LIGHTS;
    // Pitch 30, yaw 45, roll 60 (roll is not applied), eye (1, 2, 3), distance 10.
    setTestCamera(Float3(1.0f, 2.0f, 3.0f), 10.0f, 30.0f, 45.0f, 60.0f);
    placeCentreBall(GREY);
    renderTestFrame(ShowState{});

    GLfloat v[4];
    // Light 0 is set before the camera transform: it stays at the viewer.
    glGetLightfv(GL_LIGHT0, GL_POSITION, v);
    EXPECT_FLOAT_EQ(v[0], 0.0f);
    EXPECT_FLOAT_EQ(v[1], 0.0f);
    EXPECT_FLOAT_EQ(v[2], 100.0f);
    EXPECT_FLOAT_EQ(v[3], 1.0f);
    glGetLightfv(GL_LIGHT0, GL_DIFFUSE, v);
    EXPECT_FLOAT_EQ(v[0], 0.7f);
    EXPECT_FLOAT_EQ(v[2], 0.7f);
    glGetLightfv(GL_LIGHT0, GL_AMBIENT, v);
    EXPECT_FLOAT_EQ(v[1], 0.2f);
    glGetLightfv(GL_LIGHT0, GL_LINEAR_ATTENUATION, v);
    EXPECT_FLOAT_EQ(v[0], 0.001f);

    // Light 1 at world (0, 300, 0), seen through translate(0, 0, -10) *
    // rotX(30) * rotY(45) * translate(-eye).
    const double deg = M_PI / 180.0;
    double x = 0.0 - 1.0, y = 300.0 - 2.0, z = 0.0 - 3.0;
    const double cy = std::cos(45 * deg), sy = std::sin(45 * deg);
    double x1 = cy * x + sy * z, z1 = -sy * x + cy * z;
    const double cx = std::cos(30 * deg), sx = std::sin(30 * deg);
    double y2 = cx * y - sx * z1, z2 = sx * y + cx * z1;
    glGetLightfv(GL_LIGHT1, GL_POSITION, v);
    EXPECT_NEAR(v[0], x1, 1e-3);
    EXPECT_NEAR(v[1], y2, 1e-3);
    EXPECT_NEAR(v[2], z2 - 10.0, 1e-3);
    EXPECT_FLOAT_EQ(v[3], 1.0f);
    glGetLightfv(GL_LIGHT1, GL_DIFFUSE, v);
    EXPECT_FLOAT_EQ(v[0], 0.6f);
    EXPECT_FLOAT_EQ(v[1], 0.7f);
    EXPECT_FLOAT_EQ(v[2], 1.0f);
    glGetLightfv(GL_LIGHT1, GL_AMBIENT, v);
    EXPECT_FLOAT_EQ(v[2], 0.2f);
    expectStandingState("lit frame");

    applyRenderState();
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT1));
}

TEST_F(RenderTest, LitSurfaceIsShadedByBothLights)
{
    renderFlags = FLAG_LIGHTS;
    placeCentreBall(Float3(0.3f, 0.3f, 0.3f));
    renderTestFrame(ShowState{});
    save("lit.png");
    // Facing the viewer: global ambient 0.2 and the lights' 0.2 + 0.2, plus
    // light 0's diffuse 0.7 attenuated by 1 / (1 + 0.001 * 191.5) from its
    // place 100 units behind the eye; light 1 above lies behind this point.
    const Rgb centre = pixelAt(CENTRE, CENTRE);
    const double expected = 0.3 * (0.6 + 0.7 / (1.0 + 0.001 * 191.5)) * 255.0;
    EXPECT_TRUE(near(centre, int(expected), int(expected), int(expected), 5));
    // Near the top of the silhouette the normal turns up to light 1, which is bluish.
    const int radius = silhouetteRadius();
    int top = CENTRE;
    while (top < H - 1 && pixelAt(CENTRE, top + 1).r > 0)
        ++top;
    ASSERT_GT(top, CENTRE + radius / 2);
    const Rgb upper = pixelAt(CENTRE, top - 3);
    EXPECT_GT(upper.b, upper.r + 10);
    EXPECT_GT(upper.g, upper.r);
}

TEST_F(RenderTest, ProjectionIsThirtyDegreesWithTheSurfaceAspect)
{
    renderTestFrame(ShowState{});
    GLfloat m[16];
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    const double f = 1.0 / std::tan(15.0 * M_PI / 180.0);
    EXPECT_NEAR(m[0], f, 1e-4);   // aspect 1 in the square test window
    EXPECT_NEAR(m[5], f, 1e-4);
    EXPECT_NEAR(m[10], -(8192.0 + 1.0) / (8192.0 - 1.0), 1e-5);
    EXPECT_NEAR(m[14], -2.0 * 8192.0 / (8192.0 - 1.0), 1e-4);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], W);
    EXPECT_EQ(viewport[3], H);
}

TEST_F(RenderTest, ApplyRenderStateSetsMaterialFillAndSwitches)
{
    const GLfloat grey[4] = { 0.5f, 0.5f, 0.5f, 0.5f };
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, grey);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, grey);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 30.0f);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glShadeModel(GL_FLAT);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    glColor4f(0.1f, 0.2f, 0.3f, 0.4f);

    applyRenderState();
    GLfloat v[4];
    for (const GLenum face : { GL_FRONT, GL_BACK }) {
        glGetMaterialfv(face, GL_SPECULAR, v);
        EXPECT_EQ(v[0], 0.0f);
        EXPECT_EQ(v[3], 1.0f);
        glGetMaterialfv(face, GL_SHININESS, v);
        EXPECT_EQ(v[0], 0.0f);
        glGetMaterialfv(face, GL_DIFFUSE, v);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(v[i], 1.0f);
    }
    glGetFloatv(GL_CURRENT_COLOR, v);
    EXPECT_EQ(v[0], 1.0f);
    EXPECT_EQ(v[2], 1.0f);
    GLint modes[2], shade = 0;
    glGetIntegerv(GL_POLYGON_MODE, modes);
    EXPECT_EQ(modes[0], GL_FILL);
    EXPECT_EQ(modes[1], GL_FILL);
    glGetIntegerv(GL_SHADE_MODEL, &shade);
    EXPECT_EQ(shade, GL_SMOOTH);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
}

// --- Glow ------------------------------------------------------------------------------

TEST_F(RenderTest, GlowOffLeavesSlotFiveUntouched)
{
    fillSlot(SLOT_GLOW, 256, 256, 255, 0, 255);
    placeCentreBall(GREY);
    ShowState show;
    show.glowAmount = -1.0f;
    renderTestFrame(show);
    const std::vector<uint8_t> slot = readSlot(SLOT_GLOW);
    ASSERT_EQ(slot.size(), 256u * 256u * 3u);
    for (size_t i = 0; i < slot.size(); i += 3)
        ASSERT_TRUE(slot[i] == 255 && slot[i + 1] == 0 && slot[i + 2] == 255) << "texel " << i / 3;
    EXPECT_TRUE(near(pixelAt(CENTRE, CENTRE), 128, 128, 128, 1));
}

TEST_F(RenderTest, GlowCapturesTheSmallFrameAndBrightensAroundBlobs)
{
    placeCentreBall(GREY);
    ShowState show;
    renderTestFrame(show);
    const int radius = silhouetteRadius();
    ASSERT_GT(radius, 20);
    ASSERT_LT(radius, 80);
    const int ring = CENTRE + radius + 4;
    EXPECT_TRUE(near(pixelAt(ring, CENTRE), 0, 0, 0, 0));

    fillSlot(SLOT_GLOW, 256, 256, 255, 0, 255);
    show.glowAmount = 2.0f;
    renderTestFrame(show);
    save("glow.png");

    // Slot 5 holds the capture: the grey ball on black, no trace of the fill.
    const std::vector<uint8_t> slot = readSlot(SLOT_GLOW);
    ASSERT_EQ(slot.size(), 256u * 256u * 3u);
    const uint8_t* centreTexel = &slot[(128u * 256u + 128u) * 3u];
    EXPECT_NEAR(centreTexel[0], 128, 1);
    EXPECT_NEAR(centreTexel[2], 128, 1);
    for (const size_t texel : { size_t(0), size_t(255), size_t(255u * 256u), size_t(256u * 256u - 1u) })
        EXPECT_EQ(slot[texel * 3], 0) << "texel " << texel;

    // Ten additive layers of (0.3 * capture)^2: the centre gains 0.9 * 0.5^2.
    EXPECT_TRUE(near(pixelAt(CENTRE, CENTRE), 128 + 57, 128 + 57, 128 + 57, 5));
    // The zoomed layers spread the blob outwards: light beyond the silhouette.
    EXPECT_GT(pixelAt(ring, CENTRE).r, 10);
    EXPECT_TRUE(near(pixelAt(3, 3), 0, 0, 0, 0));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D)) << "the glow leaves texturing on";
    expectStandingState("frame with glow");
}

TEST_F(RenderTest, GlowAmountZeroDrawsAllLayersAtTheSameTexCoords)
{
    placeCentreBall(GREY);
    ShowState show;
    renderTestFrame(show);
    const int radius = silhouetteRadius();
    const std::vector<uint8_t> plain = readBackBuffer();
    show.glowAmount = 0.0f;
    renderTestFrame(show);
    EXPECT_TRUE(near(pixelAt(CENTRE, CENTRE), 185, 185, 185, 5));
    expectUnzoomedGlowLinesUp(plain, readBackBuffer());
    // No zoom: nothing lights up beyond the silhouette.
    EXPECT_TRUE(near(pixelAt(CENTRE + radius + 2, CENTRE), 0, 0, 0, 0));
    EXPECT_TRUE(near(pixelAt(CENTRE - radius - 2, CENTRE), 0, 0, 0, 0));
}

TEST_F(RenderTest, GlowLayersAddTheSquaredCaptureWeightedByTheLayerGrey)
{
    // Lit surfaces give a range of capture values; with glowAmount 0 every
    // pixel gains layers * (c * capture)^2, c = 0.3 dim and 1.0 bright.
    renderFlags = FLAG_LIGHTS;
    placeTestBalls({ { GRID_CENTRE, Float3(0.35f, 0.25f, 0.15f) } });
    isoSurface.materialMode = MATERIAL_WHITE;
    for (const bool bright : { false, true }) {
        SCOPED_TRACE(bright ? "bright" : "dim");
        ShowState show;
        show.brightGlow = bright;
        renderTestFrame(show);
        const std::vector<uint8_t> plain = readBackBuffer();
        show.glowAmount = 0.0f;
        renderTestFrame(show);
        const std::vector<uint8_t> glowing = readBackBuffer();
        const std::vector<uint8_t> capture = readSlot(SLOT_GLOW);
        ASSERT_EQ(capture.size(), 256u * 256u * 3u);
        const double c = bright ? 1.0 : 0.3;
        int checked = 0, lit = 0;
        for (int x = 0; x < W; ++x) {
            const size_t px = (static_cast<size_t>(CENTRE) * W + x);
            for (int k = 0; k < 3; ++k) {
                const double t = capture[px * 3 + k] / 255.0;
                const double expected = plain[px * 4 + k] + GLOW_LAYERS * (c * t) * (c * t) * 255.0;
                if (expected > 250.0)
                    continue;   // saturated
                EXPECT_NEAR(glowing[px * 4 + k], expected, 7.0) << "x " << x << " channel " << k;
                ++checked;
                if (capture[px * 3 + k] > 20)
                    ++lit;
            }
        }
        EXPECT_GT(checked, 100);
        EXPECT_GT(lit, 10) << "the capture shows the surface";
        if (bright) {
            // The capture is the flat black variant: only the white highlight shows.
            const uint8_t* centreTexel = &capture[(128u * 256u + 128u) * 3u];
            EXPECT_NEAR(centreTexel[0], centreTexel[2], 3);
        }
    }
}

TEST_F(RenderTest, BrightGlowCapturesTheFlatBlackVariant)
{
    placeCentreBall(Float3(1.0f, 0.0f, 0.0f));
    ShowState show;
    show.glowAmount = 2.0f;
    renderTestFrame(show);
    std::vector<uint8_t> slot = readSlot(SLOT_GLOW);
    EXPECT_EQ(slot[(128u * 256u + 128u) * 3u], 255) << "dim glow captures the coloured surface";

    show.brightGlow = true;
    renderTestFrame(show);
    slot = readSlot(SLOT_GLOW);
    EXPECT_EQ(slot[(128u * 256u + 128u) * 3u], 0) << "unlit flat surface is black";
    EXPECT_TRUE(near(pixelAt(CENTRE, CENTRE), 255, 0, 0, 1)) << "a black capture adds nothing";
    EXPECT_EQ(isoSurface.flatColourMode, false);
}

TEST_F(RenderTest, GlowCaptureHeightFollowsTheSurfaceAspect)
{
    EXPECT_EQ(glowCaptureHeight(256, 800, 600), 192);
    EXPECT_EQ(glowCaptureHeight(256, 1024, 768), 192);
    EXPECT_EQ(glowCaptureHeight(256, W, H), 256);
    EXPECT_EQ(glowCaptureHeight(256, 1000, 333), 85);   // truncated
    EXPECT_EQ(glowCaptureHeight(256, 0, 600), 0);
}

TEST_F(RenderTest, GlowAt800x600Captures256x192AndLinesUpWithTheScene)
{
    // The frame is 800 x 600; the window shows its lower left 256 x 256.
    fillSlot(SLOT_GLOW, 256, 256, 255, 0, 255);
    ShowState show;
    show.backOverlay = { OVERLAY_WHITE, 1.0f };
    show.glowAmount = 0.0f;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    renderFrame(show, 800, 600);
    std::vector<uint8_t> slot = readSlot(SLOT_GLOW);
    auto texel = [&](int x, int y) { return &slot[(static_cast<size_t>(y) * 256 + x) * 3]; };
    for (const int y : { 0, 100, 191 })
        EXPECT_EQ(texel(10, y)[1], 255) << "row " << y << " holds the captured white overlay";
    for (const int y : { 192, 255 })
        EXPECT_EQ(texel(10, y)[1], 0) << "row " << y << " lies beyond the capture";
    // The capture's clear erases the back overlay; the screen shows only the
    // ten layers of the white capture: 10 * 0.3^2.
    EXPECT_TRUE(near(pixelAt(10, 10), 230, 230, 230, 3)) << "the capture's clear erases the back overlay";

    // A ball seen in the visible corner: where the plain frame shows it, the
    // glow (r = 0.75, no zoom) brightens it, and it adds nothing beside it.
    glViewport(0, 0, W, H);
    setTestCamera(Float3(32.0f + 48.6f, 32.0f + 30.7f, 32.0f), 200.0f);
    placeCentreBall(GREY);
    show = ShowState{};
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    renderFrame(show, 800, 600);
    long sumX = 0, sumY = 0, count = 0;
    const std::vector<uint8_t> plain = readBackBuffer();
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (plain[(static_cast<size_t>(y) * W + x) * 4] > 100) {
                sumX += x;
                sumY += y;
                ++count;
            }
    ASSERT_GT(count, 2000);
    const int bx = static_cast<int>(sumX / count), by = static_cast<int>(sumY / count);
    EXPECT_NEAR(bx, 128, 12);
    EXPECT_NEAR(by, 128, 12);
    EXPECT_TRUE(near(pixelAt(bx, by), 128, 128, 128, 1));

    show.glowAmount = 0.0f;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    renderFrame(show, 800, 600);
    EXPECT_TRUE(near(pixelAt(bx, by), 185, 185, 185, 5));
    expectUnzoomedGlowLinesUp(plain, readBackBuffer());
    glViewport(0, 0, W, H);
}

// --- Sky cube ---------------------------------------------------------------------------

TEST_F(RenderTest, SkyCubeSurroundsACameraInsideIt)
{
    // Slot 2: vertical stripes, red on the left half of the image, blue on the right.
    constexpr int N = 32;
    textureTable.createEmpty(N, N, GL_RGB, SLOT_SKY);
    std::vector<uint8_t> pixels(N * N * 3);
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) {
            pixels[(y * N + x) * 3] = x < N / 2 ? 255 : 0;
            pixels[(y * N + x) * 3 + 2] = x < N / 2 ? 0 : 255;
        }
    glBindTexture(GL_TEXTURE_2D, textureTable.nameOf(SLOT_SKY));
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, N, N, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    renderFlags = FLAG_LIGHTS;   // the cube is drawn unlit all the same

    ShowState show;
    show.skyboxSlot = SLOT_SKY;
    const float directions[6][2] = { { 0, 0 }, { 0, 90 }, { 0, 180 }, { 0, 270 }, { 90, 0 }, { -90, 0 } };
    for (const auto& d : directions) {
        SCOPED_TRACE(testing::Message() << "pitch " << d[0] << " yaw " << d[1]);
        setTestCamera(GRID_CENTRE, 0.0f, d[0], d[1]);
        renderTestFrame(show);
        if (d[0] == 0.0f && d[1] == 0.0f)
            save("sky.png");
        int red = 0, blue = 0, other = 0;
        for (int y = 4; y < H; y += 8)
            for (int x = 4; x < W; x += 8) {
                const Rgb p = pixelAt(x, y);
                if (p.r > 200 && p.g < 10 && p.b < 50)
                    ++red;
                else if (p.b > 200 && p.g < 10 && p.r < 50)
                    ++blue;
                else
                    ++other;
            }
        // The texture repeats eight times along each 128-unit edge: from the
        // centre a face shows about two periods, so both stripes appear.
        EXPECT_GT(red, 200);
        EXPECT_GT(blue, 200);
        EXPECT_LT(other, 100) << "only stripe boundaries blend";
        expectStandingState("frame with the sky cube");
    }

}

TEST_F(RenderTest, SkyCubeRestoresCullingLightsAndTexturing)
{
    fillSlot(SLOT_SKY, 8, 8, 1, 2, 3);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    drawSkyCube(SLOT_SKY);
    GLint cull = 0;
    glGetIntegerv(GL_CULL_FACE_MODE, &cull);
    EXPECT_EQ(cull, GL_FRONT);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    expectStandingState("sky cube");
}

// --- Grid --------------------------------------------------------------------------------

TEST_F(RenderTest, GridFlagDrawsTheThreeColouredLineSets)
{
    setTestCamera(GRID_CENTRE, 220.0f, 25.0f, 35.0f);
    auto countColours = [](int counts[3]) {
        const std::vector<uint8_t> px = readBackBuffer();
        counts[0] = counts[1] = counts[2] = 0;
        for (size_t i = 0; i < px.size(); i += 4) {
            const int r = px[i], g = px[i + 1], b = px[i + 2];
            if (r > 30 && g < r / 3 && b < r / 3)
                ++counts[0];
            if (g > 30 && r < g / 3 && b < g / 3)
                ++counts[1];
            if (b > 30 && r < b / 3 && g < b / 3)
                ++counts[2];
        }
    };
    int counts[3];
    renderTestFrame(ShowState{});
    countColours(counts);
    EXPECT_EQ(counts[0] + counts[1] + counts[2], 0);

    renderFlags = FLAG_GRID;
    renderTestFrame(ShowState{});
    save("grid.png");
    countColours(counts);
    EXPECT_GT(counts[0], 300) << "red lines along x";
    EXPECT_GT(counts[1], 300) << "green lines along y";
    EXPECT_GT(counts[2], 300) << "blue lines along z";
    expectStandingState("frame with the grid");
}

TEST_F(RenderTest, GridPassLeavesLightingOnAndBlendingOff)
{
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glLineWidth(3.0f);
    drawGrid();
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
    GLfloat width = 0.0f;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_EQ(width, 1.0f);
    expectStandingState("grid");
}

// --- Caption -----------------------------------------------------------------------------

TEST(RenderCaption, TextNamesTheDemoTheGroupAndTheFrameRate)
{
    char text[128];
    formatCaption(text, sizeof text, 59.5f);
    EXPECT_STREQ(text, "\"Mirrow\" Demo by: Quindle (quindle.example).    FPS: 59.50");
    formatCaption(text, 10, 1000.0f);
    EXPECT_STREQ(text, "\"Mirrow\" ");   // truncated to the buffer, terminated
}

TEST_F(RenderTest, CaptionIsDrawnTopLeftInItsColourScaledByWidthOnly)
{
    // A font whose every glyph is a solid box, so the caption is one bar.
    const std::string font = dir.path() + "/font.png";
    writeFixturePng(font, 256, 256, 3, std::vector<uint8_t>(256 * 256 * 3, 255));
    ASSERT_EQ(textureTable.loadPngWithMask(font.c_str(), font.c_str(), SLOT_FONT, 0), SLOT_FONT);
    buildFont(fontLists, textureTable.nameOf(SLOT_FONT));
    framesPerSecond = 59.5f;
    renderFlags = FLAG_CAPTION;
    const Rgb colour{ 77, 51, 204 };   // (0.3, 0.2, 0.8)

    struct Case {
        int   screenWidth, screenHeight;
        float bottom, top;   // rows covered by the bar
    };
    // y = screenHeight - 36; glyphs 16 * u high, u = screenWidth / 800.
    for (const Case c : { Case{ 800, 256, 220, 236 }, Case{ 1600, 256, 220, 252 }, Case{ 800, 200, 164, 180 } }) {
        SCOPED_TRACE(testing::Message() << c.screenWidth << " x " << c.screenHeight);
        appSettings.screenWidth = c.screenWidth;
        appSettings.screenHeight = c.screenHeight;
        renderTestFrame(ShowState{});
        const int bottom = static_cast<int>(c.bottom), top = static_cast<int>(c.top);
        EXPECT_TRUE(near(pixelAt(10, bottom + 1), colour.r, colour.g, colour.b, 2));
        EXPECT_TRUE(near(pixelAt(200, top - 2), colour.r, colour.g, colour.b, 2));
        EXPECT_TRUE(near(pixelAt(5, bottom + 4), 0, 0, 0, 0)) << "the text starts at x = 8";
        EXPECT_TRUE(near(pixelAt(100, bottom - 2), 0, 0, 0, 0));
        EXPECT_TRUE(near(pixelAt(100, top + 2), 0, 0, 0, 0));
        EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
        EXPECT_FALSE(glIsEnabled(GL_BLEND));
        EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
        EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    }

    // At width 256 a glyph is 3.84 pixels wide: the bar ends after the
    // caption's characters.
    appSettings.screenWidth = 256;
    appSettings.screenHeight = 256;
    renderTestFrame(ShowState{});
    save("caption.png");
    char text[128];
    formatCaption(text, sizeof text, framesPerSecond);
    const float end = 8.0f + static_cast<float>(std::strlen(text)) * 256.0f * 0.00125f * 12.0f;
    ASSERT_LT(end, W - 4);
    EXPECT_TRUE(near(pixelAt(static_cast<int>(end) - 2, 222), colour.r, colour.g, colour.b, 2));
    EXPECT_TRUE(near(pixelAt(static_cast<int>(end) + 2, 222), 0, 0, 0, 0));
    framesPerSecond = 0.0f;
}

TEST_F(RenderTest, NoCaptionWithoutItsFlag)
{
    const std::string font = dir.path() + "/font.png";
    writeFixturePng(font, 256, 256, 3, std::vector<uint8_t>(256 * 256 * 3, 255));
    ASSERT_EQ(textureTable.loadPngWithMask(font.c_str(), font.c_str(), SLOT_FONT, 0), SLOT_FONT);
    buildFont(fontLists, textureTable.nameOf(SLOT_FONT));
    appSettings.screenWidth = 800;
    appSettings.screenHeight = 256;
    renderTestFrame(ShowState{});
    EXPECT_TRUE(near(pixelAt(10, 221), 0, 0, 0, 0));
}
