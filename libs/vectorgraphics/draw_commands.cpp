// DrawPath: a path drawn onto the output device through the vector graphics plugin.
#include "base/errors.h"
#include "core/args.h"
#include "display/draw.h"
#include "display/path_render.h"
#include "libs/options/options.h"
#include "libs/vectorgraphics/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

// DrawPath(path, x, y[, colour = 0[, options]])
int32_t DrawPath(qvScriptState* L) {
  CheckArgCount(L, 3, 5);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t x = VmCheckInt(L, 2);
  int32_t y = VmCheckInt(L, 3);
  auto colour = static_cast<uint32_t>(VmOptInt(L, 4, 0));
  qvTransformBlock transform;
  qvLayerOptions options;
  InitTransformBlock(&transform);
  InitLayerOptions(&options);
  bool buildMatrix = false;
  int code = ReadDisplayOptions(L, 5, 0, kOptNoSize, &transform, &options, &buildMatrix);
  if (code != 0) return code;
  if (buildMatrix) {
    // The matrix of a scale or an angle does not depend on the path's size.
    BuildTransformMatrix(&transform, 0, 0, 1, 1, transform.scaleX, transform.scaleY,
                         transform.rotate);
  }
  return DrawPathById(L, id, x, y, colour, *GetDrawStyle(), &transform, options.transparency);
}

}  // namespace qv::cmd
