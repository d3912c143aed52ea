// What the scene renderers need of the engine above them, which they may not include: the input
// device (a held Caps Lock freezes the shadow focus for inspection), the ambiance's tint of the
// light, sky and ground (indoors 0, outdoors 1) and the number of regions of the engine's world (for
// regions outside any world). The graphics engine in use comes from graphics' own GraphicsServices.
// The engine implements this interface and installs it when it is constructed (and removes it
// when it goes away); scene never includes the engine.
//
// Without an engine the shorthands below answer for it: no input device, no tint, no regions.
//
// Threads: Install and Remove on the main thread; the getters are main-thread calls.
#pragma once

#include "core/Color.h"

namespace GAME {

class InputDevice;

class SceneServices
{
public:
    virtual ~SceneServices() = default;

    // Null when the engine has none.
    virtual InputDevice* GetInputDevice() = 0;
    // The ambiance manager's colours for the environment; false when the engine has none.
    virtual bool GetAmbianceTint(int environment, Color& light, Color& skyAmbient, Color& groundAmbient) = 0;
    // 0 when the engine has no world.
    virtual int GetWorldRegionCount() = 0;

    // Installs the one implementation (null removes it).
    static void Install(SceneServices* services);
    static SceneServices* Get();

    // Shorthands that stand in for a missing engine.
    static InputDevice* Input();
    static bool AmbianceTint(int environment, Color& light, Color& skyAmbient, Color& groundAmbient);
    static int WorldRegionCount();
};

} // namespace GAME
