// GoogleTest helpers around the assembler, for test code only.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tools/qvasm/qvasm.h"

namespace qv::qvasm {

// The example program of the text form's design note: a closure over R0, a numeric loop and a
// GOSUB; it returns 20. Several suites use it.
inline constexpr char kExampleProgram[] = R"(.function main
  .source "@t.qvs"
  .line 1
  LOADCONST R0, 0
  CLOSURE   R1, inc [R0]
  LOADCONST R2, 0            ; index = start 1 - step 1
  LOADCONST R3, 10
  LOADCONST R4, 1
  JUMP      @test
body:
  .line 2
  MOVE      R5, R1
  CALL      R5, nargs=0, nres=0
  GOSUB     @bump
test:
  FORLOOP   R2, @body
  RETURN    R0, n=1
bump:
  ADD       R0, R0, 1
  RETSUB
  .function inc
    .upvalue "n"
    GETUPVAL R0, U0
    ADD      R0, R0, 1
    SETUPVAL R0, U0
    RETURN   R0, n=0
  .end
.end
)";

// Assembles `text`; every diagnostic becomes a test failure naming the line and its text.
inline Result AssembleOrFail(std::string_view text, const Options& options = {}) {
  Result r = Assemble(text, options);
  for (const Diag& d : r.diags) {
    std::string_view lineText;
    size_t start = 0;
    for (int n = 1; n < d.line && start != std::string_view::npos; ++n) {
      start = text.find('\n', start);
      if (start != std::string_view::npos) ++start;
    }
    if (d.line > 0 && start != std::string_view::npos)
      lineText = text.substr(start, text.find('\n', start) - start);
    ADD_FAILURE() << "qvasm line " << d.line << ": " << d.message << "\n    " << lineText;
  }
  return r;
}

// The assembler text of a script in the notation; a line it cannot read becomes a test failure
// (and the text is empty).
inline std::string TranslateOrFail(std::string_view script, const ScriptOptions& options = {}) {
  ScriptText t = TranslateScript(script, options);
  for (const Diag& d : t.diags) ADD_FAILURE() << "script line " << d.line << ": " << d.message;
  return t.text;
}

// The options of tests written before the notation printed codes by name.
inline constexpr ScriptOptions kNumberedErrors{.errorNames = false};

}  // namespace qv::qvasm
