// Building paths segment by segment, the path style, and the questions about a path's geometry
// that the vector graphics plugin answers.
#include <cmath>
#include <cstring>
#include <vector>

#include "base/errors.h"
#include "core/args.h"
#include "display/draw.h"
#include "display/path_render.h"
#include "display/paths.h"
#include "display/records.h"
#include "libs/vectorgraphics/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// The path at the argument: 0 with *out, or the not-found code, which the command returns.
int32_t PathArg(qvScriptState* L, int index, qvPath** out) {
  return FindPath(CheckObjectId(L, index), out);
}

int32_t AppendPoint(qvScriptState* L, int32_t opcode, int32_t relative) {
  CheckArgCount(L, 3, 3);
  qvPath* path = nullptr;
  if (int32_t code = PathArg(L, 1, &path)) return code;
  const qvSegmentOperand operands[] = {IntOperand(relative), DoubleOperand(VmCheckNumber(L, 2)),
                                       DoubleOperand(VmCheckNumber(L, 3))};
  return AppendPathSegment(path, opcode, operands, 3);
}

int32_t AppendCurve(qvScriptState* L, int32_t relative) {
  CheckArgCount(L, 7, 7);
  qvPath* path = nullptr;
  if (int32_t code = PathArg(L, 1, &path)) return code;
  qvSegmentOperand operands[7] = {IntOperand(relative)};
  for (int i = 0; i < 6; ++i) operands[i + 1] = DoubleOperand(VmCheckNumber(L, i + 2));
  return AppendPathSegment(path, QV_SEG_CURVETO, operands, 7);
}

int32_t AppendArc(qvPath* path, double x, double y, double rx, double ry, double start, double end,
                  int32_t direction) {
  const qvSegmentOperand operands[] = {
      DoubleOperand(x),     DoubleOperand(y),   DoubleOperand(rx),    DoubleOperand(ry),
      DoubleOperand(start), DoubleOperand(end), IntOperand(direction)};
  return AppendPathSegment(path, QV_SEG_ARC, operands, 7);
}

int32_t AppendBare(qvScriptState* L, int32_t opcode) {
  CheckArgCount(L, 1, 1);
  qvPath* path = nullptr;
  if (int32_t code = PathArg(L, 1, &path)) return code;
  return AppendPathSegment(path, opcode, nullptr, 0);
}

int32_t ClampLevel(int32_t level) { return level < 0 ? 0 : level > 100 ? 100 : level; }

}  // namespace

namespace cmd {

int32_t MoveTo(qvScriptState* L) { return AppendPoint(L, QV_SEG_MOVETO, 0); }
int32_t LineTo(qvScriptState* L) { return AppendPoint(L, QV_SEG_LINETO, 0); }
int32_t CurveTo(qvScriptState* L) { return AppendCurve(L, 0); }
int32_t RelMoveTo(qvScriptState* L) { return AppendPoint(L, QV_SEG_MOVETO, 1); }
int32_t RelLineTo(qvScriptState* L) { return AppendPoint(L, QV_SEG_LINETO, 1); }
int32_t RelCurveTo(qvScriptState* L) { return AppendCurve(L, 1); }
int32_t StartSubPath(qvScriptState* L) { return AppendBare(L, QV_SEG_STARTSUBPATH); }
int32_t ClosePath(qvScriptState* L) { return AppendBare(L, QV_SEG_CLOSEPATH); }

// StartPath(id or Nil)
int32_t StartPath(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvOptionalId id = OptObjectId(L, 1);
  qvPath* path = nullptr;
  int32_t code = qv::StartPath(L, id, &path);
  if (code != 0) return code;
  return PushNewObjectId(L, id, path);
}

// AddArcToPath(path, x, y, rx, ry, start, end[, direction = 1])
int32_t AddArcToPath(qvScriptState* L) {
  CheckArgCount(L, 7, 8);
  qvPath* path = nullptr;
  if (int32_t code = PathArg(L, 1, &path)) return code;
  double v[6];
  for (int i = 0; i < 6; ++i) v[i] = VmCheckNumber(L, i + 2);
  return AppendArc(path, v[0], v[1], v[2], v[3], v[4], v[5], VmOptInt(L, 8, 1));
}

int32_t AddCircleToPath(qvScriptState* L) {
  CheckArgCount(L, 4, 4);
  qvPath* path = nullptr;
  if (int32_t code = PathArg(L, 1, &path)) return code;
  double r = VmCheckNumber(L, 4);
  return AppendArc(path, VmCheckNumber(L, 2), VmCheckNumber(L, 3), r, r, 0, 360, 1);
}

int32_t AddEllipseToPath(qvScriptState* L) {
  CheckArgCount(L, 5, 5);
  qvPath* path = nullptr;
  if (int32_t code = PathArg(L, 1, &path)) return code;
  return AppendArc(path, VmCheckNumber(L, 2), VmCheckNumber(L, 3), VmCheckNumber(L, 4),
                   VmCheckNumber(L, 5), 0, 360, 1);
}

// AddBoxToPath(path, x, y, width, height[, {roundlevel, cornera .. cornerd}])
int32_t AddBoxToPath(qvScriptState* L) {
  CheckArgCount(L, 5, 6);
  qvPath* path = nullptr;
  if (int32_t code = PathArg(L, 1, &path)) return code;
  double v[4];
  for (int i = 0; i < 4; ++i) v[i] = VmCheckNumber(L, i + 2);
  int32_t corners[4] = {0, 0, 0, 0};
  if (VmType(L, 6) == kTypeTable) {
    int32_t all = 0;
    if (GetFieldInt(L, 6, "roundlevel", &all, nullptr)) {
      for (int32_t& c : corners) c = all;
    }
    const char* keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
    for (int i = 0; i < 4; ++i) GetFieldInt(L, 6, keys[i], &corners[i], nullptr);
  }
  qvSegmentOperand operands[8];
  for (int i = 0; i < 4; ++i) operands[i] = DoubleOperand(v[i]);
  for (int i = 0; i < 4; ++i) operands[4 + i] = IntOperand(ClampLevel(corners[i]));
  return AppendPathSegment(path, QV_SEG_BOX, operands, 8);
}

int32_t SetLineJoin(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  SetPathLineJoin(VmCheckInt(L, 1));
  return 0;
}

int32_t SetLineCap(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  SetPathLineCap(VmCheckInt(L, 1));
  return 0;
}

int32_t SetFillRule(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  SetPathFillRule(VmCheckInt(L, 1));
  return 0;
}

// SetDash(offset, dash1[, dash2 ...])
int32_t SetDash(qvScriptState* L) {
  CheckArgCount(L, 2, 0);
  int top = VmGetTop(L);
  double offset = VmCheckNumber(L, 1);
  std::vector<double> dashes;
  for (int i = 2; i <= top; ++i) dashes.push_back(VmCheckNumber(L, i));
  return SetPathDash(offset, dashes.data(), int32_t(dashes.size()));
}

int32_t FreePath(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvPath* path = nullptr;
  if (int32_t code = PathArg(L, 1, &path)) return code;
  qv::FreePath(L, path);
  return 0;
}

int32_t ClearPath(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvPath* path = nullptr;
  if (int32_t code = PathArg(L, 1, &path)) return code;
  qv::ClearPath(path);
  return 0;
}

int32_t IsPathEmpty(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvPath* path = nullptr;
  if (int32_t code = PathArg(L, 1, &path)) return code;
  VmPushNumber(L, path->buffer == nullptr ? 1 : 0);
  return 1;
}

int32_t GetCurrentPoint(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  double x = 0, y = 0;
  qvPath* path = nullptr;
  int32_t code = PathArg(L, 1, &path);
  if (code != 0) return code;
  code = GetPathCurrentPoint(*path, &x, &y);
  if (code != 0) return code;
  VmPushNumber(L, x);
  VmPushNumber(L, y);
  return 2;
}

int32_t GetPathExtents(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvPath* path = nullptr;
  if (int32_t code = PathArg(L, 1, &path)) return code;
  const qvDrawStyle& style = *GetDrawStyle();
  double e[4];
  int32_t code = qv::GetPathExtents(*path, style.fillStyle != kFillNone, style.lineWidth, false, e);
  if (code != 0) return code;
  for (double v : e) VmPushNumber(L, v);
  return 4;
}

// CopyPath(source, id or Nil)
int32_t CopyPath(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvPath* source = nullptr;
  if (int32_t code = PathArg(L, 1, &source)) return code;
  qvOptionalId id = OptObjectId(L, 2);
  qvPath* copy = nullptr;
  int32_t code = qv::CopyPath(L, source, id, &copy);
  if (code != 0) return code;
  return PushNewObjectId(L, id, copy);
}

int32_t AppendPath(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvPath* destination = nullptr;
  if (int32_t code = PathArg(L, 1, &destination)) return code;
  qvPath* source = nullptr;
  if (int32_t code = PathArg(L, 2, &source)) return code;
  return qv::AppendPath(destination, source);
}

// AddTextToPath(path, text[, {encoding}])
int32_t AddTextToPath(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  qvPath* path = nullptr;
  if (int32_t code = PathArg(L, 1, &path)) return code;
  size_t length = 0;
  const char* text = VmCheckString(L, 2, &length);
  int32_t encoding = 0;
  if (VmType(L, 3) == kTypeTable) GetFieldInt(L, 3, "encoding", &encoding, nullptr);
  if (encoding != 0 && encoding != 1) return ERR_WRONGUSAGE;
  // The text library's fonts are not outline fonts of the built-in engine yet.
  return qv::AddTextToPath(path, nullptr, text, length, encoding == 1);
}

int32_t TranslatePath(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  qvPath* path = nullptr;
  if (int32_t code = PathArg(L, 1, &path)) return code;
  return qv::TranslatePath(path, VmCheckNumber(L, 2), VmCheckNumber(L, 3));
}

int32_t NormalizePath(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvPath* path = nullptr;
  if (int32_t code = PathArg(L, 1, &path)) return code;
  return qv::NormalizePath(path);
}

int32_t ForcePathUse(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  SetForcePathUse(VmCheckInt(L, 1) != 0);
  return 0;
}

}  // namespace cmd

}  // namespace qv
