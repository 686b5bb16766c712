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
  // Text layers: the matrix is not a uniform scale with a whole-degree turn, which text can be
  // laid out at directly; the two scales that the classification found.
  int32_t isRotated;
  double rotatedScaleX, rotatedScaleY;
  double anchorX, anchorY;  // 0..1
};

// The effects a layer can carry: a drop shadow, a border round its pixels and 20 filter slots.

// Shadow directions, clockwise from north.
enum : int32_t {
  kShadowNorth = 0,
  kShadowNorthEast = 1,
  kShadowEast = 2,
  kShadowSouthEast = 3,
  kShadowSouth = 4,
  kShadowSouthWest = 5,
  kShadowWest = 6,
  kShadowNorthWest = 7,
};
struct qvShadowBlock {
  int32_t on;
  uint32_t colour;  // ARGB; the alpha byte is the shadow's transparency
  int32_t size;     // pixels of offset, at least 0
  int32_t direction;
  double radius;  // at least 1
  double sigma;   // above 0
};
struct qvBorderBlock {
  int32_t on;
  uint32_t colour;  // ARGB; the alpha byte is the border's transparency
  int32_t size;     // at least 1
};

// The filter slots in their fixed order: the order in which filters of one priority run.
enum LayerFilter : int32_t {
  kFilterBlur,
  kFilterCharcoal,
  kFilterContrast,
  kFilterEdge,
  kFilterEmboss,
  kFilterGamma,
  kFilterGrayscale,
  kFilterInvert,
  kFilterModulate,
  kFilterMonochrome,
  kFilterOilPaint,
  kFilterPixelate,
  kFilterSepiaTone,
  kFilterSharpen,
  kFilterSolarize,
  kFilterSwirl,
  kFilterTint,  // doubles as the layer's tint ("tint", "tintcolor")
  kFilterWaterRipple,
  kFilterXFlip,
  kFilterYFlip,
  kLayerFilterCount,
};
struct qvFilterSlot {
  uint8_t reserved[2];
  uint8_t on;
  uint8_t priority;  // higher runs first; ties in slot order
  int32_t ints[4];   // integer and level arguments, in order
  float floats[4];   // float arguments, in order
};
// How a filter's arguments are given: an integer, a level (a number, or a percentage of 255), a
// float.
enum : int32_t { kFilterArgInt = 1, kFilterArgLevel = 2, kFilterArgFloat = 3 };
constexpr int32_t kMaxFilterArgs = 5;
struct qvFilterKind {
  const char* name;  // the "name" of a filter list entry (lower case)
  int32_t argCount;
  int32_t args[kMaxFilterArgs];     // kFilterArg*
  double defaults[kMaxFilterArgs];  // taken for arguments not given
  bool changesGeometry;             // the filtered picture no longer lies on the original
};
extern const qvFilterKind kLayerFilters[kLayerFilterCount];
// The slot's arguments set to the filter's defaults (on and priority unchanged).
void SetFilterDefaults(int32_t filter, qvFilterSlot* slot);
bool HasActiveFilters(const qvFilterSlot slots[kLayerFilterCount]);
// Whether a slot that moves pixels (pixelate, swirl, waterripple, xflip, yflip) is on.
bool HasGeometryFilters(const qvFilterSlot slots[kLayerFilterCount]);

constexpr size_t kLayerNameSize = 256;  // a name holds at most 255 characters

struct qvLayerOptions {
  char name[kLayerNameSize];  // empty: no name
  int32_t hidden;
  int32_t insertPos;     // 0: the caller's own place; else 1-based, at most the count + 1
  int32_t transparency;  // 0 opaque .. 255 invisible
  qvShadowBlock shadow;
  qvBorderBlock border;
  qvFilterSlot filters[kLayerFilterCount];
  int32_t renderNeeded;  // the object cannot simply be blitted: its layer must be recomposed
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
// The defaults back to identity, scale 1, no transparency, the shadow and border blocks' own
// defaults (graphics library open).
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
