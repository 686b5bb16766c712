// The command handlers of the vectorgraphics library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}  // namespace qv

namespace qv::cmd {

// path_commands.cpp
int32_t MoveTo(qvScriptState* L);
int32_t LineTo(qvScriptState* L);
int32_t CurveTo(qvScriptState* L);
int32_t RelMoveTo(qvScriptState* L);
int32_t RelLineTo(qvScriptState* L);
int32_t RelCurveTo(qvScriptState* L);
int32_t StartPath(qvScriptState* L);
int32_t StartSubPath(qvScriptState* L);
int32_t ClosePath(qvScriptState* L);
int32_t AddArcToPath(qvScriptState* L);
int32_t AddCircleToPath(qvScriptState* L);
int32_t AddEllipseToPath(qvScriptState* L);
int32_t AddBoxToPath(qvScriptState* L);
int32_t SetLineJoin(qvScriptState* L);
int32_t SetLineCap(qvScriptState* L);
int32_t SetDash(qvScriptState* L);
int32_t SetFillRule(qvScriptState* L);
int32_t FreePath(qvScriptState* L);
int32_t ClearPath(qvScriptState* L);
int32_t IsPathEmpty(qvScriptState* L);
int32_t GetCurrentPoint(qvScriptState* L);
int32_t GetPathExtents(qvScriptState* L);
int32_t CopyPath(qvScriptState* L);
int32_t AppendPath(qvScriptState* L);
int32_t AddTextToPath(qvScriptState* L);
int32_t TranslatePath(qvScriptState* L);
int32_t NormalizePath(qvScriptState* L);
int32_t ForcePathUse(qvScriptState* L);
// draw_commands.cpp
int32_t DrawPath(qvScriptState* L);

}  // namespace qv::cmd
