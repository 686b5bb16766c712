// GoogleTest helpers around the assembler, for test code only.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tools/qvasm/qvasm.h"

namespace qv::qvasm {

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

}  // namespace qv::qvasm
