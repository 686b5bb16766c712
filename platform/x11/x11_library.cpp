// Xlib and its extensions by their versioned names, loaded once, never closed: the clipboard's
// connection may live until the process ends.
#define QV_XLIB_NO_REDIRECT
#include "platform/x11/x11_library.h"

#include <dlfcn.h>

#include "platform/os/lazy_library.h"

namespace qv {

namespace {

constexpr qvXlib MakeNothingTable() {
  qvXlib table;
#define QV_XLIB_NOTHING(name) table.name = NothingFunction<decltype(&::name)>();
  QV_XLIB_FUNCTIONS(QV_XLIB_NOTHING)
  QV_XFIXES_FUNCTIONS(QV_XLIB_NOTHING)
  QV_XSHAPE_FUNCTIONS(QV_XLIB_NOTHING)
#undef QV_XLIB_NOTHING
  return table;
}

constexpr qvXlib kNothing = MakeNothingTable();
constinit qvLazyTable<qvXlib> gTable(&kNothing);

// Each function from the library that defines it; false when one is missing.
bool LoadInto(qvXlib* table) {
  void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
  if (xlib == nullptr) return false;
  bool all = true;
#define QV_XLIB_FIND(name) all = FindFunction(library, #name, &table->name) && all;
  void* library = xlib;
  QV_XLIB_FUNCTIONS(QV_XLIB_FIND)
#ifdef QV_HAVE_XFIXES
  library = dlopen("libXfixes.so.3", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  QV_XFIXES_FUNCTIONS(QV_XLIB_FIND)
#endif
#ifdef QV_HAVE_XSHAPE
  library = dlopen("libXext.so.6", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  QV_XSHAPE_FUNCTIONS(QV_XLIB_FIND)
#endif
#undef QV_XLIB_FIND
  return all;
}

}  // namespace

bool LoadXlib() { return gTable.Load(LoadInto); }

const qvXlib* XlibFunctions() { return gTable.Get(); }

}  // namespace qv
