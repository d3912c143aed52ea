// Shared pieces of the physics tests: entity classes that join the simulation (boxes, rag dolls of
// a mesh, props with a collision mesh), a world of two neighbouring terrain regions whose ground
// heights come from a function the test picks, the engine installed as the world's physics, and
// the sample character's mesh.
#pragma once

#include "common/RecordServices.h"
#include "core/Coords.h"
#include "core/ObjectManager.h"
#include "core/UniqueIdMap.h"
#include "core/WorldCoords.h"
#include "data/LoadTable.h"
#include "datakit/ArzWriter.h"
#include "datakit/CharacterGenerator.h"
#include "navigation/PhysicsEngine.h"
#include "navigation/PhysicsMesh.h"
#include "navigation/PhysicsObject.h"
#include "navigation/PhysicsRagDoll.h"
#include "scene/GraphicsMesh.h"
#include "scene/SkeletalPose.h"
#include "terrain/TerrainGroundQueries.h"
#include "world/Entity.h"
#include "world/GroundQueries.h"
#include "world/Level.h"
#include "world/MapChunkCallback.h"
#include "world/Region.h"
#include "world/World.h"
#include "world/WorldServices.h"

#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace GAME::PhysicsTest {

// A box of half size `half` (record field "half") around its origin, that follows its frame.
class PhysicsTestBox : public Entity
{
    GAME_DECLARE_CLASS(PhysicsTestBox)

public:
    void Load(const LoadTable& constTable) override
    {
        half = const_cast<LoadTable&>(constTable).GetFloat("half", 0.5f);
    }
    void UpdateBoundingBox() override
    {
        SetRegionBoundingBox(ABBox(GetCoords().GetOrigin().GetRegionPosition(), Vec3(half, half, half)));
    }
    float half = 0.5f;
};

// Makes a rag doll of `mesh` when its physics type is 3.
class PhysicsTestDoll : public PhysicsTestBox
{
    GAME_DECLARE_CLASS(PhysicsTestDoll)

public:
    void CreatePhysicsObject() override
    {
        if (GetPhysicsObject())
            return;
        if (GetPhysicsType() == PHYSICS_TYPE_RAG_DOLL && mesh)
            SetPhysicsObject(new PhysicsRagDoll(this, *mesh, SkeletalPose()));
        else
            Entity::CreatePhysicsObject();
    }
    static const GraphicsMesh* mesh;
};

// Stands still and offers `mesh` as its collision mesh.
class PhysicsTestProp : public PhysicsTestBox
{
    GAME_DECLARE_CLASS(PhysicsTestProp)

public:
    PhysicsMesh* GetPhysicsMesh() const override { return mesh; }
    static PhysicsMesh* mesh;
};

// Ground heights from a function of region-space sample coordinates.
class FunctionGround : public GroundQueries
{
public:
    explicit FunctionGround(std::function<float(float, float)> height) : m_height(std::move(height))
    {
        Install(this);
    }
    ~FunctionGround() override { TerrainGroundQueries::Install(); }
    float GetTerrainHeight(const TerrainBase*, int x, int z) override
    {
        return m_height(static_cast<float>(x), static_cast<float>(z));
    }
    float GetGridGroundHeight(const GridRegion*, float x, float z) override { return m_height(x, z); }
    Region* GetTerrainRegion(const TerrainBase*) override { return nullptr; }
    Region* GetGridRegionRegion(const GridRegion*) override { return nullptr; }

private:
    std::function<float(float, float)> m_height;
};

class Services : public WorldServices
{
public:
    explicit Services(PhysicsEngine* physics) : m_physics(physics) { Install(this); }
    ~Services() override { Install(nullptr); }
    SectorDataManager* GetSectorDataManager() override { return nullptr; }
    bool InstallMapChunkCallback(MapChunkCallback*) override { return false; }
    const MapChunkCallbackMap& GetChunkCallbackMap() override { return m_callbacks; }
    PhysicsEngine* GetPhysicsEngine() override { return m_physics; }

private:
    PhysicsEngine* m_physics;
    MapChunkCallbackMap m_callbacks;
};

// Records: "records/box.dbr" (half 0.5), "records/crate.dbr" (half 1), "records/doll.dbr",
// "records/prop.dbr".
std::vector<uint8_t> BuildDatabase();

// The sample character's mesh, loaded without a graphics engine (the model text may be replaced).
std::unique_ptr<GraphicsMesh> LoadCharacter(const std::string& modelText = std::string());

// A world of two terrain regions of 65 x 65 samples side by side: region 0 at the world origin,
// region 1 at (64, 0, 0). Ground heights come from the function (flat 0 by default).
class World2
{
public:
    explicit World2(PhysicsEngine& physics, std::function<float(float, float)> height = nullptr);
    ~World2();

    template <class T> T* Place(const char* record, int region, const Vec3& position, PhysicsType type)
    {
        T* entity = ObjectManager::Get()->CreateObjectFromFileAs<T>(record, 0, true);
        if (!entity)
            return nullptr;
        world->AddEntity(entity, WorldCoords(regions[region], Coords::Translation(position)), true);
        entity->SetPhysicsType(type);
        return entity;
    }
    // Steps the engine `steps` fixed steps with the view in region 0.
    void Step(PhysicsEngine& physics, int steps, int viewRegion = 0);
    void Flush() { ObjectManager::Get()->DestroyPendingObjects(UINT_MAX); }

    GAME::Test::RecordServices records;
    Services services;
    std::unique_ptr<FunctionGround> ground;
    World* world = nullptr;
    Region* regions[2] = {nullptr, nullptr};
};

} // namespace GAME::PhysicsTest
