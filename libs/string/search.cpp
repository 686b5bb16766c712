#include "libs/string/search.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/support.h"

namespace qv::strlib {

size_t FindBytes(const char* s, size_t size, const char* sub, size_t subSize, size_t start,
                 bool matchCase) {
  if (subSize == 0 || start >= size || size - start < subSize) return kNotFound;
  return qvByteSearcher(sub, subSize, matchCase).Find(s, size, start);
}

qvByteSearcher::qvByteSearcher(const char* sub, size_t subSize, bool matchCase)
    : sub_(sub), size_(subSize), matchCase_(matchCase) {
  for (size_t& k : skip_) k = subSize;
  if (subSize == 0) return;
  for (size_t i = 0; i + 1 < subSize; ++i) {
    uint8_t c = uint8_t(sub[i]);
    size_t shift = subSize - 1 - i;
    if (matchCase) {
      skip_[c] = shift;
    } else {
      // Both cases of a letter shift alike.
      skip_[ToLowerChar(c)] = shift;
      skip_[ToUpperChar(c)] = shift;
    }
  }
}

size_t qvByteSearcher::Find(const char* s, size_t size, size_t start) const {
  if (size_ == 0 || start >= size || size - start < size_) return kNotFound;
  const uint8_t* hay = reinterpret_cast<const uint8_t*>(s);
  const uint8_t* needle = reinterpret_cast<const uint8_t*>(sub_);
  const size_t last = size_ - 1;
  if (matchCase_) {
    if (size_ == 1) {
      const void* hit = std::memchr(s + start, sub_[0], size - start);
      return hit == nullptr ? kNotFound : size_t(static_cast<const char*>(hit) - s);
    }
    size_t i = start;
#if defined(__SSE2__)
    // Sixteen windows at a time: only where both the first and the last byte fit is the middle
    // compared. The scalar loop below takes the rest and stays the reference.
    const __m128i firstBytes = _mm_set1_epi8(char(needle[0]));
    const __m128i lastBytes = _mm_set1_epi8(char(needle[last]));
    for (; i + last + 16 <= size; i += 16) {
      __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i));
      __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i + last));
      unsigned mask = unsigned(_mm_movemask_epi8(
          _mm_and_si128(_mm_cmpeq_epi8(a, firstBytes), _mm_cmpeq_epi8(b, lastBytes))));
      while (mask != 0) {
        unsigned bit = unsigned(__builtin_ctz(mask));
        if (std::memcmp(hay + i + bit + 1, needle + 1, last - 1) == 0) return i + bit;
        mask &= mask - 1;
      }
    }
#endif
    const uint8_t tail = needle[last];
    while (i + last < size) {
      uint8_t c = hay[i + last];
      if (c == tail && std::memcmp(hay + i, needle, last) == 0) return i;
      i += skip_[c];
    }
    return kNotFound;
  }
  const uint8_t tail = ToLowerChar(needle[last]);
  for (size_t i = start; i + last < size;) {
    uint8_t c = hay[i + last];
    if (ToLowerChar(c) == tail) {
      size_t k = 0;
      while (k < last && ToLowerChar(hay[i + k]) == ToLowerChar(needle[k])) ++k;
      if (k == last) return i;
    }
    i += skip_[c];
  }
  return kNotFound;
}

}  // namespace qv::strlib
