// The sample host's flight as a player sees it: every frame of the flight within reach of a cave's
// doorway (and all of it inside the caves), drawn by the host's own view and flight camera through
// the OpenGL device at a small size and read back, is held against what a player would call broken:
//   - the sky under the ground: sky-coloured pixels where the view looks down at the ground within
//     the fog's clear reach (a field's own picture only: a cave has no sky);
//   - a large near-black area in a field's picture, or in a cave's (the cave seen from outside
//     its walls);
//   - a region drawn over another outside a doorway's opening: the frame against the same view
//     drawn by a portal renderer with no cross-fade and no portal fade (the camera's region, and
//     what lies behind its doorways seen through their openings only).
// Pixels where the view looks past the world's edge at the ground it would expect there are told
// apart, and fail the frame too: the world's ridge closes its edge.
//
// The frames step along the flight by a fixed length with a fixed game time between them (kPasses),
// so that the same frames are drawn every time; the reference is drawn in the same frame, after
// the host's picture. FLIGHT_PICTURES=<folder> writes each failing frame and its reference there
// as PPM.
#include "FlightCamera.h"
#include "HostView.h"

#include "core/Frustum.h"
#include "core/OBBox.h"
#include "core/Ray.h"
#include "datakit/WorldGenerator.h"
#include "graphics/Camera.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/OpenGLTestSupport.h"
#include "graphics/Viewport.h"
#include "scene/GraphicsPortalRenderer.h"
#include "scene/GraphicsTransparencyManager.h"
#include "world/EngineFixture.h"
#include "world/Portal.h"
#include "world/RegionLoader.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace GAME {
namespace {

constexpr int kWidth = 128;
constexpr int kHeight = 96;
// How the stretches round the doorways are flown: path between frames (units) and game time
// between them (ms). The flight's 120 units a second take 12.5 ms for 1.5 units: the transparency
// manager's fades (350 ms) last 14 frames of fine steps round the first doorway and under 3 round
// the second (as in long runs of fixed frames on a quiet machine and on a busy one); the coarse
// steps round both are those of a run of 300 frames (the camera gliding far behind its place).
struct Pass
{
    size_t stretch;
    float step;
    int gameStepMs;
};
constexpr Pass kPasses[] = {{0, 1.5f, 25}, {1, 1.5f, 150}, {0, 9.0f, 75}, {1, 9.0f, 75}};
constexpr float kFinestStep = 1.5f;
// Frames count as near a doorway while the target is this close to it outdoors, or in a cave.
constexpr float kReach = 40.0f;
// The ground lies above this height everywhere (the lakes' bowls reach down to -0.5); a view ray
// that meets this plane within kClearReach meets the ground first, nearer than the depth fog
// (35 to 85 units) can hide it.
constexpr float kGroundFloor = -1.0f;
constexpr float kClearReach = 55.0f;
// A pixel within this of the sky's colour in each channel is sky; at most this many levels in
// every channel is near-black; a reference pixel differing by more than this in some channel is
// another picture.
constexpr int kSkyTolerance = 16;
constexpr int kBlackLevel = 24;
constexpr int kDifferent = 48;
// A frame fails on more than this share of its pixels.
constexpr double kSkyShare = 0.01;
constexpr double kBlackShare = 0.02;
// A cave has no ceiling: from inside, the dark above its walls is a strip at the top of the
// picture; a camera above or behind the walls sees the cave as a box standing in the dark.
constexpr double kCaveBlackShare = 0.4;
constexpr double kOverShare = 0.01;

struct Picture
{
    std::vector<Pixel> pixels;
    const Pixel& At(int x, int y) const
    {
        return pixels[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)];
    }
};

// What one frame shows, counted over its pixels outside the doorways' openings.
struct FrameCount
{
    int skyUnderGround = 0;
    int pastTheEdge = 0;
    int black = 0;
    int over = 0;
};

// How a frame is looked at: the sky's colour, the world's outdoor extent (x and z from 0) and the
// fields whose level is in (a field not loaded yet draws no ground: that is streaming's matter).
struct Looking
{
    int sky[3];
    int regionsX, regionsZ;
    float regionSize;
    std::vector<bool> fieldLoaded;
};

class OpenGLFlightPictureTest : public Test::EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        settings.deviceName = "OpenGL";
        settings.width = kWidth;
        settings.height = kHeight;
        data.SetDefault("resolution", std::to_string(kWidth) + " " + std::to_string(kHeight));
        // The host's game data: its prop class for the scattered props, the placed actors and
        // lights, the lakes' reflections.
        SampleHost::HostView::AddWorldData(data);
        // Small shadow maps: the frames' shadows play no part here, and they cost the most to draw.
        data.SetDefault("shadowQuality", "low");
    }

    void WritePicture(const std::string& name, const Picture& picture) const
    {
        const char* folder = std::getenv("FLIGHT_PICTURES");
        if (!folder || picture.pixels.empty())
            return;
        std::ofstream out(std::string(folder) + "/" + name + ".ppm", std::ios::binary);
        out << "P6\n" << kWidth << " " << kHeight << "\n255\n";
        for (const Pixel& p : picture.pixels)
            out.put(static_cast<char>(p.r)).put(static_cast<char>(p.g)).put(static_cast<char>(p.b));
    }
};

// The stretches of the flight (start and end seconds) near a doorway or in a cave.
std::vector<std::pair<float, float>> NearDoorways(const DataKit::WorldGenerator& generator)
{
    const float step = kFinestStep / generator.GetSettings().flightSpeed;
    std::vector<std::pair<float, float>> stretches;
    bool inside = false;
    for (float t = 0.0f; t <= generator.GetFlightDuration(); t += step) {
        const DataKit::WorldGenerator::View view = generator.GetFlightView(t);
        const DataKit::WorldGenerator::RegionInfo& region =
            generator.GetRegions()[static_cast<size_t>(view.region)];
        bool near = region.cave;
        // In the world's space (outdoors), so that coming in from a neighbour counts too.
        for (const DataKit::WorldGenerator::PortalInfo& door : generator.GetPortals()) {
            const DataKit::WorldGenerator::RegionInfo& holder =
                generator.GetRegions()[static_cast<size_t>(door.region)];
            if (holder.cave)
                continue;
            const GAME::IntVec3& at = holder.offset;
            const float dx =
                view.position.x + static_cast<float>(region.offset.x - at.x) - door.coords.origin.x;
            const float dz =
                view.position.z + static_cast<float>(region.offset.z - at.z) - door.coords.origin.z;
            near = near || (!region.cave && std::hypot(dx, dz) < kReach);
        }
        if (near && !inside)
            stretches.emplace_back(t, t);
        if (near)
            stretches.back().second = t;
        inside = near;
    }
    return stretches;
}

// The screen rectangles (x0, y0, x1, y1) of the doorways in view (each region placed by its offset
// from the root: a cave's doorway lies far below a field's view), grown by two pixels; a doorway
// reaching behind the camera covers the whole screen.
std::vector<std::array<int, 4>> Openings(World& world, Region* root, const Camera& camera,
                                         const Viewport& viewport)
{
    std::vector<std::array<int, 4>> openings;
    const Coords toCamera = camera.GetCoords().Inverse();
    for (int r = 0; r < world.GetNumRegions(); ++r) {
        Region* region = world.GetRegion(r);
        for (int i = 0; i < region->GetNumPortals(); ++i) {
            const Portal* portal = region->GetPortal(i);
            if (!portal)
                continue;
            const OBBox& box = portal->GetRegionBoundingBox();
            const Coords toRoot = root->GetRelativeTransformation(region);
            float x0 = 1e9f, y0 = 1e9f, x1 = -1e9f, y1 = -1e9f;
            int behind = 0, beyond = 0;
            for (int c = 0; c < 8; ++c) {
                const Vec3 local((c & 1 ? 1.0f : -1.0f) * box.extents.x,
                                 (c & 2 ? 1.0f : -1.0f) * box.extents.y,
                                 (c & 4 ? 1.0f : -1.0f) * box.extents.z);
                const Vec3 corner = toRoot.TransformPoint(box.coords.TransformPoint(local));
                const float depth = toCamera.TransformPoint(corner).z;
                beyond += depth > camera.GetFarPlane();
                if (depth < camera.GetNearPlane()) {
                    ++behind;
                    continue;
                }
                const Vec2 p = camera.Project(corner, viewport);
                x0 = std::min(x0, p.x);
                y0 = std::min(y0, p.y);
                x1 = std::max(x1, p.x);
                y1 = std::max(y1, p.y);
            }
            if (behind == 8 || beyond == 8)
                continue;
            if (behind > 0)
                openings.push_back({0, 0, kWidth, kHeight});
            else
                openings.push_back({static_cast<int>(x0) - 2, static_cast<int>(y0) - 2,
                                    static_cast<int>(x1) + 3, static_cast<int>(y1) + 3});
        }
    }
    return openings;
}

// Counts what is wrong with a frame (live) against its reference (plain), in the root region's view.
FrameCount Look(const Picture& live, const Picture& plain, bool cave, const Region& root, const Camera& eye,
                const std::vector<std::array<int, 4>>& openings, const Looking& looking)
{
    const Viewport viewport(0, 0, kWidth, kHeight);
    const Vec3 offset(static_cast<float>(root.GetOffsetFromWorld().x), 0.0f,
                      static_cast<float>(root.GetOffsetFromWorld().z));
    FrameCount count;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            if (std::any_of(openings.begin(), openings.end(), [&](const std::array<int, 4>& o) {
                    return x >= o[0] && x < o[2] && y >= o[1] && y < o[3];
                }))
                continue;
            const Pixel& p = live.At(x, y);
            const Pixel& q = plain.At(x, y);
            if (std::max({std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)}) > kDifferent)
                ++count.over;
            if (std::max({p.r, p.g, p.b}) <= kBlackLevel)
                ++count.black;
            // A cave has neither sky nor ground round it: it stands in the dark.
            if (cave)
                continue;
            const bool isSky = std::abs(p.r - looking.sky[0]) <= kSkyTolerance &&
                               std::abs(p.g - looking.sky[1]) <= kSkyTolerance &&
                               std::abs(p.b - looking.sky[2]) <= kSkyTolerance;
            if (!isSky)
                continue;
            const Ray ray = eye.GetRayThroughImagePoint(
                Vec2((static_cast<float>(x) + 0.5f) / kWidth, (static_cast<float>(y) + 0.5f) / kHeight),
                viewport);
            if (!(ray.direction.y < 0.0f))
                continue;
            const float along = (kGroundFloor - ray.origin.y) / ray.direction.y;
            if (along > kClearReach)
                continue;
            const Vec3 ground = ray.origin + ray.direction * along + offset;
            const int column = static_cast<int>(std::floor(ground.x / looking.regionSize));
            const int row = static_cast<int>(std::floor(ground.z / looking.regionSize));
            if (column < 0 || row < 0 || column >= looking.regionsX || row >= looking.regionsZ)
                ++count.pastTheEdge;
            else if (looking.fieldLoaded[static_cast<size_t>(row * looking.regionsX + column)])
                ++count.skyUnderGround;
        }
    return count;
}

TEST_F(OpenGLFlightPictureTest, NoFrameNearADoorwayShowsTheSkyUnderTheGroundABlackAreaOrOneRegionOverAnother)
{
    ASSERT_TRUE(GAME::Test::OpenGLModuleLoads());
    // As the host does it: the world is generated once the engine runs (the doorways take their
    // meshes from its graphics engine), then loaded as a game loads its map.
    GAME::Test::TestEngine& e = Make();
    e.Initialize(nullptr, settings, false, false, &files);
    World* world = e.GetWorld();
    ASSERT_NE(world, nullptr);
    DataKit::WorldGenerator generator(DataKit::WorldGenerator::SampleWorld());
    ASSERT_TRUE(generator.Generate());
    ASSERT_TRUE(generator.Write(dir.Path()));
    GraphicsEngine* graphics = e.GetGraphicsEngine();
    ASSERT_NE(graphics, nullptr);
    RenderDevice* device = graphics->GetRenderDevice();
    ASSERT_NE(device, nullptr) << "no headless OpenGL 4.5 context";
    ASSERT_EQ(device->GetWidth(), kWidth);
    GraphicsCanvas* canvas = graphics->GetCanvas();
    auto* portals = new DataKit::PortalChunkReader(world);
    if (!world->InstallMapChunkCallback(portals))
        delete portals;
    ASSERT_TRUE(world->Load(generator.GetSettings().mapName.c_str(), true));
    ASSERT_TRUE(DataKit::WorldGenerator::ApplyAtmosphere(*e.GetSectorDataManager(), *graphics));
    const DataKit::WorldGenerator::Settings& plan = generator.GetSettings();
    ASSERT_EQ(world->GetNumRegions(), static_cast<int>(generator.GetRegions().size()));
    for (int i = 0; i < world->GetNumRegions(); ++i)
        ASSERT_EQ(world->GetRegion(i)->GetName(), generator.GetRegions()[static_cast<size_t>(i)].name);
    const float* fog = graphics->GetFogColor();
    Looking looking;
    for (int c = 0; c < 3; ++c)
        looking.sky[c] = static_cast<int>(std::lround(fog[c] * 255.0f));
    looking.regionsX = plan.regionsX;
    looking.regionsZ = plan.regionsZ;
    looking.regionSize = static_cast<float>(plan.regionSize);
    looking.fieldLoaded.resize(static_cast<size_t>(plan.regionsX * plan.regionsZ));

    SampleHost::FlightCamera camera(generator, *world);
    SampleHost::HostView view(
        *engine, [](const std::string&) {}, dir.Path());
    const Viewport viewport(0, 0, kWidth, kHeight);
    // The reference: the same view with every region blended in at once and no doorway fading
    // with the target's distance.
    GraphicsTransparencyManager settled;
    settled.SetFadeTime(0);

    const std::vector<std::pair<float, float>> stretches = NearDoorways(generator);
    ASSERT_EQ(stretches.size(), static_cast<size_t>(plan.caves)) << "one stretch round each cave";
    std::vector<std::string> failures, edges;
    int frames = 0, skyFrames = 0, blackFrames = 0, overFrames = 0;
    for (const Pass& pass : kPasses) {
        const auto [from, to] = stretches[pass.stretch];
        const int gameStepMs = pass.gameStepMs;
        // As the host starts its flight: the regions in reach of the first view come in first.
        {
            const WorldFrustum first = camera.ViewAt(from, viewport);
            RegionLoader loader(first, true);
            // The loads run on threads of their own: frames every few milliseconds until they are
            // in (two minutes at most).
            for (int i = 0; i < 24000 && !loader.GetIsDone(); ++i) {
                clock.Advance(gameStepMs);
                loader.Update();
                e.Update(&first, false);
                e.Render();
                e.PresentSurface();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            ASSERT_TRUE(loader.GetIsDone()) << "the regions round " << from << " s did not load";
        }
        const float step = pass.step / plan.flightSpeed;
        for (float t = from; t <= to; t += step, ++frames) {
            clock.Advance(gameStepMs);
            const WorldFrustum frustum = camera.ViewAt(t, viewport);
            e.Update(&frustum, true);
            view.Draw(camera);
            e.Render();
            Picture live, plain;
            live.pixels.resize(static_cast<size_t>(kWidth) * kHeight);
            canvas->SetTargetSurface(nullptr);
            ASSERT_TRUE(device->ReadFrameBuffer(live.pixels.data(), kWidth, kHeight));

            Region* root = frustum.GetRegion();
            const Camera& eye = camera.GetRegionCamera();
            WorldVec3 target;
            camera.GetTargetPosition(target);
            settled.SetTargetPosition(target);
            ASSERT_TRUE(canvas->BeginFrame());
            canvas->SetTargetSurface(nullptr);
            {
                GraphicsPortalRenderer reference(*canvas, root, eye, viewport, false);
                reference.SetTransparencyManager(&settled);
                reference.SetFadeParameters(-1.0f, -1.0f);
                reference.Render();
            }
            plain.pixels.resize(live.pixels.size());
            canvas->SetTargetSurface(nullptr);
            ASSERT_TRUE(device->ReadFrameBuffer(plain.pixels.data(), kWidth, kHeight));
            canvas->EndFrame();
            e.PresentSurface();

            const bool cave = generator.GetRegions()[static_cast<size_t>(root->GetRegionIndex())].cave;
            for (int i = 0; i < plan.regionsX * plan.regionsZ; ++i)
                looking.fieldLoaded[static_cast<size_t>(i)] = world->GetRegion(i)->IsLevelLoaded();
            const FrameCount count =
                Look(live, plain, cave, *root, eye, Openings(*world, root, eye, viewport), looking);
            const double all = static_cast<double>(kWidth) * kHeight;
            std::ostringstream what;
            if (count.skyUnderGround > kSkyShare * all && ++skyFrames)
                what << " sky under the ground " << count.skyUnderGround * 100.0 / all << " %;";
            if (count.black > (cave ? kCaveBlackShare : kBlackShare) * all && ++blackFrames)
                what << " near-black " << count.black * 100.0 / all << " %;";
            if (count.over > kOverShare * all && ++overFrames)
                what << " another region drawn over it " << count.over * 100.0 / all << " %;";
            const std::string name = root->GetName().substr(root->GetName().find_last_of("/\\") + 1);
            std::ostringstream frame;
            frame << "t " << t << " s (steps of " << pass.step << " units), " << name;
            if (!what.str().empty()) {
                failures.push_back(frame.str() + ":" + what.str());
                WritePicture("frame_" + std::to_string(frames), live);
                WritePicture("frame_" + std::to_string(frames) + "_reference", plain);
            }
            if (count.pastTheEdge > kSkyShare * all)
                edges.push_back(frame.str());
        }
    }
    EXPECT_GT(frames, 100);
    std::string list;
    for (size_t i = 0; i < failures.size() && i < 12; ++i)
        list += "\n  " + failures[i];
    EXPECT_TRUE(failures.empty()) << failures.size() << " of " << frames
                                  << " frames near the doorways are broken (" << skyFrames
                                  << " with the sky under the ground, " << blackFrames << " near-black, "
                                  << overFrames << " with another region over them):" << list;
    // The world's edge is closed by its ridge: no view near a doorway looks past it either.
    EXPECT_TRUE(edges.empty()) << edges.size() << " of " << frames << " frames look past the world's edge (first at "
                               << (edges.empty() ? std::string() : edges.front()) << ")";
}

} // namespace
} // namespace GAME
