#include "PhysicsFixtures.h"

#include "common/LogCapture.h"
#include "core/MathUtil.h"
#include "datakit/MeshWriter.h"
#include "navigation/CollisionContact.h"
#include "navigation/PhysicsRigidBody.h"
#include "navigation/RigidBodyDescription.h"

#include <cmath>
#include <gtest/gtest.h>

namespace GAME::PhysicsTest {
namespace {

Vec3 PositionOf(const Entity* entity)
{
    return entity->GetCoords().GetOrigin().GetRegionPosition();
}

// A gentle slope along x with a bump: the ground the boxes and rag dolls land on.
float Hills(float x, float z)
{
    return 2.0f + 0.05f * x + 0.5f * std::sin(z * 0.2f);
}

class PhysicsEngineTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(physics.Initialize()); }

    PhysicsEngine physics;
};

TEST_F(PhysicsEngineTest, BoxesDroppedOnTheGroundComeToRestOnItsSurface)
{
    World2 w(physics, Hills);
    // One box alone, and a crate with a box dropped onto it.
    PhysicsTestBox* box = w.Place<PhysicsTestBox>("records/box.dbr", 0, Vec3(20, 8, 20), PHYSICS_TYPE_ACTOR);
    PhysicsTestBox* crate =
        w.Place<PhysicsTestBox>("records/crate.dbr", 0, Vec3(40, 8, 30), PHYSICS_TYPE_ACTOR);
    PhysicsTestBox* top = w.Place<PhysicsTestBox>("records/box.dbr", 0, Vec3(40, 11, 30), PHYSICS_TYPE_ACTOR);
    ASSERT_EQ(physics.GetNumSimulatedEntities(), 3);
    ASSERT_TRUE(box->IsSimulationEnabled());

    w.Step(physics, 300);
    const Vec3 p = PositionOf(box);
    // The box sits on the ground under its centre (the slope tilts it a little).
    EXPECT_NEAR(p.y, Hills(p.x, p.z) + 0.5f, 0.08f);
    EXPECT_NEAR(p.x, 20.0f, 0.5f);
    EXPECT_GT(box->GetCoords().GetYAxis().y, 0.99f);
    const Vec3 c = PositionOf(crate);
    const Vec3 t = PositionOf(top);
    EXPECT_NEAR(c.y, Hills(c.x, c.z) + 1.0f, 0.12f);
    EXPECT_NEAR(t.y, c.y + 1.5f, 0.12f);
    // The level filed the box where it lies.
    EXPECT_NEAR(box->GetRegionBoundingBox().center.y, p.y, 1e-4f);
    // At rest, the bodies sleep and the entities stay put.
    w.Step(physics, 120);
    EXPECT_EQ(physics.GetNumActiveBodies(), 0);
    EXPECT_EQ(PositionOf(box), p);
}

TEST_F(PhysicsEngineTest, TheSampleCharactersRagDollFallsAndSettlesWithoutExploding)
{
    std::unique_ptr<GraphicsMesh> mesh = LoadCharacter();
    ASSERT_TRUE(mesh);
    ASSERT_TRUE(mesh->HasRigidBodyData());
    PhysicsTestDoll::mesh = mesh.get();
    World2 w(physics, Hills);
    PhysicsTestDoll* doll =
        w.Place<PhysicsTestDoll>("records/doll.dbr", 0, Vec3(30, 6, 30), PHYSICS_TYPE_RAG_DOLL);
    ASSERT_TRUE(doll->IsSimulationEnabled());
    const auto* ragDoll = dynamic_cast<const PhysicsRagDoll*>(doll->GetPhysicsObject());
    ASSERT_NE(ragDoll, nullptr);
    ASSERT_EQ(ragDoll->GetNumBodies(), 4);
    ASSERT_EQ(ragDoll->GetNumJoints(), 3);
    // Bodies lie between their bones: the pelvis body from the pelvis up to the spine.
    Coords pelvis;
    ASSERT_TRUE(ragDoll->GetBoneCoords(Name::Create("Pelvis"), pelvis));
    EXPECT_GT(ragDoll->GetBodyCoords(0).origin.y, pelvis.origin.y);

    // Joint anchors (entity frame) as the bodies hold them: they must stay together.
    auto anchorGap = [&](int joint) {
        const PhysicsObject::Joint& j = ragDoll->GetJoint(joint);
        const Coords a0 = ragDoll->GetBody(j.body0).box.coords, a1 = ragDoll->GetBody(j.body1).box.coords;
        const Vec3 in0 = a0.Inverse().TransformPoint(j.anchor), in1 = a1.Inverse().TransformPoint(j.anchor);
        const Vec3 now0 = ragDoll->GetBodyCoords(j.body0).TransformPoint(in0);
        const Vec3 now1 = ragDoll->GetBodyCoords(j.body1).TransformPoint(in1);
        return (now0 - now1).Length();
    };

    const float startY = PositionOf(doll).y;
    float lowest = gInfinity;
    for (int frame = 0; frame < 600; ++frame) {
        w.Step(physics, 1);
        ASSERT_TRUE(doll->IsSimulationEnabled()) << "frame " << frame;
        const Coords entity = doll->GetCoords().GetRegionCoords();
        for (int b = 0; b < ragDoll->GetNumBodies(); ++b) {
            const Coords body = entity * ragDoll->GetBodyCoords(b);
            ASSERT_TRUE(IsFiniteVec3(body.origin));
            // Within reach of the entity: nothing flies off.
            ASSERT_LT((body.origin - entity.origin).Length(), 2.0f) << "frame " << frame;
            lowest = std::min(lowest, body.origin.y - Hills(body.origin.x, body.origin.z));
        }
        for (int j = 0; j < ragDoll->GetNumJoints(); ++j)
            ASSERT_LT(anchorGap(j), 0.05f) << "joint " << j << " frame " << frame;
    }
    EXPECT_LT(PositionOf(doll).y, startY - 2.0f); // it fell
    EXPECT_GT(lowest, -0.05f);                    // and no body centre sank into the ground
    EXPECT_EQ(physics.GetNumActiveBodies(), 0);   // and it came to rest
    EXPECT_LT(physics.GetNumContacts(), 1000);
    PhysicsTestDoll::mesh = nullptr;
}

TEST_F(PhysicsEngineTest, AVelocitySetThroughTheEngineMovesTheEntityAcrossRegions)
{
    World2 w(physics);
    PhysicsTestBox* box =
        w.Place<PhysicsTestBox>("records/box.dbr", 0, Vec3(62, 10, 30), PHYSICS_TYPE_DEFAULT);
    box->SetGravityEnabled(false);
    // Type 0 is not simulated: nothing happens.
    physics.SetEntityLinearVelocity(box, Vec3(4, 0, 0));
    EXPECT_FALSE(box->IsSimulationEnabled());
    // As a replicated entity gets it: physics type 2, then the velocity.
    box->SetPhysicsType(PHYSICS_TYPE_ACTOR);
    physics.SetEntityLinearVelocity(box, Vec3(4, 0, 0));
    ASSERT_TRUE(box->IsSimulationEnabled());
    w.Step(physics, 60);
    // One second at 4 units a second: into the eastern region, two units past its edge.
    EXPECT_EQ(box->GetRegion(), w.regions[1]);
    EXPECT_NEAR(PositionOf(box).x, 2.0f, 0.1f);
    EXPECT_NEAR(PositionOf(box).y, 10.0f, 1e-3f);
    EXPECT_NEAR(box->GetPhysicsObject()->GetLinearVelocity().x, 4.0f, 0.05f);

    // A view in the eastern region moves the simulation's origin, not the entity: the bodies
    // shift against the origin, so the entity stays where it was before the view changed.
    physics.SetEntityLinearVelocity(box, Vec3());
    w.Step(physics, 1);
    const Vec3 before = PositionOf(box);
    w.Step(physics, 11, 1);
    EXPECT_EQ(box->GetRegion(), w.regions[1]);
    EXPECT_NEAR((PositionOf(box) - before).Length(), 0.0f, 1e-3f);

    // Velocities that are not finite are ignored; huge ones are cut.
    GAME::Test::LogCapture log;
    physics.SetEntityLinearVelocity(box, Vec3(NAN, 0, 0));
    EXPECT_TRUE(IsFiniteVec3(box->GetPhysicsObject()->GetLinearVelocity()));
    physics.SetEntityLinearVelocity(box, Vec3(0, 0, 1e30f));
    EXPECT_NEAR(box->GetPhysicsObject()->GetLinearVelocity().z, PhysicsObject::maxSpeed, 1e-2f);
}

TEST_F(PhysicsEngineTest, BodiesLeaveTheSimulationBeforeTheirEntityIsDestroyed)
{
    World2 w(physics);
    PhysicsTestBox* removed =
        w.Place<PhysicsTestBox>("records/box.dbr", 0, Vec3(10, 5, 10), PHYSICS_TYPE_ACTOR);
    PhysicsTestBox* destroyed =
        w.Place<PhysicsTestBox>("records/box.dbr", 0, Vec3(20, 5, 10), PHYSICS_TYPE_ACTOR);
    PhysicsTestBox* unloaded =
        w.Place<PhysicsTestBox>("records/box.dbr", 1, Vec3(20, 5, 10), PHYSICS_TYPE_ACTOR);
    ASSERT_EQ(physics.GetNumSimulatedEntities(), 3);
    w.Step(physics, 5);

    // Taken out of the world: out of the simulation, its body retired (deleted at its next update).
    w.regions[0]->RemoveEntity(removed);
    EXPECT_EQ(physics.GetNumSimulatedEntities(), 2);
    EXPECT_FALSE(removed->IsSimulationEnabled());
    ObjectManager::Get()->DestroyObjectEx(removed, __FILE__, __LINE__);

    // Destroyed while still in the world: its destructor takes it out.
    GAME::Test::LogCapture log;
    ObjectManager::Get()->DestroyObjectEx(destroyed, __FILE__, __LINE__);
    w.Flush();
    EXPECT_TRUE(log.Contains("being deleted before it is removed from the world", 2));
    EXPECT_EQ(physics.GetNumSimulatedEntities(), 1);

    // A level destroying its entities takes them out first.
    w.regions[1]->DestroyLevelEntities();
    EXPECT_EQ(physics.GetNumSimulatedEntities(), 0);
    (void)unloaded;
    w.Flush();
    w.Step(physics, 5);
    EXPECT_EQ(physics.GetNumActiveBodies(), 0);
}

TEST_F(PhysicsEngineTest, TheFourNearestContactsOfAPairHoldABoxOnACollisionMesh)
{
    // A finely cut floor at y = 1: a box resting on it touches many triangles at once.
    std::vector<Vec3> vertices;
    std::vector<DataKit::MeshWriter::Triangle> triangles;
    const int cells = 20;
    for (int z = 0; z <= cells; ++z)
        for (int x = 0; x <= cells; ++x)
            vertices.push_back(Vec3(-2.0f + 0.2f * x, 1.0f, -2.0f + 0.2f * z));
    for (int z = 0; z < cells; ++z) {
        for (int x = 0; x < cells; ++x) {
            const uint32_t i = static_cast<uint32_t>(z * (cells + 1) + x);
            triangles.push_back({{i, i + cells + 1, i + 1}, PHYSICS_SURFACE_STONE});
            triangles.push_back({{i + 1, i + cells + 1, i + cells + 2}, PHYSICS_SURFACE_STONE});
        }
    }
    const std::vector<uint8_t> bytes = DataKit::MeshWriter::PhysicsMeshBytes(vertices, triangles);
    PhysicsMesh floor;
    ASSERT_TRUE(floor.Initialize(bytes.data(), static_cast<unsigned>(bytes.size())));
    PhysicsTestProp::mesh = &floor;
    // Resting on it, a box meets many of its triangles.
    CollisionContact found[32];
    ASSERT_GT(floor.FindCollisions(
                  OBBox(Vec3(0.5f, 0.5f, 0.5f), Coords::Translation(Vec3(0.05f, 1.49f, 0.05f))), found, 32),
              8);

    World2 w(physics);
    w.Place<PhysicsTestProp>("records/prop.dbr", 0, Vec3(30, 0, 30), PHYSICS_TYPE_DEFAULT);
    PhysicsTestBox* box =
        w.Place<PhysicsTestBox>("records/box.dbr", 0, Vec3(30.05f, 1.6f, 30.05f), PHYSICS_TYPE_ACTOR);
    w.Step(physics, 15); // landed (it fell 0.1), not yet asleep
    // One pair, four contacts: the floor's many triangles under the box are cut to the nearest four.
    EXPECT_EQ(physics.GetNumContacts(), 4);
    EXPECT_NEAR(PositionOf(box).y, 1.5f, 0.05f);
    PhysicsTestProp::mesh = nullptr;
}

TEST_F(PhysicsEngineTest, DescriptionsFromModelTextsAreClampedIntoWhatTheSimulationHolds)
{
    GAME::Test::LogCapture log;
    std::unique_ptr<GraphicsMesh> mesh = LoadCharacter(R"(
RigidBodyDescription { parentName = "Pelvis" childName = "Spine2" extents = (nan, -0.2, 1e30) density = -5 }
RigidBodyDescription { parentName = "NoSuchBone" extents = (0.1, 0.1, 0.1) }
RigidBodyDescription { parentName = "Head" extents = (0, 0, 0) density = 1e30
    parentXAxis = (0, 0, 0) parentYAxis = (nan, 1, 0) }
JointDescription { rigidBody0 = 0 rigidBody1 = 7 jointType = ball }
JointDescription { rigidBody0 = 0 rigidBody1 = 0 jointType = hinge }
JointDescription { rigidBody0 = 0 rigidBody1 = 1 jointType = hinge }
JointDescription { rigidBody0 = 0 rigidBody1 = 2 jointType = universal jointAxis0 = y jointAxis1 = y
    loStop0 = -9 hiStop0 = 9 loStop1 = nan hiStop1 = 0.5 }
)");
    ASSERT_TRUE(mesh);
    PhysicsTestDoll::mesh = mesh.get();
    World2 w(physics);
    PhysicsTestDoll* doll =
        w.Place<PhysicsTestDoll>("records/doll.dbr", 0, Vec3(30, 4, 30), PHYSICS_TYPE_RAG_DOLL);
    ASSERT_TRUE(doll->IsSimulationEnabled());
    const PhysicsObject& object = *doll->GetPhysicsObject();
    // The body naming no bone is left out, and so are the joints naming it, itself or nothing.
    ASSERT_EQ(object.GetNumBodies(), 2);
    EXPECT_TRUE(log.Contains("names no bone", 1));
    EXPECT_TRUE(log.Contains("which it does not have", 1));
    for (int i = 0; i < object.GetNumBodies(); ++i) {
        const PhysicsObject::Body& body = object.GetBody(i);
        for (float e : {body.box.extents.x, body.box.extents.y, body.box.extents.z}) {
            EXPECT_GE(e, PhysicsObject::minExtent);
            EXPECT_LE(e, PhysicsObject::maxExtent);
        }
        EXPECT_GE(body.mass, PhysicsObject::minMass);
        EXPECT_LE(body.mass, PhysicsObject::maxMass);
        EXPECT_NEAR(
            Vec3::Dot(Vec3::Cross(body.box.coords.xAxis, body.box.coords.yAxis), body.box.coords.zAxis), 1.0f,
            1e-4f);
    }
    EXPECT_NEAR(object.GetBody(0).box.extents.y, 0.2f, 1e-6f); // a negative size counts by its length
    ASSERT_EQ(object.GetNumJoints(), 1);
    const PhysicsObject::Joint& joint = object.GetJoint(0);
    EXPECT_EQ(joint.type, JOINT_TYPE_UNIVERSAL);
    EXPECT_GE(joint.loStop0, -PhysicsObject::pi);
    EXPECT_LE(joint.hiStop0, PhysicsObject::pi);
    EXPECT_TRUE(IsFinite(joint.loStop1));
    EXPECT_NEAR(Vec3::Dot(joint.axis0, joint.axis1), 0.0f, 1e-4f); // a universal joint's axes stand apart

    // Simulated, it stays finite (a slab 128 units wide and 0.02 thick may well slip through the
    // ground, but it never blows up).
    for (int frame = 0; frame < 240; ++frame) {
        w.Step(physics, 1);
        ASSERT_TRUE(doll->IsSimulationEnabled());
        ASSERT_TRUE(IsFiniteVec3(PositionOf(doll)));
        ASSERT_LT(physics.GetNumContacts(), 100);
    }

    // One rigid body described with nothing usable.
    RigidBodyDescription nothing;
    nothing.extents = Vec3(NAN, INFINITY, -INFINITY);
    nothing.density = NAN;
    nothing.parentCoords.xAxis = Vec3(NAN, 0, 0);
    PhysicsRigidBody body(nullptr, nothing);
    ASSERT_EQ(body.GetNumBodies(), 1);
    EXPECT_EQ(body.GetBody(0).box.extents,
              Vec3(PhysicsObject::minExtent, PhysicsObject::maxExtent, PhysicsObject::maxExtent));
    EXPECT_TRUE(IsFinite(body.GetBody(0).mass));
    EXPECT_EQ(body.GetBody(0).box.coords, Coords());
    PhysicsTestDoll::mesh = nullptr;
}

TEST_F(PhysicsEngineTest, StepsAreFixedAndALongFrameIsCut)
{
    World2 w(physics);
    const WorldVec3 view(w.regions[0], Vec3());
    w.Place<PhysicsTestBox>("records/box.dbr", 0, Vec3(10, 10, 10), PHYSICS_TYPE_ACTOR);
    physics.Update(view, PhysicsEngine::stepSeconds * 0.5f);
    EXPECT_EQ(physics.GetNumSteps(), 0u);
    physics.Update(view, PhysicsEngine::stepSeconds * 0.5f);
    EXPECT_EQ(physics.GetNumSteps(), 1u);
    // Ten seconds at once: a few steps, the rest dropped.
    physics.Update(view, 10.0f);
    EXPECT_EQ(physics.GetNumSteps(), 1u + PhysicsEngine::maxStepsPerUpdate);
    physics.Update(view, 0.0f);
    EXPECT_EQ(physics.GetNumSteps(), 1u + PhysicsEngine::maxStepsPerUpdate);
    physics.Update(view, NAN);
    EXPECT_EQ(physics.GetNumSteps(), 1u + PhysicsEngine::maxStepsPerUpdate);
    // No region, no step; an engine never initialised takes nobody.
    physics.Update(WorldVec3(), 1.0f);
    EXPECT_EQ(physics.GetNumSteps(), 1u + PhysicsEngine::maxStepsPerUpdate);
    PhysicsEngine off;
    PhysicsTestBox* box =
        w.Place<PhysicsTestBox>("records/box.dbr", 0, Vec3(12, 10, 10), PHYSICS_TYPE_DEFAULT);
    box->SetPhysicsType(PHYSICS_TYPE_ACTOR);
    EXPECT_FALSE(off.AddEntityToSimulation(box));
}

TEST(CollisionContactTest, BoxesTouchOverTheirWholeFace)
{
    const OBBox ground(Vec3(2, 0.5f, 2), Coords::Translation(Vec3(0, 0, 0)));
    CollisionContact contacts[8];
    // A box sunk 0.1 into the one below: four corners of contact, pushed up.
    const OBBox resting(Vec3(0.5f, 0.5f, 0.5f), Coords::Translation(Vec3(0, 0.9f, 0)));
    ASSERT_EQ(CollideBoxes(resting, ground, contacts, 8), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(contacts[i].normal.y, 1.0f, 1e-5f);
        EXPECT_NEAR(contacts[i].depth, 0.1f, 1e-4f);
        EXPECT_NEAR(std::fabs(contacts[i].position.x), 0.5f, 1e-4f);
    }
    // Room for fewer: as many as asked.
    EXPECT_EQ(CollideBoxes(resting, ground, contacts, 2), 2);
    // Apart, or not finite: none.
    EXPECT_EQ(CollideBoxes(OBBox(Vec3(0.5f, 0.5f, 0.5f), Coords::Translation(Vec3(0, 1.2f, 0))), ground,
                           contacts, 8),
              0);
    EXPECT_EQ(CollideBoxes(OBBox(Vec3(NAN, 0.5f, 0.5f), Coords()), ground, contacts, 8), 0);
    // A box standing on a corner: one point of contact.
    Coords tilted = Coords::Rotation(Vec3(1, 0, 0), 0.6f) * Coords::Rotation(Vec3(0, 0, 1), 0.7f);
    tilted.origin = Vec3(0, 0.5f + 0.8f, 0);
    EXPECT_EQ(CollideBoxes(OBBox(Vec3(0.5f, 0.5f, 0.5f), tilted), ground, contacts, 8), 1);
    EXPECT_GT(contacts[0].normal.y, 0.99f);
}

} // namespace
} // namespace GAME::PhysicsTest
