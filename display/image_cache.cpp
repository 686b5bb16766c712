// The image cache: decoded pictures kept by name, so that several brushes (or anim frames) cut
// from one picture decode it once. Script thread only.
#include <cstring>
#include <new>
#include <string>

#include "base/errors.h"
#include "base/support.h"
#include "display/display.h"

namespace qv {

namespace {

struct CacheNode {
  CacheNode* next;
  std::string name;
  int32_t width, height;
  int32_t word1, word2;
  qvPixelBuffer* buffer;
  qvPlane* alpha;  // the cache's own copy, or null
};

CacheNode* gHead = nullptr;
CacheNode* gTail = nullptr;

// A new alpha plane with the width x height bytes of `alpha`; null when it cannot be had.
qvPlane* CopyAlpha(const qvPlane* alpha, int32_t width, int32_t height) {
  qvPlane* copy = AllocAlphaChannel(width, height, false);
  if (copy == nullptr) return nullptr;
  for (int32_t row = 0; row < height; ++row) {
    std::memcpy(copy->data + static_cast<size_t>(row) * copy->bytesPerRow,
                alpha->data + static_cast<size_t>(row) * alpha->bytesPerRow,
                static_cast<size_t>(width));
  }
  return copy;
}

}  // namespace

int AddCachedImage(const char* name, int32_t width, int32_t height, int32_t word1,
                   qvPixelBuffer* buffer, const qvPlane* alpha, int32_t word2) {
  qvPlane* copy = nullptr;
  if (alpha != nullptr) {
    copy = CopyAlpha(alpha, width, height);
    if (copy == nullptr) return ERR_MEM;
  }
  CacheNode* node = nullptr;
  try {
    node = new CacheNode{nullptr, name, width, height, word1, word2, buffer, copy};
  } catch (const std::bad_alloc&) {
    FreeMaskOrAlpha(copy);
    return ERR_MEM;
  }
  RetainPixelBuffer(buffer);
  if (gTail != nullptr) {
    gTail->next = node;
  } else {
    gHead = node;
  }
  gTail = node;
  return 0;
}

int FindCachedImage(const char* name, bool copyAlpha, qvCachedImage* out) {
  for (CacheNode* node = gHead; node != nullptr; node = node->next) {
    if (StrCaseCmp(node->name.c_str(), name) != 0) continue;
    qvPlane* alpha = nullptr;
    if (copyAlpha) {
      if (node->alpha == nullptr) return ERR_CACHEERROR;
      alpha = CopyAlpha(node->alpha, node->width, node->height);
      if (alpha == nullptr) return ERR_MEM;
    }
    RetainPixelBuffer(node->buffer);
    *out = {node->buffer, alpha, node->width, node->height, node->word1, node->word2};
    return 0;
  }
  return ERR_CACHEERROR;
}

void FreeImageCache() {
  while (gHead != nullptr) {
    CacheNode* node = gHead;
    gHead = node->next;
    ReleasePixelBuffer(node->buffer);
    FreeMaskOrAlpha(node->alpha);
    delete node;
  }
  gTail = nullptr;
}

}  // namespace qv
