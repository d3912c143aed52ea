// The sample game's particle effects, written by the library's own EffectData::Save: a looping
// fire that carries a flickering light, a one-off burst of sparks, and a beam meant to be drawn
// between an effect entity's two anchors. Each comes with an "EffectEntity" record that places it
// ("Records/Effects/<Name>.dbr"). Tests, fuzz seeds and the sample host use them.
#pragma once

#include "datakit/ArzWriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {
class EffectData;
}

namespace DataKit {

class SampleEffects
{
public:
    static constexpr const char* fireFile = "Effects/Sample/Fire.pfx";
    static constexpr const char* burstFile = "Effects/Sample/Burst.pfx";
    static constexpr const char* beamFile = "Effects/Sample/Beam.pfx";
    static constexpr const char* fireRecord = "Records/Effects/Fire.dbr";
    static constexpr const char* burstRecord = "Records/Effects/Burst.dbr";
    static constexpr const char* beamRecord = "Records/Effects/Beam.dbr";

    // New definitions; the caller owns them.
    static GAME::EffectData* MakeFire();
    static GAME::EffectData* MakeBurst();
    static GAME::EffectData* MakeBeam();
    // The effect file of a definition.
    static std::vector<uint8_t> Bytes(const GAME::EffectData& effect);

    // The three files under folder, saved through an editor file system over it; false when one
    // could not be written.
    static bool Write(const std::string& folder);
    // Their "EffectEntity" records.
    static void AddRecords(ArzWriter& database);
};

} // namespace DataKit
