// bench/path_bench.cpp: what the camera paths cost per frame and at start-up.
#include "path/CameraPath.h"
#include "path/PathSet.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

CameraPath circlePath(int keys)
{
    CameraPath path;
    for (int i = 0; i < keys; ++i) {
        const float a = 6.2831853f * static_cast<float>(i) / static_cast<float>(keys);
        appendPoint(path, 32.0f + 56.0f * std::sin(a), 40.0f, 32.0f + 56.0f * std::cos(a));
    }
    return path;
}

} // namespace

// One frame of a flight: both paths of a pair sampled once.
static void BM_Paths_SamplePair_24Keys(benchmark::State& state)
{
    PathPair pair;
    pair.position = circlePath(24);
    pair.rotation = circlePath(24);
    float s = 0.0f;
    for (auto _ : state) {
        Float3 position, angles;
        samplePair(pair, s, position, angles);
        benchmark::DoNotOptimize(position);
        benchmark::DoNotOptimize(angles);
        s = s >= 1.0f ? 0.0f : s + 0.001f;
    }
}
BENCHMARK(BM_Paths_SamplePair_24Keys);

// Start-up loading of the show's committed flights (20 pair files and ten
// copies of paths.tms).
static void BM_Paths_LoadAllShowFlights(benchmark::State& state)
{
    const std::string folder = std::string(VORTALUNE_SOURCE_DIR) + "/data";
    for (auto _ : state) {
        PathSet set;
        loadAllPaths(set, folder);
        benchmark::DoNotOptimize(set.pairs[3].position.points.data());
    }
}
BENCHMARK(BM_Paths_LoadAllShowFlights)->Unit(benchmark::kMicrosecond);

// A long recorded path: the spline is built once per file, not once per key.
static void BM_Paths_LoadFile_5000Keys(benchmark::State& state)
{
    const std::string name = "/tmp/vortalune-bench-path.txt";
    if (!savePathFile(circlePath(5000), name)) {
        state.SkipWithError("cannot write the temporary path file");
        return;
    }
    for (auto _ : state) {
        CameraPath path;
        loadPathFile(path, name);
        benchmark::DoNotOptimize(path.points.data());
    }
    std::remove(name.c_str());
}
BENCHMARK(BM_Paths_LoadFile_5000Keys)->Unit(benchmark::kMicrosecond);
