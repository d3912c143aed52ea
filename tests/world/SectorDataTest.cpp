#include "common/LogCapture.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "platform/FatalError.h"
#include "world/AmbientSectorData.h"
#include "world/BossSectorData.h"
#include "world/FogSectorData.h"
#include "world/NameSectorData.h"

#include "WorldFixtures.h"

#include <gtest/gtest.h>

namespace GAME {
namespace {

using Kind = SectorDataManager::Kind;

std::vector<uint8_t> SaveToMemory(const SectorDataManager& manager)
{
    BinaryWriter writer(64);
    manager.Save(writer);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

// A record's common part as the file stores it.
void WriteCommon(BinaryWriter& w, const std::string& name, const UniqueId& id)
{
    w.WriteUInt32(1);
    w.WriteString(name);
    w.WriteUniqueIdReversed(id);
    for (int i = 0; i < 8; ++i)
        w.WriteFloat(0.25f);
}

TEST(SectorDataTest, FileRoundTripKeepsEveryKindAndField)
{
    GAME::Test::WorldTestServices services;
    SectorDataManager& saved = services.sectorData;
    for (unsigned kind = 0; kind < SectorDataManager::NUM_SECTOR_KINDS; ++kind) {
        saved.NewSectorData(kind);
        saved.NewSectorData(kind);
    }
    saved.NewSectorData(SectorDataManager::NUM_SECTOR_KINDS); // adds nothing
    EXPECT_TRUE(saved.IsModified());

    FogSectorData fog = *static_cast<FogSectorData*>(saved.GetSectorData(Kind::SECTOR_FOG, 1u));
    fog.SetName("Mist");
    fog.SetFloat(17, -3.5f);
    fog.SetInt(3, -7);
    saved.SetSectorData(Kind::SECTOR_FOG, 1, fog);
    NameSectorData name = *static_cast<NameSectorData*>(saved.GetSectorData(Kind::SECTOR_NAME, 0u));
    name.SetTextTag("tagCrypt");
    name.SetFirstVisitOnly(false);
    name.SetCinematic(true);
    saved.SetSectorData(Kind::SECTOR_NAME, 0, name);
    AmbientSectorData ambient;
    ambient.SetMusicPlaylist("Records/Music/Crypt.dbr");
    ambient.SetAmbientPlaylist("drips");
    ambient.SetEventMusic("fanfare");
    saved.SetSectorData(Kind::SECTOR_AMBIENT, 1, ambient);
    // A record of another kind does not replace one.
    saved.SetSectorData(Kind::SECTOR_BOSS, 0, ambient);
    EXPECT_EQ(saved.GetSectorData(Kind::SECTOR_AMBIENT, ambient.GetId()),
              saved.GetSectorData(Kind::SECTOR_AMBIENT, 1u));

    ASSERT_TRUE(saved.Save("maps/crypt.sd"));
    SectorDataManager loaded;
    ASSERT_TRUE(loaded.Load("maps/crypt.sd"));
    EXPECT_FALSE(loaded.IsModified());
    for (unsigned kind = 0; kind < SectorDataManager::NUM_SECTOR_KINDS; ++kind) {
        ASSERT_EQ(loaded.GetNumSectorData(kind), 2u);
        for (unsigned i = 0; i < 2; ++i) {
            const SectorData* a = saved.GetSectorData(kind, i);
            const SectorData* b = loaded.GetSectorData(kind, i);
            EXPECT_EQ(a->GetName(), b->GetName());
            EXPECT_EQ(a->GetId(), b->GetId());
            EXPECT_EQ(a->GetRenderColorAlpha(), b->GetRenderColorAlpha());
            EXPECT_EQ(a->GetRenderColorOmega(), b->GetRenderColorOmega());
        }
    }
    auto* fogBack = static_cast<FogSectorData*>(loaded.GetSectorData(Kind::SECTOR_FOG, fog.GetId()));
    ASSERT_NE(fogBack, nullptr);
    EXPECT_EQ(fogBack->GetName(), "Mist");
    EXPECT_EQ(fogBack->GetFloat(17), -3.5f);
    EXPECT_EQ(fogBack->GetFloat(0), 1.0f);
    EXPECT_EQ(fogBack->GetInt(1), 50);
    EXPECT_EQ(fogBack->GetInt(3), -7);
    auto* nameBack = static_cast<NameSectorData*>(loaded.GetSectorData(Kind::SECTOR_NAME, name.GetId()));
    EXPECT_EQ(nameBack->GetTextTag(), "tagCrypt");
    EXPECT_FALSE(nameBack->GetFirstVisitOnly());
    EXPECT_TRUE(nameBack->GetCinematic());
    auto* ambientBack = static_cast<AmbientSectorData*>(loaded.GetSectorData(Kind::SECTOR_AMBIENT, 1u));
    EXPECT_EQ(ambientBack->GetMusicPlaylist(), "Records/Music/Crypt.dbr");
    EXPECT_EQ(ambientBack->GetAmbientPlaylist(), "drips");
    EXPECT_EQ(ambientBack->GetEventMusic(), "fanfare");

    // Ids are stored last word first.
    const std::vector<uint8_t> bytes = SaveToMemory(saved);
    const UniqueId id = saved.GetSectorData(Kind::SECTOR_FOG, 0u)->GetId();
    BinaryReader reader(bytes.data(), static_cast<unsigned>(bytes.size()));
    reader.Skip(4 * 4 + 4); // file version, kinds, kind version, count, record version
    std::string storedName;
    reader.ReadString(storedName);
    EXPECT_EQ(reader.ReadUInt32(), id.GetWord(3));
    EXPECT_EQ(reader.ReadUInt32(), id.GetWord(2));

    // Loading appends; a missing file changes nothing.
    EXPECT_TRUE(loaded.Load("maps/crypt.sd"));
    EXPECT_EQ(loaded.GetNumSectorData(Kind::SECTOR_BOSS), 4u);
    EXPECT_FALSE(loaded.Load("maps/none.sd"));
    EXPECT_EQ(loaded.GetNumSectorData(Kind::SECTOR_BOSS), 4u);
}

TEST(SectorDataTest, OlderKindVersionsAndFewerKindsKeepDefaults)
{
    const UniqueId nameId(1, 2, 3, 4), ambientId(5, 6, 7, 8);
    BinaryWriter w(64);
    w.WriteUInt32(1);
    w.WriteUInt32(3); // fog, name and ambient only
    w.WriteUInt32(1); // fog
    w.WriteUInt32(0);
    w.WriteUInt32(1); // name, version 1: no first-visit flag
    w.WriteUInt32(1);
    WriteCommon(w, "Hall", nameId);
    w.WriteString("tagHall");
    w.WriteBool(true);
    w.WriteUInt32(1); // ambient, version 1: no event music
    w.WriteUInt32(1);
    WriteCommon(w, "Wind", ambientId);
    w.WriteString("music");
    w.WriteString("wind");

    SectorDataManager manager;
    manager.NewSectorData(Kind::SECTOR_BOSS);
    BinaryReader reader(w.GetBuffer(), w.GetSize());
    ASSERT_TRUE(manager.Load(reader));
    auto* name = static_cast<NameSectorData*>(manager.GetSectorData(Kind::SECTOR_NAME, nameId));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->GetName(), "Hall");
    EXPECT_TRUE(name->GetFirstVisitOnly());
    EXPECT_TRUE(name->GetCinematic());
    auto* ambient = static_cast<AmbientSectorData*>(manager.GetSectorData(Kind::SECTOR_AMBIENT, ambientId));
    ASSERT_NE(ambient, nullptr);
    EXPECT_EQ(ambient->GetAmbientPlaylist(), "wind");
    EXPECT_TRUE(ambient->GetEventMusic().empty());
    EXPECT_EQ(manager.GetNumSectorData(Kind::SECTOR_BOSS), 1u);
    EXPECT_EQ(manager.GetRenderColorAlpha(Kind::SECTOR_NAME, nameId), Color(0.25f, 0.25f, 0.25f, 0.25f));
    EXPECT_EQ(manager.GetRenderColorOmega(Kind::SECTOR_NAME, ambientId), Color(0.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_FALSE(manager.IsValidSectorValue(Kind::SECTOR_AMBIENT, nameId));
}

TEST(SectorDataTest, DeletingKeepsTheOrderOfTheRest)
{
    SectorDataManager manager;
    for (int i = 0; i < 3; ++i)
        manager.NewSectorData(Kind::SECTOR_NAME);
    const UniqueId second = manager.GetSectorData(Kind::SECTOR_NAME, 1u)->GetId();
    const UniqueId third = manager.GetSectorData(Kind::SECTOR_NAME, 2u)->GetId();
    manager.DeleteSectorData(Kind::SECTOR_NAME, 0);
    manager.DeleteSectorData(Kind::SECTOR_NAME, 7);
    ASSERT_EQ(manager.GetNumSectorData(Kind::SECTOR_NAME), 2u);
    EXPECT_EQ(manager.GetSectorData(Kind::SECTOR_NAME, 0u)->GetId(), second);
    EXPECT_EQ(manager.GetSectorData(Kind::SECTOR_NAME, 1u)->GetId(), third);
    EXPECT_EQ(manager.GetSectorData(Kind::SECTOR_NAME, 2u), nullptr);
}

TEST(SectorDataTest, CorruptDataIsRefusedAndChangesNothing)
{
    SectorDataManager source;
    source.NewSectorData(Kind::SECTOR_FOG);
    source.NewSectorData(Kind::SECTOR_AMBIENT);
    const std::vector<uint8_t> good = SaveToMemory(source);

    auto refused = [](std::vector<uint8_t> bytes) {
        GAME::Test::LogCapture log;
        SectorDataManager manager;
        manager.NewSectorData(Kind::SECTOR_BOSS);
        BinaryReader reader(bytes.data(), static_cast<unsigned>(bytes.size()));
        const bool loaded = manager.Load(reader);
        const bool unchanged = manager.GetNumSectorData(Kind::SECTOR_FOG) == 0 &&
                               manager.GetNumSectorData(Kind::SECTOR_BOSS) == 1;
        return !loaded && unchanged && log.Count() > 0;
    };
    // Every truncation.
    for (size_t size = 0; size < good.size(); ++size)
        EXPECT_TRUE(refused(std::vector<uint8_t>(good.begin(), good.begin() + size))) << size;
    // A record count past the data.
    std::vector<uint8_t> count = good;
    count[12] = 0xFF;
    count[15] = 0x7F;
    EXPECT_TRUE(refused(count));
    // A name length past the data.
    std::vector<uint8_t> name = good;
    name[23] = 0x01;
    EXPECT_TRUE(refused(name));
}

TEST(SectorDataTest, SaveReportsWhatCouldNotBeWritten)
{
    GAME::Test::WorldTestServices services;
    services.sectorData.NewSectorData(Kind::SECTOR_FOG);
    ASSERT_TRUE(services.dir.Write("taken/keep", "x"));
    GAME::Test::LogCapture log;
    static std::vector<std::string> shown;
    shown.clear();
    Platform::SetErrorMessageHook(
        [](const std::string& title, const std::string& text) { shown.push_back(title + "|" + text); });
    // A folder stands where the file should go.
    EXPECT_FALSE(services.sectorData.Save("taken"));
    Platform::SetErrorMessageHook(nullptr);
    EXPECT_TRUE(log.Contains("Could not write taken", 2));
    // The user sees it too, in an untitled error box.
    EXPECT_EQ(shown, std::vector<std::string>{"|Could not write taken"});
}

} // namespace
} // namespace GAME
