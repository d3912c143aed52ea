#include "graphics/OverlayActivityWidget.h"

#include "graphics/OverlayActivityManager.h"

namespace GAME {

void OverlayActivityWidget::Render(GraphicsCanvas& canvas) const
{
    m_manager.Render(canvas);
}

} // namespace GAME
