// Codes and small value types shared by the library and the render device modules. The codes of
// blend factors, test functions, write modes and primitive types travel unchanged from shader
// files and the library's own drawing code to the device, so this header is their one fixed
// table: every device module gives them the meanings written here. Plain values; safe from any
// thread.
#pragma once

#include <cstdint>

namespace GAME {

// Hardware class of a device. Shader files pick their section by the name of the class
// (RenderDevice::GetNameForGeneration), so the names are part of that file format.
enum RenderGenerationId : int32_t
{
    RENDER_GENERATION_UNKNOWN = 0,
    RENDER_GENERATION_GEFORCE3 = 1,
    RENDER_GENERATION_GEFORCE4 = 2,
    RENDER_GENERATION_GEFORCE5 = 3,
    RENDER_GENERATION_GEFORCE6 = 4,
    RENDER_GENERATION_RADEON9000 = 5,
    RENDER_GENERATION_R200 = 6,
    RENDER_GENERATION_COUNT = 7,
};

// Colour and depth formats of surfaces and textures.
enum RenderTextureFormat : int32_t
{
    RENDER_FORMAT_NONE = 0,
    RENDER_FORMAT_RGB = 1,
    RENDER_FORMAT_RGBA = 2,
    RENDER_FORMAT_RGBA_ALT = 3, // a second RGBA format (also named "RGBA")
    RENDER_FORMAT_DSDT = 4,
    RENDER_FORMAT_R16F = 5,
    RENDER_FORMAT_R32F = 6,
    RENDER_FORMAT_D16 = 7,
    RENDER_FORMAT_D24 = 8,
    RENDER_FORMAT_D32 = 9,
    RENDER_FORMAT_RGB16 = 10, // 16-bit colour for shadow surfaces on devices that pair it with depth
};

// Depth and alpha comparison: the incoming value passes when "incoming <op> stored/reference".
enum RenderTestFunction : int32_t
{
    RENDER_TEST_NEVER = 0,
    RENDER_TEST_LESS = 1,
    RENDER_TEST_EQUAL = 2,
    RENDER_TEST_LESS_EQUAL = 3, // default depth test
    RENDER_TEST_GREATER = 4,    // alpha testing against the reference
    RENDER_TEST_NOT_EQUAL = 5,
    RENDER_TEST_GREATER_EQUAL = 6,
    RENDER_TEST_ALWAYS = 7, // 2-D drawing, default alpha test
};

// Colour, alpha and depth write enables.
enum RenderWriteMode : int32_t
{
    RENDER_WRITE_DISABLED = 0,
    RENDER_WRITE_ENABLED = 1,
};

// Blend factors: result = source * sourceFactor + destination * destinationFactor. The defaults
// (source ONE, destination ZERO) draw opaque; SRC_ALPHA / INV_SRC_ALPHA is ordinary alpha blending.
enum RenderBlendFactor : int32_t
{
    RENDER_BLEND_ONE = 0,
    RENDER_BLEND_ZERO = 1,
    RENDER_BLEND_SRC_COLOR = 2,
    RENDER_BLEND_INV_SRC_COLOR = 3,
    RENDER_BLEND_DEST_COLOR = 4,
    RENDER_BLEND_DEST_ALPHA = 5,
    RENDER_BLEND_SRC_ALPHA = 6,
    RENDER_BLEND_INV_DEST_ALPHA = 7,
    RENDER_BLEND_INV_SRC_ALPHA = 8,
    RENDER_BLEND_INV_DEST_COLOR = 9,
    RENDER_BLEND_SRC_ALPHA_SAT = 10,
};

enum RenderPrimitiveType : int32_t
{
    RENDER_PRIMITIVE_TRIANGLE_LIST = 0,
    RENDER_PRIMITIVE_TRIANGLE_STRIP = 1,
    RENDER_PRIMITIVE_TRIANGLE_FAN = 2,
    RENDER_PRIMITIVE_LINE_LIST = 3,
    RENDER_PRIMITIVE_LINE_STRIP = 4,
    RENDER_PRIMITIVE_POINT_LIST = 5,
};

// Flags of RenderDevice::Clear. The game's own callers and data clear depth with 0x20 (colour and
// depth as 33): every device clears the depth buffer for RENDER_CLEAR_ZBUFFER as for
// RENDER_CLEAR_DEPTH.
enum : uint32_t
{
    RENDER_CLEAR_COLOR = 1,
    RENDER_CLEAR_DEPTH = 2,
    RENDER_CLEAR_STENCIL = 4,
    RENDER_CLEAR_ZBUFFER = 0x20,
};

// Texture stage state selectors of SetTextureStageState (the shader state kinds 10, 11, 15, 16
// and 17 pass 0, 1, 3, 4 and 5) and their values. A stage whose states were never set wraps and
// filters linearly.
enum : uint32_t
{
    RENDER_STAGE_ADDRESS_U = 0,
    RENDER_STAGE_ADDRESS_V = 1,
    RENDER_STAGE_MAG_FILTER = 3,
    RENDER_STAGE_MIN_FILTER = 4,
    RENDER_STAGE_MIP_FILTER = 5,
};
enum : uint32_t
{
    RENDER_ADDRESS_WRAP = 0,
    RENDER_ADDRESS_CLAMP = 1,
    RENDER_ADDRESS_MIRROR = 2,
};
enum : uint32_t
{
    RENDER_FILTER_LINEAR = 0,
    RENDER_FILTER_POINT = 1,
    RENDER_FILTER_NONE = 2, // mip filter only: the top level alone is sampled
};

// Usage flags of the texture and vertex buffer creation operations.
enum : uint32_t
{
    RENDER_USAGE_STATIC = 0,
    RENDER_USAGE_DYNAMIC = 1, // rewritten by the processor often (grass, video frames)
};

// Type codes of vertex elements.
enum VertexElementType : uint32_t
{
    VERTEX_TYPE_FLOAT2 = 1,
    VERTEX_TYPE_FLOAT3 = 2,
    VERTEX_TYPE_FLOAT4 = 3,
    VERTEX_TYPE_COLOR = 4, // four bytes: a packed colour or four small integers
};

// Usage codes of vertex elements; they equal the attribute ids of mesh files.
enum VertexElementUsage : uint32_t
{
    VERTEX_USAGE_POSITION = 0,
    VERTEX_USAGE_NORMAL = 1,
    VERTEX_USAGE_VECTOR_A = 2, // further vectors for the shaders
    VERTEX_USAGE_VECTOR_B = 3,
    VERTEX_USAGE_TEXCOORD0 = 4,
    VERTEX_USAGE_BONE_WEIGHTS = 5,
    VERTEX_USAGE_BONE_INDICES = 6,
    VERTEX_USAGE_TEXCOORD1 = 7, // 7 to 13: further texture coordinate sets
    VERTEX_USAGE_TEXCOORD2 = 8,
    VERTEX_USAGE_TEXCOORD7 = 13,
    VERTEX_USAGE_COLOR = 14,
};

// One element of a vertex layout; an array of them describes a vertex, packed in array order.
struct VertexElement
{
    uint32_t stream = 0;
    uint32_t usage = 0;
    uint32_t type = 0;
};

// Bytes of a vertex element of the type, 0 for an unknown type.
constexpr uint32_t GetVertexElementSize(uint32_t type)
{
    switch (type) {
    case VERTEX_TYPE_FLOAT2:
        return 8;
    case VERTEX_TYPE_FLOAT3:
        return 12;
    case VERTEX_TYPE_FLOAT4:
        return 16;
    case VERTEX_TYPE_COLOR:
        return 4;
    default:
        return 0;
    }
}

// Index and vertex range of an indexed draw over the bound buffers: primitiveCount primitives
// whose indices start at startIndex; each index is added to baseVertex, and the indices refer
// to vertices minVertex .. minVertex + numVertices - 1 (numVertices 0: not known to the caller).
struct RenderDrawRange
{
    int32_t baseVertex = 0;
    uint32_t minVertex = 0;
    uint32_t numVertices = 0;
    uint32_t startIndex = 0;
    uint32_t primitiveCount = 0;
};

// Indices a draw of the type reads for the primitive count (0 for an unknown type or count 0).
constexpr uint64_t GetPrimitiveIndexCount(RenderPrimitiveType type, uint32_t primitiveCount)
{
    if (primitiveCount == 0)
        return 0;
    switch (type) {
    case RENDER_PRIMITIVE_TRIANGLE_LIST:
        return uint64_t(primitiveCount) * 3;
    case RENDER_PRIMITIVE_TRIANGLE_STRIP:
    case RENDER_PRIMITIVE_TRIANGLE_FAN:
        return uint64_t(primitiveCount) + 2;
    case RENDER_PRIMITIVE_LINE_LIST:
        return uint64_t(primitiveCount) * 2;
    case RENDER_PRIMITIVE_LINE_STRIP:
        return uint64_t(primitiveCount) + 1;
    case RENDER_PRIMITIVE_POINT_LIST:
        return primitiveCount;
    default:
        return 0;
    }
}

// A display mode the device offers; the library hands the list to the host unread.
struct RenderDisplayMode
{
    int32_t width = 0;
    int32_t height = 0;
    int32_t refreshRate = 0; // Hz
    RenderTextureFormat format = RENDER_FORMAT_RGB;
};

// One pixel read back from a surface: bytes red, green, blue, alpha, as images keep them.
struct Pixel
{
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    uint8_t a = 0;
};

// Weight of a text run.
enum RenderFontStyle : int32_t
{
    RENDER_FONT_NORMAL = 0,
    RENDER_FONT_BOLD = 1,
    RENDER_FONT_ITALIC = 2,
    RENDER_FONT_BOLD_ITALIC = 3,
};

// Flags of a text run (the values the fonts have always taken).
enum : uint32_t
{
    RENDER_TEXT_SINGLE_LINE = 0x20,
    RENDER_TEXT_NO_CLIP = 0x100,
    RENDER_TEXT_CALC_RECT = 0x400, // measure only, draw nothing
};

} // namespace GAME
