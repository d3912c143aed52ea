#include "navigation/PhysicsMesh.h"
#include "common/LogCapture.h"
#include "core/Intersection.h"
#include "core/Ray.h"
#include "datakit/MeshWriter.h"
#include "navigation/CollisionContact.h"
#include "navigation/PhysicsRagDoll.h"
#include "navigation/RigidBodyDescription.h"

#include <cstring>
#include <gtest/gtest.h>

namespace GAME {
namespace {

using DataKit::MeshWriter;

// A floor square at y = 0 (two stone triangles) and a wooden wall at x = 3.
std::vector<uint8_t> FloorAndWall()
{
    return MeshWriter::PhysicsMeshBytes({Vec3(-2, 0, -2), Vec3(2, 0, -2), Vec3(2, 0, 2), Vec3(-2, 0, 2),
                                         Vec3(3, 0, -1), Vec3(3, 4, -1), Vec3(3, 0, 1)},
                                        {{{0, 2, 1}, PHYSICS_SURFACE_STONE},
                                         {{0, 3, 2}, PHYSICS_SURFACE_STONE},
                                         {{4, 5, 6}, PHYSICS_SURFACE_WOOD}});
}

OBBox Box(const Vec3& center, const Vec3& extents)
{
    return OBBox(extents, Coords::Translation(center));
}

TEST(PhysicsMeshTest, ReadsItsStoredFormAndRefusesAnythingElse)
{
    GAME::Test::LogCapture log;
    const std::vector<uint8_t> good = FloorAndWall();
    PhysicsMesh mesh;
    ASSERT_TRUE(mesh.Initialize(good.data(), unsigned(good.size())));
    EXPECT_EQ(mesh.GetNumFaces(), 3);
    EXPECT_EQ(mesh.GetNumVertices(), 7);
    int vertices[3];
    unsigned flags = 0;
    mesh.GetFace(2, vertices, flags);
    EXPECT_EQ(vertices[1], 5);
    EXPECT_EQ(flags, unsigned(PHYSICS_SURFACE_WOOD));
    EXPECT_EQ(mesh.GetBoundingBox().GetMin(), Vec3(-2, 0, -2));
    EXPECT_EQ(mesh.GetBoundingBox().GetMax(), Vec3(3, 4, 2));

    auto refused = [&](std::vector<uint8_t> bytes) {
        PhysicsMesh bad;
        const bool ok = bad.Initialize(bytes.data(), unsigned(bytes.size()));
        return !ok && bad.GetNumFaces() == 0 && bad.GetNumVertices() == 0;
    };
    std::vector<uint8_t> bytes = good;
    bytes[0] = 'X';
    EXPECT_TRUE(refused(bytes)) << "magic";
    bytes = good;
    bytes[4] = 2;
    EXPECT_TRUE(refused(bytes)) << "version";
    bytes = good;
    bytes[11] = 0x10;
    EXPECT_TRUE(refused(bytes)) << "vertex count";
    bytes = good;
    bytes.push_back(0);
    EXPECT_TRUE(refused(bytes)) << "trailing byte";
    for (size_t size = 0; size < good.size(); size += 5)
        EXPECT_TRUE(refused(std::vector<uint8_t>(good.begin(), good.begin() + long(size)))) << size;
    bytes = good;
    bytes[16 + 7 * 12 + 2 * 16 + 4] = 7; // the wall's second index
    EXPECT_TRUE(refused(bytes)) << "index past the vertices";
    bytes = good;
    const float nan = NAN;
    std::memcpy(&bytes[16 + 4], &nan, 4);
    EXPECT_TRUE(refused(bytes)) << "vertex not finite";
    EXPECT_FALSE(PhysicsMesh().Initialize(nullptr, 0));
}

TEST(PhysicsMeshTest, CoordinatesBeyondAMillionUnitsAreRefusedSoHitsStayFinite)
{
    GAME::Test::LogCapture log;
    auto triangle = [](float far) {
        return MeshWriter::PhysicsMeshBytes(
            {Vec3(-0.5f, 0, -0.5f), Vec3(far, 0, -0.5f), Vec3(-0.5f, 0.25f, far)},
            {{{0, 1, 2}, PHYSICS_SURFACE_STONE}});
    };
    // The same reach straight up, from a vertex off the floor.
    auto upright = [](float far) {
        return MeshWriter::PhysicsMeshBytes(
            {Vec3(-0.5f, 0, -0.5f), Vec3(0.5f, far, -0.5f), Vec3(-0.5f, 0, 0.5f)},
            {{{0, 1, 2}, PHYSICS_SURFACE_STONE}});
    };
    // At the limit the mesh loads and a ray meets it at a finite point.
    std::vector<uint8_t> bytes = upright(-PhysicsMesh::maxCoordinate);
    PhysicsMesh tall;
    ASSERT_TRUE(tall.Initialize(bytes.data(), unsigned(bytes.size())));
    EXPECT_EQ(tall.GetBoundingBox().GetMin().y, -PhysicsMesh::maxCoordinate);
    bytes = triangle(PhysicsMesh::maxCoordinate);
    PhysicsMesh mesh;
    ASSERT_TRUE(mesh.Initialize(bytes.data(), unsigned(bytes.size())));
    Intersection hit;
    ASSERT_TRUE(mesh.GetIntersection(Ray(Vec3(1, 10, 1), Vec3(0.01f, -1, 0.02f)), hit));
    EXPECT_TRUE(IsFiniteVec3(hit.point));
    EXPECT_NEAR(hit.point.y, 0.0f, 1e-3f);
    EXPECT_EQ(log.Count(), 0u);

    // Beyond it, and near the float limit where the hit came out infinite, it is refused.
    for (float far : {1.5e6f, -2.0e6f, 3.0e37f, -3.37e38f, 3.4e38f}) {
        SCOPED_TRACE(far);
        log.Clear();
        bytes = triangle(far);
        PhysicsMesh refused;
        EXPECT_FALSE(refused.Initialize(bytes.data(), unsigned(bytes.size())));
        EXPECT_EQ(refused.GetNumVertices(), 0);
        EXPECT_EQ(refused.GetNumFaces(), 0);
        EXPECT_EQ(log.Count(), 1u);
        EXPECT_FALSE(refused.GetIntersection(Ray(Vec3(1, 10, 1), Vec3(0.01f, -1, 0.02f)), hit));
        // Along y alone, too.
        log.Clear();
        bytes = upright(far);
        EXPECT_FALSE(refused.Initialize(bytes.data(), unsigned(bytes.size())));
        EXPECT_EQ(refused.GetNumVertices(), 0);
        EXPECT_EQ(log.Count(), 1u);
    }
}

TEST(PhysicsMeshTest, RaysFindTheNearestTriangleAndBoxesItsContacts)
{
    GAME::Test::LogCapture log;
    const std::vector<uint8_t> bytes = FloorAndWall();
    PhysicsMesh mesh;
    ASSERT_TRUE(mesh.Initialize(bytes.data(), unsigned(bytes.size())));

    Intersection hit;
    EXPECT_TRUE(mesh.GetIntersection(Ray(Vec3(0.5f, 5, 0.5f), Vec3(0, -1, 0)), hit));
    EXPECT_FLOAT_EQ(hit.distance, 5.0f);
    EXPECT_EQ(hit.point, Vec3(0.5f, 0, 0.5f));
    EXPECT_EQ(hit.surface, uint32_t(PHYSICS_SURFACE_STONE));
    // Along +X from above the floor the wall is nearer than anything else.
    EXPECT_TRUE(mesh.GetIntersection(Ray(Vec3(0, 1, 0), Vec3(2, 0, 0)), hit));
    EXPECT_FLOAT_EQ(hit.distance, 1.5f);
    EXPECT_EQ(hit.surface, uint32_t(PHYSICS_SURFACE_WOOD));
    EXPECT_FALSE(mesh.GetIntersection(Ray(Vec3(0, 1, 0), Vec3(0, 1, 0)), hit));
    EXPECT_EQ(hit.distance, gInfinity);

    // A box sunk 0.25 into the floor: its contacts push it up by that much, on stone.
    CollisionContact contacts[8];
    const int n = mesh.FindCollisions(Box(Vec3(0, 0.25f, 0), Vec3(0.5f, 0.5f, 0.5f)), contacts, 8);
    ASSERT_GE(n, 3);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(contacts[i].normal, Vec3(0, 1, 0));
        EXPECT_NEAR(contacts[i].depth, 0.25f, 1e-5f);
        EXPECT_EQ(contacts[i].surface, uint32_t(PHYSICS_SURFACE_STONE));
        EXPECT_NEAR(contacts[i].position.y, 0.0f, 1e-5f);
        EXPECT_LE(std::fabs(contacts[i].position.x), 0.5f + 1e-4f); // the clipper's tolerance
    }
    EXPECT_EQ(mesh.FindCollisions(Box(Vec3(0, 0.25f, 0), Vec3(0.5f, 0.5f, 0.5f)), contacts, 2), 2);
    EXPECT_EQ(mesh.FindCollisions(Box(Vec3(0, 3, 0), Vec3(0.5f, 0.5f, 0.5f)), contacts, 8), 0);
    EXPECT_EQ(mesh.FindCollisions(Box(Vec3(0, 0.25f, 0), Vec3(1, 1, 1)), contacts, 0), 0);
    // Against the wall, which faces +X, the push is out of its front, on wood.
    ASSERT_GT(mesh.FindCollisions(Box(Vec3(3.1f, 2, 0), Vec3(0.25f, 0.25f, 0.25f)), contacts, 8), 0);
    EXPECT_EQ(contacts[0].surface, uint32_t(PHYSICS_SURFACE_WOOD));
    EXPECT_NEAR(contacts[0].normal.x, 1.0f, 1e-5f);
    EXPECT_NEAR(contacts[0].depth, 0.15f, 1e-5f);
}

TEST(PhysicsMeshTest, TriangleContactsAndBoxQueriesKeepTheNearest)
{
    const Vec3 triangle[3] = {Vec3(-1, 0, -1), Vec3(0, 0, 1), Vec3(1, 0, -1)};
    CollisionContact contacts[16];
    // A tilted box dips one corner below the triangle: the deepest contact comes first.
    OBBox tilted(Vec3(0.2f, 0.2f, 0.2f),
                 Coords::Rotation(Vec3(0, 0, 1), 0.6f) * Coords::Rotation(Vec3(1, 0, 0), 0.4f));
    tilted.coords.origin = Vec3(0, 0.2f, 0);
    const int n = CollideOBBoxTriangle(triangle, tilted, contacts, 16);
    ASSERT_GT(n, 0);
    for (int i = 1; i < n; ++i)
        EXPECT_GE(contacts[i - 1].depth, contacts[i].depth);
    EXPECT_EQ(CollideOBBoxTriangle(triangle, tilted, contacts, 1), 1);
    const Vec3 flat[3] = {Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(2, 0, 0)};
    EXPECT_EQ(CollideOBBoxTriangle(flat, Box(Vec3(1, 0, 0), Vec3(1, 1, 1)), contacts, 16), 0);
    EXPECT_EQ(CollideOBBoxTriangle(triangle, Box(Vec3(0, 2, 0), Vec3(0.5f, 0.5f, 0.5f)), contacts, 16), 0);
    // A box 262,144 units long, turned, just short of the triangle (by 0.0018 across its width):
    // the overlap test's rounding on the box's length finds them touching and the clipping finds
    // no part inside. No contact may lie off the triangle (the box's deepest corner did, 38,735
    // units away).
    const Vec3 apart[3] = {Vec3(0, 0, 0.5f), Vec3(0.5f, 0, -0.746094f), Vec3(0, 1, 0.5f)};
    OBBox along(Vec3(0.35f, 0.35f, 131072.0f), Coords::Rotation(Vec3(0, 1, 0), 0.3f));
    along.coords.origin = Vec3(0.477668f, 1.0f, -0.14776f);
    for (int i = 0, n = CollideOBBoxTriangle(apart, along, contacts, 16); i < n; ++i)
        EXPECT_LT((contacts[i].position - Vec3(0.25f, 0.5f, 0)).Length(), 1.5f);

    // Boxes that are not finite, or so large that their corners are not, touch nothing.
    EXPECT_EQ(CollideOBBoxTriangle(triangle, Box(Vec3(0, 0, 0), Vec3(INFINITY, 1, 1)), contacts, 16), 0);
    for (int i = 0,
             n = CollideOBBoxTriangle(triangle, Box(Vec3(0, -3e38f, 0), Vec3(1, 3e38f, 1)), contacts, 16);
         i < n; ++i)
        EXPECT_TRUE(IsFiniteVec3(contacts[i].position) && IsFinite(contacts[i].depth));

    // The query keeps four contacts nearer than its limit, replacing the farthest kept.
    BoxCollisionQuery query(0.0f);
    auto contact = [](float depth) {
        CollisionContact c;
        c.depth = depth;
        c.position = Vec3(depth, 0, 0);
        return c;
    };
    EXPECT_FALSE(query.AddContact(contact(-0.5f))); // half a unit apart: beyond a limit of 0
    EXPECT_FALSE(query.AddContact(contact(0.0f)));  // touching is at the limit
    for (float depth : {0.1f, 0.4f, 0.2f, 0.3f})
        EXPECT_TRUE(query.AddContact(contact(depth)));
    EXPECT_TRUE(query.AddContact(contact(0.5f)));   // replaces 0.1
    EXPECT_FALSE(query.AddContact(contact(0.05f))); // farther than all kept
    EXPECT_FALSE(query.AddContact(contact(NAN)));
    ASSERT_EQ(query.GetNumContacts(), 4);
    float smallest = 1.0f;
    for (int i = 0; i < 4; ++i)
        smallest = std::min(smallest, query.GetContact(i).depth);
    EXPECT_FLOAT_EQ(smallest, 0.2f);

    CollisionBox box(Box(Vec3(1, 1, 1), Vec3(1, 1, 1)));
    EXPECT_TRUE(box.AddContact(contact(-3.0f))); // no limit by default
    box.Move(Vec3(0, 2, 0));
    EXPECT_EQ(box.GetBox().GetCenter(), Vec3(1, 3, 1));
    EXPECT_EQ(box.GetContact(0).position, Vec3(-3, 2, 0));
}

TEST(PhysicsMeshTest, JointNamesOfModelTexts)
{
    EXPECT_EQ(PhysicsRagDoll::ToJointType("ball"), JOINT_TYPE_BALL);
    EXPECT_EQ(PhysicsRagDoll::ToJointType("Hinge"), JOINT_TYPE_HINGE);
    EXPECT_EQ(PhysicsRagDoll::ToJointType("fixed"), JOINT_TYPE_FIXED);
    EXPECT_EQ(PhysicsRagDoll::ToJointType("universal"), JOINT_TYPE_UNIVERSAL);
    EXPECT_EQ(PhysicsRagDoll::ToJointType("rope"), JOINT_TYPE_NONE);
    EXPECT_EQ(PhysicsRagDoll::ToJointType(nullptr), JOINT_TYPE_NONE);
    EXPECT_EQ(PhysicsRagDoll::ToJointAxis("y"), JOINT_AXIS_Y);
    EXPECT_EQ(PhysicsRagDoll::ToJointAxis("Z"), JOINT_AXIS_Z);
    EXPECT_EQ(PhysicsRagDoll::ToJointAxis("w"), JOINT_AXIS_X);
    RigidBodyDescription body;
    EXPECT_EQ(body.density, 100.0f);
}

} // namespace
} // namespace GAME
