// The path mesh of one level: the walkable surface the path finder searches, stored as level chunk
// 10 (a "PTH" block). Held by value in each level. One thread at a time (the level's loading
// thread reads it, the main thread uses it).
//
// The mesh is the path-finding library's own form, and this build has no path-finding library:
// the chunk body is kept byte for byte, so a level loads and saves it unchanged. It is not
// decoded, not handed to the path finder and not built (Create makes none); its bounding box is
// empty and floor look-ups (FindFloorPosition) find nothing, so positions fall back to the
// world's floor heights.
#pragma once

#include "core/ABBox.h"

#include <cstdint>
#include <vector>

namespace GAME {

class BinaryReader;
class BinaryWriter;
class WorldVec3;

class PathMesh
{
public:
    PathMesh() = default;
    virtual ~PathMesh() = default;
    PathMesh(const PathMesh&) = delete;
    PathMesh& operator=(const PathMesh&) = delete;

    bool HasMesh() const { return !m_body.empty(); }
    // Reads the chunk body from a reader bounded to it. False, leaving the mesh empty, when the
    // body is not a "PTH" block.
    bool Read(BinaryReader& reader);
    // The chunk body; nothing for an empty mesh.
    void Write(BinaryWriter& writer) const;
    void Clear() { m_body.clear(); }
    ABBox GetBoundingBox() const { return ABBox(); }
    // False: no floor is known without a decoded mesh.
    bool FindFloorPosition(const WorldVec3& position, float range, WorldVec3& out) const;

private:
    std::vector<uint8_t> m_body;
};

} // namespace GAME
