#include "core/errors.h"

#include <cstring>

#include "core/error_table.h"
#include "vm/debug.h"
#include "vm/vm.h"

namespace qv {

namespace {
char gErrorString[512];
int32_t gErrorNumber;
int32_t gExitOnError = 1;
int32_t gTopLevelError;
char gFunctionName[256] = "----";

void CopyText(char* dest, size_t size, const char* text) {
  size_t n = std::strlen(text);
  if (n >= size) n = size - 1;
  std::memcpy(dest, text, n);
  dest[n] = '\0';
}

bool NameUnknown() { return std::strcmp(gFunctionName, "----") == 0; }
}  // namespace

void SetErrorString(const char* text) { CopyText(gErrorString, sizeof gErrorString, text != nullptr ? text : ""); }
void SetErrorNumber(int32_t n) { gErrorNumber = n; }
const char* GetErrorString() { return gErrorString; }
int32_t GetErrorNumber() { return gErrorNumber; }

int32_t GetExitOnError() { return gExitOnError; }
void SetExitOnError(int32_t on) { gExitOnError = on; }
int32_t GetTopLevelError() { return gTopLevelError; }

int32_t RaiseError(qvScriptState* L, int32_t code) {
  VmSetLastError(L, code);
  if (gExitOnError) {
    GetErrorFunctionName(L);
    if (VmGetHandlerSuppression(L) == 0) gTopLevelError = 1;
    VmThrow(L, code);
  }
  if (VmGetHandlerSuppression(L) == 0) {
    ResetErrorFunctionName();
    VmSetErrorLine(L, -1);
  }
  return 0;
}

void GetErrorFunctionName(qvScriptState* L) {
  qvLevelInfo info;
  for (int level = 0; VmDescribeLevel(L, level, &info); ++level) {
    if (!NameUnknown()) break;
    if (info.namewhat[0] == '\0') {
      if (!info.native) CopyText(gFunctionName, sizeof gFunctionName, "<<unnamed>>");
    } else if (info.native) {
      CopyText(gFunctionName, sizeof gFunctionName, info.name != nullptr ? info.name : "?");
    } else {
      CopyText(gFunctionName, sizeof gFunctionName, info.name != nullptr ? info.name : "anonymous");
    }
  }
  if (VmGetErrorLine(L) == -1 && VmDescribeLevel(L, 1, &info)) VmSetErrorLine(L, info.currentline);
}

const char* GetCurrentFunctionName() { return gFunctionName; }
void ResetErrorFunctionName() { CopyText(gFunctionName, sizeof gFunctionName, "----"); }

void FormatErrorMessage(int32_t code, char* out, size_t size) { FormatErrorText(code, out, size); }

}  // namespace qv
