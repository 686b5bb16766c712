// The settings store: parsing and writing its text form, and the locked, renamed writes.
#include "platform/settings_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/errors.h"
#include "platform/os/internal.h"

namespace qv {

namespace {

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

const char kHex[] = "0123456789abcdef";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '=':
      case '[':
      case ']':
        out += '\\';
        out += ch;
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += ch;
        }
    }
  }
  return out;
}

// Undoes Escape over [begin, end); false for a bad escape.
bool Unescape(const char* begin, const char* end, std::string* out) {
  out->clear();
  for (const char* p = begin; p < end; ++p) {
    if (*p != '\\') {
      *out += *p;
      continue;
    }
    if (++p == end) return false;
    switch (*p) {
      case 'n':
        *out += '\n';
        break;
      case 'r':
        *out += '\r';
        break;
      case 't':
        *out += '\t';
        break;
      case 'x': {
        if (end - p < 3) return false;
        int hi = HexDigit(p[1]), lo = HexDigit(p[2]);
        if (hi < 0 || lo < 0) return false;
        *out += static_cast<char>(hi << 4 | lo);
        p += 2;
        break;
      }
      case '\\':
      case '=':
      case '[':
      case ']':
        *out += *p;
        break;
      default:
        return false;
    }
  }
  return true;
}

bool ParseHexBytes(const char* begin, const char* end, std::string* out) {
  if ((end - begin) % 2 != 0) return false;
  out->clear();
  out->reserve(static_cast<size_t>(end - begin) / 2);
  for (const char* p = begin; p < end; p += 2) {
    int hi = HexDigit(p[0]), lo = HexDigit(p[1]);
    if (hi < 0 || lo < 0) return false;
    *out += static_cast<char>(hi << 4 | lo);
  }
  return true;
}

bool ParseDword(const char* begin, const char* end, uint32_t* out) {
  if (end - begin != 8) return false;
  uint32_t v = 0;
  for (const char* p = begin; p < end; ++p) {
    int d = HexDigit(*p);
    if (d < 0) return false;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  *out = v;
  return true;
}

// One "name=type:payload" line into *entry (its key set by the caller).
bool ParseValueLine(const char* begin, const char* end, qvStoreEntry* entry) {
  const char* eq = begin;
  while (eq < end && *eq != '=') eq += *eq == '\\' && eq + 1 < end ? 2 : 1;
  if (eq >= end || !Unescape(begin, eq, &entry->name)) return false;
  const char* type = eq + 1;
  const char* colon = static_cast<const char*>(
      std::memchr(type, ':', static_cast<size_t>(end - type)));
  if (colon == nullptr) return false;
  std::string typeName(type, colon);
  const char* payload = colon + 1;
  qvStoreValue& v = entry->value;
  v = qvStoreValue{};
  if (typeName == "dword") {
    v.type = StoreType::kDword;
    return ParseDword(payload, end, &v.number);
  }
  if (typeName == "dword_be") {
    v.type = StoreType::kDwordBigEndian;
    return ParseDword(payload, end, &v.number);
  }
  if (typeName == "text") {
    v.type = StoreType::kText;
    if (!Unescape(payload, end, &v.bytes)) return false;
    v.bytes += '\0';
    return true;
  }
  if (typeName == "binary") {
    v.type = StoreType::kBinary;
    return ParseHexBytes(payload, end, &v.bytes);
  }
  return false;
}

std::string Home() {
  const char* home = std::getenv("HOME");
  return home != nullptr ? home : "";
}

std::string StoreDirectory() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base = config != nullptr && config[0] == '/' ? config : Home() + "/.config";
  return base + "/quillvane";
}

// Makes the folder and its parents (0700 for the ones made).
bool MakeDirectories(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    std::string part = path.substr(0, i);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The whole file: true with its bytes, true with "" when it does not exist, false when it cannot
// be read.
bool ReadWholeFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return false;
    }
    if (n == 0) break;
    bytes->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

size_t ValueSize(const qvStoreValue& v) {
  return v.type == StoreType::kDword || v.type == StoreType::kDwordBigEndian ? 4 : v.bytes.size();
}

}  // namespace

std::string NormalizeStoreKey(const std::string& key) {
  std::string out;
  for (char c : key) {
    if (c == '\\' || c == '/') {
      if (!out.empty() && out.back() != '/') out += '/';
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() == '/') out.pop_back();
  return out;
}

bool ParseStoreText(const char* data, size_t size, std::vector<qvStoreEntry>* out) {
  out->clear();
  const char* p = data;
  const char* end = data + size;
  bool haveKey = false;
  std::string key;
  while (p < end) {
    const char* eol = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* lineEnd = eol != nullptr ? eol : end;
    const char* next = eol != nullptr ? eol + 1 : end;
    if (lineEnd > p && lineEnd[-1] == '\r') --lineEnd;
    if (lineEnd == p || *p == ';' || *p == '#') {
      p = next;
      continue;
    }
    if (*p == '[') {
      if (lineEnd[-1] != ']' || lineEnd - p < 2) return false;
      std::string raw;
      if (!Unescape(p + 1, lineEnd - 1, &raw)) return false;
      key = NormalizeStoreKey(raw);
      haveKey = true;
    } else {
      if (!haveKey) return false;
      qvStoreEntry entry;
      entry.key = key;
      if (!ParseValueLine(p, lineEnd, &entry)) return false;
      out->push_back(std::move(entry));
    }
    p = next;
  }
  return true;
}

std::string FormatStoreText(const std::vector<qvStoreEntry>& entries) {
  std::string text;
  std::vector<bool> done(entries.size(), false);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (done[i]) continue;
    if (!text.empty()) text += '\n';
    text += '[';
    text += Escape(entries[i].key);
    text += "]\n";
    for (size_t j = i; j < entries.size(); ++j) {
      if (done[j] || !SameName(entries[j].key, entries[i].key)) continue;
      done[j] = true;
      const qvStoreValue& v = entries[j].value;
      text += Escape(entries[j].name) + "=";
      char number[16];
      switch (v.type) {
        case StoreType::kDword:
        case StoreType::kDwordBigEndian:
          std::snprintf(number, sizeof number, "%08x", v.number);
          text += v.type == StoreType::kDword ? "dword:" : "dword_be:";
          text += number;
          break;
        case StoreType::kText: {
          std::string body = v.bytes;
          if (!body.empty() && body.back() == '\0') body.pop_back();
          text += "text:" + Escape(body);
          break;
        }
        case StoreType::kBinary:
          text += "binary:";
          for (char c : v.bytes) {
            text += kHex[static_cast<unsigned char>(c) >> 4];
            text += kHex[static_cast<unsigned char>(c) & 15];
          }
          break;
      }
      text += '\n';
    }
  }
  return text;
}

qvStoreValue StoreBytesValue(const char* data, size_t length) {
  qvStoreValue v;
  v.bytes.assign(data, length);
  v.type = length > 0 && std::strlen(data) + 1 == length ? StoreType::kText : StoreType::kBinary;
  return v;
}

std::string StoreFilePath(int32_t root) {
  static const char* const kRoots[] = {"classes_root", "current_config", "local_machine", "users"};
  const char* name = root >= 0 && root < 4 ? kRoots[root] : "current_user";
  return StoreDirectory() + "/" + name + ".ini";
}

int32_t ReadStoreValue(int32_t root, const std::string& key, const std::string& name,
                       qvStoreValue* out) {
  std::string bytes;
  std::vector<qvStoreEntry> entries;
  if (!ReadWholeFile(StoreFilePath(root), &bytes) ||
      !ParseStoreText(bytes.data(), bytes.size(), &entries)) {
    return ERR_REGISTRYREAD;
  }
  std::string k = NormalizeStoreKey(key);
  for (const qvStoreEntry& e : entries) {
    if (!SameName(e.key, k) || !SameName(e.name, name)) continue;
    if (ValueSize(e.value) > kStoreValueLimit) return ERR_REGISTRYREAD;
    *out = e.value;
    return 0;
  }
  return ERR_REGISTRYREAD;
}

bool RemoveAbandonedStoreFiles() {
  std::string dir = StoreDirectory();
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return true;
  std::vector<std::string> abandoned;
  while (const dirent* e = readdir(d)) {
    // "<file>.new<pid>", as WriteStoreValue names the file it writes before the rename.
    const char* mark = std::strstr(e->d_name, ".new");
    if (mark == nullptr || mark == e->d_name) continue;
    const char* digits = mark + 4;
    while (const char* again = std::strstr(digits, ".new")) digits = again + 4;
    long long pid = 0;
    const char* p = digits;
    while (*p >= '0' && *p <= '9' && pid < (1LL << 31)) pid = pid * 10 + (*p++ - '0');
    if (p == digits || *p != '\0' || pid <= 0 || pid >= (1LL << 31)) continue;
    if (pid == getpid() || kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
    abandoned.push_back(dir + "/" + e->d_name);
  }
  closedir(d);
  bool removedAll = true;
  for (const std::string& path : abandoned) {
    // Only plain files of this user; a link is never followed.
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) continue;
    removedAll &= unlink(path.c_str()) == 0 || errno == ENOENT;
  }
  return removedAll;
}

int32_t WriteStoreValue(int32_t root, const std::string& key, const std::string& name,
                        const qvStoreValue& value) {
  if (ValueSize(value) > kStoreValueLimit) return ERR_REGISTRYWRITE;
  std::string dir = StoreDirectory();
  if (!MakeDirectories(dir)) return ERR_REGISTRYWRITE;
  std::string path = StoreFilePath(root);
  int lock = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) return ERR_REGISTRYWRITE;
  while (flock(lock, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(lock);
      return ERR_REGISTRYWRITE;
    }
  }
  int32_t code = ERR_REGISTRYWRITE;
  std::string bytes;
  std::vector<qvStoreEntry> entries;
  if (ReadWholeFile(path, &bytes) && ParseStoreText(bytes.data(), bytes.size(), &entries)) {
    std::string k = NormalizeStoreKey(key);
    bool replaced = false;
    for (qvStoreEntry& e : entries) {
      if (SameName(e.key, k) && SameName(e.name, name)) {
        e.value = value;
        replaced = true;
        break;
      }
    }
    if (!replaced) entries.push_back(qvStoreEntry{k, name, value});
    std::string temp = path + ".new" + std::to_string(getpid());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
      bool ok = WriteAll(fd, FormatStoreText(entries));
      ok = close(fd) == 0 && ok;
      if (ok && rename(temp.c_str(), path.c_str()) == 0) {
        code = 0;
      } else {
        unlink(temp.c_str());
      }
    }
  }
  flock(lock, LOCK_UN);
  close(lock);
  return code;
}

}  // namespace qv
