// The sampling, ray and collision queries both terrain forms answer the same way over their height
// array: a non-owning view of X x Y heights (y outer, x inner) and of one byte a sample that tells
// whether the sample's cell is drawn (the run-time form's visible bit, the editor form's cut-away
// flag). Samples lie one unit apart; cell (x, y) has the lower corner (x, y) and two triangles
// split along its diagonal from (x, y) to (x + 1, y + 1). A plain value over memory its terrain
// owns; any thread the terrain may be used on.
#pragma once

#include "core/Vec3.h"
#include "navigation/PhysicsTypes.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace GAME {

class CollisionBox;
class Intersection;
class OBBox;
class Ray;
struct CollisionContact;

class HeightField
{
public:
    // Heights beyond this are bad data: boxes made from them would overflow.
    static constexpr float maxHeight = 1.0e7f;

    const float* heights = nullptr;
    unsigned numX = 0;
    unsigned numY = 0;
    // The byte of sample i is visibility[i * visibilityStride]; the sample is visible when
    // (byte & visibilityBit) != 0 equals visibleWhenSet.
    const uint8_t* visibility = nullptr;
    unsigned visibilityStride = 1;
    uint8_t visibilityBit = 1;
    bool visibleWhenSet = true;

    bool IsValid() const { return heights && visibility && numX >= 2 && numY >= 2; }
    float Height(unsigned x, unsigned y) const { return heights[static_cast<size_t>(y) * numX + x]; }
    bool IsVisible(unsigned x, unsigned y) const
    {
        const uint8_t b = visibility[(static_cast<size_t>(y) * numX + x) * visibilityStride];
        return ((b & visibilityBit) != 0) == visibleWhenSet;
    }

    // The sample's height, the coordinates clamped to the samples.
    float GetHeight(int x, int y) const;
    // Bilinear, the position clamped to the samples (NaN to 0).
    float GetHeightInterpolated(float x, float z) const;
    // The unit vector of (left - right, 2, up - down); a neighbour past an edge is extrapolated
    // from the sample and the one on the other side (2 h - opposite), none on a single row.
    Vec3 GetFastNormal(int x, int y) const;
    Vec3 GetNormalInterpolated(float x, float z) const;
    // The nearest hit of the visible cells x0..x1, y0..y1 nearer than the intersection's distance.
    void GetIntersection(const Ray& ray, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                         Intersection& intersection, unsigned& hitX, unsigned& hitY) const;
    int FindCollisions(const OBBox& box, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                       CollisionContact* contacts, int capacity) const;
    void FindCollisions(CollisionBox& box, unsigned x0, unsigned y0, unsigned x1, unsigned y1) const;

    // A contact with the ground (the height field's or a plug's): the surface and the object word
    // both 0, whatever made it.
    static void MarkGroundContact(CollisionContact& contact);
    // The integer part of v (toward zero), kept in a range any terrain index fits.
    static int64_t TruncIndex(float v);
    // v clamped to [lo, hi]; NaN gives lo.
    static float ClampCoordinate(float v, float lo, float hi)
    {
        if (!(v > lo))
            return lo;
        return v > hi ? hi : v;
    }
    // Narrows [t0, t1] to where o + t d lies in [lo, hi]; false when nothing is left. Inline: the
    // ray walks call it for every row and column they pass.
    static bool ClipToSlab(float o, float d, float lo, float hi, float& t0, float& t1)
    {
        if (d == 0.0f)
            return o >= lo && o <= hi && t0 <= t1;
        float a = (lo - o) / d, b = (hi - o) / d;
        if (a > b)
            std::swap(a, b);
        t0 = std::max(t0, a);
        t1 = std::min(t1, b);
        return t0 <= t1;
    }

private:
    // f(faces) for every visible cell x0..x1, y0..y1 (clamped to the cells) in rows, until f
    // answers false: the cell's two triangles (x, y), (x, y + 1), (x + 1, y + 1) and (x + 1, y + 1),
    // (x + 1, y), (x, y).
    template <class F>
    void ForEachVisibleCell(unsigned x0, unsigned y0, unsigned x1, unsigned y1, F&& f) const;
};

} // namespace GAME
