// The sample host's flight as a player sees it: every frame of the flight within reach of a cave's
// doorway (and all of it inside the caves), and every frame of the crossings of both doorways, in
// and out, at walking pace (5 and 10 units a second, a frame every 33 ms of game time), drawn by
// the host's own view and flight camera through the OpenGL device at a small size and read back,
// is held against what a player would call broken:
//   - the sky under the ground: sky-coloured pixels where the view looks down at the ground within
//     the fog's clear reach (a field's own picture only: a cave has no sky);
//   - a large near-black area in a field's picture, or in a cave's (the cave seen from outside
//     its walls), or over most of any frame;
//   - a region drawn over another: outside the doorways' openings, the frame against the camera's
//     region drawn alone; inside the opening of a doorway of the camera's region (or of a field
//     beside it), against the region behind it drawn alone (cut at its doorway back, as it is
//     drawn behind it) and the camera's region alone (standing before the doorway), one or the
//     other, and in a fair part of the openings the region behind (a doorway left shut shows the
//     camera's region there). The references never go through the portal renderer's composite, so
//     a fault in how it weighs the regions (the camera's region giving way round the openings, the
//     region behind showing over it, or not through its doorway) is not in them too;
//   - the camera across the plane of a doorway of its region from its target (the view is drawn
//     from the target's region) while the target is at that doorway;
//   - at walking pace, the camera cutting: its distance from the target changing by more than a
//     unit from one frame to the next.
// The doorways' openings are their real triangles, clipped just in front of the camera and filled
// on the screen. Frames the openings all but fill (the camera passing a doorway with its target)
// show little of the camera's region: every check holds in them all the same, and more than a
// short stretch of path of them at a crossing, or more than a small share of all frames, fails
// (a camera that lingers in a doorway).
// Pixels where the view looks past the world's edge at the ground it would expect there are told
// apart, and fail the frame too: the world's ridge closes its edge.
//
// The frames step along the flight by a fixed length with a fixed game time between them (kPasses,
// kWalks), so that the same frames are drawn every time; the references are drawn in the same
// frame, after the host's picture. FLIGHT_PICTURES=<folder> writes each failing frame and its
// references there as PPM (FLIGHT_PICTURES_ALL=1: every walking frame).
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
#include "world/Triangle.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace GAME {
namespace {

// A set of the picture's pixels, one byte each (1: in the set).
using Mask = std::vector<uint8_t>;

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
// The walks through the doorways: walking paces (units a second), a frame every kWalkFrameMs of
// game time, from kWalkReach units before a doorway to as far past it (beyond the 11 units within
// which the portal renderer mixes the regions of a doorway its target is at), after kWalkLeadMs of
// frames that settle the camera and the regions' blending unchecked.
constexpr float kWalkPaces[] = {5.0f, 10.0f};
constexpr int kWalkFrameMs = 33;
constexpr float kWalkReach = 12.0f;
constexpr int kWalkLeadMs = 400;
// At walking pace the camera's distance from its target changes by less than this a frame.
constexpr float kCut = 1.0f;
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
constexpr int kDifferent = 24;
// A frame fails on more than this share of its pixels outside the openings.
constexpr double kSkyShare = 0.01;
constexpr double kBlackShare = 0.02;
// A cave has no ceiling: from inside, the dark above its walls is a strip at the top of the
// picture; a camera above or behind the walls sees the cave as a box standing in the dark. No
// frame is near-black over more than that share of all its pixels, openings and all.
constexpr double kCaveBlackShare = 0.4;
constexpr double kOverShare = 0.01;
// Where the judged openings cover more than kShutInside of the picture (well inside them), the
// region behind shows (and the camera's region does not) in at least kShutThrough of it: what
// stands before a doorway hides some of it, not most.
constexpr double kShutInside = 0.02;
constexpr double kShutThrough = 0.25;
// A frame whose openings cover more than this share of it counts as filled by them; more than
// kFilledShare of the frames filled fails, and so do more than kFilledPath units of path of them at
// a crossing (one frame at least).
constexpr double kFilledOpening = 0.9;
constexpr double kFilledShare = 0.04;
constexpr float kFilledPath = 1.2f;
// The camera counts as across a doorway's plane from its target while the target is this near the
// doorway (off its plane and along it from its choke point), in front of it.
constexpr float kDoorwayReach = 11.0f;

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
    int over = 0;     // outside the openings: not the camera's region alone
    int neither = 0;  // inside the openings judged: neither region behind nor the camera's region
    int inside = 0;   // inside the openings judged
    int through = 0;  // of those, the region behind and not the camera's region
    int opening = 0;  // pixels inside the openings
    int allBlack = 0; // near-black pixels, openings and all
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

// One doorway's opening on the screen and, for a doorway whose inside is judged, what the view
// shows through it: the region behind it drawn alone.
struct Opening
{
    Mask covered;
    int count = 0;
    Region* behind = nullptr; // null: not judged inside
    Coords placement;         // behind's space into the camera's region's
    const Portal* cut = nullptr;
    Picture alone;
};

bool Similar(const Pixel& p, const Pixel& q)
{
    return std::max({std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)}) <= kDifferent;
}

// The doorways' openings on the screen (each region placed by its offset from the root: a cave's
// doorway lies far below a field's view): every triangle of every portal, cut where it passes the
// camera (a doorway reaching behind the camera covers only what of it lies in front; what lies
// nearer than the near plane is seen through the opening all the same) and filled. `judged` tells
// the regions whose doorways are judged inside.
std::vector<Opening> Openings(World& world, Region* root, const Camera& camera, const Viewport& viewport,
                              const std::function<bool(const Region*)>& judged)
{
    std::vector<Opening> openings;
    const Coords toCamera = camera.GetCoords().Inverse();
    const float nearPlane = 1e-3f;
    for (int r = 0; r < world.GetNumRegions(); ++r) {
        Region* region = world.GetRegion(r);
        const Coords toRoot = region->GetRelativeTransformation(root);
        for (int i = 0; i < region->GetNumPortals(); ++i) {
            const Portal* portal = region->GetPortal(i);
            if (!portal)
                continue;
            Opening opening;
            opening.covered.assign(static_cast<size_t>(kWidth) * kHeight, 0);
            const Coords toView = toCamera * toRoot * portal->GetCoords();
            for (const Triangle& triangle : portal->GetTriangles()) {
                // The triangle in the camera's space (looking along +z), cut just in front of it.
                std::vector<Vec3> polygon;
                for (int c = 0; c < 3; ++c) {
                    const Vec3 a = toView.TransformPoint(triangle.corners[c]);
                    const Vec3 b = toView.TransformPoint(triangle.corners[(c + 1) % 3]);
                    if (a.z >= nearPlane)
                        polygon.push_back(a);
                    if ((a.z >= nearPlane) != (b.z >= nearPlane))
                        polygon.push_back(a + (b - a) * ((nearPlane - a.z) / (b.z - a.z)));
                }
                if (polygon.size() < 3)
                    continue;
                std::vector<Vec2> screen;
                for (const Vec3& p : polygon)
                    screen.push_back(camera.Project(camera.GetCoords().TransformPoint(p), viewport));
                // A convex polygon: a pixel is inside when it is on the same side of every edge.
                for (int y = 0; y < kHeight; ++y)
                    for (int x = 0; x < kWidth; ++x) {
                        const Vec2 q(static_cast<float>(x) + 0.5f, static_cast<float>(y) + 0.5f);
                        int positive = 0, negative = 0;
                        for (size_t e = 0; e < screen.size(); ++e) {
                            const Vec2& u = screen[e];
                            const Vec2& v = screen[(e + 1) % screen.size()];
                            const float cross = (v.x - u.x) * (q.y - u.y) - (v.y - u.y) * (q.x - u.x);
                            positive += cross > 0.0f;
                            negative += cross < 0.0f;
                        }
                        const size_t at = static_cast<size_t>(y) * kWidth + static_cast<size_t>(x);
                        if ((positive == 0 || negative == 0) && !opening.covered[at]) {
                            opening.covered[at] = 1;
                            ++opening.count;
                        }
                    }
            }
            if (opening.count == 0)
                continue;
            // The region behind, placed across the doorway as the view passes through it.
            Coords across;
            Region* behind = nullptr;
            if (judged(region) && portal->GetBackToFrontCoords(across, behind) && behind &&
                behind->IsLevelLoaded()) {
                opening.behind = behind;
                opening.placement = toRoot * across;
                opening.cut = portal->GetConnectedPortal();
            }
            openings.push_back(std::move(opening));
        }
    }
    return openings;
}

// The pixels within `reach` of a pixel of the set (grown), or whose every pixel within `reach` is
// of the set (shrunk). A square is a row's reach of a column's reach: across, then down (each
// frame grows two masks, which the sanitizers' build would otherwise spend most of the test on).
// An empty set (a frame with no doorway in view) stays empty either way.
Mask Grown(const Mask& set, int reach, bool grow)
{
    if (std::find(set.begin(), set.end(), 1) == set.end())
        return set;
    auto pass = [&](const Mask& from, bool across) {
        Mask out(from.size(), grow ? 0 : 1);
        const uint8_t wanted = grow ? 1 : 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                for (int d = -reach; d <= reach; ++d) {
                    const int gx = across ? std::clamp(x + d, 0, kWidth - 1) : x;
                    const int gy = across ? y : std::clamp(y + d, 0, kHeight - 1);
                    if (from[static_cast<size_t>(gy) * kWidth + static_cast<size_t>(gx)] == wanted) {
                        out[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)] = wanted;
                        break;
                    }
                }
        return out;
    };
    return pass(pass(set, true), false);
}

// Counts what is wrong with a frame (live) against the camera's region drawn alone and the regions
// behind the openings drawn alone, in the root region's view.
FrameCount Look(const Picture& live, const Picture& alone, const std::vector<Opening>& openings, bool cave,
                const Region& root, const Camera& eye, const Looking& looking)
{
    const Viewport viewport(0, 0, kWidth, kHeight);
    const Vec3 offset(static_cast<float>(root.GetOffsetFromWorld().x), 0.0f,
                      static_cast<float>(root.GetOffsetFromWorld().z));
    // Outside the openings grown by two pixels (the composite's edges), the camera's region; well
    // inside one judged (two pixels in from the edge of all the openings), the region behind or
    // the camera's.
    Mask all(static_cast<size_t>(kWidth) * kHeight, 0);
    for (const Opening& opening : openings)
        for (size_t i = 0; i < all.size(); ++i)
            all[i] |= opening.covered[i];
    const Mask grown = Grown(all, 2, true), inner = Grown(all, 2, false);
    FrameCount count;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const size_t at = static_cast<size_t>(y) * kWidth + static_cast<size_t>(x);
            const Pixel& p = live.At(x, y);
            const bool black = std::max({p.r, p.g, p.b}) <= kBlackLevel;
            count.allBlack += black;
            if (grown[at]) {
                ++count.opening;
                const bool root = Similar(p, alone.At(x, y));
                bool judged = false, behind = false;
                for (const Opening& opening : openings)
                    if (opening.behind && opening.covered[at]) {
                        judged = true;
                        behind = behind || Similar(p, opening.alone.At(x, y));
                    }
                if (inner[at] && judged) {
                    ++count.inside;
                    count.neither += !root && !behind;
                    count.through += behind && !root;
                }
                continue;
            }
            if (!Similar(p, alone.At(x, y)))
                ++count.over;
            count.black += black;
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

// Whether the camera stands across the plane of a doorway of its region from its target while the
// target is at the doorway.
bool CameraAcrossADoorway(const Region& root, const Vec3& target, const Vec3& eye)
{
    for (int i = 0; i < root.GetNumPortals(); ++i) {
        const Portal* portal = root.GetPortal(i);
        if (!portal || portal->GetTriangles().empty())
            continue;
        const Plane plane = portal->GetPlane();
        const float ahead = plane.GetDistance(target);
        const Vec3 choke = portal->GetChokePoint().GetOrigin().GetRegionPosition();
        if (ahead >= 0.0f && ahead < kDoorwayReach &&
            (target - choke - plane.normal * ahead).Length() < kDoorwayReach &&
            !(plane.GetDistance(eye) > 0.0f))
            return true;
    }
    return false;
}

// The moments the flight goes through a doorway (from a field into a cave or back), each with the
// way it goes.
struct Crossing
{
    float seconds;
    bool in;
};
std::vector<Crossing> Crossings(const DataKit::WorldGenerator& generator)
{
    std::vector<Crossing> crossings;
    const float step = 0.25f / generator.GetSettings().flightSpeed;
    auto isCave = [&](float t) {
        return generator.GetRegions()[static_cast<size_t>(generator.GetFlightView(t).region)].cave;
    };
    for (float t = step; t <= generator.GetFlightDuration(); t += step) {
        const bool before = isCave(t - step), after = isCave(t);
        if (before == after)
            continue;
        // The moment itself, to a thousandth of a unit of path.
        float lo = t - step, hi = t;
        while ((hi - lo) * generator.GetSettings().flightSpeed > 1e-3f) {
            const float mid = 0.5f * (lo + hi);
            (isCave(mid) == before ? lo : hi) = mid;
        }
        crossings.push_back(Crossing{hi, after});
    }
    return crossings;
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
    // The references' transparency target (the camera's region drawn alone takes no blending).
    GraphicsTransparencyManager settled;
    settled.SetFadeTime(0);

    // What is flown: the flight's own stretches round the doorways, then every crossing of a
    // doorway at walking pace.
    struct Run
    {
        float from, to;   // seconds of path, checked
        float step;       // seconds of path a frame
        int gameStepMs;   // game time a frame
        int leadFrames;   // unchecked frames before `from`
        std::string what; // for the messages
        bool walk;
    };
    std::vector<Run> runs;
    const std::vector<std::pair<float, float>> stretches = NearDoorways(generator);
    ASSERT_EQ(stretches.size(), static_cast<size_t>(plan.caves)) << "one stretch round each cave";
    for (const Pass& pass : kPasses) {
        std::ostringstream what;
        what << "the flight in steps of " << pass.step << " units";
        runs.push_back(Run{stretches[pass.stretch].first, stretches[pass.stretch].second,
                           pass.step / plan.flightSpeed, pass.gameStepMs, 0, what.str(), false});
    }
    const std::vector<Crossing> crossings = Crossings(generator);
    ASSERT_EQ(crossings.size(), static_cast<size_t>(2 * plan.caves)) << "each cave entered and left once";
    for (const float pace : kWalkPaces)
        for (const Crossing& crossing : crossings) {
            std::ostringstream what;
            what << "walking " << (crossing.in ? "in" : "out") << " at " << pace << " units a second";
            const float step = pace * static_cast<float>(kWalkFrameMs) / 1000.0f / plan.flightSpeed;
            const float reach = kWalkReach / plan.flightSpeed;
            runs.push_back(Run{crossing.seconds - reach, crossing.seconds + reach, step, kWalkFrameMs,
                               kWalkLeadMs / kWalkFrameMs, what.str(), true});
        }
    auto isCave = [&](const Region* region) {
        return generator.GetRegions()[static_cast<size_t>(region->GetRegionIndex())].cave;
    };

    std::vector<std::string> failures, edges, filledRuns;
    int frames = 0, walkFrames = 0, skyFrames = 0, blackFrames = 0, overFrames = 0, neitherFrames = 0,
        shutFrames = 0, acrossFrames = 0, cutFrames = 0, filledFrames = 0, mostFilledWalking = 0;
    const double all = static_cast<double>(kWidth) * kHeight;
    const bool writeAll = std::getenv("FLIGHT_PICTURES_ALL") != nullptr;
    for (const Run& run : runs) {
        const float start = run.from - run.step * static_cast<float>(run.leadFrames);
        // As the host starts its flight: the regions in reach of the first view come in first.
        {
            const WorldFrustum first = camera.ViewAt(start, viewport);
            RegionLoader loader(first, true);
            // The loads run on threads of their own: frames every few milliseconds until they are
            // in (two minutes at most).
            for (int i = 0; i < 24000 && !loader.GetIsDone(); ++i) {
                clock.Advance(run.gameStepMs);
                loader.Update();
                e.Update(&first, false);
                e.Render();
                e.PresentSurface();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            ASSERT_TRUE(loader.GetIsDone()) << "the regions round " << start << " s did not load";
        }
        float lastDistance = -1.0f;
        int filledHere = 0;
        // Counted in frames from the start, so that a long run adds up no rounding.
        for (int n = 0;; ++n) {
            const float t = start + run.step * static_cast<float>(n);
            if (t > run.to)
                break;
            const bool checked = n >= run.leadFrames;
            clock.Advance(run.gameStepMs);
            const WorldFrustum frustum = camera.ViewAt(t, viewport);
            e.Update(&frustum, true);
            view.Draw(camera);
            e.Render();
            Region* root = frustum.GetRegion();
            const Camera& eye = camera.GetRegionCamera();
            WorldVec3 target;
            camera.GetTargetPosition(target);
            const Vec3 at = eye.GetCoords().origin;
            const float distance = (at - target.GetRegionPosition()).Length();
            const bool cut = run.walk && lastDistance >= 0.0f && std::fabs(distance - lastDistance) > kCut;
            lastDistance = distance;
            if (!checked) {
                e.PresentSurface();
                continue;
            }
            Picture live, alone;
            live.pixels.resize(static_cast<size_t>(kWidth) * kHeight);
            canvas->SetTargetSurface(nullptr);
            ASSERT_TRUE(device->ReadFrameBuffer(live.pixels.data(), kWidth, kHeight));
            // The doorways of the camera's region, and of the fields beside a field, are judged
            // inside: the view looks through them.
            const bool cave = isCave(root);
            std::vector<Opening> openings = Openings(*world, root, eye, viewport, [&](const Region* region) {
                return region == root || (!cave && !isCave(region));
            });
            // Each region alone, in the same frame.
            settled.SetTargetPosition(target);
            ASSERT_TRUE(canvas->BeginFrame());
            auto drawAlone = [&](Region* region, const Coords& placement, const Portal* cutAt,
                                 Picture& into) {
                canvas->SetTargetSurface(nullptr);
                GraphicsPortalRenderer reference(*canvas, root, eye, viewport, false);
                reference.SetTransparencyManager(&settled);
                reference.RenderAlone(region, placement, cutAt);
                into.pixels.resize(live.pixels.size());
                canvas->SetTargetSurface(nullptr);
                return device->ReadFrameBuffer(into.pixels.data(), kWidth, kHeight);
            };
            ASSERT_TRUE(drawAlone(root, Coords(), nullptr, alone));
            for (Opening& opening : openings) {
                if (opening.behind) {
                    ASSERT_TRUE(drawAlone(opening.behind, opening.placement, opening.cut, opening.alone));
                }
            }
            canvas->EndFrame();
            e.PresentSurface();

            ++frames;
            walkFrames += run.walk;
            for (int i = 0; i < plan.regionsX * plan.regionsZ; ++i)
                looking.fieldLoaded[static_cast<size_t>(i)] = world->GetRegion(i)->IsLevelLoaded();
            const FrameCount count = Look(live, alone, openings, cave, *root, eye, looking);
            std::ostringstream what;
            const bool filled = count.opening > kFilledOpening * all;
            filledFrames += filled;
            filledHere += filled;
            if (count.skyUnderGround > kSkyShare * all && ++skyFrames)
                what << " sky under the ground " << count.skyUnderGround * 100.0 / all << " %;";
            if ((count.black > (cave ? kCaveBlackShare : kBlackShare) * all ||
                 count.allBlack > kCaveBlackShare * all) &&
                ++blackFrames)
                what << " near-black " << count.black * 100.0 / all << " % (" << count.allBlack * 100.0 / all
                     << " % of all);";
            if (count.over > kOverShare * all && ++overFrames)
                what << " another region drawn over it " << count.over * 100.0 / all << " %;";
            if (count.neither > kOverShare * all && ++neitherFrames)
                what << " neither region in an opening " << count.neither * 100.0 / all << " %;";
            if (count.inside > kShutInside * all && count.through < kShutThrough * count.inside &&
                ++shutFrames)
                what << " the region behind a doorway shows in " << count.through * 100.0 / count.inside
                     << " % of its opening;";
            if (CameraAcrossADoorway(*root, target.GetRegionPosition(), at) && ++acrossFrames)
                what << " the camera across the doorway from its target;";
            if (cut && ++cutFrames)
                what << " the camera cut to " << distance << " units from its target;";
            const std::string name = root->GetName().substr(root->GetName().find_last_of("/\\") + 1);
            std::ostringstream frame;
            frame << "frame " << frames << ", t " << t << " s (" << run.what << "), " << name;
            const std::string file = "frame_" + std::to_string(frames);
            if (!what.str().empty() || (writeAll && run.walk)) {
                WritePicture(file, live);
                WritePicture(file + "_alone", alone);
                for (size_t i = 0; i < openings.size(); ++i)
                    if (openings[i].behind)
                        WritePicture(file + "_behind_" + std::to_string(i), openings[i].alone);
            }
            if (!what.str().empty())
                failures.push_back(frame.str() + ":" + what.str());
            if (count.pastTheEdge > kSkyShare * all)
                edges.push_back(frame.str());
        }
        // The frames filled are those of passing a doorway: a short stretch of path at each
        // crossing the run makes.
        const int crossed =
            static_cast<int>(std::count_if(crossings.begin(), crossings.end(), [&](const Crossing& c) {
                return c.seconds >= run.from && c.seconds <= run.to;
            }));
        const int bound =
            std::max(crossed, 1) * (1 + static_cast<int>(kFilledPath / (run.step * plan.flightSpeed)));
        if (run.walk)
            mostFilledWalking = std::max(mostFilledWalking, filledHere);
        if (filledHere > bound)
            filledRuns.push_back(run.what + ": " + std::to_string(filledHere) + " frames (at most " +
                                 std::to_string(bound) + ")");
    }
    EXPECT_GT(frames, 100);
    EXPECT_GT(walkFrames, 400);
    std::string list;
    for (size_t i = 0; i < failures.size() && i < 12; ++i)
        list += "\n  " + failures[i];
    EXPECT_TRUE(failures.empty()) << failures.size() << " of " << frames
                                  << " frames near the doorways are broken (" << skyFrames
                                  << " with the sky under the ground, " << blackFrames << " near-black, "
                                  << overFrames << " with another region over them, " << neitherFrames
                                  << " with neither region in an opening, " << shutFrames
                                  << " with a doorway shut, " << acrossFrames
                                  << " with the camera across a doorway from its target, " << cutFrames
                                  << " where the camera cut):" << list;
    // The world's edge is closed by its ridge: no view near a doorway looks past it either.
    EXPECT_TRUE(edges.empty()) << edges.size() << " of " << frames << " frames look past the world's edge (first at "
                               << (edges.empty() ? std::string() : edges.front()) << ")";
    // Few frames may be all but filled by the openings, and only while passing a doorway.
    EXPECT_LE(filledFrames, kFilledShare * frames)
        << filledFrames << " of " << frames << " frames are all but filled by the doorways' openings";
    std::string runsList;
    for (const std::string& r : filledRuns)
        runsList += "\n  " + r;
    EXPECT_TRUE(filledRuns.empty()) << "too many frames all but filled by the openings at a crossing:"
                                    << runsList;
    std::printf(
        "[ flight   ] %d frames (%d walking), %d all but filled by the openings (at most %d at a walking "
        "crossing)\n",
        frames, walkFrames, filledFrames, mostFilledWalking);
}

} // namespace
} // namespace GAME
