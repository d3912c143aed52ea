// Joins the faces of a path-mesh build edge to edge and throws out the faces the build cannot use:
// corners that are not finite, faces that are neither walkable nor obstacles, faces that collapse
// to a line or a point once close corners are welded, and repeats of a face already kept. Kept
// faces get the welded corners (so faces that meet share exactly equal corners), the walkable
// neighbour across each edge (an edge shared by exactly two walkable faces) and, in their first
// word, the index of the walkable surface they belong to (-1 for obstacles). Stateless; any
// thread.
#pragma once

#include "navigation/PathFace.h"

#include <cstddef>
#include <vector>

namespace GAME {

class PathFaceConnector
{
public:
    // weldDistance: corners closer than this on every axis are one corner; 0 joins only corners
    // that are exactly equal (as the terrain and grid calculators make them). Answers the number
    // of faces removed; the kept faces stay in their order.
    static size_t Connect(std::vector<PathFace>& faces, float weldDistance);
};

} // namespace GAME
