// Exports of Software.so: the device module entry points the engine looks up by name, and the
// module controls of SoftwareDeviceControl.h.
#include "SoftwareDevice.h"

#include <algorithm>
#include <mutex>
#include <vector>

#define SOFTWARE_EXPORT extern "C" __attribute__((visibility("default")))

namespace GAME::Software {
namespace {

class ModuleState final : public ModuleControl
{
public:
    ModuleState() = default;
    ModuleState(const ModuleState&) = delete;
    ModuleState& operator=(const ModuleState&) = delete;

    // Devices still alive when the module unloads go with it; their code is leaving.
    ~ModuleState()
    {
        for (SoftwareDevice* device : m_devices)
            delete device;
    }

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
        m_devices.push_back(device);
        return device;
    }

    void Destroy(RenderDevice* device)
    {
        SoftwareDevice* found = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto it = std::find_if(m_devices.begin(), m_devices.end(), [device](SoftwareDevice* d) {
                return static_cast<RenderDevice*>(d) == device;
            });
            // A pointer this module did not hand out is left alone.
            if (it == m_devices.end())
                return;
            found = *it;
            m_devices.erase(it);
        }
        delete found;
    }

    void InjectCreateFailure(int count) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_createFailures = count;
    }

    uint32_t GetLiveDeviceCount() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<uint32_t>(m_devices.size());
    }

    void SetDeviceCreatedCallback(std::function<void(DeviceControl&)> callback) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_created = std::move(callback);
    }

    DeviceControl* GetDeviceControl(RenderDevice* device) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (SoftwareDevice* d : m_devices)
            if (static_cast<RenderDevice*>(d) == device)
                return d;
        return nullptr;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<SoftwareDevice*> m_devices;
    int m_createFailures = 0;
    std::function<void(DeviceControl&)> m_created;
};

ModuleState& State()
{
    static ModuleState state;
    return state;
}

} // namespace
} // namespace GAME::Software

SOFTWARE_EXPORT GAME::RenderDevice* CreateRenderDevice()
{
    return GAME::Software::State().Create();
}

SOFTWARE_EXPORT void DestroyRenderDevice(GAME::RenderDevice* device)
{
    GAME::Software::State().Destroy(device);
}

SOFTWARE_EXPORT GAME::Software::ModuleControl* GetSoftwareModuleControl()
{
    return &GAME::Software::State();
}
