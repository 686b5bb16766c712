// Shape outlines and their geometry (display/shapes.h).
#include "base/errors.h"
#include "display/records.h"
#include "display/shapes.h"

namespace qv {

void InitDrawStyle(qvDrawStyle* style) {
  *style = qvDrawStyle{};
  style->fillStyle = kFillNone;
  style->formStyle = kFormNormal;
  InitGradientDefaults(&style->gradient);
  style->gradient.startColour = 0x0000FF;
  style->gradient.endColour = 0x000000;
  style->edgeSize = 2;
  style->edgeColour = 0x0093DD;
  style->shadowDistance = 4;
  style->shadowDirection = kShadowSouthEast;
  style->shadowColour = 0;
  style->lineWidth = 1;
}

bool IsIdentityMatrix(const qvShapeMatrix& m) {
  return m.m00 == 1.0 && m.m01 == 0.0 && m.m10 == 0.0 && m.m11 == 1.0;
}

qvShapeMatrix ShapeMatrixOf(const qvTransformBlock& block) {
  return {block.matrix[0], block.matrix[2], block.matrix[1], block.matrix[3]};
}

int32_t BuildShapeOutline(const qvShapeParams&, int32_t, int32_t, const qvShapeMatrix&, double,
                          double, std::vector<qvPointD>*) {
  return 0;
}

int32_t GenerateEllipseArc(std::vector<qvPointD>*, double, double, double, double, int64_t, int64_t,
                           const qvShapeMatrix&, double, double, bool, bool) {
  return 0;
}

void ArcGeneratorAngles(int64_t start, int64_t end, bool, int64_t* outStart, int64_t* outEnd) {
  *outStart = -start;
  *outEnd = -end;
}

void RotateShapePoints(const qvShapeMatrix&, double, double, int32_t, int32_t, qvPointD*, int32_t,
                       bool, int32_t*, int32_t*, int32_t*, int32_t*) {}

void ShapeBounds(qvPointD*, int32_t, int32_t* outX, int32_t* outY, int32_t* outWidth,
                 int32_t* outHeight) {
  *outX = *outY = 100000;
  *outWidth = *outHeight = 0;
}

int MakeShapeOutline(const qvShapeParams&, qvShapeOutline*) { return ERR_WRONGUSAGE; }

std::vector<qvPointD> OffsetOutline(const qvPointD*, int32_t, double) { return {}; }

void ShadowPaddings(int32_t, int32_t, int32_t* left, int32_t* top, int32_t* right,
                    int32_t* bottom) {
  *left = *top = *right = *bottom = 0;
}

qvFormBox FormStyleBox(int32_t x, int32_t y, int32_t width, int32_t height, const qvDrawStyle&) {
  return {x, y, width, height, x, y};
}

std::vector<qvPointI> RoundOutline(const qvPointD*, int32_t) { return {}; }

}  // namespace qv
