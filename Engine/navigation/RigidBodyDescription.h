// How a model's rag doll is built: one rigid body between a parent bone and a child bone, with
// its frames relative to those bones, its box and mass, and the further bones fused to it (they
// move with the body). Mesh files describe them in their model text ("RigidBodyDescription"
// blocks); the physics engine builds bodies from them. Plain values; any thread.
#pragma once

#include "core/Coords.h"
#include "core/Name.h"
#include "core/Vec3.h"

#include <string>
#include <vector>

namespace GAME {

// A bone that moves with a rigid body, at a frame relative to it.
struct FusedBone
{
    Name name;
    Coords coords;
    std::string nameText;
};

struct RigidBodyDescription
{
    static constexpr float defaultDensity = 100.0f;

    std::string parentName;
    std::string childName;
    Name parentNameKey;
    Name childNameKey;
    Coords parentCoords;
    Coords childCoords;
    // Half-extents of the body's box.
    Vec3 extents;
    bool collides = true;
    float density = defaultDensity;
    bool playFallSound = false;
    std::vector<FusedBone> fusedBones;
};

} // namespace GAME
