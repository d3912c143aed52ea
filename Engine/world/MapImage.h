// A top view of part of the world kept as a complete TGA image file in memory: the pictures that
// Region::RebuildMapData makes for a region's icon and minimap. Render draws a box of a region (and
// of the neighbours given with it) seen straight from above through an orthographic camera into a
// render surface of the graphics engine's device, reads the pixels back and keeps them as an
// uncompressed 24-bit TGA file; the image owns those bytes until they are handed over or
// released.
//
// The picture covers the box's x and z: x grows to the right and z downwards (north up). Its size
// in pixels is the box's width and depth, each truncated to whole units, times the pixels per unit,
// truncated again. Where nothing is drawn the picture keeps the clear colour, opaque red.
//
// While it draws, the engine's entity render filter is a DetailMapFilterFunction (only entities
// that belong on the minimap are drawn), the engine says it is map rendering, and reflections are
// off; all three are put back afterwards.
//
// Main thread only, outside the engine's frame (the draw opens a device frame of its own).
#pragma once

#include "core/Color.h"
#include "core/Vec3.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class Image;
class Region;

class MapImage
{
public:
    // The camera stands this far above the box centre and sees from near to far.
    static constexpr float cameraHeight = 1000.0f;
    static constexpr float nearPlane = 0.1f;
    static constexpr float farPlane = 4000.0f;
    // Sides above this many pixels are refused (TGA keeps 16 bits a side).
    static constexpr int maxSide = 65535;
    // Opaque red: what shows where nothing was drawn.
    static Color GetClearColor() { return Color(1.0f, 0.0f, 0.0f, 1.0f); }

    MapImage() = default;
    ~MapImage() = default;
    MapImage(const MapImage&) = delete;
    MapImage& operator=(const MapImage&) = delete;

    // The picture's size for a box (minimum and maximum corners) at pixelsPerUnit; false, with
    // both sizes 0, when the box or the scale makes no picture of at least one pixel a side and at
    // most maxSide, or its world size is not finite.
    static bool GetImageSize(const Vec3& minimum, const Vec3& maximum, float pixelsPerUnit, int& width,
                             int& height);

    // Draws the box of the region's space (corners minimum and maximum) with the region and the
    // neighbours added to the scene, and keeps the picture as TGA bytes. When fileName is not empty
    // the bytes are also written to that file of the operating system. False, with a log line,
    // when no picture could be made (no region, no size, no graphics engine or device, no render
    // surface of that size, a device frame that would not begin, a read-back that failed): the
    // image is then empty. False also when the file could not be written; the picture is kept.
    bool Render(Region* region, const Vec3& minimum, const Vec3& maximum, float pixelsPerUnit,
                const std::vector<Region*>& neighbours, const std::string& fileName = std::string());

    bool IsEmpty() const { return m_bytes.empty(); }
    unsigned GetWidth() const { return m_width; }
    unsigned GetHeight() const { return m_height; }
    // Bytes of the TGA file.
    unsigned GetSize() const { return static_cast<unsigned>(m_bytes.size()); }
    const uint8_t* GetData() const { return m_bytes.data(); }

    // Decodes the bytes of a map picture (an icon or a minimap, as map rendering writes them) into
    // an RGBA image, rows from the top: TGA of true colour (24 or 32 bits) or 8-bit grey, plain or
    // run-length encoded, read within the bytes given (Image::LoadTGA). False, with the image
    // empty, for other files and for files cut short or inconsistent. Any thread.
    static bool Decode(const void* bytes, unsigned size, Image& image);

    // Moves the picture out (its size and the TGA bytes); the image is empty afterwards.
    void TakeBuffer(unsigned& width, unsigned& height, std::vector<uint8_t>& bytes);
    // Frees the picture.
    void Release();

private:
    unsigned m_width = 0;
    unsigned m_height = 0;
    std::vector<uint8_t> m_bytes;
};

} // namespace GAME
