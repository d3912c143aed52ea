#include "terrain/WaterPathSegment.h"

#include "core/Log.h"
#include "core/Name.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderVertexBuffer.h"
#include "terrain/WaterType.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace GAME {

namespace {

// The edge curves: the centre's control points moved across by the sides times the widths.
WaterCurve::Bezier EdgeCurve(const WaterCurve::Bezier& centre, const ControlPoint& a, const ControlPoint& b,
                             const Vec2& s1, const Vec2& s2, float sign)
{
    return WaterCurve::Bezier{{centre.p[0] + a.side * (a.width * sign), centre.p[1] + s1 * (a.width * sign),
                               centre.p[2] + s2 * (b.width * sign), centre.p[3] + b.side * (b.width * sign)}};
}

// The unit vector across the centre curve between two parameters.
Vec2 InnerSide(const WaterCurve::Bezier& centre, float t0, float t1, const Vec2& fallback)
{
    const Vec2 d = centre.At(t1) - centre.At(t0);
    return WaterCurve::Unit(Vec2(-d.y, d.x), fallback);
}

} // namespace

WaterPathSegment::WaterPathSegment(RenderDevice& device) : WaterElement(ELEMENT_PATH_SEGMENT, device) {}

unsigned WaterPathSegment::CountSubdivisions(float length)
{
    const float half = length * 0.5f;
    if (!(half >= 1.0f))
        return 1; // shorter than 2 units (or not a number): one row still makes a valid strip
    return half >= static_cast<float>(maxSubdivisions) ? maxSubdivisions : static_cast<unsigned>(half);
}

void WaterPathSegment::Build(const ControlPoint& a, const ControlPoint& b, float height, bool first,
                             bool last, const Vec2& textureScale, const TerrainBase* terrain,
                             const GridRegion* grid)
{
    const WaterCurve::Bezier centre = WaterCurve::CentreCurve(a, b);
    const unsigned n = CountSubdivisions(centre.Length(20));
    const float length = centre.Length(n);
    m_subdivisions = n;
    CreateVertexBuffer(GetNumVertices() * vertexStride, "Failed to create vertex buffer for water segment.");

    // Across the curve at the inner handles; a curve without direction there keeps the ends' sides.
    const Vec2 chordSide = WaterCurve::SideOf(b.position - a.position);
    const Vec2 s1 = InnerSide(centre, 0.33333334f, 0.43333334f, WaterCurve::Unit(a.side, chordSide));
    const Vec2 s2 = InnerSide(centre, 0.6666667f, 0.76666665f, WaterCurve::Unit(b.side, chordSide));
    const WaterCurve::Bezier left = EdgeCurve(centre, a, b, s1, s2, 1.0f);
    const WaterCurve::Bezier right = EdgeCurve(centre, a, b, s1, s2, -1.0f);

    const float scaleX = WaterType::UsableScale(textureScale.x),
                scaleY = WaterType::UsableScale(textureScale.y);
    const float repeats = std::max(1.0f, std::floor(length / scaleX));
    const Vec2 startFlow =
        WaterCurve::Unit(a.tangent, WaterCurve::Unit(centre.At(0.05f) - centre.At(0.0f), Vec2(1.0f, 0.0f)));

    m_vertices.resize(GetNumVertices());
    Vec2 low(gInfinity, gInfinity), high(-gInfinity, -gInfinity);
    Vec2 previousLeft, previousRight, leftFlow = startFlow, rightFlow = startFlow;
    float v = 0.0f;
    for (unsigned i = 0; i <= n; ++i) {
        const float t = static_cast<float>(i) / static_cast<float>(n);
        const Vec2 l = left.At(t), r = right.At(t);
        const float width = t * b.width + (1.0f - t) * a.width;
        if (i > 0) {
            const Vec2 stepLeft = l - previousLeft, stepRight = r - previousRight;
            leftFlow = WaterCurve::Unit(stepLeft, leftFlow);
            rightFlow = WaterCurve::Unit(stepRight, rightFlow);
            if (length > 0.0f)
                v += (stepLeft.Length() + stepRight.Length()) * 0.5f / length * repeats;
        }
        previousLeft = l;
        previousRight = r;
        low = Vec2(std::min({low.x, l.x, r.x}), std::min({low.y, l.y, r.y}));
        high = Vec2(std::max({high.x, l.x, r.x}), std::max({high.y, l.y, r.y}));

        uint32_t alpha = 255;
        if (last && i == n)
            alpha = 0;
        else if (last && i + 1 == n)
            alpha = 127;
        if (first && i == 0)
            alpha = 0;
        else if (first && i == 1)
            alpha = 127;

        for (unsigned k = 0; k < rowVertices; ++k) {
            const float u = static_cast<float>(k) / static_cast<float>(rowVertices - 1);
            const Vec2 p = l + (r - l) * u;
            const Vec2 flow = leftFlow * (1.0f - u) + rightFlow * u;
            WaterVertex& vertex = m_vertices[i * rowVertices + k];
            vertex.position[0] = p.x;
            vertex.position[1] = height;
            vertex.position[2] = p.y;
            vertex.texCoord[0] = u * width / scaleY;
            vertex.texCoord[1] = v;
            vertex.normal[0] = flow.y;
            vertex.normal[1] = -flow.x;
            vertex.color = (alpha << 24) | EncodeDepth(height - GetGroundHeight(terrain, grid, p.x, p.y));
        }
    }
    m_box = ABBox::FromMinMax(Vec3(low.x, height - 1.0f, low.y), Vec3(high.x, height + 1.0f, high.y));
    Upload();
}

void WaterPathSegment::Upload()
{
    if (!m_vertexBuffer)
        return;
    void* memory = m_vertexBuffer->Lock();
    if (!memory)
        return;
    std::memcpy(memory, m_vertices.data(), m_vertices.size() * sizeof(WaterVertex));
    m_vertexBuffer->Unlock();
}

bool WaterPathSegment::UpdateDepth(const TerrainBase* terrain, const GridRegion* grid)
{
    if (!m_vertexBuffer) {
        LogPrintf(1, "Failed to update water segment, vertex buffer not allocated.");
        return false;
    }
    for (WaterVertex& vertex : m_vertices)
        vertex.color = (vertex.color & 0xFF000000u) |
                       EncodeDepth(vertex.position[1] -
                                   GetGroundHeight(terrain, grid, vertex.position[0], vertex.position[2]));
    Upload();
    return true;
}

void WaterPathSegment::Render(RenderDevice& device)
{
    if (!m_vertexBuffer || m_subdivisions == 0)
        return;
    RenderDrawRange range;
    range.baseVertex = static_cast<int32_t>(m_firstVertex);
    range.numVertices = GetNumVertices();
    range.startIndex = 0;
    range.primitiveCount = GetNumTriangles();
    device.DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_STRIP, range);
}

const Name& WaterPathSegment::GetStyleName() const
{
    static const Name name = Name::Create("waterPathStyle");
    return name;
}

const Name& WaterPathSegment::GetReflectStyleName() const
{
    static const Name name = Name::Create("waterPathReflectStyle");
    return name;
}

} // namespace GAME
