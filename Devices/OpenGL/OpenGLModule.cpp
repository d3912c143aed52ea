// Exports of OpenGL.so: the device module entry points the engine looks up by name, and one test
// hook.
#include "DeviceModule.h"
#include "OpenGLDevice.h"

namespace GAME::OpenGL {
namespace {

DeviceCommon::DeviceRegistry<OpenGLDevice>& Devices()
{
    static DeviceCommon::DeviceRegistry<OpenGLDevice> devices;
    return devices;
}

} // namespace
} // namespace GAME::OpenGL

DEVICE_MODULE_EXPORT GAME::RenderDevice* CreateRenderDevice()
{
    auto* device = new GAME::OpenGL::OpenGLDevice();
    GAME::OpenGL::Devices().Add(device);
    return device;
}

DEVICE_MODULE_EXPORT void DestroyRenderDevice(GAME::RenderDevice* device)
{
    GAME::OpenGL::Devices().Destroy(device);
}

// Tests: the device behaves as after a reset of its GL context (see OpenGLDevice.h). False for a
// pointer this module did not make.
DEVICE_MODULE_EXPORT bool OpenGLSimulateContextLoss(GAME::RenderDevice* device)
{
    GAME::OpenGL::OpenGLDevice* found = GAME::OpenGL::Devices().Find(device);
    if (found)
        found->SimulateContextLoss();
    return found != nullptr;
}
