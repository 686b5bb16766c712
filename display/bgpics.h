// Background pictures (BGPics): their records and list, and the rendering of a backfill.
#pragma once

#include <cstdint>

#include "core/registry.h"
#include "display/records.h"
#include "image/image.h"

namespace qv {

struct qvClipRegion;

// BGPics.

struct qvPlaneSet {
  qvBitMap* bitmap;
  qvPlane* mask;
  qvPlane* alpha;
};

// A BGPic shows a picture, or one generated from its fill settings (a gradient, a texture),
// which is generated again at a new size instead of being scaled.
enum : int32_t { kBGPicPicture = 0, kBGPicGenerated = 1 };

struct qvBGPic {
  qvObjectHeader header;   // type kObjectBGPic
  qvObjectDataItem* data;  // named data items
  qvPixelBuffer* pixelBuffer;
  qvPlaneSet current, scaled, original;  // sets may share planes with the original
  int32_t width, height;                 // current
  int32_t scaledWidth, scaledHeight;
  int32_t originalWidth, originalHeight;
  int32_t rowWidth;
  int32_t transparentColour;
  void* ownedBlock;  // the loader's block: the 256-entry palette of an ILBM pen picture
  qvList layers;     // qvLayer nodes
  void* sprites;
  int32_t locked;
  int32_t layerCopy;
  void* buttons;
  // A selection or double-buffer record: what it stands for.
  int32_t objectKind;
  int32_t frame;
  void* object;
  int32_t bound;
  qvClipRegion* clipRegion;
  qvBackfillSettings settings;
  int32_t kind;  // kBGPicPicture or kBGPicGenerated
};

qvObjectHeader** BGPicListHead();
int AddBGPic(qvObjectId* id, bool automatic, int32_t kind, int32_t width, int32_t height,
             int32_t rowWidth, qvPixelBuffer* pixelBuffer, qvBitMap* bitmap, void* ownedBlock,
             int32_t transparentColour, qvPlane* mask, qvPlane* alpha,
             const qvBackfillSettings* settings, qvBGPic** out);
// Fills an unlisted BGPic-shaped record (the double-buffer and selection records).
void InitBGPicRecord(qvBGPic* record, int32_t kind, void* object, int32_t frame, qvObjectId id,
                     qvBitMap* bitmap, qvPlane* mask, qvPlane* alpha, int32_t width, int32_t height,
                     bool clear);
int CreateColorBGPic(qvObjectId* id, bool automatic, int32_t width, int32_t height, uint32_t colour,
                     qvBGPic** out);
int FindBGPic(qvScriptState* L, qvObjectId id, qvBGPic** out, int32_t flags);
int DeleteBGPicNode(qvScriptState* L, qvObjectId id, bool mustExist);
void FreeBGPicRecord(qvScriptState* L, qvBGPic* bgpic);  // an unlinked record
void FreeBGPicBitMaps(qvBGPic* bgpic);
void FreeAllBGPics(qvScriptState* L);
int CopyBGPic(qvScriptState* L, const qvBGPic* source, qvObjectId* id, bool automatic,
              qvBGPic** out);

// Renders a background of width x height: the fill style under an optional ARGB picture (keyed
// by the transparent colour). 0 or an error code; the result has no mask and no alpha unless the
// picture came back as it was (no fill, or nothing transparent in it).
int RenderBackfill(qvScriptState* L, const uint32_t* pixels, qvBackfillSettings* settings,
                   int32_t transparentColour, int32_t width, int32_t height, int32_t rowWidth,
                   qvBitMap** outBitmap, qvPlane** outMask, qvPlane** outAlpha);
// Start-up: every BGPic still holding a pixel buffer gets planes of its own.
int ResolvePreloadedBGPics(qvScriptState* L);

// The creators of generated pictures that the brush and the BGPic libraries share: a new brush
// (kind kObjectBrush, raster) or BGPic (kObjectBGPic, kind kBGPicGenerated, keeping the fill in
// its settings so that it is generated again at other sizes) of width x height, filled with the
// gradient or tiled with the texture brush's bitmap from the offsets. An explicit id is released
// first (after the checks). ERR_BADDIMENSIONS for a side below 1, ERR_WRONGUSAGE for a texture
// brush under the new id, FindBrush's codes for the texture, ERR_MEM; nothing is made on failure.
int CreateGradientPicture(qvScriptState* L, int32_t kind, qvObjectId* id, bool automatic,
                          int32_t width, int32_t height, const qvGradient& gradient,
                          qvObjectHeader** out);
int CreateTexturedPicture(qvScriptState* L, int32_t kind, qvObjectId* id, bool automatic,
                          int32_t width, int32_t height, qvObjectId texture, int32_t offsetX,
                          int32_t offsetY, qvObjectHeader** out);

}  // namespace qv
