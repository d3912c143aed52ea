// A surface of the software device: a colour texture to draw into (its own, one it was given,
// or, for the primary surface, a back buffer that is no texture of the device) and an optional
// depth buffer of floats. Created and destroyed by SoftwareDevice only; its operations take the
// device's lock.
#pragma once

#include "graphics/RenderSurface.h"
#include "graphics/RenderTypes.h"

#include <memory>
#include <vector>

namespace GAME::Software {

class SoftwareDevice;
class SoftwareTexture;

class SoftwareSurface final : public RenderSurface
{
public:
    // color may be null (depth only). The surface deletes a colour texture it owns.
    SoftwareSurface(SoftwareDevice& device, int width, int height, SoftwareTexture* color, bool ownsColor,
                    bool primary, RenderTextureFormat depthFormat);
    ~SoftwareSurface() override;
    SoftwareSurface(const SoftwareSurface&) = delete;
    SoftwareSurface& operator=(const SoftwareSurface&) = delete;

    RenderTexture* GetTexture() const override;
    int GetWidth() const override { return m_width; }
    int GetHeight() const override { return m_height; }
    bool CopyToTexture(RenderTexture* destination, const Rect& sourceRect) override;

    // Under the device's lock:
    bool IsPrimary() const { return m_primary; }
    bool OwnsColor() const { return m_ownsColor; }
    SoftwareTexture* GetColor() const { return m_color; }
    // The texture drawn into was destroyed; drawing into this surface changes no colour now.
    void DetachColor();
    bool HasDepth() const { return m_depthFormat != RENDER_FORMAT_NONE; }
    std::vector<float>& GetDepth() { return m_depth; }
    RenderTextureFormat GetDepthFormat() const { return m_depthFormat; }
    // Primary surface only: new back-buffer size; colour and depth start over as in a new surface.
    void Resize(int width, int height);

    static uint64_t GetDepthBytes(int width, int height, RenderTextureFormat depthFormat);

private:
    SoftwareDevice& m_device;
    int m_width;
    int m_height;
    SoftwareTexture* m_color;
    bool m_ownsColor;
    bool m_primary;
    RenderTextureFormat m_depthFormat;
    std::vector<float> m_depth;
};

} // namespace GAME::Software
