// What a render device module keeps behind its exports: the devices it made, so that
// DestroyRenderDevice deletes only a pointer the module handed out (any other is left alone) and
// the devices still alive when the module unloads go with it (their code is leaving). Header only;
// every call takes the registry's own lock, so any thread may call.
#pragma once

#include "graphics/RenderDevice.h"

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <vector>

// The linkage of a module's entry points, which the engine looks up by name.
#define DEVICE_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

namespace GAME::DeviceCommon {

template <class Device> class DeviceRegistry
{
public:
    DeviceRegistry() = default;
    DeviceRegistry(const DeviceRegistry&) = delete;
    DeviceRegistry& operator=(const DeviceRegistry&) = delete;
    ~DeviceRegistry()
    {
        for (Device* device : m_devices)
            delete device;
    }

    void Add(Device* device)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_devices.push_back(device);
    }

    // The module's device behind the pointer; null for a pointer the module did not make.
    Device* Find(const RenderDevice* device) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = Locate(device);
        return it == m_devices.end() ? nullptr : *it;
    }

    // Takes the device out of the registry and deletes it (outside the lock).
    void Destroy(const RenderDevice* device)
    {
        Device* found = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto it = Locate(device);
            if (it == m_devices.end())
                return;
            found = *it;
            m_devices.erase(it);
        }
        delete found;
    }

    size_t GetCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_devices.size();
    }

private:
    typename std::vector<Device*>::const_iterator Locate(const RenderDevice* device) const
    {
        return std::find_if(m_devices.begin(), m_devices.end(), [device](const Device* d) {
            return static_cast<const RenderDevice*>(d) == device;
        });
    }

    mutable std::mutex m_mutex;
    std::vector<Device*> m_devices;
};

} // namespace GAME::DeviceCommon
