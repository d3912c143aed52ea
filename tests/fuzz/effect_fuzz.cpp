// Reads an effect file of any bytes: no crash, no hang; what loads writes out and loads again to
// the same number of emitters, and an effect made from it runs an update.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "core/WorldCoords.h"
#include "datakit/SampleEffects.h"
#include "world/Effect.h"
#include "world/EffectData.h"
#include "world/EmitterData.h"

#include <cstdlib>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    GAME::EffectData effect;
    if (effect.BufferLoad(data, static_cast<int>(size < 0x7FFFFFFF ? size : 0)))
        FuzzAccepted();
    for (int i = 0; i < effect.GetNumEmitters(); ++i) {
        const GAME::EmitterData* e = effect.GetEmitterData(i);
        for (int slot = 0; slot < GAME::EmitterData::numCurves; ++slot) {
            const GAME::CurveData* curve = e->GetCurve(slot);
            for (float x : {-1.0f, 0.0f, 0.5f, 5.0f, 1e6f}) {
                (void)curve->GetY(x);
                (void)curve->GetYFast(x);
            }
        }
    }
    std::vector<uint8_t> bytes;
    effect.Write(bytes);
    GAME::EffectData again;
    if (!again.BufferLoad(bytes.data(), static_cast<int>(bytes.size())) ||
        again.GetNumEmitters() != effect.GetNumEmitters())
        std::abort();

    GAME::Effect running(&effect);
    GAME::ABBox box;
    running.Update(GAME::WorldCoords(), &effect, box);
    (void)running.IsComplete();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    const std::unique_ptr<GAME::EffectData> fire(DataKit::SampleEffects::MakeFire());
    const std::unique_ptr<GAME::EffectData> burst(DataKit::SampleEffects::MakeBurst());
    const std::unique_ptr<GAME::EffectData> beam(DataKit::SampleEffects::MakeBeam());
    sink.Add("fire", DataKit::SampleEffects::Bytes(*fire));
    sink.Add("burst", DataKit::SampleEffects::Bytes(*burst));
    sink.Add("beam", DataKit::SampleEffects::Bytes(*beam));
    const uint8_t empty[4] = {101, 0, 0, 0};
    sink.Add("empty", std::vector<uint8_t>(empty, empty + 4));
}
