// Vector paths: script objects (kind VECTORPATH) that hold a stream of segments, the global path
// style, and the vector graphics engine (the entries of the loaded vector plugin) that knows the
// geometry. The player never interprets a path's geometry itself: extents, current points,
// translations and coverage all come from the engine. Script thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/args.h"
#include "core/registry.h"
#include "include/qv_plugin.h"
#include "text/fonts.h"  // the font engines

namespace qv {

// A path. The buffer holds the segments from 0 to `used`, and the end mark (the 32-bit word 0)
// at `used`; an empty path has no buffer.
struct qvPath {
  qvObjectHeader header;  // type kObjectVectorPath
  uint8_t* buffer;
  size_t capacity;
  size_t used;
};

// The bytes a plugin request carries: the segments and the end mark.
inline size_t PathStreamBytes(const qvPath& path) {
  return path.buffer != nullptr ? path.used + 4 : 0;
}

// ---- the path list ----

// Registers the list with the object registry; 0 or ERR_MEM.
int32_t RegisterPaths();
// The path of that id: 0 with *out; ERR_FINDARRAY for a handle that names none, ERR_FINDPATH
// (the number stored) for a number.
int32_t FindPath(qvObjectId id, qvPath** out);
// A new empty path appended to the list; a chosen number frees the path that had it first.
// 0 or ERR_MEM.
int32_t StartPath(qvScriptState* L, qvOptionalId id, qvPath** out);
// Unlinks and frees the path with its buffer and object data.
void FreePath(qvScriptState* L, qvPath* path);
// The path becomes empty.
void ClearPath(qvPath* path);
// A copy of the source's segments in a new path of its own (its own id, handle, object data and
// list link); a chosen number frees the path that had it first. ERR_WRONGUSAGE when that path
// is the source itself, else 0 or ERR_MEM (nothing made).
int32_t CopyPath(qvScriptState* L, const qvPath* source, qvOptionalId id, qvPath** out);
// The source's segments appended to the destination's. ERR_WRONGUSAGE for one path twice, else
// 0 or ERR_MEM (the destination as it was).
int32_t AppendPath(qvPath* destination, const qvPath* source);
// The library's teardown: every path, the dash array, and the vector fonts made while the engine
// was in use.
void FreeAllPaths(qvScriptState* L);

// ---- segments ----

// Operand kinds of AppendPathSegment.
enum : int32_t {
  kOperandInt = 0,
  kOperandDouble = 1,
  kOperandString = 2,  // the text with its zero, padded to (n rounded down to 4) + 4 bytes
  kOperandHandle = 3,  // stored as an int32
};
struct qvSegmentOperand {
  int32_t kind;
  int32_t integer;
  double number;
  const char* text;  // kOperandString: zero-terminated
};
inline qvSegmentOperand IntOperand(int32_t v) { return {kOperandInt, v, 0.0, nullptr}; }
inline qvSegmentOperand DoubleOperand(double v) { return {kOperandDouble, 0, v, nullptr}; }
inline qvSegmentOperand TextOperand(const char* v) { return {kOperandString, 0, 0.0, v}; }

// Writes the opcode and its operands after the path's segments, then the end mark. Room for the
// strings plus 128 bytes is made first: a buffer with less free space grows by
// max(1024, that room). 0, or ERR_MEM with the stream as it was.
int32_t AppendPathSegment(qvPath* path, int32_t opcode, const qvSegmentOperand* operands,
                          int32_t count);

// ---- the path style ----

// The one global style: join, cap, dashes (offset and array) and fill rule; zero at start.
const qvPathStyle& CurrentPathStyle();
void SetPathLineJoin(int32_t join);
void SetPathLineCap(int32_t cap);
void SetPathFillRule(int32_t rule);
// A negative first dash switches dashing off (offset 0, no array); otherwise the offset and the
// `count` lengths become the pattern. 0, or ERR_MEM with the old pattern kept.
int32_t SetPathDash(double offset, const double* dashes, int32_t count);
// Back to zero, the dash array freed.
void ResetPathStyle();

// ---- the engine ----

// The vector graphics entries the player calls.
struct qvVectorEngine {
  int32_t (*getPathExtents)(qvPathExtentsRequest*);
  int32_t (*drawPath)(qvDrawPathRequest*);
  int32_t (*translatePath)(qvTranslatePathRequest*);
  int32_t (*getCurrentPoint)(qvCurrentPointRequest*);
  int32_t (*createVectorFont)(const qvVectorFontFace*);
  void (*freeVectorFont)(int32_t);
};
// The engine in use: the one set for tests, else the loaded vector graphics plugin's; null when
// there is none.
const qvVectorEngine* VectorEngine();
// Replaces the plugin's engine (null: the plugin's again); for tests.
void SetVectorEngineOverride(const qvVectorEngine* engine);
// 0 with the engine marked in use, or ERR_VECGFXPLUGIN without one.
int32_t CheckVectorEngine();
bool VectorEngineUsed();

// ---- geometry through the engine ----

// The path's extents filled (fill) or stroked lineWidth wide with the current style, into
// out[4] = x, y, width, height. An empty path gives zeros without asking the engine; a path the
// engine answers with non-finite or negative numbers gives zeros. 0 or ERR_VECGFXPLUGIN.
int32_t GetPathExtents(const qvPath& path, bool fill, double lineWidth, bool antialias,
                       double out[4]);
// Where the pen stands after the path: 0, 0 for an empty path. 0 or ERR_VECGFXPLUGIN.
int32_t GetPathCurrentPoint(const qvPath& path, double* x, double* y);
// Moves every coordinate of the path: nothing for (0, 0) or an empty path. 0 or
// ERR_VECGFXPLUGIN.
int32_t TranslatePath(qvPath* path, double dx, double dy);
// Moves the path so that its extents (filled, antialiasing off) start at 0, 0. 0 or
// ERR_VECGFXPLUGIN.
int32_t NormalizePath(qvPath* path);

// ---- text ----

// What a font of the text library lends a path: its engine, its face for the plugin, its size
// and the vector font handle made on first use (0 until then).
struct qvPathFont {
  int32_t engine;
  qvVectorFontFace face;
  int32_t size;
  int32_t vectorFont;
};
// Appends the text (ISO-8859-1 with `utf8` false, converted to UTF-8) set in the font: the font
// must be an outline font of the built-in engine, else ERR_VFONTTYPE (after the engine check); a
// font without a vector handle gets one through the engine's CreateVectorFont, else ERR_VFONT. Also
// ERR_VECGFXPLUGIN, ERR_MEM.
int32_t AddTextToPath(qvPath* path, qvPathFont* font, const char* text, size_t length, bool utf8);
// Frees the font's vector font through the engine and clears it (the text library calls it when
// a font goes).
void ReleasePathFont(qvPathFont* font);
// ISO-8859-1 to UTF-8: each byte above 127 becomes two.
void Latin1ToUtf8(const char* text, size_t length, char* out);

}  // namespace qv
