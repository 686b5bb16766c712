// The work of the BGPic library below the script: loading a picture into a BGPic, the checks
// before a BGPic changes size, turning brushes into BGPics and back, and making a BGPic the
// current display's background.
#include <cstdlib>

#include "base/errors.h"
#include "display/async_draw.h"
#include "display/display.h"
#include "display/internal.h"

namespace qv {

namespace {

// A picture that stays with its plugin, which draws it again at other sizes.
bool IsPluginVector(const qvLoadedPicture& picture) {
  return picture.kindFlag == 1 && picture.buffer->plugin != nullptr;
}

// The picture the display shows now, composed, at the size the display will show the new BGPic
// at: an unscaled display takes the new picture's size, so the old picture is scaled to it.
int SnapshotBefore(qvScriptState* L, qvDisplay* d, const qvBGPic* next, qvBitMap** out) {
  *out = nullptr;
  const qvBGPic* shown = d->bgpic;
  qvBitMap* composite = GetBGPicComposite(L, d, d->bgpic);
  if (composite == nullptr) return ERR_MEM;
  if (IsScaledDisplay(d) || (next->width == shown->width && next->height == shown->height)) {
    *out = CopyBitMap(composite, shown->width, shown->height);
    return *out != nullptr ? 0 : ERR_MEM;
  }
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int code = ScaleBitMap(composite, nullptr, nullptr, 0, 0, nullptr, shown->width, shown->height,
                         next->width, next->height, d->smoothScale != 0, out, &mask, &alpha);
  FreeMaskOrAlpha(mask);
  FreeMaskOrAlpha(alpha);
  if (code == 0 && *out == nullptr) code = ERR_MEM;
  return code;
}

}  // namespace

int LoadBGPicFromFile(qvScriptState* L, qvObjectId* id, bool automatic, const char* file,
                      const qvBGPicLoadOptions& o, qvBGPic** out) {
  if (o.transparentColour != -1 && o.loadAlpha) return ERR_MASKNALPHA;
  qvLoadedPicture picture{};
  uint32_t* palette = nullptr;
  int code = LoadPictureWithPlugins(file, &o.ilbm, o.loadAlpha, &picture,
                                    o.keepPalette ? &palette : nullptr);
  if (code != 0) return code;
  // The colour the script gives keys the picture, else the one its reader reports (an ILBM
  // stencil or transparent pen), unless the alpha channel is asked for.
  int64_t key = o.transparentColour;
  if (key == -1 && !o.loadAlpha) key = picture.transparentColour;
  int32_t keyWord = key == -1 ? kNoTransparentColour : static_cast<int32_t>(key & 0xFFFFFF);
  qvBackfillSettings settings = o.backfill;
  settings.textureCache = nullptr;
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  code = RenderBackfill(L, picture.buffer->pixels, &settings, keyWord, picture.width,
                        picture.height, picture.rowWidth, &bitmap, &mask, &alpha, picture.alpha);
  FreeBitMap(settings.textureCache);  // each render of the BGPic looks the brush up again
  settings.textureCache = nullptr;
  qvPixelBuffer* vector = IsPluginVector(picture) ? picture.buffer : nullptr;
  if (vector == nullptr) ReleasePixelBuffer(picture.buffer);
  // The old BGPic goes only once the new picture is whole, so that a failed load leaves it.
  if (code == 0 && !automatic) code = DeleteBGPicNode(L, *id, false);
  qvBGPic* bgpic = nullptr;
  if (code == 0) {
    int32_t rowWidth = vector != nullptr ? vector->rowWidth : picture.width;
    code = AddBGPic(id, automatic, vector != nullptr ? kBGPicGenerated : kBGPicPicture,
                    picture.width, picture.height, rowWidth, vector, bitmap, palette, keyWord, mask,
                    alpha, &settings, &bgpic);
  }
  if (code != 0) {
    ReleasePixelBuffer(vector);
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(mask);
    FreeMaskOrAlpha(alpha);
    std::free(palette);
    return code;
  }
  if (out != nullptr) *out = bgpic;
  return 0;
}

int FindBGPicToResize(qvScriptState* L, qvObjectId id, qvBGPic** out) {
  *out = nullptr;
  qvBGPic* bgpic = nullptr;
  int code = FindBGPic(L, id, &bgpic, 0);
  if (code != 0) return code;
  if (BGPicShownByDisplay(bgpic)) return ERR_SCALEBGPIC;
  if (IsSelectedOutput(kObjectBGPic, id)) return ERR_MODIFYABGPIC;
  code = FindBGPic(L, id, &bgpic, kFindModify);
  if (code == 0) *out = bgpic;
  return code;
}

int BrushToBGPicCore(qvScriptState* L, qvObjectId brushId, qvObjectId* id, bool automatic) {
  qvBrush* brush = nullptr;
  int code = FindBrush(L, brushId, &brush, kFindHardware);
  if (code != 0) return code;
  if (brush->kind == kBrushVector && brush->transformed) return ERR_TFVBRUSHBGPIC;
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  code = CopyPlanes(brush->bitmap, brush->mask, brush->alpha, brush->width, brush->height, &bitmap,
                    &mask, &alpha);
  if (code != 0) return code;
  if (!automatic) code = DeleteBGPicNode(L, *id, false);
  // A vector brush's picture stays with its plugin: the BGPic is generated again at other sizes.
  qvPixelBuffer* buffer = brush->kind == kBrushVector ? brush->pixelBuffer : nullptr;
  if (code == 0) {
    code = AddBGPic(id, automatic, buffer != nullptr ? kBGPicGenerated : kBGPicPicture,
                    brush->width, brush->height,
                    buffer != nullptr ? buffer->rowWidth : brush->width, buffer, bitmap, nullptr,
                    brush->transparentColour, mask, alpha, nullptr, nullptr);
  }
  if (code != 0) {
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(mask);
    FreeMaskOrAlpha(alpha);
    return code;
  }
  RetainPixelBuffer(buffer);
  return 0;
}

int BGPicToBrushCore(qvScriptState* L, qvObjectId bgpicId, qvObjectId* id, bool automatic) {
  qvBGPic* bgpic = nullptr;
  int code = FindBGPic(L, bgpicId, &bgpic, 0);
  if (code != 0) return code;
  qvPixelBuffer* buffer = bgpic->kind == kBGPicGenerated ? bgpic->pixelBuffer : nullptr;
  if (buffer != nullptr && bgpic->transformed) return ERR_TFVBGPICBRUSH;
  const qvPlaneSet& o = bgpic->original;
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  code = CopyPlanes(o.bitmap, o.mask, o.alpha, bgpic->originalWidth, bgpic->originalHeight, &bitmap,
                    &mask, &alpha);
  if (code != 0) return code;
  if (!automatic) code = ReleaseBrushId(L, *id, false);
  if (code == 0) {
    code = AddBrush(id, automatic, buffer != nullptr ? kBrushVector : kBrushRaster,
                    bgpic->originalWidth, bgpic->originalHeight, bgpic->originalWidth, 0, buffer,
                    bitmap, bgpic->transparentColour, mask, alpha, nullptr);
  }
  if (code != 0) {
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(mask);
    FreeMaskOrAlpha(alpha);
    return code;
  }
  RetainPixelBuffer(buffer);
  return 0;
}

int DisplayBGPicCore(qvScriptState* L, qvObjectId id, int32_t x, int32_t y,
                     qvBGPicTransition* transition) {
  if (transition != nullptr) transition->before = transition->after = nullptr;
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr || d->bgpic == nullptr) return ERR_WRONGUSAGE;
  qvBGPic* bgpic = nullptr;
  int code = FindBGPic(L, id, &bgpic, 0);
  if (code != 0) return code;
  qvBitMap* before = nullptr;
  if (transition != nullptr) {
    code = SnapshotBefore(L, d, bgpic, &before);
    if (code != 0) return code;
  }
  qvDisplayTags tags;
  tags.bgpic = id;
  if (x != kPositionNotGiven && x != kKeepPosition) tags.x = x;
  if (y != kPositionNotGiven && y != kKeepPosition) tags.y = y;
  const qvBGPic* old = d->bgpic;
  code = ApplyDisplayAttributes(L, d, tags);
  // The sprites shown on the old picture stay with it, hidden; the asynchronous drawings lose
  // the picture they drew on and end.
  if (code == 0 && d->bgpic != old) FreeAllAsyncDraws(L);
  if (code != 0 || transition == nullptr) {
    FreeBitMap(before);
    return code;
  }
  qvBitMap* composite = GetBGPicComposite(L, d, d->bgpic);
  qvBitMap* after = composite != nullptr ? CopyBitMap(composite, d->bgpic->width, d->bgpic->height)
                                         : nullptr;
  if (after == nullptr) {
    FreeBitMap(before);
    return ERR_MEM;
  }
  transition->before = before;
  transition->after = after;
  // The effect starts from the old picture.
  RefreshDisplayRect(before, 0, 0, d, 0, 0, before->width, before->height,
                     kRefreshStretch | kRefreshWholePicture);
  return 0;
}

}  // namespace qv
