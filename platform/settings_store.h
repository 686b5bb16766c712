// The settings store: typed values under keys and roots, kept as one INI-style text file per root
// in $XDG_CONFIG_HOME/quillvane/ (~/.config/quillvane/ by default). Scripts know it as the
// registry. A write locks the root's file, writes a new copy beside it and renames that into
// place, so a reader sees the old file or the new one, never half of one.
//
// The file, one value per line under its key:
//   [Software/Quillvane/Demo]
//   Count=dword:0000002a
//   Order=dword_be:0000002a
//   Title=text:Hello\n world
//   Blob=binary:48656c6c6f
// Key and value names compare without regard to ASCII case; "\" and "/" both separate key parts.
// Texts escape "\", line ends, tabs, "=", "[", "]" and other control bytes (\xHH).
//
// Any thread; writes of several threads or processes to one root are serialised by the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

enum class StoreType : int32_t {
  kDword = 1,           // a 32-bit number
  kDwordBigEndian = 2,  // a 32-bit number kept in big-endian byte order; reads as the same number
  kText = 3,            // bytes ending in one zero byte
  kBinary = 4,          // any bytes
};

struct qvStoreValue {
  StoreType type = StoreType::kBinary;
  uint32_t number = 0;  // the dword kinds
  std::string bytes;    // the text (with its zero byte) and binary kinds
};

// The largest value the store hands out or takes, in bytes.
inline constexpr size_t kStoreValueLimit = 65536;

// Roots: 0 classes, 1 current configuration, 2 local machine, 3 users; any other number the
// current user.
// Reads a value: 0, or ERR_REGISTRYREAD when the file, the key or the value is missing, the file
// is not a store, or the value is longer than kStoreValueLimit (it is never cut).
int32_t ReadStoreValue(int32_t root, const std::string& key, const std::string& name,
                       qvStoreValue* out);
// Writes (adds or replaces) a value, creating the folder, the file and the key as needed: 0, or
// ERR_REGISTRYWRITE when the folder or file cannot be written, the file present is not a store
// (it is left alone), or the value is longer than kStoreValueLimit.
int32_t WriteStoreValue(int32_t root, const std::string& key, const std::string& name,
                        const qvStoreValue& value);
// A value for data of `length` bytes the way the registry takes it: text when the length is the
// text's length + 1 (its zero byte), else binary.
qvStoreValue StoreBytesValue(const char* data, size_t length);
// The file of a root.
std::string StoreFilePath(int32_t root);

// The text form, for the store itself and its tests.
struct qvStoreEntry {
  std::string key;  // parts joined by "/", without a "/" at either end
  std::string name;
  qvStoreValue value;
};
// False for text that is not a store (a line that is no section, value, comment or blank; a value
// outside a section; an unknown type; a bad number or hexadecimal text). Never reads past `size`.
bool ParseStoreText(const char* data, size_t size, std::vector<qvStoreEntry>* out);
// The text of the entries, grouped by key in the order keys first appear.
std::string FormatStoreText(const std::vector<qvStoreEntry>& entries);
// "a\\b//c/" gives "a/b/c".
std::string NormalizeStoreKey(const std::string& key);

}  // namespace qv
