#include "world/WorldCamera.h"

#include "graphics/Viewport.h"
#include "sound/SoundManager.h"
#include "world/Portal.h"
#include "world/Triangle.h"
#include "world/World.h"

#include "WorldFixtures.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace GAME {
namespace {

::testing::AssertionResult Near(const Vec3& a, const Vec3& b, float eps = 1e-3f)
{
    if (std::fabs(a.x - b.x) <= eps && std::fabs(a.y - b.y) <= eps && std::fabs(a.z - b.z) <= eps)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ") vs (" << b.x
                                         << ", " << b.y << ", " << b.z << ")";
}

// Looks at a position the test moves.
class FollowCamera : public WorldCamera
{
public:
    void GetTargetPosition(WorldVec3& out) override { out = target; }
    void HandleInput() override { ++inputs; }

    WorldVec3 target;
    int inputs = 0;
};

class WorldCameraTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        a = world.GetRegion(
            world.AddRegion("a.lvl", IntVec3(0, 0, 0), ABBox(Vec3(), Vec3(50, 50, 50)), RegionId()));
        b = world.GetRegion(
            world.AddRegion("b.lvl", IntVec3(100, 0, 0), ABBox(Vec3(), Vec3(50, 50, 50)), RegionId()));
    }

    GAME::Test::WorldTestServices services;
    World world;
    Region* a = nullptr;
    Region* b = nullptr;
    FollowCamera camera;
    const Viewport view{0, 0, 800, 600};
};

TEST_F(WorldCameraTest, DefaultOrbitLooksAtTheTargetFromAboveAndAside)
{
    EXPECT_TRUE(Near(camera.GetOffsetFromTarget(), Vec3(23.47f, 25.71f, 19.70f), 0.01f));
    camera.target = WorldVec3(a, Vec3(5, 0, -3));
    camera.Update();
    const Camera& render = camera.GetRegionCamera();
    const Coords& coords = render.GetCoords();
    EXPECT_TRUE(Near(coords.origin, Vec3(5, 0, -3) + camera.GetOffsetFromTarget()));
    EXPECT_TRUE(Near(coords.zAxis, (Vec3(5, 0, -3) - coords.origin).Unit(), 1e-5f));
    EXPECT_NEAR(coords.xAxis.y, 0.0f, 1e-6f); // level horizon
    EXPECT_FLOAT_EQ(render.GetFOV(), 30.0f * 0.017453292f);
    EXPECT_EQ(render.GetFarPlane(), 750.0f);
    EXPECT_EQ(render.GetNearPlane(), 1.0f);

    // The region answers come in the target's region; the target is in the middle of the picture.
    EXPECT_EQ(camera.GetRegion(), a);
    EXPECT_EQ(camera.GetCoords().GetRegion(), a);
    const WorldFrustum frustum = camera.GetFrustum(view);
    EXPECT_EQ(frustum.GetRegion(), a);
    EXPECT_EQ(frustum.GetRegionFrustum().GetNumPlanes(), 5u);
    const Vec2 centre = camera.Project(camera.target, view);
    EXPECT_NEAR(centre.x, 400.0f, 0.01f);
    EXPECT_NEAR(centre.y, 300.0f, 0.01f);
    // The same place named from region b projects the same.
    const Vec2 fromB = camera.Project(WorldVec3(b, Vec3(-95, 0, -3)), view);
    EXPECT_NEAR(fromB.x, 400.0f, 0.01f);
    EXPECT_NEAR(fromB.y, 300.0f, 0.01f);
    const WorldRay ray = camera.GetRayThroughImagePoint(Vec2(0.5f, 0.5f), view);
    EXPECT_EQ(ray.GetRegion(), a);
    EXPECT_TRUE(Near(ray.direction, coords.zAxis, 1e-5f));

    // The offset moves the camera, not what it looks at.
    camera.GetCameraOffset() = Vec3(0, 2, 0);
    camera.Update();
    EXPECT_TRUE(
        Near(camera.GetRegionCamera().GetCoords().origin, Vec3(5, 2, -3) + camera.GetOffsetFromTarget()));
    camera.UpdateFromInput();
    EXPECT_EQ(camera.inputs, 1);
}

TEST_F(WorldCameraTest, AccelerationGlidesNearAndJumpsFar)
{
    camera.SetCameraYaw(0.0f);
    camera.SetCameraPitch(0.0f);
    camera.SetCameraDistance(10.0f); // the camera sits 10 units along +z from its target
    camera.target = WorldVec3(a, Vec3(0, 0, 0));
    camera.Update();
    camera.SetAcceleration(0.5f);

    // 4 units from its place: half of it in one update.
    camera.target = WorldVec3(a, Vec3(4, 0, 0));
    camera.Update();
    EXPECT_TRUE(Near(camera.GetRegionCamera().GetCoords().origin, Vec3(2, 0, 10)));
    camera.Update();
    EXPECT_TRUE(Near(camera.GetRegionCamera().GetCoords().origin, Vec3(3, 0, 10)));

    // 12 units away: it jumps.
    camera.target = WorldVec3(a, Vec3(15, 0, 0));
    camera.Update();
    EXPECT_TRUE(Near(camera.GetRegionCamera().GetCoords().origin, Vec3(15, 0, 10)));

    // A target that crossed into another region is approached from where the camera really is:
    // 4 units on in world space, in region b's space now.
    camera.target = WorldVec3(b, Vec3(-81, 0, 0));
    camera.Update();
    EXPECT_TRUE(Near(camera.GetRegionCamera().GetCoords().origin, Vec3(-83, 0, 10)));
    EXPECT_EQ(camera.GetCoords().GetRegion(), b);

    // Exactly in place: nothing to approach.
    camera.SetAcceleration(0.0f);
    camera.Update();
    camera.SetAcceleration(0.5f);
    camera.Update();
    EXPECT_TRUE(Near(camera.GetRegionCamera().GetCoords().origin, Vec3(-81, 0, 10)));
}

TEST_F(WorldCameraTest, ThroughADoorwayTheCameraGoesTheWayItsTargetWentAndKeepsToItsSide)
{
    // A cave far below region a, joined to it as the world generator joins them: a's doorway in
    // its plane z = 0 facing +z, the cave's turned half round in its own z = 0, facing +z into the
    // cave. Going through maps a's (x, y, z) onto the cave's (-x, y, -z).
    Region* cave = world.GetRegion(
        world.AddRegion("cave.lvl", IntVec3(0, -256, 0), ABBox(Vec3(), Vec3(50, 50, 50)), RegionId()));
    const Vec3 p0(-1.5f, 0, 0), p1(1.5f, 0, 0), p2(1.5f, 5, 0), p3(-1.5f, 5, 0);
    const UniqueId outsideId = UniqueId::CreateUnique(), insideId = UniqueId::CreateUnique();
    Portal* outside = a->CreatePortal();
    outside->SetId(outsideId);
    outside->SetTriangles({Triangle(p0, p1, p2), Triangle(p0, p2, p3)});
    outside->SetCoords(Coords());
    outside->SetConnectedRegionId(cave->GetId());
    outside->SetConnectedPortalId(insideId);
    Portal* inside = cave->CreatePortal();
    inside->SetId(insideId);
    inside->SetTriangles({Triangle(p0, p2, p1), Triangle(p0, p3, p2)});
    inside->SetCoords(Coords(Vec3(-1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, -1), Vec3()));
    inside->SetConnectedRegionId(a->GetId());
    inside->SetConnectedPortalId(outsideId);
    ASSERT_GT(inside->GetPlane().normal.z, 0.99f);

    // The camera trails 3 units behind a target walking toward -z into the doorway.
    camera.SetCameraYaw(0.0f);
    camera.SetCameraPitch(0.0f);
    camera.SetCameraDistance(3.0f);
    camera.target = WorldVec3(a, Vec3(0, 1, 2));
    camera.Update();
    camera.SetAcceleration(0.5f);
    ASSERT_TRUE(Near(camera.GetRegionCamera().GetCoords().origin, Vec3(0, 1, 5)));

    // Half a unit past the doorway, in the cave. Carried through the doorway the camera stands 5
    // units out of it, across the doorway's plane from its target: it does not glide from there
    // (through the doorway's frame) but goes to its place in the cave, 3 units along the cave's +z.
    camera.target = WorldVec3(cave, Vec3(0, 1, 0.5f));
    camera.Update();
    EXPECT_EQ(camera.GetCoords().GetRegion(), cave);
    EXPECT_TRUE(Near(camera.GetRegionCamera().GetCoords().origin, Vec3(0, 1, 3.5f)));

    // A camera already through the doorway (its target more than 11 units from it, so free to
    // stand anywhere) is carried through with its target and glides on from where it really is:
    // from 1 unit inside the cave half the way to its place, drawn in to a quarter unit inside (by
    // the regions' offsets it would be 256 units off and jump there).
    camera.SetAcceleration(0.0f);
    camera.SetCameraDistance(13.0f);
    camera.SetCameraYaw(3.14159265f);
    camera.target = WorldVec3(a, Vec3(0, 1, 12));
    camera.Update();
    ASSERT_TRUE(Near(camera.GetRegionCamera().GetCoords().origin, Vec3(0, 1, -1)));
    camera.SetAcceleration(0.5f);
    camera.target = WorldVec3(cave, Vec3(0, 1, 0.5f));
    camera.Update();
    EXPECT_TRUE(Near(camera.GetRegionCamera().GetCoords().origin, Vec3(0, 1, 0.625f)));
    camera.SetCameraDistance(3.0f);

    // Its place itself is kept on the target's side: looking back out of the doorway from 3 units
    // in front of the target, the camera stops a quarter unit inside, or half the target's own
    // distance from the doorway when that is less, but never nearer than 0.02 (past a target all
    // but on the plane), still looking the way its orbit does.
    camera.SetAcceleration(0.0f);
    camera.SetCameraYaw(3.14159265f);
    for (const float ahead : {1.0f, 0.2f, 0.01f, 0.0f}) {
        camera.target = WorldVec3(cave, Vec3(0.5f, 1, ahead));
        camera.Update();
        const Coords& at = camera.GetRegionCamera().GetCoords();
        EXPECT_NEAR(at.origin.z, std::clamp(0.5f * ahead, 0.02f, 0.25f), 1e-4f) << ahead;
        EXPECT_NEAR(at.origin.x, 0.5f, 1e-4f) << ahead;
        EXPECT_GT(at.zAxis.z, 0.999f) << ahead;
    }
    // A target 11 units or more from the doorway (here along its plane) lets the camera stand
    // across the plane: the portal renderer mixes nothing there.
    camera.target = WorldVec3(cave, Vec3(11.5f, 1, 1));
    camera.Update();
    EXPECT_TRUE(Near(camera.GetRegionCamera().GetCoords().origin, Vec3(11.5f, 1, -2)));
    // The same from the field's side, for a target behind its doorway: nothing to keep to.
    camera.target = WorldVec3(a, Vec3(0, 1, -1));
    camera.Update();
    EXPECT_TRUE(Near(camera.GetRegionCamera().GetCoords().origin, Vec3(0, 1, -4)));
}

TEST_F(WorldCameraTest, TargetWithoutRegionLeavesTheCameraWhereItIs)
{
    camera.target = WorldVec3(a, Vec3(1, 2, 3));
    camera.Update();
    const Coords placed = camera.GetRegionCamera().GetCoords();

    camera.target = WorldVec3(nullptr, Vec3(40, 0, 40));
    camera.SetCameraFOV(1.0f);
    camera.SetCameraFarPlane(90.0f);
    camera.SetCameraNearPlane(2.0f);
    camera.Update();
    const Camera& render = camera.GetRegionCamera();
    EXPECT_EQ(render.GetCoords(), placed);
    EXPECT_EQ(render.GetFOV(), 1.0f);
    EXPECT_EQ(render.GetFarPlane(), 90.0f);
    EXPECT_EQ(render.GetNearPlane(), 2.0f);
    EXPECT_EQ(camera.GetRegion(), nullptr);
    EXPECT_EQ(camera.GetFrustum(view).GetRegion(), nullptr);
    EXPECT_EQ(camera.Project(WorldVec3(a, Vec3()), view), Vec2());
    camera.SetListenerPosition(); // no region, no engine: nothing to place

    // Straight down the up vector there is no look direction: the camera moves, keeping its axes.
    camera.target = WorldVec3(a, Vec3(1, 2, 3));
    camera.SetCameraPitch(1.5707964f);
    camera.SetCameraYaw(0.0f);
    camera.SetCameraDistance(0.0f);
    camera.Update();
    EXPECT_EQ(camera.GetRegionCamera().GetCoords().zAxis, placed.zAxis);
    EXPECT_TRUE(Near(camera.GetRegionCamera().GetCoords().origin, Vec3(1, 2, 3)));
}

TEST_F(WorldCameraTest, ListenerSitsAboveTheTargetFacingTheFlattenedView)
{
    SoundManager sound(nullptr);
    sound.SetOutput(SoundDevice::OUTPUT_NONE);
    sound.SetCameraLerp(1.5f);
    camera.target = WorldVec3(b, Vec3(4, 1, -2));
    camera.Update();
    camera.SetListenerPosition(sound);
    EXPECT_EQ(sound.GetEarsPosition().GetRegion(), b);
    EXPECT_TRUE(Near(sound.GetEarsPosition().GetRegionPosition(), Vec3(4, 2.5f, -2)));
    Vec3 flat = camera.GetRegionCamera().GetCoords().zAxis;
    flat.y = 0.0f;
    EXPECT_TRUE(Near(sound.GetEarsForward(), flat.Unit(), 1e-5f));
    EXPECT_TRUE(Near(sound.GetEarsUp(), Vec3(0, -1, 0)));

    // A target without a region leaves the ears where they were.
    camera.target = WorldVec3(nullptr, Vec3(9, 9, 9));
    camera.SetListenerPosition(sound);
    EXPECT_TRUE(Near(sound.GetEarsPosition().GetRegionPosition(), Vec3(4, 2.5f, -2)));
}

} // namespace
} // namespace GAME
