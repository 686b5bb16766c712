// The sprite list and the on-screen entries of the output targets: finding, linking, deleting
// and showing sprites, and what their commands do below the script.
#include "display/sprites.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <new>
#include <unordered_map>

#include "base/errors.h"
#include "core/attribute_table.h"
#include "core/layer_system.h"
#include "display/clip_regions.h"
#include "display/display.h"
#include "display/internal.h"

namespace qv {

namespace {

qvObjectHeader* gSprites = nullptr;

// The first listed record of each id: a mover or a game shows hundreds of sprites a frame, each
// found by its id, where a walk of the list cost a quarter of the time.
struct IdKey {
  int32_t number;
  const void* handle;
  bool operator==(const IdKey&) const = default;
};
struct IdHash {
  size_t operator()(const IdKey& k) const {
    return std::hash<const void*>()(k.handle) ^
           (static_cast<size_t>(k.number) * 0x9E3779B97F4A7C15u);
  }
};
std::unordered_map<IdKey, qvSprite*, IdHash> gIndex;

void IndexAdd(qvSprite* sprite) {
  gIndex.try_emplace({sprite->header.id, sprite->header.handle}, sprite);
}

// After the record left the list: the index points at the next record of its id, if any.
void IndexRemove(const qvSprite* sprite) {
  IdKey key{sprite->header.id, sprite->header.handle};
  auto it = gIndex.find(key);
  if (it == gIndex.end() || it->second != sprite) return;
  gIndex.erase(it);
  for (qvObjectHeader* h = gSprites; h != nullptr; h = h->next) {
    if (h->id == key.number && h->handle == key.handle) {
      gIndex.emplace(key, reinterpret_cast<qvSprite*>(h));
      return;
    }
  }
}

bool SameId(const qvObjectHeader* header, qvObjectId id) {
  return header->id == id.number && header->handle == id.handle;
}

qvSprite* AsSprite(qvObjectHeader* h) { return reinterpret_cast<qvSprite*>(h); }

// Every listed BGPic: the only records that hold sprite entries (sprites are shown on the
// display's own background only).
template <typename Visit>
void ForEachTarget(Visit visit) {
  for (qvObjectHeader* h = *BGPicListHead(); h != nullptr; h = h->next) {
    visit(reinterpret_cast<qvBGPic*>(h));
  }
}

qvSpriteEntry** EntryHead(qvBGPic* target) {
  return reinterpret_cast<qvSpriteEntry**>(&target->sprites);
}

bool LinksTo(const qvSprite* sprite, const qvSprite* other) {
  if (sprite->links == nullptr) return false;
  for (qvSprite** l = sprite->links; *l != nullptr; ++l) {
    if (*l == other) return true;
  }
  return false;
}

// Frees what the record holds and the record (it is unlinked already).
void FreeSpriteRecord(qvScriptState* L, qvSprite* sprite) {
  if (sprite->links == nullptr) {
    for (int32_t i = 0; i < sprite->frames; ++i) {
      if (sprite->bitmaps != nullptr) FreeBitMap(sprite->bitmaps[i]);
      if (sprite->masks != nullptr) FreeMaskOrAlpha(sprite->masks[i]);
      if (sprite->alphas != nullptr) FreeMaskOrAlpha(sprite->alphas[i]);
      if (sprite->pixelSources != nullptr) std::free(sprite->pixelSources[i]);
    }
  }
  std::free(sprite->bitmaps);
  std::free(sprite->masks);
  std::free(sprite->alphas);
  std::free(sprite->pixelSources);
  std::free(sprite->links);
  FreeObjectData(L, &sprite->header);
  delete sprite;
}

// Removes every entry of every target that shows the record; with `refresh` the current
// display's rectangles are brought up to date.
void RemoveEntriesOf(qvScriptState* L, const qvSprite* sprite) {
  qvBGPic* current = OutputTarget();
  ForEachTarget([&](qvBGPic* target) {
    qvSpriteEntry** link = EntryHead(target);
    while (*link != nullptr) {
      qvSpriteEntry* e = *link;
      if (e->sprite != sprite) {
        link = &e->next;
        continue;
      }
      *link = e->next;
      if (target == current) RefreshLayerRect(L, e->x, e->y, e->width, e->height);
      delete e;
    }
  });
}

void ForgetRegion(const qvClipRegion* region) {
  ForEachTarget([&](qvBGPic* target) {
    for (qvSpriteEntry* e = *EntryHead(target); e != nullptr; e = e->next) {
      if (e->clipRegion == region) e->clipRegion = nullptr;
    }
  });
}

int CloneForLayers(qvScriptState* L, void* object, qvObjectHeader** clone) {
  qvObjectId id{0, nullptr};
  qvSprite* copy = nullptr;
  int code = CopySpriteRecord(L, static_cast<qvSprite*>(object), &id, true, &copy);
  if (code == 0) *clone = &copy->header;
  return code;
}

// GetAttribute of SPRITE: the position and frame are those of its entry on the current target
// (0 when it is not shown there); mask and alpha those of its first frame.
int32_t SpriteAttribute(const qvAttrQuery& q, qvAttrAnswer* out) {
  qvSprite* s = nullptr;
  int code = FindSprite(q.L, q.id, &s, 0);
  if (code != 0) return code;
  const qvSpriteEntry* entry = nullptr;
  for (qvSpriteEntry* e = TargetSpriteEntries(OutputTarget()); e != nullptr; e = e->next) {
    if (e->sprite == s) entry = e;
  }
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  GetSpriteFrameBitMaps(s, 0, &bitmap, &mask, &alpha);
  switch (q.attribute) {
    case attr::kWidth:
      out->Number(s->width);
      return 0;
    case attr::kHeight:
      out->Number(s->height);
      return 0;
    case attr::kTransparentColor:
      out->Number(static_cast<uint32_t>(s->transparentColour));
      return 0;
    case attr::kXPos:
      out->Number(entry != nullptr ? entry->x : 0);
      return 0;
    case attr::kYPos:
      out->Number(entry != nullptr ? entry->y : 0);
      return 0;
    case attr::kNumFrames:
      out->Number(s->frames);
      return 0;
    case attr::kCurFrame:
      out->Number(entry != nullptr ? entry->frame : 0);
      return 0;
    case attr::kHasMask:
      out->Number(mask != nullptr ? 1 : 0);
      return 0;
    case attr::kHasAlpha:
      out->Number(alpha != nullptr ? 1 : 0);
      return 0;
    case attr::kOnScreen:
      out->Number(entry != nullptr ? 1 : 0);
      return 0;
    default:
      return ERR_UNKNOWNATTR;
  }
}

const qvAttrKind kAttributeRows[] = {
    {kObjectSprite, qvAttrIdForm::kObject, SpriteAttribute},
    {0, qvAttrIdForm::kObject, nullptr},
};

template <typename T>
T** AllocArray(int32_t count) {
  return static_cast<T**>(std::calloc(static_cast<size_t>(std::max(count, 1)), sizeof(T*)));
}

// Frees the planes of n frames and their three arrays, any of which may be missing (a build that
// failed half-way).
void FreeFrameArrays(qvBitMap** bitmaps, qvPlane** masks, qvPlane** alphas, int32_t n) {
  for (int32_t i = 0; bitmaps != nullptr && i < n; ++i) {
    FreeBitMap(bitmaps[i]);
    if (masks != nullptr) FreeMaskOrAlpha(masks[i]);
    if (alphas != nullptr) FreeMaskOrAlpha(alphas[i]);
  }
  std::free(bitmaps);
  std::free(masks);
  std::free(alphas);
}

}  // namespace

qvObjectHeader** SpriteListHead() { return &gSprites; }

qvSpriteEntry* TargetSpriteEntries(const qvBGPic* target) {
  return target != nullptr ? static_cast<qvSpriteEntry*>(target->sprites) : nullptr;
}

int32_t OpenSprites() {
  int32_t code = RegisterObjectList(&gSprites);
  if (code == 0) code = RegisterAttributeKinds(kAttributeRows);
  return code != 0 ? code : AddClipRegionHolder(ForgetRegion);
}

void FreeAllSprites(qvScriptState* L) {
  ForEachTarget([](qvBGPic* target) { FreeTargetSpriteEntries(target); });
  while (gSprites != nullptr) {
    qvSprite* sprite = AsSprite(gSprites);
    gSprites = sprite->header.next;
    FreeSpriteRecord(L, sprite);
  }
  gIndex.clear();
  RemoveClipRegionHolder(ForgetRegion);
}

void FreeTargetSpriteEntries(qvBGPic* target) {
  qvSpriteEntry* e = *EntryHead(target);
  while (e != nullptr) {
    qvSpriteEntry* next = e->next;
    delete e;
    e = next;
  }
  target->sprites = nullptr;
}

int AddSprite(qvObjectId* id, bool automatic, int32_t width, int32_t height,
              uint32_t** pixelSources, qvBitMap** bitmaps, qvPlane** masks, qvPlane** alphas,
              int32_t frames, int32_t transparentColour, qvSprite** links, qvSprite** out) {
  auto* sprite = new (std::nothrow) qvSprite{};
  if (sprite == nullptr) return ERR_MEM;
  sprite->header.type = kObjectSprite;
  if (automatic) *id = {0, sprite};
  sprite->header.id = id->number;
  sprite->header.handle = id->handle;
  sprite->width = width;
  sprite->height = height;
  sprite->frames = frames;
  sprite->links = links;
  sprite->transparentColour = transparentColour;
  sprite->bitmaps = bitmaps;
  sprite->masks = masks;
  sprite->alphas = alphas;
  sprite->pixelSources = pixelSources;
  try {
    IndexAdd(sprite);
  } catch (const std::bad_alloc&) {
    delete sprite;
    return ERR_MEM;
  }
  AppendToList(&gSprites, &sprite->header);
  if (out != nullptr) *out = sprite;
  return 0;
}

int FindSprite(qvScriptState* L, qvObjectId id, qvSprite** out, int32_t flags) {
  *out = nullptr;
  // The index gives the first record of the id; a layer copy there (when they are skipped)
  // sends the search along the list.
  auto it = gIndex.find({id.number, id.handle});
  qvObjectHeader* start = nullptr;
  if (it != gIndex.end()) start = &it->second->header;
  for (qvObjectHeader* h = start; h != nullptr; h = h->next) {
    if (!SameId(h, id)) continue;
    qvSprite* sprite = AsSprite(h);
    if (sprite->layerCopy && !(flags & kFindSpriteLayerCopies)) continue;
    if ((flags & kFindSpriteModify) && sprite->locked) return ERR_LOCKEDOBJ;
    if ((flags & kFindSpriteModify) && !(flags & kFindSpriteNoCopy)) {
      qvObjectHeader* clone = nullptr;
      int code = DetachFromLayers(L, kObjectSprite, id, CloneForLayers, sprite, &clone);
      if (code != 0) return code;
      if (clone != nullptr) AsSprite(clone)->layerCopy = 1;
    }
    *out = sprite;
    return 0;
  }
  return ObjectNotFound(id, ERR_FINDSPRITE);
}

int FindSpriteEntry(qvObjectId id, qvSpriteEntry** out) {
  *out = nullptr;
  for (qvSpriteEntry* e = TargetSpriteEntries(OutputTarget()); e != nullptr; e = e->next) {
    if (e->id.number == id.number && e->id.handle == id.handle) {
      *out = e;
      return 0;
    }
  }
  if (id.handle != nullptr) return ERR_SPRITEONSCREEN2;
  SetErrorNumber(id.number);
  return ERR_SPRITEONSCREEN;
}

int RemoveSpriteEntry(qvScriptState* L, const qvSprite* sprite) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr || d->bgpic == nullptr) return 0;
  for (qvSpriteEntry** link = EntryHead(d->bgpic); *link != nullptr; link = &(*link)->next) {
    qvSpriteEntry* e = *link;
    if (e->sprite != sprite) continue;
    *link = e->next;
    RefreshLayerRect(L, e->x, e->y, e->width, e->height);
    delete e;
    return 1;
  }
  return 0;
}

int DeleteSprite(qvScriptState* L, qvObjectId id, qvSprite* sprite) {
  (void)id;
  UnlinkFromList(&gSprites, &sprite->header);
  IndexRemove(sprite);
  // Entries on every target, not only the current one: a sprite freed while another display
  // shows it must leave no entry behind that still points at it.
  RemoveEntriesOf(L, sprite);
  if (sprite->links == nullptr) {
    // The sprites that show its frames go with it.
    qvObjectHeader* h = gSprites;
    while (h != nullptr) {
      qvSprite* other = AsSprite(h);
      h = h->next;
      if (LinksTo(other, sprite)) {
        qvObjectId otherId{other->header.id, other->header.handle};
        DeleteSprite(L, otherId, other);
        h = gSprites;  // the walk starts again: the list changed
      }
    }
  }
  FreeSpriteRecord(L, sprite);
  return 0;
}

int FreeSpriteById(qvScriptState* L, qvObjectId id, bool mustExist) {
  qvSprite* sprite = nullptr;
  int code = FindSprite(L, id, &sprite, kFindSpriteModify);
  if (code != 0) return mustExist || code == ERR_LOCKEDOBJ ? code : 0;
  return DeleteSprite(L, id, sprite);
}

int CheckSpriteModifiable(const qvSprite* sprite) {
  for (qvSpriteEntry* e = TargetSpriteEntries(OutputTarget()); e != nullptr; e = e->next) {
    if (e->sprite == sprite) return ERR_MODIFYSPRITE;
  }
  if (sprite->links != nullptr) return ERR_MODIFYSPRITE2;
  for (qvObjectHeader* h = gSprites; h != nullptr; h = h->next) {
    if (LinksTo(AsSprite(h), sprite)) return ERR_MODIFYSPRITE2;
  }
  return 0;
}

void GetSpriteFrameBitMaps(const qvSprite* sprite, int32_t frame, qvBitMap** bitmap, qvPlane** mask,
                           qvPlane** alpha) {
  if (frame < 0) return;
  if (sprite->links != nullptr) {
    for (qvSprite** l = sprite->links; *l != nullptr; ++l) {
      if (frame < (*l)->frames) {
        GetSpriteFrameBitMaps(*l, frame, bitmap, mask, alpha);
        return;
      }
      frame -= (*l)->frames;
    }
    return;
  }
  if (frame >= sprite->frames) return;
  *bitmap = sprite->bitmaps != nullptr ? sprite->bitmaps[frame] : nullptr;
  *mask = sprite->masks != nullptr ? sprite->masks[frame] : nullptr;
  *alpha = sprite->alphas != nullptr ? sprite->alphas[frame] : nullptr;
}

int ResolvePreloadedSprites() {
  for (qvObjectHeader* h = gSprites; h != nullptr; h = h->next) {
    qvSprite* sprite = AsSprite(h);
    if (sprite->pixelSources == nullptr || sprite->links != nullptr) continue;
    if (sprite->bitmaps == nullptr) sprite->bitmaps = AllocArray<qvBitMap>(sprite->frames);
    if (sprite->masks == nullptr) sprite->masks = AllocArray<qvPlane>(sprite->frames);
    if (sprite->alphas == nullptr) sprite->alphas = AllocArray<qvPlane>(sprite->frames);
    if (sprite->bitmaps == nullptr || sprite->masks == nullptr || sprite->alphas == nullptr) {
      return ERR_MEM;
    }
    for (int32_t i = 0; i < sprite->frames; ++i) {
      uint32_t* source = sprite->pixelSources[i];
      if (source == nullptr) continue;
      qvBitMap* bitmap = nullptr;
      qvPlane* mask = nullptr;
      int code = AllocBitMapFromARGB(source, sprite->transparentColour, sprite->width,
                                     sprite->height, sprite->width, &bitmap, &mask);
      if (code != 0) return code;
      FreeBitMap(sprite->bitmaps[i]);
      FreeMaskOrAlpha(sprite->masks[i]);
      sprite->bitmaps[i] = bitmap;
      sprite->masks[i] = mask;
      std::free(source);
      sprite->pixelSources[i] = nullptr;
    }
    std::free(sprite->pixelSources);
    sprite->pixelSources = nullptr;
  }
  return 0;
}

void RefreshLayerRect(qvScriptState* L, int32_t x, int32_t y, int32_t width, int32_t height) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr || d->bgpic == nullptr) return;
  const qvBGPic* bgpic = d->bgpic;
  int64_t x1 = std::max<int64_t>(x, 0), y1 = std::max<int64_t>(y, 0);
  int64_t x2 = std::min<int64_t>(int64_t{x} + width, bgpic->width);
  int64_t y2 = std::min<int64_t>(int64_t{y} + height, bgpic->height);
  if (x1 >= x2 || y1 >= y2) return;
  auto rx = static_cast<int32_t>(x1), ry = static_cast<int32_t>(y1);
  auto rw = static_cast<int32_t>(x2 - x1), rh = static_cast<int32_t>(y2 - y1);
  const qvBitMap* from = IsScaledDisplay(d) ? d->windowBitmap : d->displayBitmap;
  if (HasCompositor()) {
    RedrawLayers(L, d, d->bgpic, d->windowBitmap, rx, ry, rw, rh, 0, kRecomposeAll);
    from = d->windowBitmap;
  }
  RefreshDisplayRect(from, rx, ry, d, rx, ry, rw, rh, kRefreshStretch);
}

int DisplaySpriteCore(qvScriptState* L, qvObjectId id, int32_t x, int32_t y, int32_t frame) {
  qvSprite* sprite = nullptr;
  int code = FindSprite(L, id, &sprite, 0);
  if (code != 0) return code;
  if (frame < 0 || frame > sprite->frames) return ERR_ANIMFRAME;
  qvBGPic* target = OutputTarget();
  if (target == nullptr) return ERR_WRONGUSAGE;
  x = ResolveCoordX(x, sprite->width, target->width, 0.0);
  y = ResolveCoordY(y, sprite->height, target->height, 0.0);
  qvSpriteEntry* entry = nullptr;
  for (qvSpriteEntry* e = TargetSpriteEntries(target); e != nullptr; e = e->next) {
    if (e->sprite == sprite) {
      entry = e;
      break;
    }
  }
  if (entry != nullptr) {
    int32_t next = frame != 0 ? frame : entry->frame % std::max(sprite->frames, 1) + 1;
    if (next == entry->frame && x == entry->x && y == entry->y) return 0;
    int32_t ox = entry->x, oy = entry->y;
    entry->x = x;
    entry->y = y;
    entry->frame = next;
    int64_t w = sprite->width, h = sprite->height;
    // Inclusive edges: rectangles that only touch are refreshed as one.
    bool overlap = int64_t{x} <= ox + w && int64_t{ox} <= x + w && int64_t{y} <= oy + h &&
                   int64_t{oy} <= y + h;
    if (overlap) {
      int64_t ux = std::min(x, ox), uy = std::min(y, oy);
      int64_t uw = std::max<int64_t>(x, ox) + w - ux, uh = std::max<int64_t>(y, oy) + h - uy;
      RefreshLayerRect(L, static_cast<int32_t>(ux), static_cast<int32_t>(uy),
                       static_cast<int32_t>(std::min<int64_t>(uw, INT32_MAX)),
                       static_cast<int32_t>(std::min<int64_t>(uh, INT32_MAX)));
    } else {
      RefreshLayerRect(L, ox, oy, sprite->width, sprite->height);
      RefreshLayerRect(L, x, y, sprite->width, sprite->height);
    }
    return 0;
  }
  auto* e = new (std::nothrow) qvSpriteEntry{};
  if (e == nullptr) return ERR_MEM;
  e->id = id;
  e->x = x;
  e->y = y;
  e->width = sprite->width;
  e->height = sprite->height;
  e->frame = frame != 0 ? frame : 1;
  e->sprite = sprite;
  e->clipRegion = target->clipRegion;
  qvSpriteEntry** tail = EntryHead(target);
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = e;
  RefreshLayerRect(L, x, y, sprite->width, sprite->height);
  return 0;
}

// ---- what the commands do below the script ----

int CheckSpriteOutput() {
  const qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  int code = CheckOutputIsDisplay(d);
  if (code != 0) return code;
  const qvBGPic* target = OutputTarget();
  if (d->layersOn || (target != nullptr && CountLayers(target) > 0)) return ERR_LAYERSOFF;
  return 0;
}

int RemoveSpriteCore(qvScriptState* L, qvObjectId id) {
  qvSprite* sprite = nullptr;
  int code = FindSprite(L, id, &sprite, kFindSpriteModify);
  if (code != 0) return code;
  if (RemoveSpriteEntry(L, sprite) == 1) return 0;
  if (id.handle != nullptr) return ERR_SPRITEONSCREEN2;
  SetErrorNumber(id.number);
  return ERR_SPRITEONSCREEN;
}

int RemoveAllSprites(qvScriptState* L, bool keepPicture) {
  qvDisplay* d = CurrentDisplay();
  qvBGPic* target = OutputTarget();
  if (d == nullptr || target == nullptr) return ERR_WRONGUSAGE;
  for (qvSpriteEntry* e = TargetSpriteEntries(target); e != nullptr; e = e->next) {
    if (e->sprite->locked) return ERR_LOCKEDOBJ;
  }
  if (TargetSpriteEntries(target) == nullptr) return 0;
  if (keepPicture) {
    // The sprites become part of the picture beneath them: the whole background is composed
    // once and taken into the display bitmap.
    int32_t w = target->width, h = target->height;
    if (HasCompositor()) {
      RedrawLayers(L, d, target, d->windowBitmap, 0, 0, w, h, 0, kRecomposeAll);
      BltBitMap(d->windowBitmap, 0, 0, d->displayBitmap, 0, 0, w, h);
    }
    FreeTargetSpriteEntries(target);
    RefreshLayerRect(L, 0, 0, w, h);
    return 0;
  }
  qvSpriteEntry* e = TargetSpriteEntries(target);
  target->sprites = nullptr;
  while (e != nullptr) {
    qvSpriteEntry* next = e->next;
    RefreshLayerRect(L, e->x, e->y, e->width, e->height);
    delete e;
    e = next;
  }
  return 0;
}

int CopySpriteRecord(qvScriptState* L, const qvSprite* source, qvObjectId* id, bool automatic,
                     qvSprite** out) {
  int32_t n = source->frames;
  qvSprite** links = nullptr;
  qvBitMap** bitmaps = nullptr;
  qvPlane** masks = nullptr;
  qvPlane** alphas = nullptr;
  auto freeAll = [&] {
    FreeFrameArrays(bitmaps, masks, alphas, n);
    std::free(links);
  };
  if (source->links != nullptr) {
    int32_t count = 0;
    while (source->links[count] != nullptr) ++count;
    links = AllocArray<qvSprite>(count + 1);
    if (links == nullptr) return ERR_MEM;
    std::copy(source->links, source->links + count, links);
  } else {
    bitmaps = AllocArray<qvBitMap>(n);
    masks = AllocArray<qvPlane>(n);
    alphas = AllocArray<qvPlane>(n);
    if (bitmaps == nullptr || masks == nullptr || alphas == nullptr) {
      freeAll();
      return ERR_MEM;
    }
    for (int32_t i = 0; i < n; ++i) {
      qvBitMap* b = nullptr;
      qvPlane* m = nullptr;
      qvPlane* a = nullptr;
      GetSpriteFrameBitMaps(source, i, &b, &m, &a);
      if (b == nullptr) continue;
      int code = CopyBitMapRegion(b, m, a, 0, 0, source->width, source->height, false, &bitmaps[i],
                                  &masks[i], &alphas[i]);
      if (code != 0) {
        freeAll();
        return code;
      }
    }
  }
  qvObjectDataItem* data = nullptr;
  int code = CopyObjectDataList(L, source->header.data, &data);
  qvSprite* sprite = nullptr;
  if (code == 0) {
    code = AddSprite(id, automatic, source->width, source->height, nullptr, bitmaps, masks, alphas,
                     n, source->transparentColour, links, &sprite);
  }
  if (code != 0) {
    FreeRefList(L, data);
    freeAll();
    return code;
  }
  sprite->header.data = data;
  if (out != nullptr) *out = sprite;
  return 0;
}

int ScaleSpriteCore(qvScriptState* L, qvSprite* sprite, int32_t width, int32_t height,
                    bool smooth) {
  (void)L;
  int code = CheckSpriteModifiable(sprite);
  if (code != 0) return code;
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  if (width == sprite->width && height == sprite->height) return 0;
  if (sprite->bitmaps == nullptr) return ERR_WRONGUSAGE;  // frames not turned into planes yet
  int32_t n = sprite->frames;
  qvBitMap** bitmaps = AllocArray<qvBitMap>(n);
  qvPlane** masks = AllocArray<qvPlane>(n);
  qvPlane** alphas = AllocArray<qvPlane>(n);
  auto freeNew = [&] { FreeFrameArrays(bitmaps, masks, alphas, n); };
  if (bitmaps == nullptr || masks == nullptr || alphas == nullptr) {
    freeNew();
    return ERR_MEM;
  }
  for (int32_t i = 0; i < n; ++i) {
    const qvBitMap* b = sprite->bitmaps[i];
    if (b == nullptr) continue;
    code = ScaleBitMap(b, sprite->masks[i], sprite->alphas[i], 0, 0, nullptr, sprite->width,
                       sprite->height, width, height, smooth, &bitmaps[i], &masks[i], &alphas[i]);
    if (code != 0) {
      freeNew();
      return code;
    }
  }
  for (int32_t i = 0; i < n; ++i) {
    FreeBitMap(sprite->bitmaps[i]);
    FreeMaskOrAlpha(sprite->masks[i]);
    FreeMaskOrAlpha(sprite->alphas[i]);
  }
  std::free(sprite->bitmaps);
  std::free(sprite->masks);
  std::free(sprite->alphas);
  sprite->bitmaps = bitmaps;
  sprite->masks = masks;
  sprite->alphas = alphas;
  sprite->width = width;
  sprite->height = height;
  return 0;
}

int FlipSpriteCore(qvSprite* sprite, bool horizontal) {
  int code = CheckSpriteModifiable(sprite);
  if (code != 0) return code;
  if (sprite->bitmaps == nullptr) return ERR_WRONGUSAGE;  // frames not turned into planes yet
  for (int32_t i = 0; i < sprite->frames; ++i) {
    code = FlipBitMap(sprite->bitmaps[i], sprite->masks[i], sprite->alphas[i], sprite->width,
                      sprite->height, horizontal);
    if (code != 0) return code;
  }
  return 0;
}

}  // namespace qv
