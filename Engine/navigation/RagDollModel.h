// A model as its rag doll is built from it (PhysicsRagDoll): the rigid bodies and joints its text
// describes, its bones by name, and their frames in one pose, in the model's space. The world hands
// one over for a mesh and a pose (NavigationServices::GetRagDollModel); it reads both while it
// lives, so it lives no longer than they do.
//
// Threads: main thread, like the mesh it reads.
#pragma once

#include "core/Coords.h"

#include <cstdint>

namespace GAME {

class Name;
struct JointDescription;
struct RigidBodyDescription;

class RagDollModel
{
public:
    virtual ~RagDollModel() = default;

    // For log lines.
    virtual const char* GetFileName() const = 0;
    virtual uint32_t GetNumRigidBodyDescriptions() const = 0;
    virtual const RigidBodyDescription& GetRigidBodyDescription(uint32_t index) const = 0;
    virtual uint32_t GetNumJointDescriptions() const = 0;
    virtual const JointDescription& GetJointDescription(uint32_t index) const = 0;
    // -1 when the model has no bone of that name.
    virtual int32_t GetBoneIndex(const Name& bone) const = 0;
    // The bone's frame in the model's space, in the pose.
    virtual Coords GetBoneCoords(int32_t bone) const = 0;
};

} // namespace GAME
