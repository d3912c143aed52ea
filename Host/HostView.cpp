#include "HostView.h"

#include "core/Coords.h"
#include "core/Mat4.h"
#include "core/RTTI_ClassInfo.h"
#include "core/WorldVec3.h"
#include "data/BinaryWriter.h"
#include "datakit/ArzWriter.h"
#include "datakit/SampleGameData.h"
#include "datakit/WorldGenerator.h"
#include "graphics/DisplayWidget.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/Image.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderVertexBuffer.h"
#include "graphics/RenderVertexDeclaration.h"
#include "graphics/Viewport.h"
#include "platform/Module.h"
#include "platform/PlatformFile.h"
#include "platform/Threading.h"
#include "scene/Camera.h"
#include "scene/GraphicsPortalRenderer.h"
#include "scene/GraphicsRenderable.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/RenderablePass.h"
#include "terrain/GridRegion.h"
#include "world/Engine.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/WorldCamera.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace SampleHost {

// The box geometry and the shader every prop draws with, while a view lives.
struct HostView::Props
{
    GAME::RenderDevice* device = nullptr;
    GAME::GraphicsEngine* graphics = nullptr;
    GAME::GraphicsShader2* shader = nullptr;
    GAME::RenderVertexBuffer* vertices = nullptr;
    GAME::RenderIndexBuffer* indices = nullptr;
    GAME::RenderVertexDeclaration* declaration = nullptr;
};

namespace {

HostView::Props* g_props = nullptr;

struct BoxVertex
{
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};

constexpr int boxVertexCount = 24;
constexpr int boxTriangleCount = 12;

// A cube of half size 1, a normal per face.
void MakeBox(std::vector<BoxVertex>& vertices, std::vector<uint16_t>& indices)
{
    const GAME::Vec3 normals[6] = {GAME::Vec3(1, 0, 0),  GAME::Vec3(-1, 0, 0), GAME::Vec3(0, 1, 0),
                                   GAME::Vec3(0, -1, 0), GAME::Vec3(0, 0, 1),  GAME::Vec3(0, 0, -1)};
    const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (const GAME::Vec3& n : normals) {
        const GAME::Vec3 u = std::fabs(n.y) > 0.5f ? GAME::Vec3(1, 0, 0) : GAME::Vec3(0, 1, 0);
        const GAME::Vec3 v = GAME::Vec3::Cross(n, u);
        const auto first = static_cast<uint16_t>(vertices.size());
        for (const auto& c : corners) {
            const GAME::Vec3 p = n + u * c[0] + v * c[1];
            vertices.push_back({p.x, p.y, p.z, n.x, n.y, n.z, (c[0] + 1) * 0.5f, (c[1] + 1) * 0.5f});
        }
        for (uint16_t i : {0, 1, 2, 0, 2, 3})
            indices.push_back(static_cast<uint16_t>(first + i));
    }
}

// How a prop of the record looks: half extents and colour.
struct PropLook
{
    const char* word;
    GAME::Vec3 halfExtents;
    GAME::Color color;
};

const PropLook propLooks[] = {
    {"Rock", GAME::Vec3(0.6f, 0.4f, 0.6f), GAME::Color(0.5f, 0.5f, 0.5f, 1.0f)},
    {"Tree", GAME::Vec3(0.4f, 2.0f, 0.4f), GAME::Color(0.2f, 0.6f, 0.2f, 1.0f)},
    {"Bush", GAME::Vec3(0.7f, 0.5f, 0.7f), GAME::Color(0.15f, 0.4f, 0.1f, 1.0f)},
    {"Ruin", GAME::Vec3(1.5f, 1.0f, 1.5f), GAME::Color(0.7f, 0.6f, 0.45f, 1.0f)},
};

// "Levels/Generated/Field_1_2.lvl" -> "Field_1_2".
std::string ShortName(const std::string& name)
{
    const size_t slash = name.find_last_of("/\\");
    std::string text = slash == std::string::npos ? name : name.substr(slash + 1);
    const size_t dot = text.rfind('.');
    return dot == std::string::npos ? text : text.substr(0, dot);
}

} // namespace

// A prop of the generated world: a lit box standing on its origin.
class HostProp : public GAME::Entity, public GAME::GraphicsRenderable
{
    GAME_DECLARE_CLASS(HostProp)

public:
    void AddToScene(GAME::GraphicsSceneRenderer& renderer, const GAME::Frustum* frustum) override
    {
        GAME::Entity::AddToScene(renderer, frustum);
        if (renderer.IsRenderFlagSet(GAME::GraphicsSceneRenderer::RENDER_MESHES))
            renderer.AddRenderable(this, GetRegion());
    }
    void UpdateBoundingBox() override { SetRegionBoundingBox(GetRenderPassBoundingBox()); }

    int GetNumRenderPasses(const GAME::Name& style, GAME::RenderGenerationId) const override
    {
        return g_props && g_props->shader && g_props->shader->GetIsReadyToUse() &&
                       g_props->shader->FindStyleByName(style) >= 0
                   ? 1
                   : 0;
    }
    GAME::ABBox GetRenderPassBoundingBox() const override
    {
        const PropLook& look = Look();
        const GAME::Vec3 origin = GetCoords().GetOrigin().GetRegionPosition();
        return GAME::ABBox(origin + GAME::Vec3(0.0f, look.halfExtents.y, 0.0f), look.halfExtents);
    }
    int GetRenderPassSortOrder(int, const GAME::Name& style, GAME::RenderGenerationId) const override
    {
        return g_props->shader->GetSortOrder(g_props->shader->FindStyleByName(style));
    }
    const GAME::GraphicsShader2* GetShader2(int, const GAME::Name&) const override
    {
        return g_props ? g_props->shader : nullptr;
    }
    const GAME::Name& GetShaderStyle(int, const GAME::Name& style, GAME::RenderGenerationId) const override
    {
        return style;
    }
    const GAME::GraphicsTexture* GetTexture(int, const GAME::Name&) const override { return nullptr; }
    void RenderPass(const GAME::RenderablePass& pass, const GAME::Name&, GAME::GraphicsCanvas&,
                    const GAME::GraphicsSceneRenderer& renderer) override
    {
        static const GAME::Name objectToWorld = GAME::Name::Create("objectToWorldMatrix");
        static const GAME::Name objectToScreen = GAME::Name::Create("objectToScreenMatrix");
        static const GAME::Name color = GAME::Name::Create("color");
        if (!g_props || !g_props->device)
            return;
        const GAME::ABBox box = GetRenderPassBoundingBox();
        const GAME::Coords placement(GAME::Vec3(box.extents.x, 0, 0), GAME::Vec3(0, box.extents.y, 0),
                                     GAME::Vec3(0, 0, box.extents.z), box.center);
        const GAME::Mat4 toScene(pass.regionToScene * placement);
        auto* shader = const_cast<GAME::GraphicsShader2*>(pass.shader);
        shader->SetFloat4x4(objectToWorld, 0, toScene);
        shader->SetFloat4x4(objectToScreen, 0, renderer.GetWorldToScreenMatrix() * toScene);
        const GAME::Color& c = Look().color;
        const float rgba[4] = {c.r, c.g, c.b, c.a};
        shader->SetFloat4(color, 0, rgba);
        shader->Render("HostProp");
        GAME::RenderDevice& device = *g_props->device;
        device.SetVertexDeclaration(g_props->declaration);
        device.SetStreamSource(0, g_props->vertices, 0, sizeof(BoxVertex));
        device.SetIndices(g_props->indices);
        GAME::RenderDrawRange range;
        range.numVertices = boxVertexCount;
        range.primitiveCount = boxTriangleCount;
        device.DrawIndexedPrimitive(GAME::RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    }
    void LogInfo() const override { GAME::Entity::LogInfo(); }

private:
    const PropLook& Look() const
    {
        for (const PropLook& look : propLooks)
            if (GetObjectName().find(look.word) != std::string::npos)
                return look;
        return propLooks[0];
    }
};

GAME_REGISTER_CLASS(HostProp, GAME::Entity)

// Draws the view when the display draws its widgets.
class HostView::Widget : public GAME::DisplayWidget
{
public:
    explicit Widget(HostView& view) : m_view(view) {}
    void Render(GAME::GraphicsCanvas& canvas) const override { m_view.Render(canvas); }

private:
    HostView& m_view;
};

void HostView::AddWorldData(DataKit::SampleGameData& data)
{
    AddPropRecords(data.Database());
    DataKit::WorldGenerator::AddPlacedRecords(data.Database());
    data.SetDefault("reflectionQuality", "high");
}

void HostView::AddPropRecords(DataKit::ArzWriter& database)
{
    for (const std::string& record : DataKit::WorldGenerator::EntityRecords())
        database.AddRecord(DataKit::NormalizeRecordName(record)).String("Class", "HostProp");
}

HostView::HostView(GAME::Engine& engine, Output output, std::string folder)
    : m_engine(engine), m_output(std::move(output)), m_folder(std::move(folder)),
      m_widget(std::make_unique<Widget>(*this)), m_props(std::make_unique<Props>())
{
    // Last in the list: drawn first, under the other widgets.
    m_engine.GetDisplay().AddWidget(m_widget.get());
    GAME::GraphicsEngine* graphics = m_engine.GetGraphicsEngine();
    GAME::RenderDevice* device = graphics ? graphics->GetRenderDevice() : nullptr;
    if (!device)
        return;
    std::vector<BoxVertex> vertices;
    std::vector<uint16_t> indices;
    MakeBox(vertices, indices);
    static const GAME::VertexElement elements[] = {
        {0, GAME::VERTEX_USAGE_POSITION, GAME::VERTEX_TYPE_FLOAT3},
        {0, GAME::VERTEX_USAGE_NORMAL, GAME::VERTEX_TYPE_FLOAT3},
        {0, GAME::VERTEX_USAGE_TEXCOORD0, GAME::VERTEX_TYPE_FLOAT2},
    };
    Props& props = *m_props;
    props.device = device;
    props.graphics = graphics;
    props.declaration = device->CreateVertexDeclaration(elements, 3);
    props.vertices = device->CreateVertexBuffer(GAME::RENDER_USAGE_STATIC,
                                                static_cast<unsigned>(vertices.size() * sizeof(BoxVertex)));
    props.indices = device->CreateIndexBuffer(static_cast<unsigned>(indices.size()), 2);
    void* v = props.vertices ? props.vertices->Lock() : nullptr;
    void* i = props.indices ? props.indices->Lock() : nullptr;
    if (!props.declaration || !v || !i) {
        m_output("EngineHost: the props' boxes could not be made; they are not drawn");
        return;
    }
    std::memcpy(v, vertices.data(), vertices.size() * sizeof(BoxVertex));
    props.vertices->Unlock();
    std::memcpy(i, indices.data(), indices.size() * sizeof(uint16_t));
    props.indices->Unlock();
    props.shader = graphics->LoadShader2(DataKit::SampleGameData::litShaderName);
    g_props = m_props.get();
}

HostView::~HostView()
{
    // A read still under way is let go of: the device holds one at a time.
    if (m_pending.reading) {
        GAME::GraphicsEngine* graphics = m_engine.GetGraphicsEngine();
        if (GAME::RenderDevice* device = graphics ? graphics->GetRenderDevice() : nullptr) {
            m_pending.pixels.resize(static_cast<size_t>(m_pending.width) *
                                    static_cast<size_t>(m_pending.height));
            device->CollectFrameRead(m_pending.pixels.data(), m_pending.width, m_pending.height, true);
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_writerMutex);
        m_writerStop = true;
        m_writerWake.notify_all();
    }
    if (m_writer.joinable())
        m_writer.join();
    m_engine.GetDisplay().RemoveWidget(m_widget.get());
    if (g_props == m_props.get())
        g_props = nullptr;
    Props& props = *m_props;
    if (props.graphics && props.shader)
        props.graphics->UnloadShader2(props.shader);
    if (props.device) {
        if (props.vertices)
            props.device->DestroyVertexBuffer(&props.vertices);
        if (props.indices)
            props.device->DestroyIndexBuffer(&props.indices);
        if (props.declaration)
            props.device->DestroyVertexDeclaration(&props.declaration);
    }
}

void HostView::Draw(GAME::WorldCamera& camera)
{
    // A frame read earlier is collected once the device has it, without waiting for it.
    CollectPending(false);
    // The frame before, asked for as a screenshot, is still on the screen: its read starts before
    // this one draws over it.
    ReadRequested(camera.GetRegion());
    m_region = camera.GetRegion();
    m_camera = std::make_unique<GAME::Camera>(camera.GetRegionCamera());
    GAME::WorldVec3 target;
    camera.GetTargetPosition(target);
    m_transparency.SetTargetPosition(target);
    // In an underground region the walls between the camera and its target fade, and recover once
    // they no longer stand in the way.
    const auto now = std::chrono::steady_clock::now();
    const int elapsed =
        m_lastDraw ? static_cast<int>(
                         std::chrono::duration_cast<std::chrono::milliseconds>(now - *m_lastDraw).count())
                   : 0;
    m_lastDraw = now;
    GAME::Level* level = target.GetRegion() ? target.GetRegion()->GetLevelPtr() : nullptr;
    if (GAME::GridRegion* grid = level ? level->GetGridRegion() : nullptr)
        grid->UpdateTransparency(GAME::WorldVec3(m_region, m_camera->GetCoords().origin), target, elapsed);
}

void HostView::Render(GAME::GraphicsCanvas& canvas)
{
    if (!m_camera || !m_region)
        return;
    // The view fills the primary surface; the widgets after it draw there too.
    canvas.SetTargetSurface(nullptr);
    const GAME::Viewport viewport(0, 0, canvas.GetWidth(), canvas.GetHeight());
    GAME::GraphicsPortalRenderer renderer(canvas, m_region, *m_camera, viewport, false);
    renderer.SetTransparencyManager(&m_transparency);
    renderer.Render();
    canvas.SetTargetSurface(nullptr);
    canvas.SetDefaultState();
    canvas.SetViewport(viewport);
}

bool HostView::MaybeScreenshot(GAME::Region* region)
{
    ReportWriterErrors();
    bool written = false;
    if (region != m_entered) {
        // Left before the delay was up: its last frame there, read as this frame began, stands for it.
        written = TakePendingScreenshot();
        m_entered = region;
        m_framesInRegion = 0;
    }
    // A region whose picture is being read is shot.
    if (!region || m_visited.count(region) || (m_pending.take && m_pending.region == region))
        return written;
    // The frame is read when the next one starts (ReadRequested), when the driver has the least
    // of it left to draw: once the delay is up, or before then when the next frame is in another region
    // (its last frame stands for a region left sooner). One read a region.
    ++m_framesInRegion;
    m_readRequest = m_framesInRegion >= screenshotDelay ? READ_AND_TAKE : READ_IF_LEAVING;
    return written;
}

bool HostView::ReadRequested(const GAME::Region* next)
{
    const ReadRequest request = m_readRequest;
    m_readRequest = READ_NONE;
    if (request == READ_NONE || !m_entered || (request == READ_IF_LEAVING && next == m_entered))
        return false;
    return ReadPending(m_entered, request == READ_AND_TAKE);
}

bool HostView::ReadPending(const GAME::Region* region, bool take)
{
    GAME::GraphicsEngine* graphics = m_engine.GetGraphicsEngine();
    GAME::RenderDevice* device = graphics ? graphics->GetRenderDevice() : nullptr;
    GAME::GraphicsCanvas* canvas = graphics ? graphics->GetCanvas() : nullptr;
    if (!device || !canvas)
        return false;
    // The read before is a frame old at least: little of it is left to wait for.
    CollectPending(true);
    m_pending = Frame();
    const int width = device->GetWidth();
    const int height = device->GetHeight();
    canvas->SetTargetSurface(nullptr);
    if (!device->RequestFrameRead(width, height)) {
        m_visited.insert(region);
        m_output("EngineHost: no screenshot of " + ShortName(region->GetName()) +
                 ": the frame could not be read");
        return false;
    }
    m_pending.width = width;
    m_pending.height = height;
    m_pending.region = region;
    m_pending.reading = true;
    m_pending.take = take;
    return true;
}

bool HostView::CollectPending(bool wait)
{
    if (!m_pending.reading)
        return false;
    GAME::GraphicsEngine* graphics = m_engine.GetGraphicsEngine();
    GAME::RenderDevice* device = graphics ? graphics->GetRenderDevice() : nullptr;
    m_pending.pixels.resize(static_cast<size_t>(m_pending.width) * static_cast<size_t>(m_pending.height));
    const GAME::RenderFrameRead read =
        device ? device->CollectFrameRead(m_pending.pixels.data(), m_pending.width, m_pending.height, wait)
               : GAME::RENDER_READ_FAILED;
    if (read == GAME::RENDER_READ_PENDING)
        return false;
    m_pending.reading = false;
    if (read != GAME::RENDER_READ_DONE) {
        m_visited.insert(m_pending.region);
        m_output("EngineHost: no screenshot of " + ShortName(m_pending.region->GetName()) +
                 ": the frame could not be read");
        m_pending = Frame();
        return false;
    }
    return m_pending.take && TakePendingScreenshot();
}

bool HostView::TakePendingScreenshot()
{
    if (m_pending.reading) {
        // Taken once the device hands it over.
        m_pending.take = true;
        return false;
    }
    const GAME::Region* region = m_pending.region;
    std::vector<GAME::Pixel> pixels;
    pixels.swap(m_pending.pixels);
    m_pending.take = false;
    if (!region || pixels.empty() || !m_visited.insert(region).second)
        return false;
    char number[16];
    std::snprintf(number, sizeof number, "%02zu", m_screenshots.size() + m_failedScreenshots + 1);
    Picture picture;
    picture.name = ShortName(region->GetName());
    picture.path = m_folder + "/screenshot_" + number + "_" + picture.name + ".png";
    picture.width = static_cast<uint32_t>(m_pending.width);
    picture.height = static_cast<uint32_t>(m_pending.height);
    picture.pixels = std::move(pixels);
    m_screenshots.push_back(picture.path);
    std::unique_lock<std::mutex> lock(m_writerMutex);
    // A few pictures wait at most (each is a whole frame): beyond, the frame waits for the writer.
    m_writerWake.wait(lock, [this] { return m_queue.size() < maxQueuedPictures; });
    m_queue.push_back(std::move(picture));
    if (!m_writer.joinable())
        m_writer = std::thread([this] { WriterMain(); });
    m_writerWake.notify_all();
    return true;
}

void HostView::WriterMain()
{
    // Started by the main thread, the writer would inherit its one processor and its priority and
    // take that processor from the frames while it encodes: it runs as the engine's own threads
    // do, at normal priority on any of the process's processors.
    GAME::Platform::SetCurrentThreadProcessAffinity();
    GAME::Platform::SetCurrentThreadPriority(GAME::Platform::ThreadPriority::Normal);
    // Named, or it shows as a second "Main Thread" in the thread monitor and in profiles.
    GAME::Platform::SetCurrentThreadName("Screenshot Writer");
    std::unique_lock<std::mutex> lock(m_writerMutex);
    for (;;) {
        m_writerWake.wait(lock, [this] { return !m_queue.empty() || m_writerStop; });
        if (m_queue.empty())
            return;
        Picture picture = std::move(m_queue.front());
        m_queue.pop_front();
        m_writing = true;
        lock.unlock();
        std::string error, reason;
        GAME::Image image;
        GAME::BinaryWriter png(static_cast<unsigned>(picture.pixels.size() * 3 + 1024));
        // The frame's alpha is the renderers' own (see-through masks): the picture is opaque.
        if (!image.Create(picture.width, picture.height, GAME::Image::FORMAT_RGBA, picture.pixels.data()) ||
            !image.ChangeFormat(GAME::Image::FORMAT_RGB) || !image.WritePNG(png)) {
            error = "EngineHost: no screenshot of " + picture.name + ": the picture could not be made";
        } else if (!GAME::Platform::WriteWholeFile(picture.path, png.GetBuffer(), png.GetSize(), &reason)) {
            // Nothing of it is left in the folder to pass for a picture.
            error = "EngineHost: could not write " + picture.path + ": " + reason;
        }
        lock.lock();
        m_writing = false;
        if (!error.empty())
            m_writerErrors.push_back(WriterError{picture.path, error, reason});
        m_writerWake.notify_all();
    }
}

void HostView::ReportWriterErrors()
{
    std::vector<WriterError> errors;
    {
        std::lock_guard<std::mutex> lock(m_writerMutex);
        errors.swap(m_writerErrors);
    }
    for (const WriterError& error : errors) {
        m_output(error.line);
        if (!error.reason.empty() && m_notWritten)
            m_notWritten(error.path, error.reason);
        // The picture that failed is not listed.
        const auto listed = std::find(m_screenshots.begin(), m_screenshots.end(), error.path);
        if (listed != m_screenshots.end()) {
            m_screenshots.erase(listed);
            ++m_failedScreenshots;
        }
    }
}

void HostView::WaitForWriter()
{
    {
        std::unique_lock<std::mutex> lock(m_writerMutex);
        m_writerWake.wait(lock, [this] { return m_queue.empty() && !m_writing; });
    }
    ReportWriterErrors();
}

bool HostView::FinishScreenshot()
{
    // The last frame drawn is still on the screen: a read it asked for starts now, and the reads
    // under way are waited for.
    ReadRequested(nullptr);
    bool taken = CollectPending(true);
    taken = TakePendingScreenshot() || taken;
    WaitForWriter();
    return taken;
}

} // namespace SampleHost
