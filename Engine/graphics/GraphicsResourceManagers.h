// The graphics engine's resource managers, one per resource kind: textures, fonts, shaders,
// meshes and animations. Each makes the resources of its class; a class whose constructor also
// takes the graphics engine (manager, file name, engine) receives it, so it can reach the device
// and the engine's fallback textures. The aliases at the end name the class of
// each kind: plugging a new resource class in is a change of its one line (and the include of its
// header in GraphicsEngine.cpp).
//
// Threads: as BaseResourceManager.
#pragma once

#include "core/Log.h"
#include "data/BaseResourceManager.h"

#include <atomic>
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

// Stands in for the manager of a kind whose resource class is not part of the library yet: it
// makes no resource, and the first request says once which class is missing.
template <class T> class PendingResourceManager : public BaseResourceManager
{
public:
    PendingResourceManager(ResourceLoader* loader, GraphicsEngine*, const char* className)
        : BaseResourceManager(loader), m_className(className)
    {
    }

    Resource* CreateResource(const std::string& fileName) override
    {
        if (!m_reported.exchange(true))
            LogPrintf(1, "'%s' not loaded: the %s resource class is not built yet", fileName.c_str(),
                      m_className);
        return nullptr;
    }
    T* LoadTypedResource(const std::string& fileName)
    {
        CreateResource(fileName);
        return nullptr;
    }
    void UnloadTypedResource(const T*) {}
    GraphicsEngine* GetGraphicsEngine() const { return nullptr; }

private:
    const char* m_className;
    std::atomic<bool> m_reported{false};
};

using TextureResourceManager = GraphicsResourceManager<GraphicsTexture>;
using ShaderResourceManager = GraphicsResourceManager<GraphicsShader2>;
// TODO(stand-in): the font resource class (GraphicsFont) is not built yet, so its manager makes
// nothing and LoadFont answers null; when it lands, its alias becomes
// GraphicsResourceManager<GraphicsFont>.
using FontResourceManager = PendingResourceManager<GraphicsFont>;
using MeshResourceManager = GraphicsResourceManager<GraphicsMesh>;
using AnimationResourceManager = GraphicsResourceManager<GraphicsAnim>;

} // namespace GAME
