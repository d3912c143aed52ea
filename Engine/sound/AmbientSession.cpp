#include "sound/AmbientSession.h"

namespace GAME {

GAME_REGISTER_CLASS(AmbientSession, Object)

} // namespace GAME
