// Writes the stored form of a grid region (the kind-1 body of a level's ground chunk) as
// GAME::GridRegion reads it: u32 version, then for version 2 the lattice block (id 1: system
// record name, X, Y, Z, the lattice with i outermost then y then k, the features with x outermost
// then y then z), any extra blocks as given, and the portal link block (id 2) when there are links;
// version 1 is the bare lattice body. Also a level file image whose only chunk is that ground. The
// engine never writes a grid it has not built; tests, fuzz seeds and the world generator make
// theirs here. One thread at a time.
#pragma once

#include "core/UniqueId.h"
#include "world/RegionId.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace DataKit {

class GridWriter
{
public:
    struct Link
    {
        GAME::UniqueId portalId;
        GAME::UniqueId connectedPortalId;
        GAME::RegionId connectedRegionId;
        uint32_t x = 0;
        uint32_t y = 0;
        uint32_t z = 0;
    };

    // Every lattice entry and feature 0.
    GridWriter(std::string system, int x, int y, int z);

    int GetX() const { return m_size[0]; }
    int GetY() const { return m_size[1]; }
    int GetZ() const { return m_size[2]; }
    // Entry (i, y, k) of the (2X + 1) x Y x (2Z + 1) lattice; writes outside are ignored, reads
    // outside give 0.
    void SetLattice(int i, int y, int k, int value);
    int GetLattice(int i, int y, int k) const;
    void SetFeature(int x, int y, int z, int feature, int rotation);

    // The file's version 1 or 2 (2: blocks, extra blocks, then links).
    std::vector<uint8_t> Write(int version = 2) const;
    // A level file ("LVL" version 13) holding only the ground chunk with this body.
    static std::vector<uint8_t> LevelImage(const std::vector<uint8_t>& gridBody);

    std::string system;
    std::vector<Link> links;
    // Written after the lattice block as {id, size, bytes}.
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> extraBlocks;

private:
    bool InLattice(int i, int y, int k) const;
    size_t Index(int i, int y, int k) const;

    int m_size[3];
    std::vector<int8_t> m_lattice;  // i fastest, then y, then k
    std::vector<int8_t> m_features; // pairs, x fastest, then y, then z
};

} // namespace DataKit
