#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/platform.h"

namespace qv {
namespace {

TEST(Locale, LanguageFromTheEnvironment) {
  struct Case {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    int want;
  };
  const Case cases[] = {
      {nullptr, nullptr, "de_DE.UTF-8", 1},
      {nullptr, nullptr, "en_GB.UTF-8", 0},
      {nullptr, nullptr, "el_GR", 13},
      {nullptr, nullptr, "nb_NO.UTF-8", 10},
      {nullptr, nullptr, "ru_RU", 17},
      {nullptr, nullptr, "ja_JP.UTF-8", kLanguageUnknown},
      {nullptr, nullptr, "C", kLanguageUnknown},
      {nullptr, nullptr, nullptr, kLanguageUnknown},
      {nullptr, "fr_FR", "de_DE", 4},  // messages before the general setting
      {"it_IT", "fr_FR", "de_DE", 3},  // LC_ALL before both
      {"", "", "pl_PL", 11},           // empty variables do not count
  };
  for (const Case& k : cases) {
    for (auto [name, value] : {std::pair{"LC_ALL", k.lcAll}, std::pair{"LC_MESSAGES", k.lcMessages},
                               std::pair{"LANG", k.lang}}) {
      if (value)
        setenv(name, value, 1);
      else
        unsetenv(name);
    }
    EXPECT_EQ(GetSystemLanguageCode(), k.want)
        << (k.lcAll ? k.lcAll : "-") << " " << (k.lcMessages ? k.lcMessages : "-") << " "
        << (k.lang ? k.lang : "-");
  }
}

}  // namespace
}  // namespace qv
