// A short arithmetic formula over named float variables (a curve or damage formula from a data
// file), parsed once and evaluated many times. Initialize turns the text into a postfix program
// and checks it; Evaluate runs it without allocating. Exported for the host; the engine itself
// does not use it.
//
// Grammar: numbers (digits with an optional fraction, no exponent), variable names, the host's
// one-argument functions, + - * / with the usual precedence (left-associative), unary minus and
// plus, parentheses, the prefix functions abs, sin, cos, sqrt and the constant pi. Prefix
// functions and negation bind until the next binary operator: "sin x * 2" is (sin x) * 2 and
// "-a*b" is (-a) * b. Characters outside the grammar are skipped.
//
// Numbers and variables are single-precision floats; intermediate results are kept in double
// precision, at most 8 pending values at any point, and the result is rounded to a float. A host
// function receives its argument rounded to a float.
//
// An object is used by one thread at a time; a compiled formula may be evaluated concurrently.
#pragma once

#include <cstdint>
#include <vector>

namespace GAME {

class Expression
{
public:
    using Function = float (*)(float);

    enum TokenKind : int32_t
    {
        kOperator = 0,
        kConstant = 1,
        kVariable = 2,
        kFunction = 3,
    };

    enum Operator : int32_t
    {
        kAdd = 0,
        kSubtract = 1,
        kMultiply = 2,
        kDivide = 3,
        kNegate = 4,
        kAbs = 5,
        kSin = 6,
        kCos = 7,
        kSqrt = 8,
        kPi = 9,
        kLeftParenthesis = 10, // only while parsing
    };

    // The most values the program may hold pending at once.
    static constexpr int kMaxPendingValues = 8;

    // A postfix program step: an operator code, the bits of a float constant, a variable index, or
    // an index into the host's function array.
    struct Token
    {
        int32_t kind;
        union {
            int32_t value;
            float constant;
        };
    };
    static_assert(sizeof(Token) == 8, "tokens are a kind and a 32-bit value");

    Expression();
    virtual ~Expression();

    // Drops any earlier formula, then parses and checks the text. False (and no formula) for a
    // name that is neither a variable, a function nor a built-in, unbalanced parentheses, an empty
    // formula, more than 8 pending values, an operator or function without its operands, or
    // values left over (two operands with nothing between them). Nothing is logged.
    bool Initialize(const char* text, const char* const* variableNames, int variableCount,
                    float (*const* functions)(float), const char* const* functionNames, int functionCount);

    // The formula's value with variable i taken from variables[i] (the array must hold as many
    // values as the names given to Initialize); 0 when no formula is held.
    float Evaluate(const float* variables) const;

    bool IsValid() const { return !m_program.empty(); }

private:
    bool Parse(const char* text, const char* const* variableNames, int variableCount,
               const char* const* functionNames, int functionCount, std::vector<Token>& output) const;
    bool Compile(const std::vector<Token>& postfix);

    std::vector<Token> m_program;      // checked postfix program; empty when nothing is compiled
    std::vector<Function> m_functions; // the host's functions, by the index the tokens hold
    bool m_usesVariables = false;
};

} // namespace GAME
