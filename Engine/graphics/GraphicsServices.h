// What graphics needs of the engine above it: the graphics engine in use (for the helpers that are
// not handed one), the "Graphics" log category, the frame's update time (animated shader
// parameters), whether fonts process characters, the utility font style (debug text), the sound
// manager a video plays its sound through, and the effect resources (reloaded with the
// graphics engine's own). The engine implements this interface and installs it when it is
// constructed (and removes it when it goes away); graphics never includes the engine.
//
// Without an engine the shorthands below answer for it: no graphics engine, log category 0,
// update time 0, character processing on, the default utility font style, no sound and no effect
// resources.
//
// Threads: Install and Remove on the main thread; the getters are main-thread calls.
#pragma once

#include <string>

namespace GAME {

class BaseResourceManager;
class GraphicsEngine;
class SoundManager;

class GraphicsServices
{
public:
    // Engine::defaultUtilityFontStyle.
    static constexpr const char* defaultUtilityFontStyle = "Records/UI/FontStyles/WhiteArial.dbr";

    virtual ~GraphicsServices() = default;

    // Null before the engine made one and after it went.
    virtual GraphicsEngine* GetGraphicsEngine() = 0;
    // The number of the "Graphics" log category.
    virtual unsigned int GetGraphicsLogCategory() = 0;
    // Engine::GetUpdateTime, in milliseconds.
    virtual int GetUpdateTime() = 0;
    virtual bool DoCharacterProcessing() = 0;
    virtual std::string GetUtilityFontStyle() = 0;
    // Null when the engine has none.
    virtual SoundManager* GetSoundManager() = 0;
    // Null when the engine has none.
    virtual BaseResourceManager* GetEffectResourceManager() = 0;

    // Installs the one implementation (null removes it).
    static void Install(GraphicsServices* services);
    static GraphicsServices* Get();

    // Shorthands that stand in for a missing engine.
    static GraphicsEngine* Graphics();
    static unsigned int GraphicsLogCategory();
    static int UpdateTime();
    static bool CharacterProcessing();
    static std::string UtilityFontStyle();
    static SoundManager* Sound();
    static BaseResourceManager* EffectResources();
};

} // namespace GAME
