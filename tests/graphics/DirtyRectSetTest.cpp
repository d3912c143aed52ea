#include "common/LogCapture.h"

#include "graphics/DirtyRectSet.h"

#include <climits>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace GAME {
namespace {

std::vector<DirtyRect> Rects(const DirtyRectSet& set)
{
    std::vector<DirtyRect> rects;
    for (int i = 0; i < set.GetNumRects(); ++i)
        rects.push_back(set.GetRect(i));
    return rects;
}

bool InteriorsMeet(const DirtyRect& a, const DirtyRect& b)
{
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

TEST(DirtyRectSetTest, OverlapCountsTouchingEdgesAndCorners)
{
    const DirtyRect a(0, 0, 10, 10);
    EXPECT_TRUE(DirtyRect::Overlap(a, DirtyRect(5, 5, 10, 10)));
    EXPECT_TRUE(DirtyRect::Overlap(a, DirtyRect(10, 0, 5, 5)));  // shares an edge
    EXPECT_TRUE(DirtyRect::Overlap(a, DirtyRect(10, 10, 5, 5))); // shares a corner
    EXPECT_TRUE(DirtyRect::Overlap(a, DirtyRect(-5, -5, 5, 5))); // the other corner
    EXPECT_FALSE(DirtyRect::Overlap(a, DirtyRect(11, 0, 5, 5)));
    EXPECT_FALSE(DirtyRect::Overlap(a, DirtyRect(0, -6, 5, 5)));
}

TEST(DirtyRectSetTest, AddsOnlyTheUncoveredPartsInTheirOrder)
{
    DirtyRectSet set;
    set.AddRect(DirtyRect(0, 0, 10, 10));
    set.AddRect(DirtyRect(0, 0, 10, 10)); // the same again: nothing new
    set.AddRect(DirtyRect(3, 3, 0, 5));   // no width
    set.AddRect(DirtyRect(3, 3, 5, -1));  // negative height
    EXPECT_EQ(set.GetNumRects(), 1);

    // Touching along an edge: cut against the first, but survives whole.
    set.AddRect(DirtyRect(10, 0, 5, 10));
    EXPECT_EQ(Rects(set), (std::vector<DirtyRect>{DirtyRect(0, 0, 10, 10), DirtyRect(10, 0, 5, 10)}));

    // A rectangle around both keeps them and adds the ring: left and right strips in the band of
    // the first rectangle it meets, then the top and bottom strips, each cut further by the rest.
    DirtyRectSet around;
    around.AddRect(DirtyRect(10, 10, 10, 10));
    around.AddRect(DirtyRect(0, 0, 30, 30));
    EXPECT_EQ(Rects(around), (std::vector<DirtyRect>{DirtyRect(10, 10, 10, 10), DirtyRect(0, 10, 10, 10),
                                                     DirtyRect(20, 10, 10, 10), DirtyRect(0, 0, 30, 10),
                                                     DirtyRect(0, 20, 30, 10)}));
    EXPECT_EQ(around.GetBoundingRect(), DirtyRect(0, 0, 30, 30));

    DirtyRectSet copy = around;
    around.Clear();
    EXPECT_EQ(around.GetNumRects(), 0);
    EXPECT_EQ(copy.GetNumRects(), 5);
    EXPECT_EQ(around.GetBoundingRect(), DirtyRect(INT_MAX, INT_MAX, 1, 1));
}

TEST(DirtyRectSetTest, RandomRectanglesStayDisjointAndCoverTheirUnion)
{
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> position(-20, 40);
    std::uniform_int_distribution<int> size(0, 25);
    for (int round = 0; round < 40; ++round) {
        DirtyRectSet set;
        // Cells of the area the added rectangles cover.
        std::vector<int> added(100 * 100, 0);
        const int count = 1 + round % 12;
        for (int i = 0; i < count; ++i) {
            const DirtyRect r(position(random), position(random), size(random), size(random));
            set.AddRect(r);
            for (int y = r.y; y < r.y + r.height; ++y)
                for (int x = r.x; x < r.x + r.width; ++x)
                    added[static_cast<size_t>((y + 30) * 100 + x + 30)] = 1;
        }
        const std::vector<DirtyRect> rects = Rects(set);
        std::vector<int> covered(100 * 100, 0);
        for (size_t i = 0; i < rects.size(); ++i) {
            EXPECT_GT(rects[i].width, 0);
            EXPECT_GT(rects[i].height, 0);
            for (size_t j = i + 1; j < rects.size(); ++j)
                EXPECT_FALSE(InteriorsMeet(rects[i], rects[j]))
                    << "round " << round << ": " << i << ", " << j;
            for (int y = rects[i].y; y < rects[i].y + rects[i].height; ++y)
                for (int x = rects[i].x; x < rects[i].x + rects[i].width; ++x)
                    covered[static_cast<size_t>((y + 30) * 100 + x + 30)] += 1;
        }
        // Every cell of the union is covered exactly once, nothing outside it.
        EXPECT_EQ(covered, added) << "round " << round;
    }
}

TEST(DirtyRectSetTest, AnIndexOutsideTheSetGivesAnEmptyRectangle)
{
    GAME::Test::LogCapture log;
    DirtyRectSet set;
    set.AddRect(DirtyRect(1, 2, 3, 4));
    EXPECT_EQ(set.GetRect(0), DirtyRect(1, 2, 3, 4));
    EXPECT_EQ(set.GetRect(1), DirtyRect(0, 0, 0, 0));
    EXPECT_EQ(set.GetRect(-1), DirtyRect(0, 0, 0, 0));
    EXPECT_TRUE(log.Contains("no rectangle 1", 1));
}

} // namespace
} // namespace GAME
