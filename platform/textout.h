// Text output and the debug device: where the player's text goes (standard output, a file or a
// host program) and the console's input lines.
#pragma once

namespace qv {

// Where OutputText writes.
enum class TextTarget {
  kStandardOutput,
  kFile,  // "::file<path>": the file, flushed after every text
  kHost,  // "::hwnd<n>": host program n, through a shared block
};

// Writes the text (null is ignored) to the present target; a host gets at most 2047 bytes of it.
// A host that went away loses the text. A file that cannot take the text loses it too, and the
// first such failure is said on standard error with the reason (see DebugDeviceFailed). When
// standard output's reader has gone, the text is dropped and the user's quit is requested, as for
// a signal (see QuitRequested). Any thread.
void OutputText(const char* text);
// Chooses the target from a device argument and returns the target in effect afterwards:
// "::hwnd<n>" the host n, "::file<path>" the file; either falls back to standard output when the
// host does not answer or the file cannot be made, and a file that cannot be made is said on
// standard error with the reason. Other arguments (null too) change nothing. Any thread.
TextTarget ParseOutputArgument(const char* device);
// True when the "::file" device chosen last could not be made or failed to take a text; the
// failure was said on standard error, where the caller's final report belongs too. Any thread.
bool DebugDeviceFailed();
// Writes the text (null is ignored) to standard error once everything written to standard output
// so far is out, so that a reader of both through one pipe sees them in the order they were made.
// Any thread.
void WriteErrorText(const char* text);
// One line of standard input with its line end (a longer line comes in pieces of size - 1 bytes):
// true, or false at the end of input or for a size below 2. Any thread.
bool ReadConsoleLine(char* buffer, int size);

}  // namespace qv
