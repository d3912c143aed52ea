#include "navigation/PhysicsObject.h"

#include "core/Log.h"
#include "core/MathUtil.h"
#include "navigation/PhysicsEngine.h"

#include <algorithm>
#include <cmath>

namespace GAME {

namespace {

// A half-extent the simulation can hold: the size of a negative one, the least for NaN.
float SaneExtent(float extent)
{
    if (std::isnan(extent))
        return PhysicsObject::minExtent;
    return std::clamp(std::fabs(extent), PhysicsObject::minExtent, PhysicsObject::maxExtent);
}

float SaneStop(float stop)
{
    if (!IsFinite(stop))
        return 0.0f;
    return std::clamp(stop, -PhysicsObject::pi, PhysicsObject::pi);
}

// A unit vector along v, or the fallback when v has no usable direction.
Vec3 UnitOr(const Vec3& v, const Vec3& fallback)
{
    if (!IsFiniteVec3(v))
        return fallback;
    const float length = v.Length();
    if (!(length > 1e-6f) || !IsFinite(length))
        return fallback;
    return v * (1.0f / length);
}

} // namespace

PhysicsObject::PhysicsObject(Entity* entity) : m_entity(entity) {}

PhysicsObject::~PhysicsObject()
{
    if (m_engine)
        m_engine->ReleaseObject(*this);
}

Coords PhysicsObject::MakeRigid(const Coords& coords)
{
    Coords rigid;
    rigid.origin = IsFiniteVec3(coords.origin) ? coords.origin : Vec3();
    const Vec3 x = UnitOr(coords.xAxis, Vec3());
    if (x == Vec3())
        return rigid;
    Vec3 y = coords.yAxis - x * Vec3::Dot(coords.yAxis, x);
    y = UnitOr(y, Vec3());
    if (y == Vec3()) {
        // Y along X: any perpendicular will do, taken from the axis X is least aligned with.
        const Vec3 other = std::fabs(x.y) < 0.9f ? Vec3(0.0f, 1.0f, 0.0f) : Vec3(0.0f, 0.0f, 1.0f);
        y = UnitOr(other - x * Vec3::Dot(other, x), Vec3(0.0f, 1.0f, 0.0f));
    }
    rigid.xAxis = x;
    rigid.yAxis = y;
    rigid.zAxis = Vec3::Cross(x, y);
    return rigid;
}

int PhysicsObject::AddBody(const Coords& frame, const Vec3& extents, float density, bool collides)
{
    Body body;
    body.box.coords = MakeRigid(frame);
    body.box.extents = Vec3(SaneExtent(extents.x), SaneExtent(extents.y), SaneExtent(extents.z));
    if (!IsFinite(density) || !(density > 0.0f))
        density = defaultDensity;
    const float volume = 8.0f * body.box.extents.x * body.box.extents.y * body.box.extents.z;
    body.mass = std::clamp(density * volume, minMass, maxMass);
    body.collides = collides;
    m_bodies.push_back(body);
    m_bodyCoords.push_back(body.box.coords);
    return static_cast<int>(m_bodies.size()) - 1;
}

bool PhysicsObject::AddJoint(const Joint& given)
{
    const int count = GetNumBodies();
    if (given.body0 < 0 || given.body0 >= count || given.body1 < 0 || given.body1 >= count ||
        given.body0 == given.body1) {
        LogPrintf(1, "Physics: a joint links bodies %d and %d of %d; left out", given.body0, given.body1,
                  count);
        return false;
    }
    if (given.type < JOINT_TYPE_BALL || given.type > JOINT_TYPE_UNIVERSAL) {
        if (given.type != JOINT_TYPE_NONE)
            LogPrintf(1, "Physics: a joint of unknown type %d; left out", static_cast<int>(given.type));
        return false;
    }
    Joint joint = given;
    joint.anchor = IsFiniteVec3(given.anchor) ? given.anchor
                                              : m_bodies[static_cast<size_t>(given.body1)].box.coords.origin;
    joint.axis0 = UnitOr(given.axis0, Vec3(1.0f, 0.0f, 0.0f));
    joint.axis1 = UnitOr(given.axis1, Vec3(0.0f, 1.0f, 0.0f));
    if (joint.type == JOINT_TYPE_UNIVERSAL) {
        // The two axes of a universal joint must stand apart: the second is made perpendicular.
        Vec3 second = joint.axis1 - joint.axis0 * Vec3::Dot(joint.axis1, joint.axis0);
        if (!(second.Length() > 1e-3f))
            second = MakeRigid(Coords(joint.axis0, Vec3(0.0f, 1.0f, 0.0f), Vec3(), Vec3())).yAxis;
        joint.axis1 = UnitOr(second, Vec3(0.0f, 1.0f, 0.0f));
    }
    joint.loStop0 = SaneStop(given.loStop0);
    joint.hiStop0 = SaneStop(given.hiStop0);
    joint.loStop1 = SaneStop(given.loStop1);
    joint.hiStop1 = SaneStop(given.hiStop1);
    m_joints.push_back(joint);
    return true;
}

void PhysicsObject::SetLinearVelocity(const Vec3& velocity)
{
    if (!IsFiniteVec3(velocity)) {
        LogPrintf(1, "Physics: a velocity that is not finite is ignored");
        return;
    }
    Vec3 v = velocity;
    const double speed = std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z);
    if (speed > maxSpeed) {
        const double cut = maxSpeed / speed;
        v = Vec3(static_cast<float>(v.x * cut), static_cast<float>(v.y * cut), static_cast<float>(v.z * cut));
    }
    m_velocity = v;
    m_hasVelocity = true;
    if (m_engine)
        m_engine->ApplyVelocity(*this);
}

Vec3 PhysicsObject::GetLinearVelocity() const
{
    if (m_engine)
        return m_engine->ReadVelocity(*this);
    return m_velocity;
}

} // namespace GAME
