// The user's language, from the locale variables of the environment.
#include "platform/locale.h"

#include <cstdlib>
#include <initializer_list>

#include "base/support.h"

namespace qv {

int GetSystemLanguageCode() {
  // The first of LC_ALL, LC_MESSAGES and LANG that is set decides, as for any program's messages.
  const char* locale = nullptr;
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != '\0') {
      locale = v;
      break;
    }
  }
  if (locale == nullptr || locale[0] == '\0' || locale[1] == '\0') return kLanguageUnknown;
  const char abbrev[3] = {static_cast<char>(ToUpperChar(static_cast<unsigned char>(locale[0]))),
                          static_cast<char>(ToUpperChar(static_cast<unsigned char>(locale[1]))), 0};
  // Two-letter language names and their LANGUAGE_ numbers, searched in this order. Norwegian
  // locales name the written language (nb, nn) rather than the country.
  static const struct {
    char name[3];
    int code;
  } kTable[] = {{"DA", 8},  {"DE", 1}, {"EN", 0},  {"ES", 5},  {"FR", 4},  {"EL", 13}, {"IT", 3},
                {"HU", 12}, {"NL", 2}, {"NO", 10}, {"NB", 10}, {"NN", 10}, {"PL", 11}, {"PT", 6},
                {"FI", 9},  {"SV", 7}, {"TR", 15}, {"CS", 14}, {"HR", 16}, {"RU", 17}};
  for (const auto& row : kTable) {
    if (abbrev[0] == row.name[0] && abbrev[1] == row.name[1]) return row.code;
  }
  return kLanguageUnknown;
}

}  // namespace qv
