// Display commands: creating, freeing, opening, closing, selecting and activating displays, their
// size, place, title and attributes, minimising them, and the screen modes.
#include <utility>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/player_state.h"
#include "display/display.h"
#include "libs/display/commands.h"
#include "libs/options/options.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

constexpr int32_t kCenter = -100000;

// The display that the commands without an id change; none exists before start-up opens one.
qvDisplay* Current() { return CurrentDisplay(); }

int32_t FoundDisplay(qvScriptState* L, int index, qvDisplay** out) {
  return FindDisplay(CheckObjectId(L, index), out);
}

bool OptFlag(qvScriptState* L, int index) {
  return VmGetTop(L) >= index && VmType(L, index) != kTypeNil && VmCheckInt(L, index) != 0;
}

}  // namespace

int32_t CreateDisplay(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  qvOptionalId optional = OptObjectId(L, 1);
  qvObjectId id{optional.number, nullptr};
  // A display under the id goes first, before its successor's tags are read.
  if (!optional.automatic) {
    int code = FreeDisplayCore(L, id, false);
    if (code != 0) return code;
  }
  // Anything but a table there gives no tags.
  qvDisplayTags tags;
  bool tagsGiven = VmGetTop(L) >= 2 && VmType(L, 2) == kTypeTable;
  if (tagsGiven) {
    qvBackfillSettings fill{};
    fill.fillStyle = kFillColour;
    InitGradientDefaults(&fill.gradient);
    int code = ReadDisplayTags(L, 2, true, fill, &tags);
    if (code != 0) return code;
  }
  int code = CreateDisplayCore(L, &id, optional.automatic != 0, tagsGiven ? &tags : nullptr,
                               nullptr);
  if (code != 0) return code;
  if (!optional.automatic) return 0;
  VmPushLightUserdata(L, id.handle);
  return 1;
}

int32_t ChangeDisplaySize(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  qvDisplay* d = Current();
  if (d == nullptr) return ERR_WRONGUSAGE;
  int32_t width = DoubleToInt32(GetNumberOrPercent(L, 1, d->bgpic->width, 1, nullptr));
  int32_t height = DoubleToInt32(GetNumberOrPercent(L, 2, d->bgpic->height, 1, nullptr));
  int32_t x = kCenter, y = kCenter, smooth = 0;
  if (VmGetTop(L) >= 3 && VmType(L, 3) == kTypeTable) {
    GetFieldInt(L, 3, "x", &x, nullptr);
    GetFieldInt(L, 3, "y", &y, nullptr);
    GetFieldInt(L, 3, "smooth", &smooth, nullptr);
  } else {
    smooth = OptFlag(L, 3) ? 1 : 0;
  }
  int32_t code = ResolveScaleSize(d->bgpic->width, d->bgpic->height, &width, &height);
  if (code != 0) return code;
  // A minimised window is sized too, so that it matches its display when it comes back.
  return ReopenDisplay(L, d, x, y, width, height, true, smooth != 0, d->state == kDisplayClosed);
}

int32_t SetTitle(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  size_t length = 0;
  const char* title = VmCheckString(L, 1, &length);
  qvDisplay* d = Current();
  if (d == nullptr) return ERR_WRONGUSAGE;
  return SetDisplayTitle(d, title, length);
}

int32_t MoveDisplay(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  int32_t x = VmCheckInt(L, 1);
  int32_t y = VmCheckInt(L, 2);
  qvDisplay* d = Current();
  if (d == nullptr) return ERR_WRONGUSAGE;
  MoveDisplayCore(d, x, y);
  return 0;
}

int32_t HideDisplay(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  qvDisplay* d = Current();
  return d != nullptr ? HideDisplayCore(d, true) : ERR_WRONGUSAGE;
}

int32_t ShowDisplay(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  qvDisplay* d = Current();
  return d != nullptr ? HideDisplayCore(d, false) : ERR_WRONGUSAGE;
}

int32_t SetDisplayAttributes(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  VmCheckTable(L, 1);
  qvDisplay* d = Current();
  if (d == nullptr) return ERR_WRONGUSAGE;
  qvDisplayTags tags;
  int32_t code = ReadDisplayTags(L, 1, false, d->backfill, &tags);
  if (code != 0) return code;
  return ApplyDisplayAttributes(L, d, tags);
}

int32_t FreeDisplay(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return FreeDisplayCore(L, CheckObjectId(L, 1), true);
}

int32_t OpenDisplay(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  qvDisplay* d = nullptr;
  int32_t code = FoundDisplay(L, 1, &d);
  if (code != 0) return code;
  bool noSelect = OptFlag(L, 2);
  if (d->state != kDisplayClosed) return ERR_WRONGUSAGE;
  code = OpenDisplayCore(L, d, (d->flags & kDisplayActive) != 0);
  if (code != 0) return code;
  return noSelect ? 0 : SelectDisplayCore(L, d, true);
}

int32_t CloseDisplay(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvDisplay* d = nullptr;
  int32_t code = FoundDisplay(L, 1, &d);
  if (code != 0) return code;
  if (d->state == kDisplayClosed) return ERR_WRONGUSAGE;
  CloseDisplayCore(d);
  return 0;
}

int32_t SelectDisplay(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  qvDisplay* d = nullptr;
  int32_t code = FoundDisplay(L, 1, &d);
  if (code != 0) return code;
  return SelectDisplayCore(L, d, OptFlag(L, 2));
}

int32_t ActivateDisplay(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  qvDisplay* d = nullptr;
  int32_t code = FoundDisplay(L, 1, &d);
  if (code != 0) return code;
  bool noActivate = OptFlag(L, 2);
  if (d->state != kDisplayOpen) return ERR_WRONGUSAGE;
  ActivateDisplayWindow(d->window, !noActivate);
  if (!noActivate) d->active = 1;
  return 0;
}

int32_t ChangeDisplayMode(qvScriptState* L) {
  CheckArgCount(L, 1, 3);
  DisplayMode mode;
  if (!DisplayModeFromScript(VmCheckInt(L, 1), &mode)) return ERR_WRONGUSAGE;
  qvDisplay* d = Current();
  if (d == nullptr) return ERR_WRONGUSAGE;
  // Without a size the screen is asked for the current display's.
  int32_t width = VmGetTop(L) >= 2 ? VmCheckInt(L, 2) : d->width;
  int32_t height = VmGetTop(L) >= 3 ? VmCheckInt(L, 3) : d->height;
  if (mode == DisplayMode::kFullScreen && (width < 1 || height < 1)) return ERR_WRONGUSAGE;
  return ChangeDisplayModeCore(L, mode, width, height);
}

int32_t GetDisplayModes(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  std::vector<std::pair<int32_t, int32_t>> modes;
  int32_t code = GetSortedDisplayModes(&modes);
  if (code != 0) return code;
  VmNewTable(L);
  int list = VmGetTop(L);
  for (size_t i = 0; i < modes.size(); ++i) {
    VmNewTable(L);
    SetFieldInt(L, "width", modes[i].first);
    SetFieldInt(L, "height", modes[i].second);
    VmRawSetI(L, list, static_cast<int>(i));
  }
  return 1;
}

}  // namespace qv::cmd
