#include "core/errors.h"

#include <cstdio>
#include <cstring>
#include <span>

#include "base/support.h"
#include "core/error_table.h"
#include "core/player_state.h"
#include "core/registry.h"
#include "core/runtime_buffers.h"
#include "core/vfile.h"
#include "platform/platform.h"
#include "vm/auxlib.h"
#include "vm/debug.h"
#include "vm/host.h"
#include "vm/vm.h"

namespace qv {

namespace {

int32_t gExitOnError = 1;
int32_t gTopLevelError;
char gFunctionName[kFunctionNameSize] = "----";

constexpr char kUnknownFunction[] = "----";
constexpr char kNoScriptName[] = "---";
// The requester text: a message of kErrorMessageSize, the script file, the function and words.
constexpr size_t kRequesterTextSize = kErrorMessageSize + kPathSize + kFunctionNameSize + 128;

void CopyText(char* dest, size_t size, const char* text) {
  size_t n = std::strlen(text);
  if (n >= size) n = size - 1;
  std::memcpy(dest, text, n);
  dest[n] = '\0';
}

bool NameUnknown() { return std::strcmp(gFunctionName, kUnknownFunction) == 0; }

// The source of the running chunk's function, kept in the runtime's current-source buffer.
const char* CurrentSource() {
  const char* source = CurrentSourceBuffer();
  return source != nullptr ? source : "?";
}

// The script that error reports name; the core's own record, so that a report needs nothing
// from the machine but the current line.
struct ReportScript {
  bool known = false;
  bool applet = false;  // an applet's chunk runs: its line maps name the files
  char name[kPathSize] = {};
  int32_t beginLine = 0;
} gScript;

bool AppletRunning() { return gScript.known && gScript.applet; }

std::span<const qvLineMap> LineMaps(qvScriptState* L) {
  const qvAppletSettings* settings = GetAppletSettings(L);
  if (settings == nullptr) return {};
  return settings->lineMaps;
}

int32_t Quiet() {
  intptr_t quiet = 0;
  const qvAttrGetItem items[] = {{kAttrQuiet, &quiet}, {0, nullptr}};
  GetRuntimeAttrs(nullptr, items);
  return static_cast<int32_t>(quiet);
}

// A built-in or catalog text; never null.
const char* Text(int32_t id) {
  const char* text = GetErrorText(id);
  return text != nullptr ? text : "";
}

}  // namespace

int32_t GetExitOnError() { return gExitOnError; }
void SetExitOnError(int32_t on) { gExitOnError = on; }
int32_t GetTopLevelError() { return gTopLevelError; }

int32_t ChangeExitOnError(qvScriptState* L, bool on) {
  if (!on && VmGetErrorHandlerRef(L) != kNoReference) return ERR_WRONGUSAGE;
  SetExitOnError(on);
  return 0;
}

int32_t SetScriptErrorHandler(qvScriptState* L, int index) {
  if (!gExitOnError) return ERR_WRONGUSAGE;
  index = VmAbsIndex(L, index);
  ReleaseScriptErrorHandler(L);
  if (VmType(L, index) == kTypeFunction) {
    VmPushValue(L, index);
    VmSetErrorHandlerRef(L, VmRef(L, kRegistryIndex));
  }
  return 0;
}

void ReleaseScriptErrorHandler(qvScriptState* L) {
  VmUnref(L, kRegistryIndex, VmGetErrorHandlerRef(L));
  VmSetErrorHandlerRef(L, kNoReference);
}

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
  qvDebugRecord ar;
  bool sourceTaken = false;
  for (int level = 0; VmGetStack(L, level, &ar); ++level) {
    VmGetInfo(L, "Sn", &ar);
    // The innermost level that runs a real source file names the current source.
    char* current = CurrentSourceBuffer();
    if (!sourceTaken && current != nullptr && ar.source != nullptr && ar.source[0] != '=' &&
        ar.source[0] != '?') {
      CopyText(current, kRuntimeBufferSize, ar.source);
      sourceTaken = true;
    }
    if (!NameUnknown()) continue;
    const bool native = std::strcmp(ar.what, "C") == 0;
    if (ar.namewhat[0] == '\0') {
      if (!native) CopyText(gFunctionName, sizeof gFunctionName, "<<unnamed>>");
    } else if (native) {
      // A command shows the spelling it was registered with, whatever the call wrote.
      const char* command = FindCommand(ar.name);
      CopyText(gFunctionName, sizeof gFunctionName, command != nullptr ? command : "?");
    } else {
      CopyText(gFunctionName, sizeof gFunctionName, ar.name != nullptr ? ar.name : "anonymous");
    }
  }
  VmFillErrorLine(L);
}

const char* GetCurrentFunctionName() { return gFunctionName; }
void SetCurrentFunctionName(const char* name) {
  CopyText(gFunctionName, sizeof gFunctionName, name != nullptr ? name : kUnknownFunction);
}
void ResetErrorFunctionName() { CopyText(gFunctionName, sizeof gFunctionName, kUnknownFunction); }

void SetReportScript(const char* name, int32_t beginLine) {
  gScript.known = true;
  gScript.applet = name == nullptr;
  CopyText(gScript.name, sizeof gScript.name, name != nullptr ? name : "");
  gScript.beginLine = beginLine;
}

void ForgetReportScript() { gScript = ReportScript{}; }

int32_t GetSourceLine(qvScriptState* L) {
  int32_t line = VmGetErrorLine(L);
  if (AppletRunning()) return AppletSourceLine(LineMaps(L), CurrentSource(), line);
  return ScriptSourceLine(LineMaps(L), gScript.name, line, gScript.beginLine);
}

const char* GetErrorScriptName(qvScriptState* L) {
  if (!AppletRunning()) return gScript.known ? gScript.name : kNoScriptName;
  const qvLineMap* map = FindLineMap(LineMaps(L), CurrentSource(), VmGetErrorLine(L));
  return map != nullptr ? map->fileName.c_str() : kNoScriptName;
}

void BuildErrorReport(qvScriptState* L, int32_t code, char* out, size_t size, const char** fileName,
                      int32_t* line) {
  FormatErrorText(code, out, size);
  bool running = L != nullptr && IsScriptRunning();
  if (fileName != nullptr) *fileName = running ? GetErrorScriptName(L) : nullptr;
  if (line != nullptr) *line = running ? GetSourceLine(L) : 0;
}

size_t FormatErrorRequesterText(qvScriptState* L, const char* message, bool plain, char* out,
                                size_t size) {
  if (size == 0) return 0;
  int n;
  if (plain || L == nullptr || !IsScriptRunning()) {
    n = std::snprintf(out, size, "%s", message);
  } else if (!NameUnknown()) {
    n = std::snprintf(out, size, "%s\n%s: %s (%s: %d - %s: %s)", message, Text(kTextFile),
                      GetDisplayName(GetErrorScriptName(L)), Text(kTextCurrentLine),
                      static_cast<int>(GetSourceLine(L)), Text(kTextInFunction), gFunctionName);
  } else {
    n = std::snprintf(out, size, "%s\n%s: %s (%s: %d)", message, Text(kTextFile),
                      GetDisplayName(GetErrorScriptName(L)), Text(kTextCurrentLine),
                      static_cast<int>(GetSourceLine(L)));
  }
  if (n < 0) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

void ShowErrorText(qvScriptState* L, const char* message, bool plain, int /*style*/) {
  char text[kRequesterTextSize + 2];
  size_t n = FormatErrorRequesterText(L, message, plain, text, kRequesterTextSize);
  // No display can show a requester yet: the message goes where a console user sees it.
  text[n] = '\n';
  text[n + 1] = '\0';
  WriteErrorText(text);
}

size_t FormatDebugDeviceError(const char* fileName, int32_t line, const char* message, char* out,
                              size_t size) {
  if (size == 0) return 0;
  int n = fileName != nullptr ? std::snprintf(out, size, "@_qverror%d:%s*%s\n",
                                              static_cast<int>(line), fileName, message)
                              : std::snprintf(out, size, "@_qverror0:\"\"*%s\n", message);
  if (n < 0) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

void PrintStatusMessage(const char* format, const char* name, bool ellipsis) {
  if (Quiet()) return;
  char text[kErrorMessageSize];
  size_t n;
  if (name != nullptr) {
    n = FormatTextArgument(format, GetDisplayName(name), text, sizeof text - 3);
  } else {
    CopyText(text, sizeof text - 3, format);
    n = std::strlen(text);
  }
  if (ellipsis) std::memcpy(text + n, "...", 4);
  OutputText(text);
}

void PrintDoneMessage() {
  if (Quiet()) return;
  char text[kErrorMessageSize];
  std::snprintf(text, sizeof text, "%s\n", Text(kTextDone));
  OutputText(text);
}

const qvVmHost* CoreVmHost() {
  static const qvVmHost host = {
      .raiseError = RaiseError,
      .noteErrorFunction = GetErrorFunctionName,
      .errorFunctionName = GetCurrentFunctionName,
      .forgetErrorFunction = ResetErrorFunctionName,
      .formatMessage = FormatErrorText,
      .outputText = OutputText,
      .populatePages = PopulatePages,
      .largeBlocks = {.map = MapBlock, .remap = ResizeMappedBlock, .unmap = UnmapBlock},
  };
  return &host;
}

void PrintFailedMessage() {
  if (Quiet()) return;
  char text[kErrorMessageSize];
  std::snprintf(text, sizeof text, "%s\n", Text(kTextFailed));
  OutputText(text);
}

}  // namespace qv
