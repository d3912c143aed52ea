// One element of the on-screen display: the render debugger, the profiler, the statistics text
// and the host's own interface derive from it. The display (GAME::Display) calls Update once a
// frame, Render after the scene, and offers it key and mouse events; a widget that consumes an
// event answers true and hides it from the widgets after it. Main thread only.
#pragma once

#include "graphics/InputDevice.h"

namespace GAME {

class GraphicsCanvas;

class DisplayWidget
{
public:
    DisplayWidget() = default;
    DisplayWidget(const DisplayWidget&) = default;
    DisplayWidget& operator=(const DisplayWidget&) = default;

    virtual void Update() {}
    virtual void Render(GraphicsCanvas& canvas) const = 0;
    virtual bool HandleKeyEvent(const InputDevice::ButtonEvent&) { return false; }
    virtual bool HandleMouseEvent(const InputDevice::MouseEvent&) { return false; }
    virtual ~DisplayWidget() = default;
};

} // namespace GAME
