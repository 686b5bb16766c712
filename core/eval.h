// The expression evaluator behind the string library's Eval: a lexer and a precedence-climbing
// parser that computes while it parses. Values are doubles; the bitwise operators work on the
// low 32 bits and give unsigned results. Pure computation on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

struct qvEvalVariable {
  std::string name;  // 1 to 64 bytes; see IsEvalVariableName
  double value;
};

// True when `name` (`length` bytes) can name a variable: 1 to 64 bytes, the first a letter
// ("A"-"Z" after upper-casing) or "_", the others letters, digits, "_", "$" or "!".
bool IsEvalVariableName(const char* name, size_t length);

// Evaluates the zero-terminated `text` with the variables (names matched without regard to
// case, the first match wins). Returns 0 with the value in *out, or ERR_SYNTAXERROR (text left
// over), ERR_VALUEEXPECTED, ERR_UNMPARENTHESES, ERR_WRONGOPCST (".." used), ERR_ZERODIVISION,
// ERR_STACK (nesting beyond what the evaluator follows) or a number's reading error.
int32_t EvaluateExpression(const char* text, const std::vector<qvEvalVariable>& variables,
                           double* out);

}  // namespace qv
