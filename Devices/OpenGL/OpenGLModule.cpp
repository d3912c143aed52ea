// Exports of OpenGL.so: the device module entry points the engine looks up by name, and one test
// hook.
#include "OpenGLDevice.h"

#include <algorithm>
#include <mutex>
#include <vector>

#define OPENGL_EXPORT extern "C" __attribute__((visibility("default")))

namespace GAME::OpenGL {
namespace {

// The devices this module made; a pointer it did not hand out is left alone.
class ModuleState
{
public:
    ~ModuleState()
    {
        // Devices still alive when the module unloads go with it; their code is leaving.
        for (OpenGLDevice* device : m_devices)
            delete device;
    }

    RenderDevice* Create()
    {
        auto* device = new OpenGLDevice();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_devices.push_back(device);
        return device;
    }

    OpenGLDevice* Find(RenderDevice* device)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_devices.begin(), m_devices.end(),
                               [device](OpenGLDevice* d) { return static_cast<RenderDevice*>(d) == device; });
        return it == m_devices.end() ? nullptr : *it;
    }

    void Destroy(RenderDevice* device)
    {
        OpenGLDevice* found = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto it = std::find_if(m_devices.begin(), m_devices.end(), [device](OpenGLDevice* d) {
                return static_cast<RenderDevice*>(d) == device;
            });
            if (it == m_devices.end())
                return;
            found = *it;
            m_devices.erase(it);
        }
        delete found;
    }

private:
    std::mutex m_mutex;
    std::vector<OpenGLDevice*> m_devices;
};

ModuleState& State()
{
    static ModuleState state;
    return state;
}

} // namespace
} // namespace GAME::OpenGL

OPENGL_EXPORT GAME::RenderDevice* CreateRenderDevice()
{
    return GAME::OpenGL::State().Create();
}

OPENGL_EXPORT void DestroyRenderDevice(GAME::RenderDevice* device)
{
    GAME::OpenGL::State().Destroy(device);
}

// Tests: the device behaves as after a reset of its GL context (see OpenGLDevice.h). False for a
// pointer this module did not make.
OPENGL_EXPORT bool OpenGLSimulateContextLoss(GAME::RenderDevice* device)
{
    GAME::OpenGL::OpenGLDevice* found = GAME::OpenGL::State().Find(device);
    if (found)
        found->SimulateContextLoss();
    return found != nullptr;
}
