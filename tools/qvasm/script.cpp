// The script notation: a readable form of test scripts, turned line by line into the text form
// of the assembler (see TranslateScript in qvasm.h for the notation itself).
#include <cctype>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tools/qvasm/qvasm.h"

namespace qv::qvasm {
namespace {

// The built-in error codes by name, from the table the player is built from.
constexpr std::pair<int, const char*> kErrorNames[] = {
#define QV_ERROR(name, code, textId) {code, #name},
#include "base/errors.def"
#undef QV_ERROR
};

struct Failure {
  int line;
  std::string message;
};

class Translator {
 public:
  Translator(std::string_view source, const ScriptOptions& options) : options_(options) {
    std::istringstream in{std::string(source)};
    std::string line;
    while (std::getline(in, line)) lines_.push_back(line);
  }

  // The assembler text of the whole program; throws Failure on a line it cannot read.
  std::string Program() {
    Function main;
    main.name = "main";
    main.base = 0;
    std::ostringstream head;
    head << "  GETGLOBAL R0, \"raiseonerror\"\n  CLOSURE R1, onerror__\n"
         << "  CALL R0, nargs=1, nres=0\n";
    if (Block(main)) Fail("end without a loop or function");
    std::ostringstream out;
    for (const auto& d : directives_) out << d << "\n";
    out << ".function main\n  .source \"@t.qvs\"\n"
        << head.str() << main.code.str() << "  RETURN R0, n=0\n";
    for (const auto& c : children_) out << c;
    out << ErrorHandler() << ".end\n";
    return out.str();
  }

 private:
  struct Function {
    std::string name;
    std::vector<std::string> params;
    std::ostringstream code;
    std::map<std::string, int> locals;
    int base = 0;  // first free register for statements
    std::vector<std::string> breakLabels;
  };

  const ScriptOptions options_;
  std::vector<std::string> lines_;
  size_t at_ = 0;
  int labels_ = 0;
  std::vector<std::string> children_;
  std::vector<std::string> directives_;

  // ---- lexing one line ----
  std::string text_;
  size_t pos_ = 0;

  [[noreturn]] void Fail(const std::string& why) const {
    throw Failure{int(at_), why + ": " + text_};
  }
  void Skip() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool Peek(char c) {
    Skip();
    return pos_ < text_.size() && text_[pos_] == c;
  }
  bool Take(char c) {
    if (!Peek(c)) return false;
    ++pos_;
    return true;
  }
  void Expect(char c) {
    if (!Take(c)) Fail(std::string("expected ") + c);
  }
  std::string Word() {
    Skip();
    size_t from = pos_;
    while (pos_ < text_.size() &&
           (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_')) {
      ++pos_;
    }
    return text_.substr(from, pos_ - from);
  }
  static std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  std::string Label() {
    std::string label = "L";
    label += std::to_string(labels_++);
    return label;
  }

  // ---- expressions: the value goes to register r ----
  // A call keeps `results` results ("all": every one); returns true when the value was a call.
  bool Expr(Function& f, int r, const char* results = "1") {
    Skip();
    if (pos_ >= text_.size()) Fail("expression expected");
    char c = text_[pos_];
    if (c == '"') {
      size_t from = pos_++;
      while (pos_ < text_.size() && text_[pos_] != '"') pos_ += text_[pos_] == '\\' ? 2 : 1;
      if (pos_ >= text_.size()) Fail("unterminated string");
      ++pos_;
      f.code << "  LOADCONST R" << r << ", " << text_.substr(from, pos_ - from) << "\n";
      return false;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.') {
      size_t from = pos_++;
      while (pos_ < text_.size() &&
             (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '.')) {
        ++pos_;
      }
      f.code << "  LOADCONST R" << r << ", " << text_.substr(from, pos_ - from) << "\n";
      return false;
    }
    if (c == '@') {
      ++pos_;
      f.code << "  CLOSURE R" << r << ", " << Word() << "\n";
      return false;
    }
    if (c == '{') {
      ++pos_;
      f.code << "  NEWTABLE R" << r << ", 0, 0\n";
      int index = 0;
      while (!Take('}')) {
        size_t save = pos_;
        std::string key = Word();
        if (Take('[')) {
          Expr(f, r + 1);
          Expect(']');
          Expect('=');
          Expr(f, r + 2);
          f.code << "  SETTABLE R" << r << ", R" << r + 1 << ", R" << r + 2 << "\n";
        } else if (!key.empty() && Peek('=')) {
          Take('=');
          Expr(f, r + 1);
          f.code << "  SETTABLE R" << r << ", \"" << key << "\", R" << r + 1 << "\n";
        } else {
          pos_ = save;
          Expr(f, r + 1);
          f.code << "  SETTABLE R" << r << ", " << index++ << ", R" << r + 1 << "\n";
        }
        Take(',');
      }
      return false;
    }
    std::string name = Word();
    if (name.empty()) Fail("expression expected");
    if (name == "Nil" || name == "nil") {
      f.code << "  LOADNIL R" << r << ", R" << r << "\n";
      return false;
    }
    auto local = f.locals.find(name);
    if (local != f.locals.end()) {
      f.code << "  MOVE R" << r << ", R" << local->second << "\n";
    } else {
      f.code << "  GETGLOBAL R" << r << ", \"" << Lower(name) << "\"\n";
    }
    while (Peek('.') || Peek('[')) {
      if (Take('.')) {
        f.code << "  GETTABLE R" << r << ", R" << r << ", \"" << Word() << "\"\n";
      } else {
        Take('[');
        Expr(f, r + 1);
        Expect(']');
        f.code << "  GETTABLE R" << r << ", R" << r << ", R" << r + 1 << "\n";
      }
    }
    if (!Take('(')) return false;
    // Arguments keep one result each.
    int n = 0;
    while (!Take(')')) {
      Expr(f, r + 1 + n);
      ++n;
      Take(',');
    }
    f.code << "  CALL R" << r << ", nargs=" << n << ", nres=" << results << "\n";
    return true;
  }

  // ---- statements ----
  void Statement(Function& f) {
    size_t save = pos_;
    std::string word = Word();
    if (word == "do") {
      Expr(f, f.base, "0");
      return;
    }
    if (word == "break") {
      if (f.breakLabels.empty()) Fail("break outside a loop");
      f.code << "  JUMP @" << f.breakLabels.back() << "\n";
      return;
    }
    if (word == "return") {
      Skip();
      if (pos_ >= text_.size()) {
        f.code << "  RETURN R0, n=0\n";
        return;
      }
      Expr(f, f.base);
      f.code << "  RETURN R" << f.base << ", n=1\n";
      return;
    }
    if (word == "for") {
      For(f);
      return;
    }
    if (!word.empty() && Take('=')) {
      Expr(f, f.base);
      auto local = f.locals.find(word);
      if (local != f.locals.end()) {
        f.code << "  MOVE R" << local->second << ", R" << f.base << "\n";
      } else {
        f.code << "  SETGLOBAL R" << f.base << ", \"" << Lower(word) << "\"\n";
      }
      return;
    }
    pos_ = save;
    Skip();
    std::string shown = text_.substr(pos_);
    std::string escaped;
    for (char ch : shown) {
      if (ch == '"' || ch == '\\') escaped += '\\';
      escaped += ch;
    }
    int r = f.base;
    f.code << "  GETGLOBAL R" << r << ", \"debugprint\"\n";
    f.code << "  LOADCONST R" << r + 1 << ", \"" << escaped << "\"\n";
    if (Expr(f, r + 2, "all")) {
      f.code << "  CALL R" << r << ", nargs=top, nres=0\n";
    } else {
      f.code << "  CALL R" << r << ", nargs=2, nres=0\n";
    }
  }

  // The jump to the loop's test, then its body with the loop variable in register `at` and
  // statements from register `base` on; "break" goes to the label `done` that follows the test.
  void LoopBody(Function& f, const std::string& var, int at, int base, const std::string& test,
                const std::string& body, const std::string& done) {
    int outer = f.base;
    std::map<std::string, int> locals = f.locals;  // an inner loop may reuse an outer name
    f.code << "  JUMP @" << test << "\n" << body << ":\n";
    f.locals[var] = at;
    f.base = base;
    f.breakLabels.push_back(done);
    Body(f, "for");
    f.breakLabels.pop_back();
    f.locals = std::move(locals);
    f.base = outer;
  }

  void For(Function& f) {
    std::string var = Word();
    int a = f.base;
    std::string body = Label(), test = Label(), done = Label();
    if (Take('=')) {
      Expr(f, a);
      Expect(',');
      Expr(f, a + 1);
      f.code << "  LOADCONST R" << a + 2 << ", 1\n";
      f.code << "  SUB R" << a << ", R" << a << ", R" << a + 2 << "\n";
      LoopBody(f, var, a, a + 3, test, body, done);
      f.code << test << ":\n  FORLOOP R" << a << ", @" << body << "\n" << done << ":\n";
      return;
    }
    if (Word() != "in") Fail("'=' or 'in' expected");
    // The iterator's call keeps three results: function, state, control.
    Expr(f, a, "3");
    LoopBody(f, var, a + 2, a + 6, test, body, done);
    f.code << test << ":\n  FORINLOOP R" << a << ", vars=1\n  JUMP @" << body << "\n"
           << done << ":\n";
  }

  // Cuts the line at the first ";" outside a string.
  void StripComment() {
    bool quoted = false;
    for (size_t i = 0; i < text_.size(); ++i) {
      if (quoted && text_[i] == '\\') {
        ++i;
      } else if (text_[i] == '"') {
        quoted = !quoted;
      } else if (!quoted && text_[i] == ';') {
        text_.resize(i);
        return;
      }
    }
  }

  // Statements up to the matching "end"; false when the text ended first.
  bool Block(Function& f) {
    while (at_ < lines_.size()) {
      text_ = lines_[at_++];
      StripComment();
      pos_ = 0;
      Skip();
      if (pos_ >= text_.size()) continue;
      if (text_[pos_] == '.') {
        directives_.push_back(text_.substr(pos_));
        continue;
      }
      size_t save = pos_;
      std::string word = Word();
      if (word == "end") return true;
      if (word == "function") {
        FunctionDef();
        continue;
      }
      pos_ = save;
      f.code << "  .line " << at_ << "\n";
      Statement(f);
      Skip();
      if (pos_ < text_.size()) Fail("unexpected text");
    }
    return false;
  }

  // The body of a loop or a function, which must end with "end".
  void Body(Function& f, const char* what) {
    size_t from = at_;
    if (Block(f)) return;
    at_ = from;
    text_ = lines_[from - 1];
    Fail(std::string(what) + " without its end");
  }

  void FunctionDef() {
    Function g;
    g.name = Word();
    Expect('(');
    while (!Take(')')) {
      std::string p = Word();
      if (p.empty()) Fail("parameter expected");
      g.locals[p] = int(g.params.size());
      g.params.push_back(p);
      Take(',');
    }
    g.base = int(g.params.size());
    Body(g, "function");
    std::ostringstream out;
    out << "  .function " << g.name << "\n";
    if (!g.params.empty()) {
      out << "    .param";
      for (const auto& p : g.params) out << " \"" << p << "\"";
      out << "\n";
    }
    out << g.code.str() << "  RETURN R0, n=0\n  .end\n";
    children_.push_back(out.str());
  }

  // The handler every program installs: it prints "error", the code (by its ERR_ name when the
  // options ask for names and the code is built in) and the failed command's name.
  std::string ErrorHandler() const {
    std::ostringstream out;
    out << "  .function onerror__\n    .param \"code\" \"message\" \"func\" \"line\"\n";
    int shown = 0;  // the register holding what is printed for the code
    if (options_.errorNames) {
      // A table from code to name, with every code first mapped to itself so that a code
      // declared at run time prints as its number.
      out << "    NEWTABLE R4, 0, 0\n    SETTABLE R4, R0, R0\n";
      for (const auto& [code, name] : kErrorNames) {
        out << "    LOADCONST R5, " << code << "\n    LOADCONST R6, \"" << name
            << "\"\n    SETTABLE R4, R5, R6\n";
      }
      out << "    GETTABLE R8, R4, R0\n";
      shown = 8;
    }
    out << "    GETGLOBAL R4, \"debugprint\"\n    LOADCONST R5, \"error\"\n"
        << "    MOVE R6, R" << shown << "\n    MOVE R7, R2\n    CALL R4, nargs=3, nres=0\n"
        << "    RETURN R0, n=0\n  .end\n";
    return out.str();
  }
};

}  // namespace

ScriptText TranslateScript(std::string_view script, const ScriptOptions& options) {
  ScriptText result;
  try {
    result.text = Translator(script, options).Program();
  } catch (const Failure& failure) {
    result.diags.push_back({failure.line, failure.message});
  }
  return result;
}

}  // namespace qv::qvasm
