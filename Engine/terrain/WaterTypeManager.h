// The process-wide owner of the water types (the look and flow of each kind of water), shared by
// name with a use count so that every level naming the same water draws with one object. A lazily
// made instance (Get, Destroy); the engine destroys it at shut-down, after the editor filter.
// Main thread only.
//
// TODO(stand-in): GAME::WaterType and the manager's sharing (find, get, create, add, release,
// rename, names); until the water of the terrain subsystem exists the manager holds no types.
#pragma once

#include "core/Singleton.h"

namespace GAME {

class WaterTypeManager : public Singleton<WaterTypeManager>
{
public:
    WaterTypeManager() = default;
    ~WaterTypeManager() override = default;
};

} // namespace GAME
