// The display options of the commands that show an object: the transform (matrix, scales, size,
// rotation, anchor, smooth flag) and the layer options, their defaults, and the aspect-keeping
// sizes.
#include <algorithm>
#include <cmath>

#include "base/errors.h"
#include "base/support.h"
#include "display/display.h"

namespace qv {

namespace {

constexpr int32_t kKeepAspectRatio = 100000;  // KEEPASPRAT
constexpr double kDegreesToRadians = 0.017453292519943295;

qvTransformBlock DefaultTransform() {
  qvTransformBlock block{};
  block.matrix[0] = block.matrix[3] = 1.0;
  block.givenMatrix[0] = block.givenMatrix[3] = 1.0;
  block.scaleX = block.scaleY = 1.0;
  return block;
}

qvTransformBlock gDefaultTransform = DefaultTransform();
qvLayerOptions gDefaultLayerOptions{};

}  // namespace

void InitTransformBlock(qvTransformBlock* block) { *block = gDefaultTransform; }
void InitLayerOptions(qvLayerOptions* options) { *options = gDefaultLayerOptions; }

void InitDisplayOptions(qvTransformBlock* block, qvLayerOptions* options, int32_t width,
                        int32_t height, int32_t smooth, int32_t flags) {
  InitTransformBlock(block);
  if (options != nullptr) InitLayerOptions(options);
  block->width = width;
  block->height = height;
  if (!(flags & kOptRotationSmooth)) block->smoothScale = smooth;
}

void BuildTransformMatrix(qvTransformBlock* block, int32_t width, int32_t height,
                          int32_t sourceWidth, int32_t sourceHeight, double scaleX, double scaleY,
                          double rotate) {
  block->width = width;
  block->height = height;
  block->scaleX = scaleX;
  block->scaleY = scaleY;
  block->rotate = rotate;
  int32_t w = width != 0 ? width : sourceWidth;
  int32_t h = height != 0 ? height : sourceHeight;
  double p = scaleX, q = scaleY;
  // A size of its own scales to that size; a source without size keeps the scales.
  if ((w != sourceWidth || h != sourceHeight) && sourceWidth != 0 && sourceHeight != 0) {
    p = static_cast<double>(w) / sourceWidth;
    q = static_cast<double>(h) / sourceHeight;
  }
  double m[4] = {p, 0.0, 0.0, q};
  if (rotate != 0.0) {
    double t = (360.0 - std::fmod(rotate, 360.0)) * kDegreesToRadians;
    double c = std::cos(t), s = std::sin(t);
    m[0] = c * p;
    m[1] = s * p;
    m[2] = -s * q;
    m[3] = c * q;
  }
  std::copy(m, m + 4, block->matrix);
}

void UpdateLayerMatrix(qvTransformBlock* block, int32_t sourceWidth, int32_t sourceHeight) {
  if (block->matrixGiven) {
    std::copy(block->givenMatrix, block->givenMatrix + 4, block->matrix);
    return;
  }
  BuildTransformMatrix(block, block->width, block->height, sourceWidth, sourceHeight, block->scaleX,
                       block->scaleY, block->rotate);
}

void ResetDisplayOptionDefaults() {
  gDefaultTransform = DefaultTransform();
  gDefaultLayerOptions = {};
}

void SetDisplayOptionDefaults(const qvTransformBlock& block, const qvLayerOptions& options) {
  gDefaultTransform = block;
  gDefaultLayerOptions = options;
}

int ResolveScaleSize(int32_t srcWidth, int32_t srcHeight, int32_t* width, int32_t* height) {
  if (*width < 1 || *height < 1 || srcWidth < 1 || srcHeight < 1) return ERR_BADDIMENSIONS;
  bool keepWidth = *width == kKeepAspectRatio, keepHeight = *height == kKeepAspectRatio;
  if (keepWidth && keepHeight) return ERR_WRONGUSAGE;
  if (!keepWidth && !keepHeight) return 0;
  double ratio = static_cast<double>(srcWidth) / srcHeight;
  double exact = keepHeight ? *width / ratio : ratio * *height;
  double whole = std::trunc(exact);
  if (exact - whole >= 0.5) whole += 1.0;
  // Beyond what a side can hold, or nothing left: no size.
  if (!(whole >= 1.0 && whole <= 2147483647.0)) return ERR_BADDIMENSIONS;
  (keepHeight ? *height : *width) = static_cast<int32_t>(whole);
  return 0;
}

}  // namespace qv
