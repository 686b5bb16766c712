// Satellites: the views of a display that plugins keep. Their nodes hang in the display's list,
// which the script thread changes and any thread may walk under the display-list lock (a
// satellite's input may come from a thread of the plugin's).
#include <new>

#include "base/errors.h"
#include "base/support.h"
#include "core/events.h"
#include "display/display.h"
#include "platform/loop.h"
#include "platform/sync.h"

namespace qv {

namespace {

class ListLock {
 public:
  ListLock() : lock_(GetDisplayListLock()) {
    if (lock_ != nullptr) EnterLock(lock_);
  }
  ~ListLock() {
    if (lock_ != nullptr) LeaveLock(lock_);
  }
  ListLock(const ListLock&) = delete;
  ListLock& operator=(const ListLock&) = delete;

 private:
  qvLock* lock_;
};

// The display holding the node; the caller holds the display-list lock.
qvDisplay* HolderOf(const qvSatellite* node) {
  if (node == nullptr) return nullptr;
  for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
    auto* d = reinterpret_cast<qvDisplay*>(h);
    for (const qvSatellite* s = d->satellites; s != nullptr; s = s->next) {
      if (s == node) return d;
    }
  }
  return nullptr;
}

// A position in the display's picture as the window has it: a scaled display stretches the
// picture and may keep border strips around it.
int32_t ToWindowX(const qvDisplay* d, int32_t x) {
  return IsScaledDisplay(d) ? d->borderLeft + RoundToInt(x * d->scaleX) : x;
}
int32_t ToWindowY(const qvDisplay* d, int32_t y) {
  return IsScaledDisplay(d) ? d->borderTop + RoundToInt(y * d->scaleY) : y;
}

}  // namespace

qvSatellite* AttachSatellite(qvObjectId id, qvSatelliteCallback callback, void* data,
                             int32_t* width, int32_t* height) {
  qvDisplay* d = nullptr;
  if (FindDisplay(id, &d) != 0 || d->bgpic == nullptr) return nullptr;
  const qvBGPic* bgpic = d->bgpic;
  if (bgpic->transparentColour != kNoTransparentColour || bgpic->current.mask != nullptr ||
      bgpic->current.alpha != nullptr) {
    return nullptr;
  }
  auto* node = new (std::nothrow) qvSatellite{nullptr, callback, data};
  if (node == nullptr) return nullptr;
  {
    ListLock lock;
    qvSatellite** tail = &d->satellites;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = node;
  }
  if (width != nullptr) *width = bgpic->width;
  if (height != nullptr) *height = bgpic->height;
  return node;
}

void DetachSatellite(qvSatellite* node) {
  {
    ListLock lock;
    qvDisplay* d = HolderOf(node);
    // A node that no display holds is not ours to free (a stale or foreign pointer).
    if (d == nullptr) return;
    for (qvSatellite** p = &d->satellites; *p != nullptr; p = &(*p)->next) {
      if (*p == node) {
        *p = node->next;
        break;
      }
    }
  }
  delete node;
}

qvDisplay* FindSatelliteDisplay(const qvSatellite* node) {
  ListLock lock;
  return HolderOf(node);
}

int RedrawSatellite(qvScriptState* L, qvSatellite* node) {
  qvDisplay* d = FindSatelliteDisplay(node);
  if (d == nullptr) return ERR_FINDDISPLAY;
  if (d->state != kDisplayClosed) RedrawDisplay(L, d, 0);
  return 0;
}

int ResizeSatellite(qvScriptState* L, qvSatellite* node, int32_t width, int32_t height) {
  qvDisplay* d = FindSatelliteDisplay(node);
  if (d == nullptr) return ERR_FINDDISPLAY;
  int code = ReopenDisplay(L, d, kKeepPosition, kKeepPosition, width, height, true,
                           d->smoothScale != 0, d->state != kDisplayOpen, true);
  if (code != 0) return code;
  // The size event as the window reports one, so that the display's input takes the window's
  // size that the message carries.
  ListLock lock;
  WindowEvent(d->window, kEventWindowSized, d->width, d->height);
  return 0;
}

int SatelliteInput(qvSatellite* node, int32_t kind, const qvSatelliteInput& input) {
  ListLock lock;
  qvDisplay* d = HolderOf(node);
  if (d == nullptr) return ERR_FINDDISPLAY;
  const qvWindow* window = d->window;
  int32_t x = ToWindowX(d, input.x), y = ToWindowY(d, input.y);
  bool pressed = input.pressed != 0;
  switch (static_cast<SatelliteInputKind>(kind)) {
    case SatelliteInputKind::kPointer:
      WindowPointer(window, x, y);
      return 0;
    case SatelliteInputKind::kLeftButton:
      WindowButton(window, kEventLeftButton, pressed, x, y);
      return 0;
    case SatelliteInputKind::kRightButton:
      WindowButton(window, kEventRightButton, pressed, x, y);
      return 0;
    case SatelliteInputKind::kMidButton:
      WindowButton(window, kEventMidButton, pressed, x, y);
      return 0;
    case SatelliteInputKind::kWheel:
      WindowWheel(window, !pressed);
      return 0;
    case SatelliteInputKind::kKey:
      WindowKey(window, input.code, pressed, input.qualifiers);
      return 0;
  }
  return ERR_WRONGUSAGE;
}

}  // namespace qv
