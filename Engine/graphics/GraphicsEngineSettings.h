// What the host asks of the display when it starts the engine: the render device module to load,
// the back-buffer size and three presentation flags. The graphics engine reads it when it creates
// its device; the user's options override most of it (GraphicsEngine::CreateDevice). A plain
// value, copied member by member.
#pragma once

#include "graphics/RenderDevice.h"

#include <string>

namespace GAME {

class GraphicsEngineSettings
{
public:
    // The module "<deviceName>.so"; empty means RenderDevice::defaultDeviceName.
    std::string deviceName = RenderDevice::defaultDeviceName;
    // 0 in either asks for the machine's defaults to be written into the options first.
    int width = 1024;
    int height = 768;
    bool fullScreen = false;
    bool syncToRefresh = false;
    bool tripleBuffer = false;
};

} // namespace GAME
