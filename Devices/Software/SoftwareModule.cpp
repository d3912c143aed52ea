// Exports of Software.so: the device module entry points the engine looks up by name, and the
// module controls of SoftwareDeviceControl.h.
#include "DeviceModule.h"
#include "SoftwareDevice.h"

#include <mutex>

namespace GAME::Software {
namespace {

class ModuleState final : public ModuleControl
{
public:
    RenderDevice* Create()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_createFailures != 0) {
            if (m_createFailures > 0)
                --m_createFailures;
            return nullptr;
        }
        auto* device = new SoftwareDevice();
        if (m_created)
            m_created(*device);
        m_devices.Add(device);
        return device;
    }

    void Destroy(RenderDevice* device) { m_devices.Destroy(device); }

    void InjectCreateFailure(int count) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_createFailures = count;
    }

    uint32_t GetLiveDeviceCount() const override { return static_cast<uint32_t>(m_devices.GetCount()); }

    void SetDeviceCreatedCallback(std::function<void(DeviceControl&)> callback) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_created = std::move(callback);
    }

    DeviceControl* GetDeviceControl(RenderDevice* device) override { return m_devices.Find(device); }

private:
    std::mutex m_mutex; // the failures to inject and the callback
    int m_createFailures = 0;
    std::function<void(DeviceControl&)> m_created;
    // The devices this module made.
    DeviceCommon::DeviceRegistry<SoftwareDevice> m_devices;
};

ModuleState& State()
{
    static ModuleState state;
    return state;
}

} // namespace
} // namespace GAME::Software

DEVICE_MODULE_EXPORT GAME::RenderDevice* CreateRenderDevice()
{
    return GAME::Software::State().Create();
}

DEVICE_MODULE_EXPORT void DestroyRenderDevice(GAME::RenderDevice* device)
{
    GAME::Software::State().Destroy(device);
}

DEVICE_MODULE_EXPORT GAME::Software::ModuleControl* GetSoftwareModuleControl()
{
    return &GAME::Software::State();
}
