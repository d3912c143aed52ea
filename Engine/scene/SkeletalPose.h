// The pose of a skeleton: for each bone, named by its Name, one decomposed transform (translation,
// rotation, scale and the rotation of the frame the scale applies in). Animations sample into
// poses, animation channels cross-fade them, mesh instances keep one each and meshes turn them into
// bone frames; entities save and restore a pose in their state (WriteData, ReadData).
//
// The bones live in one NameTable of 251 entries, made by the first stored bone: no allocation per
// bone, a copy is one block copy. Bones are never removed; a pose holds at most 251 bones and
// drops further ones silently. A plain value; one thread at a time.
//
// Stored form (little-endian): u32 bone count, u32 full flag (0 or 1, any non-zero is full), then
// per bone in table order the four words of its Name, t as three floats, q packed into a u32, and
// for a full record also k as three floats and u packed into a u32 (32 or 48 bytes a record).
// Packing puts each component c, clamped to [-1, 1], in the byte trunc((c + 1) * 127.5 + 0.001): x
// in bits 0-7, y 8-15, z 16-23, w 24-31; unpacking maps a byte b to b * 2 / 255 - 1, which packs
// back to b.
#pragma once

#include "core/Coords.h"
#include "core/Name.h"
#include "core/Quat.h"
#include "core/Vec3.h"
#include "scene/NameTable.h"

#include <cstdint>

namespace GAME {

class BinaryReader;
class BinaryWriter;

class SkeletalPose
{
public:
    struct AffineParts
    {
        Vec3 t;                   // translation
        Quat q;                   // rotation
        Vec3 k{1.0f, 1.0f, 1.0f}; // scale per axis
        Quat u;                   // the frame in which k applies

        // t 0, q and u (0, 0, 0, 1), k (1, 1, 1).
        static constexpr AffineParts Identity() { return AffineParts(); }
    };
    static_assert(sizeof(AffineParts) == 56, "affine parts are 14 floats");

    static constexpr unsigned compactRecordSize = 32;
    static constexpr unsigned fullRecordSize = 48;

    bool IsEmpty() const { return m_bones.IsEmpty(); }
    bool ContainsBone(const Name& bone) const { return m_bones.Find(bone) >= 0; }
    int GetNumBones() const;
    // Identity parts for a bone the pose does not hold.
    AffineParts GetBone(const Name& bone) const;
    // Stores the parts (overwriting the bone's entry). The empty Name is ignored, as is a new bone
    // when all 251 entries hold other bones.
    void SetBone(const Name& bone, const AffineParts& parts);
    // The bone's frame: axes the columns of R(q) * diag(k) * R(u), origin t; the identity frame for
    // a bone the pose does not hold.
    Coords GetBoneCoords(const Name& bone) const;
    // Decomposes the frame (a mirrored frame keeps its mirror in k = (1, -1, 1)) and stores it.
    void SetBoneCoords(const Name& bone, const Coords& coords);

    // Every bone of the other pose, in its table order, stored into this one.
    void Add(const SkeletalPose& other);
    // Moves this pose toward the other: every bone of the other becomes the interpolation of this
    // pose's parts of it (identity parts when absent) and the other's, by weight (0 keeps this
    // pose, 1 takes the other's). Bones only this pose holds are left alone.
    void Blend(const SkeletalPose& other, float weight);

    // Lerp of t and k, slerp of q and u.
    static AffineParts Interpolate(const AffineParts& a, const AffineParts& b, float s);
    // Spherical interpolation on the shorter arc (r is negated when the dot product is negative);
    // linear weights when the quaternions are within 0.0001 of each other. Not normalised.
    static Quat Slerp(const Quat& p, const Quat& r, float s);

    // Walks the bones in table order: FirstBone, then NextBone until -1; the entry's Name and parts.
    int32_t FirstBone() const { return m_bones.First(); }
    int32_t NextBone(int32_t entry) const { return m_bones.Next(entry); }
    const Name& GetEntryName(int32_t entry) const { return m_bones.GetSlot(entry).key; }
    const AffineParts& GetEntryParts(int32_t entry) const { return m_bones.GetSlot(entry).value; }

    // Reads the stored form into this pose without emptying it first. Compact records get
    // k = (1, 1, 1) and u all zero. False (the records that fit stored) when the reader holds fewer
    // bytes than the bone count announces; false and the reader failed at the first record whose
    // position or scale is not finite (the records before it stored, it and the rest not).
    bool ReadData(BinaryReader& reader);
    void WriteData(BinaryWriter& writer, bool full) const;

    static uint32_t PackQuat(const Quat& q);
    static Quat UnpackQuat(uint32_t packed);

private:
    NameTable<AffineParts> m_bones;
};

} // namespace GAME
