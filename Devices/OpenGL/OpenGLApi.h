// The GL entry points (libepoxy) and the device's translation of the engine's codes into GL. For
// the module's .cpp files only: no header of the module includes it.
#pragma once

#include "DeviceCodes.h"
#include "graphics/RenderTypes.h"

#include <epoxy/gl.h>

namespace GAME::OpenGL {

using DeviceCommon::IsDepthFormat;

inline GLenum BlendFactorToGL(RenderBlendFactor factor)
{
    switch (factor) {
    case RENDER_BLEND_ONE:
        return GL_ONE;
    case RENDER_BLEND_ZERO:
        return GL_ZERO;
    case RENDER_BLEND_SRC_COLOR:
        return GL_SRC_COLOR;
    case RENDER_BLEND_INV_SRC_COLOR:
        return GL_ONE_MINUS_SRC_COLOR;
    case RENDER_BLEND_DEST_COLOR:
        return GL_DST_COLOR;
    case RENDER_BLEND_DEST_ALPHA:
        return GL_DST_ALPHA;
    case RENDER_BLEND_SRC_ALPHA:
        return GL_SRC_ALPHA;
    case RENDER_BLEND_INV_DEST_ALPHA:
        return GL_ONE_MINUS_DST_ALPHA;
    case RENDER_BLEND_INV_SRC_ALPHA:
        return GL_ONE_MINUS_SRC_ALPHA;
    case RENDER_BLEND_INV_DEST_COLOR:
        return GL_ONE_MINUS_DST_COLOR;
    case RENDER_BLEND_SRC_ALPHA_SAT:
        return GL_SRC_ALPHA_SATURATE;
    }
    return GL_ONE;
}

inline GLenum TestFunctionToGL(RenderTestFunction function)
{
    switch (function) {
    case RENDER_TEST_NEVER:
        return GL_NEVER;
    case RENDER_TEST_LESS:
        return GL_LESS;
    case RENDER_TEST_EQUAL:
        return GL_EQUAL;
    case RENDER_TEST_LESS_EQUAL:
        return GL_LEQUAL;
    case RENDER_TEST_GREATER:
        return GL_GREATER;
    case RENDER_TEST_NOT_EQUAL:
        return GL_NOTEQUAL;
    case RENDER_TEST_GREATER_EQUAL:
        return GL_GEQUAL;
    case RENDER_TEST_ALWAYS:
        return GL_ALWAYS;
    }
    return GL_ALWAYS;
}

// The depth buffer holds depth reversed (see OpenGLDevice.h): a test that passes the nearer
// fragment passes the greater depth.
inline GLenum DepthTestFunctionToGL(RenderTestFunction function)
{
    switch (function) {
    case RENDER_TEST_LESS:
        return GL_GREATER;
    case RENDER_TEST_LESS_EQUAL:
        return GL_GEQUAL;
    case RENDER_TEST_GREATER:
        return GL_LESS;
    case RENDER_TEST_GREATER_EQUAL:
        return GL_LEQUAL;
    default:
        return TestFunctionToGL(function);
    }
}

// GL_INVALID_ENUM for a code outside the table.
inline GLenum PrimitiveToGL(RenderPrimitiveType type)
{
    switch (type) {
    case RENDER_PRIMITIVE_TRIANGLE_LIST:
        return GL_TRIANGLES;
    case RENDER_PRIMITIVE_TRIANGLE_STRIP:
        return GL_TRIANGLE_STRIP;
    case RENDER_PRIMITIVE_TRIANGLE_FAN:
        return GL_TRIANGLE_FAN;
    case RENDER_PRIMITIVE_LINE_LIST:
        return GL_LINES;
    case RENDER_PRIMITIVE_LINE_STRIP:
        return GL_LINE_STRIP;
    case RENDER_PRIMITIVE_POINT_LIST:
        return GL_POINTS;
    }
    return GL_INVALID_ENUM;
}

// The internal format of a render-target colour format; 0 for formats that are not colour.
inline GLenum ColorTargetFormatToGL(RenderTextureFormat format)
{
    switch (format) {
    case RENDER_FORMAT_RGB:
    case RENDER_FORMAT_RGBA:
    case RENDER_FORMAT_RGBA_ALT:
        return GL_RGBA8;
    case RENDER_FORMAT_DSDT:
        return GL_RG8_SNORM;
    case RENDER_FORMAT_R16F:
        return GL_R16F;
    case RENDER_FORMAT_R32F:
        return GL_R32F;
    case RENDER_FORMAT_RGB16:
        return GL_RGB565;
    default:
        return 0;
    }
}

inline GLenum DepthFormatToGL(RenderTextureFormat format)
{
    switch (format) {
    case RENDER_FORMAT_D16:
        return GL_DEPTH_COMPONENT16;
    case RENDER_FORMAT_D24:
        // Floating point (depth is reversed: see OpenGLDevice.h), with stencil, so that
        // RENDER_CLEAR_STENCIL has something to clear.
        return GL_DEPTH32F_STENCIL8;
    case RENDER_FORMAT_D32:
        return GL_DEPTH_COMPONENT32F;
    default:
        return 0;
    }
}

inline unsigned int BytesPerTexel(GLenum internalFormat)
{
    switch (internalFormat) {
    case GL_RG8_SNORM:
    case GL_R16F:
    case GL_RGB565:
    case GL_DEPTH_COMPONENT16:
        return 2;
    case GL_DEPTH32F_STENCIL8:
        return 8;
    default:
        return 4;
    }
}

} // namespace GAME::OpenGL
