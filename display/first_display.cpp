// Start-up's first display: the window mode from the settings, the status texts, the buffers of
// every display, and the displays that open before the script's first line.
#include <cstdio>

#include "base/errors.h"
#include "core/error_table.h"
#include "core/errors.h"
#include "core/player_state.h"
#include "core/registry.h"
#include "core/requesters.h"
#include "display/async_draw.h"
#include "display/brush_edit.h"
#include "display/display.h"
#include "display/internal.h"
#include "display/pointers.h"
#include "display/sprites.h"
#include "platform/textout.h"
#include "text/fonts.h"

namespace qv {

namespace {

constexpr uint32_t kDesktopFlags = 0x42D;   // borderless, fixed, nomodeswitch, nohide, active
constexpr uint32_t kFullScreenFlags = 0x5;  // borderless, fixed
constexpr int32_t kModeAsk = 3;
constexpr int32_t kModeFullScreen2 = 4;

// The first button is full screen; the last one ("Windowed") is also what closing it answers.
bool AskFullScreen() {
  int32_t answer = 0;
  if (MessageRequest("QuillvanePlayer", GetErrorText(kTextSelectDisplayMode),
                     GetErrorText(kTextDisplayModeChoice), 0, 1, 0, &answer) != 0) {
    return false;
  }
  return answer == 1;
}

// What the image engine asks of the displays: the current display's scale, so that a full
// display picture transformed by it hits the window to the pixel, and whether its layers are
// on, so that a layer applies a draw style itself.
bool CurrentDisplayScale(qvDisplayScale* out) {
  const qvDisplay* d = CurrentDisplay();
  if (d == nullptr || d->bgpic == nullptr || !IsScaledDisplay(d)) return false;
  const int32_t width = d->bgpic->width, height = d->bgpic->height;
  *out = {width,
          height,
          static_cast<double>(d->scaleWidth) / width,
          static_cast<double>(d->scaleHeight) / height,
          d->scaleWidth,
          d->scaleHeight};
  return true;
}

bool CurrentDisplayLayersOn() {
  const qvDisplay* d = CurrentDisplay();
  return d != nullptr && d->layersOn != 0;
}

}  // namespace

int OpenFirstDisplay(qvScriptState* L, qvAppletSettings* settings, qvPlayerState*, bool quiet) {
  qvDisplay* first = nullptr;
  int code = FindDisplay({1, nullptr}, &first);
  if (code != 0) return code;

  int32_t mode = settings->displayMode == 0 ? 1 : settings->displayMode;
  bool fullScreen = false;
  bool blackBackfill = false;
  if (settings->desktopDisplay) {
    // The desktop display is a window whatever the mode says.
    if (first->autoScale || first->layerScale) return ERR_DDAUTOSCALE;
    first->flags = kDesktopFlags;
  } else {
    if (mode == kModeAsk) mode = AskFullScreen() ? 2 : 1;
    if (mode == 2 || mode == kModeFullScreen2) {
      first->flags |= kFullScreenFlags;
      fullScreen = true;
      blackBackfill = true;
    } else if (mode == kDisplayModeFakeFullScreen) {
      first->flags |= kFullScreenFlags | kDisplayFakeFullScreen;
      blackBackfill = true;
    }
  }
  if (blackBackfill) {
    settings->backfill.type = kBackfillColor;
    settings->backfill.startColor = 0;
    settings->backfill.wholeScreen = 1;
  }
  if (fullScreen) {
    code = FindBestDisplayMode(first->width, first->height, GetScreenAttr(ScreenAttr::kDepth));
    if (code != 0) return code;
    SetFullScreenFlag(true);
  }

  PrintStatusMessage(GetErrorText(kTextPreparingDisplay), nullptr, true);
  code = ResolvePreloadedBGPics(L);
  if (code != 0) return code;
  code = ResolvePreloadedBrushes();
  if (code != 0) return code;
  // Declared sprites loaded from anim files keep their frames' pixels until now.
  code = ResolvePreloadedSprites();
  if (code != 0) return code;
  // Declared colour fonts likewise keep their glyph pixels.
  code = FinishColorFonts();
  if (code != 0) return code;
  PrintDoneMessage();
  if (!quiet) {
    char text[128];
    std::snprintf(text, sizeof text, "%s\n", GetErrorText(kTextAndAction));
    OutputText(text);
  }

  if (settings->desktopDisplay) {
    qvBGPic* bgpic = first->bgpic;
    GrabScreen(0, 0, bgpic->width, bgpic->height,
               reinterpret_cast<uint32_t*>(bgpic->current.bitmap->pixels),
               bgpic->current.bitmap->bytesPerRow / 4);
  }

  for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
    auto* d = reinterpret_cast<qvDisplay*>(h);
    // No line of the script has run: a display's own picture is still as its black fill left it
    // (the desktop display's holds the screen grab), and its buffers need no copy of it.
    bool blank = d->ownBGPic && !(settings->desktopDisplay && d == first) &&
                 FillLeavesZero(d->backfill);
    code = AllocDisplayBuffers(d, d->bgpic, true, blank);
    if (code != 0) return code;
    d->outBitmap = d->displayBitmap;
    if (IsScaledDisplay(d)) {
      d->scaleX = static_cast<double>(d->scaleWidth) / d->bgpic->width;
      d->scaleY = static_cast<double>(d->scaleHeight) / d->bgpic->height;
    }
    SyncInputScale(d);
  }

  // The backdrop opens first, so that every display lies in front of it.
  SetDisplayModeSettings(settings, fullScreen);
  if (settings->backfill.type != kBackfillNone) {
    code = CreateBackdrop(L, fullScreen);
    if (code != 0) return code;
  }

  qvDisplay* current = nullptr;
  for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
    auto* d = reinterpret_cast<qvDisplay*>(h);
    if ((d->flags & kDisplayHidden) || IsBackdropDisplay(d)) continue;
    bool active = (d->flags & kDisplayActive) != 0;
    code = OpenDisplayCore(L, d, active);
    if (code != 0) return code;
    if (active && current == nullptr) current = d;
  }
  if (current == nullptr) {
    current = first;
  } else {
    ActivateDisplayWindow(current->window, true);
  }
  SetCurrentDisplay(current);
  SetOutputTarget(current->bgpic);
  SetDisplayModeSettings(settings, fullScreen);
  return 0;
}

int32_t OpenDisplaySubsystem() {
  qvImageHost host;
  host.displayScale = CurrentDisplayScale;
  host.layersOn = CurrentDisplayLayersOn;
  host.pluginTransform = TransformPluginPicture;
  SetImageHost(&host);
  for (qvObjectHeader** head : {DisplayListHead(), BGPicListHead(), BrushListHead()}) {
    int32_t code = RegisterObjectList(head);
    if (code != 0) return code;
  }
  int32_t code = RegisterDisplayAttributes();
  if (code == 0) code = OpenSprites();
  if (code == 0) code = OpenClipRegions();
  if (code == 0) code = OpenPointers();
  return code != 0 ? code : OpenAsyncDraws();
}

void FreeDisplaySubsystem(qvScriptState* L) {
  InstallModeSwitch(nullptr);
  SetImageHost(nullptr);
  // The objects drawing on the displays are dropped before the displays go.
  FreeAllAsyncDraws(L);
  // Regions go first: freeing one clears the displays' and BGPics' references to it.
  FreeAllClipRegions(L);
  FreeAllSprites(L);
  FreeAllDisplays(L);
  // The windows that showed the pointers are gone.
  FreeAllPointers(L);
  FreeAllBGPics(L);
  FreeAllBrushes(L);
  FreeImageCache();
  FreeClipScratch();
}

}  // namespace qv
