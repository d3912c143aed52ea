#include "sound/BossMusicSession.h"

namespace GAME {

GAME_REGISTER_CLASS(BossMusicSession, Object)

} // namespace GAME
