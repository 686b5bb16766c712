// What is recomposed after a layer changes: the bounds of a layer with its shadow and border, the
// rectangle lists that collect areas (the display's dirty list and the layers library's batch
// list), their flush, the refresh or marking of one rectangle by the output device, and the
// changes that are the model for every other: moves, swaps and a re-rendered state's geometry.
// Script thread only.
#pragma once

#include <cstdint>

#include "display/records.h"
#include "layers/layers.h"

namespace qv {

struct qvBGPic;
struct qvDisplay;

// ---------------------------------------------------------------------------------------------
// Bounds.

// The box round both rectangles (held to the int32 range); an empty one adds nothing.
qvLayerArea UniteLayerAreas(const qvLayerArea& a, const qvLayerArea& b);
// The state's draw rectangle.
qvLayerArea LayerDrawRect(const qvLayerState* state);
// The rectangle of the state with its border round it: the built bordered render's when there
// is one, else what a border of the layer's size takes (more under a turn or a shear, where the
// compositor's border grows).
qvLayerArea LayerBorderedRect(const qvLayer* layer, const qvLayerState* state);
// The rectangle of the layer's shadow: the compositor's GetShadowRect at the state's scale
// (LayerStateScale), cast by LayerBorderedRect when the border is on, so that a border not built
// yet is reckoned in.
qvLayerArea LayerShadowRect(const qvDisplay* display, const qvBGPic* bgpic, const qvLayer* layer,
                            const qvLayerState* state);
// Everything the state covers on the BGPic: the draw rectangle with the bordered rectangle when
// the border is on and the shadow's when the shadow is on.
qvLayerArea GetLayerBounds(const qvDisplay* display, const qvBGPic* bgpic, const qvLayer* layer,
                           const qvLayerState* state);
// True when no layer above this one (later in the list) that is drawn overlaps its current draw
// rectangle.
bool IsLayerUncovered(const qvBGPic* bgpic, const qvLayer* layer);

// ---------------------------------------------------------------------------------------------
// Rectangle lists (inclusive edges; an entry whose x1 is kAbsorbedRect was merged away). A list
// whose count equals its capacity is full, meaning "refresh everything"; a full list stays full
// until it is flushed or reset.

// Appends {x, y, x + width - 1, y + height - 1}. With `grow` a list grows by 1024 entries before
// its last slot is taken, so that entries never make it read as full; a list that cannot take
// the rectangle (no growth asked, or the memory is not there) becomes full instead of losing it.
// Empty rectangles are not recorded. Lists grow with new[] (the display frees its list with
// delete[]).
void AddRectToList(qvRectList* list, int32_t x, int32_t y, int32_t width, int32_t height,
                   bool grow);
// Records the bounds of the state (with growth).
void AddLayerDirtyRect(const qvDisplay* display, const qvBGPic* bgpic, qvRectList* list,
                       const qvLayer* layer, const qvLayerState* state);
// Refreshes what the list holds on the current display and empties it: a full list once as the
// whole BGPic, else the list merged and every entry that was not absorbed, in list order. The
// display's own dirty list is recomposed at once; another list (the batch list) goes through
// RefreshOrMarkRect, so that while a BGPic is the output it is recorded for the selection's end.
void FlushDirtyRects(qvScriptState* L, qvRectList* list);

// The layers library's batch list: 1024 entries made at the library's open (0 or ERR_MEM),
// freed at its teardown. Commands that change several layers reset it, collect into it and
// flush it once.
int OpenLayerBatchList();
void FreeLayerBatchList();
qvRectList* LayerBatchList();
void ResetLayerBatchList();

// ---------------------------------------------------------------------------------------------
// Refresh.

// Display itself the output: the rectangle recomposed now (RefreshLayerRect); a BGPic the
// output: recorded in the display's dirty list (with growth) for the selection's end; any other
// output: nothing. Nothing either without a current display.
void RefreshOrMarkRect(qvScriptState* L, int32_t x, int32_t y, int32_t width, int32_t height);
// RefreshOrMarkRect of the bounds of the layer's current state, when the BGPic is the one the
// current display shows. The layer records refresh through this (their refreshLayerArea hook).
void RefreshLayerArea(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer);

// ---------------------------------------------------------------------------------------------
// Moves, swaps, geometry.

// The coordinate pair that means "no move", and a coordinate that stays.
constexpr int32_t kLayerKeepPosition = 100000;
// MoveLayerCore flags.
enum : int32_t {
  kMoveRelativeX = 1,  // x is added to the base state's x
  kMoveRelativeY = 2,  // y is added to the base state's y
};
// Moves the state's anchor point to x, y: the draw position keeps its offset from the anchored
// position, which follows the anchors; a LINE's end points move by the same amount.
void MoveLayerState(qvLayerState* state, const qvLayer* layer, int32_t x, int32_t y);
// Moves the layer (base, previous when distinct; a distinct current takes previous's draw
// position at the current display's scale). x = y = kLayerKeepPosition moves nothing and
// refreshes the current area. The area is the union of the old and the new draw rectangle (each
// at least the size of `oldRect` when it is given), with shadow or border also the old and new
// bounds; unless noRefresh it goes into `list` (with growth) or, without one, through
// RefreshOrMarkRect. *area (may be null) gets it.
void MoveLayerCore(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer, const qvLayerArea* oldRect,
                   int32_t x, int32_t y, bool noRefresh, int32_t flags, qvRectList* list,
                   qvLayerArea* area = nullptr);
// Exchanges the layers at the two 1-based positions (adjacent ones in either order included) and
// refreshes the union of both bounds, unless either lies wholly outside the BGPic (then their
// order changes no pixel). 0 or ERR_LAYERRANGE.
int SwapLayersCore(qvScriptState* L, qvBGPic* bgpic, int32_t positionA, int32_t positionB);

// SetLayerGeometry's rectangle: with width -1 on entry it receives the old draw rectangle;
// noRefresh leaves the refresh to the caller.
struct qvLayerGeometryRect {
  int32_t x, y, width, height;
  int32_t noRefresh;
};
enum : int32_t { kGeometryKeepLinePosition = 64 };
// A renderer resized the layer's current state: its draw size becomes width x height at x, y
// less the anchors (a LINE takes x, y as given, or keeps its place with
// kGeometryKeepLinePosition); a given bitmap (with mask and alpha) becomes its object planes.
// Unless an async draw uses the layer (it is told instead) the render planes are made again at
// the new size and what was built from the old ones (filtered and bordered planes, shadow mask)
// freed. Unless the layer is hidden, never drawn or rect->noRefresh, the union of the old and new
// rectangle is refreshed through RefreshOrMarkRect. 0 or ERR_MEM.
int SetLayerGeometry(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer, qvLayerGeometryRect* rect,
                     int32_t x, int32_t y, int32_t width, int32_t height, qvBitMap* bitmap,
                     qvPlane* mask, qvPlane* alpha, int32_t flags);

}  // namespace qv
