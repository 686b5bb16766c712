// The vectorgraphics library's table: paths built segment by segment, the path style, and the
// geometry and drawing that the vector graphics plugin does for them.
#include "display/path_render.h"
#include "display/paths.h"
#include "libs/libraries.h"
#include "libs/vectorgraphics/commands.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"MoveTo", cmd::MoveTo},
    {"LineTo", cmd::LineTo},
    {"CurveTo", cmd::CurveTo},
    {"RelMoveTo", cmd::RelMoveTo},
    {"RelLineTo", cmd::RelLineTo},
    {"RelCurveTo", cmd::RelCurveTo},
    {"DrawPath", cmd::DrawPath},
    {"StartPath", cmd::StartPath},
    {"StartSubPath", cmd::StartSubPath},
    {"ClosePath", cmd::ClosePath},
    {"AddArcToPath", cmd::AddArcToPath},
    {"AddCircleToPath", cmd::AddCircleToPath},
    {"AddEllipseToPath", cmd::AddEllipseToPath},
    {"AddBoxToPath", cmd::AddBoxToPath},
    {"SetLineJoin", cmd::SetLineJoin},
    {"SetLineCap", cmd::SetLineCap},
    {"SetDash", cmd::SetDash},
    {"SetFillRule", cmd::SetFillRule},
    {"FreePath", cmd::FreePath},
    {"ClearPath", cmd::ClearPath},
    {"IsPathEmpty", cmd::IsPathEmpty},
    {"GetCurrentPoint", cmd::GetCurrentPoint},
    {"GetPathExtents", cmd::GetPathExtents},
    {"CopyPath", cmd::CopyPath},
    {"AppendPath", cmd::AppendPath},
    {"AddTextToPath", cmd::AddTextToPath},
    {"TranslatePath", cmd::TranslatePath},
    {"NormalizePath", cmd::NormalizePath},
    {"ForcePathUse", cmd::ForcePathUse},
    {nullptr, nullptr},
};

const qvConstantRow kConstants[] = {
    {"JOINMITER", nullptr, 0},       {"JOINROUND", nullptr, 1},       {"JOINBEVEL", nullptr, 2},
    {"CAPBUTT", nullptr, 0},         {"CAPROUND", nullptr, 1},        {"CAPSQUARE", nullptr, 2},
    {"FILLRULEWINDING", nullptr, 0}, {"FILLRULEEVENODD", nullptr, 1}, {nullptr, nullptr, 0},
};

int32_t OpenVectorGraphics(qvScriptState*) {
  ResetPathStyle();
  SetForcePathUse(false);
  return RegisterPaths();
}

}  // namespace

const qvLibrary kVectorGraphicsLibrary{"vectorgraphics", kCommands, kConstants, OpenVectorGraphics};

void FreeVectorGraphicsLibrary(qvScriptState* L) {
  SetForcePathUse(false);
  FreeAllPaths(L);
}

}  // namespace qv
