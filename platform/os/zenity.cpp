// Requesters shown by zenity, run without a shell: every text reaches it as one argument of its
// own, and message texts with markup off, so nothing in a title or body is ever interpreted.
// zenity prints the answer and exits 0; it exits 1 when cancelled (printing the label of an extra
// button when one was pressed); anything else, or a zenity that cannot run, is a cancel.
#include <dlfcn.h>
#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <set>

#include "platform/os/dialog_backends.h"
#include "platform/os/internal.h"
#include "platform/os/lazy_library.h"

namespace qv {

namespace {

// How often a refused text brings the entry back before the requester counts as cancelled.
constexpr int kMaxRetries = 20;

struct Run {
  int status = -1;
  std::string out;
};

Run RunZenity(const std::string& zenity, std::vector<std::string> args) {
  Run run;
  args.insert(args.begin(), zenity);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return run;
  int pid = 0;
  if (SpawnArgv(args, fds[1], &pid) != 0) {
    close(fds[0]);
    close(fds[1]);
    return run;
  }
  close(fds[1]);
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    run.out.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  run.status = WaitForProgram(pid);
  return run;
}

std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// "*.png;*.jpg" as a zenity filter: "Files | *.png *.jpg".
std::string ZenityFilter(const std::string& filter) {
  std::string patterns = filter;
  std::replace(patterns.begin(), patterns.end(), ';', ' ');
  return "Files | " + patterns;
}

// "rgb(255,128,0)", "rgba(255,128,0,1)" or "#ff8000" as 0xRRGGBB.
bool ParseZenityColor(const std::string& text, uint32_t* rgb) {
  if (!text.empty() && text[0] == '#' && text.size() == 7) return ParseColorText(text, rgb);
  size_t open = text.find('(');
  if (open == std::string::npos || text.compare(0, 3, "rgb") != 0) return false;
  uint32_t parts[3];
  size_t pos = open + 1;
  for (uint32_t& part : parts) {
    size_t digits = 0;
    uint32_t v = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
      v = v * 10 + static_cast<uint32_t>(text[pos++] - '0');
      ++digits;
    }
    if (digits == 0 || v > 255) return false;
    part = v;
    if (pos < text.size() && (text[pos] == ',' || text[pos] == ')')) ++pos;
  }
  *rgb = parts[0] << 16 | parts[1] << 8 | parts[2];
  return true;
}

// The fontconfig functions the font list calls: X(function).
#define QV_FONTCONFIG_FUNCTIONS(X) \
  X(FcFontList)                    \
  X(FcFontSetDestroy)              \
  X(FcInit)                        \
  X(FcObjectSetAdd)                \
  X(FcObjectSetCreate)             \
  X(FcObjectSetDestroy)            \
  X(FcPatternCreate)               \
  X(FcPatternDestroy)              \
  X(FcPatternGetString)

struct qvFontconfig {
// NOLINTNEXTLINE(bugprone-macro-parentheses): the argument names a member
#define QV_FONTCONFIG_MEMBER(name) decltype(&::name) name;
  QV_FONTCONFIG_FUNCTIONS(QV_FONTCONFIG_MEMBER)
#undef QV_FONTCONFIG_MEMBER
};

// Each function from the library; false when one is missing.
bool LoadFontconfigInto(qvFontconfig* functions) {
  void* library = dlopen("libfontconfig.so.1", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  bool all = true;
#define QV_FONTCONFIG_FIND(name) all = FindFunction(library, #name, &functions->name) && all;
  QV_FONTCONFIG_FUNCTIONS(QV_FONTCONFIG_FIND)
#undef QV_FONTCONFIG_FIND
  return all;
}

// fontconfig, with freetype and its other dependencies, is loaded for the first font list only:
// linked directly it would be loaded by every run. Null when the library or a function is missing.
constinit qvLazyTable<qvFontconfig> gFontconfig(nullptr);
const qvFontconfig* LoadFontconfig() {
  return gFontconfig.Load(LoadFontconfigInto) ? gFontconfig.Get() : nullptr;
}

// The font families that fontconfig knows, sorted, each once.
std::vector<std::string> FontFamilies() {
  std::set<std::string> names;
  const qvFontconfig* fc = LoadFontconfig();
  if (fc != nullptr && fc->FcInit()) {
    FcPattern* pattern = fc->FcPatternCreate();
    FcObjectSet* objects = fc->FcObjectSetCreate();
    if (objects != nullptr && !fc->FcObjectSetAdd(objects, FC_FAMILY)) {
      fc->FcObjectSetDestroy(objects);
      objects = nullptr;
    }
    FcFontSet* set = pattern && objects ? fc->FcFontList(nullptr, pattern, objects) : nullptr;
    for (int i = 0; set != nullptr && i < set->nfont; ++i) {
      FcChar8* family = nullptr;
      if (fc->FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &family) == FcResultMatch) {
        names.insert(reinterpret_cast<const char*>(family));
      }
    }
    if (set) fc->FcFontSetDestroy(set);
    if (objects) fc->FcObjectSetDestroy(objects);
    if (pattern) fc->FcPatternDestroy(pattern);
  }
  return {names.begin(), names.end()};
}

// A list with a hidden index column: the index chosen, or -1.
int ChooseFromList(const std::string& zenity, const std::string& title, const std::string& body,
                   const std::vector<std::string>& entries) {
  std::vector<std::string> args = {"--list",           "--title=" + title, "--text=" + body,
                                   "--column=Index",   "--column=Entry",   "--hide-column=1",
                                   "--print-column=1", "--hide-header"};
  // The rows follow "--", so that an entry beginning with "-" is a row and not an option.
  args.push_back("--");
  for (size_t i = 0; i < entries.size(); ++i) {
    args.push_back(std::to_string(i));
    args.push_back(entries[i]);
  }
  Run run = RunZenity(zenity, args);
  if (run.status != 0) return -1;
  std::string answer = WithoutLineEnd(run.out);
  if (answer.empty() || answer.size() > 9 ||
      answer.find_first_not_of("0123456789") != std::string::npos) {
    return -1;
  }
  int index = std::stoi(answer);
  return index < static_cast<int>(entries.size()) ? index : -1;
}

class Zenity : public RequesterBackend {
 public:
  explicit Zenity(std::string path) : zenity_(std::move(path)) {}
  const std::string& path() const { return zenity_; }

  bool Message(const qvMessageAsk& ask, int* pressed) override {
    size_t n = ask.buttons.size();
    const char* kind = ask.icon == 2            ? "--error"
                       : ask.icon == 3          ? "--warning"
                       : ask.icon == 4 || n > 1 ? "--question"
                                                : "--info";
    bool question = std::string(kind) == "--question";
    std::vector<std::string> args = {kind, "--no-markup", "--title=" + ask.title,
                                     "--text=" + ask.body};
    if (n > 0) args.push_back("--ok-label=" + ask.buttons[0]);
    size_t extrasEnd = n;
    if (question && n > 1) {
      args.push_back("--cancel-label=" + ask.buttons[n - 1]);
      extrasEnd = n - 1;
      if (ask.defaultButton == static_cast<int>(n)) args.push_back("--default-cancel");
    }
    for (size_t i = 1; i < extrasEnd; ++i) args.push_back("--extra-button=" + ask.buttons[i]);
    Run run = RunZenity(zenity_, args);
    if (run.status == 0) {
      *pressed = 1;
      return true;
    }
    if (run.status != 1) return false;
    std::string label = WithoutLineEnd(run.out);
    for (size_t i = 1; i < extrasEnd && !label.empty(); ++i) {
      if (ask.buttons[i] == label) {
        *pressed = static_cast<int>(i) + 1;
        return true;
      }
    }
    if (question && n > 1) {  // the cancel label, or the window closed
      *pressed = static_cast<int>(n);
      return true;
    }
    return false;
  }

  bool File(const qvFileAsk& ask, std::vector<std::string>* paths) override {
    std::vector<std::string> args = {"--file-selection", "--title=" + ask.title};
    if (ask.mode == FileAskMode::kOpenMultiple) {
      args.push_back("--multiple");
      args.push_back("--separator=\n");
    }
    if (ask.mode == FileAskMode::kSave) {
      args.push_back("--save");
      args.push_back("--confirm-overwrite");
    }
    std::string start = ask.directory;
    if (!start.empty() && start.back() != '/') start += '/';
    start += ask.file;
    if (!start.empty()) args.push_back("--filename=" + start);
    if (ask.filter != "*.*") args.push_back("--file-filter=" + ZenityFilter(ask.filter));
    args.push_back("--file-filter=All files | *");
    Run run = RunZenity(zenity_, args);
    if (run.status != 0) return false;
    paths->clear();
    size_t pos = 0;
    std::string out = WithoutLineEnd(run.out);
    while (pos <= out.size()) {
      size_t end = out.find('\n', pos);
      if (end == std::string::npos) end = out.size();
      if (end > pos) paths->push_back(out.substr(pos, end - pos));
      pos = end + 1;
    }
    if (paths->empty()) return false;
    if (ask.mode != FileAskMode::kOpenMultiple) paths->resize(1);
    return true;
  }

  bool Path(const qvPathAsk& ask, std::string* path) override {
    std::vector<std::string> args = {"--file-selection", "--directory", "--title=" + ask.title};
    if (!ask.initialPath.empty()) {
      std::string start = ask.initialPath;
      if (start.back() != '/') start += '/';
      args.push_back("--filename=" + start);
    }
    Run run = RunZenity(zenity_, args);
    *path = WithoutLineEnd(run.out);
    return run.status == 0 && !path->empty();
  }

  bool String(const qvStringAsk& ask, std::string* text) override {
    std::string offered = ask.text;
    for (int attempt = 0; attempt <= kMaxRetries; ++attempt) {
      std::vector<std::string> args = {"--entry", "--title=" + ask.title, "--text=" + ask.body,
                                       "--entry-text=" + offered};
      if (ask.password) args.push_back("--hide-text");
      Run run = RunZenity(zenity_, args);
      if (run.status != 0) return false;
      *text = WithoutLineEnd(run.out);
      if (ask.accept == nullptr || ask.accept(*text)) return true;
    }
    return false;
  }

  bool Font(const qvFontAsk& ask, qvFontAnswer* answer) override {
    std::vector<std::string> families = FontFamilies();
    if (families.empty()) return false;
    int index = ChooseFromList(zenity_, ask.title, "Font", families);
    if (index < 0) return false;
    std::vector<std::string> args = {
        "--entry", "--title=" + ask.title, "--text=Size",
        "--entry-text=" + std::to_string(ask.size > 0 ? ask.size : 12)};
    Run run = RunZenity(zenity_, args);
    std::string size = WithoutLineEnd(run.out);
    if (run.status != 0 || size.empty() || size.size() > 4 ||
        size.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    *answer = qvFontAnswer{families[static_cast<size_t>(index)], std::stoi(size), false, false};
    return true;
  }

  bool List(const qvListAsk& ask, int* index) override {
    *index = ChooseFromList(zenity_, ask.title, ask.body, ask.entries);
    return *index >= 0;
  }

  bool Color(const qvColorAsk& ask, uint32_t* rgb) override {
    std::vector<std::string> args = {"--color-selection", "--title=" + ask.title};
    if (ask.initial >= 0) {
      uint32_t c = static_cast<uint32_t>(ask.initial);
      args.push_back("--color=rgb(" + std::to_string(c >> 16 & 255) + "," +
                     std::to_string(c >> 8 & 255) + "," + std::to_string(c & 255) + ")");
    }
    Run run = RunZenity(zenity_, args);
    return run.status == 0 && ParseZenityColor(WithoutLineEnd(run.out), rgb);
  }

 private:
  std::string zenity_;
};

}  // namespace

RequesterBackend* ZenityRequesters(const std::string& zenityPath) {
  static std::unique_ptr<Zenity> zenity;
  if (!zenity || zenity->path() != zenityPath) zenity = std::make_unique<Zenity>(zenityPath);
  return zenity.get();
}

}  // namespace qv
