// The definition of one particle emitter: what it emits, how fast, in which shape and direction,
// how particles change over their life, and the light it may carry. Every parameter sits in one
// of five fixed arrays of slots (strings, booleans, integers, floats, curves) addressed by index;
// the particle-system editor reads and writes them by index, the effect file stores them group by
// group, and the running emitter reads them every update.
//
// Curves are evaluated at E, the emitter's time (wrapped to its cycle when looping), or at A, the
// particle's age. The E curves are exactly those whose loop flag follows boolean slot 0. A slot
// index outside its array reads as the slot type's empty value and writes nothing.
//
// Owned by its EffectData (or by the editor). One thread at a time.
#pragma once

#include "world/CurveData.h"

#include <string>

namespace GAME {

class BinaryReader;
class BinaryWriter;

class EmitterData
{
public:
    static constexpr int numStrings = 2;
    static constexpr int numBooleans = 10;
    static constexpr int numIntegers = 2;
    static constexpr int numFloats = 4;
    static constexpr int numCurves = 26;
    // The curves evaluated at the emitter's time.
    static constexpr int numEmitterTimeCurves = 14;
    static const int emitterTimeCurves[numEmitterTimeCurves];

    static constexpr const char* defaultTextureName = "Effects/Default/particletest.tex";
    static constexpr const char* defaultShaderName = "Shaders/Particle/ParticleAdditive.ssh";

    enum StringSlot
    {
        STRING_TEXTURE = 0,
        STRING_SHADER = 1,
    };
    enum BooleanSlot
    {
        BOOL_LOOP = 0,
        BOOL_MOVE_WITH_EMITTER = 1,
        BOOL_ALIGN_WITH_VELOCITY = 2,
        BOOL_IMPLODE = 3,
        BOOL_RANDOM_ROTATION = 4,
        BOOL_FLAT = 5,
        BOOL_LIGHT = 6,
        BOOL_LIGHT_SHADOWS = 7,
        BOOL_NIGHT_LIGHT = 8,
    };
    enum IntegerSlot
    {
        INT_SHAPE = 0,
        INT_FRAME_RATE = 1,
    };
    enum Shape
    {
        SHAPE_BALL = 0,
        SHAPE_DISC = 1,
        SHAPE_RING = 2,
        SHAPE_LINE = 3,
        SHAPE_SPHERE = 4,
    };
    enum FloatSlot
    {
        FLOAT_LIFE = 0,
        FLOAT_TURN_X = 1,
        FLOAT_TURN_Y = 2,
        FLOAT_TURN_Z = 3,
    };
    enum CurveSlot
    {
        CURVE_OPACITY = 0,
        CURVE_RED = 1,
        CURVE_GREEN = 2,
        CURVE_BLUE = 3,
        CURVE_ROTATION_SPEED = 4,
        CURVE_SIZE = 5,
        CURVE_EMISSION_RATE = 6,
        CURVE_SPEED = 7,
        CURVE_GRAVITY = 8,
        CURVE_OFFSET_X = 9,
        CURVE_OFFSET_Y = 10,
        CURVE_OFFSET_Z = 11,
        CURVE_SPREAD = 14,
        CURVE_EMISSION_SIZE = 15,
        CURVE_STRETCH = 17,
        CURVE_SPIN_X = 18,
        CURVE_SPIN_Y = 19,
        CURVE_SPIN_Z = 20,
        CURVE_DRAG = 21,
        CURVE_LIGHT_RED = 22,
        CURVE_LIGHT_GREEN = 23,
        CURVE_LIGHT_BLUE = 24,
        CURVE_LIGHT_RADIUS = 25,
    };

    // The defaults of every slot, then SetLoop(false).
    EmitterData();
    // Every field and curve, then SetLoop with the copied loop slot; null gives the defaults.
    explicit EmitterData(const EmitterData* other);
    EmitterData(const EmitterData&) = default;
    EmitterData& operator=(const EmitterData&) = default;

    // Not stored in the file.
    void SetDebugLines(bool on) { m_debugLines = on; }
    bool GetDebugLines() const { return m_debugLines; }
    void SetEnabled(bool on) { m_enabled = on; }
    bool GetEnabled() const { return m_enabled; }

    const std::string& GetString(int slot) const;
    void SetString(int slot, const std::string& value);
    bool GetBoolean(int slot) const;
    void SetBoolean(int slot, bool value);
    int GetInteger(int slot) const;
    void SetInteger(int slot, int value);
    float GetFloat(int slot) const;
    void SetFloat(int slot, float value);
    // Null outside the curve slots.
    CurveData* GetCurve(int slot);
    const CurveData* GetCurve(int slot) const;

    const std::string& GetTextureName() const { return m_strings[STRING_TEXTURE]; }
    void SetTextureName(const std::string& name) { m_strings[STRING_TEXTURE] = name; }
    const std::string& GetShaderName() const { return m_strings[STRING_SHADER]; }
    void SetShaderName(const std::string& name) { m_strings[STRING_SHADER] = name; }

    bool GetLoop() const { return m_booleans[BOOL_LOOP]; }
    // Boolean slot 0 and the loop flag of every E curve.
    void SetLoop(bool loop);

    // The emitter record of the effect file, in the current ("PFX1") or the old layout. The
    // current layout's block size is not relied on: the record is read by its groups and ends where
    // they end. False when the record is cut short or announces more than the bytes left can hold;
    // the slots read until then keep their values.
    bool BinaryRead(BinaryReader& reader);
    // The current layout.
    void BinaryWrite(BinaryWriter& writer) const;

    // The old layout's shader for a pair of blend factors; null for a pair it does not name.
    static const char* GetShaderForBlendPair(uint32_t sourceBlend, uint32_t destinationBlend);

private:
    bool ReadCurrentLayout(BinaryReader& reader);
    bool ReadOldLayout(BinaryReader& reader);

    bool m_debugLines = true;
    bool m_enabled = true;
    std::string m_strings[numStrings];
    bool m_booleans[numBooleans] = {};
    int m_integers[numIntegers] = {};
    float m_floats[numFloats] = {};
    CurveData m_curves[numCurves];
};

} // namespace GAME
