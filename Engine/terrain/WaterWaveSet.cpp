#include "terrain/WaterWaveSet.h"

#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

#include <algorithm>
#include <cmath>

namespace GAME {

namespace {

constexpr unsigned kParamsPadding = WaterWaveSet::paramsRecordBytes - 16;

} // namespace

WaterWaveSet::WaterWaveSet(unsigned index, Space<WaterElement>& tree, RenderDevice& device, Water* water)
    : WaterCurve(index, tree, device, water, CURVE_WAVE_SET)
{
}

WaterWaveSet::~WaterWaveSet()
{
    DestroySegments();
}

void WaterWaveSet::DestroySegments()
{
    for (WaterWaveSegment* segment : m_segments) {
        if (segment->IsInTree())
            m_tree.Remove(segment);
        delete segment;
    }
    m_segments.clear();
}

float WaterWaveSet::HoldSpacing(float spacing)
{
    return spacing == spacing ? std::clamp(spacing, 1.0f, 10.0f) : 1.0f;
}

bool WaterWaveSet::Initialize(float height, const ControlPoint& point)
{
    m_height = height;
    return AddControlPoint(point);
}

void WaterWaveSet::BuildSegment(unsigned i)
{
    WaterWaveSegment* segment = m_segments[i];
    segment->Build(m_controlPoints[i], m_controlPoints[i + 1], m_height);
    if (segment->IsInTree()) {
        Space<WaterElement>::RefreshBox(segment);
        m_tree.UpdateObject(segment);
    } else {
        m_tree.Insert(segment);
    }
}

bool WaterWaveSet::AddControlPoint(const ControlPoint& point)
{
    if (!point.IsFinite())
        return false;
    m_controlPoints.push_back(point);
    m_currentControlPoint = static_cast<unsigned>(m_controlPoints.size() - 1);
    if (m_controlPoints.size() < 2)
        return true;
    m_segments.push_back(new WaterWaveSegment(m_device, m_params));
    BuildSegment(static_cast<unsigned>(m_segments.size() - 1));
    if (m_segments.size() > 1)
        UpdateSegment(static_cast<unsigned>(m_segments.size() - 2));
    return true;
}

void WaterWaveSet::RemoveEndControlPoint()
{
    if (m_controlPoints.empty())
        return;
    if (!m_segments.empty()) {
        WaterWaveSegment* segment = m_segments.back();
        if (segment->IsInTree())
            m_tree.Remove(segment);
        delete segment;
        m_segments.pop_back();
    }
    m_controlPoints.pop_back();
    m_currentControlPoint = m_controlPoints.empty() ? 0 : static_cast<unsigned>(m_controlPoints.size() - 1);
}

void WaterWaveSet::UpdateSegment(unsigned segment)
{
    if (segment < m_segments.size() && segment + 1 < m_controlPoints.size())
        BuildSegment(segment);
}

void WaterWaveSet::Update()
{
    for (unsigned i = 0; i < m_segments.size(); ++i)
        BuildSegment(i);
}

void WaterWaveSet::UpdateHeight(float height)
{
    if (height == m_height || !std::isfinite(height))
        return;
    m_height = height;
    Update();
}

void WaterWaveSet::ConstructSegmentGeometry()
{
    Update();
}

void WaterWaveSet::DestroySegmentGeometry()
{
    for (WaterWaveSegment* segment : m_segments)
        segment->ReleaseVertexBuffer();
}

void WaterWaveSet::UpdateWaves(int elapsedMilliseconds)
{
    for (WaterWaveSegment* segment : m_segments)
        segment->UpdateWaves(elapsedMilliseconds);
}

float WaterWaveSet::RayIntersection(const Ray&, float, unsigned&, float&) const
{
    return gInfinity;
}

bool WaterWaveSet::Load(BinaryReader& reader, unsigned)
{
    DestroySegments();
    m_controlPoints.clear();
    const float height = reader.ReadFloat();
    // Values that are not numbers take the defaults: the animation would carry them for ever.
    const float speed = reader.ReadFloat(), amplitude = reader.ReadFloat();
    m_params.speed = std::isfinite(speed) ? speed : WaveParams().speed;
    m_params.amplitude = std::isfinite(amplitude) ? amplitude : WaveParams().amplitude;
    m_params.flags = reader.ReadUInt32();
    m_params.spacing = HoldSpacing(reader.ReadFloat());
    reader.Skip(kParamsPadding);
    std::vector<ControlPoint> points;
    const bool pointsOk = ReadControlPoints(reader, points);
    if (!pointsOk || !std::isfinite(height) || reader.Failed())
        return false;
    m_height = height;
    m_controlPoints = std::move(points);
    m_currentControlPoint = m_controlPoints.empty() ? 0 : static_cast<unsigned>(m_controlPoints.size() - 1);
    for (size_t i = 1; i < m_controlPoints.size(); ++i)
        m_segments.push_back(new WaterWaveSegment(m_device, m_params));
    Update();
    return true;
}

void WaterWaveSet::Save(BinaryWriter& writer) const
{
    writer.WriteFloat(m_height);
    writer.WriteFloat(m_params.speed);
    writer.WriteFloat(m_params.amplitude);
    writer.WriteUInt32(m_params.flags);
    writer.WriteFloat(m_params.spacing);
    static const uint8_t zeros[kParamsPadding] = {};
    writer.WriteBytes(zeros, kParamsPadding);
    WriteControlPoints(writer);
}

} // namespace GAME
