// The tests' own reader of the applet records the assembler writes (big-endian numbers,
// zero-terminated texts), independent of the writer.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace qvtest {

struct AppletView {
  struct Record {
    int tag;
    size_t offset;
  };
  struct UserConst {
    std::string name;
    int type;
    std::string raw;  // the 8 double bytes as stored, or the text
  };
  std::string magic;
  std::vector<Record> records;
  int versionMajor = -1, versionMinor = -1;
  std::map<int, std::string> headers;
  std::vector<std::pair<std::string, uint32_t>> labels;
  std::vector<UserConst> userConsts;
  std::vector<std::pair<std::string, std::string>> files;
  struct LineMap {
    uint32_t first, last, base;
    std::string file, source;  // source only for tag 27
    int tag;
  };
  std::vector<LineMap> lineMaps;
  std::vector<uint8_t> chunk;
  size_t end = 0;
};

class AppletParser {
 public:
  explicit AppletParser(const std::vector<uint8_t>& b) : b_(b) {}

  AppletView Parse() {
    AppletView v;
    v.magic = Text();
    for (;;) {
      int tag = Byte();
      v.records.push_back({tag, pos_ - 1});
      if (tag == 10) {
        v.versionMajor = Byte();
        v.versionMinor = Byte();
      } else if (tag >= 11 && tag <= 15) {
        v.headers[tag] = Text();
      } else if (tag == 9) {
        for (uint32_t n = U32(); n > 0; --n) {
          uint32_t value = U32();
          v.labels.emplace_back(Text(), value);
        }
      } else if (tag == 31) {
        for (std::string name = Text(); !name.empty(); name = Text()) {
          AppletView::UserConst u{name, Byte(), {}};
          u.raw = u.type == 0 ? Raw(8) : Text();
          v.userConsts.push_back(u);
        }
      } else if (tag == 8 || tag == 27) {
        for (uint32_t n = U32(); n > 0; --n) {
          AppletView::LineMap m{};
          m.first = U32();
          m.last = U32();
          m.base = U32();
          m.file = Text();
          if (tag == 27) m.source = Text();
          m.tag = tag;
          v.lineMaps.push_back(m);
        }
      } else if (tag == 26) {
        uint32_t n = U32();
        U32();
        for (; n > 0; --n) {
          std::string name = Text();
          uint32_t len = U32();
          if (len == 0xFFFFFFFF) throw std::runtime_error("out-of-line file data");
          v.files.emplace_back(name, Raw(len));
        }
      } else if (tag == 1) {
        std::string c = Raw(U32());
        v.chunk.assign(c.begin(), c.end());
        v.end = pos_;
        return v;
      } else {
        throw std::runtime_error("unexpected tag " + std::to_string(tag));
      }
    }
  }

 private:
  void Need(size_t n) {
    if (b_.size() - pos_ < n) throw std::runtime_error("short applet");
  }
  int Byte() {
    Need(1);
    return b_[pos_++];
  }
  uint32_t U32() {
    Need(4);
    uint32_t v = uint32_t{b_[pos_]} << 24 | uint32_t{b_[pos_ + 1]} << 16 |
                 uint32_t{b_[pos_ + 2]} << 8 | b_[pos_ + 3];
    pos_ += 4;
    return v;
  }
  std::string Raw(size_t n) {
    Need(n);
    std::string s(reinterpret_cast<const char*>(&b_[pos_]), n);
    pos_ += n;
    return s;
  }
  std::string Text() {
    std::string s;
    for (int c = Byte(); c != 0; c = Byte()) s += static_cast<char>(c);
    return s;
  }

  const std::vector<uint8_t>& b_;
  size_t pos_ = 0;
};

inline AppletView ParseApplet(const std::vector<uint8_t>& bytes) {
  return AppletParser(bytes).Parse();
}

}  // namespace qvtest
