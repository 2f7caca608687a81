// path/bspline.cpp: knot set-up, knot insertion to Bezier form, evaluation.
#include "path/bspline.h"

#include "base/Report.h"

#include <cstddef>

namespace {

constexpr const char* UNIT_FILE = "bspline";

// The reports carry fixed line numbers: they identify the check, not where the
// statement happens to sit in this file.
constexpr int LINE_NOT_ENOUGH_POINTS = 29;
constexpr int LINE_POINT_INDEX       = 170;
constexpr int LINE_KNOT_INDEX        = 177;

// a*p + b*q, componentwise.
Float3 blend(float a, const Float3& p, float b, const Float3& q)
{
    return Float3(a * p.x + b * q.x, a * p.y + b * q.y, a * p.z + b * q.z);
}

Float3 scaledBy(const Float3& p, float s)
{
    return Float3(p.x * s, p.y * s, p.z * s);
}

} // namespace

void CubicBSpline::setPoints(int32_t count, const Float3* source)
{
    assertCheck(count > 3, "Not enough points to make a Cubic bspline", LINE_NOT_ENOUGH_POINTS, UNIT_FILE);
    if (count < 0)
        count = 0;

    knots_.clear();
    points_.clear();
    knotCount_ = count + 2;
    points_.assign(static_cast<std::size_t>(count), Float3());
    knots_.assign(static_cast<std::size_t>(knotCount_), 0.0f);

    // 0, 0, then 0, 1, ..., knotCount - 5, then the last value twice more.
    for (int32_t i = 0; i <= knotCount_ - 5; ++i)
        knots_[static_cast<std::size_t>(i + 2)] = static_cast<float>(i);
    if (knotCount_ >= 3) {
        const float last = knots_[static_cast<std::size_t>(knotCount_ - 3)];
        knots_[static_cast<std::size_t>(knotCount_ - 2)] = last;
        knots_[static_cast<std::size_t>(knotCount_ - 1)] = last;
    }

    if (source) {
        for (int32_t i = 0; i < count; ++i)
            points_[static_cast<std::size_t>(i)] = source[i];
    }
}

void CubicBSpline::clear()
{
    knots_.clear();
    knots_.shrink_to_fit();
    points_.clear();
    points_.shrink_to_fit();
    knotCount_ = 0;
}

void CubicBSpline::setSplinePoint(int32_t index, const Float3& point)
{
    const bool inside = index >= 0 && index < knotCount_ - 2;
    if (!assertCheck(inside, "Incorrect location in bspline point array", LINE_POINT_INDEX, UNIT_FILE))
        return;
    points_[static_cast<std::size_t>(index)] = point;
}

void CubicBSpline::setKnot(int32_t index, float value)
{
    const bool inside = index >= 0 && index < knotCount_;
    if (!assertCheck(inside, "Incorrect location in bspline knot array", LINE_KNOT_INDEX, UNIT_FILE))
        return;
    knots_[static_cast<std::size_t>(index)] = value;
}

int CubicBSpline::segmentToBezier(int32_t index, CubicBezier& bezier) const
{
    if (index < 0 || index > knotCount_ - 6)
        return BSPLINE_NO_SEGMENT;

    const float* u = &knots_[static_cast<std::size_t>(index)];
    const Float3* d = &points_[static_cast<std::size_t>(index)];
    const float u0 = u[0], u1 = u[1], u2 = u[2], u3 = u[3], u4 = u[4], u5 = u[5];

    if (u2 == u3 || u4 == u1)
        return BSPLINE_EMPTY_SEGMENT;

    // Inner points: the control leg d1-d2 split at u2 and at u3.
    const float span14 = u4 - u1;
    const Float3 b1 = scaledBy(blend(u4 - u2, d[1], u2 - u1, d[2]), 1.0f / span14);
    const Float3 b2 = scaledBy(blend(u4 - u3, d[1], u3 - u1, d[2]), 1.0f / span14);
    bezier.setControlPoint(1, b1);
    bezier.setControlPoint(2, b2);

    if (u3 == u0 || u3 == u1)
        return BSPLINE_EMPTY_SEGMENT;

    // Start point: the curve at u2, between the previous segment's inner point
    // on d0-d1 and b1.
    const Float3 leg01 = blend(u3 - u2, d[0], u2 - u0, d[1]);
    const Float3 b0 = blend((u2 - u1) / (u3 - u1), b1,
                            (u3 - u2) / ((u3 - u1) * (u3 - u0)), leg01);
    bezier.setControlPoint(0, b0);

    if (u5 == u2 || u4 == u2)
        return BSPLINE_EMPTY_SEGMENT;

    // End point: the curve at u3, between b2 and the next segment's inner point.
    const Float3 leg23 = blend(u5 - u3, d[2], u3 - u2, d[3]);
    const Float3 b3 = blend((u4 - u3) / (u4 - u2), b2,
                            (u3 - u2) / ((u4 - u2) * (u5 - u2)), leg23);
    bezier.setControlPoint(3, b3);
    return BSPLINE_SEGMENT_OK;
}

bool CubicBSpline::evaluateAt(float u, Float3& out) const
{
    if (knotCount_ <= 5)
        return false;

    const int32_t lastSegment = knotCount_ - 6;
    int32_t segment = -1;
    if (u > knots_[static_cast<std::size_t>(knotCount_ - 1)]) {
        segment = lastSegment;
    } else {
        // The lowest segment whose end is at or past u. Knots written one by one
        // need not be ordered, so the search stops at the last knot and a u that
        // matches no segment (NaN, unordered knots) evaluates nothing.
        for (int32_t i = 0; i + 3 < knotCount_; ++i) {
            if (u <= knots_[static_cast<std::size_t>(i + 3)]) {
                segment = i;
                break;
            }
        }
    }
    if (segment < 0)
        return false;

    CubicBezier bezier;
    if (segmentToBezier(segment, bezier) != BSPLINE_SEGMENT_OK)
        return false;

    const float start = knots_[static_cast<std::size_t>(segment + 2)];
    const float end = knots_[static_cast<std::size_t>(segment + 3)];
    out = bezier.evaluate((u - start) / (end - start));
    return true;
}

bool CubicBSpline::evaluateNormalized(float s, Float3& out) const
{
    if (knotCount_ <= 5)
        return false;
    const float u = s * knots_[static_cast<std::size_t>(knotCount_ - 1)];
    return evaluateAt(u, out);
}
