// The requester commands: thin bindings over the front ends of core/requesters.h. The file and
// path requesters remember their last result, where the next call starts when it names no place.
#include <cmath>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/args.h"
#include "core/requesters.h"
#include "display/display.h"
#include "libs/system/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// Where the last file and path requesters ended.
std::string gLastFileDirectory;
std::string gLastFileName;
std::string gLastPath;

// The directory part and the file part of a full path (split at the last "/" or "\").
void SplitPath(const std::string& path, std::string* directory, std::string* file) {
  size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) {
    directory->clear();
    *file = path;
  } else {
    *directory = path.substr(0, slash);
    *file = path.substr(slash + 1);
  }
}

bool Given(qvScriptState* L, int index) { return VmType(L, index) > kTypeNil; }

// Marks the current display's requester open for the requester's time, and redraws the display
// afterwards (also when a push raises).
class DisplayRequesterScope {
 public:
  explicit DisplayRequesterScope(qvScriptState* L) : L_(L), display_(BeginDisplayRequester()) {}
  ~DisplayRequesterScope() { EndDisplayRequester(L_, display_); }
  DisplayRequesterScope(const DisplayRequesterScope&) = delete;
  DisplayRequesterScope& operator=(const DisplayRequesterScope&) = delete;

 private:
  qvScriptState* L_;
  qvDisplay* display_;
};

}  // namespace

namespace cmd {

// SystemRequest(title, text, buttons[, icon]): the number of the button chosen: 1, 2, ... in
// order, 0 for the last one and for a requester closed without a button.
int32_t SystemRequest(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  const char* title = VmCheckString(L, 1);
  const char* body = VmCheckString(L, 2);
  const char* buttons = VmCheckString(L, 3);
  int32_t icon = VmOptInt(L, 4, 0);
  int32_t answer = 0;
  DisplayRequesterScope requester(L);
  int32_t code = MessageRequest(title, body, buttons, 0, 1, icon, &answer);
  if (code != 0) return code;
  VmPushNumber(L, answer);
  return 1;
}

// FileRequest(title, pattern[, mode, path, file]): the chosen file's full path ("" when
// cancelled); with REQ_MULTISELECT a table of full paths from index 0 closed by "". Without a
// path and a file the requester opens where the last one ended.
int32_t FileRequest(qvScriptState* L) {
  CheckArgCount(L, 2, 5);
  const char* title = VmCheckString(L, 1);
  const char* pattern = VmCheckString(L, 2);
  int32_t mode = VmOptInt(L, 3, kFileOpen);
  std::string directory = Given(L, 4) ? CheckName(L, 4) : "";
  std::string file = Given(L, 5) ? CheckName(L, 5) : "";
  if (mode != kFileOpen && mode != kFileOpenMultiple && mode != kFileSave) return 0;
  if (directory.empty() && file.empty()) {
    directory = gLastFileDirectory;
    file = gLastFileName;
  }
  std::vector<std::string> paths;
  DisplayRequesterScope requester(L);
  int32_t code = qv::FileRequest(title, pattern, mode, directory.c_str(), file.c_str(), &paths);
  if (code != 0) return code;
  if (!paths.empty()) SplitPath(paths.front(), &gLastFileDirectory, &gLastFileName);
  if (mode != kFileOpenMultiple) {
    VmPushString(L, paths.empty() ? "" : paths.front().c_str());
    return 1;
  }
  VmNewTable(L);
  int n = 0;
  for (const std::string& p : paths) {
    VmPushString(L, p.c_str());
    VmRawSetI(L, -2, n++);
  }
  VmPushString(L, "");
  VmRawSetI(L, -2, n);
  return 1;
}

// PathRequest(title[, mode, path]): the chosen directory ("" when cancelled). Without a path the
// requester starts at the last one chosen.
int32_t PathRequest(qvScriptState* L) {
  CheckArgCount(L, 1, 3);
  const char* title = VmCheckString(L, 1);
  int32_t mode = VmOptInt(L, 2, 0);
  if (mode != 0 && mode != 2) return ERR_WRONGUSAGE;
  std::string initial = Given(L, 3) ? CheckName(L, 3) : gLastPath;
  std::string path;
  DisplayRequesterScope requester(L);
  int32_t code = qv::PathRequest(title, initial.c_str(), &path);
  if (code != 0) return code;
  if (!path.empty()) gLastPath = path;
  VmPushString(L, path.c_str());
  return 1;
}

// StringRequest(title, text[, default, type, maximum, password]): the text entered and 1, or ""
// and 0 when cancelled. Only the types 0 (any text) and 3 (numbers) with a maximum of at most
// 1024 characters, and for numbers a default that is one, show a requester; others give nothing.
int32_t StringRequest(qvScriptState* L) {
  CheckArgCount(L, 2, 6);
  const char* title = VmCheckString(L, 1);
  const char* body = VmCheckString(L, 2);
  std::string text = VmOptString(L, 3, "");
  int32_t kind = VmOptInt(L, 4, kStringText);
  int32_t maximum = VmOptInt(L, 5, 0);
  bool password = VmOptInt(L, 6, 0) != 0;
  if ((kind != kStringText && kind != kStringNumber) || maximum < 0 || maximum > kStringLimit) {
    return 0;
  }
  if (maximum > 0 && text.size() > static_cast<size_t>(maximum)) text.resize(maximum);
  if (kind == kStringNumber && !IsNumberInput(text)) return 0;
  std::string out;
  DisplayRequesterScope requester(L);
  int32_t code = qv::StringRequest(title, body, text.c_str(), kind, maximum, password, &out);
  if (code != 0 && code != ERR_USERABORT) return code;
  VmPushString(L, out.c_str());
  VmPushNumber(L, code == 0 ? 1 : 0);
  return 2;
}

// FontRequest(title[, font name, size]): a table of the font chosen ("name" is the family with
// its style words); the fields are empty and 0 when cancelled.
int32_t FontRequest(qvScriptState* L) {
  CheckArgCount(L, 1, 3);
  const char* title = VmCheckString(L, 1);
  const char* face = VmOptString(L, 2, "");
  int32_t size = VmOptInt(L, 3, 0);
  qvFontChoice font;
  bool chosen = false;
  DisplayRequesterScope requester(L);
  int32_t code = qv::FontRequest(title, face, size, &font, &chosen);
  if (code != 0) return code;
  VmNewTable(L);
  SetFieldString(L, "name", chosen ? FontDisplayName(font).c_str() : "");
  SetFieldString(L, "family", font.face.c_str());
  SetFieldInt(L, "size", font.size);
  SetFieldInt(L, "weight", font.weight);
  SetFieldInt(L, "slant", font.slant);
  SetFieldInt(L, "underline", font.underline);
  SetFieldInt(L, "strikeout", font.strikeout);
  SetFieldInt(L, "bold", font.bold);
  SetFieldInt(L, "italic", font.italic);
  SetFieldNumber(L, "color", font.color);
  return 1;
}

// ListRequest(title, text, choices[, default]): the index of the entry chosen from the 0-based
// table of texts, -1 when cancelled.
int32_t ListRequest(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  const char* title = VmCheckString(L, 1);
  const char* body = VmCheckString(L, 2);
  VmCheckTable(L, 3);
  int32_t initial = VmOptInt(L, 4, -1);
  std::vector<std::string> entries;
  for (int i = 0;; ++i) {
    VmRawGetI(L, 3, i);
    if (VmType(L, -1) <= kTypeNil) {
      VmSetTop(L, -2);
      break;
    }
    const char* s = VmIsString(L, -1) ? VmToString(L, -1) : nullptr;
    if (s == nullptr) {
      VmSetTop(L, -2);
      return ERR_WRONGUSAGE;
    }
    entries.emplace_back(s, VmStrLen(L, -1));
    VmSetTop(L, -2);
  }
  if (entries.empty()) return ERR_WRONGUSAGE;
  int32_t index = -1;
  DisplayRequesterScope requester(L);
  int32_t code = qv::ListRequest(title, body, entries, initial, &index);
  if (code != 0) return code;
  VmPushNumber(L, index);
  return 1;
}

// ColorRequest(title[, colour]): the colour chosen as 0xRRGGBB, -1 when cancelled.
int32_t ColorRequest(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  const char* title = VmCheckString(L, 1);
  double initial = VmOptNumber(L, 2, -1);
  uint32_t rgb = 0;
  bool chosen = false;
  // Bits above the colour's 24 are dropped; a negative colour (or NaN) is none.
  int64_t start = !(initial >= 0)
                      ? -1
                      : static_cast<int64_t>(std::fmin(initial, 4294967295.0)) & 0xFFFFFF;
  DisplayRequesterScope requester(L);
  int32_t code = qv::ColorRequest(title, start, &rgb, &chosen);
  if (code != 0) return code;
  VmPushNumber(L, chosen ? static_cast<double>(rgb) : -1.0);
  return 1;
}

}  // namespace cmd

}  // namespace qv
