// An interface skin: a small text file (".uis" by convention) naming rectangular areas of
// interface bitmaps. Each area has a name, a texture and a region of that texture (four floats in
// the order the file writes them). The host's interface code asks for an area by name and draws
// that part of the texture with the canvas. The skin owns its areas and holds one use of each
// area's texture, given back to the graphics engine when the skin goes; it cannot be copied.
//
// File format (text, read through the engine's file system, split by the engine's tokenizer):
//   Area {
//       name   = "Button"
//       bitmap = "UI/Buttons.tex"
//       region = ( 0, 0, 64, 32 )
//   }
// Tokens outside Area blocks are skipped. Inside a block each entry is a key, one separator token
// (never checked) and a value; a key the skin does not know reads no value, so the token after
// its separator is the next key. An area without a name is dropped; a later area of a name
// replaces an earlier one. A region that is not four finite numbers in the form
// " ( %f , %f , %f , %f ) " is zero. "Area" without "{" ends loading, and so does a file that
// ends inside a block (that last area is dropped); the areas before stay.
//
// Main thread only (textures are loaded through the graphics engine).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>

namespace GAME {

class GraphicsEngine;
class GraphicsTexture;

class InterfaceSkin
{
public:
    static constexpr size_t initialBuckets = 100;

    struct Area
    {
        GraphicsTexture* texture = nullptr; // null when the bitmap could not be loaded
        float region[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    };

    // Loads the file with the engine's graphics engine (textures stay null without one). A skin
    // that failed to load has fewer or no areas.
    explicit InterfaceSkin(const char* fileName);
    // The same with the graphics engine given (may be null).
    InterfaceSkin(const char* fileName, GraphicsEngine* graphics);
    // Unloads every area's texture.
    virtual ~InterfaceSkin();
    InterfaceSkin(const InterfaceSkin&) = delete;
    InterfaceSkin& operator=(const InterfaceSkin&) = delete;

    // Null when the skin has no area of that name.
    const Area* GetArea(const char* name) const;
    size_t GetNumAreas() const { return m_areas.size(); }
    // What loading answered: false when the file could not be read or its text was cut short.
    bool IsLoaded() const { return m_loaded; }

private:
    // False when the file cannot be opened, an "Area" is not followed by "{" or the text ends
    // inside a block.
    bool LoadUIS(const char* fileName);
    bool ParseUIS(const char* fileName, const char* text, size_t length);
    void EnterArea(const std::string& name, const std::string& bitmap, const float region[4]);
    void ReleaseArea(Area& area);

    std::unordered_map<std::string, std::unique_ptr<Area>> m_areas;
    GraphicsEngine* m_graphics;
    bool m_loaded = false;
};

} // namespace GAME
