// The music of a boss area, which takes over from the ambient music while the view is inside it.
// Registered with the class registry so records can name it.
//
// This build has no audio device: sessions are made from their records and keep only their
// names; nothing is read from the record and nothing plays.
#pragma once

#include "core/Object.h"

namespace GAME {

class BossMusicSession : public Object
{
    GAME_DECLARE_CLASS(BossMusicSession)

public:
    BossMusicSession() = default;

protected:
    ~BossMusicSession() override = default;
};

} // namespace GAME
