// Fog-of-war files read into a fog of the size their header names (kept small), in two forms (the
// first byte's low bit):
//   0  the rest is the file itself, whatever its header, byte count and checksum say;
//   1  the rest is a fog for the target to frame as its writer would: width and height (two bytes
//      each, little-endian, kept below 256), a fault (one byte: 0 to 3 none, then a wrong
//      magic, version, size, cell edge, byte count, length or checksum), an edit (x and z, one
//      byte each, and a radius), then the cell bits, cut or padded to the grid's bytes.
// No crash, no hang. A refused file leaves the fog fresh (every cell in fog). An accepted one
// saves back to the same bytes, and answers as the target reads its bits on its own: a cell's
// centre is in fog exactly when its bit is clear, the seen cells are the bits set among the
// grid's cells (not the spare bits of the last byte), and once a circle is seen, the cells whose
// centres it covers are seen too and no others change.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "navigation/FogOfWar.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kHeaderSize = 20;

uint32_t Word(const uint8_t* data)
{
    return uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
}

void Put(std::vector<uint8_t>& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t Fnv1a(const uint8_t* data, size_t size)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

struct Edit
{
    float x = 0.0f, z = 0.0f;
    int radius = -1;
};

// The file of a width x height fog (one unit a cell: these fogs are far below the cell limit) with
// the given cell bytes, spoiled as the fault says.
std::vector<uint8_t> Frame(uint32_t width, uint32_t height, unsigned fault, const uint8_t* bits, size_t size)
{
    const size_t count = (size_t(width) * height + 7) / 8;
    std::vector<uint8_t> cells(count, 0);
    std::copy(bits, bits + std::min(size, count), cells.begin());
    std::vector<uint8_t> file = {'F', 'O', 'W', GAME::FogOfWar::fileVersion};
    Put(file, width);
    Put(file, height);
    Put(file, 1);
    Put(file, static_cast<uint32_t>(count));
    file.insert(file.end(), cells.begin(), cells.end());
    Put(file, Fnv1a(cells.data(), cells.size()));
    switch (fault) {
    case 4: file[1] = 'X'; break;
    case 5: file[3] = GAME::FogOfWar::fileVersion + 1; break;
    case 6: file[4] ^= 1; break;
    case 7: file[12] = 2; break;
    case 8: file[16] ^= 1; break;
    case 9: file.pop_back(); break;
    case 10: file.back() ^= 0x80; break;
    default: break;
    }
    return file;
}

bool Seen(const std::vector<uint8_t>& bits, uint64_t cell)
{
    return (bits[cell / 8] >> (cell % 8)) & 1;
}

// The fog against the cell bits read from the file: a cell's centre is in fog exactly when its
// bit is clear, and the seen cells are those set.
void Compare(const GAME::FogOfWar& fog, const std::vector<uint8_t>& bits, unsigned columns, unsigned rows)
{
    unsigned seen = 0;
    const uint64_t cells = uint64_t(columns) * rows;
    // Every cell of a small grid, every 7th of a larger one.
    const uint64_t step = cells <= 4096 ? 1 : 7;
    for (uint64_t cell = 0; cell < cells; ++cell) {
        seen += Seen(bits, cell);
        if (cell % step != 0)
            continue;
        const GAME::Vec3 centre(static_cast<float>(cell % columns) + 0.5f, 0.0f, static_cast<float>(cell / columns) + 0.5f);
        if (fog.IsInFog(centre) == Seen(bits, cell))
            std::abort();
    }
    if (fog.GetNumSeenCells() != seen)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    if (size < 1)
        return 0;
    std::vector<uint8_t> file;
    Edit edit;
    if (data[0] & 1) {
        if (size < 9)
            return 0;
        const uint32_t width = (data[1] | data[2] << 8) % 256u, height = (data[3] | data[4] << 8) % 256u;
        edit.x = static_cast<float>(data[6]) * 0.37f;
        edit.z = static_cast<float>(data[7]) * 0.41f;
        edit.radius = data[8] % 40;
        file = Frame(width, height, data[5] % 11, data + 9, size - 9);
    } else {
        file.assign(data + 1, data + size);
    }
    const uint32_t width = file.size() >= 12 ? Word(file.data() + 4) % 2048u : 0;
    const uint32_t height = file.size() >= 12 ? Word(file.data() + 8) % 2048u : 0;

    GAME::FogOfWar fog;
    fog.Initialize(static_cast<int>(width), static_cast<int>(height));
    const unsigned columns = fog.GetNumColumns(), rows = fog.GetNumRows();
    if (!fog.Load(file.data(), file.size(), "fuzz.fow")) {
        // Fresh fog: nothing seen.
        if (fog.GetNumSeenCells() != 0 || (columns > 0 && rows > 0 && !fog.IsInFog(GAME::Vec3(0.5f, 0.0f, 0.5f))))
            std::abort();
        return 0;
    }
    FuzzAccepted();
    if (fog.GetCellSize() != 1 || file.size() != kHeaderSize + (uint64_t(columns) * rows + 7) / 8 + 4)
        std::abort();
    std::vector<uint8_t> bits(file.begin() + kHeaderSize, file.end() - 4);
    const std::vector<uint8_t> saved = fog.Save();
    if (saved != file)
        std::abort();
    Compare(fog, bits, columns, rows);
    if (!fog.IsInFog(GAME::Vec3(-0.5f, 0.0f, 0.5f)) || !fog.IsInFog(GAME::Vec3(0.5f, 0.0f, static_cast<float>(rows) + 0.5f)))
        std::abort();

    // A circle seen: the cells whose centres it covers (to within rounding) are seen, others keep.
    if (edit.radius >= 0) {
        fog.AddVisibility(GAME::Vec3(edit.x, 0.0f, edit.z), edit.radius);
        for (uint64_t cell = 0; cell < uint64_t(columns) * rows; ++cell) {
            const double dx = static_cast<double>(cell % columns) + 0.5 - edit.x;
            const double dz = static_cast<double>(cell / columns) + 0.5 - edit.z;
            const double d2 = dx * dx + dz * dz, r2 = double(edit.radius) * edit.radius;
            // On the circle (to within rounding) either way will do: the fog's answer is taken.
            const bool onCircle = std::fabs(d2 - r2) < 1e-3;
            const GAME::Vec3 centre(static_cast<float>(cell % columns) + 0.5f, 0.0f,
                                    static_cast<float>(cell / columns) + 0.5f);
            if (d2 < r2 || (onCircle && !fog.IsInFog(centre)))
                bits[cell / 8] |= static_cast<uint8_t>(1u << (cell % 8));
        }
        Compare(fog, bits, columns, rows);
    }
    GAME::FogOfWar again;
    again.Initialize(static_cast<int>(width), static_cast<int>(height));
    const std::vector<uint8_t> edited = fog.Save();
    if (!again.Load(edited.data(), edited.size(), "again.fow") || again.Save() != edited)
        std::abort();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    auto raw = [](const std::vector<uint8_t>& file) {
        std::vector<uint8_t> input(file.size() + 1, 0);
        std::copy(file.begin(), file.end(), input.begin() + 1);
        return input;
    };
    GAME::FogOfWar fog;
    fog.Initialize(64, 40);
    sink.Add("fresh", raw(fog.Save()));
    fog.AddVisibility(GAME::Vec3(20, 0, 20), 6);
    sink.Add("seen", raw(fog.Save()));
    GAME::FogOfWar empty;
    empty.Initialize(0, 0);
    sink.Add("empty", raw(empty.Save()));
    std::vector<uint8_t> odd = fog.Save();
    odd[kHeaderSize] ^= 1; // the checksum no longer holds
    sink.AddRefused("bad-checksum", raw(odd));

    // Framed: a 13 x 7 grid with a diagonal seen and a circle to see; then one of each fault.
    std::vector<uint8_t> framed = {1, 13, 0, 7, 0, 0, 12, 9, 5};
    for (int i = 0; i < 12; ++i)
        framed.push_back(static_cast<uint8_t>(0x81 << (i % 3)));
    sink.Add("framed", framed);
    for (uint8_t fault = 4; fault <= 10; ++fault) {
        framed[5] = fault;
        sink.AddRefused("framed-fault" + std::to_string(fault), framed);
    }
    // Spare bits set in the last byte of a 3 x 3 grid: nine cells, one seen.
    sink.Add("spare-bits", std::vector<uint8_t>{1, 3, 0, 3, 0, 0, 0, 0, 255, 0xF0, 0xFF});
}
