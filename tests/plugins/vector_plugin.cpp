// A stand-in for a vector graphics plugin whose answers are known exactly: a path's extents are
// the box of its absolute move and line points and its boxes (grown by half the line width when
// stroked), and its coverage is that box full (255) through the matrix's scales and the
// translation, each pixel whose centre lies inside. A stream that starts with StartSubPath draws
// nothing. Beside it a 32-bit picture saver that keeps alpha ("QVIA": width, height, flags,
// quality, then the ARGB words).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "plugin_log.h"
#include "qv_plugin.h"

namespace {

struct Box {
  double x0, y0, x1, y1;
  bool any;
};

int32_t ReadInt(const uint8_t* at) {
  int32_t v;
  std::memcpy(&v, at, 4);
  return v;
}
double ReadDouble(const uint8_t* at) {
  double v;
  std::memcpy(&v, at, 8);
  return v;
}

void Add(Box* b, double x, double y) {
  if (!b->any) {
    *b = {x, y, x, y, true};
    return;
  }
  b->x0 = std::fmin(b->x0, x);
  b->y0 = std::fmin(b->y0, y);
  b->x1 = std::fmax(b->x1, x);
  b->y1 = std::fmax(b->y1, y);
  if (std::isnan(x) || std::isnan(y)) b->x0 = NAN;
}

Box Walk(const uint8_t* s, size_t n) {
  Box b{0, 0, 0, 0, false};
  size_t at = 0;
  while (at + 4 <= n) {
    int32_t op = ReadInt(s + at);
    at += 4;
    if ((op == 1 || op == 2) && at + 20 <= n) {
      if (ReadInt(s + at) == 0) Add(&b, ReadDouble(s + at + 4), ReadDouble(s + at + 12));
      at += 20;
    } else if (op == 8 && at + 48 <= n) {
      double x = ReadDouble(s + at), y = ReadDouble(s + at + 8);
      Add(&b, x, y);
      Add(&b, x + ReadDouble(s + at + 16), y + ReadDouble(s + at + 24));
      at += 48;
    } else if (op == 5 || op == 6) {
    } else {
      break;
    }
  }
  return b;
}

Box ExtentsOf(const uint8_t* s, size_t n, int32_t fill, double lineWidth) {
  Box b = Walk(s, n);
  if (b.any && !fill) {
    b.x0 -= lineWidth / 2;
    b.y0 -= lineWidth / 2;
    b.x1 += lineWidth / 2;
    b.y1 += lineWidth / 2;
  }
  return b;
}

}  // namespace

QV_PLUGIN_EXPORT int32_t InitPlugin(qvPluginInit* init, const qvPluginApi*, const char*) {
  init->capabilities = QV_CAP_VECTOR | QV_CAP_IMAGESAVER;
  init->version = 1;
  init->revision = 0;
  init->name = "Vector stand-in";
  init->moduleName = "vecstub";
  return 1;
}
QV_PLUGIN_EXPORT void ClosePlugin() { PluginLog("vecstub", "ClosePlugin"); }

QV_PLUGIN_EXPORT int32_t GetPathExtents(qvPathExtentsRequest* r) {
  Box b = ExtentsOf(r->stream, r->streamBytes, r->fill, r->lineWidth);
  if (!b.any) return 0;
  r->x = b.x0 + r->translateX;
  r->y = b.y0 + r->translateY;
  r->width = b.x1 - b.x0;
  r->height = b.y1 - b.y0;
  return 1;
}

QV_PLUGIN_EXPORT int32_t DrawPath(qvDrawPathRequest* r) {
  r->drawn = 0;
  if (r->streamBytes >= 4 && ReadInt(r->stream) == 5) return 0;
  Box b = ExtentsOf(r->stream, r->streamBytes, r->fill, r->lineWidth);
  if (!b.any) return 0;
  const double x0 = b.x0 * r->matrix[0] + r->translateX, x1 = b.x1 * r->matrix[0] + r->translateX;
  const double y0 = b.y0 * r->matrix[3] + r->translateY, y1 = b.y1 * r->matrix[3] + r->translateY;
  for (int32_t y = 0; y < r->height; ++y) {
    for (int32_t x = 0; x < r->width; ++x) {
      if (x + 0.5 > x0 && x + 0.5 < x1 && y + 0.5 > y0 && y + 0.5 < y1) {
        r->alpha[size_t(y) * size_t(r->bytesPerRow) + size_t(x)] = 255;
      }
    }
  }
  r->drawn = 1;
  return 1;
}

QV_PLUGIN_EXPORT int32_t TranslatePath(qvTranslatePathRequest*) { return 0; }
QV_PLUGIN_EXPORT int32_t GetCurrentPoint(qvCurrentPointRequest*) { return 0; }
QV_PLUGIN_EXPORT int32_t CreateVectorFont(const qvVectorFontFace*) { return 0; }
QV_PLUGIN_EXPORT void FreeVectorFont(int32_t) {}
QV_PLUGIN_EXPORT int32_t OpenFont() { return 0; }
QV_PLUGIN_EXPORT int32_t CloseFont() { return 0; }

QV_PLUGIN_EXPORT void RegisterImageSaver(qvSaverRecord* record) {
  record->format = 78;
  record->name = "qvargb";
  record->flags = QV_SAVE_ARGB | QV_SAVE_CANALPHA;
}
QV_PLUGIN_EXPORT int32_t SaveImage(const qvImageSave* picture) {
  if (picture->palette != nullptr) return 0;
  FILE* f = std::fopen(picture->file, "wb");
  if (f == nullptr) return 0;
  std::fwrite("QVIA", 1, 4, f);
  const uint32_t head[4] = {uint32_t(picture->width), uint32_t(picture->height), picture->flags,
                            uint32_t(picture->quality)};
  std::fwrite(head, 4, 4, f);
  const auto* rows = static_cast<const uint8_t*>(picture->pixels);
  for (int32_t y = 0; y < picture->height; ++y) {
    std::fwrite(rows + size_t(y) * size_t(picture->bytesPerRow), 4, size_t(picture->width), f);
  }
  return std::fclose(f) == 0 ? 1 : 0;
}
