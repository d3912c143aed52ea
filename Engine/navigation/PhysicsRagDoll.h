// The rag doll of a model: rigid bodies and joints built from the model's descriptions, simulated
// when an actor dies. For now it offers the translation of the joint names of model texts.
//
// TODO(stand-in): the rag doll's bodies, joints and their simulation (with the physics engine over
// ODE), and its conversion to and from a skeletal pose.
#pragma once

#include "navigation/JointDescription.h"

namespace GAME {

class PhysicsRagDoll
{
public:
    // "none", "ball", "hinge", "fixed", "universal" (any case); anything else is JOINT_TYPE_NONE.
    static JointType ToJointType(const char* text);
    // "x", "y", "z" (any case); anything else is JOINT_AXIS_X.
    static JointAxis ToJointAxis(const char* text);
};

} // namespace GAME
