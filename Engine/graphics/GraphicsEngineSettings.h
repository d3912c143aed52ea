// What the host asks of the display when it starts the engine: the render device module to load,
// the back-buffer size and three presentation flags. The graphics engine reads it when it creates
// its device, and the user's options override most of it (GraphicsEngine::CreateDevice):
// - width and height are taken in editor mode only. Outside it the size is the "resolution"
//   option's (the defaults file, then the user's settings file, or Options::SetInt2 of
//   INT2_RESOLUTION before Engine::Initialize): a host that wants another size sets that option.
//   0 in either asks for the machine's defaults to be written into the options first.
// - With options the three flags are the options' too: "fullscreen" (outside editor mode; off
//   in it), "syncToRefresh" and "tripleBuffer".
// The engine logs at start-up the size it took and where it came from; a size equal to the
// record's default (1024 x 768) counts as none the host set, and the line does not name it as the
// host's. A plain value, copied member by member.
#pragma once

#include "graphics/RenderDevice.h"

#include <string>

namespace GAME {

class GraphicsEngineSettings
{
public:
    // The module "<deviceName>.so"; empty means RenderDevice::defaultDeviceName.
    std::string deviceName = RenderDevice::defaultDeviceName;
    // Editor mode only (see above); 0 in either writes the machine's defaults into the options.
    int width = 1024;
    int height = 768;
    bool fullScreen = false;
    bool syncToRefresh = false;
    bool tripleBuffer = false;
};

} // namespace GAME
