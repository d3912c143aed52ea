// Shared pieces of the scene tests: a file system over files held in memory installed as the data
// layer's services, a graphics engine over the software device, a resource loader (no thread: loads
// run on the test's thread) with a mesh and an animation manager, and small helpers to make names,
// frames and hand-made files.
#pragma once

#include "Software/SoftwareDeviceControl.h"
#include "common/LogCapture.h"
#include "common/MemoryFiles.h"
#include "core/Coords.h"
#include "core/Quat.h"
#include "data/BaseResourceManager.h"
#include "data/ResourceLoader.h"
#include "data/ResourceManager.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderVertexBuffer.h"
#include "platform/Module.h"
#include "scene/GraphicsAnim.h"
#include "scene/GraphicsMesh.h"

#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace GAME::SceneTest {

// Makes meshes that use the fixture's graphics engine.
class MeshManager : public BaseResourceManager
{
public:
    MeshManager(ResourceLoader* loader, GraphicsEngine* graphics)
        : BaseResourceManager(loader), m_graphics(graphics)
    {
    }
    Resource* CreateResource(const std::string& fileName) override
    {
        return new GraphicsMesh(this, fileName, m_graphics);
    }

private:
    GraphicsEngine* m_graphics;
};

class SceneFixture : public ::testing::Test
{
protected:
    SceneFixture()
    {
        m_module = Platform::LoadModule("Software");
        if (auto get = reinterpret_cast<Software::GetModuleControlFunction>(
                Platform::FindModuleSymbol(m_module, Software::moduleControlSymbol)))
            m_control = get();
        graphics = std::make_unique<GraphicsEngine>(&options);
        GraphicsEngineSettings settings;
        settings.deviceName = "Software";
        graphics->CreateDevice(nullptr, settings);
        meshes = std::make_unique<MeshManager>(&loader, graphics.get());
    }
    ~SceneFixture() override
    {
        meshes.reset();
        anims.reset();
        graphics.reset();
        RenderDevice::UnloadLibraries();
        Platform::UnloadModule(m_module);
    }

    RenderDevice* Device() const { return graphics->GetRenderDevice(); }
    Software::DeviceControl* Control() const
    {
        return m_control ? m_control->GetDeviceControl(Device()) : nullptr;
    }

    // Puts the bytes in the file system and loads the mesh of that name (on this thread).
    GraphicsMesh* LoadMesh(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        services.source->Put(name, bytes);
        auto* mesh = static_cast<GraphicsMesh*>(meshes->LoadResource(name));
        if (mesh)
            mesh->EnsureAvailable();
        return mesh;
    }
    GraphicsAnim* LoadAnim(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        services.source->Put(name, bytes);
        GraphicsAnim* anim = anims->LoadTypedResource(name);
        if (anim)
            anim->EnsureAvailable();
        return anim;
    }
    // The bytes of a device buffer.
    static std::vector<uint8_t> Contents(RenderVertexBuffer* buffer)
    {
        std::vector<uint8_t> bytes;
        if (!buffer)
            return bytes;
        const auto* data = static_cast<const uint8_t*>(buffer->Lock());
        if (data)
            bytes.assign(data, data + buffer->GetSize());
        buffer->Unlock();
        return bytes;
    }

    GAME::Test::MemoryDataServices services;
    GAME::Test::LogCapture log;
    Options options;
    std::unique_ptr<GraphicsEngine> graphics;
    ResourceLoader loader;
    std::unique_ptr<MeshManager> meshes;
    std::unique_ptr<ResourceManager<GraphicsAnim>> anims =
        std::make_unique<ResourceManager<GraphicsAnim>>(&loader);

private:
    Platform::ModuleHandle m_module = nullptr;
    Software::ModuleControl* m_control = nullptr;
};

inline Quat AxisAngle(const Vec3& axis, float angle)
{
    const float s = std::sin(angle * 0.5f);
    return Quat(axis.x * s, axis.y * s, axis.z * s, std::cos(angle * 0.5f));
}

inline void ExpectNear(const Vec3& a, const Vec3& b, float tolerance = 1e-4f)
{
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

inline void ExpectNear(const Coords& a, const Coords& b, float tolerance = 1e-4f)
{
    ExpectNear(a.xAxis, b.xAxis, tolerance);
    ExpectNear(a.yAxis, b.yAxis, tolerance);
    ExpectNear(a.zAxis, b.zAxis, tolerance);
    ExpectNear(a.origin, b.origin, tolerance);
}

} // namespace GAME::SceneTest
