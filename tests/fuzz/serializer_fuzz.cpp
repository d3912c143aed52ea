// Deserializes any bytes, fast or verbose (first byte), into registered variables of every type:
// no crash, no hang, and whatever was read survives a round trip through the other form.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/LoadTable.h"
#include "data/Serializer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Object
{
    std::string name;
    int hp = 0;
    unsigned mask = 0;
    float speed = 0.0f;
    bool alive = false;
    std::string tail;

    void Register(GAME::Serializer& s)
    {
        s.Register("name", name);
        s.Register("hp", hp);
        s.Register("mask", mask);
        s.Register("speed", speed);
        s.Register("alive", alive);
        s.Register("tail", tail);
    }

    bool SameAs(const Object& o) const
    {
        return name == o.name && hp == o.hp && mask == o.mask &&
               (speed == o.speed || std::memcmp(&speed, &o.speed, 4) == 0) && alive == o.alive &&
               tail == o.tail;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    if (size == 0)
        return 0;
    const bool fast = data[0] & 1;
    Object object;
    GAME::Serializer s;
    object.Register(s);
    GAME::BinaryReader reader(data + 1, static_cast<unsigned>(size - 1));
    s.Deserialize(&reader, fast);
    int extra = 0;
    s << extra;
    // Taken: the properties, their end mark and the value after it, exactly to the input's end.
    if (!reader.Failed() && reader.GetRemaining() == 0)
        FuzzAccepted();

    GAME::LoadTable empty;
    GAME::BinaryWriter writer(0);
    s.Serialize(empty, &writer, !fast);
    Object copy;
    GAME::Serializer t;
    copy.Register(t);
    GAME::BinaryReader again(writer.GetBuffer(), writer.GetSize());
    t.Deserialize(&again, !fast);
    if (!copy.SameAs(object) || again.GetRemaining() != 0)
        std::abort();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    GAME::LoadTable record;
    record.AddField("name", "Imp");
    record.AddField("hp", "10");
    for (int variant = 0; variant < 4; ++variant) {
        const bool fast = variant % 2 == 0;
        Object object;
        object.name = variant < 2 ? "Imp" : "Greater Imp";
        object.hp = variant * 7;
        object.mask = 0x80000000u >> variant;
        object.speed = 1.25f * static_cast<float>(variant);
        object.alive = variant != 3;
        object.tail = std::string(static_cast<size_t>(variant), 't');
        GAME::Serializer s;
        object.Register(s);
        GAME::BinaryWriter writer(0);
        s.Serialize(record, &writer, fast);
        int extra = variant;
        s << extra;
        std::vector<uint8_t> bytes(1 + writer.GetSize(), fast ? 1 : 0);
        std::copy(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize(), bytes.begin() + 1);
        sink.Add(std::string(fast ? "fast" : "verbose") + std::to_string(variant), bytes);
    }
}
