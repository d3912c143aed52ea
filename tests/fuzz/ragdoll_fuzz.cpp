// Reads any bytes as the model text of the sample character and simulates the rag doll it
// describes: no crash; every body and joint within the clamps, and a simulated doll that either
// stays finite or is taken out of the simulation (never NaN handed back to its entity).
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "core/WorldCoords.h"
#include "datakit/CharacterGenerator.h"
#include "navigation/PhysicsEngine.h"
#include "navigation/PhysicsRagDoll.h"
#include "scene/GraphicsMesh.h"
#include "scene/SkeletalPose.h"
#include "world/Entity.h"
#include "world/Region.h"

#include <cstdlib>
#include <string>

namespace {

using namespace GAME;

class Doll : public Entity
{
public:
    explicit Doll(const GraphicsMesh& mesh) : m_mesh(mesh) {}
    ~Doll() override = default;
    void CreatePhysicsObject() override
    {
        if (!GetPhysicsObject())
            SetPhysicsObject(new PhysicsRagDoll(this, m_mesh, SkeletalPose()));
    }

private:
    const GraphicsMesh& m_mesh;
};

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    if (size > 4096)
        return 0;
    DataKit::MeshWriter writer = DataKit::CharacterGenerator::MakeCharacter();
    writer.modelText.assign(reinterpret_cast<const char*>(data), size);
    const std::vector<uint8_t> bytes = writer.Write(11);
    GraphicsMesh mesh(nullptr, DataKit::CharacterGenerator::characterMesh, nullptr);
    const Resource::InitResult result = mesh.Initialize(bytes.data(), static_cast<int>(bytes.size()));
    if (result != Resource::INIT_SUCCESS && result != Resource::INIT_PARTIAL)
        return 0;
    mesh.SetInitResult(Resource::INIT_SUCCESS);
    mesh.SetLoadedState(Resource::LOAD_STATE_LOADED);

    static PhysicsEngine physics;
    static const bool ready = physics.Initialize();
    Check(ready);
    // (A static engine outlives ODE's own static closing: the library waits for it.)
    Region region(ABBox(Vec3(), Vec3(100.0f, 100.0f, 100.0f)));
    Doll* doll = new Doll(mesh);
    region.AddEntity(doll, WorldCoords(&region, Coords::Translation(Vec3(0, 3, 0))), true);
    doll->SetPhysicsType(PHYSICS_TYPE_RAG_DOLL);
    if (physics.AddEntityToSimulation(doll)) {
        const PhysicsObject& object = *doll->GetPhysicsObject();
        if (object.GetNumBodies() > 0)
            FuzzAccepted();
        for (int i = 0; i < object.GetNumBodies(); ++i) {
            const PhysicsObject::Body& body = object.GetBody(i);
            Check(body.box.extents.x >= PhysicsObject::minExtent &&
                  body.box.extents.x <= PhysicsObject::maxExtent);
            Check(body.box.extents.y >= PhysicsObject::minExtent &&
                  body.box.extents.y <= PhysicsObject::maxExtent);
            Check(body.box.extents.z >= PhysicsObject::minExtent &&
                  body.box.extents.z <= PhysicsObject::maxExtent);
            Check(body.mass >= PhysicsObject::minMass && body.mass <= PhysicsObject::maxMass);
            Check(IsFiniteVec3(body.box.coords.origin));
        }
        for (int j = 0; j < object.GetNumJoints(); ++j) {
            const PhysicsObject::Joint& joint = object.GetJoint(j);
            Check(joint.body0 != joint.body1 && joint.body0 >= 0 && joint.body1 >= 0);
            Check(joint.body0 < object.GetNumBodies() && joint.body1 < object.GetNumBodies());
            Check(joint.loStop0 >= -PhysicsObject::pi && joint.hiStop0 <= PhysicsObject::pi);
        }
        for (int step = 0; step < 20; ++step) {
            physics.Update(WorldVec3(&region, Vec3()), PhysicsEngine::stepSeconds);
            Check(IsFiniteVec3(doll->GetCoords().GetOrigin().GetRegionPosition()));
        }
    }
    physics.RemoveEntityFromSimulation(doll);
    region.RemoveEntity(doll);
    delete doll;
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    sink.Add("character", DataKit::CharacterGenerator::MakeCharacter().modelText);
    sink.Add("hostile", std::string(R"(
RigidBodyDescription { parentName = "Pelvis" childName = "Spine2" extents = (nan, -0.2, 1e30) density = -5 }
RigidBodyDescription { parentName = "Head" extents = (0, 0, 0) density = 1e30 parentXAxis = (0, 0, 0) }
RigidBodyDescription { parentName = "LeftThigh" childName = "LeftCalf" extents = (0.1, 0.2, 0.1)
    FusedBone { name = "LeftFoot" origin = (inf, 0, 0) } }
JointDescription { rigidBody0 = 0 rigidBody1 = 9 jointType = ball }
JointDescription { rigidBody0 = 0 rigidBody1 = 1 jointType = universal jointAxis0 = x jointAxis1 = x
    loStop0 = -1e9 hiStop0 = nan }
JointDescription { rigidBody0 = 2 rigidBody1 = 0 jointType = hinge jointConnection = 1 loStop0 = 3 hiStop0 = -3 }
JointDescription { rigidBody0 = 1 rigidBody1 = 2 jointType = fixed }
)"));
}
