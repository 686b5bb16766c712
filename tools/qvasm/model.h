// The parsed program: what the parser builds and the chunk and applet writers consume.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/qvasm/internal.h"
#include "tools/qvasm/qvasm.h"

namespace qv::qvasm {

struct Constant {
  uint8_t type = kTypeNil;
  double number = 0;
  std::string text;
};
bool SameConstant(const Constant& a, const Constant& b);  // by type and bit pattern

enum class Field { kA, kB, kC, kBx, kSbx, kOffset };

// A constant operand that is resolved once the function's pool is complete.
struct ConstRef {
  Field field;  // kB or kC (RK fields) or kBx
  enum Kind { kIndex, kAlias, kLiteral } kind;
  int64_t index = 0;
  std::string alias;
  Constant literal;
};

struct Instr {
  uint32_t word = 0;
  int textLine = 0;    // line of the text, for diagnostics
  int sourceLine = 0;  // value of the line table entry
  bool raw = false;    // `.word`: written as given, not counted by maxstack=auto
  std::vector<ConstRef> consts;
  std::string label;  // code target still to resolve
  Field labelField = Field::kOffset;
  std::string child;  // CLOSURE by name
  int childListLength = 0;
  std::vector<std::pair<Field, int64_t>> overrides;
};

// A `.local` bound: an instruction index, a label, or the end of the code.
struct Bound {
  int64_t pc = 0;
  std::string label;
  bool toEnd = false;
};

struct Local {
  std::optional<std::string> name;
  Bound start, end;
  int textLine = 0;
};

struct Func {
  std::string name;
  int textLine = 0;
  std::string path;  // "" for main, "a.b" for nested ones
  enum class Source { kDefault, kNone, kText } sourceMode = Source::kDefault;
  std::string source;
  int64_t lineDefined = 0;
  int64_t params = 0;
  int64_t paramNames = 0;  // `.param` names so far
  int64_t vararg = 0;
  std::optional<int64_t> maxStack;  // nullopt: auto
  std::vector<std::optional<std::string>> upvalueNames;
  std::optional<int64_t> upvalueCount;
  std::vector<Constant> consts;
  std::map<std::string, int> aliases;
  std::vector<Local> locals;
  bool usesLines = false;
  int currentLine = 0;
  enum class Lines { kAuto, kNone, kRaw } linesMode = Lines::kAuto;
  std::vector<int64_t> rawLines;
  std::map<std::string, int> labels;
  std::vector<std::unique_ptr<Func>> children;
  std::vector<Instr> code;

  int64_t UpvalueCount() const {
    return upvalueCount ? *upvalueCount : static_cast<int64_t>(upvalueNames.size());
  }
};

struct UserConst {
  std::string name;
  bool isString = false;
  double number = 0;
  std::string text;
};

struct LinkedFile {
  std::string name;
  std::string path;
  int textLine = 0;
};

// A line map: chunk lines first..last come from the source file's lines from base + 1 on.
struct LineMap {
  int64_t first = 0;
  int64_t last = 0;
  int64_t base = 0;
  std::string file;
  std::optional<std::string> source;  // the chunk source it applies to; none: the container's
};

// A header record of the display directives or `.rawtag`, written in source order.
struct AppletRecord {
  uint8_t tag = 0;
  std::vector<uint8_t> bytes;
  bool declarations = false;  // the place of the one tag-2 record (its bytes are made late)
};

// One `.declare` line.
struct Declaration {
  uint8_t kind = 0;
  int32_t id = 0;
  std::string file;  // the inline data
  int32_t line = 0, extra1 = 0, extra2 = 0;
  uint32_t stretchOffset = 0, stretchLength = 0;
  std::vector<uint8_t> sub;  // the kind's sub-record
};

// A token of a directive's operands as the applet directives read them.
struct DirectiveToken {
  enum Kind { kWord, kString, kEq } kind;
  std::string text;
};
// Parses `.display`, `.declare` or `.rawtag` (name lower-cased) into the program; returns a
// diagnostic, empty on success.
std::string ParseAppletDirective(const std::string& name, const std::vector<DirectiveToken>& t,
                                 struct Program* prog);

struct Program {
  std::vector<AppletRecord> records;
  std::vector<Declaration> declarations;
  uint8_t byteOrder = 1;
  uint8_t signature[4] = {kSignature[0], kSignature[1], kSignature[2], kSignature[3]};
  uint8_t sizes[8] = {kSizes[0], kSizes[1], kSizes[2], kSizes[3],
                      kSizes[4], kSizes[5], kSizes[6], kSizes[7]};
  double testNumber = kTestNumber;
  std::optional<int64_t> truncate;
  int truncateLine = 0;
  std::vector<uint8_t> append;
  std::map<int, std::string> headers;
  std::vector<UserConst> userConsts;
  std::vector<LinkedFile> links;
  std::vector<LineMap> lineMaps;
  std::unique_ptr<Func> main;
};

// Parses and writes the chunk; `result` receives the bytes, diagnostics, labels and exports.
Program AssembleProgram(std::string_view text, Result* result);

}  // namespace qv::qvasm
