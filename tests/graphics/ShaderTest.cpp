#include "GraphicsFixtures.h"

#include "core/Coords.h"
#include "core/Mat4.h"
#include "datakit/ShaderWriter.h"
#include "datakit/TextureWriter.h"

#include <gtest/gtest.h>
#include <regex>

namespace GAME {
namespace {

using DataKit::ShaderWriter;
using S = GraphicsShader2;
using Software::Failure;
using Software::ResourceKind;

// Parameter and value indices of the test shader's "GeForce6" section.
enum Parameter : uint32_t
{
    P_MATRIX,
    P_COLOR,
    P_BASE_TEXTURE,
    P_ALPHA_TEST,
    P_ARRAY,
    P_BONES,
    P_MATRIX2,
    P_TINT,
};

const Name matrixName = Name::Create("objectToScreenMatrix");
const Name colorName = Name::Create("color");
const Name baseTextureName = Name::Create("baseTexture");
const Name alphaTestName = Name::Create("alphaTest");
const Name arrayName = Name::Create("array");
const Name bonesName = Name::Create("bones");
const Name matrix2Name = Name::Create("matrix2");
const Name tintName = Name::Create("tint");

// A shader with a program of each kind, constants bound to parameters and values, a texture file,
// and states from values, from parameters with defaults and from a parameter without one.
void AddTestSection(ShaderWriter::Section& s)
{
    const uint32_t vertex = 0, pixel = 1, srcAlpha = 2, offset = 3, texture = 4, white = 5, alphaRef = 6;
    s.VertexProgram("vertex program", {{0, 4, false, P_MATRIX},
                                       {8, 1, false, P_COLOR},
                                       {9, 1, true, offset},
                                       {12, 2, false, P_ARRAY},
                                       {16, 6, false, P_BONES},
                                       {30, 3, false, P_MATRIX2}});
    s.PixelProgram("pixel program", {{0, 1, false, P_TINT}});
    s.Int(RENDER_BLEND_SRC_ALPHA);
    s.Float3(1.0f, 2.0f, 3.0f);
    s.Texture("Textures/base.tex");
    s.Float4(1.0f, 1.0f, 1.0f, 1.0f);
    s.Int(128);
    s.Parameter("objectToScreenMatrix", S::TYPE_FLOAT4X4);
    s.Parameter("color", S::TYPE_FLOAT4, 1, white);
    s.Parameter("baseTexture", S::TYPE_DEVICE_TEXTURE, 1, texture);
    s.Parameter("alphaTest", S::TYPE_INT);
    s.Parameter("array", S::TYPE_FLOAT4, 4);
    s.Parameter("bones", S::TYPE_FLOAT4X3, 2);
    s.Parameter("matrix2", S::TYPE_FLOAT4X4);
    s.Parameter("tint", S::TYPE_FLOAT3_ALIAS);
    s.Style("first", 5)
        .StateFromValue(S::STATE_VERTEX_SHADER, vertex)
        .StateFromValue(S::STATE_PIXEL_SHADER, pixel)
        .StateFromValue(S::STATE_SOURCE_BLEND, srcAlpha)
        .StateFromParameter(S::STATE_TEXTURE, P_BASE_TEXTURE, 2)
        .StateFromParameter(S::STATE_ALPHA_TEST, P_ALPHA_TEST)
        .StateFromValue(S::STATE_ALPHA_REFERENCE, alphaRef)
        .StateFromValue(13, srcAlpha); // a kind that does nothing
    s.Style("second", -3).StateFromValue(S::STATE_DESTINATION_BLEND, srcAlpha);
}

// Sections after the one read are never looked at; trailing = false ends the file with it.
std::vector<uint8_t> TestShader(bool trailing = true)
{
    ShaderWriter writer;
    writer.AddSection("GeForce3").Style("not this one", 0);
    AddTestSection(writer.AddSection("GeForce6"));
    if (trailing)
        writer.AddSection("R200").Style("nor this", 0);
    return writer.Write();
}

// Device call records with resource serials dropped ("texture#12" becomes "texture#").
std::vector<std::string> Calls(Software::DeviceControl* control)
{
    std::vector<std::string> calls = control->TakeRecordedCalls();
    static const std::regex serial("#[0-9]+");
    for (std::string& call : calls)
        call = std::regex_replace(call, serial, "#");
    return calls;
}

class ShaderTest : public GAME::Test::GraphicsFixture
{
protected:
    void SetUp() override
    {
        options.SetQuality(Options::QUALITY_DETAIL_LEVEL, Options::QUALITY_HIGH); // runs as GeForce6
        Start();
        PutFile("Textures/base.tex", DataKit::TextureWriter::SolidDds(4, 4, 0xFF808080u));
    }

    // Initialize on a shader of its own, outside the manager: the result, with whatever loaded
    // released again.
    Resource::InitResult Try(const std::vector<uint8_t>& bytes)
    {
        GraphicsShader2 shader(engine->GetShaderManager(), "try.ssh", engine.get());
        const Resource::InitResult result = shader.Initialize(bytes.data(), static_cast<int>(bytes.size()));
        if (result != Resource::INIT_SUCCESS) {
            // Nothing stays half-built.
            EXPECT_EQ(shader.GetNumStyles(), 0);
            EXPECT_EQ(shader.GetNumParameters(), 0);
            EXPECT_EQ(Control()->GetResourceCount(ResourceKind::VertexShader), 0u);
            EXPECT_EQ(Control()->GetResourceCount(ResourceKind::PixelShader), 0u);
            EXPECT_LE(engine->GetTextureManager()->GetReferenceCount("Textures/base.tex"), 0);
        }
        shader.Destroy();
        return result;
    }

    GraphicsShader2* LoadTestShader()
    {
        GraphicsShader2* shader = LoadShader("Shaders/test.ssh", TestShader());
        EXPECT_EQ(shader->GetInitResult(), Resource::INIT_SUCCESS);
        while (loader->ProcessNextRequest()) {
        } // the shader's texture
        Control()->SetRecording(true);
        Control()->TakeRecordedCalls();
        return shader;
    }
};

TEST_F(ShaderTest, LoadsTheSectionOfTheCurrentGenerationWithItsTexture)
{
    GraphicsShader2* shader = LoadTestShader();
    ASSERT_TRUE(shader->GetIsReadyToUse());
    EXPECT_EQ(shader->GetNumStyles(), 2);
    EXPECT_EQ(shader->FindStyleByName(Name::Create("second")), 1);
    EXPECT_EQ(shader->FindStyleByName(Name::Create("not this one")), GraphicsShader2::noStyle);
    EXPECT_EQ(shader->GetSortOrder(0), 5);
    EXPECT_EQ(shader->GetSortOrder(1), -3);
    EXPECT_EQ(shader->GetSortOrder(2), 0);
    EXPECT_TRUE(shader->HasParameter(tintName));
    EXPECT_FALSE(shader->HasParameter(Name::Create("nothing")));
    EXPECT_EQ(Control()->GetResourceCount(ResourceKind::VertexShader), 1u);
    EXPECT_EQ(Control()->GetResourceCount(ResourceKind::PixelShader), 1u);
    EXPECT_EQ(engine->GetTextureManager()->GetReferenceCount("Textures/base.tex"), 1);
    GraphicsTexture* texture = engine->GetTextureManager()->LoadTypedResource("Textures/base.tex");
    EXPECT_EQ(texture->GetLoadedState(), Resource::LOAD_STATE_LOADED); // queued with the shader
    engine->UnloadTexture(texture);

    // Unloading gives the programs and the texture back.
    shader->Unload();
    EXPECT_EQ(Control()->GetResourceCount(ResourceKind::VertexShader), 0u);
    EXPECT_EQ(engine->GetTextureManager()->GetReferenceCount("Textures/base.tex"), 0);
    engine->UnloadShader2(shader);

    // A file without a section for the generation fails.
    ShaderWriter other;
    other.AddSection("GeForce3").Style("a", 0);
    other.AddSection("R200").Style("b", 0);
    GraphicsShader2* missing = LoadShader("Shaders/other.ssh", other.Write());
    EXPECT_EQ(missing->GetInitResult(), Resource::INIT_INVALID_DATA);
    EXPECT_TRUE(log.Contains("has no section for the GeForce6 generation"));
    EXPECT_EQ(missing->FindStyleByName(Name::Create("a")), GraphicsShader2::noStyle);
    EXPECT_FALSE(missing->Begin(0));

    // On an R200-class engine the same file loads from its second section.
    engine->SetGeneration(RENDER_GENERATION_R200);
    missing->EnsureAvailable();
    EXPECT_EQ(missing->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_EQ(missing->FindStyleByName(Name::Create("b")), 0);
    engine->UnloadShader2(missing);
}

TEST_F(ShaderTest, RenderPushesWhatChangedAndEndRestoresTheDefaults)
{
    GraphicsShader2* shader = LoadTestShader();
    Software::DeviceControl* control = Control();
    ASSERT_TRUE(shader->Begin(0));
    EXPECT_EQ(shader->GetBeginLevel(), 1);
    Mat4 matrix;
    matrix.m[3] = 7.0f;
    EXPECT_TRUE(shader->SetFloat4x4(matrixName, 0, matrix));

    // First Render of the style: everything, all bindings with a value.
    shader->Render("test");
    EXPECT_EQ(Calls(control), (std::vector<std::string>{
                                  "SetVertexShader(vertexshader#)",
                                  "SetVertexShaderConstants(0, 4)",
                                  "SetVertexShaderConstants(8, 1)",
                                  "SetVertexShaderConstants(9, 1)",
                                  "SetPixelShader(pixelshader#)",
                                  "SetSourceBlend(6)",
                                  "SetTexture(2, texture#)",
                                  "SetAlphaTestFunction(7)",
                                  "SetAlphaReference(0.501961)",
                              }));
    std::vector<float> constants = control->GetVertexShaderConstants();
    EXPECT_EQ(constants[3], 7.0f);         // the matrix's first row
    EXPECT_EQ(constants[8 * 4], 1.0f);     // the colour's default
    EXPECT_EQ(constants[9 * 4 + 2], 3.0f); // the float3 value
    EXPECT_EQ(control->GetRenderState().sourceBlend, RENDER_BLEND_SRC_ALPHA);

    // Nothing changed: only the parameter with neither value nor default restores its state.
    shader->Render();
    EXPECT_EQ(Calls(control), (std::vector<std::string>{"SetAlphaTestFunction(7)"}));

    // A parameter set since the last Render goes out alone.
    const float half[4] = {0.5f, 0.5f, 0.5f, 0.5f};
    EXPECT_TRUE(shader->SetFloat4(colorName, 0, half));
    EXPECT_TRUE(shader->SetInt(alphaTestName, 0, RENDER_TEST_GREATER));
    shader->Render();
    EXPECT_EQ(Calls(control),
              (std::vector<std::string>{"SetVertexShaderConstants(8, 1)", "SetAlphaTestFunction(4)"}));
    EXPECT_EQ(control->GetVertexShaderConstants()[8 * 4], 0.5f);
    shader->Render();
    EXPECT_EQ(Calls(control), (std::vector<std::string>{}));

    // A nested level cannot set what the outer level set; what it sets itself ends with it.
    shader->Begin();
    EXPECT_EQ(shader->GetBeginLevel(), 2);
    EXPECT_FALSE(shader->SetFloat4(colorName, 0, half));
    EXPECT_FALSE(shader->SetInt(alphaTestName, 0, RENDER_TEST_ALWAYS));
    EXPECT_TRUE(shader->SetFloat4(arrayName, 1, half));
    EXPECT_TRUE(shader->SetFloat4(arrayName, 1, half)); // again at its own level
    shader->End();
    EXPECT_EQ(shader->GetBeginLevel(), 1);
    EXPECT_TRUE(shader->SetFloat4(arrayName, 1, half)); // free again
    EXPECT_EQ(Calls(control), (std::vector<std::string>{}));

    // The outermost End puts every state of the style back.
    shader->End();
    EXPECT_EQ(shader->GetBeginLevel(), 0);
    EXPECT_EQ(Calls(control), (std::vector<std::string>{
                                  "SetVertexShader(null)",
                                  "SetPixelShader(null)",
                                  "SetSourceBlend(0)",
                                  "SetTexture(2, null)",
                                  "SetAlphaTestFunction(7)",
                                  "SetAlphaReference(0)",
                              }));
    EXPECT_TRUE(shader->SetFloat4(colorName, 0, half)); // unset with its level

    // Begin with an index past the styles changes nothing.
    EXPECT_FALSE(shader->Begin(2));
    EXPECT_FALSE(shader->Begin(-1));
    EXPECT_EQ(shader->GetBeginLevel(), 0);
    engine->UnloadShader2(shader);
}

TEST_F(ShaderTest, SettersCheckNamesTypesAndElementsAndKeepPointersWhole)
{
    GraphicsShader2* shader = LoadTestShader();
    Software::DeviceControl* control = Control();
    ASSERT_TRUE(shader->Begin(0));
    const float four[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    EXPECT_TRUE(shader->SetFloat(Name::Create("not a parameter"), 0, 1.0f));
    EXPECT_FALSE(shader->SetFloat(colorName, 0, 1.0f));                           // a float4
    EXPECT_FALSE(shader->SetFloat4(colorName, 1, four));                          // one element only
    EXPECT_TRUE(shader->SetFloat3(tintName, 0, Color(0.25f, 0.5f, 0.75f, 1.0f))); // type 12 reads as float3
    EXPECT_FALSE(shader->SetFloat4(tintName, 0, four));

    // Register counts: an array of four float4 bound to two registers, two float4x3 to six, a
    // float4x4 to three.
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_TRUE(shader->SetFloat4(arrayName, i, four));
    EXPECT_FALSE(shader->SetFloat4(arrayName, 4, four));
    Coords bone;
    bone.xAxis = Vec3(1.0f, 2.0f, 3.0f);
    bone.yAxis = Vec3(4.0f, 5.0f, 6.0f);
    bone.zAxis = Vec3(7.0f, 8.0f, 9.0f);
    bone.origin = Vec3(10.0f, 11.0f, 12.0f);
    EXPECT_TRUE(shader->SetFloat4x3(bonesName, 1, bone));
    EXPECT_TRUE(shader->SetFloat4x4(matrix2Name, 0, Mat4()));

    // The engine's default texture through a device-texture parameter: the pointer arrives whole.
    ASSERT_NE(engine->GetDefaultTexture(), nullptr);
    EXPECT_TRUE(shader->SetTexture(baseTextureName, 0, engine->GetDefaultTexture()));
    shader->Render();
    const std::vector<std::string> calls = Calls(control);
    for (const char* expected : {"SetVertexShaderConstants(12, 2)", "SetVertexShaderConstants(16, 6)",
                                 "SetVertexShaderConstants(30, 3)", "SetPixelShaderConstants(0, 1)"})
        EXPECT_NE(std::find(calls.begin(), calls.end(), expected), calls.end()) << expected;
    EXPECT_EQ(control->GetRenderState().textures[2], engine->GetDefaultTexture());
    EXPECT_EQ(control->GetRejectedCallCount(), 0u);

    // A placement goes out as three rows of four: axes and origin transposed.
    const std::vector<float> constants = control->GetVertexShaderConstants();
    const float* second = &constants[(16 + 3) * 4];
    EXPECT_EQ(std::vector<float>(second, second + 12),
              (std::vector<float>{1, 4, 7, 10, 2, 5, 8, 11, 3, 6, 9, 12}));
    EXPECT_EQ(control->GetPixelShaderConstants()[1], 0.5f);
    shader->End();
    engine->UnloadShader2(shader);
}

// A section whose chunks are given raw.
std::vector<uint8_t> Raw(const std::string& generation, uint32_t type, const std::vector<uint8_t>& body)
{
    ShaderWriter writer;
    writer.AddSection(generation).RawChunk(type, body);
    return writer.Write();
}

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words)
{
    std::vector<uint8_t> out;
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(w >> (8 * i)));
    return out;
}

TEST_F(ShaderTest, BadFilesFailWholeWithNothingKept)
{
    const std::vector<uint8_t> good = TestShader(false);
    ASSERT_EQ(Try(good), Resource::INIT_SUCCESS);

    // Every truncation of a good file that ends with the section read.
    for (size_t size = 0; size < good.size(); ++size)
        ASSERT_EQ(Try(std::vector<uint8_t>(good.begin(), good.begin() + size)), Resource::INIT_INVALID_DATA)
            << size;

    std::vector<uint8_t> bad = good;
    bad[2] = 'X';
    EXPECT_EQ(Try(bad), Resource::INIT_INVALID_DATA);
    bad = good;
    bad[3] = 3;
    EXPECT_EQ(Try(bad), Resource::INIT_INVALID_DATA);

    // A section name longer than 1 MiB.
    std::vector<uint8_t> longName = {'S', 'S', 'H', 4};
    const std::vector<uint8_t> length = Words({0x100001});
    longName.insert(longName.end(), length.begin(), length.end());
    longName.resize(longName.size() + 0x100001 + 8, 'x');
    EXPECT_EQ(Try(longName), Resource::INIT_INVALID_DATA);

    // Counts over 1000, and counts the data cannot hold.
    EXPECT_EQ(Try(Raw("GeForce6", 0, Words({1001}))), Resource::INIT_INVALID_DATA);
    EXPECT_EQ(Try(Raw("GeForce6", 1, Words({1001}))), Resource::INIT_INVALID_DATA);
    EXPECT_EQ(Try(Raw("GeForce6", 2, Words({1001}))), Resource::INIT_INVALID_DATA);
    EXPECT_EQ(Try(Raw("GeForce6", 2, Words({1000}))), Resource::INIT_INVALID_DATA);
    // A parameter record running past its chunk (the file goes on after it).
    std::vector<uint8_t> cut = Words({1, 1, 'a', S::TYPE_INT});
    cut.erase(cut.end() - 3, cut.end());
    ShaderWriter tail;
    tail.AddSection("GeForce6").RawChunk(0, cut).RawChunk(9, std::vector<uint8_t>(64, 0));
    EXPECT_EQ(Try(tail.Write()), Resource::INIT_INVALID_DATA);
    // A chunk larger than its section.
    std::vector<uint8_t> chunk = Raw("GeForce6", 9, Words({1, 2}));
    chunk[chunk.size() - 12] = 0xFF; // the chunk size
    EXPECT_EQ(Try(chunk), Resource::INIT_INVALID_DATA);
    // An unknown chunk is skipped.
    EXPECT_EQ(Try(Raw("GeForce6", 9, Words({1, 2, 3}))), Resource::INIT_SUCCESS);

    auto withSection = [](auto build) {
        ShaderWriter writer;
        ShaderWriter::Section& s = writer.AddSection("GeForce6");
        build(s);
        return writer.Write();
    };
    // A style's fixed word.
    std::vector<uint8_t> style = withSection([](ShaderWriter::Section& s) { s.Style("a", 0); });
    ASSERT_EQ(Try(style), Resource::INIT_SUCCESS);
    style[style.size() - 8] = 2;
    EXPECT_EQ(Try(style), Resource::INIT_INVALID_DATA);
    // Indices that point nowhere, stages past 15, registers past 255.
    EXPECT_EQ(Try(withSection([](ShaderWriter::Section& s) { s.Style("a", 0).StateFromParameter(3, 0); })),
              Resource::INIT_INVALID_DATA);
    EXPECT_EQ(
        Try(withSection([](ShaderWriter::Section& s) { s.Style("a", 0).StateFromValue(3, s.Int(1) + 1); })),
        Resource::INIT_INVALID_DATA);
    EXPECT_EQ(Try(withSection([](ShaderWriter::Section& s) {
                  s.Style("a", 0).StateFromValue(S::STATE_TEXTURE, s.Texture("Textures/base.tex"), 16);
              })),
              Resource::INIT_INVALID_DATA);
    EXPECT_EQ(Try(withSection([](ShaderWriter::Section& s) {
                  s.Style("a", 0).StateFromValue(S::STATE_STAGE_STATE_1, s.Int(1), 15);
              })),
              Resource::INIT_SUCCESS);
    EXPECT_EQ(Try(withSection([](ShaderWriter::Section& s) { s.Parameter("p", S::TYPE_FLOAT, 1, 0); })),
              Resource::INIT_INVALID_DATA);
    EXPECT_EQ(Try(withSection([](ShaderWriter::Section& s) { s.Parameter("p", S::TYPE_FLOAT, 257); })),
              Resource::INIT_INVALID_DATA);
    EXPECT_EQ(Try(withSection([](ShaderWriter::Section& s) {
                  s.VertexProgram("v", {{0, 1, true, 1}});
              })),
              Resource::INIT_INVALID_DATA);
    EXPECT_EQ(Try(withSection([](ShaderWriter::Section& s) {
                  s.Parameter("p", S::TYPE_FLOAT4, 16);
                  s.VertexProgram("v", {{250, 7, false, 0}});
              })),
              Resource::INIT_INVALID_DATA);
    EXPECT_EQ(Try(withSection([](ShaderWriter::Section& s) { s.RawValue(14, {}); })),
              Resource::INIT_INVALID_DATA);
    EXPECT_EQ(Try(withSection([](ShaderWriter::Section& s) { s.VertexProgram(""); })),
              Resource::INIT_INVALID_DATA);
    // A string value is read and dropped; a default of another type is used as its own type.
    EXPECT_EQ(Try(withSection([](ShaderWriter::Section& s) {
                  s.Parameter("p", S::TYPE_FLOAT4X4, 1, s.String("text"));
                  s.Style("a", 0).StateFromParameter(S::STATE_SOURCE_BLEND, 0);
              })),
              Resource::INIT_SUCCESS);

    // A fault after a texture and a program were made: both are given back.
    EXPECT_EQ(Try(withSection([](ShaderWriter::Section& s) {
                  s.Texture("Textures/base.tex");
                  s.VertexProgram("first");
                  s.PixelProgram("");
              })),
              Resource::INIT_INVALID_DATA);
    // The device refuses a program.
    Control()->InjectFailure(Failure::Shader, 1);
    EXPECT_EQ(Try(withSection([](ShaderWriter::Section& s) { s.PixelProgram("refused"); })),
              Resource::INIT_INVALID_DATA);
    EXPECT_TRUE(log.Contains("the device refused a pixel program"));
}

TEST_F(ShaderTest, TheSampleShadersLoadForBothSampleGenerations)
{
    for (RenderGenerationId generation : {RENDER_GENERATION_GEFORCE6, RENDER_GENERATION_GEFORCE3}) {
        engine->SetGeneration(generation);
        for (const auto& writer : {ShaderWriter::SampleBasic(), ShaderWriter::SampleOverlay(),
                                   ShaderWriter::SampleLit(), ShaderWriter::SampleUnlit()}) {
            GraphicsShader2 shader(engine->GetShaderManager(), "sample.ssh", engine.get());
            const std::vector<uint8_t> bytes = writer.Write();
            ASSERT_EQ(shader.Initialize(bytes.data(), int(bytes.size())), Resource::INIT_SUCCESS);
            EXPECT_TRUE(shader.HasParameter(Name::Create("objectToScreenMatrix")));
            EXPECT_TRUE(shader.HasParameter(Name::Create("baseTexture")));
            EXPECT_TRUE(shader.FindStyleByName(Name::Create("normal")) >= 0 ||
                        shader.FindStyleByName(Name::Create("ambientLightStyle")) >= 0);
            shader.Destroy();
        }
    }
}

} // namespace
} // namespace GAME
