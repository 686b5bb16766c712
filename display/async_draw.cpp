// Asynchronous drawing objects: the list, the frame driver and the object's end (completed,
// cancelled, dropped with its display's picture).
#include "display/async_draw.h"

#include <new>

#include "base/errors.h"
#include "core/attribute_table.h"
#include "display/displays.h"
#include "display/internal.h"
#include "display/output.h"

namespace qv {

namespace {

qvObjectHeader* gAsyncDraws = nullptr;

intptr_t Ask(const qvAsyncDraw* object, int32_t message, intptr_t argument = 0) {
  if (object->message == nullptr) return 0;
  return object->message(message, &argument, object->data);
}

// Unlinks the object first, so that an owner's release finds the list without it.
void FreeObject(qvScriptState* L, qvAsyncDraw* object, int32_t finished) {
  UnlinkFromList(&gAsyncDraws, &object->header);
  if (object->release != nullptr) object->release(L, object->data, finished);
  FreeObjectData(L, &object->header);
  delete object;
}

// The drawing stands at its end: the owner completes it and the object goes.
void Complete(qvScriptState* L, qvAsyncDraw* object) {
  if (object->finish != nullptr) object->finish(L, object->data, &object->finished);
  FreeObject(L, object, 1);
}

// The output must be the display itself (or one of its BGPics as layer target): drawing a frame
// into a brush, an anim frame, the double buffer, a mask or an alpha channel is refused.
int CheckDisplayOutput(const qvDisplay* d) {
  const qvBGPic* target = OutputTarget();
  switch (d->outputType) {
    case kOutputPicture:
      if (target != nullptr && target == d->selection) {
        return target->objectKind == kObjectAnim ? ERR_SELECTANIM : ERR_SELECTBRUSH;
      }
      return ERR_ENDDOUBLEBUFFER;
    case kOutputMask:
      return ERR_SELECTMASK;
    case kOutputAlpha:
      return ERR_SELECTALPHACHANNEL;
    default:
      return 0;
  }
}

// Draws the next frame; on a BGPic output the owner is told that a frame is being recorded.
int DrawNext(qvScriptState* L, qvDisplay* d, qvAsyncDraw* object) {
  bool bgpicOutput = d->outputType == kOutputBGPic;
  if (bgpicOutput) Ask(object, kAsyncDrawRecording, 1);
  int code = object->drawNext != nullptr ? object->drawNext(L, object->data, &object->finished) : 0;
  if (bgpicOutput) Ask(object, kAsyncDrawRecording, 0);
  return code;
}

int32_t AsyncDrawAttribute(const qvAttrQuery& q, qvAttrAnswer* out) {
  qvAsyncDraw* object = nullptr;
  int code = FindAsyncDraw(q.id, &object);
  if (code != 0) return code;
  switch (q.attribute) {
    case attr::kType:
      out->Number(object->kind);
      return 0;
    case attr::kNumFrames:
      out->Number(static_cast<double>(Ask(object, kAsyncDrawFrameCount)));
      return 0;
    case attr::kCurFrame:
      out->Number(static_cast<double>(Ask(object, kAsyncDrawCurrentFrame)));
      return 0;
    default:
      return ERR_UNKNOWNATTR;
  }
}

const qvAttrKind kRows[] = {
    {kObjectAsyncDraw, qvAttrIdForm::kObject, AsyncDrawAttribute},
    {0, qvAttrIdForm::kObject, nullptr},
};

}  // namespace

int32_t OpenAsyncDraws() {
  int32_t code = RegisterObjectList(&gAsyncDraws);
  return code != 0 ? code : RegisterAttributeKinds(kRows);
}

qvObjectHeader** AsyncDrawListHead() { return &gAsyncDraws; }

int AddAsyncDrawObject(int32_t kind, qvAsyncDrawStep drawNext, intptr_t ownerWord,
                       qvAsyncDrawFinish finish, qvAsyncDrawRelease release,
                       qvAsyncDrawMessage message, void* data, qvAsyncDraw** out) {
  *out = nullptr;
  auto* object = new (std::nothrow) qvAsyncDraw{};
  if (object == nullptr) return ERR_MEM;
  object->display = CurrentDisplay();
  object->kind = kind;
  object->drawNext = drawNext;
  object->ownerWord = ownerWord;
  object->finish = finish;
  object->release = release;
  object->message = message;
  object->data = data;
  AddObject(&gAsyncDraws, &object->header, kObjectAsyncDraw, 0, true);
  *out = object;
  return 0;
}

int FindAsyncDraw(qvObjectId id, qvAsyncDraw** out) {
  return FindObjectAs(kObjectAsyncDraw, id, ERR_FINDASYNCDRAW, out);
}

bool HasAsyncDrawObject(const qvDisplay* display) {
  for (qvObjectHeader* h = gAsyncDraws; h != nullptr; h = h->next) {
    if (reinterpret_cast<qvAsyncDraw*>(h)->display == display) return true;
  }
  return false;
}

intptr_t IsAsyncDrawBusy() {
  for (qvObjectHeader* h = gAsyncDraws; h != nullptr; h = h->next) {
    auto* object = reinterpret_cast<qvAsyncDraw*>(h);
    if (object->kind != kAsyncDrawFx) continue;
    if (intptr_t busy = Ask(object, kAsyncDrawBusy); busy != 0) return busy;
  }
  return 0;
}

void NotifyAsyncDrawObjects(int32_t message, intptr_t argument) {
  for (qvObjectHeader* h = gAsyncDraws; h != nullptr; h = h->next) {
    Ask(reinterpret_cast<qvAsyncDraw*>(h), message, argument);
  }
}

bool IsUsedByAsyncDraw(const void* object) {
  if (object == nullptr) return false;
  for (qvObjectHeader* h = gAsyncDraws; h != nullptr; h = h->next) {
    auto* draw = reinterpret_cast<qvAsyncDraw*>(h);
    if (draw->message == nullptr) continue;
    intptr_t used = 0;
    draw->message(kAsyncDrawObjectInUse, &used, draw->data);
    if (used == reinterpret_cast<intptr_t>(object)) return true;
  }
  return false;
}

void FreeAllAsyncDraws(qvScriptState* L) {
  while (gAsyncDraws != nullptr) FreeObject(L, reinterpret_cast<qvAsyncDraw*>(gAsyncDraws), 0);
}

int AsyncDrawFrame(qvScriptState* L, qvObjectId id, std::optional<int32_t> frame, bool* finished) {
  *finished = false;
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  int code = CheckDisplayOutput(d);
  if (code != 0) return code;
  qvAsyncDraw* object = nullptr;
  code = FindAsyncDraw(id, &object);
  if (code != 0) return code;
  if (object->display != d) return ERR_ADFWRONGDISP;

  if (!frame.has_value()) {
    if (object->finished) {
      Complete(L, object);
      *finished = true;
      return 0;
    }
    return DrawNext(L, d, object);
  }

  // A chosen frame: only anims and layers know their frames by number.
  if (!d->layersOn) return ERR_NOLAYERS;
  intptr_t wanted = *frame < 1 ? 0 : *frame;
  intptr_t current = Ask(object, kAsyncDrawCurrentFrame);
  intptr_t count = Ask(object, kAsyncDrawFrameCount);
  if (object->finished && (wanted == 0 || wanted > count)) {
    Complete(L, object);
    *finished = true;
    return 0;
  }
  if (wanted > count) return ERR_ANIMFRAME;
  if (wanted == current) return 0;
  if (wanted != 0 && wanted != current + 1) {
    Ask(object, kAsyncDrawGoToFrame, wanted);
    // On a BGPic output the object's layer already holds the frame it went to; the display
    // shows it when the BGPic is shown.
    if (d->outputType != kOutputBGPic) Ask(object, kAsyncDrawDrawCurrent);
    object->finished = wanted == count ? 1 : 0;
    return 0;
  }
  return DrawNext(L, d, object);
}

int CancelAsyncDraw(qvScriptState* L, qvObjectId id) {
  qvAsyncDraw* object = nullptr;
  int code = FindAsyncDraw(id, &object);
  if (code != 0) return code;
  FreeObject(L, object, 0);
  return 0;
}

int FinishAsyncDraw(qvScriptState* L, qvObjectId id) {
  qvAsyncDraw* object = nullptr;
  int code = FindAsyncDraw(id, &object);
  if (code != 0) return code;
  if (object->finish != nullptr) object->finish(L, object->data, &object->finished);
  FreeObject(L, object, object->finished);
  return 0;
}

}  // namespace qv
