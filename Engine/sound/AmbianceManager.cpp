#include "sound/AmbianceManager.h"

#include "data/LocalizationManager.h"
#include "sound/Jukebox.h"
#include "sound/SoundManager.h"
#include "world/AmbientSectorData.h"
#include "world/DayNightManager.h"
#include "world/Engine.h"
#include "world/Level.h"
#include "world/NameSectorData.h"
#include "world/Region.h"
#include "world/SectorDataManager.h"
#include "world/SectorLayers.h"

#include <algorithm>
#include <cmath>

namespace GAME {

namespace {

const UniqueId kNoSector;

// The sector ids of layers 1 to 3 under the view; zero ids where there is none.
void FindSectors(const WorldVec3& view, UniqueId out[4])
{
    for (int i = 0; i < 4; ++i)
        out[i] = UniqueId();
    Region* region = view.GetRegion();
    if (!region || !region->IsLevelLoaded())
        return;
    const Level* level = region->GetLevel(true);
    if (!level)
        return;
    const SectorLayers& layers = level->GetSectorLayers();
    const Vec3& p = view.GetRegionPosition();
    if (!layers.IsInitialized() || !std::isfinite(p.x) || !std::isfinite(p.z))
        return;
    // One cell per unit; positions far outside clamp to the edge like any other.
    const int x = static_cast<int>(std::floor(std::clamp(p.x, -1.0e9f, 1.0e9f)));
    const int z = static_cast<int>(std::floor(std::clamp(p.z, -1.0e9f, 1.0e9f)));
    for (int layer = 1; layer <= 3; ++layer)
        out[layer] = layers.GetTargetId(layer, x, z);
}

// Wraps hours into [0, hoursPerDay).
float WrapHours(float hours, float hoursPerDay)
{
    const float wrapped = std::fmod(hours, hoursPerDay);
    return wrapped < 0.0f ? wrapped + hoursPerDay : wrapped;
}

} // namespace

void AmbianceManager::Update(int elapsedMs)
{
    WorldVec3 view;
    const SectorDataManager* sectors = nullptr;
    if (gEngine) {
        if (SoundManager* sound = gEngine->GetSoundManager())
            view = sound->GetEarsPosition();
        sectors = gEngine->GetSectorDataManager();
    }
    Update(elapsedMs, view, sectors, Jukebox::Get());
}

void AmbianceManager::Update(int elapsedMs, const WorldVec3& view, const SectorDataManager* sectors,
                             Jukebox* jukebox)
{
    UpdateTimeOfDay();

    UniqueId found[4];
    FindSectors(view, found);
    // A sector whose record is gone counts as none.
    for (unsigned kind = SectorDataManager::SECTOR_NAME; kind <= SectorDataManager::SECTOR_BOSS; ++kind)
        if (!found[kind].IsNull() && (!sectors || !sectors->GetSectorData(kind, found[kind])))
            found[kind] = UniqueId();

    if (found[SectorDataManager::SECTOR_NAME] != m_current[SectorDataManager::SECTOR_NAME]) {
        m_current[SectorDataManager::SECTOR_NAME] = found[SectorDataManager::SECTOR_NAME];
        if (!found[SectorDataManager::SECTOR_NAME].IsNull())
            EnterNameSector(sectors, found[SectorDataManager::SECTOR_NAME]);
    }

    const UniqueId& ambient = found[SectorDataManager::SECTOR_AMBIENT];
    if (ambient != m_current[SectorDataManager::SECTOR_AMBIENT]) {
        m_current[SectorDataManager::SECTOR_AMBIENT] = ambient;
        // Leaving for no ambient sector keeps what plays.
        const auto* record = ambient.IsNull() ? nullptr
                                              : dynamic_cast<const AmbientSectorData*>(sectors->GetSectorData(
                                                    SectorDataManager::SECTOR_AMBIENT, ambient));
        if (record && jukebox) {
            jukebox->SetMusicPlaylist(record->GetMusicPlaylist());
            jukebox->SetAmbientPlaylist(record->GetAmbientPlaylist());
            if (!record->GetEventMusic().empty())
                jukebox->PlayEventMusic(record->GetEventMusic());
        }
    }

    m_current[SectorDataManager::SECTOR_BOSS] = found[SectorDataManager::SECTOR_BOSS];
    m_bossArea = !found[SectorDataManager::SECTOR_BOSS].IsNull();
    if (jukebox)
        jukebox->SetBossArea(m_bossArea);

    UpdateNameText(elapsedMs);
}

void AmbianceManager::EnterNameSector(const SectorDataManager* sectors, const UniqueId& id)
{
    const auto* record = dynamic_cast<const NameSectorData*>(
        sectors ? sectors->GetSectorData(SectorDataManager::SECTOR_NAME, id) : nullptr);
    if (!record)
        return;
    const bool firstVisit = m_visited.insert(id).second;
    if (!firstVisit && record->GetFirstVisitOnly())
        return;
    m_nameText =
        LocalizationManager::ToChar(LocalizationManager::Instance()->GetText(record->GetTextTag().c_str()));
    m_nameShownMs = 0;
    if (gEngine) {
        gEngine->SetTextCinematic(record->GetCinematic());
        gEngine->SetCinematicText(m_nameText, 1.0f);
    }
}

void AmbianceManager::UpdateNameText(int elapsedMs)
{
    if (m_nameShownMs < 0)
        return;
    m_nameShownMs += std::max(elapsedMs, 0);
    float alpha = 1.0f;
    if (m_nameShownMs > kNameHoldMs)
        alpha = 1.0f - static_cast<float>(m_nameShownMs - kNameHoldMs) / static_cast<float>(kNameFadeMs);
    if (alpha <= 0.0f) {
        alpha = 0.0f;
        m_nameShownMs = -1;
    }
    // Only while the engine still shows this name: something else may have taken the text over.
    if (gEngine && gEngine->GetCinematicText() == m_nameText)
        gEngine->SetCinematicText(m_nameText, alpha);
    if (m_nameShownMs < 0)
        m_nameText.clear();
}

void AmbianceManager::UpdateTimeOfDay()
{
    DayNightManager* dayNight = DayNightManager::Get();
    if (!dayNight || !dayNight->IsEnabled()) {
        m_nightLightScale = m_shadowIntensity = 1.0f;
        return;
    }
    const float hoursPerDay = dayNight->GetHoursPerDay();
    const float time = dayNight->GetTimeInHours();
    const float sunrise = dayNight->GetSunrise();
    const float sunset = dayNight->GetSunset();
    // An hour of dusk around sunset and of dawn around sunrise.
    const float half = 0.5f;
    float fraction = 0.0f;
    float night;
    if (dayNight->IsTimeBetween(time, WrapHours(sunset - half, hoursPerDay),
                                WrapHours(sunset + half, hoursPerDay), fraction))
        night = fraction;
    else if (dayNight->IsTimeBetween(time, WrapHours(sunrise - half, hoursPerDay),
                                     WrapHours(sunrise + half, hoursPerDay), fraction))
        night = 1.0f - fraction;
    else
        night = dayNight->IsTimeBetween(time, sunrise, sunset, fraction) ? 0.0f : 1.0f;
    m_nightLightScale = std::clamp(night, 0.0f, 1.0f);
    m_shadowIntensity = m_nightLightScale;
}

void AmbianceManager::Reset()
{
    for (UniqueId& id : m_current)
        id = UniqueId();
    m_bossArea = false;
    m_visited.clear();
    m_nameText.clear();
    m_nameShownMs = -1;
}

const UniqueId& AmbianceManager::GetCurrentSector(unsigned kind) const
{
    return kind < 4 ? m_current[kind] : kNoSector;
}

const Color& AmbianceManager::GetLightColor(int) const
{
    return m_neutral;
}

const Color& AmbianceManager::GetSkyAmbientColor(int) const
{
    return m_neutral;
}

const Color& AmbianceManager::GetGroundAmbientColor(int) const
{
    return m_neutral;
}

} // namespace GAME
