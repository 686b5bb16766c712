// The user's language, from the locale of the environment.
#pragma once

namespace qv {

// The user's language as a LANGUAGE_ number (0 English ... 17 Russian), kLanguageUnknown (18)
// when the locale names none of them.
inline constexpr int kLanguageUnknown = 18;
int GetSystemLanguageCode();

}  // namespace qv
