// Showing an object: the display options (transform and layer options) of every command that
// shows one, and putting a brush or a part of a brush or BGPic on the output device.
#pragma once

#include <cstdint>

#include "core/registry.h"
#include "image/image.h"

namespace qv {

// Display options (display_options.cpp): the transform and the layer options of every command
// that shows an object.

struct qvTransformBlock {
  double matrix[4];  // a, b, c, d: maps the object into its displayed shape
  double scaleX, scaleY;
  int32_t width, height;  // target size; 0 is the object's own
  double rotate;          // degrees
  double givenMatrix[4];
  int32_t matrixGiven;  // the matrix came from "transform"
  int32_t smoothScale;
  double anchorX, anchorY;  // 0..1
};

struct qvLayerOptions {
  int32_t transparency;  // 0 opaque .. 255 invisible
  int32_t renderNeeded;  // the object cannot simply be blitted
};

// How the options of a command are read (the readers are the libraries'; see
// libs/options/options.h).
enum : int32_t {
  kOptTableRequired = 2,    // an argument that is no table is refused
  kOptNoSize = 4,           // "width" and "height" are not read
  kOptNoRotate = 8,         // "rotate" is not read
  kOptRotationSmooth = 16,  // a rotation sets the smooth flag to `smooth`
};

void InitTransformBlock(qvTransformBlock* block);
void InitLayerOptions(qvLayerOptions* options);
// Defaults, then the size, and the smooth flag unless kOptRotationSmooth.
void InitDisplayOptions(qvTransformBlock* block, qvLayerOptions* options, int32_t width,
                        int32_t height, int32_t smooth, int32_t flags);
// The matrix for the size (0: the source's), the scales (used when the size is the source's) and
// the rotation in degrees; stores all of them in the block.
void BuildTransformMatrix(qvTransformBlock* block, int32_t width, int32_t height,
                          int32_t sourceWidth, int32_t sourceHeight, double scaleX, double scaleY,
                          double rotate);
// The given matrix, or the one built from the block's own size, scales and angle.
void UpdateLayerMatrix(qvTransformBlock* block, int32_t sourceWidth, int32_t sourceHeight);
// The defaults back to identity, scale 1, no transparency (graphics library open).
void ResetDisplayOptionDefaults();
// The block and the layer options that InitTransformBlock and InitLayerOptions hand out from now.
void SetDisplayOptionDefaults(const qvTransformBlock& block, const qvLayerOptions& options);

// A size where either side may be KEEPASPRAT (100000): that side follows the other by the
// source's aspect, rounded half up. ERR_BADDIMENSIONS for a side (or a source side, or a result)
// below 1; ERR_WRONGUSAGE for both sides KEEPASPRAT.
int ResolveScaleSize(int32_t srcWidth, int32_t srcHeight, int32_t* width, int32_t* height);

// ---------------------------------------------------------------------------------------------
// Showing an object (display_object.cpp): a brush, a part of a brush or of a BGPic put on the
// output device with the display options of the command.

// DisplayObjectCore flags.
enum : int32_t {
  kShowNoDraw = 1,        // do not draw directly
  kShowToLayers = 2,      // passed on to the layer system
  kShowTransformed = 4,   // treat the object as transformed
  kShowLayerCopy = 8,     // for a layer copy: layer copies are found, nothing is drawn
  kShowUpdateLayer = 16,  // update an existing layer
};

struct qvDisplayObjectRequest {
  void* layer = nullptr;          // the layer to update, or the insert position's layer
  int32_t layerPosition = 0;      // passed on to the layer geometry update
  int32_t kind = 0;               // kObjectBrush, kObjectBrushPart, kObjectAnim, kObjectBGPicPart
  qvObjectId id{0, nullptr};      // a BGPic part's number -1: the current display's BGPic
  int32_t frame = 0;              // anim frame, from 0
  int32_t srcX = 0, srcY = 0;     // the rectangle's corner in the object
  int32_t x = 0, y = 0;           // where it goes (special positions allowed; -1 for a BGPic part
                                  // is its own place)
  int32_t width = 0, height = 0;  // the rectangle (a whole brush: its size)
  bool composeLayers = false;     // a BGPic part as composed with its layers
  const qvTransformBlock* transform = nullptr;   // null: the defaults
  const qvLayerOptions* layerOptions = nullptr;  // null: the defaults
  // The options gave a size, scales or an angle: the transform's matrix is built from them for
  // the object's size (BuildTransformMatrix).
  bool buildMatrix = false;
  // The options' refusal (the reader's code, its argument stored), reported where the options
  // meet the object: after the object and the rectangle's size are found good.
  int32_t optionsError = 0;
  int32_t flags = 0;  // kShow*
};

// Finds the object, cuts the rectangle to it, builds the options' matrix, transforms it, builds an
// alpha channel for a transparency and blits it through SafeBlt into the output device (adding it
// to the dirty list while double buffering). With `outBitmap` nothing is drawn: the part's picture
// is handed back, to be freed by the caller when *outAllocated. Returns 0 or the first error:
// the finder's, ERR_BADDIMENSIONS, the options' error, ERR_NEGCOORDS, ERR_COORDSRANGE,
// ERR_BRUSHTYPE, ERR_NOLAYERS for a layer update, the transform's or SafeBlt's. Every plane made
// here is freed on every way out. Script thread.
int DisplayObjectCore(qvScriptState* L, const qvDisplayObjectRequest& request, qvBitMap** outBitmap,
                      bool* outAllocated);
// A whole brush at (x, y) with the default options, for the layer system.
int DisplayBrushObject(qvScriptState* L, qvObjectId id, int32_t x, int32_t y);

}  // namespace qv
