// Writes animation files as GraphicsAnim reads them: version 1 without a header (32-byte bone
// names, translation and rotation per key frame) or version 2 after "ANM" and the byte 2 (length-
// prefixed names, translation, rotation, scale and stretch rotation), then the text part. The
// rotations are given as the engine samples them; the writer stores them conjugated, as the format
// wants. The engine only reads the format; tests, fuzz seeds and the sample data make their
// animations here. One thread at a time.
#pragma once

#include "core/Quat.h"
#include "core/Vec3.h"

#include <cstdint>
#include <string>
#include <vector>

namespace DataKit {

class AnimWriter
{
public:
    struct Key
    {
        GAME::Vec3 t;
        GAME::Quat q;
        GAME::Vec3 k{1.0f, 1.0f, 1.0f};
        GAME::Quat u;
    };

    struct Track
    {
        std::string bone; // at most 31 characters in version 1
        std::vector<Key> keys;
    };

    // "CallbackPoint { name = "<name>" frame = <frame> }" and the like, for the text part.
    static std::string CallbackPointText(const std::string& name, int frame);
    static std::string CreateEntityText(int frame, const std::string& entity, const std::string& attach);

    // Version 1 or 2. The frame count is the first track's key count unless frameCount is set;
    // shorter tracks repeat their last key (identity keys for a track without any).
    std::vector<uint8_t> Write(int version) const;

    uint32_t frameRate = 30;
    int32_t frameCount = -1; // -1: the first track's
    std::vector<Track> tracks;
    std::string text;
};

} // namespace DataKit
