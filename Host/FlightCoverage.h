// Which regions of the generated world's flight the host's frames have viewed, and where the path
// goes into one they have not. A frame that takes long carries the camera far: a real-time flight
// holds at the first region it would otherwise pass between two frames (so each region the path
// enters is viewed, and gets its screenshot), and at the end the host names any region the path
// passed that no frame viewed (a flight of few fixed frames steps over some). The path is sampled
// every half unit of its length. It also picks the moments of the path that the loading frames
// draw before the flight. Main thread.
#pragma once

#include <vector>

namespace DataKit {
class WorldGenerator;
}

namespace SampleHost {

class FlightCoverage
{
public:
    explicit FlightCoverage(const DataKit::WorldGenerator& generator);

    // A frame viewed the region (by its index in the world).
    void Enter(int region);

    // Where the next frame, due at `to` (seconds of path) after one at `from`, must stand so that
    // the camera passes no region unviewed: `to`, or the first moment in between at which the path
    // is in a region no frame has viewed other than the one it is in at `to`.
    float NextStop(float from, float to) const;

    // The moments at which the path goes through a doorway (into a cave or out of one), in order.
    std::vector<float> GetDoorwayCrossings() const;
    // The moments of the path that the loading frames view, so that the driver has made, before
    // the flight, the programs for every kind of drawing the flight meets (each region's ground,
    // water, props, walkers and effects, a doorway's composite and the region seen through it):
    // one every `step` seconds, the first moment of each region the path enters that none of those
    // falls in, and on both sides of each doorway the path goes through the moments `around`
    // seconds from it; in order, within the path, none twice.
    std::vector<float> GetLoadingViews(float step, const std::vector<float>& around) const;

    struct Missed
    {
        int region = -1;
        float seconds = 0.0f; // the first moment the path is in it
    };
    // The regions the path passes from its start to `to` that no frame viewed, in the order the
    // path meets them.
    std::vector<Missed> GetMissed(float to) const;

private:
    // The path's region at that moment, and the next moment after `from` up to `to` at which it is
    // in a region not in `viewed` (other than `except`); `to` when none.
    int RegionAt(float seconds) const;
    float NextOutside(const std::vector<bool>& viewed, float from, float to, int except = -1) const;

    const DataKit::WorldGenerator& m_generator;
    float m_step;
    std::vector<bool> m_viewed;
};

} // namespace SampleHost
