// Line maps of the applet settings (container tags 8 and 27) turn chunk lines back into lines of
// the source files the applet was made from.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qv {

// Maps lines of the compiled applet back to the source files it was made from.
struct qvLineMap {
  int32_t firstLine = 0;
  int32_t lastLine = 0;
  int32_t baseLine = 0;
  std::string fileName;
  std::string sourceName;
};

// The map of chunk source `source` whose lines enclose `line`; an empty source, or one beginning
// with "?", looks for maps with an empty source name. Null when none does.
const qvLineMap* FindLineMap(std::span<const qvLineMap> maps, const char* source, int32_t line);
// The line in the source file while an applet's chunk runs: base - first + line + 1 through the
// map of `source` that encloses `line`; -1 when there is none or the line is unknown (-1).
int32_t AppletSourceLine(std::span<const qvLineMap> maps, const char* source, int32_t line);
// The line in a script file: line - beginLine + 1, plus last - first of every map whose file name
// equals `scriptName` without regard to case; -1 when the line is unknown.
int32_t ScriptSourceLine(std::span<const qvLineMap> maps, const char* scriptName, int32_t line,
                         int32_t beginLine);

}  // namespace qv
