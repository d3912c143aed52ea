// Plugs on their own: outlines, their file form, the triangle limit, boxes and passes.
#include "TerrainFixtures.h"

#include "common/LogCapture.h"
#include "data/BinaryWriter.h"
#include "terrain/TerrainPlug.h"
#include "terrain/TerrainRenderInterfaceBase.h"

#include <cstring>
#include <limits>

namespace GAME {
namespace {

TerrainPlug::Vertex V(float x, float y, float h)
{
    TerrainPlug::Vertex v;
    v.position = Vec3(x, y, h);
    v.normal = Vec3(0.0f, 1.0f, 0.0f);
    return v;
}

TEST(TerrainPlugTest, BoundaryEdgesAreTheEdgesNoTriangleShares)
{
    TerrainPlug plug;
    // Two triangles sharing the diagonal of a unit square: four outline edges, not the diagonal.
    ASSERT_TRUE(plug.AddTriangle({{V(1, 1, 0), V(0, 1, 0), V(0, 0, 0)}}));
    ASSERT_TRUE(plug.AddTriangle({{V(0, 0, 0), V(1, 0, 0), V(1, 1, 0)}}));
    plug.ComputeBoundaryEdges();
    const auto& edges = plug.GetBoundaryEdges();
    ASSERT_EQ(edges.size(), 4u);
    for (const TerrainPlug::Edge& edge : edges) {
        const bool diagonal =
            (edge.first.position == Vec3(0, 0, 0) && edge.second.position == Vec3(1, 1, 0)) ||
            (edge.first.position == Vec3(1, 1, 0) && edge.second.position == Vec3(0, 0, 0));
        EXPECT_FALSE(diagonal);
    }
    // A third triangle on an outline edge hides it and adds two.
    ASSERT_TRUE(plug.AddTriangle({{V(0, 1, 0), V(1, 1, 0), V(0.5f, 2, 0)}}));
    plug.ComputeBoundaryEdges();
    EXPECT_EQ(plug.GetBoundaryEdges().size(), 5u);
    // The order of edges by their end points.
    EXPECT_TRUE(IsEdgeLess(Vec3(0, 5, 5), Vec3(1, 0, 0)));
    EXPECT_TRUE(IsEdgeLess(Vec3(1, 0, 5), Vec3(1, 1, 0)));
    EXPECT_FALSE(IsEdgeLess(Vec3(1, 1, 1), Vec3(1, 1, 1)));
}

TEST(TerrainPlugTest, WriteAndReadRoundTripAndRefuseBadRecords)
{
    GAME::Test::LogCapture log;
    TerrainPlug plug;
    ASSERT_TRUE(plug.AddTriangle({{V(2, 3, 1.5f), V(1, 3, 1.0f), V(1, 2, 0.5f)}}));
    ASSERT_TRUE(plug.AddTriangle({{V(1, 2, 0.5f), V(2, 2, 0.75f), V(2, 3, 1.5f)}}));
    BinaryWriter writer(256);
    plug.Write(writer);
    // T, 2 x 3 vertices of 24 bytes, L (0 layers).
    ASSERT_EQ(writer.GetSize(), 4u + 2 * 72 + 4);

    TerrainPlug back;
    BinaryReader reader(writer.GetBuffer(), writer.GetSize());
    ASSERT_TRUE(back.Read(reader));
    ASSERT_EQ(back.GetNumTriangles(), 2u);
    EXPECT_EQ(std::memcmp(&back.GetTriangle(0), &plug.GetTriangle(0), 2 * sizeof(TerrainPlug::Triangle)), 0);

    // Box in region space: (X, Z, Y) of the terrain-space positions.
    back.UpdateBoundingBox();
    EXPECT_EQ(back.GetBoundingBox(), ABBox::FromMinMax(Vec3(1, 0.5f, 2), Vec3(2, 1.5f, 3)));
    // Without triangles: the small box at 0.1, no buffers, no hit.
    TerrainPlug empty;
    empty.CreateRenderData();
    EXPECT_EQ(empty.GetBoundingBox(), ABBox(Vec3(0.1f, 0.1f, 0.1f), Vec3(0.1f, 0.1f, 0.1f)));
    EXPECT_EQ(empty.GetVertexBuffer(), nullptr);
    EXPECT_EQ(empty.GetIndexBuffer(), nullptr);

    // Cut short anywhere: refused.
    for (unsigned size = 0; size < writer.GetSize(); ++size) {
        BinaryReader cut(writer.GetBuffer(), size);
        TerrainPlug bad;
        EXPECT_FALSE(bad.Read(cut)) << size;
    }
    // More triangles than 16-bit indices reach.
    BinaryWriter many(64);
    many.WriteUInt32(TerrainPlug::maxTriangles + 1);
    BinaryReader manyReader(many.GetBuffer(), many.GetSize());
    TerrainPlug refused;
    EXPECT_FALSE(refused.Read(manyReader));
    EXPECT_TRUE(log.Contains("21846 triangles", 1));
    // Triangles past the limit are not added either.
    TerrainPlug full;
    for (uint32_t i = 0; i < TerrainPlug::maxTriangles; ++i)
        ASSERT_TRUE(full.AddTriangle({{V(0, 0, 0), V(1, 0, 0), V(1, 1, 0)}}));
    EXPECT_FALSE(full.AddTriangle({{V(0, 0, 0), V(1, 0, 0), V(1, 1, 0)}}));
    EXPECT_FALSE(
        plug.AddTriangle({{V(0, 0, std::numeric_limits<float>::quiet_NaN()), V(1, 0, 0), V(1, 1, 0)}}));
}

TEST(TerrainPlugTest, PassesLayersAndTextureOffsets)
{
    DataKit::TerrainWriter writer(9, 9);
    writer.plugs.push_back(TerrainTest::CellPlug(writer, 1, 1, 0.0f));
    writer.plugs.back().layers = {0, 2, 5};
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(TerrainTest::LoadWriter(terrain, writer));
    std::vector<TerrainObject*> objects;
    terrain.GetAllObjects(objects);
    TerrainPlug* plug = nullptr;
    for (TerrainObject* object : objects)
        if (object->GetClassInfo().IsA(TerrainPlug::classInfo))
            plug = static_cast<TerrainPlug*>(object);
    ASSERT_NE(plug, nullptr);
    const Name ambient = Name::Create("ambientLightStyle");
    const Name reflection = Name::Create("reflectionStyle");
    const Name fog = Name::Create("fogStyle");
    EXPECT_EQ(plug->GetNumRenderPasses(ambient, RENDER_GENERATION_UNKNOWN), 4);
    EXPECT_EQ(plug->GetNumRenderPasses(reflection, RENDER_GENERATION_UNKNOWN), 3);
    EXPECT_EQ(plug->GetRenderPassSortOrder(0, ambient, RENDER_GENERATION_UNKNOWN), -1);
    EXPECT_EQ(plug->GetRenderPassSortOrder(2, ambient, RENDER_GENERATION_UNKNOWN), 3);
    // Outside reflections pass 0 is solid and passes 1.. draw the layers from the last.
    EXPECT_EQ(plug->GetPassLayer(0, ambient), -1);
    EXPECT_EQ(plug->GetPassLayer(1, ambient), 5);
    EXPECT_EQ(plug->GetPassLayer(3, ambient), 0);
    EXPECT_EQ(plug->GetPassLayer(2, reflection), 5);
    EXPECT_EQ(plug->GetShaderStyle(0, ambient, RENDER_GENERATION_UNKNOWN), Name::Create("depthStyle"));
    EXPECT_EQ(plug->GetShaderStyle(0, fog, RENDER_GENERATION_UNKNOWN), fog);
    EXPECT_EQ(plug->GetShaderStyle(1, fog, RENDER_GENERATION_UNKNOWN), Name::Create("None"));
    EXPECT_EQ(plug->GetShaderStyle(1, ambient, RENDER_GENERATION_UNKNOWN), ambient);
    // A region offset by (25, 0, -7) shifts the layer textures by (0.5, -0.7).
    const Vec2 offset = TerrainRenderInterfaceBase::GetTextureOffset(IntVec3(25, 0, -7));
    EXPECT_FLOAT_EQ(offset.x, 0.5f);
    EXPECT_FLOAT_EQ(offset.y, -0.7f);
    const Vec2 west = TerrainRenderInterfaceBase::GetTextureOffset(IntVec3(-13, 4, 0));
    EXPECT_FLOAT_EQ(west.x, -0.3f);
    EXPECT_FLOAT_EQ(west.y, 0.0f);
    // The plug's layers follow its box when the terrain's layers change.
    plug->OnLayersChanged();
    EXPECT_TRUE(plug->GetLayers().empty());
}

} // namespace
} // namespace GAME
