// The runtime's text output.
#pragma once

namespace qv {

// Writes the text to the runtime's text output (standard output).
void OutputText(const char* text);

}  // namespace qv
