// A small chunk reader of the tests' own, so the assembler's output is checked against the byte
// layout rather than against the assembler's model. It records where every multi-byte value
// lies so the byte-order test can reverse them one by one.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace qvtest {

struct ViewConst {
  uint8_t type;
  double number = 0;
  std::string text;
};

struct ViewLocal {
  std::optional<std::string> name;
  int32_t start, end;
};

struct ViewFunc {
  std::optional<std::string> source;
  int32_t lineDefined;
  uint8_t nups, params, vararg, maxStack;
  std::vector<int32_t> lines;
  std::vector<ViewLocal> locals;
  std::vector<std::optional<std::string>> upvalueNames;
  std::vector<ViewConst> consts;
  std::vector<ViewFunc> children;
  std::vector<uint32_t> code;
};

struct ChunkView {
  uint8_t byteOrder;
  double testNumber;
  ViewFunc main;
  size_t end;                                     // bytes used by the chunk
  std::vector<std::pair<size_t, size_t>> values;  // (offset, size) of each multi-byte value
};

class ChunkParser {
 public:
  explicit ChunkParser(const std::vector<uint8_t>& b) : b_(b) {}

  ChunkView Parse() {
    ChunkView v;
    Need(13);
    if (std::memcmp(b_.data(), "\x1BQVB", 4) != 0) throw std::runtime_error("signature");
    v.byteOrder = b_[4];
    reverse_ = v.byteOrder != 1;
    pos_ = 13;
    uint64_t bits = Value(8);
    std::memcpy(&v.testNumber, &bits, 8);
    v.main = Func();
    v.end = pos_;
    v.values = std::move(values_);
    return v;
  }

 private:
  void Need(size_t n) {
    if (b_.size() - pos_ < n) throw std::runtime_error("short chunk");
  }
  uint64_t Value(size_t n) {
    Need(n);
    values_.emplace_back(pos_, n);
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= uint64_t{b_[pos_ + (reverse_ ? n - 1 - i : i)]} << (8 * i);
    pos_ += n;
    return v;
  }
  int32_t Int() { return static_cast<int32_t>(static_cast<uint32_t>(Value(4))); }
  uint8_t Byte() {
    Need(1);
    return b_[pos_++];
  }
  std::optional<std::string> Str() {
    uint32_t len = static_cast<uint32_t>(Value(4));
    if (len == 0) return std::nullopt;
    Need(len);
    if (b_[pos_ + len - 1] != 0) throw std::runtime_error("string without NUL");
    std::string s(reinterpret_cast<const char*>(&b_[pos_]), len - 1);
    pos_ += len;
    return s;
  }
  ViewFunc Func() {
    ViewFunc f;
    f.source = Str();
    f.lineDefined = Int();
    f.nups = Byte();
    f.params = Byte();
    f.vararg = Byte();
    f.maxStack = Byte();
    for (int32_t n = Int(); n > 0; --n) f.lines.push_back(Int());
    for (int32_t n = Int(); n > 0; --n) {
      ViewLocal l;
      l.name = Str();
      l.start = Int();
      l.end = Int();
      f.locals.push_back(l);
    }
    for (int32_t n = Int(); n > 0; --n) f.upvalueNames.push_back(Str());
    for (int32_t n = Int(); n > 0; --n) {
      ViewConst k;
      k.type = Byte();
      if (k.type == 3) {
        uint64_t bits = Value(8);
        std::memcpy(&k.number, &bits, 8);
      } else if (k.type == 4) {
        k.text = Str().value_or("<absent>");
      } else if (k.type != 0) {
        throw std::runtime_error("constant type");
      }
      f.consts.push_back(k);
    }
    for (int32_t n = Int(); n > 0; --n) f.children.push_back(Func());
    for (int32_t n = Int(); n > 0; --n) f.code.push_back(static_cast<uint32_t>(Value(4)));
    return f;
  }

  const std::vector<uint8_t>& b_;
  size_t pos_ = 0;
  bool reverse_ = false;
  std::vector<std::pair<size_t, size_t>> values_;
};

inline ChunkView ParseChunk(const std::vector<uint8_t>& bytes) {
  return ChunkParser(bytes).Parse();
}

}  // namespace qvtest
