#include "terrain/Water.h"

#include "core/Frustum.h"
#include "core/Intersection.h"
#include "core/Log.h"
#include "core/Name.h"
#include "core/ObjectManager.h"
#include "core/Ray.h"
#include "core/WorldCoords.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/LoadTable.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderIndexBuffer.h"
#include "navigation/CollisionContact.h"
#include "scene/GraphicsReflectionManager.h"
#include "scene/GraphicsSceneRenderer.h"
#include "terrain/WaterLayer.h"
#include "terrain/WaterPath.h"
#include "terrain/WaterType.h"
#include "terrain/WaterTypeManager.h"
#include "terrain/WaterWaveSet.h"
#include "world/EffectEntity.h"
#include "world/Engine.h"
#include "world/Entity.h"
#include "world/Region.h"
#include "world/World.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>

namespace GAME {

namespace {

// The smallest records: a type (u32, fourteen floats, three empty strings), a layer (empty name,
// height, extent, block count), a path (empty name, height, point count), a wave set (height,
// parameters, point count).
constexpr uint64_t kMinTypeRecord = 4 + 14 * 4 + 3 * 4;

GraphicsEngine* Graphics()
{
    return gEngine ? gEngine->GetGraphicsEngine() : nullptr;
}

bool SameName(const char* a, const char* b)
{
    if (!a || !b)
        return false;
    for (; *a && *b; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

const Name* WavesStyles()
{
    static const Name styles[Water::numWavesTextures] = {
        Name::Create("blendStyle"), Name::Create("bumpStyle"), Name::Create("blendStyle")};
    return styles;
}

} // namespace

Water::Water(Region* region) : m_region(region)
{
    m_renderInterface.SetWater(this);
}

Water::~Water()
{
    ReleaseAll();
}

// ---- Set-up --------------------------------------------------------------------------------------

void Water::Initialize(unsigned sizeX, unsigned sizeZ, const TerrainBase* terrain,
                       const GridRegion* gridRegion)
{
    m_terrain = terrain;
    m_gridRegion = gridRegion;
    GraphicsEngine* graphics = Graphics();
    RenderDevice* device = graphics ? graphics->GetRenderDevice() : nullptr;
    if (!device)
        return;
    Initialize(sizeX, sizeZ, terrain, gridRegion, device);
}

void Water::Initialize(unsigned sizeX, unsigned sizeZ, const TerrainBase* terrain,
                       const GridRegion* gridRegion, RenderDevice* device)
{
    m_terrain = terrain;
    m_gridRegion = gridRegion;
    if (!device)
        return;
    ReleaseAll();
    m_device = device;
    m_renderInterface.SetWater(this);
    m_renderInterface.Initialize(device);
    m_rippleSet.Initialize(device);

    m_blocksX = (sizeX + 8) / 9;
    m_blocksZ = (sizeZ + 8) / 9;
    m_sizeX = sizeX;
    m_sizeZ = sizeZ;
    const float half = static_cast<float>(std::max(sizeX, sizeZ)) * 0.5f;
    m_tree = new Space<WaterElement>(static_cast<float>(sizeX) * 0.5f, static_cast<float>(sizeZ) * 0.5f, half,
                                     half);

    CreateIndexBuffers();
    m_rippleSet.CreateBuffers();

    m_wakeSplashEffect.clear();
    m_objectSplashEffect.clear();
    m_bodySplashEffect.clear();
    if (ObjectManager* objects = ObjectManager::Get())
        if (LoadTable* table = objects->LoadTableFile(interactionRecord)) {
            m_wakeSplashEffect = table->GetValue("WakeSplashEffect", "");
            m_objectSplashEffect = table->GetValue("ObjectSplashEffect", "");
            m_bodySplashEffect = table->GetValue("BodySplashEffect", "");
        }
    LoadResources();
}

void Water::CreateIndexBuffers()
{
    if (!m_device)
        return;
    m_blockIndexBuffer = m_device->CreateIndexBuffer(WaterElement::numBlockIndices, 2);
    auto* blocks = m_blockIndexBuffer ? static_cast<uint16_t*>(m_blockIndexBuffer->Lock()) : nullptr;
    if (blocks) {
        unsigned n = 0;
        const unsigned columns = WaterElement::stripColumns;
        for (unsigned r = 0; r < WaterElement::maxStripRows; ++r) {
            if (r > 0) {
                // The empty join: the last index of the row before, the first of this one.
                blocks[n] = blocks[n - 1];
                ++n;
                blocks[n++] = static_cast<uint16_t>(columns * r + columns);
            }
            for (unsigned c = 0; c < columns; ++c) {
                blocks[n++] = static_cast<uint16_t>(columns * r + c + columns);
                blocks[n++] = static_cast<uint16_t>(columns * r + c);
            }
        }
        m_blockIndexBuffer->Unlock();
    } else {
        DropIndexBuffer(m_blockIndexBuffer, "Unable to create index Buffer for water.");
    }

    m_wavesIndexBuffer = m_device->CreateIndexBuffer(WaterWaveSegment::numWaveIndices, 2);
    auto* waves = m_wavesIndexBuffer ? static_cast<uint16_t*>(m_wavesIndexBuffer->Lock()) : nullptr;
    if (waves) {
        unsigned n = 0;
        for (unsigned q = 0; q < WaterWaveSegment::maxFoamPatches; ++q)
            for (unsigned k : {0u, 1u, 2u, 0u, 2u, 3u})
                waves[n++] = static_cast<uint16_t>(4 * q + k);
        for (unsigned k = 0; k < 3; ++k)
            for (unsigned j = 0; j <= WaterWaveSegment::maxBandPoints; ++j) {
                waves[n++] = static_cast<uint16_t>(4 * j + k);
                waves[n++] = static_cast<uint16_t>(4 * j + k + 1);
            }
        for (unsigned j = 0; j <= WaterWaveSegment::maxBandPoints; ++j) {
            waves[n++] = static_cast<uint16_t>(2 * j);
            waves[n++] = static_cast<uint16_t>(2 * j + 1);
        }
        m_wavesIndexBuffer->Unlock();
    } else {
        DropIndexBuffer(m_wavesIndexBuffer, "Unable to create index buffer for waves.");
    }
}

void Water::DropIndexBuffer(RenderIndexBuffer*& buffer, const char* failure)
{
    LogPrintf(2, "%s", failure);
    if (buffer)
        m_device->DestroyIndexBuffer(&buffer);
    buffer = nullptr;
}

void Water::DestroyIndexBuffers()
{
    if (m_device) {
        if (m_blockIndexBuffer)
            m_device->DestroyIndexBuffer(&m_blockIndexBuffer);
        if (m_wavesIndexBuffer)
            m_device->DestroyIndexBuffer(&m_wavesIndexBuffer);
    }
    m_blockIndexBuffer = nullptr;
    m_wavesIndexBuffer = nullptr;
}

void Water::LoadResources()
{
    GraphicsEngine* graphics = Graphics();
    if (!graphics)
        return;
    const char* const textures[numWavesTextures] = {wakeTextureName, bumpTextureName, shoreWaveTextureName};
    for (unsigned i = 0; i < numWavesTextures; ++i)
        m_wavesTextures[i] = graphics->LoadTexture(textures[i]);
    m_waterShader = graphics->LoadShader2(waterShaderName);
    m_wavesShader = graphics->LoadShader2(wavesShaderName);
}

void Water::UnloadResources()
{
    GraphicsEngine* graphics = Graphics();
    for (GraphicsTexture*& texture : m_wavesTextures) {
        if (texture && graphics)
            graphics->UnloadTexture(texture);
        texture = nullptr;
    }
    for (GraphicsShader2** shader : {&m_waterShader, &m_wavesShader}) {
        if (*shader && graphics)
            graphics->UnloadShader2(*shader);
        *shader = nullptr;
    }
}

void Water::ReleaseAll()
{
    RemoveAllPieces();
    delete m_tree;
    m_tree = nullptr;
    DestroyIndexBuffers();
    UnloadResources();
    m_renderInterface.Destroy();
    m_rippleSet.Destroy();
    m_device = nullptr;
}

void Water::RemoveAllPieces()
{
    for (WaterLayer*& layer : m_layers) {
        delete layer;
        layer = nullptr;
    }
    for (WaterPath*& path : m_paths) {
        delete path;
        path = nullptr;
    }
    for (WaterWaveSet*& waves : m_waveSets) {
        delete waves;
        waves = nullptr;
    }
    m_numLayers = m_numPaths = m_numWaveSets = 0;
}

const Name& Water::GetWavesStyle(unsigned i) const
{
    return i < numWavesTextures ? WavesStyles()[i] : Name::noName;
}

const std::string& Water::GetSplashEffect(unsigned kind) const
{
    static const std::string none;
    switch (kind) {
    case SPLASH_KIND_WAKE:
        return m_wakeSplashEffect;
    case SPLASH_KIND_OBJECT:
        return m_objectSplashEffect;
    case SPLASH_KIND_BODY:
        return m_bodySplashEffect;
    default:
        return none;
    }
}

// ---- Pieces --------------------------------------------------------------------------------------

template <class T> unsigned Water::FreeSlot(T* const* slots, unsigned count, unsigned capacity)
{
    if (count >= capacity)
        return capacity;
    for (unsigned i = 0; i < capacity; ++i)
        if (!slots[i])
            return i;
    return capacity;
}

template <class T> void Water::EmptySlot(T** slots, unsigned& count, unsigned index, const T* piece)
{
    if (index < count && slots[index] == piece) {
        slots[index] = nullptr;
        if (index + 1 == count)
            --count;
    }
}

template <class T, class Make> T* Water::AddPiece(T** slots, unsigned& count, unsigned capacity, Make&& make)
{
    const unsigned slot = FreeSlot(slots, count, capacity);
    if (slot >= capacity)
        return nullptr;
    T* piece = make(slot);
    if (!piece)
        return nullptr;
    slots[slot] = piece;
    count = std::max(count, slot + 1);
    return piece;
}

template <class T, class F> void Water::ForEachIn(T* const* slots, const unsigned& count, F&& f)
{
    for (unsigned i = 0; i < count; ++i)
        if (slots[i])
            f(*slots[i]);
}

template <class F> void Water::ForEachTypedPiece(F&& f) const
{
    ForEachIn(m_layers, m_numLayers, f);
    ForEachIn(m_paths, m_numPaths, f);
}

template <class F> void Water::ForEachCurve(F&& f) const
{
    ForEachIn(m_paths, m_numPaths, f);
    ForEachIn(m_waveSets, m_numWaveSets, f);
}

WaterLayer* Water::AddWaterLayer(const char* typeName, float height)
{
    if (!IsInitialized())
        return nullptr;
    return AddPiece(m_layers, m_numLayers, maxLayers, [&](unsigned slot) {
        auto* layer = new WaterLayer(slot, m_blocksX, m_blocksZ, blockSize, *m_tree, *m_device, this);
        // The layer stays even without its type.
        layer->Initialize(typeName, height, Vec2(static_cast<float>(m_sizeX), static_cast<float>(m_sizeZ)));
        return layer;
    });
}

void Water::RemoveWaterLayer(WaterLayer*& layer)
{
    if (!layer)
        return;
    EmptySlot(m_layers, m_numLayers, layer->GetIndex(), layer);
    delete layer;
    layer = nullptr;
}

WaterLayer* Water::FindLayer(const char* typeName, float height) const
{
    for (unsigned i = 0; i < m_numLayers; ++i)
        if (WaterLayer* layer = m_layers[i])
            if (layer->GetHeight() == height && SameName(layer->GetWaterTypeName(), typeName))
                return layer;
    return nullptr;
}

WaterPath* Water::AddWaterPath(const char* typeName, float height, const ControlPoint& point)
{
    WaterTypeManager* types = WaterTypeManager::Get();
    if (!typeName || !types || !types->IsWaterType(typeName) || !IsInitialized())
        return nullptr;
    return AddPiece(m_paths, m_numPaths, maxPaths, [&](unsigned slot) {
        std::unique_ptr<WaterPath> path(new WaterPath(slot, *m_tree, *m_device, this));
        return path->Initialize(typeName, height, point) ? path.release() : nullptr;
    });
}

WaterWaveSet* Water::AddWaveSet(float height, const ControlPoint& point)
{
    if (!IsInitialized())
        return nullptr;
    return AddPiece(m_waveSets, m_numWaveSets, maxWaveSets, [&](unsigned slot) {
        std::unique_ptr<WaterWaveSet> waves(new WaterWaveSet(slot, *m_tree, *m_device, this));
        return waves->Initialize(height, point) ? waves.release() : nullptr;
    });
}

WaterCurve* Water::AddWaterCurve(const char* typeName, float height, const ControlPoint& point,
                                 WaterCurve::CurveType type)
{
    switch (type) {
    case WaterCurve::CURVE_PATH:
        return AddWaterPath(typeName, height, point);
    case WaterCurve::CURVE_WAVE_SET:
        return AddWaveSet(height, point);
    default:
        return nullptr;
    }
}

void Water::RemoveWaterCurve(WaterCurve* curve)
{
    if (!curve)
        return;
    if (curve->GetCurveType() == WaterCurve::CURVE_PATH)
        EmptySlot(m_paths, m_numPaths, curve->GetIndex(), static_cast<WaterPath*>(curve));
    else if (curve->GetCurveType() == WaterCurve::CURVE_WAVE_SET)
        EmptySlot(m_waveSets, m_numWaveSets, curve->GetIndex(), static_cast<WaterWaveSet*>(curve));
    delete curve;
}

WaterCurve* Water::SelectCurve(const Ray& ray, WaterCurve::SelectionType& selection, const WorldCoords& view)
{
    selection = WaterCurve::SELECTION_NONE;
    for (unsigned i = 0; i < m_numPaths; ++i)
        if (m_paths[i] && (selection = m_paths[i]->SelectPoint(ray, view)) != WaterCurve::SELECTION_NONE)
            return m_paths[i];
    for (unsigned i = 0; i < m_numWaveSets; ++i)
        if (m_waveSets[i] &&
            (selection = m_waveSets[i]->SelectPoint(ray, view)) != WaterCurve::SELECTION_NONE)
            return m_waveSets[i];
    selection = WaterCurve::SELECTION_NONE;
    return nullptr;
}

void Water::DrawCurveSelectionPoints(GraphicsPrimitiveDrawer& drawer, const Vec3& offset,
                                     WaterCurve::CurveType type)
{
    if (type == WaterCurve::CURVE_PATH) {
        for (unsigned i = 0; i < m_numPaths; ++i)
            if (m_paths[i])
                m_paths[i]->DrawSelectionPoints(drawer, offset);
    } else if (type == WaterCurve::CURVE_WAVE_SET) {
        for (unsigned i = 0; i < m_numWaveSets; ++i)
            if (m_waveSets[i])
                m_waveSets[i]->DrawSelectionPoints(drawer, offset);
    }
}

void Water::Mirror(const Vec3& centre, bool x, bool z, bool xz)
{
    auto mirror = [&](WaterObject& piece) {
        if (xz)
            piece.MirrorXZ();
        if (x)
            piece.MirrorX(centre.x);
        if (z)
            piece.MirrorZ(centre.z);
    };
    ForEachIn(m_layers, m_numLayers, mirror);
    ForEachCurve(mirror);
}

// ---- Water types ---------------------------------------------------------------------------------

bool Water::IsWaterTypeUsed(const WaterType* type) const
{
    bool used = false;
    ForEachTypedPiece([&](const WaterObject& piece) { used = used || piece.GetWaterType() == type; });
    return used;
}

bool Water::UpdateWaterType(const WaterType* type)
{
    bool used = false;
    ForEachTypedPiece([&](WaterObject& piece) {
        if (piece.GetWaterType() == type) {
            piece.Update();
            used = true;
        }
    });
    return used;
}

void Water::RemoveWaterType(const WaterType* type)
{
    for (unsigned i = 0; i < m_numLayers; ++i)
        if (m_layers[i] && m_layers[i]->GetWaterType() == type) {
            WaterLayer* layer = m_layers[i];
            RemoveWaterLayer(layer);
        }
    for (unsigned i = 0; i < m_numPaths; ++i)
        if (m_paths[i] && m_paths[i]->GetWaterType() == type)
            RemoveWaterCurve(m_paths[i]);
}

void Water::UpdateWaterTypes()
{
    ForEachTypedPiece([](WaterObject& piece) { piece.UpdateWaterType(); });
}

// ---- Per frame -----------------------------------------------------------------------------------

void Water::Update(int elapsedMilliseconds)
{
    if (elapsedMilliseconds <= 0)
        return;
    ForEachIn(m_waveSets, m_numWaveSets,
              [&](WaterWaveSet& waves) { waves.UpdateWaves(elapsedMilliseconds); });
    m_rippleSet.Update(elapsedMilliseconds);
}

void Water::AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum)
{
    if (!m_region || !renderer.IsRenderFlagSet(GraphicsSceneRenderer::RENDER_WATER))
        return;
    UpdateWaterTypes();
    if (!m_renderInterface.Update(m_region->GetOffsetFromWorld(), frustum))
        return;
    renderer.AddRenderable(&m_renderInterface, m_region);
    renderer.AddRenderable(&m_rippleSet, m_region);
}

void Water::GetBlocksInFrustum(std::vector<WaterElement*>& elements, const Frustum* frusta,
                               unsigned count) const
{
    if (!m_tree)
        return;
    m_tree->GetObjectsInFrusta(elements, frusta, count,
                               [](const WaterElement*, const ABBox& box, const SpaceFrustum& frustum) {
                                   return frustum.BoxInFrustum(box);
                               });
}

void Water::AddReflectionPlanes(GraphicsReflectionManager& manager, Region* region, const Frustum& frustum)
{
    ForEachTypedPiece([](WaterObject& piece) { piece.ResetReflectionSurface(); });
    if (frustum.GetNumPlanes() == 0)
        return;
    std::vector<WaterElement*> elements;
    elements.reserve(200);
    GetBlocksInFrustum(elements, &frustum, 1);
    std::vector<const GraphicsReflectionPlane*> met;
    for (WaterElement* element : elements) {
        GraphicsReflectionPlane* plane = element->GetReflectionPlane();
        if (!plane)
            continue;
        if (std::find(met.begin(), met.end(), plane) == met.end()) {
            met.push_back(plane);
            plane->region = region;
            manager.AddReflectionPlane(*plane);
        }
        manager.UpdatePlaneElementBounds(plane, element->GetBoundingBox());
    }
}

void Water::PreDeviceReset()
{
    DestroyIndexBuffers();
    ForEachIn(m_layers, m_numLayers, [](WaterLayer& layer) { layer.DestroyBlockGeometry(); });
    ForEachCurve([](WaterCurve& curve) { curve.DestroySegmentGeometry(); });
    ForEachTypedPiece([](WaterObject& piece) { piece.ResetReflectionSurface(); });
    m_rippleSet.ReleaseBuffers();
}

void Water::PostDeviceReset()
{
    if (!m_device)
        return;
    CreateIndexBuffers();
    ForEachIn(m_layers, m_numLayers, [](WaterLayer& layer) { layer.ConstructBlockGeometry(); });
    ForEachCurve([](WaterCurve& curve) { curve.ConstructSegmentGeometry(); });
    m_rippleSet.CreateBuffers();
}

// ---- Queries -------------------------------------------------------------------------------------

bool Water::GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const
{
    intersection = Intersection(gInfinity, Vec3(), 0);
    if (surface == PHYSICS_SURFACE_UNWALKABLE || surface == PHYSICS_SURFACE_WATER)
        return false;
    const float nearest = GetNearestSurface(ray).distance;
    if (!(nearest < gInfinity))
        return false;
    intersection = Intersection(nearest, ray.GetPoint(nearest), PHYSICS_SURFACE_WATER);
    return true;
}

int Water::FindCollisions(const OBBox& box, CollisionContact* contacts, int capacity,
                          PhysicsSurface surface) const
{
    if (!contacts || capacity < 1 || surface == PHYSICS_SURFACE_UNWALKABLE ||
        surface == PHYSICS_SURFACE_WATER)
        return 0;
    const ABBox bounds = ABBox::FromOBBox(box);
    const Ray ray(Vec3(bounds.center.x, bounds.center.y - bounds.extents.y, bounds.center.z),
                  Vec3(0.0f, 1.0f, 0.0f));
    Intersection hit;
    if (!GetIntersection(ray, hit, physicsSurfaceAny) || !(hit.distance < 2.0f * bounds.extents.y))
        return 0;
    CollisionContact& contact = contacts[0];
    contact.position = hit.point;
    contact.normal = Vec3(0.0f, 1.0f, 0.0f);
    contact.depth = hit.distance;
    contact.surface = PHYSICS_SURFACE_WATER;
    contact.object = 0;
    return 1;
}

int Water::FindCollisions(const Entity* entity, CollisionContact* contacts, int capacity, Region*,
                          PhysicsSurface surface) const
{
    OBBox box;
    if (!entity || !entity->GetCollisionProxy(box))
        return 0;
    return FindCollisions(box, contacts, capacity, surface);
}

void Water::FindCollisions(std::vector<CollisionBox>& boxes, const ABBox&, PhysicsSurface surface) const
{
    for (CollisionBox& box : boxes) {
        CollisionContact contact;
        if (FindCollisions(box.GetBox(), &contact, 1, surface) == 1)
            box.AddContact(contact);
    }
}

bool Water::GetWaterPointInfo(const Vec3& point, Vec3& surfacePoint, Vec3& velocity) const
{
    surfacePoint = Vec3();
    velocity = Vec3();
    const Ray ray(point, Vec3(0.0f, 1.0f, 0.0f));
    const SurfaceHit hit = GetNearestSurface(ray);
    if (!(hit.distance < gInfinity))
        return false;
    surfacePoint = ray.GetPoint(hit.distance);
    if (hit.path)
        hit.path->CalcSurfaceVelocity(hit.segment, hit.parameter, velocity);
    else if (hit.layer)
        hit.layer->CalcSurfaceVelocity(velocity);
    return true;
}

Water::SurfaceHit Water::GetNearestSurface(const Ray& ray) const
{
    SurfaceHit hit;
    ForEachIn(m_layers, m_numLayers, [&](const WaterLayer& layer) {
        const float d = layer.RayIntersection(ray, hit.distance);
        if (d < hit.distance) {
            hit.distance = d;
            hit.layer = &layer;
        }
    });
    ForEachIn(m_paths, m_numPaths, [&](const WaterPath& path) {
        unsigned segment = 0;
        float parameter = 0.0f;
        const float d = path.RayIntersection(ray, hit.distance, segment, parameter);
        if (d < hit.distance) {
            hit = SurfaceHit{d, nullptr, &path, segment, parameter};
        }
    });
    return hit;
}

void Water::CreateRipple(const Vec3& position, float size, float strength, unsigned kind)
{
    const Vec3 query = position - Vec3(0.0f, 2.0f, 0.0f);
    Vec3 surface, velocity;
    if (!GetWaterPointInfo(query, surface, velocity))
        return;
    if (!(surface.y - query.y < 4.0f))
        return;
    if (strength >= 1.0f)
        m_rippleSet.AddRipple(surface, 0.5f, size * 4.0f);
    if (kind == SPLASH_KIND_WAKE && !(surface.y > position.y))
        return;
    StartSplash(surface, kind);
}

void Water::StartSplash(const Vec3& position, unsigned kind) const
{
    const std::string& record = GetSplashEffect(kind);
    ObjectManager* objects = ObjectManager::Get();
    // A splash needs a world to stand in.
    if (record.empty() || !objects || !m_region || !(m_region->GetWorld() || World::GetCurrent()))
        return;
    EffectEntity* effect = objects->CreateObjectFromFileAs<EffectEntity>(record, 0, true);
    if (!effect)
        return;
    effect->StartEmitting();
    effect->AddToWorld(WorldCoords(m_region, Coords::Translation(position)), true);
}

// ---- The water block -----------------------------------------------------------------------------

template <class T, class Make>
void Water::LoadPieces(BinaryReader& reader, uint32_t count, uint32_t fileVersion, T** slots,
                       const char* kind, Make&& make)
{
    for (unsigned i = 0; i < count && !reader.Failed(); ++i) {
        std::unique_ptr<T> piece(make(i));
        if (piece->Load(reader, fileVersion))
            slots[i] = piece.release();
        else
            LogPrintf(1, "Failed to load water %s %u.", kind, i);
    }
}

bool Water::Load(BinaryReader& reader)
{
    if (!IsInitialized())
        return false;
    if (reader.ReadUInt32() != magic || reader.Failed()) {
        LogPrintf(1, "Invalid water data, water will not be loaded.");
        return false;
    }
    const uint32_t fileVersion = reader.ReadUInt32();
    if (fileVersion != version)
        LogPrintf(2, "Warning water data is version %u, current version is %u, please rebuild the map.",
                  fileVersion, version);
    const uint32_t typeCount = reader.ReadUInt32();
    const uint32_t layerCount = reader.ReadUInt32();
    const uint32_t pathCount = reader.ReadUInt32();
    const uint32_t waveSetCount = fileVersion >= 2 ? reader.ReadUInt32() : 0;
    if (reader.Failed()) {
        LogPrintf(1, "Water data ends inside its header, water will not be loaded.");
        return false;
    }
    // The container holds no more: a larger count is bad data, never a reason to write past it.
    if (layerCount > maxLayers || pathCount > maxPaths || waveSetCount > maxWaveSets) {
        LogPrintf(1,
                  "Water data holds %u layers, %u paths and %u wave sets (at most %u, %u and %u), water "
                  "will not be loaded.",
                  layerCount, pathCount, waveSetCount, maxLayers, maxPaths, maxWaveSets);
        return false;
    }
    if (!reader.CheckCount(typeCount, kMinTypeRecord, "water types"))
        return false;
    RemoveAllPieces();

    // The loader holds one reference to every type the block names (the first definition of a
    // name wins) until the pieces hold theirs: another level's loading thread may release a type
    // of the same name meanwhile.
    WaterTypeManager* manager = WaterTypeManager::Get();
    std::vector<WaterType*> registered;
    for (uint32_t i = 0; i < typeCount && !reader.Failed(); ++i) {
        WaterType type;
        if (!type.Load(reader))
            break;
        if (!type.HasFiniteValues()) {
            // Left out: the pieces that name it are left out as of an unknown type.
            LogPrintf(1, "Water type '%s' has values that are not numbers; left out", type.GetName().c_str());
            continue;
        }
        if (WaterType* held = manager ? manager->HoldWaterType(type) : nullptr)
            registered.push_back(held);
    }

    m_numLayers = layerCount;
    m_numPaths = pathCount;
    m_numWaveSets = waveSetCount;
    LoadPieces(reader, layerCount, fileVersion, m_layers, "layer", [&](unsigned i) {
        return new WaterLayer(i, m_blocksX, m_blocksZ, blockSize, *m_tree, *m_device, this);
    });
    LoadPieces(reader, pathCount, fileVersion, m_paths, "path",
               [&](unsigned i) { return new WaterPath(i, *m_tree, *m_device, this); });
    LoadPieces(reader, waveSetCount, fileVersion, m_waveSets, "wave set",
               [&](unsigned i) { return new WaterWaveSet(i, *m_tree, *m_device, this); });

    const bool failed = reader.Failed();
    if (failed)
        RemoveAllPieces();
    for (WaterType* type : registered)
        manager->ReleaseWaterType(type);
    if (failed) {
        LogPrintf(1, "Water data runs past its end, water will not be loaded.");
        return false;
    }
    return true;
}

void Water::Save(BinaryWriter& writer)
{
    Cleanup();
    std::vector<const WaterLayer*> layers;
    std::vector<const WaterPath*> paths;
    std::vector<const WaterWaveSet*> waveSets;
    std::vector<const WaterType*> types;
    for (unsigned i = 0; i < m_numLayers; ++i)
        if (const WaterLayer* layer = m_layers[i])
            if (layer->GetNumBlocks() > 0 && layer->GetWaterType()) {
                layers.push_back(layer);
                types.push_back(layer->GetWaterType());
            }
    for (unsigned i = 0; i < m_numPaths; ++i)
        if (const WaterPath* path = m_paths[i])
            if (path->GetNumControlPoints() > 1 && path->GetWaterType()) {
                paths.push_back(path);
                types.push_back(path->GetWaterType());
            }
    for (unsigned i = 0; i < m_numWaveSets; ++i)
        if (const WaterWaveSet* waves = m_waveSets[i])
            if (waves->GetNumControlPoints() > 1)
                waveSets.push_back(waves);

    writer.WriteUInt32(magic);
    writer.WriteUInt32(version);
    writer.WriteUInt32(static_cast<uint32_t>(types.size()));
    writer.WriteUInt32(static_cast<uint32_t>(layers.size()));
    writer.WriteUInt32(static_cast<uint32_t>(paths.size()));
    writer.WriteUInt32(static_cast<uint32_t>(waveSets.size()));
    for (const WaterType* type : types)
        type->Save(writer);
    for (const WaterLayer* layer : layers)
        layer->Save(writer);
    for (const WaterPath* path : paths)
        path->Save(writer);
    for (const WaterWaveSet* waves : waveSets)
        waves->Save(writer);
}

void Water::Cleanup()
{
    for (unsigned i = 0; i < m_numLayers; ++i)
        if (WaterLayer* layer = m_layers[i]) {
            layer->Cleanup();
            if (layer->GetNumBlocks() == 0)
                RemoveWaterLayer(layer);
        }
    for (unsigned i = 0; i < m_numPaths; ++i)
        if (m_paths[i] && m_paths[i]->GetNumControlPoints() < 2)
            RemoveWaterCurve(m_paths[i]);
    for (unsigned i = 0; i < m_numWaveSets; ++i)
        if (m_waveSets[i] && m_waveSets[i]->GetNumControlPoints() < 2)
            RemoveWaterCurve(m_waveSets[i]);
}

void Water::LogInfo() const
{
    LogPrintf(0, "   size: (%u, %u)", m_sizeX, m_sizeZ);
    LogPrintf(0, "   numBlocks: (%u, %u)", m_blocksX, m_blocksZ);
    LogPrintf(0, "   numLayers: %u", m_numLayers);
    LogPrintf(0, "   numPaths: %u", m_numPaths);
}

} // namespace GAME
