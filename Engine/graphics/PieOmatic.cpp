#include "graphics/PieOmatic.h"

#include "core/Color.h"
#include "core/Rect.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsPrimitiveDrawer.h"
#include "graphics/GraphicsServices.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"

#include <cmath>

namespace GAME {
namespace {

constexpr float kPi = 3.14159265f;
constexpr float kSqrt2 = 1.41421356f;
// Seconds a segment takes from dark to lit: half a second normally, at once in wedge mode.
constexpr float kNormalRate = 0.5f;
constexpr float kWedgeRate = 1e-7f;
constexpr float kFadePerMs = 0.001f;

GraphicsEngine* EngineGraphics()
{
    return GraphicsServices::Graphics();
}

// current moved toward target by step, landing on it when that close. The small allowance absorbs
// rounding, so that five steps of a fifth reach the target.
void MoveToward(float& current, float target, float step)
{
    if (current == target)
        return;
    if (std::fabs(target - current) <= step * 1.0001f)
        current = target;
    else
        current += target > current ? step : -step;
}

} // namespace

PieOmatic::PieOmatic(const char* backgroundTexture, const char* discTexture)
    : PieOmatic(backgroundTexture, discTexture, EngineGraphics())
{
}

PieOmatic::PieOmatic(const char* backgroundTexture, const char* discTexture, GraphicsEngine* graphics)
    : m_graphics(graphics)
{
    if (m_graphics) {
        if (backgroundTexture && *backgroundTexture)
            m_backgroundTexture = m_graphics->LoadTexture(backgroundTexture);
        if (discTexture && *discTexture)
            m_discTexture = m_graphics->LoadTexture(discTexture);
        m_shader = m_graphics->LoadShader2(shaderName);
    }
    SetWedgeMode(false);
}

PieOmatic::~PieOmatic()
{
    if (!m_graphics)
        return;
    if (m_backgroundTexture)
        m_graphics->UnloadTexture(m_backgroundTexture);
    if (m_discTexture)
        m_graphics->UnloadTexture(m_discTexture);
    if (m_shader)
        m_graphics->UnloadShader2(m_shader);
}

void PieOmatic::SetWedgeMode(bool wedgeMode)
{
    m_wedgeMode = wedgeMode;
    m_cursor = 0;
    if (!m_discTexture)
        return;
    const int n = GetNumSegmentsForMode();
    const float radius = static_cast<float>(m_discTexture->GetWidth()) * 0.5f * kSqrt2;
    m_segments.assign(size_t(n), Segment());
    for (int i = 0; i < n; ++i) {
        const float angle = static_cast<float>(i) / static_cast<float>(n) * 2.0f * kPi - kPi / 2.0f;
        Segment& s = m_segments[size_t(i)];
        s.x = std::cos(angle) * radius;
        s.y = std::sin(angle) * radius;
        s.u = 0.5f + 0.5f * kSqrt2 * std::cos(angle);
        s.v = 0.5f + 0.5f * kSqrt2 * std::sin(angle);
        s.current = 1.0f;
        s.target = 1.0f;
    }
}

void PieOmatic::FlipSegment(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= m_segments.size())
        return;
    Segment& s = m_segments[size_t(index)];
    s.target = s.target <= 0.5f ? 1.0f : 0.0f;
}

void PieOmatic::Update(int elapsedMs)
{
    const int ms = elapsedMs < 0 ? 0 : (elapsedMs > maxStep ? maxStep : elapsedMs);
    MoveToward(m_fadeCurrent, m_fadeTarget, kFadePerMs * static_cast<float>(ms));

    const float step = static_cast<float>(ms) / ((m_wedgeMode ? kWedgeRate : kNormalRate) * 1000.0f);
    for (Segment& s : m_segments)
        MoveToward(s.current, s.target, step);

    const int n = GetNumSegmentsForMode();
    const int period = GetFlipPeriod();
    m_timer += ms;
    while (m_timer >= period) {
        FlipSegment(m_cursor);
        m_cursor = m_cursor + 1 >= n ? 0 : m_cursor + 1;
        m_timer = m_wedgeMode ? 0 : m_timer - period;
    }
}

void PieOmatic::Render(GraphicsCanvas& canvas, const Vec2& center) const
{
    const Viewport whole(0, 0, canvas.GetWidth(), canvas.GetHeight());
    canvas.SetViewport(whole);
    if (!m_backgroundTexture || !m_discTexture)
        return;

    const Rect background = m_backgroundTexture->GetRect();
    const float width = background.width * m_scale;
    const float height = background.height * m_scale;
    canvas.RenderRect(Rect(center.x - width / 2.0f, center.y - height / 2.0f, width, height), background,
                      m_backgroundTexture, Color(1.0f, 1.0f, 1.0f, m_fadeCurrent));
    if (m_segments.empty())
        return;

    GraphicsPrimitiveDrawer drawer(canvas);
    drawer.Enable2DMode(whole);
    drawer.SetTexture0(m_discTexture->GetTexture());
    drawer.SetShader(m_shader);
    auto vertex = [&](const Vec2& offset, const Vec2& uv, float alpha) {
        drawer.SetColor(Color(1.0f, 1.0f, 1.0f, alpha * m_fadeCurrent));
        drawer.SetTexCoord(uv);
        drawer.SetVertex(center + offset * m_scale);
    };
    const Vec2 middle(0.5f, 0.5f);
    const size_t n = m_segments.size();
    drawer.Begin(GraphicsPrimitiveDrawer::TRIANGLES);
    for (size_t i = 0; i < n; ++i) {
        const Segment& a = m_segments[i];
        const Segment& b = m_segments[(i + 1) % n];
        const Vec2 pa(a.x, a.y), pb(b.x, b.y), ua(a.u, a.v), ub(b.u, b.v);
        if (m_wedgeMode) {
            vertex(Vec2(), middle, a.current);
            vertex(pa, ua, a.current);
            vertex(pb, ub, a.current);
            continue;
        }
        // Two triangles meeting at the middle of the outer edge, which takes the mean of both ends.
        const float mean = (a.current + b.current) / 2.0f;
        const Vec2 pm = (pa + pb) * 0.5f, um = (ua + ub) * 0.5f;
        vertex(Vec2(), middle, mean);
        vertex(pa, ua, a.current);
        vertex(pm, um, mean);
        vertex(Vec2(), middle, mean);
        vertex(pb, ub, b.current);
        vertex(pm, um, mean);
    }
    drawer.End();
    drawer.Flush();
}

} // namespace GAME
