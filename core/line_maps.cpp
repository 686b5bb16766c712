#include "core/line_maps.h"

#include <cstdint>

#include "base/support.h"

namespace qv {

namespace {
// Line numbers come from the applet: arithmetic on them is done wide and refused when the
// result is no line number.
int32_t ToLine(int64_t line) { return line < 0 || line > INT32_MAX ? -1 : int32_t(line); }
}  // namespace

const qvLineMap* FindLineMap(std::span<const qvLineMap> maps, const char* source, int32_t line) {
  if (!source || source[0] == '?') source = "";
  for (const qvLineMap& map : maps) {
    if (map.sourceName == source && map.firstLine <= line && line <= map.lastLine) return &map;
  }
  return nullptr;
}

int32_t AppletSourceLine(std::span<const qvLineMap> maps, const char* source, int32_t line) {
  if (line < 0) return -1;
  const qvLineMap* map = FindLineMap(maps, source, line);
  if (!map) return -1;
  return ToLine(int64_t(map->baseLine) - map->firstLine + line + 1);
}

int32_t ScriptSourceLine(std::span<const qvLineMap> maps, const char* scriptName, int32_t line,
                         int32_t beginLine) {
  if (line < 0) return -1;
  int64_t result = int64_t(line) - beginLine + 1;
  for (const qvLineMap& map : maps) {
    if (StrCaseCmp(map.fileName.c_str(), scriptName) == 0) {
      result += int64_t(map.lastLine) - map.firstLine;
    }
  }
  return ToLine(result);
}

}  // namespace qv
