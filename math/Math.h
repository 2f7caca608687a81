// math/Math.h: the numeric vocabulary of the whole program.
// Owns Float3, Quat, Matrix3x4, Bounds and CubicBezier with their free
// operations. All storage is 32-bit float; nothing allocates or fails.
#pragma once

#include <cstdint>

// --- Constants -----------------------------------------------------------------

constexpr double DEG_TO_RAD = 0.017453292519943295;   // pi / 180
constexpr float  BOUNDS_RESET = 99999.0f;              // resetBounds value, not FLT_MAX

// --- Types ---------------------------------------------------------------------

struct Float3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    constexpr Float3() = default;
    constexpr Float3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

    float&       operator[](int i)       { return i == 0 ? x : (i == 1 ? y : z); }
    const float& operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
};
static_assert(sizeof(Float3) == 12, "Float3 is stored as three packed floats in files");

struct Quat {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;     // scalar part last

    constexpr Quat() = default;
    constexpr Quat(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}

    float&       operator[](int i)       { return i == 0 ? x : (i == 1 ? y : (i == 2 ? z : w)); }
    const float& operator[](int i) const { return i == 0 ? x : (i == 1 ? y : (i == 2 ? z : w)); }
};

// Rows 0..2 of a 4x4 transform whose fourth row is (0, 0, 0, 1).
// Columns 0-2 rotate (and may scale), column 3 translates: out = R*v + t.
struct Matrix3x4 {
    float m[3][4] = {};
};

struct Bounds {
    Float3 mins;
    Float3 maxs;
};

// One cubic Bezier segment in power-basis form; every setter refreshes coeff.
struct CubicBezier {
    Float3 points[4];   // P0..P3
    Float3 coeff[4];    // c3, c2, c1, c0 of B(t) = ((c3 t + c2) t + c1) t + c0

    void   setPoint(const Float3& p);                                   // constant curve
    void   setLine(const Float3& p, const Float3& q);                   // constant speed
    void   setQuadratic(const Float3& p, const Float3& q, const Float3& r);
    void   setCubic(const Float3& p0, const Float3& p1, const Float3& p2, const Float3& p3);
    void   setControlPoint(int i, const Float3& p);                     // i in 0..3, else ignored
    Float3 evaluate(float t) const;                                     // Horner; t not clamped

private:
    void   updateCoefficients();
};

// --- Vector operations -----------------------------------------------------------
// "out" comes last; it may alias an input only where noted.

float vectorLength(const Float3& v);
float normalizeInPlace(Float3& v);                          // returns old length; zero vector untouched, returns 0
int   nearlyEqual(const Float3& a, const Float3& b);        // 1 when every |a_i - b_i| <= 0.001
float roundNearest(float x);                                // floor(x + 0.5)
void  addScaled(const Float3& a, double s, const Float3& b, Float3& out);   // out = a + s*b (out may alias)
void  cross(const Float3& a, const Float3& b, Float3& out);                 // out must not alias
float dot(const Float3& a, const Float3& b);
void  subtract(const Float3& a, const Float3& b, Float3& out);              // out may alias
void  add(const Float3& a, const Float3& b, Float3& out);                   // out may alias
void  scaled(const Float3& v, float s, Float3& out);                        // out may alias
void  negateInPlace(Float3& v);                                             // 0 becomes -0
void  resetBounds(Float3& mins, Float3& maxs);                              // +-99999
void  growBounds(const Float3& v, Float3& mins, Float3& maxs);

// --- Matrix and quaternion operations --------------------------------------------
// Euler angles apply X first, then Y, then Z: R = Rz * Ry * Rx.

void rotationFromDegrees(const Float3& angles, Matrix3x4& m);          // translation 0
void inverseRotationFromDegrees(const Float3& angles, Matrix3x4& m);   // transpose, translation 0
void composeTransforms(const Matrix3x4& a, const Matrix3x4& b, Matrix3x4& out);  // a*b; out distinct
void rotateByMatrix(const Float3& v, const Matrix3x4& m, Float3& out);           // R*v; out distinct
void rotateByTranspose(const Float3& v, const Matrix3x4& m, Float3& out);        // R^T*v; out distinct
void transformByMatrix(const Float3& v, const Matrix3x4& m, Float3& out);        // R*v + t; out distinct
void quatFromRadians(const Float3& angles, Quat& q);                   // same Rz*Ry*Rx order
void matrixFromQuat(const Quat& q, Matrix3x4& m);                      // column 3 untouched
void quatSlerp(const Quat& p, Quat& q, float t, Quat& out);            // may negate q in place; not renormalised
