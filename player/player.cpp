#include "player/player.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "core/applet.h"
#include "core/catalog.h"
#include "core/error_table.h"
#include "core/errors.h"
#include "core/events.h"
#include "core/options.h"
#include "core/plugins.h"
#include "core/preload.h"
#include "core/registry.h"
#include "core/runtime_buffers.h"
#include "core/vfile.h"
#include "display/display.h"
#include "libs/libraries.h"
#include "platform/platform.h"
#include "player/plugin_host.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

constexpr int kPlayerVersion = 5;
constexpr int kPlayerRevision = 2;
constexpr int32_t kDefaultSoundValue = 30;
constexpr uint32_t kDefaultExeTypes = 128;  // WIN32
constexpr int kErrorRequesterStyle = 2;

// Runtime attributes that the sound library answers once it exists.
constexpr uint32_t kAttrNoSound = 3;
constexpr uint32_t kAttrSoundValue = 4;

// The files that MakeTempFileName named; shutdown deletes them.
std::mutex gTempMutex;
std::vector<std::string> gTempFiles;

void SetAttr(uint32_t tag, intptr_t value) {
  const qvAttrSetItem items[] = {{tag, value}, {0, 0}};
  SetRuntimeAttrs(nullptr, items);
}

// The player's libraries in the order start-up opens them.
const qvLibrary* const kLibraries[] = {
    &kStringLibrary,     &kMathLibrary,     &kGraphicsLibrary,       &kDrawLibrary,
    &kMoveObjectLibrary, &kDosLibrary,      &kEventLibrary,          &kSystemLibrary,
    &kLayersLibrary,     &kTextLibrary,     &kAnimLibrary,           &kDisplayLibrary,
    &kSoundLibrary,      &kBrushLibrary,    &kBGPicLibrary,          &kTransitionFxLibrary,
    &kSpriteLibrary,     &kMemBlockLibrary, &kVectorGraphicsLibrary, &kNetworkLibrary,
    &kVideoLibrary,
};
static_assert(std::size(kLibraries) == 21, "the player's 21 libraries");

// Hands the applet's labels and user constants to the machine's registry tables.
class RegistryNames : public qvAppletNameSink {
 public:
  explicit RegistryNames(qvScriptState* L) : L_(L) {}
  void SetLabel(const qvAppletLabel& label) override {
    VmPushString(L_, "labels");
    VmRawGet(L_, kRegistryIndex);
    if (VmType(L_, -1) != kTypeTable) {
      VmSetTop(L_, -2);
      VmNewTable(L_);
      VmPushString(L_, "labels");
      VmPushValue(L_, -2);
      VmRawSet(L_, kRegistryIndex);
    }
    // Labels are looked up without regard to case, through names cut like this one.
    char key[kNameBufferSize];
    std::snprintf(key, sizeof key, "%s", label.name.c_str());
    LowerCaseString(key);
    VmPushString(L_, key);
    VmPushNumber(L_, label.value);
    VmRawSet(L_, -3);
    VmSetTop(L_, -2);
  }
  void SetUserConstant(const qvUserConstant& constant) override {
    const qvConstantRow rows[] = {
        {constant.name.c_str(), constant.isString ? constant.text.c_str() : nullptr,
         constant.number},
        {nullptr, nullptr, 0}};
    VmRegisterConstants(L_, rows, 1);
  }

 private:
  qvScriptState* L_;
};

// Hands the main chunk to the loader in one piece.
struct MainChunkReader {
  const std::vector<uint8_t>* chunk;
  bool done = false;
  static const char* Read(qvScriptState*, void* data, size_t* size) {
    auto* r = static_cast<MainChunkReader*>(data);
    if (r->done || r->chunk->empty()) return nullptr;
    r->done = true;
    *size = r->chunk->size();
    return reinterpret_cast<const char*>(r->chunk->data());
  }
};

// A vocabulary list that could not be written is an error like any failed write.
int Exported(int written, const std::string& fileName) {
  if (written) return 0;
  SetErrorString(fileName.c_str());
  return ERR_WRITEFILE;
}

// The runtime's break word is the machine's End flag. The platform calls this on the thread that
// noticed the quit request; the flag belongs to the script thread, which sets it here at its
// next line at the latest (the line hook asks the platform).
void EndScript(void* data) {
  if (IsScriptThread()) {
    VmSetEndFlag(static_cast<qvScriptState*>(data), 1);
  }
}

void BreakCheck(qvScriptState*, qvDebugRecord*, int32_t*) { SyncWindowStates(); }

// The platform marked window states or a quit request: the break check runs at the next line.
void RequestBreakCheck(void* data) { VmRequestHook(static_cast<qvScriptState*>(data)); }

// The road from the applet to the end of the script.
int RunApplet(qvScriptState* L, qvPlayerState* state, qvAppletSettings* settings) {
  qvAppletHost host;
  host.opening = [](const char* name) {
    PrintStatusMessage(GetErrorText(kTextOpeningScript), name, true);
  };
  host.done = [] { PrintDoneMessage(); };
  host.tempFileName = [] { return MakeTempFileName(); };
  int code = OpenApplet(settings, state, host);
  SetReportScript(nullptr, 0);  // an applet chunk: its line maps name the files
  if (code != 0) return code;
  RegistryNames names(L);
  MoveAppletNamesToVm(settings, names);

  code = LoadMainChunk(L, state, settings);
  if (code != 0) return code;
  if (state->compileRequested) return ERR_PLAYERCOMP;
  code = PreloadObjects(L, settings, state);
  FreeImageCache();  // the pictures that declarations shared
  if (code == 0) code = OpenFirstDisplay(L, settings, state, state->quiet != 0);
  if (code != 0) return code;

  SetAttr(kAttrScriptRunning, 1);
  ConnectBreakCheck(L);
  // Display 1 stands open for the input and ports while the script runs.
  OpenInputDisplay();
  SetDisplayHost(InputDisplayHost());
  // The main function that LoadMainChunk left on the stack runs on the script thread.
  return MessageLoop([L] {
    SyncWindowStates();  // a quit requested before the script started
    return VmPCall(L, 0, 0, 0);
  });
}

}  // namespace

void ConnectBreakCheck(qvScriptState* L) {
  if (L == nullptr) {
    SetStatesWatcher(nullptr, nullptr);
    SetBreakHandler(nullptr, nullptr);
    return;
  }
  SetBreakHandler(EndScript, L);
  SetStatesWatcher(RequestBreakCheck, L);
}

std::string MakeTempFileName() {
  char name[kPathSize];
  if (CreateTempName(name, sizeof name) != 0) return {};
  try {
    std::lock_guard<std::mutex> lock(gTempMutex);
    gTempFiles.emplace_back(name);
    return name;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

int InitPlayer(qvScriptState* L, std::optional<uint32_t> linkedOffset, qvAppletSettings* settings,
               qvPlayerState* state, int argc, char** argv) {
  int code = InitPlatform();
  if (code != 0) return code;
  // Real windows where a display (or an SDL video driver) is there, else the headless ones.
  StartWindowSystem();
  // What players killed beyond any clean-up left behind, while start-up goes on.
  StartLeftoverRemoval();

  // The program's directory first: the catalog may lie below it. A missing catalog is no error.
  char dir[kPathSize];
  if (GetProgramPath(dir, sizeof dir)) {
    if (char* slash = std::strrchr(dir, '/')) *slash = '\0';
    SetProgramDir(dir);
  }
  SetPlayerCatalog(OpenCatalogFile("Quillvane.catalog", GetSystemLanguageCode()));

  state->soundValue = kDefaultSoundValue;
  state->exeTypes = kDefaultExeTypes;
  if (linkedOffset) {
    state->appletOffset = *linkedOffset;
    state->linkedApplet = 1;
  }

  qvOptionSlots slots;
  code = ParseArguments(argc, argv, state, &slots);
  if (code == ERR_CONFIG) {
    if (!state->linkedApplet) return ERR_USERABORT;
  } else if (code != 0) {
    return code;
  }
  if (code == ERR_CONFIG || state->linkedApplet) {
    std::memcpy(state->scriptPath, state->programPath, sizeof state->scriptPath);
  }

  code = ReadIniFile(&slots, state);
  if (code == 0) code = ApplyOptions(slots, state, settings);
  if (code != 0) return code;
  if (state->debugDevice) ParseOutputArgument(state->debugDeviceTarget.c_str());

  if (state->linkedApplet) state->quiet = 1;
  SetAttr(kAttrQuiet, state->quiet);
  if (!state->quiet) {
    char banner[128];
    std::snprintf(banner, sizeof banner,
                  "QuillvanePlayer %d.%d [Linux]\n"
                  "Brellcombe Interactive Studios, the Linux edition\n\n",
                  kPlayerVersion, kPlayerRevision);
    OutputText(banner);
  }

  code = AllocRuntimeBuffers();
  if (code != 0) return code;
  code = OpenLibraries(settings, L, state);
  if (code == 0) code = StartPluginManager(L, state);
  if (code != 0) return code;
  SetAttr(kAttrNoSound, state->noSound);
  SetAttr(kAttrSoundValue, state->soundValue);
  return 0;
}

int OpenLibraries(qvAppletSettings* settings, qvScriptState* L, qvPlayerState* state) {
  VmRegistrySetPointer(L, "applet", settings);
  VmRegistrySetPointer(L, "clargs", state);
  // Command handlers find the applet's linked files through the process's player state.
  SetProcessPlayerState(state);
  VmPushString(L, "inclevels");
  VmNewTable(L);
  VmPushString(L, "count");
  VmPushNumber(L, 0);
  VmRawSet(L, -3);
  VmRawSet(L, kRegistryIndex);
  VmPushString(L, "_g");
  VmPushValue(L, kGlobalsIndex);
  VmSetTable(L, kGlobalsIndex);

  for (const qvLibrary* library : kLibraries) {
    int32_t code = OpenLibrary(L, *library);
    if (code != 0) return code;
  }
  return 0;
}

int LoadMainChunk(qvScriptState* L, qvPlayerState*, qvAppletSettings* settings) {
  PrintStatusMessage(GetErrorText(kTextCompilingScript), nullptr, true);
  SetAttr(kAttrScriptRunning, 1);
  MainChunkReader reader{&settings->mainChunk};
  int32_t code = VmLoad(L, MainChunkReader::Read, &reader, nullptr);
  // No script line has run: a failed load names no file and no line.
  SetAttr(kAttrScriptRunning, 0);
  if (code != 0) return code;
  // Only when the platform has something for it (ConnectBreakCheck): nothing else would come of
  // the call.
  VmSetHook(L, BreakCheck, kMaskLine | kMaskOnRequest, 0);
  PrintDoneMessage();
  return 0;
}

int ShutdownPlayer(qvScriptState* L, int32_t code, qvPlayerState* state,
                   qvAppletSettings* settings) {
  ConnectBreakCheck(nullptr);
  state->iconPaths = {};
  SetAttr(kAttrLoaderFlag, 0);
  SetAttr(kAttrQuiet, state->quiet);

  if (L != nullptr) {
    ReleaseScriptErrorHandler(L);
    // Library plugins let go of what they keep in the machine while it is still open.
    FreePluginLibraries(L);
  }
  // Teardowns in shutdown's order: sounds first, the system library before the event library.
  FreeSoundLibrary(L);
  FreeSystemLibrary();
  FreeNetworkLibrary();
  FreeEventLibrary(L);
  if (L != nullptr) {
    FreeDosLibrary(L);
    FreeMemBlockLibrary(L);
  }
  FreeVectorGraphicsLibrary(L);
  CloseInputDisplay(L);
  FreeDisplaySubsystem(L);
  FreeDrawLibrary();
  FreeLayersLibrary();
  FreeTextLibrary(L);
  StopWindowSystem();

  state->userArguments.clear();
  state->exportCommands.clear();
  state->exportConstants.clear();
  state->exportPlugins.clear();
  state->skipPlugins.clear();

  int status = 0;
  if (code >= 1 && code != ERR_USERABORT) {
    const char* fileName = nullptr;
    int32_t line = 0;
    BuildErrorReport(L, code, state->errorMessage, sizeof state->errorMessage, &fileName, &line);
    // A debug device that failed said so on standard error, where its report goes too.
    if (state->debugDevice && !DebugDeviceFailed()) {
      PrintFailedMessage();
      char text[kErrorMessageSize + kPathSize + 32];
      FormatDebugDeviceError(fileName, line, state->errorMessage, text, sizeof text);
      OutputText(text);
    } else {
      ShowErrorText(L, state->errorMessage, false, kErrorRequesterStyle);
    }
    status = 1;
  }

  FreeRuntimeBuffers();
  FreeRegistries();
  FreeDeclaredErrors();
  ForgetReportScript();
  delete settings;
  if (L != nullptr) VmCloseState(L);
  SetProcessVm(nullptr);
  // Closed after the machine, whose closures and finalisers may point into plugin code.
  FreePlugins();
  SetProcessPlayerState(nullptr);
  {
    std::lock_guard<std::mutex> lock(gTempMutex);
    for (const std::string& name : gTempFiles) DeleteFileOrDir(name.c_str());
    gTempFiles.clear();
  }
  delete state;
  FreeWithBuffer(GetPlayerCatalog());
  SetPlayerCatalog(nullptr);
  ShutdownPlatform();
  return status;
}

int PlayerMain(int argc, char** argv) {
  std::optional<uint32_t> linkedOffset = LinkedAppletOffset();
  auto* state = new (std::nothrow) qvPlayerState;
  auto* settings = new (std::nothrow) qvAppletSettings;
  qvScriptState* L = VmOpenState(CoreVmHost());
  if (state == nullptr || settings == nullptr || L == nullptr) {
    if (L != nullptr) VmCloseState(L);
    delete settings;
    delete state;
    std::fputs("Not enough memory.\n", stdout);
    return 1;
  }
  SetProcessVm(L);

  int code = InitPlayer(L, linkedOffset, settings, state, argc, argv);
  if (code == 0) {
    bool exported = false;
    if (!state->exportCommands.empty()) {
      exported = true;
      code = Exported(DumpCommandNames(state->exportCommands.c_str()), state->exportCommands);
    }
    if (code == 0 && !state->exportConstants.empty()) {
      exported = true;
      code = Exported(DumpConstantNames(L, state->exportConstants.c_str()), state->exportConstants);
    }
    if (code == 0 && !state->exportPlugins.empty()) {
      exported = true;
      code = Exported(ListPlugins(state->exportPlugins.c_str()), state->exportPlugins);
    }
    if (!exported) code = RunApplet(L, state, settings);
  }
  return ShutdownPlayer(L, code, state, settings);
}

}  // namespace qv
