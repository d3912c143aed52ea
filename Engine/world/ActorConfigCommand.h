// A command that configures an actor (equips, changes a look, sets a state), made by the host with
// `new` and handed to the actor's Enqueue, which owns it from then on: while the engine's network
// is on and the command supports it, it goes to the engine's current network shim (which sends its
// packet and deletes it); otherwise the actor's LocalEnqueue executes and deletes it at once
// (Dispatch and ExecuteAndDelete below do both for the actor). The engine defines no concrete
// command; host subclasses implement Execute and, when they support the network, GetNetPacket.
//
// Main thread.
#pragma once

namespace GAME {

class ActorConfigCommand;
class NetPacket;

// The receiver of commands that are not sent: an actor's local queue.
class ActorCommandQueue
{
public:
    virtual ~ActorCommandQueue() = default;
    // Takes the command; answers true.
    virtual bool LocalEnqueue(ActorConfigCommand* command) = 0;
};

class ActorConfigCommand
{
public:
    // The object id of the actor the command belongs to; network support off.
    explicit ActorConfigCommand(unsigned int parentId) : m_parentId(parentId) {}
    ActorConfigCommand(const ActorConfigCommand&) = default;
    ActorConfigCommand& operator=(const ActorConfigCommand&) = default;

    virtual ~ActorConfigCommand() = default;
    // The base does nothing.
    virtual void Execute() {}
    // A new packet carrying the command, owned by the caller; the base answers null.
    virtual NetPacket* GetNetPacket() { return nullptr; }

    unsigned int GetParentId() const { return m_parentId; }
    bool SupportsNetwork() const { return m_supportsNetwork; }

    // The routing of an actor's Enqueue: to the engine's current network shim while the engine's
    // network is on and the command supports it, otherwise to the queue's LocalEnqueue. Takes the
    // command (null does nothing); answers true. Actor::Enqueue calls it with the actor itself.
    static bool Dispatch(ActorConfigCommand* command, ActorCommandQueue& local);
    // What Actor::LocalEnqueue does: the command's Execute, then its deletion; answers true.
    static bool ExecuteAndDelete(ActorConfigCommand* command);

protected:
    // Subclasses that carry themselves over the network set it.
    void SetSupportsNetwork(bool supports) { m_supportsNetwork = supports; }

private:
    unsigned int m_parentId;
    bool m_supportsNetwork = false;
};

} // namespace GAME
