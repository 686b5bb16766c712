/* Plugins the player must refuse, one per HOSTILE value:
 * 1 needs host 5.3; 2 names another module; 3 claims an image loader without TransformImage;
 * 4 has only the unknown capability 0x400; 5 answers InitPlugin with 0; 6 has no InitPlugin. */
#include "plugin_log.h"
#include "qv_plugin.h"

#ifndef HOSTILE
#error HOSTILE must be set
#endif

#if HOSTILE != 6
QV_PLUGIN_EXPORT int32_t InitPlugin(qvPluginInit* init, const qvPluginApi* api, const char* path) {
  (void)api;
  (void)path;
  PluginLog(MODULE, "InitPlugin");
  init->capabilities = QV_CAP_LIBRARY;
  init->version = 1;
  init->moduleName = MODULE;
#if HOSTILE == 1
  init->requiredVersion = 5;
  init->requiredRevision = 3;
#elif HOSTILE == 2
  init->moduleName = "someotherplugin";
#elif HOSTILE == 3
  init->capabilities = QV_CAP_IMAGE;
#elif HOSTILE == 4
  init->capabilities = 0x400;
#elif HOSTILE == 5
  return 0;
#endif
  return 1;
}
#endif

QV_PLUGIN_EXPORT void ClosePlugin(void) { PluginLog(MODULE, "ClosePlugin"); }

/* The library entries, so that only the named fault stands in the way. */
QV_PLUGIN_EXPORT const char* GetBaseTable(void) { return 0; }
QV_PLUGIN_EXPORT const qvPluginCommand* GetCommands(void) { return 0; }
QV_PLUGIN_EXPORT const qvPluginConstant* GetConstants(void) { return 0; }
QV_PLUGIN_EXPORT int32_t InitLibrary(qvPluginState* L) {
  (void)L;
  return 0;
}
QV_PLUGIN_EXPORT void FreeLibrary(qvPluginState* L) { (void)L; }
#if HOSTILE == 3
QV_PLUGIN_EXPORT int32_t IsImage(const char* file, qvImageFacts* facts) {
  (void)file;
  (void)facts;
  return 0;
}
QV_PLUGIN_EXPORT void* LoadImage(const char* file, qvImageFacts* facts) {
  (void)file;
  (void)facts;
  return 0;
}
QV_PLUGIN_EXPORT uint32_t* GetImage(void* image, qvImageFacts* facts) {
  (void)image;
  (void)facts;
  return 0;
}
QV_PLUGIN_EXPORT void FreeImage(void* image) { (void)image; }
#endif
