// Where drawing goes: the blits into the output target, the output devices (the display, a
// brush, a BGPic, a mask or alpha channel) and double buffering.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/registry.h"
#include "display/bgpics.h"
#include "display/displays.h"
#include "image/image.h"

namespace qv {

// Blits into the output target (blit.cpp).

// A clip region: drawing into the output target stays inside the rectangle and, with a mask,
// where its bits are set (the mask is indexed from the region's corner).
struct qvClipRegion {
  qvObjectHeader header;  // type kObjectClipRegion
  int32_t x, y;           // never negative
  int32_t width, height;
  qvPlane* mask;  // or null: the plain rectangle
  int32_t bytesPerRow;
  int32_t layerCopy;
  int32_t locked;
};

// Clips a blit of width x height from (srcX, srcY) to (dstX, dstY): a negative destination
// corner (or one left of or above the region, with a region and useClip) moves the source corner
// and shortens the size; the size is then cut to the source, and to the destination's size or
// the region's far edges. True when something is left to draw.
bool ClipBltRect(const qvClipRegion* clip, int32_t* srcX, int32_t* srcY, int32_t* dstX,
                 int32_t* dstY, int32_t* width, int32_t* height, int32_t srcWidth,
                 int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, bool useClip);

// SafeBlt flags.
enum : int32_t {
  kBltNoClip = 1,            // clip against the destination only
  kBltIgnoreSprites = 2,     // do not work around the sprites of the output target
  kBltBeneathSprites = 4,    // under sprites: into the display bitmap, then recompose
  kBltRecompose = 8,         // layers on: recompose into the window-size bitmap and refresh
  kBltKeepPlanes = 16,       // leave the output's own mask and alpha channel alone
  kBltNoRefresh = 32,        // do not bring the rectangle to the window
  kBltToDisplayBitmap = 64,  // the destination is the display bitmap
};

// The central blit: the rectangle of `src` with its mask or alpha (a mask wins) goes into `dst`
// (null: the output target's road), clipped, around the sprites, keeping the output's own mask
// and alpha channel up to date by the mask mode and the alpha intensity, and is refreshed into
// the window when it lands in the display bitmap. Without a source while the display is the
// output, the source is the display bitmap (kBltBeneathSprites, kBltToDisplayBitmap) or the
// recomposed background (kBltRecompose), read at the source corner. Without a current display
// only a blit with a destination and kBltKeepPlanes runs; otherwise the "DISPLAY=NULL" line is
// written and ERR_INTERNAL returned. Returns 0, ERR_MEM (the clip-mask scratch) or the error of
// a nested blit. Script thread.
int SafeBlt(qvScriptState* L, const qvBitMap* src, int32_t srcX, int32_t srcY, qvBitMap* dst,
            int32_t dstX, int32_t dstY, int32_t width, int32_t height, int32_t srcWidth,
            int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, int32_t flags,
            const qvPlane* mask, const qvPlane* alpha, const qvClipRegion* clip);
// The clip-mask scratch buffer: grown to at least `bytes`, never shrunk. 0 or ERR_MEM.
int EnsureClipScratch(size_t bytes);
void FreeClipScratch();

// How the output's own planes take what a blit or a primitive draws without a destination
// bitmap: the mask mode (a BltPlane combine mode, default 0) and the alpha intensity (-1 none,
// else 0..255). The copy-alpha setting makes a source alpha channel go into an output's alpha
// channel (off by default). Script thread.
int32_t GetMaskMode();
void SetMaskMode(int32_t mode);
int32_t GetAlphaIntensity();
void SetAlphaIntensity(int32_t intensity);
bool GetCopyAlpha();
void SetCopyAlpha(bool on);
// Registers the runtime-attribute handlers of the mask mode and the alpha intensity and resets
// both (with the copy-alpha setting) to their defaults. 0 or ERR_MEM.
int32_t OpenDrawAttributes();

// Output devices and double buffering.

int SelectOutputDevice(qvScriptState* L, int32_t kind, qvObjectId id, int32_t outputType,
                       int32_t frame, int32_t mode, int32_t comboFlags);
int SelectBGPicAsLayerTarget(qvScriptState* L, qvObjectId id, bool ownBGPic);
int BindOutputDevice(qvScriptState* L);
int EndSelectOutput(qvScriptState* L, qvDisplay* display, bool noRefresh);
int BeginDoubleBuffer(qvScriptState* L, bool hardware);
// What may only happen on the display itself (double buffering, sprites, moves) is refused while
// drawing goes elsewhere, in this order: a BGPic as layer target, the back buffer, an anim frame, a
// brush, a mask, an alpha channel. 0 when the display is the output.
int CheckOutputIsDisplay(const qvDisplay* d);
int FlipDisplay(qvScriptState* L, bool sync);
int FreeDoubleBuffer(qvDisplay* display);
void FlipDoubleBuffer(qvDisplay* display, bool whole, int32_t refreshFlags);
int ResetFrontBuffer(qvDisplay* display, int32_t width, int32_t height);
// True when the object of that kind and id is the current output device (a brush, BGPic, their
// masks or alpha channels).
bool IsSelectedOutput(int32_t kind, qvObjectId id);

}  // namespace qv
