// What holds triggers (a quest, a map's trigger list): the host implements it. A trigger forwards
// its editing requests to it, hands it every action to carry out, and tells it when the trigger's
// status changed. Called on the main thread.
#pragma once

#include <string>

namespace GAME {

class Trigger;
class TriggerAction;

class TriggerContainer
{
public:
    virtual void RemoveTrigger(Trigger* trigger) = 0;
    virtual void MoveTriggerUp(Trigger* trigger) = 0;
    virtual void MoveTriggerDown(Trigger* trigger) = 0;
    virtual void UpdateContainerUI(Trigger* trigger, const std::string& first, const std::string& second,
                                   bool flag1, bool flag2, bool flag3) = 0;
    virtual void UpdateDialogTab(Trigger* trigger, const std::string& name) = 0;
    // Carries out the action for the target id.
    virtual void ExecuteAction(TriggerAction* action, unsigned int target) = 0;
    virtual void StatusChanged(Trigger* trigger) = 0;

protected:
    ~TriggerContainer() = default;
};

} // namespace GAME
