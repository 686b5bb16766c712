// Display records: the display list with the current display, the tag table that creates them,
// opening and closing their windows, freeing them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/errors.h"
#include "core/args.h"
#include "core/events.h"
#include "core/player_state.h"
#include "display/display.h"
#include "display/internal.h"
#include "platform/loop.h"
#include "platform/sync.h"
#include "vm/auxlib.h"

namespace qv {

namespace {

constexpr int32_t kCenter = -100000;
constexpr int32_t kRegionBox = 14;  // BOX, the only region shape

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

// Reads a list of regions (items 0, 1, ... up to the first one that is no table).
int ReadRegions(qvScriptState* L, int table, const char* key, qvRegionEntry* regions,
                int32_t* count, int32_t* given) {
  VmPushString(L, key);
  VmGetTable(L, table);
  if (VmType(L, -1) != kTypeTable) {
    VmSetTop(L, -2);
    return 0;
  }
  int list = VmGetTop(L);
  int32_t n = 0;
  int code = 0;
  for (int i = 0;; ++i) {
    VmRawGetI(L, list, i);
    if (VmType(L, -1) != kTypeTable) {
      VmSetTop(L, -2);
      break;
    }
    // The record holds kMaxRegions; more would run past it.
    if (n == kMaxRegions) {
      VmSetTop(L, -2);
      code = ERR_WRONGUSAGE;
      break;
    }
    qvRegionEntry r{0, 0, 0, 0, 0};
    int item = VmGetTop(L);
    GetFieldInt(L, item, "type", &r.type, nullptr);
    GetFieldInt(L, item, "x", &r.x, nullptr);
    GetFieldInt(L, item, "y", &r.y, nullptr);
    GetFieldInt(L, item, "width", &r.width, nullptr);
    GetFieldInt(L, item, "height", &r.height, nullptr);
    VmSetTop(L, -2);
    if (r.type != kRegionBox || r.x < 0 || r.y < 0 || r.width < 1 || r.height < 1) {
      code = ERR_WRONGUSAGE;
      break;
    }
    regions[n++] = r;
  }
  VmSetTop(L, -2);
  if (code != 0) return code;
  *count = n;
  *given = 1;
  return 0;
}

struct Switch {
  const char* key;
  uint32_t bit;
};
const Switch kSwitches[] = {
    {"borderless", kDisplayBorderless},
    {"sizeable", kDisplaySizeable},
    {"fixed", kDisplayFixed},
    {"nohide", kDisplayNoHide},
    {"nomodeswitch", kDisplayNoModeSwitch},
    {"smoothscale", kDisplaySmoothScale},
    {"active", kDisplayActive},
    {"hidepointer", kDisplayHidePointer},
    {"usequartz", kDisplayUseQuartz},
    {"noclose", kDisplayNoClose},
    {"keepproportions", kDisplayKeepProportions},
    {"fitscale", kDisplayFitScale},
    {"keepscreenon", kDisplayKeepScreenOn},
};

int ReadSwitch(qvScriptState* L, int table, const char* key, uint32_t bit, uint32_t* flags) {
  int32_t value = 0;
  if (GetFieldInt(L, table, key, &value, nullptr)) {
    if (value != 0) {
      *flags |= bit;
    } else {
      *flags &= ~bit;
    }
    return 1;
  }
  return 0;
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

int ParseDisplayTags(qvScriptState* L, qvDisplay* d, int table, bool create) {
  int code = ReadRegions(L, table, "dragregion", d->drag, &d->dragCount, &d->dragGiven);
  if (code == 0) code = ReadRegions(L, table, "sizeregion", d->size, &d->sizeCount, &d->sizeGiven);
  if (code != 0) return code;
  std::memcpy(d->dragWindow, d->drag, sizeof d->drag);
  std::memcpy(d->sizeWindow, d->size, sizeof d->size);

  for (const Switch& s : kSwitches) ReadSwitch(L, table, s.key, s.bit, &d->flags);
  GetFieldInt(L, table, "x", &d->x, nullptr);
  GetFieldInt(L, table, "y", &d->y, nullptr);

  int found = 0;
  int32_t size = 0;
  if (GetFieldSizeOrPercent(L, table, "scalewidth", 1, &size, &found)) {
    if (size == 0) return ERR_WRONGUSAGE;
    d->scaleWidth = size;
  }
  if (GetFieldSizeOrPercent(L, table, "scaleheight", 1, &size, &found)) {
    if (size == 0) return ERR_WRONGUSAGE;
    d->scaleHeight = size;
  }
  int32_t mode = 0;
  if (GetFieldInt(L, table, "scalemode", &mode, nullptr)) {
    switch (mode) {
      case 0:
        d->flags &= ~(kDisplayAutoScale | kDisplayLayerScale);
        d->borderLeft = d->borderTop = d->borderRight = d->borderBottom = 0;
        break;
      case 1:
        d->flags |= kDisplayAutoScale;
        break;
      case 2:
        d->flags |= kDisplayLayerScale;
        break;
      default:
        return ERR_WRONGUSAGE;
    }
  }

  bool bgpicGiven = false;
  qvObjectId bgpicId{0, nullptr};
  if (GetFieldObjectId(L, table, "bgpic", &bgpicId, nullptr)) {
    qvBGPic* bgpic = nullptr;
    code = FindBGPic(L, bgpicId, &bgpic, 0);
    if (code != 0) return code;
    if (BGPicShownElsewhere(bgpic, d, create)) return ERR_MULTIBGPIC;
    d->bgpic = bgpic;
    d->ownBGPic = 0;
    d->width = bgpic->width;
    d->height = bgpic->height;
    bgpicGiven = true;
  }
  if (!(create && bgpicGiven)) {
    GetFieldInt(L, table, "width", &d->width, nullptr);
    GetFieldInt(L, table, "height", &d->height, nullptr);
    if (d->bgpic == nullptr && create) d->backfill.fillStyle = kFillColour;
    GetFieldInt(L, table, "fillstyle", &d->backfill.fillStyle, nullptr);
    switch (d->backfill.fillStyle) {
      case kFillColour:
        GetFieldUInt(L, table, "color", &d->backfill.colour, nullptr);
        break;
      case kFillGradient:
        code = ReadBackfillGradientFields(L, table, &d->backfill.gradient);
        if (code != 0) return code;
        break;
      case kFillTexture:
        GetFieldObjectId(L, table, "texturebrush", &d->backfill.textureBrush, nullptr);
        GetFieldInt(L, table, "texturex", &d->backfill.textureX, nullptr);
        GetFieldInt(L, table, "texturey", &d->backfill.textureY, nullptr);
        break;
      default:
        if (d->bgpic == nullptr) return ERR_WRONGUSAGE;
        break;
    }
  }
  if (d->width < 1 || d->height < 1) return ERR_WRONGUSAGE;

  VmPushString(L, "title");
  VmGetTable(L, table);
  if (VmType(L, -1) != kTypeNil) {
    size_t length = 0;
    const char* title = VmCheckStringField(L, VmGetTop(L), "title", &length);
    if (length > kTitleSize - 1) {
      VmSetTop(L, -2);
      return ERR_WRONGUSAGE;
    }
    std::memcpy(d->title, title, length);
    d->title[length] = '\0';
  }
  VmSetTop(L, -2);

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

int CreateDisplayCore(qvScriptState* L, qvObjectId* id, bool automatic, int tags, qvDisplay** out) {
  if (out != nullptr) *out = nullptr;
  if (!automatic) {
    int code = FreeDisplayCore(L, *id, false);
    if (code != 0) return code;
  }
  auto* d = new (std::nothrow) qvDisplay{};
  if (d == nullptr) return ERR_MEM;
  // A bad tag value raises through the script machine, past this frame: the guard frees the
  // record then, as it does on every early return.
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
  if (tags != 0 && VmType(L, tags) == kTypeTable) {
    code = ParseDisplayTags(L, d, tags, true);
    if (code == 0) {
      ReadSwitch(L, tags, "hidden", kDisplayHidden, &d->flags);
      ReadSwitch(L, tags, "layers", kDisplayLayers, &d->flags);
      GetFieldInt(L, tags, "private1", &d->private1, nullptr);
      GetFieldInt(L, tags, "private2", &d->private2, nullptr);
      GetFieldInt(L, tags, "private3", &d->private3, nullptr);
    }
  }
  if (code != 0) return code;
  if (d->layerScale || (d->flags & kDisplayLayers)) d->layersOn = 1;
  if (!d->autoScale && !d->layerScale) {
    d->borderLeft = d->borderTop = d->borderRight = d->borderBottom = 0;
  }

  if (d->bgpic == nullptr) {
    qvObjectId bgpicId{0, nullptr};
    code = CreateFilledBGPic(L, &bgpicId, 0, d->width, d->height, &d->backfill, &d->bgpic);
    if (code != 0) return code;
    d->ownBGPic = 1;
  }
  if ((d->autoScale || d->layerScale) && d->scaleWidth != 0 && d->scaleHeight != 0) {
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
  d->frame = ComputeWindowBorders(d->flags);
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
  ForgetBackdrop(d);
  LockList();
  UnlinkFromList(&gDisplays, &d->header);
  UnlockList();
  FreeDisplayRecord(L, d);
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
