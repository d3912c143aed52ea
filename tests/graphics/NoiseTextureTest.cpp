// Noise textures inside a started engine over the recording software device: the 256 tiles against
// a reference made here from the tiles' hash, shared textures and their use counts, the layers'
// animation, the passes and parameters for each pixel shader version and for normal maps, and the
// device reset.
#include "GraphicsFixtures.h"
#include "world/EngineFixture.h"

#include "core/ObjectManager.h"
#include "data/ResourceLoader.h"
#include "datakit/ArzWriter.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsNoiseGen.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/NoiseTexture.h"
#include "graphics/RenderTexture.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

// The tiles' reference, written out here: the integer noise of a hash input and the smoothed
// texel over its wrapped neighbours, all in unsigned 32-bit arithmetic.
double ReferenceNoise(uint32_t k)
{
    uint32_t n = k * k;
    n = n * 15731u;
    n = n + 789221u;
    n = n * k;
    n = n - 771171059u;
    return 1.0 - double(n & 0x7fffffffu) * 9.31322574615e-10;
}

std::vector<uint8_t> ReferenceTile(uint32_t tile)
{
    std::vector<uint8_t> texels(32 * 32);
    const uint32_t seed = tile * 67777u;
    auto at = [seed](uint32_t column, uint32_t row) {
        return ReferenceNoise(column % 31u + (row % 31u) * 521u + seed);
    };
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 32; ++x) {
            const uint32_t l = x - 1u, r = x + 1u, u = y - 1u, d = y + 1u;
            const double v = (at(l, u) + at(r, u) + at(l, d) + at(r, d)) / 16.0 +
                             (at(l, y) + at(r, y) + at(x, u) + at(x, d)) / 8.0 + at(x, y) / 4.0;
            texels[y * 32 + x] = static_cast<uint8_t>(int((v + 1.0) * 127.0));
        }
    return texels;
}

constexpr const char* kPlain = "Records/Noise/Plain.dbr";
constexpr const char* kNormal = "Records/Noise/Normal.dbr";
constexpr const char* kEmpty = "Records/Noise/Empty.dbr";

class NoiseTextureTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        settings.deviceName = "Software";
        AddNoise(kPlain, 64, false);
        AddNoise(kNormal, 32, true);
        AddNoise(kEmpty, 0, false);
        data.Database()
            .AddRecord(DataKit::NormalizeRecordName("Records/Noise/NotNoise.dbr"))
            .String("Class", "SoundPak");
        Start();
        // The engine's start-up resources (a font, a texture) load on the loader thread while the
        // tests count the device's resources: they are loaded here, and no thread makes more.
        ResourceLoader* loader = engine->GetResourceLoader();
        ASSERT_NE(loader, nullptr);
        loader->StopThread();
        while (loader->ProcessNextRequest()) {
        }
        graphics = engine->GetGraphicsEngine();
        canvas = graphics->GetCanvas();
        control = software.Device(graphics->GetRenderDevice());
        ASSERT_NE(control, nullptr);
        generator = GraphicsNoiseGen::Get();
        ASSERT_NE(generator->GetShader(), nullptr);
    }

    void AddNoise(const char* record, int size, bool normalMap)
    {
        data.Database()
            .AddRecord(DataKit::NormalizeRecordName(record))
            .String("Class", "NoiseTexture")
            .Int("size", size)
            .Bool("normalMap", normalMap)
            .Float("levels", std::vector<float>{0.5f, 0.25f, 0.125f, 0.0625f})
            .Float("rates", std::vector<float>{1.0f, 0.0f, 2.0f, 0.5f});
    }

    // Runs the generator in a frame, the shaders loaded for the generation.
    std::vector<std::string> Generate(RenderGenerationId generation, float milliseconds = 16.0f)
    {
        graphics->SetGeneration(generation);
        generator->GetShader()->EnsureAvailable();
        EXPECT_TRUE(canvas->BeginFrame());
        control->SetRecording(true);
        control->TakeRecordedCalls();
        generator->Update(*canvas, milliseconds);
        canvas->EndFrame();
        return control->TakeRecordedCalls();
    }

    GAME::Test::SoftwareModuleAccess software;
    GraphicsEngine* graphics = nullptr;
    GraphicsCanvas* canvas = nullptr;
    Software::DeviceControl* control = nullptr;
    GraphicsNoiseGen* generator = nullptr;
};

TEST(NoiseTiles, EveryTileIsTheHashedAndSmoothedNoiseOfItsSeed)
{
    uint8_t texels[32 * 32];
    for (int tile = 0; tile < GraphicsNoiseGen::numTiles; ++tile) {
        GraphicsNoiseGen::MakeTileTexels(tile, texels);
        const std::vector<uint8_t> reference = ReferenceTile(static_cast<uint32_t>(tile));
        ASSERT_EQ(std::memcmp(texels, reference.data(), sizeof(texels)), 0) << "tile " << tile;
    }
    std::vector<uint8_t> zero = ReferenceTile(0), one = ReferenceTile(1);
    EXPECT_NE(zero, one);
}

TEST_F(NoiseTextureTest, TheDeviceHoldsTheTwoHundredAndFiftySixTiles)
{
    const std::vector<RenderTexture*>& tiles = generator->GetTiles();
    ASSERT_EQ(tiles.size(), 256u);
    for (uint32_t tile : {0u, 1u, 128u, 255u}) {
        ASSERT_NE(tiles[tile], nullptr);
        EXPECT_EQ(tiles[tile]->GetWidth(), 32);
        int pitch = 0;
        const auto* texels = static_cast<const uint32_t*>(tiles[tile]->Lock(pitch));
        ASSERT_NE(texels, nullptr);
        const std::vector<uint8_t> reference = ReferenceTile(tile);
        for (size_t i = 0; i < reference.size(); ++i)
            ASSERT_EQ(texels[i] & 0xFFu, reference[i]) << "tile " << tile << " texel " << i;
        tiles[tile]->Unlock();
    }
}

TEST_F(NoiseTextureTest, TexturesAreSharedByRecordAndGoWithTheirLastUse)
{
    NoiseTexture* texture = generator->LoadNoiseTexture(kPlain);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->GetSize(), 64u);
    EXPECT_FALSE(texture->IsNormalMap());
    EXPECT_FLOAT_EQ(texture->GetLayer(2).level, 0.125f);
    EXPECT_FLOAT_EQ(texture->GetLayer(3).rate, 0.5f);
    ASSERT_NE(texture->GetRenderSurface(), nullptr);
    EXPECT_NE(texture->GetTexture(), nullptr);
    // The name is compared ignoring case.
    EXPECT_EQ(generator->LoadNoiseTexture("RECORDS/noise/plain.DBR"), texture);
    EXPECT_EQ(generator->GetReferenceCount(texture), 2);
    generator->UnloadNoiseTexture(texture);
    EXPECT_EQ(generator->GetReferenceCount(texture), 1);
    EXPECT_NE(texture->GetRenderSurface(), nullptr);

    const uint32_t surfaces = control->GetResourceCount(Software::ResourceKind::Surface);
    const unsigned int pending = ObjectManager::Get()->GetNumDeletedObjects();
    generator->UnloadNoiseTexture(texture);
    EXPECT_EQ(generator->GetReferenceCount(texture), 0);
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::Surface), surfaces - 1);
    EXPECT_EQ(ObjectManager::Get()->GetNumDeletedObjects(), pending + 1);
    // Its slot is taken again by the next texture.
    NoiseTexture* normal = generator->LoadNoiseTexture(kNormal);
    ASSERT_NE(normal, nullptr);
    EXPECT_EQ(generator->GetEntries().size(), 1u);
    EXPECT_EQ(generator->GetEntries()[0].texture, normal);

    // Records that make no noise texture.
    EXPECT_EQ(generator->LoadNoiseTexture("Records/Noise/NotNoise.dbr"), nullptr);
    EXPECT_EQ(generator->LoadNoiseTexture("Records/Noise/Missing.dbr"), nullptr);
    EXPECT_EQ(generator->GetEntries().size(), 1u);
    generator->UnloadNoiseTexture(normal);
}

TEST_F(NoiseTextureTest, LayersFadeAtTheirRatesAndPickTheirNextTileFromTheGenerator)
{
    NoiseTexture* texture = generator->LoadNoiseTexture(kPlain);
    ASSERT_NE(texture, nullptr);
    std::vector<NoiseTexture::Layer> before;
    for (int i = 0; i < NoiseTexture::numLayers; ++i)
        before.push_back(texture->GetLayer(i));

    RandomUniformLocked random(1234);
    RandomUniformLocked expected(1234);
    texture->UpdateLayers(256, 500.0f, random);
    EXPECT_FLOAT_EQ(texture->GetLayer(0).phase, 0.5f);
    EXPECT_EQ(texture->GetLayer(0).currentTile, before[0].currentTile);
    EXPECT_FLOAT_EQ(texture->GetLayer(2).phase, 0.0f); // 2 per second: completed, fraction 0
    EXPECT_EQ(texture->GetLayer(2).currentTile, before[2].nextTile);
    const uint32_t r = static_cast<uint32_t>(expected.IGenerate(0, 255));
    EXPECT_EQ(texture->GetLayer(2).nextTile, (r % 256 + before[2].nextTile) % 256);

    // Rate 0: the layer never moves, however long.
    for (int frame = 0; frame < 100; ++frame)
        texture->UpdateLayers(256, 1000.0f, random);
    EXPECT_FLOAT_EQ(texture->GetLayer(1).phase, 0.0f);
    EXPECT_EQ(texture->GetLayer(1).currentTile, before[1].currentTile);
    EXPECT_EQ(texture->GetLayer(1).nextTile, before[1].nextTile);
    for (int i = 0; i < NoiseTexture::numLayers; ++i) {
        EXPECT_GE(texture->GetLayer(i).phase, 0.0f);
        EXPECT_LT(texture->GetLayer(i).phase, 1.0f);
        EXPECT_LT(texture->GetLayer(i).nextTile, 256u);
    }
    generator->UnloadNoiseTexture(texture);
}

TEST_F(NoiseTextureTest, ShaderParametersFollowThePixelShaderVersionAndThePass)
{
    NoiseTexture* texture = generator->LoadNoiseTexture(kPlain);
    ASSERT_NE(texture, nullptr);
    RandomUniformLocked random(7);
    texture->UpdateLayers(256, 250.0f, random); // phases 0.25, 0, 0.5, 0.125
    const std::vector<RenderTexture*>& tiles = generator->GetTiles();
    auto check = [&](RenderGenerationId generation, const char* styleName, int pass, const int layers[4],
                     const float blend[4], const float level[4], const float scale[4]) {
        graphics->SetGeneration(generation);
        GraphicsShader2* shader = generator->GetShader();
        shader->EnsureAvailable();
        ASSERT_TRUE(canvas->BeginFrame());
        ASSERT_TRUE(shader->Begin(shader->FindStyleByName(Name::Create(styleName))));
        texture->SetShaderParams(*shader, tiles, pass);
        shader->Render();
        const Software::RenderState state = control->GetRenderState();
        const std::vector<float> constants = control->GetPixelShaderConstants();
        for (int stage = 0; stage < 4; ++stage) {
            const NoiseTexture::Layer& layer = texture->GetLayer(layers[stage / 2]);
            EXPECT_EQ(state.textures[stage], tiles[stage % 2 ? layer.nextTile : layer.currentTile])
                << styleName << " stage " << stage;
        }
        for (int i = 0; i < 4; ++i) {
            EXPECT_FLOAT_EQ(constants[size_t(i)], blend[i]) << styleName << " blend " << i;
            EXPECT_FLOAT_EQ(constants[size_t(4 + i)], level[i]) << styleName << " level " << i;
            EXPECT_FLOAT_EQ(constants[size_t(8 + i)], scale[i]) << styleName << " scale " << i;
        }
        EXPECT_FLOAT_EQ(constants[12], 1.0f / 64.0f);
        shader->End();
        canvas->EndFrame();
    };
    // Version 6: one pass of all four layers.
    const int all[4] = {0, 1, 2, 3};
    const float phases[4] = {0.25f, 0.0f, 0.5f, 0.125f};
    const float levels[4] = {0.5f, 0.25f, 0.125f, 0.0625f};
    const float scales[4] = {1.0f, 2.0f, 4.0f, 8.0f};
    check(RENDER_GENERATION_GEFORCE6, "compositeBaseStyle", 0, all, phases, levels, scales);
    EXPECT_EQ(control->GetRenderState().textures[7], nullptr); // restored by End
    // Version 1: layers 0 and 1, then 2 and 3.
    const int first[4] = {0, 1, 0, 1};
    const float firstBlend[4] = {0.25f, 0.25f, 0.25f, 0.0f};
    const float firstLevel[4] = {0.5f, 0.5f, 0.5f, 0.25f};
    const float firstScale[4] = {1.0f, 2.0f, 0.0f, 0.0f};
    check(RENDER_GENERATION_GEFORCE3, "compositeBaseStyle", 0, first, firstBlend, firstLevel, firstScale);
    const int second[4] = {2, 3, 2, 3};
    const float secondBlend[4] = {0.5f, 0.5f, 0.5f, 0.125f};
    const float secondLevel[4] = {0.125f, 0.125f, 0.125f, 0.0625f};
    const float secondScale[4] = {4.0f, 8.0f, 0.0f, 0.0f};
    check(RENDER_GENERATION_GEFORCE3, "compositeAddStyle", 1, second, secondBlend, secondLevel, secondScale);
    generator->UnloadNoiseTexture(texture);
}

TEST_F(NoiseTextureTest, PassesFollowTheGenerationAndTheNormalMapFlag)
{
    NoiseTexture* plain = generator->LoadNoiseTexture(kPlain);
    NoiseTexture* normal = generator->LoadNoiseTexture(kNormal);
    NoiseTexture* empty = generator->LoadNoiseTexture(kEmpty);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(normal, nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->GetRenderSurface(), nullptr); // size 0: nothing to draw into
    using Fixture = GAME::Test::GraphicsFixture;

    // One texture at a time needs drawing.
    normal->SetNeedsUpdate(false);
    empty->SetNeedsUpdate(false);
    std::vector<std::string> calls = Generate(RENDER_GENERATION_GEFORCE6);
    EXPECT_EQ(Fixture::Matching(calls, "DrawIndexedPrimitive").size(), 1u);
    EXPECT_FALSE(plain->GetNeedsUpdate());
    EXPECT_TRUE(Fixture::Matching(calls, "CreateTextureSurface").empty());
    // The frame's target comes back.
    const std::vector<std::string> targets = Fixture::Matching(calls, "SetTargetSurface");
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_NE(targets.front(), targets.back());

    // Not asked for again: nothing drawn.
    calls = Generate(RENDER_GENERATION_GEFORCE6);
    EXPECT_TRUE(Fixture::Matching(calls, "DrawIndexedPrimitive").empty());

    // A normal map: the composite into a temporary surface, then converted into its own.
    normal->SetNeedsUpdate(true);
    calls = Generate(RENDER_GENERATION_GEFORCE6);
    EXPECT_EQ(Fixture::Matching(calls, "DrawIndexedPrimitive").size(), 2u);
    EXPECT_EQ(Fixture::Matching(calls, "CreateTextureSurface(32, 32, 2, 0)").size(), 1u);
    EXPECT_EQ(Fixture::Matching(calls, "SetTargetSurface").size(), 3u);

    // Older hardware: two composite passes.
    plain->SetNeedsUpdate(true);
    calls = Generate(RENDER_GENERATION_GEFORCE3);
    EXPECT_EQ(Fixture::Matching(calls, "DrawIndexedPrimitive").size(), 2u);
    normal->SetNeedsUpdate(true);
    calls = Generate(RENDER_GENERATION_GEFORCE3);
    EXPECT_EQ(Fixture::Matching(calls, "DrawIndexedPrimitive").size(), 3u);

    // A texture of size 0 is passed over.
    empty->SetNeedsUpdate(true);
    calls = Generate(RENDER_GENERATION_GEFORCE3);
    EXPECT_TRUE(Fixture::Matching(calls, "DrawIndexedPrimitive").empty());
    EXPECT_EQ(control->GetRejectedCallCount(), 0u);
    for (NoiseTexture* texture : {plain, normal, empty})
        generator->UnloadNoiseTexture(texture);
}

TEST_F(NoiseTextureTest, ADeviceResetTakesTilesAndSurfacesAndGivesThemBack)
{
    NoiseTexture* texture = generator->LoadNoiseTexture(kPlain);
    ASSERT_NE(texture, nullptr);
    const uint32_t textures = control->GetResourceCount(Software::ResourceKind::Texture);
    const uint32_t surfaces = control->GetResourceCount(Software::ResourceKind::Surface);
    generator->PreDeviceReset();
    EXPECT_TRUE(generator->GetTiles().empty());
    EXPECT_EQ(texture->GetRenderSurface(), nullptr);
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::Surface), surfaces - 1);
    // The surface's own texture goes with it.
    EXPECT_LE(control->GetResourceCount(Software::ResourceKind::Texture), textures - 256);
    generator->PostDeviceReset();
    EXPECT_EQ(generator->GetTiles().size(), 256u);
    EXPECT_NE(texture->GetRenderSurface(), nullptr);
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::Surface), surfaces);
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::Texture), textures);
    generator->UnloadNoiseTexture(texture);
}

// A drawing goes into a surface no frame still being drawn reads and is shown two drawings later
// (no frame reads what it or the frame before drew, which the device may still be drawing); a
// normal map's heights likewise take turns, each conversion reading those of two drawings before.
// The surfaces go with a device reset.
TEST_F(NoiseTextureTest, DrawingsAreShownTwoFramesLateFromSurfacesTakingTurns)
{
    NoiseTexture* texture = generator->LoadNoiseTexture(kPlain);
    ASSERT_NE(texture, nullptr);
    const uint32_t surfaces = control->GetResourceCount(Software::ResourceKind::Surface);
    Generate(RENDER_GENERATION_GEFORCE6);
    RenderSurface* first = texture->GetRenderSurface();
    ASSERT_NE(first, nullptr); // the first drawing is shown at once: there is nothing before it
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::Surface), surfaces);
    // Each later drawing: the surface drawn into, and the one shown while the frame draws it.
    std::vector<std::string> drawn;
    std::vector<RenderSurface*> shown;
    for (int drawing = 1; drawing < 8; ++drawing) {
        texture->SetNeedsUpdate(true);
        const std::vector<std::string> targets =
            GAME::Test::GraphicsFixture::Matching(Generate(RENDER_GENERATION_GEFORCE6), "SetTargetSurface");
        ASSERT_EQ(targets.size(), 2u); // the drawing, the frame's target again
        drawn.push_back(targets[0]);
        shown.push_back(texture->GetRenderSurface());
    }
    // Drawings 1 and 2 still show the first; drawing 3 shows drawing 1, and so on.
    EXPECT_EQ(shown[0], first);
    EXPECT_EQ(shown[1], first);
    EXPECT_NE(shown[2], first);
    EXPECT_NE(shown[3], shown[2]);
    EXPECT_EQ(shown[5], first); // four surfaces in turn: drawing 6 shows drawing 4, into the first
    EXPECT_EQ(shown[6], shown[2]);
    // Four surfaces in all, each drawn into every fourth drawing, never while it is shown.
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::Surface), surfaces + 3);
    EXPECT_NE(drawn[0], drawn[1]);
    EXPECT_NE(drawn[1], drawn[2]);
    EXPECT_NE(drawn[0], drawn[2]);
    EXPECT_EQ(drawn[2], drawn[6]);
    EXPECT_EQ(drawn[0], drawn[4]);

    // A normal map: its heights go into four surfaces of its own in turn.
    NoiseTexture* normal = generator->LoadNoiseTexture(kNormal);
    ASSERT_NE(normal, nullptr);
    texture->SetNeedsUpdate(false);
    std::vector<std::string> heightTargets;
    for (int drawing = 0; drawing < 6; ++drawing) {
        normal->SetNeedsUpdate(true);
        const std::vector<std::string> targets =
            GAME::Test::GraphicsFixture::Matching(Generate(RENDER_GENERATION_GEFORCE6), "SetTargetSurface");
        ASSERT_EQ(targets.size(), 3u); // the heights, the conversion, the frame's target again
        heightTargets.push_back(targets[0]);
        EXPECT_NE(targets[0], targets[1]);
    }
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j)
            EXPECT_NE(heightTargets[size_t(i)], heightTargets[size_t(j)]);
    EXPECT_EQ(heightTargets[0], heightTargets[4]);
    EXPECT_EQ(heightTargets[1], heightTargets[5]);
    // The conversion reads the heights of two drawings before.
    RenderSurface* previous = reinterpret_cast<RenderSurface*>(1);
    RenderSurface* heights = normal->BeginHeights(previous);
    ASSERT_NE(heights, nullptr);
    ASSERT_NE(previous, nullptr);
    EXPECT_NE(previous, heights);
    normal->EndHeights(heights);
    RenderSurface* later = nullptr;
    RenderSurface* next = normal->BeginHeights(later);
    normal->EndHeights(next);
    RenderSurface* again = nullptr;
    normal->BeginHeights(again);
    EXPECT_EQ(again, heights);
    EXPECT_NE(later, heights);

    generator->PreDeviceReset();
    EXPECT_EQ(texture->GetRenderSurface(), nullptr);
    EXPECT_EQ(normal->GetRenderSurface(), nullptr);
    generator->PostDeviceReset();
    EXPECT_NE(texture->GetRenderSurface(), nullptr);
    RenderSurface* none = reinterpret_cast<RenderSurface*>(1);
    EXPECT_NE(normal->BeginHeights(none), nullptr);
    EXPECT_EQ(none, nullptr); // a reset forgets the heights drawn before it
    generator->UnloadNoiseTexture(normal);
    generator->UnloadNoiseTexture(texture);
}

} // namespace
} // namespace GAME
