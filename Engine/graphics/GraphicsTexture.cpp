#include "graphics/GraphicsTexture.h"

#include "core/Log.h"
#include "core/Time.h"
#include "data/File.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderTexture.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace GAME {

namespace {

bool BeginsWith(const void* data, uint64_t size, const char* magic, uint64_t magicSize)
{
    return data && size >= magicSize && std::memcmp(data, magic, magicSize) == 0;
}

// Holds a resource's own lock for a block (re-entrant, so also inside a load).
class ResourceLock
{
public:
    explicit ResourceLock(Resource& resource) : m_resource(resource) { m_resource.Lock(); }
    ~ResourceLock() { m_resource.Unlock(); }
    ResourceLock(const ResourceLock&) = delete;
    ResourceLock& operator=(const ResourceLock&) = delete;

private:
    Resource& m_resource;
};

uint32_t ReadU32(const uint8_t* bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

} // namespace

GraphicsTexture::GraphicsTexture(BaseResourceManager* manager, const std::string& fileName,
                                 GraphicsEngine* graphics)
    : Resource(manager, fileName), m_graphics(graphics)
{
}

GraphicsTexture::~GraphicsTexture()
{
    Unload();
}

bool GraphicsTexture::IsEngineTexture(const RenderTexture* texture) const
{
    return m_graphics &&
           (texture == m_graphics->GetDefaultTexture() || texture == m_graphics->GetEmptyTexture());
}

unsigned int GraphicsTexture::GetDataLength(File* file)
{
    if (!file)
        return 0;
    m_reduction = m_graphics ? m_graphics->GetTextureReduction(GetFileNameString()) : 0;
    const unsigned int length = file->GetLength();
    if (m_reduction < 1 || length <= headerProbeSize)
        return length;

    const auto* head = static_cast<const uint8_t*>(file->Lock(0, headerProbeSize));
    if (!head)
        return length;
    unsigned int result = length;
    // One frame only: its largest levels need not be read at all.
    if (BeginsWith(head, headerProbeSize, "TEX", 3) &&
        uint64_t(length) <= uint64_t(texHeaderSize) + ReadU32(head + 8)) {
        RenderDevice* device = m_graphics->GetRenderDevice();
        const unsigned int needed =
            device ? device->GetTextureFileInfo(head + texHeaderSize, headerProbeSize - texHeaderSize,
                                                m_reduction)
                   : 0;
        if (needed != 0)
            result = static_cast<unsigned int>(std::min<uint64_t>(length, uint64_t(needed) + texHeaderSize));
    }
    file->Unlock();
    return result;
}

int GraphicsTexture::GetLoadSize(File* file)
{
    return static_cast<int>(std::min<unsigned int>(GetDataLength(file), INT_MAX));
}

Resource::InitResult GraphicsTexture::Initialize(const void* data, int size)
{
    Destroy();
    m_frameRate = defaultFrameRate;
    RenderDevice* device = m_graphics ? m_graphics->GetRenderDevice() : nullptr;
    if (!device || !data || size < 0)
        return INIT_INVALID_DATA;
    const auto* bytes = static_cast<const uint8_t*>(data);
    const uint64_t total = static_cast<uint64_t>(size);

    // A failed frame is worth another try only when the device says so.
    auto failure = [&]() { return device->CanRetryCreateTexture() ? INIT_OUT_OF_MEMORY : INIT_INVALID_DATA; };

    if (BeginsWith(bytes, total, "DDS ", 4)) {
        if (device->DeviceLost())
            return INIT_FAILED;
        RenderTexture* texture =
            device->CreateTextureFromFile(bytes, static_cast<unsigned int>(total), m_reduction);
        if (!texture)
            return failure();
        ResourceLock lock(*this);
        m_frames.push_back(texture);
        return INIT_SUCCESS;
    }

    if (total >= 8 && BeginsWith(bytes, total, "TEX", 3)) {
        if (device->DeviceLost())
            return INIT_FAILED;
        m_frameRate = static_cast<float>(static_cast<int32_t>(ReadU32(bytes + 4)));
        uint64_t position = 8;
        while (position < total) {
            // A size word cut off by the end of the data ends the frames.
            if (total - position < 4)
                break;
            const uint64_t frameSize = ReadU32(bytes + position);
            position += 4;
            if (frameSize == 0) {
                LogPrintf(1, "Texture '%s' has an empty frame", GetFileName());
                return INIT_INVALID_DATA;
            }
            // A frame the read stopped short of (a reduced single-frame file) gets the bytes there
            // are; the device needs no more at that reduction.
            const uint64_t available = std::min(frameSize, total - position);
            RenderTexture* texture = device->CreateTextureFromFile(
                bytes + position, static_cast<unsigned int>(available), m_reduction);
            if (!texture)
                return failure();
            {
                ResourceLock lock(*this);
                m_frames.push_back(texture);
            }
            position += frameSize;
        }
        // A frame table with no frames is a texture too: it loads and has nothing to show.
        return INIT_SUCCESS;
    }
    return INIT_INVALID_DATA;
}

void GraphicsTexture::InitializeDefault()
{
    const InitResult result = GetInitResult();
    if (result == INIT_FAILED)
        return;
    Destroy();
    if (!m_graphics)
        return;
    RenderTexture* fallback =
        result == INIT_OUT_OF_MEMORY ? m_graphics->GetEmptyTexture() : m_graphics->GetDefaultTexture();
    if (fallback) {
        ResourceLock lock(*this);
        m_frames.push_back(fallback);
    }
}

void GraphicsTexture::Destroy()
{
    ResourceLock lock(*this);
    RenderDevice* device = m_graphics ? m_graphics->GetRenderDevice() : nullptr;
    for (RenderTexture*& texture : m_frames)
        if (texture && device && !IsEngineTexture(texture))
            device->DestroyTexture(&texture);
    m_frames.clear();
}

std::string GraphicsTexture::GetDebugInfo() const
{
    return std::to_string((uint64_t(GetVideoMemoryUsage()) + 512) / 1024) + " kb";
}

int GraphicsTexture::SelectFrame(int64_t gameTimeMs, float frameRate, int frameCount)
{
    if (frameCount <= 1 || !(frameRate > 0.0f) || !std::isfinite(frameRate))
        return 0;
    double frames = static_cast<double>(gameTimeMs) * static_cast<double>(frameRate) * 0.001;
    // Far beyond any real time; held where a 64-bit count still holds it.
    frames = std::clamp(frames, -9.0e18, 9.0e18);
    const int64_t frame = static_cast<int64_t>(frames) % frameCount;
    return static_cast<int>(frame < 0 ? frame + frameCount : frame);
}

RenderTexture* GraphicsTexture::GetTexture()
{
    EnsureAvailable();
    if (m_frames.empty())
        return nullptr;
    if (m_frames.size() == 1)
        return m_frames.front();
    return m_frames[SelectFrame(GetGameTime(), m_frameRate, GetNumFrames())];
}

RenderTexture* GraphicsTexture::GetTexture(int frame) const
{
    return frame >= 0 && frame < GetNumFrames() ? m_frames[frame] : nullptr;
}

int GraphicsTexture::GetWidth()
{
    const RenderTexture* texture = GetTexture();
    return texture ? texture->GetWidth() : 0;
}

int GraphicsTexture::GetHeight()
{
    const RenderTexture* texture = GetTexture();
    return texture ? texture->GetHeight() : 0;
}

Rect GraphicsTexture::GetRect()
{
    const RenderTexture* texture = GetTexture();
    return texture ? Rect(0.0f, 0.0f, float(texture->GetWidth()), float(texture->GetHeight())) : Rect();
}

unsigned int GraphicsTexture::GetVideoMemoryUsage() const
{
    auto* self = const_cast<GraphicsTexture*>(this);
    ResourceLock lock(*self);
    uint64_t bytes = 0;
    for (const RenderTexture* texture : m_frames)
        if (texture)
            bytes += texture->GetMemoryUsage();
    return static_cast<unsigned int>(std::min<uint64_t>(bytes, 0xFFFFFFFFu));
}

bool GraphicsTexture::GetIsReadyToUse()
{
    if (GetLoadedState() != LOAD_STATE_LOADED)
        return false;
    MarkAsUsed();
    return true;
}

} // namespace GAME
