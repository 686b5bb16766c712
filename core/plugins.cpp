#include "core/plugins.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/support.h"
#include "core/error_table.h"
#include "core/errors.h"
#include "core/vfile.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

// A library plugin's registration: the rows the machine and the library list read, alive until
// the plugin is unloaded.
struct qvPluginLibrary {
  qvLibrary library;
  std::string name;
  std::vector<qvLibraryRow> rows;
};

namespace {

constexpr uint32_t kHostVersion = QV_PLUGIN_VERSION;
constexpr uint32_t kHostRevision = QV_PLUGIN_REVISION;
constexpr size_t kPluginPathSize = 1024;

void* gServices[QV_SLOT_COUNT];
void (*gFiller)(void* services[QV_SLOT_COUNT]) = nullptr;
bool gServicesFilled = false;
// Group pointers in the order of the interface: runtime, attributes, files, pictures, samples,
// requesters, font files, FreeType, the machine, embedded fonts.
const qvPluginApi gApi = {
    kHostVersion,
    kHostRevision,
    {gServices + QV_SLOT_MALLOC, gServices + QV_SLOT_APIGETPLAYERATTRS,
     gServices + QV_SLOT_OPENFILEQ, gServices + QV_SLOT_APIGETPICTUREINFO,
     gServices + QV_SLOT_APIGETSAMPLEDATA, gServices + QV_SLOT_APISYSTEMREQUEST,
     gServices + QV_SLOT_FINDFONTFILEENTRY, gServices + QV_SLOT_FT_INIT_FREETYPE,
     gServices + QV_SLOT_VMGETTOP, gServices + QV_SLOT_FONT_VERASANS},
    {1, 1}};

qvPluginRecord* gHead = nullptr;
qvPluginRecord* gTail = nullptr;
const qvPluginInfo* gVectorPlugin = nullptr;
bool gDemandLoaded = false;  // a demand has printed its line break

// Every entry point by capability, in the order the bits are checked.
struct EntryRow {
  uint32_t bit;
  const char* name;
  size_t offset;
};
#define QV_ENTRY(bit, name, member) \
  { bit, name, offsetof(qvPluginInfo, member) }
#define QV_ENTRY_AT(bit, name, array, i) \
  { bit, name, offsetof(qvPluginInfo, array) + (i) * sizeof(void*) }
const EntryRow kEntries[] = {
    QV_ENTRY_AT(QV_CAP_VECTOR, "GetPathExtents", vector, 0),
    QV_ENTRY_AT(QV_CAP_VECTOR, "DrawPath", vector, 1),
    QV_ENTRY_AT(QV_CAP_VECTOR, "TranslatePath", vector, 2),
    QV_ENTRY_AT(QV_CAP_VECTOR, "GetCurrentPoint", vector, 3),
    QV_ENTRY_AT(QV_CAP_VECTOR, "CreateVectorFont", vector, 4),
    QV_ENTRY_AT(QV_CAP_VECTOR, "FreeVectorFont", vector, 5),
    QV_ENTRY_AT(QV_CAP_VECTOR, "OpenFont", vector, 6),
    QV_ENTRY_AT(QV_CAP_VECTOR, "CloseFont", vector, 7),
    QV_ENTRY_AT(QV_CAP_VIDEO, "OpenVideo", video, 0),
    QV_ENTRY_AT(QV_CAP_VIDEO, "CloseVideo", video, 1),
    QV_ENTRY_AT(QV_CAP_VIDEO, "NextPacket", video, 2),
    QV_ENTRY_AT(QV_CAP_VIDEO, "FreePacket", video, 3),
    QV_ENTRY_AT(QV_CAP_VIDEO, "DecodeVideoFrame", video, 4),
    QV_ENTRY_AT(QV_CAP_VIDEO, "DecodeAudioFrame", video, 5),
    QV_ENTRY_AT(QV_CAP_VIDEO, "SeekVideo", video, 6),
    QV_ENTRY_AT(QV_CAP_VIDEO, "FlushAudio", video, 7),
    QV_ENTRY_AT(QV_CAP_VIDEO, "FlushVideo", video, 8),
    QV_ENTRY_AT(QV_CAP_VIDEO, "GetVideoFrames", video, 9),
    QV_ENTRY_AT(QV_CAP_VIDEO, "GetVideoFormat", video, 10),
    QV_ENTRY(QV_CAP_LIBRARY, "GetBaseTable", getBaseTable),
    QV_ENTRY(QV_CAP_LIBRARY, "GetCommands", getCommands),
    QV_ENTRY(QV_CAP_LIBRARY, "GetConstants", getConstants),
    QV_ENTRY(QV_CAP_LIBRARY, "InitLibrary", initLibrary),
    QV_ENTRY(QV_CAP_LIBRARY, "FreeLibrary", freeLibrary),
    QV_ENTRY_AT(QV_CAP_SCRIPT, "GetScript", script, 0),
    QV_ENTRY_AT(QV_CAP_SCRIPT, "FreeScript", script, 1),
    QV_ENTRY(QV_CAP_IMAGE, "IsImage", isImage),
    QV_ENTRY(QV_CAP_IMAGE, "LoadImage", loadImage),
    QV_ENTRY(QV_CAP_IMAGE, "GetImage", getImage),
    QV_ENTRY(QV_CAP_IMAGE, "FreeImage", freeImage),
    QV_ENTRY(QV_CAP_IMAGE, "TransformImage", transformImage),
    QV_ENTRY_AT(QV_CAP_ANIM, "OpenAnim", anim, 0),
    QV_ENTRY_AT(QV_CAP_ANIM, "LoadFrame", anim, 1),
    QV_ENTRY_AT(QV_CAP_ANIM, "FreeFrame", anim, 2),
    QV_ENTRY_AT(QV_CAP_ANIM, "GetFrameDelay", anim, 3),
    QV_ENTRY_AT(QV_CAP_ANIM, "CloseAnim", anim, 4),
    QV_ENTRY(QV_CAP_SOUND, "OpenStream", openStream),
    QV_ENTRY(QV_CAP_SOUND, "CloseStream", closeStream),
    QV_ENTRY(QV_CAP_SOUND, "SeekStream", seekStream),
    QV_ENTRY(QV_CAP_SOUND, "StreamSamples", streamSamples),
    QV_ENTRY(QV_CAP_SOUND, "GetFormatName", getFormatName),
    QV_ENTRY(QV_CAP_IMAGESAVER, "RegisterImageSaver", registerImageSaver),
    QV_ENTRY(QV_CAP_IMAGESAVER, "SaveImage", saveImage),
    QV_ENTRY_AT(QV_CAP_ANIMSAVER, "RegisterAnimSaver", animSaver, 0),
    QV_ENTRY_AT(QV_CAP_ANIMSAVER, "BeginAnimStream", animSaver, 1),
    QV_ENTRY_AT(QV_CAP_ANIMSAVER, "WriteAnimFrame", animSaver, 2),
    QV_ENTRY_AT(QV_CAP_ANIMSAVER, "FinishAnimStream", animSaver, 3),
    QV_ENTRY(QV_CAP_SAMPLESAVER, "RegisterSampleSaver", registerSampleSaver),
    QV_ENTRY(QV_CAP_SAMPLESAVER, "SaveSample", saveSample),
};
#undef QV_ENTRY
#undef QV_ENTRY_AT
constexpr uint32_t kKnownCapabilities = 0x3FF;

bool EndsWithQvp(const char* name) {
  size_t n = std::strlen(name);
  return n >= 4 && StrCaseCmp(name + n - 4, ".qvp") == 0;
}

// The name without a ".qvp" ending.
std::string StripQvp(const char* name) {
  std::string s = name;
  if (EndsWithQvp(name)) s.resize(s.size() - 4);
  return s;
}

int32_t LoadFailed(const char* path) {
  SetErrorString(GetDisplayName(path));
  return ERR_LOADPLUGIN;
}

void PrintReason(int32_t code) {
  char message[kErrorStringSize];
  FormatErrorText(code, message, sizeof message);
  char line[kErrorStringSize + 32];
  FormatTextArgument(GetErrorText(kTextPluginReason), message, line, sizeof line);
  PrintStatusMessage(line, nullptr, false);
}

qvPluginRecord* NewRecord(const char* name, const char* path) {
  auto* r = static_cast<qvPluginRecord*>(std::calloc(1, sizeof(qvPluginRecord)));
  if (r == nullptr) return nullptr;
  std::snprintf(r->name, sizeof r->name, "%s", name);
  std::snprintf(r->path, sizeof r->path, "%s", path);
  return r;
}

void AppendRecord(qvPluginRecord* r) {
  if (gTail != nullptr) {
    gTail->next = r;
  } else {
    gHead = r;
  }
  gTail = r;
}

// Registers a library plugin's commands and constants, then runs its InitLibrary.
int32_t RegisterCommands(qvScriptState* L, qvPluginHandle* handle) {
  const qvPluginInfo* info = handle->info;
  const char* base = info->getBaseTable();
  const qvPluginCommand* commands = info->getCommands();
  const qvPluginConstant* constants = info->getConstants();
  if (commands != nullptr && handle->commands == nullptr) {
    auto* lib = new (std::nothrow) qvPluginLibrary{};
    if (lib == nullptr) return ERR_MEM;
    try {
      for (const qvPluginCommand* c = commands; c->name != nullptr; ++c) {
        // The plugin's handler takes the machine's state under the interface's opaque name.
        lib->rows.push_back({c->name, reinterpret_cast<qvCFunction>(c->handler)});
      }
      lib->rows.push_back({nullptr, nullptr});
      if (base != nullptr) {
        char lower[kNameBufferSize];
        std::snprintf(lower, sizeof lower, "%s", base);
        lib->name = LowerCaseString(lower);
      }
    } catch (const std::bad_alloc&) {
      delete lib;
      return ERR_MEM;
    }
    lib->library = {base != nullptr ? lib->name.c_str() : "plugin", lib->rows.data(), nullptr,
                    nullptr};
    handle->commands = lib;
    int top = VmGetTop(L);
    if (base != nullptr) {
      VmRegisterLibrary(L, lib->name.c_str(), lib->rows.data(), 0);
    } else {
      VmPushValue(L, kGlobalsIndex);
      VmRegisterLibrary(L, nullptr, lib->rows.data(), 0);
    }
    VmSetTop(L, top);
    int32_t code = AppendLibrary(lib->library);
    if (code != 0) return code;
  }
  if (constants != nullptr) {
    static_assert(sizeof(qvPluginConstant) == sizeof(qvConstantRow));
    VmRegisterConstants(L, reinterpret_cast<const qvConstantRow*>(constants), 0);
  }
  return info->initLibrary(reinterpret_cast<qvPluginState*>(L));
}

void RegisterFormatConstant(qvScriptState* L, const char* pattern, const qvSaverRecord& saver) {
  char name[kNameBufferSize];
  std::snprintf(name, sizeof name, pattern, saver.name != nullptr ? saver.name : "");
  const qvConstantRow rows[] = {{name, nullptr, static_cast<double>(saver.format)},
                                {nullptr, nullptr, 0}};
  VmRegisterConstants(L, rows, 0);
}

void FreeRecordHandle(qvPluginRecord* r) {
  UnloadPlugin(r->handle);
  r->handle = nullptr;
  r->capabilities = 0;
}

}  // namespace

const qvPluginApi* PluginHostApi() {
  if (!gServicesFilled && gFiller != nullptr) {
    gFiller(gServices);
    gServicesFilled = true;
  }
  return &gApi;
}

void SetPluginServiceFiller(void (*fill)(void* services[QV_SLOT_COUNT])) {
  gFiller = fill;
  gServicesFilled = false;
}

int32_t LoadPlugin(const char* path, qvPluginHandle** out) {
  auto* handle = static_cast<qvPluginHandle*>(std::calloc(1, sizeof(qvPluginHandle)));
  if (handle == nullptr) return ERR_MEM;
  handle->library = OpenDynamicLibrary(path);
  if (handle->library == nullptr) {
    std::free(handle);
    return LoadFailed(path);
  }
  auto* info = static_cast<qvPluginInfo*>(std::calloc(1, sizeof(qvPluginInfo)));
  handle->info = info;
  int32_t code = 0;
  bool initialised = false;
  char full[kPluginPathSize];
  if (info == nullptr) {
    code = ERR_MEM;
  } else {
    info->initPlugin = reinterpret_cast<decltype(info->initPlugin)>(
        FindLibrarySymbol(handle->library, "InitPlugin"));
    info->closePlugin = reinterpret_cast<decltype(info->closePlugin)>(
        FindLibrarySymbol(handle->library, "ClosePlugin"));
    if (info->initPlugin == nullptr || info->closePlugin == nullptr ||
        !GetFullPath(path, full, sizeof full)) {
      code = LoadFailed(path);
    }
  }
  qvPluginInit init{};
  if (code == 0) {
    init.requiredVersion = kHostVersion;
    init.requiredRevision = kHostRevision;
    if (info->initPlugin(&init, PluginHostApi(), full) == 0) {
      code = LoadFailed(path);
    } else {
      initialised = true;
    }
  }
  if (code == 0) {
    std::string module = StripQvp(GetFilePart(full));
    if (init.moduleName == nullptr || StrCaseCmp(init.moduleName, module.c_str()) != 0) {
      code = LoadFailed(path);
    }
  }
  if (code == 0) {
    handle->capabilities = init.capabilities;
    if (init.requiredVersion > kHostVersion ||
        (init.requiredVersion == kHostVersion && init.requiredRevision > kHostRevision)) {
      char text[32];
      std::snprintf(text, sizeof text, "%u.%u", init.requiredVersion, init.requiredRevision);
      SetErrorString(text);
      code = ERR_NEWQVPLUGIN;
    }
  }
  if (code == 0) {
    info->init = init;
    for (const EntryRow& row : kEntries) {
      if ((init.capabilities & row.bit) == 0) continue;
      void* entry = FindLibrarySymbol(handle->library, row.name);
      if (entry == nullptr) {
        code = LoadFailed(path);
        break;
      }
      std::memcpy(reinterpret_cast<char*>(info) + row.offset, &entry, sizeof entry);
    }
  }
  if (code == 0 && (init.capabilities & kKnownCapabilities) == 0) {
    char text[32];
    std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(init.capabilities));
    SetErrorString(text);
    code = ERR_PLUGINTYPE;
  }
  if (code != 0) {
    if (initialised) info->closePlugin();
    CloseDynamicLibrary(handle->library);
    std::free(info);
    std::free(handle);
    return code;
  }
  *out = handle;
  return 0;
}

void UnloadPlugin(qvPluginHandle* handle) {
  if (handle == nullptr) return;
  handle->info->closePlugin();
  CloseDynamicLibrary(handle->library);
  delete handle->commands;
  std::free(handle->info);
  std::free(handle);
}

bool PluginFilterHolds(const std::vector<std::string>& filter, const char* fileName) {
  for (const std::string& entry : filter) {
    if (entry == "*") return true;
    std::string name = entry;
    if (!EndsWithQvp(name.c_str())) name += ".qvp";
    if (StrCaseCmp(name.c_str(), fileName) == 0) return true;
  }
  return false;
}

void ScanPluginDirectory(const std::vector<std::string>& filter, const char* directory) {
  qvDirHandle* dir = OpenDirQ(directory, kFileRead);
  if (dir == nullptr) return;
  if (ExamineDirQ(dir) != 0) {
    CloseDirQ(dir);
    return;
  }
  const char* entry = nullptr;
  FileKind kind = FileKind::kFile;
  while (ReadDirQ(dir, &entry, &kind, nullptr)) {
    if (kind == FileKind::kDirectory || !EndsWithQvp(entry)) continue;
    char path[kPluginPathSize];
    std::snprintf(path, sizeof path, "%s", directory);
    if (!JoinPath(path, sizeof path, entry)) continue;
    if (PluginFilterHolds(filter, entry)) {
      if (qvPluginRecord* r = NewRecord(entry, path)) AppendRecord(r);
      continue;
    }
    bool known = false;
    for (const qvPluginRecord* r = gHead; r != nullptr && !known; r = r->next) {
      known = StrCaseCmp(r->name, entry) == 0;
    }
    if (known) continue;
    PrintStatusMessage(GetErrorText(kTextLoadingPlugin), entry, true);
    qvPluginHandle* handle = nullptr;
    int32_t code = LoadPlugin(path, &handle);
    if (code != 0) {
      PrintFailedMessage();
      PrintReason(code);
      continue;
    }
    qvPluginRecord* r = NewRecord(entry, path);
    if (r == nullptr) {
      UnloadPlugin(handle);
      PrintFailedMessage();
      continue;
    }
    r->capabilities = handle->capabilities;
    r->handle = handle;
    AppendRecord(r);
    PrintDoneMessage();
  }
  CloseDirQ(dir);
}

int32_t RegisterPluginLibrary(qvScriptState* L, qvPluginRecord* record) {
  qvPluginHandle* handle = record->handle;
  if (handle == nullptr) return 0;
  qvPluginInfo* info = handle->info;
  const uint32_t caps = handle->capabilities;
  if ((caps & QV_CAP_VECTOR) && gVectorPlugin == nullptr) gVectorPlugin = info;
  if (caps & QV_CAP_LIBRARY) {
    int32_t code = RegisterCommands(L, handle);
    if (code != 0) return code;
  }
  if (caps & QV_CAP_IMAGESAVER) {
    info->registerImageSaver(&info->imageSaver);
    RegisterFormatConstant(L, "imgfmt_%s", info->imageSaver);
  }
  if (caps & QV_CAP_ANIMSAVER) {
    reinterpret_cast<void (*)(qvSaverRecord*)>(info->animSaver[0])(&info->animSaverRecord);
    RegisterFormatConstant(L, "anmfmt_%s", info->animSaverRecord);
  }
  if (caps & QV_CAP_SAMPLESAVER) {
    info->registerSampleSaver(&info->sampleSaver);
    RegisterFormatConstant(L, "smpfmt_%s", info->sampleSaver);
  }
  return 0;
}

int32_t StartPlugins(qvScriptState* L, const char* programDirectory,
                     const std::vector<std::string>& filter) {
  if (programDirectory != nullptr && programDirectory[0] != '\0') {
    ScanPluginDirectory(filter, programDirectory);
  }
  for (qvPluginRecord* r = gHead; r != nullptr; r = r->next) {
    int32_t code = RegisterPluginLibrary(L, r);
    if (code != 0) return code;
  }
  return 0;
}

int32_t RequirePlugin(qvScriptState* L, const char* name, int32_t version, int32_t revision) {
  const std::string wanted = StripQvp(name != nullptr ? name : "");
  for (qvPluginRecord* r = gHead; r != nullptr; r = r->next) {
    if (r->handle == nullptr && StrCaseCmp(StripQvp(r->name).c_str(), wanted.c_str()) == 0) {
      if (!gDemandLoaded) {
        gDemandLoaded = true;
        PrintStatusMessage("\n", nullptr, false);
      }
      PrintStatusMessage(GetErrorText(kTextLoadingPlugin), r->name, true);
      qvPluginHandle* handle = nullptr;
      int32_t code = LoadPlugin(r->path, &handle);
      if (code == 0) {
        r->handle = handle;
        r->capabilities = handle->capabilities;
        code = RegisterPluginLibrary(L, r);
      }
      if (code != 0) {
        PrintFailedMessage();
        return code;
      }
      PrintDoneMessage();
    }
    if (r->handle == nullptr) continue;
    const qvPluginInit& init = r->handle->info->init;
    if (init.moduleName == nullptr || StrCaseCmp(init.moduleName, wanted.c_str()) != 0) continue;
    // Versions compare as the signed words the applet declares.
    const auto v = static_cast<int32_t>(init.version);
    const auto rev = static_cast<int32_t>(init.revision);
    if (v > version || (v == version && rev >= revision)) return 0;
    break;
  }
  std::string text = wanted + ".qvp";
  if (version != 0 || revision != 0) {
    text += " " + std::to_string(version) + "." + std::to_string(revision);
  }
  SetErrorString(text.c_str());
  return ERR_REQUIREPLUGIN;
}

int ListPlugins(const char* fileName) {
  qvFile* file = OpenFileQ(fileName, kFileWrite);
  if (file == nullptr) return 0;
  bool ok = true;
  auto line = [&](const char* text) {
    const char* t = text != nullptr ? text : "";
    size_t n = std::strlen(t);
    if (WriteStringQ(file, t) != n || WriteByteQ(file, '\n') != '\n') ok = false;
  };
  for (const qvPluginRecord* r = gHead; r != nullptr; r = r->next) {
    if (r->handle == nullptr) continue;
    const qvPluginInfo* info = r->handle->info;
    const qvPluginInit& init = info->init;
    char number[48];
    line("::plugin");
    std::snprintf(number, sizeof number, "%d.%d", static_cast<int32_t>(init.version),
                  static_cast<int32_t>(init.revision));
    line(number);
    std::snprintf(number, sizeof number, "0x%.8x", init.capabilities);
    line(number);
    for (const char* text : {init.name, init.author, init.description, init.copyright, init.url,
                             init.date, init.settings, init.helpFile}) {
      line(text);
    }
    if (r->handle->capabilities & QV_CAP_LIBRARY) {
      const char* base = info->getBaseTable();
      const qvPluginCommand* commands = info->getCommands();
      const qvPluginConstant* constants = info->getConstants();
      line("::commands");
      for (const qvPluginCommand* c = commands; c != nullptr && c->name != nullptr; ++c) {
        std::string text = base != nullptr ? std::string(base) + "." + c->name : c->name;
        line(text.c_str());
      }
      line("::constants");
      for (const qvPluginConstant* c = constants; c != nullptr && c->name != nullptr; ++c) {
        line(c->name);
      }
    }
  }
  line("::end");
  return CloseFileQ(file) && ok ? 1 : 0;
}

void FreePluginLibraries(qvScriptState* L) {
  for (qvPluginRecord* r = gHead; r != nullptr; r = r->next) {
    if (r->handle != nullptr && (r->handle->capabilities & QV_CAP_LIBRARY)) {
      r->handle->info->freeLibrary(reinterpret_cast<qvPluginState*>(L));
    }
  }
}

void FreePlugins() {
  while (gHead != nullptr) {
    qvPluginRecord* r = gHead;
    gHead = r->next;
    FreeRecordHandle(r);
    std::free(r);
  }
  gTail = nullptr;
  gVectorPlugin = nullptr;
  gDemandLoaded = false;
}

qvPluginRecord* FirstPluginRecord() { return gHead; }

const qvPluginInfo* VectorGraphicsPlugin() { return gVectorPlugin; }

const qvPluginInfo* FindSaverPlugin(uint32_t capability, uint32_t format) {
  for (const qvPluginRecord* r = gHead; r != nullptr; r = r->next) {
    if (r->handle == nullptr || (r->handle->capabilities & capability) == 0) continue;
    const qvPluginInfo* info = r->handle->info;
    const qvSaverRecord& saver = capability == QV_CAP_IMAGESAVER  ? info->imageSaver
                                 : capability == QV_CAP_ANIMSAVER ? info->animSaverRecord
                                                                  : info->sampleSaver;
    if (saver.format == format) return info;
  }
  return nullptr;
}

bool GetImageInfoViaPlugins(const char* file, qvImageFacts* facts) {
  for (const qvPluginRecord* r = gHead; r != nullptr; r = r->next) {
    if (r->handle == nullptr || (r->handle->capabilities & QV_CAP_IMAGE) == 0) continue;
    *facts = {};
    if (r->handle->info->isImage(file, facts) != 0) return true;
  }
  return false;
}

std::vector<std::string> LoadedPluginNames() {
  std::vector<std::string> names;
  for (const qvPluginRecord* r = gHead; r != nullptr; r = r->next) {
    if (r->handle == nullptr) continue;
    const char* name = r->handle->info->init.name;
    names.emplace_back(name != nullptr ? name : r->name);
  }
  return names;
}

}  // namespace qv
