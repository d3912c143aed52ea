// The portal renderer through the OpenGL device: a camera behind a doorway of its region sees the
// region behind the doorway fade in as the transparency target comes within 11 units of it (fully
// from 8), and each region is cut at the doorway's plane moved 3 units toward the camera: the
// region behind always, the camera's own region while the region behind shows.
#include "OpenGLSceneFixtures.h"

#include "core/Ray.h"
#include "datakit/SampleGridKit.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/RenderTexture.h"
#include "scene/GraphicsNormalRenderer.h"
#include "scene/GraphicsPortalRenderer.h"
#include "scene/GraphicsTransparencyManager.h"
#include "world/Portal.h"
#include "world/Triangle.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <string>

namespace GAME::ScenePixelTest {
namespace {

using GAME::Test::Describe;

class OpenGLPortalPixelTest : public OpenGLSceneFixture
{
protected:
    void SetUp() override
    {
        OpenGLSceneFixture::SetUp();
        if (!ready)
            return;
        // The camera's region and, far off, the region behind its doorway; the doorway stands in
        // the plane z = 0 of both, facing +z, and joins them face to face.
        front = AddRegion(IntVec3(), ABBox(Vec3(), Vec3(50.0f, 50.0f, 50.0f)));
        behind = AddRegion(IntVec3(1000, 0, 0), ABBox(Vec3(), Vec3(50.0f, 50.0f, 50.0f)));
        const UniqueId p = UniqueId::CreateUnique(), q = UniqueId::CreateUnique();
        doorway = MakeDoorway(front, p, behind, q);
        MakeDoorway(behind, q, front, p);
        ASSERT_GT(doorway->GetPlane().normal.z, 0.99f);

        // Each region has a wall 6 beyond the doorway and a box 6 before it, where the cut takes
        // it away; the region behind also has a box 2 before the doorway, which the cut keeps.
        ASSERT_NE(AddBox(front, unlit, Vec3(0, 0, 6), Vec3(30, 30, 0.1f), kFrontWall), nullptr);
        ASSERT_NE(AddBox(front, unlit, kNearBox, Vec3(0.5f, 0.5f, 0.5f), kFrontBox), nullptr);
        ASSERT_NE(AddBox(behind, unlit, Vec3(0, 0, 6), Vec3(30, 30, 0.1f), kBehindWall), nullptr);
        ASSERT_NE(AddBox(behind, unlit, kNearBox, Vec3(0.5f, 0.5f, 0.5f), Color(0, 1, 0, 1)), nullptr);
        ASSERT_NE(AddBox(behind, unlit, kKeptBox, Vec3(0.5f, 0.5f, 0.5f), kBehindBox), nullptr);
    }

    Portal* MakeDoorway(Region* region, const UniqueId& id, Region* to, const UniqueId& toId)
    {
        Portal* portal = region->CreatePortal();
        portal->SetId(id);
        const Vec3 a(-3, 0, 0), b(3, 0, 0), c(3, 4, 0), d(-3, 4, 0);
        portal->SetTriangles({Triangle(a, b, c), Triangle(a, c, d)});
        portal->SetCoords(Coords());
        portal->SetConnectedRegionId(to->GetId());
        portal->SetConnectedPortalId(toId);
        return portal;
    }

    static constexpr Color kFrontWall = Color(1, 0, 0, 1);
    static constexpr Color kFrontBox = Color(1, 0.5f, 0, 1);
    static constexpr Color kBehindWall = Color(0, 0, 1, 1);
    static constexpr Color kBehindBox = Color(1, 1, 0, 1);
    static constexpr Vec3 kNearBox = Vec3(2.5f, 1, -6);
    static constexpr Vec3 kKeptBox = Vec3(-2, 1, -2);

    Region* front = nullptr;
    Region* behind = nullptr;
    Portal* doorway = nullptr;
};

TEST_F(OpenGLPortalPixelTest, TheRegionBehindADoorwayFadesInAsTheTargetNearsItAndBothAreCutAtIt)
{
    const Camera camera = LookAt(Vec3(0, 1, -10), Vec3(0, 1, 0));
    ASSERT_FALSE(doorway->IsFrontFacing(camera.GetCoords().origin)) << "the camera stands behind the doorway";
    GraphicsTransparencyManager manager;
    manager.SetFadeTime(0); // the target's region is blended in at once
    const Vec3 choke = doorway->GetChokePoint().GetOrigin().GetRegionPosition();

    for (float distance : {4.0f}) {
        const float fade = 1.0f - std::clamp((distance - 8.0f) / 3.0f, 0.0f, 1.0f);
        manager.SetTargetPosition(WorldVec3(front, choke + Vec3(0, 0, distance)));
        ASSERT_EQ(manager.GetRegionBlendAmount(front), 1.0f);
        GraphicsPortalRenderer renderer(Canvas(), front, camera, View(), false);
        renderer.SetTransparencyManager(&manager);
        const Pixels image = DrawFrame(renderer);
        ASSERT_FALSE(image.pixels.empty());
        log.Clear();
        ASSERT_GE(renderer.GetRenderedRegions().size(), 2u);
        EXPECT_EQ(renderer.GetRenderedRegions()[1], behind);

        auto expect = [&](const Vec3& point, const Color& behindColor, const Color& frontColor,
                          const char* what) {
            const auto [x, y] = PixelOf(camera, point);
            const Color mixed = behindColor * fade + frontColor * (1.0f - fade);
            EXPECT_TRUE(NearRgb(image.At(x, y), Channel(mixed.r), Channel(mixed.g), Channel(mixed.b)))
                << what << " with the target " << distance
                << " from the doorway: " << Describe(image.At(x, y));
        };
        // The walls mix by the fade (seen beside the doorway: the region behind keeps its own
        // doorway open onto the camera's region).
        expect(Vec3(8, 1, 6), kBehindWall, kFrontWall, "the walls");
        expect(Vec3(-6, 4, 6), kBehindWall, kFrontWall, "the walls higher up");
        // The box 6 before the doorway: cut from the region behind always, from the camera's
        // region while the region behind shows (its fade above 0).
        expect(kNearBox, kBehindWall, fade > 0.0f ? kFrontWall : kFrontBox, "the box 6 before the doorway");
        // The box 2 before the doorway is kept.
        expect(kKeptBox, kBehindBox, kFrontWall, "the box 2 before the doorway");
    }
}

TEST_F(OpenGLPortalPixelTest, ADoorwaySeenWhileTheTargetIsInAThirdRegionKeepsTheRegionInFrontWhole)
{
    // The flight's view over a neighbour's cave doorway: the target is in neither the doorway's
    // region nor the one behind it, so neither is blended in and the region in front stays whole
    // (it once opened onto the region behind wherever the mask let it: a dark disc on the screen).
    Region* elsewhere = AddRegion(IntVec3(0, 0, 3000), ABBox(Vec3(), Vec3(50.0f, 50.0f, 50.0f)));
    const Camera camera = LookAt(Vec3(0, 1, -10), Vec3(0, 1, 0));
    GraphicsTransparencyManager manager;
    manager.SetFadeTime(0);
    manager.SetTargetPosition(WorldVec3(elsewhere, Vec3()));
    ASSERT_EQ(manager.GetRegionBlendAmount(front), 0.0f);
    ASSERT_EQ(manager.GetRegionBlendAmount(behind), 0.0f);
    GraphicsPortalRenderer renderer(Canvas(), front, camera, View(), false);
    renderer.SetTransparencyManager(&manager);
    const Pixels image = DrawFrame(renderer);
    ASSERT_FALSE(image.pixels.empty());
    for (const Vec3& p : {Vec3(0, 1, 6), Vec3(-8, 1, 6), Vec3(-6, 4, 6)}) {
        const auto [x, y] = PixelOf(camera, p);
        EXPECT_TRUE(NearRgb(image.At(x, y), 255, 0, 0)) << Describe(image.At(x, y));
    }
    const auto [bx, by] = PixelOf(camera, kNearBox);
    EXPECT_TRUE(NearRgb(image.At(bx, by), 255, 128, 0)) << "the box before the doorway is not cut away: "
                                                        << Describe(image.At(bx, by));

    // Once the target has gone through into the region behind, the region in front gives way.
    manager.SetTargetPosition(WorldVec3(behind, Vec3(0, 1, 4)));
    ASSERT_EQ(manager.GetRegionBlendAmount(behind), 1.0f);
    GraphicsPortalRenderer inside(Canvas(), front, camera, View(), false);
    inside.SetTransparencyManager(&manager);
    const Pixels through = DrawFrame(inside);
    ASSERT_FALSE(through.pixels.empty());
    const auto [wx, wy] = PixelOf(camera, Vec3(8, 1, 6));
    EXPECT_TRUE(NearRgb(through.At(wx, wy), 0, 0, 255)) << Describe(through.At(wx, wy));
}

TEST_F(OpenGLPortalPixelTest, WithoutATransparencyManagerTheRegionBehindADoorwayStaysHidden)
{
    // With no target every doorway counts as near it, yet no region is blended in: the camera's
    // region covers the one behind (its composite alpha is at least 1) wherever it draws.
    const Camera camera = LookAt(Vec3(0, 1, -10), Vec3(0, 1, 0));
    GraphicsPortalRenderer renderer(Canvas(), front, camera, View(), false);
    const Pixels image = DrawFrame(renderer);
    ASSERT_FALSE(image.pixels.empty());
    ASSERT_EQ(renderer.GetRenderedRegions().size(), 2u);
    for (const Vec3& p : {Vec3(0, 1, 6), Vec3(-6, 4, 6), kKeptBox}) {
        const auto [x, y] = PixelOf(camera, p);
        EXPECT_TRUE(NearRgb(image.At(x, y), 255, 0, 0)) << Describe(image.At(x, y));
    }
}

TEST_F(OpenGLPortalPixelTest, TheCamerasRegionShowsTheRegionBehindItsDoorwayThroughTheOpeningOnly)
{
    // A doorway as the world generator lays one out (the region behind turned half round, so that
    // each side is looked through from its front), seen from its front. Beyond it the camera's
    // region has a red wall; the region behind has a blue wall that fills only one half of the view
    // and nothing (its black background) in the other. However the target came into the camera's
    // region (across a plain border from a third region, or through the doorway, just now, and is
    // still at it or has gone on) the region behind shows through the opening and nowhere else: it
    // once faded out round the view after the target came through, drawn from where the camera
    // stands, behind its doorway's back (a field's grass over a cave's floor, a cave's dark round a
    // field).
    const ABBox box(Vec3(), Vec3(50.0f, 50.0f, 50.0f));
    Region* a = AddRegion(IntVec3(0, 0, 9000), box);
    Region* b = AddRegion(IntVec3(1000, 0, 9000), box);
    Region* c = AddRegion(IntVec3(2000, 0, 9000), box);
    const UniqueId p = UniqueId::CreateUnique(), q = UniqueId::CreateUnique();
    Portal* door = MakeDoorway(a, p, b, q);
    Portal* turned = b->CreatePortal();
    turned->SetId(q);
    const Vec3 v0(-3, 0, 0), v1(3, 0, 0), v2(3, 4, 0), v3(-3, 4, 0);
    turned->SetTriangles({Triangle(v0, v2, v1), Triangle(v0, v3, v2)});
    turned->SetCoords(Coords::Rotation(Vec3(0, 1, 0), 3.14159265f));
    turned->SetConnectedRegionId(a->GetId());
    turned->SetConnectedPortalId(p);
    ASSERT_NE(AddBox(a, unlit, Vec3(0, 2, -10), Vec3(40, 40, 0.1f), kFrontWall), nullptr);
    ASSERT_NE(AddBox(b, unlit, Vec3(20, 2, 6), Vec3(20, 40, 0.1f), kBehindWall), nullptr);

    // The region behind's picture would weigh in wholly wherever it drew (the fixture's mask keeps
    // none of it).
    GraphicsTexture* mask = engine->LoadTexture(GraphicsNormalRenderer::inverseTransparencyMaskName);
    RenderTexture* texels = mask ? mask->GetTexture() : nullptr;
    ASSERT_NE(texels, nullptr);
    int pitch = 0;
    auto* bytes = static_cast<uint8_t*>(texels->Lock(pitch));
    ASSERT_NE(bytes, nullptr);
    std::fill(bytes, bytes + 4, uint8_t{255});
    texels->Unlock();
    engine->UnloadTexture(mask);

    const Camera camera = LookAt(Vec3(0, 2, 8), Vec3(0, 2, 0));
    // The region behind's wall lies beyond the doorway, turned half round: on the camera's -x side.
    const bool wallLeft = PixelOf(camera, Vec3(-8, 2, -6)).first < kWidth / 2;
    const int wallX = wallLeft ? 2 : kWidth - 3, emptyX = wallLeft ? kWidth - 3 : 2;
    const auto [doorX, doorY] = PixelOf(camera, Vec3(-1.5f, 2, 0));

    struct Case
    {
        const char* what;
        Region* from; // where the target was a moment ago (blended in fully then)
        bool settled;
        float away; // the target's distance from the doorway
    };
    for (const Case& k :
         {Case{"came across a border", c, false, 4.0f}, Case{"came through the doorway", b, false, 4.0f},
          Case{"came through the doorway and went on", b, false, 12.0f}, Case{"settled", b, true, 4.0f}}) {
        GraphicsTransparencyManager manager;
        manager.SetFadeTime(0);
        manager.SetTargetPosition(WorldVec3(k.from, Vec3(0, 1, 0)));
        if (!k.settled)
            manager.SetFadeTime(1 << 30); // the camera's region stays next to unblended
        manager.SetTargetPosition(WorldVec3(a, Vec3(0, 1, k.away)));
        ASSERT_EQ(manager.GetRegionBlendAmount(a) > 0.5f, k.settled) << k.what;
        GraphicsPortalRenderer renderer(Canvas(), a, camera, View(), false);
        renderer.SetTransparencyManager(&manager);
        const Pixels image = DrawFrame(renderer);
        ASSERT_FALSE(image.pixels.empty());
        ASSERT_EQ(renderer.GetRenderedRegions().size(), 2u) << k.what;
        EXPECT_TRUE(NearRgb(image.At(doorX, doorY), 0, 0, 255))
            << k.what << ": the region behind through the doorway: " << Describe(image.At(doorX, doorY));
        for (int y : {2, kHeight - 3})
            for (int x : {wallX, emptyX})
                EXPECT_TRUE(NearRgb(image.At(x, y), 255, 0, 0))
                    << k.what << ", the corner where the region behind has "
                    << (x == wallX ? "its wall" : "nothing") << ": " << Describe(image.At(x, y));
    }

    // Turned round, the camera has the doorway behind it, the target at the doorway: nothing of the
    // region behind is in view, and it is not drawn.
    GraphicsTransparencyManager manager;
    manager.SetFadeTime(0);
    manager.SetTargetPosition(WorldVec3(a, Vec3(0, 1, 1)));
    const Camera away = LookAt(Vec3(0, 2, 3), Vec3(0, 2, 10));
    ASSERT_TRUE(door->IsFrontFacing(away.GetCoords().origin));
    GraphicsPortalRenderer renderer(Canvas(), a, away, View(), false);
    renderer.SetTransparencyManager(&manager);
    const Pixels image = DrawFrame(renderer);
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_EQ(renderer.GetRenderedRegions().size(), 1u);
}

TEST_F(OpenGLPortalPixelTest, WalksThroughARingOfDoorwaysAndALongChainEnd)
{
    // Every doorway stands at the same place in its region, so the camera looks through all of
    // them at once: a ring of three regions (each behind the one before it, the third opening onto
    // the first again) and a chain of twelve. The walk neither loops round the ring nor follows the
    // chain past its depth limit.
    const Camera camera = LookAt(Vec3(0, 1, -10), Vec3(0, 1, 0));
    auto join = [&](Region* from, Region* to) {
        const UniqueId out = UniqueId::CreateUnique(), in = UniqueId::CreateUnique();
        MakeDoorway(from, out, to, in);
        MakeDoorway(to, in, from, out);
    };
    const ABBox box(Vec3(), Vec3(50.0f, 50.0f, 50.0f));
    Region* a = AddRegion(IntVec3(0, 0, 3000), box);
    Region* b = AddRegion(IntVec3(1000, 0, 3000), box);
    Region* c = AddRegion(IntVec3(2000, 0, 3000), box);
    join(a, b);
    join(b, c);
    join(c, a);
    {
        GraphicsPortalRenderer renderer(Canvas(), a, camera, View(), false);
        ASSERT_TRUE(Canvas().BeginFrame());
        renderer.Render();
        Canvas().EndFrame();
        // Both of the first region's doorways lead into the ring, one each way round: each way
        // draws the other two regions and stops before the first region again.
        const std::vector<Region*>& drawn = renderer.GetRenderedRegions();
        EXPECT_EQ(drawn.size(), 5u);
        EXPECT_EQ(std::count(drawn.begin(), drawn.end(), a), 1);
        EXPECT_EQ(std::count(drawn.begin(), drawn.end(), b), 2);
        EXPECT_EQ(std::count(drawn.begin(), drawn.end(), c), 2);
    }

    std::vector<Region*> chain;
    for (int i = 0; i < 12; ++i) {
        chain.push_back(AddRegion(IntVec3(1000 * i, 0, 6000), box));
        if (i > 0)
            join(chain[i - 1], chain[i]);
    }
    GraphicsPortalRenderer renderer(Canvas(), chain[0], camera, View(), false);
    ASSERT_TRUE(Canvas().BeginFrame());
    renderer.Render();
    Canvas().EndFrame();
    const std::vector<Region*>& drawn = renderer.GetRenderedRegions();
    ASSERT_GE(drawn.size(), 3u);
    EXPECT_LT(drawn.size(), chain.size()) << "the walk stops some doorways deep";
    EXPECT_LE(drawn.size(), static_cast<size_t>(GraphicsPortalRenderer::maxDepth) + 2u);
    for (size_t i = 0; i < drawn.size(); ++i)
        EXPECT_EQ(drawn[i], chain[i]) << "region " << i << " of the chain";
}

TEST_F(OpenGLPortalPixelTest, TheSampleCaveShowsItsOwnFloorWhileTheViewLooksOutThroughItsDoorway)
{
    // A cave and a field joined as the world generator joins them, each portal as its sample mesh
    // carries it: the cave's doorway cell turned half round (its opening at the cave's -z side) and
    // the entrance standing upright in the field. From inside, looking out with the target at the
    // doorway, the cave's floor and walls stay (the doorway once faced out of the cave, so the view
    // met it from behind and cut the cave away) and the field shows through the opening.
    auto toTriangles = [](const DataKit::MeshWriter& mesh) {
        std::vector<Triangle> triangles;
        for (const auto& corners : mesh.portals.at(0))
            triangles.emplace_back(corners[0], corners[1], corners[2]);
        return triangles;
    };
    const ABBox box(Vec3(), Vec3(50.0f, 50.0f, 50.0f));
    Region* field = AddRegion(IntVec3(0, 0, 4000), box);
    Region* cave = AddRegion(IntVec3(0, -256, 4000), box);
    const UniqueId outsideId = UniqueId::CreateUnique(), insideId = UniqueId::CreateUnique();
    Portal* entrance = field->CreatePortal();
    entrance->SetId(outsideId);
    entrance->SetTriangles(toTriangles(DataKit::SampleGridKit::MakeEntrance()));
    entrance->SetCoords(Coords());
    entrance->SetConnectedRegionId(cave->GetId());
    entrance->SetConnectedPortalId(insideId);
    Portal* doorway = cave->CreatePortal();
    doorway->SetId(insideId);
    doorway->SetTriangles(toTriangles(DataKit::SampleGridKit::MakeDoor()));
    const float half = DataKit::SampleGridKit::cellWidth * 0.5f;
    Coords cell = Coords::Rotation(Vec3(0, 1, 0), 3.14159265f); // the grid's cell frame, rotation 2
    cell.origin = Vec3(0, 0, half);
    doorway->SetCoords(cell);
    doorway->SetConnectedRegionId(field->GetId());
    doorway->SetConnectedPortalId(outsideId);

    const Color floor(0.6f, 0.4f, 0.2f, 1), wall(0.5f, 0.5f, 0.5f, 1);
    ASSERT_NE(AddBox(cave, unlit, Vec3(0, -0.5f, 10), Vec3(8, 0.5f, 10), floor), nullptr);
    ASSERT_NE(AddBox(cave, unlit, Vec3(-5, 3, -0.25f), Vec3(3.5f, 3, 0.25f), wall), nullptr);
    ASSERT_NE(AddBox(cave, unlit, Vec3(5, 3, -0.25f), Vec3(3.5f, 3, 0.25f), wall), nullptr);
    // The field: its ground on the entrance's front side, and a wall far out there.
    ASSERT_NE(AddBox(field, unlit, Vec3(0, -0.5f, 10), Vec3(30, 0.5f, 12), Color(0, 1, 0, 1)), nullptr);
    ASSERT_NE(AddBox(field, unlit, Vec3(0, 5, 20), Vec3(30, 10, 0.5f), kBehindWall), nullptr);

    const Camera camera = LookAt(Vec3(0, 3, 12), Vec3(0, 2, 0));
    GraphicsTransparencyManager manager;
    manager.SetFadeTime(0);
    manager.SetTargetPosition(WorldVec3(cave, Vec3(0, 1, 2)));
    GraphicsPortalRenderer renderer(Canvas(), cave, camera, View(), false);
    renderer.SetTransparencyManager(&manager);
    const Pixels image = DrawFrame(renderer);
    ASSERT_FALSE(image.pixels.empty());
    auto expect = [&](const Vec3& point, const Color& c, const char* what) {
        const auto [x, y] = PixelOf(camera, point);
        EXPECT_TRUE(NearRgb(image.At(x, y), Channel(c.r), Channel(c.g), Channel(c.b)))
            << what << ": " << Describe(image.At(x, y));
    };
    expect(Vec3(0, 0, 5), floor, "the cave's floor between the camera and the doorway");
    expect(Vec3(-3, 0, 4), floor, "the cave's floor near the doorway");
    expect(Vec3(-5, 4, 0), wall, "the cave's wall beside the doorway");
    expect(Vec3(0, 2.5f, -0.5f), kBehindWall, "the field through the opening");

    // In the opening, nearer its plane than the camera's near plane (0.5): the field fills the
    // view. Cut at the near plane, the opening once left the cave's dark beyond the doorway.
    const Camera close = LookAt(Vec3(0, 2.5f, 0.2f), Vec3(0, 2.5f, -5));
    GraphicsPortalRenderer atDoorway(Canvas(), cave, close, View(), false);
    atDoorway.SetTransparencyManager(&manager);
    const Pixels through = DrawFrame(atDoorway);
    ASSERT_FALSE(through.pixels.empty());
    EXPECT_TRUE(NearRgb(through.At(kWidth / 2, kHeight / 2), 0, 0, 255))
        << Describe(through.At(kWidth / 2, kHeight / 2));
    for (int y : {1, kHeight - 2})
        for (int x : {1, kWidth - 2}) {
            const Pixel& p = through.At(x, y);
            EXPECT_TRUE(NearRgb(p, 0, 0, 255) || NearRgb(p, 0, 255, 0))
                << x << ", " << y << ": " << Describe(p);
        }
}

TEST_F(OpenGLPortalPixelTest, SurfacesFarOffStayApartWhileTheCameraPassesADoorway)
{
    // A camera in a doorway's opening draws with its near plane brought in to the least there is
    // (0.01), with the library's far plane (750): a depth buffer whose steps grow with the square of
    // the distance over the near plane (a 24-bit one steps half a unit at 300 units then) gives a
    // panel 5 cm before another 200 to 400 units off the same depth, and the one drawn last shows.
    // Two pairs, the nearer panel the smaller in one and the larger in the other, each pair added in
    // its own order, so that whatever order the renderer draws them in, one pair has its farther
    // panel drawn last. Seen from 2 units off the doorway (the near plane left at 0.5) the view is
    // clean; it must be clean in the doorway too.
    ASSERT_TRUE(ready);
    const ABBox box(Vec3(), Vec3(400.0f, 400.0f, 400.0f));
    Region* hall = AddRegion(IntVec3(0, 0, 12000), box);
    Region* room = AddRegion(IntVec3(0, 0, 13000), box);
    MakeDoorway(hall, UniqueId::CreateUnique(), room, UniqueId::CreateUnique());
    struct Pair
    {
        float x;
        Vec3 nearHalf, farHalf;
        Color nearColor;
        bool nearFirst;
    };
    const Color yellow(1, 1, 0, 1);
    const Pair pairs[] = {{130, Vec3(40, 40, 0.5f), Vec3(60, 60, 0.5f), yellow, true},
                          {300, Vec3(60, 60, 0.5f), Vec3(40, 40, 0.5f), kBehindWall, false}};
    for (const Pair& pair : pairs) {
        // Front faces at z 199.45 (nearer) and 199.5.
        const Color farColor = pair.nearColor == yellow ? kBehindWall : yellow;
        for (int i = 0; i < 2; ++i) {
            if ((i == 0) == pair.nearFirst)
                ASSERT_NE(AddBox(hall, unlit, Vec3(pair.x, 10, 199.95f), pair.nearHalf, pair.nearColor),
                          nullptr);
            else
                ASSERT_NE(AddBox(hall, unlit, Vec3(pair.x, 10, 200), pair.farHalf, farColor), nullptr);
        }
    }
    for (const float off : {2.0f, 0.005f}) {
        // Looking away from the doorway (at its plane, the doorway behind the camera) and across
        // the panels, so that their depth changes along the picture.
        Camera camera = LookAt(Vec3(0, 1, off), Vec3(1, 1, 1 + off));
        camera.SetFarPlane(750.0f);
        GraphicsPortalRenderer renderer(Canvas(), hall, camera, View(), false);
        const Pixels image = DrawFrame(renderer);
        ASSERT_FALSE(image.pixels.empty());
        for (const Pair& pair : pairs) {
            // Where both panels lie, a pixel in from the smaller one's edges.
            const float reach = std::min(pair.nearHalf.x, pair.farHalf.x) - 3.0f;
            int both = 0, farShows = 0;
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x) {
                    const Ray ray = camera.GetRayThroughImagePoint(
                        Vec2((x + 0.5f) / kWidth, (y + 0.5f) / kHeight), View());
                    const float along = (199.45f - ray.origin.z) / ray.direction.z;
                    const Vec3 p = ray.origin + ray.direction * along;
                    if (!(along > 0.0f) || std::fabs(p.x - pair.x) > reach || std::fabs(p.y - 10) > reach)
                        continue;
                    ++both;
                    farShows += !NearRgb(image.At(x, y), Channel(pair.nearColor.r), Channel(pair.nearColor.g),
                                         Channel(pair.nearColor.b));
                }
            ASSERT_GT(both, 60) << "the pair at x " << pair.x << " is in view";
            EXPECT_EQ(farShows, 0) << "the camera " << off << " off the doorway: " << farShows << " of "
                                   << both << " pixels of the nearer panel at x " << pair.x
                                   << " show the farther one";
        }
    }
}

using OpenGLRegionSeamTest = OpenGLSceneFixture;

TEST_F(OpenGLRegionSeamTest, NeighbouringRegionsMeetWithoutAGapWhereverTheCameraStands)
{
    // Four regions of 16 units side by side, two by two as the world's fields lie, each with a
    // ground slab of its own colour filling its box. Seen from each of them in turn, every
    // point of the ground shows its own region's colour: each neighbour stands on its own side,
    // none is missing and no background shows along the borders.
    ASSERT_TRUE(ready);
    const ABBox box(Vec3(8, 0, 8), Vec3(8, 8, 8));
    struct Field
    {
        Vec3 offset;
        Color color;
        Region* region = nullptr;
    };
    Field fields[4] = {{Vec3(0, 0, 0), Color(1, 0, 0, 1)},
                       {Vec3(16, 0, 0), Color(0, 1, 0, 1)},
                       {Vec3(0, 0, 16), Color(0, 0, 1, 1)},
                       {Vec3(16, 0, 16), Color(1, 1, 0, 1)}};
    for (Field& field : fields) {
        field.region =
            AddRegion(IntVec3(static_cast<int>(field.offset.x), 0, static_cast<int>(field.offset.z)), box);
        ASSERT_NE(AddBox(field.region, unlit, Vec3(8, -0.5f, 8), Vec3(8, 0.5f, 8), field.color), nullptr);
    }
    for (const Field& root : fields) {
        SCOPED_TRACE(root.region->GetName());
        // Over the middle of the four, in the root's own space.
        const Vec3 middle = Vec3(16, 0, 16) - root.offset;
        const Camera camera = LookAt(middle + Vec3(0, 24, -10), middle);
        GraphicsPortalRenderer renderer(Canvas(), root.region, camera, View(), false);
        const Pixels image = DrawFrame(renderer);
        ASSERT_FALSE(image.pixels.empty());
        int checked = 0, wrong = 0;
        std::string first;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                // The ground point in world space (the world's origin is the first field's).
                const Vec3 p = FloorPoint(camera, x, y, 0.0f) + root.offset;
                const float fx = p.x - 16.0f * std::floor(p.x / 16.0f);
                const float fz = p.z - 16.0f * std::floor(p.z / 16.0f);
                // Pixels right on a border or on the ground's outer edge may show either side.
                if (p.x < 0.3f || p.x > 31.7f || p.z < 0.3f || p.z > 31.7f || fx < 0.3f || fx > 15.7f ||
                    fz < 0.3f || fz > 15.7f)
                    continue;
                const Color& c = fields[(p.x < 16.0f ? 0 : 1) + (p.z < 16.0f ? 0 : 2)].color;
                ++checked;
                if (!NearRgb(image.At(x, y), Channel(c.r), Channel(c.g), Channel(c.b))) {
                    if (wrong++ == 0)
                        first = "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") at ground (" +
                                std::to_string(p.x) + ", " + std::to_string(p.z) +
                                "): " + Describe(image.At(x, y));
                }
            }
        EXPECT_GT(checked, kWidth * kHeight / 2) << "the view takes in the four fields";
        EXPECT_EQ(wrong, 0) << "of " << checked << " ground pixels; the first " << first;
    }
}

} // namespace
} // namespace GAME::ScenePixelTest
