// A line of shore waves: a WaterCurve without water type whose neighbouring control points are
// joined by wave segments (WaterWaveSegment), all drawn with one set of WaveParams. The water
// advances every wave set each frame (UpdateWaves). Wave sets keep no reflection plane and are
// never hit by rays.
//
// Record in the water block (Save / Load): height (f32); the parameters in 56 bytes (f32 speed,
// f32 amplitude, u32 flags, f32 spacing, 40 zero bytes; the reader holds the spacing to
// 1.0 ... 10.0, not a number counting as 1.0; a speed or amplitude that is not a number takes
// its default); u32 control point count; the 64-byte points.
//
// Owned by its Water. Main thread (a level loading thread loads it).
#pragma once

#include "terrain/WaterCurve.h"
#include "terrain/WaterWaveSegment.h"

#include <vector>

namespace GAME {

class WaterWaveSet : public WaterCurve
{
public:
    static constexpr unsigned paramsRecordBytes = 56;

    WaterWaveSet(unsigned index, Space<WaterElement>& tree, RenderDevice& device, Water* water);

    // The height and the first point; false when the point is refused.
    bool Initialize(float height, const ControlPoint& point);

    // False only for a record that cannot be used (too many points, values that are not numbers,
    // data that runs out); the whole record is read all the same.
    bool Load(BinaryReader& reader, unsigned version) override;
    void Save(BinaryWriter& writer) const override;
    // Waves are never hit: +infinity.
    float RayIntersection(const Ray& ray, float maxDistance, unsigned& segment, float& parameter) const;

    void UpdateWaves(int elapsedMilliseconds);
    WaveParams& GetWaveParams() { return m_params; }
    const WaveParams& GetWaveParams() const { return m_params; }

    WaterWaveSegment* GetSegment(unsigned i) const
    {
        return i < m_segments.size() ? static_cast<WaterWaveSegment*>(m_segments[i]) : nullptr;
    }

    // The spacing a loaded record keeps.
    static float HoldSpacing(float spacing);

protected:
    // With the set's wave parameters.
    WaterElement* MakeSegment() override;
    void BuildSegment(unsigned i) override;

private:
    WaveParams m_params;
};

} // namespace GAME
