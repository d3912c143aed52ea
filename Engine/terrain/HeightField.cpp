#include "terrain/HeightField.h"

#include "core/Intersection.h"
#include "core/Ray.h"
#include "navigation/CollisionContact.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace GAME {

void HeightField::MarkGroundContact(CollisionContact& contact)
{
    CollisionContact clean;
    clean.position = contact.position;
    clean.normal = contact.normal;
    clean.depth = contact.depth;
    contact = clean;
}

int64_t HeightField::TruncIndex(float v)
{
    if (!(v > -1.0e9f))
        return -1000000000;
    if (v > 1.0e9f)
        return 1000000000;
    return static_cast<int64_t>(v);
}

template <class F>
void HeightField::ForEachVisibleCell(unsigned x0, unsigned y0, unsigned x1, unsigned y1, F&& f) const
{
    if (!IsValid())
        return;
    x1 = std::min(x1, numX - 2);
    y1 = std::min(y1, numY - 2);
    for (unsigned y = y0; y <= y1; ++y)
        for (unsigned x = x0; x <= x1; ++x) {
            if (!IsVisible(x, y))
                continue;
            const float fx = static_cast<float>(x), fy = static_cast<float>(y);
            const Vec3 a(fx, Height(x, y), fy), b(fx + 1.0f, Height(x + 1, y), fy);
            const Vec3 c(fx, Height(x, y + 1), fy + 1.0f), d(fx + 1.0f, Height(x + 1, y + 1), fy + 1.0f);
            const Vec3 faces[2][3] = {{a, c, d}, {d, b, a}};
            if (!f(faces))
                return;
        }
}

float HeightField::GetHeight(int x, int y) const
{
    if (!heights || numX == 0 || numY == 0)
        return 0.0f;
    const unsigned cx = static_cast<unsigned>(std::clamp(x, 0, static_cast<int>(numX - 1)));
    const unsigned cy = static_cast<unsigned>(std::clamp(y, 0, static_cast<int>(numY - 1)));
    return Height(cx, cy);
}

float HeightField::GetHeightInterpolated(float x, float z) const
{
    if (!heights || numX == 0 || numY == 0)
        return 0.0f;
    const float lastX = static_cast<float>(numX - 1), lastY = static_cast<float>(numY - 1);
    // Clamped to the samples (NaN to 0); the neighbour past the last sample is the sample itself.
    x = x > 0.0f ? (x < lastX ? x : lastX) : 0.0f;
    z = z > 0.0f ? (z < lastY ? z : lastY) : 0.0f;
    const int ix = static_cast<int>(x), iy = static_cast<int>(z);
    const int stride = static_cast<int>(numX);
    const int right = static_cast<float>(ix) < lastX ? 1 : 0;
    const int below = static_cast<float>(iy) < lastY ? stride : 0;
    const float fx = x - static_cast<float>(ix), fz = z - static_cast<float>(iy);
    const float* p = heights + static_cast<ptrdiff_t>(iy) * stride + ix;
    const float h0 = p[0] + (p[right] - p[0]) * fx;
    const float h1 = p[below] + (p[below + right] - p[below]) * fx;
    return h0 + (h1 - h0) * fz;
}

Vec3 HeightField::GetFastNormal(int xi, int yi) const
{
    if (!heights || numX == 0 || numY == 0)
        return Vec3(0.0f, 1.0f, 0.0f);
    const unsigned x = static_cast<unsigned>(std::clamp(xi, 0, static_cast<int>(numX - 1)));
    const unsigned y = static_cast<unsigned>(std::clamp(yi, 0, static_cast<int>(numY - 1)));
    // Past an edge the slope goes on as it meets it (a neighbouring region's ground continues
    // there): the missing neighbour is extrapolated. Mirroring it would flatten every edge
    // sample's normal, and the light would draw a line along each region border.
    const float h = Height(x, y);
    const float left = x > 0 ? Height(x - 1, y) : x + 1 < numX ? 2.0f * h - Height(x + 1, y) : h;
    const float right = x + 1 < numX ? Height(x + 1, y) : x > 0 ? 2.0f * h - Height(x - 1, y) : h;
    const float up = y > 0 ? Height(x, y - 1) : y + 1 < numY ? 2.0f * h - Height(x, y + 1) : h;
    const float down = y + 1 < numY ? Height(x, y + 1) : y > 0 ? 2.0f * h - Height(x, y - 1) : h;
    return Vec3(left - right, 2.0f, up - down).Unit();
}

Vec3 HeightField::GetNormalInterpolated(float x, float z) const
{
    if (!heights || numX == 0 || numY == 0)
        return Vec3(0.0f, 1.0f, 0.0f);
    x = ClampCoordinate(x, 0.0f, static_cast<float>(numX - 1));
    z = ClampCoordinate(z, 0.0f, static_cast<float>(numY - 1));
    const int ix = static_cast<int>(x), iy = static_cast<int>(z);
    const int ix1 = static_cast<unsigned>(ix + 1) < numX ? ix + 1 : ix;
    const int iy1 = static_cast<unsigned>(iy + 1) < numY ? iy + 1 : iy;
    const float fx = x - static_cast<float>(ix), fz = z - static_cast<float>(iy);
    const Vec3 n00 = GetFastNormal(ix, iy), n10 = GetFastNormal(ix1, iy);
    const Vec3 n01 = GetFastNormal(ix, iy1), n11 = GetFastNormal(ix1, iy1);
    const Vec3 a = n00 + (n10 - n00) * fx, b = n01 + (n11 - n01) * fx;
    return (a + (b - a) * fz).Unit();
}

// ---- Ray and collision tests --------------------------------------------------------------------

void HeightField::GetIntersection(const Ray& ray, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                                  Intersection& intersection, unsigned& hitX, unsigned& hitY) const
{
    if (!IsValid() || numX < 2 || numY < 2)
        return;
    x1 = std::min(x1, numX - 2);
    y1 = std::min(y1, numY - 2);
    if (x0 > x1 || y0 > y1)
        return;
    const float ox = ray.origin.x, oy = ray.origin.y, oz = ray.origin.z;
    const float dx = ray.direction.x, dy = ray.direction.y, dz = ray.direction.z;
    // Cells are visited in rows (y ascending, x ascending), as the plain scan of every cell visits
    // them; only cells whose square the ray's track passes near (or the hit would be no nearer
    // than the best so far) are left out, so the answer is the scan's.
    const float extent = static_cast<float>(std::max(numX, numY));
    const float margin = 2e-3f + 1e-6f * extent;
    const float tolerance = 2e-4f + 2e-7f * extent;
    float ta = 0.0f, tb = intersection.distance;
    if (!ClipToSlab(ox, dx, static_cast<float>(x0) - margin, static_cast<float>(x1 + 1) + margin, ta, tb) ||
        !ClipToSlab(oz, dz, static_cast<float>(y0) - margin, static_cast<float>(y1 + 1) + margin, ta, tb))
        return;
    for (unsigned y = y0; y <= y1; ++y) {
        float ra = ta, rb = tb;
        const float fy = static_cast<float>(y);
        if (!ClipToSlab(oz, dz, fy - margin, fy + 1.0f + margin, ra, rb))
            continue;
        float xa = dx == 0.0f ? ox : ox + dx * ra, xb = dx == 0.0f ? ox : ox + dx * rb;
        if (xa > xb)
            std::swap(xa, xb);
        const float low = std::floor(xa - margin), high = std::floor(xb + margin);
        if (!(high >= static_cast<float>(x0)) || !(low <= static_cast<float>(x1)))
            continue;
        const unsigned first = std::max(x0, static_cast<unsigned>(std::max(low, 0.0f)));
        const unsigned last = std::min(x1, static_cast<unsigned>(high));
        const float* row0 = heights + static_cast<size_t>(y) * numX;
        const float* row1 = row0 + numX;
        for (unsigned x = first; x <= last; ++x) {
            if (!IsVisible(x, y))
                continue;
            const float fxc = static_cast<float>(x);
            const float h00 = row0[x], h10 = row0[x + 1], h01 = row1[x], h11 = row1[x + 1];
            // A face through the corner (cx, ch, cz) with the normal (nx, 1, nz), which is never
            // horizontal: the hit lies in the face when it lies in the face's half of the cell on
            // X and Z, the half of (u, v) with v <= 1 and v >= u (the second face: u and v swapped).
            auto face = [&](float nx, float nz, float cx, float ch, float cz, bool second) {
                const float den = nx * dx + dy + nz * dz;
                if (den == 0.0f)
                    return;
                const float t = (nx * (cx - ox) + (ch - oy) + nz * (cz - oz)) / den;
                if (!(t >= 0.0f && t < intersection.distance))
                    return;
                float u = ox + dx * t - fxc, v = oz + dz * t - fy;
                if (second)
                    std::swap(u, v);
                if (u >= -tolerance && v <= 1.0f + tolerance && v - u >= -tolerance) {
                    intersection.distance = t;
                    hitX = x;
                    hitY = y;
                }
            };
            // (x, y), (x, y + 1), (x + 1, y + 1): normal (p - q, 1, -p).
            const float p = h01 - h00, q = h11 - h00;
            face(p - q, -p, fxc, h00, fy, false);
            // (x + 1, y + 1), (x + 1, y), (x, y): normal (s - r, 1, r).
            const float r = h10 - h11, s = h00 - h11;
            face(s - r, r, fxc + 1.0f, h11, fy + 1.0f, true);
        }
    }
}

int HeightField::FindCollisions(const OBBox& box, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                                CollisionContact* contacts, int capacity) const
{
    if (!contacts || capacity <= 0)
        return 0;
    int count = 0;
    ForEachVisibleCell(x0, y0, x1, y1, [&](const Vec3(&faces)[2][3]) {
        for (const auto& face : faces) {
            const int found = CollideOBBoxTriangle(face, box, contacts + count, capacity - count);
            for (int i = 0; i < found; ++i)
                MarkGroundContact(contacts[count + i]);
            count += found;
            if (count >= capacity)
                return false;
        }
        return true;
    });
    return count;
}

void HeightField::FindCollisions(CollisionBox& box, unsigned x0, unsigned y0, unsigned x1, unsigned y1) const
{
    ForEachVisibleCell(x0, y0, x1, y1, [&](const Vec3(&faces)[2][3]) {
        CollisionContact found[12];
        int n = CollideOBBoxTriangle(faces[0], box.GetBox(), found, 12);
        n += CollideOBBoxTriangle(faces[1], box.GetBox(), found + n, 12 - n);
        for (int i = 0; i < n; ++i) {
            MarkGroundContact(found[i]);
            box.AddContact(found[i]);
        }
        return true;
    });
}

} // namespace GAME
