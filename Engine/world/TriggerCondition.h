// One condition of a trigger: satisfied or not, possibly inverted ("not"), possibly reset when the
// trigger's state is loaded. The concrete conditions are the host's; it registers a producer for
// each under its class name (TriggerConditionFactory), through which saved triggers are rebuilt.
// Owned by its trigger. Main thread.
#pragma once

#include "world/TriggerElement.h"

#include <string>
#include <vector>

namespace GAME {

class GameEvent;
class IOStream;

class TriggerCondition : public TriggerElement
{
public:
    TriggerCondition(unsigned int id, Trigger* parent);
    TriggerCondition(const TriggerCondition&) = delete;
    TriggerCondition& operator=(const TriggerCondition&) = delete;

    virtual ~TriggerCondition();
    virtual void HandleEvent(const GameEvent* event);
    // all := all and (satisfied, or unsatisfied with the not flag).
    virtual void IsSatisfied(bool& all);
    // The class name the condition's producer was registered under.
    virtual const char* GetClassName() const = 0;
    // The text the editor shows for the condition.
    virtual void GetDisplayText(std::string& text) const = 0;
    virtual void GetQuestInformation(std::vector<std::string>& information);
    virtual bool ContainsToken(const char* token);
    virtual void RemoveTokenReferences(const char* token);
    // Run-time state of the concrete condition.
    virtual void StreamChildProperties(IOStream* stream);
    // Definition of the concrete condition.
    virtual void SerializeChild(IOStream* stream) = 0;

    // Definition: "comments", "isNot", "isResettable", "isQuestCritical", then the child's.
    void Serialize(IOStream* stream);
    // State: "isSatisfied", "comments", then the child's; when read, a resettable condition is
    // unsatisfied again and its trigger armed.
    void StreamProperties(IOStream* stream);

    bool IsSatisfied() const { return m_satisfied; }
    void SetSatisfied(bool satisfied) { m_satisfied = satisfied; }
    void SetNot(bool value) { m_not = value; }
    bool GetNot() const { return m_not; }
    void SetResettable(bool value) { m_resettable = value; }
    bool GetResettable() const { return m_resettable; }
    void SetQuestCritical(bool value) { m_questCritical = value; }
    bool GetQuestCritical() const { return m_questCritical; }
    // The parent's RemoveCondition (this object is then deleted), MoveUp and MoveDown.
    void RemoveFromParent();
    void MoveUpInParent();
    void MoveDownInParent();

    // Deletes; null is ignored.
    static void Destroy(TriggerCondition* condition);
    // Null: conditions are made through TriggerConditionFactory.
    static TriggerCondition* Spawn(const char* name);

private:
    bool m_satisfied = false;
    bool m_not = false;
    bool m_resettable = false;
    bool m_questCritical = true;
};

} // namespace GAME
