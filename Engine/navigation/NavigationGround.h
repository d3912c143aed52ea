// The height-field ground of a region's level as navigation reads it: its samples (one unit apart
// from the region's origin, x and y along the samples, the height in region space), the cells cut
// away for plugs and the cells an editable terrain marks impassable, and the triangles of the plugs
// that fill the cut-away cells. The world hands one over for a region whose level has a terrain
// (NavigationServices::GetGround); it answers for the terrain the region's level holds when it is
// asked, and lives as long as the region.
//
// Threads: main thread, like the terrain it reads.
#pragma once

#include "core/ABBox.h"
#include "core/Vec3.h"

#include <array>
#include <vector>

namespace GAME {

class NavigationGround
{
public:
    virtual ~NavigationGround() = default;

    // Zero when the level has no terrain (any more).
    virtual unsigned GetNumXSamples() const = 0;
    virtual unsigned GetNumYSamples() const = 0;
    // The terrain's own sample.
    virtual float GetHeight(int x, int y) const = 0;
    // The height at a sample as the world's ground queries give it, so that an edited ground counts
    // at once.
    virtual float GetGroundHeight(int x, int z) const = 0;
    // A cell cut away for a plug: it has no height-field ground.
    virtual bool IsInvisible(int x, int y) const = 0;
    // Only an editable terrain knows impassable cells; false on a run-time terrain.
    virtual bool IsImpassable(int x, int y) const = 0;
    // Appends the triangles of the plugs that lie in the box (region space, y up) as the plugs store
    // them (terrain space: x and y along the samples, z the height).
    virtual void GetPlugTriangles(const ABBox& box, std::vector<std::array<Vec3, 3>>& out) const = 0;
};

} // namespace GAME
