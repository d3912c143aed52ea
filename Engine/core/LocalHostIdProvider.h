// Where the object manager learns the network's local host id, which new object ids carry in
// their top four bits. The network lives above core, so it (through the engine) installs an
// implementation with ObjectManager::SetLocalHostIdProvider; without one the host id is 0.
// The object manager asks from whichever thread makes an object.
#pragma once

namespace GAME {

class LocalHostIdProvider
{
public:
    virtual ~LocalHostIdProvider() = default;
    // The current connection manager's local host id while the network is on, -1 while it is not
    // yet known; without network 0, or the host id a client session that ended gave this game.
    virtual int GetLocalHostID() = 0;
    // Whether objects in the table may hold ids under that host id that the object manager's
    // counter did not hand out (a session that is over numbered objects here): new ids then skip
    // those in use, as they do once the counter has wrapped.
    virtual bool IdsMayBeTaken() { return false; }
};

} // namespace GAME
