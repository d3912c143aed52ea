#include "terrain/WaterType.h"

#include "core/Name.h"
#include "core/Thread.h"
#include "core/Time.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsNoiseGen.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/NoiseTexture.h"
#include "world/Engine.h"

#include <cmath>

namespace GAME {

namespace {

GraphicsEngine* Graphics()
{
    return gEngine ? gEngine->GetGraphicsEngine() : nullptr;
}

struct ParameterNames
{
    Name surfaceParams = Name::Create("surfaceParams");
    Name waterColor = Name::Create("waterColor");
    Name textureScale = Name::Create("textureScale");
    Name textureDirection = Name::Create("textureDirection");
    Name depthParams = Name::Create("depthParams");
    Name textureOffset = Name::Create("textureOffset");
    Name skyTexture = Name::Create("skyTexture");
    Name bumpTexture = Name::Create("bumpTexture");
};

const ParameterNames& Names()
{
    static const ParameterNames names;
    return names;
}

// The value minus its integer part, truncated towards zero.
float Fraction(float value)
{
    return value - std::trunc(value);
}

float DirectionRadians(float degrees)
{
    return degrees * 0.0055555557f * 3.1415927f;
}

} // namespace

WaterType::WaterType()
{
    SetDefaultValues();
}

WaterType::WaterType(const std::string& name) : m_name(name)
{
    SetDefaultValues();
}

WaterType::WaterType(const WaterType& other)
{
    CopyValues(other);
}

WaterType& WaterType::operator=(const WaterType& other)
{
    if (this != &other)
        CopyValues(other);
    return *this;
}

WaterType::~WaterType()
{
    UnloadResources();
}

void WaterType::CopyValues(const WaterType& other)
{
    m_minDepthOpacity = other.m_minDepthOpacity;
    m_maxDepthOpacity = other.m_maxDepthOpacity;
    m_minDepth = other.m_minDepth;
    m_maxDepth = other.m_maxDepth;
    m_scrollSpeed = other.m_scrollSpeed;
    m_smoothness = other.m_smoothness;
    m_specularity = other.m_specularity;
    m_reflectivity = other.m_reflectivity;
    m_direction = other.m_direction;
    m_textureScale = other.m_textureScale;
    m_waterColor = other.m_waterColor;
    m_scrollOffset = other.m_scrollOffset;
    m_name = other.m_name;
    m_skyTextureFile = other.m_skyTextureFile;
    m_noiseTextureRecord = other.m_noiseTextureRecord;
    // Textures and animation state belong to each type object.
    m_frameOfLastUpdate = 0;
    m_updatedOnce = false;
}

void WaterType::SetDefaultValues()
{
    m_minDepthOpacity = 0.0f;
    m_maxDepthOpacity = 0.8f;
    m_minDepth = 0.0f;
    m_maxDepth = 5.0f;
    m_scrollSpeed = 1.0f;
    m_smoothness = 4.0f;
    m_specularity = 100.0f;
    m_reflectivity = 1.0f;
    m_direction = 0.0f;
    m_textureScale = Vec2(16.0f, 16.0f);
    m_waterColor = Vec3(1.0f, 1.0f, 1.0f);
    m_scrollOffset = 0.0f;
    m_skyTextureFile = defaultSkyTexture;
    m_noiseTextureRecord = defaultNoiseRecord;
}

void WaterType::Save(BinaryWriter& writer) const
{
    writer.WriteUInt32(recordVersion);
    for (float value : {m_minDepthOpacity, m_maxDepthOpacity, m_minDepth, m_maxDepth, m_scrollSpeed,
                        m_smoothness, m_specularity, m_reflectivity, m_direction, m_textureScale.x,
                        m_textureScale.y, m_waterColor.x, m_waterColor.y, m_waterColor.z})
        writer.WriteFloat(value);
    writer.WriteString(m_name);
    writer.WriteString(m_skyTextureFile);
    writer.WriteString(m_noiseTextureRecord);
}

bool WaterType::Load(BinaryReader& reader)
{
    reader.ReadUInt32(); // the record's version: one form exists
    float* const fields[] = {&m_minDepthOpacity, &m_maxDepthOpacity, &m_minDepth,       &m_maxDepth,
                             &m_scrollSpeed,     &m_smoothness,      &m_specularity,    &m_reflectivity,
                             &m_direction,       &m_textureScale.x,  &m_textureScale.y, &m_waterColor.x,
                             &m_waterColor.y,    &m_waterColor.z};
    for (float* field : fields)
        *field = reader.ReadFloat();
    bool ok = reader.ReadString(m_name);
    ok = reader.ReadString(m_skyTextureFile) && ok;
    ok = reader.ReadString(m_noiseTextureRecord) && ok;
    return ok && !reader.Failed();
}

bool WaterType::HasFiniteValues() const
{
    for (float value : {m_minDepthOpacity, m_maxDepthOpacity, m_minDepth, m_maxDepth, m_scrollSpeed,
                        m_smoothness, m_specularity, m_reflectivity, m_direction, m_textureScale.x,
                        m_textureScale.y, m_waterColor.x, m_waterColor.y, m_waterColor.z})
        if (!std::isfinite(value))
            return false;
    return true;
}

void WaterType::LoadResources()
{
    GraphicsEngine* graphics = Graphics();
    if (!graphics)
        return;
    if (!m_skyTexture && !m_skyTextureFile.empty())
        m_skyTexture = graphics->LoadTexture(m_skyTextureFile);
    if (!m_bumpTexture)
        m_bumpPending = true;
    LoadBumpTexture();
}

void WaterType::LoadBumpTexture()
{
    // The noise generator lives on the main thread; elsewhere the texture waits for Update.
    if (!m_bumpPending || !IsMainThread() || !Graphics())
        return;
    m_bumpPending = false;
    if (!m_bumpTexture && !m_noiseTextureRecord.empty())
        if (GraphicsNoiseGen* noise = GraphicsNoiseGen::Get())
            m_bumpTexture = noise->LoadNoiseTexture(m_noiseTextureRecord);
}

void WaterType::ReloadSkyMap()
{
    GraphicsEngine* graphics = Graphics();
    if (m_skyTexture && graphics)
        graphics->UnloadTexture(m_skyTexture);
    m_skyTexture = nullptr;
    if (graphics && !m_skyTextureFile.empty())
        m_skyTexture = graphics->LoadTexture(m_skyTextureFile);
}

void WaterType::ReloadNoise()
{
    if (m_bumpTexture && GraphicsNoiseGen::HasInstantiated())
        GraphicsNoiseGen::Get()->UnloadNoiseTexture(m_bumpTexture);
    m_bumpTexture = nullptr;
    m_bumpPending = true;
    LoadBumpTexture();
}

void WaterType::UnloadResources()
{
    if (m_skyTexture) {
        if (GraphicsEngine* graphics = Graphics())
            graphics->UnloadTexture(m_skyTexture);
        m_skyTexture = nullptr;
    }
    if (m_bumpTexture) {
        if (GraphicsNoiseGen::HasInstantiated())
            GraphicsNoiseGen::Get()->UnloadNoiseTexture(m_bumpTexture);
        m_bumpTexture = nullptr;
    }
    m_bumpPending = false;
}

NoiseTexture* WaterType::TakeBumpTexture()
{
    NoiseTexture* texture = m_bumpTexture;
    m_bumpTexture = nullptr;
    m_bumpPending = false;
    return texture;
}

void WaterType::Update()
{
    if (gEngine) {
        const uint32_t frame = gEngine->GetFrameCount();
        if (m_updatedOnce && frame == m_frameOfLastUpdate)
            return;
        m_frameOfLastUpdate = frame;
    }
    m_updatedOnce = true;
    LoadBumpTexture();
    m_scrollOffset =
        Fraction(static_cast<float>(GetGameTime()) * 0.001f * m_scrollSpeed / UsableScale(m_textureScale.x));
}

void WaterType::SetShaderParams(GraphicsShader2* shader, const IntVec3& regionOffset) const
{
    if (!shader)
        return;
    const ParameterNames& names = Names();
    const float a = DirectionRadians(m_direction);
    const float scaleX = UsableScale(m_textureScale.x), scaleY = UsableScale(m_textureScale.y);
    shader->SetFloat3(names.surfaceParams, 0, Vec3(m_smoothness, m_specularity, m_reflectivity));
    shader->SetFloat3(names.waterColor, 0, m_waterColor);
    shader->SetFloat2(names.textureScale, 0, Vec2(1.0f / scaleX, 1.0f / scaleY));
    shader->SetFloat2(names.textureDirection, 0, Vec2(std::cos(a), std::sin(a)));
    const float depth[4] = {m_minDepth, m_maxDepth, m_minDepthOpacity, m_maxDepthOpacity};
    shader->SetFloat4(names.depthParams, 0, depth);
    shader->SetFloat2(names.textureOffset, 0,
                      Vec2(Fraction(static_cast<float>(regionOffset.x) / scaleX) + m_scrollOffset,
                           Fraction(static_cast<float>(regionOffset.z) / scaleY)));
    if (m_skyTexture)
        shader->SetTexture(names.skyTexture, 0, m_skyTexture->GetTexture());
    if (m_bumpTexture) {
        shader->SetTexture(names.bumpTexture, 0, m_bumpTexture->GetTexture());
        m_bumpTexture->SetNeedsUpdate(true);
    }
}

float WaterType::CalculateOpacity(float depth) const
{
    const float d = std::max(depth - m_minDepth, 0.0f);
    const float range = std::max(m_maxDepth - m_minDepth, 1.0f);
    const float t = std::min(d / range, 1.0f);
    return (1.0f - t) * m_minDepthOpacity + t * m_maxDepthOpacity;
}

Vec2 WaterType::CalculateVelocity() const
{
    const float a = DirectionRadians(m_direction);
    return Vec2(std::cos(a) * m_scrollSpeed, std::sin(a) * m_scrollSpeed);
}

float WaterType::UsableScale(float scale)
{
    return scale > 0.0f && std::isfinite(scale) ? scale : 1.0f;
}

} // namespace GAME
