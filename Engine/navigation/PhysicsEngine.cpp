#include "navigation/PhysicsEngine.h"

#include "core/IntVec3.h"
#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/RegionServices.h"
#include "core/Time.h"
#include "core/WorldCoords.h"
#include "core/WorldVec3.h"
#include "navigation/CollisionContact.h"
#include "navigation/NavigationGround.h"
#include "navigation/NavigationServices.h"
#include "navigation/PhysicsMesh.h"
#include "navigation/PhysicsObject.h"
#include "platform/FatalError.h"

#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <memory>
#include <unordered_map>
#include <vector>

namespace GAME {

namespace {

// ---- The library ---------------------------------------------------------------------------------

void OdeMessage(int number, const char* message, va_list args)
{
    const std::string text = FormatStringV(message, args);
    LogPrintf(1, "ODE message %d: %s", number, text.c_str());
}

// ODE ends the process after an error or a failed check, whatever the handler does: the line goes
// to the log first, then the engine's own fatal error path takes over.
[[noreturn]] void OdeFatal(const char* kind, int number, const char* message, va_list args)
{
    const std::string text = FormatStringV(message, args);
    LogPrintf(2, "ODE %s %d: %s", kind, number, text.c_str());
    Platform::FatalError("Physics", FormatString("ODE %s %d: %s", kind, number, text.c_str()));
    std::abort();
}

void OdeError(int number, const char* message, va_list args)
{
    OdeFatal("error", number, message, args);
}

void OdeDebug(int number, const char* message, va_list args)
{
    OdeFatal("check failed", number, message, args);
}

// ODE is initialised at its first use and closed when the process ends, or, when an engine
// outlives the end of static destruction's turn for it, when the last engine goes. Plain values
// (never destroyed) so that a late engine still finds them.
bool s_odeReady = false;
bool s_odeExiting = false;
int s_odeUsers = 0;

class OdeLibrary
{
public:
    OdeLibrary()
    {
        dSetErrorHandler(OdeError);
        dSetDebugHandler(OdeDebug);
        dSetMessageHandler(OdeMessage);
        s_odeReady = dInitODE2(0) != 0;
    }
    ~OdeLibrary()
    {
        s_odeExiting = true;
        if (s_odeReady && s_odeUsers == 0) {
            dCloseODE();
            s_odeReady = false;
        }
    }
    OdeLibrary(const OdeLibrary&) = delete;
    OdeLibrary& operator=(const OdeLibrary&) = delete;
};

// Ready for the calling thread; a successful call counts one user until ReleaseOde.
bool AcquireOde()
{
    static OdeLibrary library;
    if (!s_odeReady || dAllocateODEDataForThread(dAllocateMaskAll) == 0)
        return false;
    ++s_odeUsers;
    return true;
}

void ReleaseOde()
{
    if (--s_odeUsers == 0 && s_odeExiting && s_odeReady) {
        dCloseODE();
        s_odeReady = false;
    }
}

// ---- Settings -------------------------------------------------------------------------------------

constexpr int maxPairContacts = 8;
constexpr unsigned staticCategory = 1u;
constexpr unsigned dynamicCategory = 2u;
// Ground sample counts beyond this (a side) are refused.
constexpr unsigned maxGroundSamples = 1u << 16;
// Ground heights are cut to this size.
constexpr float maxGroundHeight = 100000.0f;
// Room around moving bodies in which collision meshes are gathered, and how many updates a
// gathering serves at most.
constexpr float staticMeshMargin = 4.0f;
constexpr unsigned staticMeshRefreshUpdates = 15;
// Entities are written back once their frame has moved by this much (units; axis components).
constexpr float writeTolerance = 1e-4f;

// ---- Frames -------------------------------------------------------------------------------------

void ToOde(const Coords& frame, dMatrix3 r)
{
    const Vec3* axes[3] = {&frame.xAxis, &frame.yAxis, &frame.zAxis};
    for (int column = 0; column < 3; ++column) {
        r[0 * 4 + column] = axes[column]->x;
        r[1 * 4 + column] = axes[column]->y;
        r[2 * 4 + column] = axes[column]->z;
    }
    r[3] = r[7] = r[11] = 0.0;
}

Coords BodyFrame(dBodyID body)
{
    const dReal* p = dBodyGetPosition(body);
    const dReal* r = dBodyGetRotation(body);
    Coords frame;
    frame.xAxis = Vec3(static_cast<float>(r[0]), static_cast<float>(r[4]), static_cast<float>(r[8]));
    frame.yAxis = Vec3(static_cast<float>(r[1]), static_cast<float>(r[5]), static_cast<float>(r[9]));
    frame.zAxis = Vec3(static_cast<float>(r[2]), static_cast<float>(r[6]), static_cast<float>(r[10]));
    frame.origin = Vec3(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]));
    return frame;
}

void PlaceBody(dBodyID body, const Coords& frame)
{
    dMatrix3 r;
    ToOde(frame, r);
    dBodySetPosition(body, frame.origin.x, frame.origin.y, frame.origin.z);
    dBodySetRotation(body, r);
}

bool IsSane(dBodyID body)
{
    const dReal* p = dBodyGetPosition(body);
    const dReal* v = dBodyGetLinearVel(body);
    const dReal* w = dBodyGetAngularVel(body);
    for (int i = 0; i < 3; ++i)
        if (!std::isfinite(p[i]) || std::fabs(p[i]) > PhysicsEngine::maxDistance || !std::isfinite(v[i]) ||
            !std::isfinite(w[i]))
            return false;
    return true;
}

float AxisLength(const Vec3& axis)
{
    const float length = axis.Length();
    return IsFinite(length) && length > 1e-6f ? length : 1.0f;
}

// Frames within writeTolerance of each other in every axis and origin component.
bool Near(const Coords& a, const Coords& b)
{
    const Vec3 d[4] = {a.xAxis - b.xAxis, a.yAxis - b.yAxis, a.zAxis - b.zAxis, a.origin - b.origin};
    for (const Vec3& v : d)
        if (!(std::fabs(v.x) <= writeTolerance && std::fabs(v.y) <= writeTolerance &&
              std::fabs(v.z) <= writeTolerance))
            return false;
    return true;
}

bool StrictlyInside(const ABBox& box, const Vec3& p)
{
    const Vec3 d = p - box.center;
    return std::fabs(d.x) < box.extents.x && std::fabs(d.y) < box.extents.y && std::fabs(d.z) < box.extents.z;
}

// The distance between two boxes (0 when they meet).
float BoxGap(const ABBox& a, const ABBox& b)
{
    const Vec3 d = a.center - b.center;
    const Vec3 gap(std::max(0.0f, std::fabs(d.x) - a.extents.x - b.extents.x),
                   std::max(0.0f, std::fabs(d.y) - a.extents.y - b.extents.y),
                   std::max(0.0f, std::fabs(d.z) - a.extents.z - b.extents.z));
    return gap.Length();
}

} // namespace

// ---- State ----------------------------------------------------------------------------------------

struct PhysicsObject::Simulation
{
    std::vector<dBodyID> bodies;
    std::vector<dGeomID> geoms;
    std::vector<dJointID> joints;
    // The entity's frame as last written or seen: a change made elsewhere moves the bodies along.
    Region* region = nullptr;
    Coords written;
    // The lengths of the entity's axes, kept when its frame is written back.
    Vec3 scale{1.0f, 1.0f, 1.0f};
    bool gravity = true;
    // In a region near the view.
    bool near = true;
};

struct PhysicsEngine::State
{
    // The height field of one region's ground; its address is the height callback's data.
    struct Ground
    {
        Region* region = nullptr;
        const Level* level = nullptr;
        const NavigationGround* samples = nullptr;
        unsigned xSamples = 0;
        unsigned zSamples = 0;
        dHeightfieldDataID data = nullptr;
        dGeomID geom = nullptr;
        bool seen = false;
    };

    // The collision mesh of one entity near moving bodies: its triangles (in the entity's
    // orientation and scale, relative to its origin) as a triangle mesh at the entity's origin.
    struct StaticMesh
    {
        // The entity, or the grid cell's mesh instance, the mesh belongs to.
        const void* owner = nullptr;
        const PhysicsMesh* mesh = nullptr;
        Region* region = nullptr;
        Coords coords;
        std::vector<float> vertices;
        std::vector<dTriIndex> indices;
        dTriMeshDataID data = nullptr;
        dGeomID geom = nullptr;
        bool seen = false;
    };

    dWorldID world = nullptr;
    dSpaceID space = nullptr;
    dJointGroupID contactGroup = nullptr;
    // The world offset of the region whose space the simulation uses.
    IntVec3 origin;
    bool hasOrigin = false;

    std::vector<PhysicsObject*> objects;
    std::unordered_map<const Entity*, PhysicsObject*> byEntity;
    std::vector<std::unique_ptr<Ground>> grounds;
    std::vector<std::unique_ptr<StaticMesh>> statics;
    std::vector<Region*> near;

    float backlog = 0.0f;
    int lastGameTime = 0;
    bool hasGameTime = false;
    int contacts = 0;
    unsigned steps = 0;
    dContactGeom scratch[maxPairContacts];
    std::vector<Entity*> entityScratch;
    std::vector<GraphicsMeshInstance*> cellScratch;
    std::vector<Region*> loadedScratch;
    std::vector<PhysicsObject*> objectScratch;
    // Where collision meshes were last gathered (the simulation's space), and how long ago.
    ABBox gathered;
    bool hasGathered = false;
    unsigned gatheredAge = 0;

    // Where a region's origin lies in the simulation's space.
    Vec3 ToSimulation(const Region* region) const
    {
        const IntVec3 o = RegionServices::OffsetFromWorld(region);
        return Vec3(static_cast<float>(static_cast<int64_t>(o.x) - origin.x),
                    static_cast<float>(static_cast<int64_t>(o.y) - origin.y),
                    static_cast<float>(static_cast<int64_t>(o.z) - origin.z));
    }
    bool IsNear(const Region* region) const
    {
        return region && std::find(near.begin(), near.end(), region) != near.end();
    }
    PhysicsObject* Find(const Entity* entity) const
    {
        auto it = byEntity.find(entity);
        return it == byEntity.end() ? nullptr : it->second;
    }
};

namespace {

using State = PhysicsEngine::State;

dReal GroundHeight(void* data, int x, int z)
{
    const State::Ground* ground = static_cast<const State::Ground*>(data);
    const float height = ground->samples ? ground->samples->GetGroundHeight(x, z) : 0.0f;
    if (!IsFinite(height))
        return 0.0;
    return std::clamp(height, -maxGroundHeight, maxGroundHeight);
}

void DestroyGround(State::Ground& ground)
{
    if (ground.geom)
        dGeomDestroy(ground.geom);
    if (ground.data)
        dGeomHeightfieldDataDestroy(ground.data);
    ground.geom = nullptr;
    ground.data = nullptr;
}

void DestroyStatic(State::StaticMesh& mesh)
{
    if (mesh.geom)
        dGeomDestroy(mesh.geom);
    if (mesh.data)
        dGeomTriMeshDataDestroy(mesh.data);
    mesh.geom = nullptr;
    mesh.data = nullptr;
}

// The ground height field's centre: samples run from the region's origin, one unit apart.
void PlaceGround(const State& state, State::Ground& ground)
{
    const Vec3 at = state.ToSimulation(ground.region);
    dGeomSetPosition(ground.geom, at.x + 0.5 * (ground.xSamples - 1), at.y,
                     at.z + 0.5 * (ground.zSamples - 1));
}

void PlaceStatic(const State& state, State::StaticMesh& mesh)
{
    const Vec3 at = state.ToSimulation(mesh.region) + mesh.coords.origin;
    dGeomSetPosition(mesh.geom, at.x, at.y, at.z);
}

void NearCallback(void* data, dGeomID a, dGeomID b)
{
    State& state = *static_cast<State*>(data);
    dBodyID bodyA = dGeomGetBody(a);
    dBodyID bodyB = dGeomGetBody(b);
    const bool activeA = bodyA && dBodyIsEnabled(bodyA);
    const bool activeB = bodyB && dBodyIsEnabled(bodyB);
    if (!activeA && !activeB)
        return;
    // The bodies of one object (a rag doll's) do not collide with each other.
    if (bodyA && bodyB && dGeomGetData(a) == dGeomGetData(b))
        return;
    const int found = dCollide(a, b, maxPairContacts, state.scratch, sizeof(dContactGeom));
    if (found <= 0)
        return;

    dContact contact{};
    contact.surface.mode = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
    contact.surface.mu = 0.8;
    contact.surface.soft_erp = 0.5;
    contact.surface.soft_cfm = 1e-4;
    auto add = [&](const Vec3& position, const Vec3& normal, float depth) {
        contact.geom.pos[0] = position.x;
        contact.geom.pos[1] = position.y;
        contact.geom.pos[2] = position.z;
        contact.geom.normal[0] = normal.x;
        contact.geom.normal[1] = normal.y;
        contact.geom.normal[2] = normal.z;
        contact.geom.depth = depth;
        contact.geom.g1 = a;
        contact.geom.g2 = b;
        dJointID joint = dJointCreateContact(state.world, state.contactGroup, &contact);
        dJointAttach(joint, bodyA, bodyB);
        ++state.contacts;
    };
    auto toContact = [](const dContactGeom& g) {
        CollisionContact c;
        c.position =
            Vec3(static_cast<float>(g.pos[0]), static_cast<float>(g.pos[1]), static_cast<float>(g.pos[2]));
        c.normal = Vec3(static_cast<float>(g.normal[0]), static_cast<float>(g.normal[1]),
                        static_cast<float>(g.normal[2]));
        c.depth = static_cast<float>(g.depth);
        return c;
    };
    if (found <= BoxCollisionQuery::maxContacts) {
        for (int i = 0; i < found; ++i) {
            const CollisionContact c = toContact(state.scratch[i]);
            add(c.position, c.normal, c.depth);
        }
        return;
    }
    // More than four: the four nearest (deepest) hold the pair apart.
    BoxCollisionQuery query;
    for (int i = 0; i < found; ++i)
        query.AddContact(toContact(state.scratch[i]));
    for (int i = 0; i < query.GetNumContacts(); ++i) {
        const CollisionContact& c = query.GetContact(i);
        add(c.position, c.normal, c.depth);
    }
}

} // namespace

// ---- Engine -------------------------------------------------------------------------------------

PhysicsEngine::PhysicsEngine() = default;

PhysicsEngine::~PhysicsEngine()
{
    if (!m_state)
        return;
    // The objects stay with their entities, out of any simulation.
    while (!m_state->objects.empty())
        ReleaseObject(*m_state->objects.back());
    for (auto& ground : m_state->grounds)
        DestroyGround(*ground);
    for (auto& mesh : m_state->statics)
        DestroyStatic(*mesh);
    dJointGroupDestroy(m_state->contactGroup);
    dSpaceDestroy(m_state->space);
    dWorldDestroy(m_state->world);
    delete m_state;
    m_state = nullptr;
    ReleaseOde();
}

bool PhysicsEngine::Initialize()
{
    if (m_state)
        return true;
    if (!AcquireOde()) {
        LogPrintf(1, "Physics: ODE could not be initialised");
        return false;
    }
    State* state = new State;
    state->world = dWorldCreate();
    state->space = dHashSpaceCreate(nullptr);
    state->contactGroup = dJointGroupCreate(0);
    if (!state->world || !state->space || !state->contactGroup) {
        LogPrintf(1, "Physics: ODE could not make a world");
        if (state->contactGroup)
            dJointGroupDestroy(state->contactGroup);
        if (state->space)
            dSpaceDestroy(state->space);
        if (state->world)
            dWorldDestroy(state->world);
        delete state;
        ReleaseOde();
        return false;
    }
    dWorldSetGravity(state->world, 0.0, -gravity, 0.0);
    dWorldSetERP(state->world, 0.2);
    dWorldSetCFM(state->world, 1e-5);
    dWorldSetQuickStepNumIterations(state->world, 20);
    dWorldSetContactMaxCorrectingVel(state->world, 5.0);
    dWorldSetContactSurfaceLayer(state->world, 0.002);
    dWorldSetAngularDamping(state->world, 0.02);
    dWorldSetMaxAngularSpeed(state->world, 40.0);
    dWorldSetAutoDisableFlag(state->world, 1);
    dWorldSetAutoDisableLinearThreshold(state->world, 0.03);
    dWorldSetAutoDisableAngularThreshold(state->world, 0.03);
    dWorldSetAutoDisableSteps(state->world, 20);
    dWorldSetAutoDisableTime(state->world, 0.0);
    m_state = state;
    LogPrintf(0, "Physics engine initialized successfully");
    return true;
}

int PhysicsEngine::GetNumSimulatedEntities() const
{
    return m_state ? static_cast<int>(m_state->objects.size()) : 0;
}

int PhysicsEngine::GetNumActiveBodies() const
{
    if (!m_state)
        return 0;
    int count = 0;
    for (const PhysicsObject* object : m_state->objects)
        for (dBodyID body : object->m_simulation->bodies)
            count += dBodyIsEnabled(body) ? 1 : 0;
    return count;
}

int PhysicsEngine::GetNumContacts() const
{
    return m_state ? m_state->contacts : 0;
}

unsigned PhysicsEngine::GetNumSteps() const
{
    return m_state ? m_state->steps : 0;
}

// ---- Entities ---------------------------------------------------------------------------------

bool PhysicsEngine::AddEntityToSimulation(Entity* entity)
{
    NavigationServices* world = NavigationServices::Get();
    if (!m_state || !entity || !world)
        return false;
    if (m_state->Find(entity))
        return true;
    const PhysicsType type = world->GetPhysicsType(entity);
    if (type != PHYSICS_TYPE_ACTOR && type != PHYSICS_TYPE_RAG_DOLL)
        return false;
    if (!world->IsInWorld(entity))
        return false;
    const bool had = world->GetPhysicsObject(entity) != nullptr;
    world->CreatePhysicsObject(entity);
    PhysicsObject* object = world->GetPhysicsObject(entity);
    if (!object)
        return false;
    if (object->m_engine || object->GetEntity() != entity || object->GetNumBodies() == 0) {
        LogPrintf(1, "Physics: entity '%s' has no body the simulation can take",
                  world->GetEntityName(entity).c_str());
        if (!had)
            world->DestroyPhysicsObject(entity);
        return false;
    }

    State& s = *m_state;
    const WorldCoords placement = world->GetCoords(entity);
    Region* region = placement.GetRegion();
    if (!s.hasOrigin) {
        s.origin = RegionServices::OffsetFromWorld(region);
        s.hasOrigin = true;
    }
    auto* sim = new PhysicsObject::Simulation;
    sim->region = region;
    sim->written = placement.GetRegionCoords();
    sim->scale =
        Vec3(AxisLength(sim->written.xAxis), AxisLength(sim->written.yAxis), AxisLength(sim->written.zAxis));
    sim->gravity = world->GetGravityEnabled(entity);
    sim->near = s.near.empty() || s.IsNear(region);
    Coords frame = PhysicsObject::MakeRigid(sim->written);
    frame.origin += s.ToSimulation(region);

    for (int i = 0; i < object->GetNumBodies(); ++i) {
        const PhysicsObject::Body& description = object->GetBody(i);
        const Vec3 size = description.box.extents * 2.0f;
        dBodyID body = dBodyCreate(s.world);
        dMass mass;
        dMassSetBoxTotal(&mass, description.mass, size.x, size.y, size.z);
        dBodySetMass(body, &mass);
        PlaceBody(body, frame * object->GetBodyCoords(i));
        dBodySetGravityMode(body, sim->gravity ? 1 : 0);
        if (!sim->near)
            dBodyDisable(body);
        dGeomID geom = nullptr;
        if (description.collides) {
            geom = dCreateBox(s.space, size.x, size.y, size.z);
            dGeomSetBody(geom, body);
            dGeomSetData(geom, object);
            dGeomSetCategoryBits(geom, dynamicCategory);
            dGeomSetCollideBits(geom, staticCategory | dynamicCategory);
        }
        sim->bodies.push_back(body);
        sim->geoms.push_back(geom);
    }
    for (int i = 0; i < object->GetNumJoints(); ++i) {
        const PhysicsObject::Joint& description = object->GetJoint(i);
        dBodyID a = sim->bodies[static_cast<size_t>(description.body0)];
        dBodyID b = sim->bodies[static_cast<size_t>(description.body1)];
        const Vec3 anchor = frame.TransformPoint(description.anchor);
        const Vec3 axis0 = frame.TransformVector(description.axis0);
        const Vec3 axis1 = frame.TransformVector(description.axis1);
        dJointID joint = nullptr;
        switch (description.type) {
        case JOINT_TYPE_BALL:
            joint = dJointCreateBall(s.world, nullptr);
            dJointAttach(joint, a, b);
            dJointSetBallAnchor(joint, anchor.x, anchor.y, anchor.z);
            break;
        case JOINT_TYPE_HINGE:
            joint = dJointCreateHinge(s.world, nullptr);
            dJointAttach(joint, a, b);
            dJointSetHingeAnchor(joint, anchor.x, anchor.y, anchor.z);
            dJointSetHingeAxis(joint, axis0.x, axis0.y, axis0.z);
            if (description.loStop0 < description.hiStop0) {
                dJointSetHingeParam(joint, dParamLoStop, description.loStop0);
                dJointSetHingeParam(joint, dParamHiStop, description.hiStop0);
            }
            break;
        case JOINT_TYPE_FIXED:
            joint = dJointCreateFixed(s.world, nullptr);
            dJointAttach(joint, a, b);
            dJointSetFixed(joint);
            break;
        case JOINT_TYPE_UNIVERSAL:
            joint = dJointCreateUniversal(s.world, nullptr);
            dJointAttach(joint, a, b);
            dJointSetUniversalAnchor(joint, anchor.x, anchor.y, anchor.z);
            dJointSetUniversalAxis1(joint, axis0.x, axis0.y, axis0.z);
            dJointSetUniversalAxis2(joint, axis1.x, axis1.y, axis1.z);
            if (description.loStop0 < description.hiStop0) {
                dJointSetUniversalParam(joint, dParamLoStop, description.loStop0);
                dJointSetUniversalParam(joint, dParamHiStop, description.hiStop0);
            }
            if (description.loStop1 < description.hiStop1) {
                dJointSetUniversalParam(joint, dParamLoStop2, description.loStop1);
                dJointSetUniversalParam(joint, dParamHiStop2, description.hiStop1);
            }
            break;
        default:
            break;
        }
        if (joint)
            sim->joints.push_back(joint);
    }

    object->m_engine = this;
    object->m_simulation = sim;
    s.objects.push_back(object);
    s.byEntity[entity] = object;
    if (object->m_hasVelocity)
        ApplyVelocity(*object);
    return true;
}

void PhysicsEngine::ReleaseObject(PhysicsObject& object)
{
    if (!m_state || object.m_engine != this)
        return;
    State& s = *m_state;
    PhysicsObject::Simulation* sim = object.m_simulation;
    for (dJointID joint : sim->joints)
        dJointDestroy(joint);
    for (dGeomID geom : sim->geoms)
        if (geom)
            dGeomDestroy(geom);
    for (dBodyID body : sim->bodies)
        dBodyDestroy(body);
    delete sim;
    object.m_simulation = nullptr;
    object.m_engine = nullptr;
    s.objects.erase(std::remove(s.objects.begin(), s.objects.end(), &object), s.objects.end());
    auto it = s.byEntity.find(object.GetEntity());
    if (it != s.byEntity.end() && it->second == &object)
        s.byEntity.erase(it);
}

void PhysicsEngine::RemoveEntityFromSimulation(Entity* entity)
{
    if (!m_state || !entity)
        return;
    PhysicsObject* object = m_state->Find(entity);
    if (!object)
        return;
    ReleaseObject(*object);
    NavigationServices* world = NavigationServices::Get();
    if (world && world->GetPhysicsObject(entity) == object)
        world->DestroyPhysicsObject(entity);
}

void PhysicsEngine::SetEntityLinearVelocity(Entity* entity, const Vec3& velocity)
{
    if (!entity)
        return;
    AddEntityToSimulation(entity);
    NavigationServices* world = NavigationServices::Get();
    if (world && world->IsSimulationEnabled(entity))
        world->GetPhysicsObject(entity)->SetLinearVelocity(velocity);
}

void PhysicsEngine::ApplyVelocity(PhysicsObject& object)
{
    if (object.m_engine != this || !object.m_hasVelocity)
        return;
    const Vec3& v = object.m_velocity;
    for (dBodyID body : object.m_simulation->bodies) {
        dBodyEnable(body);
        dBodySetLinearVel(body, v.x, v.y, v.z);
    }
    object.m_hasVelocity = false;
}

Vec3 PhysicsEngine::ReadVelocity(const PhysicsObject& object) const
{
    if (object.m_engine != this || object.m_simulation->bodies.empty())
        return object.m_velocity;
    const dReal* v = dBodyGetLinearVel(object.m_simulation->bodies.front());
    return Vec3(static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2]));
}

// ---- Stepping ------------------------------------------------------------------------------------

void PhysicsEngine::Update(const WorldVec3& viewOrigin)
{
    if (!m_state)
        return;
    const int now = GetGameTime();
    float elapsed = 0.0f;
    if (m_state->hasGameTime && now > m_state->lastGameTime)
        elapsed = static_cast<float>(now - m_state->lastGameTime) * 0.001f;
    m_state->lastGameTime = now;
    m_state->hasGameTime = true;
    Update(viewOrigin, elapsed);
}

void PhysicsEngine::Update(const WorldVec3& viewOrigin, float elapsedSeconds)
{
    if (!m_state)
        return;
    Region* view = viewOrigin.GetRegion();
    NavigationServices* world = NavigationServices::Get();
    if (!view || !world)
        return;
    State& s = *m_state;

    // ---- The simulation's origin follows the view's region.
    const IntVec3 offset = RegionServices::OffsetFromWorld(view);
    if (!s.hasOrigin) {
        s.origin = offset;
        s.hasOrigin = true;
    } else if (offset.x != s.origin.x || offset.y != s.origin.y || offset.z != s.origin.z) {
        const Vec3 shift(static_cast<float>(static_cast<int64_t>(s.origin.x) - offset.x),
                         static_cast<float>(static_cast<int64_t>(s.origin.y) - offset.y),
                         static_cast<float>(static_cast<int64_t>(s.origin.z) - offset.z));
        s.origin = offset;
        for (PhysicsObject* object : s.objects) {
            for (dBodyID body : object->m_simulation->bodies) {
                const dReal* p = dBodyGetPosition(body);
                dBodySetPosition(body, p[0] + shift.x, p[1] + shift.y, p[2] + shift.z);
            }
        }
        for (auto& ground : s.grounds)
            PlaceGround(s, *ground);
        for (auto& mesh : s.statics)
            PlaceStatic(s, *mesh);
        s.hasGathered = false;
    }

    // ---- The regions near the view, and their grounds.
    s.near.clear();
    s.near.push_back(view);
    world->GetLoadedRegions(view, s.loadedScratch);
    for (Region* region : s.loadedScratch) {
        if (!region || region == view || !world->IsLevelLoaded(region))
            continue;
        const ABBox box = RegionServices::BoundingBox(region);
        const ABBox moved(box.center + RegionServices::OffsetDifference(region, view), box.extents);
        if (BoxGap(moved, RegionServices::BoundingBox(view)) <= simulationDistance)
            s.near.push_back(region);
    }
    RefreshGrounds();

    // ---- Each object: moved elsewhere since the last step, near the view or not (nothing here
    // calls out of the engine, so the list stays as it is).
    bool anyActive = false;
    for (PhysicsObject* object : s.objects) {
        PhysicsObject::Simulation& sim = *object->m_simulation;
        Entity* entity = object->GetEntity();
        const WorldCoords placement = world->GetCoords(entity);
        Region* region = world->IsInWorld(entity) ? placement.GetRegion() : nullptr;
        if (region && (region != sim.region || placement.GetRegionCoords() != sim.written))
            PlaceObject(*object, region, placement.GetRegionCoords());
        const bool near = s.IsNear(region);
        if (near != sim.near) {
            for (dBodyID body : sim.bodies)
                near ? dBodyEnable(body) : dBodyDisable(body);
            sim.near = near;
        }
        const bool gravity = world->GetGravityEnabled(entity);
        if (gravity != sim.gravity) {
            for (dBodyID body : sim.bodies) {
                dBodySetGravityMode(body, gravity ? 1 : 0);
                dBodyEnable(body);
            }
            sim.gravity = gravity;
        }
        if (near && !anyActive)
            for (dBodyID body : sim.bodies)
                anyActive = anyActive || dBodyIsEnabled(body);
    }
    if (anyActive)
        RefreshStaticMeshes();

    // ---- Fixed steps.
    if (IsFinite(elapsedSeconds) && elapsedSeconds > 0.0f)
        s.backlog += elapsedSeconds;
    int steps = 0;
    while (s.backlog >= stepSeconds && steps < maxStepsPerUpdate) {
        s.backlog -= stepSeconds;
        s.contacts = 0;
        if (anyActive) {
            dSpaceCollide(s.space, &s, &NearCallback);
            dWorldQuickStep(s.world, stepSeconds);
            dJointGroupEmpty(s.contactGroup);
        }
        ++s.steps;
        ++steps;
    }
    if (s.backlog >= stepSeconds)
        s.backlog = 0.0f;
    if (steps > 0 && anyActive)
        WriteBack();
}

void PhysicsEngine::RefreshGrounds()
{
    State& s = *m_state;
    NavigationServices* world = NavigationServices::Get();
    for (auto& ground : s.grounds)
        ground->seen = false;
    for (Region* region : s.near) {
        const Level* level = world->IsLevelLoaded(region) ? world->GetLevelPtr(region) : nullptr;
        const NavigationGround* samples = level ? world->GetGround(region) : nullptr;
        // A cell grid has no height field: its pieces' collision meshes are its ground
        // (RefreshStaticMeshes).
        unsigned xSamples = 0, zSamples = 0;
        if (samples) {
            xSamples = samples->GetNumXSamples();
            zSamples = samples->GetNumYSamples();
        }
        auto it = std::find_if(s.grounds.begin(), s.grounds.end(),
                               [region](const auto& ground) { return ground->region == region; });
        State::Ground* ground = it == s.grounds.end() ? nullptr : it->get();
        if (ground && ground->level == level && ground->samples == samples && ground->xSamples == xSamples &&
            ground->zSamples == zSamples) {
            ground->seen = true;
            continue;
        }
        if (ground)
            DestroyGround(*ground);
        if (!samples)
            continue;
        if (xSamples < 2 || zSamples < 2 || xSamples > maxGroundSamples || zSamples > maxGroundSamples) {
            LogPrintf(1, "Physics: the ground of region '%s' has %u x %u samples; bodies fall through it",
                      world->GetRegionName(region).c_str(), xSamples, zSamples);
            continue;
        }
        if (!ground) {
            s.grounds.push_back(std::make_unique<State::Ground>());
            ground = s.grounds.back().get();
        }
        ground->region = region;
        ground->level = level;
        ground->samples = samples;
        ground->xSamples = xSamples;
        ground->zSamples = zSamples;
        ground->seen = true;
        ground->data = dGeomHeightfieldDataCreate();
        dGeomHeightfieldDataBuildCallback(ground->data, ground, &GroundHeight, xSamples - 1.0, zSamples - 1.0,
                                          static_cast<int>(xSamples), static_cast<int>(zSamples), 1.0, 0.0,
                                          1.0, 0);
        ground->geom = dCreateHeightfield(s.space, ground->data, 1);
        dGeomSetCategoryBits(ground->geom, staticCategory);
        dGeomSetCollideBits(ground->geom, dynamicCategory);
        PlaceGround(s, *ground);
    }
    // Grounds of regions no longer near (their region may be gone: never touched again).
    for (auto& ground : s.grounds)
        if (!ground->seen)
            DestroyGround(*ground);
    s.grounds.erase(
        std::remove_if(s.grounds.begin(), s.grounds.end(), [](const auto& g) { return !g->geom; }),
        s.grounds.end());
}

void PhysicsEngine::RefreshStaticMeshes()
{
    State& s = *m_state;
    // The box around every moving body, in the simulation's space.
    Vec3 lo(gInfinity, gInfinity, gInfinity), hi(-gInfinity, -gInfinity, -gInfinity);
    for (const PhysicsObject* object : s.objects) {
        const PhysicsObject::Simulation& sim = *object->m_simulation;
        if (!sim.near)
            continue;
        for (size_t i = 0; i < sim.bodies.size(); ++i) {
            if (!sim.geoms[i] || !dBodyIsEnabled(sim.bodies[i]))
                continue;
            dReal box[6];
            dGeomGetAABB(sim.geoms[i], box);
            lo = Vec3::Min(
                lo, Vec3(static_cast<float>(box[0]), static_cast<float>(box[2]), static_cast<float>(box[4])));
            hi = Vec3::Max(
                hi, Vec3(static_cast<float>(box[1]), static_cast<float>(box[3]), static_cast<float>(box[5])));
        }
    }
    if (!(lo.x <= hi.x))
        return; // nothing moving collides
    // The meshes gathered last time serve while the moving bodies stay inside the box they were
    // gathered for, for at most staticMeshRefreshUpdates updates (new, moved or removed meshes
    // are then seen).
    const bool inside = lo.x >= s.gathered.center.x - s.gathered.extents.x &&
                        lo.y >= s.gathered.center.y - s.gathered.extents.y &&
                        lo.z >= s.gathered.center.z - s.gathered.extents.z &&
                        hi.x <= s.gathered.center.x + s.gathered.extents.x &&
                        hi.y <= s.gathered.center.y + s.gathered.extents.y &&
                        hi.z <= s.gathered.center.z + s.gathered.extents.z;
    if (s.hasGathered && inside && s.gatheredAge < staticMeshRefreshUpdates) {
        ++s.gatheredAge;
        return;
    }
    const Vec3 margin(staticMeshMargin, staticMeshMargin, staticMeshMargin);
    const ABBox around = ABBox::FromMinMax(lo - margin, hi + margin);
    s.gathered = around;
    s.hasGathered = true;
    s.gatheredAge = 0;

    for (auto& mesh : s.statics)
        mesh->seen = false;
    // The triangle mesh of one owner's collision mesh at its frame (region space), made anew only
    // when the mesh, region or frame changed.
    const auto keep = [&s](const void* owner, const PhysicsMesh* physicsMesh, Region* region,
                           const Coords& coords) {
        auto it = std::find_if(s.statics.begin(), s.statics.end(),
                               [owner](const auto& mesh) { return mesh->owner == owner; });
        State::StaticMesh* mesh = it == s.statics.end() ? nullptr : it->get();
        if (mesh && mesh->mesh == physicsMesh && mesh->region == region && mesh->coords == coords) {
            mesh->seen = true;
            return;
        }
        if (!mesh) {
            s.statics.push_back(std::make_unique<State::StaticMesh>());
            mesh = s.statics.back().get();
        }
        DestroyStatic(*mesh);
        mesh->owner = owner;
        mesh->mesh = physicsMesh;
        mesh->region = region;
        mesh->coords = coords;
        mesh->seen = true;
        Coords linear = coords;
        linear.origin = Vec3();
        mesh->vertices.resize(static_cast<size_t>(physicsMesh->GetNumVertices()) * 3);
        for (int v = 0; v < physicsMesh->GetNumVertices(); ++v) {
            Vec3 p = linear.TransformPoint(physicsMesh->GetVertex(v));
            if (!IsFiniteVec3(p))
                p = Vec3();
            mesh->vertices[static_cast<size_t>(v) * 3 + 0] = p.x;
            mesh->vertices[static_cast<size_t>(v) * 3 + 1] = p.y;
            mesh->vertices[static_cast<size_t>(v) * 3 + 2] = p.z;
        }
        mesh->indices.resize(static_cast<size_t>(physicsMesh->GetNumFaces()) * 3);
        for (int f = 0; f < physicsMesh->GetNumFaces(); ++f) {
            int corners[3];
            unsigned flags = 0;
            physicsMesh->GetFace(f, corners, flags);
            for (int k = 0; k < 3; ++k)
                mesh->indices[static_cast<size_t>(f) * 3 + static_cast<size_t>(k)] =
                    static_cast<dTriIndex>(corners[k]);
        }
        mesh->data = dGeomTriMeshDataCreate();
        dGeomTriMeshDataBuildSingle(mesh->data, mesh->vertices.data(), 3 * sizeof(float),
                                    physicsMesh->GetNumVertices(), mesh->indices.data(),
                                    static_cast<int>(mesh->indices.size()), 3 * sizeof(dTriIndex));
        mesh->geom = dCreateTriMesh(s.space, mesh->data, nullptr, nullptr, nullptr);
        dGeomSetCategoryBits(mesh->geom, staticCategory);
        dGeomSetCollideBits(mesh->geom, dynamicCategory);
        PlaceStatic(s, *mesh);
    };
    NavigationServices* world = NavigationServices::Get();
    for (Region* region : s.near) {
        Level* level = world->IsLevelLoaded(region) ? world->GetLevelPtr(region) : nullptr;
        if (!level)
            continue;
        const Vec3 at = s.ToSimulation(region);
        const ABBox local(around.center - at, around.extents);
        s.entityScratch.clear();
        world->GetEntitiesInBox(level, local, s.entityScratch);
        for (Entity* entity : s.entityScratch) {
            if (world->GetPhysicsType(entity) == PHYSICS_TYPE_NO_COLLISION || s.Find(entity))
                continue;
            const PhysicsMesh* physicsMesh = world->GetPhysicsMesh(entity);
            if (physicsMesh && physicsMesh->GetNumFaces() > 0)
                keep(entity, physicsMesh, region, world->GetCoords(entity).GetRegionCoords());
        }
        // The walls, floors and features of a cell grid.
        if (const GridRegion* grid = world->GetGridRegion(level)) {
            s.cellScratch.clear();
            world->GetCellMeshesInBox(grid, local, s.cellScratch);
            for (const GraphicsMeshInstance* cell : s.cellScratch) {
                const PhysicsMesh* physicsMesh = world->GetInstancePhysicsMesh(cell);
                if (physicsMesh && physicsMesh->GetNumFaces() > 0)
                    keep(cell, physicsMesh, region, world->GetObjectToRegionCoords(cell));
            }
        }
    }
    for (auto& mesh : s.statics)
        if (!mesh->seen)
            DestroyStatic(*mesh);
    s.statics.erase(
        std::remove_if(s.statics.begin(), s.statics.end(), [](const auto& m) { return !m->geom; }),
        s.statics.end());
}

void PhysicsEngine::WriteBack()
{
    State& s = *m_state;
    NavigationServices* world = NavigationServices::Get();
    // Moving an entity calls out of the engine (its level, its hooks), which may take objects out.
    s.objectScratch = s.objects;
    for (PhysicsObject* object : s.objectScratch) {
        // An entity's move (or destruction hook) may have taken other objects out meanwhile.
        if (object->m_engine != this)
            continue;
        PhysicsObject::Simulation& sim = *object->m_simulation;
        if (!sim.near)
            continue;
        // Bodies at rest have not moved since they were last checked.
        bool moving = false;
        for (dBodyID body : sim.bodies)
            moving = moving || dBodyIsEnabled(body);
        if (!moving)
            continue;
        bool sane = true;
        for (dBodyID body : sim.bodies)
            sane = sane && IsSane(body);
        Entity* entity = object->GetEntity();
        if (!sane) {
            LogPrintf(
                1,
                "Physics: entity '%s' left the simulation: its bodies are no longer finite or flew too far",
                world->GetEntityName(entity).c_str());
            RemoveEntityFromSimulation(entity);
            continue;
        }
        if (!sim.region)
            continue;

        // The entity keeps its first body where it was built in its frame.
        const Coords first = BodyFrame(sim.bodies.front());
        const Coords frame = first * object->GetBody(0).box.coords.Inverse();
        const Coords inverse = frame.Inverse();
        for (size_t i = 0; i < sim.bodies.size(); ++i)
            object->m_bodyCoords[i] = inverse * BodyFrame(sim.bodies[i]);

        Region* region = sim.region;
        Vec3 local = frame.origin - s.ToSimulation(region);
        if (world->HasWorld(region) && !StrictlyInside(RegionServices::BoundingBox(region), local)) {
            if (Region* entered = world->GetRegionEntered(region, local)) {
                region = entered;
                local = frame.origin - s.ToSimulation(region);
            }
        }
        const Coords coords(frame.xAxis * sim.scale.x, frame.yAxis * sim.scale.y, frame.zAxis * sim.scale.z,
                            local);
        // A body settling before it sleeps moves by less than anyone can see: the entity (and its
        // level's tree) is left alone until it has moved by writeTolerance.
        if (region == sim.region && Near(coords, sim.written))
            continue;
        world->MoveEntity(entity, region, coords);
        // A refused move (into a level that is not loaded) leaves the entity where it was: the
        // bodies go back there.
        if (object->m_engine == this && world->IsInWorld(entity)) {
            const WorldCoords placement = world->GetCoords(entity);
            if (placement.GetRegion() == region && placement.GetRegionCoords() == coords) {
                sim.region = region;
                sim.written = coords;
            } else {
                PlaceObject(*object, placement.GetRegion(), placement.GetRegionCoords());
            }
        }
    }
}

void PhysicsEngine::PlaceObject(PhysicsObject& object, Region* region, const Coords& coords)
{
    PhysicsObject::Simulation& sim = *object.m_simulation;
    sim.region = region;
    sim.written = coords;
    Coords frame = PhysicsObject::MakeRigid(coords);
    frame.origin += m_state->ToSimulation(region);
    for (size_t i = 0; i < sim.bodies.size(); ++i) {
        PlaceBody(sim.bodies[i], frame * object.GetBodyCoords(static_cast<int>(i)));
        if (sim.near)
            dBodyEnable(sim.bodies[i]);
    }
}

} // namespace GAME
