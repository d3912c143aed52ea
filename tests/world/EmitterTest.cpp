// Running emitters and effects: capacity, emission, simulation, geometry, anchors and bones.
#include "EffectFixtures.h"

#include "common/LogCapture.h"
#include "core/Time.h"
#include "world/Effect.h"
#include "world/EffectData.h"
#include "world/EmitterData.h"
#include "world/Light.h"

#include <cmath>

namespace GAME::WorldTest {
namespace {

class StepClock : public MachineClock
{
public:
    bool HasPerformanceCounter() const override { return false; }
    uint64_t GetPerformanceCounter() const override { return 0; }
    uint64_t GetPerformanceFrequency() const override { return 1000; }
    uint32_t GetMilliseconds() const override { return now; }
    uint32_t now = 1000;
};

class EmitterTest : public WorldFixture
{
protected:
    void SetUp() override
    {
        WorldFixture::SetUp();
        ResetTimeSystem();
        SetMachineClock(&clock);
        InitializeTimeSystem();
        UnpauseGameTime();
        Emitter::SeedRandom(1234);
    }
    void TearDown() override
    {
        SetMachineClock(nullptr);
        ResetTimeSystem();
        WorldFixture::TearDown();
    }
    void Advance(uint32_t ms)
    {
        clock.now += ms;
        UpdateTime();
    }
    // One frame: time moves on, the emitter updates (drawn before when asked).
    void Step(Emitter& emitter, const EmitterData& data, uint32_t ms, bool draw = true)
    {
        Advance(ms);
        ABBox box;
        emitter.Update(WorldCoords(region, Coords()), box, &data, nullptr);
        lastBox = box;
        if (draw)
            MarkDrawn(emitter);
    }
    static void SetConstant(EmitterData& data, int slot, float value)
    {
        data.GetCurve(slot)->SetFirstLastY(value, value);
    }

    StepClock clock;
    TestEmitterGraphics graphics;
    ABBox lastBox;
};

TEST_F(EmitterTest, CapacityFollowsTheDemandWithinItsBand)
{
    EmitterData data;
    Emitter emitter(&data);
    Step(emitter, data, 16);
    EXPECT_EQ(emitter.GetCapacity(), 1100); // 80 a second for 10 seconds, a quarter more, 100 spare

    data.SetFloat(EmitterData::FLOAT_LIFE, 9.2f); // 920 wanted: inside the band
    Step(emitter, data, 16);
    EXPECT_EQ(emitter.GetCapacity(), 1100);
    data.SetFloat(EmitterData::FLOAT_LIFE, 8.0f); // 800: more than 200 below
    Step(emitter, data, 16);
    EXPECT_EQ(emitter.GetCapacity(), 900);
    data.SetFloat(EmitterData::FLOAT_LIFE, 9.5f); // 950: above
    Step(emitter, data, 16);
    EXPECT_EQ(emitter.GetCapacity(), 1050);

    GAME::Test::LogCapture log;
    SetConstant(data, EmitterData::CURVE_EMISSION_RATE, 2000.0f);
    Step(emitter, data, 16);
    EXPECT_EQ(emitter.GetCapacity(), 10100);
    Step(emitter, data, 16);
    Step(emitter, data, 16);
    EXPECT_EQ(log.Count(), 1u) << "the over-capacity line is not repeated every update";
    EXPECT_TRUE(
        log.Contains("Emitter has requested 23750 particles which is more than the maximum of 10000.", 2));
}

TEST_F(EmitterTest, ImplodingParticlesLiveUntilTheyReachTheCentre)
{
    EmitterData data;
    data.SetBoolean(EmitterData::BOOL_IMPLODE, true);
    data.SetInteger(EmitterData::INT_SHAPE, EmitterData::SHAPE_RING);
    SetConstant(data, EmitterData::CURVE_EMISSION_SIZE, 3.0f);
    SetConstant(data, EmitterData::CURVE_SPEED, 1.0f);
    SetConstant(data, EmitterData::CURVE_EMISSION_RATE, 100.0f);
    Emitter emitter(&data);
    Step(emitter, data, 100);
    ASSERT_GT(emitter.GetNumParticles(), 5);
    for (int i = 0; i < emitter.GetNumParticles(); ++i) {
        const Particle& p = emitter.GetParticle(i);
        EXPECT_NEAR(p.life, 3.0f, 1e-3f);
        EXPECT_NEAR(p.velocity.Length(), 1.0f, 1e-3f);
        // Towards the centre, and neither gravity nor drag acts.
        EXPECT_LT(Vec3::Dot(p.velocity, p.position), 0.0f);
        EXPECT_NEAR(p.position.Length(), 3.0f - p.age, 0.01f);
    }
    // By 3 seconds every particle of the first update is gone; the live records stay packed.
    for (int i = 0; i < 40; ++i)
        Step(emitter, data, 100);
    for (int i = 0; i < emitter.GetNumParticles(); ++i) {
        const Particle& p = emitter.GetParticle(i);
        EXPECT_LT(p.age, p.life);
        EXPECT_LE(p.age, 3.0f);
    }
}

TEST_F(EmitterTest, TextureFramesFollowAgeOrRate)
{
    graphics.frames = 4;
    EmitterData data;
    data.SetFloat(EmitterData::FLOAT_LIFE, 2.0f);
    SetConstant(data, EmitterData::CURVE_EMISSION_RATE, 50.0f);
    Emitter emitter(&data);
    for (int i = 0; i < 15; ++i)
        Step(emitter, data, 100);
    ASSERT_GT(emitter.GetNumParticles(), 20);
    for (int i = 0; i < emitter.GetNumParticles(); ++i) {
        const Particle& p = emitter.GetParticle(i);
        EXPECT_EQ(p.frame, static_cast<uint32_t>(std::trunc(p.age / p.life * 4.0f)) % 4u);
    }
    data.SetInteger(EmitterData::INT_FRAME_RATE, 10);
    Step(emitter, data, 100);
    for (int i = 0; i < emitter.GetNumParticles(); ++i) {
        const Particle& p = emitter.GetParticle(i);
        EXPECT_EQ(p.frame, static_cast<uint32_t>(std::trunc(10.0f * p.age)) % 4u);
    }
    // Every live particle sits in the face group of its frame, and each becomes two triangles.
    ASSERT_TRUE(emitter.BuildGeometry(Vec3(), 4));
    const int live = emitter.GetNumParticles();
    int grouped = 0;
    for (int f = 0; f < emitter.GetNumFaceGroups(); ++f)
        grouped += emitter.GetFaceGroupCount(f);
    EXPECT_EQ(grouped, live);
    ASSERT_EQ(emitter.GetIndices().size(), static_cast<size_t>(live) * 6);
    ASSERT_EQ(emitter.GetVertices().size(), static_cast<size_t>(live) * 4);
    for (uint32_t index : emitter.GetIndices())
        EXPECT_LT(index, static_cast<uint32_t>(live) * 4);
    const uint32_t v = emitter.GetIndices()[0] - 2;
    EXPECT_EQ(emitter.GetIndices()[1], v + 1);
    EXPECT_EQ(emitter.GetIndices()[4], v + 3);
    EXPECT_EQ(emitter.GetVertices()[2].corner[0], 1.0f);
    EXPECT_EQ(emitter.GetVertices()[2].corner[1], 1.0f);
    // Fewer frames than a particle names: it is drawn with frame 0, logged once.
    GAME::Test::LogCapture log;
    ASSERT_TRUE(emitter.BuildGeometry(Vec3(), 1));
    EXPECT_EQ(emitter.GetFaceGroupCount(0), live);
    EXPECT_LE(log.Count(), 1u);
}

TEST_F(EmitterTest, AnUndrawnEmitterCatchesUpWhenDrawnAgain)
{
    EmitterData data;
    SetConstant(data, EmitterData::CURVE_EMISSION_RATE, 100.0f);
    data.SetLoop(true);
    Emitter emitter(&data);
    Step(emitter, data, 100);
    Step(emitter, data, 100);
    Step(emitter, data, 100, false); // still follows a draw
    const int before = emitter.GetNumParticles();
    const float oldest = emitter.GetParticle(0).age;
    for (int i = 0; i < 5; ++i)
        Step(emitter, data, 100, false);
    EXPECT_EQ(emitter.GetNumParticles(), before) << "no emission while not drawn";
    EXPECT_EQ(emitter.GetParticle(0).age, oldest) << "no aging while not drawn";
    MarkDrawn(emitter);
    Step(emitter, data, 100);
    // Aging catches up with the whole time away; emission with one step of 0.1 s.
    EXPECT_NEAR(emitter.GetParticle(0).age, oldest + 0.6f, 1e-3f);
    EXPECT_NEAR(emitter.GetNumParticles() - before, 10, 1);
}

TEST_F(EmitterTest, ShapesStayWithinTheirBounds)
{
    for (int shape = 0; shape <= 5; ++shape) {
        EmitterData data;
        data.SetInteger(EmitterData::INT_SHAPE, shape);
        SetConstant(data, EmitterData::CURVE_EMISSION_SIZE, 2.0f);
        SetConstant(data, EmitterData::CURVE_EMISSION_RATE, 1000.0f);
        Emitter emitter(&data);
        Step(emitter, data, 100);
        ASSERT_GT(emitter.GetNumParticles(), 50) << shape;
        for (int i = 0; i < emitter.GetNumParticles(); ++i) {
            const Vec3 p = emitter.GetParticle(i).position;
            const float length = p.Length();
            switch (shape) {
            case EmitterData::SHAPE_BALL:
                EXPECT_LE(length, 2.001f);
                break;
            case EmitterData::SHAPE_DISC:
                EXPECT_LE(length, 2.001f);
                EXPECT_NEAR(p.y, 0.0f, 1e-3f);
                break;
            case EmitterData::SHAPE_RING:
                EXPECT_NEAR(length, 2.0f, 1e-3f);
                EXPECT_NEAR(p.y, 0.0f, 1e-3f);
                break;
            case EmitterData::SHAPE_LINE:
                EXPECT_NEAR(p.x, 0.0f, 1e-3f);
                EXPECT_NEAR(p.z, 0.0f, 1e-3f);
                EXPECT_GE(p.y, -1e-3f);
                EXPECT_LE(p.y, 2.001f);
                break;
            case EmitterData::SHAPE_SPHERE:
                EXPECT_TRUE(std::fabs(length - 2.0f) < 1e-3f || length < 1e-3f);
                break;
            default:
                EXPECT_LT(length, 1e-3f);
                break;
            }
        }
        // The box holds every particle, grown by the largest size.
        const Vec3 lo = lastBox.GetMin();
        const Vec3 hi = lastBox.GetMax();
        for (int i = 0; i < emitter.GetNumParticles(); ++i) {
            const Vec3 p = emitter.GetParticle(i).position;
            EXPECT_TRUE(p.x >= lo.x && p.y >= lo.y && p.z >= lo.z && p.x <= hi.x && p.y <= hi.y &&
                        p.z <= hi.z);
        }
    }
}

TEST_F(EmitterTest, AnchorsAtOnePointStillEmit)
{
    EmitterData data;
    SetConstant(data, EmitterData::CURVE_EMISSION_RATE, 200.0f);
    Emitter emitter(&data);
    emitter.SetAnchored(true);
    const WorldVec3 point(region, Vec3(4.0f, 1.0f, 4.0f));
    emitter.SetAnchor1(point);
    emitter.SetAnchor2(point);
    Step(emitter, data, 100);
    Step(emitter, data, 100);
    ASSERT_GT(emitter.GetNumParticles(), 0);
    EXPECT_TRUE(emitter.IsLocal());
    for (int i = 0; i < emitter.GetNumParticles(); ++i) {
        const Vec3 p = emitter.GetParticle(i).position;
        EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
        EXPECT_LT((p - point.GetRegionPosition()).Length(), 0.02f);
    }
    // Anchors further apart: particles lie between them.
    Emitter wide(&data);
    wide.SetAnchored(true);
    for (int i = 0; i < 5; ++i) {
        wide.SetAnchor1(WorldVec3(region, Vec3(0.0f, 0.0f, 0.0f)));
        wide.SetAnchor2(WorldVec3(region, Vec3(10.0f, 0.0f, 0.0f)));
    }
    Step(wide, data, 100);
    ASSERT_GT(wide.GetNumParticles(), 0);
    for (int i = 0; i < wide.GetNumParticles(); ++i) {
        const Particle& p = wide.GetParticle(i);
        EXPECT_GE(p.position.x, -0.01f);
        EXPECT_LE(p.position.x, 10.01f);
    }
}

TEST_F(EmitterTest, BonesOfNoLengthEmitFromTheirStart)
{
    EmitterData data;
    SetConstant(data, EmitterData::CURVE_EMISSION_RATE, 100.0f);
    Emitter emitter(&data);
    std::vector<EmitterBone> bones(2);
    bones[0].start = bones[0].end = Vec3(1.0f, 2.0f, 3.0f);
    bones[0].lengthWeight = 0.0005f;
    bones[0].emitting = true;
    bones[1].start = Vec3(0.0f, 0.0f, 0.0f);
    bones[1].end = Vec3(0.0f, 2.0f, 0.0f);
    bones[1].lengthWeight = 2.0f;
    bones[1].emitting = true;
    for (int i = 0; i < 5; ++i) {
        Advance(100);
        ABBox box;
        emitter.Update(WorldCoords(region, Coords()), box, &data, &bones);
        MarkDrawn(emitter);
    }
    ASSERT_GT(emitter.GetNumParticles(), 0);
    EXPECT_EQ(emitter.GetBones()[1].emitted, emitter.GetNumParticles() - emitter.GetBones()[0].emitted);
    for (int i = 0; i < emitter.GetNumParticles(); ++i) {
        const Particle& p = emitter.GetParticle(i);
        EXPECT_TRUE(std::isfinite(p.position.x) && std::isfinite(p.position.y) &&
                    std::isfinite(p.position.z));
    }
}

TEST_F(EmitterTest, OneOffEmittersCompleteEvenWhenNeverDrawnOrUndrawable)
{
    EmitterData data;
    data.GetCurve(EmitterData::CURVE_EMISSION_SIZE)->SetDomain(2.0f); // a 2-second cycle
    data.SetFloat(EmitterData::FLOAT_LIFE, 1.0f);
    {
        Emitter emitter(&data);
        Step(emitter, data, 100, false); // emits once, then is never drawn
        EXPECT_TRUE(emitter.HasActiveParticles());
        for (int i = 0; i < 25; ++i)
            Step(emitter, data, 100, false);
        EXPECT_TRUE(emitter.IsFinished());
        EXPECT_TRUE(emitter.IsComplete());
        EXPECT_FLOAT_EQ(emitter.GetEmitterTime(), 2.0f);
    }
    graphics.missing = true;
    {
        Emitter emitter(&data);
        EXPECT_FALSE(emitter.IsDrawable());
        Step(emitter, data, 100, false);
        EXPECT_FALSE(emitter.HasActiveParticles());
        for (int i = 0; i < 20; ++i)
            Step(emitter, data, 100, false);
        EXPECT_TRUE(emitter.IsComplete());
    }
}

TEST_F(EmitterTest, BadDefinitionValuesAreGuarded)
{
    EmitterData data;
    data.SetFloat(EmitterData::FLOAT_LIFE, std::nanf(""));
    data.GetCurve(EmitterData::CURVE_EMISSION_SIZE)->SetDomain(0.0f);
    data.SetLoop(true);
    SetConstant(data, EmitterData::CURVE_SPEED, 0.0f);
    data.SetBoolean(EmitterData::BOOL_FLAT, true);
    SetConstant(data, EmitterData::CURVE_SPREAD, 0.0f); // straight up, then flattened: no direction
    Emitter emitter(&data);
    for (int i = 0; i < 5; ++i)
        Step(emitter, data, 100);
    EXPECT_EQ(emitter.GetEmitterTime(), 0.0f);
    EXPECT_TRUE(std::isfinite(lastBox.center.x) && std::isfinite(lastBox.extents.x));
    for (int i = 0; i < emitter.GetNumParticles(); ++i)
        EXPECT_TRUE(std::isfinite(emitter.GetParticle(i).velocity.y));
}

TEST_F(EmitterTest, LightsFadeInAndRenderPassesAnswerTheShader)
{
    EmitterData data;
    data.SetBoolean(EmitterData::BOOL_LIGHT, true);
    SetConstant(data, EmitterData::CURVE_LIGHT_RADIUS, 6.0f);
    Emitter emitter(&data);
    EXPECT_EQ(emitter.GetLight(), nullptr);
    Step(emitter, data, 100);
    ASSERT_NE(emitter.GetLight(), nullptr);
    EXPECT_TRUE(static_cast<Light*>(emitter.GetLight())->IsEnabled());
    EXPECT_NEAR(emitter.GetLightLevel(), 0.05f, 1e-4f);
    EXPECT_FLOAT_EQ(emitter.GetLight()->GetRadius(), 6.0f);
    EXPECT_GE(lastBox.extents.x, 6.0f);
    for (int i = 0; i < 50; ++i)
        Step(emitter, data, 100);
    EXPECT_FLOAT_EQ(emitter.GetLightLevel(), 1.0f);
    emitter.SetLightMultiplier(0.25f);
    emitter.PrepareLightForScene();
    EXPECT_FLOAT_EQ(emitter.GetLight()->GetIntensity(), 0.25f);
    data.SetBoolean(EmitterData::BOOL_LIGHT, false);
    Step(emitter, data, 100);
    EXPECT_FALSE(emitter.GetLight()->IsEnabled());

    EXPECT_EQ(emitter.GetNumRenderPasses(Name::Create("particleStyle"), RenderGenerationId()), 1);
    EXPECT_EQ(emitter.GetNumRenderPasses(Name::Create("fogStyle"), RenderGenerationId()), 0);
    EXPECT_EQ(emitter.GetRenderPassSortOrder(0, Name::Create("particleStyle"), RenderGenerationId()), 7);
    EXPECT_EQ(emitter.GetOpacity(0, Name::Create("particleStyle")), 1.0f);
    EXPECT_TRUE(emitter.GetCastsShadows());
}

TEST_F(EmitterTest, EffectsCopeWithMissingOrShorterData)
{
    EffectData data;
    for (int i = 0; i < 3; ++i) {
        EmitterData* e = new EmitterData;
        e->GetCurve(EmitterData::CURVE_EMISSION_SIZE)->SetDomain(1.0f);
        e->SetFloat(EmitterData::FLOAT_LIFE, 0.5f);
        data.AddEmitterData(e);
    }
    Effect effect(&data);
    ASSERT_EQ(effect.GetNumEmitters(), 3);
    ABBox box(Vec3(9.0f, 9.0f, 9.0f), Vec3(1.0f, 1.0f, 1.0f));
    Advance(100);
    effect.Update(WorldCoords(region, Coords()), &data, box);
    EXPECT_TRUE(effect.HasActiveParticles());
    EXPECT_GT(effect.GetProgress(&data), 0.0f);

    // The data was evicted, or now holds one emitter only: the others keep still.
    delete data.RemoveEmitterData(2);
    delete data.RemoveEmitterData(1);
    for (int i = 0; i < 30; ++i) {
        Advance(100);
        effect.Update(WorldCoords(region, Coords()), i % 2 ? nullptr : &data, box);
        for (int e = 0; e < 3; ++e)
            MarkDrawn(*effect.GetEmitter(e));
    }
    EXPECT_TRUE(effect.GetEmitter(0)->IsComplete());
    EXPECT_EQ(effect.GetLight(5), nullptr);
    effect.RemoveEmitter(7);
    effect.RemoveEmitter(1);
    EXPECT_EQ(effect.GetNumEmitters(), 2);

    Effect empty(nullptr);
    ABBox untouched(Vec3(1.0f, 2.0f, 3.0f), Vec3(4.0f, 5.0f, 6.0f));
    empty.Update(WorldCoords(region, Coords()), &data, untouched);
    EXPECT_EQ(untouched, ABBox(Vec3(1.0f, 2.0f, 3.0f), Vec3(4.0f, 5.0f, 6.0f)));
    EXPECT_TRUE(empty.IsComplete());
    EXPECT_FALSE(empty.HasActiveParticles());
    EXPECT_EQ(empty.GetProgress(&data), 1.0f);
}

} // namespace
} // namespace GAME::WorldTest
