// Chunk to text. The text is checked by assembling it again; when that does not give the same
// bytes (a defective chunk, or one the text form cannot express) the readable text is kept as
// comments and the bytes are written raw, so the result always assembles to the input.
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <set>

#include "tools/qvasm/model.h"

namespace qv::qvasm {
namespace {

constexpr int kMaxDepth = 1000;

struct DLocal {
  std::optional<std::string> name;
  int32_t start, end;
};

struct DFunc {
  std::optional<std::string> source;
  int32_t lineDefined = 0;
  uint8_t nups = 0, params = 0, vararg = 0, maxStack = 0;
  std::vector<int32_t> lines;
  std::vector<DLocal> locals;
  std::vector<std::optional<std::string>> upvalueNames;
  std::vector<Constant> consts;
  std::vector<DFunc> children;
  std::vector<uint32_t> code;
};

struct Header {
  uint8_t signature[4];
  uint8_t byteOrder;
  uint8_t sizes[8];
  double testNumber;
};

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> data) : data_(data) {}

  bool ReadHeader(Header* h) {
    if (!Bytes(h->signature, 4) || !Bytes(&h->byteOrder, 1) || !Bytes(h->sizes, 8)) return false;
    reverse_ = h->byteOrder != 1;
    uint64_t bits;
    if (!Value(8, &bits)) return false;
    std::memcpy(&h->testNumber, &bits, 8);
    return true;
  }

  bool ReadFunction(DFunc* f, int depth) {
    if (depth > kMaxDepth) return Fail("functions nested too deeply");
    uint8_t four[4];
    if (!String(&f->source) || !Int(&f->lineDefined) || !Bytes(four, 4)) return false;
    f->nups = four[0], f->params = four[1], f->vararg = four[2], f->maxStack = four[3];
    int32_t n;
    if (!Count(4, &n)) return false;
    f->lines.resize(n);
    for (auto& l : f->lines)
      if (!Int(&l)) return false;
    if (!Count(12, &n)) return false;
    f->locals.resize(n);
    for (auto& l : f->locals)
      if (!String(&l.name) || !Int(&l.start) || !Int(&l.end)) return false;
    if (!Count(4, &n)) return false;
    f->upvalueNames.resize(n);
    for (auto& u : f->upvalueNames)
      if (!String(&u)) return false;
    if (!Count(1, &n)) return false;
    f->consts.resize(n);
    for (auto& k : f->consts) {
      if (!Bytes(&k.type, 1)) return false;
      if (k.type == kTypeNumber) {
        uint64_t bits;
        if (!Value(8, &bits)) return false;
        std::memcpy(&k.number, &bits, 8);
      } else if (k.type == kTypeString) {
        std::optional<std::string> s;
        if (!String(&s)) return false;
        k.text = s.value_or("");
      } else if (k.type != kTypeNil) {
        return Fail("unknown constant type " + std::to_string(k.type));
      }
    }
    if (!Count(36, &n)) return false;  // the smallest function record
    f->children.resize(n);
    for (auto& c : f->children)
      if (!ReadFunction(&c, depth + 1)) return false;
    if (!Count(4, &n)) return false;
    f->code.resize(n);
    for (auto& w : f->code) {
      uint64_t v;
      if (!Value(4, &v)) return false;
      w = static_cast<uint32_t>(v);
    }
    return true;
  }

  size_t pos() const { return pos_; }
  const std::string& error() const { return error_; }

 private:
  bool Fail(std::string e) {
    if (error_.empty()) error_ = std::move(e) + " at byte " + std::to_string(pos_);
    return false;
  }
  bool Bytes(uint8_t* out, size_t n) {
    if (data_.size() - pos_ < n) return Fail("unexpected end of data");
    std::memcpy(out, data_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  bool Value(int size, uint64_t* v) {
    uint8_t b[8];
    if (!Bytes(b, size)) return false;
    *v = 0;
    for (int i = 0; i < size; ++i) *v |= uint64_t{b[reverse_ ? size - 1 - i : i]} << (8 * i);
    return true;
  }
  bool Int(int32_t* out) {
    uint64_t v;
    if (!Value(4, &v)) return false;
    *out = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
  }
  // A count whose elements take at least `minSize` bytes each.
  bool Count(size_t minSize, int32_t* n) {
    if (!Int(n)) return false;
    if (*n < 0) return Fail("negative count");
    if (static_cast<uint64_t>(*n) * minSize > data_.size() - pos_)
      return Fail("count beyond the data");
    return true;
  }
  bool String(std::optional<std::string>* s) {
    uint64_t len;
    if (!Value(4, &len)) return false;
    if (len == 0) {
      s->reset();
      return true;
    }
    if (len > data_.size() - pos_) return Fail("string beyond the data");
    *s = std::string(reinterpret_cast<const char*>(data_.data() + pos_), len - 1);
    pos_ += len;
    return true;
  }

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool reverse_ = false;
  std::string error_;
};

std::string Hex(uint32_t w) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08" PRIX32, w);
  return buf;
}

std::string LiteralText(const Constant& k) {
  if (k.type == kTypeNumber) return FormatNumber(k.number);
  if (k.type == kTypeString) return QuoteString(k.text);
  return "nil";
}

class Printer {
 public:
  std::string out;

  void Function(const DFunc& f, const std::string& name, int indent) {
    std::string pad(indent, ' ');
    out += pad + ".function " + name + " maxstack=" + std::to_string(f.maxStack);
    if (f.params) out += " params=" + std::to_string(f.params);
    if (f.vararg == 1) out += " vararg";
    if (f.vararg > 1) out += " vararg=" + std::to_string(f.vararg);
    if (f.lineDefined) out += " linedefined=" + std::to_string(f.lineDefined);
    out += "\n";
    pad += "  ";
    if (f.source) out += pad + ".source " + QuoteString(*f.source) + "\n";
    if (f.upvalueNames.size() != f.nups) out += pad + ".upvalues " + std::to_string(f.nups) + "\n";
    if (!f.upvalueNames.empty()) {
      out += pad + ".upvalue";
      for (auto& n : f.upvalueNames) out += " " + (n ? QuoteString(*n) : "none");
      out += "\n";
    }
    for (auto& k : f.consts) out += pad + ".const " + LiteralText(k) + "\n";
    for (auto& l : f.locals)
      out += pad + ".local " + (l.name ? QuoteString(*l.name) : "none") + " " +
             std::to_string(l.start) + " " + std::to_string(l.end) + "\n";
    Code(f, pad);
    for (size_t i = 0; i < f.children.size(); ++i)
      Function(f.children[i], ChildName(i), indent + 2);
    out += std::string(indent, ' ') + ".end\n";
  }

 private:
  static std::string ChildName(size_t i) { return "f" + std::to_string(i); }

  // A jump or loop target, -1 when it lies outside the code (then printed as an offset).
  static int64_t Target(const DFunc& f, size_t pc, uint32_t w) {
    int64_t off = OpOf(w) == kJump ? JumpOffsetOf(w) : SbxOf(w);
    int64_t t = static_cast<int64_t>(pc) + 1 + off;
    return t >= 0 && t <= static_cast<int64_t>(f.code.size()) ? t : -1;
  }
  static bool HasTarget(uint32_t w) {
    uint32_t op = OpOf(w);
    return (op == kJump && (JumpPatternOf(w) == 0 || JumpPatternOf(w) == kGosubPattern)) ||
           op == kForLoop || op == kForInPrep;
  }
  static std::string TargetText(const DFunc& f, size_t pc, uint32_t w) {
    int64_t t = Target(f, pc, w);
    if (t >= 0) return "@L" + std::to_string(t);
    int64_t off = OpOf(w) == kJump ? JumpOffsetOf(w) : SbxOf(w);
    return (off >= 0 ? "+" : "") + std::to_string(off);
  }

  static std::string K(const DFunc& f, uint32_t k) {
    if (k < f.consts.size()) {
      size_t first = 0;
      while (!SameConstant(f.consts[first], f.consts[k])) ++first;
      if (first == k) return LiteralText(f.consts[k]);
    }
    return "K" + std::to_string(k);
  }
  static std::string R(uint32_t r) { return "R" + std::to_string(r); }
  static std::string RK(const DFunc& f, uint32_t v) {
    return v < kRkBase ? R(v) : K(f, v - kRkBase);
  }

  // How many words after a CLOSURE at `pc` form its upvalue list (0 when they cannot be
  // written as one: a bad function index, other words, a label or a line change among them).
  static size_t ClosureGroup(const DFunc& f, size_t pc, const std::set<int64_t>& labels,
                             bool lineDirectives) {
    uint32_t bx = BxOf(f.code[pc]);
    if (bx >= f.children.size()) return SIZE_MAX;
    size_t n = f.children[bx].nups;
    if (n == 0) return 0;
    if (n > f.code.size() - pc - 1) return SIZE_MAX;
    for (size_t i = pc + 1; i <= pc + n; ++i) {
      uint32_t w = f.code[i];
      if ((OpOf(w) != kMove && OpOf(w) != kGetUpval) || AOf(w) != 0 || COf(w) != 0 ||
          labels.count(static_cast<int64_t>(i)) || (lineDirectives && f.lines[i] != f.lines[pc]))
        return SIZE_MAX;
    }
    return n;
  }

  void Code(const DFunc& f, const std::string& pad) {
    std::set<int64_t> labels;
    for (size_t pc = 0; pc < f.code.size(); ++pc)
      if (HasTarget(f.code[pc]) && Target(f, pc, f.code[pc]) >= 0)
        labels.insert(Target(f, pc, f.code[pc]));
    bool lineDirectives = !f.code.empty() && f.lines.size() == f.code.size();
    if (!lineDirectives && !f.lines.empty()) {
      out += pad + ".lines raw";
      for (int32_t l : f.lines) out += " " + std::to_string(l);
      out += "\n";
    }
    for (size_t pc = 0; pc < f.code.size(); ++pc) {
      if (labels.count(static_cast<int64_t>(pc)))
        out += pad.substr(2) + "L" + std::to_string(pc) + ":\n";
      if (lineDirectives && (pc == 0 || f.lines[pc] != f.lines[pc - 1]))
        out += pad + ".line " + std::to_string(f.lines[pc]) + "\n";
      out += pad + Instruction(f, pc, labels, lineDirectives) + "\n";
    }
    if (labels.count(static_cast<int64_t>(f.code.size())))
      out += pad.substr(2) + "L" + std::to_string(f.code.size()) + ":\n";
  }

  std::string Instruction(const DFunc& f, size_t& pc, const std::set<int64_t>& labels,
                          bool lineDirectives) {
    uint32_t w = f.code[pc];
    uint32_t op = OpOf(w), a = AOf(w), b = BOf(w), c = COf(w), bx = BxOf(w);
    if (op >= kOpcodeCount) return ".word " + Hex(w);
    std::string s = kOpcodes[op].name;
    auto extraB = [&] { return b ? ", B=" + std::to_string(b) : std::string(); };
    auto extraC = [&] { return c ? ", C=" + std::to_string(c) : std::string(); };
    switch (op) {
      case kMove:
      case kLoadNil:
      case kNeg:
      case kNot:
      case kBitNot:
        return s + " " + R(a) + ", " + R(b) + extraC();
      case kLoadConst:
      case kGetGlobal:
      case kSetGlobal:
        return s + " " + R(a) + ", " + K(f, bx);
      case kLoadBool:
      case kNewTable:
        return s + " " + R(a) + ", " + std::to_string(b) + ", " + std::to_string(c);
      case kGetUpval:
      case kSetUpval:
        return s + " " + R(a) + ", U" + std::to_string(b) + extraC();
      case kGetTable:
      case kSelf:
        return s + " " + R(a) + ", " + R(b) + ", " + RK(f, c);
      case kConcat:
        return s + " " + R(a) + ", " + R(b) + ", " + R(c);
      case kJump:
        if (JumpPatternOf(w) == 0) return "JUMP " + TargetText(f, pc, w);
        if (JumpPatternOf(w) == kGosubPattern) return "GOSUB " + TargetText(f, pc, w);
        return ".word " + Hex(w);
      case kEq:
      case kLt:
      case kLe:
        return s + " " + std::to_string(a) + ", " + RK(f, b) + ", " + RK(f, c);
      case kTest:
        return s + " " + R(a) + ", " + R(b) + ", " + std::to_string(c);
      case kCall:
      case kTailCall:
        return s + " " + R(a) + ", nargs=" + (b ? std::to_string(b - 1) : "top") +
               ", nres=" + (c ? std::to_string(c - 1) : "all");
      case kReturn:
        if (a == 0 && b == 0 && c == 1) return "RETSUB";
        if (c == 0) return s + " " + R(a) + ", n=" + (b ? std::to_string(b - 1) : "top");
        return s + " " + R(a) + ", " + std::to_string(b) + ", " + std::to_string(c);
      case kForLoop:
      case kForInPrep:
        return s + " " + R(a) + ", " + TargetText(f, pc, w);
      case kForInLoop:
        return s + " " + R(a) + ", vars=" + std::to_string(c + 1) + extraB();
      case kSetList:
        return s + " " + R(a) + ", first=" + std::to_string(bx & ~31u) +
               ", count=" + std::to_string((bx & 31) + 1);
      case kSetListTop:  // the first key when Bx names one, else Bx raw
        return s + " " + R(a) + ", " + (bx % 32 == 0 ? "first=" : "") + std::to_string(bx);
      case kClose:
        return s + " " + R(a) + extraB() + extraC();
      case kClosure: {
        size_t n = ClosureGroup(f, pc, labels, lineDirectives);
        if (n == SIZE_MAX) return s + " " + R(a) + ", " + std::to_string(bx);
        s += " " + R(a) + ", " + ChildName(bx);
        if (n == 0) return s;
        s += " [";
        for (size_t i = 1; i <= n; ++i) {
          uint32_t u = f.code[pc + i];
          s += (i > 1 ? ", " : "") + std::string(OpOf(u) == kMove ? "R" : "U") +
               std::to_string(BOf(u));
        }
        pc += n;
        return s + "]";
      }
      default:
        return s + " " + R(a) + ", " + RK(f, b) + ", " + RK(f, c);  // SETTABLE, arithmetic
    }
  }
};

std::string HexBytes(std::span<const uint8_t> bytes) {
  std::string out;
  static const char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < bytes.size(); i += 32) {
    out += ".append ";
    for (size_t j = i; j < bytes.size() && j < i + 32; ++j) {
      out += kHex[bytes[j] >> 4];
      out += kHex[bytes[j] & 15];
    }
    out += "\n";
  }
  return out;
}

}  // namespace

std::string Disassemble(std::span<const uint8_t> chunk) {
  Reader reader(chunk);
  Header h;
  DFunc main;
  std::string note, reading;
  if (reader.ReadHeader(&h) && reader.ReadFunction(&main, 0)) {
    Printer p;
    if (h.byteOrder == 0)
      p.out += ".byteorder big\n";
    else if (h.byteOrder != 1)
      p.out += ".byteorder " + std::to_string(h.byteOrder) + "\n";
    if (std::memcmp(h.signature, kSignature, 4) != 0) {
      static const char kHex[] = "0123456789ABCDEF";
      p.out += ".signature";
      for (uint8_t b : h.signature) p.out += std::string(" ") + kHex[b >> 4] + kHex[b & 15];
      p.out += "\n";
    }
    if (std::memcmp(h.sizes, kSizes, 8) != 0) {
      p.out += ".sizes";
      for (uint8_t b : h.sizes) p.out += " " + std::to_string(b);
      p.out += "\n";
    }
    if (std::bit_cast<uint64_t>(h.testNumber) != std::bit_cast<uint64_t>(kTestNumber))
      p.out += ".testnumber " + FormatNumber(h.testNumber) + "\n";
    p.Function(main, "main", 0);
    p.out += HexBytes(chunk.subspan(reader.pos()));
    Result check = Assemble(p.out);
    if (check.ok() &&
        std::equal(check.bytes.begin(), check.bytes.end(), chunk.begin(), chunk.end()))
      return p.out;
    note = "the text form cannot express this chunk exactly; its reading:";
    reading = std::move(p.out);
  } else {
    note = "defective chunk: " + reader.error();
  }
  std::string out = "; " + note + "\n";
  for (size_t pos = 0; pos < reading.size();) {
    size_t nl = reading.find('\n', pos);
    out += "; " + reading.substr(pos, nl - pos) + "\n";
    pos = nl + 1;
  }
  out += "; the bytes as they are:\n.function main\n  RETURN R0, 1\n.end\n.truncate 0\n";
  return out + HexBytes(chunk);
}

}  // namespace qv::qvasm
