// The display's frame pacing and colour depth, and the default display options of the draw
// commands.
#include <algorithm>
#include <cstdint>

#include "base/errors.h"
#include "core/args.h"
#include "display/display.h"
#include "libs/graphics/commands.h"
#include "libs/options/options.h"
#include "platform/loop.h"
#include "platform/window_services.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

// GetRealColor(colour): the colour as a screen of 15 or 16 bits per pixel shows it.
int32_t GetRealColor(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  auto colour = static_cast<uint32_t>(VmCheckInt(L, 1));
  int32_t depth = GetScreenAttr(ScreenAttr::kDepth);
  if (depth == 15) {
    colour &= 0xF8F8F8;
  } else if (depth == 16) {
    colour &= 0xF8FCF8;
  }
  VmPushNumber(L, colour);
  return 1;
}

int32_t VWait(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  UpdateCurrentDisplay(L);
  return 0;
}

// SetFPSLimit(n): frames per second for VWait and Flip; 0 (or less) follows the display.
int32_t SetFPSLimit(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  SetPlatformAttr(PlatformAttr::kFrameLimit, std::max(VmCheckInt(L, 1), 0));
  return 0;
}

int32_t GetFPSLimit(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmPushNumber(L, static_cast<uint32_t>(GetFrameLimit()));
  return 1;
}

// SetDrawTagsDefault(table): the options every draw command starts from.
int32_t SetDrawTagsDefault(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  // Read over the defaults, which stay as they were when the table is refused.
  qvTransformBlock block;
  qvLayerOptions options;
  InitTransformBlock(&block);
  InitLayerOptions(&options);
  bool buildMatrix = false;
  int32_t code = ReadDisplayOptions(L, 1, 0, kOptTableRequired, &block, &options, &buildMatrix);
  if (code != 0) return code;
  // The defaults belong to no object: the matrix is built for a size of its own.
  if (buildMatrix) {
    BuildTransformMatrix(&block, block.width, block.height, 0, 0, block.scaleX, block.scaleY,
                         block.rotate);
  }
  SetDisplayOptionDefaults(block, options);
  return 0;
}

}  // namespace qv::cmd
