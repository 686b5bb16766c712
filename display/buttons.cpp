#include "display/buttons.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "base/errors.h"
#include "base/support.h"
#include "display/bgpics.h"
#include "display/displays.h"

namespace qv {

const char* const kButtonCallbackFields[kButtonCallbackCount] = {
    "onmouseover",      "onmouseout",     "onmousedown",    "onmouseup",
    "onrightmousedown", "onrightmouseup", "onmidmousedown", "onmidmouseup",
};
const char* const kButtonCallbackActions[kButtonCallbackCount] = {
    "OnMouseOver",      "OnMouseOut",     "OnMouseDown",    "OnMouseUp",
    "OnRightMouseDown", "OnRightMouseUp", "OnMidMouseDown", "OnMidMouseUp",
};

namespace {

// DumpButtons reports the record size of the 32-bit layout, which scripts may have printed.
constexpr int32_t kDumpedRecordSize = 100;

// The hover walk of the dispatcher: the BGPic it walks, the hit and pressed buttons of its first
// pass and where the second pass goes on after a callback.
struct HoverWalk {
  const qvBGPic* bgpic = nullptr;
  qvBGPicButton* hit = nullptr;
  qvBGPicButton* pressed = nullptr;
  qvBGPicButton* cursor = nullptr;
};
HoverWalk gHover;

qvBGPicButton*& Head(qvBGPic* bgpic) { return reinterpret_cast<qvBGPicButton*&>(bgpic->buttons); }
qvBGPicButton* First(const qvBGPic* bgpic) { return static_cast<qvBGPicButton*>(bgpic->buttons); }

bool SameId(const qvBGPicButton* b, qvObjectId id) {
  return b->id.number == id.number && b->id.handle == id.handle;
}

// Layer buttons wait for the layers: none can be made, and none would take part.
bool TakesPart(const qvBGPicButton* b) { return b->enabled && b->type == kSimpleButton; }

bool AnyPressed(const qvBGPicButton* b) {
  for (int32_t p : b->pressed) {
    if (p) return true;
  }
  return false;
}

void ClearPressed(qvBGPicButton* b) {
  for (int32_t& p : b->pressed) p = 0;
}

void ReleaseButton(qvScriptState* L, qvBGPicButton* b) {
  for (int32_t& ref : b->callbacks) {
    ReleaseReference(L, ref);
    ref = kNoReference;
  }
  ReleaseReference(L, b->userdata);
  b->userdata = kNoReference;
  if (gHover.cursor == b) gHover.cursor = b->next;
  if (gHover.hit == b) gHover.hit = nullptr;
  if (gHover.pressed == b) gHover.pressed = nullptr;
}

int NotFound(qvObjectId id) { return ObjectNotFound(id, ERR_FINDBUTTON); }

void UseButton(qvDispatchResult* result, qvBGPic* bgpic, qvBGPicButton* b, int callback) {
  result->bgpic = bgpic;
  result->button = b;
  result->callback = b->callbacks[callback];
  result->userdata = b->userdata;
  std::snprintf(result->action, sizeof result->action, "%s", kButtonCallbackActions[callback]);
}

}  // namespace

int CurrentButtonBGPic(qvBGPic** out) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_BGPICBUTTON;
  if (d->outputType == kOutputDisplay && d->bgpic != nullptr) {
    *out = d->bgpic;
    return 0;
  }
  if (d->outputType == kOutputBGPic && OutputTarget() != nullptr) {
    *out = OutputTarget();
    return 0;
  }
  return ERR_BGPICBUTTON;
}

int AddSimpleButton(qvScriptState* L, qvBGPic* bgpic, qvObjectId id, bool automatic,
                    const qvButtonSpec& spec, qvBGPicButton** out) {
  if (spec.width < 1 || spec.height < 1) return ERR_WRONGUSAGE;
  if (!automatic && FindButton(bgpic, id) != nullptr) {
    int code = FreeButton(L, bgpic, id);
    if (code != 0) return code;
  }
  auto* b = static_cast<qvBGPicButton*>(std::calloc(1, sizeof(qvBGPicButton)));
  if (b == nullptr) return ERR_MEM;
  b->id = automatic ? qvObjectId{0, b} : qvObjectId{id.number, nullptr};
  b->type = kSimpleButton;
  int32_t x = ResolveCoordX(spec.x, spec.width, bgpic->width, 0.0);
  int32_t y = ResolveCoordY(spec.y, spec.height, bgpic->height, 0.0);
  b->x1 = x;
  b->y1 = y;
  b->x2 = static_cast<int32_t>(int64_t{x} + spec.width - 1);
  b->y2 = static_cast<int32_t>(int64_t{y} + spec.height - 1);
  b->enabled = 1;
  for (int i = 0; i < kButtonCallbackCount; ++i) b->callbacks[i] = spec.callbacks[i];
  b->userdata = spec.userdata;
  b->next = First(bgpic);
  Head(bgpic) = b;
  if (out != nullptr) *out = b;
  return 0;
}

qvBGPicButton* FindButton(const qvBGPic* bgpic, qvObjectId id) {
  for (qvBGPicButton* b = First(bgpic); b != nullptr; b = b->next) {
    if (SameId(b, id)) return b;
  }
  return nullptr;
}

int FreeButton(qvScriptState* L, qvBGPic* bgpic, qvObjectId id) {
  for (qvBGPicButton** link = &Head(bgpic); *link != nullptr; link = &(*link)->next) {
    qvBGPicButton* b = *link;
    if (!SameId(b, id)) continue;
    ReleaseButton(L, b);
    *link = b->next;
    std::free(b);
    return 0;
  }
  return NotFound(id);
}

int SetButtonEnabled(qvBGPic* bgpic, qvObjectId id, bool on) {
  qvBGPicButton* b = FindButton(bgpic, id);
  if (b == nullptr) return NotFound(id);
  b->enabled = on ? 1 : 0;
  ClearPressed(b);
  return 0;
}

void ResetButtonStates(qvBGPic* bgpic) {
  if (bgpic == nullptr) return;
  for (qvBGPicButton* b = First(bgpic); b != nullptr; b = b->next) ClearPressed(b);
}

void FreeBGPicButtons(qvScriptState* L, qvBGPic* bgpic) {
  while (qvBGPicButton* b = First(bgpic)) {
    ReleaseButton(L, b);
    Head(bgpic) = b->next;
    std::free(b);
  }
  if (gHover.bgpic == bgpic) gHover = HoverWalk{};
}

std::string DumpButtonsText(const qvBGPic* bgpic) {
  int32_t count = 0;
  for (const qvBGPicButton* b = First(bgpic); b != nullptr; b = b->next) ++count;
  char line[160];
  std::snprintf(line, sizeof line,
                "BUTTON SYSTEM INFO - BGPIC: %d (%p)\nsizeof(qvBGPicButton): %d\nButtons: %d\n",
                bgpic->header.id, static_cast<const void*>(bgpic), kDumpedRecordSize, count);
  std::string text = line;
  int32_t n = 0;
  for (const qvBGPicButton* b = First(bgpic); b != nullptr; b = b->next) {
    std::snprintf(line, sizeof line, "(%d) Type: %d - X1: %d - Y1: %d - X2: %d - Y2: %d\n", ++n,
                  b->type, b->x1, b->y1, b->x2, b->y2);
    text += line;
  }
  return text;
}

bool ButtonHitTest(const qvDisplay* display, int32_t x, int32_t y, const qvBGPicButton* button) {
  if (button->type != kSimpleButton || display->scaleX == 0 || display->scaleY == 0) return false;
  int32_t dx = TruncateToInt((x - display->borderLeft) / display->scaleX);
  int32_t dy = TruncateToInt((y - display->borderTop) / display->scaleY);
  return dx >= button->x1 && dx <= button->x2 && dy >= button->y1 && dy <= button->y2;
}

qvDisplay* DisplayOfInput(const qvDisplayInput* input) {
  if (input == nullptr) return nullptr;
  for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
    auto* d = reinterpret_cast<qvDisplay*>(h);
    if (d->window == input->window) return d;
  }
  return nullptr;
}

bool DispatchButtonEvent(const qvEvent& event, qvDispatchResult* result) {
  int index, down, up;
  switch (event.type) {
    case kEventLeftButton:
      index = kLeftButtonIndex, down = kButtonMouseDown, up = kButtonMouseUp;
      break;
    case kEventRightButton:
      index = kRightButtonIndex, down = kButtonRightMouseDown, up = kButtonRightMouseUp;
      break;
    case kEventMidButton:
      index = kMidButtonIndex, down = kButtonMidMouseDown, up = kButtonMidMouseUp;
      break;
    default:
      return false;
  }
  qvDisplay* d = DisplayOfInput(static_cast<const qvDisplayInput*>(event.display));
  if (d == nullptr || d->bgpic == nullptr) return false;
  bool press = event.pressed != 0;
  for (qvBGPicButton* b = First(d->bgpic); b != nullptr; b = b->next) {
    if (!TakesPart(b) || !ButtonHitTest(d, event.x, event.y, b)) continue;
    int callback;
    if (press) {
      b->pressed[index] = 1;
      callback = down;
    } else {
      // A release counts only where the press happened.
      if (!b->pressed[index]) continue;
      b->pressed[index] = 0;
      callback = up;
    }
    if (b->callbacks[callback] == kNoReference) return false;
    UseButton(result, d->bgpic, b, callback);
    return true;
  }
  // Every button that took a release has returned: none took this one.
  if (!press) {
    for (qvBGPicButton* b = First(d->bgpic); b != nullptr; b = b->next) {
      if (b->enabled) b->pressed[index] = 0;
    }
  }
  return false;
}

bool DispatchButtonHover(qvDisplayInput* input, int32_t x, int32_t y, bool resume,
                         qvDispatchResult* result) {
  qvDisplay* d = DisplayOfInput(input);
  if (d == nullptr || d->bgpic == nullptr) return false;
  qvBGPic* bgpic = d->bgpic;
  if (!resume || gHover.bgpic != bgpic) {
    gHover = HoverWalk{bgpic, nullptr, nullptr, First(bgpic)};
    for (qvBGPicButton* b = First(bgpic); b != nullptr; b = b->next) {
      if (!TakesPart(b)) continue;
      if (gHover.hit == nullptr && ButtonHitTest(d, x, y, b)) gHover.hit = b;
      if (AnyPressed(b)) gHover.pressed = b;
      if (gHover.hit != nullptr && gHover.pressed != nullptr) break;
    }
  }
  // While a button is held, only it changes its hover state.
  for (qvBGPicButton* b = gHover.cursor; b != nullptr; b = b->next) {
    if (!TakesPart(b) || (gHover.pressed != nullptr && b != gHover.pressed)) continue;
    if (b == gHover.hit && !b->hovered) {
      if (gHover.pressed == nullptr) {
        // The buttons the pointer left say so first, one a call.
        for (qvBGPicButton* o = First(bgpic); o != nullptr; o = o->next) {
          if (o == b || !o->hovered) continue;
          o->hovered = 0;
          if (!TakesPart(o) || o->callbacks[kButtonMouseOut] == kNoReference) continue;
          gHover.cursor = b;
          UseButton(result, bgpic, o, kButtonMouseOut);
          return true;
        }
      }
      b->hovered = 1;
      if (b->callbacks[kButtonMouseOver] != kNoReference) {
        gHover.cursor = b->next;
        UseButton(result, bgpic, b, kButtonMouseOver);
        return true;
      }
    } else if (b != gHover.hit && b->hovered) {
      b->hovered = 0;
      if (b->callbacks[kButtonMouseOut] != kNoReference) {
        gHover.cursor = b->next;
        UseButton(result, bgpic, b, kButtonMouseOut);
        return true;
      }
    }
  }
  gHover = HoverWalk{};
  return false;
}

void ResetButtonDispatch() { gHover = HoverWalk{}; }

}  // namespace qv
