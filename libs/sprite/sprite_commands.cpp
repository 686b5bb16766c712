// Sprite commands that show, remove, change and free sprites.
#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "display/show.h"
#include "display/sprites.h"
#include "libs/sprite/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

int32_t DisplaySprite(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t x = VmCheckInt(L, 2);
  int32_t y = VmCheckInt(L, 3);
  int32_t frame = VmOptInt(L, 4, 0);
  int code = CheckSpriteOutput();
  if (code != 0) return code;
  return DisplaySpriteCore(L, id, x, y, frame);
}

int32_t RemoveSprite(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvObjectId id = CheckObjectId(L, 1);
  int code = CheckSpriteOutput();
  if (code != 0) return code;
  return RemoveSpriteCore(L, id);
}

int32_t RemoveSprites(qvScriptState* L) {
  CheckArgCount(L, 0, 1);
  bool keepPicture = VmOptInt(L, 1, 0) != 0;
  int code = CheckSpriteOutput();
  if (code != 0) return code;
  return RemoveAllSprites(L, keepPicture);
}

int32_t FreeSprite(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return FreeSpriteById(L, CheckObjectId(L, 1), true);
}

int32_t ScaleSprite(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  qvObjectId id = CheckObjectId(L, 1);
  qvSprite* sprite = nullptr;
  int code = FindSprite(L, id, &sprite, kFindSpriteModify);
  if (code != 0) return code;
  int32_t width = DoubleToInt32(GetNumberOrPercent(L, 2, sprite->width, 1, nullptr));
  int32_t height = DoubleToInt32(GetNumberOrPercent(L, 3, sprite->height, 1, nullptr));
  bool smooth = VmOptInt(L, 4, 0) != 0;
  code = CheckSpriteModifiable(sprite);
  if (code != 0) return code;
  code = ResolveScaleSize(sprite->width, sprite->height, &width, &height);
  if (code != 0) return code;
  return ScaleSpriteCore(L, sprite, width, height, smooth);
}

int32_t CopySprite(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId sourceId = CheckObjectId(L, 1);
  qvOptionalId optional = OptObjectId(L, 2);
  if (!optional.automatic && sourceId.handle == nullptr && sourceId.number == optional.number) {
    return ERR_WRONGUSAGE;
  }
  qvSprite* source = nullptr;
  int code = FindSprite(L, sourceId, &source, 0);
  if (code != 0) return code;
  qvObjectId id{optional.number, nullptr};
  if (!optional.automatic) {
    code = FreeSpriteById(L, id, false);
    if (code != 0) return code;
  }
  qvSprite* copy = nullptr;
  code = CopySpriteRecord(L, source, &id, optional.automatic != 0, &copy);
  if (code != 0) return code;
  return PushNewObjectId(L, optional, copy);
}

int32_t FlipSprite(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  bool leftRight = VmCheckInt(L, 2) != 0;  // as FlipBrush
  qvSprite* sprite = nullptr;
  int code = FindSprite(L, id, &sprite, kFindSpriteModify);
  if (code != 0) return code;
  return FlipSpriteCore(sprite, leftRight);
}

}  // namespace qv::cmd
