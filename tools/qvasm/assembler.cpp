// Text to chunk: a line-by-line parser that builds the program model, then a writer that
// resolves labels, constants and nested functions and emits the chunk.
#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>

#include "tools/qvasm/model.h"

namespace qv::qvasm {

bool SameConstant(const Constant& a, const Constant& b) {
  if (a.type != b.type) return false;
  // Bit for bit: 0 and -0 are different constants, and so are NaNs of different payloads.
  if (a.type == kTypeNumber) {
    return std::bit_cast<uint64_t>(a.number) == std::bit_cast<uint64_t>(b.number);
  }
  if (a.type == kTypeString) return a.text == b.text;
  return true;
}

namespace {

// ---- Lexer ----------------------------------------------------------------------------------

struct Token {
  enum Kind { kWord, kString, kEq, kOpen, kClose } kind;
  std::string text;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSeparator(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v' || c == ',';
}

bool Tokenize(std::string_view s, std::vector<Token>* out, std::string* error) {
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == ';') break;
    if (IsSeparator(c)) {
      ++i;
    } else if (c == '=' || c == '[' || c == ']') {
      out->push_back({c == '=' ? Token::kEq : c == '[' ? Token::kOpen : Token::kClose, {}});
      ++i;
    } else if (c == '"') {
      std::string text;
      for (++i;; ++i) {
        if (i >= s.size()) {
          *error = "unterminated string";
          return false;
        }
        char d = s[i];
        if (d == '"') break;
        if (d != '\\') {
          text += d;
          continue;
        }
        if (++i >= s.size()) {
          *error = "unterminated string";
          return false;
        }
        switch (s[i]) {
          case '\\':
            text += '\\';
            break;
          case '"':
            text += '"';
            break;
          case 'n':
            text += '\n';
            break;
          case 'r':
            text += '\r';
            break;
          case 't':
            text += '\t';
            break;
          case '0':
            text += '\0';
            break;
          case 'x': {
            int hi = i + 1 < s.size() ? HexDigit(s[i + 1]) : -1;
            int lo = i + 2 < s.size() ? HexDigit(s[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
              *error = "\\x needs two hex digits";
              return false;
            }
            text += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
          }
          default:
            *error = std::string("unknown escape \\") + s[i];
            return false;
        }
      }
      ++i;
      out->push_back({Token::kString, std::move(text)});
    } else {
      size_t start = i;
      while (i < s.size() && !IsSeparator(s[i]) && s[i] != ';' && s[i] != '"' && s[i] != '=' &&
             s[i] != '[' && s[i] != ']')
        ++i;
      out->push_back({Token::kWord, std::string(s.substr(start, i - start))});
    }
  }
  return true;
}

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}
std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

bool IsIdentifier(std::string_view s) {
  if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
}

// "R12" -> 12 for prefix 'R' (either case); nullopt when the word is not of that form.
std::optional<int64_t> Prefixed(const Token* t, char prefix) {
  if (!t || t->kind != Token::kWord || t->text.size() < 2) return std::nullopt;
  if (std::toupper(static_cast<unsigned char>(t->text[0])) != prefix) return std::nullopt;
  std::string_view digits = std::string_view(t->text).substr(1);
  if (!std::all_of(digits.begin(), digits.end(),
                   [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return std::nullopt;
  return ParseInteger(digits);
}

// ---- Parser ---------------------------------------------------------------------------------

struct Args {
  std::vector<const Token*> positional;
  std::vector<std::pair<std::string, const Token*>> keywords;  // lower-case key
  std::vector<const Token*> list;
  bool hasList = false;
};

const char* FieldName(Field f) {
  switch (f) {
    case Field::kA:
      return "A";
    case Field::kB:
      return "B";
    case Field::kC:
      return "C";
    case Field::kBx:
      return "Bx";
    case Field::kSbx:
      return "sBx";
    case Field::kOffset:
      return "off";
  }
  return "?";
}

struct FieldRange {
  int64_t min, max;
};
FieldRange RangeOf(Field f) {
  switch (f) {
    case Field::kA:
      return {0, 255};
    case Field::kB:
    case Field::kC:
      return {0, 511};
    case Field::kBx:
      return {0, kMaxBx};
    case Field::kSbx:
      return {-kSbxBias, kMaxBx - kSbxBias};
    case Field::kOffset:
      return {-kJumpBias, 0xFFFFFF - kJumpBias};
  }
  return {0, 0};
}

uint32_t SetField(uint32_t w, Field f, int64_t v) {
  switch (f) {
    case Field::kA:
      return (w & ~(0xFFu << 24)) | static_cast<uint32_t>(v) << 24;
    case Field::kB:
      return (w & ~(511u << 15)) | static_cast<uint32_t>(v) << 15;
    case Field::kC:
      return (w & ~(511u << 6)) | static_cast<uint32_t>(v) << 6;
    case Field::kBx:
      return (w & ~(uint32_t{kMaxBx} << 6)) | static_cast<uint32_t>(v) << 6;
    case Field::kSbx:
      return SetField(w, Field::kBx, v + kSbxBias);
    case Field::kOffset:
      return (w & ~(0xFFFFFFu << 6)) | ((static_cast<uint32_t>(v + kJumpBias) & 0xFFFFFF) << 6);
  }
  return w;
}

class Parser {
 public:
  Parser(Program* program, Result* result) : prog_(program), res_(result) {}

  void Run(std::string_view text) {
    size_t pos = 0;
    while (pos <= text.size()) {
      size_t nl = text.find('\n', pos);
      if (nl == std::string_view::npos) nl = text.size();
      ++line_;
      Statement(text.substr(pos, nl - pos));
      pos = nl + 1;
    }
    if (!open_.empty())
      Diag(open_.back()->textLine, ".function " + open_.back()->name + " has no .end");
    if (!prog_->main) Diag(0, "no .function");
  }

 private:
  void Diag(int line, std::string message) { res_->diags.push_back({line, std::move(message)}); }
  void Diag(std::string message) { Diag(line_, std::move(message)); }

  Func* Current(const char* what) {
    if (open_.empty()) {
      Diag(std::string(what) + " outside a .function");
      return nullptr;
    }
    return open_.back();
  }

  void Statement(std::string_view lineText) {
    std::vector<Token> tokens;
    std::string error;
    if (!Tokenize(lineText, &tokens, &error)) return Diag(error);
    size_t first = 0;
    if (!tokens.empty() && tokens[0].kind == Token::kWord && tokens[0].text.size() > 1 &&
        tokens[0].text.back() == ':' && tokens[0].text[0] != '.') {
      DefineLabel(tokens[0].text.substr(0, tokens[0].text.size() - 1));
      first = 1;
    }
    if (first >= tokens.size()) return;
    const Token& head = tokens[first];
    if (head.kind != Token::kWord) return Diag("expected a mnemonic or a directive");
    std::vector<Token> rest(tokens.begin() + std::ptrdiff_t(first + 1), tokens.end());
    if (head.text[0] == '.')
      Directive(Lower(head.text), rest);
    else
      Instruction(Upper(head.text), rest);
  }

  void DefineLabel(const std::string& name) {
    Func* f = Current("a label");
    if (!f) return;
    if (!IsIdentifier(name)) return Diag("bad label name '" + name + "'");
    if (!f->labels.emplace(name, static_cast<int>(f->code.size())).second)
      Diag("label '" + name + "' defined twice");
  }

  bool SplitArgs(const std::vector<Token>& t, Args* args) {
    for (size_t i = 0; i < t.size(); ++i) {
      if (t[i].kind == Token::kOpen) {
        if (args->hasList) return Diag("only one [...] list allowed"), false;
        args->hasList = true;
        for (++i; i < t.size() && t[i].kind != Token::kClose; ++i) {
          if (t[i].kind != Token::kWord) return Diag("bad entry in [...] list"), false;
          args->list.push_back(&t[i]);
        }
        if (i >= t.size()) return Diag("missing ]"), false;
      } else if (t[i].kind == Token::kWord && i + 1 < t.size() && t[i + 1].kind == Token::kEq) {
        if (i + 2 >= t.size() || (t[i + 2].kind != Token::kWord && t[i + 2].kind != Token::kString))
          return Diag("missing value after " + t[i].text + "="), false;
        args->keywords.emplace_back(Lower(t[i].text), &t[i + 2]);
        i += 2;
      } else if (t[i].kind == Token::kWord || t[i].kind == Token::kString) {
        args->positional.push_back(&t[i]);
      } else {
        return Diag("unexpected " + std::string(t[i].kind == Token::kEq ? "=" : "]")), false;
      }
    }
    return true;
  }

  bool Integer(const Token* t, int64_t min, int64_t max, int64_t* out, const char* what) {
    std::optional<int64_t> v;
    if (t->kind == Token::kWord) v = ParseInteger(t->text);
    if (!v) return Diag(std::string(what) + ": expected an integer, got '" + t->text + "'"), false;
    if (*v < min || *v > max)
      return Diag(std::string(what) + " " + std::to_string(*v) + " out of range " +
                  std::to_string(min) + ".." + std::to_string(max)),
             false;
    *out = *v;
    return true;
  }

  std::optional<Constant> Literal(const Token* t) {
    Constant k;
    if (t->kind == Token::kString) {
      k.type = kTypeString;
      k.text = t->text;
      return k;
    }
    if (Lower(t->text) == "nil") return k;
    if (auto v = ParseNumber(t->text)) {
      k.type = kTypeNumber;
      k.number = *v;
      return k;
    }
    return std::nullopt;
  }

  std::optional<std::string> StringArg(const Token* t, bool allowNone, const char* what) {
    if (t->kind == Token::kString) return t->text;
    if (allowNone && Lower(t->text) == "none") return std::nullopt;
    Diag(std::string(what) + ": expected a double-quoted string");
    return std::string();
  }

  // ---- Directives ---------------------------------------------------------------------------

  void Directive(const std::string& d, const std::vector<Token>& t) {
    auto word = [&](size_t i) -> const Token* {
      return i < t.size() && t[i].kind == Token::kWord ? &t[i] : nullptr;
    };
    auto count = [&](size_t min, size_t max) {
      if (t.size() < min || t.size() > max) {
        Diag(d + " expects " +
             (min == max ? std::to_string(min) : std::to_string(min) + "-" + std::to_string(max)) +
             " operands");
        return false;
      }
      return true;
    };
    int64_t v;
    if (d == ".function") return OpenFunction(t);
    if (d == ".end") {
      if (!count(0, 0) || !Current(".end")) return;
      open_.pop_back();
      return;
    }
    if (d == ".byteorder") {
      if (!count(1, 1)) return;
      std::string s = Lower(t[0].text);
      if (s == "little")
        prog_->byteOrder = 1;
      else if (s == "big")
        prog_->byteOrder = 0;
      else if (Integer(&t[0], 0, 255, &v, ".byteorder"))
        prog_->byteOrder = static_cast<uint8_t>(v);
      return;
    }
    if (d == ".signature" || d == ".sizes") {
      bool sig = d == ".signature";
      if (!count(sig ? 4 : 8, sig ? 4 : 8)) return;
      for (size_t i = 0; i < t.size(); ++i) {
        if (sig) {
          Token hex = t[i];
          hex.text = "0x" + hex.text;
          if (Integer(&hex, 0, 255, &v, ".signature byte"))
            prog_->signature[i] = static_cast<uint8_t>(v);
        } else if (Integer(&t[i], 0, 255, &v, ".sizes entry")) {
          prog_->sizes[i] = static_cast<uint8_t>(v);
        }
      }
      return;
    }
    if (d == ".testnumber") {
      if (!count(1, 1)) return;
      auto n = t[0].kind == Token::kWord ? ParseNumber(t[0].text) : std::nullopt;
      if (!n) return Diag(".testnumber: expected a number");
      prog_->testNumber = *n;
      return;
    }
    if (d == ".truncate") {
      if (count(1, 1) && Integer(&t[0], 0, INT32_MAX, &v, ".truncate")) {
        prog_->truncate = v;
        prog_->truncateLine = line_;
      }
      return;
    }
    if (d == ".append") {
      std::string hex;
      for (auto& tok : t) hex += tok.text;
      if (hex.size() % 2 != 0) return Diag(".append: odd number of hex digits");
      for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) return Diag(".append: expected hex digits");
        prog_->append.push_back(static_cast<uint8_t>(hi * 16 + lo));
      }
      return;
    }
    if (d == ".header") {
      if (!count(2, 2) || !Integer(&t[0], 11, 15, &v, ".header number")) return;
      auto s = StringArg(&t[1], false, ".header");
      if (s->find('\0') != std::string::npos) return Diag(".header text cannot hold \\0");
      prog_->headers[static_cast<int>(v)] = *s;
      return;
    }
    if (d == ".userconst") {
      if (!count(2, 2)) return;
      if (!word(0) || t[0].text.empty()) return Diag(".userconst: expected a name");
      UserConst u;
      u.name = t[0].text;
      if (t[1].kind == Token::kString) {
        if (t[1].text.find('\0') != std::string::npos)
          return Diag(".userconst text cannot hold \\0");
        u.isString = true;
        u.text = t[1].text;
      } else if (auto n = ParseNumber(t[1].text)) {
        u.number = *n;
      } else {
        return Diag(".userconst: expected a number or a string");
      }
      prog_->userConsts.push_back(std::move(u));
      return;
    }
    if (d == ".linemap") {
      if (!count(4, 5)) return;
      LineMap m;
      if (!Integer(&t[0], INT32_MIN, INT32_MAX, &m.first, ".linemap first") ||
          !Integer(&t[1], INT32_MIN, INT32_MAX, &m.last, ".linemap last") ||
          !Integer(&t[2], INT32_MIN, INT32_MAX, &m.base, ".linemap base")) {
        return;
      }
      m.file = *StringArg(&t[3], false, ".linemap file");
      if (t.size() == 5) m.source = *StringArg(&t[4], false, ".linemap source");
      if (m.file.find('\0') != std::string::npos ||
          (m.source && m.source->find('\0') != std::string::npos)) {
        return Diag(".linemap names cannot hold \\0");
      }
      prog_->lineMaps.push_back(std::move(m));
      return;
    }
    if (d == ".display" || d == ".declare" || d == ".rawtag") {
      std::vector<DirectiveToken> operands;
      for (const Token& tok : t) {
        if (tok.kind == Token::kOpen || tok.kind == Token::kClose)
          return Diag(d + ": unexpected bracket");
        operands.push_back({tok.kind == Token::kString ? DirectiveToken::kString
                            : tok.kind == Token::kEq   ? DirectiveToken::kEq
                                                       : DirectiveToken::kWord,
                            tok.text});
      }
      std::string error = ParseAppletDirective(d, operands, prog_);
      if (!error.empty()) return Diag(error);
      return;
    }
    if (d == ".link") {
      if (!count(2, 2)) return;
      auto name = StringArg(&t[0], false, ".link name");
      auto path = StringArg(&t[1], false, ".link path");
      if (name->find('\0') != std::string::npos) return Diag(".link name cannot hold \\0");
      prog_->links.push_back({*name, *path, line_});
      return;
    }

    // The rest belong to a function.
    Func* f = Current(d.c_str());
    if (!f) return;
    if (d == ".source") {
      if (!count(1, 1)) return;
      if (t[0].kind == Token::kString) {
        f->sourceMode = Func::Source::kText;
        f->source = t[0].text;
      } else if (Lower(t[0].text) == "none") {
        f->sourceMode = Func::Source::kNone;
      } else if (Lower(t[0].text) == "inherit") {
        f->sourceMode = Func::Source::kDefault;
      } else {
        Diag(".source: expected a string, none or inherit");
      }
    } else if (d == ".param") {
      for (auto& tok : t) {
        auto name = StringArg(&tok, false, ".param");
        Local l;
        l.name = *name;
        l.end.toEnd = true;
        l.textLine = line_;
        f->locals.push_back(std::move(l));
        f->params = ++f->paramNames;
      }
      if (f->params > 255) Diag("more than 255 parameters");
    } else if (d == ".upvalue") {
      for (auto& tok : t) f->upvalueNames.push_back(StringArg(&tok, true, ".upvalue"));
    } else if (d == ".upvalues") {
      if (count(1, 1) && Integer(&t[0], 0, 255, &v, ".upvalues")) f->upvalueCount = v;
    } else if (d == ".const") {
      size_t at = 0;
      std::string alias;
      if (t.size() == 3 && t[1].kind == Token::kEq) {
        alias = t[0].text;
        if (t[0].kind != Token::kWord || !IsIdentifier(alias)) return Diag("bad constant alias");
        at = 2;
      } else if (!count(1, 1)) {
        return;
      }
      auto k = Literal(&t[at]);
      if (!k) return Diag(".const: expected a string, a number or nil");
      if (!alias.empty() && !f->aliases.emplace(alias, static_cast<int>(f->consts.size())).second)
        return Diag("constant alias '" + alias + "' defined twice");
      f->consts.push_back(*k);
    } else if (d == ".local") {
      if (!count(3, 3)) return;
      Local l;
      l.name = StringArg(&t[0], true, ".local");
      l.textLine = line_;
      if (!LocalBound(&t[1], &l.start) || !LocalBound(&t[2], &l.end)) return;
      f->locals.push_back(std::move(l));
    } else if (d == ".line") {
      if (count(1, 1) && Integer(&t[0], INT32_MIN, INT32_MAX, &v, ".line")) {
        f->currentLine = static_cast<int>(v);
        f->usesLines = true;
      }
    } else if (d == ".lines") {
      if (t.empty()) return Diag(".lines expects none or raw");
      std::string mode = Lower(t[0].text);
      if (mode == "none" && t.size() == 1) {
        f->linesMode = Func::Lines::kNone;
      } else if (mode == "raw") {
        f->linesMode = Func::Lines::kRaw;
        for (size_t i = 1; i < t.size(); ++i)
          if (Integer(&t[i], INT32_MIN, INT32_MAX, &v, ".lines entry")) f->rawLines.push_back(v);
      } else {
        Diag(".lines expects none or raw ...");
      }
    } else if (d == ".export") {
      if (!count(1, 1)) return;
      if (f != prog_->main.get()) return Diag(".export belongs to the main function");
      auto name = StringArg(&t[0], false, ".export");
      if (name->find('\0') != std::string::npos) return Diag(".export name cannot hold \\0");
      res_->exports.emplace_back(*name, static_cast<int>(f->code.size()));
    } else if (d == ".word") {
      if (t.empty()) return Diag(".word expects at least one value");
      for (auto& tok : t) {
        if (!Integer(&tok, 0, UINT32_MAX, &v, ".word")) continue;
        Instr in = NewInstr(f);
        in.word = static_cast<uint32_t>(v);
        in.raw = true;
        f->code.push_back(std::move(in));
      }
    } else {
      Diag("unknown directive " + d);
    }
  }

  bool LocalBound(const Token* t, Bound* b) {
    if (t->kind == Token::kWord && t->text.size() > 1 && t->text[0] == '@') {
      b->label = t->text.substr(1);
      return true;
    }
    return Integer(t, INT32_MIN, INT32_MAX, &b->pc, ".local bound");
  }

  void OpenFunction(const std::vector<Token>& t) {
    if (open_.empty() && prog_->main)
      return Diag("a second top-level .function: only one main function");
    if (t.empty() || t[0].kind != Token::kWord || !IsIdentifier(t[0].text))
      return Diag(".function expects a name");
    auto f = std::make_unique<Func>();
    f->name = t[0].text;
    f->textLine = line_;
    Args args;
    std::vector<Token> rest(t.begin() + 1, t.end());
    if (!SplitArgs(rest, &args)) return;
    for (auto* p : args.positional) {
      if (Lower(p->text) == "vararg")
        f->vararg = 1;
      else
        Diag(".function: unexpected '" + p->text + "'");
    }
    for (auto& [key, value] : args.keywords) {
      if (key == "params") {
        Integer(value, 0, 255, &f->params, "params");
      } else if (key == "vararg") {
        Integer(value, 0, 255, &f->vararg, "vararg");
      } else if (key == "maxstack") {
        int64_t v;
        if (Lower(value->text) == "auto")
          f->maxStack.reset();
        else if (Integer(value, 0, 255, &v, "maxstack"))
          f->maxStack = v;
      } else if (key == "linedefined") {
        Integer(value, INT32_MIN, INT32_MAX, &f->lineDefined, "linedefined");
      } else {
        Diag(".function: unknown option " + key + "=");
      }
    }
    Func* raw = f.get();
    if (open_.empty()) {
      prog_->main = std::move(f);
    } else {
      Func* parent = open_.back();
      for (auto& c : parent->children)
        if (c->name == raw->name)
          Diag("function '" + raw->name + "' defined twice in " + parent->name);
      raw->path = parent->path.empty() ? raw->name : parent->path + "." + raw->name;
      parent->children.push_back(std::move(f));
    }
    open_.push_back(raw);
  }

  // ---- Instructions -------------------------------------------------------------------------

  Instr NewInstr(Func* f) {
    Instr in;
    in.textLine = line_;
    in.sourceLine = f->currentLine;
    return in;
  }

  bool Reg(const Token* t, int64_t max, int64_t* out) {
    auto v = Prefixed(t, 'R');
    if (!v) return Diag("expected a register R<n>, got '" + t->text + "'"), false;
    if (*v > max) return Diag("register R" + std::to_string(*v) + " does not fit its field"), false;
    *out = *v;
    return true;
  }

  // A constant operand for an RK field (`rk`) or a Bx field; registers only in RK fields.
  bool ConstOperand(const Token* t, Field field, bool rk, Instr* in, int64_t* value) {
    if (rk) {
      if (auto r = Prefixed(t, 'R')) {
        if (*r >= kRkBase)
          return Diag("register R" + std::to_string(*r) + " in an RK field reads as a constant"),
                 false;
        *value = *r;
        return true;
      }
    }
    ConstRef ref;
    ref.field = field;
    ref.kind = ConstRef::kIndex;
    if (auto k = Prefixed(t, 'K')) {
      ref.index = *k;
    } else if (t->kind == Token::kWord && t->text.size() > 2 &&
               std::toupper(static_cast<unsigned char>(t->text[0])) == 'K' && t->text[1] == ':') {
      ref.kind = ConstRef::kAlias;
      ref.alias = t->text.substr(2);
    } else if (auto lit = Literal(t)) {
      ref.kind = ConstRef::kLiteral;
      ref.literal = *lit;
    } else {
      return Diag(std::string("expected ") + (rk ? "a register or " : "") + "a constant, got '" +
                  t->text + "'"),
             false;
    }
    in->consts.push_back(std::move(ref));
    *value = 0;
    return true;
  }

  // A code target: @label (resolved later) or a raw +n/-n offset.
  bool Target(const Token* t, Field field, Instr* in, int64_t* offset) {
    if (t->kind == Token::kWord && t->text.size() > 1 && t->text[0] == '@') {
      in->label = t->text.substr(1);
      in->labelField = field;
      *offset = 0;
      return true;
    }
    if (t->kind == Token::kWord && (t->text[0] == '+' || t->text[0] == '-')) {
      FieldRange r = RangeOf(field);
      return Integer(t, r.min, r.max, offset, "offset");
    }
    return Diag("expected @label or +n/-n, got '" + t->text + "'"), false;
  }

  const Token* Keyword(const Args& args, const char* key) {
    for (auto& [k, v] : args.keywords)
      if (k == key) return v;
    return nullptr;
  }

  void Instruction(const std::string& m, const std::vector<Token>& t) {
    Func* f = Current(m.c_str());
    if (!f) return;
    Args args;
    if (!SplitArgs(t, &args)) return;
    const auto& pos = args.positional;

    int op = -1;
    for (auto& info : kOpcodes)
      if (m == info.name) op = info.number;
    bool gosub = m == "GOSUB", retsub = m == "RETSUB";
    if (op < 0 && !gosub && !retsub) return Diag("unknown mnemonic " + m);

    // Keywords this mnemonic understands besides the field overrides.
    std::vector<std::string> known;
    switch (op) {
      case kNewTable:
        known = {"arr", "hashlog"};
        break;
      case kCall:
      case kTailCall:
        known = {"nargs", "nres"};
        break;
      case kReturn:
        known = {"n"};
        break;
      case kForInLoop:
        known = {"vars"};
        break;
      case kSetList:
        known = {"first", "count"};
        break;
      case kSetListTop:
        known = {"first"};
        break;
      default:
        break;
    }
    std::vector<std::pair<Field, int64_t>> overrides;
    for (auto& [key, value] : args.keywords) {
      static const std::pair<const char*, Field> kOverrides[] = {
          {"a", Field::kA},   {"b", Field::kB},     {"c", Field::kC},
          {"bx", Field::kBx}, {"sbx", Field::kSbx}, {"off", Field::kOffset}};
      bool found = std::find(known.begin(), known.end(), key) != known.end();
      for (auto& [name, field] : kOverrides) {
        if (key != name) continue;
        found = true;
        int64_t v;
        FieldRange r = RangeOf(field);
        if (Integer(value, r.min, r.max, &v, FieldName(field))) overrides.emplace_back(field, v);
      }
      if (!found) return Diag(std::string(m).append(": unknown option ").append(key).append("="));
    }
    if (args.hasList && op != kClosure) return Diag(m + " takes no [...] list");

    auto want = [&](size_t n) {
      if (pos.size() != n)
        Diag(m + " expects " + std::to_string(n) + " operands, got " + std::to_string(pos.size()));
      return pos.size() == n;
    };

    Instr in = NewInstr(f);
    int64_t a = 0, b = 0, c = 0, x = 0;
    bool ok = true;
    std::vector<Instr> upvalueList;
    if (gosub || op == kJump) {
      ok = want(1) && Target(pos[0], Field::kOffset, &in, &x);
      in.word = EncodeJump(static_cast<int>(x), gosub ? kGosubPattern : 0);
    } else if (retsub) {
      ok = want(0);
      in.word = EncodeABC(kReturn, 0, 0, 1);
    } else {
      switch (op) {
        case kMove:
        case kLoadNil:
        case kNeg:
        case kNot:
        case kBitNot:
        case kConcat:
          ok = want(op == kConcat ? 3 : 2) && Reg(pos[0], 255, &a) && Reg(pos[1], 511, &b) &&
               (op != kConcat || Reg(pos[2], 511, &c));
          break;
        case kLoadConst:
        case kGetGlobal:
        case kSetGlobal:
          ok = want(2) && Reg(pos[0], 255, &a) && ConstOperand(pos[1], Field::kBx, false, &in, &x);
          break;
        case kLoadBool:
        case kTest:
          ok = want(3) && Reg(pos[0], 255, &a) &&
               (op == kTest ? Reg(pos[1], 511, &b) : Integer(pos[1], 0, 511, &b, "B")) &&
               Integer(pos[2], 0, 511, &c, "C");
          break;
        case kGetUpval:
        case kSetUpval: {
          ok = want(2) && Reg(pos[0], 255, &a);
          if (!ok) break;
          auto u = Prefixed(pos[1], 'U');
          if (!u || *u > 511)
            ok = false, Diag("expected an upvalue U<n> (n <= 511), got '" + pos[1]->text + "'");
          else
            b = *u;
          break;
        }
        case kGetTable:
        case kSelf:
          ok = want(3) && Reg(pos[0], 255, &a) && Reg(pos[1], 511, &b) &&
               ConstOperand(pos[2], Field::kC, true, &in, &c);
          break;
        case kSetTable:
        case kAdd:
        case kSub:
        case kMul:
        case kDiv:
        case kIntDiv:
        case kMod:
        case kShl:
        case kShr:
        case kBitOr:
        case kBitAnd:
        case kBitXor:
        case kPow:
          ok = want(3) && Reg(pos[0], 255, &a) && ConstOperand(pos[1], Field::kB, true, &in, &b) &&
               ConstOperand(pos[2], Field::kC, true, &in, &c);
          break;
        case kEq:
        case kLt:
        case kLe:
          ok = want(3) && Integer(pos[0], 0, 255, &a, "flag") &&
               ConstOperand(pos[1], Field::kB, true, &in, &b) &&
               ConstOperand(pos[2], Field::kC, true, &in, &c);
          break;
        case kNewTable:
          if (pos.size() == 3) {
            ok = Reg(pos[0], 255, &a) && Integer(pos[1], 0, 511, &b, "B") &&
                 Integer(pos[2], 0, 511, &c, "C");
          } else {
            int64_t n = 0;
            ok = want(1) && Reg(pos[0], 255, &a);
            if (auto* arr = Keyword(args, "arr")) ok = ok && Integer(arr, 0, UINT32_MAX, &n, "arr");
            if (auto* h = Keyword(args, "hashlog")) ok = ok && Integer(h, 0, 511, &c, "hashlog");
            // The smallest size code whose array size (B & 7) << (B >> 3) holds n (codes below
            // 256: shifts up to 31).
            for (b = 0; ok && b < 256 && (b & 7) * (int64_t{1} << (b >> 3)) < n; ++b) {
            }
          }
          break;
        case kCall:
        case kTailCall:
          if (pos.size() == 3) {
            ok = Reg(pos[0], 255, &a) && Integer(pos[1], 0, 511, &b, "B") &&
                 Integer(pos[2], 0, 511, &c, "C");
          } else {
            const Token* nargs = Keyword(args, "nargs");
            const Token* nres = Keyword(args, "nres");
            ok = want(1) && Reg(pos[0], 255, &a);
            if (ok && (!nargs || !nres))
              ok = false, Diag(m + " expects nargs= and nres=, or raw B and C");
            if (ok)
              ok = Lower(nargs->text) == "top" ? (b = 0, true)
                                               : Integer(nargs, 0, 510, &b, "nargs") && (++b, true);
            if (ok)
              ok = Lower(nres->text) == "all" ? (c = 0, true)
                                              : Integer(nres, 0, 510, &c, "nres") && (++c, true);
          }
          break;
        case kReturn: {
          const Token* n = Keyword(args, "n");
          if (n) {
            ok = want(1) && Reg(pos[0], 255, &a);
            if (ok)
              ok = Lower(n->text) == "top" ? (b = 0, true)
                                           : Integer(n, 0, 510, &b, "n") && (++b, true);
          } else {
            if (pos.size() < 2 || pos.size() > 3)
              ok = false, Diag("RETURN expects Ra, B[, C] or Ra, n=N|top");
            ok = ok && Reg(pos[0], 255, &a) && Integer(pos[1], 0, 511, &b, "B") &&
                 (pos.size() < 3 || Integer(pos[2], 0, 511, &c, "C"));
          }
          break;
        }
        case kForLoop:
        case kForInPrep:
          ok = want(2) && Reg(pos[0], 255, &a) && Target(pos[1], Field::kSbx, &in, &x);
          break;
        case kForInLoop:
          if (const Token* vars = Keyword(args, "vars")) {
            ok = want(1) && Reg(pos[0], 255, &a) && Integer(vars, 1, 512, &c, "vars") &&
                 (--c, true);
          } else {
            ok = want(2) && Reg(pos[0], 255, &a) && Integer(pos[1], 0, 511, &c, "C");
          }
          break;
        case kSetList:
        case kSetListTop: {
          const Token* first = Keyword(args, "first");
          const Token* cnt = Keyword(args, "count");
          if (!first && !cnt) {
            ok = want(2) && Reg(pos[0], 255, &a) && Integer(pos[1], 0, kMaxBx, &x, "Bx");
            break;
          }
          ok = want(1) && Reg(pos[0], 255, &a);
          if (ok && (!first || (op == kSetList) != (cnt != nullptr)))
            ok = false, Diag(op == kSetList ? "SETLIST expects first= and count="
                                            : "SETLISTTOP expects first=");
          ok = ok && Integer(first, 0, kMaxBx, &x, "first");
          // The low five bits of Bx are the count (SETLIST) or the compiler's item count
          // (SETLISTTOP, written raw), never part of the first key.
          if (ok && x % 32 != 0) ok = false, Diag(m + " first= must be a multiple of 32");
          if (ok && op == kSetList) {
            int64_t n = 1;
            ok = Integer(cnt, 1, 32, &n, "count");
            x |= n - 1;
          }
          break;
        }
        case kClose:
          ok = want(1) && Reg(pos[0], 255, &a);
          break;
        case kClosure:
          ok = want(2) && Reg(pos[0], 255, &a);
          if (!ok) break;
          if (pos[1]->kind == Token::kWord && IsIdentifier(pos[1]->text)) {
            in.child = pos[1]->text;
            in.childListLength = static_cast<int>(args.list.size());
          } else if (!Integer(pos[1], 0, kMaxBx, &x, "CLOSURE function index")) {
            ok = false;
            break;
          } else if (args.hasList) {
            ok = false;
            Diag("CLOSURE by raw index takes no [...] list");
            break;
          }
          for (const Token* e : args.list) {
            Instr u = NewInstr(f);
            auto r = Prefixed(e, 'R');
            auto uv = Prefixed(e, 'U');
            if (r && *r <= 511) {
              u.word = EncodeABC(kMove, 0, static_cast<uint32_t>(*r), 0);
            } else if (uv && *uv <= 511) {
              u.word = EncodeABC(kGetUpval, 0, static_cast<uint32_t>(*uv), 0);
            } else {
              ok = false;
              Diag("CLOSURE list entries are R<n> or U<n>, got '" + e->text + "'");
              continue;
            }
            upvalueList.push_back(std::move(u));
          }
          break;
      }
      if (op == kForLoop || op == kForInPrep)
        in.word = EncodeABx(op, static_cast<uint32_t>(a), static_cast<uint32_t>(x + kSbxBias));
      else if (kOpcodes[op].mode & 3)
        in.word = EncodeABx(op, static_cast<uint32_t>(a), static_cast<uint32_t>(x));
      else
        in.word = EncodeABC(op, static_cast<uint32_t>(a), static_cast<uint32_t>(b),
                            static_cast<uint32_t>(c));
    }
    if (!ok) return;
    in.overrides = std::move(overrides);
    f->code.push_back(std::move(in));
    for (auto& u : upvalueList) f->code.push_back(std::move(u));
  }

  Program* prog_;
  Result* res_;
  std::vector<Func*> open_;
  int line_ = 0;
};

// ---- Writer ---------------------------------------------------------------------------------

class ChunkWriter {
 public:
  ChunkWriter(const Program& p, Result* res) : prog_(p), res_(res), reverse_(p.byteOrder != 1) {}

  std::vector<uint8_t> Write() {
    out_.insert(out_.end(), prog_.signature, prog_.signature + 4);
    out_.push_back(prog_.byteOrder);
    out_.insert(out_.end(), prog_.sizes, prog_.sizes + 8);
    uint64_t bits;
    std::memcpy(&bits, &prog_.testNumber, 8);
    Value(bits, 8);
    Function(*prog_.main, std::nullopt);
    return std::move(out_);
  }

 private:
  void Diag(int line, std::string message) { res_->diags.push_back({line, std::move(message)}); }

  void Value(uint64_t v, int size) {
    for (int i = 0; i < size; ++i) {
      int shift = 8 * (reverse_ ? size - 1 - i : i);
      out_.push_back(static_cast<uint8_t>(v >> shift));
    }
  }
  void Int(int64_t v) { Value(static_cast<uint32_t>(v), 4); }
  void String(const std::optional<std::string>& s) {
    if (!s) return Int(0);
    Int(static_cast<int64_t>(s->size()) + 1);
    out_.insert(out_.end(), s->begin(), s->end());
    out_.push_back(0);
  }

  int ResolveLabel(const Func& f, const std::string& label, int textLine) {
    auto it = f.labels.find(label);
    if (it == f.labels.end()) {
      Diag(textLine, "unknown label @" + label + " in function " + f.name);
      return 0;
    }
    return it->second;
  }

  int64_t Bound(const Func& f, const qvasm::Bound& b, int textLine) {
    if (b.toEnd) return static_cast<int64_t>(f.code.size());
    if (!b.label.empty()) return ResolveLabel(f, b.label, textLine);
    return b.pc;
  }

  // The highest register an instruction reads or writes, -1 for none.
  static int64_t HighestRegister(uint32_t w) {
    uint32_t op = OpOf(w);
    if (op >= kOpcodeCount || op == kJump) return -1;
    int64_t a = AOf(w), b = BOf(w), c = COf(w), hi = a;
    uint8_t mode = kOpcodes[op].mode;
    if ((mode & 4) || ((mode & 8) && b < kRkBase)) hi = std::max(hi, b);
    if ((mode & 16) && c < kRkBase) hi = std::max(hi, c);
    switch (op) {
      case kCall:
      case kTailCall:
        hi = std::max(hi, a + std::max(b - 1, c - 2));
        break;
      case kReturn:
        hi = std::max(hi, a + b - 2);
        break;
      case kSelf:
      case kForInPrep:
        hi = std::max(hi, a + 1);
        break;
      case kForLoop:
        hi = std::max(hi, a + 2);
        break;
      case kForInLoop:
        hi = std::max({hi, a + 5, a + 2 + c});
        break;
      case kSetList:
        hi = std::max<int64_t>(hi, a + (BxOf(w) & 31) + 1);
        break;
      default:
        break;
    }
    return hi;
  }

  void Function(const Func& f, const std::optional<std::string>& enclosingSource) {
    // Resolve code: labels, constants, nested functions.
    std::vector<Constant> pool = f.consts;
    std::vector<uint32_t> code;
    int64_t highest = -1;
    for (size_t pc = 0; pc < f.code.size(); ++pc) {
      const Instr& in = f.code[pc];
      uint32_t w = in.word;
      if (!in.label.empty()) {
        int64_t off = ResolveLabel(f, in.label, in.textLine) - static_cast<int64_t>(pc) - 1;
        FieldRange r = RangeOf(in.labelField);
        if (off < r.min || off > r.max) Diag(in.textLine, "jump to @" + in.label + " out of reach");
        w = SetField(w, in.labelField, off);
      }
      for (const ConstRef& ref : in.consts) {
        int64_t k = ref.index;
        if (ref.kind == ConstRef::kAlias) {
          auto it = f.aliases.find(ref.alias);
          if (it == f.aliases.end()) {
            Diag(in.textLine, "unknown constant alias K:" + ref.alias);
            continue;
          }
          k = it->second;
        } else if (ref.kind == ConstRef::kLiteral) {
          auto it = std::find_if(pool.begin(), pool.end(),
                                 [&](const Constant& c) { return SameConstant(c, ref.literal); });
          k = it - pool.begin();
          if (it == pool.end()) pool.push_back(ref.literal);
        }
        if (ref.field == Field::kBx) {
          if (k > kMaxBx) Diag(in.textLine, "constant K" + std::to_string(k) + " does not fit Bx");
          w = SetField(w, Field::kBx, std::min<int64_t>(k, kMaxBx));
        } else {
          if (k > kMaxRkConstant) {
            Diag(in.textLine, "constant K" + std::to_string(k) +
                                  " is out of RK reach (at most K261): use LOADCONST");
            k = 0;
          }
          w = SetField(w, ref.field, kRkBase + k);
        }
      }
      if (!in.child.empty()) {
        auto it = std::find_if(f.children.begin(), f.children.end(),
                               [&](const auto& c) { return c->name == in.child; });
        if (it == f.children.end()) {
          Diag(in.textLine, "unknown function '" + in.child + "' in " + f.name);
        } else {
          if (in.childListLength != (*it)->UpvalueCount())
            Diag(in.textLine,
                 "CLOSURE " + in.child + " lists " + std::to_string(in.childListLength) +
                     " upvalues, the function has " + std::to_string((*it)->UpvalueCount()));
          w = SetField(w, Field::kBx, it - f.children.begin());
        }
      }
      if (!in.raw) highest = std::max(highest, HighestRegister(w));
      for (auto& [field, v] : in.overrides) w = SetField(w, field, v);
      code.push_back(w);
    }
    int64_t maxStack;
    if (f.maxStack) {
      maxStack = *f.maxStack;
    } else {
      maxStack = std::max<int64_t>({highest + 1, 2, f.params + f.vararg});
      if (maxStack > kMaxStack)
        Diag(f.textLine, "function " + f.name + " needs maxstack " + std::to_string(maxStack) +
                             ", above 250: give maxstack= explicitly");
    }
    for (auto& [name, pc] : f.labels)
      res_->labels[f.path.empty() ? name : f.path + "." + name] = pc;

    // Emit.
    std::optional<std::string> source = enclosingSource;
    if (f.sourceMode == Func::Source::kText) source = f.source;
    String(source != enclosingSource ? source : std::nullopt);
    Int(f.lineDefined);
    out_.push_back(static_cast<uint8_t>(f.UpvalueCount()));
    out_.push_back(static_cast<uint8_t>(f.params));
    out_.push_back(static_cast<uint8_t>(f.vararg));
    out_.push_back(static_cast<uint8_t>(maxStack));
    if (f.linesMode == Func::Lines::kRaw) {
      Int(static_cast<int64_t>(f.rawLines.size()));
      for (int64_t l : f.rawLines) Int(l);
    } else if (f.linesMode == Func::Lines::kAuto && f.usesLines) {
      Int(static_cast<int64_t>(f.code.size()));
      for (const Instr& in : f.code) Int(in.sourceLine);
    } else {
      Int(0);
    }
    Int(static_cast<int64_t>(f.locals.size()));
    for (const Local& l : f.locals) {
      String(l.name);
      Int(Bound(f, l.start, l.textLine));
      Int(Bound(f, l.end, l.textLine));
    }
    Int(static_cast<int64_t>(f.upvalueNames.size()));
    for (auto& n : f.upvalueNames) String(n);
    Int(static_cast<int64_t>(pool.size()));
    for (const Constant& k : pool) {
      out_.push_back(k.type);
      if (k.type == kTypeNumber) {
        uint64_t bits;
        std::memcpy(&bits, &k.number, 8);
        Value(bits, 8);
      } else if (k.type == kTypeString) {
        String(k.text);
      }
    }
    Int(static_cast<int64_t>(f.children.size()));
    for (auto& c : f.children) Function(*c, source);
    Int(static_cast<int64_t>(code.size()));
    for (uint32_t w : code) Value(w, 4);
  }

  const Program& prog_;
  Result* res_;
  bool reverse_;
  std::vector<uint8_t> out_;
};

}  // namespace

Program AssembleProgram(std::string_view text, Result* result) {
  Program prog;
  Parser(&prog, result).Run(text);
  if (!prog.main) return prog;
  std::vector<uint8_t> bytes = ChunkWriter(prog, result).Write();
  if (prog.truncate) {
    if (static_cast<size_t>(*prog.truncate) > bytes.size())
      result->diags.push_back({prog.truncateLine, ".truncate " + std::to_string(*prog.truncate) +
                                                      " is beyond the chunk's " +
                                                      std::to_string(bytes.size()) + " bytes"});
    else
      bytes.resize(static_cast<size_t>(*prog.truncate));
  }
  bytes.insert(bytes.end(), prog.append.begin(), prog.append.end());
  if (result->ok()) result->bytes = std::move(bytes);
  return prog;
}

Result Assemble(std::string_view text, const Options&) {
  Result result;
  AssembleProgram(text, &result);
  return result;
}

}  // namespace qv::qvasm
