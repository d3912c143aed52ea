#include "OpenGLSceneFixtures.h"

#include "core/Ray.h"
#include "core/Vec2.h"
#include "data/Options.h"
#include "graphics/RenderDevice.h"
#include "scene/Camera.h"

#include <climits>
#include <cmath>
#include <cstring>

namespace GAME::ScenePixelTest {

GAME_REGISTER_CLASS(SceneBoxEntity, Entity)

namespace {

struct BoxVertex
{
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};

const VertexElement boxElements[] = {
    {0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3},
    {0, VERTEX_USAGE_NORMAL, VERTEX_TYPE_FLOAT3},
    {0, VERTEX_USAGE_TEXCOORD0, VERTEX_TYPE_FLOAT2},
};

const char* const boxRecord = "records/scenebox.dbr";

} // namespace

bool BoxGeometry::Create(RenderDevice& device)
{
    // Six faces of four corners each, counter-clockwise seen from outside.
    std::vector<BoxVertex> vertices;
    std::vector<uint16_t> indices;
    const Vec3 normals[6] = {Vec3(1, 0, 0),  Vec3(-1, 0, 0), Vec3(0, 1, 0),
                             Vec3(0, -1, 0), Vec3(0, 0, 1),  Vec3(0, 0, -1)};
    for (const Vec3& n : normals) {
        const Vec3 u = std::fabs(n.y) > 0.5f ? Vec3(1, 0, 0) : Vec3(0, 1, 0);
        const Vec3 v = Vec3::Cross(n, u);
        const uint16_t first = static_cast<uint16_t>(vertices.size());
        const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& c : corners) {
            const Vec3 p = n + u * c[0] + v * c[1];
            vertices.push_back({p.x, p.y, p.z, n.x, n.y, n.z, (c[0] + 1) * 0.5f, (c[1] + 1) * 0.5f});
        }
        for (uint16_t i : {0, 1, 2, 0, 2, 3})
            indices.push_back(static_cast<uint16_t>(first + i));
    }
    declaration = device.CreateVertexDeclaration(boxElements, 3);
    this->vertices = device.CreateVertexBuffer(RENDER_USAGE_STATIC,
                                               static_cast<unsigned>(vertices.size() * sizeof(BoxVertex)));
    this->indices = device.CreateIndexBuffer(static_cast<unsigned>(indices.size()), 2);
    if (!declaration || !this->vertices || !this->indices)
        return false;
    std::memcpy(this->vertices->Lock(), vertices.data(), vertices.size() * sizeof(BoxVertex));
    this->vertices->Unlock();
    std::memcpy(this->indices->Lock(), indices.data(), indices.size() * sizeof(uint16_t));
    this->indices->Unlock();
    return true;
}

void BoxGeometry::Destroy(RenderDevice& device)
{
    if (vertices)
        device.DestroyVertexBuffer(&vertices);
    if (indices)
        device.DestroyIndexBuffer(&indices);
    if (declaration)
        device.DestroyVertexDeclaration(&declaration);
}

void SceneBox::RenderPass(const RenderablePass& pass, const Name&, GraphicsCanvas& canvas,
                          const GraphicsSceneRenderer& renderer)
{
    static const Name objectToWorld = Name::Create("objectToWorldMatrix");
    static const Name objectToScreen = Name::Create("objectToScreenMatrix");
    static const Name color = Name::Create("color");
    RenderDevice* device = canvas.GetRenderDevice();
    if (!device || !m_geometry)
        return;
    GraphicsShader2* shader = const_cast<GraphicsShader2*>(pass.shader);
    const Mat4 toScene(pass.regionToScene * m_placement);
    shader->SetFloat4x4(objectToWorld, 0, toScene);
    shader->SetFloat4x4(objectToScreen, 0, renderer.GetWorldToScreenMatrix() * toScene);
    const float rgba[4] = {m_color.r, m_color.g, m_color.b, m_color.a};
    shader->SetFloat4(color, 0, rgba);
    shader->Render();
    device->SetVertexDeclaration(m_geometry->declaration);
    device->SetStreamSource(0, m_geometry->vertices, 0, sizeof(BoxVertex));
    device->SetIndices(m_geometry->indices);
    RenderDrawRange range;
    range.numVertices = 24;
    range.primitiveCount = 12;
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
}

void OpenGLSceneFixture::SetUp()
{
    std::string error;
    Platform::ModuleHandle module = Platform::LoadModule("OpenGL", &error);
    ASSERT_NE(module, nullptr) << "OpenGL.so cannot be loaded (" << error
                               << "); it is built from Devices/OpenGL beside libEngine.so";
    Platform::UnloadModule(module);

    options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{kWidth, kHeight});
    options.SetBool(Options::BOOL_FULLSCREEN, false);
    options.SetBool(Options::BOOL_ANTI_ALIASING, false);
    options.SetBool(Options::BOOL_SKIP_COMPATIBILITY_CHECKS, true);
    options.SetQuality(Options::QUALITY_DETAIL_LEVEL, Options::QUALITY_HIGH);
    options.SetQuality(Options::QUALITY_SHADOW, Options::QUALITY_MEDIUM);
    settings.deviceName = "OpenGL";

    using DataKit::SampleGameData;
    using DataKit::ShaderWriter;
    PutFile(ShaderWriter::whiteTextureName, DataKit::TextureWriter::SolidDds(1, 1, 0xFFFFFFFFu));
    PutFile(SampleGameData::basicShaderName, ShaderWriter::SampleBasic().Write());
    PutFile(SampleGameData::overlayShaderName, ShaderWriter::SampleOverlay().Write());
    PutFile(SampleGameData::portalMaskShaderName, ShaderWriter::SamplePortalMask().Write());
    // The frame behind a back-facing portal shows through the whole view (the sample mask opens
    // only its middle).
    PutFile(SampleGameData::inverseTransparencyMaskName, DataKit::TextureWriter::SolidDds(1, 1, 0x00FFFFFFu));
    ASSERT_TRUE(Create()) << "the OpenGL device did not start";
    ASSERT_TRUE(engine->Initialize(nullptr, settings, loader.get()));
    ASSERT_EQ(engine->GetGenerationId(), RENDER_GENERATION_GEFORCE6);
    ASSERT_EQ(Device().GetWidth(), kWidth);
    ASSERT_EQ(Device().GetHeight(), kHeight);

    lit = LoadShader(SampleGameData::litShaderName, ShaderWriter::SampleLit().Write());
    unlit = LoadShader(SampleGameData::unlitShaderName, ShaderWriter::SampleUnlit().Write());
    transparent =
        LoadShader(SampleGameData::litTransparentShaderName, ShaderWriter::SampleLitTransparent().Write());
    ASSERT_TRUE(lit && lit->GetIsReadyToUse());
    ASSERT_TRUE(unlit && unlit->GetIsReadyToUse());
    ASSERT_TRUE(transparent && transparent->GetIsReadyToUse());
    ASSERT_TRUE(geometry.Create(Device()));

    DataKit::ArzWriter writer(true);
    writer.AddRecord(boxRecord).String("Class", "SceneBoxEntity");
    ASSERT_TRUE(records.Load(writer.Build()));
    ObjectManager::Destroy();
    UniqueIdMap::Destroy();
    Entity::InstallHooks();
    world = new World();
    ready = true;
}

void OpenGLSceneFixture::TearDown()
{
    delete world; // unloads the levels, queueing their entities
    world = nullptr;
    if (ObjectManager::HasInstantiated())
        ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    ObjectManager::Destroy();
    UniqueIdMap::Destroy();
    boxes.clear();
    if (engine && engine->GetRenderDevice())
        geometry.Destroy(Device());
    GraphicsFixture::TearDown();
}

Region* OpenGLSceneFixture::AddRegion(const IntVec3& offset, const ABBox& box)
{
    const std::string name = "levels/scene" + std::to_string(world->GetNumRegions()) + ".lvl";
    RegionId id;
    id.CreateUnique();
    const int index = world->AddRegion(name.c_str(), offset, box, id);
    Region* region = world->GetRegion(index);
    Level* level = new Level(region);
    level->NewSpace(Vec2(box.extents.x * 2.0f + 2.0f, box.extents.z * 2.0f + 2.0f));
    level->PostLoad(false);
    region->SetLevel(level);
    return region;
}

SceneBoxEntity* OpenGLSceneFixture::AddBox(Region* region, GraphicsShader2* shader, const Vec3& center,
                                           const Vec3& halfExtents, const Color& color)
{
    auto* entity = ObjectManager::Get()->CreateObjectFromFileAs<SceneBoxEntity>(boxRecord, 0, true);
    if (!entity)
        return nullptr;
    entity->box.Set(&geometry, shader, center, halfExtents, color);
    Level* level = region->GetLevel(false);
    if (!level || !level->AddEntity(entity, Coords::Translation(center)))
        return nullptr;
    // Updated once, as the world's update does: shadow maps take the updated entities only.
    entity->Update(16);
    entity->UpdateBoundingBox();
    return entity;
}

SceneBox& OpenGLSceneFixture::MakeBox(GraphicsShader2* shader, const Vec3& center, const Vec3& halfExtents,
                                      const Color& color)
{
    boxes.push_back(std::make_unique<SceneBox>());
    boxes.back()->Set(&geometry, shader, center, halfExtents, color);
    return *boxes.back();
}

Pixels OpenGLSceneFixture::ReadSurface(RenderSurface* surface, int width, int height)
{
    RenderSurface* previous = Canvas().GetTargetSurface();
    Canvas().SetTargetSurface(surface);
    Pixels image = GAME::Test::ReadBack(Device(), width, height);
    Canvas().SetTargetSurface(previous);
    return image;
}

Camera OpenGLSceneFixture::LookAt(const Vec3& eye, const Vec3& target)
{
    Camera camera;
    camera.SetCoords(Coords::LookAt(eye, target, Vec3(0.0f, 1.0f, 0.0f)));
    camera.SetFOV(60.0f * 0.017453292f);
    camera.SetNearPlane(0.5f);
    camera.SetFarPlane(200.0f);
    return camera;
}

std::pair<int, int> OpenGLSceneFixture::PixelOf(const Camera& camera, const Vec3& point)
{
    const Vec2 p = camera.Project(point, View());
    return {static_cast<int>(std::floor(p.x)), static_cast<int>(std::floor(p.y))};
}

Vec3 OpenGLSceneFixture::FloorPoint(const Camera& camera, int x, int y, float height)
{
    const Vec2 screen((static_cast<float>(x) + 0.5f) / kWidth, (static_cast<float>(y) + 0.5f) / kHeight);
    const Ray ray = camera.GetRayThroughImagePoint(screen, View());
    const float t = (height - ray.origin.y) / ray.direction.y;
    return ray.origin + ray.direction * t;
}

} // namespace GAME::ScenePixelTest
