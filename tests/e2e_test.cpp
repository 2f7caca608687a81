// tests/e2e_test.cpp: the real vortalune binary on the display (Xvfb in CI).
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

// Sends Escape straight to the program's window, found by its title and process
// (tests run in parallel on one display).
void sendEscape(int pid)
{
    sendKeyToProgram(pid, "Escape");
}

const std::vector<std::string> AUDIO_ENV = { "SDL_AUDIODRIVER=dummy" };

} // namespace

TEST(EndToEnd, ShowWithoutAssetsOpensRunsAndEndsByItself)
{
    ASSERT_TRUE(haveDisplay()) << "run the tests under Xvfb (scripts/test.sh does)";
    TempDir dir;
    ProcessOptions options;
    options.workDir = dir.path();
    options.env = AUDIO_ENV;
    const ProcessResult r = runProcessOnDisplay({ VORTALUNE_BINARY }, options);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
    EXPECT_EQ(r.errorOutput.find("Couldn't"), std::string::npos) << r.errorOutput;
}

TEST(EndToEnd, AuthoringToolInSceneZeroWaitsForEscape)
{
    ASSERT_TRUE(haveDisplay());
    TempDir dir;
    ProcessOptions options;
    options.workDir = dir.path();
    options.env = AUDIO_ENV;
    options.delaySeconds = 1.5;
    options.timeoutSeconds = 60.0;

    // Scene 0 has no flight: the free camera takes over at once. Without a key
    // it keeps running: killed by the timeout.
    options.timeoutSeconds = 3.0;
    const ProcessResult idle = runProcessOnDisplay({ VORTALUNE_BINARY, "0" }, options);
    EXPECT_TRUE(idle.timedOut) << "the free camera must not end by itself; exit " << idle.exitCode << ": "
                               << idle.errorOutput;

    options.timeoutSeconds = 60.0;
    options.whileRunning = sendEscape;
    const ProcessResult r = runProcessOnDisplay({ VORTALUNE_BINARY, "0" }, options);
    EXPECT_FALSE(r.timedOut) << "Escape did not end the program";
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
}

TEST(EndToEnd, NoVideoDeviceExitsWithCode1)
{
    TempDir dir;
    // With a settings file the start-up failure is the program's only line.
    std::filesystem::copy_file(std::filesystem::path(VORTALUNE_SOURCE_DIR) / "settings.ini",
                               std::filesystem::path(dir.path()) / "settings.ini");
    ProcessOptions options;
    options.workDir = dir.path();
    // A video driver that does not exist: SDL cannot start video at all (with
    // merely no display SDL 1.2 falls back to text-mode drivers instead).
    options.env = { "SDL_VIDEODRIVER=nosuchdriver", "SDL_AUDIODRIVER=dummy" };
    const ProcessResult r = runProcess({ VORTALUNE_BINARY }, options);
    EXPECT_EQ(r.exitCode, 1);
    // The empty folder's missing path files are reported first, one line each.
    const size_t at = r.errorOutput.find("Couldn't initialize SDL: ");
    ASSERT_NE(at, std::string::npos) << r.errorOutput;
    EXPECT_TRUE(at == 0 || r.errorOutput[at - 1] == '\n') << r.errorOutput;
}

TEST(EndToEnd, NoOpenGLVisualExitsWithCode5)
{
    // A private Xvfb without the GLX extension has no OpenGL visual, so the
    // video mode cannot be set.
    if (runShell("command -v xvfb-run >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "xvfb-run not installed";
    TempDir dir;
    ProcessOptions options;
    options.workDir = dir.path();
    options.env = AUDIO_ENV;
    // A display number far from the ones `xvfb-run -a` hands out, so this
    // server never races another one starting at the same time.
    const std::string display = std::to_string(4000 + getpid() % 1000);
    const ProcessResult r = runProcess({ "/usr/bin/xvfb-run", "-n", display, "-s",
                                         "-screen 0 1024x768x24 -extension GLX -noreset", VORTALUNE_BINARY },
                                       options);
    EXPECT_EQ(r.exitCode, 5) << r.errorOutput;
    EXPECT_NE(r.errorOutput.find("Couldn't set display mode: "), std::string::npos) << r.errorOutput;
}
