// Reads any bytes as a sequence of terrain plug records: no crash, no hang; a record that is
// accepted writes back to exactly the bytes it was read from and answers ray and collision queries.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Intersection.h"
#include "core/OBBox.h"
#include "core/Ray.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "navigation/CollisionContact.h"
#include "terrain/TerrainPlug.h"
#include "terrain/TerrainRT.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    GAME::BinaryReader reader(data, static_cast<unsigned>(size));
    for (int record = 0; record < 4 && !reader.AtEnd(); ++record) {
        const unsigned start = reader.GetPosition();
        GAME::TerrainPlug plug;
        if (!plug.Read(reader))
            return 0;
        if (record == 0)
            FuzzAccepted();
        const unsigned length = reader.GetPosition() - start;
        GAME::BinaryWriter writer(length + 16);
        plug.Write(writer);
        if (writer.GetSize() != length || std::memcmp(writer.GetBuffer(), data + start, length) != 0)
            std::abort();
        plug.UpdateBoundingBox();
        plug.CreateRenderData();
        plug.ComputeBoundaryEdges();
        if (plug.GetBoundaryEdges().size() > 3u * plug.GetNumTriangles())
            std::abort();
        const GAME::ABBox box = plug.GetBoundingBox();
        GAME::Intersection hit;
        plug.GetIntersection(
            GAME::Ray(box.center + GAME::Vec3(0.0f, box.extents.y + 1.0f, 0.0f), GAME::Vec3(0, -1, 0)), hit,
            GAME::physicsSurfaceAny);
        if (!(hit.distance >= 0.0f))
            std::abort();
        GAME::CollisionContact contacts[6];
        const GAME::OBBox probe(box.extents + GAME::Vec3(0.1f, 0.1f, 0.1f),
                                GAME::Coords::Translation(box.center));
        static GAME::TerrainRT terrain(nullptr);
        if (plug.FindCollisions(terrain, probe, contacts, 6, GAME::physicsSurfaceAny) > 6)
            std::abort();
    }
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    GAME::TerrainPlug plug;
    GAME::TerrainPlug::Triangle a, b;
    const GAME::Vec3 corners[4] = {GAME::Vec3(1, 1, 0.5f), GAME::Vec3(0, 1, 0.25f), GAME::Vec3(0, 0, 0),
                                   GAME::Vec3(1, 0, 0.75f)};
    for (int k = 0; k < 3; ++k) {
        a.vertices[k].position = corners[k];
        b.vertices[k].position = corners[(k + 2) % 4];
        a.vertices[k].normal = b.vertices[k].normal = GAME::Vec3(0, 1, 0);
    }
    plug.AddTriangle(a);
    plug.AddTriangle(b);
    GAME::BinaryWriter writer(512);
    plug.Write(writer);
    writer.WriteUInt32(0);
    writer.WriteUInt32(0);
    sink.Add("two-and-empty",
             std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize()));
}
