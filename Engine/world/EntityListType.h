// The filter of level and world entity queries, applied to what a query appended.
#pragma once

namespace GAME {

enum EntityListType : int
{
    // Every entity found.
    ENTITY_LIST_ALL = 0,
    // Only entities that have run their initial update.
    ENTITY_LIST_UPDATED = 2,
    // Only entities that have run it and are part of the level.
    ENTITY_LIST_LEVEL = 3,
};

} // namespace GAME
