// What both render device modules accept of the codes in graphics/RenderTypes.h (test functions,
// write modes, blend factors, depth formats) and of a primary surface's settings, and the window
// sizes a device offers when no display tells it better. Header only; pure functions, any thread.
#pragma once

#include "graphics/RenderDeviceSettings.h"
#include "graphics/RenderTypes.h"

#include <cstdint>
#include <vector>

namespace GAME::DeviceCommon {

inline bool IsTestFunction(int32_t value)
{
    return value >= RENDER_TEST_NEVER && value <= RENDER_TEST_ALWAYS;
}

inline bool IsWriteMode(int32_t value)
{
    return value == RENDER_WRITE_DISABLED || value == RENDER_WRITE_ENABLED;
}

inline bool IsBlendFactor(int32_t value)
{
    return value >= RENDER_BLEND_ONE && value <= RENDER_BLEND_SRC_ALPHA_SAT;
}

inline bool IsDepthFormat(RenderTextureFormat format)
{
    return format == RENDER_FORMAT_D16 || format == RENDER_FORMAT_D24 || format == RENDER_FORMAT_D32;
}

// A primary surface of the settings: a size of 1 to maxSize a side, a colour format of 8 bits a
// channel and no depth or a depth format.
inline bool IsValidSettings(const RenderDeviceSettings& settings, int maxSize)
{
    return settings.width > 0 && settings.height > 0 && settings.width <= maxSize &&
           settings.height <= maxSize &&
           (settings.colorFormat == RENDER_FORMAT_RGB || settings.colorFormat == RENDER_FORMAT_RGBA ||
            settings.colorFormat == RENDER_FORMAT_RGBA_ALT) &&
           (settings.depthFormat == RENDER_FORMAT_NONE || IsDepthFormat(settings.depthFormat));
}

// The usual window sizes at 60 Hz, 32-bit colour.
inline void AddWindowDisplayModes(std::vector<RenderDisplayMode>& modes)
{
    static const int sizes[][2] = {{640, 480},   {800, 600},   {1024, 768},  {1280, 720},
                                   {1280, 1024}, {1600, 1200}, {1920, 1080}, {2560, 1440}};
    for (const auto& size : sizes) {
        RenderDisplayMode mode;
        mode.width = size[0];
        mode.height = size[1];
        mode.refreshRate = 60;
        mode.format = RENDER_FORMAT_RGBA;
        modes.push_back(mode);
    }
}

} // namespace GAME::DeviceCommon
