// Reads a tagged property stream of any bytes with a fixed schema (every value type, nested blocks
// that are partly read): no crash, no hang, and a rewound stream reads the same values again.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "core/Name.h"
#include "core/UniqueId.h"
#include "core/WorldCoords.h"
#include "data/IOStreamRead.h"
#include "data/IOStreamWrite.h"
#include "world/Region.h"
#include "world/World.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Values
{
    std::vector<unsigned> array;
    GAME::UniqueId id;
    GAME::WorldCoords coords;
    GAME::Coords frame;
    GAME::Name name;
    std::u16string wide;
    bool flag = false;
    unsigned big = 0;
    std::string text;
    float real = 0.0f;
    int count = 0;
    int late = 0;

    // Property order of the schema; the reader skips "detail" blocks it only partly reads.
    void Stream(GAME::IOStream& s, bool readAllDetail)
    {
        s.StreamPropertyEx("count", count);
        s.BeginBlock();
        s.StreamPropertyEx("name", name);
        s.StreamPropertyEx("coords", coords);
        s.BeginBlock();
        s.StreamPropertyEx("array", array);
        if (readAllDetail) {
            s.StreamPropertyEx("wide", wide);
            s.BeginBlock();
            s.StreamPropertyEx("frame", frame);
            s.EndBlock();
        }
        s.EndBlock();
        s.StreamPropertyEx("id", id);
        s.StreamPropertyEx("flag", flag);
        s.StreamPropertyEx("big", big);
        s.StreamPropertyEx("text", text);
        s.EndBlock();
        s.StreamPropertyEx("real", real);
        s.StreamPropertyEx("late", late);
    }

    bool SameAs(const Values& o) const
    {
        return array == o.array && id == o.id && coords.GetRegion() == o.coords.GetRegion() &&
               std::memcmp(&frame, &o.frame, sizeof(frame)) == 0 && name == o.name && wide == o.wide &&
               flag == o.flag && big == o.big && text == o.text &&
               std::memcmp(&real, &o.real, sizeof(real)) == 0 && count == o.count && late == o.late;
    }
};

GAME::World& TheWorld()
{
    static GAME::World* world = [] {
        auto* w = new GAME::World();
        w->AddRegion("one", GAME::IntVec3(0, 0, 0), GAME::ABBox(), GAME::RegionId(1, 2, 3, 4));
        w->AddRegion("two", GAME::IntVec3(100, 0, 0), GAME::ABBox(), GAME::RegionId(5, 6, 7, 8));
        GAME::World::SetCurrent(w);
        return w;
    }();
    return *world;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    TheWorld();
    GAME::IOStreamRead in(data, static_cast<unsigned>(size));
    Values first, second;
    first.Stream(in, size % 2 == 0);
    std::string asked, found;
    if (!in.GetFirstMismatch(asked, found))
        FuzzAccepted(); // every property of the schema was where it was asked for
    in.Rewind();
    second.Stream(in, size % 2 == 0);
    if (!first.SameAs(second))
        std::abort();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    GAME::World& world = TheWorld();
    for (int variant = 0; variant < 3; ++variant) {
        Values v;
        v.count = 3 + variant;
        v.name = GAME::Name::Create("Records/Creatures/Monster.dbr");
        v.coords = GAME::WorldCoords(world.GetRegion(variant % 2), GAME::Coords());
        v.array = std::vector<unsigned>(static_cast<size_t>(variant * 3), 7u);
        v.wide = u"wide text";
        v.id = GAME::UniqueId(9, 8, 7, static_cast<uint32_t>(variant));
        v.flag = variant == 1;
        v.big = 0xFFFFFFFFu;
        v.text = std::string(static_cast<size_t>(variant * 5), 'q');
        v.real = 0.5f * static_cast<float>(variant);
        v.late = -variant;
        GAME::IOStreamWrite out("seed", GAME::IOStream::IOSTREAM_DISK);
        v.Stream(out, true);
        if (variant == 2) // an extra unread block at the end
            out.BeginBlock();
        sink.Add("schema" + std::to_string(variant),
                 std::vector<uint8_t>(out.GetFileBuffer(), out.GetFileBuffer() + out.GetFileLength()));
    }
}
