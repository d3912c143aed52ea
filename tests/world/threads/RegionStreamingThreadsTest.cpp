#include "common/RecordServices.h"
#include "core/Sphere.h"
#include "core/WorldRay.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/LoadTable.h"
#include "datakit/ArzWriter.h"

#include "../StreamingWorld.h"

#include <gtest/gtest.h>
#include <random>

namespace GAME {
namespace {

// A box of half size 1 that keeps a counter in its saved state.
class SoakEntity : public Entity
{
    GAME_DECLARE_CLASS(SoakEntity)

public:
    void UpdateBoundingBox() override
    {
        SetRegionBoundingBox(ABBox(GetCoords().GetOrigin().GetRegionPosition(), Vec3(1, 1, 1)));
    }
    bool ShouldSaveState() const override { return true; }
    void SaveState(BinaryWriter& writer) const override
    {
        Entity::SaveState(writer);
        writer.WriteUInt32(counter);
    }
    void RestoreState(BinaryReader& reader) override
    {
        Entity::RestoreState(reader);
        counter = reader.ReadUInt32();
    }
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface) const override
    {
        intersection.distance = GetRegionBoundingBox().GetIntersection(ray);
        intersection.point = ray.GetPoint(intersection.distance);
    }

    uint32_t counter = 0;
};

GAME_REGISTER_CLASS(SoakEntity, Entity)

// Eight regions in a row, each touching the next, and two far regions behind portals from the
// last one. The view sweeps along the row and back while regions are told to unload, unloaded
// outright and queried every frame: their levels load and unload on their threads, and their fog
// is saved on its own, while the main thread keeps asking. ThreadSanitizer must find no race and
// the run must end with every thread joined and no object left.
TEST(RegionStreamingThreads, RegionsLoadAndUnloadWhileTheMainThreadQueries)
{
    GAME::Test::RecordServices records;
    DataKit::ArzWriter database(true);
    database.AddRecord("records/soak.dbr").String("Class", "SoakEntity");
    ASSERT_TRUE(records.Load(database.Build()));
    ObjectManager::Destroy();
    UniqueIdMap::Destroy();
    Entity::InstallHooks();
    GAME::Test::StreamingServices services;

    constexpr int row = 8;
    std::vector<GAME::Test::StreamingRegion> layout(row + 2);
    for (int i = 0; i < row + 2; ++i) {
        layout[i].offset = i < row ? IntVec3(64 * i, 0, 0) : IntVec3(5000 * (i - row + 1), 0, 5000);
        for (int e = 0; e < 12; ++e)
            layout[i].entities.push_back({"records/soak.dbr", Vec3(4.0f + 5.0f * e, 0, 8.0f + 4.0f * e)});
    }
    ASSERT_TRUE(services.Put("maps/soak.map", GAME::Test::StreamingMapImage(layout)));
    {
        World world;
        World::SetCurrent(&world);
        ASSERT_TRUE(world.Load("maps/soak.map", true));
        GAME::Test::JoinRegions(world.GetRegion(row - 1), 60, world.GetRegion(row), 4);
        GAME::Test::JoinRegions(world.GetRegion(row), 60, world.GetRegion(row + 1), 4);

        std::mt19937 random(7);
        std::vector<Entity*> found;
        size_t seen = 0;
        constexpr int frames = 1500;
        for (int frame = 0; frame < frames; ++frame) {
            // Sweep x over the row and back, 3 units a frame.
            const int span = 64 * row;
            const int step = (frame * 3) % (2 * span);
            const float x = static_cast<float>(step < span ? step : 2 * span - step);
            Region* at = world.GetRegion(std::min(row - 1, static_cast<int>(x) / 64));
            const float local = x - 64.0f * at->GetRegionIndex();
            const WorldFrustum view = GAME::Test::BoxView(at, Vec3(local, 0, 32), Vec3(6, 6, 6));
            GAME::Test::WorldFrame(services, world, {view});

            if (frame % 5 == 0)
                world.UnloadExtraRegions();
            if (frame % 3 == 0) {
                // Outright, whatever the region is doing: a load under way is waited for.
                Region* victim = world.GetRegion(static_cast<int>(random() % (row + 2)));
                if (victim != at)
                    victim->UnloadLevel(true);
            }

            const WorldVec3 eye(at, Vec3(local, 0.5f, 32));
            found.clear();
            world.GetEntitiesInSphere(found, at, Sphere(eye.GetRegionPosition(), 40.0f), false, ENTITY_LIST_ALL);
            world.GetEntitiesInFrustum(found, view, true, ENTITY_LIST_ALL, false);
            world.GetEntitiesInCone(found, eye, Vec3(1, 0, 0), 0.8f, 50.0f, false, ENTITY_LIST_ALL);
            seen += found.size();
            for (Entity* entity : found)
                if (entity->GetObjectName() == "records/soak.dbr")
                    ++static_cast<SoakEntity*>(entity)->counter;
            world.PickEntity(WorldRay(eye, Vec3(1, 0, 0.3f)));
            world.GetNearestFloorHeight(eye);
            world.GetDistance(eye, WorldVec3(world.GetRegion(row), Vec3(10, 0, 32)));
            world.AddFOWVisibility(eye, 4);
            world.IsInFog(eye);
            for (int i = 0; i < world.GetNumRegions(); ++i)
                world.GetRegion(i)->GetLevel(true);
            ObjectManager::Get()->DestroyPendingObjects(20);
        }
        EXPECT_GT(seen, 0u);
        // Every region of the row was loaded at some time, and the first behind its portals.
        for (int i = 0; i < row + 1; ++i) {
            world.GetRegion(i)->WaitForLoadingToFinish();
            EXPECT_TRUE(world.GetRegion(i)->GetLevelPtr() || world.GetRegion(i)->HasKeptState()) << i;
        }
        world.Unload();
        World::SetCurrent(nullptr);
    }
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    EXPECT_EQ(ObjectManager::Get()->GetNumObjects(), 0u);
    ObjectManager::Destroy();
    UniqueIdMap::Destroy();
}

} // namespace
} // namespace GAME
