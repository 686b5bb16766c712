// Styled runs: one run of laid-out text drawn into its text block with the styles the font engine
// leaves to software (bold smear, italic shear, underline), its shadow and its edge, and the
// dilation that also grows the borders and shadows of layers. Everything here works on plain
// bitmaps and planes: no display, no script.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image.h"
#include "text/fonts.h"

namespace qv {

// The offset of a shadow of distance d in a direction; a direction outside 0..7 counts as (d, d).
void ShadowOffset(int32_t direction, int32_t distance, int32_t* dx, int32_t* dy);

// The shape of one run as the font engine rendered it (shape mode), with what EdgeDraw needs of
// the font. The shape has height + 1 rows: the underline of a font whose baseline is its height
// lies on the extra row.
struct qvRunShape {
  const qvPlane* shape = nullptr;  // a 1-bit plane, or an 8-bit coverage plane when coverage
  bool coverage = false;
  // A colour-font run: its glyph pixels (0x00RRGGBB), the shape being their mask; else null.
  const qvBitMap* colourGlyphs = nullptr;
  int32_t width = 0;  // columns of the shape (and of the colour glyphs)
  int32_t height = 0;
  int32_t baseline = 0;
  int32_t advance = 0;  // the run's advance: the underline's length
  // The styles the engine leaves to software (FontEngineDoesStyle false for them).
  bool softBold = true;
  bool softItalic = true;
  bool softUnderline = true;
};

// The text block a run is drawn into: its bitmap and either a 1-bit mask or an alpha plane,
// which afterwards holds the union of every shadow, edge and text drawn.
struct qvTextBlock {
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
};

// Draws one run with its shape origin at (x, y) of the block: shadow, then edge, then the text,
// each clipped to the block. Colour-font runs get no shadow, edge or bold. A shadow or edge
// position left of or above the block is skipped with a debug line. Returns 0 or ERR_MEM.
int EdgeDraw(const qvTextBlock& block, int32_t x, int32_t y, const qvTextSettings& style,
             const qvRunShape& run);

// The styled shape of a run as a byte grid (0 clear, else the coverage; 1-bit shapes give 255):
// bold smear, italic shear and underline applied. Column `origin` of the grid is the run's x.
struct StyledShape {
  std::vector<uint8_t> cover;
  std::vector<uint32_t> colours;  // colour-font runs only, beside cover
  int32_t width = 0;
  int32_t height = 0;
  int32_t origin = 0;
};
int BuildStyledShape(const qvTextSettings& style, const qvRunShape& run, StyledShape* out);

// Dilation of a byte grid (width x height) by a square of side 2e + 1. Both grow the grid by e on
// every side (out is (width + 2e) x (height + 2e)).
// DilateOr: a cell is 255 where any cell of the square around it is not 0.
// DilateSum: a cell is min(255, sum of the square / (2e + 1)); the sums are 32-bit (a 16-bit sum
// wraps from e = 8 on).
// Both are separable; the Square variants add the (2e + 1)^2 shifted copies one by one and are
// the reference the separable ones are tested against. The square of the shifted copies may be
// cut on the left and the top (first offsets iFrom and jFrom, from -e).
void DilateOr(const uint8_t* src, int32_t width, int32_t height, int32_t e, int32_t iFrom,
              int32_t jFrom, std::vector<uint8_t>* out);
void DilateOrSquare(const uint8_t* src, int32_t width, int32_t height, int32_t e, int32_t iFrom,
                    int32_t jFrom, std::vector<uint8_t>* out);
void DilateSum(const uint8_t* src, int32_t width, int32_t height, int32_t e, int32_t iFrom,
               int32_t jFrom, std::vector<uint8_t>* out);
void DilateSumSquare(const uint8_t* src, int32_t width, int32_t height, int32_t e, int32_t iFrom,
                     int32_t jFrom, std::vector<uint8_t>* out);

// A layer object's border or shadow: a picture of (width + 2s + 1) x (height + 2s + 1) holding
// the colour (0x00RRGGBB) under the object's shape dilated by offsets 0..2s. With an alpha plane
// the new alpha is the sum over the offsets / (2s + 1), clamped to 255; with a mask the new mask
// is the OR; with neither the whole picture is the colour and has no plane. The offsets of the
// new picture against the object are s and s. Returns 0 or ERR_MEM (nothing stored).
struct qvLayerEdge {
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int32_t xOffset = 0, yOffset = 0, width = 0, height = 0;
};
int MakeLayerEdge(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha, int32_t width,
                  int32_t height, uint32_t colour, int32_t size, qvLayerEdge* out);
void FreeLayerEdge(qvLayerEdge* edge);

}  // namespace qv
