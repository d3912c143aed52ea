// The base of water paths (rivers) and wave sets (shore waves): a chain of control points on the
// ground plane at one height, each pair of neighbours joined by a cubic Bezier segment (a
// WaterElement of the derived kind in the water's tree, made and built by the derived class); the
// editor's current control point, adding and removing points at the end, selection by ray, editor
// drawing and mirroring. The curve owns its segments and takes them out of the tree when it
// destroys them.
//
// A control point is seven floats: position x, z; tangent x, z (the curve leaves the point towards
// position + tangent and arrives through position - tangent); side x, z (the unit vector across
// the curve towards its left edge); width (centre line to each edge). In the water block each
// point takes 64 bytes: the seven floats and 36 zero bytes.
//
// A curve holds any number of points (a stored one as many as its bytes carry); a point or a
// record with values that are not numbers is refused. Owned by its Water. Main thread (a level
// loading thread loads it).
#pragma once

#include "core/Vec2.h"
#include "core/Vec3.h"
#include "terrain/WaterObject.h"

#include <cstdint>
#include <vector>

namespace GAME {

class GraphicsPrimitiveDrawer;
class Ray;
class WorldCoords;

struct ControlPoint
{
    Vec2 position;
    Vec2 tangent;
    Vec2 side;
    float width = 1.0f;

    // The largest magnitude a value may have: far beyond any region, and small enough that the
    // curves, the segments' strips and their boxes stay finite.
    static constexpr float maxValue = 1.0e6f;

    // Every value is a number no larger than maxValue either way.
    bool IsUsable() const;
};

class WaterCurve : public WaterObject
{
public:
    enum CurveType : uint32_t
    {
        CURVE_PATH = 0,
        CURVE_WAVE_SET = 1,
    };

    enum SelectionType : uint32_t
    {
        SELECTION_NONE = 0,
        SELECTION_CENTRE = 1,
        // The ring around a point, picked along or across the view direction.
        SELECTION_RING_ALONG = 2,
        SELECTION_RING_ACROSS = 3,
        SELECTION_TANGENT_END = 4,
        SELECTION_TANGENT_START = 5,
    };

    static constexpr unsigned controlPointRecordBytes = 64;

    // The centre curve of a segment: a cubic Bezier through A, A + A.tangent, B - B.tangent, B.
    struct Bezier
    {
        Vec2 p[4];

        Vec2 At(float t) const;
        // The sum of the chords between samples at k / chords, k = 0 ... chords.
        float Length(unsigned chords) const;
    };

    WaterCurve(unsigned index, Space<WaterElement>& tree, RenderDevice& device, Water* water, CurveType type);
    // Takes every segment out of the tree and destroys it.
    ~WaterCurve() override;

    // Mirror the points (x about the centre, z about the centre, or x and z swapped), recompute
    // their sides from their tangents and rebuild every segment.
    void MirrorX(float centre) override;
    void MirrorZ(float centre) override;
    void MirrorXZ() override;

    // Appends the point and builds the segment it ends (and again the one before); false (nothing
    // changed) for a point that is not finite.
    virtual bool AddControlPoint(const ControlPoint& point);
    // The last point and the segment it ends go.
    virtual void RemoveEndControlPoint();
    // Builds the segment again when it and both its points exist.
    virtual void UpdateSegment(unsigned segment);
    // Every segment again at the height; nothing for the same height or one that is not finite.
    virtual void UpdateHeight(float height);
    // Rebuilds every segment.
    void Update() override;
    // The curve's handles: tangent lines and rings around the tangent ends, offset by the vector.
    virtual void DrawEditing(GraphicsPrimitiveDrawer& drawer, const Vec3& offset);

    unsigned GetNumSegments() const { return static_cast<unsigned>(m_segments.size()); }
    // Before and after a device reset: the segments' vertex buffers go, and are built again.
    void DestroySegmentGeometry();
    void ConstructSegmentGeometry() { Update(); }

    CurveType GetCurveType() const { return m_curveType; }
    float GetHeight() const { return m_height; }
    unsigned GetNumControlPoints() const { return static_cast<unsigned>(m_controlPoints.size()); }
    const ControlPoint& GetControlPoint(unsigned i) const { return m_controlPoints[i]; }
    unsigned GetCurrentControlPointIndex() const { return m_currentControlPoint; }
    // The point the editor works on (the curve must have one).
    ControlPoint& GetCurrentControlPoint() { return m_controlPoints[m_currentControlPoint]; }
    // After the editor moved the current point: the segments before and after it are rebuilt.
    void UpdateCurrentControlPoint();

    SelectionType SelectPoint(const Ray& ray, const WorldCoords& view);
    // Rings of radius 0.5 and 1.0 and the tangent line of every point, in the drawer's colour.
    void DrawSelectionPoints(GraphicsPrimitiveDrawer& drawer, const Vec3& offset);

    static Bezier CentreCurve(const ControlPoint& a, const ControlPoint& b);
    // The vector scaled to length 1; the fallback for a vector without length or direction.
    static Vec2 Unit(const Vec2& v, const Vec2& fallback = Vec2());
    // The side of a tangent: the unit (-tangent z, tangent x).
    static Vec2 SideOf(const Vec2& tangent);

protected:
    // The curve's points after the height: u32 count and 64 bytes each. The count is bounded only
    // by the bytes left. False when a value is not a number (the records are read all the same)
    // or the count runs past the bytes (the reader then fails).
    bool ReadControlPoints(BinaryReader& reader, std::vector<ControlPoint>& points);
    void WriteControlPoints(BinaryWriter& writer) const;
    // The points of a loaded record at the height, a new segment between each two, all built.
    void TakeControlPoints(float height, std::vector<ControlPoint>&& points);
    void DestroySegments();

    // A new segment of the derived kind, not yet built or in the tree.
    virtual WaterElement* MakeSegment() = 0;
    // Builds segment i from points i and i + 1 (then FileSegment).
    virtual void BuildSegment(unsigned i) = 0;
    // After segments were built (every segment, or the one a new point ends).
    virtual void OnSegmentsBuilt() {}
    // After the last point and its segment went.
    virtual void OnEndRemoved() {}
    // A segment just built joins the tree, or takes its new place there.
    void FileSegment(WaterElement& segment);

    CurveType m_curveType;
    float m_height = 0.0f;
    unsigned m_currentControlPoint = 0;
    std::vector<ControlPoint> m_controlPoints;
    std::vector<WaterElement*> m_segments;

private:
    // Out of the tree and destroyed.
    void DropSegment(WaterElement* segment);
    // mirror(point) on every point, the point's side again from its tangent, every segment rebuilt.
    template <class F> void MirrorPoints(F&& mirror);
};

} // namespace GAME
