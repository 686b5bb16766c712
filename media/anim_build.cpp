// The builder and loader of multi-frame objects: frames cut from a grid of a picture, the frames
// of linked sprites, and the frames of an anim file.
#include "media/anim_build.h"

#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "display/bgpics.h"
#include "display/brushes.h"
#include "display/displays.h"
#include "display/picture_files.h"
#include "display/sprites.h"
#include "media/anim_source.h"

namespace qv {

namespace {

// An array of `count` null pointers to T.
template <typename T>
T** AllocPointers(int32_t count) {
  return static_cast<T**>(std::calloc(static_cast<size_t>(count), sizeof(T*)));
}

// The plane arrays of `count` frames (the pixel sources and delays only when asked for).
int AllocFrameArrays(int32_t count, bool pixelSources, bool delays, qvAnimFrames* f) {
  f->count = count;
  f->bitmaps = AllocPointers<qvBitMap>(count);
  f->masks = AllocPointers<qvPlane>(count);
  f->alphas = AllocPointers<qvPlane>(count);
  if (pixelSources) f->pixelSources = AllocPointers<uint32_t>(count);
  if (delays)
    f->delays = static_cast<int32_t*>(std::calloc(static_cast<size_t>(count), sizeof(int32_t)));
  if (f->bitmaps == nullptr || f->masks == nullptr || f->alphas == nullptr ||
      (pixelSources && f->pixelSources == nullptr) || (delays && f->delays == nullptr)) {
    FreeAnimFrames(f);
    return ERR_MEM;
  }
  return 0;
}

int32_t KeyWord(int64_t key) { return key == -1 ? -1 : static_cast<int32_t>(key & 0xFFFFFF); }

// Frames cut from the planes of a pictureWidth x pictureHeight picture. The sizes are taken in
// 64 bits: a grid of huge frames or counts must not wrap around into one that seems to fit.
int CutGrid(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha, int32_t pictureWidth,
            int32_t pictureHeight, const qvAnimGrid& grid, qvAnimFrames* out) {
  if (grid.frameCount <= 0 || grid.frameWidth <= 0 || grid.frameHeight <= 0) {
    return ERR_WRONGUSAGE;
  }
  if (grid.x < 0 || grid.y < 0) return ERR_NEGCOORDS;
  const int64_t perRow = grid.framesPerRow <= 0 ? grid.frameCount : grid.framesPerRow;
  const int64_t rows = (int64_t{grid.frameCount} + perRow - 1) / perRow;
  const int64_t right = int64_t{grid.x} + perRow * grid.frameWidth;
  const int64_t bottom = int64_t{grid.y} + rows * grid.frameHeight;
  if (right > pictureWidth || bottom > pictureHeight) return ERR_BRUSHSIZE;
  int code = AllocFrameArrays(grid.frameCount, false, false, out);
  if (code != 0) return code;
  out->width = grid.frameWidth;
  out->height = grid.frameHeight;
  for (int32_t i = 0; i < grid.frameCount; ++i) {
    // Both lie inside the picture, which was checked above.
    const auto left = static_cast<int32_t>(grid.x + (i % perRow) * grid.frameWidth);
    const auto top = static_cast<int32_t>(grid.y + (i / perRow) * grid.frameHeight);
    code = CopyBitMapRegion(bitmap, mask, alpha, left, top, grid.frameWidth, grid.frameHeight,
                            false, &out->bitmaps[i], &out->masks[i], &out->alphas[i]);
    if (code != 0) {
      FreeAnimFrames(out);
      return code;
    }
  }
  return 0;
}

// The frames of a picture's planes: a grid, or the whole picture as one frame.
int FramesOfPicture(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha,
                    int32_t width, int32_t height, bool cutGrid, const qvAnimGrid& grid,
                    qvAnimFrames* out) {
  if (bitmap == nullptr) return ERR_WRONGUSAGE;
  if (cutGrid) return CutGrid(bitmap, mask, alpha, width, height, grid, out);
  return CutGrid(bitmap, mask, alpha, width, height, {width, height, 1, 1, 0, 0}, out);
}

// Sprites that become one sprite showing their frames in turn: each must own its frames, and all
// must have the first one's size.
int LinkSprites(qvScriptState* L, const qvObjectId* ids, int32_t count, qvAnimFrames* out) {
  if (ids == nullptr || count < 1) return ERR_WRONGUSAGE;
  auto** links = AllocPointers<void>(count + 1);
  if (links == nullptr) return ERR_MEM;
  int64_t frames = 0;
  for (int32_t i = 0; i < count; ++i) {
    qvSprite* sprite = nullptr;
    int code = FindSprite(L, ids[i], &sprite, 0);
    if (code == 0 && sprite->links != nullptr) code = ERR_SPRITELINK;
    if (code == 0 && i > 0) {
      const auto* first = static_cast<const qvSprite*>(links[0]);
      if (sprite->width != first->width || sprite->height != first->height) {
        code = ERR_WRONGSPRITESIZE;
      }
    }
    if (code != 0) {
      std::free(links);
      return code;
    }
    links[i] = sprite;
    frames += sprite->frames;
  }
  if (frames > INT32_MAX) {
    std::free(links);
    return ERR_WRONGUSAGE;
  }
  const auto* first = static_cast<const qvSprite*>(links[0]);
  out->width = first->width;
  out->height = first->height;
  out->count = static_cast<int32_t>(frames);
  out->links = links;
  return 0;
}

// Every frame of an opened anim source. Before any display is there, the frames stay pixel
// sources, which the first display turns into planes; afterwards each becomes its planes at once.
int FramesOfSource(qvAnimSource* source, int64_t key, qvAnimFrames* out) {
  const bool keepPixels = CurrentDisplay() == nullptr;
  int code = AllocFrameArrays(source->frames, keepPixels, true, out);
  if (code != 0) return code;
  out->width = source->width;
  out->height = source->height;
  out->transparentColour = KeyWord(key);
  const size_t bytes = size_t(source->width) * size_t(source->height) * 4;
  for (int32_t n = 0; n < source->frames; ++n) {
    uint32_t* pixels = LoadAnimSourceFrame(source, n);
    if (pixels == nullptr) {
      code = ERR_LOADFRAME;
    } else if (keepPixels && source->type != kAnimFilePlugin) {
      out->pixelSources[n] = pixels;  // a built-in reader's frame is a heap block of its own
      pixels = nullptr;
    } else if (keepPixels) {
      out->pixelSources[n] = static_cast<uint32_t*>(std::malloc(bytes));
      if (out->pixelSources[n] == nullptr) {
        code = ERR_MEM;
      } else {
        std::memcpy(out->pixelSources[n], pixels, bytes);
      }
    } else {
      code = AllocBitMapFromARGB(pixels, key, source->width, source->height, source->width,
                                 &out->bitmaps[n], &out->masks[n]);
    }
    FreeAnimSourceFrame(source, pixels);
    if (code != 0) {
      FreeAnimFrames(out);
      return code;
    }
    out->delays[n] = GetAnimSourceFrameDelay(source, n);
  }
  return 0;
}

// The picture of a file or of the image cache, with the "cache" option's entry added.
int LoadPictureFor(const char* file, const qvAnimLoadOptions& o, qvLoadedPicture* picture) {
  const bool keepAlpha = o.loadAlpha || o.cacheAlpha;
  qvIlbmRequest ilbm;
  int code = LoadPictureOrCached(file, o.cachedLoadName, o.loadAlpha, keepAlpha, &ilbm, picture);
  if (code != 0) return code;
  if (o.cacheName != nullptr) {
    code = AddCachedImage(o.cacheName, picture->width, picture->height, picture->alphaFlag,
                          picture->buffer, keepAlpha ? picture->alpha : nullptr, 0);
  }
  if (code != 0) {
    ReleasePixelBuffer(picture->buffer);
    FreeMaskOrAlpha(picture->alpha);
  }
  return code;
}

int FramesOfPictureFile(const char* file, const qvAnimLoadOptions& o, qvAnimFrames* out) {
  qvLoadedPicture picture{};
  int code = LoadPictureFor(file, o, &picture);
  if (code != 0) return code;
  // The script's colour keys the frames, else the one the picture's reader reports, unless an
  // alpha channel is asked for.
  int64_t key = o.transparentColour;
  if (key == -1 && !o.loadAlpha) key = picture.transparentColour;
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  code = AllocBitMapFromARGB(picture.buffer->pixels, key, picture.width, picture.height,
                             picture.rowWidth, &bitmap, &mask);
  ReleasePixelBuffer(picture.buffer);
  qvPlane* alpha = o.loadAlpha ? picture.alpha : nullptr;
  if (alpha == nullptr) FreeMaskOrAlpha(picture.alpha);
  if (code != 0) {
    FreeMaskOrAlpha(alpha);
    return code;
  }
  const bool cutGrid = o.frames > 0 && o.height > 0;
  if (cutGrid) {
    const qvAnimGrid grid{o.width, o.height, o.frames, o.framesPerRow, o.x, o.y};
    code = CutGrid(bitmap, mask, alpha, picture.width, picture.height, grid, out);
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(mask);
    FreeMaskOrAlpha(alpha);
  } else {
    // The whole picture is the one frame: its planes are taken as they are.
    code = AllocFrameArrays(1, false, false, out);
    if (code == 0) {
      out->width = picture.width;
      out->height = picture.height;
      out->bitmaps[0] = bitmap;
      out->masks[0] = mask;
      out->alphas[0] = alpha;
    } else {
      FreeBitMap(bitmap);
      FreeMaskOrAlpha(mask);
      FreeMaskOrAlpha(alpha);
    }
  }
  if (code == 0) out->transparentColour = KeyWord(key);
  return code;
}

}  // namespace

void FreeAnimFrames(qvAnimFrames* frames) {
  if (frames == nullptr) return;
  for (int32_t i = 0; i < frames->count; ++i) {
    if (frames->bitmaps != nullptr) FreeBitMap(frames->bitmaps[i]);
    if (frames->masks != nullptr) FreeMaskOrAlpha(frames->masks[i]);
    if (frames->alphas != nullptr) FreeMaskOrAlpha(frames->alphas[i]);
    if (frames->pixelSources != nullptr) std::free(frames->pixelSources[i]);
  }
  std::free(frames->bitmaps);
  std::free(frames->masks);
  std::free(frames->alphas);
  std::free(frames->pixelSources);
  std::free(frames->delays);
  std::free(frames->links);
  *frames = qvAnimFrames{};
}

int BuildAnimObject(qvScriptState* L, const qvAnimBuildRequest& request, qvAnimFrames* out) {
  *out = qvAnimFrames{};
  switch (request.sourceKind) {
    case kAnimSourceBrush: {
      qvBrush* brush = nullptr;
      int code = FindBrush(L, request.sourceId, &brush, kFindRasterOnly);
      if (code != 0) return code;
      code = FramesOfPicture(brush->bitmap, brush->mask, brush->alpha, brush->width, brush->height,
                             request.cutGrid, request.grid, out);
      // A mask that AllocBrush made keys no colour.
      if (code == 0 && uint32_t(brush->transparentColour) != kAllocBrushMaskColour) {
        out->transparentColour = brush->transparentColour;
      }
      return code;
    }
    case kAnimSourceBGPic: {
      qvBGPic* bgpic = nullptr;
      int code = FindBGPic(L, request.sourceId, &bgpic, 0);
      if (code != 0) return code;
      code = FramesOfPicture(bgpic->original.bitmap, bgpic->original.mask, bgpic->original.alpha,
                             bgpic->originalWidth, bgpic->originalHeight, request.cutGrid,
                             request.grid, out);
      if (code == 0) out->transparentColour = bgpic->transparentColour;
      return code;
    }
    case kAnimSourceAnim:
      // No anim exists before the anim library does.
      return ObjectNotFound(request.sourceId, ERR_FINDANIM);
    case kAnimSourceSprites:
      return LinkSprites(L, request.spriteIds, request.spriteCount, out);
    default:
      return ERR_WRONGUSAGE;
  }
}

int LoadAnimObject(qvScriptState*, const char* file, const qvAnimLoadOptions& options, int32_t,
                   qvAnimFrames* out) {
  *out = qvAnimFrames{};
  if (options.loadAlpha && options.transparentColour != -1) return ERR_MASKNALPHA;
  if (options.frames > 0 && options.fromDisk) return ERR_WRONGUSAGE;
  // A picture cut into frames, or one taken from the image cache, is never read as an anim.
  if (options.frames <= 0 && options.cachedLoadName == nullptr &&
      IdentifyAnim(file) != kAnimFileNone) {
    qvAnimSource* source = nullptr;
    int code = OpenAnimSource(file, &source);
    if (code != 0) return code;
    if (options.loadAlpha && !source->alpha) {
      CloseAnimSource(source);
      return ERR_NOALPHA;
    }
    code = FramesOfSource(source, options.transparentColour, out);
    CloseAnimSource(source);
    return code;
  }
  return FramesOfPictureFile(file, options, out);
}

int ConvertAnimFramePixels(int32_t width, int32_t height, int32_t transparentColour,
                           uint32_t** pixelSource, qvBitMap** bitmap, qvPlane** mask) {
  if (*pixelSource == nullptr) return 0;
  const int64_t key = transparentColour == -1 ? -1 : int64_t{transparentColour & 0xFFFFFF};
  qvBitMap* b = nullptr;
  qvPlane* m = nullptr;
  int code = AllocBitMapFromARGB(*pixelSource, key, width, height, width, &b, &m);
  if (code != 0) return code;
  FreeBitMap(*bitmap);
  FreeMaskOrAlpha(*mask);
  *bitmap = b;
  *mask = m;
  std::free(*pixelSource);
  *pixelSource = nullptr;
  return 0;
}

}  // namespace qv
