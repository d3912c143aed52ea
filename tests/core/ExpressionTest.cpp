#include "core/Expression.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace GAME {
namespace {

float Square(float x)
{
    return x * x;
}
float Half(float x)
{
    return x * 0.5f;
}
float g_lastArgument = 0.0f;
float Record(float x)
{
    g_lastArgument = x;
    return x;
}

const char* const kVariables[] = {"x", "y", "level_2"};
const char* const kFunctionNames[] = {"sq", "half", "record", "broken"};
float (*const kFunctions[])(float) = {Square, Half, Record, nullptr};

// Compiles the formula with the variables x = 3, y = -2, level_2 = 10 and the functions above,
// and evaluates it; NaN when it is refused.
float Eval(const char* text)
{
    Expression e;
    if (!e.Initialize(text, kVariables, 3, kFunctions, kFunctionNames, 4))
        return NAN;
    const float values[] = {3.0f, -2.0f, 10.0f};
    return e.Evaluate(values);
}

TEST(Expression, PrecedenceAssociativityAndUnarySigns)
{
    EXPECT_EQ(Eval("2+3*4"), 14.0f);
    EXPECT_EQ(Eval("(2+3)*4"), 20.0f);
    EXPECT_EQ(Eval("8/2/2"), 2.0f);
    EXPECT_EQ(Eval("2-3-4"), -5.0f);
    EXPECT_EQ(Eval("2*3+4*5"), 26.0f);
    EXPECT_EQ(Eval("-x"), -3.0f);
    EXPECT_EQ(Eval("--x"), 3.0f);
    EXPECT_EQ(Eval("+x"), 3.0f);
    EXPECT_EQ(Eval("1 - -x"), 4.0f);
    EXPECT_EQ(Eval("-x*y"), 6.0f);
    EXPECT_EQ(Eval("2*(-x)"), -6.0f);
    EXPECT_EQ(Eval(" ( ( 7 ) ) "), 7.0f);
    EXPECT_EQ(Eval("1 # + @ 2"), 3.0f) << "characters outside the grammar are skipped";
    EXPECT_TRUE(std::isnan(Eval("1 # 2"))) << "but they do not join numbers";
}

TEST(Expression, NumbersBuiltInsFunctionsAndVariables)
{
    EXPECT_EQ(Eval(".5"), 0.5f);
    EXPECT_EQ(Eval("1."), 1.0f);
    EXPECT_EQ(Eval("12.25"), 12.25f);
    EXPECT_EQ(Eval("pi"), 3.14159265358979323846f);
    EXPECT_EQ(Eval("2*pi"), float(2.0 * 3.14159265358979323846));
    EXPECT_EQ(Eval("sqrt 16"), 4.0f);
    EXPECT_EQ(Eval("sqrt(16)"), 4.0f);
    EXPECT_EQ(Eval("abs y"), 2.0f);
    EXPECT_EQ(Eval("cos 0 + sin 0"), 1.0f);
    EXPECT_FLOAT_EQ(Eval("sin x * 2"), 2.0f * std::sin(3.0f)); // (sin x) * 2
    EXPECT_EQ(Eval("sq(x) + level_2"), 19.0f);
    EXPECT_EQ(Eval("half sq y"), 2.0f);
    EXPECT_EQ(Eval("sq(x+1)*2"), 32.0f);

    // Numbers accumulate in float; intermediate results are wider, the result is a float.
    EXPECT_EQ(Eval("16777217"), 16777216.0f);
    EXPECT_EQ(Eval("16777216 + x - 16777216"), 3.0f);
    // A host function receives its argument rounded to float.
    Eval("record(16777216 + 1)");
    EXPECT_EQ(g_lastArgument, 16777216.0f);
    EXPECT_TRUE(std::isinf(Eval("1/0")));
    EXPECT_TRUE(std::isinf(Eval("100000000000000000000 * 100000000000000000000")));
}

TEST(Expression, AtMostEightPendingValues)
{
    // Right-nested sums hold every left operand until the innermost one.
    auto nested = [](int values) {
        std::string text = "1";
        for (int i = 1; i < values; ++i)
            text += "+(1";
        text += std::string(size_t(values - 1), ')');
        return text;
    };
    EXPECT_EQ(Eval(nested(8).c_str()), 8.0f);
    EXPECT_TRUE(std::isnan(Eval(nested(9).c_str())));
    EXPECT_EQ(Eval("1+1+1+1+1+1+1+1+1+1+1+1"), 12.0f); // left to right never holds more than two
    EXPECT_TRUE(std::isnan(Eval("x*(x*(x*(x*(x*(x*(x*(x*pi)))))))")));
}

TEST(Expression, RefusedFormulasHoldNothingAndEvaluateToZero)
{
    for (const char* bad : {"z + 1", "sq2(x)", "broken(x)", "1)", "(1+2))", "(1+2", "((x)", "", "   ", "1 2",
                            "x y", "3 pi", "*3", "-", "sin", "sq", "x +", "1+*2", "()"}) {
        Expression e;
        EXPECT_FALSE(e.Initialize(bad, kVariables, 3, kFunctions, kFunctionNames, 4)) << "'" << bad << "'";
        EXPECT_FALSE(e.IsValid());
        const float values[] = {1, 2, 3};
        EXPECT_EQ(e.Evaluate(values), 0.0f);
    }

    // A refused formula also drops the one held before.
    Expression e;
    ASSERT_TRUE(e.Initialize("x + 1", kVariables, 3, nullptr, nullptr, 0));
    const float values[] = {4, 0, 0};
    EXPECT_EQ(e.Evaluate(values), 5.0f);
    EXPECT_EQ(e.Evaluate(nullptr), 0.0f);
    EXPECT_FALSE(e.Initialize("x + ", kVariables, 3, nullptr, nullptr, 0));
    EXPECT_EQ(e.Evaluate(values), 0.0f);
    EXPECT_FALSE(e.Initialize(nullptr, kVariables, 3, nullptr, nullptr, 0));
    // Names are exact and case-sensitive; no names at all is fine for constants.
    EXPECT_FALSE(e.Initialize("X", kVariables, 3, nullptr, nullptr, 0));
    EXPECT_TRUE(e.Initialize("2*3", nullptr, 0, nullptr, nullptr, 0));
    EXPECT_EQ(e.Evaluate(nullptr), 6.0f);
}

} // namespace
} // namespace GAME
