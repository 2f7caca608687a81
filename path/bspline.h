// path/bspline.h: the cubic B-spline behind every camera path. Owns its control
// points and knots; evaluates one segment at a time by converting it to a
// CubicBezier. Misuse is reported through assertCheck with the file "bspline"
// and never stops the program. No GL, no files.
//
// Knot layout: knotCount = control points + 2. Segment i (0 <= i <= knotCount - 6)
// uses knots[i .. i+5] (u0..u5) and points[i .. i+3] (d0..d3) and spans [u2, u3].
// The ends are clamped by a knot multiplicity of 3, so the curve starts at the
// first control point and ends at the last.
#pragma once

#include "math/Math.h"

#include <cstdint>
#include <vector>

// segmentToBezier results.
constexpr int BSPLINE_NO_SEGMENT    = 0;   // index past the last segment; bezier untouched
constexpr int BSPLINE_SEGMENT_OK    = 1;   // all four Bezier points written
constexpr int BSPLINE_EMPTY_SEGMENT = 2;   // degenerate knots; some points may be written

class CubicBSpline {
public:
    CubicBSpline() = default;   // no points, no knots, knotCount 0

    // Replaces the curve with count points copied from `source` (null: zeroed
    // points) and uniform knots 0, 0, 0, 1, ..., n-3, n-3, n-3. Reports fewer
    // than four points (line 29) but still builds the (all-zero) knots.
    // A negative count is taken as 0.
    void setPoints(int32_t count, const Float3* source);

    // Frees both arrays; knotCount 0.
    void clear();

    // Overwrite one control point / knot; an index out of range is reported
    // (lines 170 / 177) and nothing is written.
    void setSplinePoint(int32_t index, const Float3& point);
    void setKnot(int32_t index, float value);

    // Writes segment `index` as a Bezier; returns a BSPLINE_* result.
    int segmentToBezier(int32_t index, CubicBezier& bezier) const;

    // Point at absolute parameter u; false (out untouched) with fewer than four
    // points or when the chosen segment is degenerate. u outside the knot range
    // extrapolates the first or last segment.
    bool evaluateAt(float u, Float3& out) const;

    // Point at s * (last knot): s = 0 is the start, s = 1 the end.
    bool evaluateNormalized(float s, Float3& out) const;

    int32_t       knotCount() const { return knotCount_; }
    int32_t       pointCount() const { return knotCount_ > 2 ? knotCount_ - 2 : 0; }
    const float*  knots() const { return knots_.data(); }     // knotCount() entries
    const Float3* points() const { return points_.data(); }   // pointCount() entries

private:
    std::vector<float>  knots_;
    std::vector<Float3> points_;
    int32_t             knotCount_ = 0;   // always points + 2 once points are set
};
