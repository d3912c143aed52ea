#include "data/LoadTable.h"

#include "common/TempDir.h"

#include <gtest/gtest.h>

namespace GAME {
namespace {

void Fill(LoadTable& table, const std::string& text)
{
    TextParser parser(text.data(), text.size());
    table.Deserialize(parser);
}

TEST(LoadTable, TypedGettersFallBackToTheirDefaults)
{
    LoadTable table;
    Fill(table, "speed,1.5,\nname,Hero,\nempty,,\nflag,3,\noff,0,\nword,abc,\n");
    EXPECT_FLOAT_EQ(table.GetFloat("speed", 0.0f), 1.5f);
    EXPECT_EQ(table.GetInt("speed", 7), 1); // the scan stops at the point
    EXPECT_STREQ(table.GetValue("name", "x"), "Hero");
    EXPECT_STREQ(table.GetValue("empty", "dflt"), "dflt");
    EXPECT_STREQ(table.GetValue("missing", "dflt"), "dflt");
    EXPECT_TRUE(table.GetBool("flag", false));
    EXPECT_FALSE(table.GetBool("off", true));
    EXPECT_TRUE(table.GetBool("word", true));
    EXPECT_EQ(table.GetInt("word", 42), 42);
    EXPECT_FLOAT_EQ(table.GetFloat(std::string("missing"), -2.0f), -2.0f);
}

TEST(LoadTable, ArraysSplitOnSemicolons)
{
    LoadTable table;
    Fill(table, "list,3;4;5,\nzero,0,\ntrail,1;2;,\ngap,1;;2,\nnone,,\nmixed,1;x;3,\n");
    EXPECT_EQ(table.GetNumElementsForField("list"), 3);
    EXPECT_EQ(table.GetNumElementsForField("none"), 1);
    EXPECT_EQ(table.GetNumElementsForField("missing"), 0);
    EXPECT_EQ(table.GetArrayInt("list", 10, -1), 5); // past the end: the last element
    EXPECT_EQ(table.GetArrayInt("list", 1, -1), 4);
    EXPECT_EQ(table.GetArrayInt("none", 0, -1), -1);

    std::vector<int> ints;
    table.GetArrayInt("zero", ints);
    EXPECT_TRUE(ints.empty()); // a single 0 means no values
    EXPECT_EQ(table.GetArrayInt("zero", 0, 9), 0);
    table.GetArrayInt("mixed", ints);
    EXPECT_EQ(ints, (std::vector<int>{1, 3}));

    std::vector<std::string> values;
    table.GetArrayValue("trail", values);
    EXPECT_EQ(values, (std::vector<std::string>{"1", "2"}));
    table.GetArrayValue("gap", values);
    EXPECT_EQ(values, (std::vector<std::string>{"1", "", "2"}));
    EXPECT_STREQ(table.GetArrayValue("gap", 2, "d"), "2");

    std::vector<float> reals;
    table.GetArrayReal("list", reals);
    EXPECT_EQ(reals, (std::vector<float>{3.0f, 4.0f, 5.0f}));
}

TEST(LoadTable, FirstOccurrenceOfAKeyWins)
{
    LoadTable table;
    Fill(table, "k,first,\nk,second,\n");
    EXPECT_STREQ(table.GetValue("k", ""), "first");
    EXPECT_EQ(table.GetNumFields(), 1u);
}

TEST(LoadTable, TextRoundTripInNameOrder)
{
    LoadTable table;
    Fill(table, "b,2,\na,one two,\nc,x;y,\n");
    GAME::Test::TempDir dir;
    std::string path = dir.File("table.txt");
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    table.Serialize(file);
    std::fclose(file);
    EXPECT_EQ(dir.Read("table.txt"), "a,one two,\nb,2,\nc,x;y,\n");

    std::string text = dir.Read("table.txt");
    LoadTable again;
    Fill(again, text);
    EXPECT_STREQ(again.GetValue("a", ""), "one two");
    EXPECT_STREQ(again.GetValue("c", ""), "x;y");
}

} // namespace
} // namespace GAME
