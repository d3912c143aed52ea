// The graphics engine of the fuzz targets that read graphics resources: the software device, no
// options (the device's own generation) and no loader, with the log silenced. It aborts the run
// when the engine cannot start.
#pragma once

#include "common/QuietLog.h"
#include "graphics/GraphicsEngine.h"

#include <cstdlib>
#include <memory>

namespace FuzzGraphics {

inline std::unique_ptr<GAME::GraphicsEngine> StartSoftwareEngine()
{
    FuzzLog::Silence();
    auto engine = std::make_unique<GAME::GraphicsEngine>();
    engine->SetSurfaceRetryDelay(0);
    GAME::GraphicsEngineSettings settings;
    settings.deviceName = "Software";
    if (!engine->CreateDevice(nullptr, settings) || !engine->Initialize(nullptr, settings, nullptr))
        std::abort();
    return engine;
}

} // namespace FuzzGraphics
