// The OpenGL device's submission cost against the same draws written as raw GL calls (its natural
// limit), headless, in one run: 2,000 draw calls of 10 triangles each from one vertex and index
// buffer, with the texture, the blend mode and a few shader constants changed between draws. Each
// side's time is the submitting thread's CPU time from the first call to the end of glFinish; the
// rounds interleave the two sides and the best round of each counts.
#include "common/BenchReport.h"
#include "common/RawContext.h"

#include "graphics/RenderDevice.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderPixelShader.h"
#include "graphics/RenderSurface.h"
#include "graphics/RenderTexture.h"
#include "graphics/RenderVertexBuffer.h"
#include "graphics/RenderVertexDeclaration.h"
#include "graphics/RenderVertexShader.h"
#include "graphics/ShaderInterface.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr int kDraws = 2000;
constexpr int kTrianglesPerDraw = 10;
constexpr int kPatches = 200; // distinct 10-triangle patches in the buffers
constexpr int kTextures = 4;
constexpr int kSize = 256;
constexpr int kRounds = 15;

struct Vertex
{
    float x, y, z;
    uint32_t color;
    float u, v;
};

// Patches of ten thin triangles scattered over clip space.
void MakeGeometry(std::vector<Vertex>& vertices, std::vector<uint16_t>& indices)
{
    uint32_t seed = 12345u;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return float(seed >> 8) / float(1u << 24);
    };
    for (int p = 0; p < kPatches; ++p) {
        const float cx = next() * 1.6f - 0.8f, cy = next() * 1.6f - 0.8f;
        for (int t = 0; t < kTrianglesPerDraw; ++t) {
            const uint16_t base = uint16_t(vertices.size());
            const float a = float(t) * 0.628f;
            vertices.push_back({cx, cy, 0.5f, 0xFFFFFFFFu, 0.5f, 0.5f});
            vertices.push_back(
                {cx + 0.15f * std::cos(a), cy + 0.15f * std::sin(a), 0.5f, 0xFFFFFFFFu, 1.0f, 0.0f});
            vertices.push_back({cx + 0.15f * std::cos(a + 0.5f), cy + 0.15f * std::sin(a + 0.5f), 0.5f,
                                0xFFFFFFFFu, 0.0f, 1.0f});
            indices.push_back(base);
            indices.push_back(uint16_t(base + 1));
            indices.push_back(uint16_t(base + 2));
        }
    }
}

// The per-draw values both sides set.
void DrawValues(int i, float offset[4], float tint[4])
{
    offset[0] = 0.001f * float(i % 7);
    offset[1] = -0.001f * float(i % 5);
    offset[2] = offset[3] = 0.0f;
    tint[0] = 0.5f + 0.5f * float(i % 2);
    tint[1] = 0.75f;
    tint[2] = 0.5f + 0.25f * float(i % 3);
    tint[3] = 0.8f;
}

const char* kVertexBody = R"GLSL(
void main()
{
    gl_Position = engine_transform(0, a_position) + vc[4];
    v_color0 = a_color;
    v_tex0 = a_texCoord0;
}
)GLSL";
const char* kPixelBody = R"GLSL(
void main()
{
    o_color = texture(s0, v_tex0.xy) * v_color0 * pc[0];
}
)GLSL";

double ThreadSeconds()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// --- the device side ---

struct DeviceScene
{
    GAME::RenderDevice* device = nullptr;
    GAME::RenderSurface* primary = nullptr;
    GAME::RenderTexture* textures[kTextures] = {};
    GAME::RenderVertexBuffer* vertices = nullptr;
    GAME::RenderIndexBuffer* indices = nullptr;
    GAME::RenderVertexDeclaration* declaration = nullptr;
    GAME::RenderVertexShader* vs = nullptr;
    GAME::RenderPixelShader* ps = nullptr;

    bool Make(const std::vector<Vertex>& v, const std::vector<uint16_t>& x)
    {
        device = GAME::RenderDevice::Create("OpenGL");
        if (!device || !device->Initialize())
            return false;
        GAME::RenderDeviceSettings settings;
        settings.width = kSize;
        settings.height = kSize;
        primary = device->CreatePrimarySurface(nullptr, &settings);
        if (!primary)
            return false;
        for (int t = 0; t < kTextures; ++t) {
            std::vector<uint32_t> texels(16 * 16, 0xFF000000u | (0x3F3F3Fu << t));
            textures[t] = device->CreateTextureFromImage(16, 16, texels.data(), 0, 0);
        }
        const GAME::VertexElement elements[3] = {{0, GAME::VERTEX_USAGE_POSITION, GAME::VERTEX_TYPE_FLOAT3},
                                                 {0, GAME::VERTEX_USAGE_COLOR, GAME::VERTEX_TYPE_COLOR},
                                                 {0, GAME::VERTEX_USAGE_TEXCOORD0, GAME::VERTEX_TYPE_FLOAT2}};
        declaration = device->CreateVertexDeclaration(elements, 3);
        vertices = device->CreateVertexBuffer(0, unsigned(v.size() * sizeof(Vertex)));
        indices = device->CreateIndexBuffer(unsigned(x.size()), 2);
        vs = device->CreateVertexShader(kVertexBody, unsigned(std::strlen(kVertexBody)));
        ps = device->CreatePixelShader(kPixelBody, unsigned(std::strlen(kPixelBody)));
        if (!declaration || !vertices || !indices || !vs || !ps || !textures[kTextures - 1])
            return false;
        std::memcpy(vertices->Lock(), v.data(), v.size() * sizeof(Vertex));
        vertices->Unlock();
        std::memcpy(indices->Lock(), x.data(), x.size() * sizeof(uint16_t));
        indices->Unlock();
        return true;
    }

    void Frame()
    {
        device->BeginFrame();
        device->SetClearColor(GAME::Color(0.0f, 0.0f, 0.0f, 1.0f));
        device->Clear(GAME::RENDER_CLEAR_COLOR | GAME::RENDER_CLEAR_DEPTH);
        device->SetDepthTestFunction(GAME::RENDER_TEST_ALWAYS);
        device->SetVertexShader(vs);
        device->SetPixelShader(ps);
        device->SetVertexDeclaration(declaration);
        device->SetStreamSource(0, vertices, 0, sizeof(Vertex));
        device->SetIndices(indices);
        device->SetVertexShaderConstants(0, kIdentity, 4);
        GAME::RenderDrawRange range;
        range.numVertices = kPatches * kTrianglesPerDraw * 3;
        range.primitiveCount = kTrianglesPerDraw;
        float offset[4], tint[4];
        for (int i = 0; i < kDraws; ++i) {
            DrawValues(i, offset, tint);
            device->SetTexture(0, textures[i % kTextures]);
            device->SetSourceBlend(i % 2 ? GAME::RENDER_BLEND_ONE : GAME::RENDER_BLEND_SRC_ALPHA);
            device->SetDestinationBlend(i % 2 ? GAME::RENDER_BLEND_ONE : GAME::RENDER_BLEND_INV_SRC_ALPHA);
            device->SetVertexShaderConstants(4, offset, 1);
            device->SetPixelShaderConstants(0, tint, 1);
            range.startIndex = unsigned(i % kPatches) * kTrianglesPerDraw * 3;
            device->DrawIndexedPrimitive(GAME::RENDER_PRIMITIVE_TRIANGLE_LIST, range);
        }
        device->EndFrame();
        glFinish(); // the device's context is current on this thread
    }

    void Release()
    {
        if (!device)
            return;
        for (GAME::RenderTexture*& texture : textures)
            if (texture)
                device->DestroyTexture(&texture);
        if (vertices)
            device->DestroyVertexBuffer(&vertices);
        if (indices)
            device->DestroyIndexBuffer(&indices);
        if (declaration)
            device->DestroyVertexDeclaration(&declaration);
        if (vs)
            device->DestroyVertexShader(&vs);
        if (ps)
            device->DestroyPixelShader(&ps);
        if (primary)
            device->DestroySurface(&primary);
        GAME::RenderDevice::Destroy(device);
    }
};

// --- the raw GL side: a context of its own, the same draws ---

GLuint Compile(GLenum stage, const std::string& text)
{
    return CompileRawShader(stage, text.c_str(), "bench_device: raw shader");
}

struct RawScene
{
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    GLuint framebuffer = 0, color = 0, depth = 0, program = 0, vao = 0, vbo = 0, ibo = 0;
    GLuint textures[kTextures] = {};
    GLint offsetLocation = -1, tintLocation = -1;

    bool Make(const std::vector<Vertex>& v, const std::vector<uint16_t>& x)
    {
        context = OpenRawContext(display);
        if (context == EGL_NO_CONTEXT || !MakeCurrent())
            return false;
        glCreateTextures(GL_TEXTURE_2D, 1, &color);
        glTextureStorage2D(color, 1, GL_RGBA8, kSize, kSize);
        glCreateTextures(GL_TEXTURE_2D, 1, &depth);
        glTextureStorage2D(depth, 1, GL_DEPTH24_STENCIL8, kSize, kSize);
        glCreateFramebuffers(1, &framebuffer);
        glNamedFramebufferTexture(framebuffer, GL_COLOR_ATTACHMENT0, color, 0);
        glNamedFramebufferTexture(framebuffer, GL_DEPTH_STENCIL_ATTACHMENT, depth, 0);
        glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);

        const std::string vertex = std::string("#version 450 core\n") + R"GLSL(
layout(location = 0) in vec4 a_position;
layout(location = 4) in vec4 a_texCoord0;
layout(location = 14) in vec4 a_color;
uniform vec4 vc[5];
out vec4 v_color0;
out vec4 v_tex0;
void main()
{
    gl_Position = vec4(dot(vc[0], a_position), dot(vc[1], a_position), dot(vc[2], a_position),
                       dot(vc[3], a_position)) + vc[4];
    v_color0 = a_color;
    v_tex0 = a_texCoord0;
}
)GLSL";
        const std::string pixel = std::string("#version 450 core\n") + R"GLSL(
in vec4 v_color0;
in vec4 v_tex0;
uniform vec4 pc[1];
layout(binding = 0) uniform sampler2D s0;
layout(location = 0) out vec4 o_color;
void main()
{
    o_color = texture(s0, v_tex0.xy) * v_color0 * pc[0];
}
)GLSL";
        program = glCreateProgram();
        const GLuint vs = Compile(GL_VERTEX_SHADER, vertex), fs = Compile(GL_FRAGMENT_SHADER, pixel);
        glAttachShader(program, vs);
        glAttachShader(program, fs);
        glLinkProgram(program);
        glDeleteShader(vs);
        glDeleteShader(fs);
        GLint linked = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        if (!linked)
            return false;
        offsetLocation = glGetUniformLocation(program, "vc[4]");
        tintLocation = glGetUniformLocation(program, "pc[0]");

        for (int t = 0; t < kTextures; ++t) {
            std::vector<uint32_t> texels(16 * 16, 0xFF000000u | (0x3F3F3Fu << t));
            glCreateTextures(GL_TEXTURE_2D, 1, &textures[t]);
            glTextureStorage2D(textures[t], 5, GL_RGBA8, 16, 16);
            glTextureSubImage2D(textures[t], 0, 0, 0, 16, 16, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
            glGenerateTextureMipmap(textures[t]);
            glTextureParameteri(textures[t], GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        }
        glCreateBuffers(1, &vbo);
        glNamedBufferData(vbo, GLsizeiptr(v.size() * sizeof(Vertex)), v.data(), GL_STATIC_DRAW);
        glCreateBuffers(1, &ibo);
        glNamedBufferData(ibo, GLsizeiptr(x.size() * sizeof(uint16_t)), x.data(), GL_STATIC_DRAW);
        glCreateVertexArrays(1, &vao);
        glEnableVertexArrayAttrib(vao, 0);
        glVertexArrayAttribFormat(vao, 0, 3, GL_FLOAT, GL_FALSE, 0);
        glVertexArrayAttribBinding(vao, 0, 0);
        glEnableVertexArrayAttrib(vao, 14);
        glVertexArrayAttribFormat(vao, 14, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 12);
        glVertexArrayAttribBinding(vao, 14, 0);
        glEnableVertexArrayAttrib(vao, 4);
        glVertexArrayAttribFormat(vao, 4, 2, GL_FLOAT, GL_FALSE, 16);
        glVertexArrayAttribBinding(vao, 4, 0);
        glVertexArrayVertexBuffer(vao, 0, vbo, 0, sizeof(Vertex));
        glVertexArrayElementBuffer(vao, ibo);
        return glGetError() == GL_NO_ERROR;
    }

    bool MakeCurrent()
    {
        return eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) == EGL_TRUE;
    }

    void Frame()
    {
        MakeCurrent();
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glViewport(0, 0, kSize, kSize);
        const float black[4] = {0, 0, 0, 1};
        glClearBufferfv(GL_COLOR, 0, black);
        glClearBufferfi(GL_DEPTH_STENCIL, 0, 1.0f, 0);
        glDisable(GL_DEPTH_TEST);
        glEnable(GL_BLEND);
        glUseProgram(program);
        glBindVertexArray(vao);
        glUniform4fv(glGetUniformLocation(program, "vc[0]"), 4, kIdentity);
        float offset[4], tint[4];
        for (int i = 0; i < kDraws; ++i) {
            DrawValues(i, offset, tint);
            glBindTextureUnit(0, textures[i % kTextures]);
            if (i % 2)
                glBlendFunc(GL_ONE, GL_ONE);
            else
                glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            glUniform4fv(offsetLocation, 1, offset);
            glUniform4fv(tintLocation, 1, tint);
            const uintptr_t first = uintptr_t(i % kPatches) * kTrianglesPerDraw * 3 * sizeof(uint16_t);
            glDrawElements(GL_TRIANGLES, kTrianglesPerDraw * 3, GL_UNSIGNED_SHORT,
                           reinterpret_cast<void*>(first));
        }
        glFinish();
    }

    void Release()
    {
        if (context == EGL_NO_CONTEXT)
            return;
        MakeCurrent();
        glDeleteTextures(kTextures, textures);
        glDeleteTextures(1, &color);
        glDeleteTextures(1, &depth);
        glDeleteFramebuffers(1, &framebuffer);
        glDeleteBuffers(1, &vbo);
        glDeleteBuffers(1, &ibo);
        glDeleteVertexArrays(1, &vao);
        glDeleteProgram(program);
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display, context);
    }
};

} // namespace

const char* const kHelp = R"(bench_device: the OpenGL render device's cost of submitting draws.

Measures, on the OpenGL device (OpenGL.so, headless through EGL; llvmpipe where there is no GPU):
2,000 draw calls of 10 triangles each from one vertex and index buffer, with the texture, the
blend mode and a few shader constants changed between draws; the time is the submitting thread's
CPU time up to the end of glFinish, best of 15 interleaved rounds.
Reference, in the same run: the same draws written as raw OpenGL calls in a context of their own
(both must draw the same picture).

Figures (last lines of the output):
  ratio device_submit_vs_raw_gl   device time / raw GL time; lower is better, 1 is raw GL's cost
  value device_draws_per_ms       draws the device submits a millisecond; higher is better
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    std::vector<Vertex> vertices;
    std::vector<uint16_t> indices;
    MakeGeometry(vertices, indices);

    DeviceScene device;
    RawScene raw;
    if (!device.Make(vertices, indices)) {
        std::fprintf(stderr, "bench_device: the OpenGL device cannot be made headless\n");
        return 1;
    }
    if (!raw.Make(vertices, indices)) {
        std::fprintf(stderr, "bench_device: no raw OpenGL 4.5 context\n");
        return 1;
    }

    // Both sides draw the same picture before either is timed.
    device.Frame();
    std::vector<GAME::Pixel> fromDevice(size_t(kSize) * kSize);
    device.device->ReadFrameBuffer(fromDevice.data(), kSize, kSize);
    raw.Frame();
    std::vector<GAME::Pixel> fromRaw(size_t(kSize) * kSize);
    glReadPixels(0, 0, kSize, kSize, GL_RGBA, GL_UNSIGNED_BYTE, fromRaw.data());
    int differing = 0;
    for (size_t i = 0; i < fromRaw.size(); ++i)
        differing += std::abs(fromRaw[i].r - fromDevice[i].r) + std::abs(fromRaw[i].g - fromDevice[i].g) +
                         std::abs(fromRaw[i].b - fromDevice[i].b) >
                     6;
    if (differing > int(fromRaw.size() / 100)) {
        std::fprintf(stderr, "bench_device: the device and raw GL draw different pictures (%d pixels)\n",
                     differing);
        return 1;
    }

    double best[2] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
    for (int round = 0; round < kRounds; ++round) {
        double start = ThreadSeconds();
        device.Frame();
        best[0] = std::min(best[0], ThreadSeconds() - start);
        start = ThreadSeconds();
        raw.Frame();
        best[1] = std::min(best[1], ThreadSeconds() - start);
    }
    std::printf("device: %.3f ms for %d draws, raw GL: %.3f ms (%d of %d pixels differ)\n", best[0] * 1e3,
                kDraws, best[1] * 1e3, differing, int(fromRaw.size()));
    raw.Release();
    device.Release();

    BenchReport report;
    report.Ratio("device_submit_vs_raw_gl", best[0] / best[1]);
    report.Value("device_draws_per_ms", double(kDraws) / (best[0] * 1e3), "draws/ms");
    report.Print();
    return 0;
}
