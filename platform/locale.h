// The user's language, from the locale of the environment.
#pragma once

namespace qv {

// The user's language as a LANGUAGE_ number (0 English ... 17 Russian), from the first of LC_ALL,
// LC_MESSAGES and LANG that is set; kLanguageUnknown (18) when it names none of them. Any thread.
inline constexpr int kLanguageUnknown = 18;
int GetSystemLanguageCode();

}  // namespace qv
