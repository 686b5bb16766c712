// Shape geometry and rasterising for the draw library and the layers that redraw shapes: the
// draw style record, outlines of boxes, rounded boxes, ellipses, circles, arcs and polygons as
// point lists, their rotation, the SHADOW and EDGE margins, the grown edge outline, and the
// rasterising of an outline into a new picture with a mask or an alpha channel through the
// coverage rasteriser. Everything here runs on the script thread; it takes plain values (the
// draw library reads the script's arguments).
#pragma once

#include <cstdint>
#include <vector>

#include "core/registry.h"
#include "display/show.h"
#include "image/image.h"

namespace qv {

// ---------------------------------------------------------------------------------------------
// The draw style.

// Shape types: the object type codes of the shapes.
enum : int32_t {
  kShapeBox = 14,
  kShapeCircle = 15,
  kShapeEllipse = 16,
  kShapeLine = 17,
  kShapePolygon = 27,
  kShapeArc = 31,
};

// Form style flags. kFormNormal alone means no extra form; any other even value given by the
// script is kept as it is.
enum : int32_t {
  kFormNormal = 1,
  kFormAntialias = 16,
  kFormShadow = 32,
  kFormEdge = 64,
};

// Shadow directions: kShadowNorth .. kShadowNorthWest (display/show.h).

// The draw library's style: one global instance, copies of it for each shape and each shape
// layer. Colours are 0xAARRGGBB with the top byte a transparency (0 opaque, 255 invisible), except
// the edge colour, which is RGB.
struct qvDrawStyle {
  int32_t fillStyle;  // kFillNone, kFillColour, kFillGradient, kFillTexture (display/records.h)
  int32_t formStyle;  // kFormNormal, or a union of kFormAntialias, kFormShadow, kFormEdge
  qvGradient gradient;
  qvObjectId textureBrush;  // {0, null}: none
  int32_t edgeSize;         // 1..64
  uint32_t edgeColour;      // RGB
  int32_t shadowDistance;   // 1..64
  int32_t shadowDirection;  // kShadow*
  uint32_t shadowColour;    // ARGB
  int32_t lineWidth;        // >= 1: the outline of kFillNone shapes
  int32_t textureX, textureY;
};

// Zeroes the record, then the defaults: outline only, NORMAL, a linear gradient from 0x0000FF to
// black, no texture, edge 2 pixels of 0x0093DD, shadow 4 pixels to the south-east in black, line
// width 1, texture offsets 0.
void InitDrawStyle(qvDrawStyle* style);

// ---------------------------------------------------------------------------------------------
// Geometry.

struct qvPointD {
  double x, y;
};
struct qvPointI {
  int32_t x, y;
};

// The shape's 2x2 matrix: x' = m00 x + m01 y, y' = m10 x + m11 y (screen coordinates, y down), the
// same sense as the matrix of a transform block turns a brush.
struct qvShapeMatrix {
  double m00, m01, m10, m11;
};
constexpr qvShapeMatrix kIdentityShapeMatrix{1.0, 0.0, 0.0, 1.0};
bool IsIdentityMatrix(const qvShapeMatrix& m);
// The transform block's matrix {a, b, c, d} in this order: m00 = a, m10 = b, m01 = c, m11 = d.
qvShapeMatrix ShapeMatrixOf(const qvTransformBlock& block);

// One shape as the draw commands and the shape layers describe it.
struct qvShapeParams {
  int32_t type;           // kShapeBox, kShapeCircle, kShapeEllipse, kShapePolygon, kShapeArc
  int32_t x, y;           // position (the draw library resolves it)
  int32_t width, height;  // drawn size: 2r + 1 for a radius r
  int32_t radiusX, radiusY;
  int32_t startAngle, endAngle;  // arc: whole degrees, 0 to the right, 90 downwards
  bool clockwise;
  int32_t
      corners[4];  // box corner levels in percent: top-left, top-right, bottom-right, bottom-left
  const qvPointD* points;  // polygon points, shifted to the origin
  int32_t pointCount;
  uint32_t colour;                    // 0xAARRGGBB
  const qvDrawStyle* style;           // null: the defaults
  const qvTransformBlock* transform;  // null: identity, anchor at the centre
};

// The outline of a shape by type, relative to the top-left corner of its drawn size, before any
// rotation of boxes and polygons (ellipses, arcs and rounded boxes come out of GenerateEllipseArc
// already turned by the matrix about the anchor). An arc's list starts with the two bound points
// of its whole ellipse (see GenerateEllipseArc). Returns the number of points, 0 for an unknown
// type.
int32_t BuildShapeOutline(const qvShapeParams& shape, int32_t width, int32_t height,
                          const qvShapeMatrix& matrix, double anchorX, double anchorY,
                          std::vector<qvPointD>* points);

// The ellipse (or arc) generator. Centre and radii in pixels; start and end in whole degrees, 0 to
// the right and growing counter-clockwise on the screen; the anchor is a point (in pixels) about
// which the matrix turns the shape. The step is 90, 30, 18 or 5 degrees by the larger radius;
// angles are brought into range by modular arithmetic, so any int32 angle is cheap. With `bounds`
// the list starts with two points, the smallest and the largest x and y of the whole ellipse
// through the matrix; with `pie` and a span below 360 the centre ends the arc. Coordinates are
// worked in 16.16, rounded and cut to whole pixels; repeated points are dropped. Appends to
// `points` and returns the number of points appended.
int32_t GenerateEllipseArc(std::vector<qvPointD>* points, double cx, double cy, double rx,
                           double ry, int64_t start, int64_t end, const qvShapeMatrix& matrix,
                           double anchorX, double anchorY, bool pie, bool bounds);

// The angles of an arc command brought to the generator's convention (both negated, the start or
// end raised by whole turns by the clockwise flag). The pair covers the slice the script means.
void ArcGeneratorAngles(int64_t start, int64_t end, bool clockwise, int64_t* outStart,
                        int64_t* outEnd);

// Turns the points about the anchor (width x anchorX, height x anchorY): p' = anchor + M (p -
// anchor), truncated; the identity leaves them. Gathers their box into out x, y, width, height
// (each may be null) and, with `normalise`, moves the points so that the box starts at (0, 0).
void RotateShapePoints(const qvShapeMatrix& matrix, double anchorX, double anchorY, int32_t width,
                       int32_t height, qvPointD* points, int32_t count, bool normalise,
                       int32_t* outX, int32_t* outY, int32_t* outWidth, int32_t* outHeight);

// The box of the points (largest minus smallest plus 1) and the points moved to start at (0, 0);
// an empty list gives x = y = 100000 and a size of 0.
void ShapeBounds(qvPointD* points, int32_t count, int32_t* outX, int32_t* outY, int32_t* outWidth,
                 int32_t* outHeight);

// A shape's outline ready to rasterise: built, turned, moved to start at (0, 0).
struct qvShapeOutline {
  std::vector<qvPointD> points;  // closed
  int32_t x, y;                  // where the box's corner lies against the drawn size's corner
  int32_t width, height;         // the box
};
// BuildShapeOutline, then the rotation and the move to the origin (an arc is placed within the
// box of its whole ellipse). ERR_WRONGUSAGE for an unknown type or a polygon without points.
int MakeShapeOutline(const qvShapeParams& shape, qvShapeOutline* out);

// The grown outline of EDGE: a mitred offset outward by `distance` (the polygon's turn from its
// shoelace sum), the closing repeats dropped, rounded to whole pixels. The result is closed.
std::vector<qvPointD> OffsetOutline(const qvPointD* points, int32_t count, double distance);

// The margins a shadow of that distance and direction adds on each side (0 without distance).
void ShadowPaddings(int32_t distance, int32_t direction, int32_t* left, int32_t* top,
                    int32_t* right, int32_t* bottom);

// A box with its form: the box grown by the edge (when the style has EDGE) and the shadow (when
// it has SHADOW), and where the box itself lies inside that.
struct qvFormBox {
  int32_t x, y, width, height;  // everything the box with its forms covers
  int32_t boxX, boxY;           // the box itself
};
qvFormBox FormStyleBox(int32_t x, int32_t y, int32_t width, int32_t height,
                       const qvDrawStyle& style);

// ---------------------------------------------------------------------------------------------
// Rasterising.

// A new picture of a shape: the bitmap with a mask or an alpha channel (one of them null), and
// where its corner lies against the outline's box (negative where margins grow it). As with
// FormStyleBox, a shadow to the north or west is not counted there: it pushes the shape itself.
struct qvShapeImage {
  qvBitMap* bitmap;
  qvPlane* mask;
  qvPlane* alpha;
  int32_t x, y;
  int32_t width, height;
};
// Frees what the image holds and clears it; null planes are allowed.
void FreeShapeImage(qvShapeImage* image);

// How a shape is rasterised: the colour and the style (a copy the renderer has already
// validated and scaled) and, for a texture fill, the matrix and the smooth-scale setting.
struct qvRasterRequest {
  uint32_t colour;  // 0xAARRGGBB
  const qvDrawStyle* style;
  qvShapeMatrix matrix;
  bool smooth;
};
// Draws the outline, its edge and its shadow into a new picture grown by their margins (5 pixels
// for anti-aliasing, the line width of a thick outline, the edge size, the shadow paddings): the
// outline filled, or for kFillNone drawn with the line width; gradient and texture fills colour
// the body. Sizes are worked in 64 bits: a picture that cannot be had (a circle of radius 100000)
// gives ERR_MEM. Returns 0, ERR_MEM, or the texture brush lookup's code; on failure nothing stays
// allocated. A shape drawn at (x, y) puts its picture at (x + outline.x + image.x,
// y + outline.y + image.y).
int RasteriseShape(qvScriptState* L, const qvShapeOutline& outline, const qvRasterRequest& request,
                   qvShapeImage* out);

// The target of the render-record roads: a locked bitmap (or none) with its mask and alpha.
struct qvRenderTarget {
  qvBitMap* bitmap;  // or null
  qvPlane* mask;     // or null
  qvPlane* alpha;    // or null
  int32_t width, height;
  const uint32_t* source;  // or null: pixels drawn in place of the colour (gradient, texture)
  int32_t sourcePixelsPerRow;
};
enum : int32_t {
  kRoadLine = 0,            // the segment points[0] .. points[1]
  kRoadPolygonFill = 1,     // the polygon filled
  kRoadPolygonOutline = 2,  // the closed outline with the thickness
};
// Draws through a render record: a line of thickness 1 with the line kernels straight into the
// target, anything else through a coverage image of the target's size and the blend kernel. The
// colour is 0xAARRGGBB (the alpha target receives 255 minus the transparency), the mask the
// given mask mode; alphaValue other than -1 is written into the alpha target in place of 255 minus
// the transparency. 0, or ERR_MEM when the coverage image cannot be had; a target that does not
// lock draws nothing.
int DrawThroughRenderRecord(const qvRenderTarget& target, int32_t road, const qvPointI* points,
                            int32_t count, int32_t thickness, bool antialias, uint32_t colour,
                            int32_t maskMode, int32_t alphaValue);

// One 8-bit coverage plane placed in the picture.
struct qvFormPlane {
  const uint8_t* coverage;  // null: this form is off
  int32_t bytesPerRow;
  int32_t x, y;           // where the plane's corner lies in the picture
  int32_t width, height;  // of the plane
};
// The shadow, the edge and the body of a shape composed into the picture and its alpha channel.
// The shadow has no plane of its own: its silhouette is the edge's coverage when there is an edge,
// else the body's, placed at the shadow's offset.
struct qvFormLayers {
  qvBitMap* bitmap;
  qvPlane* alpha;
  bool shadowOn;
  int32_t shadowDx, shadowDy;  // the shadow's offset from the silhouette
  uint32_t shadowColour;       // ARGB
  qvFormPlane edge;            // coverage null: no edge
  uint32_t edgeColour;         // ARGB
  qvFormPlane body;
  uint32_t bodyColour;         // ARGB
  const uint32_t* bodySource;  // or null: gradient or texture pixels at the picture's coordinates
  int32_t bodySourcePixelsPerRow;
};
// Shadow, then edge, then body by the five cases: body alone, over a shadow, over an edge (an
// opaque body over an opaque edge blended, else the alpha under it replaced), and the forms alone.
void ComposeFormLayers(const qvFormLayers& layers);

// Fills the rectangle of the bitmap with the style's texture brush, tiled from the texture
// offsets; with |m00| and |m11| not both 1 the brush is scaled by them first (smoothly with
// `smooth`). 0, ERR_MEM, or the brush lookup's code.
int TextureFill(qvScriptState* L, qvBitMap* target, int32_t x, int32_t y, int32_t width,
                int32_t height, const qvDrawStyle& style, const qvShapeMatrix& matrix, bool smooth);

// The silhouette of a shape layer's stored outline (whole pixels) in one colour, for the layer's
// border and shadow. borderWidth > 0: the closed outline drawn that wide (at least 2; the caller
// has corrected it for the transform), the picture grown by it; 0: the filled outline, with
// anti-aliasing into an alpha channel (grown by 5, moved by 2), else into a mask. 0 or ERR_MEM.
int DrawAntialiasedShape(const qvPointI* points, int32_t count, int32_t width, int32_t height,
                         uint32_t colour, bool antialias, int32_t borderWidth, qvShapeImage* out);

// Rounds outline points to whole pixels as the rasteriser takes them (nearest, ties to even).
std::vector<qvPointI> RoundOutline(const qvPointD* points, int32_t count);

}  // namespace qv
