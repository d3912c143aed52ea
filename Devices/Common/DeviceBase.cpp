#include "DeviceBase.h"

#include "DdsImage.h"

#include <algorithm>
#include <atomic>

namespace GAME::DeviceCommon {

namespace {

std::atomic<uint64_t> g_nextDeviceSerial{1};

struct TextureRetry
{
    uint64_t device = 0;
    bool retryable = false;
};
thread_local TextureRetry t_textureRetry;

} // namespace

DeviceBase::DeviceBase() : m_serial(g_nextDeviceSerial.fetch_add(1)) {}

unsigned int DeviceBase::GetTextureFileInfo(const void* data, unsigned int size, int)
{
    // A DDS file keeps its largest level first, so a reduced texture still needs the whole chain.
    const size_t bytes = GetDdsFileSize(static_cast<const uint8_t*>(data), size);
    return static_cast<unsigned int>(std::min<size_t>(bytes, 0xFFFFFFFFu));
}

void DeviceBase::SetTextureRetryable(bool retryable)
{
    t_textureRetry.device = m_serial;
    t_textureRetry.retryable = retryable;
}

bool DeviceBase::CanRetryCreateTexture()
{
    return t_textureRetry.device == m_serial && t_textureRetry.retryable;
}

} // namespace GAME::DeviceCommon
