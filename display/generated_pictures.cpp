// Gradient and textured pictures made into brushes or BGPics: one creator for both kinds, so a
// textured brush and a textured BGPic tile alike.
#include "base/errors.h"
#include "display/display.h"
#include "display/internal.h"

namespace qv {

namespace {

int ReleaseId(qvScriptState* L, int32_t kind, qvObjectId id) {
  return kind == kObjectBrush ? ReleaseBrushId(L, id, false) : DeleteBGPicNode(L, id, false);
}

// Fills a new bitmap by the settings and lists it as the kind asks.
int CreateFilled(qvScriptState* L, int32_t kind, qvObjectId* id, bool automatic, int32_t width,
                 int32_t height, qvBackfillSettings* settings, qvObjectHeader** out) {
  if (kind != kObjectBrush && kind != kObjectBGPic) return ERR_WRONGUSAGE;
  qvBitMap* bitmap = AllocBitMap(width, height);
  if (bitmap == nullptr) return ERR_MEM;
  int code = FillBackground(L, bitmap, width, height, settings);
  // The tile copy was only for this fill; a BGPic makes its own when it is generated again.
  FreeBitMap(settings->textureCache);
  settings->textureCache = nullptr;
  if (code == 0) {
    if (kind == kObjectBrush) {
      qvBrush* brush = nullptr;
      code = AddBrush(id, automatic, kBrushRaster, width, height, width, 0, nullptr, bitmap,
                      kNoTransparentColour, nullptr, nullptr, &brush);
      if (code == 0 && out != nullptr) *out = &brush->header;
    } else {
      qvBGPic* bgpic = nullptr;
      code = AddBGPic(id, automatic, kBGPicGenerated, width, height, width, nullptr, bitmap,
                      nullptr, kNoTransparentColour, nullptr, nullptr, settings, &bgpic);
      if (code == 0 && out != nullptr) *out = &bgpic->header;
    }
  }
  if (code != 0) FreeBitMap(bitmap);
  return code;
}

}  // namespace

int CreateGradientPicture(qvScriptState* L, int32_t kind, qvObjectId* id, bool automatic,
                          int32_t width, int32_t height, const qvGradient& gradient,
                          qvObjectHeader** out) {
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  if (!automatic) {
    int code = ReleaseId(L, kind, *id);
    if (code != 0) return code;
  }
  qvBackfillSettings settings{};
  settings.fillStyle = kFillGradient;
  settings.gradient = gradient;
  return CreateFilled(L, kind, id, automatic, width, height, &settings, out);
}

int CreateTexturedPicture(qvScriptState* L, int32_t kind, qvObjectId* id, bool automatic,
                          int32_t width, int32_t height, qvObjectId texture, int32_t offsetX,
                          int32_t offsetY, qvObjectHeader** out) {
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  // Releasing the new id would free the very brush that is to be tiled.
  if (kind == kObjectBrush && !automatic && texture.handle == nullptr &&
      texture.number == id->number) {
    return ERR_WRONGUSAGE;
  }
  if (!automatic) {
    int code = ReleaseId(L, kind, *id);
    if (code != 0) return code;
  }
  qvBackfillSettings settings{};
  settings.fillStyle = kFillTexture;
  settings.textureBrush = texture;
  settings.textureX = offsetX;
  settings.textureY = offsetY;
  InitGradientDefaults(&settings.gradient);
  return CreateFilled(L, kind, id, automatic, width, height, &settings, out);
}

}  // namespace qv
