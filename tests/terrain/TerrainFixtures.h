// Shared pieces of the terrain tests: a record database of terrain types (with a type class that
// stands in a blade texture where the graphics engine cannot load one yet), frame counts set by
// hand, run-time terrain bodies written by datakit and loaded into a TerrainRT.
#pragma once

#include "common/RecordServices.h"
#include "core/ObjectManager.h"
#include "data/BinaryReader.h"
#include "data/EngineDataServices.h"
#include "datakit/ArzWriter.h"
#include "datakit/TerrainWriter.h"
#include "graphics/GraphicsEngine.h"
#include "terrain/TerrainRT.h"
#include "terrain/TerrainType.h"
#include "world/Engine.h"

#include <climits>
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME::TerrainTest {

// A terrain type whose blade texture is the graphics engine's texture of the record's
// "TestBladeTexture" when it can load one, and otherwise an address that only stands for "has a
// blade texture" (nothing reads through it while textures cannot be loaded).
class TestGrassType : public TerrainType
{
    GAME_DECLARE_CLASS(TestGrassType)

public:
    void Load(const LoadTable& table) override;
    ~TestGrassType() override;

private:
    bool m_standIn = false;
};

// The frame count, set by the test, for whatever asks the engine's services.
class FrameServices : public EngineDataServices
{
public:
    FrameServices() : m_previous(EngineDataServices::Get()) { EngineDataServices::Install(this); }
    ~FrameServices() override { EngineDataServices::Install(m_previous); }
    FrameServices(const FrameServices&) = delete;
    FrameServices& operator=(const FrameServices&) = delete;

    unsigned int GetFrameCount() override { return frame; }
    FileSystem* GetFileSystem() override { return nullptr; }
    void AddStatisticText(const char*) override {}
    unsigned int GetEngineLogCategory() override { return 0; }
    bool AreGraphicsStatsEnabled() override { return false; }

    unsigned int frame = 1000;

private:
    EngineDataServices* m_previous;
};

// Record names of the test types.
inline constexpr const char* dirtRecord = "records/terrain/dirt.dbr";
inline constexpr const char* grassRecord = "records/terrain/grass.dbr";
inline constexpr const char* shortGrassRecord = "records/terrain/shortgrass.dbr";
inline constexpr const char* stoneRecord = "records/terrain/stone.dbr";

// The test types' records, in a database the object manager reads while the fixture lives.
class TypeRecords
{
public:
    TypeRecords();
    ~TypeRecords();
    TypeRecords(const TypeRecords&) = delete;
    TypeRecords& operator=(const TypeRecords&) = delete;

    DataKit::ArzWriter database;
    GAME::Test::RecordServices services;
};

// A terrain of x by y samples whose heights roll smoothly (amplitude a few units).
DataKit::TerrainWriter RollingTerrain(unsigned x, unsigned y, uint32_t seed = 1);
// The writer's body loaded into the terrain; false when Load refused it.
bool LoadBody(TerrainRT& terrain, const std::vector<uint8_t>& body);
inline bool LoadWriter(TerrainRT& terrain, const DataKit::TerrainWriter& writer)
{
    return LoadBody(terrain, writer.Build());
}
// A plug of the two triangles of the cell (x, y) of the writer's ground, lifted by lift.
DataKit::TerrainWriter::Plug CellPlug(const DataKit::TerrainWriter& writer, unsigned x, unsigned y,
                                      float lift);

} // namespace GAME::TerrainTest
