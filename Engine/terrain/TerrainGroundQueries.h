// The terrain folder's answers to world code that may not include it (sector layers ask ground
// heights, map code asks which region a ground belongs to): GroundQueries over the terrain and
// grid region classes. Installed at static initialisation (Install installs it again, e.g. after a
// test replaced it). Stateless; callable from any thread the ground itself may be used on.
#pragma once

namespace GAME {

class TerrainGroundQueries
{
public:
    static void Install();
};

} // namespace GAME
