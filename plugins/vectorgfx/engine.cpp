// The geometry engine's export: the functions of vectorgfx.cpp as one table.
#include "engine.h"

#include "vectorgfx.h"

extern "C" QV_PLUGIN_EXPORT const vgfx::EngineTable* VectorGraphicsEngine() {
  static const vgfx::EngineTable table = {
      vgfx::PathExtents, vgfx::DrawPathCoverage, vgfx::TranslateStream, vgfx::CurrentPoint,
      vgfx::CreateFont,  vgfx::FreeFont,         vgfx::FreeAllFonts};
  return &table;
}
