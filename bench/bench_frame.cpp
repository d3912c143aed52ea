// The drawn frame: the sample host's flight over the OpenGL device against the frame this machine
// can draw at best. Headless (EGL surfaceless; llvmpipe where there is no GPU), 1024 x 768.
//
// The library's side is the sample host's frame with its default options: the generated 6 x 6
// world, the host's game data (lake reflections at "high"), the world's air (its fog, and the sky
// in the fog's colour), its props and view (the portal renderer with the transparency manager),
// and no statistics on the screen (the host shows them when asked: --stats, F3); 300 frames
// spread over the whole camera path, the world streaming as in the host (the regions of the first
// view loaded before the flight).
//
// The floor is a raw OpenGL program in a context of its own on the same display, drawing for the
// same 300 cameras what the frame shows the cheap way: a clear to the sky's colour, the visible
// regions' ground with all its layers blended in one shader (one draw a region), the grass blades
// of the blocks near the camera only (instanced quads), and every prop as one instanced draw, each
// program mixing in the world's fog itself. The two take turns in blocks of 50 frames (each block
// waits for its device to finish), so that both meet the same load of a shared machine.
//
// Figures: frame mean and p90 (wall time from the engine's update to the present), frames a
// second, the main thread's CPU time a frame and every thread's (the rasteriser's work too),
// draws, triangles and render-target switches a frame, the threads of the device and of its
// rasteriser, and the ratios of the library's mean frame and of its CPU time to the floor's. The
// machine's load average is printed before and after.
#include "common/BenchEngine.h"
#include "common/BenchReport.h"
#include "common/RawContext.h"

#include "FlightCamera.h"
#include "HostView.h"

#include "core/Log.h"
#include "core/ObjectManager.h"
#include "core/WorldFrustum.h"
#include "data/FileSystem.h"
#include "datakit/SampleGameData.h"
#include "datakit/WorldGenerator.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/RenderDevice.h"
#include "platform/Threading.h"
#include "scene/Camera.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainType.h"
#include "world/Engine.h"
#include "world/Entity.h"
#include "world/FogSectorData.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/RegionLoader.h"
#include "world/Tracker.h"
#include "world/World.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using DataKit::WorldGenerator;

constexpr int kFrames = 300;
constexpr int kWidth = GAME::GraphicsEngine::defaultWidth;
constexpr int kHeight = GAME::GraphicsEngine::defaultHeight;
// The floor draws grass only this near the camera (the blades farther away are too thin to pass
// the alpha test).
constexpr float kNearGrass = 40.0f;

const char* const kHelp =
    "bench_frame: the drawn frame of the sample host's flight over the OpenGL device (headless, EGL\n"
    "surfaceless: Mesa's llvmpipe on a machine without a GPU), 1024 x 768, with the host's default\n"
    "options: 300 frames spread over the camera path of the generated world, the world streaming as\n"
    "in the host.\n"
    "\n"
    "Reference (the floor): a raw OpenGL program on the same display, drawing for the same 300\n"
    "cameras what the frame shows the cheap way (a clear to the sky's colour, the ground's layers in\n"
    "one shader, the grass of the blocks near the camera only, the props instanced, each with the\n"
    "world's fog worked out in the same shader), in blocks of 50 frames taking turns with the\n"
    "library's.\n"
    "\n"
    "Figures (lower is better unless said otherwise):\n"
    "  value frame_mean_ms, frame_p90_ms      the library's frame, engine update to present\n"
    "  value frames_per_second                1000 / frame_mean_ms (higher is better)\n"
    "  value main_thread_ms                   the main thread's CPU time a frame\n"
    "  value frame_cpu_ms                     the CPU time of every thread a frame (main thread and\n"
    "                                         rasteriser): the work, less moved by a busy machine\n"
    "  value draws_per_frame, triangles_per_frame, target_switches_per_frame\n"
    "  value floor_frame_mean_ms              the floor's frame\n"
    "  value floor_frame_cpu_ms               the CPU time of the floor's frame\n"
    "  value device_threads                   the driver's threads in the process (informative)\n"
    "  value rasteriser_threads               llvmpipe's rasteriser threads (more spreads the pixels)\n"
    "  value rasteriser_processors            processors the rasteriser threads may use, fewest of them\n"
    "                                         (higher is better; 1 means every pixel on one core)\n"
    "  ratio frame_cpu_vs_floor               frame_cpu_ms / floor_frame_cpu_ms\n"
    "  ratio frame_vs_floor                   frame_mean_ms / floor_frame_mean_ms\n"
    "The machine's load average is printed before and after: on a shared machine the absolute times\n"
    "move with it, the ratio much less.\n";

double CpuMilliseconds(clockid_t clock)
{
    timespec now;
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) * 1e-6;
}

// The calling thread's processor time, and the whole process's (every thread: the rasteriser's too).
double ThreadMilliseconds()
{
    return CpuMilliseconds(CLOCK_THREAD_CPUTIME_ID);
}
double ProcessMilliseconds()
{
    return CpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID);
}

double Milliseconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(fraction * double(values.size())))];
}

double Mean(const std::vector<double>& values)
{
    double sum = 0.0;
    for (double v : values)
        sum += v;
    return values.empty() ? 0.0 : sum / double(values.size());
}

std::string LoadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string a, b, c;
    file >> a >> b >> c;
    return a + " " + b + " " + c;
}

// The driver's threads (llvmpipe's rasteriser threads and its other helpers) and the fewest
// processors a rasteriser thread may use.
struct DeviceThreads
{
    int device = 0;
    int rasteriser = 0;
    int fewestProcessors = 0;
};

int CountProcessors(const std::string& list)
{
    int count = 0;
    size_t at = 0;
    while (at < list.size()) {
        const size_t comma = list.find(',', at);
        const std::string part = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        const size_t dash = part.find('-');
        count += dash == std::string::npos ? 1 : std::stoi(part.substr(dash + 1)) - std::stoi(part) + 1;
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    return count;
}

DeviceThreads CountDeviceThreads()
{
    DeviceThreads threads;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::string name;
        std::ifstream(entry.path() / "comm") >> name;
        const bool rasteriser = name.rfind("llvmpipe", 0) == 0;
        if (rasteriser || name.find("disk$") != std::string::npos || name.rfind("gallium", 0) == 0)
            ++threads.device;
        if (!rasteriser)
            continue;
        ++threads.rasteriser;
        std::ifstream status(entry.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("Cpus_allowed_list:", 0) == 0) {
                const int count = CountProcessors(line.substr(line.find_first_not_of(" \t", 18)));
                threads.fewestProcessors =
                    threads.fewestProcessors == 0 ? count : std::min(threads.fewestProcessors, count);
            }
    }
    return threads;
}

// ---- The floor ---------------------------------------------------------------------------------

struct Mat
{
    float m[16] = {}; // column-major, as GL takes it
};

// The view of one frame in world space: the region camera moved by its region's offset.
struct FrameCamera
{
    GAME::Vec3 origin, x, y, z;
    float fov = 1.0f, nearPlane = 0.5f, farPlane = 90.0f;
};

// The engine's projection (x mirrored, depth 0 at the near plane and 1 at the far plane).
Mat ViewProjection(const FrameCamera& c)
{
    const float t = std::tan(c.fov * 0.5f), a = float(kWidth) / float(kHeight);
    const float q = c.farPlane / (c.farPlane - c.nearPlane);
    auto row = [&](const GAME::Vec3& axis) {
        return std::array<float, 4>{axis.x, axis.y, axis.z, -GAME::Vec3::Dot(axis, c.origin)};
    };
    const auto rx = row(c.x), ry = row(c.y), rz = row(c.z);
    float p[4][4];
    for (int i = 0; i < 4; ++i) {
        p[0][i] = -rx[size_t(i)] / (t * a);
        p[1][i] = ry[size_t(i)] / t;
        p[2][i] = q * rz[size_t(i)] - (i == 3 ? q * c.nearPlane : 0.0f);
        p[3][i] = rz[size_t(i)];
    }
    Mat out;
    for (int r = 0; r < 4; ++r)
        for (int col = 0; col < 4; ++col)
            out.m[col * 4 + r] = p[r][col];
    return out;
}

bool BoxOutside(const Mat& vp, const GAME::Vec3& lo, const GAME::Vec3& hi)
{
    // Outside when all eight corners lie beyond one clip plane.
    const float* m = vp.m;
    for (int plane = 0; plane < 5; ++plane) {
        bool allOut = true;
        for (int corner = 0; corner < 8 && allOut; ++corner) {
            const float px = (corner & 1) ? hi.x : lo.x, py = (corner & 2) ? hi.y : lo.y,
                        pz = (corner & 4) ? hi.z : lo.z;
            float clip[4];
            for (int r = 0; r < 4; ++r)
                clip[r] = m[r] * px + m[4 + r] * py + m[8 + r] * pz + m[12 + r];
            const float w = clip[3];
            const float v = plane == 0   ? w + clip[0]
                            : plane == 1 ? w - clip[0]
                            : plane == 2 ? w + clip[1]
                            : plane == 3 ? w - clip[1]
                                         : clip[2];
            allOut = v < 0.0f;
        }
        if (allOut)
            return true;
    }
    return false;
}

struct GroundVertex
{
    float x, y, z;
    float nx, ny, nz;
    float w[4]; // the opacity of up to four layers
};

struct RegionGround
{
    GLint firstIndex = 0;
    GLsizei indexCount = 0;
    GLint baseVertex = 0;
    GAME::Vec3 lo, hi;
};

struct GrassBlock
{
    GLuint first = 0, count = 0;
    GAME::Vec3 centre;
};

struct PropInstance
{
    float centre[4];
    float extents[4];
    float color[4];
};

struct BladeInstance
{
    float position[4]; // x, y, z, angle
    float shape[4];    // half width, height, u, 0
};

// The fog of the world's air, as the sample shaders draw it (depth fog by the distance from the
// eye, height fog below its top), mixed in by each program: uniforms 1 to 4 (world space).
#define FLOOR_FOG                                                                                            \
    "layout(location = 1) uniform vec3 eye;\n"                                                               \
    "layout(location = 2) uniform vec3 fogColour;\n"                                                         \
    "layout(location = 3) uniform vec3 depthFog;  // start, 1 / (end - start), density\n"                    \
    "layout(location = 4) uniform vec3 heightFog; // base, 1 / (top - base), density\n"                      \
    "vec3 Fogged(vec3 c, vec3 p) {\n"                                                                        \
    "    float d = depthFog.y > 0.0 ? clamp((length(p - eye) - depthFog.x) * depthFog.y, 0.0, 1.0)\n"        \
    "                               : step(depthFog.x, length(p - eye));\n"                                  \
    "    float h = heightFog.y > 0.0 ? clamp(1.0 - (p.y - heightFog.x) * heightFog.y, 0.0, 1.0)\n"           \
    "                                : step(p.y, heightFog.x);\n"                                            \
    "    d *= clamp(depthFog.z, 0.0, 1.0);\n"                                                                \
    "    h *= clamp(heightFog.z, 0.0, 1.0);\n"                                                               \
    "    return mix(c, fogColour, clamp(d + h - d * h, 0.0, 1.0));\n"                                        \
    "}\n"

const char* kGroundVertex = R"GLSL(#version 450 core
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec4 weights;
layout(location = 0) uniform mat4 viewProjection;
out vec3 v_normal; out vec4 v_weights; out vec2 v_uv; out vec3 v_world;
void main() {
    gl_Position = viewProjection * vec4(position, 1.0);
    v_normal = normal; v_weights = weights; v_uv = position.xz * 0.25; v_world = position;
}
)GLSL";
const char* kGroundPixel = "#version 450 core\n" FLOOR_FOG R"GLSL(
in vec3 v_normal; in vec4 v_weights; in vec2 v_uv; in vec3 v_world;
layout(binding = 0) uniform sampler2D layer0;
layout(binding = 1) uniform sampler2D layer1;
layout(binding = 2) uniform sampler2D layer2;
out vec4 colour;
void main() {
    vec3 c = texture(layer0, v_uv).rgb;
    c = mix(c, texture(layer1, v_uv).rgb, v_weights.y);
    c = mix(c, texture(layer2, v_uv).rgb, v_weights.z);
    float light = 0.35 + 0.65 * max(dot(normalize(v_normal), normalize(vec3(0.3, 0.8, 0.2))), 0.0);
    colour = vec4(Fogged(c * light, v_world), 1.0);
}
)GLSL";
const char* kPropVertex = R"GLSL(#version 450 core
layout(location = 0) in vec3 corner;
layout(location = 1) in vec4 centre;
layout(location = 2) in vec4 extents;
layout(location = 3) in vec4 tint;
layout(location = 0) uniform mat4 viewProjection;
out vec3 v_normal; out vec4 v_tint; out vec3 v_world;
void main() {
    v_world = centre.xyz + corner * extents.xyz;
    gl_Position = viewProjection * vec4(v_world, 1.0);
    v_normal = corner; v_tint = tint;
}
)GLSL";
const char* kPropPixel = "#version 450 core\n" FLOOR_FOG R"GLSL(
in vec3 v_normal; in vec4 v_tint; in vec3 v_world;
out vec4 colour;
void main() {
    float light = 0.35 + 0.65 * max(dot(normalize(v_normal), normalize(vec3(0.3, 0.8, 0.2))), 0.0);
    colour = vec4(Fogged(v_tint.rgb * light, v_world), 1.0);
}
)GLSL";
const char* kBladeVertex = R"GLSL(#version 450 core
layout(location = 0) in vec4 blade;
layout(location = 1) in vec4 shape;
layout(location = 0) uniform mat4 viewProjection;
out vec2 v_uv; out vec3 v_world;
void main() {
    const vec2 corners[4] = vec2[4](vec2(-1.0, 1.0), vec2(1.0, 1.0), vec2(1.0, 0.0), vec2(-1.0, 0.0));
    vec2 k = corners[gl_VertexID];
    vec3 side = vec3(cos(blade.w), 0.0, sin(blade.w)) * shape.x * k.x;
    v_world = blade.xyz + side + vec3(0.0, shape.y * k.y, 0.0);
    gl_Position = viewProjection * vec4(v_world, 1.0);
    v_uv = vec2(shape.z + (k.x * 0.5 + 0.5) * 0.5, 1.0 - k.y);
}
)GLSL";
const char* kBladePixel = "#version 450 core\n" FLOOR_FOG R"GLSL(
in vec2 v_uv; in vec3 v_world;
layout(binding = 0) uniform sampler2D blades;
out vec4 colour;
void main() {
    vec4 c = texture(blades, v_uv);
    if (c.a < 0.5) discard;
    colour = vec4(Fogged(c.rgb, v_world), 1.0);
}
)GLSL";

GLuint Program(const char* vertex, const char* pixel)
{
    auto stage = [](GLenum kind, const char* text) {
        return CompileRawShader(kind, text, "bench_frame: floor shader");
    };
    const GLuint program = glCreateProgram();
    const GLuint v = stage(GL_VERTEX_SHADER, vertex), p = stage(GL_FRAGMENT_SHADER, pixel);
    glAttachShader(program, v);
    glAttachShader(program, p);
    glLinkProgram(program);
    glDeleteShader(v);
    glDeleteShader(p);
    return program;
}

// A 32 x 32 texture of a colour with some noise; blades: thin opaque stalks on clear texels.
GLuint MakeTexture(uint32_t rgb, uint32_t seed, bool blades)
{
    std::vector<uint32_t> texels(32 * 32);
    uint32_t state = seed * 2654435761u + 1u;
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 32; ++x) {
            state = state * 1664525u + 1013904223u;
            const int shade = int((state >> 24) % 32) - 16;
            uint32_t texel = 0xFF000000u;
            for (int shift : {0, 8, 16})
                texel |= uint32_t(std::clamp(int((rgb >> shift) & 0xFF) + shade, 0, 255)) << shift;
            if (blades && (x % 8 != 3 || y < (x * 7) % 16))
                texel &= 0x00FFFFFFu;
            texels[y * 32 + x] = texel;
        }
    GLuint texture = 0;
    glCreateTextures(GL_TEXTURE_2D, 1, &texture);
    glTextureStorage2D(texture, 6, GL_RGBA8, 32, 32);
    glTextureSubImage2D(texture, 0, 0, 0, 32, 32, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    glGenerateTextureMipmap(texture);
    glTextureParameteri(texture, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTextureParameteri(texture, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    return texture;
}

class Floor
{
public:
    // Copies what the loaded world shows: ground, grass and props of every region, and its air
    // (the sky in the fog's colour and the fog).
    bool Build(GAME::World& world, const WorldGenerator::Atmosphere& air);
    // Draws the frames [first, first + count) of the cameras and waits for them; the time in ms.
    double Run(const std::vector<FrameCamera>& cameras, size_t first, size_t count);
    void Close();

private:
    bool OpenContext();
    void Upload();

    EGLDisplay m_display = EGL_NO_DISPLAY;
    EGLContext m_context = EGL_NO_CONTEXT;
    GLuint m_framebuffer = 0, m_colour = 0, m_depth = 0;
    GLuint m_groundProgram = 0, m_propProgram = 0, m_bladeProgram = 0;
    GLuint m_groundArray = 0, m_propArray = 0, m_bladeArray = 0;
    GLuint m_buffers[6] = {};
    GLuint m_layerTextures[3] = {}, m_bladeTexture = 0;
    WorldGenerator::Atmosphere m_air;

    std::vector<GroundVertex> m_groundVertices;
    std::vector<uint32_t> m_groundIndices;
    std::vector<RegionGround> m_regions;
    std::vector<PropInstance> m_props;
    std::vector<BladeInstance> m_blades;
    std::vector<GrassBlock> m_grass;
};

uint32_t Hash(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

bool Floor::Build(GAME::World& world, const WorldGenerator::Atmosphere& air)
{
    m_air = air;
    for (int r = 0; r < world.GetNumRegions(); ++r) {
        GAME::Region* region = world.GetRegion(r);
        GAME::Level* level = region ? region->GetLevelPtr() : nullptr;
        if (!level)
            continue;
        const GAME::IntVec3 o = region->GetOffsetFromWorld();
        const GAME::Vec3 offset(float(o.x), float(o.y), float(o.z));
        std::vector<GAME::Entity*> entities;
        level->GetEntities(entities, GAME::ENTITY_LIST_ALL);
        for (GAME::Entity* entity : entities) {
            static const struct
            {
                const char* word;
                float r, g, b;
            } looks[] = {{"Rock", 0.5f, 0.5f, 0.5f},
                         {"Tree", 0.2f, 0.6f, 0.2f},
                         {"Bush", 0.15f, 0.4f, 0.1f},
                         {"Ruin", 0.7f, 0.6f, 0.45f}};
            for (const auto& look : looks)
                if (entity->GetObjectName().find(look.word) != std::string::npos) {
                    const GAME::ABBox& box = entity->GetRegionBoundingBox();
                    const GAME::Vec3 c = box.center + offset;
                    m_props.push_back({{c.x, c.y, c.z, 0},
                                       {box.extents.x, box.extents.y, box.extents.z, 0},
                                       {look.r, look.g, look.b, 1}});
                    break;
                }
        }
        const GAME::TerrainBase* terrain = level->GetTerrain();
        if (!terrain || terrain->GetNumXSamples() < 2 || terrain->GetNumYSamples() < 2)
            continue;
        const unsigned nx = terrain->GetNumXSamples(), ny = terrain->GetNumYSamples();
        const unsigned layers = std::min(terrain->GetNumTextureLayers(), 4u);
        RegionGround ground;
        ground.baseVertex = GLint(m_groundVertices.size());
        ground.firstIndex = GLint(m_groundIndices.size());
        ground.lo = GAME::Vec3(1e30f, 1e30f, 1e30f);
        ground.hi = GAME::Vec3(-1e30f, -1e30f, -1e30f);
        for (unsigned y = 0; y < ny; ++y)
            for (unsigned x = 0; x < nx; ++x) {
                GroundVertex v{};
                const float h = terrain->GetHeight(int(x), int(y));
                v.x = offset.x + float(x);
                v.y = offset.y + h;
                v.z = offset.z + float(y);
                const float hl = terrain->GetHeight(int(x > 0 ? x - 1 : x), int(y));
                const float hr = terrain->GetHeight(int(x + 1 < nx ? x + 1 : x), int(y));
                const float hd = terrain->GetHeight(int(x), int(y > 0 ? y - 1 : y));
                const float hu = terrain->GetHeight(int(x), int(y + 1 < ny ? y + 1 : y));
                const GAME::Vec3 g(hl - hr, 2.0f, hd - hu);
                const GAME::Vec3 n = g * (1.0f / g.Length());
                v.nx = n.x;
                v.ny = n.y;
                v.nz = n.z;
                for (unsigned l = 0; l < layers; ++l)
                    v.w[l] = float(terrain->GetLayerOpacity(l, x, y)) / 255.0f;
                m_groundVertices.push_back(v);
                ground.lo = GAME::Vec3(std::min(ground.lo.x, v.x), std::min(ground.lo.y, v.y),
                                       std::min(ground.lo.z, v.z));
                ground.hi = GAME::Vec3(std::max(ground.hi.x, v.x), std::max(ground.hi.y, v.y),
                                       std::max(ground.hi.z, v.z));
            }
        for (unsigned y = 0; y + 1 < ny; ++y)
            for (unsigned x = 0; x + 1 < nx; ++x) {
                const uint32_t a = x + nx * y, b = a + 1, c = a + nx, d = c + 1;
                for (uint32_t i : {d, c, a, a, b, d})
                    m_groundIndices.push_back(i);
            }
        ground.indexCount = GLsizei(m_groundIndices.size()) - ground.firstIndex;
        m_regions.push_back(ground);

        // Grass: the engine's grid of blade places, per block of 9 x 9 cells.
        for (unsigned layer = 0; layer < layers; ++layer) {
            const GAME::TerrainType* type = terrain->GetLayerTerrainType(layer);
            if (!type || type->GetNumBladeVariations() == 0 || !type->GetBladeTexture())
                continue;
            const uint32_t variations = type->GetNumBladeVariations(), spacing = type->GetBladeSpacing();
            for (unsigned by = 0; by * 9 + 1 < ny; ++by)
                for (unsigned bx = 0; bx * 9 + 1 < nx; ++bx) {
                    GrassBlock block;
                    block.first = GLuint(m_blades.size());
                    const float x0 = float(bx * 9), z0 = float(by * 9);
                    const float x1 = std::min(x0 + 9.0f, float(nx - 1)),
                                z1 = std::min(z0 + 9.0f, float(ny - 1));
                    for (float z = z0; z < z1; z += 0.58f)
                        for (float x = x0; x < x1 && m_blades.size() - block.first < 350; x += 0.58f) {
                            const float opacity =
                                float(terrain->GetLayerOpacityInterpolated(layer, x - 0.5f, z - 0.5f));
                            if (opacity <= float(type->GetMinimumBladeOpacity()))
                                continue;
                            const uint32_t h = Hash(uint32_t(x * 12343.0f + z * 7873.0f));
                            if (h % (spacing + variations) >= variations)
                                continue;
                            const float scale = opacity / 255.0f;
                            BladeInstance blade{};
                            blade.position[0] = offset.x + x;
                            blade.position[1] = offset.y + terrain->GetHeightInterpolated(x, z);
                            blade.position[2] = offset.z + z;
                            blade.position[3] = float(Hash(h) % 360) * 0.0174533f;
                            blade.shape[0] = type->GetBladeWidth() * scale;
                            blade.shape[1] = type->GetBladeHeight() * scale;
                            blade.shape[2] = float(Hash(h + 1) % variations) / float(variations);
                            m_blades.push_back(blade);
                        }
                    block.count = GLuint(m_blades.size()) - block.first;
                    block.centre =
                        GAME::Vec3(offset.x + (x0 + x1) * 0.5f, offset.y, offset.z + (z0 + z1) * 0.5f);
                    if (block.count)
                        m_grass.push_back(block);
                }
        }
    }
    if (m_regions.empty()) {
        int levels = 0;
        for (int r = 0; r < world.GetNumRegions(); ++r)
            levels += world.GetRegion(r) && world.GetRegion(r)->GetLevelPtr();
        std::printf("bench_frame: the floor found no ground (%d regions, %d levels)\n", world.GetNumRegions(),
                    levels);
        return false;
    }
    if (!OpenContext())
        return false;
    Upload();
    return true;
}

bool Floor::OpenContext()
{
    // Made with every processor of the process, as the device makes its contexts: the floor's
    // rasteriser threads must not be pinned with the engine's main thread.
    const uint64_t pinned = GAME::Platform::GetCurrentThreadAffinity();
    GAME::Platform::SetCurrentThreadProcessAffinity();
    m_context = OpenRawContext(m_display);
    if (pinned)
        GAME::Platform::SetCurrentThreadAffinity(pinned);
    if (m_context == EGL_NO_CONTEXT) {
        std::printf("bench_frame: no OpenGL 4.5 context for the floor\n");
        return false;
    }
    return true;
}

void Floor::Upload()
{
    EGLContext previous = eglGetCurrentContext();
    eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, m_context);
    glCreateRenderbuffers(1, &m_colour);
    glNamedRenderbufferStorage(m_colour, GL_RGBA8, kWidth, kHeight);
    glCreateRenderbuffers(1, &m_depth);
    glNamedRenderbufferStorage(m_depth, GL_DEPTH_COMPONENT24, kWidth, kHeight);
    glCreateFramebuffers(1, &m_framebuffer);
    glNamedFramebufferRenderbuffer(m_framebuffer, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_colour);
    glNamedFramebufferRenderbuffer(m_framebuffer, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, m_depth);
    glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);

    m_groundProgram = Program(kGroundVertex, kGroundPixel);
    m_propProgram = Program(kPropVertex, kPropPixel);
    m_bladeProgram = Program(kBladeVertex, kBladePixel);
    m_layerTextures[0] = MakeTexture(0x3C5A78u, 1, false);
    m_layerTextures[1] = MakeTexture(0x328C3Cu, 2, false);
    m_layerTextures[2] = MakeTexture(0x808080u, 4, false);
    m_bladeTexture = MakeTexture(0x46B45Au, 3, true);

    glCreateBuffers(6, m_buffers);
    auto fill = [](GLuint buffer, const void* data, size_t bytes) {
        glNamedBufferStorage(buffer, GLsizeiptr(std::max<size_t>(bytes, 16)), bytes ? data : nullptr, 0);
    };
    fill(m_buffers[0], m_groundVertices.data(), m_groundVertices.size() * sizeof(GroundVertex));
    fill(m_buffers[1], m_groundIndices.data(), m_groundIndices.size() * sizeof(uint32_t));
    // A cube of half size 1: 36 corners.
    std::vector<float> cube;
    const int faces[6][4][3] = {{{1, -1, -1}, {1, 1, -1}, {1, 1, 1}, {1, -1, 1}},
                                {{-1, -1, 1}, {-1, 1, 1}, {-1, 1, -1}, {-1, -1, -1}},
                                {{-1, 1, -1}, {-1, 1, 1}, {1, 1, 1}, {1, 1, -1}},
                                {{-1, -1, 1}, {-1, -1, -1}, {1, -1, -1}, {1, -1, 1}},
                                {{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}},
                                {{1, -1, -1}, {-1, -1, -1}, {-1, 1, -1}, {1, 1, -1}}};
    for (const auto& face : faces)
        for (int i : {0, 1, 2, 0, 2, 3})
            for (int k = 0; k < 3; ++k)
                cube.push_back(float(face[i][k]));
    fill(m_buffers[2], cube.data(), cube.size() * sizeof(float));
    fill(m_buffers[3], m_props.data(), m_props.size() * sizeof(PropInstance));
    fill(m_buffers[4], m_blades.data(), m_blades.size() * sizeof(BladeInstance));

    glCreateVertexArrays(1, &m_groundArray);
    glVertexArrayVertexBuffer(m_groundArray, 0, m_buffers[0], 0, sizeof(GroundVertex));
    glVertexArrayElementBuffer(m_groundArray, m_buffers[1]);
    const GLuint groundOffsets[3] = {0, 12, 24}, groundSizes[3] = {3, 3, 4};
    for (GLuint a = 0; a < 3; ++a) {
        glEnableVertexArrayAttrib(m_groundArray, a);
        glVertexArrayAttribFormat(m_groundArray, a, GLint(groundSizes[a]), GL_FLOAT, GL_FALSE,
                                  groundOffsets[a]);
        glVertexArrayAttribBinding(m_groundArray, a, 0);
    }
    glCreateVertexArrays(1, &m_propArray);
    glVertexArrayVertexBuffer(m_propArray, 0, m_buffers[2], 0, 12);
    glVertexArrayVertexBuffer(m_propArray, 1, m_buffers[3], 0, sizeof(PropInstance));
    glVertexArrayBindingDivisor(m_propArray, 1, 1);
    glEnableVertexArrayAttrib(m_propArray, 0);
    glVertexArrayAttribFormat(m_propArray, 0, 3, GL_FLOAT, GL_FALSE, 0);
    glVertexArrayAttribBinding(m_propArray, 0, 0);
    for (GLuint a = 1; a < 4; ++a) {
        glEnableVertexArrayAttrib(m_propArray, a);
        glVertexArrayAttribFormat(m_propArray, a, 4, GL_FLOAT, GL_FALSE, (a - 1) * 16);
        glVertexArrayAttribBinding(m_propArray, a, 1);
    }
    glCreateVertexArrays(1, &m_bladeArray);
    glVertexArrayVertexBuffer(m_bladeArray, 0, m_buffers[4], 0, sizeof(BladeInstance));
    glVertexArrayBindingDivisor(m_bladeArray, 0, 1);
    for (GLuint a = 0; a < 2; ++a) {
        glEnableVertexArrayAttrib(m_bladeArray, a);
        glVertexArrayAttribFormat(m_bladeArray, a, 4, GL_FLOAT, GL_FALSE, a * 16);
        glVertexArrayAttribBinding(m_bladeArray, a, 0);
    }
    glFinish();
    eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, previous);
}

double Floor::Run(const std::vector<FrameCamera>& all, size_t first, size_t count)
{
    const std::vector<FrameCamera> cameras(all.begin() + long(first), all.begin() + long(first + count));
    EGLContext previous = eglGetCurrentContext();
    eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, m_context);
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    glViewport(0, 0, kWidth, kHeight);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    const auto start = Clock::now();
    const WorldGenerator::Atmosphere& air = m_air;
    auto inverse = [](float from, float to) { return to != from ? 1.0f / (to - from) : 0.0f; };
    const float depthFog[3] = {air.depthFogStart, inverse(air.depthFogStart, air.depthFogEnd),
                               air.depthFogDensity};
    const float heightFog[3] = {air.heightFogBase, inverse(air.heightFogBase, air.heightFogTop),
                                air.heightFogDensity};
    auto setAir = [&](const FrameCamera& camera) {
        glUniform3f(1, camera.origin.x, camera.origin.y, camera.origin.z);
        glUniform3fv(2, 1, air.fogColor);
        glUniform3fv(3, 1, depthFog);
        glUniform3fv(4, 1, heightFog);
    };
    for (const FrameCamera& camera : cameras) {
        const Mat vp = ViewProjection(camera);
        // The sky in the fog's colour, as the outdoor regions clear to it.
        glClearColor(air.fogColor[0], air.fogColor[1], air.fogColor[2], 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glUseProgram(m_groundProgram);
        glUniformMatrix4fv(0, 1, GL_FALSE, vp.m);
        setAir(camera);
        glBindTextures(0, 3, m_layerTextures);
        glBindVertexArray(m_groundArray);
        for (const RegionGround& region : m_regions)
            if (!BoxOutside(vp, region.lo, region.hi))
                glDrawElementsBaseVertex(GL_TRIANGLES, region.indexCount, GL_UNSIGNED_INT,
                                         reinterpret_cast<const void*>(size_t(region.firstIndex) * 4),
                                         region.baseVertex);
        glUseProgram(m_propProgram);
        glUniformMatrix4fv(0, 1, GL_FALSE, vp.m);
        setAir(camera);
        glBindVertexArray(m_propArray);
        glDrawArraysInstanced(GL_TRIANGLES, 0, 36, GLsizei(m_props.size()));
        glUseProgram(m_bladeProgram);
        glUniformMatrix4fv(0, 1, GL_FALSE, vp.m);
        setAir(camera);
        glBindTextureUnit(0, m_bladeTexture);
        glBindVertexArray(m_bladeArray);
        for (const GrassBlock& block : m_grass) {
            const GAME::Vec3 d = block.centre - camera.origin;
            if (d.x * d.x + d.z * d.z > kNearGrass * kNearGrass)
                continue;
            const GAME::Vec3 lo = block.centre - GAME::Vec3(5, 5, 5),
                             hi = block.centre + GAME::Vec3(5, 40, 5);
            if (!BoxOutside(vp, lo, hi))
                glDrawArraysInstancedBaseInstance(GL_TRIANGLE_FAN, 0, 4, GLsizei(block.count), block.first);
        }
        glFlush(); // as the device's headless present
    }
    glFinish();
    const double ms = Milliseconds(start, Clock::now());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, previous);
    return ms;
}

void Floor::Close()
{
    if (m_context != EGL_NO_CONTEXT)
        eglDestroyContext(m_display, m_context);
    m_context = EGL_NO_CONTEXT;
}

// ---- The library's side --------------------------------------------------------------------------

// The sample host's game data (see Host/EngineHost.cpp).
bool MakeSampleData(const std::filesystem::path& folder)
{
    DataKit::SampleGameData data;
    SampleHost::HostView::AddPropRecords(data.Database());
    WorldGenerator::AddPlacedRecords(data.Database());
    data.SetDefault("reflectionQuality", "high");
    return data.Write(folder.string());
}

WorldGenerator::Settings WorldPlan()
{
    WorldGenerator::Settings plan;
    plan.regionsX = 6;
    plan.regionsZ = 6;
    plan.flightSpeed = 120.0f;
    return plan;
}

void LoadRegions(BenchEngine& engine, GAME::RegionLoader& loader, const GAME::WorldFrustum* view)
{
    // As behind a loading screen: frames until the loads are done (three minutes at most).
    GAME::World* world = engine.GetWorld();
    const auto start = Clock::now();
    while (!loader.GetIsDone() && Milliseconds(start, Clock::now()) < 180000.0) {
        // Regions in before the last keep in: nothing unloads while the others come.
        for (int i = 0; i < world->GetNumRegions(); ++i)
            if (world->GetRegion(i)->IsLevelLoaded())
                world->GetRegion(i)->ResetFramesNotUpdated();
        loader.Update();
        engine.Update(view, false);
        engine.Render();
        engine.PresentSurface();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// The world's air as its fog record holds it (the generator's own when it has none).
WorldGenerator::Atmosphere WorldAir(GAME::Engine& engine)
{
    const auto* record = static_cast<const GAME::FogSectorData*>(
        engine.GetSectorDataManager()->GetSectorData(GAME::SectorDataManager::SECTOR_FOG, 0u));
    return record ? WorldGenerator::ReadAtmosphere(*record) : WorldGenerator::Atmosphere();
}

// Where the host's camera is in world space.
FrameCamera WorldCamera(const SampleHost::FlightCamera& camera, GAME::Region* region)
{
    FrameCamera c;
    const GAME::Camera& regionCamera = camera.GetRegionCamera();
    const GAME::IntVec3 o = region->GetOffsetFromWorld();
    const GAME::Coords& coords = regionCamera.GetCoords();
    c.origin = coords.origin + GAME::Vec3(float(o.x), float(o.y), float(o.z));
    c.x = coords.xAxis;
    c.y = coords.yAxis;
    c.z = coords.zAxis;
    c.fov = regionCamera.GetFOV();
    c.nearPlane = regionCamera.GetNearPlane();
    c.farPlane = regionCamera.GetFarPlane();
    return c;
}

// The 300 cameras of the flight (the world loaded whole).
std::vector<FrameCamera> FlightCameras(const WorldGenerator& generator, GAME::World& world,
                                       const GAME::Viewport& viewport)
{
    std::vector<FrameCamera> cameras;
    SampleHost::FlightCamera camera(generator, world);
    const float duration = generator.GetFlightDuration();
    for (int frame = 0; frame < kFrames; ++frame) {
        const GAME::WorldFrustum frustum =
            camera.ViewAt(duration * float(frame) / float(kFrames - 1), viewport);
        cameras.push_back(WorldCamera(camera, frustum.GetRegion()));
    }
    return cameras;
}

struct FlightResult
{
    std::vector<double> frameMs, mainMs, cpuMs, draws, triangles, switches;
    double floorMs = 0.0;    // the floor's frames, all of them
    double floorCpuMs = 0.0; // and the processor time they took
};

// Blocks of frames: the library's, then the floor's for the same cameras, in turn, so that both
// see the same load of the machine.
constexpr int kBlock = 50;

FlightResult Fly(BenchEngine& engine, const WorldGenerator& generator, const std::string& folder,
                 Floor& floor, const std::vector<FrameCamera>& cameras)
{
    FlightResult result;
    GAME::World* world = engine.GetWorld();
    GAME::GraphicsEngine* graphics = engine.GetGraphicsEngine();
    GAME::RenderDevice* device = graphics->GetRenderDevice();
    GAME::GraphicsCanvas* canvas = graphics->GetCanvas();
    // The host's defaults: the statistics (profiler panels, thread monitor, frame statistics) off.
    engine.ShowThreadMonitor(false);
    engine.ShowProfiler(false);
    GAME::Tracker* tracker = GAME::Tracker::Get();
    SampleHost::FlightCamera camera(generator, *world);
    std::optional<SampleHost::HostView> view(
        std::in_place, engine, [](const std::string&) {}, folder);
    const GAME::Viewport viewport(0, 0, device->GetWidth(), device->GetHeight());
    {
        const GAME::WorldFrustum first = camera.ViewAt(0.0f, viewport);
        GAME::RegionLoader loader(first, true);
        LoadRegions(engine, loader, &first);
    }
    const float duration = generator.GetFlightDuration();
    for (int frame = 0; frame < kFrames; ++frame) {
        const float seconds = duration * float(frame) / float(kFrames - 1);
        const GAME::WorldFrustum frustum = camera.ViewAt(seconds, viewport);
        const auto start = Clock::now();
        const double processStart = ProcessMilliseconds();
        const double cpuStart = ThreadMilliseconds();
        tracker->Update(engine.GetUpdateTime());
        engine.Update(&frustum, true);
        tracker->SetInt(GAME::Tracker::frameStatsCategory, "frames drawn", int(engine.GetFrameCount()));
        view->Draw(camera);
        engine.Render();
        result.draws.push_back(device->GetNumDrawCalls());
        result.triangles.push_back(device->GetNumFacesRendered());
        result.switches.push_back(canvas->GetTargetSwitchCount());
        view->MaybeScreenshot(frustum.GetRegion());
        engine.PresentSurface();
        if ((frame + 1) % kBlock == 0 || frame + 1 == kFrames) {
            // The block's last frame waits for the device to finish, as the floor's block does.
            GAME::Pixel pixel;
            device->ReadFrameBuffer(&pixel, 1, 1);
        }
        result.mainMs.push_back(ThreadMilliseconds() - cpuStart);
        result.frameMs.push_back(Milliseconds(start, Clock::now()));
        result.cpuMs.push_back(ProcessMilliseconds() - processStart);
        if ((frame + 1) % kBlock == 0 || frame + 1 == kFrames) {
            const size_t first = size_t(frame + 1 - (frame % kBlock + 1));
            const double floorStart = ProcessMilliseconds();
            result.floorMs += floor.Run(cameras, first, size_t(frame) + 1 - first);
            result.floorCpuMs += ProcessMilliseconds() - floorStart;
        }
    }
    view->FinishScreenshot();
    view.reset();
    GAME::Tracker::Destroy();
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1) {
        const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
        std::fputs(kHelp, help ? stdout : stderr);
        return help ? 0 : 2;
    }
    std::error_code error;
    const std::filesystem::path previous = std::filesystem::current_path(error);
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("bench_frame_" + std::to_string(Clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(folder, error);
    if (error || !MakeSampleData(folder)) {
        std::printf("bench_frame: cannot write the game data to %s\n", folder.string().c_str());
        return 1;
    }
    std::filesystem::current_path(folder, error);
    std::printf("load average before: %s\n", LoadAverage().c_str());

    int status = 0;
    {
        GAME::FileSystem files;
        BenchEngine engine;
        engine.SetKeymapPath("Settings/keymap.txt");
        engine.Start(files, folder.string(), "OpenGL");

        WorldGenerator generator(WorldPlan());
        GAME::World* world = engine.GetWorld();
        if (!world || !engine.GetGraphicsEngine() || !generator.Generate() ||
            !generator.Write(folder.string())) {
            std::printf("bench_frame: the engine did not start or the world was not written\n");
            status = 1;
        } else {
            // The floor's copy of the world: every region loaded once, then the world goes.
            Floor floor;
            bool floorBuilt = false;
            std::vector<FrameCamera> cameras;

            if (world->Load(generator.GetSettings().mapName.c_str(), true)) {
                std::vector<GAME::Region*> all;
                for (int i = 0; i < world->GetNumRegions(); ++i)
                    all.push_back(world->GetRegion(i));
                const WorldGenerator::View start = generator.GetFlightView(0.0f);
                const GAME::WorldFrustum first(
                    world->GetRegion(start.region),
                    WorldGenerator::MakeViewFrustum(start.position, start.direction, 0.785398f, 0.5f, 60.0f));
                GAME::RegionLoader loader(engine.GetResourceLoader(), all, true);
                LoadRegions(engine, loader, &first);
                floorBuilt = floor.Build(*world, WorldAir(engine));
                cameras = FlightCameras(generator, *world,
                                        GAME::Viewport(0, 0, GAME::GraphicsEngine::defaultWidth,
                                                       GAME::GraphicsEngine::defaultHeight));
                world->Unload();
                GAME::ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
            }
            // The flight, as the host flies it: the world loaded anew, streaming.
            FlightResult flight;
            if (floorBuilt && world->Load(generator.GetSettings().mapName.c_str(), true)) {
                // The world's air, as the host takes it: the fog and the sky in its colour.
                WorldGenerator::ApplyAtmosphere(*engine.GetSectorDataManager(), *engine.GetGraphicsEngine());
                flight = Fly(engine, generator, folder.string(), floor, cameras);
            }
            if (flight.frameMs.empty()) {
                std::printf("bench_frame: the floor or the flight could not be made\n");
                status = 1;
            } else {
                const DeviceThreads threads = CountDeviceThreads();
                const double floorMs = flight.floorMs / double(kFrames);
                floor.Close();
                const double mean = Mean(flight.frameMs);
                std::printf("library: %d frames, mean %.2f ms, p50 %.2f ms, p90 %.2f ms, max %.2f ms\n",
                            kFrames, mean, Percentile(flight.frameMs, 0.5), Percentile(flight.frameMs, 0.9),
                            Percentile(flight.frameMs, 1.0));
                std::printf("floor:   %d frames, mean %.2f ms\n", kFrames, floorMs);
                std::printf("load average after: %s\n", LoadAverage().c_str());

                BenchReport report;
                report.Value("frame_mean_ms", mean, "ms");
                report.Value("frame_p90_ms", Percentile(flight.frameMs, 0.9), "ms");
                report.Value("frames_per_second", mean > 0 ? 1000.0 / mean : 0.0, "");
                report.Value("main_thread_ms", Mean(flight.mainMs), "ms");
                report.Value("frame_cpu_ms", Mean(flight.cpuMs), "ms");
                report.Value("draws_per_frame", Mean(flight.draws), "");
                report.Value("triangles_per_frame", Mean(flight.triangles), "");
                report.Value("target_switches_per_frame", Mean(flight.switches), "");
                report.Value("floor_frame_mean_ms", floorMs, "ms");
                const double floorCpuMs = flight.floorCpuMs / double(kFrames);
                report.Value("floor_frame_cpu_ms", floorCpuMs, "ms");
                report.Value("device_threads", threads.device, "");
                report.Value("rasteriser_threads", threads.rasteriser, "");
                report.Value("rasteriser_processors", threads.fewestProcessors, "");
                report.Ratio("frame_cpu_vs_floor", floorCpuMs > 0 ? Mean(flight.cpuMs) / floorCpuMs : 0.0);
                report.Ratio("frame_vs_floor", floorMs > 0 ? mean / floorMs : 0.0);
                report.Print();
            }
            world->Unload();
        }
        engine.Shutdown();
        GAME::gEngine = nullptr;
    }
    GAME::RenderDevice::UnloadLibraries();
    std::filesystem::current_path(previous, error);
    std::filesystem::remove_all(folder, error);
    return status;
}
