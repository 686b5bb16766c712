// The fuzz targets' way through their input: bytes one by one, and words of four of them, most
// significant first; past the end every byte reads as 0, so that a short input still makes a
// whole case.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::fuzz {

struct ByteReader {
  ByteReader(const uint8_t* data, size_t size) : p(data), end(data + size) {}
  uint8_t Byte() { return p < end ? *p++ : 0; }
  int32_t Int() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
    return int32_t(v);
  }
  bool AtEnd() const { return p >= end; }

  const uint8_t* p;
  const uint8_t* end;
};

}  // namespace qv::fuzz
