// The world's answers to graphics' GraphicsWorldServices: an entity's visibility, which the editor
// filter sets by object id, and the current world's data that depends on the render generation.
// WorldHooks installs it.
//
// Threads: main thread, like the entities and the world it reads.
#pragma once

#include "graphics/GraphicsWorldServices.h"

namespace GAME {

class WorldGraphicsHooks final : public GraphicsWorldServices
{
public:
    bool SetEntityVisibility(Object* object, bool visible) override;
    void ReloadWorldGenerationData() override;
};

} // namespace GAME
