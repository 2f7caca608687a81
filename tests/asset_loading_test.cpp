// tests/asset_loading_test.cpp: loadAssets fills the texture slots and the
// font lists from data/ in the working directory, and leaves slots empty when
// the files are missing.
#include "GlTestWindow.h"
#include "TestSupport.h"

#include "app/Demo.h"
#include "app/Font.h"
#include "app/Settings.h"
#include "gfx/Texture.h"

#include <SDL_opengl.h>
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

namespace {

// Runs loadAssets with `dir` as the working directory.
void loadAssetsIn(const std::string& dir)
{
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    loadAssets();
    ASSERT_EQ(chdir(previous), 0);
}

void releaseFontAndTextures()
{
    releaseFont(fontLists);
    textureTable.release();
}

} // namespace

TEST(AssetLoading, WithoutDataOnlyTheEmptyTargetsExist)
{
    ASSERT_TRUE(ensureGlWindow());
    appSettings.screenWidth = 800;
    appSettings.screenHeight = 600;
    TempDir dir;
    loadAssetsIn(dir.path());
    EXPECT_TRUE(textureTable.generated);
    EXPECT_EQ(textureTable.widths[SLOT_GLOW], 256);
    EXPECT_EQ(textureTable.heights[SLOT_GLOW], 256);
    EXPECT_EQ(textureTable.components[SLOT_GLOW], 3);
    // The screen-sized target: the next powers of two of 800 x 600.
    EXPECT_EQ(textureTable.widths[SLOT_TITLE], 1024);
    EXPECT_EQ(textureTable.heights[SLOT_TITLE], 1024);
    for (const int slot : { SLOT_SKY, SLOT_PASTEL, SLOT_BUMPY, SLOT_SPRITE, SLOT_FONT, SLOT_CREDITS })
        EXPECT_EQ(textureTable.widths[slot], 0) << "slot " << slot;
    EXPECT_NE(fontLists.base, 0u) << "the lists exist even over an empty font texture";
    releaseFontAndTextures();
}

TEST(AssetLoading, GeneratedImagesFillTheirSlotsAndLoadingTwiceReplacesThem)
{
    ASSERT_TRUE(ensureGlWindow());
    TempDir dir;
    const std::string data = dir.path() + "/data";
    ProcessOptions options;
    options.timeoutSeconds = 240.0;
    const ProcessResult r = runProcess({ std::string(VORTALUNE_TOOLS_DIR) + "/genimages", data }, options);
    ASSERT_EQ(r.exitCode, 0) << r.errorOutput;

    loadAssetsIn(dir.path());
    struct Expected {
        int slot, size, components;
    };
    const Expected expected[] = {
        { SLOT_SKY, 256, 3 },     { SLOT_PASTEL, 256, 3 }, { SLOT_BUMPY, 256, 3 },    { SLOT_GLOW, 256, 3 },
        { SLOT_SPRITE, 128, 4 },  { SLOT_FONT, 256, 4 },   { SLOT_TITLE, 1024, 3 },  { SLOT_CREDITS, 1024, 3 },
    };
    for (const Expected& e : expected) {
        EXPECT_EQ(textureTable.widths[e.slot], e.size) << "slot " << e.slot;
        EXPECT_EQ(textureTable.heights[e.slot], e.size) << "slot " << e.slot;
        EXPECT_EQ(textureTable.components[e.slot], e.components) << "slot " << e.slot;
    }
    EXPECT_EQ(textureTable.widths[SLOT_CHARACTER], 0) << "the character's skin comes with the character";
    const uint32_t firstBase = fontLists.base;
    EXPECT_NE(firstBase, 0u);

    // Loading again releases first: the font lists and texture names are made anew.
    loadAssetsIn(dir.path());
    EXPECT_NE(fontLists.base, 0u);
    EXPECT_TRUE(glIsList(fontLists.base));
    EXPECT_EQ(textureTable.widths[SLOT_FONT], 256);
    releaseFontAndTextures();
    EXPECT_FALSE(textureTable.generated);
    EXPECT_EQ(fontLists.base, 0u);
}
