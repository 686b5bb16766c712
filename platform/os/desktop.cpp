// The user's desktop: memory, folders, xdg-open, .desktop shortcuts, environment variables and
// the country of the locale.
#include "platform/desktop.h"

#include <sys/utsname.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <mutex>
#include <new>
#include <sstream>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "platform/os/internal.h"

namespace qv {

namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v == '/' ? std::string(v) : fallback;
}

std::string Home() {
  const char* home = std::getenv("HOME");
  return home != nullptr ? home : "";
}

std::string ConfigHome() { return EnvOr("XDG_CONFIG_HOME", Home() + "/.config"); }

// One directory of user-dirs.dirs: XDG_<NAME>_DIR="$HOME/Music" (only "$HOME/..." or an absolute
// path, as the file is written). "" when the file does not name it.
std::string UserDir(const char* name) {
  std::ifstream in(ConfigHome() + "/user-dirs.dirs");
  std::string key = std::string("XDG_") + name + "_DIR=";
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value.compare(0, 5, "$HOME") == 0) value = Home() + value.substr(5);
    if (!value.empty() && value[0] == '/') return value;
  }
  return "";
}

// Desktop entry values quote with backslashes: "\s", "\n", "\t", "\r", "\\".
std::string EscapeEntryValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string UnescapeEntryValue(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
  }
  return out;
}

// An Exec argument in double quotes, with the characters that must be escaped there escaped.
std::string QuoteExecArgument(const std::string& arg) {
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The first argument of an Exec value (after the value's own escapes are undone).
std::string FirstExecArgument(const std::string& exec) {
  std::string arg;
  size_t i = 0;
  while (i < exec.size() && exec[i] == ' ') ++i;
  if (i < exec.size() && exec[i] == '"') {
    for (++i; i < exec.size() && exec[i] != '"'; ++i) {
      if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
      arg += exec[i];
    }
    return arg;
  }
  while (i < exec.size() && exec[i] != ' ') arg += exec[i++];
  return arg;
}

bool ValidEnvName(const char* name) {
  return name != nullptr && *name != '\0' && std::strchr(name, '=') == nullptr;
}

}  // namespace

std::string GetMachineName() {
  struct utsname name {};
  return uname(&name) == 0 ? name.machine : "";
}

uint64_t GetAvailableMemory() {
  std::ifstream in("/proc/meminfo");
  std::string line;
  while (std::getline(in, line)) {
    unsigned long long kb = 0;
    if (std::sscanf(line.c_str(), "MemAvailable: %llu kB", &kb) == 1) return kb * 1024ULL;
  }
  return 0;
}

std::string GetSpecialFolder(int32_t folder) {
  auto user = [](const char* name, const std::string& fallback) {
    std::string dir = UserDir(name);
    return dir.empty() ? fallback : dir;
  };
  switch (folder) {
    case kFolderDesktop:
      return user("DESKTOP", Home() + "/Desktop");
    case kFolderDocuments:
      return user("DOCUMENTS", Home());
    case kFolderMusic:
      return user("MUSIC", Home());
    case kFolderVideos:
      return user("VIDEOS", Home());
    case kFolderPictures:
      return user("PICTURES", Home());
    case kFolderAppData:
      return ConfigHome();
    case kFolderLocalAppData:
      return EnvOr("XDG_DATA_HOME", Home() + "/.local/share");
    case kFolderSystem:
      return "/usr/share";
    case kFolderPrograms:
      return "/usr/local";
    default:
      return "";
  }
}

int32_t OpenUrlShell(const char* url) {
  int pid = 0;
  if (SpawnArgv({"xdg-open", url != nullptr ? url : ""}, -1, &pid) != 0) {
    SetErrorString("xdg-open");
    return ERR_FILEEXIST;
  }
  CollectInBackground(pid);
  return 0;
}

int32_t CreateShellLink(const char* target, const char* linkFile, const char* directory) {
  if (target == nullptr || linkFile == nullptr || *linkFile == '\0') return ERR_CREATESHORTCUT;
  std::string name = linkFile;
  size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0)
    name.resize(name.size() - 8);
  std::string text = "[Desktop Entry]\nType=Application\n";
  text += "Name=" + EscapeEntryValue(name) + "\n";
  text += "Exec=" + EscapeEntryValue(QuoteExecArgument(target)) + "\n";
  if (directory != nullptr && *directory != '\0')
    text += "Path=" + EscapeEntryValue(directory) + "\n";
  FILE* f = std::fopen(linkFile, "we");
  if (f == nullptr) return ERR_CREATESHORTCUT;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  return ok ? 0 : ERR_CREATESHORTCUT;
}

int32_t ResolveShellLink(const char* linkFile, std::string* target, std::string* directory) {
  target->clear();
  directory->clear();
  std::ifstream in(linkFile != nullptr ? linkFile : "");
  if (!in) return ERR_GETSHORTCUT;
  std::string line;
  bool inEntry = false, haveExec = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntry) continue;
    if (line.compare(0, 5, "Exec=") == 0) {
      *target = FirstExecArgument(UnescapeEntryValue(line.substr(5)));
      haveExec = true;
    } else if (line.compare(0, 5, "Path=") == 0) {
      *directory = UnescapeEntryValue(line.substr(5));
    }
  }
  return haveExec ? 0 : ERR_GETSHORTCUT;
}

bool GetEnvVar(const char* name, std::string* value) {
  const char* v = name != nullptr ? std::getenv(name) : nullptr;
  if (v == nullptr) return false;
  *value = v;
  return true;
}

int32_t SetEnvVar(const char* name, const char* value) {
  if (!ValidEnvName(name) || setenv(name, value != nullptr ? value : "", 1) != 0) return ERR_SETENV;
  return 0;
}

int32_t UnsetEnvVar(const char* name) {
  if (!ValidEnvName(name) || unsetenv(name) != 0) return ERR_UNSETENV;
  return 0;
}

int GetSystemCountryCode() {
  const char* locale = nullptr;
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != '\0') {
      locale = v;
      break;
    }
  }
  if (locale == nullptr) return kCountryUnknown;
  // "ll_TT[.codeset][@modifier]": the territory after the "_".
  const char* under = std::strchr(locale, '_');
  if (under == nullptr || under[1] == '\0' || under[2] == '\0') return kCountryUnknown;
  const char territory[3] = {static_cast<char>(ToUpperChar(static_cast<unsigned char>(under[1]))),
                             static_cast<char>(ToUpperChar(static_cast<unsigned char>(under[2]))),
                             0};
  if (under[3] != '\0' && under[3] != '.' && under[3] != '@') return kCountryUnknown;
  // Territories by their two-letter code, with the three-letter code the COUNTRY_ numbers were
  // first given by. Greece is GRC: the three-letter code of the older table, "GRE", is no ISO code
  // and matched no locale.
  static const struct {
    char alpha2[3];
    char alpha3[4];
    int code;
  } kTable[] = {
      {"AD", "AND", 36}, {"AU", "AUS", 2},  {"AT", "AUT", 34}, {"BE", "BEL", 3},  {"BG", "BGR", 4},
      {"BR", "BRA", 5},  {"CA", "CAN", 6},  {"CH", "CHE", 29}, {"CZ", "CZE", 7},  {"DK", "DNK", 8},
      {"DE", "DEU", 9},  {"ES", "ESP", 10}, {"FI", "FIN", 30}, {"FR", "FRA", 11}, {"GB", "GBR", 0},
      {"GR", "GRC", 12}, {"IT", "ITA", 13}, {"IE", "IRL", 33}, {"IS", "ISL", 35}, {"LI", "LIE", 14},
      {"LT", "LTU", 15}, {"LU", "LUX", 16}, {"HU", "HUN", 17}, {"MT", "MLT", 18}, {"MC", "MCO", 19},
      {"NL", "NLD", 20}, {"NO", "NOR", 21}, {"PL", "POL", 22}, {"PT", "PRT", 23}, {"RO", "ROU", 24},
      {"RU", "RUS", 25}, {"SM", "SMR", 26}, {"SE", "SWE", 31}, {"SK", "SVK", 27}, {"SI", "SVN", 28},
      {"TR", "TUR", 32}, {"UA", "UKR", 37}, {"US", "USA", 1},
  };
  for (const auto& row : kTable) {
    if (territory[0] == row.alpha2[0] && territory[1] == row.alpha2[1]) return row.code;
  }
  return kCountryUnknown;
}

namespace {

struct TrayIcon {
  std::mutex mutex;
  bool set = false;
  std::vector<uint32_t> pixels;
  int32_t width = 0, height = 0;
  std::string tooltip;
};
TrayIcon gTray;

}  // namespace

int32_t SetTrayIconPicture(const uint32_t* argb, int32_t width, int32_t height,
                           const char* tooltip) {
  if (width < 1 || height < 1) return ERR_MEM;
  std::lock_guard<std::mutex> lock(gTray.mutex);
  try {
    gTray.pixels.assign(argb, argb + size_t(width) * size_t(height));
    gTray.tooltip = tooltip;
  } catch (const std::bad_alloc&) {
    gTray.set = false;
    return ERR_MEM;
  }
  gTray.width = width;
  gTray.height = height;
  gTray.set = true;
  return 0;
}

bool RemoveTrayIcon() {
  std::lock_guard<std::mutex> lock(gTray.mutex);
  bool was = gTray.set;
  gTray.set = false;
  gTray.pixels.clear();
  gTray.pixels.shrink_to_fit();
  gTray.tooltip.clear();
  return was;
}

bool GetTrayIcon(int32_t* width, int32_t* height, std::string* tooltip) {
  std::lock_guard<std::mutex> lock(gTray.mutex);
  if (!gTray.set) return false;
  if (width) *width = gTray.width;
  if (height) *height = gTray.height;
  if (tooltip) *tooltip = gTray.tooltip;
  return true;
}

}  // namespace qv
