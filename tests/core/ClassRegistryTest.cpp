#include "core/Object.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <new>

namespace GAME {
namespace {

class RegActor : public Object
{
    GAME_DECLARE_CLASS(RegActor)
public:
    ~RegActor() override = default;
};

class RegHero : public RegActor
{
    GAME_DECLARE_CLASS(RegHero)
public:
    ~RegHero() override = default;
};

// Object is not the first base here, so its part does not sit at the start of the object.
struct RegPayload
{
    virtual ~RegPayload() = default;
    double values[3] = {1, 2, 3};
};

class RegMixed : public RegPayload, public Object
{
    GAME_DECLARE_CLASS(RegMixed)
public:
    ~RegMixed() override = default;
};

// A second root, like the terrain objects.
class RegTerrainObject
{
    GAME_DECLARE_ROOT_CLASS(RegTerrainObject)
public:
    virtual ~RegTerrainObject() = default;
};

class RegTerrainTile : public RegTerrainObject
{
    GAME_DECLARE_CLASS(RegTerrainTile)
};

GAME_REGISTER_CLASS(RegActor, Object)
GAME_REGISTER_CLASS(RegHero, RegActor)
GAME_REGISTER_CLASS(RegMixed, Object)
GAME_REGISTER_ROOT_CLASS(RegTerrainObject)
GAME_REGISTER_CLASS(RegTerrainTile, RegTerrainObject)

struct DeleteObject
{
    void operator()(Object* object) const { delete dynamic_cast<RegActor*>(object); }
};

Object* Create(const char* className)
{
    return static_cast<Object*>(Object::classInfo.CreateInstance(className));
}

TEST(ClassRegistry, IsAWalksTheParentChain)
{
    const RTTI_ClassInfo& hero = RegHero::GetStaticClassInfo();
    EXPECT_TRUE(hero.IsA(RegHero::classInfo));
    EXPECT_TRUE(hero.IsA(RegActor::classInfo));
    EXPECT_TRUE(hero.IsA(Object::classInfo));
    EXPECT_FALSE(hero.IsA(RegMixed::classInfo));
    EXPECT_FALSE(RegActor::classInfo.IsA(RegHero::classInfo));
    EXPECT_FALSE(RegTerrainTile::classInfo.IsA(Object::classInfo));

    // Same class name, different record: the same class.
    RTTI_ClassInfo lookalike("RegActor", nullptr, nullptr);
    EXPECT_TRUE(hero.IsA(lookalike));
    EXPECT_FALSE(RegMixed::classInfo.IsA(lookalike));
}

TEST(ClassRegistry, CreatesByNameAndAnswersTheDynamicClass)
{
    std::unique_ptr<Object, DeleteObject> hero(Create("RegHero"));
    ASSERT_NE(hero, nullptr);
    EXPECT_EQ(&hero->GetClassInfo(), &RegHero::classInfo);
    EXPECT_NE(dynamic_cast<RegHero*>(hero.get()), nullptr);
    EXPECT_TRUE(hero->GetClassInfo().IsA(RegActor::GetStaticClassInfo()));

    EXPECT_EQ(Create("NoSuchClass"), nullptr);
    EXPECT_EQ(Create("reghero"), nullptr); // names are case-sensitive
    EXPECT_EQ(Create(nullptr), nullptr);
    // Classes under the other root are not reached from Object.
    EXPECT_EQ(Create("RegTerrainTile"), nullptr);
    auto* tile = static_cast<RegTerrainObject*>(RegTerrainObject::classInfo.CreateInstance("RegTerrainTile"));
    ASSERT_NE(tile, nullptr);
    EXPECT_STREQ(tile->GetClassInfo().GetClassName(), "RegTerrainTile");
    delete tile;
}

TEST(ClassRegistry, FactoryResultPointsAtTheRootPartWithSeveralBases)
{
    Object* object = Create("RegMixed");
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(&object->GetClassInfo(), &RegMixed::classInfo);
    auto* mixed = dynamic_cast<RegMixed*>(object);
    ASSERT_NE(mixed, nullptr);
    EXPECT_EQ(mixed->values[2], 3.0);
    delete mixed;
}

int g_factoryTag = 0;
void* FactoryOne()
{
    g_factoryTag = 1;
    return new RegActor;
}
void* FactoryTwo()
{
    g_factoryTag = 2;
    return new RegActor;
}

TEST(ClassRegistry, ChildRegisteredBeforeItsParentIsFoundAndCounted)
{
    // The parent's storage holds garbage while its children register, as static storage may once
    // the compiler drops zero-initialisation it can prove is overwritten.
    alignas(RTTI_ClassInfo) unsigned char parentStorage[sizeof(RTTI_ClassInfo)];
    std::memset(parentStorage, 0xCD, sizeof(parentStorage));
    auto* parent = reinterpret_cast<RTTI_ClassInfo*>(parentStorage);

    auto* first = new RTTI_ClassInfo("EarlyChildA", parent, &FactoryOne);
    auto* second = new RTTI_ClassInfo("EarlyChildB", parent, &FactoryTwo);
    new (parentStorage) RTTI_ClassInfo("LateParent", &Object::classInfo, nullptr);

    EXPECT_EQ(parent->GetNumChildren(), 2);
    EXPECT_EQ(parent->GetChild(0), first);
    EXPECT_EQ(parent->GetChild(1), second);
    EXPECT_EQ(parent->GetChild(2), nullptr);
    EXPECT_TRUE(second->IsA(Object::classInfo));

    std::unique_ptr<Object, DeleteObject> made(Create("EarlyChildB"));
    EXPECT_NE(made, nullptr);
    EXPECT_EQ(g_factoryTag, 2);
    // A class without a factory makes nothing.
    EXPECT_EQ(Create("LateParent"), nullptr);

    RTTI_ClassInfo stranger("Stranger", nullptr, nullptr);
    parent->RemoveChild(&stranger);
    EXPECT_EQ(parent->GetNumChildren(), 2);
    delete first;
    EXPECT_EQ(parent->GetNumChildren(), 1);
    EXPECT_EQ(parent->GetChild(0), second);
    delete second;
    EXPECT_EQ(parent->GetNumChildren(), 0);
    EXPECT_EQ(Create("EarlyChildB"), nullptr);
    parent->~RTTI_ClassInfo();
}

} // namespace
} // namespace GAME
