// Brushes: their records and list, finding, copying and freeing them, the clipboard and the
// tray icon, and copy-on-write for the layers that show them.
#pragma once

#include <cstdint>
#include <vector>

#include "core/registry.h"
#include "display/records.h"
#include "image/image.h"

namespace qv {

// Brushes.

// What a brush holds: pixels, or a vector shape drawn at its size.
enum : int32_t { kBrushRaster = 0, kBrushVector = 1 };

struct qvBrush {
  qvObjectHeader header;   // type kObjectBrush
  qvObjectDataItem* data;  // named data items
  qvPixelBuffer* pixelBuffer;
  qvBitMap* bitmap;
  qvPlane* mask;
  qvPlane* alpha;
  int32_t width, height, rowWidth;
  int32_t locked;
  int32_t layerCopy;  // kept only for the layers that show it
  int32_t transparentColour;
  int32_t transformed;
  int32_t kind;  // kBrushRaster or kBrushVector
  int32_t sourceX, sourceY, sourceWidth, sourceHeight;
  int32_t hardware, hardwarePlanes;
};

// FindBrush flags.
enum : int32_t {
  kFindModify = 1,
  kFindLayerCopies = 2,
  kFindNoCopy = 4,
  kFindRasterOnly = 8,
  kFindHardware = 16,
};

qvObjectHeader** BrushListHead();
// Appends a brush that takes over the planes and the pixel buffer reference. With `automatic`
// the id becomes {0, the record}. 0 or ERR_MEM (then nothing was taken over).
int AddBrush(qvObjectId* id, bool automatic, int32_t kind, int32_t width, int32_t height,
             int32_t rowWidth, int32_t transformed, qvPixelBuffer* pixelBuffer, qvBitMap* bitmap,
             int32_t transparentColour, qvPlane* mask, qvPlane* alpha, qvBrush** out);
// AddBrush for a raster brush of rows `width` long that always takes over its planes: on failure
// it frees them, so that a maker has nothing left to free.
int AddRasterBrush(qvObjectId* id, bool automatic, int32_t width, int32_t height, qvBitMap* bitmap,
                   int32_t transparentColour, qvPlane* mask, qvPlane* alpha, qvBrush** out);
int AllocBrush(qvObjectId* id, bool automatic, int32_t width, int32_t height, uint32_t colour,
               bool withMask, bool withAlpha, bool clearPlanes, bool noFill, qvBrush** out);
int FindBrush(qvScriptState* L, qvObjectId id, qvBrush** out, int32_t flags);
int CloneBrush(qvScriptState* L, const qvBrush* source, qvObjectId* id, bool automatic,
               qvBrush** out);
int DeleteBrushNode(qvScriptState* L, qvObjectId id);
int ReleaseBrushId(qvScriptState* L, qvObjectId id, bool mustExist);
void FreeAllBrushes(qvScriptState* L);
void PurgeDetachedBrushes(qvScriptState* L);
// 1 and the planes of a raster brush with that id, else 0.
int GetBrushBitMaps(qvScriptState* L, qvObjectId id, qvBitMap** bitmap, qvPlane** mask,
                    qvPlane** alpha, int32_t* width, int32_t* height);

// The brush's picture as width x height ARGB words, top row first (mask and alpha channel are not
// part of it). 0, FindBrush's codes (ERR_BRUSHTYPE for a vector brush) or ERR_MEM.
int ReadBrushPicture(qvScriptState* L, qvObjectId id, std::vector<uint32_t>* argb, int32_t* width,
                     int32_t* height);
// Puts the brush's picture on the clipboard (24 bits, its alpha dropped). 0, ReadBrushPicture's
// codes, or the clipboard's (platform/clipboard.h).
int CopyBrushToClipboard(qvScriptState* L, qvObjectId id);
// A new raster brush under an automatic id holding the clipboard's picture: 0, ERR_CLIPREAD when
// the clipboard holds no picture that reads (core/dib.h), ERR_MEM, ERR_LOCKBMAP; nothing is made
// on failure.
int PasteClipboardBrush(qvObjectId* id, qvBrush** out);
// Makes the brush's picture the tray icon with that tooltip (platform/desktop.h): 0,
// ReadBrushPicture's codes, ERR_MEM.
int SetBrushTrayIcon(qvScriptState* L, qvObjectId id, const char* tooltip);

// Copy-on-write over the layers, asked through the layer system's plug (core/layer_system.h):
// copies the object for the layers that show it (`clone` makes the copy under an automatic id and
// returns its record, whose header follows) and points those layers at the copy. 0 or the copy's
// error; *clone stays unchanged when no layer shows the object.
using qvCloneFunction = int (*)(qvScriptState* L, void* object, qvObjectHeader** clone);
int DetachFromLayers(qvScriptState* L, int32_t kind, qvObjectId id, qvCloneFunction cloneFn,
                     void* object, qvObjectHeader** clone);

}  // namespace qv
