// The run-time form of a region's terrain: read from a level file's ground chunk of kind 2 and
// never written. Owned by its level; loading thread, then main thread.
//
// TODO(stand-in): the body is kept as read; only its version and sample counts are looked at.
#pragma once

#include "terrain/TerrainBase.h"

namespace GAME {

class TerrainRT : public TerrainBase
{
public:
    explicit TerrainRT(Region* region) : TerrainBase(region) {}

    bool IsEditable() const override { return false; }
    // Version 1 only.
    bool Load(BinaryReader& reader, int version) override;
    const std::vector<uint8_t>& GetBody() const { return m_body; }

private:
    std::vector<uint8_t> m_body;
};

} // namespace GAME
