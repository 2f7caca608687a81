// tests/texture_test.cpp: the texture table against the GL of the shared test
// window: names, empty textures, PNG uploads read back with glGetTexImage,
// colour + mask pairs, mipmaps and framebuffer copies.
#include "GlTestWindow.h"
#include "PngFixture.h"
#include "TestSupport.h"

#include "gfx/PngFile.h"
#include "gfx/Texture.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

class TextureTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensureGlWindow());
        table.generate();
    }
    void TearDown() override { table.release(); }

    std::string file(const char* name) const { return dir.path() + "/" + name; }

    // Level `level` of the slot's texture as tight rows of `format`.
    std::vector<uint8_t> texImage(int slot, GLenum format, int level = 0)
    {
        glBindTexture(GL_TEXTURE_2D, table.names[slot]);
        GLint width = 0, height = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &height);
        const int channels = format == GL_RGBA ? 4 : 3;
        std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * channels);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        if (!pixels.empty())
            glGetTexImage(GL_TEXTURE_2D, level, format, GL_UNSIGNED_BYTE, pixels.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        return pixels;
    }

    GLint levelParameter(int slot, int level, GLenum parameter)
    {
        glBindTexture(GL_TEXTURE_2D, table.names[slot]);
        GLint value = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, parameter, &value);
        glBindTexture(GL_TEXTURE_2D, 0);
        return value;
    }

    TempDir dir;
    TextureTable table;
};

// Distinct bytes for every channel of every pixel.
std::vector<uint8_t> pattern(int width, int height, int channels)
{
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * channels);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(17 + i * 29);
    return pixels;
}

} // namespace

TEST_F(TextureTableTest, GenerateTwiceCreatesNamesOnce)
{
    uint32_t first[TEXTURE_SLOTS];
    for (int i = 0; i < TEXTURE_SLOTS; ++i) {
        first[i] = table.names[i];
        EXPECT_NE(first[i], 0u) << "slot " << i;
        for (int j = 0; j < i; ++j)
            EXPECT_NE(first[i], first[j]);
    }
    table.generate();
    EXPECT_TRUE(table.generated);
    for (int i = 0; i < TEXTURE_SLOTS; ++i)
        EXPECT_EQ(table.names[i], first[i]) << "slot " << i;
}

TEST_F(TextureTableTest, NameOfSlotZeroIsZeroAfterGenerate)
{
    EXPECT_NE(table.names[0], 0u);
    EXPECT_EQ(table.nameOf(0), 0u);
    EXPECT_EQ(table.nameOf(3), table.names[3]);
    EXPECT_EQ(table.nameOf(-1), 0u);
    EXPECT_EQ(table.nameOf(TEXTURE_SLOTS), 0u);
}

TEST_F(TextureTableTest, ReleaseTwiceDeletesOnceAndZeroesEverything)
{
    table.createEmpty(4, 4, GL_RGB, 2);
    const uint32_t name = table.names[2];
    ASSERT_TRUE(glIsTexture(name));
    table.release();
    EXPECT_FALSE(glIsTexture(name));
    EXPECT_FALSE(table.generated);
    for (int i = 0; i < TEXTURE_SLOTS; ++i) {
        EXPECT_EQ(table.names[i], 0u);
        EXPECT_EQ(table.widths[i], 0);
        EXPECT_EQ(table.heights[i], 0);
        EXPECT_EQ(table.components[i], 0);
    }

    // Another table now owns names (possibly the same numbers); a second
    // release of the first table must not touch them.
    TextureTable other;
    other.generate();
    for (int i = 1; i < TEXTURE_SLOTS; ++i)
        other.createEmpty(2, 2, GL_RGB, i);
    table.release();
    for (int i = 1; i < TEXTURE_SLOTS; ++i)
        EXPECT_TRUE(glIsTexture(other.names[i])) << "slot " << i;
    other.release();
}

TEST_F(TextureTableTest, CreateEmptyRgbaHasFourComponents)
{
    EXPECT_EQ(table.createEmpty(256, 256, GL_RGBA, 5), 5);
    EXPECT_EQ(table.components[5], 4);
    EXPECT_EQ(table.widths[5], 256);
    EXPECT_EQ(table.heights[5], 256);
    EXPECT_EQ(levelParameter(5, 0, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA);
    EXPECT_EQ(levelParameter(5, 0, GL_TEXTURE_WIDTH), 256);
}

TEST_F(TextureTableTest, CreateEmptyWithAnyOtherFormatIsRgb)
{
    for (const GLenum format : { GLenum(GL_RGB), GLenum(GL_RGB8), GLenum(GL_LUMINANCE), GLenum(12345) }) {
        EXPECT_EQ(table.createEmpty(64, 32, format, 8), 8);
        EXPECT_EQ(table.components[8], 3) << format;
        EXPECT_EQ(table.widths[8], 64);
        EXPECT_EQ(table.heights[8], 32);
        EXPECT_EQ(levelParameter(8, 0, GL_TEXTURE_INTERNAL_FORMAT), GL_RGB) << format;
        EXPECT_EQ(levelParameter(8, 0, GL_TEXTURE_HEIGHT), 32);
    }
    GLint bound = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0);
}

TEST_F(TextureTableTest, CreateEmptyRefusesSlotsOutsideTheTable)
{
    EXPECT_EQ(table.createEmpty(4, 4, GL_RGB, TEXTURE_SLOTS), 0);
    EXPECT_EQ(table.createEmpty(4, 4, GL_RGB, -1), 0);
    EXPECT_EQ(table.createEmpty(-4, 4, GL_RGB, 3), 0);
    EXPECT_EQ(table.widths[3], 0);
}

TEST_F(TextureTableTest, LoadsRgbPngPixels)
{
    const std::vector<uint8_t> pixels = pattern(4, 2, 3);
    writeFixturePng(file("rgb.png"), 4, 2, 3, pixels);
    EXPECT_EQ(table.loadPng(file("rgb.png").c_str(), 2, 0), 2);
    EXPECT_EQ(table.components[2], 3);
    EXPECT_EQ(table.widths[2], 4);
    EXPECT_EQ(table.heights[2], 2);
    EXPECT_EQ(levelParameter(2, 0, GL_TEXTURE_INTERNAL_FORMAT), GL_RGB);
    EXPECT_EQ(texImage(2, GL_RGB), pixels);
}

TEST_F(TextureTableTest, LoadsOddWidthRgbPngWithoutShearing)
{
    // Three RGB pixels make nine bytes a row; the surface pads rows to twelve.
    for (const int width : { 3, 5, 7 }) {
        const std::vector<uint8_t> pixels = pattern(width, 3, 3);
        writeFixturePng(file("odd.png"), width, 3, 3, pixels);
        ASSERT_EQ(table.loadPng(file("odd.png").c_str(), 4, 0), 4);
        EXPECT_EQ(table.widths[4], width);
        EXPECT_EQ(texImage(4, GL_RGB), pixels) << "width " << width;
    }
}

TEST_F(TextureTableTest, LoadsRgbaPngAsFourComponents)
{
    const std::vector<uint8_t> pixels = pattern(5, 3, 4);
    writeFixturePng(file("rgba.png"), 5, 3, 4, pixels);
    EXPECT_EQ(table.loadPng(file("rgba.png").c_str(), 3, 0), 3);
    EXPECT_EQ(table.components[3], 4);
    EXPECT_EQ(levelParameter(3, 0, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA);
    EXPECT_EQ(texImage(3, GL_RGBA), pixels);
}

TEST_F(TextureTableTest, RefusesPalettedAndGreyPngsAndKeepsTheSlot)
{
    const std::vector<uint8_t> pixels = pattern(4, 4, 3);
    writeFixturePng(file("rgb.png"), 4, 4, 3, pixels);
    ASSERT_EQ(table.loadPng(file("rgb.png").c_str(), 2, 0), 2);

    writeFixturePalettedPng(file("palette.png"), 8, 2, std::vector<uint8_t>(16, 1));
    writeFixturePng(file("grey.png"), 8, 2, 1, std::vector<uint8_t>(16, 200));
    EXPECT_EQ(table.loadPng(file("palette.png").c_str(), 2, 0), 0);
    EXPECT_EQ(table.loadPng(file("grey.png").c_str(), 2, 0), 0);

    EXPECT_EQ(table.widths[2], 4);
    EXPECT_EQ(table.heights[2], 4);
    EXPECT_EQ(table.components[2], 3);
    EXPECT_EQ(texImage(2, GL_RGB), pixels);
}

TEST_F(TextureTableTest, MissingOrBrokenFileReturnsZero)
{
    EXPECT_EQ(table.loadPng(file("missing.png").c_str(), 2, 0), 0);
    EXPECT_EQ(table.loadPng(nullptr, 2, 0), 0);
    {
        std::ofstream out(file("broken.png"), std::ios::binary);
        out << "\x89PNG\r\n\x1a\n then nothing that a decoder could use";
    }
    EXPECT_EQ(table.loadPng(file("broken.png").c_str(), 2, 0), 0);
    EXPECT_EQ(table.loadPngWithMask(file("broken.png").c_str(), file("broken.png").c_str(), 2, 0), 0);
    EXPECT_EQ(table.widths[2], 0);
    EXPECT_EQ(table.components[2], 0);
}

TEST_F(TextureTableTest, TruncatedPngIsRefusedAndTheSlotKept)
{
    writeFixturePng(file("whole.png"), 64, 64, 3, pattern(64, 64, 3));
    const std::vector<uint8_t> bytes = readFileBytes(file("whole.png"));
    ASSERT_GT(bytes.size(), 200u);
    {
        std::ofstream out(file("cut.png"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size() / 2));
    }
    writeFixturePng(file("small.png"), 2, 2, 3, pattern(2, 2, 3));
    ASSERT_EQ(table.loadPng(file("small.png").c_str(), 2, 0), 2);
    EXPECT_EQ(table.loadPng(file("cut.png").c_str(), 2, 0), 0);
    EXPECT_EQ(table.loadPngWithMask(file("cut.png").c_str(), file("cut.png").c_str(), 2, 0), 0);
    EXPECT_EQ(table.widths[2], 2);
}

TEST_F(TextureTableTest, ChannelOrderFollowsTheSurfaceNotTheFileType)
{
    // The loader detects the file type by its content: a BMP stores its pixels
    // blue first. The texture must still get red, green, blue.
    SDL_Surface* surface = SDL_CreateRGBSurface(SDL_SWSURFACE, 3, 2, 24, 0x0000FF, 0x00FF00, 0xFF0000, 0);
    ASSERT_NE(surface, nullptr);
    const std::vector<uint8_t> pixels = pattern(3, 2, 3);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const uint8_t* p = &pixels[(y * 3 + x) * 3];
            const Uint32 value = SDL_MapRGB(surface->format, p[0], p[1], p[2]);
            uint8_t* dst = static_cast<uint8_t*>(surface->pixels) + y * surface->pitch + x * 3;
            dst[0] = static_cast<uint8_t>(value);
            dst[1] = static_cast<uint8_t>(value >> 8);
            dst[2] = static_cast<uint8_t>(value >> 16);
        }
    ASSERT_EQ(SDL_SaveBMP(surface, file("bgr.png").c_str()), 0);
    SDL_FreeSurface(surface);
    ASSERT_EQ(table.loadPng(file("bgr.png").c_str(), 2, 0), 2);
    EXPECT_EQ(table.components[2], 3);
    EXPECT_EQ(texImage(2, GL_RGB), pixels);
}

TEST_F(TextureTableTest, LoadsRefuseSlotsOutsideTheTable)
{
    writeFixturePng(file("rgb.png"), 2, 2, 3, pattern(2, 2, 3));
    EXPECT_EQ(table.loadPng(file("rgb.png").c_str(), TEXTURE_SLOTS, 0), 0);
    EXPECT_EQ(table.loadPng(file("rgb.png").c_str(), -3, 0), 0);
    EXPECT_EQ(table.loadPngWithMask(file("rgb.png").c_str(), file("rgb.png").c_str(), 99, 0), 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    table.copyFromFramebuffer(0, 0, 4, 4, TEXTURE_SLOTS);
    GLint bound = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(TextureTableTest, ReloadingKeepsTheSlotsName)
{
    writeFixturePng(file("a.png"), 2, 2, 3, pattern(2, 2, 3));
    writeFixturePng(file("b.png"), 8, 4, 4, pattern(8, 4, 4));
    const uint32_t name = table.names[6];
    ASSERT_EQ(table.loadPng(file("a.png").c_str(), 6, 0), 6);
    ASSERT_EQ(table.loadPng(file("b.png").c_str(), 6, 0), 6);
    EXPECT_EQ(table.names[6], name);
    EXPECT_EQ(table.widths[6], 8);
    EXPECT_EQ(table.heights[6], 4);
    EXPECT_EQ(table.components[6], 4);
}

TEST_F(TextureTableTest, MaskFromTheSameFileGivesAlphaEqualToRed)
{
    const std::vector<uint8_t> pixels = pattern(5, 3, 3);
    writeFixturePng(file("sprite.png"), 5, 3, 3, pixels);
    ASSERT_EQ(table.loadPngWithMask(file("sprite.png").c_str(), file("sprite.png").c_str(), 6, 0), 6);
    EXPECT_EQ(table.components[6], 4);
    EXPECT_EQ(table.widths[6], 5);
    EXPECT_EQ(table.heights[6], 3);
    const std::vector<uint8_t> texels = texImage(6, GL_RGBA);
    ASSERT_EQ(texels.size(), 5u * 3u * 4u);
    for (size_t i = 0; i < 15; ++i) {
        EXPECT_EQ(texels[4 * i + 0], pixels[3 * i + 0]);
        EXPECT_EQ(texels[4 * i + 1], pixels[3 * i + 1]);
        EXPECT_EQ(texels[4 * i + 2], pixels[3 * i + 2]);
        EXPECT_EQ(texels[4 * i + 3], pixels[3 * i + 0]) << "pixel " << i;
    }
}

TEST_F(TextureTableTest, MaskTakesAlphaFromTheMasksFirstChannelForRgbAndRgbaColour)
{
    const std::vector<uint8_t> mask = pattern(3, 2, 3);
    writeFixturePng(file("mask.png"), 3, 2, 3, mask);
    for (const int channels : { 3, 4 }) {
        std::vector<uint8_t> colour(3 * 2 * channels);
        for (size_t i = 0; i < colour.size(); ++i)
            colour[i] = static_cast<uint8_t>(250 - i * 7);
        writeFixturePng(file("colour.png"), 3, 2, channels, colour);
        ASSERT_EQ(table.loadPngWithMask(file("colour.png").c_str(), file("mask.png").c_str(), 7, 0), 7);
        const std::vector<uint8_t> texels = texImage(7, GL_RGBA);
        ASSERT_EQ(texels.size(), 3u * 2u * 4u);
        for (size_t i = 0; i < 6; ++i) {
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(texels[4 * i + k], colour[channels * i + k]) << channels << " channels, pixel " << i;
            EXPECT_EQ(texels[4 * i + 3], mask[3 * i]) << "the colour image's own alpha is dropped";
        }
    }
}

TEST_F(TextureTableTest, MaskOfOtherSizeIsRefusedAndTheSlotKept)
{
    const std::vector<uint8_t> pixels = pattern(4, 2, 3);
    writeFixturePng(file("colour.png"), 4, 2, 3, pixels);
    writeFixturePng(file("taller.png"), 4, 3, 3, pattern(4, 3, 3));
    writeFixturePng(file("wider.png"), 5, 2, 3, pattern(5, 2, 3));
    ASSERT_EQ(table.loadPngWithMask(file("colour.png").c_str(), file("colour.png").c_str(), 7, 0), 7);
    const std::vector<uint8_t> before = texImage(7, GL_RGBA);

    EXPECT_EQ(table.loadPngWithMask(file("colour.png").c_str(), file("taller.png").c_str(), 7, 0), 0);
    EXPECT_EQ(table.loadPngWithMask(file("wider.png").c_str(), file("colour.png").c_str(), 7, 0), 0);
    EXPECT_EQ(table.loadPngWithMask(file("colour.png").c_str(), file("missing.png").c_str(), 7, 0), 0);
    EXPECT_EQ(table.loadPngWithMask(file("missing.png").c_str(), file("colour.png").c_str(), 7, 0), 0);
    EXPECT_EQ(table.widths[7], 4);
    EXPECT_EQ(table.heights[7], 2);
    EXPECT_EQ(texImage(7, GL_RGBA), before);
}

TEST_F(TextureTableTest, GreyOrPalettedMaskGivesItsByteAsAlpha)
{
    // A one-byte mask pixel is read at the mask's own stride: its byte (a grey
    // level, or a palette index) is the alpha.
    const std::vector<uint8_t> colour = pattern(4, 4, 3);
    writeFixturePng(file("colour.png"), 4, 4, 3, colour);
    std::vector<uint8_t> grey(16), indices(16);
    for (size_t i = 0; i < 16; ++i) {
        grey[i] = static_cast<uint8_t>(10 + i * 13);
        indices[i] = static_cast<uint8_t>((i * 3) % 4);
    }
    writeFixturePng(file("grey.png"), 4, 4, 1, grey);
    writeFixturePalettedPng(file("palette.png"), 4, 4, indices);
    // Grey with a transparent level decodes as grey plus alpha: the grey is the alpha.
    writeFixtureGreyPngWithTransparency(file("grey-trns.png"), 4, 4, grey, grey[5]);
    // A palette with partly transparent entries: still the index, not the expanded red.
    writeFixturePalettedPngWithTransparency(file("palette-trns.png"), 4, 4, indices, { 0, 128, 255 });

    struct Case {
        const char* mask;
        const std::vector<uint8_t>& alpha;
    };
    for (const Case& c : { Case{ "grey.png", grey }, Case{ "palette.png", indices }, Case{ "grey-trns.png", grey },
                           Case{ "palette-trns.png", indices } }) {
        ASSERT_EQ(table.loadPngWithMask(file("colour.png").c_str(), file(c.mask).c_str(), 7, 0), 7) << c.mask;
        EXPECT_EQ(table.components[7], 4);
        EXPECT_EQ(table.widths[7], 4);
        const std::vector<uint8_t> texels = texImage(7, GL_RGBA);
        ASSERT_EQ(texels.size(), 16u * 4u);
        for (size_t i = 0; i < 16; ++i) {
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(texels[4 * i + k], colour[3 * i + k]) << c.mask << ", pixel " << i;
            EXPECT_EQ(texels[4 * i + 3], c.alpha[i]) << c.mask << ", pixel " << i;
        }
    }
}

TEST_F(TextureTableTest, ColourImageOfOneBytePerPixelIsRefusedWithOneLine)
{
    writeFixturePng(file("colour.png"), 4, 4, 3, pattern(4, 4, 3));
    writeFixturePng(file("grey.png"), 4, 4, 1, std::vector<uint8_t>(16, 90));
    writeFixturePalettedPng(file("palette.png"), 4, 4, std::vector<uint8_t>(16, 2));
    writeFixtureGreyPngWithTransparency(file("grey-trns.png"), 4, 4, std::vector<uint8_t>(16, 90), 90);
    struct Case {
        const char* name;
        const char* reason;
    };
    for (const Case& c : { Case{ "grey.png", "a paletted or grey image" }, Case{ "palette.png", "a paletted or grey image" },
                           Case{ "grey-trns.png", "a grey image with a transparent grey level" } }) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(table.loadPngWithMask(file(c.name).c_str(), file("colour.png").c_str(), 7, 0), 0) << c.name;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find(file(c.name)), std::string::npos) << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << err;
        EXPECT_EQ(err.find("16-bit"), std::string::npos) << err;
    }
    EXPECT_EQ(table.components[7], 0);
    EXPECT_EQ(table.widths[7], 0);
}

TEST_F(TextureTableTest, MipmappedLoadRecordsTheSizeGluUploaded)
{
    // GLU scales a side that is not a power of two before it builds the
    // chain; the table records level 0 as it is in GL, not the file's size.
    const std::vector<uint8_t> rgb = pattern(6, 5, 3);
    writeFixturePng(file("odd.png"), 6, 5, 3, rgb);
    writeFixturePng(file("odd4.png"), 6, 5, 4, pattern(6, 5, 4));
    ASSERT_EQ(table.loadPng(file("odd.png").c_str(), 4, 1), 4);
    const GLint width = levelParameter(4, 0, GL_TEXTURE_WIDTH);
    const GLint height = levelParameter(4, 0, GL_TEXTURE_HEIGHT);
    EXPECT_EQ(width & (width - 1), 0) << width;
    EXPECT_EQ(height & (height - 1), 0) << height;
    EXPECT_EQ(table.widths[4], width);
    EXPECT_EQ(table.heights[4], height);

    ASSERT_EQ(table.loadPngWithMask(file("odd4.png").c_str(), file("odd4.png").c_str(), 6, 1), 6);
    EXPECT_EQ(table.widths[6], levelParameter(6, 0, GL_TEXTURE_WIDTH));
    EXPECT_EQ(table.heights[6], levelParameter(6, 0, GL_TEXTURE_HEIGHT));

    // Without mipmaps the image goes up at its own size.
    ASSERT_EQ(table.loadPng(file("odd.png").c_str(), 3, 0), 3);
    EXPECT_EQ(table.widths[3], 6);
    EXPECT_EQ(levelParameter(3, 0, GL_TEXTURE_WIDTH), 6);
    EXPECT_EQ(texImage(3, GL_RGB), rgb);
}

TEST_F(TextureTableTest, MipmappedLoadBuildsTheWholeChain)
{
    std::vector<uint8_t> pixels(8 * 8 * 3, 0);
    for (size_t i = 0; i < pixels.size(); i += 3)
        pixels[i] = 200;   // all red: every level averages to the same red
    writeFixturePng(file("mip.png"), 8, 8, 3, pixels);
    ASSERT_EQ(table.loadPng(file("mip.png").c_str(), 4, 1), 4);
    EXPECT_EQ(levelParameter(4, 1, GL_TEXTURE_WIDTH), 4);
    EXPECT_EQ(levelParameter(4, 2, GL_TEXTURE_WIDTH), 2);
    EXPECT_EQ(levelParameter(4, 3, GL_TEXTURE_WIDTH), 1);
    const std::vector<uint8_t> level1 = texImage(4, GL_RGB, 1);
    ASSERT_EQ(level1.size(), 4u * 4u * 3u);
    EXPECT_EQ(level1[0], 200);
    EXPECT_EQ(level1[1], 0);
    glBindTexture(GL_TEXTURE_2D, table.names[4]);
    GLint minFilter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_LINEAR);

    // The mask loader builds its chain the same way.
    ASSERT_EQ(table.loadPngWithMask(file("mip.png").c_str(), file("mip.png").c_str(), 6, 1), 6);
    EXPECT_EQ(levelParameter(6, 1, GL_TEXTURE_WIDTH), 4);
}

TEST_F(TextureTableTest, WithoutMipmapsFiltersAreLinearAndTheEnvironmentModulates)
{
    writeFixturePng(file("rgb.png"), 2, 2, 3, pattern(2, 2, 3));
    ASSERT_EQ(table.loadPng(file("rgb.png").c_str(), 2, 0), 2);
    glBindTexture(GL_TEXTURE_2D, table.names[2]);
    GLint minFilter = 0, magFilter = 0, env = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &env);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(minFilter, GL_LINEAR);
    EXPECT_EQ(magFilter, GL_LINEAR);
    EXPECT_EQ(env, GL_MODULATE);
    GLint bound = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0);
}

TEST_F(TextureTableTest, CopyFromFramebufferCopiesADrawnRectangle)
{
    ASSERT_EQ(table.createEmpty(32, 32, GL_RGB, 5), 5);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(4, 8, 10, 6);   // x 4..13, y 8..13
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);

    table.copyFromFramebuffer(0, 0, 32, 32, 5);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<uint32_t>(bound), table.names[5]) << "the copy leaves the slot bound";

    const std::vector<uint8_t> texels = texImage(5, GL_RGB);
    ASSERT_EQ(texels.size(), 32u * 32u * 3u);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const bool inside = x >= 4 && x < 14 && y >= 8 && y < 14;
            const uint8_t* t = &texels[(static_cast<size_t>(y) * 32 + x) * 3];
            EXPECT_EQ(t[0], inside ? 255 : 0) << x << "," << y;
            EXPECT_EQ(t[1], 0);
        }
    glClear(GL_COLOR_BUFFER_BIT);
}

// --- Hostile image files ------------------------------------------------------------

namespace {

// The table's tests, for files a user's data folder may hold by mistake.
class ImageFileLimits : public TextureTableTest {
protected:
    // Runs `load` with stderr captured; returns what it printed.
    template <typename F>
    std::string stderrOf(F load)
    {
        testing::internal::CaptureStderr();
        load();
        return testing::internal::GetCapturedStderr();
    }
};

size_t lineCount(const std::string& text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Offset of the first chunk of `type` in a PNG file's bytes (its length field).
size_t chunkOffset(const std::vector<uint8_t>& bytes, const char* type)
{
    for (size_t at = 8; at + 8 <= bytes.size();) {
        const uint32_t length = uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 |
                                uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
        if (std::equal(type, type + 4, bytes.begin() + static_cast<long>(at) + 4))
            return at;
        at += 12 + length;
    }
    return 0;
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// In a death-test child: loads `path` with the address space capped at 256 MiB
// above what the process maps, and exits 0 when the load was refused. The
// image's 768 MB of pixels could not be allocated under the cap, so the
// refusal must come from the header, before decoding.
void loadOversizedUnderCap(const std::string& path)
{
    if (!capAddressSpace(uint64_t(256) << 20))
        _exit(3);
    TextureTable table;   // never generated: a refused load touches no GL
    const int slot = table.loadPng(path.c_str(), SLOT_TITLE, 0);
    // The child made its own folder (it ran the test from its start) and
    // leaves without destructors: remove the folder here.
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path).parent_path(), ignored);
    _exit(slot == 0 ? 0 : 1);
}

} // namespace

TEST_F(ImageFileLimits, OversizedPngIsRefusedFromItsHeaderUnderAMemoryCap)
{
    const std::string path = file("vortalune.png");
    writePngClaimingSize(path, 16000, 16000);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(loadOversizedUnderCap(path), testing::ExitedWithCode(0),
                "The image [^\n]*vortalune.png could not be loaded \\(16000 x 16000 pixels, over the limit");

    // Either side alone over the limit is refused, in this process too, with one line.
    writeBlankPng(file("wide.png"), IMAGE_MAX_SIDE + 1, 1);
    const std::string err = stderrOf([&] { EXPECT_EQ(table.loadPng(file("wide.png").c_str(), 2, 0), 0); });
    EXPECT_EQ(lineCount(err), 1u) << err;
    EXPECT_NE(err.find(file("wide.png")), std::string::npos) << err;
    EXPECT_EQ(table.widths[2], 0);
}

TEST_F(ImageFileLimits, DamagedPngGivesOneLineNamingItAndNoBareLibpngLine)
{
    writeFixturePng(file("whole.png"), 64, 64, 3, pattern(64, 64, 3));
    const std::vector<uint8_t> whole = readFileBytes(file("whole.png"));
    const size_t idat = chunkOffset(whole, "IDAT");
    ASSERT_GT(idat, 0u);

    const size_t idatLength = size_t(whole[idat]) << 24 | size_t(whole[idat + 1]) << 16 |
                              size_t(whole[idat + 2]) << 8 | whole[idat + 3];
    std::vector<uint8_t> crc = whole;
    crc[idat + 8 + idatLength] ^= 0x5A;   // the stored checksum no longer matches the data
    writeBytes(file("crc.png"), crc);
    writeBytes(file("cut.png"), std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(idat + 40)));
    writeBytes(file("signature.png"), std::vector<uint8_t>(whole.begin(), whole.begin() + 8));
    writeBytes(file("text.png"), std::vector<uint8_t>{ 'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e' });
    writeBytes(file("empty.png"), {});
    ASSERT_EQ(mkdir(file("folder.png").c_str(), 0755), 0);

    struct Case {
        const char* name;
        const char* reason;   // part of the reason the line must give
    };
    const Case cases[] = {
        { "crc.png", "IDAT: CRC error" },        { "cut.png", "ends too early" },
        { "signature.png", "ends too early" },   { "text.png", "not a PNG image" },
        { "empty.png", "empty" },                { "folder.png", "not a regular file" },
        { "missing.png", "No such file" },
    };
    writeFixturePng(file("small.png"), 2, 2, 3, pattern(2, 2, 3));
    ASSERT_EQ(table.loadPng(file("small.png").c_str(), 2, 0), 2);
    for (const Case& c : cases) {
        const std::string err = stderrOf([&] { EXPECT_EQ(table.loadPng(file(c.name).c_str(), 2, 0), 0) << c.name; });
        EXPECT_EQ(lineCount(err), 1u) << c.name << ": " << err;
        EXPECT_NE(err.find("The image " + file(c.name) + " could not be loaded"), std::string::npos) << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << c.name << ": " << err;
        EXPECT_EQ(err.find("libpng"), std::string::npos) << err;
        EXPECT_EQ(table.widths[2], 2) << "the slot keeps its image";
    }

    // A damaged mask is named, not the colour image beside it.
    const std::string err = stderrOf(
        [&] { EXPECT_EQ(table.loadPngWithMask(file("whole.png").c_str(), file("crc.png").c_str(), 7, 0), 0); });
    EXPECT_EQ(lineCount(err), 1u) << err;
    EXPECT_NE(err.find(file("crc.png")), std::string::npos) << err;
    EXPECT_EQ(err.find(file("whole.png")), std::string::npos) << err;
    EXPECT_EQ(err.find("libpng"), std::string::npos) << err;
}

TEST_F(ImageFileLimits, DamagedAncillaryChunkLoadsTheSamePixelsWithOneLine)
{
    // A text chunk with a wrong CRC: libpng only warns and drops the chunk.
    const std::vector<uint8_t> pixels = pattern(8, 4, 3);
    writeFixturePng(file("clean.png"), 8, 4, 3, pixels);
    std::vector<uint8_t> bytes = readFileBytes(file("clean.png"));
    const size_t idat = chunkOffset(bytes, "IDAT");
    ASSERT_GT(idat, 0u);
    const std::vector<uint8_t> text = { 0, 0, 0, 4, 't', 'E', 'X', 't', 'a', 0, 'b', 'c', 1, 2, 3, 4 };
    bytes.insert(bytes.begin() + static_cast<long>(idat), text.begin(), text.end());
    writeBytes(file("text_chunk.png"), bytes);

    const std::string err = stderrOf([&] { EXPECT_EQ(table.loadPng(file("text_chunk.png").c_str(), 3, 0), 3); });
    EXPECT_EQ(lineCount(err), 1u) << err;
    EXPECT_NE(err.find(file("text_chunk.png")), std::string::npos) << err;
    EXPECT_NE(err.find("CRC error"), std::string::npos) << err;
    EXPECT_EQ(err.find("libpng"), std::string::npos) << err;
    EXPECT_EQ(texImage(3, GL_RGB), pixels);

    // Used as its own mask (as the sprite is), the file is read and reported once.
    const std::string pair = stderrOf(
        [&] { EXPECT_EQ(table.loadPngWithMask(file("text_chunk.png").c_str(), file("text_chunk.png").c_str(), 6, 0), 6); });
    EXPECT_EQ(lineCount(pair), 1u) << pair;

    // A clean file says nothing and gives the same pixels.
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(table.loadPng(file("clean.png").c_str(), 4, 0), 4); }), "");
    EXPECT_EQ(texImage(4, GL_RGB), pixels);
}

namespace {

// The program's table as this file's dynamic initialisation finds it, before
// main and so before any test of the process has generated or filled it. The
// table is constant-initialised, so it is complete even here, whatever the
// order in which the files' globals are initialised.
struct TableAtStart {
    bool     generated;
    uint32_t names[TEXTURE_SLOTS];
    int32_t  widths[TEXTURE_SLOTS];
    int32_t  heights[TEXTURE_SLOTS];
    int32_t  components[TEXTURE_SLOTS];
};

TableAtStart snapshotTable()
{
    TableAtStart s;
    s.generated = textureTable.generated;
    std::copy_n(textureTable.names, TEXTURE_SLOTS, s.names);
    std::copy_n(textureTable.widths, TEXTURE_SLOTS, s.widths);
    std::copy_n(textureTable.heights, TEXTURE_SLOTS, s.heights);
    std::copy_n(textureTable.components, TEXTURE_SLOTS, s.components);
    return s;
}

const TableAtStart tableAtStart = snapshotTable();

} // namespace

TEST(TextureTableGlobal, StartsEmptyAndUngenerated)
{
    // The program's table is constant-initialised: usable before any other global.
    EXPECT_FALSE(tableAtStart.generated);
    for (int i = 0; i < TEXTURE_SLOTS; ++i) {
        EXPECT_EQ(tableAtStart.names[i], 0u);
        EXPECT_EQ(tableAtStart.widths[i], 0);
        EXPECT_EQ(tableAtStart.heights[i], 0);
        EXPECT_EQ(tableAtStart.components[i], 0);
    }
}
