// math/Math.cpp: vector, bounds, matrix, quaternion and Bezier arithmetic.
#include "math/Math.h"

#include <cmath>

// --- Vector operations -----------------------------------------------------------

float vectorLength(const Float3& v)
{
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

float normalizeInPlace(Float3& v)
{
    const float length = vectorLength(v);
    if (length != 0.0f) {
        v.x /= length;
        v.y /= length;
        v.z /= length;
    }
    return length;
}

int nearlyEqual(const Float3& a, const Float3& b)
{
    for (int i = 0; i < 3; ++i) {
        if (std::fabs(a[i] - b[i]) > 0.001f)
            return 0;
    }
    return 1;
}

float roundNearest(float x)
{
    return std::floor(x + 0.5f);
}

void addScaled(const Float3& a, double s, const Float3& b, Float3& out)
{
    out.x = static_cast<float>(a.x + s * b.x);
    out.y = static_cast<float>(a.y + s * b.y);
    out.z = static_cast<float>(a.z + s * b.z);
}

void cross(const Float3& a, const Float3& b, Float3& out)
{
    out.x = a.y * b.z - a.z * b.y;
    out.y = a.z * b.x - a.x * b.z;
    out.z = a.x * b.y - a.y * b.x;
}

float dot(const Float3& a, const Float3& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

void subtract(const Float3& a, const Float3& b, Float3& out)
{
    out.x = a.x - b.x;
    out.y = a.y - b.y;
    out.z = a.z - b.z;
}

void add(const Float3& a, const Float3& b, Float3& out)
{
    out.x = a.x + b.x;
    out.y = a.y + b.y;
    out.z = a.z + b.z;
}

void scaled(const Float3& v, float s, Float3& out)
{
    out.x = s * v.x;
    out.y = s * v.y;
    out.z = s * v.z;
}

void negateInPlace(Float3& v)
{
    v.x = -v.x;
    v.y = -v.y;
    v.z = -v.z;
}

void resetBounds(Float3& mins, Float3& maxs)
{
    mins = Float3(BOUNDS_RESET, BOUNDS_RESET, BOUNDS_RESET);
    maxs = Float3(-BOUNDS_RESET, -BOUNDS_RESET, -BOUNDS_RESET);
}

void growBounds(const Float3& v, Float3& mins, Float3& maxs)
{
    for (int i = 0; i < 3; ++i) {
        if (v[i] < mins[i]) mins[i] = v[i];
        if (v[i] > maxs[i]) maxs[i] = v[i];
    }
}

// --- Matrix and quaternion operations --------------------------------------------

namespace {

struct SinCos { float sx, cx, sy, cy, sz, cz; };

// The degree-to-radian product is rounded to float before sin and cos.
SinCos sinCosDegrees(const Float3& angles)
{
    const float ax = static_cast<float>(angles.x * DEG_TO_RAD);
    const float ay = static_cast<float>(angles.y * DEG_TO_RAD);
    const float az = static_cast<float>(angles.z * DEG_TO_RAD);
    return { std::sin(ax), std::cos(ax), std::sin(ay), std::cos(ay), std::sin(az), std::cos(az) };
}

} // namespace

void rotationFromDegrees(const Float3& angles, Matrix3x4& m)
{
    const SinCos s = sinCosDegrees(angles);
    m.m[0][0] = s.cy * s.cz;
    m.m[0][1] = s.sx * s.sy * s.cz - s.cx * s.sz;
    m.m[0][2] = s.cx * s.sy * s.cz + s.sx * s.sz;
    m.m[0][3] = 0.0f;
    m.m[1][0] = s.cy * s.sz;
    m.m[1][1] = s.sx * s.sy * s.sz + s.cx * s.cz;
    m.m[1][2] = s.cx * s.sy * s.sz - s.sx * s.cz;
    m.m[1][3] = 0.0f;
    m.m[2][0] = -s.sy;
    m.m[2][1] = s.sx * s.cy;
    m.m[2][2] = s.cx * s.cy;
    m.m[2][3] = 0.0f;
}

void inverseRotationFromDegrees(const Float3& angles, Matrix3x4& m)
{
    Matrix3x4 r;
    rotationFromDegrees(angles, r);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            m.m[i][j] = r.m[j][i];
        m.m[i][3] = 0.0f;
    }
}

void composeTransforms(const Matrix3x4& a, const Matrix3x4& b, Matrix3x4& out)
{
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            out.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
        out.m[i][3] = a.m[i][0] * b.m[0][3] + a.m[i][1] * b.m[1][3] + a.m[i][2] * b.m[2][3] + a.m[i][3];
    }
}

void rotateByMatrix(const Float3& v, const Matrix3x4& m, Float3& out)
{
    for (int i = 0; i < 3; ++i)
        out[i] = m.m[i][0] * v.x + m.m[i][1] * v.y + m.m[i][2] * v.z;
}

void rotateByTranspose(const Float3& v, const Matrix3x4& m, Float3& out)
{
    for (int i = 0; i < 3; ++i)
        out[i] = m.m[0][i] * v.x + m.m[1][i] * v.y + m.m[2][i] * v.z;
}

void transformByMatrix(const Float3& v, const Matrix3x4& m, Float3& out)
{
    for (int i = 0; i < 3; ++i)
        out[i] = m.m[i][0] * v.x + m.m[i][1] * v.y + m.m[i][2] * v.z + m.m[i][3];
}

void quatFromRadians(const Float3& angles, Quat& q)
{
    const float sx = std::sin(angles.x * 0.5f), cx = std::cos(angles.x * 0.5f);
    const float sy = std::sin(angles.y * 0.5f), cy = std::cos(angles.y * 0.5f);
    const float sz = std::sin(angles.z * 0.5f), cz = std::cos(angles.z * 0.5f);
    q.x = sx * cy * cz - cx * sy * sz;
    q.y = cx * sy * cz + sx * cy * sz;
    q.z = cx * cy * sz - sx * sy * cz;
    q.w = cx * cy * cz + sx * sy * sz;
}

void matrixFromQuat(const Quat& q, Matrix3x4& m)
{
    m.m[0][0] = 1.0f - 2.0f * q.y * q.y - 2.0f * q.z * q.z;
    m.m[0][1] = 2.0f * q.x * q.y - 2.0f * q.w * q.z;
    m.m[0][2] = 2.0f * q.x * q.z + 2.0f * q.w * q.y;
    m.m[1][0] = 2.0f * q.x * q.y + 2.0f * q.w * q.z;
    m.m[1][1] = 1.0f - 2.0f * q.x * q.x - 2.0f * q.z * q.z;
    m.m[1][2] = 2.0f * q.y * q.z - 2.0f * q.w * q.x;
    m.m[2][0] = 2.0f * q.x * q.z - 2.0f * q.w * q.y;
    m.m[2][1] = 2.0f * q.y * q.z + 2.0f * q.w * q.x;
    m.m[2][2] = 1.0f - 2.0f * q.x * q.x - 2.0f * q.y * q.y;
}

void quatSlerp(const Quat& p, Quat& q, float t, Quat& out)
{
    // Take the shorter arc: flip q (in the caller's storage) when -q is nearer p.
    float a = 0.0f, b = 0.0f;
    for (int i = 0; i < 4; ++i) {
        a += (p[i] - q[i]) * (p[i] - q[i]);
        b += (p[i] + q[i]) * (p[i] + q[i]);
    }
    if (a > b) {
        for (int i = 0; i < 4; ++i)
            q[i] = -q[i];
    }

    const float c = p.x * q.x + p.y * q.y + p.z * q.z + p.w * q.w;
    float kp, kq;
    if (1.0f - c > 1e-8f) {
        const float omega = std::acos(c);
        const float s = std::sin(omega);
        kp = std::sin((1.0f - t) * omega) / s;
        kq = std::sin(t * omega) / s;
    } else {
        kp = 1.0f - t;
        kq = t;
    }
    const Quat pc = p;   // p may alias out
    const Quat qc = q;
    for (int i = 0; i < 4; ++i)
        out[i] = kp * pc[i] + kq * qc[i];
}

// --- CubicBezier -----------------------------------------------------------------

void CubicBezier::setPoint(const Float3& p)
{
    points[0] = points[1] = points[2] = points[3] = p;
    updateCoefficients();
}

void CubicBezier::setLine(const Float3& p, const Float3& q)
{
    const float twoThirds = 0.6666667f;
    const float oneThird = 0.33333334f;
    points[0] = p;
    for (int i = 0; i < 3; ++i) {
        points[1][i] = twoThirds * p[i] + oneThird * q[i];
        points[2][i] = oneThird * p[i] + twoThirds * q[i];
    }
    points[3] = q;
    updateCoefficients();
}

void CubicBezier::setQuadratic(const Float3& p, const Float3& q, const Float3& r)
{
    const float twoThirds = 0.6666667f;
    const float oneThird = 0.33333334f;
    points[0] = p;
    for (int i = 0; i < 3; ++i) {
        points[1][i] = oneThird * p[i] + twoThirds * q[i];
        points[2][i] = twoThirds * q[i] + oneThird * r[i];
    }
    points[3] = r;
    updateCoefficients();
}

void CubicBezier::setCubic(const Float3& p0, const Float3& p1, const Float3& p2, const Float3& p3)
{
    points[0] = p0;
    points[1] = p1;
    points[2] = p2;
    points[3] = p3;
    updateCoefficients();
}

void CubicBezier::setControlPoint(int i, const Float3& p)
{
    if (i < 0 || i > 3)
        return;
    points[i] = p;
    updateCoefficients();
}

Float3 CubicBezier::evaluate(float t) const
{
    Float3 r;
    for (int i = 0; i < 3; ++i)
        r[i] = ((coeff[0][i] * t + coeff[1][i]) * t + coeff[2][i]) * t + coeff[3][i];
    return r;
}

void CubicBezier::updateCoefficients()
{
    for (int i = 0; i < 3; ++i) {
        const float p0 = points[0][i], p1 = points[1][i], p2 = points[2][i], p3 = points[3][i];
        coeff[3][i] = p0;                                        // c0
        coeff[2][i] = 3.0f * p1 - 3.0f * p0;                     // c1
        coeff[1][i] = 3.0f * p2 + (3.0f * p0 - 2.0f * (3.0f * p1)); // c2
        coeff[0][i] = 3.0f * p1 - p0 - 3.0f * p2 + p3;           // c3
    }
}
