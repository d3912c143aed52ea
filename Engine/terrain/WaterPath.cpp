#include "terrain/WaterPath.h"

#include "core/Color.h"
#include "core/Log.h"
#include "core/Plane.h"
#include "core/Ray.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "graphics/GraphicsPrimitiveDrawer.h"
#include "terrain/WaterPathSegment.h"
#include "terrain/WaterType.h"

#include <cmath>

namespace GAME {

WaterPath::WaterPath(unsigned index, Space<WaterElement>& tree, RenderDevice& device, Water* water)
    : WaterCurve(index, tree, device, water, CURVE_PATH)
{
}

bool WaterPath::Initialize(const char* typeName, float height, const ControlPoint& point)
{
    const bool typed = TakeWaterType(typeName);
    m_height = height;
    m_reflectionPlane.d = -height;
    UpdateReflectionPlane();
    return AddControlPoint(point) && typed;
}

void WaterPath::SetWaterType(const char* typeName)
{
    TakeWaterType(typeName);
    for (WaterElement* segment : m_segments)
        segment->SetWaterType(m_waterType);
}

WaterElement* WaterPath::MakeSegment()
{
    auto* segment = new WaterPathSegment(m_device);
    segment->SetWaterType(m_waterType);
    segment->SetReflectionPlane(&m_reflectionPlane);
    return segment;
}

void WaterPath::BuildSegment(unsigned i)
{
    WaterPathSegment* segment = GetSegment(i);
    const Vec2 scale = m_waterType ? m_waterType->TextureScale() : Vec2(1.0f, 1.0f);
    segment->Build(m_controlPoints[i], m_controlPoints[i + 1], m_height, i == 0, i + 1 == m_segments.size(),
                   scale, GetTerrain(), GetGridRegion());
    FileSegment(*segment);
}

void WaterPath::OnEndRemoved()
{
    // The new last segment fades out again.
    if (!m_segments.empty())
        UpdateSegment(static_cast<unsigned>(m_segments.size() - 1));
    UpdateReflectionPlane();
}

void WaterPath::UpdateHeight(float height)
{
    if (height == m_height || !std::isfinite(height))
        return;
    m_reflectionPlane.d = -height;
    m_reflectionPlane.box.center.y = height;
    WaterCurve::UpdateHeight(height);
}

void WaterPath::UpdateReflectionPlane()
{
    m_reflectionPlane.d = -m_height;
    if (m_segments.empty())
        return;
    ABBox bounds = m_segments.front()->GetBoundingBox();
    for (const WaterElement* segment : m_segments)
        bounds = bounds.Union(segment->GetBoundingBox());
    bounds.center.y = m_height;
    m_reflectionPlane.box = bounds;
}

float WaterPath::RayIntersection(const Ray& ray, float maxDistance, unsigned& segment, float& parameter) const
{
    const Plane plane(Vec3(0.0f, ray.direction.y < 0.0f ? 1.0f : -1.0f, 0.0f), Vec3(0.0f, m_height, 0.0f));
    const float distance = plane.IntersectRay(ray);
    if (!(distance < maxDistance))
        return gInfinity;
    const Vec3 point = ray.GetPoint(distance);
    const Vec2 hit(point.x, point.z);
    for (unsigned i = 0; i < m_segments.size() && i + 1 < m_controlPoints.size(); ++i) {
        const ControlPoint& a = m_controlPoints[i];
        const ControlPoint& b = m_controlPoints[i + 1];
        if (Vec2::Dot(hit - a.position, a.tangent) < 0.0f || Vec2::Dot(hit - b.position, b.tangent) > 0.0f)
            continue;
        // The nearest centre point, by halving until the interval is 0.05 wide.
        const Bezier centre = CentreCurve(a, b);
        float low = 0.0f, high = 1.0f;
        while (high - low > 0.05f) {
            const float middle = (low + high) * 0.5f;
            const Vec2 at = centre.At(middle);
            if (Vec2::Dot(centre.At(middle + 0.025f) - at, hit - at) <= 0.0f)
                high = middle;
            else
                low = middle;
        }
        const float t = (low + high) * 0.5f;
        if ((hit - centre.At(t)).Length() < (1.0f - t) * a.width + t * b.width) {
            segment = i;
            parameter = t;
            return distance;
        }
    }
    return gInfinity;
}

void WaterPath::CalcSurfaceVelocity(unsigned segment, float parameter, Vec3& velocity) const
{
    if (segment >= m_segments.size() || segment + 1 >= m_controlPoints.size() || !m_waterType)
        return;
    const Bezier centre = CentreCurve(m_controlPoints[segment], m_controlPoints[segment + 1]);
    const Vec2 direction = parameter < 0.95f ? centre.At(parameter + 0.05f) - centre.At(parameter)
                                             : m_controlPoints[segment + 1].tangent;
    const Vec2 flow = Unit(direction) * m_waterType->ScrollSpeed();
    velocity = Vec3(flow.x, 0.0f, flow.y);
}

void WaterPath::DrawEditing(GraphicsPrimitiveDrawer& drawer, const Vec3& offset)
{
    drawer.SetColor(Color(1.0f, 1.0f, 1.0f, 0.9f));
    for (unsigned i = 0; i < GetNumSegments(); ++i) {
        const WaterPathSegment* segment = GetSegment(i);
        const std::vector<WaterVertex>& vertices = segment->GetVertices();
        const unsigned rows = segment->GetNumSubdivisions() + 1;
        const unsigned across = WaterPathSegment::rowVertices;
        drawer.Begin(GraphicsPrimitiveDrawer::LINES);
        for (unsigned row = 0; row + 1 < rows; ++row)
            for (unsigned edge : {0u, across - 1}) {
                const WaterVertex& a = vertices[row * across + edge];
                const WaterVertex& b = vertices[(row + 1) * across + edge];
                drawer.SetVertex(Vec3(a.position[0], a.position[1], a.position[2]) + offset);
                drawer.SetVertex(Vec3(b.position[0], b.position[1], b.position[2]) + offset);
            }
        drawer.End();
    }
    WaterCurve::DrawEditing(drawer, offset);
}

bool WaterPath::Load(BinaryReader& reader, unsigned)
{
    DestroySegments();
    m_controlPoints.clear();
    ReleaseWaterType();
    std::string typeName;
    reader.ReadString(typeName);
    const bool typed = TakeWaterType(typeName.c_str());
    if (!typed)
        LogPrintf(1, "Failed to load water type '%s' for water path.", typeName.c_str());
    const float height = reader.ReadFloat();
    std::vector<ControlPoint> points;
    const bool pointsOk = ReadControlPoints(reader, points);
    if (!typed || !pointsOk || !std::isfinite(height) || reader.Failed())
        return false;
    TakeControlPoints(height, std::move(points));
    return true;
}

void WaterPath::Save(BinaryWriter& writer) const
{
    const char* name = GetWaterTypeName();
    writer.WriteString(name ? name : "");
    writer.WriteFloat(m_height);
    WriteControlPoints(writer);
}

} // namespace GAME
