// Moving objects (see mover.h).
#include "display/mover.h"

#include <algorithm>
#include <new>

#include "base/errors.h"
#include "base/support.h"
#include "core/events.h"
#include "core/layer_system.h"
#include "display/async_draw.h"
#include "display/display.h"
#include "display/sprites.h"
#include "platform/time.h"

namespace qv {

namespace {

int64_t NowUs() { return PlatformClock()->NowMicros(); }

// The output-device refusals, in their order; a sprite lives only on a display without layers.
int CheckMoveOutput(int32_t kind) {
  if (kind == kObjectSprite) return CheckSpriteOutput();
  const qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  return CheckOutputIsDisplay(d);
}

void LockObjects(qvScriptState* L, qvMover* m, qvBrush* brush, qvSprite* sprite) {
  if (brush != nullptr) {
    ++brush->locked;
    m->lockedIds.push_back(m->id);
    return;
  }
  // A layer is kept by the async draw's claim on it (RemoveLayer refuses it), not by a counter.
  if (sprite == nullptr) return;
  ++sprite->locked;
  m->lockedIds.push_back(m->id);
  if (sprite->links == nullptr) return;
  // The frames it shows are the linked sprites': they stay as they are until the move ends.
  for (qvSprite** link = sprite->links; *link != nullptr; ++link) {
    ++(*link)->locked;
    m->lockedIds.push_back({(*link)->header.id, (*link)->header.handle});
  }
  (void)L;
}

// Lowers the counters the move raised, finding each object again: a teardown may have freed
// what the move held.
void UnlockObjects(qvScriptState* L, qvMover* m) {
  for (const qvObjectId& id : m->lockedIds) {
    if (m->kind == kObjectBrush) {
      qvBrush* brush = nullptr;
      if (FindBrush(L, id, &brush, kFindLayerCopies | kFindHardware) == 0 && brush->locked > 0) {
        --brush->locked;
      }
    } else {
      qvSprite* sprite = nullptr;
      if (FindSprite(L, id, &sprite, kFindSpriteLayerCopies) == 0 && sprite->locked > 0) {
        --sprite->locked;
      }
    }
  }
  m->lockedIds.clear();
}

void FreeMoverRecord(qvScriptState* L, qvMover* m) {
  if (m == nullptr) return;
  FreeBitMap(m->clean);
  FreeBitMap(m->work);
  UnlockObjects(L, m);
  delete m;
}

// Takes the display's picture as the clean background, again whenever the target's size changed
// since: the saved pictures are made anew at the new size.
int TakeBackground(qvMover* m, const qvDisplay* d) {
  const qvBitMap* picture = d->displayBitmap;
  if (picture == nullptr) return ERR_WRONGUSAGE;
  if (m->clean != nullptr && m->clean->width == picture->width &&
      m->clean->height == picture->height) {
    return 0;
  }
  FreeBitMap(m->clean);
  FreeBitMap(m->work);
  m->clean = AllocBitMap(picture->width, picture->height);
  m->work = AllocBitMap(picture->width, picture->height);
  if (m->clean == nullptr || m->work == nullptr) return ERR_MEM;
  BltBitMap(picture, 0, 0, m->clean, 0, 0, picture->width, picture->height);
  // What was drawn before the new size is gone with the old picture.
  m->drawn = false;
  return 0;
}

// The union of the old and the new rectangle, cut to the picture; false when nothing is left.
bool UnionRect(const qvMover* m, int32_t x, int32_t y, const qvBitMap* picture, int32_t* ux,
               int32_t* uy, int32_t* uw, int32_t* uh) {
  int64_t x1 = x, y1 = y, x2 = int64_t{x} + m->width, y2 = int64_t{y} + m->height;
  if (m->drawn) {
    x1 = std::min<int64_t>(x1, m->x);
    y1 = std::min<int64_t>(y1, m->y);
    x2 = std::max<int64_t>(x2, int64_t{m->x} + m->width);
    y2 = std::max<int64_t>(y2, int64_t{m->y} + m->height);
  }
  x1 = std::max<int64_t>(x1, 0);
  y1 = std::max<int64_t>(y1, 0);
  x2 = std::min<int64_t>(x2, picture->width);
  y2 = std::min<int64_t>(y2, picture->height);
  if (x2 <= x1 || y2 <= y1) return false;
  *ux = static_cast<int32_t>(x1);
  *uy = static_cast<int32_t>(y1);
  *uw = static_cast<int32_t>(x2 - x1);
  *uh = static_cast<int32_t>(y2 - y1);
  return true;
}

// The brush at (x, y): the old rectangle comes back from the clean background, the brush goes
// over it in the work picture, and the union of both rectangles goes to the display's picture and
// its window in one blit.
int DrawBrushAt(qvScriptState* L, qvMover* m, int32_t x, int32_t y) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  qvBrush* brush = nullptr;
  int code = FindBrush(L, m->id, &brush, kFindHardware);
  if (code != 0) return code;
  code = TakeBackground(m, d);
  if (code != 0) return code;
  int32_t ux, uy, uw, uh;
  if (!UnionRect(m, x, y, m->clean, &ux, &uy, &uw, &uh)) {
    m->x = x;
    m->y = y;
    m->drawn = true;
    return 0;
  }
  BltBitMap(m->clean, ux, uy, m->work, ux, uy, uw, uh);
  const qvBGPic* target = OutputTarget();
  code = SafeBlt(L, brush->bitmap, 0, 0, m->work, x, y, brush->width, brush->height, brush->width,
                 brush->height, m->work->width, m->work->height,
                 kBltKeepPlanes | kBltIgnoreSprites | kBltNoRefresh, brush->mask, brush->alpha,
                 target != nullptr ? target->clipRegion : nullptr);
  if (code != 0) return code;
  code = SafeBlt(L, m->work, ux, uy, nullptr, ux, uy, uw, uh, m->work->width, m->work->height,
                 m->work->width, m->work->height, kBltToDisplayBitmap | kBltNoClip | kBltKeepPlanes,
                 nullptr, nullptr, nullptr);
  if (code != 0) return code;
  m->x = x;
  m->y = y;
  m->drawn = true;
  return 0;
}

int DrawAt(qvScriptState* L, qvMover* m, int32_t x, int32_t y) {
  if (m->layer != nullptr) {
    MoveLayerTo(L, m->layerTarget, m->layer, x, y);
    m->x = x;
    m->y = y;
    m->drawn = true;
    return 0;
  }
  if (m->kind == kObjectSprite) {
    int code = DisplaySpriteCore(L, m->id, x, y, m->frame);
    if (code == 0) {
      m->x = x;
      m->y = y;
      m->drawn = true;
    }
    return code;
  }
  return DrawBrushAt(L, m, x, y);
}

void AdvanceFrame(qvMover* m) {
  if (m->frames < 2) return;
  int64_t now = NowUs();
  if (now < m->nextFrameUs) return;
  m->frame = m->frame % m->frames + 1;
  m->nextFrameUs = now + int64_t{m->frameDelayMs} * 1000;
}

int32_t StepMover(qvScriptState* L, qvMover* m, int32_t* finished) {
  if (m->steps.finished && m->drawn) {
    *finished = 1;
    return 0;
  }
  bool done = NextMoveStep(&m->steps);
  AdvanceFrame(m);
  int code = DrawAt(L, m, MovePosition(m->steps.x), MovePosition(m->steps.y));
  *finished = done ? 1 : 0;
  return code;
}

// ---- the asynchronous drawing object's routines ----

int32_t AsyncStep(qvScriptState* L, void* data, int32_t* finished) {
  return StepMover(L, static_cast<qvMover*>(data), finished);
}

// FinishAsyncDraw: the object goes straight to the end.
void AsyncFinish(qvScriptState* L, void* data, int32_t* finished) {
  auto* m = static_cast<qvMover*>(data);
  if (!m->steps.finished || !m->drawn) {
    m->steps.x = m->steps.endX;
    m->steps.y = m->steps.endY;
    m->steps.finished = true;
    DrawAt(L, m, MovePosition(m->steps.x), MovePosition(m->steps.y));
  }
  *finished = 1;
}

void AsyncRelease(qvScriptState* L, void* data, int32_t) {
  FreeMoverRecord(L, static_cast<qvMover*>(data));
}

intptr_t AsyncMessage(int32_t message, intptr_t* argument, void* data) {
  auto* m = static_cast<qvMover*>(data);
  if (message == kAsyncDrawObjectInUse && argument != nullptr) {
    // The layer it moves may not go while it moves.
    *argument = m->layer != nullptr ? reinterpret_cast<intptr_t>(m->layer)
                                    : reinterpret_cast<intptr_t>(m->id.handle);
  }
  return 0;
}

void FreeContinuation(qvScriptState* L, qvMover* m) { FreeMoverRecord(L, m); }

// Finds the object, resolves the points and sets the steps up; *out is null when there is
// nothing to move. The object is locked from here until the record is freed.
int PrepareMove(qvScriptState* L, const qvMoveRequest& r, qvMover** out) {
  *out = nullptr;
  int32_t speed = MoveSpeedPixels(r.speed);
  if (speed < 1) return ERR_WRONGUSAGE;
  const qvDisplay* d = CurrentDisplay();
  const qvBGPic* target = OutputTarget();
  if (d == nullptr || target == nullptr) return ERR_WRONGUSAGE;

  qvBrush* brush = nullptr;
  qvSprite* sprite = nullptr;
  qvLayer* layer = nullptr;
  int32_t width = 0, height = 0, frames = 1;
  switch (r.kind) {
    case kObjectBrush: {
      int code = FindBrush(L, r.id, &brush, kFindHardware);
      if (code != 0) return code;
      width = brush->width;
      height = brush->height;
      break;
    }
    case kObjectSprite: {
      int code = FindSprite(L, r.id, &sprite, 0);
      if (code != 0) return code;
      width = sprite->width;
      height = sprite->height;
      frames = std::max(sprite->frames, 1);
      break;
    }
    case kObjectAnim:
      return ObjectNotFound(r.id, ERR_FINDANIM);
    case kObjectTextObject:
      return ObjectNotFound(r.id, ERR_FINDTEXTOBJECT);
    case kObjectLayer: {
      if (!d->layersOn) return ERR_NOLAYERS;
      int32_t position = r.id.number;
      if (r.layerName != nullptr) {
        position = FindLayerByName(r.layerName);
        if (position == 0) {
          SetErrorString(r.layerName);
          return ERR_FINDLAYER;
        }
      }
      layer = LayerAt(target, position);
      if (layer == nullptr) return ERR_LAYERRANGE;
      int32_t x = 0, y = 0;
      LayerPlace(layer, &x, &y, &width, &height);
      break;
    }
    default:
      return ERR_WRONGUSAGE;
  }

  qvMoveSetup setup;
  setup.x1 = ResolveCoordX(r.x1, width, 0, 0.0);
  setup.y1 = ResolveCoordY(r.y1, height, 0, 0.0);
  setup.x2 = ResolveCoordX(r.x2, width, 0, 0.0);
  setup.y2 = ResolveCoordY(r.y2, height, 0, 0.0);
  setup.width = width;
  setup.height = height;
  setup.speed = speed;
  setup.effect = r.effect;
  setup.areaHeight = target->height;

  auto* m = new (std::nothrow) qvMover{};
  if (m == nullptr) return ERR_MEM;
  if (!BeginMoveSteps(setup, &m->steps)) {
    delete m;
    return 0;
  }
  if (brush != nullptr && d->layersOn) {
    // The brush is shown at the start as a new top layer, which the steps then move.
    qvObjectLayerArgs a;
    a.kind = kObjectBrush;
    a.id = r.id;
    a.x = setup.x1;
    a.y = setup.y1;
    a.width = width;
    a.height = height;
    a.flags = kLayerCreateDisplayScale;
    int code = AddObjectLayer(L, a);
    if (code != 0) {
      delete m;
      return code;
    }
    layer = LayerAt(target, CountLayers(target));
  }
  m->layer = layer;
  m->layerTarget = const_cast<qvBGPic*>(target);
  m->kind = r.kind;
  m->id = r.id;
  m->width = width;
  m->height = height;
  m->frames = frames;
  m->frame = 1;
  m->x = setup.x1;
  m->y = setup.y1;
  if (sprite != nullptr) {
    // A sprite on screen goes on from the frame it shows.
    for (const qvSpriteEntry* e = TargetSpriteEntries(target); e != nullptr; e = e->next) {
      if (e->sprite == sprite) m->frame = e->frame;
    }
  }
  m->frameDelayMs = MoveFrameDelayMs(r.animSpeed);
  m->nextFrameUs = NowUs() + int64_t{m->frameDelayMs} * 1000;
  m->async = r.async;
  m->step = StepMover;
  m->free = FreeContinuation;
  LockObjects(L, m, brush, sprite);
  *out = m;
  return 0;
}

}  // namespace

int32_t MoveSpeedPixels(int32_t speed) {
  switch (speed) {
    case -3:
      return 5;
    case -2:
      return 15;
    case -1:
      return 10;
    default:
      return speed;
  }
}

int32_t MoveFrameDelayMs(int32_t animSpeed) {
  switch (animSpeed) {
    case -4:
      return 60;
    case -3:
      return 8 * 20;
    case -2:
      return 0;
    case -1:
      return 3 * 20;
    default:
      return animSpeed < 0
                 ? 0
                 : static_cast<int32_t>(std::min<int64_t>(int64_t{animSpeed} * 20, INT32_MAX));
  }
}

int MoveObjectCore(qvScriptState* L, const qvMoveRequest& request, qvObjectId* handle) {
  int code = CheckMoveOutput(request.kind);
  if (code != 0) return code;
  qvMover* m = nullptr;
  code = PrepareMove(L, request, &m);
  if (code != 0 || m == nullptr) return code;

  if (request.async) {
    qvAsyncDraw* object = nullptr;
    code = AddAsyncDrawObject(kAsyncDrawMoveObject, AsyncStep, 0, AsyncFinish, AsyncRelease,
                              AsyncMessage, m, &object);
    if (code != 0) {
      FreeMoverRecord(L, m);
      return code;
    }
    if (handle != nullptr) *handle = {0, object};
    return 0;
  }

  // A sprite is shown at the start first; a brush appears with the first step.
  if (m->kind == kObjectSprite) code = DrawAt(L, m, m->x, m->y);
  int32_t finished = 0;
  while (code == 0 && !finished) {
    code = CheckBreak(L, 0, nullptr);
    if (code == 0) code = StepMover(L, m, &finished);
    if (code == 0) UpdateCurrentDisplay(L);
  }
  FreeMoverRecord(L, m);
  return code;
}

int BeginMoveContinuation(qvScriptState* L, const qvMoveRequest& request, qvMover** out) {
  *out = nullptr;
  qvMover* m = nullptr;
  int code = PrepareMove(L, request, &m);
  if (code != 0) return code;
  if (m != nullptr) m->continuation = true;
  *out = m;
  return 0;
}

}  // namespace qv
