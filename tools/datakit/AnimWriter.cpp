#include "datakit/AnimWriter.h"

#include <algorithm>
#include <cstring>

namespace DataKit {

namespace {

void U32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void F32(std::vector<uint8_t>& out, float f)
{
    uint32_t v;
    std::memcpy(&v, &f, 4);
    U32(out, v);
}

void Conjugate(std::vector<uint8_t>& out, const GAME::Quat& q)
{
    F32(out, -q.x);
    F32(out, -q.y);
    F32(out, -q.z);
    F32(out, q.w);
}

} // namespace

std::string AnimWriter::CallbackPointText(const std::string& name, int frame)
{
    return "CallbackPoint\n{\n    name = \"" + name + "\"\n    frame = " + std::to_string(frame) + "\n}\n";
}

std::string AnimWriter::CreateEntityText(int frame, const std::string& entity, const std::string& attach)
{
    return "CreateEntity\n{\n    frame = " + std::to_string(frame) + "\n    entity = \"" + entity +
           "\"\n    attach = \"" + attach + "\"\n}\n";
}

std::vector<uint8_t> AnimWriter::Write(int version) const
{
    std::vector<uint8_t> out;
    if (version == 2)
        out = {'A', 'N', 'M', 2};
    const uint32_t frames = frameCount >= 0
                                ? static_cast<uint32_t>(frameCount)
                                : (tracks.empty() ? 0u : static_cast<uint32_t>(tracks.front().keys.size()));
    U32(out, static_cast<uint32_t>(tracks.size()));
    U32(out, frames);
    U32(out, frameRate);
    for (const Track& track : tracks) {
        if (version == 1) {
            char name[32] = {};
            std::memcpy(name, track.bone.data(), std::min<size_t>(track.bone.size(), 31));
            out.insert(out.end(), name, name + 32);
        } else {
            U32(out, static_cast<uint32_t>(track.bone.size()));
            out.insert(out.end(), track.bone.begin(), track.bone.end());
        }
        for (uint32_t f = 0; f < frames; ++f) {
            const Key key =
                track.keys.empty() ? Key() : track.keys[std::min<size_t>(f, track.keys.size() - 1)];
            F32(out, key.t.x);
            F32(out, key.t.y);
            F32(out, key.t.z);
            Conjugate(out, key.q);
            if (version != 1) {
                F32(out, key.k.x);
                F32(out, key.k.y);
                F32(out, key.k.z);
                Conjugate(out, key.u);
            }
        }
    }
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

} // namespace DataKit
