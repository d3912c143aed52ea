// Reads any bytes as a stored skeletal pose: no crash; what was read writes out and reads back to
// the same bytes (a packed rotation packs to itself again).
#include "common/FuzzSeeds.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "scene/SkeletalPose.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class QuietSink : public GAME::LogSink
{
public:
    void Write(int, unsigned int, const char*) override {}
};

std::vector<uint8_t> Write(const GAME::SkeletalPose& pose, bool full)
{
    GAME::BinaryWriter writer(64);
    pose.WriteData(writer, full);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QuietSink quiet;
    GAME::SetProcessLogSink(&quiet);
    GAME::BinaryReader reader(data, static_cast<unsigned>(size));
    GAME::SkeletalPose pose;
    pose.ReadData(reader);
    for (bool full : {false, true}) {
        const std::vector<uint8_t> once = Write(pose, full);
        GAME::BinaryReader again(once.data(), static_cast<unsigned>(once.size()));
        GAME::SkeletalPose copy;
        if (!copy.ReadData(again) || copy.GetNumBones() != pose.GetNumBones())
            std::abort();
        if (Write(copy, full) != once)
            std::abort();
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
