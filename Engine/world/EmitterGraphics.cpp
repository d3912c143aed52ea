#include "world/EmitterGraphics.h"

#include "core/Mat4.h"
#include "core/Name.h"
#include "data/BaseResourceManager.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "world/Engine.h"

namespace GAME {

namespace {

// Asking a resource whether it is there marks it used; neither changes what the caller holds.
GraphicsShader2* Ready(const GraphicsShader2* shader)
{
    auto* s = const_cast<GraphicsShader2*>(shader);
    return s && s->GetIsReadyToUse() ? s : nullptr;
}

GraphicsTexture* Ready(const GraphicsTexture* texture)
{
    auto* t = const_cast<GraphicsTexture*>(texture);
    return t && t->GetIsReadyToUse() ? t : nullptr;
}

void PreLoadResource(Resource* resource)
{
    if (resource)
        if (BaseResourceManager* manager = resource->GetResourceManager())
            manager->PreLoadResource(resource);
}

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
    unsigned int GetNumFrames(const GraphicsTexture* texture) override
    {
        const GraphicsTexture* ready = Ready(texture);
        return ready ? static_cast<unsigned int>(ready->GetNumFrames()) : 0u;
    }
    int FindStyleByName(const GraphicsShader2* shader, const Name& style) override
    {
        const GraphicsShader2* ready = Ready(shader);
        return ready ? ready->FindStyleByName(style) : GraphicsShader2::noStyle;
    }
    int GetSortOrder(const GraphicsShader2* shader, int styleIndex) override
    {
        return shader ? shader->GetSortOrder(styleIndex) : 0;
    }
    void PreLoad(GraphicsTexture* texture, GraphicsShader2* shader) override
    {
        PreLoadResource(texture);
        PreLoadResource(shader);
    }
    void ApplyPass(const GraphicsShader2* shader, const GraphicsTexture* texture, unsigned int frame,
                   const Mat4& objectToScreen) override
    {
        static const Name objectToScreenMatrix = Name::Create("objectToScreenMatrix");
        static const Name baseTexture = Name::Create("baseTexture");
        GraphicsShader2* s = const_cast<GraphicsShader2*>(shader);
        if (!s)
            return;
        s->SetFloat4x4(objectToScreenMatrix, 0, objectToScreen);
        s->SetTexture(baseTexture, 0, texture ? texture->GetTexture(static_cast<int>(frame)) : nullptr);
        s->Render("Emitter");
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
