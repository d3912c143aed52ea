// The editor aids: the visibility filter over real entities of the object manager, the FFD
// gizmo's shader parameters as the device receives them, and the transform gizmo's picking,
// snapping and dragging through a camera.
#include "GraphicsFixtures.h"
#include "common/RecordServices.h"

#include "core/ABBox.h"
#include "core/ObjectManager.h"
#include "datakit/ArzWriter.h"
#include "datakit/ShaderWriter.h"
#include "graphics/DebugRenderManager.h"
#include "graphics/EditorFilter.h"
#include "graphics/FFDGizmo.h"
#include "graphics/TransformGizmo.h"
#include "scene/Camera.h"
#include "world/Entity.h"

#include <cmath>
#include <gtest/gtest.h>

namespace GAME {
namespace {

using Test::FrameClock;
using Test::GraphicsFixture;

// ---------------------------------------------------------------------------------------------
// Editor filter

class EditorFilterEntitiesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DataKit::ArzWriter writer(true);
        writer.AddRecord("records/prop.dbr").String("Class", "Entity");
        writer.AddRecord("records/plain.dbr").String("Class", "Object");
        ASSERT_TRUE(records.Load(writer.Build()));
        filter = EditorFilter::Get();
    }
    void TearDown() override
    {
        EditorFilter::Destroy();
        for (Object* object : made)
            ObjectManager::Get()->DestroyObjectEx(object, __FILE__, __LINE__);
        ObjectManager::Get()->DestroyPendingObjects(1000);
    }
    Entity* MakeEntity()
    {
        Entity* entity = ObjectManager::Get()->CreateObjectFromFileAs<Entity>("records/prop.dbr");
        EXPECT_NE(entity, nullptr);
        if (entity)
            made.push_back(entity);
        return entity;
    }
    // A pass that applies: more than the interval after the last one.
    void SyncLater()
    {
        clock.Advance(EditorFilter::syncIntervalMs);
        filter->Sync();
    }

    FrameClock clock;
    GAME::Test::RecordServices records;
    EditorFilter* filter = nullptr;
    std::vector<Object*> made;
};

TEST_F(EditorFilterEntitiesTest, SwitchesHideAndShowRegisteredEntitiesAtMostOnceEvery501Milliseconds)
{
    Entity* prop = MakeEntity();
    Entity* light = MakeEntity();
    Object* plain = ObjectManager::Get()->CreateObjectFromFile("records/plain.dbr");
    ASSERT_TRUE(prop && light && plain);
    made.push_back(plain);
    const unsigned int gone = 0x0FFFFFF0u; // no object has this id
    filter->AddFilterObject(prop->GetObjectId(), EditorFilter::FILTER_TYPE_PROP);
    filter->AddFilterObject(light->GetObjectId(), EditorFilter::FILTER_TYPE_LIGHT);
    filter->AddFilterObject(plain->GetObjectId(), EditorFilter::FILTER_TYPE_PROP);
    filter->AddFilterObject(gone, EditorFilter::FILTER_TYPE_PROP);

    filter->SetFilter(EditorFilter::FILTER_TYPE_PROP, true);
    clock.Advance(200);
    filter->Sync();
    clock.Advance(300); // 500 since the filter was made: still too soon
    filter->Sync();
    EXPECT_TRUE(prop->GetVisibility());
    EXPECT_FALSE(filter->IsObjectFiltered(prop->GetObjectId()));

    clock.Advance(1);
    filter->Sync();
    EXPECT_FALSE(prop->GetVisibility());
    EXPECT_TRUE(light->GetVisibility()) << "another type's switch is off";
    EXPECT_TRUE(filter->IsObjectFiltered(prop->GetObjectId()));
    EXPECT_TRUE(filter->IsObjectFiltered(plain->GetObjectId())) << "not an entity, yet the state is applied";
    EXPECT_TRUE(filter->IsObjectFiltered(gone)) << "the object is gone, yet the state is applied";

    // Switched off again: shown at the next applying pass, not at one 200 ms later.
    filter->SetFilter(EditorFilter::FILTER_TYPE_PROP, false);
    clock.Advance(200);
    filter->Sync();
    EXPECT_FALSE(prop->GetVisibility());
    clock.Advance(301);
    filter->Sync();
    EXPECT_TRUE(prop->GetVisibility());
    EXPECT_FALSE(filter->IsObjectFiltered(prop->GetObjectId()));

    // The filter only changes what it applied: an entity hidden by someone else stays hidden.
    light->SetVisibility(false);
    SyncLater();
    EXPECT_FALSE(light->GetVisibility());
}

TEST_F(EditorFilterEntitiesTest, AllNoneReregisteringAndRemoval)
{
    Entity* a = MakeEntity();
    Entity* b = MakeEntity();
    Entity* stray = MakeEntity();
    ASSERT_TRUE(a && b && stray);
    EXPECT_TRUE(filter->GetFilterNone());
    EXPECT_FALSE(filter->GetFilterAll());

    filter->AddFilterObject(a->GetObjectId(), EditorFilter::FILTER_TYPE_ACTOR);
    filter->AddFilterObject(b->GetObjectId(), EditorFilter::FILTER_TYPE_TRIGGER);
    filter->AddFilterObject(stray->GetObjectId(), 99); // a type the filter has no switch for
    filter->SetFilterAll();
    EXPECT_TRUE(filter->GetFilterAll());
    EXPECT_FALSE(filter->GetFilterNone());
    SyncLater();
    EXPECT_FALSE(a->GetVisibility());
    EXPECT_FALSE(b->GetVisibility());
    EXPECT_TRUE(stray->GetVisibility());
    EXPECT_FALSE(filter->IsObjectFiltered(stray->GetObjectId()));

    // Registered again under a type that is on: one entry, nothing applied yet, so the next pass
    // hides it again (it reaches the entity even though the entity is already hidden).
    filter->AddFilterObject(a->GetObjectId(), EditorFilter::FILTER_TYPE_LIGHT);
    EXPECT_FALSE(filter->IsObjectFiltered(a->GetObjectId()));
    a->SetVisibility(true);
    SyncLater();
    EXPECT_FALSE(a->GetVisibility());
    EXPECT_TRUE(filter->IsObjectFiltered(a->GetObjectId()));

    // Some on, some off: neither all nor none.
    filter->SetFilter(EditorFilter::FILTER_TYPE_TRIGGER, false);
    EXPECT_FALSE(filter->GetFilterAll());
    EXPECT_FALSE(filter->GetFilterNone());

    // A removed object is no longer touched.
    filter->RemoveFilterObject(a->GetObjectId());
    EXPECT_FALSE(filter->IsObjectFiltered(a->GetObjectId()));
    filter->SetFilterNone();
    EXPECT_TRUE(filter->GetFilterNone());
    SyncLater();
    EXPECT_FALSE(a->GetVisibility());
    EXPECT_TRUE(b->GetVisibility());

    filter->AddFilterObject(0, EditorFilter::FILTER_TYPE_ACTOR); // ignored
    EXPECT_FALSE(filter->IsObjectFiltered(0));
}

// ---------------------------------------------------------------------------------------------
// FFD gizmo

// Vertex registers of the test shader: exponent, phase, amplitude, then the eight base points and
// the eight deltas, one register each.
constexpr uint32_t kExponentRegister = 0;
constexpr uint32_t kPhaseRegister = 1;
constexpr uint32_t kAmplitudeRegister = 2;
constexpr uint32_t kBaseRegister = 3;
constexpr uint32_t kDeltaRegister = 11;

std::vector<uint8_t> FFDShader()
{
    using S = GraphicsShader2;
    DataKit::ShaderWriter writer;
    for (const char* generation : {"GeForce6", "GeForce3"}) {
        DataKit::ShaderWriter::Section& s = writer.AddSection(generation);
        const uint32_t exponent = s.Parameter("ffdExponent", S::TYPE_FLOAT);
        const uint32_t phase = s.Parameter("ffdIdleFrequency", S::TYPE_FLOAT);
        const uint32_t amplitude = s.Parameter("ffdIdleAmplitude", S::TYPE_FLOAT);
        const uint32_t base = s.Parameter("FFDBase", S::TYPE_FLOAT3, 8);
        const uint32_t delta = s.Parameter("FFDDelta", S::TYPE_FLOAT3, 8);
        const uint32_t program =
            s.VertexProgram("ffd vertex program", {{kExponentRegister, 1, false, exponent},
                                                   {kPhaseRegister, 1, false, phase},
                                                   {kAmplitudeRegister, 1, false, amplitude},
                                                   {kBaseRegister, 8, false, base},
                                                   {kDeltaRegister, 8, false, delta}});
        s.Style("normal", 0).StateFromValue(S::STATE_VERTEX_SHADER, program);
    }
    return writer.Write();
}

class FFDGizmoTest : public GraphicsFixture
{
protected:
    void SetUp() override
    {
        Start();
        shader = LoadShader("shaders/ffd.ssh", FFDShader());
        ASSERT_NE(shader, nullptr);
        ASSERT_EQ(shader->GetInitResult(), Resource::INIT_SUCCESS);
        ASSERT_TRUE(shader->Begin(0));
    }
    void TearDown() override
    {
        if (shader) {
            shader->End();
            engine->UnloadShader2(shader);
        }
        GraphicsFixture::TearDown();
    }
    // What the device holds after the shader pushed its state.
    std::vector<float> Push()
    {
        shader->Render();
        return Control()->GetVertexShaderConstants();
    }
    static Vec3 At(const std::vector<float>& constants, uint32_t reg)
    {
        return Vec3(constants[reg * 4], constants[reg * 4 + 1], constants[reg * 4 + 2]);
    }

    GraphicsShader2* shader = nullptr;
};

TEST_F(FFDGizmoTest, DefaultBoxDeltasAndTheWobblePhaseReachTheShader)
{
    FFDGizmo gizmo;
    const ABBox box(Vec3(1.0f, 2.0f, 3.0f), Vec3(0.5f, 1.0f, 2.0f));
    gizmo.SetFFDDefault(box);
    gizmo.SetShaderParameters(shader, 90);
    std::vector<float> c = Push();
    EXPECT_EQ(c[kExponentRegister * 4], 6.0f);
    EXPECT_NEAR(c[kPhaseRegister * 4], 0.05f, 1e-6f) << "90 ms: 0.01 x (1 + 20 x 0.2)";
    EXPECT_FLOAT_EQ(c[kAmplitudeRegister * 4], 0.2f);
    const std::array<Vec3, 8> corners = box.GetCorners();
    for (uint32_t i = 0; i < 8; ++i) {
        EXPECT_EQ(At(c, kBaseRegister + i), corners[i]) << i;
        EXPECT_EQ(At(c, kDeltaRegister + i), Vec3()) << i;
    }

    // One corner dragged up; the phase runs on from where it was, faster with a frequency.
    gizmo.OffsetFFDControlPoint(3, Vec3(0.0f, 1.0f, 0.0f));
    gizmo.SetFFDFrequency(0.3f);
    gizmo.SetFFDAmplitude(0.7f);
    gizmo.SetShaderParameters(shader, 90);
    c = Push();
    EXPECT_NEAR(c[kPhaseRegister * 4], 0.05f + 0.01f * (1.0f + 20.0f * 0.5f), 1e-5f);
    EXPECT_FLOAT_EQ(c[kAmplitudeRegister * 4], 0.7f);
    for (uint32_t i = 0; i < 8; ++i)
        EXPECT_EQ(At(c, kDeltaRegister + i), i == 3 ? Vec3(0.0f, 1.0f, 0.0f) : Vec3()) << i;
}

TEST_F(FFDGizmoTest, CornerIndicesOutsideTheBoxAreRefused)
{
    FFDGizmo gizmo;
    gizmo.SetFFDDefault(ABBox(Vec3(), Vec3(1.0f, 1.0f, 1.0f)));
    gizmo.SetFFDControlPoint(8, Vec3(9.0f, 9.0f, 9.0f));
    gizmo.SetFFDBasePoint(-1, Vec3(9.0f, 9.0f, 9.0f));
    gizmo.OffsetFFDControlPoint(1000000, Vec3(9.0f, 9.0f, 9.0f));
    EXPECT_EQ(gizmo.GetFFDControlPoint(8), Vec3());
    EXPECT_EQ(gizmo.GetFFDBasePoint(-5), Vec3());
    EXPECT_TRUE(log.Contains("corner 8"));
    EXPECT_TRUE(log.Contains("corner 1000000"));

    // Nothing of it reached the eight corners.
    gizmo.SetShaderParameters(shader, 0);
    const std::vector<float> c = Push();
    for (uint32_t i = 0; i < 8; ++i)
        EXPECT_EQ(At(c, kDeltaRegister + i), Vec3()) << i;
    gizmo.SetFFDControlPoint(7, Vec3(5.0f, 5.0f, 5.0f));
    EXPECT_EQ(gizmo.GetFFDControlPoint(7), Vec3(5.0f, 5.0f, 5.0f));
}

TEST_F(FFDGizmoTest, DebugBoxesQueueTwelveEdgesEach)
{
    FFDGizmo gizmo;
    gizmo.SetFFDDefault(ABBox(Vec3(), Vec3(1.0f, 1.0f, 1.0f)));
    DebugRenderManager* debug = DebugRenderManager::Get();
    const size_t before = debug->GetNumQueuedCommands();
    gizmo.RenderDebugFFD();
    EXPECT_EQ(debug->GetNumQueuedCommands(), before + 24);
    DebugRenderManager::Destroy(); // drops what this test queued
}

// ---------------------------------------------------------------------------------------------
// Transform gizmo

class TransformGizmoTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // From 10 units in front of the origin, looking along +Z (screen left is +X).
        camera.SetCoords(Coords::Translation(Vec3(0.0f, 0.0f, -10.0f)));
        gizmo.SetSize(2.0f);
    }
    // The normalised image point of a position.
    Vec2 Image(const Vec3& p) const { return camera.ProjectToImageSpace(p, viewport); }
    bool Press(const Vec2& at) { return gizmo.HandleMouseButton(camera, viewport, 0, 1, at); }
    bool Release(const Vec2& at) { return gizmo.HandleMouseButton(camera, viewport, 0, 0, at); }
    bool Move(const Vec2& at) { return gizmo.HandleMouseMove(camera, viewport, at); }

    Camera camera;
    Viewport viewport{0, 0, 640, 480};
    TransformGizmo gizmo;
};

TEST_F(TransformGizmoTest, SnapToGridRoundsOnlyWithEverySpacingSet)
{
    gizmo.SetGridSpacing(Vec3(0.5f, 0.5f, 0.5f));
    EXPECT_EQ(gizmo.SnapToGrid(Vec3(0.74f, -0.74f, 0.26f)), Vec3(0.5f, -0.5f, 0.5f));
    gizmo.SetGridSpacing(Vec3(1.0f, 1.0f, 0.0f));
    EXPECT_EQ(gizmo.SnapToGrid(Vec3(0.74f, -0.74f, 0.26f)), Vec3(0.74f, -0.74f, 0.26f));
}

TEST_F(TransformGizmoTest, TranslateDragMovesTheOriginBySnappedOffsetsAlongThePickedAxis)
{
    gizmo.SetCoords(Coords::Translation(Vec3(0.0f, 0.0f, 0.0f)));
    gizmo.SetGridSpacing(Vec3(0.5f, 0.5f, 0.5f));
    const Vec2 onX = Image(Vec3(1.0f, 0.0f, 0.0f));

    EXPECT_TRUE(Move(onX)) << "hovering the x arrow";
    EXPECT_TRUE(gizmo.IsAxisSelected(0));
    EXPECT_FALSE(gizmo.IsAxisSelected(1));
    ASSERT_TRUE(Press(onX));
    ASSERT_TRUE(gizmo.IsDragging());

    // The mouse follows the arrow by 0.74 units (and strays across it, which does not count).
    const Vec2 target = Image(Vec3(1.74f, 0.0f, 0.0f)) + Vec2(0.0f, 0.02f);
    EXPECT_TRUE(Move(target));
    EXPECT_NEAR(gizmo.GetCoords().origin.x, 0.5f, 1e-5f);
    EXPECT_NEAR(gizmo.GetCoords().origin.y, 0.0f, 1e-5f);
    EXPECT_NEAR(gizmo.GetCoords().origin.z, 0.0f, 1e-5f);

    // Without a full grid the offset is used as it is; each move starts again from the press.
    gizmo.SetGridSpacing(Vec3(1.0f, 1.0f, 0.0f));
    EXPECT_TRUE(Move(target));
    EXPECT_NEAR(gizmo.GetCoords().origin.x, 0.74f, 1e-3f);
    EXPECT_TRUE(Move(onX));
    EXPECT_NEAR(gizmo.GetCoords().origin.x, 0.0f, 1e-4f);

    EXPECT_TRUE(Release(target));
    EXPECT_FALSE(gizmo.IsDragging());
}

TEST_F(TransformGizmoTest, PressesAwayFromTheHandlesAndOtherButtonsAreNotUsed)
{
    const Vec2 away(0.05f, 0.9f);
    EXPECT_FALSE(Move(away));
    EXPECT_FALSE(Press(away));
    EXPECT_FALSE(gizmo.IsDragging());
    EXPECT_TRUE(Release(away)) << "a release of button 0 is always used";

    const Vec2 onY = Image(Vec3(0.0f, 1.0f, 0.0f));
    EXPECT_FALSE(gizmo.HandleMouseButton(camera, viewport, 1, 1, onY));
    EXPECT_FALSE(gizmo.HandleMouseButton(camera, viewport, 0, 2, onY));
    EXPECT_FALSE(gizmo.IsDragging());

    // The z arrow points straight away from the camera: it is still picked at the origin.
    EXPECT_TRUE(Press(Image(Vec3()) + Vec2(5.0f / 640.0f, 0.0f)));
    EXPECT_TRUE(gizmo.IsAxisSelected(2));

    // A new mode ends the drag.
    gizmo.SetMode(TransformGizmo::MODE_ROTATE);
    EXPECT_FALSE(gizmo.IsDragging());
}

TEST_F(TransformGizmoTest, RotatePickingRefusesTiesAndTheGrabPointFollowsTheMouse)
{
    gizmo.SetMode(TransformGizmo::MODE_ROTATE);
    // The x and y circles are seen edge-on and cross at the centre of the picture.
    EXPECT_FALSE(Move(Image(Vec3())));
    EXPECT_FALSE(Press(Image(Vec3())));
    for (int axis = 0; axis < 3; ++axis)
        EXPECT_FALSE(gizmo.IsAxisSelected(axis));

    // Seen from +x the x circle faces the camera; grab it at a point up and to the left.
    Coords side;
    side.xAxis = Vec3(0.0f, 0.0f, 1.0f);
    side.zAxis = Vec3(-1.0f, 0.0f, 0.0f);
    side.origin = Vec3(10.0f, 0.0f, 0.0f);
    camera.SetCoords(side);
    const float t = 5.0f * 6.2831853f / 31.0f;
    const Vec3 onX(0.0f, 2.0f * std::cos(t), 2.0f * std::sin(t));
    ASSERT_TRUE(Press(Image(onX)));
    EXPECT_TRUE(gizmo.IsAxisSelected(0));
    EXPECT_FALSE(gizmo.IsAxisSelected(1));
    EXPECT_FALSE(gizmo.IsAxisSelected(2));

    // Dragged upward on screen: the grab point turns about the x axis toward the mouse.
    EXPECT_TRUE(Move(Image(onX) + Vec2(0.0f, -0.03f)));
    EXPECT_NE(gizmo.GetAngle(), 0.0f);
    const Coords& turned = gizmo.GetCoords();
    EXPECT_EQ(turned.origin, Vec3());
    EXPECT_NEAR(turned.xAxis.x, 1.0f, 1e-6f);
    const Vec3 moved = turned.TransformPoint(onX);
    EXPECT_GT(moved.y, onX.y + 0.05f) << "the grab point must move up with the mouse";

    // Back where the press was: no turn.
    EXPECT_TRUE(Move(Image(onX)));
    EXPECT_NEAR(gizmo.GetAngle(), 0.0f, 1e-3f);
}

TEST_F(TransformGizmoTest, RotatingFromTheNegativeSideOfThePlaneStillFollowsTheMouse)
{
    // The camera looks at the z circle from the side its axis points away from.
    gizmo.SetMode(TransformGizmo::MODE_ROTATE);
    const float t = 13.0f * 6.2831853f / 31.0f;
    const Vec3 onZ(2.0f * std::cos(t), 2.0f * std::sin(t), 0.0f);
    ASSERT_GT(Image(onZ).x, 0.5f); // right of the centre, above it
    ASSERT_TRUE(Press(Image(onZ)));
    ASSERT_TRUE(gizmo.IsAxisSelected(2));
    EXPECT_FALSE(gizmo.IsAxisSelected(0));
    EXPECT_FALSE(gizmo.IsAxisSelected(1));

    EXPECT_TRUE(Move(Image(onZ) + Vec2(0.0f, 0.05f)));
    const Vec3 moved = gizmo.GetCoords().TransformPoint(onZ);
    EXPECT_LT(moved.y, onZ.y - 0.1f) << "the grab point must move down with the mouse";
    EXPECT_NEAR(moved.Length(), onZ.Length(), 1e-4f);
}

TEST(TransformGizmoLines, ClosestPointsOfTwoLines)
{
    Vec3 pa, pb;
    float mua = 0.0f, mub = 0.0f;
    // The x axis and a line along z through (2, 1, 0).
    ASSERT_TRUE(TransformGizmo::GetLineLineClosestPoints(
        Vec3(), Vec3(1.0f, 0.0f, 0.0f), Vec3(2.0f, 1.0f, 0.0f), Vec3(2.0f, 1.0f, 1.0f), pa, pb, mua, mub));
    EXPECT_NEAR(mua, 2.0f, 1e-6f);
    EXPECT_NEAR(mub, 0.0f, 1e-6f);
    EXPECT_EQ(pa, Vec3(2.0f, 0.0f, 0.0f));
    EXPECT_EQ(pb, Vec3(2.0f, 1.0f, 0.0f));
    // Parallel lines and a line of no length have no answer.
    EXPECT_FALSE(TransformGizmo::GetLineLineClosestPoints(
        Vec3(), Vec3(1.0f, 0.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f), Vec3(1.0f, 1.0f, 0.0f), pa, pb, mua, mub));
    EXPECT_FALSE(TransformGizmo::GetLineLineClosestPoints(Vec3(), Vec3(0.00005f, 0.0f, 0.0f),
                                                          Vec3(0.0f, 1.0f, 0.0f), Vec3(0.0f, 1.0f, 1.0f), pa,
                                                          pb, mua, mub));
}

} // namespace
} // namespace GAME
