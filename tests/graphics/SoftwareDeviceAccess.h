// Reaches the software device module's controls from a test: holds a reference to Software.so
// (so the module stays loaded while the test looks at it) and finds its control export.
#pragma once

#include "Software/SoftwareDeviceControl.h"
#include "graphics/RenderDevice.h"
#include "platform/Module.h"

namespace GAME::Test {

class SoftwareModuleAccess
{
public:
    SoftwareModuleAccess()
    {
        m_module = Platform::LoadModule("Software");
        if (auto get = reinterpret_cast<Software::GetModuleControlFunction>(
                Platform::FindModuleSymbol(m_module, Software::moduleControlSymbol)))
            m_control = get();
    }
    ~SoftwareModuleAccess() { Platform::UnloadModule(m_module); }
    SoftwareModuleAccess(const SoftwareModuleAccess&) = delete;
    SoftwareModuleAccess& operator=(const SoftwareModuleAccess&) = delete;

    // Null when the module or its export is missing.
    Software::ModuleControl* Get() const { return m_control; }
    Software::DeviceControl* Device(RenderDevice* device) const
    {
        return m_control ? m_control->GetDeviceControl(device) : nullptr;
    }

private:
    Platform::ModuleHandle m_module = nullptr;
    Software::ModuleControl* m_control = nullptr;
};

} // namespace GAME::Test
