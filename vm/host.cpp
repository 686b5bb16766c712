// The machine's default host, for programs that embed it without a player around it.
#include "vm/host.h"

#include <cstdio>

#include "base/errors.h"
#include "vm/vm.h"

namespace qv {

namespace {

int32_t RaiseAlways(qvScriptState* L, int32_t code) {
  VmSetLastError(L, code);
  VmThrow(L, code);
}

void NoteNothing(qvScriptState*) {}
const char* UnknownFunction() { return "----"; }
void ForgetNothing() {}

void FormatPlain(int32_t code, char* out, size_t size) {
  if (size == 0) return;
  const char* arg = GetErrorString();
  std::snprintf(out, size, arg[0] != '\0' ? "Error %d: %s" : "Error %d", static_cast<int>(code),
                arg);
}

void WriteStandardOutput(const char* text) { std::fputs(text, stdout); }

constexpr qvVmHost kDefaultHost = {
    .raiseError = RaiseAlways,
    .noteErrorFunction = NoteNothing,
    .errorFunctionName = UnknownFunction,
    .forgetErrorFunction = ForgetNothing,
    .formatMessage = FormatPlain,
    .outputText = WriteStandardOutput,
    .populatePages = nullptr,
    .largeBlocks = {},
};

}  // namespace

const qvVmHost* VmDefaultHost() { return &kDefaultHost; }

}  // namespace qv
