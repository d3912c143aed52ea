#include "world/EmitterGraphics.h"

#include "graphics/GraphicsEngine.h"
#include "world/Engine.h"

namespace GAME {

namespace {

class GraphicsEngineEmitterGraphics : public EmitterGraphics
{
public:
    GraphicsTexture* LoadTexture(const std::string& fileName) override
    {
        GraphicsEngine* graphics = Graphics();
        return graphics ? graphics->LoadTexture(fileName) : nullptr;
    }
    void UnloadTexture(GraphicsTexture* texture) override
    {
        if (GraphicsEngine* graphics = Graphics())
            graphics->UnloadTexture(texture);
    }
    GraphicsShader2* LoadShader(const std::string& fileName) override
    {
        GraphicsEngine* graphics = Graphics();
        return graphics ? graphics->LoadShader2(fileName) : nullptr;
    }
    void UnloadShader(GraphicsShader2* shader) override
    {
        if (GraphicsEngine* graphics = Graphics())
            graphics->UnloadShader2(shader);
    }
    // TODO(stand-in): GraphicsTexture::GetNumFrames once textures exist.
    unsigned int GetNumFrames(const GraphicsTexture* texture) override { return texture ? 1u : 0u; }
    // TODO(stand-in): GraphicsShader2::FindStyleByName once shaders exist.
    int FindStyleByName(const GraphicsShader2*, const Name&) override { return -1; }
    // TODO(stand-in): GraphicsShader2::GetSortOrder once shaders exist.
    int GetSortOrder(const GraphicsShader2*, int) override { return 0; }
    // TODO(stand-in): the texture and shader resources go to ResourceLoader::EnqueueResource once
    // they are resources.
    void PreLoad(GraphicsTexture*, GraphicsShader2*) override {}
    // TODO(stand-in): SetFloat4x4("objectToScreenMatrix", the pass's region-to-scene placement
    // times the renderer's world-to-screen matrix), SetTexture("baseTexture", frame) and
    // Render("Emitter") once shaders and the scene renderer exist.
    void ApplyPass(const GraphicsShader2*, const GraphicsTexture*, unsigned int, const RenderablePass&,
                   const GraphicsSceneRenderer&) override
    {
    }

private:
    static GraphicsEngine* Graphics() { return gEngine ? gEngine->GetGraphicsEngine() : nullptr; }
};

GraphicsEngineEmitterGraphics g_default;
EmitterGraphics* g_installed = nullptr;

} // namespace

void EmitterGraphics::Install(EmitterGraphics* graphics)
{
    g_installed = graphics;
}

EmitterGraphics* EmitterGraphics::Get()
{
    return g_installed ? g_installed : &g_default;
}

} // namespace GAME
