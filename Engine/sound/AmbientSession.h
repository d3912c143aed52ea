// The ambient music and sound loops of an area, for the ambiance manager. Registered with the
// class registry so records can name it.
//
// This build has no audio device: sessions are made from their records and keep only their
// names; nothing is read from the record and nothing plays.
#pragma once

#include "core/Object.h"

namespace GAME {

class AmbientSession : public Object
{
    GAME_DECLARE_CLASS(AmbientSession)

public:
    AmbientSession() = default;

protected:
    ~AmbientSession() override = default;
};

} // namespace GAME
