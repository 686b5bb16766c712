// qvasm: the test-side assembler. It turns a readable text form into bytecode chunks, applets,
// compressed applets and applets appended to a copy of the player, and turns chunks back into
// text; a front end turns the script notation (TranslateScript) into that text. Test tooling
// only: the player never links it.
//
// It checks field widths, labels, names and constant reach, nothing else, so that tests can
// write chunks the loader and the verifier must refuse. The text form is the one of the design
// note qvasm.md; the extensions over it are listed at `Assemble`.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv::qvasm {

// One row per opcode, transcribed on its own so that a test can compare it with the VM's mode
// table. Mode bits: 0-1 format (0 A B C, 1 A Bx, 2 A sBx, 3 jump), 2 B is a register, 3 B may
// be a constant, 4 C may be a constant, 5 sets R(A), 6 Bx indexes the constants, 7 a test.
struct OpcodeInfo {
  const char* name;
  uint8_t number;
  uint8_t mode;
};
inline constexpr int kOpcodeCount = 43;
extern const std::array<OpcodeInfo, kOpcodeCount> kOpcodes;

struct Options {
  // Directory that relative `.link` paths are taken from (empty: the current directory).
  std::string baseDir;
};

struct Diag {
  int line;  // 1-based line of the text; 0 for the text as a whole
  std::string message;
};

struct Result {
  std::vector<uint8_t> bytes;  // empty when there are diagnostics
  std::vector<Diag> diags;
  // Code labels: the main function's by name, a nested function's as "<function>.<label>"
  // (for example "inc.again" or "outer.inner.top"), each the index of its instruction.
  std::map<std::string, int> labels;
  // `.export` entries of the main function in order: name and instruction index.
  std::vector<std::pair<std::string, int>> exports;
  bool ok() const { return diags.empty(); }
};

// Assembles a raw chunk. Beyond the documented text form it accepts:
//   - `.local` bounds as plain (even negative) instruction indexes as well as `@label`;
//   - `none` for a local's or an upvalue's name (written as an absent string);
//   - `vararg=N` for a raw vararg byte; `.upvalues N` together with `.upvalue` names, so the
//     name count can differ from the upvalue count;
//   - `CLOSURE Ra, <index>`: a raw nested-function index, emitted without upvalue list or check;
//   - several `.lines raw` lines, appended in order.
// `.truncate N` keeps the first N bytes of the chunk; `.append` takes hex digits (spaces allowed).
// Applet directives (`.header`, `.userconst`, `.link`, and `.linemap FIRST LAST BASE "file"
// ["source"]`, which AssembleApplet writes as tag 8, or as tag 27 with the source name) are
// checked here and used by AssembleApplet.
Result Assemble(std::string_view text, const Options& options = {});

// Round-trippable text of a chunk: assembling it gives the same bytes (a NaN constant with a
// payload other than the default one and a nested source name equal to its parent's are the
// exceptions). A defective chunk gives the text up to the defect and a comment naming it.
std::string Disassemble(std::span<const uint8_t> chunk);

// Assembles an applet container: "QVA\0", version 5.2, header strings, exported labels, user
// constants, linked files and the chunk last. Linked files are read from disk.
Result AssembleApplet(std::string_view text, const Options& options = {});

// The compressed container: "QVZ\0", four zero bytes, then one zlib stream of the applet.
std::vector<uint8_t> CompressApplet(std::span<const uint8_t> applet);

// A copy of the player executable with the applet appended and the link descriptor (found by
// its marker bytes) pointing at it. Empty with `error` set when the player has no single
// unlinked descriptor.
std::vector<uint8_t> LinkInto(std::span<const uint8_t> player, std::span<const uint8_t> applet,
                              std::string* error);

// The script notation: tests written the way the script reads, one statement a line, turned into
// the assembler's text form (which it only adds to: any assembler text stays as it is). Files
// named *.qvs are read in it by the command line.
//
//   x = OpenFile(Nil, "a.bin", 1006)   ; a global
//   do WriteInt(x, -2)                 ; a call whose results are dropped
//   ReadInt(x)                         ; prints the line as written, then every result
//   for i = 1, 3 ... end               ; numeric loop;  for v in Expr ... end: generic loop
//   break                              ; leaves the innermost loop
//   function cb(msg) ... return Expr end   ; a function, used as @cb
//   .link "name" "path"                ; an assembler directive (a line that starts with "."),
//                                      ; placed before the program
//
// A line that is not a statement is an expression whose text and results are printed through
// DebugPrint ("ReadInt(x) 7"). Expressions: numbers, "strings" (the assembler's escapes), Nil,
// names (parameters, loop variables, else globals), name.field, name[expr], Name(args) (commands
// are globals, looked up in lower case), @function and table constructors {expr, key = expr,
// [expr] = expr} (positional items from index 0). `;` outside a string starts a comment. Every
// program installs an error handler, so a failing command prints "error ERR_NAME Command" and the
// script goes on (a code without a built-in name prints as its number).
struct ScriptOptions {
  // False prints a failed command's code as a number ("error 1055 Command").
  bool errorNames = true;
};

struct ScriptText {
  std::string text;         // the assembler text; empty when there are diagnostics
  std::vector<Diag> diags;  // lines of the notation
  bool ok() const { return diags.empty(); }
};

ScriptText TranslateScript(std::string_view script, const ScriptOptions& options = {});

}  // namespace qv::qvasm

// Tests outside namespace qv write qvasm::Assemble as well.
namespace qvasm = qv::qvasm;
