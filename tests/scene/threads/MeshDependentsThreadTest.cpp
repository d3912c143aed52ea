// Meshes whose materials name shaders and textures, loaded on the loader thread while the main
// thread loads the same shader and asks the meshes: each mesh loads its shader on the spot to learn
// whether it takes the texture, and becomes ready once its shader and texture are in.
#include "graphics/GraphicsFixtures.h"

#include "common/WaitUntil.h"
#include "datakit/MeshWriter.h"
#include "datakit/ShaderWriter.h"
#include "datakit/TextureWriter.h"
#include "scene/GraphicsMesh.h"

#include <string>
#include <vector>

namespace GAME {
namespace {

using DataKit::MeshWriter;
using GAME::Test::WaitUntil;

class MeshDependentsThreadTest : public GAME::Test::GraphicsFixture
{
protected:
    void SetUp() override
    {
        Start();
        loader->EnableSingleProcessorMode(false);
    }
    void TearDown() override
    {
        loader->StopThread();
        GAME::Test::GraphicsFixture::TearDown();
    }
};

TEST_F(MeshDependentsThreadTest, MeshesLoadTheirShadersOnTheLoaderThreadAndBecomeReady)
{
    DataKit::ShaderWriter shader;
    for (const char* generation : {"GeForce6", "GeForce3"}) {
        DataKit::ShaderWriter::Section& s = shader.AddSection(generation);
        s.Parameter("baseTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE);
        s.Style("ambientLightStyle", 1000);
    }
    PutFile("Shaders/Shared.ssh", shader.Write());
    PutFile("Textures/Shared.tex", DataKit::TextureWriter::SolidDds(2, 2, 0xFF00FF00u));
    MeshWriter writer;
    writer.SetAttributes({MeshWriter::ATTRIBUTE_POSITION});
    for (const GAME::Vec3& p : {GAME::Vec3(0, 0, 0), GAME::Vec3(1, 0, 0), GAME::Vec3(0, 1, 0)}) {
        MeshWriter::Vertex v;
        v.position = p;
        writer.AddVertex(v);
    }
    writer.AddFace(0, 1, 2);
    MeshWriter::FaceSet set;
    set.numFaces = 1;
    writer.faceSets = {set};
    writer.materials = {{"Shaders/Shared.ssh", {{"baseTexture", 7, 0, "Textures/Shared.tex", {}}}}};
    std::vector<GraphicsMesh*> meshes;
    for (int i = 0; i < 8; ++i) {
        const std::string name = "Meshes/Shared" + std::to_string(i) + ".msh";
        PutFile(name, writer.Write(11));
        meshes.push_back(engine->LoadMesh(name));
        ASSERT_NE(meshes.back(), nullptr);
    }
    loader->StartThread();
    for (GraphicsMesh* mesh : meshes)
        loader->EnqueueResource(mesh, RESOURCE_PRIORITY_HIGH, true);

    // The main thread wants the shader and some meshes at once, while the loader works.
    GraphicsShader2* own = engine->LoadShader2("Shaders/Shared.ssh");
    own->EnsureAvailable();
    EXPECT_EQ(own->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_EQ(meshes[7]->GetNumFaces(), 1u);
    EXPECT_EQ(meshes[3]->GetTextures().size(), 1u);

    for (GraphicsMesh* mesh : meshes)
        EXPECT_TRUE(WaitUntil([&] { return mesh->GetIsReadyToUse(); })) << mesh->GetFileName();
    for (GraphicsMesh* mesh : meshes) {
        ASSERT_EQ(mesh->GetTextures().size(), 1u) << mesh->GetFileName();
        EXPECT_STREQ(mesh->GetTextures()[0]->GetFileName(), "Textures/Shared.tex");
        engine->UnloadMesh(mesh);
    }
    engine->UnloadShader2(own);
}

} // namespace
} // namespace GAME
