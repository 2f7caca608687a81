// tests/bspline_test.cpp: knot set-up, Bezier conversion, evaluation and the
// misuse reports of the cubic B-spline, checked against de Boor's algorithm.
#include "path/bspline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr float EPS = 1e-4f;

void expectNear(const Float3& a, const Float3& b, float eps = EPS)
{
    EXPECT_NEAR(a.x, b.x, eps);
    EXPECT_NEAR(a.y, b.y, eps);
    EXPECT_NEAR(a.z, b.z, eps);
}

std::string report(int line, const char* details)
{
    return "ASSERT FAILED.  File: bspline. Line: " + std::to_string(line) + ". Details: " + details + "\n";
}

// de Boor's algorithm on the full clamped knot vector: the spline's knots with
// the first and last one repeated once more (multiplicity 4 at both ends).
// Independent of the Bezier conversion under test; done in double.
Float3 deBoor(const std::vector<float>& knots, const std::vector<Float3>& points, double u)
{
    const int n = static_cast<int>(points.size());
    std::vector<double> t;
    t.push_back(knots.front());
    for (float k : knots)
        t.push_back(k);
    t.push_back(knots.back());   // n + 4 knots

    // Span k with t[k] <= u < t[k+1], k in 3 .. n-1 (the last span takes its end).
    int k = 3;
    while (k < n - 1 && u >= t[static_cast<size_t>(k + 1)])
        ++k;

    double d[4][3];
    for (int j = 0; j < 4; ++j)
        for (int a = 0; a < 3; ++a)
            d[j][a] = points[static_cast<size_t>(j + k - 3)][a];
    for (int r = 1; r <= 3; ++r) {
        for (int j = 3; j >= r; --j) {
            const double lo = t[static_cast<size_t>(j + k - 3)];
            const double hi = t[static_cast<size_t>(j + 1 + k - r)];
            const double alpha = (u - lo) / (hi - lo);
            for (int a = 0; a < 3; ++a)
                d[j][a] = (1.0 - alpha) * d[j - 1][a] + alpha * d[j][a];
        }
    }
    return Float3(static_cast<float>(d[3][0]), static_cast<float>(d[3][1]), static_cast<float>(d[3][2]));
}

std::vector<Float3> wigglyPoints(int n)
{
    std::vector<Float3> points;
    for (int i = 0; i < n; ++i)
        points.emplace_back(static_cast<float>(i * 3 % 7) - 2.5f, static_cast<float>(i * i % 5) * 1.5f,
                            10.0f - static_cast<float>(i * 2 % 9));
    return points;
}

std::vector<float> knotsOf(const CubicBSpline& spline)
{
    return std::vector<float>(spline.knots(), spline.knots() + spline.knotCount());
}

} // namespace

TEST(BSpline, StartsEmpty)
{
    CubicBSpline spline;
    EXPECT_EQ(spline.knotCount(), 0);
    EXPECT_EQ(spline.pointCount(), 0);
    Float3 out(7, 7, 7);
    EXPECT_FALSE(spline.evaluateAt(0.0f, out));
    EXPECT_FALSE(spline.evaluateNormalized(0.5f, out));
    expectNear(out, Float3(7, 7, 7), 0.0f);
}

TEST(BSpline, FourPointsMakeOneClampedSegment)
{
    const Float3 p[4] = { Float3(0, 0, 0), Float3(1, 2, 0), Float3(3, 2, 1), Float3(4, 0, 5) };
    CubicBSpline spline;
    spline.setPoints(4, p);
    EXPECT_EQ(knotsOf(spline), (std::vector<float>{ 0, 0, 0, 1, 1, 1 }));

    Float3 out;
    ASSERT_TRUE(spline.evaluateNormalized(0.0f, out));
    expectNear(out, p[0]);
    ASSERT_TRUE(spline.evaluateNormalized(1.0f, out));
    expectNear(out, p[3]);
    ASSERT_TRUE(spline.evaluateNormalized(0.5f, out));
    expectNear(out, Float3((p[0].x + 3 * p[1].x + 3 * p[2].x + p[3].x) / 8,
                           (p[0].y + 3 * p[1].y + 3 * p[2].y + p[3].y) / 8,
                           (p[0].z + 3 * p[1].z + 3 * p[2].z + p[3].z) / 8));

    CubicBezier bezier;
    ASSERT_EQ(spline.segmentToBezier(0, bezier), BSPLINE_SEGMENT_OK);
    for (int i = 0; i < 4; ++i)
        expectNear(bezier.points[i], p[i]);
    EXPECT_EQ(spline.segmentToBezier(1, bezier), BSPLINE_NO_SEGMENT);
}

TEST(BSpline, FiveCollinearPointsJoinAtTheInnerKnot)
{
    std::vector<Float3> p;
    for (int i = 0; i < 5; ++i)
        p.emplace_back(static_cast<float>(i), 0.0f, 0.0f);
    CubicBSpline spline;
    spline.setPoints(5, p.data());
    EXPECT_EQ(knotsOf(spline), (std::vector<float>{ 0, 0, 0, 1, 2, 2, 2 }));

    Float3 out;
    ASSERT_TRUE(spline.evaluateNormalized(0.0f, out));
    expectNear(out, p[0]);
    ASSERT_TRUE(spline.evaluateNormalized(1.0f, out));
    expectNear(out, p[4]);

    // At u = 1 the end of segment 0 and the start of segment 1 coincide.
    CubicBezier first, second;
    ASSERT_EQ(spline.segmentToBezier(0, first), BSPLINE_SEGMENT_OK);
    ASSERT_EQ(spline.segmentToBezier(1, second), BSPLINE_SEGMENT_OK);
    expectNear(first.points[3], second.points[0]);
    ASSERT_TRUE(spline.evaluateNormalized(0.5f, out));
    expectNear(out, first.evaluate(1.0f));
    expectNear(out, second.evaluate(0.0f));
    expectNear(out, deBoor(knotsOf(spline), p, 1.0));
    EXPECT_NEAR(out.x, 2.0f, EPS) << "symmetric points put the middle at x = 2";
    EXPECT_EQ(out.y, 0.0f);
    EXPECT_EQ(out.z, 0.0f);
}

TEST(BSpline, ParameterOnInnerKnotUsesTheSegmentEndingThere)
{
    const std::vector<Float3> p = wigglyPoints(5);
    CubicBSpline spline;
    spline.setPoints(5, p.data());

    CubicBezier lower;
    ASSERT_EQ(spline.segmentToBezier(0, lower), BSPLINE_SEGMENT_OK);
    Float3 out;
    ASSERT_TRUE(spline.evaluateAt(1.0f, out));
    const Float3 expected = lower.evaluate(1.0f);
    EXPECT_EQ(out.x, expected.x);
    EXPECT_EQ(out.y, expected.y);
    EXPECT_EQ(out.z, expected.z);

    // Make the upper segment empty (knots 3 and 4 equal): u = 1 still evaluates,
    // which it could not if the upper segment were chosen.
    spline.setKnot(4, 1.0f);
    CubicBezier upper;
    EXPECT_EQ(spline.segmentToBezier(1, upper), BSPLINE_EMPTY_SEGMENT);
    EXPECT_TRUE(spline.evaluateAt(1.0f, out));
}

TEST(BSpline, ExtrapolatesBeyondBothEnds)
{
    const std::vector<Float3> p = wigglyPoints(6);
    CubicBSpline spline;
    spline.setPoints(6, p.data());
    ASSERT_EQ(spline.knotCount(), 8);
    const float last = spline.knots()[7];   // 3
    ASSERT_EQ(last, 3.0f);

    CubicBezier first, final;
    ASSERT_EQ(spline.segmentToBezier(0, first), BSPLINE_SEGMENT_OK);
    ASSERT_EQ(spline.segmentToBezier(2, final), BSPLINE_SEGMENT_OK);

    Float3 out;
    ASSERT_TRUE(spline.evaluateNormalized(1.2f, out));
    const float uHigh = 1.2f * last;   // 3.6: t = 1.6 on the last segment [2, 3]
    expectNear(out, final.evaluate(uHigh - 2.0f));
    expectNear(out, deBoor(knotsOf(spline), p, uHigh), 1e-3f);
    EXPECT_GT(std::abs(out.x - p.back().x) + std::abs(out.y - p.back().y) + std::abs(out.z - p.back().z), 0.1f)
        << "beyond the end the cubic goes on, it does not stop at the last point";

    ASSERT_TRUE(spline.evaluateNormalized(-0.1f, out));
    const float uLow = -0.1f * last;   // t = -0.3 on segment 0 [0, 1]
    expectNear(out, first.evaluate(uLow));
    expectNear(out, deBoor(knotsOf(spline), p, uLow), 1e-3f);
}

TEST(BSpline, ThreePointsReportOnceAndNeverEvaluate)
{
    const Float3 p[3] = { Float3(1, 1, 1), Float3(2, 2, 2), Float3(3, 3, 3) };
    CubicBSpline spline;
    testing::internal::CaptureStderr();
    spline.setPoints(3, p);
    Float3 out(9, 9, 9);
    const bool atU = spline.evaluateAt(0.0f, out);
    const bool atS = spline.evaluateNormalized(0.5f, out);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), report(29, "Not enough points to make a Cubic bspline"));
    EXPECT_FALSE(atU);
    EXPECT_FALSE(atS);
    expectNear(out, Float3(9, 9, 9), 0.0f);
    EXPECT_EQ(knotsOf(spline), (std::vector<float>{ 0, 0, 0, 0, 0 }));
    EXPECT_EQ(spline.pointCount(), 3);
}

TEST(BSpline, TooFewOrNegativeCountsStayInBounds)
{
    for (int count : { 2, 1, 0, -1, -100 }) {
        CubicBSpline spline;
        testing::internal::CaptureStderr();
        spline.setPoints(count, nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), report(29, "Not enough points to make a Cubic bspline"))
            << count;
        const int expected = count < 0 ? 2 : count + 2;
        EXPECT_EQ(spline.knotCount(), expected);
        for (float k : knotsOf(spline))
            EXPECT_EQ(k, 0.0f);
        Float3 out;
        EXPECT_FALSE(spline.evaluateNormalized(0.5f, out));
    }
}

TEST(BSpline, KnotIndexOutOfRangeReportsAndChangesNothing)
{
    const std::vector<Float3> p = wigglyPoints(5);
    CubicBSpline spline;
    spline.setPoints(5, p.data());
    const std::vector<float> before = knotsOf(spline);

    testing::internal::CaptureStderr();
    spline.setKnot(spline.knotCount(), 42.0f);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), report(177, "Incorrect location in bspline knot array"));
    testing::internal::CaptureStderr();
    spline.setKnot(-1, 42.0f);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), report(177, "Incorrect location in bspline knot array"));
    EXPECT_EQ(knotsOf(spline), before);

    testing::internal::CaptureStderr();
    spline.setKnot(spline.knotCount() - 1, 2.5f);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(spline.knots()[spline.knotCount() - 1], 2.5f);
}

TEST(BSpline, PointIndexOutOfRangeReportsAndChangesNothing)
{
    const std::vector<Float3> p = wigglyPoints(4);
    CubicBSpline spline;
    spline.setPoints(4, p.data());

    testing::internal::CaptureStderr();
    spline.setSplinePoint(4, Float3(100, 100, 100));
    spline.setSplinePoint(-1, Float3(100, 100, 100));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              report(170, "Incorrect location in bspline point array")
                  + report(170, "Incorrect location in bspline point array"));
    for (int i = 0; i < 4; ++i)
        expectNear(spline.points()[i], p[static_cast<size_t>(i)], 0.0f);

    testing::internal::CaptureStderr();
    spline.setSplinePoint(3, Float3(100, 100, 100));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    Float3 out;
    ASSERT_TRUE(spline.evaluateNormalized(1.0f, out));
    expectNear(out, Float3(100, 100, 100));

    CubicBSpline empty;
    testing::internal::CaptureStderr();
    empty.setSplinePoint(0, Float3());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), report(170, "Incorrect location in bspline point array"));
}

TEST(BSpline, MatchesDeBoorWithUniformKnots)
{
    for (int n = 4; n <= 12; ++n) {
        const std::vector<Float3> p = wigglyPoints(n);
        CubicBSpline spline;
        spline.setPoints(n, p.data());
        const std::vector<float> knots = knotsOf(spline);
        for (int k = 0; k <= 100; ++k) {
            const float s = static_cast<float>(k) / 100.0f;
            Float3 out;
            ASSERT_TRUE(spline.evaluateNormalized(s, out));
            expectNear(out, deBoor(knots, p, static_cast<double>(s * knots.back())), 2e-4f);
        }
    }
}

TEST(BSpline, MatchesDeBoorWithUnevenKnots)
{
    // Clamped ends (three equal knots), uneven inner spacing written by setKnot.
    const std::vector<float> knots = { 0, 0, 0, 0.5f, 2.0f, 2.2f, 3.7f, 5.0f, 5.0f, 5.0f };
    const int n = static_cast<int>(knots.size()) - 2;
    const std::vector<Float3> p = wigglyPoints(n);
    CubicBSpline spline;
    spline.setPoints(n, p.data());
    testing::internal::CaptureStderr();
    for (int i = 0; i < static_cast<int>(knots.size()); ++i)
        spline.setKnot(i, knots[static_cast<size_t>(i)]);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    Float3 out;
    ASSERT_TRUE(spline.evaluateAt(0.0f, out));
    expectNear(out, p.front());
    ASSERT_TRUE(spline.evaluateAt(5.0f, out));
    expectNear(out, p.back());
    for (int k = 0; k <= 200; ++k) {
        const float u = 5.0f * static_cast<float>(k) / 200.0f;
        ASSERT_TRUE(spline.evaluateAt(u, out)) << u;
        expectNear(out, deBoor(knots, p, u), 2e-4f);
    }
}

TEST(BSpline, UnorderedKnotsOrNanParameterEvaluateNothing)
{
    const std::vector<Float3> p = wigglyPoints(5);
    CubicBSpline spline;
    spline.setPoints(5, p.data());
    Float3 out(5, 5, 5);
    EXPECT_FALSE(spline.evaluateAt(std::nanf(""), out));
    expectNear(out, Float3(5, 5, 5), 0.0f);

    // Knots that never reach the last one: no segment ends at or past u.
    for (int i = 0; i < spline.knotCount() - 1; ++i)
        spline.setKnot(i, -1.0f);
    spline.setKnot(spline.knotCount() - 1, 10.0f);
    EXPECT_FALSE(spline.evaluateAt(5.0f, out));
}

TEST(BSpline, ClearEmptiesEverything)
{
    const std::vector<Float3> p = wigglyPoints(6);
    CubicBSpline spline;
    spline.setPoints(6, p.data());
    spline.clear();
    EXPECT_EQ(spline.knotCount(), 0);
    EXPECT_EQ(spline.pointCount(), 0);
    Float3 out;
    EXPECT_FALSE(spline.evaluateNormalized(0.5f, out));
}
