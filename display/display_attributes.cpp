// GetAttribute's rows of displays, BGPics and brushes: each finds its object and answers with
// its record's values.
#include "base/errors.h"
#include "core/attribute_table.h"
#include "core/layer_system.h"
#include "core/player_state.h"
#include "display/display.h"
#include "display/pointers.h"
#include "platform/window_services.h"
#include "text/fonts.h"

namespace qv {

namespace {

qvObjectId IdOf(const qvObjectHeader& header) { return {header.id, header.handle}; }

// The output device: the double buffer, the selected picture or plane, the output target while
// the display is current, or the display itself.
void OutputDevice(const qvDisplay* d, qvAttrAnswer* out) {
  if (d->doubleBuffer) {
    out->Number(kObjectDoubleBuffer);
    out->Number(0);
    out->Number(0);
    return;
  }
  const qvBGPic* selected = d->selection;
  switch (d->outputType) {
    case kOutputPicture:
    case kOutputMask:
    case kOutputAlpha:
      out->Number(selected->objectKind);
      out->Id(IdOf(selected->header));
      out->Number(d->outputType);
      return;
    case kOutputBGPic: {
      // The BGPic taking new layers is the output target while this display is current.
      const qvBGPic* target = d == CurrentDisplay() ? OutputTarget() : d->bgpic;
      out->Number(kObjectBGPic);
      out->Id(IdOf(target->header));
      out->Number(0);
      return;
    }
    default:
      out->Number(kObjectDisplay);
      out->Id(IdOf(d->header));
      out->Number(0);
      return;
  }
}

int32_t DisplayAttribute(const qvAttrQuery& q, qvAttrAnswer* out) {
  qvDisplay* d = nullptr;
  int code = FindDisplay(q.id, &d);
  if (code != 0) return code;
  qvWindowFrame frame = ComputeWindowBorders(d->flags);
  bool scaled = IsScaledBy(d);
  auto flag = [&](uint32_t bit) { return (d->flags & bit) != 0 ? 1 : 0; };
  double value = 0;
  switch (q.attribute) {
    case attr::kWidth:
      value = d->bgpic->width;
      break;
    case attr::kHeight:
      value = d->bgpic->height;
      break;
    case attr::kMaxWidth:
      value = GetScreenAttr(ScreenAttr::kWidth) - frame.totalWidth;
      break;
    case attr::kMaxHeight:
      value = GetScreenAttr(ScreenAttr::kHeight) - frame.totalHeight;
      break;
    case attr::kBGPic:
      out->Id(IdOf(d->bgpic->header));
      return 0;
    case attr::kLayers:
      value = CountLayers(d->bgpic);
      break;
    case attr::kXPos:
    case attr::kYPos: {
      qvWindowPlacement placement{};
      bool open = GetWindowPlacement(d->window, &placement);
      if (q.attribute == attr::kXPos) {
        value = open ? placement.x : d->x;
      } else {
        value = open ? placement.y : d->y;
      }
      break;
    }
    case attr::kCursorX:
      value = d->cursorX;
      break;
    case attr::kCursorY:
      value = d->cursorY;
      break;
    case attr::kBorderLeft:
      value = frame.left;
      break;
    case attr::kBorderTop:
      value = frame.top;
      break;
    case attr::kBorderRight:
      value = frame.totalWidth - frame.left;
      break;
    case attr::kBorderBottom:
      value = frame.totalHeight - frame.top;
      break;
    case attr::kHostWidth:
      value = GetScreenAttr(ScreenAttr::kWidth);
      break;
    case attr::kHostHeight:
      value = GetScreenAttr(ScreenAttr::kHeight);
      break;
    case attr::kHostDepth:
      value = GetScreenAttr(ScreenAttr::kDepth);
      break;
    case attr::kPointer:
      // None while the standard pointer shows, or one the script freed while it was shown (its
      // id is no longer the script's).
      if (d->pointer == nullptr || d->pointer->detached) {
        out->Nil();
      } else {
        out->Id({d->pointer->header.id, d->pointer->header.handle});
      }
      return 0;
    case attr::kState:
      value = d->state;
      break;
    case attr::kActive:
      value = d->active;
      break;
    case attr::kMode:
      value = IsFullScreen() ? 2 : 1;
      break;
    case attr::kScaleMode:
      value = d->autoScale ? 1 : (d->layerScale ? 2 : 0);
      break;
    case attr::kScaleWidth:
      value = scaled ? d->scaleWidth : d->width;
      break;
    case attr::kScaleHeight:
      value = scaled ? d->scaleHeight : d->height;
      break;
    case attr::kBorderless:
      value = flag(kDisplayBorderless);
      break;
    case attr::kFixed:
      value = flag(kDisplayFixed);
      break;
    case attr::kSizeable:
      value = flag(kDisplaySizeable);
      break;
    case attr::kNoHide:
      value = flag(kDisplayNoHide);
      break;
    case attr::kNoModeSwitch:
      value = flag(kDisplayNoModeSwitch);
      break;
    case attr::kNoClose:
      value = flag(kDisplayNoClose);
      break;
    case attr::kTitle:
      out->Text(d->title);
      return 0;
    case attr::kMarginLeft:
      value = d->marginLeft;
      break;
    case attr::kMarginRight:
      value = d->marginRight;
      break;
    case attr::kOutputDevice:
      OutputDevice(d, out);
      return 0;
    case attr::kDoubleBuffer:
      value = d->doubleBuffer || d->doubleBufferSuspended ? 1 : 0;
      break;
    case attr::kMaskMode:
      value = GetMaskMode();
      break;
    case attr::kAlphaIntensity:
      value = GetAlphaIntensity();
      break;
    case attr::kLayersOn:
      value = d->layersOn;
      break;
    case attr::kOrientation:
      value = d->orientation;
      break;
    case attr::kKeyboard:
      value = d->keyboard;
      break;
    default:
      // A display draws its text with the current font.
      return AnswerFontAttribute(GetCurrentFont(), q.attribute, out);
  }
  out->Number(value);
  return 0;
}

// A colour word as the script reads it: unsigned, so that "none" is NOTRANSPARENCY.
double Colour(int32_t colour) { return static_cast<uint32_t>(colour); }

int32_t BGPicAttribute(const qvAttrQuery& q, qvAttrAnswer* out) {
  qvBGPic* b = nullptr;
  int code = FindBGPic(q.L, q.id, &b, 0);
  if (code != 0) return code;
  switch (q.attribute) {
    case attr::kWidth:
      out->Number(b->width);
      return 0;
    case attr::kHeight:
      out->Number(b->height);
      return 0;
    case attr::kTransparentColor:
      out->Number(Colour(b->transparentColour));
      return 0;
    case attr::kLayers:
      out->Number(CountLayers(b));
      return 0;
    case attr::kType:
      out->Number(0);  // IMAGETYPE_RASTER: BGPics are pixels
      return 0;
    case attr::kHasMask:
      out->Number(b->current.mask != nullptr ? 1 : 0);
      return 0;
    case attr::kHasAlpha:
      out->Number(b->current.alpha != nullptr ? 1 : 0);
      return 0;
    case attr::kClipRegion:
      if (b->clipRegion == nullptr) {
        out->Nil();
      } else {
        out->Id(IdOf(b->clipRegion->header));
      }
      return 0;
    default:
      return ERR_UNKNOWNATTR;
  }
}

int32_t BrushAttribute(const qvAttrQuery& q, qvAttrAnswer* out) {
  qvBrush* b = nullptr;
  int code = FindBrush(q.L, q.id, &b, 0);
  if (code != 0) return code;
  switch (q.attribute) {
    case attr::kWidth:
      out->Number(b->width);
      return 0;
    case attr::kHeight:
      out->Number(b->height);
      return 0;
    case attr::kTransparentColor:
      out->Number(Colour(b->transparentColour));
      return 0;
    case attr::kType:
      out->Number(b->kind);
      return 0;
    case attr::kHasMask:
      out->Number(b->mask != nullptr ? 1 : 0);
      return 0;
    case attr::kHasAlpha:
      out->Number(b->alpha != nullptr ? 1 : 0);
      return 0;
    case attr::kHardware:
      out->Number(b->hardware);
      return 0;
    default:
      return ERR_UNKNOWNATTR;
  }
}

const qvAttrKind kRows[] = {
    {kObjectDisplay, qvAttrIdForm::kObject, DisplayAttribute},
    {kObjectBGPic, qvAttrIdForm::kObject, BGPicAttribute},
    {kObjectBrush, qvAttrIdForm::kObject, BrushAttribute},
    {0, qvAttrIdForm::kObject, nullptr},
};

}  // namespace

int32_t RegisterDisplayAttributes() { return RegisterAttributeKinds(kRows); }

}  // namespace qv
