// A set of pairwise non-overlapping rectangles, kept in the order they were added: adding a
// rectangle adds only its parts that the set does not cover yet (up to four around each
// rectangle it meets). The editable terrain and the world's editing code collect the areas to
// rebuild in it. A plain value (copies copy the rectangles). Main thread only.
#pragma once

#include "graphics/DirtyRect.h"

#include <vector>

namespace GAME {

class DirtyRectSet
{
public:
    DirtyRectSet() = default;
    DirtyRectSet(const DirtyRectSet&) = default;
    DirtyRectSet& operator=(const DirtyRectSet&) = default;

    // Rectangles of zero (or negative) width or height add nothing.
    void AddRect(const DirtyRect& rect);
    void Clear() { m_rects.clear(); }
    int GetNumRects() const { return static_cast<int>(m_rects.size()); }
    // The rectangle at the index; (0, 0, 0, 0), logged, for an index outside the set.
    DirtyRect GetRect(int index) const;
    // The smallest rectangle holding every rectangle; (2147483647, 2147483647, 1, 1) when empty.
    DirtyRect GetBoundingRect() const;

private:
    std::vector<DirtyRect> m_rects;
};

} // namespace GAME
