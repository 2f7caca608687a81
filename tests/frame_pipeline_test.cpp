// tests/frame_pipeline_test.cpp: the capture's frame pipeline and its fast
// PNG writer: frames decode to the pixels drawn at any size, they leave in
// the order they came however the encoders finish, no more than the bound is
// ever held, and after a failed write nothing more is written.
#include "base/Report.h"
#include "base/SafeFile.h"
#include "capture/CaptureOptions.h"
#include "capture/FramePipeline.h"
#include "capture/FrameSink.h"
#include "gfx/PngFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/wait.h>
#include <unistd.h>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

// A picture with what rendered frames have: flat areas, gradients and noise.
std::vector<uint8_t> pictureOf(int width, int height)
{
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
            p[0] = uint8_t(x * 255 / std::max(width - 1, 1));
            p[1] = y < height / 2 ? 40 : uint8_t(noise >> 24);
            p[2] = uint8_t((x + y) % 7 == 0 ? 255 : y);
        }
    return rgb;
}

void pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

TEST(FramePipeline, FramesDecodeToThePixelsDrawnAtAnySize)
{
    TempDir dir;
    const std::vector<std::pair<int, int>> sizes = { { 1, 1 }, { 17, 9 }, { 333, 211 }, { 1023, 767 } };
    std::map<long, std::string> files;
    FramePipeline pipeline(
        3, 4,
        [&](PipelineFrame& f) {
            const auto [w, h] = sizes[size_t(f.index)];
            return encodePng(f.encoded, w, h, 3, f.pixels.data(), PngEffort::FAST);
        },
        [&](PipelineFrame& f) {
            const std::string path = dir.path() + "/" + std::to_string(f.index) + ".png";
            std::string why;
            files[f.index] = path;
            return writeWholeFile(path, f.encoded, why);
        });
    for (size_t i = 0; i < sizes.size(); ++i)
        ASSERT_TRUE(pipeline.submit(PipelineFrame{ long(i), 0, pictureOf(sizes[i].first, sizes[i].second), {} }));
    ASSERT_TRUE(pipeline.finish());
    ASSERT_EQ(pipeline.written(), long(sizes.size()));
    for (size_t i = 0; i < sizes.size(); ++i) {
        const auto [w, h] = sizes[i];
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        PngImage fast, small;
        std::string why;
        ASSERT_TRUE(readPngRgb(files[long(i)].c_str(), fast, why)) << why;
        const std::string reference = dir.path() + "/reference.png";
        ASSERT_TRUE(writePng(reference.c_str(), w, h, 3, pictureOf(w, h).data()));
        ASSERT_TRUE(readPngRgb(reference.c_str(), small, why)) << why;
        EXPECT_EQ(fast.width, uint32_t(w));
        EXPECT_EQ(fast.height, uint32_t(h));
        EXPECT_TRUE(fast.rgb == pictureOf(w, h)) << "the fast file decodes to the frame";
        EXPECT_TRUE(fast.rgb == small.rgb) << "and to what the single-threaded writer's file decodes to";
    }
}

TEST(FramePipeline, FramesLeaveInOrderAndNoMoreThanTheBoundIsHeld)
{
    constexpr int FRAMES = 40, CAPACITY = 5;
    std::vector<long> order;
    std::atomic<long> writtenSoFar{ 0 };
    FramePipeline pipeline(
        3, CAPACITY,
        [](PipelineFrame& f) {
            pause(int(5 - f.index % 5) * 2);   // the earlier of five frames take longest
            return true;
        },
        [&](PipelineFrame& f) {
            order.push_back(f.index);
            pause(f.index % 3 == 0 ? 4 : 0);   // and the writer is slow now and then
            ++writtenSoFar;
            return true;
        });
    long mostHeld = 0;
    for (long k = 0; k < FRAMES; ++k) {
        ASSERT_TRUE(pipeline.submit(PipelineFrame{ k, 0, std::vector<uint8_t>(64, uint8_t(k)), {} }));
        mostHeld = std::max(mostHeld, k + 1 - writtenSoFar.load());
    }
    EXPECT_LE(mostHeld, CAPACITY) << "frames submitted and not yet written";
    EXPECT_GE(mostHeld, 2) << "the drawing ran ahead of the writer";
    ASSERT_TRUE(pipeline.finish());
    std::vector<long> expected(FRAMES);
    for (long k = 0; k < FRAMES; ++k)
        expected[size_t(k)] = k;
    EXPECT_EQ(order, expected);
    EXPECT_LE(pipeline.mostHeld(), CAPACITY);
}

TEST(FramePipeline, AfterAFailedWriteNothingMoreIsWrittenAndSubmitSaysSo)
{
    std::vector<long> written;
    FramePipeline pipeline(
        2, 3, [](PipelineFrame&) { return true; },
        [&](PipelineFrame& f) {
            if (f.index == 5)
                return false;
            written.push_back(f.index);
            return true;
        });
    long refusedAt = -1;
    for (long k = 0; k < 100 && refusedAt < 0; ++k) {
        if (!pipeline.submit(PipelineFrame{ k, 0, {}, {} }))
            refusedAt = k;
        pause(1);
    }
    EXPECT_GT(refusedAt, 5) << "submit refuses once the write has failed";
    EXPECT_FALSE(pipeline.finish());
    EXPECT_EQ(written, (std::vector<long>{ 0, 1, 2, 3, 4 }));
    EXPECT_EQ(pipeline.written(), 5);
}

// A write that fails while frames wait behind it, encoded and ready: none of
// them is written or counted, and the run ends there.
TEST(FramePipeline, AWriteThatFailsWithFramesQueuedBehindItIsTheLastWrite)
{
    constexpr int CAPACITY = 6;
    std::vector<long> written;
    std::atomic<int> encoded{ 0 };
    FramePipeline pipeline(
        2, CAPACITY, [&](PipelineFrame&) { ++encoded; return true; },
        [&](PipelineFrame& f) {
            if (f.index == 2) {
                // Fails only once the frames behind it are queued and encoded.
                while (encoded.load() < 2 + CAPACITY)
                    pause(1);
                return false;
            }
            written.push_back(f.index);
            return true;
        });
    int accepted = 0;
    for (long k = 0; k < 2 + CAPACITY; ++k)
        accepted += pipeline.submit(PipelineFrame{ k, 0, {}, {} });
    EXPECT_EQ(accepted, 2 + CAPACITY) << "the frames behind the failing one were queued before it failed";
    EXPECT_FALSE(pipeline.finish());
    EXPECT_EQ(written, (std::vector<long>{ 0, 1 }));
    EXPECT_EQ(pipeline.written(), 2);
    EXPECT_FALSE(pipeline.submit(PipelineFrame{ 99, 0, {}, {} }));
}

// --- Kills in the middle of a capture ------------------------------------------------------

namespace {

int killAtStep = 0;
int stepCount = 0;
void killAtTheStep(FileStep, const std::string&, const std::string&)
{
    if (++stepCount == killAtStep)
        raise(SIGKILL);
}

} // namespace

// The PNG frames' output killed at each write and rename of its files (the
// WAV first, then each frame): every file under a final name is whole, and
// frames.txt lists only frames that are on disk, missing at most the one
// renamed just before the kill.
class CaptureKills : public testing::TestWithParam<int> {};

TEST_P(CaptureKills, LeaveOnlyWholeFilesAndAListOfThem)
{
    TempDir dir;
    CaptureOptions options;
    options.width = 32;
    options.height = 24;
    options.out = dir.path() + "/frames";
    CaptureFrames frames;
    frames.clock.framesInTrack = 60.0;
    frames.first = 0;
    frames.end = 8;
    frames.to = 1.0;   // the WAV: the whole track
    const std::vector<int16_t> track(2 * 4410, 7);
    float durations[SCENE_ENTRIES] = {};
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::freopen("/dev/null", "w", stderr);
        killAtStep = GetParam();
        setFileStepHook(killAtTheStep);
        const std::unique_ptr<FrameSink> sink = makeFrameSink(options, frames, track, durations);
        sink->open();
        for (long k = frames.first; k < frames.end; ++k) {
            std::vector<uint8_t> pixels = pictureOf(options.width, options.height);
            sink->take(k, 1, pixels);
        }
        sink->close();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the kill came inside the capture";

    std::set<std::string> onDisk, listed;
    for (const auto& entry : std::filesystem::directory_iterator(options.out)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".tmp") != std::string::npos)
            continue;   // a temporary: never a final name
        if (name == "audio.wav") {
            EXPECT_EQ(std::filesystem::file_size(entry.path()), 44u + track.size() * 2) << "the WAV is whole";
            continue;
        }
        if (name == "frames.txt")
            continue;
        PngImage image;
        std::string why;
        EXPECT_TRUE(readPngRgb(entry.path().c_str(), image, why)) << name << ": " << why;
        EXPECT_TRUE(image.rgb == pictureOf(options.width, options.height)) << name;
        onDisk.insert(name);
    }
    std::ifstream list(options.out + "/frames.txt");
    for (std::string line; std::getline(list, line);)
        listed.insert(line.substr(0, line.find(' ')));
    for (const std::string& name : listed)
        EXPECT_EQ(onDisk.count(name), 1u) << name << " is listed but not on disk";
    EXPECT_LE(onDisk.size(), listed.size() + 1) << "at most the last renamed frame is not listed yet";
}

// A file that cannot be written whole leaves nothing under its name and
// says why (the WAV, the frames and the contact sheet write this way).
TEST(CaptureFiles, AWriteThatFailsLeavesNoPartOfTheFileAndGivesTheReason)
{
    TempDir dir;
    const std::string wav = dir.path() + "/audio.wav";
    std::filesystem::create_directory(temporaryNameFor(wav));   // the temporary cannot be made
    const std::vector<int16_t> pcm(200, 5);
    std::string why;
    EXPECT_FALSE(writeWav(wav, pcm.data(), 100, why));
    EXPECT_EQ(why, "File exists");
    EXPECT_FALSE(std::filesystem::exists(wav));
    std::filesystem::remove(temporaryNameFor(wav));
    ASSERT_TRUE(writeWav(wav, pcm.data(), 100, why)) << why;
    EXPECT_EQ(std::filesystem::file_size(wav), 44u + 400u);
    EXPECT_FALSE(std::filesystem::exists(temporaryNameFor(wav)));
}

// Step 1: the WAV's write, 2 its rename; then a write and a rename per frame.
INSTANTIATE_TEST_SUITE_P(Steps, CaptureKills, testing::Values(1, 2, 3, 4, 7, 8, 13, 14));

// Encoder threads report failures through reportLine: lines from many threads
// at once are each kept whole, none lost, inside a hold as on the stream.
TEST(FramePipeline, ReportLinesFromManyThreadsAtOnceAreNeitherLostNorCut)
{
    constexpr int THREADS = 8, LINES = 2000;
    MessageHold hold;
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < LINES; ++i)
                reportLine("thread %d line %d of a frame that could not be encoded\n", t, i);
        });
    for (std::thread& thread : threads)
        thread.join();
    const std::vector<std::string> lines = hold.finish();
    ASSERT_EQ(lines.size(), size_t(THREADS * LINES));
    std::set<std::string> distinct(lines.begin(), lines.end());
    EXPECT_EQ(distinct.size(), lines.size());
    const std::string tail = " of a frame that could not be encoded\n";
    for (const std::string& line : lines)
        ASSERT_EQ(line.find(tail), line.size() - tail.size()) << line;
}
