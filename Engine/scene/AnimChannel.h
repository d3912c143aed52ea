// One layer of animation playback on a mesh instance: it plays one animation at a time, cross-fades
// from the previous one over a blend time, queues animations started during a cross-fade, advances
// the animation time by the frame's elapsed time and a speed factor, turns the movement of the
// root-motion bone into a velocity (putting the bone back at its origin), and tells its entity when
// named frames are crossed (AnimationCallback with the point's name), when the animation ends or
// wraps (the name "End") and when entities are to be created and attached (an effect entity made
// there becomes a self-deleting child: it leaves once its effect has played).
//
// An event handler may stop or restart the channel: every PlayAnimation and StopAnimation moves
// the channel's play count, and an advance that sees it move after an event raises no further
// events and leaves the time where it was.
//
// Animations are not owned; the caller keeps them loaded while they play. A plain value (copies
// copy everything, the queue included). Main thread only.
#pragma once

#include "core/Name.h"
#include "core/Vec3.h"

#include <cstdint>
#include <deque>
#include <string>

namespace GAME {

class Entity;
class GraphicsAnim;
class SkeletalPose;

struct AnimChannel
{
    struct QueuedAnim
    {
        const GraphicsAnim* anim = nullptr;
        bool loop = false;
        int32_t blendTime = 0; // milliseconds
        float speed = 1.0f;
    };

    struct PlayState
    {
        const GraphicsAnim* anim = nullptr;
        bool loop = false;
        float time = 0.0f; // milliseconds of animation time since the start
        float speed = 1.0f;
        Vec3 lastRootPosition;

        PlayState() = default;
        explicit PlayState(const QueuedAnim& queued)
            : anim(queued.anim), loop(queued.loop), speed(queued.speed)
        {
        }

        bool IsValid() const { return anim != nullptr; }
        // frame rate * time / 1000, truncated; 0 without an animation.
        int GetCurrentFrame() const;
        // The animation's file name, "(none)" without one.
        std::string GetAnimationName() const;
        void Drop() { anim = nullptr; }
    };

    int32_t channelIndex = 0;
    Entity* entity = nullptr;
    std::deque<QueuedAnim> queue;
    PlayState outgoing;
    PlayState current;
    int32_t blendElapsed = 0; // milliseconds since the current fade started
    int32_t blendTime = 0;    // length of the current fade
    // Moves with every PlayAnimation and StopAnimation.
    uint32_t playCount = 0;

    void SetEntity(int index, Entity* newEntity)
    {
        channelIndex = index;
        entity = newEntity;
    }
    // Queued while a cross-fade runs; otherwise the current animation (if any) starts fading out and
    // this one starts from its first frame.
    void PlayAnimation(const GraphicsAnim* anim, bool loop, float speed, int blendTimeMs);
    // Drops the current and the outgoing animation and the queue; the blend times stay.
    void StopAnimation();
    // A current or an outgoing animation, or a queued one.
    bool IsValid() const { return current.IsValid() || outgoing.IsValid() || !queue.empty(); }
    // Advances by the elapsed milliseconds, writing the pose and the root bone's velocity (units a
    // second); false, with pose and movement untouched, without a current animation.
    bool Update(int elapsedMs, const Name& rootBone, SkeletalPose& pose, Vec3& movement, bool rootOnly);
    int GetCurrentFrame() const { return current.GetCurrentFrame(); }
    std::string GetCurrentAnimationName() const { return current.GetAnimationName(); }
    // The weight of the channel over the layers below: 0 without a current animation, 1 during a
    // cross-fade, else blend elapsed / blend time (1 for a blend time of 0).
    float GetBlendAmount() const;

    // Advances one state; events go to the entity given (none for null). False when an event
    // handler changed the channel, which ends the advance at once.
    bool Advance(PlayState& state, int elapsedMs, Entity* eventEntity, const Name& rootBone,
                 SkeletalPose& pose, Vec3& movement, bool rootOnly);
};

} // namespace GAME
