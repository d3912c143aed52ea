// What graphics needs of the world's own objects: an entity's visibility (the editor filter hides
// and shows entities it knows by object id) and the current world's data that depends on the
// render generation (reloaded when the generation changes). The world implements this interface
// and installs it for as long as the library is loaded (world/WorldHooks.cpp): entities and worlds
// exist without an engine.
//
// Without an implementation (never the case inside the library) nothing is an entity and there is
// no world to reload.
//
// Threads: main thread.
#pragma once

namespace GAME {

class Object;

class GraphicsWorldServices
{
public:
    virtual ~GraphicsWorldServices() = default;

    // Shows or hides the object when it is an entity; false (nothing done) otherwise.
    virtual bool SetEntityVisibility(Object* object, bool visible) = 0;
    // World::ReloadGenerationDependentData of the current world; nothing without one.
    virtual void ReloadWorldGenerationData() = 0;

    // Installs the one implementation (null removes it).
    static void Install(GraphicsWorldServices* services);
    static GraphicsWorldServices* Get();
};

} // namespace GAME
