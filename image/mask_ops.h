// The mask and alpha helpers that clip regions, layers and transition effects share: mask bits to
// alpha bytes and back, whole-plane and rectangle operations on alpha planes, a colour drawn
// through a coverage plane, polygons filled into masks, a polygon cut at one boundary, and the
// outline points of an ellipse or pie slice.
//
// Every rectangle is clipped to the planes that know their size (wrapped rows know none): a
// negative corner on either side moves the other, and the size is cut to both.
#pragma once

#include <cstdint>

#include "image/image.h"

namespace qv {

// Each mask bit of the rectangle at (x, y) writes `value` (set) or 0 (clear) into the alpha
// plane's rectangle at (dx, dy).
void MaskToAlpha(const qvPlane* mask, int32_t x, int32_t y, qvPlane* alpha, int32_t dx, int32_t dy,
                 int32_t width, int32_t height, uint8_t value);
// AlphaToMaskKernel over the rectangle: mode 0 and 2 set the mask bit where the alpha is 255 and
// clear it elsewhere, 1 the reverse, 3 toggles where 255, 5 sets where 255, others nothing.
void AlphaToMask(const qvPlane* alpha, int32_t x, int32_t y, qvPlane* mask, int32_t dx, int32_t dy,
                 int32_t width, int32_t height, int32_t mode);
// b = a x factor / 255 (truncated) over the whole of width x height, the two planes taken as one
// run of bytes: both must have the same bytes per row. factor is cut to 0..255.
void CombineAlphaChannels(const qvPlane* a, qvPlane* b, int32_t factor, int32_t width,
                          int32_t height);
// Fills the rectangle of an 8-bit plane with the value.
void FillAlphaRect(qvPlane* alpha, int32_t x, int32_t y, int32_t width, int32_t height,
                   uint8_t value);

// Draws the colour 0x00RRGGBB (or, with `source`, its pixel at the same place) into dst through
// the coverage plane's rectangle at (sx, sy), by BltAlphaChannelKernel's mode (0 set where
// covered, 1 blend, 2 blend updating dstAlpha at the destination's coordinates scaled by the
// opacity, 4 with 65 coverage levels); the colour goes into dst's pixel format. Only 32-bit
// destinations are drawn. A null dst writes "ERROR! BLTALPHACHANNEL() CALLED WITH DST=NULL!"
// through the text output. Mode 2 needs dstAlpha (nothing is drawn without it); mode 3, whose
// coverage is 16-bit, is not reached through here.
void BltAlphaChannel(const qvPlane* coverage, int32_t sx, int32_t sy, qvBitMap* dst, int32_t dx,
                     int32_t dy, int32_t width, int32_t height, uint32_t colour, int32_t mode,
                     int32_t opacity, qvPlane* dstAlpha, const qvBitMap* source = nullptr);

// Scan-fills the closed polygon of `count` {x, y} pairs into the mask (FillPolygonKernel) over
// the mask's whole size. 0, or ERR_MEM for the crossing buffer; fewer than 3 points fill nothing.
int FillMaskShape(qvPlane* mask, const int32_t* points, int32_t count);

// The boundaries of ClipPolygonEdge: the side of the line that is kept.
enum : int32_t {
  kKeepXAtLeast = 0,  // x >= c
  kKeepYAtLeast = 1,  // y >= c
  kKeepXAtMost = 2,   // x <= c
  kKeepYAtMost = 3,   // y <= c
};
// Clips the closed polygon of `count` {x, y} pairs at one boundary into `out`, which holds room
// for 2 x count pairs: for each edge its start when inside, then the crossing when exactly one
// end is inside (a vertical boundary at x = c, y = y1 + trunc((y2 - y1) / (x2 - x1) x (c - x1));
// a horizontal one at y = c, x = x1 + trunc((c - y1) / ((y2 - y1) / (x2 - x1))), a vertical edge
// meeting it at x1). Returns the number of pairs written.
int32_t ClipPolygonEdge(int32_t count, const int32_t* points, int32_t* out, int32_t c,
                        int32_t kind);

// The outline of the ellipse of radii rx, ry whose box starts at the origin (centre (rx, ry)):
// one point per whole degree from startAngle to endAngle inclusive, x = rx + cos[a] (2 rx + 1) /
// 2048 and y = ry + sin[a] (2 ry + 1) / 2048 with the tables of round(1024 cos) and round(1024
// sin) at a mod 360, divided with truncation toward zero; unless the range is 0 to 360 the centre
// and the first point follow, closing a pie slice. Writes at most `capacity` {x, y} pairs and
// returns their number (0 when the end lies before the start).
int32_t BuildEllipsePoints(int32_t* points, int32_t capacity, int32_t rx, int32_t ry,
                           int32_t startAngle, int32_t endAngle);
// The number of pairs BuildEllipsePoints gives for the angles (without a capacity limit).
int64_t EllipsePointCount(int32_t startAngle, int32_t endAngle);

// The 1024-scaled cosine and sine of a whole degree (0..359).
int32_t EllipseCos1024(int32_t degree);
int32_t EllipseSin1024(int32_t degree);

}  // namespace qv
