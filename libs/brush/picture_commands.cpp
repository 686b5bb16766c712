// Brush commands over picture files and single pixels: LoadBrush, SaveBrush, ReadBrushPixel,
// WriteBrushPixel.
#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "display/display.h"
#include "libs/brush/commands.h"
#include "libs/options/options.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

constexpr size_t kCacheNameSize = 1024;

// A colour argument where all 32 bits set (NOTRANSPARENCY, -1) stands for none.
int64_t ColourOrNone(double value) {
  auto word = static_cast<uint32_t>(DoubleToInt32(value));
  return word == 0xFFFFFFFFu ? -1 : int64_t{word & 0xFFFFFF};
}

}  // namespace

int32_t LoadBrush(qvScriptState* L) {
  CheckArgCount(L, 2, 5);
  qvOptionalId optional = OptObjectId(L, 1);
  const char* file = ResolveLinkedFileArg(L, 2, kLinkedFileFile, nullptr);
  qvBrushLoadOptions o;
  char cacheName[kCacheNameSize];
  char cachedLoadName[kCacheNameSize];
  if (VmGetTop(L) >= 3 && VmType(L, 3) == kTypeTable) {
    uint32_t colour = 0;
    if (GetFieldUInt(L, 3, "transparency", &colour, nullptr)) {
      o.transparentColour = ColourOrNone(static_cast<double>(colour));
    }
    int32_t flag = 0;
    if (GetFieldInt(L, 3, "loadalpha", &flag, nullptr)) o.loadAlpha = flag != 0;
    GetFieldInt(L, 3, "globalalpha", &o.globalAlpha, nullptr);
    GetFieldInt(L, 3, "x", &o.x, nullptr);
    GetFieldInt(L, 3, "y", &o.y, nullptr);
    GetFieldInt(L, 3, "width", &o.width, nullptr);
    GetFieldInt(L, 3, "height", &o.height, nullptr);
    // Hardware brushes are software brushes on this platform.
    GetFieldInt(L, 3, "hardware", &flag, nullptr);
    if (GetFieldString(L, 3, "cache", cacheName, sizeof cacheName, nullptr)) {
      o.cacheName = cacheName;
    }
    if (GetFieldString(L, 3, "cachedload", cachedLoadName, sizeof cachedLoadName, nullptr)) {
      o.cachedLoadName = cachedLoadName;
    }
    flag = 0;
    if (GetFieldInt(L, 3, "cachealpha", &flag, nullptr)) o.cacheAlpha = flag != 0;
  } else if (VmGetTop(L) >= 3) {
    o.transparentColour = ColourOrNone(VmCheckNumber(L, 3));
  }
  // The two further numbers go to the ILBM reader: a pen made transparent and whether a free
  // colour is to be found as the transparent key.
  o.ilbm.transparentPen = VmOptInt(L, 4, -1);
  o.ilbm.findFreeColour = VmOptInt(L, 5, 0) != 0;
  qvObjectId id{optional.number, nullptr};
  int code = LoadBrushFromFile(L, &id, optional.automatic != 0, file, o, nullptr);
  if (code != 0) return code;
  if (!optional.automatic) return 0;
  VmPushLightUserdata(L, id.handle);
  return 1;
}

int32_t SaveBrush(qvScriptState* L) {
  CheckArgCount(L, 2, 5);
  qvObjectId id = CheckObjectId(L, 1);
  const char* file = CheckName(L, 2);
  auto colour = static_cast<uint32_t>(DoubleToInt32(VmOptNumber(L, 3, -1)));
  int32_t format = VmOptInt(L, 4, kImageFormatBmp);
  int32_t quality = 0, colours = 0, dither = 0;
  ReadSaveOptions(L, 5, &quality, &colours, &dither);
  qvBrush* brush = nullptr;
  int code = FindBrush(L, id, &brush, kFindRasterOnly | kFindHardware);
  if (code != 0) return code;
  return SaveBitMapAsPicture(format, brush->bitmap, brush->width, brush->height, file, brush->mask,
                             colour == 0xFFFFFFFFu ? -1 : int64_t{colour}, brush->alpha, quality,
                             colours, dither);
}

int32_t ReadBrushPixel(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t x = VmCheckInt(L, 2);
  int32_t y = VmCheckInt(L, 3);
  qvBrush* brush = nullptr;
  int code = FindBrush(L, id, &brush, kFindRasterOnly | kFindHardware);
  if (code != 0) return code;
  x = ResolveCoordX(x, 1, brush->width, 0.0);
  y = ResolveCoordY(y, 1, brush->height, 0.0);
  uint32_t colour = 0;
  int32_t second = -1;
  if (!ReadBrushPixelAt(brush, x, y, &colour, &second)) {
    VmPushNumber(L, -1);
    VmPushNumber(L, -1);
    return 2;
  }
  VmPushNumber(L, colour);
  VmPushNumber(L, second);
  return 2;
}

int32_t WriteBrushPixel(qvScriptState* L) {
  CheckArgCount(L, 4, 5);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t x = VmCheckInt(L, 2);
  int32_t y = VmCheckInt(L, 3);
  auto colour = static_cast<uint32_t>(DoubleToInt32(VmCheckNumber(L, 4)));
  int32_t alpha = VmOptInt(L, 5, -1);
  if (VmGetTop(L) >= 5 && (alpha < 0 || alpha > 255)) return ERR_WRONGUSAGE;
  if (IsSelectedOutput(kObjectBrush, id)) return ERR_MODIFYABR;
  qvBrush* brush = nullptr;
  int code = FindBrush(L, id, &brush, kFindModify | kFindRasterOnly);
  if (code != 0) return code;
  x = ResolveCoordX(x, 1, brush->width, 0.0);
  y = ResolveCoordY(y, 1, brush->height, 0.0);
  WriteBrushPixelAt(brush, x, y, colour, alpha);
  return 0;
}

}  // namespace qv::cmd
