#include "sound/SoundManager.h"

#include "core/Log.h"

namespace GAME {

SoundManager::SoundManager(ResourceLoader* resourceLoader) : m_resourceLoader(resourceLoader) {}

bool SoundManager::Initialize(int)
{
    LogPrintf(0, "SoundManager: no audio library or device in this build; sound is off");
    return false;
}

void SoundManager::Play3D(const SoundDescriptor&, bool) {}

void SoundManager::SetEarsPosition(const WorldVec3&) {}

void SoundManager::Update() {}

void SoundManager::UnloadUnreferencedResources() {}

void SoundManager::WriteResourceLog(std::FILE* file) const
{
    if (file)
        std::fprintf(
            file,
            "Sounds\n-------------------------------------------------\n(no sound device: none loaded)\n\n");
}

} // namespace GAME
