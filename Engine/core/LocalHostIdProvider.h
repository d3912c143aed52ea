// Where the object manager learns the network's local host id, which new object ids carry in
// their top four bits. The network lives above core, so it (through the engine) installs an
// implementation with ObjectManager::SetLocalHostIdProvider; without one the host id is 0.
#pragma once

namespace GAME {

class LocalHostIdProvider
{
public:
    virtual ~LocalHostIdProvider() = default;
    // 0 when there is no network (no current connection manager, or the network is disabled);
    // the current connection manager's local host id otherwise, -1 while it is not yet known.
    virtual int GetLocalHostID() = 0;
};

} // namespace GAME
