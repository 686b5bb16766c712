// The draw library's commands: primitives into the current output device and the global drawing
// style (display/draw.h does the work).
#pragma once

#include <cstdint>
#include <vector>

#include "core/registry.h"
#include "display/shapes.h"

namespace qv {

// The points table of a polygon at `index`: x, y pairs from index 0 upward (x at even, y at odd
// indices); `count` points (2..999), or with a count of 0 up to the first nil. The list is
// closed (the first point appended when the last differs) and shifted so that its smallest x and
// y are 0; their box goes to the outputs. 0, ERR_INTERNAL at the 1000th point of a counted-to-nil
// list, ERR_NUMTABLEARG naming "polygon" for a value that is not a number, ERR_WRONGUSAGE for
// fewer than 2 points. The layer system's style parser reads shape layers' points through it.
int ReadPolygonPoints(qvScriptState* L, int index, int32_t count, std::vector<qvPointD>* points,
                      int32_t* minX, int32_t* minY, int32_t* width, int32_t* height);

namespace cmd {

int32_t Box(qvScriptState* L);
int32_t Plot(qvScriptState* L);
int32_t Ellipse(qvScriptState* L);
int32_t Line(qvScriptState* L);
int32_t Circle(qvScriptState* L);
int32_t Polygon(qvScriptState* L);
int32_t SetFillStyle(qvScriptState* L);
int32_t ReadPixel(qvScriptState* L);
int32_t Cls(qvScriptState* L);
int32_t Arc(qvScriptState* L);
int32_t SetFormStyle(qvScriptState* L);
int32_t SetLineWidth(qvScriptState* L);

}  // namespace cmd

}  // namespace qv
