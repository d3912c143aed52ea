#include "sound/Jukebox.h"

namespace GAME {

void Jukebox::Update() {}

void Jukebox::Clean() {}

} // namespace GAME
