// One unique id and one region id with their stored bytes: every file of the engine that holds
// ids (level entity records, grid portal links, grid entrances, portal chunks) writes a UniqueId
// word 0 first and a RegionId's four words in order, each word little-endian. Format tests check
// their ids against these bytes, so that no format drifts to another word order.
#pragma once

#include "core/UniqueId.h"
#include "world/RegionId.h"

#include <cstdint>
#include <vector>

namespace GAME::Test {

inline constexpr UniqueId fixtureUniqueId(0x04030201u, 0x08070605u, 0x0C0B0A09u, 0x100F0E0Du);
inline constexpr RegionId fixtureRegionId(0x14131211u, 0x18171615u, 0x1C1B1A19u, 0x201F1E1Du);

// Bytes 0x01 to 0x10.
inline std::vector<uint8_t> FixtureUniqueIdBytes()
{
    std::vector<uint8_t> bytes;
    for (uint8_t b = 0x01; b <= 0x10; ++b)
        bytes.push_back(b);
    return bytes;
}

// Bytes 0x11 to 0x20.
inline std::vector<uint8_t> FixtureRegionIdBytes()
{
    std::vector<uint8_t> bytes;
    for (uint8_t b = 0x11; b <= 0x20; ++b)
        bytes.push_back(b);
    return bytes;
}

} // namespace GAME::Test
