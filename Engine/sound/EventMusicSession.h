// Music played once for an event of a sector (the view entering it), over the ambient music, which
// fades back in when it ends. Registered with the class registry so records can name it; its record
// holds a playlist as MusicSession's does (see there).
// Main thread only.
#pragma once

#include "sound/MusicSession.h"

namespace GAME {

class EventMusicSession : public Object
{
    GAME_DECLARE_CLASS(EventMusicSession)

public:
    EventMusicSession() = default;

    void Load(const LoadTable& table) override { m_playlist.Load(table); }
    const SessionPlaylist& GetPlaylist() const { return m_playlist; }

protected:
    ~EventMusicSession() override = default;

private:
    SessionPlaylist m_playlist;
};

} // namespace GAME
