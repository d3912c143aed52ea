#include "world/EmitterData.h"

#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

#include <cmath>
#include <cstring>

namespace GAME {

const int EmitterData::emitterTimeCurves[numEmitterTimeCurves] = {6,  7,  9,  10, 11, 14, 15,
                                                                  18, 19, 20, 22, 23, 24, 25};

namespace {

constexpr char kMagic[4] = {'P', 'F', 'X', '1'};
constexpr uint32_t kMaxRecordString = 0x100000;
// Smallest curve record: domain, range and a point count of 0.
constexpr uint64_t kMinCurveBytes = 12;

// One curve slot's initial shape. A negative colour or range and a NaN y keep the new curve's value.
struct CurveDefault
{
    int color;
    int halfGraph; // -1 keep, 0 no, 1 yes
    float range;
    float y;
    bool rangeFirst;
};

constexpr float kKeep = -1.0f;
const float kKeepY = std::nanf("");

const CurveDefault kCurveDefaults[EmitterData::numCurves] = {
    {4, 0, kKeep, 1.0f, false},     // 0 opacity
    {5, 0, kKeep, 0.5f, false},     // 1 red
    {2, 0, kKeep, 0.5f, false},     // 2 green
    {3, 0, kKeep, 0.5f, false},     // 3 blue
    {1, 1, 720.0f, 360.0f, false},  // 4 rotation speed
    {1, 0, 0.5f, 0.25f, false},     // 5 size
    {1, 0, 200.0f, 80.0f, false},   // 6 emission rate
    {1, 0, 10.0f, 0.0f, false},     // 7 speed
    {1, 1, 10.0f, 5.0f, false},     // 8 gravity
    {1, 1, 10.0f, 5.0f, false},     // 9 offset x
    {1, 1, 10.0f, 5.0f, false},     // 10 offset y
    {1, 1, 10.0f, 5.0f, false},     // 11 offset z
    {-1, -1, kKeep, kKeepY, false}, // 12 not used
    {-1, -1, kKeep, kKeepY, false}, // 13 not used
    {1, 0, 360.0f, 10.0f, false},   // 14 spread
    {1, 0, 1.0f, 0.5f, false},      // 15 emission size
    {1, 1, 50.0f, 25.0f, false},    // 16 not used
    {1, 0, 4.0f, 0.0f, false},      // 17 stretch
    {-1, 1, 6.0f, 3.0f, true},      // 18 spin x
    {-1, 1, 6.0f, 3.0f, true},      // 19 spin y
    {-1, 1, 6.0f, 3.0f, true},      // 20 spin z
    {-1, 0, 1.0f, 0.0f, true},      // 21 drag
    {5, 0, kKeep, 0.5f, false},     // 22 light red
    {2, 0, kKeep, 0.5f, false},     // 23 light green
    {3, 0, kKeep, 0.5f, false},     // 24 light blue
    {1, 0, 15.0f, 5.0f, true},      // 25 light radius
};

// A string of the record: taken only when its length is at most 1 MiB and within the bytes left;
// otherwise the value stays and reading goes on after the length.
bool ReadRecordString(BinaryReader& reader, std::string* out)
{
    const uint32_t length = reader.ReadUInt32();
    if (reader.Failed())
        return false;
    if (length <= kMaxRecordString && length <= reader.GetRemaining()) {
        std::string text(reinterpret_cast<const char*>(reader.GetCursor()), length);
        reader.Skip(length);
        if (out)
            *out = std::move(text);
    }
    return true;
}

float Finite(float value)
{
    return std::isfinite(value) ? value : 0.0f;
}

} // namespace

EmitterData::EmitterData()
{
    m_strings[STRING_TEXTURE] = defaultTextureName;
    m_strings[STRING_SHADER] = defaultShaderName;
    m_floats[FLOAT_LIFE] = 10.0f;
    for (int i = 0; i < numCurves; ++i) {
        const CurveDefault& d = kCurveDefaults[i];
        CurveData& curve = m_curves[i];
        if (d.color >= 0)
            curve.SetColor(static_cast<PSColor>(d.color));
        if (d.rangeFirst && d.range >= 0.0f)
            curve.SetRange(d.range);
        if (d.halfGraph >= 0)
            curve.SetHalfGraph(d.halfGraph != 0);
        if (!d.rangeFirst && d.range >= 0.0f)
            curve.SetRange(d.range);
        if (!std::isnan(d.y))
            curve.SetFirstLastY(d.y, d.y);
    }
    SetLoop(false);
}

EmitterData::EmitterData(const EmitterData* other) : EmitterData()
{
    if (!other)
        return;
    m_debugLines = other->m_debugLines;
    m_enabled = other->m_enabled;
    for (int i = 0; i < numStrings; ++i)
        m_strings[i] = other->m_strings[i];
    for (int i = 0; i < numBooleans; ++i)
        m_booleans[i] = other->m_booleans[i];
    for (int i = 0; i < numIntegers; ++i)
        m_integers[i] = other->m_integers[i];
    for (int i = 0; i < numFloats; ++i)
        m_floats[i] = other->m_floats[i];
    for (int i = 0; i < numCurves; ++i)
        m_curves[i].Copy(&other->m_curves[i]);
    SetLoop(m_booleans[BOOL_LOOP]);
}

const std::string& EmitterData::GetString(int slot) const
{
    static const std::string empty;
    return slot >= 0 && slot < numStrings ? m_strings[slot] : empty;
}

void EmitterData::SetString(int slot, const std::string& value)
{
    if (slot >= 0 && slot < numStrings)
        m_strings[slot] = value;
}

bool EmitterData::GetBoolean(int slot) const
{
    return slot >= 0 && slot < numBooleans && m_booleans[slot];
}

void EmitterData::SetBoolean(int slot, bool value)
{
    if (slot >= 0 && slot < numBooleans)
        m_booleans[slot] = value;
}

int EmitterData::GetInteger(int slot) const
{
    return slot >= 0 && slot < numIntegers ? m_integers[slot] : 0;
}

void EmitterData::SetInteger(int slot, int value)
{
    if (slot >= 0 && slot < numIntegers)
        m_integers[slot] = value;
}

float EmitterData::GetFloat(int slot) const
{
    return slot >= 0 && slot < numFloats ? m_floats[slot] : 0.0f;
}

void EmitterData::SetFloat(int slot, float value)
{
    if (slot >= 0 && slot < numFloats)
        m_floats[slot] = value;
}

CurveData* EmitterData::GetCurve(int slot)
{
    return slot >= 0 && slot < numCurves ? &m_curves[slot] : nullptr;
}

const CurveData* EmitterData::GetCurve(int slot) const
{
    return slot >= 0 && slot < numCurves ? &m_curves[slot] : nullptr;
}

void EmitterData::SetLoop(bool loop)
{
    m_booleans[BOOL_LOOP] = loop;
    for (int slot : emitterTimeCurves)
        m_curves[slot].SetLoop(loop);
}

const char* EmitterData::GetShaderForBlendPair(uint32_t sourceBlend, uint32_t destinationBlend)
{
    if (sourceBlend == 6 && destinationBlend == 0)
        return "Shaders/Particle/ParticleAdditive.ssh";
    if (sourceBlend == 6 && destinationBlend == 8)
        return "Shaders/Particle/ParticleCombine.ssh";
    if (sourceBlend == 9 && destinationBlend == 0)
        return "Shaders/Particle/ParticleAdditiveSmooth.ssh";
    return nullptr;
}

bool EmitterData::BinaryRead(BinaryReader& reader)
{
    // A record without the magic is the old layout, read from its first byte.
    if (reader.GetRemaining() >= 4 && std::memcmp(reader.GetCursor(), kMagic, 4) == 0) {
        reader.Skip(4);
        return ReadCurrentLayout(reader);
    }
    return ReadOldLayout(reader);
}

bool EmitterData::ReadCurrentLayout(BinaryReader& reader)
{
    // The block id and size are not trusted: writers have left the size 0 or wrong. The record is
    // read by what its groups announce, bounded by the bytes of the file, and ends where they end.
    reader.ReadUInt32(); // block id
    reader.ReadUInt32(); // block size
    if (reader.Failed())
        return false;

    const uint32_t strings = reader.ReadUInt32();
    if (!reader.CheckCount(strings, 4, "emitter strings"))
        return false;
    for (uint32_t i = 0; i < strings; ++i)
        if (!ReadRecordString(reader, i < numStrings ? &m_strings[i] : nullptr))
            return false;

    const uint32_t booleans = reader.ReadUInt32();
    if (!reader.CheckCount(booleans, 4, "emitter booleans"))
        return false;
    for (uint32_t i = 0; i < booleans; ++i) {
        const bool value = reader.ReadBool();
        if (i < numBooleans)
            m_booleans[i] = value;
    }
    SetLoop(m_booleans[BOOL_LOOP]);

    const uint32_t integers = reader.ReadUInt32();
    if (!reader.CheckCount(integers, 4, "emitter integers"))
        return false;
    for (uint32_t i = 0; i < integers; ++i) {
        const int value = reader.ReadInt32();
        if (i < numIntegers)
            m_integers[i] = value;
    }

    const uint32_t floats = reader.ReadUInt32();
    if (!reader.CheckCount(floats, 4, "emitter floats"))
        return false;
    for (uint32_t i = 0; i < floats; ++i) {
        const float value = Finite(reader.ReadFloat());
        if (i < numFloats)
            m_floats[i] = value;
    }

    const uint32_t curves = reader.ReadUInt32();
    if (!reader.CheckCount(curves, kMinCurveBytes, "emitter curves"))
        return false;
    CurveData surplus;
    for (uint32_t i = 0; i < curves; ++i)
        if (!(i < numCurves ? m_curves[i] : surplus).BinaryRead(reader))
            return false;
    return !reader.Failed();
}

bool EmitterData::ReadOldLayout(BinaryReader& reader)
{
    if (!ReadRecordString(reader, &m_strings[STRING_TEXTURE]))
        return false;
    const uint32_t sourceBlend = reader.ReadUInt32();
    const uint32_t destinationBlend = reader.ReadUInt32();
    m_booleans[0] = reader.ReadBool();
    m_booleans[1] = reader.ReadBool();
    m_booleans[2] = reader.ReadBool();
    m_booleans[3] = reader.ReadBool();
    m_integers[0] = reader.ReadInt32();
    m_booleans[4] = reader.ReadBool();
    m_integers[1] = reader.ReadInt32();
    m_booleans[5] = reader.ReadBool();
    for (float& value : m_floats)
        value = Finite(reader.ReadFloat());
    if (reader.Failed())
        return false;
    SetLoop(m_booleans[BOOL_LOOP]);
    if (const char* shader = GetShaderForBlendPair(sourceBlend, destinationBlend))
        m_strings[STRING_SHADER] = shader;

    const uint32_t curves = reader.ReadUInt32();
    if (reader.Failed())
        return false;
    if (curves >= 1 && curves <= numCurves) {
        if (!reader.CheckCount(curves, kMinCurveBytes, "emitter curves"))
            return false;
        for (uint32_t i = 0; i < curves; ++i)
            if (!m_curves[i].BinaryRead(reader))
                return false;
    }
    return !reader.Failed();
}

void EmitterData::BinaryWrite(BinaryWriter& writer) const
{
    writer.WriteBytes(kMagic, 4);
    writer.BeginBlock(0);
    writer.WriteUInt32(numStrings);
    for (const std::string& s : m_strings)
        writer.WriteString(s);
    writer.WriteUInt32(numBooleans);
    for (bool b : m_booleans)
        writer.WriteBool(b);
    writer.WriteUInt32(numIntegers);
    for (int i : m_integers)
        writer.WriteInt32(i);
    writer.WriteUInt32(numFloats);
    for (float f : m_floats)
        writer.WriteFloat(f);
    writer.WriteUInt32(numCurves);
    for (const CurveData& curve : m_curves)
        curve.BinaryWrite(writer);
    writer.EndBlock();
}

} // namespace GAME
