#include "core/PointWelder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace GAME {
namespace {

TEST(PointWelder, WeldsToTheAverageMeasuredFromTheFirstPointOfAGroup)
{
    PointWelder welder;
    std::vector<Vec3> points = {{0, 0, 0}, {0.005f, 0, 0}};
    welder.Weld(points);
    EXPECT_EQ(points[0], Vec3(0.0025f, 0, 0));
    EXPECT_EQ(points[1], Vec3(0.0025f, 0, 0));
    EXPECT_EQ(welder.GetGroups(), (std::vector<int32_t>{0, 0}));

    // The third point is near the second but not near the first, which started the group.
    PointWelder chain;
    points = {{0, 0, 0}, {0.008f, 0, 0}, {0.016f, 0, 0}};
    chain.Weld(points);
    EXPECT_EQ(chain.GetGroups(), (std::vector<int32_t>{0, 0, 1}));
    EXPECT_FLOAT_EQ(points[0].x, 0.004f);
    EXPECT_FLOAT_EQ(points[1].x, 0.004f);
    EXPECT_FLOAT_EQ(points[2].x, 0.016f);
    ASSERT_EQ(chain.GetWeldedPoints().size(), 2u);
}

TEST(PointWelder, NeighboursAcrossCellBordersAndTheDistanceLimit)
{
    PointWelder welder;
    std::vector<Vec3> points = {{0.999f, 5, -1.0005f}, {1.001f, 5, -0.9995f}, {3, 0, 0},
                                {3.011f, 0, 0},        {-2.0f, -0.004f, 7},   {-1.996f, 0.003f, 7}};
    welder.Weld(points);
    EXPECT_EQ(welder.GetGroups(), (std::vector<int32_t>{0, 0, 1, 2, 3, 3}));
    EXPECT_FLOAT_EQ(points[0].x, 1.0f);
    EXPECT_EQ(points[2], Vec3(3, 0, 0));
    EXPECT_EQ(points[3], Vec3(3.011f, 0, 0));
    EXPECT_FLOAT_EQ(points[4].x, -1.998f);
}

TEST(PointWelder, ASecondRunStartsAfreshAndBadValuesStayPut)
{
    PointWelder welder;
    std::vector<Vec3> first = {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}};
    welder.Weld(first);
    std::vector<Vec3> second = {{1, 1, 1}, {1.001f, 1, 1}};
    welder.Weld(second);
    EXPECT_EQ(welder.GetGroups(), (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(welder.GetWeldedPoints().size(), 1u);

    std::vector<Vec3> bad = {{NAN, 0, 0}, {INFINITY, 0, 0}, {INFINITY, 0, 0}, {-3e38f, 1e30f, 0}, {0, 0, 0}};
    welder.Weld(bad);
    EXPECT_TRUE(std::isnan(bad[0].x));
    EXPECT_EQ(bad[4], Vec3(0, 0, 0));
    EXPECT_EQ(bad[3], Vec3(-3e38f, 1e30f, 0));
    EXPECT_EQ(welder.GetGroups().size(), 5u);

    std::vector<Vec3> none;
    welder.Weld(none);
    EXPECT_TRUE(welder.GetGroups().empty());
    EXPECT_TRUE(welder.GetWeldedPoints().empty());
}

// The grid must find exactly the partners that comparing every pair finds.
TEST(PointWelder, GridSearchMatchesComparingEveryPair)
{
    std::mt19937 random(99);
    std::uniform_int_distribution<int> cell(-3, 3);
    std::uniform_real_distribution<float> jitter(-0.012f, 0.012f);
    std::vector<Vec3> points;
    for (int i = 0; i < 600; ++i) {
        // Clustered on cell corners, where neighbours sit in different cells.
        points.emplace_back(float(cell(random)) + jitter(random), float(cell(random)) + jitter(random),
                            float(cell(random) % 2) + jitter(random));
    }

    std::vector<int32_t> expected(points.size(), -1);
    int32_t groups = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        if (expected[i] >= 0)
            continue;
        expected[i] = groups;
        for (size_t j = i + 1; j < points.size(); ++j)
            if (expected[j] < 0 && (points[j] - points[i]).LengthSquared() < 0.0001f)
                expected[j] = groups;
        ++groups;
    }

    const std::vector<Vec3> original = points;
    PointWelder welder;
    welder.Weld(points);
    EXPECT_EQ(welder.GetGroups(), expected);
    ASSERT_EQ(welder.GetWeldedPoints().size(), size_t(groups));
    EXPECT_LT(groups, 600); // the data does weld
    for (size_t i = 0; i < points.size(); ++i)
        EXPECT_LT((points[i] - original[i]).LengthSquared(), 0.0001f);
}

} // namespace
} // namespace GAME
