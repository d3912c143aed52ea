#include "FlightCoverage.h"

#include "datakit/WorldGenerator.h"

#include <algorithm>

namespace SampleHost {

FlightCoverage::FlightCoverage(const DataKit::WorldGenerator& generator)
    : m_generator(generator), m_step(0.5f / std::max(generator.GetSettings().flightSpeed, 1.0f))
{
}

void FlightCoverage::Enter(int region)
{
    if (region < 0)
        return;
    if (static_cast<size_t>(region) >= m_viewed.size())
        m_viewed.resize(static_cast<size_t>(region) + 1, false);
    m_viewed[static_cast<size_t>(region)] = true;
}

int FlightCoverage::RegionAt(float seconds) const
{
    return m_generator.GetFlightView(seconds).region;
}

float FlightCoverage::NextOutside(const std::vector<bool>& viewed, float from, float to, int except) const
{
    auto outside = [&](int region) {
        return region >= 0 && region != except &&
               (static_cast<size_t>(region) >= viewed.size() || !viewed[static_cast<size_t>(region)]);
    };
    // Counted in steps from `from`, so that a long span adds up no rounding.
    for (int i = 1;; ++i) {
        const float at = std::min(from + m_step * static_cast<float>(i), to);
        if (at >= to || outside(RegionAt(at)))
            return at;
    }
}

float FlightCoverage::NextStop(float from, float to) const
{
    return to <= from ? to : NextOutside(m_viewed, from, to, RegionAt(to));
}

std::vector<FlightCoverage::Missed> FlightCoverage::GetMissed(float to) const
{
    std::vector<Missed> missed;
    std::vector<bool> met = m_viewed;
    float at = 0.0f;
    int region = RegionAt(at);
    while (true) {
        if (region >= 0 && (static_cast<size_t>(region) >= met.size() || !met[static_cast<size_t>(region)])) {
            missed.push_back(Missed{region, at});
            if (static_cast<size_t>(region) >= met.size())
                met.resize(static_cast<size_t>(region) + 1, false);
            met[static_cast<size_t>(region)] = true;
        }
        if (at >= to)
            break;
        at = NextOutside(met, at, to);
        region = RegionAt(at);
    }
    return missed;
}

} // namespace SampleHost
