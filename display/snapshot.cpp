// Snapshots of a display's window, its picture or the desktop.
#include "base/errors.h"
#include "core/vfile.h"
#include "display/display.h"
#include "display/internal.h"

namespace qv {

namespace {

// A bitmap of width x height from the screen at (x, y).
qvBitMap* GrabScreenBitMap(int32_t x, int32_t y, int32_t width, int32_t height) {
  qvBitMap* bitmap = AllocBitMap(width, height);
  if (bitmap != nullptr) {
    GrabScreen(x, y, width, height, reinterpret_cast<uint32_t*>(bitmap->pixels),
               bitmap->bytesPerRow / 4);
  }
  return bitmap;
}

}  // namespace

int GrabSnapshot(qvScriptState* L, int32_t type, qvBitMap** out, bool* owned) {
  *out = nullptr;
  *owned = false;
  qvDisplay* d = CurrentDisplay();
  switch (type) {
    case kSnapWindow: {
      if (d == nullptr || d->state != kDisplayOpen) return ERR_CLOSEDDISPDRAW;
      qvWindowPlacement placement{};
      if (!GetWindowPlacement(d->window, &placement)) return ERR_CLOSEDDISPDRAW;
      *out = GrabScreenBitMap(placement.x, placement.y, d->width + d->frame.totalWidth,
                              d->height + d->frame.totalHeight);
      *owned = true;
      break;
    }
    case kSnapDisplay:
      if (d == nullptr) return ERR_WRONGUSAGE;
      if (d->doubleBuffer) {
        *out = d->backBuffer;
      } else {
        qvBitMap* composite = GetBGPicComposite(L, d, d->bgpic);
        if (composite == nullptr) return ERR_MEM;
        *out = CopyBitMap(composite, d->bgpic->width, d->bgpic->height);
        *owned = true;
      }
      break;
    case kSnapDesktop:
      *out = GrabScreenBitMap(0, 0, GetScreenAttr(ScreenAttr::kWidth),
                              GetScreenAttr(ScreenAttr::kHeight));
      *owned = true;
      break;
    default:
      return ERR_WRONGUSAGE;
  }
  return *out != nullptr ? 0 : ERR_MEM;
}

}  // namespace qv
