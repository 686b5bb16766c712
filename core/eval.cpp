#include "core/eval.h"

#include <cmath>
#include <cstring>

#include "base/errors.h"
#include "base/support.h"
#include "core/options.h"

namespace qv {

namespace {

// Tokens beyond the single bytes.
enum : int {
  kTokShl = 256,
  kTokShr,
  kTokConcat,
  kTokNotEqual,
  kTokLessEqual,
  kTokGreaterEqual,
  kTokAnd,
  kTokOr,
  kTokNot,
  kTokNumber,
};

constexpr struct {
  const char* text;
  int token;
} kWords[] = {{"<<", kTokShl},      {">>", kTokShr},       {"..", kTokConcat},
              {"<>", kTokNotEqual}, {"<=", kTokLessEqual}, {">=", kTokGreaterEqual},
              {"and", kTokAnd},     {"or", kTokOr},        {"not", kTokNot}};

constexpr int kUnaryPriority = 12;
// Nesting (parentheses, unary operators, right operands) that the parser follows before it
// refuses with ERR_STACK: every level is a C++ call.
constexpr int kDepthLimit = 200;
constexpr size_t kNameLimit = 64;

bool IsLetter(unsigned char c) {
  unsigned char u = ToUpperChar(c);
  return u >= 'A' && u <= 'Z';
}
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

struct BinaryOp {
  int left;
  int right;
};

// The priorities of a binary operator; left -1 for a token that is none.
BinaryOp Priorities(int token) {
  switch (token) {
    case '+':
    case '-':
      return {10, 10};
    case '*':
    case '/':
    case '\\':
    case '%':
      return {11, 11};
    case kTokShl:
    case kTokShr:
      return {9, 9};
    case '|':
      return {6, 6};
    case '&':
      return {8, 8};
    case '~':
      return {7, 7};
    case '^':
      return {14, 13};
    case kTokConcat:
      return {5, 4};
    case kTokNotEqual:
    case '=':
    case '<':
    case kTokLessEqual:
    case '>':
    case kTokGreaterEqual:
      return {3, 3};
    case kTokAnd:
      return {2, 2};
    case kTokOr:
      return {1, 1};
    default:
      return {-1, -1};
  }
}

uint32_t Low32(double v) { return static_cast<uint32_t>(DoubleToInt32(v)); }

int32_t Apply(int op, double a, double b, double* out) {
  switch (op) {
    case '+':
      *out = a + b;
      return 0;
    case '-':
      *out = a - b;
      return 0;
    case '*':
      *out = a * b;
      return 0;
    case '/':
      if (b == 0) return ERR_ZERODIVISION;
      *out = a / b;
      return 0;
    case '\\':
    case '%': {
      // In 64 bits, so that -2147483648 by -1 is a number like any other.
      int64_t x = DoubleToInt32(a);
      int64_t y = DoubleToInt32(b);
      if (y == 0) return ERR_ZERODIVISION;
      *out = static_cast<double>(op == '\\' ? x / y : x % y);
      return 0;
    }
    case kTokShl:
      *out = static_cast<uint32_t>(Low32(a) << (Low32(b) & 31));
      return 0;
    case kTokShr:
      *out = Low32(a) >> (Low32(b) & 31);
      return 0;
    case '|':
      *out = Low32(a) | Low32(b);
      return 0;
    case '&':
      *out = Low32(a) & Low32(b);
      return 0;
    case '~':
      *out = Low32(a) ^ Low32(b);
      return 0;
    case '^':
      *out = std::pow(a, b);
      return 0;
    case kTokConcat:
      return ERR_WRONGOPCST;
    case kTokNotEqual:
      *out = a != b;
      return 0;
    case '=':
      *out = a == b;
      return 0;
    case '<':
      *out = a < b;
      return 0;
    case kTokLessEqual:
      *out = a <= b;
      return 0;
    case '>':
      *out = a > b;
      return 0;
    case kTokGreaterEqual:
      *out = a >= b;
      return 0;
    case kTokAnd:
      *out = a == 0 ? 0 : b;
      return 0;
    case kTokOr:
      *out = a != 0 ? a : b;
      return 0;
    default:
      return ERR_SYNTAXERROR;
  }
}

class Evaluator {
 public:
  Evaluator(const char* text, const std::vector<qvEvalVariable>& variables)
      : p_(text), variables_(variables) {}

  int32_t Run(double* out) {
    int32_t code = Next();
    if (code == 0) code = Parse(-1, out, 0);
    if (code == 0 && token_ != 0) code = ERR_SYNTAXERROR;
    return code;
  }

 private:
  // A word is taken only when no letter or digit follows it: "<=2" is "<" and "=2".
  bool WordAt(const char* word, size_t length) const {
    return StrNCaseCmp(p_, word, length) == 0 && !IsLetter(p_[length]) && !IsDigit(p_[length]);
  }

  int32_t Next() {
    while (*p_ == ' ' || *p_ == '\t') ++p_;
    unsigned char c = static_cast<unsigned char>(*p_);
    if (IsDigit(c) || c == '$') {
      size_t length = 0;
      int error = 0;
      value_ = ParseNumber(p_, &length, &error);
      if (error != 0) return error;
      p_ += length;
      token_ = kTokNumber;
      return 0;
    }
    for (const auto& w : kWords) {
      size_t length = std::strlen(w.text);
      if (WordAt(w.text, length)) {
        p_ += length;
        token_ = w.token;
        return 0;
      }
    }
    for (const qvEvalVariable& v : variables_) {
      if (WordAt(v.name.c_str(), v.name.size())) {
        p_ += v.name.size();
        value_ = v.value;
        token_ = kTokNumber;
        return 0;
      }
    }
    token_ = c;
    if (c != 0) ++p_;  // the end stays the end
    return 0;
  }

  int32_t Parse(int limit, double* out, int depth) {
    if (depth > kDepthLimit) return ERR_STACK;
    double v = 0;
    int32_t code;
    if (token_ == '-' || token_ == '~' || token_ == kTokNot) {
      int op = token_;
      if ((code = Next()) != 0) return code;
      if ((code = Parse(kUnaryPriority, &v, depth + 1)) != 0) return code;
      if (op == '-')
        v = -v;
      else if (op == '~')
        v = static_cast<uint32_t>(~Low32(v));
      else
        v = v == 0 ? 1 : 0;
    } else if (token_ == '(') {
      if ((code = Next()) != 0) return code;
      if ((code = Parse(-1, &v, depth + 1)) != 0) return code;
      if (token_ != ')') return ERR_UNMPARENTHESES;
      if ((code = Next()) != 0) return code;
    } else if (token_ == kTokNumber) {
      v = value_;
      if ((code = Next()) != 0) return code;
    } else {
      return ERR_VALUEEXPECTED;
    }
    for (;;) {
      BinaryOp prio = Priorities(token_);
      if (prio.left <= limit) break;
      int op = token_;
      if ((code = Next()) != 0) return code;
      double right = 0;
      if ((code = Parse(prio.right, &right, depth + 1)) != 0) return code;
      if ((code = Apply(op, v, right, &v)) != 0) return code;
    }
    *out = v;
    return 0;
  }

  const char* p_;
  const std::vector<qvEvalVariable>& variables_;
  int token_ = 0;
  double value_ = 0;
};

}  // namespace

bool IsEvalVariableName(const char* name, size_t length) {
  if (length < 1 || length > kNameLimit) return false;
  auto first = static_cast<unsigned char>(name[0]);
  if (!IsLetter(first) && first != '_') return false;
  for (size_t i = 1; i < length; ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    if (!IsLetter(c) && !IsDigit(c) && c != '_' && c != '$' && c != '!') return false;
  }
  return true;
}

int32_t EvaluateExpression(const char* text, const std::vector<qvEvalVariable>& variables,
                           double* out) {
  Evaluator e(text, variables);
  return e.Run(out);
}

}  // namespace qv
