#include "datakit/SampleEffects.h"

#include "datakit/ParticleShaders.h"

#include "world/EffectData.h"
#include "world/EmitterData.h"
#include "world/PSEditorFileSystem.h"

#include <memory>

using GAME::CurveData;
using GAME::EffectData;
using GAME::EmitterData;
using GAME::Vec2;

namespace DataKit {

namespace {

void Shape(CurveData* curve, std::vector<Vec2> points)
{
    curve->GetPointList() = std::move(points);
    curve->UpdateSegmentList();
}

void Constant(EmitterData* e, int slot, float value)
{
    e->GetCurve(slot)->SetFirstLastY(value, value);
}

} // namespace

EffectData* SampleEffects::MakeFire()
{
    EffectData* effect = new EffectData;

    EmitterData* flames = new EmitterData;
    flames->SetLoop(true);
    flames->SetFloat(EmitterData::FLOAT_LIFE, 1.2f);
    flames->SetInteger(EmitterData::INT_SHAPE, EmitterData::SHAPE_DISC);
    Constant(flames, EmitterData::CURVE_EMISSION_RATE, 80.0f);
    Constant(flames, EmitterData::CURVE_SPEED, 1.5f);
    Constant(flames, EmitterData::CURVE_EMISSION_SIZE, 0.6f);
    Constant(flames, EmitterData::CURVE_SPREAD, 20.0f);
    Shape(flames->GetCurve(EmitterData::CURVE_OPACITY), {Vec2(0, 0), Vec2(1, 1), Vec2(6, 0.6f), Vec2(10, 0)});
    Constant(flames, EmitterData::CURVE_RED, 1.0f);
    Shape(flames->GetCurve(EmitterData::CURVE_GREEN), {Vec2(0, 0.8f), Vec2(10, 0.2f)});
    Constant(flames, EmitterData::CURVE_BLUE, 0.1f);
    Shape(flames->GetCurve(EmitterData::CURVE_SIZE), {Vec2(0, 0.35f), Vec2(10, 0.12f)});
    // The light: warm, flickering radius over the one-second cycle.
    flames->SetBoolean(EmitterData::BOOL_LIGHT, true);
    flames->GetCurve(EmitterData::CURVE_EMISSION_SIZE)->SetDomain(1.0f);
    Constant(flames, EmitterData::CURVE_LIGHT_RED, 1.0f);
    Constant(flames, EmitterData::CURVE_LIGHT_GREEN, 0.55f);
    Constant(flames, EmitterData::CURVE_LIGHT_BLUE, 0.2f);
    Shape(flames->GetCurve(EmitterData::CURVE_LIGHT_RADIUS),
          {Vec2(0, 6.0f), Vec2(3, 7.0f), Vec2(6, 5.5f), Vec2(10, 6.0f)});
    flames->SetLoop(true);
    effect->AddEmitterData(flames);
    effect->SetName(0, "Flames");

    EmitterData* smoke = new EmitterData;
    smoke->SetShaderName(ParticleShaders::combineShaderName);
    smoke->SetTextureName(ParticleShaders::smokeTextureName);
    smoke->SetFloat(EmitterData::FLOAT_LIFE, 4.0f);
    Constant(smoke, EmitterData::CURVE_EMISSION_RATE, 8.0f);
    Constant(smoke, EmitterData::CURVE_SPEED, 0.8f);
    Constant(smoke, EmitterData::CURVE_OFFSET_Y, 5.8f); // 0.8 above the flames (centred)
    Shape(smoke->GetCurve(EmitterData::CURVE_OPACITY), {Vec2(0, 0), Vec2(2, 0.4f), Vec2(10, 0)});
    Shape(smoke->GetCurve(EmitterData::CURVE_SIZE), {Vec2(0, 0.4f), Vec2(10, 1.0f)});
    smoke->SetLoop(true);
    effect->AddEmitterData(smoke);
    effect->SetName(1, "Smoke");
    return effect;
}

EffectData* SampleEffects::MakeBurst()
{
    EffectData* effect = new EffectData;
    EmitterData* sparks = new EmitterData;
    sparks->SetTextureName(ParticleShaders::sparkTextureName);
    sparks->SetBoolean(EmitterData::BOOL_ALIGN_WITH_VELOCITY, true);
    sparks->SetBoolean(EmitterData::BOOL_RANDOM_ROTATION, true);
    sparks->SetInteger(EmitterData::INT_SHAPE, EmitterData::SHAPE_SPHERE);
    sparks->SetFloat(EmitterData::FLOAT_LIFE, 0.8f);
    sparks->GetCurve(EmitterData::CURVE_EMISSION_SIZE)->SetDomain(0.25f); // a quarter-second burst
    Constant(sparks, EmitterData::CURVE_EMISSION_RATE, 400.0f);
    Constant(sparks, EmitterData::CURVE_SPEED, 6.0f);
    Constant(sparks, EmitterData::CURVE_SPREAD, 360.0f);
    Constant(sparks, EmitterData::CURVE_EMISSION_SIZE, 0.2f);
    Constant(sparks, EmitterData::CURVE_GRAVITY, 9.0f); // centred: 4 units per second downwards
    Constant(sparks, EmitterData::CURVE_STRETCH, 1.5f);
    Shape(sparks->GetCurve(EmitterData::CURVE_OPACITY), {Vec2(0, 1), Vec2(10, 0)});
    Constant(sparks, EmitterData::CURVE_RED, 1.0f);
    Constant(sparks, EmitterData::CURVE_GREEN, 0.8f);
    Constant(sparks, EmitterData::CURVE_BLUE, 0.3f);
    Constant(sparks, EmitterData::CURVE_SIZE, 0.05f);
    effect->AddEmitterData(sparks);
    effect->SetName(0, "Sparks");
    return effect;
}

EffectData* SampleEffects::MakeBeam()
{
    EffectData* effect = new EffectData;
    EmitterData* beam = new EmitterData;
    beam->SetTextureName(ParticleShaders::beamTextureName);
    beam->SetInteger(EmitterData::INT_SHAPE, -1); // from the anchors, not a shape
    beam->SetInteger(EmitterData::INT_FRAME_RATE, 12);
    beam->SetFloat(EmitterData::FLOAT_LIFE, 0.3f);
    beam->GetCurve(EmitterData::CURVE_EMISSION_SIZE)->SetDomain(2.0f);
    Constant(beam, EmitterData::CURVE_EMISSION_RATE, 40.0f); // per unit of beam length
    Constant(beam, EmitterData::CURVE_SPEED, 0.2f);
    Shape(beam->GetCurve(EmitterData::CURVE_OPACITY), {Vec2(0, 0.9f), Vec2(10, 0)});
    Constant(beam, EmitterData::CURVE_RED, 0.4f);
    Constant(beam, EmitterData::CURVE_GREEN, 0.6f);
    Constant(beam, EmitterData::CURVE_BLUE, 1.0f);
    Constant(beam, EmitterData::CURVE_SIZE, 0.12f);
    beam->SetLoop(true);
    effect->AddEmitterData(beam);
    effect->SetName(0, "Beam");
    return effect;
}

std::vector<uint8_t> SampleEffects::Bytes(const EffectData& effect)
{
    std::vector<uint8_t> bytes;
    effect.Write(bytes);
    return bytes;
}

bool SampleEffects::Write(const std::string& folder)
{
    PSEditor::PSEditorFileSystem files;
    if (!files.AddSource(GAME::FileSystem::PARTITION_0, folder.c_str(), false, false, false))
        return false;
    const std::unique_ptr<EffectData> fire(MakeFire());
    const std::unique_ptr<EffectData> burst(MakeBurst());
    const std::unique_ptr<EffectData> beam(MakeBeam());
    return fire->Save(fireFile, &files) && burst->Save(burstFile, &files) && beam->Save(beamFile, &files);
}

void SampleEffects::AddRecords(ArzWriter& database)
{
    database.AddRecord(NormalizeRecordName(fireRecord))
        .String("Class", "EffectEntity")
        .String("effectFile", fireFile);
    database.AddRecord(NormalizeRecordName(burstRecord))
        .String("Class", "EffectEntity")
        .String("effectFile", burstFile);
    database.AddRecord(NormalizeRecordName(beamRecord))
        .String("Class", "EffectEntity")
        .String("effectFile", beamFile)
        .Bool("Anchored", true);
}

} // namespace DataKit
