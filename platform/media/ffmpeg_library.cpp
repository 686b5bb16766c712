// FFmpeg's libraries by their versioned names, the ones the headers were compiled against.
#include "platform/media/ffmpeg_library.h"

#include <dlfcn.h>

namespace qv {

namespace {

#define QV_SONAME(lib, major) "lib" #lib ".so." AV_STRINGIFY(major)

// Loaded in dependency order; never closed, as the decoders may run until the process ends.
bool LoadInto(qvFfmpeg* f) {
  static const char* const kLibraries[] = {QV_SONAME(avutil, LIBAVUTIL_VERSION_MAJOR),
                                           QV_SONAME(swresample, LIBSWRESAMPLE_VERSION_MAJOR),
                                           QV_SONAME(avcodec, LIBAVCODEC_VERSION_MAJOR),
                                           QV_SONAME(avformat, LIBAVFORMAT_VERSION_MAJOR)};
  void* handles[4];
  int i = 0;
  for (const char* name : kLibraries) {
    handles[i] = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (handles[i] == nullptr) return false;
    ++i;
  }
  // Each function from whichever library defines it.
  auto find = [&](const char* name) -> void* {
    for (void* h : handles)
      if (void* p = dlsym(h, name)) return p;
    return nullptr;
  };
  bool all = true;
#define QV_FFMPEG_FIND(name)                                  \
  f->name = reinterpret_cast<decltype(&::name)>(find(#name)); \
  all = all && f->name != nullptr;
  QV_FFMPEG_FUNCTIONS(QV_FFMPEG_FIND)
#undef QV_FFMPEG_FIND
  return all;
}

#undef QV_SONAME

}  // namespace

const qvFfmpeg* LoadFfmpeg() {
  static qvFfmpeg functions;
  static const bool loaded = LoadInto(&functions);
  return loaded ? &functions : nullptr;
}

}  // namespace qv
