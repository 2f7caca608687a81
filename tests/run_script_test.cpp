// tests/run_script_test.cpp: the first run (scripts/run.sh) builds the show,
// the capture program and the asset tools, and nothing of the tests, the
// benchmarks or the GL layer's builds.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::set<std::string> words(const std::string& text)
{
    std::istringstream in(text);
    std::set<std::string> out;
    for (std::string w; in >> w;)
        out.insert(w);
    return out;
}

} // namespace

TEST(RunScript, BuildsTheShowTheCaptureAndTheAssetsAndNoTestBenchmarkOrLayerBuild)
{
    ProcessOptions options;
    options.captureOutput = true;
    const ProcessResult r =
        runProcess({ "/bin/bash", std::string(VORTALUNE_SOURCE_DIR) + "/scripts/run.sh", "--targets" }, options);
    ASSERT_EQ(r.exitCode, 0) << r.errorOutput;
    const std::set<std::string> built = words(r.output);
    const std::set<std::string> programs = words(VORTALUNE_PROGRAM_TARGETS);
    const std::set<std::string> notForRunning = words(VORTALUNE_NOT_FOR_RUNNING);
    ASSERT_FALSE(notForRunning.empty());
    for (const char* needed : { "vortalune", "vortalune-capture", "assets" })
        EXPECT_EQ(built.count(needed), 1u) << needed << " is not in run.sh's build list: " << r.output;
    const std::regex testLike("(.*_tests|.*_bench|.*[-_]es|layer_cases.*|.*fuzz.*)");
    for (const std::string& target : built) {
        EXPECT_EQ(programs.count(target), 1u) << target << " is not a target of the top-level build";
        EXPECT_EQ(notForRunning.count(target), 0u) << target << " is a test, benchmark or layer build";
        EXPECT_FALSE(std::regex_match(target, testLike)) << target;
    }
}
