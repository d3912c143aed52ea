#include "SceneFixtures.h"

#include "datakit/AnimWriter.h"
#include "scene/GraphicsAnim.h"

#include <cmath>
#include <cstring>

namespace GAME::SceneTest {
namespace {

using DataKit::AnimWriter;

// Two bones over five key frames: "Root" moves 1 along X a frame and turns about Y; "Arm" stays.
AnimWriter MakeWalk()
{
    AnimWriter writer;
    writer.frameRate = 10;
    AnimWriter::Track root{"Root", {}}, arm{"Arm", {}};
    for (int f = 0; f < 5; ++f) {
        AnimWriter::Key key;
        key.t = Vec3(float(f), 0, 0);
        key.q = AxisAngle(Vec3(0, 1, 0), 0.25f * float(f));
        key.k = Vec3(1, 1 + 0.5f * float(f), 1);
        root.keys.push_back(key);
        arm.keys.push_back(AnimWriter::Key());
    }
    writer.tracks = {root, arm};
    return writer;
}

class GraphicsAnimTest : public SceneFixture
{
};

TEST_F(GraphicsAnimTest, BothVersionsLoadTracksAndTheTextPart)
{
    AnimWriter writer = MakeWalk();
    writer.text =
        "junk before /* CallbackPoint { name = \"Hidden\" } */\n" + AnimWriter::CallbackPointText("Step", 2) +
        "CallbackPoint { frame = 3 }\n" + "CallbackPoint { name = \"Start\" }\n" +
        "CallbackPoint { name = Quoted frame = \"4\" }\n" +
        AnimWriter::CreateEntityText(1, "records/dust.dbr", "Foot") +
        "CreateEntity { entity = \"records/none.dbr\" }\n" +
        "RagDollData { effectType = \"Blast wave\" direction = Sideways elevation = Upward push = Left }\n"
        "RagDollData { unknown = push = Right }\n";
    GraphicsAnim* v2 = LoadAnim("Anims/Walk2.anm", writer.Write(2));
    ASSERT_EQ(v2->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_EQ(v2->GetLength(), 5u);
    EXPECT_EQ(v2->GetFrameRate(), 10);
    EXPECT_FLOAT_EQ(v2->GetAnimSpeed(), 0.5f);
    ASSERT_EQ(v2->GetNumBones(), 2u);
    EXPECT_EQ(v2->GetBoneName(1), "Arm");
    EXPECT_EQ(v2->GetBoneTrack(0).GetTotalTranslation(), Vec3(4, 0, 0));
    // Rotations are stored conjugated: the track gives back what the writer was handed.
    const Quat q = AxisAngle(Vec3(0, 1, 0), 0.5f);
    EXPECT_NEAR(v2->GetBoneTrack(0).GetFrame(2).q.y, q.y, 1e-6f);
    EXPECT_EQ(v2->GetBoneTrack(0).GetFrame(2).k, Vec3(1, 2, 1));

    ASSERT_EQ(v2->GetNumCallbackPoints(), 3u);
    EXPECT_EQ(v2->GetCallbackPoint(0).nameText, "Step");
    EXPECT_EQ(v2->GetCallbackPoint(0).frame, 2);
    EXPECT_EQ(v2->GetCallbackPoint(1).name, Name::Create("Start"));
    EXPECT_EQ(v2->GetCallbackPoint(1).frame, 0);
    EXPECT_EQ(v2->GetCallbackPoint(2).frame, 0); // a quoted frame reads as 0
    ASSERT_EQ(v2->GetNumCreateEntity(), 1u);
    EXPECT_EQ(v2->GetCreateEntity(0).entity, "records/dust.dbr");
    EXPECT_EQ(v2->GetCreateEntity(0).attach, "Foot");
    EXPECT_EQ(v2->GetRagDollEffectType(), "Blast wave");
    EXPECT_EQ(v2->GetRagDollDirection(), "Sideways"); // kept, with a warning
    EXPECT_TRUE(log.Contains("animation - Anims/Walk2.anm - illegal ragDollDirection - Sideways", 2));
    EXPECT_FALSE(log.Contains("illegal ragDollElevation"));
    EXPECT_EQ(v2->GetRagDollPush(), "Right");
    EXPECT_EQ(v2->GetMemorySize(), static_cast<unsigned>(writer.Write(2).size()));
    EXPECT_EQ(anims->GetMemoryUsage(), v2->GetMemorySize());

    // Version 1: no header, 32-byte names, no scale; no text part.
    GraphicsAnim* v1 = LoadAnim("Anims/Walk1.anm", MakeWalk().Write(1));
    ASSERT_EQ(v1->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_EQ(v1->GetBoneName(0), "Root");
    EXPECT_EQ(v1->GetBoneTrack(0).GetFrame(4).k, Vec3(1, 1, 1));
    EXPECT_EQ(v1->GetBoneTrack(0).GetFrame(4).t, Vec3(4, 0, 0));
    EXPECT_EQ(v1->GetNumCallbackPoints(), 0u);
    EXPECT_EQ(v1->GetRagDollPush(), "");

    // Destroy gives the memory back and keeps the rag-doll strings.
    v2->Unload();
    EXPECT_EQ(anims->GetMemoryUsage(), v1->GetMemorySize());
    EXPECT_EQ(v2->GetRagDollPush(), "Right");
}

TEST_F(GraphicsAnimTest, BadFilesAreRefusedWithNothingKept)
{
    const std::vector<uint8_t> good = MakeWalk().Write(2);
    auto expectRefused = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
        GraphicsAnim* anim = LoadAnim(name, bytes);
        ASSERT_NE(anim, nullptr);
        EXPECT_EQ(anim->GetInitResult(), Resource::INIT_INVALID_DATA) << name;
        EXPECT_EQ(anim->GetNumBones(), 0u) << name;
        EXPECT_EQ(anim->GetLength(), 0u) << name;
    };
    std::vector<uint8_t> version1Header = good;
    version1Header[3] = 1;
    expectRefused("Anims/Header1.anm", version1Header);
    expectRefused("Anims/HeaderOnly.anm", {'A', 'N', 'M'});
    // Every cut of the binary part.
    for (size_t size = 4; size < good.size(); size += 7)
        expectRefused("Anims/Cut" + std::to_string(size) + ".anm",
                      std::vector<uint8_t>(good.begin(), good.begin() + long(size)));
    // A bone count or name length beyond the data.
    std::vector<uint8_t> bones = good;
    bones[7] = 0x40;
    expectRefused("Anims/Bones.anm", bones);
    std::vector<uint8_t> name = good;
    name[16 + 2] = 0x10;
    expectRefused("Anims/Name.anm", name);
    // A key frame holding a value that is not a number, or one so large that a looping track
    // would leave the float range (its poses would not be numbers), in either version.
    for (int version : {1, 2})
        for (float value : {std::nanf(""), 2.0e6f, -3.0e38f}) {
            AnimWriter writer = MakeWalk();
            writer.tracks[1].keys[3].t.y = value;
            expectRefused("Anims/Key" + std::to_string(version) + std::to_string(value) + ".anm", writer.Write(version));
        }
    AnimWriter stretched = MakeWalk();
    stretched.tracks[0].keys[2].k.z = std::nanf("");
    expectRefused("Anims/Stretch.anm", stretched.Write(2));
    // Text that breaks its syntax.
    for (const char* text : {"CallbackPoint name = \"x\" }", "CallbackPoint { name \"x\" }", "RagDollData"}) {
        AnimWriter writer = MakeWalk();
        writer.text = text;
        expectRefused(std::string("Anims/") + text, writer.Write(2));
    }
    // A text that ends inside a block keeps that block.
    AnimWriter open = MakeWalk();
    open.text = "CallbackPoint { name = \"Last\"";
    GraphicsAnim* anim = LoadAnim("Anims/Open.anm", open.Write(2));
    EXPECT_EQ(anim->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_EQ(anim->GetNumCallbackPoints(), 1u);
    // Fewer than four bytes are a version-1 file of no bones.
    GraphicsAnim* tiny = LoadAnim("Anims/Tiny.anm", {'A', 'N'});
    EXPECT_EQ(tiny->GetInitResult(), Resource::INIT_INVALID_DATA);
}

TEST_F(GraphicsAnimTest, SamplingClampsAndLoopsWithRootMotionPerCycle)
{
    GraphicsAnim* anim = LoadAnim("Anims/Walk.anm", MakeWalk().Write(2));
    const Name root = Name::Create("Root");
    const GraphicsAnim::BoneTrack& track = anim->GetBoneTrack(0);

    // Before the start: identity parts. Between frames: lerp and slerp.
    EXPECT_EQ(track.Sample(-0.5f, false).t, Vec3());
    EXPECT_EQ(track.Sample(NAN, true).q, Quat());
    ExpectNear(track.Sample(1.5f, false).t, Vec3(1.5f, 0, 0));
    EXPECT_NEAR(track.Sample(1.5f, false).q.y, AxisAngle(Vec3(0, 1, 0), 0.375f).y, 1e-5f);
    // Without looping, the last frame from frame 4 on.
    ExpectNear(track.Sample(4.0f, false).t, Vec3(4, 0, 0));
    ExpectNear(track.Sample(1e30f, false).t, Vec3(4, 0, 0));
    // Looping: a cycle of 4 frames that moves the root 4 along X; frame 4 + s is frame s shifted.
    ExpectNear(track.Sample(4.5f, true).t, Vec3(4.5f, 0, 0));
    EXPECT_NEAR(track.Sample(4.5f, true).q.y, track.Sample(0.5f, true).q.y, 1e-6f);
    ExpectNear(track.Sample(9.25f, true).t, Vec3(9.25f, 0, 0));
    EXPECT_TRUE(IsFiniteVec3(track.Sample(1e30f, true).t));

    // Whole poses at a time: frame = rate * ms / 1000.
    SkeletalPose pose;
    anim->GetPose(pose, 150.0f, false);
    ExpectNear(pose.GetBone(root).t, Vec3(1.5f, 0, 0));
    EXPECT_TRUE(pose.ContainsBone(Name::Create("Arm")));
    SkeletalPose onlyRoot;
    anim->GetPose(onlyRoot, 300.0f, true, root);
    EXPECT_EQ(onlyRoot.GetNumBones(), 1);
    anim->GetPose(onlyRoot, 300.0f, true, Name::Create("Tail"));
    EXPECT_EQ(onlyRoot.GetNumBones(), 1);

    // No frames: identity parts; one frame looping: that frame.
    AnimWriter empty = MakeWalk();
    empty.frameCount = 0;
    GraphicsAnim* none = LoadAnim("Anims/None.anm", empty.Write(2));
    EXPECT_EQ(none->GetBoneTrack(0).Sample(3.0f, true).t, Vec3());
    EXPECT_EQ(none->GetBoneTrack(0).Sample(3.0f, false).k, Vec3(1, 1, 1));
    AnimWriter single = MakeWalk();
    single.frameCount = 1;
    single.tracks[0].keys[0].t = Vec3(7, 0, 0);
    GraphicsAnim* one = LoadAnim("Anims/One.anm", single.Write(1));
    ExpectNear(one->GetBoneTrack(0).Sample(12.5f, true).t, Vec3(7, 0, 0));
    ExpectNear(one->GetBoneTrack(0).Sample(12.5f, false).t, Vec3(7, 0, 0));
    AnimWriter still = MakeWalk();
    still.frameRate = 0;
    EXPECT_EQ(LoadAnim("Anims/Still.anm", still.Write(2))->GetAnimSpeed(), 0.0f);
}

} // namespace
} // namespace GAME::SceneTest
