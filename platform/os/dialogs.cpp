// Requesters: the choice of backend for each call, the log of requesters, the modal flag, and
// the scripted and headless backends.
#include "platform/dialogs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/os/dialog_backends.h"
#include "platform/os/internal.h"
#include "platform/textout.h"

namespace qv {

namespace {

std::atomic<int> gModalDepth{0};

// RAII for the modal flag around one requester.
struct ModalScope {
  ModalScope() { EnterModal(); }
  ~ModalScope() { LeaveModal(); }
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;
};

const char* NonEmptyEnv(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? v : nullptr;
}

// The executable `name` in a directory of PATH, or "".
std::string FindOnPath(const char* name) {
  const char* path = NonEmptyEnv("PATH");
  if (path == nullptr) return "";
  std::string dirs = path;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = end > start ? dirs.substr(start, end - start) : std::string(".");
    candidate.append("/").append(name);
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return "";
}

bool HaveDisplay() {
  return NonEmptyEnv("DISPLAY") != nullptr || NonEmptyEnv("WAYLAND_DISPLAY") != nullptr;
}

// The backend for a requester, by the environment now. Message requesters may use SDL's box.
RequesterBackend* ChooseBackend() {
  if (const char* script = NonEmptyEnv("QUILLVANE_REQUESTER_SCRIPT")) {
    return ScriptedRequesters(script);
  }
  if (HaveDisplay()) {
    std::string zenity = FindOnPath("zenity");
    if (!zenity.empty()) return ZenityRequesters(zenity);
  }
  return nullptr;
}

// ---- the log ----

// Texts of the log stay on one line and apart from the tabs that separate them.
std::string LogText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += separator;
    out += parts[i];
  }
  return out;
}

void Log(std::initializer_list<std::string> fields) {
  const char* path = NonEmptyEnv("QUILLVANE_REQUESTER_LOG");
  if (path == nullptr) return;
  std::string line;
  for (const std::string& f : fields) {
    if (!line.empty()) line += '\t';
    line += LogText(f);
  }
  line += '\n';
  static std::mutex logMutex;
  std::lock_guard<std::mutex> lock(logMutex);
  if (FILE* f = std::fopen(path, "ae")) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  }
}

// ---- scripted ----

class Scripted : public RequesterBackend {
 public:
  explicit Scripted(std::string path) : path_(std::move(path)) {
    file_ = std::fopen(path_.c_str(), "re");
  }
  ~Scripted() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  const std::string& path() const { return path_; }

  bool Message(const qvMessageAsk& ask, int* pressed) override {
    std::string line;
    if (!Next(&line)) return false;
    int n = 0;
    if (!ParseIndex(line, &n) || n < 1 || n > static_cast<int>(ask.buttons.size())) return false;
    *pressed = n;
    return true;
  }
  bool File(const qvFileAsk& ask, std::vector<std::string>* paths) override {
    std::string line;
    if (!Next(&line)) return false;
    paths->clear();
    size_t start = 0;
    while (start <= line.size()) {
      size_t end = line.find('\t', start);
      if (end == std::string::npos) end = line.size();
      if (end > start) paths->push_back(line.substr(start, end - start));
      start = end + 1;
    }
    if (paths->empty()) return false;
    if (ask.mode != FileAskMode::kOpenMultiple) paths->resize(1);
    return true;
  }
  bool Path(const qvPathAsk&, std::string* path) override { return Next(path); }
  bool String(const qvStringAsk& ask, std::string* text) override {
    while (Next(text)) {
      if (ask.accept == nullptr || ask.accept(*text)) return true;
    }
    return false;
  }
  bool Font(const qvFontAsk&, qvFontAnswer* answer) override {
    std::string line;
    if (!Next(&line)) return false;
    std::vector<std::string> f;
    size_t start = 0;
    while (start <= line.size()) {
      size_t end = line.find('\t', start);
      if (end == std::string::npos) end = line.size();
      f.push_back(line.substr(start, end - start));
      start = end + 1;
    }
    int size = 0, bold = 0, italic = 0;
    if (f.size() != 4 || f[0].empty() || !ParseIndex(f[1], &size) || !ParseIndex(f[2], &bold) ||
        !ParseIndex(f[3], &italic) || bold > 1 || italic > 1) {
      return false;
    }
    *answer = qvFontAnswer{f[0], size, bold == 1, italic == 1};
    return true;
  }
  bool List(const qvListAsk& ask, int* index) override {
    std::string line;
    int n = 0;
    if (!Next(&line) || !ParseIndex(line, &n) || n >= static_cast<int>(ask.entries.size())) {
      return false;
    }
    *index = n;
    return true;
  }
  bool Color(const qvColorAsk&, uint32_t* rgb) override {
    std::string line;
    return Next(&line) && ParseColorText(line, rgb);
  }

 private:
  // The next line without its line end: false for "!cancel" and at the end of the file.
  bool Next(std::string* line) {
    line->clear();
    if (file_ == nullptr) return false;
    int c;
    bool any = false;
    while ((c = std::fgetc(file_)) != EOF) {
      any = true;
      if (c == '\n') break;
      *line += static_cast<char>(c);
    }
    if (!any) return false;
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return *line != "!cancel";
  }
  // A whole decimal number from 0 up.
  static bool ParseIndex(const std::string& text, int* out) {
    if (text.empty() || text.size() > 9) return false;
    int n = 0;
    for (char c : text) {
      if (c < '0' || c > '9') return false;
      n = n * 10 + (c - '0');
    }
    *out = n;
    return true;
  }

  std::string path_;
  FILE* file_ = nullptr;
};

// ---- headless ----

class Headless : public RequesterBackend {
 public:
  bool Message(const qvMessageAsk& ask, int*) override { return Say(ask.title, ask.body); }
  bool File(const qvFileAsk& ask, std::vector<std::string>*) override { return Say(ask.title, ""); }
  bool Path(const qvPathAsk& ask, std::string*) override { return Say(ask.title, ""); }
  bool String(const qvStringAsk& ask, std::string*) override { return Say(ask.title, ask.body); }
  bool Font(const qvFontAsk& ask, qvFontAnswer*) override { return Say(ask.title, ""); }
  bool List(const qvListAsk& ask, int*) override { return Say(ask.title, ask.body); }
  bool Color(const qvColorAsk& ask, uint32_t*) override { return Say(ask.title, ""); }

 private:
  // Nobody could answer: the text goes where a person may read it, and the requester is
  // cancelled at once rather than waiting for ever.
  static bool Say(const std::string& title, const std::string& body) {
    std::string text = "Requester \"" + title + "\"";
    if (!body.empty()) text += ": " + body;
    text += " (no display: cancelled)\n";
    WriteErrorText(text.c_str());
    return false;
  }
};

std::mutex gBackendMutex;

struct MessageBoxCall {
  const qvMessageAsk* ask;
  int* pressed;
};
int ShowMessageBoxOnMain(void* arg) {
  auto* call = static_cast<MessageBoxCall*>(arg);
  return ShowSdlMessageBox(*call->ask, call->pressed) ? 1 : 0;
}

template <typename Fn>
bool WithBackend(Fn fn) {
  ModalScope modal;
  std::lock_guard<std::mutex> lock(gBackendMutex);
  RequesterBackend* backend = ChooseBackend();
  if (backend == nullptr) backend = HeadlessRequesters();
  return fn(backend);
}

}  // namespace

std::string ColorText(uint32_t rgb) {
  char text[8];
  std::snprintf(text, sizeof text, "%06X", rgb & 0xFFFFFF);
  return text;
}

bool ParseColorText(const std::string& text, uint32_t* rgb) {
  size_t start = !text.empty() && text[0] == '#' ? 1 : 0;
  if (text.size() - start != 6) return false;
  uint32_t v = 0;
  for (size_t i = start; i < text.size(); ++i) {
    char c = text[i];
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
    if (d < 0) return false;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  *rgb = v;
  return true;
}

RequesterBackend* ScriptedRequesters(const std::string& scriptPath) {
  // One open script at a time: naming another file starts that one from its first line.
  static std::unique_ptr<Scripted> scripted;
  if (!scripted || scripted->path() != scriptPath)
    scripted = std::make_unique<Scripted>(scriptPath);
  return scripted.get();
}

RequesterBackend* HeadlessRequesters() {
  static Headless headless;
  return &headless;
}

int ModalDepth() { return gModalDepth.load(); }
void EnterModal() { gModalDepth.fetch_add(1); }
void LeaveModal() { gModalDepth.fetch_sub(1); }

bool AskMessage(const qvMessageAsk& ask, int* pressed) {
  Log({"message", ask.title, ask.body, Joined(ask.buttons, "|")});
  return WithBackend([&](RequesterBackend* b) {
    // SDL's box stands in for zenity, for messages only; SDL wants it on the main thread, which
    // stops pumping the windows' events while the box is up.
    if (b == HeadlessRequesters() && SdlVideoRunning()) {
      MessageBoxCall call{&ask, pressed};
      return RunOnMainThread(ShowMessageBoxOnMain, &call) != 0;
    }
    return b->Message(ask, pressed);
  });
}

bool AskFile(const qvFileAsk& ask, std::vector<std::string>* paths) {
  Log({"file", ask.title, ask.filter, std::to_string(static_cast<int>(ask.mode)), ask.directory,
       ask.file});
  return WithBackend([&](RequesterBackend* b) { return b->File(ask, paths); });
}

bool AskPath(const qvPathAsk& ask, std::string* path) {
  Log({"path", ask.title, ask.initialPath});
  return WithBackend([&](RequesterBackend* b) { return b->Path(ask, path); });
}

bool AskString(const qvStringAsk& ask, std::string* text) {
  Log({"string", ask.title, ask.body, ask.text, std::to_string(ask.kind),
       std::to_string(ask.maximum), ask.password ? "1" : "0"});
  return WithBackend([&](RequesterBackend* b) { return b->String(ask, text); });
}

bool AskFont(const qvFontAsk& ask, qvFontAnswer* answer) {
  Log({"font", ask.title, ask.face, std::to_string(ask.size)});
  return WithBackend([&](RequesterBackend* b) { return b->Font(ask, answer); });
}

bool AskList(const qvListAsk& ask, int* index) {
  Log({"list", ask.title, ask.body, Joined(ask.entries, "|"), std::to_string(ask.initial)});
  return WithBackend([&](RequesterBackend* b) { return b->List(ask, index); });
}

bool AskColor(const qvColorAsk& ask, uint32_t* rgb) {
  Log({"color", ask.title,
       ask.initial < 0 ? std::string("-1") : ColorText(static_cast<uint32_t>(ask.initial))});
  return WithBackend([&](RequesterBackend* b) { return b->Color(ask, rgb); });
}

}  // namespace qv
