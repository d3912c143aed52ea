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
// same 300 cameras what the frame shows, the cheap way: outdoors a clear to the sky's colour, the
// ground of the regions in view with all its layers in one shader (one draw a region), the grass
// blades the terrain places, as far as the terrain draws them (its grass reach) and with the same
// blade texture, the props in view as instanced boxes, the walkers', crates' and doorways' meshes
// instanced, and the water (lakes and rivers) blended over them, each program mixing in the
// world's fog itself; in a cave a clear to black, the cave's walls, props and walkers lit by its
// lights. Near a doorway it draws the regions as the portal renderer does: the regions it draws
// that frame (the camera's, and those behind the portals it sees, one portal deep), taken from the
// engine with their placement and weight (the transparency manager's fades), each with the camera
// carried through the portal and cut behind the portal it is seen back through, in the renderer's
// order; a region the renderer composites is drawn aside and weighed over what is there by its fade
// and the inverse transparency mask, the portals it shows keeping what lies under them (a region
// that would keep all of it is not drawn). Lights and
// textures are the world's: its sun and ambient light of the frame, the same layer, blade, rock,
// sky and mask textures. Left out: the fires' particles and the lakes' shore waves (a few hundred
// pixels), the water's rippling normal map and the walkers' walk (they stand in their bind pose
// where they started). The two take turns in blocks of 50 frames (each block waits for its device
// to finish), so that both meet the same load of a shared machine; the floor's block starts once the
// engine's level loads have ended (two seconds at most). Each side is billed its own threads'
// processor time: the floor its main thread's and the driver's rasteriser threads' while it draws
// (they draw for both contexts, and the library's pictures are finished by then), the library the
// whole process's during its frames and its other threads' (level loads, resources) while the
// floor's block ran. That the floor draws the same view is checked: for six of the cameras both
// pictures are read back and the share of pixels that differ by more than 24 levels in a channel
// is printed. The program fails (exit code 1) when that share is above 10 % or a picture could not
// be read.
//
// Figures: frame mean and p90 (wall time from the engine's update to the present), frames a
// second, the main thread's CPU time a frame and every thread's (the rasteriser's work too),
// draws, triangles and render-target switches a frame, where the main thread's time goes (the
// engine's Profile blocks), the threads of the device and of its rasteriser, and the ratios of the
// library's mean frame and of its CPU time to the floor's. The machine's load average is printed
// before and after.
#include "common/BenchEngine.h"
#include "common/BenchFolder.h"
#include "common/BenchMachine.h"
#include "common/BenchReport.h"
#include "common/HostWorld.h"
#include "common/RawContext.h"

#include "FlightCamera.h"
#include "HostView.h"

#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/ObjectManager.h"
#include "core/Profile.h"
#include "core/WorldFrustum.h"
#include "data/FileSystem.h"
#include "datakit/SampleGameData.h"
#include "datakit/WaterShaders.h"
#include "datakit/WorldGenerator.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderVertexBuffer.h"
#include "platform/Threading.h"
#include "scene/Camera.h"
#include "scene/GraphicsMesh.h"
#include "scene/GraphicsMeshInstance.h"
#include "scene/GraphicsPortalRenderer.h"
#include "scene/GraphicsTransparencyManager.h"
#include "scene/SceneWorldServices.h"
#include "sound/AmbianceManager.h"
#include "terrain/GridRegion.h"
#include "terrain/GridWallMeshInstance.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainBlock.h"
#include "terrain/TerrainRT.h"
#include "terrain/TerrainRenderInterfaceBase.h"
#include "terrain/TerrainType.h"
#include "terrain/Water.h"
#include "terrain/WaterBlock.h"
#include "terrain/WaterElement.h"
#include "terrain/WaterPathSegment.h"
#include "terrain/WaterType.h"
#include "world/Actor.h"
#include "world/DayNightManager.h"
#include "world/Engine.h"
#include "world/Entity.h"
#include "world/FogSectorData.h"
#include "world/Level.h"
#include "world/Light.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/RegionLoader.h"
#include "world/Tracker.h"
#include "world/World.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>
#include <sys/types.h>

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
#include <map>
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
// The frames whose pictures are compared, and how far apart two pixels may be and still count as
// the same (in any of red, green and blue, out of 255).
constexpr int kComparedFrames[] = {25, 75, 125, 175, 225, 275};
constexpr int kPixelTolerance = 24;
// The share of the compared pixels that may differ, in percent: the floor draws the same view.
constexpr double kMaxDifferingPercent = 10.0;
// Point lights the floor's programs take at once.
constexpr int kMaxPointLights = 8;

const char* const kHelp =
    "bench_frame: the drawn frame of the sample host's flight over the OpenGL device (headless, EGL\n"
    "surfaceless: Mesa's llvmpipe on a machine without a GPU), 1024 x 768, with the host's default\n"
    "options: 300 frames spread over the camera path of the generated world, the world streaming as\n"
    "in the host.\n"
    "\n"
    "Reference (the floor): a raw OpenGL program on the same display, drawing for the same 300\n"
    "cameras what the frame shows, the cheap way: the sky, the ground of the regions in view with\n"
    "its layers in one shader, the grass the terrain places as far as the terrain draws it, with the\n"
    "same blade texture, the props in view as instanced boxes, the walkers', crates' and caves'\n"
    "meshes instanced, the lakes and rivers, all lit by the world's sun and ambient light (in caves\n"
    "by their lights) and fogged by the world's fog; near a cave's doorway the regions the portal\n"
    "renderer draws that frame, weighed as it weighs them; in blocks of 50 frames taking turns with the "
    "library's. Left out: the fires' particles\n"
    "and the shore waves (a few hundred pixels) and the walkers' walk (they stand where they\n"
    "started). Each side is billed only its own threads' processor time; the floor's blocks start\n"
    "once the engine's level loads have ended. The program fails (exit code 1) when more than 10 %\n"
    "of the compared pixels differ or a compared picture cannot be read.\n"
    "\n"
    "Figures (lower is better unless said otherwise):\n"
    "  value frame_mean_ms, frame_p90_ms      the library's frame, engine update to present\n"
    "  value frames_per_second                1000 / frame_mean_ms (higher is better)\n"
    "  value main_thread_ms                   the main thread's CPU time a frame\n"
    "  value frame_cpu_ms                     the CPU time of every thread a frame (main thread,\n"
    "                                         rasteriser, level and resource loads, also those that\n"
    "                                         ran on while the floor drew): the work, less moved by a\n"
    "                                         busy machine\n"
    "  value draws_per_frame, triangles_per_frame, target_switches_per_frame\n"
    "  value floor_frame_mean_ms              the floor's frame\n"
    "  value floor_frame_cpu_ms               the CPU time of the floor's frame: the main thread's\n"
    "                                         and the rasteriser threads' while it draws\n"
    "  value floor_pixels_differing_percent   of the pixels of six cameras' pictures, the share\n"
    "                                         that differ between the floor's and the library's by\n"
    "                                         more than 24 levels: that the floor draws the same view\n"
    "                                         (at most 10: the program fails above it)\n"
    "  value device_threads                   the driver's threads in the process (informative)\n"
    "  value rasteriser_threads               llvmpipe's rasteriser threads (more spreads the pixels)\n"
    "  value rasteriser_processors            processors the rasteriser threads may use, fewest of them\n"
    "                                         (higher is better; 1 means every pixel on one core)\n"
    "  ratio frame_cpu_vs_floor               frame_cpu_ms / floor_frame_cpu_ms: the figure to compare\n"
    "                                         between runs\n"
    "  ratio frame_vs_floor                   frame_mean_ms / floor_frame_mean_ms: wall time, which a\n"
    "                                         busy machine stretches unevenly; comparable between runs\n"
    "                                         only at equal load (the load average is printed before\n"
    "                                         and after)\n"
    "Before the figures: where the library's main thread spends its frame, by the engine's Profile\n"
    "blocks (wall time, waits for the device included, blocks within blocks; the same list --stats\n"
    "shows in the sample host), and each compared camera's share of differing pixels.\n";

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

// The processor time of one thread of the process by its id: the kernel's clock of that thread,
// named as pthread_getcpuclockid names it (the id inverted and moved up three bits, with the
// flags of a per-thread scheduler clock). 0 once the thread is gone.
double TaskMilliseconds(pid_t task)
{
    const auto clock = static_cast<clockid_t>((~static_cast<unsigned>(task) << 3) | 6u);
    timespec now;
    return clock_gettime(clock, &now) == 0 ? double(now.tv_sec) * 1e3 + double(now.tv_nsec) * 1e-6 : 0.0;
}

// The ids of the driver's rasteriser threads ("llvmpipe-N"). They draw for every context of the
// display (the device's and the floor's): while one side's block runs, the other's pictures are
// finished, and what they do is that side's work.
std::vector<pid_t> RasteriserTasks()
{
    std::vector<pid_t> tasks;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::string name;
        std::ifstream(entry.path() / "comm") >> name;
        if (name.rfind("llvmpipe", 0) == 0)
            tasks.push_back(pid_t(std::stol(entry.path().filename().string())));
    }
    return tasks;
}

double TasksMilliseconds(const std::vector<pid_t>& tasks)
{
    double ms = 0.0;
    for (pid_t task : tasks)
        ms += TaskMilliseconds(task);
    return ms;
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

// The light of a frame, as the portal renderer sets it: the sun (its direction toward the light,
// none underground) and the ambient from the sky and from the ground.
struct FrameLights
{
    GAME::Vec3 sunDirection, sunColor, sky, ground;
};

// One region of a frame as the floor draws it: the camera carried into the region, its light, and
// the plane the portal renderer cuts it with when it is seen back through a portal (what lies on
// the plane's negative side goes).
//
// A region drawn over what is there is weighed as the portal renderer composites it: of what lies
// under it, clamp(mask * keepScale + keepBias, 0, 1) is kept, mask being the inverse transparency
// mask (0 at the middle of the view, 1 toward the edges) that the alpha of the region drawn before
// it carries; where the portals of the regions it shows are seen, what lies under it is kept whole.
struct RegionView
{
    FrameCamera camera;
    int region = -1;
    FrameLights lights;
    bool clipped = false;
    float clip[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    bool over = false;
    float keepScale = 0.0f, keepBias = 0.0f;
};

// One frame as the floor draws it: the camera's region and the regions behind the portals it
// sees, in the order the portal renderer draws them.
struct FrameView
{
    std::vector<RegionView> regions;
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
    for (int plane = 0; plane < 6; ++plane) {
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
                            : plane == 4 ? clip[2]
                                         : w - clip[2];
            allOut = v < 0.0f;
        }
        if (allOut)
            return true;
    }
    return false;
}

// The smallest depth (clip w) over a box's corners, as the terrain measures a block's distance.
float NearestDepth(const Mat& vp, const GAME::Vec3& lo, const GAME::Vec3& hi)
{
    float nearest = 1e30f;
    for (int corner = 0; corner < 8; ++corner) {
        const float px = (corner & 1) ? hi.x : lo.x, py = (corner & 2) ? hi.y : lo.y,
                    pz = (corner & 4) ? hi.z : lo.z;
        nearest = std::min(nearest, vp.m[3] * px + vp.m[7] * py + vp.m[11] * pz + vp.m[15]);
    }
    return nearest;
}

// A texture of the game data read as the device reads it: an uncompressed 32-bit DDS image
// (A8R8G8B8, bytes blue, green, red, alpha) with its mip levels.
struct TextureImage
{
    int width = 0, height = 0;
    std::vector<std::vector<uint8_t>> levels;
};

bool ReadDds(const std::filesystem::path& path, TextureImage& image)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto u32 = [&](size_t at) {
        return at + 4 <= bytes.size() ? uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 |
                                            uint32_t(bytes[at + 2]) << 16 | uint32_t(bytes[at + 3]) << 24
                                      : 0u;
    };
    if (bytes.size() < 128 || u32(0) != 0x20534444u || u32(88) != 32)
        return false;
    image.height = int(u32(12));
    image.width = int(u32(16));
    const uint32_t count = std::max<uint32_t>(1, u32(28));
    size_t at = 128;
    int w = image.width, h = image.height;
    for (uint32_t level = 0; level < count && w > 0 && h > 0; ++level) {
        const size_t size = size_t(w) * size_t(h) * 4;
        if (at + size > bytes.size())
            break;
        image.levels.emplace_back(bytes.begin() + long(at), bytes.begin() + long(at + size));
        at += size;
        w = std::max(1, w / 2);
        h = std::max(1, h / 2);
    }
    return !image.levels.empty();
}

// Mip chains filtered across levels, single levels bilinear; repeating unless clamped.
GLuint MakeTexture(const TextureImage& image, bool clamp)
{
    GLuint texture = 0;
    glCreateTextures(GL_TEXTURE_2D, 1, &texture);
    glTextureStorage2D(texture, GLsizei(image.levels.size()), GL_RGBA8, image.width, image.height);
    int w = image.width, h = image.height;
    for (size_t level = 0; level < image.levels.size(); ++level) {
        glTextureSubImage2D(texture, GLint(level), 0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE,
                            image.levels[level].data());
        w = std::max(1, w / 2);
        h = std::max(1, h / 2);
    }
    glTextureParameteri(texture, GL_TEXTURE_MIN_FILTER,
                        image.levels.size() > 1 ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
    glTextureParameteri(texture, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    const GLint wrap = clamp ? GL_CLAMP_TO_EDGE : GL_REPEAT;
    glTextureParameteri(texture, GL_TEXTURE_WRAP_S, wrap);
    glTextureParameteri(texture, GL_TEXTURE_WRAP_T, wrap);
    return texture;
}

// Uniforms every floor program shares (world space), the fog and the light as the sample shaders
// work them out: depth fog by the distance from the eye, height fog below its top; the ambient
// between the ground's and the sky's by the normal, the sun, and point lights fading to their
// reach.
#define FLOOR_COMMON                                                                                         \
    "layout(location = 0) uniform mat4 viewProjection;\n"                                                    \
    "layout(location = 1) uniform vec3 eye;\n"                                                               \
    "layout(location = 2) uniform vec3 fogColour;\n"                                                         \
    "layout(location = 3) uniform vec3 depthFog;  // start, 1 / (end - start), density\n"                    \
    "layout(location = 4) uniform vec3 heightFog; // base, 1 / (top - base), density\n"                      \
    "layout(location = 5) uniform vec3 sunDirection;\n"                                                      \
    "layout(location = 6) uniform vec3 sunColour;\n"                                                         \
    "layout(location = 7) uniform vec3 skyAmbient;\n"                                                        \
    "layout(location = 8) uniform vec3 groundAmbient;\n"                                                     \
    "layout(location = 9) uniform int pointCount;\n"                                                         \
    "layout(location = 10) uniform vec4 points[8];      // position, reach\n"                                \
    "layout(location = 18) uniform vec4 pointColours[8];\n"                                                  \
    "layout(location = 40) uniform vec4 clipPlane; // world space, kept where not negative\n"                \
    "float FogAmount(vec3 p) {\n"                                                                            \
    "    float d = depthFog.y > 0.0 ? clamp((length(p - eye) - depthFog.x) * depthFog.y, 0.0, 1.0)\n"        \
    "                               : step(depthFog.x, length(p - eye));\n"                                  \
    "    float h = heightFog.y > 0.0 ? clamp(1.0 - (p.y - heightFog.x) * heightFog.y, 0.0, 1.0)\n"           \
    "                                : step(p.y, heightFog.x);\n"                                            \
    "    d *= clamp(depthFog.z, 0.0, 1.0);\n"                                                                \
    "    h *= clamp(heightFog.z, 0.0, 1.0);\n"                                                               \
    "    return clamp(d + h - d * h, 0.0, 1.0);\n"                                                           \
    "}\n"                                                                                                    \
    "vec3 Light(vec3 n, vec3 p) {\n"                                                                         \
    "    vec3 light = mix(groundAmbient, skyAmbient, clamp(n.y * 0.5 + 0.5, 0.0, 1.0));\n"                   \
    "    if (dot(sunDirection, sunDirection) > 0.0)\n"                                                       \
    "        light += sunColour * max(dot(n, normalize(sunDirection)), 0.0);\n"                              \
    "    for (int i = 0; i < pointCount; ++i) {\n"                                                           \
    "        vec3 toLight = points[i].xyz - p;\n"                                                            \
    "        float distance = length(toLight);\n"                                                            \
    "        if (distance > 0.0 && points[i].w > 0.0)\n"                                                     \
    "            light += pointColours[i].rgb * max(dot(n, toLight / distance), 0.0) *\n"                    \
    "                     clamp(1.0 - distance / points[i].w, 0.0, 1.0);\n"                                  \
    "    }\n"                                                                                                \
    "    return light;\n"                                                                                    \
    "}\n"

// The ground: the layers' textures repeat every 10 units; their opacities (layer k in channel k)
// are a texel a cell, over the region once; each layer lies over those below it.
const char* kGroundVertex = "#version 450 core\n" FLOOR_COMMON R"GLSL(
layout(location = 30) uniform vec3 regionOrigin;
layout(location = 31) uniform vec2 cellScale;
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
out vec3 v_normal; out vec3 v_world; out vec2 v_uv; out vec2 v_cells; out float v_clear;
void main() {
    gl_Position = viewProjection * vec4(position, 1.0);
    gl_ClipDistance[0] = dot(clipPlane, vec4(position, 1.0));
    v_normal = normal; v_world = position; v_uv = position.xz * 0.1;
    v_cells = (position.xz - regionOrigin.xz) * cellScale;
    v_clear = 1.0 - FogAmount(position);
}
)GLSL";
const char* kGroundPixel = "#version 450 core\n" FLOOR_COMMON R"GLSL(
layout(location = 32) uniform int layerCount;
layout(binding = 0) uniform sampler2D layer0;
layout(binding = 1) uniform sampler2D layer1;
layout(binding = 2) uniform sampler2D layer2;
layout(binding = 3) uniform sampler2D layer3;
layout(binding = 4) uniform sampler2D opacities;
in vec3 v_normal; in vec3 v_world; in vec2 v_uv; in vec2 v_cells; in float v_clear;
out vec4 colour;
void main() {
    vec3 light = Light(normalize(v_normal), v_world);
    vec4 o = texture(opacities, v_cells);
    vec3 c = texture(layer0, v_uv).rgb * light * o.r;
    float covered = o.r;
    if (layerCount > 1) { c = mix(c, texture(layer1, v_uv).rgb * light, o.g); covered = mix(covered, 1.0, o.g); }
    if (layerCount > 2) { c = mix(c, texture(layer2, v_uv).rgb * light, o.b); covered = mix(covered, 1.0, o.b); }
    if (layerCount > 3) { c = mix(c, texture(layer3, v_uv).rgb * light, o.a); covered = mix(covered, 1.0, o.a); }
    colour = vec4(c * v_clear + fogColour * (1.0 - v_clear) * covered, 1.0);
}
)GLSL";
// Props: boxes lit at their corners (a face's light is one), tinted.
const char* kPropVertex = "#version 450 core\n" FLOOR_COMMON R"GLSL(
layout(location = 0) in vec3 corner;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec4 centre;
layout(location = 3) in vec4 extents;
layout(location = 4) in vec4 tint;
out vec3 v_colour; out float v_clear;
void main() {
    vec3 world = centre.xyz + corner * extents.xyz;
    gl_Position = viewProjection * vec4(world, 1.0);
    gl_ClipDistance[0] = dot(clipPlane, vec4(world, 1.0));
    v_colour = tint.rgb * Light(normal, world);
    v_clear = 1.0 - FogAmount(world);
}
)GLSL";
const char* kPropPixel = "#version 450 core\n" FLOOR_COMMON R"GLSL(
in vec3 v_colour; in float v_clear;
out vec4 colour;
void main() { colour = vec4(mix(fogColour, v_colour, v_clear), 1.0); }
)GLSL";
// Meshes: each instance's object-to-world rows per instance, the texture lit at each pixel.
const char* kMeshVertex = "#version 450 core\n" FLOOR_COMMON R"GLSL(
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec2 uv;
layout(location = 3) in vec4 row0;
layout(location = 4) in vec4 row1;
layout(location = 5) in vec4 row2;
layout(location = 6) in vec4 tint;
out vec3 v_normal; out vec3 v_world; out vec2 v_uv; out float v_clear; out vec3 v_tint;
void main() {
    vec4 p = vec4(position, 1.0);
    v_tint = tint.rgb;
    v_world = vec3(dot(row0, p), dot(row1, p), dot(row2, p));
    gl_Position = viewProjection * vec4(v_world, 1.0);
    gl_ClipDistance[0] = dot(clipPlane, vec4(v_world, 1.0));
    v_normal = vec3(dot(row0.xyz, normal), dot(row1.xyz, normal), dot(row2.xyz, normal));
    v_uv = uv;
    v_clear = 1.0 - FogAmount(v_world);
}
)GLSL";
const char* kMeshPixel = "#version 450 core\n" FLOOR_COMMON R"GLSL(
layout(binding = 0) uniform sampler2D base;
in vec3 v_normal; in vec3 v_world; in vec2 v_uv; in float v_clear; in vec3 v_tint;
out vec4 colour;
void main() {
    vec3 n = dot(v_normal, v_normal) > 0.0 ? normalize(v_normal) : vec3(0.0, 1.0, 0.0);
    // As the sample mesh shaders do: a face takes less of the ambient the more it turns away from
    // the open above.
    float up = clamp(n.y * 0.5 + 0.5, 0.0, 1.0);
    vec3 turnedAway = mix(groundAmbient, skyAmbient, up) * 0.45 * (1.0 - up);
    vec3 c = v_tint * texture(base, v_uv).rgb * (Light(n, v_world) - turnedAway);
    colour = vec4(mix(fogColour, c, v_clear), 1.0);
}
)GLSL";
// Blades: a quad each, from its root (a blade per instance), alpha-tested, darker to the root.
const char* kBladeVertex = "#version 450 core\n" FLOOR_COMMON R"GLSL(
layout(location = 0) in vec4 root;   // x, y, z, height
layout(location = 1) in vec4 side;   // half width along x and z, u, du
layout(location = 2) in vec3 normal;
out vec2 v_uv; out vec3 v_colour; out float v_clear;
void main() {
    const vec2 corners[4] = vec2[4](vec2(-1.0, 1.0), vec2(1.0, 1.0), vec2(1.0, 0.0), vec2(-1.0, 0.0));
    vec2 k = corners[gl_VertexID];
    vec3 world = root.xyz + vec3(side.x, 0.0, side.y) * k.x + vec3(0.0, root.w * k.y, 0.0);
    gl_Position = viewProjection * vec4(world, 1.0);
    gl_ClipDistance[0] = dot(clipPlane, vec4(world, 1.0));
    v_uv = vec2(side.z + (k.x * 0.5 + 0.5) * side.w, 1.0 - k.y);
    v_colour = Light(normalize(normal), world);
    v_clear = 1.0 - FogAmount(world);
}
)GLSL";
const char* kBladePixel = "#version 450 core\n" FLOOR_COMMON R"GLSL(
layout(binding = 0) uniform sampler2D blades;
in vec2 v_uv; in vec3 v_colour; in float v_clear;
out vec4 colour;
void main() {
    vec4 c = texture(blades, v_uv);
    if (c.a < 128.0 / 255.0)
        discard;
    colour = vec4(mix(fogColour, c.rgb * v_colour * (0.6 + 0.4 * (1.0 - v_uv.y)), v_clear), 1.0);
}
)GLSL";
// Water: its colour mixed with the sky it mirrors (the sky texture where it lies on the screen),
// as much of it as the coverage and the depth over the ground say, blended over what is there.
const char* kWaterVertex = "#version 450 core\n" FLOOR_COMMON R"GLSL(
layout(location = 0) in vec3 position;
layout(location = 1) in vec4 coverage; // coverage, depth
layout(location = 2) in vec4 water;    // colour, the reflection's weight
layout(location = 3) in vec4 depths;   // min depth, max depth, their opacities
out vec4 v_clip; out vec4 v_water; out float v_alpha; out float v_clear;
void main() {
    gl_Position = viewProjection * vec4(position, 1.0);
    gl_ClipDistance[0] = dot(clipPlane, vec4(position, 1.0));
    v_clip = gl_Position;
    v_water = water;
    float d = max(coverage.y - depths.x, 0.0);
    float range = max(depths.y - depths.x, 1.0);
    v_alpha = coverage.x * mix(depths.z, depths.w, min(d / range, 1.0));
    v_clear = 1.0 - FogAmount(position);
}
)GLSL";
const char* kWaterPixel = "#version 450 core\n" FLOOR_COMMON R"GLSL(
layout(binding = 0) uniform sampler2D sky;
in vec4 v_clip; in vec4 v_water; in float v_alpha; in float v_clear;
out vec4 colour;
void main() {
    vec2 screen = v_clip.xy / v_clip.w;
    vec3 mirrored = texture(sky, clamp(vec2(0.5 + 0.5 * screen.x, 0.5 - 0.5 * screen.y), 0.0, 1.0)).rgb;
    colour = vec4(mix(fogColour, mix(v_water.rgb, mirrored, v_water.a), v_clear), v_alpha);
}
)GLSL";

// A region drawn over what is there: its picture, weighed by what it keeps of what lies under it
// (blended: source alpha, one minus source alpha).
const char* kOverVertex = R"GLSL(#version 450 core
void main() {
    const vec2 corners[3] = vec2[3](vec2(-1.0, -1.0), vec2(3.0, -1.0), vec2(-1.0, 3.0));
    gl_Position = vec4(corners[gl_VertexID], 0.0, 1.0);
}
)GLSL";
const char* kOverPixel = R"GLSL(#version 450 core
layout(location = 0) uniform vec2 keep; // the mask's scale, bias
layout(binding = 0) uniform sampler2D drawn; // its alpha 1 where the region shows its portals
layout(binding = 1) uniform sampler2D mask;
out vec4 colour;
void main() {
    vec4 c = texelFetch(drawn, ivec2(gl_FragCoord.xy), 0);
    float m = texture(mask, gl_FragCoord.xy / vec2(textureSize(drawn, 0))).a;
    float kept = max(clamp(m * keep.x + keep.y, 0.0, 1.0), c.a);
    colour = vec4(c.rgb, 1.0 - kept);
}
)GLSL";
// The portals' polygons, into the alpha alone.
const char* kPortalVertex = R"GLSL(#version 450 core
layout(location = 0) uniform mat4 viewProjection;
layout(location = 0) in vec3 position;
void main() { gl_Position = viewProjection * vec4(position, 1.0); }
)GLSL";
const char* kPortalPixel = R"GLSL(#version 450 core
out vec4 colour;
void main() { colour = vec4(0.0, 0.0, 0.0, 1.0); }
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
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked) {
        char log[2048];
        glGetProgramInfoLog(program, sizeof(log), nullptr, log);
        std::fprintf(stderr, "bench_frame: floor program: %s\n", log);
    }
    glDeleteShader(v);
    glDeleteShader(p);
    return program;
}

struct GroundVertex
{
    float position[3];
    float normal[3];
};

struct RegionGround
{
    int region = -1;
    GLint firstIndex = 0;
    GLsizei indexCount = 0;
    GLint baseVertex = 0;
    GAME::Vec3 lo, hi, origin;
    float cellScale[2] = {0.0f, 0.0f};
    size_t opacities = 0; // texture ids (Floor::m_images)
    size_t layers[4] = {};
    int layerCount = 0;
};

// A blade as the terrain places it: its root, height, sideways half width, texture column.
struct BladeInstance
{
    float root[4];   // x, y, z, height
    float side[4];   // half width along x and z, u, du
    float normal[4]; // the ground's normal at the root
};

struct GrassBlock
{
    int region = -1;
    GLuint first = 0, count = 0;
    GAME::Vec3 groundLo, groundHi; // the block's ground, whose nearest depth the reach is measured to
    GAME::Vec3 lo, hi;             // with the blades on it
    size_t texture = 0;
    float reach = 0.0f; // the terrain's grass reach (0: none)
};

struct PropInstance
{
    float centre[4];
    float extents[4];
    float color[4];
};

// The triangles of one face set of a mesh, with its texture.
struct MeshPart
{
    GLint baseVertex = 0;
    GLuint firstIndex = 0;
    GLsizei indexCount = 0;
    size_t texture = 0;
};

struct MeshInstance
{
    size_t firstPart = 0, parts = 0;
    float rows[16]; // object to world, then the tint
    GAME::Vec3 lo, hi;
    int region = -1;
};

struct FloorWaterVertex
{
    float position[3];
    float coverage[2]; // coverage, depth
    float water[4];    // colour, the reflection's weight
    float depths[4];   // min depth, max depth, their opacities
};

struct RegionWater
{
    int region = -1;
    GLint first = 0;
    GLsizei count = 0;
    GAME::Vec3 lo, hi;
};

// The triangles of a region's portals (Floor::m_portalCorners).
struct RegionPortals
{
    int region = -1;
    GLint first = 0;
    GLsizei count = 0;
};

struct FloorPointLight
{
    int region = -1;
    float position[4]; // and reach
    float color[4];
};

// The terrain's grass reach (where its blades have faded and it stops drawing them), as the
// terrain works it out.
struct TerrainReach : GAME::TerrainRenderInterfaceBase
{
    using GAME::TerrainRenderInterfaceBase::GetGrassReach;
};

uint32_t HashArgument(float v)
{
    // As the terrain takes it: the integer part; values beyond any terrain give 0.
    if (!(std::fabs(v) < 9.0e18f))
        return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(v));
}

GAME::Vec3 Offset(const GAME::Region& region)
{
    const GAME::IntVec3 o = region.GetOffsetFromWorld();
    return GAME::Vec3(float(o.x), float(o.y), float(o.z));
}

class Floor
{
public:
    // Copies what the loaded world shows (every region's level in): ground, grass, props, meshes,
    // water and lights, and the world's air; the textures from the game data in the folder. The
    // grass reach is the terrain's for the camera given.
    bool Build(GAME::World& world, const WorldGenerator::Atmosphere& air, const std::filesystem::path& folder,
               bool reflections, const FrameCamera& camera);
    // Draws the views and waits for them; the time in ms.
    double Run(const std::vector<FrameView>& views);
    // One view drawn and read back, rows from the top (empty on failure).
    std::vector<GAME::Pixel> Picture(const FrameView& view);
    void Close();
    bool IsUnderground(int region) const
    {
        return region >= 0 && size_t(region) < m_underground.size() && m_underground[size_t(region)];
    }

private:
    bool OpenContext();
    void Upload();
    size_t Texture(const std::string& name, bool clamp);
    void AddTerrain(int index, GAME::Region& region, const FrameCamera& camera);
    void AddMesh(int region, const GAME::GraphicsMesh& mesh, const GAME::Coords& objectToWorld,
                 const GAME::Color& tint = GAME::Color(1.0f, 1.0f, 1.0f, 1.0f));
    void AddWater(int index, GAME::Region& region, GAME::Water& water);
    void SetCommon(GLuint program, const RegionView& view, const Mat& vp, bool underground);
    // Into the framebuffer bound.
    void DrawRegion(const RegionView& view);
    // Into m_framebuffer: each region in its place, or drawn aside and weighed over what is there.
    void DrawView(const FrameView& view);

    EGLDisplay m_display = EGL_NO_DISPLAY;
    EGLContext m_context = EGL_NO_CONTEXT;
    GLuint m_framebuffer = 0, m_colour = 0, m_depth = 0;
    GLuint m_groundProgram = 0, m_propProgram = 0, m_meshProgram = 0, m_bladeProgram = 0, m_waterProgram = 0;
    GLuint m_groundArray = 0, m_propArray = 0, m_meshArray = 0, m_bladeArray = 0, m_waterArray = 0;
    GLuint m_buffers[9] = {};
    // A region drawn over what is there is drawn here first.
    GLuint m_asideFramebuffer = 0, m_asideColour = 0, m_asideDepth = 0;
    GLuint m_overProgram = 0, m_overArray = 0;
    GLuint m_portalProgram = 0, m_portalArray = 0, m_portalBuffer = 0;
    size_t m_maskTexture = 0;
    std::filesystem::path m_folder;
    size_t m_skyTexture = 0;
    WorldGenerator::Atmosphere m_air;
    bool m_reflections = false;
    std::vector<bool> m_underground; // by region index

    // Textures by name (with "#clamp" when clamped), their images and, once uploaded, their names.
    std::map<std::string, size_t> m_textureIds;
    std::vector<TextureImage> m_images;
    std::vector<bool> m_clamped;
    std::vector<GLuint> m_textures;
    std::vector<GroundVertex> m_groundVertices;
    std::vector<uint32_t> m_groundIndices;
    std::vector<RegionGround> m_regions;
    std::vector<BladeInstance> m_blades;
    std::vector<GrassBlock> m_grass;
    std::vector<PropInstance> m_props;
    std::vector<int> m_propRegions;
    std::vector<float> m_meshVertices; // position, normal, uv
    std::vector<uint16_t> m_meshIndices;
    std::vector<MeshPart> m_meshParts;
    std::map<const GAME::GraphicsMesh*, std::pair<size_t, size_t>> m_meshOf; // first part, count
    std::vector<MeshInstance> m_meshInstances;
    std::vector<FloorWaterVertex> m_water;
    std::vector<RegionWater> m_waterRanges;
    std::vector<FloorPointLight> m_lights;
    std::vector<float> m_portalCorners; // the portals' triangles in world space
    std::vector<RegionPortals> m_portalRanges;
    // What a frame draws, made again each frame.
    std::vector<PropInstance> m_visibleProps;
    std::vector<float> m_visibleRows;
};

size_t Floor::Texture(const std::string& name, bool clamp)
{
    std::string key = name;
    for (char& c : key)
        c = c == '\\' ? '/' : c;
    const std::string id = key + (clamp ? "#clamp" : "");
    if (auto it = m_textureIds.find(id); it != m_textureIds.end())
        return it->second;
    TextureImage image;
    if (!ReadDds(m_folder / key, image)) {
        std::printf("bench_frame: the floor could not read the texture %s; it draws white\n", key.c_str());
        image.width = image.height = 1;
        image.levels = {{255, 255, 255, 255}};
    }
    m_images.push_back(std::move(image));
    m_clamped.push_back(clamp);
    m_textureIds[id] = m_images.size() - 1;
    return m_images.size() - 1;
}

void Floor::AddTerrain(int index, GAME::Region& region, const FrameCamera& camera)
{
    GAME::Level* level = region.GetLevelPtr();
    const GAME::TerrainBase* terrain = level ? level->GetTerrain() : nullptr;
    if (!terrain || terrain->GetNumXSamples() < 2 || terrain->GetNumYSamples() < 2)
        return;
    const GAME::Vec3 offset = Offset(region);
    const unsigned nx = terrain->GetNumXSamples(), ny = terrain->GetNumYSamples();
    const unsigned layers = std::min(terrain->GetNumTextureLayers(), 4u);
    RegionGround ground;
    ground.region = index;
    ground.origin = offset;
    ground.baseVertex = GLint(m_groundVertices.size());
    ground.firstIndex = GLint(m_groundIndices.size());
    ground.cellScale[0] = 1.0f / float(nx - 1);
    ground.cellScale[1] = 1.0f / float(ny - 1);
    ground.lo = GAME::Vec3(1e30f, 1e30f, 1e30f);
    ground.hi = GAME::Vec3(-1e30f, -1e30f, -1e30f);
    for (unsigned y = 0; y < ny; ++y)
        for (unsigned x = 0; x < nx; ++x) {
            const GAME::Vec3 p = offset + GAME::Vec3(float(x), terrain->GetHeight(int(x), int(y)), float(y));
            const GAME::Vec3 n = terrain->GetFastNormal(int(x), int(y));
            m_groundVertices.push_back({{p.x, p.y, p.z}, {n.x, n.y, n.z}});
            ground.lo = GAME::Vec3::Min(ground.lo, p);
            ground.hi = GAME::Vec3::Max(ground.hi, p);
        }
    for (unsigned y = 0; y + 1 < ny; ++y)
        for (unsigned x = 0; x + 1 < nx; ++x) {
            const uint32_t a = x + nx * y, b = a + 1, c = a + nx, d = c + 1;
            for (uint32_t i : {d, c, a, a, b, d})
                m_groundIndices.push_back(i);
        }
    ground.indexCount = GLsizei(m_groundIndices.size()) - ground.firstIndex;

    // The layers' opacities a texel a cell, as the terrain hands them to its shader (the bottom
    // layer of the game's form opaque where it has none), layer k in channel k.
    const auto* runTime = terrain->GetType() == GAME::TerrainBase::TERRAIN_BASE_RUN_TIME
                              ? static_cast<const GAME::TerrainRT*>(terrain)
                              : nullptr;
    TextureImage opacities;
    opacities.width = int(nx - 1);
    opacities.height = int(ny - 1);
    opacities.levels.assign(1, std::vector<uint8_t>(size_t(nx - 1) * (ny - 1) * 4, 0));
    static const size_t channel[4] = {2, 1, 0, 3}; // red, green, blue, alpha of bytes B, G, R, A
    for (unsigned l = 0; l < layers; ++l) {
        const uint8_t* bytes = runTime ? runTime->GetLayerOpacityBytes(l) : nullptr;
        for (unsigned y = 0; y + 1 < ny; ++y)
            for (unsigned x = 0; x + 1 < nx; ++x) {
                const size_t cell = size_t(y) * (nx - 1) + x;
                const unsigned value = bytes     ? bytes[cell]
                                       : runTime ? 255u
                                                 : terrain->GetLayerOpacity(l, x, y);
                opacities.levels[0][cell * 4 + channel[l]] = uint8_t(value);
            }
        const GAME::TerrainType* type = terrain->GetLayerTerrainType(l);
        ground.layers[l] = Texture(type ? type->GetTextureFileName() : std::string(), false);
    }
    ground.layerCount = int(layers);
    m_images.push_back(std::move(opacities));
    m_clamped.push_back(true);
    ground.opacities = m_images.size() - 1;
    m_regions.push_back(ground);

    // The terrain's grass reach for the camera: its region-to-screen rows are the view's.
    const Mat vp = ViewProjection(camera);
    GAME::Mat4 regionToScreen;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            regionToScreen.m[4 * r + c] = vp.m[c * 4 + r];
    const GAME::Viewport viewport(0, 0, kWidth, kHeight);

    // The blades as the terrain places them in each block (TerrainBlock).
    const bool lowQuality = terrain->LowQuality();
    for (unsigned by = 0; by < terrain->NumYBlocks(); ++by)
        for (unsigned bx = 0; bx < terrain->NumXBlocks(); ++bx) {
            const GAME::TerrainBlock* block = terrain->GetBlock(bx, by);
            if (!block)
                continue;
            const std::vector<unsigned>& blockLayers = block->GetLayers();
            for (size_t entry = 0; entry < blockLayers.size(); ++entry) {
                const unsigned layer = blockLayers[entry];
                const GAME::TerrainType* type = terrain->GetLayerTerrainType(layer);
                if (!type || !type->GetBladeTexture() || type->GetNumBladeVariations() == 0)
                    continue;
                if (lowQuality && type->GetBladeHeight() < GAME::TerrainBlock::lowQualityMinimumBladeHeight)
                    continue;
                const uint32_t variations = type->GetNumBladeVariations();
                const float width = type->GetBladeWidth();
                const float height = type->GetBladeHeight() * (lowQuality ? 0.5f : 1.0f);
                const uint64_t spread = uint64_t(type->GetBladeSpacing()) + variations;
                const float minimumOpacity = float(type->GetMinimumBladeOpacity());
                GrassBlock grass;
                grass.region = index;
                grass.first = GLuint(m_blades.size());
                const float x0 = float(block->GetFirstCellX()), z0 = float(block->GetFirstCellY());
                const float xEnd = x0 + float(block->GetNumXSamples() - 1);
                const float zEnd = z0 + float(block->GetNumYSamples() - 1);
                unsigned count = 0;
                for (float z = z0; z < zEnd && count < GAME::TerrainBlock::maxNumGrassPlanes;
                     z += GAME::TerrainBlock::grassCellSpacing)
                    for (float x = x0; x < xEnd && count < GAME::TerrainBlock::maxNumGrassPlanes;
                         x += GAME::TerrainBlock::grassCellSpacing) {
                        // The layer's opacity, less what the layers above it cover.
                        float opacity =
                            float(terrain->GetLayerOpacityInterpolated(layer, x - 0.5f, z - 0.5f));
                        for (size_t above = entry + 1; above < blockLayers.size(); ++above)
                            opacity =
                                opacity *
                                float(255u - std::min(255u, terrain->GetLayerOpacityInterpolated(
                                                                blockLayers[above], x - 0.5f, z - 0.5f))) /
                                255.0f;
                        if (!(minimumOpacity < opacity))
                            continue;
                        if (GAME::HashInt(HashArgument(x * 12343.0f + z * 7873.0f)) % spread >= variations)
                            continue;
                        const uint32_t variation =
                            GAME::HashInt(HashArgument(x * 13.0f + z * 11323.0f)) % variations;
                        const float angle =
                            float(GAME::HashInt(HashArgument(x * 3219.0f + z * 23113.0f))) * 0.017453292f;
                        const float scale = opacity / 255.0f;
                        const float w = width * scale, h = height * scale;
                        const GAME::Vec3 n = terrain->GetNormalInterpolated(x, z);
                        BladeInstance blade{};
                        blade.root[0] = offset.x + x;
                        blade.root[1] = offset.y + terrain->GetHeightInterpolated(x, z);
                        blade.root[2] = offset.z + z;
                        blade.root[3] = h;
                        blade.side[0] = std::cos(angle) * w;
                        blade.side[1] = std::sin(angle) * w;
                        blade.side[2] = float(variation) / float(variations);
                        blade.side[3] = 1.0f / float(variations);
                        blade.normal[0] = n.x;
                        blade.normal[1] = n.y;
                        blade.normal[2] = n.z;
                        m_blades.push_back(blade);
                        ++count;
                    }
                grass.count = count;
                const GAME::ABBox& box = block->GetBoundingBox();
                grass.groundLo = offset + box.center - box.extents;
                grass.groundHi = offset + box.center + box.extents;
                grass.lo = grass.groundLo - GAME::Vec3(width, 0.0f, width);
                grass.hi = grass.groundHi + GAME::Vec3(width, height, width);
                grass.texture = Texture(type->GetBladeTextureFileName(), false);
                grass.reach = TerrainReach::GetGrassReach(*type, regionToScreen, viewport);
                if (count)
                    m_grass.push_back(grass);
            }
        }
}

void Floor::AddMesh(int region, const GAME::GraphicsMesh& mesh, const GAME::Coords& objectToWorld,
                    const GAME::Color& tint)
{
    auto known = m_meshOf.find(&mesh);
    if (known == m_meshOf.end()) {
        auto& gm = const_cast<GAME::GraphicsMesh&>(mesh);
        GAME::RenderVertexBuffer* vertices = gm.GetVertexBuffer();
        GAME::RenderIndexBuffer* indices = gm.GetIndexBuffer();
        const int32_t position = gm.GetAttributeOffset(GAME::VERTEX_USAGE_POSITION);
        const int32_t normal = gm.GetAttributeOffset(GAME::VERTEX_USAGE_NORMAL);
        const int32_t uv = gm.GetAttributeOffset(GAME::VERTEX_USAGE_TEXCOORD0);
        const uint32_t stride = gm.GetVertexStride(), count = gm.GetNumVertices();
        std::pair<size_t, size_t> parts(m_meshParts.size(), 0);
        // The device keeps what was uploaded: a lock reads it back.
        const auto* vertexBytes =
            vertices && position >= 0 ? static_cast<const uint8_t*>(vertices->Lock()) : nullptr;
        const auto* indexWords = indices ? static_cast<const uint16_t*>(indices->Lock()) : nullptr;
        if (vertexBytes && indexWords) {
            const GLint base = GLint(m_meshVertices.size() / 8);
            for (uint32_t v = 0; v < count; ++v) {
                const uint8_t* at = vertexBytes + size_t(v) * stride;
                float values[8] = {0, 0, 0, 0, 1, 0, 0, 0};
                std::memcpy(values, at + position, 12);
                if (normal >= 0)
                    std::memcpy(values + 3, at + normal, 12);
                if (uv >= 0)
                    std::memcpy(values + 6, at + uv, 8);
                m_meshVertices.insert(m_meshVertices.end(), values, values + 8);
            }
            for (uint32_t s = 0; s < gm.GetNumFaceSets(); ++s) {
                const GAME::GraphicsMesh::FaceSet& set = gm.GetFaceSet(s);
                MeshPart part;
                part.baseVertex = base;
                part.firstIndex = GLuint(m_meshIndices.size());
                part.indexCount = GLsizei(set.numFaces * 3);
                m_meshIndices.insert(m_meshIndices.end(), indexWords + size_t(set.firstFace) * 3,
                                     indexWords + size_t(set.firstFace + set.numFaces) * 3);
                std::string texture;
                if (set.material < gm.GetNumMaterials())
                    for (const auto& parameter : gm.GetMaterial(set.material).parameters)
                        if (parameter.texture && parameter.nameText == "baseTexture")
                            texture = parameter.texture->GetFileNameString();
                part.texture = Texture(texture.empty() ? "System/Textures/White.tex" : texture, false);
                m_meshParts.push_back(part);
                ++parts.second;
            }
        } else {
            std::printf("bench_frame: the floor could not read the mesh %s\n", mesh.GetFileName());
        }
        if (vertexBytes)
            vertices->Unlock();
        if (indexWords)
            indices->Unlock();
        known = m_meshOf.emplace(&mesh, parts).first;
    }
    if (known->second.second == 0)
        return;
    MeshInstance instance;
    instance.firstPart = known->second.first;
    instance.parts = known->second.second;
    instance.region = region;
    const GAME::Coords& c = objectToWorld;
    const float rows[16] = {c.xAxis.x, c.yAxis.x, c.zAxis.x, c.origin.x, c.xAxis.y, c.yAxis.y,
                            c.zAxis.y, c.origin.y, c.xAxis.z, c.yAxis.z, c.zAxis.z, c.origin.z,
                            tint.r,    tint.g,    tint.b,    1.0f};
    std::memcpy(instance.rows, rows, sizeof(rows));
    const GAME::ABBox& box = mesh.GetBoundingBox();
    instance.lo = GAME::Vec3(1e30f, 1e30f, 1e30f);
    instance.hi = GAME::Vec3(-1e30f, -1e30f, -1e30f);
    for (int corner = 0; corner < 8; ++corner) {
        const GAME::Vec3 p =
            c.TransformPoint(box.center + GAME::Vec3(corner & 1 ? box.extents.x : -box.extents.x,
                                                     corner & 2 ? box.extents.y : -box.extents.y,
                                                     corner & 4 ? box.extents.z : -box.extents.z));
        instance.lo = GAME::Vec3::Min(instance.lo, p);
        instance.hi = GAME::Vec3::Max(instance.hi, p);
    }
    m_meshInstances.push_back(instance);
}

void Floor::AddWater(int index, GAME::Region& region, GAME::Water& water)
{
    GAME::RenderIndexBuffer* strips = water.GetBlockIndexBuffer();
    const auto* stripIndices = strips ? static_cast<const uint16_t*>(strips->Lock()) : nullptr;
    if (!stripIndices)
        return;
    const unsigned stripCount = strips->GetNumIndices();
    const GAME::Vec3 offset = Offset(region);
    RegionWater range;
    range.region = index;
    range.first = GLint(m_water.size());
    range.lo = GAME::Vec3(1e30f, 1e30f, 1e30f);
    range.hi = GAME::Vec3(-1e30f, -1e30f, -1e30f);
    std::vector<GAME::WaterElement*> elements;
    // All of it: the six faces of a box far round the region, facing in.
    GAME::Frustum everything;
    const GAME::Vec3 axes[3] = {GAME::Vec3(1, 0, 0), GAME::Vec3(0, 1, 0), GAME::Vec3(0, 0, 1)};
    for (const GAME::Vec3& axis : axes) {
        everything.AddPlane(GAME::Plane(axis, axis * -1.0e5f));
        everything.AddPlane(GAME::Plane(axis * -1.0f, axis * 1.0e5f));
    }
    water.GetBlocksInFrustum(elements, &everything, 1);
    for (GAME::WaterElement* element : elements) {
        const auto type = element->GetElementType();
        if (type != GAME::WaterElement::ELEMENT_BLOCK && type != GAME::WaterElement::ELEMENT_PATH_SEGMENT)
            continue;
        GAME::RenderVertexBuffer* buffer = element->GetVertexBuffer();
        const GAME::WaterType* waterType = element->GetWaterType();
        const auto* vertices = buffer ? static_cast<const GAME::WaterVertex*>(buffer->Lock()) : nullptr;
        if (!vertices || !waterType) {
            if (vertices)
                buffer->Unlock();
            continue;
        }
        const unsigned available = buffer->GetSize() / GAME::WaterElement::vertexStride;
        const unsigned triangles =
            type == GAME::WaterElement::ELEMENT_BLOCK
                ? GAME::WaterElement::GetStripTriangleCount(GAME::WaterBlock::numStripRows)
                : static_cast<const GAME::WaterPathSegment*>(element)->GetNumTriangles();
        const float reflect = std::clamp(waterType->Reflectivity() * 0.5f, 0.0f, 1.0f);
        const GAME::Vec3& colour = waterType->WaterColor();
        auto vertex = [&](unsigned i) {
            const GAME::WaterVertex& v = vertices[std::min(i, available - 1)];
            FloorWaterVertex out{};
            out.position[0] = offset.x + v.position[0];
            out.position[1] = offset.y + v.position[1];
            out.position[2] = offset.z + v.position[2];
            const float a = float(v.color >> 24) / 255.0f, g = float((v.color >> 8) & 0xFF) / 255.0f,
                        b = float(v.color & 0xFF) / 255.0f;
            out.coverage[0] = a;
            out.coverage[1] = g * 255.0f + b;
            out.water[0] = colour.x;
            out.water[1] = colour.y;
            out.water[2] = colour.z;
            out.water[3] = reflect;
            out.depths[0] = waterType->MinDepth();
            out.depths[1] = waterType->MaxDepth();
            out.depths[2] = waterType->MinDepthOpacity();
            out.depths[3] = waterType->MaxDepthOpacity();
            return out;
        };
        // The element's triangle strip over the shared strip indices, as separate triangles.
        const unsigned base = element->GetFirstVertex();
        for (unsigned k = 0; k < triangles && k + 2 < stripCount; ++k) {
            const unsigned a = stripIndices[k], b = stripIndices[k + 1], c = stripIndices[k + 2];
            if (a == b || b == c || a == c)
                continue;
            for (unsigned i : {a, b, c}) {
                m_water.push_back(vertex(base + i));
                const GAME::Vec3 p(m_water.back().position[0], m_water.back().position[1],
                                   m_water.back().position[2]);
                range.lo = GAME::Vec3::Min(range.lo, p);
                range.hi = GAME::Vec3::Max(range.hi, p);
            }
        }
        buffer->Unlock();
    }
    strips->Unlock();
    range.count = GLsizei(m_water.size()) - range.first;
    if (range.count)
        m_waterRanges.push_back(range);
}

bool Floor::Build(GAME::World& world, const WorldGenerator::Atmosphere& air,
                  const std::filesystem::path& folder, bool reflections, const FrameCamera& camera)
{
    m_air = air;
    m_folder = folder;
    m_reflections = reflections;
    m_underground.assign(size_t(std::max(world.GetNumRegions(), 0)), false);
    static const struct
    {
        const char* word;
        float r, g, b;
    } looks[] = {{"Rock", 0.5f, 0.5f, 0.5f},
                 {"Tree", 0.2f, 0.6f, 0.2f},
                 {"Bush", 0.15f, 0.4f, 0.1f},
                 {"Ruin", 0.7f, 0.6f, 0.45f}};
    int levels = 0;
    for (int r = 0; r < world.GetNumRegions(); ++r) {
        GAME::Region* region = world.GetRegion(r);
        GAME::Level* level = region ? region->GetLevelPtr() : nullptr;
        if (!level)
            continue;
        ++levels;
        const GAME::Vec3 offset = Offset(*region);
        m_underground[size_t(r)] = level->GetGridRegion() != nullptr && !level->GetTerrain();
        AddTerrain(r, *region, camera);
        std::vector<GAME::Entity*> entities;
        level->GetEntities(entities, GAME::ENTITY_LIST_ALL);
        for (GAME::Entity* entity : entities) {
            if (auto* actor = dynamic_cast<GAME::Actor*>(entity)) {
                const GAME::GraphicsMeshInstance* instance = actor->GetMeshInstance();
                const GAME::GraphicsMesh* mesh = instance ? instance->GetMesh() : nullptr;
                if (!mesh)
                    continue;
                GAME::Coords placement = actor->GetCoords().GetRegionCoords();
                const float scale = actor->GetCurrentScale();
                placement.xAxis = placement.xAxis * scale;
                placement.yAxis = placement.yAxis * scale;
                placement.zAxis = placement.zAxis * scale;
                placement.origin = placement.origin + offset;
                AddMesh(r, *mesh, placement, actor->GetTintColor());
                continue;
            }
            if (auto* light = dynamic_cast<GAME::Light*>(entity)) {
                if (!light->IsEnabled() || light->GetType() != GAME::Light::TYPE_POINT)
                    continue;
                const GAME::Vec3 p = light->GetCoords().GetOrigin().GetRegionPosition() + offset;
                const GAME::Color& c = light->GetColor();
                const float i = light->GetIntensity();
                m_lights.push_back(
                    {r, {p.x, p.y, p.z, light->GetRadius()}, {c.r * i, c.g * i, c.b * i, 1.0f}});
                continue;
            }
            for (const auto& look : looks)
                if (entity->GetObjectName().find(look.word) != std::string::npos) {
                    const GAME::ABBox& box = entity->GetRegionBoundingBox();
                    const GAME::Vec3 c = box.center + offset;
                    m_props.push_back({{c.x, c.y, c.z, 0},
                                       {box.extents.x, box.extents.y, box.extents.z, 0},
                                       {look.r, look.g, look.b, 1}});
                    m_propRegions.push_back(r);
                    break;
                }
        }
        if (GAME::GridRegion* grid = level->GetGridRegion())
            for (int y = 0; y < grid->GetYNumCells(); ++y)
                for (int z = 0; z < grid->GetZNumCells(); ++z)
                    for (int x = 0; x < grid->GetXNumCells(); ++x) {
                        const GAME::GraphicsMeshInstance* cell = grid->GetCellMesh(x, y, z);
                        if (!cell || !cell->GetMesh())
                            continue;
                        GAME::Coords placement = cell->GetObjectToRegionCoords();
                        placement.xAxis = placement.xAxis * cell->GetScale();
                        placement.yAxis = placement.yAxis * cell->GetScale();
                        placement.zAxis = placement.zAxis * cell->GetScale();
                        placement.origin = placement.origin + offset;
                        AddMesh(r, *cell->GetMesh(), placement);
                    }
        if (GAME::Water* water = level->GetWater())
            AddWater(r, *region, *water);
        RegionPortals portals;
        portals.region = r;
        portals.first = GLint(m_portalCorners.size() / 3);
        for (int i = 0; i < region->GetNumPortals(); ++i) {
            const GAME::Portal* portal = region->GetPortal(i);
            if (!portal)
                continue;
            for (const GAME::Triangle& triangle : portal->GetTriangles())
                for (const GAME::Vec3& corner : triangle.corners) {
                    const GAME::Vec3 p = portal->GetCoords().TransformPoint(corner) + offset;
                    m_portalCorners.insert(m_portalCorners.end(), {p.x, p.y, p.z});
                }
        }
        portals.count = GLsizei(m_portalCorners.size() / 3) - portals.first;
        if (portals.count)
            m_portalRanges.push_back(portals);
    }
    m_skyTexture = Texture(DataKit::WaterShaders::skyTextureName, true);
    m_maskTexture = Texture(DataKit::SampleGameData::inverseTransparencyMaskName, true);
    if (m_regions.empty()) {
        std::printf("bench_frame: the floor found no ground (%d regions, %d levels)\n", world.GetNumRegions(),
                    levels);
        return false;
    }
    if (!OpenContext())
        return false;
    Upload();
    std::printf("floor:   %zu regions of ground, %zu blades in %zu blocks, %zu props, %zu meshes in %zu "
                "instances, %zu water triangles, %zu point lights, %zu portal triangles\n",
                m_regions.size(), m_blades.size(), m_grass.size(), m_props.size(), m_meshOf.size(),
                m_meshInstances.size(), m_water.size() / 3, m_lights.size(), m_portalCorners.size() / 9);
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
    glCreateTextures(GL_TEXTURE_2D, 1, &m_asideColour);
    glTextureStorage2D(m_asideColour, 1, GL_RGBA8, kWidth, kHeight);
    glCreateRenderbuffers(1, &m_asideDepth);
    glNamedRenderbufferStorage(m_asideDepth, GL_DEPTH_COMPONENT24, kWidth, kHeight);
    glCreateFramebuffers(1, &m_asideFramebuffer);
    glNamedFramebufferTexture(m_asideFramebuffer, GL_COLOR_ATTACHMENT0, m_asideColour, 0);
    glNamedFramebufferRenderbuffer(m_asideFramebuffer, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, m_asideDepth);

    m_groundProgram = Program(kGroundVertex, kGroundPixel);
    m_propProgram = Program(kPropVertex, kPropPixel);
    m_meshProgram = Program(kMeshVertex, kMeshPixel);
    m_bladeProgram = Program(kBladeVertex, kBladePixel);
    m_waterProgram = Program(kWaterVertex, kWaterPixel);
    m_overProgram = Program(kOverVertex, kOverPixel);
    m_portalProgram = Program(kPortalVertex, kPortalPixel);
    for (size_t i = 0; i < m_images.size(); ++i)
        m_textures.push_back(MakeTexture(m_images[i], m_clamped[i]));

    // A cube of half size 1, a normal per face: 36 corners.
    std::vector<float> cube;
    const int faces[6][4][3] = {{{1, -1, -1}, {1, 1, -1}, {1, 1, 1}, {1, -1, 1}},
                                {{-1, -1, 1}, {-1, 1, 1}, {-1, 1, -1}, {-1, -1, -1}},
                                {{-1, 1, -1}, {-1, 1, 1}, {1, 1, 1}, {1, 1, -1}},
                                {{-1, -1, 1}, {-1, -1, -1}, {1, -1, -1}, {1, -1, 1}},
                                {{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}},
                                {{1, -1, -1}, {-1, -1, -1}, {-1, 1, -1}, {1, 1, -1}}};
    const float normals[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (int f = 0; f < 6; ++f)
        for (int i : {0, 1, 2, 0, 2, 3}) {
            for (int k = 0; k < 3; ++k)
                cube.push_back(float(faces[f][i][k]));
            for (int k = 0; k < 3; ++k)
                cube.push_back(normals[f][k]);
        }

    glCreateBuffers(9, m_buffers);
    auto fill = [](GLuint buffer, const void* data, size_t bytes, bool dynamic) {
        glNamedBufferStorage(buffer, GLsizeiptr(std::max<size_t>(bytes, 16)),
                             bytes && !dynamic ? data : nullptr, dynamic ? GL_DYNAMIC_STORAGE_BIT : 0);
    };
    fill(m_buffers[0], m_groundVertices.data(), m_groundVertices.size() * sizeof(GroundVertex), false);
    fill(m_buffers[1], m_groundIndices.data(), m_groundIndices.size() * sizeof(uint32_t), false);
    fill(m_buffers[2], cube.data(), cube.size() * sizeof(float), false);
    fill(m_buffers[3], nullptr, m_props.size() * sizeof(PropInstance), true);
    fill(m_buffers[4], m_meshVertices.data(), m_meshVertices.size() * sizeof(float), false);
    fill(m_buffers[5], m_meshIndices.data(), m_meshIndices.size() * sizeof(uint16_t), false);
    fill(m_buffers[6], nullptr, m_meshInstances.size() * 16 * sizeof(float), true);
    fill(m_buffers[7], m_blades.data(), m_blades.size() * sizeof(BladeInstance), false);
    fill(m_buffers[8], m_water.data(), m_water.size() * sizeof(FloorWaterVertex), false);

    auto attribute = [](GLuint array, GLuint index, GLint size, GLuint offset, GLuint binding) {
        glEnableVertexArrayAttrib(array, index);
        glVertexArrayAttribFormat(array, index, size, GL_FLOAT, GL_FALSE, offset);
        glVertexArrayAttribBinding(array, index, binding);
    };
    glCreateVertexArrays(1, &m_groundArray);
    glVertexArrayVertexBuffer(m_groundArray, 0, m_buffers[0], 0, sizeof(GroundVertex));
    glVertexArrayElementBuffer(m_groundArray, m_buffers[1]);
    attribute(m_groundArray, 0, 3, 0, 0);
    attribute(m_groundArray, 1, 3, 12, 0);

    glCreateVertexArrays(1, &m_propArray);
    glVertexArrayVertexBuffer(m_propArray, 0, m_buffers[2], 0, 24);
    glVertexArrayVertexBuffer(m_propArray, 1, m_buffers[3], 0, sizeof(PropInstance));
    glVertexArrayBindingDivisor(m_propArray, 1, 1);
    attribute(m_propArray, 0, 3, 0, 0);
    attribute(m_propArray, 1, 3, 12, 0);
    for (GLuint a = 0; a < 3; ++a)
        attribute(m_propArray, 2 + a, 4, a * 16, 1);

    glCreateVertexArrays(1, &m_meshArray);
    glVertexArrayVertexBuffer(m_meshArray, 0, m_buffers[4], 0, 32);
    glVertexArrayVertexBuffer(m_meshArray, 1, m_buffers[6], 0, 64);
    glVertexArrayBindingDivisor(m_meshArray, 1, 1);
    glVertexArrayElementBuffer(m_meshArray, m_buffers[5]);
    attribute(m_meshArray, 0, 3, 0, 0);
    attribute(m_meshArray, 1, 3, 12, 0);
    attribute(m_meshArray, 2, 2, 24, 0);
    for (GLuint a = 0; a < 4; ++a)
        attribute(m_meshArray, 3 + a, 4, a * 16, 1);

    glCreateVertexArrays(1, &m_bladeArray);
    glVertexArrayVertexBuffer(m_bladeArray, 0, m_buffers[7], 0, sizeof(BladeInstance));
    glVertexArrayBindingDivisor(m_bladeArray, 0, 1);
    for (GLuint a = 0; a < 3; ++a)
        attribute(m_bladeArray, a, 4, a * 16, 0);

    glCreateVertexArrays(1, &m_waterArray);
    glVertexArrayVertexBuffer(m_waterArray, 0, m_buffers[8], 0, sizeof(FloorWaterVertex));
    attribute(m_waterArray, 0, 3, 0, 0);
    attribute(m_waterArray, 1, 2, 12, 0);
    attribute(m_waterArray, 2, 4, 20, 0);
    attribute(m_waterArray, 3, 4, 36, 0);

    glCreateBuffers(1, &m_portalBuffer);
    fill(m_portalBuffer, m_portalCorners.data(), m_portalCorners.size() * sizeof(float), false);
    glCreateVertexArrays(1, &m_portalArray);
    glVertexArrayVertexBuffer(m_portalArray, 0, m_portalBuffer, 0, 12);
    attribute(m_portalArray, 0, 3, 0, 0);
    glCreateVertexArrays(1, &m_overArray);
    glFinish();
    eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, previous);
}

void Floor::SetCommon(GLuint program, const RegionView& view, const Mat& vp, bool underground)
{
    glUseProgram(program);
    glUniformMatrix4fv(0, 1, GL_FALSE, vp.m);
    const FrameCamera& c = view.camera;
    glUniform3f(1, c.origin.x, c.origin.y, c.origin.z);
    glUniform3fv(2, 1, m_air.fogColor);
    // Underground there is no fog: its densities go as 0.
    auto inverse = [](float from, float to) { return to != from ? 1.0f / (to - from) : 0.0f; };
    glUniform3f(3, m_air.depthFogStart, inverse(m_air.depthFogStart, m_air.depthFogEnd),
                underground ? 0.0f : m_air.depthFogDensity);
    glUniform3f(4, m_air.heightFogBase, inverse(m_air.heightFogBase, m_air.heightFogTop),
                underground ? 0.0f : m_air.heightFogDensity);
    const FrameLights& l = view.lights;
    glUniform3f(5, l.sunDirection.x, l.sunDirection.y, l.sunDirection.z);
    glUniform3f(6, l.sunColor.x, l.sunColor.y, l.sunColor.z);
    glUniform3f(7, l.sky.x, l.sky.y, l.sky.z);
    glUniform3f(8, l.ground.x, l.ground.y, l.ground.z);
    // The point lights that reach into the view, of the cave the view is in or of the fields.
    float positions[kMaxPointLights][4], colours[kMaxPointLights][4];
    int count = 0;
    for (const FloorPointLight& light : m_lights) {
        if (count == kMaxPointLights || IsUnderground(light.region) != underground ||
            (underground && light.region != view.region))
            continue;
        const float* p = light.position;
        if (BoxOutside(vp, GAME::Vec3(p[0] - p[3], p[1] - p[3], p[2] - p[3]),
                       GAME::Vec3(p[0] + p[3], p[1] + p[3], p[2] + p[3])))
            continue;
        std::memcpy(positions[count], light.position, sizeof(light.position));
        std::memcpy(colours[count], light.color, sizeof(light.color));
        ++count;
    }
    glUniform1i(9, count);
    if (count) {
        glUniform4fv(10, count, &positions[0][0]);
        glUniform4fv(18, count, &colours[0][0]);
    }
    glUniform4fv(40, 1, view.clip);
}

void Floor::DrawView(const FrameView& view)
{
    bool first = true;
    for (const RegionView& region : view.regions) {
        // Over what is there, it keeps all of it: nothing of it shows.
        if (region.over && !first && region.keepBias >= 1.0f)
            continue;
        if (!region.over || first) {
            glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
            DrawRegion(region);
            first = false;
            continue;
        }
        glBindFramebuffer(GL_FRAMEBUFFER, m_asideFramebuffer);
        DrawRegion(region);
        glDisable(GL_CLIP_DISTANCE0);
        // Its alpha 1 on the portals of the regions it shows, where they are seen; else 0.
        const Mat vp = ViewProjection(region.camera);
        const bool underground = IsUnderground(region.region);
        glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glUseProgram(m_portalProgram);
        glUniformMatrix4fv(0, 1, GL_FALSE, vp.m);
        glBindVertexArray(m_portalArray);
        glDepthMask(GL_FALSE);
        for (const RegionPortals& portals : m_portalRanges)
            if (underground ? portals.region == region.region : !IsUnderground(portals.region))
                glDrawArrays(GL_TRIANGLES, portals.first, portals.count);
        glDepthMask(GL_TRUE);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);

        glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
        glDisable(GL_DEPTH_TEST);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glUseProgram(m_overProgram);
        glUniform2f(0, region.keepScale, region.keepBias);
        const GLuint textures[2] = {m_asideColour, m_textures[m_maskTexture]};
        glBindTextures(0, 2, textures);
        glBindVertexArray(m_overArray);
        glDrawArrays(GL_TRIANGLES, 0, 3);
        glDisable(GL_BLEND);
        glEnable(GL_DEPTH_TEST);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
}

void Floor::DrawRegion(const RegionView& view)
{
    if (view.clipped)
        glEnable(GL_CLIP_DISTANCE0);
    else
        glDisable(GL_CLIP_DISTANCE0);
    const Mat vp = ViewProjection(view.camera);
    const bool underground = IsUnderground(view.region);
    // Outdoors the fields (never the caves below them); in a cave that cave.
    auto inView = [&](int region) { return underground ? region == view.region : !IsUnderground(region); };
    // The sky in the fog's colour, as the outdoor regions clear to it; black underground.
    if (underground)
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    else
        glClearColor(m_air.fogColor[0], m_air.fogColor[1], m_air.fogColor[2], 1.0f);
    glDepthMask(GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    if (!underground) {
        SetCommon(m_groundProgram, view, vp, underground);
        glBindVertexArray(m_groundArray);
        for (const RegionGround& region : m_regions) {
            if (!inView(region.region) || BoxOutside(vp, region.lo, region.hi))
                continue;
            glUniform3f(30, region.origin.x, region.origin.y, region.origin.z);
            glUniform2f(31, region.cellScale[0], region.cellScale[1]);
            glUniform1i(32, region.layerCount);
            GLuint textures[5] = {};
            for (int l = 0; l < 4; ++l)
                textures[l] = m_textures[region.layers[l < region.layerCount ? l : 0]];
            textures[4] = m_textures[region.opacities];
            glBindTextures(0, 5, textures);
            glDrawElementsBaseVertex(GL_TRIANGLES, region.indexCount, GL_UNSIGNED_INT,
                                     reinterpret_cast<const void*>(size_t(region.firstIndex) * 4),
                                     region.baseVertex);
        }
    }

    // The props in view, as instanced boxes.
    m_visibleProps.clear();
    for (size_t i = 0; i < m_props.size(); ++i) {
        const PropInstance& p = m_props[i];
        if (!inView(m_propRegions[i]))
            continue;
        const GAME::Vec3 c(p.centre[0], p.centre[1], p.centre[2]),
            e(p.extents[0], p.extents[1], p.extents[2]);
        if (!BoxOutside(vp, c - e, c + e))
            m_visibleProps.push_back(p);
    }
    if (!m_visibleProps.empty()) {
        glNamedBufferSubData(m_buffers[3], 0, GLsizeiptr(m_visibleProps.size() * sizeof(PropInstance)),
                             m_visibleProps.data());
        SetCommon(m_propProgram, view, vp, underground);
        glBindVertexArray(m_propArray);
        glDrawArraysInstanced(GL_TRIANGLES, 0, 36, GLsizei(m_visibleProps.size()));
    }

    // The meshes in view, instanced a face set at a time.
    std::map<size_t, std::vector<size_t>> byPart; // first part -> instances
    for (size_t i = 0; i < m_meshInstances.size(); ++i) {
        const MeshInstance& m = m_meshInstances[i];
        if (inView(m.region) && !BoxOutside(vp, m.lo, m.hi))
            byPart[m.firstPart].push_back(i);
    }
    if (!byPart.empty()) {
        m_visibleRows.clear();
        for (const auto& [part, instances] : byPart)
            for (size_t i : instances)
                m_visibleRows.insert(m_visibleRows.end(), m_meshInstances[i].rows,
                                     m_meshInstances[i].rows + 16);
        glNamedBufferSubData(m_buffers[6], 0, GLsizeiptr(m_visibleRows.size() * sizeof(float)),
                             m_visibleRows.data());
        SetCommon(m_meshProgram, view, vp, underground);
        glBindVertexArray(m_meshArray);
        GLuint baseInstance = 0;
        for (const auto& [first, instances] : byPart) {
            const MeshInstance& any = m_meshInstances[instances.front()];
            for (size_t p = first; p < first + any.parts; ++p) {
                const MeshPart& part = m_meshParts[p];
                glBindTextureUnit(0, m_textures[part.texture]);
                glDrawElementsInstancedBaseVertexBaseInstance(
                    GL_TRIANGLES, part.indexCount, GL_UNSIGNED_SHORT,
                    reinterpret_cast<const void*>(size_t(part.firstIndex) * 2), GLsizei(instances.size()),
                    part.baseVertex, baseInstance);
            }
            baseInstance += GLuint(instances.size());
        }
    }

    if (underground)
        return;
    // The blades of the blocks in view, as far as the terrain draws them.
    SetCommon(m_bladeProgram, view, vp, underground);
    glBindVertexArray(m_bladeArray);
    size_t bound = SIZE_MAX;
    for (const GrassBlock& block : m_grass) {
        if (!inView(block.region) || BoxOutside(vp, block.lo, block.hi))
            continue;
        if (block.reach > 0.0f && NearestDepth(vp, block.groundLo, block.groundHi) > block.reach)
            continue;
        if (block.texture != bound) {
            glBindTextureUnit(0, m_textures[block.texture]);
            bound = block.texture;
        }
        glDrawArraysInstancedBaseInstance(GL_TRIANGLE_FAN, 0, 4, GLsizei(block.count), block.first);
    }

    // The water over it all, writing no depth.
    SetCommon(m_waterProgram, view, vp, underground);
    glBindVertexArray(m_waterArray);
    glBindTextureUnit(0, m_textures[m_skyTexture]);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDepthMask(GL_FALSE);
    for (const RegionWater& water : m_waterRanges)
        if (inView(water.region) && !BoxOutside(vp, water.lo, water.hi))
            glDrawArrays(GL_TRIANGLES, water.first, water.count);
    glDisable(GL_BLEND);
    glDepthMask(GL_TRUE);
}

double Floor::Run(const std::vector<FrameView>& views)
{
    EGLContext previous = eglGetCurrentContext();
    eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, m_context);
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    glViewport(0, 0, kWidth, kHeight);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    const auto start = Clock::now();
    for (const FrameView& view : views) {
        DrawView(view);
        glFlush(); // as the device's headless present
    }
    glFinish();
    const double ms = Milliseconds(start, Clock::now());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, previous);
    return ms;
}

std::vector<GAME::Pixel> Floor::Picture(const FrameView& view)
{
    EGLContext previous = eglGetCurrentContext();
    eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, m_context);
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    glViewport(0, 0, kWidth, kHeight);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    DrawView(view);
    std::vector<GAME::Pixel> rows(size_t(kWidth) * kHeight), pixels(rows.size());
    while (glGetError() != GL_NO_ERROR) {
    }
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
    if (glGetError() != GL_NO_ERROR) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, previous);
        return {};
    }
    // GL's first row is the bottom; the device's the top.
    for (int y = 0; y < kHeight; ++y)
        std::memcpy(&pixels[size_t(y) * kWidth], &rows[size_t(kHeight - 1 - y) * kWidth], size_t(kWidth) * 4);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, previous);
    return pixels;
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
    return WriteHostGameData(folder);
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

// Where a camera in the region's space is in world space.
FrameCamera WorldCamera(const GAME::Camera& regionCamera, const GAME::Region& region)
{
    FrameCamera c;
    const GAME::Coords& coords = regionCamera.GetCoords();
    c.origin = coords.origin + Offset(region);
    c.x = coords.xAxis;
    c.y = coords.yAxis;
    c.z = coords.zAxis;
    c.fov = regionCamera.GetFOV();
    c.nearPlane = regionCamera.GetNearPlane();
    c.farPlane = regionCamera.GetFarPlane();
    return c;
}

// Where the host's camera is in world space.
FrameCamera WorldCamera(const SampleHost::FlightCamera& camera, GAME::Region* region)
{
    return WorldCamera(camera.GetRegionCamera(), *region);
}

GAME::Vec3 Rgb(const GAME::Color& c)
{
    return GAME::Vec3(c.r, c.g, c.b);
}

// The light the portal renderer gives a region now: outdoors the sun and the ambient of the time
// of day, tinted by the ambiance of the fields; underground no sun, the caves' ambiance.
FrameLights CurrentLights(GAME::Engine& engine, bool underground)
{
    GAME::Color sun(0.0f, 0.0f, 0.0f, 1.0f), sky(1.0f, 1.0f, 1.0f, 1.0f), ground(1.0f, 1.0f, 1.0f, 1.0f);
    GAME::Vec3 direction;
    if (!underground)
        if (GAME::DayNightManager* dayNight = GAME::DayNightManager::Get()) {
            sun = dayNight->GetLightColor();
            sky = dayNight->GetSkyAmbientColor();
            ground = dayNight->GetGroundAmbientColor();
            const GAME::Vec3 toward = dayNight->GetLightDirection();
            direction = GAME::Coords::LookInDirection(GAME::Vec3(), toward, toward.GetPerpendicular()).zAxis;
        }
    if (const GAME::AmbianceManager* ambiance = engine.GetAmbianceManager()) {
        const int environment = underground ? 0 : 1;
        auto tint = [](const GAME::Color& c, const GAME::Color& t) {
            return GAME::Color(c.r * t.r, c.g * t.g, c.b * t.b, c.a);
        };
        sun = tint(sun, ambiance->GetLightColor(environment));
        sky = tint(sky, ambiance->GetSkyAmbientColor(environment));
        ground = tint(ground, ambiance->GetGroundAmbientColor(environment));
    }
    FrameLights lights;
    lights.sunDirection = underground ? GAME::Vec3() : direction;
    lights.sunColor = Rgb(sun);
    lights.sky = Rgb(sky);
    lights.ground = Rgb(ground);
    return lights;
}

int RegionIndex(GAME::World& world, const GAME::Region* region)
{
    for (int i = 0; i < world.GetNumRegions(); ++i)
        if (world.GetRegion(i) == region)
            return i;
    return -1;
}

// What the portal renderer draws for the host's view and how it weighs each region, asked as the
// renderer asks it (the world's portals through the scene's services, the fades of a renderer
// made for the same view and transparency manager): the camera's region and the regions behind the
// portals it sees, in the order drawn. One portal deep: a cave has one doorway, so the renderer
// goes no deeper in this world. A region behind a portal facing the camera is drawn before the
// region holding the portal, one behind a portal facing away after it. A region drawn into the
// renderer's shared target (a region drawn before it, or a portal facing the camera in its view)
// is composited over what is there by its fade: up to 1 it keeps that share of the alpha the
// region before it left (its inverse transparency mask), above 1 the excess besides; nothing where
// no alpha was left.
FrameView PortalView(GAME::Engine& engine, GAME::World& world, const Floor& floor,
                     GAME::GraphicsCanvas& canvas, const GAME::GraphicsTransparencyManager& transparency,
                     GAME::Region* root, const GAME::Camera& camera, const GAME::Viewport& viewport)
{
    using GAME::SceneWorldServices;
    SceneWorldServices& services = SceneWorldServices::Current();
    GAME::GraphicsPortalRenderer fades(canvas, root, camera, viewport, false);
    fades.SetTransparencyManager(&transparency);
    const GAME::Frustum viewFrustum = camera.GetFrustum(viewport);

    struct Seen
    {
        GAME::Region* listed;
        GAME::Portal* portal;
        float targetFade;
    };
    // The portals that the view of a region placed so sees facing it, and facing away.
    struct Portals
    {
        std::vector<Seen> front, back;
    };
    // The camera's region shows what lies behind the portals facing it through their openings
    // only: there a portal counts only in view (in front of the near plane too).
    GAME::Frustum inView = viewFrustum;
    inView.AddPlane(
        GAME::Plane(camera.GetCoords().zAxis,
                    camera.GetCoords().origin + camera.GetCoords().zAxis * camera.GetNearPlane()));
    auto look = [&](GAME::Region* region, const GAME::Coords& placement) {
        GAME::Frustum frustum = viewFrustum;
        frustum.Transform(placement.Inverse());
        std::vector<GAME::Region*> regions;
        services.GetRegionsInFrustum(region, frustum, false, regions);
        Portals portals;
        for (GAME::Region* listed : regions) {
            const GAME::Coords toListed =
                SceneWorldServices::RelativeTransformation(region, listed) * placement.Inverse();
            const GAME::Vec3 eye = toListed.TransformPoint(camera.GetCoords().origin);
            GAME::Frustum listedFrustum = viewFrustum, listedInView = inView;
            listedFrustum.Transform(toListed);
            listedInView.Transform(toListed);
            for (int i = 0; i < services.GetNumPortals(listed); ++i) {
                GAME::Portal* portal = services.GetPortal(listed, i);
                if (!portal)
                    continue;
                const float targetFade = fades.GetTargetFade(*portal);
                const bool front = services.IsPortalFrontFacing(portal, eye);
                if (front && region == root
                        ? services.PortalIntersects(portal, listedInView)
                        : targetFade > 0.0f || services.PortalIntersects(portal, listedFrustum))
                    (front ? portals.front : portals.back).push_back({listed, portal, targetFade});
            }
        }
        return portals;
    };
    // The first that leads somewhere.
    auto leading = [&](const std::vector<Seen>& seen) -> const Seen* {
        for (const Seen& s : seen)
            if (services.GetConnectedRegion(s.portal))
                return &s;
        return nullptr;
    };
    // The region's view: the camera carried in, cut behind the portal it is seen back through.
    auto regionView = [&](GAME::Region* region, const GAME::Coords& placement, const Seen* back) {
        RegionView view;
        GAME::Camera carried = camera;
        carried.SetCoords(placement.Inverse() * camera.GetCoords());
        view.camera = WorldCamera(carried, *region);
        view.region = RegionIndex(world, region);
        view.lights = CurrentLights(engine, floor.IsUnderground(view.region));
        if (const GAME::Region* holder = back ? services.GetPortalRegion(back->portal) : nullptr) {
            const GAME::Plane plane = services.GetPortalPlane(back->portal);
            view.clipped = true;
            view.clip[0] = plane.normal.x;
            view.clip[1] = plane.normal.y;
            view.clip[2] = plane.normal.z;
            view.clip[3] = plane.d + 3.0f - GAME::Vec3::Dot(plane.normal, Offset(*holder));
        }
        return view;
    };
    // Composited with the fade given over what the region before it left (its alpha or none).
    auto weigh = [](RegionView& view, bool alphaLeft, float fade) {
        view.over = true;
        view.keepScale = alphaLeft && fade != 0.0f ? std::min(fade, 1.0f) : 0.0f;
        view.keepBias = alphaLeft && fade > 1.0f ? fade - 1.0f : 0.0f;
    };

    FrameView frame;
    const GAME::Coords identity;
    const Portals rootPortals = look(root, identity);
    const Seen* rootBack = leading(rootPortals.back);
    bool alphaLeft = false;
    auto drawBehind = [&](const std::vector<Seen>& seen, bool frontFacing) {
        for (const Seen& s : seen) {
            GAME::Coords across;
            GAME::Region* next = nullptr;
            if (!services.GetBackToFrontCoords(s.portal, across, next) || !next || next == root)
                continue;
            float fade = std::max(fades.GetRegionFade(s.listed), 1.0f - fades.GetRegionFade(next));
            if (!frontFacing)
                fade += 1.0f - s.targetFade;
            const GAME::Coords placement =
                SceneWorldServices::RelativeTransformation(s.listed, root) * across;
            const Portals nextPortals = look(next, placement);
            const Seen* nextBack = leading(nextPortals.back);
            RegionView view = regionView(next, placement, nextBack);
            if (alphaLeft || leading(nextPortals.front))
                weigh(view, alphaLeft, fade);
            alphaLeft = nextBack != nullptr;
            frame.regions.push_back(view);
        }
    };
    const bool rootOver = leading(rootPortals.front) != nullptr;
    if (rootOver)
        drawBehind(rootPortals.front, true);
    RegionView rootView =
        regionView(root, identity, rootBack && rootBack->targetFade != 0.0f ? rootBack : nullptr);
    // The camera's region keeps nothing of the regions before it but under the portals it shows.
    if (rootOver)
        weigh(rootView, alphaLeft, 0.0f);
    frame.regions.push_back(rootView);
    alphaLeft = rootBack != nullptr;
    if (rootBack)
        drawBehind(rootPortals.back, false);
    return frame;
}

// Of two pictures (rows from the top), the pixels that differ by more than the tolerance in red,
// green or blue.
size_t DifferingPixels(const std::vector<GAME::Pixel>& a, const std::vector<GAME::Pixel>& b)
{
    size_t differing = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        differing += std::abs(a[i].r - b[i].r) > kPixelTolerance ||
                             std::abs(a[i].g - b[i].g) > kPixelTolerance ||
                             std::abs(a[i].b - b[i].b) > kPixelTolerance
                         ? 1
                         : 0;
    return differing;
}

// For a look at the pictures: BENCH_FRAME_PICTURES names a folder to write them to.
void WritePicture(const std::vector<GAME::Pixel>& pixels, const std::string& name)
{
    const char* folder = std::getenv("BENCH_FRAME_PICTURES");
    if (!folder || pixels.empty())
        return;
    std::ofstream out(std::filesystem::path(folder) / (name + ".ppm"), std::ios::binary);
    out << "P6\n" << kWidth << " " << kHeight << "\n255\n";
    for (const GAME::Pixel& p : pixels)
        out.put(char(p.r)).put(char(p.g)).put(char(p.b));
}

struct FlightResult
{
    std::vector<double> frameMs, mainMs, cpuMs, draws, triangles, switches;
    double floorMs = 0.0;    // the floor's frames, all of them
    double floorCpuMs = 0.0; // and the processor time of its own threads (the main and its rasteriser's)
    // The library's threads at work while the floor's block waited for them and drew (levels and
    // resources its flight asked for): the library's cost, not the floor's.
    double libraryAsideMs = 0.0;
    // Compared frames whose picture could not be read: the library's, the floor's.
    std::vector<int> unread, floorUnread;
    // The driver's rasteriser threads whose time the floor's blocks took.
    size_t rasteriserThreads = 0;
    // The main thread's time by Profile block, summed over the flight.
    std::map<std::string, double> blockMs;
    // The compared cameras: frame, pixels differing.
    std::vector<std::pair<int, size_t>> compared;
};

// Blocks of frames: the library's, then the floor's for the same cameras, in turn, so that both
// see the same load of the machine.
constexpr int kBlock = 50;
// Before the floor's block, the longest it waits for the engine's level loads to end.
constexpr double kIdleWaitMs = 2000.0;

// Waits until no region's level is loading (kIdleWaitMs at most): the floor then draws while the
// engine's threads are idle, as the library's frames draw while the floor's are.
void WaitForLevelLoads(GAME::World& world)
{
    const auto start = Clock::now();
    auto loading = [&world] {
        for (int i = 0; i < world.GetNumRegions(); ++i)
            if (world.GetRegion(i)->IsLoadUnderWay())
                return true;
        return false;
    };
    while (loading() && Milliseconds(start, Clock::now()) < kIdleWaitMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FlightResult Fly(BenchEngine& engine, const WorldGenerator& generator, const std::string& folder,
                 Floor& floor)
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
    // The engine's blocks timed, without its panels: taken after each frame.
    GAME::Profile::Enable(true);
    GAME::Profile::Update();
    std::vector<GAME::Profile::TimeInfo> blocks;
    std::vector<FrameView> views;
    std::map<int, std::vector<GAME::Pixel>> pictures;
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
            // The block's last frame waits for the device to finish, as the floor's block does: a
            // read of the whole frame (the device reads only a frame of its own size).
            std::vector<GAME::Pixel> frameRead(size_t(device->GetWidth()) * size_t(device->GetHeight()));
            canvas->SetTargetSurface(nullptr);
            if (!device->ReadFrameBuffer(frameRead.data(), device->GetWidth(), device->GetHeight()))
                std::fprintf(stderr, "bench_frame: the frame could not be read to wait for the device\n");
        }
        result.mainMs.push_back(ThreadMilliseconds() - cpuStart);
        result.frameMs.push_back(Milliseconds(start, Clock::now()));
        result.cpuMs.push_back(ProcessMilliseconds() - processStart);

        blocks.clear();
        GAME::Profile::GetTimeInfo(blocks);
        GAME::Profile::Update();
        for (const GAME::Profile::TimeInfo& block : blocks)
            result.blockMs[block.name ? block.name : "?"] += block.milliseconds;
        views.push_back(PortalView(engine, *world, floor, *canvas, view->GetTransparency(),
                                   frustum.GetRegion(), camera.GetRegionCamera(), viewport));
        // The picture of a compared camera, read after its frame was timed.
        if (std::find(std::begin(kComparedFrames), std::end(kComparedFrames), frame) !=
            std::end(kComparedFrames)) {
            std::vector<GAME::Pixel>& picture = pictures[frame];
            picture.resize(size_t(kWidth) * kHeight);
            canvas->SetTargetSurface(nullptr);
            if (!device->ReadFrameBuffer(picture.data(), kWidth, kHeight))
                picture.clear();
        }

        if ((frame + 1) % kBlock == 0 || frame + 1 == kFrames) {
            // The floor's block bills the floor only its own threads: the main thread and the
            // driver's rasteriser threads while it draws (the library's pictures are finished).
            // What the engine's threads do meanwhile (and while the block waits for their loads to
            // end) is the library's.
            const std::vector<pid_t> rasterisers = RasteriserTasks();
            result.rasteriserThreads = std::max(result.rasteriserThreads, rasterisers.size());
            const double processStart = ProcessMilliseconds();
            const double mainStart = ThreadMilliseconds();
            WaitForLevelLoads(*world);
            const double floorMainStart = ThreadMilliseconds();
            const double rasteriserStart = TasksMilliseconds(rasterisers);
            result.floorMs += floor.Run(views);
            const double rasteriser = TasksMilliseconds(rasterisers) - rasteriserStart;
            const double floorMain = ThreadMilliseconds() - floorMainStart;
            result.floorCpuMs += floorMain + rasteriser;
            result.libraryAsideMs += std::max(0.0, ProcessMilliseconds() - processStart -
                                                       (ThreadMilliseconds() - mainStart) - rasteriser);
            for (auto& [compared, picture] : pictures) {
                const std::vector<GAME::Pixel> floorPicture = floor.Picture(views[size_t(compared % kBlock)]);
                WritePicture(picture, "library_" + std::to_string(compared));
                WritePicture(floorPicture, "floor_" + std::to_string(compared));
                // A picture that could not be read shows nothing: the comparison fails, never passes.
                if (picture.empty())
                    result.unread.push_back(compared);
                else if (floorPicture.empty())
                    result.floorUnread.push_back(compared);
                else
                    result.compared.emplace_back(compared, DifferingPixels(picture, floorPicture));
            }
            pictures.clear();
            views.clear();
        }
    }
    GAME::Profile::Enable(false);
    view->FinishScreenshot();
    view.reset();
    GAME::Tracker::Destroy();
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    if (const int answer = BenchCommandLine(argc, argv, kHelp); answer >= 0)
        return answer;
    const BenchFolder folder("bench_frame", MakeSampleData);
    if (!folder.Ready())
        return 1;
    const std::string loadBefore = LoadAverage();
    std::printf("load average before: %s\n", loadBefore.c_str());

    int status = 0;
    {
        GAME::FileSystem files;
        BenchEngine engine;
        engine.SetKeymapPath("Settings/keymap.txt");
        engine.Start(files, folder.Path().string(), "OpenGL");

        WorldGenerator generator(WorldGenerator::SampleWorld());
        GAME::World* world = engine.GetWorld();
        if (!world || !engine.GetGraphicsEngine() || !generator.Generate() ||
            !generator.Write(folder.Path().string())) {
            std::printf("bench_frame: the engine did not start or the world was not written\n");
            status = 1;
        } else {
            // The floor's copy of the world: every region loaded once, then the world goes.
            Floor floor;
            bool floorBuilt = false;
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
                // The host's camera, for the terrain's grass reach.
                SampleHost::FlightCamera camera(generator, *world);
                const GAME::WorldFrustum view = camera.ViewAt(0.0f, GAME::Viewport(0, 0, kWidth, kHeight));
                GAME::GraphicsEngine* graphics = engine.GetGraphicsEngine();
                floorBuilt =
                    floor.Build(*world, WorldAir(engine), folder.Path(), graphics->IsReflectionsEnabled(),
                                WorldCamera(camera, view.GetRegion()));
                world->Unload();
                GAME::ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
            }
            // The flight, as the host flies it: the world loaded anew, streaming.
            FlightResult flight;
            if (floorBuilt && world->Load(generator.GetSettings().mapName.c_str(), true)) {
                // The world's air, as the host takes it: the fog and the sky in its colour.
                WorldGenerator::ApplyAtmosphere(*engine.GetSectorDataManager(), *engine.GetGraphicsEngine());
                flight = Fly(engine, generator, folder.Path().string(), floor);
            }
            if (flight.frameMs.empty()) {
                std::printf("bench_frame: the floor or the flight could not be made\n");
                status = 1;
            } else {
                const DeviceThreads threads = CountDeviceThreads();
                const double floorMs = flight.floorMs / double(kFrames);
                const double mean = Mean(flight.frameMs);
                std::printf("library: %d frames, mean %.2f ms, p50 %.2f ms, p90 %.2f ms, max %.2f ms\n",
                            kFrames, mean, Percentile(flight.frameMs, 0.5), Percentile(flight.frameMs, 0.9),
                            Percentile(flight.frameMs, 1.0));
                std::printf("floor:   %d frames, mean %.2f ms\n", kFrames, floorMs);
                // Where the main thread's frame goes (blocks nest: a block's time holds its inner
                // blocks').
                std::vector<std::pair<double, std::string>> byTime;
                for (const auto& [name, ms] : flight.blockMs)
                    byTime.emplace_back(ms / double(kFrames), name);
                std::sort(byTime.begin(), byTime.end(), std::greater<>());
                std::printf("library's main thread a frame, by the engine's Profile blocks (wall time, "
                            "blocks within blocks; its CPU time %.2f ms):\n",
                            Mean(flight.mainMs));
                for (const auto& [ms, name] : byTime)
                    std::printf("  %7.3f ms  %s\n", ms, name.c_str());
                size_t differing = 0, compared = 0;
                for (const auto& [frame, pixels] : flight.compared) {
                    std::printf(
                        "picture of frame %3d: %5.2f %% of the pixels differ by more than %d levels\n", frame,
                        100.0 * double(pixels) / double(kWidth * kHeight), kPixelTolerance);
                    differing += pixels;
                    compared += size_t(kWidth) * kHeight;
                }
                for (int frame : flight.unread)
                    std::printf("picture of frame %3d: the library's picture could not be read\n", frame);
                for (int frame : flight.floorUnread)
                    std::printf("picture of frame %3d: the floor's picture could not be read\n", frame);
                const double differingPercent =
                    compared ? 100.0 * double(differing) / double(compared) : 100.0;
                // The library's processor time: its frames', and its threads' while the floor's
                // blocks ran.
                const double cpuMs =
                    (Mean(flight.cpuMs) * double(kFrames) + flight.libraryAsideMs) / double(kFrames);
                const double floorCpuMs = flight.floorCpuMs / double(kFrames);
                std::printf(
                    "processor time a frame: library %.2f ms (%.2f ms of it its threads' while the floor "
                    "drew), floor %.2f ms (the main thread and the %zu rasteriser threads)\n",
                    cpuMs, flight.libraryAsideMs / double(kFrames), floorCpuMs, flight.rasteriserThreads);
                std::printf("load average after: %s\n", LoadAverage().c_str());
                // The benchmark's own promises: every compared picture read, and the floor's the same.
                if (!flight.unread.empty() || !flight.floorUnread.empty()) {
                    std::printf("bench_frame: FAILED: %zu compared pictures could not be read\n",
                                flight.unread.size() + flight.floorUnread.size());
                    status = 1;
                }
                if (compared && differingPercent > kMaxDifferingPercent) {
                    std::printf(
                        "bench_frame: FAILED: %.2f %% of the compared pixels differ (at most %.0f %%): the "
                        "floor does not draw what the library draws\n",
                        differingPercent, kMaxDifferingPercent);
                    status = 1;
                }
                if (flight.rasteriserThreads == 0) {
                    std::printf(
                        "bench_frame: FAILED: the floor's rasteriser threads were not found: its processor "
                        "time would be the main thread's alone\n");
                    status = 1;
                }

                BenchReport report;
                report.Value("frame_mean_ms", mean, "ms");
                report.Value("frame_p90_ms", Percentile(flight.frameMs, 0.9), "ms");
                report.Value("frames_per_second", mean > 0 ? 1000.0 / mean : 0.0, "");
                report.Value("main_thread_ms", Mean(flight.mainMs), "ms");
                report.Value("frame_cpu_ms", cpuMs, "ms");
                report.Value("draws_per_frame", Mean(flight.draws), "");
                report.Value("triangles_per_frame", Mean(flight.triangles), "");
                report.Value("target_switches_per_frame", Mean(flight.switches), "");
                report.Value("floor_frame_mean_ms", floorMs, "ms");
                report.Value("floor_frame_cpu_ms", floorCpuMs, "ms");
                report.Value("floor_pixels_differing_percent", differingPercent, "%");
                report.Count("device_threads", threads.device, "");
                report.Count("rasteriser_threads", threads.rasteriser, "");
                report.Count("rasteriser_processors", threads.fewestProcessors, "");
                report.Ratio("frame_cpu_vs_floor", floorCpuMs > 0 ? cpuMs / floorCpuMs : 0.0);
                report.Ratio("frame_vs_floor", floorMs > 0 ? mean / floorMs : 0.0);
                report.Print();
            }
            floor.Close();
            world->Unload();
        }
        engine.Shutdown();
        GAME::gEngine = nullptr;
    }
    GAME::RenderDevice::UnloadLibraries();
    return status;
}
