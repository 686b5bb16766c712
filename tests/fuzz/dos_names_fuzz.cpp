// Fuzz target of the dos library's name readers (core/dos_names.cpp): the input is a name and a
// pattern list separated by a 0xFF byte, matched both ways; and the whole input as a date text,
// which, when it reads (with a year of four digits), must format and read back to the same date.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/dos_names.h"

volatile int g_dosNamesMatches;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto* text = reinterpret_cast<const char*>(data);
  const void* cut = std::memchr(data, 0xFF, size);
  size_t split = cut != nullptr ? size_t(static_cast<const uint8_t*>(cut) - data) : size;
  // Names and patterns end at a zero byte, as script strings reach the matcher.
  std::string name(text, split);
  std::string pattern = split < size ? std::string(text + split + 1, size - split - 1) : "";
  name = name.c_str();
  pattern = pattern.c_str();
  int matches = qv::WildcardMatch(name.c_str(), pattern.c_str()) ? 1 : 0;
  matches += qv::MatchPatternList(pattern.c_str(), name.c_str()) ? 1 : 0;
  // A name always matches itself when it holds no wildcard character.
  if (name.find_first_of("#?*[;") == std::string::npos && !name.empty() &&
      !qv::MatchPatternList(name.c_str(), name.c_str())) {
    __builtin_trap();
  }
  qv::qvDate date{};
  if (qv::ParseDosDate(text, size, &date) && date.year >= 1000) {
    std::string again = qv::FormatDosDate(date);
    qv::qvDate back{};
    if (!qv::ParseDosDate(again.c_str(), again.size(), &back) || back.day != date.day ||
        back.month != date.month || back.year != date.year || back.hours != date.hours ||
        back.minutes != date.minutes || back.seconds != date.seconds) {
      __builtin_trap();
    }
  }
  g_dosNamesMatches = matches;
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(DosNamesFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
