#include "graphics/DirtyRectSet.h"

#include "core/Log.h"

#include <algorithm>
#include <climits>

namespace GAME {

bool DirtyRect::Overlap(const DirtyRect& a, const DirtyRect& b)
{
    return int64_t(a.x) <= int64_t(b.x) + b.width && int64_t(b.x) <= int64_t(a.x) + a.width &&
           int64_t(a.y) <= int64_t(b.y) + b.height && int64_t(b.y) <= int64_t(a.y) + a.height;
}

void DirtyRectSet::AddRect(const DirtyRect& rect)
{
    // Each part of the new rectangle is compared only with the rectangles after the one that cut
    // it, and only with those that were in the set before this call (the parts are disjoint).
    // The parts are worked off in order, left, right, top, bottom, each with its own parts first;
    // a stack rather than recursion keeps long sets from deepening the call stack.
    struct Work
    {
        DirtyRect rect;
        size_t first;
    };
    const size_t end = m_rects.size();
    std::vector<Work> stack;
    stack.push_back({rect, 0});
    while (!stack.empty()) {
        const Work work = stack.back();
        stack.pop_back();
        const DirtyRect& n = work.rect;
        if (n.width <= 0 || n.height <= 0)
            continue;
        size_t k = work.first;
        while (k < end && !DirtyRect::Overlap(m_rects[k], n))
            ++k;
        if (k == end) {
            m_rects.push_back(n);
            continue;
        }
        const DirtyRect e = m_rects[k];
        const int64_t nRight = int64_t(n.x) + n.width, nBottom = int64_t(n.y) + n.height;
        const int64_t eRight = int64_t(e.x) + e.width, eBottom = int64_t(e.y) + e.height;
        const int64_t bandTop = std::max<int64_t>(n.y, e.y);
        const int64_t bandHeight = std::min(nBottom, eBottom) - bandTop;
        Work parts[4];
        int count = 0;
        if (n.x < e.x)
            parts[count++] = {
                DirtyRect(n.x, int32_t(bandTop), int32_t(e.x - int64_t(n.x)), int32_t(bandHeight)), k + 1};
        if (nRight > eRight)
            parts[count++] = {
                DirtyRect(int32_t(eRight), int32_t(bandTop), int32_t(nRight - eRight), int32_t(bandHeight)),
                k + 1};
        if (n.y < e.y)
            parts[count++] = {DirtyRect(n.x, n.y, n.width, int32_t(e.y - int64_t(n.y))), k + 1};
        if (nBottom > eBottom)
            parts[count++] = {DirtyRect(n.x, int32_t(eBottom), n.width, int32_t(nBottom - eBottom)), k + 1};
        while (count > 0)
            stack.push_back(parts[--count]);
    }
}

DirtyRect DirtyRectSet::GetRect(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= m_rects.size()) {
        LogPrintf(1, "DirtyRectSet: no rectangle %d in a set of %zu", index, m_rects.size());
        return DirtyRect(0, 0, 0, 0);
    }
    return m_rects[static_cast<size_t>(index)];
}

DirtyRect DirtyRectSet::GetBoundingRect() const
{
    if (m_rects.empty())
        return DirtyRect(INT_MAX, INT_MAX, 1, 1);
    int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
    for (const DirtyRect& r : m_rects) {
        left = std::min<int64_t>(left, r.x);
        top = std::min<int64_t>(top, r.y);
        right = std::max<int64_t>(right, int64_t(r.x) + r.width);
        bottom = std::max<int64_t>(bottom, int64_t(r.y) + r.height);
    }
    return DirtyRect(int32_t(left), int32_t(top), int32_t(right - left), int32_t(bottom - top));
}

} // namespace GAME
