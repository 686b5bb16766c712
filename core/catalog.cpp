// Locale catalogs in IFF and plain text form.
#include "core/catalog.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/vfile.h"

namespace qv {

// Names in UTF-8; octal escapes where a hex escape would take the next letter as a digit.
const qvCatalogLanguage kCatalogLanguages[kLanguageCount] = {
    {"english", "english"},
    {"deutsch", "german"},
    {"nederlands", "dutch"},
    {"italiano", "italian"},
    {"fran\303\247ais", "french"},
    {"espa\xC3\xB1ol", "spanish"},
    {"portugu\xC3\xAAs", "portuguese"},
    {"svenska", "swedish"},
    {"dansk", "danish"},
    {"suomi", "finnish"},
    {"norsk", "norwegian"},
    {"polski", "polish"},
    {"magyar", "hungarian"},
    {"greek", "greek"},
    {"\304\214e\xC5\xA1tina", "czech"},
    {"t\xC3\xBCrk\303\247e", "turkish"},
    {"hrvatski", "croatian"},
    {"\xD1\x80\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9", "russian"},
};

struct qvCatalog {
  bool iff = false;
  std::unordered_map<uint32_t, std::string> strings;  // IFF form, first entry of an id wins
  std::vector<char> text;                             // text form, converted, zero-terminated
  std::vector<size_t> lines;                          // text form: where text id n begins
};

namespace {

// Catalogs are lists of short texts; anything larger is not one.
constexpr size_t kMaxCatalogSize = 64u << 20;
// An IFF catalog is at least this large; a shorter file is read as text.
constexpr size_t kMinIffSize = 101;

uint32_t BigEndian32(const unsigned char* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

bool ParseIff(const unsigned char* data, size_t size, qvCatalog* cat) {
  if (std::memcmp(data + 8, "CTLGFVER", 8) != 0) return false;
  size_t strs = 0;
  for (size_t i = 16; i + 4 <= size; i += 2) {
    if (std::memcmp(data + i, "STRS", 4) == 0) {
      strs = i;
      break;
    }
  }
  if (strs == 0) return false;
  cat->iff = true;
  // Entries follow the chunk's name and size. The walk ends at an id of 0xFFFFFFFF or where an
  // entry would run past the data; the texts of later ids are then not in the catalog.
  for (uint64_t at = uint64_t(strs) + 8; at + 8 <= size;) {
    uint32_t id = BigEndian32(data + at);
    uint64_t length = BigEndian32(data + at + 4);
    if (id == 0xFFFFFFFFu || length > size - (at + 8)) break;
    const char* text = reinterpret_cast<const char*>(data + at + 8);
    size_t n = 0;
    while (n < length && text[n]) ++n;
    cat->strings.try_emplace(id, text, n);
    at += 8 + ((length + 3) & ~uint64_t(3));
  }
  return true;
}

void ParseText(const unsigned char* data, size_t size, qvCatalog* cat) {
  std::vector<char>& out = cat->text;
  out.reserve(size + 1);
  for (size_t i = 0; i < size;) {
    char c = char(data[i++]);
    if (c == '\r') {
      out.push_back(0);
      if (i < size && data[i] == '\n') ++i;
    } else if (c == '\n') {
      out.push_back(0);
    } else if (c == '\\' && i < size && data[i] != '\r' && data[i] != '\n') {
      char e = char(data[i++]);
      out.push_back(e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : '\\');
    } else {
      out.push_back(c);
    }
  }
  size_t length = out.size();
  out.push_back(0);
  // Text n begins after the n-th line end, and only inside the converted text.
  if (length > 0) cat->lines.push_back(0);
  for (size_t k = 0; k + 1 < length; ++k) {
    if (out[k] == 0) cat->lines.push_back(k + 1);
  }
}

}  // namespace

qvCatalog* ParseCatalog(const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  try {
    auto cat = std::make_unique<qvCatalog>();
    if (size >= kMinIffSize && std::memcmp(bytes, "FORM", 4) == 0) {
      if (!ParseIff(bytes, size, cat.get())) return nullptr;
    } else {
      ParseText(bytes, size, cat.get());
    }
    return cat.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

qvCatalog* OpenCatalogFile(const char* name, int languageCode) {
  if (languageCode <= 0 || languageCode >= kLanguageCount) return nullptr;
  const qvCatalogLanguage& lang = kCatalogLanguages[languageCode];
  const std::string bases[] = {"", "PROGDIR:"};
  for (const std::string& base : bases) {
    for (const char* dir : {lang.english, lang.native}) {
      std::string path = base + "Catalogs/" + dir + "/" + name;
      qvFile* file = OpenFileQ(path.c_str(), kFileRead);
      if (!file) continue;
      qvCatalog* cat = nullptr;
      if (file->length >= 0 && uint64_t(file->length) <= kMaxCatalogSize) {
        std::vector<unsigned char> bytes;
        try {
          bytes.resize(size_t(file->length));
          bytes.resize(ReadFileQ(file, bytes.data(), bytes.size()));
          cat = ParseCatalog(bytes.data(), bytes.size());
        } catch (const std::bad_alloc&) {
        }
      }
      CloseFileQ(file);
      return cat;
    }
  }
  return nullptr;
}

const char* LookupCatalogString(const qvCatalog* catalog, int32_t id, const char* fallback) {
  if (!catalog) return fallback;
  if (catalog->iff) {
    auto it = catalog->strings.find(uint32_t(id));
    return it != catalog->strings.end() ? it->second.c_str() : fallback;
  }
  if (id < 0 || size_t(id) >= catalog->lines.size()) return fallback;
  return catalog->text.data() + catalog->lines[size_t(id)];
}

void FreeWithBuffer(qvCatalog* catalog) { delete catalog; }

namespace {
qvCatalog* g_playerCatalog = nullptr;
}

void SetPlayerCatalog(qvCatalog* catalog) { g_playerCatalog = catalog; }
qvCatalog* GetPlayerCatalog() { return g_playerCatalog; }

}  // namespace qv
