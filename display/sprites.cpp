// The sprite list and the on-screen entries of the output targets.
#include "display/sprites.h"

#include "base/errors.h"
#include "display/bgpics.h"

namespace qv {

namespace {

qvObjectHeader* gSprites = nullptr;

}  // namespace

qvObjectHeader** SpriteListHead() { return &gSprites; }

qvSpriteEntry* TargetSpriteEntries(const qvBGPic* target) {
  return target != nullptr ? static_cast<qvSpriteEntry*>(target->sprites) : nullptr;
}

int AddSprite(qvObjectId*, bool, int32_t, int32_t, uint32_t**, qvBitMap**, qvPlane**, qvPlane**,
              int32_t, int32_t, qvSprite**, qvSprite** out) {
  if (out != nullptr) *out = nullptr;
  return ERR_MEM;
}

int FindSprite(qvScriptState*, qvObjectId id, qvSprite** out, int32_t) {
  *out = nullptr;
  return ObjectNotFound(id, ERR_FINDSPRITE);
}

int FindSpriteEntry(qvObjectId id, qvSpriteEntry** out) {
  *out = nullptr;
  if (id.handle != nullptr) return ERR_SPRITEONSCREEN2;
  SetErrorNumber(id.number);
  return ERR_SPRITEONSCREEN;
}

int RemoveSpriteEntry(qvScriptState*, const qvSprite*) { return 0; }
int DeleteSprite(qvScriptState*, qvObjectId, qvSprite*) { return 0; }
int FreeSpriteById(qvScriptState* L, qvObjectId id, bool mustExist) {
  qvSprite* sprite = nullptr;
  int code = FindSprite(L, id, &sprite, kFindSpriteModify);
  if (code != 0) return mustExist || code == ERR_LOCKEDOBJ ? code : 0;
  return DeleteSprite(L, id, sprite);
}
int CheckSpriteModifiable(const qvSprite*) { return 0; }
void GetSpriteFrameBitMaps(const qvSprite*, int32_t, qvBitMap**, qvPlane**, qvPlane**) {}
int ResolvePreloadedSprites() { return 0; }
int DisplaySpriteCore(qvScriptState* L, qvObjectId id, int32_t, int32_t, int32_t) {
  qvSprite* sprite = nullptr;
  return FindSprite(L, id, &sprite, 0);
}

}  // namespace qv
