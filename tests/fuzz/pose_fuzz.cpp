// Reads any bytes as a stored skeletal pose: no crash; no bone kept with a position or scale that is
// not finite; what was read writes out and reads back bit for bit (a packed rotation packs to
// itself again).
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "scene/SkeletalPose.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::vector<uint8_t> Write(const GAME::SkeletalPose& pose, bool full)
{
    GAME::BinaryWriter writer(64);
    pose.WriteData(writer, full);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    GAME::BinaryReader reader(data, static_cast<unsigned>(size));
    GAME::SkeletalPose pose;
    if (pose.ReadData(reader))
        FuzzAccepted();
    // A stored position or scale that is no number is refused, never kept.
    for (int32_t entry = pose.FirstBone(); entry >= 0; entry = pose.NextBone(entry))
        if (!GAME::IsFiniteVec3(pose.GetEntryParts(entry).t) ||
            !GAME::IsFiniteVec3(pose.GetEntryParts(entry).k))
            std::abort();
    for (bool full : {false, true}) {
        const std::vector<uint8_t> once = Write(pose, full);
        GAME::BinaryReader again(once.data(), static_cast<unsigned>(once.size()));
        GAME::SkeletalPose copy;
        if (!copy.ReadData(again) || copy.GetNumBones() != pose.GetNumBones())
            std::abort();
        // Bones whose names share a hash may come back in other entries (the table's order follows
        // the order of insertion); each must come back with the same bits.
        for (int32_t entry = pose.FirstBone(); entry >= 0; entry = pose.NextBone(entry)) {
            const GAME::SkeletalPose::AffineParts& a = pose.GetEntryParts(entry);
            const GAME::SkeletalPose::AffineParts b = copy.GetBone(pose.GetEntryName(entry));
            if (std::memcmp(&a.t, &b.t, sizeof(a.t)) != 0 || std::memcmp(&a.q, &b.q, sizeof(a.q)) != 0)
                std::abort();
            // A compact record's u (all zero) packs to the bytes nearest to it, not to itself.
            if (full && (std::memcmp(&a.k, &b.k, sizeof(a.k)) != 0 ||
                         GAME::SkeletalPose::PackQuat(a.u) != GAME::SkeletalPose::PackQuat(b.u)))
                std::abort();
        }
    }
    GAME::SkeletalPose blended;
    blended.Blend(pose, 0.5f);
    blended.Add(pose);
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    GAME::SkeletalPose pose;
    for (int i = 0; i < 12; ++i) {
        GAME::SkeletalPose::AffineParts parts;
        parts.t = GAME::Vec3(float(i), -1.5f, 0.25f);
        parts.q = GAME::Quat(0.5f, 0.5f, -0.5f, 0.5f);
        parts.k = GAME::Vec3(1, float(i % 3), 1);
        pose.SetBone(GAME::Name::Create(("bone" + std::to_string(i)).c_str()), parts);
    }
    sink.Add("compact", Write(pose, false));
    sink.Add("full", Write(pose, true));
    sink.Add("empty", Write(GAME::SkeletalPose(), false));
}
