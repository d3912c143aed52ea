// Reads any bytes as an animation file, samples what loaded at ordinary, huge, negative and
// not-a-number times, and plays it on a channel whose entity stops or restarts the channel from
// its event handler as the input's last byte says: no crash, no hang, finite poses from finite
// key frames.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "datakit/AnimWriter.h"
#include "datakit/CharacterGenerator.h"
#include "scene/AnimChannel.h"
#include "scene/GraphicsAnim.h"
#include "scene/SkeletalPose.h"
#include "world/Entity.h"

#include <cmath>
#include <cstdlib>

namespace {

using namespace GAME;

class FuzzListener : public Entity
{
public:
    void AnimationCallback(int, const Name&) override
    {
        ++events;
        if (!channel || !anim)
            return;
        if (mode == 1)
            channel->StopAnimation();
        else if (mode == 2 && events % 3 == 0)
            channel->PlayAnimation(anim, events % 2 == 0, 1.5f, 20);
    }
    AnimChannel* channel = nullptr;
    const GraphicsAnim* anim = nullptr;
    int mode = 0;
    int events = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    static FuzzListener* listener = new FuzzListener;
    GraphicsAnim anim(nullptr, "fuzz.anm");
    if (anim.Initialize(data, static_cast<int>(size)) != Resource::INIT_SUCCESS) {
        if (anim.GetNumBones() != 0 || anim.GetNumCallbackPoints() != 0)
            std::abort();
        return 0;
    }
    SkeletalPose pose;
    for (float frame : {0.0f, 0.5f, 3.25f, 1e7f, 1e30f, -2.0f, NAN, INFINITY})
        for (bool loop : {false, true})
            anim.GetFramePose(pose, frame, loop);

    AnimChannel channel;
    listener->channel = &channel;
    listener->anim = &anim;
    listener->mode = size > 0 ? data[size - 1] % 3 : 0;
    listener->events = 0;
    channel.SetEntity(0, listener);
    const Name root = anim.GetNumBones() > 0 ? Name::Create(anim.GetBoneName(0).c_str()) : Name();
    channel.PlayAnimation(&anim, true, 1.0f, 50);
    for (int i = 0; i < 40; ++i) {
        Vec3 movement;
        if (i == 10)
            channel.PlayAnimation(&anim, false, 2.0f, 30);
        channel.Update(i % 7 == 0 ? 0 : 33, root, pose, movement, i % 5 == 0);
    }
    listener->channel = nullptr;
    listener->anim = nullptr;
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    using DataKit::AnimWriter;
    using DataKit::CharacterGenerator;
    AnimWriter walk = CharacterGenerator::MakeWalk();
    walk.text += AnimWriter::CreateEntityText(4, "records/none.dbr", "Hand") +
                 "RagDollData { effectType = \"Blast\" direction = Push elevation = Sideways push = Left }\n";
    sink.Add("walk2", walk.Write(2));
    sink.Add("idle1", CharacterGenerator::MakeIdle().Write(1));
    AnimWriter one = CharacterGenerator::MakeIdle();
    one.frameCount = 1;
    one.text = AnimWriter::CallbackPointText("Only", 0);
    sink.Add("single2", one.Write(2));
    one.frameCount = 0;
    sink.Add("empty2", one.Write(2));
}
