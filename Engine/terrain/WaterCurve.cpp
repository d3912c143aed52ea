#include "terrain/WaterCurve.h"

#include "core/Color.h"
#include "core/Intersect.h"
#include "core/Log.h"
#include "core/Plane.h"
#include "core/Ray.h"
#include "core/WorldCoords.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "graphics/GraphicsPrimitiveDrawer.h"
#include "terrain/WaterElement.h"

#include <cmath>

namespace GAME {

namespace {

// The seven floats of a point; the rest of its 64 bytes is zero.
constexpr unsigned kPointFloats = 7;
constexpr unsigned kPointPadding = WaterCurve::controlPointRecordBytes - kPointFloats * 4;

Vec3 OnPlane(const Vec2& p, float height, const Vec3& offset)
{
    return Vec3(p.x, height, p.y) + offset;
}

void DrawLine(GraphicsPrimitiveDrawer& drawer, const Vec3& a, const Vec3& b)
{
    drawer.Begin(GraphicsPrimitiveDrawer::LINES);
    drawer.SetVertex(a);
    drawer.SetVertex(b);
    drawer.End();
}

} // namespace

bool ControlPoint::IsUsable() const
{
    for (float value : {position.x, position.y, tangent.x, tangent.y, side.x, side.y, width})
        if (!(std::fabs(value) <= maxValue)) // false for not-a-number too
            return false;
    return true;
}

Vec2 WaterCurve::Bezier::At(float t) const
{
    return BezierPoint2D(p, t);
}

float WaterCurve::Bezier::Length(unsigned chords) const
{
    if (chords == 0)
        return 0.0f;
    float length = 0.0f;
    Vec2 previous = At(0.0f);
    for (unsigned k = 1; k <= chords; ++k) {
        const Vec2 next = At(static_cast<float>(k) / static_cast<float>(chords));
        length += (next - previous).Length();
        previous = next;
    }
    return length;
}

WaterCurve::WaterCurve(unsigned index, Space<WaterElement>& tree, RenderDevice& device, Water* water,
                       CurveType type)
    : WaterObject(index, tree, device, water), m_curveType(type)
{
}

WaterCurve::~WaterCurve()
{
    DestroySegments();
}

void WaterCurve::DestroySegments()
{
    for (WaterElement* segment : m_segments)
        DropSegment(segment);
    m_segments.clear();
}

void WaterCurve::DropSegment(WaterElement* segment)
{
    if (segment->IsInTree())
        m_tree.Remove(segment);
    delete segment;
}

void WaterCurve::FileSegment(WaterElement& segment)
{
    if (segment.IsInTree()) {
        Space<WaterElement>::RefreshBox(&segment);
        m_tree.UpdateObject(&segment);
    } else {
        m_tree.Insert(&segment);
    }
}

bool WaterCurve::AddControlPoint(const ControlPoint& point)
{
    if (!point.IsUsable())
        return false;
    m_controlPoints.push_back(point);
    m_currentControlPoint = static_cast<unsigned>(m_controlPoints.size() - 1);
    if (m_controlPoints.size() < 2)
        return true;
    m_segments.push_back(MakeSegment());
    BuildSegment(static_cast<unsigned>(m_segments.size() - 1));
    OnSegmentsBuilt();
    // The segment before is no longer the last one.
    if (m_segments.size() > 1)
        UpdateSegment(static_cast<unsigned>(m_segments.size() - 2));
    return true;
}

void WaterCurve::RemoveEndControlPoint()
{
    if (m_controlPoints.empty())
        return;
    if (!m_segments.empty()) {
        DropSegment(m_segments.back());
        m_segments.pop_back();
    }
    m_controlPoints.pop_back();
    m_currentControlPoint = m_controlPoints.empty() ? 0 : static_cast<unsigned>(m_controlPoints.size() - 1);
    OnEndRemoved();
}

void WaterCurve::UpdateSegment(unsigned segment)
{
    if (segment < m_segments.size() && segment + 1 < m_controlPoints.size())
        BuildSegment(segment);
}

void WaterCurve::Update()
{
    for (unsigned i = 0; i < m_segments.size(); ++i)
        BuildSegment(i);
    OnSegmentsBuilt();
}

void WaterCurve::UpdateHeight(float height)
{
    if (height == m_height || !std::isfinite(height))
        return;
    m_height = height;
    Update();
}

void WaterCurve::DestroySegmentGeometry()
{
    for (WaterElement* segment : m_segments)
        segment->ReleaseVertexBuffer();
}

void WaterCurve::TakeControlPoints(float height, std::vector<ControlPoint>&& points)
{
    m_height = height;
    m_controlPoints = std::move(points);
    m_currentControlPoint = m_controlPoints.empty() ? 0 : static_cast<unsigned>(m_controlPoints.size() - 1);
    for (size_t i = 1; i < m_controlPoints.size(); ++i)
        m_segments.push_back(MakeSegment());
    Update();
}

WaterCurve::Bezier WaterCurve::CentreCurve(const ControlPoint& a, const ControlPoint& b)
{
    return Bezier{{a.position, a.position + a.tangent, b.position - b.tangent, b.position}};
}

Vec2 WaterCurve::Unit(const Vec2& v, const Vec2& fallback)
{
    const float length = v.Length();
    if (!(length > 0.0f) || !std::isfinite(length))
        return fallback;
    return v * (1.0f / length);
}

Vec2 WaterCurve::SideOf(const Vec2& tangent)
{
    return Unit(Vec2(-tangent.y, tangent.x));
}

void WaterCurve::UpdateCurrentControlPoint()
{
    if (m_currentControlPoint >= m_controlPoints.size())
        return;
    if (m_currentControlPoint > 0)
        UpdateSegment(m_currentControlPoint - 1);
    if (m_currentControlPoint + 1 < m_controlPoints.size())
        UpdateSegment(m_currentControlPoint);
}

template <class F> void WaterCurve::MirrorPoints(F&& mirror)
{
    for (ControlPoint& point : m_controlPoints) {
        mirror(point);
        point.side = SideOf(point.tangent);
    }
    Update();
}

void WaterCurve::MirrorX(float centre)
{
    MirrorPoints([centre](ControlPoint& point) {
        point.position.x = centre - (point.position.x - centre);
        point.tangent.x = -point.tangent.x;
    });
}

void WaterCurve::MirrorZ(float centre)
{
    MirrorPoints([centre](ControlPoint& point) {
        point.position.y = centre - (point.position.y - centre);
        point.tangent.y = -point.tangent.y;
    });
}

void WaterCurve::MirrorXZ()
{
    MirrorPoints([](ControlPoint& point) {
        std::swap(point.position.x, point.position.y);
        std::swap(point.tangent.x, point.tangent.y);
    });
}

WaterCurve::SelectionType WaterCurve::SelectPoint(const Ray& ray, const WorldCoords& view)
{
    const Plane plane(Vec3(0.0f, ray.direction.y < 0.0f ? 1.0f : -1.0f, 0.0f), Vec3(0.0f, m_height, 0.0f));
    const float distance = plane.IntersectRay(ray);
    if (!std::isfinite(distance))
        return SELECTION_NONE;
    const Vec3 hit3 = ray.GetPoint(distance);
    const Vec2 hit(hit3.x, hit3.z);
    const Vec2 look = Unit(Vec2(view.GetZAxis().x, view.GetZAxis().z));
    for (unsigned i = 0; i < m_controlPoints.size(); ++i) {
        const ControlPoint& point = m_controlPoints[i];
        const float d = (hit - point.position).Length();
        if (d < 1.0f) {
            m_currentControlPoint = i;
            if (d < 0.5f)
                return SELECTION_CENTRE;
            const Vec2 toPoint = Unit(point.position - hit);
            return std::fabs(Vec2::Dot(toPoint, look)) >= 0.70710677f ? SELECTION_RING_ALONG
                                                                      : SELECTION_RING_ACROSS;
        }
        const Vec2 handle = point.tangent + Unit(point.tangent) * 0.5f;
        if ((hit - (point.position + handle)).Length() < 0.5f) {
            m_currentControlPoint = i;
            return SELECTION_TANGENT_END;
        }
        if ((hit - (point.position - handle)).Length() < 0.5f) {
            m_currentControlPoint = i;
            return SELECTION_TANGENT_START;
        }
    }
    return SELECTION_NONE;
}

void WaterCurve::DrawEditing(GraphicsPrimitiveDrawer& drawer, const Vec3& offset)
{
    drawer.SetColor(Color(0.0f, 0.0f, 1.0f, 1.0f));
    for (const ControlPoint& point : m_controlPoints) {
        const Vec2 handle = point.tangent + Unit(point.tangent) * 0.5f;
        const Vec3 end = OnPlane(point.position + handle, m_height, offset);
        const Vec3 start = OnPlane(point.position - handle, m_height, offset);
        DrawLine(drawer, start, end);
        DrawWireframeCircle(drawer, end, 0.5f, 16);
        DrawWireframeCircle(drawer, start, 0.5f, 16);
    }
}

void WaterCurve::DrawSelectionPoints(GraphicsPrimitiveDrawer& drawer, const Vec3& offset)
{
    for (const ControlPoint& point : m_controlPoints) {
        const Vec3 centre = OnPlane(point.position, m_height, offset);
        DrawWireframeCircle(drawer, centre, 0.5f, 20);
        DrawWireframeCircle(drawer, centre, 1.0f, 20);
        DrawLine(drawer, OnPlane(point.position - point.tangent, m_height, offset),
                 OnPlane(point.position + point.tangent, m_height, offset));
    }
}

bool WaterCurve::ReadControlPoints(BinaryReader& reader, std::vector<ControlPoint>& points)
{
    points.clear();
    const uint32_t count = reader.ReadUInt32();
    // The stored form has no limit of its own: the bytes there bound the count.
    if (!reader.CheckCount(count, controlPointRecordBytes, "water curve control points"))
        return false;
    bool finite = true;
    points.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        ControlPoint point;
        point.position.x = reader.ReadFloat();
        point.position.y = reader.ReadFloat();
        point.tangent.x = reader.ReadFloat();
        point.tangent.y = reader.ReadFloat();
        point.side.x = reader.ReadFloat();
        point.side.y = reader.ReadFloat();
        point.width = reader.ReadFloat();
        reader.Skip(kPointPadding);
        finite = finite && point.IsUsable();
        points.push_back(point);
    }
    if (!finite)
        LogPrintf(1, "Water curve: a control point is not a number or beyond %g", static_cast<double>(ControlPoint::maxValue));
    return finite && !reader.Failed();
}

void WaterCurve::WriteControlPoints(BinaryWriter& writer) const
{
    writer.WriteUInt32(static_cast<uint32_t>(m_controlPoints.size()));
    static const uint8_t zeros[kPointPadding] = {};
    for (const ControlPoint& point : m_controlPoints) {
        for (float value : {point.position.x, point.position.y, point.tangent.x, point.tangent.y,
                            point.side.x, point.side.y, point.width})
            writer.WriteFloat(value);
        writer.WriteBytes(zeros, kPointPadding);
    }
}

} // namespace GAME
