// Byte-string searches of the string library, with or without regard to case (the ISO-8859-1
// tables). Pure functions over [s, s + size), zero bytes included.
#pragma once

#include <cstddef>

namespace qv::strlib {

constexpr size_t kNotFound = static_cast<size_t>(-1);

// The first position at or after `start` where `sub` occurs, or kNotFound (also for an empty
// `sub` or a start at or past the end). `matchCase` false compares lower-cased bytes.
size_t FindBytes(const char* s, size_t size, const char* sub, size_t subSize, size_t start, bool matchCase);

}  // namespace qv::strlib
