// The plug of the layer system, which stands above the core, the image engine and the display
// code: the layers code registers one record at its library's open, and everything below asks
// through the calls here. Until one is registered (and in programs without layers) no BGPic has
// a layer or a sprite: lookups answer "not found", nothing is shown by a layer and nothing is
// recomposed.
#pragma once

#include <cstdint>

#include "core/registry.h"

namespace qv {

struct qvBGPic;
struct qvBitMap;
struct qvDisplay;
struct qvLayer;
struct qvLayerOptions;
struct qvPlane;
struct qvTransformBlock;

// An object shown while layers are on, handed to the layer system as a new layer of the output
// target (the display's BGPic, or the BGPic selected as layer target).
struct qvObjectLayerArgs {
  int32_t kind = 0;  // kObjectBrush, kObjectBrushPart, kObjectBGPicPart
  qvObjectId id{0, nullptr};
  int32_t srcX = 0, srcY = 0;     // the part's corner in the object
  int32_t x = 0, y = 0;           // the anchor point on the target
  int32_t width = 0, height = 0;  // the rectangle, before the transform
  const qvTransformBlock* transform = nullptr;
  const qvLayerOptions* options = nullptr;
  // Pixels of the layer's own (a composed BGPic part), taken over on success and failure alike.
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int32_t insertPos = -1;  // -1 on top, else 1-based
  int32_t flags = 0;       // the layer records' creation flags (kLayerCreate*)
};
// The creation flags a caller below the layer system gives: render at the display's scale when
// it scales its layers.
enum : int32_t { kLayerCreateDisplayScale = 2 };

// What a recompose lays down: everything, or the two halves around a blit that lies beneath
// layers or sprites (the picture and the layers under the blit before it, what stands above
// after it).
enum RecomposeMode : int32_t {
  kRecomposeAll = 0,
  kRecomposeBeneath = 1,
  kRecomposeAbove = 2,
};

struct qvLayerSystem {
  // The 1-based position of the layer of that name (without regard to case) in the layer list of
  // the BGPic that the current display shows, 0 when there is none.
  int32_t (*findLayerByName)(const char* name);
  // The number of layers of the BGPic.
  int32_t (*countLayers)(const qvBGPic* bgpic);
  // Copy-on-write: whether a layer of any BGPic other than `except` shows the object, and
  // pointing every layer that shows it at another record (true when there was one).
  bool (*isShownByLayer)(int32_t kind, qvObjectId id, const qvLayer* except);
  bool (*repointLayers)(int32_t kind, qvObjectId id, void* newHandle);
  // True when the rectangle meets a sprite shown on the target.
  bool (*rectHitsSprites)(const qvBGPic* target, int32_t x, int32_t y, int32_t width,
                          int32_t height);
  // Recomposes the rectangle of the target (its picture, its layers, its sprites) into dst; the
  // mode is a RecomposeMode.
  void (*redraw)(qvScriptState* L, qvDisplay* display, qvBGPic* target, qvBitMap* dst, int32_t x,
                 int32_t y, int32_t width, int32_t height, int32_t flags, int32_t mode);
  // Adds the object as a layer of the current output target; 0 or an error code.
  int (*addObjectLayer)(qvScriptState* L, const qvObjectLayerArgs& args);
  // The BGPic stops being the layer target: its layers made visible meanwhile are drawn from now.
  void (*endLayerTarget)(qvBGPic* bgpic);
  // The layer at the 1-based position (null when there is none), the position and size the
  // script gave it, and moving its anchor point to x, y with the area it left and took refreshed.
  qvLayer* (*layerAt)(const qvBGPic* bgpic, int32_t position);
  void (*layerPlace)(const qvLayer* layer, int32_t* x, int32_t* y, int32_t* width, int32_t* height);
  void (*moveLayer)(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer, int32_t x, int32_t y);
  // A BGPic goes: its layers are freed (their buttons go with the BGPic's).
  void (*freeLayers)(qvScriptState* L, qvBGPic* bgpic);
};

// Registers the layer system (kept, not copied; null forgets it). A member left null answers as
// no layer system would. Start-up, before scripts run.
void RegisterLayerSystem(const qvLayerSystem* system);
// True while a layer system with a compositor (redraw) is registered.
bool HasCompositor();

// The questions through the registered record, with the answers of "no layer system".
int32_t FindLayerByName(const char* name);
int32_t CountLayers(const qvBGPic* bgpic);
bool IsShownByLayer(int32_t kind, qvObjectId id, const qvLayer* except);
bool RepointLayers(int32_t kind, qvObjectId id, void* newHandle);
bool RectHitsSprites(const qvBGPic* target, int32_t x, int32_t y, int32_t width, int32_t height);
void RedrawLayers(qvScriptState* L, qvDisplay* display, qvBGPic* target, qvBitMap* dst, int32_t x,
                  int32_t y, int32_t width, int32_t height, int32_t flags, int32_t mode);
// ERR_NOLAYERS without a layer system; the pixels handed over are then freed by the caller.
int AddObjectLayer(qvScriptState* L, const qvObjectLayerArgs& args);
void EndLayerTarget(qvBGPic* bgpic);
qvLayer* LayerAt(const qvBGPic* bgpic, int32_t position);
void LayerPlace(const qvLayer* layer, int32_t* x, int32_t* y, int32_t* width, int32_t* height);
void MoveLayerTo(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer, int32_t x, int32_t y);
void FreeBGPicLayers(qvScriptState* L, qvBGPic* bgpic);

}  // namespace qv
