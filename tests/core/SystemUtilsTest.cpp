#include "core/SystemUtils.h"
#include "platform/SystemInfo.h"

#include <clocale>
#include <gtest/gtest.h>

namespace GAME {
namespace {

TEST(SystemUtils, FileBaseNameStripsBothSlashKindsAndOptionallyTheExtension)
{
    EXPECT_EQ(GetFileBaseName("a/b\\c.txt", true), "c");
    EXPECT_EQ(GetFileBaseName("a/b\\c.txt", false), "c.txt");
    EXPECT_EQ(GetFileBaseName("a\\b/c.d.e", true), "c.d");
    EXPECT_EQ(GetFileBaseName("plain", true), "plain");
    EXPECT_EQ(GetFileBaseName("", false), "");
}

TEST(SystemUtils, ConvertSlashesTurnsForwardIntoBackslashes)
{
    std::string path = "Records/UI/FontStyles/WhiteArial.dbr";
    ConvertSlashes(path);
    EXPECT_EQ(path, "Records\\UI\\FontStyles\\WhiteArial.dbr");
}

TEST(SystemUtils, NumbersPrintInTheCLocaleWhateverTheProcessLocale)
{
    EXPECT_EQ(IntToString(-12), "-12");
    EXPECT_EQ(IntToString(0), "0");
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    bool haveComma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
    EXPECT_EQ(FloatToString(2.5f), "2.5");
    EXPECT_EQ(FloatToString(1.0f / 3.0f, 3), "0.333");
    EXPECT_EQ(FloatToString(1234567.0f), "1.23457e+06");
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (!haveComma)
        GTEST_LOG_(INFO) << "no decimal-comma locale installed; printed in the default locale";
}

TEST(SystemUtils, LanguageNamesComeFromTheIdentifierTable)
{
    EXPECT_STREQ(GetLanguageName(0x0409), "English (United States)");
    EXPECT_STREQ(GetLanguageName(0x0407), "German (Standard)");
    EXPECT_STREQ(GetLanguageName(0x0449), "Tami");
    EXPECT_STREQ(GetLanguageName(0x480a), "Spanish (Honduras)");
    EXPECT_STREQ(GetLanguageName(0x7777), "Unknown");

    Platform::SetUserLanguageId(0x040c);
    EXPECT_EQ(GetUserLanguageName(), "French (Standard)");
    Platform::SetUserLanguageId(0x0409);
}

TEST(SystemUtils, MemoryFiguresAreClampedAndConsistent)
{
    EXPECT_GT(GetTotalPhysicalMemory(), 0u);
    EXPECT_LE(GetAvailPhysicalMemory(), GetTotalPhysicalMemory());
    EXPECT_LE(GetAvailVirtualMemory(), GetTotalVirtualMemory());
    EXPECT_GT(GetProcessWorkingSetSize(), 0u);
    // This machine has more than 4 GiB: the 32-bit figure saturates instead of wrapping.
    if (Platform::GetMemoryStatus().totalPhysical > 0xFFFFFFFFull) {
        EXPECT_EQ(GetTotalPhysicalMemory(), 0xFFFFFFFFu);
    }
}

TEST(SystemUtils, PlatformFacts)
{
    EXPECT_GE(Platform::GetPhysicalCoreCount(), 1u);
    EXPECT_LE(Platform::GetPhysicalCoreCount(), Platform::GetLogicalProcessorCount());
    EXPECT_FALSE(Platform::GetUserHomeFolder().empty());
    EXPECT_EQ(GetTempPath().back(), '/');

    Platform::Guid a = Platform::CreateGuid();
    Platform::Guid b = Platform::CreateGuid();
    EXPECT_FALSE(a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3);
}

} // namespace
} // namespace GAME
