// The layer system: the layer records of the BGPics, their states, the layer list and the
// operations that create, re-render, delete and free layers. It plugs into the core at its
// library's open (core/layer_system.h); the display code reaches it only through that record.
// Everything here runs on the script thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/layer_system.h"
#include "core/registry.h"
#include "display/async_draw.h"
#include "display/bgpics.h"
#include "display/records.h"
#include "display/shapes.h"
#include "display/show.h"

namespace qv {

struct qvClipRegion;
struct qvDisplay;
struct qvLayer;

// Registers the layer system's record with the core and its rows of GetAttribute; 0 or an error
// code.
int32_t OpenLayerSystem();
// Forgets the record (shutdown, after the displays are gone).
void CloseLayerSystem();

// The walks over every BGPic's layer list, as the record answers them.
int32_t CountBGPicLayers(const qvBGPic* bgpic);
// Copy-on-write: whether a layer other than `except` shows the object (a layer of a brush part
// shows its brush; a layer that shows no object matches any kind but a brush), and pointing every
// such layer at `newHandle` under id 0 (true when there was one).
bool IsObjectShownByLayer(int32_t kind, qvObjectId id, const qvLayer* except);
bool RepointObjectLayers(int32_t kind, qvObjectId id, void* newHandle);

// ---------------------------------------------------------------------------------------------
// Records.

// One state of a layer: its geometry and the buffers rendered for it. The kinds of layer add a
// tail (below); a state is freed by its layer's kind.
struct qvLayerState {
  qvPlaneSet object;    // pixels the layer owns itself (a text layout's render, say)
  qvPlaneSet render;    // the object rendered at its transform and the display's scale
  qvPlaneSet filtered;  // the result of the layer's filters
  qvPlaneSet bordered;  // the object with its border round it
  qvPlane* shadowMask;  // the blurred 8-bit shadow, cached
  qvClipRegion* clipRegion;
  int32_t ownsClipRegion;  // the region is a transformed copy of this state's own
  int32_t x, y;            // the position the script gave (the anchor point)
  int32_t width, height;   // the object's size before its transform
  int32_t drawX, drawY;    // where the render's corner goes
  int32_t anchoredX, anchoredY;
  int32_t drawWidth, drawHeight;
  int32_t borderOffsetX, borderOffsetY, borderWidth, borderHeight;
};

// BRUSH, BRUSHPART, BGPICPART: where the part starts in the object.
struct qvBrushLayerState : qvLayerState {
  int32_t partX, partY;
};
// ANIM: the frame shown (from 0) and the anim's frame count.
struct qvAnimLayerState : qvLayerState {
  int32_t frame, frameCount;
};
// TEXTOUT, PRINT: the text engine's layout, in owned copies.
struct qvTextLayoutLayerState : qvLayerState {
  char* text;
  size_t textLength;
  int32_t* tabs;
  int32_t tabCount;
  uint8_t* lines;  // the laid-out lines, as the text engine packs them
  size_t lineBytes;
};
// BOX, CIRCLE, ELLIPSE, LINE, POLYGON, ARC: the shape's parameters.
struct qvShapeLayerState : qvLayerState {
  uint32_t colour;
  qvDrawStyle style;  // form and fill
  int32_t corners[4];
  double radiusA, radiusB;
  double startAngle, endAngle;
  int32_t clockwise;
  int32_t x1, y1, x2, y2;  // a line's end points
  int32_t thickness;
  double* vertices;  // two doubles a vertex, owned
  int32_t vertexCount;
};
// VECTORPATH: the path's parameters and owned data.
struct qvVectorLayerState : qvLayerState {
  uint32_t colour;
  int32_t lineJoin, lineCap, fillRule;
  double dashOffset;
  uint8_t* pathData;
  size_t pathLength;
  double* dashes;
  int32_t dashCount;
};

// The layer: one node of its BGPic's layer list. The head holds its kind (the object type that it
// shows) and the object's id.
struct qvLayer : qvLayerHead {
  qvObjectId sourceId;  // the id at creation, which move lists match against
  int32_t hidden;
  int32_t skipDraw;  // never drawn: made visible while its own BGPic was the output device
  int32_t transparency;
  char* name;  // owned, or null
  char group[kLayerNameSize];
  // Written by the refresh and async-draw code: the render buffers are to be made again when the
  // display re-opens; the style application leaves this layer's refresh to a later flush.
  int32_t needsRenderBuffers;
  int32_t deferRefresh;
  int32_t noClipTransform;  // the clip region is not transformed with the layer
  qvTransformBlock transform;
  double anchorX, anchorY;
  qvShadowBlock shadow;
  int32_t shadowFade;  // 0: none; else 1 + the level the shadow's opacity is scaled by
  qvBorderBlock border;
  int32_t layerFade;  // as shadowFade, for the border
  qvFilterSlot filters[kLayerFilterCount];
  int32_t hasGeometryFilter;
  qvObjectDataItem* objectData;
  // One, two or three distinct records: `previous` is the unscaled render of `base` under the
  // transform, `current` what the display shows at its scale.
  qvLayerState* base;
  qvLayerState* previous;
  qvLayerState* current;
};

// The layer of a list node, and the list's walk from the bottom (position 1) up.
inline qvLayer* LayerOfNode(qvNode* node) {
  return static_cast<qvLayer*>(reinterpret_cast<qvLayerHead*>(node));
}
inline qvLayer* FirstLayer(const qvBGPic* bgpic) {
  qvNode* n = bgpic->layers.head;
  return n != nullptr && n->next != nullptr ? LayerOfNode(n) : nullptr;
}
inline qvLayer* NextLayer(const qvLayer* layer) {
  qvNode* n = layer->node.next;
  return n != nullptr && n->next != nullptr ? LayerOfNode(n) : nullptr;
}

// Calls visit(state) for each distinct state of the layer once: base, previous when it is not
// base, current when it is neither. Every walk that frees or resets state buffers goes here.
template <typename Visit>
void ForEachDistinctState(qvLayer* layer, Visit visit) {
  qvLayerState* base = layer->base;
  qvLayerState* previous = layer->previous;
  qvLayerState* current = layer->current;
  if (base != nullptr) visit(base);
  if (previous != nullptr && previous != base) visit(previous);
  if (current != nullptr && current != base && current != previous) visit(current);
}

// ---------------------------------------------------------------------------------------------
// Look-ups.

// The 1-based position of the first layer named `name` without regard to case; 0 for none.
int32_t FindLayerByName(const qvBGPic* bgpic, const char* name);
// A layer as a script names it: a position (truncated, not range-checked) or a name.
struct qvLayerArg {
  enum Kind : int32_t { kNumber, kName, kOther } kind;
  double number;
  const char* name;
  int32_t argIndex;  // for the message of an argument of another type
};
// The position: ERR_STRORNUM for an argument that is neither, ERR_FINDLAYER with the name stored
// for a name no layer has.
int FindLayer(const qvBGPic* bgpic, const qvLayerArg& arg, int32_t* position);
// The layer at the 1-based position; null below 1 or beyond the count.
qvLayer* GetLayerByIndex(const qvBGPic* bgpic, int32_t position);
// The layer's 1-based position, -1 when it is not in the list.
int32_t GetLayerPosition(const qvBGPic* bgpic, const qvLayer* layer);

// Names the layer (an owned copy; the empty name removes it). ERR_NAMETOOLONG for 256 characters
// or more, ERR_NAMEUSED when another layer of the BGPic has that name or group name (without
// regard to case), ERR_MEM; the layer keeps its old name on failure.
int SetLayerNameCore(const qvBGPic* bgpic, qvLayer* layer, const char* name);

// ---------------------------------------------------------------------------------------------
// What the compositor and the refresh code give the records: rendering a state, refreshing a
// layer's area and telling the async-draw objects. By default a render is the compositor's
// DrawLayerObject (layers/layer_draw.h), a refresh is RefreshLayerArea (layers/layer_refresh.h:
// the current state's bounds with shadow and border, recomposed now or recorded by the output
// device), and the async-draw objects are asked and told through their messages.
struct qvLayerHooks {
  // Renders the state (render flags: kRenderLayer, kRenderScaled) into its render planes;
  // 0 or an error code.
  int (*drawLayerObject)(qvScriptState* L, qvDisplay* display, qvLayer* layer, qvLayerState* state,
                         const qvTransformBlock& transform, int32_t flags);
  // Recomposes (or marks, by the output device) the bounds of the layer's current state.
  void (*refreshLayerArea)(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer);
  // An async-draw message about the layer (kAsyncDrawLayerRemoved, kAsyncDrawLayerRendered).
  void (*notifyAsyncDraw)(int32_t message, qvLayer* layer);
  // True when an async-draw object uses the layer.
  bool (*isUsedByAsyncDraw)(const qvLayer* layer);
};
enum : int32_t { kRenderLayer = 16, kRenderScaled = 64 };
// Sets the hooks (copied; null members keep the defaults). Null restores every default.
void SetLayerHooks(const qvLayerHooks* hooks);

// ---------------------------------------------------------------------------------------------
// Records and states.

// CreateLayerRecord flags.
enum : int32_t {
  kLayerHidden = 1,
  kLayerDisplayScale = 2,  // render at the display's scale when it scales its layers
  kLayerNoRefresh = 4,     // internal: no refresh after the re-render
  kLayerReplace = 8,       // replace the layer that follows the insert point
};
// PurgeLayerCopies kinds.
enum : int32_t {
  kPurgeBrushes = 1,
  kPurgeAnims = 2,
  kPurgeTextObjects = 4,
  kPurgeBGPics = 8,
  kPurgeAll = 15,
};
constexpr int32_t kInsertOnTop = -1;

struct qvLayerRequest {
  qvBGPic* bgpic = nullptr;      // whose list takes the layer
  qvDisplay* display = nullptr;  // the display showing it (its output device and scale), or null
  int32_t type = kObjectNoObject;
  qvObjectId objectId{0, nullptr};
  int32_t x = 0, y = 0, width = 0, height = 0;  // where the render goes and its size
  const qvTransformBlock* transform = nullptr;  // null: the defaults
  const qvLayerOptions* options = nullptr;      // null: the default shadow and border blocks
  // Taken over by the layer: the state (allocated by AllocLayerState for the type, its tail
  // filled) and the pixels of its own, which go into the state's object planes.
  qvLayerState* state = nullptr;
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int32_t insertPos = kInsertOnTop;  // -1 on top, 1 at the bottom, n after the layer n - 1
  int32_t flags = 0;                 // kLayer*
};
// Creates the layer and inserts it; *out (may be null) gets it. 0 or an error code: ERR_MEM,
// ERR_NAMETOOLONG, ERR_NAMEUSED, the renderer's. On failure no layer is added, the list is as it
// was, and the state and the pixels are freed.
int CreateLayerRecord(qvScriptState* L, const qvLayerRequest& request, qvLayer** out);
// Removes the layer: its area is refreshed (without it) unless noRefresh, its buttons go, its
// states, name and data are freed and it is unlinked; the object copies kept for it are purged.
void DeleteLayerRecord(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer, bool noRefresh);
// Frees every layer of the list (a NOOBJECT placeholder only unlinked), with its buttons when
// asked; with `purge` then the object copies kept for layers.
void FreeLayerList(qvScriptState* L, qvBGPic* bgpic, bool purge, bool removeButtons);
// Frees the objects of the kinds (kPurge*) that the script freed and that layers kept, once no
// layer shows them; then the clip regions kept for layers.
void PurgeLayerCopies(qvScriptState* L, int32_t kinds);

// RebuildLayerState modes.
enum : int32_t {
  kRebuildScaled = 1,     // render the display-scaled `current`
  kRebuildTransform = 2,  // the transform changed (handed on to the scaled pass)
  kRebuildNoOldArea = 4,  // record no old area
};
// Re-renders the layer by copy-on-write: a copy of base, rendered under the transform (and with
// kRebuildScaled at the display's scale), becomes `previous` (`current`); the states it replaces
// are freed after the render succeeds. When the display scales its layers an unscaled re-render
// is followed by the scaled one. 0 or an error code, with the layer as it was on failure.
// *oldArea (may be null) gets the rectangle the replaced visible state covered, {0,0,0,0} when
// none was recorded.
struct qvLayerArea {
  int32_t x, y, width, height;
};
int RebuildLayerState(qvScriptState* L, qvDisplay* display, qvBGPic* bgpic, qvLayer* layer,
                      int32_t mode, qvLayerArea* oldArea = nullptr);
// Every `current` that is neither base nor previous goes back to `previous` (a display
// re-opens): the render planes it had are made again at its render size, or the async draw that
// uses the layer is told to do so.
void RevertLayerStates(qvScriptState* L, qvBGPic* bgpic);

// Whether the display draws the BGPic's layers at its scale: its layer scaling is on, the BGPic
// is its own and a factor is not 1.
bool DisplayScalesLayers(const qvDisplay* display, const qvBGPic* bgpic);

// The text-rotation classification of a text layer's transform: isRotated unchanged for a matrix
// without turn; otherwise set, and cleared with the scale factors stored when the matrix is a
// uniform-enough scale combined with a whole-degree turn.
void ClassifyTextRotation(qvTransformBlock* block);

// The kinds whose state is a shape's parameters: box, circle, ellipse, line, polygon, arc.
bool IsShapeLayerKind(int32_t type);

// State records by kind: a zeroed state with the kind's tail (null on failure), a copy of one
// (the owned arrays copied; brush and part offsets cleared; null on failure or for a kind without
// a copy), and the freeing of one with every buffer it owns.
qvLayerState* AllocLayerState(int32_t type);
qvLayerState* CloneLayerState(int32_t type, const qvLayerState* state);
void FreeLayerState(qvScriptState* L, int32_t type, qvLayerState* state);
// The buffers of one state: the four plane sets, the shadow mask and a clip region it owns.
void FreeStateBuffers(qvScriptState* L, qvLayerState* state);
// Each distinct state freed once, then the name and the data items (the node stays).
void FreeLayerContents(qvScriptState* L, qvLayer* layer);
// Copies hidden, transparency, the shadow and border blocks, the filters and hasGeometryFilter.
void CopyLayerStyleFields(const qvLayer* from, qvLayer* to);

// Test seam: the n-th allocation of the layer records from now on fails (n >= 1; 0 switches the
// fault off). LayerAllocCount answers the allocations made since the last SetLayerAllocFault.
void SetLayerAllocFault(int64_t n);
int64_t LayerAllocCount();

// ---------------------------------------------------------------------------------------------
// The layers library's work below the script (layer_library.cpp).

// The guard of the layer commands, in its order: an anim frame (ERR_SELECTANIM) or another
// picture (ERR_SELECTBRUSH) as the output, a mask (ERR_SELECTMASK), an alpha channel
// (ERR_SELECTALPHACHANNEL), layers off (ERR_NOLAYERS); ERR_WRONGUSAGE without a display.
int CheckLayerGuard(const qvDisplay* display);
// The BGPic whose layers the commands address: the one selected as layer target, else the
// display's own.
qvBGPic* CurrentLayerBGPic(const qvDisplay* display);

// Layers on: ERR_LAYERSWITCH while an async draw is busy, ERR_ENDDOUBLEBUFFER while double
// buffering, ERR_LAYERSON while the display is not the output, ERR_NOSPRITES with sprites on the
// BGPic. Layers off: ERR_LAYERSWITCH, ERR_LAYERSON, ERR_NODISLAYERS for a layer-scaled display.
// The layers stay in the list either way.
int EnableLayersCore(qvScriptState* L, qvDisplay* display);
int DisableLayersCore(qvScriptState* L, qvDisplay* display);

// A layer argument that may name a group: a position (ERR_LAYERRANGE out of range), a layer
// name, else the members of the group of that name one per call: *index starts at 0 and is -1
// after the last member. ERR_FINDLAYER when neither matches, ERR_STRORNUM for another type.
int FindLayerOrGroup(const qvBGPic* bgpic, const qvLayerArg& arg, int32_t* index, qvLayer** out,
                     bool* isGroup);
// Every layer the argument stands for, at most `capacity` (ERR_INTERNAL beyond).
int CollectLayerOrGroup(const qvBGPic* bgpic, const qvLayerArg& arg, qvLayer** out,
                        int32_t capacity, int32_t* count);
// One layer by position or name: FindLayer's codes, ERR_LAYERRANGE without one there.
int ResolveLayer(const qvBGPic* bgpic, const qvLayerArg& arg, qvLayer** out);

// Adds the object as a layer of the current layer BGPic (the layer system's plug).
int AddObjectLayerCore(qvScriptState* L, const qvObjectLayerArgs& args);
// A brush as a new layer at the insert position (0 or beyond the count: on top; ERR_INVINSERT
// below 0), x and y special positions against its size; other kinds ERR_WRONGUSAGE, anims and
// text objects their finders' codes until they come.
int InsertObjectLayer(qvScriptState* L, qvDisplay* display, int32_t position, int32_t type,
                      qvObjectId id, int32_t x, int32_t y, bool hidden);

// Shows or hides the layers (a group: `isGroup`). Showing moves them to x, y (special positions;
// 100000 keeps a coordinate): one layer's anchor point against its size, a group's bounding box
// (the union of the members' anchored base rectangles) against the box's size, every member
// moving with the box. What changed is collected and refreshed once.
void ShowHideLayersCore(qvScriptState* L, qvDisplay* display, qvLayer* const* layers, int32_t count,
                        bool isGroup, int32_t x, int32_t y, bool hidden);
// Moves the layer to `position` (1 the bottom, 0 or beyond the count the top); true when it
// moved.
bool SetLayerZPosCore(qvBGPic* bgpic, qvLayer* layer, int32_t position);
// Removes the layers (ERR_REMADLAYER before anything goes when an async draw uses one).
int RemoveLayersCore(qvScriptState* L, qvDisplay* display, qvLayer* const* layers, int32_t count);
// FreeLayers: with `keep` the layers' pixels stay in the background.
int FreeLayersCore(qvScriptState* L, qvDisplay* display, bool keep);
// Removes the level-th layer from the top whose kind and source id match; none is no error.
int UndoCore(qvScriptState* L, qvDisplay* display, int32_t type, qvObjectId id, int32_t level,
             bool noRefresh);
// The shadow or border block stored (nothing when off and staying off), the union of the old and
// new bounds refreshed.
void SetLayerShadowCore(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer,
                        const qvShadowBlock& shadow);
void SetLayerBorderCore(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer,
                        const qvBorderBlock& border);
// The text of DumpLayers: the list's head and one line a layer, of the state `which` chooses
// (1 previous, 2 current, else base).
std::string DumpLayersText(const qvBGPic* bgpic, int32_t which);
// The top-most layer whose current draw rectangle holds the point (hidden ones too): its
// position (0 for none) and its name ("" for none).
int32_t GetLayerAtPosCore(const qvBGPic* bgpic, int32_t x, int32_t y, const char** name);
}  // namespace qv
