// The rag doll of a model: one box for each rigid body the model's text describes, between its
// parent bone and its child bone, and the described joints between them; the bones the bodies
// carry follow them. Actors of physics type 3 make one when they join the simulation. Also the
// translation of the joint names of model texts. Main thread.
//
// A body lies midway between its parent bone's frame times its parent frame and its child bone's
// frame times its child frame (at the first alone when the child bone is missing), turned as the
// parent bone's frame times the parent frame; a body whose parent bone the mesh lacks is left out,
// and so are the joints naming it. A joint's anchor is where its second body starts (the second
// body's parent bone), or, for a joint connection of 1, where its first body ends (its child
// bone). Its first axis is the named axis of the first body, its second axis the named axis of the
// second body; hinge and universal joints take their stops from the description (ball joints turn
// freely). Joints never break.
//
// The bones carried: every body's parent bone (at its posed frame relative to the body), each child
// bone that no body starts from, and the fused bones (at their given frames relative to the body).
//
// Actors of physics type 3 make it with their loaded mesh and current pose (Actor::
// CreatePhysicsObject) and, while it is simulated, take the carried bones (GetBoneCoords) as their
// skeletal pose every update they are drawn.
#pragma once

#include "core/Name.h"
#include "navigation/JointDescription.h"
#include "navigation/PhysicsObject.h"

#include <vector>

namespace GAME {

class GraphicsMesh;
class RagDollModel;
class SkeletalPose;

class PhysicsRagDoll : public PhysicsObject
{
public:
    // Models describe at most this many bodies and joints; further ones are left out (logged).
    static constexpr int maxBodies = 64;
    static constexpr int maxJoints = 64;

    // "none", "ball", "hinge", "fixed", "universal" (any case); anything else is JOINT_TYPE_NONE.
    static JointType ToJointType(const char* text);
    // "x", "y", "z" (any case); anything else is JOINT_AXIS_X.
    static JointAxis ToJointAxis(const char* text);

    // No bodies: the physics engine refuses such a rag doll.
    explicit PhysicsRagDoll(Entity* entity);
    // The bodies and joints of the mesh's rigid body and joint descriptions, posed by the pose (the
    // entity's frame is the mesh's object space).
    PhysicsRagDoll(Entity* entity, const GraphicsMesh& mesh, const SkeletalPose& pose);

    // The current frame of a carried bone in the entity's frame; false for a bone no body carries.
    bool GetBoneCoords(const Name& bone, Coords& coords) const;

private:
    struct BoneLink
    {
        Name bone;
        int body = 0;
        // The bone's frame in the body's frame.
        Coords offset;
    };

    void Build(const RagDollModel& model);
    void Carry(const Name& bone, int body, const Coords& offset);

    std::vector<BoneLink> m_bones;
};

} // namespace GAME
