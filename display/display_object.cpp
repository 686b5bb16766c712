// Putting a picture object on the output device: a whole brush, a part of a brush or a part of a
// BGPic, with the display options of the command (transform, anchor, transparency), blitted
// through SafeBlt, or, with layers on, handed to the layer system as a new layer.
#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "base/support.h"
#include "core/layer_system.h"
#include "display/display.h"
#include "display/internal.h"

namespace qv {

namespace {

bool IsIdentity(const double m[4]) { return m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1; }

// The planes this call made, freed on every way out.
struct OwnedPlanes {
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  ~OwnedPlanes() {
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(mask);
    FreeMaskOrAlpha(alpha);
  }
};

// What is shown: the planes and where the rectangle lies in them.
struct Source {
  const qvBitMap* bitmap = nullptr;
  const qvPlane* mask = nullptr;
  const qvPlane* alpha = nullptr;
  int32_t width = 0, height = 0;  // the planes' size
};

// Layers on: the object becomes a new top layer of the output target; a plain one (no transform,
// nothing that changes its pixels) is then drawn at once over what the window shows, which the
// compositor would draw the same, and anything else is drawn by the layer system.
int ShowAsLayer(qvScriptState* L, qvDisplay* d, const qvDisplayObjectRequest& r,
                const qvTransformBlock& transform, const qvLayerOptions& options, bool vector,
                const Source& source, int32_t srcX, int32_t srcY, int32_t x, int32_t y,
                int32_t width, int32_t height) {
  const bool transformed = !IsIdentity(transform.matrix) || (r.flags & kShowTransformed) != 0;
  if (vector && transformed) return ERR_TFVBRUSH;
  qvObjectLayerArgs a;
  a.kind = r.kind;
  a.id = r.id;
  if (r.kind == kObjectBGPicPart && r.id.number == -1 && r.id.handle == nullptr) {
    a.id = {d->bgpic->header.id, d->bgpic->header.handle};
  }
  a.srcX = srcX;
  a.srcY = srcY;
  a.x = x;
  a.y = y;
  a.width = width;
  a.height = height;
  a.transform = &transform;
  a.options = &options;
  a.flags = kLayerCreateDisplayScale;
  // Only a new top layer can be drawn over what the window shows; one put beneath others is
  // recomposed by the layer system.
  const int32_t count = CountLayers(OutputTarget());
  const bool onTop = options.insertPos < 1 || options.insertPos > count;
  int code = AddObjectLayer(L, a);
  if (code != 0) return code;

  const bool effects = options.renderNeeded || options.transparency != 0 || options.shadow.on ||
                       options.border.on || HasActiveFilters(options.filters);
  if ((r.flags & (kShowNoDraw | kShowLayerCopy)) || transformed || effects || !onTop) return 0;
  x -= TruncateToInt(width * transform.anchorX);
  y -= TruncateToInt(height * transform.anchorY);
  qvBGPic* target = OutputTarget();
  if (d->outputType == kOutputBGPic) {
    // Drawn when the selection ends.
    if (target == d->bgpic) AddDirtyRect(x, y, width, height);
    return 0;
  }
  // A display that scales its layers draws the scaled render.
  if (d->layerScale && !(d->scaleX == 1.0 && d->scaleY == 1.0)) return 0;
  if (target == nullptr || d->windowBitmap == nullptr) return 0;
  int32_t sx = srcX, sy = srcY, dx = x, dy = y, w = width, h = height;
  if (!ClipBltRect(target->clipRegion, &sx, &sy, &dx, &dy, &w, &h, source.width, source.height,
                   std::min(target->width, d->windowBitmap->width),
                   std::min(target->height, d->windowBitmap->height), true)) {
    return 0;
  }
  code = SafeBlt(L, source.bitmap, srcX, srcY, d->windowBitmap, x, y, width, height, source.width,
                 source.height, target->width, target->height, kBltIgnoreSprites | kBltKeepPlanes,
                 source.mask, source.alpha, target->clipRegion);
  if (code != 0) return code;
  RefreshDisplayRect(d->windowBitmap, dx, dy, d, dx, dy, w, h, kRefreshStretch);
  return 0;
}

}  // namespace

int DisplayObjectCore(qvScriptState* L, const qvDisplayObjectRequest& r, qvBitMap** outBitmap,
                      bool* outAllocated) {
  if (outAllocated != nullptr) *outAllocated = false;
  if (outBitmap != nullptr) *outBitmap = nullptr;
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  // Updating an existing layer needs the layer system.
  if (r.flags & kShowUpdateLayer) return ERR_NOLAYERS;

  int32_t srcX = r.srcX, srcY = r.srcY, x = r.x, y = r.y;
  int32_t width = r.width, height = r.height;
  int32_t objectWidth = 0, objectHeight = 0;
  Source source;
  // A plugin's vector picture is drawn again by its plugin when it is transformed.
  qvPixelBuffer* vectorPicture = nullptr;
  switch (r.kind) {
    case kObjectBrush:
    case kObjectBrushPart: {
      if (IsSelectedOutput(kObjectBrush, r.id)) {
        int code = EndSelectOutput(L, d, false);
        if (code != 0) return code;
      }
      int32_t findFlags = 0;
      if (d->doubleBuffer && d->hardwareDoubleBuffer) findFlags |= kFindHardware;
      if (r.flags & kShowLayerCopy) findFlags |= kFindLayerCopies;
      qvBrush* brush = nullptr;
      int code = FindBrush(L, r.id, &brush, findFlags);
      if (code != 0) return code;
      if (r.kind == kObjectBrushPart && brush->kind == kBrushVector) return ERR_BRUSHTYPE;
      objectWidth = brush->width;
      objectHeight = brush->height;
      if (r.kind == kObjectBrush) {
        width = objectWidth;
        height = objectHeight;
      }
      source = {brush->bitmap, brush->mask, brush->alpha, objectWidth, objectHeight};
      if (brush->kind == kBrushVector) vectorPicture = brush->pixelBuffer;
      break;
    }
    case kObjectBGPicPart: {
      qvBGPic* bgpic = nullptr;
      if (r.id.number == -1 && r.id.handle == nullptr) {
        bgpic = d->bgpic;
      } else {
        int code = FindBGPic(L, r.id, &bgpic, (r.flags & kShowLayerCopy) ? kFindLayerCopies : 0);
        if (code != 0) return code;
      }
      objectWidth = bgpic->scaledWidth;
      objectHeight = bgpic->scaledHeight;
      source = {bgpic->scaled.bitmap, bgpic->scaled.mask, bgpic->scaled.alpha, objectWidth,
                objectHeight};
      break;
    }
    case kObjectAnim:
      // Anims come with their own subsystem.
      SetErrorNumber(r.id.number);
      return ERR_FINDANIM;
    default:
      return ERR_WRONGUSAGE;
  }
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;

  qvTransformBlock transform;
  qvLayerOptions options;
  if (r.transform != nullptr) {
    transform = *r.transform;
  } else {
    InitTransformBlock(&transform);
  }
  if (r.layerOptions != nullptr) {
    options = *r.layerOptions;
  } else {
    InitLayerOptions(&options);
  }
  if (r.optionsError != 0) return r.optionsError;
  if (r.buildMatrix) {
    BuildTransformMatrix(&transform, transform.width, transform.height, width, height,
                         transform.scaleX, transform.scaleY, transform.rotate);
  }

  // Special positions: the source corner against the object, the place against the target.
  srcX = ResolveCoordX(srcX, width, objectWidth, 0.0);
  srcY = ResolveCoordY(srcY, height, objectHeight, 0.0);
  if (srcX < 0 || srcY < 0) return ERR_NEGCOORDS;
  if (srcX >= objectWidth || srcY >= objectHeight) return ERR_COORDSRANGE;
  if (width > objectWidth - srcX) width = objectWidth - srcX;
  if (height > objectHeight - srcY) height = objectHeight - srcY;
  // The place is resolved for the rectangle as it is cut to the object: a part asked larger
  // than what the object holds is centred (or put at the right or the bottom) as it is drawn.
  if (r.kind == kObjectBGPicPart && x == -1) {
    x = srcX;
  } else {
    x = ResolveCoordX(x, width, 0, transform.anchorX);
  }
  if (r.kind == kObjectBGPicPart && y == -1) {
    y = srcY;
  } else {
    y = ResolveCoordY(y, height, 0, transform.anchorY);
  }

  if ((d->outputType == kOutputPicture || d->outputType == kOutputMask ||
       d->outputType == kOutputAlpha) &&
      OutputTarget() != nullptr && !OutputTarget()->bound) {
    int code = BindOutputDevice(L);
    if (code != 0) return code;
  }

  if (outBitmap != nullptr) {
    // A transition wants the part's picture itself.
    if (srcX == 0 && srcY == 0 && width == objectWidth && height == objectHeight) {
      *outBitmap = const_cast<qvBitMap*>(source.bitmap);
      return 0;
    }
    qvBitMap* copy = nullptr;
    qvPlane* noMask = nullptr;
    qvPlane* noAlpha = nullptr;
    int code = CopyBitMapRegion(source.bitmap, nullptr, nullptr, srcX, srcY, width, height, false,
                                &copy, &noMask, &noAlpha);
    if (code != 0) return code;
    *outBitmap = copy;
    if (outAllocated != nullptr) *outAllocated = true;
    return 0;
  }

  if (d->layersOn) {
    return ShowAsLayer(L, d, r, transform, options, vectorPicture != nullptr, source, srcX, srcY, x,
                       y, width, height);
  }

  OwnedPlanes owned;
  if (!IsIdentity(transform.matrix)) {
    const double anchor[2] = {transform.anchorX, transform.anchorY};
    int32_t tx = 0, ty = 0, tw = 0, th = 0;
    const int32_t mode = vectorPicture != nullptr ? kTransformPlugin : kTransformBitMap;
    int code = TransformBitMap(vectorPicture, mode, nullptr, source.bitmap, source.mask,
                               source.alpha, srcX, srcY, x, y, width, height, anchor,
                               transform.matrix, transform.smoothScale != 0, &owned.bitmap,
                               &owned.mask, &owned.alpha, &tx, &ty, &tw, &th);
    if (code != 0) return code;
    source = {owned.bitmap, owned.mask, owned.alpha, tw, th};
    srcX = srcY = 0;
    width = tw;
    height = th;
  }
  if (options.transparency != 0) {
    // The factor goes into an alpha channel of the rectangle's own copy.
    if (owned.bitmap == nullptr) {
      int code = CopyBitMapRegion(source.bitmap, source.mask, source.alpha, srcX, srcY, width,
                                  height, false, &owned.bitmap, &owned.mask, &owned.alpha);
      if (code != 0) return code;
      srcX = srcY = 0;
    }
    int code = ApplyTransparencyToAlpha(&owned.alpha, &owned.mask, width, height,
                                        255 - options.transparency);
    if (code != 0) return code;
    FreeMaskOrAlpha(owned.mask);
    owned.mask = nullptr;
    source = {owned.bitmap, nullptr, owned.alpha, width, height};
  }

  if (r.flags & (kShowNoDraw | kShowLayerCopy)) return 0;
  x -= TruncateToInt(width * transform.anchorX);
  y -= TruncateToInt(height * transform.anchorY);
  qvBGPic* target = OutputTarget();
  if (target == nullptr) return ERR_WRONGUSAGE;
  if (d->doubleBuffer) AddDirtyRect(x, y, width, height);
  // Into the drawing bitmap: the display's picture, the back buffer or the selected object's.
  return SafeBlt(L, source.bitmap, srcX, srcY, d->outBitmap, x, y, width, height, source.width,
                 source.height, target->width, target->height, kBltBeneathSprites | kBltRecompose,
                 source.mask, source.alpha, target->clipRegion);
}

int DisplayBrushObject(qvScriptState* L, qvObjectId id, int32_t x, int32_t y) {
  qvDisplayObjectRequest r;
  r.kind = kObjectBrush;
  r.id = id;
  r.x = x;
  r.y = y;
  return DisplayObjectCore(L, r, nullptr, nullptr);
}

}  // namespace qv
