#include "HostSound.h"

#include "HostOutput.h"

#include "core/ObjectManager.h"
#include "datakit/SoundWriter.h"
#include "sound/Jukebox.h"
#include "sound/SoundManager.h"
#include "sound/SoundPak.h"
#include "world/Engine.h"
#include "world/Region.h"

#include <cmath>

namespace SampleHost {

HostSound::HostSound(GAME::Engine& engine, HostOutput& out) : m_engine(engine)
{
    GAME::SoundManager* sound = engine.GetSoundManager();
    const bool on = sound && sound->IsInitialized();
    out.Printf("  sound device        %s", on ? sound->GetDevice().GetDeviceName().c_str() : "none (silent)");
}

void HostSound::Frame(GAME::Region* region, const GAME::Vec3& position, const GAME::Vec3& direction)
{
    GAME::SoundManager* sound = m_engine.GetSoundManager();
    if (!sound || !sound->IsInitialized() || !region)
        return;
    sound->SetEarsPosition(GAME::WorldVec3(region, position));
    // The world camera's way: forward flattened, up negated for the sound space.
    GAME::Vec3 forward(direction.x, 0.0f, direction.z);
    const float length = std::sqrt(forward.x * forward.x + forward.z * forward.z);
    if (length > 1e-4f)
        sound->SetEarsOrientation(forward * (1.0f / length), GAME::Vec3(0.0f, -1.0f, 0.0f));
    if (region == m_lastRegion)
        return;
    m_lastRegion = region;
    // A pak is an object of the world: made for the chime, queued for destruction after it.
    GAME::ObjectManager* objects = GAME::ObjectManager::Get();
    if (auto* chimes =
            objects->CreateObjectFromFileAs<GAME::SoundPak>(DataKit::SoundWriter::sampleChimesPakRecord)) {
        if (chimes->Play(GAME::WorldVec3(region, position + GAME::Vec3(2.0f, 0.0f, 0.0f)), sound))
            ++m_played;
        objects->DestroyObjectEx(chimes, __FILE__, __LINE__);
    }
    // The generated world names its underground regions "Cave_<n>".
    const bool cave = region->GetName().find("Cave_") != std::string::npos;
    GAME::Jukebox::Get()->SetMusicPlaylist(cave ? DataKit::SoundWriter::sampleCaveMusicRecord
                                                : DataKit::SoundWriter::sampleFieldMusicRecord);
}

} // namespace SampleHost
