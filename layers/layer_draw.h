// The compositor with layers: a rectangle of a BGPic recomposed from its background, its layers
// (each with its shadow, border, filters, transparency and clip region) and its sprites, and
// what a layer's pixels are made of: the render of its state, its bordered picture, its shadow
// mask and its filtered picture, each cached in the state. Script thread.
#pragma once

#include <cstdint>

#include "layers/layers.h"

namespace qv {

struct qvClipRegion;

// Redraw flags.
enum : int32_t {
  kRedrawNoSprites = 1,
  kRedrawSpritesOnly = 2,        // no background, no layers
  kRedrawFromDisplayBitmap = 4,  // the background from the display's bitmap beneath the layers
  kRedrawFromBGPic = 8,          // the background from the BGPic's current picture
  kRedrawUnscaled = 16,          // the unscaled states over the BGPic's original, at its size
};

// Recomposes the rectangle (clipped to the BGPic) into dst at the same place: the background,
// the layers from the bottom up, the sprites. A size below 1, a negative corner or no dst writes
// its "ERROR! REDRAW" line and draws nothing; a layer whose part fails is skipped in that part.
void Redraw(qvScriptState* L, qvDisplay* display, qvBGPic* bgpic, qvBitMap* dst, int32_t x,
            int32_t y, int32_t width, int32_t height, int32_t flags);

// Renders the state of the layer by its type into the state's render planes (the hook that
// CreateLayerRecord and RebuildLayerState call; render flags kRender*). 0 or an error code.
int DrawLayerObject(qvScriptState* L, qvDisplay* display, qvLayer* layer, qvLayerState* state,
                    const qvTransformBlock& transform, int32_t flags);

// Which pixels of a layer are drawn, and from where: the rectangle of width x height at
// (srcX, srcY) of the planes (the part offsets of a brush or BGPic part, unless the pixels are the
// filtered ones). The planes are the state's or the object's: never freed by the caller.
struct qvLayerPixels {
  qvBitMap* bitmap;
  qvPlane* mask;
  qvPlane* alpha;
  int32_t width, height;
  int32_t srcX, srcY;
  bool vector;    // a vector brush's picture
  bool filtered;  // the state's filtered planes
};
// useFiltered, useRender: whether the state's filtered and render planes may be taken; frame:
// the anim frame, or -1 for the state's own. ERR_WRONGUSAGE for a NOOBJECT layer or a type
// without pixels; the object's finder's code when it is gone.
int GetLayerObjectBitmaps(qvScriptState* L, const qvLayer* layer, const qvLayerState* state,
                          bool useFiltered, bool useRender, int32_t frame, qvLayerPixels* out);

// The factors a state was rendered at: the display's when the display scales the BGPic's layers
// and the state is the layer's scaled `current`, else 1.
void LayerStateScale(const qvDisplay* display, const qvBGPic* bgpic, const qvLayer* layer,
                     const qvLayerState* state, double* scaleX, double* scaleY);

// A bordered render: the picture with the border round it, and the offsets of the object's
// corner inside it.
struct qvBorderRender {
  qvPlaneSet planes;
  int32_t offsetX, offsetY;
  int32_t width, height;
};
// Builds the border of size `size` (>= 1) in `colour` (ARGB, the alpha byte a transparency) round
// the layer's pixels, the state rendered at the scale factors. 0 or ERR_MEM (nothing made), or
// the pixels' finder's code.
int DrawLayer(qvScriptState* L, qvLayer* layer, const qvLayerState* state, uint32_t colour,
              int32_t size, double scaleX, double scaleY, qvBorderRender* out);
// Builds the state's bordered planes with the layer's border when it has none; *out (may be null)
// gets the bordered rectangle (the draw position minus the border offsets, the bordered size).
// 0 or DrawLayer's code.
int BuildLayerBorder(qvScriptState* L, qvLayer* layer, qvLayerState* state, double scaleX,
                     double scaleY, qvLayerArea* out);
// The rectangle of the layer's shadow: the bordered rectangle (border on) or the draw rectangle,
// widened by the radius on every side and moved by the shadow size (times the scale factors,
// truncated) in its direction.
qvLayerArea GetShadowRect(const qvLayer* layer, const qvLayerState* state, double scaleX,
                          double scaleY);

// Builds the state's filtered planes when a slot is on and it has none. 0 or an error code.
int EnsureFilteredBitmap(qvScriptState* L, qvLayer* layer, qvLayerState* state);
// Runs every slot that is on, by descending priority, ties in slot order, on the top-left
// width x height of the planes (the geometry filters move the mask and the alpha with the
// pixels). 0 or the first filter's error.
int ApplyLayerFilters(const qvFilterSlot slots[kLayerFilterCount], qvBitMap* bitmap, qvPlane* mask,
                      qvPlane* alpha, int32_t width, int32_t height);

// Draws the rectangle of the source (with its mask or alpha) into dst at (dx, dy) with a
// transparency (0 opaque .. 255 invisible) inside the clip region (may be null). 0 or ERR_MEM.
int DrawClippedLayerBitmap(qvScriptState* L, const qvBitMap* src, const qvPlane* mask,
                           const qvPlane* alpha, int32_t sx, int32_t sy, qvBitMap* dst, int32_t dx,
                           int32_t dy, int32_t width, int32_t height, int32_t transparency,
                           const qvClipRegion* clip);

// The width a border of `border` pixels round a width x height rectangle takes under the matrix:
// half the growth of the transformed bounds when the border is added, the larger of the two axes,
// rounded up.
int32_t GetRotatedInset(const double matrix[4], int32_t width, int32_t height, int32_t border);

}  // namespace qv
