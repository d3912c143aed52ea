#include "SceneFixtures.h"

#include "common/RecordServices.h"
#include "core/ObjectManager.h"
#include "datakit/AnimWriter.h"
#include "datakit/ArzWriter.h"
#include "scene/AnimChannel.h"
#include "scene/SkeletalPose.h"
#include "world/Entity.h"

#include <climits>
#include <functional>
#include <map>

namespace GAME {

// Counts the animation events it receives and hands each to an optional hook.
class ChannelEntity : public Entity
{
    GAME_DECLARE_CLASS(ChannelEntity)

public:
    void AnimationCallback(int channel, const Name& name) override
    {
        ++events[name.Hash()];
        lastChannel = channel;
        if (onEvent)
            onEvent(name);
    }
    int Count(const char* name) const
    {
        auto it = events.find(Name::Create(name).Hash());
        return it == events.end() ? 0 : it->second;
    }

    std::map<unsigned, int> events;
    int lastChannel = -1;
    std::function<void(const Name&)> onEvent;
};

GAME_REGISTER_CLASS(ChannelEntity, Entity)

namespace SceneTest {
namespace {

using DataKit::AnimWriter;

// One bone "Root" whose translation along X is perFrame times the frame, and a bone "Arm" at armX.
AnimWriter MakeAnim(int frames, int rate, float perFrame, float armX = 0.0f)
{
    AnimWriter writer;
    writer.frameRate = static_cast<uint32_t>(rate);
    AnimWriter::Track root{"Root", {}}, arm{"Arm", {}};
    for (int f = 0; f < frames; ++f) {
        AnimWriter::Key key;
        key.t = Vec3(perFrame * float(f), 0, 0);
        root.keys.push_back(key);
        key.t = Vec3(armX, 0, 0);
        arm.keys.push_back(key);
    }
    writer.tracks = {root, arm};
    return writer;
}

class AnimChannelTest : public SceneFixture
{
protected:
    void SetUp() override
    {
        DataKit::ArzWriter db(true);
        db.AddRecord("records/listener.dbr").String("Class", "ChannelEntity");
        db.AddRecord("records/dust.dbr").String("Class", "ChannelEntity");
        ASSERT_TRUE(records.Load(db.Build()));
        Entity::InstallHooks();
        listener = ObjectManager::Get()->CreateObjectFromFileAs<ChannelEntity>("records/listener.dbr");
        ASSERT_NE(listener, nullptr);
        channel.SetEntity(3, listener);

        AnimWriter loop = MakeAnim(31, 30, 0.1f);
        loop.text = AnimWriter::CallbackPointText("Zero", 0) + AnimWriter::CallbackPointText("Mid", 15);
        looping = LoadAnim("Anims/Loop.anm", loop.Write(2));
        AnimWriter once = MakeAnim(11, 10, 0.0f);
        once.text = AnimWriter::CallbackPointText("Hit", 5) + AnimWriter::CallbackPointText("After", 5) +
                    AnimWriter::CallbackPointText("Late", 8) +
                    AnimWriter::CreateEntityText(3, "records/dust.dbr", "Foot");
        single = LoadAnim("Anims/Once.anm", once.Write(2));
        base = LoadAnim("Anims/Base.anm", MakeAnim(5, 10, 0.0f, 0.0f).Write(2));
        other = LoadAnim("Anims/Other.anm", MakeAnim(5, 10, 0.0f, 10.0f).Write(2));
        third = LoadAnim("Anims/Third.anm", MakeAnim(5, 10, 0.0f, 20.0f).Write(2));
    }
    void TearDown() override
    {
        ObjectManager::Get()->DestroyObjectEx(listener, __FILE__, __LINE__);
        ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
        ObjectManager::Destroy();
    }

    // One update; answers the arm's X in the pose.
    float Step(int ms)
    {
        Vec3 movement;
        channel.Update(ms, rootBone, pose, movement, false);
        lastMovement = movement;
        return pose.GetBone(Name::Create("Arm")).t.x;
    }

    GAME::Test::RecordServices records;
    ChannelEntity* listener = nullptr;
    AnimChannel channel;
    SkeletalPose pose;
    Vec3 lastMovement;
    const Name rootBone = Name::Create("Root");
    GraphicsAnim* looping = nullptr;
    GraphicsAnim* single = nullptr;
    GraphicsAnim* base = nullptr;
    GraphicsAnim* other = nullptr;
    GraphicsAnim* third = nullptr;
};

TEST_F(AnimChannelTest, FadesInCrossFadesAndQueues)
{
    EXPECT_FALSE(channel.IsValid());
    EXPECT_EQ(channel.GetBlendAmount(), 0.0f);
    EXPECT_EQ(channel.GetCurrentAnimationName(), "(none)");
    Vec3 movement(5, 5, 5);
    EXPECT_FALSE(channel.Update(10, rootBone, pose, movement, false));
    EXPECT_EQ(movement, Vec3(5, 5, 5)); // untouched without an animation

    channel.PlayAnimation(base, true, 1.0f, 200);
    EXPECT_EQ(channel.GetBlendAmount(), 0.0f);
    Step(100);
    EXPECT_FLOAT_EQ(channel.GetBlendAmount(), 0.5f);
    Step(100);
    EXPECT_FLOAT_EQ(channel.GetBlendAmount(), 1.0f);
    Step(100);
    EXPECT_FLOAT_EQ(channel.GetBlendAmount(), 1.0f);

    // A second animation cross-fades inside the channel at full weight.
    channel.PlayAnimation(other, true, 1.0f, 200);
    EXPECT_EQ(channel.GetCurrentAnimationName(), "Anims/Other.anm");
    EXPECT_FLOAT_EQ(Step(100), 5.0f);
    EXPECT_EQ(channel.GetBlendAmount(), 1.0f);
    // A third during the fade waits in the queue and starts its own fade (50 ms) when this one ends.
    channel.PlayAnimation(third, false, 1.0f, 50);
    EXPECT_EQ(channel.queue.size(), 1u);
    EXPECT_EQ(channel.GetCurrentAnimationName(), "Anims/Other.anm");
    EXPECT_FLOAT_EQ(Step(50), 7.5f);
    EXPECT_FLOAT_EQ(Step(60), 10.0f); // the fade ended: Third starts, at weight 0
    EXPECT_EQ(channel.GetCurrentAnimationName(), "Anims/Third.anm");
    EXPECT_EQ(channel.blendTime, 50);
    EXPECT_FLOAT_EQ(Step(25), 15.0f);
    EXPECT_FLOAT_EQ(Step(30), 20.0f); // past the fade: Third alone
    EXPECT_FALSE(channel.outgoing.IsValid());
    EXPECT_TRUE(channel.queue.empty());

    channel.StopAnimation();
    EXPECT_FALSE(channel.IsValid());
    EXPECT_EQ(channel.GetBlendAmount(), 0.0f);
}

TEST_F(AnimChannelTest, RootMotionBecomesAVelocityAndTheBoneStaysHome)
{
    channel.PlayAnimation(looping, true, 1.0f, 0);
    Step(100); // frame 3: the root moved 0.3, in 0.1 s
    ExpectNear(lastMovement, Vec3(3, 0, 0));
    ExpectNear(pose.GetBone(rootBone).t, Vec3());
    const int frame = channel.GetCurrentFrame();
    EXPECT_EQ(frame, 3);
    Step(0); // no time: no movement, no frames
    ExpectNear(lastMovement, Vec3());
    EXPECT_EQ(channel.GetCurrentFrame(), frame);
    // Over the loop's end the root keeps travelling: still 3 units a second.
    for (int i = 0; i < 9; ++i)
        Step(100);
    Step(100);
    ExpectNear(lastMovement, Vec3(3, 0, 0), 1e-3f);
}

TEST_F(AnimChannelTest, EventsFireOncePerPassAndEndEveryWrap)
{
    channel.PlayAnimation(looping, true, 1.0f, 0);
    for (int i = 0; i < 21; ++i)
        Step(100);                         // 2100 ms: the events' cycle is 31 frames, about 1033 ms
    EXPECT_EQ(listener->Count("Zero"), 3); // the first update, then each wrap
    EXPECT_EQ(listener->Count("Mid"), 2);
    EXPECT_EQ(listener->Count("End"), 2);
    EXPECT_EQ(listener->lastChannel, 3);

    // Twice the speed: the same events in half the time.
    listener->events.clear();
    channel.StopAnimation();
    channel.PlayAnimation(looping, true, 2.0f, 0);
    for (int i = 0; i < 21; ++i)
        Step(50);
    EXPECT_EQ(listener->Count("Zero"), 3);
    EXPECT_EQ(listener->Count("End"), 2);

    // Without looping, "End" comes once, when the last key frame is crossed; the entity asked for at
    // frame 3 is created and attached.
    listener->events.clear();
    channel.StopAnimation();
    channel.PlayAnimation(single, false, 1.0f, 0);
    for (int i = 0; i < 6; ++i)
        Step(300);
    EXPECT_EQ(listener->Count("Hit"), 1);
    EXPECT_EQ(listener->Count("Late"), 1);
    EXPECT_EQ(listener->Count("End"), 1);
    EXPECT_EQ(channel.GetCurrentAnimationName(), "Anims/Once.anm"); // held at its end
    ASSERT_EQ(listener->GetNumAttachedEntities(), 1);
    EXPECT_NE(dynamic_cast<ChannelEntity*>(listener->GetAttachedEntity(0)), nullptr);
}

TEST_F(AnimChannelTest, AHandlerThatStopsOrRestartsTheChannelEndsTheAdvance)
{
    // Stopped from the "Hit" handler: "After" (same frame) and the rest are not reported.
    listener->onEvent = [&](const Name& name) {
        if (name == Name::Create("Hit"))
            channel.StopAnimation();
    };
    channel.PlayAnimation(single, false, 1.0f, 0);
    Step(400);
    Step(400);
    EXPECT_EQ(listener->Count("Hit"), 1);
    EXPECT_EQ(listener->Count("After"), 0);
    EXPECT_EQ(channel.GetCurrentAnimationName(), "(none)");
    EXPECT_FALSE(channel.IsValid());

    // Restarted from the handler: the new animation is not advanced with the old step, and the old
    // animation's remaining events of that step are not reported.
    listener->events.clear();
    listener->onEvent = [&](const Name& name) {
        if (name == Name::Create("Hit"))
            channel.PlayAnimation(looping, true, 1.0f, 100);
    };
    channel.PlayAnimation(single, false, 1.0f, 0);
    Step(400);
    Step(400);
    EXPECT_EQ(listener->Count("Hit"), 1);
    EXPECT_EQ(listener->Count("After"), 0);
    EXPECT_EQ(channel.GetCurrentAnimationName(), "Anims/Loop.anm");
    EXPECT_EQ(channel.current.time, 0.0f);
    EXPECT_TRUE(channel.outgoing.IsValid());
    // The next update plays the new animation from its start.
    listener->onEvent = nullptr;
    Step(100);
    EXPECT_EQ(listener->Count("Zero"), 1);
    EXPECT_EQ(channel.GetCurrentFrame(), 3);
}

TEST_F(AnimChannelTest, NoFramesOrNoRateRaiseNoEvents)
{
    AnimWriter empty = MakeAnim(5, 30, 1.0f);
    empty.frameCount = 0;
    empty.text = AnimWriter::CallbackPointText("Zero", 0);
    GraphicsAnim* none = LoadAnim("Anims/Empty.anm", empty.Write(2));
    AnimWriter frozen = MakeAnim(5, 0, 1.0f);
    frozen.text = AnimWriter::CallbackPointText("Zero", 0);
    GraphicsAnim* still = LoadAnim("Anims/Frozen.anm", frozen.Write(2));
    for (GraphicsAnim* anim : {none, still}) {
        for (bool loop : {true, false}) {
            channel.StopAnimation();
            channel.PlayAnimation(anim, loop, 1.0f, 0);
            for (int i = 0; i < 5; ++i)
                Step(100);
            EXPECT_TRUE(IsFiniteVec3(lastMovement));
            EXPECT_EQ(channel.GetCurrentFrame(), anim == still ? 0 : 15); // rate * time
        }
    }
    EXPECT_TRUE(listener->events.empty());
}

} // namespace
} // namespace SceneTest
} // namespace GAME
