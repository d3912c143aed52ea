// The path mesh of one level: the walkable surface the path finder searches, stored as level chunk
// 10 (a "PTH" block). Held by value in each level. One thread at a time (the level's loading
// thread reads it, the main thread uses it).
//
// TODO(stand-in): the mesh is kept as the raw chunk body, so a level loads and saves it unchanged.
// Missing: decoding it, handing it to the path finder, building it (Create), its bounding box
// (an empty box here) and floor look-ups (FindFloorPosition finds nothing).
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
