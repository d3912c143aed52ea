// A session of the music director: a playlist of music tracks played by sector and time of day.
// Registered with the class registry so records can name it.
//
// This build has no audio device: sessions are made from their records and keep only their
// names; nothing is read from the record and nothing plays.
#pragma once

#include "core/Object.h"

namespace GAME {

class MusicSession : public Object
{
    GAME_DECLARE_CLASS(MusicSession)

public:
    MusicSession() = default;

protected:
    ~MusicSession() override = default;
};

} // namespace GAME
