// Reads any bytes as a level's path mesh chunk (10): no crash, no hang, nothing read out of bounds
// by Detour. A mesh that is accepted is searched (floors and ways between points spread over its
// box) and writes back to the same bytes; a foreign block is written back unchanged.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "navigation/PathFace.h"
#include "navigation/PathMesh.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> Written(const GAME::PathMesh& mesh)
{
    GAME::BinaryWriter writer(256);
    mesh.Write(writer);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

void AddGround(std::vector<GAME::PathFace>& faces, float x0, float z0, float x1, float z1, float y)
{
    const GAME::Vec3 a(x0, y, z0), b(x1, y, z0), c(x1, y, z1), d(x0, y, z1);
    faces.emplace_back(a, d, c, GAME::PATH_FACE_WALKABLE);
    faces.emplace_back(a, c, b, GAME::PATH_FACE_WALKABLE);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    if (size > (1u << 24))
        return 0;
    GAME::BinaryReader reader(data, static_cast<unsigned>(size));
    GAME::PathMesh mesh;
    if (!mesh.Read(reader))
        return 0;
    FuzzAccepted();
    const std::vector<uint8_t> written = Written(mesh);
    if (written.size() != size || std::memcmp(written.data(), data, size) != 0)
        std::abort();
    if (!mesh.HasMesh())
        return 0;

    // Points on a 5 x 3 x 5 lattice over the box (and a little past it), each dropped onto the mesh
    // and joined to the next.
    const GAME::IntSpaceBox& box = mesh.GetBuildBox();
    const GAME::Vec3 half(static_cast<float>(box.halfSize.x), static_cast<float>(box.halfSize.y),
                          static_cast<float>(box.halfSize.z));
    std::vector<GAME::Vec3> points;
    for (int x = 0; x < 5; ++x)
        for (int y = 0; y < 3; ++y)
            for (int z = 0; z < 5; ++z)
                points.emplace_back(half.x * (x / 2.0f - 1.0f) * 1.1f, half.y * (y - 1.0f),
                                    half.z * (z / 2.0f - 1.0f) * 1.1f);
    const GAME::Vec3 extents(4.0f, half.y + 1.0f, 4.0f);
    std::vector<GAME::Vec3> corners;
    for (size_t i = 0; i < points.size(); ++i) {
        GAME::Vec3 floor;
        mesh.FindNearestPoint(points[i], extents, floor);
        mesh.FindMeshPath(points[i], points[(i * 7 + 3) % points.size()], extents, corners);
    }
    // A mesh that is accepted reads back from what it writes.
    GAME::BinaryReader again(written.data(), static_cast<unsigned>(written.size()));
    GAME::PathMesh reread;
    if (!reread.Read(again) || !reread.HasMesh())
        std::abort();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    // One tile: 16 x 16 units of ground with a block in the middle.
    {
        std::vector<GAME::PathFace> faces;
        AddGround(faces, -8, -8, 8, 8, 0);
        GAME::PathMesh mesh;
        if (mesh.Create(faces, {GAME::OBBox(GAME::ABBox(GAME::Vec3(0, 1, 0), GAME::Vec3(2, 1, 2)))},
                        GAME::IntSpaceBox(GAME::IntVec3(100, 0, -50), GAME::IntVec3(8, 4, 8))))
            sink.Add("one-tile", Written(mesh));
    }
    // Four tiles: two floors joined by a ramp.
    {
        std::vector<GAME::PathFace> faces;
        AddGround(faces, -40, -40, 0, 40, 0);
        AddGround(faces, 8, -40, 40, 40, 2);
        faces.emplace_back(GAME::Vec3(0, 0, -10), GAME::Vec3(0, 0, 10), GAME::Vec3(8, 2, 10),
                           GAME::PATH_FACE_WALKABLE);
        faces.emplace_back(GAME::Vec3(0, 0, -10), GAME::Vec3(8, 2, 10), GAME::Vec3(8, 2, -10),
                           GAME::PATH_FACE_WALKABLE);
        GAME::PathMesh mesh;
        if (mesh.Create(faces, {}, GAME::IntSpaceBox(GAME::IntVec3(0, 0, 0), GAME::IntVec3(40, 8, 40))))
            sink.Add("ramp", Written(mesh));
    }
    sink.Add("foreign", std::vector<uint8_t>{'P', 'T', 'H', 4, 't', 'o', 'k', 0, 1, 2, 3});
}
