// The sample game's walker: an actor that plays the animation its record names ("animation") in a
// loop, once that animation and its mesh have loaded (the level's pre-load queues both), and walks
// with it in a circle: every update its root motion moves it (its feet kept on its level's
// terrain) and it turns by "turnRate" radians a second, through its world (or its level when it
// is in no world), so it stays near where it was placed. The generated worlds place the sample
// character as walkers. Registered as "SampleWalker" under "Actor".
//
// Owns one reference to its animation. Main thread (a level's loading thread creates and loads
// it).
#pragma once

#include "world/Actor.h"

namespace DataKit {

class SampleWalker : public GAME::Actor
{
    GAME_DECLARE_CLASS(SampleWalker)

public:
    // The class name records give; using it links the class into the program.
    static const char* ClassName();

    // The actor's fields, then "animation", "turnRate" (radians a second, default 0) and the tint
    // its mesh is drawn with, "tintColor.r", "tintColor.g" and "tintColor.b" (1 each: the mesh's own
    // colours).
    void Load(const GAME::LoadTable& table) override;
    // The actor's, then the animation is queued on the loader.
    void PreLoad(bool immediate) override;

    const GAME::GraphicsAnim* GetAnimation() const { return m_animation; }
    bool IsWalking() const { return m_walking; }
    float GetTurnRate() const { return m_turnRate; }

protected:
    ~SampleWalker() override;
    void UpdateSelf(int elapsed) override;

private:
    GAME::GraphicsAnim* m_animation = nullptr;
    float m_turnRate = 0.0f;
    bool m_walking = false;
};

} // namespace DataKit
