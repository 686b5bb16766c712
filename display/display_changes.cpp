// Changing displays that exist: their size and place, title and minimising, the attributes of a
// display applied to its window, which display is current, and the switch between a window and a
// full screen with the backdrop display that covers the screen behind the program's displays.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "core/events.h"
#include "core/player_state.h"
#include "display/brush_edit.h"
#include "display/buttons.h"
#include "display/display.h"
#include "display/internal.h"
#include "platform/loop.h"
#include "platform/sync.h"

namespace qv {

namespace {

constexpr int32_t kCenter = -100000;
constexpr uint32_t kFrameBits = kDisplayBorderless | kDisplayFixed | kDisplaySizeable;
// The flags whose change needs a new window.
constexpr uint32_t kReopenBits = kDisplayBorderless | kDisplaySizeable | kDisplayFixed |
                                 kDisplayNoHide | kDisplayUseQuartz | kDisplayNoClose |
                                 kDisplayKeepProportions | kDisplayFitScale | kDisplayKeepScreenOn;

// The backdrop display with the BGPic and brush made for it (none: null and {0, null}).
qvDisplay* gBackdrop = nullptr;
qvObjectId gBackdropBGPic{0, nullptr};
qvObjectId gBackdropBrush{0, nullptr};

qvAppletSettings* gSettings = nullptr;
bool gStartedFullScreen = false;
// The size the full-screen mode in force was asked for.
int32_t gFullWidth = 0, gFullHeight = 0;

// The machine whose thread acts on Alt+Return.
qvScriptState* gModeSwitchMachine = nullptr;

void ResetTextCursor(qvDisplay* d) {
  d->cursorX = d->cursorY = d->marginLeft = 0;
  d->marginRight = d->bgpic->width - 1;
}

// The current outer corner of an open window, else the stored position.
void CurrentPosition(const qvDisplay* d, int32_t* x, int32_t* y) {
  qvWindowPlacement placement{};
  if (GetWindowPlacement(d->window, &placement)) {
    *x = placement.x;
    *y = placement.y;
  } else {
    *x = d->x;
    *y = d->y;
  }
}

// After the picture changed size: the display buffers and a double buffer of the new size.
int ReallocateBuffers(qvDisplay* d) {
  int code = AllocDisplayBuffers(d, d->bgpic, true);
  if (code != 0) return code;
  if (!d->doubleBuffer || d->doubleBufferRecord == nullptr) return 0;
  bool scaled = IsScaledDisplay(d);
  qvBitMap* back = AllocClearedBitMap(d->bgpic->width, d->bgpic->height);
  qvBitMap* front = AllocClearedBitMap(scaled ? d->scaleWidth : d->bgpic->width,
                                       scaled ? d->scaleHeight : d->bgpic->height);
  if (back == nullptr || front == nullptr) {
    FreeBitMap(back);
    FreeBitMap(front);
    return ERR_MEM;
  }
  FreeBitMap(d->backBuffer);
  FreeBitMap(d->frontBuffer);
  d->backBuffer = back;
  d->frontBuffer = front;
  qvBGPic* record = d->doubleBufferRecord;
  InitBGPicRecord(record, kObjectBrush, nullptr, 0, {0, record}, back, nullptr, nullptr,
                  back->width, back->height, true);
  if (d->outputType == kOutputPicture && OutputTarget() == record) d->outBitmap = back;
  return 0;
}

// The border strips that keep the picture's aspect inside a window of width x height.
void ComputeBorderStrips(qvDisplay* d, int32_t width, int32_t height) {
  d->borderLeft = d->borderTop = d->borderRight = d->borderBottom = 0;
  if (!(d->flags & kDisplayKeepProportions) || HasShapedWindow(d)) return;
  int32_t bw = d->bgpic->width, bh = d->bgpic->height;
  int32_t pw = width;
  int32_t ph = TruncateToInt(static_cast<double>(bh) / bw * width);
  if (ph > height) {
    ph = height;
    pw = TruncateToInt(static_cast<double>(bw) / bh * height);
  }
  d->borderLeft = (width - pw) / 2;
  d->borderRight = width - pw - d->borderLeft;
  d->borderTop = (height - ph) / 2;
  d->borderBottom = height - ph - d->borderTop;
}

void FreeBackdrop(qvScriptState* L) {
  if (gBackdrop != nullptr) {
    qvDisplay* backdrop = gBackdrop;
    gBackdrop = nullptr;
    SetStandInWindow(nullptr);
    FreeDisplayCore(L, {backdrop->header.id, backdrop->header.handle}, false);
  }
  if (gBackdropBGPic.handle != nullptr) DeleteBGPicNode(L, gBackdropBGPic, false);
  if (gBackdropBrush.handle != nullptr) ReleaseBrushId(L, gBackdropBrush, false);
  gBackdropBGPic = gBackdropBrush = {0, nullptr};
}

// The backdrop's picture of width x height: one colour, or the gradient from the start to the
// end colour. A gradient that a picture is placed on is an ordinary picture, never generated
// again.
int MakeBackdropPicture(qvScriptState* L, bool gradient, int32_t start, int32_t end, int32_t kind,
                        int32_t width, int32_t height, qvBGPic** out) {
  qvBackfillSettings settings{};
  InitGradientDefaults(&settings.gradient);
  settings.fillStyle = gradient ? kFillGradient : kFillColour;
  settings.colour = static_cast<uint32_t>(start) & 0xFFFFFFu;
  settings.gradient.startColour = settings.colour;
  settings.gradient.endColour = static_cast<uint32_t>(end) & 0xFFFFFFu;
  return CreateFilledBGPic(L, &gBackdropBGPic, kind, width, height, &settings, out);
}

// The brush that a texture or picture backfill shows: loaded from its file with the picture's
// transparent colour, or a copy of the applet's brush (which the script may free meanwhile); a
// picture that asks for it is scaled to the backdrop's size.
int MakeBackdropBrush(qvScriptState* L, const qvBackfill& fill, int32_t width, int32_t height,
                      qvBrush** out) {
  qvBrush* brush = nullptr;
  int code = 0;
  if (fill.file[0] != '\0') {
    qvBrushLoadOptions options;
    options.transparentColour = fill.transparentColor < 0 ? -1 : (fill.transparentColor & 0xFFFFFF);
    code = LoadBrushFromFile(L, &gBackdropBrush, true, fill.file, options, &brush);
  } else {
    qvBrush* source = nullptr;
    code = FindBrush(L, {fill.brushId, nullptr}, &source, kFindNoCopy);
    if (code == 0) code = CloneBrush(L, source, &gBackdropBrush, true, &brush);
  }
  if (code != 0) return code;
  if (fill.type == kBackfillPicture && fill.scalePicture) {
    code = ScaleBrushTo(brush, width, height, false);
    if (code != 0) return code;
  }
  *out = brush;
  return 0;
}

// Draws the picture backfill's brush onto the backdrop's picture at its position (unset: centred),
// through its alpha channel or mask when it has one; what lies off the picture is cut away.
void PlaceBackdropBrush(const qvBrush* brush, const qvBackfill& fill, qvBGPic* bgpic) {
  int32_t x = ResolveCoordX(fill.pictureX, brush->width, bgpic->width, 0.0);
  int32_t y = ResolveCoordY(fill.pictureY, brush->height, bgpic->height, 0.0);
  int32_t sx = 0, sy = 0, width = brush->width, height = brush->height;
  if (!ClipBltRect(nullptr, &sx, &sy, &x, &y, &width, &height, brush->width, brush->height,
                   bgpic->width, bgpic->height, false)) {
    return;
  }
  qvBitMap* dst = bgpic->current.bitmap;
  if (brush->alpha != nullptr) {
    BltAlphaBitMap(brush->bitmap, sx, sy, dst, x, y, width, height, brush->alpha);
  } else if (brush->mask != nullptr) {
    BltMaskBitMap(brush->bitmap, sx, sy, dst, x, y, width, height, brush->mask);
  } else {
    BltBitMap(brush->bitmap, sx, sy, dst, x, y, width, height);
  }
}

// The backdrop's listed BGPic of width x height for the backfill.
int MakeBackdropBGPic(qvScriptState* L, const qvBackfill& fill, int32_t width, int32_t height) {
  qvBGPic* bgpic = nullptr;
  qvBrush* brush = nullptr;
  switch (fill.type) {
    case kBackfillColor:
      return MakeBackdropPicture(L, false, fill.startColor, 0, kBGPicPicture, width, height,
                                 &bgpic);
    case kBackfillGradient:
      return MakeBackdropPicture(L, true, fill.startColor, fill.endColor, kBGPicGenerated, width,
                                 height, &bgpic);
    case kBackfillTexture: {
      int code = MakeBackdropBrush(L, fill, width, height, &brush);
      if (code != 0) return code;
      return CreateTexturedPicture(L, kObjectBGPic, &gBackdropBGPic, true, width, height,
                                   gBackdropBrush, 0, 0, nullptr);
    }
    case kBackfillPicture: {
      int code = MakeBackdropBrush(L, fill, width, height, &brush);
      if (code != 0) return code;
      // A start colour of -1 or -2 is unset (black), and so is an end colour of -1: one colour.
      bool unsetStart = fill.startColor == -1 || fill.startColor == -2;
      bool gradient = !unsetStart && fill.endColor != -1;
      code = MakeBackdropPicture(L, gradient, unsetStart ? 0 : fill.startColor, fill.endColor,
                                 kBGPicPicture, width, height, &bgpic);
      if (code != 0) return code;
      PlaceBackdropBrush(brush, fill, bgpic);
      return 0;
    }
    default:
      return ERR_BACKFILL;
  }
}

// Tells each satellite the display's new picture size; a callback may detach its own node.
void NotifySatellites(const qvDisplay* d) {
  qvLock* lock = GetDisplayListLock();
  if (lock != nullptr) EnterLock(lock);
  for (qvSatellite* s = d->satellites; s != nullptr;) {
    qvSatellite* next = s->next;
    if (s->callback != nullptr) s->callback(s->data, d->bgpic->width, d->bgpic->height);
    s = next;
  }
  if (lock != nullptr) LeaveLock(lock);
}

bool GradientChanged(const qvGradient& a, const qvGradient& b) {
  if (a.type != b.type || a.startColour != b.startColour || a.endColour != b.endColour ||
      a.stopCount != b.stopCount || a.angle != b.angle || a.centreX != b.centreX ||
      a.centreY != b.centreY || a.balance != b.balance || a.border != b.border) {
    return true;
  }
  for (int32_t i = 0; i < a.stopCount && i < kMaxGradientStops; ++i) {
    if (a.stops[i].colour != b.stops[i].colour || a.stops[i].position != b.stops[i].position) {
      return true;
    }
  }
  return false;
}

bool BackfillChanged(const qvBackfillSettings& a, const qvBackfillSettings& b) {
  return a.fillStyle != b.fillStyle || a.colour != b.colour || a.textureX != b.textureX ||
         a.textureY != b.textureY || a.textureBrush.number != b.textureBrush.number ||
         a.textureBrush.handle != b.textureBrush.handle || GradientChanged(a.gradient, b.gradient);
}

// Alt+Return: the main display's size in the other mode.
void OnModeSwitch(int32_t word) {
  qvScriptState* L = gModeSwitchMachine;
  if (L == nullptr) return;
  for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
    auto* d = reinterpret_cast<qvDisplay*>(h);
    if (!IsMainDisplay(d)) continue;
    ChangeDisplayModeCore(L, word == 1 ? DisplayMode::kFullScreen : DisplayMode::kWindowed,
                          d->width, d->height);
    return;
  }
}

// The user resized the display's window: the display takes the new size, so that its picture
// fills the window (an auto-scaled display's picture is scaled to it instead).
void OnUserResize(const qvWindow* window, int32_t width, int32_t height) {
  qvScriptState* L = gModeSwitchMachine;
  if (L == nullptr) return;
  for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
    auto* d = reinterpret_cast<qvDisplay*>(h);
    if (d->window != window || d->state != kDisplayOpen) continue;
    if (width == d->width && height == d->height && !IsScaledBy(d)) return;
    ReopenDisplay(L, d, kKeepPosition, kKeepPosition, width, height, !IsScaledBy(d),
                  d->smoothScale != 0, false);
    return;
  }
}

// Asked on the main thread, the display-list lock held: only the main display switches, not
// with "nomodeswitch" and not while a requester holds the script. The backdrop's window stands
// for the main display, which it lies behind.
bool ModeSwitchGate(const qvWindow* window) {
  bool backdrop = gBackdrop != nullptr && gBackdrop->window == window;
  for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
    auto* d = reinterpret_cast<qvDisplay*>(h);
    if (backdrop ? !IsMainDisplay(d) : d->window != window) continue;
    return IsMainDisplay(d) && !(d->flags & kDisplayNoModeSwitch) && !d->requesterOpen;
  }
  return false;
}

}  // namespace

bool IsBackdropDisplay(const qvDisplay* display) {
  return display != nullptr && display == gBackdrop;
}

int CreateBackdrop(qvScriptState* L, bool fullScreen) {
  qvBackfill fill;
  if (gSettings != nullptr && gSettings->backfill.type != kBackfillNone && !gStartedFullScreen) {
    fill = gSettings->backfill;
  } else if (fullScreen) {
    fill.type = kBackfillColor;
    fill.startColor = 0;
    fill.wholeScreen = 1;
  } else {
    return 0;
  }
  int32_t top = fill.wholeScreen ? 0 : GetScreenAttr(ScreenAttr::kReservedTop);
  int32_t width = GetScreenAttr(ScreenAttr::kWidth),
          height = GetScreenAttr(ScreenAttr::kHeight) - top;
  if (width < 1 || height < 1) return ERR_SCREEN;
  int code = MakeBackdropBGPic(L, fill, width, height);
  if (code != 0) {
    FreeBackdrop(L);
    return code;
  }

  qvDisplayTags tags;
  tags.y = top;
  tags.switchesGiven = tags.switchesOn = kDisplayBorderless | kDisplayFixed | kDisplayHidePointer;
  tags.private1 = 1;
  tags.bgpic = gBackdropBGPic;
  qvObjectId id{0, nullptr};
  code = CreateDisplayCore(L, &id, true, &tags, &gBackdrop);
  // Opened without being activated: the displays opened after it lie in front.
  if (code == 0) code = OpenDisplayCore(L, gBackdrop, false);
  if (code == 0) {
    // The backdrop takes no input of its own: its window stands for the main display's.
    RemoveDisplayInput(L, gBackdrop->window);
    SetStandInWindow(gBackdrop->window);
  }
  if (code != 0) FreeBackdrop(L);
  return code;
}

void ForgetBackdrop(const qvDisplay* display) {
  if (display == gBackdrop) gBackdrop = nullptr;
}

void SetDisplayModeSettings(qvAppletSettings* settings, bool startedFullScreen) {
  gSettings = settings;
  gStartedFullScreen = startedFullScreen;
  if (startedFullScreen && CurrentDisplay() != nullptr) {
    gFullWidth = CurrentDisplay()->width;
    gFullHeight = CurrentDisplay()->height;
  }
}

void InstallModeSwitch(qvScriptState* L) {
  gModeSwitchMachine = L;
  SetModeSwitchHandler(L != nullptr ? OnModeSwitch : nullptr);
  SetUserResizeHandler(L != nullptr ? OnUserResize : nullptr);
  SetModeSwitchGate(L != nullptr ? ModeSwitchGate : nullptr);
  if (L == nullptr) {
    gSettings = nullptr;
    gStartedFullScreen = false;
    gBackdrop = nullptr;
    gBackdropBGPic = gBackdropBrush = {0, nullptr};
  }
}

int ReopenDisplay(qvScriptState* L, qvDisplay* d, int32_t x, int32_t y, int32_t width,
                  int32_t height, bool resize, bool smooth, bool closed, bool notify) {
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  const int32_t oldWidth = d->width, oldHeight = d->height;
  bool scaled = IsScaledBy(d);
  if (scaled && d->layerScale) return ERR_NOLAYERS;
  bool open = !closed && IsWindowOpen(d->window);
  int32_t currentX, currentY;
  CurrentPosition(d, &currentX, &currentY);
  if (x == kKeepPosition) x = currentX;
  if (y == kKeepPosition) y = currentY;
  d->frame = ComputeWindowBorders(d->flags);

  // The window's new client size; a scaled display keeps its window on a resize.
  bool windowChanges = !scaled || !resize;
  int32_t windowX = currentX, windowY = currentY;
  if (windowChanges) {
    d->width = width;
    d->height = height;
    ResolveWindowPosition(d, x, y, &windowX, &windowY);
    d->width = oldWidth;
    d->height = oldHeight;
    // A refused size leaves the display as it was, so that it still matches its window.
    if (!HasShapedWindow(d)) {
      int code = CheckWindowFits(d, windowX, windowY, width, height);
      if (code != 0) return code;
    }
  }

  if (!scaled || resize) {
    int code = ResizeBGPic(L, d->bgpic, width, height, smooth);
    if (code != 0) return code;
  }
  if (windowChanges) {
    d->x = x;
    d->y = y;
    d->width = width;
    d->height = height;
  }
  if (scaled) {
    if (!resize) {
      d->scaleWidth = width;
      d->scaleHeight = height;
      ComputeBorderStrips(d, width, height);
    }
    d->scaleX = static_cast<double>(d->scaleWidth) / d->bgpic->width;
    d->scaleY = static_cast<double>(d->scaleHeight) / d->bgpic->height;
    ScaleRegionsToWindow(d);
  }
  SyncInputScale(d);
  int code = ReallocateBuffers(d);
  if (code != 0) return code;
  if (open) {
    CopyRegionsToWindow(d);
    if (HasShapedWindow(d)) {
      // A shape is made for one picture and one size: the window opens anew with both.
      qvWindowShapeSource shape = WindowShapeOf(d);
      qvWindowPlacement placement{windowX,  windowY,  d->width,       d->height,
                                  d->flags, d->title, d->active != 0, false};
      code = OpenDisplayWindow(d->window, placement, &shape);
    } else if (windowChanges) {
      code = MoveResizeWindow(d->window, windowX, windowY, d->width, d->height);
    }
    if (code != 0) return code;
    RedrawDisplay(L, d, 0);
  }
  ResetTextCursor(d);
  if (notify && (d->width != oldWidth || d->height != oldHeight)) NotifySatellites(d);
  return 0;
}

void MoveDisplayCore(qvDisplay* d, int32_t x, int32_t y) {
  d->x = x;
  d->y = y;
  if (!IsWindowOpen(d->window)) return;
  int32_t windowX, windowY;
  ResolveWindowPosition(d, x, y, &windowX, &windowY);
  MoveResizeWindow(d->window, windowX, windowY, d->width, d->height);
}

int HideDisplayCore(qvDisplay* d, bool hide) {
  if (d->state != (hide ? kDisplayOpen : kDisplayMinimized)) return ERR_WRONGUSAGE;
  ShowDisplayWindow(d->window, hide);
  d->state = hide ? kDisplayMinimized : kDisplayOpen;
  d->active = hide ? 0 : 1;
  return 0;
}

int SetDisplayTitle(qvDisplay* d, const char* title, size_t length) {
  if (length > kTitleSize - 1) return ERR_WRONGUSAGE;
  std::memcpy(d->title, title, length);
  d->title[length] = '\0';
  if (d->state != kDisplayClosed) SetWindowTitle(d->window, d->title);
  return 0;
}

int SelectDisplayCore(qvScriptState* L, qvDisplay* d, bool noActivate) {
  qvDisplay* previous = CurrentDisplay();
  if (previous != d) {
    if (previous != nullptr && !previous->doubleBuffer && previous->outputType != kOutputDisplay) {
      int code = EndSelectOutput(L, previous, false);
      if (code != 0) return code;
    }
    if (d->displayBitmap == nullptr) {
      int code = AllocDisplayBuffers(d, d->bgpic, true);
      if (code != 0) return code;
    }
    SetCurrentDisplay(d);
    SetOutputTarget(d->doubleBuffer ? d->doubleBufferRecord : d->bgpic);
  }
  if (!noActivate && d->state == kDisplayOpen) {
    ActivateDisplayWindow(d->window, true);
    d->active = 1;
  }
  return 0;
}

int GetSortedDisplayModes(std::vector<std::pair<int32_t, int32_t>>* modes) {
  int32_t count = ListDisplayModes(nullptr, 0);
  if (count <= 0) return ERR_NODISPMODES;
  modes->assign(static_cast<size_t>(count), {0, 0});
  count = ListDisplayModes(modes->data(), count);
  modes->resize(static_cast<size_t>(std::max(count, 0)));
  if (modes->empty()) return ERR_NODISPMODES;
  std::stable_sort(modes->begin(), modes->end());
  return 0;
}

int ChangeDisplayModeCore(qvScriptState* L, DisplayMode mode, int32_t width, int32_t height) {
  bool full = mode == DisplayMode::kFullScreen;
  bool wasFull = IsFullScreen();
  if (full && wasFull && width == gFullWidth && height == gFullHeight) return 0;
  if (!full && !wasFull) return 0;

  std::vector<qvDisplay*> marked;
  for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
    auto* d = reinterpret_cast<qvDisplay*>(h);
    if (d == gBackdrop || d->state == kDisplayClosed) continue;
    if (full && !wasFull) {
      // Where the window stands now is where the switch back puts it.
      CurrentPosition(d, &d->windowedX, &d->windowedY);
      d->windowedFlags = d->flags & kFrameBits;
      d->windowedSaved = 1;
    }
    int32_t active = d->active;
    CloseDisplayCore(d);
    d->active = active;
    d->reopen = 1;
    marked.push_back(d);
  }
  FreeBackdrop(L);

  int code = full ? FindBestDisplayMode(width, height, GetScreenAttr(ScreenAttr::kDepth))
                  : RestoreDisplayMode();
  if (code != 0) {
    // The screen stays as it was, and so do the windows.
    for (qvDisplay* d : marked) {
      d->reopen = 0;
      OpenDisplayCore(L, d, d->active != 0);
    }
    if (wasFull) CreateBackdrop(L, true);
    return code;
  }
  SetFullScreenFlag(full);
  SetInputFullScreen(full);
  gFullWidth = full ? width : 0;
  gFullHeight = full ? height : 0;

  int backdropCode = CreateBackdrop(L, full);
  for (qvDisplay* d : marked) {
    d->reopen = 0;
    if (full) {
      if (!d->private1) d->x = d->y = kCenter;
      d->flags = (d->flags | kDisplayBorderless | kDisplayFixed) & ~kDisplaySizeable;
    } else if (d->windowedSaved) {
      if (!d->private1) {
        d->x = d->windowedX;
        d->y = d->windowedY;
      }
      d->flags = (d->flags & ~kFrameBits) | d->windowedFlags;
      d->windowedSaved = 0;
    } else {
      if (!d->private1) d->x = d->y = kCenter;
      d->flags &= ~(kDisplayBorderless | kDisplayFixed);
    }
    code = OpenDisplayCore(L, d, d->active != 0);
    if (code != 0) return code;
  }
  return backdropCode;
}

int ApplyDisplayAttributes(qvScriptState* L, qvDisplay* d, const qvDisplayTags& tags) {
  // The tags go into a copy first, so that a refused one leaves the display as it was.
  std::unique_ptr<qvDisplay> copy(new (std::nothrow) qvDisplay);
  std::unique_ptr<qvDisplay> old(new (std::nothrow) qvDisplay);
  if (!copy || !old) return ERR_MEM;
  std::memcpy(static_cast<void*>(copy.get()), d, sizeof *d);
  std::memcpy(static_cast<void*>(old.get()), d, sizeof *d);
  int code = ApplyDisplayTags(L, copy.get(), tags, false);
  if (code != 0) return code;
  // Layer scaling rebuilds layers, which are not there yet.
  if (copy->layerScale && !d->layerScale) return ERR_NOLAYERS;
  bool newBGPic = copy->bgpic != d->bgpic;
  bool widthGiven = !newBGPic && tags.width.has_value();
  bool heightGiven = !newBGPic && tags.height.has_value();
  int32_t pictureWidth = widthGiven ? copy->width : d->bgpic->width;
  int32_t pictureHeight = heightGiven ? copy->height : d->bgpic->height;
  bool resize = (widthGiven || heightGiven) &&
                (pictureWidth != d->bgpic->width || pictureHeight != d->bgpic->height);
  bool wasShaped = HasShapedWindow(d);
  // A plain position that the frame's coming or going moves, so that the picture stays put.
  int32_t resolvedX, resolvedY;
  ResolveWindowPosition(old.get(), old->x, old->y, &resolvedX, &resolvedY);
  bool plainPosition = resolvedX == old->x && resolvedY == old->y;

  std::memcpy(static_cast<void*>(d), copy.get(), sizeof *d);
  d->width = old->width;
  d->height = old->height;
  if (d->layerScale) d->layersOn = 1;

  if (!newBGPic && d->ownBGPic && BackfillChanged(d->backfill, old->backfill)) {
    if (d->backfill.textureBrush.number != old->backfill.textureBrush.number ||
        d->backfill.textureBrush.handle != old->backfill.textureBrush.handle) {
      FreeBitMap(d->backfill.textureCache);
      d->backfill.textureCache = nullptr;
    }
    qvBGPic* own = d->bgpic;
    code = FillBackground(L, own->current.bitmap, own->width, own->height, &d->backfill);
    if (code == 0) code = AllocDisplayBuffers(d, own, false);
    if (code != 0) return code;
  }
  if (newBGPic) {
    if (d->doubleBuffer || d->doubleBufferSuspended) FreeDoubleBuffer(d);
    if (d->outputType != kOutputDisplay && CurrentDisplay() == d) EndSelectOutput(L, d, true);
    code = AllocDisplayBuffers(d, d->bgpic, true);
    if (code != 0) return code;
    if (CurrentDisplay() == d) SetOutputTarget(d->bgpic);
    // The region set on the picture shown before was the display's: it does not clip that
    // picture wherever it is drawn into later.
    old->bgpic->clipRegion = nullptr;
    // A button held on the picture shown before is not released on the new one.
    ResetButtonStates(old->bgpic);
    ResetButtonStates(d->bgpic);
    // The picture the display made for itself goes with it.
    if (old->ownBGPic) {
      DeleteBGPicNode(L, {old->bgpic->header.id, old->bgpic->header.handle}, false);
    } else if (old->bgpic->layerCopy) {
      // A picture the script freed while it was shown was kept only for this display.
      PurgeDetachedBGPics(L);
    }
  }
  if (resize) {
    code = ReopenDisplay(L, d, d->x, d->y, pictureWidth, pictureHeight, true, d->smoothScale != 0,
                         true);
    if (code != 0) return code;
  }

  // The window: the scale size while scaled, else the picture's size.
  bool scaled = IsScaledBy(d);
  int32_t windowWidth = scaled ? d->scaleWidth : d->bgpic->width;
  int32_t windowHeight = scaled ? d->scaleHeight : d->bgpic->height;
  d->scaleX = scaled ? static_cast<double>(d->scaleWidth) / d->bgpic->width : 1.0;
  d->scaleY = scaled ? static_cast<double>(d->scaleHeight) / d->bgpic->height : 1.0;
  if (scaled) {
    ComputeBorderStrips(d, windowWidth, windowHeight);
  } else {
    d->borderLeft = d->borderTop = d->borderRight = d->borderBottom = 0;
  }
  SyncInputScale(d);
  d->width = windowWidth;
  d->height = windowHeight;
  if (newBGPic || resize) ResetTextCursor(d);
  if (!IsWindowOpen(d->window)) {
    ScaleRegionsToWindow(d);
    return 0;
  }

  bool moved = d->x != old->x || d->y != old->y;
  if (((d->flags ^ old->flags) & kDisplayBorderless) != 0 && !moved && plainPosition) {
    qvWindowFrame frame = (d->flags & kDisplayBorderless) ? old->frame
                                                          : ComputeWindowBorders(d->flags);
    int32_t sign = (d->flags & kDisplayBorderless) ? 1 : -1;
    d->x += sign * frame.left;
    d->y += sign * frame.top;
  }
  // A window shaped by the new picture's mask or alpha channel opens anew with its shape; any
  // other window takes a new picture's size as a resize.
  if (((d->flags ^ old->flags) & kReopenBits) != 0 || (newBGPic && HasShapedWindow(d)) ||
      HasShapedWindow(d) != wasShaped) {
    int32_t active = d->active;
    CloseDisplayCore(d);
    return OpenDisplayCore(L, d, active != 0);
  }
  if (moved || windowWidth != old->width || windowHeight != old->height) {
    int32_t x, y;
    ResolveWindowPosition(d, d->x, d->y, &x, &y);
    code = CheckWindowFits(d, x, y, windowWidth, windowHeight);
    if (code == 0) code = MoveResizeWindow(d->window, x, y, windowWidth, windowHeight);
    if (code != 0) return code;
  }
  ScaleRegionsToWindow(d);
  CopyRegionsToWindow(d);
  if (std::strcmp(d->title, old->title) != 0) SetWindowTitle(d->window, d->title);
  RedrawDisplay(L, d, 0);
  return 0;
}

}  // namespace qv
