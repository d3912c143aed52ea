#include "world/TriggerConditionFactory.h"

#include "world/TriggerCondition.h"

namespace GAME {

TriggerConditionFactory* TriggerConditionFactory::Get()
{
    static TriggerConditionFactory factory;
    return &factory;
}

void TriggerConditionFactory::Register(const char* name, TriggerConditionProducer* producer)
{
    if (!producer || !name)
        return;
    m_producers[name] = producer;
}

TriggerCondition* TriggerConditionFactory::Spawn(const char* name, unsigned int id)
{
    if (!name)
        return nullptr;
    const auto found = m_producers.find(name);
    return found == m_producers.end() ? nullptr : found->second->Create(id);
}

void TriggerConditionFactory::Destroy(TriggerCondition* condition)
{
    delete condition;
}

} // namespace GAME
