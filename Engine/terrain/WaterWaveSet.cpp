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

float WaterWaveSet::HoldSpacing(float spacing)
{
    return spacing == spacing ? std::clamp(spacing, 1.0f, 10.0f) : 1.0f;
}

bool WaterWaveSet::Initialize(float height, const ControlPoint& point)
{
    m_height = height;
    return AddControlPoint(point);
}

WaterElement* WaterWaveSet::MakeSegment()
{
    return new WaterWaveSegment(m_device, m_params);
}

void WaterWaveSet::BuildSegment(unsigned i)
{
    WaterWaveSegment* segment = GetSegment(i);
    segment->Build(m_controlPoints[i], m_controlPoints[i + 1], m_height);
    FileSegment(*segment);
}

void WaterWaveSet::UpdateWaves(int elapsedMilliseconds)
{
    for (unsigned i = 0; i < GetNumSegments(); ++i)
        GetSegment(i)->UpdateWaves(elapsedMilliseconds);
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
    TakeControlPoints(height, std::move(points));
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
