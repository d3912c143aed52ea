#include "FlightCoverage.h"

#include "datakit/WorldGenerator.h"

#include <algorithm>
#include <cmath>

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

std::vector<float> FlightCoverage::GetDoorwayCrossings() const
{
    const std::vector<DataKit::WorldGenerator::RegionInfo>& regions = m_generator.GetRegions();
    auto cave = [&](int region) {
        return region >= 0 && static_cast<size_t>(region) < regions.size() &&
               regions[static_cast<size_t>(region)].cave;
    };
    std::vector<float> crossings;
    const float duration = m_generator.GetFlightDuration();
    float before = 0.0f;
    int region = RegionAt(before);
    for (int i = 1;; ++i) {
        const float at = std::min(m_step * static_cast<float>(i), duration);
        const int next = RegionAt(at);
        if (next != region && (cave(region) || cave(next))) {
            // The path changes regions at a doorway at once (the same place named in the other
            // region): halved down to a thousandth of a step.
            float low = before, high = at;
            for (int halving = 0; halving < 10; ++halving) {
                const float middle = 0.5f * (low + high);
                (RegionAt(middle) == region ? low : high) = middle;
            }
            crossings.push_back(high);
        }
        region = next;
        before = at;
        if (at >= duration)
            return crossings;
    }
}

std::vector<float> FlightCoverage::GetLoadingViews(float step, const std::vector<float>& around) const
{
    const float duration = m_generator.GetFlightDuration();
    std::vector<float> times;
    if (step > 0.0f && std::isfinite(step))
        for (int i = 0; step * static_cast<float>(i) < duration; ++i)
            times.push_back(step * static_cast<float>(i));
    times.push_back(duration);
    for (const float crossing : GetDoorwayCrossings())
        for (const float offset : around)
            if (std::isfinite(offset))
                times.push_back(std::clamp(crossing + offset, 0.0f, duration));
    // A region the path only passes between two of those gets a view of its own.
    std::vector<bool> viewed;
    auto view = [&viewed](int region) {
        if (region < 0)
            return;
        if (static_cast<size_t>(region) >= viewed.size())
            viewed.resize(static_cast<size_t>(region) + 1, false);
        viewed[static_cast<size_t>(region)] = true;
    };
    for (const float at : times)
        view(RegionAt(at));
    for (float at = 0.0f; at < duration;) {
        at = NextOutside(viewed, at, duration);
        const int region = RegionAt(at);
        if (region >= 0 && (static_cast<size_t>(region) >= viewed.size() || !viewed[static_cast<size_t>(region)])) {
            times.push_back(at);
            view(region);
        }
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    return times;
}

} // namespace SampleHost
