#include "world/TriggerCondition.h"

#include "data/IOStream.h"
#include "world/Trigger.h"

namespace GAME {

TriggerCondition::TriggerCondition(unsigned int id, Trigger* parent) : TriggerElement(id, parent) {}

TriggerCondition::~TriggerCondition() = default;

void TriggerCondition::HandleEvent(const GameEvent*) {}

void TriggerCondition::IsSatisfied(bool& all)
{
    all = all && (m_not ? !m_satisfied : m_satisfied);
}

void TriggerCondition::GetQuestInformation(std::vector<std::string>&) {}

bool TriggerCondition::ContainsToken(const char*)
{
    return false;
}

void TriggerCondition::RemoveTokenReferences(const char*) {}

void TriggerCondition::StreamChildProperties(IOStream*) {}

void TriggerCondition::Serialize(IOStream* s)
{
    s->StreamPropertyEx("comments", m_comments);
    s->StreamPropertyEx("isNot", m_not);
    s->StreamPropertyEx("isResettable", m_resettable);
    s->StreamPropertyEx("isQuestCritical", m_questCritical);
    SerializeChild(s);
}

void TriggerCondition::StreamProperties(IOStream* s)
{
    s->StreamPropertyEx("isSatisfied", m_satisfied);
    s->StreamPropertyEx("comments", m_comments);
    StreamChildProperties(s);
    if (s->IsReading() && m_resettable) {
        m_satisfied = false;
        if (m_parent)
            m_parent->Reset();
    }
}

void TriggerCondition::RemoveFromParent()
{
    if (m_parent)
        m_parent->RemoveCondition(this);
}

void TriggerCondition::MoveUpInParent()
{
    if (m_parent)
        m_parent->MoveUp(this);
}

void TriggerCondition::MoveDownInParent()
{
    if (m_parent)
        m_parent->MoveDown(this);
}

void TriggerCondition::Destroy(TriggerCondition* condition)
{
    delete condition;
}

TriggerCondition* TriggerCondition::Spawn(const char*)
{
    return nullptr;
}

} // namespace GAME
