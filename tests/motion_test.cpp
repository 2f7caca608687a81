// tests/motion_test.cpp: source motion curves and palettes.
#include "iso/Motion.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Motion, OrbitStartsAtTheCentreAndStaysInside)
{
    for (int i = 0; i < 40; ++i) {
        const Float3 p = orbit(i, 0.0f);
        EXPECT_EQ(p.x, 32.0f);
        EXPECT_EQ(p.y, 32.0f);
        EXPECT_EQ(p.z, 32.0f);
    }
    const Float3 q = orbit(2, 12345.0f);
    EXPECT_NEAR(q.x, 32.0f + 28.16f * std::sin(25.0f * 1.2345f), 1e-3f);
    EXPECT_LE(std::fabs(q.y - 32.0f), 28.16f + 1e-4f);
}

TEST(Motion, WobbleUsesFloatArgumentsPerAxis)
{
    const float s = 2.5f;
    const Float3 p = wobble(3, 2500.0f, 5.12f);
    // The argument is summed in float in the written order.
    const float ax = (s + static_cast<float>(347 * 3)) + 49152.0f;
    EXPECT_FLOAT_EQ(p.x, 32.0f + 5.12f * std::sin(ax));
    const float az = (s + static_cast<float>(123 * 3)) + 49152.0f;
    EXPECT_FLOAT_EQ(p.z, 32.0f + 5.12f * std::sin(az));
}

TEST(Motion, TwinWobbleSharesSlowPartEverySeventhIndex)
{
    // At T = 0 the fast part differs by index, the slow part repeats mod 7.
    const float T = 0.0f;
    const Float3 a = twinWobble(2, T);
    const Float3 b = twinWobble(9, T);
    const float slowA = 9.6f * std::sin(static_cast<float>(347 * (2 % 7 + 3947)) + 0.0f + 49152.0f);
    const float fastA = 4.48f * std::sin(static_cast<float>(347 * 2) + 0.0f + 49152.0f);
    EXPECT_FLOAT_EQ(a.x, 32.0f + slowA + fastA);
    const float fastB = 4.48f * std::sin(static_cast<float>(347 * 9) + 0.0f + 49152.0f);
    EXPECT_NEAR(b.x - fastB, a.x - fastA, 1e-4f);
}

TEST(Motion, ChainSegmentsJoinEndToStart)
{
    for (int i = 0; i < 10; ++i) {
        const SegmentEnds s0 = chain(i, 777.0f);
        const SegmentEnds s1 = chain(i + 1, 777.0f);
        EXPECT_FLOAT_EQ(s0.b.x, s1.a.x);
        EXPECT_FLOAT_EQ(s0.b.y, s1.a.y);
        EXPECT_FLOAT_EQ(s0.b.z, s1.a.z);
    }
    const SegmentEnds d = driftPair(0, 0.0f);
    EXPECT_EQ(d.a.x, d.a.y);   // i = 0: every axis has the same phase
    EXPECT_NEAR(d.a.x, 32.0f + 16.0f * std::sin(49152.0f), 1e-4f);
}

TEST(Motion, BarSlidesAlongXAndClamps)
{
    // i = 0: k = (9251 mod 32) + 16 = 3 + 16 = 19; u = fmod(s, 1).
    const SegmentEnds start = bar(0, 0.0f);
    EXPECT_FLOAT_EQ(start.a.x, 6.4f);
    EXPECT_FLOAT_EQ(start.b.x, 6.9f);
    EXPECT_EQ(start.a.y, start.b.y);
    EXPECT_EQ(start.a.z, start.b.z);
    EXPECT_FLOAT_EQ(start.a.y, (static_cast<float>(23607 & 127) / 63.5f - 1.0f) * 19.2f + 32.0f);

    const SegmentEnds late = bar(0, 999.0f);   // u = 0.999
    EXPECT_FLOAT_EQ(late.b.x, 57.6f);
    EXPECT_FLOAT_EQ(late.a.x, 58.1f);

    const SegmentEnds mid = bar(0, 500.0f);   // u = 0.5: B.x = 83 * 0.5 = 41.5, A.x = 22.5
    EXPECT_NEAR(mid.b.x, 41.5f, 1e-4f);
    EXPECT_NEAR(mid.a.x, 22.5f, 1e-4f);
    for (int i = 0; i < 64; ++i) {
        const SegmentEnds e = bar(i, 1234.0f * static_cast<float>(i));
        EXPECT_GE(e.a.x, 6.4f);
        EXPECT_LE(e.b.x, 57.6f);
        EXPECT_GE(e.a.y, 32.0f - 19.2f);
        EXPECT_LE(e.a.y, 32.0f + 19.2f);
    }
}

TEST(Motion, ClampToGrid)
{
    const Float3 c = clampToGrid(Float3(64.0f, -0.5f, 63.5f));
    EXPECT_EQ(c.x, 63.0f);
    EXPECT_EQ(c.y, 0.0f);
    EXPECT_EQ(c.z, 63.5f);
}

TEST(Motion, PalettesByParityAndOutOfRangeUnchanged)
{
    Float3 rgb;
    ASSERT_TRUE(paletteColour(8, 0, rgb));
    EXPECT_EQ(rgb.x, 1.0f);
    EXPECT_EQ(rgb.y, 0.8f);
    ASSERT_TRUE(paletteColour(8, 1, rgb));
    EXPECT_EQ(rgb.x, 0.0f);
    EXPECT_EQ(rgb.y, 1.0f);
    ASSERT_TRUE(paletteColour(13, 3, rgb));
    EXPECT_EQ(rgb.x, 1.0f);
    EXPECT_EQ(rgb.z, 0.5f);
    ASSERT_TRUE(paletteColour(2, 5, rgb));
    EXPECT_EQ(rgb.x, 1.0f);
    EXPECT_EQ(rgb.y, 0.0f);

    rgb = Float3(0.25f, 0.5f, 0.75f);
    EXPECT_FALSE(paletteColour(15, 0, rgb));
    EXPECT_FALSE(paletteColour(-1, 0, rgb));
    EXPECT_EQ(rgb.x, 0.25f);
    EXPECT_EQ(rgb.z, 0.75f);
    for (int p : { 0, 5, 14 }) {
        ASSERT_TRUE(paletteColour(p, 1, rgb));
        EXPECT_EQ(rgb.x + rgb.y + rgb.z, 3.0f);
    }
}
