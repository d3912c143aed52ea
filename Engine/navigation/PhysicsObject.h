// An entity's body in the physics simulation: the rigid body of ordinary entities, the rag doll of
// actors. The entity keeps it (it does not delete its current one in its destructor; retired ones
// it deletes at the end of its next update). Main thread.
//
// This build simulates no physics (see PhysicsEngine.h): a body made here only records its entity.
#pragma once

namespace GAME {

class Entity;

class PhysicsObject
{
public:
    explicit PhysicsObject(Entity* entity) : m_entity(entity) {}
    virtual ~PhysicsObject() = default;
    PhysicsObject(const PhysicsObject&) = delete;
    PhysicsObject& operator=(const PhysicsObject&) = delete;

    Entity* GetEntity() const { return m_entity; }

private:
    Entity* m_entity;
};

// The rigid body an entity makes for itself (Entity::CreatePhysicsObject).
class PhysicsRigidBody : public PhysicsObject
{
public:
    explicit PhysicsRigidBody(Entity* entity) : PhysicsObject(entity) {}
};

} // namespace GAME
