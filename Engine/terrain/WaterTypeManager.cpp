#include "terrain/WaterTypeManager.h"

namespace GAME {

// Instantiated here so the manager's singleton storage is emitted once, in the library.
template class Singleton<WaterTypeManager>;

} // namespace GAME
