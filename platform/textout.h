// Text output and the debug device: where the player's text goes (standard output, a file or a
// host program) and the console's input lines.
#pragma once

namespace qv {

// Writes the text to standard output, to the "::file" device's file (flushed at once) or into
// the "::hwnd" device's shared block (at most 2047 bytes and a zero) for the host to read. Any
// thread.
void OutputText(const char* text);
// "::hwnd<n>": the host n gets all output; "::file<path>": the file gets it; else standard output.
void ParseOutputArgument(const char* device);
// One line of standard input (fgets); 0 at the end of input.
int ReadConsoleLine(char* buffer, int size);

}  // namespace qv
