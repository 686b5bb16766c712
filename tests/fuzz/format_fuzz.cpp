// Fuzz target of FormatStr's formatter: the input is the template, a 0xFF byte, then the values:
// each spec takes the next 8 bytes as a double (for the number letters, and their low 32 bits
// for the integer letters) or the next text up to a 0xFF byte. Missing values are 0 or "".
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/support.h"
#include "libs/string/format.h"

volatile size_t g_formatBytes;

namespace {

class InputValues final : public qv::strlib::qvFormatValues {
 public:
  InputValues(const uint8_t* data, const uint8_t* end) : p_(data), end_(end) {}
  double Number(int) override {
    double d = 0;
    if (end_ - p_ >= 8) {
      std::memcpy(&d, p_, 8);
      p_ += 8;
    }
    return d;
  }
  int32_t Integer(int i) override { return qv::DoubleToInt32(Number(i)); }
  std::string_view Text(int) override {
    const uint8_t* stop = static_cast<const uint8_t*>(std::memchr(p_, 0xFF, size_t(end_ - p_)));
    if (stop == nullptr) stop = end_;
    texts_.emplace_back(reinterpret_cast<const char*>(p_), size_t(stop - p_));
    p_ = stop == end_ ? end_ : stop + 1;
    return texts_.back();
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
  std::vector<std::string> texts_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* end = data + size;
  const uint8_t* stop = static_cast<const uint8_t*>(std::memchr(data, 0xFF, size));
  if (stop == nullptr) stop = end;
  std::string tmpl(reinterpret_cast<const char*>(data), size_t(stop - data));
  InputValues values(stop == end ? end : stop + 1, end);
  std::string out;
  qv::strlib::FormatTemplate(tmpl, values, &out);
  g_formatBytes = out.size();
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(FormatFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
