// One joint of a rag doll: the two rigid bodies it links (indices into the model's rigid body
// descriptions), its kind, how it connects, up to two axes with their low and high stops
// (radians), and whether and how likely it breaks. Twelve 32-bit fields in this order; a new
// description is all zero. Mesh files describe joints in their model text ("JointDescription"
// blocks). Plain values; any thread.
#pragma once

#include <cstdint>

namespace GAME {

enum JointType : int32_t
{
    JOINT_TYPE_NONE = 0,
    JOINT_TYPE_BALL = 1,
    JOINT_TYPE_HINGE = 2,
    JOINT_TYPE_FIXED = 3,
    JOINT_TYPE_UNIVERSAL = 4,
};

enum JointAxis : int32_t
{
    JOINT_AXIS_X = 0,
    JOINT_AXIS_Y = 1,
    JOINT_AXIS_Z = 2,
};

struct JointDescription
{
    int32_t rigidBody0 = 0;
    int32_t rigidBody1 = 0;
    JointType jointType = JOINT_TYPE_NONE;
    int32_t jointConnection = 0;
    JointAxis jointAxis0 = JOINT_AXIS_X;
    float loStop0 = 0.0f;
    float hiStop0 = 0.0f;
    JointAxis jointAxis1 = JOINT_AXIS_X;
    float loStop1 = 0.0f;
    float hiStop1 = 0.0f;
    int32_t breakable = 0; // 0 or 1
    int32_t breakChance = 0;
};

static_assert(sizeof(JointDescription) == 48, "a joint description is twelve 32-bit fields");

} // namespace GAME
