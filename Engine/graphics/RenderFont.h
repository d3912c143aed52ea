// The device's font object, made from a font file's bytes by RenderDevice::CreateFont. The
// library cuts text into runs of one colour and weight and hands each run here. Main thread.
#pragma once

#include "core/Rect.h"
#include "graphics/RenderTypes.h"

namespace GAME {

class RenderFont
{
public:
    virtual ~RenderFont() = default;
    // Draws (or with RENDER_TEXT_CALC_RECT only measures) a run of count characters at the
    // rectangle's top left, in the packed colour; returns the run's width in pixels. Measuring
    // also sets the rectangle's width and height.
    virtual int DrawText(const char16_t* text, int count, Rect& rect, unsigned int flags, uint32_t color,
                         int size, RenderFontStyle style, bool filter) = 0;
    virtual int DrawText(const char* text, int count, Rect& rect, unsigned int flags, uint32_t color,
                         int size, RenderFontStyle style, bool filter) = 0;
    virtual void BeginBatch() = 0;
    virtual void EndBatch() = 0;
};

} // namespace GAME
