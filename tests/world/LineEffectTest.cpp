// Line effects: visible slices, ribbons and their indices, batches within one lock of the canvas's
// buffers, side vectors, degenerate strands; chaos beams (length, strands, linked effect by id,
// liberation) and flying bolts.
#include "LevelFixtures.h"

#include "core/MathUtil.h"
#include "world/ChaosBeam.h"
#include "world/EffectEntity.h"
#include "world/FlyingBolt.h"
#include "world/LineEffect.h"

#include <cmath>

namespace GAME::WorldTest {
namespace {

// A line effect whose strands and settings the test sets.
class LineEffectProbe : public LineEffect
{
    GAME_DECLARE_CLASS(LineEffectProbe)

public:
    void SetStrands(std::vector<std::vector<Vec3>> strands) { m_strands = std::move(strands); }
    void SetStart(const WorldVec3& start) { m_start = start; }
    void SetFaceAlongStrand(bool face) { m_faceAlongStrand = face; }
    void SetTaper(int points) { m_taperPoints = points; }
    void SetStretch(float stretch) { m_textureStretch = stretch; }
    void SetWidth(float width) { m_width = width; }
};

GAME_REGISTER_CLASS(LineEffectProbe, LineEffect)

std::vector<Vec3> Line(int count, const Vec3& step)
{
    std::vector<Vec3> points;
    for (int i = 0; i < count; ++i)
        points.push_back(step * static_cast<float>(i));
    return points;
}

bool AllFinite(const std::vector<EffectVertex>& vertices)
{
    for (const EffectVertex& v : vertices)
        if (!IsFiniteVec3(v.position) || !std::isfinite(v.u) || !std::isfinite(v.v))
            return false;
    return true;
}

// Every batch fits one lock and names only its own vertices.
void ExpectBatchesWithinTheirLocks(const std::vector<EffectVertex>& vertices,
                                   const std::vector<uint32_t>& indices,
                                   const std::vector<LineEffect::Batch>& batches)
{
    for (const LineEffect::Batch& batch : batches) {
        EXPECT_LE(batch.vertexCount, EffectGeometry::maxVertices);
        EXPECT_LE(batch.firstVertex + batch.vertexCount, vertices.size());
        EXPECT_LE(batch.firstIndex + batch.indexCount, indices.size());
        EXPECT_EQ(batch.indexCount % 6, 0u);
        for (uint32_t i = 0; i < batch.indexCount; ++i)
            EXPECT_LT(indices[batch.firstIndex + i], batch.vertexCount);
    }
}

class LineEffectTest : public WorldFixture
{
protected:
    void SetUp() override
    {
        WorldFixture::SetUp();
        DataKit::ArzWriter writer(true);
        writer.AddRecord("records/probe.dbr").String("Class", "LineEffectProbe");
        writer.AddRecord("records/beam.dbr").String("Class", "ChaosBeam");
        writer.AddRecord("records/bolt.dbr").String("Class", "FlyingBolt");
        writer.AddRecord("records/effect.dbr").String("Class", "EffectEntity");
        ASSERT_TRUE(records.Load(writer.Build()));
    }

    template <class T> T* Create(const char* record)
    {
        return ObjectManager::Get()->CreateObjectFromFileAs<T>(record, 0, true);
    }

    // Built with the camera at the identity (looking along +Z, Y up) and the strands in place.
    void Build(const LineEffect& effect)
    {
        effect.BuildGeometry(Coords(), Coords(), vertices, indices, batches);
    }

    std::vector<EffectVertex> vertices;
    std::vector<uint32_t> indices;
    std::vector<LineEffect::Batch> batches;
};

TEST_F(LineEffectTest, VisibleSlicesOfAStrand)
{
    int first = -1, end = -1;
    ASSERT_TRUE(LineEffect::GetVisibleRange(10, 0.0f, 0.5f, first, end));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(end, 5);
    EXPECT_FALSE(LineEffect::GetVisibleRange(10, 0.0f, 0.1f, first, end)) << "one point is no ribbon";
    ASSERT_TRUE(LineEffect::GetVisibleRange(10, 0.2f, 1.0f, first, end));
    EXPECT_EQ(first, 2);
    EXPECT_EQ(end, 10);
    ASSERT_TRUE(LineEffect::GetVisibleRange(10, -1.0f, 7.0f, first, end));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(end, 10) << "percents beyond the strand are held to it";
    EXPECT_FALSE(LineEffect::GetVisibleRange(10, NAN, NAN, first, end));
    EXPECT_FALSE(LineEffect::GetVisibleRange(0, 0.0f, 1.0f, first, end));
}

TEST_F(LineEffectTest, RibbonVerticesTaperAndIndicesPairThePoints)
{
    LineEffectProbe* effect = Create<LineEffectProbe>("records/probe.dbr");
    ASSERT_NE(effect, nullptr);
    effect->SetStrands({Line(10, Vec3(1.0f, 0.0f, 0.0f))});
    effect->SetWidth(2.0f);
    effect->SetTopBottomPercent(0.5f, 0.0f);
    Build(*effect);
    ASSERT_EQ(batches.size(), 1u);
    ASSERT_EQ(vertices.size(), 10u) << "points 0 to 4, two vertices each";
    const std::vector<uint32_t> expected = {2, 3, 1, 0, 2, 1, 4, 5, 3, 2, 4, 3,
                                            6, 7, 5, 4, 6, 5, 8, 9, 7, 6, 8, 7};
    EXPECT_EQ(indices, expected);

    // Taper over one point: nothing at the ends, full width (2) and colour between. The side runs
    // across the strand in the view plane; the texture runs along it, once per 5 units.
    EXPECT_EQ(vertices[0].position, Vec3(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(vertices[0].color, 0u);
    for (int k = 1; k <= 3; ++k) {
        const EffectVertex& a = vertices[static_cast<size_t>(2 * k)];
        const EffectVertex& b = vertices[static_cast<size_t>(2 * k + 1)];
        EXPECT_NEAR((a.position - b.position).Length(), 2.0f, 1e-5f);
        EXPECT_NEAR(Vec3::Dot(a.position - b.position, Vec3(1.0f, 0.0f, 0.0f)), 0.0f, 1e-5f);
        EXPECT_EQ(a.color, 0xFFFFFFFFu);
        EXPECT_EQ(a.u, 0.0f);
        EXPECT_EQ(b.u, 1.0f);
        EXPECT_FLOAT_EQ(a.v, static_cast<float>(k) / 5.0f);
    }
    EXPECT_EQ(vertices[8].position, vertices[9].position) << "the last point tapers to nothing";

    // The top of the strand only, counted from its own first point.
    effect->SetTopBottomPercent(1.0f, 0.2f);
    Build(*effect);
    ASSERT_EQ(vertices.size(), 16u);
    EXPECT_EQ(vertices[0].position, Vec3(2.0f, 0.0f, 0.0f));
    EXPECT_EQ(vertices[0].v, 0.0f);
    effect->SetTopBottomPercent(0.1f, 0.0f);
    Build(*effect);
    EXPECT_TRUE(batches.empty());
    EXPECT_TRUE(vertices.empty());
    ObjectManager::Get()->DestroyObjectEx(effect, __FILE__, __LINE__);
}

TEST_F(LineEffectTest, SideVectorsLieAcrossTheStrandAsTheCameraSeesIt)
{
    LineEffectProbe* effect = Create<LineEffectProbe>("records/probe.dbr");
    ASSERT_NE(effect, nullptr);
    effect->SetStrands(
        {Line(6, Vec3(1.0f, 1.0f, 0.0f)), {Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(1, 1, 0), Vec3(0, 1, 0)}});
    effect->SetTopBottomPercent(1.0f, 0.0f);
    effect->SetTaper(0);
    for (bool along : {false, true}) {
        effect->SetFaceAlongStrand(along);
        Build(*effect);
        ASSERT_EQ(batches.size(), 2u);
        // The diagonal strand: unit sides, across it, in the view plane.
        for (size_t k = 0; k < 6; ++k) {
            const Vec3 side = vertices[2 * k].position - vertices[2 * k + 1].position;
            EXPECT_NEAR(side.Length(), 1.0f, 1e-5f);
            EXPECT_NEAR(Vec3::Dot(side, Vec3(1.0f, 1.0f, 0.0f)), 0.0f, 1e-5f);
            EXPECT_NEAR(side.z, 0.0f, 1e-6f);
        }
        // The square strand: one side for the whole strand, or each segment's own.
        const Vec3 first = vertices[12].position - vertices[13].position;
        const Vec3 second = vertices[14].position - vertices[15].position;
        if (along)
            EXPECT_EQ(first, second);
        else
            EXPECT_NEAR(Vec3::Dot(first, second), 0.0f, 1e-5f) << "segments at right angles turn the side";
    }
    ObjectManager::Get()->DestroyObjectEx(effect, __FILE__, __LINE__);
}

TEST_F(LineEffectTest, LongStrandsGoOutInBatchesThatFitOneLock)
{
    LineEffectProbe* effect = Create<LineEffectProbe>("records/probe.dbr");
    ASSERT_NE(effect, nullptr);
    effect->SetStrands({Line(1200, Vec3(0.1f, 0.0f, 0.0f))});
    effect->SetTopBottomPercent(1.0f, 0.0f);
    Build(*effect);
    ASSERT_EQ(batches.size(), 3u);
    EXPECT_EQ(batches[0].vertexCount, 1000u);
    EXPECT_EQ(batches[1].vertexCount, 1000u);
    EXPECT_EQ(batches[2].vertexCount, 404u);
    uint32_t quads = 0;
    for (const LineEffect::Batch& batch : batches)
        quads += batch.indexCount / 6;
    EXPECT_EQ(quads, 1199u) << "every pair of consecutive points, none twice";
    EXPECT_EQ(vertices[batches[1].firstVertex].position, vertices[998].position) << "batches share a point";
    ExpectBatchesWithinTheirLocks(vertices, indices, batches);

    // Degenerate strands: every point in one place, no texture stretch, no width.
    effect->SetStrands({std::vector<Vec3>(8, Vec3(1.0f, 2.0f, 3.0f))});
    effect->SetStretch(0.0f);
    effect->SetWidth(0.0f);
    for (bool along : {false, true}) {
        effect->SetFaceAlongStrand(along);
        Build(*effect);
        ASSERT_EQ(vertices.size(), 16u);
        EXPECT_TRUE(AllFinite(vertices));
        EXPECT_EQ(vertices[5].v, 0.0f);
    }

    // Without bounds the box has no size (it is never infinite), centred on the start point.
    effect->SetStart(WorldVec3(nullptr, Vec3(4.0f, 5.0f, 6.0f)));
    effect->UpdateBoundingBox();
    EXPECT_EQ(effect->GetRegionBoundingBox(), ABBox(Vec3(4.0f, 5.0f, 6.0f), Vec3()));
    ObjectManager::Get()->DestroyObjectEx(effect, __FILE__, __LINE__);
}

TEST_F(LineEffectTest, PauseAtTargetStopsTheClockOnceTheTopIsReached)
{
    LineEffectProbe* effect = Create<LineEffectProbe>("records/probe.dbr");
    ASSERT_NE(effect, nullptr);
    effect->DoSetPauseAtTarget();
    effect->SetTopBottomPercent(0.5f, 0.0f);
    effect->Update(100);
    EXPECT_EQ(effect->GetElapsed(), 100);
    effect->SetTopBottomPercent(1.0f, 0.0f);
    effect->Update(100);
    EXPECT_TRUE(effect->IsPaused());
    EXPECT_TRUE(effect->HasReachedTarget());
    effect->Update(100);
    EXPECT_EQ(effect->GetElapsed(), 200);
    effect->SetPause(false);
    effect->Update(100);
    EXPECT_EQ(effect->GetElapsed(), 300) << "the pause at the target happens once";
    ObjectManager::Get()->DestroyObjectEx(effect, __FILE__, __LINE__);
}

TEST_F(LineEffectTest, ChaosBeamsCapTheirStrandsAndSurviveABeamOfNoLength)
{
    ChaosBeam::SeedRandom(7);
    ChaosBeam* beam = Create<ChaosBeam>("records/beam.dbr");
    ChaosBeam::SeedRandom(7);
    ChaosBeam* twin = Create<ChaosBeam>("records/beam.dbr");
    ASSERT_NE(beam, nullptr);
    ASSERT_NE(twin, nullptr);
    EXPECT_EQ(beam->GetStrandTimers(), twin->GetStrandTimers()) << "one seeded generator";
    ASSERT_EQ(beam->GetStrandTimers().size(), 3u);
    for (int timer : beam->GetStrandTimers()) {
        EXPECT_GE(timer, 500);
        EXPECT_LE(timer, 1500);
    }
    EXPECT_EQ(beam->GetTextureStretch(), 0.0f) << "a record without \"TextureStretch\" gives 0";
    EXPECT_EQ(beam->GetWidth(), 0.5f);
    EXPECT_EQ(beam->GetTaperPoints(), 5);

    const Vec3 from(10.0f, 0.0f, 10.0f);
    level->AddEntity(beam, Coords::Translation(from));
    beam->SetEndPoints(WorldVec3(region, from), WorldVec3(region, from + Vec3(200.0f, 0.0f, 0.0f)));
    EXPECT_EQ(beam->GetBoundsMax(), Vec3(20.0f, 20.0f, 20.0f));
    beam->Update(16);
    ASSERT_EQ(beam->GetStrands().size(), 4u);
    for (int s = 0; s < 3; ++s) {
        const std::vector<Vec3>& strand = beam->GetStrands()[static_cast<size_t>(s)];
        ASSERT_EQ(strand.size(), 500u) << "200 units make 1000 points, held to 500";
        EXPECT_EQ(strand.front(), Vec3()) << "pinched to the start";
        for (const Vec3& p : strand)
            ASSERT_TRUE(IsFiniteVec3(p));
        EXPECT_NEAR(strand.back().x, 199.6f, 4.0f);
    }
    EXPECT_TRUE(beam->GetStrands()[3].empty());
    Build(*beam);
    ASSERT_EQ(batches.size(), 3u);
    for (const LineEffect::Batch& batch : batches)
        EXPECT_EQ(batch.vertexCount * sizeof(EffectVertex), 24000u);
    ExpectBatchesWithinTheirLocks(vertices, indices, batches);
    EXPECT_TRUE(AllFinite(vertices)) << "a texture stretch of 0 divides nothing";

    beam->SetEndPoints(WorldVec3(region, from), WorldVec3(region, from + Vec3(0.0f, 10.0f, 0.0f)));
    beam->Update(16);
    EXPECT_EQ(beam->GetStrands()[0].size(), 50u) << "five points a unit";
    EXPECT_EQ(beam->GetBeamClock(), 32);

    beam->SetEndPoints(WorldVec3(region, from), WorldVec3(region, from));
    beam->Update(16);
    for (const std::vector<Vec3>& strand : beam->GetStrands())
        EXPECT_TRUE(strand.empty());
    Build(*beam);
    EXPECT_TRUE(batches.empty());
    beam->SetEndPoints(WorldVec3(region, from), WorldVec3(nullptr, Vec3(1.0f, 1.0f, 1.0f)));
    beam->Update(16);
    EXPECT_TRUE(beam->GetStrands()[0].empty()) << "an end point without a region gives no beam";

    const unsigned id = beam->GetObjectId();
    beam->Liberate();
    EXPECT_TRUE(beam->IsLiberated());
    EXPECT_FALSE(beam->IsInWorld());
    EXPECT_EQ(ObjectManager::Get()->GetObject(id), nullptr);
    ObjectManager::Get()->DestroyObjectEx(twin, __FILE__, __LINE__);
    Flush();
}

TEST_F(LineEffectTest, ChaosBeamsHoldTheirEffectByIdAndReleaseIt)
{
    ChaosBeam* beam = Create<ChaosBeam>("records/beam.dbr");
    EffectEntity* effect = Create<EffectEntity>("records/effect.dbr");
    ASSERT_NE(beam, nullptr);
    ASSERT_NE(effect, nullptr);
    const Vec3 from(10.0f, 0.0f, 10.0f);
    level->AddEntity(beam, Coords::Translation(from));
    beam->SetEndPoints(WorldVec3(region, from), WorldVec3(region, from + Vec3(4.0f, 0.0f, 0.0f)));
    beam->SetLinkedEffect(effect);
    beam->Update(16);
    EXPECT_EQ(effect->GetBoneList().size(), 3u * 19u) << "every pair of consecutive points of three strands";
    const EmitterBone& bone = effect->GetBoneList().front();
    EXPECT_EQ(bone.end, from) << "in the start point's region";

    // The effect goes away first: the beam forgets it.
    ObjectManager::Get()->DestroyObjectEx(effect, __FILE__, __LINE__);
    Flush();
    EXPECT_EQ(beam->GetLinkedEffect(), nullptr);
    beam->Update(16);

    // The beam goes away first: its effect stops and removes itself. That effect is the game's own
    // under an earlier session's host, renumbered by a join while linked: the beam still finds it.
    EffectEntity* next = ObjectManager::Get()->CreateObjectFromFileAs<EffectEntity>(
        "records/effect.dbr", (1u << ObjectManager::kHostShift) | 1u);
    ASSERT_NE(next, nullptr);
    beam->SetLinkedEffect(next);
    EXPECT_EQ(beam->GetLinkedEffect(), next);
    ASSERT_EQ(ObjectManager::Get()->RenumberHost(1, 2), 1u);
    EXPECT_EQ(beam->GetLinkedEffect(), next);
    level->RemoveEntity(beam);
    ObjectManager::Get()->DestroyObjectEx(beam, __FILE__, __LINE__);
    Flush();
    EXPECT_TRUE(next->GetSelfRemove());
    EXPECT_FALSE(next->GetEmitting());
    ObjectManager::Get()->DestroyObjectEx(next, __FILE__, __LINE__);
}

TEST_F(LineEffectTest, ChaosBeamsHandTheirStrandsToAnEffectInAnotherRegionInThatRegionsSpace)
{
    // The effect stands in a second region 64 units along x; its emitters draw in that region.
    world->AddRegion("levels/beside.lvl", IntVec3(64, 0, 0), ABBox(), RegionId());
    Region* beside = world->GetRegion(1);
    ASSERT_NE(beside, nullptr);
    auto* besideLevel = new Level(beside);
    besideLevel->NewSpace(Vec2(100.0f, 100.0f));
    besideLevel->PostLoad(false);
    beside->SetLevel(besideLevel);

    ChaosBeam* beam = Create<ChaosBeam>("records/beam.dbr");
    EffectEntity* effect = Create<EffectEntity>("records/effect.dbr");
    ASSERT_NE(beam, nullptr);
    ASSERT_NE(effect, nullptr);
    const Vec3 from(10.0f, 0.0f, 10.0f);
    level->AddEntity(beam, Coords::Translation(from));
    besideLevel->AddEntity(effect, Coords::Translation(Vec3(2.0f, 0.0f, 2.0f)));
    beam->SetEndPoints(WorldVec3(region, from), WorldVec3(region, from + Vec3(4.0f, 0.0f, 0.0f)));
    beam->SetLinkedEffect(effect);
    beam->Update(16);

    const Vec3 start = beside->GetRelativePosition(WorldVec3(region, from));
    ASSERT_NE(start, from) << "the regions must be apart for the test to tell them apart";
    ASSERT_EQ(effect->GetBoneList().size(), 3u * 19u);
    const std::vector<Vec3>& strand = beam->GetStrands()[0];
    EXPECT_EQ(effect->GetBoneList()[0].end, start + strand[0]);
    EXPECT_EQ(effect->GetBoneList()[0].start, start + strand[1]);
    EXPECT_EQ(effect->GetBoneList()[18].start, start + strand[19]);
    Flush();
}

TEST_F(LineEffectTest, FlyingBoltsAreAlwaysOneAndAHalfUnitsAlongTheirThirdAxis)
{
    FlyingBolt* bolt = Create<FlyingBolt>("records/bolt.dbr");
    ASSERT_NE(bolt, nullptr);
    EXPECT_TRUE(bolt->GetFaceAlongStrand());
    EXPECT_EQ(bolt->GetWidth(), 0.7f);
    EXPECT_EQ(bolt->GetTaperPoints(), 2);
    // The third axis points along +X, three units long.
    Coords frame(Vec3(0.0f, 0.0f, -1.0f), Vec3(0.0f, 1.0f, 0.0f), Vec3(3.0f, 0.0f, 0.0f),
                 Vec3(5.0f, 1.0f, 5.0f));
    level->AddEntity(bolt, frame);
    bolt->Update(16);
    ASSERT_EQ(bolt->GetStrands().size(), 1u);
    const std::vector<Vec3>& strand = bolt->GetStrands()[0];
    ASSERT_EQ(strand.size(), 10u);
    for (size_t k = 0; k < strand.size(); ++k) {
        EXPECT_NEAR(strand[k].x, 0.14f * static_cast<float>(k), 1e-5f);
        EXPECT_EQ(strand[k].y, 0.0f);
        EXPECT_EQ(strand[k].z, 0.0f);
    }
    EXPECT_EQ(bolt->GetStartPoint().GetRegionPosition(), Vec3(5.0f, 1.0f, 5.0f));
    EXPECT_NEAR((bolt->GetEndPoint() - bolt->GetStartPoint()).x, 1.4f, 1e-5f);
    EXPECT_EQ(bolt->GetLength(), 1.0f) << "the length field is not what the bolt draws";
    EXPECT_FLOAT_EQ(bolt->GetTextureStretch(), 1.4f);
    EXPECT_EQ(bolt->GetRegionBoundingBox(), ABBox(Vec3(5.0f, 1.0f, 5.0f), Vec3(1.0f, 1.0f, 1.0f)));

    // Drawn along the strand: two tapered ends, one side for all points.
    Build(*bolt);
    ASSERT_EQ(vertices.size(), 20u);
    EXPECT_EQ(vertices[0].position, vertices[1].position);
    EXPECT_NEAR((vertices[2].position - vertices[3].position).Length(), 0.35f, 1e-5f);
    EXPECT_NEAR((vertices[8].position - vertices[9].position).Length(), 0.7f, 1e-5f);
    ObjectManager::Get()->DestroyObjectEx(bolt, __FILE__, __LINE__);
    Flush();
}

} // namespace
} // namespace GAME::WorldTest
