#include "SceneFixtures.h"

#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "scene/SkeletalPose.h"

#include <limits>
#include <string>
#include <vector>

namespace GAME::SceneTest {
namespace {

using Parts = SkeletalPose::AffineParts;

Parts MakeParts(const Vec3& t, const Quat& q, const Vec3& k = Vec3(1, 1, 1), const Quat& u = Quat())
{
    Parts p;
    p.t = t;
    p.q = q;
    p.k = k;
    p.u = u;
    return p;
}

void ExpectQuatNear(const Quat& a, const Quat& b, float tolerance = 1e-5f)
{
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
    EXPECT_NEAR(a.w, b.w, tolerance);
}

TEST(SkeletalPoseTest, StoresLooksUpAndIgnoresTheEmptyName)
{
    SkeletalPose pose;
    const Name arm = Name::Create("Arm");
    EXPECT_TRUE(pose.IsEmpty());
    EXPECT_FALSE(pose.ContainsBone(arm));
    EXPECT_EQ(pose.GetBone(arm).q, Quat());
    EXPECT_EQ(pose.GetBoneCoords(arm), Coords());

    pose.SetBone(Name::noName, MakeParts(Vec3(1, 2, 3), Quat()));
    EXPECT_TRUE(pose.IsEmpty());
    pose.SetBone(arm, MakeParts(Vec3(1, 2, 3), Quat()));
    pose.SetBone(arm, MakeParts(Vec3(4, 5, 6), Quat()));
    EXPECT_EQ(pose.GetNumBones(), 1);
    EXPECT_EQ(pose.GetBone(arm).t, Vec3(4, 5, 6));

    // Assigning a pose without bones leaves no bone findable.
    pose = SkeletalPose();
    EXPECT_TRUE(pose.IsEmpty());
    EXPECT_FALSE(pose.ContainsBone(arm));

    // 251 bones fit; the next new bone is dropped, existing ones still change.
    SkeletalPose full;
    for (int i = 0; i < 251; ++i)
        full.SetBone(Name::Create(std::string("b").append(std::to_string(i)).c_str()),
                     MakeParts(Vec3(float(i), 0, 0), Quat()));
    full.SetBone(Name::Create("b251"), Parts());
    EXPECT_FALSE(full.ContainsBone(Name::Create("b251")));
    full.SetBone(Name::Create("b7"), MakeParts(Vec3(-1, 0, 0), Quat()));
    EXPECT_EQ(full.GetBone(Name::Create("b7")).t, Vec3(-1, 0, 0));
    EXPECT_EQ(full.GetNumBones(), 251);
}

TEST(SkeletalPoseTest, SlerpTakesTheShorterArcAndBlendsHitTheirEnds)
{
    const Quat q = AxisAngle(Vec3(0, 1, 0), 0.8f);
    // q and -q are the same rotation: the result is q, by the linear branch.
    ExpectQuatNear(SkeletalPose::Slerp(q, -q, 0.5f), q);
    const Quat a = AxisAngle(Vec3(0, 0, 1), 0.0f), b = AxisAngle(Vec3(0, 0, 1), 1.2f);
    ExpectQuatNear(SkeletalPose::Slerp(a, b, 0.5f), AxisAngle(Vec3(0, 0, 1), 0.6f));
    ExpectQuatNear(SkeletalPose::Slerp(a, b, 0.0f), a);
    ExpectQuatNear(SkeletalPose::Slerp(a, b, 1.0f), b);

    const Name both = Name::Create("both"), mine = Name::Create("mine"), theirs = Name::Create("theirs");
    SkeletalPose base, other;
    base.SetBone(both, MakeParts(Vec3(0, 0, 0), a, Vec3(1, 1, 1)));
    base.SetBone(mine, MakeParts(Vec3(7, 7, 7), a));
    other.SetBone(both, MakeParts(Vec3(2, 4, 6), b, Vec3(3, 3, 3)));
    other.SetBone(theirs, MakeParts(Vec3(10, 0, 0), b));

    SkeletalPose zero = base;
    zero.Blend(other, 0.0f);
    EXPECT_EQ(zero.GetBone(both).t, Vec3(0, 0, 0));
    ExpectQuatNear(zero.GetBone(both).q, a);
    SkeletalPose one = base;
    one.Blend(other, 1.0f);
    EXPECT_EQ(one.GetBone(both).t, Vec3(2, 4, 6));
    ExpectQuatNear(one.GetBone(both).q, b);
    EXPECT_EQ(one.GetBone(both).k, Vec3(3, 3, 3));
    EXPECT_EQ(one.GetBone(mine).t, Vec3(7, 7, 7)); // only this pose has it
    SkeletalPose half = base;
    half.Blend(other, 0.5f);
    EXPECT_EQ(half.GetBone(theirs).t, Vec3(5, 0, 0)); // from identity parts
    EXPECT_EQ(half.GetBone(both).k, Vec3(2, 2, 2));

    SkeletalPose added;
    added.Add(other);
    EXPECT_EQ(added.GetBone(theirs).t, Vec3(10, 0, 0));
    EXPECT_EQ(added.GetNumBones(), 2);
}

TEST(SkeletalPoseTest, FramesDecomposeAndComposeBackMirrorsIncluded)
{
    SkeletalPose pose;
    const Name bone = Name::Create("bone");
    const Coords frame =
        Coords::Rotation(Vec3(1, 2, 3).Unit(), 0.7f) * Coords::Translation(Vec3(1, -2, 0.5f));
    pose.SetBoneCoords(bone, frame);
    ExpectNear(pose.GetBoneCoords(bone), frame);
    EXPECT_EQ(pose.GetBone(bone).k, Vec3(1, 1, 1));

    Coords mirrored = frame;
    mirrored.yAxis = -mirrored.yAxis;
    ASSERT_TRUE(mirrored.IsLeftHanded());
    pose.SetBoneCoords(bone, mirrored);
    EXPECT_EQ(pose.GetBone(bone).k, Vec3(1, -1, 1));
    ExpectNear(pose.GetBoneCoords(bone), mirrored);

    // Scale in a stretch frame: R(q) diag(k) R(u).
    const Quat u = AxisAngle(Vec3(0, 0, 1), 1.5707964f);
    pose.SetBone(bone, MakeParts(Vec3(), Quat(), Vec3(2, 1, 1), u));
    const Coords stretched = pose.GetBoneCoords(bone);
    // diag(k) doubles the first row of R(u), which turns x onto y.
    ExpectNear(stretched.xAxis, Vec3(0, 1, 0));
    ExpectNear(stretched.yAxis, Vec3(-2, 0, 0));

    // A bone scaled to nothing (an animation hiding it) has no axes to take a rotation from: it
    // comes back without one, not as not-a-number.
    pose.SetBone(bone, MakeParts(Vec3(4, 0, 0), AxisAngle(Vec3(0, 1, 0), 0.5f), Vec3(0, 0, 0)));
    Coords hidden = pose.GetBoneCoords(bone);
    hidden.origin = Vec3();
    pose.SetBoneCoords(bone, hidden);
    ExpectQuatNear(pose.GetBone(bone).q, Quat());
}

TEST(SkeletalPoseTest, StoredFormsRoundTripWithPackingClamped)
{
    const Name a = Name::Create("a"), b = Name::Create("b");
    SkeletalPose pose;
    const Quat q = AxisAngle(Vec3(0, 1, 0), 1.0f);
    pose.SetBone(a, MakeParts(Vec3(1.25f, -2, 3), q, Vec3(2, 3, 4), AxisAngle(Vec3(1, 0, 0), 0.5f)));
    // Components beyond [-1, 1] (and not a number) are clamped, never wrapped.
    pose.SetBone(b, MakeParts(Vec3(), Quat(1.0f, -1.0f, 3.0f, NAN)));

    for (bool full : {false, true}) {
        BinaryWriter writer(64);
        pose.WriteData(writer, full);
        EXPECT_EQ(writer.GetSize(), 8u + 2 * (full ? 48u : 32u));
        BinaryReader reader(writer.GetBuffer(), writer.GetSize());
        SkeletalPose read;
        ASSERT_TRUE(read.ReadData(reader));
        EXPECT_TRUE(reader.AtEnd());
        EXPECT_EQ(read.GetBone(a).t, Vec3(1.25f, -2, 3));
        ExpectQuatNear(read.GetBone(a).q, q, 1.0f / 127.0f);
        const Quat clamped = read.GetBone(b).q;
        EXPECT_EQ(clamped.x, 1.0f);
        EXPECT_EQ(clamped.y, -1.0f);
        EXPECT_EQ(clamped.z, 1.0f);
        EXPECT_NEAR(clamped.w, 0.0f, 1.0f / 127.0f);
        if (full) {
            EXPECT_EQ(read.GetBone(a).k, Vec3(2, 3, 4));
            ExpectQuatNear(read.GetBone(a).u, AxisAngle(Vec3(1, 0, 0), 0.5f), 1.0f / 127.0f);
        } else {
            EXPECT_EQ(read.GetBone(a).k, Vec3(1, 1, 1));
            EXPECT_EQ(read.GetBone(a).u, Quat(0, 0, 0, 0));
        }
    }
    EXPECT_EQ(SkeletalPose::PackQuat(Quat(1, 1, 1, 1)), 0xFFFFFFFFu);
    EXPECT_EQ(SkeletalPose::PackQuat(Quat(0, 0, 0, 0)), 0x7F7F7F7Fu);
    // Every byte survives unpacking and packing again, so saved poses do not decay.
    for (uint32_t b = 0; b < 256; ++b)
        EXPECT_EQ(SkeletalPose::PackQuat(SkeletalPose::UnpackQuat(b * 0x01010101u)), b * 0x01010101u) << b;
    EXPECT_EQ(SkeletalPose::PackQuat(Quat(-1, -1, -1, -1)), 0u);

    // A stored pose that announces more records than its bytes hold keeps those that are there.
    BinaryWriter writer(64);
    pose.WriteData(writer, false);
    BinaryReader cut(writer.GetBuffer(), writer.GetSize() - 1);
    SkeletalPose partial;
    EXPECT_FALSE(partial.ReadData(cut));
    EXPECT_EQ(partial.GetNumBones(), 1);
    BinaryReader tiny(writer.GetBuffer(), 6);
    EXPECT_FALSE(partial.ReadData(tiny));
}

// A saved pose comes from a file like an entity's frame, and a bone whose position or scale is no
// number is refused as that frame is: the bones before it are kept, it and those after it are not,
// and the reader fails so the caller stops there. The same records with finite values read whole.
TEST(SkeletalPoseTest, RefusesStoredBonesWhosePositionOrScaleIsNotFinite)
{
    const Name good = Name::Create("Good"), bad = Name::Create("Bad"), after = Name::Create("After");
    const auto stored = [&](bool full, const Vec3& t, const Vec3& k) {
        BinaryWriter writer(256);
        writer.WriteUInt32(3);
        writer.WriteUInt32(full ? 1u : 0u);
        const auto record = [&](const Name& name, const Vec3& position, const Vec3& scale) {
            for (int w = 0; w < 4; ++w)
                writer.WriteUInt32(name.GetDigest()[w]);
            writer.WriteVec3(position);
            writer.WriteUInt32(SkeletalPose::PackQuat(Quat()));
            if (full) {
                writer.WriteVec3(scale);
                writer.WriteUInt32(SkeletalPose::PackQuat(Quat()));
            }
        };
        record(good, Vec3(1, 2, 3), Vec3(1, 1, 1));
        record(bad, t, k);
        record(after, Vec3(4, 5, 6), Vec3(2, 2, 2));
        return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
    };
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case
    {
        bool full;
        Vec3 t, k;
    };
    const Case damaged[] = {{false, Vec3(nan, 0, 0), Vec3(1, 1, 1)},
                            {false, Vec3(0, -inf, 0), Vec3(1, 1, 1)},
                            {true, Vec3(0, 0, inf), Vec3(1, 1, 1)},
                            {true, Vec3(0, 1, 0), Vec3(1, nan, 1)},
                            {true, Vec3(0, 1, 0), Vec3(1, 1, -inf)}};
    for (const Case& c : damaged) {
        const std::vector<uint8_t> bytes = stored(c.full, c.t, c.k);
        BinaryReader reader(bytes.data(), static_cast<unsigned>(bytes.size()));
        SkeletalPose pose;
        EXPECT_FALSE(pose.ReadData(reader)) << c.full;
        EXPECT_TRUE(reader.Failed());
        EXPECT_EQ(pose.GetBone(good).t, Vec3(1, 2, 3));
        EXPECT_FALSE(pose.ContainsBone(bad));
        EXPECT_FALSE(pose.ContainsBone(after));
    }
    for (bool full : {false, true}) {
        const std::vector<uint8_t> bytes = stored(full, Vec3(-7, 0, 7), Vec3(3, 3, 3));
        BinaryReader reader(bytes.data(), static_cast<unsigned>(bytes.size()));
        SkeletalPose pose;
        EXPECT_TRUE(pose.ReadData(reader));
        EXPECT_EQ(pose.GetNumBones(), 3);
        EXPECT_EQ(pose.GetBone(bad).t, Vec3(-7, 0, 7));
    }
}

} // namespace
} // namespace GAME::SceneTest
