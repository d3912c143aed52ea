// The physics engine the engine creates at start-up: entities join and leave the simulation
// (AddEntityToSimulation, RemoveEntityFromSimulation), replicated entities get their velocity
// (SetEntityLinearVelocity), and the simulation steps once a frame around the view's region
// (Update). Main thread only.
//
// This build simulates nothing: there is no rigid-body library behind it. Initialize answers
// false (the engine logs that physics is off and runs on), no entity is ever taken into a
// simulation (AddEntityToSimulation answers false) and Update steps nothing. Entities then keep
// the positions their own updates give them.
#pragma once

namespace GAME {

class Entity;
class Vec3;
class WorldVec3;

class PhysicsEngine
{
public:
    PhysicsEngine() = default;
    virtual ~PhysicsEngine() = default;
    PhysicsEngine(const PhysicsEngine&) = delete;
    PhysicsEngine& operator=(const PhysicsEngine&) = delete;

    // False: there is no simulation to start (one log line says so).
    bool Initialize();
    bool IsSimulating() const { return false; }
    // False: the entity is not simulated.
    bool AddEntityToSimulation(Entity* entity);
    void RemoveEntityFromSimulation(Entity* entity);
    // Nothing happens for an entity that is not simulated, which here is every entity.
    void SetEntityLinearVelocity(Entity* entity, const Vec3& velocity);
    // viewOrigin: the view's region with a zero local position.
    void Update(const WorldVec3& viewOrigin);
};

} // namespace GAME
