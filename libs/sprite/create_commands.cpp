// Sprite commands that make sprites: from a brush, a BGPic or other sprites through the frame
// builder, and from a file through its loader.
#include <cstdlib>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "display/sprites.h"
#include "libs/options/options.h"
#include "libs/sprite/commands.h"
#include "media/anim_build.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

// Makes the sprite from the frames, which it takes over (the frames are left empty).
int AddBuiltSprite(qvObjectId* id, bool automatic, qvAnimFrames* frames, qvSprite** out) {
  int code = AddSprite(id, automatic, frames->width, frames->height, frames->pixelSources,
                       frames->bitmaps, frames->masks, frames->alphas, frames->count,
                       frames->transparentColour, reinterpret_cast<qvSprite**>(frames->links), out);
  if (code != 0) return code;
  std::free(frames->delays);
  *frames = qvAnimFrames{};
  return 0;
}

}  // namespace

int32_t CreateSprite(qvScriptState* L) {
  CheckArgCount(L, 3, 0);
  qvOptionalId optional = OptObjectId(L, 1);
  int32_t type = VmCheckInt(L, 2);
  int top = VmGetTop(L);
  qvAnimBuildRequest request;
  request.targetKind = kAnimTargetSprite;
  std::vector<qvObjectId> sprites;
  switch (type) {
    case kObjectBrush:
      request.sourceKind = kAnimSourceBrush;
      request.sourceId = CheckObjectId(L, 3);
      if (top > 3) {
        // How frames are cut from the brush, in CreateAnim's order.
        request.cutGrid = true;
        request.grid.frameWidth = VmOptInt(L, 4, 0);
        request.grid.frameHeight = VmOptInt(L, 5, 0);
        request.grid.frameCount = VmOptInt(L, 6, 0);
        request.grid.framesPerRow = VmOptInt(L, 7, 0);
        request.grid.x = VmOptInt(L, 8, 0);
        request.grid.y = VmOptInt(L, 9, 0);
      }
      break;
    case kObjectBGPic:
      request.sourceKind = kAnimSourceBGPic;
      request.sourceId = CheckObjectId(L, 3);
      break;
    case kObjectAnim: {
      // Anims come later: every id names none yet.
      qvObjectId anim = CheckObjectId(L, 3);
      return ObjectNotFound(anim, ERR_FINDANIM);
    }
    case kObjectSprite:
      request.sourceKind = kAnimSourceSprites;
      for (int i = 3; i <= top; ++i) sprites.push_back(CheckObjectId(L, i));
      request.spriteIds = sprites.data();
      request.spriteCount = static_cast<int32_t>(sprites.size());
      break;
    default:
      return ERR_WRONGUSAGE;
  }
  qvObjectId id{optional.number, nullptr};
  if (!optional.automatic) {
    // Freeing a sprite that is one of the sources would build from freed frames.
    for (const qvObjectId& source : sprites) {
      if (source.handle == nullptr && source.number == id.number) return ERR_WRONGUSAGE;
    }
    int code = FreeSpriteById(L, id, false);
    if (code != 0) return code;
  }
  qvAnimFrames frames;
  int code = BuildAnimObject(L, request, &frames);
  if (code != 0) return code;
  qvSprite* sprite = nullptr;
  code = AddBuiltSprite(&id, optional.automatic != 0, &frames, &sprite);
  if (code != 0) {
    FreeAnimFrames(&frames);
    return code;
  }
  return PushNewObjectId(L, optional, sprite);
}

int32_t LoadSprite(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  qvOptionalId optional = OptObjectId(L, 1);
  const char* file = ResolveLinkedFileArg(L, 2, kLinkedFileFile, nullptr);
  qvAnimLoadOptions o;
  qvAnimCacheNames names;
  ReadAnimLoadOptions(L, 3, &o, &names);
  qvObjectId id{optional.number, nullptr};
  if (!optional.automatic) {
    int code = FreeSpriteById(L, id, false);
    if (code != 0) return code;
  }
  qvAnimFrames frames;
  int code = LoadAnimObject(L, file, o, kAnimTargetSprite, &frames);
  if (code != 0) return code;
  qvSprite* sprite = nullptr;
  code = AddBuiltSprite(&id, optional.automatic != 0, &frames, &sprite);
  if (code != 0) {
    FreeAnimFrames(&frames);
    return code;
  }
  return PushNewObjectId(L, optional, sprite);
}

}  // namespace qv::cmd
