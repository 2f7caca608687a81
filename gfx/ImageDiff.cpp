// gfx/ImageDiff.cpp: channel difference statistics of two images.
#include "gfx/ImageDiff.h"

#include <array>
#include <cstdio>
#include <cstdlib>

bool compareRgb(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint32_t width, uint32_t height,
                ImageDifference& out)
{
    out = ImageDifference();
    const size_t channels = size_t(width) * height * 3;
    if (a.size() != channels || b.size() != channels)
        return false;
    std::array<size_t, 256> histogram {};
    uint64_t sum = 0;
    for (size_t p = 0; p < channels; p += 3) {
        bool differs = false;
        for (size_t c = 0; c < 3; ++c) {
            const int d = std::abs(int(a[p + c]) - int(b[p + c]));
            ++histogram[size_t(d)];
            sum += uint64_t(d);
            differs = differs || d != 0;
        }
        out.differingPixels += differs;
    }
    out.pixels = channels / 3;
    if (channels == 0)
        return true;
    out.mean = double(sum) / double(channels);
    const size_t rank = (channels * 99 + 99) / 100;   // nearest rank, 1-based
    size_t seen = 0;
    for (int d = 0; d < 256; ++d) {
        if (histogram[size_t(d)] == 0)
            continue;
        out.max = d;
        if (seen < rank && seen + histogram[size_t(d)] >= rank)
            out.p99 = d;
        seen += histogram[size_t(d)];
    }
    return true;
}

std::string describeDifference(const ImageDifference& d)
{
    char text[128];
    std::snprintf(text, sizeof text, "mean %.2f p99 %d max %d (%.2f%% of pixels differ)", d.mean, d.p99, d.max,
                  d.pixels ? 100.0 * double(d.differingPixels) / double(d.pixels) : 0.0);
    return text;
}
