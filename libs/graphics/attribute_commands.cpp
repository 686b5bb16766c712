// GetAttribute: one question about an object of any kind. Displays, BGPics, brushes, event
// handlers, intervals and time-outs answer here; the other kinds are found (their not-found
// errors hold) and answer when their subsystems come.
#include <cstdint>
#include <cstring>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/events.h"
#include "core/registry.h"
#include "display/display.h"
#include "libs/graphics/commands.h"
#include "platform/window_services.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

// The attribute numbers (ATTR* constants).
enum : int32_t {
  kAttrWidth = 0,
  kAttrHeight = 1,
  kAttrMaxWidth = 2,
  kAttrMaxHeight = 3,
  kAttrBGPic = 4,
  kAttrTransparentColor = 5,
  kAttrLayers = 6,
  kAttrXPos = 7,
  kAttrYPos = 8,
  kAttrType = 9,
  kAttrVisible = 10,
  kAttrNumFrames = 11,
  kAttrCurFrame = 12,
  kAttrLayerId = 13,
  kAttrDuration = 14,
  kAttrPitch = 15,
  kAttrHasMask = 16,
  kAttrHasAlpha = 17,
  kAttrPosition = 18,
  kAttrFormat = 19,
  kAttrBitRate = 20,
  kAttrCursorX = 21,
  kAttrCursorY = 22,
  kAttrOnScreen = 23,
  kAttrBorderLeft = 24,
  kAttrBorderTop = 25,
  kAttrBorderRight = 26,
  kAttrBorderBottom = 27,
  kAttrHostWidth = 28,
  kAttrHostHeight = 29,
  kAttrFontAscender = 30,
  kAttrFontDescender = 31,
  kAttrFontName = 32,
  kAttrFontSize = 33,
  kAttrFontScalable = 34,
  kAttrFontAA = 35,
  kAttrText = 36,
  kAttrFrameDelay = 37,
  kAttrPointer = 38,
  kAttrClipRegion = 39,
  kAttrState = 40,
  kAttrActive = 41,
  kAttrMode = 42,
  kAttrScaleMode = 43,
  kAttrScaleWidth = 44,
  kAttrScaleHeight = 45,
  kAttrBorderless = 46,
  kAttrFixed = 47,
  kAttrSizeable = 48,
  kAttrNoHide = 49,
  kAttrNoModeSwitch = 50,
  kAttrTitle = 51,
  kAttrMarginLeft = 52,
  kAttrMarginRight = 53,
  kAttrOutputDevice = 54,
  kAttrDoubleBuffer = 55,
  kAttrHostDepth = 56,
  kAttrSize = 57,
  kAttrFunction = 58,
  kAttrUserData = 59,
  kAttrCount = 60,
  kAttrNoClose = 61,
  kAttrGroup = 62,
  kAttrMaskMode = 63,
  kAttrAlphaIntensity = 64,
  kAttrRawXPos = 65,
  kAttrRawYPos = 66,
  kAttrRawWidth = 67,
  kAttrRawHeight = 68,
  kAttrLayersOn = 69,
  kAttrOrientation = 70,
  kAttrKeyboard = 71,
  kAttrCanSeek = 72,
  kAttrHardware = 73,
  kAttrZPos = 74,
  kAttrDriver = 75,
};

// Display flag bits that GetAttribute reports.
enum : uint32_t {
  kFlagBorderless = 0x1,
  kFlagSizeable = 0x2,
  kFlagFixed = 0x4,
  kFlagNoModeSwitch = 0x8,
  kFlagNoHide = 0x20,
  kFlagNoClose = 0x4000,
};

constexpr int32_t kFontAttributes[] = {kAttrFontAscender, kAttrFontDescender, kAttrFontName,
                                       kAttrFontSize,     kAttrFontScalable,  kAttrFontAA};

// A kind whose subsystem is still to come: how its objects are missed and what it will answer.
struct PendingKind {
  int32_t kind;
  int32_t notFound;
  std::initializer_list<int32_t> attributes;  // ATTRCOUNT is always known
  bool fontAttributes;
};
const PendingKind kPendingKinds[] = {
    {kObjectAnim,
     ERR_FINDANIM,
     {kAttrWidth, kAttrHeight, kAttrTransparentColor, kAttrNumFrames, kAttrHasMask, kAttrHasAlpha,
      kAttrFrameDelay},
     false},
    {kObjectTextObject, ERR_FINDTEXTOBJECT, {kAttrWidth, kAttrHeight, kAttrText}, true},
    {kObjectSprite,
     ERR_FINDSPRITE,
     {kAttrWidth, kAttrHeight, kAttrTransparentColor, kAttrXPos, kAttrYPos, kAttrNumFrames,
      kAttrCurFrame, kAttrHasMask, kAttrHasAlpha, kAttrOnScreen},
     false},
    {kObjectClipRegion, ERR_FINDCLIPREGION, {kAttrWidth, kAttrHeight, kAttrXPos, kAttrYPos}, false},
    {kObjectPointer, ERR_FINDPOINTER, {kAttrType}, false},
    {kObjectAsyncDraw, ERR_FINDASYNCDRAW, {kAttrType, kAttrNumFrames, kAttrCurFrame}, false},
    {kObjectSample,
     ERR_FINDSAMPLE,
     {kAttrType, kAttrNumFrames, kAttrDuration, kAttrPitch, kAttrPosition},
     false},
    {kObjectMusic,
     ERR_FINDMUSIC,
     {kAttrType, kAttrDuration, kAttrPitch, kAttrPosition, kAttrFormat, kAttrBitRate, kAttrCanSeek},
     false},
    {kObjectVideo,
     ERR_FINDVIDEO,
     {kAttrWidth, kAttrHeight, kAttrNumFrames, kAttrDuration, kAttrPosition, kAttrFormat,
      kAttrCanSeek, kAttrDriver},
     false},
    {kObjectMemory, ERR_FINDMEMBLK, {kAttrSize}, false},
    {kObjectFont, ERR_FINDFONT, {}, true},
    {kObjectFile, ERR_FINDFILE, {kAttrType}, false},
    {kObjectDirectory, ERR_FINDDIR, {}, false},
    {kObjectVectorPath, ERR_FINDPATH, {}, false},
    {kObjectMoveList, ERR_FINDMOVE, {}, false},
    {kObjectAnimStream, ERR_FINDANIMSTREAM, {}, false},
    {kObjectTimer, ERR_FINDTIMER, {}, false},
    {kObjectClient, ERR_FINDCLIENT, {}, false},
    {kObjectServer, ERR_FINDSERVER, {}, false},
    {kObjectUdpObject, ERR_FINDUDPOBJECT, {}, false},
};

bool IsIn(std::initializer_list<int32_t> list, int32_t value) {
  for (int32_t v : list) {
    if (v == value) return true;
  }
  return false;
}

bool IsFontAttribute(int32_t attribute) {
  for (int32_t a : kFontAttributes) {
    if (a == attribute) return true;
  }
  return false;
}

void PushId(qvScriptState* L, int32_t number, void* handle) {
  if (handle != nullptr) {
    VmPushLightUserdata(L, handle);
  } else {
    VmPushNumber(L, number);
  }
}

// A colour word as the script reads it: unsigned, so that "none" is NOTRANSPARENCY.
void PushColour(qvScriptState* L, int32_t colour) {
  VmPushNumber(L, static_cast<uint32_t>(colour));
}

void PushReference(qvScriptState* L, int32_t ref) {
  if (ref == kNoReference) {
    VmPushNil(L);
  } else {
    VmRawGetI(L, kRegistryIndex, ref);
  }
}

int32_t CountLayers(const qvBGPic* bgpic) {
  int32_t n = 0;
  for (const qvNode* node = bgpic->layers.head; node != nullptr && node->next != nullptr;
       node = node->next) {
    ++n;
  }
  return n;
}

int32_t DisplayAttribute(qvScriptState* L, qvDisplay* d, int32_t attribute) {
  qvWindowFrame frame = ComputeWindowBorders(d->flags);
  bool scaled = (d->autoScale || d->layerScale) && d->scaleWidth != 0 && d->scaleHeight != 0;
  auto flag = [&](uint32_t bit) { return (d->flags & bit) != 0 ? 1 : 0; };
  double value = 0;
  switch (attribute) {
    case kAttrWidth:
      value = d->bgpic->width;
      break;
    case kAttrHeight:
      value = d->bgpic->height;
      break;
    case kAttrMaxWidth:
      value = GetScreenAttr(ScreenAttr::kWidth) - frame.totalWidth;
      break;
    case kAttrMaxHeight:
      value = GetScreenAttr(ScreenAttr::kHeight) - frame.totalHeight;
      break;
    case kAttrBGPic:
      PushId(L, d->bgpic->header.id, d->bgpic->header.handle);
      return 1;
    case kAttrLayers:
      value = CountLayers(d->bgpic);
      break;
    case kAttrXPos:
    case kAttrYPos: {
      qvWindowPlacement placement{};
      bool open = GetWindowPlacement(d->window, &placement);
      if (attribute == kAttrXPos) {
        value = open ? placement.x : d->x;
      } else {
        value = open ? placement.y : d->y;
      }
      break;
    }
    case kAttrCursorX:
      value = d->cursorX;
      break;
    case kAttrCursorY:
      value = d->cursorY;
      break;
    case kAttrBorderLeft:
      value = frame.left;
      break;
    case kAttrBorderTop:
      value = frame.top;
      break;
    case kAttrBorderRight:
      value = frame.totalWidth - frame.left;
      break;
    case kAttrBorderBottom:
      value = frame.totalHeight - frame.top;
      break;
    case kAttrHostWidth:
      value = GetScreenAttr(ScreenAttr::kWidth);
      break;
    case kAttrHostHeight:
      value = GetScreenAttr(ScreenAttr::kHeight);
      break;
    case kAttrHostDepth:
      value = GetScreenAttr(ScreenAttr::kDepth);
      break;
    case kAttrPointer:
      // Pointer images come with their commands; until then the system pointer shows.
      VmPushNil(L);
      return 1;
    case kAttrState:
      value = d->state;
      break;
    case kAttrActive:
      value = d->active;
      break;
    case kAttrMode:
      value = IsFullScreen() ? 2 : 1;
      break;
    case kAttrScaleMode:
      value = d->autoScale ? 1 : (d->layerScale ? 2 : 0);
      break;
    case kAttrScaleWidth:
      value = scaled ? d->scaleWidth : d->width;
      break;
    case kAttrScaleHeight:
      value = scaled ? d->scaleHeight : d->height;
      break;
    case kAttrBorderless:
      value = flag(kFlagBorderless);
      break;
    case kAttrFixed:
      value = flag(kFlagFixed);
      break;
    case kAttrSizeable:
      value = flag(kFlagSizeable);
      break;
    case kAttrNoHide:
      value = flag(kFlagNoHide);
      break;
    case kAttrNoModeSwitch:
      value = flag(kFlagNoModeSwitch);
      break;
    case kAttrNoClose:
      value = flag(kFlagNoClose);
      break;
    case kAttrTitle:
      VmPushString(L, d->title);
      return 1;
    case kAttrMarginLeft:
      value = d->marginLeft;
      break;
    case kAttrMarginRight:
      value = d->marginRight;
      break;
    case kAttrOutputDevice: {
      if (d->doubleBuffer) {
        VmPushNumber(L, kObjectDoubleBuffer);
        VmPushNumber(L, 0);
        VmPushNumber(L, 0);
        return 3;
      }
      const qvBGPic* selected = d->selection;
      switch (d->outputType) {
        case kOutputPicture:
        case kOutputMask:
        case kOutputAlpha:
          VmPushNumber(L, selected->objectKind);
          PushId(L, selected->header.id, selected->header.handle);
          VmPushNumber(L, d->outputType);
          return 3;
        case kOutputBGPic: {
          // The BGPic taking new layers is the output target while this display is current.
          const qvBGPic* target = d == CurrentDisplay() ? OutputTarget() : d->bgpic;
          VmPushNumber(L, kObjectBGPic);
          PushId(L, target->header.id, target->header.handle);
          VmPushNumber(L, 0);
          return 3;
        }
        default:
          VmPushNumber(L, kObjectDisplay);
          PushId(L, d->header.id, d->header.handle);
          VmPushNumber(L, 0);
          return 3;
      }
    }
    case kAttrDoubleBuffer:
      value = d->doubleBuffer || d->doubleBufferSuspended ? 1 : 0;
      break;
    case kAttrMaskMode:
      value = GetMaskMode();
      break;
    case kAttrAlphaIntensity:
      value = GetAlphaIntensity();
      break;
    case kAttrLayersOn:
      value = d->layersOn;
      break;
    case kAttrOrientation:
      value = d->orientation;
      break;
    case kAttrKeyboard:
      value = d->keyboard;
      break;
    default:
      // The current font's attributes come with the text library.
      return IsFontAttribute(attribute) ? ERR_UNSUPPORTEDFEAT : ERR_UNKNOWNATTR;
  }
  VmPushNumber(L, value);
  return 1;
}

int32_t BGPicAttribute(qvScriptState* L, qvBGPic* b, int32_t attribute) {
  switch (attribute) {
    case kAttrWidth:
      VmPushNumber(L, b->width);
      return 1;
    case kAttrHeight:
      VmPushNumber(L, b->height);
      return 1;
    case kAttrTransparentColor:
      PushColour(L, b->transparentColour);
      return 1;
    case kAttrLayers:
      VmPushNumber(L, CountLayers(b));
      return 1;
    case kAttrType:
      VmPushNumber(L, 0);  // IMAGETYPE_RASTER: BGPics are pixels
      return 1;
    case kAttrHasMask:
      VmPushNumber(L, b->current.mask != nullptr ? 1 : 0);
      return 1;
    case kAttrHasAlpha:
      VmPushNumber(L, b->current.alpha != nullptr ? 1 : 0);
      return 1;
    case kAttrClipRegion:
      if (b->clipRegion == nullptr) {
        VmPushNil(L);
      } else {
        PushId(L, b->clipRegion->header.id, b->clipRegion->header.handle);
      }
      return 1;
    default:
      return ERR_UNKNOWNATTR;
  }
}

int32_t BrushAttribute(qvScriptState* L, qvBrush* b, int32_t attribute) {
  switch (attribute) {
    case kAttrWidth:
      VmPushNumber(L, b->width);
      return 1;
    case kAttrHeight:
      VmPushNumber(L, b->height);
      return 1;
    case kAttrTransparentColor:
      PushColour(L, b->transparentColour);
      return 1;
    case kAttrType:
      VmPushNumber(L, b->kind);
      return 1;
    case kAttrHasMask:
      VmPushNumber(L, b->mask != nullptr ? 1 : 0);
      return 1;
    case kAttrHasAlpha:
      VmPushNumber(L, b->alpha != nullptr ? 1 : 0);
      return 1;
    case kAttrHardware:
      VmPushNumber(L, b->hardware);
      return 1;
    default:
      return ERR_UNKNOWNATTR;
  }
}

int32_t EventHandlerAttribute(qvScriptState* L, int32_t attribute) {
  const char* name = VmCheckString(L, 2);
  int slot = -1;
  for (int i = 0; i < kInputEventCount; ++i) {
    if (StrCaseCmp(name, kInputEventNames[i]) == 0) slot = i;
  }
  if (slot < 0) return ERR_WRONGUSAGE;
  if (attribute != kAttrFunction && attribute != kAttrUserData) return ERR_UNKNOWNATTR;
  qvDisplayInput* input = CurrentDisplayInput();
  if (input == nullptr) {
    VmPushNil(L);
    return 1;
  }
  const qvHandlerSlot& handler = input->handlers[slot];
  PushReference(L, attribute == kAttrFunction ? handler.callback : handler.userdata);
  return 1;
}

int32_t TimerAttribute(qvScriptState* L, int32_t kind, int32_t attribute) {
  qvObjectId id = CheckObjectId(L, 2);
  qvTimerObject* timer = FindTimerObject(kind, id);
  if (timer == nullptr) {
    return ObjectNotFound(id, kind == kObjectInterval ? ERR_FINDINTERVAL : ERR_FINDTIMEOUT);
  }
  if (attribute == kAttrFunction) {
    PushReference(L, timer->callback);
  } else if (attribute == kAttrUserData) {
    PushReference(L, timer->userdata);
  } else {
    return ERR_UNKNOWNATTR;
  }
  return 1;
}

int32_t PendingAttribute(qvScriptState* L, const PendingKind& pending, int32_t attribute) {
  qvObjectId id = CheckObjectId(L, 2);
  if (FindObject(pending.kind, id) == nullptr) return ObjectNotFound(id, pending.notFound);
  bool known = IsIn(pending.attributes, attribute) ||
               (pending.fontAttributes && IsFontAttribute(attribute));
  return known ? ERR_UNSUPPORTEDFEAT : ERR_UNKNOWNATTR;
}

// Layers come with the layer system: the current BGPic has none to find.
int32_t LayerAttribute(qvScriptState* L) {
  if (VmType(L, 2) == kTypeString) {
    SetErrorString(VmToString(L, 2));
    return ERR_FINDLAYER;
  }
  VmCheckInt(L, 2);
  return ERR_LAYERRANGE;
}

}  // namespace

int32_t GetAttribute(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  int32_t kind = VmCheckInt(L, 1);
  int32_t attribute = VmCheckInt(L, 3);
  const PendingKind* pending = nullptr;
  for (const PendingKind& p : kPendingKinds) {
    if (p.kind == kind) pending = &p;
  }
  bool answered = kind == kObjectDisplay || kind == kObjectBGPic || kind == kObjectBrush ||
                  kind == kObjectEventHandler || kind == kObjectInterval ||
                  kind == kObjectTimeout || kind == kObjectLayer;
  if (pending == nullptr && !answered) return ERR_WRONGUSAGE;
  if (attribute == kAttrCount) {
    VmPushNumber(L, CountObjects(kind));
    return 1;
  }
  switch (kind) {
    case kObjectDisplay: {
      qvDisplay* display = nullptr;
      int code = FindDisplay(CheckObjectId(L, 2), &display);
      return code != 0 ? code : DisplayAttribute(L, display, attribute);
    }
    case kObjectBGPic: {
      qvBGPic* bgpic = nullptr;
      int code = FindBGPic(L, CheckObjectId(L, 2), &bgpic, 0);
      return code != 0 ? code : BGPicAttribute(L, bgpic, attribute);
    }
    case kObjectBrush: {
      qvBrush* brush = nullptr;
      int code = FindBrush(L, CheckObjectId(L, 2), &brush, 0);
      return code != 0 ? code : BrushAttribute(L, brush, attribute);
    }
    case kObjectEventHandler:
      return EventHandlerAttribute(L, attribute);
    case kObjectInterval:
    case kObjectTimeout:
      return TimerAttribute(L, kind, attribute);
    case kObjectLayer:
      return LayerAttribute(L);
    default:
      return PendingAttribute(L, *pending, attribute);
  }
}

}  // namespace qv::cmd
