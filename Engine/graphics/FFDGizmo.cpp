#include "graphics/FFDGizmo.h"

#include "core/ABBox.h"
#include "core/Color.h"
#include "core/Log.h"
#include "core/Name.h"
#include "graphics/DebugRenderManager.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsServices.h"
#include "graphics/GraphicsShader2.h"

namespace GAME {
namespace {

const int kEdges[12][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                           {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};

// Milliseconds of wobble phase per unit of the constant part.
constexpr float kPhaseTime = 9000.0f;
constexpr float kFrequencyScale = 20.0f;

} // namespace

FFDGizmo::FFDGizmo() : m_controlPoints(numPoints), m_basePoints(numPoints) {}

bool FFDGizmo::CheckIndex(int index, const char* operation) const
{
    if (index >= 0 && index < numPoints)
        return true;
    LogPrintfCategory(1, GraphicsServices::GraphicsLogCategory(),
                      "FFDGizmo::%s: corner %d is not one of 0 to 7", operation, index);
    return false;
}

void FFDGizmo::SetFFDDefault(const ABBox& box)
{
    const std::array<Vec3, 8> corners = box.GetCorners();
    m_basePoints.assign(corners.begin(), corners.end());
    m_controlPoints = m_basePoints;
    m_exponent = boxExponent;
}

Vec3 FFDGizmo::GetFFDBasePoint(int index) const
{
    return CheckIndex(index, "GetFFDBasePoint") ? m_basePoints[size_t(index)] : Vec3();
}

Vec3 FFDGizmo::GetFFDControlPoint(int index) const
{
    return CheckIndex(index, "GetFFDControlPoint") ? m_controlPoints[size_t(index)] : Vec3();
}

void FFDGizmo::SetFFDBasePoint(int index, const Vec3& point)
{
    if (CheckIndex(index, "SetFFDBasePoint"))
        m_basePoints[size_t(index)] = point;
}

void FFDGizmo::SetFFDControlPoint(int index, const Vec3& point)
{
    if (CheckIndex(index, "SetFFDControlPoint"))
        m_controlPoints[size_t(index)] = point;
}

void FFDGizmo::OffsetFFDControlPoint(int index, const Vec3& offset)
{
    if (CheckIndex(index, "OffsetFFDControlPoint"))
        m_controlPoints[size_t(index)] += offset;
}

void FFDGizmo::SetShaderParameters(GraphicsShader2* shader) const
{
    SetShaderParameters(shader, GraphicsServices::UpdateTime());
}

void FFDGizmo::SetShaderParameters(GraphicsShader2* shader, int frameTimeMs) const
{
    if (!shader)
        return;
    const float step = static_cast<float>(frameTimeMs) / kPhaseTime;
    m_idlePhase += step;
    m_idlePhase += step * kFrequencyScale * (m_frequency + m_baseFrequency);

    static const Name exponentName = Name::Create("ffdExponent");
    static const Name phaseName = Name::Create("ffdIdleFrequency");
    static const Name amplitudeName = Name::Create("ffdIdleAmplitude");
    static const Name baseName = Name::Create("FFDBase");
    static const Name deltaName = Name::Create("FFDDelta");
    shader->SetFloat(exponentName, 0, m_exponent);
    shader->SetFloat(phaseName, 0, m_idlePhase);
    shader->SetFloat(amplitudeName, 0, m_amplitude);
    for (int i = 0; i < numPoints; ++i) {
        const size_t k = size_t(i);
        shader->SetFloat3(baseName, uint32_t(i), m_basePoints[k]);
        shader->SetFloat3(deltaName, uint32_t(i), m_controlPoints[k] - m_basePoints[k]);
    }
}

void FFDGizmo::RenderDebugFFD() const
{
    DebugRenderManager* debug = DebugRenderManager::Get();
    if (!debug)
        return;
    GraphicsShader2* shader = nullptr;
    if (GraphicsEngine* graphics = GraphicsServices::Graphics())
        shader = graphics->GetBasicShader();
    const Color green(0.0f, 1.0f, 0.0f, 1.0f);
    const Color red(1.0f, 0.0f, 0.0f, 1.0f);
    for (const auto& edge : kEdges)
        debug->RenderLine(nullptr, m_basePoints[size_t(edge[0])], m_basePoints[size_t(edge[1])], green,
                          shader);
    for (const auto& edge : kEdges)
        debug->RenderLine(nullptr, m_controlPoints[size_t(edge[0])], m_controlPoints[size_t(edge[1])], red,
                          shader);
}

} // namespace GAME
