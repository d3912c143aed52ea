// One action of a trigger, carried out by the trigger's container when the trigger fires. The
// concrete actions are the host's; it registers a producer for each under its class name
// (TriggerActionFactory). Owned by its trigger. Main thread.
#pragma once

#include <string>

namespace GAME {

class IOStream;
class Trigger;

class TriggerAction
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

    unsigned int GetId() const { return m_id; }
    bool UpdatesUI() const { return m_updatesUI; }
    void SetName(const std::string& name) { m_name = name; }
    const std::string& GetName() const { return m_name; }
    void SetComments(const std::string& comments) { m_comments = comments; }
    const std::string& GetComments() const { return m_comments; }
    void SetDbgParentName(const std::string& name) { m_dbgParentName = name; }
    const std::string& GetDbgParentName() const { return m_dbgParentName; }
    void SetParent(Trigger* parent) { m_parent = parent; }
    Trigger* GetParent() const { return m_parent; }
    void RemoveFromParent();
    void MoveUpInParent();
    void MoveDownInParent();

    static void Destroy(TriggerAction* action);
    static TriggerAction* Spawn(const char* name);

protected:
    void SetUpdatesUI(bool updates) { m_updatesUI = updates; }

private:
    unsigned int m_id;
    Trigger* m_parent;
    std::string m_name;
    std::string m_dbgParentName;
    std::string m_spare;
    std::string m_comments;
    bool m_updatesUI = false;
};

} // namespace GAME
