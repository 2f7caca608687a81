// tests/capture_e2e_test.cpp: the vortalune-capture program on the display
// (Xvfb in CI) against a generated 30-second track (tests/ShowData.h): frame
// timing, the WAV stretch, determinism, scene changes, the contact sheet and
// bad options.
#include "path/CameraPath.h"

#include "PngFixture.h"
#include "ShowData.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

ProcessResult runCapture(std::vector<std::string> args, const std::string& workDir)
{
    args.insert(args.begin(), VORTALUNE_CAPTURE_BINARY);
    return runShowProgram(workDir, args);
}

struct ManifestLine {
    std::string file;
    long        frame = -1;
    double      fraction = -1.0;
    int         scene = -1;
};

std::vector<ManifestLine> readManifest(const std::string& path)
{
    std::vector<ManifestLine> lines;
    std::ifstream in(path);
    ManifestLine l;
    while (in >> l.file >> l.frame >> l.fraction >> l.scene)
        lines.push_back(l);
    return lines;
}

// Frames in the track, as the capture computes it: fps x decoded seconds.
double framesInTrack(int fps)
{
    return fps * (double(ShowData::get().decoded().size() / 2) / 44100.0);
}

std::set<std::string> listFolder(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        names.insert(entry.path().string());
    return names;
}

// The counts of the progress lines ("frames N / TOTAL ...") in order. Into
// a pipe (the tests read stderr through one) progress is whole lines: no
// carriage return anywhere, every progress line ended by a newline.
std::vector<long> progressCounts(const std::string& errors, long& total)
{
    EXPECT_EQ(errors.find('\r'), std::string::npos) << "a carriage return in: " << errors;
    std::vector<long> counts;
    total = -1;
    std::istringstream lines(errors);
    for (std::string line; std::getline(lines, line);) {
        long done = -1;
        if (std::sscanf(line.c_str(), "frames %ld / %ld", &done, &total) == 2)
            counts.push_back(done);
    }
    if (!errors.empty()) {
        EXPECT_EQ(errors.back(), '\n') << "the last line is whole";
    }
    return counts;
}

uint32_t readLe32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

class CaptureEndToEnd : public ShowDataTest {};

} // namespace

TEST_F(CaptureEndToEnd, TenFramesPerSecondOverTheFirstHundredthGiveTheComputedFramesAndAudio)
{
    TempDir out;
    const ProcessResult r = runCapture(
        { "--fps", "10", "--from", "0.0", "--to", "0.01", "--size", "160x120", "--out", out.path() + "/f" }, data());
    ASSERT_EQ(r.exitCode, 0) << r.errorOutput;

    const double n = framesInTrack(10);
    std::vector<long> expected;
    for (long k = 0; float(double(k) / n) < 0.01f; ++k)
        expected.push_back(k);
    ASSERT_EQ(expected.size(), 3u);   // 30 s at 10 fps: 300 frames, a hundredth is 3

    const auto manifest = readManifest(out.path() + "/f/frames.txt");
    ASSERT_EQ(manifest.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(manifest[i].frame, expected[i]);
        EXPECT_FLOAT_EQ(float(manifest[i].fraction), float(double(expected[i]) / n));
        const PngInfo png = readPng(out.path() + "/f/" + manifest[i].file);
        EXPECT_TRUE(png.ok);
        EXPECT_EQ(png.width, 160u);
        EXPECT_EQ(png.height, 120u);
    }
    size_t pngs = 0;
    for (const auto& entry : fs::directory_iterator(out.path() + "/f"))
        pngs += entry.path().extension() == ".png";
    EXPECT_EQ(pngs, expected.size());

    // The WAV holds the track's samples from fraction 0 to 0.01, exactly.
    const std::vector<uint8_t> wav = readFileBytes(out.path() + "/f/audio.wav");
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(std::memcmp(wav.data(), "RIFF", 4), 0);
    EXPECT_EQ(readLe32(wav, 24), 44100u);
    const std::vector<int16_t>& track = ShowData::get().decoded();
    const size_t frames = size_t(std::floor(0.01 * double(track.size() / 2)));
    ASSERT_EQ(readLe32(wav, 40), frames * 4);
    ASSERT_EQ(wav.size(), 44 + frames * 4);
    EXPECT_EQ(std::memcmp(wav.data() + 44, track.data(), frames * 4), 0);
}

TEST_F(CaptureEndToEnd, TwoCapturesWithTheSameSeedAreByteIdentical)
{
    // Scene 4, the particle fountain: the random source decides what it shows.
    TempDir out;
    auto capture = [&](const std::string& seed, const std::string& folder) {
        return runCapture({ "--fps", "10", "--from", "0.25", "--to", "0.26", "--size", "160x120", "--seed", seed,
                            "--out", out.path() + "/" + folder },
                          data());
    };
    const ProcessResult ra = capture("7", "a");
    const ProcessResult rb = capture("7", "b");
    const ProcessResult rc = capture("8", "c");
    ASSERT_EQ(ra.exitCode, 0) << ra.errorOutput;
    ASSERT_EQ(rb.exitCode, 0) << rb.errorOutput;
    ASSERT_EQ(rc.exitCode, 0) << rc.errorOutput;

    const auto manifest = readManifest(out.path() + "/a/frames.txt");
    ASSERT_EQ(manifest.size(), 3u);
    bool seedMatters = false;
    for (const ManifestLine& line : manifest) {
        EXPECT_EQ(line.scene, 4);
        const auto bytesA = readFileBytes(out.path() + "/a/" + line.file);
        const auto bytesB = readFileBytes(out.path() + "/b/" + line.file);
        const auto bytesC = readFileBytes(out.path() + "/c/" + line.file);
        ASSERT_FALSE(bytesA.empty()) << line.file;
        EXPECT_EQ(bytesA, bytesB) << line.file;
        seedMatters = seedMatters || bytesA != bytesC;
    }
    EXPECT_TRUE(seedMatters) << "another seed should change the particles";
}

TEST_F(CaptureEndToEnd, SceneTwoStartsOnTheFirstFrameAtOrAfterItsFraction)
{
    TempDir out;
    const ProcessResult r = runCapture(
        { "--fps", "10", "--from", "0.05", "--to", "0.08", "--size", "160x120", "--out", out.path() }, data());
    ASSERT_EQ(r.exitCode, 0) << r.errorOutput;

    const double n = framesInTrack(10);
    long firstOfScene2 = 0;
    while (float(double(firstOfScene2) / n) < DEFAULT_PATH_DURATIONS[1])
        ++firstOfScene2;
    const auto manifest = readManifest(out.path() + "/frames.txt");
    ASSERT_FALSE(manifest.empty());
    bool sawScene1 = false, sawScene2 = false;
    for (const ManifestLine& line : manifest) {
        EXPECT_EQ(line.scene, line.frame < firstOfScene2 ? 1 : 2) << "frame " << line.frame;
        sawScene1 = sawScene1 || line.scene == 1;
        sawScene2 = sawScene2 || line.scene == 2;
    }
    EXPECT_TRUE(sawScene1);
    EXPECT_TRUE(sawScene2);
}

TEST_F(CaptureEndToEnd, ContactSheetHasTwelveLabelledCellsOnlyTheOpeningBlack)
{
    TempDir out;
    const std::string sheet = out.path() + "/sheet.png";
    const ProcessResult r =
        runCapture({ "--fps", "10", "--size", "160x120", "--contact-sheet", sheet }, data());
    ASSERT_EQ(r.exitCode, 0) << r.errorOutput;

    // The progress line counts each cell once and stops at the last one, even
    // though the run-out before the show's last frame renders several frames.
    long total = 0;
    const std::vector<long> counts = progressCounts(r.errorOutput, total);
    EXPECT_EQ(total, 12);
    ASSERT_FALSE(counts.empty()) << r.errorOutput;
    EXPECT_EQ(counts.back(), 12) << r.errorOutput;
    for (size_t i = 1; i < counts.size(); ++i)
        EXPECT_GT(counts[i], counts[i - 1]) << "progress line " << i << " repeats or goes back: " << r.errorOutput;

    // Four columns by three rows of 160x120 cells, a 24-pixel label strip under
    // each, 8-pixel gaps.
    const int gap = 8, cellW = 160, cellH = 120, label = 24;
    const PngInfo png = readPng(sheet);
    ASSERT_TRUE(png.ok);
    ASSERT_EQ(png.width, uint32_t(4 * cellW + 5 * gap));
    ASSERT_EQ(png.height, uint32_t(3 * (cellH + label) + 4 * gap));
    auto pixel = [&](int x, int y) { return &png.rgb[(size_t(y) * png.width + size_t(x)) * 3]; };
    for (int cell = 0; cell < 12; ++cell) {
        const int x0 = gap + (cell % 4) * (cellW + gap);
        const int y0 = gap + (cell / 4) * (cellH + label + gap);
        int lit = 0;
        for (int y = 0; y < cellH; ++y)
            for (int x = 0; x < cellW; ++x) {
                const uint8_t* p = pixel(x0 + x, y0 + y);
                lit += (p[0] > 8 || p[1] > 8 || p[2] > 8);
            }
        // The show opens on a fully black fade; every later cell shows something.
        if (cell == 0)
            EXPECT_EQ(lit, 0) << "the show's first frame is under the black fade";
        else
            EXPECT_GT(lit, cellW * cellH / 100) << "cell " << cell << " is black";
        int ink = 0;
        for (int y = 0; y < label; ++y)
            for (int x = 0; x < cellW; ++x)
                ink += pixel(x0 + x, y0 + cellH + y)[0] > 160;
        EXPECT_GT(ink, 20) << "cell " << cell << " has no label";
    }
}

TEST_F(CaptureEndToEnd, BadOptionsExitWithCodeTwoAndWriteNothing)
{
    TempDir work;
    std::ofstream(work.path() + "/plain.txt") << "a file, not a folder";
    const std::vector<std::vector<std::string>> cases = {
        { "--size", "0x0" },
        { "--size", "640" },
        { "--scene", "11" },
        { "--scene", "0" },
        { "--from", "0.5", "--to", "0.2" },
        { "--from", "0.3", "--to", "0.3" },
        { "--fps", "0" },
        { "--every", "0" },
        { "--scene", "3", "--from", "0.1" },
        { "--out", work.path() + "/plain.txt" },
        { "--out", work.path() + "/plain.txt/frames" },
        { "--contact-sheet", work.path() + "/missing/sheet.png" },
        { "--bogus" },
        { "--fps" },
        { "--video", work.path() + "/it's.mp4" },
        { "--every", "99999999999999" },
        { "--from", "0.9999999", "--to", "1" },   // no frame sits in the range
    };
    for (const auto& args : cases) {
        std::vector<std::string> full = args;
        if (std::find(full.begin(), full.end(), "--out") == full.end())
            full.insert(full.end(), { "--out", work.path() + "/out" });
        const std::set<std::string> before = listFolder(work.path());
        const ProcessResult r = runCapture(full, data());
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        EXPECT_EQ(r.exitCode, 2) << joined << r.errorOutput;
        EXPECT_NE(r.errorOutput.find("vortalune-capture: "), std::string::npos) << joined;
        EXPECT_NE(r.errorOutput.find("usage:"), std::string::npos) << joined;
        EXPECT_EQ(listFolder(work.path()), before) << joined;
        if (args.size() > 1 && args[1] == "99999999999999") {
            EXPECT_NE(r.errorOutput.find("must be a whole number 1..1000000"), std::string::npos) << r.errorOutput;
        }
        if (args.size() > 1 && args[1] == "0.9999999") {
            EXPECT_NE(r.errorOutput.find("--from 0.9999999 --to 1 holds no frame at 60 fps"), std::string::npos)
                << r.errorOutput;
        }
    }
}

TEST_F(CaptureEndToEnd, VideoNeedsFfmpegAndThenHoldsTheFrames)
{
    TempDir out;
    const std::string video = out.path() + "/scene.mp4";
    const ProcessResult r = runCapture(
        { "--fps", "10", "--from", "0.0", "--to", "0.02", "--size", "161x121", "--video", video }, data());
    if (std::system("command -v ffmpeg > /dev/null 2>&1") != 0) {
        // Without ffmpeg the option is refused up front.
        EXPECT_EQ(r.exitCode, 2) << r.errorOutput;
        EXPECT_NE(r.errorOutput.find("ffmpeg"), std::string::npos) << r.errorOutput;
        EXPECT_FALSE(fs::exists(video));
        return;
    }
    ASSERT_EQ(r.exitCode, 0) << r.errorOutput;
    EXPECT_GT(fs::file_size(video), 1000u);
    EXPECT_FALSE(fs::exists(video + ".wav"));   // the audio went in and its temporary file is gone
    // Six frames (a fiftieth of 300) and a sound stream.
    FILE* probe = popen(("ffprobe -v error -count_frames -show_entries stream=codec_type,nb_read_frames -of csv=p=0 '" +
                         video + "'").c_str(), "r");
    ASSERT_NE(probe, nullptr);
    std::string streams;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, probe))
        streams += buffer;
    pclose(probe);
    EXPECT_NE(streams.find("video,6"), std::string::npos) << streams;
    EXPECT_NE(streams.find("audio,"), std::string::npos) << streams;
}

TEST_F(CaptureEndToEnd, SceneOptionTakesTheScenesStretchEveryKthFrame)
{
    TempDir out;
    const ProcessResult r =
        runCapture({ "--fps", "10", "--scene", "2", "--every", "5", "--size", "160x120", "--out", out.path() }, data());
    ASSERT_EQ(r.exitCode, 0) << r.errorOutput;

    const double n = framesInTrack(10);
    const float start = DEFAULT_PATH_DURATIONS[1];
    const float end = start + DEFAULT_PATH_DURATIONS[2];
    std::vector<long> expected;
    long k = 0;
    while (float(double(k) / n) < start)
        ++k;
    for (; float(double(k) / n) < end; k += 5)
        expected.push_back(k);
    const auto manifest = readManifest(out.path() + "/frames.txt");
    ASSERT_EQ(manifest.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(manifest[i].frame, expected[i]);
        EXPECT_EQ(manifest[i].scene, 2);
    }

    const std::vector<int16_t>& track = ShowData::get().decoded();
    const double frames = double(track.size() / 2);
    const size_t from = size_t(std::floor(double(start) * frames));
    const size_t to = size_t(std::floor(double(end) * frames));
    const std::vector<uint8_t> wav = readFileBytes(out.path() + "/audio.wav");
    ASSERT_EQ(wav.size(), 44 + (to - from) * 4);
    EXPECT_EQ(std::memcmp(wav.data() + 44, track.data() + from * 2, (to - from) * 4), 0);
}

TEST_F(CaptureEndToEnd, AFailedWriteStopsTheCaptureAndNothingAfterItIsClaimed)
{
    // Frames 0 .. 5 at 10 fps; the name of frame 2 is taken by a folder.
    TempDir out;
    const std::string folder = out.path() + "/f";
    fs::create_directories(folder + "/frame_000002.png");
    const ProcessResult r = runCapture(
        { "--fps", "10", "--from", "0.0", "--to", "0.02", "--size", "96x64", "--out", folder }, data());
    EXPECT_EQ(r.exitCode, 1) << r.errorOutput;
    EXPECT_NE(r.errorOutput.find("cannot write " + folder + "/frame_000002.png (Is a directory)"), std::string::npos)
        << r.errorOutput;
    EXPECT_EQ(r.errorOutput.find(" frames (10 fps"), std::string::npos) << "no summary claims the frames";
    const auto manifest = readManifest(folder + "/frames.txt");
    ASSERT_EQ(manifest.size(), 2u) << "frames.txt lists what was written before the failure";
    EXPECT_EQ(manifest[1].frame, 1);
    for (long k = 3; k <= 5; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame_%06ld.png", k);
        EXPECT_FALSE(fs::exists(folder + name)) << name;
    }
    long total = 0;
    const std::vector<long> counts = progressCounts(r.errorOutput, total);
    for (long c : counts)
        EXPECT_LE(c, 2) << "progress never counts a frame after the failed one";
}
