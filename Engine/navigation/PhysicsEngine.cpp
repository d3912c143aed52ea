#include "navigation/PhysicsEngine.h"

#include "core/Log.h"

namespace GAME {

bool PhysicsEngine::Initialize()
{
    LogPrintf(0, "PhysicsEngine: no rigid-body simulation in this build");
    return false;
}

bool PhysicsEngine::AddEntityToSimulation(Entity*)
{
    return false;
}

void PhysicsEngine::RemoveEntityFromSimulation(Entity*) {}

void PhysicsEngine::SetEntityLinearVelocity(Entity*, const Vec3&) {}

void PhysicsEngine::Update(const WorldVec3&) {}

} // namespace GAME
