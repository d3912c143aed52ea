#include "terrain/WaterWaveSegment.h"

#include "core/Name.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderVertexBuffer.h"
#include "terrain/WaterRandom.h"

#include <algorithm>
#include <cmath>

namespace GAME {

namespace {

void SetVertex(WaterVertex& v, const Vec2& p, float y, float u, float w, const Vec2& second, uint32_t color)
{
    v.position[0] = p.x;
    v.position[1] = y;
    v.position[2] = p.y;
    v.texCoord[0] = u;
    v.texCoord[1] = w;
    v.normal[0] = second.x;
    v.normal[1] = second.y;
    v.color = color;
}

Vec2 Across(const Vec2& d)
{
    return Vec2(-d.y, d.x);
}

} // namespace

WaterWaveSegment::WaterWaveSegment(RenderDevice& device, const WaveParams& params)
    : WaterElement(ELEMENT_WAVE_SEGMENT, device), m_params(params)
{
}

unsigned WaterWaveSegment::CountBandPoints(float length)
{
    if (!(length > static_cast<float>(minBandPoints)))
        return minBandPoints;
    return length >= static_cast<float>(maxBandPoints) ? maxBandPoints : static_cast<unsigned>(length);
}

unsigned WaterWaveSegment::CountFoamPatches(float length, float spacing)
{
    if (spacing != spacing)
        spacing = 1.0f;
    const float patches = length / (spacing * 0.5f);
    if (!(patches > 1.0f))
        return 1;
    return patches >= static_cast<float>(maxFoamPatches) ? maxFoamPatches : static_cast<unsigned>(patches);
}

void WaterWaveSegment::DrawBand(Band& band)
{
    band.lengthFactor = 0.6f + 0.4f * WaterRandom::Fraction();
    band.offset = (1.0f - band.lengthFactor) * WaterRandom::Fraction();
}

void WaterWaveSegment::Build(const ControlPoint& a, const ControlPoint& b, float height)
{
    m_centre = WaterCurve::CentreCurve(a, b);
    m_length = m_centre.Length(20);
    m_bandPoints = CountBandPoints(m_length);
    m_foamPatches = CountFoamPatches(m_length, m_params.UsableSpacing());
    m_waveHeight = height + 0.1f;
    m_widths[0] = a.width;
    m_widths[1] = b.width;
    if (!(a.width > 1.0f && b.width > 1.0f))
        m_bandPoints = 0;

    if (!m_initialised) {
        for (float& phase : m_phases)
            phase = 2.0f * WaterRandom::Fraction();
        const float r = WaterRandom::Fraction();
        for (unsigned k = 0; k < numBands; ++k) {
            DrawBand(m_bands[k]);
            float position = static_cast<float>(k) + (2.0f * r - 1.0f);
            if (position > 1.0f)
                position -= 2.0f;
            m_bands[k].position = position;
        }
        m_initialised = true;
    }

    m_numVertices = 4 * m_foamPatches + (HasBands() ? numBands * (6 * m_bandPoints + 6) : 0);
    CreateVertexBuffer(m_numVertices * vertexStride,
                       "Failed to create vertex buffer for water wave segment.");

    // The box: the centre curve widened by the widths and by what the foam reaches beyond them.
    Vec2 low(gInfinity, gInfinity), high(-gInfinity, -gInfinity);
    const float reach = std::max(a.width, b.width) + 3.0f + std::fabs(m_params.UsableSpacing());
    for (unsigned k = 0; k <= 20; ++k) {
        const Vec2 p = m_centre.At(static_cast<float>(k) / 20.0f);
        low = Vec2(std::min(low.x, p.x), std::min(low.y, p.y));
        high = Vec2(std::max(high.x, p.x), std::max(high.y, p.y));
    }
    const float margin = std::isfinite(reach) ? reach : 0.0f;
    m_box = ABBox::FromMinMax(Vec3(low.x - margin, m_waveHeight - 1.0f, low.y - margin),
                              Vec3(high.x + margin, m_waveHeight + 1.0f, high.y + margin));
    UpdateWaves(0);
}

void WaterWaveSegment::UpdateWaves(int elapsedMilliseconds)
{
    if (!m_vertexBuffer)
        return;
    auto* vertices = static_cast<WaterVertex*>(m_vertexBuffer->Lock());
    if (!vertices)
        return;
    const float seconds =
        elapsedMilliseconds > 0 ? std::min(static_cast<float>(elapsedMilliseconds) * 0.001f, 1.0f) : 0.0f;
    Animate(seconds, vertices);
    m_vertexBuffer->Unlock();
}

void WaterWaveSegment::Animate(float seconds, WaterVertex* vertices)
{
    WriteFoam(seconds, vertices);
    if (HasBands())
        for (unsigned k = 0; k < numBands; ++k)
            WriteBand(k, seconds, vertices);
}

void WaterWaveSegment::WriteFoam(float seconds, WaterVertex* vertices)
{
    const float q = static_cast<float>(m_foamPatches);
    for (unsigned i = 0; i < m_foamPatches; ++i) {
        // The vertices show the phase before this step.
        const float phase = m_phases[i];
        m_phases[i] += seconds * 0.333f;
        if (m_phases[i] > 2.0f)
            m_phases[i] = 0.0f;

        const float alphaShare = 1.0f - std::fabs(phase - 1.0f);
        const float alpha = std::clamp(alphaShare * alphaShare * alphaShare * 255.0f, 0.0f, 255.0f);
        const uint32_t color = AlphaBits(alpha);
        const Vec2 start = m_centre.At(static_cast<float>(i) / q);
        const Vec2 d = WaterCurve::Unit(m_centre.At(static_cast<float>(i + 1) / q) - start, Vec2(1.0f, 0.0f));
        const Vec2 n = Across(d);
        const float r = phase * m_length / q;
        const float a = 1.0f + r * 0.5f, b = -(r + 0.5f);
        const Vec2 p = start + n * (1.5f - phase * 0.5f);
        const float top = m_waveHeight + r * 0.25f;
        WaterVertex* v = vertices + 4 * i;
        SetVertex(v[0], p + d * a, m_waveHeight, 1.0f, 0.0f, d, color);
        SetVertex(v[1], p + d * a + n * b, top, 1.0f, 1.0f, d, color);
        SetVertex(v[2], p - d * a + n * b, top, 0.0f, 1.0f, d, color);
        SetVertex(v[3], p - d * a, m_waveHeight, 0.0f, 0.0f, d, color);
    }
}

void WaterWaveSegment::WriteBand(unsigned k, float seconds, WaterVertex* vertices)
{
    Band& band = m_bands[k];
    band.position -= (std::fabs(band.position) + 0.5f) * m_params.speed * seconds * 0.1f;
    if (band.position < -1.0f) {
        band.position += 2.0f;
        DrawBand(band);
    }
    // A speed out of all measure starts the band again rather than carrying infinities.
    if (!std::isfinite(band.position) || band.position < -1.0f)
        band.position = 0.0f;
    const float p = band.position;
    const float c = band.offset + band.lengthFactor * 0.5f;
    const Vec2 d = WaterCurve::Unit(m_centre.At(c + 0.1f) - m_centre.At(c), Vec2(1.0f, 0.0f));
    const Vec2 n = Across(d);
    const float a0 = std::clamp(p, 0.0f, 1.0f), a1 = std::clamp(p + 1.0f, 0.0f, 1.0f);
    const float m1 = 0.925f * a0 + 0.075f * a1, m2 = 0.9f * a0 + 0.1f * a1;
    const float value = std::clamp((1.0f - std::pow(std::fabs(p), 7.0f)) * 255.0f, 0.0f, 255.0f);
    const float shift = (0.5f - p * 0.5f) * m_params.amplitude;
    float bumpFactor = value / 255.0f;
    if (p < 0.1f)
        bumpFactor = std::min(bumpFactor, 10.0f * std::max(p, 0.0f));
    const uint32_t inner = AlphaBits(value);
    const uint32_t outer = 0x00FFFFFFu;

    WaterVertex* main = vertices + MainBandFirstVertex(k);
    WaterVertex* bump = vertices + BumpBandFirstVertex(k);
    const float s = static_cast<float>(m_bandPoints);
    for (unsigned j = 0; j <= m_bandPoints; ++j) {
        const float t = static_cast<float>(j) / s;
        const float w = (1.0f - t) * m_widths[0] + t * m_widths[1];
        const float along = band.offset + t * band.lengthFactor;
        const Vec2 q = m_centre.At(along);
        WaterVertex* row = main + 4 * j;
        SetVertex(row[0], q + n * (a0 * w), m_waveHeight, t, a0 - shift, d, outer);
        SetVertex(row[1], q + n * (m1 * w), m_waveHeight, t, m1 - shift, d, inner);
        SetVertex(row[2], q + n * (m2 * w), m_waveHeight, t, m2 - shift, d, inner);
        SetVertex(row[3], q + n * (a1 * w), m_waveHeight, t, a1 - shift, d, outer);

        const Vec2 e = WaterCurve::Unit(m_centre.At(along + 0.01f) - q, d);
        const float g = 1.0f - std::fabs(2.0f * t - 1.0f);
        const float alpha = std::clamp(bumpFactor * g * 255.0f, 0.0f, 255.0f);
        const uint32_t color = AlphaBits(alpha);
        SetVertex(bump[2 * j], q + n * (w * p - g), m_waveHeight, t, 0.0f, e, color);
        SetVertex(bump[2 * j + 1], q + n * (w * p + g), m_waveHeight, t, 1.0f, e, color);
    }
}

unsigned WaterWaveSegment::MainBandFirstVertex(unsigned k) const
{
    return 4 * m_foamPatches + k * (6 * m_bandPoints + 6);
}

bool WaterWaveSegment::UpdateDepth(const TerrainBase*, const GridRegion*)
{
    return true;
}

void WaterWaveSegment::DrawStrip(RenderDevice& device, unsigned startIndex, unsigned firstVertex,
                                 unsigned vertices, RenderPrimitiveType type, uint32_t primitives)
{
    RenderDrawRange range;
    range.baseVertex = static_cast<int32_t>(m_firstVertex + firstVertex);
    range.numVertices = vertices;
    range.startIndex = startIndex;
    range.primitiveCount = primitives;
    device.DrawIndexedPrimitive(type, range);
}

void WaterWaveSegment::Render(RenderDevice& device, int wavePass)
{
    if (!m_vertexBuffer)
        return;
    const uint32_t stripTriangles = 2 * m_bandPoints;
    switch (wavePass) {
    case 0:
        if ((m_params.flags & WaveParams::FLAG_BANDS) && HasBands())
            for (unsigned k = 0; k < numBands; ++k)
                for (unsigned column = 0; column < 3; ++column)
                    DrawStrip(device, mainBandStartIndex + column * mainBandStripIndices,
                              MainBandFirstVertex(k), 4 * m_bandPoints + 4, RENDER_PRIMITIVE_TRIANGLE_STRIP,
                              stripTriangles);
        break;
    case 1:
        if ((m_params.flags & WaveParams::FLAG_BANDS) && HasBands())
            for (unsigned k = 0; k < numBands; ++k)
                DrawStrip(device, bumpBandStartIndex, BumpBandFirstVertex(k), 2 * m_bandPoints + 2,
                          RENDER_PRIMITIVE_TRIANGLE_STRIP, stripTriangles);
        break;
    case 2:
        if (m_params.flags & WaveParams::FLAG_FOAM)
            DrawStrip(device, 0, 0, 4 * m_foamPatches, RENDER_PRIMITIVE_TRIANGLE_LIST, 2 * m_foamPatches);
        break;
    default:
        break;
    }
}

void WaterWaveSegment::Render(RenderDevice& device)
{
    for (int pass = 0; pass < 3; ++pass)
        Render(device, pass);
}

const Name& WaterWaveSegment::GetStyleName() const
{
    static const Name name = Name::Create("Invalid");
    return name;
}

const Name& WaterWaveSegment::GetReflectStyleName() const
{
    return GetStyleName();
}

} // namespace GAME
