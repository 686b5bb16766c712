// A small writer of four-channel "M.K." modules for the replayer's tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct ModSample {
  std::vector<int8_t> data;
  int finetune = 0;
  int volume = 64;
  int repeatStart = 0;   // bytes (even)
  int repeatLength = 2;  // bytes (even); 2: no loop
};

struct ModCell {
  int period = 0;
  int sample = 0;
  int effect = 0;
  int param = 0;
};

class ModWriter {
 public:
  ModWriter() : cells_(64 * 4) {}
  ModSample& Sample(int number) { return samples_[number - 1]; }
  // Cells of pattern `pattern` (created on use).
  ModCell& Cell(int pattern, int row, int channel) {
    size_t need = static_cast<size_t>(pattern + 1) * 256;
    if (cells_.size() < need) cells_.resize(need);
    return cells_[static_cast<size_t>(pattern) * 256 + row * 4 + channel];
  }
  std::vector<int> order{0};
  int songLength = -1;  // -1: the order's size

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out(1084, 0);
    std::memcpy(out.data(), "test module", 11);
    for (int i = 0; i < 31; i++) {
      uint8_t* h = out.data() + 20 + 30 * i;
      const ModSample& s = samples_[i];
      Put16(h + 22, static_cast<int>(s.data.size() / 2));
      h[24] = static_cast<uint8_t>(s.finetune & 15);
      h[25] = static_cast<uint8_t>(s.volume);
      Put16(h + 26, s.repeatStart / 2);
      Put16(h + 28, s.repeatLength / 2);
    }
    out[950] = static_cast<uint8_t>(songLength >= 0 ? songLength : static_cast<int>(order.size()));
    out[951] = 127;
    for (size_t i = 0; i < order.size(); i++) out[952 + i] = static_cast<uint8_t>(order[i]);
    std::memcpy(out.data() + 1080, "M.K.", 4);
    int patterns = 0;
    for (int o : order) patterns = std::max(patterns, o + 1);
    for (int p = 0; p < patterns; p++) {
      for (int i = 0; i < 256; i++) {
        size_t at = static_cast<size_t>(p) * 256 + i;
        ModCell c = at < cells_.size() ? cells_[at] : ModCell{};
        out.push_back(static_cast<uint8_t>((c.sample & 0xF0) | (c.period >> 8 & 0x0F)));
        out.push_back(static_cast<uint8_t>(c.period & 0xFF));
        out.push_back(static_cast<uint8_t>((c.sample & 0x0F) << 4 | (c.effect & 0x0F)));
        out.push_back(static_cast<uint8_t>(c.param));
      }
    }
    for (const ModSample& s : samples_) {
      for (int8_t b : s.data) out.push_back(static_cast<uint8_t>(b));
    }
    return out;
  }

 private:
  static void Put16(uint8_t* p, int v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
  }
  ModSample samples_[31];
  std::vector<ModCell> cells_;
};
