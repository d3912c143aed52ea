// Reads any bytes as an animation file, samples what loaded at ordinary, huge, negative and
// not-a-number frames and at two frames the input's last bytes name, and plays it on a channel
// whose entity stops or restarts the channel from its event handler as the input's last byte
// says: no crash, no hang; every pose sampled or played is finite and holds every bone of the
// animation, and a bone sampled at a whole frame inside the animation is that key frame.
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
#include <cstring>

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

bool Finite(const Quat& q)
{
    return IsFinite(q.x) && IsFinite(q.y) && IsFinite(q.z) && IsFinite(q.w);
}

void CheckFinite(const SkeletalPose& pose)
{
    for (int32_t entry = pose.FirstBone(); entry >= 0; entry = pose.NextBone(entry)) {
        const SkeletalPose::AffineParts& parts = pose.GetEntryParts(entry);
        if (!IsFiniteVec3(parts.t) || !Finite(parts.q) || !IsFiniteVec3(parts.k) || !Finite(parts.u))
            std::abort();
    }
}

bool Same(const SkeletalPose::AffineParts& a, const SkeletalPose::AffineParts& b)
{
    return a.t == b.t && a.q == b.q && a.k == b.k && a.u == b.u;
}

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
    FuzzAccepted();
    float named[2] = {0.0f, 0.0f};
    if (size >= sizeof(named))
        std::memcpy(named, data + size - sizeof(named), sizeof(named));
    SkeletalPose pose;
    for (float frame : {0.0f, 0.5f, 3.25f, 1e7f, 1e30f, -2.0f, NAN, INFINITY, named[0], named[1]})
        for (bool loop : {false, true}) {
            SkeletalPose sampled;
            anim.GetFramePose(sampled, frame, loop);
            CheckFinite(sampled);
            // A pose holds 251 bones at most.
            for (unsigned bone = 0; bone < anim.GetNumBones() && anim.GetNumBones() <= 251; ++bone) {
                const GraphicsAnim::BoneTrack& track = anim.GetBoneTrack(bone);
                if (!sampled.ContainsBone(track.GetName()) && track.GetName() != Name::noName)
                    std::abort();
            }
            pose = sampled;
        }
    // Whole frames inside the animation are its key frames (a later track of the same bone wins).
    for (unsigned bone = 0; bone < anim.GetNumBones() && anim.GetNumBones() <= 251; ++bone) {
        const GraphicsAnim::BoneTrack& track = anim.GetBoneTrack(bone);
        if (track.GetName() == Name::noName || track.GetNumFrames() == 0)
            continue;
        bool last = true;
        for (unsigned later = bone + 1; later < anim.GetNumBones(); ++later)
            last = last && !(anim.GetBoneTrack(later).GetName() == track.GetName());
        if (!last)
            continue;
        const int32_t frame = track.GetNumFrames() / 2;
        SkeletalPose sampled;
        anim.GetFramePose(sampled, static_cast<float>(frame), false);
        if (frame < (1 << 24) && !Same(sampled.GetBone(track.GetName()), track.GetFrame(frame)))
            std::abort();
    }

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
        CheckFinite(pose);
        if (!IsFiniteVec3(movement))
            std::abort();
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
