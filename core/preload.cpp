#include "core/preload.h"

#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "base/support.h"
#include "core/args.h"
#include "core/error_table.h"
#include "core/errors.h"
#include "core/plugins.h"
#include "core/registry.h"
#include "core/vfile.h"
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

// ---- declared objects ----

// The command of each declared kind (kDecl* order); null for kinds that no command makes here.
const char* const kDeclCommands[] = {"LoadBGPic",  "LoadBrush",    "LoadAnim",      "OpenMusic",
                                     "LoadSample", "CreateButton", "CreateKeyDown", "LoadSprite",
                                     "OpenFile",   "OpenFont",     nullptr,         "OpenVideo",
                                     nullptr};
static_assert(std::size(kDeclCommands) == kDeclPlugin + 1, "a row per declared kind");

const char* DeclCommand(int32_t kind) {
  if (kind < 0 || kind >= static_cast<int32_t>(std::size(kDeclCommands))) return nullptr;
  return kDeclCommands[kind];
}

constexpr int32_t kOpenFileMode = 1005;  // read an existing file
constexpr int32_t kFontCacheOff = 0x10000;

// How one picture is shared among the brush, anim and sprite declarations: the first one
// decodes it into the image cache, the later ones take it from there.
struct PictureSharing {
  bool cache = false;       // decode into the cache
  bool cacheAlpha = false;  // with its alpha channel, which a later one loads
  bool cachedLoad = false;  // take it from the cache
};

bool SharesPicture(const qvObjectDeclaration& decl) {
  return decl.kind == kDeclBrush || decl.kind == kDeclAnim || decl.kind == kDeclSprite;
}

int32_t FrameCount(const qvObjectDeclaration& decl) {
  if (const auto* a = std::get_if<qvAnimDecl>(&decl.sub)) return a->frames;
  if (const auto* s = std::get_if<qvSpriteDecl>(&decl.sub)) return s->frames;
  return 0;
}

std::vector<PictureSharing> PlanPictureSharing(const std::vector<qvObjectDeclaration>& decls) {
  std::vector<PictureSharing> plan(decls.size());
  for (size_t i = 0; i < decls.size(); ++i) {
    const qvObjectDeclaration& d = decls[i];
    if (!SharesPicture(d) || plan[i].cachedLoad || d.fileName.empty()) continue;
    if (d.kind != kDeclBrush && FrameCount(d) == 0) continue;
    for (size_t j = i + 1; j < decls.size(); ++j) {
      const qvObjectDeclaration& e = decls[j];
      if (!SharesPicture(e) || StrCaseCmp(e.fileName.c_str(), d.fileName.c_str()) != 0) continue;
      plan[j].cachedLoad = true;
      plan[i].cache = true;
      if (e.extra2 == 1 && d.extra2 != 1) plan[i].cacheAlpha = true;
    }
  }
  return plan;
}

// The name the command opens: a ":::chunk" name for a linked stretch, else the declared name
// in the base directory. False when a chunk name does not fit.
bool DeclaredFileName(const qvObjectDeclaration& decl, const qvPlayerState& state,
                      std::string* out) {
  if (decl.linkedLength != 0) {
    char name[kPathSize];
    const char* container = decl.containerPath.empty() ? state.scriptPath
                                                       : decl.containerPath.c_str();
    if (!MakeChunkName(decl.fileName.c_str(), name, sizeof name, decl.linkedOffset,
                       decl.linkedLength, state.appletOffset, container)) {
      return false;
    }
    *out = name;
    return true;
  }
  *out = decl.fileName;
  if (!decl.baseDirectory.empty() && decl.fileName.find(':') == std::string::npos) {
    char last = decl.baseDirectory.back();
    *out = decl.baseDirectory + (last == '/' || last == '\\' ? "" : "/") + decl.fileName;
  }
  return true;
}

void SetFillFields(qvScriptState* L, const qvBGPicDecl& b) {
  if (b.fillStyle == 0) return;
  SetFieldInt(L, "fillstyle", b.fillStyle);
  if (b.fillStyle == 1) {
    SetFieldNumber(L, "fillcolor", b.fillColor);
  } else if (b.fillStyle == 2) {
    SetGradientFields(L, b.gradient);
  } else if (b.fillStyle == 3) {
    SetFieldInt(L, "texturebrush", b.textureBrush);
    SetFieldInt(L, "texturex", b.textureX);
    SetFieldInt(L, "texturey", b.textureY);
  }
}

// The option table of a picture declaration (bgpic, brush, anim, sprite), on the stack top.
void PushPictureOptions(qvScriptState* L, const qvObjectDeclaration& decl,
                        const PictureSharing& sharing) {
  VmNewTable(L);
  if (decl.extra1 != -1) SetFieldNumber(L, "transparency", decl.extra1);
  SetFieldInt(L, "loadalpha", decl.extra2);
  if (const auto* b = std::get_if<qvBGPicDecl>(&decl.sub)) {
    SetFillFields(L, *b);
    return;
  }
  if (const auto* b = std::get_if<qvBrushDecl>(&decl.sub)) {
    // A size of 0 is the whole picture.
    SetFieldInt(L, "width", b->width);
    SetFieldInt(L, "height", b->height);
    SetFieldInt(L, "x", b->x);
    SetFieldInt(L, "y", b->y);
    if (b->globalAlpha != -1) SetFieldInt(L, "globalalpha", b->globalAlpha);
    SetFieldInt(L, "hardware", b->hardware);
  } else if (const auto* a = std::get_if<qvAnimDecl>(&decl.sub)) {
    SetFieldInt(L, "width", a->width);
    SetFieldInt(L, "height", a->height);
    SetFieldInt(L, "x", a->x);
    SetFieldInt(L, "y", a->y);
    SetFieldInt(L, "frames", a->frames);
    SetFieldInt(L, "fpr", a->framesPerRow);
    SetFieldInt(L, "fromdisk", a->fromDisk);
  } else if (const auto* s = std::get_if<qvSpriteDecl>(&decl.sub)) {
    SetFieldInt(L, "width", s->width);
    SetFieldInt(L, "height", s->height);
    SetFieldInt(L, "x", s->x);
    SetFieldInt(L, "y", s->y);
    SetFieldInt(L, "frames", s->frames);
    SetFieldInt(L, "fpr", s->framesPerRow);
  }
  // The image cache knows a picture by its declared name, which every sharer gives alike.
  if (sharing.cache) {
    SetFieldString(L, "cache", decl.fileName.c_str());
    SetFieldInt(L, "cachealpha", sharing.cacheAlpha ? 1 : 0);
  }
  if (sharing.cachedLoad) SetFieldString(L, "cachedload", decl.fileName.c_str());
}

// Pushes the arguments of the declaration's command; their count.
int PushDeclArguments(qvScriptState* L, const qvObjectDeclaration& decl, const std::string& file,
                      const PictureSharing& sharing) {
  VmPushNumber(L, decl.id);
  switch (decl.kind) {
    case kDeclBGPic:
    case kDeclBrush:
    case kDeclAnim:
    case kDeclSprite:
      VmPushString(L, file.c_str());
      PushPictureOptions(L, decl, sharing);
      return 3;
    case kDeclMusic:
    case kDeclSample:
    case kDeclVideo:
      VmPushString(L, file.c_str());
      return 2;
    case kDeclButton: {
      const auto* b = std::get_if<qvButtonDecl>(&decl.sub);
      for (int i = 0; i < 4; ++i) VmPushNumber(L, b != nullptr ? b->values[i] : 0);
      return 5;
    }
    case kDeclKeyHandler:
      VmPushString(L, decl.fileName.c_str());
      return 2;
    case kDeclFile:
      VmPushString(L, file.c_str());
      VmPushNumber(L, kOpenFileMode);
      return 3;
    case kDeclFont:
      VmPushString(L, file.c_str());
      VmPushNumber(L, decl.extra1);
      VmNewTable(L);
      if ((decl.extra2 & 0xFFFF) != 0) SetFieldInt(L, "engine", decl.extra2 & 0xFFFF);
      if (decl.extra2 & kFontCacheOff) SetFieldInt(L, "cache", 0);
      return 4;
    default:
      return 1;
  }
}

// Makes one declared object through its command's global. The line and the function name stay
// set on failure, so that the report names the declaration.
int32_t PreloadObject(qvScriptState* L, const qvObjectDeclaration& decl,
                      const PictureSharing& sharing, const qvPlayerState& state) {
  const char* command = DeclCommand(decl.kind);
  if (command == nullptr) return 0;  // a kind that no command makes
  SetAttr(kAttrQuiet, (state.appletFlag || state.quiet) ? 1 : decl.callerFlag);
  VmSetErrorLine(L, decl.sourceLine);
  SetCurrentFunctionName(command);
  std::string file;
  if (!DeclaredFileName(decl, state, &file)) {
    SetErrorString(decl.fileName.c_str());
    return ERR_NAMETOOLONG;
  }
  char global[kNameBufferSize];
  std::snprintf(global, sizeof global, "%s", command);
  LowerCaseString(global);
  int top = VmGetTop(L);
  VmPushString(L, global);
  VmGetTable(L, kGlobalsIndex);
  if (VmType(L, -1) != kTypeFunction) {
    // The command is not there yet.
    VmSetTop(L, top);
    return ERR_UNIMPLCMD;
  }
  int count = PushDeclArguments(L, decl, file, sharing);
  int32_t code = VmPCall(L, count, 0, 0);
  VmSetTop(L, top);
  if (code != 0) return code;
  ResetErrorFunctionName();
  return 0;
}

// Each plugin the applet requires must be there in at least the version it names; the first
// unmet demand ends the start.
int32_t RequirePlugins(qvScriptState* L, const qvAppletSettings& settings) {
  for (const qvObjectDeclaration& decl : settings.declarations) {
    if (decl.kind != kDeclPlugin) continue;
    int32_t code = RequirePlugin(L, decl.fileName.c_str(), decl.extra1, decl.extra2);
    if (code != 0) return code;
  }
  return 0;
}

// Display 1 is made when none is declared; the settings' display flags reach every display
// declaration unless the settings are locked.
void PrepareDisplayDeclarations(qvAppletSettings* settings) {
  bool display1 = false;
  for (const qvObjectDeclaration& decl : settings->declarations) {
    if (decl.kind == kDeclDisplay && decl.id == 1) display1 = true;
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
  if (settings->settingsLocked) return;
  for (qvObjectDeclaration& decl : settings->declarations) {
    auto* d = std::get_if<qvDisplayRecord>(&decl.sub);
    if (decl.kind != kDeclDisplay || d == nullptr) continue;
    d->valueFlags |= settings->displayFlags & ~d->maskFlags;
    if (d->scaleWidth == 0) d->scaleWidth = settings->scaleWidth;
    if (d->scaleHeight == 0) d->scaleHeight = settings->scaleHeight;
  }
}

int32_t PreloadDisplays(qvScriptState* L, const qvAppletSettings& settings,
                        const qvPlayerState& state) {
  bool bgpic1 = false;
  for (const qvObjectDeclaration& decl : settings.declarations) {
    if (decl.kind == kDeclBGPic && decl.id == 1) bgpic1 = true;
  }
  for (const qvObjectDeclaration& decl : settings.declarations) {
    const auto* d = std::get_if<qvDisplayRecord>(&decl.sub);
    if (decl.kind != kDeclDisplay || d == nullptr) continue;
    SetAttr(kAttrQuiet, (state.appletFlag || state.quiet) ? 1 : decl.callerFlag);
    VmSetErrorLine(L, decl.sourceLine);
    SetCurrentFunctionName("CreateDisplay");
    int top = VmGetTop(L);
    VmPushString(L, "createdisplay");
    VmGetTable(L, kGlobalsIndex);
    VmPushNumber(L, decl.id);
    PushDisplayTable(L, decl, *d, bgpic1, settings);
    int32_t code = VmPCall(L, 2, 0, 0);
    VmSetTop(L, top);
    if (code >= 1000) return code;
    ResetErrorFunctionName();
  }
  return 0;
}

}  // namespace

int PreloadObjects(qvScriptState* L, qvAppletSettings* settings, const qvPlayerState* state) {
  if (state->appletFlag) {
    PrintStatusMessage(GetErrorText(kTextLoadingApplet), state->scriptPath, true);
  }
  int32_t code = RequirePlugins(L, *settings);
  if (code != 0) return code;
  PrepareDisplayDeclarations(settings);
  std::vector<PictureSharing> sharing = PlanPictureSharing(settings->declarations);
  SetAttr(kAttrLoaderFlag, 1);
  SetAttr(kAttrScriptRunning, 1);
  int32_t oldLine = VmGetErrorLine(L);
  for (size_t i = 0; i < settings->declarations.size() && code == 0; ++i) {
    code = PreloadObject(L, settings->declarations[i], sharing[i], *state);
  }
  if (code == 0) code = PreloadDisplays(L, *settings, *state);
  SetAttr(kAttrLoaderFlag, 0);
  SetAttr(kAttrQuiet, state->quiet);
  // On failure the line and the script-running state stay, so that the report names the
  // declaration.
  if (code != 0) return code;
  VmSetErrorLine(L, oldLine);
  SetAttr(kAttrScriptRunning, 0);
  settings->declarations.clear();
  if (state->appletFlag) PrintDoneMessage();
  return 0;
}

}  // namespace qv
