// An entity's body in the physics simulation: boxes (rigid bodies) in the entity's frame and the
// joints between them. PhysicsRigidBody makes one box, PhysicsRagDoll one box per bone pair of a
// model with the model's joints. The object only describes; the physics engine builds the
// simulated bodies from the description when the entity joins the simulation, steps them and
// writes the entity's new frame back, and keeps the current frame of every box here.
//
// Everything read from files passes through AddBody and AddJoint, which clamp it into what the
// simulation can hold: half-extents within [minExtent, maxExtent], masses within [minMass,
// maxMass], frames made rigid (orthonormal, right-handed; the identity where they are not finite
// or have no direction), joint stops within [-pi, pi] and joints only between two different
// existing boxes.
//
// The entity keeps the object (GetPhysicsObject); when it leaves the simulation the engine retires
// it (Entity::DestroyPhysicsObject) and the entity deletes it later through this virtual
// destructor, which first takes the object out of any simulation it is still in. Main thread.
#pragma once

#include "core/Coords.h"
#include "core/OBBox.h"
#include "core/Vec3.h"
#include "navigation/JointDescription.h"

#include <vector>

namespace GAME {

class Entity;
class PhysicsEngine;

class PhysicsObject
{
public:
    static constexpr float minExtent = 0.01f;
    static constexpr float maxExtent = 64.0f;
    static constexpr float minMass = 0.01f;
    static constexpr float maxMass = 100000.0f;
    // A density (mass per cubic unit) that is not a positive finite number becomes this.
    static constexpr float defaultDensity = 100.0f;
    // Speeds given to bodies are cut to this length.
    static constexpr float maxSpeed = 200.0f;
    static constexpr float pi = 3.14159265f;

    struct Body
    {
        // Unit axes, in the entity's frame.
        OBBox box;
        float mass = minMass;
        // False: the body has mass but touches nothing.
        bool collides = true;
    };

    struct Joint
    {
        int body0 = 0;
        int body1 = 0;
        JointType type = JOINT_TYPE_NONE;
        // In the entity's frame; axes of unit length.
        Vec3 anchor;
        Vec3 axis0{1.0f, 0.0f, 0.0f};
        Vec3 axis1{0.0f, 1.0f, 0.0f};
        // Radians; a pair whose low stop is not below its high stop sets no limit.
        float loStop0 = 0.0f;
        float hiStop0 = 0.0f;
        float loStop1 = 0.0f;
        float hiStop1 = 0.0f;
    };

    explicit PhysicsObject(Entity* entity);
    virtual ~PhysicsObject();
    PhysicsObject(const PhysicsObject&) = delete;
    PhysicsObject& operator=(const PhysicsObject&) = delete;

    Entity* GetEntity() const { return m_entity; }
    int GetNumBodies() const { return static_cast<int>(m_bodies.size()); }
    const Body& GetBody(int index) const { return m_bodies[static_cast<size_t>(index)]; }
    int GetNumJoints() const { return static_cast<int>(m_joints.size()); }
    const Joint& GetJoint(int index) const { return m_joints[static_cast<size_t>(index)]; }
    // The box's frame now, in the entity's frame (where it was built until the simulation moves it).
    const Coords& GetBodyCoords(int index) const { return m_bodyCoords[static_cast<size_t>(index)]; }
    bool IsInSimulation() const { return m_engine != nullptr; }

    // Sets the velocity of every body (enabling them); kept for when the object joins a simulation
    // when it is in none. Non-finite velocities are ignored, longer ones cut to maxSpeed.
    void SetLinearVelocity(const Vec3& velocity);
    // The first body's velocity (the kept one outside a simulation).
    Vec3 GetLinearVelocity() const;

    // An orthonormal right-handed frame with the origin and the directions of the frame's X and Y
    // axes (Z follows); the identity axes when they are not finite or have no direction.
    static Coords MakeRigid(const Coords& coords);

protected:
    // Adds a box of the half-extents at the frame (entity frame), of mass density x volume. Answers
    // its index.
    int AddBody(const Coords& frame, const Vec3& extents, float density, bool collides);
    // False (one log line) when the joint names a missing box, links a box to itself, or is of no
    // known type; axes without direction fall back to the X and Y axes.
    bool AddJoint(const Joint& joint);

private:
    friend class PhysicsEngine;
    // The simulated parts the engine made (its own type).
    struct Simulation;

    Entity* m_entity;
    std::vector<Body> m_bodies;
    std::vector<Joint> m_joints;
    std::vector<Coords> m_bodyCoords;
    PhysicsEngine* m_engine = nullptr;
    Simulation* m_simulation = nullptr;
    Vec3 m_velocity;
    bool m_hasVelocity = false;
};

} // namespace GAME
