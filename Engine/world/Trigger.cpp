#include "world/Trigger.h"

#include "core/EventManager.h"
#include "core/GameEvent.h"
#include "core/Log.h"
#include "data/IOStream.h"
#include "world/CallbackFunctor.h"
#include "world/TriggerAction.h"
#include "world/TriggerActionFactory.h"
#include "world/TriggerCondition.h"
#include "world/TriggerConditionFactory.h"
#include "world/TriggerContainer.h"

#include <algorithm>
#include <cstring>

namespace GAME {

namespace {

// A count read from a stream: never negative, never more than the cap.
int StreamedCount(int count, int cap)
{
    return std::clamp(count, 0, cap);
}

} // namespace

Trigger::Trigger(unsigned int id) : m_id(id) {}

Trigger::~Trigger()
{
    for (TriggerCondition* condition : m_conditions)
        delete condition;
    for (TriggerAction* action : m_actions)
        delete action;
    m_conditions.clear();
    m_actions.clear();
    if (m_armingFunctor)
        m_armingFunctor->Release();
    if (m_notifyFiredFunctor)
        m_notifyFiredFunctor->Release();
}

Trigger* Trigger::Spawn(unsigned int id)
{
    return new Trigger(id);
}

void Trigger::Delete(Trigger* trigger)
{
    delete trigger;
}

void Trigger::SetArmingFunctor(BooleanCallbackFunctor* functor)
{
    if (m_armingFunctor && m_armingFunctor != functor)
        m_armingFunctor->Release();
    m_armingFunctor = functor;
}

void Trigger::SetNotifyFiredFunctor(VoidCallbackFunctor* functor)
{
    if (m_notifyFiredFunctor && m_notifyFiredFunctor != functor)
        m_notifyFiredFunctor->Release();
    m_notifyFiredFunctor = functor;
}

TriggerCondition* Trigger::GetConditionAtIdx(int index) const
{
    return index >= 0 && index < GetConditionCount() ? m_conditions[static_cast<size_t>(index)] : nullptr;
}

TriggerAction* Trigger::GetActionAtIdx(int index) const
{
    return index >= 0 && index < GetActionCount() ? m_actions[static_cast<size_t>(index)] : nullptr;
}

void Trigger::AddCondition(TriggerCondition* condition)
{
    if (condition)
        m_conditions.push_back(condition);
}

void Trigger::AddAction(TriggerAction* action)
{
    if (action)
        m_actions.push_back(action);
}

void Trigger::RemoveCondition(TriggerCondition* condition)
{
    const auto found = std::find(m_conditions.begin(), m_conditions.end(), condition);
    if (found == m_conditions.end())
        return;
    m_conditions.erase(found);
    delete condition;
}

void Trigger::RemoveAction(TriggerAction* action)
{
    const auto found = std::find(m_actions.begin(), m_actions.end(), action);
    if (found == m_actions.end())
        return;
    m_actions.erase(found);
    delete action;
}

template <class T> void Trigger::MoveInList(std::vector<T*>& list, T* entry, int direction)
{
    const auto found = std::find(list.begin(), list.end(), entry);
    if (found == list.end())
        return;
    const std::ptrdiff_t index = found - list.begin();
    const std::ptrdiff_t other = index + direction;
    if (other < 0 || other >= static_cast<std::ptrdiff_t>(list.size()))
        return;
    std::swap(list[static_cast<size_t>(index)], list[static_cast<size_t>(other)]);
}

void Trigger::MoveUp(TriggerCondition* condition)
{
    MoveInList(m_conditions, condition, -1);
}

void Trigger::MoveDown(TriggerCondition* condition)
{
    MoveInList(m_conditions, condition, 1);
}

void Trigger::MoveUp(TriggerAction* action)
{
    MoveInList(m_actions, action, -1);
}

void Trigger::MoveDown(TriggerAction* action)
{
    MoveInList(m_actions, action, 1);
}

void Trigger::RemoveFromParent()
{
    if (m_container)
        m_container->RemoveTrigger(this);
}

void Trigger::MoveUpInParent()
{
    if (m_container)
        m_container->MoveTriggerUp(this);
}

void Trigger::MoveDownInParent()
{
    if (m_container)
        m_container->MoveTriggerDown(this);
}

void Trigger::UpdateContainerUI(const std::string& first, const std::string& second, bool flag1, bool flag2,
                                bool flag3)
{
    if (m_container)
        m_container->UpdateContainerUI(this, first, second, flag1, flag2, flag3);
}

void Trigger::UpdateDialogTab(const std::string& name)
{
    if (m_container)
        m_container->UpdateDialogTab(this, name);
}

void Trigger::ExecuteActions()
{
    // A copy: the container may edit the trigger while it carries an action out.
    const std::vector<TriggerAction*> actions = m_actions;
    for (TriggerAction* action : actions)
        m_container->ExecuteAction(action, m_actionTarget);
}

void Trigger::Fire(bool execute)
{
    if (execute && !m_container) {
        LogPrintf(1, "Trigger %u has no container; it cannot fire its actions.", m_id);
        return;
    }
    m_fired = true;
    if (execute)
        ExecuteActions();
}

void Trigger::ReFire(unsigned int target)
{
    const std::vector<TriggerAction*> actions = m_actions;
    for (TriggerAction* action : actions)
        if (action->CanReFire())
            action->Execute(target, true);
}

void Trigger::OnStatusChange(bool force)
{
    if (m_fired)
        return;
    if (!m_container) {
        LogPrintf(1, "Trigger %u has no container; its status change is ignored.", m_id);
        return;
    }
    bool fire = true;
    if (m_armingFunctor && !m_armingFunctor->Call(this)) {
        fire = false;
    } else if (!force) {
        bool all = true;
        for (TriggerCondition* condition : m_conditions) {
            condition->IsSatisfied(all);
            if (!all)
                break;
        }
        fire = all;
    }
    if (fire) {
        m_fired = true;
        ExecuteActions();
        if (m_notifyFiredFunctor)
            m_notifyFiredFunctor->Call(this);
    }
    m_container->StatusChanged(this);
    GameEvent event;
    EventManager::Get()->Send(&event, "GameEvent_QuestUpdate");
}

bool Trigger::ContainsToken(const char* token) const
{
    for (TriggerCondition* condition : m_conditions)
        if (condition->ContainsToken(token))
            return true;
    for (TriggerAction* action : m_actions)
        if (action->ContainsToken(token))
            return true;
    return false;
}

void Trigger::RemoveTokenReferences(const char* token)
{
    for (TriggerCondition* condition : m_conditions)
        condition->RemoveTokenReferences(token);
    for (TriggerAction* action : m_actions)
        action->RemoveTokenReferences(token);
}

void Trigger::GetQuestInformation(std::vector<std::string>& information) const
{
    for (TriggerCondition* condition : m_conditions)
        condition->GetQuestInformation(information);
}

void Trigger::Serialize(IOStream* s)
{
    if (!s)
        return;
    const bool reading = s->IsReading();

    s->BeginBlock();
    s->StreamPropertyEx("displayTag", m_displayTag);
    s->StreamPropertyEx("displayBitmap", m_bitmap);
    s->StreamPropertyEx("comments", m_comments);
    s->StreamPropertyEx("isActive", m_active);
    s->EndBlock();

    s->BeginBlock();
    int conditionCount = GetConditionCount();
    s->StreamPropertyEx("conditionCount", conditionCount);
    if (reading) {
        conditionCount = StreamedCount(conditionCount, maxStreamedEntries);
        for (int i = 0; i < conditionCount; ++i) {
            std::string className;
            s->StreamPropertyEx("conditionClassName", className);
            if (className.empty())
                break; // the stream holds no more conditions
            const unsigned int id = m_id | (static_cast<unsigned int>(m_conditions.size()) & 255u);
            TriggerCondition* condition = TriggerConditionFactory::Get()->Spawn(className.c_str(), id);
            if (condition) {
                condition->SetParent(this);
                condition->SetDbgParentName(m_debugName);
            } else {
                LogPrintf(1, "Couldn't Find Trigger Condition : %s", className.c_str());
            }
            s->BeginBlock();
            if (condition)
                condition->Serialize(s);
            s->EndBlock();
            if (condition)
                m_conditions.push_back(condition);
        }
    } else {
        for (TriggerCondition* condition : m_conditions) {
            std::string className = condition->GetClassName();
            s->StreamPropertyEx("conditionClassName", className);
            s->BeginBlock();
            condition->Serialize(s);
            s->EndBlock();
        }
    }
    s->EndBlock();

    s->BeginBlock();
    int actionCount = GetActionCount();
    s->StreamPropertyEx("actionCount", actionCount);
    if (reading) {
        actionCount = StreamedCount(actionCount, maxStreamedEntries);
        for (int i = 0; i < actionCount; ++i) {
            std::string className;
            s->StreamPropertyEx("actionClassName", className);
            if (className.empty())
                break;
            const unsigned int id = m_id | (static_cast<unsigned int>(m_actions.size()) & 255u);
            TriggerAction* action = TriggerActionFactory::Get()->Spawn(className.c_str(), id);
            if (action) {
                action->SetParent(this);
                action->SetDbgParentName(m_debugName);
            } else {
                LogPrintf(1, "Couldn't Find Trigger Action : %s", className.c_str());
            }
            s->BeginBlock();
            if (action)
                action->Serialize(s);
            s->EndBlock();
            if (action) {
                m_actions.push_back(action);
                if (action->UpdatesUI())
                    m_updatesUI = true;
            }
        }
    } else {
        for (TriggerAction* action : m_actions) {
            std::string className = action->GetClassName();
            s->StreamPropertyEx("actionClassName", className);
            s->BeginBlock();
            action->Serialize(s);
            s->EndBlock();
        }
    }
    s->EndBlock();
}

void Trigger::StreamProperties(IOStream* s)
{
    if (!s)
        return;
    const bool reading = s->IsReading();

    s->BeginBlock();
    s->StreamPropertyEx("hasFired", m_fired);
    s->EndBlock();

    s->BeginBlock();
    int conditionCount = GetConditionCount();
    s->StreamPropertyEx("conditionCount", conditionCount);
    if (reading)
        conditionCount = StreamedCount(conditionCount, maxStreamedEntries);
    for (int i = 0; i < conditionCount; ++i) {
        s->BeginBlock();
        if (TriggerCondition* condition = GetConditionAtIdx(i))
            condition->StreamProperties(s);
        s->EndBlock();
    }
    s->EndBlock();

    s->BeginBlock();
    int actionCount = GetActionCount();
    s->StreamPropertyEx("actionCount", actionCount);
    if (reading)
        actionCount = StreamedCount(actionCount, maxStreamedEntries);
    for (int i = 0; i < actionCount; ++i) {
        s->BeginBlock();
        if (TriggerAction* action = GetActionAtIdx(i))
            action->StreamProperties(s);
        s->EndBlock();
    }
    s->EndBlock();
}

void AssignStrings(const char* source, char** target)
{
    if (!target || source == *target)
        return;
    // Copy before freeing: the source may lie inside the old text.
    char* copy = nullptr;
    if (source) {
        const size_t length = std::strlen(source);
        copy = new char[length + 1];
        std::memcpy(copy, source, length + 1);
    }
    delete[] * target;
    *target = copy;
}

} // namespace GAME
