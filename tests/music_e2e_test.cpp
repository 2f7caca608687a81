// tests/music_e2e_test.cpp: the real program with a track of its own, on the
// display (Xvfb in CI) and SDL's dummy audio driver: the clock runs silently
// and the beat key prints the position.
#include "tools/song/Song.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

namespace {

// Presses `b` once, then Escape, in the program's window (found by its
// process: tests run in parallel on one display).
void pressBeatThenEscape(int pid)
{
    sendKeyToProgram(pid, "b");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sendKeyToProgram(pid, "Escape");
}

} // namespace

TEST(MusicEndToEnd, BeatKeyPrintsTheRunningTrackPosition)
{
    ASSERT_TRUE(haveDisplay()) << "run the tests under Xvfb (scripts/test.sh does)";
    TempDir dir;
    std::filesystem::create_directories(dir.path() + "/data");
    // Ten seconds of a quiet tone stand in for the demo's track.
    std::vector<int16_t> pcm(size_t(10 * 44100) * 2);
    for (size_t i = 0; i < pcm.size() / 2; ++i)
        pcm[2 * i] = pcm[2 * i + 1] = int16_t(3000.0 * std::sin(double(i) * 0.0627));
    std::string error;
    ASSERT_TRUE(song::writeOggVorbis(dir.path() + "/data/vortalune.ogg", pcm.data(), pcm.size() / 2, 2, 44100,
                                     0.4f, error)) << error;

    ProcessOptions options;
    options.workDir = dir.path();
    options.env = { "SDL_AUDIODRIVER=dummy" };
    options.delaySeconds = 1.0;
    options.whileRunning = pressBeatThenEscape;
    const ProcessResult r = runProcess({ VORTALUNE_BINARY, "0" }, options);   // straight to the free camera
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;

    const std::regex beat("Beat at: (0\\.[0-9]{6})\n");
    auto begin = std::sregex_iterator(r.errorOutput.begin(), r.errorOutput.end(), beat);
    ASSERT_EQ(std::distance(begin, std::sregex_iterator()), 1) << r.errorOutput;
    const double position = std::stod((*begin)[1].str());
    EXPECT_GT(position, 0.0) << "the track plays from the start";
    EXPECT_LT(position, 1.0);
    EXPECT_NE(r.errorOutput.find("silent"), std::string::npos) << r.errorOutput;
    EXPECT_EQ(r.errorOutput.find("The music track"), std::string::npos) << r.errorOutput;
}
