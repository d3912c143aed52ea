// Shared pieces of the emitter, effect entity and light tests: emitter graphics that answer with
// stand-in texture and shader handles of a chosen frame count, a way to mark an emitter drawn, and
// a world fixture whose record database holds effect entities and lights.
#pragma once

#include "LevelFixtures.h"
#include "graphics/GraphicsCanvas.h"
#include "scene/RenderablePass.h"
#include "world/Emitter.h"
#include "world/EmitterGraphics.h"

namespace GAME::WorldTest {

// Hands out handles that only the test compares; nothing dereferences them.
class TestEmitterGraphics : public EmitterGraphics
{
public:
    TestEmitterGraphics() { Install(this); }
    ~TestEmitterGraphics() override { Install(nullptr); }

    GraphicsTexture* LoadTexture(const std::string& name) override
    {
        ++textureLoads;
        return name.empty() || missing ? nullptr : reinterpret_cast<GraphicsTexture*>(&m_texture);
    }
    void UnloadTexture(GraphicsTexture*) override { ++textureUnloads; }
    GraphicsShader2* LoadShader(const std::string& name) override
    {
        return name.empty() || missing ? nullptr : reinterpret_cast<GraphicsShader2*>(&m_shader);
    }
    void UnloadShader(GraphicsShader2*) override {}
    unsigned int GetNumFrames(const GraphicsTexture*) override { return frames; }
    int FindStyleByName(const GraphicsShader2*, const Name& style) override
    {
        return style == Name::Create("particleStyle") ? 0 : -1;
    }
    int GetSortOrder(const GraphicsShader2*, int) override { return 7; }
    void PreLoad(GraphicsTexture*, GraphicsShader2*) override {}
    void ApplyPass(const GraphicsShader2*, const GraphicsTexture*, unsigned int, const Mat4&) override {}

    unsigned int frames = 1;
    bool missing = false;
    int textureLoads = 0;
    int textureUnloads = 0;

private:
    int m_texture = 0;
    int m_shader = 0;
};

// RenderPass over a canvas without a device: the emitter counts as drawn and builds its geometry.
inline void MarkDrawn(Emitter& emitter)
{
    GraphicsCanvas canvas(nullptr, nullptr);
    RenderablePass pass;
    int renderer = 0;
    emitter.RenderPass(pass, Name::Create("particleStyle"), canvas,
                       *reinterpret_cast<const GraphicsSceneRenderer*>(&renderer));
}

} // namespace GAME::WorldTest
