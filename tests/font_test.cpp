// tests/font_test.cpp: the glyph display lists drawn into the shared test
// window and read back. The fixture atlas paints every cell in its own colour
// (red = column, green = row), brighter blue in the cell's upper half, so a
// pixel tells which glyph and which half of it was drawn.
#include "GlTestWindow.h"
#include "PngFixture.h"
#include "TestSupport.h"

#include "app/Font.h"
#include "gfx/Texture.h"

#include <SDL_opengl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int ATLAS = 256;
constexpr int CELL = 16;

uint8_t cellRed(int glyph) { return static_cast<uint8_t>((glyph % 16) * 16 + 8); }
uint8_t cellGreen(int glyph) { return static_cast<uint8_t>((glyph / 16) * 16 + 8); }
constexpr uint8_t BLUE_UPPER = 255;
constexpr uint8_t BLUE_LOWER = 96;

class FontTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensureGlWindow());
        std::vector<uint8_t> colour(ATLAS * ATLAS * 3);
        for (int y = 0; y < ATLAS; ++y)
            for (int x = 0; x < ATLAS; ++x) {
                const int glyph = (y / CELL) * 16 + x / CELL;
                uint8_t* p = &colour[(static_cast<size_t>(y) * ATLAS + x) * 3];
                p[0] = cellRed(glyph);
                p[1] = cellGreen(glyph);
                p[2] = (y % CELL) < CELL / 2 ? BLUE_UPPER : BLUE_LOWER;   // image row 0 is the cell's top
            }
        writeFixturePng(dir.path() + "/font.png", ATLAS, ATLAS, 3, colour);
        writeFixturePng(dir.path() + "/mask.png", ATLAS, ATLAS, 3, std::vector<uint8_t>(ATLAS * ATLAS * 3, 255));
        table.generate();
        ASSERT_EQ(table.loadPngWithMask((dir.path() + "/font.png").c_str(), (dir.path() + "/mask.png").c_str(),
                                        SLOT_FONT, 0),
                  SLOT_FONT);
        texture = table.nameOf(SLOT_FONT);

        // The caption's state: pixel-sized orthographic view, texturing on,
        // no depth test, no lighting, white colour.
        glViewport(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, GL_TEST_WIDTH, 0, GL_TEST_HEIGHT, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_LIGHTING);
        glDisable(GL_CULL_FACE);
        glDisable(GL_BLEND);
        glEnable(GL_TEXTURE_2D);
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    void TearDown() override
    {
        releaseFont(lists);
        table.release();
        glDisable(GL_TEXTURE_2D);
        glEnable(GL_DEPTH_TEST);
        glEnable(GL_CULL_FACE);
    }

    // Number of non-black pixels outside [x0, x1) x [y0, y1).
    static int litOutside(const std::vector<uint8_t>& pixels, int x0, int y0, int x1, int y1)
    {
        int count = 0;
        for (int y = 0; y < GL_TEST_HEIGHT; ++y)
            for (int x = 0; x < GL_TEST_WIDTH; ++x) {
                const uint8_t* p = &pixels[(static_cast<size_t>(y) * GL_TEST_WIDTH + x) * 4];
                const bool lit = p[0] | p[1] | p[2];
                if (lit && (x < x0 || x >= x1 || y < y0 || y >= y1))
                    ++count;
            }
        return count;
    }

    static int litPixels(const std::vector<uint8_t>& pixels) { return litOutside(pixels, 0, 0, 0, 0); }

    // Expects the middle of the upper and lower half of the glyph quad at
    // (x, y) sized 32 x 32 to show the upper and lower half of `glyph`'s cell.
    static void expectGlyphAt(int glyph, int x, int y)
    {
        uint8_t upper[4], lower[4];
        readPixel(x + 16, y + 24, upper);
        readPixel(x + 16, y + 8, lower);
        EXPECT_NEAR(upper[0], cellRed(glyph), 1) << "glyph " << glyph;
        EXPECT_NEAR(upper[1], cellGreen(glyph), 1) << "glyph " << glyph;
        EXPECT_NEAR(upper[2], BLUE_UPPER, 1) << "the glyph's top shows the cell's top";
        EXPECT_NEAR(lower[0], cellRed(glyph), 1);
        EXPECT_NEAR(lower[2], BLUE_LOWER, 1) << "the glyph's bottom shows the cell's bottom";
    }

    TempDir dir;
    TextureTable table;
    FontLists lists;
    uint32_t texture = 0;
};

} // namespace

TEST_F(FontTest, LetterAInSetZeroDrawsGlyph33AtThePen)
{
    buildFont(lists, texture);
    ASSERT_NE(lists.base, 0u);
    EXPECT_EQ(drawText(lists, 40.0f, 64.0f, 32.0f, 32.0f, 0, "A", texture), 1);
    expectGlyphAt(33, 40, 64);   // column 1, row 2
    EXPECT_EQ(litOutside(readBackBuffer(), 40, 64, 72, 96), 0) << "nothing drawn outside the glyph's quad";
}

TEST_F(FontTest, EachCharacterAdvancesThePenByScaleX)
{
    buildFont(lists, texture);
    EXPECT_EQ(drawText(lists, 16.0f, 100.0f, 32.0f, 32.0f, 0, "A0~", texture), 3);
    expectGlyphAt('A' - 32, 16, 100);
    expectGlyphAt('0' - 32, 48, 100);
    expectGlyphAt('~' - 32, 80, 100);
    EXPECT_EQ(litOutside(readBackBuffer(), 16, 100, 112, 132), 0);
}

TEST_F(FontTest, SetFiveActsAsSetOne)
{
    buildFont(lists, texture);
    drawText(lists, 40.0f, 64.0f, 32.0f, 32.0f, 5, "A", texture);
    expectGlyphAt(128 + 33, 40, 64);
    glClear(GL_COLOR_BUFFER_BIT);
    drawText(lists, 40.0f, 64.0f, 32.0f, 32.0f, 1, "A", texture);
    expectGlyphAt(128 + 33, 40, 64);
}

TEST_F(FontTest, NegativeSetActsAsSetZero)
{
    buildFont(lists, texture);
    drawText(lists, 40.0f, 64.0f, 32.0f, 32.0f, -3, "A", texture);
    expectGlyphAt(33, 40, 64);
}

TEST_F(FontTest, EmptyStringDrawsNothingAndKeepsTheMatrixStack)
{
    buildFont(lists, texture);
    GLint before = 0, after = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &before);
    EXPECT_EQ(drawText(lists, 40.0f, 64.0f, 32.0f, 32.0f, 0, "", texture), 0);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &after);
    EXPECT_EQ(after, before);
    EXPECT_EQ(litPixels(readBackBuffer()), 0);

    // A drawn string leaves the modelview matrix as it found it.
    drawText(lists, 40.0f, 64.0f, 32.0f, 32.0f, 0, "AB", texture);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &after);
    EXPECT_EQ(after, before);
    GLfloat matrix[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
    EXPECT_FLOAT_EQ(matrix[12], 0.0f);
    EXPECT_FLOAT_EQ(matrix[0], 1.0f);
}

TEST_F(FontTest, DrawingBeforeBuildingDrawsNothing)
{
    EXPECT_EQ(lists.base, 0u);
    EXPECT_EQ(drawText(lists, 40.0f, 64.0f, 32.0f, 32.0f, 0, "ABC", texture), 0);
    EXPECT_EQ(litPixels(readBackBuffer()), 0);
    EXPECT_EQ(drawText(fontLists, 40.0f, 64.0f, 32.0f, 32.0f, 0, "ABC", texture), 0) << "the global starts unbuilt";
}

TEST_F(FontTest, BytesOutsideTheBuiltListsAreSkipped)
{
    // A neighbouring display list that would paint the whole window white.
    const GLuint trap = glGenLists(1);
    glNewList(trap, GL_COMPILE);
    glDisable(GL_TEXTURE_2D);
    glRecti(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
    glEnable(GL_TEXTURE_2D);
    glEndList();
    buildFont(lists, texture);

    // Set 0: bytes below 32. Set 1: bytes above 159 (its bytes below 32 reach
    // glyphs 96..127 of set 0, which exist).
    EXPECT_EQ(drawText(lists, 40.0f, 64.0f, 32.0f, 32.0f, 0, "\x01\x1f" "A\x10", texture), 1);
    expectGlyphAt(33, 40, 64);
    EXPECT_EQ(litOutside(readBackBuffer(), 40, 64, 72, 96), 0);

    glClear(GL_COLOR_BUFFER_BIT);
    EXPECT_EQ(drawText(lists, 40.0f, 64.0f, 32.0f, 32.0f, 1, "\xa0\xff" "A\xc8", texture), 1);
    expectGlyphAt(128 + 33, 40, 64);
    EXPECT_EQ(litOutside(readBackBuffer(), 40, 64, 72, 96), 0);

    // In set 0 the bytes 160..255 reach the second half of the lists.
    glClear(GL_COLOR_BUFFER_BIT);
    EXPECT_EQ(drawText(lists, 40.0f, 64.0f, 32.0f, 32.0f, 0, "\xff", texture), 1);
    expectGlyphAt(223, 40, 64);
    glDeleteLists(trap, 1);
}

TEST_F(FontTest, BuildMakes256ListsAndReleaseTwiceDeletesOnce)
{
    buildFont(lists, texture);
    const uint32_t base = lists.base;
    ASSERT_NE(base, 0u);
    EXPECT_TRUE(glIsList(base));
    EXPECT_TRUE(glIsList(base + 255));
    releaseFont(lists);
    EXPECT_EQ(lists.base, 0u);
    EXPECT_FALSE(glIsList(base));

    // Other lists made since (possibly with the same numbers) survive a second release.
    FontLists other;
    buildFont(other, texture);
    releaseFont(lists);
    EXPECT_TRUE(glIsList(other.base));
    EXPECT_TRUE(glIsList(other.base + 255));
    releaseFont(other);
}

TEST_F(FontTest, BuildingAgainReplacesTheLists)
{
    buildFont(lists, texture);
    const uint32_t first = lists.base;
    buildFont(lists, texture);
    EXPECT_NE(lists.base, 0u);
    EXPECT_FALSE(first != lists.base && glIsList(first)) << "the old lists are deleted, not leaked";
    drawText(lists, 40.0f, 64.0f, 32.0f, 32.0f, 0, "A", texture);
    expectGlyphAt(33, 40, 64);
}
