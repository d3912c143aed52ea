// A device module without "DestroyRenderDevice": the engine can create its devices but must not
// release them. The devices are software devices, freed when the module unloads.
#include "SoftwareDevice.h"

#include <memory>
#include <mutex>
#include <vector>

namespace {

struct Devices
{
    std::mutex mutex;
    std::vector<std::unique_ptr<GAME::Software::SoftwareDevice>> list;
};

Devices& GetDevices()
{
    static Devices devices;
    return devices;
}

} // namespace

extern "C" __attribute__((visibility("default"))) GAME::RenderDevice* CreateRenderDevice()
{
    Devices& devices = GetDevices();
    std::lock_guard<std::mutex> lock(devices.mutex);
    devices.list.push_back(std::make_unique<GAME::Software::SoftwareDevice>());
    return devices.list.back().get();
}
