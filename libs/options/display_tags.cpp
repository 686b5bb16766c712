// The display tag table of CreateDisplay and SetDisplayAttributes, read into the record that
// display/ applies to a display.
#include <cstring>
#include <optional>
#include <string>

#include "base/errors.h"
#include "core/args.h"
#include "core/player_state.h"
#include "libs/options/options.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// Reads a list of regions (items 0, 1, ... up to the first one that is no table).
int ReadRegions(qvScriptState* L, int table, const char* key, qvRegionEntry* regions,
                int32_t* count, bool* given) {
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
  *given = true;
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
// Only a new display takes these.
const Switch kCreateSwitches[] = {
    {"hidden", kDisplayHidden},
    {"layers", kDisplayLayers},
};

void ReadSwitch(qvScriptState* L, int table, const Switch& s, qvDisplayTags* tags) {
  int32_t value = 0;
  if (!GetFieldInt(L, table, s.key, &value, nullptr)) return;
  tags->switchesGiven |= s.bit;
  if (value != 0) {
    tags->switchesOn |= s.bit;
  } else {
    tags->switchesOn &= ~s.bit;
  }
}

template <typename T, typename Read>
void ReadOptional(std::optional<T>* out, Read read) {
  T value{};
  if (read(&value)) *out = value;
}

std::optional<int32_t> IntField(qvScriptState* L, int table, const char* key) {
  std::optional<int32_t> out;
  ReadOptional(&out, [&](int32_t* v) { return GetFieldInt(L, table, key, v, nullptr); });
  return out;
}

}  // namespace

int ReadDisplayTags(qvScriptState* L, int table, bool create, const qvBackfillSettings& fill,
                    qvDisplayTags* tags) {
  table = VmAbsIndex(L, table);
  int code = ReadRegions(L, table, "dragregion", tags->drag, &tags->dragCount, &tags->dragGiven);
  if (code == 0) {
    code = ReadRegions(L, table, "sizeregion", tags->size, &tags->sizeCount, &tags->sizeGiven);
  }
  if (code != 0) return code;

  for (const Switch& s : kSwitches) ReadSwitch(L, table, s, tags);
  tags->x = IntField(L, table, "x");
  tags->y = IntField(L, table, "y");
  ReadOptional(&tags->scaleWidth, [&](int32_t* v) {
    return GetFieldSizeOrPercent(L, table, "scalewidth", 1, v, nullptr);
  });
  ReadOptional(&tags->scaleHeight, [&](int32_t* v) {
    return GetFieldSizeOrPercent(L, table, "scaleheight", 1, v, nullptr);
  });
  tags->scaleMode = IntField(L, table, "scalemode");
  ReadOptional(&tags->bgpic,
               [&](qvObjectId* v) { return GetFieldObjectId(L, table, "bgpic", v, nullptr); });

  // A new display shown on a BGPic of the script's takes that BGPic's size and fill.
  if (!(create && tags->bgpic)) {
    tags->width = IntField(L, table, "width");
    tags->height = IntField(L, table, "height");
    tags->fillStyle = IntField(L, table, "fillstyle");
    switch (tags->fillStyle.value_or(create ? kFillColour : fill.fillStyle)) {
      case kFillColour:
        ReadOptional(&tags->colour,
                     [&](uint32_t* v) { return GetFieldUInt(L, table, "color", v, nullptr); });
        break;
      case kFillGradient: {
        qvGradient gradient = fill.gradient;
        code = ReadBackfillGradientFields(L, table, &gradient);
        if (code != 0) return code;
        tags->gradient = gradient;
        break;
      }
      case kFillTexture:
        ReadOptional(&tags->textureBrush, [&](qvObjectId* v) {
          return GetFieldObjectId(L, table, "texturebrush", v, nullptr);
        });
        tags->textureX = IntField(L, table, "texturex");
        tags->textureY = IntField(L, table, "texturey");
        break;
      default:
        break;
    }
  }

  VmPushString(L, "title");
  VmGetTable(L, table);
  if (VmType(L, -1) != kTypeNil) {
    size_t length = 0;
    const char* title = VmCheckStringField(L, VmGetTop(L), "title", &length);
    tags->title = std::string(title, length);
  }
  VmSetTop(L, -2);

  if (create) {
    for (const Switch& s : kCreateSwitches) ReadSwitch(L, table, s, tags);
    tags->private1 = IntField(L, table, "private1");
    tags->private2 = IntField(L, table, "private2");
    tags->private3 = IntField(L, table, "private3");
  }
  return 0;
}

}  // namespace qv
