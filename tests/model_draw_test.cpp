// tests/model_draw_test.cpp: skinning and drawing of the studio model, through
// the recording sink and with GL under Xvfb (pixels read back).
#include "GlTestWindow.h"
#include "StudioFixtures.h"
#include "TestSupport.h"

#include "model/OvrinCharacter.h"

#include <SDL_opengl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

using namespace studio;

namespace {

// Sets up what the scene provides before render(): a camera, one light, the
// skin bound with texturing and blending on, white material, and the
// model's -90 degree turn about x (z up).
void beginCharacterFrame(uint32_t texture, float yawDegrees, double distance = 190.0, double lookHeight = 40.0)
{
    glViewport(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(30.0, 1.0, 10.0, 2000.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(0.0, lookHeight + 5.0, distance, 0.0, lookHeight, 0.0, 0.0, 1.0, 0.0);
    const float lightPosition[4] = { 0.4f, 0.8f, 1.0f, 0.0f };
    const float ambient[4] = { 0.35f, 0.35f, 0.35f, 1.0f };
    const float diffuse[4] = { 0.8f, 0.8f, 0.8f, 1.0f };
    glLightfv(GL_LIGHT0, GL_POSITION, lightPosition);
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBindTexture(GL_TEXTURE_2D, texture);
    const float white[4] = { 1.0f, 1.0f, 1.0f, 1.0f };
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
    glRotatef(yawDegrees, 0.0f, 1.0f, 0.0f);
    glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);
}

void endCharacterFrame()
{
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
}

uint32_t uploadSkin()
{
    const std::vector<uint8_t> rgb = buildOvrinSkin();
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, OVRIN_SKIN_SIZE, OVRIN_SKIN_SIZE, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    return name;
}

int litPixels(const std::vector<uint8_t>& pixels)
{
    int lit = 0;
    for (size_t i = 0; i < pixels.size(); i += 4)
        if (pixels[i] + pixels[i + 1] + pixels[i + 2] > 30)
            ++lit;
    return lit;
}

// Pixels whose hue says "shirt" (blue-green, little red) and "skin" (red over blue).
void countColours(const std::vector<uint8_t>& pixels, int& shirt, int& skinTone)
{
    shirt = skinTone = 0;
    for (size_t i = 0; i < pixels.size(); i += 4) {
        const int r = pixels[i], g = pixels[i + 1], b = pixels[i + 2];
        if (g > 50 && b > 50 && r * 2 < g)
            ++shirt;
        if (r > 80 && r > g && g > b && r - b > 40)
            ++skinTone;
    }
}

class StudioDraw : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ensureGlWindow()) << "run the tests under Xvfb"; }
};

} // namespace

TEST(StudioSkinning, FanOfThreeAndStripOfFive)
{
    LoadedStudio s(writeStudioModel(tinyModelDesc()), 11);
    ASSERT_EQ(s.opened, 1);
    RecordingSink sink;
    s.model.render(sink);
    EXPECT_EQ(sink.unbalanced, 0);
    ASSERT_EQ(sink.primitives.size(), 2u);
    EXPECT_TRUE(sink.primitives[0].fan);
    EXPECT_EQ(sink.primitives[0].vertices.size(), 3u);
    EXPECT_FALSE(sink.primitives[1].fan);
    EXPECT_EQ(sink.primitives[1].vertices.size(), 5u);
    EXPECT_EQ(sink.textures, std::vector<uint32_t>{ 11 });
}

TEST(StudioSkinning, TexelCoordinatesScaleByTheTextureSize)
{
    LoadedStudio s(writeStudioModel(tinyModelDesc()));
    ASSERT_EQ(s.opened, 1);
    RecordingSink sink;
    s.model.render(sink);
    ASSERT_EQ(sink.primitives.size(), 2u);
    const auto& fan = sink.primitives[0].vertices;
    EXPECT_FLOAT_EQ(fan[1].s, 1.0f);    // s = width
    EXPECT_FLOAT_EQ(fan[2].t, 1.0f);    // t = height
    const auto& strip = sink.primitives[1].vertices;
    EXPECT_FLOAT_EQ(strip[1].s, 8.0f * (1.0f / 64.0f));
    EXPECT_FLOAT_EQ(strip[1].t, 8.0f * (1.0f / 32.0f));
}

TEST(StudioSkinning, VerticesAndNormalsFollowTheirBones)
{
    LoadedStudio s(writeStudioModel(tinyModelDesc(1, 10)));
    ASSERT_EQ(s.opened, 1);
    s.model.selectSequence(0);
    s.model.stepAnimation(0.4f);   // frame 5: root at x 10, turned 0.5 rad
    RecordingSink sink;
    s.model.render(sink);
    ASSERT_EQ(sink.primitives.size(), 2u);
    const float a = 0.5f;
    // Vertex 4 is (4, 1, 0) on the child (10 along x from the root).
    const RecordingSink::Vertex& v = sink.primitives[1].vertices[4];
    EXPECT_NEAR(v.position.x, 10.0f + 14.0f * std::cos(a) - std::sin(a), 1e-4f);
    EXPECT_NEAR(v.position.y, 14.0f * std::sin(a) + std::cos(a), 1e-4f);
    EXPECT_NEAR(vectorLength(v.normal), 1.0f, 1e-5f);   // stored (0, 0, 2), normalised
    EXPECT_NEAR(v.normal.z, 1.0f, 1e-5f);
    // Each vertex is skinned once per draw into the fixed array.
    EXPECT_EQ(s.model.vertexArray, s.model.skinnedVertices);
    EXPECT_NEAR(s.model.skinnedVertices[4].x, v.position.x, 1e-6f);
}

TEST(StudioSkinning, SkinRowFollowsTheSkinFamily)
{
    // Two textures of different widths; family 1 uses the second.
    StudioModelDesc desc = tinyModelDesc();
    StudioTextureDesc wide = desc.textures[0];
    wide.width = 128;
    wide.pixels.assign(128 * 32, 0);
    desc.textures.push_back(wide);
    desc.skinFamilies = { { 0 }, { 1 } };
    LoadedStudio s(writeStudioModel(desc));
    ASSERT_EQ(s.opened, 1);
    auto firstS = [&](int skin) {
        s.model.skin = skin;
        RecordingSink sink;
        s.model.render(sink);
        return sink.primitives.at(0).vertices.at(1).s;   // 64 texels
    };
    EXPECT_FLOAT_EQ(firstS(0), 1.0f);
    EXPECT_FLOAT_EQ(firstS(1), 0.5f);
    EXPECT_FLOAT_EQ(firstS(2), 1.0f);    // not below the family count: row 0
    EXPECT_FLOAT_EQ(firstS(-1), 1.0f);
}

TEST(StudioSkinning, EmptyCommandStreamDrawsNothingForThatMesh)
{
    StudioModelDesc desc = tinyModelDesc();
    StudioMeshDesc empty;
    endCommands(empty.commands);
    desc.bodyParts[0].subModels[0].meshes.insert(desc.bodyParts[0].subModels[0].meshes.begin(), empty);
    LoadedStudio s(writeStudioModel(desc));
    ASSERT_EQ(s.opened, 1);
    RecordingSink sink;
    s.model.render(sink);
    EXPECT_EQ(sink.primitives.size(), 2u);
}

TEST(StudioSkinning, BodySelectionPicksTheSubModel)
{
    LoadedStudio s(writeStudioModel(buildOvrinModel()));
    ASSERT_EQ(s.opened, 1);
    RecordingSink bare, hat;
    s.model.render(bare);
    s.model.body = 1;   // head part (base 1, two sub-models): the hat
    s.model.render(hat);
    EXPECT_GT(hat.primitives.size(), bare.primitives.size());
    s.model.body = -1;   // a negative selection still names a sub-model
    RecordingSink negative;
    s.model.render(negative);
    EXPECT_EQ(negative.primitives.size(), hat.primitives.size());
}

TEST(StudioSkinning, NoBodyPartsDrawsNothingAndBuildsNoTransforms)
{
    StudioModelDesc desc = tinyModelDesc();
    desc.bodyParts.clear();
    LoadedStudio s(writeStudioModel(desc));
    ASSERT_EQ(s.opened, 1);
    s.model.boneTransforms[0].m[0][3] = 123.0f;
    s.model.frame = 5.0f;
    RecordingSink sink;
    s.model.render(sink);
    EXPECT_TRUE(sink.primitives.empty());
    EXPECT_TRUE(sink.textures.empty());
    EXPECT_FLOAT_EQ(s.model.boneTransforms[0].m[0][3], 123.0f);
}

TEST_F(StudioDraw, CharacterCoversPixelsWithItsSkinColours)
{
    LoadedStudio s(writeStudioModel(buildOvrinModel()));
    ASSERT_EQ(s.opened, 1);
    const uint32_t texture = uploadSkin();
    s.model.skinTexture = static_cast<int32_t>(texture);
    beginCharacterFrame(texture, 90.0f);   // facing the camera
    s.model.selectSequence(OVRIN_IDLE);
    s.model.stepAnimation(0.2f);
    s.model.render();
    endCharacterFrame();
    const std::vector<uint8_t> pixels = readBackBuffer();
    int shirt = 0, skinTone = 0;
    countColours(pixels, shirt, skinTone);
    EXPECT_GT(litPixels(pixels), 2000);
    EXPECT_GT(shirt, 200);
    EXPECT_GT(skinTone, 100);
    // The corners stay empty: the figure is in the middle.
    uint8_t corner[4];
    readPixel(2, 2, corner);
    EXPECT_EQ(corner[0] + corner[1] + corner[2], 0);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<uint32_t>(bound), texture);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glDeleteTextures(1, &texture);
}

TEST_F(StudioDraw, EmptyOrBodilessModelDrawsNoPixels)
{
    StudioModel empty;
    StudioModelDesc desc = tinyModelDesc();
    desc.bodyParts.clear();
    LoadedStudio bodiless(writeStudioModel(desc));
    ASSERT_EQ(bodiless.opened, 1);
    beginCharacterFrame(0, 0.0f);
    empty.render();
    bodiless.model.render();
    endCharacterFrame();
    EXPECT_EQ(litPixels(readBackBuffer()), 0);
}

// Writes the character in a few poses as PNGs when VORTALUNE_MODEL_SHOTS names
// a folder (for looking at it); always checks every pose draws a figure.
TEST_F(StudioDraw, CharacterPosesDrawAFigure)
{
    LoadedStudio s(writeStudioModel(buildOvrinModel()));
    ASSERT_EQ(s.opened, 1);
    const uint32_t texture = uploadSkin();
    s.model.skinTexture = static_cast<int32_t>(texture);
    const char* shots = std::getenv("VORTALUNE_MODEL_SHOTS");
    struct Shot {
        int   sequence;
        float clock;
        float yaw;
        int   body;
        float distance = 190.0f;
        float lookHeight = 40.0f;
    };
    const Shot list[] = {
        { 0, 0.0f, 90.0f, 0 }, { 0, 0.0f, 0.0f, 0 }, { 0, 0.0f, 200.0f, 1 }, { 0, 0.0f, 270.0f, 0 },
        { 0, 0.0f, 250.0f, 0, 40.0f, 70.0f }, { 0, 0.0f, 290.0f, 1, 50.0f, 70.0f }, { 1, 0.1f, 300.0f, 0 },
        { 1, 0.0f, 0.0f, 0 }, { 1, 0.2f, 0.0f, 0 }, { 1, 0.4f, 45.0f, 0 },
        { 2, 0.15f, 20.0f, 0 }, { 3, 0.1f, 20.0f, 0 }, { 3, 0.2f, 20.0f, 0 },
        { 4, 0.3f, 30.0f, 0 }, { 5, 0.8f, 90.0f, 0 }, { 6, 0.8f, 90.0f, 0 }, { 7, 0.6f, 10.0f, 0 },
    };
    int index = 0;
    for (const Shot& shot : list) {
        s.model.body = shot.body;
        beginCharacterFrame(texture, shot.yaw, shot.distance, shot.lookHeight);
        s.model.selectSequence(shot.sequence);
        s.model.stepAnimation(shot.clock);
        s.model.render();
        endCharacterFrame();
        EXPECT_GT(litPixels(readBackBuffer()), 1000) << "sequence " << shot.sequence;
        if (shots) {
            const std::string path = std::string(shots) + "/pose" + std::to_string(index) + "_seq" +
                                     std::to_string(shot.sequence) + ".png";
            saveBackBufferPng(path.c_str());
        }
        ++index;
    }
    glDeleteTextures(1, &texture);
}

TEST(StudioCharacter, HasTheSequencesBonesAndPartsTheControllerNeeds)
{
    const StudioModelDesc desc = buildOvrinModel();
    EXPECT_GE(desc.bones.size(), 16u);
    ASSERT_EQ(desc.sequences.size(), static_cast<size_t>(OVRIN_SEQUENCES));
    EXPECT_GE(desc.controllers.size(), 1u);
    EXPECT_GE(desc.bodyParts.size(), 2u);
    bool strips = false, fans = false;
    for (const auto& part : desc.bodyParts)
        for (const auto& sub : part.subModels) {
            EXPECT_LE(sub.vertices.size(), static_cast<size_t>(MAX_SKIN_VERTICES));
            for (const auto& mesh : sub.meshes)
                for (size_t c = 0; c < mesh.commands.size() && mesh.commands[c] != 0;
                     c += 1 + 4 * static_cast<size_t>(std::abs(mesh.commands[c]))) {
                    strips = strips || mesh.commands[c] > 0;
                    fans = fans || mesh.commands[c] < 0;
                }
        }
    EXPECT_TRUE(strips);
    EXPECT_TRUE(fans);

    // Some runs store fewer values than they cover.
    bool shortRun = false;
    for (const auto& seq : desc.sequences) {
        EXPECT_GT(seq.fps, 0.0f);
        EXPECT_GE(seq.frameCount, 8);
        EXPECT_LT(seq.boxMin.z, seq.boxMax.z);
        for (const auto& bone : seq.blocks[0].bones)
            for (const auto& channel : bone) {
                const std::vector<int16_t> items = encodeChannelRuns(channel);
                if (!items.empty() && (items[0] & 0xff) < ((items[0] >> 8) & 0xff))
                    shortRun = true;
            }
    }
    EXPECT_TRUE(shortRun);

    // Standing: feet on the ground (box bottom near z 0), about 77 units tall.
    EXPECT_NEAR(desc.sequences[OVRIN_IDLE].boxMin.z, 0.0f, 1.5f);
    EXPECT_NEAR(desc.sequences[OVRIN_IDLE].boxMax.z, 77.0f, 3.0f);
    // Tucked in the air, the feet are well above the origin.
    EXPECT_GT(desc.sequences[OVRIN_IN_AIR].boxMin.z, 5.0f);
}

TEST(StudioCharacter, GeneratorIsDeterministic)
{
    const StudioFiles a = writeStudioModel(buildOvrinModel());
    const StudioFiles b = writeStudioModel(buildOvrinModel());
    EXPECT_EQ(a.model, b.model);
    EXPECT_EQ(buildOvrinSkin(), buildOvrinSkin());

    TempDir first, second;
    const std::string tool = std::string(VORTALUNE_BUILD_DIR) + "/gencharacter";
    ASSERT_EQ(runShell(tool + " " + first.path()), 0);
    ASSERT_EQ(runShell(tool + " " + second.path()), 0);
    for (const char* name : { "/ovrin.mdl", "/ovrin_tex.png" }) {
        std::ifstream fa(first.path() + name, std::ios::binary), fb(second.path() + name, std::ios::binary);
        const std::vector<char> ba((std::istreambuf_iterator<char>(fa)), std::istreambuf_iterator<char>());
        const std::vector<char> bb((std::istreambuf_iterator<char>(fb)), std::istreambuf_iterator<char>());
        EXPECT_FALSE(ba.empty()) << name;
        EXPECT_EQ(ba, bb) << name;
    }
    std::ifstream model(first.path() + "/ovrin.mdl", std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(model)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, a.model);
}
