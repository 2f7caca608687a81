// bench/png_bench.cpp: the PNG writer at its two efforts on a rendered-like
// 1024 x 768 frame (smooth gradients, flat sky, a band of detail): what a
// capture frame costs to encode, and how large it gets.
#include "gfx/PngFile.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

std::vector<uint8_t> frameLike(int width, int height)
{
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    uint32_t noise = 7;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
            const double r = std::hypot(x - width * 0.5, y - height * 0.45);
            const bool surface = r < height * 0.3;
            noise = noise * 1103515245u + 12345u;
            const bool star = !surface && (noise >> 20) % 997 == 0;
            p[0] = surface ? uint8_t(200 - r * 0.4) : star ? 255 : uint8_t(10 + y / 40);
            p[1] = surface ? uint8_t(120 + 60 * std::sin(x * 0.02)) : star ? 255 : uint8_t(20 + y / 30);
            p[2] = surface ? uint8_t(40 + r * 0.2) : uint8_t(60 + ((x / 16 + y / 16) % 2) * 8 + (noise >> 29));
        }
    return rgb;
}

void encodeAt(benchmark::State& state, PngEffort effort)
{
    const std::vector<uint8_t> frame = frameLike(1024, 768);
    std::vector<uint8_t> out;
    for (auto _ : state) {
        out.clear();
        benchmark::DoNotOptimize(encodePng(out, 1024, 768, 3, frame.data(), effort));
    }
    state.counters["bytes"] = double(out.size());
}

void BM_Png_Encode1024x768_Small(benchmark::State& state) { encodeAt(state, PngEffort::SMALL); }
void BM_Png_Encode1024x768_Fast(benchmark::State& state) { encodeAt(state, PngEffort::FAST); }

} // namespace

BENCHMARK(BM_Png_Encode1024x768_Small)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Png_Encode1024x768_Fast)->Unit(benchmark::kMillisecond);
