// The entry points of the vector graphics plugin (vectorgfx.qvp). The player loads every plugin
// when it starts; this one opens its geometry engine, beside it, at the first request that needs
// it, so that an applet that draws no path never loads cairo or the window system's libraries.
#include <dlfcn.h>

#include <mutex>
#include <string>

#include "engine.h"
#include "qv_plugin.h"

namespace {

std::once_flag gOnce;
const vgfx::EngineTable* gEngine = nullptr;

// The engine, or null when it cannot be opened (every request then fails as a refused one).
const vgfx::EngineTable* Engine() {
  std::call_once(gOnce, [] {
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&Engine), &self) == 0 || self.dli_fname == nullptr) return;
    std::string path = self.dli_fname;
    size_t slash = path.rfind('/');
    path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
           "vectorgfx-engine.so";
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    auto get = reinterpret_cast<const vgfx::EngineTable* (*)()>(
        dlsym(handle, "VectorGraphicsEngine"));
    if (get != nullptr) gEngine = get();
  });
  return gEngine;
}

}  // namespace

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

// Fonts exist only once the engine is open; closing opens nothing.
QV_PLUGIN_EXPORT void ClosePlugin() {
  if (gEngine != nullptr) gEngine->freeAllFonts();
}

QV_PLUGIN_EXPORT int32_t GetPathExtents(qvPathExtentsRequest* request) {
  const vgfx::EngineTable* e = Engine();
  return e != nullptr ? e->pathExtents(request) : 0;
}
QV_PLUGIN_EXPORT int32_t DrawPath(qvDrawPathRequest* request) {
  const vgfx::EngineTable* e = Engine();
  return e != nullptr ? e->drawPathCoverage(request) : 0;
}
QV_PLUGIN_EXPORT int32_t TranslatePath(qvTranslatePathRequest* request) {
  const vgfx::EngineTable* e = Engine();
  return e != nullptr ? e->translateStream(request) : 0;
}
QV_PLUGIN_EXPORT int32_t GetCurrentPoint(qvCurrentPointRequest* request) {
  const vgfx::EngineTable* e = Engine();
  return e != nullptr ? e->currentPoint(request) : 0;
}
QV_PLUGIN_EXPORT int32_t CreateVectorFont(const qvVectorFontFace* face) {
  const vgfx::EngineTable* e = Engine();
  return e != nullptr ? e->createFont(face) : 0;
}
QV_PLUGIN_EXPORT void FreeVectorFont(int32_t font) {
  if (gEngine != nullptr) gEngine->freeFont(font);
}
QV_PLUGIN_EXPORT int32_t OpenFont() { return 0; }
QV_PLUGIN_EXPORT int32_t CloseFont() { return 0; }
