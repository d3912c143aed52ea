#include "graphics/RenderDebugger.h"

#include "graphics/GraphicsCanvas.h"
#include "graphics/RenderDevice.h"

#include <algorithm>

namespace GAME {

void RenderDebugger::Render(GraphicsCanvas& canvas) const
{
    RenderDevice* device = canvas.GetRenderDevice();
    if (!device)
        return;
    // The widget's own drawing is always complete.
    device->SetDrawCallLimit(-1);
    device->SetDebugSwitch1(true);
    device->SetDebugSwitch2(false);
    if (!m_shown)
        return;
    m_drawCalls = static_cast<uint32_t>(std::max(device->GetNumDrawCalls(), 0));
    // The limit stays at all draw calls until the slider and the bracket keys can change it.
    device->SetDebugSwitch1(m_debugSwitch1);
    device->SetDebugSwitch2(m_debugSwitch2);
}

bool RenderDebugger::HandleKeyEvent(const InputDevice::ButtonEvent& event)
{
    if (!m_shown || event.state != InputDevice::BUTTON_PRESSED)
        return false;
    if (event.keyCode == keySwitch1) {
        m_debugSwitch1 = !m_debugSwitch1;
        return true;
    }
    if (event.keyCode == keySwitch2) {
        m_debugSwitch2 = !m_debugSwitch2;
        return true;
    }
    return false;
}

} // namespace GAME
