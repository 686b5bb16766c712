#include "base/errors.h"

#include <cstring>

namespace qv {

namespace {

char gErrorString[kErrorStringSize];
int32_t gErrorNumber;

}  // namespace

void SetErrorString(const char* text) {
  if (text == nullptr) text = "";
  size_t n = std::strlen(text);
  if (n >= sizeof gErrorString) n = sizeof gErrorString - 1;
  std::memcpy(gErrorString, text, n);
  gErrorString[n] = '\0';
}
void SetErrorNumber(int32_t n) { gErrorNumber = n; }
const char* GetErrorString() { return gErrorString; }
int32_t GetErrorNumber() { return gErrorNumber; }

}  // namespace qv
