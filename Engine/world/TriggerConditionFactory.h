// The registry through which saved triggers rebuild their conditions: the host registers one producer
// per concrete condition class under its class name. One instance, made on the first Get and kept for
// the life of the process. Register and Spawn on the main thread.
#pragma once

#include <map>
#include <string>

namespace GAME {

class TriggerCondition;

// The host's maker of one concrete condition class.
class TriggerConditionProducer
{
public:
    virtual TriggerCondition* Create(unsigned int id) = 0;

protected:
    ~TriggerConditionProducer() = default;
};

class TriggerConditionFactory
{
public:
    static TriggerConditionFactory* Get();

    // The name now maps to the producer (replacing an earlier one); null is ignored. The producer
    // stays the host's.
    void Register(const char* name, TriggerConditionProducer* producer);
    // The producer's new condition for the id; null for a name that is not registered.
    TriggerCondition* Spawn(const char* name, unsigned int id);
    // Deletes; null is ignored.
    void Destroy(TriggerCondition* condition);

private:
    TriggerConditionFactory() = default;

    std::map<std::string, TriggerConditionProducer*> m_producers;
};

} // namespace GAME
