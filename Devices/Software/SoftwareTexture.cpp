#include "SoftwareTexture.h"

#include "SoftwareDevice.h"
#include "TextureChain.h"

#include <algorithm>

namespace GAME::Software {

SoftwareTexture::SoftwareTexture(SoftwareDevice& device, RenderTextureFormat format, bool dynamic,
                                 std::vector<std::vector<uint32_t>> levels, int width, int height)
    : m_device(device), m_format(format), m_dynamic(dynamic), m_levels(std::move(levels)), m_width(width),
      m_height(height)
{
}

unsigned int SoftwareTexture::GetMemoryUsage() const
{
    CriticalSectionLock lock(m_device.GetLock());
    uint64_t bytes = 0;
    for (const std::vector<uint32_t>& level : m_levels)
        bytes += level.size() * sizeof(uint32_t);
    return static_cast<unsigned int>(std::min<uint64_t>(bytes, 0xFFFFFFFFu));
}

void* SoftwareTexture::Lock(int& pitch)
{
    CriticalSectionLock lock(m_device.GetLock());
    pitch = 0;
    if (!m_device.AllowLock(this, m_locked))
        return nullptr;
    m_locked = true;
    pitch = m_width * static_cast<int>(sizeof(uint32_t));
    return m_levels[0].data();
}

void SoftwareTexture::Unlock()
{
    CriticalSectionLock lock(m_device.GetLock());
    m_device.NoteUnlock(this, m_locked);
    m_locked = false;
}

void SoftwareTexture::Resize(int width, int height)
{
    m_width = width;
    m_height = height;
    m_levels.assign(1, std::vector<uint32_t>(size_t(width) * size_t(height), 0));
}

void SoftwareTexture::BuildMipChain(std::vector<std::vector<uint32_t>>& levels, int width, int height,
                                    int levelCount)
{
    for (int level = 1; level < levelCount; ++level) {
        const int srcW = std::max(1, width >> (level - 1)), srcH = std::max(1, height >> (level - 1));
        std::vector<uint32_t> dst;
        DeviceCommon::HalveTexels(levels[size_t(level - 1)].data(), srcW, srcH, dst);
        levels.push_back(std::move(dst));
    }
}

} // namespace GAME::Software
