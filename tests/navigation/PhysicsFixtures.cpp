#include "PhysicsFixtures.h"

#include <gtest/gtest.h>

namespace GAME::PhysicsTest {

GAME_REGISTER_CLASS(PhysicsTestBox, Entity)
GAME_REGISTER_CLASS(PhysicsTestDoll, PhysicsTestBox)
GAME_REGISTER_CLASS(PhysicsTestProp, PhysicsTestBox)

const GraphicsMesh* PhysicsTestDoll::mesh = nullptr;
PhysicsMesh* PhysicsTestProp::mesh = nullptr;

std::vector<uint8_t> BuildDatabase()
{
    DataKit::ArzWriter writer(true);
    writer.AddRecord("records/box.dbr").String("Class", "PhysicsTestBox").Float("half", 0.5f);
    writer.AddRecord("records/crate.dbr").String("Class", "PhysicsTestBox").Float("half", 1.0f);
    writer.AddRecord("records/doll.dbr").String("Class", "PhysicsTestDoll").Float("half", 0.3f);
    writer.AddRecord("records/prop.dbr").String("Class", "PhysicsTestProp").Float("half", 2.0f);
    return writer.Build();
}

std::unique_ptr<GraphicsMesh> LoadCharacter(const std::string& modelText)
{
    DataKit::MeshWriter writer = DataKit::CharacterGenerator::MakeCharacter();
    if (!modelText.empty())
        writer.modelText = modelText;
    const std::vector<uint8_t> bytes = writer.Write(11);
    auto mesh = std::make_unique<GraphicsMesh>(nullptr, DataKit::CharacterGenerator::characterMesh, nullptr);
    // Without a device the buffers are missing (a partial load); everything else is read.
    const Resource::InitResult result = mesh->Initialize(bytes.data(), static_cast<int>(bytes.size()));
    if (result != Resource::INIT_SUCCESS && result != Resource::INIT_PARTIAL)
        return nullptr;
    mesh->SetInitResult(Resource::INIT_SUCCESS);
    mesh->SetLoadedState(Resource::LOAD_STATE_LOADED);
    return mesh;
}

World2::World2(PhysicsEngine& physics, std::function<float(float, float)> height) : services(&physics)
{
    EXPECT_TRUE(records.Load(BuildDatabase()));
    ObjectManager::Destroy();
    UniqueIdMap::Destroy();
    Entity::InstallHooks();
    ground = std::make_unique<FunctionGround>(height ? height : [](float, float) { return 0.0f; });
    world = new World();
    for (int i = 0; i < 2; ++i) {
        world->AddRegion(i == 0 ? "levels/west.lvl" : "levels/east.lvl", IntVec3(64 * i, 0, 0), ABBox(),
                         RegionId());
        regions[i] = world->GetRegion(i);
        Level* level = new Level(regions[i]);
        level->NewTerrain(65, 65);
        level->PostLoad(false);
        regions[i]->SetLevel(level);
    }
}

World2::~World2()
{
    delete world; // unloads the levels, which take their entities out of the simulation
    Flush();
    ObjectManager::Destroy();
    UniqueIdMap::Destroy();
}

void World2::Step(PhysicsEngine& physics, int steps, int viewRegion)
{
    for (int i = 0; i < steps; ++i)
        physics.Update(WorldVec3(regions[viewRegion], Vec3()), PhysicsEngine::stepSeconds);
}

} // namespace GAME::PhysicsTest
