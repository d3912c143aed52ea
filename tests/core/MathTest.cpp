#include "MathTestUtil.h"

#include "core/Color.h"
#include "core/IntVec3.h"
#include "core/Mat3.h"
#include "core/Mat4.h"
#include "core/MathUtil.h"
#include "core/Quat.h"
#include "core/Rect.h"
#include "core/Vec4.h"

#include <climits>
#include <cmath>
#include <limits>
#include <set>

namespace GAME {
namespace {

using Test::AxisAngle;
using Test::Near;
using Test::SameRotation;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kPi = 3.14159265f;

TEST(MathScalarTest, InfinityIsPositiveInfinity)
{
    EXPECT_TRUE(std::isinf(gInfinity));
    EXPECT_GT(gInfinity, std::numeric_limits<float>::max());
    EXPECT_FALSE(IsFinite(gInfinity));
    EXPECT_FALSE(IsFinite(kNaN));
    EXPECT_TRUE(IsFinite(std::numeric_limits<float>::max()));
}

TEST(MathScalarTest, MinMaxPreferSecondArgumentUnlessStrictlyOrdered)
{
    EXPECT_EQ(Min(1.0f, 2.0f), 1.0f);
    EXPECT_EQ(Max(1.0f, 2.0f), 2.0f);
    EXPECT_EQ(Min(kNaN, 3.0f), 3.0f);
    EXPECT_TRUE(std::isnan(Min(3.0f, kNaN)));
    EXPECT_EQ(Clamp(-5, 0, 10), 0);
    EXPECT_EQ(Clamp(15, 0, 10), 10);
    EXPECT_EQ(Clamp(INT_MIN, -1, 1), -1);
    EXPECT_NEAR(RadiansToDegrees(DegreesToRadians(90.0f)), 90.0f, 1e-4f);
    EXPECT_NEAR(Tan(DegreesToRadians(45.0f)), 1.0, 1e-6);
}

TEST(MathScalarTest, WrapValueWrapsIntoHalfOpenRange)
{
    EXPECT_FLOAT_EQ(WrapValue(-3.0f, 0.0f, 10.0f), 7.0f);
    EXPECT_FLOAT_EQ(WrapValue(10.0f, 0.0f, 10.0f), 0.0f);
    EXPECT_FLOAT_EQ(WrapValue(25.0f, 0.0f, 10.0f), 5.0f);
    EXPECT_FLOAT_EQ(WrapValue(-10.0f, 0.0f, 10.0f), 0.0f);
    EXPECT_FLOAT_EQ(WrapValue(4.0f, 0.0f, 10.0f), 4.0f);
    EXPECT_FLOAT_EQ(WrapValue(0.0f, 0.0f, 10.0f), 0.0f);
    EXPECT_FLOAT_EQ(WrapValue(-17.0f, -1.0f, 1.0f), -1.0f);
    EXPECT_FLOAT_EQ(WrapValue(2.5f, -1.0f, 1.0f), 0.5f);
    for (float v = -100.0f; v < 100.0f; v += 0.37f) {
        const float w = WrapValue(v, -2.0f, 3.0f);
        EXPECT_GE(w, -2.0f) << v;
        EXPECT_LT(w, 3.0f) << v;
        EXPECT_NEAR(std::remainder(w - v, 5.0f), 0.0f, 1e-3f) << v;
    }
}

TEST(MathScalarTest, PowersOfTwo)
{
    EXPECT_EQ(NextPowerOfTwo(0), 0u);
    EXPECT_EQ(NextPowerOfTwo(1), 1u);
    EXPECT_EQ(NextPowerOfTwo(3), 4u);
    EXPECT_EQ(NextPowerOfTwo(5), 8u);
    EXPECT_EQ(NextPowerOfTwo(64), 64u);
    EXPECT_EQ(NextPowerOfTwo(65), 128u);
    EXPECT_EQ(NextPowerOfTwo(0x80000000u), 0x80000000u);
    EXPECT_EQ(NextPowerOfTwo(0x80000001u), 0u);
    EXPECT_EQ(NextPowerOfTwo(0xFFFFFFFFu), 0u);

    EXPECT_TRUE(IsPowerOfTwo(0));
    EXPECT_TRUE(IsPowerOfTwo(1));
    EXPECT_TRUE(IsPowerOfTwo(0x80000000u));
    EXPECT_FALSE(IsPowerOfTwo(6));
    EXPECT_FALSE(IsPowerOfTwo(0xFFFFFFFFu));
}

TEST(MathScalarTest, HashIntKnownValuesAndNoCollisions)
{
    EXPECT_EQ(HashInt(0), 0x4636B9C9u);
    EXPECT_EQ(HashInt(1), 0x62BAF5A0u);
    EXPECT_EQ(HashInt(0xDEADBEEFu), 0xCD42A50Du);
    std::set<uint32_t> seen;
    for (uint32_t k = 0; k < 20000; ++k)
        seen.insert(HashInt(k));
    EXPECT_EQ(seen.size(), 20000u);
}

TEST(MathScalarTest, BitFlagSetsAndClearsOnlyItsMask)
{
    uint32_t word = 0x100;
    BitFlag flag(&word, 0x0Cu);
    flag.Set(true);
    EXPECT_EQ(word, 0x10Cu);
    EXPECT_TRUE(flag.IsSet());
    flag.Set(false);
    EXPECT_EQ(word, 0x100u);
    EXPECT_FALSE(flag.IsSet());
}

TEST(MathVectorTest, LengthUnitAndDegenerateZero)
{
    EXPECT_EQ(Vec3(0, 0, 0).Length(), 0.0f);
    EXPECT_FLOAT_EQ(Vec3(3, 4, 12).Length(), 13.0f);
    EXPECT_FLOAT_EQ(LengthSquared(Vec3(1, 2, 2)), 9.0f);
    EXPECT_TRUE(Near(Vec3(0, 3, 4).Unit(), Vec3(0, 0.6f, 0.8f)));
    EXPECT_FALSE(IsFiniteVec3(Vec3(0, 0, 0).Unit()));
    EXPECT_FALSE(IsFiniteVec3(Vec3(1, 0, 0) / 0.0f));
    EXPECT_FALSE(IsFinite(Vec2(0, 0).Unit().x));
    EXPECT_TRUE(Near(Vec2(3, 4).Unit(), Vec2(0.6f, 0.8f)));
    EXPECT_TRUE(Near(Vec3(2, 4, 6) / 2.0f, Vec3(1, 2, 3)));
    EXPECT_TRUE(Near(Vec3::Lerp(Vec3(0, 0, 0), Vec3(10, 20, 30), 0.25f), Vec3(2.5f, 5, 7.5f)));
    EXPECT_TRUE(Near(Vec3(1, 2, 3).ProjectOnto(Vec3(0, 1, 0)), Vec3(0, 2, 0)));
    EXPECT_EQ(AbsVec3(Vec3(-1, 2, -3)), Vec3(1, 2, 3));
    EXPECT_NE(Vec3(kNaN, 0, 0), Vec3(kNaN, 0, 0));
}

TEST(MathVectorTest, PerpendicularAndMajorAxis)
{
    EXPECT_EQ(Vec3(0, 1, 0).GetPerpendicular(), Vec3(0, 0, -1));
    EXPECT_EQ(Vec3(1, 0, 0).GetPerpendicular(), Vec3(0, 0, 1));
    EXPECT_EQ(Vec3(0, -1, 0).GetPerpendicular(), Vec3(0, 0, 1));
    for (const Vec3& v : {Vec3(1, 2, 3).Unit(), Vec3(0.001f, 1, 0).Unit(), Vec3(-3, 0.5f, 0.1f).Unit()}) {
        const Vec3 p = v.GetPerpendicular();
        EXPECT_NEAR(p.Length(), 1.0f, 1e-5f);
        EXPECT_NEAR(Vec3::Dot(p, v), 0.0f, 1e-5f);
    }
    EXPECT_EQ(Vec3(1, -1, 1).GetMajorAxis(), 0);
    EXPECT_EQ(Vec3(0, 2, -2).GetMajorAxis(), 1);
    EXPECT_EQ(Vec3(0, 1, -2).GetMajorAxis(), 2);
    EXPECT_EQ(Vec3(0, 0, 0).GetMajorAxis(), 0);
}

TEST(MathVectorTest, MinMaxPerComponent)
{
    EXPECT_EQ(Vec3::Min(Vec3(1, 5, -2), Vec3(2, 3, -2)), Vec3(1, 3, -2));
    EXPECT_EQ(Vec3::Max(Vec3(1, 5, -2), Vec3(2, 3, -1)), Vec3(2, 5, -1));
    EXPECT_EQ(Min(Vec3(kNaN, 0, 0), Vec3(7, 0, 0)).x, 7.0f);
}

TEST(MathVectorTest, ParseReadsTheBracketedFormInTheCLocale)
{
    Vec3 v(9, 9, 9);
    EXPECT_EQ(v.Parse("( 1 , 2.5 , -3 )"), 3);
    EXPECT_EQ(v, Vec3(1, 2.5f, -3));
    EXPECT_EQ(v.Parse("(4,5,6)"), 3);
    EXPECT_EQ(v, Vec3(4, 5, 6));
    EXPECT_EQ(v.Parse("\t(  +1e2 ,\n-0.5, 0x10 )"), 3);
    EXPECT_EQ(v, Vec3(100, -0.5f, 16));

    v = Vec3(9, 9, 9);
    EXPECT_EQ(v.Parse("(7, oops, 8)"), 1);
    EXPECT_EQ(v, Vec3(7, 9, 9));
    EXPECT_EQ(v.Parse("1, 2, 3"), 0);
    EXPECT_EQ(v.Parse(""), 0);
    EXPECT_EQ(v.Parse(nullptr), 0);
    EXPECT_EQ(v.Parse("(1 2 3)"), 1);
    EXPECT_EQ(v.Parse("(+-1, 2, 3)"), 0);
    EXPECT_EQ(v, Vec3(1, 9, 9));

    EXPECT_EQ(v.Parse("(1e40, -1e40, 1e-50)"), 3);
    EXPECT_EQ(v.x, gInfinity);
    EXPECT_EQ(v.y, -gInfinity);
    EXPECT_EQ(v.z, 0.0f);
    EXPECT_EQ(v.Parse("(inf, nan, 2"), 3);
    EXPECT_EQ(v.x, gInfinity);
    EXPECT_TRUE(std::isnan(v.y));
}

TEST(MathVectorTest, IntVec3DifferenceWraps)
{
    EXPECT_EQ(IntVec3(5, -2, 7) - IntVec3(2, 3, 7), IntVec3(3, -5, 0));
    EXPECT_EQ(IntVec3(INT_MIN, INT_MAX, 0) - IntVec3(1, -1, 0), IntVec3(INT_MAX, INT_MIN, 0));
    EXPECT_EQ(-IntVec3(INT_MIN, 1, 0), IntVec3(INT_MIN, -1, 0));
}

TEST(MathMatrixTest, Mat3InverseFallsBackToIdentityForNearSingular)
{
    const Mat3 nearlySingular(0.00005f, 0, 0, 0, 1, 0, 0, 0, 1);
    EXPECT_NEAR(nearlySingular.Determinant(), 0.00005f, 1e-9f);
    EXPECT_EQ(nearlySingular.Inverse(), Mat3::Identity());

    const Mat3 m(2, 1, 0, 0, 3, 1, 1, 0, 4);
    const Mat3 product = m * m.Inverse();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(product.Get(r, c), r == c ? 1.0f : 0.0f, 1e-5f);
    EXPECT_FLOAT_EQ(m.Determinant(), 25.0f);
}

TEST(MathMatrixTest, Mat3FromQuaternionHasTheFrameAxesAsColumns)
{
    const Quat q = AxisAngle(Vec3(1, 2, -1).Unit(), 0.8f);
    const Mat3 m = Mat3::FromQuaternion(q);
    const Coords c = Coords::FromQuaternion(Vec3(), q);
    EXPECT_TRUE(Near(Vec3(m.Get(0, 0), m.Get(1, 0), m.Get(2, 0)), c.xAxis));
    EXPECT_TRUE(Near(Vec3(m.Get(0, 2), m.Get(1, 2), m.Get(2, 2)), c.zAxis));
    EXPECT_TRUE(Near(Coords::FromMatrix(Vec3(1, 2, 3), m), Coords::FromQuaternion(Vec3(1, 2, 3), q)));
    // Column-vector convention: m * v rotates v like the frame does.
    EXPECT_TRUE(Near(m * Vec3(0.3f, -1, 2), c.TransformVector(Vec3(0.3f, -1, 2))));
    EXPECT_EQ(Mat3::FromQuaternion(Quat(0, 0, 0, 0)), Mat3::Identity());
}

TEST(MathMatrixTest, Mat4InverseDeterminantAndTransforms)
{
    Mat4 m;
    const float values[16] = {2, 0, 1, 3, 1, 1, 0, -1, 0, 2, 3, 1, 0.5f, 0, 0, 2};
    for (int i = 0; i < 16; ++i)
        m.m[i] = values[i];
    const Mat4 product = MultiplyMat4(m, m.Inverse());
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(product.Get(r, c), r == c ? 1.0f : 0.0f, 1e-5f) << r << "," << c;
    EXPECT_NEAR(m.Determinant() * m.Inverse().Determinant(), 1.0f, 1e-5f);
    EXPECT_EQ(m.Transpose().Transpose(), m);
    EXPECT_EQ(m.Transpose().Get(0, 3), m.Get(3, 0));
    EXPECT_EQ(m.GetMinor(1, 2), Mat3(2, 0, 3, 0, 2, 1, 0.5f, 0, 2));

    // Perspective divide: w = z.
    Mat4 projection;
    projection.At(3, 2) = 1.0f;
    projection.At(3, 3) = 0.0f;
    EXPECT_TRUE(Near(projection.TransformPoint(Vec3(2, 4, 2)), Vec3(1, 2, 1)));
    EXPECT_EQ(projection * Vec4(2, 4, 2, 1), Vec4(2, 4, 2, 2));
}

TEST(MathMatrixTest, Mat4FromCoordsComposesLikeTheFrames)
{
    const Coords a = Coords::Rotation(Vec3(0, 1, 0), 0.7f) * Coords::Translation(Vec3(1, 2, 3));
    const Coords b = Coords::LookInDirection(Vec3(-4, 0, 1), Vec3(1, 1, 0), Vec3(0, 1, 0));
    const Mat4 ma(a), mb(b), mab(a * b);
    const Mat4 product = ma * mb;
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(product.m[i], mab.m[i], 1e-5f);
    EXPECT_EQ(ma.Get(0, 3), a.origin.x);
    EXPECT_EQ(ma.Get(1, 0), a.xAxis.y);
    EXPECT_TRUE(Near(ma.TransformPoint(Vec3(5, -1, 2)), a.TransformPoint(Vec3(5, -1, 2))));
    EXPECT_TRUE(Near(ma.TransformVector(Vec3(5, -1, 2)), a.TransformVector(Vec3(5, -1, 2))));
    const Mat4 inverse = ma.Inverse();
    const Mat4 expected(a.Inverse());
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(inverse.m[i], expected.m[i], 1e-5f);
}

TEST(MathMatrixTest, WriteTransposed3x4PutsRowsIntoColumns)
{
    const float rows[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    float out[12];
    WriteTransposed3x4(rows, out);
    const float expected[12] = {1, 4, 7, 0, 2, 5, 8, 0, 3, 6, 9, 0};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(out[i], expected[i]) << i;
}

TEST(MathMatrixTest, SquareToQuadAndQuadToRect)
{
    const Vec2 square[4] = {Vec2(0, 0), Vec2(1, 0), Vec2(1, 1), Vec2(0, 1)};
    EXPECT_EQ(SquareToQuadTransform(square), Mat3::Identity());

    const Vec2 quad[4] = {Vec2(1, 1), Vec2(5, 2), Vec2(6, 7), Vec2(0, 4)};
    const Mat3 toQuad = SquareToQuadTransform(quad);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(Near(toQuad.TransformPoint2D(square[i]), quad[i], 1e-4f)) << i;

    const Mat3 toRect = QuadToRectTransform(10, 20, 30, 60, quad);
    const Vec2 rect[4] = {Vec2(10, 20), Vec2(30, 20), Vec2(30, 60), Vec2(10, 60)};
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(Near(toRect.TransformPoint2D(quad[i]), rect[i], 1e-3f)) << i;
}

// Quaternions chosen so that FromMatrix takes each of its four branches.
TEST(MathQuatTest, FrameRoundTripOnAllFourBranches)
{
    auto unit = [](Quat q) {
        q.Normalize();
        return q;
    };
    // |w| <= 0.005 fails the trace test; the largest of x, y, z then picks the branch.
    const Quat cases[] = {
        AxisAngle(Vec3(1, 2, 3).Unit(), 0.9f),   // trace
        AxisAngle(Vec3(0, -1, 0), 0.01f),        // trace, near identity
        Quat(1, 0, 0, 0),                        // half turn about X: x branch
        unit(Quat(0.95f, 0.3f, -0.1f, 0.004f)),  // x branch
        Quat(0, 1, 0, 0),                        // y branch
        unit(Quat(0.3f, 0.95f, 0.1f, 0.004f)),   // y branch
        Quat(0, 0, 1, 0),                        // z branch
        unit(Quat(0.1f, -0.3f, 0.95f, -0.004f)), // z branch
    };
    for (const Quat& q : cases) {
        const Coords c = Coords::FromQuaternion(Vec3(1, 2, 3), q);
        EXPECT_TRUE(SameRotation(Quat::FromMatrix(c), q, 1e-4f));
    }
}

TEST(MathQuatTest, FromMatrixTieBetweenXAndYStaysFinite)
{
    // Half turn about (1, 1, 0): m0 == m4 > m8 and the trace test fails.
    const Quat q = AxisAngle(Vec3(1, 1, 0).Unit(), kPi);
    const Coords c = Coords::FromQuaternion(Vec3(), Quat(q.x, q.y, 0, 0));
    EXPECT_EQ(c.xAxis.x, c.yAxis.y);
    const Quat back = Quat::FromMatrix(c);
    EXPECT_TRUE(IsFinite(back.x) && IsFinite(back.y) && IsFinite(back.z) && IsFinite(back.w));
    EXPECT_TRUE(SameRotation(back, Quat(q.x, q.y, 0, 0), 1e-4f));
}

TEST(MathQuatTest, NormalizeAndNlerpOnTheShortArc)
{
    Quat q(0, 3, 0, 4);
    q.Normalize();
    EXPECT_FLOAT_EQ(q.y, 0.6f);
    EXPECT_FLOAT_EQ(q.w, 0.8f);

    const Quat a = AxisAngle(Vec3(0, 1, 0), 0.2f);
    const Quat b = AxisAngle(Vec3(0, 1, 0), 1.0f);
    EXPECT_TRUE(SameRotation(Quat::Nlerp(a, b, 0.0f), a));
    EXPECT_TRUE(SameRotation(Quat::Nlerp(a, b, 1.0f), b));
    const Quat mid = Quat::Nlerp(a, b, 0.5f);
    EXPECT_TRUE(SameRotation(mid, AxisAngle(Vec3(0, 1, 0), 0.6f)));
    // b given as -b: the blend still takes the short arc.
    EXPECT_TRUE(SameRotation(Quat::Nlerp(a, -b, 0.5f), mid));
}

TEST(MathColorTest, PackARGBRoundsAndHoldsChannelsInRange)
{
    EXPECT_EQ(Color(1, 0.5f, 0, 1).PackARGB(), 0xFFFF8000u);
    EXPECT_EQ(Color(0, 0, 1, 0.2f).PackARGB(), 0x330000FFu);
    EXPECT_EQ(Color(2, -1, kNaN, 1.5f).PackARGB(), 0xFFFF0000u);
    EXPECT_EQ(Color::Lerp(Color(0, 0, 0, 0), Color(1, 1, 1, 1), 0.25f), Color(0.25f, 0.25f, 0.25f, 0.25f));
    EXPECT_EQ(Color(1, 0.5f, 0.25f, 1) * Color(0.5f, 0.5f, 1, 0), Color(0.5f, 0.25f, 0.25f, 0));
}

TEST(MathColorTest, RectContainsLeftTopButNotRightBottom)
{
    const Rect r(10, 20, 30, 40);
    EXPECT_TRUE(r.Contains(Vec2(10, 20)));
    EXPECT_TRUE(r.Contains(Vec2(39.9f, 59.9f)));
    EXPECT_FALSE(r.Contains(Vec2(40, 30)));
    EXPECT_FALSE(r.Contains(Vec2(20, 60)));
}

} // namespace
} // namespace GAME
