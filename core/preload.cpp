#include "core/preload.h"

#include <cstdio>
#include <string>
#include <variant>

#include "core/args.h"
#include "core/errors.h"
#include "core/registry.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

void SetAttr(uint32_t tag, intptr_t value) {
  const qvAttrSetItem items[] = {{tag, value}, {0, 0}};
  SetRuntimeAttrs(nullptr, items);
}

// A size: a number, or a percentage (stored negative) as the text "n%".
void SetFieldSize(qvScriptState* L, const char* key, int32_t value) {
  if (value >= 0) {
    SetFieldInt(L, key, value);
    return;
  }
  std::string text = std::to_string(-int64_t{value}) + "%";
  SetFieldString(L, key, text.c_str());
}

void SetRegions(qvScriptState* L, const char* key, const std::vector<qvRegion>& regions) {
  if (regions.empty()) return;
  VmPushString(L, key);
  VmNewTable(L);
  int i = 0;
  for (const qvRegion& r : regions) {
    VmNewTable(L);
    SetFieldInt(L, "type", r.type);
    SetFieldInt(L, "x", r.x);
    SetFieldInt(L, "y", r.y);
    SetFieldInt(L, "width", r.width);
    SetFieldInt(L, "height", r.height);
    VmRawSetI(L, -2, i++);
  }
  VmSetTable(L, -3);
}

void SetGradientFields(qvScriptState* L, const qvGradientDecl& g) {
  SetFieldInt(L, "gradientstyle", g.style);
  VmPushString(L, "gradientstartcolor");
  VmPushNumber(L, g.startColor);
  VmSetTable(L, -3);
  VmPushString(L, "gradientendcolor");
  VmPushNumber(L, g.endColor);
  VmSetTable(L, -3);
  SetFieldInt(L, "gradientangle", g.angle);
  SetFieldNumber(L, "gradientcenterx", g.centerX);
  SetFieldNumber(L, "gradientcentery", g.centerY);
  SetFieldNumber(L, "gradientbalance", g.balance);
  SetFieldNumber(L, "gradientborder", g.border);
  if (g.colors.empty()) return;
  VmPushString(L, "gradientcolors");
  VmNewTable(L);
  int i = 0;
  for (const qvGradientColor& c : g.colors) {
    VmPushNumber(L, c.color);
    VmRawSetI(L, -2, i++);
    VmPushNumber(L, c.position);
    VmRawSetI(L, -2, i++);
  }
  VmSetTable(L, -3);
}

struct FlagField {
  uint32_t bit;
  const char* key;
};
const FlagField kFlagFields[] = {
    {kDisplayHidden, "hidden"},     {kDisplayBorderless, "borderless"},
    {kDisplaySizeable, "sizeable"}, {kDisplayFixed, "fixed"},
    {kDisplayNoHide, "nohide"},     {kDisplayNoModeSwitch, "nomodeswitch"},
};
const FlagField kLaterFlagFields[] = {
    {kDisplaySmoothScale, "smoothscale"}, {kDisplayHidePointer, "hidepointer"},
    {kDisplayLayers, "layers"},           {kDisplayUseQuartz, "usequartz"},
    {kDisplayNoClose, "noclose"},         {kDisplayKeepProportions, "keepproportions"},
    {kDisplayFitScale, "fitscale"},       {kDisplayKeepScreenOn, "keepscreenon"},
};

// The option table of one display declaration, on the stack top.
void PushDisplayTable(qvScriptState* L, const qvObjectDeclaration& decl, const qvDisplayRecord& d,
                      bool bgpic1Declared, const qvAppletSettings& settings) {
  VmNewTable(L);
  SetFieldString(L, "title", d.title.c_str());
  SetFieldInt(L, "x", d.x);
  SetFieldInt(L, "y", d.y);
  if (d.scaleWidth != 0) SetFieldSize(L, "scalewidth", d.scaleWidth);
  if (d.scaleHeight != 0) SetFieldSize(L, "scaleheight", d.scaleHeight);
  if (d.valueFlags & kDisplayActive) SetFieldInt(L, "active", 1);
  if (d.valueFlags & kDisplayBGPicGiven) {
    SetFieldInt(L, "bgpic", d.bgpicId);
  } else if (decl.id == 1 && bgpic1Declared) {
    SetFieldInt(L, "bgpic", 1);
  } else {
    SetFieldInt(L, "width", d.width);
    SetFieldInt(L, "height", d.height);
    SetFieldInt(L, "fillstyle", d.fillStyle);
    if (d.fillStyle == 2) {
      SetGradientFields(L, d.gradient);
    } else if (d.fillStyle == 3) {
      SetFieldInt(L, "texturebrush", d.textureBrush);
      SetFieldInt(L, "texturex", d.textureX);
      SetFieldInt(L, "texturey", d.textureY);
    } else {
      VmPushString(L, "color");
      VmPushNumber(L, d.color);
      VmSetTable(L, -3);
    }
  }
  for (const FlagField& f : kFlagFields) {
    if (d.valueFlags & f.bit) SetFieldInt(L, f.key, 1);
  }
  if (d.valueFlags & kDisplayAutoScale) SetFieldInt(L, "scalemode", 1);
  if (d.valueFlags & kDisplayLayerScale) SetFieldInt(L, "scalemode", 2);
  for (const FlagField& f : kLaterFlagFields) {
    if (d.valueFlags & f.bit) SetFieldInt(L, f.key, 1);
  }
  if (decl.id == 1 && settings.desktopDisplay) SetFieldInt(L, "private2", 1);
  SetRegions(L, "dragregion", d.dragRegions);
  SetRegions(L, "sizeregion", d.sizeRegions);
  if (!d.pubScreen.empty()) SetFieldString(L, "pubscreen", d.pubScreen.c_str());
}

}  // namespace

int PreloadDisplays(qvScriptState* L, qvAppletSettings* settings, const qvPlayerState* state) {
  bool display1 = false, bgpic1 = false;
  for (const qvObjectDeclaration& decl : settings->declarations) {
    if (decl.kind == kDeclDisplay && decl.id == 1) display1 = true;
    if (decl.kind == kDeclBGPic && decl.id == 1) bgpic1 = true;
  }
  if (!display1) {
    qvObjectDeclaration decl;
    decl.kind = kDeclDisplay;
    decl.id = 1;
    qvDisplayRecord record;
    record.valueFlags |= kDisplayActive;
    decl.sub = std::move(record);
    settings->declarations.push_back(std::move(decl));
  }
  if (!settings->settingsLocked) {
    for (qvObjectDeclaration& decl : settings->declarations) {
      auto* d = std::get_if<qvDisplayRecord>(&decl.sub);
      if (decl.kind != kDeclDisplay || d == nullptr) continue;
      d->valueFlags |= settings->displayFlags & ~d->maskFlags;
      if (d->scaleWidth == 0) d->scaleWidth = settings->scaleWidth;
      if (d->scaleHeight == 0) d->scaleHeight = settings->scaleHeight;
    }
  }
  int32_t code = 0;
  int32_t oldLine = VmGetErrorLine(L);
  for (const qvObjectDeclaration& decl : settings->declarations) {
    const auto* d = std::get_if<qvDisplayRecord>(&decl.sub);
    if (decl.kind != kDeclDisplay || d == nullptr) continue;
    SetAttr(kAttrQuiet, (state->appletFlag || state->quiet) ? 1 : decl.callerFlag);
    SetAttr(kAttrScriptRunning, 1);
    VmSetErrorLine(L, decl.sourceLine);
    SetCurrentFunctionName("CreateDisplay");
    int top = VmGetTop(L);
    VmPushString(L, "createdisplay");
    VmGetTable(L, kGlobalsIndex);
    VmPushNumber(L, decl.id);
    PushDisplayTable(L, decl, *d, bgpic1, *settings);
    code = VmPCall(L, 2, 0, 0);
    VmSetTop(L, top);
    if (code >= 1000) break;
    code = 0;
    ResetErrorFunctionName();
  }
  SetAttr(kAttrQuiet, state->quiet);
  if (code == 0) {
    VmSetErrorLine(L, oldLine);
    SetAttr(kAttrScriptRunning, 0);
  }
  return code;
}

}  // namespace qv
