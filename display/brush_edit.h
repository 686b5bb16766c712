// Reworking a brush's pictures: the operations behind the brush library's commands that scale,
// turn, cut, key or fill a brush, take a brush from another object, turn a vector brush into
// pixels, and give preloaded brushes planes of their own at start-up. Each takes a brush the
// caller has found (with the flags its command needs) and plain values; on failure the brush is
// unchanged. Script thread.
#pragma once

#include <cstdint>
#include <vector>

#include "display/brushes.h"

namespace qv {

// Makes the planes the brush's, freeing those it replaces, and sets its size words.
void SetBrushPlanes(qvBrush* brush, qvBitMap* bitmap, qvPlane* mask, qvPlane* alpha, int32_t width,
                    int32_t height);

// Scales the brush to width x height (both at least 1; the same size does nothing). A raster
// brush is scaled with its mask and alpha channel; a vector brush is drawn again at the size by
// its image plugin (the image host's transform) and marked transformed. 0 or the engine's code.
int ScaleBrushTo(qvBrush* brush, int32_t width, int32_t height, bool smooth);
// Turns the brush by the matrix {a, b, c, d}: a raster brush through the rotator (which gives it
// a mask, or keeps its alpha channel, for the corners), a vector brush through its image plugin,
// marked transformed. 0 or the engine's code.
int TransformBrushBy(qvBrush* brush, const double matrix[4], bool smooth);

// Gives every pixel of an old colour the new one, pairs {old, new} of 0x00RRGGBB colours in
// turn. 0 or ERR_LOCKBMAP.
int ReplaceBrushColours(qvBrush* brush, const std::vector<uint32_t>& pairs);
// Mixes `source` into `brush` over the common size, level 0-255 being the source's share,
// through the source's alpha channel when it has one, else its mask. 0 or the engine's code.
int MixBrushInto(qvBrush* brush, const qvBrush* source, int32_t level);

// Cuts the brush to the rectangle (a corner already resolved against the brush): a negative
// corner ERR_NEGCOORDS, one beyond the brush ERR_COORDSRANGE, a side below 1 ERR_BADDIMENSIONS;
// the rectangle is cut to the brush. 0, those codes or ERR_MEM.
int CropBrushTo(qvBrush* brush, int32_t x, int32_t y, int32_t width, int32_t height);
// The smallest rectangle holding every visible pixel (mask bit set or alpha above 0; every pixel
// of a brush without either). ERR_TRANSBRUSH when nothing is visible.
int FindVisibleBox(const qvBrush* brush, int32_t* x, int32_t* y, int32_t* width, int32_t* height);
// Crops the brush to FindVisibleBox's rectangle, which it returns. 0, ERR_TRANSBRUSH or ERR_MEM.
int TrimBrushToVisible(qvBrush* brush, int32_t* x, int32_t* y, int32_t* width, int32_t* height);

// A mask keyed on the colour (alpha byte ignored) replaces the old mask; the alpha channel goes.
// 0 or ERR_MEM.
int KeyBrushColour(qvBrush* brush, uint32_t colour);
// Transparency kinds of ChangeBrushTransparency.
enum : int32_t { kTransparencyNone = -1 };
// kObjectMask: keeps a mask, else makes one from the alpha channel (set where it is 255; the alpha
// then goes) or a fully visible one; kObjectAlphaChannel: keeps an alpha channel, else makes one
// from the mask (0 and 255; the mask then goes) or a fully opaque one; kTransparencyNone frees
// both. ERR_WRONGUSAGE for another kind, ERR_MEM.
int ChangeBrushTransparencyKind(qvBrush* brush, int32_t kind);
// Inverts every byte of the mask or the alpha channel: ERR_WRONGUSAGE when the brush has none.
int InvertBrushMask(qvBrush* brush);
int InvertBrushAlpha(qvBrush* brush);
// Fills from (x, y) (inside the brush) with `fill` up to pixels of the border colour, both
// 0x00RRGGBB converted to the bitmap's format. 0, ERR_LOCKBMAP or ERR_MEM.
int FloodFillBrush(qvBrush* brush, int32_t x, int32_t y, uint32_t border, uint32_t fill);
// A vector brush becomes raster and lets its pixel buffer go: ERR_WRONGUSAGE for a raster brush.
int RasterizeVectorBrush(qvBrush* brush);

// The pixels of the brush as 0x00RRGGBB words row by row; with alpha the top byte holds the
// alpha byte (or 255 where the mask bit is set, 255 everywhere without either). 0, ERR_LOCKBMAP
// or ERR_MEM.
int ReadBrushWords(const qvBrush* brush, bool withAlpha, std::vector<uint32_t>* words);
// A new raster brush of width x height from colour words row by row (0x00RRGGBB converted into
// the bitmap's format); with alpha the top bytes make its alpha channel; a transparent colour
// other than -1 keys a mask. ERR_BADDIMENSIONS, ERR_MASKNALPHA (both asked for), ERR_MEM,
// ERR_LOCKBMAP; nothing is made on failure.
int BuildBrushFromWords(qvObjectId* id, bool automatic, const std::vector<uint32_t>& words,
                        int32_t width, int32_t height, bool withAlpha, int64_t transparentColour,
                        qvBrush** out);

// A new raster brush of the screen's rectangle (the desktop picture with the player's windows on
// it; outside the screen black). ERR_BADDIMENSIONS for a side below 1, ERR_MEM.
int GrabDesktopBrush(qvObjectId* id, bool automatic, int32_t x, int32_t y, int32_t width,
                     int32_t height, qvBrush** out);

// Copies the planes of another object into a new raster brush (GetBrushLink, ConvertToBrush):
// a BGPic (its scaled set), a brush or a sprite's frame (from 1: ERR_ANIMFRAME outside); the new
// id equal to a source brush's: ERR_WRONGUSAGE; anims, text objects and layers are not available
// yet and give their not-found error (a layer ERR_NOLAYERS); another type ERR_WRONGUSAGE. An
// explicit new id is released first.
int ConvertObjectToBrush(qvScriptState* L, int32_t sourceType, qvObjectId sourceId,
                         qvObjectId* newId, bool automatic, int32_t frame, qvBrush** out);

// Start-up: every brush still holding a pixel buffer gets planes of its own, cut to its source
// rectangle and keyed by its transparent colour; a vector brush keeps its buffer, every other
// brush lets it go. 0 or the first error.
int ResolvePreloadedBrushes();

}  // namespace qv
