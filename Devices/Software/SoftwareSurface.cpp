#include "SoftwareSurface.h"

#include "SoftwareDevice.h"
#include "SoftwareTexture.h"

#include <algorithm>
#include <cmath>

namespace GAME::Software {

SoftwareSurface::SoftwareSurface(SoftwareDevice& device, int width, int height, SoftwareTexture* color,
                                 bool ownsColor, bool primary, RenderTextureFormat depthFormat)
    : m_device(device), m_width(width), m_height(height), m_color(color), m_ownsColor(ownsColor),
      m_primary(primary), m_depthFormat(depthFormat)
{
    // Not cleared yet: a test reading it back sees whether a clear came (see ReadDepthBuffer).
    if (HasDepth())
        m_depth.assign(size_t(width) * size_t(height), 0.0f);
}

SoftwareSurface::~SoftwareSurface()
{
    if (m_ownsColor)
        delete m_color;
}

RenderTexture* SoftwareSurface::GetTexture() const
{
    // The back buffer is not a texture that could be bound.
    return m_primary ? nullptr : m_color;
}

void SoftwareSurface::DetachColor()
{
    if (m_ownsColor)
        delete m_color;
    m_color = nullptr;
    m_ownsColor = false;
}

void SoftwareSurface::Resize(int width, int height)
{
    m_width = width;
    m_height = height;
    if (m_color)
        m_color->Resize(width, height);
    if (HasDepth())
        m_depth.assign(size_t(width) * size_t(height), 0.0f);
}

uint64_t SoftwareSurface::GetDepthBytes(int width, int height, RenderTextureFormat depthFormat)
{
    return depthFormat == RENDER_FORMAT_NONE ? 0 : uint64_t(width) * uint64_t(height) * sizeof(float);
}

bool SoftwareSurface::CopyToTexture(RenderTexture* destination, const Rect& sourceRect)
{
    CriticalSectionLock lock(m_device.GetLock());
    SoftwareTexture* target = m_device.CheckCopyTarget(this, destination);
    if (!target || !m_color)
        return false;

    // The source rectangle is cut to the surface; nothing left means nothing to copy.
    const float x0 = std::clamp(sourceRect.x, 0.0f, float(m_width));
    const float y0 = std::clamp(sourceRect.y, 0.0f, float(m_height));
    const float x1 = std::clamp(sourceRect.x + sourceRect.width, 0.0f, float(m_width));
    const float y1 = std::clamp(sourceRect.y + sourceRect.height, 0.0f, float(m_height));
    if (!(x1 > x0) || !(y1 > y0))
        return false;

    // Nearest texel of the source for each destination texel's centre.
    const int dstW = target->GetWidth(), dstH = target->GetHeight();
    const int srcPitch = m_color->GetWidth(); // a surface over a given texture may be smaller
    std::vector<uint32_t> copy;
    const uint32_t* src = m_color->GetTexels();
    if (target == m_color) {
        copy.assign(src, src + size_t(srcPitch) * size_t(m_color->GetHeight()));
        src = copy.data();
    }
    uint32_t* dst = target->GetTexels();
    for (int y = 0; y < dstH; ++y) {
        const float fy = y0 + (float(y) + 0.5f) * (y1 - y0) / float(dstH);
        const int sy = std::clamp(int(std::floor(fy)), 0, m_height - 1);
        for (int x = 0; x < dstW; ++x) {
            const float fx = x0 + (float(x) + 0.5f) * (x1 - x0) / float(dstW);
            const int sx = std::clamp(int(std::floor(fx)), 0, m_width - 1);
            dst[size_t(y) * dstW + x] = src[size_t(sy) * srcPitch + sx];
        }
    }
    return true;
}

} // namespace GAME::Software
