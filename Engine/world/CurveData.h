// A piecewise-linear function of one variable: the curves of a particle emitter's definition
// (opacity, size, emission rate... over a particle's age or the emitter's time). Edited as a list of
// points in the particle-system editor, evaluated by the emitter many times per particle and frame
// through a precomputed segment list, so that evaluation is a scan and one multiply-add.
//
// The editor's view of a curve is a box from x 0 to the domain and from y 0 to the range; a half
// graph is one whose middle line (half the range) means zero. A curve with no points answers 0.
// Values read from effect files are made finite, and no domain, range or pair of equal x values
// leads to a division by zero.
//
// A plain value owned by its emitter definition; one thread at a time (GetY moves a cache).
#pragma once

#include "core/Vec2.h"

#include <cstdint>
#include <vector>

namespace GAME {

class BinaryReader;
class BinaryWriter;

// The colour in which the particle-system editor draws a curve; no effect on evaluation.
enum PSColor : int32_t
{
    PSCOLOR_WHITE = 0,
    PSCOLOR_DEFAULT = 1,
    PSCOLOR_GREEN = 2,
    PSCOLOR_BLUE = 3,
    PSCOLOR_ALPHA = 4,
    PSCOLOR_RED = 5,
};

class CurveData
{
public:
    // Largest point count a curve record may announce.
    static constexpr uint32_t maxPoints = 65536;

    struct Segment
    {
        float startX = 0.0f;
        float endX = 0.0f;
        float slope = 0.0f;
        float startY = 0.0f;
    };

    // Domain 10, range 1, points (0, 0) and (10, 1), colour 1, rest value 0.01.
    CurveData();
    CurveData(const CurveData&) = default;
    CurveData& operator=(const CurveData&) = default;
    // Every field but the cached segment; nothing for null.
    void Copy(const CurveData* other);

    // The editor's evaluation: beyond the domain the rest value (or, looping, the wrapped x).
    float GetY(float x) const;
    // The emitter's: the first segment whose end reaches x; 0 beyond the last point.
    float GetYFast(float x) const
    {
        for (uint32_t i = 0; i < m_segmentCount; ++i) {
            const Segment& s = m_segments[i];
            if (s.endX >= x)
                return (x - s.startX) * s.slope + s.startY;
        }
        return 0.0f;
    }
    // The largest y of the points; 0 with none.
    float GetMaxY() const;

    float GetDomain() const { return m_domain; }
    // Scales every x but the last by the new domain over the old; the last becomes the domain.
    void SetDomain(float domain);
    float GetRange() const { return m_range; }
    // Scales every y by the new range over the old.
    void SetRange(float range);
    // With at least two points: the y of the first and the last point.
    void SetFirstLastY(float first, float last);
    // The rest value becomes half the current range for a half graph, else 0.01.
    void SetHalfGraph(bool halfGraph);
    bool GetHalfGraph() const { return m_halfGraph; }
    float GetRestValue() const { return m_restValue; }
    void SetLoop(bool loop) { m_loop = loop; }
    bool GetLoop() const { return m_loop; }
    void SetColor(PSColor color) { m_color = color; }
    PSColor GetColor() const { return m_color; }

    // For editing; call UpdateSegmentList after changing the points.
    std::vector<Vec2>& GetPointList() { return m_points; }
    const std::vector<Vec2>& GetPointList() const { return m_points; }
    void UpdateSegmentList();
    uint32_t GetSegmentCount() const { return m_segmentCount; }
    // Removes inner points closer than the tolerance to the line through their neighbours; the
    // first and last points stay.
    void Simplify(float tolerance);

    // The curve record of the effect file: f32 domain, f32 range, u32 point count, the points.
    // False (points emptied) when the record runs past the reader's end or announces more points
    // than maxPoints.
    bool BinaryRead(BinaryReader& reader);
    void BinaryWrite(BinaryWriter& writer) const;

private:
    mutable uint32_t m_cachedSegment = 0;
    bool m_loop = false;
    bool m_halfGraph = false;
    PSColor m_color = PSCOLOR_DEFAULT;
    float m_restValue = 0.01f;
    float m_domain = 10.0f;
    float m_inverseDomain = 0.1f;
    float m_range = 1.0f;
    std::vector<Vec2> m_points;
    uint32_t m_segmentCount = 0;
    std::vector<Segment> m_segments;
};

} // namespace GAME
