// The entry points of the vector graphics plugin (vectorgfx.qvp).
#include "qv_plugin.h"
#include "vectorgfx.h"

QV_PLUGIN_EXPORT int32_t InitPlugin(qvPluginInit* init, const qvPluginApi* api, const char*) {
  if (api == nullptr || api->version < QV_PLUGIN_VERSION) return 0;
  init->capabilities = QV_CAP_VECTOR;
  init->version = 1;
  init->revision = 0;
  init->name = "Vector graphics";
  init->moduleName = "vectorgfx";
  init->author = "The Quillvane project";
  init->description = "Vector paths filled, stroked and measured through cairo";
  init->copyright = "";
  init->url = "";
  init->date = "";
  init->settings = "";
  init->helpFile = "";
  return 1;
}

QV_PLUGIN_EXPORT void ClosePlugin() { vgfx::FreeAllFonts(); }

QV_PLUGIN_EXPORT int32_t GetPathExtents(qvPathExtentsRequest* request) {
  return vgfx::PathExtents(request);
}
QV_PLUGIN_EXPORT int32_t DrawPath(qvDrawPathRequest* request) {
  return vgfx::DrawPathCoverage(request);
}
QV_PLUGIN_EXPORT int32_t TranslatePath(qvTranslatePathRequest* request) {
  return vgfx::TranslateStream(request);
}
QV_PLUGIN_EXPORT int32_t GetCurrentPoint(qvCurrentPointRequest* request) {
  return vgfx::CurrentPoint(request);
}
QV_PLUGIN_EXPORT int32_t CreateVectorFont(const qvVectorFontFace* face) {
  return vgfx::CreateFont(face);
}
QV_PLUGIN_EXPORT void FreeVectorFont(int32_t font) { vgfx::FreeFont(font); }
QV_PLUGIN_EXPORT int32_t OpenFont() { return 0; }
QV_PLUGIN_EXPORT int32_t CloseFont() { return 0; }
