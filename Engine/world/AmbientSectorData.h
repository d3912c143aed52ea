// Ambient sector record (kind 2): the music playlist, ambient sound playlist and event music that
// the ambiance manager hands to the music director while the view is in the sector. A plain value,
// main thread.
#pragma once

#include "world/SectorData.h"

#include <string>

namespace GAME {

class AmbientSectorData : public SectorData
{
public:
    AmbientSectorData() = default;

    const std::string& GetMusicPlaylist() const { return m_musicPlaylist; }
    void SetMusicPlaylist(const std::string& playlist) { m_musicPlaylist = playlist; }
    const std::string& GetAmbientPlaylist() const { return m_ambientPlaylist; }
    void SetAmbientPlaylist(const std::string& playlist) { m_ambientPlaylist = playlist; }
    const std::string& GetEventMusic() const { return m_eventMusic; }
    void SetEventMusic(const std::string& music) { m_eventMusic = music; }

    // Kind version 1 has no event music (it stays empty).
    bool Read(BinaryReader& reader, unsigned kindVersion);
    // The kind version 2 layout.
    void Write(BinaryWriter& writer) const;

private:
    std::string m_musicPlaylist;
    std::string m_ambientPlaylist;
    std::string m_eventMusic;
};

} // namespace GAME
