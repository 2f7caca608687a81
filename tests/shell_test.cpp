// tests/shell_test.cpp: consistency check, command line and its mode, start
// position, frame clock.
#include "app/Settings.h"
#include "app/Shell.h"
#include "base/Report.h"
#include "base/Show.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

TEST(Shell, AssertCheckPrintsOnlyOnZeroLowByte)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(assertCheck(0, "knots out of order", 170, "bspline"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ASSERT FAILED.  File: bspline. Line: 170. Details: knots out of order\n");

    testing::internal::CaptureStderr();
    EXPECT_EQ(assertCheck(1, "fine", 1, "x"), 1);
    EXPECT_EQ(assertCheck(0x1234, "low byte 0x34", 2, "x"), 0x34);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    // Only the low byte counts: 0x100 is "false".
    testing::internal::CaptureStderr();
    EXPECT_EQ(assertCheck(0x100, "high bits only", 3, "y"), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Line: 3."), std::string::npos);
}

namespace {

// parseCommandLine over "vortalune" and `args`.
CommandLine parseArguments(const std::vector<std::string>& args)
{
    std::vector<const char*> argv = { "vortalune" };
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    return parseCommandLine(static_cast<int>(argv.size()) - 1, argv.data());
}

} // namespace

TEST(Shell, CommandLineTakesNothingOrOneSceneNumber)
{
    const CommandLine show = parseArguments({});
    EXPECT_EQ(show.request, COMMAND_LINE_SHOW);
    EXPECT_TRUE(show.reason.empty());

    for (int scene = 0; scene < SCENE_ENTRIES; ++scene) {
        const CommandLine line = parseArguments({ std::to_string(scene) });
        EXPECT_EQ(line.request, COMMAND_LINE_SCENE) << scene << ": " << line.reason;
        EXPECT_EQ(line.scene, scene);
        EXPECT_TRUE(line.reason.empty());
    }
    const CommandLine padded = parseArguments({ "007" });   // leading zeros are still digits only
    EXPECT_EQ(padded.request, COMMAND_LINE_SCENE);
    EXPECT_EQ(padded.scene, 7);
}

TEST(Shell, CommandLineHelpWinsWherever)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             { "--help" }, { "-h" }, { "3", "--help" }, { "text", "-h" }, { "--help", "99" } }) {
        const CommandLine line = parseArguments(args);
        EXPECT_EQ(line.request, COMMAND_LINE_HELP) << args[0];
        EXPECT_TRUE(line.reason.empty());
    }
    EXPECT_EQ(std::string(VORTALUNE_USAGE), "usage: vortalune [--timings] [SCENE]\n");
    EXPECT_NE(std::string(VORTALUNE_HELP).find("--help"), std::string::npos);
    EXPECT_NE(std::string(VORTALUNE_HELP).find("--timings"), std::string::npos);
    EXPECT_EQ(std::string(VORTALUNE_HELP).back(), '\n');
}

TEST(Shell, CommandLineTakesTimingsAloneOrBeforeOrAfterTheScene)
{
    EXPECT_FALSE(parseArguments({}).timings);
    EXPECT_FALSE(parseArguments({ "3" }).timings);

    const CommandLine show = parseArguments({ "--timings" });
    EXPECT_EQ(show.request, COMMAND_LINE_SHOW) << show.reason;
    EXPECT_TRUE(show.timings);

    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{ { "--timings", "3" }, { "3", "--timings" } }) {
        const CommandLine line = parseArguments(args);
        EXPECT_EQ(line.request, COMMAND_LINE_SCENE) << args[0] << " " << args[1] << ": " << line.reason;
        EXPECT_EQ(line.scene, 3);
        EXPECT_TRUE(line.timings);
        EXPECT_TRUE(line.reason.empty());
    }
    for (const char* scene : { "0", "10" }) {
        const CommandLine line = parseArguments({ scene, "--timings" });
        EXPECT_EQ(line.request, COMMAND_LINE_SCENE) << scene;
        EXPECT_EQ(line.scene, std::atoi(scene));
    }
    EXPECT_EQ(parseArguments({ "--timings", "--help" }).request, COMMAND_LINE_HELP);
}

struct RefusedLine {
    std::vector<std::string> args;
    const char*              reason;   // expected part of the one-line reason
};

// The arguments, quoted, so the test names say what was refused.
void PrintTo(const RefusedLine& line, std::ostream* os)
{
    for (const std::string& a : line.args)
        *os << "'" << a << "' ";
}

class ShellRefusedCommandLine : public ::testing::TestWithParam<RefusedLine> {};

TEST_P(ShellRefusedCommandLine, IsBadWithOneLineReason)
{
    const CommandLine line = parseArguments(GetParam().args);
    EXPECT_EQ(line.request, COMMAND_LINE_BAD);
    EXPECT_NE(line.reason.find(GetParam().reason), std::string::npos) << line.reason;
    EXPECT_EQ(line.reason.find('\n'), std::string::npos) << "one line: " << line.reason;
}

INSTANTIATE_TEST_SUITE_P(
    Shell, ShellRefusedCommandLine,
    ::testing::Values(RefusedLine{ { "text" }, "whole number 0..10, not 'text'" },
                      RefusedLine{ { "-1" }, "not '-1'" },
                      RefusedLine{ { "11" }, "not '11'" },
                      RefusedLine{ { "99999999999" }, "not '99999999999'" },
                      RefusedLine{ { "99999999999999999999999999" }, "not '99999999999999999999999999'" },
                      RefusedLine{ { "4x" }, "not '4x'" },
                      RefusedLine{ { "" }, "not ''" },
                      RefusedLine{ { " 4" }, "not ' 4'" },
                      RefusedLine{ { "+4" }, "not '+4'" },
                      RefusedLine{ { "4.0" }, "not '4.0'" },
                      RefusedLine{ { "--fullscreen" }, "unknown option '--fullscreen'" },
                      RefusedLine{ { "-" }, "unknown option '-'" },
                      RefusedLine{ { "3", "4" }, "at most one argument" },
                      RefusedLine{ { "3", "" }, "at most one argument" },
                      RefusedLine{ { "--timings", "3", "4" }, "at most one argument" },
                      RefusedLine{ { "3", "--timings", "4" }, "at most one argument" },
                      RefusedLine{ { "--timings", "--timings" }, "--timings is given twice" },
                      RefusedLine{ { "3", "--timings", "--timings" }, "--timings is given twice" },
                      RefusedLine{ { "--timings", "11" }, "not '11'" },
                      RefusedLine{ { "x", "--timings" }, "not 'x'" },
                      RefusedLine{ { "--timings", "" }, "not ''" },
                      RefusedLine{ { "--timings", "--fullscreen" }, "unknown option '--fullscreen'" },
                      RefusedLine{ { "--timing" }, "unknown option '--timing'" },
                      RefusedLine{ { "--TIMINGS" }, "unknown option '--TIMINGS'" }),
    [](const ::testing::TestParamInfo<RefusedLine>& info) { return "Case" + std::to_string(info.index); });

TEST(Shell, CommandLineChoosesShowOrAuthoringMode)
{
    AppSettings s;
    s.lookRate = 0.3f;
    s.musicVolume = 0.2f;
    applyCommandLineMode(1, s);
    EXPECT_EQ(s.screenWidth, 1024);
    EXPECT_EQ(s.screenHeight, 768);
    EXPECT_TRUE(s.fullscreen);
    EXPECT_EQ(s.centerX, 512);
    EXPECT_EQ(s.centerY, 384);
    EXPECT_FLOAT_EQ(s.inverseWidth, 0.0009765625f);
    EXPECT_FALSE(s.freeRoamAllowed);
    EXPECT_FLOAT_EQ(s.lookRate, 0.3f) << "the look rate survives the reset";
    EXPECT_FLOAT_EQ(s.musicVolume, 1.0f);

    for (int argc : { 2, 3, 7 }) {
        applyCommandLineMode(argc, s);
        EXPECT_EQ(s.screenWidth, 800);
        EXPECT_EQ(s.screenHeight, 600);
        EXPECT_FALSE(s.fullscreen);
        EXPECT_EQ(s.centerX, 400);
        EXPECT_EQ(s.centerY, 300);
        EXPECT_FLOAT_EQ(s.inverseWidth, 0.00125f);
        EXPECT_TRUE(s.freeRoamAllowed);
    }
}

TEST(Shell, NextPowerOfTwo)
{
    EXPECT_EQ(nextPowerOfTwo(-5), 1);
    EXPECT_EQ(nextPowerOfTwo(1), 1);
    EXPECT_EQ(nextPowerOfTwo(3), 4);
    EXPECT_EQ(nextPowerOfTwo(768), 1024);
    EXPECT_EQ(nextPowerOfTwo(1024), 1024);
    EXPECT_EQ(nextPowerOfTwo(1025), 2048);
}

TEST(Shell, StartPositionSumsEarlierScenesAndClamps)
{
    const float durations[SCENE_ENTRIES] = { 0.0f, 0.064f, 0.0779f, 0.1f, 0.1f, 0.1f,
                                             0.1f, 0.1f, 0.1f, 0.1f, 0.2f };
    EXPECT_EQ(startPositionSum(0, durations), 0.0f);     // atoi of a non-number
    EXPECT_EQ(startPositionSum(-3, durations), 0.0f);
    EXPECT_EQ(startPositionSum(1, durations), 0.0f);
    EXPECT_FLOAT_EQ(startPositionSum(3, durations), 0.064f + 0.0779f);
    float all = 0.0f;
    for (float d : durations) all += d;
    EXPECT_FLOAT_EQ(startPositionSum(11, durations), all);
    EXPECT_FLOAT_EQ(startPositionSum(500, durations), all) << "must not read past the table";
}

TEST(Shell, FrameClockStepsInMillisecondsAndSamplesOncePerSecond)
{
    FrameClock clock;
    float fps = 0.0f;

    // First frame in the same millisecond as startTicks: no sample yet.
    EXPECT_EQ(advanceFrameClock(clock, 0, fps), 0.0f);
    EXPECT_EQ(fps, 0.0f);

    EXPECT_FLOAT_EQ(advanceFrameClock(clock, 16, fps), 0.016f);
    EXPECT_NEAR(fps, 62.5f, 0.01f);
    EXPECT_EQ(clock.nextFpsUpdate, 1000u);

    // No new sample until elapsed passes 1000.
    EXPECT_FLOAT_EQ(advanceFrameClock(clock, 36, fps), 0.020f);
    EXPECT_NEAR(fps, 62.5f, 0.01f);
    advanceFrameClock(clock, 1000, fps);
    EXPECT_NEAR(fps, 62.5f, 0.01f);
    EXPECT_FLOAT_EQ(advanceFrameClock(clock, 1010, fps), 0.010f);
    EXPECT_NEAR(fps, 100.0f, 0.01f);
    EXPECT_EQ(clock.nextFpsUpdate, 2000u);

    // After a stall the sample catches up one second per frame.
    EXPECT_FLOAT_EQ(advanceFrameClock(clock, 5010, fps), 4.0f);
    EXPECT_NEAR(fps, 0.25f, 1e-6f);
    EXPECT_EQ(clock.nextFpsUpdate, 3000u);
    advanceFrameClock(clock, 5030, fps);
    EXPECT_NEAR(fps, 50.0f, 0.01f);
    EXPECT_EQ(clock.nextFpsUpdate, 4000u);

    // A zero step while a sample is due keeps the rate finite.
    advanceFrameClock(clock, 5030, fps);
    EXPECT_TRUE(std::isfinite(fps));
    EXPECT_EQ(clock.nextFpsUpdate, 5000u);
    EXPECT_EQ(clock.lastStep, 0.0f);
}
