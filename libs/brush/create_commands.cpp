// Brush commands that make a new brush: from another object, as a copy, from the desktop, from a
// table of colours, and the gradient and textured brushes; and the table of a brush's colours.
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "display/brush_edit.h"
#include "display/display.h"
#include "libs/brush/brush_rules.h"
#include "libs/brush/commands.h"
#include "libs/options/options.h"
#include "platform/window_services.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

int32_t ConvertToBrushCore(qvScriptState* L, int typeIndex, int sourceIndex, int newIndex) {
  CheckArgCount(L, 3, 4);
  int32_t type = VmCheckInt(L, typeIndex);
  qvObjectId source = CheckObjectId(L, sourceIndex);
  qvOptionalId optional = OptObjectId(L, newIndex);
  int32_t frame = VmOptInt(L, 4, 1);
  qvObjectId id{optional.number, nullptr};
  int code = ConvertObjectToBrush(L, type, source, &id, optional.automatic != 0, frame, nullptr);
  if (code != 0) return code;
  return FinishNewBrush(L, optional, id);
}

bool SameExplicitId(qvOptionalId optional, qvObjectId id) {
  return !optional.automatic && id.handle == nullptr && id.number == optional.number;
}

}  // namespace

int32_t GetBrushLink(qvScriptState* L) { return ConvertToBrushCore(L, 2, 3, 1); }

int32_t ConvertToBrush(qvScriptState* L) { return ConvertToBrushCore(L, 1, 2, 3); }

int32_t CopyBrush(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  qvObjectId sourceId = CheckObjectId(L, 1);
  qvOptionalId optional = OptObjectId(L, 2);
  if (SameExplicitId(optional, sourceId)) return ERR_WRONGUSAGE;
  int32_t hardware = -1;  // not asked: the copy is what the source is
  if (VmGetTop(L) >= 3 && VmType(L, 3) == kTypeTable) {
    GetFieldInt(L, 3, "hardware", &hardware, nullptr);
  }
  qvBrush* source = nullptr;
  int code = FindBrush(L, sourceId, &source, kFindHardware);
  if (code != 0) return code;
  // Hardware brushes cannot be read back into a software copy.
  if (source->hardware && hardware == 0) return ERR_WRONGUSAGE;
  qvObjectId id{optional.number, nullptr};
  if (!optional.automatic) {
    code = ReleaseBrushId(L, id, false);
    if (code != 0) return code;
  }
  code = CloneBrush(L, source, &id, optional.automatic != 0, nullptr);
  if (code != 0) return code;
  return FinishNewBrush(L, optional, id);
}

int32_t GrabDesktop(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  qvOptionalId optional = OptObjectId(L, 1);
  int32_t x = 0, y = 0;
  int32_t width = GetScreenAttr(ScreenAttr::kWidth);
  int32_t height = GetScreenAttr(ScreenAttr::kHeight);
  if (VmGetTop(L) >= 2 && VmType(L, 2) == kTypeTable) {
    GetFieldInt(L, 2, "x", &x, nullptr);
    GetFieldInt(L, 2, "y", &y, nullptr);
    GetFieldInt(L, 2, "width", &width, nullptr);
    GetFieldInt(L, 2, "height", &height, nullptr);
  }
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  qvObjectId id{optional.number, nullptr};
  if (!optional.automatic) {
    int code = ReleaseBrushId(L, id, false);
    if (code != 0) return code;
  }
  int code = GrabDesktopBrush(&id, optional.automatic != 0, x, y, width, height, nullptr);
  if (code != 0) return code;
  return FinishNewBrush(L, optional, id);
}

int32_t BrushToRGBArray(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  qvObjectId id = CheckObjectId(L, 1);
  bool withAlpha = VmOptInt(L, 2, 0) != 0;
  qvBrush* brush = nullptr;
  int code = FindBrush(L, id, &brush, kFindRasterOnly | kFindHardware);
  if (code != 0) return code;
  std::vector<uint32_t> words;
  code = ReadBrushWords(brush, withAlpha, &words);
  if (code != 0) return code;
  VmNewTable(L);
  for (size_t i = 0; i < words.size(); ++i) {
    VmPushNumber(L, words[i]);
    VmRawSetI(L, -2, static_cast<int>(i));
  }
  return 1;
}

int32_t RGBArrayToBrush(qvScriptState* L) {
  CheckArgCount(L, 4, 6);
  qvOptionalId optional = OptObjectId(L, 1);
  VmCheckTable(L, 2);
  int32_t width = VmCheckInt(L, 3);
  int32_t height = VmCheckInt(L, 4);
  // The two further numbers: whether the words carry an alpha byte, and a colour to key a mask on
  // (-1 none).
  bool withAlpha = VmOptInt(L, 5, 0) != 0;
  auto key = static_cast<uint32_t>(DoubleToInt32(VmOptNumber(L, 6, -1)));
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  size_t bytes = 0;
  if (CheckObjectSize(width, height, 4, &bytes) != 0) return ERR_MEM;
  // A table shorter than the picture is refused before the picture's words are allocated.
  VmRawGetI(L, 2, static_cast<int>(int64_t{width} * height - 1));
  bool complete = VmType(L, -1) != kTypeNil;
  VmSetTop(L, -2);
  if (!complete) return ERR_NUMCALLBACK;
  std::vector<uint32_t> words;
  try {
    words.resize(size_t(width) * size_t(height));
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  for (size_t i = 0; i < words.size(); ++i) {
    VmRawGetI(L, 2, static_cast<int>(i));
    int32_t error = 0;
    double value = VmGetCallbackNumber(L, -1, &error);
    VmSetTop(L, -2);
    if (error != 0) return error;
    words[i] = static_cast<uint32_t>(DoubleToInt32(value));
  }
  qvObjectId id{optional.number, nullptr};
  if (!optional.automatic) {
    int code = ReleaseBrushId(L, id, false);
    if (code != 0) return code;
  }
  int code = BuildBrushFromWords(&id, optional.automatic != 0, words, width, height, withAlpha,
                                 key == 0xFFFFFFFFu ? -1 : int64_t{key & 0xFFFFFF}, nullptr);
  if (code != 0) return code;
  return FinishNewBrush(L, optional, id);
}

int32_t CreateGradientBrush(qvScriptState* L) {
  CheckArgCount(L, 6, 8);
  qvOptionalId optional = OptObjectId(L, 1);
  int32_t width = VmCheckInt(L, 2);
  int32_t height = VmCheckInt(L, 3);
  qvGradient gradient{};
  InitGradientDefaults(&gradient);
  gradient.startColour = static_cast<uint32_t>(DoubleToInt32(VmCheckNumber(L, 5))) & 0xFFFFFF;
  gradient.endColour = static_cast<uint32_t>(DoubleToInt32(VmCheckNumber(L, 6))) & 0xFFFFFF;
  int code = ReadGradientArguments(L, 4, 7, &gradient);
  if (code != 0) return code;
  qvObjectId id{optional.number, nullptr};
  code = CreateGradientPicture(L, kObjectBrush, &id, optional.automatic != 0, width, height,
                               gradient, nullptr);
  if (code != 0) return code;
  return FinishNewBrush(L, optional, id);
}

int32_t CreateTexturedBrush(qvScriptState* L) {
  CheckArgCount(L, 4, 6);
  qvOptionalId optional = OptObjectId(L, 1);
  qvObjectId texture = CheckObjectId(L, 2);
  int32_t width = VmCheckInt(L, 3);
  int32_t height = VmCheckInt(L, 4);
  int32_t x = VmOptInt(L, 5, 0);
  int32_t y = VmOptInt(L, 6, 0);
  qvObjectId id{optional.number, nullptr};
  int code = CreateTexturedPicture(L, kObjectBrush, &id, optional.automatic != 0, width, height,
                                   texture, x, y, nullptr);
  if (code != 0) return code;
  return FinishNewBrush(L, optional, id);
}

}  // namespace qv::cmd
