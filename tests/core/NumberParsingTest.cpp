#include "core/NumberParsing.h"

#include <clocale>
#include <cmath>
#include <gtest/gtest.h>
#include <string>

namespace GAME {
namespace {

// Switches LC_NUMERIC to a decimal-comma locale when the machine has one.
class CommaLocale
{
public:
    CommaLocale()
    {
        const char* current = std::setlocale(LC_NUMERIC, nullptr);
        m_saved = current ? current : "C";
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE", "fr_FR"})
            if (std::setlocale(LC_NUMERIC, name)) {
                m_active = true;
                break;
            }
    }
    ~CommaLocale() { std::setlocale(LC_NUMERIC, m_saved.c_str()); }
    bool Active() const { return m_active; }

private:
    std::string m_saved;
    bool m_active = false;
};

TEST(NumberParsing, FollowsTheCLibraryRules)
{
    int i = 5;
    EXPECT_TRUE(ScanInt("  12abc", i));
    EXPECT_EQ(i, 12);
    EXPECT_TRUE(ScanInt("-7", i));
    EXPECT_EQ(i, -7);
    i = 5;
    EXPECT_FALSE(ScanInt("abc", i));
    EXPECT_EQ(i, 5);
    EXPECT_FALSE(ScanInt("", i));

    float f = 9.0f;
    EXPECT_TRUE(ScanFloat(" 1.5e2x", f));
    EXPECT_FLOAT_EQ(f, 150.0f);
    EXPECT_TRUE(ScanFloat("+.25", f));
    EXPECT_FLOAT_EQ(f, 0.25f);
    EXPECT_FALSE(ScanFloat("x1", f));
    EXPECT_TRUE(ScanFloat("-inf", f));
    EXPECT_TRUE(std::isinf(f) && f < 0);

    EXPECT_EQ(AtoI("42 rest"), 42);
    EXPECT_EQ(AtoI("none"), 0);
    EXPECT_FLOAT_EQ(AtoF("0.5"), 0.5f);
    EXPECT_FLOAT_EQ(AtoF("nope"), 0.0f);

    int a = 0, b = 0;
    EXPECT_TRUE(ScanInt2(" 1024 768 ", a, b));
    EXPECT_EQ(a, 1024);
    EXPECT_EQ(b, 768);
    a = b = 3;
    EXPECT_FALSE(ScanInt2("1024", a, b));
    EXPECT_EQ(a, 3);
}

TEST(NumberParsing, IgnoresADecimalCommaProcessLocale)
{
    CommaLocale locale;
    if (!locale.Active())
        GTEST_SKIP() << "no decimal-comma locale installed";
    EXPECT_FLOAT_EQ(AtoF("0.5"), 0.5f);
    float f = 0.0f;
    EXPECT_TRUE(ScanFloat("1,5", f));
    EXPECT_FLOAT_EQ(f, 1.0f); // a comma ends the number in data files
}

} // namespace
} // namespace GAME
