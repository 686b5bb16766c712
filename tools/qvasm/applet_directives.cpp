// The applet's display and declaration directives: `.display` (the header's display tags),
// `.declare` (object declarations, one tag-2 record) and `.rawtag` (any record as hex).
#include <cmath>
#include <string>

#include "tools/qvasm/model.h"

namespace qv::qvasm {

namespace {

// Container numbers are big-endian.
struct Bytes {
  std::vector<uint8_t> out;
  void U8(int64_t v) { out.push_back(static_cast<uint8_t>(v)); }
  void U16(int64_t v) {
    U8(v >> 8);
    U8(v);
  }
  void U32(int64_t v) {
    U16(v >> 16);
    U16(v);
  }
  void Text16(const std::string& s) {  // a 16-bit length and the bytes
    U16(static_cast<int64_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
  }
};

struct Reader {
  const std::vector<DirectiveToken>& t;
  size_t i = 0;
  std::string error;

  bool More() const { return i < t.size(); }
  bool Int(int64_t* v, int64_t min, int64_t max, const char* what) {
    if (!error.empty()) return false;
    if (i >= t.size() || t[i].kind != DirectiveToken::kWord) {
      error = std::string("expected ") + what;
      return false;
    }
    auto n = ParseInteger(t[i].text);
    if (!n || *n < min || *n > max) {
      error = std::string(what) + ": bad value '" + t[i].text + "'";
      return false;
    }
    ++i;
    *v = *n;
    return true;
  }
  bool Str(std::string* s, const char* what) {
    if (!error.empty()) return false;
    if (i >= t.size() || t[i].kind != DirectiveToken::kString) {
      error = std::string("expected a string for ") + what;
      return false;
    }
    *s = t[i++].text;
    return true;
  }
  std::string Word() {
    if (i >= t.size() || t[i].kind != DirectiveToken::kWord) return {};
    std::string w = t[i++].text;
    for (char& c : w) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return w;
  }
  bool End() {
    if (!error.empty()) return false;
    if (i != t.size()) error = "too many operands";
    return error.empty();
  }
};

constexpr int64_t kS16 = 32767, kS32 = 2147483647, kU32 = 4294967295;

std::string Display(Reader& r, Program* prog) {
  std::string what = r.Word();
  Bytes b;
  int64_t v1 = 0, v2 = 0;
  uint8_t tag = 0;
  struct Flag {
    const char* name;
    uint8_t tag;
  };
  static const Flag kFlags[] = {{"borderless", 18},  {"fixed", 19},        {"sizeable", 20},
                                {"hidepointer", 24}, {"nomodeswitch", 25}, {"nohide", 30}};
  for (const Flag& f : kFlags) {
    if (what == f.name) {
      tag = f.tag;
      if (r.Int(&v1, 0, 1, what.c_str())) b.U8(v1);
    }
  }
  if (tag != 0) {
  } else if (what == "name") {
    tag = 4;
    std::string s;
    if (r.Str(&s, ".display name")) b.Text16(s);
  } else if (what == "size" || what == "screen") {
    tag = what == "size" ? 3 : 22;
    if (r.Int(&v1, -32768, kS16, "width") && r.Int(&v2, -32768, kS16, "height")) {
      b.U16(v1);
      b.U16(v2);
    }
  } else if (what == "color") {
    tag = 5;
    if (r.Int(&v1, 0, kU32, "colour")) b.U32(v1);
  } else if (what == "pos") {
    tag = 6;
    if (r.Int(&v1, -kS32 - 1, kS32, "x") && r.Int(&v2, -kS32 - 1, kS32, "y")) {
      b.U32(v1);
      b.U32(v2);
    }
  } else if (what == "desktop" || what == "reset") {
    tag = what == "desktop" ? 7 : 29;
  } else if (what == "mode" || what == "depth" || what == "hidetitle") {
    tag = what == "mode" ? 16 : what == "depth" ? 23 : 21;
    if (r.Int(&v1, 0, 255, what.c_str())) b.U8(v1);
  } else if (what == "scale") {
    tag = 28;
    std::string kind = r.Word();
    if (kind != "layer" && kind != "auto") return ".display scale: expected layer or auto";
    b.U8(kind == "layer" ? 1 : 0);
    if (r.Int(&v1, -kS32 - 1, kS32, "width") && r.Int(&v2, -kS32 - 1, kS32, "height")) {
      b.U32(v1);
      b.U32(v2);
    }
    bool smooth = false;
    if (r.More()) {
      if (r.Word() != "smooth") return ".display scale: expected smooth";
      smooth = true;
    }
    b.U8(smooth ? 1 : 0);
  } else if (what == "backfill") {
    tag = 17;
    std::string kind = r.Word();
    static const char* const kKinds[] = {"none", "color", "gradient", "brush", "picture"};
    int type = -1;
    for (int k = 0; k < 5; ++k) {
      if (kind == kKinds[k]) type = k;
    }
    if (type < 0) return ".display backfill: expected none, color, gradient, brush or picture";
    b.U8(type);
    const int counts[] = {0, 1, 2, 1, 5};
    for (int k = 0; k < counts[type]; ++k) {
      int64_t v;
      if (!r.Int(&v, -kS32 - 1, kU32, "backfill value")) break;
      b.U32(v);
    }
    if (type == 4) {
      bool scale = false;
      if (r.More()) {
        if (r.Word() != "scale") return ".display backfill picture: expected scale";
        scale = true;
      }
      b.U8(scale ? 1 : 0);
    }
  } else {
    return ".display: unknown setting '" + what + "'";
  }
  if (!r.End()) return ".display " + what + ": " + r.error;
  prog->records.push_back({tag, std::move(b.out), false});
  return {};
}

// The fields of a `.declare` line: name = value [, value ...].
struct Fields {
  std::map<std::string, std::vector<DirectiveToken>> values;
  bool Has(const char* name) const { return values.count(name) != 0; }
};

bool FieldInt(const Fields& f, const char* name, int64_t min, int64_t max, int64_t* out,
              std::string* error) {
  auto it = f.values.find(name);
  if (it == f.values.end()) return true;
  if (it->second.size() != 1 || it->second[0].kind != DirectiveToken::kWord) {
    *error = std::string("field ") + name + ": expected one number";
    return false;
  }
  auto v = ParseInteger(it->second[0].text);
  if (!v || *v < min || *v > max) {
    *error = std::string("field ") + name + ": bad value '" + it->second[0].text + "'";
    return false;
  }
  *out = *v;
  return true;
}

void DefaultGradient(Bytes& b) {
  b.U8(2);
  b.U32(500000);
  b.U32(500000);
  b.U32(500000);
  b.U32(0);
  b.U8(0);
}

std::string Declare(Reader& r, Program* prog) {
  static const char* const kKinds[] = {"bgpic",   "brush",   "anim",   "music", "sample",
                                       "button",  "keydown", "sprite", "file",  "font",
                                       "display", "video",   "plugin"};
  std::string kind = r.Word();
  int type = -1;
  for (int k = 0; k < 13; ++k) {
    if (kind == kKinds[k]) type = k;
  }
  if (type < 0) return ".declare: unknown kind '" + kind + "'";
  Declaration d;
  d.kind = static_cast<uint8_t>(type);
  int64_t id = 0;
  if (!r.Int(&id, -kS32 - 1, kS32, "id") || !r.Str(&d.file, "the file")) {
    return ".declare: " + r.error;
  }
  d.id = static_cast<int32_t>(id);
  Fields f;
  while (r.i < r.t.size()) {
    const auto& t = r.t;
    if (t[r.i].kind != DirectiveToken::kWord || r.i + 1 >= t.size() ||
        t[r.i + 1].kind != DirectiveToken::kEq) {
      return ".declare: expected name=value";
    }
    std::string name = t[r.i].text;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    r.i += 2;
    std::vector<DirectiveToken> values;
    while (r.i < t.size() && t[r.i].kind != DirectiveToken::kEq &&
           !(r.i + 1 < t.size() && t[r.i + 1].kind == DirectiveToken::kEq)) {
      values.push_back(t[r.i++]);
    }
    if (values.empty()) return ".declare: no value for " + name;
    f.values[name] = std::move(values);
  }
  std::string error;
  bool minusOne = type == 0 || type == 1 || type == 2 || type == 7;
  int64_t line = 0, extra1 = minusOne ? -1 : 0, extra2 = 0;
  if (!FieldInt(f, "line", -kS32 - 1, kS32, &line, &error) ||
      !FieldInt(f, "extra1", -kS32 - 1, kU32, &extra1, &error) ||
      !FieldInt(f, "extra2", -kS32 - 1, kU32, &extra2, &error)) {
    return ".declare: " + error;
  }
  d.line = static_cast<int32_t>(line);
  d.extra1 = static_cast<int32_t>(extra1);
  d.extra2 = static_cast<int32_t>(extra2);
  if (auto it = f.values.find("stretch"); it != f.values.end()) {
    auto off = it->second.size() == 2 ? ParseInteger(it->second[0].text) : std::nullopt;
    auto len = it->second.size() == 2 ? ParseInteger(it->second[1].text) : std::nullopt;
    if (!off || !len || *off < 0 || *len < 0 || *off > kU32 || *len > kU32)
      return ".declare: stretch=OFFSET,LENGTH";
    d.stretchOffset = static_cast<uint32_t>(*off);
    d.stretchLength = static_cast<uint32_t>(*len);
  }
  Bytes b;
  auto num = [&](const char* name, int64_t def, int64_t min, int64_t max) {
    int64_t v = def;
    if (!FieldInt(f, name, min, max, &v, &error)) return def;
    return v;
  };
  auto text = [&](const char* name, const char* def) {
    auto it = f.values.find(name);
    if (it == f.values.end()) return std::string(def);
    if (it->second.size() != 1 || it->second[0].kind != DirectiveToken::kString) {
      error = std::string("field ") + name + ": expected a string";
      return std::string(def);
    }
    return it->second[0].text;
  };
  switch (type) {
    case 0:  // bgpic
      b.U8(num("fillstyle", 0, 0, 255));
      b.U32(num("color", 0, 0, kU32));
      b.U32(num("endcolor", 0, 0, kU32));
      b.U16(num("angle", 0, -32768, kS16));
      b.U32(num("texture", 0, -kS32 - 1, kS32));
      b.U32(num("tx", 0, -kS32 - 1, kS32));
      b.U32(num("ty", 0, -kS32 - 1, kS32));
      DefaultGradient(b);
      break;
    case 1:  // brush
      for (const char* name : {"width", "height", "x", "y"}) b.U16(num(name, 0, -32768, kS16));
      b.U16(num("alpha", -1, -32768, kS16));
      b.U8(num("hardware", 0, 0, 255));
      break;
    case 2:  // anim
      b.U8(num("fromdisk", 0, 0, 255));
      [[fallthrough]];
    case 7:  // sprite
      for (const char* name : {"width", "height", "frames", "fpr", "x", "y"})
        b.U16(num(name, 0, -32768, kS16));
      break;
    case 5: {  // button
      auto it = f.values.find("rect");
      for (size_t k = 0; k < 4; ++k) {
        std::optional<int64_t> v = 0;
        if (it != f.values.end()) {
          v = it->second.size() == 4 ? ParseInteger(it->second[k].text) : std::nullopt;
          if (!v) return ".declare: rect=A,B,C,D";
        }
        b.U16(*v);
      }
      break;
    }
    case 10:  // display
      b.U32(num("bgpic", 0, -kS32 - 1, kS32));
      b.U32(num("x", -100000, -kS32 - 1, kS32));
      b.U32(num("y", -100000, -kS32 - 1, kS32));
      b.U32(num("width", 640, -kS32 - 1, kS32));
      b.U32(num("height", 480, -kS32 - 1, kS32));
      b.U32(num("color", 0, 0, kU32));
      b.U32(num("flags", 0, 0, kU32));
      b.U32(num("mask", 0, 0, kU32));
      b.U32(num("scalewidth", 0, -kS32 - 1, kS32));
      b.U32(num("scaleheight", 0, -kS32 - 1, kS32));
      b.U32(0);  // no drag regions
      b.U32(0);  // no size regions
      b.Text16(text("title", "Quillvane"));
      b.U8(num("fillstyle", 1, 0, 255));
      b.U32(num("endcolor", 0, 0, kU32));
      b.U16(num("angle", 0, -32768, kS16));
      b.U32(num("texture", 0, -kS32 - 1, kS32));
      b.U32(num("tx", 0, -kS32 - 1, kS32));
      b.U32(num("ty", 0, -kS32 - 1, kS32));
      DefaultGradient(b);
      b.Text16(text("pubscreen", ""));
      break;
    default:
      break;
  }
  if (!error.empty()) return ".declare: " + error;
  d.sub = std::move(b.out);
  if (prog->declarations.empty()) prog->records.push_back({2, {}, true});
  prog->declarations.push_back(std::move(d));
  return {};
}

std::string RawTag(Reader& r, Program* prog) {
  int64_t tag = 0;
  if (!r.Int(&tag, 0, 255, "tag")) return ".rawtag: " + r.error;
  std::string hex;
  if (r.More() && !r.Str(&hex, "hex")) return ".rawtag: " + r.error;
  if (!r.End()) return ".rawtag: " + r.error;
  std::vector<uint8_t> bytes;
  std::string digits;
  for (char c : hex) {
    if (c != ' ') digits += c;
  }
  if (digits.size() % 2 != 0) return ".rawtag: odd number of hex digits";
  for (size_t k = 0; k < digits.size(); k += 2) {
    auto v = ParseInteger("0x" + digits.substr(k, 2));
    if (!v) return ".rawtag: expected hex digits";
    bytes.push_back(static_cast<uint8_t>(*v));
  }
  prog->records.push_back({static_cast<uint8_t>(tag), std::move(bytes), false});
  return {};
}

}  // namespace

std::string ParseAppletDirective(const std::string& name, const std::vector<DirectiveToken>& t,
                                 Program* prog) {
  Reader r{t};
  if (name == ".display") return Display(r, prog);
  if (name == ".declare") return Declare(r, prog);
  return RawTag(r, prog);
}

}  // namespace qv::qvasm
