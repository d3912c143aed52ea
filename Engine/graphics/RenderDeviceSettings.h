// What a render device is created and reset with: back-buffer size, the formats of the primary
// surface, presentation flags and anti-aliasing. A plain value; safe from any thread.
#pragma once

#include "graphics/RenderTypes.h"

#include <cstdint>

namespace GAME {

struct RenderDeviceSettings
{
    enum : uint32_t
    {
        FLAG_FULL_SCREEN = 1,
        FLAG_SYNC_TO_REFRESH = 2,
        FLAG_TRIPLE_BUFFER = 4,
    };

    int32_t width = 0;
    int32_t height = 0;
    RenderTextureFormat colorFormat = RENDER_FORMAT_RGBA;
    RenderTextureFormat depthFormat = RENDER_FORMAT_D24;
    uint32_t flags = 0;
    int32_t antiAliasing = 0; // 1 or 0

    bool operator==(const RenderDeviceSettings& o) const
    {
        return width == o.width && height == o.height && colorFormat == o.colorFormat &&
               depthFormat == o.depthFormat && flags == o.flags && antiAliasing == o.antiAliasing;
    }
    bool operator!=(const RenderDeviceSettings& o) const { return !(*this == o); }
};

} // namespace GAME
