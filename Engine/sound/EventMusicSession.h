// Music played once for an event of a sector (entering it the first time, a cinematic).
// Registered with the class registry so records can name it.
//
// This build has no audio device: sessions are made from their records and keep only their
// names; nothing is read from the record and nothing plays.
#pragma once

#include "core/Object.h"

namespace GAME {

class EventMusicSession : public Object
{
    GAME_DECLARE_CLASS(EventMusicSession)

public:
    EventMusicSession() = default;

protected:
    ~EventMusicSession() override = default;
};

} // namespace GAME
