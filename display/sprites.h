// Sprites: multi-frame pictures placed on a display by position. The records live in one list
// registered with the object registry; what is on screen is a list of entries per output target
// (the BGPic the display shows), which the compositor draws over the target's picture. Moving a
// sprite refreshes only its old and new rectangles. Script thread only.
#pragma once

#include <cstdint>

#include "core/registry.h"
#include "image/image.h"

namespace qv {

struct qvBGPic;
struct qvClipRegion;

struct qvSprite;

// A sprite record: 16 words, the first five the object header (its data list and next record).
struct qvSprite {
  qvObjectHeader header;  // type kObjectSprite
  int32_t width, height;
  int32_t frames;
  int32_t locked;     // ERR_LOCKEDOBJ on modification
  int32_t layerCopy;  // kept only for the layers that show it
  // Null for a sprite that owns its frames; else a null-terminated array of the sprites whose
  // frames it shows, in order (they own theirs: links never chain).
  qvSprite** links;
  int32_t transparentColour;  // keys the pixel sources when they become planes
  // One entry per frame each (an owning sprite; null arrays for a linked one). Masks and alphas
  // may hold null entries.
  qvBitMap** bitmaps;
  qvPlane** masks;
  qvPlane** alphas;
  // One block of width x height ARGB words per frame, kept until ResolvePreloadedSprites turns it
  // into planes (null once converted, and for sprites built at run time).
  uint32_t** pixelSources;
};

// A sprite on screen: one per sprite id per target, appended at the tail of the target's list
// (qvBGPic::sprites); the later entries are drawn above the earlier ones.
struct qvSpriteEntry {
  qvSpriteEntry* next;
  qvObjectId id;
  int32_t x, y;
  int32_t width, height;
  int32_t frame;  // 1-based
  qvSprite* sprite;
  // The target's clip region when the sprite was shown (null: none); dropped when the region is
  // freed.
  const qvClipRegion* clipRegion;
};

qvObjectHeader** SpriteListHead();
// The first on-screen entry of a target (null: none).
qvSpriteEntry* TargetSpriteEntries(const qvBGPic* target);

// Appends a sprite that takes over the arrays and what they hold (with `automatic` the id
// becomes {0, the record}). 0 or ERR_MEM (then nothing was taken over).
int AddSprite(qvObjectId* id, bool automatic, int32_t width, int32_t height,
              uint32_t** pixelSources, qvBitMap** bitmaps, qvPlane** masks, qvPlane** alphas,
              int32_t frames, int32_t transparentColour, qvSprite** links, qvSprite** out);

// FindSprite flags (the values of FindBrush's).
enum : int32_t {
  kFindSpriteModify = 1,       // ERR_LOCKEDOBJ for a locked sprite; copy for the layers
  kFindSpriteLayerCopies = 2,  // layer copies count too
  kFindSpriteNoCopy = 4,       // modify without detaching it from the layers that show it
};
// 0 with the record; ERR_FINDARRAY for a handle that names none, else ERR_FINDSPRITE with the
// number stored; ERR_LOCKEDOBJ; the copy's ERR_MEM.
int FindSprite(qvScriptState* L, qvObjectId id, qvSprite** out, int32_t flags);
// The entry of the id on the current output target: 0, or ERR_SPRITEONSCREEN2 for a handle,
// ERR_SPRITEONSCREEN with the number stored (out null).
int FindSpriteEntry(qvObjectId id, qvSpriteEntry** out);
// Removes the current target's entry that shows the record, refreshes its rectangle and frees
// it: 1 when one was removed, else 0.
int RemoveSpriteEntry(qvScriptState* L, const qvSprite* sprite);
// Unlinks the sprite, removes its entries (on every target), and for a sprite that owns its
// frames deletes first every sprite that links to it; then frees it. 0.
int DeleteSprite(qvScriptState* L, qvObjectId id, qvSprite* sprite);
// FindSprite for modifying, then DeleteSprite. 0; FindSprite's codes, but a missing sprite is no
// error unless mustExist.
int FreeSpriteById(qvScriptState* L, qvObjectId id, bool mustExist);
// 0 when the sprite's frames may change: ERR_MODIFYSPRITE when it is on screen on the current
// target, ERR_MODIFYSPRITE2 when it links to others or another links to it.
int CheckSpriteModifiable(const qvSprite* sprite);
// The planes of the frame (from 0); for a linked sprite the frames run through the linked
// sprites in order. An index beyond every frame leaves the outputs as they were.
void GetSpriteFrameBitMaps(const qvSprite* sprite, int32_t frame, qvBitMap** bitmap, qvPlane** mask,
                           qvPlane** alpha);
// Start-up: turns every sprite's pixel sources into bitmaps and masks keyed by its transparent
// colour and frees the sources. 0 or ERR_MEM.
int ResolvePreloadedSprites();
// Shows the sprite at x, y (special positions allowed) in the frame (1-based; 0: the next one,
// wrapping after the last) on the current target. 0, FindSprite's codes, ERR_ANIMFRAME, ERR_MEM.
int DisplaySpriteCore(qvScriptState* L, qvObjectId id, int32_t x, int32_t y, int32_t frame);

// ---- the list's life and what the commands do below the script ----

// Registers the list with the object registry and the entries as holders of clip regions. 0 or
// ERR_MEM.
int32_t OpenSprites();
// Teardown: every entry of every target and every sprite.
void FreeAllSprites(qvScriptState* L);
// Frees a target's entries (a BGPic being freed).
void FreeTargetSpriteEntries(qvBGPic* target);
// Recomposes the rectangle of the current display's background (clipped to it) with whatever
// stands on it and brings it to the window.
void RefreshLayerRect(qvScriptState* L, int32_t x, int32_t y, int32_t width, int32_t height);
// The output-device refusals of the commands that put sprites on the display or take them off,
// in their order: ERR_SELECTBG, ERR_ENDDOUBLEBUFFER, ERR_SELECTANIM, ERR_SELECTBRUSH,
// ERR_SELECTMASK, ERR_SELECTALPHACHANNEL, ERR_LAYERSOFF; ERR_WRONGUSAGE without a display.
int CheckSpriteOutput();
// Takes the sprite off the current target: 0, FindSprite's codes (for modifying), or
// FindSpriteEntry's when it is not shown there.
int RemoveSpriteCore(qvScriptState* L, qvObjectId id);
// Takes every sprite off the current target; with keepPicture what they show stays in the
// picture. 0, ERR_LOCKEDOBJ (a shown sprite is locked; nothing changed), ERR_WRONGUSAGE.
int RemoveAllSprites(qvScriptState* L, bool keepPicture);
// A copy of every frame (a linked sprite: of its links array) and the data list, under the id.
// 0 or ERR_MEM with nothing made.
int CopySpriteRecord(qvScriptState* L, const qvSprite* source, qvObjectId* id, bool automatic,
                     qvSprite** out);
// CheckSpriteModifiable, then every frame scaled to the size (the same size: nothing). 0,
// ERR_BADDIMENSIONS, ScaleBitMap's codes (the sprite unchanged).
int ScaleSpriteCore(qvScriptState* L, qvSprite* sprite, int32_t width, int32_t height, bool smooth);
// CheckSpriteModifiable, then every frame's planes mirrored. 0 or an error code.
int FlipSpriteCore(qvSprite* sprite, bool horizontal);

}  // namespace qv
