// Fuzz target of the pattern matcher: the input is subject, pattern and replacement template
// separated by 0xFF bytes (a missing part is empty). Every match is found as the iterator finds
// it, with all its captures read, then the replacement runs with the template; the bytes a
// capture names are read in full, so a capture reaching outside the subject shows up.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/errors.h"
#include "core/pattern.h"

volatile size_t g_patternBytes;

namespace {

class TemplateReplacer final : public qv::qvPatternReplacer {
 public:
  TemplateReplacer(const char* tmpl, size_t size) : tmpl_(tmpl), size_(size) {}
  int32_t Add(const qv::qvPatternMatch& m, const char* start, const char* end,
              std::string* out) override {
    return qv::PatternExpandTemplate(m, tmpl_, size_, start, end, out);
  }

 private:
  const char* tmpl_;
  size_t size_;
};

// Exponential backtracking is no fault: a few million steps end an attempt.
// Ends an attempt at its first poll: backtracking of exponential time is cut short, and the
// fuzzer keeps to thousands of inputs a second.
int32_t StepBudget(void* data) { return ++*static_cast<int*>(data) > 0 ? 1 : 0; }

// The next part up to a 0xFF byte (or the end).
std::string NextPart(const uint8_t*& data, const uint8_t* end) {
  const uint8_t* stop = static_cast<const uint8_t*>(std::memchr(data, 0xFF, size_t(end - data)));
  if (stop == nullptr) stop = end;
  std::string part(reinterpret_cast<const char*>(data), size_t(stop - data));
  data = stop == end ? end : stop + 1;
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* end = data + size;
  std::string subject = NextPart(data, end);
  std::string pattern = NextPart(data, end);
  std::string tmpl = NextPart(data, end);
  size_t total = 0;

  qv::qvPatternMatch m;
  qv::PatternBegin(&m, subject.data(), subject.size(), pattern.data(), pattern.size());
  int polls = 0;
  m.poll = StepBudget;
  m.pollData = &polls;
  m.steps = qv::kPatternPollSteps - 4096;  // the first poll after 4,096 steps or bytes
  for (size_t at = 0; at <= subject.size();) {
    const char* start = subject.data() + at;
    const char* e;
    if (qv::PatternMatchAt(&m, start, pattern.data(), &e) != 0) break;
    if (e == nullptr) {
      ++at;
      continue;
    }
    if (e < start || e > subject.data() + subject.size()) __builtin_trap();
    int n = m.level == 0 ? 1 : m.level;
    for (int i = 0; i < n; ++i) {
      const char* text;
      size_t length, position;
      if (qv::PatternCapture(&m, i, start, e, &text, &length, &position) != 0) continue;
      if (text != nullptr) {
        total += std::string(text, length).size();  // reads every byte
      } else if (position < 1 || position > subject.size() + 1) {
        __builtin_trap();
      }
    }
    at = size_t(e - subject.data()) + (e == start ? 1 : 0);
  }

  // A match that ran out of its budget would cost the replacement a full poll period of steps
  // (its matcher starts counting from 0): only cheap ones are replaced.
  g_patternBytes = total;
  if (polls > 0) return 0;
  TemplateReplacer replacer(tmpl.data(), tmpl.size());
  std::string out;
  int64_t count = 0;
  polls = 0;
  qv::PatternReplace(subject.data(), subject.size(), pattern.data(), pattern.size(),
                     int64_t(subject.size()) + 1, replacer, &out, &count, StepBudget, &polls);
  g_patternBytes = total + out.size();
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(PatternFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
