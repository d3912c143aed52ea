#include "world/TriggerAction.h"

#include "data/IOStream.h"
#include "world/Trigger.h"

namespace GAME {

TriggerAction::TriggerAction(unsigned int id, Trigger* parent) : TriggerElement(id, parent) {}

TriggerAction::~TriggerAction() = default;

void TriggerAction::Execute(unsigned int, bool) {}

bool TriggerAction::ContainsToken(const char*)
{
    return false;
}

void TriggerAction::RemoveTokenReferences(const char*) {}

bool TriggerAction::CanReFire() const
{
    return false;
}

bool TriggerAction::CanDelay() const
{
    return false;
}

void TriggerAction::StreamChildProperties(IOStream*) {}

void TriggerAction::Serialize(IOStream* s)
{
    s->StreamPropertyEx("comments", m_comments);
    SerializeChild(s);
}

void TriggerAction::StreamProperties(IOStream* s)
{
    s->StreamPropertyEx("comments", m_comments);
    StreamChildProperties(s);
}

void TriggerAction::RemoveFromParent()
{
    if (m_parent)
        m_parent->RemoveAction(this);
}

void TriggerAction::MoveUpInParent()
{
    if (m_parent)
        m_parent->MoveUp(this);
}

void TriggerAction::MoveDownInParent()
{
    if (m_parent)
        m_parent->MoveDown(this);
}

void TriggerAction::Destroy(TriggerAction* action)
{
    delete action;
}

TriggerAction* TriggerAction::Spawn(const char*)
{
    return nullptr;
}

} // namespace GAME
