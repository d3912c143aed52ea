#include "core/ObjectManager.h"
#include "data/LoadTable.h"
#include "data/LoadTableResources.h"
#include "common/LogCapture.h"
#include "common/RecordServices.h"
#include "common/TempDir.h"
#include "core/EntityDestroyHook.h"
#include "core/LocalHostIdProvider.h"
#include "datakit/ArzWriter.h"

#include <climits>
#include <gtest/gtest.h>
#include <set>

namespace GAME {
namespace {

class OmThing : public Object
{
    GAME_DECLARE_CLASS(OmThing)

public:
    OmThing() { s_live.insert(this); }
    ~OmThing() override
    {
        s_live.erase(this);
        s_deleted.push_back(GetObjectId());
        if (destroyAgain)
            ObjectManager::Get()->DestroyObjectEx(this, __FILE__, __LINE__);
        if (partner)
            ObjectManager::Get()->DestroyObjectEx(partner, __FILE__, __LINE__);
    }
    void Load(const LoadTable& table) override { hp = const_cast<LoadTable&>(table).GetInt("hp", -1); }

    int hp = -1;
    Object* partner = nullptr;
    bool destroyAgain = false;

    static inline std::set<OmThing*> s_live;
    static inline std::vector<unsigned int> s_deleted;
};

class OmEntity : public OmThing
{
    GAME_DECLARE_CLASS(OmEntity)

public:
    std::vector<Object*> attached;
    int onDestroyCalls = 0;
};

GAME_REGISTER_CLASS(OmThing, Object)
GAME_REGISTER_CLASS(OmEntity, OmThing)

class Host : public LocalHostIdProvider
{
public:
    int GetLocalHostID() override { return id; }
    bool IdsMayBeTaken() override { return taken; }
    int id = 0;
    bool taken = false;
};

class Hook : public EntityDestroyHook
{
public:
    bool IsEntity(const Object* object) override
    {
        return object->GetClassInfo().IsA(OmEntity::GetStaticClassInfo());
    }
    void OnDestroy(Object* entity) override { ++static_cast<OmEntity*>(entity)->onDestroyCalls; }
    unsigned GetNumAttachedEntities(Object* entity) override
    {
        return static_cast<unsigned>(static_cast<OmEntity*>(entity)->attached.size());
    }
    Object* DetachAttachedEntity(Object* entity, unsigned index) override
    {
        Object*& slot = static_cast<OmEntity*>(entity)->attached[index];
        Object* child = slot;
        slot = nullptr;
        return child;
    }
};

class ObjectManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DataKit::ArzWriter writer(true);
        writer.AddRecord("records\\thing.dbr").String("Class", "OmThing").Int("hp", 7);
        writer.AddRecord("records\\entity.dbr").String("Class", "OmEntity").Int("hp", 3);
        writer.AddRecord("records\\b.dbr").String("Class", "OmThing");
        writer.AddRecord("records\\noclass.dbr").Int("hp", 1);
        writer.AddRecord("records\\unknown.dbr").String("Class", "NoSuchClass");
        ASSERT_TRUE(services.Load(writer.Build()));
        ObjectManager::Destroy();
        manager = ObjectManager::Get();
        OmThing::s_deleted.clear();
    }

    void TearDown() override
    {
        std::set<OmThing*> live = OmThing::s_live;
        for (OmThing* object : live)
            manager->DestroyObjectEx(object, __FILE__, __LINE__);
        manager->DestroyPendingObjects(UINT_MAX);
        ObjectManager::SetLocalHostIdProvider(nullptr);
        ObjectManager::SetEntityDestroyHook(nullptr);
        ObjectManager::Destroy();
        EXPECT_TRUE(OmThing::s_live.empty());
    }

    OmThing* Make(const char* record = "records\\thing.dbr", unsigned int id = 0)
    {
        return static_cast<OmThing*>(manager->CreateObjectFromFile(record, id, true));
    }

    GAME::Test::RecordServices services;
    ObjectManager* manager = nullptr;
};

TEST_F(ObjectManagerTest, CreatesObjectsFromRecordsAndFindsThemByIdAndName)
{
    OmThing* a = Make();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->GetObjectId(), 1u);
    EXPECT_EQ(a->hp, 7);
    EXPECT_EQ(a->GetObjectName(), "records\\thing.dbr");
    OmThing* b = Make();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->GetObjectId(), 2u);
    EXPECT_EQ(manager->GetObject(1), a);
    EXPECT_EQ(manager->GetObject(2), b);
    EXPECT_EQ(manager->GetObjectByName("records\\thing.dbr"), a); // the first of the name
    EXPECT_EQ(manager->LoadTableFile("records\\thing.dbr"), manager->GetLoadTable("records\\thing.dbr"));

    auto* unloaded = static_cast<OmThing*>(manager->CreateObjectFromFile("records\\thing.dbr", 0, false));
    ASSERT_NE(unloaded, nullptr);
    EXPECT_EQ(unloaded->hp, -1);

    GAME::Test::LogCapture log;
    EXPECT_EQ(manager->CreateObjectFromFile("records\\noclass.dbr"), nullptr);
    EXPECT_EQ(manager->CreateObjectFromFile("records\\unknown.dbr"), nullptr);
    EXPECT_EQ(manager->CreateObjectFromFile("records\\nothing.dbr"), nullptr);

    // The typed form keeps only objects of the wanted class, destroying the others again.
    EXPECT_EQ(manager->CreateObjectFromFileAs<OmEntity>("records\\thing.dbr"), nullptr);
    EXPECT_EQ(manager->GetNumDeletedObjects(), 1u);
    OmThing* entity = manager->CreateObjectFromFileAs<OmThing>("records\\entity.dbr");
    ASSERT_NE(entity, nullptr);
    EXPECT_EQ(entity->hp, 3);

    // An id in use is not taken over: the newcomer is not entered, and destroying it leaves
    // the first object's entries alone.
    OmThing* twin = Make("records\\b.dbr", 2);
    ASSERT_NE(twin, nullptr);
    EXPECT_EQ(manager->GetObject(2), b);
    EXPECT_EQ(manager->GetObjectByName("records\\b.dbr"), twin);
    manager->DestroyObjectEx(twin, __FILE__, __LINE__);
    EXPECT_EQ(manager->GetObject(2), b);
    EXPECT_EQ(manager->GetObjectByName("records\\b.dbr"), nullptr);
    // Destroying the first of a name leaves the next one findable.
    manager->DestroyObjectEx(a, __FILE__, __LINE__);
    EXPECT_EQ(manager->GetObjectByName("records\\thing.dbr"), b);
    EXPECT_EQ(manager->GetObject(1), nullptr);
    // An object renamed after it was entered leaves the table under the name it was entered with
    // when destroyed: nothing of it stays behind to be found.
    OmThing* renamed = Make();
    ASSERT_NE(renamed, nullptr);
    renamed->SetObjectName("records\\renamed.dbr");
    manager->DestroyObjectEx(b, __FILE__, __LINE__);
    manager->DestroyObjectEx(unloaded, __FILE__, __LINE__);
    manager->DestroyObjectEx(renamed, __FILE__, __LINE__);
    manager->DestroyPendingObjects(UINT_MAX);
    EXPECT_EQ(manager->GetObjectByName("records\\thing.dbr"), nullptr);

    // Partial creation: no id, no entries, no data until it is finished.
    auto* partial = static_cast<OmThing*>(manager->CreateObjectFromFilePartial("records\\entity.dbr"));
    ASSERT_NE(partial, nullptr);
    EXPECT_EQ(partial->GetObjectId(), 0u);
    EXPECT_EQ(partial->hp, -1);
    EXPECT_EQ(manager->GetObjectByName("records\\entity.dbr"), entity);
    manager->FinishCreateObjectFromFilePartial(partial, 77);
    EXPECT_EQ(manager->GetObject(77), partial);
    EXPECT_EQ(partial->hp, 3);
    auto* orphan = static_cast<OmThing*>(manager->CreateObjectFromFilePartial("records\\thing.dbr"));
    ASSERT_NE(orphan, nullptr);
    orphan->SetObjectName("records\\gone.dbr");
    log.Clear();
    manager->FinishCreateObjectFromFilePartial(orphan, 78);
    EXPECT_TRUE(log.Contains("Unable to finish object creation (records\\gone.dbr).", 1));
    EXPECT_EQ(orphan->GetObjectId(), 0u);
    EXPECT_EQ(manager->GetObject(78), nullptr);
    EXPECT_FALSE(manager->LoadObjectData(orphan));
    EXPECT_TRUE(manager->LoadObjectData(entity));
}

TEST_F(ObjectManagerTest, IdsCarryTheHostAndSkipLiveIdsOnceTheCounterWraps)
{
    Host host;
    ObjectManager::SetLocalHostIdProvider(&host);
    host.id = 3;
    OmThing* first = Make();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetObjectId(), (3u << 28) | 1u);

    GAME::Test::LogCapture log;
    host.id = -1; // not known yet
    EXPECT_EQ(manager->CreateObjectFromFile("records\\thing.dbr"), nullptr);
    EXPECT_TRUE(log.Contains("Unable to spawn object \"records\\thing.dbr\".", 1));
    host.id = 16;
    EXPECT_EQ(manager->CreateObjectID(), 0u);

    host.id = 0;
    ASSERT_NE(Make(), nullptr); // id 2
    ASSERT_NE(Make("records\\thing.dbr", 1), nullptr);
    ASSERT_NE(Make("records\\thing.dbr", (2u << 28) | 0u), nullptr);
    manager->SetIdCounter(0x0FFFFFFE);
    EXPECT_EQ(manager->CreateObjectID(), 0x0FFFFFFEu);
    // Wrapped: 0 is never handed out, and 1 and 2 are in use.
    EXPECT_EQ(manager->CreateObjectID(), 3u);
    EXPECT_EQ(manager->CreateObjectID(), 4u); // asked again before entering: another id
    // Host 2: its own id 0 is taken; host 0's id 1 does not stand in the way of its id 1.
    host.id = 2;
    manager->SetIdCounter(0);
    EXPECT_EQ(manager->CreateObjectID(), (2u << 28) | 1u);
    host.id = 3;
    manager->SetIdCounter(1);
    EXPECT_EQ(manager->CreateObjectID(), (3u << 28) | 2u);
}

// A game that goes on after a session holds objects others numbered under its host id: while the
// provider says so, live ids are skipped before the counter wraps too.
TEST_F(ObjectManagerTest, IdsSkipLiveOnesBeforeTheWrapWhileTheHostSaysTheyMayBeTaken)
{
    Host host;
    ObjectManager::SetLocalHostIdProvider(&host);
    host.id = 1;
    ASSERT_NE(Make("records\\thing.dbr", (1u << 28) | 2u), nullptr);
    ASSERT_NE(Make("records\\thing.dbr", (1u << 28) | 3u), nullptr);
    ASSERT_NE(Make("records\\thing.dbr", (2u << 28) | 4u), nullptr); // another host's: no obstacle
    EXPECT_EQ(manager->CreateObjectID(), (1u << 28) | 1u);
    host.taken = true;
    EXPECT_EQ(manager->CreateObjectID(), (1u << 28) | 4u);
    EXPECT_EQ(manager->CreateObjectID(), (1u << 28) | 5u); // asked again before entering: another id
    // That search going past the top of the counter wraps it for good: live ids stay skipped.
    manager->SetIdCounter(0x0FFFFFFE);
    EXPECT_EQ(manager->CreateObjectID(), (1u << 28) | 0x0FFFFFFEu);
    host.taken = false;
    manager->SetIdCounter(2);
    EXPECT_EQ(manager->CreateObjectID(), (1u << 28) | 4u);

    // Joining a session under host 2 moves the game's own objects there. Counter bits are kept
    // where that id is free; host 2's id 4 is another object's, so ours takes a free one.
    OmThing* low = static_cast<OmThing*>(manager->GetObject((1u << 28) | 2u));
    OmThing* other = static_cast<OmThing*>(manager->GetObject((2u << 28) | 4u));
    OmThing* blocked = Make("records\\thing.dbr", (1u << 28) | 4u);
    ASSERT_TRUE(low && other && blocked);
    EXPECT_EQ(manager->RenumberHost(1, 2), 3u);
    EXPECT_EQ(low->GetObjectId(), (2u << 28) | 2u);
    EXPECT_EQ(blocked->GetObjectId() >> 28, 2u);
    EXPECT_NE(blocked->GetObjectId(), other->GetObjectId());
    EXPECT_EQ(manager->GetObject(blocked->GetObjectId()), blocked);
    EXPECT_EQ(manager->GetObject((2u << 28) | 4u), other);
    EXPECT_EQ(manager->GetRenumberedId((1u << 28) | 4u, 0), blocked->GetObjectId());

    // A later join under host 3 moves them again, with the objects made under host 2 in between;
    // an id kept before either renumbering goes through both. Host 1's id 2, taken after the first
    // by another client's object, stays that object's for ids kept since.
    host.id = 2;
    OmThing* later = Make();
    OmThing* theirs = Make("records\\thing.dbr", (1u << 28) | 2u);
    ASSERT_TRUE(later && theirs);
    const unsigned int laterId = later->GetObjectId();
    manager->RenumberHost(2, 3);
    EXPECT_EQ(manager->GetRenumberCount(), 2u);
    EXPECT_EQ(later->GetObjectId() >> 28, 3u);
    EXPECT_EQ(manager->GetRenumberedId(laterId, 1), later->GetObjectId());
    EXPECT_EQ(manager->GetRenumberedId((1u << 28) | 2u, 0), low->GetObjectId());
    EXPECT_EQ(manager->GetRenumberedId((1u << 28) | 4u, 0), blocked->GetObjectId());
    EXPECT_EQ(manager->GetRenumberedId((1u << 28) | 2u, 1), theirs->GetObjectId());
    // A kept id under host 1 whose object was gone at the first renumbering is to take a new one.
    EXPECT_EQ(manager->GetRenumberedId((1u << 28) | 9u, 0, true), 0u);
}

TEST_F(ObjectManagerTest, DestroysLateNewestFirstWithinTheAllowance)
{
    std::vector<OmThing*> objects;
    std::vector<unsigned int> ids;
    for (int i = 0; i < 50; ++i) {
        objects.push_back(Make());
        ids.push_back(objects.back()->GetObjectId());
    }
    EXPECT_EQ(manager->GetNumObjects(), 50u);
    for (OmThing* object : objects)
        manager->DestroyObjectEx(object, __FILE__, __LINE__);
    manager->DestroyObjectEx(objects[10], __FILE__, __LINE__); // queued once
    EXPECT_EQ(manager->GetNumDeletedObjects(), 50u);
    EXPECT_EQ(manager->GetNumObjects(), 0u);
    EXPECT_EQ(manager->GetObject(ids[0]), nullptr);
    EXPECT_TRUE(manager->IsObjectOnDeletedList(objects[0]));
    EXPECT_EQ(objects[0]->hp, 7); // still alive until deleted
    EXPECT_TRUE(OmThing::s_deleted.empty());

    manager->DestroyPendingObjects(20);
    EXPECT_EQ(OmThing::s_deleted, std::vector<unsigned int>(ids.begin() + 30, ids.end()));
    OmThing::s_deleted.clear();
    manager->DestroyPendingObjects(20);
    EXPECT_EQ(OmThing::s_deleted, std::vector<unsigned int>(ids.begin() + 10, ids.begin() + 30));
    EXPECT_EQ(manager->GetNumDeletedObjects(), 10u);
    manager->DestroyPendingObjects(UINT_MAX);
    EXPECT_EQ(manager->GetNumDeletedObjects(), 0u);
    EXPECT_FALSE(manager->IsObjectOnDeletedList(objects[0]));
}

TEST_F(ObjectManagerTest, DestructionMayQueueMoreObjectsAndEntitiesTakeTheirAttachments)
{
    // A destructor that queues a partner and itself again: the partner is deleted in the same call
    // while the allowance lasts, the object only once.
    OmThing* a = Make();
    OmThing* b = Make();
    OmThing* c = Make();
    OmThing* d = Make();
    a->partner = b;
    a->destroyAgain = true;
    c->partner = d;
    manager->DestroyObjectEx(a, __FILE__, __LINE__);
    manager->DestroyPendingObjects(2);
    EXPECT_EQ(OmThing::s_deleted, (std::vector<unsigned int>{1, 2}));
    manager->DestroyObjectEx(c, __FILE__, __LINE__);
    manager->DestroyPendingObjects(1);
    EXPECT_EQ(manager->GetNumDeletedObjects(), 1u); // d waits for the next frame
    EXPECT_TRUE(manager->IsObjectOnDeletedList(d));
    manager->DestroyPendingObjects(1);
    EXPECT_EQ(OmThing::s_deleted, (std::vector<unsigned int>{1, 2, 3, 4}));

    // Entities are told, and their attached entities are detached and queued after them.
    Hook hook;
    ObjectManager::SetEntityDestroyHook(&hook);
    auto* entity = static_cast<OmEntity*>(Make("records\\entity.dbr"));
    OmThing* first = Make();
    OmThing* second = Make();
    entity->attached = {first, nullptr, second};
    manager->DestroyObjectEx(entity, __FILE__, __LINE__);
    EXPECT_EQ(entity->onDestroyCalls, 1);
    EXPECT_EQ(entity->attached, (std::vector<Object*>{nullptr, nullptr, nullptr}));
    EXPECT_EQ(manager->GetNumDeletedObjects(), 3u);
    EXPECT_EQ(manager->GetObject(second->GetObjectId()), nullptr);
    OmThing::s_deleted.clear();
    const std::vector<unsigned int> order{entity->GetObjectId(), first->GetObjectId(), second->GetObjectId()};
    manager->DestroyPendingObjects(UINT_MAX);
    EXPECT_EQ(OmThing::s_deleted, order);
}

TEST_F(ObjectManagerTest, ListsAndReportsTheLiveObjects)
{
    GAME::Test::TempDir dir;
    ASSERT_TRUE(manager->DumpObjectList(dir.File("empty.txt").c_str()));
    EXPECT_EQ(dir.Read("empty.txt"), "");

    Make("records\\thing.dbr");
    Make("records\\b.dbr");
    Make("records\\entity.dbr");
    ASSERT_TRUE(manager->DumpObjectList(dir.File("objects.txt").c_str()));
    EXPECT_EQ(dir.Read("objects.txt"), "records\\b.dbr\nrecords\\entity.dbr\nrecords\\thing.dbr\n");
    EXPECT_FALSE(manager->DumpObjectList(dir.File("no/such/folder/objects.txt").c_str()));

    GAME::Test::LogCapture log;
    manager->LogLeakedObjects();
    EXPECT_EQ(log.Count(), 3u);
    EXPECT_TRUE(log.Contains("Object not destroyed \"records\\b.dbr\"", 0));
}

} // namespace
} // namespace GAME

namespace GAME {
namespace {

class RecordingResources : public LoadTableResources
{
public:
    GraphicsMesh* LoadMesh(const std::string& file) override { return Note("mesh", file); }
    GraphicsTexture* LoadTexture(const std::string& file) override { return Note("texture", file); }
    GraphicsShader2* LoadShader2(const std::string& file) override { return Note("shader", file); }
    GraphicsAnim* LoadAnimation(const std::string& file) override { return Note("anim", file); }
    EffectResource* LoadResourceEffect(const std::string& file) override { return Note("effect", file); }

    std::vector<std::string> loads;

private:
    std::nullptr_t Note(const char* kind, const std::string& file)
    {
        loads.push_back(std::string(kind) + ":" + file);
        return nullptr;
    }
};

TEST_F(ObjectManagerTest, TablesCreateObjectsAndLoadResourcesNamedByTheirFields)
{
    LoadTable table;
    std::string text = "child,records\\thing.dbr,\nnone,,\nmeshes,a.msh;;c.msh,\ntex,t.tex,\nfx,f.fx,\nanim,w.anm,\n";
    TextParser parser(text.data(), text.size());
    table.Deserialize(parser);

    Object* child = table.CreateObjectFromProperty("child");
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->GetObjectName(), "records\\thing.dbr");
    EXPECT_EQ(manager->GetObject(child->GetObjectId()), child);
    EXPECT_EQ(table.CreateObjectFromProperty("none"), nullptr);
    EXPECT_EQ(table.CreateObjectFromProperty("missing"), nullptr);
    EXPECT_EQ(LoadTable::CreateObjectFromFile("records\\unknown.dbr"), nullptr);

    // Without an installer nothing loads; with one, empty elements are skipped.
    EXPECT_EQ(table.LoadMesh("meshes", 0), nullptr);
    RecordingResources resources;
    LoadTableResources::Install(&resources);
    table.LoadMesh("meshes", 0);
    table.LoadMesh("meshes", 1);
    table.LoadMesh("meshes", 5); // past the end: the last element
    table.LoadTexture("tex");
    table.LoadResourceEffect("fx");
    table.LoadAnimation("anim");
    table.LoadShader2("missing");
    LoadTableResources::Install(nullptr);
    EXPECT_EQ(resources.loads,
              (std::vector<std::string>{"mesh:a.msh", "mesh:c.msh", "texture:t.tex", "effect:f.fx", "anim:w.anm"}));
}

} // namespace
} // namespace GAME
