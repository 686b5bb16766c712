// The geometry of the vector graphics plugin, over cairo: segment streams (include/qv_plugin.h)
// walked into cairo paths, their extents, current points, translation and coverage, and outline
// fonts from FreeType faces. The entry points of plugin.cpp call these; tests call them directly.
//
// How the stream's segments are read:
// - A relative point counts from the current point, (0, 0) when there is none. ClosePath returns
//   to the sub-path's start; StartSubPath leaves no current point.
// - Arcs: angles in degrees, 0 to the right and 90 down; direction 1 runs clockwise on the screen,
//   0 counter-clockwise. A whole circle or ellipse (a span of 360 degrees or more) and a box start
//   sub-paths of their own; a partial arc joins the current point with a line (so a move to the
//   centre, an arc and a close make a pie).
// - Boxes: corners a-d are top-left, top-right, bottom-right, bottom-left; a corner of level L
//   percent is rounded with a radius of L% of half the shorter side.
// - Text: the glyph outlines of the face at the font size in pixels, along the baseline from the
//   current point, which ends after the text's advance.
// - Extents are geometric, never snapped to pixels, the same with and without anti-aliasing: the
//   fill's, or the stroke's with its joins, caps, dashes and width.
// - Coverage goes into the caller's 8-bit plane through the matrix, then the translation, with or
//   without anti-aliasing. A dash pattern cairo would refuse (a negative or non-finite length, all
//   lengths zero) draws undashed.
// - The walk ends at the end mark, at the end of the given bytes, at an unknown opcode, a short
//   operand or a text without its zero. A non-finite number, or a text that is not UTF-8, makes the
//   whole path empty: no extents, nothing drawn.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qv_plugin.h"

namespace vgfx {

int32_t PathExtents(qvPathExtentsRequest* request);
int32_t DrawPathCoverage(qvDrawPathRequest* request);
int32_t TranslateStream(qvTranslatePathRequest* request);
int32_t CurrentPoint(qvCurrentPointRequest* request);
int32_t CreateFont(const qvVectorFontFace* face);
void FreeFont(int32_t font);
// Frees every font (ClosePlugin).
void FreeAllFonts();

}  // namespace vgfx
