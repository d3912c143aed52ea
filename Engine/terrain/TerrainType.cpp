#include "terrain/TerrainType.h"

#include "data/LoadTable.h"
#include "data/ResourceLoader.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "world/Engine.h"

#include <algorithm>
#include <cmath>

namespace GAME {

GAME_REGISTER_CLASS(TerrainType, Object)

namespace {

GraphicsEngine* Graphics()
{
    return gEngine ? gEngine->GetGraphicsEngine() : nullptr;
}

GraphicsTexture* TakeTexture(const std::string& fileName)
{
    GraphicsEngine* graphics = Graphics();
    return graphics && !fileName.empty() ? graphics->LoadTexture(fileName) : nullptr;
}

void GiveBack(GraphicsTexture*& texture)
{
    if (texture)
        if (GraphicsEngine* graphics = Graphics())
            graphics->UnloadTexture(texture);
    texture = nullptr;
}

int PixelShaderVersion()
{
    GraphicsEngine* graphics = Graphics();
    return graphics ? graphics->GetPixelShaderVersion() : 0;
}

// Queued on its loader ahead of the others (an immediate pre-load).
void PreLoadTexture(GraphicsTexture* texture)
{
    if (ResourceLoader* loader = texture ? texture->GetResourceLoader() : nullptr)
        loader->EnqueueResource(texture, RESOURCE_PRIORITY_HIGH, false);
}

// The device texture of the resource's current frame; null without a resource.
RenderTexture* DeviceTexture(GraphicsTexture* texture)
{
    return texture ? texture->GetTexture() : nullptr;
}

const Name& BaseTextureName()
{
    static const Name name = Name::Create("baseTexture");
    return name;
}

} // namespace

TerrainType::TerrainType() : m_miniMapColor(0.0f, 0.0f, 0.0f, 1.0f) {}

TerrainType::~TerrainType()
{
    GiveBackTextures();
}

void TerrainType::GiveBackTextures()
{
    for (GraphicsTexture*& texture : m_textures)
        GiveBack(texture);
    for (GraphicsTexture*& texture : m_bumpMaps)
        GiveBack(texture);
    m_textures.clear();
    m_bumpMaps.clear();
    GiveBack(m_bladeTexture);
}

PhysicsSurface TerrainType::SurfaceFromName(const std::string& name)
{
    static const char* const names[] = {"Unwalkable", "Grass", "Dirt", "Sand",
                                        "Snow",       "Stone", "Wood", "Water"};
    for (PhysicsSurface i = 0; i < sizeof(names) / sizeof(names[0]); ++i)
        if (name == names[i])
            return i;
    return unknownSurface;
}

void TerrainType::Load(const LoadTable& constTable)
{
    Object::Load(constTable);
    LoadTable& table = const_cast<LoadTable&>(constTable);
    m_actorName = table.GetValue("ActorName", "");
    m_minimumBladeOpacity = static_cast<uint32_t>(table.GetInt("MinimumBladeOpacity", 0));
    m_variationProbabilities.clear();
    table.GetArrayInt("VariationProbability", m_variationProbabilities);
    m_variationClumpiness.clear();
    table.GetArrayReal("VariationClumpiness", m_variationClumpiness);
    m_noiseScale.clear();
    table.GetArrayReal("NoiseScale", m_noiseScale);
    m_bladeWidth = table.GetFloat("BladeWidth", 1.0f);
    m_bladeHeight = table.GetFloat("BladeHeight", 1.5f);
    m_bladeSpacing = static_cast<uint32_t>(table.GetInt("BladeSpacing", 0));
    m_numBladeVariations = static_cast<uint32_t>(table.GetInt("BladeVariations", 1));
    const float scale = 1.0f / 255.0f;
    m_miniMapColor.r = static_cast<float>(table.GetInt("minimapRed", 0)) * scale;
    m_miniMapColor.g = static_cast<float>(table.GetInt("minimapGreen", 0)) * scale;
    m_miniMapColor.b = static_cast<float>(table.GetInt("minimapBlue", 0)) * scale;
    m_miniMapColor.a = 1.0f;
    m_bladeTextureFileName = table.GetValue("BladeTextureFileName", "");
    m_textureFileName = table.GetValue("TextureFileName1", "");
    m_bumpMapFileName = table.GetValue("BumpMapFileName1", "");
    m_surface = SurfaceFromName(table.GetValue("surfaceType", ""));
}

uint32_t TerrainType::GetMinimumBladeOpacity() const
{
    const float byte = static_cast<float>(m_minimumBladeOpacity) * 0.01f * 255.0f;
    return byte >= 255.0f ? 255u : static_cast<uint32_t>(byte);
}

GraphicsTexture* TerrainType::GetTexture(unsigned index) const
{
    return index < m_textures.size() ? m_textures[index] : nullptr;
}

GraphicsTexture* TerrainType::GetBumpMapTexture(unsigned index) const
{
    return index < m_bumpMaps.size() ? m_bumpMaps[index] : nullptr;
}

uint32_t TerrainType::GetRandomTexture(int seed) const
{
    // Remainders are taken so that a negative seed still picks a valid variation.
    auto wrap = [](int64_t value, int64_t count) { return ((value % count) + count) % count; };
    const uint32_t variations = m_numBladeVariations;
    if (m_variationProbabilities.size() != variations)
        return variations ? static_cast<uint32_t>(wrap(seed, variations)) : 0u;
    int64_t total = 0;
    for (int probability : m_variationProbabilities)
        total += probability;
    if (m_variationProbabilities.empty() || total <= 0)
        return 0;
    const int64_t r = wrap(seed, total);
    int64_t low = 0;
    for (size_t i = 0; i < m_variationProbabilities.size(); ++i) {
        const int64_t high = low + m_variationProbabilities[i];
        if (r >= low && r < high)
            return static_cast<uint32_t>(i);
        low = high;
    }
    return 0;
}

void TerrainType::LoadTextures()
{
    if (GraphicsTexture* texture = TakeTexture(m_textureFileName))
        m_textures.push_back(texture);
    if (PixelShaderVersion() >= 5)
        if (GraphicsTexture* bumpMap = TakeTexture(m_bumpMapFileName))
            m_bumpMaps.push_back(bumpMap);
    if (!m_bladeTextureFileName.empty()) {
        GiveBack(m_bladeTexture);
        m_bladeTexture = TakeTexture(m_bladeTextureFileName);
    }
}

void TerrainType::ReloadBumpmaps()
{
    for (GraphicsTexture*& texture : m_bumpMaps)
        GiveBack(texture);
    m_bumpMaps.clear();
    if (PixelShaderVersion() >= 5)
        if (GraphicsTexture* bumpMap = TakeTexture(m_bumpMapFileName))
            m_bumpMaps.push_back(bumpMap);
}

void TerrainType::PreLoad(bool immediate)
{
    if (!immediate)
        return;
    for (GraphicsTexture* texture : m_textures)
        PreLoadTexture(texture);
    for (GraphicsTexture* texture : m_bumpMaps)
        PreLoadTexture(texture);
    if (m_bladeTexture)
        PreLoadTexture(m_bladeTexture);
}

void TerrainType::SetShaderParams(GraphicsShader2* shader, unsigned) const
{
    static const Name bumpTexture = Name::Create("bumpTexture");
    if (!shader)
        return;
    if (!m_textures.empty())
        shader->SetTexture(BaseTextureName(), 0, DeviceTexture(m_textures.front()));
    if (!m_bumpMaps.empty())
        shader->SetTexture(bumpTexture, 0, DeviceTexture(m_bumpMaps.front()));
}

void TerrainType::SetGrassShaderParams(GraphicsShader2* shader) const
{
    static const Name bladeHeight = Name::Create("bladeHeight");
    if (!shader)
        return;
    if (m_bladeTexture)
        shader->SetTexture(BaseTextureName(), 0, DeviceTexture(m_bladeTexture));
    shader->SetFloat(bladeHeight, 0, m_bladeHeight);
}

} // namespace GAME
