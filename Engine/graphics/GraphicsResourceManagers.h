// The graphics engine's resource managers, one per resource kind: textures, fonts, shaders,
// meshes and animations. Each makes the resources of its class; a class whose constructor also
// takes the graphics engine (manager, file name, engine) receives it, so it can reach the device
// and the engine's fallback textures. The aliases at the end name the class of
// each kind: plugging a new resource class in is a change of its one line (and the include of its
// header where its manager is made: GraphicsEngine.cpp, or for the kinds whose classes live in
// scene, meshes and animations, scene/SceneFactory.cpp).
//
// Threads: as BaseResourceManager.
#pragma once

#include "data/BaseResourceManager.h"

#include <new>
#include <string>
#include <type_traits>

namespace GAME {

class GraphicsEngine;
class GraphicsTexture;
class GraphicsFont;
class GraphicsShader2;
class GraphicsMesh;
class GraphicsAnim;

// The manager of one graphics resource kind T: ResourceManager<T>'s operations, and a kind whose
// constructor also takes the graphics engine (manager, file name, engine) receives it.
template <class T> class GraphicsResourceManager : public BaseResourceManager
{
public:
    // The class name is for the log lines of stand-in managers; this one needs none.
    GraphicsResourceManager(ResourceLoader* loader, GraphicsEngine* graphics, const char* = nullptr)
        : BaseResourceManager(loader), m_graphics(graphics)
    {
    }

    Resource* CreateResource(const std::string& fileName) override
    {
        if constexpr (std::is_constructible_v<T, BaseResourceManager*, const std::string&, GraphicsEngine*>)
            return new (std::nothrow) T(this, fileName, m_graphics);
        else
            return new (std::nothrow) T(this, fileName);
    }

    // LoadResource and UnloadResource with the kind's own type (null is ignored).
    T* LoadTypedResource(const std::string& fileName) { return static_cast<T*>(LoadResource(fileName)); }
    void UnloadTypedResource(const T* resource) { UnloadResource(resource); }
    GraphicsEngine* GetGraphicsEngine() const { return m_graphics; }

private:
    GraphicsEngine* m_graphics;
};

using TextureResourceManager = GraphicsResourceManager<GraphicsTexture>;
using ShaderResourceManager = GraphicsResourceManager<GraphicsShader2>;
using FontResourceManager = GraphicsResourceManager<GraphicsFont>;
using MeshResourceManager = GraphicsResourceManager<GraphicsMesh>;
using AnimationResourceManager = GraphicsResourceManager<GraphicsAnim>;

} // namespace GAME
