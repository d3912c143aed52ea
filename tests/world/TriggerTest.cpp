// Triggers: firing rules, editing, definition and state streams, tokens.
#include "world/Trigger.h"
#include "common/LogCapture.h"
#include "core/EventManager.h"
#include "core/GameEvent.h"
#include "data/IOStreamRead.h"
#include "data/IOStreamWrite.h"
#include "world/CallbackFunctor.h"
#include "world/TriggerAction.h"
#include "world/TriggerActionFactory.h"
#include "world/TriggerCondition.h"
#include "world/TriggerConditionFactory.h"
#include "world/TriggerContainer.h"
#include "world/TriggerToken.h"
#include "world/TriggerTokenList.h"

#include <cstring>
#include <gtest/gtest.h>

namespace GAME {
namespace {

class FlagCondition : public TriggerCondition
{
public:
    FlagCondition(unsigned int id, Trigger* parent) : TriggerCondition(id, parent) {}
    const char* GetClassName() const override { return "FlagCondition"; }
    void GetDisplayText(std::string& text) const override { text = "flag " + flag; }
    void SerializeChild(IOStream* s) override { s->StreamPropertyEx("flag", flag); }
    void StreamChildProperties(IOStream* s) override { s->StreamPropertyEx("seen", seen); }
    bool ContainsToken(const char* token) override { return flag == token; }
    std::string flag;
    int seen = 0;
};

class NoteAction : public TriggerAction
{
public:
    NoteAction(unsigned int id, Trigger* parent, bool ui = false) : TriggerAction(id, parent)
    {
        SetUpdatesUI(ui);
    }
    const char* GetClassName() const override { return "NoteAction"; }
    void GetDisplayText(std::string& text) const override { text = note; }
    void SerializeChild(IOStream* s) override { s->StreamPropertyEx("note", note); }
    void Execute(unsigned int target, bool) override { executed.push_back(target); }
    bool CanReFire() const override { return reFire; }
    std::string note;
    bool reFire = false;
    std::vector<unsigned int> executed;
};

struct ConditionProducer : TriggerConditionProducer
{
    TriggerCondition* Create(unsigned int id) override { return new FlagCondition(id, nullptr); }
};
struct ActionProducer : TriggerActionProducer
{
    TriggerAction* Create(unsigned int id) override { return new NoteAction(id, nullptr, true); }
};

class Container : public TriggerContainer
{
public:
    void RemoveTrigger(Trigger*) override { ++removed; }
    void MoveTriggerUp(Trigger*) override {}
    void MoveTriggerDown(Trigger*) override {}
    void UpdateContainerUI(Trigger*, const std::string&, const std::string&, bool, bool, bool) override {}
    void UpdateDialogTab(Trigger*, const std::string&) override {}
    void ExecuteAction(TriggerAction* action, unsigned int target) override
    {
        executed.push_back(action);
        targets.push_back(target);
    }
    void StatusChanged(Trigger*) override { ++statusChanges; }
    std::vector<TriggerAction*> executed;
    std::vector<unsigned int> targets;
    int statusChanges = 0;
    int removed = 0;
};

class Arming final : public BooleanCallbackFunctor
{
public:
    bool Call(Trigger*) override { return answer; }
    void Release() override { ++*released; }
    bool answer = true;
    int* released;
};

class QuestListener : public EventHandlerInterface
{
public:
    void HandleEvent(const GameEvent*) override { ++heard; }
    int heard = 0;
};

class TriggerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TriggerConditionFactory::Get()->Register("FlagCondition", &conditions);
        TriggerActionFactory::Get()->Register("NoteAction", &actions);
        EventManager::Get()->Register("GameEvent_QuestUpdate", &listener);
    }
    void TearDown() override { EventManager::Get()->UnRegister("GameEvent_QuestUpdate", &listener); }

    ConditionProducer conditions;
    ActionProducer actions;
    QuestListener listener;
    Container container;
};

TEST_F(TriggerTest, FiringRules)
{
    // No conditions: the first status change fires.
    Trigger plain(1);
    plain.SetParent(&container);
    plain.SetActionTarget(99);
    NoteAction* a = new NoteAction(1, &plain);
    NoteAction* b = new NoteAction(2, &plain);
    plain.AddAction(a);
    plain.AddAction(b);
    plain.OnStatusChange(false);
    EXPECT_TRUE(plain.HasFired());
    ASSERT_EQ(container.executed.size(), 2u);
    EXPECT_EQ(container.executed[0], a);
    EXPECT_EQ(container.targets[1], 99u);
    EXPECT_EQ(listener.heard, 1);
    // A fired trigger ignores changes, whatever they say.
    plain.OnStatusChange(true);
    EXPECT_EQ(container.executed.size(), 2u);
    EXPECT_EQ(container.statusChanges, 1);
    EXPECT_EQ(listener.heard, 1);
    // ReFire runs the re-firable actions only, state unchanged.
    b->reFire = true;
    plain.ReFire(5);
    EXPECT_TRUE(a->executed.empty());
    EXPECT_EQ(b->executed, std::vector<unsigned int>{5});
    plain.Reset();
    EXPECT_FALSE(plain.HasFired());

    // An unsatisfied "not" condition lets the trigger fire; a satisfied one stops it.
    Trigger negated(2);
    negated.SetParent(&container);
    FlagCondition* c = new FlagCondition(1, &negated);
    c->SetNot(true);
    negated.AddCondition(c);
    c->SetSatisfied(true);
    negated.OnStatusChange(false);
    EXPECT_FALSE(negated.HasFired());
    c->SetSatisfied(false);
    negated.OnStatusChange(false);
    EXPECT_TRUE(negated.HasFired());

    // An arming functor that says no: no firing, but the container and the quest log hear of it.
    int released = 0;
    Arming* arming = new Arming;
    arming->released = &released;
    arming->answer = false;
    {
        Trigger armed(3);
        armed.SetParent(&container);
        armed.SetArmingFunctor(arming);
        const int changes = container.statusChanges;
        const int heard = listener.heard;
        armed.OnStatusChange(true);
        EXPECT_FALSE(armed.HasFired());
        EXPECT_EQ(container.statusChanges, changes + 1);
        EXPECT_EQ(listener.heard, heard + 1);
    }
    EXPECT_EQ(released, 1);
    delete arming;

    // Without a container nothing is lost: the trigger stays armed.
    GAME::Test::LogCapture log;
    Trigger orphan(4);
    orphan.AddAction(new NoteAction(1, &orphan));
    orphan.OnStatusChange(true);
    orphan.Fire(true);
    EXPECT_FALSE(orphan.HasFired());
    EXPECT_EQ(log.Count(), 2u);
    orphan.Fire(false);
    EXPECT_TRUE(orphan.HasFired());
    orphan.RemoveFromParent();
    EXPECT_EQ(container.removed, 0);
}

TEST_F(TriggerTest, EditingLists)
{
    Trigger trigger(7);
    FlagCondition* c[3];
    for (int i = 0; i < 3; ++i) {
        c[i] = new FlagCondition(static_cast<unsigned int>(i), &trigger);
        trigger.AddCondition(c[i]);
    }
    c[0]->MoveUpInParent();
    EXPECT_EQ(trigger.GetConditionAtIdx(0), c[0]);
    c[2]->MoveDownInParent();
    EXPECT_EQ(trigger.GetConditionAtIdx(2), c[2]);
    c[2]->MoveUpInParent();
    EXPECT_EQ(trigger.GetConditionAtIdx(1), c[2]);
    EXPECT_EQ(trigger.GetConditionAtIdx(2), c[1]);
    c[0]->RemoveFromParent();
    EXPECT_EQ(trigger.GetConditionCount(), 2);
    EXPECT_EQ(trigger.GetConditionAtIdx(5), nullptr);
    FlagCondition stray(9, nullptr);
    trigger.RemoveCondition(&stray); // not in the list
    EXPECT_EQ(trigger.GetConditionCount(), 2);
    c[1]->flag = "key";
    EXPECT_TRUE(trigger.ContainsToken("key"));
    EXPECT_FALSE(trigger.ContainsToken("door"));
}

TEST_F(TriggerTest, DefinitionsRoundTripSkippingUnknownClasses)
{
    IOStreamWrite out("unused", IOStream::IOSTREAM_DISK);
    {
        Trigger trigger(0x1200);
        trigger.SetDisplayTag("tagQuest");
        trigger.SetActive(true);
        for (int i = 0; i < 3; ++i) {
            FlagCondition* c = new FlagCondition(static_cast<unsigned int>(i), &trigger);
            c->flag = "f" + std::to_string(i);
            c->SetResettable(i == 1);
            trigger.AddCondition(c);
        }
        NoteAction* action = new NoteAction(0, &trigger);
        action->note = "open the gate";
        trigger.AddAction(action);
        trigger.Serialize(&out);
    }
    IOStreamRead in(out.GetFileBuffer(), out.GetFileLength());
    Trigger read(0x1200);
    read.Serialize(&in);
    EXPECT_EQ(read.GetDisplayTag(), "tagQuest");
    EXPECT_TRUE(read.IsActive());
    ASSERT_EQ(read.GetConditionCount(), 3);
    for (int i = 0; i < 3; ++i) {
        auto* c = static_cast<FlagCondition*>(read.GetConditionAtIdx(i));
        EXPECT_EQ(c->GetId(), 0x1200u + static_cast<unsigned int>(i));
        EXPECT_EQ(c->flag, "f" + std::to_string(i));
        EXPECT_EQ(c->GetParent(), &read);
        EXPECT_EQ(c->GetResettable(), i == 1);
    }
    ASSERT_EQ(read.GetActionCount(), 1);
    EXPECT_EQ(static_cast<NoteAction*>(read.GetActionAtIdx(0))->note, "open the gate");
    EXPECT_TRUE(read.UpdatesUI());

    // The same definition read where no condition class is known: each is skipped with its block.
    TriggerConditionFactory::Get()->Register("FlagCondition", nullptr); // ignored: still known
    IOStreamWrite other("unused", IOStream::IOSTREAM_DISK);
    {
        Trigger trigger(0x300);
        FlagCondition* unknown = new FlagCondition(0, &trigger);
        trigger.AddCondition(unknown);
        struct Stranger : FlagCondition
        {
            using FlagCondition::FlagCondition;
            const char* GetClassName() const override { return "StrangerCondition"; }
        };
        Stranger* stranger = new Stranger(1, &trigger);
        stranger->flag = "zzz";
        trigger.AddCondition(stranger);
        FlagCondition* known = new FlagCondition(2, &trigger);
        known->flag = "last";
        trigger.AddCondition(known);
        trigger.Serialize(&other);
    }
    GAME::Test::LogCapture log;
    IOStreamRead otherIn(other.GetFileBuffer(), other.GetFileLength());
    Trigger partial(0x300);
    partial.Serialize(&otherIn);
    EXPECT_TRUE(log.Contains("Couldn't Find Trigger Condition : StrangerCondition", 1));
    ASSERT_EQ(partial.GetConditionCount(), 2);
    EXPECT_EQ(static_cast<FlagCondition*>(partial.GetConditionAtIdx(1))->flag, "last");
    EXPECT_EQ(partial.GetConditionAtIdx(1)->GetId(), 0x301u);
}

TEST_F(TriggerTest, StateStreamsResetResettableConditions)
{
    Trigger trigger(5);
    trigger.SetParent(&container);
    FlagCondition* keep = new FlagCondition(0, &trigger);
    FlagCondition* reset = new FlagCondition(1, &trigger);
    reset->SetResettable(true);
    keep->SetSatisfied(true);
    reset->SetSatisfied(true);
    keep->seen = 4;
    trigger.AddCondition(keep);
    trigger.AddCondition(reset);
    trigger.OnStatusChange(false);
    ASSERT_TRUE(trigger.HasFired());

    IOStreamWrite out("unused", IOStream::IOSTREAM_DISK);
    trigger.StreamProperties(&out);
    keep->SetSatisfied(false);
    keep->seen = 0;
    IOStreamRead in(out.GetFileBuffer(), out.GetFileLength());
    trigger.StreamProperties(&in);
    EXPECT_TRUE(keep->IsSatisfied());
    EXPECT_EQ(keep->seen, 4);
    EXPECT_FALSE(reset->IsSatisfied());
    EXPECT_FALSE(trigger.HasFired()) << "a resettable condition arms its trigger again";
    reset->SetSatisfied(true);
    trigger.OnStatusChange(false);
    EXPECT_TRUE(trigger.HasFired());

    // A state of more conditions than the trigger has: the extra blocks are passed over.
    Trigger smaller(6);
    smaller.AddCondition(new FlagCondition(0, &smaller));
    IOStreamRead again(out.GetFileBuffer(), out.GetFileLength());
    smaller.StreamProperties(&again);
    EXPECT_TRUE(smaller.HasFired());
    EXPECT_TRUE(smaller.GetConditionAtIdx(0)->IsSatisfied());
}

TEST_F(TriggerTest, TokensAreUniqueAndStream)
{
    TriggerTokenList list;
    list.AddNewToken("gate");
    list.AddNewToken("gate");
    list.AddNewToken("Gate");
    EXPECT_EQ(list.GetTokenCount(), 2);
    list.GetToken(0)->AddFileReference("a.lvl");
    list.GetToken(0)->AddFileReference("a.lvl");
    EXPECT_EQ(list.GetToken(0)->GetFileReferenceCount(), 2);
    EXPECT_EQ(list.GetToken(0)->GetFileReference(4), "");
    EXPECT_EQ(list.GetTokenName(9), "");
    EXPECT_EQ(list.GetToken(-1), nullptr);
    EXPECT_TRUE(*list.GetToken(0) == TriggerToken("gate"));

    IOStreamWrite out("unused", IOStream::IOSTREAM_DISK);
    list.StreamProperties(&out);
    IOStreamRead in(out.GetFileBuffer(), out.GetFileLength());
    TriggerTokenList read;
    read.StreamProperties(&in);
    ASSERT_EQ(read.GetTokenCount(), 2);
    EXPECT_EQ(read.GetTokenName(0), "gate");
    EXPECT_EQ(read.GetTokenName(1), "Gate");
    EXPECT_EQ(read.GetToken(0)->GetFileReferenceCount(), 2);
    EXPECT_EQ(read.GetToken(0)->GetFileReference(1), "a.lvl");
    read.RemoveToken("gate");
    EXPECT_EQ(read.GetTokenCount(), 1);
    EXPECT_EQ(read.GetTokenName(0), "Gate");
}

TEST(AssignStringsTest, CopiesAndCopesWithAliasing)
{
    char* text = nullptr;
    AssignStrings("hello world", &text);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "hello world");
    AssignStrings(text, &text);
    EXPECT_STREQ(text, "hello world");
    AssignStrings(text + 6, &text); // the source lies inside the old text
    EXPECT_STREQ(text, "world");
    AssignStrings(nullptr, &text);
    EXPECT_EQ(text, nullptr);
    AssignStrings("x", nullptr);
}

} // namespace
} // namespace GAME
