// A stand-in for a vector graphics plugin: the eight vector entries (which the paths road will
// call; they answer "nothing done" here) and a 32-bit picture saver that keeps alpha ("QVIA":
// width, height, flags, quality, then the ARGB words).
#include <cstdint>
#include <cstdio>

#include "plugin_log.h"
#include "qv_plugin.h"

QV_PLUGIN_EXPORT int32_t InitPlugin(qvPluginInit* init, const qvPluginApi*, const char*) {
  init->capabilities = QV_CAP_VECTOR | QV_CAP_IMAGESAVER;
  init->version = 1;
  init->revision = 0;
  init->name = "Vector stand-in";
  init->moduleName = "vecstub";
  return 1;
}
QV_PLUGIN_EXPORT void ClosePlugin() { PluginLog("vecstub", "ClosePlugin"); }

QV_PLUGIN_EXPORT int32_t GetPathExtents() { return 0; }
QV_PLUGIN_EXPORT int32_t DrawPath() { return 0; }
QV_PLUGIN_EXPORT int32_t TranslatePath() { return 0; }
QV_PLUGIN_EXPORT int32_t GetCurrentPoint() { return 0; }
QV_PLUGIN_EXPORT void* CreateVectorFont() { return nullptr; }
QV_PLUGIN_EXPORT void FreeVectorFont() {}
QV_PLUGIN_EXPORT void* OpenFont() { return nullptr; }
QV_PLUGIN_EXPORT void CloseFont() {}

QV_PLUGIN_EXPORT void RegisterImageSaver(qvSaverRecord* record) {
  record->format = 78;
  record->name = "qvargb";
  record->flags = QV_SAVE_ARGB | QV_SAVE_CANALPHA;
}
QV_PLUGIN_EXPORT int32_t SaveImage(const qvImageSave* picture) {
  if (picture->palette != nullptr) return 0;
  FILE* f = std::fopen(picture->file, "wb");
  if (f == nullptr) return 0;
  std::fwrite("QVIA", 1, 4, f);
  const uint32_t head[4] = {uint32_t(picture->width), uint32_t(picture->height), picture->flags,
                            uint32_t(picture->quality)};
  std::fwrite(head, 4, 4, f);
  const auto* rows = static_cast<const uint8_t*>(picture->pixels);
  for (int32_t y = 0; y < picture->height; ++y) {
    std::fwrite(rows + size_t(y) * size_t(picture->bytesPerRow), 4, size_t(picture->width), f);
  }
  return std::fclose(f) == 0 ? 1 : 0;
}
