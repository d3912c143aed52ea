#include "../SceneFixtures.h"

#include "common/WaitUntil.h"
#include "datakit/CharacterGenerator.h"
#include "scene/SkeletalPose.h"

namespace GAME::SceneTest {
namespace {

using DataKit::CharacterGenerator;
using GAME::Test::WaitUntil;

class SceneLoaderThreadTest : public SceneFixture
{
protected:
    void SetUp() override { loader.EnableSingleProcessorMode(false); }
    void TearDown() override { loader.StopThread(); }
};

TEST_F(SceneLoaderThreadTest, MeshesAndAnimationsLoadOnTheLoaderThreadWhileTheMainThreadUsesThem)
{
    services.source->Put(CharacterGenerator::propMesh, CharacterGenerator::MakeProp().Write(11));
    services.source->Put(CharacterGenerator::characterMesh, CharacterGenerator::MakeCharacter().Write(10));
    services.source->Put(CharacterGenerator::walkAnimation, CharacterGenerator::MakeWalk().Write(2));
    loader.StartThread();

    auto* body = static_cast<GraphicsMesh*>(meshes->LoadResource(CharacterGenerator::characterMesh));
    auto* prop = static_cast<GraphicsMesh*>(meshes->LoadResource(CharacterGenerator::propMesh));
    GraphicsAnim* walk = anims->LoadTypedResource(CharacterGenerator::walkAnimation);
    ASSERT_TRUE(body && prop && walk);
    for (Resource* resource :
         {static_cast<Resource*>(body), static_cast<Resource*>(walk), static_cast<Resource*>(prop)})
        loader.EnqueueResource(resource, RESOURCE_PRIORITY_HIGH, true);
    const unsigned marker = loader.CreateMarker();

    // The main thread may ask at once: it waits for a running load or loads the mesh itself.
    EXPECT_EQ(prop->GetNumFaces(), 12u);
    SkeletalPose pose;
    walk->GetPose(pose, 250.0f, true);
    EXPECT_FALSE(pose.IsEmpty());

    ASSERT_TRUE(WaitUntil([&] { return loader.GetHasMarkerPast(marker); }));
    EXPECT_TRUE(body->GetIsLoaded());
    EXPECT_EQ(body->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_GE(body->GetNumBones(), 30u);
    const std::vector<uint8_t> bytes = Contents(body->GetVertexBuffer());
    EXPECT_EQ(bytes, CharacterGenerator::MakeCharacter().vertexBytes);
    std::vector<Coords> frames(body->GetNumBones());
    body->GetAbsCoords(pose, frames.data());
    EXPECT_TRUE(IsFiniteVec3(frames.back().origin));
}

} // namespace
} // namespace GAME::SceneTest
