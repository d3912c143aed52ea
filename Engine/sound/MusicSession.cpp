#include "sound/MusicSession.h"

namespace GAME {

GAME_REGISTER_CLASS(MusicSession, Object)

} // namespace GAME
