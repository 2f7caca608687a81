// tests/show_e2e_test.cpp: the whole show on the display (Xvfb in CI) with a
// track of a few seconds: all ten scenes play against it and the program ends
// by itself when the credits are over.
#include "tools/song/Song.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr double TRACK_SECONDS = 3.0;

// The program's data folder in `dir`: the committed flights and whatever
// images are built, linked from the source tree, and a short generated track.
void prepareDataFolder(const std::string& dir)
{
    fs::create_directories(dir + "/data");
    const fs::path source = fs::path(VORTALUNE_SOURCE_DIR) / "data";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(source, error)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".txt" || ext == ".tms" || ext == ".png")
            fs::create_symlink(entry.path(), fs::path(dir) / "data" / entry.path().filename());
    }

    std::vector<int16_t> pcm(size_t(TRACK_SECONDS * 44100) * 2);
    for (size_t i = 0; i < pcm.size() / 2; ++i)
        pcm[2 * i] = pcm[2 * i + 1] = int16_t(2000.0 * std::sin(double(i) * 0.05));
    std::string message;
    ASSERT_TRUE(song::writeOggVorbis(dir + "/data/vortalune.ogg", pcm.data(), pcm.size() / 2, 2, 44100, 0.4f,
                                     message)) << message;
}

} // namespace

TEST(ShowEndToEnd, PlaysAllTenScenesAgainstAShortTrackAndEndsByItself)
{
    ASSERT_TRUE(haveDisplay()) << "run the tests under Xvfb (scripts/test.sh does)";
    TempDir dir;
    prepareDataFolder(dir.path());
    ASSERT_FALSE(HasFatalFailure());

    ProcessOptions options;
    options.workDir = dir.path();
    options.env = { "SDL_AUDIODRIVER=dummy" };
    options.timeoutSeconds = 120.0;
    ProcessResult r;
    double seconds = 0.0;
    for (int attempt = 0; attempt < 3; ++attempt) {   // a busy Xvfb now and then refuses a client
        const auto start = std::chrono::steady_clock::now();
        r = runProcess({ VORTALUNE_BINARY }, options);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (r.errorOutput.find("Couldn't open X11 display") == std::string::npos)
            break;
    }
    EXPECT_FALSE(r.timedOut) << "the show did not end by itself";
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
    // The images may not be built (each missing one gives its own line); the track must load.
    EXPECT_EQ(r.errorOutput.find("The music track"), std::string::npos) << r.errorOutput;
    EXPECT_EQ(r.errorOutput.find("ASSERT FAILED"), std::string::npos) << r.errorOutput;
    // The show runs on the music clock: it can only have reached the end of
    // scene 10 (the end of the track) after the whole track has played. A
    // show that stopped early (no track, a scene that ends playback) quits
    // after its first frames.
    EXPECT_GE(seconds, TRACK_SECONDS * 0.95) << r.errorOutput;
}
