#include "datakit/SampleGridKit.h"

#include "core/MathUtil.h"
#include "data/BaseResourceManager.h"
#include "datakit/ArzWriter.h"
#include "datakit/TextureWriter.h"
#include "graphics/GraphicsResourceManagers.h"
#include "navigation/PhysicsTypes.h"
#include "scene/GraphicsMesh.h"
#include "terrain/GridRegion.h"
#include "terrain/GridSystem.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

namespace DataKit {

namespace {

using GAME::Vec3;

constexpr const char* meshShader = "Shaders/Basic.ssh";
const char* const entryLetters = "ABCDEFGHIJKLMNO";

// A mesh being made: render faces and the collision mesh side by side.
struct PieceBuilder
{
    MeshWriter mesh;
    std::vector<Vec3> physicsVertices;
    std::vector<MeshWriter::Triangle> physicsTriangles;
    Vec3 lo{GAME::gInfinity, GAME::gInfinity, GAME::gInfinity};
    Vec3 hi{-GAME::gInfinity, -GAME::gInfinity, -GAME::gInfinity};

    PieceBuilder()
    {
        mesh.SetAttributes(
            {MeshWriter::ATTRIBUTE_POSITION, MeshWriter::ATTRIBUTE_NORMAL, MeshWriter::ATTRIBUTE_TEXCOORD0});
    }

    // A quad a, b, c, d (counter-clockwise seen from its front), drawn and collided.
    void Quad(const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& d, const Vec3& normal, float uScale,
              float vScale)
    {
        const Vec3 corners[4] = {a, b, c, d};
        const float uv[4][2] = {{0, vScale}, {uScale, vScale}, {uScale, 0}, {0, 0}};
        AddQuad(corners, uv, normal);
    }

    void AddQuad(const Vec3 (&corners)[4], const float (&uv)[4][2], const Vec3& normal)
    {
        uint32_t first = 0;
        const uint32_t physicsFirst = static_cast<uint32_t>(physicsVertices.size());
        for (int i = 0; i < 4; ++i) {
            MeshWriter::Vertex vertex;
            vertex.position = corners[i];
            vertex.normal = normal;
            vertex.texCoord[0] = uv[i][0];
            vertex.texCoord[1] = uv[i][1];
            const uint32_t index = mesh.AddVertex(vertex);
            if (i == 0)
                first = index;
            physicsVertices.push_back(corners[i]);
            lo = Vec3::Min(lo, corners[i]);
            hi = Vec3::Max(hi, corners[i]);
        }
        mesh.AddFace(first, first + 1, first + 2);
        mesh.AddFace(first, first + 2, first + 3);
        physicsTriangles.push_back(
            {{physicsFirst, physicsFirst + 1, physicsFirst + 2}, GAME::PHYSICS_SURFACE_STONE});
        physicsTriangles.push_back(
            {{physicsFirst, physicsFirst + 2, physicsFirst + 3}, GAME::PHYSICS_SURFACE_STONE});
    }

    // A quad whose texture is laid on by where it lies in the piece (an axis-aligned face's two other
    // axes, a cell width to a repeat), so that faces side by side, in this piece or the next cell's,
    // carry the rock on without a step.
    void LaidQuad(const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& d, const Vec3& normal)
    {
        const Vec3 corners[4] = {a, b, c, d};
        float uv[4][2];
        for (int i = 0; i < 4; ++i) {
            const Vec3& p = corners[i];
            const float along = std::fabs(normal.x) > 0.5f ? p.z : p.x;
            const float across = std::fabs(normal.y) > 0.5f ? p.z : -p.y;
            uv[i][0] = along / SampleGridKit::cellWidth;
            uv[i][1] = across / SampleGridKit::cellWidth;
        }
        AddQuad(corners, uv, normal);
    }

    // An upright block of wall over [x0, x1] x [z0, z1] from the floor to the top: its top and those
    // of its four sides that open[] (-x, +x, -z, +z) leaves open. No bottom: the floor or the wall
    // below lies under it.
    void Block(float x0, float x1, float z0, float z1, float top, const bool open[4])
    {
        LaidQuad(Vec3(x0, top, z1), Vec3(x1, top, z1), Vec3(x1, top, z0), Vec3(x0, top, z0), Vec3(0, 1, 0));
        if (open[0])
            LaidQuad(Vec3(x0, 0, z0), Vec3(x0, 0, z1), Vec3(x0, top, z1), Vec3(x0, top, z0), Vec3(-1, 0, 0));
        if (open[1])
            LaidQuad(Vec3(x1, 0, z1), Vec3(x1, 0, z0), Vec3(x1, top, z0), Vec3(x1, top, z1), Vec3(1, 0, 0));
        if (open[2])
            LaidQuad(Vec3(x1, 0, z0), Vec3(x0, 0, z0), Vec3(x0, top, z0), Vec3(x1, top, z0), Vec3(0, 0, -1));
        if (open[3])
            LaidQuad(Vec3(x0, 0, z1), Vec3(x1, 0, z1), Vec3(x1, top, z1), Vec3(x0, top, z1), Vec3(0, 0, 1));
    }

    // A box from lo to hi, its six faces facing out.
    void Box(const Vec3& boxLo, const Vec3& boxHi)
    {
        const Vec3 center = (boxLo + boxHi) * 0.5f, e = (boxHi - boxLo) * 0.5f;
        const Vec3 axes[3] = {Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1)};
        const float extents[3] = {e.x, e.y, e.z};
        for (int axis = 0; axis < 3; ++axis) {
            for (int sign = -1; sign <= 1; sign += 2) {
                const Vec3 n = axes[axis] * static_cast<float>(sign);
                Vec3 u = axes[(axis + 1) % 3] * extents[(axis + 1) % 3];
                Vec3 v = axes[(axis + 2) % 3] * extents[(axis + 2) % 3];
                if (sign < 0)
                    std::swap(u, v);
                const Vec3 f = center + n * extents[axis];
                Quad(f - u - v, f + u - v, f + u + v, f - u + v, n,
                     2.0f * u.Length() / SampleGridKit::cellWidth,
                     2.0f * v.Length() / SampleGridKit::cellWidth);
            }
        }
    }

    // One face set with one material of the texture; bounds and collision mesh from what was added.
    MeshWriter Finish(const char* texture, const std::string& text)
    {
        MeshWriter::FaceSet set;
        set.numFaces = static_cast<uint32_t>(mesh.indices.size() / 3);
        set.boxCenter = (lo + hi) * 0.5f;
        set.boxExtents = (hi - lo) * 0.5f;
        mesh.faceSets.push_back(set);
        MeshWriter::Material material;
        material.shader = meshShader;
        material.parameters.push_back({"baseTexture", 7, 0, texture, {}});
        mesh.materials.push_back(material);
        mesh.sections = {"Rock"};
        mesh.hasBoundingBox = true;
        mesh.boundsMin = lo;
        mesh.boundsMax = hi;
        mesh.text = text;
        mesh.physicsMesh = MeshWriter::PhysicsMeshBytes(physicsVertices, physicsTriangles);
        return mesh;
    }

    // A floor over the whole cell. Pieces have no ceiling: underground rooms are seen from above.
    void Floor()
    {
        const float h = SampleGridKit::cellWidth * 0.5f;
        Quad(Vec3(-h, 0, h), Vec3(h, 0, h), Vec3(h, 0, -h), Vec3(-h, 0, -h), Vec3(0, 1, 0), 1.0f, 1.0f);
    }
};

bool WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// The meshes GridPieceResources hands out: made once from Files() and kept for the process (the
// objects that hold them may be destroyed late, through the object manager).
class PieceLibrary
{
public:
    static PieceLibrary& Get()
    {
        static PieceLibrary* library = new PieceLibrary();
        return *library;
    }

    GAME::GraphicsMesh* Load(const std::string& fileName)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto bytes = m_bytes.find(fileName);
        if (bytes == m_bytes.end())
            return nullptr;
        auto* mesh = static_cast<GAME::GraphicsMesh*>(m_manager.LoadResource(fileName));
        if (mesh && mesh->GetLoadedState() != GAME::Resource::LOAD_STATE_LOADED) {
            mesh->Lock();
            // Without a device the buffers stay unmade: the contents are all there is to have.
            mesh->Initialize(bytes->second.data(), static_cast<int>(bytes->second.size()));
            mesh->SetInitResult(GAME::Resource::INIT_SUCCESS);
            mesh->SetLoadedState(GAME::Resource::LOAD_STATE_LOADED);
            mesh->Unlock();
        }
        return mesh;
    }

private:
    PieceLibrary() : m_manager(nullptr, nullptr)
    {
        for (auto& [name, bytes] : SampleGridKit::Files())
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".msh") == 0)
                m_bytes.emplace(name, std::move(bytes));
    }

    std::mutex m_mutex;
    GAME::MeshResourceManager m_manager;
    std::map<std::string, std::vector<uint8_t>> m_bytes;
};

} // namespace

bool SampleGridKit::HasWallPiece(int entry, bool base)
{
    return base || GAME::GridSystem::wallPiecePatterns[entry] != 0;
}

std::string SampleGridKit::WallPieceName(int entry, bool base)
{
    return std::string("Meshes/Grid/CaveWall") + (base ? "Base" : "Mid") + entryLetters[entry] + ".msh";
}

MeshWriter SampleGridKit::MakeWallPiece(uint8_t pattern, bool base)
{
    PieceBuilder piece;
    if (base)
        piece.Floor();
    // The cell's footprint in three bands each way: a wall's thickness at either side, the open
    // middle between. A solid corner fills its corner square, a standing wall the band along its
    // side between two corners. Each square and band is one block, and a side two blocks share is
    // left out: no two faces of the piece lie on one another (such faces fight over the depth and
    // take a further light's pass twice, which shows as bright broken stripes), and a faded wall
    // shows no inner faces.
    const float h = cellWidth * 0.5f, t = wallThickness;
    const float bands[4] = {-h, -h + t, h - t, h};
    // Corner k's square and wall k's band, as (x band, z band).
    static const int cornerAt[4][2] = {{0, 0}, {2, 0}, {2, 2}, {0, 2}};
    static const int wallAt[4][2] = {{1, 0}, {2, 1}, {1, 2}, {0, 1}};
    bool solid[3][3] = {};
    for (int k = 0; k < 4; ++k) {
        if (pattern & (128u >> k))
            solid[cornerAt[k][0]][cornerAt[k][1]] = true;
        if (pattern & (8u >> k)) {
            solid[wallAt[k][0]][wallAt[k][1]] = true;
            // A wall reaches into the corners at its ends, whatever the pattern says of them.
            solid[cornerAt[k][0]][cornerAt[k][1]] = true;
            solid[cornerAt[(k + 1) % 4][0]][cornerAt[(k + 1) % 4][1]] = true;
        }
    }
    const auto filled = [&solid](int x, int z) { return x >= 0 && x < 3 && z >= 0 && z < 3 && solid[x][z]; };
    for (int x = 0; x < 3; ++x)
        for (int z = 0; z < 3; ++z) {
            if (!solid[x][z])
                continue;
            // The cell's own edges stay: the next cell's wall, if any, is its own.
            const bool open[4] = {!filled(x - 1, z), !filled(x + 1, z), !filled(x, z - 1), !filled(x, z + 1)};
            piece.Block(bands[x], bands[x + 1], bands[z], bands[z + 1], cellHeight, open);
        }
    char text[64];
    std::snprintf(text, sizeof(text), "Cave wall piece %u%s", static_cast<unsigned>(pattern),
                  base ? "" : " (mid)");
    return piece.Finish(rockTexture, text);
}

std::vector<GAME::Triangle> SampleGridKit::DoorTriangles(float at, bool facingBack)
{
    const Vec3 a(-doorHalfWidth, 0.0f, at), b(doorHalfWidth, 0.0f, at);
    const Vec3 c(doorHalfWidth, doorHeight, at), d(-doorHalfWidth, doorHeight, at);
    if (facingBack)
        return {GAME::Triangle(a, c, b), GAME::Triangle(a, d, c)};
    return {GAME::Triangle(a, b, c), GAME::Triangle(a, c, d)};
}

MeshWriter SampleGridKit::MakeDoor()
{
    PieceBuilder piece;
    piece.Floor();
    const float h = cellWidth * 0.5f, t = wallThickness, top = cellHeight;
    // The +z wall with the opening: a post either side and the lintel above.
    piece.Box(Vec3(-h, 0, h - t), Vec3(-doorHalfWidth, top, h));
    piece.Box(Vec3(doorHalfWidth, 0, h - t), Vec3(h, top, h));
    piece.Box(Vec3(-doorHalfWidth, doorHeight, h - t), Vec3(doorHalfWidth, top, h));
    MeshWriter mesh = piece.Finish(rockTexture, "Cave doorway");
    // The portal's front faces into the cell: from inside, the view looks through it at the
    // region behind.
    std::vector<MeshWriter::PortalPoint> portal;
    for (const GAME::Triangle& triangle : DoorTriangles(h, true))
        portal.push_back({triangle.corners[0], triangle.corners[1], triangle.corners[2]});
    mesh.portals.push_back(portal);
    return mesh;
}

MeshWriter SampleGridKit::MakeEntrance()
{
    PieceBuilder piece;
    const float t = wallThickness, post = 0.5f;
    piece.Box(Vec3(-doorHalfWidth - post, 0, -t), Vec3(-doorHalfWidth, doorHeight, t));
    piece.Box(Vec3(doorHalfWidth, 0, -t), Vec3(doorHalfWidth + post, doorHeight, t));
    piece.Box(Vec3(-doorHalfWidth - post, doorHeight, -t), Vec3(doorHalfWidth + post, doorHeight + post, t));
    MeshWriter mesh = piece.Finish(frameTexture, "Cave entrance");
    std::vector<MeshWriter::PortalPoint> portal;
    for (const GAME::Triangle& triangle : DoorTriangles(0.0f))
        portal.push_back({triangle.corners[0], triangle.corners[1], triangle.corners[2]});
    mesh.portals.push_back(portal);
    return mesh;
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> SampleGridKit::Files()
{
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    for (int entry = 0; entry < GAME::GridSystem::numWallPieces; ++entry)
        for (bool base : {true, false})
            if (HasWallPiece(entry, base))
                files.emplace_back(WallPieceName(entry, base),
                                   MakeWallPiece(GAME::GridSystem::wallPiecePatterns[entry], base).Write(11));
    files.emplace_back(doorMesh, MakeDoor().Write(11));
    files.emplace_back(entranceMesh, MakeEntrance().Write(11));
    // Rough rock, and darker dressed stone for the frame.
    std::vector<uint32_t> rock(16 * 16), frame(16 * 16);
    for (uint32_t i = 0; i < rock.size(); ++i) {
        const uint32_t n = (i * 2654435761u) >> 27; // 0 to 31
        const uint32_t r = 128 + n, g = 108 + n, b = 86 + n;
        rock[i] = 0xFF000000u | (r << 16) | (g << 8) | b;
        const uint32_t f = 84 + (n >> 1);
        frame[i] = 0xFF000000u | (f << 16) | ((f - 6) << 8) | (f - 12);
    }
    files.emplace_back(rockTexture, TextureWriter::Dds(16, 16, rock, true));
    files.emplace_back(frameTexture, TextureWriter::Dds(16, 16, frame, true));
    return files;
}

void SampleGridKit::AddRecords(ArzWriter& database)
{
    // A new grid region selects the engine's default system before the level names its own: the
    // sample system stands under that name too, so that no grid looks for a record that is missing.
    for (const char* name : {systemRecord, GAME::GridRegion::defaultSystemName}) {
        ArzWriter::Record& system = database.AddRecord(NormalizeRecordName(name));
        system.String("Class", "GridSystem")
            .Float("cellSpacingX", cellWidth)
            .Float("cellSpacingY", cellHeight)
            .Float("cellSpacingZ", cellWidth)
            .Float("minWallOpacity", 0.25f)
            .String("feature", std::vector<std::string>{doorMesh});
        for (int entry = 0; entry < GAME::GridSystem::numWallPieces; ++entry) {
            const std::string letter(1, entryLetters[entry]);
            system.String("wallPieceBase" + letter, WallPieceName(entry, true));
            if (HasWallPiece(entry, false))
                system.String(entry == 3 ? "wallPieceMidDD" : "wallPieceMid" + letter, WallPieceName(entry, false));
        }
    }
    database.AddRecord(NormalizeRecordName(entranceRecord))
        .String("Class", "GridEntrance")
        .String("mesh", entranceMesh);
}

bool SampleGridKit::WriteSampleContent(const std::string& folder)
{
    const std::filesystem::path root(folder);
    for (const auto& [name, bytes] : Files())
        if (!WriteFile(root / name, bytes))
            return false;
    return true;
}

// ---- Resources ---------------------------------------------------------------------------------

GridPieceResources::GridPieceResources() : m_previous(GAME::LoadTableResources::Get())
{
    PieceLibrary::Get();
    GAME::LoadTableResources::Install(this);
}

GridPieceResources::~GridPieceResources()
{
    if (GAME::LoadTableResources::Get() == this)
        GAME::LoadTableResources::Install(m_previous);
}

GAME::GraphicsMesh* GridPieceResources::LoadMesh(const std::string& fileName)
{
    return PieceLibrary::Get().Load(fileName);
}

} // namespace DataKit
