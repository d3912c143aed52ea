// What to play: a sound file and where it sounds. Made by the code that plays a sound (actors,
// lights, effects) and handed to the sound manager; a plain, copyable value.
#pragma once

#include "core/WorldVec3.h"

#include <string>

namespace GAME {

class SoundDescriptor
{
public:
    SoundDescriptor() = default;
    explicit SoundDescriptor(const std::string& fileName) : m_fileName(fileName) {}

    const std::string& GetFileName() const { return m_fileName; }
    void SetFileName(const std::string& fileName) { m_fileName = fileName; }
    // Where a 3-D sound plays; no region until the caller sets it.
    const WorldVec3& GetPosition() const { return m_position; }
    void SetPosition(const WorldVec3& position) { m_position = position; }

private:
    std::string m_fileName;
    WorldVec3 m_position;
};

} // namespace GAME
