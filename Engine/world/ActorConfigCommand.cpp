#include "world/ActorConfigCommand.h"

#include "network/NetworkShim.h"
#include "world/Engine.h"

namespace GAME {

bool ActorConfigCommand::Dispatch(ActorConfigCommand* command, ActorCommandQueue& local)
{
    if (!command)
        return true;
    NetworkShim* shim = gEngine ? gEngine->GetNetworkShim() : nullptr;
    if (shim && gEngine->IsNetworkEnabled() && command->SupportsNetwork()) {
        shim->SendConfigCommand(command);
        return true;
    }
    local.LocalEnqueue(command);
    return true;
}

bool ActorConfigCommand::ExecuteAndDelete(ActorConfigCommand* command)
{
    if (command) {
        command->Execute();
        delete command;
    }
    return true;
}

} // namespace GAME
