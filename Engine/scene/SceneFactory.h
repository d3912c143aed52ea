// The scene folder's answers to the graphics engine, which may not include it: GraphicsSceneFactory
// over the mesh and animation resource managers and the scene renderers' shared resources.
// Installed at static initialisation (Install installs it again, e.g. after a test replaced it).
// Stateless; main thread, like the graphics engine's resources.
#pragma once

namespace GAME {

class SceneFactory
{
public:
    static void Install();
};

} // namespace GAME
