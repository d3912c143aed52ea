// The free-form deformation box of an object in the editor: eight base points (the corners of the
// undeformed box) and eight control points (where the editor's tools dragged the corners). It hands
// both sets, with an idle wobble, to the shader that deforms the object's vertices, and can show
// both boxes as debug lines. Corners are numbered as ABBox::GetCorners lists them; the box edges
// join 0-1, 1-2, 2-3, 3-0, 4-5, 5-6, 6-7, 7-4, 0-4, 1-5, 2-6 and 3-7.
//
// Corner indices are checked: an index outside 0 to 7 reads as the zero vector and writes nothing,
// with a log line. A plain value (copy freely); main thread only.
#pragma once

#include "core/Vec3.h"

#include <vector>

namespace GAME {

class ABBox;
class GraphicsShader2;

class FFDGizmo
{
public:
    static constexpr int numPoints = 8;
    static constexpr float defaultExponent = 4.0f;
    static constexpr float boxExponent = 6.0f; // set by SetFFDDefault
    static constexpr float defaultAmplitude = 0.2f;
    static constexpr float baseFrequency = 0.2f;

    FFDGizmo();
    FFDGizmo(const FFDGizmo&) = default;
    FFDGizmo& operator=(const FFDGizmo&) = default;

    // Falloff exponent of the deformation ("ffdExponent").
    void SetFFDExponent(float exponent) { m_exponent = exponent; }
    float GetFFDExponent() const { return m_exponent; }
    // Idle wobble amplitude ("ffdIdleAmplitude").
    void SetFFDAmplitude(float amplitude) { m_amplitude = amplitude; }
    float GetFFDAmplitude() const { return m_amplitude; }
    // The adjustable part of the wobble speed.
    void SetFFDFrequency(float frequency) { m_frequency = frequency; }
    float GetFFDFrequency() const { return m_frequency; }
    // The accumulated wobble phase ("ffdIdleFrequency").
    float GetFFDIdlePhase() const { return m_idlePhase; }

    // Base and control points both become the box's corners; the exponent becomes boxExponent.
    void SetFFDDefault(const ABBox& box);
    Vec3 GetFFDBasePoint(int index) const;
    Vec3 GetFFDControlPoint(int index) const;
    void SetFFDBasePoint(int index, const Vec3& point);
    void SetFFDControlPoint(int index, const Vec3& point);
    void OffsetFFDControlPoint(int index, const Vec3& offset);

    // Once a frame for the deformed object: advances the wobble phase by the engine's frame time
    // and sets "ffdExponent", "ffdIdleFrequency", "ffdIdleAmplitude", and the eight elements of
    // "FFDBase" (base points) and "FFDDelta" (control minus base points). Nothing for no shader.
    void SetShaderParameters(GraphicsShader2* shader) const;
    // The same with the frame time given (milliseconds).
    void SetShaderParameters(GraphicsShader2* shader, int frameTimeMs) const;

    // The base box in green and the control box in red, queued on the debug render manager as
    // lines in the camera's region with the graphics engine's basic shader.
    void RenderDebugFFD() const;

private:
    bool CheckIndex(int index, const char* operation) const;

    float m_exponent = defaultExponent;
    float m_amplitude = defaultAmplitude;
    float m_baseFrequency = baseFrequency;
    float m_frequency = 0.0f;
    // Kept across the constant SetShaderParameters: the wobble runs on from frame to frame.
    mutable float m_idlePhase = 0.0f;
    std::vector<Vec3> m_controlPoints;
    std::vector<Vec3> m_basePoints;
};

} // namespace GAME
