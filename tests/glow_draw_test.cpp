// tests/glow_draw_test.cpp: the glow layers drawn only over their lit
// rectangles give the same frame, byte for byte, as every layer over the
// whole screen; overlay quads that cannot change a pixel are skipped without
// changing the frame or the state later passes see. Frames are drawn at full
// size into an offscreen framebuffer (the shared window is 256 x 256).
#include "GlTestWindow.h"
#include "RenderFixture.h"
#include "TestSupport.h"

#include "app/Demo.h"
#include "app/Render.h"
#include "app/Settings.h"
#include "app/Shell.h"
#include "gfx/Texture.h"
#include "iso/IsoSurface.h"
#include "path/Camera.h"
#include "path/PathPlayer.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

const Float3 GRID_CENTRE(32.0f, 32.0f, 32.0f);

// --- Offscreen frame ---------------------------------------------------------------------

// The framebuffer-object entry points, looked up at run time.
struct FboApi {
    void (*genFramebuffers)(GLsizei, GLuint*) = nullptr;
    void (*deleteFramebuffers)(GLsizei, const GLuint*) = nullptr;
    void (*bindFramebuffer)(GLenum, GLuint) = nullptr;
    void (*genRenderbuffers)(GLsizei, GLuint*) = nullptr;
    void (*deleteRenderbuffers)(GLsizei, const GLuint*) = nullptr;
    void (*bindRenderbuffer)(GLenum, GLuint) = nullptr;
    void (*renderbufferStorage)(GLenum, GLenum, GLsizei, GLsizei) = nullptr;
    void (*framebufferRenderbuffer)(GLenum, GLenum, GLenum, GLuint) = nullptr;
    GLenum (*checkFramebufferStatus)(GLenum) = nullptr;

    bool load()
    {
        auto get = [](const char* name, auto& fn) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(SDL_GL_GetProcAddress(name));
            return fn != nullptr;
        };
        return get("glGenFramebuffersEXT", genFramebuffers) && get("glDeleteFramebuffersEXT", deleteFramebuffers) &&
               get("glBindFramebufferEXT", bindFramebuffer) && get("glGenRenderbuffersEXT", genRenderbuffers) &&
               get("glDeleteRenderbuffersEXT", deleteRenderbuffers) &&
               get("glBindRenderbufferEXT", bindRenderbuffer) &&
               get("glRenderbufferStorageEXT", renderbufferStorage) &&
               get("glFramebufferRenderbufferEXT", framebufferRenderbuffer) &&
               get("glCheckFramebufferStatusEXT", checkFramebufferStatus);
    }
};

constexpr GLenum FB = 0x8D40;                  // GL_FRAMEBUFFER_EXT
constexpr GLenum RB = 0x8D41;                  // GL_RENDERBUFFER_EXT
constexpr GLenum COLOR_ATTACHMENT0 = 0x8CE0;   // GL_COLOR_ATTACHMENT0_EXT
constexpr GLenum DEPTH_ATTACHMENT = 0x8D00;    // GL_DEPTH_ATTACHMENT_EXT
constexpr GLenum STENCIL_ATTACHMENT = 0x8D20;  // GL_STENCIL_ATTACHMENT_EXT
constexpr GLenum DEPTH24_STENCIL8 = 0x88F0;    // GL_DEPTH24_STENCIL8_EXT
constexpr GLenum FB_COMPLETE = 0x8CD5;         // GL_FRAMEBUFFER_COMPLETE_EXT

// A w x h RGB colour buffer with depth and stencil, bound while it lives.
// RGB like the program's window: no destination alpha.
class OffscreenFrame {
public:
    OffscreenFrame(const FboApi& api, int w, int h) : api_(api), w_(w), h_(h)
    {
        api_.genFramebuffers(1, &fb_);
        api_.genRenderbuffers(2, rb_);
        api_.bindFramebuffer(FB, fb_);
        api_.bindRenderbuffer(RB, rb_[0]);
        api_.renderbufferStorage(RB, GL_RGB8, w, h);
        api_.framebufferRenderbuffer(FB, COLOR_ATTACHMENT0, RB, rb_[0]);
        api_.bindRenderbuffer(RB, rb_[1]);
        api_.renderbufferStorage(RB, DEPTH24_STENCIL8, w, h);
        api_.framebufferRenderbuffer(FB, DEPTH_ATTACHMENT, RB, rb_[1]);
        api_.framebufferRenderbuffer(FB, STENCIL_ATTACHMENT, RB, rb_[1]);
        api_.bindRenderbuffer(RB, 0);
        complete_ = api_.checkFramebufferStatus(FB) == FB_COMPLETE;
    }
    ~OffscreenFrame()
    {
        api_.bindFramebuffer(FB, 0);
        api_.deleteRenderbuffers(2, rb_);
        api_.deleteFramebuffers(1, &fb_);
        glViewport(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
    }
    OffscreenFrame(const OffscreenFrame&) = delete;
    OffscreenFrame& operator=(const OffscreenFrame&) = delete;

    bool complete() const { return complete_; }

    // The frame as RGB rows, bottom first.
    std::vector<uint8_t> read() const
    {
        std::vector<uint8_t> pixels(static_cast<size_t>(w_) * h_ * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, w_, h_, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
        return pixels;
    }

private:
    const FboApi& api_;
    int           w_, h_;
    GLuint        fb_ = 0;
    GLuint        rb_[2] = {};
    bool          complete_ = false;
};

// Level 0 of a slot, kept and put back, so the test's own images do not stay
// in the program's texture table for the tests after it.
class SlotBackup {
public:
    explicit SlotBackup(int slot) : slot_(slot)
    {
        w_ = textureTable.widths[slot];
        h_ = textureTable.heights[slot];
        components_ = textureTable.components[slot];
        glBindTexture(GL_TEXTURE_2D, textureTable.nameOf(slot));
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter_);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter_);
        if (w_ > 0 && h_ > 0) {
            pixels_.resize(static_cast<size_t>(w_) * h_ * format());
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glGetTexImage(GL_TEXTURE_2D, 0, format() == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, pixels_.data());
        }
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    ~SlotBackup()
    {
        glBindTexture(GL_TEXTURE_2D, textureTable.nameOf(slot_));
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        const GLenum f = format() == 4 ? GL_RGBA : GL_RGB;
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(f), w_, h_, 0, f, GL_UNSIGNED_BYTE,
                     pixels_.empty() ? nullptr : pixels_.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter_);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, magFilter_);
        glBindTexture(GL_TEXTURE_2D, 0);
        textureTable.widths[slot_] = w_;
        textureTable.heights[slot_] = h_;
        textureTable.components[slot_] = components_;
    }
    SlotBackup(const SlotBackup&) = delete;
    SlotBackup& operator=(const SlotBackup&) = delete;

private:
    int format() const { return components_ == 4 ? 4 : 3; }
    int                  slot_, w_ = 0, h_ = 0, components_ = 0;
    GLint                minFilter_ = GL_LINEAR, magFilter_ = GL_LINEAR;
    std::vector<uint8_t> pixels_;
};

// A slot filled with a smooth gradient, so textured surfaces are not flat.
void fillGradientSlot(int slot, int n)
{
    textureTable.createEmpty(n, n, GL_RGB, slot);
    std::vector<uint8_t> pixels(static_cast<size_t>(n) * n * 3);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            uint8_t* p = &pixels[(static_cast<size_t>(y) * n + x) * 3];
            p[0] = static_cast<uint8_t>(20 + x * 60 / n);
            p[1] = static_cast<uint8_t>(10 + y * 50 / n);
            p[2] = static_cast<uint8_t>(60 + (x + y) * 40 / n);
        }
    glBindTexture(GL_TEXTURE_2D, textureTable.nameOf(slot));
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, n, n, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
}

struct Size {
    int w, h;
};

// Sizes: the show's, odd ones, and a window taller than wide.
const Size SIZES[] = { { 1024, 768 }, { 333, 211 }, { 1023, 767 }, { 300, 500 } };

int countDifferent(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size())
        return -1;
    int n = 0;
    for (size_t i = 0; i < a.size(); ++i)
        n += a[i] != b[i] ? 1 : 0;
    return n;
}

class GlowDrawTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(prepareRenderTest());
        ASSERT_TRUE(api_.load()) << "no framebuffer objects";
        savedFlags_ = renderFlags;
        savedSettings_ = appSettings;
        renderFlags = FLAG_LIGHTS;
        setLightParameters();
        clearTestBalls();
        setTestCamera(GRID_CENTRE, 100.0f);
        glowScissor = true;
        while (glGetError() != GL_NO_ERROR) {
        }
    }

    void TearDown() override
    {
        glowScissor = true;
        clearTestBalls();
        renderFlags = savedFlags_;
        appSettings = savedSettings_;
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        setupGlState();
        glDisable(GL_LIGHTING);
        glDisable(GL_TEXTURE_2D);
        glEnable(GL_DEPTH_TEST);
        glViewport(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
    }

    // One frame of `show` at w x h as the frame loop draws it.
    std::vector<uint8_t> frame(const OffscreenFrame& target, const ShowState& show, int w, int h, bool scissor)
    {
        glowScissor = scissor;
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glColor3f(1.0f, 1.0f, 1.0f);
        renderFrame(show, w, h);
        glowScissor = true;
        return target.read();
    }

    // Draws `show` at every size both ways and expects the same bytes; keeps
    // the scissored path's stats of the last size in lastStats and sums the
    // pixels the layers covered against the full screens.
    void expectSameBothWays(const ShowState& show, const char* what, const Size* sizes, size_t count)
    {
        for (size_t k = 0; k < count; ++k) {
            const Size s = sizes[k];
            SCOPED_TRACE(std::string(what) + " at " + std::to_string(s.w) + "x" + std::to_string(s.h));
            OffscreenFrame target(api_, s.w, s.h);
            ASSERT_TRUE(target.complete());
            const std::vector<uint8_t> plain = frame(target, show, s.w, s.h, false);
            ASSERT_FALSE(glowDrawStats.scissored);
            const std::vector<uint8_t> cut = frame(target, show, s.w, s.h, true);
            ASSERT_TRUE(glowDrawStats.scissored) << "the rectangles were not used";
            lastStats = glowDrawStats;
            EXPECT_EQ(countDifferent(plain, cut), 0) << "bytes differ";
            EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
            drawnPixels += glowDrawStats.layerPixels;
            fullPixels += static_cast<long>(GLOW_LAYERS) * s.w * s.h;
        }
    }

    FboApi        api_;
    int32_t       savedFlags_ = 0;
    AppSettings   savedSettings_;
    GlowDrawStats lastStats;
    long          drawnPixels = 0, fullPixels = 0;
};

// --- Glow ----------------------------------------------------------------------------------

TEST_F(GlowDrawTest, GlowScenesAreByteIdenticalWithAndWithoutRectangles)
{
    SlotBackup sky(SLOT_SKY), pastel(SLOT_PASTEL);
    fillGradientSlot(SLOT_SKY, 64);
    fillGradientSlot(SLOT_PASTEL, 64);
    TempDir dir;
    auto player = std::make_unique<PathPlayer>();
    constructPathPlayer(*player, dir.path().c_str());
    struct Moment {
        int   scene;
        float fraction;
    };
    // Scene 9 glows from 0.3 (bright) and from 0.6 (amount 4).
    const Moment moments[] = { { 3, 0.1f }, { 3, 0.5f }, { 3, 0.9f }, { 7, 0.2f }, { 7, 0.6f },
                               { 7, 0.95f }, { 9, 0.4f }, { 9, 0.7f }, { 9, 0.95f } };
    int glowing = 0;
    for (const Moment& m : moments) {
        PathPlayer& p = *player;
        startPath(p, m.scene);
        const float start = startPositionSum(m.scene, p.paths.pathDurations);
        updatePlayer(p, start);
        updatePlayer(p, start + m.fraction * p.paths.pathDurations[m.scene]);
        ASSERT_TRUE(p.playing);
        ASSERT_EQ(p.pathIndex, m.scene);
        ASSERT_GE(p.show.glowAmount, 0.0f) << "scene " << m.scene << " glows at " << m.fraction;
        const std::string what = "scene " + std::to_string(m.scene) + " at " + std::to_string(m.fraction);
        // Every size at the show's moments in scene 3; the show's size for the rest.
        expectSameBothWays(p.show, what.c_str(), SIZES, m.scene == 3 ? std::size(SIZES) : 1);
        glowing += lastStats.layerDraws > 0 ? 1 : 0;
    }
    stopPath(*player);
    EXPECT_GE(glowing, 6) << "most moments have light in the capture";
    EXPECT_LT(drawnPixels, fullPixels) << "the rectangles spared part of the screen";
}

TEST_F(GlowDrawTest, LightTouchingTheScreenEdgesIsIdentical)
{
    // A ball in the lower left corner of the view, one cut by the right edge:
    // the capture is lit at its edges, which repeat into the opposite edges.
    placeTestBalls({ { GRID_CENTRE, Float3(0.9f, 0.6f, 0.3f) },
                     { Float3(GRID_CENTRE.x + 35.0f, GRID_CENTRE.y + 8.0f, GRID_CENTRE.z), Float3(0.3f, 0.8f, 0.9f) } });
    setTestCamera(Float3(GRID_CENTRE.x + 30.0f, GRID_CENTRE.y + 22.0f, GRID_CENTRE.z), 100.0f);
    for (const float amount : { 0.0f, 2.0f, 4.0f }) {
        for (const bool bright : { false, true }) {
            ShowState show;
            show.glowAmount = amount;
            show.brightGlow = bright;
            expectSameBothWays(show, bright ? "bright, edges" : "edges", SIZES, std::size(SIZES));
        }
    }
    // The case is what it claims: at the show's size the capture is lit in
    // its first column and its first row.
    ShowState show;
    show.glowAmount = 2.0f;
    expectSameBothWays(show, "edges", SIZES, 1);
    const std::vector<uint8_t> capture = readSlot(SLOT_GLOW);
    ASSERT_EQ(capture.size(), 256u * 256u * 3u);
    bool leftLit = false, bottomLit = false;
    for (int i = 0; i < 256; ++i) {
        const uint8_t* left = &capture[static_cast<size_t>(i) * 256 * 3];
        const uint8_t* bottom = &capture[static_cast<size_t>(i) * 3];
        leftLit = leftLit || (left[0] | left[1] | left[2]);
        bottomLit = bottomLit || (bottom[0] | bottom[1] | bottom[2]);
    }
    EXPECT_TRUE(leftLit);
    EXPECT_TRUE(bottomLit);
}

TEST_F(GlowDrawTest, CaptureFilledWholeDrawsEveryLayerOverTheWholeScreen)
{
    // A white back overlay fills the capture region; rows past it keep what
    // the earlier fill left, so the whole texture is lit.
    fillSlot(SLOT_GLOW, 256, 256, 40, 40, 40);
    placeTestBalls({ { GRID_CENTRE, Float3(0.5f, 0.5f, 0.5f) } });
    ShowState show;
    show.backOverlay = { OVERLAY_WHITE, 1.0f };
    show.glowAmount = 2.0f;
    const Size size[] = { { 640, 480 } };
    expectSameBothWays(show, "white capture", size, 1);
    EXPECT_EQ(lastStats.layerDraws, GLOW_LAYERS);
    EXPECT_EQ(lastStats.layerPixels, static_cast<long>(GLOW_LAYERS) * 640 * 480);
}

TEST_F(GlowDrawTest, BlackCaptureDrawsNoLayer)
{
    fillSlot(SLOT_GLOW, 256, 256, 0, 0, 0);
    ShowState show;
    show.glowAmount = 2.0f;
    show.skyboxSlot = 0;
    expectSameBothWays(show, "empty scene", SIZES, std::size(SIZES));
    EXPECT_EQ(lastStats.layerDraws, 0);
    EXPECT_EQ(lastStats.layerPixels, 0);
}

TEST_F(GlowDrawTest, ScissoredGlowLeavesTheStateThePlainPathLeaves)
{
    placeTestBalls({ { GRID_CENTRE, Float3(0.7f, 0.2f, 0.4f) } });
    ShowState show;
    show.glowAmount = 2.0f;
    OffscreenFrame target(api_, 400, 300);
    ASSERT_TRUE(target.complete());
    struct State {
        float     colour[4], texCoord[4];
        GLboolean scissorTest, blend, depthTest, texture;
        GLint     scissorBox[4], blendSrc, blendDst;
    };
    auto state = [] {
        State s{};
        glGetFloatv(GL_CURRENT_COLOR, s.colour);
        glGetFloatv(GL_CURRENT_TEXTURE_COORDS, s.texCoord);
        s.scissorTest = glIsEnabled(GL_SCISSOR_TEST);
        s.blend = glIsEnabled(GL_BLEND);
        s.depthTest = glIsEnabled(GL_DEPTH_TEST);
        s.texture = glIsEnabled(GL_TEXTURE_2D);
        glGetIntegerv(GL_SCISSOR_BOX, s.scissorBox);
        glGetIntegerv(GL_BLEND_SRC, &s.blendSrc);
        glGetIntegerv(GL_BLEND_DST, &s.blendDst);
        return s;
    };
    glScissor(3, 4, 50, 60);
    frame(target, show, 400, 300, false);
    const State plain = state();
    frame(target, show, 400, 300, true);
    ASSERT_TRUE(glowDrawStats.scissored);
    ASSERT_GT(glowDrawStats.layerDraws, 0);
    const State cut = state();
    EXPECT_EQ(std::memcmp(plain.colour, cut.colour, sizeof plain.colour), 0) << "current colour";
    EXPECT_EQ(std::memcmp(plain.texCoord, cut.texCoord, sizeof plain.texCoord), 0) << "texture coordinate";
    EXPECT_EQ(cut.scissorTest, GLboolean(GL_FALSE));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(cut.scissorBox[i], plain.scissorBox[i]) << "scissor box " << i;
    EXPECT_EQ(cut.blend, plain.blend);
    EXPECT_EQ(cut.depthTest, plain.depthTest);
    EXPECT_EQ(cut.texture, plain.texture);
    EXPECT_EQ(cut.blendSrc, plain.blendSrc);
    EXPECT_EQ(cut.blendDst, plain.blendDst);

    // A scissor already set falls back to the plain path, which honours it.
    glEnable(GL_SCISSOR_TEST);
    frame(target, show, 400, 300, true);
    glDisable(GL_SCISSOR_TEST);
    EXPECT_FALSE(glowDrawStats.scissored);
}

// --- Overlays ------------------------------------------------------------------------------

TEST_F(GlowDrawTest, InvisibleOverlaysChangeNoPixelAndLeaveTheirState)
{
    SlotBackup title(SLOT_TITLE);
    fillGradientSlot(SLOT_TITLE, 32);
    placeTestBalls({ { GRID_CENTRE, Float3(0.6f, 0.6f, 0.2f) } });
    OffscreenFrame target(api_, 320, 240);
    ASSERT_TRUE(target.complete());
    for (const bool glow : { false, true }) {
        ShowState none;
        none.glowAmount = glow ? 2.0f : -1.0f;
        const std::vector<uint8_t> reference = frame(target, none, 320, 240, true);
        for (const int32_t type : { OVERLAY_TITLE, OVERLAY_BLACK, OVERLAY_WHITE, OVERLAY_CREDITS }) {
            for (const float alpha : { 0.0f, -0.5f, -3.0f }) {
                SCOPED_TRACE("type " + std::to_string(type) + " alpha " + std::to_string(alpha) +
                             (glow ? " with glow" : ""));
                ShowState show = none;
                show.backOverlay = { type, alpha };
                show.frontOverlay = { type, alpha };
                EXPECT_EQ(countDifferent(reference, frame(target, show, 320, 240, true)), 0);

                // The state the quad leaves: what a drawn quad would leave.
                glColor4f(0.1f, 0.2f, 0.3f, 0.4f);
                glTexCoord2f(0.7f, 0.8f);
                drawOverlayQuad(type, alpha, 320, 240);
                float colour[4], texCoord[4];
                glGetFloatv(GL_CURRENT_COLOR, colour);
                glGetFloatv(GL_CURRENT_TEXTURE_COORDS, texCoord);
                const bool textured = type == OVERLAY_TITLE || type == OVERLAY_CREDITS;
                const float g = type == OVERLAY_BLACK ? 0.0f : 1.0f;
                float want[4];
                glColor4f(g, g, g, alpha);   // what GL keeps for the call the quad makes
                glGetFloatv(GL_CURRENT_COLOR, want);
                EXPECT_EQ(std::memcmp(colour, want, sizeof colour), 0) << "current colour";
                EXPECT_EQ(texCoord[0], textured ? 1.0f : 0.7f);
                EXPECT_EQ(texCoord[1], textured ? 1.0f : 0.8f);
                EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
                EXPECT_FALSE(glIsEnabled(GL_BLEND));
                EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
                EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
                if (textured) {
                    GLint bound = 0;
                    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
                    EXPECT_EQ(GLuint(bound), textureTable.nameOf(type == OVERLAY_TITLE ? SLOT_TITLE : SLOT_CREDITS));
                }
            }
        }
    }
}

TEST_F(GlowDrawTest, ZeroAlphaOverlayStillDrawsUnderAnotherBlendFunction)
{
    // With additive blending an alpha of 0 does not hide the quad: it is drawn.
    OffscreenFrame target(api_, 64, 64);
    ASSERT_TRUE(target.complete());
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glBlendFunc(GL_ONE, GL_ONE);
    drawOverlayQuad(OVERLAY_WHITE, 0.0f, 64, 64);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const std::vector<uint8_t> pixels = target.read();
    EXPECT_EQ(pixels[(32u * 64u + 32u) * 3u], 255);
}

} // namespace
