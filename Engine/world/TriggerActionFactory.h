// The registry through which saved triggers rebuild their actions: the host registers one producer
// per concrete action class under its class name. One instance, made on the first Get and kept for
// the life of the process. Register and Spawn on the main thread.
#pragma once

#include <map>
#include <string>

namespace GAME {

class TriggerAction;

// The host's maker of one concrete action class.
class TriggerActionProducer
{
public:
    virtual TriggerAction* Create(unsigned int id) = 0;

protected:
    ~TriggerActionProducer() = default;
};

class TriggerActionFactory
{
public:
    static TriggerActionFactory* Get();

    // The name now maps to the producer (replacing an earlier one); null is ignored. The producer
    // stays the host's.
    void Register(const char* name, TriggerActionProducer* producer);
    // The producer's new action for the id; null for a name that is not registered.
    TriggerAction* Spawn(const char* name, unsigned int id);
    // Deletes; null is ignored.
    void Destroy(TriggerAction* action);

private:
    TriggerActionFactory() = default;

    std::map<std::string, TriggerActionProducer*> m_producers;
};

} // namespace GAME
