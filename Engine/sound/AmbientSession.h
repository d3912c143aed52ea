// The ambient sound loops of an area (wind, water, birds), played by the jukebox beside the music
// while the view is in a sector that names them. Registered with the class registry so records can
// name it; its record holds a playlist as MusicSession's does (see there).
// Main thread only.
#pragma once

#include "sound/MusicSession.h"

namespace GAME {

class AmbientSession : public Object
{
    GAME_DECLARE_CLASS(AmbientSession)

public:
    AmbientSession() = default;

    void Load(const LoadTable& table) override { m_playlist.Load(table); }
    const SessionPlaylist& GetPlaylist() const { return m_playlist; }

protected:
    ~AmbientSession() override = default;

private:
    SessionPlaylist m_playlist;
};

} // namespace GAME
