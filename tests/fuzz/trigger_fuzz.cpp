// Reads a trigger's definition, its state and a token list from a tagged property stream of any
// bytes: no crash, no hang, and a trigger read from the stream writes and reads back the same
// number of conditions and actions.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "data/IOStreamRead.h"
#include "data/IOStreamWrite.h"
#include "world/Trigger.h"
#include "world/TriggerAction.h"
#include "world/TriggerActionFactory.h"
#include "world/TriggerCondition.h"
#include "world/TriggerConditionFactory.h"
#include "world/TriggerToken.h"
#include "world/TriggerTokenList.h"

#include <cstdlib>

namespace {

class FuzzCondition : public GAME::TriggerCondition
{
public:
    using TriggerCondition::TriggerCondition;
    const char* GetClassName() const override { return "FuzzCondition"; }
    void GetDisplayText(std::string& text) const override { text = value; }
    void SerializeChild(GAME::IOStream* s) override
    {
        s->StreamPropertyEx("value", value);
        s->StreamPropertyEx("count", count);
    }
    void StreamChildProperties(GAME::IOStream* s) override { s->StreamPropertyEx("count", count); }
    std::string value;
    int count = 0;
};

class FuzzAction : public GAME::TriggerAction
{
public:
    using TriggerAction::TriggerAction;
    const char* GetClassName() const override { return "FuzzAction"; }
    void GetDisplayText(std::string& text) const override { text = target; }
    void SerializeChild(GAME::IOStream* s) override { s->StreamPropertyEx("target", target); }
    std::string target;
};

struct ConditionProducer : GAME::TriggerConditionProducer
{
    GAME::TriggerCondition* Create(unsigned int id) override { return new FuzzCondition(id, nullptr); }
};
struct ActionProducer : GAME::TriggerActionProducer
{
    GAME::TriggerAction* Create(unsigned int id) override { return new FuzzAction(id, nullptr); }
};

void Register()
{
    static ConditionProducer conditions;
    static ActionProducer actions;
    GAME::TriggerConditionFactory::Get()->Register("FuzzCondition", &conditions);
    GAME::TriggerActionFactory::Get()->Register("FuzzAction", &actions);
}

// Definition, state, tokens: the layout of a saved trigger stream.
void Stream(GAME::IOStream& s, GAME::Trigger& trigger, GAME::TriggerTokenList& tokens)
{
    trigger.Serialize(&s);
    trigger.StreamProperties(&s);
    tokens.StreamProperties(&s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    Register();
    GAME::IOStreamRead in(data, static_cast<unsigned>(size));
    GAME::Trigger trigger(0x4400);
    GAME::TriggerTokenList tokens;
    Stream(in, trigger, tokens);
    std::string asked, found;
    if (!in.GetFirstMismatch(asked, found) && trigger.GetConditionCount() > 0)
        FuzzAccepted();

    GAME::IOStreamWrite out("unused", GAME::IOStream::IOSTREAM_DISK);
    Stream(out, trigger, tokens);
    GAME::IOStreamRead back(out.GetFileBuffer(), out.GetFileLength());
    GAME::Trigger copy(0x4400);
    GAME::TriggerTokenList copyTokens;
    Stream(back, copy, copyTokens);
    if (copy.GetConditionCount() != trigger.GetConditionCount() ||
        copy.GetActionCount() != trigger.GetActionCount() ||
        copyTokens.GetTokenCount() != tokens.GetTokenCount())
        std::abort();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    Register();
    for (int variant = 0; variant < 3; ++variant) {
        GAME::Trigger trigger(0x4400);
        trigger.SetDisplayTag("tagSeed");
        for (int i = 0; i <= variant; ++i) {
            FuzzCondition* condition = new FuzzCondition(static_cast<unsigned int>(i), &trigger);
            condition->value = std::string("v").append(std::to_string(i));
            condition->SetResettable(i == 1);
            condition->SetSatisfied(i % 2 == 0);
            trigger.AddCondition(condition);
            FuzzAction* action = new FuzzAction(static_cast<unsigned int>(i), &trigger);
            action->target = std::string("t").append(std::to_string(i));
            trigger.AddAction(action);
        }
        trigger.Fire(false);
        GAME::TriggerTokenList tokens;
        tokens.AddNewToken("gate");
        tokens.AddNewToken("bridge");
        tokens.GetToken(0)->AddFileReference("levels/a.lvl");
        GAME::IOStreamWrite out("seed", GAME::IOStream::IOSTREAM_DISK);
        Stream(out, trigger, tokens);
        sink.Add("trigger" + std::to_string(variant),
                 std::vector<uint8_t>(out.GetFileBuffer(), out.GetFileBuffer() + out.GetFileLength()));
    }
}
