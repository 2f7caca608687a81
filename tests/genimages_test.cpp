// tests/genimages_test.cpp: the image generator (tools/genimages.cpp) run as a
// program: same bytes on every run, the declared sizes and formats, tiles
// that repeat without seams, and a font that the table and the glyph lists
// can use.
#include "GlTestWindow.h"
#include "PngFixture.h"
#include "TestSupport.h"

#include "app/Font.h"
#include "gfx/Texture.h"

#include <SDL_opengl.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string GENIMAGES = std::string(VORTALUNE_TOOLS_DIR) + "/genimages";

struct Declared {
    const char* name;
    uint32_t    size;   // width and height
};

constexpr Declared IMAGES[] = {
    { "font.png", 256 },       { "font_mask.png", 256 }, { "vortalune.png", 1024 }, { "credits.png", 1024 },
    { "blue_cross.png", 256 }, { "pastel.png", 256 },    { "bumpy.png", 256 },      { "sprite01_mask.png", 128 },
};

// Generates once per test process into a folder that lives as long as it.
const std::string& generatedDir()
{
    static TempDir dir;
    static bool done = false;
    if (!done) {
        done = true;
        ProcessOptions options;
        options.timeoutSeconds = 240.0;
        const ProcessResult r = runProcess({ GENIMAGES, dir.path() }, options);
        EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
    }
    return dir.path();
}

const uint8_t* pixelAt(const PngInfo& png, uint32_t x, uint32_t y)
{
    return &png.rgb[(static_cast<size_t>(y) * png.width + x) * 3];
}

// Mean absolute difference of all channels between columns a and b (or rows).
double lineDifference(const PngInfo& png, uint32_t a, uint32_t b, bool columns)
{
    const uint32_t n = columns ? png.height : png.width;
    double sum = 0.0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* p = columns ? pixelAt(png, a, i) : pixelAt(png, i, a);
        const uint8_t* q = columns ? pixelAt(png, b, i) : pixelAt(png, i, b);
        for (int k = 0; k < 3; ++k)
            sum += std::abs(p[k] - q[k]);
    }
    return sum / (3.0 * n);
}

} // namespace

TEST(GenImages, TwoRunsWriteIdenticalBytes)
{
    const std::string& first = generatedDir();
    TempDir second;
    ProcessOptions options;
    options.timeoutSeconds = 240.0;
    const ProcessResult r = runProcess({ GENIMAGES, second.path() }, options);
    ASSERT_EQ(r.exitCode, 0) << r.errorOutput;
    for (const Declared& image : IMAGES) {
        const std::vector<uint8_t> a = readFileBytes(first + "/" + image.name);
        const std::vector<uint8_t> b = readFileBytes(second.path() + "/" + image.name);
        EXPECT_FALSE(a.empty()) << image.name;
        EXPECT_TRUE(a == b) << image.name << " differs between runs";
    }
}

TEST(GenImages, ImagesHaveTheirDeclaredSizesAndRgbFormat)
{
    const std::string& dir = generatedDir();
    for (const Declared& image : IMAGES) {
        const PngInfo png = readPng(dir + "/" + image.name);
        ASSERT_TRUE(png.ok) << image.name;
        EXPECT_EQ(png.width, image.size) << image.name;
        EXPECT_EQ(png.height, image.size) << image.name;
        EXPECT_EQ(png.width & (png.width - 1), 0u) << image.name << ": a power of two for OpenGL 1.1";
        EXPECT_EQ(png.colourType, PNG_COLOR_TYPE_RGB) << image.name;
        EXPECT_EQ(png.bitDepth, 8) << image.name;
    }
}

TEST(GenImages, UsageErrorWithoutAFolder)
{
    const ProcessResult r = runProcess({ GENIMAGES }, ProcessOptions());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.errorOutput.find("usage"), std::string::npos) << r.errorOutput;
}

TEST(GenImages, TilesRepeatWithoutSeams)
{
    // Across the wrap the image changes no more than between neighbouring
    // columns or rows inside it.
    const std::string& dir = generatedDir();
    for (const char* name : { "blue_cross.png", "pastel.png", "bumpy.png" }) {
        const PngInfo png = readPng(dir + "/" + name);
        ASSERT_TRUE(png.ok) << name;
        for (const bool columns : { true, false }) {
            const uint32_t last = (columns ? png.width : png.height) - 1;
            double inside = 0.0;
            for (uint32_t i = 0; i < last; ++i)
                inside += lineDifference(png, i, i + 1, columns);
            inside /= last;
            const double seam = lineDifference(png, last, 0, columns);
            EXPECT_LT(seam, inside * 2.0 + 1.0) << name << (columns ? " left/right" : " top/bottom");
        }
    }
}

TEST(GenImages, FontMaskHasInkOnlyInPrintableCellsAwayFromCellEdges)
{
    const PngInfo mask = readPng(generatedDir() + "/font_mask.png");
    ASSERT_TRUE(mask.ok);
    for (int glyph = 0; glyph < 256; ++glyph) {
        const int code = glyph % 128 + 32;
        int ink = 0, edgeInk = 0;
        for (uint32_t y = 0; y < 16; ++y)
            for (uint32_t x = 0; x < 16; ++x) {
                const uint8_t c = pixelAt(mask, (glyph % 16) * 16 + x, (glyph / 16) * 16 + y)[0];
                ink += c > 0;
                if (c > 0 && (x == 0 || y == 0 || x == 15 || y == 15))
                    ++edgeInk;
            }
        const bool printable = code > 32 && code < 127;
        EXPECT_EQ(ink > 0, printable) << "glyph " << glyph << " (character " << code << ")";
        EXPECT_EQ(edgeInk, 0) << "glyph " << glyph << " touches its cell's edge";
    }
}

TEST(GenImages, SpriteIsRoundAndFadesToNothing)
{
    const PngInfo sprite = readPng(generatedDir() + "/sprite01_mask.png");
    ASSERT_TRUE(sprite.ok);
    EXPECT_GT(pixelAt(sprite, 64, 64)[0], 240);
    for (const uint32_t corner : { 0u, 127u }) {
        EXPECT_EQ(pixelAt(sprite, corner, corner)[0], 0);
        EXPECT_EQ(pixelAt(sprite, corner, 127 - corner)[0], 0);
    }
    EXPECT_EQ(pixelAt(sprite, 0, 64)[0], 0) << "the edge of the disc lies inside the image";
    // Symmetric about the centre.
    EXPECT_NEAR(pixelAt(sprite, 40, 64)[0], pixelAt(sprite, 87, 64)[0], 1);
    EXPECT_NEAR(pixelAt(sprite, 64, 40)[0], pixelAt(sprite, 40, 64)[0], 1);
}

TEST(GenImages, CardsFadeToBlackAtTheirBorders)
{
    for (const char* name : { "vortalune.png", "credits.png" }) {
        const PngInfo card = readPng(generatedDir() + "/" + name);
        ASSERT_TRUE(card.ok) << name;
        double border = 0.0, centre = 0.0;
        for (uint32_t i = 0; i < card.width; ++i)
            for (int k = 0; k < 3; ++k) {
                border += pixelAt(card, i, 0)[k] + pixelAt(card, i, card.height - 1)[k];
                centre += pixelAt(card, i, card.height / 2)[k] + pixelAt(card, i, card.height / 3)[k];
            }
        border /= 6.0 * card.width;
        centre /= 6.0 * card.width;
        EXPECT_LT(border, 24.0) << name;
        EXPECT_GT(centre, border * 1.5) << name << ": the lettering and light sit in the middle";
    }
}

TEST(GenImages, GeneratedFontDrawsTheCaptionInItsBand)
{
    ASSERT_TRUE(ensureGlWindow());
    const std::string& dir = generatedDir();
    TextureTable table;
    table.generate();
    ASSERT_EQ(table.loadPngWithMask((dir + "/font.png").c_str(), (dir + "/font_mask.png").c_str(), SLOT_FONT, 0),
              SLOT_FONT);
    EXPECT_EQ(table.components[SLOT_FONT], 4);
    FontLists lists;
    buildFont(lists, table.nameOf(SLOT_FONT));

    glViewport(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, GL_TEST_WIDTH, 0, GL_TEST_HEIGHT, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glClear(GL_COLOR_BUFFER_BIT);
    glColor3f(0.3f, 0.2f, 0.8f);
    // The caption's glyph size at 800 pixels width, as many characters as fit.
    const char* text = "\"Mirrow\" Demo by:";
    drawText(lists, 8.0f, 100.0f, 12.0f, 16.0f, 0, text, table.nameOf(SLOT_FONT));
    const std::vector<uint8_t> pixels = readBackBuffer();
    if (const char* out = std::getenv("VORTALUNE_SAVE_SHOTS"))
        saveBackBufferPng((std::string(out) + "/caption.png").c_str());

    int inBand = 0, outside = 0, wrongHue = 0;
    for (int y = 0; y < GL_TEST_HEIGHT; ++y)
        for (int x = 0; x < GL_TEST_WIDTH; ++x) {
            const uint8_t* p = &pixels[(static_cast<size_t>(y) * GL_TEST_WIDTH + x) * 4];
            if ((p[0] | p[1] | p[2]) == 0)
                continue;
            if (x >= 8 && x < 8 + 12 * 17 && y >= 100 && y < 116)
                ++inBand;
            else
                ++outside;
            if (!(p[2] >= p[0] && p[0] >= p[1]))
                ++wrongHue;   // blue over red over green, as the caption colour
        }
    EXPECT_GT(inBand, 17 * 12) << "the glyphs leave ink";
    EXPECT_LT(inBand, 17 * 12 * 16 / 2) << "ink, not filled boxes";
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(wrongHue, 0);
    // The space (between "Mirrow" and "Demo") leaves a blank column band.
    int spaceInk = 0;
    for (int y = 100; y < 116; ++y)
        for (int x = 8 + 12 * 8 + 2; x < 8 + 12 * 9 - 2; ++x)
            spaceInk += pixels[(static_cast<size_t>(y) * GL_TEST_WIDTH + x) * 4 + 2] != 0;
    EXPECT_EQ(spaceInk, 0);

    releaseFont(lists);
    table.release();
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
}
