#include "world/LineEffect.h"

#include "core/Log.h"
#include "core/MathUtil.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/RenderablePass.h"
#include "world/Region.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace GAME {

GAME_REGISTER_CLASS(LineEffect, Entity)

LineEffect::LineEffect()
    : EffectGeometryEntity(1000), m_boundsMin(gInfinity, gInfinity, gInfinity),
      m_boundsMax(-gInfinity, -gInfinity, -gInfinity)
{
    ReplaceTexture("Sandbox/Brek/LightningTESTA.tex");
    ReplaceShader("Shaders/Effects/TrailAdditive.ssh");
    CreateVertexFormat();
}

void LineEffect::UpdateSelf(int elapsed)
{
    Entity::UpdateSelf(elapsed);
    if (!m_paused && elapsed > 0)
        m_elapsed = elapsed > INT_MAX - m_elapsed ? INT_MAX : m_elapsed + elapsed;
    if (m_pauseAtTarget && !m_reachedTarget && m_topPercent > 0.9999f) {
        m_paused = true;
        m_reachedTarget = true;
    }
}

void LineEffect::UpdateBoundingBox()
{
    const Vec3 center =
        GetRegion() ? GetCoords().GetOrigin().GetRegionPosition() : m_start.GetRegionPosition();
    Vec3 extents = (m_boundsMax - m_boundsMin) * 0.5f;
    // Bounds never set (min above max) or not finite: a box of no size.
    if (!IsFiniteVec3(extents) || extents.x < 0.0f || extents.y < 0.0f || extents.z < 0.0f)
        extents = Vec3();
    SetRegionBoundingBox(ABBox(center, extents));
}

void LineEffect::AddToScene(GraphicsSceneRenderer& renderer, const Frustum*)
{
    renderer.AddRenderable(this, GetRegion());
}

void LineEffect::LogInfo() const
{
    LogPrintf(0, "LineEffect:");
    Entity::LogInfo();
}

void LineEffect::SetTopBottomPercent(float top, float bottom)
{
    m_topPercent = top;
    m_bottomPercent = bottom;
}

void LineEffect::SetTexture(const char* name)
{
    ReplaceTexture(name ? name : "");
}

void LineEffect::SetShader(const char* name)
{
    ReplaceShader(name ? name : "");
}

// ---------------------------------------------------------------------------------------------
// Rendering
// ---------------------------------------------------------------------------------------------

bool LineEffect::GetVisibleRange(int count, float bottomPercent, float topPercent, int& first, int& end)
{
    auto index = [count](float percent) {
        if (count <= 0 || !(percent > 0.0f))
            return 0;
        const double value = std::trunc(static_cast<double>(count) * static_cast<double>(percent));
        return value >= static_cast<double>(count) ? count : static_cast<int>(value);
    };
    first = index(bottomPercent);
    end = index(topPercent);
    return end - first >= 2;
}

void LineEffect::BuildGeometry(const Coords& strandToScene, const Coords& camera,
                               std::vector<EffectVertex>& vertices, std::vector<uint32_t>& indices,
                               std::vector<Batch>& batches) const
{
    vertices.clear();
    indices.clear();
    batches.clear();
    for (const std::vector<Vec3>& strand : m_strands) {
        int first = 0, end = 0;
        if (GetVisibleRange(static_cast<int>(strand.size()), m_bottomPercent, m_topPercent, first, end))
            BuildStrand(strand, first, end, strandToScene, camera, vertices, indices, batches);
    }
}

void LineEffect::BuildStrand(const std::vector<Vec3>& strand, int first, int end, const Coords& strandToScene,
                             const Coords& camera, std::vector<EffectVertex>& vertices,
                             std::vector<uint32_t>& indices, std::vector<Batch>& batches) const
{
    const int count = end - first;
    std::vector<Vec3> points(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k)
        points[static_cast<size_t>(k)] = strandToScene.TransformPoint(strand[static_cast<size_t>(first + k)]);

    // One side vector for the whole strand, across it as the camera sees it.
    Vec3 strandSide = camera.xAxis;
    if (m_faceAlongStrand) {
        const Vec3 along = strandToScene.TransformVector(strand.front() - strand.back());
        const Vec3 side = Vec3::Cross(camera.zAxis, along);
        const float length = side.Length();
        if (length > 1e-12f && std::isfinite(length))
            strandSide = side / length;
    }

    const float stretch =
        m_textureStretch > 0.0f && std::isfinite(m_textureStretch) ? m_textureStretch : 0.0f;
    const float taper = static_cast<float>(m_taperPoints);
    const float fade = GetFadeMultiplier(0);
    float covered = 0.0f;
    std::vector<EffectVertex> ribbon(static_cast<size_t>(count) * 2);
    for (int k = 0; k < count; ++k) {
        const Vec3& p = points[static_cast<size_t>(k)];
        if (k > 0)
            covered += (strand[static_cast<size_t>(first + k)] - strand[static_cast<size_t>(first + k - 1)])
                           .Length();

        // Rises over the first taper points, falls over the last ones; the smaller ramp counts.
        float factor = 1.0f;
        if (m_taperPoints > 0)
            factor =
                std::min({1.0f, static_cast<float>(k) / taper, static_cast<float>(count - 1 - k) / taper});

        Vec3 side = strandSide;
        if (!m_faceAlongStrand) {
            const Vec3 direction = k + 1 < count ? points[static_cast<size_t>(k + 1)] - p
                                                 : p - points[static_cast<size_t>(k - 1)];
            const float dx = Vec3::Dot(direction, camera.xAxis);
            const float dy = Vec3::Dot(direction, camera.yAxis);
            const float angle = std::isfinite(dx) && std::isfinite(dy) ? std::atan2(dx, -dy) : 0.0f;
            side = camera.xAxis * std::cos(angle) + camera.yAxis * std::sin(angle);
        }

        const float half = 0.5f * m_width * factor;
        const float v = stretch > 0.0f ? covered / stretch : 0.0f;
        const uint32_t color = EffectGeometry::PackColor(m_color * (factor * fade));
        EffectVertex& a = ribbon[static_cast<size_t>(k) * 2];
        EffectVertex& b = ribbon[static_cast<size_t>(k) * 2 + 1];
        a.position = p + side * half;
        b.position = p - side * half;
        a.color = b.color = color;
        a.u = 0.0f;
        b.u = 1.0f;
        a.v = b.v = v;
    }

    // Batches of at most maxBatchPoints points; the next starts at the last point of the one before.
    for (int start = 0; start + 1 < count; start += maxBatchPoints - 1) {
        const int points = std::min(count - start, maxBatchPoints);
        Batch batch;
        batch.firstVertex = static_cast<uint32_t>(vertices.size());
        batch.vertexCount = static_cast<uint32_t>(points * 2);
        batch.firstIndex = static_cast<uint32_t>(indices.size());
        batch.indexCount = static_cast<uint32_t>((points - 1) * 6);
        vertices.insert(vertices.end(), ribbon.begin() + start * 2, ribbon.begin() + (start + points) * 2);
        EffectGeometry::AppendRibbonIndices(indices, static_cast<uint32_t>(points));
        batches.push_back(batch);
        if (start + points >= count)
            break;
    }
}

void LineEffect::RenderPass(const RenderablePass& pass, const Name&, GraphicsCanvas& canvas,
                            const GraphicsSceneRenderer& renderer)
{
    if (!m_start.GetRegion() || !pass.region)
        return;
    WorldVec3 start = m_start;
    start.MakeRelative(pass.region);
    const Coords strandToScene = pass.regionToScene * Coords::Translation(start.GetRegionPosition());
    std::vector<EffectVertex> vertices;
    std::vector<uint32_t> indices;
    std::vector<Batch> batches;
    BuildGeometry(strandToScene, renderer.GetCamera().GetCoords(), vertices, indices, batches);
    if (batches.empty() || !EffectGeometry::BeginShader(m_shader, m_texture, renderer))
        return;
    for (const Batch& batch : batches)
        EffectGeometry::DrawTriangles(canvas, m_vertexFormat, m_shader, vertices.data() + batch.firstVertex,
                                      batch.vertexCount, indices.data() + batch.firstIndex, batch.indexCount);
    EffectGeometry::EndShader(m_shader);
}

} // namespace GAME
