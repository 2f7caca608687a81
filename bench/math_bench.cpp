// bench/math_bench.cpp: the math the studio model runs per bone per frame.
#include "math/Math.h"

#include <benchmark/benchmark.h>

static void BM_Math_SlerpAndMatrix(benchmark::State& state)
{
    Quat p, q, out;
    quatFromRadians(Float3(0.1f, 0.2f, 0.3f), p);
    quatFromRadians(Float3(0.4f, -0.2f, 1.3f), q);
    Matrix3x4 m;
    float t = 0.0f;
    for (auto _ : state) {
        quatSlerp(p, q, t, out);
        matrixFromQuat(out, m);
        benchmark::DoNotOptimize(m);
        t = t > 1.0f ? 0.0f : t + 0.01f;
    }
}
BENCHMARK(BM_Math_SlerpAndMatrix);

static void BM_Math_ComposeTransforms(benchmark::State& state)
{
    Matrix3x4 a, b, out;
    rotationFromDegrees(Float3(10.0f, 20.0f, 30.0f), a);
    rotationFromDegrees(Float3(-5.0f, 40.0f, 3.0f), b);
    for (auto _ : state) {
        composeTransforms(a, b, out);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_Math_ComposeTransforms);
