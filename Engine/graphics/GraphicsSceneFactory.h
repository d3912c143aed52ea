// What the graphics engine needs of the scene floor above it, which it may not include: the
// managers of the resource kinds whose classes live in scene (meshes and animations), typed loads
// and unloads through them, and the scene renderers' shared resources (the portal mask and depth
// lookup shaders and textures, and the render targets the normal renderer draws shadows and
// scenes into) that the graphics engine makes, remakes on a device reset and destroys with its
// device. Scene implements this interface and installs it when the library is loaded
// (scene/SceneFactory.cpp): a graphics engine is made without an engine too (tests, tools).
//
// Without an implementation (never the case inside the library) the graphics engine has no mesh or
// animation manager, loads no mesh or animation and makes no scene resources.
//
// Threads: main thread, like the graphics engine's own resource management; Install while nothing
// else runs.
#pragma once

#include "graphics/GraphicsResourceManagers.h"

#include <string>

namespace GAME {

class GraphicsEngine;
class ResourceLoader;

class GraphicsSceneFactory
{
public:
    virtual ~GraphicsSceneFactory() = default;

    // New managers, owned by the graphics engine from then on.
    virtual MeshResourceManager* CreateMeshManager(ResourceLoader* loader, GraphicsEngine* graphics) = 0;
    virtual AnimationResourceManager* CreateAnimationManager(ResourceLoader* loader,
                                                             GraphicsEngine* graphics) = 0;
    // The manager's LoadTypedResource and UnloadTypedResource (null is ignored).
    virtual GraphicsMesh* LoadMesh(MeshResourceManager& manager, const std::string& fileName) = 0;
    virtual void UnloadMesh(MeshResourceManager& manager, const GraphicsMesh* mesh) = 0;
    virtual GraphicsAnim* LoadAnimation(AnimationResourceManager& manager, const std::string& fileName) = 0;
    virtual void UnloadAnimation(AnimationResourceManager& manager, const GraphicsAnim* animation) = 0;

    // The scene renderer's and the shadow-map renderer's shaders and textures.
    virtual void CreateSceneResources(GraphicsEngine& graphics) = 0;
    virtual void DestroySceneResources(GraphicsEngine& graphics) = 0;
    // The normal renderer's render targets, at the shadow maps' sizes.
    virtual void CreateRenderTargets(GraphicsEngine& graphics, unsigned int shadowSize,
                                     unsigned int pointShadowSize) = 0;
    virtual void DestroyRenderTargets(GraphicsEngine& graphics) = 0;

    // Installs the one implementation (null removes it).
    static void Install(GraphicsSceneFactory* factory);
    static GraphicsSceneFactory* Get();
};

} // namespace GAME
