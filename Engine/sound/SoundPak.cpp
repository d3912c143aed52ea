#include "sound/SoundPak.h"

namespace GAME {

GAME_REGISTER_CLASS(SoundPak, Object)

} // namespace GAME
