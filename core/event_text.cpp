// The texts that events carry, read without trusting them: dropped-file lists and the messages
// that other players send to the script's port. No dependencies, so fuzz targets build it alone.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/events.h"

namespace qv {

void* MakeDropList(const std::vector<std::string>& names) {
  size_t bytes = 1;  // the empty name at the end
  for (const std::string& name : names) bytes += std::strlen(name.c_str()) + 1;
  if (bytes > UINT32_MAX - sizeof(uint32_t)) return nullptr;
  auto* block = static_cast<char*>(std::malloc(sizeof(uint32_t) + bytes));
  if (block == nullptr) return nullptr;
  uint32_t count = static_cast<uint32_t>(bytes);
  std::memcpy(block, &count, sizeof count);
  char* p = block + sizeof count;
  for (const std::string& name : names) {
    size_t n = std::strlen(name.c_str());  // a name ends at its first zero byte
    std::memcpy(p, name.c_str(), n + 1);
    p += n + 1;
  }
  *p = '\0';
  return block;
}

std::vector<std::string_view> ReadDropList(const char* names, size_t size) {
  std::vector<std::string_view> out;
  size_t at = 0;
  while (at < size && names[at] != '\0') {
    const void* end = std::memchr(names + at, '\0', size - at);
    size_t n = end ? static_cast<size_t>(static_cast<const char*>(end) - (names + at)) : size - at;
    out.emplace_back(names + at, n);
    at += n + 1;
  }
  return out;
}

void SplitUserMessage(std::string_view text, qvUserMessageParts* out) {
  *out = qvUserMessageParts{};
  size_t blank = text.find(' ');
  if (blank == std::string_view::npos) {
    out->command = text;
    return;
  }
  out->command = text.substr(0, blank);
  out->rawargs = text.substr(blank + 1);
  out->argc = 1;
  out->args.reserve(out->rawargs.size());
  bool quoted = false;
  for (char c : out->rawargs) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ' ' && !quoted) {
      out->args.push_back('\0');
      ++out->argc;
    } else {
      out->args.push_back(c);
    }
  }
}

std::string_view PortMessageText(const char* block, size_t size) {
  const void* nameEnd = std::memchr(block, '\0', size);
  if (nameEnd == nullptr) return {};
  const char* text = static_cast<const char*>(nameEnd) + 1;
  size_t rest = size - static_cast<size_t>(text - block);
  const void* textEnd = std::memchr(text, '\0', rest);
  return {text, textEnd ? static_cast<size_t>(static_cast<const char*>(textEnd) - text) : rest};
}

}  // namespace qv
