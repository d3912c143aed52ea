// A pak of sound variations made from a database record (a sound effect that picks one of its
// files when played). Registered with the class registry so records can name it.
//
// This build has no audio device: a pak is made from its record and keeps only its name; nothing
// is read from the record and nothing plays.
#pragma once

#include "core/Object.h"

namespace GAME {

class SoundPak : public Object
{
    GAME_DECLARE_CLASS(SoundPak)

public:
    SoundPak() = default;

protected:
    ~SoundPak() override = default;
};

} // namespace GAME
