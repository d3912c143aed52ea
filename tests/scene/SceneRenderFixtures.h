// Pieces shared by the scene renderer tests: renderables made in the test that answer set passes
// and write every query and draw into a journal, a scene renderer that records the shaders it
// begins, and a graphics engine over the software device (the graphics tests' fixture) with
// shaders written by datakit's shader writer.
#pragma once

#include "graphics/GraphicsFixtures.h"

#include "core/Log.h"
#include "core/Name.h"
#include "datakit/ShaderWriter.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsShader2.h"
#include "scene/GraphicsNormalRenderer.h"
#include "scene/GraphicsRenderable.h"
#include "scene/GraphicsSceneRenderer.h"
#include "world/Region.h"

#include <memory>
#include <string>
#include <vector>

namespace GAME::SceneRenderTest {

struct PassSpec
{
    int sortOrder = 0;
    const GraphicsShader2* shader = nullptr;
    std::string shaderStyle; // looked up inside the shader
    const GraphicsTexture* texture = nullptr;
    float opacity = 1.0f;
};

// One draw as the renderable saw it.
struct Draw
{
    std::string renderable;
    int pass = 0;
    std::string style;    // the frame's style
    int shaderStyle = -1; // the shader's current style while drawing
    int beginLevel = 0;   // of the record's shader while drawing
    RenderablePass record;
};

class TestRenderable : public GraphicsRenderable
{
public:
    TestRenderable(std::string name, const ABBox& box, std::vector<Draw>* draws = nullptr,
                   std::vector<std::string>* journal = nullptr)
        : m_name(std::move(name)), m_box(box), m_draws(draws), m_journal(journal)
    {
    }
    virtual ~TestRenderable() = default;

    // Passes answered for the style (by its text); the empty text answers every other style.
    void SetPasses(const std::string& style, std::vector<PassSpec> passes)
    {
        m_styles.push_back({Name::Create(style.c_str()), style, std::move(passes)});
    }
    void SetCastsShadows(bool casts) { m_casts = casts; }
    void SetBox(const ABBox& box) { m_box = box; }

    int GetNumRenderPasses(const Name& style, RenderGenerationId) const override
    {
        const Entry* entry = Find(style);
        Note("count " + (entry ? entry->text : std::string("-")));
        return entry ? static_cast<int>(entry->passes.size()) : 0;
    }
    ABBox GetRenderPassBoundingBox() const override { return m_box; }
    int GetRenderPassSortOrder(int pass, const Name& style, RenderGenerationId) const override
    {
        Note("sort " + std::to_string(pass));
        return Spec(pass, style).sortOrder;
    }
    const GraphicsShader2* GetShader2(int pass, const Name& style) const override
    {
        Note("shader " + std::to_string(pass));
        return Spec(pass, style).shader;
    }
    const Name& GetShaderStyle(int pass, const Name& style, RenderGenerationId) const override
    {
        Note("style " + std::to_string(pass));
        m_styleName = Name::Create(Spec(pass, style).shaderStyle.c_str());
        return m_styleName;
    }
    const GraphicsTexture* GetTexture(int pass, const Name& style) const override
    {
        Note("texture " + std::to_string(pass));
        return Spec(pass, style).texture;
    }
    float GetOpacity(int pass, const Name& style) const override
    {
        Note("opacity " + std::to_string(pass));
        return Spec(pass, style).opacity;
    }
    bool GetCastsShadows() const override { return m_casts; }
    void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas&,
                    const GraphicsSceneRenderer&) override
    {
        if (!m_draws)
            return;
        Draw draw;
        draw.renderable = m_name;
        draw.pass = pass.passIndex;
        draw.style = StyleText(style);
        draw.shaderStyle = pass.shader->GetCurrentStyle();
        draw.beginLevel = pass.shader->GetBeginLevel();
        draw.record = pass;
        m_draws->push_back(draw);
    }
    void LogInfo() const override { LogPrintf(0, "renderable %s", m_name.c_str()); }

    const std::string& GetName() const { return m_name; }

private:
    struct Entry
    {
        Name name;
        std::string text;
        std::vector<PassSpec> passes;
    };
    const Entry* Find(const Name& style) const
    {
        for (const Entry& entry : m_styles)
            if (entry.name == style)
                return &entry;
        for (const Entry& entry : m_styles)
            if (entry.text.empty())
                return &entry;
        return nullptr;
    }
    const PassSpec& Spec(int pass, const Name& style) const
    {
        return Find(style)->passes[static_cast<size_t>(pass)];
    }
    std::string StyleText(const Name& style) const
    {
        static const char* known[] = {"ambientLightStyle",
                                      "dLightDiffuseStyle",
                                      "pLightDiffuseStyle",
                                      "dLightDiffuseAmbientStyle",
                                      "pLightDiffuseAmbientStyle",
                                      "depthStyle",
                                      "emissiveStyle",
                                      "fogStyle",
                                      "transparencyMaskStyle",
                                      "shadow",
                                      "pLightShadowStyle",
                                      "mask",
                                      "reflectionStyle"};
        for (const char* text : known)
            if (Name::Create(text) == style)
                return text;
        for (const Entry& entry : m_styles)
            if (entry.name == style)
                return entry.text;
        return "?";
    }
    void Note(const std::string& text) const
    {
        if (m_journal)
            m_journal->push_back(m_name + " " + text);
    }

    std::string m_name;
    ABBox m_box;
    std::vector<Draw>* m_draws;
    std::vector<std::string>* m_journal;
    std::vector<Entry> m_styles;
    bool m_casts = true;
    mutable Name m_styleName;
};

// A scene renderer that records each begun shader and style, and adds each region's renderables
// (registered with AddContents) when the region is added.
class RecordingRenderer : public GraphicsSceneRenderer
{
public:
    struct Begun
    {
        const GraphicsShader2* shader;
        int style;
    };
    bool SetSceneShaderParameters(GraphicsCanvas&, GraphicsShader2& shader) override
    {
        begun.push_back({&shader, shader.GetCurrentStyle()});
        return true;
    }
    void AddRegionContents(Region* region, const Coords&, const Frustum&, const WorldFrustum*) override
    {
        added.push_back(region);
        for (auto& [owner, renderable] : contents)
            if (owner == region)
                AddRenderable(renderable, region);
    }
    std::vector<Begun> begun;
    std::vector<Region*> added;
    std::vector<std::pair<Region*, GraphicsRenderable*>> contents;
};

// A shader with the named styles (sort order 0, no state) in the sections of both generations the
// devices load.
inline std::vector<uint8_t> StylesShader(const std::vector<std::string>& styles)
{
    DataKit::ShaderWriter writer;
    for (const char* generation : {"GeForce6", "GeForce3"}) {
        DataKit::ShaderWriter::Section& section = writer.AddSection(generation);
        for (const std::string& style : styles)
            section.Style(style, 0);
    }
    return writer.Write();
}

class SceneRenderFixture : public GAME::Test::GraphicsFixture
{
protected:
    void SetUp() override { Start(); }
    void TearDown() override
    {
        regions.clear();
        GAME::Test::GraphicsFixture::TearDown();
    }

    GraphicsShader2* Shader(const std::string& name, const std::vector<std::string>& styles)
    {
        return LoadShader(name, StylesShader(styles));
    }
    Region* MakeRegion(const IntVec3& offset = IntVec3())
    {
        regions.push_back(std::make_unique<Region>(ABBox(Vec3(), Vec3(50.0f, 50.0f, 50.0f))));
        regions.back()->SetOffsetFromWorld(offset);
        return regions.back().get();
    }
    GraphicsCanvas& Canvas() { return *engine->GetCanvas(); }

    std::vector<std::unique_ptr<Region>> regions;
};

} // namespace GAME::SceneRenderTest
