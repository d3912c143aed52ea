#include "world/MapImage.h"

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/Log.h"
#include "core/WorldCoords.h"
#include "data/BinaryWriter.h"
#include "graphics/Camera.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/Image.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderSurface.h"
#include "graphics/Viewport.h"
#include "scene/GraphicsLight.h"
#include "scene/GraphicsNormalRenderer.h"
#include "world/DayNightManager.h"
#include "world/DetailMapFilterFunction.h"
#include "world/Engine.h"
#include "world/Region.h"
#include "world/World.h"

#include <cmath>
#include <utility>

namespace GAME {

namespace {

// Whole units of a box side; -1 when the side is not finite or too large to count.
int WholeUnits(float from, float to)
{
    const double units = static_cast<double>(to) - static_cast<double>(from);
    if (!(units >= 0.0) || units > static_cast<double>(MapImage::maxSide) * 1024.0)
        return -1;
    return static_cast<int>(units);
}

// The engine's values that map rendering changes, put back when it goes out of scope.
class MapRenderingScope
{
public:
    MapRenderingScope(Engine& engine, GraphicsEngine& graphics, DetailMapFilterFunction& filter)
        : m_engine(engine), m_graphics(graphics), m_filter(engine.GetEntityRenderFilter()),
          m_mapRendering(engine.IsMapRendering()), m_reflections(graphics.IsReflectionsEnabled())
    {
        m_engine.SetEntityRenderFilter(&filter);
        m_engine.SetMapRendering(true);
        m_graphics.EnableReflections(false);
    }
    ~MapRenderingScope()
    {
        m_graphics.EnableReflections(m_reflections);
        m_engine.SetMapRendering(m_mapRendering);
        m_engine.SetEntityRenderFilter(m_filter);
    }
    MapRenderingScope(const MapRenderingScope&) = delete;
    MapRenderingScope& operator=(const MapRenderingScope&) = delete;

private:
    Engine& m_engine;
    GraphicsEngine& m_graphics;
    FilterFunction<Entity>* m_filter;
    bool m_mapRendering;
    bool m_reflections;
};

// Draws the scene into the canvas's current target, which has the viewport's size.
void DrawScene(GraphicsEngine& graphics, GraphicsCanvas& canvas, Region* region,
               const std::vector<Region*>& neighbours, const Vec3& centre, int worldWidth, int worldHeight,
               const Viewport& viewport)
{
    GraphicsNormalRenderer renderer;

    Camera camera;
    camera.SetType(CAMERA_ORTHOGRAPHIC);
    camera.SetNearPlane(MapImage::nearPlane);
    camera.SetFarPlane(MapImage::farPlane);
    camera.SetWidth(static_cast<float>(worldWidth));
    camera.SetHeight(static_cast<float>(worldHeight));
    // Looking straight down with -z up: x runs to the right of the picture.
    camera.SetCoords(
        Coords::LookAt(centre + Vec3(0.0f, MapImage::cameraHeight, 0.0f), centre, Vec3(0.0f, 0.0f, -1.0f)));
    renderer.SetViewer(region, camera, viewport, camera.GetFrustum(viewport));

    GraphicsLight sun;
    sun.SetType(GraphicsLight::TYPE_DIRECTIONAL);
    sun.SetCastsShadows(true);
    if (DayNightManager* dayNight = DayNightManager::Get()) {
        Color color = dayNight->GetLightColor();
        color.a = 1.0f;
        sun.SetColor(color);
        const Vec3 direction = dayNight->GetLightDirection();
        sun.SetObjectToWorldCoords(
            WorldCoords(region, Coords::LookInDirection(Vec3(), direction, direction.GetPerpendicular())));
        renderer.SetSkyAmbientColor(dayNight->GetSkyAmbientColor());
        renderer.SetGroundAmbientColor(dayNight->GetGroundAmbientColor());
    }
    renderer.AddLight(sun);

    renderer.SetGenerationId(graphics.GetGenerationId());
    if (const World* world = region->GetWorld())
        renderer.SetShadowSoftness(world->GetShadowSoftness());
    renderer.EnableShadows(true);
    renderer.EnableLighting(true);
    renderer.EnableWater(true);
    renderer.EnableTerrain(true);
    renderer.EnableGrass(true);
    renderer.EnableGridTiles(true);
    renderer.EnableMeshes(true);
    renderer.EnableDecals(true);
    renderer.EnableEffects(true);
    renderer.EnableFog(false);
    // The renderer clears the target again: to the map's own colour.
    renderer.SetBackgroundColor(MapImage::GetClearColor());

    renderer.AddRegionToScene(region);
    for (Region* neighbour : neighbours)
        if (neighbour != region)
            renderer.AddRegionToScene(neighbour);
    renderer.Render(canvas, false, region->IsUnderground());
}

} // namespace

bool MapImage::Decode(const void* bytes, unsigned size, Image& image)
{
    // The image class's TGA reader: the engine has one.
    return image.LoadTGA(bytes, size, Image::FORMAT_RGBA) == Image::ERROR_NONE;
}

bool MapImage::GetImageSize(const Vec3& minimum, const Vec3& maximum, float pixelsPerUnit, int& width,
                            int& height)
{
    width = height = 0;
    const int worldWidth = WholeUnits(minimum.x, maximum.x);
    const int worldHeight = WholeUnits(minimum.z, maximum.z);
    if (worldWidth < 0 || worldHeight < 0 || !(pixelsPerUnit > 0.0f) || !std::isfinite(pixelsPerUnit))
        return false;
    const double w = std::trunc(static_cast<double>(static_cast<float>(worldWidth) * pixelsPerUnit));
    const double h = std::trunc(static_cast<double>(static_cast<float>(worldHeight) * pixelsPerUnit));
    if (w < 1.0 || h < 1.0 || w > maxSide || h > maxSide)
        return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

bool MapImage::Render(Region* region, const Vec3& minimum, const Vec3& maximum, float pixelsPerUnit,
                      const std::vector<Region*>& neighbours, const std::string& fileName)
{
    Release();
    if (!region) {
        LogPrintf(1, "MapImage: no region to draw");
        return false;
    }
    const char* name = region->GetName().c_str();
    int width = 0, height = 0;
    if (!GetImageSize(minimum, maximum, pixelsPerUnit, width, height)) {
        LogPrintf(1, "MapImage: %g x %g units of %s at %g pixels a unit make no picture",
                  maximum.x - minimum.x, maximum.z - minimum.z, name, pixelsPerUnit);
        return false;
    }
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4u > Image::maxBufferBytes) {
        LogPrintf(1, "MapImage: a %d x %d picture of %s is too large", width, height, name);
        return false;
    }
    GraphicsEngine* graphics = gEngine ? gEngine->GetGraphicsEngine() : nullptr;
    RenderDevice* device = graphics ? graphics->GetRenderDevice() : nullptr;
    GraphicsCanvas* canvas = graphics ? graphics->GetCanvas() : nullptr;
    if (!device || !canvas) {
        LogPrintf(1, "MapImage: no graphics device to draw %s", name);
        return false;
    }
    RenderSurface* surface =
        device->CreateTextureSurface(width, height, RENDER_FORMAT_RGBA, RENDER_FORMAT_D24);
    if (!surface) {
        LogPrintf(1, "MapImage: no %d x %d render surface for %s", width, height, name);
        return false;
    }

    const Viewport viewport(0, 0, width, height);
    const Vec3 centre = (minimum + maximum) * 0.5f;
    RenderSurface* previousTarget = canvas->GetTargetSurface();
    const Viewport previousViewport = canvas->GetViewport();
    canvas->SetTargetSurface(surface);
    const bool begun = canvas->BeginFrame();
    if (begun) {
        canvas->SetViewport(viewport);
        canvas->SetClearColor(GetClearColor());
        canvas->Clear(RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
        DetailMapFilterFunction filter;
        MapRenderingScope scope(*gEngine, *graphics, filter);
        DrawScene(*graphics, *canvas, region, neighbours, centre, WholeUnits(minimum.x, maximum.x),
                  WholeUnits(minimum.z, maximum.z), viewport);
        canvas->SetTargetSurface(previousTarget);
        canvas->SetDefaultState();
        canvas->EndFrame();
    }

    std::vector<Pixel> pixels;
    bool read = false;
    if (begun) {
        pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
        // The device reads its render target 0.
        canvas->SetTargetSurface(surface);
        read = device->ReadFrameBuffer(pixels.data(), width, height);
    }
    canvas->SetTargetSurface(previousTarget);
    canvas->SetViewport(previousViewport);
    device->DestroySurface(&surface);
    if (!begun || !read) {
        LogPrintf(1, "MapImage: the picture of %s could not be %s", name, begun ? "read back" : "drawn");
        return false;
    }

    Image image;
    BinaryWriter tga(1024);
    if (!image.Create(static_cast<uint32_t>(width), static_cast<uint32_t>(height), Image::FORMAT_RGBA,
                      pixels.data()) ||
        !image.ChangeFormat(Image::FORMAT_RGB) || !image.WriteTGA(tga) || tga.Failed()) {
        LogPrintf(1, "MapImage: the picture of %s could not be made into a TGA image", name);
        return false;
    }
    m_width = static_cast<unsigned>(width);
    m_height = static_cast<unsigned>(height);
    m_bytes.assign(tga.GetBuffer(), tga.GetBuffer() + tga.GetSize());

    if (fileName.empty())
        return true;
    BinaryWriter file;
    bool written = file.OpenFile(fileName);
    written = written && file.WriteBytes(m_bytes.data(), GetSize());
    written = file.CloseStream() && written && !file.Failed();
    if (!written)
        LogPrintf(1, "MapImage: could not write %s", fileName.c_str());
    return written;
}

void MapImage::TakeBuffer(unsigned& width, unsigned& height, std::vector<uint8_t>& bytes)
{
    width = m_width;
    height = m_height;
    bytes = std::move(m_bytes);
    Release();
}

void MapImage::Release()
{
    m_width = m_height = 0;
    m_bytes.clear();
    m_bytes.shrink_to_fit();
}

} // namespace GAME
