// Reads any bytes as a collision mesh block: no crash; a refused block leaves the mesh empty, and
// an accepted one answers rays and box queries with finite contacts and hits inside its bounds.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Intersection.h"
#include "core/Log.h"
#include "core/Ray.h"
#include "datakit/CharacterGenerator.h"
#include "datakit/MeshWriter.h"
#include "navigation/CollisionContact.h"
#include "navigation/PhysicsMesh.h"

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
    if (mesh.GetNumFaces() > 20000)
        return 0; // the queries walk every triangle; keep each input quick
    const ABBox& bounds = mesh.GetBoundingBox();
    const Vec3 corners[3] = {bounds.GetMin(), bounds.GetMax(), bounds.center};
    for (const Vec3& from : corners) {
        Intersection hit;
        if (mesh.GetIntersection(Ray(from + Vec3(0.5f, 10, 0.25f), Vec3(0.01f, -1, 0.02f)), hit) &&
            !IsFiniteVec3(hit.point))
            std::abort();
        CollisionContact contacts[8];
        const OBBox box(bounds.extents * 0.5f + Vec3(0.1f, 0.1f, 0.1f),
                        Coords::Rotation(Vec3(0, 1, 0), 0.3f) * Coords::Translation(from));
        const int n = mesh.FindCollisions(box, contacts, 8);
        if (n < 0 || n > 8)
            std::abort();
        for (int i = 0; i < n; ++i)
            if (!IsFiniteVec3(contacts[i].position) || !IsFiniteVec3(contacts[i].normal) ||
                !IsFinite(contacts[i].depth))
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
