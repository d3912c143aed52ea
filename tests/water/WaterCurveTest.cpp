// Rivers and wave sets: how their segments are cut, faded and counted, degenerate curves, ray
// hits and flow along a river, editor selection, and the wave animation.
#include "WaterFixtures.h"

#include "core/Ray.h"
#include "core/WorldCoords.h"
#include "terrain/WaterPath.h"
#include "terrain/WaterPathSegment.h"
#include "terrain/WaterWaveSet.h"

#include <cmath>
#include <initializer_list>

namespace GAME::WaterTest {
namespace {

ControlPoint Point(float x, float z, float tx = 0.0f, float tz = 0.0f, float width = 2.0f)
{
    ControlPoint p;
    p.position = Vec2(x, z);
    p.tangent = Vec2(tx, tz);
    p.side = WaterCurve::SideOf(Vec2(tx, tz));
    p.width = width;
    return p;
}

bool AllFinite(const std::vector<WaterVertex>& vertices)
{
    for (const WaterVertex& v : vertices)
        for (float f : {v.position[0], v.position[1], v.position[2], v.texCoord[0], v.texCoord[1],
                        v.normal[0], v.normal[1]})
            if (!std::isfinite(f))
                return false;
    return true;
}

// The alpha of every vertex of a row.
std::vector<uint32_t> RowAlpha(const WaterPathSegment& segment, unsigned row)
{
    std::vector<uint32_t> alpha;
    for (unsigned k = 0; k < WaterPathSegment::rowVertices; ++k)
        alpha.push_back(segment.GetVertices()[row * WaterPathSegment::rowVertices + k].color >> 24);
    return alpha;
}

class WaterCurveTest : public WaterTestBase
{
protected:
    // A river of the type "River" (made here) at height 1 through the points; null when refused.
    WaterPath* River(Water& water, std::initializer_list<ControlPoint> points)
    {
        Type("River");
        WaterPath* river = water.AddWaterPath("River", 1.0f, *points.begin());
        if (river)
            for (auto point = points.begin() + 1; point != points.end(); ++point)
                river->AddControlPoint(*point);
        return river;
    }
};

TEST_F(WaterCurveTest, SegmentsAreSubdividedByLengthWithinOneToSixtyFour)
{
    Water& water = MakeWater(256);
    Type("River");
    // A straight river 200 long: 100 would be half its length, 64 is the most.
    WaterPath* river = water.AddWaterPath("River", 1.0f, Point(20.0f, 20.0f, 10.0f, 0.0f));
    ASSERT_NE(river, nullptr);
    EXPECT_EQ(river->GetNumSegments(), 0u);
    ASSERT_TRUE(river->AddControlPoint(Point(220.0f, 20.0f, 10.0f, 0.0f)));
    const WaterPathSegment* segment = river->GetSegment(0);
    ASSERT_NE(segment, nullptr);
    EXPECT_EQ(segment->GetNumSubdivisions(), 64u);
    EXPECT_EQ(segment->GetNumVertices(), 650u);
    EXPECT_EQ(Vertices(*segment).size(), 650u);
    EXPECT_EQ(TreeCount(water), 1u);

    // 1.5 long, and then no length at all with zero tangents: one subdivision, finite vertices.
    WaterPath* stream = water.AddWaterPath("River", 1.0f, Point(30.0f, 30.0f));
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(stream->AddControlPoint(Point(31.5f, 30.0f)));
    EXPECT_EQ(stream->GetSegment(0)->GetNumSubdivisions(), 1u);
    EXPECT_EQ(stream->GetSegment(0)->GetNumTriangles(), 18u);
    EXPECT_TRUE(AllFinite(stream->GetSegment(0)->GetVertices()));
    ASSERT_TRUE(stream->AddControlPoint(Point(31.5f, 30.0f)));
    EXPECT_EQ(stream->GetSegment(1)->GetNumSubdivisions(), 1u);
    EXPECT_TRUE(AllFinite(stream->GetSegment(1)->GetVertices()));
    const ABBox& box = stream->GetSegment(1)->GetBoundingBox();
    EXPECT_TRUE(std::isfinite(box.center.x) && std::isfinite(box.extents.x));

    // Points that are not numbers are refused, and so are points so far out that the strip's box
    // would not be one (a river from a file came out with boxes of centre NaN).
    ControlPoint bad = Point(40.0f, 40.0f);
    bad.width = std::nanf("");
    EXPECT_FALSE(stream->AddControlPoint(bad));
    ControlPoint far = Point(40.0f, 7.0e22f);
    EXPECT_FALSE(stream->AddControlPoint(far));
    far = Point(40.0f, 40.0f);
    far.tangent.x = -2.0e6f;
    EXPECT_FALSE(stream->AddControlPoint(far));
    EXPECT_EQ(stream->GetNumControlPoints(), 3u);
}

TEST_F(WaterCurveTest, RiversFadeInAtTheirStartAndOutAtTheirEnd)
{
    Water& water = MakeWater(64);
    WaterPath* river = River(water, {Point(4.0f, 10.0f, 3.0f, 0.0f), Point(20.0f, 10.0f, 3.0f, 0.0f),
                                     Point(36.0f, 10.0f, 3.0f, 0.0f)});
    ASSERT_NE(river, nullptr);
    ASSERT_EQ(river->GetNumSegments(), 2u);
    const std::vector<uint32_t> faded(10, 0), half(10, 127), full(10, 255);
    const WaterPathSegment& first = *river->GetSegment(0);
    const WaterPathSegment& second = *river->GetSegment(1);
    const unsigned n0 = first.GetNumSubdivisions(), n1 = second.GetNumSubdivisions();
    EXPECT_EQ(RowAlpha(first, 0), faded);
    EXPECT_EQ(RowAlpha(first, 1), half);
    EXPECT_EQ(RowAlpha(first, n0), full);
    EXPECT_EQ(RowAlpha(second, 0), full);
    EXPECT_EQ(RowAlpha(second, n1 - 1), half);
    EXPECT_EQ(RowAlpha(second, n1), faded);

    // A fourth point: the second segment now flows on at full strength.
    river->AddControlPoint(Point(52.0f, 10.0f, 3.0f, 0.0f));
    EXPECT_EQ(RowAlpha(*river->GetSegment(1), n1), full);
    EXPECT_EQ(RowAlpha(*river->GetSegment(1), n1 - 1), full);
    EXPECT_EQ(RowAlpha(*river->GetSegment(2), river->GetSegment(2)->GetNumSubdivisions()), faded);
    // The device buffer holds what the segment built.
    EXPECT_EQ(Vertices(*river->GetSegment(1)).back().color >> 24, 255u);

    // A river of one segment both fades in and out, the start winning its second row.
    WaterPath* brook = water.AddWaterPath("River", 1.0f, Point(4.0f, 40.0f, 0.5f, 0.0f));
    brook->AddControlPoint(Point(7.0f, 40.0f, 0.5f, 0.0f));
    ASSERT_EQ(brook->GetSegment(0)->GetNumSubdivisions(), 1u);
    EXPECT_EQ(RowAlpha(*brook->GetSegment(0), 0), faded);
    EXPECT_EQ(RowAlpha(*brook->GetSegment(0), 1), half);
}

// Rivers and wave sets add, drop and rebuild their segments through the curve they share; what a
// river adds on its own (its reflection plane, the fade of its last segment) follows every edit,
// and the water's tree holds exactly the segments that exist.
TEST_F(WaterCurveTest, EditsAtTheEndKeepSegmentsPlaneAndTreeInStep)
{
    Water& water = MakeWater(64);
    WaterPath* river = River(water, {Point(4.0f, 10.0f, 3.0f, 0.0f), Point(20.0f, 10.0f, 3.0f, 0.0f),
                                     Point(36.0f, 20.0f, 3.0f, 0.0f)});
    ASSERT_NE(river, nullptr);
    EXPECT_EQ(TreeCount(water), 2u);
    const GraphicsReflectionPlane& plane = river->GetReflectionPlane();
    EXPECT_GT(plane.box.GetMax().z, 20.0f);

    river->RemoveEndControlPoint();
    ASSERT_EQ(river->GetNumSegments(), 1u);
    EXPECT_EQ(river->GetNumControlPoints(), 2u);
    EXPECT_EQ(river->GetCurrentControlPointIndex(), 1u);
    EXPECT_EQ(TreeCount(water), 1u);
    const WaterPathSegment& last = *river->GetSegment(0);
    EXPECT_EQ(RowAlpha(last, last.GetNumSubdivisions()), std::vector<uint32_t>(10, 0));
    EXPECT_EQ(plane.box.GetMax().z, last.GetBoundingBox().GetMax().z);

    river->UpdateHeight(3.0f);
    EXPECT_EQ(river->GetHeight(), 3.0f);
    EXPECT_EQ(plane.d, -3.0f);
    EXPECT_EQ(plane.box.center.y, 3.0f);
    for (const WaterVertex& v : Vertices(last))
        EXPECT_EQ(v.position[1], 3.0f);
    river->UpdateHeight(std::nanf(""));
    EXPECT_EQ(river->GetHeight(), 3.0f);

    WaterWaveSet* shore = water.AddWaveSet(0.0f, Point(10.0f, 40.0f, 5.0f, 0.0f, 4.0f));
    shore->AddControlPoint(Point(30.0f, 40.0f, 5.0f, 0.0f, 4.0f));
    shore->AddControlPoint(Point(50.0f, 40.0f, 5.0f, 0.0f, 4.0f));
    EXPECT_EQ(TreeCount(water), 3u);
    shore->RemoveEndControlPoint();
    EXPECT_EQ(shore->GetNumSegments(), 1u);
    EXPECT_EQ(TreeCount(water), 2u);
    shore->UpdateHeight(2.0f);
    EXPECT_FLOAT_EQ(shore->GetSegment(0)->GetWaveHeight(), 2.1f);

    // A curve destroyed takes its segments out of the tree.
    water.RemoveWaterCurve(river);
    EXPECT_EQ(TreeCount(water), 1u);
    water.RemoveWaterCurve(shore);
    EXPECT_EQ(TreeCount(water), 0u);
}

TEST_F(WaterCurveTest, RaysHitRiversAndTheFlowFollowsTheCurve)
{
    Water& water = MakeWater(64);
    WaterType* type = Type("River");
    type->ScrollSpeed() = 3.0f;
    WaterPath* river = water.AddWaterPath("River", 2.0f, Point(10.0f, 20.0f, 5.0f, 0.0f, 3.0f));
    ASSERT_NE(river, nullptr);
    river->AddControlPoint(Point(40.0f, 20.0f, 5.0f, 0.0f, 3.0f));

    unsigned segment = 99;
    float t = -1.0f;
    const Ray down(Vec3(25.0f, 10.0f, 21.0f), Vec3(0.0f, -1.0f, 0.0f));
    EXPECT_FLOAT_EQ(river->RayIntersection(down, gInfinity, segment, t), 8.0f);
    EXPECT_EQ(segment, 0u);
    EXPECT_NEAR(t, 0.5f, 0.05f);
    EXPECT_EQ(river->RayIntersection(down, 7.0f, segment, t), gInfinity); // beyond the limit
    const Ray beside(Vec3(25.0f, 10.0f, 24.0f), Vec3(0.0f, -1.0f, 0.0f));
    EXPECT_EQ(river->RayIntersection(beside, gInfinity, segment, t), gInfinity);

    Vec3 velocity;
    river->CalcSurfaceVelocity(0, 0.5f, velocity);
    EXPECT_NEAR(velocity.x, 3.0f, 1e-4f);
    EXPECT_NEAR(velocity.z, 0.0f, 1e-4f);
    Vec3 surface;
    ASSERT_TRUE(water.GetWaterPointInfo(Vec3(25.0f, 0.5f, 20.0f), surface, velocity));
    EXPECT_EQ(surface, Vec3(25.0f, 2.0f, 20.0f));
    EXPECT_NEAR(velocity.x, 3.0f, 1e-4f);
}

TEST_F(WaterCurveTest, EditorSelectionPicksCentresRingsAndHandles)
{
    Water& water = MakeWater(64);
    Type("River");
    WaterPath* river = water.AddWaterPath("River", 0.0f, Point(10.0f, 10.0f, 2.0f, 0.0f));
    river->AddControlPoint(Point(30.0f, 10.0f, 2.0f, 0.0f));
    const WorldCoords lookingAlongZ(
        nullptr, Coords::LookInDirection(Vec3(), Vec3(0.0f, 0.0f, 1.0f), Vec3(0.0f, 1.0f, 0.0f)));
    auto at = [](float x, float z) { return Ray(Vec3(x, 5.0f, z), Vec3(0.0f, -1.0f, 0.0f)); };
    WaterCurve::SelectionType selection = WaterCurve::SELECTION_NONE;
    EXPECT_EQ(water.SelectCurve(at(10.3f, 10.0f), selection, lookingAlongZ), river);
    EXPECT_EQ(selection, WaterCurve::SELECTION_CENTRE);
    EXPECT_EQ(river->GetCurrentControlPointIndex(), 0u);
    // 0.7 away along the view and across it.
    EXPECT_EQ(river->SelectPoint(at(30.0f, 10.7f), lookingAlongZ), WaterCurve::SELECTION_RING_ALONG);
    EXPECT_EQ(river->GetCurrentControlPointIndex(), 1u);
    EXPECT_EQ(river->SelectPoint(at(30.7f, 10.0f), lookingAlongZ), WaterCurve::SELECTION_RING_ACROSS);
    // The handle ends: position +- (tangent + half a unit along it).
    EXPECT_EQ(river->SelectPoint(at(12.5f, 10.0f), lookingAlongZ), WaterCurve::SELECTION_TANGENT_END);
    EXPECT_EQ(river->SelectPoint(at(7.5f, 10.0f), lookingAlongZ), WaterCurve::SELECTION_TANGENT_START);
    EXPECT_EQ(water.SelectCurve(at(20.0f, 30.0f), selection, lookingAlongZ), nullptr);
    EXPECT_EQ(selection, WaterCurve::SELECTION_NONE);
}

TEST_F(WaterCurveTest, WaveSegmentsCountBandPointsAndFoamPatchesByLength)
{
    EXPECT_EQ(WaterWaveSegment::CountBandPoints(3.0f), 8u);
    EXPECT_EQ(WaterWaveSegment::CountBandPoints(200.0f), 50u);
    EXPECT_EQ(WaterWaveSegment::CountBandPoints(20.7f), 20u);
    EXPECT_EQ(WaterWaveSegment::CountFoamPatches(200.0f, 1.0f), 100u);
    EXPECT_EQ(WaterWaveSegment::CountFoamPatches(3.0f, 1.0f), 6u);
    EXPECT_EQ(WaterWaveSegment::CountFoamPatches(3.0f, std::nanf("")), 6u);
    EXPECT_EQ(WaterWaveSegment::CountFoamPatches(0.0f, 1.0f), 1u);
    EXPECT_FLOAT_EQ(WaterWaveSet::HoldSpacing(0.5f), 1.0f);
    EXPECT_FLOAT_EQ(WaterWaveSet::HoldSpacing(20.0f), 10.0f);
    EXPECT_FLOAT_EQ(WaterWaveSet::HoldSpacing(std::nanf("")), 1.0f);

    Water& water = MakeWater(256);
    WaterWaveSet* shore = water.AddWaveSet(0.0f, Point(20.0f, 30.0f, 10.0f, 0.0f, 3.0f));
    ASSERT_NE(shore, nullptr);
    shore->AddControlPoint(Point(220.0f, 30.0f, 10.0f, 0.0f, 3.0f));
    const WaterWaveSegment* segment = shore->GetSegment(0);
    ASSERT_NE(segment, nullptr);
    EXPECT_EQ(segment->GetNumBandPoints(), 50u);
    EXPECT_EQ(segment->GetNumFoamPatches(), 100u);
    EXPECT_EQ(segment->GetNumVertices(), 4u * 100u + 2u * (6u * 50u + 6u));
    EXPECT_FLOAT_EQ(segment->GetWaveHeight(), 0.1f);

    // Ends no wider than 1.0: foam only.
    WaterWaveSet* thin = water.AddWaveSet(0.0f, Point(20.0f, 60.0f, 1.0f, 0.0f, 1.0f));
    thin->AddControlPoint(Point(23.0f, 60.0f, 1.0f, 0.0f, 1.0f));
    EXPECT_FALSE(thin->GetSegment(0)->HasBands());
    EXPECT_EQ(thin->GetSegment(0)->GetNumVertices(), 4u * thin->GetSegment(0)->GetNumFoamPatches());
}

TEST_F(WaterCurveTest, WavesMoveOnlyWithTimeAndStayInTheirRanges)
{
    Water& water = MakeWater(64);
    WaterWaveSet* shore = water.AddWaveSet(0.0f, Point(10.0f, 10.0f, 5.0f, 0.0f, 4.0f));
    shore->AddControlPoint(Point(40.0f, 10.0f, 5.0f, 0.0f, 4.0f));
    WaterWaveSegment& segment = *shore->GetSegment(0);
    const std::vector<WaterVertex> before = Vertices(segment);
    const float phase = segment.GetFoamPhase(0), band = segment.GetBand(0).position;
    EXPECT_GE(phase, 0.0f);
    EXPECT_LE(phase, 2.0f);
    EXPECT_GE(segment.GetBand(1).lengthFactor, 0.6f);
    EXPECT_LE(segment.GetBand(1).lengthFactor, 1.0f);
    EXPECT_LE(segment.GetBand(1).offset, 1.0f - segment.GetBand(1).lengthFactor + 1e-6f);

    water.Update(0);
    water.Update(-16);
    EXPECT_EQ(segment.GetFoamPhase(0), phase);
    EXPECT_EQ(segment.GetBand(0).position, band);
    water.Update(100);
    EXPECT_NEAR(segment.GetFoamPhase(0), phase + 0.0333f > 2.0f ? 0.0f : phase + 0.0333f, 1e-5f);
    EXPECT_LT(segment.GetBand(0).position, band);
    const std::vector<WaterVertex> after = Vertices(segment);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(AllFinite(after));
    // The foam drew the phase it had before the step.
    EXPECT_NEAR(static_cast<double>(after[0].color >> 24),
                std::pow(1.0 - std::fabs(phase - 1.0), 3.0) * 255.0, 1.0);
    // A long run keeps every band within one phase of the shore.
    for (int i = 0; i < 2000; ++i)
        water.Update(50);
    for (unsigned k = 0; k < WaterWaveSegment::numBands; ++k) {
        EXPECT_GE(segment.GetBand(k).position, -1.0f);
        EXPECT_LE(segment.GetBand(k).position, 1.0f);
    }
    EXPECT_TRUE(AllFinite(Vertices(segment)));
}

} // namespace
} // namespace GAME::WaterTest
