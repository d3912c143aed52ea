#include "OpenGLFont.h"

#include "DeviceLog.h"
#include "FontFile.h"
#include "OpenGLApi.h"
#include "OpenGLDevice.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace GAME::OpenGL {

using DeviceCommon::DeviceLogPrintf;
using DeviceCommon::FindFontFile;

namespace {

constexpr int pageSize = 512;
constexpr int maxPages = 16;
constexpr int maxPixelSize = 256;

// Windows-1252 for the bytes 0x80 to 0x9F; the other bytes are Latin-1.
constexpr char16_t cp1252High[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                     0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

FT_Face Face(void* face)
{
    return static_cast<FT_Face>(face);
}

int Pixels(FT_Pos value)
{
    return int((value + 32) >> 6);
}

} // namespace

void* OpenFontLibrary()
{
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        DeviceLogPrintf(1, "OpenGL device: FreeType does not start; no fonts");
        return nullptr;
    }
    return library;
}

void CloseFontLibrary(void*& library)
{
    if (library)
        FT_Done_FreeType(static_cast<FT_Library>(library));
    library = nullptr;
}

OpenGLFont* OpenGLFont::Create(OpenGLDevice& device, const char* name, const void* data, unsigned int size)
{
    std::vector<uint8_t> bytes;
    const auto* raw = static_cast<const uint8_t*>(data);
    const bool oldFormat = !data || size == 0 || (size >= 4 && std::memcmp(raw, "FNT\x01", 4) == 0);
    if (oldFormat) {
        // The old format names a face: fontconfig finds it.
        const std::string file = FindFontFile(name);
        std::ifstream in(file, std::ios::binary);
        if (file.empty() || !in) {
            DeviceLogPrintf(1, "OpenGL device: no font file matches the font name '%s'", name);
            return nullptr;
        }
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        bytes.assign(raw, raw + size);
    }
    if (bytes.empty() || bytes.size() > 0x7FFFFFFFu) {
        DeviceLogPrintf(1, "OpenGL device: font '%s' has no usable data", name);
        return nullptr;
    }
    FT_Face face = nullptr;
    {
        std::lock_guard<std::mutex> lock(device.GetFontLibraryLock());
        const FT_Error error = FT_New_Memory_Face(static_cast<FT_Library>(device.GetFontLibrary()),
                                                  bytes.data(), FT_Long(bytes.size()), 0, &face);
        if (error != 0 || !face) {
            DeviceLogPrintf(
                1, "OpenGL device: font '%s' is no TrueType or OpenType face FreeType reads (error %d)", name,
                error);
            return nullptr;
        }
        if (!FT_IS_SCALABLE(face)) {
            FT_Done_Face(face);
            DeviceLogPrintf(1, "OpenGL device: font '%s' is not scalable", name);
            return nullptr;
        }
        FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    }
    return new OpenGLFont(device, name, std::move(bytes), face);
}

OpenGLFont::OpenGLFont(OpenGLDevice& device, std::string name, std::vector<uint8_t> data, void* face)
    : m_device(device), m_name(std::move(name)), m_data(std::move(data)), m_face(face),
      m_epoch(device.GetEpoch())
{
}

OpenGLFont::~OpenGLFont()
{
    std::lock_guard<std::mutex> lock(m_device.GetFontLibraryLock());
    FT_Done_Face(Face(m_face));
}

void OpenGLFont::ReleaseTextures(bool deleteNames)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const OpenGLDevice::GLWork work(m_device);
    for (Page& page : m_pages)
        if (deleteNames && page.texture) {
            const GLuint texture = page.texture;
            glDeleteTextures(1, &texture);
        }
    m_pages.clear();
    m_glyphs.clear();
    m_pending.clear();
}

bool OpenGLFont::SelectSize(int size, RenderFontStyle style)
{
    if (size == m_selectedSize && int(style) == m_selectedStyle)
        return true;
    FT_Face face = Face(m_face);
    if (FT_Set_Pixel_Sizes(face, 0, FT_UInt(size)) != 0)
        return false;
    // Italic is a slant of the upright face.
    FT_Matrix slant = {0x10000, (style & RENDER_FONT_ITALIC) ? 0x3333 : 0, 0, 0x10000};
    FT_Set_Transform(face, &slant, nullptr);
    m_selectedSize = size;
    m_selectedStyle = int(style);
    return true;
}

bool OpenGLFont::PlaceBitmap(Glyph& glyph, const uint8_t* pixels, int width, int height, int pitch)
{
    const OpenGLDevice::GLWork work(m_device);
    if (width <= 0 || height <= 0) {
        glyph.hasBitmap = true;
        return true;
    }
    if (width + 2 > pageSize || height + 2 > pageSize)
        return false;
    // Shelves of glyphs with a texel of space between them, page after page.
    Page* page = m_pages.empty() ? nullptr : &m_pages.back();
    if (page && page->shelfX + width + 1 > pageSize) {
        page->shelfY += page->shelfHeight + 1;
        page->shelfX = 1;
        page->shelfHeight = 0;
    }
    if (!page || page->shelfY + height + 1 > pageSize) {
        if (int(m_pages.size()) >= maxPages)
            return false;
        Page fresh;
        fresh.shelfX = 1;
        fresh.shelfY = 1;
        GLuint texture = 0;
        glCreateTextures(GL_TEXTURE_2D, 1, &texture);
        glTextureStorage2D(texture, 1, GL_R8, pageSize, pageSize);
        const uint8_t zero = 0;
        glClearTexImage(texture, 0, GL_RED, GL_UNSIGNED_BYTE, &zero);
        // White, with the coverage as alpha: the fixed textured program modulates the run's colour.
        const GLint swizzle[4] = {GL_ONE, GL_ONE, GL_ONE, GL_RED};
        glTextureParameteriv(texture, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
        glTextureParameteri(texture, GL_TEXTURE_MAX_LEVEL, 0);
        fresh.texture = texture;
        m_pages.push_back(fresh);
        page = &m_pages.back();
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, pitch);
    glTextureSubImage2D(page->texture, 0, page->shelfX, page->shelfY, width, height, GL_RED, GL_UNSIGNED_BYTE,
                        pixels);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glyph.page = int(m_pages.size()) - 1;
    glyph.x = page->shelfX;
    glyph.y = page->shelfY;
    glyph.width = width;
    glyph.height = height;
    glyph.hasBitmap = true;
    page->shelfX += width + 1;
    page->shelfHeight = std::max(page->shelfHeight, height);
    return true;
}

OpenGLFont::Glyph* OpenGLFont::GetGlyph(char32_t character, int size, RenderFontStyle style, bool bitmap)
{
    const uint64_t key = uint64_t(character) | uint64_t(style & 3) << 32 | uint64_t(size) << 34;
    auto it = m_glyphs.find(key);
    if (it != m_glyphs.end() && (!bitmap || it->second.hasBitmap))
        return &it->second;
    if (!SelectSize(size, style))
        return nullptr;
    FT_Face face = Face(m_face);
    const FT_UInt index = FT_Get_Char_Index(face, FT_ULong(character));
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0)
        return nullptr;
    if (style & RENDER_FONT_BOLD)
        FT_GlyphSlot_Embolden(face->glyph);
    Glyph& glyph = m_glyphs[key];
    glyph.index = index;
    glyph.advance = Pixels(face->glyph->advance.x);
    if (!bitmap)
        return &glyph;
    // A glyph FreeType cannot render, or too large for a page, still moves the pen as measuring
    // does; it is drawn as nothing (and never empties the atlas for a place it cannot have).
    auto drawnAsNothing = [](Glyph& blank) {
        blank.page = -1;
        blank.width = blank.height = 0;
        blank.hasBitmap = true;
        return &blank;
    };
    if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0)
        return drawnAsNothing(glyph);
    const FT_Bitmap& image = face->glyph->bitmap;
    glyph.left = face->glyph->bitmap_left;
    glyph.top = face->glyph->bitmap_top;
    if (int64_t(image.width) + 2 > pageSize || int64_t(image.rows) + 2 > pageSize)
        return drawnAsNothing(glyph);
    if (!PlaceBitmap(glyph, image.buffer, int(image.width), int(image.rows), image.pitch)) {
        // The atlas is full: start it over once the runs waiting for it are drawn.
        Flush();
        const OpenGLDevice::GLWork work(m_device);
        for (Page& page : m_pages) {
            const GLuint texture = page.texture;
            glDeleteTextures(1, &texture);
        }
        m_pages.clear();
        m_glyphs.clear();
        Glyph& again = m_glyphs[key];
        again.index = index;
        again.advance = Pixels(face->glyph->advance.x);
        again.left = face->glyph->bitmap_left;
        again.top = face->glyph->bitmap_top;
        if (!PlaceBitmap(again, image.buffer, int(image.width), int(image.rows), image.pitch))
            return drawnAsNothing(again);
        return &again;
    }
    return &glyph;
}

int OpenGLFont::Run(const std::u32string& text, Rect& rect, unsigned int flags, uint32_t color, int size,
                    RenderFontStyle style, bool filter)
{
    if (size <= 0)
        return 0;
    size = std::min(size, maxPixelSize);
    style = RenderFontStyle(style & 3);
    const bool measure = (flags & RENDER_TEXT_CALC_RECT) != 0;
    // Drawing is the main thread's; elsewhere a run is only measured.
    const bool draw = !measure && m_device.IsMainThread() && m_device.CanDraw("DrawText") &&
                      m_epoch == m_device.GetEpoch();
    std::lock_guard<std::mutex> lock(m_lock);
    if (!SelectSize(size, style))
        return 0;
    FT_Face face = Face(m_face);
    const int ascender = Pixels(face->size->metrics.ascender);
    const int lineHeight = std::max(Pixels(face->size->metrics.height), 1);
    const bool kerning = FT_HAS_KERNING(face);

    const int x0 = int(std::lround(rect.x));
    int penX = x0;
    int baseline = int(std::lround(rect.y)) + ascender;
    int width = 0;
    int lines = 1;
    uint32_t previous = 0;
    for (char32_t character : text) {
        if (character == U'\n' && !(flags & RENDER_TEXT_SINGLE_LINE)) {
            width = std::max(width, penX - x0);
            penX = x0;
            baseline += lineHeight;
            ++lines;
            previous = 0;
            continue;
        }
        Glyph* glyph = GetGlyph(character, size, style, draw);
        if (!glyph)
            continue;
        if (kerning && previous && glyph->index) {
            FT_Vector delta;
            if (FT_Get_Kerning(face, previous, glyph->index, FT_KERNING_DEFAULT, &delta) == 0)
                penX += Pixels(delta.x);
        }
        previous = glyph->index;
        if (draw && glyph->width > 0 && glyph->page >= 0) {
            const float gx = float(penX + glyph->left), gy = float(baseline - glyph->top);
            const float gw = float(glyph->width), gh = float(glyph->height);
            const float u0 = float(glyph->x) / pageSize, v0 = float(glyph->y) / pageSize;
            const float u1 = float(glyph->x + glyph->width) / pageSize,
                        v1 = float(glyph->y + glyph->height) / pageSize;
            // Runs of a batch share a draw per atlas page (colours go with the vertices).
            auto pending = std::find_if(m_pending.begin(), m_pending.end(), [&](const Pending& p) {
                return p.page == glyph->page && p.filter == filter;
            });
            if (pending == m_pending.end()) {
                m_pending.push_back({glyph->page, filter, {}});
                pending = m_pending.end() - 1;
            }
            const ScreenVertex corners[4] = {{gx, gy, 0.0f, color, u0, v0},
                                             {gx + gw, gy, 0.0f, color, u1, v0},
                                             {gx, gy + gh, 0.0f, color, u0, v1},
                                             {gx + gw, gy + gh, 0.0f, color, u1, v1}};
            for (int corner : {0, 1, 2, 2, 1, 3})
                pending->vertices.push_back(corners[corner]);
        }
        penX += glyph->advance;
    }
    width = std::max(width, penX - x0);
    if (measure) {
        rect.width = float(width);
        rect.height = float(lines * lineHeight);
    }
    if (draw && m_batchDepth == 0)
        Flush();
    return width;
}

void OpenGLFont::Flush()
{
    std::vector<Pending> pending;
    pending.swap(m_pending);
    for (const Pending& p : pending) {
        if (p.page < 0 || p.page >= int(m_pages.size()) || p.vertices.empty())
            continue;
        if (!m_device.BeginDraw("DrawText"))
            continue; // outside a frame or off the main thread
        m_device.DrawScreen(p.vertices.data(), int(p.vertices.size()), GL_TRIANGLES,
                            m_pages[size_t(p.page)].texture, true, p.filter, int(p.vertices.size() / 3),
                            "DrawText");
    }
}

int OpenGLFont::DrawText(const char16_t* text, int count, Rect& rect, unsigned int flags, uint32_t color,
                         int size, RenderFontStyle style, bool filter)
{
    if (!text)
        return 0;
    if (count < 0) // up to the terminator
        for (count = 0; text[count]; ++count) {
        }
    std::u32string characters;
    characters.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD; // a lone half of a pair
        }
        characters.push_back(c);
    }
    return Run(characters, rect, flags, color, size, style, filter);
}

int OpenGLFont::DrawText(const char* text, int count, Rect& rect, unsigned int flags, uint32_t color,
                         int size, RenderFontStyle style, bool filter)
{
    if (!text)
        return 0;
    if (count < 0)
        count = int(std::strlen(text));
    std::u32string characters;
    characters.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        const uint8_t byte = uint8_t(text[i]);
        characters.push_back(byte >= 0x80 && byte < 0xA0 ? char32_t(cp1252High[byte - 0x80])
                                                         : char32_t(byte));
    }
    return Run(characters, rect, flags, color, size, style, filter);
}

void OpenGLFont::BeginBatch()
{
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_batchDepth;
}

void OpenGLFont::EndBatch()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_batchDepth > 0 && --m_batchDepth == 0 && m_device.IsMainThread())
        Flush();
}

} // namespace GAME::OpenGL
