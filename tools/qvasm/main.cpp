// qvasm command line:
//   qvasm IN.qvasm -o OUT.qvb                       a raw chunk
//   qvasm --disasm IN.qvb [-o OUT.qvasm]            text of a chunk (standard output without -o)
//   qvasm --applet IN.qvasm -o OUT.qva              an applet
//         [--compress]                              ... in the compressed container
//         [--link-into PLAYER]                      ... appended to a copy of PLAYER (OUT is it)
//   qvasm --script IN.qvs [-o OUT.qvasm]            the assembler text of a script in the notation
// An input named *.qvs is read in the script notation (qvasm.h, TranslateScript), any other in the
// assembler's text form.
// Diagnostics go to standard error as "IN:LINE: message"; the exit status is 1 on any error.
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/qvasm/qvasm.h"

namespace {

constexpr char kUsage[] =
    "usage: qvasm IN.qvasm -o OUT.qvb\n"
    "       qvasm --disasm IN.qvb [-o OUT.qvasm]\n"
    "       qvasm --applet IN.qvasm -o OUT.qva [--compress] [--link-into PLAYER]\n"
    "       qvasm --script IN.qvs [-o OUT.qvasm]\n"
    "IN.qvs (the script notation) may stand for IN.qvasm.\n";

int Fail(const std::string& message) {
  std::cerr << "qvasm: " << message << "\n";
  return 1;
}

bool Read(const std::string& path, std::vector<uint8_t>* data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool Write(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  std::string input, output, player;
  bool disasm = false, applet = false, compress = false, script = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "-o" && hasValue) {
      output = argv[++i];
    } else if (arg == "--link-into" && hasValue) {
      player = argv[++i];
    } else if (arg == "--disasm") {
      disasm = true;
    } else if (arg == "--applet") {
      applet = true;
    } else if (arg == "--script") {
      script = true;
    } else if (arg == "--compress") {
      compress = true;
    } else if (arg.empty() || arg[0] == '-' || !input.empty()) {
      std::cerr << kUsage;
      return 1;
    } else {
      input = arg;
    }
  }
  if (input.empty() || int(disasm) + int(applet) + int(script) > 1 ||
      ((compress || !player.empty()) && !applet) || (output.empty() && !disasm && !script)) {
    std::cerr << kUsage;
    return 1;
  }

  std::vector<uint8_t> in;
  if (!Read(input, &in)) return Fail("cannot read " + input);

  if (disasm) {
    std::string text = qvasm::Disassemble(in);
    if (output.empty()) {
      std::cout << text;
      return std::cout.good() ? 0 : 1;
    }
    return Write(output, text.data(), text.size()) ? 0 : Fail("cannot write " + output);
  }

  std::string_view text(reinterpret_cast<const char*>(in.data()), in.size());
  qvasm::ScriptText translated;
  bool notation = script || std::filesystem::path(input).extension() == ".qvs";
  if (notation) {
    translated = qvasm::TranslateScript(text);
    for (const auto& d : translated.diags)
      std::cerr << input << ":" << d.line << ": " << d.message << "\n";
    if (!translated.ok()) return 1;
    text = translated.text;
  }
  if (script) {
    if (output.empty()) {
      std::cout << text;
      return std::cout.good() ? 0 : 1;
    }
    return Write(output, text.data(), text.size()) ? 0 : Fail("cannot write " + output);
  }

  qvasm::Options options;
  options.baseDir = std::filesystem::path(input).parent_path().string();
  qvasm::Result r = applet ? qvasm::AssembleApplet(text, options) : qvasm::Assemble(text, options);
  // A script's lines name the assembler text it was turned into (qvasm --script shows it).
  const char* where = notation ? " (assembler text)" : "";
  for (const auto& d : r.diags)
    std::cerr << input << where << ":" << d.line << ": " << d.message << "\n";
  if (!r.ok()) return 1;

  std::vector<uint8_t> bytes = std::move(r.bytes);
  if (compress) bytes = qvasm::CompressApplet(bytes);
  if (compress && bytes.empty()) return Fail("compression failed");
  if (!player.empty()) {
    std::vector<uint8_t> exe;
    if (!Read(player, &exe)) return Fail("cannot read " + player);
    std::string error;
    bytes = qvasm::LinkInto(exe, bytes, &error);
    if (bytes.empty()) return Fail(player + ": " + error);
  }
  if (!Write(output, bytes.data(), bytes.size())) return Fail("cannot write " + output);
  if (!player.empty() && chmod(output.c_str(), 0755) != 0)
    return Fail("cannot make " + output + " executable");
  return 0;
}
