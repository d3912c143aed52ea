// The host's flight coverage: where the path goes through a doorway, and the moments the loading
// frames view (every region the path enters, both sides of each doorway) so that the driver meets
// every kind of drawing before the flight. The references step along the path on their own, in
// finer steps than the coverage does.
#include "FlightCoverage.h"

#include "datakit/WorldGenerator.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <set>
#include <vector>

namespace SampleHost {
namespace {

// Two caves under six small fields: four doorway crossings, regions passed in a fraction of a second.
DataKit::WorldGenerator::Settings SmallWorld()
{
    DataKit::WorldGenerator::Settings settings;
    settings.regionsX = 3;
    settings.regionsZ = 2;
    settings.regionSize = 32;
    settings.entitiesPerRegion = 4;
    settings.caves = 2;
    settings.caveSize = 16;
    settings.entitiesPerCave = 2;
    settings.villages = 1;
    return settings;
}

class FlightCoverageTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_generator = new DataKit::WorldGenerator(SmallWorld());
        ASSERT_TRUE(s_generator->Generate());
    }
    static void TearDownTestSuite()
    {
        delete s_generator;
        s_generator = nullptr;
    }
    static bool IsCave(float seconds)
    {
        const int region = s_generator->GetFlightView(seconds).region;
        return region >= 0 && s_generator->GetRegions()[static_cast<size_t>(region)].cave;
    }
    // The moments the path goes into a cave or out of one, stepping a tenth of a unit.
    static std::vector<float> ReferenceCrossings()
    {
        std::vector<float> crossings;
        const float step = 0.1f / s_generator->GetSettings().flightSpeed;
        const float duration = s_generator->GetFlightDuration();
        for (int i = 1; step * static_cast<float>(i - 1) < duration; ++i) {
            const float before = step * static_cast<float>(i - 1);
            const float at = std::min(step * static_cast<float>(i), duration);
            if (IsCave(before) != IsCave(at))
                crossings.push_back(at);
        }
        return crossings;
    }

    static DataKit::WorldGenerator* s_generator;
};

DataKit::WorldGenerator* FlightCoverageTest::s_generator = nullptr;

TEST_F(FlightCoverageTest, FindsEachDoorwayThePathGoesThroughAndNoOtherChangeOfRegion)
{
    const FlightCoverage coverage(*s_generator);
    const std::vector<float> crossings = coverage.GetDoorwayCrossings();
    const std::vector<float> reference = ReferenceCrossings();
    ASSERT_EQ(reference.size(), 4u) << "the path goes into and out of each of the two caves";
    ASSERT_EQ(crossings.size(), reference.size());
    const float tenthUnit = 0.1f / s_generator->GetSettings().flightSpeed;
    for (size_t i = 0; i < crossings.size(); ++i) {
        EXPECT_NEAR(crossings[i], reference[i], tenthUnit) << "crossing " << i;
        // The path is on the other side of the doorway just after the moment given.
        EXPECT_NE(IsCave(crossings[i] - tenthUnit), IsCave(crossings[i] + 0.01f * tenthUnit)) << "crossing " << i;
    }
}

TEST_F(FlightCoverageTest, LoadingViewsMeetEveryRegionThePathEntersAndBothSidesOfEachDoorway)
{
    const FlightCoverage coverage(*s_generator);
    const float duration = s_generator->GetFlightDuration();
    const std::vector<float> around = {-0.3f, -0.1f, 0.1f, 0.3f};
    // A step longer than the path: the views in the regions between come from the regions alone.
    const std::vector<float> views = coverage.GetLoadingViews(2.0f * duration, around);
    ASSERT_FALSE(views.empty());
    for (size_t i = 0; i < views.size(); ++i) {
        EXPECT_GE(views[i], 0.0f);
        EXPECT_LE(views[i], duration);
        if (i > 0) {
            EXPECT_LT(views[i - 1], views[i]) << "in order, none twice";
        }
    }
    EXPECT_EQ(views.front(), 0.0f);
    EXPECT_EQ(views.back(), duration);

    std::set<int> viewed, entered;
    for (const float at : views)
        viewed.insert(s_generator->GetFlightView(at).region);
    const float step = 0.1f / s_generator->GetSettings().flightSpeed;
    for (float at = 0.0f; at < duration; at += step)
        entered.insert(s_generator->GetFlightView(at).region);
    for (const int region : entered)
        EXPECT_TRUE(viewed.count(region)) << s_generator->GetRegions()[static_cast<size_t>(region)].name
                                          << " is entered but has no loading view";

    for (const float crossing : ReferenceCrossings())
        for (const float offset : around) {
            const float wanted = std::clamp(crossing + offset, 0.0f, duration);
            const bool found = std::any_of(views.begin(), views.end(),
                                           [&](float at) { return std::fabs(at - wanted) <= 2.0f * step; });
            EXPECT_TRUE(found) << "no view " << offset << " s from the doorway at " << crossing << " s";
        }
}

} // namespace
} // namespace SampleHost
