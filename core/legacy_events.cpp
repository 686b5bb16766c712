#include "core/legacy_events.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "base/support.h"
#include "core/events.h"

namespace qv {

namespace {

qvLegacyEvent* gHead = nullptr;
// The all-switches of click, right click, over and key down (codes 11 to 14).
bool gAll[4] = {};
int32_t gEventCode = 0;
uint32_t gKeyCode = 0;
const qvLegacyEvent* gUnderPointer = nullptr;

bool& AllSwitch(int32_t code) { return gAll[code - kLegacyClickAll]; }

char* CopyText(const char* text) {
  size_t length = std::strlen(text);
  auto* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy != nullptr) std::memcpy(copy, text, length + 1);
  return copy;
}

qvLegacyEvent* NewRecord(int32_t kind, int32_t id) {
  auto* r = static_cast<qvLegacyEvent*>(std::calloc(1, sizeof(qvLegacyEvent)));
  if (r == nullptr) return nullptr;
  r->kind = kind;
  r->id = id;
  r->enabled = 1;
  return r;
}

void Append(qvLegacyEvent* record) {
  qvLegacyEvent** tail = &gHead;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = record;
}

qvLegacyEvent* FindFirst(int32_t kind, int32_t id) {
  for (qvLegacyEvent* r = gHead; r != nullptr; r = r->next) {
    if (r->kind == kind && r->id == id) return r;
  }
  return nullptr;
}

void FreeRecord(qvLegacyEvent* record) {
  if (gUnderPointer == record) gUnderPointer = nullptr;
  std::free(record->key);
  std::free(record);
}

void RemoveFirst(int32_t kind, int32_t id) {
  for (qvLegacyEvent** link = &gHead; *link != nullptr; link = &(*link)->next) {
    qvLegacyEvent* r = *link;
    if (r->kind != kind || r->id != id) continue;
    *link = r->next;
    FreeRecord(r);
    return;
  }
}

bool Holds(const qvLegacyEvent& r, int32_t x, int32_t y) {
  return x >= r.x1 && x <= r.x2 && y >= r.y1 && y <= r.y2;
}

std::string Name(const char* stem, bool all, int32_t id) {
  if (all) return std::string(stem) + "ALL";
  return std::string(stem) + std::to_string(id);
}

// The key name of a key event as the records compare it: the special key's table name, else the
// code as one character.
std::string LegacyKeyName(int32_t code) {
  for (int row = 9; row <= 43; ++row) {
    if (kKeyTable[row].code == static_cast<uint32_t>(code)) return kKeyTable[row].name;
  }
  return std::string(1, static_cast<char>(code));
}

}  // namespace

const qvLegacyEvent* LegacyEvents() { return gHead; }

bool HaveLegacyRecords() { return gHead != nullptr; }

int32_t CreateLegacyButton(int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  static const int32_t kKinds[] = {kLegacyButtonOver, kLegacyButtonClick, kLegacyRightClick};
  qvLegacyEvent* made[3] = {};
  for (int i = 0; i < 3; ++i) {
    made[i] = NewRecord(kKinds[i], id);
    if (made[i] == nullptr) {
      for (int j = 0; j < i; ++j) std::free(made[j]);
      return ERR_MEM;
    }
    made[i]->x1 = x1;
    made[i]->y1 = y1;
    made[i]->x2 = x2;
    made[i]->y2 = y2;
  }
  for (qvLegacyEvent* r : made) Append(r);
  return 0;
}

int32_t CreateLegacyKey(int32_t id, const char* key) {
  qvLegacyEvent* r = NewRecord(kLegacyKeyDown, id);
  char* copy = CopyText(key);
  if (r == nullptr || copy == nullptr) {
    std::free(r);
    std::free(copy);
    return ERR_MEM;
  }
  r->key = copy;
  Append(r);
  return 0;
}

void ModifyLegacyButton(int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  for (int32_t kind : {kLegacyButtonOver, kLegacyButtonClick, kLegacyRightClick}) {
    qvLegacyEvent* r = FindFirst(kind, id);
    if (r == nullptr) continue;
    r->x1 = x1;
    r->y1 = y1;
    r->x2 = x2;
    r->y2 = y2;
  }
}

int32_t ModifyLegacyKey(int32_t id, const char* key) {
  qvLegacyEvent* r = FindFirst(kLegacyKeyDown, id);
  if (r == nullptr) return 0;
  char* copy = CopyText(key);
  if (copy == nullptr) return ERR_MEM;
  std::free(r->key);
  r->key = copy;
  r->x1 = r->y1 = r->x2 = r->y2 = 0;
  return 0;
}

void RemoveLegacyButton(int32_t id) {
  for (int32_t kind : {kLegacyButtonOver, kLegacyButtonClick, kLegacyRightClick}) {
    RemoveFirst(kind, id);
  }
}

void RemoveLegacyKey(int32_t id) { RemoveFirst(kLegacyKeyDown, id); }

void ClearLegacyEvents() {
  while (gHead != nullptr) {
    qvLegacyEvent* next = gHead->next;
    FreeRecord(gHead);
    gHead = next;
  }
}

void SetLegacyEventEnabled(int32_t code, int32_t id, bool on) {
  if (code == kLegacyCloseWindow) {
    if (qvDisplayInput* d = CurrentDisplayInput()) {
      d->closeWindowHandled = on ? 1 : 0;
      SetCloseHandled(d, on);
    }
  } else if (code >= kLegacyClickAll && code <= kLegacyKeyDownAll) {
    AllSwitch(code) = on;
  }
  if (qvLegacyEvent* r = FindFirst(code, id)) r->enabled = on ? 1 : 0;
}

int32_t GetLegacyEventCode() { return gEventCode; }

uint32_t GetLegacyKeyCode() { return gKeyCode; }

std::string LegacyEventName(const qvEvent& event) {
  bool key = event.type == kEventKey && event.pressed;
  bool click = (event.type == kEventLeftButton || event.type == kEventRightButton) && event.pressed;
  if (!key && !click) return {};
  std::string keyName;
  int32_t x = 0, y = 0;
  if (key) {
    keyName = LegacyKeyName(event.keyCode);
  } else {
    // The same transform as the pointer's (GetPointerX).
    const auto* d = static_cast<const qvDisplayInput*>(event.display);
    if (d == nullptr || d->scaleX == 0 || d->scaleY == 0) return {};
    x = TruncateToInt((event.x - d->borderLeft) / d->scaleX);
    y = TruncateToInt((event.y - d->borderTop) / d->scaleY);
  }
  for (const qvLegacyEvent* r = gHead; r != nullptr; r = r->next) {
    if (!r->enabled) continue;
    if (click && r->kind == kLegacyButtonClick && event.type == kEventLeftButton &&
        Holds(*r, x, y)) {
      bool all = AllSwitch(kLegacyClickAll);
      if (all) gEventCode = r->id;
      return Name("ONBUTTONCLICK", all, r->id);
    }
    if (click && r->kind == kLegacyRightClick && event.type == kEventRightButton &&
        Holds(*r, x, y)) {
      bool all = AllSwitch(kLegacyRightClickAll);
      if (all) gEventCode = r->id;
      return Name("ONBUTTONRIGHTCLICK", all, r->id);
    }
    if (key && r->kind == kLegacyKeyDown && r->key != nullptr &&
        StrCaseCmp(r->key, keyName.c_str()) == 0) {
      bool all = AllSwitch(kLegacyKeyDownAll);
      if (all) gEventCode = r->id;
      gKeyCode = static_cast<uint32_t>(event.keyCode);
      return Name("ONKEYDOWN", all, r->id);
    }
  }
  return {};
}

std::string LegacyButtonOver(int32_t x, int32_t y) {
  for (const qvLegacyEvent* r = gHead; r != nullptr; r = r->next) {
    if (!r->enabled || r->kind != kLegacyButtonOver || !Holds(*r, x, y)) continue;
    bool all = AllSwitch(kLegacyOverAll);
    if (all) gEventCode = r->id;
    gUnderPointer = r;
    return Name("ONBUTTONOVER", all, r->id);
  }
  return {};
}

const qvLegacyEvent* LegacyRecordUnderPointer() { return gUnderPointer; }

void ForgetLegacyRecordUnderPointer() { gUnderPointer = nullptr; }

void ResetLegacyEvents() {
  ClearLegacyEvents();
  for (bool& on : gAll) on = false;
  gEventCode = 0;
  gKeyCode = 0;
}

}  // namespace qv
