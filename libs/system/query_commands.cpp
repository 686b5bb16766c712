// The system's queries and services for scripts: version and program information, constants,
// locale catalogs, folders, language and country, memory, the console prompt, opening addresses,
// shortcuts, the registry, the clipboard and the tray icon. Thin bindings over core and the
// platform.
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/catalog.h"
#include "core/dib.h"
#include "core/player_state.h"
#include "core/plugins.h"
#include "core/registry.h"
#include "display/display.h"
#include "libs/system/commands.h"
#include "platform/clipboard.h"
#include "platform/desktop.h"
#include "platform/locale.h"
#include "platform/settings_store.h"
#include "platform/textout.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// The catalog that the script opened (apart from the player's own).
qvCatalog* gScriptCatalog = nullptr;

constexpr int32_t kPrgTypeScript = 0;
constexpr int32_t kPrgTypeApplet = 1;
constexpr int32_t kPrgTypeProgram = 2;
constexpr int32_t kMemoryChip = 0;
constexpr int32_t kMemoryFast = 1;
constexpr size_t kTooltipLimit = 127;
constexpr int kPromptLimit = 16384;

const qvPlayerState* PlayerState(qvScriptState* L) {
  return static_cast<const qvPlayerState*>(VmRegistryGetUserdata(L, "clargs"));
}

// "Software\Quillvane/Count" is the key "Software/Quillvane" and the value "Count".
void SplitRegistryPath(const std::string& path, std::string* key, std::string* name) {
  size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) {
    key->clear();
    *name = path;
  } else {
    *key = path.substr(0, slash);
    *name = path.substr(slash + 1);
  }
}

}  // namespace

void FreeScriptCatalog() {
  FreeWithBuffer(gScriptCatalog);
  gScriptCatalog = nullptr;
  RemoveTrayIcon();
}

namespace cmd {

// GetVersion(): the player's name, versions and dates, the platform and the processor, and the
// loaded plugins' names as a table from index 0.
int32_t GetVersion(qvScriptState* L) {
  CheckArgCount(L, 0, 1);
  VmNewTable(L);
  SetFieldString(L, "application", "QuillvanePlayer");
  SetFieldString(L, "version", "5.2");
  SetFieldString(L, "version_date", "12.11.12");
  SetFieldString(L, "kernel", "5.2");
  SetFieldString(L, "kernel_date", "12.11.12");
  SetFieldInt(L, "beta", 0);
  SetFieldString(L, "platform", "Linux");
  SetFieldString(L, "cpu", GetMachineName().c_str());
  VmPushString(L, "plugins");
  VmNewTable(L);
  int i = 0;
  for (const std::string& name : LoadedPluginNames()) {
    VmPushString(L, name.c_str());
    VmRawSetI(L, -2, i++);
  }
  VmSetTable(L, -3);
  return 1;
}

// GetProgramInfo(): PRGTYPE_PROGRAM and the program's path for an applet inside the program;
// else PRGTYPE_APPLET or PRGTYPE_SCRIPT, the loaded file's path and the program's path.
int32_t GetProgramInfo(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  const qvPlayerState* state = PlayerState(L);
  if (state == nullptr) return ERR_INTERNAL;
  if (state->linkedApplet) {
    VmPushNumber(L, kPrgTypeProgram);
    VmPushString(L, state->programPath);
    return 2;
  }
  VmPushNumber(L, state->appletFlag ? kPrgTypeApplet : kPrgTypeScript);
  VmPushString(L, state->scriptPath);
  VmPushString(L, state->programPath);
  return 3;
}

// GetFileArgument(): the applet file as the command line named it.
int32_t GetFileArgument(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  const qvPlayerState* state = PlayerState(L);
  VmPushString(L, state != nullptr ? state->givenScriptName : "");
  return 1;
}

// GetConstant("#NAME"): the constant's number or text.
int32_t GetConstant(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* text = VmCheckString(L, 1);
  const char* string = nullptr;
  double number = 0;
  int32_t code = LookupConstantValue(L, text, &string, &number, nullptr);
  if (code != 0) return code;
  if (string != nullptr) {
    VmPushString(L, string);
  } else {
    VmPushNumber(L, number);
  }
  return 1;
}

// OpenCatalog(name[, version]): the catalog of the user's language, in place of the one open;
// none stays open when it cannot be read.
int32_t OpenCatalog(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  const char* name = CheckName(L, 1);
  VmOptInt(L, 2, 0);
  FreeWithBuffer(gScriptCatalog);
  gScriptCatalog = OpenCatalogFile(name, GetSystemLanguageCode());
  return 0;
}

// CloseCatalog(): closes the catalog that the script opened.
int32_t CloseCatalog(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  FreeWithBuffer(gScriptCatalog);
  gScriptCatalog = nullptr;
  return 0;
}

// GetCatalogString(id, default): the open catalog's text for the id, else the default.
int32_t GetCatalogString(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  int32_t id = VmCheckInt(L, 1);
  const char* fallback = VmCheckString(L, 2);
  VmPushString(L, LookupCatalogString(gScriptCatalog, id, fallback));
  return 1;
}

// GetSystemInfo([folder]): that folder's path; without one a table of four of them.
int32_t GetSystemInfo(qvScriptState* L) {
  CheckArgCount(L, 0, 1);
  if (VmType(L, 1) > kTypeNil) {
    VmPushString(L, GetSpecialFolder(VmCheckInt(L, 1)).c_str());
    return 1;
  }
  VmNewTable(L);
  SetFieldString(L, "windows", GetSpecialFolder(kFolderSystem).c_str());
  SetFieldString(L, "programfiles", GetSpecialFolder(kFolderPrograms).c_str());
  SetFieldString(L, "appdata", GetSpecialFolder(kFolderAppData).c_str());
  SetFieldString(L, "mydocuments", GetSpecialFolder(kFolderDocuments).c_str());
  return 1;
}

int32_t GetSystemLanguage(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmPushNumber(L, GetSystemLanguageCode());
  return 1;
}

int32_t GetSystemCountry(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmPushNumber(L, GetSystemCountryCode());
  return 1;
}

// GetMemoryInfo(CHIPMEMORY or FASTMEMORY): the free memory in bytes.
int32_t GetMemoryInfo(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t kind = VmCheckInt(L, 1);
  if (kind != kMemoryChip && kind != kMemoryFast) return ERR_WRONGUSAGE;
  VmPushNumber(L, static_cast<double>(GetAvailableMemory()));
  return 1;
}

// DebugPrompt(prompt): prints the prompt, then reads one line of standard input ("" at its end)
// without its line end.
int32_t DebugPrompt(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* prompt = VmCheckString(L, 1);
  if (*prompt != '\0') OutputText(prompt);
  std::string line(kPromptLimit + 1, '\0');
  if (!ReadConsoleLine(line.data(), kPromptLimit + 1)) line[0] = '\0';
  line.resize(std::char_traits<char>::length(line.c_str()));
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  VmPushString(L, line.c_str());
  return 1;
}

// OpenURL(address): the desktop's program for it opens it.
int32_t OpenURL(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return OpenUrlShell(VmCheckString(L, 1));
}

// CreateShortcut(file, target, directory): a shortcut file starting the target there.
int32_t CreateShortcut(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  const char* file = CheckName(L, 1);
  const char* target = CheckName(L, 2);
  const char* directory = CheckName(L, 3);
  return CreateShellLink(target, file, directory);
}

// GetShortcutPath(file): the shortcut's target and working directory.
int32_t GetShortcutPath(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  std::string target, directory;
  int32_t code = ResolveShellLink(CheckName(L, 1), &target, &directory);
  if (code != 0) return code;
  VmPushString(L, target.c_str());
  VmPushString(L, directory.c_str());
  return 2;
}

// ReadRegistryKey(root, path): the value named by the path's last part, as text or number.
int32_t ReadRegistryKey(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  int32_t root = VmCheckInt(L, 1);
  std::string path = CheckName(L, 2);
  std::string key, name;
  SplitRegistryPath(path, &key, &name);
  qvStoreValue value;
  if (ReadStoreValue(root, key, name, &value) != 0) {
    SetErrorString(path.c_str());
    return ERR_REGISTRYREAD;
  }
  switch (value.type) {
    case StoreType::kDword:
    case StoreType::kDwordBigEndian:
      VmPushNumber(L, static_cast<int32_t>(value.number));
      break;
    case StoreType::kText:
      VmPushLString(L, value.bytes.data(), value.bytes.size() - 1);
      break;
    case StoreType::kBinary:
      VmPushLString(L, value.bytes.data(), value.bytes.size());
      break;
  }
  return 1;
}

// WriteRegistryKey(root, path, value): writes a text, or a number rounded to 32 bits, creating the
// keys along the path.
int32_t WriteRegistryKey(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  int32_t root = VmCheckInt(L, 1);
  std::string path = CheckName(L, 2);
  std::string key, name;
  SplitRegistryPath(path, &key, &name);
  qvStoreValue value;
  if (VmType(L, 3) == kTypeNumber) {
    value.type = StoreType::kDword;
    value.number = static_cast<uint32_t>(RoundToInt(VmToNumber(L, 3)));
  } else if (VmType(L, 3) == kTypeString) {
    size_t len = VmStrLen(L, 3);
    std::string bytes(VmToString(L, 3), len);
    bytes += '\0';
    value = StoreBytesValue(bytes.data(), bytes.size());
  } else {
    return ERR_WRONGUSAGE;
  }
  if (WriteStoreValue(root, key, name, value) != 0) {
    SetErrorString(path.c_str());
    return ERR_REGISTRYWRITE;
  }
  return 0;
}

// SetClipboard(type, data): CLIPBOARD_TEXT with a text, CLIPBOARD_IMAGE with a brush.
int32_t SetClipboard(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  int32_t type = VmCheckInt(L, 1);
  if (type == kClipboardText) return WriteClipboardText(VmCheckString(L, 2));
  if (type == kClipboardPicture) return CopyBrushToClipboard(L, CheckObjectId(L, 2));
  return ERR_WRONGUSAGE;
}

// GetClipboard(): the clipboard's kind and, for text, the text; for a picture a new brush under
// an automatic id.
int32_t GetClipboard(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  int32_t type = ClipboardKind();
  if (type == kClipboardPicture) {
    qvObjectId id{0, nullptr};
    int32_t code = PasteClipboardBrush(&id, nullptr);
    if (code != 0) return code;
    VmPushNumber(L, type);
    VmPushLightUserdata(L, id.handle);
    return 2;
  }
  VmPushNumber(L, type);
  if (type != kClipboardText) return 1;
  std::string text;
  int32_t code = ReadClipboardText(&text);
  if (code != 0) return code;
  VmPushString(L, text.c_str());
  return 2;
}

// PeekClipboard(): the clipboard's kind.
int32_t PeekClipboard(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmPushNumber(L, ClipboardKind());
  return 1;
}

// ClearClipboard(): empties the clipboard.
int32_t ClearClipboard(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  return ClearClipboardData();
}

// SetTrayIcon(brush or -1[, tooltip]): the brush's picture becomes the tray icon; -1 removes the
// icon that was set.
int32_t SetTrayIcon(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  qvObjectId id = CheckObjectId(L, 1);
  size_t tipLength = 0;
  const char* tooltip = VmOptString(L, 2, "", &tipLength);
  if (tipLength > kTooltipLimit) return ERR_WRONGUSAGE;
  if (id.handle == nullptr && id.number == -1) return RemoveTrayIcon() ? 0 : ERR_WRONGUSAGE;
  return SetBrushTrayIcon(L, id, tooltip);
}

}  // namespace cmd

}  // namespace qv
