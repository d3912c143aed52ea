#include "navigation/PhysicsRagDoll.h"

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

} // namespace GAME
