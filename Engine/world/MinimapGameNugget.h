// One mark an entity puts on the detail map (AppendDetailMapData): what kind of mark, the text
// shown beside it, where it stands and which way it faces. A plain value; any thread.
#pragma once

#include "core/Vec3.h"
#include "core/WorldVec3.h"

#include <cstdint>
#include <string>

namespace GAME {

class MinimapGameNugget
{
public:
    // The mark of an actor shown on the minimap.
    static constexpr int32_t kindActor = 8;

    MinimapGameNugget() = default;
    MinimapGameNugget(int32_t kind_, const std::u16string& text_, const WorldVec3& position_,
                      const Vec3& direction_)
        : kind(kind_), text(text_), position(position_), direction(direction_)
    {
    }

    int32_t kind = 0;
    std::u16string text;
    WorldVec3 position;
    Vec3 direction;
};

} // namespace GAME
