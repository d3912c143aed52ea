// The graphics engine inside a started engine: the sample data's shaders load on the resource
// loader thread for the generation the options pick, and the engine's device-reset pair runs the
// graphics engine's pair and the registered reset objects in their order.
#include "world/EngineFixture.h"

#include "datakit/CharacterGenerator.h"
#include "datakit/ParticleShaders.h"
#include "datakit/SampleEffects.h"
#include "datakit/SampleGameData.h"
#include "datakit/ShaderWriter.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/ResetObject.h"
#include "scene/GraphicsAnim.h"
#include "scene/GraphicsMesh.h"
#include "world/EffectData.h"
#include "world/EmitterData.h"

#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace GAME {
namespace {

using EngineGraphicsTest = GAME::Test::EngineTest;

TEST_F(EngineGraphicsTest, TheSampleShadersLoadForTheGenerationTheOptionsPick)
{
    GAME::Test::TestEngine& e = Start();
    GraphicsEngine* graphics = e.GetGraphicsEngine();
    ASSERT_NE(graphics, nullptr);
    // The sample options ask for medium detail: the software device's GeForce6 runs as GeForce3.
    EXPECT_EQ(graphics->GetGenerationId(), RENDER_GENERATION_GEFORCE3);
    GraphicsShader2* basic = graphics->GetBasicShader();
    ASSERT_NE(basic, nullptr);
    basic->EnsureAvailable(); // waits for the loader thread, or loads here
    EXPECT_EQ(basic->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_GE(basic->FindStyleByName(Name::Create("normal")), 0);
    graphics->GetOverlayShader()->EnsureAvailable();
    // Each holds the white texture twice (its two texture parameters' defaults).
    EXPECT_EQ(graphics->GetTextureManager()->GetReferenceCount(DataKit::ShaderWriter::whiteTextureName), 4);

    for (const char* name :
         {DataKit::SampleGameData::litShaderName, DataKit::SampleGameData::unlitShaderName}) {
        GraphicsShader2* shader = graphics->LoadShader2(name);
        ASSERT_NE(shader, nullptr);
        shader->EnsureAvailable();
        EXPECT_EQ(shader->GetInitResult(), Resource::INIT_SUCCESS) << name;
        EXPECT_GE(shader->FindStyleByName(Name::Create("ambientLightStyle")), 0) << name;
        graphics->UnloadShader2(shader);
    }

    // High detail: the shaders reload from their GeForce6 sections.
    e.GetOptions()->SetQuality(Options::QUALITY_DETAIL_LEVEL, Options::QUALITY_HIGH);
    Frame();
    EXPECT_EQ(graphics->GetGenerationId(), RENDER_GENERATION_GEFORCE6);
    GraphicsShader2* overlay = graphics->GetOverlayShader();
    overlay->EnsureAvailable();
    EXPECT_EQ(overlay->GetInitResult(), Resource::INIT_SUCCESS);
    ASSERT_TRUE(overlay->Begin(overlay->FindStyleByName(Name::Create("normal"))));
    overlay->Render();
    overlay->End();
    GraphicsTexture* white = graphics->LoadTexture(DataKit::ShaderWriter::whiteTextureName);
    EXPECT_EQ(white->GetWidth(), 1);
    graphics->UnloadTexture(white);
    Frame();
    EXPECT_TRUE(s_fatalErrors.empty());
}

TEST_F(EngineGraphicsTest, EveryShaderAndTextureTheSampleEffectsNameLoads)
{
    GAME::Test::TestEngine& e = Start();
    GraphicsEngine* graphics = e.GetGraphicsEngine();
    ASSERT_NE(graphics, nullptr);
    std::set<std::string> shaders, textures;
    const std::unique_ptr<EffectData> effects[] = {
        std::unique_ptr<EffectData>(DataKit::SampleEffects::MakeFire()),
        std::unique_ptr<EffectData>(DataKit::SampleEffects::MakeBurst()),
        std::unique_ptr<EffectData>(DataKit::SampleEffects::MakeBeam())};
    for (const auto& effect : effects)
        for (int i = 0; i < effect->GetNumEmitters(); ++i) {
            shaders.insert(effect->GetEmitterData(i)->GetShaderName());
            textures.insert(effect->GetEmitterData(i)->GetTextureName());
        }
    // Emitters read from old files may name the smooth additive shader.
    shaders.insert(DataKit::ParticleShaders::additiveSmoothShaderName);
    EXPECT_EQ(shaders.size(), 3u);
    EXPECT_EQ(textures.size(), 4u);

    for (const std::string& name : shaders) {
        GraphicsShader2* shader = graphics->LoadShader2(name);
        ASSERT_NE(shader, nullptr) << name;
        shader->EnsureAvailable();
        EXPECT_EQ(shader->GetInitResult(), Resource::INIT_SUCCESS) << name;
        EXPECT_GE(shader->FindStyleByName(Name::Create(DataKit::ParticleShaders::styleName)), 0) << name;
        graphics->UnloadShader2(shader);
    }
    for (const std::string& name : textures) {
        GraphicsTexture* texture = graphics->LoadTexture(name);
        ASSERT_NE(texture, nullptr) << name;
        texture->EnsureAvailable();
        EXPECT_EQ(texture->GetInitResult(), Resource::INIT_SUCCESS) << name;
        EXPECT_GE(texture->GetNumFrames(), name == DataKit::ParticleShaders::beamTextureName ? 4 : 1) << name;
        graphics->UnloadTexture(texture);
    }
    EXPECT_TRUE(s_fatalErrors.empty());
}

TEST_F(EngineGraphicsTest, TheSampleCharacterLoadsThroughTheMeshAndAnimationManagers)
{
    GAME::Test::TestEngine& e = Start();
    GraphicsEngine* graphics = e.GetGraphicsEngine();
    GraphicsMesh* mesh = graphics->LoadMesh(DataKit::CharacterGenerator::characterMesh);
    ASSERT_NE(mesh, nullptr);
    mesh->EnsureAvailable();
    EXPECT_EQ(mesh->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_GE(mesh->GetNumBones(), 30u);
    // A second request shares the resource.
    EXPECT_EQ(graphics->LoadMesh(DataKit::CharacterGenerator::characterMesh), mesh);
    graphics->UnloadMesh(mesh);
    graphics->UnloadMesh(mesh);

    GraphicsAnim* walk = graphics->LoadAnimation(DataKit::CharacterGenerator::walkAnimation);
    ASSERT_NE(walk, nullptr);
    walk->EnsureAvailable();
    EXPECT_EQ(walk->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_GT(walk->GetLength(), 1u);
    EXPECT_GE(walk->GetNumBones(), 30u);
    graphics->UnloadAnimation(walk);
    Frame();
}

// Notes what it sees of the graphics engine when the engine calls it.
class ResetWitness : public ResetObject
{
public:
    ResetWitness(const char* name, GAME::Test::TestEngine& engine, std::vector<std::string>& notes)
        : m_name(name), m_engine(engine), m_notes(notes)
    {
    }
    void PreDeviceReset() override { Note("pre"); }
    void PostDeviceReset() override { Note("post"); }

private:
    void Note(const char* when)
    {
        GraphicsEngine* graphics = m_engine.GetGraphicsEngine();
        m_notes.push_back(m_name + " " + when + (graphics->GetPrimarySurface() ? " surface" : " no surface") +
                          (m_engine.IsInDeviceReset() ? " resetting" : "") +
                          (m_engine.Has("PostDeviceReset", 0) ? " after" : ""));
    }

    std::string m_name;
    GAME::Test::TestEngine& m_engine;
    std::vector<std::string>& m_notes;
};

TEST_F(EngineGraphicsTest, TheResetPairBracketsTheGraphicsEngineAndTheResetObjects)
{
    GAME::Test::TestEngine& e = Start();
    GraphicsEngine* graphics = e.GetGraphicsEngine();
    std::vector<std::string> notes;
    ResetWitness first("first", e, notes), second("second", e, notes);
    e.RegisterResetObject(&first);
    e.RegisterResetObject(&second);

    GraphicsTexture* white = graphics->LoadTexture(DataKit::ShaderWriter::whiteTextureName);
    white->EnsureAvailable();
    ASSERT_EQ(white->GetLoadedState(), Resource::LOAD_STATE_LOADED);

    e.PreDeviceReset();
    // The graphics engine went first: its device objects are gone and its resources unloaded.
    EXPECT_EQ(graphics->GetPrimarySurface(), nullptr);
    EXPECT_EQ(graphics->GetDefaultTexture(), nullptr);
    EXPECT_EQ(white->GetLoadedState(), Resource::LOAD_STATE_NOT_LOADED);
    e.PostDeviceReset();
    EXPECT_NE(graphics->GetPrimarySurface(), nullptr);
    EXPECT_NE(graphics->GetDefaultTexture(), nullptr);
    // The reset objects come after the graphics engine going down and before it coming up.
    EXPECT_EQ(notes, (std::vector<std::string>{
                         "first pre no surface resetting", "second pre no surface resetting",
                         "first post no surface resetting", "second post no surface resetting"}));
    EXPECT_LT(e.Find("PreDeviceReset", 0), e.Find("PostDeviceReset", 0));
    EXPECT_FALSE(e.IsInDeviceReset());

    e.UnregisterResetObject(&first);
    e.UnregisterResetObject(&second);
    Frame(); // the frame draws on the new surface
    EXPECT_EQ(white->GetWidth(), 1);
    graphics->UnloadTexture(white);
}

} // namespace
} // namespace GAME
