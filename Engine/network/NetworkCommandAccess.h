// What the network shims need of character actions and actor configuration commands, which are
// world types this folder does not include: their packets, the ids for log lines, and the deletion
// of a command the shim was given. The engine implements it and installs the one instance with
// NetworkShim::SetCommandAccess while it lives. Main thread.
#pragma once

namespace GAME {

class ActorConfigCommand;
class CharacterAction;
class NetPacket;

class NetworkCommandAccess
{
public:
    virtual ~NetworkCommandAccess() = default;
    // A new packet carrying the action (owned by the caller), or null when it is not to be sent.
    virtual NetPacket* GetActionPacket(CharacterAction* action) = 0;
    virtual unsigned int GetActionCharacterId(CharacterAction* action) = 0;
    virtual bool SupportsNetwork(ActorConfigCommand* command) = 0;
    // A new packet carrying the command (owned by the caller), or null.
    virtual NetPacket* GetCommandPacket(ActorConfigCommand* command) = 0;
    virtual unsigned int GetCommandParentId(ActorConfigCommand* command) = 0;
    virtual void DeleteCommand(ActorConfigCommand* command) = 0;
};

} // namespace GAME
