// libFuzzer target: the locale catalog reader on arbitrary bytes, with lookups of the ids the
// input names and of the first few ids.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/catalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qv::qvCatalog* catalog = qv::ParseCatalog(data, size);
  if (!catalog) return 0;
  size_t sum = 0;
  for (int32_t id = -1; id < 64; ++id) {
    sum += std::strlen(qv::LookupCatalogString(catalog, id, ""));
  }
  for (size_t i = 0; i + 4 <= size && i < 4096; i += 4) {
    int32_t id = int32_t(uint32_t(data[i]) << 24 | uint32_t(data[i + 1]) << 16 |
                         uint32_t(data[i + 2]) << 8 | data[i + 3]);
    sum += std::strlen(qv::LookupCatalogString(catalog, id, ""));
  }
  qv::FreeWithBuffer(catalog);
  return sum == size_t(-1);
}
