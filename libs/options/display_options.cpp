// The display options table of the commands that show an object (brushes, BGPic parts and the
// draw defaults now; layers, text, anims and sprites take the same keys).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/errors.h"
#include "core/layer_system.h"
#include "libs/options/options.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// A number or a percentage of 255, clamped to 0..255. True when the key was there.
bool ReadLevel(qvScriptState* L, int table, const char* key, int32_t* out) {
  double level = 0;
  if (!GetFieldNumberOrPercent(L, table, key, 255, 0, nullptr, &level, nullptr)) return false;
  // TruncateToInt maps NaN and huge values to INT_MIN; a huge one means the most there is.
  *out = level > 255.0 ? 255 : std::clamp(TruncateToInt(level), 0, 255);
  return true;
}

bool SameSlot(const qvFilterSlot& a, const qvFilterSlot& b) {
  return a.on == b.on && a.priority == b.priority && std::equal(a.ints, a.ints + 4, b.ints) &&
         std::equal(a.floats, a.floats + 4, b.floats);
}

// A number (a level also as a percentage text) into *out; ERR_NUMTABLEARG with the key for
// anything else.
int ReadFilterNumber(qvScriptState* L, int index, int32_t kind, const char* key, double* out) {
  if (VmType(L, index) == kTypeNumber) {
    *out = VmToNumber(L, index);
    return 0;
  }
  if (kind == kFilterArgLevel && VmType(L, index) == kTypeString) {
    *out = GetNumberOrPercent(L, index, 255, 0, nullptr);
    return 0;
  }
  SetErrorString(key);
  return ERR_NUMTABLEARG;
}

// One entry of a filter list: {name = ..., disable = ..., priority = ..., args = {...}}.
int ReadFilterEntry(qvScriptState* L, int entry, int index, qvFilterSlot slots[]) {
  if (VmType(L, entry) != kTypeTable) {
    SetErrorString("filters");
    return ERR_TABEXPECTED2;
  }
  VmPushString(L, "name");
  VmGetTable(L, entry);
  int nameIndex = VmGetTop(L);
  if (VmType(L, nameIndex) == kTypeNil) {
    SetErrorString(std::to_string(index).c_str());
    return ERR_NOFILTERNAME;
  }
  if (VmType(L, nameIndex) != kTypeString) {
    SetErrorString("name");
    return ERR_STRTABLEARG;
  }
  const char* name = VmToString(L, nameIndex);
  int32_t filter = 0;
  while (filter < kLayerFilterCount && StrCaseCmp(name, kLayerFilters[filter].name) != 0) {
    ++filter;
  }
  if (filter == kLayerFilterCount) {
    SetErrorString(name);
    return ERR_UNKNOWNFILTER;
  }
  qvFilterSlot slot = slots[filter];
  bool disable = false;
  GetFieldFlag(L, entry, "disable", &disable, nullptr);
  slot.on = disable ? 0 : 1;
  slot.priority = 0;
  VmPushString(L, "priority");
  VmGetTable(L, entry);
  if (VmType(L, -1) != kTypeNil) {
    double priority = 0;
    int code = ReadFilterNumber(L, VmGetTop(L), kFilterArgInt, "priority", &priority);
    if (code != 0) return code;
    slot.priority = static_cast<uint8_t>(std::clamp(TruncateToInt(priority), 0, 255));
  }
  SetFilterDefaults(filter, &slot);
  VmPushString(L, "args");
  VmGetTable(L, entry);
  int args = VmGetTop(L);
  if (VmType(L, args) != kTypeNil && VmType(L, args) != kTypeTable) {
    SetErrorString("args");
    return ERR_TABEXPECTED2;
  }
  const qvFilterKind& kind = kLayerFilters[filter];
  int ints = 0, floats = 0;
  for (int32_t i = 0; i < kind.argCount; ++i) {
    double value = kind.defaults[i];
    if (VmType(L, args) == kTypeTable) {
      VmRawGetI(L, args, i);
      if (VmType(L, -1) != kTypeNil) {
        int code = ReadFilterNumber(L, VmGetTop(L), kind.args[i], "args", &value);
        if (code != 0) return code;
      }
      VmSetTop(L, -2);
    }
    if (kind.args[i] == kFilterArgFloat) {
      slot.floats[floats++] = static_cast<float>(value);
    } else {
      slot.ints[ints++] = DoubleToInt32(value);
    }
  }
  slots[filter] = slot;
  return 0;
}

}  // namespace

int ReadDisplayOptions(qvScriptState* L, int argIndex, int32_t smooth, int32_t flags,
                       qvTransformBlock* block, qvLayerOptions* options, bool* buildMatrix) {
  *buildMatrix = false;
  if (argIndex < 1 || argIndex > VmGetTop(L)) return 0;
  if (VmType(L, argIndex) != kTypeTable) {
    if (!(flags & kOptTableRequired)) return 0;
    SetErrorNumber(argIndex);
    return ERR_TABEXPECTED;
  }
  int t = argIndex;

  double given[4];
  if (GetFieldMatrix(L, t, "transform", given, nullptr)) {
    if (given[0] == 0.0 || given[3] == 0.0) return ERR_WRONGUSAGE;
    std::copy(given, given + 4, block->matrix);
    std::copy(given, given + 4, block->givenMatrix);
    block->matrixGiven = 1;
  } else {
    int found = 0;
    double scaleX = block->scaleX, scaleY = block->scaleY;
    int scaleGiven = GetFieldNumber(L, t, "scalex", &scaleX, &found);
    scaleGiven |= GetFieldNumber(L, t, "scaley", &scaleY, &found);
    if (scaleX == 0.0 || scaleY == 0.0) return ERR_WRONGUSAGE;
    int32_t w = block->width, h = block->height;
    if (!scaleGiven && !(flags & kOptNoSize)) {
      GetFieldInt(L, t, "width", &w, &found);
      GetFieldInt(L, t, "height", &h, &found);
    }
    double angle = block->rotate;
    if (!(flags & kOptNoRotate) && GetFieldNumber(L, t, "rotate", &angle, &found)) {
      angle = std::fmod(angle, 360.0);
      if ((flags & kOptRotationSmooth) && angle != 0.0) block->smoothScale = smooth;
    }
    if (found) {
      // The matrix needs the object's size, which only the subsystem showing it knows.
      block->width = w;
      block->height = h;
      block->scaleX = scaleX;
      block->scaleY = scaleY;
      block->rotate = angle;
      *buildMatrix = true;
    } else {
      block->matrixGiven = 0;
    }
  }

  int32_t smoothScale = 0;
  if (GetFieldInt(L, t, "smoothscale", &smoothScale, nullptr)) block->smoothScale = smoothScale;
  for (auto [key, anchor] : {std::pair{"anchorx", &block->anchorX}, {"anchory", &block->anchorY}}) {
    double value = 0;
    if (!GetFieldNumber(L, t, key, &value, nullptr)) continue;
    if (!(value >= 0.0 && value <= 1.0)) return ERR_WRONGUSAGE;
    *anchor = value;
  }

  if (options == nullptr) return 0;
  bool hidden = false;
  if (GetFieldFlag(L, t, "hidden", &hidden, nullptr)) options->hidden = hidden ? 1 : 0;
  ReadLevel(L, t, "transparency", &options->transparency);
  qvFilterSlot& tint = options->filters[kFilterTint];
  int32_t tintLevel = 0;
  if (ReadLevel(L, t, "tint", &tintLevel)) {
    tint.on = tintLevel != 0 ? 1 : 0;
    if (tintLevel != 0) tint.ints[1] = tintLevel;
  }
  uint32_t tintColour = 0;
  if (GetFieldUInt(L, t, "tintcolor", &tintColour, nullptr)) {
    tint.ints[0] = static_cast<int32_t>(tintColour);
  }
  int32_t insertPos = 0;
  if (GetFieldInt(L, t, "insertpos", &insertPos, nullptr)) {
    if (insertPos < 0) return ERR_INVINSERT;
    const qvBGPic* target = OutputTarget();
    int32_t top = (target != nullptr ? CountLayers(target) : 0) + 1;
    options->insertPos = std::min(insertPos, top);
  }
  int code = ReadShadowOptions(L, t, &options->shadow);
  if (code == 0) code = ReadBorderOptions(L, t, false, &options->border);
  if (code == 0) {
    VmPushString(L, "filters");
    VmGetTable(L, t);
    if (VmType(L, -1) != kTypeNil) code = ReadLayerFilters(L, VmGetTop(L), options->filters);
    VmSetTop(L, -2);
  }
  if (code != 0) return code;
  options->renderNeeded = options->hidden != 0 || options->transparency != 0 ||
                          HasActiveFilters(options->filters) || options->shadow.on != 0 ||
                          options->border.on != 0;

  VmPushString(L, "name");
  VmGetTable(L, t);
  if (VmType(L, -1) != kTypeNil) {
    size_t length = 0;
    const char* name = VmCheckStringField(L, VmGetTop(L), "name", &length);
    if (length >= kLayerNameSize) code = ERR_NAMETOOLONG;
    if (code == 0) {
      std::memcpy(options->name, name, length);
      options->name[length] = '\0';
    }
  }
  VmSetTop(L, -2);
  return code;
}

int ReadShadowOptions(qvScriptState* L, int table, qvShadowBlock* shadow) {
  bool on = false;
  if (GetFieldFlag(L, table, "shadow", &on, nullptr)) shadow->on = on ? 1 : 0;
  // The other keys belong to a shadow that is on: an old table's stale values cannot refuse it.
  if (!shadow->on) return 0;
  qvShadowBlock s = *shadow;
  GetFieldUInt(L, table, "shadowcolor", &s.colour, nullptr);
  GetFieldInt(L, table, "shadowdir", &s.direction, nullptr);
  GetFieldInt(L, table, "shadowsize", &s.size, nullptr);
  GetFieldNumber(L, table, "shadowradius", &s.radius, nullptr);
  GetFieldNumber(L, table, "shadowsigma", &s.sigma, nullptr);
  // Written so that NaN fails too.
  if (!(s.radius >= 1.0) || s.size < 0 || !(s.sigma > 0.0)) return ERR_WRONGUSAGE;
  *shadow = s;
  return 0;
}

int ReadBorderOptions(qvScriptState* L, int table, bool edgeKeys, qvBorderBlock* border) {
  qvBorderBlock b = *border;
  bool on = false;
  if (GetFieldFlag(L, table, "border", &on, nullptr)) b.on = on ? 1 : 0;
  GetFieldUInt(L, table, "bordercolor", &b.colour, nullptr);
  GetFieldInt(L, table, "bordersize", &b.size, nullptr);
  if (edgeKeys) {
    GetFieldUInt(L, table, "edgecolor", &b.colour, nullptr);
    GetFieldInt(L, table, "edgesize", &b.size, nullptr);
    GetFieldInt(L, table, "outlinethickness", &b.size, nullptr);
  }
  if (b.on && b.size < 1) return ERR_WRONGUSAGE;
  *border = b;
  return 0;
}

int ReadLayerFilters(qvScriptState* L, int list, qvFilterSlot slots[kLayerFilterCount],
                     bool* changed) {
  list = VmAbsIndex(L, list);
  if (VmType(L, list) != kTypeTable) {
    SetErrorString("filters");
    return ERR_TABEXPECTED2;
  }
  // Read into a copy: a refused entry leaves the slots as they were.
  qvFilterSlot read[kLayerFilterCount];
  std::copy(slots, slots + kLayerFilterCount, read);
  int top = VmGetTop(L);
  int code = 0;
  for (int i = 0; code == 0; ++i) {
    VmRawGetI(L, list, i);
    int entry = VmGetTop(L);
    if (VmType(L, entry) == kTypeNil) break;
    code = ReadFilterEntry(L, entry, i, read);
    VmSetTop(L, top);
  }
  VmSetTop(L, top);
  if (code != 0) return code;
  if (changed != nullptr) {
    *changed = !std::equal(read, read + kLayerFilterCount, slots, SameSlot);
  }
  std::copy(read, read + kLayerFilterCount, slots);
  return 0;
}

void ReadShowOptions(qvScriptState* L, int argIndex, int32_t flags, qvTransformBlock* transform,
                     qvLayerOptions* options, qvDisplayObjectRequest* request) {
  InitDisplayOptions(transform, options, 0, 0, 0, flags);
  struct Read {
    int argIndex;
    int32_t flags;
    qvTransformBlock* transform;
    qvLayerOptions* options;
    qvDisplayObjectRequest* request;
    int code;
  } read{argIndex, flags, transform, options, request, 0};
  // A field of the wrong type raises; caught here, it waits in the request like a returned code
  // (the key or the argument is stored already).
  int top = VmGetTop(L);
  int32_t raised = VmRunProtected(
      L,
      [](qvScriptState* L, void* data) {
        auto* r = static_cast<Read*>(data);
        r->code = ReadDisplayOptions(L, r->argIndex, 0, r->flags, r->transform, r->options,
                                     &r->request->buildMatrix);
      },
      &read);
  VmSetTop(L, top);
  request->transform = transform;
  request->layerOptions = options;
  request->optionsError = raised != 0 ? raised : read.code;
}

}  // namespace qv
