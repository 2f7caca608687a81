// tests/iso_draw_test.cpp: drawing the isosurface under a real GL context,
// checked through the GL state and by reading pixels back.
#include "iso/IsoSurface.h"

#include "gfx/Texture.h"

#include "GlTestWindow.h"

#include <SDL_opengl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr int CENTRE = GL_TEST_WIDTH / 2;
constexpr int PIXEL_EPS = 3;

class DrawIso : public testing::Test {
protected:
    std::unique_ptr<IsoSurface> iso;

    void SetUp() override
    {
        ASSERT_TRUE(ensureGlWindow());
        iso = std::make_unique<IsoSurface>();
        // Unit square in lattice units, looked at straight on.
        glViewport(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0.0, 1.0, 0.0, 1.0, -1.0, 1.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glDisable(GL_LIGHTING);
        glEnable(GL_DEPTH_TEST);
        glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
        glClearDepth(1.0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }

    void TearDown() override
    {
        // Lighting back to GL's defaults: the program never sets the global
        // ambient term and relies on its default, and later tests of the
        // process draw with the program's lights.
        const GLfloat ambient[4] = { 0.2f, 0.2f, 0.2f, 1.0f };
        const GLfloat black[4] = { 0.0f, 0.0f, 0.0f, 1.0f };
        const GLfloat white[4] = { 1.0f, 1.0f, 1.0f, 1.0f };
        const GLfloat towardsViewer[4] = { 0.0f, 0.0f, 1.0f, 0.0f };
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();   // the light position is taken in eye space
        glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
        glLightfv(GL_LIGHT0, GL_AMBIENT, black);
        glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
        glLightfv(GL_LIGHT0, GL_SPECULAR, white);
        glLightfv(GL_LIGHT0, GL_POSITION, towardsViewer);
        glDisable(GL_LIGHTING);
        glDisable(GL_LIGHT0);
        glDisable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, 0);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClearDepth(1.0);
        glDisable(GL_BLEND);
        glEnable(GL_CULL_FACE);
    }

    // Two triangles covering the window at depth z, all vertices alike.
    void setSquare(const Float3& normal, const Float3& colour, float z = 0.0f)
    {
        IsoMesh& mesh = iso->mesher.meshes[iso->mesher.current];
        mesh.vertices.clear();
        mesh.indices = { 0, 1, 2, 0, 2, 3 };
        const Float3 corners[4] = { { 0, 0, z }, { 1, 0, z }, { 1, 1, z }, { 0, 1, z } };
        for (const Float3& p : corners)
            mesh.vertices.push_back(IsoVertex{ p, normal, colour });
    }

    static void expectPixel(int r, int g, int b)
    {
        uint8_t rgba[4];
        readPixel(CENTRE, CENTRE, rgba);
        EXPECT_NEAR(rgba[0], r, PIXEL_EPS);
        EXPECT_NEAR(rgba[1], g, PIXEL_EPS);
        EXPECT_NEAR(rgba[2], b, PIXEL_EPS);
    }
};

const Float3 UP(0.0f, 1.0f, 0.0f);
const Float3 TOWARDS_VIEWER(0.0f, 0.0f, 1.0f);
const Float3 RED(1.0f, 0.0f, 0.0f);
const Float3 WHITE(1.0f, 1.0f, 1.0f);

} // namespace

TEST_F(DrawIso, EmptyMeshStillChangesAndRestoresTheState)
{
    EXPECT_TRUE(iso->mesher.meshes[0].indices.empty());   // construction ran two empty updates
    const GLfloat grey[4] = { 0.5f, 0.5f, 0.5f, 1.0f };
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, grey);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 40.0f);
    glEnable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_COLOR_MATERIAL);
    glDisable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glColor4f(0.2f, 0.3f, 0.4f, 0.5f);
    iso->materialMode = 3;   // no material call of its own

    drawIso(*iso);

    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_COLOR_MATERIAL));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));   // slot 0 switched it off
    GLfloat specular[4], shininess = -1.0f, colour[4];
    glGetMaterialfv(GL_FRONT, GL_SPECULAR, specular);
    glGetMaterialfv(GL_BACK, GL_SHININESS, &shininess);
    for (float c : specular)
        EXPECT_EQ(c, 0.0f);
    EXPECT_EQ(shininess, 0.0f);
    glGetFloatv(GL_CURRENT_COLOR, colour);
    for (float c : colour)
        EXPECT_EQ(c, 1.0f);
    GLint envMode = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &envMode);
    EXPECT_EQ(envMode, GL_MODULATE);
    expectPixel(0, 0, 255);   // nothing drawn

    // A textured draw leaves GL_TEXTURE_2D on with the slot's texture bound.
    textureTable.generate();
    iso->textureSlot = SLOT_PASTEL;
    drawIso(*iso);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(GLuint(bound), textureTable.nameOf(SLOT_PASTEL));
    EXPECT_NE(bound, 0);

    // A slot beyond the table binds no texture rather than reading past it.
    iso->textureSlot = 42;
    drawIso(*iso);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0);
}

TEST_F(DrawIso, OpaqueSurfaceKeepsTheCallersDepthTest)
{
    setSquare(TOWARDS_VIEWER, RED);
    glClearDepth(0.0);   // every fragment of the square (depth 0.5) fails GL_LEQUAL
    glClear(GL_DEPTH_BUFFER_BIT);
    drawIso(*iso);
    expectPixel(0, 0, 255);

    glDisable(GL_DEPTH_TEST);   // the caller's choice stands for alpha 1
    drawIso(*iso);
    expectPixel(255, 0, 0);
}

TEST_F(DrawIso, TranslucentSurfaceBlendsWithTheDepthTestOff)
{
    setSquare(TOWARDS_VIEWER, RED);
    glClearDepth(0.0);
    glClear(GL_DEPTH_BUFFER_BIT);
    glDisable(GL_BLEND);
    iso->alpha = 0.5f;
    drawIso(*iso);
    expectPixel(128, 0, 128);   // half red over the blue clear, despite the depth buffer
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
}

TEST_F(DrawIso, FlatModeDrawsBlackWhateverTheAlpha)
{
    setSquare(TOWARDS_VIEWER, RED);
    drawIsoFlat(*iso);
    expectPixel(0, 0, 0);
    EXPECT_FALSE(iso->flatColourMode);

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    iso->alpha = 0.3f;
    drawIsoFlat(*iso);
    expectPixel(0, 0, 0);   // FLAT_COLOUR is drawn opaque
}

TEST_F(DrawIso, TextureIsLookedUpByTheNormal)
{
    // 4 x 4 texture: texel (0, 0) green, all others red; nearest filtering.
    textureTable.generate();
    uint8_t texels[4 * 4 * 3];
    for (int i = 0; i < 16; ++i) {
        texels[i * 3] = i == 0 ? 0 : 255;
        texels[i * 3 + 1] = i == 0 ? 255 : 0;
        texels[i * 3 + 2] = 0;
    }
    glBindTexture(GL_TEXTURE_2D, textureTable.nameOf(SLOT_BUMPY));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 4, 4, 0, GL_RGB, GL_UNSIGNED_BYTE, texels);
    glBindTexture(GL_TEXTURE_2D, 0);

    iso->textureSlot = SLOT_BUMPY;
    setSquare(UP, WHITE);   // texture coordinate (0, 0)
    drawIso(*iso);
    expectPixel(0, 255, 0);

    setSquare(Float3(0.6f, 0.8f, 0.0f), WHITE);   // (0.6, 0): texel column 2
    drawIso(*iso);
    expectPixel(255, 0, 0);

    setSquare(Float3(0.0f, 0.8f, 0.6f), WHITE);   // (0, 0.6): texel row 2
    drawIso(*iso);
    expectPixel(255, 0, 0);
}

TEST_F(DrawIso, MaterialModesChooseTheHighlight)
{
    // Only a specular light straight from the viewer: a black surface facing
    // it shows exactly its specular colour.
    const GLfloat black[4] = { 0, 0, 0, 1 };
    const GLfloat white[4] = { 1, 1, 1, 1 };
    const GLfloat fromViewer[4] = { 0, 0, 1, 0 };
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
    glLightfv(GL_LIGHT0, GL_AMBIENT, black);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, black);
    glLightfv(GL_LIGHT0, GL_SPECULAR, white);
    glLightfv(GL_LIGHT0, GL_POSITION, fromViewer);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    setSquare(TOWARDS_VIEWER, Float3(0, 0, 0));

    iso->materialMode = MATERIAL_MATTE;
    drawIso(*iso);
    expectPixel(0, 0, 0);

    iso->materialMode = MATERIAL_WHITE;
    drawIso(*iso);
    expectPixel(255, 255, 255);

    iso->materialMode = MATERIAL_COLOURED;
    iso->specularColour[0] = 0.0f;
    iso->specularColour[2] = 0.0f;
    drawIso(*iso);
    expectPixel(0, 255, 0);

    // Any other mode keeps the caller's specular material for the draw.
    const GLfloat red[4] = { 1, 0, 0, 1 };
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, red);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 16.0f);
    iso->materialMode = 3;
    drawIso(*iso);
    expectPixel(255, 0, 0);
    GLfloat after[4];
    glGetMaterialfv(GL_FRONT, GL_SPECULAR, after);
    EXPECT_EQ(after[0], 0.0f);
}

TEST_F(DrawIso, LitBallCloudIsSmoothAndClosed)
{
    // A cloud of coloured balls seen through a 30 degree lens with one light:
    // the centre is covered and lit, the corners are background. Set
    // VORTALUNE_SHOT_DIR to keep the picture.
    const Float3 colours[3] = { { 1, 0.2f, 0.2f }, { 0.2f, 1, 0.2f }, { 0.3f, 0.3f, 1 } };
    for (uint32_t i = 0; i < 12; ++i) {
        const float a = float(i) * 0.9f;
        const Float3 c(32.0f + 9.0f * std::sin(a), 32.0f + 9.0f * std::cos(a * 1.3f), 32.0f + 7.0f * std::sin(a * 0.7f));
        placeBall(iso->field, i, makeBall(c, colours[i % 3], 20.0f, 7.0f));
    }
    rebuildIsoMesh(*iso);
    ASSERT_GT(iso->mesher.meshes[0].indices.size(), 3000u);

    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    setLitTestView(32.0, 44.0, 95.0);
    iso->materialMode = MATERIAL_WHITE;
    drawIso(*iso);

    if (const char* dir = std::getenv("VORTALUNE_SHOT_DIR"))
        saveBackBufferPng((std::string(dir) + "/iso_cloud.png").c_str());
    uint8_t rgba[4];
    readPixel(CENTRE, CENTRE, rgba);
    EXPECT_GT(rgba[0] + rgba[1] + rgba[2], 60);
    readPixel(2, 2, rgba);
    EXPECT_EQ(rgba[0] + rgba[1] + rgba[2], 0);
    readPixel(GL_TEST_WIDTH - 3, GL_TEST_HEIGHT - 3, rgba);
    EXPECT_EQ(rgba[0] + rgba[1] + rgba[2], 0);
}

// Vertex arrays give the pixels and the GL state that vertex-by-vertex
// submission gives, in every drawing mode: coloured, textured, translucent,
// flat, with each material.
TEST_F(DrawIso, VertexArraysDrawExactlyWhatImmediateModeDraws)
{
    const Float3 colours[3] = { { 1, 0.2f, 0.2f }, { 0.2f, 1, 0.2f }, { 0.3f, 0.3f, 1 } };
    for (uint32_t i = 0; i < 12; ++i) {
        const float a = float(i) * 0.9f;
        const Float3 c(32.0f + 9.0f * std::sin(a), 32.0f + 9.0f * std::cos(a * 1.3f), 32.0f + 7.0f * std::sin(a * 0.7f));
        placeBall(iso->field, i, makeBall(c, colours[i % 3], 20.0f, 7.0f));
    }
    rebuildIsoMesh(*iso);
    ASSERT_GT(iso->mesher.meshes[0].indices.size(), 3000u);

    struct Mode {
        const char* name;
        int texture;
        float alpha;
        bool flat;
        int material;
    };
    const Mode modes[] = {
        { "coloured matte", 0, 1.0f, false, MATERIAL_MATTE },
        { "coloured highlight", 0, 1.0f, false, MATERIAL_WHITE },
        { "textured", SLOT_BUMPY, 1.0f, false, MATERIAL_COLOURED },
        { "translucent", 0, 0.4f, false, MATERIAL_MATTE },
        { "translucent textured", SLOT_BUMPY, 0.6f, false, MATERIAL_WHITE },
        { "flat", 0, 1.0f, true, MATERIAL_MATTE },
    };
    // A 64 x 64 colour gradient, linearly filtered, so every texture
    // coordinate shows in the pixels.
    textureTable.generate();
    std::vector<uint8_t> texels(64 * 64 * 3);
    for (int i = 0; i < 64 * 64; ++i) {
        texels[size_t(i) * 3] = uint8_t((i % 64) * 4);
        texels[size_t(i) * 3 + 1] = uint8_t((i / 64) * 4);
        texels[size_t(i) * 3 + 2] = uint8_t(255 - (i % 64) * 2);
    }
    glBindTexture(GL_TEXTURE_2D, textureTable.nameOf(SLOT_BUMPY));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 64, 64, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    struct Drawn {
        std::vector<uint8_t> pixels;
        GLfloat colour[4], normal[3], texCoord[4];
    };
    auto draw = [&](const Mode& m, bool immediate) {
        isoImmediateMode = immediate;
        iso->textureSlot = m.texture;
        iso->alpha = m.alpha;
        iso->flatColourMode = m.flat;
        iso->materialMode = m.material;
        glClearColor(0.1f, 0.0f, 0.2f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        setLitTestView(32.0, 44.0, 95.0);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        drawIso(*iso);
        Drawn d;
        d.pixels.resize(size_t(GL_TEST_WIDTH) * GL_TEST_HEIGHT * 4);
        glReadPixels(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT, GL_RGBA, GL_UNSIGNED_BYTE, d.pixels.data());
        glGetFloatv(GL_CURRENT_COLOR, d.colour);
        glGetFloatv(GL_CURRENT_NORMAL, d.normal);
        glGetFloatv(GL_CURRENT_TEXTURE_COORDS, d.texCoord);
        isoImmediateMode = false;
        return d;
    };
    for (const Mode& m : modes) {
        SCOPED_TRACE(m.name);
        const Drawn a = draw(m, true);
        const Drawn b = draw(m, false);
        EXPECT_TRUE(a.pixels == b.pixels) << "the pixels differ";
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(a.colour[i], b.colour[i]);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(a.normal[i], b.normal[i]);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(a.texCoord[i], b.texCoord[i]);
        GLint arrays = 0;
        glGetIntegerv(GL_VERTEX_ARRAY, &arrays);
        EXPECT_EQ(arrays, 0) << "client arrays are left as they were";
    }
    textureTable.release();
}
