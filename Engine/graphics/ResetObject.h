// Something that holds device objects which do not survive a device reset. The engine keeps a
// list of them (Engine::RegisterResetObject, not owned) and calls PreDeviceReset before the
// device is reset, in registration order, and PostDeviceReset afterwards. Main thread only.
#pragma once

namespace GAME {

class ResetObject
{
public:
    virtual ~ResetObject() = default;
    // Release every device object held.
    virtual void PreDeviceReset() = 0;
    // Make them again on the reset device.
    virtual void PostDeviceReset() = 0;
};

} // namespace GAME
