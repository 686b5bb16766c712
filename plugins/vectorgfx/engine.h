// The table the geometry engine (vectorgfx-engine.so) hands the plugin. cairo and the libraries
// below it (the X client libraries, fontconfig) come in with the engine, so the player does not
// load them at start when it scans its plugins: only the first path request does.
#pragma once

#include <cstdint>

#include "qv_plugin.h"

namespace vgfx {

struct EngineTable {
  int32_t (*pathExtents)(qvPathExtentsRequest*);
  int32_t (*drawPathCoverage)(qvDrawPathRequest*);
  int32_t (*translateStream)(qvTranslatePathRequest*);
  int32_t (*currentPoint)(qvCurrentPointRequest*);
  int32_t (*createFont)(const qvVectorFontFace*);
  void (*freeFont)(int32_t);
  void (*freeAllFonts)();
};

}  // namespace vgfx

// The engine's one export.
extern "C" const vgfx::EngineTable* VectorGraphicsEngine();
