// tests/actors_draw_test.cpp: the character loader with real files (the skin
// goes through the texture table, so GL is needed), missing files, and the
// actors drawn under Xvfb, alone and inside renderFrame (scene and glow
// capture), with pixels read back.
#include "GlTestWindow.h"
#include "TestSupport.h"

#include "app/Render.h"
#include "app/Settings.h"
#include "app/Shell.h"
#include "gfx/Texture.h"
#include "iso/Field.h"
#include "iso/IsoSurface.h"
#include "model/Actors.h"
#include "model/OvrinCharacter.h"
#include "model/hl.h"
#include "path/Camera.h"

#include <SDL_opengl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The generated character ("ovrin.mdl", "ovrin_tex.png"), written once per
// test process into a folder that lives until the process ends.
const std::string& characterFolder()
{
    static TempDir dir;
    static std::string folder;
    if (folder.empty()) {
        const std::string data = dir.path() + "/data";
        EXPECT_EQ(runShell("mkdir -p '" + data + "'"), 0);
        const ProcessResult r = runProcess({ std::string(VORTALUNE_TOOLS_DIR) + "/gencharacter", data }, {});
        EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
        folder = data;
    }
    return folder;
}

// The skin only (no model file).
const std::string& skinOnlyFolder()
{
    static TempDir dir;
    static std::string folder;
    if (folder.empty()) {
        const std::string copy = "cp '" + characterFolder() + "/ovrin_tex.png' '" + dir.path() + "/'";
        EXPECT_EQ(runShell(copy), 0);
        folder = dir.path();
    }
    return folder;
}

struct Extent {
    int lit = 0;
    int minX = GL_TEST_WIDTH, maxX = -1, minY = GL_TEST_HEIGHT, maxY = -1;
    double sumX = 0.0;
    double brightness = 0.0;   // sum of r + g + b over lit pixels
    int width() const { return lit ? maxX - minX + 1 : 0; }
    double centreX() const { return lit ? sumX / lit : -1.0; }
};

Extent litExtent(const std::vector<uint8_t>& rgba, int width = GL_TEST_WIDTH, int height = GL_TEST_HEIGHT,
                 int components = 4)
{
    Extent e;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * components];
            if (p[0] + p[1] + p[2] > 30) {
                ++e.lit;
                e.brightness += p[0] + p[1] + p[2];
                e.sumX += x;
                e.minX = std::min(e.minX, x);
                e.maxX = std::max(e.maxX, x);
                e.minY = std::min(e.minY, y);
                e.maxY = std::max(e.maxY, y);
            }
        }
    return e;
}

// A view of the origin from 250 units along +z, eye at height 38, with one
// light, as the render passes would leave it before drawing the actors.
void beginView()
{
    glViewport(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(30.0, 1.0, 1.0, 8192.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0.0f, -38.0f, -250.0f);
    const float position[4] = { 0.0f, 0.0f, 100.0f, 1.0f };
    const float diffuse[4] = { 0.7f, 0.7f, 0.7f, 1.0f };
    const float ambient[4] = { 0.2f, 0.2f, 0.2f, 1.0f };
    glPushMatrix();
    glLoadIdentity();
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glPopMatrix();
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    renderFlags |= FLAG_LIGHTS;
    applyRenderState();
    glDisable(GL_LIGHT1);
}

class ActorsGl : public ::testing::Test {
protected:
    ActorScene scene { 128.0f, 128.0f };

    void SetUp() override
    {
        ASSERT_TRUE(ensureGlWindow());
        textureTable.release();
        textureTable.generate();
    }
    void TearDown() override
    {
        releaseScene(scene);
        textureTable.release();
    }
    void loadTheCharacter()
    {
        ASSERT_EQ(loadCharacter(scene, 0, LOADER_KIND_CHARACTER, Float3(), 0.0f, 0.0f, characterFolder().c_str()), 1);
        ASSERT_NE(scene.studioModels[0], nullptr);
        ASSERT_TRUE(scene.studioModels[0]->loaded());
    }
};

} // namespace

// --- Loading ---------------------------------------------------------------------

TEST_F(ActorsGl, LoadCharacterFillsTheSkinSlotTheModelSlotAndTheCharacterColumn)
{
    const Float3 start(1.0f, 2.0f, 3.0f);
    ASSERT_EQ(loadCharacter(scene, 0, LOADER_KIND_CHARACTER, start, 400.0f, 300.0f, characterFolder().c_str()), 1);
    EXPECT_EQ(scene.actorCount, 1);
    EXPECT_EQ(textureTable.widths[CHARACTER_SKIN_SLOT], OVRIN_SKIN_SIZE);
    EXPECT_EQ(textureTable.heights[CHARACTER_SKIN_SLOT], OVRIN_SKIN_SIZE);
    const StudioModel* model = scene.studioModels[0];
    ASSERT_NE(model, nullptr);
    EXPECT_TRUE(model->loaded());
    EXPECT_EQ(model->sequenceCount(), OVRIN_SEQUENCES);
    EXPECT_EQ(static_cast<uint32_t>(model->skinTexture), textureTable.nameOf(CHARACTER_SKIN_SLOT));

    const Actor& a = scene.actors[0];
    EXPECT_EQ(a.mode, 2);
    EXPECT_EQ(a.moving, 0);
    EXPECT_EQ(a.modelKind, MODEL_KIND_STUDIO);
    EXPECT_EQ(a.queuePos, 0);
    EXPECT_EQ(a.queueLength, 1);
    EXPECT_EQ(a.health, 200);
    EXPECT_EQ(a.modelSlot, 0);
    EXPECT_EQ(a.loaderKind, LOADER_KIND_CHARACTER);
    EXPECT_FLOAT_EQ(a.position.x, 1.0f);
    EXPECT_FLOAT_EQ(a.position.y, 2.0f);
    EXPECT_FLOAT_EQ(a.position.z, 3.0f);
    EXPECT_FLOAT_EQ(a.speed, 2.5f);
    EXPECT_FLOAT_EQ(a.turnRate, 0.15f);
    EXPECT_FLOAT_EQ(a.alpha, 1.0f);
    EXPECT_EQ(a.energy, 0);
    EXPECT_FLOAT_EQ(a.goalPoint.x, 400.0f);
    EXPECT_FLOAT_EQ(a.goalPoint.y, 300.0f);
    EXPECT_FLOAT_EQ(a.cursor[0], 400.0f);
    EXPECT_FLOAT_EQ(a.cursor[1], 300.0f);
}

TEST_F(ActorsGl, LoadingAgainReplacesTheModelAndResetsTheActor)
{
    loadTheCharacter();
    scene.actors[0].heading = 77.0f;
    scene.actors[0].queue[0] = ACTION_WALK;
    loadTheCharacter();
    EXPECT_FLOAT_EQ(scene.actors[0].heading, 0.0f);
    EXPECT_EQ(scene.actors[0].runningAction(), ACTION_STAND);
    EXPECT_EQ(scene.actorCount, 1);
}

TEST_F(ActorsGl, AMissingSkinFailsAndLeavesTheActorAndSlotAlone)
{
    TempDir empty;
    scene.actors[0].heading = 12.0f;
    EXPECT_EQ(loadCharacter(scene, 0, LOADER_KIND_CHARACTER, Float3(5.0f, 5.0f, 5.0f), 0.0f, 0.0f, empty.path().c_str()), 0);
    EXPECT_EQ(scene.actorCount, 1);
    EXPECT_EQ(scene.studioModels[0], nullptr);
    EXPECT_EQ(scene.actors[0].modelKind, MODEL_KIND_NONE);
    EXPECT_FLOAT_EQ(scene.actors[0].heading, 12.0f);
    EXPECT_FLOAT_EQ(scene.actors[0].position.x, 0.0f);
    EXPECT_EQ(textureTable.widths[CHARACTER_SKIN_SLOT], 0);
}

TEST_F(ActorsGl, AMissingModelLeavesAnEmptyModelThatDrawsNothingAndStandsAtZero)
{
    ASSERT_EQ(loadCharacter(scene, 0, LOADER_KIND_CHARACTER, Float3(0.0f, 10.0f, 0.0f), 0.0f, 0.0f, skinOnlyFolder().c_str()), 1);
    ASSERT_NE(scene.studioModels[0], nullptr);
    EXPECT_FALSE(scene.studioModels[0]->loaded());
    float box[6];
    actorBox(scene, 0, box);
    for (const float v : box)
        EXPECT_FLOAT_EQ(v, 0.0f);

    Camera view;
    for (int i = 0; i < 100; ++i)
        updateActors(scene, ActorSteering{ view.right, view.negYaw }, 0.05f, ACTOR_COMMAND_WALK);
    EXPECT_FLOAT_EQ(scene.actors[0].position.y, 0.0f);
    EXPECT_GT(scene.actors[0].position.x, 0.0f) << "it still walks, unseen";

    beginView();
    drawAllActors(scene);
    EXPECT_EQ(litExtent(readBackBuffer()).lit, 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// --- Drawing ---------------------------------------------------------------------

TEST_F(ActorsGl, DrawAllActorsShowsTheCharacterStandingAtTheOrigin)
{
    loadTheCharacter();
    Camera view;
    updateActors(scene, ActorSteering{ view.right, view.negYaw }, 0.0f, ACTOR_COMMAND_STOP);   // onto the ground
    beginView();
    drawAllActors(scene);
    const Extent e = litExtent(readBackBuffer());
    EXPECT_GT(e.lit, 500);
    EXPECT_NEAR(e.centreX(), GL_TEST_WIDTH / 2.0, 12.0);
    // The ground (y = 0) is 38 units below the eye at 250: 128 - 38 / (250 tan 15) x 128.
    const double groundRow = 128.0 - 38.0 / (250.0 * 0.267949) * 128.0;
    EXPECT_NEAR(e.minY, groundRow, 6.0) << "feet on the ground";
    EXPECT_GT(e.maxY - e.minY, 120) << "about 77 units tall";
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    // Afterwards: blending off, texturing on, the actor's alpha in the material.
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
}

TEST_F(ActorsGl, NothingIsDrawnForActorsPastTheCountOrWithoutAModel)
{
    loadTheCharacter();
    scene.actorCount = 0;
    beginView();
    drawAllActors(scene);
    EXPECT_EQ(litExtent(readBackBuffer()).lit, 0);

    scene.actorCount = 1;
    scene.actors[0].modelKind = MODEL_KIND_NONE;
    beginView();
    drawAllActors(scene);
    EXPECT_EQ(litExtent(readBackBuffer()).lit, 0);
    drawActorModel(scene, -1);
    drawActorModel(scene, MAX_ACTORS);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ActorsGl, PositionHeadingAndAlphaPlaceTurnAndFadeTheModel)
{
    loadTheCharacter();
    Actor& actor = scene.actors[0];

    beginView();
    drawActorModel(scene, 0);
    const Extent side = litExtent(readBackBuffer());

    // Facing +x (model forward) we see its side; turned 90 degrees about the
    // vertical, its shoulders face the view and the silhouette widens.
    actor.heading = 90.0f;
    beginView();
    drawActorModel(scene, 0);
    const Extent back = litExtent(readBackBuffer());
    EXPECT_GT(back.width(), side.width() + 5);

    actor.position = Float3(30.0f, 0.0f, 0.0f);
    beginView();
    drawActorModel(scene, 0);
    const Extent moved = litExtent(readBackBuffer());
    const double pixelsPerUnit = 128.0 / (250.0 * 0.267949);
    EXPECT_NEAR(moved.centreX() - back.centreX(), 30.0 * pixelsPerUnit, 4.0);

    actor.alpha = 0.25f;
    beginView();
    drawActorModel(scene, 0);
    float diffuse[4];
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    EXPECT_FLOAT_EQ(diffuse[3], 0.25f);
    EXPECT_FLOAT_EQ(diffuse[0], 1.0f);
    const Extent faded = litExtent(readBackBuffer());
    EXPECT_LT(faded.brightness, 0.5 * moved.brightness) << "a see-through character over black is darker";
}

TEST_F(ActorsGl, DrawingShowsTheRunningActionsSequenceAtTheAnimationClock)
{
    loadTheCharacter();
    queueAction(scene, 0, ACTION_WALK);
    scene.actors[0].animClock = 0.2f;
    beginView();
    drawActorModel(scene, 0);
    const StudioModel* model = scene.studioModels[0];
    EXPECT_EQ(model->sequence, ACTION_WALK);
    EXPECT_GT(model->frame, 1.0f);
}

// --- Inside the frame ------------------------------------------------------------

namespace {

// A frame of renderFrame with the global scene: the camera 250 units from
// the character, the isosurface emptied so only the actors can show.
class ActorsInFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensureGlWindow());
        textureTable.release();
        textureTable.generate();
        textureTable.createEmpty(256, 256, GL_RGB, SLOT_GLOW);
        releaseScene(actorScene);
        ASSERT_EQ(loadCharacter(actorScene, 0, LOADER_KIND_CHARACTER, Float3(), 0.0f, 0.0f, characterFolder().c_str()), 1);
        disableAllSources(isoSurface.field);
        rebuildIsoMesh(isoSurface);
        setLightParameters();
        renderFlags = (renderFlags & ~0xFF) | FLAG_LIGHTS;
        setTarget(camera, Float3(8.0f, 0.0f, 0.0f), Float3(0.0f, 38.0f, 0.0f), 250.0f, CAMERA_HOLD, 1.0f);
        updateCamera(camera, 0.0f);
        updateActors(actorScene, ActorSteering{ camera.right, camera.negYaw }, 0.0f, ACTOR_COMMAND_STOP);
    }
    void TearDown() override
    {
        releaseScene(actorScene);
        textureTable.release();
    }

    // The glow capture, read back from texture slot 5 (RGB).
    std::vector<uint8_t> glowCapture()
    {
        std::vector<uint8_t> rgb(256 * 256 * 3);
        glBindTexture(GL_TEXTURE_2D, textureTable.nameOf(SLOT_GLOW));
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        return rgb;
    }
};

} // namespace

TEST_F(ActorsInFrame, TheCharacterShowsOnlyWhenDrawActorsIsSet)
{
    ShowState show;
    show.drawActors = false;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    renderFrame(show);
    EXPECT_EQ(litExtent(readBackBuffer()).lit, 0);

    show.drawActors = true;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    renderFrame(show);
    const Extent e = litExtent(readBackBuffer());
    EXPECT_GT(e.lit, 500);
    EXPECT_NEAR(e.centreX(), GL_TEST_WIDTH / 2.0, 12.0);
    saveBackBufferPng(VORTALUNE_BUILD_DIR "/actors_frame.png");

    // Lit and textured: the skin's colours, not one flat shade.
    const std::vector<uint8_t> pixels = readBackBuffer();
    int distinct = 0;
    std::vector<bool> seen(4096, false);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        if (pixels[i] + pixels[i + 1] + pixels[i + 2] <= 30)
            continue;
        const int key = (pixels[i] >> 4) << 8 | (pixels[i + 1] >> 4) << 4 | (pixels[i + 2] >> 4);
        if (!seen[key]) {
            seen[key] = true;
            ++distinct;
        }
    }
    EXPECT_GT(distinct, 20);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ActorsInFrame, TheGlowCaptureHoldsTheCharacterWhenDrawActorsIsSet)
{
    ShowState show;
    show.glowAmount = 0.0f;
    show.drawActors = false;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    renderFrame(show);
    EXPECT_EQ(litExtent(glowCapture(), 256, 256, 3).lit, 0);
    EXPECT_EQ(litExtent(readBackBuffer()).lit, 0);

    show.drawActors = true;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    renderFrame(show);
    // The capture is 256 x 256 here (a square window), the character in its middle.
    const Extent captured = litExtent(glowCapture(), 256, 256, 3);
    EXPECT_GT(captured.lit, 300);
    EXPECT_NEAR(captured.centreX(), 128.0, 12.0);
    EXPECT_GT(litExtent(readBackBuffer()).lit, 500);
    saveBackBufferPng(VORTALUNE_BUILD_DIR "/actors_frame_glow.png");
}

TEST_F(ActorsInFrame, WalkingOnTheCamerasRightCarriesTheCharacterAcrossTheFrame)
{
    ShowState show;
    show.drawActors = true;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    renderFrame(show);
    const Extent before = litExtent(readBackBuffer());
    ASSERT_GT(before.lit, 500);
    for (int i = 0; i < 12; ++i)
        updateActors(actorScene, ActorSteering{ camera.right, camera.negYaw }, 1.0f / 60.0f, ACTOR_COMMAND_WALK);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    renderFrame(show);
    const Extent after = litExtent(readBackBuffer());
    saveBackBufferPng(VORTALUNE_BUILD_DIR "/actors_frame_walk.png");
    // 12 updates x 2.5 units to the right of the view.
    const double pixelsPerUnit = 128.0 / (250.0 * 0.267949);
    EXPECT_NEAR(after.centreX() - before.centreX(), 30.0 * pixelsPerUnit, 8.0);
}

TEST_F(ActorsInFrame, OnTheGridTheCharacterStandsOnItsGroundPlaneAtTheOrigin)
{
    // Looking down at the lattice corner: the grid's y = 0 lines are the floor.
    setTarget(camera, Float3(20.0f, 135.0f, 0.0f), Float3(20.0f, 25.0f, 20.0f), 300.0f, CAMERA_HOLD, 1.0f);
    updateCamera(camera, 0.0f);
    renderFlags |= FLAG_GRID;
    ShowState show;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    renderFrame(show);
    const Extent gridOnly = litExtent(readBackBuffer());
    show.drawActors = true;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    renderFrame(show);
    const Extent withCharacter = litExtent(readBackBuffer());
    saveBackBufferPng(VORTALUNE_BUILD_DIR "/actors_frame_grid.png");
    renderFlags &= ~FLAG_GRID;
    EXPECT_GT(gridOnly.lit, 100);
    EXPECT_GT(withCharacter.brightness, gridOnly.brightness + 100000.0);
}
