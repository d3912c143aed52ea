#include "sound/SoundPak.h"

#include "data/LoadTable.h"
#include "sound/SoundManager.h"
#include "world/Engine.h"

#include <algorithm>
#include <cmath>

namespace GAME {

GAME_REGISTER_CLASS(SoundPak, Object)

void SoundPak::Load(const LoadTable& constTable)
{
    LoadTable& table = const_cast<LoadTable&>(constTable);
    std::vector<std::string> files;
    table.GetArrayValue("soundFiles", files);
    m_files.clear();
    for (std::string& file : files)
        if (!file.empty())
            m_files.push_back(std::move(file));
    const float volume = table.GetFloat("volume", 1.0f);
    m_volume = std::isfinite(volume) ? std::clamp(volume, 0.0f, 1.0f) : 1.0f;
    m_minDistance = table.GetFloat("minDistance", SoundDescriptor::kDefaultMinDistance);
    m_maxDistance = table.GetFloat("maxDistance", SoundDescriptor::kDefaultMaxDistance);
}

SoundDescriptor SoundPak::GetSound(const WorldVec3& position)
{
    SoundDescriptor sound;
    if (!m_files.empty()) {
        const int pick = m_random.IGenerate(0, static_cast<int>(m_files.size()) - 1);
        sound.SetFileName(
            m_files[static_cast<size_t>(std::clamp(pick, 0, static_cast<int>(m_files.size()) - 1))]);
    }
    sound.SetPosition(position);
    sound.SetVolume(m_volume);
    sound.SetDistances(m_minDistance, m_maxDistance);
    return sound;
}

bool SoundPak::Play(const WorldVec3& position, SoundManager* soundManager)
{
    if (!soundManager && gEngine)
        soundManager = gEngine->GetSoundManager();
    if (!soundManager || m_files.empty())
        return false;
    soundManager->Play3D(GetSound(position), false);
    return true;
}

} // namespace GAME
