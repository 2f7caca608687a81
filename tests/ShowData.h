// tests/ShowData.h: one data folder for the tests that run the capture
// programs: the committed flights, the images and the character generated
// here (so a clean checkout without built assets draws the same pictures)
// and a generated 30-second track.
#pragma once

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

class ShowData {
public:
    static constexpr double TRACK_SECONDS = 30.0;

    // Made the first time it is asked for, removed when the process ends.
    static const ShowData& get();

    const std::string& dir() const { return dir_.path(); }   // holds data/
    const std::vector<int16_t>& decoded() const { return decoded_; }   // the track, interleaved stereo
    bool ok() const { return ok_; }

private:
    ShowData();
    TempDir dir_;
    std::vector<int16_t> decoded_;
    bool ok_ = false;
};

// Runs `args` (a capture program and its options) in `dir` with the dummy
// audio driver, again when a busy Xvfb refused the connection.
ProcessResult runShowProgram(const std::string& dir, const std::vector<std::string>& args);

// A test that runs a capture program on the display over the shared folder.
class ShowDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(haveDisplay()) << "run the tests under Xvfb (scripts/test.sh does)";
        ASSERT_TRUE(ShowData::get().ok());
    }
    const std::string& data() const { return ShowData::get().dir(); }
};
