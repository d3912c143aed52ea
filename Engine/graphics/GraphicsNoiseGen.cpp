#include "graphics/GraphicsNoiseGen.h"

#include "core/Log.h"
#include "core/Name.h"
#include "core/ObjectManager.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsServices.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/NoiseTexture.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderSurface.h"
#include "graphics/RenderVertexBuffer.h"

#include <cctype>
#include <cstring>

namespace GAME {

namespace {

// The quad of the passes: position and texture coordinate, two floats each (16 bytes).
const VertexElement g_quadElements[2] = {
    {0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT2},
    {0, VERTEX_USAGE_TEXCOORD0, VERTEX_TYPE_FLOAT2},
};
const float g_quadVertices[16] = {-1.0f, -1.0f, 0.0f, 0.0f, -1.0f, 1.0f,  0.0f, 1.0f,
                                  1.0f,  1.0f,  1.0f, 1.0f, 1.0f,  -1.0f, 1.0f, 0.0f};
const uint16_t g_quadIndices[6] = {0, 1, 2, 0, 2, 3};
constexpr unsigned int quadStride = 16;

bool SameRecord(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

double GraphicsNoiseGen::TileNoise(uint32_t k)
{
    const uint32_t mixed = (k * k * 15731u + 789221u) * k - 771171059u;
    return 1.0 - static_cast<double>(mixed & 0x7fffffffu) * 9.31322574615e-10;
}

void GraphicsNoiseGen::MakeTileTexels(int index, uint8_t* texels)
{
    const uint32_t n = tileSize;
    const uint32_t seed = static_cast<uint32_t>(index) * tileSeedStep;
    auto noise = [seed](uint32_t column, uint32_t row) { return TileNoise(column + row * 521u + seed); };
    for (uint32_t y = 0; y < n; ++y) {
        // Unsigned on purpose: the neighbour before column 0 is 2^32 - 1 modulo 31.
        const uint32_t rows[3] = {(y - 1u) % (n - 1), y % (n - 1), (y + 1u) % (n - 1)};
        for (uint32_t x = 0; x < n; ++x) {
            const uint32_t columns[3] = {(x - 1u) % (n - 1), x % (n - 1), (x + 1u) % (n - 1)};
            const double corners = noise(columns[0], rows[0]) + noise(columns[2], rows[0]) +
                                   noise(columns[0], rows[2]) + noise(columns[2], rows[2]);
            const double sides = noise(columns[0], rows[1]) + noise(columns[2], rows[1]) +
                                 noise(columns[1], rows[0]) + noise(columns[1], rows[2]);
            const double v = corners / 16.0 + sides / 8.0 + noise(columns[1], rows[1]) / 4.0;
            texels[y * n + x] = static_cast<uint8_t>(static_cast<int>((v + 1.0) * 127.0));
        }
    }
}

GraphicsNoiseGen::GraphicsNoiseGen()
{
    m_graphics = GraphicsServices::Graphics();
    m_device = m_graphics ? m_graphics->GetRenderDevice() : nullptr;
    CreateDeviceObjects();
    if (m_graphics) {
        m_shader = m_graphics->LoadShader2(shaderName);
        if (m_shader)
            m_shader->EnsureAvailable();
        if (!m_shader || m_shader->GetInitResult() != Resource::INIT_SUCCESS)
            LogPrintf(1, "Failed to load shader '%s' for noise texture generation.", shaderName);
    }
}

GraphicsNoiseGen::~GraphicsNoiseGen()
{
    ObjectManager* objects = ObjectManager::HasInstantiated() ? ObjectManager::Get() : nullptr;
    for (Entry& entry : m_entries) {
        if (!entry.texture)
            continue;
        entry.texture->ReleaseRenderSurface();
        if (objects)
            objects->DestroyObjectEx(entry.texture, __FILE__, __LINE__);
        entry.texture = nullptr;
    }
    m_entries.clear();
    DestroyDeviceObjects();
    if (m_device && m_declaration)
        m_device->DestroyVertexDeclaration(&m_declaration);
    m_declaration = nullptr;
    if (m_graphics && m_shader)
        m_graphics->UnloadShader2(m_shader);
    m_shader = nullptr;
}

void GraphicsNoiseGen::CreateDeviceObjects()
{
    if (!m_device)
        return;
    if (!m_declaration)
        m_declaration = m_device->CreateVertexDeclaration(g_quadElements, 2);
    if (!m_vertexBuffer) {
        m_vertexBuffer = m_device->CreateVertexBuffer(RENDER_USAGE_STATIC, sizeof(g_quadVertices));
        if (void* data = m_vertexBuffer ? m_vertexBuffer->Lock() : nullptr) {
            std::memcpy(data, g_quadVertices, sizeof(g_quadVertices));
            m_vertexBuffer->Unlock();
        }
    }
    if (!m_indexBuffer) {
        m_indexBuffer = m_device->CreateIndexBuffer(6, 2);
        if (void* data = m_indexBuffer ? m_indexBuffer->Lock() : nullptr) {
            std::memcpy(data, g_quadIndices, sizeof(g_quadIndices));
            m_indexBuffer->Unlock();
        }
    }
    if (m_tiles.empty()) {
        m_tiles.resize(numTiles, nullptr);
        uint8_t texels[tileSize * tileSize];
        for (int i = 0; i < numTiles; ++i) {
            MakeTileTexels(i, texels);
            m_tiles[size_t(i)] = m_device->CreateTexture(tileSize, tileSize, texels, 0, RENDER_USAGE_STATIC);
        }
    }
    if (!m_declaration || !m_vertexBuffer || !m_indexBuffer)
        LogPrintf(1, "GraphicsNoiseGen: the device made no quad for noise textures");
}

void GraphicsNoiseGen::DestroyDeviceObjects()
{
    if (m_device) {
        for (RenderTexture*& tile : m_tiles)
            if (tile)
                m_device->DestroyTexture(&tile);
        if (m_vertexBuffer)
            m_device->DestroyVertexBuffer(&m_vertexBuffer);
        if (m_indexBuffer)
            m_device->DestroyIndexBuffer(&m_indexBuffer);
    }
    m_tiles.clear();
    m_vertexBuffer = nullptr;
    m_indexBuffer = nullptr;
}

NoiseTexture* GraphicsNoiseGen::LoadNoiseTexture(const std::string& recordName)
{
    for (Entry& entry : m_entries)
        if (entry.texture && SameRecord(entry.texture->GetObjectName(), recordName)) {
            ++entry.references;
            return entry.texture;
        }
    ObjectManager* objects = ObjectManager::Get();
    Object* object = objects ? objects->CreateObjectFromFile(recordName, 0, true) : nullptr;
    if (!object) {
        LogPrintf(1, "GraphicsNoiseGen: no noise texture could be made from '%s'", recordName.c_str());
        return nullptr;
    }
    if (!object->GetClassInfo().IsA(NoiseTexture::GetStaticClassInfo())) {
        LogPrintf(1, "GraphicsNoiseGen: '%s' is not a noise texture", recordName.c_str());
        objects->DestroyObjectEx(object, __FILE__, __LINE__);
        return nullptr;
    }
    auto* texture = static_cast<NoiseTexture*>(object);
    for (Entry& entry : m_entries)
        if (!entry.texture) {
            entry.texture = texture;
            entry.references = 1;
            return texture;
        }
    m_entries.push_back(Entry{texture, 1});
    return texture;
}

void GraphicsNoiseGen::UnloadNoiseTexture(NoiseTexture* texture)
{
    if (!texture)
        return;
    for (Entry& entry : m_entries)
        if (entry.texture == texture) {
            if (--entry.references > 0)
                return;
            // The surface goes now, while the device is certainly there; the object goes late.
            texture->ReleaseRenderSurface();
            if (ObjectManager* objects = ObjectManager::Get())
                objects->DestroyObjectEx(texture, __FILE__, __LINE__);
            entry.texture = nullptr;
            entry.references = 0;
            return;
        }
    LogPrintf(1, "GraphicsNoiseGen: a noise texture it does not hold was unloaded");
}

int GraphicsNoiseGen::GetReferenceCount(const NoiseTexture* texture) const
{
    for (const Entry& entry : m_entries)
        if (texture && entry.texture == texture)
            return entry.references;
    return 0;
}

void GraphicsNoiseGen::Update(GraphicsCanvas& canvas)
{
    Update(canvas, static_cast<float>(GraphicsServices::UpdateTime()));
}

void GraphicsNoiseGen::Update(GraphicsCanvas& canvas, float frameMilliseconds)
{
    for (Entry& entry : m_entries)
        if (entry.texture && entry.texture->GetNeedsUpdate()) {
            Generate(canvas, *entry.texture, frameMilliseconds);
            entry.texture->SetNeedsUpdate(false);
        }
}

void GraphicsNoiseGen::DrawQuad()
{
    RenderDrawRange range;
    range.numVertices = 4;
    range.primitiveCount = 2;
    m_device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
}

void GraphicsNoiseGen::Generate(GraphicsCanvas& canvas, NoiseTexture& texture, float frameMilliseconds)
{
    static const Name compositeBaseStyle = Name::Create("compositeBaseStyle");
    static const Name compositeAddStyle = Name::Create("compositeAddStyle");
    static const Name convertStyle = Name::Create("convertStyle");
    static const Name texture0 = Name::Create("texture0");

    const int size = static_cast<int>(texture.GetSize());
    // A texture of no size has nothing to draw into.
    if (size <= 0 || !m_device || !m_shader || !m_shader->GetIsReadyToUse() || !m_declaration ||
        !m_vertexBuffer || !m_indexBuffer)
        return;
    const int baseStyle = m_shader->FindStyleByName(compositeBaseStyle);
    const int addStyle = m_shader->FindStyleByName(compositeAddStyle);
    const int convert = m_shader->FindStyleByName(convertStyle);
    RenderSurface* savedTarget = canvas.GetTargetSurface();
    const Viewport savedViewport = canvas.GetViewport();
    const Viewport viewport(0, 0, size, size);

    texture.UpdateLayers(numTiles, frameMilliseconds, m_random);
    canvas.SetDefaultState();
    m_device->SetVertexDeclaration(m_declaration);
    m_device->SetStreamSource(0, m_vertexBuffer, 0, quadStride);
    m_device->SetIndices(m_indexBuffer);

    // A surface of the texture's own that no frame still being drawn reads (see BeginDraw).
    RenderSurface* own = texture.BeginDraw();
    const bool converting = texture.IsNormalMap() && convert != GraphicsShader2::noStyle;
    // A normal map: the heights into a surface of the texture's own, converted from heights drawn
    // drawings before (what this frame draws is converted by a later drawing).
    RenderSurface* previousHeights = nullptr;
    RenderSurface* target = converting ? texture.BeginHeights(previousHeights) : own;
    if (!target)
        return;
    canvas.SetTargetSurface(target);
    canvas.SetViewport(viewport);

    int pass = 0;
    for (int style : {baseStyle, addStyle}) {
        if (style != GraphicsShader2::noStyle && m_shader->Begin(style)) {
            texture.SetShaderParams(*m_shader, m_tiles, pass);
            m_shader->Render("GraphicsNoiseGen");
            DrawQuad();
            m_shader->End();
        }
        ++pass;
    }
    if (converting)
        texture.EndHeights(target);
    // On Mesa's llvmpipe (22.x) a draw that reads a texture a frame still being drawn drew into
    // makes the driver finish everything it has queued first: converting the heights of the
    // drawing just before made each frame wait here for all of the frame before (up to 37 ms on
    // eight processors). The heights converted are those of showDelay drawings before, whose
    // frame is done.
    if (converting && own) {
        RenderSurface* heights = previousHeights ? previousHeights : target;
        canvas.SetTargetSurface(own);
        canvas.SetViewport(viewport);
        if (m_shader->Begin(convert)) {
            texture.SetShaderParams(*m_shader, m_tiles, 0);
            m_shader->SetTexture(texture0, 0, heights->GetTexture());
            m_shader->Render("GraphicsNoiseGen");
            DrawQuad();
            m_shader->End();
        }
    }
    canvas.SetTargetSurface(savedTarget);
    canvas.SetViewport(savedViewport);
    if (!converting || own)
        texture.EndDraw(own);
}

void GraphicsNoiseGen::PreDeviceReset()
{
    DestroyDeviceObjects();
    for (Entry& entry : m_entries)
        if (entry.texture)
            entry.texture->ReleaseRenderSurface();
}

void GraphicsNoiseGen::PostDeviceReset()
{
    CreateDeviceObjects();
    for (Entry& entry : m_entries)
        if (entry.texture)
            entry.texture->InitalizeSurface();
}

} // namespace GAME
