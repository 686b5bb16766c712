// Vector paths: the list, the segment stream, the path style and the engine's geometry.
#include "display/paths.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "base/support.h"
#include "core/plugins.h"

namespace qv {

namespace {

qvObjectHeader* gPaths = nullptr;

struct StyleState {
  qvPathStyle style{};
  double* dashes = nullptr;  // owned; style.dashes points here
};
StyleState gStyle;

const qvVectorEngine* gEngineOverride = nullptr;
qvVectorEngine gPluginEngine{};
const qvPluginInfo* gPluginEngineSource = nullptr;
bool gEngineUsed = false;

void Unlink(qvPath* path) {
  for (qvObjectHeader** p = &gPaths; *p != nullptr; p = &(*p)->next) {
    if (*p == &path->header) {
      *p = path->header.next;
      return;
    }
  }
}

// A chosen number that a path already has: that path goes first.
void FreeNumbered(qvScriptState* L, qvOptionalId id, const qvPath* keep) {
  if (id.automatic) return;
  auto* old = reinterpret_cast<qvPath*>(FindObject(kObjectVectorPath, {id.number, nullptr}));
  if (old != nullptr && old != keep) FreePath(L, old);
}

qvPath* NewPathRecord(qvOptionalId id) {
  auto* path = static_cast<qvPath*>(AllocVecQ(sizeof(qvPath), true));
  if (path == nullptr) return nullptr;
  AddObject(&gPaths, &path->header, kObjectVectorPath, id.number, id.automatic != 0);
  return path;
}

size_t PaddedTextBytes(size_t withZero) { return (withZero / 4) * 4 + 4; }

// Makes room for `need` bytes after the segments (the end mark's word included in the caller's
// count), growing by max(1024, need). 0 or ERR_MEM with the path unchanged.
int32_t Reserve(qvPath* path, size_t need) {
  if (path->buffer != nullptr && path->capacity - path->used >= need) return 0;
  size_t grown = path->capacity + std::max<size_t>(1024, need);
  auto* buffer = static_cast<uint8_t*>(std::malloc(grown));
  if (buffer == nullptr) return ERR_MEM;
  if (path->buffer != nullptr) std::memcpy(buffer, path->buffer, path->used);
  std::free(path->buffer);
  path->buffer = buffer;
  path->capacity = grown;
  return 0;
}

void PutInt(uint8_t* at, int32_t v) {
  const auto u = uint32_t(v);
  for (int i = 0; i < 4; ++i) at[i] = uint8_t(u >> (8 * i));
}
void PutDouble(uint8_t* at, double v) {
  uint64_t u;
  std::memcpy(&u, &v, 8);
  for (int i = 0; i < 8; ++i) at[i] = uint8_t(u >> (8 * i));
}

bool FiniteExtents(const double e[4]) {
  for (int i = 0; i < 4; ++i) {
    if (!std::isfinite(e[i])) return false;
  }
  return e[2] >= 0 && e[3] >= 0;
}

}  // namespace

int32_t RegisterPaths() { return RegisterObjectList(&gPaths); }

int32_t FindPath(qvObjectId id, qvPath** out) {
  return FindObjectAs(kObjectVectorPath, id, ERR_FINDPATH, out);
}

int32_t StartPath(qvScriptState* L, qvOptionalId id, qvPath** out) {
  FreeNumbered(L, id, nullptr);
  qvPath* path = NewPathRecord(id);
  if (path == nullptr) return ERR_MEM;
  *out = path;
  return 0;
}

void FreePath(qvScriptState* L, qvPath* path) {
  Unlink(path);
  std::free(path->buffer);
  FreeObjectData(L, &path->header);
  std::free(path);
}

void ClearPath(qvPath* path) {
  std::free(path->buffer);
  path->buffer = nullptr;
  path->capacity = 0;
  path->used = 0;
}

int32_t CopyPath(qvScriptState* L, const qvPath* source, qvOptionalId id, qvPath** out) {
  if (!id.automatic && source->header.handle == nullptr && source->header.id == id.number) {
    return ERR_WRONGUSAGE;
  }
  uint8_t* buffer = nullptr;
  if (source->buffer != nullptr) {
    buffer = static_cast<uint8_t*>(std::malloc(source->capacity));
    if (buffer == nullptr) return ERR_MEM;
    std::memcpy(buffer, source->buffer, source->used + 4);
  }
  FreeNumbered(L, id, source);
  qvPath* path = NewPathRecord(id);
  if (path == nullptr) {
    std::free(buffer);
    return ERR_MEM;
  }
  path->buffer = buffer;
  path->capacity = buffer != nullptr ? source->capacity : 0;
  path->used = buffer != nullptr ? source->used : 0;
  *out = path;
  return 0;
}

int32_t AppendPath(qvPath* destination, const qvPath* source) {
  if (destination == source) return ERR_WRONGUSAGE;
  if (source->buffer == nullptr || source->used == 0) return 0;
  int32_t code = Reserve(destination, source->used + 4);
  if (code != 0) return code;
  std::memcpy(destination->buffer + destination->used, source->buffer, source->used);
  destination->used += source->used;
  PutInt(destination->buffer + destination->used, 0);
  return 0;
}

void FreeAllPaths(qvScriptState* L) {
  while (gPaths != nullptr) FreePath(L, reinterpret_cast<qvPath*>(gPaths));
  ResetPathStyle();
  gEngineUsed = false;
}

int32_t AppendPathSegment(qvPath* path, int32_t opcode, const qvSegmentOperand* operands,
                          int32_t count) {
  size_t strings = 0;
  size_t bytes = 4;
  for (int32_t i = 0; i < count; ++i) {
    switch (operands[i].kind) {
      case kOperandDouble:
        bytes += 8;
        break;
      case kOperandString: {
        size_t padded = PaddedTextBytes(std::strlen(operands[i].text) + 1);
        strings += padded;
        bytes += padded;
        break;
      }
      default:
        bytes += 4;
        break;
    }
  }
  // The room asked for is the strings plus 128, which holds every fixed operand list and the
  // end mark; a segment larger than that (none is) still gets the room it needs.
  int32_t code = Reserve(path, std::max(strings + 128, bytes + 4));
  if (code != 0) return code;
  uint8_t* at = path->buffer + path->used;
  PutInt(at, opcode);
  at += 4;
  for (int32_t i = 0; i < count; ++i) {
    switch (operands[i].kind) {
      case kOperandDouble:
        PutDouble(at, operands[i].number);
        at += 8;
        break;
      case kOperandString: {
        size_t withZero = std::strlen(operands[i].text) + 1;
        size_t padded = PaddedTextBytes(withZero);
        std::memcpy(at, operands[i].text, withZero);
        std::memset(at + withZero, 0, padded - withZero);
        at += padded;
        break;
      }
      default:
        PutInt(at, operands[i].integer);
        at += 4;
        break;
    }
  }
  path->used = size_t(at - path->buffer);
  PutInt(at, 0);
  return 0;
}

const qvPathStyle& CurrentPathStyle() { return gStyle.style; }
void SetPathLineJoin(int32_t join) { gStyle.style.join = join; }
void SetPathLineCap(int32_t cap) { gStyle.style.cap = cap; }
void SetPathFillRule(int32_t rule) { gStyle.style.fillRule = rule; }

int32_t SetPathDash(double offset, const double* dashes, int32_t count) {
  if (count < 1 || dashes[0] < 0) {
    std::free(gStyle.dashes);
    gStyle.dashes = nullptr;
    gStyle.style.dashes = nullptr;
    gStyle.style.dashCount = 0;
    gStyle.style.dashOffset = 0;
    return 0;
  }
  auto* copy = static_cast<double*>(std::malloc(sizeof(double) * size_t(count)));
  if (copy == nullptr) return ERR_MEM;
  std::memcpy(copy, dashes, sizeof(double) * size_t(count));
  std::free(gStyle.dashes);
  gStyle.dashes = copy;
  gStyle.style.dashes = copy;
  gStyle.style.dashCount = count;
  gStyle.style.dashOffset = offset;
  return 0;
}

void ResetPathStyle() {
  std::free(gStyle.dashes);
  gStyle = StyleState{};
}

const qvVectorEngine* VectorEngine() {
  if (gEngineOverride != nullptr) return gEngineOverride;
  const qvPluginInfo* plugin = VectorGraphicsPlugin();
  if (plugin == nullptr) return nullptr;
  if (plugin != gPluginEngineSource) {
    gPluginEngine.getPathExtents = reinterpret_cast<int32_t (*)(qvPathExtentsRequest*)>(
        plugin->vector[0]);
    gPluginEngine.drawPath = reinterpret_cast<int32_t (*)(qvDrawPathRequest*)>(plugin->vector[1]);
    gPluginEngine.translatePath = reinterpret_cast<int32_t (*)(qvTranslatePathRequest*)>(
        plugin->vector[2]);
    gPluginEngine.getCurrentPoint = reinterpret_cast<int32_t (*)(qvCurrentPointRequest*)>(
        plugin->vector[3]);
    gPluginEngine.createVectorFont = reinterpret_cast<int32_t (*)(const qvVectorFontFace*)>(
        plugin->vector[4]);
    gPluginEngine.freeVectorFont = reinterpret_cast<void (*)(int32_t)>(plugin->vector[5]);
    gPluginEngineSource = plugin;
  }
  return &gPluginEngine;
}

void SetVectorEngineOverride(const qvVectorEngine* engine) { gEngineOverride = engine; }

int32_t CheckVectorEngine() {
  if (VectorEngine() == nullptr) return ERR_VECGFXPLUGIN;
  gEngineUsed = true;
  return 0;
}

bool VectorEngineUsed() { return gEngineUsed; }

int32_t GetPathExtents(const qvPath& path, bool fill, double lineWidth, bool antialias,
                       double out[4]) {
  out[0] = out[1] = out[2] = out[3] = 0;
  if (path.buffer == nullptr) return 0;
  int32_t code = CheckVectorEngine();
  if (code != 0) return code;
  qvPathExtentsRequest request{};
  request.style = CurrentPathStyle();
  request.antialias = antialias ? 1 : 0;
  request.stream = path.buffer;
  request.streamBytes = PathStreamBytes(path);
  request.fill = fill ? 1 : 0;
  request.lineWidth = lineWidth;
  if (VectorEngine()->getPathExtents(&request) == 0) return 0;
  const double e[4] = {request.x, request.y, request.width, request.height};
  if (FiniteExtents(e)) std::memcpy(out, e, sizeof e);
  return 0;
}

int32_t GetPathCurrentPoint(const qvPath& path, double* x, double* y) {
  *x = *y = 0;
  if (path.buffer == nullptr) return 0;
  int32_t code = CheckVectorEngine();
  if (code != 0) return code;
  qvCurrentPointRequest request{};
  request.style = CurrentPathStyle();
  request.stream = path.buffer;
  request.streamBytes = PathStreamBytes(path);
  if (VectorEngine()->getCurrentPoint(&request) == 0) return 0;
  if (std::isfinite(request.x) && std::isfinite(request.y)) {
    *x = request.x;
    *y = request.y;
  }
  return 0;
}

int32_t TranslatePath(qvPath* path, double dx, double dy) {
  if ((dx == 0 && dy == 0) || path->buffer == nullptr) return 0;
  int32_t code = CheckVectorEngine();
  if (code != 0) return code;
  qvTranslatePathRequest request{path->buffer, PathStreamBytes(*path), dx, dy};
  VectorEngine()->translatePath(&request);
  return 0;
}

int32_t NormalizePath(qvPath* path) {
  if (path->buffer == nullptr) return 0;
  double e[4];
  int32_t code = GetPathExtents(*path, true, 1.0, false, e);
  if (code != 0) return code;
  return TranslatePath(path, -e[0], -e[1]);
}

void Latin1ToUtf8(const char* text, size_t length, char* out) {
  for (size_t i = 0; i < length; ++i) {
    auto c = uint8_t(text[i]);
    if (c < 0x80) {
      *out++ = char(c);
    } else {
      *out++ = char(0xC0 | (c >> 6));
      *out++ = char(0x80 | (c & 0x3F));
    }
  }
  *out = '\0';
}

int32_t AddTextToPath(qvPath* path, qvPathFont* font, const char* text, size_t length, bool utf8) {
  int32_t code = CheckVectorEngine();
  if (code != 0) return code;
  if (font == nullptr || font->engine != kFontEngineInbuilt) return ERR_VFONTTYPE;
  if (font->vectorFont == 0) {
    font->vectorFont = VectorEngine()->createVectorFont(&font->face);
    if (font->vectorFont == 0) return ERR_VFONT;
  }
  // A text stops at its first zero byte in the stream.
  length = strnlen(text, length);
  char* converted = static_cast<char*>(std::malloc(utf8 ? length + 1 : 2 * length + 1));
  if (converted == nullptr) return ERR_MEM;
  if (utf8) {
    std::memcpy(converted, text, length);
    converted[length] = '\0';
  } else {
    Latin1ToUtf8(text, length, converted);
  }
  const qvSegmentOperand operands[] = {{kOperandHandle, font->vectorFont, 0.0, nullptr},
                                       IntOperand(font->size),
                                       TextOperand(converted)};
  code = AppendPathSegment(path, QV_SEG_TEXT, operands, 3);
  std::free(converted);
  return code;
}

void ReleasePathFont(qvPathFont* font) {
  if (font->vectorFont == 0) return;
  if (const qvVectorEngine* engine = VectorEngine()) engine->freeVectorFont(font->vectorFont);
  font->vectorFont = 0;
}

}  // namespace qv
