#include "libs/string/search.h"

#include <cstring>

#include "base/support.h"

namespace qv::strlib {

size_t FindBytes(const char* s, size_t size, const char* sub, size_t subSize, size_t start, bool matchCase) {
  if (subSize == 0 || start >= size || size - start < subSize) return kNotFound;
  if (matchCase) {
    const void* hit = memmem(s + start, size - start, sub, subSize);
    return hit == nullptr ? kNotFound : size_t(static_cast<const char*>(hit) - s);
  }
  const uint8_t first = ToLowerChar(uint8_t(sub[0]));
  const size_t last = size - subSize;
  for (size_t i = start; i <= last; ++i) {
    if (ToLowerChar(uint8_t(s[i])) != first) continue;
    size_t k = 1;
    while (k < subSize && ToLowerChar(uint8_t(s[i + k])) == ToLowerChar(uint8_t(sub[k]))) ++k;
    if (k == subSize) return i;
  }
  return kNotFound;
}

}  // namespace qv::strlib
