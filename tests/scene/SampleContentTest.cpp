#include "SceneFixtures.h"

#include "common/TempDir.h"
#include "core/Intersection.h"
#include "core/Ray.h"
#include "datakit/CharacterGenerator.h"
#include "datakit/SampleGameData.h"
#include "navigation/PhysicsMesh.h"
#include "scene/AnimChannel.h"
#include "scene/SkeletalPose.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace GAME::SceneTest {
namespace {

using DataKit::CharacterGenerator;

class SampleContentTest : public SceneFixture
{
protected:
    // The sample data as SampleGameData writes it, read back from the folder.
    std::vector<uint8_t> ReadSample(const char* name) const
    {
        std::ifstream in(dir.File(name), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void SetUp() override { ASSERT_TRUE(DataKit::SampleGameData().Write(dir.Path())); }

    GAME::Test::TempDir dir;
};

TEST_F(SampleContentTest, ThePropLoadsWithItsCollisionMesh)
{
    GraphicsMesh* prop = LoadMesh(CharacterGenerator::propMesh, ReadSample(CharacterGenerator::propMesh));
    ASSERT_EQ(prop->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_EQ(prop->GetNumFaces(), 12u);
    EXPECT_EQ(prop->GetNumBones(), 0u);
    EXPECT_EQ(prop->GetMaterial(0).shaderName, CharacterGenerator::staticShader);
    ASSERT_NE(prop->GetPhysicsMesh(), nullptr);
    Intersection hit;
    ASSERT_TRUE(prop->GetPhysicsMesh()->GetIntersection(Ray(Vec3(0.1f, 3, 0.2f), Vec3(0, -1, 0)), hit));
    EXPECT_NEAR(hit.distance, 2.0f, 1e-5f); // the crate's top at y = 1
    EXPECT_EQ(hit.surface, uint32_t(PHYSICS_SURFACE_WOOD));
    EXPECT_NE(prop->GetAttachPoint(Name::Create("Top")), nullptr);
    EXPECT_EQ(prop->GetNumContours(), 1u);
}

TEST_F(SampleContentTest, TheCharacterSkinsToIdentityInItsBindPoseAndWalksItsStride)
{
    // The oldest devices allow 24 bones a draw: the face sets fit without folding.
    ASSERT_NE(Control(), nullptr);
    Control()->SetGenerationId(RENDER_GENERATION_GEFORCE3);
    GraphicsMesh* body =
        LoadMesh(CharacterGenerator::characterMesh, ReadSample(CharacterGenerator::characterMesh));
    ASSERT_EQ(body->GetInitResult(), Resource::INIT_SUCCESS);
    const uint32_t bones = body->GetNumBones();
    ASSERT_GE(bones, 30u);
    EXPECT_EQ(body->GetRootMotionBone(), Name::Create("Root"));
    ASSERT_EQ(body->GetNumFaceSets(), 2u);
    uint32_t palette = 0;
    for (uint32_t s = 0; s < 2; ++s)
        palette += uint32_t(body->GetFaceSet(s).bones.size());
    EXPECT_EQ(palette, bones - 1); // every bone but the root carries a box
    EXPECT_TRUE(body->HasRigidBodyData());
    EXPECT_EQ(body->GetNumJointDescriptions(), 3u);
    EXPECT_EQ(body->GetNumSkeletonEmitterBones(), 3u);

    std::vector<Coords> frames(bones);
    body->GetAbsCoords(SkeletalPose(), frames.data());
    for (const Coords& frame : frames)
        ExpectNear(frame, Coords());

    GraphicsAnim* walk =
        LoadAnim(CharacterGenerator::walkAnimation, ReadSample(CharacterGenerator::walkAnimation));
    GraphicsAnim* idle =
        LoadAnim(CharacterGenerator::idleAnimation, ReadSample(CharacterGenerator::idleAnimation));
    ASSERT_EQ(walk->GetInitResult(), Resource::INIT_SUCCESS);
    ASSERT_EQ(idle->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_EQ(walk->GetNumBones(), bones);
    EXPECT_EQ(idle->GetLength(), unsigned(CharacterGenerator::idleFrames));
    EXPECT_EQ(walk->GetNumCallbackPoints(), 2u);

    // One cycle (30 frames, a second) moves the root one stride; the channel turns it into speed.
    AnimChannel channel;
    channel.PlayAnimation(walk, true, 1.0f, 0);
    SkeletalPose pose;
    Vec3 movement, travelled;
    for (int i = 0; i < 40; ++i) {
        channel.Update(50, body->GetRootMotionBone(), pose, movement, false);
        travelled += movement * 0.05f;
    }
    ExpectNear(travelled, Vec3(0, 0, 2 * CharacterGenerator::walkStride), 1e-3f);
    body->GetAbsCoords(pose, frames.data());
    for (const Coords& frame : frames)
        EXPECT_TRUE(IsFiniteVec3(frame.origin));
    // The right hand hangs below the shoulder once the walk lowers the arms.
    Coords hand;
    body->GetAttachedCoords(pose, Name::Create("RightHand"), hand);
    EXPECT_LT(hand.origin.y,
              body->GetBone(uint32_t(body->GetBoneIndex(Name::Create("RightUpperArm")))).bindCoords.origin.y);
}

} // namespace
} // namespace GAME::SceneTest
