#include "MathTestUtil.h"

#include "core/Coords.h"
#include "core/Mat3.h"

#include <cmath>
#include <limits>

namespace GAME {
namespace {

using Test::Near;

const float kPi = 3.14159265f;

// A few rigid frames with rotation and translation.
Coords FrameA()
{
    return Coords::Rotation(Vec3(1, 2, 2).Unit(), 0.7f) * Coords::Translation(Vec3(3, -1, 2));
}
Coords FrameB()
{
    return Coords::LookAt(Vec3(-2, 5, 1), Vec3(4, 0, -3), Vec3(0, 1, 0));
}

TEST(FrameTest, DefaultAndTranslationAreIdentityAxes)
{
    const Coords identity;
    EXPECT_EQ(identity.TransformPoint(Vec3(1, 2, 3)), Vec3(1, 2, 3));
    const Coords t = Coords::Translation(Vec3(5, 6, 7));
    EXPECT_EQ(t.xAxis, Vec3(1, 0, 0));
    EXPECT_EQ(t.TransformPoint(Vec3(1, 2, 3)), Vec3(6, 8, 10));
    EXPECT_EQ(t.TransformVector(Vec3(1, 2, 3)), Vec3(1, 2, 3));
}

TEST(FrameTest, LookAtPutsTheViewOnPlusZ)
{
    const Coords ahead = Coords::LookAt(Vec3(0, 0, 0), Vec3(0, 0, 5), Vec3(0, 1, 0));
    EXPECT_TRUE(Near(ahead, Coords()));

    const Coords back = Coords::LookAt(Vec3(0, 0, 0), Vec3(0, 0, -5), Vec3(0, 1, 0));
    EXPECT_TRUE(Near(back.xAxis, Vec3(-1, 0, 0)));
    EXPECT_TRUE(Near(back.yAxis, Vec3(0, 1, 0)));
    EXPECT_TRUE(Near(back.zAxis, Vec3(0, 0, -1)));

    // A slanted target: Y leans back toward up, the frame stays orthonormal and right-handed.
    const Coords slant = FrameB();
    EXPECT_TRUE(Near(slant.zAxis, (Vec3(4, 0, -3) - Vec3(-2, 5, 1)).Unit()));
    EXPECT_GT(slant.yAxis.y, 0.0f);
    EXPECT_NEAR(Vec3::Dot(slant.xAxis, slant.yAxis), 0.0f, 1e-5f);
    EXPECT_FALSE(slant.IsLeftHanded());
    EXPECT_EQ(slant.origin, Vec3(-2, 5, 1));
}

TEST(FrameTest, LookInDirectionMatchesLookAt)
{
    const Coords a = Coords::LookInDirection(Vec3(1, 1, 1), Vec3(3, -1, 2), Vec3(0, 1, 0));
    const Coords b = Coords::LookAt(Vec3(1, 1, 1), Vec3(4, 0, 3), Vec3(0, 1, 0));
    EXPECT_TRUE(Near(a, b));
}

TEST(FrameTest, RotationIsCounterClockwiseAboutTheAxis)
{
    const Coords r = Coords::Rotation(Vec3(0, 0, 1), kPi / 2);
    EXPECT_TRUE(Near(r.TransformVector(Vec3(1, 0, 0)), Vec3(0, 1, 0)));
    EXPECT_TRUE(Near(Coords::Rotation(Vec3(0, 1, 0), kPi / 2).TransformVector(Vec3(0, 0, 1)), Vec3(1, 0, 0)));
    EXPECT_EQ(r.origin, Vec3(0, 0, 0));
    // The same rotation as the quaternion of that axis and angle.
    const Vec3 axis = Vec3(-1, 2, 0.5f).Unit();
    EXPECT_TRUE(Near(Coords::Rotation(axis, 1.1f),
                     Coords::FromQuaternion(Vec3(), GAME::Test::AxisAngle(axis, 1.1f))));
}

TEST(FrameTest, CompositionAppliesTheRightFrameFirst)
{
    const Coords a = FrameA();
    const Coords b = FrameB();
    for (const Vec3& p : {Vec3(0, 0, 0), Vec3(1, -2, 3), Vec3(-7, 0.5f, 4)}) {
        EXPECT_TRUE(Near((a * b).TransformPoint(p), a.TransformPoint(b.TransformPoint(p)), 1e-4f));
        EXPECT_TRUE(Near((a * b).TransformVector(p), a.TransformVector(b.TransformVector(p)), 1e-4f));
    }
    EXPECT_TRUE(Near((a * b) * a, a * (b * a), 1e-4f));
    EXPECT_FALSE(Near(a * b, b * a, 1e-3f));
}

TEST(FrameTest, InverseUndoesAnOrthonormalFrame)
{
    const Coords a = FrameA() * FrameB();
    EXPECT_TRUE(Near(a * a.Inverse(), Coords(), 1e-5f));
    EXPECT_TRUE(Near(a.Inverse() * a, Coords(), 1e-5f));
    EXPECT_TRUE(Near(a.Inverse().Inverse(), a, 1e-5f));
    const Vec3 p(2, -3, 4);
    EXPECT_TRUE(Near(a.Inverse().TransformPoint(a.TransformPoint(p)), p, 1e-4f));
}

TEST(FrameTest, OrthonormalizeKeepsXDirectionAndOrigin)
{
    Coords c(Vec3(2, 0, 0), Vec3(1, 3, 0), Vec3(0.5f, 0.5f, 4), Vec3(7, 8, 9));
    c.Orthonormalize();
    EXPECT_TRUE(Near(c.xAxis, Vec3(1, 0, 0)));
    EXPECT_TRUE(Near(c.yAxis, Vec3(0, 1, 0)));
    EXPECT_TRUE(Near(c.zAxis, Vec3(0, 0, 1)));
    EXPECT_EQ(c.origin, Vec3(7, 8, 9));

    Coords skew(Vec3(1, 0.2f, 0.1f), Vec3(0.3f, 1, -0.2f), Vec3(0.1f, 0.4f, 1), Vec3());
    const Vec3 givenX = skew.xAxis.Unit();
    skew.Orthonormalize();
    EXPECT_TRUE(Near(skew.xAxis, givenX));
    EXPECT_NEAR(Vec3::Dot(skew.xAxis, skew.yAxis), 0.0f, 1e-5f);
    EXPECT_NEAR(Vec3::Dot(skew.xAxis, skew.zAxis), 0.0f, 1e-5f);
    EXPECT_NEAR(Vec3::Dot(skew.yAxis, skew.zAxis), 0.0f, 1e-5f);
    EXPECT_NEAR(skew.zAxis.Length(), 1.0f, 1e-5f);
}

TEST(FrameTest, Handedness)
{
    EXPECT_FALSE(Coords().IsLeftHanded());
    EXPECT_TRUE(Coords(Vec3(-1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1), Vec3()).IsLeftHanded());
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(Coords(Vec3(nan, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1), Vec3()).IsLeftHanded());
}

TEST(FrameTest, FromMatrixTakesColumnsAndRotateTurnsAboutALocalAxis)
{
    const Mat3 m(1, 2, 3, 4, 5, 6, 7, 8, 9);
    const Coords c = Coords::FromMatrix(Vec3(1, 1, 1), m);
    EXPECT_EQ(c.xAxis, Vec3(1, 4, 7));
    EXPECT_EQ(c.yAxis, Vec3(2, 5, 8));
    EXPECT_EQ(c.zAxis, Vec3(3, 6, 9));
    EXPECT_EQ(Coords::FromMatrix(m, Vec3(1, 1, 1)), c);

    // Turning a frame that faces +X about its own Y axis.
    const Coords facing = Coords::Rotation(Vec3(0, 1, 0), kPi / 2) * Coords::Translation(Vec3(0, 0, 0));
    const Coords placed(facing.xAxis, facing.yAxis, facing.zAxis, Vec3(5, 0, 0));
    const Coords turned = placed.Rotate(Vec3(0, 0, 1), kPi / 2);
    EXPECT_EQ(turned.origin, Vec3(5, 0, 0));
    EXPECT_TRUE(Near(turned.xAxis, placed.yAxis));
    EXPECT_TRUE(Near(turned.zAxis, placed.zAxis));

    float block[12];
    c.WriteAxes3x4(block);
    EXPECT_EQ(block[0], 1.0f);
    EXPECT_EQ(block[1], 2.0f);
    EXPECT_EQ(block[4], 4.0f);
    EXPECT_EQ(block[3], 0.0f);
    EXPECT_EQ(block[11], 0.0f);
}

} // namespace
} // namespace GAME
