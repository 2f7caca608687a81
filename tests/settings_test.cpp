// tests/settings_test.cpp: "settings.ini" reading and writing, the mode table.
#include "app/Settings.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace {

AppSettings loadFromText(const std::string& text, bool* read = nullptr)
{
    TempDir dir;
    const std::string path = dir.path() + "/settings.ini";
    std::ofstream(path) << text;
    AppSettings settings;
    const bool ok = loadSettings(settings, path.c_str());
    if (read) *read = ok;
    return settings;
}

} // namespace

TEST(Settings, ModeTableMapsWidthsAndFallsBackTo800)
{
    EXPECT_EQ(modeForWidth(320).height, 240);
    EXPECT_EQ(modeForWidth(1440).height, 1080);
    EXPECT_EQ(modeForWidth(1600).height, 1200);
    const DisplayMode odd = modeForWidth(1366);
    EXPECT_EQ(odd.width, 800);
    EXPECT_EQ(odd.height, 600);
    EXPECT_EQ(modeForWidth(0).width, 800);
}

TEST(Settings, FullFileNormalisesModeAndSetsLookRate)
{
    const AppSettings s = loadFromText("0\n1\n1\n1024\n600\n2\n0.5\n0.25\n");
    EXPECT_FALSE(s.optionFlag1);
    EXPECT_TRUE(s.optionFlag2);
    EXPECT_EQ(s.screenWidth, 1024);
    EXPECT_EQ(s.screenHeight, 768);
    EXPECT_EQ(s.centerX, 512);
    EXPECT_EQ(s.centerY, 384);
    EXPECT_FLOAT_EQ(s.inverseWidth, 1.0f / 1024);
    EXPECT_FALSE(s.fullscreen) << "only 1 is true";
    EXPECT_FLOAT_EQ(s.musicVolume, 0.5f);
    EXPECT_FLOAT_EQ(s.soundVolume, 0.25f);
    EXPECT_FLOAT_EQ(s.lookRate, 0.3f);

    const AppSettings odd = loadFromText("1\n1\n1\n1366\n768\n1\n1\n1\n");
    EXPECT_EQ(odd.screenWidth, 800);
    EXPECT_EQ(odd.screenHeight, 600);
    EXPECT_TRUE(odd.fullscreen);
}

TEST(Settings, MissingFileGivesDefaultsAndKeepsLookRate)
{
    AppSettings s;
    s.lookRate = 0.7f;
    s.screenWidth = 1600;
    EXPECT_FALSE(loadSettings(s, "/nonexistent/settings.ini"));
    EXPECT_EQ(s.screenWidth, 640);
    EXPECT_EQ(s.screenHeight, 480);
    EXPECT_FLOAT_EQ(s.lookRate, 0.7f);
}

TEST(Settings, ShortAndGarbledFilesKeepDefaultsForMissingValues)
{
    const AppSettings shortFile = loadFromText("0\n1\n");
    EXPECT_FALSE(shortFile.optionFlag1);
    EXPECT_TRUE(shortFile.optionFlag3);
    EXPECT_EQ(shortFile.screenWidth, 640);
    EXPECT_EQ(shortFile.screenHeight, 480);
    EXPECT_FLOAT_EQ(shortFile.musicVolume, 1.0f);
    EXPECT_FLOAT_EQ(shortFile.lookRate, 0.3f);

    const AppSettings garbage = loadFromText("hello\nworld\n\x01\x02\xff\n");
    EXPECT_TRUE(garbage.optionFlag1);
    EXPECT_EQ(garbage.screenWidth, 640);
    EXPECT_EQ(garbage.screenHeight, 480);
    EXPECT_FLOAT_EQ(garbage.soundVolume, 1.0f);

    // One bad line costs one value, not the rest of the file.
    const AppSettings oneBad = loadFromText("1\nx\n1\n512\n0\n0\n0.5\n0.5\n");
    EXPECT_EQ(oneBad.screenWidth, 512);
    EXPECT_EQ(oneBad.screenHeight, 384);
    EXPECT_FLOAT_EQ(oneBad.soundVolume, 0.5f);

    bool read = false;
    const AppSettings empty = loadFromText("", &read);
    EXPECT_TRUE(read);
    EXPECT_EQ(empty.screenWidth, 640);
}

TEST(Settings, SaveAfterDefaultsWritesEightLines)
{
    TempDir dir;
    const std::string path = dir.path() + "/settings.ini";
    AppSettings s;
    s.screenWidth = 1234;
    setDefaults(s);
    ASSERT_TRUE(saveSettings(s, path.c_str()));
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "1\n1\n1\n640\n480\n0\n1.000000\n1.000000\n");

    AppSettings back;
    ASSERT_TRUE(loadSettings(back, path.c_str()));
    EXPECT_EQ(back.screenWidth, 640);
    EXPECT_FALSE(saveSettings(s, "/nonexistent/dir/settings.ini"));
}

TEST(Settings, DefaultsLeaveLookRateAndFreeRoam)
{
    AppSettings s;
    s.lookRate = 0.3f;
    s.freeRoamAllowed = true;
    s.musicVolume = 0.1f;
    setDefaults(s);
    EXPECT_FLOAT_EQ(s.lookRate, 0.3f);
    EXPECT_TRUE(s.freeRoamAllowed);
    EXPECT_FLOAT_EQ(s.musicVolume, 1.0f);
    EXPECT_EQ(s.centerX, 320);
}

// --- One line for a settings file that cannot be used whole ----------------------

namespace {

// Loads `path` and returns what loading printed.
std::string loadStderr(const std::string& path, AppSettings& settings, bool& read)
{
    testing::internal::CaptureStderr();
    read = loadSettings(settings, path.c_str());
    return testing::internal::GetCapturedStderr();
}

size_t lineCount(const std::string& text)
{
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

TEST(Settings, MissingDirectoryOrOversizedFileGivesOneLineAndTheDefaults)
{
    TempDir dir;
    const std::string missing = dir.path() + "/settings.ini";
    const std::string folder = dir.path() + "/folder.ini";
    const std::string huge = dir.path() + "/huge.ini";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::ofstream(huge) << "1\n1\n1\n1024\n768\n1\n0.5\n0.5\n" << std::string(8000, ' ');

    struct Case {
        const std::string& path;
        const char*        reason;
    };
    for (const Case& c : { Case{ missing, "No such file" }, Case{ folder, "a directory" },
                           Case{ huge, "over the limit of 4096" } }) {
        AppSettings s;
        s.lookRate = 0.0f;
        bool read = true;
        const std::string err = loadStderr(c.path, s, read);
        EXPECT_FALSE(read) << c.path;
        EXPECT_EQ(lineCount(err), 1u) << err;
        EXPECT_NE(err.find("The settings file " + c.path + " could not be read ("), std::string::npos) << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << err;
        EXPECT_EQ(s.screenWidth, 640) << "defaults";
        EXPECT_FLOAT_EQ(s.lookRate, 0.0f) << "the free camera cannot turn";
    }
}

TEST(Settings, GarbledFileNamesItsFirstBadValueInOneLine)
{
    TempDir dir;
    const std::string path = dir.path() + "/settings.ini";
    std::ofstream(path) << "1\n1\n1\nwide\n768\n0\nloud\n";   // value 4 unreadable, 7 unreadable, 8 missing
    AppSettings s;
    bool read = false;
    const std::string err = loadStderr(path, s, read);
    EXPECT_TRUE(read);
    EXPECT_EQ(err, "The settings file " + path +
                       " has 3 of its 8 values missing or unreadable (the first is value 4, line 4): those keep "
                       "their defaults.\n");
    EXPECT_EQ(s.screenWidth, 640);
    EXPECT_FLOAT_EQ(s.lookRate, 0.3f) << "the file was read";

    std::ofstream(path, std::ios::trunc) << "";
    EXPECT_NE(loadStderr(path, s, read).find("has 8 of its 8 values missing"), std::string::npos);

    // A whole file says nothing.
    std::ofstream(path, std::ios::trunc) << "0\n1\n1\n1024\n600\n2\n0.5\n0.25\n";
    EXPECT_EQ(loadStderr(path, s, read), "");
    EXPECT_EQ(s.screenWidth, 1024);
    EXPECT_FLOAT_EQ(s.soundVolume, 0.25f);
}
