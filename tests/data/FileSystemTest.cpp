#include "data/FileSystem.h"
#include "DataFixtures.h"
#include "common/FullDisk.h"
#include "common/LogCapture.h"
#include "common/SpecialFiles.h"
#include "common/TempDir.h"
#include "common/WaitUntil.h"
#include "data/FileSourceArchive.h"
#include "data/FileSourceDirectory.h"
#include "data/FileStream.h"
#include "data/FileUtilities.h"
#include "platform/Directory.h"
#include "platform/OldBytesCopy.h"
#include "platform/PathResolve.h"
#include "platform/PlatformFile.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

namespace GAME {
namespace {

std::string Contents(FileSystem& fs, const char* name)
{
    File* file = fs.OpenFile(name, FILE_MODE_READ);
    if (!file)
        return "<missing>";
    std::string text;
    if (file->GetLength()) {
        const void* data = file->Lock();
        text = data ? std::string(static_cast<const char*>(data), file->GetLength()) : "<lock failed>";
        file->Unlock();
    }
    fs.CloseFile(file);
    return text;
}

std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Partition 0: Mod/ (a folder) and Mod/Resources/Creatures.arc; partition 1: Game/ and
// Game/Resources/*.arc, with names on disk in mixed case.
class FileSystemTree : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.Write("Game/Records/Items/Sword.DBR", "game sword"));
        ASSERT_TRUE(dir.Write("Game/Records/Items/Shield.dbr", "game shield"));
        ASSERT_TRUE(dir.Write("Game/Settings.TXT", "settings"));
        ASSERT_TRUE(dir.Write("Game/.hidden/Secret.txt", "hidden"));
        ASSERT_TRUE(dir.Write("Mod/records/items/SWORD.dbr", "mod sword"));
        ASSERT_TRUE(Platform::CreateDirectories(dir.File("Game/Resources")));
        ASSERT_TRUE(Platform::CreateDirectories(dir.File("Mod/Resources")));
        ASSERT_TRUE(GAME::Test::WriteArchive(dir.File("Game/Resources/Creatures.arc"),
                                             {{"monster/a.msh", Bytes("game monster"), 6},
                                              {"monster/b.msh", Bytes("only in game"), 0},
                                              {"records/items/sword.dbr", Bytes("never seen"), 0}}));
        ASSERT_TRUE(GAME::Test::WriteArchive(dir.File("Game/Resources/Levels.ARC"),
                                             {{"one.lvl", Bytes("level one"), 6}}));
        ASSERT_TRUE(dir.Write("Game/Resources/NotAnArchive.txt", "x"));
        ASSERT_TRUE(GAME::Test::WriteArchive(dir.File("Mod/Resources/Creatures.arc"),
                                             {{"monster/a.msh", Bytes("mod monster"), 6}}));

        ASSERT_TRUE(
            fs.AddSource(FileSystem::PARTITION_0, dir.File("Mod/Resources").c_str(), false, true, false));
        ASSERT_TRUE(fs.AddSource(FileSystem::PARTITION_0, dir.File("Mod").c_str(), false, false, false));
        ASSERT_TRUE(
            fs.AddSource(FileSystem::PARTITION_1, dir.File("Game/Resources").c_str(), false, true, true));
        ASSERT_TRUE(fs.AddSource(FileSystem::PARTITION_1, dir.File("Game").c_str(), false, false, false));
    }

    GAME::Test::TempDir dir;
    FileSystem fs;
};

TEST_F(FileSystemTree, SearchOrderIsPartitionThenOrderOfAdding)
{
    ASSERT_EQ(fs.GetSources(FileSystem::PARTITION_0).size(), 2u);
    ASSERT_EQ(fs.GetSources(FileSystem::PARTITION_1).size(), 3u); // Creatures.arc, Levels.ARC, Game/
    EXPECT_EQ(Contents(fs, "creatures/monster/a.msh"), "mod monster");
    EXPECT_EQ(Contents(fs, "creatures/monster/b.msh"), "only in game");
    EXPECT_EQ(Contents(fs, "records/items/sword.dbr"), "mod sword");
    EXPECT_EQ(Contents(fs, "records/items/shield.dbr"), "game shield");
    EXPECT_EQ(Contents(fs, "levels/one.lvl"), "level one");
    // Once the mod's partition is gone, the game's sources answer.
    fs.RemoveSourcesFromPartition(FileSystem::PARTITION_0);
    EXPECT_EQ(Contents(fs, "creatures/monster/a.msh"), "game monster");
    EXPECT_EQ(Contents(fs, "records/items/sword.dbr"), "game sword");
}

TEST_F(FileSystemTree, NamesIgnoreCaseAndBackslashes)
{
    EXPECT_EQ(Contents(fs, "Records\\Items\\Shield.DBR"), "game shield");
    EXPECT_EQ(Contents(fs, "SETTINGS.txt"), "settings");
    EXPECT_EQ(Contents(fs, "Creatures\\Monster\\B.MSH"), "only in game");
    EXPECT_EQ(Contents(fs, "./creatures/monster/b.msh"), "only in game");
    EXPECT_EQ(Contents(fs, "/creatures/monster/b.msh"), "only in game");
    EXPECT_EQ(Contents(fs, "other/monster/b.msh"), "<missing>");
    EXPECT_EQ(Contents(fs, "creatures"), "<missing>");
    EXPECT_EQ(fs.OpenFile(nullptr, FILE_MODE_READ), nullptr);
    EXPECT_TRUE(fs.DoesFileExist("records/ITEMS/sword.dbr"));
    EXPECT_FALSE(fs.DoesFileExist("records/items/axe.dbr"));
    EXPECT_EQ(fs.GetFileSize("settings.txt"), 8);
    EXPECT_EQ(fs.GetFileSize("missing.txt"), 0);

    std::string full;
    ASSERT_TRUE(fs.FindFullFilePath("Records\\Items\\Shield.dbr", full));
    EXPECT_EQ(full, dir.File("Game/Records/Items/Shield.dbr"));
    ASSERT_TRUE(fs.FindFullFilePath("creatures/monster/b.msh", full));
    EXPECT_EQ(full, dir.File("Game/Resources/Creatures.arc/monster/b.msh"));
    EXPECT_FALSE(fs.FindFullFilePath("nothing", full));
}

TEST_F(FileSystemTree, MatchingFilesAreSortedAndUnique)
{
    std::vector<std::string> found;
    fs.GetMatchingFiles(found, "*.dbr");
    std::vector<std::string> expected = {"Creatures/records/items/sword.dbr", "Records/Items/Shield.dbr",
                                         "Records/Items/Sword.DBR", "records/items/SWORD.dbr"};
    EXPECT_EQ(found, expected);
    found.clear();
    fs.GetMatchingFiles(found, "*.msh");
    EXPECT_EQ(found, (std::vector<std::string>{"Creatures/monster/a.msh", "Creatures/monster/b.msh"}));
    found.clear();
    fs.GetMatchingFiles(found, "*");
    EXPECT_EQ(std::count(found.begin(), found.end(), "Creatures/monster/a.msh"), 1);
    EXPECT_EQ(std::count(found.begin(), found.end(), ".hidden/Secret.txt"), 0); // dot folders are skipped

    auto* directory = static_cast<FileSourceDirectory*>(fs.GetSources(FileSystem::PARTITION_1)[2]);
    EXPECT_EQ(directory->FindFileInDirectoryTree("sword.dbr"), "Records/Items/Sword.DBR");
    EXPECT_EQ(directory->FindFileInDirectoryTree("nothing"), "");
    auto* archive = static_cast<FileSourceArchive*>(fs.GetSources(FileSystem::PARTITION_1)[0]);
    EXPECT_EQ(archive->GetArchiveName(), "Creatures");
    EXPECT_EQ(archive->FindFileInDirectoryTree("b.msh"), "monster/b.msh");
}

TEST_F(FileSystemTree, WritingCreatesFoldersAndHonoursReadOnly)
{
    File* file = fs.OpenFile("Saves\\Slot1\\Player.chr", FILE_MODE_WRITE);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->Write(0, "hello", 5));
    EXPECT_TRUE(file->Write(10, "!", 1));
    EXPECT_EQ(file->Lock(0, 1), nullptr); // nothing to map in a file being written
    fs.CloseFile(file);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(dir.Read("Mod/saves/slot1/player.chr"), std::string("hello\0\0\0\0\0!", 11));
    EXPECT_EQ(Contents(fs, "saves/slot1/player.chr").size(), 11u);

    // An existing file keeps its real name when rewritten.
    file = fs.OpenFile("records/items/sword.dbr", FILE_MODE_WRITE);
    ASSERT_NE(file, nullptr);
    file->Write(0, "new", 3);
    fs.CloseFile(file);
    EXPECT_EQ(dir.Read("Mod/records/items/SWORD.dbr"), "new");

    // Archives refuse writing; the mod folder takes the new file.
    file = fs.OpenFile("creatures/monster/a.msh", FILE_MODE_WRITE);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->GetSource(), fs.GetSources(FileSystem::PARTITION_0)[1]);
    fs.CloseFile(file);

    EXPECT_TRUE(fs.IsFileWriteable("settings.txt"));
    ASSERT_TRUE(SetFileReadOnly(dir.File("Game/Settings.TXT").c_str(), true));
    ASSERT_TRUE(SetFileReadOnly(dir.File("Mod/records/items/SWORD.dbr").c_str(), true));
    auto* mod = fs.GetSources(FileSystem::PARTITION_0)[1];
    EXPECT_FALSE(mod->IsFileWriteable("records/items/sword.dbr"));
    EXPECT_TRUE(fs.IsFileWriteable("records/items/sword.dbr")); // the game folder's copy can be
    EXPECT_EQ(mod->OpenFile("records/items/sword.dbr", FILE_MODE_WRITE), nullptr);
    auto* game = fs.GetSources(FileSystem::PARTITION_1)[2];
    EXPECT_FALSE(game->IsFileWriteable("settings.txt"));
    EXPECT_FALSE(fs.GetSources(FileSystem::PARTITION_1)[0]->IsFileWriteable("creatures/monster/a.msh"));
    ASSERT_TRUE(SetFileReadOnly(dir.File("Game/Settings.TXT").c_str(), false));
    EXPECT_TRUE(game->IsFileWriteable("settings.txt"));
}

TEST_F(FileSystemTree, LocksPastTheEndAreRefused)
{
    for (const char* name : {"settings.txt", "creatures/monster/a.msh", "creatures/monster/b.msh"}) {
        File* file = fs.OpenFile(name, FILE_MODE_READ);
        ASSERT_NE(file, nullptr) << name;
        unsigned length = file->GetLength();
        EXPECT_EQ(file->Lock(0, length + 1), nullptr) << name;
        EXPECT_EQ(file->Lock(length, 1), nullptr) << name;
        EXPECT_EQ(file->Lock(0xFFFFFFFFu, 2), nullptr) << name;
        EXPECT_EQ(file->Lock(0, 0), nullptr) << name;
        const char* tail = static_cast<const char*>(file->Lock(length - 2, 2));
        ASSERT_NE(tail, nullptr) << name;
        std::string content = Contents(fs, name);
        EXPECT_EQ(std::string(tail, 2), content.substr(content.size() - 2)) << name;
        file->Unlock();
        EXPECT_FALSE(file->Write(0, "x", 1)) << name; // opened for reading
        fs.CloseFile(file);
    }
}

TEST_F(FileSystemTree, ArchivesClosedWhenIdleOpenOnlyWhileInUse)
{
    auto* source = static_cast<FileSourceArchive*>(fs.GetSources(FileSystem::PARTITION_1)[0]);
    Archive* archive = source->GetArchive();
    EXPECT_FALSE(archive->IsOpen());
    File* a = fs.OpenFile("creatures/monster/b.msh", FILE_MODE_READ);
    File* b = fs.OpenFile("creatures/monster/b.msh", FILE_MODE_READ);
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(archive->IsOpen());
    EXPECT_EQ(source->GetOpenFileCount(), 2);
    fs.CloseFile(a);
    EXPECT_TRUE(archive->IsOpen());
    EXPECT_EQ(std::string(static_cast<const char*>(b->Lock()), 12), "only in game");
    fs.CloseFile(b);
    EXPECT_FALSE(archive->IsOpen());
    EXPECT_EQ(source->GetOpenFileCount(), 0);
    // Looking a file up does not open the archive.
    EXPECT_FALSE(fs.DoesFileExist("creatures/monster/zzz.msh"));
    EXPECT_FALSE(archive->IsOpen());
}

TEST_F(FileSystemTree, TimesComeFromDiskAndArchiveEntries)
{
    FileTime time;
    ASSERT_TRUE(fs.GetFileTime("Settings.txt", time));
    uint64_t ticks = 0;
    ASSERT_TRUE(Platform::GetFileLastWriteTime(dir.File("Game/Settings.TXT"), ticks));
    EXPECT_EQ(time.Ticks(), ticks);
    FileTime archived;
    ASSERT_TRUE(fs.GetFileTime("creatures/monster/a.msh", archived));
    EXPECT_NE(archived.Ticks(), 0u);
    FileTime unchanged{7, 9};
    EXPECT_FALSE(fs.GetFileTime("nothing", unchanged));
    EXPECT_EQ(unchanged, (FileTime{7, 9}));
    EXPECT_EQ(fs.CompareFileTimes("settings.txt", time), 0);
    EXPECT_EQ(fs.CompareFileTimes("settings.txt", FileTime::FromTicks(ticks + 1)), -1);
    EXPECT_EQ(fs.CompareFileTimes("settings.txt", "nothing"), 1);
    EXPECT_EQ(fs.CompareFileTimes("nothing", "settings.txt"), -1);
}

TEST_F(FileSystemTree, StreamsReadTheWholeFile)
{
    std::string big(100000, 'q');
    big[99999] = 'z';
    ASSERT_TRUE(dir.Write("Game/Big.bin", big));
    EXPECT_EQ(fs.OpenFileStream("creatures/monster/a.msh"), nullptr); // archives have no streams
    FileStream* stream = fs.OpenFileStream("big.bin");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->GetLength(), 100000u);
    int status;
    int rounds = 0;
    while ((status = stream->ReadNext(8192)) == FileStream::READ_STARTED ||
           status == FileStream::READ_IN_PROGRESS)
        ASSERT_LT(++rounds, 100);
    EXPECT_EQ(status, FileStream::READ_END_OF_FILE);
    EXPECT_EQ(stream->GetBytesRead(), 100000u);
    EXPECT_EQ(std::string(static_cast<const char*>(stream->GetBuffer()), 100000), big);
    fs.CloseFileStream(stream);
    EXPECT_EQ(stream, nullptr);
}

TEST(FileSystem, SourcesThatCannotAttachAreNotAdded)
{
    GAME::Test::TempDir dir;
    GAME::Test::LogCapture log;
    FileSystem fs;
    EXPECT_FALSE(fs.AddSource(FileSystem::PARTITION_0, dir.File("missing").c_str(), false, false, false));
    EXPECT_TRUE(fs.AddSource(FileSystem::PARTITION_0, dir.File("missing").c_str(), false, true, false));
    EXPECT_FALSE(fs.AddSourceArchive(FileSystem::PARTITION_1, dir.File("none.arc").c_str(), false));
    EXPECT_FALSE(fs.AddSourceArchive(FileSystem::PARTITION_1, nullptr, false));
    EXPECT_TRUE(log.Contains("Unable to open archive file"));
    EXPECT_TRUE(fs.GetSources(FileSystem::PARTITION_0).empty());
    EXPECT_TRUE(fs.GetSources(FileSystem::PARTITION_1).empty());
    EXPECT_TRUE(fs.AddSource(FileSystem::PARTITION_1, nullptr, false, false, false)); // unattached, empty
    EXPECT_EQ(fs.OpenFile("x", FILE_MODE_READ), nullptr);
    EXPECT_FALSE(fs.IsFileWriteable("x"));
    std::string converted = "A\\B/C.TXT";
    FileSystem::ConvertFileName(converted);
    EXPECT_EQ(converted, "a/b/c.txt");
}

TEST(FileSystem, Crc32StartsFromZeroWithoutTheFinalInversion)
{
    const unsigned char text[] = "123456789";
    // zlib's CRC starts from all ones and inverts at the end; undo both.
    unsigned expected = ~static_cast<unsigned>(crc32(0xFFFFFFFFul, text, 9)) & 0xFFFFFFFFu;
    EXPECT_EQ(Crc32(text, 9), expected);
    EXPECT_NE(Crc32(text, 9), static_cast<unsigned>(crc32(0, text, 9)));
    EXPECT_EQ(Crc32(text, 0), 0u);
    EXPECT_EQ(Crc32(text, -5), 0u);
}

TEST(PathResolve, ComponentsMatchRealNamesRegardlessOfCase)
{
    GAME::Test::TempDir dir;
    ASSERT_TRUE(dir.Write("Data/Textures/Stone.TGA", "s"));
    std::string real;
    ASSERT_TRUE(Platform::ResolveExistingPath(dir.Path() + "\\data\\TEXTURES\\stone.tga", real));
    EXPECT_EQ(real, dir.File("Data/Textures/Stone.TGA"));
    EXPECT_FALSE(Platform::ResolveExistingPath(dir.File("data/textures/missing.tga"), real));
    EXPECT_EQ(Platform::ResolvePathForCreate(dir.File("DATA/New/File.bin")), dir.File("Data/New/File.bin"));
    // The exact spelling wins over another case.
    ASSERT_TRUE(dir.Write("Data/stone.tga", "lower"));
    ASSERT_TRUE(dir.Write("Data/STONE.tga", "upper"));
    ASSERT_TRUE(Platform::ResolveExistingPath(dir.File("data/STONE.tga"), real));
    EXPECT_EQ(real, dir.File("Data/STONE.tga"));
    ASSERT_TRUE(Platform::ResolveExistingPath(dir.File("data/Stone.tga"), real));
    EXPECT_EQ(real, dir.File("Data/STONE.tga")); // no exact match: the first in byte order

    ASSERT_TRUE(CreateDirectoryPath((dir.Path() + "\\Made\\Here\\file.txt").c_str()));
    EXPECT_TRUE(Platform::DirectoryExists(dir.File("Made/Here")));
    EXPECT_FALSE(Platform::DirectoryExists(dir.File("Made/Here/file.txt")));
    EXPECT_TRUE(HasDriveSpecifier("C:\\x"));
    EXPECT_FALSE(HasDriveSpecifier("/x"));

    std::vector<Platform::DirectoryEntry> entries;
    ASSERT_TRUE(Platform::ListDirectory(dir.File("data"), entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "STONE.tga"); // byte order
    EXPECT_TRUE(entries[1].isDirectory);
    EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end(),
                               [](const auto& a, const auto& b) { return a.name < b.name; }));
}

// A POSIX ACL as the system stores it: user::rw-, user:65534:rw-, group::r--, mask::rw-,
// other::---, the named user being nobody.
std::string AccessList()
{
    std::string bytes;
    auto put = [&bytes](uint32_t value, size_t size) {
        bytes.append(reinterpret_cast<const char*>(&value), size);
    };
    put(2, 4); // version
    const uint32_t none = 0xFFFFFFFFu;
    const std::vector<std::array<uint32_t, 3>> entries = {
        {0x01, 6, none}, {0x02, 6, 65534}, {0x04, 4, none}, {0x10, 6, none}, {0x20, 0, none}};
    for (const auto& entry : entries) {
        put(entry[0], 2);
        put(entry[1], 2);
        put(entry[2], 4);
    }
    return bytes;
}

std::string Attribute(const std::string& path, const char* name)
{
    char value[256];
    const ssize_t size = ::getxattr(path.c_str(), name, value, sizeof value);
    return size < 0 ? std::string("none") : std::string(value, static_cast<size_t>(size));
}

// A stored file is replaced whole or not at all: a save that fails part way (a full disk), at any
// point, or one never closed, leaves the old file byte for byte and nothing beside it; one that
// succeeds keeps the old file's permissions (whatever the process's mask), ACL and attributes, and
// removes what saves of ended processes (killed part way) left beside the file, but nothing of a
// live process, of any user, nor of another file, however long the names. Only what the user keeps
// waits for the disk.
TEST(PlatformFile, ASaveThatFailsLeavesTheOldFileWholeAndNothingBesideIt)
{
    namespace fs = std::filesystem;
    GAME::Test::TempDir dir;
    std::string old(4000, 'o'), fresh(4000, 'n');
    old[1234] = 'x';
    ASSERT_TRUE(dir.Write("Saves/World.wrl", old));
    const fs::perms permissions = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                  fs::perms::group_write | fs::perms::others_read;
    fs::permissions(dir.File("Saves/World.wrl"), permissions);
    const mode_t mask = ::umask(022);
    const std::string path = dir.File("saves/WORLD.wrl"); // resolved to the real names
    const std::vector<std::string> names = {"World.wrl"};
    for (const int64_t limit : {int64_t{0}, int64_t{1}, int64_t{300}, int64_t{3999}}) {
        GAME::Test::FullDisk disk(limit);
        Platform::PlatformFile file;
        ASSERT_TRUE(file.Open(path, Platform::FileOpenMode::Write));
        // In pieces, as the writers write.
        bool written = true;
        for (size_t at = 0; at < fresh.size(); at += 1000)
            written = file.WriteAt(at, fresh.data() + at, 1000) && written;
        EXPECT_FALSE(written) << limit;
        EXPECT_FALSE(file.Close()) << limit;
        EXPECT_EQ(file.GetError(), "No space left on device") << limit;
        EXPECT_EQ(dir.Read("Saves/World.wrl"), old) << limit;
        EXPECT_EQ(GAME::Test::FolderNames(dir.File("Saves")), names) << limit;
    }
    {
        Platform::PlatformFile file;
        ASSERT_TRUE(file.Open(path, Platform::FileOpenMode::Write));
        EXPECT_TRUE(file.WriteAt(0, fresh.data(), fresh.size()));
    }
    EXPECT_EQ(dir.Read("Saves/World.wrl"), old);
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Saves")), names);

    auto hex = [](unsigned value) {
        char text[16];
        std::snprintf(text, sizeof text, "%x", value);
        return std::string(text);
    };
    // Leftovers of ended saves: a reaped child's, and one past the largest process id there can be.
    const std::string ended = hex(static_cast<unsigned>(GAME::Test::EndedProcessId()));
    const std::string stray = ".World.wrl." + ended;
    const std::vector<std::string> killed = {stray + ".0.part", stray + ".1f.part",
                                             ".World.wrl.400000.3.part"};
    // A live process's (this one's, init's), and names of another shape.
    std::vector<std::string> kept = {".World.wrl." + hex(static_cast<unsigned>(::getpid())) + ".2.part",
                                     ".World.wrl.1.0.part",
                                     stray + ".0.part.old",
                                     stray + ".x.part",
                                     stray + "-0.part",
                                     "World.wrl." + ended + ".0.part",
                                     ".World.wrl2." + ended + ".0.part",
                                     "World.wrl"};
    for (const std::string& name : killed)
        ASSERT_TRUE(dir.Write("Saves/" + name, "killed part way"));
    for (size_t i = 0; i + 1 < kept.size(); ++i)
        ASSERT_TRUE(dir.Write("Saves/" + kept[i], "not a leftover"));
    std::sort(kept.begin(), kept.end());

    // The scratch mode neither syncs nor clears; a save of the user's syncs the file and its folder.
    const uint64_t syncs = Platform::GetThreadFileSyncCount();
    ASSERT_TRUE(Platform::WriteWholeFile(path, old.data(), old.size(), nullptr,
                                         Platform::FileOpenMode::WriteUnsynced));
    EXPECT_EQ(Platform::GetThreadFileSyncCount(), syncs);
    EXPECT_EQ(dir.Read("Saves/World.wrl"), old);
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Saves")).size(), kept.size() + killed.size());
    ASSERT_TRUE(Platform::WriteWholeFile(path, fresh.data(), fresh.size()));
    EXPECT_EQ(Platform::GetThreadFileSyncCount(), syncs + 2);
    EXPECT_EQ(dir.Read("Saves/World.wrl"), fresh);
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Saves")), kept);
    EXPECT_EQ(fs::status(dir.File("Saves/World.wrl")).permissions() & fs::perms::all, permissions);
    ::umask(mask);

    // Two long names alike in their first 200 bytes: what a killed save of one left beside it is
    // not the other's to remove.
    const std::string start = dir.File("Long/" + std::string(200, 'n'));
    const std::string campaign = start + "_campaign.sav", settings = start + "_settings.cfg";
    fs::create_directories(dir.File("Long"));
    ASSERT_TRUE(Platform::WriteWholeFile(campaign, old.data(), old.size()));
    ASSERT_TRUE(Platform::WriteWholeFile(settings, old.data(), old.size()));
    {
        GAME::Test::StoppedChild killed([&] {
            auto* file = new Platform::PlatformFile; // left open as the process ends
            if (!file->Open(campaign, Platform::FileOpenMode::Write) || !file->WriteAt(0, fresh.data(), 100))
                ::_exit(1);
        });
        ASSERT_EQ(killed.GetRefusal(), "");
    }
    ASSERT_EQ(GAME::Test::FolderNames(dir.File("Long")).size(), 3u);
    ASSERT_TRUE(Platform::WriteWholeFile(settings, fresh.data(), fresh.size()));
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Long")).size(), 3u);
    ASSERT_TRUE(Platform::WriteWholeFile(campaign, fresh.data(), fresh.size()));
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Long")).size(), 2u);

    if (::geteuid() != 0)
        GTEST_SKIP() << "trusted attributes, other users and their processes need root";
    // Who may use it stays: the user nobody may write it, a member of its group only read it; its
    // own attributes stay too. Replaced in a folder whose default ACL would let nobody write, a
    // file without an ACL gets none.
    const std::string shared = dir.File("Acl/Shared.sav"), plain = dir.File("Inherit/Plain.sav");
    ASSERT_TRUE(dir.Write("Acl/Shared.sav", old));
    ASSERT_TRUE(dir.Write("Inherit/Plain.sav", old));
    ::chmod(plain.c_str(), 0640);
    const std::string withNobody = AccessList();
    ASSERT_EQ(::setxattr(shared.c_str(), "system.posix_acl_access", withNobody.data(), withNobody.size(), 0),
              0);
    ASSERT_EQ(::setxattr(dir.File("Inherit").c_str(), "system.posix_acl_default", withNobody.data(),
                         withNobody.size(), 0),
              0);
    ASSERT_EQ(::setxattr(shared.c_str(), "user.campaign", "north", 5, 0), 0);
    ASSERT_EQ(::setxattr(shared.c_str(), "trusted.origin", "editor", 6, 0), 0);
    const std::string acl = Attribute(shared, "system.posix_acl_access");
    ASSERT_TRUE(Platform::WriteWholeFile(shared, fresh.data(), fresh.size()));
    ASSERT_TRUE(Platform::WriteWholeFile(plain, fresh.data(), fresh.size()));
    EXPECT_EQ(dir.Read("Acl/Shared.sav"), fresh);
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Acl")), (std::vector<std::string>{"Shared.sav"}));
    EXPECT_EQ(Attribute(shared, "system.posix_acl_access"), acl);
    EXPECT_EQ(Attribute(shared, "user.campaign"), "north");
    EXPECT_EQ(Attribute(shared, "trusted.origin"), "editor");
    EXPECT_EQ(Attribute(plain, "system.posix_acl_access"), "none");
    auto writable = [](const std::string& path, unsigned uid, unsigned gid) {
        bool opens = false;
        const std::string refused = GAME::Test::RunAsUser(uid, gid, [&] {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            opens = fd >= 0;
            if (fd >= 0)
                ::close(fd);
        });
        EXPECT_EQ(refused, "");
        return opens;
    };
    EXPECT_TRUE(writable(shared, 65534, 65534));
    EXPECT_FALSE(writable(shared, 12345, 0));
    EXPECT_FALSE(writable(plain, 65534, 65534));

    // A save by another user (nobody) keeps the leftover of a live process it may not signal, and
    // removes an ended one's.
    GAME::Test::StoppedChild live([] {
        if (::setuid(12345) != 0)
            ::_exit(1);
    });
    ASSERT_EQ(live.GetRefusal(), "");
    ASSERT_TRUE(dir.Write("Nobody/Own.sav", old));
    ASSERT_EQ(::chown(dir.File("Nobody").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown(dir.File("Nobody/Own.sav").c_str(), 65534, 65534), 0);
    const std::string others = ".Own.sav." + hex(static_cast<unsigned>(live.GetPid())) + ".0.part";
    ASSERT_TRUE(dir.Write("Nobody/" + others, "a live save"));
    ASSERT_TRUE(dir.Write("Nobody/.Own.sav." + ended + ".0.part", "killed part way"));
    const std::string asNobody = GAME::Test::RunAsUser(65534, 65534, [&] {
        std::string error;
        EXPECT_TRUE(Platform::WriteWholeFile(dir.File("Nobody/Own.sav"), fresh.data(), fresh.size(), &error))
            << error;
    });
    ASSERT_EQ(asNobody, "");
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Nobody")), (std::vector<std::string>{others, "Own.sav"}));
}

// A save never replaces what is not a plain file. A link stays a link, even one whose file is
// missing; a FIFO or a character device takes the bytes as a stream, and a FIFO nobody reads is
// refused at once; the file open behind a process's descriptor link (/dev/stdout is one) is
// written where it is; a block device is refused.
TEST(PlatformFile, ASaveNeverReplacesWhatIsNotAPlainFile)
{
    namespace fs = std::filesystem;
    GAME::Test::TempDir dir;
    const std::string bytes = "saved bytes";
    auto save = [&bytes](const std::string& path, std::string* error = nullptr) {
        return Platform::WriteWholeFile(path, bytes.data(), bytes.size(), error);
    };
    auto readAll = [](int fd) {
        char buffer[256];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        return std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0);
    };
    std::string error;
    ASSERT_TRUE(dir.Write("Saves/out.log", "what the process printed before"));

    fs::create_symlink("named.cfg", dir.File("Saves/link.cfg"));
    ASSERT_TRUE(save(dir.File("Saves/link.cfg")));
    EXPECT_TRUE(fs::is_symlink(dir.File("Saves/link.cfg")));
    EXPECT_EQ(dir.Read("Saves/named.cfg"), bytes);
    fs::create_symlink("loop.b", dir.File("Saves/loop.a"));
    fs::create_symlink("loop.a", dir.File("Saves/loop.b"));
    EXPECT_FALSE(save(dir.File("Saves/loop.a"), &error));
    EXPECT_EQ(error, "Too many levels of symbolic links");
    EXPECT_TRUE(fs::is_symlink(dir.File("Saves/loop.a")));

    // The open file, not its name: the descriptor still leads to the named file afterwards.
    const int out = ::open(dir.File("Saves/out.log").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(out, 0);
    fs::create_symlink("/dev/fd/" + std::to_string(out), dir.File("Saves/stdout"));
    for (const std::string& path : {"/proc/self/fd/" + std::to_string(out), dir.File("Saves/stdout")}) {
        ASSERT_TRUE(dir.Write("Saves/out.log", "what the process printed before"));
        ASSERT_TRUE(save(path, &error)) << path << ": " << error;
        EXPECT_EQ(dir.Read("Saves/out.log"), bytes) << path;
        struct stat opened, named;
        ASSERT_EQ(::fstat(out, &opened), 0);
        ASSERT_EQ(::stat(dir.File("Saves/out.log").c_str(), &named), 0);
        EXPECT_EQ(opened.st_ino, named.st_ino) << path;
    }
    ::close(out);

    // A pipe behind one (the standard output of a program piped into another) takes the bytes.
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    EXPECT_TRUE(save("/dev/fd/" + std::to_string(ends[1]), &error)) << error;
    EXPECT_EQ(readAll(ends[0]), bytes);
    ::close(ends[0]);
    EXPECT_FALSE(save("/dev/fd/" + std::to_string(ends[1]), &error));
    EXPECT_EQ(error, "its reader went away");
    ::close(ends[1]);

    // A FIFO: refused while nobody reads it; read, it takes the bytes; a reader that goes away
    // part way fails the save (and does not end the process).
    const std::string fifo = dir.File("Saves/fifo");
    std::string refused = GAME::Test::MakeNode(fifo, 'p');
    ASSERT_TRUE(refused.empty()) << refused;
    EXPECT_FALSE(save(fifo, &error));
    EXPECT_EQ(error, "no process has the FIFO open for reading");
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(save(fifo, &error)) << error;
    EXPECT_EQ(readAll(reader), bytes);
    {
        Platform::PlatformFile file;
        ASSERT_TRUE(file.Open(fifo, Platform::FileOpenMode::Write));
        EXPECT_TRUE(file.WriteAt(0, "abc", 3));
        EXPECT_FALSE(file.WriteAt(0, "abc", 3)); // a stream goes on where it was
        ::close(reader);
        EXPECT_FALSE(file.WriteAt(3, "def", 3));
        EXPECT_FALSE(file.Close());
        EXPECT_EQ(file.GetError(), "Illegal seek");
    }
    {
        const int again = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        Platform::PlatformFile file;
        ASSERT_TRUE(file.Open(fifo, Platform::FileOpenMode::Write));
        ::close(again);
        EXPECT_FALSE(file.WriteAt(0, "abc", 3));
        EXPECT_EQ(file.GetError(), "its reader went away");
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    {
        // A reader that takes a little now and then holds the save no longer, in all, than the
        // bound: the megabyte would take it seconds.
        GAME::Test::SaveWaitLimit limit(300);
        const int slow = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(slow, 0);
        std::atomic<bool> done{false};
        std::thread reader([&] {
            char piece[4096];
            while (!done.load()) {
                (void)!::read(slow, piece, sizeof piece);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        // Written in pieces, each of which the reader takes within the bound.
        const std::string piece(8192, 'm');
        Platform::PlatformFile file;
        ASSERT_TRUE(file.Open(fifo, Platform::FileOpenMode::Write));
        bool written = true;
        for (uint64_t at = 0; written && at < (1u << 20); at += piece.size())
            written = file.WriteAt(at, piece.data(), piece.size());
        EXPECT_FALSE(written);
        EXPECT_FALSE(file.Close());
        EXPECT_EQ(file.GetError(), "its reader kept it waiting 300 ms in all");
        done = true;
        reader.join();
        ::close(slow);
    }

    // Device nodes (root): a character device takes the bytes, a block device is refused. Major
    // 240 is for local use: no driver stands behind the node.
    refused = GAME::Test::MakeNode(dir.File("Saves/null"), 'c', 1, 3);
    if (!refused.empty())
        GTEST_SKIP() << refused;
    EXPECT_TRUE(save(dir.File("Saves/null"), &error)) << error;
    EXPECT_TRUE(fs::is_character_file(dir.File("Saves/null")));
    ASSERT_EQ(GAME::Test::MakeNode(dir.File("Saves/disk"), 'b', 240, 0), "");
    EXPECT_FALSE(save(dir.File("Saves/disk"), &error));
    EXPECT_EQ(error, "it is not a plain file (a block device or a socket)");
    EXPECT_TRUE(fs::is_block_file(dir.File("Saves/disk")));
    const std::vector<std::string> names = {"disk",      "fifo", "link.cfg", "loop.a", "loop.b",
                                            "named.cfg", "null", "out.log",  "stdout"};
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Saves")), names);
}

// What cannot be replaced without changing the file (a second link, another owner or group, a
// folder where no new file can be made, a file mounted over the name, before the save or during
// it, a file system that will not move it) is written in place: the same file, owner and links; a
// save that fails there, is never closed or is killed puts the old bytes back, and two never mix.
// A file the process may not write is refused, whatever its folder allows.
TEST(PlatformFile, AFileThatCannotBeReplacedIsWrittenInPlaceAndAFailedSavePutsItsOldBytesBack)
{
    namespace fs = std::filesystem;
    GAME::Test::TempDir dir;
    // What fails runs past the old end, what succeeds ends before it: both ends are cut.
    std::string old(4000, 'o'), longer(6000, 'l'), fresh(3000, 'n');
    old[1234] = 'x';
    auto identity = [](const std::string& path) {
        struct stat st;
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return std::vector<uint64_t>{st.st_ino, st.st_uid, st.st_gid, st.st_nlink};
    };
    // Fails at several points while the disk fills, and once never closed.
    auto failedSaves = [&](const std::string& name) {
        const std::string path = dir.File(name);
        for (const int64_t limit : {int64_t{0}, int64_t{1}, int64_t{5999}}) {
            GAME::Test::FullDisk disk(limit);
            Platform::PlatformFile file;
            ASSERT_TRUE(file.Open(path, Platform::FileOpenMode::Write)) << file.GetError();
            bool written = true;
            for (size_t at = 0; at < longer.size(); at += 1000)
                written = file.WriteAt(at, longer.data() + at, 1000) && written;
            EXPECT_FALSE(written) << limit;
            EXPECT_FALSE(file.Close()) << limit;
            EXPECT_EQ(file.GetError(), "No space left on device") << limit;
            EXPECT_EQ(dir.Read(name), old) << name << " " << limit;
        }
        Platform::PlatformFile file;
        ASSERT_TRUE(file.Open(path, Platform::FileOpenMode::Write));
        EXPECT_TRUE(file.WriteAt(0, fresh.data(), fresh.size()));
    };

    // Two links: both names see the new bytes.
    ASSERT_TRUE(dir.Write("Saves/World.wrl", old));
    fs::create_hard_link(dir.File("Saves/World.wrl"), dir.File("Saves/Backup.wrl"));
    const std::vector<uint64_t> linked = identity(dir.File("Saves/World.wrl"));
    failedSaves("Saves/World.wrl");
    EXPECT_EQ(dir.Read("Saves/World.wrl"), old);

    // A save killed part way leaves a mix, which the next open of the file, by either name, puts
    // back to the old bytes first: a load reads them, a save that fails leaves them. While the
    // saving process lives, the file is its own: another save or a read waits for it (and gives up
    // with the reason), its bytes left alone.
    const std::string mix = longer.substr(0, 3000) + old.substr(3000);
    auto killedPartWay = [&](const std::function<void()>& whileAlive, const std::string& name = "Saves/World.wrl",
                             size_t written = 3000) {
        const std::string before = dir.Read(name);
        GAME::Test::StoppedChild saving([&] {
            auto* file = new Platform::PlatformFile; // left open as the process ends
            if (!file->Open(dir.File(name), Platform::FileOpenMode::Write) || !file->WriteAt(0, longer.data(), written))
                ::_exit(1);
        });
        ASSERT_EQ(saving.GetRefusal(), "");
        ASSERT_EQ(dir.Read(name), longer.substr(0, written) + before.substr(std::min(written, before.size())));
        whileAlive();
        saving.Kill();
    };
    // What a game loads: the whole file through the platform layer, or why it could not.
    auto readAll = [](Platform::PlatformFile& file) {
        uint64_t size = 0;
        std::string bytes;
        if (file.GetSize(size))
            bytes.resize(static_cast<size_t>(size));
        if (file.ReadAt(0, bytes.data(), bytes.size()) != static_cast<int64_t>(bytes.size()))
            return std::string("unreadable");
        return bytes;
    };
    auto load = [&readAll](const std::string& path) {
        Platform::PlatformFile file;
        if (!file.Open(path, Platform::FileOpenMode::Read))
            return "refused: " + file.GetError();
        return readAll(file);
    };
    killedPartWay([&] {
        GAME::Test::SaveWaitLimit limit(200);
        std::string error;
        EXPECT_FALSE(
            Platform::WriteWholeFile(dir.File("Saves/World.wrl"), fresh.data(), fresh.size(), &error));
        EXPECT_EQ(error, "another save of the file was still under way after 200 ms");
        EXPECT_EQ(
            load(dir.File("Saves/World.wrl")),
            "refused: a save of it, or the putting back of a killed one, was still under way after 200 ms");
        EXPECT_EQ(dir.Read("Saves/World.wrl"), mix);
    });
    {
        Platform::MappedFile loaded;
        ASSERT_TRUE(loaded.Open(dir.File("Saves/Backup.wrl")));
        Platform::MappedView view;
        const char* bytes = static_cast<const char*>(view.Map(loaded, 0, old.size()));
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(std::string(bytes, old.size()), old);
        EXPECT_EQ(loaded.GetSize(), old.size());
    }
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Saves")),
              (std::vector<std::string>{"Backup.wrl", "World.wrl"}));
    // Two opens of a killed file at once: the second finds the first putting the old bytes back and
    // waits for it, then reads them, or writes after them. The syncs in order: a put-back syncs the
    // bytes, then the unmarking, before the copy goes; a save in place its copy, the folder and the
    // file's mark before the file's first byte, then the file, then its unmarking before the copy.
    for (const bool update : {false, true}) {
        killedPartWay([] {});
        const uint64_t syncs = Platform::GetThreadFileSyncCount();
        std::atomic<bool> waiting{false}, done{false};
        std::string second;
        std::vector<std::string> removals;
        std::thread opener;
        Platform::SetOldBytesHook([&](Platform::OldBytesStage stage, const std::string& copy) {
            waiting = waiting || stage == Platform::OldBytesStage::Waiting;
            if (stage == Platform::OldBytesStage::Removing)
                removals.push_back(std::to_string(Platform::GetThreadFileSyncCount() - syncs) +
                                   Attribute(dir.File("Saves/World.wrl"), "user.engine.old-bytes") +
                                   std::to_string(fs::exists(copy)));
            if (stage != Platform::OldBytesStage::Proven || opener.joinable())
                return;
            opener = std::thread([&] {
                Platform::PlatformFile file;
                second = !update ? load(dir.File("Saves/Backup.wrl"))
                         : file.Open(dir.File("Saves/Backup.wrl"), Platform::FileOpenMode::Update) &&
                                 file.WriteAt(0, "second", 6) && file.Close()
                             ? "written"
                             : file.GetError();
                done = true;
            });
            EXPECT_TRUE(GAME::Test::WaitUntil([&] { return waiting || done; }));
        });
        // The first open's read comes after the second's write, which it would otherwise race.
        const std::string after = update ? "second" + old.substr(6) : old;
        {
            Platform::PlatformFile first;
            const bool opened = first.Open(dir.File("Saves/World.wrl"), Platform::FileOpenMode::Read);
            if (opener.joinable())
                opener.join();
            ASSERT_TRUE(opened) << first.GetError();
            EXPECT_EQ(readAll(first), after);
        }
        EXPECT_TRUE(waiting);
        EXPECT_EQ(second, update ? "written" : old);
        EXPECT_EQ(dir.Read("Saves/World.wrl"), after);
        Platform::PlatformFile file;
        ASSERT_TRUE(file.Open(dir.File("Saves/World.wrl"), Platform::FileOpenMode::Write));
        EXPECT_EQ(Platform::GetThreadFileSyncCount() - syncs, 5u);
        EXPECT_TRUE(file.WriteAt(0, old.data(), old.size()) && file.Close());
        Platform::SetOldBytesHook({});
        EXPECT_EQ(removals, (std::vector<std::string>{"2none1", "7none1"}));
    }
    killedPartWay([] {});
    failedSaves("Saves/World.wrl");
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Saves")),
              (std::vector<std::string>{"Backup.wrl", "World.wrl"}));
    bool waited = false;
    std::thread second;
    killedPartWay([&] {
        second = std::thread([&] {
            waited = Platform::WriteWholeFile(dir.File("Saves/World.wrl"), longer.data(), longer.size());
        });
    });
    second.join();
    EXPECT_TRUE(waited);
    EXPECT_EQ(dir.Read("Saves/World.wrl"), longer);
    ASSERT_TRUE(Platform::WriteWholeFile(dir.File("Saves/World.wrl"), fresh.data(), fresh.size()));
    EXPECT_EQ(dir.Read("Saves/Backup.wrl"), fresh);
    EXPECT_EQ(identity(dir.File("Saves/World.wrl")), linked);
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Saves")),
              (std::vector<std::string>{"Backup.wrl", "World.wrl"}));

    // The old bytes are the file's, not a folder's: after a kill that wrote past the old end, an
    // open by any name (a link from another folder, a hard link elsewhere) puts them back whole, at
    // their size; a save or an update through another name settles the kill for good, so no open
    // after it puts the old bytes back over what it wrote.
    fs::create_directories(dir.File("Elsewhere"));
    fs::create_directories(dir.File("Links"));
    fs::create_hard_link(dir.File("Saves/World.wrl"), dir.File("Elsewhere/World.wrl"));
    fs::create_symlink("../Saves/World.wrl", dir.File("Links/World.wrl"));
    ASSERT_TRUE(Platform::WriteWholeFile(dir.File("Saves/World.wrl"), old.data(), old.size()));
    killedPartWay([] {}, "Saves/World.wrl", 5000);
    const std::string earlierCopy = dir.Read("Saves/" + GAME::Test::FolderNames(dir.File("Saves"))[0]);
    EXPECT_EQ(load(dir.File("Links/World.wrl")), old);
    killedPartWay([] {}, "Saves/World.wrl", 5000);
    ASSERT_TRUE(Platform::WriteWholeFile(dir.File("Elsewhere/World.wrl"), fresh.data(), fresh.size()));
    EXPECT_EQ(load(dir.File("Saves/World.wrl")), fresh);
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Saves")),
              (std::vector<std::string>{"Backup.wrl", "World.wrl"}));
    killedPartWay([] {}, "Saves/World.wrl", 5000);
    {
        Platform::PlatformFile updated;
        ASSERT_TRUE(updated.Open(dir.File("Elsewhere/World.wrl"), Platform::FileOpenMode::Update));
        EXPECT_TRUE(updated.WriteAt(0, "updated", 7));
        EXPECT_TRUE(updated.Close());
    }
    EXPECT_EQ(load(dir.File("Saves/World.wrl")), "updated" + fresh.substr(7));
    EXPECT_EQ(load(dir.File("Links/World.wrl")), "updated" + fresh.substr(7));

    // Only a copy proven the file's goes back, and only over that file. A killed save's copy beside
    // a new file, named and headed as that file's copy would be (as when the new file took the dead
    // one's inode), is not; a new file given another file's mark with the rest of its attributes (as
    // `cp -a` does) is refused, as it holds what a killed save left, until a save writes it whole. A
    // copy that is gone leaves the file unreadable, with the reason, until a save writes it whole.
    killedPartWay([] {}, "Saves/World.wrl", 5000);
    const std::vector<std::string> withCopy = GAME::Test::FolderNames(dir.File("Saves"));
    ASSERT_EQ(withCopy.size(), 3u);
    const std::string copyPath = dir.File("Saves/" + withCopy[0]);
    ASSERT_TRUE(dir.Write("Saves/New.wrl", "a new file"));
    struct stat made;
    ASSERT_EQ(::stat(dir.File("Saves/New.wrl").c_str(), &made), 0);
    const std::string copy = dir.Read("Saves/" + withCopy[0]);
    std::string copied = copy;
    const uint64_t inode = made.st_ino;
    ASSERT_GE(copied.size(), 24u);
    std::memcpy(copied.data() + 16, &inode, sizeof inode);
    char named[64];
    std::snprintf(named, sizeof named, "Saves/.old-bytes.%llx.%llx", static_cast<unsigned long long>(made.st_dev),
                  static_cast<unsigned long long>(made.st_ino));
    ASSERT_TRUE(dir.Write(named, copied));
    EXPECT_EQ(load(dir.File("Saves/New.wrl")), "a new file");
    char mark[4096];
    const ssize_t markSize = ::getxattr(dir.File("Saves/World.wrl").c_str(), "user.engine.old-bytes", mark, sizeof mark);
    ASSERT_GT(markSize, 0);
    ASSERT_EQ(::setxattr(dir.File("Saves/New.wrl").c_str(), "user.engine.old-bytes", mark,
                         static_cast<size_t>(markSize), 0),
              0);
    EXPECT_EQ(load(dir.File("Saves/New.wrl")),
              "refused: it carries the mark of another file's save killed part way: it was copied while that "
              "save wrote it (a save of it clears the mark)");
    ASSERT_TRUE(Platform::WriteWholeFile(dir.File("Saves/New.wrl"), fresh.data(), fresh.size()));
    EXPECT_EQ(load(dir.File("Saves/New.wrl")), fresh);
    fs::remove(dir.File(named));
    fs::remove(dir.File("Saves/New.wrl"));
    const std::string refused = "refused: a save of it was killed part way, and its old bytes, kept in " +
                                fs::canonical(dir.File("Saves")).string() + "/" + withCopy[0] + ", are gone (";
    // An earlier kill's copy of this file in its place is not this kill's; nor is one of another
    // device, inode or token, of a size not its header's, one far larger not held by the disk (a
    // sparse file: nothing of it is written), a FIFO (never opened), a link to the copy.
    struct stat world;
    ASSERT_EQ(::stat(dir.File("Saves/World.wrl").c_str(), &world), 0);
    auto with = [&copy](size_t at, uint64_t value) {
        std::string bytes = copy;
        std::memcpy(bytes.data() + at, &value, sizeof value);
        return bytes;
    };
    const std::string sparse = with(24, 64 << 20);
    for (const std::string& bytes : {earlierCopy, with(8, world.st_dev + 1), with(16, world.st_ino + 1),
                                     with(32, 0), copy + "x", sparse}) {
        ASSERT_TRUE(dir.Write("Saves/" + withCopy[0], bytes));
        if (bytes == sparse)
            fs::resize_file(copyPath, 64 + (64 << 20));
        EXPECT_EQ(load(dir.File("Elsewhere/World.wrl")),
                  refused + (bytes == sparse ? "what is there is not held by the disk (a sparse file))"
                                             : "what is there is not their copy)"));
    }
    EXPECT_EQ(fs::file_size(dir.File("Saves/World.wrl")), 5000u);
    ASSERT_TRUE(dir.Write("Saves/Kept", copy));
    const int opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(opens, dir.File("Saves").c_str(), IN_OPEN), 0);
    for (const bool fifo : {true, false}) {
        fs::remove(copyPath);
        ASSERT_EQ(fifo ? GAME::Test::MakeNode(copyPath, 'p') : (fs::create_symlink("Kept", copyPath), ""),
                  "");
        EXPECT_EQ(load(dir.File("Elsewhere/World.wrl")), refused + "what is there is not a plain file)");
    }
    char event[256];
    EXPECT_EQ(::read(opens, event, sizeof event), -1); // no open to report
    ::close(opens);
    fs::remove(copyPath);
    EXPECT_EQ(load(dir.File("Elsewhere/World.wrl")), refused + "No such file or directory)");
    // The mark an earlier build wrote (no device, the copy's whole path) takes its copy back too.
    fs::rename(dir.File("Saves/Kept"), copyPath);
    const std::string earlierMark = "OLDBYTES" + copy.substr(16, 8) + copy.substr(32, 16) +
                                    fs::canonical(dir.File("Saves")).string() + "/" + withCopy[0];
    ASSERT_EQ(::setxattr(dir.File("Saves/World.wrl").c_str(), "user.engine.old-bytes", earlierMark.data(),
                         earlierMark.size(), 0),
              0);
    EXPECT_EQ(load(dir.File("Elsewhere/World.wrl")), "updated" + fresh.substr(7));
    ASSERT_TRUE(Platform::WriteWholeFile(dir.File("Links/World.wrl"), fresh.data(), fresh.size()));
    EXPECT_EQ(load(dir.File("Elsewhere/World.wrl")), fresh);
    fs::remove(dir.File("Elsewhere/World.wrl"));
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Saves")),
              (std::vector<std::string>{"Backup.wrl", "World.wrl"}));

    // However often the file is replaced while a save waits for it, the save waits 200 ms in all.
    {
        GAME::Test::SaveWaitLimit limit(200);
        const std::string rotated = dir.File("Rotated/Options.txt");
        ASSERT_TRUE(dir.Write("Rotated/Options.txt", old));
        int held = ::open(rotated.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        std::atomic<bool> finished{false};
        std::string error;
        bool saved = true;
        std::thread saving([&] {
            saved = Platform::WriteWholeFile(rotated, fresh.data(), fresh.size(), &error);
            finished = true;
        });
        // Each wait ends within about 10 ms, by another file taking the name (only a hang reaches
        // the round count).
        for (int round = 0; !finished && round < 6000; ++round) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ASSERT_TRUE(dir.Write("Rotated/next", old));
            const int next = ::open(dir.File("Rotated/next").c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_EQ(::flock(next, LOCK_EX), 0);
            ASSERT_EQ(::rename(dir.File("Rotated/next").c_str(), rotated.c_str()), 0);
            ::close(held);
            held = next;
        }
        saving.join();
        ::close(held);
        EXPECT_FALSE(saved);
        EXPECT_EQ(error, "another save of the file was still under way after 200 ms");
        EXPECT_EQ(dir.Read("Rotated/Options.txt"), old);
    }

    // A file system that will not move the new file over the old one (EXDEV): the old one takes
    // the bytes in place.
    ASSERT_TRUE(dir.Write("Moves/Options.txt", old));
    const std::vector<uint64_t> unmoved = identity(dir.File("Moves/Options.txt"));
    {
        GAME::Test::MoveRefusal refusal(EXDEV);
        failedSaves("Moves/Options.txt");
        ASSERT_TRUE(Platform::WriteWholeFile(dir.File("Moves/Options.txt"), fresh.data(), fresh.size()));
    }
    EXPECT_EQ(dir.Read("Moves/Options.txt"), fresh);
    EXPECT_EQ(identity(dir.File("Moves/Options.txt")), unmoved);
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Moves")), (std::vector<std::string>{"Options.txt"}));

    // No copy can be written beside it (a full disk): up to 64 MiB the old bytes are kept in
    // memory; a larger file is refused, for the disk's reason, nothing written.
    fs::create_directories(dir.File("Big"));
    for (const uint64_t size : {uint64_t{64} << 20, (uint64_t{64} << 20) + 1}) {
        const std::string big = dir.File("Big/Map.bin");
        const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "e", 1, static_cast<off_t>(size - 1)), 1);
        ::close(fd);
        fs::create_hard_link(big, dir.File("Big/Link.bin"));
        std::string error;
        bool saved;
        {
            GAME::Test::FullDisk disk(1 << 20);
            saved = Platform::WriteWholeFile(big, fresh.data(), fresh.size(), &error);
        }
        if (size == uint64_t{64} << 20) {
            EXPECT_TRUE(saved) << error;
            EXPECT_EQ(dir.Read("Big/Link.bin"), fresh);
        } else {
            EXPECT_FALSE(saved);
            EXPECT_EQ(error,
                      "it can only be written in place and no copy of its old bytes can be kept (No space "
                      "left on device)");
            EXPECT_EQ(fs::file_size(big), size);
            char last = 0;
            const int check = ::open(big.c_str(), O_RDONLY | O_CLOEXEC);
            EXPECT_EQ(::pread(check, &last, 1, static_cast<off_t>(size - 1)), 1);
            ::close(check);
            EXPECT_EQ(last, 'e');
        }
        EXPECT_EQ(GAME::Test::FolderNames(dir.File("Big")),
                  (std::vector<std::string>{"Link.bin", "Map.bin"}));
        fs::remove(big);
        fs::remove(dir.File("Big/Link.bin"));
    }

    if (::geteuid() != 0)
        GTEST_SKIP() << "another owner, a folder the saving user may not write and mounts need root";
    // Root's save of root's file in root's folder killed, another user meets it. nobody, who may
    // write the file (0666) but not the folder, puts the old bytes back and updates the file
    // through its other name, and no later open undoes that, though the copy could not go; a save
    // of root's after it leaves nothing beside. Where nobody may only read the file (0644), the
    // old bytes cannot go back: it is not read as a mix.
    ASSERT_TRUE(dir.Write("Shared/World.wrl", old));
    ASSERT_EQ(::chmod(dir.File("Shared/World.wrl").c_str(), 0666), 0);
    fs::create_hard_link(dir.File("Shared/World.wrl"), dir.File("Shared/Backup.wrl"));
    killedPartWay([] {}, "Shared/World.wrl", 5000);
    const std::string asNobody = GAME::Test::RunAsUser(65534, 65534, [&] {
        Platform::PlatformFile updated;
        ASSERT_TRUE(updated.Open(dir.File("Shared/Backup.wrl"), Platform::FileOpenMode::Update))
            << updated.GetError();
        EXPECT_TRUE(updated.WriteAt(0, "nobody", 6));
        EXPECT_TRUE(updated.Close());
    });
    ASSERT_EQ(asNobody, "");
    EXPECT_EQ(load(dir.File("Shared/World.wrl")), "nobody" + old.substr(6));
    EXPECT_EQ(load(dir.File("Shared/Backup.wrl")), "nobody" + old.substr(6));
    ASSERT_TRUE(Platform::WriteWholeFile(dir.File("Shared/World.wrl"), old.data(), old.size()));
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Shared")), (std::vector<std::string>{"Backup.wrl", "World.wrl"}));
    ASSERT_EQ(::chmod(dir.File("Shared/World.wrl").c_str(), 0644), 0);
    killedPartWay([] {}, "Shared/World.wrl", 5000);
    const std::string kept = GAME::Test::FolderNames(dir.File("Shared"))[0];
    const std::string asReader = GAME::Test::RunAsUser(65534, 65534, [&] {
        EXPECT_EQ(load(dir.File("Shared/Backup.wrl")),
                  "refused: a save of it was killed part way, and its old bytes, kept in " +
                      fs::canonical(dir.File("Shared")).string() + "/" + kept +
                      ", cannot be put back (Permission denied)");
        Platform::MappedFile mapped;
        EXPECT_FALSE(mapped.Open(dir.File("Shared/World.wrl")));
    });
    ASSERT_EQ(asReader, "");
    EXPECT_EQ(load(dir.File("Shared/Backup.wrl")), old);

    // nobody, who may write a file root only reads, marks it as he likes (the mark of an earlier
    // build: no device, a whole path). Root's read opens no device the mark leads to, at its path or
    // the copy's (a pty would become the terminal of a root process without one, as a daemon is),
    // nor a folder through a link; it removes a copy in his folder, swapped for a link to root's
    // folder once proven, in his folder, not in root's.
    ASSERT_TRUE(dir.Write("Open/Shared.wrl", old));
    ASSERT_TRUE(dir.Write("Secret/Kept", "root's"));
    ASSERT_EQ(::chmod(dir.File("Open/Shared.wrl").c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir.File("Secret").c_str(), 0700), 0);
    fs::create_directories(dir.File("Open/Nobody"));
    ASSERT_EQ(::chown(dir.File("Open/Nobody").c_str(), 65534, 65534), 0);
    const std::vector<uint64_t> shared = identity(dir.File("Open/Shared.wrl"));
    std::snprintf(named, sizeof named, ".old-bytes.%llx.%llx", static_cast<unsigned long long>(world.st_dev),
                  static_cast<unsigned long long>(shared[0]));
    const std::string nobodys = fs::canonical(dir.File("Open/Nobody")).string(), name = named;
    auto bytes8 = [](uint64_t value) { return std::string(reinterpret_cast<const char*>(&value), 8); };
    auto markAs = [&](const std::string& path) {
        const std::string mark = "OLDBYTES" + bytes8(shared[0]) + std::string(16, 't') + path;
        EXPECT_EQ(GAME::Test::RunAsUser(65534, 65534,
                                        [&] {
                                            ::setxattr(dir.File("Open/Shared.wrl").c_str(),
                                                       "user.engine.old-bytes", mark.data(), mark.size(), 0);
                                        }),
                  "");
    };
    // What a root process of a session of its own, without a terminal, loads.
    auto daemonLoad = [&] {
        GAME::Test::StoppedChild daemon([&] {
            ::setsid();
            const std::string loaded = load(dir.File("Open/Shared.wrl"));
            const bool terminal = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC) >= 0;
            dir.Write("Open/Loaded", loaded + (terminal ? " (a terminal taken)" : ""));
        });
        return dir.Read("Open/Loaded");
    };
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    ASSERT_EQ(GAME::Test::MakeNode(nobodys + "/" + name, 'c', 1, 5), ""); // /dev/zero
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, nobodys.c_str(), IN_OPEN), 0);
    const std::string gone = "refused: a save of it was killed part way, and its old bytes, kept in ";
    markAs(::ptsname(master));
    EXPECT_EQ(daemonLoad(), gone + "/dev/pts/" + name + ", are gone (what is there is not their copy)");
    markAs(nobodys + "/" + name);
    EXPECT_EQ(daemonLoad(), gone + nobodys + "/" + name + ", are gone (what is there is not a plain file)");
    EXPECT_EQ(::read(watch, event, sizeof event), -1);
    ::close(watch);
    ::close(master);
    fs::remove(nobodys + "/" + name);
    ASSERT_TRUE(dir.Write("Open/Nobody/" + name, "OLDBYTES" + bytes8(world.st_dev) + bytes8(shared[0]) +
                                                     bytes8(6) + std::string(16, 't') +
                                                     std::string(16, '\0') + "nobody"));
    fs::rename(dir.File("Secret/Kept"), dir.File("Secret/" + name));
    fs::create_symlink(nobodys, dir.File("Open/Link"));
    markAs(dir.File("Open/Link/") + name);
    EXPECT_EQ(load(dir.File("Open/Shared.wrl")),
              gone + dir.File("Open/Link/") + name + ", are gone (Too many levels of symbolic links)");
    markAs(nobodys + "/" + name);
    Platform::SetOldBytesHook([&](Platform::OldBytesStage stage, const std::string&) {
        if (stage == Platform::OldBytesStage::Removing) {
            fs::rename(nobodys, nobodys + ".gone");
            fs::create_symlink(dir.File("Secret"), nobodys);
        }
    });
    EXPECT_EQ(load(dir.File("Open/Shared.wrl")), "nobody");
    Platform::SetOldBytesHook({});
    EXPECT_EQ(dir.Read("Secret/" + name), "root's");
    EXPECT_EQ(GAME::Test::FolderNames(nobodys + ".gone"), std::vector<std::string>{});

    // Root's own file of another group: replaced, it would take root's group.
    ASSERT_TRUE(dir.Write("Groups/Options.txt", old));
    ASSERT_EQ(::chown(dir.File("Groups/Options.txt").c_str(), 0, 12346), 0);
    const std::vector<uint64_t> grouped = identity(dir.File("Groups/Options.txt"));
    ASSERT_TRUE(Platform::WriteWholeFile(dir.File("Groups/Options.txt"), fresh.data(), fresh.size()));
    EXPECT_EQ(dir.Read("Groups/Options.txt"), fresh);
    EXPECT_EQ(identity(dir.File("Groups/Options.txt")), grouped);

    // A user's file saved by root stays the user's.
    ASSERT_TRUE(dir.Write("Users/Options.txt", old));
    ASSERT_EQ(::chown(dir.File("Users/Options.txt").c_str(), 12345, 12346), 0);
    const std::vector<uint64_t> users = identity(dir.File("Users/Options.txt"));
    failedSaves("Users/Options.txt");
    ASSERT_TRUE(Platform::WriteWholeFile(dir.File("Users/Options.txt"), fresh.data(), fresh.size()));
    EXPECT_EQ(dir.Read("Users/Options.txt"), fresh);
    EXPECT_EQ(identity(dir.File("Users/Options.txt")), users);
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Users")), (std::vector<std::string>{"Options.txt"}));

    // The user's own file in root's folder (no new file can be made beside it: the old bytes are
    // kept in memory), and root's file in the user's folder (refused, though it could be replaced).
    ASSERT_TRUE(dir.Write("Locked/Options.txt", old));
    ASSERT_EQ(::chown(dir.File("Locked/Options.txt").c_str(), 12345, 12345), 0);
    ASSERT_TRUE(dir.Write("Mine/Root.txt", old));
    ASSERT_EQ(::chown(dir.File("Mine").c_str(), 12345, 12345), 0);
    const std::vector<uint64_t> locked = identity(dir.File("Locked/Options.txt"));
    std::string error;
    const std::string asUser = GAME::Test::RunAsUser(12345, 12345, [&] {
        failedSaves("Locked/Options.txt");
        EXPECT_TRUE(
            Platform::WriteWholeFile(dir.File("Locked/Options.txt"), fresh.data(), fresh.size(), &error))
            << error;
        EXPECT_FALSE(Platform::WriteWholeFile(dir.File("Mine/Root.txt"), fresh.data(), fresh.size(), &error));
        EXPECT_EQ(error, "Permission denied");
    });
    ASSERT_TRUE(asUser.empty()) << asUser;
    EXPECT_EQ(dir.Read("Locked/Options.txt"), fresh);
    EXPECT_EQ(identity(dir.File("Locked/Options.txt")), locked);
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Locked")), (std::vector<std::string>{"Options.txt"}));
    EXPECT_EQ(dir.Read("Mine/Root.txt"), old);
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Mine")), (std::vector<std::string>{"Root.txt"}));

    // A settings file mounted over the name, as containers do; then one mounted over it between
    // the save's start and its end. The file the name shows takes the bytes; the mounts end with
    // their thread, and the files under them are as they were.
    const std::vector<std::string> mounted = {"Early.txt", "Full.txt", "FullHost.txt",
                                              "Host.txt",  "Late.txt", "LateHost.txt"};
    for (const std::string& name : mounted)
        ASSERT_TRUE(dir.Write("Mounts/" + name, old));
    const std::string withMounts = GAME::Test::RunWithOwnMounts([&] {
        ASSERT_EQ(GAME::Test::MountFileOver(dir.File("Mounts/Host.txt"), dir.File("Mounts/Early.txt")), "");
        failedSaves("Mounts/Early.txt");
        EXPECT_TRUE(
            Platform::WriteWholeFile(dir.File("Mounts/Early.txt"), fresh.data(), fresh.size(), &error))
            << error;
        EXPECT_EQ(dir.Read("Mounts/Host.txt"), fresh);
        Platform::PlatformFile file;
        ASSERT_TRUE(file.Open(dir.File("Mounts/Late.txt"), Platform::FileOpenMode::Write));
        EXPECT_TRUE(file.WriteAt(0, fresh.data(), fresh.size()));
        ASSERT_EQ(GAME::Test::MountFileOver(dir.File("Mounts/LateHost.txt"), dir.File("Mounts/Late.txt")),
                  "");
        EXPECT_TRUE(file.Close()) << file.GetError();
        EXPECT_EQ(dir.Read("Mounts/LateHost.txt"), fresh);
        // And one mounted over it during a save whose bytes then find the disk full.
        Platform::PlatformFile full;
        ASSERT_TRUE(full.Open(dir.File("Mounts/Full.txt"), Platform::FileOpenMode::Write));
        EXPECT_TRUE(full.WriteAt(0, longer.data(), longer.size()));
        ASSERT_EQ(GAME::Test::MountFileOver(dir.File("Mounts/FullHost.txt"), dir.File("Mounts/Full.txt")),
                  "");
        {
            GAME::Test::FullDisk disk(1000);
            EXPECT_FALSE(full.Close());
        }
        EXPECT_EQ(full.GetError(), "No space left on device");
        EXPECT_EQ(dir.Read("Mounts/FullHost.txt"), old);
        EXPECT_EQ(GAME::Test::FolderNames(dir.File("Mounts")), mounted);

        // A file system that keeps no user attributes cannot mark a file (ramfs): the old bytes of
        // a save in place are kept in memory, and a failed save still puts them back.
        fs::create_directories(dir.File("Ram"));
        ASSERT_EQ(::mount("ramfs", dir.File("Ram").c_str(), "ramfs", 0, nullptr), 0);
        ASSERT_TRUE(dir.Write("Ram/World.wrl", old));
        fs::create_hard_link(dir.File("Ram/World.wrl"), dir.File("Ram/Backup.wrl"));
        failedSaves("Ram/World.wrl");
        EXPECT_TRUE(Platform::WriteWholeFile(dir.File("Ram/World.wrl"), fresh.data(), fresh.size(), &error))
            << error;
        EXPECT_EQ(dir.Read("Ram/Backup.wrl"), fresh);
        EXPECT_EQ(GAME::Test::FolderNames(dir.File("Ram")), (std::vector<std::string>{"Backup.wrl", "World.wrl"}));

        // A killed file carried with its attributes to another file system, where it took the same
        // inode number (each the first file of a fresh tmpfs): refused there, its copy kept for it.
        for (const char* disk : {"TmpA", "TmpB"}) {
            fs::create_directories(dir.File(disk));
            ASSERT_EQ(GAME::Test::MountSmallDisk(dir.File(disk), 1 << 20), "");
        }
        ASSERT_TRUE(dir.Write("TmpA/World.wrl", old));
        fs::create_hard_link(dir.File("TmpA/World.wrl"), dir.File("TmpA/Backup.wrl"));
        killedPartWay([] {}, "TmpA/World.wrl");
        ASSERT_TRUE(dir.Write("TmpB/World.wrl", mix));
        ASSERT_EQ(identity(dir.File("TmpA/World.wrl"))[0], identity(dir.File("TmpB/World.wrl"))[0]);
        const std::string carried = Attribute(dir.File("TmpA/World.wrl"), "user.engine.old-bytes");
        ASSERT_EQ(::setxattr(dir.File("TmpB/World.wrl").c_str(), "user.engine.old-bytes", carried.data(),
                             carried.size(), 0),
                  0);
        EXPECT_EQ(
            load(dir.File("TmpB/World.wrl")),
            "refused: it carries the mark of another file's save killed part way: it was copied while that "
            "save wrote it (a save of it clears the mark)");
        EXPECT_EQ(load(dir.File("TmpA/World.wrl")), old);
    });
    if (!withMounts.empty())
        GTEST_SKIP() << withMounts;
    EXPECT_EQ(dir.Read("Mounts/Early.txt"), old);
    EXPECT_EQ(dir.Read("Mounts/Late.txt"), old);
    EXPECT_EQ(GAME::Test::FolderNames(dir.File("Mounts")), mounted);
}

TEST(MappedFile, ViewsPastTheEndAreRefused)
{
    GAME::Test::TempDir dir;
    std::string content(10000, 'm');
    ASSERT_TRUE(dir.Write("map.bin", content));
    Platform::MappedFile mapping;
    ASSERT_TRUE(mapping.Open(dir.File("MAP.bin")));
    Platform::MappedView view;
    EXPECT_EQ(view.Map(mapping, 0, 10001), nullptr);
    EXPECT_EQ(view.Map(mapping, 9999, 2), nullptr);
    EXPECT_EQ(view.Map(mapping, 0xFFFFFFFFFFFFFFF0ull, 0x20), nullptr);
    EXPECT_EQ(view.Map(mapping, 5, 0), nullptr);
    const char* tail = static_cast<const char*>(view.Map(mapping, 9999, 1));
    ASSERT_NE(tail, nullptr);
    EXPECT_EQ(*tail, 'm');
    mapping.Close();
    EXPECT_EQ(*tail, 'm'); // the view outlives its mapping handle
}

} // namespace
} // namespace GAME
