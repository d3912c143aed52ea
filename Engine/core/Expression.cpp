#include "core/Expression.h"

#include <cfloat>
#include <cmath>
#include <cstring>

namespace GAME {

namespace {

// Loaded at full intermediate precision, like the constant of the floating-point unit.
constexpr double kPiValue = 3.14159265358979323846;

Expression::Token MakeToken(int32_t kind, int32_t value)
{
    Expression::Token token;
    token.kind = kind;
    token.value = value;
    return token;
}

Expression::Token MakeConstant(float constant)
{
    Expression::Token token;
    token.kind = Expression::kConstant;
    token.constant = constant;
    return token;
}

// Character classes of the C locale, whatever the process locale is. Blanks need no class of
// their own: like every character outside the grammar they are skipped.
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsOperator(const Expression::Token& token, int32_t op)
{
    return token.kind == Expression::kOperator && token.value == op;
}

int FindName(const char* name, size_t length, const char* const* names, int count)
{
    if (!names)
        return -1;
    for (int i = 0; i < count; ++i)
        if (names[i] && std::strlen(names[i]) == length && std::memcmp(names[i], name, length) == 0)
            return i;
    return -1;
}

bool NameIs(const char* name, size_t length, const char* builtIn)
{
    return std::strlen(builtIn) == length && std::memcmp(name, builtIn, length) == 0;
}

// A double rounded to float the way storing it to a float slot would, without the undefined
// conversion of values beyond the float range.
float ToFloat(double value)
{
    if (value > double(FLT_MAX))
        return INFINITY;
    if (value < -double(FLT_MAX))
        return -INFINITY;
    return static_cast<float>(value);
}

} // namespace

Expression::Expression() = default;
Expression::~Expression() = default;

bool Expression::Initialize(const char* text, const char* const* variableNames, int variableCount,
                            float (*const* functions)(float), const char* const* functionNames,
                            int functionCount)
{
    m_program.clear();
    m_functions.clear();
    m_usesVariables = false;
    if (!text)
        return false;
    if (variableCount < 0)
        variableCount = 0;
    if (functionCount < 0 || !functions)
        functionCount = 0;
    m_functions.assign(functions, functions + functionCount);

    std::vector<Token> postfix;
    if (!Parse(text, variableNames, variableCount, functionNames, functionCount, postfix) ||
        !Compile(postfix)) {
        m_program.clear();
        m_functions.clear();
        m_usesVariables = false;
        return false;
    }
    return true;
}

bool Expression::Parse(const char* text, const char* const* variableNames, int variableCount,
                       const char* const* functionNames, int functionCount, std::vector<Token>& output) const
{
    std::vector<Token> stack;
    stack.push_back(MakeToken(kOperator, kLeftParenthesis));
    bool expectOperand = true;

    // Moves operators to the output down to the nearest left parenthesis, which stays.
    auto popToParenthesis = [&]() {
        while (!stack.empty() && !IsOperator(stack.back(), kLeftParenthesis)) {
            output.push_back(stack.back());
            stack.pop_back();
        }
    };

    const char* c = text;
    while (*c) {
        if (IsDigit(*c) || *c == '.') {
            float value = 0.0f;
            for (; IsDigit(*c); ++c)
                value = value * 10.0f + static_cast<float>(*c - '0');
            if (*c == '.') {
                ++c;
                float factor = 0.1f;
                for (; IsDigit(*c); ++c) {
                    value += static_cast<float>(*c - '0') * factor;
                    factor *= 0.1f;
                }
            }
            output.push_back(MakeConstant(value));
            expectOperand = false;
            continue;
        }
        if (IsLetter(*c)) {
            const char* name = c;
            while (IsLetter(*c) || IsDigit(*c) || *c == '_')
                ++c;
            const size_t length = static_cast<size_t>(c - name);
            if (NameIs(name, length, "abs") || NameIs(name, length, "sin") || NameIs(name, length, "cos") ||
                NameIs(name, length, "sqrt")) {
                const int32_t op = name[0] == 'a'   ? kAbs
                                   : name[0] == 'c' ? kCos
                                   : name[1] == 'i' ? kSin
                                                    : kSqrt;
                stack.push_back(MakeToken(kOperator, op));
                expectOperand = true;
            } else if (NameIs(name, length, "pi")) {
                stack.push_back(MakeToken(kOperator, kPi));
                expectOperand = false;
            } else if (int variable = FindName(name, length, variableNames, variableCount); variable >= 0) {
                output.push_back(MakeToken(kVariable, variable));
                expectOperand = false;
            } else if (int function = FindName(name, length, functionNames, functionCount);
                       function >= 0 && m_functions[static_cast<size_t>(function)]) {
                stack.push_back(MakeToken(kFunction, function));
            } else {
                return false;
            }
            continue;
        }

        switch (*c) {
        case '(':
            stack.push_back(MakeToken(kOperator, kLeftParenthesis));
            break;
        case ')':
            popToParenthesis();
            stack.pop_back();
            // The bottom parenthesis is gone: a ')' without its '('.
            if (stack.empty())
                return false;
            expectOperand = false;
            break;
        case '+':
        case '-':
            if (expectOperand) {
                if (*c == '-')
                    stack.push_back(MakeToken(kOperator, kNegate));
            } else {
                popToParenthesis();
                stack.push_back(MakeToken(kOperator, *c == '+' ? kAdd : kSubtract));
                expectOperand = true;
            }
            break;
        case '*':
        case '/':
            while (!IsOperator(stack.back(), kLeftParenthesis) && !IsOperator(stack.back(), kAdd) &&
                   !IsOperator(stack.back(), kSubtract)) {
                output.push_back(stack.back());
                stack.pop_back();
            }
            stack.push_back(MakeToken(kOperator, *c == '*' ? kMultiply : kDivide));
            expectOperand = true;
            break;
        default:
            // Blanks and characters outside the grammar.
            break;
        }
        ++c;
    }
    popToParenthesis();
    // Only the bottom parenthesis may remain; anything else is a '(' that was never closed.
    return stack.size() == 1;
}

bool Expression::Compile(const std::vector<Token>& postfix)
{
    int pending = 0;
    for (const Token& token : postfix) {
        switch (token.kind) {
        case kConstant:
        case kVariable:
            if (pending == kMaxPendingValues)
                return false;
            ++pending;
            m_usesVariables = m_usesVariables || token.kind == kVariable;
            break;
        case kFunction:
            if (pending < 1)
                return false;
            break;
        case kOperator:
            switch (token.value) {
            case kAdd:
            case kSubtract:
            case kMultiply:
            case kDivide:
                if (pending < 2)
                    return false;
                --pending;
                break;
            case kNegate:
            case kAbs:
            case kSin:
            case kCos:
            case kSqrt:
                if (pending < 1)
                    return false;
                break;
            case kPi:
                if (pending == kMaxPendingValues)
                    return false;
                ++pending;
                break;
            default:
                return false;
            }
            break;
        default:
            return false;
        }
    }
    // Exactly one value must be left: none is an empty formula, more are operands that no
    // operator joined.
    if (pending != 1)
        return false;
    m_program = postfix;
    return true;
}

float Expression::Evaluate(const float* variables) const
{
    if (m_program.empty() || (m_usesVariables && !variables))
        return 0.0f;
    // Compile proved the depth never exceeds the limit and never runs below the operands needed.
    double stack[kMaxPendingValues];
    int top = -1;
    for (const Token& token : m_program) {
        switch (token.kind) {
        case kConstant:
            stack[++top] = token.constant;
            break;
        case kVariable:
            stack[++top] = variables[token.value];
            break;
        case kFunction:
            stack[top] = m_functions[static_cast<size_t>(token.value)](ToFloat(stack[top]));
            break;
        default:
            switch (token.value) {
            case kAdd:
                --top;
                stack[top] = stack[top] + stack[top + 1];
                break;
            case kSubtract:
                --top;
                stack[top] = stack[top] - stack[top + 1];
                break;
            case kMultiply:
                --top;
                stack[top] = stack[top] * stack[top + 1];
                break;
            case kDivide:
                --top;
                stack[top] = stack[top] / stack[top + 1];
                break;
            case kNegate:
                stack[top] = -stack[top];
                break;
            case kAbs:
                stack[top] = std::fabs(stack[top]);
                break;
            case kSin:
                stack[top] = std::sin(stack[top]);
                break;
            case kCos:
                stack[top] = std::cos(stack[top]);
                break;
            case kSqrt:
                stack[top] = std::sqrt(stack[top]);
                break;
            case kPi:
                stack[++top] = kPiValue;
                break;
            default:
                break;
            }
            break;
        }
    }
    return ToFloat(stack[0]);
}

} // namespace GAME
