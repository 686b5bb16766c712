// The builder and loader of multi-frame objects (sprites now, anims later): frames cut from a
// grid of a brush or a background picture, taken over from sprites of one size, or decoded from
// an anim file or a picture file. The caller puts the frames into its own record (AddSprite takes
// the arrays of a qvAnimFrames as they are).
#pragma once

#include <cstdint>

#include "core/registry.h"
#include "image/image.h"

namespace qv {

struct qvScriptState;

// What the frames are made from (the object types of their sources).
enum : int32_t {
  kAnimSourceBrush = kObjectBrush,    // 3: a brush, or a loaded picture
  kAnimSourceAnim = kObjectAnim,      // 4: an anim
  kAnimSourceBGPic = kObjectBGPic,    // 1: a background picture
  kAnimSourceSprites = kObjectSprite  // 32: sprites of one size, linked
};

// What the frames are for: the record type that takes them.
enum : int32_t {
  kAnimTargetAnim = kObjectAnim,          // 4
  kAnimTargetDiskAnim = kObjectAnimDisk,  // 20
  kAnimTargetSprite = kObjectSprite       // 32
};

// How frames are cut from a picture, in CreateAnim's order of its six numbers: frames of
// frameWidth x frameHeight, frameCount of them, framesPerRow a row (0 or less: all in one row),
// the first one's top left corner at x, y; taken row by row, left to right.
struct qvAnimGrid {
  int32_t frameWidth = 0;
  int32_t frameHeight = 0;
  int32_t frameCount = 0;
  int32_t framesPerRow = 0;
  int32_t x = 0;
  int32_t y = 0;
};

struct qvAnimBuildRequest {
  int32_t sourceKind = kAnimSourceBrush;
  int32_t targetKind = kAnimTargetSprite;
  qvObjectId sourceId{};  // the brush, BGPic or anim
  // kAnimSourceSprites: the sprites whose frames the new one shows, in order.
  const qvObjectId* spriteIds = nullptr;
  int32_t spriteCount = 0;
  // With `cutGrid` the frames are cut from the brush or BGPic by `grid`; without it the whole
  // picture is the one frame.
  bool cutGrid = false;
  qvAnimGrid grid;
};

// The frames made: every array has `count` entries, allocated with std::calloc, as are the
// planes with the image engine's allocators (FreeAnimFrames frees the lot). A frame has a bitmap
// with its mask or alpha channel (either may be null), or, for frames decoded before any display
// is there, only its pixel source: width x height words 0x00RRGGBB (std::free) that are keyed by
// the transparent colour when they are turned into planes.
struct qvAnimFrames {
  int32_t width = 0;
  int32_t height = 0;
  int32_t count = 0;
  int32_t transparentColour = -1;  // 0x00RRGGBB, -1 none
  qvBitMap** bitmaps = nullptr;
  qvPlane** masks = nullptr;
  qvPlane** alphas = nullptr;
  uint32_t** pixelSources = nullptr;  // null when no frame has one
  int32_t* delays = nullptr;          // milliseconds a frame (0 none), or null
  // Linked frames (kAnimSourceSprites): the sprite records whose frames these are, null
  // terminated, and no planes of their own (the four plane arrays stay null, `count` is the
  // sum of the linked sprites' frames).
  void** links = nullptr;
};

// Frees every plane, pixel source and array and leaves the record empty. Null is allowed.
void FreeAnimFrames(qvAnimFrames* frames);

// Builds the frames of the request into *out (empty on failure). 0 or an error code:
// FindBrush's / FindBGPic's codes; ERR_FINDANIM for an anim source; for a grid ERR_WRONGUSAGE
// (count, frame width or height not positive), ERR_NEGCOORDS (x or y negative), ERR_BRUSHSIZE
// (the grid does not fit the picture); for sprites ERR_WRONGSPRITESIZE (sizes differ),
// ERR_SPRITELINK (a source is itself linked) and FindSprite's codes; ERR_MEM.
int BuildAnimObject(qvScriptState* L, const qvAnimBuildRequest& request, qvAnimFrames* out);

// LoadAnimObject's options, which libs/ reads from the script's table (or a number that is the
// transparent colour).
struct qvAnimLoadOptions {
  int64_t transparentColour = -1;  // "transparency": RGB keyed out by a mask, -1 none
  bool loadAlpha = false;          // "loadalpha"
  // A picture cut into a grid: "x", "y", "width", "height", "fpr", "frames". The grid is cut
  // when frames and height are both above 0; frames above 0 loads the file as a picture even
  // when it is an anim file.
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t framesPerRow = 0;
  int32_t frames = 0;
  bool fromDisk = false;                 // "fromdisk" (anims only)
  const char* cacheName = nullptr;       // "cache": add the picture to the image cache
  const char* cachedLoadName = nullptr;  // "cachedload": take the picture from the image cache
  bool cacheAlpha = false;               // "cachealpha": the cache keeps the alpha channel
};

// Loads the file into frames for a record of `targetKind`: an anim file (GIF) frame by frame
// with its delays, else a picture whole or cut into a grid. 0 or an error code: ERR_MASKNALPHA
// (loadalpha with a transparent colour), ERR_WRONGUSAGE (frames with fromdisk), ERR_NOALPHA
// (alpha asked of an anim file without it), ERR_LOADFRAME (a frame that does not decode),
// the picture loader's and the image cache's codes, the grid's codes as BuildAnimObject, ERR_MEM.
int LoadAnimObject(qvScriptState* L, const char* file, const qvAnimLoadOptions& options,
                   int32_t targetKind, qvAnimFrames* out);

// Turns frame i's pixel source into bitmap and mask (keyed by the transparent colour) and frees
// the source; a frame without one is left alone. 0 or ERR_MEM (the frame unchanged).
int ConvertAnimFramePixels(int32_t width, int32_t height, int32_t transparentColour,
                           uint32_t** pixelSource, qvBitMap** bitmap, qvPlane** mask);

}  // namespace qv
