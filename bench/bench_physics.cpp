// The physics engine against ODE driven by hand. 500 boxes (half sizes 0.25 to 0.5) and 10 rag dolls
// of the sample character fall from 2 to 14 units onto a rolling terrain of 129 x 129 samples and
// settle, for 600 steps of 1/60 s. The engine's run places entities in a world region, steps through
// PhysicsEngine::Update and writes every moving entity back into its level; the reference builds the
// same bodies, joints and height field with ODE's own calls (the same world settings, space,
// contact surface and callback-based height field) and steps them the way an ODE program does.
// Both runs start from the same random placements; each is timed over its 600 steps only, seven
// times, and the medians are compared.
#include "common/BenchReport.h"
#include "core/Log.h"
#include "core/WorldCoords.h"
#include "datakit/CharacterGenerator.h"
#include "navigation/PhysicsEngine.h"
#include "navigation/PhysicsRagDoll.h"
#include "scene/GraphicsMesh.h"
#include "scene/SkeletalPose.h"
#include "terrain/TerrainGroundQueries.h"
#include "world/Entity.h"
#include "world/GroundQueries.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"

#include <ode/ode.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace {

using namespace GAME;

constexpr int kBoxes = 500;
constexpr int kDolls = 10;
constexpr int kSteps = 600;
constexpr int kRounds = 7;
constexpr unsigned kSamples = 129;

float GroundHeight(float x, float z)
{
    return 3.0f * std::sin(x * 0.07f) * std::cos(z * 0.05f) + 0.02f * x;
}

class BenchGround : public GroundQueries
{
public:
    BenchGround() { Install(this); }
    ~BenchGround() override { TerrainGroundQueries::Install(); }
    float GetTerrainHeight(const TerrainBase*, int x, int z) override
    {
        return GroundHeight(static_cast<float>(x), static_cast<float>(z));
    }
    float GetGridGroundHeight(const GridRegion*, float x, float z) override { return GroundHeight(x, z); }
    Region* GetTerrainRegion(const TerrainBase*) override { return nullptr; }
    Region* GetGridRegionRegion(const GridRegion*) override { return nullptr; }
};

class BenchBox : public Entity
{
public:
    explicit BenchBox(float half) : m_half(half) {}
    ~BenchBox() override = default;
    void UpdateBoundingBox() override
    {
        SetRegionBoundingBox(
            ABBox(GetCoords().GetOrigin().GetRegionPosition(), Vec3(m_half, m_half, m_half)));
    }

private:
    float m_half;
};

class BenchDoll : public BenchBox
{
public:
    explicit BenchDoll(const GraphicsMesh& mesh) : BenchBox(0.3f), m_mesh(mesh) {}
    void CreatePhysicsObject() override
    {
        if (!GetPhysicsObject())
            SetPhysicsObject(new PhysicsRagDoll(this, m_mesh, SkeletalPose()));
    }

private:
    const GraphicsMesh& m_mesh;
};

struct Placement
{
    Vec3 position;
    float half = 0.5f; // boxes only
};

struct Scene
{
    std::vector<Placement> boxes;
    std::vector<Placement> dolls;
};

Scene MakeScene()
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> spot(24.0f, 104.0f), drop(2.0f, 14.0f), half(0.25f, 0.5f);
    Scene scene;
    auto place = [&](float h) {
        const float x = spot(random), z = spot(random);
        return Vec3(x, GroundHeight(x, z) + h + drop(random), z);
    };
    for (int i = 0; i < kBoxes; ++i) {
        const float h = half(random);
        scene.boxes.push_back({place(h), h});
    }
    for (int i = 0; i < kDolls; ++i)
        scene.dolls.push_back({place(1.0f), 0.0f});
    return scene;
}

struct Outcome
{
    double seconds = 0.0;
    long contacts = 0;
    int active = 0;
    int sunk = 0;
};

// ---- The engine's run ---------------------------------------------------------------------------

Outcome RunEngine(const Scene& scene, const GraphicsMesh& mesh)
{
    PhysicsEngine physics;
    if (!physics.Initialize())
        return {};
    World world;
    world.AddRegion("levels/bench.lvl", IntVec3(), ABBox(), RegionId());
    Region* region = world.GetRegion(0);
    Level* level = new Level(region);
    level->NewTerrain(kSamples, kSamples);
    level->PostLoad(false);
    region->SetLevel(level);

    std::vector<std::unique_ptr<BenchBox>> entities;
    auto add = [&](BenchBox* entity, const Vec3& position, PhysicsType type) {
        entities.emplace_back(entity);
        level->AddEntity(entity, Coords::Translation(position));
        entity->SetPhysicsType(type);
        physics.AddEntityToSimulation(entity);
    };
    for (const Placement& p : scene.boxes)
        add(new BenchBox(p.half), p.position, PHYSICS_TYPE_ACTOR);
    for (const Placement& p : scene.dolls)
        add(new BenchDoll(mesh), p.position, PHYSICS_TYPE_RAG_DOLL);

    Outcome outcome;
    const auto start = std::chrono::steady_clock::now();
    for (int step = 0; step < kSteps; ++step) {
        physics.Update(WorldVec3(region, Vec3()), PhysicsEngine::stepSeconds);
        outcome.contacts += physics.GetNumContacts();
    }
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.active = physics.GetNumActiveBodies();
    for (const auto& entity : entities) {
        const PhysicsObject* object = entity->GetPhysicsObject();
        const Coords frame = entity->GetCoords().GetRegionCoords();
        for (int i = 0; object && i < object->GetNumBodies(); ++i) {
            const Vec3 p = (frame * object->GetBodyCoords(i)).origin;
            outcome.sunk += p.y < GroundHeight(p.x, p.z) - 0.1f ? 1 : 0;
        }
    }
    for (const auto& entity : entities) {
        physics.RemoveEntityFromSimulation(entity.get());
        level->RemoveEntity(entity.get());
    }
    return outcome;
}

// ---- ODE by hand ------------------------------------------------------------------------------------

struct Raw
{
    dWorldID world;
    dSpaceID space;
    dJointGroupID contacts;
    long made = 0;
};

dReal RawHeight(void*, int x, int z)
{
    return GroundHeight(static_cast<float>(x), static_cast<float>(z));
}

void RawNear(void* data, dGeomID a, dGeomID b)
{
    Raw& raw = *static_cast<Raw*>(data);
    dBodyID ba = dGeomGetBody(a), bb = dGeomGetBody(b);
    if ((!ba || !dBodyIsEnabled(ba)) && (!bb || !dBodyIsEnabled(bb)))
        return;
    if (ba && bb && dGeomGetData(a) == dGeomGetData(b))
        return; // one rag doll
    dContact contact[4] = {};
    const int n = dCollide(a, b, 4, &contact[0].geom, sizeof(dContact));
    for (int i = 0; i < n; ++i) {
        contact[i].surface.mode = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
        contact[i].surface.mu = 0.8;
        contact[i].surface.soft_erp = 0.5;
        contact[i].surface.soft_cfm = 1e-4;
        dJointAttach(dJointCreateContact(raw.world, raw.contacts, &contact[i]), ba, bb);
    }
    raw.made += n;
}

void SetRotation(dBodyID body, const Coords& frame)
{
    dMatrix3 r;
    const Vec3* axes[3] = {&frame.xAxis, &frame.yAxis, &frame.zAxis};
    for (int c = 0; c < 3; ++c) {
        r[c] = axes[c]->x;
        r[4 + c] = axes[c]->y;
        r[8 + c] = axes[c]->z;
    }
    r[3] = r[7] = r[11] = 0.0;
    dBodySetRotation(body, r);
}

Outcome RunRaw(const Scene& scene, const PhysicsObject& doll)
{
    Raw raw;
    raw.world = dWorldCreate();
    raw.space = dHashSpaceCreate(nullptr);
    raw.contacts = dJointGroupCreate(0);
    dWorldSetGravity(raw.world, 0.0, -PhysicsEngine::gravity, 0.0);
    dWorldSetERP(raw.world, 0.2);
    dWorldSetCFM(raw.world, 1e-5);
    dWorldSetQuickStepNumIterations(raw.world, 20);
    dWorldSetContactMaxCorrectingVel(raw.world, 5.0);
    dWorldSetContactSurfaceLayer(raw.world, 0.002);
    dWorldSetAngularDamping(raw.world, 0.02);
    dWorldSetMaxAngularSpeed(raw.world, 40.0);
    dWorldSetAutoDisableFlag(raw.world, 1);
    dWorldSetAutoDisableLinearThreshold(raw.world, 0.03);
    dWorldSetAutoDisableAngularThreshold(raw.world, 0.03);
    dWorldSetAutoDisableSteps(raw.world, 20);
    dWorldSetAutoDisableTime(raw.world, 0.0);

    dHeightfieldDataID field = dGeomHeightfieldDataCreate();
    dGeomHeightfieldDataBuildCallback(field, nullptr, &RawHeight, kSamples - 1.0, kSamples - 1.0, kSamples,
                                      kSamples, 1.0, 0.0, 1.0, 0);
    dGeomID ground = dCreateHeightfield(raw.space, field, 1);
    dGeomSetPosition(ground, 0.5 * (kSamples - 1), 0.0, 0.5 * (kSamples - 1));
    dGeomSetCategoryBits(ground, 1);
    dGeomSetCollideBits(ground, 2);

    std::vector<dBodyID> bodies;
    std::vector<std::vector<dBodyID>> dollBodies;
    auto box = [&](const Coords& frame, const Vec3& extents, double mass, void* owner) {
        dBodyID body = dBodyCreate(raw.world);
        dMass m;
        dMassSetBoxTotal(&m, mass, 2 * extents.x, 2 * extents.y, 2 * extents.z);
        dBodySetMass(body, &m);
        dBodySetPosition(body, frame.origin.x, frame.origin.y, frame.origin.z);
        SetRotation(body, frame);
        dGeomID geom = dCreateBox(raw.space, 2 * extents.x, 2 * extents.y, 2 * extents.z);
        dGeomSetBody(geom, body);
        dGeomSetData(geom, owner ? owner : body);
        dGeomSetCategoryBits(geom, 2);
        dGeomSetCollideBits(geom, 3);
        bodies.push_back(body);
        return body;
    };
    for (const Placement& p : scene.boxes) {
        const float side = 2.0f * p.half;
        box(Coords::Translation(p.position), Vec3(p.half, p.half, p.half),
            std::clamp(PhysicsObject::defaultDensity * side * side * side, PhysicsObject::minMass,
                       PhysicsObject::maxMass),
            nullptr);
    }
    for (size_t d = 0; d < scene.dolls.size(); ++d) {
        const Coords at = Coords::Translation(scene.dolls[d].position);
        std::vector<dBodyID> parts;
        for (int i = 0; i < doll.GetNumBodies(); ++i)
            parts.push_back(box(at * doll.GetBodyCoords(i), doll.GetBody(i).box.extents, doll.GetBody(i).mass,
                                reinterpret_cast<void*>(static_cast<uintptr_t>(d + 1))));
        for (int j = 0; j < doll.GetNumJoints(); ++j) {
            const PhysicsObject::Joint& joint = doll.GetJoint(j);
            const Vec3 anchor = at.TransformPoint(joint.anchor);
            dJointID id = nullptr;
            if (joint.type == JOINT_TYPE_BALL) {
                id = dJointCreateBall(raw.world, nullptr);
                dJointAttach(id, parts[joint.body0], parts[joint.body1]);
                dJointSetBallAnchor(id, anchor.x, anchor.y, anchor.z);
            } else if (joint.type == JOINT_TYPE_HINGE) {
                id = dJointCreateHinge(raw.world, nullptr);
                dJointAttach(id, parts[joint.body0], parts[joint.body1]);
                dJointSetHingeAnchor(id, anchor.x, anchor.y, anchor.z);
                dJointSetHingeAxis(id, joint.axis0.x, joint.axis0.y, joint.axis0.z);
                dJointSetHingeParam(id, dParamLoStop, joint.loStop0);
                dJointSetHingeParam(id, dParamHiStop, joint.hiStop0);
            }
        }
        dollBodies.push_back(parts);
    }

    Outcome outcome;
    const auto start = std::chrono::steady_clock::now();
    for (int step = 0; step < kSteps; ++step) {
        dSpaceCollide(raw.space, &raw, &RawNear);
        dWorldQuickStep(raw.world, PhysicsEngine::stepSeconds);
        dJointGroupEmpty(raw.contacts);
    }
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.contacts = raw.made;
    for (dBodyID body : bodies) {
        outcome.active += dBodyIsEnabled(body) ? 1 : 0;
        const dReal* p = dBodyGetPosition(body);
        outcome.sunk += p[1] < GroundHeight(static_cast<float>(p[0]), static_cast<float>(p[2])) - 0.1 ? 1 : 0;
    }
    dJointGroupDestroy(raw.contacts);
    dSpaceDestroy(raw.space);
    dWorldDestroy(raw.world);
    dGeomHeightfieldDataDestroy(field);
    return outcome;
}

} // namespace

// The engine's information lines stay out of the figures.
class QuietLog : public LogSink
{
public:
    void Write(int priority, unsigned int, const char* text) override
    {
        if (priority > 0)
            std::fprintf(stderr, "%s\n", text);
    }
};

const char* const kHelp = R"(bench_physics: the physics engine against ODE driven by hand.

Measures, with no render device: 500 boxes and 10 rag dolls of the sample character falling onto a
rolling terrain of 129 x 129 samples for 600 steps of 1/60 s, stepped through PhysicsEngine::Update
with every moving entity written back into its level; median of 7 runs.
Reference, in the same run: the same bodies, joints and height field built and stepped with ODE's
own calls.

Figures (last lines of the output):
  value engine_ms_per_step                      ms a step, engine; lower is better
  value raw_ode_ms_per_step                     ms a step, raw ODE; for comparison
  value engine_contacts_per_step                contacts a step, engine; should be close to ODE's
  value raw_ode_contacts_per_step               contacts a step, raw ODE
  value engine_bodies_moving_after_600_steps    bodies not settled, engine; lower is better
  value raw_ode_bodies_moving_after_600_steps   bodies not settled, raw ODE
  value engine_bodies_below_ground              bodies that fell through the ground, engine; 0 is the only good value
  value raw_ode_bodies_below_ground             the same, raw ODE
  ratio physics_step_vs_raw_ode                 engine time / raw ODE time; lower is better
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    QuietLog quiet;
    SetProcessLogSink(&quiet);
    BenchGround ground;
    // The character's mesh without a device: its buffers are missing, its model text is read.
    DataKit::MeshWriter writer = DataKit::CharacterGenerator::MakeCharacter();
    const std::vector<uint8_t> bytes = writer.Write(11);
    GraphicsMesh mesh(nullptr, DataKit::CharacterGenerator::characterMesh, nullptr);
    const Resource::InitResult result = mesh.Initialize(bytes.data(), static_cast<int>(bytes.size()));
    if (result != Resource::INIT_SUCCESS && result != Resource::INIT_PARTIAL) {
        std::fprintf(stderr, "the sample character did not load\n");
        return 1;
    }
    mesh.SetInitResult(Resource::INIT_SUCCESS);
    mesh.SetLoadedState(Resource::LOAD_STATE_LOADED);
    // The rag doll's bodies and joints as the engine describes them, for the reference to build.
    const PhysicsRagDoll doll(nullptr, mesh, SkeletalPose());
    if (doll.GetNumBodies() == 0) {
        std::fprintf(stderr, "the sample character has no rag doll\n");
        return 1;
    }

    // Each run's pile settles its own way (contact order follows memory addresses), so the work of
    // 600 steps varies from run to run: the median of several runs of each side is compared.
    const Scene scene = MakeScene();
    std::vector<Outcome> engineRuns, rawRuns;
    for (int round = 0; round < kRounds; ++round) {
        // The engine's run initialises ODE, which the reference then uses as well.
        engineRuns.push_back(RunEngine(scene, mesh));
        rawRuns.push_back(RunRaw(scene, doll));
    }
    auto median = [](std::vector<Outcome> runs) {
        std::sort(runs.begin(), runs.end(),
                  [](const Outcome& a, const Outcome& b) { return a.seconds < b.seconds; });
        return runs[runs.size() / 2];
    };
    const Outcome engine = median(engineRuns), raw = median(rawRuns);

    BenchReport report;
    report.Value("engine_ms_per_step", 1000.0 * engine.seconds / kSteps, "ms");
    report.Value("raw_ode_ms_per_step", 1000.0 * raw.seconds / kSteps, "ms");
    report.Value("engine_contacts_per_step", static_cast<double>(engine.contacts) / kSteps, "contacts");
    report.Value("raw_ode_contacts_per_step", static_cast<double>(raw.contacts) / kSteps, "contacts");
    report.Count("engine_bodies_moving_after_600_steps", engine.active, "bodies");
    report.Count("raw_ode_bodies_moving_after_600_steps", raw.active, "bodies");
    report.Count("engine_bodies_below_ground", engine.sunk, "bodies");
    report.Count("raw_ode_bodies_below_ground", raw.sunk, "bodies");
    report.Ratio("physics_step_vs_raw_ode", engine.seconds / raw.seconds);
    report.Print();
    return 0;
}
