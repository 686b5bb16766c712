// The small records that brushes, BGPics and displays share: fill settings, shared pixel
// buffers, the head of a layer record and the dirty-rectangle list.
#pragma once

#include <cstdint>

#include "base/support.h"
#include "core/registry.h"
#include "image/image.h"

namespace qv {

// Shared small records.

constexpr int32_t kNoTransparentColour = -1;          // as the 32-bit word reads: all bits set
constexpr uint32_t kAllocBrushMaskColour = 0xAFC0DE;  // AllocBrush made the mask; no colour keyed
enum : int32_t { kFillNone = 0, kFillColour = 1, kFillGradient = 2, kFillTexture = 3 };

// Gradients are the image engine's qvGradient (image/image.h).
// Linear, centre 0.5/0.5, balance 0.5, border 0, no stops; colours and angle 0.
void InitGradientDefaults(qvGradient* gradient);

// How a background is filled (a BGPic's settings block and a display's own backfill).
struct qvBackfillSettings {
  int32_t fillStyle;  // kFill*
  uint32_t colour;
  qvGradient gradient;
  qvObjectId textureBrush;
  qvBitMap* textureCache;  // owned copy of the texture brush's bitmap, made on first use
  int32_t textureX, textureY;
};

struct qvPluginInfo;

// A loaded picture's pixels, shared by reference count: the loader's own array, or the image of
// the image plugin that took the file (which then owns the pixels).
struct qvPixelBuffer {
  int32_t references;
  uint32_t* pixels;  // ARGB, rowWidth words per row; freed with the last reference
  int32_t rowWidth;
  const qvPluginInfo* plugin;  // null for the player's own pixels
  void* image;                 // the plugin's image handle, handed back through its FreeImage
};
void RetainPixelBuffer(qvPixelBuffer* buffer);
void ReleasePixelBuffer(qvPixelBuffer* buffer);  // null allowed

// What the copy-on-write routines read of a layer: the kind and id of the object it shows. The
// layer system's records (qvLayer, layers/layers.h) are built on this head.
struct qvLayerHead {
  qvNode node;
  int32_t kind;  // object type
  qvObjectId id;
};

// Rectangles with inclusive edges; an entry whose x1 is kAbsorbedRect was merged into another.
struct qvRect {
  int32_t x1, y1, x2, y2;
};
constexpr int32_t kAbsorbedRect = 100000;
constexpr int32_t kDirtyListCapacity = 1024;
struct qvRectList {
  qvRect* entries;
  int32_t count;  // count == capacity: everything is dirty
  int32_t capacity;
};
// Joins entries that overlap or lie within one pixel on both axes, in one pass.
void MergeDirtyRects(qvRectList* list);

}  // namespace qv
