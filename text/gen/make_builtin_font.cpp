// Turns the built-in font's drawing (text/builtin_font.txt) into the glyph strip and the location
// words the player compiles in: "char <code>" or "substitute", then 8 rows of 8 cells ("#" set,
// "." clear); ";" begins a comment line. Codes 32-126 and 160-255 each have a cell of their own,
// in code order, and the substitute glyph the last of the 192; codes 127-159 and every code
// outside the font share the substitute's cell. Any other drawing is refused, so that a mistake
// in the file stops the build.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

namespace {

constexpr int kCells = 192;
constexpr int kLowest = 32;
constexpr int kHighest = 255;
constexpr int kSubstitute = -1;

bool HasCell(int code) { return (code >= 32 && code <= 126) || (code >= 160 && code <= 255); }
int CellOf(int code) {
  if (code >= 32 && code <= 126) return code - 32;
  if (code >= 160 && code <= 255) return 95 + code - 160;
  return kCells - 1;
}

int Fail(const std::string& message, int line) {
  std::cerr << "builtin_font.txt:" << line << ": " << message << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_builtin_font <drawing> <output>\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) return Fail("cannot be read", 0);
  std::map<int, uint8_t[8]> glyphs;
  std::string text;
  int lineNumber = 0;
  int current = 0;
  int row = 8;
  bool open = false;
  while (std::getline(in, text)) {
    ++lineNumber;
    if (text.empty() || text[0] == ';') continue;
    if (row < 8) {
      if (text.size() != 8) return Fail("a row has 8 cells", lineNumber);
      uint8_t bits = 0;
      for (int x = 0; x < 8; ++x) {
        if (text[x] == '#') {
          bits |= static_cast<uint8_t>(0x80 >> x);
        } else if (text[x] != '.') {
          return Fail("a cell is '#' or '.'", lineNumber);
        }
      }
      glyphs[current][row++] = bits;
      continue;
    }
    if (text == "substitute") {
      current = kSubstitute;
    } else if (text.rfind("char ", 0) == 0) {
      current = std::stoi(text.substr(5));
      if (!HasCell(current)) return Fail("no cell for this code", lineNumber);
    } else {
      return Fail("expected \"char <code>\" or \"substitute\"", lineNumber);
    }
    if (glyphs.count(current) != 0) return Fail("drawn twice", lineNumber);
    glyphs[current][0] = 0;
    row = 0;
    open = true;
  }
  if (open && row < 8) return Fail("the last glyph has fewer than 8 rows", lineNumber);
  if (glyphs.size() != kCells)
    return Fail("192 glyphs are drawn, not " + std::to_string(glyphs.size()), lineNumber);

  uint8_t strip[8][kCells] = {};
  for (const auto& [code, rows] : glyphs) {
    int cell = code == kSubstitute ? kCells - 1 : CellOf(code);
    for (int y = 0; y < 8; ++y) strip[y][cell] = rows[y];
  }
  std::FILE* out = std::fopen(argv[2], "w");
  if (out == nullptr) return Fail("the output cannot be written", 0);
  std::fprintf(out, "// Made by make_builtin_font from builtin_font.txt; not to be edited.\n");
  std::fprintf(out, "constexpr int32_t kBuiltinRowBytes = %d;\n", kCells);
  std::fprintf(out, "constexpr uint8_t kBuiltinGlyphs[8 * %d] = {\n", kCells);
  for (int y = 0; y < 8; ++y) {
    for (int c = 0; c < kCells; ++c)
      std::fprintf(out, "%s0x%02X,", c % 16 == 0 ? "\n  " : " ", strip[y][c]);
  }
  std::fprintf(out, "\n};\n");
  const int count = kHighest - kLowest + 2;
  std::fprintf(out, "constexpr uint32_t kBuiltinLocations[%d] = {\n", count);
  for (int i = 0; i < count; ++i) {
    int code = kLowest + i;
    int cell = i == count - 1 ? kCells - 1 : CellOf(code);
    std::fprintf(out, "%s0x%08Xu,", i % 8 == 0 ? "\n  " : " ",
                 static_cast<unsigned>((cell * 8) << 16 | 8));
  }
  std::fprintf(out, "\n};\n");
  return std::fclose(out) == 0 ? 0 : 1;
}
