#include "scene/SceneFactory.h"

#include "graphics/GraphicsSceneFactory.h"
#include "scene/GraphicsAnim.h"
#include "scene/GraphicsMesh.h"
#include "scene/GraphicsNormalRenderer.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/GraphicsShadowMap.h"

namespace GAME {

namespace {

class Factory : public GraphicsSceneFactory
{
public:
    MeshResourceManager* CreateMeshManager(ResourceLoader* loader, GraphicsEngine* graphics) override
    {
        return new MeshResourceManager(loader, graphics, "GraphicsMesh");
    }
    AnimationResourceManager* CreateAnimationManager(ResourceLoader* loader,
                                                     GraphicsEngine* graphics) override
    {
        return new AnimationResourceManager(loader, graphics, "GraphicsAnim");
    }
    GraphicsMesh* LoadMesh(MeshResourceManager& manager, const std::string& fileName) override
    {
        return manager.LoadTypedResource(fileName);
    }
    void UnloadMesh(MeshResourceManager& manager, const GraphicsMesh* mesh) override
    {
        manager.UnloadTypedResource(mesh);
    }
    GraphicsAnim* LoadAnimation(AnimationResourceManager& manager, const std::string& fileName) override
    {
        return manager.LoadTypedResource(fileName);
    }
    void UnloadAnimation(AnimationResourceManager& manager, const GraphicsAnim* animation) override
    {
        manager.UnloadTypedResource(animation);
    }
    void CreateSceneResources(GraphicsEngine& graphics) override
    {
        GraphicsSceneRenderer::CreateResources(graphics);
        GraphicsShadowMapRenderer::CreateResources(graphics);
    }
    void DestroySceneResources(GraphicsEngine& graphics) override
    {
        GraphicsShadowMapRenderer::DestroyResources(graphics);
        GraphicsSceneRenderer::DestroyResources(graphics);
    }
    void CreateRenderTargets(GraphicsEngine& graphics, unsigned int shadowSize,
                             unsigned int pointShadowSize) override
    {
        GraphicsNormalRenderer::CreateRenderTargets(graphics, shadowSize, pointShadowSize);
    }
    void DestroyRenderTargets(GraphicsEngine& graphics) override
    {
        GraphicsNormalRenderer::DestroyRenderTargets(graphics);
    }
};

Factory s_factory;

const bool s_installed = [] {
    GraphicsSceneFactory::Install(&s_factory);
    return true;
}();

} // namespace

void SceneFactory::Install()
{
    (void)s_installed;
    GraphicsSceneFactory::Install(&s_factory);
}

} // namespace GAME
