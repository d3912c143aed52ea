#include "scene/SkeletalPose.h"

#include "core/Mat3.h"
#include "core/MathUtil.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

#include <algorithm>
#include <cmath>

namespace GAME {

int SkeletalPose::GetNumBones() const
{
    int count = 0;
    for (int32_t i = m_bones.First(); i >= 0; i = m_bones.Next(i))
        ++count;
    return count;
}

SkeletalPose::AffineParts SkeletalPose::GetBone(const Name& bone) const
{
    const AffineParts* parts = m_bones.FindValue(bone);
    return parts ? *parts : AffineParts::Identity();
}

void SkeletalPose::SetBone(const Name& bone, const AffineParts& parts)
{
    m_bones.Insert(bone, parts);
}

Coords SkeletalPose::GetBoneCoords(const Name& bone) const
{
    const AffineParts* parts = m_bones.FindValue(bone);
    if (!parts)
        return Coords();
    Mat3 stretch = Mat3::FromQuaternion(parts->u);
    const float k[3] = {parts->k.x, parts->k.y, parts->k.z};
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            stretch.At(row, column) *= k[row];
    return Coords::FromMatrix(parts->t, Mat3::FromQuaternion(parts->q) * stretch);
}

void SkeletalPose::SetBoneCoords(const Name& bone, const Coords& coords)
{
    Coords c = coords;
    AffineParts parts;
    if (c.IsLeftHanded()) {
        c.yAxis = -c.yAxis;
        parts.k = Vec3(1.0f, -1.0f, 1.0f);
    }
    c.Orthonormalize();
    parts.t = c.origin;
    parts.q = Quat::FromMatrix(c);
    // A frame without three independent axes (a bone scaled to nothing, or one whose axes
    // overflow) has no rotation to take: it gets none rather than a not-a-number that would
    // spread to every bone below it.
    if (!IsFinite(parts.q.x) || !IsFinite(parts.q.y) || !IsFinite(parts.q.z) || !IsFinite(parts.q.w))
        parts.q = Quat();
    SetBone(bone, parts);
}

void SkeletalPose::Add(const SkeletalPose& other)
{
    for (int32_t i = other.m_bones.First(); i >= 0; i = other.m_bones.Next(i)) {
        const auto& slot = other.m_bones.GetSlot(i);
        SetBone(slot.key, slot.value);
    }
}

void SkeletalPose::Blend(const SkeletalPose& other, float weight)
{
    for (int32_t i = other.m_bones.First(); i >= 0; i = other.m_bones.Next(i)) {
        const auto& slot = other.m_bones.GetSlot(i);
        SetBone(slot.key, Interpolate(GetBone(slot.key), slot.value, weight));
    }
}

Quat SkeletalPose::Slerp(const Quat& p, const Quat& r, float s)
{
    float d = Quat::Dot(p, r);
    Quat to = r;
    if (d < 0.0f) {
        d = -d;
        to = -r;
    }
    float wp, wr;
    if (d < 1.0f - 0.0001f) {
        const float theta = static_cast<float>(ACos(d));
        const float sinTheta = static_cast<float>(Sin(theta));
        wp = static_cast<float>(Sin((1.0f - s) * theta)) / sinTheta;
        wr = static_cast<float>(Sin(s * theta)) / sinTheta;
    } else {
        wp = 1.0f - s;
        wr = s;
    }
    return Quat(wp * p.x + wr * to.x, wp * p.y + wr * to.y, wp * p.z + wr * to.z, wp * p.w + wr * to.w);
}

SkeletalPose::AffineParts SkeletalPose::Interpolate(const AffineParts& a, const AffineParts& b, float s)
{
    AffineParts result;
    result.t = a.t * (1.0f - s) + b.t * s;
    result.q = Slerp(a.q, b.q, s);
    result.k = a.k * (1.0f - s) + b.k * s;
    result.u = Slerp(a.u, b.u, s);
    return result;
}

uint32_t SkeletalPose::PackQuat(const Quat& q)
{
    auto pack = [](float c) -> uint32_t {
        if (!(c >= -1.0f)) // below the range, or not a number
            c = std::isnan(c) ? 0.0f : -1.0f;
        if (c > 1.0f)
            c = 1.0f;
        // The small bias keeps unpacked values on their byte: without it a third of the bytes come
        // out one lower (b * 2 / 255 - 1 rounds just below), and a pose decays with every save.
        return std::min(static_cast<uint32_t>((c + 1.0f) * 127.5f + 0.001f), 255u);
    };
    return pack(q.x) | (pack(q.y) << 8) | (pack(q.z) << 16) | (pack(q.w) << 24);
}

Quat SkeletalPose::UnpackQuat(uint32_t packed)
{
    auto unpack = [](uint32_t b) { return static_cast<float>(b & 0xFFu) * 2.0f / 255.0f - 1.0f; };
    return Quat(unpack(packed), unpack(packed >> 8), unpack(packed >> 16), unpack(packed >> 24));
}

bool SkeletalPose::ReadData(BinaryReader& reader)
{
    const uint32_t count = reader.ReadUInt32();
    const bool full = reader.ReadUInt32() != 0;
    if (reader.Failed())
        return false;
    const unsigned recordSize = full ? fullRecordSize : compactRecordSize;
    // A pose that announces more records than the bytes hold keeps the ones that are there.
    const uint64_t available = reader.GetRemaining() / recordSize;
    const bool complete = count <= available;
    const uint64_t records = complete ? count : available;
    for (uint64_t r = 0; r < records; ++r) {
        unsigned int digest[4];
        for (unsigned int& word : digest)
            word = reader.ReadUInt32();
        Name bone;
        bone.SetDigest(digest);
        AffineParts parts;
        parts.t = reader.ReadVec3();
        parts.q = UnpackQuat(reader.ReadUInt32());
        if (full) {
            parts.k = reader.ReadVec3();
            parts.u = UnpackQuat(reader.ReadUInt32());
        } else {
            parts.k = Vec3(1.0f, 1.0f, 1.0f);
            parts.u = Quat(0.0f, 0.0f, 0.0f, 0.0f);
        }
        // A position or scale that is no number is damage, as an entity's frame would be; the
        // rotations unpack from bytes and are always finite.
        if (!IsFiniteVec3(parts.t) || !IsFiniteVec3(parts.k)) {
            reader.Fail();
            return false;
        }
        SetBone(bone, parts);
    }
    if (!complete) {
        reader.Fail();
        return false;
    }
    return !reader.Failed();
}

void SkeletalPose::WriteData(BinaryWriter& writer, bool full) const
{
    writer.WriteUInt32(static_cast<uint32_t>(GetNumBones()));
    writer.WriteUInt32(full ? 1u : 0u);
    for (int32_t i = m_bones.First(); i >= 0; i = m_bones.Next(i)) {
        const auto& slot = m_bones.GetSlot(i);
        const unsigned int* digest = slot.key.GetDigest();
        for (int w = 0; w < 4; ++w)
            writer.WriteUInt32(digest[w]);
        writer.WriteVec3(slot.value.t);
        writer.WriteUInt32(PackQuat(slot.value.q));
        if (full) {
            writer.WriteVec3(slot.value.k);
            writer.WriteUInt32(PackQuat(slot.value.u));
        }
    }
}

} // namespace GAME
