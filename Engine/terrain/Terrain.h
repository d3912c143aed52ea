// The editable form of a region's terrain: made by the editor (New) or read from a level file's
// ground chunk of kind 0, written back by Save, and converted to the run-time form by
// SaveRunTimeFormat when a level is saved for the game. Owned by its level; loading thread, then
// main thread.
//
// TODO(stand-in): the body is kept as read (New makes the body of a flat terrain without layers);
// SaveRunTimeFormat cannot convert it yet and answers false; impassable data and dirty
// rectangles are only kept and ignored.
#pragma once

#include "navigation/ImpassableData.h"
#include "terrain/TerrainBase.h"

namespace GAME {

class BinaryWriter;

class Terrain : public TerrainBase
{
public:
    explicit Terrain(Region* region) : TerrainBase(region) {}

    bool IsEditable() const override { return true; }
    // The body must start with sample counts whose cell counts are powers of two.
    bool Load(BinaryReader& reader, int version) override;

    // A flat terrain of width x height samples.
    void New(unsigned width, unsigned height);
    // The kind-0 body of the ground chunk.
    void Save(BinaryWriter& writer) const;
    // The kind-2 body; false (nothing written) while the run-time form cannot be made.
    bool SaveRunTimeFormat(BinaryWriter& writer) const;
    void SetImpassableData(const ImpassableData& data) { m_impassable = data; }
    const ImpassableData& GetImpassableData() const { return m_impassable; }
    void ProcessDirtyRects() {}

private:
    std::vector<uint8_t> m_body;
    ImpassableData m_impassable;
};

} // namespace GAME
