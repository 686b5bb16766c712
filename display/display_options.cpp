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

// The scale that takes `source` pixels to `size`: size / source, raised by the last bits it may
// need so that the transformed size, source x scale truncated, is `size` itself. The quotient
// rounded to a double can fall just short (15 / 11 x 11 is 14.999...), which would draw one pixel
// less than asked.
double ScaleToSize(int32_t size, int32_t source) {
  double scale = static_cast<double>(size) / source;
  const double away = scale < 0 ? -HUGE_VAL : HUGE_VAL;
  while (std::trunc(std::fabs(source * scale)) < std::fabs(static_cast<double>(size))) {
    scale = std::nextafter(scale, away);
  }
  return scale;
}

// A shadow, when switched on, falls half transparent 4 pixels to the south-east, blurred over 5.
qvLayerOptions DefaultLayerOptions() {
  qvLayerOptions options{};
  options.shadow = {0, 0x80000000u, 4, kShadowSouthEast, 5.0, 5.0 / 3.0};
  options.border = {0, 0, 2};
  // The slots are off, their arguments those a filter takes when none are given: "tint" alone
  // then tints towards white, as a "tint" filter without arguments does.
  for (int32_t i = 0; i < kLayerFilterCount; ++i) SetFilterDefaults(i, &options.filters[i]);
  return options;
}

qvTransformBlock gDefaultTransform = DefaultTransform();
qvLayerOptions gDefaultLayerOptions = DefaultLayerOptions();

constexpr int32_t I = kFilterArgInt, V = kFilterArgLevel, F = kFilterArgFloat;

}  // namespace

const qvFilterKind kLayerFilters[kLayerFilterCount] = {
    {"blur", 1, {F}, {5}, false},
    {"charcoal", 1, {F}, {2}, false},
    {"contrast", 2, {I, I}, {1, 1}, false},
    {"edge", 1, {F}, {5}, false},
    {"emboss", 1, {F}, {5}, false},
    {"gamma", 3, {F, F, F}, {1, 1, 1}, false},
    {"grayscale", 0, {}, {}, false},
    {"invert", 0, {}, {}, false},
    // Percents: 100 leaves brightness, saturation and hue as they are.
    {"modulate", 3, {F, F, F}, {100, 100, 100}, false},
    {"monochrome", 1, {I}, {1}, false},
    {"oilpaint", 1, {F}, {2}, false},
    {"pixelate", 1, {I}, {10}, true},
    {"sepiatone", 1, {V}, {204}, false},
    {"sharpen", 1, {F}, {5}, false},
    {"solarize", 1, {V}, {128}, false},
    {"swirl", 1, {I}, {180}, true},
    {"tint", 2, {I, V}, {16777215, 128}, false},
    {"waterripple", 5, {I, I, I, F, F}, {32, 1, 0, 0.5, 0.5}, true},
    {"xflip", 0, {}, {}, true},
    {"yflip", 0, {}, {}, true},
};

void SetFilterDefaults(int32_t filter, qvFilterSlot* slot) {
  const qvFilterKind& kind = kLayerFilters[filter];
  int ints = 0, floats = 0;
  for (int32_t i = 0; i < kind.argCount; ++i) {
    if (kind.args[i] == kFilterArgFloat) {
      slot->floats[floats++] = static_cast<float>(kind.defaults[i]);
    } else {
      slot->ints[ints++] = static_cast<int32_t>(kind.defaults[i]);
    }
  }
}

bool HasActiveFilters(const qvFilterSlot slots[kLayerFilterCount]) {
  for (int32_t i = 0; i < kLayerFilterCount; ++i) {
    if (slots[i].on) return true;
  }
  return false;
}

bool HasGeometryFilters(const qvFilterSlot slots[kLayerFilterCount]) {
  for (int32_t i = 0; i < kLayerFilterCount; ++i) {
    if (slots[i].on && kLayerFilters[i].changesGeometry) return true;
  }
  return false;
}

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
    p = ScaleToSize(w, sourceWidth);
    q = ScaleToSize(h, sourceHeight);
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
  gDefaultLayerOptions = DefaultLayerOptions();
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
