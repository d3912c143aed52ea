// Decals: the fade over their life and their removal, the faces cut from the ground and the
// meshes under them, and the vertices they hand the canvas.
#include "LevelFixtures.h"

#include "common/LogCapture.h"
#include "core/Intersection.h"
#include "core/Ray.h"
#include "data/BinaryWriter.h"
#include "navigation/PhysicsMesh.h"
#include "world/Decal.h"
#include "world/EffectGeometry.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace GAME::WorldTest {
namespace {

// An entity whose collision mesh is given by the test, filed with a box of half size 3.
class DecalTestSurface : public Entity
{
    GAME_DECLARE_CLASS(DecalTestSurface)

public:
    PhysicsMesh* GetPhysicsMesh() const override { return mesh.GetNumFaces() ? &mesh : nullptr; }
    void UpdateBoundingBox() override
    {
        SetRegionBoundingBox(ABBox(GetCoords().GetOrigin().GetRegionPosition(), Vec3(3.0f, 3.0f, 3.0f)));
    }

    mutable PhysicsMesh mesh;
};

GAME_REGISTER_CLASS(DecalTestSurface, Entity)

// The stored form of a collision mesh.
std::vector<uint8_t> MeshBytes(const std::vector<Vec3>& vertices,
                               const std::vector<std::array<uint32_t, 3>>& faces)
{
    BinaryWriter writer(256);
    writer.WriteUInt32(PhysicsMesh::fileMagic);
    writer.WriteUInt32(PhysicsMesh::fileVersion);
    writer.WriteUInt32(static_cast<uint32_t>(vertices.size()));
    writer.WriteUInt32(static_cast<uint32_t>(faces.size()));
    for (const Vec3& v : vertices) {
        writer.WriteFloat(v.x);
        writer.WriteFloat(v.y);
        writer.WriteFloat(v.z);
    }
    for (const auto& f : faces) {
        writer.WriteUInt32(f[0]);
        writer.WriteUInt32(f[1]);
        writer.WriteUInt32(f[2]);
        writer.WriteUInt32(0);
    }
    return Bytes(writer);
}

// A flat grid of cells x cells squares at height y over x, z in [-half, half], two faces each.
std::vector<uint8_t> GridMesh(int cells, float half, float y)
{
    std::vector<Vec3> vertices;
    std::vector<std::array<uint32_t, 3>> faces;
    const float step = 2.0f * half / static_cast<float>(cells);
    for (int j = 0; j <= cells; ++j)
        for (int i = 0; i <= cells; ++i)
            vertices.emplace_back(-half + step * static_cast<float>(i), y,
                                  -half + step * static_cast<float>(j));
    const uint32_t row = static_cast<uint32_t>(cells + 1);
    for (uint32_t j = 0; j < static_cast<uint32_t>(cells); ++j)
        for (uint32_t i = 0; i < static_cast<uint32_t>(cells); ++i) {
            const uint32_t a = j * row + i;
            faces.push_back({a, a + row, a + row + 1});
            faces.push_back({a, a + row + 1, a + 1});
        }
    return MeshBytes(vertices, faces);
}

float Area(const Decal::DecalFace& face)
{
    return 0.5f * Vec3::Cross(face.corners[1] - face.corners[0], face.corners[2] - face.corners[0]).Length();
}

float TotalArea(const std::vector<Decal::DecalFace>& faces, float atHeight = NAN)
{
    float sum = 0.0f;
    for (const Decal::DecalFace& face : faces)
        if (std::isnan(atHeight) || std::fabs(face.corners[0].y - atHeight) < 1e-4f)
            sum += Area(face);
    return sum;
}

class DecalTest : public WorldFixture
{
protected:
    void SetUp() override
    {
        WorldFixture::SetUp();
        DataKit::ArzWriter writer(true);
        writer.AddRecord("records/decal.dbr").String("Class", "Decal").Float("opacity", 0.8f);
        writer.AddRecord("records/sudden.dbr")
            .String("Class", "Decal")
            .Float("beginFadeSeconds", 10.0f)
            .Float("endFadeSeconds", 10.0f);
        writer.AddRecord("records/lasting.dbr")
            .String("Class", "Decal")
            .Float("beginFadeSeconds", 0.0f)
            .Float("endFadeSeconds", 0.0f)
            .Float("opacity", 0.5f);
        writer.AddRecord("records/surface.dbr").String("Class", "DecalTestSurface");
        writer.AddRecord("records/vast.dbr").String("Class", "Decal").Float("size", 2.0e9f);
        writer.AddRecord("records/boundless.dbr").String("Class", "Decal").Float("size", 3.0e38f);
        ASSERT_TRUE(records.Load(writer.Build()));
    }

    Decal* MakeDecal(const char* record, const Coords& at)
    {
        Decal* decal = ObjectManager::Get()->CreateObjectFromFileAs<Decal>(record, 0, true);
        if (decal)
            level->AddEntity(decal, at);
        return decal;
    }

    DecalTestSurface* MakeSurface(const std::vector<uint8_t>& mesh, const Vec3& at)
    {
        auto* surface = ObjectManager::Get()->CreateObjectFromFileAs<DecalTestSurface>("records/surface.dbr");
        if (!surface)
            return nullptr;
        EXPECT_TRUE(surface->mesh.Initialize(mesh.data(), static_cast<unsigned>(mesh.size())));
        level->AddEntity(surface, Coords::Translation(at));
        return surface;
    }

    bool InLevel(const Entity* entity) const
    {
        std::vector<Entity*> all;
        level->GetEntities(all, ENTITY_LIST_ALL);
        return std::find(all.begin(), all.end(), entity) != all.end();
    }
};

TEST_F(DecalTest, FadesInHoldsFadesOutAndLeavesTheWorld)
{
    Decal* decal = MakeDecal("records/decal.dbr", Coords::Translation(Vec3(10.0f, 0.0f, 10.0f)));
    ASSERT_NE(decal, nullptr);
    EXPECT_TRUE(decal->IsLoaded());
    EXPECT_TRUE(decal->IsFading());
    EXPECT_EQ(decal->GetBeginFade(), 30.0f);
    EXPECT_EQ(decal->GetEndFade(), 45.0f);
    const unsigned id = decal->GetObjectId();

    EXPECT_FLOAT_EQ(decal->GetOpacity(), 0.0f);
    decal->Update(50);
    EXPECT_FLOAT_EQ(decal->GetOpacity(), 0.4f) << "half way through the 100 ms fade-in";
    decal->Update(50);
    EXPECT_FLOAT_EQ(decal->GetOpacity(), 0.8f);
    decal->Update(29900);
    EXPECT_EQ(decal->GetAge(), 30000);
    EXPECT_FLOAT_EQ(decal->GetOpacity(), 0.8f) << "the fade starts at 30 s";
    decal->Update(7500);
    EXPECT_FLOAT_EQ(decal->GetOpacity(), 0.4f);
    EXPECT_TRUE(InLevel(decal));
    decal->Update(7500);
    EXPECT_FLOAT_EQ(decal->GetOpacity(), 0.0f);
    EXPECT_FALSE(decal->IsFading());
    EXPECT_FALSE(InLevel(decal)) << "at 45 s the decal leaves the world";
    EXPECT_FALSE(decal->IsInWorld());
    EXPECT_EQ(ObjectManager::Get()->GetObject(id), nullptr) << "and is queued for destruction";
    Flush();
}

TEST_F(DecalTest, EqualFadeTimesEndAtOnceAndZeroFadeTimesLastAtFullOpacity)
{
    Decal* sudden = MakeDecal("records/sudden.dbr", Coords::Translation(Vec3(5.0f, 0.0f, 5.0f)));
    Decal* lasting = MakeDecal("records/lasting.dbr", Coords::Translation(Vec3(20.0f, 0.0f, 20.0f)));
    ASSERT_NE(sudden, nullptr);
    ASSERT_NE(lasting, nullptr);
    sudden->Update(9999);
    EXPECT_FLOAT_EQ(sudden->GetOpacity(), 1.0f);
    EXPECT_TRUE(InLevel(sudden));
    sudden->Update(1);
    EXPECT_FLOAT_EQ(sudden->GetOpacity(), 0.0f);
    EXPECT_FALSE(InLevel(sudden));

    EXPECT_FALSE(lasting->IsFading());
    for (int i = 0; i < 10; ++i)
        lasting->Update(100000);
    EXPECT_EQ(lasting->GetAge(), 0) << "a decal that does not fade does not age";
    EXPECT_TRUE(InLevel(lasting));
    EXPECT_FLOAT_EQ(lasting->GetOpacity(), 0.5f) << "it stays visible at its own opacity";
    Flush();
}

TEST_F(DecalTest, FacesCoverTheBoxOnFlatGroundAndFollowTheDecal)
{
    Decal* decal = MakeDecal("records/decal.dbr", Coords::Translation(Vec3(10.0f, 0.0f, 10.0f)));
    ASSERT_NE(decal, nullptr);
    EXPECT_TRUE(decal->GetFaces().empty());
    decal->Update(16);
    const std::vector<Decal::DecalFace>& faces = decal->GetFaces();
    ASSERT_FALSE(faces.empty());
    EXPECT_NEAR(TotalArea(faces), 4.0f, 1e-4f) << "the 2 x 2 square under the decal";
    for (const Decal::DecalFace& face : faces) {
        EXPECT_NEAR(face.normal.y, 1.0f, 1e-5f);
        for (int k = 0; k < 3; ++k) {
            const Vec3& p = face.corners[k];
            EXPECT_FLOAT_EQ(p.y, Decal::surfaceOffset);
            EXPECT_NEAR(face.uv[k][0], 0.5f + (p.x - 10.0f) * 0.5f, 1e-5f);
            EXPECT_NEAR(face.uv[k][1], 0.5f + (p.z - 10.0f) * 0.5f, 1e-5f);
            EXPECT_GE(face.uv[k][0], -1e-5f);
            EXPECT_LE(face.uv[k][0], 1.0f + 1e-5f);
        }
    }
    EXPECT_EQ(decal->GetRegionBoundingBox(), ABBox(Vec3(10.0f, 0.0f, 10.0f), Vec3(1.0f, 1.0f, 1.0f)));

    // A move within the tolerance keeps the geometry; a real one rebuilds it where the decal went.
    const WorldCoords built = decal->GetGeometryCoords();
    level->MoveEntity(decal, Coords::Translation(Vec3(10.00005f, 0.0f, 10.0f)));
    decal->Update(16);
    EXPECT_EQ(decal->GetGeometryCoords(), built);
    level->MoveEntity(decal, Coords::Translation(Vec3(12.0f, 0.0f, 10.0f)));
    decal->Update(16);
    EXPECT_EQ(decal->GetGeometryCoords().GetOrigin().GetRegionPosition(), Vec3(12.0f, 0.0f, 10.0f));
    float minX = 1e9f;
    for (const Decal::DecalFace& face : decal->GetFaces())
        for (const Vec3& p : face.corners)
            minX = std::min(minX, p.x);
    EXPECT_NEAR(minX, 11.0f, 1e-4f);

    // Turned 45 degrees about the vertical, the box still cuts a 2 x 2 square from the ground.
    Coords turned = Coords::Rotation(Vec3(0.0f, 1.0f, 0.0f), 0.785398f);
    turned.origin = Vec3(30.0f, 0.0f, 30.0f);
    level->MoveEntity(decal, turned);
    decal->Update(16);
    EXPECT_NEAR(TotalArea(decal->GetFaces()), 4.0f, 1e-3f);

    // Lifted clear of the ground, nothing is under it.
    level->MoveEntity(decal, Coords::Translation(Vec3(10.0f, 5.0f, 10.0f)));
    decal->Update(16);
    EXPECT_TRUE(decal->GetFaces().empty());
    Flush();
}

TEST_F(DecalTest, SizesBeyondTheIntRangeSampleTheGroundAtTheCellLimit)
{
    // Four billion units across, more than an int counts: the ground is sampled in maxGroundCells
    // cells a side, two faces each, every one inside the box (all of it exact in floats).
    Decal* vast = MakeDecal("records/vast.dbr", Coords());
    ASSERT_NE(vast, nullptr);
    vast->Update(16);
    EXPECT_EQ(vast->GetFaces().size(), size_t(2 * Decal::maxGroundCells * Decal::maxGroundCells));

    // Near the float limit the box itself is out of reach: nothing is laid.
    Decal* boundless = MakeDecal("records/boundless.dbr", Coords::Translation(Vec3(20.0f, 0.0f, 20.0f)));
    ASSERT_NE(boundless, nullptr);
    boundless->Update(16);
    EXPECT_TRUE(boundless->GetFaces().empty());
    Flush();
}

TEST_F(DecalTest, MeshesInsideTheBoxAreCutAndCapped)
{
    // A two-face table top at height 0.5 and a wall standing in the box.
    std::vector<uint8_t> table = MeshBytes(
        {Vec3(-3.0f, 0.5f, -3.0f), Vec3(-3.0f, 0.5f, 3.0f), Vec3(3.0f, 0.5f, 3.0f), Vec3(3.0f, 0.5f, -3.0f),
         Vec3(0.0f, -1.0f, -3.0f), Vec3(0.0f, 2.0f, 3.0f), Vec3(0.0f, -1.0f, 3.0f)},
        {{0, 1, 2}, {0, 2, 3}, {4, 5, 6}});
    ASSERT_NE(MakeSurface(table, Vec3(10.0f, 0.0f, 10.0f)), nullptr);
    Decal* decal = MakeDecal("records/decal.dbr", Coords::Translation(Vec3(10.0f, 0.3f, 10.0f)));
    ASSERT_NE(decal, nullptr);
    decal->Update(16);
    EXPECT_NEAR(TotalArea(decal->GetFaces(), 0.5f + Decal::surfaceOffset), 4.0f, 1e-4f) << "the table top";
    EXPECT_NEAR(TotalArea(decal->GetFaces(), Decal::surfaceOffset), 4.0f, 1e-4f) << "the ground";
    EXPECT_NEAR(TotalArea(decal->GetFaces()), 8.0f, 1e-3f) << "nothing of the wall";
    Flush();

    // A fine mesh gives more faces than one draw holds: the list stops there, said once.
    GAME::Test::LogCapture log;
    ASSERT_NE(MakeSurface(GridMesh(30, 1.0f, 0.5f), Vec3(40.0f, 0.0f, 40.0f)), nullptr);
    Decal* crowded = MakeDecal("records/decal.dbr", Coords::Translation(Vec3(40.0f, 0.3f, 40.0f)));
    ASSERT_NE(crowded, nullptr);
    crowded->Update(16);
    EXPECT_EQ(crowded->GetFaces().size(), static_cast<size_t>(Decal::maxFaces));
    size_t notices = 0;
    for (const std::string& line : log.Texts())
        notices += line.find("faces; the rest are left out") != std::string::npos;
    EXPECT_EQ(notices, 1u);
    std::vector<EffectVertex> vertices;
    std::vector<uint32_t> indices;
    ASSERT_TRUE(crowded->BuildGeometry(Coords(), vertices, indices));
    EXPECT_LE(vertices.size() * sizeof(EffectVertex), 24000u);
    EXPECT_LE(indices.size() * sizeof(uint32_t), 3000u);
    Flush();
}

TEST_F(DecalTest, VerticesCarryTheFadeAndTheScenePlacement)
{
    Decal* decal = MakeDecal("records/decal.dbr", Coords::Translation(Vec3(10.0f, 0.0f, 10.0f)));
    ASSERT_NE(decal, nullptr);
    std::vector<EffectVertex> vertices;
    std::vector<uint32_t> indices;
    EXPECT_FALSE(decal->BuildGeometry(Coords(), vertices, indices)) << "no faces before the first update";
    decal->Update(50);
    const Coords regionToScene = Coords::Translation(Vec3(-64.0f, 0.0f, 0.0f));
    ASSERT_TRUE(decal->BuildGeometry(regionToScene, vertices, indices));
    const std::vector<Decal::DecalFace>& faces = decal->GetFaces();
    ASSERT_EQ(vertices.size(), faces.size() * 3);
    ASSERT_EQ(indices.size(), vertices.size());
    for (size_t i = 0; i < indices.size(); ++i)
        EXPECT_EQ(indices[i], i);
    // Corners 0, 2, 1 of each face; white with the fade opacity (0.4) as alpha.
    const int order[3] = {0, 2, 1};
    for (size_t f = 0; f < faces.size(); ++f)
        for (int k = 0; k < 3; ++k) {
            const EffectVertex& v = vertices[f * 3 + static_cast<size_t>(k)];
            EXPECT_EQ(v.position, faces[f].corners[order[k]] + Vec3(-64.0f, 0.0f, 0.0f));
            EXPECT_EQ(v.u, faces[f].uv[order[k]][0]);
            EXPECT_EQ(v.color, 0x66FFFFFFu);
        }

    EXPECT_EQ(decal->GetNumRenderPasses(Name(), RenderGenerationId()), 1);
    EXPECT_EQ(decal->GetRenderPassSortOrder(0, Name(), RenderGenerationId()), 2000);
    EXPECT_EQ(decal->GetOpacity(0, Name()), 1.0f) << "the fade goes into the vertices, not the pass";

    // Picked only in the editor, with a surface, on the sphere of its size.
    Intersection hit;
    const Ray ray(Vec3(10.0f, 5.0f, 10.0f), Vec3(0.0f, -1.0f, 0.0f));
    decal->GetIntersection(ray, hit, 1);
    EXPECT_FALSE(hit.IsHit());
    services.editor = true;
    decal->GetIntersection(ray, hit, 1);
    EXPECT_FLOAT_EQ(hit.distance, 4.0f);
    services.editor = false;

    GAME::Test::LogCapture log;
    decal->LogInfo();
    EXPECT_TRUE(log.Contains("Decal:"));
    EXPECT_TRUE(log.Contains("   Size: 1.000000"));
    EXPECT_TRUE(log.Contains("   TextureFile: Sandbox/Varnel/ParticleTest.tex"));
    Flush();
}

} // namespace
} // namespace GAME::WorldTest
