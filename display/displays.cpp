// Display records: the display list with the current display, the tag table that creates them,
// opening and closing their windows, freeing them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/errors.h"
#include "core/events.h"
#include "core/player_state.h"
#include "display/async_draw.h"
#include "display/display.h"
#include "display/internal.h"
#include "display/pointers.h"
#include "platform/loop.h"
#include "platform/sync.h"

namespace qv {

namespace {

constexpr int32_t kCenter = -100000;

qvObjectHeader* gDisplays = nullptr;
qvDisplay* gCurrent = nullptr;
qvBGPic* gOutputTarget = nullptr;
bool gFullScreen = false;

void LockList() {
  if (qvLock* lock = GetDisplayListLock()) EnterLock(lock);
}
void UnlockList() {
  if (qvLock* lock = GetDisplayListLock()) LeaveLock(lock);
}

bool BGPicShownElsewhere(const qvBGPic* bgpic, const qvDisplay* self, bool create) {
  for (qvObjectHeader* h = gDisplays; h != nullptr; h = h->next) {
    auto* d = reinterpret_cast<qvDisplay*>(h);
    if (d == self || d->bgpic != bgpic) continue;
    if (!create && d == gCurrent) continue;
    return true;
  }
  return false;
}

}  // namespace

int ApplyDisplayTags(qvScriptState* L, qvDisplay* d, const qvDisplayTags& tags, bool create) {
  if (tags.dragGiven) {
    std::memcpy(d->drag, tags.drag, sizeof d->drag);
    d->dragCount = tags.dragCount;
    d->dragGiven = 1;
  }
  if (tags.sizeGiven) {
    std::memcpy(d->size, tags.size, sizeof d->size);
    d->sizeCount = tags.sizeCount;
    d->sizeGiven = 1;
  }
  std::memcpy(d->dragWindow, d->drag, sizeof d->drag);
  std::memcpy(d->sizeWindow, d->size, sizeof d->size);

  d->flags = (d->flags & ~tags.switchesGiven) | (tags.switchesOn & tags.switchesGiven);
  if (tags.x) d->x = *tags.x;
  if (tags.y) d->y = *tags.y;

  if (tags.scaleWidth) {
    if (*tags.scaleWidth == 0) return ERR_WRONGUSAGE;
    d->scaleWidth = *tags.scaleWidth;
  }
  if (tags.scaleHeight) {
    if (*tags.scaleHeight == 0) return ERR_WRONGUSAGE;
    d->scaleHeight = *tags.scaleHeight;
  }
  if (tags.scaleMode) {
    switch (*tags.scaleMode) {
      case kScaleModeNone:
        d->flags &= ~(kDisplayAutoScale | kDisplayLayerScale);
        d->borderLeft = d->borderTop = d->borderRight = d->borderBottom = 0;
        break;
      case kScaleModeAuto:
        d->flags |= kDisplayAutoScale;
        break;
      case kScaleModeLayer:
        d->flags |= kDisplayLayerScale;
        break;
      default:
        return ERR_WRONGUSAGE;
    }
  }

  bool bgpicGiven = false;
  if (tags.bgpic) {
    qvBGPic* bgpic = nullptr;
    int code = FindBGPic(L, *tags.bgpic, &bgpic, 0);
    if (code != 0) return code;
    if (BGPicShownElsewhere(bgpic, d, create)) return ERR_MULTIBGPIC;
    d->bgpic = bgpic;
    d->ownBGPic = 0;
    d->width = bgpic->width;
    d->height = bgpic->height;
    bgpicGiven = true;
  }
  if (!(create && bgpicGiven)) {
    if (tags.width) d->width = *tags.width;
    if (tags.height) d->height = *tags.height;
    if (d->bgpic == nullptr && create) d->backfill.fillStyle = kFillColour;
    if (tags.fillStyle) d->backfill.fillStyle = *tags.fillStyle;
    switch (d->backfill.fillStyle) {
      case kFillColour:
        if (tags.colour) d->backfill.colour = *tags.colour;
        break;
      case kFillGradient:
        if (tags.gradient) d->backfill.gradient = *tags.gradient;
        break;
      case kFillTexture:
        if (tags.textureBrush) d->backfill.textureBrush = *tags.textureBrush;
        if (tags.textureX) d->backfill.textureX = *tags.textureX;
        if (tags.textureY) d->backfill.textureY = *tags.textureY;
        break;
      default:
        if (d->bgpic == nullptr) return ERR_WRONGUSAGE;
        break;
    }
  }
  if (d->width < 1 || d->height < 1) return ERR_WRONGUSAGE;

  if (tags.title) {
    size_t length = tags.title->size();
    if (length > kTitleSize - 1) return ERR_WRONGUSAGE;
    std::memcpy(d->title, tags.title->data(), length);
    d->title[length] = '\0';
  }

  // Percentages of the display's size, truncated.
  if (d->scaleWidth < 0)
    d->scaleWidth = static_cast<int32_t>(int64_t{-d->scaleWidth} * d->width / 100);
  if (d->scaleHeight < 0) {
    d->scaleHeight = static_cast<int32_t>(int64_t{-d->scaleHeight} * d->height / 100);
  }
  d->autoScale = (d->flags & kDisplayAutoScale) ? 1 : 0;
  d->layerScale = (d->flags & kDisplayLayerScale) ? 1 : 0;
  d->smoothScale = (d->flags & kDisplaySmoothScale) ? 1 : 0;
  return 0;
}

namespace {

void FreeDisplayRecord(qvScriptState* L, qvDisplay* d) {
  if (d->window != nullptr) {
    RemoveDisplayInput(L, d->window);
    CloseDisplayWindow(d->window);
    DetachPlatformDisplay(d->window);
  }
  if (d->ownBGPic && d->bgpic != nullptr) {
    qvBGPic* own = d->bgpic;
    d->bgpic = nullptr;
    DeleteBGPicNode(L, {own->header.id, own->header.handle}, false);
  }
  FreeOutputRecords(d);
  DropPendingRefreshes(d);
  DeleteLock(d->refreshLock);
  FreeBitMap(d->displayBitmap);
  FreeBitMap(d->windowBitmap);
  FreeMaskOrAlpha(d->shapeMask);
  FreeMaskOrAlpha(d->shapeAlpha);
  FreeBitMap(d->backfill.textureCache);
  while (d->satellites != nullptr) {
    qvSatellite* next = d->satellites->next;
    delete d->satellites;
    d->satellites = next;
  }
  delete d;
}

// Regions clipped to the display: at most width - 1 and height - 1, sizes cut and at least 1.
void ClipRegions(qvRegionEntry* regions, int32_t count, int32_t width, int32_t height) {
  for (int32_t i = 0; i < count; ++i) {
    qvRegionEntry& r = regions[i];
    if (r.x > width - 1) r.x = width - 1;
    if (r.y > height - 1) r.y = height - 1;
    if (int64_t{r.x} + r.width > width) r.width = width - r.x;
    if (int64_t{r.y} + r.height > height) r.height = height - r.y;
    if (r.width < 1) r.width = 1;
    if (r.height < 1) r.height = 1;
  }
}

}  // namespace

void CopyRegionsToWindow(qvDisplay* d) {
  if (!d->dragGiven) {
    d->dragCount = 1;
    d->drag[0] = d->dragWindow[0] = {kRegionBox, 0, 0, d->width, 15};
  }
  if (!d->sizeGiven) {
    d->sizeCount = 1;
    d->size[0] = d->sizeWindow[0] = {kRegionBox, d->width - 10, d->height - 10, 10, 10};
  }
  ClipRegions(d->dragWindow, d->dragCount, d->width, d->height);
  ClipRegions(d->sizeWindow, d->sizeCount, d->width, d->height);
  qvWindowZone drag[kMaxRegions], size[kMaxRegions];
  auto zones = [](const qvRegionEntry* regions, int32_t count, qvWindowZone* out) {
    count = std::clamp(count, 0, kMaxRegions);
    for (int32_t i = 0; i < count; ++i) {
      out[i] = {regions[i].x, regions[i].y, regions[i].width, regions[i].height};
    }
    return count;
  };
  int32_t dragCount = zones(d->dragWindow, d->dragCount, drag);
  int32_t sizeCount = zones(d->sizeWindow, d->sizeCount, size);
  CopyDragZones(d->window, drag, dragCount, size, sizeCount);
}

qvWindowShapeSource WindowShapeOf(const qvDisplay* d) {
  // The planes scaled to the window when a scaled display has them, else the BGPic's own.
  const qvPlane* mask = d->shapeMask;
  const qvPlane* alpha = d->shapeAlpha;
  int32_t width = d->width, height = d->height;
  if (mask == nullptr && alpha == nullptr && d->bgpic != nullptr) {
    mask = d->bgpic->current.mask;
    alpha = d->bgpic->current.alpha;
    width = d->bgpic->width;
    height = d->bgpic->height;
  }
  qvWindowShapeSource shape;
  if (mask != nullptr) shape.mask = {mask->data, width, height, mask->bytesPerRow};
  if (alpha != nullptr) shape.alpha = {alpha->data, width, height, alpha->bytesPerRow};
  return shape;
}

qvObjectHeader** DisplayListHead() { return &gDisplays; }
qvDisplay* CurrentDisplay() { return gCurrent; }
void SetCurrentDisplay(qvDisplay* display) {
  gCurrent = display;
  // Handlers installed from now on belong to this display.
  if (display != nullptr) SelectDisplayInput(display->window);
}
qvBGPic* OutputTarget() { return gOutputTarget; }
void SetOutputTarget(qvBGPic* target) { gOutputTarget = target; }
bool IsFullScreen() { return gFullScreen; }

bool DisplayModeFromScript(int32_t value, DisplayMode* mode) {
  if (value == 1) {
    *mode = DisplayMode::kWindowed;
  } else if (value == 2) {
    *mode = DisplayMode::kFullScreen;
  } else {
    return false;
  }
  return true;
}
int32_t DisplayModeToScript(DisplayMode mode) { return mode == DisplayMode::kFullScreen ? 2 : 1; }
int32_t DisplayModeToServiceWord(DisplayMode mode) {
  return mode == DisplayMode::kFullScreen ? 1 : 0;
}

bool IsScaledDisplay(const qvDisplay* display) {
  return display->autoScale && display->scaleWidth != 0 && display->scaleHeight != 0;
}

void SyncInputScale(const qvDisplay* d) {
  qvDisplayInput* input = FindDisplayInput(d->window);
  if (input == nullptr) return;
  input->borderLeft = d->borderLeft;
  input->borderTop = d->borderTop;
  input->scaleX = d->scaleX;
  input->scaleY = d->scaleY;
}

bool IsScaledBy(const qvDisplay* d) {
  return (d->autoScale || d->layerScale) && d->scaleWidth != 0 && d->scaleHeight != 0;
}

int FindDisplay(qvObjectId id, qvDisplay** out) {
  *out = nullptr;
  for (qvObjectHeader* h = gDisplays; h != nullptr; h = h->next) {
    if (h->id == id.number && h->handle == id.handle) {
      *out = reinterpret_cast<qvDisplay*>(h);
      return 0;
    }
  }
  if (id.handle != nullptr) return ERR_FINDARRAY;
  SetErrorNumber(id.number);
  return ERR_FINDDISPLAY;
}

int CreateDisplayCore(qvScriptState* L, qvObjectId* id, bool automatic, const qvDisplayTags* tags,
                      qvDisplay** out) {
  if (out != nullptr) *out = nullptr;
  if (!automatic) {
    int code = FreeDisplayCore(L, *id, false);
    if (code != 0) return code;
  }
  auto* d = new (std::nothrow) qvDisplay{};
  if (d == nullptr) return ERR_MEM;
  // The guard frees the record on every early return.
  struct Guard {
    qvScriptState* L;
    qvDisplay* d;
    ~Guard() {
      if (d != nullptr) FreeDisplayRecord(L, d);
    }
  } guard{L, d};
  d->header.type = kObjectDisplay;
  d->x = d->y = kCenter;
  d->scaleX = d->scaleY = 1.0;
  d->width = 640;
  d->height = 480;
  d->state = kDisplayClosed;
  d->outputType = kOutputDisplay;
  std::snprintf(d->title, sizeof d->title, "%s", "Quillvane");
  InitGradientDefaults(&d->backfill.gradient);
  d->backfill.fillStyle = kFillColour;

  int code = 0;
  if (tags != nullptr) {
    code = ApplyDisplayTags(L, d, *tags, true);
    if (code != 0) return code;
    if (tags->private1) d->private1 = *tags->private1;
    if (tags->private2) d->private2 = *tags->private2;
    if (tags->private3) d->private3 = *tags->private3;
  }
  if (d->layerScale || (d->flags & kDisplayLayers)) d->layersOn = 1;
  if (!d->autoScale && !d->layerScale) {
    d->borderLeft = d->borderTop = d->borderRight = d->borderBottom = 0;
  }

  if (d->bgpic == nullptr) {
    qvObjectId bgpicId{0, nullptr};
    code = CreateFilledBGPic(L, &bgpicId, kBGPicPicture, d->width, d->height, &d->backfill,
                             &d->bgpic);
    if (code != 0) return code;
    d->ownBGPic = 1;
  }
  if (IsScaledBy(d)) {
    d->width = d->scaleWidth;
    d->height = d->scaleHeight;
  }
  d->cursorX = d->cursorY = d->marginLeft = 0;
  d->marginRight = d->bgpic->width - 1;
  d->window = AttachPlatformDisplay();
  if (d->window == nullptr) return ERR_MEM;
  d->refreshLock = CreateLock();
  if (d->refreshLock == nullptr) return ERR_SEMAPHORE;
  // The display's own input: its handlers and what its window reports.
  if (AddDisplayInput(d->window, automatic ? qvObjectId{0, d} : *id) == nullptr) return ERR_MEM;
  guard.d = nullptr;
  if (automatic) *id = {0, d};
  d->header.id = id->number;
  d->header.handle = id->handle;
  LockList();
  if (d->private1) {
    d->header.next = gDisplays;
    gDisplays = &d->header;
  } else {
    AppendToList(&gDisplays, &d->header);
  }
  UnlockList();
  if (out != nullptr) *out = d;
  return 0;
}

void ResolveWindowPosition(const qvDisplay* d, int32_t givenX, int32_t givenY, int32_t* x,
                           int32_t* y) {
  int32_t areaX, areaY, areaWidth, areaHeight;
  GetPlacementArea(d->private1 != 0, &areaX, &areaY, &areaWidth, &areaHeight);
  *x = ResolveCoordX(givenX, d->width + d->frame.totalWidth, areaWidth, 0.0);
  *y = ResolveCoordY(givenY, d->height + d->frame.totalHeight, areaHeight, 0.0);
  if (*x != givenX) *x += areaX;
  if (*y != givenY) *y += areaY;
}

void GetMaxWindowSize(qvDisplay* d, int32_t* width, int32_t* height) {
  d->frame = ComputeWindowBorders(d->flags);
  *width = d->width + d->frame.totalWidth;
  *height = d->height + d->frame.totalHeight;
  if (d->flags & kDisplayBorderless) return;
  int32_t areaX, areaY, areaWidth, areaHeight;
  GetPlacementArea(d->private1 != 0, &areaX, &areaY, &areaWidth, &areaHeight);
  if (*width <= areaWidth && *height <= areaHeight) return;
  if (d->width > areaWidth || d->height > areaHeight) return;
  d->flags |= kDisplayBorderless;
  d->frame = ComputeWindowBorders(d->flags);
  *width = d->width;
  *height = d->height;
}

int CheckWindowFits(const qvDisplay* d, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (WindowFits(x, y, width + d->frame.totalWidth, height + d->frame.totalHeight,
                 d->private1 != 0)) {
    return 0;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%dx%d", width, height);
  SetErrorString(text);
  return ERR_DISPLAYSIZE;
}

bool HasShapedWindow(const qvDisplay* d) {
  return d->shapeMask != nullptr || d->shapeAlpha != nullptr ||
         (d->bgpic != nullptr &&
          (d->bgpic->current.mask != nullptr || d->bgpic->current.alpha != nullptr));
}

void ScaleRegionsToWindow(qvDisplay* d) {
  if (!IsScaledDisplay(d)) return;
  double fx = d->scaleX, fy = d->scaleY;
  for (int32_t i = 0; i < d->dragCount; ++i) {
    const qvRegionEntry& r = d->drag[i];
    d->dragWindow[i] = {r.type, RoundToInt(r.x * fx), RoundToInt(r.y * fy),
                        RoundToInt(r.width * fx), RoundToInt(r.height * fy)};
  }
  for (int32_t i = 0; i < d->sizeCount; ++i) {
    const qvRegionEntry& r = d->size[i];
    d->sizeWindow[i] = {r.type, RoundToInt(r.x * fx), RoundToInt(r.y * fy),
                        RoundToInt(r.width * fx), RoundToInt(r.height * fy)};
  }
}

int OpenDisplayCore(qvScriptState* L, qvDisplay* d, bool activate) {
  if (d->displayBitmap == nullptr) {
    int code = AllocDisplayBuffers(d, d->bgpic, true);
    if (code != 0) return code;
  }
  if (d->bgpic != nullptr && d->bgpic->original.alpha != nullptr) d->flags |= kDisplayBorderless;
  [[maybe_unused]] int32_t outerWidth, outerHeight;
  GetMaxWindowSize(d, &outerWidth, &outerHeight);
  ScaleRegionsToWindow(d);

  int32_t x, y;
  ResolveWindowPosition(d, d->x, d->y, &x, &y);

  int code = CheckWindowFits(d, x, y, d->width, d->height);
  if (code != 0) return code;
  CopyRegionsToWindow(d);
  qvWindowShapeSource shape = WindowShapeOf(d);
  qvWindowPlacement placement{x, y, d->width, d->height, d->flags, d->title, activate, false};
  code = OpenDisplayWindow(d->window, placement, &shape);
  if (code != 0) return code;
  SyncInputScale(d);
  d->active = activate ? 1 : 0;
  d->state = kDisplayOpen;
  RedrawDisplay(L, d, 0);
  return 0;
}

void CloseDisplayCore(qvDisplay* display) {
  CloseDisplayWindow(display->window);
  display->state = kDisplayClosed;
  display->active = 0;
}

int FreeDisplayCore(qvScriptState* L, qvObjectId id, bool mustExist) {
  qvDisplay* d = nullptr;
  int code = FindDisplay(id, &d);
  if (code != 0) return mustExist ? code : 0;
  if (d == gCurrent) return ERR_FREEADISPLAY;
  // An object still draws its frames on it.
  if (HasAsyncDrawObject(d)) return ERR_ADFFREEDISP;
  // A plugin still holds views of it.
  if (d->satellites != nullptr) return ERR_SATFREEDISP;
  ForgetBackdrop(d);
  LockList();
  UnlinkFromList(&gDisplays, &d->header);
  UnlockList();
  FreeDisplayRecord(L, d);
  // A pointer the script freed while only this display showed it goes with the display.
  PurgeDetachedPointers(L);
  return 0;
}

void FreeAllDisplays(qvScriptState* L) {
  gCurrent = nullptr;
  gOutputTarget = nullptr;
  for (;;) {
    LockList();
    qvObjectHeader* h = gDisplays;
    if (h != nullptr) gDisplays = h->next;
    UnlockList();
    if (h == nullptr) break;
    FreeDisplayRecord(L, reinterpret_cast<qvDisplay*>(h));
  }
  if (gFullScreen) RestoreDisplayMode();
  gFullScreen = false;
}

bool IsMainDisplay(const qvDisplay* display) {
  const qvObjectHeader* head = gDisplays;
  if (head == nullptr || display == nullptr) return false;
  if (&display->header == head) return head->next == nullptr;
  return reinterpret_cast<const qvDisplay*>(head)->private1 && head->next == &display->header;
}

void SetFullScreenFlag(bool on) { gFullScreen = on; }

}  // namespace qv
