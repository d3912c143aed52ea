#include "scene/AnimChannel.h"

#include "core/MathUtil.h"
#include "scene/GraphicsAnim.h"
#include "scene/SceneWorldServices.h"
#include "scene/SkeletalPose.h"

#include <algorithm>

namespace GAME {

int AnimChannel::PlayState::GetCurrentFrame() const
{
    if (!anim)
        return 0;
    return static_cast<int>(static_cast<float>(anim->GetFrameRate()) * (time * 0.001f));
}

std::string AnimChannel::PlayState::GetAnimationName() const
{
    return anim ? std::string(anim->GetFileName()) : std::string("(none)");
}

void AnimChannel::PlayAnimation(const GraphicsAnim* anim, bool loop, float speed, int blendTimeMs)
{
    ++playCount;
    if (outgoing.IsValid()) {
        QueuedAnim queued;
        queued.anim = anim;
        queued.loop = loop;
        queued.blendTime = blendTimeMs;
        queued.speed = speed;
        queue.push_back(queued);
        return;
    }
    if (current.IsValid())
        outgoing = current;
    current = PlayState();
    current.anim = anim;
    current.loop = loop;
    current.speed = speed;
    blendElapsed = 0;
    blendTime = blendTimeMs;
}

void AnimChannel::StopAnimation()
{
    ++playCount;
    outgoing.Drop();
    current.Drop();
    queue.clear();
}

float AnimChannel::GetBlendAmount() const
{
    if (!current.IsValid())
        return 0.0f;
    if (outgoing.IsValid() || blendTime == 0)
        return 1.0f;
    return static_cast<float>(blendElapsed) / static_cast<float>(blendTime);
}

bool AnimChannel::Update(int elapsedMs, const Name& rootBone, SkeletalPose& pose, Vec3& movement,
                         bool rootOnly)
{
    const int32_t elapsed = blendElapsed + elapsedMs;
    if (outgoing.IsValid()) {
        blendElapsed = elapsed;
        if (elapsed > blendTime) {
            blendElapsed = 0;
            if (!queue.empty()) {
                blendTime = queue.front().blendTime;
                outgoing = current;
                current = PlayState(queue.front());
                queue.pop_front();
            } else {
                blendTime = 0;
                outgoing.Drop();
            }
        }
    } else {
        blendElapsed = std::min(elapsed, blendTime);
    }
    if (!current.IsValid())
        return false;
    // A handler that changed the channel leaves the rest of this update to the channel's new state.
    if (!Advance(current, elapsedMs, entity, rootBone, pose, movement, rootOnly))
        return true;
    if (!outgoing.IsValid())
        return true;

    SkeletalPose fading;
    Vec3 fadingMovement;
    Advance(outgoing, elapsedMs, nullptr, rootBone, fading, fadingMovement, rootOnly);
    float w = blendTime == 0 ? 1.0f : static_cast<float>(blendElapsed) / static_cast<float>(blendTime);
    w = std::clamp(w, 0.0f, 1.0f);
    pose.Blend(fading, 1.0f - w);
    movement = movement * w + fadingMovement * (1.0f - w);
    return true;
}

bool AnimChannel::Advance(PlayState& state, int elapsedMs, Entity* eventEntity, const Name& rootBone,
                          SkeletalPose& pose, Vec3& movement, bool rootOnly)
{
    const GraphicsAnim* anim = state.anim;
    const float step = static_cast<float>(elapsedMs) * state.speed;
    const float endTime = state.time + step;
    if (rootOnly)
        anim->GetPose(pose, endTime, state.loop, rootBone);
    else
        anim->GetPose(pose, endTime, state.loop);

    // The root bone's travel becomes the movement; the bone keeps its rotation at the origin.
    Coords root = pose.GetBoneCoords(rootBone);
    movement = elapsedMs < 1
                   ? Vec3()
                   : (root.origin - state.lastRootPosition) * (1000.0f / static_cast<float>(elapsedMs));
    state.lastRootPosition = root.origin;
    root.origin = Vec3();
    pose.SetBoneCoords(rootBone, root);

    const uint32_t frameCount = anim->GetLength();
    if (!eventEntity || frameCount == 0) {
        // No events: nobody listens, or there are no frames to cross.
        state.time = endTime;
        return true;
    }
    const float frames = static_cast<float>(frameCount);
    const float rate = static_cast<float>(anim->GetFrameRate());
    float f0 = rate * (state.time * 0.001f);
    float f1 = rate * (endTime * 0.001f);
    if (state.loop) {
        // Events run on a cycle of F frames, while the pose repeats every F - 1.
        f0 = WrapValue(f0, 0.0f, frames);
        f1 = WrapValue(f1, 0.0f, frames);
    }
    const bool ended = state.loop ? f1 < f0 : (f0 < frames - 1.0f && frames - 1.0f <= f1);
    auto inStep = [&](int32_t frame) {
        const float p = static_cast<float>(frame);
        return (f0 <= p && p < f1) || (f1 < f0 && (p >= f0 || p < f1));
    };

    SceneWorldServices& world = SceneWorldServices::Current();
    const uint32_t count = playCount;
    const unsigned callbacks = anim->GetNumCallbackPoints();
    for (unsigned i = 0; i < callbacks; ++i) {
        const GraphicsAnim::CallbackPoint& point = anim->GetCallbackPoint(i);
        if (!inStep(point.frame))
            continue;
        world.AnimationCallback(eventEntity, channelIndex, point.name);
        if (playCount != count)
            return false;
    }
    const unsigned creations = anim->GetNumCreateEntity();
    for (unsigned i = 0; i < creations; ++i) {
        const GraphicsAnim::CreateEntity& point = anim->GetCreateEntity(i);
        if (!inStep(point.frame))
            continue;
        // An effect made at a create-entity point goes away by itself once it has played.
        world.CreateAnimationEntity(eventEntity, point.entity, point.attach);
    }
    state.time = endTime;
    if (ended) {
        static const Name endName = Name::Create("End");
        world.AnimationCallback(eventEntity, channelIndex, endName);
        return playCount == count;
    }
    return true;
}

} // namespace GAME
