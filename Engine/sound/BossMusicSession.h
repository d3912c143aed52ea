// The music of a boss area, which takes over from the ambient music while the view is inside it.
// Registered with the class registry so records can name it; its record holds a playlist as
// MusicSession's does (see there).
// Main thread only.
#pragma once

#include "sound/MusicSession.h"

namespace GAME {

class BossMusicSession : public Object
{
    GAME_DECLARE_CLASS(BossMusicSession)

public:
    BossMusicSession() = default;

    void Load(const LoadTable& table) override { m_playlist.Load(table); }
    const SessionPlaylist& GetPlaylist() const { return m_playlist; }

protected:
    ~BossMusicSession() override = default;

private:
    SessionPlaylist m_playlist;
};

} // namespace GAME
