#include "data/ConfigFile.h"
#include "data/FileSystem.h"
#include "data/Options.h"
#include "platform/SystemInfo.h"

#include "common/FullDisk.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"

#include <clocale>
#include <gtest/gtest.h>
#include <sstream>

namespace GAME {
namespace {

class OptionsTest : public ::testing::Test
{
protected:
    void SetUp() override { fileSystem.AddSource(FileSystem::PARTITION_0, dir.Path().c_str(), false, false, false); }

    std::vector<std::string> SavedLines(Options& options)
    {
        EXPECT_TRUE(options.Save(dir.File("out/options.txt")));
        std::istringstream in(dir.Read("out/options.txt"));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    GAME::Test::TempDir dir;
    FileSystem fileSystem;
};

TEST_F(OptionsTest, ConfigFileLinesCommentsQuotesAndFirstKeyWins)
{
    dir.Write("Settings/Config.TXT", "// comment\nmasterVolume = 0.5\n/* block\n   comment */\nresolution = 1024 768 16\n"
                                     "name = \"two words\" // cut\n#ifdef SYMBOL\nfullscreen = false\n#endif\n"
                                     "masterVolume = 0.9\nbroken line\nnoequals x y\nlast = end");
    ConfigFile file;
    ASSERT_TRUE(file.Initialize("settings\\config.txt", fileSystem));
    float volume = 0.0f;
    EXPECT_TRUE(file.GetValueAsReal("masterVolume", volume));
    EXPECT_FLOAT_EQ(volume, 0.5f);
    EXPECT_STREQ(file.GetValue("resolution"), "1024 768"); // a third word is dropped
    int w = 0, h = 0;
    EXPECT_TRUE(file.GetValueAsInt2("resolution", w, h));
    EXPECT_EQ(w * 10000 + h, 1024 * 10000 + 768);
    EXPECT_STREQ(file.GetValue("name"), "two words");
    EXPECT_EQ(file.GetValue("fullscreen"), nullptr);
    EXPECT_EQ(file.GetValue("noequals"), nullptr);
    EXPECT_STREQ(file.GetValue("last"), "end"); // no final line feed
    bool flag = true;
    EXPECT_FALSE(file.GetValueAsBool("missing", flag));
    EXPECT_TRUE(flag);

    ConfigFile none;
    EXPECT_FALSE(none.Initialize("absent.txt", fileSystem));
}

TEST_F(OptionsTest, AllKeysWrittenInOrderAndReadBack)
{
    Options options(&fileSystem);
    options.SetFloat(Options::FLOAT_MUSIC_VOLUME, 0.25f);
    options.SetInt2(Options::INT2_RESOLUTION, {1280, 720});
    options.SetQuality(Options::QUALITY_SHADOW, Options::QUALITY_HIGH);
    options.SetQuality(Options::QUALITY_NETWORK_SPEED, Options::QUALITY_LOW);
    options.SetBool(Options::BOOL_FULLSCREEN, false);
    options.SetString(Options::STRING_LANGUAGE, "French");

    std::vector<std::string> lines = SavedLines(options);
    ASSERT_EQ(lines.size(), 27u);
    for (int i = 0; i < Options::numKeys; ++i)
        EXPECT_EQ(lines[i].rfind(Options::GetKeys()[i].name, 0), 0u) << lines[i];
    EXPECT_EQ(lines[0], "networkSpeed              = low");
    EXPECT_EQ(lines[5], "showMonsterLevelOnRollover = true");
    EXPECT_EQ(lines[10], "resolution                = 1280 720");
    EXPECT_EQ(lines[16], "musicVolume               = 0.25");
    EXPECT_EQ(lines[21], "device                    = Direct3D");

    // Saved again while the disk fills, at any point, the settings on disk stay whole with nothing
    // beside them, and one line names the file and says why.
    const std::string good = dir.Read("out/options.txt");
    options.SetFloat(Options::FLOAT_MUSIC_VOLUME, 0.75f); // as long as the good file's 0.25
    for (const int64_t limit : {int64_t{0}, int64_t{300}, static_cast<int64_t>(good.size()) - 1}) {
        GAME::Test::LogCapture log;
        GAME::Test::FullDisk disk(limit);
        std::string reason;
        EXPECT_FALSE(options.Save(dir.File("out/options.txt"), reason)) << limit;
        EXPECT_EQ(reason, "No space left on device");
        EXPECT_EQ(log.Count(), 1u);
        EXPECT_TRUE(log.Contains("out/options.txt (No space left on device)", 1)) << limit;
        EXPECT_EQ(dir.Read("out/options.txt"), good) << limit;
        EXPECT_EQ(GAME::Test::FolderNames(dir.File("out")), std::vector<std::string>{"options.txt"}) << limit;
    }

    Options again(&fileSystem);
    again.Load("out/options.txt");
    EXPECT_FLOAT_EQ(again.GetFloat(Options::FLOAT_MUSIC_VOLUME), 0.25f);
    EXPECT_EQ(again.GetInt2(Options::INT2_RESOLUTION), (Options::Int2{1280, 720}));
    EXPECT_EQ(again.GetQuality(Options::QUALITY_SHADOW), Options::QUALITY_HIGH);
    EXPECT_EQ(again.GetQuality(Options::QUALITY_NETWORK_SPEED), Options::QUALITY_LOW);
    EXPECT_FALSE(again.GetBool(Options::BOOL_FULLSCREEN));
    EXPECT_EQ(again.GetString(Options::STRING_LANGUAGE), "French");
}

TEST_F(OptionsTest, ValueQuirks)
{
    dir.Write("user.txt", "textureQuality = High\nshadowQuality = low\nresolution = 800\nfullscreen = 1\n"
                          "device = OpenGL\nmasterVolume = loud\n");
    Options options(&fileSystem);
    options.SetInt2(Options::INT2_RESOLUTION, {640, 480});
    options.Load("user.txt");
    EXPECT_EQ(options.GetQuality(Options::QUALITY_TEXTURE), Options::QUALITY_MEDIUM); // case-sensitive
    EXPECT_EQ(options.GetQuality(Options::QUALITY_SHADOW), Options::QUALITY_LOW);
    EXPECT_EQ(options.GetInt2(Options::INT2_RESOLUTION), (Options::Int2{640, 480}));
    EXPECT_FALSE(options.GetBool(Options::BOOL_FULLSCREEN));
    EXPECT_EQ(options.GetDevice(), Options::DEVICE_DEFAULT);
    EXPECT_FLOAT_EQ(options.GetFloat(Options::FLOAT_MASTER_VOLUME), 0.0f);
}

TEST_F(OptionsTest, DeveloperIsFalseWhenAbsentAndLeftOutWhenFalse)
{
    dir.Write("dev.txt", "developer = true\n");
    dir.Write("nodev.txt", "quickBuy = false\n");
    Options options(&fileSystem);
    options.Load("dev.txt");
    EXPECT_TRUE(options.GetBool(Options::BOOL_DEVELOPER));
    options.Load("nodev.txt");
    EXPECT_FALSE(options.GetBool(Options::BOOL_DEVELOPER));
    EXPECT_FALSE(options.GetDefaultBool(Options::BOOL_DEVELOPER));

    std::vector<std::string> lines = SavedLines(options);
    EXPECT_EQ(lines.size(), 26u);
    for (const auto& line : lines)
        EXPECT_EQ(line.find("developer"), std::string::npos);
    // A missing file changes nothing.
    options.Load("absent.txt");
    EXPECT_FALSE(options.GetBool(Options::BOOL_QUICK_BUY));
}

class FixedGraphicsDefaults : public OptionsDefaultsProvider
{
public:
    void SetOptionsToDefaults(Options& options) override
    {
        ++calls;
        options.SetInt2(Options::INT2_RESOLUTION, {1024, 768});
    }
    int calls = 0;
};

TEST_F(OptionsTest, SetToDefaultsPerGroup)
{
    dir.Write("defaults.txt", "masterVolume = 0.8\nrockOn = false\nambientFrequency = high\nuseArchives = false\n"
                              "language = German\ndeveloper = true\n");
    FixedGraphicsDefaults graphics;
    Options::SetDefaultsProvider(&graphics);
    Platform::SetUserLanguageId(0x0809); // English (United Kingdom)
    Options options(&fileSystem);
    options.LoadDefaults("defaults.txt");
    EXPECT_EQ(graphics.calls, 1);
    EXPECT_EQ(options.GetString(Options::STRING_LANGUAGE), "English");
    EXPECT_FLOAT_EQ(options.GetFloat(Options::FLOAT_MASTER_VOLUME), 0.8f);

    options.SetFloat(Options::FLOAT_MASTER_VOLUME, 0.1f);
    options.SetFloat(Options::FLOAT_DIALOG_VOLUME, 0.2f);
    options.SetBool(Options::BOOL_ROCK_ON, true);
    options.SetQuality(Options::QUALITY_AMBIENT_FREQUENCY, Options::QUALITY_LOW);
    options.SetBool(Options::BOOL_USE_ARCHIVES, true);
    options.SetString(Options::STRING_LANGUAGE, "Czech");
    options.SetBool(Options::BOOL_FULLSCREEN, false);

    options.SetToDefaults(Options::GROUP_SOUND);
    EXPECT_FLOAT_EQ(options.GetFloat(Options::FLOAT_MASTER_VOLUME), 0.8f);
    EXPECT_FLOAT_EQ(options.GetFloat(Options::FLOAT_DIALOG_VOLUME), 0.5f);
    EXPECT_FALSE(options.GetBool(Options::BOOL_ROCK_ON));
    EXPECT_EQ(options.GetQuality(Options::QUALITY_AMBIENT_FREQUENCY), Options::QUALITY_HIGH);

    options.SetToDefaults(Options::GROUP_SYSTEM); // bools only: not language or device
    EXPECT_FALSE(options.GetBool(Options::BOOL_USE_ARCHIVES));
    EXPECT_EQ(options.GetString(Options::STRING_LANGUAGE), "Czech");
    EXPECT_FALSE(options.GetBool(Options::BOOL_FULLSCREEN));

    options.SetToDefaults(Options::GROUP_GRAPHICS);
    EXPECT_TRUE(options.GetBool(Options::BOOL_FULLSCREEN));
    EXPECT_EQ(graphics.calls, 2);
    options.SetToDefaults(Options::GROUP_GAME);
    EXPECT_EQ(options.GetString(Options::STRING_LANGUAGE), "English");

    Options::SetDefaultsProvider(nullptr);
    Platform::SetUserLanguageId(0x0409);
}

TEST_F(OptionsTest, SavedFloatsUseAPointUnderADecimalCommaLocale)
{
    const char* current = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = current ? current : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        GTEST_SKIP() << "no decimal-comma locale";
    Options options(&fileSystem);
    options.SetFloat(Options::FLOAT_EFFECTS_VOLUME, 0.75f);
    std::vector<std::string> lines = SavedLines(options);
    Options again(&fileSystem);
    again.Load("out/options.txt");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(lines[17], "effectsVolume             = 0.75");
    EXPECT_FLOAT_EQ(again.GetFloat(Options::FLOAT_EFFECTS_VOLUME), 0.75f);
}

} // namespace
} // namespace GAME
