// The physics engine the engine creates at start-up: rigid bodies and rag dolls over ODE.
// Entities join and leave the simulation (AddEntityToSimulation, RemoveEntityFromSimulation) by
// their physics type: 2 a rigid body, 3 a rag doll (the body the entity makes in
// CreatePhysicsObject); other types are not simulated. Replicated entities get their velocity
// (SetEntityLinearVelocity). Once a frame the simulation steps around the view's region (Update)
// and reports every moving entity's new frame to the world (NavigationServices::MoveEntity: through
// the region's world, which moves it into the region it entered, or, for a region without a world,
// its level). Everything it reads of entities, regions, levels and grounds comes through
// NavigationServices and RegionServices; it never includes the world.
//
// Space: one ODE world whose coordinates are those of the last view region (its world offset is
// the simulation's origin). When the view enters a region of another offset, every body, ground
// and mesh moves by the difference of the offsets, so positions stay small near the view. A body
// steps while its entity's region lies within simulationDistance of the view region (region boxes
// compared in the view region's space); bodies farther away are disabled and keep still.
//
// Time: fixed steps of stepSeconds. Update(view) takes the game time that passed since its last
// call (GetGameTime: none while the game is paused); Update(view, seconds) takes it given. At most
// maxStepsPerUpdate steps run in one call; a longer backlog is dropped so that a slow frame never
// makes the next one slower.
//
// Collision: bodies collide with each other (not within one rag doll), with the ground of every
// region near the view and with the collision meshes (GetPhysicsMesh) of entities near moving
// bodies. A terrain's ground is an ODE height field per region whose samples (one unit apart from
// the region's origin) are asked from the world's ground queries as they are needed
// (GroundQueries::GetTerrainHeight), so the terrain answers for itself and an edited ground is felt
// at once; a cell grid's ground is the collision meshes of its built cells (walls, floors, ceilings
// and features), gathered like the entities' (GridRegion::GetCellMeshesInBox). Collision meshes
// become ODE triangle meshes; they are gathered anew when the moving bodies leave the box they were
// gathered for, and at least every 16 updates (so a mesh placed, rebuilt or taken away near moving
// bodies counts within a quarter of a second). Of the contacts of one pair, the four nearest are
// kept (BoxCollisionQuery).
//
// Faults kept out: ODE is initialised once per process and closed at its end; its messages go to
// the engine log (an ODE error or failed check is fatal to ODE itself: it is logged at priority 2
// and ends the process through the engine's fatal error path, never silently). Bodies are clamped
// when they are described (PhysicsObject); an object whose bodies stop being finite or fly beyond
// maxDistance is taken out of the simulation with one log line. Entities leave the simulation
// before they are deleted (their levels and their destructor see to it).
//
// Main thread only.
#pragma once

namespace GAME {

class Coords;
class Entity;
class PhysicsObject;
class Region;
class Vec3;
class WorldVec3;

class PhysicsEngine
{
public:
    static constexpr float stepSeconds = 1.0f / 60.0f;
    static constexpr int maxStepsPerUpdate = 4;
    static constexpr float simulationDistance = 55.0f;
    static constexpr float gravity = 9.81f;
    // Bodies farther than this from the view region's origin leave the simulation.
    static constexpr float maxDistance = 100000.0f;

    PhysicsEngine();
    virtual ~PhysicsEngine();
    PhysicsEngine(const PhysicsEngine&) = delete;
    PhysicsEngine& operator=(const PhysicsEngine&) = delete;

    // Makes the ODE world; false (one log line) when it cannot be made. The engine logs
    // "Couldn't initialize physics engine." and runs on; nothing is simulated then.
    bool Initialize();
    bool IsSimulating() const { return m_state != nullptr; }

    // For physics types 2 and 3: the entity (placed in the world) makes its body
    // (CreatePhysicsObject), which is built into the simulation at the entity's frame. True when
    // the entity is (or already was) simulated; false otherwise, and then a body made here is
    // retired again.
    bool AddEntityToSimulation(Entity* entity);
    // Takes the entity's bodies out of the simulation and retires its physics object
    // (Entity::DestroyPhysicsObject). Nothing for an entity that is not simulated.
    void RemoveEntityFromSimulation(Entity* entity);
    // Adds the entity, then sets its velocity when it is simulated.
    void SetEntityLinearVelocity(Entity* entity, const Vec3& velocity);

    // viewOrigin: the view's region with a zero local position (a null region steps nothing).
    void Update(const WorldVec3& viewOrigin);
    void Update(const WorldVec3& viewOrigin, float elapsedSeconds);

    // Figures: entities simulated, bodies enabled (moving, near the view), contacts of the last
    // step, steps run.
    int GetNumSimulatedEntities() const;
    int GetNumActiveBodies() const;
    int GetNumContacts() const;
    unsigned GetNumSteps() const;

    // The simulation's side, ODE's types inside (PhysicsEngine.cpp).
    struct State;

private:
    friend class PhysicsObject;

    // PhysicsObject's links into the simulation.
    void ReleaseObject(PhysicsObject& object);
    void ApplyVelocity(PhysicsObject& object);
    Vec3 ReadVelocity(const PhysicsObject& object) const;

    // Update's parts: grounds of the regions near the view, collision meshes near moving bodies,
    // the entities' new frames.
    void RefreshGrounds();
    void RefreshStaticMeshes();
    void WriteBack();
    // Puts the object's bodies where its entity's frame (region coords) has them.
    void PlaceObject(PhysicsObject& object, Region* region, const Coords& coords);

    State* m_state = nullptr;
};

} // namespace GAME
