#include "graphics/DebugRenderManager.h"

#include "core/ABBox.h"
#include "core/Intersect.h"
#include "core/Log.h"
#include "core/RegionServices.h"
#include "graphics/Camera.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsPrimitiveDrawer.h"
#include "graphics/GraphicsServices.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/RenderDevice.h"

#include <cmath>

namespace GAME {

namespace {

constexpr float kPi = 3.14159265358979f;

const Name& NormalStyle()
{
    static const Name name = Name::Create("normal");
    return name;
}

std::string UtilityFontStyle()
{
    return GraphicsServices::UtilityFontStyle();
}

void Line(GraphicsPrimitiveDrawer& drawer, const Vec3& from, const Vec3& to)
{
    drawer.Begin(GraphicsPrimitiveDrawer::LINES);
    drawer.SetVertex(from);
    drawer.SetVertex(to);
    drawer.End();
}

class ScreenTextCommand : public DebugRenderCommand
{
public:
    ScreenTextCommand(const GraphicsFont* font, int size, const char* text, const Color& color,
                      const Vec2& at)
        : m_font(font), m_size(size), m_text(text ? text : ""), m_color(color), m_at(at)
    {
    }
    void Render(GraphicsPrimitiveDrawer& drawer) override
    {
        if (m_font)
            DrawAt(drawer, m_at);
    }

protected:
    void DrawAt(GraphicsPrimitiveDrawer& drawer, const Vec2& at)
    {
        // What was queued before the text is drawn before it.
        drawer.Flush();
        drawer.GetCanvas().RenderColoredText(static_cast<int>(at.x), static_cast<int>(at.y), m_text,
                                             UtilityFontStyle(), m_color);
    }

    const GraphicsFont* m_font;
    int m_size;
    std::string m_text;
    Color m_color;
    Vec2 m_at;
};

class WorldTextCommand : public ScreenTextCommand
{
public:
    WorldTextCommand(const GraphicsFont* font, int size, const char* text, const Color& color, Region* region,
                     const Vec3& position)
        : ScreenTextCommand(font, size, text, color, Vec2()), m_region(region), m_position(position)
    {
    }
    void Render(GraphicsPrimitiveDrawer& drawer) override
    {
        if (!m_font)
            return;
        Vec3 position = m_position;
        if (m_region && drawer.GetCameraRegion())
            position = m_position + RegionServices::OffsetDifference(m_region, drawer.GetCameraRegion());
        const Camera& camera = drawer.GetCamera();
        // A point behind a perspective camera has no place on the screen.
        const Coords& coords = camera.GetCoords();
        if (camera.GetType() == CAMERA_PERSPECTIVE &&
            Vec3::Dot(position - coords.origin, coords.zAxis) <= 0.0f)
            return;
        DrawAt(drawer, camera.Project(position, drawer.GetViewport()));
    }

private:
    Region* m_region;
    Vec3 m_position;
};

class BoxCommand : public DebugRenderCommand
{
public:
    BoxCommand(Region* region, const OBBox& box, const Color& color)
        : m_region(region), m_box(box), m_color(color)
    {
    }
    void Render(GraphicsPrimitiveDrawer& drawer) override
    {
        drawer.SetColor(m_color);
        drawer.SetRegion(m_region);
        DrawWireframeBox(drawer, m_box);
    }

private:
    Region* m_region;
    OBBox m_box;
    Color m_color;
};

class SphereCommand : public DebugRenderCommand
{
public:
    static constexpr int rings = 16;
    static constexpr int segments = 16;

    SphereCommand(Region* region, const Sphere& sphere, const Color& color)
        : m_region(region), m_sphere(sphere), m_color(color)
    {
    }
    void Render(GraphicsPrimitiveDrawer& drawer) override
    {
        drawer.SetColor(m_color);
        drawer.SetRegion(m_region);
        auto point = [this](float polar, float longitude) {
            return m_sphere.center + Vec3(std::sin(polar) * std::cos(longitude), std::cos(polar),
                                          std::sin(polar) * std::sin(longitude)) *
                                         m_sphere.radius;
        };
        const float ringStep = kPi / 15.0f;
        const float aroundStep = 2.0f * kPi / 15.0f;
        // Latitude rings.
        for (int i = 0; i < rings; ++i) {
            const float polar = static_cast<float>(i) * ringStep;
            drawer.Begin(GraphicsPrimitiveDrawer::LINES);
            for (int j = 0; j < segments; ++j) {
                drawer.SetVertex(point(polar, static_cast<float>(j) * aroundStep));
                drawer.SetVertex(point(polar, static_cast<float>(j + 1) * aroundStep));
            }
            drawer.End();
        }
        // Meridians from the pole.
        for (int i = 0; i < rings; ++i) {
            const float longitude = static_cast<float>(i) * aroundStep;
            drawer.Begin(GraphicsPrimitiveDrawer::LINES);
            for (int j = 0; j < segments; ++j) {
                drawer.SetVertex(point(static_cast<float>(j) * ringStep, longitude));
                drawer.SetVertex(point(static_cast<float>(j + 1) * ringStep, longitude));
            }
            drawer.End();
        }
    }

private:
    Region* m_region;
    Sphere m_sphere;
    Color m_color;
};

class LineCommand : public DebugRenderCommand
{
public:
    LineCommand(Region* region, const Vec3& from, const Vec3& to, const Color& color,
                const GraphicsShader2* shader)
        : m_region(region), m_from(from), m_to(to), m_color(color), m_shader(shader)
    {
    }
    void Render(GraphicsPrimitiveDrawer& drawer) override
    {
        drawer.SetRegion(m_region);
        GraphicsShader2* previous = drawer.GetShader();
        const Name previousStyle = drawer.GetStyle();
        if (m_shader)
            drawer.SetShader(const_cast<GraphicsShader2*>(m_shader), NormalStyle());
        drawer.SetColor(m_color);
        Line(drawer, m_from, m_to);
        // The commands after this one draw with the shader Flush chose.
        drawer.SetShader(previous, previousStyle);
    }

private:
    Region* m_region;
    Vec3 m_from;
    Vec3 m_to;
    Color m_color;
    const GraphicsShader2* m_shader;
};

class ArrowCommand : public DebugRenderCommand
{
public:
    ArrowCommand(Region* region, const Vec3& from, const Vec3& to, const Color& color)
        : m_region(region), m_from(from), m_to(to), m_color(color)
    {
    }
    void Render(GraphicsPrimitiveDrawer& drawer) override
    {
        const Vec3 d = m_from - m_to;
        const float length = d.Length();
        // An arrow of no length points nowhere.
        if (!(length > 0.0f) || !std::isfinite(length))
            return;
        const Vec3 n = d / length;
        const Vec3 view = drawer.GetCamera().GetCoords().zAxis;
        if (std::fabs(Vec3::Dot(view, n)) >= 1.0f - 0.0001f)
            return; // seen end-on
        const Vec3 across = Vec3::Cross(view, d);
        if (across.LengthSquared() <= 0.0f)
            return;
        const Vec3 side = across.Unit() * (0.1f * length);
        const Vec3 back = n * (0.2f * length);
        drawer.SetRegion(m_region);
        drawer.SetColor(m_color);
        drawer.Begin(GraphicsPrimitiveDrawer::LINES);
        drawer.SetVertex(m_from);
        drawer.SetVertex(m_to);
        drawer.SetVertex(m_to);
        drawer.SetVertex(m_to + back + side);
        drawer.SetVertex(m_to);
        drawer.SetVertex(m_to + back - side);
        drawer.End();
    }

private:
    Region* m_region;
    Vec3 m_from;
    Vec3 m_to;
    Color m_color;
};

class ConeCommand : public DebugRenderCommand
{
public:
    static constexpr int points = 16;

    ConeCommand(Region* region, const Vec3& apex, const Vec3& axis, float halfAngle, const Color& color)
        : m_region(region), m_apex(apex), m_axis(axis), m_halfAngle(halfAngle), m_color(color)
    {
    }
    void Render(GraphicsPrimitiveDrawer& drawer) override
    {
        const float length = m_axis.Length();
        const float radius = length * std::tan(m_halfAngle);
        if (!(length > 0.0f) || !std::isfinite(length) || !std::isfinite(radius))
            return;
        const Vec3 u = m_axis.GetPerpendicular();
        const Vec3 v = Vec3::Cross(m_axis, u).Unit();
        const Vec3 center = m_apex + m_axis;
        auto point = [&](int k) {
            const float angle = static_cast<float>(k) * 2.0f * kPi / static_cast<float>(points);
            return center + (u * std::cos(angle) + v * std::sin(angle)) * radius;
        };
        drawer.SetRegion(m_region);
        drawer.SetColor(m_color);
        drawer.Begin(GraphicsPrimitiveDrawer::LINES);
        for (int k = 0; k < points; ++k) {
            drawer.SetVertex(point(k));
            drawer.SetVertex(point(k + 1));
            drawer.SetVertex(point(k));
            drawer.SetVertex(m_apex);
        }
        drawer.End();
    }

private:
    Region* m_region;
    Vec3 m_apex;
    Vec3 m_axis;
    float m_halfAngle;
    Color m_color;
};

class FrustumCommand : public DebugRenderCommand
{
public:
    static constexpr float reach = 5000.0f;

    FrustumCommand(Region* region, const Frustum& frustum, const Color& color)
        : m_region(region), m_frustum(frustum), m_color(color)
    {
    }
    void Render(GraphicsPrimitiveDrawer& drawer) override
    {
        drawer.GetCanvas().SetDefaultState();
        drawer.SetRegion(m_region);
        drawer.SetColor(m_color);
        std::vector<Vec3> polygon;
        for (size_t i = 0; i < m_frustum.GetNumPlanes(); ++i) {
            const Plane& plane = m_frustum.GetPlane(i);
            const int major = plane.normal.GetMajorAxis();
            const float n[3] = {plane.normal.x, plane.normal.y, plane.normal.z};
            if (n[major] == 0.0f || !IsFiniteVec3(plane.normal))
                continue;
            const int a = (major + 1) % 3;
            const int b = (major + 2) % 3;
            polygon.clear();
            for (const auto& [sa, sb] : {std::pair(-1.0f, -1.0f), std::pair(1.0f, -1.0f),
                                         std::pair(1.0f, 1.0f), std::pair(-1.0f, 1.0f)}) {
                float p[3];
                p[a] = sa * reach;
                p[b] = sb * reach;
                p[major] = -(plane.d + n[a] * p[a] + n[b] * p[b]) / n[major];
                polygon.emplace_back(p[0], p[1], p[2]);
            }
            for (size_t j = 0; j < m_frustum.GetNumPlanes() && !polygon.empty(); ++j)
                if (j != i)
                    ClipPolygonByPlane(polygon, m_frustum.GetPlane(j));
            if (polygon.size() < 2)
                continue;
            drawer.Begin(GraphicsPrimitiveDrawer::LINES);
            for (size_t k = 0; k < polygon.size(); ++k) {
                drawer.SetVertex(polygon[k]);
                drawer.SetVertex(polygon[(k + 1) % polygon.size()]);
            }
            drawer.End();
        }
    }

private:
    Region* m_region;
    Frustum m_frustum;
    Color m_color;
};

} // namespace

DebugRenderManager::DebugRenderManager()
{
    GraphicsEngine* graphics = GraphicsServices::Graphics();
    CreateDeclaration(graphics ? graphics->GetRenderDevice() : nullptr);
}

void DebugRenderManager::CreateDeclaration(RenderDevice* device)
{
    if (m_declaration || !device)
        return;
    // One position of three floats a vertex.
    const VertexElement position = {0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3};
    m_declaration = device->CreateVertexDeclaration(&position, 1);
    m_device = device;
}

DebugRenderManager::~DebugRenderManager()
{
    m_commands.clear();
    if (m_device && m_declaration)
        m_device->DestroyVertexDeclaration(&m_declaration);
    m_declaration = nullptr;
}

void DebugRenderManager::Queue(std::unique_ptr<DebugRenderCommand> command)
{
    if (!m_enabled || !command)
        return;
    if (m_commands.size() >= maxQueuedCommands) {
        if (!m_overflowReported) {
            LogPrintf(1,
                      "DebugRenderManager: %zu debug shapes queued without a flush; further ones are dropped",
                      m_commands.size());
            m_overflowReported = true;
        }
        return;
    }
    m_commands.push_back(std::move(command));
}

void DebugRenderManager::RenderText(const char* text, const Vec2& screenPosition, const Color& color)
{
    if (m_enabled)
        Queue(std::make_unique<ScreenTextCommand>(m_font, m_textSize, text, color, screenPosition));
}

void DebugRenderManager::RenderText(const char* text, Region* region, const Vec3& position,
                                    const Color& color)
{
    if (m_enabled)
        Queue(std::make_unique<WorldTextCommand>(m_font, m_textSize, text, color, region, position));
}

void DebugRenderManager::RenderBox(Region* region, const OBBox& box, const Color& color)
{
    if (m_enabled)
        Queue(std::make_unique<BoxCommand>(region, box, color));
}

void DebugRenderManager::RenderBox(Region* region, const ABBox& box, const Color& color)
{
    if (m_enabled)
        Queue(std::make_unique<BoxCommand>(region, OBBox(box), color));
}

void DebugRenderManager::RenderSphere(Region* region, const Sphere& sphere, const Color& color)
{
    if (m_enabled)
        Queue(std::make_unique<SphereCommand>(region, sphere, color));
}

void DebugRenderManager::RenderFrustum(Region* region, const Frustum& frustum, const Color& color)
{
    if (m_enabled)
        Queue(std::make_unique<FrustumCommand>(region, frustum, color));
}

void DebugRenderManager::RenderLine(Region* region, const Vec3& from, const Vec3& to, const Color& color,
                                    const GraphicsShader2* shader)
{
    if (m_enabled)
        Queue(std::make_unique<LineCommand>(region, from, to, color, shader));
}

void DebugRenderManager::RenderArrow(Region* region, const Vec3& from, const Vec3& to, const Color& color)
{
    if (m_enabled)
        Queue(std::make_unique<ArrowCommand>(region, from, to, color));
}

void DebugRenderManager::RenderCone(Region* region, const Vec3& apex, const Vec3& axis, float halfAngle,
                                    const Color& color)
{
    if (m_enabled)
        Queue(std::make_unique<ConeCommand>(region, apex, axis, halfAngle, color));
}

void DebugRenderManager::RenderText(const char*, const Vec3&, const Color&) {}
void DebugRenderManager::RenderBox(const OBBox&, const Color&) {}
void DebugRenderManager::RenderBox(const ABBox&, const Color&) {}
void DebugRenderManager::RenderSphere(const Sphere&, const Color&) {}
void DebugRenderManager::RenderFrustum(const Frustum&, const Color&) {}
void DebugRenderManager::RenderArrow(const Vec3&, const Vec3&, const Color&) {}
void DebugRenderManager::RenderCone(const Vec3&, const Vec3&, float, const Color&) {}

void DebugRenderManager::Flush(GraphicsCanvas& canvas, Region* region, const Camera& camera,
                               const Viewport& viewport)
{
    if (m_commands.empty())
        return;
    RenderDevice* device = canvas.GetRenderDevice();
    if (!device) {
        m_commands.clear();
        return;
    }
    CreateDeclaration(device);
    canvas.SetViewport(viewport);
    // Debug shapes show over the scene: only the depth is cleared.
    canvas.Clear(RENDER_CLEAR_DEPTH);
    {
        GraphicsPrimitiveDrawer drawer(canvas);
        drawer.SetCamera(region, camera, viewport);
        GraphicsEngine* graphics = canvas.GetGraphicsEngine();
        drawer.SetShader(graphics ? graphics->GetBasicShader() : nullptr, NormalStyle());
        canvas.EnableWireframe(false);
        for (std::unique_ptr<DebugRenderCommand>& command : m_commands) {
            device->SetVertexDeclaration(m_declaration);
            command->Render(drawer);
            command.reset();
        }
        drawer.Flush();
    }
    m_commands.clear();
    m_overflowReported = false;
}

} // namespace GAME
