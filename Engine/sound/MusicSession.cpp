#include "sound/MusicSession.h"

#include "data/LoadTable.h"

#include <cmath>

namespace GAME {

GAME_REGISTER_CLASS(MusicSession, Object)

void SessionPlaylist::Load(const LoadTable& constTable)
{
    // The table's getters cache lookups; reading changes nothing a caller sees.
    LoadTable& table = const_cast<LoadTable&>(constTable);
    m_files.clear();
    m_nightFiles.clear();
    table.GetArrayValue("soundFiles", m_files);
    table.GetArrayValue("nightSoundFiles", m_nightFiles);
    const float seconds = table.GetFloat("crossFadeSeconds", kDefaultCrossFadeMs / 1000.0f);
    // Anything but a sane time falls back to the default.
    m_crossFadeMs = std::isfinite(seconds) && seconds >= 0.0f && seconds <= 600.0f
                        ? static_cast<int>(std::lround(seconds * 1000.0f))
                        : kDefaultCrossFadeMs;
    auto dropEmpty = [](std::vector<std::string>& files) {
        std::vector<std::string> kept;
        for (std::string& file : files)
            if (!file.empty())
                kept.push_back(std::move(file));
        files.swap(kept);
    };
    dropEmpty(m_files);
    dropEmpty(m_nightFiles);
}

} // namespace GAME
