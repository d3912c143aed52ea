#include "terrain/TerrainRenderInterfaceBase.h"

#include "core/Frustum.h"
#include "core/Intersect.h"
#include "core/Log.h"
#include "core/Sphere.h"
#include "core/Vec2.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/Viewport.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderDynamicIndexBuffer.h"
#include "graphics/RenderTexture.h"
#include "scene/GraphicsSceneRenderer.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainBlock.h"
#include "terrain/TerrainType.h"
#include "world/Engine.h"

#include <algorithm>
#include <cstring>
#include <cfloat>

namespace GAME {

namespace {

GraphicsEngine* Graphics()
{
    return gEngine ? gEngine->GetGraphicsEngine() : nullptr;
}

struct Styles
{
    Name ambientLight = Name::Create("ambientLightStyle");
    Name dLightDiffuse = Name::Create("dLightDiffuseStyle");
    Name pLightDiffuse = Name::Create("pLightDiffuseStyle");
    Name dLightDiffuseAmbient = Name::Create("dLightDiffuseAmbientStyle");
    Name pLightDiffuseAmbient = Name::Create("pLightDiffuseAmbientStyle");
    Name depth = Name::Create("depthStyle");
    Name dShadowFilter = Name::Create("dShadowFilterStyle");
    Name pShadowFilter = Name::Create("pShadowFilterStyle");
    Name fog = Name::Create("fogStyle");
    Name reflection = Name::Create("reflectionStyle");
    Name none = Name::Create("None");
};

const Styles& GetStyles()
{
    static const Styles styles;
    return styles;
}

} // namespace

const Name& TerrainRenderInterfaceBase::ReflectionStyle()
{
    return GetStyles().reflection;
}

const Name& TerrainRenderInterfaceBase::FogStyle()
{
    return GetStyles().fog;
}

const Name& TerrainRenderInterfaceBase::NoStyle()
{
    return GetStyles().none;
}

TerrainRenderInterfaceBase::TerrainRenderInterfaceBase(const TerrainBase& terrain) : m_terrainBase(terrain)
{
    if (RenderDevice* device = TerrainBase::GetRenderDevice()) {
        const VertexElement elements[4] = {
            {0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3},
            {0, VERTEX_USAGE_NORMAL, VERTEX_TYPE_FLOAT3},
            {0, VERTEX_USAGE_TEXCOORD0, VERTEX_TYPE_FLOAT2},
            {1, VERTEX_USAGE_TEXCOORD1, VERTEX_TYPE_FLOAT2},
        };
        m_grassDeclaration = device->CreateVertexDeclaration(elements, 4);
    }
    if (GraphicsEngine* graphics = Graphics()) {
        m_lowQualityShader = graphics->LoadShader2(lowQualityShaderName);
        m_standardShader = graphics->LoadShader2(standardShaderName);
        m_grassShader = graphics->LoadShader2(grassShaderName);
    }
    m_currentShader = m_standardShader;
}

TerrainRenderInterfaceBase::~TerrainRenderInterfaceBase()
{
    if (GraphicsEngine* graphics = Graphics()) {
        for (GraphicsShader2* shader : {m_lowQualityShader, m_standardShader, m_grassShader})
            if (shader)
                graphics->UnloadShader2(shader);
    }
    m_lowQualityShader = m_standardShader = m_grassShader = m_currentShader = nullptr;
    if (m_grassDeclaration)
        if (RenderDevice* device = TerrainBase::GetRenderDevice())
            device->DestroyVertexDeclaration(&m_grassDeclaration);
}

void TerrainRenderInterfaceBase::Update(const IntVec3& worldOffset, const Frustum&,
                                        const std::vector<TerrainObject*>& objects)
{
    // The quality first, so that blocks built below are built for it.
    GraphicsEngine* graphics = Graphics();
    m_lowQuality = graphics && graphics->UseLowQualityTerrain();
    m_currentShader = m_lowQuality ? m_lowQualityShader : m_standardShader;

    m_worldOffset = worldOffset;
    m_visibleBlocks.clear();
    Vec3 low(FLT_MAX, FLT_MAX, FLT_MAX), high(-FLT_MAX, -FLT_MAX, -FLT_MAX);
    for (TerrainObject* object : objects) {
        if (!object)
            continue;
        if (object->GetClassInfo().IsA(TerrainBlock::classInfo)) {
            TerrainBlock* block = static_cast<TerrainBlock*>(object);
            block->EnsureRenderData();
            m_visibleBlocks.push_back(block);
        }
        const ABBox& box = object->GetBoundingBox();
        low = Vec3::Min(low, box.GetMin());
        high = Vec3::Max(high, box.GetMax());
    }
    m_bounds = low.x <= high.x ? ABBox::FromMinMax(low, high) : ABBox();
}

int TerrainRenderInterfaceBase::GetNumRenderPasses(const Name&, RenderGenerationId) const
{
    return m_visibleBlocks.empty() ? 0 : 3;
}

int TerrainRenderInterfaceBase::GetRenderPassSortOrder(int pass, const Name&, RenderGenerationId) const
{
    switch (pass) {
    case PASS_SOLID:
        return -1;
    case PASS_GROUND:
        return 3;
    case PASS_GRASS:
        return 1000;
    default:
        return 0;
    }
}

namespace {

// Loaded (waiting for a load under way) and marked used, so that eviction passes it by.
const GraphicsShader2* Available(GraphicsShader2* shader)
{
    if (shader)
        shader->EnsureAvailable();
    return shader;
}

} // namespace

const GraphicsShader2* TerrainRenderInterfaceBase::GetLayerShader() const
{
    return Available(m_currentShader);
}

void TerrainRenderInterfaceBase::LoadShaders()
{
    for (GraphicsShader2* shader : {m_lowQualityShader, m_standardShader, m_grassShader})
        Available(shader);
}

const GraphicsShader2* TerrainRenderInterfaceBase::GetShader2(int pass, const Name&) const
{
    return pass == PASS_GRASS ? Available(m_grassShader) : GetLayerShader();
}

const Name& TerrainRenderInterfaceBase::GetSolidPassStyle(const Name& style, bool lowQuality, bool keepFog)
{
    const Styles& s = GetStyles();
    if (lowQuality) {
        if (style == s.ambientLight || style == s.dLightDiffuse || style == s.pLightDiffuse)
            return s.depth;
        if (style == s.dLightDiffuseAmbient)
            return s.dShadowFilter;
        if (style == s.pLightDiffuseAmbient)
            return s.pShadowFilter;
    } else {
        if (style == s.dLightDiffuseAmbient || style == s.pLightDiffuseAmbient || style == s.ambientLight)
            return s.depth;
        if (style == s.dLightDiffuse)
            return s.dShadowFilter;
        if (style == s.pLightDiffuse)
            return s.pShadowFilter;
    }
    if (keepFog && style == s.fog)
        return s.fog;
    return s.none;
}

const Name& TerrainRenderInterfaceBase::GetShaderStyle(int pass, const Name& style, RenderGenerationId) const
{
    if (pass == PASS_SOLID)
        return GetSolidPassStyle(style, m_lowQuality, true);
    if (pass == PASS_GROUND && style == GetStyles().fog)
        return GetStyles().none;
    return style;
}

Vec2 TerrainRenderInterfaceBase::GetTextureOffset(const IntVec3& worldOffset)
{
    return Vec2(static_cast<float>(worldOffset.x % 10) * 0.1f, static_cast<float>(worldOffset.z % 10) * 0.1f);
}

void TerrainRenderInterfaceBase::RenderPass(const RenderablePass& pass, const Name& style,
                                            GraphicsCanvas& canvas, const GraphicsSceneRenderer& renderer)
{
    TerrainRenderContext context;
    context.renderFlags = renderer.GetRenderFlags();
    context.worldToScreen = renderer.GetWorldToScreenMatrix();
    context.mapRendering = gEngine && gEngine->IsMapRendering();
    if (style == GetStyles().fog)
        context.clearAir = renderer.GetClearAir();
    RenderPass(pass, style, canvas, context);
}

void TerrainRenderInterfaceBase::RenderPass(const RenderablePass& pass, const Name& style,
                                            GraphicsCanvas& canvas, const TerrainRenderContext& context)
{
    switch (pass.passIndex) {
    case PASS_SOLID:
        RenderGroundSolid(pass, canvas, context);
        break;
    case PASS_GROUND:
        RenderGround(pass, canvas, context, style != GetStyles().reflection);
        break;
    case PASS_GRASS:
        if (!context.mapRendering)
            RenderGrass(pass, canvas, context);
        break;
    default:
        break;
    }
}

void TerrainRenderInterfaceBase::LogInfo() const
{
    LogPrintf(0, "TerrainRenderInterfaceBase:");
    LogPrintf(0, "   num blocks: %u", static_cast<unsigned>(m_visibleBlocks.size()));
    LogPrintf(0, "   world offset: (%i, %i, %i)", m_worldOffset.x, m_worldOffset.y, m_worldOffset.z);
    LogPrintf(0, "   bounds origin: (%f, %f, %f)", m_bounds.center.x, m_bounds.center.y, m_bounds.center.z);
    LogPrintf(0, "   bounds extents: (%f, %f, %f)", m_bounds.extents.x, m_bounds.extents.y,
              m_bounds.extents.z);
}

void TerrainRenderInterfaceBase::DrawLayerCountLabels(const Coords&) {}

void TerrainRenderInterfaceBase::WriteCellIndices(uint32_t* out, unsigned x, unsigned y, unsigned numX)
{
    const uint32_t a = x + numX * y; // (x, y)
    const uint32_t b = a + 1;        // (x + 1, y)
    const uint32_t c = a + numX;     // (x, y + 1)
    const uint32_t d = c + 1;        // (x + 1, y + 1)
    out[0] = d;
    out[1] = c;
    out[2] = a;
    out[3] = a;
    out[4] = b;
    out[5] = d;
}

unsigned TerrainRenderInterfaceBase::BuildIndices(TerrainBlock* const* blocks, size_t count, int layer,
                                                  unsigned numX, uint32_t* out) const
{
    unsigned written = 0;
    for (size_t i = 0; i < count; ++i) {
        const TerrainBlock* block = blocks[i];
        for (unsigned y = block->GetFirstCellY(); y <= block->GetLastCellY(); ++y)
            for (unsigned x = block->GetFirstCellX(); x <= block->GetLastCellX(); ++x)
                if (IsCellDrawn(x, y, layer)) {
                    WriteCellIndices(out + written, x, y, numX);
                    written += indicesPerCell;
                }
    }
    return written;
}

unsigned TerrainRenderInterfaceBase::BuildIndices(const std::vector<TerrainBlock*>& blocks, int layer,
                                                  unsigned numX, uint32_t* out) const
{
    return BuildIndices(blocks.data(), blocks.size(), layer, numX, out);
}

const std::vector<uint32_t>& TerrainRenderInterfaceBase::CellIndices(const TerrainBase& terrain, TerrainBlock& block,
                                                                     int layer, bool skipCovered) const
{
    // Keys: -2 the solid pass, 2 L the layer's cells, 2 L + 1 those not covered from above.
    const int key = layer < 0 ? -2 : 2 * layer + (skipCovered ? 1 : 0);
    if (const std::vector<uint32_t>* cached = block.FindCellIndices(key))
        return *cached;
    const unsigned numX = terrain.GetNumXSamples();
    std::vector<unsigned> above; // typed layers over this one in the block
    if (skipCovered && layer >= 0)
        for (unsigned other : block.GetLayers())
            if (other > static_cast<unsigned>(layer) && terrain.GetLayerTerrainType(other))
                above.push_back(other);
    const unsigned x0 = block.GetFirstCellX(), x1 = block.GetLastCellX();
    const unsigned y0 = block.GetFirstCellY(), y1 = block.GetLastCellY();
    auto covered = [&](unsigned x, unsigned y) {
        // The opacity between samples is filtered from the samples around the cell: one before
        // it to two after it, on both axes, all of them within the block.
        if (x == x0 || y == y0 || x + 1 > x1 || y + 1 > y1)
            return false;
        for (unsigned other : above) {
            if (!IsCellDrawn(x, y, static_cast<int>(other)))
                continue;
            bool opaque = true;
            for (unsigned sy = y - 1; sy <= y + 2 && opaque; ++sy)
                for (unsigned sx = x - 1; sx <= x + 2 && opaque; ++sx)
                    opaque = terrain.GetLayerOpacity(other, sx, sy) >= 255;
            if (opaque)
                return true;
        }
        return false;
    };
    std::vector<uint32_t> indices;
    indices.reserve(indicesPerBlock);
    for (unsigned y = y0; y <= y1; ++y)
        for (unsigned x = x0; x <= x1; ++x)
            if (IsCellDrawn(x, y, layer) && !(!above.empty() && covered(x, y))) {
                indices.resize(indices.size() + indicesPerCell);
                WriteCellIndices(indices.data() + indices.size() - indicesPerCell, x, y, numX);
            }
    return block.StoreCellIndices(key, std::move(indices));
}

bool TerrainRenderInterfaceBase::LayersBlendUnderDestination(const GraphicsShader2& shader)
{
    uint32_t source = 0, destination = 0;
    const int style = shader.GetCurrentStyle();
    return shader.GetStyleConstantState(style, GraphicsShader2::STATE_SOURCE_BLEND, source) &&
           shader.GetStyleConstantState(style, GraphicsShader2::STATE_DESTINATION_BLEND, destination) &&
           source == RENDER_BLEND_INV_DEST_ALPHA && destination == RENDER_BLEND_ONE;
}

Sphere TerrainRenderInterfaceBase::GetPassSphere(const RenderablePass& pass)
{
    return Sphere(Vec3(pass.lightSphere[0], pass.lightSphere[1], pass.lightSphere[2]), pass.lightSphere[3]);
}

void TerrainRenderInterfaceBase::SetPassMatrices(GraphicsShader2& shader, const RenderablePass& pass,
                                                 const TerrainRenderContext& context)
{
    static const Name objectToRegion = Name::Create("objectToRegionMatrix");
    static const Name objectToScreen = Name::Create("objectToScreenMatrix");
    static const Name regionToSceneOffset = Name::Create("regionToSceneOffset");
    // Ground vertices are in region space already.
    shader.SetFloat4x4(objectToRegion, 0, Mat4::Identity());
    shader.SetFloat4x4(objectToScreen, 0, context.worldToScreen * Mat4(pass.regionToScene));
    shader.SetFloat3(regionToSceneOffset, 0, pass.regionToScene.origin);
}

bool TerrainRenderInterfaceBase::BeginGround(RenderVertexBuffer* vertices,
                                             RenderVertexDeclaration* declaration, const RenderablePass& pass,
                                             GraphicsCanvas& canvas, const TerrainRenderContext& context,
                                             RenderDevice*& device)
{
    device = canvas.GetRenderDevice();
    if (!(context.renderFlags & GraphicsSceneRenderer::RENDER_TERRAIN) || !m_currentShader || !vertices ||
        !declaration || !device || !canvas.GetDynamicIndexBuffer())
        return false;
    device->SetStreamSource(0, vertices, 0, 24);
    device->SetVertexDeclaration(declaration);
    m_currentShader->Begin();
    SetPassMatrices(*m_currentShader, pass, context);
    return true;
}

int TerrainRenderInterfaceBase::DrawCells(const TerrainBase& terrain,
                                          const std::vector<TerrainBlock*>& blocks, GraphicsCanvas& canvas,
                                          RenderDevice& device, int layer, const char* technique,
                                          const std::function<void()>& beforeFirstDraw, bool skipCovered)
{
    RenderDynamicIndexBuffer* indices = canvas.GetDynamicIndexBuffer();
    if (!indices || blocks.empty())
        return 0;
    // A view over more blocks than the buffer holds is drawn in several batches.
    const size_t perLock = std::max<size_t>(1, indices->GetSize() / indicesPerBlock);
    const uint32_t numVertices = terrain.GetNumXSamples() * terrain.GetNumYSamples();
    int triangles = 0;
    bool begun = false;
    for (size_t start = 0; start < blocks.size(); start += perLock) {
        const size_t count = std::min(perLock, blocks.size() - start);
        uint32_t* out = indices->Lock(static_cast<unsigned>(count * indicesPerBlock));
        if (!out) {
            LogPrintf(2, "Couldn't lock index buffer for rendering");
            break;
        }
        unsigned written = 0;
        for (size_t i = start; i < start + count; ++i) {
            const std::vector<uint32_t>& cells = CellIndices(terrain, *blocks[i], layer, skipCovered);
            if (!cells.empty())
                std::memcpy(out + written, cells.data(), cells.size() * sizeof(uint32_t));
            written += static_cast<unsigned>(cells.size());
        }
        indices->Unlock();
        if (written == 0)
            continue;
        if (!begun) {
            if (beforeFirstDraw)
                beforeFirstDraw();
            begun = true;
        }
        m_currentShader->Render(technique);
        indices->SetAsIndices();
        RenderDrawRange range = indices->GetDrawRange(written, written / 3, 0, 0);
        range.numVertices = numVertices;
        device.DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
        triangles += static_cast<int>(written / 3);
    }
    return triangles;
}

// ---- The passes -----------------------------------------------------------------------------------

void TerrainRenderInterfaceBase::GetBlocksInLayer(unsigned layer, std::vector<TerrainBlock*>& out,
                                                  const Sphere& sphere)
{
    out.reserve(m_visibleBlocks.size());
    for (TerrainBlock* block : m_visibleBlocks) {
        if (sphere.radius > 0.0f && !ABBoxIntersectsSphere(block->GetBoundingBox(), sphere))
            continue;
        block->EnsureRenderData();
        if (block->HasLayer(layer))
            out.push_back(block);
    }
}

void TerrainRenderInterfaceBase::RenderGroundSolid(const RenderablePass& pass, GraphicsCanvas& canvas,
                                                   const TerrainRenderContext& context)
{
    const TerrainBase& terrain = m_terrainBase;
    RenderDevice* device = nullptr;
    if (!BeginGround(terrain.GetGroundVertexBuffer(), terrain.GetVertexDeclaration(), pass, canvas, context,
                     device))
        return;
    const Sphere sphere = GetPassSphere(pass);
    std::vector<TerrainBlock*> blocks;
    blocks.reserve(m_visibleBlocks.size());
    for (TerrainBlock* block : m_visibleBlocks)
        if ((sphere.radius <= 0.0f || ABBoxIntersectsSphere(block->GetBoundingBox(), sphere)) &&
            !context.clearAir.Contains(block->GetBoundingBox(), pass.regionToScene))
            blocks.push_back(block);
    DrawCells(terrain, blocks, canvas, *device, -1, "TerrainGroundSolid", nullptr);
    m_currentShader->End();
}

void TerrainRenderInterfaceBase::RenderGround(const RenderablePass& pass, GraphicsCanvas& canvas,
                                              const TerrainRenderContext& context, bool reverse)
{
    static const Name textureOffset = Name::Create("textureOffset");
    static const Name textureScale = Name::Create("textureScale");
    static const Name opacityTexture = Name::Create("opacityTexture");
    const TerrainBase& terrain = m_terrainBase;
    RenderDevice* device = nullptr;
    if (!BeginGround(terrain.GetGroundVertexBuffer(), terrain.GetVertexDeclaration(), pass, canvas, context,
                     device))
        return;
    GraphicsShader2* shader = m_currentShader;
    const unsigned x = terrain.GetNumXSamples(), y = terrain.GetNumYSamples();
    shader->SetFloat2(textureOffset, 0, GetTextureOffset(m_worldOffset));
    shader->SetFloat2(textureScale, 0,
                      Vec2(x > 1 ? 1.0f / static_cast<float>(x - 1) : 0.0f,
                           y > 1 ? 1.0f / static_cast<float>(y - 1) : 0.0f));
    const Sphere sphere = GetPassSphere(pass);
    const unsigned layers = terrain.GetNumTextureLayers();
    // Top layer first under the destination's alpha: what an opaque layer covers is not drawn again.
    const bool skipCovered = reverse && LayersBlendUnderDestination(*shader);
    std::vector<TerrainBlock*> blocks;
    for (unsigned i = 0; i < layers; ++i) {
        const unsigned layer = reverse ? layers - 1 - i : i;
        const TerrainType* type = terrain.GetLayerTerrainType(layer);
        if (!type)
            continue;
        blocks.clear();
        GetBlocksInLayer(layer, blocks, sphere);
        if (blocks.empty())
            continue;
        const int drawn =
            DrawCells(terrain, blocks, canvas, *device, static_cast<int>(layer), "TerrainGround", [&] {
                shader->Begin();
                type->SetShaderParams(shader, 0);
                shader->SetTexture(opacityTexture, 0, terrain.GetLayerOpacityTexture(layer));
            }, skipCovered);
        if (drawn > 0)
            shader->End();
    }
    shader->End();
}

float TerrainRenderInterfaceBase::NearestDepth(const Mat4& regionToScreen, const ABBox& box)
{
    // The clip w of a perspective projection is the depth along the view; its smallest value over
    // the box's corners.
    float nearest = FLT_MAX;
    for (int corner = 0; corner < 8; ++corner) {
        const Vec3 p(box.center.x + ((corner & 1) ? box.extents.x : -box.extents.x),
                     box.center.y + ((corner & 2) ? box.extents.y : -box.extents.y),
                     box.center.z + ((corner & 4) ? box.extents.z : -box.extents.z));
        nearest = std::min(nearest, regionToScreen.Get(3, 0) * p.x + regionToScreen.Get(3, 1) * p.y +
                                        regionToScreen.Get(3, 2) * p.z + regionToScreen.Get(3, 3));
    }
    return nearest;
}

float TerrainRenderInterfaceBase::GetGrassReach(const TerrainType& type, const Mat4& regionToScreen,
                                                const Viewport& viewport)
{
    // Only a perspective projection (w growing with depth) makes blades shrink with distance.
    const Vec3 depthRow(regionToScreen.Get(3, 0), regionToScreen.Get(3, 1), regionToScreen.Get(3, 2));
    GraphicsTexture* texture = type.GetBladeTexture();
    const uint32_t variations = type.GetNumBladeVariations();
    if (depthRow.LengthSquared() <= 0.0f || !texture || variations == 0 || viewport.width <= 0 ||
        viewport.height <= 0 || type.GetBladeWidth() <= 0.0f)
        return 0.0f;
    const float texels = static_cast<float>(texture->GetWidth()) / static_cast<float>(variations);
    if (texels <= 0.0f)
        return 0.0f;
    // Pixels a unit spans at depth 1, the larger across the screen's two axes (the depth row is
    // a unit vector for the engine's cameras; divided out for any other).
    const float depthScale = depthRow.Length();
    const float across = Vec3(regionToScreen.Get(0, 0), regionToScreen.Get(0, 1), regionToScreen.Get(0, 2)).Length() *
                         0.5f * static_cast<float>(viewport.width);
    const float up = Vec3(regionToScreen.Get(1, 0), regionToScreen.Get(1, 1), regionToScreen.Get(1, 2)).Length() *
                     0.5f * static_cast<float>(viewport.height);
    const float pixelsPerUnit = std::max(across, up) / depthScale;
    // A whole blade (two half widths), face on: it spans bladeWidth * pixelsPerUnit / depth
    // pixels for its texels. With a mip chain, past the depth where each pixel takes
    // 2^grassFadedMipLevel texels the blade texture is sampled from its minified levels, where
    // blades a texel or two wide no longer reach the alpha test's reference. Without one the
    // blades never fade: they go only where a whole blade spans less than a pixel.
    const RenderTexture* levels = texture->GetTexture();
    if (levels && levels->GetLevelCount() > static_cast<int>(grassFadedMipLevel)) {
        const float bladePixelsAtUnitDepth = 2.0f * type.GetBladeWidth() * pixelsPerUnit;
        return bladePixelsAtUnitDepth * static_cast<float>(1u << grassFadedMipLevel) / texels * depthScale;
    }
    return std::max(2.0f * type.GetBladeWidth(), type.GetBladeHeight()) * pixelsPerUnit * depthScale;
}

ABBox TerrainRenderInterfaceBase::GetGrassBox(const TerrainBlock& block, const TerrainType& type)
{
    // The blades stand on the block's ground, as tall as the type's blades at most, and reach
    // sideways by half a blade's width and as far as the wind bends their tops.
    const ABBox& ground = block.GetBoundingBox();
    const float height = std::max(type.GetBladeHeight(), 0.0f);
    const float side = std::max(type.GetBladeWidth(), 0.0f) + block.GetWindReach();
    return ABBox(ground.center + Vec3(0.0f, height * 0.5f, 0.0f),
                 ground.extents + Vec3(side, height * 0.5f, side));
}

void TerrainRenderInterfaceBase::RenderGrass(const RenderablePass& pass, GraphicsCanvas& canvas,
                                             const TerrainRenderContext& context)
{
    static const Name objectToWorld = Name::Create("objectToWorldMatrix");
    static const Name objectToScreen = Name::Create("objectToScreenMatrix");
    static const Name terrainOffset = Name::Create("terrainOffset");
    const TerrainBase& terrain = m_terrainBase;
    RenderIndexBuffer* indices = terrain.GetGrassIndexBuffer();
    RenderDevice* device = canvas.GetRenderDevice();
    GraphicsShader2* shader = m_grassShader;
    if (!(context.renderFlags & GraphicsSceneRenderer::RENDER_GRASS) || !shader || !device || !indices ||
        !m_grassDeclaration)
        return;
    device->SetIndices(indices);
    device->SetVertexDeclaration(m_grassDeclaration);
    shader->Begin();
    shader->SetFloat4x4(objectToWorld, 0, Mat4::Identity());
    shader->SetFloat4x4(objectToScreen, 0, context.worldToScreen * Mat4(pass.regionToScene));
    shader->SetFloat3(terrainOffset, 0, pass.regionToScene.origin);
    const Sphere sphere = GetPassSphere(pass);
    const Mat4 regionToScreen = context.worldToScreen * Mat4(pass.regionToScene);
    const Viewport& viewport = canvas.GetViewport();
    std::vector<TerrainBlock*> blocks;
    for (unsigned layer = 0; layer < terrain.GetNumTextureLayers(); ++layer) {
        blocks.clear();
        GetBlocksInLayer(layer, blocks, sphere);
        const TerrainType* type = terrain.GetLayerTerrainType(layer);
        if (blocks.empty() || !type)
            continue;
        const float reach = GetGrassReach(*type, regionToScreen, viewport);
        shader->Begin();
        type->SetGrassShaderParams(shader);
        shader->Render("TerrainGrass");
        for (TerrainBlock* block : blocks) {
            const TerrainBlock::GrassRecord* record = block->GetGrassRecord(layer);
            if (!record || record->numBlades == 0 || !record->geometry.bladeBuffer ||
                !record->geometry.windBuffer)
                continue;
            if (reach > 0.0f && NearestDepth(regionToScreen, block->GetBoundingBox()) > reach)
                continue;
            block->NoteGrassDrawn();
            if (block->WindOffsetsStale())
                block->UploadWindOffsets(terrain);
            if (context.clearAir.any &&
                context.clearAir.Contains(GetGrassBox(*block, *type), pass.regionToScene))
                continue;
            device->SetStreamSource(0, record->geometry.bladeBuffer, 0, TerrainBlock::bladeVertexSize);
            device->SetStreamSource(1, record->geometry.windBuffer, 0, TerrainBlock::windVertexSize);
            RenderDrawRange range;
            range.numVertices = 4 * record->numBlades;
            range.primitiveCount = 2 * record->numBlades;
            device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
        }
        shader->End();
    }
    shader->End();
}

} // namespace GAME
