// Curves, emitter definitions and effect files.
#include "common/LogCapture.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "world/CurveData.h"
#include "world/EffectData.h"
#include "world/EmitterData.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <set>

namespace GAME {
namespace {

// ---- Curves -------------------------------------------------------------------------------------

TEST(CurveDataTest, EvaluatesInsideAndBeyondTheDomain)
{
    CurveData curve;
    EXPECT_FLOAT_EQ(curve.GetYFast(5.0f), 0.5f);
    EXPECT_FLOAT_EQ(curve.GetY(5.0f), 0.5f);
    EXPECT_FLOAT_EQ(curve.GetY(10.0f), 1.0f);
    EXPECT_FLOAT_EQ(curve.GetYFast(10.5f), 0.0f);
    EXPECT_FLOAT_EQ(curve.GetY(10.5f), 0.01f);
    // Below the first point the first segment extrapolates in the fast form only.
    EXPECT_FLOAT_EQ(curve.GetYFast(-1.0f), -0.1f);
    EXPECT_FLOAT_EQ(curve.GetY(-1.0f), 0.0f);

    curve.SetLoop(true);
    EXPECT_FLOAT_EQ(curve.GetY(12.0f), curve.GetY(2.0f));
    EXPECT_FLOAT_EQ(curve.GetY(12.0f), 0.2f);
    EXPECT_FLOAT_EQ(curve.GetY(17.0f), 0.7f); // rounds to the nearest cycle, then wraps up

    // The cached segment follows the last look-up and is dropped with the points it named.
    curve.GetPointList() = {Vec2(0.0f, 0.0f), Vec2(2.0f, 2.0f), Vec2(4.0f, 0.0f), Vec2(10.0f, 6.0f)};
    curve.UpdateSegmentList();
    EXPECT_FLOAT_EQ(curve.GetY(7.0f), 3.0f);
    curve.GetPointList() = {Vec2(0.0f, 1.0f), Vec2(10.0f, 3.0f)};
    curve.UpdateSegmentList();
    EXPECT_FLOAT_EQ(curve.GetY(7.0f), 2.4f);
}

TEST(CurveDataTest, RescalingMovesThePoints)
{
    CurveData curve;
    curve.SetRange(2.0f);
    EXPECT_EQ(curve.GetPointList().back(), Vec2(10.0f, 2.0f));
    EXPECT_FLOAT_EQ(curve.GetY(5.0f), 1.0f);

    curve.GetPointList() = {Vec2(0.0f, 0.0f), Vec2(5.0f, 1.0f), Vec2(10.0f, 1.0f)};
    curve.SetDomain(5.0f);
    ASSERT_EQ(curve.GetPointList().size(), 3u);
    EXPECT_EQ(curve.GetPointList()[1], Vec2(2.5f, 1.0f));
    EXPECT_EQ(curve.GetPointList()[2], Vec2(5.0f, 1.0f));
    EXPECT_FLOAT_EQ(curve.GetYFast(1.25f), 0.5f);

    // The half graph's rest value keeps the range of the moment it was set.
    curve.SetHalfGraph(true);
    EXPECT_FLOAT_EQ(curve.GetRestValue(), 1.0f);
    curve.SetRange(8.0f);
    EXPECT_FLOAT_EQ(curve.GetRestValue(), 1.0f);
    curve.SetHalfGraph(false);
    EXPECT_FLOAT_EQ(curve.GetRestValue(), 0.01f);
}

TEST(CurveDataTest, ZeroDomainsRangesAndRepeatedXGiveNoNaN)
{
    CurveData curve;
    curve.SetDomain(0.0f);
    curve.SetRange(0.0f);
    curve.SetLoop(true);
    for (float x : {-1.0f, 0.0f, 0.5f, 3.0f, 12.0f})
        EXPECT_FALSE(std::isnan(curve.GetY(x))) << x;
    curve.SetDomain(4.0f);
    curve.SetRange(3.0f);
    EXPECT_EQ(curve.GetPointList().back().x, 4.0f);
    for (const Vec2& p : curve.GetPointList())
        EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));

    // Two points at one x make a step, not an infinite slope.
    curve.GetPointList() = {Vec2(0.0f, 0.0f), Vec2(2.0f, 0.0f), Vec2(2.0f, 1.0f), Vec2(4.0f, 1.0f)};
    curve.UpdateSegmentList();
    for (float x : {1.0f, 2.0f, 3.0f}) {
        EXPECT_FALSE(std::isnan(curve.GetYFast(x))) << x;
        EXPECT_FALSE(std::isnan(curve.GetY(x))) << x;
    }
}

TEST(CurveDataTest, SimplifyKeepsTheEnds)
{
    CurveData curve;
    const std::vector<Vec2> two = curve.GetPointList();
    curve.Simplify(100.0f);
    EXPECT_EQ(curve.GetPointList(), two);

    curve.GetPointList() = {Vec2(0.0f, 0.0f), Vec2(5.0f, 0.5f), Vec2(10.0f, 1.0f)};
    curve.Simplify(0.001f);
    EXPECT_EQ(curve.GetPointList(), two);
    EXPECT_EQ(curve.GetSegmentCount(), 1u);

    // A large tolerance takes every inner point, never the first or last.
    curve.GetPointList() = {Vec2(0.0f, 3.0f), Vec2(1.0f, 0.0f), Vec2(2.0f, 5.0f), Vec2(3.0f, 1.0f),
                            Vec2(10.0f, 7.0f)};
    curve.Simplify(1000.0f);
    ASSERT_EQ(curve.GetPointList().size(), 2u);
    EXPECT_EQ(curve.GetPointList().front(), Vec2(0.0f, 3.0f));
    EXPECT_EQ(curve.GetPointList().back(), Vec2(10.0f, 7.0f));
    // A bend larger than the tolerance stays.
    curve.GetPointList() = {Vec2(0.0f, 0.0f), Vec2(5.0f, 4.0f), Vec2(10.0f, 0.0f)};
    curve.Simplify(0.5f);
    EXPECT_EQ(curve.GetPointList().size(), 3u);
}

TEST(CurveDataTest, AnEmptyCurveAnswersZero)
{
    BinaryWriter writer(64);
    writer.WriteFloat(6.0f);
    writer.WriteFloat(2.0f);
    writer.WriteUInt32(0);
    BinaryReader reader(writer.GetBuffer(), writer.GetSize());
    CurveData curve;
    curve.SetLoop(true);
    ASSERT_TRUE(curve.BinaryRead(reader));
    EXPECT_TRUE(curve.GetPointList().empty());
    EXPECT_EQ(curve.GetSegmentCount(), 0u);
    EXPECT_FLOAT_EQ(curve.GetDomain(), 6.0f);
    EXPECT_FLOAT_EQ(curve.GetRange(), 2.0f);
    for (float x : {-1.0f, 0.0f, 3.0f, 7.0f, 13.0f}) {
        EXPECT_EQ(curve.GetY(x), 0.0f);
        EXPECT_EQ(curve.GetYFast(x), 0.0f);
    }
    EXPECT_EQ(curve.GetMaxY(), 0.0f);
    curve.Simplify(1.0f);
    curve.SetFirstLastY(1.0f, 2.0f);
    EXPECT_TRUE(curve.GetPointList().empty());
}

TEST(CurveDataTest, RecordsRoundTripAndRefuseImpossibleCounts)
{
    CurveData curve;
    curve.GetPointList() = {Vec2(0.0f, 0.25f), Vec2(3.0f, 0.5f), Vec2(8.0f, 0.75f)};
    curve.SetDomain(8.0f);
    curve.SetColor(PSCOLOR_RED);
    BinaryWriter writer(64);
    curve.BinaryWrite(writer);
    BinaryReader reader(writer.GetBuffer(), writer.GetSize());
    CurveData copy;
    ASSERT_TRUE(copy.BinaryRead(reader));
    EXPECT_EQ(copy.GetPointList(), curve.GetPointList());
    EXPECT_FLOAT_EQ(copy.GetYFast(5.5f), curve.GetYFast(5.5f));
    EXPECT_EQ(copy.GetColor(), PSCOLOR_DEFAULT); // not in the record

    BinaryWriter lying(64);
    lying.WriteFloat(10.0f);
    lying.WriteFloat(1.0f);
    lying.WriteUInt32(1000000);
    lying.WriteFloat(0.0f);
    BinaryReader short_(lying.GetBuffer(), lying.GetSize());
    GAME::Test::LogCapture log;
    EXPECT_FALSE(copy.BinaryRead(short_));
    EXPECT_TRUE(copy.GetPointList().empty());
    EXPECT_EQ(copy.GetYFast(1.0f), 0.0f);
}

// ---- Emitter definitions ------------------------------------------------------------------------

TEST(EmitterDataTest, DefaultsDescribeASlowGreyPuff)
{
    const EmitterData data;
    EXPECT_EQ(data.GetTextureName(), "Effects/Default/particletest.tex");
    EXPECT_EQ(data.GetShaderName(), "Shaders/Particle/ParticleAdditive.ssh");
    EXPECT_FLOAT_EQ(data.GetCurve(EmitterData::CURVE_EMISSION_RATE)->GetYFast(3.0f), 80.0f);
    EXPECT_FLOAT_EQ(data.GetCurve(EmitterData::CURVE_EMISSION_RATE)->GetMaxY(), 80.0f);
    EXPECT_FLOAT_EQ(data.GetCurve(EmitterData::CURVE_SPEED)->GetYFast(3.0f), 0.0f);
    EXPECT_FLOAT_EQ(data.GetCurve(EmitterData::CURVE_EMISSION_SIZE)->GetYFast(3.0f), 0.5f);
    EXPECT_FLOAT_EQ(data.GetCurve(EmitterData::CURVE_SPREAD)->GetYFast(3.0f), 10.0f);
    EXPECT_FLOAT_EQ(data.GetFloat(EmitterData::FLOAT_LIFE), 10.0f);
    EXPECT_FLOAT_EQ(data.GetCurve(EmitterData::CURVE_OPACITY)->GetYFast(4.0f), 1.0f);
    for (int slot : {1, 2, 3})
        EXPECT_FLOAT_EQ(data.GetCurve(slot)->GetYFast(4.0f), 0.5f);
    for (int slot = 0; slot < EmitterData::numBooleans; ++slot)
        EXPECT_FALSE(data.GetBoolean(slot));
    EXPECT_EQ(data.GetInteger(0), 0);
    EXPECT_EQ(data.GetCurve(0)->GetColor(), PSCOLOR_ALPHA);
    EXPECT_EQ(data.GetCurve(1)->GetColor(), PSCOLOR_RED);

    // Rest values: half graphs made while the range was 1 rest at 0.5, the spins at 3.
    for (int slot = 0; slot < EmitterData::numCurves; ++slot) {
        float expected = 0.01f;
        if (slot == 4 || slot == 8 || slot == 9 || slot == 10 || slot == 11 || slot == 16)
            expected = 0.5f;
        if (slot >= 18 && slot <= 20)
            expected = 3.0f;
        EXPECT_FLOAT_EQ(data.GetCurve(slot)->GetRestValue(), expected) << slot;
    }
    // Centred curves sit at their middle line: no offset, no spin, no gravity.
    for (int slot : {8, 9, 10, 11, 18, 19, 20}) {
        const CurveData* c = data.GetCurve(slot);
        EXPECT_FLOAT_EQ(c->GetYFast(2.0f), c->GetRange() * 0.5f) << slot;
    }

    // Slots outside their arrays read empty and write nothing.
    EmitterData other;
    other.SetFloat(9, 1.0f);
    other.SetBoolean(-1, true);
    EXPECT_EQ(other.GetFloat(9), 0.0f);
    EXPECT_EQ(other.GetCurve(26), nullptr);
    EXPECT_EQ(other.GetString(5), "");
}

TEST(EmitterDataTest, SetLoopTurnsExactlyTheEmitterTimeCurves)
{
    EmitterData data;
    data.SetLoop(true);
    const std::set<int> eCurves = {6, 7, 9, 10, 11, 14, 15, 18, 19, 20, 22, 23, 24, 25};
    int looping = 0;
    for (int slot = 0; slot < EmitterData::numCurves; ++slot) {
        EXPECT_EQ(data.GetCurve(slot)->GetLoop(), eCurves.count(slot) == 1) << slot;
        looping += data.GetCurve(slot)->GetLoop() ? 1 : 0;
    }
    EXPECT_EQ(looping, 14);
    EXPECT_TRUE(data.GetLoop());
    data.SetLoop(false);
    for (int slot = 0; slot < EmitterData::numCurves; ++slot)
        EXPECT_FALSE(data.GetCurve(slot)->GetLoop());

    // A copy evaluates as its source, loop flags included.
    data.GetCurve(5)->GetPointList() = {Vec2(0.0f, 0.1f), Vec2(1.0f, 0.9f), Vec2(10.0f, 0.2f)};
    data.GetCurve(5)->UpdateSegmentList();
    data.SetLoop(true);
    const EmitterData copy(&data);
    for (int slot = 0; slot < EmitterData::numCurves; ++slot)
        for (float x : {0.5f, 3.0f, 9.0f, 11.0f})
            EXPECT_FLOAT_EQ(copy.GetCurve(slot)->GetY(x), data.GetCurve(slot)->GetY(x)) << slot;
    EXPECT_TRUE(copy.GetCurve(6)->GetLoop());
}

// ---- Effect files -------------------------------------------------------------------------------

EmitterData* MakeDistinctDefinition(int seed)
{
    EmitterData* data = new EmitterData;
    data->SetTextureName("Effects/Test/tex" + std::to_string(seed) + ".tex");
    data->SetShaderName("Shaders/Particle/Test" + std::to_string(seed) + ".ssh");
    for (int slot = 0; slot < EmitterData::numBooleans; ++slot)
        data->SetBoolean(slot, (slot + seed) % 3 == 0);
    data->SetLoop(data->GetBoolean(0));
    data->SetInteger(0, seed + 1);
    data->SetInteger(1, -seed - 7);
    for (int slot = 0; slot < EmitterData::numFloats; ++slot)
        data->SetFloat(slot, 1.5f * static_cast<float>(seed + slot + 1));
    for (int slot = 0; slot < EmitterData::numCurves; ++slot) {
        CurveData* curve = data->GetCurve(slot);
        curve->GetPointList() = {Vec2(0.0f, static_cast<float>(slot)), Vec2(1.0f + seed, 2.0f),
                                 Vec2(7.0f, 0.25f * static_cast<float>(seed + slot))};
        curve->SetDomain(7.0f + static_cast<float>(seed));
        curve->SetRange(3.0f + static_cast<float>(slot));
    }
    return data;
}

void ExpectSameDefinition(const EmitterData& a, const EmitterData& b)
{
    for (int slot = 0; slot < EmitterData::numStrings; ++slot)
        EXPECT_EQ(a.GetString(slot), b.GetString(slot));
    for (int slot = 0; slot < EmitterData::numBooleans; ++slot)
        EXPECT_EQ(a.GetBoolean(slot), b.GetBoolean(slot)) << slot;
    for (int slot = 0; slot < EmitterData::numIntegers; ++slot)
        EXPECT_EQ(a.GetInteger(slot), b.GetInteger(slot));
    for (int slot = 0; slot < EmitterData::numFloats; ++slot)
        EXPECT_EQ(a.GetFloat(slot), b.GetFloat(slot));
    for (int slot = 0; slot < EmitterData::numCurves; ++slot) {
        EXPECT_EQ(a.GetCurve(slot)->GetPointList(), b.GetCurve(slot)->GetPointList()) << slot;
        EXPECT_EQ(a.GetCurve(slot)->GetDomain(), b.GetCurve(slot)->GetDomain());
        EXPECT_EQ(a.GetCurve(slot)->GetRange(), b.GetCurve(slot)->GetRange());
        EXPECT_EQ(a.GetCurve(slot)->GetLoop(), b.GetCurve(slot)->GetLoop());
    }
}

std::vector<uint8_t> FileOf(int emitters)
{
    EffectData data;
    for (int i = 0; i < emitters; ++i) {
        data.AddEmitterData(MakeDistinctDefinition(i));
        data.SetName(i, "emitter " + std::to_string(i));
    }
    std::vector<uint8_t> bytes;
    data.Write(bytes);
    return bytes;
}

TEST(EffectFileTest, ThreeEmittersRoundTrip)
{
    EffectData data;
    for (int i = 0; i < 3; ++i)
        data.AddEmitterData(MakeDistinctDefinition(i));
    std::string name;
    data.GetName(2, name);
    EXPECT_EQ(name, "New Emitter");
    data.SetName(0, "flame");
    data.SetName(1, "smoke");
    data.SetName(2, "");
    std::vector<uint8_t> bytes;
    data.Write(bytes);

    EffectData loaded;
    ASSERT_TRUE(loaded.BufferLoad(bytes.data(), static_cast<int>(bytes.size())));
    ASSERT_EQ(loaded.GetNumEmitters(), 3);
    for (int i = 0; i < 3; ++i) {
        std::string a, b;
        data.GetName(i, a);
        loaded.GetName(i, b);
        EXPECT_EQ(a, b);
        ExpectSameDefinition(*data.GetEmitterData(i), *loaded.GetEmitterData(i));
    }
    // Loading again replaces the definitions held before.
    ASSERT_TRUE(loaded.BufferLoad(bytes.data(), static_cast<int>(bytes.size())));
    EXPECT_EQ(loaded.GetNumEmitters(), 3);

    // Forwarders with an index outside the list answer empty values and change nothing.
    loaded.SetFloat(7, 0, 3.0f);
    EXPECT_EQ(loaded.GetFloat(7, 0), 0.0f);
    EXPECT_EQ(loaded.GetString(-1, 0), "");
    EXPECT_EQ(loaded.GetEmitterData(3), nullptr);
    loaded.ImageLoad(1, "Effects/New.tex");
    EXPECT_EQ(loaded.GetEmitterData(1)->GetTextureName(), "Effects/New.tex");
}

TEST(EffectFileTest, RemovingTheMiddleEmitterKeepsThePairs)
{
    EffectData data;
    EmitterData* defs[3];
    for (int i = 0; i < 3; ++i) {
        defs[i] = MakeDistinctDefinition(i);
        data.AddEmitterData(defs[i]);
        data.SetName(i, std::string("n").append(std::to_string(i)));
    }
    EmitterData* removed = data.RemoveEmitterData(1);
    EXPECT_EQ(removed, defs[1]);
    delete removed;
    ASSERT_EQ(data.GetNumEmitters(), 2);
    std::string name;
    data.GetName(0, name);
    EXPECT_EQ(name, "n0");
    EXPECT_EQ(data.GetEmitterData(0), defs[0]);
    data.GetName(1, name);
    EXPECT_EQ(name, "n2");
    EXPECT_EQ(data.GetEmitterData(1), defs[2]);
    EXPECT_EQ(data.RemoveEmitterData(2), nullptr);
    EXPECT_EQ(data.GetNumEmitters(), 2);
}

TEST(EffectFileTest, OldLayoutRecordsAreReadFromTheirFirstByte)
{
    BinaryWriter w(256);
    w.WriteUInt32(101);
    w.WriteString("old");
    w.WriteString("Effects/Old/spark.tex");
    w.WriteUInt32(6);
    w.WriteUInt32(8); // blend pair of the combine shader
    w.WriteUInt32(1); // loop
    w.WriteUInt32(0);
    w.WriteUInt32(1);
    w.WriteUInt32(0);
    w.WriteInt32(2); // ring
    w.WriteUInt32(1);
    w.WriteInt32(12);
    w.WriteUInt32(1);
    for (float f : {3.0f, 10.0f, 20.0f, 30.0f})
        w.WriteFloat(f);
    w.WriteUInt32(1);
    w.WriteFloat(4.0f);
    w.WriteFloat(2.0f);
    w.WriteUInt32(2);
    for (float f : {0.0f, 0.5f, 4.0f, 1.5f})
        w.WriteFloat(f);
    // A second old record whose pair names no shader, with a curve count out of range.
    w.WriteString("old2");
    w.WriteString("b.tex");
    w.WriteUInt32(1);
    w.WriteUInt32(1);
    for (int i = 0; i < 8; ++i)
        w.WriteUInt32(0);
    for (int i = 0; i < 4; ++i)
        w.WriteFloat(1.0f);
    w.WriteUInt32(27);

    EffectData data;
    ASSERT_TRUE(data.BufferLoad(w.GetBuffer(), static_cast<int>(w.GetSize())));
    ASSERT_EQ(data.GetNumEmitters(), 2);
    const EmitterData& e = *data.GetEmitterData(0);
    EXPECT_EQ(e.GetTextureName(), "Effects/Old/spark.tex");
    EXPECT_EQ(e.GetShaderName(), "Shaders/Particle/ParticleCombine.ssh");
    EXPECT_TRUE(e.GetLoop());
    EXPECT_TRUE(e.GetCurve(6)->GetLoop());
    EXPECT_TRUE(e.GetBoolean(2));
    EXPECT_TRUE(e.GetBoolean(4));
    EXPECT_TRUE(e.GetBoolean(5));
    EXPECT_FALSE(e.GetBoolean(6));
    EXPECT_EQ(e.GetInteger(0), 2);
    EXPECT_EQ(e.GetInteger(1), 12);
    EXPECT_EQ(e.GetFloat(0), 3.0f);
    EXPECT_EQ(e.GetFloat(3), 30.0f);
    EXPECT_EQ(e.GetCurve(0)->GetDomain(), 4.0f);
    EXPECT_FLOAT_EQ(e.GetCurve(0)->GetYFast(2.0f), 1.0f);
    EXPECT_FLOAT_EQ(e.GetCurve(1)->GetYFast(5.0f), 0.5f); // untouched default
    EXPECT_EQ(data.GetEmitterData(1)->GetShaderName(), EmitterData::defaultShaderName);
    EXPECT_EQ(data.GetEmitterData(1)->GetCurve(0)->GetDomain(), 10.0f);

    EXPECT_STREQ(EmitterData::GetShaderForBlendPair(9, 0), "Shaders/Particle/ParticleAdditiveSmooth.ssh");
    EXPECT_STREQ(EmitterData::GetShaderForBlendPair(6, 0), "Shaders/Particle/ParticleAdditive.ssh");
}

TEST(EffectFileTest, VersionsAndEmptyFiles)
{
    const uint32_t only = 101;
    EffectData data;
    EXPECT_TRUE(data.BufferLoad(&only, 4));
    EXPECT_EQ(data.GetNumEmitters(), 0);

    std::vector<uint8_t> bytes = FileOf(2);
    bytes[0] = 100;
    GAME::Test::LogCapture log;
    EXPECT_FALSE(data.BufferLoad(bytes.data(), static_cast<int>(bytes.size())));
    EXPECT_EQ(data.GetNumEmitters(), 0);
    ASSERT_EQ(log.Count(), 1u);
    EXPECT_TRUE(log.Contains("LOAD_EFFECT:Wrong Version or Incompatible File.", 1));
    EXPECT_FALSE(data.BufferLoad(nullptr, 0));
    EXPECT_FALSE(data.BufferLoad(bytes.data(), -5));
}

TEST(EffectFileTest, CutFilesKeepOnlyWholeEmitters)
{
    const std::vector<uint8_t> whole = FileOf(3);
    const size_t ends[3] = {FileOf(1).size(), FileOf(2).size(), whole.size()};
    GAME::Test::LogCapture log;
    for (size_t length = 4; length <= whole.size(); ++length) {
        EffectData data;
        data.BufferLoad(whole.data(), static_cast<int>(length));
        int expected = 0;
        for (size_t end : ends)
            expected += end <= length ? 1 : 0;
        ASSERT_EQ(data.GetNumEmitters(), expected) << length;
    }
    // Trailing bytes after the last entry make no emitter.
    std::vector<uint8_t> trailing = whole;
    trailing.insert(trailing.end(), {0, 0, 0, 0, 0, 0, 0});
    EffectData data;
    EXPECT_FALSE(data.BufferLoad(trailing.data(), static_cast<int>(trailing.size())));
    EXPECT_EQ(data.GetNumEmitters(), 3);
}

TEST(EffectFileTest, RecordsAreReadByTheirContentWhateverTheirBlockSizeSays)
{
    EffectData source;
    for (int i = 0; i < 3; ++i)
        source.AddEmitterData(MakeDistinctDefinition(i));
    std::vector<uint8_t> written;
    source.Write(written);
    // Block sizes of 0 (as some writers leave them), one byte short (1 stands for that), and far
    // past the end.
    for (uint32_t size : {0u, 1u, 0xFFFFFFF0u}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> bytes = written;
        int patched = 0;
        for (size_t at = 4; at + 12 <= bytes.size(); ++at) {
            if (std::memcmp(&bytes[at], "PFX1", 4) != 0)
                continue;
            uint32_t word = size;
            if (size == 1u) {
                std::memcpy(&word, &bytes[at + 8], 4);
                word -= 1;
            }
            for (int b = 0; b < 4; ++b)
                bytes[at + 8 + b] = static_cast<uint8_t>(word >> (8 * b));
            ++patched;
        }
        ASSERT_EQ(patched, 3);
        EffectData loaded;
        EXPECT_TRUE(loaded.BufferLoad(bytes.data(), static_cast<int>(bytes.size())));
        ASSERT_EQ(loaded.GetNumEmitters(), 3);
        for (int i = 0; i < 3; ++i)
            ExpectSameDefinition(*source.GetEmitterData(i), *loaded.GetEmitterData(i));
    }
}

TEST(EffectFileTest, GroupCountsAreCheckedAgainstSlotsAndBytes)
{
    // A record that announces more values than the slots hold: the slots fill, the rest is passed
    // over, and the next entry still reads.
    BinaryWriter w(256);
    w.WriteUInt32(101);
    w.WriteString("wide");
    w.WriteBytes("PFX1", 4);
    w.BeginBlock(0);
    w.WriteUInt32(3);
    w.WriteString("t.tex");
    w.WriteString("s.ssh");
    w.WriteString("surplus");
    w.WriteUInt32(12);
    for (int i = 0; i < 12; ++i)
        w.WriteUInt32(1);
    w.WriteUInt32(3);
    for (int i = 0; i < 3; ++i)
        w.WriteInt32(40 + i);
    w.WriteUInt32(5);
    for (int i = 0; i < 5; ++i)
        w.WriteFloat(0.5f + static_cast<float>(i));
    w.WriteUInt32(27);
    for (int i = 0; i < 27; ++i) {
        w.WriteFloat(2.0f);
        w.WriteFloat(1.0f);
        w.WriteUInt32(0);
    }
    w.EndBlock();
    EmitterData next;
    next.SetFloat(0, 77.0f);
    w.WriteString("next");
    next.BinaryWrite(w);

    EffectData data;
    ASSERT_TRUE(data.BufferLoad(w.GetBuffer(), static_cast<int>(w.GetSize())));
    ASSERT_EQ(data.GetNumEmitters(), 2);
    const EmitterData& e = *data.GetEmitterData(0);
    EXPECT_EQ(e.GetShaderName(), "s.ssh");
    EXPECT_TRUE(e.GetBoolean(9));
    EXPECT_EQ(e.GetInteger(1), 41);
    EXPECT_EQ(e.GetFloat(3), 3.5f);
    EXPECT_EQ(e.GetCurve(25)->GetDomain(), 2.0f);
    EXPECT_EQ(data.GetEmitterData(1)->GetFloat(0), 77.0f);

    // A count that the bytes left cannot hold makes no emitter.
    BinaryWriter bad(64);
    bad.WriteUInt32(101);
    bad.WriteString("bad");
    bad.WriteBytes("PFX1", 4);
    bad.BeginBlock(0);
    bad.WriteUInt32(0x40000000);
    bad.EndBlock();
    GAME::Test::LogCapture log;
    EXPECT_FALSE(data.BufferLoad(bad.GetBuffer(), static_cast<int>(bad.GetSize())));
    EXPECT_EQ(data.GetNumEmitters(), 0);
}

} // namespace
} // namespace GAME
