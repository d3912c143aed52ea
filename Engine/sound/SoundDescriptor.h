// What to play: a sound file and where it sounds. Made by the code that plays a sound (actors,
// lights, effects) and handed to the sound manager; a plain, copyable value.
#pragma once

#include <string>

namespace GAME {

class SoundDescriptor
{
public:
    SoundDescriptor() = default;
    explicit SoundDescriptor(const std::string& fileName) : m_fileName(fileName) {}

    const std::string& GetFileName() const { return m_fileName; }
    void SetFileName(const std::string& fileName) { m_fileName = fileName; }

private:
    std::string m_fileName;
};

} // namespace GAME
