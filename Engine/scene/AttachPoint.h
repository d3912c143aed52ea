// A named point on a model where other entities attach (weapons, effects, the creations of the
// model text): the bone that carries it and its frame relative to that bone. Meshes keep them in
// their model data's attach point table, read from the model text's "AttachPoint" blocks. A plain
// value; any thread.
#pragma once

#include "core/Coords.h"
#include "core/Name.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

struct AttachPoint
{
    // Records the host hangs on an attach point; the model text never fills them.
    struct Extra
    {
        std::string text;
        uint32_t value = 0;
    };

    Name name;
    Name parent;
    Coords coords;
    std::string nameText;
    std::string parentText;
    std::vector<Extra> extra;
};

} // namespace GAME
