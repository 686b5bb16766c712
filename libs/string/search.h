// Byte-string searches of the string library, with or without regard to case (the ISO-8859-1
// tables). Pure functions over [s, s + size), zero bytes included.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::strlib {

constexpr size_t kNotFound = static_cast<size_t>(-1);

// The first position at or after `start` where `sub` occurs, or kNotFound (also for an empty
// `sub` or a start at or past the end). `matchCase` false compares lower-cased bytes.
size_t FindBytes(const char* s, size_t size, const char* sub, size_t subSize, size_t start,
                 bool matchCase);

// The same search prepared once for many calls with one `sub` (counting, replacing): a skip
// table over the last byte of each window (Horspool), lower-cased without regard to case. `sub`
// must outlive the searcher.
class qvByteSearcher {
 public:
  qvByteSearcher(const char* sub, size_t subSize, bool matchCase);
  size_t Find(const char* s, size_t size, size_t start) const;

 private:
  const char* sub_;
  size_t size_;
  bool matchCase_;
  size_t skip_[256];
};

}  // namespace qv::strlib
