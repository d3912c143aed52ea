#include "world/ZoneManager.h"

#include "core/ObjectManager.h"
#include "core/Rect.h"
#include "data/FileSystem.h"
#include "data/LoadTable.h"
#include "data/LocalizationManager.h"
#include "graphics/GraphicsCanvas.h"
#include "world/Region.h"

namespace GAME {

namespace {

ZoneManager* g_instance = nullptr;

const char* const kZoneListFields[4] = {"GreeceZoneList", "EgyptZoneList", "OrientZoneList",
                                        "OlympusZoneList"};

std::string Normalized(const std::string& record)
{
    std::string name = record;
    FileSystem::ConvertFileName(name);
    return name;
}

} // namespace

ZoneManager* ZoneManager::Get()
{
    if (!g_instance)
        g_instance = new ZoneManager;
    return g_instance;
}

bool ZoneManager::HasInstance()
{
    return g_instance != nullptr;
}

void ZoneManager::Destroy()
{
    delete g_instance;
    g_instance = nullptr;
}

ZoneManager::ZoneManager()
{
    LoadTable* table = ObjectManager::Get()->LoadTableFile(teleportMapRecord);
    if (!table)
        return;
    for (int page = 0; page < 4; ++page) {
        std::vector<std::string> zones;
        table->GetArrayValue(kZoneListFields[page], zones);
        for (const std::string& zone : zones) {
            const std::string name = Normalized(zone);
            m_zoneLists[page].push_back(name);
            LoadDBR(name);
        }
    }
}

void ZoneManager::LoadDBR(const std::string& record)
{
    LoadTable* table = ObjectManager::Get()->LoadTableFile(record);
    if (!table)
        return;
    ZoneData zone;
    zone.zoneNameTag = table->GetValue("ZoneNameTag", "");
    zone.teleportNameTag = table->GetValue("TeleportNameTag", "");
    zone.mapIndex = table->GetInt("mapIndex", 0);
    zone.tint = NextTint();
    m_zones[Normalized(record)] = zone;
}

int ZoneManager::NextRandom()
{
    // The C library's classic generator, kept per manager so that other users of random numbers
    // cannot shift the zones' colours.
    m_randomState = m_randomState * 214013u + 2531011u;
    return static_cast<int>((m_randomState >> 16) & 0x7FFFu);
}

Color ZoneManager::NextTint()
{
    const float r = static_cast<float>(NextRandom() % 255) * 0.003921569f;
    const float g = static_cast<float>(NextRandom() % 255) * 0.003921569f;
    const float b = static_cast<float>(NextRandom() % 255) * 0.003921569f;
    return Color(r, g, b, 1.0f);
}

const std::vector<std::string>& ZoneManager::GetZoneList(int page) const
{
    return m_zoneLists[page >= 0 && page < 3 ? page : 3];
}

ZonePage ZoneManager::GetActFromRegion(const Region* region) const
{
    if (!region)
        return ZONE_PAGE_0;
    const std::string zone = Normalized(region->GetZoneRecord());
    for (int page = 0; page < 4; ++page)
        for (const std::string& listed : m_zoneLists[page])
            if (listed == zone)
                return static_cast<ZonePage>(page);
    return ZONE_PAGE_0;
}

const ZoneManager::ZoneData* ZoneManager::GetZoneData(const std::string& record) const
{
    const auto found = m_zones.find(Normalized(record));
    return found == m_zones.end() ? nullptr : &found->second;
}

void ZoneManager::RenderKey(GraphicsCanvas& canvas) const
{
    int row = 0;
    for (const auto& [name, zone] : m_zones)
        RenderZoneKey(0, keyRowSpacing * row++, zone, canvas);
}

void ZoneManager::RenderZoneKey(int x, int y, const ZoneData& zone, GraphicsCanvas& canvas) const
{
    const float left = static_cast<float>(x), top = static_cast<float>(y);
    canvas.RenderRect(Rect(left, top, 30.0f, 30.0f), Color(1.0f, 1.0f, 1.0f, 1.0f));
    canvas.RenderRect(Rect(left + 1.0f, top + 1.0f, 28.0f, 28.0f),
                      Color(zone.tint.r, zone.tint.g, zone.tint.b, 1.0f));
    // The zone's name beside the square, vertically centred on it.
    const std::u16string name =
        LocalizationManager::Instance()->Localize("SimpleStringFormat", zone.zoneNameTag.c_str());
    canvas.RenderText(Rect(left + 34.0f, top, 0.0f, 30.0f), name.c_str(), keyFontStyle, 1.0f,
                      GraphicsCanvas::X_ALIGN_LEFT, GraphicsCanvas::Y_ALIGN_CENTER);
}

} // namespace GAME
