// One action of a trigger, carried out by the trigger's container when the trigger fires. The
// concrete actions are the host's; it registers a producer for each under its class name
// (TriggerActionFactory). Owned by its trigger. Main thread.
#pragma once

#include "world/TriggerElement.h"

#include <string>

namespace GAME {

class IOStream;

class TriggerAction : public TriggerElement
{
public:
    TriggerAction(unsigned int id, Trigger* parent);
    TriggerAction(const TriggerAction&) = delete;
    TriggerAction& operator=(const TriggerAction&) = delete;

    virtual ~TriggerAction();
    // Carries the action out for the target; the base does nothing.
    virtual void Execute(unsigned int target, bool flag);
    // The class name the action's producer was registered under.
    virtual const char* GetClassName() const = 0;
    // The text the editor shows for the action.
    virtual void GetDisplayText(std::string& text) const = 0;
    virtual bool ContainsToken(const char* token);
    virtual void RemoveTokenReferences(const char* token);
    // Whether ReFire runs it again.
    virtual bool CanReFire() const;
    virtual bool CanDelay() const;
    virtual void StreamChildProperties(IOStream* stream);
    virtual void SerializeChild(IOStream* stream) = 0;

    // Definition: "comments", then the child's.
    void Serialize(IOStream* stream);
    // State: "comments", then the child's.
    void StreamProperties(IOStream* stream);

    bool UpdatesUI() const { return m_updatesUI; }
    void RemoveFromParent();
    void MoveUpInParent();
    void MoveDownInParent();

    static void Destroy(TriggerAction* action);
    static TriggerAction* Spawn(const char* name);

protected:
    void SetUpdatesUI(bool updates) { m_updatesUI = updates; }

private:
    bool m_updatesUI = false;
};

} // namespace GAME
