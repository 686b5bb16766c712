// Rasterising shape outlines into pictures with a mask or an alpha channel (display/shapes.h):
// the coverage images of body, edge and shadow, the render-record roads, the composition of the
// form layers, texture fills and the silhouettes of shape layers.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "base/errors.h"
#include "display/brushes.h"
#include "display/displays.h"
#include "display/records.h"
#include "display/shapes.h"

namespace qv {
namespace {

const int32_t* PointWords(const qvPointI* points) {
  static_assert(sizeof(qvPointI) == 2 * sizeof(int32_t));
  return reinterpret_cast<const int32_t*>(points);
}

// A coverage image released on every way out, or a cleared alpha channel taken as one.
struct Coverage {
  qvRasterImage* image = nullptr;
  uint8_t* data = nullptr;
  int32_t bytesPerRow = 0;
  qvRasterImage wrapped{};
  Coverage() = default;
  Coverage(const Coverage&) = delete;
  Coverage& operator=(const Coverage&) = delete;
  ~Coverage() {
    if (image != &wrapped) ReleaseCoverageImage(image);
  }
  bool Create(int32_t width, int32_t height) {
    CreateCoverageImage(width, height, &image, &data, &bytesPerRow);
    return image != nullptr;
  }
  // The rasteriser draws straight into the plane (its rows are 4-byte aligned as a coverage
  // image's are), which saves a plane the size of the picture and a pass copying it.
  void Wrap(qvPlane* plane, int32_t width, int32_t height) {
    wrapped.marker = kRasterMarker;
    wrapped.channels = 1;
    wrapped.depth = 8;
    wrapped.rowAlignment = 4;
    wrapped.width = width;
    wrapped.height = height;
    wrapped.bytesPerRow = plane->bytesPerRow;
    wrapped.imageSize = int64_t(plane->bytesPerRow) * height;
    wrapped.data = plane->data;
    image = &wrapped;
    data = plane->data;
    bytesPerRow = plane->bytesPerRow;
  }
};

// The part of a plane placed at (x, y) that lies inside a width x height picture: the plane's
// own corner (px, py), the picture's corner (dx, dy) and the size. False when nothing is left.
struct Overlap {
  int32_t px, py, dx, dy, width, height;
};
bool PlaceInPicture(const qvFormPlane& plane, int64_t x, int64_t y, int32_t width, int32_t height,
                    Overlap* o) {
  const int64_t left = std::max<int64_t>(x, 0), top = std::max<int64_t>(y, 0);
  const int64_t right = std::min<int64_t>(x + plane.width, width);
  const int64_t bottom = std::min<int64_t>(y + plane.height, height);
  if (right <= left || bottom <= top) return false;
  *o = {int32_t(left - x), int32_t(top - y),      int32_t(left),
        int32_t(top),      int32_t(right - left), int32_t(bottom - top)};
  return true;
}

// The colour of one form through its coverage into the picture (BltAlphaChannelKernel).
void PaintForm(const qvFormLayers& f, const qvFormPlane& plane, int64_t x, int64_t y,
               uint32_t colour, int32_t mode, int32_t opacity, const uint32_t* source,
               int32_t sourcePixelsPerRow) {
  Overlap o;
  if (!PlaceInPicture(plane, x, y, f.bitmap->width, f.bitmap->height, &o)) return;
  BltAlphaChannelRecord r{};
  r.cx = o.px;
  r.cy = o.py;
  r.dst = reinterpret_cast<uint32_t*>(f.bitmap->pixels);
  r.dx = o.dx;
  r.dy = o.dy;
  r.dstPixelsPerRow = f.bitmap->bytesPerRow / 4;
  r.width = o.width;
  r.height = o.height;
  r.coverage = plane.coverage;
  r.dstAlpha = f.alpha ? f.alpha->data : nullptr;
  r.coverageBytesPerRow = plane.bytesPerRow;
  r.dstAlphaBytesPerRow = f.alpha ? f.alpha->bytesPerRow : 0;
  r.format = f.bitmap->format;
  r.colour = ConvertPixelOrder(f.bitmap->format, colour & 0xFFFFFF);
  r.mode = mode;
  r.opacity = opacity;
  r.src = source;
  r.srcPixelsPerRow = sourcePixelsPerRow;
  // Modes 2 and 3 read and write the alpha channel: without one they would write through null.
  if ((mode == 2 || mode == 3) && r.dstAlpha == nullptr) r.mode = 1;
  BltAlphaChannelKernel(r);
}

// The coverage into the alpha channel by a byte-copy mode.
void CopyFormAlpha(const qvFormLayers& f, const qvFormPlane& plane, int64_t x, int64_t y,
                   int32_t mode, int32_t value) {
  if (f.alpha == nullptr) return;
  Overlap o;
  if (!PlaceInPicture(plane, x, y, f.bitmap->width, f.bitmap->height, &o)) return;
  BltBytesRecord r{};
  r.src = plane.coverage;
  r.sx = o.px;
  r.sy = o.py;
  r.dst = f.alpha->data;
  r.dx = o.dx;
  r.dy = o.dy;
  r.width = o.width;
  r.height = o.height;
  r.srcBytesPerRow = plane.bytesPerRow;
  r.dstBytesPerRow = f.alpha->bytesPerRow;
  r.mode = mode;
  r.value = value;
  BltBytesKernel(r);
}

// The colour (or the source's pixel) wherever the coverage is not 0, over the whole bitmap: the
// blend kernel's mode 0 as a loop that the compiler turns into vector selects, for the picture of
// a body alone, which is every anti-aliased or transparent shape without edge and shadow.
void PaintWhereCovered(qvBitMap* bitmap, const uint8_t* coverage, int32_t coverageBytesPerRow,
                       uint32_t colour, const uint32_t* source, int32_t sourcePixelsPerRow) {
  const uint32_t k = ConvertPixelOrder(bitmap->format, colour & 0xFFFFFF);
  const int32_t ppr = bitmap->bytesPerRow / 4;
  for (int32_t y = 0; y < bitmap->height; ++y) {
    const uint8_t* c = coverage + int64_t(y) * coverageBytesPerRow;
    uint32_t* d = reinterpret_cast<uint32_t*>(bitmap->pixels) + int64_t(y) * ppr;
    if (source == nullptr) {
      for (int32_t x = 0; x < bitmap->width; ++x) d[x] = c[x] != 0 ? k : d[x];
    } else {
      const uint32_t* s = source + int64_t(y) * sourcePixelsPerRow;
      for (int32_t x = 0; x < bitmap->width; ++x) d[x] = c[x] != 0 ? s[x] : d[x];
    }
  }
}

// "Copy the alpha": the coverage as it is, or scaled by the form's opacity.
void CopyAlphaWithTransparency(const qvFormLayers& f, const qvFormPlane& plane, int64_t x,
                               int64_t y, uint32_t colour) {
  const int32_t t = int32_t(colour >> 24);
  if (t == 0)
    CopyFormAlpha(f, plane, x, y, 1, 0);
  else
    CopyFormAlpha(f, plane, x, y, 4, 255 - t);
}

// A picture that cannot be had: a side below 1 or beyond int32, or more than the allocator
// gives (the image engine refuses planes over 2^31 bytes).
bool PictureSizeOk(int64_t width, int64_t height) {
  return width >= 1 && height >= 1 && width <= INT32_MAX && height <= INT32_MAX;
}

void ShadowOffset(int32_t distance, int32_t direction, int32_t* dx, int32_t* dy) {
  int32_t l = 0, t = 0, r = 0, b = 0;
  ShadowPaddings(distance, direction, &l, &t, &r, &b);
  *dx = r - l;
  *dy = b - t;
}

}  // namespace

void FreeShapeImage(qvShapeImage* image) {
  FreeBitMap(image->bitmap);
  FreeMaskOrAlpha(image->mask);
  FreeMaskOrAlpha(image->alpha);
  *image = qvShapeImage{};
}

void ComposeFormLayers(const qvFormLayers& f) {
  if (f.bitmap == nullptr || f.body.coverage == nullptr) return;
  const bool edgeOn = f.edge.coverage != nullptr;
  const qvFormPlane& silhouette = edgeOn ? f.edge : f.body;
  const int32_t edgeT = int32_t(f.edgeColour >> 24);
  const int32_t bodyT = int32_t(f.bodyColour >> 24);

  if (f.shadowOn) {
    const int64_t sx = int64_t(silhouette.x) + f.shadowDx, sy = int64_t(silhouette.y) + f.shadowDy;
    PaintForm(f, silhouette, sx, sy, f.shadowColour, 0, 255, nullptr, 0);
    CopyAlphaWithTransparency(f, silhouette, sx, sy, f.shadowColour);
  }
  if (edgeOn) {
    if (!f.shadowOn) {
      PaintForm(f, f.edge, f.edge.x, f.edge.y, f.edgeColour, 0, 255, nullptr, 0);
      CopyAlphaWithTransparency(f, f.edge, f.edge.x, f.edge.y, f.edgeColour);
    } else {
      PaintForm(f, f.edge, f.edge.x, f.edge.y, f.edgeColour, 2, 255 - edgeT, nullptr, 0);
    }
  }
  const qvFormPlane& b = f.body;
  if (!edgeOn && !f.shadowOn) {
    CopyAlphaWithTransparency(f, b, b.x, b.y, f.bodyColour);
    PaintForm(f, b, b.x, b.y, f.bodyColour, 0, 255, f.bodySource, f.bodySourcePixelsPerRow);
  } else if (!edgeOn) {
    // At the body's own opacity: at 255 a transparent body over a shadow came out opaque wherever
    // no shadow lay beneath it.
    PaintForm(f, b, b.x, b.y, f.bodyColour, 2, 255 - bodyT, f.bodySource, f.bodySourcePixelsPerRow);
  } else if (bodyT == 0 && edgeT == 0) {
    PaintForm(f, b, b.x, b.y, f.bodyColour, 1, 255, f.bodySource, f.bodySourcePixelsPerRow);
  } else {
    // The body replaces what lies under it: the alpha under its coverage is opened first, so
    // that its own transparency, not the edge's, is what shows there.
    CopyFormAlpha(f, b, b.x, b.y, 2, 0);
    if (bodyT != 255)
      PaintForm(f, b, b.x, b.y, f.bodyColour, 2, 255 - bodyT, f.bodySource,
                f.bodySourcePixelsPerRow);
  }
}

int DrawThroughRenderRecord(const qvRenderTarget& target, int32_t road, const qvPointI* points,
                            int32_t count, int32_t thickness, bool antialias, uint32_t colour,
                            int32_t maskMode, int32_t alphaValue) {
  if (points == nullptr || count < 1 || target.width < 1 || target.height < 1) return 0;
  if (road == kRoadLine && count < 2) return 0;
  qvRenderRecord r{};
  qvBitMapLock lock{};
  if (target.bitmap != nullptr) {
    if (!LockBitMap(target.bitmap, &lock)) return 0;
    r.pixels = reinterpret_cast<uint32_t*>(lock.pixels);
    r.pixelsPerRow = lock.pixelsPerRow;
    r.bytesPerPixel = lock.bytesPerPixel;
    r.format = lock.format;
  }
  r.width = target.width;
  r.height = target.height;
  if (target.bitmap != nullptr) {
    r.width = std::min(r.width, target.bitmap->width);
    r.height = std::min(r.height, target.bitmap->height);
  }
  r.texture = target.source;
  r.texturePixelsPerRow = target.sourcePixelsPerRow;
  if (target.mask != nullptr) {
    r.mask = target.mask->data;
    r.maskBytesPerRow = target.mask->bytesPerRow;
  }
  if (target.alpha != nullptr) {
    r.alpha = target.alpha->data;
    r.alphaBytesPerRow = target.alpha->bytesPerRow;
  }
  r.thickness = thickness;
  const uint32_t rgb = colour & 0xFFFFFF;
  r.colour = rgb;
  r.pixel = ColorToPixelFormat(rgb, r.format);
  if (r.format == kPixRGB565PC || r.format == kPixRGB555PC) {
    // 16-bit targets hand the kernels their colour as 5-6-5 expanded to bytes.
    const uint32_t v = r.pixel;
    r.red = int32_t((v >> 8) & 248);
    r.green = int32_t((v >> 3) & 252);
    r.blue = int32_t((v & 31) * 8);
  } else {
    r.red = int32_t(rgb >> 16);
    r.green = int32_t((rgb >> 8) & 255);
    r.blue = int32_t(rgb & 255);
  }
  r.opacity = (alphaValue >= 0 && target.alpha != nullptr) ? std::min(alphaValue, 255)
                                                           : 255 - int32_t(colour >> 24);
  r.baseOpacity = r.opacity;
  r.maskMode = maskMode;

  int result = 0;
  if (road == kRoadLine && thickness <= 1) {
    if (antialias)
      DrawAntialiasedLineKernel(r, points[0].x, points[0].y, points[1].x, points[1].y);
    else
      DrawLineKernel(r, points[0].x, points[0].y, points[1].x, points[1].y);
  } else {
    Coverage cov;
    if (!cov.Create(r.width, r.height)) {
      result = ERR_MEM;
    } else {
      if (road == kRoadLine)
        DrawLineCoverage(cov.image, points[0].x, points[0].y, points[1].x, points[1].y, antialias,
                         thickness);
      else
        DrawPolygonCoverage(cov.image, PointWords(points), count, antialias,
                            road == kRoadPolygonFill ? 0 : std::clamp(thickness, 1, 255));
      BlendCoverageKernel(cov.data, nullptr, 0, r, r.width, r.height, cov.bytesPerRow, 0);
    }
  }
  if (target.bitmap != nullptr) UnLockBitMap(&lock);
  return result;
}

int TextureFill(qvScriptState* L, qvBitMap* target, int32_t x, int32_t y, int32_t width,
                int32_t height, const qvDrawStyle& style, const qvShapeMatrix& matrix,
                bool smooth) {
  qvBrush* brush = nullptr;
  int code = FindBrush(L, style.textureBrush, &brush, kFindRasterOnly);
  if (code != 0) return code;
  if (brush->bitmap == nullptr || brush->width < 1 || brush->height < 1) return 0;
  const double sx = std::fabs(matrix.m00), sy = std::fabs(matrix.m11);
  qvBitMap* tile = brush->bitmap;
  int32_t tw = brush->width, th = brush->height;
  qvBitMap* scaled = nullptr;
  if (sx != 1.0 || sy != 1.0) {
    const double nw = std::trunc(double(tw) * sx), nh = std::trunc(double(th) * sy);
    // A texture scaled below a pixel or beyond the range would tile nothing useful.
    const int32_t w = nw >= 1.0 && nw <= 1073741824.0 ? int32_t(nw) : 1;
    const int32_t h = nh >= 1.0 && nh <= 1073741824.0 ? int32_t(nh) : 1;
    qvPlane* noMask = nullptr;
    qvPlane* noAlpha = nullptr;
    code = ScaleBitMap(tile, nullptr, nullptr, 0, 0, nullptr, tw, th, w, h, smooth, &scaled,
                       &noMask, &noAlpha);
    FreeMaskOrAlpha(noMask);
    FreeMaskOrAlpha(noAlpha);
    if (code != 0) return code;
    if (scaled == nullptr) return ERR_MEM;
    tile = scaled;
    tw = w;
    th = h;
  }
  TileBitMap(target, x, y, width, height, tile, style.textureX, style.textureY, tw, th);
  FreeBitMap(scaled);
  return 0;
}

int RasteriseShape(qvScriptState* L, const qvShapeOutline& outline, const qvRasterRequest& request,
                   qvShapeImage* out) {
  *out = qvShapeImage{};
  qvDrawStyle defaults;
  if (request.style == nullptr) InitDrawStyle(&defaults);
  const qvDrawStyle& style = request.style ? *request.style : defaults;
  const int32_t count = static_cast<int32_t>(outline.points.size());
  if (count == 0 || outline.width < 1 || outline.height < 1) return ERR_WRONGUSAGE;

  const bool aa = (style.formStyle & kFormAntialias) != 0;
  const bool shadow = (style.formStyle & kFormShadow) != 0;
  const bool edge = (style.formStyle & kFormEdge) != 0;
  const bool outlineOnly = style.fillStyle == kFillNone;
  const int32_t lineWidth = outlineOnly ? std::clamp(style.lineWidth, 1, 255) : 0;
  const int32_t e = edge ? std::clamp(style.edgeSize, 0, 64) : 0;
  const int32_t distance = shadow ? std::clamp(style.shadowDistance, 0, 64) : 0;
  int32_t padL = 0, padT = 0, padR = 0, padB = 0;
  ShadowPaddings(distance, style.shadowDirection, &padL, &padT, &padR, &padB);

  int64_t grow = aa ? 5 : 0, move = aa ? 2 : 0;
  if (lineWidth > 1) {
    grow += lineWidth;
    move += lineWidth / 2;
  }
  // Sizes in 64 bits: a huge shape is refused as memory, never a wrapped allocation.
  const int64_t width = int64_t(outline.width) + grow + 2 * int64_t(e) + padL + padR;
  const int64_t height = int64_t(outline.height) + grow + 2 * int64_t(e) + padT + padB;
  if (!PictureSizeOk(width, height)) return ERR_MEM;
  const int32_t w = int32_t(width), h = int32_t(height);
  const int32_t bodyX = int32_t(move) + e + padL, bodyY = int32_t(move) + e + padT;

  const uint32_t transparency = request.colour >> 24;
  const bool needAlpha = aa || transparency != 0 || shadow || edge;
  qvShapeImage img{};
  img.width = w;
  img.height = h;
  img.x = -(int32_t(move) + e);
  img.y = -(int32_t(move) + e);
  img.bitmap = AllocClearedBitMap(w, h);
  // The plane only once the picture was had: a shape too big for its picture would otherwise
  // clear a gigabyte of mask before it is refused.
  if (img.bitmap != nullptr && needAlpha)
    img.alpha = AllocAlphaChannel(w, h, true);
  else if (img.bitmap != nullptr)
    img.mask = AllocMask(w, h, true);
  if (img.bitmap == nullptr || (img.alpha == nullptr && img.mask == nullptr)) {
    FreeShapeImage(&img);
    return ERR_MEM;
  }

  qvBitMap* source = nullptr;
  auto fail = [&](int code) {
    FreeBitMap(source);
    FreeShapeImage(&img);
    return code;
  };
  if (style.fillStyle == kFillGradient || style.fillStyle == kFillTexture) {
    source = AllocClearedBitMap(w, h);
    if (source == nullptr) return fail(ERR_MEM);
    const int code = style.fillStyle == kFillGradient
                         ? DrawGradient(source, bodyX, bodyY, outline.width, outline.height,
                                        &style.gradient)
                         : TextureFill(L, source, bodyX, bodyY, outline.width, outline.height,
                                       style, request.matrix, request.smooth);
    if (code != 0) return fail(code);
  }

  std::vector<qvPointI> body = RoundOutline(outline.points.data(), count);
  for (qvPointI& p : body) {
    p.x += bodyX;
    p.y += bodyY;
  }
  const uint32_t* src = source ? reinterpret_cast<const uint32_t*>(source->pixels) : nullptr;
  const int32_t srcPpr = source ? source->bytesPerRow / 4 : 0;
  Coverage bodyCov;
  if (needAlpha && !shadow && !edge) {
    // The body alone: its coverage is its alpha, scaled by its opacity once it has been painted,
    // as copying the coverage into the cleared alpha would make it.
    bodyCov.Wrap(img.alpha, w, h);
    DrawPolygonCoverage(bodyCov.image, PointWords(body.data()), count, aa, lineWidth);
    PaintWhereCovered(img.bitmap, bodyCov.data, bodyCov.bytesPerRow, request.colour, src, srcPpr);
    if (transparency != 0) {
      for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = img.alpha->data + int64_t(y) * img.alpha->bytesPerRow;
        ScaleBytesKernel(row, row, 255 - int32_t(transparency), w, 1);
      }
    }
    FreeBitMap(source);
    *out = img;
    return 0;
  }
  if (!bodyCov.Create(w, h)) return fail(ERR_MEM);
  DrawPolygonCoverage(bodyCov.image, PointWords(body.data()), count, aa, lineWidth);

  if (!needAlpha) {
    // Plain coverage holds only 0 and 255: the body's pixels and mask bits where it is set.
    auto* px = reinterpret_cast<uint32_t*>(img.bitmap->pixels);
    const int32_t ppr = img.bitmap->bytesPerRow / 4;
    const uint32_t pixel = ConvertPixelOrder(img.bitmap->format, request.colour & 0xFFFFFF);
    for (int32_t y = 0; y < h; ++y) {
      const uint8_t* c = bodyCov.data + int64_t(y) * bodyCov.bytesPerRow;
      uint8_t* m = img.mask->data + int64_t(y) * img.mask->bytesPerRow;
      for (int32_t x = 0; x < w; ++x) {
        if (c[x] == 0) continue;
        px[int64_t(y) * ppr + x] = src ? src[int64_t(y) * srcPpr + x] : pixel;
        m[x >> 3] = uint8_t(m[x >> 3] | (0x80 >> (x & 7)));
      }
    }
  } else {
    Coverage edgeCov;
    qvFormLayers f{};
    f.bitmap = img.bitmap;
    f.alpha = img.alpha;
    if (edge) {
      if (!edgeCov.Create(w, h)) return fail(ERR_MEM);
      const std::vector<qvPointD> grown = OffsetOutline(outline.points.data(), count, e);
      std::vector<qvPointI> ring = RoundOutline(grown.data(), int32_t(grown.size()));
      for (qvPointI& p : ring) {
        p.x += bodyX;
        p.y += bodyY;
      }
      DrawPolygonCoverage(edgeCov.image, PointWords(ring.data()), int32_t(ring.size()), aa, 0);
      f.edge = {edgeCov.data, edgeCov.bytesPerRow, 0, 0, w, h};
      f.edgeColour = style.edgeColour;
    }
    f.shadowOn = shadow;
    ShadowOffset(distance, style.shadowDirection, &f.shadowDx, &f.shadowDy);
    f.shadowColour = style.shadowColour;
    f.body = {bodyCov.data, bodyCov.bytesPerRow, 0, 0, w, h};
    f.bodyColour = request.colour;
    f.bodySource = src;
    f.bodySourcePixelsPerRow = srcPpr;
    ComposeFormLayers(f);
  }
  FreeBitMap(source);
  *out = img;
  return 0;
}

int DrawAntialiasedShape(const qvPointI* points, int32_t count, int32_t width, int32_t height,
                         uint32_t colour, bool antialias, int32_t borderWidth, qvShapeImage* out) {
  *out = qvShapeImage{};
  if (points == nullptr || count < 1) return ERR_WRONGUSAGE;
  const bool border = borderWidth > 0;
  const int32_t grow = border ? std::clamp(borderWidth, 2, 255) : (antialias ? 5 : 0);
  const int32_t move = border ? grow / 2 : (antialias ? 2 : 0);
  const int64_t w64 = int64_t(width) + grow, h64 = int64_t(height) + grow;
  if (!PictureSizeOk(w64, h64)) return ERR_MEM;
  const int32_t w = int32_t(w64), h = int32_t(h64);

  qvShapeImage img{};
  img.width = w;
  img.height = h;
  img.x = img.y = -move;
  img.bitmap = AllocClearedBitMap(w, h);
  if (antialias)
    img.alpha = AllocAlphaChannel(w, h, true);
  else
    img.mask = AllocMask(w, h, true);
  if (img.bitmap == nullptr || (img.alpha == nullptr && img.mask == nullptr)) {
    FreeShapeImage(&img);
    return ERR_MEM;
  }
  std::vector<qvPointI> moved(points, points + count);
  for (qvPointI& p : moved) {
    p.x += move;
    p.y += move;
  }
  if (border) {
    const qvRenderTarget target{img.bitmap, img.mask, img.alpha, w, h, nullptr, 0};
    const int code = DrawThroughRenderRecord(target, kRoadPolygonOutline, moved.data(), count, grow,
                                             antialias, colour & 0xFFFFFF, 0, -1);
    if (code != 0) {
      FreeShapeImage(&img);
      return code;
    }
    *out = img;
    return 0;
  }
  Coverage cov;
  if (!cov.Create(w, h)) {
    FreeShapeImage(&img);
    return ERR_MEM;
  }
  DrawPolygonCoverage(cov.image, PointWords(moved.data()), count, antialias, 0);
  FillBitMapRect(img.bitmap, 0, 0, w, h, colour & 0xFFFFFF);
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* c = cov.data + int64_t(y) * cov.bytesPerRow;
    if (antialias) {
      std::memcpy(img.alpha->data + int64_t(y) * img.alpha->bytesPerRow, c, size_t(w));
      continue;
    }
    uint8_t* m = img.mask->data + int64_t(y) * img.mask->bytesPerRow;
    for (int32_t x = 0; x < w; ++x)
      if (c[x] != 0) m[x >> 3] = uint8_t(m[x >> 3] | (0x80 >> (x & 7)));
  }
  *out = img;
  return 0;
}

}  // namespace qv
