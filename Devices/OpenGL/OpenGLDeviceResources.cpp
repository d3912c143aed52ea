// Creation and destruction of the device's buffers, declarations, programs, textures and fonts.
// Any thread: GL work off the main thread runs on a worker context (ContextScope), under the GL
// lock call by call, with the processor's part (decoding, expanding, mip levels) outside it.
#include "OpenGLDevice.h"

#include <type_traits>

#include "DdsImage.h"
#include "DeviceLog.h"
#include "OpenGLApi.h"
#include "OpenGLFont.h"
#include "OpenGLPrograms.h"
#include "TextureChain.h"

#include <algorithm>
#include <cstring>

namespace GAME::OpenGL {

using DeviceCommon::DeviceLogPrintf;

namespace {

void ClearErrors()
{
    while (glGetError() != GL_NO_ERROR) {
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Buffers and declarations

template <class Buffer, class Interface, class... Sizes>
Interface* OpenGLDevice::CreateBuffer(ResourceKind kind, unsigned int bytes, uint32_t usage, const char* what,
                                      Sizes... sizes)
{
    ContextScope scope(*this);
    if (!scope.IsReady())
        return nullptr;
    GLuint name = 0;
    {
        const GLWork work(*this);
        ClearErrors();
        glCreateBuffers(1, &name);
        glNamedBufferData(name, bytes, nullptr, usage);
        if (glGetError() != GL_NO_ERROR) {
            glDeleteBuffers(1, &name);
            DeviceLogPrintf(1, "OpenGL device: no memory for %s of %u bytes", what, bytes);
            return nullptr;
        }
    }
    auto* buffer = new Buffer(*this, name, GetEpoch(), sizes...);
    if constexpr (std::is_same_v<Buffer, OpenGLVertexBuffer> || std::is_same_v<Buffer, OpenGLIndexBuffer>)
        FenceWorkerWrites(buffer->GetStore().GetFence());
    Register(static_cast<const Interface*>(buffer), kind, bytes);
    return buffer;
}

RenderVertexBuffer* OpenGLDevice::CreateVertexBuffer(unsigned int usage, unsigned int size)
{
    if (size == 0) {
        DeviceLogPrintf(1, "OpenGL device: CreateVertexBuffer(%u, 0) refused", usage);
        return nullptr;
    }
    return CreateBuffer<OpenGLVertexBuffer, RenderVertexBuffer>(
        ResourceKind::VertexBuffer, size, (usage & RENDER_USAGE_DYNAMIC) ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW,
        "a vertex buffer", size);
}

void OpenGLDevice::DestroyVertexBuffer(RenderVertexBuffer** buffer)
{
    DestroyHeld(buffer, ResourceKind::VertexBuffer, "DestroyVertexBuffer");
}

RenderIndexBuffer* OpenGLDevice::CreateIndexBuffer(unsigned int numIndices, unsigned int bytesPerIndex)
{
    if (numIndices == 0 || (bytesPerIndex != 2 && bytesPerIndex != 4) ||
        numIndices > 0xFFFFFFFFu / bytesPerIndex) {
        DeviceLogPrintf(1, "OpenGL device: CreateIndexBuffer(%u, %u) refused", numIndices, bytesPerIndex);
        return nullptr;
    }
    return CreateBuffer<OpenGLIndexBuffer, RenderIndexBuffer>(ResourceKind::IndexBuffer,
                                                              numIndices * bytesPerIndex, GL_STATIC_DRAW,
                                                              "an index buffer", numIndices, bytesPerIndex);
}

void OpenGLDevice::DestroyIndexBuffer(RenderIndexBuffer** buffer)
{
    DestroyHeld(buffer, ResourceKind::IndexBuffer, "DestroyIndexBuffer");
}

RenderDynamicVertexBuffer* OpenGLDevice::CreateDynamicVertexBuffer(unsigned int size)
{
    if (size == 0 || m_lost) {
        DeviceLogPrintf(1, "OpenGL device: CreateDynamicVertexBuffer(%u) refused%s", size,
                        m_lost ? " (the context is lost)" : "");
        return nullptr;
    }
    return CreateBuffer<OpenGLDynamicVertexBuffer, RenderDynamicVertexBuffer>(
        ResourceKind::DynamicVertexBuffer, size, GL_STREAM_DRAW, "a dynamic vertex buffer", size);
}

void OpenGLDevice::DestroyDynamicVertexBuffer(RenderDynamicVertexBuffer** buffer)
{
    DestroyHeld(buffer, ResourceKind::DynamicVertexBuffer, "DestroyDynamicVertexBuffer");
}

RenderDynamicIndexBuffer* OpenGLDevice::CreateDynamicIndexBuffer(unsigned int size)
{
    if (size < 4 || m_lost) {
        DeviceLogPrintf(1, "OpenGL device: CreateDynamicIndexBuffer(%u) refused%s", size,
                        m_lost ? " (the context is lost)" : "");
        return nullptr;
    }
    return CreateBuffer<OpenGLDynamicIndexBuffer, RenderDynamicIndexBuffer>(
        ResourceKind::DynamicIndexBuffer, size / 4 * 4, GL_STREAM_DRAW, "a dynamic index buffer", size);
}

void OpenGLDevice::DestroyDynamicIndexBuffer(RenderDynamicIndexBuffer** buffer)
{
    DestroyHeld(buffer, ResourceKind::DynamicIndexBuffer, "DestroyDynamicIndexBuffer");
}

RenderVertexDeclaration* OpenGLDevice::CreateVertexDeclaration(const VertexElement* elements, int count)
{
    if (!OpenGLVertexDeclaration::IsValid(elements, count)) {
        DeviceLogPrintf(1, "OpenGL device: CreateVertexDeclaration of %d elements refused", count);
        return nullptr;
    }
    auto* declaration = new OpenGLVertexDeclaration(elements, count);
    Register(static_cast<const RenderVertexDeclaration*>(declaration), ResourceKind::VertexDeclaration, 0);
    return declaration;
}

void OpenGLDevice::DestroyVertexDeclaration(RenderVertexDeclaration** declaration)
{
    DestroyHeld(declaration, ResourceKind::VertexDeclaration, "DestroyVertexDeclaration");
}

// ---------------------------------------------------------------------------------------------
// Programs

template <class Program>
Program* OpenGLDevice::CreateProgram(const void* code, unsigned int size, bool vertex, ResourceKind kind,
                                     const char* operation)
{
    if (!code || size == 0) {
        DeviceLogPrintf(1, "OpenGL device: %s without code refused", operation);
        return nullptr;
    }
    ContextScope scope(*this);
    if (!scope.IsReady())
        return nullptr;
    ProgramObject object, untested;
    std::string log;
    const std::string_view blob(static_cast<const char*>(code), size);
    bool compiled = false;
    {
        const GLWork work(*this);
        compiled = vertex ? CompileProgram(blob, true, GetEpoch(), object, log)
                          : CompilePixelProgram(blob, GetEpoch(), object, untested, log);
    }
    if (!compiled) {
        DeviceLogPrintf(1, "OpenGL device: %s: the program does not compile:\n%s", operation, log.c_str());
        return nullptr;
    }
    Program* program = nullptr;
    if constexpr (std::is_same_v<Program, OpenGLPixelProgram>)
        program = new Program(object, untested);
    else
        program = new Program(object);
    FenceWorkerWrites(program->fence);
    Register(static_cast<const typename Program::Interface*>(program), kind, 0);
    return program;
}

RenderVertexShader* OpenGLDevice::CreateVertexShader(const void* code, unsigned int size)
{
    return CreateProgram<OpenGLVertexProgram>(code, size, true, ResourceKind::VertexProgram,
                                              "CreateVertexShader");
}

void OpenGLDevice::DestroyVertexShader(RenderVertexShader** shader)
{
    DestroyHeld(shader, ResourceKind::VertexProgram, "DestroyVertexShader");
}

RenderPixelShader* OpenGLDevice::CreatePixelShader(const void* code, unsigned int size)
{
    return CreateProgram<OpenGLPixelProgram>(code, size, false, ResourceKind::PixelProgram,
                                             "CreatePixelShader");
}

void OpenGLDevice::DestroyPixelShader(RenderPixelShader** shader)
{
    DestroyHeld(shader, ResourceKind::PixelProgram, "DestroyPixelShader");
}

// ---------------------------------------------------------------------------------------------
// Textures

OpenGLTexture* OpenGLDevice::MakeColorTexture(int width, int height, const void* texels, int levelCount,
                                              bool dynamic, const char* operation)
{
    SetTextureRetryable(false);
    // The capabilities are read under the scope: a lost context is rebuilt with every worker out.
    ContextScope scope(*this);
    if (!scope.IsReady())
        return nullptr;
    if (width <= 0 || height <= 0 || width > m_maxTextureSize || height > m_maxTextureSize) {
        DeviceLogPrintf(1, "OpenGL device: %s(%d, %d) refused: the size is outside 1 to %d", operation, width,
                        height, m_maxTextureSize);
        return nullptr;
    }
    const int levels = DeviceCommon::ChainLevels(width, height, levelCount);
    const uint64_t bytes = DeviceCommon::ChainBytes(width, height, levels);
    if (!m_memoryInfo && m_resourceBytes.load(std::memory_order_relaxed) + bytes > m_totalVideoMemory) {
        SetTextureRetryable(true);
        DeviceLogPrintf(1, "OpenGL device: %s(%d, %d): out of video memory", operation, width, height);
        return nullptr;
    }
    GLuint name = 0;
    auto refuse = [&]() -> OpenGLTexture* {
        const GLWork work(*this);
        glDeleteTextures(1, &name);
        m_glLock.EndUploads();
        SetTextureRetryable(true);
        DeviceLogPrintf(1, "OpenGL device: %s(%d, %d): the driver has no memory for it", operation, width,
                        height);
        return nullptr;
    };
    {
        const GLWork work(*this);
        ClearErrors();
        glCreateTextures(GL_TEXTURE_2D, 1, &name);
        glTextureStorage2D(name, levels, GL_RGBA8, width, height);
        glTextureParameteri(name, GL_TEXTURE_MAX_LEVEL, levels - 1);
        if (glGetError() != GL_NO_ERROR)
            return refuse();
    }
    UploadColorChain(name, width, height, levels, static_cast<const uint32_t*>(texels));
    {
        const GLWork work(*this);
        if (glGetError() != GL_NO_ERROR)
            return refuse();
    }
    auto* texture = new OpenGLTexture(*this, name, GetEpoch(), TextureKind::Color, RENDER_FORMAT_RGBA, width,
                                      height, levels, bytes, dynamic);
    FenceWorkerWrites(texture->GetFence());
    Register(static_cast<const RenderTexture*>(texture), ResourceKind::Texture, bytes);
    return texture;
}

RenderTexture* OpenGLDevice::CreateTextureFromFile(const void* data, unsigned int size, int reduction)
{
    SetTextureRetryable(false);
    DeviceCommon::DdsLayout layout;
    if (DeviceCommon::ReadDdsLayout(static_cast<const uint8_t*>(data), size, reduction, layout) !=
        DeviceCommon::DdsResult::Ok) {
        DeviceLogPrintf(
            1, "OpenGL device: CreateTextureFromFile: %u bytes are no DDS image this device reads", size);
        return nullptr;
    }
    ContextScope scope(*this);
    if (!scope.IsReady())
        return nullptr;
    const DeviceCommon::DdsLevel& top = layout.levels.front();
    if (top.width > m_maxTextureSize || top.height > m_maxTextureSize) {
        DeviceLogPrintf(1, "OpenGL device: CreateTextureFromFile: %d x %d is larger than the device's %d",
                        top.width, top.height, m_maxTextureSize);
        return nullptr;
    }
    const bool compressed = layout.format != DeviceCommon::DdsFormat::Masked && m_hasS3tc;
    const int levels = int(layout.levels.size());
    uint64_t bytes = 0;
    for (const DeviceCommon::DdsLevel& level : layout.levels)
        bytes += compressed ? level.bytes : uint64_t(level.width) * uint64_t(level.height) * 4;
    if (!m_memoryInfo && m_resourceBytes.load(std::memory_order_relaxed) + bytes > m_totalVideoMemory) {
        SetTextureRetryable(true);
        DeviceLogPrintf(1, "OpenGL device: CreateTextureFromFile: out of video memory for %llu bytes",
                        static_cast<unsigned long long>(bytes));
        return nullptr;
    }
    GLenum internal = GL_RGBA8;
    if (compressed)
        internal = layout.format == DeviceCommon::DdsFormat::Dxt1   ? GL_COMPRESSED_RGBA_S3TC_DXT1_EXT
                   : layout.format == DeviceCommon::DdsFormat::Dxt3 ? GL_COMPRESSED_RGBA_S3TC_DXT3_EXT
                                                                    : GL_COMPRESSED_RGBA_S3TC_DXT5_EXT;
    GLuint name = 0;
    auto refuse = [&]() -> RenderTexture* {
        const GLWork work(*this);
        glDeleteTextures(1, &name);
        m_glLock.EndUploads();
        SetTextureRetryable(true);
        DeviceLogPrintf(1, "OpenGL device: CreateTextureFromFile: the driver refused a %d x %d texture",
                        top.width, top.height);
        return nullptr;
    };
    {
        const GLWork work(*this);
        ClearErrors();
        glCreateTextures(GL_TEXTURE_2D, 1, &name);
        glTextureStorage2D(name, levels, internal, top.width, top.height);
        glTextureParameteri(name, GL_TEXTURE_MAX_LEVEL, levels - 1);
        if (glGetError() != GL_NO_ERROR)
            return refuse();
    }
    std::vector<uint32_t> texels;
    for (int i = 0; i < levels; ++i) {
        const DeviceCommon::DdsLevel& level = layout.levels[size_t(i)];
        if (compressed) {
            UploadBlocks(name, i, level.width, level.height, internal, level.data, level.bytes);
        } else {
            // Uncompressed channel layouts, and blocks on a driver without S3TC, decode here,
            // outside the lock.
            DeviceCommon::DecodeDdsLevel(layout, level, texels);
            UploadTexels(name, i, level.width, level.height, texels.data());
        }
    }
    {
        const GLWork work(*this);
        if (glGetError() != GL_NO_ERROR)
            return refuse();
    }
    auto* texture =
        new OpenGLTexture(*this, name, GetEpoch(), compressed ? TextureKind::Compressed : TextureKind::Color,
                          layout.hasAlpha ? RENDER_FORMAT_RGBA : RENDER_FORMAT_RGB, top.width, top.height,
                          levels, bytes, false);
    FenceWorkerWrites(texture->GetFence());
    Register(static_cast<const RenderTexture*>(texture), ResourceKind::Texture, bytes);
    return texture;
}

RenderTexture* OpenGLDevice::CreateTexture(int width, int height, const void* texels, int levelCount,
                                           unsigned int usage)
{
    if (width <= 0 || height <= 0 || width > m_maxTextureSize || height > m_maxTextureSize) {
        DeviceLogPrintf(1, "OpenGL device: CreateTexture(%d, %d) refused", width, height);
        return nullptr;
    }
    const std::vector<uint32_t> expanded =
        texels ? DeviceCommon::ExpandIntensity(static_cast<const uint8_t*>(texels),
                                               size_t(width) * size_t(height))
               : std::vector<uint32_t>();
    return MakeColorTexture(width, height, texels ? expanded.data() : nullptr, levelCount,
                            (usage & RENDER_USAGE_DYNAMIC) != 0, "CreateTexture");
}

RenderTexture* OpenGLDevice::CreateTextureFromImage(int width, int height, const void* pixels, int levelCount,
                                                    unsigned int usage)
{
    if (!pixels) {
        DeviceLogPrintf(1, "OpenGL device: CreateTextureFromImage(%d, %d) without pixels refused", width,
                        height);
        return nullptr;
    }
    // Bytes blue, green, red, alpha are the packed texels as they lie in memory.
    return MakeColorTexture(width, height, pixels, levelCount, (usage & RENDER_USAGE_DYNAMIC) != 0,
                            "CreateTextureFromImage");
}

RenderTexture* OpenGLDevice::CreateDynamicTexture(int width, int height, int levelCount, unsigned int)
{
    return MakeColorTexture(width, height, nullptr, levelCount, true, "CreateDynamicTexture");
}

void OpenGLDevice::DestroyTexture(RenderTexture** texture)
{
    DestroyHeld(texture, ResourceKind::Texture, "DestroyTexture");
}

// ---------------------------------------------------------------------------------------------
// Fonts

RenderFont* OpenGLDevice::CreateFont(const char* name, const void* data, unsigned int size)
{
    if (!name || (!data && size)) {
        DeviceLogPrintf(1, "OpenGL device: CreateFont without a name refused");
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(m_fontLibraryLock);
        if (!m_fontLibrary && !(m_fontLibrary = OpenFontLibrary()))
            return nullptr;
    }
    OpenGLFont* font = OpenGLFont::Create(*this, name, data, size);
    if (!font)
        return nullptr;
    Register(static_cast<const RenderFont*>(font), ResourceKind::Font, 0);
    return font;
}

void OpenGLDevice::DestroyFont(RenderFont** font)
{
    DestroyHeld(font, ResourceKind::Font, "DestroyFont");
}

} // namespace GAME::OpenGL
