// A started test engine (software render device, sample data with the terrain test types) for the
// terrain tests that need a device or the graphics engine's switches, with the device's controls.
#pragma once

#include "TerrainFixtures.h"

#include "datakit/MeshWriter.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/SoftwareDeviceAccess.h"
#include "world/EngineFixture.h"

#include <string>
#include <vector>

namespace GAME::TerrainTest {

class TerrainEngineTest : public GAME::Test::EngineTest
{
protected:
    // Whether the engine starts in editor mode.
    virtual bool EditorMode() const { return false; }

    void SetUp() override
    {
        EngineTest::SetUp();
        DataKit::ArzWriter& database = data.Database();
        database.AddRecord(dirtRecord).String("Class", "TerrainType").String("surfaceType", "Dirt");
        database.AddRecord(grassRecord)
            .String("Class", "TestGrassType")
            .String("TestBladeTexture", DataKit::TerrainWriter::grassBladeTexture)
            .Int("BladeVariations", 2)
            .Int("BladeSpacing", 1)
            .Float("BladeHeight", 2.0f)
            .Float("BladeWidth", 0.4f)
            .Int("MinimumBladeOpacity", 10);
        database.AddRecord(shortGrassRecord)
            .String("Class", "TestGrassType")
            .String("TestBladeTexture", DataKit::TerrainWriter::grassBladeTexture)
            .Int("BladeVariations", 1)
            .Float("BladeHeight", 1.5f);
        database.AddRecord("records/terrain/bare.dbr")
            .String("Class", "TestGrassType")
            .Int("BladeVariations", 0);
        database.AddRecord(stoneRecord).String("Class", "TerrainType").String("surfaceType", "Stone");
        data.AddFile(tileMeshName, TileMesh());
        Start(EditorMode());
        device = TerrainBase::GetRenderDevice();
        ASSERT_NE(device, nullptr);
        control = modules.Device(device);
        ASSERT_NE(control, nullptr);
        canvas = gEngine->GetGraphicsEngine()->GetCanvas();
        ASSERT_NE(canvas, nullptr);
    }

    // A ramp of 2 x 2 units rising from height 0 at z -1 to 1 at z 1, its two faces blended, its
    // outline a contour and its collision mesh the same two triangles.
    static constexpr const char* tileMeshName = "Meshes/TestRamp.msh";
    static std::vector<uint8_t> TileMesh()
    {
        DataKit::MeshWriter mesh;
        mesh.SetAttributes({DataKit::MeshWriter::ATTRIBUTE_POSITION, DataKit::MeshWriter::ATTRIBUTE_NORMAL});
        const Vec3 corners[4] = {Vec3(-1, 0, -1), Vec3(1, 0, -1), Vec3(1, 1, 1), Vec3(-1, 1, 1)};
        for (const Vec3& corner : corners) {
            DataKit::MeshWriter::Vertex vertex;
            vertex.position = corner;
            vertex.normal = Vec3(0, 1, 0);
            mesh.AddVertex(vertex);
        }
        mesh.blendedIndices = {0, 2, 1, 0, 3, 2};
        mesh.hasBoundingBox = true;
        mesh.boundsMin = Vec3(-1, 0, -1);
        mesh.boundsMax = Vec3(1, 1, 1);
        mesh.contours.push_back({});
        for (const Vec3& corner : corners)
            mesh.contours.back().push_back({corner, Vec3(0, 1, 0)});
        mesh.physicsMesh = DataKit::MeshWriter::PhysicsMeshBytes(
            {corners[0], corners[1], corners[2], corners[3]}, {{{0, 2, 1}, 0}, {{0, 3, 2}, 0}});
        return mesh.Write(11);
    }

    // Device calls recorded while f runs.
    template <class F> std::vector<std::string> Recorded(F&& f)
    {
        control->TakeRecordedCalls();
        control->SetRecording(true);
        f();
        control->SetRecording(false);
        return control->TakeRecordedCalls();
    }
    static size_t CountStarting(const std::vector<std::string>& calls, const std::string& prefix)
    {
        size_t n = 0;
        for (const std::string& call : calls)
            n += call.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
        return n;
    }
    // The primitive counts of the recorded indexed draws, in order.
    static std::vector<unsigned> DrawnPrimitives(const std::vector<std::string>& calls)
    {
        std::vector<unsigned> counts;
        for (const std::string& call : calls)
            if (call.rfind("DrawIndexedPrimitive(", 0) == 0 && call.find("rejected") == std::string::npos) {
                const size_t comma = call.rfind(',');
                counts.push_back(static_cast<unsigned>(std::stoul(call.substr(comma + 1))));
            }
        return counts;
    }

    GAME::Test::SoftwareModuleAccess modules;
    RenderDevice* device = nullptr;
    Software::DeviceControl* control = nullptr;
    GraphicsCanvas* canvas = nullptr;
};

} // namespace GAME::TerrainTest
