// What to play: a sound file, where it sounds and how loud. Made by the code that plays a sound
// (actors, lights, effects, a sound pak's pick) and handed to the sound manager; a plain, copyable
// value. Volume is 0 to 1; the sound is at full volume within the minimum distance of the ears and
// fades to silence at the maximum distance.
#pragma once

#include "core/WorldVec3.h"

#include <string>

namespace GAME {

class SoundDescriptor
{
public:
    static constexpr float kDefaultMinDistance = 5.0f;
    static constexpr float kDefaultMaxDistance = 50.0f;

    SoundDescriptor() = default;
    explicit SoundDescriptor(const std::string& fileName) : m_fileName(fileName) {}

    const std::string& GetFileName() const { return m_fileName; }
    void SetFileName(const std::string& fileName) { m_fileName = fileName; }
    // Where a 3-D sound plays; no region until the caller sets it.
    const WorldVec3& GetPosition() const { return m_position; }
    void SetPosition(const WorldVec3& position) { m_position = position; }

    float GetVolume() const { return m_volume; }
    void SetVolume(float volume) { m_volume = volume; }
    float GetMinDistance() const { return m_minDistance; }
    float GetMaxDistance() const { return m_maxDistance; }
    void SetDistances(float minDistance, float maxDistance)
    {
        m_minDistance = minDistance;
        m_maxDistance = maxDistance;
    }

private:
    std::string m_fileName;
    WorldVec3 m_position;
    float m_volume = 1.0f;
    float m_minDistance = kDefaultMinDistance;
    float m_maxDistance = kDefaultMaxDistance;
};

} // namespace GAME
