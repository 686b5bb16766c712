// The draw library's global style and its primitives: single pixels, reading a pixel, clearing
// the output, boxes (with their direct road), one-pixel and thick lines, and the common shape
// renderer that ellipses, circles, arcs, polygons and the boxes the direct road leaves go
// through. Every primitive goes to the current output device (the display and its window, a
// brush, a BGPic, a mask or an alpha channel) and honours the output target's clip region.
// Everything here runs on the script thread and takes plain values: the draw library reads the
// script's arguments (libs/draw/).
#pragma once

#include <cstdint>

#include "core/registry.h"
#include "display/shapes.h"
#include "display/show.h"

namespace qv {

// ---------------------------------------------------------------------------------------------
// The style and the degree tables.

// The global style record (the layer system copies it into new shape layers).
qvDrawStyle* GetDrawStyle();
// Clamps in place: a line width below 1 becomes 1, edge size and shadow distance 1..64, a shadow
// direction outside 0..7 becomes south-east, a fill style outside 0..3 becomes kFillNone.
void ValidateFormStyle(qvDrawStyle* style);

// The library's open: the style back to its defaults and the degree tables filled. 0 or ERR_MEM.
int32_t OpenDrawStyle();
void FreeDrawStyle();
// Entry i holds the sine (cosine) of 360 - i degrees, i = 0..360; null before OpenDrawStyle.
const double* DegreeSineTable();
const double* DegreeCosineTable();

// The colour a pixel of `old` takes when `colour` (0x00RRGGBB) is drawn over it with a
// transparency (0 opaque .. 255 invisible): each channel o + ((c - o) x (255 - t) >> 8), the
// shift arithmetic (toward minus infinity) as MixRGB has it.
uint32_t MixTransparent(uint32_t old, uint32_t colour, int32_t transparency);

// ---------------------------------------------------------------------------------------------
// Pixels and clearing.

// Draws one pixel in 0xAARRGGBB at (x, y) (special positions allowed). A point outside the clip
// rectangle, outside the clip region's mask or under a sprite draws nothing and succeeds.
// ERR_LAYERSUPPORT2 while layers are on; BindOutputDevice's errors.
int PlotPixel(qvScriptState* L, int32_t x, int32_t y, uint32_t colour);
// The value of the output at (x, y) by its type: the colour of a picture or of the display, the
// mask bit (1 without a mask), the alpha byte (255 without an alpha channel). ERR_PIXELRANGE
// outside the clip rectangle or its mask; BindOutputDevice's errors.
int ReadPixelValue(qvScriptState* L, int32_t x, int32_t y, uint32_t* out);
// Clears the output: a picture, mask or alpha output is filled (the colour's RGB, alpha 255 or
// the alpha intensity, the mask set or by the mask mode); the display gets its background
// picture back. With layers on: ERR_NOLAYERS until the layer system frees layers here.
int ClearOutput(qvScriptState* L, uint32_t colour);

// ---------------------------------------------------------------------------------------------
// Shapes. Each returns 0 or an error code. Layers on: ERR_NOLAYERS until the layer system takes
// shapes. `transform` null: the identity with the anchor at the centre.

// Width or height below 1: ERR_WRONGUSAGE. Corner levels in percent (clamped to 0..100) of half
// the smaller side: top-left, top-right, bottom-right, bottom-left.
int DrawBoxShape(qvScriptState* L, const qvDrawStyle& style, const qvTransformBlock* transform,
                 int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                 const int32_t corners[4]);
// Type kShapeCircle or kShapeEllipse; a radius below 1: ERR_WRONGUSAGE. Drawn 2r + 1 wide.
int DrawEllipseShape(qvScriptState* L, const qvDrawStyle& style, const qvTransformBlock* transform,
                     int32_t type, int32_t x, int32_t y, int32_t radiusX, int32_t radiusY,
                     uint32_t colour);
// A pie slice; a radius below 1 or a negative angle: ERR_WRONGUSAGE; equal angles draw nothing.
int DrawArcShape(qvScriptState* L, const qvDrawStyle& style, const qvTransformBlock* transform,
                 int32_t x, int32_t y, int32_t radiusX, int32_t radiusY, int32_t startAngle,
                 int32_t endAngle, bool clockwise, uint32_t colour);
// The points are shifted to start at (0, 0), closed; width and height are their box's.
int DrawPolygonShape(qvScriptState* L, const qvDrawStyle& style, const qvTransformBlock* transform,
                     int32_t x, int32_t y, int32_t width, int32_t height, const qvPointD* points,
                     int32_t count, uint32_t colour);
// A line from (x1, y1) to (x2, y2), both ends included.
int DrawLinePrim(qvScriptState* L, const qvDrawStyle& style, const qvTransformBlock* transform,
                 int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour,
                 int32_t thickness);

// What DrawBoxPrim did: drawn straight into the output, or left to the shape renderer (the box
// meets a sprite, or the clip region has a mask that the direct road cannot honour).
enum class BoxRoad : int32_t { kDrawnDirectly, kNeedsRenderer };
// The direct road of a plain box with its shadow and edge; *road tells whether it drew. 0 or
// an error code.
int DrawBoxPrim(qvScriptState* L, const qvDrawStyle& style, int32_t x, int32_t y, int32_t width,
                int32_t height, uint32_t colour, BoxRoad* road);

// The common shape renderer: the outline built and rasterised into a new picture with its
// forms, then blitted onto the output through SafeBlt with the target's clip region.
int RenderShape(qvScriptState* L, const qvShapeParams& shape);

// ---------------------------------------------------------------------------------------------
// The vectorgraphics library's ForcePathUse: while a drawer is set, the box, ellipse, circle,
// arc and polygon commands hand their shape to it in place of the shape renderers.
using qvShapePathDrawer = int (*)(qvScriptState* L, const qvShapeParams& shape);
void SetShapePathDrawer(qvShapePathDrawer drawer);  // null: the shape renderers again
qvShapePathDrawer GetShapePathDrawer();

}  // namespace qv
