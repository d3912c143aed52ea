// A pak of sound variations made from a database record: a sound effect that picks one of its
// files each time it plays (footsteps, hits, voices), with the volume and distances every pick
// plays with. Registered with the class registry so records can name it. Actors and effects play a
// pak at a position; the engine's sound manager plays the pick in 3-D.
//
// Record fields: "soundFiles" (array of file names), "volume" (0 to 1, default 1), "minDistance"
// and "maxDistance" (SoundDescriptor's defaults).
//
// Main thread only.
#pragma once

#include "core/Object.h"
#include "core/RandomUniformLocked.h"
#include "sound/SoundDescriptor.h"

#include <string>
#include <vector>

namespace GAME {

class SoundManager;

class SoundPak : public Object
{
    GAME_DECLARE_CLASS(SoundPak)

public:
    SoundPak() = default;

    void Load(const LoadTable& table) override;
    void SetSoundFiles(const std::vector<std::string>& files) { m_files = files; }
    const std::vector<std::string>& GetSoundFiles() const { return m_files; }

    // One of the files at random, placed at the position; an empty file name when the pak has none.
    SoundDescriptor GetSound(const WorldVec3& position);
    // Plays GetSound(position) through the sound manager (null: the engine's). False when the pak
    // has no files or there is no sound manager.
    bool Play(const WorldVec3& position, SoundManager* soundManager = nullptr);

protected:
    ~SoundPak() override = default;

private:
    std::vector<std::string> m_files;
    float m_volume = 1.0f;
    float m_minDistance = SoundDescriptor::kDefaultMinDistance;
    float m_maxDistance = SoundDescriptor::kDefaultMaxDistance;
    RandomUniformLocked m_random;
};

} // namespace GAME
