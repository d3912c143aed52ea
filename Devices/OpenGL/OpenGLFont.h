// The OpenGL device's font: a TrueType or OpenType face read with FreeType, its glyphs rendered on
// demand into atlas textures (512 x 512, one byte a texel, sampled as white with the glyph's
// coverage as alpha) and drawn as screen-space quads through the device's text drawing
// (alpha-blended, no depth test, the caller's blend and depth state put back afterwards).
//
// The device owns the font file format: the library hands over the whole ".fnt" file. A file of
// TrueType or OpenType data is the face itself; the old format (data beginning "FNT" and the byte
// 1, or no data at all) names a face, which fontconfig resolves. Sizes are pixel heights (the em
// square); bold and italic are synthesised from the one face (emboldened outlines, a slant).
// 8-bit text is Windows-1252, 16-bit text UTF-16. Runs are single lines drawn unclipped at the
// rectangle's top left (the flags the library passes); a run's width is the sum of its rounded
// advances and kerning.
//
// Threads: measuring (RENDER_TEXT_CALC_RECT) works from any thread; drawing belongs to the
// device's main thread. The face, glyph cache and batch are guarded by the font's own lock.
#pragma once

#include "OpenGLResources.h"

#include "graphics/RenderFont.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace GAME::OpenGL {

class OpenGLDevice;

// The FreeType library of a device (opaque); null with a log line when FreeType cannot start.
void* OpenFontLibrary();
void CloseFontLibrary(void*& library);

class OpenGLFont final : public RenderFont
{
public:
    // Null with a log line when the data (or the named face) cannot be read.
    static OpenGLFont* Create(OpenGLDevice& device, const char* name, const void* data, unsigned int size);
    ~OpenGLFont() override;
    OpenGLFont(const OpenGLFont&) = delete;
    OpenGLFont& operator=(const OpenGLFont&) = delete;

    int DrawText(const char16_t* text, int count, Rect& rect, unsigned int flags, uint32_t color, int size,
                 RenderFontStyle style, bool filter) override;
    int DrawText(const char* text, int count, Rect& rect, unsigned int flags, uint32_t color, int size,
                 RenderFontStyle style, bool filter) override;
    void BeginBatch() override;
    void EndBatch() override;

    // Main thread, by the device: lets the atlas textures go (deleting them when the context is
    // the one they were made in).
    void ReleaseTextures(bool deleteNames);
    uint32_t GetEpoch() const { return m_epoch; }

private:
    struct Glyph
    {
        bool hasBitmap = false; // rendered into an atlas page
        int page = -1;
        int x = 0, y = 0, width = 0, height = 0; // in the page
        int left = 0, top = 0;                   // bitmap offset from the pen, pixels (top: up)
        int advance = 0;                         // pixels
        uint32_t index = 0;                      // the face's glyph index
    };
    struct Page
    {
        uint32_t texture = 0;
        int shelfX = 0, shelfY = 0, shelfHeight = 0;
    };
    struct Pending
    {
        int page;
        bool filter;
        std::vector<ScreenVertex> vertices;
    };

    OpenGLFont(OpenGLDevice& device, std::string name, std::vector<uint8_t> data, void* face);

    int Run(const std::u32string& text, Rect& rect, unsigned int flags, uint32_t color, int size,
            RenderFontStyle style, bool filter);
    bool SelectSize(int size, RenderFontStyle style);
    Glyph* GetGlyph(char32_t character, int size, RenderFontStyle style, bool bitmap);
    bool PlaceBitmap(Glyph& glyph, const uint8_t* pixels, int width, int height, int pitch);
    void Flush();

    OpenGLDevice& m_device;
    std::string m_name;
    std::vector<uint8_t> m_data; // the face reads from it while it lives
    void* m_face;
    uint32_t m_epoch;

    std::mutex m_lock;
    int m_selectedSize = 0;
    int m_selectedStyle = -1;
    std::unordered_map<uint64_t, Glyph> m_glyphs;
    std::vector<Page> m_pages;
    int m_batchDepth = 0;
    std::vector<Pending> m_pending;
};

} // namespace GAME::OpenGL
