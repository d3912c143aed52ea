// Fog sector record (kind 0): 18 floats and four integers whose meaning lies with the host, which
// reads them itself. The engine only keeps and saves them. A plain value, main thread.
#pragma once

#include "world/SectorData.h"

#include <cstdint>

namespace GAME {

class FogSectorData : public SectorData
{
public:
    static constexpr int kNumFloats = 18;
    static constexpr int kNumInts = 4;

    // Floats 0-15 are 1.0, floats 16-17 are 0.0; the integers 10, 50, 10, 0.
    FogSectorData();

    // Indices outside the range read 0 and write nothing.
    float GetFloat(int index) const;
    void SetFloat(int index, float value);
    int32_t GetInt(int index) const;
    void SetInt(int index, int32_t value);

    bool Read(BinaryReader& reader, unsigned kindVersion);
    void Write(BinaryWriter& writer) const;

private:
    float m_floats[kNumFloats];
    int32_t m_ints[kNumInts];
};

} // namespace GAME
