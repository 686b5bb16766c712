// The questions the image engine puts to the display code, and the allocation entry that the
// test seam can make fail.
#include <atomic>
#include <cstdlib>

#include "image/image.h"
#include "image/internal.h"
#include "platform/memory.h"

namespace qv {

namespace {

qvImageHost gHost;

// The seam is for single-threaded tests; atomics keep it race-free should a video thread allocate.
std::atomic<int64_t> gAllocCount{0};
std::atomic<int64_t> gFailAt{0};

}  // namespace

void SetImageHost(const qvImageHost* host) { gHost = host ? *host : qvImageHost{}; }
const qvImageHost& CurrentImageHost() { return gHost; }

void SetImageAllocFault(int64_t n) {
  gFailAt = n > 0 ? n : 0;
  gAllocCount = 0;
}

int64_t ImageAllocCount() { return gAllocCount; }

namespace image {

constexpr size_t kHugePlaneBytes = size_t(1) << 20;

void* Allocate(size_t size, bool clear) {
  if (size == 0) return nullptr;
  int64_t call = ++gAllocCount;
  int64_t failAt = gFailAt;
  if (failAt > 0 && call == failAt) return nullptr;
  // A large block, most often a plane filled right after, lies on huge pages: a fault per 2 MiB
  // instead of one per page (a 24-megapixel bitmap takes 23 000 of them with 4 KiB pages, as
  // long as the copy that fills it; where a fault is slow, as in a virtual machine, one
  // screen-sized bitmap takes milliseconds).
  if (size >= kHugePlaneBytes) return AllocHugePageBlock(size, clear);
  return clear ? std::calloc(1, size) : std::malloc(size);
}

}  // namespace image

}  // namespace qv
