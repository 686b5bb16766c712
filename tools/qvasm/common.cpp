#include <charconv>
#include <cmath>
#include <cstring>

#include "tools/qvasm/internal.h"
#include "tools/qvasm/qvasm.h"

namespace qv::qvasm {

const std::array<OpcodeInfo, kOpcodeCount> kOpcodes = {{
    {"MOVE", kMove, 36},
    {"LOADCONST", kLoadConst, 97},
    {"LOADBOOL", kLoadBool, 32},
    {"LOADNIL", kLoadNil, 36},
    {"GETUPVAL", kGetUpval, 32},
    {"GETGLOBAL", kGetGlobal, 97},
    {"GETTABLE", kGetTable, 52},
    {"SETGLOBAL", kSetGlobal, 65},
    {"SETUPVAL", kSetUpval, 0},
    {"SETTABLE", kSetTable, 24},
    {"NEWTABLE", kNewTable, 32},
    {"ADD", kAdd, 56},
    {"SUB", kSub, 56},
    {"MUL", kMul, 56},
    {"DIV", kDiv, 56},
    {"INTDIV", kIntDiv, 56},
    {"MOD", kMod, 56},
    {"SHL", kShl, 56},
    {"SHR", kShr, 56},
    {"BITOR", kBitOr, 56},
    {"BITAND", kBitAnd, 56},
    {"BITXOR", kBitXor, 56},
    {"POW", kPow, 56},
    {"NEG", kNeg, 36},
    {"NOT", kNot, 36},
    {"BITNOT", kBitNot, 36},
    {"CONCAT", kConcat, 52},
    {"JUMP", kJump, 3},
    {"EQ", kEq, 152},
    {"LT", kLt, 152},
    {"LE", kLe, 152},
    {"TEST", kTest, 164},
    {"CALL", kCall, 0},
    {"TAILCALL", kTailCall, 0},
    {"RETURN", kReturn, 0},
    {"FORLOOP", kForLoop, 2},
    {"FORINLOOP", kForInLoop, 128},
    {"FORINPREP", kForInPrep, 2},
    {"SETLIST", kSetList, 1},
    {"SETLISTTOP", kSetListTop, 1},
    {"CLOSE", kClose, 0},
    {"CLOSURE", kClosure, 33},
    {"SELF", kSelf, 52},
}};

namespace {

bool ParseHex(std::string_view digits, uint64_t* out) {
  if (digits.empty()) return false;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), *out, 16);
  return ec == std::errc() && end == digits.data() + digits.size();
}

bool HasHexPrefix(std::string_view t) {
  return t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
  std::string_view body = text;
  bool negative = !body.empty() && body[0] == '-';
  if (negative) body.remove_prefix(1);
  if (HasHexPrefix(body)) {
    uint64_t v;
    if (!ParseHex(body.substr(2), &v)) return std::nullopt;
    double d = static_cast<double>(v);
    return negative ? -d : d;
  }
  double v;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return v;
}

std::optional<int64_t> ParseInteger(std::string_view text) {
  std::string_view body = text;
  bool negative = false;
  if (!body.empty() && (body[0] == '-' || body[0] == '+')) {
    negative = body[0] == '-';
    body.remove_prefix(1);
  }
  uint64_t v;
  if (HasHexPrefix(body)) {
    if (!ParseHex(body.substr(2), &v)) return std::nullopt;
  } else {
    if (body.empty()) return std::nullopt;
    auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), v);
    if (ec != std::errc() || end != body.data() + body.size()) return std::nullopt;
  }
  if (v > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
}

std::string FormatNumber(double v) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  (void)ec;
  return std::string(buf, end);
}

std::string QuoteString(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (unsigned char c : bytes) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case 0:
        out += "\\0";
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace qv::qvasm
