// The coverage rasteriser's inner routines: clipping, the one-pixel, fixed-point and anti-aliased
// lines, thick segments with round caps, circles, ellipse outlines, and the convex and even-odd
// polygon fills. Each writes 255 (or blends toward 255) into an 8-bit canvas. The image engine
// and its tests use them; the rest of the player goes through the coverage image of image.h.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image.h"

namespace qv::raster {

// The status codes of RasterStatus.
enum : int32_t {
  kNoMemory = -4,
  kBadObject = -5,      // not a coverage image, no contour, a polyline thickness out of range
  kBadStep = -13,       // a matrix row shorter than its columns
  kBadDepth = -17,      // a depth the core does not know
  kBadSize = -25,       // a negative width or height
  kNullPointer = -27,   // a required pointer is null
  kBadAlignment = -49,  // a block to free is not 32-byte aligned
  kBadCount = -201,     // a matrix without rows or columns, negative ellipse axes
  kBadOrder = -206,     // a view of something that is not an image, or planar data
  kOutOfRange = -211,   // sizes, shifts, thicknesses and clip rectangles out of range
};

// Point with 64-bit coordinates: pixels or fixed point by context (16.16 when "fixed").
struct Point {
  int64_t x, y;
};

// The canvas of one drawing call: an 8-bit plane and its size.
struct Canvas {
  uint8_t* data;
  int64_t bytesPerRow;
  int32_t width, height;
  bool antialiasOk;  // depth code 0: line type 16 may be used

  uint8_t* At(int64_t x, int64_t y) const { return data + y * bytesPerRow + x; }
};

// Clips the segment to [0, w - 1] x [0, h - 1] in place; false when nothing is left. A width or
// height below 1 sets kOutOfRange. Products are taken in 128 bits.
bool ClipLine(int64_t w, int64_t h, Point* p1, Point* p2);

// Every pixel of the segment (pixels, clipped) = 255; line type 4 (or 1) 4-connected, else
// 8-connected.
void DrawLine8(const Canvas& c, int32_t lineType, Point p1, Point p2);
// A one-pixel line from 16.16 points, not anti-aliased, ends held 2 pixels inside.
void DrawLineFixed(const Canvas& c, Point p1, Point p2);
// An anti-aliased one-pixel line from 16.16 points, three pixels across, ends held 2 pixels
// inside.
void DrawLineAntialiased(const Canvas& c, Point p1, Point p2);
// A segment between points with `shift` fraction bits; thickness 2 and more fills its rectangle
// and puts round caps at p0 (capFlags bit 1) and p1 (bit 2).
void DrawLineSegment(const Canvas& c, Point p0, Point p1, int32_t thickness, int32_t lineType,
                     int32_t capFlags, int32_t shift);
// A filled circle (pixels): the midpoint walk's spans, clipped.
void DrawCircleRaster(const Canvas& c, Point centre, int64_t radius);
// The outline of an ellipse (or arc) as points: angles in whole degrees.
void EllipseToPolygon(Point centre, Point axes, int32_t rotation, int32_t start, int32_t end,
                      int32_t step, std::vector<Point>* points);
// A filled anti-aliased ellipse from a 16.16 centre and axes.
void FillEllipseAntialiased(const Canvas& c, Point centre, Point axes, int32_t lineType);
// A convex polygon: its outline, then the spans between two edge walkers.
void FillConvexPolygon(const Canvas& c, const Point* points, int32_t count, int32_t lineType,
                       int32_t shift);
// Polygons of several contours filled by the even-odd rule, outlines first.
void FillPolygonEdges(const Canvas& c, const Point* const* contours, const int32_t* counts,
                      int32_t contourCount, int32_t lineType, int32_t shift);
// Polylines with their cap rule: the first segment of an open one has caps at both ends, every
// other segment at its end only.
void DrawPolyLines(const Canvas& c, const Point* const* contours, const int32_t* counts,
                   int32_t contourCount, bool closed, int32_t thickness, int32_t lineType,
                   int32_t shift);
// One thick line with both caps; thickness 0-255 and shift 0-16, else kOutOfRange.
void DrawThickLine(const Canvas& c, Point p1, Point p2, int32_t thickness, int32_t lineType,
                   int32_t shift);

// The canvas of a coverage image; false (with the status set) when it has none.
bool CanvasOf(qvRasterImage* image, Canvas* canvas);

}  // namespace qv::raster
