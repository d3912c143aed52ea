#include "core/Color.h"

#include <cmath>

namespace GAME {
namespace {

uint32_t PackChannel(float value)
{
    const float scaled = value * 255.0f;
    if (!(scaled > 0.0f)) // also NaN
        return 0;
    if (scaled >= 255.0f)
        return 255;
    return static_cast<uint32_t>(std::lround(scaled));
}

} // namespace

uint32_t Color::PackARGB() const
{
    return (PackChannel(a) << 24) | (PackChannel(r) << 16) | (PackChannel(g) << 8) | PackChannel(b);
}

} // namespace GAME
