// Helpers of the OpenGL device tests: whether OpenGL.so loads, read-back with per-channel
// tolerance, DDS images made in memory, and small GLSL programs written against
// graphics/ShaderInterface.h.
#pragma once

#include "graphics/RenderDevice.h"
#include "graphics/RenderSurface.h"
#include "graphics/RenderTexture.h"
#include "platform/Module.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME::Test {

// The test hooks of OpenGL.so (see Devices/OpenGL/OpenGLModule.cpp).
using SimulateContextLossFunction = bool (*)(RenderDevice*);
inline constexpr const char* simulateContextLossSymbol = "OpenGLSimulateContextLoss";
using LockFigureFunction = long long (*)(RenderDevice*, const char*);
inline constexpr const char* lockFigureSymbol = "OpenGLLockFigure";

// A figure of an OpenGL device's GL lock ("mostUploadsInOneHold", ...); -1 when the module or the
// figure is not there.
inline long long LockFigure(RenderDevice* device, const char* name)
{
    Platform::ModuleHandle module = Platform::LoadModule("OpenGL");
    auto figure = module ? reinterpret_cast<LockFigureFunction>(Platform::FindModuleSymbol(module, lockFigureSymbol))
                         : nullptr;
    const long long value = figure ? figure(device, name) : -1;
    if (module)
        Platform::UnloadModule(module);
    return value;
}

// Whether OpenGL.so loads; the failure says why, and where the module comes from.
inline ::testing::AssertionResult OpenGLModuleLoads()
{
    std::string error;
    Platform::ModuleHandle module = Platform::LoadModule("OpenGL", &error);
    if (!module)
        return ::testing::AssertionFailure() << "OpenGL.so cannot be loaded (" << error
                                             << "); it is built from Devices/OpenGL beside libEngine.so";
    Platform::UnloadModule(module);
    return ::testing::AssertionSuccess();
}

// Read-back of render target 0.
struct Image
{
    int width = 0;
    int height = 0;
    std::vector<Pixel> pixels;
    const Pixel& At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    // Whether the pixel is the colour within the tolerance on each of red, green and blue.
    bool Is(int x, int y, int r, int g, int b, int tolerance = 8) const
    {
        const Pixel& p = At(x, y);
        return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance &&
               std::abs(p.b - b) <= tolerance;
    }
    std::string Describe(int x, int y) const
    {
        const Pixel& p = At(x, y);
        return "(" + std::to_string(x) + ", " + std::to_string(y) + ") = " + std::to_string(p.r) + " " +
               std::to_string(p.g) + " " + std::to_string(p.b);
    }
    // Whether some pixel within `reach` of (x, y) passes the test.
    bool AnyNear(int x, int y, int reach, const std::function<bool(const Pixel&)>& test) const
    {
        for (int dy = -reach; dy <= reach; ++dy)
            for (int dx = -reach; dx <= reach; ++dx) {
                const int px = x + dx, py = y + dy;
                if (px >= 0 && py >= 0 && px < width && py < height && test(At(px, py)))
                    return true;
            }
        return false;
    }
};

inline Image ReadBack(RenderDevice& device, int width, int height)
{
    Image image;
    image.width = width;
    image.height = height;
    image.pixels.resize(size_t(width) * size_t(height));
    if (!device.ReadFrameBuffer(image.pixels.data(), width, height))
        image.pixels.clear();
    return image;
}

// Whether two colours agree within the tolerance on every channel.
inline bool Near(const Pixel& p, int r, int g, int b, int a, int tolerance = 3)
{
    return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance &&
           std::abs(p.b - b) <= tolerance && std::abs(p.a - a) <= tolerance;
}

inline std::string Describe(const Pixel& p)
{
    char text[32];
    std::snprintf(text, sizeof(text), "(%d, %d, %d, %d)", p.r, p.g, p.b, p.a);
    return text;
}

// Near for the pixel at (x, y) of a read-back; the failure names the pixel and what it holds.
inline ::testing::AssertionResult PixelNear(const Image& image, int x, int y, int r, int g, int b, int a,
                                            int tolerance = 3)
{
    const Pixel& p = image.At(x, y);
    if (Near(p, r, g, b, a, tolerance))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << x << ", " << y << ") is " << Describe(p) << ", not (" << r
                                         << ", " << g << ", " << b << ", " << a << ")";
}

inline uint32_t Argb(int r, int g, int b, int a)
{
    return uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
}

// A DDS file in memory.
class DdsBuilder
{
public:
    enum Format
    {
        ARGB32,
        RGB24,
        DXT1,
        DXT3,
        DXT5,
    };

    DdsBuilder(Format format, int width, int height, int levels) : m_format(format), m_bytes(128, 0)
    {
        m_bytes[0] = 'D', m_bytes[1] = 'D', m_bytes[2] = 'S', m_bytes[3] = ' ';
        Put(4, 124);
        Put(8, 0x1007 | (levels > 1 ? 0x20000 : 0));
        Put(12, uint32_t(height));
        Put(16, uint32_t(width));
        Put(28, uint32_t(levels));
        Put(76, 32);
        switch (format) {
        case ARGB32:
            Put(80, 0x41);
            Put(88, 32);
            Put(92, 0x00FF0000), Put(96, 0x0000FF00), Put(100, 0x000000FF), Put(104, 0xFF000000);
            break;
        case RGB24:
            Put(80, 0x40);
            Put(88, 24);
            Put(92, 0x00FF0000), Put(96, 0x0000FF00), Put(100, 0x000000FF);
            break;
        default:
            Put(80, 0x4);
            std::memcpy(&m_bytes[84], format == DXT1 ? "DXT1" : format == DXT3 ? "DXT3" : "DXT5", 4);
            break;
        }
        Put(108, 0x1000);
    }

    // Uncompressed formats: a level filled with one colour 0xAARRGGBB.
    DdsBuilder& SolidLevel(int width, int height, uint32_t color)
    {
        for (int i = 0; i < width * height; ++i) {
            m_bytes.push_back(uint8_t(color));
            m_bytes.push_back(uint8_t(color >> 8));
            m_bytes.push_back(uint8_t(color >> 16));
            if (m_format == ARGB32)
                m_bytes.push_back(uint8_t(color >> 24));
        }
        return *this;
    }

    // Block formats: one block repeated over a level of the size.
    DdsBuilder& BlockLevel(int width, int height, const std::vector<uint8_t>& block)
    {
        const int blocks = ((width + 3) / 4) * ((height + 3) / 4);
        for (int i = 0; i < blocks; ++i)
            m_bytes.insert(m_bytes.end(), block.begin(), block.end());
        return *this;
    }

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    void Put(size_t offset, uint32_t value)
    {
        for (int i = 0; i < 4; ++i)
            m_bytes[offset + size_t(i)] = uint8_t(value >> (8 * i));
    }

    Format m_format;
    std::vector<uint8_t> m_bytes;
};

// An eight-byte DXT colour block: both end points as RGB565 and every texel's two-bit index.
inline std::vector<uint8_t> ColorBlock(uint16_t color0, uint16_t color1, uint32_t indices)
{
    return {uint8_t(color0),  uint8_t(color0 >> 8),  uint8_t(color1),        uint8_t(color1 >> 8),
            uint8_t(indices), uint8_t(indices >> 8), uint8_t(indices >> 16), uint8_t(indices >> 24)};
}

// Programs of the tests, bodies under graphics/ShaderInterface.h.
inline constexpr const char* passThroughVertexProgram = R"GLSL(
void main()
{
    gl_Position = a_position;
    v_color0 = a_color;
    v_tex0 = a_texCoord0;
}
)GLSL";

inline constexpr const char* colorPixelProgram = R"GLSL(
void main()
{
    o_color = v_color0;
}
)GLSL";

inline constexpr const char* texturePixelProgram = R"GLSL(
void main()
{
    o_color = texture(s0, v_tex0.xy) * v_color0;
}
)GLSL";

// The vertex of the tests' buffers: position, colour, texture coordinate (32 bytes).
struct TestVertex
{
    float x, y, z;
    uint32_t color;
    float u, v;
    float pad[2];
};

inline const VertexElement testVertexElements[] = {
    {0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3},
    {0, VERTEX_USAGE_COLOR, VERTEX_TYPE_COLOR},
    {0, VERTEX_USAGE_TEXCOORD0, VERTEX_TYPE_FLOAT2},
    {0, VERTEX_USAGE_TEXCOORD1, VERTEX_TYPE_FLOAT2},
};

} // namespace GAME::Test
