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
    // Takes every segment out of the tree and destroys it.
    ~WaterWaveSet() override;

    // The height and the first point; false when the point is refused.
    bool Initialize(float height, const ControlPoint& point);

    bool AddControlPoint(const ControlPoint& point) override;
    void RemoveEndControlPoint() override;
    void UpdateSegment(unsigned segment) override;
    void UpdateHeight(float height) override;
    // Rebuilds every segment.
    void Update() override;
    // False only for a record that cannot be used (too many points, values that are not numbers,
    // data that runs out); the whole record is read all the same.
    bool Load(BinaryReader& reader, unsigned version) override;
    void Save(BinaryWriter& writer) const override;
    // Waves are never hit: +infinity.
    float RayIntersection(const Ray& ray, float maxDistance, unsigned& segment, float& parameter) const;

    void ConstructSegmentGeometry();
    void DestroySegmentGeometry();
    void UpdateWaves(int elapsedMilliseconds);
    WaveParams& GetWaveParams() { return m_params; }
    const WaveParams& GetWaveParams() const { return m_params; }

    unsigned GetNumSegments() const { return static_cast<unsigned>(m_segments.size()); }
    WaterWaveSegment* GetSegment(unsigned i) const { return i < m_segments.size() ? m_segments[i] : nullptr; }

    // The spacing a loaded record keeps.
    static float HoldSpacing(float spacing);

private:
    void BuildSegment(unsigned i);
    void DestroySegments();

    WaveParams m_params;
    std::vector<WaterWaveSegment*> m_segments;
};

} // namespace GAME
