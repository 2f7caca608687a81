// tests/math_test.cpp: vectors, rotations, quaternions, Bezier segments.
#include "math/Math.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr float EPS = 1e-5f;

void expectFloat3Near(const Float3& a, const Float3& b, float eps = EPS)
{
    EXPECT_NEAR(a.x, b.x, eps);
    EXPECT_NEAR(a.y, b.y, eps);
    EXPECT_NEAR(a.z, b.z, eps);
}

void expectMatrixNear(const Matrix3x4& a, const Matrix3x4& b, float eps = EPS)
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(a.m[i][j], b.m[i][j], eps) << "row " << i << " col " << j;
}

Float3 rotated(const Matrix3x4& m, const Float3& v)
{
    Float3 out;
    rotateByMatrix(v, m, out);
    return out;
}

} // namespace

TEST(MathVector, NormalizeReturnsLengthAndLeavesZeroAlone)
{
    Float3 zero;
    EXPECT_EQ(normalizeInPlace(zero), 0.0f);
    expectFloat3Near(zero, Float3(0, 0, 0), 0.0f);

    Float3 v(3, 4, 0);
    EXPECT_FLOAT_EQ(normalizeInPlace(v), 5.0f);
    expectFloat3Near(v, Float3(0.6f, 0.8f, 0.0f));
}

TEST(MathVector, NearlyEqualUsesInclusiveThousandth)
{
    EXPECT_EQ(nearlyEqual(Float3(1, 2, 3), Float3(1.0009f, 2, 3)), 1);
    EXPECT_EQ(nearlyEqual(Float3(1, 2, 3), Float3(1, 2, 3.002f)), 0);
    EXPECT_EQ(nearlyEqual(Float3(1, 2, 3), Float3(1, 1.9f, 3)), 0);
}

TEST(MathVector, CrossDotAndNegate)
{
    Float3 out;
    cross(Float3(1, 0, 0), Float3(0, 1, 0), out);
    expectFloat3Near(out, Float3(0, 0, 1), 0.0f);
    cross(Float3(2, 3, 4), Float3(5, 6, 7), out);
    expectFloat3Near(out, Float3(3 * 7 - 4 * 6, 4 * 5 - 2 * 7, 2 * 6 - 3 * 5), 0.0f);
    EXPECT_FLOAT_EQ(dot(Float3(2, 3, 4), Float3(5, 6, 7)), 56.0f);

    Float3 n(0.0f, 1.0f, -2.0f);
    negateInPlace(n);
    EXPECT_TRUE(std::signbit(n.x)) << "zero must become -0";
    EXPECT_EQ(n.y, -1.0f);
    EXPECT_EQ(n.z, 2.0f);

    addScaled(Float3(1, 1, 1), 0.5, Float3(2, 4, 6), out);
    expectFloat3Near(out, Float3(2, 3, 4), 0.0f);
    EXPECT_EQ(roundNearest(2.5f), 3.0f);
    EXPECT_EQ(roundNearest(-2.5f), -2.0f);
}

TEST(MathBounds, ResetIsNinetyNineThousandAndGrowTakesOnePoint)
{
    Float3 mins, maxs;
    resetBounds(mins, maxs);
    EXPECT_EQ(mins.x, 99999.0f);
    EXPECT_EQ(maxs.z, -99999.0f);
    growBounds(Float3(1, -2, 3), mins, maxs);
    expectFloat3Near(mins, Float3(1, -2, 3), 0.0f);
    expectFloat3Near(maxs, Float3(1, -2, 3), 0.0f);
    growBounds(Float3(-1, 5, 3), mins, maxs);
    expectFloat3Near(mins, Float3(-1, -2, 3), 0.0f);
    expectFloat3Near(maxs, Float3(1, 5, 3), 0.0f);
}

TEST(MathRotation, SingleAxesTurnCounterClockwise)
{
    Matrix3x4 m;
    rotationFromDegrees(Float3(0, 0, 90), m);
    expectFloat3Near(rotated(m, Float3(1, 0, 0)), Float3(0, 1, 0));
    Float3 back;
    rotateByTranspose(Float3(0, 1, 0), m, back);
    expectFloat3Near(back, Float3(1, 0, 0));

    rotationFromDegrees(Float3(90, 0, 0), m);
    expectFloat3Near(rotated(m, Float3(0, 1, 0)), Float3(0, 0, 1));
    rotationFromDegrees(Float3(0, 90, 0), m);
    expectFloat3Near(rotated(m, Float3(0, 0, 1)), Float3(1, 0, 0));
}

TEST(MathRotation, AppliesXThenYThenZ)
{
    // x = 90 takes y to z; then y = 90 takes z to x; then z = 90 takes x to y.
    Matrix3x4 m;
    rotationFromDegrees(Float3(90, 90, 90), m);
    expectFloat3Near(rotated(m, Float3(0, 1, 0)), Float3(0, 1, 0));
    // (1,0,0): x leaves it, y = 90 takes x to -z, z leaves -z.
    expectFloat3Near(rotated(m, Float3(1, 0, 0)), Float3(0, 0, -1));

    Matrix3x4 rx, ry, rz, tmp, expected;
    rotationFromDegrees(Float3(30, 0, 0), rx);
    rotationFromDegrees(Float3(0, 40, 0), ry);
    rotationFromDegrees(Float3(0, 0, 50), rz);
    composeTransforms(ry, rx, tmp);
    composeTransforms(rz, tmp, expected);
    rotationFromDegrees(Float3(30, 40, 50), m);
    expectMatrixNear(m, expected);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(m.m[i][3], 0.0f);
}

TEST(MathRotation, InverseIsTranspose)
{
    Matrix3x4 m, inv, product;
    rotationFromDegrees(Float3(12, -70, 33), m);
    inverseRotationFromDegrees(Float3(12, -70, 33), inv);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(inv.m[i][j], m.m[j][i]);
    composeTransforms(inv, m, product);
    Matrix3x4 identity;
    identity.m[0][0] = identity.m[1][1] = identity.m[2][2] = 1.0f;
    expectMatrixNear(product, identity);
}

TEST(MathTransform, ComposeAppliesRightOperandFirstWithTranslation)
{
    Matrix3x4 a, b, ab;
    rotationFromDegrees(Float3(0, 0, 90), a);
    a.m[0][3] = 10.0f;                       // a: rotate, then move x by 10
    b.m[0][0] = b.m[1][1] = b.m[2][2] = 2.0f;
    b.m[1][3] = 1.0f;                        // b: scale 2, then move y by 1
    composeTransforms(a, b, ab);
    Float3 viaB, viaBoth, direct;
    const Float3 p(1, 0, 0);
    transformByMatrix(p, b, viaB);           // (2, 1, 0)
    transformByMatrix(viaB, a, viaBoth);     // rotate -> (-1, 2, 0), move -> (9, 2, 0)
    transformByMatrix(p, ab, direct);
    expectFloat3Near(viaBoth, Float3(9, 2, 0));
    expectFloat3Near(direct, viaBoth);
}

TEST(MathQuat, MatchesEulerMatrixAndLeavesTranslation)
{
    Quat q;
    quatFromRadians(Float3(0, 0, 0), q);
    EXPECT_EQ(q.x, 0.0f);
    EXPECT_EQ(q.w, 1.0f);

    Matrix3x4 m;
    m.m[0][3] = 7.0f;
    m.m[2][3] = -3.0f;
    matrixFromQuat(Quat(0, 0, 0, 1), m);
    EXPECT_EQ(m.m[0][0], 1.0f);
    EXPECT_EQ(m.m[0][1], 0.0f);
    EXPECT_EQ(m.m[0][3], 7.0f);
    EXPECT_EQ(m.m[2][3], -3.0f);

    // Round trip: quaternion from radians gives the same matrix as the Euler path.
    const Float3 degrees(25.0f, -40.0f, 110.0f);
    const Float3 radians(static_cast<float>(degrees.x * DEG_TO_RAD),
                         static_cast<float>(degrees.y * DEG_TO_RAD),
                         static_cast<float>(degrees.z * DEG_TO_RAD));
    Matrix3x4 fromEuler, fromQuat;
    rotationFromDegrees(degrees, fromEuler);
    quatFromRadians(radians, q);
    matrixFromQuat(q, fromQuat);
    expectMatrixNear(fromQuat, fromEuler);
}

TEST(MathQuat, SlerpEndpointsAndNegation)
{
    Quat p, q, out;
    quatFromRadians(Float3(0.2f, 0.1f, -0.3f), p);
    quatFromRadians(Float3(1.0f, -0.5f, 0.7f), q);
    quatSlerp(p, q, 0.0f, out);
    EXPECT_NEAR(out.x, p.x, EPS);
    EXPECT_NEAR(out.w, p.w, EPS);
    quatSlerp(p, q, 1.0f, out);
    EXPECT_NEAR(out.y, q.y, EPS);
    EXPECT_NEAR(out.w, q.w, EPS);

    // Halfway on a 90 degree turn about z is the 45 degree turn.
    Quat a(0, 0, 0, 1), b;
    quatFromRadians(Float3(0, 0, static_cast<float>(M_PI / 2)), b);
    quatSlerp(a, b, 0.5f, out);
    EXPECT_NEAR(out.z, std::sin(M_PI / 8), EPS);
    EXPECT_NEAR(out.w, std::cos(M_PI / 8), EPS);

    // Same quaternion: the nearly-equal branch gives p back.
    Quat same = p;
    quatSlerp(p, same, 0.3f, out);
    EXPECT_NEAR(out.x, p.x, EPS);
    EXPECT_NEAR(out.w, p.w, EPS);

    // q = -p: q is negated in the caller's storage and the result is p for any t.
    Quat minusP(-p.x, -p.y, -p.z, -p.w);
    quatSlerp(p, minusP, 0.7f, out);
    EXPECT_EQ(minusP.x, p.x);
    EXPECT_EQ(minusP.w, p.w);
    EXPECT_NEAR(out.y, p.y, EPS);
    EXPECT_NEAR(out.w, p.w, EPS);
}

TEST(MathBezier, LineQuadraticAndExtrapolation)
{
    CubicBezier bez;
    expectFloat3Near(bez.evaluate(0.5f), Float3(0, 0, 0), 0.0f);

    bez.setLine(Float3(0, 0, 0), Float3(3, 0, 0));
    expectFloat3Near(bez.evaluate(0.5f), Float3(1.5f, 0, 0));
    expectFloat3Near(bez.evaluate(2.0f), Float3(6, 0, 0), 1e-4f);
    expectFloat3Near(bez.evaluate(0.25f), Float3(0.75f, 0, 0));   // constant speed
    EXPECT_FLOAT_EQ(bez.points[1].x, 0.33333334f * 3.0f);

    const Float3 p(1, 2, 3), q(5, -1, 0), r(2, 2, 8);
    bez.setQuadratic(p, q, r);
    expectFloat3Near(bez.evaluate(0.5f),
                     Float3((p.x + 2 * q.x + r.x) / 4, (p.y + 2 * q.y + r.y) / 4, (p.z + 2 * q.z + r.z) / 4));
    expectFloat3Near(bez.evaluate(0.0f), p);
    expectFloat3Near(bez.evaluate(1.0f), r);

    bez.setPoint(Float3(4, 4, 4));
    expectFloat3Near(bez.evaluate(-3.0f), Float3(4, 4, 4));
}

TEST(MathBezier, CubicAndControlPointSetter)
{
    CubicBezier bez;
    bez.setCubic(Float3(0, 0, 0), Float3(0, 1, 0), Float3(1, 1, 0), Float3(1, 0, 0));
    // B(0.5) = (P0 + 3 P1 + 3 P2 + P3) / 8
    expectFloat3Near(bez.evaluate(0.5f), Float3(0.5f, 0.75f, 0));
    bez.setControlPoint(3, Float3(2, 0, 0));
    expectFloat3Near(bez.evaluate(1.0f), Float3(2, 0, 0));
    expectFloat3Near(bez.evaluate(0.5f), Float3(0.625f, 0.75f, 0));
    bez.setControlPoint(4, Float3(100, 100, 100));   // out of range: ignored
    expectFloat3Near(bez.evaluate(1.0f), Float3(2, 0, 0));
}
