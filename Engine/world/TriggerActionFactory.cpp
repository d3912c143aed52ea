#include "world/TriggerActionFactory.h"

#include "world/TriggerAction.h"

namespace GAME {

TriggerActionFactory* TriggerActionFactory::Get()
{
    static TriggerActionFactory factory;
    return &factory;
}

void TriggerActionFactory::Register(const char* name, TriggerActionProducer* producer)
{
    if (!producer || !name)
        return;
    m_producers[name] = producer;
}

TriggerAction* TriggerActionFactory::Spawn(const char* name, unsigned int id)
{
    if (!name)
        return nullptr;
    const auto found = m_producers.find(name);
    return found == m_producers.end() ? nullptr : found->second->Create(id);
}

void TriggerActionFactory::Destroy(TriggerAction* action)
{
    delete action;
}

} // namespace GAME
