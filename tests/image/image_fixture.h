// Small helpers for the image tests: owning pointers, pixel access, seeded pictures.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>

#include "image/image.h"

namespace qv::testimage {

struct BitMapFree {
  void operator()(qvBitMap* b) const { FreeBitMap(b); }
};
struct PlaneFree {
  void operator()(qvPlane* p) const { FreeMaskOrAlpha(p); }
};
using BitMapPtr = std::unique_ptr<qvBitMap, BitMapFree>;
using PlanePtr = std::unique_ptr<qvPlane, PlaneFree>;

inline uint32_t& Px(qvBitMap* b, int x, int y) {
  return reinterpret_cast<uint32_t*>(b->pixels + int64_t(y) * b->bytesPerRow)[x];
}
inline bool MaskBit(const qvPlane* p, int x, int y) {
  return (p->data[int64_t(y) * p->bytesPerRow + (x >> 3)] >> (7 - (x & 7))) & 1;
}
inline uint8_t& AlphaAt(qvPlane* p, int x, int y) {
  return p->data[int64_t(y) * p->bytesPerRow + x];
}

// A bitmap whose every stored word (spare ones too) comes from the seed.
inline qvBitMap* Pattern(int w, int h, uint32_t seed) {
  qvBitMap* b = AllocBitMap(w, h);
  std::mt19937 rng(seed);
  auto* p = reinterpret_cast<uint32_t*>(b->pixels);
  for (int64_t i = 0; i < int64_t(b->bytesPerRow / 4) * (h + 1); ++i) p[i] = rng();
  return b;
}

inline bool SamePixels(qvBitMap* a, qvBitMap* b) {
  if (a->width != b->width || a->height != b->height) return false;
  for (int y = 0; y < a->height; ++y)
    if (std::memcmp(&Px(a, 0, y), &Px(b, 0, y), size_t(a->width) * 4) != 0) return false;
  return true;
}

}  // namespace qv::testimage
