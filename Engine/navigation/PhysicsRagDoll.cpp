#include "navigation/PhysicsRagDoll.h"

#include "core/Log.h"
#include "navigation/NavigationServices.h"
#include "navigation/RagDollModel.h"
#include "navigation/RigidBodyDescription.h"

#include <algorithm>
#include <cstddef>

namespace GAME {

namespace {

// ASCII comparison ignoring case, whatever the process locale says.
bool EqualsIgnoringCase(const char* text, const char* lower)
{
    if (!text)
        return false;
    size_t i = 0;
    for (; text[i] && lower[i]; ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i])
            return false;
    }
    return text[i] == lower[i];
}

const Vec3& Axis(const Coords& frame, JointAxis axis)
{
    switch (axis) {
    case JOINT_AXIS_Y:
        return frame.yAxis;
    case JOINT_AXIS_Z:
        return frame.zAxis;
    default:
        return frame.xAxis;
    }
}

} // namespace

JointType PhysicsRagDoll::ToJointType(const char* text)
{
    static const struct
    {
        const char* name;
        JointType type;
    } types[] = {{"none", JOINT_TYPE_NONE},
                 {"ball", JOINT_TYPE_BALL},
                 {"hinge", JOINT_TYPE_HINGE},
                 {"fixed", JOINT_TYPE_FIXED},
                 {"universal", JOINT_TYPE_UNIVERSAL}};
    for (const auto& entry : types)
        if (EqualsIgnoringCase(text, entry.name))
            return entry.type;
    return JOINT_TYPE_NONE;
}

JointAxis PhysicsRagDoll::ToJointAxis(const char* text)
{
    if (EqualsIgnoringCase(text, "y"))
        return JOINT_AXIS_Y;
    if (EqualsIgnoringCase(text, "z"))
        return JOINT_AXIS_Z;
    return JOINT_AXIS_X;
}

PhysicsRagDoll::PhysicsRagDoll(Entity* entity) : PhysicsObject(entity) {}

PhysicsRagDoll::PhysicsRagDoll(Entity* entity, const GraphicsMesh& mesh, const SkeletalPose& pose)
    : PhysicsObject(entity)
{
    NavigationServices* world = NavigationServices::Get();
    if (const std::unique_ptr<RagDollModel> model = world ? world->GetRagDollModel(mesh, pose) : nullptr)
        Build(*model);
}

void PhysicsRagDoll::Carry(const Name& bone, int body, const Coords& offset)
{
    for (const BoneLink& link : m_bones)
        if (link.bone == bone)
            return;
    m_bones.push_back({bone, body, offset});
}

void PhysicsRagDoll::Build(const RagDollModel& model)
{
    const uint32_t described = model.GetNumRigidBodyDescriptions();
    if (described > static_cast<uint32_t>(maxBodies))
        LogPrintf(1, "Rag doll of '%s': %u rigid bodies, only the first %d are used", model.GetFileName(),
                  described, maxBodies);
    const uint32_t count = std::min(described, static_cast<uint32_t>(maxBodies));

    // Per description: its body (-1 when left out), where it starts and ends, its child bone.
    std::vector<int> slots(count, -1);
    std::vector<Vec3> starts(count), ends(count);
    std::vector<int32_t> children(count, -1);
    for (uint32_t i = 0; i < count; ++i) {
        const RigidBodyDescription& description = model.GetRigidBodyDescription(i);
        const int32_t parent = model.GetBoneIndex(description.parentNameKey);
        if (parent < 0) {
            LogPrintf(1, "Rag doll of '%s': rigid body %u names no bone of the mesh ('%s'); left out",
                      model.GetFileName(), i, description.parentName.c_str());
            continue;
        }
        const Coords parentFrame = model.GetBoneCoords(parent) * description.parentCoords;
        starts[i] = ends[i] = parentFrame.origin;
        children[i] = model.GetBoneIndex(description.childNameKey);
        if (children[i] >= 0)
            ends[i] = (model.GetBoneCoords(children[i]) * description.childCoords).origin;
        Coords frame = parentFrame;
        frame.origin = (starts[i] + ends[i]) * 0.5f;
        slots[i] = AddBody(frame, description.extents, description.density, description.collides);
    }

    // The bones: parent bones first, so that a bone two bodies name follows the one it starts.
    for (uint32_t i = 0; i < count; ++i) {
        if (slots[i] < 0)
            continue;
        const RigidBodyDescription& description = model.GetRigidBodyDescription(i);
        const Coords body = GetBodyCoords(slots[i]);
        Carry(description.parentNameKey, slots[i],
              body.Inverse() * model.GetBoneCoords(model.GetBoneIndex(description.parentNameKey)));
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (slots[i] < 0)
            continue;
        const RigidBodyDescription& description = model.GetRigidBodyDescription(i);
        const Coords body = GetBodyCoords(slots[i]);
        if (children[i] >= 0)
            Carry(description.childNameKey, slots[i], body.Inverse() * model.GetBoneCoords(children[i]));
        for (const FusedBone& fused : description.fusedBones)
            Carry(fused.name, slots[i], fused.coords);
    }

    const uint32_t joints = model.GetNumJointDescriptions();
    if (joints > static_cast<uint32_t>(maxJoints))
        LogPrintf(1, "Rag doll of '%s': %u joints, only the first %d are used", model.GetFileName(), joints,
                  maxJoints);
    for (uint32_t j = 0; j < std::min(joints, static_cast<uint32_t>(maxJoints)); ++j) {
        const JointDescription& description = model.GetJointDescription(j);
        if (description.jointType == JOINT_TYPE_NONE)
            continue;
        const int32_t a = description.rigidBody0, b = description.rigidBody1;
        if (a < 0 || b < 0 || static_cast<uint32_t>(a) >= count || static_cast<uint32_t>(b) >= count ||
            slots[static_cast<size_t>(a)] < 0 || slots[static_cast<size_t>(b)] < 0) {
            LogPrintf(1,
                      "Rag doll of '%s': joint %u links bodies %d and %d, which it does not have; left out",
                      model.GetFileName(), j, a, b);
            continue;
        }
        Joint joint;
        joint.body0 = slots[static_cast<size_t>(a)];
        joint.body1 = slots[static_cast<size_t>(b)];
        joint.type = description.jointType;
        joint.anchor =
            description.jointConnection == 1 ? ends[static_cast<size_t>(a)] : starts[static_cast<size_t>(b)];
        joint.axis0 = Axis(GetBody(joint.body0).box.coords, description.jointAxis0);
        joint.axis1 = Axis(GetBody(joint.body1).box.coords, description.jointAxis1);
        joint.loStop0 = description.loStop0;
        joint.hiStop0 = description.hiStop0;
        joint.loStop1 = description.loStop1;
        joint.hiStop1 = description.hiStop1;
        AddJoint(joint);
    }
}

bool PhysicsRagDoll::GetBoneCoords(const Name& bone, Coords& coords) const
{
    for (const BoneLink& link : m_bones) {
        if (link.bone == bone) {
            coords = GetBodyCoords(link.body) * link.offset;
            return true;
        }
    }
    return false;
}

} // namespace GAME
