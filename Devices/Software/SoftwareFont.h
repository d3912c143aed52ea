// The software device's font object: keeps the font file's bytes and measures runs. It has no
// glyph metrics and draws nothing (OpenGL.so reads the faces): every character advances half the
// font size (rounded up), and a drawn run counts as one draw call of two triangles a character and
// is recorded with its text (8-bit, characters beyond 7-bit ASCII as '?'), position, packed colour
// and weight. Main thread.
#pragma once

#include "graphics/RenderFont.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME::Software {

class SoftwareDevice;

class SoftwareFont final : public RenderFont
{
public:
    SoftwareFont(SoftwareDevice& device, const char* name, const void* data, unsigned int size);
    SoftwareFont(const SoftwareFont&) = delete;
    SoftwareFont& operator=(const SoftwareFont&) = delete;

    int DrawText(const char16_t* text, int count, Rect& rect, unsigned int flags, uint32_t color, int size,
                 RenderFontStyle style, bool filter) override;
    int DrawText(const char* text, int count, Rect& rect, unsigned int flags, uint32_t color, int size,
                 RenderFontStyle style, bool filter) override;
    void BeginBatch() override;
    void EndBatch() override;

    const std::string& GetName() const { return m_name; }

private:
    int Run(const std::string& text, int count, Rect& rect, unsigned int flags, uint32_t color, int size,
            RenderFontStyle style);

    SoftwareDevice& m_device;
    std::string m_name;
    std::vector<uint8_t> m_data;
    int m_batchDepth = 0;
};

} // namespace GAME::Software
