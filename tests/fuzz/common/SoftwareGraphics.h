// The graphics engines of the fuzz targets that read graphics resources, with the log silenced: over
// the software device (the device's own generation, no options), or over the OpenGL device headless
// (EGL's surfaceless platform, as the pixel tests draw) with a small primary surface. Without a
// loader, or with one that loads on the calling thread (EnsureAvailable) when it is given one. Each
// aborts the run when the engine cannot start.
#pragma once

#include "common/QuietLog.h"
#include "graphics/GraphicsEngine.h"

#include <cstdlib>
#include <memory>

namespace FuzzGraphics {

inline std::unique_ptr<GAME::GraphicsEngine> StartEngine(const char* deviceName, int width = 1024,
                                                         int height = 768,
                                                         GAME::ResourceLoader* loader = nullptr)
{
    FuzzLog::Silence();
    auto engine = std::make_unique<GAME::GraphicsEngine>();
    engine->SetSurfaceRetryDelay(0);
    GAME::GraphicsEngineSettings settings;
    settings.deviceName = deviceName;
    settings.width = width;
    settings.height = height;
    if (!engine->CreateDevice(nullptr, settings) || !engine->Initialize(nullptr, settings, loader))
        std::abort();
    return engine;
}

inline std::unique_ptr<GAME::GraphicsEngine> StartSoftwareEngine()
{
    return StartEngine("Software");
}

} // namespace FuzzGraphics
