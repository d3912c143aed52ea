// The run-time terrain's device data and render interface, recorded through the software device:
// ground vertices and grass indices, index lists of visible cells, layers drawn in order, passes
// and styles, plugs' buffers, and layer textures made again after a device reset; the editor
// terrain's ground, which both forms build and query alike.
#include "TerrainEngineFixture.h"

#include "core/Color.h"
#include "core/Coords.h"
#include "core/Intersection.h"
#include "core/Ray.h"
#include "core/SimplePolygon.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/ResourceLoader.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsPrimitiveDrawer.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderVertexBuffer.h"
#include "navigation/CollisionContact.h"
#include "scene/GraphicsMesh.h"
#include "scene/GraphicsSceneRenderer.h"
#include "terrain/Terrain.h"
#include "terrain/TerrainBlock.h"
#include "terrain/TerrainPlug.h"
#include "terrain/TerrainTile.h"

#include <cstring>
#include <string>

namespace GAME {
namespace {

using DataKit::TerrainWriter;
using namespace TerrainTest;

using TerrainRenderTest = TerrainEngineTest;

// 9 x 9 samples (one block of 8 x 8 cells): dirt everywhere, grass on the 32 cells x < 4, stone on
// the 16 cells x < 4, y < 4, an untyped layer on 8 cells (each opaque where it shows, clear
// elsewhere); sample (2, 2) cut away.
TerrainWriter LayeredTerrain()
{
    TerrainWriter writer = RollingTerrain(9, 9, 2);
    TerrainWriter::Layer dirt, grass, stone, untyped;
    dirt.typeRecord = dirtRecord;
    grass.typeRecord = grassRecord;
    stone.typeRecord = stoneRecord;
    for (TerrainWriter::Layer* layer : {&grass, &stone, &untyped})
        layer->states.assign(64, TerrainWriter::CELL_NONE);
    for (unsigned c = 0; c < 64; ++c) {
        const unsigned x = c % 8, y = c / 8;
        if (x < 4)
            grass.states[c] = TerrainWriter::CELL_SHOWN;
        if (x < 4 && y < 4)
            stone.states[c] = TerrainWriter::CELL_SHOWN;
        if (y == 7)
            untyped.states[c] = TerrainWriter::CELL_SHOWN;
    }
    for (TerrainWriter::Layer* layer : {&grass, &stone, &untyped}) {
        layer->opacity.resize(64);
        for (unsigned c = 0; c < 64; ++c)
            layer->opacity[c] = layer->states[c] == TerrainWriter::CELL_SHOWN ? 255 : 0;
    }
    writer.layers = {dirt, grass, stone, untyped};
    writer.cutAway.assign(81, false);
    writer.cutAway[2 * 9 + 2] = true;
    return writer;
}

// The floats of the terrain's ground vertex buffer (empty without one), of either form.
template <class Form> std::vector<float> GroundVertices(const Form& terrain)
{
    RenderVertexBuffer* buffer = terrain.GetGroundVertexBuffer();
    std::vector<float> floats;
    if (!buffer)
        return floats;
    floats.resize(buffer->GetSize() / sizeof(float));
    if (const void* data = buffer->Lock()) {
        std::memcpy(floats.data(), data, floats.size() * sizeof(float));
        buffer->Unlock();
    }
    return floats;
}

// What a debug drawing hands the drawer (nothing is drawn): each primitive's kind (T or L) at its
// Begin, its vertex count at its End ("E6"), each flush (F); the vertices and colours in order.
class RecordingDrawer : public GraphicsPrimitiveDrawer
{
public:
    using GraphicsPrimitiveDrawer::GraphicsPrimitiveDrawer;
    using GraphicsPrimitiveDrawer::SetVertex;
    void Begin(int type) override { calls.push_back(type == TRIANGLES ? "T" : "L"); }
    void SetVertex(const Vec3& position) override
    {
        vertices.push_back(position);
        ++pending;
    }
    void SetColor(const Color& color) override { colors.push_back(color); }
    void End() override
    {
        calls.push_back("E" + std::to_string(pending));
        pending = 0;
    }
    void Flush() override
    {
        if (!calls.empty())
            calls.push_back("F");
    }

    std::vector<std::string> calls;
    std::vector<Vec3> vertices;
    std::vector<Color> colors;
    int pending = 0;
};

RenderablePass Pass(int index)
{
    RenderablePass pass;
    pass.passIndex = index;
    return pass;
}

TEST_F(TerrainRenderTest, GroundVerticesAndGrassIndicesAreMadeOnTheDevice)
{
    TerrainRT terrain(nullptr);
    const TerrainWriter writer = LayeredTerrain();
    ASSERT_TRUE(LoadWriter(terrain, writer));
    const std::vector<std::string> calls = Recorded([&] { terrain.LoadRenderData(); });
    EXPECT_TRUE(terrain.IsRenderDataLoaded());
    // One opacity texture a later layer (8 x 8 cells, four bytes a texel); layer 0's stand-in.
    EXPECT_EQ(CountStarting(calls, "CreateTextureFromImage(8, 8)"), 3u);
    EXPECT_EQ(CountStarting(calls, "CreateTexture(8, 8)"), 1u);
    ASSERT_NE(terrain.GetGroundVertexBuffer(), nullptr);
    EXPECT_EQ(terrain.GetGroundVertexBuffer()->GetSize(), 81u * 24u);
    if (const float* v = static_cast<const float*>(terrain.GetGroundVertexBuffer()->Lock())) {
        const float* sample = v + (2 * 9 + 3) * 6; // (3, 2)
        EXPECT_EQ(sample[0], 3.0f);
        EXPECT_EQ(sample[1], terrain.GetHeight(3, 2));
        EXPECT_EQ(sample[2], 2.0f);
        const Vec3 n = terrain.GetFastNormal(3, 2);
        EXPECT_EQ(Vec3(sample[3], sample[4], sample[5]), n);
        terrain.GetGroundVertexBuffer()->Unlock();
    }
    ASSERT_NE(terrain.GetGrassIndexBuffer(), nullptr);
    EXPECT_EQ(terrain.GetGrassIndexBuffer()->GetNumIndices(), 2100u);
    if (const uint16_t* i = static_cast<const uint16_t*>(terrain.GetGrassIndexBuffer()->Lock())) {
        const uint16_t quads[12] = {0, 3, 2, 2, 1, 0, 4, 7, 6, 6, 5, 4};
        EXPECT_EQ(std::memcmp(i, quads, sizeof(quads)), 0);
        EXPECT_EQ(i[2099], 349 * 4);
        terrain.GetGrassIndexBuffer()->Unlock();
    }
    ASSERT_NE(terrain.GetVertexDeclaration(), nullptr);
    ASSERT_NE(terrain.GetRenderInterface().GetGrassVertexDeclaration(), nullptr);
}

TEST_F(TerrainRenderTest, IndexListsLeaveInvisibleCellsOutAndFollowTheCellOrder)
{
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, LayeredTerrain()));
    TerrainRenderInterfaceRT& render = terrain.GetRenderInterface();
    EXPECT_EQ(render.GetNumRenderPasses(Name::Create("ambientLightStyle"), RENDER_GENERATION_UNKNOWN), 0);
    render.Update(IntVec3(), Frustum(), {terrain.GetBlock(0, 0)});
    ASSERT_EQ(render.GetVisibleBlocks().size(), 1u);
    EXPECT_EQ(render.GetNumRenderPasses(Name::Create("ambientLightStyle"), RENDER_GENERATION_UNKNOWN), 3);

    std::vector<uint32_t> indices(TerrainRenderInterfaceBase::indicesPerBlock, 0xFFFFFFFFu);
    const unsigned solid = render.BuildIndices(render.GetVisibleBlocks(), -1, 9, indices.data());
    EXPECT_EQ(solid, 63u * 6u); // cell (2, 2) is cut away
    const uint32_t first[6] = {10, 9, 0, 0, 1, 10};
    EXPECT_EQ(std::memcmp(indices.data(), first, sizeof(first)), 0);
    // Cell (3, 2) follows cell (1, 2): (2, 2) was skipped.
    const uint32_t after[6] = {31, 30, 21, 21, 22, 31};
    EXPECT_EQ(std::memcmp(&indices[18 * 6], after, sizeof(after)), 0);
    for (unsigned i = 0; i < solid; i += 6)
        EXPECT_NE(indices[i + 2], 2u * 9u + 2u);
    EXPECT_EQ(render.BuildIndices(render.GetVisibleBlocks(), 1, 9, indices.data()), 31u * 6u);
    EXPECT_EQ(render.BuildIndices(render.GetVisibleBlocks(), 2, 9, indices.data()), 15u * 6u);
    EXPECT_EQ(render.BuildIndices(render.GetVisibleBlocks(), 5, 9, indices.data()), 0u);
    // Cell indices of a wider terrain.
    uint32_t cell[6];
    TerrainRenderInterfaceBase::WriteCellIndices(cell, 4, 7, 33);
    const uint32_t expected[6] = {8 * 33 + 5, 8 * 33 + 4, 7 * 33 + 4, 7 * 33 + 4, 7 * 33 + 5, 8 * 33 + 5};
    EXPECT_EQ(std::memcmp(cell, expected, sizeof(cell)), 0);
}

TEST_F(TerrainRenderTest, GroundPassesDrawVisibleCellsAndLayersInOrder)
{
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, LayeredTerrain()));
    terrain.LoadRenderData();
    TerrainRenderInterfaceRT& render = terrain.GetRenderInterface();
    render.Update(IntVec3(-13, 0, 4), Frustum(), {terrain.GetBlock(0, 0)});
    TerrainRenderContext context;
    context.renderFlags = GraphicsSceneRenderer::RENDER_TERRAIN | GraphicsSceneRenderer::RENDER_GRASS;
    ASSERT_TRUE(device->BeginFrame());
    const Name ambient = Name::Create("ambientLightStyle");

    std::vector<std::string> calls = Recorded([&] { render.RenderPass(Pass(0), ambient, *canvas, context); });
    EXPECT_EQ(DrawnPrimitives(calls), (std::vector<unsigned>{126}));
    EXPECT_EQ(CountStarting(calls, "DrawIndexedPrimitive(0, 0, 0, 81,"), 1u);
    // Textured: the last layer first (the untyped one is never drawn), 15, 31 and 63 cells.
    calls = Recorded([&] { render.RenderPass(Pass(1), ambient, *canvas, context); });
    EXPECT_EQ(DrawnPrimitives(calls), (std::vector<unsigned>{30, 62, 126}));
    calls = Recorded([&] { render.RenderPass(Pass(1), Name::Create("reflectionStyle"), *canvas, context); });
    EXPECT_EQ(DrawnPrimitives(calls), (std::vector<unsigned>{126, 62, 30}));
    // Nothing without the terrain flag, or with a light sphere that meets no block.
    context.renderFlags = GraphicsSceneRenderer::RENDER_GRASS;
    calls = Recorded([&] { render.RenderPass(Pass(0), ambient, *canvas, context); });
    EXPECT_TRUE(DrawnPrimitives(calls).empty());
    context.renderFlags = GraphicsSceneRenderer::RENDER_TERRAIN;
    RenderablePass lit = Pass(0);
    lit.lightSphere[0] = 100.0f;
    lit.lightSphere[3] = 5.0f;
    calls = Recorded([&] { render.RenderPass(lit, ambient, *canvas, context); });
    EXPECT_TRUE(DrawnPrimitives(calls).empty());
    lit.lightSphere[0] = 4.0f;
    calls = Recorded([&] { render.RenderPass(lit, ambient, *canvas, context); });
    EXPECT_EQ(DrawnPrimitives(calls), (std::vector<unsigned>{126}));

    // Grass: one draw a block and layer with blades, four vertices and two triangles a blade; none
    // while the map is drawn or without the grass flag.
    context.renderFlags = GraphicsSceneRenderer::RENDER_GRASS;
    calls = Recorded([&] { render.RenderPass(Pass(2), ambient, *canvas, context); });
    const TerrainBlock::GrassRecord* grass = terrain.GetBlock(0, 0)->GetGrassRecord(1);
    ASSERT_NE(grass, nullptr);
    ASSERT_GT(grass->numBlades, 0u);
    EXPECT_EQ(DrawnPrimitives(calls), (std::vector<unsigned>{2 * grass->numBlades}));
    context.mapRendering = true;
    calls = Recorded([&] { render.RenderPass(Pass(2), ambient, *canvas, context); });
    EXPECT_TRUE(DrawnPrimitives(calls).empty());
    device->EndFrame();
    EXPECT_EQ(control->GetLockedResourceCount(), 0u);
}

// While the fog is drawn, a block wholly in the clear air (nearer to the eye than the fog's reach,
// above its height) is left out of the ground's fog, and its blades too once they, standing taller
// and wider than the ground, lie wholly inside it; without clear air everything is drawn.
TEST_F(TerrainRenderTest, TheFogLeavesOutBlocksInTheClearAir)
{
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, LayeredTerrain()));
    terrain.LoadRenderData();
    TerrainRenderInterfaceRT& render = terrain.GetRenderInterface();
    TerrainBlock* block = terrain.GetBlock(0, 0);
    render.Update(IntVec3(), Frustum(), {block});
    const ABBox ground = block->GetBoundingBox();
    const TerrainType* type = terrain.GetLayerTerrainType(1);
    ASSERT_NE(type, nullptr);
    const ABBox grass = TerrainRenderInterfaceBase::GetGrassBox(*block, *type);
    EXPECT_GT(grass.extents.x, ground.extents.x);
    EXPECT_GT(grass.center.y + grass.extents.y, ground.center.y + ground.extents.y);
    EXPECT_NEAR(grass.center.y - grass.extents.y, ground.center.y - ground.extents.y, 1e-5f);

    TerrainRenderContext context;
    context.renderFlags = GraphicsSceneRenderer::RENDER_TERRAIN | GraphicsSceneRenderer::RENDER_GRASS;
    ASSERT_TRUE(device->BeginFrame());
    const Name fog = Name::Create("fogStyle");
    auto drawn = [&](int pass) {
        return DrawnPrimitives(Recorded([&] { render.RenderPass(Pass(pass), fog, *canvas, context); }));
    };
    const std::vector<unsigned> allCells = {126};
    const unsigned blades = 2 * block->GetGrassRecord(1)->numBlades;
    EXPECT_EQ(drawn(0), allCells);
    EXPECT_EQ(drawn(2), (std::vector<unsigned>{blades}));

    // The ground's farthest corner within reach, the blades' not.
    context.clearAir.any = true;
    context.clearAir.eye = ground.center;
    context.clearAir.reach = ground.extents.Length() + 0.1f;
    context.clearAir.above = ground.center.y - ground.extents.y - 1.0f;
    EXPECT_TRUE(drawn(0).empty());
    EXPECT_EQ(drawn(2), (std::vector<unsigned>{blades}));
    // Both within reach.
    context.clearAir.eye = grass.center;
    context.clearAir.reach = grass.extents.Length() + 0.1f;
    EXPECT_TRUE(drawn(0).empty());
    EXPECT_TRUE(drawn(2).empty());
    // The lowest ground under the height fog's top: fog on both.
    context.clearAir.above = ground.center.y - ground.extents.y + 0.05f;
    EXPECT_EQ(drawn(0), allCells);
    EXPECT_EQ(drawn(2), (std::vector<unsigned>{blades}));
    // A placement moving the terrain away from the eye takes it out of reach.
    context.clearAir.above = ground.center.y - ground.extents.y - 1.0f;
    RenderablePass moved = Pass(0);
    moved.regionToScene = Coords::Translation(Vec3(50.0f, 0.0f, 0.0f));
    EXPECT_EQ(DrawnPrimitives(Recorded([&] { render.RenderPass(moved, fog, *canvas, context); })), allCells);
    device->EndFrame();
}

// Top layer first under the destination's alpha, the cells that an opaque layer above covers are
// not drawn again (only cells whose filtered samples lie within the block are judged); bottom first
// (reflections) every cell is. The lists come from the block's cache the second time. The layer
// shader is still queued when the terrain loads its render data (no loader thread serves the
// queue), and is evicted before the third round: each time the draw loads it rather than drawing
// nothing.
TEST_F(TerrainRenderTest, CellsAnOpaqueLayerAboveCoversAreNotDrawnAgain)
{
    TerrainWriter writer = RollingTerrain(9, 9, 2);
    TerrainWriter::Layer dirt, grass;
    dirt.typeRecord = dirtRecord;
    grass.typeRecord = grassRecord;
    grass.states.assign(64, TerrainWriter::CELL_SHOWN);
    grass.opacity.assign(64, 255);
    writer.layers = {dirt, grass};
    ResourceLoader* loader = gEngine->GetResourceLoader();
    ASSERT_NE(loader, nullptr);
    loader->StopThread();
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, writer));
    terrain.LoadRenderData();
    TerrainRenderInterfaceRT& render = terrain.GetRenderInterface();
    render.Update(IntVec3(), Frustum(), {terrain.GetBlock(0, 0)});
    TerrainRenderContext context;
    context.renderFlags = GraphicsSceneRenderer::RENDER_TERRAIN;
    ASSERT_TRUE(device->BeginFrame());
    const Name ambient = Name::Create("ambientLightStyle");
    // As the scene renderer does: it asks for the pass's shader and style each frame and begins
    // the style before it asks for the pass.
    auto draw = [&](const Name& style) {
        return Recorded([&] {
            auto* shader = const_cast<GraphicsShader2*>(render.GetShader2(1, style));
            if (shader && shader->Begin(shader->FindStyleByName(
                              render.GetShaderStyle(1, style, RENDER_GENERATION_UNKNOWN)))) {
                render.RenderPass(Pass(1), style, *canvas, context);
                shader->End();
            }
        });
    };
    for (int round = 0; round < 3; ++round) {
        if (round == 2)
            gEngine->GetGraphicsEngine()->EvictOldResources(-1);
        // Grass on all 64 cells; under it, dirt on the 28 cells of the block's rim.
        EXPECT_EQ(DrawnPrimitives(draw(ambient)), (std::vector<unsigned>{128, 56}));
        EXPECT_EQ(DrawnPrimitives(draw(Name::Create("reflectionStyle"))), (std::vector<unsigned>{128, 128}));
    }
    device->EndFrame();
}

TEST_F(TerrainRenderTest, PassesSortOrdersAndStyles)
{
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, LayeredTerrain()));
    const TerrainRenderInterfaceRT& render = terrain.GetRenderInterface();
    const Name none = Name::Create("None"), depth = Name::Create("depthStyle"),
               fog = Name::Create("fogStyle");
    const Name dShadow = Name::Create("dShadowFilterStyle"), pShadow = Name::Create("pShadowFilterStyle");
    const Name ambient = Name::Create("ambientLightStyle"), dDiffuse = Name::Create("dLightDiffuseStyle");
    const Name pDiffuse = Name::Create("pLightDiffuseStyle"),
               dAmbient = Name::Create("dLightDiffuseAmbientStyle");
    const Name pAmbient = Name::Create("pLightDiffuseAmbientStyle"), other = Name::Create("glowStyle");
    EXPECT_EQ(render.GetRenderPassSortOrder(0, ambient, RENDER_GENERATION_UNKNOWN), -1);
    EXPECT_EQ(render.GetRenderPassSortOrder(1, ambient, RENDER_GENERATION_UNKNOWN), 3);
    EXPECT_EQ(render.GetRenderPassSortOrder(2, ambient, RENDER_GENERATION_UNKNOWN), 1000);
    EXPECT_EQ(render.GetRenderPassSortOrder(3, ambient, RENDER_GENERATION_UNKNOWN), 0);
    // Pass 0 at full quality.
    EXPECT_EQ(render.GetShaderStyle(0, dAmbient, RENDER_GENERATION_UNKNOWN), depth);
    EXPECT_EQ(render.GetShaderStyle(0, pAmbient, RENDER_GENERATION_UNKNOWN), depth);
    EXPECT_EQ(render.GetShaderStyle(0, ambient, RENDER_GENERATION_UNKNOWN), depth);
    EXPECT_EQ(render.GetShaderStyle(0, dDiffuse, RENDER_GENERATION_UNKNOWN), dShadow);
    EXPECT_EQ(render.GetShaderStyle(0, pDiffuse, RENDER_GENERATION_UNKNOWN), pShadow);
    EXPECT_EQ(render.GetShaderStyle(0, fog, RENDER_GENERATION_UNKNOWN), fog);
    EXPECT_EQ(render.GetShaderStyle(0, other, RENDER_GENERATION_UNKNOWN), none);
    EXPECT_EQ(render.GetShaderStyle(1, fog, RENDER_GENERATION_UNKNOWN), none);
    EXPECT_EQ(render.GetShaderStyle(1, other, RENDER_GENERATION_UNKNOWN), other);
    EXPECT_EQ(render.GetShaderStyle(2, fog, RENDER_GENERATION_UNKNOWN), fog);
    // At low quality the lights' roles swap.
    EXPECT_EQ(TerrainRenderInterfaceBase::GetSolidPassStyle(dDiffuse, true, true), depth);
    EXPECT_EQ(TerrainRenderInterfaceBase::GetSolidPassStyle(pDiffuse, true, true), depth);
    EXPECT_EQ(TerrainRenderInterfaceBase::GetSolidPassStyle(dAmbient, true, true), dShadow);
    EXPECT_EQ(TerrainRenderInterfaceBase::GetSolidPassStyle(pAmbient, true, true), pShadow);
    EXPECT_EQ(TerrainRenderInterfaceBase::GetSolidPassStyle(fog, true, false), none);
    // The grass pass has its own shader; the others the layer shader.
    EXPECT_EQ(render.GetShader2(0, ambient), terrain.GetLayerShader());
    EXPECT_EQ(render.GetTexture(1, ambient), nullptr);
}

TEST_F(TerrainRenderTest, PlugsMakeBuffersOnlyForTrianglesAndDraw)
{
    TerrainWriter writer = LayeredTerrain();
    writer.plugs.push_back(CellPlug(writer, 2, 2, 0.0f));
    writer.plugs.push_back(TerrainWriter::Plug());
    TerrainRT terrain(nullptr);
    const uint32_t vertexBuffers = control->GetResourceCount(Software::ResourceKind::VertexBuffer);
    const uint32_t indexBuffers = control->GetResourceCount(Software::ResourceKind::IndexBuffer);
    ASSERT_TRUE(LoadWriter(terrain, writer));
    // The plug of two triangles has its buffers, the empty one none.
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::VertexBuffer), vertexBuffers + 1);
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::IndexBuffer), indexBuffers + 1);
    terrain.LoadRenderData();
    std::vector<TerrainObject*> objects;
    terrain.GetAllObjects(objects);
    TerrainPlug* plug = nullptr;
    for (TerrainObject* object : objects)
        if (object->GetClassInfo().IsA(TerrainPlug::classInfo) &&
            static_cast<TerrainPlug*>(object)->GetNumTriangles() == 2)
            plug = static_cast<TerrainPlug*>(object);
    ASSERT_NE(plug, nullptr);
    TerrainRenderContext context;
    context.renderFlags = GraphicsSceneRenderer::RENDER_TERRAIN;
    ASSERT_TRUE(device->BeginFrame());
    RenderablePass pass = Pass(1);
    pass.shader = plug->GetShader2(1, Name::Create("ambientLightStyle"));
    ASSERT_NE(pass.shader, nullptr);
    const std::vector<std::string> calls =
        Recorded([&] { plug->RenderPass(pass, Name::Create("ambientLightStyle"), *canvas, context); });
    device->EndFrame();
    EXPECT_EQ(DrawnPrimitives(calls), (std::vector<unsigned>{2}));
    // A device reset takes the buffers and makes them again.
    plug->PreDeviceReset();
    EXPECT_EQ(plug->GetVertexBuffer(), nullptr);
    plug->PostDeviceReset();
    EXPECT_NE(plug->GetVertexBuffer(), nullptr);
    terrain.Unload();
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::VertexBuffer), vertexBuffers);
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::IndexBuffer), indexBuffers);
}

TEST_F(TerrainRenderTest, TilesTakeTheirMeshsBoxContoursCollisionsAndBlendedFaces)
{
    GraphicsEngine* graphics = gEngine->GetGraphicsEngine();
    GraphicsMesh* mesh = graphics->LoadMesh(tileMeshName);
    ASSERT_NE(mesh, nullptr);
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, RollingTerrain(33, 33)));
    TerrainTile* tile = terrain.CreateTile(Coords::Translation(Vec3(16.5f, 1.0f, 16.5f)), mesh);
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->GetBoundingBox(), ABBox(Vec3(16.5f, 1.5f, 16.5f), Vec3(1.0f, 0.5f, 1.0f)));

    // The outline, placed: region X, region Z, the height, then the normal.
    ASSERT_EQ(tile->GetNumContours(), 1u);
    SimplePolygon outline;
    tile->GetContour(0, outline);
    ASSERT_EQ(outline.GetNumVertices(), 4);
    EXPECT_EQ(outline.GetVertex(2).x, 17.5f);
    EXPECT_EQ(outline.GetVertex(2).y, 17.5f);
    EXPECT_EQ(outline.GetVertex(2).height, 2.0f);
    float normal[3];
    std::memcpy(normal, outline.GetVertex(2).values, sizeof(normal));
    EXPECT_EQ(Vec3(normal[0], normal[1], normal[2]), Vec3(0, 1, 0));
    tile->GetContour(1, outline);
    EXPECT_EQ(outline.GetNumVertices(), 0);

    // Rays meet the collision mesh half way up the ramp's middle, and miss beside it.
    Intersection hit;
    tile->GetIntersection(Ray(Vec3(16.5f, 10.0f, 16.5f), Vec3(0, -1, 0)), hit, physicsSurfaceAny);
    EXPECT_NEAR(hit.distance, 8.5f, 1e-4f);
    EXPECT_NEAR(hit.point.y, 1.5f, 1e-4f);
    tile->GetIntersection(Ray(Vec3(19.0f, 10.0f, 16.5f), Vec3(0, -1, 0)), hit, physicsSurfaceAny);
    EXPECT_EQ(hit.distance, gInfinity);

    // A layer pass draws the blended faces with the terrain's layer shader.
    RenderablePass pass = Pass(1);
    pass.shader = tile->GetShader2(1, Name::Create("ambientLightStyle"));
    ASSERT_NE(pass.shader, nullptr);
    TerrainRenderContext context;
    context.renderFlags = GraphicsSceneRenderer::RENDER_TERRAIN;
    ASSERT_TRUE(device->BeginFrame());
    std::vector<std::string> calls =
        Recorded([&] { tile->RenderPass(pass, Name::Create("ambientLightStyle"), context); });
    EXPECT_EQ(DrawnPrimitives(calls), (std::vector<unsigned>{2}));
    context.renderFlags = GraphicsSceneRenderer::RENDER_GRASS;
    calls = Recorded([&] { tile->RenderPass(pass, Name::Create("ambientLightStyle"), context); });
    EXPECT_TRUE(DrawnPrimitives(calls).empty());
    device->EndFrame();
    terrain.Unload();
    graphics->UnloadMesh(mesh);
}

TEST_F(TerrainRenderTest, ADeviceResetMakesLayerTexturesAsLoadingMadeThem)
{
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, LayeredTerrain()));
    const std::vector<std::string> loaded = Recorded([&] { terrain.LoadRenderData(); });
    terrain.PreDeviceReset();
    EXPECT_EQ(terrain.GetLayerOpacityTexture(1), nullptr);
    EXPECT_EQ(terrain.GetGroundVertexBuffer(), nullptr);
    const std::vector<std::string> reset = Recorded([&] { terrain.PostDeviceReset(); });
    // The same textures as at load: four bytes a texel from the opacities, not one.
    EXPECT_EQ(CountStarting(reset, "CreateTextureFromImage(8, 8)"),
              CountStarting(loaded, "CreateTextureFromImage(8, 8)"));
    EXPECT_EQ(CountStarting(reset, "CreateTexture(8, 8)"), 1u);
    EXPECT_NE(terrain.GetLayerOpacityTexture(1), nullptr);
    EXPECT_NE(terrain.GetGroundVertexBuffer(), nullptr);
    EXPECT_NE(terrain.GetGrassIndexBuffer(), nullptr);
    // Before render data was loaded, a reset makes nothing.
    TerrainRT idle(nullptr);
    ASSERT_TRUE(LoadWriter(idle, LayeredTerrain()));
    idle.PreDeviceReset();
    const std::vector<std::string> nothing = Recorded([&] { idle.PostDeviceReset(); });
    EXPECT_EQ(CountStarting(nothing, "CreateTexture"), 0u);
}

// The editor terrain builds, edits and queries its ground through what the run-time terrain uses:
// after a partial edit and a cut, its vertex buffer is the one the run-time terrain saved from it
// makes whole, both answer heights, rays and contacts alike (nothing at the cut cell), a device
// reset makes the same vertices again and Unload gives every buffer back.
TEST_F(TerrainRenderTest, TheEditorFormsGroundIsTheGroundTheRunTimeFormMakesOfIt)
{
    const uint32_t vertexBuffers = control->GetResourceCount(Software::ResourceKind::VertexBuffer);
    const uint32_t indexBuffers = control->GetResourceCount(Software::ResourceKind::IndexBuffer);
    Terrain editor(nullptr);
    ASSERT_TRUE(editor.New(16, 8));
    const std::vector<float> flat = GroundVertices(editor);
    ASSERT_EQ(flat.size(), 17u * 9u * 6u);
    // A ridge edited inside the terrain: only the rectangle and the samples beside it are written.
    for (int y = 2; y < 7; ++y)
        for (int x = 3; x < 10; ++x)
            editor.SetBaseHeight(x, y, 0.5f * static_cast<float>(x) + (x == 6 ? 2.0f : 0.0f) - 0.3f * y);
    editor.AddDirtyRect(DirtyRect(3, 2, 7, 5));
    editor.Update(nullptr, 0, 0);
    editor.SetInvisible(5, 3, true);
    const std::vector<float> edited = GroundVertices(editor);
    EXPECT_NE(edited, flat);

    BinaryWriter writer(0x10000);
    ASSERT_TRUE(editor.SaveRunTimeFormat(writer));
    TerrainRT runTime(nullptr);
    BinaryReader reader(writer.GetBuffer(), writer.GetSize());
    ASSERT_TRUE(runTime.Load(reader, 13));
    runTime.LoadRenderData();
    EXPECT_EQ(edited, GroundVertices(runTime));

    for (float z = -0.5f; z < 9.0f; z += 0.7f)
        for (float x = -0.5f; x < 17.0f; x += 0.9f) {
            EXPECT_EQ(editor.GetHeightInterpolated(x, z), runTime.GetHeightInterpolated(x, z))
                << x << "," << z;
            EXPECT_EQ(editor.GetNormalInterpolated(x, z), runTime.GetNormalInterpolated(x, z))
                << x << "," << z;
            Intersection a, b;
            const Ray slanted(Vec3(x, 12.0f, z), Vec3(0.3f, -1.0f, 0.2f).Unit());
            editor.GetIntersection(slanted, a, physicsSurfaceAny);
            runTime.GetIntersection(slanted, b, physicsSurfaceAny);
            EXPECT_EQ(a.distance, b.distance) << x << "," << z;
        }
    Intersection hole;
    editor.GetIntersection(Ray(Vec3(5.5f, 20.0f, 3.5f), Vec3(0.0f, -1.0f, 0.0f)), hole, physicsSurfaceAny);
    EXPECT_FALSE(hole.distance < gInfinity);
    CollisionContact a[16], b[16];
    for (const Vec2& at : {Vec2(5.5f, 3.5f), Vec2(7.4f, 4.6f)}) {
        const Vec3 ground(at.x, editor.GetHeightInterpolated(at.x, at.y), at.y);
        const OBBox box(Vec3(0.3f, 0.3f, 0.3f), Coords::Translation(ground));
        const int count = editor.FindCollisions(box, a, 16, physicsSurfaceAny);
        ASSERT_EQ(count, runTime.FindCollisions(box, b, 16, physicsSurfaceAny));
        EXPECT_EQ(count == 0, at.x == 5.5f);
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(a[i].depth, b[i].depth);
    }

    editor.PreDeviceReset();
    EXPECT_EQ(editor.GetGroundVertexBuffer(), nullptr);
    EXPECT_EQ(editor.GetGrassIndexBuffer(), nullptr);
    editor.PostDeviceReset();
    EXPECT_EQ(GroundVertices(editor), edited);
    EXPECT_NE(editor.GetGrassIndexBuffer(), nullptr);

    TerrainBase::GrassGeometry grass = editor.CreateGrassGeometry();
    editor.DestroyGrassGeometry(grass);
    EXPECT_EQ(editor.GetGrassPoolSize(), 1u);
    editor.Unload();
    runTime.Unload();
    EXPECT_EQ(editor.GetGrassPoolSize(), 0u);
    EXPECT_EQ(editor.GetHeightInterpolated(3.0f, 3.0f), 0.0f);
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::VertexBuffer), vertexBuffers);
    EXPECT_EQ(control->GetResourceCount(Software::ResourceKind::IndexBuffer), indexBuffers);
}

// The editor's debug drawing of the ground: the border as lines; the impassable cells in a checker
// of red and black, filled (corners 0, 3, 2, 0, 2, 1 of (x, y), (x + 1, y), (x + 1, y + 1),
// (x, y + 1)) and then outlined, each list begun again once it holds more than 900 vertices.
TEST_F(TerrainRenderTest, TheEditorsDebugDrawingOutlinesTheGroundAndCheckersItsImpassableCells)
{
    Terrain terrain(nullptr);
    ASSERT_TRUE(terrain.New(32, 16));
    for (int y = 0; y <= 16; ++y)
        for (int x = 0; x <= 32; ++x)
            terrain.SetBaseHeight(x, y, 0.25f * static_cast<float>(x + 2 * y));
    // Cells (1, 0), (2, 0) and rows 4 to 8: 162 cells, 972 triangle and 1,296 line vertices.
    terrain.SetPassable(1, 0, 2);
    terrain.SetPassable(2, 0, 2);
    for (int y = 4; y <= 8; ++y)
        for (int x = 0; x < 32; ++x)
            terrain.SetPassable(x, y, 2);
    const Vec3 offset(100.0f, 1.0f, 50.0f);
    RecordingDrawer cells(*canvas);
    terrain.RenderImpassableAreas(cells, Coords::Translation(offset));
    EXPECT_EQ(cells.calls,
              (std::vector<std::string>{"T", "E906", "F", "T", "E66", "L", "E904", "F", "L", "E392", "F"}));
    ASSERT_EQ(cells.vertices.size(), 972u + 1296u);
    auto at = [&](int x, int y) {
        return Vec3(static_cast<float>(x), terrain.GetHeight(x, y), static_cast<float>(y)) + offset;
    };
    const Vec3 a = at(1, 0), b = at(2, 0), c = at(2, 1), d = at(1, 1);
    EXPECT_EQ(std::vector<Vec3>(cells.vertices.begin(), cells.vertices.begin() + 6),
              (std::vector<Vec3>{a, d, c, a, c, b}));
    EXPECT_EQ(std::vector<Vec3>(cells.vertices.begin() + 972, cells.vertices.begin() + 980),
              (std::vector<Vec3>{a, b, b, c, c, d, d, a}));
    EXPECT_EQ(cells.vertices[971], at(32, 8));
    ASSERT_EQ(cells.colors.size(), 2u * 162u);
    EXPECT_EQ(cells.colors[0], Color(0.0f, 0.0f, 0.0f, 0.25f));
    EXPECT_EQ(cells.colors[1], Color(1.0f, 0.0f, 0.0f, 0.25f));
    EXPECT_EQ(cells.colors[162], cells.colors[0]);

    RecordingDrawer border(*canvas);
    terrain.RenderBorder(border);
    EXPECT_EQ(border.calls, (std::vector<std::string>{"L", "E192"}));
    ASSERT_EQ(border.vertices.size(), 192u);
    EXPECT_EQ(border.vertices[0], at(0, 0) - offset);
    EXPECT_EQ(border.vertices[3], at(1, 16) - offset);
    terrain.Unload();
}

} // namespace
} // namespace GAME
