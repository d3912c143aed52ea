// Reads any bytes as a collision mesh block: no crash; a refused block leaves the mesh empty, and
// an accepted one answers rays with hits on the ray and inside its bounds, and box queries with
// finite contacts of unit normals inside both its bounds and the box.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Intersection.h"
#include "core/Log.h"
#include "core/Ray.h"
#include "datakit/CharacterGenerator.h"
#include "datakit/MeshWriter.h"
#include "navigation/CollisionContact.h"
#include "navigation/PhysicsMesh.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace GAME;
    FuzzLog::Silence();
    PhysicsMesh mesh;
    if (!mesh.Initialize(data, static_cast<unsigned>(size))) {
        if (mesh.GetNumFaces() != 0 || mesh.GetNumVertices() != 0)
            std::abort();
        return 0;
    }
    FuzzAccepted();
    if (mesh.GetNumFaces() > 20000)
        return 0; // the queries walk every triangle; keep each input quick
    const ABBox& bounds = mesh.GetBoundingBox();
    // Rounding slack for points computed from the mesh's numbers.
    const float slack = 1e-3f * (1.0f + bounds.center.Length() + bounds.extents.Length());
    auto inside = [&](const Vec3& point, const Vec3& center, const Vec3& extents, const Coords& axes) {
        const Vec3 d = point - center;
        return std::fabs(Vec3::Dot(d, axes.xAxis)) <= extents.x + slack && std::fabs(Vec3::Dot(d, axes.yAxis)) <= extents.y + slack &&
               std::fabs(Vec3::Dot(d, axes.zAxis)) <= extents.z + slack;
    };
    const Vec3 corners[3] = {bounds.GetMin(), bounds.GetMax(), bounds.center};
    for (const Vec3& from : corners) {
        const Ray ray(from + Vec3(0.5f, 10, 0.25f), Vec3(0.01f, -1, 0.02f));
        Intersection hit;
        const bool struck = mesh.GetIntersection(ray, hit);
        if (struck != hit.IsHit())
            std::abort();
        // A hit lies on the ray, ahead of its origin, and on the mesh.
        if (struck && (!IsFiniteVec3(hit.point) || !(hit.distance >= 0.0f) ||
                       (hit.point - ray.GetPoint(hit.distance)).Length() > slack ||
                       !inside(hit.point, bounds.center, bounds.extents, Coords())))
            std::abort();
        CollisionContact contacts[8];
        const OBBox box(bounds.extents * 0.5f + Vec3(0.1f, 0.1f, 0.1f),
                        Coords::Rotation(Vec3(0, 1, 0), 0.3f) * Coords::Translation(from));
        const int n = mesh.FindCollisions(box, contacts, 8);
        if (n < 0 || n > 8)
            std::abort();
        // Each contact lies where the mesh and the box meet, with a normal of unit length.
        for (int i = 0; i < n; ++i)
            if (!IsFiniteVec3(contacts[i].position) || !IsFiniteVec3(contacts[i].normal) ||
                !IsFinite(contacts[i].depth) || std::fabs(contacts[i].normal.Length() - 1.0f) > 1e-3f ||
                !inside(contacts[i].position, bounds.center, bounds.extents, Coords()) ||
                !inside(contacts[i].position, box.GetCenter(), box.extents, box.coords))
                std::abort();
    }
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    sink.Add("prop", DataKit::CharacterGenerator::MakeProp().physicsMesh);
    sink.Add("empty", DataKit::MeshWriter::PhysicsMeshBytes({}, {}));
    sink.Add("sliver", DataKit::MeshWriter::PhysicsMeshBytes({GAME::Vec3(0, 0, 0), GAME::Vec3(1, 0, 0),
                                                              GAME::Vec3(2, 0, 0), GAME::Vec3(0, 1e-7f, 0)},
                                                             {{{0, 1, 2}, 7}, {{0, 1, 3}, 100}}));
}
