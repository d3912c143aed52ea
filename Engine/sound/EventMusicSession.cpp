#include "sound/EventMusicSession.h"

namespace GAME {

GAME_REGISTER_CLASS(EventMusicSession, Object)

} // namespace GAME
