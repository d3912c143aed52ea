#include "scene/SceneCanvas.h"

#include "graphics/GraphicsCanvas.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderSurface.h"
#include "graphics/RenderTexture.h"

namespace GAME::SceneCanvas {

void SetClippingPlane(GraphicsCanvas& canvas, int index, const Plane& plane)
{
    if (RenderDevice* device = canvas.GetRenderDevice())
        device->SetClippingPlane(index, plane);
}

void ClearClippingPlane(GraphicsCanvas& canvas, int index)
{
    if (RenderDevice* device = canvas.GetRenderDevice())
        device->ClearClippingPlane(index);
}

void SetClippingRect(GraphicsCanvas& canvas, const Rect& rect)
{
    RenderDevice* device = canvas.GetRenderDevice();
    if (!device)
        return;
    // Cut at the device's right and bottom edges, never negative.
    Rect clipped = rect;
    const float width = static_cast<float>(device->GetWidth());
    const float height = static_cast<float>(device->GetHeight());
    if (clipped.x + clipped.width > width)
        clipped.width = width - clipped.x;
    if (clipped.y + clipped.height > height)
        clipped.height = height - clipped.y;
    if (clipped.width < 0.0f)
        clipped.width = 0.0f;
    if (clipped.height < 0.0f)
        clipped.height = 0.0f;
    device->SetScissorRect(clipped);
}

void ClearClippingRect(GraphicsCanvas& canvas)
{
    if (RenderDevice* device = canvas.GetRenderDevice())
        device->SetScissorRect(Rect(0.0f, 0.0f, static_cast<float>(device->GetWidth()),
                                    static_cast<float>(device->GetHeight())));
}

void SetColorWriteMode(GraphicsCanvas& canvas, RenderWriteMode mode)
{
    if (RenderDevice* device = canvas.GetRenderDevice())
        device->SetColorWriteMode(mode);
}

void SetAlphaWriteMode(GraphicsCanvas& canvas, RenderWriteMode mode)
{
    if (RenderDevice* device = canvas.GetRenderDevice())
        device->SetAlphaWriteMode(mode);
}

void SetDepthWriteMode(GraphicsCanvas& canvas, RenderWriteMode mode)
{
    if (RenderDevice* device = canvas.GetRenderDevice())
        device->SetDepthWriteMode(mode);
}

void SetDepthTestFunction(GraphicsCanvas& canvas, RenderTestFunction function)
{
    if (RenderDevice* device = canvas.GetRenderDevice())
        device->SetDepthTestFunction(function);
}

bool Supports16bitColorWithDepth(GraphicsCanvas& canvas)
{
    RenderDevice* device = canvas.GetRenderDevice();
    return device && device->Supports16bitColorWithDepth();
}

RenderSurface* CreateTextureSurface(GraphicsCanvas& canvas, int width, int height,
                                    RenderTextureFormat colorFormat, RenderTextureFormat depthFormat)
{
    RenderDevice* device = canvas.GetRenderDevice();
    return device ? device->CreateTextureSurface(width, height, colorFormat, depthFormat) : nullptr;
}

RenderSurface* CreateTextureSurface(GraphicsCanvas& canvas, int width, int height,
                                    const GAME::RenderTexture* texture, RenderTextureFormat depthFormat)
{
    RenderDevice* device = canvas.GetRenderDevice();
    return device ? device->CreateTextureSurface(width, height, texture, depthFormat) : nullptr;
}

void DestroySurface(GraphicsCanvas& canvas, RenderSurface*& surface)
{
    RenderDevice* device = canvas.GetRenderDevice();
    if (device && surface)
        device->DestroySurface(&surface);
    surface = nullptr;
}

void RenderRect(GraphicsCanvas& canvas, const Rect& rect, RenderBlendFactor source,
                RenderBlendFactor destination, const Color& color)
{
    canvas.RenderRect(rect, Rect(0.0f, 0.0f, 1.0f, 1.0f), nullptr, source, destination, color, false);
}

void RenderTextureRect(GraphicsCanvas& canvas, const Rect& rect, const GAME::RenderTexture* texture,
                       RenderBlendFactor source, RenderBlendFactor destination, const Color& color)
{
    if (!texture)
        return;
    canvas.RenderRect(
        rect,
        Rect(0.0f, 0.0f, static_cast<float>(texture->GetWidth()), static_cast<float>(texture->GetHeight())),
        texture, source, destination, color, false);
}

RenderSurface* BlurFrameBuffer(GraphicsCanvas&, int, int, const Rect&)
{
    return nullptr;
}

} // namespace GAME::SceneCanvas
