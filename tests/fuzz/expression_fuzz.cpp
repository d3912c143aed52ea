// Formula text of any kind: parsed, checked and evaluated without a crash or a hang, and the same
// formula gives the same value every time.
#include "common/FuzzSeeds.h"

#include "core/Expression.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

float Twice(float x)
{
    return 2.0f * x;
}
float Wild(float x)
{
    return std::tan(x) * 1e30f;
}

const char* const kVariables[] = {"x", "y", "time", "level"};
const char* const kFunctionNames[] = {"twice", "wild"};
float (*const kFunctions[])(float) = {Twice, Wild};

bool SameValue(float a, float b)
{
    return std::memcmp(&a, &b, sizeof(a)) == 0 || (std::isnan(a) && std::isnan(b));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    GAME::Expression expression;
    const bool compiled = expression.Initialize(text.c_str(), kVariables, 4, kFunctions, kFunctionNames, 2);
    if (compiled != expression.IsValid())
        std::abort();
    if (compiled)
        FuzzAccepted();
    const float values[] = {1.5f, -2.0f, 1000.0f, 7.0f};
    const float first = expression.Evaluate(values);
    if (!compiled && first != 0.0f)
        std::abort();
    if (!SameValue(first, expression.Evaluate(values)))
        std::abort();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    sink.Add("arithmetic", std::string("2+3*4-(8/2/2)"));
    sink.Add("unary", std::string("--x * -y + +time"));
    sink.Add("builtins", std::string("sqrt(abs(sin x * cos y)) + pi"));
    sink.Add("functions", std::string("twice(level) / wild time"));
    sink.Add("numbers", std::string(".5 + 1. + 12.25 + 16777217"));
    // Ten values pending at once, past the eight a formula may hold.
    sink.AddRefused("deep", std::string("1+(1+(1+(1+(1+(1+(1+(1+(1+1))))))))"));
    sink.AddRefused("unbalanced", std::string("((x+1)*2))("));
    sink.AddRefused("leftover", std::string("1 2 x pi"));
}
