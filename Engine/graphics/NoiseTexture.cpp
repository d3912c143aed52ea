#include "graphics/NoiseTexture.h"

#include "core/Log.h"
#include "core/Name.h"
#include "core/RandomUniformLocked.h"
#include "data/LoadTable.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsServices.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderSurface.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace GAME {

GAME_REGISTER_CLASS(NoiseTexture, Object)

namespace {

RenderDevice* Device()
{
    GraphicsEngine* graphics = GraphicsServices::Graphics();
    return graphics ? graphics->GetRenderDevice() : nullptr;
}

// The largest surface a noise texture may ask for.
constexpr unsigned int maxSize = 4096;

} // namespace

NoiseTexture::NoiseTexture()
{
    // The octaves start on different tiles.
    for (int i = 0; i < numLayers; ++i) {
        m_layers[i].currentTile = static_cast<uint32_t>(2 * i);
        m_layers[i].nextTile = static_cast<uint32_t>(2 * i + 1);
    }
}

NoiseTexture::~NoiseTexture()
{
    ReleaseRenderSurface();
}

void NoiseTexture::Load(const LoadTable& constTable)
{
    Object::Load(constTable);
    LoadTable& table = const_cast<LoadTable&>(constTable);
    const int size = table.GetInt("size", 0);
    m_size = size > 0 ? static_cast<unsigned int>(size) : 0u;
    if (m_size > maxSize) {
        LogPrintf(1, "Noise texture '%s' asks for a %u x %u surface; it is not made", GetObjectName().c_str(),
                  m_size, m_size);
        m_size = 0;
    }
    m_normalMap = table.GetBool("normalMap", false);
    for (int i = 0; i < numLayers; ++i) {
        m_layers[i].level = table.GetArrayReal("levels", static_cast<unsigned int>(i), 0.0f);
        m_layers[i].rate = table.GetArrayReal("rates", static_cast<unsigned int>(i), 0.0f);
    }
    InitalizeSurface();
}

bool NoiseTexture::InitalizeSurface()
{
    if (m_renderSurface)
        return true;
    if (m_size == 0)
        return false;
    RenderDevice* device = Device();
    if (!device)
        return false;
    m_renderSurface = device->CreateTextureSurface(static_cast<int>(m_size), static_cast<int>(m_size),
                                                   RENDER_FORMAT_RGBA, RENDER_FORMAT_NONE);
    m_surfaces[0] = m_renderSurface;
    if (!m_renderSurface)
        LogPrintf(1, "Noise texture '%s': the device made no %u x %u surface", GetObjectName().c_str(),
                  m_size, m_size);
    return m_renderSurface != nullptr;
}

void NoiseTexture::ReleaseRenderSurface()
{
    m_drawn = false;
    m_drawings = 0;
    m_heightDrawings = 0;
    m_renderSurface = nullptr;
    RenderDevice* device = Device();
    for (RenderSurface** ring : {m_surfaces, m_heightSurfaces})
        for (int i = 0; i < ringSize; ++i)
            if (ring[i]) {
                if (device)
                    device->DestroySurface(&ring[i]);
                ring[i] = nullptr;
            }
}

RenderSurface* NoiseTexture::MakeSurface(RenderSurface*& slot) const
{
    if (!slot && m_size > 0)
        if (RenderDevice* device = Device())
            slot = device->CreateTextureSurface(static_cast<int>(m_size), static_cast<int>(m_size),
                                                RENDER_FORMAT_RGBA, RENDER_FORMAT_NONE);
    return slot;
}

RenderSurface* NoiseTexture::BeginDraw()
{
    if (!m_renderSurface || !m_drawn)
        return m_renderSurface;
    // Drawing d goes into surface d of the ring and shows drawing d - showDelay, whose frame is done.
    if (m_drawings >= showDelay && m_surfaces[(m_drawings - showDelay) % ringSize])
        m_renderSurface = m_surfaces[(m_drawings - showDelay) % ringSize];
    // Without a surface of its own the drawing goes into the one shown, and is shown at once.
    RenderSurface* target = MakeSurface(m_surfaces[m_drawings % ringSize]);
    return target ? target : m_renderSurface;
}

void NoiseTexture::EndDraw(RenderSurface* drawn)
{
    if (!drawn)
        return;
    if (!m_drawn && drawn == m_renderSurface) {
        m_drawn = true;
        m_drawings = 1;
    } else if (m_drawn && drawn == m_surfaces[m_drawings % ringSize] && drawn != m_renderSurface) {
        ++m_drawings;
    }
}

RenderSurface* NoiseTexture::BeginHeights(RenderSurface*& previous)
{
    // Drawing h goes into surface h of the ring and converts the heights of drawing h - showDelay
    // (the latest there are before then; none at the first drawing: it converts its own).
    const unsigned int h = m_heightDrawings;
    previous = nullptr;
    for (unsigned int back = std::min(h, static_cast<unsigned int>(showDelay)); back > 0 && !previous; --back)
        previous = m_heightSurfaces[(h - back) % ringSize];
    RenderSurface* target = MakeSurface(m_heightSurfaces[h % ringSize]);
    // Without another surface the one drawn last is drawn and converted in the same drawing.
    if (!target) {
        previous = nullptr;
        return h > 0 ? m_heightSurfaces[(h - 1) % ringSize] : nullptr;
    }
    return target;
}

void NoiseTexture::EndHeights(RenderSurface* drawn)
{
    if (drawn && drawn == m_heightSurfaces[m_heightDrawings % ringSize])
        ++m_heightDrawings;
}

RenderTexture* NoiseTexture::GetTexture() const
{
    return m_renderSurface ? m_renderSurface->GetTexture() : nullptr;
}

void NoiseTexture::UpdateLayers(unsigned int tileCount, float elapsedMilliseconds,
                                RandomUniformLocked& random)
{
    if (tileCount == 0)
        return;
    for (Layer& layer : m_layers) {
        layer.phase += elapsedMilliseconds * 0.001f * layer.rate;
        if (!std::isfinite(layer.phase) || layer.phase < 0.0f)
            layer.phase = 0.0f;
        if (layer.phase >= 1.0f) {
            layer.currentTile = layer.nextTile % tileCount;
            layer.phase -= std::floor(layer.phase);
            const uint32_t r = static_cast<uint32_t>(random.IGenerate(0, static_cast<int>(tileCount) - 1));
            layer.nextTile = (r % tileCount + layer.currentTile) % tileCount;
        }
    }
}

void NoiseTexture::SetShaderParams(GraphicsShader2& shader, const std::vector<RenderTexture*>& tiles,
                                   int pass) const
{
    static const Name textureOffset = Name::Create("textureOffset");
    static const Name blendFactor = Name::Create("blendFactor");
    static const Name level = Name::Create("level");
    static const Name textureScale = Name::Create("textureScale");
    static const Name textures[8] = {Name::Create("texture0"), Name::Create("texture1"),
                                     Name::Create("texture2"), Name::Create("texture3"),
                                     Name::Create("texture4"), Name::Create("texture5"),
                                     Name::Create("texture6"), Name::Create("texture7")};

    auto tile = [&tiles](uint32_t index) { return index < tiles.size() ? tiles[index] : nullptr; };
    shader.SetFloat(textureOffset, 0, m_size > 0 ? 1.0f / static_cast<float>(m_size) : 0.0f);

    GraphicsEngine* graphics = GraphicsServices::Graphics();
    const int version = graphics ? graphics->GetPixelShaderVersion() : 0;
    if (version >= 5) {
        for (int i = 0; i < numLayers; ++i) {
            shader.SetTexture(textures[2 * i], 0, tile(m_layers[i].currentTile));
            shader.SetTexture(textures[2 * i + 1], 0, tile(m_layers[i].nextTile));
        }
        const float blend[4] = {m_layers[0].phase, m_layers[1].phase, m_layers[2].phase, m_layers[3].phase};
        const float levels[4] = {m_layers[0].level, m_layers[1].level, m_layers[2].level, m_layers[3].level};
        const float scales[4] = {1.0f, 2.0f, 4.0f, 8.0f};
        shader.SetFloat4(blendFactor, 0, blend);
        shader.SetFloat4(level, 0, levels);
        shader.SetFloat4(textureScale, 0, scales);
        return;
    }
    const Layer& a = m_layers[pass == 0 ? 0 : 2];
    const Layer& b = m_layers[pass == 0 ? 1 : 3];
    shader.SetTexture(textures[0], 0, tile(a.currentTile));
    shader.SetTexture(textures[1], 0, tile(a.nextTile));
    shader.SetTexture(textures[2], 0, tile(b.currentTile));
    shader.SetTexture(textures[3], 0, tile(b.nextTile));
    const float blend[4] = {a.phase, a.phase, a.phase, b.phase};
    const float levels[4] = {a.level, a.level, a.level, b.level};
    const float scales[4] = {pass == 0 ? 1.0f : 4.0f, pass == 0 ? 2.0f : 8.0f, 0.0f, 0.0f};
    shader.SetFloat4(blendFactor, 0, blend);
    shader.SetFloat4(level, 0, levels);
    shader.SetFloat4(textureScale, 0, scales);
}

} // namespace GAME
