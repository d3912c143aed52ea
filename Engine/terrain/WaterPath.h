// A river or stream: a WaterCurve whose neighbouring control points are joined by ribbons of water
// (WaterPathSegment, one fewer than the points), flowing along the path at its water type's speed;
// the first segment fades in and the last fades out, so removing the last point builds the new last
// segment again. The path's reflection plane spans its segments.
//
// Record in the water block (Save / Load): type name (string), height (f32), u32 control point
// count, the 64-byte points.
//
// Owned by its Water. Main thread (a level loading thread loads it).
#pragma once

#include "terrain/WaterCurve.h"
#include "terrain/WaterPathSegment.h"

namespace GAME {

class WaterPath : public WaterCurve
{
public:
    WaterPath(unsigned index, Space<WaterElement>& tree, RenderDevice& device, Water* water);

    // The named type (null when unknown), the height and the first point; false when the type is
    // unknown or the point refused.
    bool Initialize(const char* typeName, float height, const ControlPoint& point);
    // Exchanges the type; every segment draws with the new one.
    void SetWaterType(const char* typeName);

    // The reflection plane follows the height.
    void UpdateHeight(float height) override;
    void DrawEditing(GraphicsPrimitiveDrawer& drawer, const Vec3& offset) override;
    // False for an unknown type ("Failed to load water type '%s' for water path.") or a point
    // record that cannot be used, after the whole record was read; no segment is left then.
    bool Load(BinaryReader& reader, unsigned version) override;
    void Save(BinaryWriter& writer) const override;

    // Distance along the ray to the river's surface, with the segment hit and the parameter of
    // the nearest centre point; +infinity when it misses (or at maxDistance and beyond).
    float RayIntersection(const Ray& ray, float maxDistance, unsigned& segment, float& parameter) const;
    // The flow at a point of a segment: the scroll speed along the centre curve.
    void CalcSurfaceVelocity(unsigned segment, float parameter, Vec3& velocity) const;

    void UpdateReflectionPlane();

    WaterPathSegment* GetSegment(unsigned i) const
    {
        return i < m_segments.size() ? static_cast<WaterPathSegment*>(m_segments[i]) : nullptr;
    }

protected:
    // With the path's type and reflection plane.
    WaterElement* MakeSegment() override;
    void BuildSegment(unsigned i) override;
    void OnSegmentsBuilt() override { UpdateReflectionPlane(); }
    void OnEndRemoved() override;
};

} // namespace GAME
