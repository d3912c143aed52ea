// Entities an animation creates at its create-entity points: an effect entity is made a
// self-deleting child (it leaves once its effect has played), any other entity is only attached.
#include "SceneFixtures.h"

#include "common/RecordServices.h"
#include "core/ObjectManager.h"
#include "datakit/AnimWriter.h"
#include "datakit/ArzWriter.h"
#include "scene/AnimChannel.h"
#include "scene/SkeletalPose.h"
#include "world/EffectEntity.h"
#include "world/Entity.h"

#include <climits>

namespace GAME::SceneTest {
namespace {

using AnimChannelEffectTest = SceneFixture;

TEST_F(AnimChannelEffectTest, AnimationCreatedEffectsDeleteThemselvesOtherEntitiesStay)
{
    GAME::Test::RecordServices records;
    DataKit::ArzWriter db(true);
    db.AddRecord("records/actor.dbr").String("Class", "Entity");
    db.AddRecord("records/spark.dbr").String("Class", "EffectEntity");
    db.AddRecord("records/rock.dbr").String("Class", "Entity");
    ASSERT_TRUE(records.Load(db.Build()));
    Entity::InstallHooks();
    Entity* actor = ObjectManager::Get()->CreateObjectFromFileAs<Entity>("records/actor.dbr");
    ASSERT_NE(actor, nullptr);

    DataKit::AnimWriter writer;
    writer.frameRate = 10;
    DataKit::AnimWriter::Track root{"Root", {}};
    root.keys.resize(6);
    writer.tracks = {root};
    writer.text = DataKit::AnimWriter::CreateEntityText(1, "records/spark.dbr", "Hand") +
                  DataKit::AnimWriter::CreateEntityText(2, "records/rock.dbr", "Hand") +
                  DataKit::AnimWriter::CreateEntityText(3, "records/missing.dbr", "Hand");
    GraphicsAnim* anim = LoadAnim("Anims/Cast.anm", writer.Write(2));
    ASSERT_EQ(anim->GetInitResult(), Resource::INIT_SUCCESS);

    AnimChannel channel;
    channel.SetEntity(0, actor);
    channel.PlayAnimation(anim, false, 1.0f, 0);
    SkeletalPose pose;
    Vec3 movement;
    for (int i = 0; i < 5; ++i)
        channel.Update(100, Name::Create("Root"), pose, movement, false);

    // The record that names nothing is skipped.
    ASSERT_EQ(actor->GetNumAttachedEntities(), 2);
    auto* spark = dynamic_cast<EffectEntity*>(actor->GetAttachedEntity(0));
    ASSERT_NE(spark, nullptr);
    EXPECT_TRUE(spark->GetSelfDeletingChild());
    Entity* rock = actor->GetAttachedEntity(1);
    ASSERT_NE(rock, nullptr);
    EXPECT_EQ(dynamic_cast<EffectEntity*>(rock), nullptr);

    ObjectManager::Get()->DestroyObjectEx(actor, __FILE__, __LINE__);
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    ObjectManager::Destroy();
}

} // namespace
} // namespace GAME::SceneTest
