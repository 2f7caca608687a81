// gfx/ImageDiff.h: how far two RGB images of one size are apart, channel by
// channel: the statistics the GL layer's builds are held to against the
// desktop's frames. No GL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ImageDifference {
    double mean = 0.0;         // mean absolute difference over every channel of every pixel, 0..255
    int    p99 = 0;            // 99th percentile (nearest rank) of those differences
    int    max = 0;            // the largest
    size_t differingPixels = 0;
    size_t pixels = 0;
};

// Both are width x height RGB; false when their sizes differ from that.
bool compareRgb(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint32_t width, uint32_t height,
                ImageDifference& out);

// "mean 0.41 p99 3 max 87 (1.2% of pixels differ)".
std::string describeDifference(const ImageDifference& d);
