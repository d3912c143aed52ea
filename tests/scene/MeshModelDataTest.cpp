#include "scene/MeshModelData.h"

#include <gtest/gtest.h>
#include <string>

namespace GAME {
namespace {

bool Parse(MeshModelData& data, const std::string& text)
{
    return data.ParseText(text.data(), text.size());
}

TEST(MeshModelDataTest, ReadsEveryBlockWithItsKeysAndDefaults)
{
    MeshModelData data;
    EXPECT_TRUE(Parse(data, ""));
    const std::string text = R"(
        // comments and stray tokens are skipped
        stray 12 ;
        CreateEntity { entity = "records/a.dbr" attach = "Hand" colour = red entity = "records/b.dbr" }
        SkeletonEmitterBones { Head "Left Hand" }
        AttachPoint
        {
            name = "Grip"
            parent = "Hand"
            origin = (1, 2, 3)
            xAxis = (0, 2, 0)
            yAxis = (-1, 0, 0)
            zAxis = (0, 0, 1)
        }
        AttachPoint { parent = "Hand" origin = (9, 9, 9) }
        RigidBodyDescription
        {
            parentName = "Pelvis"
            childName = "Spine"
            parentOrigin = (0, 1, 0)
            childZAxis = (0, 0, -1)
            extents = (0.5, 0.25, 0.125)
            collides = false
            playFallSound = true
            FusedBone { name = "Tail" origin = (0, 0, -1) }
            FusedBone = name = "Fin" }
        }
        RigidBodyDescription { density = lots }
        JointDescription
        {
            rigidBody0 = 1 rigidBody1 = "2" jointType = hinge jointConnection = 3
            jointAxis0 = z loStop0 = -0.5 hiStop0 = 0.75 jointAxis1 = y loStop1 = -1 hiStop1 = 1
            breakable = true breakChance = 40
        }
        JointDescription { rigidBody0 = 4 rigidBody1 = 5 jointType = spring }
        trailing words
    )";
    ASSERT_TRUE(Parse(data, text));
    EXPECT_EQ(data.creationEntityNames, (std::vector<std::string>{"records/a.dbr", "records/b.dbr"}));
    EXPECT_EQ(data.creationAttachNames, std::vector<std::string>{"Hand"});
    EXPECT_EQ(data.skeletonEmitterBones, (std::vector<std::string>{"Head", "Left Hand"}));

    const AttachPoint* grip = data.attachPoints.FindValue(Name::Create("Grip"));
    ASSERT_NE(grip, nullptr);
    EXPECT_EQ(grip->parent, Name::Create("Hand"));
    EXPECT_EQ(grip->coords.origin, Vec3(1, 2, 3));
    EXPECT_EQ(grip->coords.xAxis, Vec3(0, 2, 0)); // as written, not normalised
    EXPECT_EQ(grip->coords.yAxis, Vec3(-1, 0, 0));
    int stored = 0;
    for (int32_t slot = data.attachPoints.First(); slot >= 0; slot = data.attachPoints.Next(slot))
        ++stored;
    EXPECT_EQ(stored, 1); // the block without a name stored nothing

    ASSERT_EQ(data.rigidBodies.size(), 2u);
    const RigidBodyDescription& body = data.rigidBodies[0];
    EXPECT_EQ(body.parentName, "Pelvis");
    EXPECT_EQ(body.childNameKey, Name::Create("Spine"));
    EXPECT_EQ(body.parentCoords.origin, Vec3(0, 1, 0));
    EXPECT_EQ(body.childCoords.zAxis, Vec3(0, 0, -1));
    EXPECT_EQ(body.childCoords.xAxis, Vec3(1, 0, 0));
    EXPECT_EQ(body.extents, Vec3(0.5f, 0.25f, 0.125f));
    EXPECT_FALSE(body.collides);
    EXPECT_TRUE(body.playFallSound);
    EXPECT_EQ(body.density, RigidBodyDescription::defaultDensity);
    ASSERT_EQ(body.fusedBones.size(), 2u);
    EXPECT_EQ(body.fusedBones[0].name, Name::Create("Tail"));
    EXPECT_EQ(body.fusedBones[0].coords.origin, Vec3(0, 0, -1));
    EXPECT_EQ(body.fusedBones[1].nameText, "Fin"); // the separator after FusedBone is not checked
    EXPECT_EQ(data.rigidBodies[1].density, RigidBodyDescription::defaultDensity); // "lots" does not parse

    ASSERT_EQ(data.joints.size(), 2u);
    const JointDescription& joint = data.joints[0];
    EXPECT_EQ(joint.rigidBody0, 1);
    EXPECT_EQ(joint.rigidBody1, 2);
    EXPECT_EQ(joint.jointType, JOINT_TYPE_HINGE);
    EXPECT_EQ(joint.jointConnection, 3);
    EXPECT_EQ(joint.jointAxis0, JOINT_AXIS_Z);
    EXPECT_EQ(joint.jointAxis1, JOINT_AXIS_Y);
    EXPECT_EQ(joint.loStop0, -0.5f);
    EXPECT_EQ(joint.hiStop0, 0.75f);
    EXPECT_EQ(joint.breakable, 1);
    EXPECT_EQ(joint.breakChance, 40);
    // Only the bodies: everything else 0, an unknown type is "none".
    EXPECT_EQ(data.joints[1].breakChance, 0);
    EXPECT_EQ(data.joints[1].jointType, JOINT_TYPE_NONE);

    // A second text: bodies and joints start again, the rest keeps what it had; emitter bones are
    // replaced, creations appended, a same-named attach point replaced.
    ASSERT_TRUE(Parse(data, "SkeletonEmitterBones { Tail } CreateEntity { entity = \"records/c.dbr\" }"
                            "AttachPoint { name = Grip origin = (5, 5, 5) }"));
    EXPECT_TRUE(data.rigidBodies.empty());
    EXPECT_TRUE(data.joints.empty());
    EXPECT_EQ(data.skeletonEmitterBones, std::vector<std::string>{"Tail"});
    EXPECT_EQ(data.creationEntityNames.size(), 3u);
    EXPECT_EQ(data.attachPoints.FindValue(Name::Create("Grip"))->coords.origin, Vec3(5, 5, 5));
}

TEST(MeshModelDataTest, RefusesMissingBracesAndSeparatorsAndTextEndingInABlock)
{
    const char* bad[] = {
        "CreateEntity entity = \"x\" }",
        "SkeletonEmitterBones Head }",
        "AttachPoint name = \"x\" }",
        "RigidBodyDescription parentName = \"x\" }",
        "JointDescription rigidBody0 = 1 }",
        "CreateEntity { entity : \"x\" }",
        "CreateEntity { attach \"x\" }",
        "AttachPoint { name = \"x\"",
        "RigidBodyDescription { FusedBone { name = \"x\" }",
        "SkeletonEmitterBones { Head",
    };
    for (const char* text : bad) {
        MeshModelData data;
        EXPECT_FALSE(Parse(data, text)) << text;
    }
    // The same separator is accepted where it is not checked.
    MeshModelData data;
    EXPECT_TRUE(Parse(data, "AttachPoint { name : \"x\" origin : (1, 0, 0) }"));
    EXPECT_NE(data.attachPoints.FindValue(Name::Create("x")), nullptr);
}

} // namespace
} // namespace GAME
