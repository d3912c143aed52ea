// A light whose intensity and shadow strength follow the time of day: every update it takes the
// ambiance manager's night-light scale (clamped to 0 to 1) as its intensity and its shadow
// intensity as its own. Registered as "NightLight" under "Light". Main thread.
#pragma once

#include "world/Light.h"

namespace GAME {

class NightLight : public Light
{
    GAME_DECLARE_CLASS(NightLight)

public:
    NightLight() = default;

protected:
    ~NightLight() override = default;
    void UpdateSelf(int elapsed) override;
};

} // namespace GAME
