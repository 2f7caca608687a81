// tests/frame_pipeline_test.cpp: the capture's frame pipeline and its fast
// PNG writer: frames decode to the pixels drawn at any size, they leave in
// the order they came however the encoders finish, no more than the bound is
// ever held, and after a failed write nothing more is written.
#include "capture/FramePipeline.h"
#include "gfx/PngFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
