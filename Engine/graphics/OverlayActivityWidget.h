// The display widget through which the engine draws its overlay activities (a map with a moving
// ship and the like) in its frame. The engine adds it at start-up right behind its own widgets (the
// render debugger, the profiler, the statistics): widgets are drawn last to first, so the overlays
// lie over the host's view of the world and every widget the host adds after start-up, and under
// the engine's own. It draws the manager's unfinished activities in order and takes no input.
// Main thread only.
#pragma once

#include "graphics/DisplayWidget.h"

namespace GAME {

class OverlayActivityManager;

class OverlayActivityWidget : public DisplayWidget
{
public:
    explicit OverlayActivityWidget(const OverlayActivityManager& manager) : m_manager(manager) {}
    OverlayActivityWidget(const OverlayActivityWidget&) = delete;
    OverlayActivityWidget& operator=(const OverlayActivityWidget&) = delete;

    void Render(GraphicsCanvas& canvas) const override;

private:
    const OverlayActivityManager& m_manager;
};

} // namespace GAME
