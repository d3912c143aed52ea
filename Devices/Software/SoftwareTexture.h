// A texture of the software device: mip levels of 32-bit texels (0xAARRGGBB, bytes blue, green,
// red, alpha in memory) kept in main memory. Created and destroyed by SoftwareDevice only; its
// operations take the device's lock, so any thread may use them.
#pragma once

#include "graphics/RenderTexture.h"

#include <cstdint>
#include <vector>

namespace GAME::Software {

class SoftwareDevice;

class SoftwareTexture final : public RenderTexture
{
public:
    SoftwareTexture(SoftwareDevice& device, RenderTextureFormat format, bool dynamic,
                    std::vector<std::vector<uint32_t>> levels, int width, int height);
    SoftwareTexture(const SoftwareTexture&) = delete;
    SoftwareTexture& operator=(const SoftwareTexture&) = delete;

    int GetWidth() const override { return m_width; }
    int GetHeight() const override { return m_height; }
    RenderTextureFormat GetFormat() const override { return m_format; }
    int GetLevelCount() const override { return static_cast<int>(m_levels.size()); }
    unsigned int GetMemoryUsage() const override;
    void* Lock(int& pitch) override;
    void Unlock() override;

    // Under the device's lock:
    bool IsLocked() const { return m_locked; }
    bool IsDynamic() const { return m_dynamic; }
    uint32_t* GetTexels() { return m_levels[0].data(); }
    const uint32_t* GetTexels() const { return m_levels[0].data(); }
    // The top level only, for the primary surface when its size changes.
    void Resize(int width, int height);

    // Box-filters each level from the one above it (level 0 given).
    static void BuildMipChain(std::vector<std::vector<uint32_t>>& levels, int width, int height,
                              int levelCount);

private:
    SoftwareDevice& m_device;
    RenderTextureFormat m_format;
    bool m_dynamic;
    std::vector<std::vector<uint32_t>> m_levels;
    int m_width;
    int m_height;
    bool m_locked = false;
};

} // namespace GAME::Software
