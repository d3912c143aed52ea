#include "core/WorldCoords.h"

#include "core/Quat.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/ChunkedBinaryWriter.h"

namespace GAME {

namespace {

template <typename Writer> void WriteAxes(Writer& writer, const Vec3& x, const Vec3& y, const Vec3& z)
{
    for (const Vec3* axis : {&x, &y, &z}) {
        writer.WriteFloat(axis->x);
        writer.WriteFloat(axis->y);
        writer.WriteFloat(axis->z);
    }
}

WorldCoords LookAlong(const WorldVec3& eye, Vec3 d, const Vec3& up)
{
    if (!IsFiniteVec3(d))
        return WorldCoords(eye, Vec3(1.0f, 0.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f), Vec3(0.0f, 0.0f, 1.0f));
    const Vec3 side = Vec3::Cross(up, d);
    return WorldCoords(eye, side.Unit(), Vec3::Cross(d, side).Unit(), d.Unit());
}

} // namespace

WorldCoords::WorldCoords(Region* region) : m_origin(region, Vec3()) {}

WorldCoords::WorldCoords(Region* region, const Coords& coords)
    : m_origin(region, coords.origin), m_xAxis(coords.xAxis), m_yAxis(coords.yAxis), m_zAxis(coords.zAxis)
{
}

WorldCoords::WorldCoords(const WorldVec3& origin, const Vec3& xAxis, const Vec3& yAxis, const Vec3& zAxis)
    : m_origin(origin), m_xAxis(xAxis), m_yAxis(yAxis), m_zAxis(zAxis)
{
}

void WorldCoords::ClearRotation()
{
    m_xAxis = Vec3(1.0f, 0.0f, 0.0f);
    m_yAxis = Vec3(0.0f, 1.0f, 0.0f);
    m_zAxis = Vec3(0.0f, 0.0f, 1.0f);
}

void WorldCoords::Translation(const WorldVec3& position)
{
    ClearRotation();
    m_origin = position;
}

void WorldCoords::Orthonormalize()
{
    Coords c(m_xAxis, m_yAxis, m_zAxis, Vec3());
    c.Orthonormalize();
    m_xAxis = c.xAxis;
    m_yAxis = c.yAxis;
    m_zAxis = c.zAxis;
}

WorldCoords WorldCoords::LookAt(const WorldVec3& eye, const WorldVec3& target, const Vec3& up)
{
    return LookAlong(eye, target - eye, up);
}

WorldCoords WorldCoords::LookAtNoLean(const WorldVec3& eye, const WorldVec3& target, const Vec3& up)
{
    Vec3 d = target - eye;
    d.y = 0.0f;
    return LookAlong(eye, d, up);
}

WorldCoords WorldCoords::RotateAroundPoint(const WorldCoords& w, const WorldVec3& pivot, const Vec3& axis,
                                           float angle)
{
    const Coords rotation = Coords::Rotation(axis, angle);
    const Coords turned = w.GetRegionCoords() * rotation;
    const Vec3 offset = w.m_origin - pivot;
    WorldVec3 origin = w.m_origin;
    if (IsFiniteVec3(offset)) {
        origin = pivot;
        origin.Translate(rotation.TransformVector(offset), false);
    }
    return WorldCoords(origin, turned.xAxis, turned.yAxis, turned.zAxis);
}

WorldCoords operator*(const WorldCoords& w, const Coords& c)
{
    const Coords composed = w.GetRegionCoords() * c;
    return WorldCoords(WorldVec3(w.GetRegion(), composed.origin), composed.xAxis, composed.yAxis,
                       composed.zAxis);
}

bool operator==(const WorldCoords& a, const WorldCoords& b)
{
    return a.GetXAxis() == b.GetXAxis() && a.GetYAxis() == b.GetYAxis() && a.GetZAxis() == b.GetZAxis() &&
           a.GetOrigin() == b.GetOrigin();
}

WorldCoords Lerp(const WorldCoords& a, const WorldCoords& b, float t)
{
    const Quat qa = Quat::FromMatrix(a.GetRegionCoords());
    const Quat qb = Quat::FromMatrix(b.GetRegionCoords());
    const Coords axes = Coords::FromQuaternion(Vec3(), Quat::Nlerp(qa, qb, t));
    return WorldCoords(Lerp(a.GetOrigin(), b.GetOrigin(), t), axes.xAxis, axes.yAxis, axes.zAxis);
}

bool WorldCoords::Read(BinaryReader& reader)
{
    m_xAxis = reader.ReadVec3();
    m_yAxis = reader.ReadVec3();
    m_zAxis = reader.ReadVec3();
    return m_origin.Read(reader);
}

void WorldCoords::Write(BinaryWriter& writer) const
{
    WriteAxes(writer, m_xAxis, m_yAxis, m_zAxis);
    m_origin.Write(writer);
}

void WorldCoords::Write(ChunkedBinaryWriter& writer) const
{
    WriteAxes(writer, m_xAxis, m_yAxis, m_zAxis);
    m_origin.Write(writer);
}

} // namespace GAME
