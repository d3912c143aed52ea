// A scripted rule of the game's world: a list of conditions and a list of actions. When its status
// changes and every condition is satisfied (and its arming functor agrees), the trigger fires once:
// each action is handed to the trigger's container to be carried out. It stays fired until Reset
// or a state load through a resettable condition. The definition is saved by Serialize, the
// run-time state by StreamProperties, both as tagged property streams; conditions and actions are
// rebuilt through the factories by class name.
//
// Owns its conditions, actions and functors; not its container. Main thread.
#pragma once

#include <string>
#include <vector>

namespace GAME {

class BooleanCallbackFunctor;
class IOStream;
class TriggerAction;
class TriggerCondition;
class TriggerContainer;
class VoidCallbackFunctor;

class Trigger
{
public:
    // Most conditions or actions a stream may make one trigger read.
    static constexpr int maxStreamedEntries = 1024;

    explicit Trigger(unsigned int id);
    virtual ~Trigger();
    Trigger(const Trigger&) = delete;
    Trigger& operator=(const Trigger&) = delete;

    static Trigger* Spawn(unsigned int id);
    // Null is ignored.
    static void Delete(Trigger* trigger);

    unsigned int GetId() const { return m_id; }
    void SetActionTarget(unsigned int target) { m_actionTarget = target; }
    unsigned int GetActionTarget() const { return m_actionTarget; }
    void SetSecondaryActionTarget(unsigned int target) { m_secondaryActionTarget = target; }
    unsigned int GetSecondaryActionTarget() const { return m_secondaryActionTarget; }
    void SetDisplayTag(const char* tag) { m_displayTag = tag ? tag : ""; }
    const std::string& GetDisplayTag() const { return m_displayTag; }
    void SetBitmap(const char* bitmap) { m_bitmap = bitmap ? bitmap : ""; }
    const std::string& GetBitmap() const { return m_bitmap; }
    void SetUniqueTag(const char* tag) { m_uniqueTag = tag ? tag : ""; }
    const std::string& GetUniqueTag() const { return m_uniqueTag; }
    void SetComments(const char* comments) { m_comments = comments ? comments : ""; }
    const std::string& GetComments() const { return m_comments; }
    void SetDebugName(const std::string& name) { m_debugName = name; }
    const std::string& GetDebugName() const { return m_debugName; }
    void SetActive(bool active) { m_active = active; }
    bool IsActive() const { return m_active; }
    bool HasFired() const { return m_fired; }
    bool UpdatesUI() const { return m_updatesUI; }
    // Armed again.
    void Reset() { m_fired = false; }
    void SetParent(TriggerContainer* container) { m_container = container; }
    TriggerContainer* GetParent() const { return m_container; }
    // Takes ownership; the one held before is released.
    void SetArmingFunctor(BooleanCallbackFunctor* functor);
    void SetNotifyFiredFunctor(VoidCallbackFunctor* functor);

    int GetConditionCount() const { return static_cast<int>(m_conditions.size()); }
    int GetActionCount() const { return static_cast<int>(m_actions.size()); }
    // Null for an index outside the list.
    TriggerCondition* GetConditionAtIdx(int index) const;
    TriggerAction* GetActionAtIdx(int index) const;

    // Append, taking ownership; null is ignored.
    void AddCondition(TriggerCondition* condition);
    void AddAction(TriggerAction* action);
    // Delete the entry and take it out of the list; one not in the list is ignored.
    void RemoveCondition(TriggerCondition* condition);
    void RemoveAction(TriggerAction* action);
    // One place towards the front or the end; the first and last stay where they are.
    void MoveUp(TriggerCondition* condition);
    void MoveDown(TriggerCondition* condition);
    void MoveUp(TriggerAction* action);
    void MoveDown(TriggerAction* action);

    // The container's operations with this trigger; nothing without a container.
    void RemoveFromParent();
    void MoveUpInParent();
    void MoveDownInParent();
    void UpdateContainerUI(const std::string& first, const std::string& second, bool flag1, bool flag2,
                           bool flag3);
    void UpdateDialogTab(const std::string& name);

    // Fired; with execute, each action goes to the container with the action target. Without a
    // container an executing Fire changes nothing (one log line): its actions would be lost.
    void Fire(bool execute);
    // Every action that can re-fire runs again for the target; the state stays.
    void ReFire(unsigned int target);
    // Fires when armed, the arming functor agrees and every condition is satisfied (or force is
    // set); then the container hears of the status change and "GameEvent_QuestUpdate" is sent.
    // Without a container nothing happens (one log line), so the trigger stays armed.
    void OnStatusChange(bool force);

    bool ContainsToken(const char* token) const;
    void RemoveTokenReferences(const char* token);
    void GetQuestInformation(std::vector<std::string>& information) const;

    // The definition.
    void Serialize(IOStream* stream);
    // The run-time state.
    void StreamProperties(IOStream* stream);

private:
    template <class T> static void MoveInList(std::vector<T*>& list, T* entry, int direction);
    void ExecuteActions();

    unsigned int m_id;
    std::vector<TriggerCondition*> m_conditions;
    std::vector<TriggerAction*> m_actions;
    unsigned int m_actionTarget = 0;
    unsigned int m_secondaryActionTarget = 0;
    std::string m_displayTag;
    std::string m_bitmap;
    std::string m_uniqueTag;
    std::string m_comments;
    bool m_fired = false;
    BooleanCallbackFunctor* m_armingFunctor = nullptr;
    VoidCallbackFunctor* m_notifyFiredFunctor = nullptr;
    TriggerContainer* m_container = nullptr;
    bool m_updatesUI = false;
    bool m_active = false;
    std::string m_debugName;
};

// Frees the target's old text (new[]) and stores a new copy of the source (null stores null).
// The source may be the target's own text.
void AssignStrings(const char* source, char** target);

} // namespace GAME
