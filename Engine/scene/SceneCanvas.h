// The canvas operations the scene renderers use that go beyond the canvas's rectangles and
// surface bookkeeping: clipping planes and rectangles, device write and test modes, surfaces the
// renderers own, and the blurred frame copy.
//
// TODO(stand-in): these forward to the render device under the canvas until GraphicsCanvas
// offers them itself (SetClippingPlane, ClearClippingPlane, SetClippingRect, ClearClippingRect,
// Set...WriteMode, SetDepthTestFunction, CreateTextureSurface, DestroySurface,
// Supports16bitColorWithDepth, BlurFrameBuffer); then each body becomes the canvas call of the same
// name and this file goes away. BlurFrameBuffer answers null until then. Main thread only.
#pragma once

#include "core/Color.h"
#include "core/Plane.h"
#include "core/Rect.h"
#include "graphics/RenderTypes.h"

namespace GAME {

class GraphicsCanvas;
class RenderSurface;
class RenderTexture;

namespace SceneCanvas {

void SetClippingPlane(GraphicsCanvas& canvas, int index, const Plane& plane);
void ClearClippingPlane(GraphicsCanvas& canvas, int index);
void SetClippingRect(GraphicsCanvas& canvas, const Rect& rect);
void ClearClippingRect(GraphicsCanvas& canvas);
void SetColorWriteMode(GraphicsCanvas& canvas, RenderWriteMode mode);
void SetAlphaWriteMode(GraphicsCanvas& canvas, RenderWriteMode mode);
void SetDepthWriteMode(GraphicsCanvas& canvas, RenderWriteMode mode);
void SetDepthTestFunction(GraphicsCanvas& canvas, RenderTestFunction function);
bool Supports16bitColorWithDepth(GraphicsCanvas& canvas);
RenderSurface* CreateTextureSurface(GraphicsCanvas& canvas, int width, int height,
                                    RenderTextureFormat colorFormat, RenderTextureFormat depthFormat);
RenderSurface* CreateTextureSurface(GraphicsCanvas& canvas, int width, int height,
                                    const GAME::RenderTexture* texture, RenderTextureFormat depthFormat);
void DestroySurface(GraphicsCanvas& canvas, RenderSurface*& surface);
// An untextured rectangle with these blend factors.
void RenderRect(GraphicsCanvas& canvas, const Rect& rect, RenderBlendFactor source,
                RenderBlendFactor destination, const Color& color);
// A texture over the rectangle (its whole area) with these blend factors, no alpha test.
void RenderTextureRect(GraphicsCanvas& canvas, const Rect& rect, const GAME::RenderTexture* texture,
                       RenderBlendFactor source, RenderBlendFactor destination, const Color& color);
// A blurred copy of the rectangle of the current target in a temporary surface; null when none.
RenderSurface* BlurFrameBuffer(GraphicsCanvas& canvas, int width, int height, const Rect& rect);

} // namespace SceneCanvas
} // namespace GAME
