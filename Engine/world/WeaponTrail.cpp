#include "world/WeaponTrail.h"

#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/Name.h"
#include "data/LoadTable.h"
#include "data/ResourceLoader.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/RenderablePass.h"
#include "world/WorldServices.h"

#include <algorithm>
#include <cmath>

namespace GAME {

GAME_REGISTER_CLASS(WeaponTrail, Entity)

namespace {

constexpr float kMinSegmentMove = 0.0001f;
constexpr float kFadedAlpha = 0.0001f;
constexpr float kCollapsedWidth = 0.01f;
// The placement's origin must be this far from its region's origin for the trail to grow.
constexpr float kMinOriginDistance = 0.1f;

Vec3 CatmullRom(const Vec3 (&p)[4], float t)
{
    const float t2 = t * t, t3 = t2 * t;
    return (p[1] * 2.0f + (p[2] - p[0]) * t + (p[0] * 2.0f - p[1] * 5.0f + p[2] * 4.0f - p[3]) * t2 +
            (p[1] * 3.0f - p[0] - p[2] * 3.0f + p[3]) * t3) *
           0.5f;
}

float Lerp(float a, float b, float t)
{
    return a + (b - a) * t;
}

} // namespace

WeaponTrail::WeaponTrail() : EffectGeometryEntity(1050) {}

void WeaponTrail::Load(const LoadTable& constTable)
{
    LoadTable& table = const_cast<LoadTable&>(constTable);
    m_color.r = static_cast<float>(table.GetInt("Red256", 0)) / 255.0f;
    m_color.g = static_cast<float>(table.GetInt("Green256", 0)) / 255.0f;
    m_color.b = static_cast<float>(table.GetInt("Blue256", 0)) / 255.0f;
    m_color.a = static_cast<float>(table.GetInt("Alpha256", 0)) / 255.0f;
    m_fadeTime = table.GetInt("MSFadeTime", 500);
    m_textureName = table.GetValue("Texture", "System/Textures/White.tex");
    ReplaceTexture(m_textureName);
    m_shaderName = table.GetValue("Shader", "Shaders/Effects/TrailAdditive.ssh");
    ReplaceShader(m_shaderName);
    m_shrinkSpeed = table.GetFloat("TrailShrinkSpeed", 7.0f);
    m_textureRepeat = table.GetBool("TextureRepeat", true);
    m_dragUVs = table.GetBool("DragUVs", true);
    m_textureDistance = table.GetFloat("TextureDistance", 1.0f);
    m_fadeAlpha = table.GetBool("FadeAlpha", true);
}

void WeaponTrail::PreLoad(bool inFirstFrustum)
{
    Entity::PreLoad(inFirstFrustum);
    if (ResourceLoader* loader = WorldServices::Loader()) {
        if (m_texture)
            loader->EnqueueResource(m_texture, RESOURCE_PRIORITY_HIGH, true);
        if (m_shader)
            loader->EnqueueResource(m_shader, RESOURCE_PRIORITY_HIGH, true);
    }
}

void WeaponTrail::InitialUpdate()
{
    Entity::InitialUpdate();
    CreateVertexFormat();
    SetDefaultAnchors();
    UpdateBoundingBox();
}

void WeaponTrail::UpdateBoundingBox()
{
    const Vec3 center = GetRegion() ? GetCoords().GetOrigin().GetRegionPosition() : Vec3();
    SetRegionBoundingBox(ABBox(center, Vec3(1.0f, 1.0f, 1.0f)));
}

void WeaponTrail::AddToScene(GraphicsSceneRenderer& renderer, const Frustum*)
{
    if (m_texture && m_shader && m_texture->GetIsReadyToUse() && m_shader->GetIsReadyToUse())
        renderer.AddRenderable(this, GetRegion());
}

void WeaponTrail::LogInfo() const
{
    LogPrintf(0, "WeaponTrail:");
    Entity::LogInfo();
}

void WeaponTrail::Start()
{
    UpdateBoundingBox();
    m_hasPreviousCoords = false;
    m_started = true;
}

// ---------------------------------------------------------------------------------------------
// Segments
// ---------------------------------------------------------------------------------------------

void WeaponTrail::SetDefaultAnchors()
{
    m_upperAnchor = Vec3(0.0f, 0.0f, 0.0f);
    m_lowerAnchor = Vec3(0.0f, 0.0f, -1.0f);
}

void WeaponTrail::GetAnchorPoints()
{
    static const Name anchors[4] = {Name::Create("Anchor1"), Name::Create("Anchor2"), Name::Create("Anchor3"),
                                    Name::Create("Anchor4")};
    const Entity* parent = GetParent();
    if (!parent)
        return;
    const int set = m_pointSetIndex == 0 ? 0 : 2;
    m_upperAnchor = parent->GetAttachedCoords(anchors[set]).GetOrigin().GetRegionPosition();
    m_lowerAnchor = parent->GetAttachedCoords(anchors[set + 1]).GetOrigin().GetRegionPosition();
    if (m_upperAnchor == Vec3() && m_lowerAnchor == Vec3())
        SetDefaultAnchors();
}

void WeaponTrail::UpdateSelf(int elapsed)
{
    Entity::UpdateSelf(elapsed);
    if (elapsed < 0)
        elapsed = 0;
    if (elapsed > resetElapsed)
        m_segments.clear();
    GetAnchorPoints();
    const Coords current = GetCoords().GetRegionCoords();
    if (!m_hasPreviousCoords || m_previousCoords.origin == Vec3())
        m_previousCoords = current;
    InternalUpdate(elapsed, m_previousCoords);
    CleanSegmentList();
    m_previousCoords = current;
    m_hasPreviousCoords = true;
    UpdateBoundingBox();
    FillPoints();
}

void WeaponTrail::InternalUpdate(int elapsed, const Coords& coords)
{
    if (!(coords.origin.Length() >= kMinOriginDistance))
        return;
    Segment segment;
    segment.upper = m_upperAnchor;
    segment.lower = m_lowerAnchor;
    segment.red = m_color.r;
    segment.green = m_color.g;
    segment.blue = m_color.b;
    segment.alpha = m_started ? m_color.a : 0.0f;
    bool add = m_segments.empty();
    if (!add) {
        const Segment& newest = m_segments.back();
        const float distance = (segment.upper - newest.upper).Length();
        const bool scaled = m_textureDistance > 0.0f && std::isfinite(m_textureDistance);
        segment.texCoord = newest.texCoord + (scaled ? distance / m_textureDistance : 0.0f);
        add = distance >= kMinSegmentMove;
    }
    if (add && static_cast<int>(m_segments.size()) < maxSegments)
        m_segments.push_back(segment);
    ScaleSegments(elapsed);
    DecrementAlpha(elapsed);
}

void WeaponTrail::ScaleSegments(int elapsed)
{
    // Held to 0 .. 1: a long frame collapses the ribbon onto its centre line, never through it.
    float f = 1.0f - static_cast<float>(elapsed) * 0.001f * m_shrinkSpeed;
    f = std::isfinite(f) ? std::clamp(f, 0.0f, 1.0f) : 1.0f;
    for (Segment& segment : m_segments) {
        const Vec3 middle = (segment.upper + segment.lower) * 0.5f;
        segment.upper = middle + (segment.upper - middle) * f;
        segment.lower = middle + (segment.lower - middle) * f;
    }
}

void WeaponTrail::DecrementAlpha(int elapsed)
{
    if (!m_fadeAlpha)
        return;
    const float step = m_fadeTime > 0 ? static_cast<float>(elapsed) / static_cast<float>(m_fadeTime) : 0.0f;
    for (Segment& segment : m_segments) {
        const float alpha = segment.alpha - step;
        segment.alpha = m_fadeTime > 0 && alpha > 0.0f ? alpha : 0.0f;
    }
}

void WeaponTrail::CleanSegmentList()
{
    size_t drop = 0;
    while (m_segments.size() - drop >= 2) {
        const Segment& oldest = m_segments[drop];
        const bool gone = m_fadeAlpha
                              ? oldest.alpha <= kFadedAlpha && m_segments[drop + 1].alpha <= kFadedAlpha
                              : (oldest.upper - oldest.lower).Length() <= kCollapsedWidth;
        if (!gone)
            break;
        ++drop;
    }
    m_segments.erase(m_segments.begin(), m_segments.begin() + static_cast<std::ptrdiff_t>(drop));
}

void WeaponTrail::GetUpperPoints(int pair, Vec3* points) const
{
    const size_t i = static_cast<size_t>(pair);
    points[1] = m_segments[i].upper;
    points[2] = m_segments[i + 1].upper;
    points[0] = i > 0 ? m_segments[i - 1].upper : points[1] * 2.0f - points[2];
    points[3] = i + 2 < m_segments.size() ? m_segments[i + 2].upper : points[2] * 2.0f - points[1];
}

void WeaponTrail::GetLowerPoints(int pair, Vec3* points) const
{
    const size_t i = static_cast<size_t>(pair);
    points[1] = m_segments[i].lower;
    points[2] = m_segments[i + 1].lower;
    points[0] = i > 0 ? m_segments[i - 1].lower : points[1] * 2.0f - points[2];
    points[3] = i + 2 < m_segments.size() ? m_segments[i + 2].lower : points[2] * 2.0f - points[1];
}

void WeaponTrail::FillPoints()
{
    m_points.clear();
    if (m_segments.size() < 2)
        return;
    m_points.push_back(m_segments.front());
    for (size_t i = 0; i + 1 < m_segments.size(); ++i) {
        const Segment& a = m_segments[i];
        const Segment& b = m_segments[i + 1];
        const float d = std::max((b.upper - a.upper).Length(), (b.lower - a.lower).Length());
        if (!(d <= maxJoinDistance))
            break; // the weapon jumped
        const int n = std::min(static_cast<int>(d * 10.0f), maxPointsBetweenSegments);
        const int steps = std::max(n, 1);
        Vec3 upper[4], lower[4];
        GetUpperPoints(static_cast<int>(i), upper);
        GetLowerPoints(static_cast<int>(i), lower);
        for (int s = 1; s <= steps; ++s) {
            if (static_cast<int>(m_points.size()) >= maxPoints)
                return;
            const float t = static_cast<float>(s) / static_cast<float>(steps);
            Segment point;
            point.upper = CatmullRom(upper, t);
            point.lower = CatmullRom(lower, t);
            point.texCoord = Lerp(a.texCoord, b.texCoord, t);
            point.red = Lerp(a.red, b.red, t);
            point.green = Lerp(a.green, b.green, t);
            point.blue = Lerp(a.blue, b.blue, t);
            point.alpha = Lerp(a.alpha, b.alpha, t);
            m_points.push_back(point);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Rendering
// ---------------------------------------------------------------------------------------------

bool WeaponTrail::BuildGeometry(const Coords& regionToScene, std::vector<EffectVertex>& vertices,
                                std::vector<uint32_t>& indices) const
{
    vertices.clear();
    indices.clear();
    if (m_points.size() < 2 || m_segments.size() < 2)
        return false;
    const int count = std::min(static_cast<int>(m_points.size()), maxPoints);
    const bool scaled = m_textureDistance > 0.0f && std::isfinite(m_textureDistance);
    vertices.reserve(static_cast<size_t>(count) * 2);
    float walked = 0.0f;
    float step = 0.0f;
    // From the newest point (the walk starts at the last one that fits) to the oldest.
    for (int k = 0; k < count; ++k) {
        const Segment& point = m_points[static_cast<size_t>(count - 1 - k)];
        if (k > 0) {
            step = (point.upper - m_points[static_cast<size_t>(count - k)].upper).Length();
            walked += step;
        }
        const float walkedU = scaled ? walked / m_textureDistance : 0.0f;
        const float stepU = scaled ? step / m_textureDistance : 0.0f;
        const float u = m_textureRepeat && !m_dragUVs ? point.texCoord : walkedU;
        // Without repeat the texture shows once; the rest of the trail is transparent.
        const float alpha = !m_textureRepeat && walkedU + stepU > 0.99f ? 0.0f : point.alpha;
        const uint32_t color = EffectGeometry::PackColor(Color(point.red, point.green, point.blue, alpha));
        EffectVertex upper, lower;
        upper.position = regionToScene.TransformPoint(point.upper);
        lower.position = regionToScene.TransformPoint(point.lower);
        upper.color = lower.color = color;
        upper.u = lower.u = u;
        upper.v = 0.0f;
        lower.v = 1.0f;
        vertices.push_back(upper);
        vertices.push_back(lower);
    }
    indices.reserve(static_cast<size_t>(count - 1) * 6);
    EffectGeometry::AppendRibbonIndices(indices, static_cast<uint32_t>(count));
    return true;
}

void WeaponTrail::RenderPass(const RenderablePass& pass, const Name&, GraphicsCanvas& canvas,
                             const GraphicsSceneRenderer& renderer)
{
    if (!m_vertexFormat)
        return;
    std::vector<EffectVertex> vertices;
    std::vector<uint32_t> indices;
    if (BuildGeometry(pass.regionToScene, vertices, indices))
        DrawGeometry(canvas, renderer, vertices, indices);
}

} // namespace GAME
