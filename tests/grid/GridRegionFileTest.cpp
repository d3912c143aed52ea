// The stored form of a grid region: its layout, byte-exact round trips with portal links, the
// bare version 1 body, unknown blocks and versions, cut-short and oversized bodies (which fail the
// level they are in), and the word order of the ids, the same as every other format's.
#include "GridFixtures.h"

#include "common/UniqueIdBytes.h"
#include "datakit/WorldGenerator.h"
#include "terrain/GridEntrance.h"
#include "world/Level.h"
#include "world/Portal.h"
#include "world/World.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace GAME::GridTest {
namespace {

class GridRegionFileTest : public ::testing::Test
{
protected:
    GridEnvironment env;
    Region region{ABBox(Vec3(), Vec3(100, 100, 100))};
};

uint32_t Word(const std::vector<uint8_t>& bytes, size_t at)
{
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

bool HasSequence(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& sequence)
{
    return std::search(bytes.begin(), bytes.end(), sequence.begin(), sequence.end()) != bytes.end();
}

TEST_F(GridRegionFileTest, OneCellWritesNineLatticeBytesAndTwoFeatureBytes)
{
    GridRegion grid(nullptr);
    grid.SetSystem(bareSystem);
    grid.Resize(1, 1, 1);
    for (int i = 0; i <= 2; ++i)
        for (int k = 0; k <= 2; ++k)
            grid.SetLatticeValue(i, 0, k, 10 * i + k + 1);
    grid.SetCellFeature(0, 0, 0, 5, 3);
    const std::vector<uint8_t> body = SaveBody(grid);
    const std::string name = bareSystem;
    // version, block id and size, the name, three counts, 9 + 2 bytes; no link block.
    const size_t head = 4 + 8 + 4 + name.size() + 12;
    ASSERT_EQ(body.size(), head + 9 + 2);
    EXPECT_EQ(Word(body, 0), 2u);
    EXPECT_EQ(Word(body, 4), 1u);
    EXPECT_EQ(Word(body, 8), body.size() - 12) << "the block's size counts from after its size field";
    EXPECT_EQ(std::string(body.begin() + 16, body.begin() + 16 + name.size()), name);
    // The lattice with i outermost and k innermost, then the feature and its turn.
    const std::vector<uint8_t> lattice(body.begin() + head, body.begin() + head + 9);
    EXPECT_EQ(lattice, (std::vector<uint8_t>{1, 2, 3, 11, 12, 13, 21, 22, 23}));
    EXPECT_EQ(body[head + 9], 5);
    EXPECT_EQ(body[head + 10], 3);
}

TEST_F(GridRegionFileTest, RoundTripsAreByteExactWithLinksWhetherThePortalsAreOpenOrNot)
{
    GridWriter file = Room(4, 2);
    file.SetLattice(5, 1, 3, -7);
    file.SetFeature(1, 0, 0, SampleGridKit::doorFeature, 2);
    file.SetFeature(3, 1, 2, 4, 1);
    // Links in cell order: the doorway's, and one on a cell without a portal (kept as read).
    GridWriter::Link door;
    door.portalId = UniqueId(1, 2, 3, 4);
    door.connectedPortalId = UniqueId(5, 6, 7, 8);
    door.connectedRegionId = RegionId(9, 10, 11, 12);
    door.x = 1;
    GridWriter::Link other = door;
    other.portalId = UniqueId(13, 14, 15, 16);
    other.x = 2;
    other.y = 1;
    other.z = 3;
    file.links = {door, other};
    const std::vector<uint8_t> body = file.Write();

    GridRegion loaded(&region);
    ASSERT_TRUE(LoadBody(loaded, body));
    EXPECT_EQ(loaded.GetSystemFileName(), SampleGridKit::systemRecord);
    EXPECT_EQ(loaded.GetHighestVisibleFloor(), 1);
    EXPECT_EQ(loaded.GetLatticeValue(5, 1, 3), -7);
    EXPECT_EQ(SaveBody(loaded), body);
    loaded.PostLoad();
    ASSERT_EQ(region.GetNumPortals(), 1);
    EXPECT_EQ(SaveBody(loaded), body);

    // A grid whose system is not there builds nothing and still gives back every byte.
    GridWriter missing = file;
    missing.system = "records/grid/nothing.dbr";
    GridRegion unbuilt(&region);
    ASSERT_TRUE(LoadBody(unbuilt, missing.Write()));
    unbuilt.PostLoad();
    EXPECT_EQ(unbuilt.GetNumBuiltCells(), 0);
    EXPECT_EQ(SaveBody(unbuilt), missing.Write());

    // A grid with no portal and no link writes no link block, and reads back with no links.
    GridRegion plain(nullptr);
    ASSERT_TRUE(LoadBody(plain, Room(2).Write()));
    const std::vector<uint8_t> plainBody = SaveBody(plain);
    EXPECT_EQ(plainBody, Room(2).Write());
    GridRegion again(nullptr);
    ASSERT_TRUE(LoadBody(again, plainBody));
    EXPECT_TRUE(again.GetPortalLinks().empty());
}

TEST_F(GridRegionFileTest, AVersionOneBodyMadeByHandReadsAsTheSameGrid)
{
    // Version 1: the lattice body at once, no block header; 2 x 1 x 1 cells.
    BinaryWriter writer(64);
    writer.WriteUInt32(1);
    writer.WriteString(SampleGridKit::systemRecord);
    writer.WriteUInt32(2);
    writer.WriteUInt32(1);
    writer.WriteUInt32(1);
    for (int i = 0; i < 5 * 3; ++i) // i outermost, k innermost
        writer.WriteInt8(static_cast<int8_t>(i == 4 ? 1 : i % 2));
    writer.WriteInt8(SampleGridKit::doorFeature);
    writer.WriteInt8(3);
    writer.WriteInt8(0);
    writer.WriteInt8(2);
    const std::vector<uint8_t> v1(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());

    GridRegion grid(&region);
    ASSERT_TRUE(LoadBody(grid, v1));
    EXPECT_EQ(grid.GetXNumCells(), 2);
    EXPECT_EQ(grid.GetZNumCells(), 1);
    EXPECT_EQ(grid.GetLatticeValue(1, 0, 1), 1) << "(i, k) = (1, 1) is the fifth byte";
    EXPECT_EQ(grid.GetLatticeValue(1, 0, 0), 1);
    EXPECT_EQ(grid.GetLatticeValue(1, 0, 2), 1);
    EXPECT_EQ(grid.GetLatticeValue(2, 0, 0), 0);
    int feature, rotation;
    grid.GetCellFeature(0, 0, 0, feature, rotation);
    EXPECT_EQ(feature, SampleGridKit::doorFeature);
    EXPECT_EQ(rotation, 3);
    EXPECT_EQ(PieceOf(grid, 0, 0, 0), 15);
    grid.GetCellFeature(1, 0, 0, feature, rotation);
    EXPECT_EQ(rotation, 2);

    // Written back it is the version 2 form of the same grid.
    GridWriter same(SampleGridKit::systemRecord, 2, 1, 1);
    int n = 0;
    for (int i = 0; i <= 4; ++i)
        for (int k = 0; k <= 2; ++k, ++n)
            same.SetLattice(i, 0, k, n == 4 ? 1 : n % 2);
    same.SetFeature(0, 0, 0, SampleGridKit::doorFeature, 3);
    same.SetFeature(1, 0, 0, 0, 2);
    EXPECT_EQ(SaveBody(grid), same.Write(2));
    GridRegion fromWriter(nullptr);
    ASSERT_TRUE(LoadBody(fromWriter, same.Write(1)));
    EXPECT_EQ(SaveBody(fromWriter), same.Write(2));
}

TEST_F(GridRegionFileTest, UnknownBlocksAreSkippedAndUnknownVersionsRefused)
{
    GridWriter file = Room(2);
    file.extraBlocks = {{77, {1, 2, 3, 4, 5}}, {0, {}}};
    GridWriter::Link link;
    link.portalId = UniqueId(1, 1, 1, 1);
    link.x = 1;
    file.links = {link};
    GridRegion grid(nullptr);
    ASSERT_TRUE(LoadBody(grid, file.Write()));
    ASSERT_EQ(grid.GetPortalLinks().size(), 1u);
    EXPECT_EQ(grid.GetPortalLinks()[0].portalId, link.portalId);
    file.extraBlocks.clear();
    EXPECT_EQ(SaveBody(grid), file.Write()) << "unknown blocks are not written back";

    // Another version: refused, the links emptied, the grid otherwise as it was.
    std::vector<uint8_t> v3 = Room(3).Write();
    v3[0] = 3;
    env.log.Clear();
    EXPECT_FALSE(LoadBody(grid, v3));
    EXPECT_TRUE(env.log.Contains("version 3"));
    EXPECT_TRUE(grid.GetPortalLinks().empty());
    EXPECT_EQ(grid.GetXNumCells(), 2);
    EXPECT_EQ(grid.GetNumBuiltCells(), 4);
}

TEST_F(GridRegionFileTest, CutShortOrOversizedBodiesFailAndLeaveTheGridAsItWas)
{
    GridWriter file = Room(2, 2);
    file.SetFeature(1, 1, 1, SampleGridKit::doorFeature, 0);
    GridWriter::Link link;
    link.portalId = UniqueId(1, 2, 3, 4);
    link.x = link.y = link.z = 1;
    file.links = {link};
    const std::vector<uint8_t> body = file.Write();
    const std::vector<uint8_t> latticeEnd = Room(2, 2).Write();

    GridRegion grid(nullptr);
    ASSERT_TRUE(LoadBody(grid, Room(1).Write()));
    // Every prefix: one that ends inside the lattice block or the link block fails; one that ends
    // where a block would start (less than a block header left) reads what came before. Nothing is
    // read past the bytes given.
    for (size_t size = 0; size < body.size(); ++size) {
        SCOPED_TRACE(size);
        const std::vector<uint8_t> cut(body.begin(), body.begin() + static_cast<long>(size));
        GridRegion fresh(nullptr);
        const bool loaded = LoadBody(fresh, cut);
        if (size < 4) {
            EXPECT_FALSE(loaded) << "no version";
        } else if (size < 12) {
            EXPECT_TRUE(loaded) << "no block yet";
            EXPECT_EQ(fresh.GetXNumCells(), 0);
        } else if (size < latticeEnd.size()) {
            EXPECT_FALSE(loaded) << "the lattice block cut short";
            EXPECT_EQ(fresh.GetXNumCells(), 0);
        } else {
            EXPECT_EQ(loaded, size < latticeEnd.size() + 8) << "a link block cut short fails";
        }
    }

    // Counts the bytes cannot hold fail before anything is resized.
    BinaryWriter big(64);
    big.WriteUInt32(1);
    big.WriteString("");
    big.WriteUInt32(1000);
    big.WriteUInt32(1000);
    big.WriteUInt32(1000);
    big.WriteUInt32(0);
    EXPECT_FALSE(LoadBody(grid, std::vector<uint8_t>(big.GetBuffer(), big.GetBuffer() + big.GetSize())));
    EXPECT_EQ(grid.GetXNumCells(), 1);
    EXPECT_EQ(grid.GetNumBuiltCells(), 1);

    // A block whose size runs past the end, a link count past the end, a name past the end.
    std::vector<uint8_t> bad = Room(1).Write();
    for (uint8_t b : {99, 0, 0, 0, 0xFF, 0xFF, 0, 0})
        bad.push_back(b);
    EXPECT_FALSE(LoadBody(grid, bad));
    std::vector<uint8_t> links = Room(1).Write();
    for (uint8_t b : {2, 0, 0, 0, 4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x0F})
        links.push_back(b);
    EXPECT_FALSE(LoadBody(grid, links));
    std::vector<uint8_t> name = Room(1).Write();
    name[12] = 0xFF;
    name[13] = 0xFF;
    EXPECT_FALSE(LoadBody(grid, name));
    EXPECT_EQ(grid.GetXNumCells(), 1);

    // A name longer than any system name is read as none, and the rest of the block still is.
    BinaryWriter longName(2 * 1024 * 1024);
    longName.WriteUInt32(1);
    longName.WriteString(std::string(GridRegion::maxSystemNameLength + 1, 'a'));
    longName.WriteUInt32(1);
    longName.WriteUInt32(1);
    longName.WriteUInt32(1);
    for (int i = 0; i < 11; ++i)
        longName.WriteInt8(1);
    GridRegion named(nullptr);
    ASSERT_TRUE(LoadBody(
        named, std::vector<uint8_t>(longName.GetBuffer(), longName.GetBuffer() + longName.GetSize())));
    EXPECT_EQ(named.GetSystemFileName(), "");
    EXPECT_EQ(named.GetLatticeValue(1, 0, 1), 1);

    // No floors: a grid of 2^31 - 1 by 2^31 - 1 cells holds nothing, loads and saves at once.
    BinaryWriter flat(64);
    flat.WriteUInt32(1);
    flat.WriteString("");
    flat.WriteUInt32(0x7FFFFFFF);
    flat.WriteUInt32(0);
    flat.WriteUInt32(0x7FFFFFFF);
    GridRegion wide(nullptr);
    ASSERT_TRUE(LoadBody(wide, std::vector<uint8_t>(flat.GetBuffer(), flat.GetBuffer() + flat.GetSize())));
    EXPECT_EQ(wide.GetXNumCells(), 0x7FFFFFFF);
    EXPECT_LT(SaveBody(wide).size(), 64u);
    wide.Rotate();
    wide.UpdateTransparency(WorldVec3(&region, Vec3()), WorldVec3(&region, Vec3(1, 0, 1)), 10);
    EXPECT_EQ(wide.GetZNumCells(), 0x7FFFFFFF);
}

TEST_F(GridRegionFileTest, ALevelFailsToLoadWithABadGridAndLoadsWithAGoodOne)
{
    std::vector<uint8_t> good = GridWriter::LevelImage(Room(2).Write());
    Level level(&region);
    ASSERT_TRUE(level.Load(good.data(), static_cast<int>(good.size()), false));
    ASSERT_NE(level.GetGridRegion(), nullptr);
    EXPECT_EQ(level.GetGridRegion()->GetNumBuiltCells(), 4);
    EXPECT_EQ(level.GetBoundingBox(), ABBox::FromMinMax(Vec3(), Vec3(8, 6, 8)));

    std::vector<uint8_t> body = Room(2).Write();
    body.resize(body.size() - 3);
    std::vector<uint8_t> bad = GridWriter::LevelImage(body);
    env.log.Clear();
    Level broken(&region);
    EXPECT_FALSE(broken.Load(bad.data(), static_cast<int>(bad.size()), false));
    EXPECT_EQ(broken.GetGridRegion(), nullptr);
    EXPECT_TRUE(env.log.Contains("grid region cannot be loaded"));
}

// An entity of the level test below, deleted by the test itself.
class PlainEntity : public Entity
{
public:
    ~PlainEntity() override = default;
};

TEST_F(GridRegionFileTest, IdsAreStoredWordZeroFirstAsInTheLevelAndPortalFormats)
{
    const std::vector<uint8_t> uniqueBytes = GAME::Test::FixtureUniqueIdBytes();
    const std::vector<uint8_t> regionBytes = GAME::Test::FixtureRegionIdBytes();

    // The grid's link block.
    GridWriter file = Room(1);
    GridWriter::Link link;
    link.portalId = GAME::Test::fixtureUniqueId;
    link.connectedRegionId = GAME::Test::fixtureRegionId;
    file.links = {link};
    GridRegion grid(nullptr);
    ASSERT_TRUE(LoadBody(grid, file.Write()));
    const std::vector<uint8_t> saved = SaveBody(grid);
    std::vector<uint8_t> expected = uniqueBytes;
    expected.resize(32, 0);
    expected.insert(expected.end(), regionBytes.begin(), regionBytes.end());
    EXPECT_EQ(std::vector<uint8_t>(saved.end() - 60, saved.end() - 12), expected);

    // A level's entity record.
    Level level(&region);
    level.NewSpace(Vec2(10, 10));
    auto* entity = new PlainEntity();
    entity->SetObjectName("records/grid/bare.dbr");
    entity->SetUniqueID(GAME::Test::fixtureUniqueId);
    level.AddEntity(entity, Coords());
    BinaryWriter image(256);
    ASSERT_TRUE(level.SaveToMemory(image, false));
    EXPECT_TRUE(HasSequence(std::vector<uint8_t>(image.GetBuffer(), image.GetBuffer() + image.GetSize()),
                            uniqueBytes));
    level.RemoveEntity(entity);
    delete entity;

    // A grid entrance's block: the actor's data, then the ids; read back whole by another entrance.
    auto* entrance =
        ObjectManager::Get()->CreateObjectFromFileAs<GridEntrance>(SampleGridKit::entranceRecord);
    ASSERT_NE(entrance, nullptr);
    entrance->SetPortalId(GAME::Test::fixtureUniqueId);
    entrance->SetConnectedRegionId(GAME::Test::fixtureRegionId);
    BinaryWriter actorData(64);
    entrance->Tile::Write(actorData);
    BinaryWriter block(64);
    entrance->Write(block);
    expected.assign(actorData.GetBuffer(), actorData.GetBuffer() + actorData.GetSize());
    expected.insert(expected.end(), uniqueBytes.begin(), uniqueBytes.end());
    expected.resize(expected.size() + 16, 0);
    expected.insert(expected.end(), regionBytes.begin(), regionBytes.end());
    const std::vector<uint8_t> written(block.GetBuffer(), block.GetBuffer() + block.GetSize());
    EXPECT_EQ(written, expected);
    auto* copy = ObjectManager::Get()->CreateObjectFromFileAs<GridEntrance>(SampleGridKit::entranceRecord);
    ASSERT_NE(copy, nullptr);
    BinaryReader blockReader(written.data(), static_cast<unsigned>(written.size()));
    copy->Read(blockReader);
    EXPECT_FALSE(blockReader.Failed());
    EXPECT_EQ(blockReader.GetRemaining(), 0u);
    EXPECT_EQ(copy->GetPortalId(), GAME::Test::fixtureUniqueId);
    EXPECT_EQ(copy->GetConnectedRegionId(), GAME::Test::fixtureRegionId);
    ObjectManager::Get()->DestroyObjectEx(copy, __FILE__, __LINE__);
    ObjectManager::Get()->DestroyObjectEx(entrance, __FILE__, __LINE__);

    // A portal chunk: its ids are read in the same order.
    World world;
    world.AddRegion("levels/fixture.lvl", IntVec3(), ABBox(Vec3(), Vec3(10, 10, 10)),
                    GAME::Test::fixtureRegionId);
    std::vector<uint8_t> chunk = {1, 0, 0, 0};
    chunk.insert(chunk.end(), regionBytes.begin(), regionBytes.end());
    chunk.insert(chunk.end(), uniqueBytes.begin(), uniqueBytes.end());
    BinaryWriter frame(64);
    frame.WriteCoords(Coords());
    chunk.insert(chunk.end(), frame.GetBuffer(), frame.GetBuffer() + frame.GetSize());
    chunk.insert(chunk.end(), 4 + 16 + 16, 0);
    DataKit::PortalChunkReader reader(&world);
    BinaryReader chunkReader(chunk.data(), static_cast<unsigned>(chunk.size()));
    reader.ReadChunk(chunkReader);
    ASSERT_EQ(reader.GetNumPlaced(), 1);
    EXPECT_NE(world.GetRegion(0)->GetPortal(GAME::Test::fixtureUniqueId), nullptr);
}

} // namespace
} // namespace GAME::GridTest
