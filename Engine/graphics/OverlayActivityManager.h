// The running overlay activities, owned. The engine updates the manager every frame with the
// elapsed milliseconds, draws it in its frame through an OverlayActivityWidget and clears it when
// the world is unloaded; finished activities stay listed (and are skipped) until removed or
// cleared. Main thread only.
#pragma once

#include <vector>

namespace GAME {

class GraphicsCanvas;
class OverlayActivity;

class OverlayActivityManager
{
public:
    OverlayActivityManager() = default;
    ~OverlayActivityManager();
    OverlayActivityManager(const OverlayActivityManager&) = delete;
    OverlayActivityManager& operator=(const OverlayActivityManager&) = delete;

    // Takes ownership.
    void AddActivity(OverlayActivity* activity);
    // Removes every entry of the activity without deleting it; ownership goes back to the caller.
    void RemoveActivity(OverlayActivity* activity);
    // Each unfinished activity in order.
    void Update(int elapsedMs);
    void Render(GraphicsCanvas& canvas) const;
    // Deletes every activity.
    void Clear();
    int GetNumActivities() const { return static_cast<int>(m_activities.size()); }

private:
    std::vector<OverlayActivity*> m_activities;
};

} // namespace GAME
