// Exports of OpenGL.so: the device module entry points the engine looks up by name, and the test
// hooks (a simulated context loss, the GL lock's figures).
#include "DeviceModule.h"
#include "OpenGLDevice.h"

#include <cstring>
#include <utility>

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

// Tests and benchmarks: a figure of the device's GL lock by name (OpenGLLock::Figures: "mainHolds",
// "mainHoldsBesideUploads", "workerHolds", "uploadCalls", "mostUploadsInOneHold",
// "longestWorkerHoldNs", "longestWorkerHoldWallNs", "longestMainWaitNs"), or of how objects filled
// again off the main thread went (OpenGLDevice::RefillFigures: "refillsInPlace",
// "refillsUnordered", "refillsReplaced", "mainFenceWaits", "mainFenceGiveUps"); -1 for another
// name or a pointer this module did not make.
DEVICE_MODULE_EXPORT long long OpenGLLockFigure(GAME::RenderDevice* device, const char* name)
{
    GAME::OpenGL::OpenGLDevice* found = GAME::OpenGL::Devices().Find(device);
    if (!found || !name)
        return -1;
    const GAME::OpenGL::OpenGLLock::Figures figures = found->GetLockFigures();
    const GAME::OpenGL::OpenGLDevice::RefillFigures refills = found->GetRefillFigures();
    const std::pair<const char*, uint64_t> all[] = {
        {"mainHolds", figures.mainHolds},
        {"mainHoldsBesideUploads", figures.mainHoldsBesideUploads},
        {"workerHolds", figures.workerHolds},
        {"uploadCalls", figures.uploadCalls},
        {"mostUploadsInOneHold", figures.mostUploadsInOneHold},
        {"longestWorkerHoldNs", figures.longestWorkerHoldNs},
        {"longestWorkerHoldWallNs", figures.longestWorkerHoldWallNs},
        {"longestMainWaitNs", figures.longestMainWaitNs},
        {"refillsInPlace", refills.inPlace},
        {"refillsUnordered", refills.unordered},
        {"refillsReplaced", refills.replaced},
        {"mainFenceWaits", refills.mainFenceWaits},
        {"mainFenceGiveUps", refills.mainFenceGiveUps},
    };
    for (const auto& [figure, value] : all)
        if (std::strcmp(figure, name) == 0)
            return static_cast<long long>(value);
    return -1;
}

// Tests and benchmarks: the figures start again from nothing. False for a pointer this module did
// not make.
DEVICE_MODULE_EXPORT bool OpenGLResetLockFigures(GAME::RenderDevice* device)
{
    GAME::OpenGL::OpenGLDevice* found = GAME::OpenGL::Devices().Find(device);
    if (found)
        found->ResetLockFigures();
    return found != nullptr;
}
