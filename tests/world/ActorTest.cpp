// Actors in a running engine (the recording device) with the sample models: what their records
// give, their boxes and queries, the full and the cheap update, root motion, animation events,
// saved state, command routing, drawing, rag dolls, the bones effects read from them and emit
// from, and the shadow focus's nearest caster.
#include "EffectFixtures.h"
#include "EngineFixture.h"

#include "core/EventManager.h"
#include "core/Intersect.h"
#include "core/Intersection.h"
#include "core/ObjectManager.h"
#include "core/Ray.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/ResourceLoader.h"
#include "datakit/CharacterGenerator.h"
#include "datakit/SampleEffects.h"
#include "graphics/GraphicsEngine.h"
#include "navigation/PhysicsEngine.h"
#include "navigation/PhysicsRagDoll.h"
#include "network/NetPacket.h"
#include "network/NetworkShim.h"
#include "scene/Camera.h"
#include "scene/GraphicsAnim.h"
#include "scene/GraphicsMesh.h"
#include "scene/GraphicsMeshInstance.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/GraphicsShadowMap.h"
#include "world/Actor.h"
#include "world/Effect.h"
#include "world/EffectData.h"
#include "world/EffectEntity.h"
#include "world/EmitterData.h"
#include "world/Level.h"
#include "world/MinimapGameNugget.h"
#include "world/Region.h"
#include "world/World.h"

#include <cmath>
#include <vector>

namespace GAME {
namespace {

using DataKit::CharacterGenerator;

// An entity with a box of half size 0.25 about its frame, or a box the test fixes.
class ActorTestChild : public Entity
{
    GAME_DECLARE_CLASS(ActorTestChild)

public:
    void UpdateBoundingBox() override
    {
        SetRegionBoundingBox(
            fixed ? box : ABBox(GetCoords().GetOrigin().GetRegionPosition(), Vec3(0.25f, 0.25f, 0.25f)));
    }
    bool fixed = false;
    ABBox box;
};

GAME_REGISTER_CLASS(ActorTestChild, Entity)

// Counts what runs locally.
class ActorTestQueue : public Actor
{
    GAME_DECLARE_CLASS(ActorTestQueue)

public:
    bool LocalEnqueue(ActorConfigCommand* command) override
    {
        ++local;
        return Actor::LocalEnqueue(command);
    }
    int local = 0;
};

GAME_REGISTER_CLASS(ActorTestQueue, Actor)

int g_executed = 0;
int g_alive = 0;

class ActorTestPacket : public NetPacket
{
public:
    ActorTestPacket() : NetPacket(PACKET_TYPE(42)) {}
    const char* GetTypeName() const override { return "ActorTestPacket"; }
};

class ActorTestCommand : public ActorConfigCommand
{
public:
    ActorTestCommand(unsigned parent, bool network) : ActorConfigCommand(parent)
    {
        SetSupportsNetwork(network);
        ++g_alive;
    }
    ~ActorTestCommand() override { --g_alive; }
    void Execute() override { ++g_executed; }
    NetPacket* GetNetPacket() override { return new ActorTestPacket; }
};

class ShakeListener : public EventHandlerInterface
{
public:
    void HandleEvent(const GameEvent* event) override
    {
        const auto* shake = static_cast<const GameEvent_CameraShake*>(event);
        shakes.emplace_back(shake->duration, shake->strength);
    }
    std::vector<std::pair<float, float>> shakes;
};

class PlainSceneRenderer : public GraphicsSceneRenderer
{
public:
    bool SetSceneShaderParameters(GraphicsCanvas&, GraphicsShader2&) override { return true; }
    bool IsShadowOnly() const override { return shadowOnly; }
    bool shadowOnly = false;
};

constexpr const char* kCharacter = "records/actor/character.dbr";
constexpr const char* kCrate = "records/actor/crate.dbr";
constexpr const char* kShakeAnim = "Animations/ActorTestShake.anm";
constexpr const char* kHeadGlowFile = "Effects/ActorTest/HeadGlow.pfx";

bool Near(const Vec3& a, const Vec3& b, float tolerance = 1e-4f)
{
    return (a - b).Length() <= tolerance;
}

class ActorTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        GAME::Test::EngineTest::SetUp();
        g_executed = g_alive = 0;
        DataKit::ArzWriter& db = data.Database();
        db.AddRecord(kCharacter).String("Class", "Actor").String("mesh", CharacterGenerator::characterMesh);
        db.AddRecord("records/actor/queue.dbr").String("Class", "ActorTestQueue");
        // The crate with two things to make: an entity at its top and an object that is no entity.
        DataKit::MeshWriter crate = CharacterGenerator::MakeProp();
        crate.modelText += "CreateEntity { entity = \"records/actor/child.dbr\" attach = \"Top\" }\n"
                           "CreateEntity { entity = \"records/actor/object.dbr\" attach = \"Top\" }\n";
        data.AddFile("Meshes/ActorTestCrate.msh", crate.Write(11));
        db.AddRecord(kCrate)
            .String("Class", "Actor")
            .String("mesh", "Meshes/ActorTestCrate.msh")
            .Float("scale", 2.0f)
            .Bool("castsShadows", false);
        db.AddRecord("records/actor/child.dbr").String("Class", "ActorTestChild");
        db.AddRecord("records/actor/object.dbr").String("Class", "Object");
        db.AddRecord("records/actor/over.dbr")
            .String("Class", "Actor")
            .Float("maxTransparency", 1.7f)
            .Float("unloadedBoundingBoxExtents", 0.0f)
            .Bool("allowTransparency", true);
        db.AddRecord("records/actor/under.dbr")
            .String("Class", "Actor")
            .String("mesh", "")
            .Float("maxTransparency", -0.2f)
            .Float("unloadedBoundingBoxExtents", -3.0f)
            .Float("scale", 0.5f)
            .String("description", "tagActorTest")
            .Bool("DisplayAsQuestItem", true);
        db.AddRecord("records/actor/bones.dbr")
            .String("Class", "EffectEntity")
            .String("emitterType", "AllBones");
        db.AddRecord("records/actor/named.dbr")
            .String("Class", "EffectEntity")
            .String("emitterType", "BoneList")
            .String("boneList", std::vector<std::string>{"Head", "NoSuchBone"});
        // A glow from the head: particles that keep still (no speed, the default gravity is
        // none) and live long enough to be counted.
        {
            EmitterData* glow = new EmitterData;
            glow->SetLoop(true);
            glow->SetFloat(EmitterData::FLOAT_LIFE, 5.0f);
            glow->GetCurve(EmitterData::CURVE_EMISSION_RATE)->SetFirstLastY(1000.0f, 1000.0f);
            glow->GetCurve(EmitterData::CURVE_SPEED)->SetFirstLastY(0.0f, 0.0f);
            EffectData effect;
            effect.AddEmitterData(glow);
            data.AddFile(kHeadGlowFile, DataKit::SampleEffects::Bytes(effect));
        }
        db.AddRecord("records/actor/headglow.dbr")
            .String("Class", "EffectEntity")
            .String("effectFile", kHeadGlowFile)
            .String("emitterType", "BoneList")
            .String("boneList", std::vector<std::string>{"Head"});
        // The idle with three events a third of a second apart.
        DataKit::AnimWriter shake = CharacterGenerator::MakeIdle();
        shake.text = DataKit::AnimWriter::CallbackPointText("CameraShake", 0) +
                     DataKit::AnimWriter::CallbackPointText("LongCameraShake", 10) +
                     DataKit::AnimWriter::CallbackPointText("Footstep", 20);
        data.AddFile(kShakeAnim, shake.Write(1));
    }

    void TearDown() override
    {
        for (GraphicsAnim* anim : anims)
            engine->GetGraphicsEngine()->UnloadAnimation(anim);
        GAME::Test::EngineTest::TearDown();
        EXPECT_EQ(g_alive, 0) << "every command was deleted";
    }

    void StartWorld()
    {
        GAME::Test::TestEngine& e = Start();
        ASSERT_TRUE(s_fatalErrors.empty());
        ASSERT_NE(e.GetWorld(), nullptr);
        World* world = e.GetWorld();
        region = world->GetRegion(world->AddRegion("levels/actors.lvl", IntVec3(), ABBox(), RegionId()));
        level = new Level(region);
        level->NewSpace(Vec2(100.0f, 100.0f));
        level->PostLoad(false);
        region->SetLevel(level);
    }

    Actor* Make(const char* record)
    {
        return ObjectManager::Get()->CreateObjectFromFileAs<Actor>(record, 0, true);
    }

    // Made, placed, its mesh loaded now.
    Actor* Place(const char* record, const Coords& coords)
    {
        Actor* actor = Make(record);
        EXPECT_NE(actor, nullptr);
        if (!actor)
            return nullptr;
        EXPECT_TRUE(level->AddEntity(actor, coords));
        if (GraphicsMesh* mesh = actor->GetMeshInstance()->GetMesh())
            engine->GetResourceLoader()->LoadResource(mesh);
        EXPECT_NE(actor->GetLoadedMesh(), nullptr);
        return actor;
    }

    GraphicsAnim* Anim(const char* name)
    {
        GraphicsAnim* anim = engine->GetGraphicsEngine()->LoadAnimation(name);
        EXPECT_NE(anim, nullptr);
        if (anim) {
            anim->EnsureAvailable();
            anims.push_back(anim);
        }
        return anim;
    }

    // A renderer of this frame that has entered the region.
    void Enter(PlainSceneRenderer& renderer)
    {
        Camera camera;
        const Viewport viewport(0, 0, 64, 64);
        renderer.SetViewer(region, camera, viewport, camera.GetFrustum(viewport));
        renderer.AddRegionToScene(region);
    }

    static Coords Turned(float angle, const Vec3& origin)
    {
        Coords coords = Coords::Rotation(Vec3(0.0f, 1.0f, 0.0f), angle);
        coords.origin = origin;
        return coords;
    }

    Region* region = nullptr;
    Level* level = nullptr;
    std::vector<GraphicsAnim*> anims;
};

TEST_F(ActorTest, RecordValuesAreClampedAndAMissingMeshFallsBack)
{
    StartWorld();
    Actor* over = Make("records/actor/over.dbr");
    ASSERT_NE(over, nullptr);
    EXPECT_FLOAT_EQ(over->GetMaxTransparency(), 1.0f);
    EXPECT_TRUE(over->GetAllowTransparency());
    EXPECT_EQ(over->GetMeshName(), Actor::invalidMeshName) << "no mesh field";
    EXPECT_EQ(over->GetDescriptionTag(), "Unknown");
    EXPECT_EQ(over->GetMeshInstance()->GetObjectSpaceBoundingBox().extents, Vec3(10.0f, 10.0f, 10.0f))
        << "extents of 0 stand in as 10 while the mesh is not loaded";
    EXPECT_TRUE(over->GetCastsShadows());
    EXPECT_EQ(over->GetPhysicsType(), PHYSICS_TYPE_ACTOR);

    Actor* under = Make("records/actor/under.dbr");
    ASSERT_NE(under, nullptr);
    EXPECT_FLOAT_EQ(under->GetMaxTransparency(), 0.0f);
    EXPECT_FALSE(under->GetAllowTransparency());
    EXPECT_EQ(under->GetMeshName(), Actor::invalidMeshName) << "an empty mesh field";
    EXPECT_EQ(under->GetMeshInstance()->GetObjectSpaceBoundingBox().extents, Vec3(5.0f, 5.0f, 5.0f))
        << "negative extents become 10, at scale 0.5";
    EXPECT_FLOAT_EQ(under->GetBaseScale(), 0.5f);
    EXPECT_FLOAT_EQ(under->GetCurrentScale(), 0.5f);
    under->SetScale(3.0f);
    EXPECT_FLOAT_EQ(under->GetBaseScale(), 0.5f);
    EXPECT_FLOAT_EQ(under->GetMeshInstance()->GetScale(), 3.0f);

    // Shown on the minimap: one mark of kind 8 where it stands, facing its z axis.
    std::vector<MinimapGameNugget> marks;
    over->AppendDetailMapData(marks);
    EXPECT_TRUE(marks.empty());
    level->AddEntity(under, Turned(0.5f, Vec3(4.0f, 0.0f, 6.0f)));
    under->AppendDetailMapData(marks);
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0].kind, 8);
    EXPECT_TRUE(Near(marks[0].position.GetRegionPosition(), Vec3(4.0f, 0.0f, 6.0f)));
    EXPECT_TRUE(Near(marks[0].direction, under->GetCoords().GetZAxis()));
    EXPECT_FALSE(marks[0].text.empty());
    ObjectManager::Get()->DestroyObjectEx(over, __FILE__, __LINE__);
}

TEST_F(ActorTest, BoxesAndQueriesFollowTheTurnedScaledMeshAndItsAttachments)
{
    StartWorld();
    // The crate (unit cube standing on the origin) at scale 2, turned 45 degrees.
    const float quarter = 0.78539816f;
    Actor* crate = Place(kCrate, Turned(quarter, Vec3(10.0f, 0.0f, 20.0f)));
    ASSERT_NE(crate, nullptr);
    EXPECT_FALSE(crate->GetAttachmentsCreated());
    crate->Update(16);
    ASSERT_TRUE(crate->GetAttachmentsCreated());
    ASSERT_EQ(crate->GetNumAttachedEntities(), 1) << "the object that is no entity was not attached";
    EXPECT_TRUE(engine->Has("makes no entity"));

    const float r = std::sqrt(2.0f); // the turned square's reach
    const ABBox alone = crate->GetRegionBoundingBox(true);
    EXPECT_TRUE(Near(alone.center, Vec3(10.0f, 1.0f, 20.0f)));
    EXPECT_TRUE(Near(alone.extents, Vec3(r, 1.0f, r)));
    // The child stands on the crate's top (2 up): the whole reaches 0.25 above it.
    const ABBox whole = crate->GetRegionBoundingBox();
    EXPECT_TRUE(Near(whole.center, Vec3(10.0f, 1.125f, 20.0f)));
    EXPECT_TRUE(Near(whole.extents, Vec3(r, 1.125f, r)));

    // A child whose box centre has an exact 0 coordinate is taken as unplaced and left out.
    auto* stray = ObjectManager::Get()->CreateObjectFromFileAs<ActorTestChild>("records/actor/child.dbr");
    ASSERT_NE(stray, nullptr);
    stray->fixed = true;
    crate->Attach(stray, Coords(), "");
    for (const Vec3& center :
         {Vec3(0.0f, 40.0f, 20.0f), Vec3(10.0f, 0.0f, 20.0f), Vec3(10.0f, 40.0f, 0.0f)}) {
        stray->box = ABBox(center, Vec3(1.0f, 41.0f, 1.0f));
        crate->UpdateBoundingBox();
        EXPECT_EQ(crate->GetRegionBoundingBox(), whole);
    }
    stray->box.center = Vec3(10.5f, 40.0f, 20.0f);
    crate->UpdateBoundingBox();
    EXPECT_NEAR(crate->GetRegionBoundingBox().GetMax().y, 81.0f, 1e-4f);

    // Queries: the proxy and the hit box placed and scaled, the attach point scaled, rays.
    OBBox proxy;
    ASSERT_TRUE(crate->GetCollisionProxy(proxy));
    EXPECT_TRUE(Near(proxy.extents, Vec3(1.0f, 1.0f, 1.0f)));
    EXPECT_TRUE(Near(proxy.coords.origin, Vec3(10.0f, 1.0f, 20.0f)));
    EXPECT_TRUE(Near(proxy.coords.xAxis, crate->GetCoords().GetXAxis()));
    ASSERT_EQ(crate->GetNumCollisionBoxes(), 1);
    const OBBox hit = crate->GetCollisionBox(0);
    EXPECT_TRUE(Near(hit.extents, Vec3(1.0f, 1.0f, 1.0f)));
    EXPECT_TRUE(Near(hit.coords.origin, Vec3(10.0f, 1.0f, 20.0f)));
    EXPECT_EQ(crate->GetCollisionBox(1), OBBox());
    EXPECT_TRUE(Near(crate->GetCenterOfMass(), Vec3(0.0f, 0.5f, 0.0f)));
    EXPECT_NE(crate->GetPhysicsMesh(), nullptr);
    EXPECT_TRUE(Near(crate->GetAttachedCoords(Name::Create("Top")).GetOrigin().GetRegionPosition(),
                     Vec3(10.0f, 2.0f, 20.0f)));
    EXPECT_TRUE(Near(crate->GetAttachedCoords(Name::Create("Nowhere")).GetOrigin().GetRegionPosition(),
                     Vec3(10.0f, 0.0f, 20.0f)));
    Intersection down;
    crate->GetIntersection(Ray(Vec3(10.3f, 10.0f, 20.2f), Vec3(0.0f, -1.0f, 0.0f)), down, physicsSurfaceAny);
    ASSERT_TRUE(down.IsHit());
    EXPECT_NEAR(down.distance, 8.0f, 1e-3f);
    EXPECT_TRUE(Near(down.point, Vec3(10.3f, 2.0f, 20.2f), 1e-3f));
    Intersection past;
    crate->GetIntersection(Ray(Vec3(13.0f, 10.0f, 20.0f), Vec3(0.0f, -1.0f, 0.0f)), past, physicsSurfaceAny);
    EXPECT_FALSE(past.IsHit());

    // A proxy is never thinner than 0.1.
    crate->SetScale(0.01f);
    ASSERT_TRUE(crate->GetCollisionProxy(proxy));
    EXPECT_TRUE(Near(proxy.extents, Vec3(0.1f, 0.1f, 0.1f)));

    // Without a loaded mesh there is nothing to collide with.
    Actor* empty = Make("records/actor/over.dbr");
    ASSERT_NE(empty, nullptr);
    EXPECT_FALSE(empty->GetCollisionProxy(proxy));
    EXPECT_EQ(empty->GetNumCollisionBoxes(), 0);
    EXPECT_EQ(empty->GetPhysicsMesh(), nullptr);
    ObjectManager::Get()->DestroyObjectEx(empty, __FILE__, __LINE__);
}

TEST_F(ActorTest, OnlyAnActorDrawnThisOrLastFrameUpdatesItsPose)
{
    StartWorld();
    Actor* walker = Place(kCharacter, Coords());
    ASSERT_NE(walker, nullptr);
    GraphicsAnim* walk = Anim(CharacterGenerator::walkAnimation);
    ASSERT_NE(walk, nullptr);
    walker->PlayAnimation(0, walk, true, 1.0f, 0);
    const GraphicsMeshInstance& instance = *walker->GetMeshInstance();
    const AnimChannel& channel = *instance.GetAnimChannel(0);

    // Added to the level this frame: full updates.
    walker->Update(100);
    ASSERT_FALSE(instance.GetSkinningFrames().empty());
    const std::vector<Coords> first = instance.GetSkinningFrames();
    Frame();
    walker->Update(100);
    const std::vector<Coords> second = instance.GetSkinningFrames();
    EXPECT_NE(first, second) << "drawn last frame: the pose moves on";

    // Two frames after it was last drawn: the animation and its motion advance, the pose stays.
    Frame();
    const float time = channel.current.time;
    walker->Update(100);
    EXPECT_GT(channel.current.time, time);
    EXPECT_GT(walker->GetMotion().Length(), 0.5f);
    EXPECT_EQ(instance.GetSkinningFrames(), second);

    // Drawn again: full again.
    PlainSceneRenderer renderer;
    Enter(renderer);
    walker->AddToScene(renderer, nullptr);
    EXPECT_EQ(walker->GetLastFrameRendered(), engine->GetFrameCount());
    walker->Update(100);
    EXPECT_NE(instance.GetSkinningFrames(), second);
    walker->StopAnimations();
}

TEST_F(ActorTest, RootMotionIsTurnedIntoRegionSpaceUnlessTheParentIsAnActor)
{
    StartWorld();
    // Turned a quarter about y: the walk's +z becomes the region's +x.
    Actor* walker = Place(kCharacter, Turned(1.5707963f, Vec3(30.0f, 0.0f, 30.0f)));
    ASSERT_NE(walker, nullptr);
    GraphicsAnim* walk = Anim(CharacterGenerator::walkAnimation);
    ASSERT_NE(walk, nullptr);
    walker->PlayAnimation(0, walk, true, 1.0f, 0);
    walker->Update(100);
    const Vec3 motion = walker->GetMotion();
    // 1.5 units a cycle of one second.
    EXPECT_NEAR(motion.x, CharacterGenerator::walkStride, 0.05f);
    EXPECT_NEAR(motion.y, 0.0f, 1e-3f);
    EXPECT_NEAR(motion.z, 0.0f, 1e-3f);

    // A rider on the walker takes its skeleton and no motion of its own.
    Actor* rider = Make(kCharacter);
    ASSERT_NE(rider, nullptr);
    engine->GetResourceLoader()->LoadResource(rider->GetMeshInstance()->GetMesh());
    rider->PlayAnimation(0, walk, true, 1.0f, 0);
    walker->Attach(rider, Coords(), "Chest");
    rider->Update(100);
    EXPECT_EQ(rider->GetMotion(), Vec3());
    const Name thigh = Name::Create("LeftThigh");
    EXPECT_EQ(rider->GetMeshInstance()->GetSkeletalPose().GetBoneCoords(thigh),
              walker->GetMeshInstance()->GetSkeletalPose().GetBoneCoords(thigh));
    walker->StopAnimations();
    rider->StopAnimations();
}

TEST_F(ActorTest, AnimationEventsReachTheirHandlers)
{
    StartWorld();
    ShakeListener listener;
    EventManager::Get()->Register("GameEvent_CameraShake", &listener);
    Actor* actor = Place(kCharacter, Coords::Translation(Vec3(5.0f, 0.0f, 5.0f)));
    ASSERT_NE(actor, nullptr);
    GraphicsAnim* shake = Anim(kShakeAnim);
    ASSERT_NE(shake, nullptr);
    actor->PlayAnimation(0, shake, false, 1.0f, 0);
    for (int i = 0; i < 25; ++i)
        actor->Update(40);
    EventManager::Get()->UnRegister("GameEvent_CameraShake", &listener);
    ASSERT_EQ(listener.shakes.size(), 2u) << "a footstep shakes nothing";
    EXPECT_EQ(listener.shakes[0], std::make_pair(500.0f, 0.5f));
    EXPECT_EQ(listener.shakes[1], std::make_pair(9000.0f, 0.75f));
    actor->StopAnimations();
}

TEST_F(ActorTest, SavedStateCarriesThePoseOnlyForRagDollsAndRestoredPoses)
{
    StartWorld();
    Actor* plain = Place(kCharacter, Coords());
    ASSERT_NE(plain, nullptr);
    BinaryWriter words(64);
    plain->SaveState(words);
    ASSERT_EQ(words.GetSize(), 12u) << "no unique id, visible, no pose";
    BinaryReader check(words.GetBuffer(), words.GetSize());
    EXPECT_EQ(check.ReadUInt32(), 0u);
    EXPECT_EQ(check.ReadUInt32(), 1u);
    EXPECT_EQ(check.ReadUInt32(), 0u);

    // A rag doll keeps its pose.
    GraphicsAnim* walk = Anim(CharacterGenerator::walkAnimation);
    ASSERT_NE(walk, nullptr);
    Actor* fallen = Make(kCharacter);
    ASSERT_NE(fallen, nullptr);
    engine->GetResourceLoader()->LoadResource(fallen->GetMeshInstance()->GetMesh());
    fallen->PlayAnimation(0, walk, true, 1.0f, 0);
    fallen->Update(250);
    fallen->StopAnimations();
    fallen->SetPhysicsType(PHYSICS_TYPE_RAG_DOLL);
    BinaryWriter saved(1024);
    fallen->SaveState(saved);
    ASSERT_GT(saved.GetSize(), 12u);

    Actor* restored = Make(kCharacter);
    ASSERT_NE(restored, nullptr);
    BinaryReader reader(saved.GetBuffer(), saved.GetSize());
    restored->RestoreState(reader);
    EXPECT_FALSE(reader.Failed());
    EXPECT_EQ(reader.GetRemaining(), 0u);
    ASSERT_TRUE(restored->GetPoseRestored());
    const Name thigh = Name::Create("LeftThigh");
    EXPECT_TRUE(Near(restored->GetMeshInstance()->GetSkeletalPose().GetBoneCoords(thigh).yAxis,
                     fallen->GetMeshInstance()->GetSkeletalPose().GetBoneCoords(thigh).yAxis, 0.02f));
    // Restored once, an actor of type 2 goes on saving its pose.
    BinaryWriter again(1024);
    restored->SaveState(again);
    EXPECT_EQ(again.GetSize(), saved.GetSize());

    // A pose cut short is not taken as restored.
    Actor* cut = Make(kCharacter);
    ASSERT_NE(cut, nullptr);
    BinaryReader shortReader(saved.GetBuffer(), saved.GetSize() - 20);
    cut->RestoreState(shortReader);
    EXPECT_FALSE(cut->GetPoseRestored());
    EXPECT_TRUE(engine->Has("cut short"));
    for (Actor* actor : {fallen, restored, cut})
        ObjectManager::Get()->DestroyObjectEx(actor, __FILE__, __LINE__);
}

TEST_F(ActorTest, EnqueueRunsCommandsHereOrSendsThemToTheNetwork)
{
    StartWorld();
    auto* actor = ObjectManager::Get()->CreateObjectFromFileAs<ActorTestQueue>("records/actor/queue.dbr");
    ASSERT_NE(actor, nullptr);
    EXPECT_TRUE(actor->Enqueue(new ActorTestCommand(actor->GetObjectId(), true)));
    EXPECT_EQ(actor->local, 1) << "no network: run here";
    EXPECT_EQ(g_executed, 1);

    engine->SetAsNetworkClient();
    NetworkShim* shim = engine->GetNetworkShim();
    ASSERT_NE(shim, nullptr);
    shim->SetNetworkStats(true);
    EXPECT_TRUE(actor->Enqueue(new ActorTestCommand(actor->GetObjectId(), false)));
    EXPECT_EQ(actor->local, 2) << "a command without network support runs here";
    EXPECT_TRUE(actor->Enqueue(new ActorTestCommand(actor->GetObjectId(), true)));
    EXPECT_EQ(actor->local, 2) << "sent, not run";
    EXPECT_EQ(g_executed, 2);
    EXPECT_EQ(shim->GetPacketCount(42), 1u);
    EXPECT_EQ(g_alive, 0);
    engine->SetAsNetworkStub();
    ObjectManager::Get()->DestroyObjectEx(actor, __FILE__, __LINE__);
}

TEST_F(ActorTest, DrawingWaitsForAnUpdateAndRespectsFlagsShadowsAndDissolves)
{
    StartWorld();
    Actor* character = Place(kCharacter, Coords::Translation(Vec3(3.0f, 0.0f, 3.0f)));
    Actor* crate = Place(kCrate, Coords::Translation(Vec3(6.0f, 0.0f, 3.0f)));
    ASSERT_TRUE(character && crate);
    character->Update(16);
    crate->Update(16);
    auto drawn = [&](Actor* actor, bool shadowOnly, uint32_t flags) {
        PlainSceneRenderer renderer;
        renderer.shadowOnly = shadowOnly;
        renderer.SetRenderFlags(flags);
        Enter(renderer);
        actor->AddToScene(renderer, nullptr);
        return renderer.GetRenderables().size();
    };
    const uint32_t all = GraphicsSceneRenderer::defaultRenderFlags;
    EXPECT_EQ(drawn(character, false, all), 1u);
    EXPECT_EQ(drawn(character, false, all & ~GraphicsSceneRenderer::RENDER_MESHES), 0u);
    EXPECT_EQ(drawn(character, true, all), 1u);
    EXPECT_EQ(drawn(crate, true, all), 0u) << "the crate casts no shadows";
    EXPECT_EQ(drawn(crate, false, all), 1u);

    // Shown again, drawn only after an update.
    character->SetVisibility(false);
    EXPECT_EQ(drawn(character, false, all), 0u);
    character->SetVisibility(true);
    EXPECT_EQ(drawn(character, false, all), 0u);
    character->Update(16);
    EXPECT_EQ(drawn(character, false, all), 1u);

    // The tint and highlight reach the instance.
    character->SetTintColor(Color(1.0f, 0.5f, 0.25f, 1.0f));
    character->SetHighlight(true);
    drawn(character, false, all);
    EXPECT_EQ(character->GetMeshInstance()->GetDiffuseColor(), Color(1.0f, 0.5f, 0.25f, 1.0f));
    EXPECT_FLOAT_EQ(character->GetMeshInstance()->GetHighlight(), 0.6f);

    // Wholly dissolved: no longer visible.
    character->GetMeshInstance()->BeginDissolve(255, 0, 0, 0.0f, nullptr);
    character->Update(16);
    EXPECT_FALSE(character->GetVisibility());
    EXPECT_EQ(drawn(character, false, all), 0u);

    // Sounds: too short a name is ignored; others are placed at the actor.
    character->PlaySound(SoundDescriptor("x"), true);
    EXPECT_TRUE(character->GetLastSound().GetFileName().empty());
    character->PlaySound(SoundDescriptor("Sounds/None.wav"), true);
    EXPECT_TRUE(character->GetLastSoundFlag());
    EXPECT_TRUE(Near(character->GetLastSound().GetPosition().GetRegionPosition(), Vec3(3.0f, 0.0f, 3.0f)));
}

TEST_F(ActorTest, AFallingRagDollPosesTheBonesItCarries)
{
    StartWorld();
    PhysicsEngine* physics = engine->GetPhysicsEngine();
    ASSERT_TRUE(physics && physics->IsSimulating());
    Actor* body = Place(kCharacter, Coords::Translation(Vec3(20.0f, 5.0f, 20.0f)));
    ASSERT_NE(body, nullptr);
    body->Update(16);
    body->SetPhysicsType(PHYSICS_TYPE_RAG_DOLL);
    const auto* ragDoll = dynamic_cast<const PhysicsRagDoll*>(body->GetPhysicsObject());
    ASSERT_NE(ragDoll, nullptr);
    EXPECT_EQ(ragDoll->GetNumBodies(), 4);
    ASSERT_TRUE(ragDoll->IsInSimulation());

    // The walk bends the thigh; the rag doll puts it back where its body is.
    GraphicsAnim* walk = Anim(CharacterGenerator::walkAnimation);
    ASSERT_NE(walk, nullptr);
    body->PlayAnimation(0, walk, true, 1.0f, 0);
    body->Update(250);
    const GraphicsMesh& mesh = *body->GetLoadedMesh();
    const SkeletalPose& pose = body->GetMeshInstance()->GetSkeletalPose();
    for (const char* name : {"LeftThigh", "Pelvis", "Head"}) {
        SCOPED_TRACE(name);
        Coords carried;
        ASSERT_TRUE(ragDoll->GetBoneCoords(Name::Create(name), carried));
        const Coords posed = mesh.GetAbsCoords(pose, Name::Create(name));
        EXPECT_TRUE(Near(posed.origin, carried.origin, 1e-3f));
        EXPECT_TRUE(Near(posed.yAxis, carried.yAxis, 0.02f));
    }
    // A bone no body carries keeps its place below its parent.
    const Name foot = Name::Create("LeftFoot");
    const Name calf = Name::Create("LeftCalf");
    ASSERT_GE(mesh.GetBoneIndex(foot), 0);
    const Coords below = mesh.GetAbsCoords(pose, calf).Inverse() * mesh.GetAbsCoords(pose, foot);
    const GraphicsMesh::Bone& footBone = mesh.GetBone(static_cast<uint32_t>(mesh.GetBoneIndex(foot)));
    EXPECT_TRUE(Near(below.origin, (footBone.relativeCoords * pose.GetBoneCoords(foot)).origin, 1e-3f));
    body->StopAnimations();
    physics->RemoveEntityFromSimulation(body);
}

TEST_F(ActorTest, EffectsReadTheBonesOfTheirParentActorInRegionSpace)
{
    StartWorld();
    Actor* actor = Place(kCharacter, Turned(0.7f, Vec3(12.0f, 0.0f, 8.0f)));
    ASSERT_NE(actor, nullptr);
    actor->Update(16);
    auto* all = ObjectManager::Get()->CreateObjectFromFileAs<EffectEntity>("records/actor/bones.dbr");
    auto* named = ObjectManager::Get()->CreateObjectFromFileAs<EffectEntity>("records/actor/named.dbr");
    ASSERT_TRUE(all && named);
    std::vector<EmitterBone> bones;
    EXPECT_FALSE(all->PullParentBones(bones)) << "no parent yet";

    actor->Attach(all, Coords(), "");
    actor->Attach(named, Coords(), "");
    ASSERT_TRUE(all->PullParentBones(bones));
    EXPECT_EQ(bones.size(), CharacterGenerator::Skeleton().size() - 1) << "every bone but the root";
    bones.clear();
    ASSERT_TRUE(named->PullParentBones(bones));
    ASSERT_EQ(bones.size(), 1u) << "the bone the mesh lacks is skipped";
    const Vec3 head = actor->GetBoneCoords(Name::Create("Head")).GetOrigin().GetRegionPosition();
    const Vec3 neck = actor->GetBoneCoords(Name::Create("Neck")).GetOrigin().GetRegionPosition();
    EXPECT_TRUE(Near(bones[0].end, head, 1e-4f));
    EXPECT_TRUE(Near(bones[0].start, neck, 1e-4f));
    EXPECT_NEAR(bones[0].lengthWeight, (head - neck).Length(), 1e-4f);
    EXPECT_TRUE(bones[0].emitting);
    EXPECT_GT(head.y, 1.0f);
}

TEST_F(ActorTest, AnEffectOnTheCharacterEmitsFromItsBoneWhereverTheCharacterGoes)
{
    WorldTest::TestEmitterGraphics graphics;
    StartWorld();
    Actor* actor = Place(kCharacter, Turned(0.7f, Vec3(12.0f, 0.0f, 8.0f)));
    ASSERT_NE(actor, nullptr);
    auto* glow = ObjectManager::Get()->CreateObjectFromFileAs<EffectEntity>("records/actor/headglow.dbr");
    ASSERT_NE(glow, nullptr);
    ASSERT_NE(glow->GetEffectResource(), nullptr);
    engine->GetResourceLoader()->LoadResource(glow->GetEffectResource());
    actor->Attach(glow, Coords(), "");
    auto run = [&](int frames) {
        for (int i = 0; i < frames; ++i) {
            clock.Advance(50);
            UpdateTime();
            actor->Update(50);
            if (Effect* effect = glow->GetEffect())
                for (int k = 0; k < effect->GetNumEmitters(); ++k)
                    WorldTest::MarkDrawn(*effect->GetEmitter(k));
        }
    };
    // Every particle younger than the given age lies on the bone from the neck to the head, as
    // the bone stands now; returns how many were looked at.
    auto onTheHead = [&](float youngerThan) {
        const Vec3 head = actor->GetBoneCoords(Name::Create("Head")).GetOrigin().GetRegionPosition();
        const Vec3 neck = actor->GetBoneCoords(Name::Create("Neck")).GetOrigin().GetRegionPosition();
        EXPECT_GT((head - actor->GetCoords().GetOrigin().GetRegionPosition()).Length(), 1.0f);
        int looked = 0;
        const Emitter& emitter = *glow->GetEffect()->GetEmitter(0);
        for (int i = 0; i < emitter.GetNumParticles(); ++i) {
            const Particle& p = emitter.GetParticle(i);
            if (p.age >= youngerThan)
                continue;
            ++looked;
            const Vec3 on = ClosestPointOnSegment(neck, head, p.position);
            EXPECT_LT((p.position - on).Length(), 0.01f)
                << "particle " << i << " at (" << p.position.x << ", " << p.position.y << ", " << p.position.z
                << ")";
        }
        return looked;
    };

    run(20);
    ASSERT_NE(glow->GetEffect(), nullptr);
    ASSERT_EQ(glow->GetEffect()->GetNumEmitters(), 1);
    EXPECT_TRUE(glow->GetEffect()->GetEmitter(0)->IsLocal()) << "bone particles live in region space";
    EXPECT_GT(onTheHead(100.0f), 50);

    // Moved and turned: the particles made since start from the head where it is now.
    level->MoveEntity(actor, Turned(-1.2f, Vec3(30.0f, 0.0f, 25.0f)));
    run(10);
    EXPECT_GT(onTheHead(0.52f), 30);
    // Gone before the test's emitter graphics are.
    actor->Detach(glow);
    ObjectManager::Get()->DestroyObjectEx(glow, __FILE__, __LINE__);
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

TEST_F(ActorTest, TheShadowFocusClosesAtTheNearestVisibleCastingActor)
{
    StartWorld();
    Actor* near = Place(kCharacter, Coords::Translation(Vec3(10.0f, 0.0f, 10.0f)));
    Actor* high = Place(kCharacter, Coords::Translation(Vec3(12.0f, 6.0f, 10.0f)));
    Actor* crate = Place(kCrate, Coords::Translation(Vec3(14.0f, 12.0f, 10.0f)));
    ASSERT_TRUE(near && high && crate);
    for (Actor* actor : {near, high, crate})
        actor->Update(16);

    // Light from straight above (its frame faces the sun; the light travels along its -z): the
    // plane closes at the highest caster's top.
    GraphicsLight sun;
    sun.SetType(GraphicsLight::TYPE_DIRECTIONAL);
    sun.SetObjectToWorldCoords(
        WorldCoords(region, Coords::LookInDirection(Vec3(), Vec3(0.0f, 1.0f, 0.0f), Vec3(1.0f, 0.0f, 0.0f))));
    GraphicsShadowMap map(sun, region);
    RenderablePass pass;
    pass.bounds = ABBox(Vec3(10.0f, 1.0f, 10.0f), Vec3(20.0f, 1.0f, 20.0f));
    ASSERT_TRUE(map.AddSurface(pass));
    const Vec3 d = map.GetLightFrame().zAxis;
    ASSERT_TRUE(Near(d, Vec3(0.0f, -1.0f, 0.0f)));
    auto closing = [&](const std::vector<Entity*>& entities) {
        Frustum volume;
        map.CloseAtNearestCaster(volume, entities);
        EXPECT_EQ(volume.GetNumPlanes(), 1u);
        return volume.GetNumPlanes() ? volume.planes[0] : Plane();
    };
    const ABBox top = high->GetRegionBoundingBox();
    const float expected =
        Vec3::Dot(d, top.center) -
        (std::fabs(d.x) * top.extents.x + std::fabs(d.y) * top.extents.y + std::fabs(d.z) * top.extents.z);
    const Plane plane = closing({near, high, crate});
    EXPECT_TRUE(Near(plane.normal, d));
    EXPECT_NEAR(plane.d, -expected, 1e-4f) << "the crate casts no shadows; the high actor is nearest";

    // Hidden, it no longer counts; without casters the scene box closes the volume.
    high->SetVisibility(false);
    const ABBox low = near->GetRegionBoundingBox();
    EXPECT_NEAR(closing({near, high, crate}).d, -(Vec3::Dot(d, low.center) - std::fabs(d.y) * low.extents.y),
                1e-3f);
    EXPECT_NEAR(closing({crate}).d, -(Vec3::Dot(d, Vec3(10.0f, 1.0f, 10.0f)) - std::fabs(d.y) * 1.0f), 1e-3f);
}

} // namespace
} // namespace GAME
