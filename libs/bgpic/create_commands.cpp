// BGPic commands that make a new BGPic: a plain colour, a gradient, a texture, a picture file, a
// copy, or a brush's picture; and a BGPic's picture made into a brush.
#include <cstdint>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "display/display.h"
#include "libs/bgpic/commands.h"
#include "libs/options/options.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

// A colour argument where all 32 bits set (NOTRANSPARENCY, -1) stands for none.
int64_t ColourOrNone(double value) {
  auto word = static_cast<uint32_t>(DoubleToInt32(value));
  return word == 0xFFFFFFFFu ? -1 : int64_t{word & 0xFFFFFF};
}

// A creator's size argument, the output target's side when it is absent.
int32_t SizeOrTarget(qvScriptState* L, int index, bool horizontal) {
  const qvBGPic* target = OutputTarget();
  int32_t side = target == nullptr ? 0 : horizontal ? target->width : target->height;
  return VmOptInt(L, index, side);
}

bool SameExplicitId(qvOptionalId optional, qvObjectId id) {
  return !optional.automatic && id.handle == nullptr && id.number == optional.number;
}

// The backfill shown behind a transparent picture: the fill style decides which keys count.
int ReadBackfillOptions(qvScriptState* L, int table, qvBackfillSettings* fill) {
  GetFieldInt(L, table, "fillstyle", &fill->fillStyle, nullptr);
  switch (fill->fillStyle) {
    case kFillNone:
      return 0;
    case kFillColour:
      GetFieldUInt(L, table, "fillcolor", &fill->colour, nullptr);
      return 0;
    case kFillGradient:
      return ReadBackfillGradientFields(L, table, &fill->gradient);
    case kFillTexture:
      GetFieldObjectId(L, table, "texturebrush", &fill->textureBrush, nullptr);
      GetFieldInt(L, table, "texturex", &fill->textureX, nullptr);
      GetFieldInt(L, table, "texturey", &fill->textureY, nullptr);
      return 0;
    default:
      return ERR_WRONGUSAGE;
  }
}

}  // namespace

int32_t CreateBGPic(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  qvOptionalId optional = OptObjectId(L, 1);
  int32_t width = VmCheckInt(L, 2);
  int32_t height = VmCheckInt(L, 3);
  auto colour = static_cast<uint32_t>(DoubleToInt32(VmOptNumber(L, 4, 0)));
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  qvObjectId id{optional.number, nullptr};
  if (!optional.automatic) {
    int code = DeleteBGPicNode(L, id, false);
    if (code != 0) return code;
  }
  int code = CreateColorBGPic(&id, optional.automatic != 0, width, height, colour, nullptr);
  if (code != 0) return code;
  return PushNewObjectId(L, optional, id.handle);
}

int32_t CreateGradientBGPic(qvScriptState* L) {
  CheckArgCount(L, 4, 8);
  qvOptionalId optional = OptObjectId(L, 1);
  qvGradient gradient{};
  InitGradientDefaults(&gradient);
  gradient.startColour = static_cast<uint32_t>(DoubleToInt32(VmCheckNumber(L, 3))) & 0xFFFFFF;
  gradient.endColour = static_cast<uint32_t>(DoubleToInt32(VmCheckNumber(L, 4))) & 0xFFFFFF;
  int32_t width = SizeOrTarget(L, 5, true);
  int32_t height = SizeOrTarget(L, 6, false);
  int code = ReadGradientArguments(L, 2, 7, &gradient);
  if (code != 0) return code;
  qvObjectId id{optional.number, nullptr};
  code = CreateGradientPicture(L, kObjectBGPic, &id, optional.automatic != 0, width, height,
                               gradient, nullptr);
  if (code != 0) return code;
  return PushNewObjectId(L, optional, id.handle);
}

int32_t CreateTexturedBGPic(qvScriptState* L) {
  CheckArgCount(L, 2, 6);
  qvOptionalId optional = OptObjectId(L, 1);
  qvObjectId texture = CheckObjectId(L, 2);
  int32_t width = SizeOrTarget(L, 3, true);
  int32_t height = SizeOrTarget(L, 4, false);
  int32_t x = VmOptInt(L, 5, 0);
  int32_t y = VmOptInt(L, 6, 0);
  qvObjectId id{optional.number, nullptr};
  int code = CreateTexturedPicture(L, kObjectBGPic, &id, optional.automatic != 0, width, height,
                                   texture, x, y, nullptr);
  if (code != 0) return code;
  return PushNewObjectId(L, optional, id.handle);
}

int32_t LoadBGPic(qvScriptState* L) {
  CheckArgCount(L, 2, 4);
  qvOptionalId optional = OptObjectId(L, 1);
  const char* file = ResolveLinkedFileArg(L, 2, kLinkedFileFile, nullptr);
  qvBGPicLoadOptions o;
  InitGradientDefaults(&o.backfill.gradient);
  if (VmGetTop(L) >= 3 && VmType(L, 3) == kTypeTable) {
    uint32_t colour = 0;
    if (GetFieldUInt(L, 3, "transparency", &colour, nullptr)) {
      o.transparentColour = ColourOrNone(static_cast<double>(colour));
    }
    int32_t flag = 0;
    if (GetFieldInt(L, 3, "loadalpha", &flag, nullptr)) o.loadAlpha = flag != 0;
    if (GetFieldInt(L, 3, "palette", &flag, nullptr)) o.keepPalette = flag != 0;
    int code = ReadBackfillOptions(L, 3, &o.backfill);
    if (code != 0) return code;
  } else if (VmGetTop(L) >= 3) {
    o.transparentColour = ColourOrNone(VmCheckNumber(L, 3));
  }
  // The further number goes to the ILBM reader: a pen made transparent.
  o.ilbm.transparentPen = VmOptInt(L, 4, -1);
  qvObjectId id{optional.number, nullptr};
  int code = LoadBGPicFromFile(L, &id, optional.automatic != 0, file, o, nullptr);
  if (code != 0) return code;
  return PushNewObjectId(L, optional, id.handle);
}

int32_t CopyBGPic(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId sourceId = CheckObjectId(L, 1);
  qvOptionalId optional = OptObjectId(L, 2);
  if (SameExplicitId(optional, sourceId)) return ERR_WRONGUSAGE;
  qvBGPic* source = nullptr;
  int code = FindBGPic(L, sourceId, &source, 0);
  if (code != 0) return code;
  qvObjectId id{optional.number, nullptr};
  if (!optional.automatic) {
    code = DeleteBGPicNode(L, id, false);
    if (code != 0) return code;
  }
  code = qv::CopyBGPic(L, source, &id, optional.automatic != 0, nullptr);
  if (code != 0) return code;
  return PushNewObjectId(L, optional, id.handle);
}

int32_t BrushToBGPic(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId brush = CheckObjectId(L, 1);
  qvOptionalId optional = OptObjectId(L, 2);
  qvObjectId id{optional.number, nullptr};
  int code = BrushToBGPicCore(L, brush, &id, optional.automatic != 0);
  if (code != 0) return code;
  return PushNewObjectId(L, optional, id.handle);
}

int32_t BGPicToBrush(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId bgpic = CheckObjectId(L, 1);
  qvOptionalId optional = OptObjectId(L, 2);
  qvObjectId id{optional.number, nullptr};
  int code = BGPicToBrushCore(L, bgpic, &id, optional.automatic != 0);
  if (code != 0) return code;
  return PushNewObjectId(L, optional, id.handle);
}

}  // namespace qv::cmd
