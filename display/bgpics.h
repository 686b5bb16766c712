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
  // Set by every change of the layer list or of a layer's style; other subsystems read it.
  int32_t layersChanged;
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
  // A plugin's picture drawn again at a size other than its own (ScaleBGPic): it no longer
  // converts into a brush.
  int32_t transformed;
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

// Renders a background of width x height: the fill style under an optional ARGB picture, keyed
// by the transparent colour or, when `pictureAlpha` is given, blended through that alpha channel
// (which is taken over: handed back as *outAlpha or freed, on failure too). 0 or an error code;
// the result has no mask and no alpha unless the picture came back as it was (no fill, or
// nothing transparent in it).
int RenderBackfill(qvScriptState* L, const uint32_t* pixels, qvBackfillSettings* settings,
                   int32_t transparentColour, int32_t width, int32_t height, int32_t rowWidth,
                   qvBitMap** outBitmap, qvPlane** outMask, qvPlane** outAlpha,
                   qvPlane* pictureAlpha = nullptr);
// A BGPic's picture (its planes of width x height) at a new size, in new planes: a picture
// (kBGPicPicture) is scaled; a generated one is generated again from the settings, or, when it
// holds a plugin's pixel buffer, drawn again by that plugin through its transform entry. 0, or
// ERR_BADDIMENSIONS for a side below 1, ERR_TFIMAGE, ERR_MEM, the texture brush's FindBrush
// codes; nothing is made on failure.
int RenderBGPicAtSize(qvScriptState* L, int32_t kind, const qvBitMap* bitmap, const qvPlane* mask,
                      const qvPlane* alpha, qvPixelBuffer* pixelBuffer, int32_t width,
                      int32_t height, qvBackfillSettings* settings, int32_t newWidth,
                      int32_t newHeight, bool smooth, qvBitMap** outBitmap, qvPlane** outMask,
                      qvPlane** outAlpha);
// Renders the BGPic's original at a new size (RenderBGPicAtSize) and makes the result all three
// plane sets. 0 or RenderBGPicAtSize's codes; the BGPic is unchanged on failure.
int ResizeBGPic(qvScriptState* L, qvBGPic* bgpic, int32_t width, int32_t height, bool smooth);
// Frees every layer copy that no layer and no display shows any more.
void PurgeDetachedBGPics(qvScriptState* L);

// ---- the BGPic library's work (bgpic_library.cpp) ----

// A window position that was not given (a position table without "x" or "y").
constexpr int32_t kPositionNotGiven = 99999;
// What a transition takes from DisplayBGPicCore: the picture shown before (at the size the
// display shows the new one at) and the new background as composed; both the caller's.
struct qvBGPicTransition {
  qvBitMap* before;
  qvBitMap* after;
};
// Makes the BGPic the current display's background, its window placed at x, y (special positions
// allowed; kPositionNotGiven or KEEPPOSITION: where it is). With `transition` the display's
// picture before is kept, the new one handed out, and the window shows the old picture again for
// the effect to start from. 0, ERR_WRONGUSAGE without a display, FindBGPic's codes, the display's
// (ApplyDisplayAttributes), ERR_MEM; nothing is handed out on failure.
int DisplayBGPicCore(qvScriptState* L, qvObjectId id, int32_t x, int32_t y,
                     qvBGPicTransition* transition);
// The BGPic under the id, when it may change size: ERR_SCALEBGPIC when a display shows it,
// ERR_MODIFYABGPIC when it is the output device, else FindBGPic's codes (for modifying).
int FindBGPicToResize(qvScriptState* L, qvObjectId id, qvBGPic** out);
// A copy of the brush's planes as a new BGPic (an explicit id released first), sharing a vector
// brush's plugin picture (then a generated BGPic). 0, FindBrush's codes, ERR_TFVBRUSHBGPIC for a
// transformed vector brush, DeleteBGPicNode's, ERR_MEM; nothing is made on failure.
int BrushToBGPicCore(qvScriptState* L, qvObjectId brushId, qvObjectId* id, bool automatic);
// A copy of the BGPic's original planes as a new brush, sharing a plugin picture (then a vector
// brush). 0, FindBGPic's codes, ERR_TFVBGPICBRUSH for a plugin picture drawn at another size,
// ReleaseBrushId's, ERR_MEM; nothing is made on failure.
int BGPicToBrushCore(qvScriptState* L, qvObjectId bgpicId, qvObjectId* id, bool automatic);
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
